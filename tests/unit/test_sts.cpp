// Strict transport security: the capability value, host keys, sts.conf
// lines, the store with its expiry and file, applying a policy, and the
// upgrade of a plain connection.
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "irc/cap.h"
#include "net/server.h"
#include "net/sts.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

// "port duration preload" of a value that parses, "ignored" otherwise.
std::string parsed(const char *value)
{
    sts_value v;
    if (!sts_parse_value(value, &v))
        return "ignored";
    return (v.has_port ? std::to_string(v.port) : "-") + " " + (v.has_duration ? std::to_string(v.duration) : "-") +
           (v.preload ? " preload" : "");
}

TEST(StsValue, ParsesPortDurationAndPreloadOrIgnoresTheWhole)
{
    EXPECT_EQ(parsed("port=6697,duration=300,preload"), "6697 300 preload");
    EXPECT_EQ(parsed(" PORT = 6697 ,  Duration=0 "), "6697 0");
    EXPECT_EQ(parsed("duration=18446744073709551615"), "- 18446744073709551615");
    EXPECT_EQ(parsed("future=1,port=65535,,x"), "65535 -");
    EXPECT_EQ(parsed(""), "- -");
    for (const char *bad : {"port=6697,port=6697", "duration=1,duration=2", "preload,preload", "port=0", "port=65536",
                            "port=66a", "port=-1", "port", "duration=", "duration=+5", "duration=18446744073709551616"})
        EXPECT_EQ(parsed(bad), "ignored") << bad;
}

TEST(StsHost, NormalizedKeys)
{
    EXPECT_EQ(sts_normalize_host("  Irc.Example.COM \t"), "irc.example.com");
    EXPECT_EQ(sts_normalize_host("[2001:DB8::1]"), "2001:db8::1");
    // None of these could be written to sts.conf and read back the same.
    for (const char *bad : {"   ", "a b", "#host", "[]", "[[::1]]"})
        EXPECT_EQ(sts_normalize_host(bad), "") << bad;
}

time_t fake_now;
time_t fake_clock()
{
    return fake_now;
}

std::string describe(const sts_profile *p)
{
    if (!p)
        return "none";
    return std::string(p->host) + " " + std::to_string(p->port) + " " + std::to_string(p->expiry) + " " +
           std::to_string(p->duration) + (p->preload ? " P" : "");
}

// A connected server with a home tab whose connect and disconnect only
// record what they were asked; sts.conf in a private directory.
std::vector<std::string> *calls;
void fake_connect(server *serv, char *host, int port, int no_login)
{
    calls->push_back(std::string("connect ") + host + " " + std::to_string(port) + " " + std::to_string(no_login) +
                     (serv->tls_enabled ? " tls" : " plain"));
    server_set_defaults(serv);
}
void fake_disconnect(session *sess, int sendquit, int err)
{
    calls->push_back("disconnect " + std::to_string(sendquit) + " " + std::to_string(err));
    sts_reschedule_on_disconnect(sess->server);
}

class Sts : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-sts-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        lumenwick_is_quitting = 0;
        load_text_events();
        fake_now = 1700000000;
        sts_clock = fake_clock;
        calls = &log;
        home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
        serv = home->server;
        serv->connect = fake_connect;
        serv->disconnect = fake_disconnect;
        on("LocalHost", 6667, false);
    }
    void TearDown() override
    {
        sts_cleanup();
        sts_clock = [] { return time(nullptr); };
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        ASSERT_EQ(system((std::string("rm -rf '") + dir + "'").c_str()), 0);
        g_free(dir);
    }
    // The connection now up.
    void on(const char *host, int port, bool tls)
    {
        safe_strcpy(serv->requested_host, host, sizeof serv->requested_host);
        safe_strcpy(serv->hostname, host, sizeof serv->hostname);
        serv->port = port;
        serv->tls_enabled = tls;
    }
    std::string path() const { return std::string(dir) + "/sts.conf"; }
    std::string file() const
    {
        std::stringstream ss;
        ss << std::ifstream(path()).rdbuf();
        return ss.str();
    }
    void write_file(const std::string &text) const { std::ofstream(path()) << text; }

    char *dir = nullptr;
    std::vector<std::string> log;
    session *home = nullptr;
    server *serv = nullptr;
};

TEST_F(Sts, ConfLinesReadAndWriteBack)
{
    const struct {
        const char *line, *read, *written; // written null: as read
    } cases[] = {
        {"irc.example.com 6697 1700000300 300 1", "irc.example.com 6697 1700000300 300 P", nullptr},
        {"h 6697 1700000300 300 no", "h 6697 1700000300 300", "h 6697 1700000300 300"},
        // Without a duration: the time left until the expiry.
        {"Irc.Example.com\t6697   1700000100", "irc.example.com 6697 1700000100 100",
         "irc.example.com 6697 1700000100 100"},
        {"h 6697 1700000100 YES", "h 6697 1700000100 100 P", "h 6697 1700000100 100 1"},
        {"h 6697 1600000000", "h 6697 1600000000 0", nullptr},
        // A one-second duration must not read back as "preloaded".
        {"h 6697 1700000001 1 0", "h 6697 1700000001 1", nullptr},
        {"[::1] 70000 5 10", "::1 0 5 10", "::1 0 5 10"},
        {"h 6697 1700000300 300 1 extra", "h 6697 1700000300 300 P", "h 6697 1700000300 300 1"},
        {"h 6697 -1 300", "none", nullptr},
        {"h 6697 soon 300", "none", nullptr},
        {"h 6697 1700000300 long", "none", nullptr},
        {"h 6697", "none", nullptr},
    };
    for (const auto &c : cases) {
        sts_profile *p = sts_profile_deserialize(c.line);
        EXPECT_EQ(describe(p), c.read) << c.line;
        if (!p)
            continue;
        char *text = sts_profile_serialize(p);
        EXPECT_STREQ(text, c.written ? c.written : c.line);
        sts_profile *back = sts_profile_deserialize(text);
        EXPECT_EQ(describe(back), c.read) << text;
        sts_profile_free(back);
        sts_profile_free(p);
        g_free(text);
    }
}

TEST_F(Sts, FileLoadsOnceKeepsLivePoliciesAndSavesAtomically)
{
    write_file("# comment\n\nold.example 6697 1600000000 300\nzero.example 6697 1700009999 0 0\n"
               "live.example 6697 1700000300 300\nlive.example 7000 1700000600 600\n"
               "short.example 6697 1700000050\nx" +
               std::string(600, 'y') + " 6697 1700000300 300\n");
    sts_init();
    EXPECT_EQ(describe(sts_find("old.example")), "none");
    EXPECT_EQ(describe(sts_find("zero.example")), "none");
    EXPECT_EQ(describe(sts_find("LIVE.example")), "live.example 7000 1700000600 600") << "the later line wins";
    EXPECT_EQ(describe(sts_find("short.example")), "short.example 6697 1700000050 50");
    write_file("");
    sts_init();
    EXPECT_NE(sts_find("live.example"), nullptr) << "loaded once";

    fake_now = 1700000050;
    EXPECT_EQ(sts_find("short.example"), nullptr) << "expired at lookup";
    sts_save();
    EXPECT_EQ(file(), "live.example 7000 1700000600 600\n");
    struct stat st;
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    sts_cleanup();
    write_file("again.example 6697 1700000300 300\n");
    sts_init();
    EXPECT_NE(sts_find("again.example"), nullptr) << "read again after cleanup";
}

TEST_F(Sts, PlainConnectionUpgradesOnceAndIsHeldToTls)
{
    serv->login_method = LOGIN_METHOD_SASL_PLAIN;
    safe_strcpy(serv->password, "pw", sizeof serv->password);
    serv->skip_login = TRUE;
    char sender[] = "srv";
    char text[] = "multi-prefix sts=port=6697,duration=300 sasl";
    inbound_cap_ls(serv, sender, text);
    EXPECT_EQ(log, (std::vector<std::string>{"disconnect 0 -1", "connect LocalHost 6697 1 tls"}));
    // Nothing of the old connection's offer leaks into the new one.
    EXPECT_FALSE(serv->sasl_active || serv->cap_ended || serv->cap_requested);

    // The same connection asking again does nothing more.
    on("LocalHost", 6667, false);
    serv->sts_upgrade_started = TRUE;
    EXPECT_EQ(sts_handle_capability(serv, "port=6697"), 1);
    EXPECT_EQ(log.size(), 2u);

    // Until a secure connection gives a duration, the host stays on TLS for
    // this run, even when asked for plain text; nothing is saved.
    int port = 6667;
    serv->tls_enabled = FALSE;
    EXPECT_TRUE(sts_apply_policy_for_connection(serv, "localhost", &port));
    EXPECT_TRUE(serv->tls_enabled);
    EXPECT_EQ(port, 6697);
    sts_save();
    EXPECT_EQ(file(), "");

    // Without a port, or with a malformed value, a plain connection stays.
    server_set_defaults(serv);
    on("other.example", 6667, false);
    EXPECT_EQ(sts_handle_capability(serv, "duration=300"), 0);
    EXPECT_EQ(sts_handle_capability(serv, "port=6697,port=6698"), 0);
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(Sts, SecureConnectionStoresRefreshesAndRemovesThePolicy)
{
    on("LocalHost", 6697, true);
    EXPECT_EQ(sts_handle_capability(serv, "port=7000"), 0);
    EXPECT_EQ(sts_find("localhost"), nullptr) << "no duration, nothing stored";
    EXPECT_EQ(sts_handle_capability(serv, "duration=300,preload"), 0);
    EXPECT_EQ(describe(sts_find("localhost")), "localhost 6697 1700000300 300 P");
    EXPECT_EQ(file(), "localhost 6697 1700000300 300 1\n") << "written at once";

    // The policy runs its full duration from the end of the connection.
    fake_now += 1000;
    EXPECT_EQ(sts_find("localhost"), nullptr);
    EXPECT_EQ(sts_handle_capability(serv, "duration=300"), 0);
    fake_now += 100;
    serv->disconnect(home, FALSE, 0);
    EXPECT_EQ(describe(sts_find("localhost")), "localhost 6697 1700001400 300");

    int port = 6667;
    serv->tls_enabled = FALSE;
    EXPECT_TRUE(sts_apply_policy_for_connection(serv, " LOCALHOST", &port));
    EXPECT_TRUE(serv->tls_enabled);
    EXPECT_EQ(port, 6697);

    EXPECT_EQ(sts_handle_capability(serv, "duration=0"), 0);
    EXPECT_EQ(sts_find("localhost"), nullptr);
    EXPECT_EQ(file(), "");

    // Hosts without a policy are left alone; a policy without a port (a
    // damaged line) still forbids plain text.
    serv->tls_enabled = FALSE;
    EXPECT_TRUE(sts_apply_policy_for_connection(serv, "free.example", &port));
    EXPECT_FALSE(serv->tls_enabled);
    sts_cleanup();
    write_file("noport.example 0 1700009999 300\n");
    port = 6667;
    EXPECT_TRUE(sts_apply_policy_for_connection(serv, "noport.example", &port));
    EXPECT_TRUE(serv->tls_enabled);
    EXPECT_EQ(port, 6667);
}

TEST_F(Sts, HugeDurationIsClampedNotWrapped)
{
    on("big.example", 6697, true);
    EXPECT_EQ(sts_handle_capability(serv, "duration=18446744073709551615"), 0);
    const std::string want = "big.example 6697 " + std::to_string(STS_EXPIRY_MAX) + " " + std::to_string(ULONG_MAX);
    EXPECT_EQ(describe(sts_find("big.example")), want);
    sts_cleanup();
    sts_init();
    EXPECT_EQ(describe(sts_find("big.example")), want) << "through the file";
    EXPECT_EQ(sts_expiry_after(STS_EXPIRY_MAX + 5, 1), STS_EXPIRY_MAX);
}

} // namespace
