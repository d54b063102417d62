// Conversation logs: where they are written, what they hold, how they follow
// the clock and deleted files, and that no name can move them elsewhere.
#include "output/log.h"
#include "text_sessions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace
{

// Every regular file below `root`, relative to it.
std::vector<std::string> files_below(const std::string &root, const std::string &prefix = "")
{
    std::vector<std::string> out;
    GDir *d = g_dir_open((root + prefix).c_str(), 0, nullptr);
    if (!d)
        return out;
    while (const char *name = g_dir_read_name(d)) {
        const std::string rel = prefix + "/" + name;
        if (g_file_test((root + rel).c_str(), G_FILE_TEST_IS_DIR)) {
            for (std::string &f : files_below(root, rel))
                out.push_back(std::move(f));
        } else {
            out.push_back(rel);
        }
    }
    g_dir_close(d);
    return out;
}

std::string local_time(const char *format, time_t when)
{
    char buf[128];
    struct tm tm_when;
    localtime_r(&when, &tm_when);
    strftime(buf, sizeof buf, format, &tm_when);
    return buf;
}

void wait_for_next_second()
{
    const time_t start = time(nullptr);
    while (time(nullptr) == start)
        g_usleep(20000);
}

class Logs : public TextSessions
{
  protected:
    void SetUp() override
    {
        TextSessions::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void say(session *sess, const char *text, time_t stamp = 0)
    {
        text_emit(XP_TE_CHANNEL_MESSAGE, sess, "bob", text, nullptr, nullptr, stamp);
    }
};

} // namespace

TEST_F(Logs, ChannelLogFollowsTheMaskWithBeginStampsAndEnding)
{
    g_strlcpy(prefs.irc_logmask, "%n/%Y-%m-%d/%c.log", sizeof prefs.irc_logmask);
    g_strlcpy(prefs.stamp_log_format, "[%H:%M:%S] ", sizeof prefs.stamp_log_format);
    session *home = network_tab("Libera");
    session *chan = channel(home, "#Foo[1]");
    // The log is named after the day it was opened and a line without a time
    // of its own is stamped when written: both lie between these two clocks.
    const time_t before = time(nullptr);
    say(chan, "\002hello\017 there", 1700000000);
    say(chan, "again");
    const time_t after = time(nullptr);
    // Every text `format` gives for a time from `from` to `to`, plus `rest`.
    const auto one_of = [](const char *format, const std::string &rest, time_t from, time_t to) {
        std::vector<std::string> texts;
        for (time_t t = from; t <= to; ++t)
            texts.push_back(local_time(format, t) + rest);
        return texts;
    };
    const auto existing = [&](const std::string &file_name) {
        for (const std::string &day : one_of("%Y-%m-%d", "/" + file_name, before, time(nullptr)))
            if (g_file_test(path("logs/libera/" + day).c_str(), G_FILE_TEST_EXISTS))
                return path("logs/libera/" + day);
        return std::string();
    };

    const std::string file = existing("#foo{1}.log");
    ASSERT_FALSE(file.empty()) << "no log named after today";
    const std::vector<std::string> lines = lines_of(read(file));
    ASSERT_EQ(lines.size(), 4u) << read(file);
    EXPECT_EQ(lines[0].rfind("**** BEGIN LOGGING AT ", 0), 0u);
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "[22:13:20] <bob>\thello there");
    const std::vector<std::string> stamped = one_of("[%H:%M:%S] ", "<bob>\tagain", before, after);
    EXPECT_NE(std::find(stamped.begin(), stamped.end(), lines[3]), stamped.end()) << lines[3];

    struct stat sb {
    };
    ASSERT_EQ(stat(file.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(path("logs/libera").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0700u);

    // The server tab logs as "server"; closing a tab ends its log.
    PrintText(home, "motd line\n");
    EXPECT_FALSE(existing("server.log").empty());
    session_free(chan);
    const std::string closed = read(file);
    EXPECT_NE(closed.find("\n**** ENDING LOGGING AT "), std::string::npos);
    EXPECT_EQ(closed.substr(closed.size() - 2), "\n\n");
}

TEST_F(Logs, WithoutStampsLinesAreTheTextAlone)
{
    prefs.stamp_log = 0;
    session *chan = channel(network_tab("Net"), "#c");
    PrintText(chan, "two\nlines");
    const std::vector<std::string> lines = lines_of(read(path("logs/net/#c.log")));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "two");
    EXPECT_EQ(lines[3], "lines");
}

TEST_F(Logs, HostileNamesStayInsideTheLogsDirectory)
{
    g_strlcpy(prefs.irc_logmask, "%n/%c/%c.log", sizeof prefs.irc_logmask);
    session *home = network_tab("..");
    const std::string long_name = "#" + std::string(290, 'x') + "\xc3\xa9";
    for (const char *name : {"#..", "..", "#a/b", "/", ".", "%s%n", long_name.c_str()}) {
        session *s = new_ircwindow(home->server, name, SESS_DIALOG, 0);
        PrintText(s, "hi\n");
    }
    // Two long names that differ only at their end stay apart.
    session *other = channel(home, ("#" + std::string(290, 'x') + "y").c_str());
    PrintText(other, "hi\n");

    // Nothing but logs/ and scrollback/ appeared in the configuration directory.
    for (const std::string &f : files_below(dir))
        EXPECT_TRUE(f.rfind("/logs/__/", 0) == 0 || f.rfind("/scrollback/", 0) == 0) << f;
    const std::vector<std::string> logs = files_below(path("logs"));
    EXPECT_EQ(logs.size(), 8u);
    for (const std::string &f : logs) {
        EXPECT_TRUE(g_utf8_validate(f.c_str(), -1, nullptr)) << f;
        std::size_t start = 0;
        while (start < f.size()) {
            std::size_t end = f.find('/', start + 1);
            if (end == std::string::npos)
                end = f.size();
            EXPECT_LE(end - start - 1, 255u) << f;
            start = end;
        }
    }
    EXPECT_TRUE(g_file_test(path("logs/__/#a_b/#a_b.log").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_TRUE(g_file_test(path("logs/__/__/...log").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_TRUE(g_file_test(path("logs/__/%s%n/%s%n.log").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(Logs, SafePathsAreStableAndBounded)
{
    EXPECT_EQ(log_safe_path("a/../b/./c//d", 383), "a/__/b/_/c/d");
    EXPECT_EQ(log_safe_path("/abs/x", 383), "/abs/x");
    EXPECT_EQ(log_safe_path("", 383), "_");

    const std::string a = std::string(400, 'a') + ".log";
    const std::string b = std::string(399, 'a') + "b.log";
    const std::string short_a = log_safe_path(a, 1000);
    EXPECT_LE(short_a.size(), 255u);
    EXPECT_EQ(short_a.substr(short_a.size() - 4), ".log");
    EXPECT_EQ(short_a, log_safe_path(a, 1000));
    EXPECT_NE(short_a, log_safe_path(b, 1000));
    EXPECT_LE(log_safe_path("net/" + std::string(250, 'n') + "/" + std::string(250, 'c'), 383).size(), 383u);

    EXPECT_EQ(log_clean_name("#Foo[A]/%x^", true), "#foo{a}_%%x~");
    EXPECT_EQ(log_clean_name("", false), "_");
}

TEST_F(Logs, DeletedLogIsRecreatedWithABeginLine)
{
    session *chan = channel(network_tab("Net"), "#c");
    say(chan, "first");
    const std::string file = path("logs/net/#c.log");
    ASSERT_EQ(unlink(file.c_str()), 0);
    wait_for_next_second();
    say(chan, "second");
    const std::vector<std::string> lines = lines_of(read(file));
    ASSERT_EQ(lines.size(), 3u) << read(file);
    EXPECT_EQ(lines[0].rfind("**** BEGIN LOGGING AT ", 0), 0u);
    EXPECT_NE(lines[2].find("<bob>\tsecond"), std::string::npos);
}

TEST_F(Logs, TimeCodesInTheMaskStartANewFile)
{
    g_strlcpy(prefs.irc_logmask, "%n/%c-%S.log", sizeof prefs.irc_logmask);
    session *chan = channel(network_tab("Net"), "#c");
    say(chan, "first");
    wait_for_next_second();
    say(chan, "second");
    const std::vector<std::string> logs = files_below(path("logs/net"));
    ASSERT_EQ(logs.size(), 2u);
    for (const std::string &f : logs)
        EXPECT_EQ(read(path("logs/net") + f).rfind("**** BEGIN LOGGING AT ", 0), 0u) << f;
}

TEST_F(Logs, ChannelOptionTurnsLoggingOffForThatChannelOnly)
{
    session *home = network_tab("Net");
    session *quiet = channel(home, "#quiet");
    session *loud = channel(home, "#loud");
    say(quiet, "before");

    char cmd[] = "CHANOPT", name[] = "text_logging", value[] = "0", empty[] = "";
    char *word[PDIWORDS] = {empty, cmd, name, value};
    for (int i = 4; i < PDIWORDS; i++)
        word[i] = empty;
    char tbuf[512];
    chanopt_command(quiet, tbuf, word, word);
    say(quiet, "secret");
    say(loud, "public");

    const std::string quiet_log = read(path("logs/net/#quiet.log"));
    EXPECT_NE(quiet_log.find("before"), std::string::npos);
    EXPECT_EQ(quiet_log.find("secret"), std::string::npos);
    EXPECT_NE(quiet_log.find("**** ENDING LOGGING AT "), std::string::npos);
    EXPECT_NE(read(path("logs/net/#loud.log")).find("public"), std::string::npos);
}

TEST_F(Logs, AnUnopenableLogIsReportedOnceAndNotRetriedOnEveryLine)
{
    write(path("logs"), "a file where the directory should be");
    session *chan = channel(network_tab("Net"), "#c");
    say(chan, "one");
    say(chan, "two");
    EXPECT_EQ(fe_recorder::messages().size(), 1u);
    EXPECT_EQ(fe_recorder::messages()[0].rfind("* Can't open log file(s) for writing.", 0), 0u);
    // Lines are still shown.
    EXPECT_EQ(fe_recorder::printed(chan).size(), 2u);

    // Within the pause nothing is tried; an explicit reopen is.
    unlink(path("logs").c_str());
    say(chan, "three");
    EXPECT_FALSE(g_file_test(path("logs/net/#c.log").c_str(), G_FILE_TEST_EXISTS));
    log_open_or_close(chan);
    say(chan, "four");
    EXPECT_NE(read(path("logs/net/#c.log")).find("four"), std::string::npos);
    EXPECT_EQ(fe_recorder::messages().size(), 1u);
}

TEST_F(Logs, TimesOutsideTheCalendarAreShownAsNumbers)
{
    EXPECT_EQ(log_time_text(0), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(log_time_text(1700000000), "Tue Nov 14 22:13:20 2023");
    EXPECT_EQ(log_time_text(INT64_MAX), "9223372036854775807");

    char *stamp = nullptr;
    EXPECT_EQ(get_stamp_str("%H:%M", 1700000000, &stamp), 5);
    EXPECT_STREQ(stamp, "22:13");
    g_free(stamp);
    EXPECT_GT(get_stamp_str("%H", INT64_MAX, &stamp), 0);
    EXPECT_STREQ(stamp, "9223372036854775807 ");
    g_free(stamp);
    EXPECT_EQ(get_stamp_str("", 5, &stamp), 0);
}
