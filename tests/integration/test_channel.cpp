// A channel on a real InspIRCd as lumenwick-text lives it: bots (a stdin-
// driven asyncio script) join, talk, act, notice, change nick, set topics
// and modes, kick, part and quit. Each event must land in the right tab —
// which also proves the user lists behind it, since quits and nick changes
// are shown only where the nick is listed — and the bots see what the
// client sent.
#include "connect_fixture.h"
#include "irc_bots.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace connect_test
{
namespace
{

class ChannelTest : public ConnectTest
{
  protected:
    // Lines the client showed in tab `tab` that hold `text`.
    int tab_count(const std::string &tab, std::string_view text) const
    {
        return irc_bots::count_lines(client->out(), tab + "\t", text);
    }
    bool tab_shows(const std::string &tab, std::string_view text, int times = 1)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(SHORT_MS) * 1000;
        while (tab_count(tab, text) < times) {
            if (g_get_monotonic_time() >= deadline)
                return false;
            client->settle(50);
        }
        return true;
    }
    std::string all() const { return context() + (bots ? bots->transcript() : ""); }

    std::unique_ptr<irc_bots> bots;
};

TEST_F(ChannelTest, EveryEventLandsInItsTab)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    const int port = lab.port("irc");
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION, "irc_auto_rejoin 1", "irc_who_join 1"}));
    bots = std::make_unique<irc_bots>(port);

    // alice opens both channels (and so holds their operator status);
    // dave is only in #other.
    ASSERT_TRUE(bots->run("connect alice dave eve")) << all();
    ASSERT_TRUE(bots->send("alice", "JOIN #room,#other"));
    ASSERT_TRUE(bots->send("dave", "JOIN #other"));
    ASSERT_TRUE(bots->saw("alice", "JOIN :#other")) << all();

    ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(port)));
    ASSERT_TRUE(registered()) << all();
    ASSERT_TRUE(client->type("/quote JOIN #room,#other"));
    ASSERT_TRUE(tab_shows("#room", "Now talking on #room")) << all();
    ASSERT_TRUE(tab_shows("#other", "Now talking on #other")) << all();
    EXPECT_TRUE(bots->saw("alice", ":tester!", 1, "JOIN :#room")) << "the client's JOIN reached the channel\n" << all();

    ASSERT_TRUE(bots->run("connect bob carol")) << all();
    ASSERT_TRUE(bots->send("bob", "JOIN #room"));
    ASSERT_TRUE(bots->send("carol", "JOIN #room"));
    ASSERT_TRUE(tab_shows("#room", "carol (")) << all();
    EXPECT_EQ(tab_count("#room", "has joined"), 2) << all();

    // Talk in every form.
    ASSERT_TRUE(bots->send("alice", "PRIVMSG #room :hello tester"));
    ASSERT_TRUE(bots->send("bob", "PRIVMSG #room :\001ACTION waves\x01"));
    ASSERT_TRUE(bots->send("carol", "NOTICE #room :notice to all"));
    ASSERT_TRUE(client->type("/quote PRIVMSG #room :hi from tester"));
    EXPECT_TRUE(tab_shows("#room", "hello tester")) << all();
    EXPECT_TRUE(tab_shows("#room", "bob waves")) << all();
    EXPECT_TRUE(tab_shows("#room", "-carol/#room-")) << all();
    EXPECT_TRUE(tab_shows("#room", "hi from tester")) << "the echo of the own message\n" << all();
    EXPECT_TRUE(bots->saw("bob", "PRIVMSG #room :hi from tester")) << all();
    // CTCP requests from another client are answered and shown.
    ASSERT_TRUE(bots->send("alice", "PRIVMSG tester :\001VERSION\001"));
    ASSERT_TRUE(bots->send("alice", "PRIVMSG tester :\001PING 12345\001"));
    EXPECT_TRUE(bots->saw("alice", "NOTICE alice :\001VERSION ")) << all();
    EXPECT_TRUE(bots->saw("alice", "NOTICE alice :\001PING 12345\001")) << all();
    ASSERT_TRUE(bots->send("eve", "PRIVMSG tester :psst"));
    EXPECT_TRUE(tab_shows("eve", "psst")) << "a private message opens a dialog\n" << all();

    // Nick, topic and modes.
    ASSERT_TRUE(bots->send("bob", "NICK robert"));
    ASSERT_TRUE(bots->send("alice", "TOPIC #room :fresh topic"));
    ASSERT_TRUE(bots->send("alice", "MODE #room +ov robert carol"));
    ASSERT_TRUE(bots->send("alice", "MODE #room +bkl *!*@bad.example sesame 10"));
    ASSERT_TRUE(bots->send("alice", "MODE #room -k sesame"));
    EXPECT_TRUE(tab_shows("#room", "bob is now known as robert")) << all();
    EXPECT_TRUE(tab_shows("#room", "alice has changed the topic of #room to: fresh topic")) << all();
    EXPECT_TRUE(tab_shows("#room", "gives channel operator status to robert")) << all();
    EXPECT_TRUE(tab_shows("#room", "gives voice to carol")) << all();
    EXPECT_TRUE(tab_shows("#room", "sets ban on *!*@bad.example")) << all();
    EXPECT_TRUE(tab_shows("#room", "sets the channel keyword to sesame")) << all();
    EXPECT_TRUE(tab_shows("#room", "sets the channel limit to 10")) << all();
    EXPECT_TRUE(tab_shows("#room", "removes the channel keyword")) << all();
    EXPECT_EQ(tab_count("#other", "now known as"), 0) << "bob was never in #other\n" << all();

    // Leaving in every form.
    ASSERT_TRUE(bots->send("alice", "KICK #room carol :bye"));
    ASSERT_TRUE(bots->send("bob", "PART #room :later")); // bots keep their first nick as handle
    ASSERT_TRUE(bots->send("dave", "QUIT :gone"));
    EXPECT_TRUE(tab_shows("#room", "alice has kicked carol from #room (bye)")) << all();
    EXPECT_TRUE(tab_shows("#room", "robert (")) << all();
    EXPECT_TRUE(tab_shows("#room", "has left (later)")) << all();
    EXPECT_TRUE(tab_shows("#other", "dave has quit (Quit: gone)")) << all();
    EXPECT_EQ(tab_count("#room", "dave has quit"), 0) << "dave was only in #other\n" << all();

    // Kicked: shown, and joined again at once.
    ASSERT_TRUE(bots->send("alice", "KICK #room tester :out"));
    EXPECT_TRUE(tab_shows("#room", "You have been kicked from #room by alice (out)")) << all();
    EXPECT_TRUE(tab_shows("#room", "Now talking on #room", 2)) << all();
    EXPECT_TRUE(bots->saw("alice", ":tester!", 2, "JOIN :#room")) << "the client rejoined\n" << all();

    ASSERT_TRUE(bots->send("alice", "QUIT :done"));
    EXPECT_TRUE(tab_shows("#room", "alice has quit (Quit: done)")) << all();
    EXPECT_TRUE(tab_shows("#other", "alice has quit (Quit: done)")) << all();
    quit_client();

    // The conversation was logged under logs/, with time stamps and the
    // BEGIN/ENDING lines around it.
    std::string room_log;
    const std::filesystem::path logs = lab.dir() / "client" / "cfg" / "logs";
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(logs, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename() == "#room.log") {
            std::ifstream in(it->path());
            std::stringstream ss;
            ss << in.rdbuf();
            room_log = ss.str();
        }
    }
    ASSERT_FALSE(room_log.empty()) << "no #room.log under " << logs;
    EXPECT_EQ(room_log.rfind("**** BEGIN LOGGING AT ", 0), 0u) << room_log;
    EXPECT_NE(room_log.find("**** ENDING LOGGING AT "), std::string::npos) << room_log;
    std::istringstream lines(room_log);
    std::string line, hello;
    while (std::getline(lines, line))
        if (line.find("hello tester") != std::string::npos)
            hello = line;
    ASSERT_FALSE(hello.empty()) << room_log;
    EXPECT_NE(hello.find("alice"), std::string::npos) << hello;
    EXPECT_TRUE(g_regex_match_simple("^[A-Z][a-z][a-z] [ 0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] ", hello.c_str(),
                                     G_REGEX_DEFAULT, G_REGEX_MATCH_DEFAULT))
        << "the line starts with the log stamp: " << hello;
    EXPECT_EQ(hello.find('\x03'), std::string::npos) << "no colour codes in the log: " << hello;
}

} // namespace
} // namespace connect_test
