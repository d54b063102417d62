// Sessions, activity lists, the core timers, start-up decisions and shutdown.
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "session/lastact.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace
{

// What a connected server sent; the protocol senders arrive later, so the
// tests install recording ones.
std::vector<std::string> sent;
std::vector<int> reconnects;

void rec_part(server *, const char *channel, const char *reason)
{
    sent.push_back(std::string("PART ") + channel + " :" + (reason ? reason : ""));
}
void rec_quit(server *, const char *reason)
{
    sent.push_back(std::string("QUIT :") + (reason ? reason : ""));
}
void rec_ping(server *, const char *to, const char *text)
{
    sent.push_back(std::string("PING ") + to + "|" + text);
}
void rec_away_status(server *, const char *channel)
{
    sent.push_back(std::string("WHO ") + channel);
}
void rec_flush(server *)
{
    sent.push_back("<flush>");
}
void rec_reconnect(server *, int, int err, int)
{
    reconnects.push_back(err);
}

class Sessions : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-session-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        sent.clear();
        reconnects.clear();
        lumenwick_is_quitting = 0;
    }
    void TearDown() override
    {
        // Close what a test left open without running the shutdown.
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        std::string cmd = std::string("rm -rf '") + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        g_free(dir);
    }

    static server *connect_fake(server *serv)
    {
        serv->connected = TRUE;
        serv->motd_done = TRUE;
        serv->p_part = rec_part;
        serv->p_quit = rec_quit;
        serv->p_ping = rec_ping;
        serv->p_away_status = rec_away_status;
        serv->flush_queue = rec_flush;
        serv->auto_reconnect = rec_reconnect;
        return serv;
    }

    char *dir = nullptr;
};

TEST_F(Sessions, ServerTabOwnsANewServerAndChannelsShareIt)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
    ASSERT_NE(home, nullptr);
    server *serv = home->server;
    EXPECT_EQ(serv->home_session, home);
    EXPECT_EQ(serv->recent_session, home);
    EXPECT_TRUE(is_server(serv));
    EXPECT_STREQ(serv->nick, prefs.irc_nick1);
    EXPECT_STREQ(serv->chantypes, "#&!+");
    EXPECT_EQ(home->log_fd, -1);
    EXPECT_EQ(home->activity_index, -1);
    for (const unsigned char *opt = &home->alert_balloon; opt <= &home->text_strip; opt++)
        EXPECT_EQ(*opt, SET_DEFAULT);

    session *chan = new_ircwindow(serv, "#Test[1]", SESS_CHANNEL, 0);
    EXPECT_EQ(chan->server, serv);
    EXPECT_STREQ(chan->channel, "#Test[1]");
    EXPECT_STREQ(chan->initial_name, "#Test[1]");
    // Newest first, and channel lookups use IRC case mapping.
    EXPECT_EQ(sess_list->data, chan);
    EXPECT_EQ(find_channel(serv, "#test{1}"), chan);
    EXPECT_EQ(find_dialog(serv, "#test{1}"), nullptr);

    session *dlg = new_ircwindow(serv, "Alice^", SESS_DIALOG, 0);
    EXPECT_EQ(find_dialog(serv, "alice~"), dlg);
    EXPECT_EQ(fe_recorder::count("fe_new_window"), 3);
    EXPECT_EQ(fe_recorder::count("fe_new_server"), 1);
}

TEST_F(Sessions, NameIsCutAtACharacterBoundary)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    std::string name = "#" + std::string(297, 'a') + "\xc3\xa9"; // 300 bytes: the é does not fit
    session *chan = new_ircwindow(home->server, name.c_str(), SESS_CHANNEL, 0);
    EXPECT_EQ(strlen(chan->channel), 298u);
    EXPECT_TRUE(g_utf8_validate(chan->channel, -1, nullptr));
}

TEST_F(Sessions, FreeingTheHomeTabHandsTheServerToAnotherTab)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    server *serv = home->server;
    session *chan = new_ircwindow(serv, "#a", SESS_CHANNEL, 0);
    current_sess = home;
    current_tab = home;

    session_free(home);
    EXPECT_FALSE(is_session(home));
    EXPECT_EQ(serv->home_session, chan);
    EXPECT_EQ(serv->recent_session, chan);
    EXPECT_EQ(current_tab, nullptr);
    EXPECT_EQ(current_sess, chan);
    EXPECT_TRUE(is_server(serv));
    EXPECT_EQ(fe_recorder::count("fe_session_callback"), 1);
    EXPECT_EQ(fe_recorder::count("fe_server_callback"), 0);
}

TEST_F(Sessions, ClosingAChannelPartsAndTheLastTabQuitsOnce)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    server *serv = connect_fake(home->server);
    session *chan = new_ircwindow(serv, "#lumen", SESS_CHANNEL, 0);
    session *other = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0); // keeps the program alive

    session_free(chan);
    ASSERT_EQ(sent, (std::vector<std::string>{"PART #lumen :Leaving"}));

    sent.clear();
    session_free(home);
    // The queue is flushed before QUIT, and emptied again as the server is freed.
    EXPECT_EQ(sent, (std::vector<std::string>{"<flush>", "QUIT :Leaving", "<flush>"}));
    EXPECT_FALSE(is_server(serv));
    EXPECT_TRUE(is_session(other));
}

TEST_F(Sessions, QuitReasonOfTheSessionWinsAndAFileOfReasonsIsUsed)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    connect_fake(home->server);
    new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    home->quit_reason = g_strdup("gone fishing");
    session_free(home);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "QUIT :gone fishing"), sent.end());

    // A reason that names a file in the configuration directory picks a line of it.
    char *path = g_build_filename(dir, "quits.txt", nullptr);
    ASSERT_TRUE(g_file_set_contents(path, "only line\n", -1, nullptr));
    g_free(path);
    safe_strcpy(prefs.irc_quit_reason, "quits.txt", sizeof prefs.irc_quit_reason);
    session *second = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    connect_fake(second->server);
    session_free(second);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "QUIT :only line"), sent.end());
}

TEST_F(Sessions, ClosingTheLastTabRunsTheShutdownOnce)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    connect_fake(home->server);
    new_ircwindow(home->server, "#x", SESS_CHANNEL, 0);

    session_free(home); // the channel tab remains
    EXPECT_FALSE(fe_recorder::exit_requested());
    while (sess_list)
        session_free(static_cast<session *>(sess_list->data));

    EXPECT_TRUE(fe_recorder::exit_requested());
    EXPECT_TRUE(lumenwick_is_quitting);
    EXPECT_EQ(fe_recorder::count("fe_exit"), 1);
    // The settings were saved on the way out.
    char *conf = g_build_filename(dir, "lumenwick.conf", nullptr);
    EXPECT_TRUE(g_file_test(conf, G_FILE_TEST_EXISTS));
    g_free(conf);
    // One QUIT, sent while the last tab of the server closed.
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "QUIT :Leaving"), 1);

    // Closing more tabs during or after shutdown does not start it again.
    new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    session_free(static_cast<session *>(sess_list->data));
    EXPECT_EQ(fe_recorder::count("fe_exit"), 1);
}

TEST_F(Sessions, ActivityListsPreferHighlightedDialogs)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    server *serv = home->server;
    session *chan_data = new_ircwindow(serv, "#data", SESS_CHANNEL, 0);
    session *chan_hi = new_ircwindow(serv, "#hi", SESS_CHANNEL, 0);
    session *dlg_msg = new_ircwindow(serv, "bob", SESS_DIALOG, 0);
    session *dlg_hi = new_ircwindow(serv, "carol", SESS_DIALOG, 0);

    chan_data->has_new_data = TRUE;
    chan_hi->has_highlight = TRUE;
    dlg_msg->has_new_message = TRUE;
    dlg_hi->has_highlight = TRUE;
    for (session *s : {chan_data, chan_hi, dlg_msg, dlg_hi})
        lastact_update(s);
    EXPECT_EQ(dlg_hi->activity_index, LACT_QUERY_HI);
    EXPECT_EQ(dlg_msg->activity_index, LACT_QUERY);
    EXPECT_EQ(chan_hi->activity_index, LACT_CHAN_HI);
    EXPECT_EQ(chan_data->activity_index, LACT_CHAN_DATA);

    // A filter can pass over a session without taking it.
    auto not_carol = [](session *s) { return strcmp(s->channel, "carol") != 0 ? 1 : 0; };
    EXPECT_EQ(lastact_getfirst(not_carol), dlg_msg);
    EXPECT_EQ(lastact_getfirst(nullptr), dlg_hi);
    EXPECT_EQ(dlg_hi->activity_index, -1);
    EXPECT_EQ(lastact_getfirst(nullptr), chan_hi);
    EXPECT_EQ(lastact_getfirst(nullptr), chan_data);
    EXPECT_EQ(lastact_getfirst(nullptr), nullptr);

    // Seen activity leaves the lists; a freed session never stays in one.
    chan_data->has_new_data = TRUE;
    lastact_update(chan_data);
    chan_data->has_new_data = FALSE;
    lastact_update(chan_data);
    EXPECT_EQ(chan_data->activity_index, -1);
    EXPECT_EQ(sess_list_by_lastact[LACT_CHAN_DATA], nullptr);
    chan_hi->has_new_message = TRUE;
    lastact_update(chan_hi);
    session_free(chan_hi);
    EXPECT_EQ(sess_list_by_lastact[LACT_CHAN], nullptr);
}

TEST_F(Sessions, LagCheckProbesAndTimesOut)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    server *serv = connect_fake(home->server);
    prefs.net_lag_check = 30;
    prefs.net_ping_timeout = 60;
    prefs.net_auto_reconnect = 1;
    serv->last_pong_time = time(nullptr) - 31;

    lag_check(nullptr);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rfind("PING |LAG", 0), 0u);
    EXPECT_EQ(sent[0].substr(9), std::to_string(serv->lag_probe_ms));
    EXPECT_NE(serv->lag_probe_ms, 0u);
    EXPECT_EQ(fe_recorder::count("fe_set_lag"), 1);

    // An outstanding probe under the limit: nothing else happens this tick.
    lag_check(nullptr);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_TRUE(reconnects.empty());

    serv->lag_probe_ms = make_ping_time() - 61500;
    lag_check(nullptr);
    EXPECT_TRUE(fe_recorder::was_shown(home, "61"));
    EXPECT_EQ(reconnects, std::vector<int>{-1});

    // A server still logging in is left alone.
    serv->lag_probe_ms = 0;
    serv->motd_done = FALSE;
    sent.clear();
    lag_check(nullptr);
    EXPECT_TRUE(sent.empty());
}

TEST_F(Sessions, AwayPollingAsksForAFewChannelsPerTick)
{
    session *home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    server *serv = connect_fake(home->server);
    prefs.away_track = 1;
    prefs.away_size_max = 300;
    session *last = new_ircwindow(serv, "#last", SESS_CHANNEL, 0);
    session *big = new_ircwindow(serv, "#big", SESS_CHANNEL, 0);
    session *small = new_ircwindow(serv, "#small", SESS_CHANNEL, 0);
    session *huge = new_ircwindow(serv, "#huge", SESS_CHANNEL, 0);
    last->user_count = 10;
    big->user_count = 40;
    small->user_count = 5;
    huge->user_count = 301; // over away_size_max: never polled

    // Newest first: #small (5 users asked), #big (45), then the tick is full.
    away_status_poll(nullptr);
    EXPECT_EQ(sent, (std::vector<std::string>{"WHO #small", "WHO #big"}));

    sent.clear();
    away_status_poll(nullptr);
    EXPECT_EQ(sent, (std::vector<std::string>{"WHO #last"}));

    // Every channel polled and answers pending: nobody is asked twice.
    sent.clear();
    away_status_poll(nullptr);
    EXPECT_TRUE(sent.empty());

    // Answers in: a complete round starts over within the same tick.
    for (session *s : {last, big, small})
        s->who_pending = FALSE;
    away_status_poll(nullptr);
    EXPECT_EQ(sent, (std::vector<std::string>{"WHO #small", "WHO #big"}));

    prefs.away_track = 0;
    sent.clear();
    away_status_poll(nullptr);
    EXPECT_TRUE(sent.empty());
}

TEST_F(Sessions, TimersFollowTheirSettings)
{
    new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    prefs.notify_timeout = 0;
    prefs.away_track = 0;
    prefs.gui_lagometer = 0;
    prefs.net_ping_timeout = 0;
    lumenwick_reinit_timers();
    const int removed_before = fe_recorder::count("fe_timeout_remove");
    const int added_before = fe_recorder::count("fe_timeout_add") + fe_recorder::count("fe_timeout_add_seconds");

    prefs.notify_timeout = 15;
    prefs.net_ping_timeout = 60;
    lumenwick_reinit_timers();
    lumenwick_reinit_timers(); // already running: nothing more
    const int added = fe_recorder::count("fe_timeout_add") + fe_recorder::count("fe_timeout_add_seconds");
    EXPECT_EQ(added - added_before, 2);

    prefs.notify_timeout = 0;
    prefs.net_ping_timeout = 0;
    lumenwick_reinit_timers();
    EXPECT_EQ(fe_recorder::count("fe_timeout_remove") - removed_before, 2);
}

TEST_F(Sessions, StartupOpensTheNetworkListOrAServerTab)
{
    struct row {
        bool skip, no_auto, url;
        bool list_opens;
        int sessions;
    };
    const row table[] = {
        {false, false, false, true, 0}, {true, false, false, false, 1}, {true, true, false, false, 1},
        {false, true, false, true, 0},  {false, false, true, false, 1},
    };
    for (const row &r : table) {
        fe_recorder::reset();
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;

        prefs.gui_slist_skip = r.skip;
        arg_dont_autoconnect = r.no_auto;
        arg_url = r.url ? g_strdup("irc://127.0.0.1:1/") : nullptr;
        lumenwick_open_startup_windows();
        SCOPED_TRACE(::testing::Message() << "skip=" << r.skip << " no_auto=" << r.no_auto << " url=" << r.url);
        EXPECT_EQ(fe_recorder::count("fe_serverlist_open") == 1, r.list_opens);
        EXPECT_EQ(static_cast<int>(g_slist_length(sess_list)), r.sessions);
        g_free(arg_url);
        arg_url = nullptr;
    }
    arg_dont_autoconnect = 0;
}

} // namespace
