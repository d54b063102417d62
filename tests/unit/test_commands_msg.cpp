// The message, away and channel commands as a user types them: the bytes
// that reach the server and what the tabs show, including the masking of
// passwords told to the nick service and the IRCv3 client tags.
#include "irc_lines.h"

#include "commands/outbound.h"
#include "irc/inbound.h"
#include "irc/userlist.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{

std::vector<std::string> disconnects;

// Stands in for the real disconnect: sends the QUIT the way it does, but
// leaves the test's socket alone.
void fake_disconnect(session *sess, int sendquit, int)
{
    disconnects.push_back(sess->quit_reason ? sess->quit_reason : "(default)");
    if (sendquit)
        server_sendquit(sess);
}

class MsgCommands : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        disconnects.clear();
    }

    // Runs one command line (without the command character) in `sess`;
    // false when the command asked to stop.
    bool run(session *sess, const std::string &line)
    {
        std::string copy = line;
        return handle_command(sess, copy.data(), true);
    }
    session *joined(const char *chan, const std::string &names)
    {
        recv(":me!u@h JOIN "s + chan);
        recv(":irc.test 353 me = "s + chan + " :" + names);
        recv(":irc.test 366 me "s + chan + " :End of /NAMES list.");
        return find_channel(serv, chan);
    }
    static bool usage_shown(const session *sess, const std::string &command)
    {
        return shown(sess, "Usage: " + command);
    }
    static std::vector<std::string> lines_of(const std::string &wire)
    {
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t end; (end = wire.find("\r\n", start)) != std::string::npos; start = end + 2)
            out.push_back(wire.substr(start, end - start));
        return out;
    }
    // Every file under the configuration directory that holds `needle`.
    std::vector<std::string> files_holding(const std::string &needle) const
    {
        std::vector<std::string> hits;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream body;
            body << in.rdbuf();
            if (body.str().find(needle) != std::string::npos)
                hits.push_back(entry.path().string());
        }
        return hits;
    }
};

// ---- /MSG ------------------------------------------------------------------------

TEST_F(MsgCommands, MsgDotRepeatsTheLastTargetOfTheSameTab)
{
    session *chan = joined("#c", "me bob");
    sent();
    run(home, "msg bob hello there");
    EXPECT_EQ(sent(), "PRIVMSG bob :hello there\r\n");
    run(home, "msg . again");
    EXPECT_EQ(sent(), "PRIVMSG bob :again\r\n");
    EXPECT_TRUE(shown(home, "bob") && shown(home, "again")) << "no dialog open: Message Send in the tab";

    run(chan, "msg . from elsewhere");
    EXPECT_EQ(sent(), "") << "the last target belongs to the tab it was used in";
    EXPECT_TRUE(usage_shown(chan, "MSG"));

    run(home, "msg");
    run(home, "msg carol");
    EXPECT_EQ(sent(), "");
}

TEST_F(MsgCommands, MsgShowsInTheOpenDialogOrChannelUnlessTheServerEchoes)
{
    session *bob = dialog("bob");
    session *chan = joined("#c", "me");
    sent();
    run(home, "msg bob to the dialog");
    run(home, "msg #c to the channel");
    EXPECT_EQ(sent(), "PRIVMSG bob :to the dialog\r\nPRIVMSG #c :to the channel\r\n");
    EXPECT_TRUE(shown(bob, "to the dialog"));
    EXPECT_TRUE(shown(chan, "to the channel"));
    EXPECT_FALSE(shown(home, "to the dialog"));

    serv->cap_echo_message = TRUE;
    const std::size_t before = lines_in(bob) + lines_in(home);
    run(home, "msg bob echoed later");
    run(home, "msg dave echoed too");
    EXPECT_EQ(lines_in(bob) + lines_in(home), before) << "the server's echo is what gets shown";
    EXPECT_EQ(sent(), "PRIVMSG bob :echoed later\r\nPRIVMSG dave :echoed too\r\n");

    serv->connected = FALSE;
    run(home, "msg bob offline");
    EXPECT_TRUE(shown(home, "Not connected. Try /server"));
}

TEST_F(MsgCommands, MsgToADccChatWithoutOneSaysNoDcc)
{
    run(home, "msg =bob hi");
    EXPECT_EQ(sent(), "") << "=nick never goes to the server";
    EXPECT_TRUE(shown(home, "No such DCC"));
    EXPECT_FALSE(shown(home, "hi"));
}

TEST_F(MsgCommands, LongMessagesArriveWholeInPiecesThatFitTheLine)
{
    session *chan = joined("#c", "me");
    sent();
    std::string text;
    for (int i = 0; text.size() < 600; i++)
        text += "word" + std::to_string(i) + " ";
    run(chan, "msg #c " + text);
    auto lines = lines_of(sent());
    ASSERT_EQ(lines.size(), 2u);
    std::string joined_text;
    for (const auto &line : lines) {
        EXPECT_LE(line.size() + 2 + 1 + strlen("me!u@h"), 512u) << line;
        ASSERT_EQ(line.rfind("PRIVMSG #c :", 0), 0u);
        joined_text += line.substr(strlen("PRIVMSG #c :"));
    }
    EXPECT_EQ(joined_text, text);
    EXPECT_EQ(lines[0].back(), ' ') << "cut after a space near the end";

    // A target longer than the tab's name still gets lines that fit.
    const std::string long_target = "#" + std::string(150, 'x');
    run(home, "msg " + long_target + " " + text);
    lines = lines_of(sent());
    ASSERT_GE(lines.size(), 2u);
    for (const auto &line : lines)
        EXPECT_LE(line.size() + 2 + 1 + strlen(":me!~me@some.host.example "), 512u) << line;
}

TEST_F(MsgCommands, NoticeAndActionAreCutAndShownPerPiece)
{
    session *chan = joined("#c", "me");
    sent();
    const std::string text(700, 'n');
    run(chan, "notice bob " + text);
    auto lines = lines_of(sent());
    ASSERT_EQ(lines.size(), 2u);
    std::string both = lines[0].substr(strlen("NOTICE bob :")) + lines[1].substr(strlen("NOTICE bob :"));
    EXPECT_EQ(both, text);
    int notice_send = 0;
    for (const auto &line : fe_recorder::shown(chan))
        notice_send += line.find("bob") != std::string::npos && line.find("nnnn") != std::string::npos;
    EXPECT_EQ(notice_send, 2) << "one Notice Send per piece";

    run(chan, "me " + text);
    lines = lines_of(sent());
    ASSERT_EQ(lines.size(), 2u);
    for (const auto &line : lines) {
        EXPECT_EQ(line.rfind("PRIVMSG #c :\001ACTION ", 0), 0u);
        EXPECT_EQ(line.back(), '\001');
    }
}

// ---- the nick service's password -------------------------------------------------

TEST_F(MsgCommands, NickServPasswordsAreMaskedWhereverTheyAreShown)
{
    run(home, "msg NickServ identify hunter2");
    EXPECT_EQ(sent(), "PRIVMSG NickServ :identify hunter2\r\n") << "the service still gets the password";
    EXPECT_TRUE(shown(home, "identify ****"));
    run(home, "msg nickserv GHOST me hunter2");
    EXPECT_TRUE(shown(home, "ghost ****"));
    run(home, "msg NickServ@services.example identify hunter2");
    EXPECT_TRUE(shown(home, "NickServ@services.example")) << "the service's full address, as some networks want";

    // An open dialog with the service, written by /MSG and by typing in it.
    session *ns = dialog("NickServ");
    run(home, "msg NICKSERV Identify acct hunter2");
    EXPECT_TRUE(shown(ns, "identify ****"));
    run(ns, "say identify hunter2");
    EXPECT_TRUE(shown(ns, "identify ****"));
    run(home, "msg NickServ help identify");
    EXPECT_TRUE(shown(ns, "help identify")) << "other texts to the service are shown as typed";

    // The server's echo of the message: into the dialog, or without one as
    // Message Send in the front tab.
    serv->cap_echo_message = TRUE;
    recv(":me!u@h PRIVMSG NickServ :identify echoed-hunter2");
    session_free(ns);
    recv(":me!u@h PRIVMSG NickServ :identify echoed-hunter2");
    EXPECT_GE(fe_recorder::count("fe_print_text"), 1);

    for (const auto &text : fe_recorder::printed_text())
        EXPECT_EQ(text.find("hunter2"), std::string::npos) << text;
    EXPECT_EQ(files_holding("hunter2"), std::vector<std::string>{}) << "nor in a log or scrollback file";
}

// ---- replies and typing (client tags) --------------------------------------------

TEST_F(MsgCommands, ReplyEscapesTheIdAndShowsWhatItAnswers)
{
    serv->cap_message_tags = TRUE;
    session *chan = joined("#c", "me bob");
    recv("@msgid=abc :bob!u@h PRIVMSG #c :the question");
    sent();

    run(chan, "reply abc :the answer");
    EXPECT_EQ(sent(), "@+reply=abc PRIVMSG #c :the answer\r\n") << "one leading colon removed";
    EXPECT_TRUE(shown(chan, "bob: the question")) << "the reply context line";
    EXPECT_TRUE(shown(chan, "the answer"));

    run(chan, "reply a;b\\c second");
    EXPECT_EQ(sent(), "@+reply=a\\:b\\\\c PRIVMSG #c :second\r\n");
    EXPECT_TRUE(shown(chan, "Original message unavailable"));

    const std::string long_reply(700, 'r');
    run(chan, "reply abc " + long_reply);
    std::string both;
    for (const auto &line : lines_of(sent())) {
        ASSERT_EQ(line.rfind("@+reply=abc PRIVMSG #c :", 0), 0u) << "every piece carries the tag";
        both += line.substr(strlen("@+reply=abc PRIVMSG #c :"));
    }
    EXPECT_EQ(both, long_reply) << "a long reply is cut into pieces, not by the server";

    run(chan, "reply :bad text");
    run(chan, "reply abc");
    run(home, "reply abc text");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(usage_shown(chan, "REPLY"));
    EXPECT_TRUE(usage_shown(home, "REPLY")) << "a server tab has nothing to reply in";
}

TEST_F(MsgCommands, ClientTagsNeedMessageTagsAndAreDeniedByTheServersList)
{
    session *chan = joined("#c", "me");
    sent();
    auto reply_goes_out = [&] {
        run(chan, "reply abc hi");
        return sent().find("+reply=abc") != std::string::npos;
    };
    EXPECT_FALSE(reply_goes_out()) << "no message-tags capability";
    EXPECT_TRUE(shown(chan, "Not connected. Try /server"));

    serv->cap_message_tags = TRUE;
    EXPECT_TRUE(reply_goes_out());
    const struct {
        const char *deny;
        bool allowed;
    } cases[] = {
        {"*", false},     {"reply", false}, {"+reply", false},  {"typing,+reply", false},
        {"typing", true}, {"", true},       {"*,-reply", true}, {"replying", true},
    };
    for (const auto &c : cases) {
        g_free(serv->clienttagdeny);
        serv->clienttagdeny = g_strdup(c.deny);
        EXPECT_EQ(reply_goes_out(), c.allowed) << "CLIENTTAGDENY=" << c.deny;
    }
}

TEST_F(MsgCommands, TypingSendsTheStateToTheTabOrTarget)
{
    serv->cap_message_tags = TRUE;
    session *chan = joined("#c", "me");
    session *bob = dialog("bob");
    sent();
    run(chan, "typing");
    run(chan, "typing paused");
    run(bob, "typing done");
    run(home, "typing active #c");
    EXPECT_EQ(sent(), "@+typing=active TAGMSG #c\r\n@+typing=paused TAGMSG #c\r\n@+typing=done TAGMSG bob\r\n"
                      "@+typing=active TAGMSG #c\r\n");

    run(chan, "typing busy");
    run(chan, "typing bob");
    run(home, "typing paused");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(usage_shown(chan, "TYPING"));
    EXPECT_TRUE(usage_shown(home, "TYPING")) << "a server tab names no target";

    g_free(serv->clienttagdeny);
    serv->clienttagdeny = g_strdup("+typing");
    run(chan, "typing");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(chan, "Not connected. Try /server"));
}

// ---- channel commands ------------------------------------------------------------

TEST_F(MsgCommands, ModeGoesToTheTabUnlessAChannelOrTheOwnNickIsNamed)
{
    session *chan = joined("#c", "me bob");
    session *bob = dialog("bob");
    sent();
    run(chan, "mode +o bob");
    run(chan, "mode bob");
    run(chan, "mode");
    run(chan, "mode #other +m");
    run(chan, "mode ME +i");
    run(bob, "mode +x");
    run(home, "mode me -w");
    EXPECT_EQ(sent(), "MODE #c +o bob\r\nMODE #c bob\r\nMODE #c \r\nMODE #other +m\r\nMODE ME +i\r\n"
                      "MODE bob +x\r\nMODE me -w\r\n");
    run(home, "mode");
    EXPECT_EQ(sent(), "");
}

TEST_F(MsgCommands, WallchopNoticesTheOperatorsFiveAtATime)
{
    session *chan = joined("#c", "@a @b @c @d @e @f @me bob +v");
    sent();
    run(chan, "wallchop meeting now");
    EXPECT_EQ(sent(), "NOTICE a,b,c,d,e :[@#c] meeting now\r\nNOTICE f,me :[@#c] meeting now\r\n");

    session *five = joined("#five", "@a @b @c @d @me x");
    sent();
    run(five, "wallchop hi");
    EXPECT_EQ(sent(), "NOTICE a,b,c,d,me :[@#five] hi\r\n") << "no empty second notice";
    run(five, "wallchop");
    EXPECT_EQ(sent(), "");
}

TEST_F(MsgCommands, PartUsesTheDefaultReasonOrARandomLineOfItsFile)
{
    session *chan = joined("#c", "me");
    sent();
    run(chan, "part");
    EXPECT_EQ(sent(), "PART #c :Leaving\r\n");
    run(chan, "part see you");
    EXPECT_EQ(sent(), "PART #c :see you\r\n");
    run(chan, "part #other bye all");
    EXPECT_EQ(sent(), "PART #other :bye all\r\n");

    write_file("partlines", "off to lunch\r\n");
    g_strlcpy(prefs.irc_part_reason, "partlines", sizeof prefs.irc_part_reason);
    run(chan, "part");
    EXPECT_EQ(sent(), "PART #c :off to lunch\r\n");

    run(home, "part");
    EXPECT_EQ(sent(), "") << "the server tab's name is no channel";
    EXPECT_TRUE(usage_shown(home, "PART"));

    // Closing the tab with a reason parts with that reason.
    run(chan, "close gone fishing");
    EXPECT_EQ(sent(), "PART #c :gone fishing\r\n");
}

TEST_F(MsgCommands, JoinCycleTopicInviteNamesAndTheNickService)
{
    session *chan = joined("#c", "me");
    g_strlcpy(chan->key, "sesame", sizeof chan->key);
    sent();
    const std::size_t focused = fe_recorder::calls_named("fe_ctrl_gui").size();
    run(home, "join #new k1");
    run(home, "join #c");
    run(chan, "cycle");
    run(chan, "topic");
    run(chan, "topic a new topic");
    run(chan, "topic #other their topic");
    run(chan, "invite bob");
    run(home, "invite bob #x");
    run(chan, "names");
    run(home, "ghost me pw");
    run(home, "id pw");
    EXPECT_EQ(sent(), "JOIN #new k1\r\nPART #c\r\nJOIN #c sesame\r\nTOPIC #c\r\nTOPIC #c :a new topic\r\n"
                      "TOPIC #other :their topic\r\nINVITE bob #c\r\nINVITE bob #x\r\nNAMES #c\r\n"
                      "NICKSERV GHOST me pw\r\nNICKSERV IDENTIFY pw\r\n");
    EXPECT_EQ(fe_recorder::calls_named("fe_ctrl_gui").size(), focused + 1) << "an open channel is brought to front";

    run(chan, "cycle #notopen");
    run(home, "invite bob");
    run(home, "names");
    run(home, "join");
    EXPECT_EQ(sent(), "");
}

TEST_F(MsgCommands, JoinFromATabThatLostItsChannelWaitsThere)
{
    session *chan = joined("#c", "me");
    recv(":op!u@h KICK #c me :out");
    ASSERT_EQ(std::string(chan->pending_join), "#c");
    sent();
    run(chan, "join #d,#e");
    EXPECT_EQ(sent(), "JOIN #d,#e\r\n");
    EXPECT_EQ(std::string(chan->pending_join), "#d");
}

// ---- away ------------------------------------------------------------------------

TEST_F(MsgCommands, AwayAndBackFollowTheServersState)
{
    run(home, "away");
    EXPECT_EQ(sent(), "AWAY :I'm busy\r\n") << "the configured reason";
    run(home, "away gone fishing");
    EXPECT_EQ(sent(), "AWAY :gone fishing\r\n");
    ASSERT_NE(serv->last_away_text, nullptr);
    EXPECT_STREQ(serv->last_away_text, "gone fishing");

    recv(":irc.test 306 me :You have been marked as being away");
    ASSERT_TRUE(serv->away);
    run(home, "away");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(home, "Already marked away: gone fishing"));
    EXPECT_TRUE(usage_shown(home, "AWAY"));

    run(home, "back");
    EXPECT_EQ(sent(), "AWAY\r\n");
    EXPECT_EQ(serv->last_away_text, nullptr);
    recv(":irc.test 305 me :You are no longer marked as being away");
    run(home, "back");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(home, "Already marked back."));

    write_file("awaylines", "brb\r\n");
    g_strlcpy(prefs.away_reason, "awaylines", sizeof prefs.away_reason);
    run(home, "away");
    EXPECT_EQ(sent(), "AWAY :brb\r\n") << "a random line of the file the setting names, without its CR";
}

TEST_F(MsgCommands, ReconnectingWhileAwayRestoresTheSameReason)
{
    serv->last_away_text = g_strdup("at lunch");
    serv->restore_away = TRUE;
    recv(":irc.test 001 me :Welcome");
    EXPECT_EQ(sent().rfind("AWAY :at lunch\r\n", 0), 0u) << "the stored reason, not the configured one";
    EXPECT_FALSE(serv->restore_away);
}

// ---- the rest --------------------------------------------------------------------

TEST_F(MsgCommands, QuitRemembersItsReasonOnlyForThisQuitAndStops)
{
    serv->disconnect = fake_disconnect;
    EXPECT_FALSE(run(home, "quit see you all"));
    EXPECT_EQ(disconnects, std::vector<std::string>{"see you all"});
    EXPECT_EQ(sent(), "QUIT :see you all\r\n");
    EXPECT_EQ(home->quit_reason, nullptr);

    std::string paste = "/quit\n/msg bob never sent";
    handle_multiline(home, paste.data(), 0, 0);
    EXPECT_EQ(sent(), "QUIT :Leaving\r\n") << "a stop ends the paste";
}

TEST_F(MsgCommands, RecvFeedsTheParserAndQuoteRefusesLineBreaks)
{
    session *chan = joined("#c", "me bob");
    run(chan, "recv :bob!u@h PRIVMSG #c :as if from the server");
    EXPECT_TRUE(shown(chan, "as if from the server"));
    run(home, "recv :bob!u@h PRIVMSG #c :one\r\n:bob!u@h PRIVMSG #c :two");
    EXPECT_TRUE(shown(chan, "one"));
    EXPECT_TRUE(shown(chan, "two"));
    sent();

    run(home, "quote PRIVMSG bob :x\r\nQUIT :smuggled");
    run(home, "quote PRIVMSG bob :x\nQUIT");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(home, "line break"));
    run(home, "quote WHO #c");
    EXPECT_EQ(sent(), "WHO #c\r\n");
}

TEST_F(MsgCommands, QueryMeNickAndEchoWorkOnAndOffline)
{
    session *chan = joined("#c", "me");
    sent();
    run(home, "query -nofocus bob hi bob");
    session *bob = find_dialog(serv, "bob");
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(sent(), "PRIVMSG bob :hi bob\r\n");
    EXPECT_TRUE(shown(bob, "hi bob"));
    run(home, "query #c");
    EXPECT_TRUE(usage_shown(home, "QUERY"));
    serv->cap_echo_message = TRUE;
    const std::size_t before = lines_in(bob);
    run(home, "query bob echoed by the server");
    EXPECT_EQ(sent(), "PRIVMSG bob :echoed by the server\r\n");
    EXPECT_EQ(lines_in(bob), before) << "the echo shows it; shown here too it would appear twice";
    serv->cap_echo_message = FALSE;

    run(chan, "me waves");
    EXPECT_EQ(sent(), "PRIVMSG #c :\001ACTION waves\001\r\n");
    EXPECT_TRUE(shown(chan, "waves"));
    run(home, "me waves");
    EXPECT_TRUE(shown(home, "No channel joined."));

    run(home, "echo just for me");
    EXPECT_TRUE(shown(home, "just for me"));
    EXPECT_EQ(sent(), "");

    run(home, "nick other");
    EXPECT_EQ(sent(), "NICK other\r\n");
    EXPECT_STREQ(serv->nick, "me") << "the server decides";
    serv->connected = FALSE;
    run(home, "nick offline_nick");
    EXPECT_STREQ(serv->nick, "offline_nick");
    run(chan, "me waves");
    run(home, "query carol hi");
    EXPECT_TRUE(shown(chan, "Not connected. Try /server"));
    EXPECT_TRUE(shown(home, "Not connected. Try /server"));
    EXPECT_NE(find_dialog(serv, "carol"), nullptr) << "the dialog opens even offline";
}

} // namespace
