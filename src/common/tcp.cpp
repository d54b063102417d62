// The send queue and flood clock, and the conversion and write of each line.

#include "tcp.h"

#include "cfgfiles.h"
#include "fe.h"
#include "server.h"
#include "ssl.h"
#include "url.h"

#include <openssl/crypto.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

time_t wall_clock(void) { return time(nullptr); }

// Queue priorities: higher leaves first.
enum : char { PRIO_LOW = 0, PRIO_MESSAGE = 1, PRIO_NORMAL = 2 };

// The clock may run this far ahead of now: the burst a server tolerates
// before its own flood protection starts dropping or disconnecting us.
constexpr time_t FLOOD_AHEAD_LIMIT = 10;
// Every line costs this many seconds, plus one per full PARAM_BYTES_PER_SECOND
// bytes of parameters.
constexpr time_t LINE_COST_SECONDS = 2;
constexpr int PARAM_BYTES_PER_SECOND = 120;
constexpr int PUMP_INTERVAL_MS = 500;
// The line without its CR LF.
constexpr int IRC_BODY_MAX = IRC_LINE_MAX - 2;

// The pump timer of each server whose queue the clock holds back. Kept here
// rather than in the server record: only this module starts or stops it.
std::unordered_map<server *, int> pump_timers;

// Heap memory that is wiped before it is returned, for text that may carry
// a password (PASS, AUTHENTICATE, NickServ lines).
template <class T> struct wiping_allocator {
    using value_type = T;
    wiping_allocator() = default;
    template <class U> wiping_allocator(const wiping_allocator<U> &) {}
    T *allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T *p, std::size_t n)
    {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U> bool operator==(const wiping_allocator<U> &) const { return true; }
};
using wiped_bytes = std::vector<char, wiping_allocator<char>>;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The longest prefix of p[0..n) of at most `limit` bytes that does not end
// inside a UTF-8 sequence. Text that is not UTF-8 is cut at `limit`.
std::size_t utf8_prefix(const char *p, std::size_t n, std::size_t limit)
{
    if (n <= limit)
        return n;
    std::size_t cut = limit;
    for (int back = 0; back < 4 && cut > 0; back++, cut--) {
        if (!is_continuation(static_cast<unsigned char>(p[cut])))
            return cut;
    }
    return limit;
}

// Whether the command word at the start of `body` is `word` (ASCII case
// ignored) followed by a space or the end.
bool command_is(const char *body, const char *word)
{
    const std::size_t n = strlen(word);
    return g_ascii_strncasecmp(body, word, n) == 0 && (body[n] == ' ' || body[n] == '\r' || body[n] == 0);
}

// A MODE line that only asks (no target mode change): no second word, or
// one without "+" and "-" ("MODE #chan b" lists bans).
bool is_mode_query(const char *body)
{
    const char *target = strchr(body, ' ');
    while (target && *target == ' ')
        target++;
    if (!target || !*target || *target == '\r')
        return true;
    const char *second = strchr(target, ' ');
    while (second && *second == ' ')
        second++;
    if (!second || !*second || *second == '\r')
        return true;
    const std::size_t len = strcspn(second, " \r");
    return !memchr(second, '+', len) && !memchr(second, '-', len);
}

// The priority of a line, judged by its command (after any tag section, so
// a tagged message keeps its place among untagged ones).
char line_priority(const char *body)
{
    if (command_is(body, "PRIVMSG") || command_is(body, "NOTICE"))
        return PRIO_MESSAGE;
    if (g_ascii_strncasecmp(body, "WHO ", 4) == 0)
        return PRIO_LOW;
    if (command_is(body, "MODE") && is_mode_query(body))
        return PRIO_LOW;
    return PRIO_NORMAL;
}

// Start of the command in `line`: past a "@tags " section.
const char *line_body(const char *line)
{
    if (line[0] != '@')
        return line;
    const char *space = strchr(line, ' ');
    return space ? space + 1 : line + strlen(line);
}

// Builds a queue element from one line without its line end: one priority
// byte, the text and CR LF, NUL-terminated. Stray CR and NUL bytes become
// spaces; the tag section and the rest are cut to the protocol limits (a
// too long tag section loses whole tags). Null for a line with no command.
char *make_queued_line(const char *p, std::size_t n)
{
    std::size_t tags = 0;  // bytes of "@tags " kept, the space included
    std::size_t skip = 0;  // bytes of the tag section in the input
    if (n > 0 && p[0] == '@') {
        const char *space = static_cast<const char *>(memchr(p, ' ', n));
        if (!space)
            return nullptr;
        skip = static_cast<std::size_t>(space - p) + 1;
        tags = skip;
        if (tags > static_cast<std::size_t>(IRC_TAG_SECTION_MAX)) {
            // Keep the tags that fit whole; a half tag could change its meaning.
            tags = 0;
            for (std::size_t i = IRC_TAG_SECTION_MAX - 1; i > 1; i--) {
                if (p[i] == ';') {
                    tags = i + 1;
                    break;
                }
            }
        }
    }
    const char *body = p + skip;
    std::size_t body_len = n - skip;
    while (body_len > 0 && body[0] == ' ') {
        body++;
        body_len--;
    }
    body_len = utf8_prefix(body, body_len, IRC_BODY_MAX);
    if (body_len == 0)
        return nullptr;

    auto *elem = static_cast<char *>(g_malloc(1 + tags + body_len + 3));
    char *out = elem + 1;
    if (tags) {
        memcpy(out, p, tags - 1);
        out[tags - 1] = ' ';
        out += tags;
    }
    memcpy(out, body, body_len);
    for (std::size_t i = 0; i < tags + body_len; i++) {
        if (elem[1 + i] == '\r' || elem[1 + i] == '\0')
            elem[1 + i] = ' ';
    }
    memcpy(elem + 1 + tags + body_len, "\r\n", 3);
    elem[0] = line_priority(elem + 1 + tags);
    return elem;
}

void release_line(char *elem)
{
    const std::size_t size = strlen(elem + 1) + 2;
    OPENSSL_cleanse(elem, size);
    if (tcp_line_release_hook)
        tcp_line_release_hook(elem, size);
    g_free(elem);
}

// Converts n bytes of UTF-8 with `encoder`, appending to `out`. Characters
// the target set cannot hold, and bytes that are not UTF-8, become "?".
void convert_into(GIConv encoder, const char *text, std::size_t n, wiped_bytes &out)
{
    g_iconv(encoder, nullptr, nullptr, nullptr, nullptr);
    std::size_t used = out.size();
    out.resize(used + n + 16);
    auto *in = const_cast<gchar *>(text);
    gsize in_left = n;
    bool flushing = false;
    for (;;) {
        gchar *dst = out.data() + used;
        gsize dst_left = out.size() - used;
        // A null input flushes the shift state of stateful sets (ISO-2022-JP).
        const gsize r = flushing ? g_iconv(encoder, nullptr, nullptr, &dst, &dst_left)
                                 : g_iconv(encoder, &in, &in_left, &dst, &dst_left);
        const int err = errno;
        used = static_cast<std::size_t>(dst - out.data());
        if (r != static_cast<gsize>(-1)) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        if (err == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        if (flushing)
            break;
        if (err == EILSEQ && in_left > 0) {
            const gunichar c = g_utf8_get_char_validated(in, static_cast<gssize>(in_left));
            const std::size_t skip =
                (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2))
                    ? 1
                    : static_cast<std::size_t>(g_utf8_next_char(in) - in);
            in += std::min(skip, static_cast<std::size_t>(in_left));
            in_left -= std::min(skip, static_cast<std::size_t>(in_left));
        } else {
            // An incomplete sequence at the end, or an error iconv gives no
            // way past: what is left becomes one "?".
            in_left = 0;
        }
        if (out.size() - used < 1)
            out.resize(out.size() * 2 + 16);
        out[used++] = '?';
        if (in_left == 0)
            flushing = true;
    }
    out.resize(used);
}

int write_wire(SSL *tls, int sok, const char *data, std::size_t len)
{
    if (len == 0)
        return 0;
    if (tls)
        return _SSL_send(tls, data, static_cast<int>(len));
    ssize_t r;
    do
        r = send(sok, data, len, MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

bool has_encoder(const server *serv) { return serv->encoder != reinterpret_cast<GIConv>(-1); }

// Sends one finished line (CR LF included) to the server: raw log, URL
// scan, conversion, write. In a character set where text grows, the line is
// shortened further so that the converted line still fits the protocol.
int send_line(server *serv, const char *line, std::size_t len)
{
    if (!has_encoder(serv)) {
        fe_add_rawlog(serv, const_cast<char *>(line), static_cast<int>(len), 1);
        url_check_line(line);
        return write_wire(serv->tls, serv->sock, line, len);
    }

    const std::size_t tags = static_cast<std::size_t>(line_body(line) - line);
    const char *body = line + tags;
    std::size_t body_len = len - tags - 2;
    wiped_bytes wire;
    for (;;) {
        wire.clear();
        convert_into(serv->encoder, line, tags, wire);
        const std::size_t tag_bytes = wire.size();
        convert_into(serv->encoder, body, body_len, wire);
        const std::size_t excess = wire.size() - tag_bytes;
        if (excess <= static_cast<std::size_t>(IRC_BODY_MAX) || body_len == 0)
            break;
        body_len = utf8_prefix(body, body_len, body_len - std::min(body_len, excess - IRC_BODY_MAX));
    }
    wire.push_back('\r');
    wire.push_back('\n');

    wiped_bytes shown(line, line + tags + body_len);
    shown.push_back('\r');
    shown.push_back('\n');
    shown.push_back('\0');
    fe_add_rawlog(serv, shown.data(), static_cast<int>(shown.size() - 1), 1);
    url_check_line(shown.data());
    return write_wire(serv->tls, serv->sock, wire.data(), wire.size());
}

// Moves the flood clock on for one line leaving at `now`.
void charge_clock(server *serv, const char *text, time_t now)
{
    if (serv->send_clock < now)
        serv->send_clock = now;
    const char *space = strchr(text, ' ');
    const std::size_t rest = space ? strlen(space) : 0;
    serv->send_clock += LINE_COST_SECONDS + static_cast<time_t>(rest / PARAM_BYTES_PER_SECOND);
}

GSList *first_of_priority(GSList *queue, char prio)
{
    for (GSList *l = queue; l; l = l->next) {
        if (static_cast<char *>(l->data)[0] == prio)
            return l;
    }
    return nullptr;
}

// Sends what the clock allows, highest priority first. True while lines wait.
bool send_queue_run(server *serv)
{
    if (!is_server(serv))
        return false;
    const time_t now = tcp_clock();
    for (char prio = PRIO_NORMAL; prio >= PRIO_LOW; prio--) {
        while (GSList *link = first_of_priority(serv->send_queue, prio)) {
            if (serv->send_clock < now)
                serv->send_clock = now;
            if (serv->send_clock - now >= FLOOD_AHEAD_LIMIT) {
                if (now >= serv->last_send_time)
                    return true;
                // The wall clock went backwards: waiting for the old clock
                // could take hours, so start counting afresh.
                serv->send_clock = now;
            }
            auto *elem = static_cast<char *>(link->data);
            const char *text = elem + 1;
            const std::size_t len = strlen(text);
            charge_clock(serv, text, now);
            serv->queued_bytes -= static_cast<int>(len);
            serv->last_send_time = now;
            serv->send_queue = g_slist_delete_link(serv->send_queue, link);
            fe_set_throttle(serv);
            send_line(serv, text, len);
            release_line(elem);
        }
    }
    return false;
}

int pump_tick(void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    if (send_queue_run(serv))
        return 1;
    pump_timers.erase(serv);
    return 0;
}

// Calls `each` with every line of buf[0..len) as a queue element; line
// breaks are LF, with or without CR.
template <class F> void for_each_line(const char *buf, int len, F each)
{
    if (!buf || len <= 0)
        return;
    const char *p = buf;
    const char *end = buf + len;
    while (p < end) {
        const char *lf = static_cast<const char *>(memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char *stop = lf ? lf : end;
        std::size_t n = static_cast<std::size_t>(stop - p);
        if (n > 0 && p[n - 1] == '\r')
            n--;
        if (char *elem = make_queued_line(p, n))
            each(elem);
        p = lf ? lf + 1 : end;
    }
}

}  // namespace

time_t (*tcp_clock)(void) = wall_clock;
void (*tcp_line_release_hook)(const char *, std::size_t) = nullptr;

int tcp_send_real(SSL *tls, int sok, GIConv encoder, const char *buf, int len)
{
    if (!buf || len <= 0)
        return 0;
    if (encoder == reinterpret_cast<GIConv>(-1))
        return write_wire(tls, sok, buf, static_cast<std::size_t>(len));
    wiped_bytes wire;
    convert_into(encoder, buf, static_cast<std::size_t>(len), wire);
    return write_wire(tls, sok, wire.data(), wire.size());
}

int tcp_send_len(server *serv, const char *buf, int len)
{
    if (!prefs.net_throttle) {
        for_each_line(buf, len, [serv](char *elem) {
            send_line(serv, elem + 1, strlen(elem + 1));
            release_line(elem);
        });
        return 1;
    }

    const bool pumping = pump_timers.count(serv) != 0;
    bool added = false;
    for_each_line(buf, len, [serv, &added](char *elem) {
        serv->send_queue = g_slist_append(serv->send_queue, elem);
        serv->queued_bytes += static_cast<int>(strlen(elem + 1));
        added = true;
    });
    if (!added)
        return 1;
    // While the pump runs, the clock is what holds lines back: new ones
    // just wait their turn.
    if (pumping) {
        fe_set_throttle(serv);
        return 1;
    }
    if (send_queue_run(serv)) {
        fe_set_throttle(serv);
        pump_timers[serv] = fe_timeout_add(PUMP_INTERVAL_MS, pump_tick, serv);
    }
    return 1;
}

int tcp_send_now(server *serv, const char *buf, int len)
{
    for_each_line(buf, len, [serv](char *elem) {
        const time_t now = tcp_clock();
        const char *text = elem + 1;
        charge_clock(serv, text, now);
        serv->last_send_time = now;
        send_line(serv, text, strlen(text));
        release_line(elem);
    });
    return 1;
}

namespace {

// Formats one line into buf (TCP_SENDF_BUFSIZE bytes) and returns its
// length, CR LF included.
std::size_t format_line(char *buf, const char *fmt, va_list args)
{
    const int n = g_vsnprintf(buf, TCP_SENDF_BUFSIZE, fmt, args);
    if (n < 0)
        return 0;
    std::size_t len = std::min(static_cast<std::size_t>(n), static_cast<std::size_t>(TCP_SENDF_BUFSIZE - 1));
    if (len >= 1 && buf[len - 1] == '\n')
        len--;
    if (len >= 1 && buf[len - 1] == '\r')
        len--;
    // Only the format's own line end may end the line: a CR or LF that came
    // in with a nick, a channel key or a message would start a new command.
    for (std::size_t i = 0; i < len; i++) {
        if (buf[i] == '\r' || buf[i] == '\n')
            buf[i] = ' ';
    }
    len = std::min(len, static_cast<std::size_t>(TCP_SENDF_BUFSIZE - 3));
    buf[len] = '\r';
    buf[len + 1] = '\n';
    return len + 2;
}

}  // namespace

void tcp_sendf(server *serv, const char *fmt, ...)
{
    char buf[TCP_SENDF_BUFSIZE];
    va_list args;
    va_start(args, fmt);
    const std::size_t len = format_line(buf, fmt, args);
    va_end(args);
    tcp_send_len(serv, buf, static_cast<int>(len));
    OPENSSL_cleanse(buf, sizeof buf);
}

void tcp_sendf_now(server *serv, const char *fmt, ...)
{
    char buf[TCP_SENDF_BUFSIZE];
    va_list args;
    va_start(args, fmt);
    const std::size_t len = format_line(buf, fmt, args);
    va_end(args);
    tcp_send_now(serv, buf, static_cast<int>(len));
    OPENSSL_cleanse(buf, sizeof buf);
}

void tcp_clear_queue(server *serv)
{
    for (GSList *l = serv->send_queue; l; l = l->next)
        release_line(static_cast<char *>(l->data));
    g_slist_free(serv->send_queue);
    serv->send_queue = nullptr;
    serv->queued_bytes = 0;
    if (auto it = pump_timers.find(serv); it != pump_timers.end()) {
        fe_timeout_remove(it->second);
        pump_timers.erase(it);
    }
    fe_set_throttle(serv);
}
