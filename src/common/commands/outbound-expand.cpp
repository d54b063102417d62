// The template language of user commands, buttons and CTCP replies: %N and
// &N take words of the line, the letter codes take values of the caller or
// of the moment, %NNN inserts a character by its code.

#include "commands/outbound.h"

#include "base/lumenwick.h"
#include "base/util.h"

#include <glib.h>

#include <cstring>
#include <ctime>

namespace
{

// Output with the room check: once something did not fit, nothing more is
// written and the result stays cut at a character boundary.
struct expand_out {
    char *dest;
    std::size_t room; // bytes for text, the terminator not counted
    std::size_t len = 0;
    bool overflow = false;

    void add(const char *text, std::size_t n)
    {
        if (overflow)
            return;
        if (len + n <= room) {
            memcpy(dest + len, text, n);
            len += n;
            return;
        }
        // Whole UTF-8 characters only, so the cut command is still valid text.
        const std::size_t fit = utf8_prefix(text, n, room - len);
        memcpy(dest + len, text, fit);
        len += fit;
        overflow = true;
    }
    void add(const char *text) { add(text, text ? strlen(text) : 0); }
    void add(char c) { add(&c, 1); }
};

bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int auto_insert(char *dest, int destlen, const unsigned char *src, char *word[], char *word_eol[],
                const insert_values &values)
{
    if (!dest || destlen < 1)
        return 2;
    expand_out out{dest, static_cast<std::size_t>(destlen - 1)};
    if (!src)
        src = reinterpret_cast<const unsigned char *>("");

    while (*src && !out.overflow) {
        const unsigned char ch = *src;
        if (ch != '%' && ch != '&') {
            // A whole UTF-8 character at a time, so a cut never splits one.
            std::size_t n = 1;
            while (src[n] && (src[n] & 0xC0) == 0x80)
                n++;
            out.add(reinterpret_cast<const char *>(src), n);
            src += n;
            continue;
        }
        // %NNN and &NNN: a character by its decimal code, in the locale's
        // character set. NUL would end the command, so it is dropped.
        if (is_digit(src[1]) && is_digit(src[2]) && is_digit(src[3])) {
            const int code = ((src[1] - '0') * 100 + (src[2] - '0') * 10 + (src[3] - '0')) & 0xff;
            if (code) {
                const char byte = static_cast<char>(code);
                gsize written = 0;
                char *utf8 = g_locale_to_utf8(&byte, 1, nullptr, &written, nullptr);
                if (utf8)
                    out.add(utf8, written);
                g_free(utf8);
            }
            src += 4;
            continue;
        }
        if (is_digit(src[1])) {
            const int k = src[1] - '0';
            const char *w = word ? word[k] : nullptr;
            if (!w || !w[0]) {
                dest[out.len] = 0;
                return 0;
            }
            out.add(ch == '%' ? w : (word_eol ? word_eol[k] : ""));
            src += 2;
            continue;
        }
        if (ch == '&') {
            out.add('&');
            src++;
            continue;
        }
        src++; // past the '%'
        switch (*src) {
        case '%':
            out.add('%');
            break;
        case 'a':
            out.add(values.a);
            break;
        case 'c':
            out.add(values.c);
            break;
        case 'd':
            out.add(values.d);
            break;
        case 'e':
            out.add(values.e);
            break;
        case 'h':
            out.add(values.h);
            break;
        case 'n':
            out.add(values.n);
            break;
        case 's':
            out.add(values.s);
            break;
        case 'u':
            out.add(values.u);
            break;
        case 'm':
            out.add(get_sys_str(1));
            break;
        case 't': {
            const time_t now = time(nullptr);
            char buf[64];
            if (ctime_r(&now, buf)) {
                buf[19] = 0;
                out.add(buf);
            }
            break;
        }
        case 'v':
            out.add(LUMENWICK_VERSION);
            break;
        case 'y': {
            const time_t now = time(nullptr);
            struct tm tm_now;
            char buf[32];
            if (localtime_r(&now, &tm_now)) {
                g_snprintf(buf, sizeof buf, "%4d%02d%02d", tm_now.tm_year + 1900, tm_now.tm_mon + 1, tm_now.tm_mday);
                out.add(buf);
            }
            break;
        }
        default:
            // Not a code: the '%' stays and the next character is read as usual.
            out.add('%');
            continue;
        }
        src++;
    }
    dest[out.len] = 0;
    return out.overflow ? 2 : 1;
}
