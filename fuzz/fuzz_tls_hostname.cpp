// The certificate name-pattern matcher against arbitrary patterns and hosts.
// The first byte is the pattern's length; the pattern (which may hold NUL
// bytes, as a forged certificate's name can) follows, then the host up to
// its first NUL. Besides not crashing, every match must be one a browser
// would accept too: the exact name, or a wildcard covering one whole label.
#include "net/ssl.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    const size_t left = size - 1;
    const size_t pattern_len = data[0] < left ? data[0] : left;
    const std::string pattern(bytes, pattern_len);
    const char *rest = bytes + pattern_len;
    const size_t rest_len = left - pattern_len;
    const char *end = static_cast<const char *>(memchr(rest, '\0', rest_len));
    const std::string host(rest, end ? static_cast<size_t>(end - rest) : rest_len);

    const int r = ssl_match_hostname_pattern(pattern.data(), pattern.size(), host.c_str());
    if (r != 0 && r != -1)
        abort();
    const bool equal =
        pattern.size() == host.size() && g_ascii_strncasecmp(pattern.data(), host.c_str(), host.size()) == 0;
    if (pattern.find('\0') != std::string::npos) {
        if (r == 0)
            abort();
        return 0;
    }
    if (equal && r != 0)
        abort();
    if (r == 0 && !equal) {
        // A wildcard match: "*.domain" with a two-label domain, and a host
        // of exactly one non-empty label in front of that domain.
        if (pattern.compare(0, 2, "*.") != 0 || pattern.size() < 3 || pattern[2] == '.')
            abort();
        const size_t dot = host.find('.');
        if (dot == 0 || dot == std::string::npos)
            abort();
        const std::string suffix = host.substr(dot);
        if (suffix.size() != pattern.size() - 1 ||
            g_ascii_strncasecmp(suffix.c_str(), pattern.c_str() + 1, suffix.size()) != 0)
            abort();
        if (pattern.find('.', 2) == std::string::npos)
            abort();
    }
    return 0;
}
