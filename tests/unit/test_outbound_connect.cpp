// The connection commands: how /SERVER and IRC URLs choose host, port, TLS
// and the channel to join, what /DISCON, /FLUSHQ, /RECONNECT and /GATE ask
// of the server, where /URL joins, and /ADDSERVER's edits of the server list.
#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct connect_call {
    std::string host;
    int port;
    bool tls;
    bool verify;
    bool direct;
    std::string password;
};
std::vector<connect_call> connects;
std::vector<std::string> other_ops;
std::vector<int> connect_no_login;

void rec_connect(server *serv, char *host, int port, int no_login)
{
    connects.push_back(
        {host, port, serv->tls_enabled != 0, serv->allow_invalid_cert == 0, serv->direct_only != 0, serv->password});
    connect_no_login.push_back(no_login);
}
void rec_join(server *, const char *channel, const char *key)
{
    other_ops.push_back(std::string("join ") + channel + " " + key);
}
void rec_disconnect(session *, int sendquit, int err)
{
    other_ops.push_back("disconnect " + std::to_string(sendquit) + " " + std::to_string(err));
}
// Records the delay asked for, and that the user's setting was left alone.
void rec_reconnect(server *, int sendquit, int err, int delay_s)
{
    other_ops.push_back("reconnect " + std::to_string(sendquit) + " " + std::to_string(err) + " delay " +
                        std::to_string(delay_s) + " setting " + std::to_string(prefs.net_reconnect_delay));
}
void rec_flush(server *serv)
{
    other_ops.push_back("flush");
    serv->queued_bytes = 0;
}

class ConnectCommands : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-conncmd-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        connects.clear();
        connect_no_login.clear();
        other_ops.clear();
        sess = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
        fake(sess->server);
    }
    void TearDown() override
    {
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        std::string cmd = std::string("rm -rf '") + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        g_free(dir);
    }
    static void fake(server *serv)
    {
        serv->connect = rec_connect;
        serv->disconnect = rec_disconnect;
        serv->auto_reconnect = rec_reconnect;
        serv->flush_queue = rec_flush;
        serv->p_join = rec_join;
    }
    void run(const char *line)
    {
        std::string copy(line);
        handle_command(sess, copy.data(), false);
    }

    char *dir = nullptr;
    session *sess = nullptr;
};

TEST_F(ConnectCommands, ServerChoosesTlsUnlessToldOtherwise)
{
    run("server irc.example.org");
    run("server -insecure irc.example.org 6667");
    run("server -ssl-noverify 127.0.0.1 +7000 sekrit");
    run("server irc.example.org -6668");
    run("server -noproxy -ssl irc.example.org");
    ASSERT_EQ(connects.size(), 5u);
    EXPECT_EQ(connects[0].host, "irc.example.org");
    EXPECT_EQ(connects[0].port, 0); // the connection picks 6697 for TLS
    EXPECT_TRUE(connects[0].tls);
    EXPECT_TRUE(connects[0].verify);
    EXPECT_FALSE(connects[1].tls);
    EXPECT_EQ(connects[1].port, 6667);
    EXPECT_TRUE(connects[2].tls);
    EXPECT_FALSE(connects[2].verify);
    EXPECT_EQ(connects[2].port, 7000);
    EXPECT_EQ(connects[2].password, "sekrit");
    EXPECT_EQ(sess->server->login_method, 7);
    EXPECT_FALSE(connects[3].tls);
    EXPECT_EQ(connects[3].port, 6668);
    EXPECT_TRUE(connects[4].direct);
    EXPECT_TRUE(connects[4].tls);
}

TEST_F(ConnectCommands, IrcUrlsGiveHostPortChannelAndKey)
{
    run("server irc://127.0.0.1:16667/lumen?sesame");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].host, "127.0.0.1");
    EXPECT_EQ(connects[0].port, 16667);
    EXPECT_FALSE(connects[0].tls);
    EXPECT_STREQ(sess->rejoin_channel, "#lumen");
    EXPECT_STREQ(sess->key, "sesame");

    run("server ircs://[::1]:+6697/#chan");
    EXPECT_EQ(connects[1].host, "::1");
    EXPECT_EQ(connects[1].port, 6697);
    EXPECT_TRUE(connects[1].tls);
    EXPECT_STREQ(sess->rejoin_channel, "#chan");

    // A plain /SERVER forgets the channel an earlier URL asked for.
    run("server -insecure example.net");
    EXPECT_STREQ(sess->rejoin_channel, "");
    run("servchan -insecure example.net 6667 #kept");
    EXPECT_STREQ(sess->rejoin_channel, "#kept");
    EXPECT_EQ(connects.back().password, "");
}

TEST_F(ConnectCommands, MissingHostPrintsUsage)
{
    run("server");
    run("server -ssl");
    EXPECT_TRUE(connects.empty());
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Usage: SERVER"));
}

TEST_F(ConnectCommands, NewServerOpensItsOwnTab)
{
    const unsigned before = g_slist_length(sess_list);
    run("newserver -noconnect irc.example.org");
    EXPECT_EQ(g_slist_length(sess_list), before + 1);
    EXPECT_TRUE(connects.empty());
    // A connecting /NEWSERVER needs the connection operations of the new tab's
    // server, which this test does not fake: the new tab must still be there.
    EXPECT_STREQ(static_cast<session *>(sess_list->data)->channel, "irc.example.org");
}

TEST_F(ConnectCommands, DisconnectFlushAndReconnect)
{
    sess->server->queued_bytes = 42;
    run("flushq");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Flushing server send queue, 42 bytes."));

    run("discon see you");
    EXPECT_EQ(sess->quit_reason, nullptr); // only for that disconnect

    prefs.net_reconnect_delay = 10;
    sess->server->connected = TRUE;
    safe_strcpy(sess->server->hostname, "irc.example.org", sizeof sess->server->hostname);
    run("reconnect -insecure other.example.org 6667");
    EXPECT_STREQ(sess->server->hostname, "other.example.org");
    EXPECT_EQ(sess->server->port, 6667);
    EXPECT_FALSE(sess->server->tls_enabled);
    EXPECT_EQ(prefs.net_reconnect_delay, 10);
    sess->server->connected = FALSE;

    EXPECT_EQ(other_ops, (std::vector<std::string>{"flush", "disconnect 1 -1", "reconnect 1 -1 delay 0 setting 10"}));
}

TEST_F(ConnectCommands, UrlFormsAndBadPorts)
{
    run("server irc://[2001:db8::1]:6697/#chan?key");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].host, "2001:db8::1");
    EXPECT_EQ(connects[0].port, 6697);
    EXPECT_FALSE(connects[0].tls) << "irc:// is plain whatever the port";
    EXPECT_STREQ(sess->rejoin_channel, "#chan");
    EXPECT_STREQ(sess->key, "key");

    run("server ircs://[::1]/");
    EXPECT_EQ(connects[1].host, "::1");
    EXPECT_EQ(connects[1].port, 0);
    EXPECT_TRUE(connects[1].tls);
    EXPECT_STREQ(sess->rejoin_channel, "");

    run("server irc://irc.example.org:+7000");
    EXPECT_TRUE(connects[2].tls) << "a + port asks for TLS";
    EXPECT_EQ(connects[2].port, 7000);
    run("server -insecure ircs://irc.example.org");
    EXPECT_FALSE(connects[3].tls) << "an explicit option wins over the scheme";

    // Numbers that are no port leave the choice to the connection's default
    // instead of a wrapped value.
    run("server irc://irc.example.org:4294973963");
    run("server irc.example.org 99999999999999999999");
    run("server irc.example.org 66x");
    ASSERT_EQ(connects.size(), 7u);
    EXPECT_EQ(connects[4].port, 0);
    EXPECT_EQ(connects[5].port, 0);
    EXPECT_EQ(connects[6].port, 0);
}

TEST_F(ConnectCommands, ReconnectReplacesWhatIsGiven)
{
    server *serv = sess->server;
    safe_strcpy(serv->hostname, "irc.example.org", sizeof serv->hostname);
    serv->port = 6697;
    serv->tls_enabled = TRUE;
    safe_strcpy(serv->password, "old", sizeof serv->password);

    // Not connected: the stored server is connected again at once.
    run("reconnect");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].host, "irc.example.org");
    EXPECT_EQ(connects[0].port, 6697);
    EXPECT_TRUE(connects[0].tls);
    EXPECT_EQ(connects[0].password, "old");

    run("reconnect -insecure 127.0.0.1 6667");
    EXPECT_EQ(connects[1].host, "127.0.0.1");
    EXPECT_EQ(connects[1].port, 6667);
    EXPECT_FALSE(connects[1].tls);
    EXPECT_EQ(connects[1].password, "old");

    run("reconnect -ssl-noverify other.example.org 7000 secret");
    EXPECT_TRUE(connects[2].tls);
    EXPECT_FALSE(connects[2].verify);
    EXPECT_EQ(connects[2].password, "secret");

    // Just a host: TLS with verification again.
    run("reconnect irc.example.org");
    EXPECT_TRUE(connects[3].tls);
    EXPECT_TRUE(connects[3].verify);
    EXPECT_EQ(connects[3].port, 7000);

    // ALL reconnects only the connected servers, without the delay.
    session *other = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    fake(other->server);
    other->server->connected = TRUE;
    prefs.net_reconnect_delay = 30;
    run("reconnect all");
    other->server->connected = FALSE;
    EXPECT_EQ(other_ops, (std::vector<std::string>{"reconnect 1 -1 delay 0 setting 30"}));
    EXPECT_EQ(prefs.net_reconnect_delay, 30);
}

TEST_F(ConnectCommands, GateConnectsPlainWithoutLogin)
{
    run("gate");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Usage: GATE"));
    run("gate gw.example.org notaport");
    EXPECT_TRUE(connects.empty());

    sess->server->tls_enabled = TRUE;
    run("gate gw.example.org");
    run("gate 127.0.0.1 2323");
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[0].host, "gw.example.org");
    EXPECT_EQ(connects[0].port, 23);
    EXPECT_FALSE(connects[0].tls);
    EXPECT_EQ(connects[1].port, 2323);
    EXPECT_EQ(connect_no_login, (std::vector<int>{1, 1}));
}

TEST_F(ConnectCommands, UrlJoinsWhereItPointsOrOpensTheBrowser)
{
    server *serv = sess->server;
    serv->connected = TRUE;
    safe_strcpy(serv->hostname, "irc.example.org", sizeof serv->hostname);
    servlist_init();
    ircnet *net = servlist_net_add("ExampleNet", true);
    servlist_server_add(net, "irc.example.org/6697");
    servlist_server_add(net, "irc2.example.org/+6697");
    serv->network = net;
    const unsigned tabs = g_slist_length(sess_list);

    run("url irc://irc.example.org/lumen?sesame"); // connected host
    run("url ircs://examplenet/#two");             // network name
    run("url irc://IRC2.example.org:6667/three");  // another server of the network
    run("url irc://[::1]:6667/#far");              // nothing connected there
    serv->connected = FALSE;

    EXPECT_EQ(other_ops, (std::vector<std::string>{"join #lumen sesame", "join #two ", "join #three "}));
    ASSERT_EQ(g_slist_length(sess_list), tabs + 1) << "the last URL opened a server tab";
    session *tab = static_cast<session *>(sess_list->data);
    EXPECT_NE(tab->server, serv);
    EXPECT_STREQ(tab->rejoin_channel, "#far");
    EXPECT_STREQ(tab->server->hostname, "::1");
    EXPECT_EQ(tab->server->port, 6667);
    EXPECT_TRUE(tab->server->connecting);
    // The real connection of that tab fails in its own time; stop it now.
    tab->server->disconnect(tab, FALSE, -1);

    run("url https://example.org/a?b=c");
    run("url");
    const auto opened = fe_recorder::calls_named("fe_open_url");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].args, "\"https://example.org/a?b=c\"");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Usage: URL"));

    serv->network = nullptr;
    servlist_cleanup();
}

TEST_F(ConnectCommands, AddServerEditsAndSavesTheList)
{
    servlist_init();
    run("addserver NewNet irc.new.example/6667");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Added server irc.new.example/6667 to network NewNet."));
    ircnet *net = servlist_net_find("NewNet", nullptr, strcmp);
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(network_list->data, net) << "a new network comes first";
    EXPECT_STREQ(net->charset, "UTF-8 (Unicode)");

    run("addserver NewNet irc.new.example/6667");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Server irc.new.example/6667 already exists on network NewNet."));
    run("addserver NewNet irc2.new.example/+6697");
    EXPECT_EQ(g_slist_length(net->servers), 2u);
    run("addserver newnet irc3.new.example");
    EXPECT_NE(servlist_net_find("newnet", nullptr, strcmp), net) << "network names compare exactly";
    run("addserver NewNet");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Usage: ADDSERVER"));

    std::ifstream in(std::string(dir) + "/servlist.conf");
    std::stringstream saved;
    saved << in.rdbuf();
    EXPECT_NE(saved.str().find("N=NewNet\n"), std::string::npos);
    EXPECT_NE(saved.str().find("S=irc2.new.example/+6697\n"), std::string::npos);
    servlist_cleanup();
}

TEST_F(ConnectCommands, AddServerKeepsTheStoredList)
{
    // A list that was never loaded must be loaded, not replaced.
    {
        std::ofstream out(std::string(dir) + "/servlist.conf");
        out << "v=2.19.1\n\nN=Mine\nE=UTF-8 (Unicode)\nF=23\nD=0\nS=mine.example/6697\n";
    }
    run("addserver Other other.example");
    std::ifstream in(std::string(dir) + "/servlist.conf");
    std::stringstream saved;
    saved << in.rdbuf();
    EXPECT_NE(saved.str().find("N=Mine\n"), std::string::npos) << saved.str();
    EXPECT_NE(saved.str().find("N=Other\n"), std::string::npos);
    servlist_cleanup();
}

TEST_F(ConnectCommands, QuoteNeedsAConnection)
{
    run("quote PRIVMSG #x :hi");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Not connected. Try /server <host> [<port>]"));
}

} // namespace
