// The send queue: priorities, the flood clock, the protocol's line limits,
// character-set conversion and the wiping of queued secrets. The server's
// socket is one end of a socketpair, so the bytes on the wire are checked.
#include "cfgfiles.h"
#include "fe_recorder.h"
#include "server.h"
#include "tcp.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

time_t fake_now;
int clock_reads;  // how often the queue looked at the clock
std::vector<bool> released_zeroed;  // one entry per queued line freed

using lines = std::vector<std::string>;

class SendQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-tcp-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_throttle = 1;
        fake_now = 1'000'000;
        tcp_clock = [] {
            clock_reads++;
            return fake_now;
        };
        released_zeroed.clear();
        tcp_line_release_hook = [](const char *mem, std::size_t size) {
            released_zeroed.push_back(std::all_of(mem, mem + size, [](char c) { return c == 0; }));
        };
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, wire), 0);
        fcntl(wire[1], F_SETFL, O_NONBLOCK);
        serv = server_new();
        serv->sock = wire[0];
    }
    void TearDown() override
    {
        serv->sock = -1;
        server_free(serv);
        fe_recorder::cancel_sources();
        tcp_line_release_hook = nullptr;
        close(wire[0]);
        close(wire[1]);
        ASSERT_EQ(system((std::string("rm -rf '") + dir + "'").c_str()), 0);
        g_free(dir);
    }

    // Every byte that reached the other end so far.
    std::string received()
    {
        char buf[65536];
        for (ssize_t n; (n = read(wire[1], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
    // The received bytes cut after each CR LF.
    lines received_lines()
    {
        lines out;
        const std::string all = received();
        std::size_t start = 0;
        for (std::size_t at; (at = all.find("\r\n", start)) != std::string::npos; start = at + 2)
            out.push_back(all.substr(start, at + 2 - start));
        return out;
    }
    void send(const std::string &text) { tcp_send_len(serv, text.data(), static_cast<int>(text.size())); }
    // A clock already ten seconds ahead: whatever is queued now waits.
    void hold_clock()
    {
        serv->send_clock = fake_now + 10;
        serv->last_send_time = fake_now;
    }
    // Moves the clock, then lets the pump run once (if it still runs).
    void tick(int seconds)
    {
        fake_now += seconds;
        const int reads = clock_reads;
        fe_recorder::run_until([reads] { return clock_reads > reads; }, 1500);
    }
    void drain()
    {
        for (int i = 0; i < 20 && serv->send_queue; i++)
            tick(100);
        ASSERT_EQ(serv->send_queue, nullptr);
    }

    char *dir = nullptr;
    int wire[2] = {-1, -1};
    server *serv = nullptr;
    std::string got;
};

TEST_F(SendQueue, ModeChangesLeaveBeforeMessagesAndQueriesLast)
{
    hold_clock();
    for (const char *l : {"PRIVMSG #a :one", "WHO #a", "MODE #a +o bob", "MODE #a", "notice bob :two", "mode #a b",
                          "JOIN #b", "@+draft/reply=1 PRIVMSG #a :three", "MODE #a -l"})
        send(std::string(l) + "\r\n");
    EXPECT_EQ(received(), "");
    drain();
    EXPECT_EQ(received_lines(),
              (lines{"MODE #a +o bob\r\n", "JOIN #b\r\n", "MODE #a -l\r\n", "PRIVMSG #a :one\r\n", "notice bob :two\r\n",
                     "@+draft/reply=1 PRIVMSG #a :three\r\n", "WHO #a\r\n", "MODE #a\r\n", "mode #a b\r\n"}));
}

TEST_F(SendQueue, TenShortLinesBurstFiveThenOneEveryTwoSeconds)
{
    const std::string line = "PRIVMSG #a :hello\r\n";
    for (int i = 0; i < 10; i++)
        send(line);
    EXPECT_EQ(received_lines().size(), 5u);
    EXPECT_EQ(serv->queued_bytes, static_cast<int>(5 * line.size()));
    const int meter_updates = fe_recorder::count("fe_set_throttle");
    std::vector<std::size_t> sent_after;
    for (int second = 1; second <= 10; second++) {
        tick(1);
        sent_after.push_back(received_lines().size());
    }
    EXPECT_EQ(sent_after, (std::vector<std::size_t>{6, 6, 7, 7, 8, 8, 9, 9, 10, 10}));
    EXPECT_EQ(serv->queued_bytes, 0);
    EXPECT_EQ(fe_recorder::count("fe_set_throttle") - meter_updates, 5);
}

TEST_F(SendQueue, LongParametersCostMoreClockAndABackwardClockResumesAtOnce)
{
    send("PRIVMSG " + std::string(250, 'x') + "\r\n");
    EXPECT_EQ(serv->send_clock, fake_now + 4);
    for (int i = 0; i < 6; i++)
        send("PING x\r\n");
    ASSERT_EQ(received_lines().size(), 4u);
    fake_now -= 3600;
    EXPECT_TRUE(fe_recorder::run_until([&] { return received_lines().size() == 7; }, 2000));
}

TEST_F(SendQueue, WithoutThrottleLinesLeaveAtOnceInOrder)
{
    prefs.net_throttle = 0;
    const int timers = fe_recorder::count("fe_timeout_add");
    for (int i = 0; i < 12; i++)
        send("PRIVMSG #a :" + std::to_string(i) + "\r\n");
    send("MODE #a +o bob\r\n");
    const lines out = received_lines();
    ASSERT_EQ(out.size(), 13u);
    EXPECT_EQ(out[11], "PRIVMSG #a :11\r\n");
    EXPECT_EQ(out[12], "MODE #a +o bob\r\n");
    EXPECT_EQ(fe_recorder::count("fe_timeout_add"), timers);
}

TEST_F(SendQueue, PumpEndsWhenEmptyAndClearingStopsIt)
{
    const int timers = fe_recorder::count("fe_timeout_add");
    for (int i = 0; i < 6; i++)
        send("PRIVMSG #a :x\r\n");
    drain();
    tick(100);
    for (int i = 0; i < 8; i++)
        send("PRIVMSG #a :y\r\n");
    EXPECT_EQ(fe_recorder::count("fe_timeout_add") - timers, 2) << "the first pump ended by itself";

    const int removed = fe_recorder::count("fe_timeout_remove");
    tcp_clear_queue(serv);
    EXPECT_EQ(serv->queued_bytes, 0);
    EXPECT_EQ(fe_recorder::count("fe_timeout_remove") - removed, 1);
    tick(100);
    EXPECT_EQ(received_lines().size(), 11u);
}

TEST_F(SendQueue, EveryLineEndsInCrLfWithinTheProtocolLimit)
{
    prefs.net_throttle = 0;
    tcp_sendf(serv, "PRIVMSG #a :%s\r\n", std::string(600, 'a').c_str());
    tcp_sendf(serv, "PRIVMSG #a :next\r\n");
    const lines out = received_lines();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "PRIVMSG #a :" + std::string(498, 'a') + "\r\n");
    EXPECT_EQ(out[1], "PRIVMSG #a :next\r\n");

    // Three-byte characters: the cut falls before the one that does not fit.
    got.clear();
    std::string euros;
    for (int i = 0; i < 200; i++)
        euros += "\xe2\x82\xac";
    tcp_sendf(serv, "PRIVMSG #ab :%s\r\n", euros.c_str());
    EXPECT_EQ(received(), "PRIVMSG #ab :" + euros.substr(0, 495) + "\r\n");

    // The tag section has its own allowance and loses whole tags only.
    got.clear();
    std::string tags = "@+a=1";
    while (tags.size() < 4100)
        tags += ";+k" + std::to_string(tags.size()) + "=vvvvvvvvvv";
    send(tags + " PRIVMSG #a :" + std::string(600, 'b') + "\r\n");
    const std::string tagged = received();
    const std::size_t space = tagged.find(' ');
    EXPECT_LE(space + 1, 4096u);
    EXPECT_EQ(tagged.substr(0, space), tags.substr(0, space));
    EXPECT_EQ(tags[space], ';');
    EXPECT_EQ(tagged.substr(space + 1), "PRIVMSG #a :" + std::string(498, 'b') + "\r\n");
}

TEST_F(SendQueue, LineBreaksInsideParametersNeverSplitTheLine)
{
    prefs.net_throttle = 0;
    tcp_sendf(serv, "PRIVMSG %s :%s\r\n", "#a", "hi\r\nQUIT :owned\rx\ny");
    EXPECT_EQ(received(), "PRIVMSG #a :hi  QUIT :owned x y\r\n");
    // Raw text is taken line by line; a bare CR or a NUL cannot end one.
    got.clear();
    const char raw[] = "JOIN #a\r\nPART #b\nNICK a\rb\0c\n\r\n";
    send(std::string(raw, sizeof raw - 1));
    EXPECT_EQ(received_lines(), (lines{"JOIN #a\r\n", "PART #b\r\n", "NICK a b c\r\n"}));
}

TEST_F(SendQueue, ServerCharsetReplacesWhatItCannotHoldAndStillFits)
{
    prefs.net_throttle = 0;
    serv->encoder = g_iconv_open("ISO-8859-1", "UTF-8");
    tcp_sendf(serv, "PRIVMSG #a :caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac!\r\n");
    EXPECT_EQ(received(), "PRIVMSG #a :caf\xe9 ?" "?!\r\n");
    const std::string logged = fe_recorder::calls_named("fe_add_rawlog").back().args;
    EXPECT_NE(logged.find("caf\xc3\xa9 \xe6\x97\xa5"), std::string::npos) << "the raw log shows the text as written";

    // A set in which text grows: cut again after conversion.
    g_iconv_close(serv->encoder);
    serv->encoder = g_iconv_open("UTF-7", "UTF-8");
    got.clear();
    std::string accents;
    for (int i = 0; i < 300; i++)
        accents += "\xc3\xa9";
    tcp_sendf(serv, "PRIVMSG #a :%s\r\n", accents.c_str());
    const std::string line = received();
    EXPECT_LE(line.size(), 512u);
    EXPECT_GT(line.size(), 400u);
    EXPECT_EQ(line.find("\r\n"), line.size() - 2);
}

TEST_F(SendQueue, QueuedSecretsAreWipedWhenFreed)
{
    hold_clock();
    send("PASS hunter2\r\n");
    send("AUTHENTICATE aHVudGVyMg==\r\n");
    send("PRIVMSG NickServ :IDENTIFY hunter2\r\n");
    tcp_clear_queue(serv);
    send("NICKSERV IDENTIFY hunter2\r\n");
    drain();
    EXPECT_EQ(released_zeroed, (std::vector<bool>{true, true, true, true}));
}

}  // namespace
