// Wildcard matching against arbitrary masks and texts: the input is split at
// its first NUL into mask and text. Besides not crashing or hanging, a text
// must always match itself with its wildcards escaped, and "*" must match it.
#include "base/util.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const char *split = static_cast<const char *>(memchr(bytes, '\0', size));
    std::string mask(bytes, split ? static_cast<size_t>(split - bytes) : size);
    std::string text;
    if (split) {
        const char *rest = split + 1;
        size_t left = size - static_cast<size_t>(rest - bytes);
        const char *end = static_cast<const char *>(memchr(rest, '\0', left));
        text.assign(rest, end ? static_cast<size_t>(end - rest) : left);
    }

    match(mask.c_str(), text.c_str());
    match(text.c_str(), mask.c_str());

    if (!match("*", text.c_str()))
        abort();
    std::string escaped;
    for (char c : text) {
        if (c == '*' || c == '?')
            escaped += '\\';
        escaped += c;
    }
    if (!match(escaped.c_str(), text.c_str()))
        abort();
    return 0;
}
