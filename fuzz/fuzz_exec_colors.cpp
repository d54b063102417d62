// The /EXEC colour converter on arbitrary child output: no escape byte or
// carriage return survives, the result stays near the input's size, and
// every colour code it writes names a colour that exists.
#include "commands/outbound-exec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace
{

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Checks the colour codes the converter wrote (the input held none).
void check_codes(const std::string &out)
{
    for (std::size_t i = 0; i < out.size(); i++) {
        if (out[i] != '\x03')
            continue;
        std::size_t j = i + 1;
        int fg = 0, digits = 0;
        while (j < out.size() && digits < 2 && is_digit(out[j])) {
            fg = fg * 10 + (out[j] - '0');
            j++;
            digits++;
        }
        if (digits == 0 || (fg > 15 && fg != 99))
            abort();
        if (j < out.size() && out[j] == ',') {
            if (j + 2 >= out.size())
                abort();
            if (!is_digit(out[j + 1]) || !is_digit(out[j + 2]))
                abort();
            if ((out[j + 1] - '0') * 10 + (out[j + 2] - '0') > 15)
                abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    // An exact-size copy, so reading one byte too far trips the sanitizer.
    std::string in(reinterpret_cast<const char *>(data), size);

    exec_color_state state;
    const std::string out = exec_convert_ansi(in, state);
    if (out.find('\x1b') != std::string::npos || out.find('\r') != std::string::npos)
        abort();
    if (out.size() > 2 * in.size())
        abort();
    if (state.foreground < -1 || state.foreground > 7)
        abort();

    // Without colour bytes of its own, every colour byte is the converter's.
    std::string plain;
    for (char c : in)
        if (c != '\x03')
            plain += c;
    exec_color_state fresh;
    check_codes(exec_convert_ansi(plain, fresh));
    return 0;
}
