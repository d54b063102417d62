// The server list: servlist.conf read and written exactly, the built-in
// networks, host matching, and what connecting a network does to the server
// record (real connection attempts to closed ports on 127.0.0.1).
#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "servlist/servlist-cert.h"
#include "servlist/servlist-password.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

class Servlist : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-slist-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_auto_reconnectonfail = 0;
        path = std::string(dir) + "/servlist.conf";
    }
    void TearDown() override
    {
        // The server does not own its favourite copies yet.
        for (GSList *l = serv_list; l; l = l->next) {
            auto *serv = static_cast<server *>(l->data);
            servlist_favchan_list_free(serv->autojoin_channels);
            serv->autojoin_channels = nullptr;
        }
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        servlist_cleanup();
        const std::string cmd = std::string("rm -rf '") + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        g_free(dir);
    }
    void write_file(const std::string &text)
    {
        ASSERT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr));
    }
    std::string read_file() const
    {
        char *text = nullptr;
        if (!g_file_get_contents(path.c_str(), &text, nullptr, nullptr))
            return "";
        std::string s = text;
        g_free(text);
        return s;
    }
    void reload()
    {
        servlist_cleanup();
        servlist_init();
    }

    char *dir = nullptr;
    std::string path;
};

const std::string FULL_NETWORK = "N=Full Net\nI=fnick\ni=fnick2\nU=fuser\nR=Real Name\nP=\nL=6\nE=ISO-8859-15 "
                                 "(Western Europe)\nF=93\nD=1\nS=a.example.net\nS=b.example.net/+6697\nC=/msg X hi "
                                 "%n\nJ=#one,key1\nJ=#two\n\nN=Bare\nF=0\nD=0\n\n";

TEST_F(Servlist, FileRoundTripIsExact)
{
    write_file("v=2.19.1\n\n" + FULL_NETWORK);
    servlist_init();
    ASSERT_EQ(g_slist_length(network_list), 2u);
    EXPECT_STREQ(static_cast<ircnet *>(network_list->data)->password, ""); // present but empty: "P="
    EXPECT_EQ(static_cast<ircnet *>(network_list->next->data)->flags, 0);  // not the default 23
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(servlist_save());
    EXPECT_EQ(read_file(), "v=2.19.1\n\n" + FULL_NETWORK);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // an existing file keeps its mode
}

TEST_F(Servlist, ReadingEdgeCases)
{
    const std::string long_command(100000, 'x');
    write_file("I=orphan\nS=orphan.example\nN=Net\r\nI=first  \nI=second\nJ=#chan,key,more\nJ=#nokey,\n"
               "E=NO-SUCH-CHARSET (x)\nC=" +
               long_command + "\nX=unknown\nv=1\n");
    servlist_init();
    ASSERT_EQ(g_slist_length(network_list), 1u);
    auto *net = static_cast<ircnet *>(network_list->data);
    EXPECT_EQ(net->nick, std::string("second"));
    EXPECT_EQ(net->servers, nullptr);
    EXPECT_EQ(net->flags, NET_DEFAULT_FLAGS);
    auto *fav = static_cast<favchannel *>(net->favorite_channels->data);
    EXPECT_STREQ(fav->name, "#chan");
    EXPECT_STREQ(fav->key, "key,more");
    EXPECT_EQ(static_cast<favchannel *>(net->favorite_channels->next->data)->key, nullptr);
    EXPECT_STREQ(net->charset, "UTF-8");
    // A long value is one line, never a second key.
    ASSERT_EQ(g_slist_length(net->connect_commands), 1u);
    EXPECT_EQ(static_cast<char *>(net->connect_commands->data), long_command);
}

TEST_F(Servlist, SavingIsAtomicAndNewFilesArePrivate)
{
    ircnet *net = servlist_net_add("New", false);
    net->charset = g_strdup("BOGUS-SET (none)");
    servlist_command_add(net, "echo one\nN=Injected");
    ASSERT_TRUE(servlist_save());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(fe_recorder::messages().size(), 1u); // the unknown charset warning
    reload();
    EXPECT_EQ(g_slist_length(network_list), 1u); // a line end in a value started no network
    EXPECT_STREQ(static_cast<ircnet *>(network_list->data)->charset, "UTF-8");

    // A failed write leaves the old file and tells the user.
    const std::string before = read_file();
    ASSERT_EQ(mkdir((path + ".new").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((path + ".new/x").c_str(), 0700), 0);
    servlist_net_add("Lost", false);
    EXPECT_FALSE(servlist_save());
    EXPECT_EQ(read_file(), before);
    EXPECT_NE(fe_recorder::messages().back().find("Could not save"), std::string::npos);
}

TEST_F(Servlist, BuiltInNetworksComeInOrderWithTheirLoginMethods)
{
    servlist_init();
    EXPECT_FALSE(g_file_test(path.c_str(), G_FILE_TEST_EXISTS)); // not written until something saves
    std::vector<std::string> names, sasl;
    for (GSList *l = network_list; l; l = l->next) {
        auto *net = static_cast<ircnet *>(l->data);
        names.emplace_back(net->name);
        EXPECT_EQ(net->flags, 23) << net->name;
        EXPECT_NE(net->servers, nullptr) << net->name;
        if (net->login_method == LOGIN_METHOD_SASL_PLAIN)
            sasl.emplace_back(net->name);
    }
    ASSERT_EQ(names.size(), 65u);
    EXPECT_EQ(names[0], "2600net");
    EXPECT_EQ(names[32], "Keyboard-Failure");
    EXPECT_EQ(names[45], "QuakeNet");
    EXPECT_EQ(names[64], "Vorun");
    EXPECT_EQ(prefs.gui_slist_select, 64);
    EXPECT_EQ(sasl.size(), 27u);
    auto net = [](const char *n) { return servlist_net_find(n, nullptr, strcmp); };
    EXPECT_EQ(net("DALnet")->login_method, LOGIN_METHOD_NICKSERV_CMD);
    EXPECT_EQ(net("QuakeNet")->login_method, LOGIN_METHOD_CHALLENGE);
    EXPECT_EQ(net("UnderNet")->login_method, LOGIN_METHOD_CUSTOM);
    EXPECT_STREQ(static_cast<char *>(net("chatpat")->connect_commands->data), "MSG NS IDENTIFY %p");
    EXPECT_STREQ(net("RusNet")->charset, "KOI8-R (Cyrillic)");
    EXPECT_EQ(g_slist_length(net("PTNet")->servers), 6u);
    EXPECT_STREQ(static_cast<ircserver *>(net("LinkNet")->servers->data)->address, "irc.link-net.org/+7000");
}

TEST_F(Servlist, HostsMatchWholeNamesAndFavouritesEdit)
{
    ircnet *net = servlist_net_add("Example", false);
    servlist_server_add(net, "irc.example.net/+6697");
    EXPECT_EQ(servlist_net_find_from_server("IRC.Example.NET"), net);
    // A longer name is another machine, which must not get this network's password.
    EXPECT_EQ(servlist_net_find_from_server("irc.example.net.evil.test"), nullptr);
    EXPECT_EQ(servlist_net_find_from_server("irc.example"), nullptr);
    EXPECT_EQ(servlist_net_find("example", nullptr, strcmp), nullptr);

    EXPECT_TRUE(servlist_autojoinedit(net, "#Chan,secret", true));
    EXPECT_TRUE(servlist_autojoinedit(net, "#chan,newkey", true)); // replaces, no duplicate
    EXPECT_NE(read_file().find("\nJ=#chan,newkey\n"), std::string::npos);
    EXPECT_FALSE(servlist_autojoinedit(net, "#absent", false));
    EXPECT_TRUE(servlist_autojoinedit(net, "#CHAN", false));
    EXPECT_EQ(net->favorite_channels, nullptr);
}

// The openssl tool makes the certificate; the connection finds it by the
// network's name.
TEST_F(Servlist, ClientCertificatesForTheListWindow)
{
    ircnet *net = servlist_net_add("Cert/Net", false);
    EXPECT_EQ(servlist_cert_path(net), std::string(dir) + "/certs/Cert_Net.pem");
    ASSERT_TRUE(servlist_cert_generate(net).ok);
    struct stat st;
    ASSERT_EQ(stat(servlist_cert_path(net).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const servlist_cert_result info = servlist_cert_info(net);
    EXPECT_NE(info.detail.find("Cert/Net"), std::string::npos) << info.detail;
    EXPECT_NE(info.detail.find("Fingerprint"), std::string::npos) << info.detail;
    EXPECT_FALSE(g_file_test((std::string(dir) + "/certs/openssl.cnf").c_str(), G_FILE_TEST_EXISTS));
    ircnet *other = servlist_net_add("Other", false);
    EXPECT_TRUE(servlist_cert_import(other, servlist_cert_path(net).c_str()).ok);
    EXPECT_TRUE(servlist_cert_delete(net).ok);
    EXPECT_FALSE(servlist_cert_exists(net));
    EXPECT_TRUE(servlist_cert_exists(other));
    EXPECT_STREQ(servlist_identity_problem("nick", "NICK", "user", nullptr), "You must have two unique nick names.");
    EXPECT_EQ(servlist_identity_problem("nick", "nick_", "user", nullptr), nullptr);
}

// ---- connecting ------------------------------------------------------------------

class ServlistConnect : public Servlist
{
  protected:
    ircnet *network(const std::vector<const char *> &servers, int flags)
    {
        ircnet *net = servlist_net_add("TestNet", false);
        for (const char *s : servers)
            servlist_server_add(net, s);
        net->flags = flags;
        return net;
    }
};

TEST_F(ServlistConnect, TheServerTakesTheNetworksSettings)
{
    ircnet *net = network({"127.0.0.1/+1"}, NET_USE_PROXY); // NET_USE_TLS clear
    net->nick = g_strdup("netnick");
    net->charset = g_strdup("ISO-8859-15 (Western Europe)");
    net->password = servlist_password_encrypt_for_storage("pw 1");
    servlist_favchan_add(net, "#a,k");
    servlist_connect(nullptr, net, true);
    ASSERT_NE(serv_list, nullptr);
    auto *serv = static_cast<server *>(serv_list->data);
    EXPECT_EQ(serv->network, net);
    EXPECT_EQ(serv->port, 1);
    EXPECT_TRUE(serv->tls_enabled); // from the "+" of the entry
    EXPECT_FALSE(serv->direct_only);
    EXPECT_STREQ(serv->hostname, "127.0.0.1");
    EXPECT_STREQ(serv->nick, "netnick");
    EXPECT_STREQ(serv->password, "pw 1");
    EXPECT_EQ(serv->login_method, LOGIN_METHOD_SERVER_PASSWORD);
    EXPECT_STREQ(serv->encoding, "ISO-8859-15");
    ASSERT_EQ(g_slist_length(serv->autojoin_channels), 1u);
    EXPECT_STREQ(static_cast<favchannel *>(serv->autojoin_channels->data)->key, "k");
    // Removing the network leaves the server running without one.
    servlist_net_remove(net);
    EXPECT_EQ(serv->network, nullptr);
}

TEST_F(ServlistConnect, FailuresCycleThroughTheServersOnlyWithCycling)
{
    prefs.net_reconnect_delay = 0;
    ircnet *net = network({"127.0.0.1/1", "127.0.0.1/2", "127.0.0.1/3"}, NET_CYCLE);
    servlist_connect(nullptr, net, true);
    auto *serv = static_cast<server *>(serv_list->data);
    std::vector<int> ports{serv->port};
    ASSERT_TRUE(fe_recorder::run_until(
        [&] {
            if (serv->port != ports.back())
                ports.push_back(serv->port);
            return ports.size() == 4;
        },
        10000));
    EXPECT_EQ(ports, (std::vector<int>{1, 2, 3, 1}));
    EXPECT_FALSE(fe_recorder::calls_named("fe_timeout_add").empty());
    EXPECT_EQ(fe_recorder::calls_named("fe_timeout_add").back().args.rfind("500 ", 0), 0u);

    net->flags = 0;
    prefs.net_reconnect_delay = 5;
    EXPECT_TRUE(servlist_cycle(serv));
    EXPECT_EQ(net->next_server, 0); // unchanged without NET_CYCLE
    EXPECT_EQ(fe_recorder::calls_named("fe_timeout_add").back().args.rfind("5000 ", 0), 0u);
    while (net->servers)
        servlist_server_remove(net, static_cast<ircserver *>(net->servers->data));
    EXPECT_FALSE(servlist_cycle(serv));
}

TEST_F(ServlistConnect, AskingForThePasswordCoversEveryMethodThatSendsOne)
{
    ircnet *net = network({"127.0.0.1/1"}, NET_ASK_PASSWORD);
    for (int method : {LOGIN_METHOD_DEFAULT, LOGIN_METHOD_NICKSERV_MSG, LOGIN_METHOD_CHALLENGE,
                       LOGIN_METHOD_SCRAM_SHA_256, LOGIN_METHOD_SASL_EXTERNAL}) {
        fe_recorder::reset();
        net->login_method = method;
        servlist_connect(nullptr, net, true);
        EXPECT_EQ(fe_recorder::count("fe_get_password"), method == LOGIN_METHOD_SASL_EXTERNAL ? 0 : 1) << method;
        fe_recorder::run_for(50);
        // Cancelled (the default answer): the network list opens instead.
        EXPECT_EQ(fe_recorder::count("fe_serverlist_open"), method == LOGIN_METHOD_SASL_EXTERNAL ? 0 : 1);
    }
    fe_recorder::reset();
    fe_recorder::answers typed;
    typed.cancelled = false;
    typed.text = "typed pw";
    fe_recorder::set_answers(typed);
    net->login_method = LOGIN_METHOD_SASL_PLAIN;
    const guint servers = g_slist_length(serv_list); // EXTERNAL connected at once
    servlist_connect(nullptr, net, true);
    ASSERT_TRUE(fe_recorder::run_until([&] { return g_slist_length(serv_list) > servers; }, 2000));
    EXPECT_STREQ(static_cast<server *>(serv_list->data)->password, "typed pw");
}

TEST_F(ServlistConnect, ServerCommandUsesTheListByNameAndByExactHost)
{
    ircnet *net = network({"127.0.0.1/1"}, 0);
    net->password = g_strdup("plainpw");
    net->login_method = LOGIN_METHOD_NICKSERV_MSG;
    net->charset = g_strdup("CP1252");
    session *sess = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    server *serv = sess->server;
    char by_name[] = "server testnet";
    handle_command(sess, by_name, false);
    EXPECT_EQ(serv->network, net);
    EXPECT_EQ(serv->port, 1);

    char by_host[] = "server -insecure 127.0.0.1 2";
    handle_command(sess, by_host, false);
    EXPECT_EQ(serv->network, net);
    EXPECT_STREQ(serv->password, "plainpw");
    EXPECT_EQ(serv->login_method, LOGIN_METHOD_NICKSERV_MSG);
    EXPECT_STREQ(serv->encoding, "CP1252");

    char other_host[] = "server -insecure 127.0.0.1.evil.invalid 2";
    handle_command(sess, other_host, false);
    EXPECT_EQ(serv->network, nullptr);
    EXPECT_STREQ(serv->password, "");
}

TEST_F(ServlistConnect, StartUpLoadsEncryptedPasswordsWithoutDerivingKeys)
{
    std::string file;
    char *stored = servlist_password_encrypt_for_storage("pw");
    for (int i = 0; i < 30; i++)
        file += "N=Net" + std::to_string(i) + "\nP=" + stored + "\nS=127.0.0.1/1\n\n";
    g_free(stored);
    write_file(file);
    const gint64 start = g_get_monotonic_time();
    servlist_init();
    const gint64 load_us = g_get_monotonic_time() - start;
    char *password = servlist_get_password(static_cast<ircnet *>(network_list->data));
    const gint64 derive_us = g_get_monotonic_time() - start - load_us;
    EXPECT_STREQ(password, "pw");
    servlist_password_free(password);
    RecordProperty("pbkdf2_300000_ms", static_cast<int>(derive_us / 1000));
    std::printf("one key derivation: %lld ms; loading 30 encrypted networks: %lld us\n",
                static_cast<long long>(derive_us / 1000), static_cast<long long>(load_us));
    // Thirty derivations would take thirty times one.
    EXPECT_LT(load_us * 5, derive_us);
}

} // namespace
