// What server events do to tabs and user lists: highlights, the reply cache,
// where private messages and notices land, lag answers, membership changes,
// nick changes, away tracking, the end of login and /DNS. Each test feeds
// raw server lines through the real parser.
#include "fake_resolver.h"
#include "irc_lines.h"

#include "base/util.h"
#include "irc/inbound.h"
#include "irc/userlist.h"
#include "servlist/servlist.h"

#include <string>

using namespace std::string_literals;

namespace
{

class Inbound : public IrcLines
{
  protected:
    // Whether `sess` printed a line holding `text` as a highlight (its
    // default texts start in colour 13).
    static bool hilighted(const session *sess, const std::string &text)
    {
        for (const auto &line : fe_recorder::printed(sess))
            if (line.rfind("\00313", 0) == 0 && line.find(text) != std::string::npos)
                return true;
        return false;
    }
    session *joined(const char *chan, const std::string &names)
    {
        recv(":me!u@h JOIN "s + chan);
        recv(":irc.test 353 me = "s + chan + " :" + names);
        recv(":irc.test 366 me "s + chan + " :End of /NAMES list.");
        return find_channel(serv, chan);
    }
};

TEST(Highlight, ListsMatchWholeNormalisedWords)
{
    EXPECT_TRUE(alert_match_word("alex", "al*"));
    EXPECT_FALSE(alert_match_word("palex", "al*"));
    EXPECT_TRUE(alert_match_word("ALEX", "foo, al*")) << "items split at commas and spaces, IRC case";
    EXPECT_FALSE(alert_match_word("alex", ""));
    EXPECT_TRUE(alert_match_word("\xef\xbd\x81lex", "alex")) << "a full-width letter is its NFKC form";

    EXPECT_TRUE(alert_match_text("hey alex: look", "al*")) << "a colon ends a word";
    EXPECT_TRUE(alert_match_text("ping,alex!", "alex"));
    EXPECT_FALSE(alert_match_text("[alex] hi", "alex")) << "brackets belong to nicks";
    EXPECT_TRUE(alert_match_text("[alex] hi", "[alex]"));
    EXPECT_TRUE(alert_match_text("I \xe2\x9d\xa4\xef\xb8\x8f it", "\xe2\x9d\xa4")) << "emoji selector ignored";
    EXPECT_FALSE(alert_match_text("nothing here", ""));
    EXPECT_FALSE(alert_match_text("\xff\xfe broken", "alex"));
}

TEST_F(Inbound, ChannelHighlightsFollowNickAndLists)
{
    session *chan = channel("#c");
    recv(":alex!u@h PRIVMSG #c :hi me there");
    EXPECT_TRUE(hilighted(chan, "hi me there"));
    EXPECT_TRUE(chan->has_highlight);
    recv(":alex!u@h PRIVMSG #c :meme time");
    EXPECT_FALSE(hilighted(chan, "meme time")) << "the own nick must be a whole word";

    g_strlcpy(prefs.irc_no_hilight, "bot*", sizeof prefs.irc_no_hilight);
    recv(":botty!u@h PRIVMSG #c :me me me");
    EXPECT_FALSE(hilighted(chan, "me me me"));
    g_strlcpy(prefs.irc_nick_hilight, "al*", sizeof prefs.irc_nick_hilight);
    recv(":alice!u@h PRIVMSG #c :plain words");
    recv(":palex!u@h PRIVMSG #c :other words");
    EXPECT_TRUE(hilighted(chan, "plain words"));
    EXPECT_FALSE(hilighted(chan, "other words"));
    g_strlcpy(prefs.irc_extra_hilight, "deploy*", sizeof prefs.irc_extra_hilight);
    recv(":bob!u@h PRIVMSG #c :\002deployment\x02 done");
    EXPECT_TRUE(hilighted(chan, "done")) << "codes are stripped before matching";
    recv(":bob!u@h PRIVMSG #c :\001ACTION waves at me\x01");
    EXPECT_TRUE(hilighted(chan, "waves at me"));
}

TEST_F(Inbound, RepliesQuoteTheCachedMessage)
{
    session *chan = channel("#c");
    recv("@msgid=m1 :alice!u@h PRIVMSG #c :original text");
    recv("@+reply=m1 :bob!u@h PRIVMSG #c :answer");
    EXPECT_TRUE(shown(chan, "\xe2\x94\x82 \xe2\x86\xaa alice: original text"));
    recv("@msgid=m1 :alice!u@h PRIVMSG #c :edited");
    EXPECT_EQ(reply_cache_find(chan, "m1")->text, "edited") << "the same id is updated in place";

    for (int i = 2; i <= 201; i++)
        recv("@msgid=m" + std::to_string(i) + " :carol!u@h PRIVMSG #c :n" + std::to_string(i));
    EXPECT_EQ(reply_cache_find(chan, "m1"), nullptr) << "the 201st message pushes the oldest out";
    ASSERT_NE(reply_cache_latest_from(chan, "CAROL"), nullptr);
    EXPECT_EQ(reply_cache_latest_from(chan, "CAROL")->text, "n201");
    recv("@+reply=m1 :bob!u@h PRIVMSG #c :late answer");
    EXPECT_TRUE(shown(chan, "\xe2\x86\xaa Original message unavailable"));

    EXPECT_FALSE(reply_msgid_valid(":x"));
    EXPECT_FALSE(reply_msgid_valid("a b"));
    reply_state_set(chan, "m5", nullptr, nullptr, nullptr);
    ASSERT_NE(reply_state_get(chan), nullptr);
    EXPECT_EQ(reply_state_get(chan)->nick, "#c");
    EXPECT_EQ(reply_state_get(chan)->text, "Original message unavailable");
    reply_state_clear(chan);
    EXPECT_EQ(reply_state_get(chan), nullptr);
}

TEST_F(Inbound, PrivateMessagesFindADialogOrTheSendersChannel)
{
    recv(":bob!u@host PRIVMSG me :hi");
    session *bob = find_dialog(serv, "bob");
    ASSERT_NE(bob, nullptr);
    EXPECT_TRUE(shown(bob, "hi"));
    EXPECT_STREQ(bob->topic, "u@host");

    prefs.gui_autoopen_dialog = 0;
    session *chan = joined("#c", "me carol");
    recv(":carol!u@h PRIVMSG me :psst");
    EXPECT_TRUE(shown(chan, "psst")) << "without a dialog, the channel the sender is in";
    EXPECT_EQ(find_dialog(serv, "carol"), nullptr);
}

TEST_F(Inbound, NoticesFindTheirTab)
{
    session *chan = channel("#c");
    recv(":bob!u@h NOTICE @#c :ops only");
    EXPECT_TRUE(shown(chan, "-bob/@#c-"));
    EXPECT_TRUE(shown(chan, "ops only"));
    recv(":ChanServ!s@services NOTICE me :[#c] welcome");
    EXPECT_TRUE(shown(chan, "welcome")) << "ChanServ's [#channel] notices go to the channel";
    serv->cap_identify_msg = TRUE;
    recv(":ChanServ!fake@h NOTICE me :[#c] fake");
    EXPECT_FALSE(shown(chan, "fake")) << "with identify-msg only an identified ChanServ";

    recv(":irc.test NOTICE me :*** Notice -- link up");
    EXPECT_TRUE(shown(home, "*** Notice -- link up"));
    prefs.irc_notice_pos = 1;
    recv(":irc.test NOTICE me :*** Notice -- link down");
    session *snotices = nullptr;
    for (GSList *l = sess_list; l; l = l->next)
        if (static_cast<session *>(l->data)->type == SESS_SNOTICES)
            snotices = static_cast<session *>(l->data);
    ASSERT_NE(snotices, nullptr);
    EXPECT_TRUE(shown(snotices, "link down"));
    EXPECT_FALSE(shown(snotices, "*** Notice"));
}

TEST_F(Inbound, LagAnswersComeOnlyFromTheServerOrTheOwnNick)
{
    const unsigned long probe = make_ping_time() - 250;
    serv->lag_probe_ms = probe;
    recv(":eve!u@h NOTICE me :\x01PING LAG1\x01");
    EXPECT_EQ(serv->lag_probe_ms, probe) << "a stranger's CTCP reply is no lag answer";
    EXPECT_TRUE(shown(home, "Ping reply from eve: ? second(s)"));
    EXPECT_EQ(fe_recorder::count("fe_set_lag"), 0);
    recv(":me!u@h NOTICE me :\x01PING LAG" + std::to_string(probe) + "\x01");
    EXPECT_EQ(serv->lag_probe_ms, 0u);
    EXPECT_GE(serv->lag, 250);

    recv(":irc.test PONG irc.test :LAG" + std::to_string(probe));
    EXPECT_EQ(fe_recorder::count("fe_set_lag"), 1) << "no check outstanding: nothing to measure";
    serv->lag_probe_ms = probe;
    recv(":irc.test PONG irc.test :LAG" + std::to_string(probe));
    EXPECT_EQ(fe_recorder::count("fe_set_lag"), 2);
    serv->lag_probe_ms = probe;
    recv(":irc.test PONG irc.test :something");
    EXPECT_EQ(serv->lag_probe_ms, 0u) << "a server that answers with its own text still answered";
    EXPECT_EQ(lines_in(home), 1u) << "nothing but the stranger's reply was shown";
}

TEST_F(Inbound, MembershipKeepsTheUserList)
{
    prefs.irc_who_join = 1;
    session *chan = joined("#c", "@me +bob carol");
    ASSERT_NE(chan, nullptr);
    EXPECT_EQ(sent(), "MODE #c\r\nWHO #c\r\n");
    EXPECT_FALSE(shown(chan, "Users on #c")) << "the names reply to our own join is not news";
    EXPECT_EQ(chan->user_count, 3);
    EXPECT_EQ(userlist_find(chan, "bob")->prefix, '+');

    recv(":dave!d@h JOIN #c");
    recv(":carol!u@h PART #c :later");
    recv(":me!u@h KICK #c bob :out");
    EXPECT_TRUE(shown(chan, "carol (u@h) has left (later)"));
    EXPECT_EQ(userlist_find(chan, "carol"), nullptr);
    EXPECT_EQ(userlist_find(chan, "bob"), nullptr);
    ASSERT_NE(userlist_find(chan, "dave"), nullptr);

    session *other = channel("#other");
    session *dave = dialog("dave");
    recv(":dave!d@h QUIT :gone");
    EXPECT_TRUE(shown(chan, "dave has quit (gone)"));
    EXPECT_TRUE(shown(dave, "dave has quit (gone)"));
    EXPECT_FALSE(shown(other, "dave has quit")) << "only where the nick was";
    EXPECT_EQ(userlist_find(chan, "dave"), nullptr);

    recv(":irc.test 353 me = #c :@me zed");
    EXPECT_TRUE(shown(chan, "Users on #c: @me zed")) << "a later /NAMES is shown";
    EXPECT_EQ(chan->user_count, 2) << "and replaces the list";
    recv(":irc.test 353 me = #nowhere :x y");
    EXPECT_TRUE(shown(home, "Users on #nowhere"));
}

TEST_F(Inbound, OwnPartAndKickClearTheTab)
{
    session *chan = joined("#c", "me bob");
    recv(":me!u@h PART #c :bye");
    EXPECT_STREQ(chan->channel, "");
    EXPECT_STREQ(chan->pending_join, "#c");
    EXPECT_EQ(chan->user_count, 0);
    recv(":me!u@h JOIN #C");
    EXPECT_EQ(find_channel(serv, "#c"), chan) << "the waiting tab takes the channel back";
    EXPECT_STREQ(chan->channel, "#C") << "in the server's spelling";

    prefs.irc_auto_rejoin = 1;
    g_strlcpy(chan->key, "sekrit", sizeof chan->key);
    sent();
    recv(":op!u@h KICK #C me :out");
    EXPECT_TRUE(shown(chan, "You have been kicked from #C by op (out)"));
    EXPECT_EQ(sent(), "JOIN #C sekrit\r\n");
    EXPECT_STREQ(chan->pending_join, "#C");
}

TEST_F(Inbound, NickChangesFollowTheUser)
{
    session *c = joined("#c", "me bob");
    session *d = joined("#d", "me bob");
    session *e = joined("#e", "me");
    session *query = dialog("bob");
    recv(":bob!u@h NICK :rob");
    EXPECT_TRUE(shown(c, "bob is now known as rob"));
    EXPECT_TRUE(shown(d, "bob is now known as rob"));
    EXPECT_FALSE(shown(e, "now known as"));
    EXPECT_STREQ(query->channel, "rob");
    EXPECT_NE(userlist_find(c, "rob"), nullptr);

    recv(":ME!u@h NICK newme");
    EXPECT_STREQ(serv->nick, "newme");
    EXPECT_TRUE(shown(c, "You are now known as newme"));
    EXPECT_TRUE(shown(home, "You are now known as newme"));
    EXPECT_TRUE(userlist_find(e, "newme")->me);
}

TEST_F(Inbound, ServerTimesTheCalendarCannotExpressAreShownAsNumbers)
{
    session *chan = channel("#c");
    recv(":irc.test 333 me #c alice 99999999999999999");
    EXPECT_TRUE(shown(chan, "99999999999999999"));
    recv(":irc.test 367 me #c *!*@bad alice 99999999999999999");
    EXPECT_TRUE(shown(chan, "99999999999999999"));
    recv(":irc.test 367 me #c *!*@old alice 0");
    EXPECT_TRUE(shown(chan, "*!*@old"));
}

TEST_F(Inbound, AwayStateFollowsRepliesAndNotifications)
{
    session *chan = joined("#c", "me bob");
    recv(":irc.test 301 me bob :at lunch");
    recv(":irc.test 301 me bob :at lunch");
    int count = 0;
    for (GSList *l = sess_list; l; l = l->next)
        for (const auto &line : fe_recorder::shown(static_cast<session *>(l->data)))
            count += line.find("at lunch") != std::string::npos;
    EXPECT_EQ(count, 1) << "the same away message is shown once";
    EXPECT_TRUE(userlist_find(chan, "bob")->away);
    recv(":bob!u@h AWAY");
    EXPECT_FALSE(userlist_find(chan, "bob")->away);

    recv(":irc.test 306 me :You have been marked as being away");
    EXPECT_TRUE(serv->away);
    EXPECT_TRUE(chan->own_user->away);
    EXPECT_NE(inbound_away_since(serv), 0);
    recv(":irc.test 305 me :You are no longer marked as being away");
    EXPECT_FALSE(serv->away);
    EXPECT_FALSE(chan->own_user->away);
}

TEST_F(Inbound, WhoRepliesAndHostChangesFillTheUserRecords)
{
    session *chan = joined("#c", "me bob");
    recv(":irc.test 352 me #c ~b host.example irc.test bob G :0 Bob Real");
    User *bob = userlist_find(chan, "bob");
    EXPECT_STREQ(bob->hostname, "~b@host.example");
    EXPECT_STREQ(bob->realname, "Bob Real");
    EXPECT_TRUE(bob->away);
    recv(":irc.test 354 me 152 #c ~b host.example irc.test bob H bobacct :Bob Real");
    EXPECT_STREQ(bob->account, "bobacct");
    EXPECT_FALSE(bob->away);

    session *query = dialog("bob");
    recv(":bob!~b@host.example CHGHOST newuser new.host");
    EXPECT_STREQ(bob->hostname, "newuser@new.host");
    EXPECT_STREQ(query->topic, "newuser@new.host") << "a dialog shows its peer's address";
}

TEST_F(Inbound, NickCollisionsDuringLoginTryTheNextNicks)
{
    recv(":irc.test 433 * me :Nickname is already in use");
    EXPECT_EQ(sent(), "NICK me_\r\n");
    recv(":irc.test 433 * me_ :Nickname is already in use");
    EXPECT_EQ(sent(), "NICK me__\r\n");
    recv(":irc.test 433 * me__ :Nickname is already in use");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(home, "Every nickname is erroneous or already in use"));
}

TEST_F(Inbound, EndOfLoginSendsModesAndJoins)
{
    prefs.irc_invisible = 1;
    g_strlcpy(home->rejoin_channel, "#a", sizeof home->rejoin_channel);
    recv(":irc.test 376 me :End of MOTD");
    EXPECT_EQ(sent(), "MODE me +i\r\nJOIN #a\r\n");
    EXPECT_TRUE(serv->motd_done);
    EXPECT_STREQ(home->pending_join, "#a");
    recv(":irc.test 376 me :End of MOTD");
    EXPECT_EQ(sent(), "") << "once per connection";
}

TEST_F(Inbound, ConnectCommandsRunAndTheJoinWaitsForIdentification)
{
    ircnet net{};
    net.user_name = g_strdup("netuser");
    net.connect_commands = g_slist_append(nullptr, g_strdup("/QUOTE PRIVMSG svc :login %u"));
    serv->network = &net;
    prefs.irc_join_delay = 30;
    g_strlcpy(home->rejoin_channel, "#a", sizeof home->rejoin_channel);
    recv(":irc.test 422 me :MOTD File is missing");
    EXPECT_EQ(sent(), "PRIVMSG svc :login netuser\r\n");
    EXPECT_NE(serv->join_timer, 0);
    inbound_identified(serv);
    EXPECT_EQ(sent(), "JOIN #a\r\n");
    EXPECT_EQ(serv->join_timer, 0);
    serv->network = nullptr;
    g_slist_free_full(net.connect_commands, g_free);
    g_free(net.user_name);
}

TEST_F(Inbound, ReconnectWhileAwayResendsAway)
{
    serv->restore_away = TRUE;
    recv(":irc.test 001 me :Welcome");
    std::string out = sent();
    for (char &c : out)
        c = g_ascii_tolower(c);
    EXPECT_EQ(out.rfind("away", 0), 0u) << out;
    EXPECT_FALSE(serv->restore_away);
}

TEST_F(Inbound, DnsLookupsReportBack)
{
    scoped_fake_resolver resolver;
    resolver.name_for("127.0.0.1", "loopback.test");
    resolver.addresses_for("h.d.tld", {"192.0.2.7", "2001:db8::7"});

    do_dns(home, "bob", "bob@127.0.0.1", nullptr);
    EXPECT_TRUE(shown(home, "Looking up 127.0.0.1..."));
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(home, "Resolved to loopback.test"); }, 5000));
    do_dns(home, nullptr, "h.d.tld", nullptr);
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(home, "    2001:db8::7"); }, 5000));
    EXPECT_TRUE(shown(home, "Resolved to:"));
    EXPECT_TRUE(shown(home, "    192.0.2.7"));
    do_dns(home, nullptr, "192.0.2.99", nullptr);
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(home, "Not found"); }, 5000));

    // The answer for a tab closed meanwhile is dropped, not shown elsewhere.
    session *gone = dialog("x");
    fe_recorder::reset();
    const int answered = resolver.answered();
    do_dns(gone, nullptr, "127.0.0.1", nullptr);
    session_free(gone);
    ASSERT_TRUE(fe_recorder::run_until([&] { return resolver.answered() > answered; }, 5000));
    for (const std::string &text : fe_recorder::printed_text())
        EXPECT_EQ(text.find("Resolved"), std::string::npos) << text;
}

TEST_F(Inbound, FloodRefusedMessagesLeaveTheServerTabAlone)
{
    prefs.flood_msg_num = 2;
    prefs.flood_msg_time = 60;
    for (int i = 0; i < 4; i++)
        recv(":n" + std::to_string(i) + "!u@evil.example PRIVMSG me :spam");
    int dialogs = 0;
    for (int i = 0; i < 4; i++)
        dialogs += find_dialog(serv, ("n" + std::to_string(i)).c_str()) != nullptr;
    EXPECT_EQ(dialogs, 1) << "the second message is the flood; dialogs stay shut after it";
    EXPECT_EQ(home->topic, nullptr) << "the refused sender's address is not the server's topic";
    EXPECT_EQ(prefs.gui_autoopen_dialog, 1) << "the pause is not the user's setting";
}

} // namespace
