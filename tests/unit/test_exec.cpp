// /EXEC and its family: how ANSI colours in a child's output become IRC
// colours, and real /bin/sh children whose output is printed or said, fed
// through EXECWRITE, signalled, and killed with their tab.
#include "irc_lines.h"

#include "commands/outbound-exec.h"
#include "commands/outbound.h"

#include <cerrno>
#include <csignal>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>

using namespace std::string_literals;

namespace
{

std::string convert(const std::string &text)
{
    exec_color_state state;
    return exec_convert_ansi(text, state);
}

TEST(ExecColors, ForegroundsFollowTheTable)
{
    EXPECT_EQ(convert("\x1b[31mred\x1b[0m"), "\x03"
                                             "04red\x0f");
    EXPECT_EQ(convert("\x1b[30ma\x1b[32mb\x1b[33mc\x1b[34md\x1b[35me\x1b[36mf\x1b[37mg"), "\x03"
                                                                                          "01a\x03"
                                                                                          "03b\x03"
                                                                                          "05c\x03"
                                                                                          "02d\x03"
                                                                                          "10e\x03"
                                                                                          "06f\x03"
                                                                                          "01g");
    // The number before the last counts when the last is no foreground.
    EXPECT_EQ(convert("\x1b[32;4mx"), "\x03"
                                      "03x");
}

TEST(ExecColors, BrightLastsUntilReset)
{
    exec_color_state state;
    EXPECT_EQ(exec_convert_ansi("\x1b[1;31ma", state), "\x03"
                                                       "07a");
    EXPECT_EQ(exec_convert_ansi("\x1b[34mb", state), "\x03"
                                                     "12b")
        << "bright carries over to the next sequence";
    EXPECT_EQ(exec_convert_ansi("\x1b[0mc\x1b[34md", state), "\x0f"
                                                             "c\x03"
                                                             "02d");
    // The two bright colours the table lacks stay in the 16 IRC colours.
    EXPECT_EQ(convert("\x1b[01;36mx\x1b[1;37my"), "\x03"
                                                  "13x\x03"
                                                  "15y");
    EXPECT_EQ(convert("\x1b[01;35mx"), "\x03"
                                       "11x");
    // A bright switch alone brightens the colour already in use.
    EXPECT_EQ(convert("\x1b[33mx\x1b[1my"), "\x03"
                                            "05x\x03"
                                            "08y");
}

TEST(ExecColors, BackgroundsAndResets)
{
    EXPECT_EQ(convert("\x1b[31;42mx"), "\x03"
                                       "4,03x");
    EXPECT_EQ(convert("\x1b[36mx\x1b[47my"), "\x03"
                                             "06x\x03"
                                             "6,01y")
        << "the foreground carries over";
    EXPECT_EQ(convert("\x1b[44mx"), "\x03"
                                    "99,02x")
        << "no foreground yet: the default one";
    EXPECT_EQ(convert("a\x1b[mb"), "a\x0f"
                                   "b");
    EXPECT_EQ(convert("a\x1b[0mb"), "a\x0f"
                                    "b");
    EXPECT_EQ(convert("a\x1b[31;mb"), "a\x0f"
                                      "b")
        << "an empty last number resets";
    // A comma in the text right after a foreground would start a background.
    EXPECT_EQ(convert("\x1b[31m,5 apples"), "\x03"
                                            "04\x02\x02,5 apples");
    EXPECT_EQ(convert("\x1b[31;42m,5"), "\x03"
                                        "4,03,5")
        << "a comma after a background is text";
    EXPECT_EQ(convert("\x1b[0m,5"), "\x0f,5");
}

TEST(ExecColors, CodesOutsideTheTableAreSkipped)
{
    for (const char *seq :
         {"\x1b[49m", "\x1b[39m", "\x1b[100m", "\x1b[107m", "\x1b[90m", "\x1b[97m", "\x1b[48m", "\x1b[38;5;200m",
          "\x1b[38;5;31m", "\x1b[48;5;41m", "\x1b[38;2;31;32;33m", "\x1b[4m", "\x1b[38:5:31m", "\x1b[?31m"})
        EXPECT_EQ(convert("x"s + seq + "y"), "xy") << "sequence " << seq + 1;
    // An extended colour followed by a real code still gives that code.
    EXPECT_EQ(convert("\x1b[38;5;200;32mz"), "\x03"
                                             "03z");
}

TEST(ExecColors, HugeNumbersAndLongSequencesStayBounded)
{
    EXPECT_EQ(convert("\x1b[99999999999999999999999999999931mx"), "x");
    EXPECT_EQ(convert("\x1b[18446744073709551647mx"), "x") << "wraps to 31 if parsed without a bound";
    EXPECT_EQ(convert("\x1b[4294967327mx"), "x") << "2^32 + 31";
    // Digits after the fifteenth of one number are ignored.
    EXPECT_EQ(convert("\x1b[0000000000000003mx"), "\x0f"
                                                  "x");
    EXPECT_EQ(convert("\x1b[" + std::string(10000, ';') + "31mx"), "\x03"
                                                                   "04x");
    EXPECT_EQ(convert("\x1b[" + std::string(10000, '9') + "mx"), "x");
}

TEST(ExecColors, OtherSequencesAndCarriageReturnsAreDropped)
{
    EXPECT_EQ(convert("\x1b[2Kclear\x1b[1;1H\x1b[?25l"), "clear");
    EXPECT_EQ(convert("50%\r100%\r\n"), "50%100%\n");
    EXPECT_EQ(convert("abc\x1b[31"), "abc") << "an unfinished sequence at the end";
    EXPECT_EQ(convert("a\x1b"
                      "b\x1b"),
              "ab")
        << "lone escapes";
    EXPECT_EQ(convert("\x1b[3\x02"
                      "bold"),
              "\x02"
              "bold")
        << "a control byte ends the sequence and is kept";
    EXPECT_EQ(convert("\x02keep\x03"
                      "04irc\x0f"),
              "\x02keep\x03"
              "04irc\x0f");
}

// Real children on the main loop, with a connected server and a channel.
class Exec : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        chan = channel("#c");
    }
    void TearDown() override
    {
        prefs.completion_auto = 0;
        IrcLines::TearDown();
    }
    void run(session *sess, const std::string &line)
    {
        std::string copy = line;
        handle_command(sess, copy.data(), false);
    }
    // Waits (bounded) for the session's child to end and be forgotten.
    bool finished(session *sess, int ms = 5000)
    {
        return fe_recorder::run_until([&] { return sess->exec_child == nullptr; }, ms);
    }
    static pid_t child_pid(session *sess) { return exec_child_pid(sess); }
    static std::vector<std::string> shown_lines(session *sess) { return fe_recorder::shown(sess); }
    static bool reaped(pid_t pid)
    {
        errno = 0;
        return pid > 0 && waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD;
    }

    session *chan = nullptr;
};

TEST_F(Exec, OutputIsPrintedLineByLineWithColours)
{
    run(chan, "exec printf 'one\\ntwo\\n\\033[31mred\\033[0m\\n\\377ok\\npartial'");
    ASSERT_NE(chan->exec_child, nullptr);
    ASSERT_TRUE(finished(chan));
    EXPECT_EQ(shown_lines(chan), (std::vector<std::string>{"one", "two", "red", "\xef\xbf\xbdok", "partial"}));
    bool coloured = false;
    for (const auto &text : fe_recorder::printed(chan)) {
        EXPECT_TRUE(g_utf8_validate(text.c_str(), -1, nullptr)) << text;
        coloured = coloured || text.find("\x03"
                                         "04red\x0f") != std::string::npos;
    }
    EXPECT_TRUE(coloured);
    EXPECT_EQ(sent(), "") << "without -o nothing goes to the server";
}

TEST_F(Exec, OnlyCompleteLinesAreDelivered)
{
    run(chan, "exec printf abc; sleep 0.3; printf 'def\\nghi\\n'");
    ASSERT_TRUE(finished(chan));
    EXPECT_EQ(shown_lines(chan), (std::vector<std::string>{"abcdef", "ghi"}));
}

TEST_F(Exec, AnEndlessLineArrivesInBoundedPieces)
{
    run(chan, "exec head -c 200000 /dev/zero | tr '\\000' x");
    ASSERT_TRUE(finished(chan, 10000));
    const auto lines = shown_lines(chan);
    std::size_t total = 0;
    for (const auto &line : lines) {
        EXPECT_LE(line.size(), EXEC_MAX_PARTIAL_LINE);
        total += line.size();
    }
    EXPECT_EQ(total, 200000u);
    EXPECT_EQ(lines.size(), 4u);
}

TEST_F(Exec, DashOSaysEachLineInTheChannelWithoutCompletion)
{
    recv(":me!u@h JOIN #c");
    recv(":alice!a@h JOIN #c");
    sent();
    prefs.completion_auto = 1;
    // The user's setting stays as it is while each line is said, not only
    // after: nothing is switched off and back around the call.
    static std::vector<int> setting_while_sending;
    static void (*real_message)(server *, const char *, const char *);
    setting_while_sending.clear();
    real_message = chan->server->p_message;
    chan->server->p_message = [](server *serv, const char *target, const char *text) {
        setting_while_sending.push_back(prefs.completion_auto);
        real_message(serv, target, text);
    };
    run(chan, "exec -o printf 'al, hi\\n\\nsecond\\n'");
    ASSERT_TRUE(finished(chan));
    chan->server->p_message = real_message;
    EXPECT_EQ(sent(), "PRIVMSG #c :al, hi\r\nPRIVMSG #c :second\r\n");
    EXPECT_EQ(setting_while_sending, (std::vector<int>{1, 1}));
    EXPECT_EQ(prefs.completion_auto, 1);
}

TEST_F(Exec, DirectRunSplitsLikeAShellWithoutOne)
{
    run(chan, R"(exec -d printf "%s|%s|%s\n" "a b" 'c "d"' $HOME)");
    ASSERT_TRUE(finished(chan));
    EXPECT_EQ(shown_lines(chan), (std::vector<std::string>{"a b|c \"d\"|$HOME"}));

    run(chan, "exec -d printf 'unbalanced");
    EXPECT_EQ(chan->exec_child, nullptr);
    run(chan, "exec -d /nonexistent/lumenwick-test-program");
    ASSERT_TRUE(finished(chan));
    EXPECT_TRUE(shown(chan, "Cannot run /nonexistent/lumenwick-test-program"));
}

TEST_F(Exec, ChildInheritsOnlyItsStandardDescriptors)
{
    // The test's own server socketpair is open and inheritable here.
    run(chan, "exec -d ls /proc/self/fd");
    ASSERT_TRUE(finished(chan));
    const auto lines = shown_lines(chan);
    ASSERT_FALSE(lines.empty());
    for (const auto &fd : lines)
        EXPECT_TRUE(fd == "0" || fd == "1" || fd == "2" || fd == "3") << "inherited descriptor " << fd;
}

TEST_F(Exec, OneChildPerSessionAndSignals)
{
    run(chan, "exec -d sleep 30");
    ASSERT_NE(chan->exec_child, nullptr);
    const pid_t pid = child_pid(chan);
    ASSERT_GT(pid, 0);

    run(chan, "exec echo second");
    EXPECT_TRUE(shown(chan, "A process is already running."));

    siginfo_t info{};
    run(chan, "execstop");
    ASSERT_TRUE(fe_recorder::run_until(
        [&] {
            info = {};
            return waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == pid;
        },
        5000));
    EXPECT_EQ(info.si_code, CLD_STOPPED);

    run(chan, "execcont");
    ASSERT_TRUE(fe_recorder::run_until(
        [&] {
            info = {};
            return waitid(P_PID, static_cast<id_t>(pid), &info, WCONTINUED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == pid;
        },
        5000));
    EXPECT_EQ(info.si_code, CLD_CONTINUED);

    run(chan, "execkill");
    ASSERT_TRUE(finished(chan));
    EXPECT_TRUE(reaped(pid));

    // A finished child does not block the next one.
    run(chan, "exec echo again");
    ASSERT_TRUE(finished(chan));
    EXPECT_TRUE(shown(chan, "again"));
}

TEST_F(Exec, KillNineStopsAChildThatIgnoresTerm)
{
    run(chan, "exec trap '' TERM; echo ready; while :; do sleep 0.05; done");
    ASSERT_TRUE(fe_recorder::run_until([&] { return shown(chan, "ready"); }, 5000));
    run(chan, "execkill");
    fe_recorder::run_for(200);
    EXPECT_NE(chan->exec_child, nullptr) << "TERM is ignored";
    run(chan, "execkill -9");
    ASSERT_TRUE(finished(chan));
}

TEST_F(Exec, WritesReachTheChildsInput)
{
    run(chan, "exec cat");
    ASSERT_NE(chan->exec_child, nullptr);
    run(chan, "execwrite hello there");
    ASSERT_TRUE(fe_recorder::run_until([&] { return shown_lines(chan).size() >= 2; }, 5000));
    EXPECT_EQ(shown_lines(chan), (std::vector<std::string>{"hello there", "hello there"})) << "echoed, then cat";

    run(chan, "execwrite -q quiet one");
    ASSERT_TRUE(fe_recorder::run_until([&] { return shown_lines(chan).size() >= 3; }, 5000));
    run(chan, "execwrite -- -q");
    ASSERT_TRUE(fe_recorder::run_until([&] { return shown_lines(chan).size() >= 5; }, 5000));
    EXPECT_EQ(shown_lines(chan), (std::vector<std::string>{"hello there", "hello there", "quiet one", "-q", "-q"}));
    run(chan, "execkill");
    ASSERT_TRUE(finished(chan));
}

TEST_F(Exec, CommandsWithoutAChildSaySo)
{
    for (const char *cmd : {"execkill", "execkill -9", "execstop", "execcont", "execwrite hi"})
        run(chan, cmd);
    std::size_t count = 0;
    for (const auto &line : shown_lines(chan))
        count += line.find("No process is currently running.") != std::string::npos;
    EXPECT_EQ(count, 5u);
    run(chan, "exec");
    EXPECT_TRUE(shown(chan, "Usage: EXEC"));
}

TEST_F(Exec, ClosingTheTabKillsAndReapsItsChild)
{
    session *busy = channel("#busy");
    run(busy, "exec yes lumenwick");
    ASSERT_TRUE(fe_recorder::run_until([&] { return shown(busy, "lumenwick"); }, 5000));
    const pid_t chatty = child_pid(busy);

    session *quiet = channel("#quiet");
    run(quiet, "exec -d sleep 30");
    const pid_t sleeper = child_pid(quiet);
    ASSERT_GT(chatty, 0);
    ASSERT_GT(sleeper, 0);

    session_free(busy);
    session_free(quiet);
    EXPECT_TRUE(reaped(chatty));
    EXPECT_TRUE(reaped(sleeper));
    // No watch may call back into the freed tabs (ASan would see it).
    fe_recorder::run_for(200);
    EXPECT_TRUE(is_session(chan));
}

} // namespace
