// End-to-end TLS checks of lumenwick-text against `openssl s_server` endpoints on
// 127.0.0.1 with certificates made by the test (harness: tls-up.sh): which
// certificates are accepted, what the user is told when one is not, client
// certificates, and a server that never answers the handshake.
#include "connect_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace connect_test
{
namespace
{

class ConnectTls : public ConnectTest
{
  protected:
    std::string port_of(const std::string &kind) { return std::to_string(lab.port("tls-" + kind)); }

    // Sends `bytes` to the endpoint's client in one piece (one TLS record).
    bool endpoint_send(const std::string &kind, const std::string &bytes)
    {
        const std::string fifo = (lab.dir() / "tls-run" / (kind + ".in")).string();
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        const bool whole = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        close(fd);
        return whole;
    }

    // The endpoint saw the client's registration through an established TLS session.
    bool endpoint_heard_nick(const std::string &kind)
    {
        return lab_file_has("tls-run/" + kind + ".out", std::string("NICK ") + NICK, SHORT_MS);
    }
};

TEST_F(ConnectTls, UntrustedExpiredMismatchedAndOldProtocolEndpointsAreRefused)
{
    ASSERT_TRUE(lab.start_tls({"selfsigned", "expired", "wronghost", "ipsan", "tls11"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    struct refusal {
        const char *kind;
        const char *host;
        const char *detail; // what the user is told besides "Connection Failed"
    };
    const refusal refusals[] = {
        {"selfsigned", "localhost", "self-signed certificate"},
        {"expired", "localhost", "certificate has expired"},
        {"wronghost", "localhost", "Failed to validate hostname"},
        // Only an IP entry: a name does not match it, and the common name is not
        // consulted when the certificate has alternative names.
        {"ipsan", "localhost", "Failed to validate hostname"},
        // The client's floor is TLS 1.2.
        {"tls11", "localhost", ""},
    };
    for (const refusal &r : refusals) {
        SCOPED_TRACE(r.kind);
        const int detail = client->count_shown(r.detail);
        EXPECT_EQ(attempt(std::string("/server -ssl ") + r.host + " " + port_of(r.kind)), outcome::failed) << context();
        if (*r.detail) {
            EXPECT_GT(client->count_shown(r.detail), detail) << context();
        }
    }
    EXPECT_TRUE(client->wait_shown("* Verify E: ", SHORT_MS)) << "the verify errors are shown\n" << context();
    for (const char *kind : {"selfsigned", "expired", "wronghost", "ipsan", "tls11"})
        EXPECT_EQ(lab.file(std::string("tls-run/") + kind + ".out").find("NICK "), std::string::npos)
            << kind << ": nothing is sent over a refused session\n"
            << lab.file(std::string("tls-run/") + kind + ".out");

    // Verification failures are final: no reconnect follows.
    const int attempts = client->count_shown("Connecting to ");
    client->settle(1500);
    EXPECT_EQ(client->count_shown("Connecting to "), attempts) << context();
    quit_client();
}

TEST_F(ConnectTls, NoverifyAcceptsSelfSignedAndExpiredCertificates)
{
    ASSERT_TRUE(lab.start_tls({"selfsigned", "expired"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    ASSERT_EQ(attempt("/server -ssl-noverify localhost " + port_of("selfsigned")), outcome::connected) << context();
    EXPECT_TRUE(client->wait_shown("* Verify E: ", SHORT_MS)) << "the problem is still shown\n" << context();
    EXPECT_TRUE(endpoint_heard_nick("selfsigned")) << lab.file("tls-run/selfsigned.out") << context();

    ASSERT_EQ(attempt("/server -ssl-noverify localhost " + port_of("expired")), outcome::connected) << context();
    EXPECT_TRUE(endpoint_heard_nick("expired")) << lab.file("tls-run/expired.out") << context();
    quit_client();
}

TEST_F(ConnectTls, MatchingNamesAndAddressesAreAccepted)
{
    ASSERT_TRUE(lab.start_tls({"trusted", "ipsan", "cnonly"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));

    ASSERT_EQ(attempt("/server -ssl localhost " + port_of("trusted")), outcome::connected) << context();
    EXPECT_TRUE(endpoint_heard_nick("trusted")) << context();

    ASSERT_EQ(attempt("/server -ssl 127.0.0.1 " + port_of("ipsan")), outcome::connected) << context();
    EXPECT_TRUE(endpoint_heard_nick("ipsan")) << context();

    // No alternative names at all: the common name decides.
    ASSERT_EQ(attempt("/server -ssl localhost " + port_of("cnonly")), outcome::connected) << context();
    EXPECT_TRUE(endpoint_heard_nick("cnonly")) << context();
    quit_client();
}

TEST_F(ConnectTls, WildcardCoversExactlyOneLabel)
{
    // The names exist nowhere; the Wingate proxy passes them on unresolved and
    // always connects to 127.0.0.1, so the TLS host check sees them as typed.
    ASSERT_TRUE(lab.start_tls({"wildcard"})) << lab.log();
    ASSERT_TRUE(lab.start_proxies({"wingate"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION, "net_proxy_type 1", "net_proxy_host 127.0.0.1",
                                          "net_proxy_port " + std::to_string(lab.port("wingate"))}));
    const std::string port = port_of("wildcard");

    for (const char *host : {"wild.localhost", "a.b.wild.localhost"}) {
        SCOPED_TRACE(host);
        EXPECT_EQ(attempt(std::string("/server -ssl ") + host + " " + port), outcome::failed) << context();
    }
    EXPECT_GE(client->count_shown("Failed to validate hostname"), 2) << context();
    ASSERT_EQ(attempt("/server -ssl irc.wild.localhost " + port), outcome::connected) << context();
    EXPECT_TRUE(endpoint_heard_nick("wildcard")) << context();
    EXPECT_NE(lab.file("proxy/wingate.out").find("REQUEST b'irc.wild.localhost " + port + "\\r\\n'"), std::string::npos)
        << lab.file("proxy/wingate.out");
    quit_client();
}

TEST_F(ConnectTls, ReceivedRecordsAreShownAsTheyArrive)
{
    // Nothing else happens on the connection meanwhile (no queued lines, no
    // typing): the socket's readiness alone must get each record read and shown.
    ASSERT_TRUE(lab.start_tls({"trusted"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    ASSERT_EQ(attempt("/server -ssl localhost " + port_of("trusted")), outcome::connected) << context();
    ASSERT_TRUE(endpoint_heard_nick("trusted")) << context();

    for (int i = 1; i <= 5; ++i) {
        const std::string text = "record " + std::to_string(i) + " of 5";
        ASSERT_TRUE(endpoint_send("trusted", ":irc.test NOTICE tester :" + text + "\r\n")) << lab.log();
        EXPECT_TRUE(client->wait_shown(text, 3000)) << context();
    }
    // A record larger than one 2048-byte read: what the library keeps decrypted
    // no longer makes the socket readable, so the reader has to drain it.
    std::string burst;
    for (int i = 1; i <= 60; ++i)
        burst += ":irc.test NOTICE tester :burst line " + std::to_string(i) + " " + std::string(80, '.') + "\r\n";
    ASSERT_GT(burst.size(), 3 * 2048u);
    ASSERT_TRUE(endpoint_send("trusted", burst)) << lab.log();
    EXPECT_TRUE(client->wait_shown("burst line 60 ", SHORT_MS)) << context();
    EXPECT_EQ(client->count_shown("burst line "), 60) << context();
    quit_client();
}

TEST_F(ConnectTls, RecordsLeftInsideTheLibraryAfterAShortTurnAreStillRead)
{
    // With no time for more than one read per wake-up, most of a large record
    // waits decrypted inside the library while the socket is quiet: the reader
    // must come back for it by itself, and keep every line in order.
    ASSERT_TRUE(lab.start_tls({"trusted"})) << lab.log();
    g_setenv("LUMENWICK_READ_BUDGET_US", "0", TRUE);
    start_client({QUICK_SUCCESSION});
    g_unsetenv("LUMENWICK_READ_BUDGET_US");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(attempt("/server -ssl localhost " + port_of("trusted")), outcome::connected) << context();
    ASSERT_TRUE(endpoint_heard_nick("trusted")) << context();
    std::string burst;
    for (int i = 1; i <= 120; ++i)
        burst += ":irc.test NOTICE tester :slow line " + std::to_string(i) + " " + std::string(80, '.') + "\r\n";
    ASSERT_GT(burst.size(), 6 * 2048u);
    ASSERT_TRUE(endpoint_send("trusted", burst)) << lab.log();
    EXPECT_TRUE(client->wait_shown("slow line 120 ", SHORT_MS)) << context();
    EXPECT_EQ(client->count_shown("slow line "), 120) << context();
    quit_client();
}

TEST_F(ConnectTls, ClientCertificateFromTheCertsFolderIsPresented)
{
    ASSERT_TRUE(lab.start_tls({"clientcert"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    const std::string connect = "/server -ssl localhost " + port_of("clientcert");

    // Without a certificate the endpoint ends the session (with TLS 1.3 possibly
    // only after the client's side of the handshake finished) and hears nothing.
    const auto ends = [&] {
        return client->count_shown("Disconnected") + client->count_shown_nocase("connection failed");
    };
    const int ended = ends();
    EXPECT_NE(attempt(connect), outcome::undecided) << context();
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(SHORT_MS) * 1000;
    while (ends() == ended && g_get_monotonic_time() < deadline)
        client->settle(100);
    EXPECT_GT(ends(), ended) << "the refused session must end" << context();
    EXPECT_EQ(lab.file("tls-run/clientcert.out").find("NICK "), std::string::npos)
        << lab.file("tls-run/clientcert.out") << context();

    const std::filesystem::path certs = client->config_dir() / "certs";
    std::filesystem::create_directories(certs);
    std::filesystem::copy_file(lab.client_cert(), certs / "client.pem");
    ASSERT_EQ(attempt(connect), outcome::connected) << context();
    EXPECT_TRUE(endpoint_heard_nick("clientcert")) << lab.file("tls-run/clientcert.out") << context();
    quit_client();
}

TEST_F(ConnectTls, SilentServerKeepsTheAttemptOpenUntilDisconnect)
{
    // The 90-second handshake limit itself is covered in-process, where time can
    // be injected; here: the client neither gives up early nor hangs.
    ASSERT_TRUE(lab.start_tls({"silent"})) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client());

    EXPECT_EQ(attempt("/server -ssl localhost " + port_of("silent"), 2000), outcome::undecided) << context();
    ASSERT_TRUE(lab_file_has("proxy/silent.out", "ACCEPT", SHORT_MS)) << lab.file("proxy/silent.out");
    EXPECT_EQ(lab.file("proxy/silent.out").find("CLOSE"), std::string::npos) << "still waiting for the server";

    ASSERT_TRUE(client->type("/discon"));
    EXPECT_TRUE(lab_file_has("proxy/silent.out", "CLOSE", SHORT_MS)) << "/DISCON closes the socket\n"
                                                                     << lab.file("proxy/silent.out") << context();
    ASSERT_TRUE(client->type("/set irc_nick2 still-here"));
    EXPECT_TRUE(client->wait_shown("irc_nick2 set to: still-here", SHORT_MS)) << context();
    EXPECT_EQ(client->count_shown("Connected"), 0) << context();
    quit_client();
}

} // namespace
} // namespace connect_test
