// Scrollback files: what is saved, how it is replayed into a reopened tab,
// the trimming rule, and damaged files.
#include "output/scrollback.h"
#include "text_sessions.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace
{

using fe_recorder::calls_named;

class Scrollback : public TextSessions
{
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

} // namespace

TEST_F(Scrollback, LinesAreReplayedIntoTheReopenedTab)
{
    session *home = network_tab("Libera");
    session *chan = channel(home, "#Lumen");
    text_emit(XP_TE_GENERIC_MESSAGE, chan, "\002al\002", "\00304red", nullptr, nullptr, 1700000000);
    PrintTextTimeStamp(chan, "second\n", 1700000060);
    EXPECT_EQ(read(file("libera", "#lumen")), "T 1700000000 \002al\002\t\00304red\nT 1700000060 second\n");
    struct stat sb {
    };
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
    PrintText(home, "server tab line\n"); // gui_tab_server is on
    session *off = channel(home, "#off");
    off->text_scrollback = SET_OFF;
    PrintText(off, "not kept\n");
    prefs.text_replay = 0;
    session *global_off = channel(home, "#global");
    PrintText(global_off, "not kept\n");
    global_off->text_scrollback = SET_ON; // the channel's own choice wins
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
    struct stat before {
    };
    stat(file("net", "#c").c_str(), &before);

    PrintText(chan, "line 101\n");
    std::vector<std::string> lines = lines_of(read(file("net", "#c")));
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front(), "T 1700000000 old 2");
    EXPECT_NE(lines.back().find("line 101"), std::string::npos);
    EXPECT_EQ(chan->scrollback_lines, 1);
    // Written aside and renamed into place, private, nothing left behind.
    struct stat after {
    };
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

// The file stays open between lines, so these tests also check that an open
// descriptor never outlives the file it was opened on or the tab that owns it.
namespace
{

// How many of this process's descriptors point into `dir`.
int open_descriptors_below(const std::string &dir)
{
    int n = 0;
    GDir *d = g_dir_open("/proc/self/fd", 0, nullptr);
    if (!d)
        return -1;
    while (const char *name = g_dir_read_name(d)) {
        char *target = g_file_read_link((std::string("/proc/self/fd/") + name).c_str(), nullptr);
        if (target && g_str_has_prefix(target, dir.c_str()))
            n++;
        g_free(target);
    }
    g_dir_close(d);
    return n;
}

} // namespace

TEST_F(Scrollback, TheFileIsHeldOpenOnlyWhileTheTabSavesIntoIt)
{
    session *home = network_tab("Net");
    session *chan = channel(home, "#c");
    const std::string below = path("scrollback/");
    for (int i = 0; i < 50; i++)
        PrintTextTimeStamp(chan, ("line " + std::to_string(i) + "\n").c_str(), 1700000000 + i);
    EXPECT_EQ(open_descriptors_below(below), 1);
    const std::vector<std::string> lines = lines_of(read(file("net", "#c")));
    ASSERT_EQ(lines.size(), 50u);
    EXPECT_EQ(lines[0], "T 1700000000 line 0");
    EXPECT_EQ(lines[49], "T 1700000049 line 49");

    // Switched off for the tab: let go with the next line, which is not kept.
    chan->text_scrollback = SET_OFF;
    PrintText(chan, "not kept\n");
    EXPECT_EQ(open_descriptors_below(below), 0);
    chan->text_scrollback = SET_ON;
    PrintText(chan, "kept again\n");
    EXPECT_EQ(open_descriptors_below(below), 1);
    EXPECT_EQ(read(file("net", "#c")).find("not kept"), std::string::npos);
    EXPECT_EQ(lines_of(read(file("net", "#c"))).size(), 51u);

    // The trim renames a new file into place: the old descriptor must go.
    prefs.text_max_lines = 10;
    PrintText(chan, "trimmed\n");
    EXPECT_EQ(open_descriptors_below(below), 0);
    EXPECT_EQ(lines_of(read(file("net", "#c"))).size(), 10u);
    PrintText(chan, "after the trim\n");
    EXPECT_EQ(lines_of(read(file("net", "#c"))).back().substr(13), "after the trim");

    session_free(chan);
    EXPECT_EQ(open_descriptors_below(below), 0);
}

TEST_F(Scrollback, ADeletedOrReplacedFileIsFollowedByTheNextLine)
{
    session *home = network_tab("Net");
    session *chan = channel(home, "#c");
    PrintText(chan, "first\n");

    // Deleted with its directory while the tab is open: found out within a
    // second.
    ASSERT_EQ(system(("rm -rf '" + path("scrollback/net") + "'").c_str()), 0);
    const time_t start = time(nullptr);
    while (time(nullptr) == start)
        g_usleep(20000);
    PrintTextTimeStamp(chan, "into a new file\n", 1700000000);
    EXPECT_EQ(read(file("net", "#c")), "T 1700000000 into a new file\n");

    // Two connections to one network share the channel's file; one's trim
    // replaces the file under the other's open descriptor.
    session *home2 = network_tab("Net");
    session *twin = channel(home2, "#c");
    prefs.text_max_lines = 2;
    chan->scrollback_lines = 0;
    twin->scrollback_lines = 5;
    PrintTextTimeStamp(chan, "from one\n", 1700000001);
    PrintTextTimeStamp(twin, "from the twin\n", 1700000002); // trims to 2 lines
    PrintTextTimeStamp(chan, "one again\n", 1700000003);
    EXPECT_EQ(read(file("net", "#c")), "T 1700000001 from one\n"
                                       "T 1700000002 from the twin\n"
                                       "T 1700000003 one again\n");

    // A renamed tab (a dialog after a nick change) saves into its new file.
    session *dialog = new_ircwindow(home->server, "alice", SESS_DIALOG, 0);
    PrintTextTimeStamp(dialog, "to alice\n", 1700000004);
    safe_strcpy(dialog->channel, "alice_away", sizeof dialog->channel);
    PrintTextTimeStamp(dialog, "to alice_away\n", 1700000005);
    EXPECT_EQ(read(file("net", "alice")), "T 1700000004 to alice\n");
    EXPECT_EQ(read(file("net", "alice_away")), "T 1700000005 to alice_away\n");
}

TEST_F(Scrollback, ATornLastLineIsNeverJoinedToTheNextRecord)
{
    session *home = network_tab("Net");
    g_mkdir_with_parents(path("scrollback/net").c_str(), 0700);
    write(file("net", "#c"), "T 1700000000 whole\nT 1700000001 cut sho");
    session *chan = channel(home, "#c");
    PrintTextTimeStamp(chan, "next\n", 1700000002);
    PrintTextTimeStamp(chan, "and next\n", 1700000003);
    EXPECT_EQ(read(file("net", "#c")), "T 1700000000 whole\nT 1700000001 cut sho\n"
                                       "T 1700000002 next\nT 1700000003 and next\n");
}

TEST_F(Scrollback, AFailedWriteClosesTheFileAndIsReportedOnce)
{
    session *home = network_tab("Net");
    g_mkdir_with_parents(path("scrollback/net").c_str(), 0700);
    const std::string first = "T 1700000000 first\n";
    write(file("net", "#c"), first);
    session *chan = channel(home, "#c");
    fe_recorder::reset();

    // A file-size limit at the file's size makes every append fail (EFBIG),
    // as a full disk would.
    struct rlimit saved {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = saved;
    tight.rlim_cur = first.size();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    PrintText(chan, "lost one\n");
    PrintText(chan, "lost two\n");
    const int open_while_failing = open_descriptors_below(path("scrollback/"));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    signal(SIGXFSZ, old_handler);

    EXPECT_EQ(open_while_failing, 0);
    const std::vector<std::string> reports = fe_recorder::messages();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(file("net", "#c")), std::string::npos) << reports[0];
    EXPECT_EQ(chan->scrollback_lines, 1) << "only the replayed line is counted";
    // The lines themselves were still shown.
    EXPECT_TRUE(fe_recorder::was_shown(chan, "lost one"));
    EXPECT_TRUE(fe_recorder::was_shown(chan, "lost two"));

    // Room again: the next line opens the file afresh.
    PrintTextTimeStamp(chan, "saved\n", 1700000001);
    EXPECT_EQ(read(file("net", "#c")), first + "T 1700000001 saved\n");
    EXPECT_EQ(chan->scrollback_lines, 2);
}

TEST_F(Scrollback, SomethingOtherThanAFileAtThePathIsNeitherReadNorWritten)
{
    session *home = network_tab("Net");
    g_mkdir_with_parents(path("scrollback/net").c_str(), 0700);
    // A FIFO would block the read at the tab's opening and the first write
    // that fills it; a device like /dev/zero would never end a read.
    ASSERT_EQ(mkfifo(file("net", "#fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", file("net", "#zero").c_str()), 0);
    for (const char *name : {"#fifo", "#zero"}) {
        fe_recorder::reset();
        session *chan = channel(home, name);
        EXPECT_TRUE(replayed().empty()) << name;
        for (int i = 0; i < 5000; i++)
            PrintText(chan, "a line long enough to fill a pipe buffer before long, had it been written\n");
        EXPECT_EQ(chan->scrollback_lines, 0) << name;
        EXPECT_EQ(open_descriptors_below(path("scrollback/")), 0) << name;
    }
}

TEST_F(Scrollback, ManyChannelsShareABoundedNumberOfOpenFiles)
{
    session *home = network_tab("Net");
    std::vector<session *> chans;
    for (int i = 0; i < 100; i++)
        chans.push_back(channel(home, ("#c" + std::to_string(i)).c_str()));
    for (int round = 0; round < 2; round++) {
        for (session *c : chans)
            PrintTextTimeStamp(c, ("round " + std::to_string(round) + "\n").c_str(), 1700000000 + round);
    }
    const int open_now = open_descriptors_below(path("scrollback/"));
    EXPECT_GT(open_now, 0);
    EXPECT_LE(open_now, 64);
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(read(file("net", ("#c" + std::to_string(i)).c_str())), "T 1700000000 round 0\nT 1700000001 round 1\n")
            << i;
    for (session *c : chans)
        session_free(c);
    EXPECT_EQ(open_descriptors_below(path("scrollback/")), 0);
}
