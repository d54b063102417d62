// The URL grabber and word classification.
//
// Addresses are recognised by a hand-written scanner rather than regular
// expressions with backtracking: a line from the network may be 8 KB of
// crafted text, and every step here is bounded so the cost stays linear in
// its length. Domain labels are letters and digits (any script) with inner
// hyphens; a path may hold balanced parentheses and loses trailing
// punctuation that ends a sentence.
#include "output/url.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "session/session.h"

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace
{

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t LABEL_MAX = 63;
constexpr std::string_view SCHEMES[] = {"http", "https", "ftp", "gopher", "gemini", "irc", "ircs"};
constexpr std::size_t SCHEME_MAX = 6;
constexpr const char *SYSTEM_SUFFIX_FILE = "/usr/share/publicsuffix/public_suffix_list.dat";

// ---- characters ---------------------------------------------------------------------

// The code point at `i` and its length in bytes; an invalid byte is one
// character that is neither letter nor digit.
gunichar char_at(std::string_view s, std::size_t i, std::size_t *len)
{
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        *len = 1;
        return c;
    }
    const std::size_t avail = std::min<std::size_t>(4, s.size() - i);
    gunichar cp = g_utf8_get_char_validated(s.data() + i, static_cast<gssize>(avail));
    if (cp == static_cast<gunichar>(-1) || cp == static_cast<gunichar>(-2)) {
        *len = 1;
        return 0xFFFD;
    }
    *len = static_cast<std::size_t>(g_utf8_skip[c]);
    return cp;
}

bool is_letter(gunichar c)
{
    return c < 0x80 ? g_ascii_isalpha(static_cast<char>(c)) : g_unichar_isalpha(c);
}

bool is_digit(gunichar c)
{
    if (c < 0x80)
        return g_ascii_isdigit(static_cast<char>(c));
    const GUnicodeType t = g_unichar_type(c);
    return t == G_UNICODE_DECIMAL_NUMBER || t == G_UNICODE_LETTER_NUMBER || t == G_UNICODE_OTHER_NUMBER;
}

bool is_alnum(gunichar c)
{
    return is_letter(c) || is_digit(c);
}

// The character before byte `i` (0 when `i` starts the text).
gunichar char_before(std::string_view s, std::size_t i)
{
    if (i == 0)
        return 0;
    std::size_t b = i - 1;
    while (b > 0 && i - b < 4 && (static_cast<unsigned char>(s[b]) & 0xC0) == 0x80)
        b--;
    std::size_t len;
    gunichar c = char_at(s, b, &len);
    return b + len == i ? c : 0xFFFD;
}

// A match may start only after something that cannot continue a word.
bool starts_bounded(std::string_view s, std::size_t start)
{
    const gunichar c = char_before(s, start);
    return start == 0 || !(is_alnum(c) || c == '-' || c == '_');
}

bool ends_bounded(std::string_view s, std::size_t end)
{
    if (end >= s.size())
        return true;
    std::size_t len;
    const gunichar c = char_at(s, end, &len);
    return !(is_alnum(c) || c == '_');
}

// ---- hosts and paths ------------------------------------------------------------------

struct label_run {
    std::size_t begin, end;     // bytes of [letters, digits, '-'] between dots
    std::size_t chars;          // characters in it
    std::size_t last_alnum_end; // end of its last letter or digit
    bool first_letter, first_alnum, last_alnum;
};

label_run scan_run(std::string_view s, std::size_t i)
{
    label_run r{i, i, 0, i, false, false, false};
    std::size_t len = 1;
    while (r.end < s.size()) {
        const auto byte = static_cast<unsigned char>(s[r.end]);
        gunichar c = byte;
        bool alnum;
        if (byte < 0x80) {
            alnum = g_ascii_isalnum(static_cast<char>(byte));
            len = 1;
        } else {
            c = char_at(s, r.end, &len);
            alnum = is_alnum(c);
        }
        if (!alnum && c != '-')
            break;
        if (r.chars == 0) {
            r.first_letter = is_letter(c);
            r.first_alnum = alnum;
        }
        r.end += len;
        r.chars++;
        r.last_alnum = alnum;
        if (alnum)
            r.last_alnum_end = r.end;
    }
    return r;
}

// A domain name of two or more labels whose last label starts with a
// letter: the end of the longest such name at `i`, or npos. `scanned`
// tells how far the labels went, so a caller can skip what cannot start a
// different name.
std::size_t parse_domain(std::string_view s, std::size_t i, std::size_t *scanned = nullptr)
{
    std::size_t best = npos;
    std::size_t pos = i;
    std::size_t labels = 0;
    bool middle_ok = true; // every label so far is a complete inner label
    for (;;) {
        const label_run r = scan_run(s, pos);
        if (r.chars == 0)
            break;
        if (scanned)
            *scanned = r.end;
        // As the last label: starts with a letter, ends at its last letter
        // or digit.
        if (labels >= 1 && middle_ok && r.first_letter)
            best = r.last_alnum_end;
        middle_ok = middle_ok && r.first_alnum && r.last_alnum && r.chars <= LABEL_MAX;
        labels++;
        if (!middle_ok || r.end + 1 >= s.size() || s[r.end] != '.')
            break;
        pos = r.end + 1;
    }
    return best;
}

// One octet: 0-255 without leading zeros, as long as fits.
std::size_t parse_octet(std::string_view s, std::size_t i, std::size_t max_digits)
{
    std::size_t n = 0;
    while (n < max_digits && i + n < s.size() && g_ascii_isdigit(s[i + n]))
        n++;
    while (n > 0) {
        const bool leading_zero = n > 1 && s[i] == '0';
        int value = 0;
        for (std::size_t k = 0; k < n; k++)
            value = value * 10 + (s[i + k] - '0');
        if (!leading_zero && value <= 255)
            return i + n;
        n--;
    }
    return npos;
}

std::size_t parse_ipv4_from(std::string_view s, std::size_t i, int octet)
{
    std::size_t max_digits = 3;
    while (max_digits > 0) {
        const std::size_t end = parse_octet(s, i, max_digits);
        if (end == npos)
            return npos;
        if (octet == 3)
            return end;
        if (end < s.size() && s[end] == '.') {
            const std::size_t rest = parse_ipv4_from(s, end + 1, octet + 1);
            if (rest != npos)
                return rest;
        }
        max_digits = end - i - 1; // a shorter octet may leave room for the rest
    }
    return npos;
}

// "[" hex groups of at most four digits "]": eight groups, or fewer with "::".
std::size_t parse_ipv6(std::string_view s, std::size_t i)
{
    std::size_t j = i + 1;
    int colons = 0;
    std::size_t group = 0;
    while (j < s.size() && j - i <= 41) {
        const char c = s[j];
        if (c == ']')
            break;
        if (c == ':') {
            colons++;
            group = 0;
        } else if (g_ascii_isxdigit(c) && ++group <= 4) {
        } else {
            return npos;
        }
        j++;
    }
    if (j >= s.size() || s[j] != ']' || colons < 2)
        return npos;
    const std::string_view inner = s.substr(i + 1, j - i - 1);
    if (colons != 7 && inner.find("::") == npos)
        return npos;
    return j + 1;
}

// A host (domain name, dotted IPv4 or bracketed IPv6) and an optional port.
std::size_t parse_host(std::string_view s, std::size_t i, std::size_t *scanned = nullptr)
{
    if (i >= s.size())
        return npos;
    std::size_t end;
    if (s[i] == '[') {
        end = parse_ipv6(s, i);
    } else {
        end = parse_domain(s, i, scanned);
        if (end == npos)
            end = parse_ipv4_from(s, i, 0);
    }
    if (end == npos)
        return npos;
    if (end + 1 < s.size() && s[end] == ':' && s[end + 1] >= '1' && s[end + 1] <= '9') {
        std::size_t p = end + 2;
        while (p < s.size() && p - end <= 5 && g_ascii_isdigit(s[p]))
            p++;
        end = p;
    }
    return end;
}

bool stops_path(char c)
{
    return c == '(' || c == ')' || c == ' ' || c == '\t';
}

// An optional path from `i`: "/" and anything but blanks and parentheses,
// except balanced pairs; never ending in . , ? ! or ].
std::size_t parse_path(std::string_view s, std::size_t i)
{
    if (i >= s.size() || s[i] != '/')
        return i;
    std::size_t p = i + 1;
    while (p < s.size()) {
        if (s[p] == '(') {
            std::size_t q = p + 1;
            while (q < s.size() && !stops_path(s[q]))
                q++;
            if (q < s.size() && s[q] == ')') {
                p = q + 1;
                continue;
            }
            break;
        }
        if (stops_path(s[p]))
            break;
        p++;
    }
    while (p > i + 1 && strchr(".,?!]", s[p - 1]))
        p--;
    return p;
}

// The length of the scheme and "://" at `i`, or 0.
std::size_t scheme_at(std::string_view s, std::size_t i)
{
    const char first = g_ascii_tolower(s[i]);
    if (first != 'h' && first != 'f' && first != 'g' && first != 'i')
        return 0;
    for (const std::string_view scheme : SCHEMES) {
        const std::size_t n = scheme.size();
        if (scheme[0] == first && i + n + 3 <= s.size() && g_ascii_strncasecmp(s.data() + i, scheme.data(), n) == 0 &&
            s.substr(i + n, 3) == "://")
            return n + 3;
    }
    return 0;
}

std::size_t url_end_at(std::string_view s, std::size_t i, bool with_scheme)
{
    std::size_t p = i;
    if (with_scheme) {
        const std::size_t n = scheme_at(s, i);
        if (!n)
            return npos;
        p += n;
    }
    const std::size_t host_end = parse_host(s, p);
    return host_end == npos ? npos : parse_path(s, host_end);
}

// Calls `fn(start, end)` for each URL with a scheme in `s`, left to right,
// without overlaps; `fn` returns false to stop. Only places with "://"
// are tried, so text without it costs one search.
template <typename Fn> void for_each_scheme_url(std::string_view s, Fn fn)
{
    std::size_t from = 0;
    while (from < s.size()) {
        // One pass of plain comparisons: lines dense with ':' or "://"
        // would cost a library call each.
        std::size_t sep = from;
        while (sep + 2 < s.size() && !(s[sep] == ':' && s[sep + 1] == '/' && s[sep + 2] == '/'))
            sep++;
        if (sep + 2 >= s.size())
            return;
        std::size_t first = sep;
        while (first > from && sep - first < SCHEME_MAX && g_ascii_isalpha(s[first - 1]))
            first--;
        std::size_t found_end = npos, found_start = npos;
        for (std::size_t st = first; st < sep; st++) {
            if (scheme_at(s, st) != sep - st + 3)
                continue;
            found_end = url_end_at(s, st, true);
            found_start = st;
            break;
        }
        if (found_end != npos) {
            if (!fn(found_start, found_end))
                return;
            from = found_end;
        } else {
            from = sep + 3;
        }
    }
}

// ---- public suffixes --------------------------------------------------------------------

std::string suffix_file = SYSTEM_SUFFIX_FILE;
std::unique_ptr<std::unordered_set<std::string>> suffixes;

const std::unordered_set<std::string> &suffix_set()
{
    if (suffixes)
        return *suffixes;
    suffixes = std::make_unique<std::unordered_set<std::string>>();
    gchar *data = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(suffix_file.c_str(), &data, &size, nullptr)) {
        g_info("public suffix list %s cannot be read; names without a scheme are not links", suffix_file.c_str());
        return *suffixes;
    }
    suffixes->reserve(16384);
    std::string_view text(data, size);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == npos)
            eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        const std::size_t blank = line.find_first_of(" \t\r");
        line = line.substr(0, blank);
        if (line.empty() || line.starts_with("//"))
            continue;
        gchar *lower = g_utf8_strdown(line.data(), static_cast<gssize>(line.size()));
        suffixes->insert(lower);
        g_free(lower);
    }
    g_free(data);
    return *suffixes;
}

// ---- the grabber ------------------------------------------------------------------------

std::deque<std::string> grabbed;
std::unordered_set<std::string> grabbed_index; // ASCII lower case

std::string ascii_lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = g_ascii_tolower(c);
    return out;
}

void grab(const std::string &url)
{
    const std::string key = ascii_lower(url);
    if (grabbed_index.contains(key))
        return;
    if (prefs.url_grabber_limit > 0) {
        const auto limit = static_cast<std::size_t>(prefs.url_grabber_limit);
        while (grabbed.size() >= limit) {
            grabbed_index.erase(ascii_lower(grabbed.front()));
            grabbed.pop_front();
        }
    }
    grabbed.push_back(url);
    grabbed_index.insert(key);
    fe_url_add(url.c_str());
}

// ---- classification ---------------------------------------------------------------------

int last_kind;
int last_start;
int last_end;

int remember(int kind, std::size_t start, std::size_t end)
{
    last_kind = kind;
    last_start = static_cast<int>(start);
    last_end = static_cast<int>(end);
    return kind;
}

bool classify_scheme_url(std::string_view w, std::size_t *start, std::size_t *end)
{
    bool found = false;
    for_each_scheme_url(w, [&](std::size_t b, std::size_t e) {
        if (starts_bounded(w, b) && ends_bounded(w, e)) {
            *start = b;
            *end = e;
            found = true;
        }
        return true;
    });
    return found;
}

// The last bounded match of `parse` among the places `can_start` allows,
// matches not overlapping; a failed place skips what its scan covered.
template <typename Can, typename Parse>
bool last_bounded(std::string_view w, Can can_start, Parse parse, std::size_t *start, std::size_t *end)
{
    bool found = false;
    std::size_t p = 0;
    while (p < w.size()) {
        std::size_t len;
        char_at(w, p, &len);
        if (!can_start(p) || !starts_bounded(w, p)) {
            p += len;
            continue;
        }
        std::size_t scanned = p;
        const std::size_t e = parse(p, &scanned);
        if (e != npos && ends_bounded(w, e)) {
            *start = p;
            *end = e;
            found = true;
            p = e > p ? e : p + len;
        } else {
            p = scanned > p ? scanned : p + len;
        }
    }
    return found;
}

bool host_acceptable(std::string_view url)
{
    const std::size_t cut = url.find_first_of(":/");
    const std::string_view host = url.substr(0, cut);
    if (host.find('.') == npos || host.find("..") != npos || host.front() == '.' || host.back() == '.')
        return false;
    return url_host_has_public_suffix(std::string(host));
}

bool classify_plain_url(std::string_view w, std::size_t *start, std::size_t *end)
{
    std::size_t b = 0, e = 0;
    const bool found = last_bounded(
        w,
        [&](std::size_t p) {
            std::size_t len;
            const gunichar c = char_at(w, p, &len);
            return is_alnum(c) || c == '[';
        },
        [&](std::size_t p, std::size_t *scanned) {
            const std::size_t host_end = parse_host(w, p, scanned);
            return host_end == npos ? npos : parse_path(w, host_end);
        },
        &b, &e);
    if (!found || (b > 0 && w[b - 1] == '@') || w[b] == '[' || !host_acceptable(w.substr(b, e - b)))
        return false;
    *start = b;
    *end = e;
    return true;
}

bool email_local_char(char c)
{
    return g_ascii_isalnum(c) || (c & 0x80) || strchr("!#$%&'*+/=?^_`{|}~-", c);
}

bool classify_email(std::string_view w, std::size_t *start, std::size_t *end)
{
    bool found = false;
    std::size_t from = 0;
    while (from < w.size()) {
        const std::size_t at = w.find('@', from);
        if (at == npos)
            break;
        from = at + 1;
        // The local part: allowed characters in dot-separated runs just before "@".
        std::size_t b = at;
        while (b > 0 && (email_local_char(w[b - 1]) || w[b - 1] == '.'))
            b--;
        if (b == at || w[at - 1] == '.')
            continue;
        const std::size_t dots = w.rfind("..", at);
        if (dots != npos && dots >= b)
            b = dots + 2;
        while (b < at && w[b] == '.')
            b++;
        const std::size_t e = parse_domain(w, at + 1);
        if (e == npos || !starts_bounded(w, b) || !ends_bounded(w, e))
            continue;
        *start = b;
        *end = e;
        found = true;
        from = e;
    }
    return found;
}

int classify_channel(std::string_view w, server *serv)
{
    const char *chantypes = serv && serv->chantypes ? serv->chantypes : "#&!+";
    const char *prefixes = serv && serv->nickprefixes ? serv->nickprefixes : "~+!@%&";
    auto match_end = [&](std::size_t b) {
        std::size_t e = b;
        for (;;) {
            e++;
            while (e < w.size() && !strchr(" \t\a,", w[e]))
                e++;
            if (e + 2 < w.size() && w[e] == ',' && strchr("#&!+", w[e + 1]) && !strchr(" \t\a,", w[e + 2])) {
                e++;
                continue;
            }
            return e;
        }
    };
    // Matches do not overlap: "#a,#b" is one channel list, not "#b".
    std::size_t b = npos, e = npos;
    for (std::size_t p = 0; p + 1 < w.size(); p++) {
        if (!strchr("#&!+", w[p]) || strchr(" \t\a,", w[p + 1]) || !starts_bounded(w, p))
            continue;
        const std::size_t end = match_end(p);
        if (ends_bounded(w, end)) {
            b = p;
            e = end;
        }
        p = end - 1;
    }
    if (b == npos)
        return WORD_NONE;
    if (strchr(prefixes, w[b]) && b + 1 < e && strchr(chantypes, w[b + 1]))
        b++;
    else if (!strchr(chantypes, w[b]))
        return WORD_NONE;
    return remember(WORD_CHANNEL, b, e);
}

bool nick_char(char c, bool first)
{
    return g_ascii_isalnum(c) || strchr("[]\\`_^{|}", c) || (!first && c == '-');
}

int classify_nick(std::string_view w, session *sess)
{
    server *serv = sess ? sess->server : nullptr;
    const char *prefixes = serv && serv->nickprefixes ? serv->nickprefixes : "~+!@%&";
    std::size_t b = 0;
    if (!w.empty() && strchr("~+!@%&", w[0])) {
        if (!strchr(prefixes, w[0]))
            return WORD_NONE;
        b = 1;
    }
    if (b >= w.size() || !w[b] || !nick_char(w[b], true))
        return WORD_NONE;
    std::size_t e = b + 1;
    while (e < w.size() && w[e] && nick_char(w[e], false))
        e++;
    if (!ends_bounded(w, e) || !sess)
        return WORD_NONE;
    const std::string nick(w.substr(b, e - b));
    if (!userlist_find(sess, nick.c_str()))
        return WORD_NONE;
    return remember(WORD_NICK, b, e);
}

} // namespace

void url_check_line(const char *line)
{
    if (!line || (!prefs.url_logging && !prefs.url_grabber))
        return;
    std::string_view s(line);
    if (!s.empty() && s[0] == ':') {
        const std::size_t sp = s.find(' ');
        if (sp == npos)
            return;
        s.remove_prefix(sp + 1);
    }
    bool wanted = false;
    for (const char *cmd : {"NOTICE ", "PRIVMSG ", "TOPIC ", "332 ", "372 "})
        if (s.starts_with(cmd)) {
            s.remove_prefix(strlen(cmd));
            wanted = true;
            break;
        }
    if (!wanted)
        return;
    const std::size_t sp = s.find(' ');
    if (sp == npos)
        return;
    s.remove_prefix(sp + 1);

    std::vector<std::string> found;
    for_each_scheme_url(s, [&](std::size_t b, std::size_t e) {
        std::string url(s.substr(b, e - b));
        while (!url.empty() && (url.back() == '\r' || url.back() == '\n'))
            url.pop_back();
        if (url.empty())
            return true;
        if (url.back() == '.')
            url.pop_back();
        if (!url.empty() && url.back() == ')' && url.find('(') == npos)
            url.pop_back();
        found.push_back(std::move(url));
        return true;
    });
    if (found.empty())
        return;
    if (prefs.url_logging) {
        const std::string path = std::string(get_xdir()) + "/url.log";
        // A log that cannot be opened is skipped; grabbing goes on.
        if (FILE *f = fopen(path.c_str(), "a")) {
            for (const std::string &url : found)
                fprintf(f, "%s\n", url.c_str());
            fclose(f);
        }
    }
    if (prefs.url_grabber)
        for (const std::string &url : found)
            grab(url);
}

int url_check_word(const char *word)
{
    last_kind = WORD_NONE;
    last_start = last_end = 0;
    if (!word || !*word)
        return WORD_NONE;
    const std::string_view w(word);
    std::size_t b = 0, e = 0;
    if (classify_scheme_url(w, &b, &e) || classify_plain_url(w, &b, &e))
        return remember(WORD_URL, b, e);
    if (classify_email(w, &b, &e))
        return remember(WORD_EMAIL, b, e);
    session *sess = current_sess;
    if (classify_channel(w, sess ? sess->server : nullptr))
        return last_kind;
    if (classify_nick(w, sess))
        return last_kind;
    return WORD_NONE;
}

int url_last(int *start, int *end)
{
    if (start)
        *start = last_start;
    if (end)
        *end = last_end;
    return last_kind;
}

bool url_save_tree(const char *file, const char *mode, bool fullpath)
{
    if (!file || !mode)
        return false;
    const std::string path = fullpath ? std::string(file) : std::string(get_xdir()) + "/" + file;
    FILE *f = fopen(path.c_str(), mode);
    if (!f)
        return false;
    bool ok = true;
    for (const std::string &url : grabbed)
        ok = fprintf(f, "%s\n", url.c_str()) >= 0 && ok;
    return fclose(f) == 0 && ok;
}

void url_clear(void)
{
    grabbed.clear();
    grabbed_index.clear();
}

const std::deque<std::string> &url_grabbed(void)
{
    return grabbed;
}

bool url_host_has_public_suffix(const std::string &host)
{
    const auto &set = suffix_set();
    if (set.empty() || host.empty())
        return false;
    gchar *lower_c = g_utf8_strdown(host.c_str(), -1);
    std::string lower(lower_c);
    g_free(lower_c);
    std::string_view rest(lower);
    for (;;) {
        const std::size_t dot = rest.find('.');
        const std::string candidate(rest);
        if (set.contains(candidate) || set.contains("!" + candidate))
            return true;
        if (dot == npos)
            return false;
        if (set.contains("*." + std::string(rest.substr(dot + 1))))
            return true;
        rest.remove_prefix(dot + 1);
    }
}

void url_set_suffix_file(const char *path)
{
    suffix_file = path ? path : SYSTEM_SUFFIX_FILE;
    suffixes.reset();
}
