// Server connections driven through the real connect child, reader and
// disconnect paths against peers of the test's own on 127.0.0.1: a plain
// listener playing the IRC server, and scripted proxies on a thread (the
// child negotiates with them while the main loop runs).
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "fe_recorder.h"
#include "net/network.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::string_literals;

constexpr int WAIT_MS = 5000;

// A listening socket on 127.0.0.1 with a port of its own.
struct listener {
    net_fd fd{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int port = 0;

    listener()
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (bind(fd.get(), reinterpret_cast<sockaddr *>(&sa), len) == 0 && listen(fd.get(), 8) == 0 &&
            getsockname(fd.get(), reinterpret_cast<sockaddr *>(&sa), &len) == 0)
            port = ntohs(sa.sin_port);
    }

    // The next connection, waiting at most `ms`; empty when none came.
    net_fd accept_within(int ms)
    {
        pollfd p{fd.get(), POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            return net_fd();
        return net_fd(accept(fd.get(), nullptr, nullptr));
    }
};

void put(int fd, const std::string &bytes)
{
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// Reads what arrives within `ms`, stopping early once `until` was read.
std::string take(int fd, std::size_t until, int ms)
{
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < until && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1)
            continue;
        char buf[1024];
        const ssize_t n = recv(fd, buf, std::min(sizeof buf, until - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// What the client sent up to its USER line, running the main loop meanwhile.
std::string read_login(int fd)
{
    std::string login;
    fe_recorder::run_until([&] { return (login += take(fd, 4096, 20)).find("USER ") != std::string::npos; }, WAIT_MS);
    return login;
}

// Plays `script` on the first connection to it, on a thread of its own.
struct scripted_proxy {
    listener l;
    std::thread thread;

    explicit scripted_proxy(std::function<void(int fd)> script)
        : thread([this, script] {
              net_fd conn = l.accept_within(WAIT_MS);
              if (conn.get() >= 0)
                  script(conn.get());
          })
    {
    }
    ~scripted_proxy() { thread.join(); }
};

// A proxy that reads the greeting and then says nothing until the client
// lets go of the socket.
void silent(int fd)
{
    take(fd, 1 << 20, WAIT_MS);
}

// The desktop's proxy resolver, played by the test: it answers
// `desktop_answer` (set before connecting) after `desktop_delay_ms`, and only
// when asked from this process. Asked from a forked connection child, it
// fails, and the attempt would go direct.
pid_t test_pid;
std::string desktop_answer = "direct://";
std::atomic<int> desktop_delay_ms{0};
std::atomic<int> desktop_answers{0};

struct TestProxyResolver {
    GObject parent;
};
struct TestProxyResolverClass {
    GObjectClass parent_class;
};
void test_proxy_resolver_iface_init(GProxyResolverInterface *iface);
G_DEFINE_TYPE_WITH_CODE(TestProxyResolver, test_proxy_resolver, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(G_TYPE_PROXY_RESOLVER, test_proxy_resolver_iface_init))
void test_proxy_resolver_init(TestProxyResolver *) {}
void test_proxy_resolver_class_init(TestProxyResolverClass *) {}

gchar **test_proxy_lookup(GProxyResolver *, const gchar *, GCancellable *, GError **error)
{
    g_usleep(static_cast<gulong>(desktop_delay_ms) * 1000);
    if (getpid() != test_pid) {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, "asked from a forked child");
        return nullptr;
    }
    desktop_answers++;
    const gchar *answer[] = {desktop_answer.c_str(), nullptr};
    return g_strdupv(const_cast<gchar **>(answer));
}

void test_proxy_lookup_async(GProxyResolver *resolver, const gchar *uri, GCancellable *cancellable,
                             GAsyncReadyCallback callback, gpointer user_data)
{
    GTask *task = g_task_new(resolver, cancellable, callback, user_data);
    g_task_set_task_data(task, g_strdup(uri), g_free);
    g_task_run_in_thread(task, [](GTask *t, gpointer source, gpointer data, GCancellable *c) {
        GError *error = nullptr;
        gchar **found = test_proxy_lookup(G_PROXY_RESOLVER(source), static_cast<const gchar *>(data), c, &error);
        if (found)
            g_task_return_pointer(t, found, reinterpret_cast<GDestroyNotify>(g_strfreev));
        else
            g_task_return_error(t, error);
    });
    g_object_unref(task);
}

gchar **test_proxy_lookup_finish(GProxyResolver *, GAsyncResult *result, GError **error)
{
    return static_cast<gchar **>(g_task_propagate_pointer(G_TASK(result), error));
}

void test_proxy_resolver_iface_init(GProxyResolverInterface *iface)
{
    iface->is_supported = [](GProxyResolver *) -> gboolean { return TRUE; };
    iface->lookup = test_proxy_lookup;
    iface->lookup_async = test_proxy_lookup_async;
    iface->lookup_finish = test_proxy_lookup_finish;
}

// Puts the test's resolver ahead of every other before GIO picks its default.
void install_desktop_proxy_resolver()
{
    static const bool installed = [] {
        test_pid = getpid();
        g_unsetenv("GIO_USE_PROXY_RESOLVER");
        g_io_extension_point_register(G_PROXY_RESOLVER_EXTENSION_POINT_NAME);
        g_io_extension_point_implement(G_PROXY_RESOLVER_EXTENSION_POINT_NAME, test_proxy_resolver_get_type(),
                                       "lumenwick-test", 1000);
        return true;
    }();
    (void)installed;
}

std::vector<std::string> lines_seen;
std::function<void(server *, const std::string &)> on_line;

void record_line(server *serv, char *buf, int len)
{
    lines_seen.emplace_back(buf, static_cast<std::size_t>(len));
    if (on_line)
        on_line(serv, lines_seen.back());
}

class Connect : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);
        install_desktop_proxy_resolver();
        desktop_answer = "direct://";
        desktop_delay_ms = 0;
        desktop_answers = 0;
        dir = g_dir_make_tmp("lwk-connect-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        load_text_events();
        prefs.net_auto_reconnect = 0;
        prefs.net_auto_reconnectonfail = 0;
        prefs.net_reconnect_delay = 0;
        prefs.net_proxy_type = PROXY_NONE;
        prefs.net_proxy_host[0] = 0;
        prefs.net_proxy_auth = 0;
        lumenwick_is_quitting = 0;
        lines_seen.clear();
        on_line = nullptr;
        // A second server keeps the program from shutting down when a test
        // frees the first one.
        keeper = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
        home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
        serv = home->server;
    }
    void TearDown() override
    {
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        ASSERT_EQ(system(("rm -rf '"s + dir + "'").c_str()), 0);
        g_free(dir);
    }

    void connect_to(const char *host, int port)
    {
        std::string h = host;
        serv->connect(serv, h.data(), port, FALSE);
    }
    bool shown(const char *needle, session *s = nullptr) { return fe_recorder::was_shown(s ? s : home, needle); }
    bool wait_shown(const char *needle, session *s = nullptr)
    {
        return fe_recorder::run_until([&] { return shown(needle, s); }, WAIT_MS);
    }
    // Connects to `l` and returns the server's end of the connection.
    net_fd connected_peer(listener &l)
    {
        connect_to("127.0.0.1", l.port);
        EXPECT_TRUE(fe_recorder::run_until([&] { return serv->connected; }, WAIT_MS));
        return l.accept_within(WAIT_MS);
    }
    void use_proxy(int kind, int port)
    {
        prefs.net_proxy_type = kind;
        safe_strcpy(prefs.net_proxy_host, "127.0.0.1", sizeof prefs.net_proxy_host);
        prefs.net_proxy_port = port;
    }
    int server_events(int type, int arg)
    {
        const std::string tail = ", " + std::to_string(type) + ", " + std::to_string(arg);
        int n = 0;
        for (const auto &c : fe_recorder::calls_named("fe_server_event"))
            n += c.serv == serv && c.args.ends_with(tail);
        return n;
    }

    char *dir = nullptr;
    session *keeper = nullptr;
    session *home = nullptr;
    server *serv = nullptr;
};

TEST_F(Connect, PlainConnectionShowsEachStepAndLogsIn)
{
    listener l;
    net_fd peer = connected_peer(l);
    ASSERT_GE(peer.get(), 0);
    const std::string port = std::to_string(l.port);
    EXPECT_TRUE(shown("Looking up 127.0.0.1"));
    EXPECT_TRUE(shown(("Connecting to 127.0.0.1 (127.0.0.1:" + port + ")").c_str()));
    EXPECT_TRUE(shown("Connected. Now logging in"));
    EXPECT_EQ(server_events(FE_SE_CONNECTING, 0), 1);
    EXPECT_EQ(server_events(FE_SE_CONNECT, 0), 1);
    EXPECT_EQ(serv->child_pid, 0); // reaped once the socket was handed over
    EXPECT_EQ(serv->sock_v4, -1);
    EXPECT_EQ(serv->sock_v6, -1);

    const std::string login = read_login(peer.get());
    EXPECT_NE(login.find("NICK "), std::string::npos) << login;
}

TEST_F(Connect, DesktopProxySettingAsksTheDesktopAndGoesDirectWhenTold)
{
    for (const char *var : {"all_proxy", "ALL_PROXY", "http_proxy", "https_proxy", "no_proxy"})
        unsetenv(var);
    // A configured host does not override the desktop's answer.
    use_proxy(PROXY_DESKTOP, 1);
    listener l;
    net_fd peer = connected_peer(l);
    EXPECT_GE(peer.get(), 0);
    EXPECT_FALSE(shown("Proxy traversal failed."));
}

TEST_F(Connect, DesktopProxyIsLookedUpBeforeTheForkAndTheChildOnlyConnects)
{
    // The child's SOCKS5 greeting reaches the proxy the desktop named: the
    // resolver refuses any process but this one, so a lookup in the child
    // would have sent the attempt direct to a host that does not resolve.
    std::string greeting;
    scripted_proxy proxy([&greeting](int fd) { greeting = take(fd, 3, WAIT_MS); });
    desktop_answer = "socks5://127.0.0.1:" + std::to_string(proxy.l.port);
    use_proxy(PROXY_DESKTOP, 1);
    connect_to("irc.invalid", 6667);
    EXPECT_EQ(serv->child_pid, 0) << "no child before the desktop answered";
    ASSERT_TRUE(wait_shown(("Connecting to 127.0.0.1 (127.0.0.1:" + std::to_string(proxy.l.port) + ")").c_str()))
        << fe_recorder::dump();
    EXPECT_EQ(desktop_answers, 1);
    EXPECT_TRUE(fe_recorder::run_until([&] { return greeting.size() == 3; }, WAIT_MS));
    EXPECT_EQ(greeting[0], '\x05');
    serv->disconnect(home, FALSE, -1);
}

TEST_F(Connect, AttemptsStoppedOrFreedWhileTheDesktopIsAskedForkNothing)
{
    desktop_answer = "socks5://127.0.0.1:1";
    desktop_delay_ms = 300;
    use_proxy(PROXY_DESKTOP, 1);

    // Stopped: the answer comes to a server that no longer waits for it.
    connect_to("irc.invalid", 6667);
    serv->disconnect(home, FALSE, -1);
    EXPECT_FALSE(serv->connecting);
    fe_recorder::run_for(600);
    EXPECT_EQ(serv->child_pid, 0);
    EXPECT_FALSE(shown("Connecting to"));

    // Freed: the answer must not reach the freed record.
    connect_to("irc.invalid", 6667);
    server *freed = serv;
    session_free(home);
    home = nullptr;
    ASSERT_FALSE(is_server(freed));
    fe_recorder::run_for(600);
    EXPECT_EQ(desktop_answers, 2);
    EXPECT_FALSE(fe_recorder::was_shown(keeper, "Connecting to"));
}

TEST_F(Connect, LinesAreCutFromAnySplitOfTheStream)
{
    listener l;
    net_fd peer = connected_peer(l);
    serv->p_inline = record_line;
    const std::vector<std::string> pieces = {"PI", "NG :a\r", "\nPO\rNG :b\r\n:x 001 me :caf\xc3\xa9",
                                             " \xff\0nul\r\n"s};
    for (const std::string &piece : pieces) {
        put(peer.get(), piece);
        fe_recorder::run_for(30);
    }
    fe_recorder::run_until([] { return lines_seen.size() >= 3; }, WAIT_MS);
    EXPECT_EQ(lines_seen,
              (std::vector<std::string>{"PING :a", "PONG :b", ":x 001 me :caf\xc3\xa9 \xef\xbf\xbd\xef\xbf\xbdnul"}));
    int rawlog = 0;
    for (const auto &c : fe_recorder::calls_named("fe_add_rawlog"))
        rawlog += c.args.find("\"PING :a\", in") != std::string::npos;
    EXPECT_EQ(rawlog, 1);
}

TEST_F(Connect, LongLinesAreCutAndCharsetsConverted)
{
    listener l;
    net_fd peer = connected_peer(l);
    serv->p_inline = record_line;
    testing::internal::CaptureStderr();
    put(peer.get(), std::string(9000, 'x') + "\r\nafter\r\n");
    fe_recorder::run_until([] { return lines_seen.size() >= 2; }, WAIT_MS);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(lines_seen.size(), 2u);
    EXPECT_EQ(lines_seen[0], std::string(8703, 'x'));
    EXPECT_EQ(lines_seen[1], "after");
    EXPECT_NE(err.find("Buffer overflow - non-compliant server!"), std::string::npos);

    server_set_encoding(serv, "ISO-8859-1 (Latin-1)");
    EXPECT_STREQ(serv->encoding, "ISO-8859-1");
    put(peer.get(), "caf\xe9\r\n");
    fe_recorder::run_until([] { return lines_seen.size() >= 3; }, WAIT_MS);
    EXPECT_EQ(lines_seen.back(), "caf\xc3\xa9");

    server_set_encoding(serv, "irc");
    EXPECT_STREQ(serv->encoding, "UTF-8");
    server_set_encoding(serv, "no-such-charset");
    EXPECT_STREQ(serv->encoding, "UTF-8");
}

TEST_F(Connect, PeerClosingDisconnectsEveryTabAndClearsChannels)
{
    listener l;
    net_fd peer = connected_peer(l);
    session *chan = new_ircwindow(serv, "#lumen", SESS_CHANNEL, 0);
    read_login(peer.get()); // unread bytes would turn the close into a reset
    peer.reset();
    ASSERT_TRUE(wait_shown("Disconnected (Remote host closed socket)"));
    EXPECT_TRUE(shown("Disconnected (Remote host closed socket)", chan));
    EXPECT_FALSE(shown("Disconnected", keeper));
    EXPECT_FALSE(serv->connected);
    EXPECT_STREQ(chan->channel, "");
    EXPECT_STREQ(chan->pending_join, "#lumen");
    EXPECT_EQ(serv->reconnect_timer, 0); // net_auto_reconnect is off
}

TEST_F(Connect, ReconnectsAfterHalfASecondWhenTheDelayIsZero)
{
    prefs.net_auto_reconnect = 1;
    listener l;
    net_fd peer = connected_peer(l);
    serv->motd_done = TRUE;
    peer.reset();
    ASSERT_TRUE(fe_recorder::run_until([&] { return !serv->connected; }, WAIT_MS));
    const auto lost = std::chrono::steady_clock::now();
    EXPECT_EQ(server_events(FE_SE_RECONDELAY, 500), 1);
    ASSERT_TRUE(fe_recorder::run_until([&] { return serv->connected; }, WAIT_MS));
    EXPECT_GE(std::chrono::steady_clock::now() - lost, std::chrono::milliseconds(450));
    EXPECT_GE(l.accept_within(WAIT_MS).get(), 0);
}

TEST_F(Connect, FailedAttemptsSayWhyAndRetryOnlyWhenAsked)
{
    int closed_port;
    {
        listener gone;
        closed_port = gone.port;
    }
    connect_to("127.0.0.1", closed_port);
    ASSERT_TRUE(wait_shown("Connection failed (Connection refused)"));
    EXPECT_FALSE(serv->connecting);
    EXPECT_EQ(serv->child_pid, 0);
    EXPECT_EQ(serv->reconnect_timer, 0);

    prefs.net_auto_reconnectonfail = 1;
    connect_to("nowhere.invalid", 6667);
    ASSERT_TRUE(wait_shown("Unknown host"));
    EXPECT_NE(serv->reconnect_timer, 0);
}

TEST_F(Connect, InvalidPortsFallBackToTheDefaults)
{
    std::vector<std::string> debug;
    const guint handler = g_log_set_handler(
        nullptr, G_LOG_LEVEL_DEBUG,
        [](const gchar *, GLogLevelFlags, const gchar *msg, gpointer data) {
            static_cast<std::vector<std::string> *>(data)->emplace_back(msg);
        },
        &debug);
    connect_to("127.0.0.1", 0);
    EXPECT_TRUE(wait_shown("(127.0.0.1:6667)"));
    serv->tls_enabled = TRUE;
    connect_to("127.0.0.1", 70000);
    EXPECT_TRUE(wait_shown("(127.0.0.1:6697)"));
    g_log_remove_handler(nullptr, handler);
    EXPECT_NE(std::find(debug.begin(), debug.end(), "Attempted to connect to invalid port, assuming default port 6697"),
              debug.end());
}

TEST_F(Connect, StoppingAnAttemptReapsOnlyItsOwnChild)
{
    scripted_proxy proxy(silent);
    use_proxy(PROXY_SOCKS5, proxy.l.port);
    connect_to("irc.example.org", 6667);
    ASSERT_TRUE(wait_shown("Connecting to"));
    const pid_t child = serv->child_pid;
    ASSERT_GT(child, 0);
    serv->disconnect(home, TRUE, -1);
    EXPECT_TRUE(shown(("Stopped the previous connection attempt (pid " + std::to_string(child) + ")").c_str()));
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), -1); // already reaped
    EXPECT_EQ(serv->child_pid, 0);
    EXPECT_FALSE(serv->connecting);

    // A connecting state without a live child must not signal anything: a
    // zero id would reach the whole process group, this test included.
    serv->connecting = TRUE;
    serv->disconnect(home, FALSE, -1);
    EXPECT_FALSE(serv->connecting);
    serv->disconnect(home, FALSE, -1);
    EXPECT_TRUE(shown("Not connected"));
}

TEST_F(Connect, ReportsNamingAForeignDescriptorEndTheAttempt)
{
    scripted_proxy proxy(silent);
    use_proxy(PROXY_HTTP, proxy.l.port);
    connect_to("irc.example.org", 6667);
    ASSERT_TRUE(wait_shown("Connecting to"));
    server_handle_child_message(serv, pipe_message{CHILD_CONNECTED, {"0"}});
    EXPECT_TRUE(shown("Connection failed (Protocol error)"));
    EXPECT_FALSE(serv->connecting);
    EXPECT_FALSE(serv->connected);
    EXPECT_EQ(serv->sock, -1);
    EXPECT_NE(fcntl(0, F_GETFD), -1); // standard input was not taken over
}

TEST_F(Connect, HostileOrFailingProxiesEndInTraversalFailed)
{
    // Past the parent's read size, the rest of a proxy's line was once read
    // as further reports ("4" = connected, then a descriptor).
    const std::string forged = "HTTP/1.0 407 " + std::string(114, 'A') + "4\r\n0\r\n\r\n";
    const struct {
        int kind;
        std::string reply;
        std::string expected;
        std::string absent;
    } cases[] = {
        {PROXY_SOCKS5, "\x05\x02"s, "Authentication required but disabled in settings.", "Read error"},
        {PROXY_SOCKS5, "\x05"s, "Read error from server.", "not socks"},
        {PROXY_HTTP, "HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", "HTTP/1.0 407 Proxy Authentication Required",
         "Connection failed"},
        {PROXY_HTTP, "HTTP/1.1 200 OK\r\nVia: cut", "HTTP/1.1 200 OK", "Via: cut"},
        {PROXY_HTTP, forged, forged.substr(0, 127), forged.substr(0, 128)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        fe_recorder::reset();
        {
            scripted_proxy proxy([&c](int fd) {
                take(fd, 3, WAIT_MS);
                put(fd, c.reply);
                shutdown(fd, SHUT_WR);
                take(fd, 1 << 20, WAIT_MS);
            });
            use_proxy(c.kind, proxy.l.port);
            connect_to("irc.example.org", 6667);
            ASSERT_TRUE(wait_shown("Proxy traversal failed."));
        }
        EXPECT_TRUE(shown(c.expected.c_str()));
        EXPECT_FALSE(shown(c.absent.c_str()));
        EXPECT_FALSE(shown("Connected."));
        EXPECT_FALSE(serv->connected);
        EXPECT_FALSE(serv->connecting);
        EXPECT_EQ(serv->sock, -1);
    }
}

TEST_F(Connect, ProxyTunnelsCarryTheIrcStream)
{
    scripted_proxy socks([](int fd) {
        take(fd, 3, WAIT_MS);
        put(fd, "\x05\x00"s);
        take(fd, 5 + 15 + 2, WAIT_MS);
        put(fd, "\x05\x00\x00\x01\x7f\x00\x00\x01\x1a\x0b:irc 001 me :through socks\r\n"s);
    });
    use_proxy(PROXY_SOCKS5, socks.l.port);
    serv->p_inline = record_line;
    connect_to("irc.example.org", 6667);
    EXPECT_TRUE(fe_recorder::run_until([] { return !lines_seen.empty(); }, WAIT_MS));
    EXPECT_EQ(lines_seen, std::vector<std::string>{":irc 001 me :through socks"});
    EXPECT_TRUE(shown(("Connecting to 127.0.0.1 (127.0.0.1:" + std::to_string(socks.l.port) + ")").c_str()));
    serv->disconnect(home, FALSE, -1);

    scripted_proxy http([](int fd) {
        take(fd, 41, WAIT_MS);
        put(fd, "HTTP/1.0 200 Connection established\r\nVia: test\r\n\r\n:irc 001 me :through http\r\n");
    });
    use_proxy(PROXY_HTTP, http.l.port);
    connect_to("irc.example.org", 6667);
    EXPECT_TRUE(fe_recorder::run_until([] { return lines_seen.size() > 1; }, WAIT_MS));
    EXPECT_EQ(lines_seen.back(), ":irc 001 me :through http");
    EXPECT_TRUE(shown("Via: test"));
    serv->disconnect(home, FALSE, -1);
}

TEST_F(Connect, ALineThatEndsTheConnectionEndsItsChunk)
{
    listener l, second;
    net_fd peer = connected_peer(l);
    serv->p_inline = record_line;
    // A reconnect from inside the line handler: the lines after it were
    // meant for the old connection.
    on_line = [&](server *s, const std::string &line) {
        if (line == "AGAIN")
            s->connect(s, const_cast<char *>("127.0.0.1"), second.port, FALSE);
    };
    put(peer.get(), "A\r\nAGAIN\r\nstale\r\n");
    ASSERT_TRUE(fe_recorder::run_until([&] { return lines_seen.size() >= 2 && serv->connected; }, WAIT_MS));
    net_fd peer2 = second.accept_within(WAIT_MS);
    fe_recorder::run_for(100);
    EXPECT_EQ(lines_seen, (std::vector<std::string>{"A", "AGAIN"}));

    // The handler closes the server's last tab: the server is freed mid-chunk.
    session *tab = home;
    on_line = [&](server *, const std::string &line) {
        if (line == "BYE")
            session_free(tab);
    };
    put(peer2.get(), "BYE\r\nafter-free\r\n");
    ASSERT_TRUE(fe_recorder::run_until([&] { return !is_session(tab); }, WAIT_MS));
    fe_recorder::run_for(50);
    EXPECT_EQ(lines_seen.back(), "BYE");
    home = nullptr;
}

TEST_F(Connect, PipeFailureUndoesTheConnectingState)
{
    // Lower the descriptor limit to the lowest free descriptor: pipe() fails.
    const int lowest = dup(0);
    close(lowest);
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    setrlimit(RLIMIT_NOFILE, &tight);
    connect_to("127.0.0.1", 6667);
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_TRUE(shown("Connection failed (Too many open files)"));
    EXPECT_FALSE(serv->connecting);
    EXPECT_EQ(serv->child_pid, 0);
    EXPECT_EQ(serv->watch_tag, 0);
    EXPECT_EQ(fe_recorder::count("fe_progressbar_end"), 1);
}

TEST_F(Connect, ReconnectRejoinsOnlyThisServersChannelsAndAPendingOneIsCancelledQuietly)
{
    prefs.irc_reconnect_rejoin = 1;
    session *mine = new_ircwindow(serv, "#mine", SESS_CHANNEL, 0);
    session *theirs = new_ircwindow(keeper->server, "#theirs", SESS_CHANNEL, 0);
    serv->auto_reconnect(serv, FALSE, -1, prefs.net_reconnect_delay);
    EXPECT_STREQ(mine->rejoin_channel, "#mine");
    EXPECT_STREQ(theirs->rejoin_channel, "");
    ASSERT_NE(serv->reconnect_timer, 0);

    // Only a reconnect was pending: only the server tab hears of it.
    serv->disconnect(mine, FALSE, -1);
    EXPECT_EQ(serv->reconnect_timer, 0);
    EXPECT_TRUE(shown("Disconnected"));
    EXPECT_FALSE(shown("Disconnected", mine));
}

TEST_F(Connect, AwayMessagesAreFoundByCaseMappedNickAndDroppedWithTheServer)
{
    server_away_save_message(serv, "Nick[1]", "lunch");
    server_away_save_message(serv, "nick{1}", "dinner");
    ASSERT_NE(server_away_find_message(serv, "NICK{1}"), nullptr);
    EXPECT_STREQ(server_away_find_message(serv, "NICK{1}")->message, "dinner");
    EXPECT_EQ(server_away_find_message(keeper->server, "nick{1}"), nullptr);
    server_away_save_message(keeper->server, "x", "y");
    session_free(home);
    home = nullptr;
    EXPECT_NE(server_away_find_message(keeper->server, "X"), nullptr);
}

} // namespace
