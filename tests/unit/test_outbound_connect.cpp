// The connection commands: how /SERVER and IRC URLs choose host, port, TLS
// and the channel to join, and what /DISCON, /FLUSHQ and /RECONNECT ask of
// the server.
#include "cfgfiles.h"
#include "fe_recorder.h"
#include "lumenwick.h"
#include "outbound.h"
#include "server.h"
#include "session.h"
#include "util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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

void rec_connect(server *serv, char *host, int port, int)
{
    connects.push_back({host, port, serv->tls_enabled != 0, serv->allow_invalid_cert == 0, serv->direct_only != 0,
                        serv->password});
}
void rec_disconnect(session *, int sendquit, int err)
{
    other_ops.push_back("disconnect " + std::to_string(sendquit) + " " + std::to_string(err));
}
void rec_reconnect(server *, int sendquit, int err)
{
    other_ops.push_back("reconnect " + std::to_string(sendquit) + " " + std::to_string(err) + " delay " +
                        std::to_string(prefs.net_reconnect_delay));
}
void rec_flush(server *serv)
{
    other_ops.push_back("flush");
    serv->queued_bytes = 0;
}

class ConnectCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-conncmd-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        connects.clear();
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
    EXPECT_EQ(connects[0].port, 0);  // the connection picks 6697 for TLS
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
    EXPECT_EQ(sess->quit_reason, nullptr);  // only for that disconnect

    prefs.net_reconnect_delay = 10;
    sess->server->connected = TRUE;
    safe_strcpy(sess->server->hostname, "irc.example.org", sizeof sess->server->hostname);
    run("reconnect -insecure other.example.org 6667");
    EXPECT_STREQ(sess->server->hostname, "other.example.org");
    EXPECT_EQ(sess->server->port, 6667);
    EXPECT_FALSE(sess->server->tls_enabled);
    EXPECT_EQ(prefs.net_reconnect_delay, 10);
    sess->server->connected = FALSE;

    EXPECT_EQ(other_ops, (std::vector<std::string>{"flush", "disconnect 1 -1", "reconnect 1 -1 delay 0"}));
}

TEST_F(ConnectCommands, QuoteNeedsAConnection)
{
    run("quote PRIVMSG #x :hi");
    EXPECT_TRUE(fe_recorder::was_shown(sess, "Not connected. Try /server <host> [<port>]"));
}

}  // namespace
