// The recording front end itself: the unit tests of the core rely on what
// it logs and on its main-loop behaviour, so a fault here hides faults there.
#include "fe_recorder.h"

#include "base/lumenwick.h"
#include "fe.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace
{

struct fake_session {
    session sess{};
    explicit fake_session(const char *name, int type = SESS_CHANNEL)
    {
        g_strlcpy(sess.channel, name, sizeof sess.channel);
        sess.type = type;
    }
};

int count_up(void *data)
{
    return ++*static_cast<int *>(data) < 3; // runs three times
}

} // namespace

TEST(Recorder, LogsPrintedTextPerSessionWithReadableArguments)
{
    fake_session chan("#test");
    fake_session tab("", SESS_SERVER);
    char hello[] = "\002alice\002 says hi\nsecond line\n";
    char other[] = "server text\n";
    fe_print_text(&chan.sess, hello, 0, FALSE);
    fe_print_text(&tab.sess, other, 1234, TRUE);

    ASSERT_EQ(fe_recorder::count("fe_print_text"), 2);
    EXPECT_EQ(fe_recorder::calls()[0].text(), "fe_print_text(#test, \"\\x02alice\\x02 says hi\\nsecond line\\n\")");
    EXPECT_EQ(fe_recorder::calls()[1].text(),
              "fe_print_text((server tab), \"server text\\n\", stamp=1234, no_activity)");
    EXPECT_EQ(fe_recorder::calls()[0].sess, &chan.sess);

    EXPECT_EQ(fe_recorder::printed(&chan.sess), std::vector<std::string>{hello});
    EXPECT_EQ(fe_recorder::shown(&chan.sess), (std::vector<std::string>{"alice says hi", "second line"}));
    EXPECT_TRUE(fe_recorder::was_shown(&chan.sess, "says hi"));
    EXPECT_FALSE(fe_recorder::was_shown(&tab.sess, "says hi"));
    EXPECT_EQ(fe_recorder::printed_text().size(), 2u);

    fe_recorder::reset();
    EXPECT_TRUE(fe_recorder::calls().empty());
    EXPECT_TRUE(fe_recorder::printed_text().empty());
}

TEST(Recorder, StripsColourCodesLikeTheCore)
{
    EXPECT_EQ(fe_recorder::strip_codes("\0034,5word"), "word");
    EXPECT_EQ(fe_recorder::strip_codes("\003123"), "3") << "at most two digits belong to the code";
    EXPECT_EQ(fe_recorder::strip_codes("\0031,x"), ",x") << "a comma without a digit stays";
    EXPECT_EQ(fe_recorder::strip_codes("\037u\035i\026r\017\010h"), "uirh");
}

TEST(Recorder, QuestionsAreAnsweredLaterFromTheMainLoop)
{
    struct answer {
        bool called = false;
        int cancelled = -1;
        std::string text;
    } got;
    char prompt[] = "Enter new nickname:";
    char def[] = "alice";
    auto on_str = [](int cancelled, char *text, void *ud) {
        auto *a = static_cast<answer *>(ud);
        a->called = true;
        a->cancelled = cancelled;
        a->text = text ? text : "";
    };

    fe_get_str(prompt, def, on_str, &got);
    EXPECT_FALSE(got.called) << "never answered inside the call";
    ASSERT_TRUE(fe_recorder::run_until([&] { return got.called; }, 2000));
    EXPECT_EQ(got.cancelled, 1) << "cancelled by default";

    got = {};
    fe_recorder::answers accept;
    accept.cancelled = false;
    fe_recorder::set_answers(accept);
    fe_get_str(prompt, def, on_str, &got);
    ASSERT_TRUE(fe_recorder::run_until([&] { return got.called; }, 2000));
    EXPECT_EQ(got.cancelled, 0);
    EXPECT_EQ(got.text, "alice") << "no canned text: the default is taken";

    std::vector<std::string> files;
    bool ended = false;
    accept.files = {"/a", "/b"};
    fe_recorder::set_answers(accept);
    char title[] = "Send file";
    fe_get_file(
        title, nullptr,
        [](void *ud, char *file) { static_cast<std::vector<std::string> *>(ud)->push_back(file ? file : "(none)"); },
        &files, FRF_MULTIPLE);
    fe_recorder::set_answers({});
    fe_get_file(
        title, nullptr, [](void *ud, char *file) { *static_cast<bool *>(ud) = file == nullptr; }, &ended, 0);
    ASSERT_TRUE(fe_recorder::run_until([&] { return ended; }, 2000));
    EXPECT_EQ(files, (std::vector<std::string>{"/a", "/b"}));
}

TEST(Recorder, TimersAndWatchesRunOnTheDefaultContext)
{
    int ticks = 0;
    const int tag = fe_timeout_add(1, count_up, &ticks);
    EXPECT_GT(tag, 0);
    EXPECT_TRUE(fe_recorder::run_until([&] { return ticks == 3; }, 2000));
    fe_recorder::run_for(20);
    EXPECT_EQ(ticks, 3) << "a false result stops the timer";
    fe_timeout_remove(tag); // already gone: harmless

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int reads = 0;
    const int watch = fe_input_add(
        fds[0], FIA_READ,
        [](GIOChannel *, GIOCondition cond, void *ud) -> gboolean {
            ++*static_cast<int *>(ud);
            return (cond & G_IO_IN) != 0;
        },
        &reads);
    fe_recorder::run_for(20);
    EXPECT_EQ(reads, 0) << "nothing to read yet";
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_TRUE(fe_recorder::run_until([&] { return reads > 0; }, 2000));
    fe_input_remove(watch);
    close(fds[0]);
    close(fds[1]);

    int never = 0;
    fe_timeout_add(1, count_up, &never);
    fe_idle_add(count_up, &never);
    fe_recorder::cancel_sources();
    fe_recorder::run_for(20);
    EXPECT_EQ(never, 0);
}

TEST(Recorder, MainLoopRunsUntilExit)
{
    fe_timeout_add(
        5,
        [](void *) {
            fe_exit();
            return 0;
        },
        nullptr);
    fe_main(); // returns only because the timer called fe_exit
    EXPECT_TRUE(fe_recorder::exit_requested());
    fe_main(); // an exit already requested returns at once
}

TEST(Recorder, DumpListsEveryCallInOrder)
{
    fe_beep();
    fe_message("Something needs attention", FE_MSG_ERROR);
    fe_tray_set_icon(5);
    EXPECT_EQ(fe_recorder::messages(), std::vector<std::string>{"Something needs attention"});
    const std::string dump = fe_recorder::dump();
    const auto beep = dump.find("fe_beep()");
    const auto msg = dump.find("fe_message(\"Something needs attention\", 8)");
    const auto tray = dump.find("fe_tray_set_icon(5)");
    ASSERT_NE(beep, std::string::npos) << dump;
    ASSERT_NE(msg, std::string::npos) << dump;
    ASSERT_NE(tray, std::string::npos) << dump;
    EXPECT_LT(beep, msg);
    EXPECT_LT(msg, tray);
}
