// The server list end to end: lumenwick-text started with a servlist.conf
// auto-connects its networks on 127.0.0.1, sends their passwords (encrypted by
// Python's cryptography package, or kept in a real gnome-keyring on a private
// session bus), runs their connect commands and joins their favourite
// channels; SASL PLAIN and EXTERNAL through the list against InspIRCd + Atheme.
#include "harness.h"

#include "config/cfgfiles.h"
#include "servlist/secretstore.h"
#include "servlist/servlist-password.h"
#include "servlist/servlist.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace
{

constexpr int SHORT_MS = 5000;
constexpr int LOGIN_MS = 20000;
constexpr int EXIT_MS = 20000;
constexpr const char *IN_SESSION_BUS = "LUMENWICK_TEST_IN_SESSION_BUS";

// The full path of a program on the search path (the runner does not search).
std::string tool(const char *name)
{
    char *found = g_find_program_in_path(name);
    std::string path = found ? found : name;
    g_free(found);
    return path;
}

// "enc:" text for `password` as a separate implementation writes it.
std::string python_encrypt(const std::string &password, const std::string &passphrase)
{
    run_options o;
    o.args = {"-c",
              "import sys, os, base64\n"
              "from cryptography.hazmat.primitives import hashes, padding\n"
              "from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC\n"
              "from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes\n"
              "salt, iv = os.urandom(16), os.urandom(16)\n"
              "key = PBKDF2HMAC(hashes.SHA256(), 32, salt, 300000).derive(sys.argv[2].encode())\n"
              "p = padding.PKCS7(128).padder()\n"
              "data = p.update(sys.argv[1].encode()) + p.finalize()\n"
              "e = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()\n"
              "print('enc:' + base64.b64encode(salt + iv + e.update(data) + e.finalize()).decode())\n",
              password, passphrase};
    const run_result r = run_program(tool("python3"), o, "", 30000);
    return r.exit_code == 0 ? r.out.substr(0, r.out.find('\n')) : "python failed: " + r.err;
}

class ServlistEndToEnd : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(lab.ok()) << lab.log(); }

    std::filesystem::path cfg() const { return lab.dir() / "client" / "cfg"; }
    // servlist.conf and the identity, then the client; `env` adds to its environment.
    void start(const std::string &networks, const env_list &env = {})
    {
        std::filesystem::create_directories(cfg());
        std::ofstream(cfg() / "servlist.conf") << "v=2.19.1\n\n" << networks;
        std::ofstream(cfg() / "lumenwick.conf") << "irc_nick1 = tester\nirc_user_name = tuser\n"
                                                   "irc_real_name = Test Real\nirc_join_delay = 0\n";
        client = std::make_unique<text_client>(lab.dir() / "client", env);
        ASSERT_TRUE(client->started());
    }
    void quit()
    {
        const run_result r = client->finish(EXIT_MS);
        EXPECT_FALSE(r.timed_out) << context();
    }
    std::string context() const { return (client ? client->transcript() : "") + "--- server:\n" + ircd.transcript(); }

    test_lab lab;
    scripted_server ircd;
    std::unique_ptr<text_client> client;
};

TEST_F(ServlistEndToEnd, AutoConnectSendsTheEncryptedPasswordRunsCommandsAndJoinsFavourites)
{
    const std::string port = std::to_string(ircd.port());
    const std::string stored = python_encrypt("py-s3cret", std::string(g_get_user_name()) + "|" + cfg().string());
    ASSERT_EQ(stored.rfind("enc:", 0), 0u) << stored;
    // Flags 26: use global identity, auto-connect, use proxy; no TLS.
    ASSERT_NO_FATAL_FAILURE(start("N=ScriptNet\nP=" + stored + "\nL=7\nF=26\nD=0\nS=127.0.0.1/" + port +
                                  "\nC=/quote NOTICE ops :hello %n\nJ=#alpha,akey\nJ=#beta\n\n"));
    EXPECT_TRUE(client->wait_shown("ScriptNet", SHORT_MS)) << context(); // the network list, printed
    ASSERT_TRUE(ircd.wait_received(1, "PASS py-s3cret\r\n", LOGIN_MS)) << context();
    ASSERT_TRUE(ircd.send(":srv 001 tester :Welcome\r\n:srv 376 tester :End of MOTD\r\n"));
    EXPECT_TRUE(ircd.wait_received(1, "NOTICE ops :hello tester\r\n", SHORT_MS)) << context();
    // A keyless channel after a keyed one gets a stand-in key.
    EXPECT_TRUE(ircd.wait_received(1, "JOIN #alpha,#beta akey,x\r\n", SHORT_MS)) << context();
    quit();
}

TEST_F(ServlistEndToEnd, WithoutASecretServiceTheUserIsToldAndNoPasswordIsSent)
{
    // Flags 154: keyring, auto-connect, use proxy, use global identity.
    ASSERT_NO_FATAL_FAILURE(start("N=Keyed\nL=7\nF=154\nD=0\nS=127.0.0.1/" + std::to_string(ircd.port()) + "\n\n"));
    EXPECT_TRUE(client->wait_shown("from the system keyring", SHORT_MS)) << context();
    ASSERT_TRUE(ircd.wait_received(1, "USER tuser", LOGIN_MS)) << context();
    EXPECT_EQ(ircd.received(1).find("PASS"), std::string::npos) << context();
    quit();
}

// Runs in a private session bus with gnome-keyring unlocked: the test program
// starts itself again under dbus-run-session for this.
TEST_F(ServlistEndToEnd, KeyringPasswordIsSentAndFollowsARename)
{
    if (!g_getenv(IN_SESSION_BUS)) {
        char self[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        run_options o;
        o.args = {"--", self, "--gtest_filter=ServlistEndToEnd.KeyringPasswordIsSentAndFollowsARename"};
        o.set_env = {{IN_SESSION_BUS, "1"}};
        const run_result r = run_program(tool("dbus-run-session"), o, "", 90000);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        return;
    }
    const std::filesystem::path home = lab.dir() / "keyring-home";
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    run_options kd;
    kd.args = {"--foreground", "--unlock", "--components=secrets"};
    kd.set_env = {{"HOME", home.string()},
                  {"XDG_DATA_HOME", (home / "data").string()},
                  {"XDG_RUNTIME_DIR", (home / "run").string()}};
    child_process daemon(tool("gnome-keyring-daemon"), kd);
    ASSERT_TRUE(daemon.started());
    daemon.write("unlock-pw");
    daemon.close_input();
    // Ready once it owns the Secret Service name (asking earlier would start another).
    run_options ask;
    ask.args = {"--session",
                "--print-reply",
                "--dest=org.freedesktop.DBus",
                "/org/freedesktop/DBus",
                "org.freedesktop.DBus.NameHasOwner",
                "string:org.freedesktop.secrets"};
    bool owned = false;
    for (int i = 0; i < 100 && !owned; i++, g_usleep(50000))
        owned = run_program(tool("dbus-send"), ask, "", 2000).out.find("boolean true") != std::string::npos;
    ASSERT_TRUE(owned) << daemon.err();

    run_options st;
    st.args = {"store",   "--label=Lumenwick network password", "xdg:schema", "net.vorun.Lumenwick.Network",
               "network", "lumenwick/network/Keyed Net"};
    ASSERT_EQ(run_program(tool("secret-tool"), st, "keyring-pw", 20000).exit_code, 0);

    const char *bus_address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NO_FATAL_FAILURE(start("N=Keyed Net\nL=7\nF=154\nD=0\nS=127.0.0.1/" + std::to_string(ircd.port()) + "\n\n",
                                  {{"DBUS_SESSION_BUS_ADDRESS", bus_address}}));
    EXPECT_TRUE(ircd.wait_received(1, "PASS keyring-pw\r\n", LOGIN_MS)) << context();
    quit();

    // Renaming the network takes its keyring entry along.
    set_xdir(cfg().c_str());
    ircnet *net = servlist_net_add("Keyed Net", false);
    net->flags |= NET_KEYRING;
    GError *error = nullptr;
    ASSERT_TRUE(servlist_net_rename(net, "Renamed Net", &error)) << (error ? error->message : "");
    char *moved = secretstore_get_network_password("Renamed Net");
    char *old = secretstore_get_network_password("Keyed Net");
    EXPECT_STREQ(moved, "keyring-pw");
    EXPECT_EQ(old, nullptr);
    servlist_password_free(moved);
    servlist_password_free(old);
    servlist_cleanup();
}

// ---- SASL through the list against InspIRCd with Atheme ----------------------------------

class ServlistSasl : public ServlistEndToEnd
{
  protected:
    static void SetUpTestSuite()
    {
        services = new test_lab;
        if (!services->ok() || !services->script("services-up.sh")) {
            setup_log = services->log();
            return;
        }
        const std::string helper = (std::filesystem::path(LUMENWICK_HARNESS_DIR) / "services-account.py").string();
        run_options reg, cert;
        reg.args = {helper,       "--port",    std::to_string(services->port("irc")), "register", "--account", "alice",
                    "--password", "alicepw123"};
        cert.args = {helper,
                     "--port",
                     std::to_string(services->port("irc-tls")),
                     "add-cert",
                     "--account",
                     "alice",
                     "--password",
                     "alicepw123",
                     "--cert",
                     (services->dir() / "alice.pem").string()};
        const run_result r1 = run_program(tool("python3"), reg, "", 30000);
        const run_result r2 = r1.exit_code == 0 ? run_program(tool("python3"), cert, "", 30000) : run_result{};
        ready = r1.exit_code == 0 && r2.exit_code == 0;
        setup_log = services->log() + r1.out + r1.err + r2.out + r2.err;
    }
    static void TearDownTestSuite()
    {
        if (services)
            services->script("services-down.sh");
        delete services;
        services = nullptr;
    }
    void SetUp() override
    {
        ServlistEndToEnd::SetUp();
        ASSERT_TRUE(ready) << setup_log;
    }

    static inline test_lab *services = nullptr;
    static inline bool ready = false;
    static inline std::string setup_log;
};

TEST_F(ServlistSasl, PlainLoginAndFavouriteChannel)
{
    // Flags 24: auto-connect, use proxy; the network's own identity.
    ASSERT_NO_FATAL_FAILURE(start("N=AthemeNet\nI=alice\nU=alice\nP=alicepw123\nL=6\nF=24\nD=0\nS=127.0.0.1/" +
                                  std::to_string(services->port("irc")) + "\nJ=#lwk-fav\n\n"));
    EXPECT_TRUE(client->wait_shown("You are now logged in as alice", LOGIN_MS)) << context();
    EXPECT_TRUE(client->wait_shown("Now talking on #lwk-fav", LOGIN_MS)) << context();
    quit();
}

TEST_F(ServlistSasl, ExternalLoginWithTheNetworksCertificate)
{
    std::filesystem::create_directories(cfg() / "certs");
    std::filesystem::copy_file(services->dir() / "alice.pem", cfg() / "certs" / "AthemeNet.pem");
    // Flags 28: TLS, auto-connect, use proxy.
    ASSERT_NO_FATAL_FAILURE(start("N=AthemeNet\nI=alice\nU=alice\nL=10\nF=28\nD=0\nS=localhost/" +
                                      std::to_string(services->port("irc-tls")) + "\n\n",
                                  {{"SSL_CERT_FILE", services->ca_file().string()}}));
    EXPECT_TRUE(client->wait_shown("You are now logged in as alice", LOGIN_MS)) << context();
    quit();
}

} // namespace
