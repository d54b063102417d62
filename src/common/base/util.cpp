#include "base/util.h"

#include "base/format-codes.h"
#include "base/lumenwick.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <unistd.h>

#ifdef __FreeBSD__
#include <sys/sysctl.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// RFC 1459 section 2.2: "{}|~" are the lower-case forms of "[]\^", because
// of the Scandinavian origin of IRC; servers fold nicks and channels this way.
const unsigned char rfc_tolowertab[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12,
    0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x2b, 0x2c, 0x2d, 0x2e, 0x2f, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,
    0x39, 0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, 0x40, 'a',  'b',  'c',  'd',  'e',  'f',  'g',  'h',  'i',  'j',  'k',
    'l',  'm',  'n',  'o',  'p',  'q',  'r',  's',  't',  'u',  'v',  'w',  'x',  'y',  'z',  '{',  '|',  '}',  '~',
    0x5f, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x6b, 0x6c, 0x6d, 0x6e, 0x6f, 0x70, 0x71,
    0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x7b, 0x7c, 0x7d, 0x7e, 0x7f, 0x80, 0x81, 0x82, 0x83, 0x84,
    0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x8b, 0x8c, 0x8d, 0x8e, 0x8f, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0x9b, 0x9c, 0x9d, 0x9e, 0x9f, 0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa,
    0xab, 0xac, 0xad, 0xae, 0xaf, 0xb0, 0xb1, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xbb, 0xbc, 0xbd,
    0xbe, 0xbf, 0xc0, 0xc1, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xcb, 0xcc, 0xcd, 0xce, 0xcf, 0xd0,
    0xd1, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xdb, 0xdc, 0xdd, 0xde, 0xdf, 0xe0, 0xe1, 0xe2, 0xe3,
    0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xeb, 0xec, 0xed, 0xee, 0xef, 0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6,
    0xf7, 0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff,
};

// The table itself lives in country.cpp; these are its only entry points.

namespace
{

// A colour number is at most two digits ("\00304,12"); a third digit is text.
constexpr int COLOR_MAX_DIGITS = 2;

// Lag probes carry this offset so the value stays small enough for servers
// that echo it back as a 32-bit number.
constexpr unsigned long PING_TIME_OFFSET = 50000000UL;

// Downloads are copied across file systems in blocks of this size.
constexpr std::size_t MOVE_BLOCK_SIZE = 4096;

bool is_cont(unsigned char c)
{
    return (c & 0xc0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at s (RFC 3629 table, no
// overlongs, no surrogates, nothing past U+10FFFF), never reading at or past
// `end`. A byte that does not start a complete valid sequence counts as one
// character so that a copy still progresses over broken text.
std::size_t utf8_char_len(const unsigned char *s, const unsigned char *end)
{
    std::size_t avail = static_cast<std::size_t>(end - s);
    unsigned char c = s[0];
    if (c < 0x80)
        return 1;
    if (c >= 0xc2 && c <= 0xdf)
        return (avail >= 2 && is_cont(s[1])) ? 2 : 1;
    if (c >= 0xe0 && c <= 0xef) {
        if (avail < 3)
            return 1;
        unsigned char lo = 0x80, hi = 0xbf;
        if (c == 0xe0)
            lo = 0xa0; // overlong
        else if (c == 0xed)
            hi = 0x9f; // UTF-16 surrogates
        return (s[1] >= lo && s[1] <= hi && is_cont(s[2])) ? 3 : 1;
    }
    if (c >= 0xf0 && c <= 0xf4) {
        if (avail < 4)
            return 1;
        unsigned char lo = 0x80, hi = 0xbf;
        if (c == 0xf0)
            lo = 0x90; // overlong
        else if (c == 0xf4)
            hi = 0x8f; // beyond U+10FFFF
        return (s[1] >= lo && s[1] <= hi && is_cont(s[2]) && is_cont(s[3])) ? 4 : 1;
    }
    return 1;
}

// Copies at most `srclen` bytes of whole characters into dst; a character of
// k bytes is taken only while k < the room left, which keeps space for NUL.
void utf8_copy(char *dst, const char *src, std::size_t srclen, std::size_t size)
{
    if (!dst || size == 0)
        return;
    std::size_t out = 0;
    if (src) {
        const auto *s = reinterpret_cast<const unsigned char *>(src);
        const unsigned char *end = s + srclen;
        while (s < end) {
            std::size_t k = utf8_char_len(s, end);
            if (k >= size - out)
                break;
            std::memcpy(dst + out, s, k);
            out += k;
            s += k;
        }
    }
    dst[out] = '\0';
}

// One pattern element: a wildcard, or a literal byte with its length in
// the pattern ("\*" and "\?" are two bytes for one literal).
struct mask_token {
    enum { LITERAL, ANY_ONE, ANY_RUN } kind;
    unsigned char ch;
    int len;
};

mask_token next_token(const unsigned char *p)
{
    if (*p == '*')
        return {mask_token::ANY_RUN, 0, 1};
    if (*p == '?')
        return {mask_token::ANY_ONE, 0, 1};
    if (*p == '\\' && (p[1] == '*' || p[1] == '?'))
        return {mask_token::LITERAL, p[1], 2};
    // A backslash before anything else is itself literal, so masks taken
    // from Windows-style idents or paths still match.
    return {mask_token::LITERAL, *p, 1};
}

int read_byte(int fd, char *c, int use_recv)
{
    for (;;) {
        ssize_t n = use_recv ? recv(fd, c, 1, 0) : read(fd, c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<int>(n);
    }
}

// The n-th candidate name for a download in the target directory: the plain
// name first (n < 0), then "name.0", "name.1", ...
std::string move_target_name(const char *dst_dir, const char *fname, int n)
{
    char *path = n < 0 ? g_strdup_printf("%s/%s", dst_dir, fname) : g_strdup_printf("%s/%s.%d", dst_dir, fname, n);
    std::string result(path);
    g_free(path);
    return result;
}

// Renames without ever replacing an existing target, so the caller's
// "pick a free name" loop cannot race with another writer. Returns 0 or -1
// with errno set; EEXIST means "try the next name".
int rename_noreplace(const char *from, const char *to)
{
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    // Older kernels and some file systems do not know the flag.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
#endif
    if (link(from, to) != 0)
        return -1;
    // Both names now hold the complete file; losing the old one is all that
    // is left, and failing to do so loses nothing.
    unlink(from);
    return 0;
}

// The copy path of move_file: source and target are both complete, or the
// source is untouched and no partial target remains.
void copy_then_remove(const char *src, const char *dst_dir, const char *fname, int mode)
{
    int in = open(src, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        fprintf(stderr, "Unable to open() file '%s' (%s) !\n", src, g_strerror(errno));
        return;
    }

    std::string dst;
    int out = -1;
    for (int n = -1; n < INT_MAX; n++) {
        dst = move_target_name(dst_dir, fname, n);
        out = open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (out >= 0 || errno != EEXIST)
            break;
    }
    if (out < 0) {
        fprintf(stderr, "Unable to create file '%s' (%s) !\n", dst.c_str(), g_strerror(errno));
        close(in);
        return;
    }

    char buf[MOVE_BLOCK_SIZE];
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fprintf(stderr,
                    "download_move_to_completed_dir(): error reading while moving file to save "
                    "directory (%s)\n",
                    g_strerror(errno));
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!write_all(out, buf, static_cast<std::size_t>(n))) {
            fprintf(stderr,
                    "download_move_to_completed_dir(): error writing while moving file to save "
                    "directory (%s)\n",
                    g_strerror(errno));
            ok = false;
            break;
        }
    }
    close(in);

    // The source goes away next, so the copy must be on disk first: a full
    // disk or I/O error often surfaces only at fsync or close.
    if (ok) {
        int err = 0;
        if (fsync(out) != 0 && errno != EINVAL)
            err = errno;
        if (close(out) != 0 && err == 0)
            err = errno;
        if (err != 0) {
            fprintf(stderr,
                    "download_move_to_completed_dir(): error writing while moving file to save "
                    "directory (%s)\n",
                    g_strerror(err));
            ok = false;
        }
    } else {
        close(out);
    }

    if (!ok) {
        unlink(dst.c_str());
        return;
    }
    unlink(src);
}

// CPU clock in Hz, or 0 when the system does not tell.
std::uint64_t cpu_frequency_hz(void)
{
#ifdef __FreeBSD__
    std::uint64_t freq = 0;
    std::size_t len = sizeof freq;
    if (sysctlbyname("machdep.tsc_freq", &freq, &len, nullptr, 0) == 0)
        return freq;
    return 0;
#else
    // The nominal maximum is stable, unlike the current clock that
    // frequency scaling moves around; /proc/cpuinfo is the fallback for
    // virtual machines without cpufreq.
    char *text = nullptr;
    std::uint64_t hz = 0;
    if (g_file_get_contents("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", &text, nullptr, nullptr)) {
        hz = g_ascii_strtoull(text, nullptr, 10) * 1000; // the file is in kHz
        g_free(text);
        if (hz > 0)
            return hz;
    }
    if (!g_file_get_contents("/proc/cpuinfo", &text, nullptr, nullptr))
        return 0;
    for (char *line = text; line && *line;) {
        char *eol = strchr(line, '\n');
        if (eol)
            *eol = '\0';
        if (g_str_has_prefix(line, "cpu MHz")) {
            const char *colon = strchr(line, ':');
            if (colon) {
                double mhz = g_ascii_strtod(colon + 1, nullptr);
                if (mhz > 0)
                    hz = static_cast<std::uint64_t>(mhz * 1000000.0);
            }
            break;
        }
        line = eol ? eol + 1 : nullptr;
    }
    g_free(text);
    return hz;
#endif
}

std::string build_sys_str(int with_cpu)
{
    struct utsname un;
    if (uname(&un) != 0)
        return "Unknown";

    char *desc = nullptr;
    std::uint64_t hz = with_cpu ? cpu_frequency_hz() : 0;
    if (hz > 999999) {
        std::uint64_t mhz = hz / 1000000;
        double shown = static_cast<double>(mhz);
        const char *unit = "MHz";
        if (hz >= 1001000000ULL) {
            shown /= 1000.0;
            unit = "GHz";
        }
        long ncpu = sysconf(_SC_NPROCESSORS_ONLN);
        desc = g_strdup_printf(ncpu > 1 ? "%s %s [%s/%.2f%s/SMP]" : "%s %s [%s/%.2f%s]", un.sysname, un.release,
                               un.machine, shown, unit);
    } else {
        desc = g_strdup_printf("%s %s", un.sysname, un.release);
    }
    std::string result(desc);
    g_free(desc);
    return result;
}

} // namespace

int rfc_casecmp(const char *a, const char *b)
{
    const auto *s1 = reinterpret_cast<const unsigned char *>(a);
    const auto *s2 = reinterpret_cast<const unsigned char *>(b);
    for (;; s1++, s2++) {
        int d = rfc_tolowertab[*s1] - rfc_tolowertab[*s2];
        if (d != 0 || *s1 == '\0')
            return d;
    }
}

int rfc_ncasecmp(const char *a, const char *b, std::size_t n)
{
    const auto *s1 = reinterpret_cast<const unsigned char *>(a);
    const auto *s2 = reinterpret_cast<const unsigned char *>(b);
    for (; n > 0; n--, s1++, s2++) {
        int d = rfc_tolowertab[*s1] - rfc_tolowertab[*s2];
        if (d != 0 || *s1 == '\0')
            return d;
    }
    return 0;
}

// Greedy matching that remembers only the most recent "*": when the rest
// fails, that star swallows one more byte and the rest is retried. An
// earlier star never needs revisiting (the later one can absorb whatever it
// would), so the cost is at most pattern length x text length, with no
// recursion for hostile masks like "*a*a*a*a*b" to exploit. "?" is one byte,
// as servers count it, so a mask means here what it means in a ban list.
int match(const char *pattern, const char *text)
{
    if (!pattern || !text)
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(pattern);
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *star_p = nullptr;
    const unsigned char *star_t = nullptr;

    while (*t) {
        if (*p) {
            mask_token tok = next_token(p);
            if (tok.kind == mask_token::ANY_RUN) {
                while (*p == '*')
                    p++;
                if (!*p)
                    return 1; // a trailing star takes any remainder
                star_p = p;
                star_t = t;
                continue;
            }
            if (tok.kind == mask_token::ANY_ONE || rfc_tolowertab[tok.ch] == rfc_tolowertab[*t]) {
                p += tok.len;
                t++;
                continue;
            }
        }
        if (!star_p)
            return 0;
        p = star_p;
        t = ++star_t;
    }
    while (*p == '*')
        p++;
    return *p == '\0';
}

void safe_strcpy(char *dst, const char *src, std::size_t size)
{
    utf8_copy(dst, src, src ? strlen(src) : 0, size);
}

const char *nocasestrstr(const char *text, const char *needle)
{
    if (!text || !needle)
        return nullptr;
    std::size_t n = strlen(needle);
    for (const char *s = text;; s++) {
        if (g_ascii_strncasecmp(s, needle, n) == 0)
            return s;
        if (!*s)
            return nullptr;
    }
}

const char *file_part(const char *path)
{
    if (!path)
        return "";
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

const char *path_part(const char *path, char *dst, std::size_t size)
{
    const char *file = file_part(path);
    utf8_copy(dst, path, path ? static_cast<std::size_t>(file - path) : 0, size);
    return file;
}

char *expand_homedir(const char *path)
{
    if (!path)
        return nullptr;
    if (path[0] != '~')
        return g_strdup(path);

    if (path[1] == '\0' || path[1] == '/')
        return g_strconcat(g_get_home_dir(), path + 1, nullptr);

    const char *rest = strchr(path, '/');
    std::string user = rest ? std::string(path + 1, rest) : std::string(path + 1);
    if (!rest)
        rest = "";

    long bufsize = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (bufsize <= 0)
        bufsize = 16384;
    std::string buf(static_cast<std::size_t>(bufsize), '\0');
    struct passwd pw;
    struct passwd *found = nullptr;
    int rc;
    // The entry of a user with many groups or a long GECOS can exceed the
    // suggested size; grow until it fits.
    while ((rc = getpwnam_r(user.c_str(), &pw, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
    if (rc != 0 || !found || !found->pw_dir)
        return g_strdup(path);
    return g_strconcat(found->pw_dir, rest, nullptr);
}

const char *errorstring(int err)
{
    if (err == -1)
        return "";
    if (err == 0)
        return _("Remote host closed socket");
    return g_strerror(err);
}

int waitline(int sok, char *buf, int bufsize, int use_recv)
{
    if (!buf || bufsize <= 0)
        return -1;
    int i = 0;
    for (;;) {
        if (i >= bufsize - 1) {
            buf[i] = '\0';
            return i;
        }
        if (read_byte(sok, &buf[i], use_recv) <= 0)
            return -1;
        if (buf[i] == '\n') {
            buf[i] = '\0';
            return i;
        }
        i++;
    }
}

bool buf_get_line(char *buf, char **line, int *position, int len)
{
    int pos = *position;
    if (pos < 0 || pos >= len)
        return false;
    char *start = buf + pos;
    auto *nl = static_cast<char *>(memchr(start, '\n', static_cast<std::size_t>(len - pos)));
    if (!nl)
        return false;
    *nl = '\0';
    *line = start;
    *position = static_cast<int>(nl - buf) + 1;
    return true;
}

bool token_foreach(char *str, char sep, int (*callback)(char *str, void *ud), void *ud)
{
    if (!str)
        return true;
    char *token = str;
    for (char *c = str;; c++) {
        if (*c != sep && *c != '\0')
            continue;
        char saved = *c;
        *c = '\0';
        int rc = callback(token, ud);
        *c = saved;
        if (rc <= 0)
            return false;
        if (saved == '\0')
            return true;
        token = c + 1;
    }
}

guint32 str_hash(const char *key)
{
    if (!key || !*key)
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(key);
    guint32 h = *p++;
    for (; *p; p++)
        h = h * 31 + *p;
    return h;
}

guint32 str_ihash(const unsigned char *key)
{
    if (!key || !*key)
        return 0;
    guint32 h = rfc_tolowertab[*key++];
    for (; *key; key++)
        h = h * 31 + rfc_tolowertab[*key];
    return h;
}

void canonalize_key(char *key)
{
    for (char *p = key; p && *p; p++) {
        if (g_ascii_isalpha(*p))
            *p = g_ascii_tolower(*p);
        else if (!g_ascii_isdigit(*p) && *p != '_')
            *p = '_';
    }
}

int strip_color2(const char *src, int len, char *dst, int flags)
{
    if (!dst)
        return 0;
    if (!src) {
        *dst = '\0';
        return 0;
    }
    if (len < 0)
        len = static_cast<int>(strlen(src));

    const auto *s = reinterpret_cast<const unsigned char *>(src);
    // An embedded NUL ends the text even within `len`: it cannot be carried
    // in the terminated result anyway.
    const unsigned char *end = s;
    while (end < s + len && *end)
        end++;

    char *out = dst;
    while (s < end) {
        unsigned char c = *s;
        if (c == CODE_COLOR && (flags & STRIP_COLOR)) {
            s++;
            for (int n = 0; n < COLOR_MAX_DIGITS && s < end && g_ascii_isdigit(*s); n++)
                s++;
            if (s + 1 < end && *s == ',' && g_ascii_isdigit(s[1])) {
                s++;
                for (int n = 0; n < COLOR_MAX_DIGITS && s < end && g_ascii_isdigit(*s); n++)
                    s++;
            }
            continue;
        }
        if (flags & STRIP_ATTRIB) {
            switch (c) {
            case CODE_BOLD:
            case CODE_BEEP:
            case CODE_RESET:
            case CODE_REVERSE:
            case CODE_ITALIC:
            case CODE_STRIKE:
            case CODE_UNDERLINE:
                s++;
                continue;
            default:
                break;
            }
        }
        if (c == CODE_HIDDEN && (flags & STRIP_HIDDEN)) {
            s++;
            continue;
        }
        *out++ = static_cast<char>(c);
        s++;
    }
    *out = '\0';
    return static_cast<int>(out - dst);
}

char *strip_color(const char *text, int len, int flags)
{
    if (!text)
        return g_strdup("");
    if (len < 0)
        len = static_cast<int>(strlen(text));
    char *plain = static_cast<char *>(g_malloc(static_cast<gsize>(len) + 1));
    strip_color2(text, len, plain, flags);
    if (!(flags & STRIP_ESCMARKUP))
        return plain;

    // Markup must be valid UTF-8, and the escaper walks whole characters, so
    // a truncated sequence at the end would be read past the terminator.
    if (!g_utf8_validate(plain, -1, nullptr)) {
        char *valid = g_utf8_make_valid(plain, -1);
        g_free(plain);
        plain = valid;
    }
    char *escaped = g_markup_escape_text(plain, -1);
    g_free(plain);
    return escaped;
}

int strip_hidden_attribute(const char *src, char *dst)
{
    if (!dst)
        return 0;
    int n = 0;
    for (const char *s = src; s && *s; s++) {
        if (static_cast<unsigned char>(*s) != CODE_HIDDEN)
            dst[n++] = *s;
    }
    dst[n] = '\0';
    return n;
}

unsigned long make_ping_time(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<unsigned long>(tv.tv_sec) * 1000UL + static_cast<unsigned long>(tv.tv_usec) / 1000UL -
           PING_TIME_OFFSET;
}

void base64_encode(char *out, const char *in, int inlen)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto *s = reinterpret_cast<const unsigned char *>(in);
    char *o = out;
    for (; inlen >= 3; inlen -= 3, s += 3) {
        *o++ = alphabet[s[0] >> 2];
        *o++ = alphabet[((s[0] & 0x03) << 4) | (s[1] >> 4)];
        *o++ = alphabet[((s[1] & 0x0f) << 2) | (s[2] >> 6)];
        *o++ = alphabet[s[2] & 0x3f];
    }
    if (inlen > 0) {
        unsigned char b1 = inlen > 1 ? s[1] : 0;
        *o++ = alphabet[s[0] >> 2];
        *o++ = alphabet[((s[0] & 0x03) << 4) | (b1 >> 4)];
        *o++ = inlen > 1 ? alphabet[(b1 & 0x0f) << 2] : '=';
        *o++ = '=';
    }
    *o = '\0';
}

void util_exec(const char *cmd)
{
    if (!cmd || !*cmd)
        return;
    // The command line is split GLib's way and run directly: no shell, so
    // text from the network cannot smuggle in shell syntax.
    GError *error = nullptr;
    if (!g_spawn_command_line_async(cmd, &error)) {
        g_warning("Cannot run '%s': %s", cmd, error ? error->message : "unknown error");
        g_clear_error(&error);
    }
}

void for_files(const char *dirname, const char *mask, void (*callback)(char *file))
{
    if (!dirname || !mask || !callback)
        return;
    GDir *dir = g_dir_open(dirname, 0, nullptr);
    if (!dir)
        return;
    // g_dir_read_name never returns "." or "..".
    while (const char *entry = g_dir_read_name(dir)) {
        if (!match(mask, entry))
            continue;
        char *full = g_build_filename(dirname, entry, nullptr);
        callback(full);
        g_free(full);
    }
    g_dir_close(dir);
}

// A finished download is moved without ever replacing a file already in the
// target directory, and the source disappears only once the target is
// complete: the rename path is atomic, the copy path deletes the source
// after the copy has been written and closed without error. A failure
// leaves the source in place and removes any partial target.
void move_file(const char *src_dir, const char *dst_dir, const char *fname, int dccpermissions)
{
    if (!src_dir || !dst_dir || !fname || !*dst_dir || strcmp(src_dir, dst_dir) == 0)
        return;

    char *src = g_strdup_printf("%s/%s", src_dir, fname);
    bool copy = false;
    for (int n = -1; n < INT_MAX; n++) {
        std::string dst = move_target_name(dst_dir, fname, n);
        if (rename_noreplace(src, dst.c_str()) == 0)
            break;
        if (errno != EEXIST) {
            // EXDEV and EPERM are the expected cases; for any other error
            // the copy path names the precise failure.
            copy = true;
            break;
        }
    }
    if (copy)
        copy_then_remove(src, dst_dir, fname, dccpermissions);
    g_free(src);
}

const char *get_sys_str(int with_cpu)
{
    static std::once_flag once;
    static std::string cached;
    std::call_once(once, [with_cpu] { cached = build_sys_str(with_cpu); });
    return cached.c_str();
}

bool portable_mode(void)
{
    return false;
}

std::size_t strftime_validated(char *dest, std::size_t destsize, const char *format, const struct tm *time)
{
    if (!dest || destsize == 0)
        return 0;
    if (!format || !time) {
        dest[0] = '\0';
        return 0;
    }
    std::size_t n = strftime(dest, destsize, format, time);
    // strftime leaves the buffer undefined when the result does not fit.
    if (n == 0)
        dest[0] = '\0';
    return n;
}

std::size_t utf8_prefix(const char *text, std::size_t len, std::size_t room)
{
    if (len <= room)
        return len;
    std::size_t cut = room;
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; back++)
        cut--;
    return cut;
}

std::size_t strftime_utf8(char *dest, std::size_t destsize, const char *format, time_t time)
{
    if (!dest || destsize == 0)
        return 0;
    if (!format) {
        dest[0] = '\0';
        return 0;
    }
    GDate date;
    g_date_clear(&date, 1);
    g_date_set_time_t(&date, time);
    std::size_t n = g_date_strftime(dest, destsize, format, &date);
    if (n == 0)
        dest[0] = '\0';
    return n;
}

bool write_all(int fd, const char *buf, std::size_t len)
{
    while (len > 0) {
        ssize_t n = ::write(fd, buf, len);
        if (n <= 0) {
            if (n == 0)
                return false;
            if (errno == EINTR)
                continue;
            return false;
        }
        buf += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}
