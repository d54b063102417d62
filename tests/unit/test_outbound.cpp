// The command language as the user types it: what is said and what is run,
// user commands and their limits, how long lines are cut into messages,
// the raw fallback, /HELP and the input history.
#include "irc_lines.h"

#include "base/history.h"
#include "commands/outbound.h"
#include "config/list.h"
#include "irc/userlist.h"
#include "servlist/servlist.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>

namespace
{

class Dispatch : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        chan = channel("#c");
        sent();
    }
    void TearDown() override
    {
        list_free(&command_list);
        IrcLines::TearDown();
    }

    // Typed into the input line of `sess`, as Enter hands it over.
    void type(session *sess, std::string text, bool history = false)
    {
        handle_multiline(sess, text.data(), history, 0);
    }
    void user_command(const char *name, const char *text) { list_addentry(&command_list, text, name); }
    static std::string privmsg(const std::string &target, const std::string &text)
    {
        return "PRIVMSG " + target + " :" + text + "\r\n";
    }

    session *chan = nullptr;
};

// ---- said or run -----------------------------------------------------------------------

TEST_F(Dispatch, TypedLinesAreSaidUnlessTheyAreCommands)
{
    type(chan, "//help");
    EXPECT_EQ(sent(), privmsg("#c", "/help"));

    type(chan, "/usr/bin is here");
    EXPECT_EQ(sent(), privmsg("#c", "/usr/bin is here"));

    // Only the first word counts: a slash later on does not make it a path.
    type(chan, "/FOO a/b");
    EXPECT_EQ(sent(), "FOO a/b\r\n");

    std::string text = "/notacommand";
    handle_multiline(chan, text.data(), 0, 1);
    EXPECT_EQ(sent(), privmsg("#c", "/notacommand"));
}

TEST_F(Dispatch, PastedLinesRunInOrderAndAStopEndsThePaste)
{
    static int disconnects;
    disconnects = 0;
    serv->disconnect = [](session *, int, int) { disconnects++; };

    type(chan, "one\r\n\r\n/FOO x\ntwo\n/quit bye\nthree\n/FOO y");
    EXPECT_EQ(sent(), privmsg("#c", "one") + "FOO x\r\n" + privmsg("#c", "two"));
    EXPECT_EQ(disconnects, 1);
}

TEST_F(Dispatch, UnknownCommandGoesRawWhileConnectedOnly)
{
    type(chan, "/FOO bar  baz");
    EXPECT_EQ(sent(), "FOO bar  baz\r\n");

    serv->connected = FALSE;
    type(chan, "/FOO bar");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(chan, "Unknown Command FOO. Try /help"));
}

TEST_F(Dispatch, CommandsThatNeedAServerOrChannelSayWhy)
{
    session *bare = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    ASSERT_EQ(bare->channel[0], 0);
    handle_command(bare, std::string("kick bob").data(), true);
    EXPECT_TRUE(shown(bare, "Not connected. Try /server <host> [<port>]"));
    bare->server->connected = TRUE;
    handle_command(bare, std::string("kick bob").data(), true);
    EXPECT_TRUE(shown(bare, "No channel joined. Try /join #<channel>"));
    bare->server->connected = FALSE;
}

TEST_F(Dispatch, PercentCodesAreConvertedWhenTheSettingIsOn)
{
    prefs.input_perc_color = 1;
    prefs.input_perc_ascii = 1;
    type(chan, "%Bbold%O %065");
    type(chan, "/FOO %Ux");
    EXPECT_EQ(sent(), privmsg("#c", "\002bold\017 A") + "FOO \037x\r\n");

    prefs.input_perc_color = 0;
    type(chan, "%Bplain");
    EXPECT_EQ(sent(), privmsg("#c", "%Bplain"));
}

// ---- user commands ----------------------------------------------------------------------

TEST_F(Dispatch, UserCommandTakesItsArguments)
{
    user_command("hi", "say hello %2");
    type(chan, "/hi bob");
    EXPECT_EQ(sent(), privmsg("#c", "hello bob"));

    type(chan, "/hi");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(chan, "Bad arguments for user command."));

    // Every entry of the name runs, a failing one does not stop the next.
    user_command("hi", "say again &2");
    type(chan, "/HI bob and carol");
    EXPECT_EQ(sent(), privmsg("#c", "hello bob") + privmsg("#c", "again bob and carol"));
}

TEST_F(Dispatch, UserCommandSeesTheChannelNetworkAndNick)
{
    user_command("where", "say %c %e %n");
    type(chan, "/where");
    EXPECT_EQ(sent(), privmsg("#c", "#c irc.test me"));
}

TEST_F(Dispatch, SelfCallingUserCommandStopsAtTheNestingLimit)
{
    user_command("loop", "loop");
    type(chan, "/loop");
    const auto msgs = fe_recorder::messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].find("Too many recursive usercommands, aborting."), std::string::npos);
}

TEST_F(Dispatch, UserCommandsThatFanOutAreCappedPerLine)
{
    // Two entries each running both again: 2^100 runs without a cap.
    user_command("fan", "fan");
    user_command("fan", "fan");
    const auto start = std::chrono::steady_clock::now();
    type(chan, "/fan");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(shown(chan, "Too many user commands run for one line"));

    // The next line starts afresh.
    user_command("hi", "say hi");
    type(chan, "/hi");
    EXPECT_EQ(sent(), privmsg("#c", "hi"));
}

TEST_F(Dispatch, QuotedArgumentsGroupOnlyForCommandsThatHandleQuotes)
{
    // A user command named like a built-in takes that command's splitting.
    user_command("show", "say [%2] [%3]");
    user_command("part", "say [%2] [%3]");
    type(chan, "/show \"a b\" \"say \"\"hi\"\"\"");
    EXPECT_EQ(sent(), privmsg("#c", "[a b] [say \"hi\"]"));
    type(chan, "/part \"a b\" c");
    EXPECT_EQ(sent(), privmsg("#c", "[\"a] [b\"]"));
}

TEST_F(Dispatch, RawLinesRefuseInjectedLineBreaks)
{
    user_command("inj", "FOO a%013%010QUIT :gone");
    type(chan, "/inj");
    user_command("inj2", "quote PRIVMSG #c :x%010QUIT");
    type(chan, "/inj2");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(chan, "cannot contain line breaks"));
}

TEST_F(Dispatch, UserCommandCutToFitRunsOnlyWhatFit)
{
    user_command("big", "say &2");
    std::string arg(3000, 'x');
    type(chan, "/big " + arg);
    std::string said;
    for (const std::string &piece : {sent()}) {
        std::size_t at = 0;
        while ((at = piece.find("PRIVMSG #c :", at)) != std::string::npos) {
            at += 12;
            const std::size_t end = piece.find("\r\n", at);
            said += piece.substr(at, end - at);
        }
    }
    EXPECT_EQ(said, std::string(USER_COMMAND_SIZE - 1 - 4, 'x'));
}

// ---- saying text ------------------------------------------------------------------------

TEST_F(Dispatch, LongLineIsSentInTwoMessagesCutAtANearbySpace)
{
    // Room: 435 - (13 + "#c" + "me") = 418 bytes.
    const std::string first = std::string(400, 'a') + " ";
    const std::string second(199, 'b');
    type(chan, first + second);
    EXPECT_EQ(sent(), privmsg("#c", first) + privmsg("#c", second));

    // A space 19 bytes before the end is too far back: cut at the room.
    const std::string far = std::string(399, 'a') + " " + std::string(200, 'b');
    EXPECT_EQ(split_up_text(chan, far.c_str(), 13), far.substr(0, 418));
    EXPECT_EQ(split_up_text(chan, far.substr(0, 418).c_str(), 13), "");
}

TEST_F(Dispatch, SplitNeverCutsAUtf8Character)
{
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "\xc3\xa9"; // é
    const std::string piece = split_up_text(chan, text.c_str(), 13);
    EXPECT_EQ(piece.size(), 418u);
    EXPECT_TRUE(g_utf8_validate(piece.c_str(), -1, nullptr));

    const std::string odd = "x" + text;
    EXPECT_EQ(split_up_text(chan, odd.c_str(), 13).size(), 417u);
}

TEST_F(Dispatch, SplitWithNoRoomStillAdvances)
{
    const std::string host = "u@" + std::string(600, 'h');
    userlist_add(chan, "me", host.c_str(), nullptr, nullptr, nullptr);
    if (!chan->own_user)
        chan->own_user = userlist_find(chan, "me");
    ASSERT_NE(chan->own_user, nullptr);
    ASSERT_NE(chan->own_user->hostname, nullptr);

    EXPECT_EQ(split_up_text(chan, "ab", 13), "a");
    EXPECT_EQ(split_up_text(chan, "\xc3\xa9z", 13), "\xc3\xa9");
    EXPECT_EQ(split_up_text(chan, "\xe2\x82\xac", 13), "");

    type(chan, "h\xc3\xa9y");
    EXPECT_EQ(sent(), privmsg("#c", "h") + privmsg("#c", "\xc3\xa9") + privmsg("#c", "y"));
}

TEST_F(Dispatch, OwnMessageShownUnlessTheServerEchoesIt)
{
    type(chan, "hello");
    EXPECT_TRUE(shown(chan, "hello"));
    EXPECT_EQ(sent(), privmsg("#c", "hello"));

    serv->cap_echo_message = TRUE;
    type(chan, "echoed");
    EXPECT_FALSE(shown(chan, "echoed"));
    EXPECT_EQ(sent(), privmsg("#c", "echoed"));
}

TEST_F(Dispatch, SayingNeedsAChannelAndAConnection)
{
    type(home, "hello");
    EXPECT_TRUE(shown(home, "No channel joined. Try /join #<channel>"));
    serv->connected = FALSE;
    type(chan, "hello");
    EXPECT_TRUE(shown(chan, "Not connected. Try /server <host> [<port>]"));
    EXPECT_EQ(sent(), "");
}

TEST_F(Dispatch, NickServPasswordIsShownMasked)
{
    session *ns = dialog("NickServ");
    type(ns, "IDENTIFY hunter2");
    EXPECT_EQ(sent(), privmsg("NickServ", "IDENTIFY hunter2"));
    EXPECT_TRUE(shown(ns, "identify ****"));
    for (const auto &line : fe_recorder::printed_text())
        EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
}

TEST_F(Dispatch, NickCompletionPicksExactElseShortest)
{
    prefs.completion_auto = 1;
    g_strlcpy(prefs.completion_suffix, ":", sizeof prefs.completion_suffix);
    for (const char *nick : {"alicia", "alice", "al", "ali{x}"})
        userlist_add(chan, nick, nullptr, nullptr, nullptr, nullptr);
    type(chan, "alic: hi");
    type(chan, "AL: exact");
    type(chan, "ALI[: folded");
    type(chan, "zed: nobody");
    EXPECT_EQ(sent(), privmsg("#c", "alice: hi") + privmsg("#c", "al: exact") + privmsg("#c", "ali{x}: folded") +
                          privmsg("#c", "zed: nobody"));

    prefs.completion_auto = 0;
    type(chan, "alic: off");
    EXPECT_EQ(sent(), privmsg("#c", "alic: off"));
}

TEST_F(Dispatch, LastlogTabSearchesItsSourceAgain)
{
    session *results = dialog("(lastlog)");
    results->search_results_session = chan;
    results->search_flags = 5;
    fe_recorder::reset();
    type(results, "needle");
    EXPECT_EQ(sent(), "");
    ASSERT_EQ(fe_recorder::count("fe_lastlog"), 1);
    const auto call = fe_recorder::calls_named("fe_lastlog")[0];
    EXPECT_EQ(call.sess, chan);
    EXPECT_NE(call.args.find("needle"), std::string::npos);
    EXPECT_EQ(fe_recorder::count("fe_text_clear"), 1);
}

// ---- help and the table -----------------------------------------------------------------

TEST_F(Dispatch, HelpListsNamesFivePerLine)
{
    user_command(".hidden", "say no");
    user_command("greet", "say hi");
    handle_command(chan, std::string("help").data(), true);
    const auto printed = fe_recorder::printed(chan);
    auto has = [&](const std::string &text) {
        return std::find(printed.begin(), printed.end(), text) != printed.end();
    };
    EXPECT_TRUE(has("\nCommands Available:\n\n"));
    EXPECT_TRUE(has("  ADDBUTTON ADDSERVER ALLCHAN   ALLCHANL  ALLSERV   \n"));
    EXPECT_TRUE(has("\nUser defined commands:\n\n"));
    EXPECT_TRUE(has("\nType /HELP <command> for more information, or /HELP -l\n\n"));
    // 98 names, five a line: the last built-in line holds three.
    EXPECT_TRUE(has("  USERLIST  VOICE     WALLCHOP  \n"));
    for (const auto &line : printed)
        EXPECT_EQ(line.find(".HIDDEN"), std::string::npos);

    fe_recorder::reset();
    handle_command(chan, std::string("help -l").data(), true);
    const auto longer = fe_recorder::printed(chan);
    EXPECT_NE(std::find(longer.begin(), longer.end(), "   \0034DEBUG\003 :\n"), longer.end());
    EXPECT_NE(std::find(longer.begin(), longer.end(),
                        "   \0034OP\003 : OP <nick>, gives chanop status to the nick (needs chanop)\n"),
              longer.end());
}

TEST_F(Dispatch, HelpForOneCommand)
{
    user_command("greet", "say hi %2");
    handle_command(chan, std::string("help greet").data(), true);
    EXPECT_TRUE(shown(chan, "User Command for: say hi %2"));
    handle_command(chan, std::string("help join").data(), true);
    EXPECT_TRUE(shown(chan, "Usage: JOIN <channel>, joins the channel"));
    handle_command(chan, std::string("help debug").data(), true);
    EXPECT_TRUE(shown(chan, "No help available on that command."));
    handle_command(chan, std::string("help nosuch").data(), true);
    EXPECT_TRUE(shown(chan, "No such command."));
}

TEST(CommandTable, SortedWithTheDocumentedFlags)
{
    // S needs a server, C needs a channel, - splits without quote handling.
    const std::string rows =
        "ADDBUTTON, ADDSERVER, ALLCHAN, ALLCHANL, ALLSERV, AWAY (S), BACK (S), BAN (SC), CHANOPT, CHARSET, CLEAR, "
        "CLOSE, COUNTRY, CTCP (S), CYCLE (SC), DCC, DEBUG, DEHOP (SC), DELBUTTON, DEOP (SC), DEVOICE (SC), DISCON, "
        "DNS, DOAT, ECHO, EXEC, EXECCONT, EXECKILL, EXECSTOP, EXECWRITE, FLUSHQ, GATE, GETBOOL, GETFILE, GETINT, "
        "GETSTR, GHOST (S), GUI, HELP, HOP (SC), ID (S), IGNORE, INVITE (S), JOIN (S-), KICK (SC), KICKBAN (SC), "
        "KILLALL, LAGCHECK, LASTLOG, LIST (S), LOAD, MDEHOP (SC), MDEOP (SC), ME, MENU, MHOP (SC), MKICK (SC), "
        "MODE (S), MOP (SC), MSG, NAMES (S), NCTCP (S), NEWSERVER, NICK, NOTICE (S), NOTIFY, OP (SC), PART (SC-), "
        "PING (S), QUERY, QUIET (SC), QUIT, QUOTE (S), RECONNECT, RECV (S), RELOAD, REPLY, SAY, SEND, SERVCHAN, "
        "SERVER, SET, SETCURSOR, SETTAB, SETTEXT, SPLAY, TOPIC (SC), TRAY, TYPING, UNBAN (SC), UNIGNORE, UNLOAD, "
        "UNQUIET (SC), URL, USELECT (C-), USERLIST (SC), VOICE (SC), WALLCHOP (SC)";
    std::map<std::string, std::string> expected;
    gchar **items = g_strsplit(rows.c_str(), ", ", -1);
    for (gchar **it = items; *it; it++) {
        std::string item = *it;
        const auto paren = item.find(" (");
        expected[item.substr(0, paren)] =
            paren == std::string::npos ? "" : item.substr(paren + 2, item.size() - paren - 3);
    }
    g_strfreev(items);

    ASSERT_EQ(xc_cmds_count, 98);
    ASSERT_EQ(expected.size(), 98u);
    for (int i = 0; i < xc_cmds_count; i++) {
        const commands &row = xc_cmds[i];
        if (i > 0) {
            EXPECT_LT(g_ascii_strcasecmp(xc_cmds[i - 1].name, row.name), 0) << row.name;
        }
        ASSERT_EQ(expected.count(row.name), 1u) << row.name;
        const std::string &flags = expected[row.name];
        EXPECT_EQ(row.needserver != 0, flags.find('S') != std::string::npos) << row.name;
        EXPECT_EQ(row.needchannel != 0, flags.find('C') != std::string::npos) << row.name;
        EXPECT_EQ(row.handle_quotes != 0, flags.find('-') == std::string::npos) << row.name;
        EXPECT_EQ(find_internal_command(row.name), &row);
        gchar *lower = g_ascii_strdown(row.name, -1);
        EXPECT_EQ(find_internal_command(lower), &row);
        g_free(lower);
        const std::string name = row.name;
        const bool no_help =
            name == "DEBUG" || name == "HELP" || name == "LIST" || name == "MODE" || name == "USERLIST";
        EXPECT_EQ(row.help == nullptr, no_help) << row.name;
    }
}

// ---- files and variables ----------------------------------------------------------------

TEST_F(Dispatch, PerformFileRunsEachLine)
{
    // An overlong line is cut at 1023 bytes; its tail is not run as a command.
    write_file("perform.txt", "/FOO a\n\nBAR b\r\n/" + std::string(1100, 'Z') + " BAZ tail\nQUX c");
    EXPECT_EQ(load_perform_file(chan, "perform.txt"), 1);
    const std::string out = sent();
    EXPECT_EQ(out.rfind("FOO a\r\nBAR b\r\nZZZZ", 0), 0u) << out;
    EXPECT_EQ(out.find("BAZ"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 7), "QUX c\r\n");
    EXPECT_EQ(load_perform_file(chan, "missing.txt"), 0);
}

TEST_F(Dispatch, ConnectCommandVariablesComeFromTheNetwork)
{
    std::string text = "msg x %n %u %r %p %q %";
    EXPECT_EQ(command_insert_vars(home, text.c_str()), text);

    ircnet *net = servlist_net_add("TestNet", false);
    net->flags = 0;
    net->nick = g_strdup("netnick");
    net->user_name = g_strdup("netuser");
    g_strlcpy(serv->password, "pw", sizeof serv->password);
    serv->network = net;
    g_strlcpy(prefs.irc_real_name, "Global Name", sizeof prefs.irc_real_name);
    EXPECT_EQ(command_insert_vars(home, text.c_str()), "msg x netnick netuser Global Name pw %q %");
    serv->network = nullptr;
    servlist_net_remove(net);
}

TEST_F(Dispatch, QuitReasonFileGivesOneCleanLine)
{
    // The overlong line counts once, cut; its tail is not a line of its own.
    write_file("quits.txt", "first reason\r\n" + std::string(600, 'q') + "TAIL\n");
    g_strlcpy(prefs.irc_quit_reason, "quits.txt", sizeof prefs.irc_quit_reason);
    std::map<std::string, int> seen;
    for (int i = 0; i < 40; i++) {
        server_sendquit(chan);
        seen[sent()]++;
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.count("QUIT :first reason\r\n"), 1u);
    for (const auto &[line, n] : seen)
        EXPECT_EQ(line.find("TAIL"), std::string::npos);

    // A FIFO is not read (opening it would wait for a writer).
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    g_strlcpy(prefs.irc_quit_reason, "pipe", sizeof prefs.irc_quit_reason);
    server_sendquit(chan);
    EXPECT_EQ(sent(), "QUIT :pipe\r\n");
}

// ---- input history ----------------------------------------------------------------------

TEST(InputHistory, BrowsesBackAndForthKeepingTheDraft)
{
    history h{};
    EXPECT_EQ(history_up(&h, ""), nullptr);
    history_add(&h, "one");
    history_add(&h, "two");
    EXPECT_STREQ(history_up(&h, "draft"), "two");
    EXPECT_STREQ(history_up(&h, "two"), "one");
    EXPECT_EQ(history_up(&h, "one"), nullptr);
    EXPECT_STREQ(history_down(&h), "two");
    EXPECT_STREQ(history_down(&h), "draft");
    EXPECT_STREQ(history_down(&h), "");
    EXPECT_EQ(history_down(&h), nullptr);
    history_free(&h);
    EXPECT_EQ(history_up(&h, ""), nullptr);
}

TEST(InputHistory, FullRingKeepsTheNewestLines)
{
    history h{};
    for (int i = 0; i < 250; i++)
        history_add(&h, std::to_string(i).c_str());
    int steps = 0;
    const char *last = nullptr;
    while (const char *line = history_up(&h, ""))
        last = line, steps++;
    // The head slot is the one the next line overwrites: 99 lines browse.
    EXPECT_EQ(steps, HISTORY_SIZE - 1);
    EXPECT_STREQ(last, "151");
    history_free(&h);
}

TEST_F(Dispatch, TypedLinesGoToTheSessionHistory)
{
    type(chan, "first\n/FOO x", true);
    EXPECT_STREQ(history_up(&chan->input_history, ""), "/FOO x");
    EXPECT_STREQ(history_up(&chan->input_history, ""), "first");
}

} // namespace
