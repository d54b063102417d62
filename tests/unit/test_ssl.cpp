// TLS: the host-name check against certificates made here with OpenSSL, the
// client certificate lookup, and real handshakes against `openssl s_server`
// and small listeners on 127.0.0.1 (a plain-text port, a silent one).
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "net/ssl.h"
#include "output/text.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace
{

using namespace std::string_literals;
using key_ptr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using cert_ptr = std::unique_ptr<X509, decltype(&X509_free)>;

key_ptr make_key()
{
    return key_ptr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

// Alternative names: "DNS:" + name bytes, or "IP:" + address text.
struct cert_spec {
    std::vector<std::string> common_names; // raw bytes, may hold NUL
    std::vector<std::string> alt_names;
    bool is_ca = false;
};

// A certificate for `key`, signed by `issuer` (self-signed when null), valid
// from a minute ago for a day.
cert_ptr make_cert(const cert_spec &spec, EVP_PKEY *key, X509 *issuer = nullptr, EVP_PKEY *issuer_key = nullptr)
{
    static long serial = 1;
    cert_ptr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Lumenwick tests"), -1,
                               -1, 0);
    for (const std::string &cn : spec.common_names)
        X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char *>(cn.data()), static_cast<int>(cn.size()), -1,
                                   0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    if (!spec.alt_names.empty()) {
        GENERAL_NAMES *names = sk_GENERAL_NAME_new_null();
        for (const std::string &alt : spec.alt_names) {
            ASN1_STRING *value;
            int type;
            if (alt.rfind("IP:", 0) == 0) {
                unsigned char addr[16];
                const bool v4 = inet_pton(AF_INET, alt.c_str() + 3, addr) == 1;
                EXPECT_TRUE(v4 || inet_pton(AF_INET6, alt.c_str() + 3, addr) == 1);
                value = ASN1_OCTET_STRING_new();
                ASN1_STRING_set(value, addr, v4 ? 4 : 16);
                type = GEN_IPADD;
            } else {
                value = ASN1_IA5STRING_new();
                ASN1_STRING_set(value, alt.data() + 4, static_cast<int>(alt.size() - 4));
                type = GEN_DNS;
            }
            GENERAL_NAME *gn = GENERAL_NAME_new();
            GENERAL_NAME_set0_value(gn, type, value);
            sk_GENERAL_NAME_push(names, gn);
        }
        X509_add1_ext_i2d(cert.get(), NID_subject_alt_name, names, 0, 0);
        GENERAL_NAMES_free(names);
    }
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    X509_EXTENSION *ext =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, spec.is_ca ? "critical,CA:TRUE" : "CA:FALSE");
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
    X509_sign(cert.get(), issuer_key ? issuer_key : key, EVP_sha256());
    return cert;
}

void write_pem(const std::string &path, X509 *cert, EVP_PKEY *key)
{
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    PEM_write_X509(f, cert);
    if (key)
        PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    fclose(f);
}

TEST(HostCheck, NamesAddressesWildcardsAndForgeries)
{
    static key_ptr key = make_key();
    const struct {
        cert_spec cert;
        const char *host;
        int want;
    } cases[] = {
        {{{}, {"DNS:irc.example.net", "DNS:alt.example.org"}}, "IRC.Example.NET", 0},
        {{{}, {"DNS:irc.example.net", "DNS:alt.example.org"}}, "alt.example.org", 0},
        {{{}, {"DNS:irc.example.net"}}, "irc.example.net.evil", -1},
        {{{}, {"IP:192.0.2.7", "IP:2001:db8::7", "DNS:192.0.2.8"}}, "192.0.2.7", 0},
        {{{}, {"IP:192.0.2.7", "IP:2001:db8::7", "DNS:192.0.2.8"}}, "2001:db8:0::7", 0},
        {{{}, {"IP:192.0.2.7", "IP:2001:db8::7", "DNS:192.0.2.8"}}, "192.0.2.8", -1}, // a DNS entry is no IP entry
        // A wildcard stands for exactly one whole label under a two-label domain.
        {{{}, {"DNS:*.example.net"}}, "irc.EXAMPLE.net", 0},
        {{{}, {"DNS:*.example.net"}}, "example.net", -1},
        {{{}, {"DNS:*.example.net"}}, "a.b.example.net", -1},
        {{{}, {"DNS:*.example.net"}}, ".example.net", -1},
        {{{}, {"DNS:*.net"}}, "example.net", -1},
        {{{}, {"DNS:*..net"}}, "a..net", -1},
        {{{}, {"DNS:f*.example.net"}}, "foo.example.net", -1},
        // The common name counts only when there are no alternative names.
        {{{"irc.example.net"}, {}}, "irc.example.net", 0},
        {{{"*.example.net"}, {}}, "irc.example.net", 0},
        {{{"127.0.0.1"}, {}}, "127.0.0.1", 0},
        {{{"a.example.net", "b.example.net"}, {}}, "b.example.net", 0},
        {{{"a.example.net", "b.example.net"}, {}}, "a.example.net", -1},
        {{{}, {}}, "irc.example.net", -1},
        {{{"irc.example.net"}, {"DNS:other.example.net"}}, "irc.example.net", -1},
        {{{"irc.example.net"}, {"IP:192.0.2.1"}}, "irc.example.net", -1},
        // A NUL inside a name is a forged certificate.
        {{{"irc.example.net"}, {"DNS:irc.example.net\0.evil.com"s}}, "irc.example.net", -2},
        {{{}, {"DNS:irc.example.net", "DNS:x\0y"s}}, "irc.example.net", 0},
        {{{"irc.example.net\0.evil.com"s}, {}}, "irc.example.net", -2},
    };
    for (const auto &c : cases) {
        cert_ptr cert = make_cert(c.cert, key.get());
        EXPECT_EQ(ssl_check_hostname(cert.get(), c.host), c.want) << c.host;
    }
}

TEST(HostCheck, ServerNameIndicationOnlyForPlainAsciiNames)
{
    EXPECT_TRUE(ssl_host_is_valid_sni("irc.example.net"));
    for (const char *bad : {"", "127.0.0.1", "::1", "[2001:db8::1]", "[127.0.0.1]",
                            "b\xc3\xbc"
                            "cher.example"})
        EXPECT_FALSE(ssl_host_is_valid_sni(bad)) << bad;
}

// ---- connections ------------------------------------------------------------------

int local_socket(int port_to_connect, int *listen_port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_to_connect));
    socklen_t len = sizeof addr;
    auto *sa = reinterpret_cast<sockaddr *>(&addr);
    const bool ok = listen_port ? bind(fd, sa, len) == 0 && listen(fd, 4) == 0 && getsockname(fd, sa, &len) == 0
                                : connect(fd, sa, len) == 0;
    if (listen_port)
        *listen_port = ntohs(addr.sin_port);
    return ok ? fd : (close(fd), -1);
}

// `openssl s_server` on 127.0.0.1, on a port of its choosing; its output
// (both streams) is kept for the checks.
class TlsPeer
{
  public:
    explicit TlsPeer(const std::vector<std::string> &args)
    {
        std::string cmd = "exec openssl s_server -accept 127.0.0.1:0 -naccept 1";
        for (const std::string &a : args)
            cmd += " '" + a + "'";
        cmd += " 2>&1";
        const char *argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
        if (!g_spawn_async_with_pipes(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                      nullptr, &pid_, &in_, &out_, nullptr, nullptr))
            return;
        fcntl(out_, F_SETFL, O_NONBLOCK);
        // It names its port once it listens.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!port && std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            poll(&p, 1, 100);
            const std::size_t at = output().find("ACCEPT 127.0.0.1:");
            if (at != std::string::npos && output().find('\n', at) != std::string::npos)
                port = atoi(output().c_str() + at + 17);
        }
    }
    ~TlsPeer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0)
            close(in_);
        if (out_ >= 0)
            close(out_);
    }
    const std::string &output()
    {
        char buf[4096];
        for (ssize_t n; (n = read(out_, buf, sizeof buf)) > 0;)
            text_.append(buf, static_cast<std::size_t>(n));
        return text_;
    }
    int port = 0;

  private:
    GPid pid_ = 0;
    int in_ = -1, out_ = -1;
    std::string text_;
};

class Handshake : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // The setup script installs the openssl tool; without it these cases cannot run.
        ASSERT_EQ(system("openssl version >/dev/null 2>&1"), 0) << "the openssl tool is missing";
        dir = g_dir_make_tmp("lwk-ssl-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        load_text_events();
        prefs.net_auto_reconnectonfail = 1;
        prefs.net_reconnect_delay = 600;
        // As the program does at start-up: a peer gone mid-write is an error
        // code, not a signal.
        signal(SIGPIPE, SIG_IGN);
        g_mkdir_with_parents(path("certs").c_str(), 0700);
        ca = make_cert({{"Lumenwick Test CA"}, {}, true}, ca_key.get());
        server_cert =
            make_cert({{"localhost"}, {"DNS:localhost", "IP:127.0.0.1"}}, server_key.get(), ca.get(), ca_key.get());
        write_pem(path("ca.pem"), ca.get(), nullptr);
        write_pem(path("server.pem"), server_cert.get(), server_key.get());
        setenv("SSL_CERT_FILE", path("ca.pem").c_str(), 1);

        home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
        ASSERT_NE(home, nullptr);
        serv = home->server;
        serv->tls_enabled = TRUE;
        serv->tls_context = ssl_context_init(nullptr);
        ASSERT_NE(serv->tls_context, nullptr);
    }
    void TearDown() override
    {
        if (!dir)
            return;
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        ssl_handshake_limit_seconds = 90;
        unsetenv("SSL_CERT_FILE");
        ASSERT_EQ(system((std::string("rm -rf '") + dir + "'").c_str()), 0);
        g_free(dir);
    }

    std::string path(const char *name) const { return std::string(dir) + "/" + name; }
    std::vector<std::string> serve(const char *pem) { return {"-cert", path(pem), "-key", path(pem)}; }

    // Connects to `port` as the connection child would have, then lets the
    // handshake run until it is decided (at most 15 s).
    void handshake(int port, const char *host)
    {
        ASSERT_GT(port, 0);
        g_strlcpy(serv->hostname, host, sizeof serv->hostname);
        serv->sock = local_socket(port, nullptr);
        ASSERT_GE(serv->sock, 0);
        serv->connecting = TRUE;
        ssl_start_handshake(serv);
        ASSERT_TRUE(fe_recorder::run_until([&] { return !serv->connecting; }, 15000));
    }
    bool shown(const std::string &needle) { return fe_recorder::was_shown(home, needle); }

    char *dir = nullptr;
    key_ptr ca_key = make_key(), server_key = make_key();
    cert_ptr ca{nullptr, X509_free}, server_cert{nullptr, X509_free};
    session *home = nullptr;
    server *serv = nullptr;
};

TEST_F(Handshake, CertificateOfATrustedAuthorityIsAcceptedAndDescribed)
{
    TlsPeer peer(serve("server.pem"));
    handshake(peer.port, "localhost");
    EXPECT_TRUE(serv->connected);
    for (const char *line :
         {"* Subject: /O=Lumenwick tests/CN=localhost", "* Issuer: /O=Lumenwick tests/CN=Lumenwick Test CA",
          "* Certification info:", "    CN=localhost", "  Public key algorithm: id-ecPublicKey (256 bits)",
          "  Sign algorithm ecdsa-with-SHA256", "  Version: TLSv1.3, cipher TLS_"})
        EXPECT_TRUE(shown(line)) << line;
    EXPECT_FALSE(shown("Verify E"));
    EXPECT_FALSE(shown("Skipping invalid SNI"));
    EXPECT_TRUE(fe_recorder::run_until([&] { return peer.output().find("CAP LS 302") != std::string::npos; }, 5000))
        << "the login goes out through TLS";
}

TEST_F(Handshake, SelfSignedCertificateIsRefusedUnlessInvalidCertsAreAllowed)
{
    key_ptr key = make_key();
    write_pem(path("self.pem"), make_cert({{"localhost"}, {"DNS:localhost"}}, key.get()).get(), key.get());
    {
        TlsPeer peer(serve("self.pem"));
        handshake(peer.port, "localhost");
        EXPECT_FALSE(serv->connected);
        EXPECT_TRUE(shown("* Verify E: self-signed certificate (18)"));
        EXPECT_TRUE(shown("self-signed certificate.? (18)"));
        EXPECT_EQ(serv->reconnect_timer, 0) << "a refused certificate is not retried";
    }
    serv->allow_invalid_cert = TRUE;
    TlsPeer peer(serve("self.pem"));
    handshake(peer.port, "localhost");
    EXPECT_TRUE(serv->connected);
}

TEST_F(Handshake, CertificateForAnotherHostIsRefused)
{
    TlsPeer peer(serve("server.pem"));
    handshake(peer.port, "irc.elsewhere.test");
    EXPECT_FALSE(serv->connected);
    EXPECT_TRUE(shown("* Verify E: Failed to validate hostname (-1)"));
    EXPECT_EQ(serv->reconnect_timer, 0);
}

TEST_F(Handshake, IpLiteralSkipsServerNameOnceAndMatchesTheIpEntry)
{
    TlsPeer peer(serve("server.pem"));
    handshake(peer.port, "127.0.0.1");
    EXPECT_TRUE(serv->connected);
    const auto shown_lines = fe_recorder::shown(home);
    EXPECT_EQ(std::count_if(
                  shown_lines.begin(), shown_lines.end(),
                  [](const std::string &l) { return l.find("* Skipping invalid SNI hostname: 127.0.0.1") != l.npos; }),
              1);
}

TEST_F(Handshake, ServerOfferingOnlyTls11IsRefusedAndRetried)
{
    auto args = serve("server.pem");
    args.insert(args.end(), {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"});
    TlsPeer peer(args);
    handshake(peer.port, "localhost");
    EXPECT_FALSE(serv->connected);
    EXPECT_TRUE(shown("* TLS handshake rejected by protocol/certificate/cipher policy"));
    EXPECT_NE(serv->reconnect_timer, 0);
}

TEST_F(Handshake, ClientCertificateOfTheNetworkIsSent)
{
    key_ptr key = make_key();
    write_pem(path("certs/TestNet.pem"), make_cert({{"lumenwick-client"}, {}}, key.get(), ca.get(), ca_key.get()).get(),
              key.get());
    g_strlcpy(home->channel, "TestNet", sizeof home->channel);
    ssl_load_client_cert(serv);
    ASSERT_TRUE(serv->client_cert_loaded);
    auto args = serve("server.pem");
    args.insert(args.end(), {"-Verify", "1", "-verify_return_error", "-CAfile", path("ca.pem")});
    TlsPeer peer(args);
    handshake(peer.port, "localhost");
    EXPECT_TRUE(serv->connected);
    EXPECT_TRUE(
        fe_recorder::run_until([&] { return peer.output().find("lumenwick-client") != std::string::npos; }, 5000))
        << peer.output();
}

TEST_F(Handshake, PlainTextServerOnATlsPortIsNamedAsSuch)
{
    int port;
    const int listener = local_socket(0, &port);
    g_strlcpy(serv->hostname, "localhost", sizeof serv->hostname);
    serv->sock = local_socket(port, nullptr);
    const int peer = accept(listener, nullptr, nullptr);
    const std::string greeting = "NOTICE * :*** Looking up your hostname...\r\n";
    ASSERT_EQ(write(peer, greeting.data(), greeting.size()), static_cast<ssize_t>(greeting.size()));
    serv->connecting = TRUE;
    ssl_start_handshake(serv);
    EXPECT_TRUE(fe_recorder::run_until([&] { return !serv->connecting; }, 10000));
    EXPECT_TRUE(shown("Are you sure this is a SSL capable server and port?"));
    close(peer);
    close(listener);
}

TEST_F(Handshake, SilentPeerTimesOutAndIsRetried)
{
    ssl_handshake_limit_seconds = 1;
    int port;
    const int listener = local_socket(0, &port);
    const auto started = std::chrono::steady_clock::now();
    handshake(port, "localhost");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_TRUE(shown("SSL handshake timed out"));
    EXPECT_NE(serv->reconnect_timer, 0);
    close(listener);
}

TEST_F(Handshake, MissingTlsContextFailsThisConnectionOnly)
{
    SSL_CTX_free(serv->tls_context);
    serv->tls_context = nullptr;
    int port;
    const int listener = local_socket(0, &port);
    serv->sock = local_socket(port, nullptr);
    serv->connecting = TRUE;
    ssl_start_handshake(serv);
    EXPECT_FALSE(serv->connecting);
    EXPECT_EQ(serv->sock, -1);
    EXPECT_TRUE(shown("No TLS context for this connection"));
    close(listener);
}

TEST_F(Handshake, ClientCertificateFileNameIsMadeSafe)
{
    key_ptr key = make_key();
    cert_ptr cert = make_cert({{"me"}, {}}, key.get());
    auto loads = [&](const char *network) {
        g_strlcpy(home->channel, network, sizeof home->channel);
        ssl_load_client_cert(serv);
        return static_cast<bool>(serv->client_cert_loaded);
    };
    EXPECT_FALSE(loads("Net"));
    write_pem(path("certs/client.pem"), cert.get(), key.get());
    EXPECT_TRUE(loads("Net")) << "client.pem stands in for every network";
    unlink(path("certs/client.pem").c_str());

    // A name that climbs out of certs/ or names a hidden file is not followed.
    write_pem(path("Escape.pem"), cert.get(), key.get());
    EXPECT_FALSE(loads("../Escape"));
    write_pem(path("certs/_._Escape.pem"), cert.get(), key.get());
    EXPECT_TRUE(loads("../Escape"));
    write_pem(path("certs/.hidden.pem"), cert.get(), key.get());
    EXPECT_FALSE(loads(".hidden"));

    write_pem(path("certs/NoKey.pem"), cert.get(), nullptr);
    EXPECT_FALSE(loads("NoKey")) << "a certificate without its key is none";
    EXPECT_EQ(ERR_peek_error(), 0u) << "failed loads leave no error behind for the handshake";
}

} // namespace
