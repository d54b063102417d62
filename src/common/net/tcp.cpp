// The send queue and flood clock, and the conversion and write of each line.

#include "net/tcp.h"

#include "base/guard.h"
#include "base/secret.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "net/ssl.h"
#include "output/url.h"

#include <openssl/crypto.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

namespace
{

time_t wall_clock(void)
{
    return time(nullptr);
}

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

using wiped_bytes = std::vector<char, wiping_allocator<char>>;

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
    std::size_t tags = 0; // bytes of "@tags " kept, the space included
    std::size_t skip = 0; // bytes of the tag section in the input
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
            const std::size_t skip = (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2))
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
        return ssl_send(tls, data, static_cast<int>(len));
    ssize_t r;
    do
        r = send(sok, data, len, MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

// ---- bytes the socket did not take yet ---------------------------------------
//
// A non-blocking socket with a full send buffer takes part of a line or none
// of it. What it did not take waits here, per server (beside the pump
// timers, for the same reason), and a write watch hands it over as the
// socket drains; while anything waits, new bytes go behind it. Losing the
// rest instead would glue the next line to a half one.

// Below this many bytes already sent, the buffer is not compacted: moving
// the rest forward costs more than the memory it frees.
constexpr std::size_t COMPACT_MIN = 64 * 1024;
// The most handed to one SSL_write from the waiting bytes (one TLS record).
constexpr std::size_t TLS_WRITE_MAX = 16 * 1024;

struct pending_output {
    wiped_bytes bytes; // bytes[head..) are not yet written
    std::size_t head = 0;
    // Where each line in `bytes` ends (indices into `bytes`, ascending), and
    // where the first of them starts: tells a partly written line from
    // whole ones that were never begun.
    std::deque<std::size_t> line_ends;
    std::size_t front_start = 0;
    // Length of an SSL_write that would block. OpenSSL may already have sent
    // part of it and insists that the retry has the same length and bytes.
    std::size_t tls_retry = 0;
    // The connection the bytes were meant for. A reconnect (a new
    // generation, often the same descriptor number) or another socket must
    // never receive them.
    int sock = -1;
    SSL *tls = nullptr;
    unsigned int generation = 0;
    int watch = 0; // the write watch while bytes wait
};

std::unordered_map<server *, pending_output> pending_outputs;

// Whether the connection the bytes were written for is still the server's.
// `serv` must be a live server.
bool still_owns(const server *serv, const pending_output &p)
{
    return serv->connected && serv->sock == p.sock && serv->tls == p.tls && serv->connect_generation == p.generation;
}

// Wipes and frees the waiting bytes of `serv` and removes their watch
// (unless it is the one running: it ends by returning false).
void drop_pending(server *serv, bool from_watch)
{
    auto it = pending_outputs.find(serv);
    if (it == pending_outputs.end())
        return;
    pending_output &p = it->second;
    if (p.watch && !from_watch)
        fe_input_remove(p.watch);
    // The whole capacity: bytes already written or cut off linger past size().
    OPENSSL_cleanse(p.bytes.data(), p.bytes.capacity());
    if (tcp_pending_release_hook)
        tcp_pending_release_hook(p.bytes.data(), p.bytes.capacity());
    pending_outputs.erase(it);
}

// The last write returned r: whether the socket merely had no room.
bool would_block(int r, int err)
{
    return r <= 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR);
}

// Forgets n written bytes at head (wiping them: they may hold a password).
void consume(pending_output &p, std::size_t n)
{
    OPENSSL_cleanse(p.bytes.data() + p.head, n);
    p.head += n;
    while (!p.line_ends.empty() && p.line_ends.front() <= p.head) {
        p.front_start = p.line_ends.front();
        p.line_ends.pop_front();
    }
    if (p.head == p.bytes.size()) {
        p.bytes.clear();
        p.head = p.front_start = 0;
        return;
    }
    // Compacting stops at the start of the line being written (its written
    // part is already zeros): that start is what tells a clear that the
    // line was begun.
    const std::size_t shift = p.front_start;
    if (shift < COMPACT_MIN || shift * 2 < p.bytes.size())
        return;
    const std::size_t rest = p.bytes.size() - shift;
    memmove(p.bytes.data(), p.bytes.data() + shift, rest);
    OPENSSL_cleanse(p.bytes.data() + rest, shift);
    p.bytes.resize(rest);
    for (std::size_t &end : p.line_ends)
        end -= shift;
    p.head -= shift;
    p.front_start = 0;
}

enum class flush_result { done, blocked, failed };

// Writes waiting bytes until none are left or the socket has no room.
flush_result flush_pending(pending_output &p)
{
    while (p.head < p.bytes.size()) {
        const std::size_t left = p.bytes.size() - p.head;
        const std::size_t want = !p.tls ? left : p.tls_retry ? p.tls_retry : std::min(left, TLS_WRITE_MAX);
        errno = 0;
        const int r = write_wire(p.tls, p.sock, p.bytes.data() + p.head, want);
        const int err = errno;
        if (r > 0) {
            p.tls_retry = 0;
            consume(p, static_cast<std::size_t>(r));
            continue;
        }
        if (!would_block(r, err))
            return flush_result::failed;
        if (p.tls)
            p.tls_retry = want;
        return flush_result::blocked;
    }
    return flush_result::done;
}

gboolean pending_writable(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    return guarded<gboolean>("writing to server", FALSE, [&]() -> gboolean {
        auto it = pending_outputs.find(serv);
        if (it == pending_outputs.end())
            return FALSE;
        // A failed write means a broken connection: the reader reports it, and
        // the rest could only be thrown away.
        if (is_server(serv) && still_owns(serv, it->second) && flush_pending(it->second) == flush_result::blocked)
            return TRUE;
        drop_pending(serv, true);
        return FALSE;
    });
}

void append_pending(pending_output &p, const char *data, std::size_t len)
{
    p.bytes.insert(p.bytes.end(), data, data + len);
    p.line_ends.push_back(p.bytes.size());
}

// Writes one line's wire bytes to the server's connection, or lets them
// wait behind bytes that are already waiting.
int deliver(server *serv, const char *data, std::size_t len)
{
    if (len == 0)
        return 0;
    if (auto it = pending_outputs.find(serv); it != pending_outputs.end()) {
        if (is_server(serv) && still_owns(serv, it->second)) {
            append_pending(it->second, data, len);
            return static_cast<int>(len);
        }
        drop_pending(serv, false);
    }
    errno = 0;
    const int r = write_wire(serv->tls, serv->sock, data, len);
    const int err = errno;
    if (r > 0 && static_cast<std::size_t>(r) == len)
        return r;
    // Without a live connection nothing would ever drain the rest.
    if (!(r > 0 || would_block(r, err)) || !is_server(serv) || !serv->connected)
        return r;

    pending_output &p = pending_outputs[serv];
    p.sock = serv->sock;
    p.tls = serv->tls;
    p.generation = serv->connect_generation;
    append_pending(p, data, len);
    if (r > 0)
        consume(p, static_cast<std::size_t>(r));
    else if (p.tls)
        p.tls_retry = len; // the retry comes from p.bytes: a moved buffer
    p.watch = fe_input_add(serv->sock, FIA_WRITE, pending_writable, serv);
    return static_cast<int>(len);
}

// On a queue clear: of the waiting bytes, only those of a line already
// begun stay (or a TLS write that must be repeated); whole lines not yet
// begun go with the queue.
void trim_pending(server *serv)
{
    auto it = pending_outputs.find(serv);
    if (it == pending_outputs.end())
        return;
    pending_output &p = it->second;
    const std::size_t committed = p.head + p.tls_retry;
    std::size_t keep = committed;
    if (committed != p.front_start &&
        std::find(p.line_ends.begin(), p.line_ends.end(), committed) == p.line_ends.end()) {
        // Inside a line: keep it to its end.
        keep = *std::upper_bound(p.line_ends.begin(), p.line_ends.end(), committed);
    }
    if (keep == p.head) {
        drop_pending(serv, false);
        return;
    }
    OPENSSL_cleanse(p.bytes.data() + keep, p.bytes.size() - keep);
    p.bytes.resize(keep);
    while (!p.line_ends.empty() && p.line_ends.back() > keep)
        p.line_ends.pop_back();
}

bool has_encoder(const server *serv)
{
    return serv->encoder != reinterpret_cast<GIConv>(-1);
}

// Sends one finished line (CR LF included) to the server: raw log, URL
// scan, conversion, write. In a character set where text grows, the line is
// shortened further so that the converted line still fits the protocol.
int send_line(server *serv, const char *line, std::size_t len)
{
    if (!has_encoder(serv)) {
        fe_add_rawlog(serv, const_cast<char *>(line), static_cast<int>(len), 1);
        url_check_line(line);
        return deliver(serv, line, len);
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
    return deliver(serv, wire.data(), wire.size());
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
    const bool again = guarded("send queue", false, [&] { return send_queue_run(serv); });
    if (again)
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

} // namespace

time_t (*tcp_clock)(void) = wall_clock;
void (*tcp_line_release_hook)(const char *, std::size_t) = nullptr;
void (*tcp_pending_release_hook)(const char *, std::size_t) = nullptr;

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

namespace
{

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

} // namespace

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
    // QUIT follows a clear when a tab closes: it must start on a line of
    // its own, so a line the server already saw the start of is finished.
    if (auto it = pending_outputs.find(serv); it != pending_outputs.end()) {
        if (is_server(serv) && still_owns(serv, it->second))
            trim_pending(serv);
        else
            drop_pending(serv, false);
    }
    fe_set_throttle(serv);
}
