// Scrollback files: what is saved, how it is replayed into a reopened tab,
// the trimming rule, and damaged files.
#include "scrollback.h"
#include "text_sessions.h"

#include <sys/stat.h>

namespace {

using fe_recorder::calls_named;

class Scrollback : public TextSessions {
protected:
    void SetUp() override
    {
        TextSessions::SetUp();
        prefs.irc_logging = 0;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    // The replay calls of the last reopening, as the recorder logged them.
    static std::vector<std::string> replayed()
    {
        std::vector<std::string> out;
        for (const auto &c : calls_named("fe_print_text"))
            if (c.args.find("no_activity") != std::string::npos)
                out.push_back(c.args);
        return out;
    }
    std::string file(const char *network, const char *chan) const
    {
        return path(std::string("scrollback/") + network + "/" + chan + ".txt");
    }
};

}  // namespace

TEST_F(Scrollback, LinesAreReplayedIntoTheReopenedTab)
{
    session *home = network_tab("Libera");
    session *chan = channel(home, "#Lumen");
    text_emit(XP_TE_GENERIC_MESSAGE, chan, "\002al\002", "\00304red", nullptr, nullptr, 1700000000);
    PrintTextTimeStamp(chan, "second\n", 1700000060);
    EXPECT_EQ(read(file("libera", "#lumen")),
              "T 1700000000 \002al\002\t\00304red\nT 1700000060 second\n");
    struct stat sb {};
    ASSERT_EQ(stat(file("libera", "#lumen").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u);

    session_free(chan);
    fe_recorder::reset();
    chan = channel(home, "#lumen");
    // Colours go (text_stripcolor_replay), bold stays; no activity is marked.
    EXPECT_EQ(replayed(), (std::vector<std::string>{
                              "#lumen, \"\\x02al\\x02\\tred\", stamp=1700000000, no_activity",
                              "#lumen, \"second\", stamp=1700000060, no_activity",
                              "#lumen, \"\\n*\\tLoaded log from Tue Nov 14 22:14:20 2023\\n\\n\", no_activity",
                          }));
    EXPECT_EQ(chan->scrollback_lines, 2);

    prefs.text_stripcolor_replay = 0;
    session_free(chan);
    fe_recorder::reset();
    channel(home, "#lumen");
    EXPECT_EQ(replayed()[0], "#lumen, \"\\x02al\\x02\\t\\x0304red\", stamp=1700000000, no_activity");
}

TEST_F(Scrollback, SwitchedOffServerTabsAndUnknownNetworksKeepNothing)
{
    session *home = network_tab("Net");
    PrintText(home, "server tab line\n");  // gui_tab_server is on
    session *off = channel(home, "#off");
    off->text_scrollback = SET_OFF;
    PrintText(off, "not kept\n");
    prefs.text_replay = 0;
    session *global_off = channel(home, "#global");
    PrintText(global_off, "not kept\n");
    global_off->text_scrollback = SET_ON;  // the channel's own choice wins
    PrintText(global_off, "kept\n");

    session *nameless = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    PrintText(channel(nameless, "#c"), "no network\n");

    EXPECT_FALSE(g_file_test(file("net", "net").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(g_file_test(file("net", "#off").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(read(file("net", "#global")).find("not kept"), std::string::npos);
    EXPECT_NE(read(file("net", "#global")).find("kept"), std::string::npos);
    EXPECT_EQ(lines_of(read(file("net", "#global"))).size(), 1u);
}

TEST_F(Scrollback, TrimKeepsTheNewestLinesAndCountsWhatWasDropped)
{
    prefs.text_max_lines = 100;
    session *chan = channel(network_tab("Net"), "#c");
    std::string content;
    for (int i = 1; i <= 100; i++)
        content += "T 1700000000 old " + std::to_string(i) + "\n";
    write(file("net", "#c"), content);
    chan->scrollback_lines = 100;
    struct stat before {};
    stat(file("net", "#c").c_str(), &before);

    PrintText(chan, "line 101\n");
    std::vector<std::string> lines = lines_of(read(file("net", "#c")));
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front(), "T 1700000000 old 2");
    EXPECT_NE(lines.back().find("line 101"), std::string::npos);
    EXPECT_EQ(chan->scrollback_lines, 1);
    // Written aside and renamed into place, private, nothing left behind.
    struct stat after {};
    stat(file("net", "#c").c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    EXPECT_FALSE(g_file_test((file("net", "#c") + ".new").c_str(), G_FILE_TEST_EXISTS));

    // The next trim waits until the counter is at the limit again.
    for (int i = 0; i < 99; i++)
        PrintText(chan, "more\n");
    EXPECT_EQ(lines_of(read(file("net", "#c"))).size(), 199u);
    PrintText(chan, "last\n");
    lines = lines_of(read(file("net", "#c")));
    EXPECT_EQ(lines.size(), 100u);
    EXPECT_NE(lines.back().find("last"), std::string::npos);
}

TEST_F(Scrollback, DamagedLinesAreSkippedAndOddTimesNeverCrash)
{
    session *home = network_tab("Net");
    g_mkdir_with_parents(path("scrollback/net").c_str(), 0700);
    write(file("net", "#c"), "T 0 zero stamp\r\n"
                             "T abc not a number\r\n"
                             "T 1700000000 ok\r\n"
                             "plain line\r"
                             "\r\n"
                             "bad \xff utf8\n"
                             "T 1700000001 \n"
                             "T 99999999999999999 far future");
    session *chan = channel(home, "#c");
    EXPECT_EQ(replayed(), (std::vector<std::string>{
                              "#c, \"ok\", stamp=1700000000, no_activity",
                              "#c, \"plain line\", no_activity",
                              "#c, \"  \", no_activity",
                              "#c, \"  \", stamp=1700000001, no_activity",
                              "#c, \"far future\", stamp=99999999999999999, no_activity",
                              "#c, \"\\n*\\tLoaded log from 99999999999999999\\n\\n\", no_activity",
                          }));
    EXPECT_EQ(chan->scrollback_lines, 5);
}
