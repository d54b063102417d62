// End-to-end connections of lumenwick-text to a real InspIRCd on 127.0.0.1,
// directly and through real proxies (microsocks, tinyproxy, dante, a Wingate of
// our own), with the failures a user meets: refused ports, unknown hosts,
// proxies that refuse, and a server that dies and comes back.
#include "connect_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace connect_test
{
namespace
{

// A port on 127.0.0.1 where nothing listens: bound and released at once.
int closed_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// Every shown line that contains `text`.
std::vector<std::string> lines_with(const std::string &out, std::string_view text)
{
    std::vector<std::string> found;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

std::string plain_server(int port)
{
    return "/server -insecure 127.0.0.1 " + std::to_string(port);
}

TEST_F(ConnectTest, PlainServerRegistersAndTheServerTabShowsItsLines)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    const int port = lab.port("irc");
    ASSERT_NO_FATAL_FAILURE(start_client());

    ASSERT_TRUE(client->type(plain_server(port)));
    EXPECT_TRUE(client->wait_shown("Connecting to ", SHORT_MS)) << context();
    EXPECT_TRUE(client->wait_shown("127.0.0.1:" + std::to_string(port), SHORT_MS))
        << "the address and port connected to are shown\n"
        << context();
    ASSERT_TRUE(registered()) << context();
    EXPECT_TRUE(client->wait_shown(std::string(IRCD_WELCOME) + " " + NICK + "!" + USER_NAME + "@127.0.0.1", SHORT_MS))
        << "registered with the configured nick and user name\n"
        << context();
    EXPECT_TRUE(client->wait_shown(IRCD_MOTD, SHORT_MS)) << "the MOTD reaches the server tab\n" << context();

    ASSERT_TRUE(client->type("/discon"));
    EXPECT_TRUE(client->wait_shown("Disconnected", SHORT_MS)) << context();
    ASSERT_TRUE(client->type("/set irc_nick2 still-here"));
    EXPECT_TRUE(client->wait_shown("irc_nick2 set to: still-here", SHORT_MS)) << context();
    quit_client();
}

TEST_F(ConnectTest, TlsToInspircdVerifiesWithTheTrustedCaAndRegisters)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    const std::string tls_port = std::to_string(lab.port("irc-tls"));
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    ASSERT_EQ(attempt("/server -ssl localhost " + tls_port), outcome::connected) << context();
    EXPECT_TRUE(client->wait_shown("Certification info", SHORT_MS)) << context();
    EXPECT_TRUE(client->wait_shown("Cipher info", SHORT_MS)) << context();
    EXPECT_TRUE(client->wait_shown("Lumenwick Test CA", SHORT_MS)) << "the issuer is shown\n" << context();
    ASSERT_TRUE(registered(1)) << context();
    // The server sends its greeting in one burst: all of it is read and shown
    // without waiting for anything else to happen on the connection (TLS may hold
    // decrypted bytes that no longer make the socket readable).
    EXPECT_TRUE(client->wait_shown(IRCD_MOTD, SHORT_MS)) << context();

    // An address as host name: no SNI, and the certificate's IP entry matches.
    ASSERT_EQ(attempt("/server -ssl 127.0.0.1 " + tls_port), outcome::connected) << context();
    EXPECT_TRUE(client->wait_shown("Skipping invalid SNI hostname: 127.0.0.1", SHORT_MS)) << context();
    ASSERT_TRUE(registered(2)) << context();
    EXPECT_TRUE(client->wait_shown(IRCD_MOTD, SHORT_MS, 2)) << context();

    // Without an option /SERVER uses TLS with verification.
    ASSERT_EQ(attempt("/server localhost " + tls_port), outcome::connected) << context();
    ASSERT_TRUE(registered(3)) << context();
    EXPECT_TRUE(client->wait_shown(IRCD_MOTD, SHORT_MS, 3)) << context();
    quit_client();
}

// A proxy of the harness as the client is told about it.
struct proxy_case {
    const char *name; // the harness's name of the proxy
    int kind;         // net_proxy_type
    bool auth;
};

class ConnectThroughProxy : public ConnectTest
{
  protected:
    void use_proxy(const proxy_case &p, const std::string &user = "proxyuser", const std::string &pass = "proxypass")
    {
        set("net_proxy_type " + std::to_string(p.kind));
        set("net_proxy_host 127.0.0.1");
        set("net_proxy_port " + std::to_string(lab.port(p.name)));
        set(std::string("net_proxy_auth ") + (p.auth ? "1" : "0"));
        set("net_proxy_user " + user);
        set("net_proxy_pass " + pass);
    }

    // Connects to InspIRCd through `p` and checks that the client registers and
    // that it was the proxy it connected to.
    void reach_ircd_through(const proxy_case &p, int times)
    {
        SCOPED_TRACE(p.name);
        use_proxy(p);
        const std::string via = "127.0.0.1:" + std::to_string(lab.port(p.name)) + ")";
        const int before = client->count_shown(via);
        ASSERT_TRUE(client->type(plain_server(lab.port("irc"))));
        EXPECT_TRUE(client->wait_shown(via, SHORT_MS, before + 1))
            << "\"Connecting\" names the proxy's address and port\n"
            << context();
        EXPECT_TRUE(registered(times)) << context();
    }
};

TEST_F(ConnectThroughProxy, SocksProxiesReachInspircd)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    ASSERT_TRUE(lab.start_proxies({"socks4", "socks5", "socks5-auth"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    reach_ircd_through({"socks4", 2, false}, 1);
    reach_ircd_through({"socks5", 3, false}, 2);
    reach_ircd_through({"socks5-auth", 3, true}, 3);
    quit_client();
}

TEST_F(ConnectThroughProxy, HttpConnectAndWingateProxiesReachInspircd)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    ASSERT_TRUE(lab.start_proxies({"http", "http-auth", "wingate"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    reach_ircd_through({"http", 4, false}, 1);
    reach_ircd_through({"http-auth", 4, true}, 2);
    reach_ircd_through({"wingate", 1, false}, 3);
    EXPECT_NE(lab.file("proxy/wingate.out").find("REQUEST b'127.0.0.1 " + std::to_string(lab.port("irc")) + "\\r\\n'"),
              std::string::npos)
        << "the Wingate request is the host, a space, the port and CR LF\n"
        << lab.file("proxy/wingate.out");
    quit_client();
}

TEST_F(ConnectThroughProxy, ProxyRefusalsAreShownAndEndTheAttempt)
{
    ASSERT_TRUE(lab.start_proxies({"socks5-auth", "http-auth", "socks5-demand-auth", "socks5-refuse", "socks5-short",
                                   "socks5-short-bound", "http-short"}))
        << lab.log();
    scripted_server target;
    ASSERT_TRUE(target.ok()) << target.transcript();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    const std::string connect = plain_server(target.port());

    struct refusal {
        proxy_case proxy;
        const char *user;
        const char *pass;
        const char *shown; // the proxy's own text, as relayed to the user
    };
    const refusal refusals[] = {
        // microsocks with credentials configured rejects an offer of no authentication.
        {{"socks5-auth", 3, false}, "", "", "Authentication required but disabled in settings."},
        {{"socks5-demand-auth", 3, false}, "", "", "Authentication required but disabled in settings."},
        {{"socks5-auth", 3, true}, "proxyuser", "wrong", "Authentication failed. Is username and password correct?"},
        {{"socks5-refuse", 3, false}, "", "", "Proxy refused to connect to host (not allowed)."},
        {{"socks5-short", 3, false}, "", "", "Read error from server."},
        {{"socks5-short-bound", 3, false}, "", "", "Read error from server."},
        {{"http-auth", 4, false}, "", "", "407 Proxy Authentication Required"},
        // tinyproxy answers wrong credentials with 401 rather than 407.
        {{"http-auth", 4, true}, "proxyuser", "wrong", "HTTP/1.0 401 Unauthorized"},
        {{"http-short", 4, false}, "", "", "Proxy traversal failed."},
    };
    for (const refusal &r : refusals) {
        SCOPED_TRACE(std::string(r.proxy.name) + " auth=" + (r.proxy.auth ? "on" : "off"));
        use_proxy(r.proxy, r.user, r.pass);
        const int shown = client->count_shown(r.shown);
        const int failed = client->count_shown("Proxy traversal failed.");
        ASSERT_TRUE(client->type(connect));
        EXPECT_TRUE(client->wait_shown("Proxy traversal failed.", SHORT_MS, failed + 1)) << context();
        EXPECT_GT(client->count_shown(r.shown), shown) << context();
        EXPECT_LE(client->out().rfind(r.shown), client->out().rfind("Proxy traversal failed."))
            << "the proxy's answer comes first\n"
            << context();
    }
    EXPECT_EQ(client->count_shown("Connected"), 0) << context();
    for (const std::string &line : lines_with(client->out(), "Authentication required"))
        EXPECT_NE(line.find("SOCKS"), std::string::npos) << "the SOCKS message names its source: " << line;
    // The HTTP proxy's status line is shown as the proxy sent it, without its line end.
    EXPECT_EQ(client->count_shown("HTTP/1.0 407 Proxy Authentication Required"), 1) << context();
    EXPECT_EQ(client->out().find('\r'), std::string::npos) << context();

    // Nothing was left half-connected: a direct connection still works.
    set("net_proxy_type 0");
    ASSERT_TRUE(client->type(connect));
    EXPECT_TRUE(target.wait_received(1, "NICK tester\r\n", SHORT_MS)) << target.transcript() << context();
    quit_client();
}

TEST_F(ConnectThroughProxy, ProxyReplyCannotForgeAConnectedSocket)
{
    // A refusing HTTP proxy whose status line is long enough that a reader cutting
    // it at the pipe's line size would see "4" (connected) and then the next code
    // as a descriptor number; padded for both ways of counting the line size.
    ASSERT_TRUE(lab.start_proxies({"http-forge", "http-forge-128"})) << lab.log();
    scripted_server target;
    ASSERT_TRUE(target.ok()) << target.transcript();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    for (const char *forge : {"http-forge", "http-forge-128"}) {
        SCOPED_TRACE(forge);
        use_proxy({forge, 4, false});
        const int failed = client->count_shown("Proxy traversal failed.");
        ASSERT_TRUE(client->type(plain_server(target.port())));
        EXPECT_TRUE(client->wait_shown("Proxy traversal failed.", SHORT_MS, failed + 1)) << context();
        EXPECT_TRUE(client->wait_shown("HTTP/1.0 403 Forbidden xxx", SHORT_MS)) << context();
    }
    client->settle(500);
    EXPECT_EQ(client->count_shown("Connected"), 0) << context();
    EXPECT_EQ(client->count_shown("CAP LS"), 0) << context();
    // The proxy's line reaches the user cut to what the pipe carries (127 bytes),
    // and its tail never shows up as a line of its own.
    for (const std::string &line : lines_with(client->out(), "HTTP/1.0 403 Forbidden"))
        EXPECT_LE(line.size() - line.rfind('\t') - 1, 127u) << line;
    std::istringstream lines(client->out());
    for (std::string line; std::getline(lines, line);)
        EXPECT_NE(line.substr(line.rfind('\t') + 1), "4") << context();

    set("net_proxy_type 0");
    ASSERT_TRUE(client->type(plain_server(target.port())));
    EXPECT_TRUE(target.wait_received(1, "NICK tester\r\n", SHORT_MS)) << target.transcript() << context();
    quit_client();
}

TEST_F(ConnectTest, LostServerIsShownAndTheClientReconnectsWhenItIsBack)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION, "net_reconnect_delay 1", "net_auto_reconnectonfail 1"}));

    ASSERT_TRUE(client->type(plain_server(lab.port("irc"))));
    ASSERT_TRUE(registered(1)) << context();

    ASSERT_TRUE(lab.stop_ircd(true)) << lab.log();
    EXPECT_TRUE(client->wait_shown("Disconnected", SHORT_MS)) << context();

    // Same ports again (recorded by the first start); the client keeps trying.
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    EXPECT_TRUE(registered(2)) << context();
    EXPECT_GE(client->count_shown("Connecting to "), 2) << context();
    quit_client();
}

TEST_F(ConnectTest, RefusedPortFailsAndRetriesOnlyWhenAskedTo)
{
    const int port = closed_port();
    ASSERT_NE(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_client({"net_reconnect_delay 1"}));

    ASSERT_EQ(attempt(plain_server(port)), outcome::failed) << context();
    EXPECT_TRUE(client->wait_shown("Connection refused", SHORT_MS)) << "the system's error text\n" << context();
    // Without net_auto_reconnectonfail a failed attempt is not repeated.
    client->settle(2500);
    EXPECT_EQ(client->count_shown("Connecting to "), 1) << context();

    set("net_auto_reconnectonfail 1");
    ASSERT_EQ(attempt(plain_server(port)), outcome::failed) << context();
    EXPECT_TRUE(client->wait_shown_nocase("connection failed", 8000, 3)) << "retried every second\n" << context();

    // /DISCON ends the retrying.
    ASSERT_TRUE(client->type("/discon"));
    client->settle(500);
    const int attempts = client->count_shown("Connecting to ");
    client->settle(2500);
    EXPECT_EQ(client->count_shown("Connecting to "), attempts) << context();

    ASSERT_TRUE(client->type("/server -insecure no-such-host.invalid 6667"));
    EXPECT_TRUE(client->wait_shown_nocase("unknown host", 20000)) << context();
    quit_client();
}

} // namespace
} // namespace connect_test
