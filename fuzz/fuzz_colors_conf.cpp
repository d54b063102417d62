// colors.conf from arbitrary text: loading never crashes, every colour ends
// up inside 0..1, and what is saved reads back to the same file.
#include "theme/theme-runtime.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data), size);
    theme_runtime_load_from_text(text.c_str());
    theme_runtime_apply_dark_mode(size % 2);
    for (int t = 0; t < THEME_TOKEN_COUNT; ++t) {
        theme_color c;
        if (!theme_get_color(t, &c) || c.red < 0 || c.red > 1 || c.green < 0 || c.green > 1 || c.blue < 0 || c.blue > 1)
            abort();
    }
    const std::string saved = theme_runtime_save_text();
    theme_runtime_load_from_text(saved.c_str());
    if (theme_runtime_save_text() != saved)
        abort();
    return 0;
}
