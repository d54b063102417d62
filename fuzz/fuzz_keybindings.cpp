// keybindings.conf as a user or an older version may have left it: parsing
// never crashes, and what was accepted is written back in a form that
// reads back to the same table.
#include "fuzz_core.h"
#include "input/keybindings.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const key_parse_result first = key_parse(text);
    if (first.error)
        return 0;
    // Empty data is written as none, so compare from the first write on.
    const std::string written = key_write(first.bindings);
    const key_parse_result again = key_parse(written);
    if (again.error || key_write(again.bindings) != written)
        abort();
    return 0;
}
