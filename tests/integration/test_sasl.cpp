// SASL logins of the core, connected through its real connection code, against
// real peers on 127.0.0.1: InspIRCd with Atheme (PLAIN, EXTERNAL with a client
// certificate, a wrong password, SCRAM that the services do not offer), and a
// scripted SCRAM server of our own (SHA-1, SHA-256, SHA-512, wrong password,
// wrong server signature, hostile iteration counts, messages in 400-byte pieces).
// The client runs in this process on the recording front end, so that the
// network's login method can be set as the server list would set it.
#include "harness.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

namespace
{

// Registration with InspIRCd takes about a second (its housekeeping pass).
constexpr int LOGIN_MS = 20000;
constexpr const char *ACCOUNT = "alice";
constexpr const char *PASSWORD = "alicepw123";

std::string python()
{
    return g_file_test("/usr/bin/python3", G_FILE_TEST_IS_EXECUTABLE) ? "/usr/bin/python3" : "python3";
}

// One server tab of the core, with the identity `user`.
class client_tab
{
  public:
    explicit client_tab(const std::filesystem::path &config, const std::string &user)
    {
        std::filesystem::create_directories(config);
        set_xdir(config.c_str());
        load_default_config();
        lumenwick_is_quitting = 0;
        load_text_events();
        prefs.net_throttle = 0;
        prefs.net_auto_reconnect = 0;
        prefs.net_auto_reconnectonfail = 0;
        safe_strcpy(prefs.irc_nick1, user.c_str(), sizeof prefs.irc_nick1);
        safe_strcpy(prefs.irc_user_name, user.c_str(), sizeof prefs.irc_user_name);
        safe_strcpy(prefs.irc_real_name, "SASL test", sizeof prefs.irc_real_name);
        home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
        serv = home->server;
    }
    ~client_tab()
    {
        if (is_server(serv) && (serv->connected || serv->connecting))
            serv->disconnect(home, TRUE, -1);
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
    }

    void connect(const char *host, int port, bool tls, int method, const std::string &password)
    {
        serv->login_method = method;
        safe_strcpy(serv->password, password.c_str(), sizeof serv->password);
        serv->tls_enabled = tls;
        serv->allow_invalid_cert = FALSE;
        std::string h = host;
        serv->connect(serv, h.data(), port, FALSE);
    }
    bool wait_shown(const std::string &text, int ms = LOGIN_MS)
    {
        return fe_recorder::run_until([&] { return fe_recorder::was_shown(home, text); }, ms);
    }
    bool shown(const std::string &text) const { return fe_recorder::was_shown(home, text); }
    std::string transcript() const
    {
        std::string all;
        for (const std::string &line : fe_recorder::shown(home))
            all += line + "\n";
        return all;
    }

    session *home = nullptr;
    server *serv = nullptr;
};

// ---- InspIRCd with Atheme ----------------------------------------------------------

class AthemeSasl : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        lab = new test_lab;
        if (!lab->ok() || !lab->script("services-up.sh")) {
            setup_log = lab->log();
            return;
        }
        const std::string plain = std::to_string(lab->port("irc"));
        const std::string tls = std::to_string(lab->port("irc-tls"));
        const std::string helper = (std::filesystem::path(LUMENWICK_HARNESS_DIR) / "services-account.py").string();
        run_options reg;
        reg.args = {helper, "--port", plain, "register", "--account", ACCOUNT, "--password", PASSWORD};
        run_options cert;
        cert.args = {helper,  "--port",     tls,      "add-cert", "--account",
                     ACCOUNT, "--password", PASSWORD, "--cert",   (lab->dir() / "alice.pem").string()};
        const run_result r1 = run_program(python(), reg, "", 30000);
        const run_result r2 = r1.exit_code == 0 ? run_program(python(), cert, "", 30000) : run_result{};
        if (r1.exit_code != 0 || r2.exit_code != 0) {
            setup_log = lab->log() + r1.out + r1.err + r2.out + r2.err;
            return;
        }
        ready = true;
    }
    static void TearDownTestSuite()
    {
        if (lab)
            lab->script("services-down.sh");
        delete lab;
        lab = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(ready) << setup_log;
        setenv("SSL_CERT_FILE", lab->ca_file().c_str(), 1);
        tab = std::make_unique<client_tab>(lab->dir() / ("client-" + std::to_string(++runs)), ACCOUNT);
    }
    void TearDown() override { tab.reset(); }

    static inline test_lab *lab = nullptr;
    static inline bool ready = false;
    static inline std::string setup_log;
    static inline int runs = 0;
    std::unique_ptr<client_tab> tab;
};

TEST_F(AthemeSasl, PlainLogsInBeforeRegistrationAndTheCapabilitiesAreOn)
{
    tab->connect("127.0.0.1", lab->port("irc"), false, LOGIN_METHOD_SASL_PLAIN, PASSWORD);
    ASSERT_TRUE(tab->wait_shown("SASL authentication successful")) << tab->transcript();
    EXPECT_TRUE(tab->shown("You are now logged in as alice")) << tab->transcript();
    ASSERT_TRUE(tab->wait_shown("Welcome to the HarnessNet")) << tab->transcript();
    server *s = tab->serv;
    EXPECT_TRUE(s->cap_ended);
    EXPECT_FALSE(s->sasl_active);
    // What InspIRCd offers of our table was asked for and acknowledged.
    EXPECT_TRUE(s->cap_sasl && s->cap_multi_prefix && s->cap_away_notify && s->cap_account_notify &&
                s->cap_extended_join && s->cap_server_time && s->cap_userhost_in_names && s->cap_account_tag &&
                s->cap_message_tags && s->cap_echo_message);
}

TEST_F(AthemeSasl, ExternalLogsInWithTheClientCertificate)
{
    const std::filesystem::path certs = std::filesystem::path(get_xdir()) / "certs";
    std::filesystem::create_directories(certs);
    std::filesystem::copy_file(lab->dir() / "alice.pem", certs / "client.pem");
    tab->connect("localhost", lab->port("irc-tls"), true, LOGIN_METHOD_SASL_EXTERNAL, "");
    ASSERT_TRUE(tab->wait_shown("SASL authentication successful")) << tab->transcript();
    EXPECT_TRUE(tab->shown("You are now logged in as alice")) << tab->transcript();
    EXPECT_TRUE(tab->wait_shown("Welcome to the HarnessNet")) << tab->transcript();
    EXPECT_TRUE(tab->serv->client_cert_loaded);
}

TEST_F(AthemeSasl, WrongPasswordFailsAndRegistrationGoesOn)
{
    tab->connect("127.0.0.1", lab->port("irc"), false, LOGIN_METHOD_SASL_PLAIN, "not-the-password");
    ASSERT_TRUE(tab->wait_shown("SASL authentication failed")) << tab->transcript();
    EXPECT_TRUE(tab->wait_shown("Welcome to the HarnessNet")) << tab->transcript();
    EXPECT_FALSE(tab->shown("You are now logged in")) << tab->transcript();
    EXPECT_TRUE(tab->serv->cap_ended);
}

// The services offer PLAIN and EXTERNAL only ("sasl=PLAIN,EXTERNAL"): a SCRAM
// login is not even started, and the user is registered without one.
TEST_F(AthemeSasl, ScramIsNotAskedForWhereItIsNotOffered)
{
    tab->connect("127.0.0.1", lab->port("irc"), false, LOGIN_METHOD_SCRAM_SHA_256, PASSWORD);
    ASSERT_TRUE(tab->wait_shown("Welcome to the HarnessNet")) << tab->transcript();
    EXPECT_FALSE(tab->serv->cap_sasl);
    EXPECT_FALSE(tab->serv->sasl_active);
    EXPECT_FALSE(tab->shown("logged in")) << tab->transcript();
}

// ---- the scripted SCRAM server -----------------------------------------------------

class scram_peer
{
  public:
    explicit scram_peer(const std::vector<std::string> &options)
    {
        run_options o;
        o.args = {(std::filesystem::path(LUMENWICK_HARNESS_DIR) / "scram_server.py").string(),
                  "--account",
                  "scramuser",
                  "--password",
                  "scram pass",
                  "--max-time",
                  "60"};
        o.args.insert(o.args.end(), options.begin(), options.end());
        proc_ = std::make_unique<child_process>(python(), o);
        if (proc_->started() && proc_->wait_for_output("\n", 10000) && proc_->out().rfind("LISTEN ", 0) == 0)
            port_ = std::atoi(proc_->out().c_str() + 7);
    }
    int port() const { return port_; }
    // Waits for a report line of the server while the client's loop runs.
    bool wait_report(const std::string &text, int ms = LOGIN_MS)
    {
        return fe_recorder::run_until(
            [&] {
                int polls = 0;
                proc_->wait_for([&](const std::string &) { return polls++ > 0; }, 1);
                return proc_->out().find(text) != std::string::npos;
            },
            ms);
    }
    std::string transcript() const { return "--- scram server:\n" + proc_->out() + proc_->err(); }
    // AUTHENTICATE lines from the client that carry a full 400-byte piece.
    int full_pieces_received() const
    {
        int n = 0;
        std::istringstream in(proc_->out());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("RECV AUTHENTICATE ", 0) == 0 && line.size() == 18 + 400)
                ++n;
        return n;
    }

  private:
    std::unique_ptr<child_process> proc_;
    int port_ = 0;
};

class ScramSasl : public ::testing::TestWithParam<int>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(lab.ok()) << lab.log();
        tab = std::make_unique<client_tab>(lab.dir() / "client", "scramuser");
    }
    void TearDown() override { tab.reset(); }

    const char *mechanism() const
    {
        return GetParam() == LOGIN_METHOD_SCRAM_SHA_1     ? "SCRAM-SHA-1"
               : GetParam() == LOGIN_METHOD_SCRAM_SHA_256 ? "SCRAM-SHA-256"
                                                          : "SCRAM-SHA-512";
    }
    std::string context(const scram_peer &peer) const { return tab->transcript() + peer.transcript(); }

    test_lab lab;
    std::unique_ptr<client_tab> tab;
};

TEST_P(ScramSasl, LogsInWithTheRightPassword)
{
    scram_peer peer({});
    ASSERT_GT(peer.port(), 0) << peer.transcript();
    tab->connect("127.0.0.1", peer.port(), false, GetParam(), "scram pass");
    ASSERT_TRUE(tab->wait_shown("SASL authentication successful")) << context(peer);
    EXPECT_TRUE(peer.wait_report(std::string("SASL ") + mechanism() + " success")) << context(peer);
    EXPECT_TRUE(tab->wait_shown("Welcome to the SCRAM test server")) << context(peer);
    EXPECT_EQ(tab->serv->scram_exchange, nullptr);
}

TEST_P(ScramSasl, WrongPasswordIsRefusedByTheServer)
{
    scram_peer peer({});
    tab->connect("127.0.0.1", peer.port(), false, GetParam(), "wrong pass");
    ASSERT_TRUE(peer.wait_report("bad-proof")) << context(peer);
    EXPECT_TRUE(tab->wait_shown("SASL authentication failed")) << context(peer);
    EXPECT_TRUE(tab->wait_shown("Welcome to the SCRAM test server")) << context(peer);
    EXPECT_EQ(tab->serv->scram_exchange, nullptr);
}

TEST_P(ScramSasl, ServerWithoutThePasswordIsFoundOut)
{
    scram_peer peer({"--bad-signature"});
    tab->connect("127.0.0.1", peer.port(), false, GetParam(), "scram pass");
    ASSERT_TRUE(tab->wait_shown("SASL SCRAM authentication failed: The server's signature is wrong")) << context(peer);
    EXPECT_TRUE(peer.wait_report("aborted")) << context(peer);
    EXPECT_TRUE(tab->wait_shown("Welcome to the SCRAM test server")) << context(peer);
}

TEST_P(ScramSasl, HostileIterationCountsAreRefusedAtOnce)
{
    for (const char *count : {"100000000", "0", "-1"}) {
        SCOPED_TRACE(count);
        scram_peer peer({"--iterations", count});
        tab.reset();
        tab = std::make_unique<client_tab>(lab.dir() / (std::string("client-") + count), "scramuser");
        tab->connect("127.0.0.1", peer.port(), false, GetParam(), "scram pass");
        ASSERT_TRUE(tab->wait_shown("SASL SCRAM authentication failed", 10000)) << context(peer);
        EXPECT_TRUE(peer.wait_report("aborted", 10000)) << context(peer);
        EXPECT_TRUE(tab->wait_shown("Welcome to the SCRAM test server")) << context(peer);
    }
}

TEST_P(ScramSasl, MessagesOver400BytesGoInPieces)
{
    scram_peer peer({"--long-nonce"});
    tab->connect("127.0.0.1", peer.port(), false, GetParam(), "scram pass");
    ASSERT_TRUE(tab->wait_shown("SASL authentication successful")) << context(peer);
    EXPECT_TRUE(peer.wait_report(std::string("SASL ") + mechanism() + " success")) << context(peer);
    // The client-final message (with the 700-byte nonce) left in two full pieces.
    EXPECT_EQ(peer.full_pieces_received(), 2) << context(peer);
}

INSTANTIATE_TEST_SUITE_P(Digests, ScramSasl,
                         ::testing::Values(LOGIN_METHOD_SCRAM_SHA_1, LOGIN_METHOD_SCRAM_SHA_256,
                                           LOGIN_METHOD_SCRAM_SHA_512),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return info.param == LOGIN_METHOD_SCRAM_SHA_1     ? std::string("Sha1")
                                    : info.param == LOGIN_METHOD_SCRAM_SHA_256 ? std::string("Sha256")
                                                                               : std::string("Sha512");
                         });

// A server that offers "sasl" without naming its mechanisms answers a SCRAM
// request with 908 and 904; registration goes on without a login.
TEST(ScramSaslOldServer, Numeric908EndsTheLoginCleanly)
{
    test_lab lab;
    ASSERT_TRUE(lab.ok());
    client_tab tab(lab.dir() / "client", "scramuser");
    scram_peer peer({"--bare-sasl", "--mechanisms", "PLAIN"});
    tab.connect("127.0.0.1", peer.port(), false, LOGIN_METHOD_SCRAM_SHA_512, "scram pass");
    ASSERT_TRUE(peer.wait_report("SASL SCRAM-SHA-512 unsupported")) << tab.transcript() << peer.transcript();
    EXPECT_TRUE(tab.wait_shown("SASL authentication failed")) << tab.transcript() << peer.transcript();
    EXPECT_TRUE(tab.wait_shown("Welcome to the SCRAM test server")) << tab.transcript() << peer.transcript();
    EXPECT_FALSE(tab.serv->sasl_active);
    EXPECT_EQ(tab.serv->scram_exchange, nullptr);
}

} // namespace
