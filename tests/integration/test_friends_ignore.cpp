// Friends, ignores and the CTCP flood guard against a real InspIRCd, with
// peers (tests/harness/irc-bots.py) coming and going and sending one of each
// kind of traffic.
#include "connect_fixture.h"
#include "irc_bots.h"

#include <sstream>

namespace connect_test
{
namespace
{

constexpr int PEER_MS = 8000;

class FriendsIgnoreTest : public ConnectTest
{
  protected:
    // Lines the client showed holding `text` (in any tab).
    int shown(std::string_view text) const
    {
        int n = 0;
        std::istringstream in(client->out());
        for (std::string line; std::getline(in, line);)
            n += line.find(text) != std::string::npos;
        return n;
    }
    bool wait_shown(std::string_view text, int times = 1)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(PEER_MS) * 1000;
        while (shown(text) < times) {
            if (g_get_monotonic_time() >= deadline)
                return false;
            client->settle(30);
            bots->poll(1);
        }
        return true;
    }
    bool peer_saw(const std::string &nick, std::string_view text, int times = 1)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(PEER_MS) * 1000;
        while (bots->count(nick, [&](const std::string &l) { return l.find(text) != std::string::npos; }) < times) {
            if (g_get_monotonic_time() >= deadline)
                return false;
            bots->poll(30);
            client->settle(20);
        }
        return true;
    }
    std::string all() const { return context() + (bots ? bots->transcript() : ""); }

    void connect_client()
    {
        ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(lab.port("irc"))));
        ASSERT_TRUE(registered()) << all();
    }

    std::unique_ptr<irc_bots> bots;
};

TEST_F(FriendsIgnoreTest, FriendsComeOnlineAndGoOfflineOnTheirNetwork)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    bots = std::make_unique<irc_bots>(lab.port("irc"));
    ASSERT_TRUE(client->type("/notify pal"));
    ASSERT_TRUE(client->type("/notify -n SomewhereElse other"));
    ASSERT_NO_FATAL_FAILURE(connect_client());

    ASSERT_TRUE(bots->run("connect pal other")) << all();
    ASSERT_TRUE(wait_shown("Notify: pal is online")) << all();
    ASSERT_TRUE(bots->run("close pal")) << all();
    ASSERT_TRUE(wait_shown("Notify: pal is offline")) << all();
    // The event names the network the client is on, not some other one.
    EXPECT_EQ(shown("is online (SomewhereElse)"), 0) << all();
    client->settle(300);
    EXPECT_EQ(shown("Notify: other is"), 0) << "tracked only on its own network\n" << all();

    // Added while connected: watched at once.
    ASSERT_TRUE(bots->run("connect late")) << all();
    ASSERT_TRUE(client->type("/notify late"));
    ASSERT_TRUE(wait_shown("Notify: late is online")) << all();
    ASSERT_TRUE(client->type("/notify"));
    ASSERT_TRUE(wait_shown("late                 online")) << all();
}

TEST_F(FriendsIgnoreTest, EachKindOfIgnoreDropsOnlyItsKind)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION, "flood_ctcp_num 50", "flood_msg_num 50"}));
    bots = std::make_unique<irc_bots>(lab.port("irc"));
    ASSERT_TRUE(bots->run("connect spam")) << all();
    ASSERT_TRUE(bots->send("spam", "JOIN #room"));
    ASSERT_TRUE(peer_saw("spam", "JOIN")) << all();
    ASSERT_NO_FATAL_FAILURE(connect_client());
    ASSERT_TRUE(client->type("/join #room"));
    ASSERT_TRUE(wait_shown("Now talking on #room")) << all();

    struct kind {
        const char *name;
        std::string send;  // what spam sends, with TOKEN in it
        const char *shows; // what the client shows for it, with TOKEN
    };
    const kind kinds[] = {
        {"PRIV", "PRIVMSG tester :priv-TOKEN", "priv-TOKEN"},
        {"NOTI", "NOTICE tester :noti-TOKEN", "noti-TOKEN"},
        {"CHAN", "PRIVMSG #room :chan-TOKEN", "chan-TOKEN"},
        {"CTCP", "PRIVMSG tester :\001PING ctcp-TOKEN\001", "ctcp-TOKEN"},
        {"INVI", "INVITE tester #invi-TOKEN", "#invi-TOKEN"},
        {"DCC", "PRIVMSG tester :\001DCC SEND dcc-TOKEN 2130706433 5000 10\001", "dcc-TOKEN"},
    };
    int round = 0;
    for (const kind &ignored : kinds) {
        round++;
        ASSERT_TRUE(client->type(std::string("/ignore spam ") + ignored.name + " QUIET"));
        for (const kind &k : kinds) {
            std::string line = k.send;
            const std::string token = std::to_string(round) + ignored.name;
            line.replace(line.find("TOKEN"), 5, token);
            if (k.send.rfind("INVITE", 0) == 0) {
                // An invitation needs spam on the channel it invites to.
                const std::string chan = "#invi-" + token;
                ASSERT_TRUE(bots->send("spam", "JOIN " + chan));
                ASSERT_TRUE(peer_saw("spam", "JOIN :" + chan)) << all();
            }
            ASSERT_TRUE(bots->send("spam", line));
        }
        // The topic is never ignored and arrives after all of them.
        const std::string marker = "marker-" + std::to_string(round);
        ASSERT_TRUE(bots->send("spam", "TOPIC #room :" + marker));
        ASSERT_TRUE(wait_shown(marker)) << all();
        for (const kind &k : kinds) {
            std::string text = k.shows;
            text.replace(text.find("TOKEN"), 5, std::to_string(round) + ignored.name);
            if (&k == &ignored)
                EXPECT_EQ(shown(text), 0) << ignored.name << " lets through " << text << "\n" << all();
            else
                EXPECT_GT(shown(text), 0) << ignored.name << " drops " << text << "\n" << all();
        }
    }
    ASSERT_TRUE(client->type("/ignore"));
    ASSERT_TRUE(wait_shown(" spam!*@*                  NO   NO   NO   NO   YES  NO   NO")) << all();
}

TEST_F(FriendsIgnoreTest, CtcpFloodIgnoresTheSender)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION, "flood_ctcp_num 5", "flood_ctcp_time 30"}));
    bots = std::make_unique<irc_bots>(lab.port("irc"));
    ASSERT_NO_FATAL_FAILURE(connect_client());
    ASSERT_TRUE(bots->run("connect pest")) << all();
    for (int i = 1; i <= 6; i++)
        ASSERT_TRUE(bots->send("pest", "PRIVMSG tester :\001PING " + std::to_string(i) + "\001"));
    ASSERT_TRUE(wait_shown("You are being CTCP flooded from pest, ignoring *!*@")) << all();
    ASSERT_TRUE(peer_saw("pest", "\001PING 4\001")) << all();
    bots->poll(500);
    EXPECT_EQ(bots->count("pest", [](const std::string &l) { return l.find("\001PING 5\001") != std::string::npos; }),
              0)
        << "the fifth is the flood\n"
        << all();
    EXPECT_EQ(bots->count("pest", [](const std::string &l) { return l.find("\001PING 6\001") != std::string::npos; }),
              0)
        << "and the sender is ignored after it\n"
        << all();
}

} // namespace
} // namespace connect_test
