// The server record and its connection: creation and release, the forked
// connection child with its report pipe, reading and cutting lines,
// disconnecting, cleaning up and reconnecting.

#include "net/server.h"

#include "base/guard.h"
#include "base/handles.h"
#include "base/linesplit.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/cap.h"
#include "irc/inbound.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "lists/notify.h"
#include "net/network.h"
#include "net/ssl.h"
#include "net/sts.h"
#include "net/tcp.h"
#include "output/log.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gio/gio.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>

namespace
{

int next_server_id;
// Source of connect_generation values; never reused, so a stale value can
// not match a server that later took the same address.
unsigned int last_generation;
GSList *away_list;

constexpr int DEFAULT_PORT = 6667;
constexpr int DEFAULT_TLS_PORT = 6697;
// Reads drain the socket in pieces of this size.
constexpr int READ_CHUNK = 2048;
// How long one wake-up may spend handling lines before the main loop gets a
// turn: a burst (a 50,000-channel LIST, a huge NAMES) is then handled over
// many iterations and the window keeps answering input meanwhile.
// LUMENWICK_READ_BUDGET_US overrides it (0: one read per wake-up), so tests
// can make every burst take the slow path.
gint64 read_budget_us()
{
    static const gint64 budget = [] {
        const char *knob = g_getenv("LUMENWICK_READ_BUDGET_US");
        return knob && *knob ? g_ascii_strtoll(knob, nullptr, 10) : gint64{15000};
    }();
    return budget;
}
// A closed connection's socket stays open this long, so that a QUIT written
// just before still leaves.
constexpr int SOCKET_CLOSE_DELAY_MS = 5000;
constexpr int MIN_RECONNECT_DELAY_MS = 500;

const GIConv NO_CONVERTER = reinterpret_cast<GIConv>(-1);

void free_features(server *serv)
{
    g_free(serv->chantypes);
    g_free(serv->chanmodes);
    g_free(serv->nickprefixes);
    g_free(serv->nickmodes);
    g_free(serv->bad_nick_prefixes);
    g_free(serv->chanmodes_extra);
    g_free(serv->clienttagdeny);
    serv->clienttagdeny = nullptr;
    serv->chantypes = serv->chanmodes = serv->nickprefixes = serv->nickmodes = nullptr;
    serv->bad_nick_prefixes = serv->chanmodes_extra = nullptr;
}

} // namespace

// A line of a reason file is sent as a whole IRC parameter; a longer line
// is cut here rather than read as several lines.
constexpr std::size_t REASON_LINE_MAX = 511;

// A random line of `file` in the configuration directory, or null when the
// text does not name a readable regular file. Lets users keep a file of quit
// messages. Only regular files: a FIFO or device named by the setting would
// block the program on open or read.
char *random_line_of(const char *file)
{
    if (!file || !file[0] || strchr(file, '/'))
        return nullptr;
    const int fd = lumenwick_open_file(file, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, 0);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE *fh = fdopen(fd, "r");
    if (!fh) {
        close(fd);
        return nullptr;
    }
    char buf[REASON_LINE_MAX + 2];
    char *chosen = nullptr;
    int seen = 0;
    bool continuation = false;
    while (fgets(buf, sizeof buf, fh)) {
        const bool complete = strchr(buf, '\n') != nullptr;
        // The rest of an overlong line belongs to the line already counted.
        if (continuation) {
            continuation = !complete;
            continue;
        }
        continuation = !complete;
        buf[strcspn(buf, "\r\n")] = 0;
        if (strlen(buf) > REASON_LINE_MAX)
            buf[REASON_LINE_MAX] = 0;
        // Reservoir sampling: every line equally likely in one pass.
        seen++;
        if (g_random_int_range(0, seen) == 0) {
            g_free(chosen);
            chosen = g_strdup(buf);
        }
    }
    fclose(fh);
    return chosen;
}

namespace
{

void new_generation(server *serv)
{
    serv->connect_generation = ++last_generation;
}

// The sessions of `serv`, copied: emitting text events may run plugin hooks
// that close tabs while we walk.
GSList *sessions_of(server *serv)
{
    GSList *out = nullptr;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server == serv)
            out = g_slist_prepend(out, sess);
    }
    return g_slist_reverse(out);
}

server *find_server_by_id(int id)
{
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (serv->id == id)
            return serv;
    }
    return nullptr;
}

void ssl_info_noop(const SSL *, int, int) {}

// ---- the connection child ---------------------------------------------------

void child_write_all(int fd, const std::string &data)
{
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Sends one report. Each message leaves in one write, well below the pipe's
// atomic size, so the parent always finds it whole.
void child_report(int fd, int code, std::vector<std::string> args = {})
{
    pipe_message m;
    m.code = code;
    m.args = std::move(args);
    child_write_all(fd, net_pipe_encode(m));
}

[[noreturn]] void child_end(int fd, int code)
{
    child_report(fd, code);
    _exit(0);
}

// Whether IRC connections use a proxy at all: "DCC only" keeps them direct
// whichever way the proxy is set.
bool irc_uses_proxy(bool direct_only)
{
    return !direct_only && prefs.net_proxy_use != 2;
}

// The configured proxy (not the desktop's, which is looked up apart).
proxy_uri configured_proxy(bool direct_only)
{
    if (!irc_uses_proxy(direct_only))
        return {};
    if (prefs.net_proxy_host[0] && prefs.net_proxy_type > PROXY_NONE && prefs.net_proxy_type < PROXY_DESKTOP) {
        proxy_uri configured;
        configured.kind = prefs.net_proxy_type;
        configured.host = prefs.net_proxy_host;
        configured.port = prefs.net_proxy_port;
        return configured;
    }
    return {};
}

// Resolves, connects and negotiates `proxy`, reporting each step on `out`.
// Runs in the forked child: plain system calls only, nothing of GIO, whose
// worker threads may have held a lock at fork time.
[[noreturn]] void child_run(int out, int sok4, int sok6, const std::string &host, int port, const proxy_uri &proxy)
{

    if (prefs.net_bind_host[0]) {
        netstore *local = net_store_new();
        char *ip = net_resolve(local, prefs.net_bind_host, 0, nullptr);
        if (ip) {
            child_report(out, CHILD_BOUND_ADDRESS, {ip});
            net_bind(local, sok4, sok6);
            g_free(ip);
        } else {
            child_report(out, CHILD_BIND_UNRESOLVED);
        }
        net_store_destroy(local);
    }

    netstore *ns_irc = net_store_new();
    netstore *ns_proxy = nullptr;
    char *real_host = nullptr;
    char *ip = nullptr;
    int connect_port = port;
    guint32 irc_ipv4 = 0;
    if (proxy.kind != PROXY_NONE) {
        child_report(out, CHILD_PROXY_LOOKUP, {proxy.host});
        ns_proxy = net_store_new();
        ip = net_resolve(ns_proxy, proxy.host.c_str(), proxy.port, &real_host);
        if (!ip)
            child_end(out, CHILD_UNKNOWN_HOST);
        connect_port = proxy.port;
        if (proxy.kind == PROXY_SOCKS4) {
            // SOCKS4 carries an IPv4 address, never a name.
            char *irc_name = nullptr;
            char *irc_ip = net_resolve(ns_irc, host.c_str(), port, &irc_name);
            if (!irc_ip || !net_lookup_ipv4(host.c_str(), &irc_ipv4))
                child_end(out, CHILD_UNKNOWN_HOST);
            g_free(irc_ip);
            g_free(real_host);
            real_host = irc_name;
        }
    } else {
        ip = net_resolve(ns_irc, host.c_str(), port, &real_host);
        if (!ip)
            child_end(out, CHILD_UNKNOWN_HOST);
    }
    child_report(out, CHILD_CONNECTING, {real_host, ip, std::to_string(connect_port)});

    int sok = -1;
    const int error = net_connect(ns_proxy ? ns_proxy : ns_irc, sok4, sok6, &sok);
    if (error != 0) {
        child_report(out, CHILD_CONNECT_FAILED, {std::to_string(error)});
        _exit(0);
    }

    if (proxy.kind != PROXY_NONE) {
        proxy_request req;
        req.kind = proxy.kind;
        req.host = host;
        req.port = port;
        req.ipv4 = irc_ipv4;
        req.user_id = prefs.irc_user_name;
        req.auth = prefs.net_proxy_auth != 0;
        req.user = prefs.net_proxy_user;
        req.password = prefs.net_proxy_pass;
        net_io io = net_io_for_fd(sok, true);
        const bool ok = net_proxy_negotiate(io, req, [out](std::string_view text) {
            std::string line(text);
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
            child_report(out, CHILD_TEXT, {line});
        });
        if (!ok)
            child_end(out, CHILD_PROXY_FAILED);
    }
    child_report(out, CHILD_CONNECTED, {std::to_string(sok)});
    _exit(0);
}

// ---- the desktop's proxy, looked up before the child is forked ---------------
//
// The lookup runs here in the parent and asynchronously: GIO keeps worker
// threads (D-Bus, dconf), and a child forked while one of them held a lock
// could hang in its first GIO call, leaving the attempt "connecting" for ever.

void fork_connection_child(server *serv, const std::string &host, int port, const proxy_uri &proxy);

// A pending lookup. The server may be freed before GIO answers: the answer
// finds it again by id and generation, and stopping the attempt cancels.
struct proxy_lookup {
    int server_id;
    unsigned int generation;
    std::string host;
    int port;
    gobject_ptr<GCancellable> cancel;
};

std::unordered_map<server *, gobject_ptr<GCancellable>> pending_lookups;

void cancel_proxy_lookup(server *serv)
{
    auto it = pending_lookups.find(serv);
    if (it == pending_lookups.end())
        return;
    g_cancellable_cancel(it->second.get());
    pending_lookups.erase(it);
}

void desktop_proxy_found(GObject *source, GAsyncResult *result, gpointer data) noexcept
{
    const std::unique_ptr<proxy_lookup> lookup(static_cast<proxy_lookup *>(data));
    error_ptr error;
    const strv_ptr proxies(g_proxy_resolver_lookup_finish(G_PROXY_RESOLVER(source), result, error.out()));
    if (g_cancellable_is_cancelled(lookup->cancel.get()))
        return;
    guarded("desktop proxy", [&] {
        server *serv = find_server_by_id(lookup->server_id);
        if (!serv || !serv->connecting || serv->connect_generation != lookup->generation)
            return;
        pending_lookups.erase(serv);
        proxy_uri proxy;
        if (error)
            fprintf(stderr, "%s: %s\n", _("Failed to lookup proxy"), error.message());
        else if (proxies && proxies.get()[0])
            proxy = net_parse_proxy_uri(proxies.get()[0]);
        fork_connection_child(serv, lookup->host, lookup->port, proxy);
    });
}

// Asks the desktop which proxy reaches irc://host:port; the attempt goes on
// when it answers.
void desktop_proxy_lookup(server *serv, const std::string &host, int port)
{
    GProxyResolver *resolver = g_proxy_resolver_get_default();
    if (!resolver) {
        fork_connection_child(serv, host, port, {});
        return;
    }
    cancel_proxy_lookup(serv);
    auto *lookup = new proxy_lookup{serv->id, serv->connect_generation, host, port, take_ref(g_cancellable_new())};
    pending_lookups[serv] = make_ref(lookup->cancel.get());
    const gchar_ptr url(g_strdup_printf("irc://%s:%d", host.c_str(), port));
    g_proxy_resolver_lookup_async(resolver, url.get(), lookup->cancel.get(), desktop_proxy_found, lookup);
}

// ---- the parent's side of an attempt ---------------------------------------

// Closes every socket of the attempt, including one already handed over.
void close_attempt_sockets(server *serv)
{
    net_close(&serv->sock_v4);
    net_close(&serv->sock_v6);
    net_close(&serv->proxy_sock_v4);
    net_close(&serv->proxy_sock_v6);
    net_close(&serv->proxy_sock);
    net_close(&serv->sock);
}

int close_later(void *fd) noexcept
{
    close(GPOINTER_TO_INT(fd));
    return 0;
}

void close_fd_later(int *fd)
{
    if (*fd >= 0)
        fe_timeout_add(SOCKET_CLOSE_DELAY_MS, close_later, GINT_TO_POINTER(*fd));
    *fd = -1;
}

// The attempt ended without a connection: report it, then try the next
// server of the network or, when the user wants it, the same one again.
void attempt_failed(server *serv, int event, int error)
{
    server_stopconnecting(serv);
    close_attempt_sockets(serv);
    session *sess = serv->home_session;
    if (event == XP_TE_UNKNOWN_HOST)
        text_emit(XP_TE_UNKNOWN_HOST, sess, nullptr, nullptr, nullptr, nullptr, 0);
    else
        text_emit(XP_TE_CONNECTION_FAILED, sess, errorstring(error), nullptr, nullptr, nullptr, 0);
    if (!is_server(serv))
        return;
    if (!servlist_cycle(serv) && prefs.net_auto_reconnectonfail && serv->auto_reconnect)
        serv->auto_reconnect(serv, FALSE, -1, prefs.net_reconnect_delay);
}

void run_identd(server *serv)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(serv->sock, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return;
    unsigned short port;
    if (addr.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port);
    else
        port = ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    const char *user = servlist_network_username(serv->network);
    char *cmd = g_strdup_printf("IDENTD %hu %s", port, user ? user : prefs.irc_user_name);
    if (serv->home_session)
        handle_command(serv->home_session, cmd, false);
    g_free(cmd);
}

void connection_established(server *serv, int fd)
{
    serv->sock = fd;
    // The socket moves to `sock`; the other family's socket is not needed.
    if (fd == serv->sock_v4) {
        serv->sock_v4 = -1;
        net_close(&serv->sock_v6);
    } else {
        serv->sock_v6 = -1;
        net_close(&serv->sock_v4);
    }
    if (serv->proxy_sock >= 0) {
        if (serv->proxy_sock == serv->proxy_sock_v4)
            serv->proxy_sock_v4 = -1;
        else
            serv->proxy_sock_v6 = -1;
        net_close(&serv->proxy_sock_v4);
        net_close(&serv->proxy_sock_v6);
    }

    const unsigned int generation = serv->connect_generation;
    run_identd(serv);
    // A plugin answering IDENTD could have ended this attempt.
    if (!is_server(serv) || serv->connect_generation != generation || !serv->connecting)
        return;

    if (!serv->tls_enabled) {
        server_stopconnecting(serv);
        server_connected(serv);
        return;
    }
    // The child ends now; its end of file must not count as a failure. It is
    // reaped when the handshake ends.
    if (serv->watch_tag) {
        fe_input_remove(serv->watch_tag);
        serv->watch_tag = 0;
    }
    ssl_start_handshake(serv);
}

gboolean child_message_ready(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    guarded("connection report", [&] {
        net_io io = net_io_for_fd(serv->child_pipe_read, false);
        pipe_message msg;
        switch (net_pipe_read(io, msg)) {
        case pipe_read_result::ok:
            server_handle_child_message(serv, msg);
            break;
        case pipe_read_result::end:
            // The child died without a word (killed, crashed).
            attempt_failed(serv, XP_TE_CONNECTION_FAILED, ECONNABORTED);
            break;
        case pipe_read_result::rejected:
            attempt_failed(serv, XP_TE_CONNECTION_FAILED, EPROTO);
            break;
        }
    });
    return TRUE;
}

// ---- reading ----------------------------------------------------------------

struct read_context {
    server *serv;
    unsigned int generation;
    std::string scratch;
};

// Hands one line to the protocol. False when that line freed the server or
// replaced its connection: what is left of the chunk belongs to neither.
bool deliver_line(char *line, int len, void *data)
{
    auto *ctx = static_cast<read_context *>(data);
    server *serv = ctx->serv;
    int text_len;
    char *text = linesplit_to_utf8(line, len, serv->encoding, serv->decoder, ctx->scratch, &text_len);
    fe_add_rawlog(serv, text, text_len, 0);
    if (serv->p_inline)
        serv->p_inline(serv, text, text_len);
    return is_server(serv) && serv->connect_generation == ctx->generation;
}

void connection_lost(server *serv, int error)
{
    session *sess = serv->home_session;
    if (!sess)
        return;
    if (serv->motd_done) {
        if (prefs.net_auto_reconnect)
            serv->auto_reconnect(serv, FALSE, error, prefs.net_reconnect_delay);
        else
            serv->disconnect(sess, FALSE, error);
        return;
    }
    serv->disconnect(sess, FALSE, error);
    if (is_server(serv) && !servlist_cycle(serv) && prefs.net_auto_reconnect)
        serv->auto_reconnect(serv, FALSE, error, prefs.net_reconnect_delay);
}

void stop_read_resume(server *serv)
{
    if (serv->read_resume_timer) {
        fe_timeout_remove(serv->read_resume_timer);
        serv->read_resume_timer = 0;
    }
}

int read_resume(void *data);

// Reads and handles lines until the socket is drained or the time budget is
// spent. A plain socket that still holds data wakes the loop again by
// itself; bytes already inside the TLS layer do not, so those are picked up
// by a timer that runs at the next turn of the loop.
void read_some(server *serv)
{
    read_context ctx{serv, serv->connect_generation, {}};
    const line_assembly line{serv->line_buffer, &serv->line_length, &serv->line_overflowed};
    char buf[READ_CHUNK];
    const gint64 until = g_get_monotonic_time() + read_budget_us();
    for (;;) {
        int n;
        do {
            n = serv->tls ? ssl_recv(serv->tls, buf, sizeof buf)
                          : static_cast<int>(recv(serv->sock, buf, sizeof buf, 0));
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK))
                return;
            connection_lost(serv, error);
            return;
        }
        const std::size_t used = linesplit_feed(line, buf, static_cast<std::size_t>(n), deliver_line, &ctx);
        if (used < static_cast<std::size_t>(n) || !is_server(serv) || serv->connect_generation != ctx.generation)
            return;
        if (g_get_monotonic_time() >= until) {
            if (serv->tls && ssl_has_buffered(serv->tls) && !serv->read_resume_timer)
                serv->read_resume_timer = fe_timeout_add(0, read_resume, serv);
            return;
        }
    }
}

int read_resume(void *data)
{
    auto *serv = static_cast<server *>(data);
    guarded("reading from server", [&] {
        serv->read_resume_timer = 0;
        if (serv->tls)
            read_some(serv);
    });
    return 0;
}

gboolean server_read_ready(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    guarded("reading from server", [&] { read_some(serv); });
    return TRUE;
}

// ---- disconnecting ------------------------------------------------------------

void server_disconnect(session *sess, int sendquit, int err)
{
    server *serv = sess->server;
    if (sendquit && serv->connected)
        server_sendquit(sess);
    sts_reschedule_on_disconnect(serv);
    fe_server_event(serv, FE_SE_DISCONNECT, 0);

    const pid_t child = serv->child_pid;
    bool server_tab_only = false;
    switch (serv->cleanup(serv)) {
    case 0:
        notc_msg(sess);
        return;
    case 1: {
        char pid[32];
        snprintf(pid, sizeof pid, "%d", static_cast<int>(child));
        text_emit(XP_TE_STOP_CONNECTION, sess, pid, nullptr, nullptr, nullptr, 0);
        return;
    }
    case 3:
        server_tab_only = true;
        break;
    default:
        break;
    }

    if (serv->flush_queue)
        serv->flush_queue(serv);
    fe_set_throttle(serv);

    GSList *mine = sessions_of(serv);
    for (GSList *l = mine; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (!is_session(s))
            continue;
        if (!server_tab_only || s->type == SESS_SERVER)
            text_emit(XP_TE_DISCONNECTED, s, errorstring(err), nullptr, nullptr, nullptr, 0);
        if (is_session(s) && (!s->channel[0] || s->type == SESS_CHANNEL))
            clear_channel(s);
    }
    g_slist_free(mine);

    serv->line_length = 0;
    serv->line_overflowed = false;
    serv->motd_skipped_once = FALSE;
    serv->skip_login = FALSE;
    serv->announced_name[0] = 0;
    serv->lag_probe_ms = 0;
    notify_cleanup();
}

int server_cleanup(server *serv)
{
    fe_set_lag(serv, 0);
    stop_read_resume(serv);
    if (serv->watch_tag) {
        fe_input_remove(serv->watch_tag);
        serv->watch_tag = 0;
    }
    if (serv->join_timer) {
        fe_timeout_remove(serv->join_timer);
        serv->join_timer = 0;
    }
    if (serv->tls) {
        ssl_close(serv->tls);
        serv->tls = nullptr;
    }
    new_generation(serv);

    if (serv->connecting) {
        server_stopconnecting(serv);
        close_attempt_sockets(serv);
        return 1;
    }
    if (serv->connected) {
        close_fd_later(&serv->sock);
        close_fd_later(&serv->proxy_sock);
        serv->connected = FALSE;
        serv->motd_done = FALSE;
        return 2;
    }
    if (serv->reconnect_timer) {
        fe_timeout_remove(serv->reconnect_timer);
        serv->reconnect_timer = 0;
        return 3;
    }
    return 0;
}

// ---- reconnecting --------------------------------------------------------------

bool may_reconnect_now(server *serv)
{
    return serv && !serv->connected && !serv->connecting && serv->home_session;
}

void sasl_password_answered(int cancelled, char *text, void *data)
{
    // By id: the server may have been freed while the prompt was open.
    server *serv = find_server_by_id(GPOINTER_TO_INT(data));
    if (cancelled || !may_reconnect_now(serv))
        return;
    safe_strcpy(serv->password, text ? text : "", sizeof serv->password);
    serv->connect(serv, serv->hostname, serv->port, FALSE);
}

int reconnect_step(server *serv)
{
    if (!may_reconnect_now(serv))
        return 0;
    // Every login that sends a password asks for it, not only the SASL ones.
    if (servlist_asks_password(serv) && servlist_login_uses_password(serv->login_method)) {
        const char *net = serv->network ? servlist_network_name(serv->network) : nullptr;
        const char *format = servlist_login_is_sasl_password(serv->login_method) ? _("Enter SASL password for %s:")
                                                                                 : _("Enter password for %s:");
        char *prompt = g_strdup_printf(format, net ? net : _("this network"));
        fe_get_password(prompt, sasl_password_answered, GINT_TO_POINTER(serv->id));
        g_free(prompt);
        return 0;
    }
    serv->connect(serv, serv->hostname, serv->port, FALSE);
    return 0;
}

int reconnect_due(void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    if (!is_server(serv))
        return 0;
    serv->reconnect_timer = 0;
    guarded("reconnecting", [&] { reconnect_step(serv); });
    return 0;
}

void server_schedule_reconnect(server *serv, int send_quit, int err, int delay_s)
{
    if (!serv->home_session)
        return;
    if (prefs.irc_reconnect_rejoin) {
        // Only this connection's channels: another server's tabs have their
        // own connection and their own idea of what to rejoin.
        for (GSList *l = sess_list; l; l = l->next) {
            auto *sess = static_cast<session *>(l->data);
            if (sess->server == serv && sess->type == SESS_CHANNEL && sess->channel[0]) {
                safe_strcpy(sess->pending_join, sess->channel, sizeof sess->pending_join);
                safe_strcpy(sess->rejoin_channel, sess->channel, sizeof sess->rejoin_channel);
            }
        }
    }
    if (serv->connected)
        serv->disconnect(serv->home_session, send_quit, err);
    if (!is_server(serv))
        return;
    if (err == -1 || err == 0 || err == ECONNRESET || err == ETIMEDOUT)
        serv->restore_away = serv->away;

    const int delay = delay_s > 0 ? delay_s * 1000 : MIN_RECONNECT_DELAY_MS;
    if (serv->reconnect_timer)
        fe_timeout_remove(serv->reconnect_timer);
    serv->reconnect_timer = fe_timeout_add(delay, reconnect_due, serv);
    fe_server_event(serv, FE_SE_RECONDELAY, delay);
}

// ---- connecting ------------------------------------------------------------------

void server_connect(server *serv, char *hostname, int port, int no_login)
{
    if (!hostname || !hostname[0])
        return;
    // Our own host field may be what we were given.
    const std::string host = hostname;
    session *sess = serv->home_session;

    safe_strcpy(serv->requested_host, host.c_str(), sizeof serv->requested_host);
    if (!sts_apply_policy_for_connection(serv, host.c_str(), &port))
        return;

    if (serv->tls_enabled && !serv->tls_context) {
        serv->tls_context = ssl_context_init(ssl_info_noop);
        if (!serv->tls_context) {
            // Fails this connection only; the others go on.
            fputs("ssl_context_init failed\n", stderr);
            PrintText(sess, _("Cannot connect: the TLS context could not be created.\n"));
            return;
        }
    }

    if (port < 1 || port > 65535) {
        port = serv->tls_enabled ? DEFAULT_TLS_PORT : DEFAULT_PORT;
        g_debug("Attempted to connect to invalid port, assuming default port %d", port);
    }

    if (serv->connected || serv->connecting || serv->reconnect_timer)
        serv->disconnect(sess, TRUE, -1);

    fe_progressbar_start(sess);
    text_emit(XP_TE_SERVER_LOOKUP, sess, host.c_str(), nullptr, nullptr, nullptr, 0);
    safe_strcpy(serv->announced_name, host.c_str(), sizeof serv->announced_name);
    safe_strcpy(serv->hostname, host.c_str(), sizeof serv->hostname);

    if (serv->tls_enabled)
        ssl_load_client_cert(serv);

    server_set_defaults(serv);
    serv->port = port;
    serv->connecting = TRUE;
    serv->skip_login = no_login ? TRUE : FALSE;
    new_generation(serv);
    fe_server_event(serv, FE_SE_CONNECTING, 0);
    fe_set_away(serv);
    if (serv->flush_queue)
        serv->flush_queue(serv);
    fe_set_throttle(serv);

    if (prefs.net_proxy_type == PROXY_DESKTOP && irc_uses_proxy(serv->direct_only)) {
        desktop_proxy_lookup(serv, host, port);
        return;
    }
    fork_connection_child(serv, host, port, configured_proxy(serv->direct_only));
}

// Forks the child of one connection attempt; the parent watches its reports.
void fork_connection_child(server *serv, const std::string &host, int port, const proxy_uri &proxy)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) < 0) {
        attempt_failed(serv, XP_TE_CONNECTION_FAILED, errno);
        return;
    }
    net_fd pipe_read(pipe_fds[0]);
    net_fd pipe_write(pipe_fds[1]);
    int s4, s6;
    net_sockets(&s4, &s6);
    net_fd sock4(s4);
    net_fd sock6(s6);
    serv->proxy_sock_v4 = serv->proxy_sock_v6 = -1;

    const pid_t pid = fork();
    if (pid < 0) {
        attempt_failed(serv, XP_TE_CONNECTION_FAILED, errno);
        return;
    }
    if (pid == 0) {
        close(pipe_read.release());
        // A set-user-id build must not resolve or connect with privileges.
        if (setuid(getuid()) != 0)
            _exit(0);
        child_run(pipe_write.release(), sock4.release(), sock6.release(), host, port, proxy);
    }

    serv->child_pid = pid;
    serv->child_pipe_read = pipe_read.release();
    // Only the child keeps the write end, so its exit shows as end of file.
    serv->child_pipe_write = -1;
    serv->sock_v4 = sock4.release();
    serv->sock_v6 = sock6.release();
    serv->watch_tag = fe_input_add(serv->child_pipe_read, FIA_READ, child_message_ready, serv);
}

} // namespace

// ---- exported --------------------------------------------------------------------

void server_fill_her_up(server *serv)
{
    serv->connect = server_connect;
    serv->disconnect = server_disconnect;
    serv->cleanup = server_cleanup;
    serv->flush_queue = tcp_clear_queue;
    serv->auto_reconnect = server_schedule_reconnect;
    proto_fill_her_up(serv);
}

void server_stopconnecting(server *serv)
{
    cancel_proxy_lookup(serv);
    if (serv->watch_tag) {
        fe_input_remove(serv->watch_tag);
        serv->watch_tag = 0;
    }
    if (serv->join_timer) {
        fe_timeout_remove(serv->join_timer);
        serv->join_timer = 0;
    }
    // Only a child we forked and have not reaped yet: a zero id would signal
    // our whole process group, a reaped one somebody else's process.
    if (serv->child_pid > 0) {
        kill(serv->child_pid, SIGKILL);
        while (waitpid(serv->child_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        serv->child_pid = 0;
    }
    net_close(&serv->child_pipe_read);
    net_close(&serv->child_pipe_write);
    if (serv->handshake_timer) {
        fe_timeout_remove(serv->handshake_timer);
        serv->handshake_timer = 0;
    }
    fe_progressbar_end(serv);
    serv->connecting = FALSE;
    fe_server_event(serv, FE_SE_DISCONNECT, 0);
}

void server_connected(server *serv)
{
    lumenwick_note_connected();
    serv->last_pong_time = time(nullptr);
    serv->lag_probe_ms = 0;
    serv->connected = TRUE;

    const int flags = fcntl(serv->sock, F_GETFL);
    if (flags >= 0)
        fcntl(serv->sock, F_SETFL, flags | O_NONBLOCK);
    serv->watch_tag = fe_input_add(serv->sock, FIA_READ | FIA_EX, server_read_ready, serv);

    session *sess = serv->home_session;
    if (serv->skip_login) {
        text_emit(XP_TE_SERVER_CONNECTED, sess, nullptr, nullptr, nullptr, nullptr, 0);
    } else {
        text_emit(XP_TE_CONNECTED, sess, nullptr, nullptr, nullptr, nullptr, 0);
        const char *user = servlist_network_username(serv->network);
        const char *real = servlist_network_realname(serv->network);
        if (serv->p_login)
            serv->p_login(serv, user ? user : prefs.irc_user_name, real ? real : prefs.irc_real_name);
    }
    if (!is_server(serv))
        return;
    const std::string name = serv->announced_name;
    server_set_name(serv, name.c_str());
    fe_server_event(serv, FE_SE_CONNECT, 0);
}

void server_handle_child_message(server *serv, const pipe_message &msg)
{
    session *sess = serv->home_session;
    auto arg = [&msg](std::size_t i) { return i < msg.args.size() ? msg.args[i].c_str() : ""; };
    switch (msg.code) {
    case CHILD_TEXT:
        PrintTextf(sess, "%s\n", arg(0));
        break;
    case CHILD_UNKNOWN_HOST:
        attempt_failed(serv, XP_TE_UNKNOWN_HOST, -1);
        break;
    case CHILD_CONNECT_FAILED:
        attempt_failed(serv, XP_TE_CONNECTION_FAILED, atoi(arg(0)));
        break;
    case CHILD_CONNECTING:
        text_emit(XP_TE_CONNECTING, sess, arg(0), arg(1), arg(2), nullptr, 0);
        break;
    case CHILD_CONNECTED: {
        // Only a socket this attempt created may become the connection.
        const int fd = atoi(arg(0));
        if (msg.args.empty() || fd < 0 || (fd != serv->sock_v4 && fd != serv->sock_v6)) {
            attempt_failed(serv, XP_TE_CONNECTION_FAILED, EPROTO);
            break;
        }
        connection_established(serv, fd);
        break;
    }
    case CHILD_BOUND_ADDRESS: {
        guint32 addr;
        if (net_parse_ipv4(arg(0), &addr))
            net_local_ipv4 = addr;
        break;
    }
    case CHILD_BIND_UNRESOLVED:
        PrintTextf(sess, _("Cannot resolve hostname %s\nCheck your IP Settings!\n"), prefs.net_bind_host);
        break;
    case CHILD_PROXY_FAILED:
        PrintText(sess, _("Proxy traversal failed.\n"));
        if (sess)
            serv->disconnect(sess, FALSE, -1);
        break;
    case CHILD_PROXY_LOOKUP:
        text_emit(XP_TE_SERVER_LOOKUP, sess, arg(0), nullptr, nullptr, nullptr, 0);
        break;
    default:
        attempt_failed(serv, XP_TE_CONNECTION_FAILED, EPROTO);
        break;
    }
}

server *server_new(void)
{
    auto *serv = static_cast<server *>(g_malloc0(sizeof(server)));
    server_fill_her_up(serv);
    serv->id = next_server_id++;
    serv->sock = serv->sock_v4 = serv->sock_v6 = -1;
    serv->proxy_sock = serv->proxy_sock_v4 = serv->proxy_sock_v6 = -1;
    serv->child_pipe_read = serv->child_pipe_write = -1;
    serv->decoder = serv->encoder = NO_CONVERTER;
    safe_strcpy(serv->nick, prefs.irc_nick1, sizeof serv->nick);
    server_set_defaults(serv);
    serv_list = g_slist_prepend(serv_list, serv);
    fe_new_server(serv);
    return serv;
}

void server_set_defaults(server *serv)
{
    free_features(serv);
    serv->chantypes = g_strdup("#&!+");
    serv->chanmodes = g_strdup("beI,k,l");
    serv->nickprefixes = g_strdup("@%+");
    serv->nickmodes = g_strdup("ohv");
    serv->maxmodes = 3;
    serv->nick_attempt = 1;
    if (!serv->encoding)
        serv->encoding = g_strdup("UTF-8");
    serv->motd_done = FALSE;
    serv->away = FALSE;
    serv->cap_ended = FALSE;
    serv->have_whox = FALSE;
    serv->have_list_conditions = FALSE;
    serv->have_watch = serv->have_monitor = FALSE;
    serv->have_excepts = serv->have_invex = FALSE;
    serv->namesx_sent = FALSE;
    serv->p_cmp = rfc_casecmp; // CASEMAPPING may change it again
    cap_reset_server(serv);
    serv->userhost_lookup = TRUE;
}

void server_free(server *serv)
{
    cancel_proxy_lookup(serv);
    if (serv->cleanup)
        serv->cleanup(serv);
    // Cleanup leaves a reconnect timer alone while an attempt was running.
    if (serv->reconnect_timer) {
        fe_timeout_remove(serv->reconnect_timer);
        serv->reconnect_timer = 0;
    }
    serv_list = g_slist_remove(serv_list, serv);
    cap_reset_server(serv); // ends a SCRAM exchange, wiping its secrets
    servlist_favchan_list_free(serv->autojoin_channels);
    serv->autojoin_channels = nullptr;
    if (serv->flush_queue)
        serv->flush_queue(serv);

    for (GSList *l = away_list; l;) {
        auto *away = static_cast<away_msg *>(l->data);
        l = l->next;
        if (away->server == serv) {
            away_list = g_slist_remove(away_list, away);
            g_free(away->message);
            g_free(away);
        }
    }

    free_features(serv);
    g_free(serv->last_away_text);
    g_free(serv->encoding);
    if (serv->decoder != NO_CONVERTER)
        g_iconv_close(serv->decoder);
    if (serv->encoder != NO_CONVERTER)
        g_iconv_close(serv->encoder);
    if (serv->tls_context)
        SSL_CTX_free(serv->tls_context);
    OPENSSL_cleanse(serv->password, sizeof serv->password);

    fe_server_callback(serv);
    g_free(serv);
    notify_cleanup();
}

bool is_server(const void *p)
{
    return p && g_slist_find(serv_list, p) != nullptr;
}

const char *server_get_network(server *serv, bool fallback)
{
    if (serv->network) {
        const char *name = servlist_network_name(serv->network);
        if (name)
            return name;
    }
    if (serv->home_session && serv->home_session->channel[0])
        return serv->home_session->channel;
    if (fallback)
        return serv->announced_name;
    return nullptr;
}

void server_set_name(server *serv, const char *name)
{
    if (!name || !name[0])
        name = serv->hostname;
    if (name != serv->announced_name)
        safe_strcpy(serv->announced_name, name, sizeof serv->announced_name);

    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server == serv)
            fe_set_title(sess);
    }

    session *home = serv->home_session;
    if (home && home->type == SESS_SERVER) {
        const char *net = serv->network ? servlist_network_name(serv->network) : nullptr;
        safe_strcpy(home->channel, net ? net : serv->announced_name, sizeof home->channel);
        fe_set_channel(home);
    }
}

void server_set_encoding(server *serv, const char *name)
{
    std::string charset = name ? name : "";
    const std::size_t space = charset.find(' ');
    if (space != std::string::npos)
        charset.erase(space);
    if (charset.empty() || g_ascii_strcasecmp(charset.c_str(), "IRC") == 0 || !servlist_check_encoding(charset.c_str()))
        charset = "UTF-8";

    g_free(serv->encoding);
    serv->encoding = g_strdup(charset.c_str());
    if (serv->decoder != NO_CONVERTER)
        g_iconv_close(serv->decoder);
    if (serv->encoder != NO_CONVERTER)
        g_iconv_close(serv->encoder);
    serv->decoder = g_iconv_open("UTF-8", charset.c_str());
    serv->encoder = g_iconv_open(charset.c_str(), "UTF-8");
}

away_msg *server_away_find_message(server *serv, const char *nick)
{
    for (GSList *l = away_list; l; l = l->next) {
        auto *away = static_cast<away_msg *>(l->data);
        if (away->server == serv && serv->p_cmp(nick, away->nick) == 0)
            return away;
    }
    return nullptr;
}

void server_away_save_message(server *serv, const char *nick, const char *message)
{
    away_msg *away = server_away_find_message(serv, nick);
    if (!away) {
        away = static_cast<away_msg *>(g_malloc0(sizeof(away_msg)));
        away->server = serv;
        safe_strcpy(away->nick, nick, sizeof away->nick);
        away_list = g_slist_prepend(away_list, away);
    }
    g_free(away->message);
    away->message = g_strdup(message ? message : "");
}

void server_sendpart(server *serv, const char *channel, const char *reason)
{
    if (!serv->p_part)
        return;
    if (reason) {
        serv->p_part(serv, channel, reason);
        return;
    }
    char *from_file = random_line_of(prefs.irc_part_reason);
    serv->p_part(serv, channel, from_file ? from_file : prefs.irc_part_reason);
    g_free(from_file);
}

void server_sendquit(session *sess)
{
    server *serv = sess->server;
    if (!serv->p_quit)
        return;
    if (sess->quit_reason) {
        serv->p_quit(serv, sess->quit_reason);
        return;
    }
    // Percent codes, but no numeric ones: a reason is text, not bytes.
    std::string reason = prefs.irc_quit_reason;
    check_special_chars(reason.data(), false);
    reason.resize(strlen(reason.c_str()));
    char *from_file = random_line_of(reason.c_str());
    serv->p_quit(serv, from_file ? from_file : reason.c_str());
    g_free(from_file);
}
