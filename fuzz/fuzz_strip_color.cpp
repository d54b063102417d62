// Formatting-code removal on arbitrary bytes with every flag combination:
// the result never grows, stays terminated where the returned length says,
// and the markup-escaping variant always yields valid UTF-8.
#include "base/util.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    // An exact-size copy, so reading one byte too far trips the sanitizer.
    std::vector<char> in(data, data + size);
    int len = static_cast<int>(size);
    std::vector<char> out(size + 1);

    for (int flags = 0; flags <= STRIP_ALL; flags++) {
        int n = strip_color2(in.data(), len, out.data(), flags);
        if (n < 0 || n > len || out[static_cast<size_t>(n)] != '\0' ||
            memchr(out.data(), '\0', static_cast<size_t>(n)) != nullptr)
            abort();
    }

    std::string terminated(in.begin(), in.end());
    for (int flags = 0; flags <= STRIP_ALL; flags++) {
        char *s = strip_color(terminated.c_str(), -1, flags | STRIP_ESCMARKUP);
        if (!g_utf8_validate(s, -1, nullptr))
            abort();
        g_free(s);
    }

    std::vector<char> hidden(terminated.size() + 1);
    if (strip_hidden_attribute(terminated.c_str(), hidden.data()) > len)
        abort();
    return 0;
}
