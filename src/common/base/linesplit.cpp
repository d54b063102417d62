// Line splitting and charset repair for incoming server text.

#include "base/linesplit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

constexpr char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";
constexpr std::size_t REPLACEMENT_LEN = sizeof REPLACEMENT_CHARACTER - 1;

// Stores `n` bytes (no CR, no LF) in the line, dropping what does not fit.
void store(const line_assembly &line, const char *data, std::size_t n)
{
    const std::size_t room = static_cast<std::size_t>(LINESPLIT_MAX_LINE - *line.length);
    const std::size_t take = n < room ? n : room;
    memcpy(line.buffer + *line.length, data, take);
    *line.length += static_cast<int>(take);
    if (take < n && !*line.overflowed) {
        // Once per line: a hostile server could otherwise make every byte a
        // line of output.
        *line.overflowed = true;
        fputs("*** LUMENWICK WARNING: Buffer overflow - non-compliant server!\n", stderr);
    }
}

// Stores a piece of a line with its carriage returns removed.
void store_without_cr(const line_assembly &line, const char *data, std::size_t n)
{
    while (n > 0) {
        const char *cr = static_cast<const char *>(memchr(data, '\r', n));
        const std::size_t part = cr ? static_cast<std::size_t>(cr - data) : n;
        store(line, data, part);
        if (!cr)
            return;
        data += part + 1;
        n -= part + 1;
    }
}

// Whether the text is valid UTF-8 without NUL bytes. ASCII runs are checked
// a word at a time: server text is mostly ASCII.
bool is_clean_utf8(const char *text, std::size_t len)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    std::size_t i = 0;
    while (i + 8 <= len) {
        guint64 word;
        memcpy(&word, p + i, 8);
        // Any byte with its high bit set, or any zero byte, leaves the fast path.
        const guint64 zero_bytes = (word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL;
        if ((word & 0x8080808080808080ULL) || zero_bytes)
            break;
        i += 8;
    }
    if (i == len)
        return true;
    return g_utf8_validate(text + i, static_cast<gssize>(len - i), nullptr);
}

// Appends `text` with each invalid byte or NUL replaced.
void append_repaired_utf8(std::string &out, const char *text, std::size_t len)
{
    while (len > 0) {
        const char *end;
        g_utf8_validate(text, static_cast<gssize>(len), &end);
        const std::size_t good = static_cast<std::size_t>(end - text);
        out.append(text, good);
        if (good == len)
            return;
        out.append(REPLACEMENT_CHARACTER, REPLACEMENT_LEN);
        text += good + 1;
        len -= good + 1;
    }
}

void convert_with(GIConv decoder, const char *text, std::size_t len, std::string &out)
{
    // A stateful charset must not carry shift state from the previous line.
    g_iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    auto *in = const_cast<char *>(text);
    gsize in_left = len;
    char buf[1024];
    while (in_left > 0) {
        char *o = buf;
        gsize o_left = sizeof buf;
        const gsize rc = g_iconv(decoder, &in, &in_left, &o, &o_left);
        const int err = errno;
        out.append(buf, sizeof buf - o_left);
        if (rc != static_cast<gsize>(-1))
            break;
        if (err == E2BIG)
            continue;
        // EILSEQ or EINVAL: the byte cannot start a character here.
        out.append(REPLACEMENT_CHARACTER, REPLACEMENT_LEN);
        in++;
        in_left--;
        g_iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    }
    char *o = buf;
    gsize o_left = sizeof buf;
    g_iconv(decoder, nullptr, nullptr, &o, &o_left);
    out.append(buf, sizeof buf - o_left);
}

} // namespace

std::size_t linesplit_feed(const line_assembly &line, const char *data, std::size_t n, line_sink sink, void *user_data)
{
    std::size_t i = 0;
    while (i < n) {
        const char *lf = static_cast<const char *>(memchr(data + i, '\n', n - i));
        const std::size_t end = lf ? static_cast<std::size_t>(lf - data) : n;
        store_without_cr(line, data + i, end - i);
        if (!lf)
            return n;
        i = end + 1;
        line.buffer[*line.length] = 0;
        const int len = *line.length;
        *line.length = 0;
        *line.overflowed = false;
        if (!sink(line.buffer, len, user_data))
            return i;
    }
    return n;
}

char *linesplit_to_utf8(char *line, int len, const char *encoding, GIConv decoder, std::string &scratch, int *out_len)
{
    const std::size_t n = static_cast<std::size_t>(len);
    const bool utf8 = !encoding || strcmp(encoding, "UTF-8") == 0 || decoder == reinterpret_cast<GIConv>(-1);
    if (utf8 && is_clean_utf8(line, n)) {
        *out_len = len;
        return line;
    }
    scratch.clear();
    if (utf8) {
        append_repaired_utf8(scratch, line, n);
    } else {
        convert_with(decoder, line, n, scratch);
        // Conversion keeps NUL bytes; in UTF-8 a zero byte is only ever NUL.
        if (memchr(scratch.data(), 0, scratch.size())) {
            std::string repaired;
            for (char c : scratch) {
                if (c == '\0')
                    repaired.append(REPLACEMENT_CHARACTER, REPLACEMENT_LEN);
                else
                    repaired += c;
            }
            scratch.swap(repaired);
        }
    }
    *out_len = static_cast<int>(scratch.size());
    return scratch.data();
}
