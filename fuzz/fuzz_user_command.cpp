// The user-command template expander on arbitrary templates and words, into
// buffers of every small size: it must always terminate the output inside
// the buffer, never split a UTF-8 character it copied whole, and answer 0, 1
// or 2.
#include "commands/outbound.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 1 << 13)
        return 0;
    const std::size_t room = 1 + data[0] % 128;
    // The template, then a NUL, then the line whose words fill %N and &N.
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string tmpl = rest.substr(0, nul);
    std::string line = nul == std::string::npos ? "cmd" : rest.substr(nul + 1);
    line.resize(strlen(line.c_str()));

    // Words as the dispatcher splits them: 32 slots, unused ones "".
    std::vector<std::string> words(32), eol(32);
    std::size_t i = 0;
    for (int slot = 1; slot < 32 && i < line.size(); slot++) {
        eol[slot] = line.substr(i);
        const std::size_t space = line.find(' ', i);
        words[slot] = line.substr(i, space == std::string::npos ? std::string::npos : space - i);
        i = space == std::string::npos ? line.size() : line.find_first_not_of(' ', space);
        if (i == std::string::npos)
            i = line.size();
    }
    char *word[33];
    char *word_eol[33];
    for (int k = 0; k < 32; k++) {
        word[k] = words[k].data();
        word_eol[k] = eol[k].data();
    }
    word[32] = word_eol[32] = const_cast<char *>("");

    std::vector<char> out(room + 1, '\x7f');
    char a[] = "", c[] = "#chan", d[] = "data \xc3\xa9", e[] = "net", h[] = "host", n[] = "me", s[] = "bob", u[] = "";
    const int r = auto_insert(out.data(), static_cast<int>(room), reinterpret_cast<const unsigned char *>(tmpl.c_str()),
                              word, word_eol, {a, c, d, e, h, n, s, u});
    if (r < 0 || r > 2)
        abort();
    const void *end = memchr(out.data(), '\0', room);
    if (!end || out[room] != '\x7f')
        abort();
    // Whatever was copied from valid text stays valid text.
    if (g_utf8_validate(tmpl.c_str(), -1, nullptr) && g_utf8_validate(line.c_str(), -1, nullptr) &&
        !strstr(tmpl.c_str(), "%") && !strstr(tmpl.c_str(), "&") && !g_utf8_validate(out.data(), -1, nullptr))
        abort();
    return 0;
}
