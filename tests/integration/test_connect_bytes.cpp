// Exact bytes between lumenwick-text and a scripted IRC server on 127.0.0.1
// (harness: scripted-ircd.py): the registration lines, how received bytes become
// shown lines, character sets, and the send queue's flood clock.
#include "connect_fixture.h"

#include <glib.h>

#include <algorithm>

namespace connect_test
{
namespace
{

// The bytes of one received line that the client keeps: its line buffer holds
// 8704 bytes including the terminator.
constexpr std::size_t LINE_KEPT = 8703;

class ConnectBytes : public ConnectTest
{
  protected:
    void SetUp() override
    {
        ConnectTest::SetUp();
        ASSERT_TRUE(ircd.ok()) << ircd.transcript();
    }

    // Connects the client and waits for its registration lines.
    void connect_client()
    {
        ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(ircd.port())));
        ASSERT_TRUE(ircd.wait_received(1, "\r\nUSER ", SHORT_MS)) << ircd.transcript() << context();
    }

    // The lines of connection 1 that begin with `prefix`.
    std::vector<received_line> received_starting(const std::string &prefix) const
    {
        std::vector<received_line> found;
        for (const received_line &l : ircd.lines())
            if (l.conn == 1 && l.bytes.rfind(prefix, 0) == 0)
                found.push_back(l);
        return found;
    }

    // Types "/quote FLOOD 1" ... "/quote FLOOD n" in one go.
    void queue_flood(int n)
    {
        std::string lines;
        for (int i = 1; i <= n; ++i)
            lines += "/quote FLOOD " + std::to_string(i) + "\n";
        lines.pop_back();
        ASSERT_TRUE(client->type(lines));
    }

    std::string trace() const { return "--- server:\n" + ircd.transcript() + context(); }

    scripted_server ircd;
};

// Every shown line containing `text`.
std::vector<std::string> shown_lines_with(const std::string &out, std::string_view text)
{
    std::vector<std::string> found;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

TEST_F(ConnectBytes, ServerCommandConnectsAndRegistersWithTheConfiguredNick)
{
    ASSERT_NO_FATAL_FAILURE(start_client());
    connect_client();

    const std::vector<received_line> lines = ircd.lines();
    ASSERT_GE(lines.size(), 3u) << trace();
    EXPECT_EQ(lines[0].bytes, "CAP LS 302\r\n") << "capability negotiation comes first\n" << trace();
    EXPECT_EQ(lines[1].bytes, "NICK tester\r\n") << trace();
    EXPECT_EQ(lines[2].bytes, "USER tuser 0 * :Test Real\r\n") << trace();
    EXPECT_EQ(ircd.received(1).find("PASS"), std::string::npos) << "no password was given\n" << trace();
    EXPECT_TRUE(client->wait_shown("Connecting to ", SHORT_MS)) << context();
    EXPECT_TRUE(client->wait_shown("Connected", SHORT_MS)) << context();
    quit_client();
    EXPECT_TRUE(ircd.wait_closed(1, SHORT_MS)) << trace();
}

TEST_F(ConnectBytes, IrcUrlsConnectFromTheCommandLineAndFromServer)
{
    const std::string port = std::to_string(ircd.port());
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}, {"irc://127.0.0.1:" + port}));
    EXPECT_TRUE(ircd.wait_received(1, "NICK tester\r\n", SHORT_MS)) << "the URL given at start connects\n" << trace();

    // irc:// is plain text, and so is a port marked with "-" on a TLS scheme.
    ASSERT_TRUE(client->type("/server irc://127.0.0.1:" + port));
    EXPECT_TRUE(ircd.wait_received(2, "NICK tester\r\n", SHORT_MS)) << trace();
    ASSERT_TRUE(client->type("/server ircs://127.0.0.1:-" + port));
    EXPECT_TRUE(ircd.wait_received(3, "NICK tester\r\n", SHORT_MS)) << trace();
    quit_client();
}

TEST_F(ConnectBytes, ReceivedBytesBecomeWholeCleanLines)
{
    ASSERT_NO_FATAL_FAILURE(start_client());
    connect_client();

    // A line arriving a few bytes at a time, CR and LF in separate pieces.
    ASSERT_TRUE(ircd.send(":irc.test NOTICE tester :split-line-ok\r\n", 3, 15));
    EXPECT_TRUE(client->wait_shown("split-line-ok", SHORT_MS)) << trace();
    // Two lines in one piece; a bare LF ends a line; a CR anywhere is dropped.
    ASSERT_TRUE(ircd.send(":irc.test NOTICE tester :first-of-two\r\n:irc.test NOTICE tester :cr\rinside\n"));
    EXPECT_TRUE(client->wait_shown("first-of-two", SHORT_MS)) << trace();
    EXPECT_TRUE(client->wait_shown("crinside", SHORT_MS)) << trace();
    // Invalid UTF-8 becomes U+FFFD.
    ASSERT_TRUE(ircd.send(":irc.test NOTICE tester :bad\xff\xfe"
                          "bytes\r\n"));
    EXPECT_TRUE(client->wait_shown("bytes", SHORT_MS)) << trace();
    // A NUL byte inside a line does not upset what follows.
    ASSERT_TRUE(ircd.send(std::string(":irc.test NOTICE tester :nul\0after\r\n", 37) +
                          ":irc.test NOTICE tester :after-nul-ok\r\n"));
    EXPECT_TRUE(client->wait_shown("after-nul-ok", SHORT_MS)) << trace();
    // Longer than the 8704-byte line buffer: cut, with a warning on standard error,
    // and the next line is whole again.
    ASSERT_TRUE(ircd.send(":irc.test NOTICE tester :BEGIN" + std::string(9000, 'x') + "END\r\n" +
                          ":irc.test NOTICE tester :after-long-ok\r\n"));
    EXPECT_TRUE(client->wait_shown("after-long-ok", SHORT_MS)) << trace();
    EXPECT_TRUE(client->wait_err("Buffer overflow - non-compliant server!", SHORT_MS)) << trace();

    const std::string &out = client->out();
    EXPECT_EQ(count_in(out, "split-line-ok"), 1) << "shown once, not in pieces\n" << trace();
    EXPECT_EQ(out.find('\r'), std::string::npos) << trace();
    EXPECT_TRUE(g_utf8_validate(out.data(), static_cast<gssize>(out.size()), nullptr)) << trace();
    const std::vector<std::string> bad = shown_lines_with(out, "bytes");
    ASSERT_EQ(bad.size(), 1u) << trace();
    const std::string between = bad[0].substr(bad[0].find("bad") + 3, bad[0].find("bytes") - bad[0].find("bad") - 3);
    EXPECT_TRUE(!between.empty() && count_in(between, "\xEF\xBF\xBD") * 3 == static_cast<int>(between.size()))
        << "only replacement characters between the valid parts: " << printable(between);

    // The line buffer keeps at most the first 8703 bytes of the line; how much of
    // that a formatted line shows is up to the text event's own buffer.
    const std::vector<std::string> longest = shown_lines_with(out, "BEGIN");
    ASSERT_EQ(longest.size(), 1u) << trace();
    const std::string &cut = longest[0];
    EXPECT_EQ(cut.find("END"), std::string::npos) << "the tail beyond the buffer is not shown";
    const std::string head = ":irc.test NOTICE tester :BEGIN";
    const auto run = std::count(cut.begin(), cut.end(), 'x');
    EXPECT_GT(run, 1000);
    EXPECT_LE(run, static_cast<long>(LINE_KEPT - head.size()));
    quit_client();
}

TEST_F(ConnectBytes, ServerCharacterSetConvertsBothWays)
{
    ASSERT_NO_FATAL_FAILURE(start_client());
    connect_client();

    ASSERT_TRUE(client->type("/charset ISO-8859-1"));
    const bool known = client->wait_shown("Charset changed to: ISO-8859-1", 3000);
    ASSERT_TRUE(known) << trace();

    ASSERT_TRUE(ircd.send(":irc.test NOTICE tester :caf\xe9 na\xefve\r\n"));
    EXPECT_TRUE(client->wait_shown("caf\xC3\xA9 na\xC3\xAFve", SHORT_MS)) << trace();
    // Typed UTF-8 leaves in the server's set; what it cannot hold becomes "?".
    ASSERT_TRUE(client->type("/quote PRIVMSG #x :caf\xC3\xA9 5\xE2\x82\xAC"));
    EXPECT_TRUE(ircd.wait_received(1, "PRIVMSG #x :caf\xe9 5?\r\n", SHORT_MS)) << trace();
    quit_client();
}

TEST_F(ConnectBytes, ServerHangingUpIsShownAndTheClientReconnects)
{
    ASSERT_NO_FATAL_FAILURE(start_client({"net_reconnect_delay 1"}));
    connect_client();

    ASSERT_TRUE(ircd.hang_up()) << trace();
    EXPECT_TRUE(client->wait_shown("Disconnected", SHORT_MS)) << trace();
    ASSERT_TRUE(ircd.wait_accepted(2, 10000)) << "reconnected after net_reconnect_delay\n" << trace();
    EXPECT_TRUE(ircd.wait_received(2, "NICK tester\r\nUSER tuser 0 * :Test Real\r\n", SHORT_MS)) << trace();
    quit_client();
}

TEST_F(ConnectBytes, FloodClockSendsABurstThenAboutOneLineEveryTwoSeconds)
{
    ASSERT_NO_FATAL_FAILURE(start_client());
    connect_client();
    queue_flood(10);

    // Five lines at once, then one every two seconds: about 16 s; 30 s bounds it.
    ASSERT_TRUE(ircd.wait_lines(
        [](const std::vector<received_line> &lines) {
            return std::count_if(lines.begin(), lines.end(),
                                 [](const received_line &l) { return l.bytes.rfind("FLOOD ", 0) == 0; }) >= 10;
        },
        30000))
        << trace();

    const std::vector<received_line> all = ircd.lines();
    const std::vector<received_line> flood = received_starting("FLOOD ");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(flood[static_cast<std::size_t>(i)].bytes, "FLOOD " + std::to_string(i + 1) + "\r\n")
            << "the order typed is kept";

    // Every line of the connection, registration included, runs the same clock:
    // the k-th line (from 0) may leave once the clock, 2 s per line ahead, is less
    // than 10 s ahead of now: five at once, then one every 2 s. Whole seconds make
    // each line up to a second early (twice that against the first line's own
    // second); longer lines only make later lines later.
    const int start = all.front().ms;
    for (std::size_t k = 5; k < all.size(); ++k)
        EXPECT_GE(all[k].ms - start, (2 * static_cast<int>(k) - 11) * 1000)
            << "line " << k << " left too early: " << printable(all[k].bytes) << "\n"
            << trace();
    const auto at_once =
        std::count_if(all.begin(), all.end(), [&](const received_line &l) { return l.ms - start < 1000; });
    // A loaded machine may type the queued lines a little late; at least the
    // registration burst always leaves together.
    EXPECT_GE(at_once, 3) << "the first lines leave together\n" << trace();
    EXPECT_LE(at_once, 6) << trace();
    // ... and the queue keeps draining at about that pace (a 500 ms pump).
    const int spread = flood.back().ms - flood.front().ms;
    EXPECT_GE(spread, 10000) << trace();
    EXPECT_LE(spread, 30000) << trace();
    quit_client();
}

TEST_F(ConnectBytes, WithoutThrottleEveryLineLeavesAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(start_client({"net_throttle 0"}));
    connect_client();
    queue_flood(10);

    ASSERT_TRUE(ircd.wait_lines(
        [](const std::vector<received_line> &lines) {
            return std::count_if(lines.begin(), lines.end(),
                                 [](const received_line &l) { return l.bytes.rfind("FLOOD ", 0) == 0; }) >= 10;
        },
        SHORT_MS))
        << trace();
    const std::vector<received_line> flood = received_starting("FLOOD ");
    // Throttled, these ten would spread over about 16 s.
    EXPECT_LT(flood.back().ms - flood.front().ms, 2000) << trace();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(flood[static_cast<std::size_t>(i)].bytes, "FLOOD " + std::to_string(i + 1) + "\r\n");
    quit_client();
}

TEST_F(ConnectBytes, FlushqDropsTheQueuedLinesAndDisconnectStillSendsQuit)
{
    ASSERT_NO_FATAL_FAILURE(start_client());
    connect_client();
    queue_flood(10);
    ASSERT_TRUE(ircd.wait_received(1, "FLOOD 1\r\n", SHORT_MS)) << trace();
    ASSERT_TRUE(client->type("/flushq"));
    EXPECT_TRUE(client->wait_shown("Flushing server send queue", SHORT_MS)) << trace();

    client->settle(300); // a line that was already on its way
    const std::size_t after_flush = received_starting("FLOOD ").size();
    client->settle(3000);
    EXPECT_EQ(received_starting("FLOOD ").size(), after_flush) << "nothing queued is sent after /FLUSHQ\n" << trace();
    EXPECT_LT(after_flush, 10u) << trace();

    // QUIT goes ahead of lines still waiting in the queue.
    queue_flood(10);
    ASSERT_TRUE(client->type("/discon"));
    // The socket itself is closed a few seconds after the QUIT, so that it can leave.
    EXPECT_TRUE(ircd.wait_closed(1, 10000)) << trace();
    EXPECT_EQ(received_starting("QUIT").size(), 1u) << trace();
    EXPECT_LT(received_starting("FLOOD ").size(), after_flush + 10) << trace();
    quit_client();
}

} // namespace

} // namespace connect_test
