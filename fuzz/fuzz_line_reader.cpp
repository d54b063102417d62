// The server reader's byte path: a stream cut into lines and each line
// brought to UTF-8. Byte 0 picks the charset, byte 1 the size of the reads;
// the rest is the stream. Lines must come out the same however the stream
// is cut, never hold CR, LF or NUL, never exceed the line limit, and always
// be valid UTF-8.
#include "base/linesplit.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const char *const CHARSETS[] = {"UTF-8", "ISO-8859-1", "ISO-2022-JP", "SHIFT_JIS", "CP1251"};
constexpr std::size_t CHARSET_COUNT = sizeof CHARSETS / sizeof CHARSETS[0];

struct reader {
    char buffer[LINESPLIT_MAX_LINE + 1];
    int length = 0;
    bool overflowed = false;
    std::vector<std::string> lines;

    static bool sink(char *line, int len, void *self)
    {
        auto *r = static_cast<reader *>(self);
        if (len < 0 || len > LINESPLIT_MAX_LINE || line[len] != '\0' || memchr(line, '\n', static_cast<size_t>(len)) ||
            memchr(line, '\r', static_cast<size_t>(len)))
            abort();
        r->lines.emplace_back(line, static_cast<size_t>(len));
        return true;
    }
    void feed(const char *data, size_t n, size_t chunk)
    {
        for (size_t i = 0; i < n; i += chunk) {
            const size_t part = n - i < chunk ? n - i : chunk;
            if (linesplit_feed({buffer, &length, &overflowed}, data + i, part, sink, this) != part)
                abort();
        }
    }
};

GIConv decoder_for(const char *charset)
{
    static GIConv cached[CHARSET_COUNT];
    static bool opened = false;
    if (!opened) {
        for (size_t i = 0; i < CHARSET_COUNT; i++)
            cached[i] = g_iconv_open("UTF-8", CHARSETS[i]);
        opened = true;
    }
    for (size_t i = 0; i < CHARSET_COUNT; i++)
        if (strcmp(CHARSETS[i], charset) == 0)
            return cached[i];
    return reinterpret_cast<GIConv>(-1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const char *charset = CHARSETS[data[0] % CHARSET_COUNT];
    const size_t chunk = data[1] % 64 + 1;
    const char *stream = reinterpret_cast<const char *>(data + 2);
    const size_t n = size - 2;

    reader whole, cut;
    whole.feed(stream, n, n ? n : 1);
    cut.feed(stream, n, chunk);
    if (whole.lines != cut.lines || whole.length != cut.length)
        abort();

    std::string scratch;
    for (std::string &line : cut.lines) {
        int out_len;
        const char *text = linesplit_to_utf8(line.data(), static_cast<int>(line.size()), charset, decoder_for(charset),
                                             scratch, &out_len);
        if (out_len < 0 || memchr(text, '\0', static_cast<size_t>(out_len)) || !g_utf8_validate(text, out_len, nullptr))
            abort();
    }
    return 0;
}
