// ISON polling against the scripted server (tests/harness/scripted-ircd.py),
// which offers neither MONITOR nor WATCH: a friends list too long for one
// line is asked in rounds that take turns, each within the line limit, and
// each reply changes only the nicks its own round asked.
#include "connect_fixture.h"

#include <glib.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace connect_test
{
namespace
{

constexpr const char *SERVER = ":irc.test ";
constexpr int FRIENDS = 60;

std::string friend_nick(int i)
{
    char nick[16];
    g_snprintf(nick, sizeof nick, "friend%06d", i);
    return nick;
}

class IsonRounds : public ConnectTest
{
  protected:
    // The nicks of every ISON line connection 1 sent, in order.
    std::vector<std::vector<std::string>> rounds() const
    {
        std::vector<std::vector<std::string>> out;
        for (const received_line &l : ircd.lines()) {
            if (l.conn != 1 || l.bytes.rfind("ISON ", 0) != 0)
                continue;
            std::vector<std::string> nicks;
            std::istringstream words(l.bytes.substr(5));
            for (std::string w; words >> w;)
                nicks.push_back(w);
            out.push_back(nicks);
        }
        return out;
    }
    int shown(std::string_view text) const
    {
        int n = 0;
        std::istringstream in(client->out());
        for (std::string line; std::getline(in, line);)
            n += line.find(text) != std::string::npos;
        return n;
    }
    std::string trace() const { return context() + "--- scripted server:\n" + ircd.transcript(); }

    scripted_server ircd;
};

TEST_F(IsonRounds, LongListsAreAskedInTurnsAndRepliesChangeOnlyTheirRound)
{
    ASSERT_TRUE(ircd.ok()) << ircd.transcript();
    const std::filesystem::path cfg = lab.dir() / "client" / "cfg";
    std::filesystem::create_directories(cfg);
    {
        std::ofstream notify(cfg / "notify.conf");
        for (int i = 0; i < FRIENDS; i++)
            notify << friend_nick(i) << "\n";
    }
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION, "notify_timeout 1"}));
    ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(ircd.port())));
    ASSERT_TRUE(ircd.wait_received(1, "\r\nUSER ", SHORT_MS)) << trace();
    ASSERT_TRUE(ircd.send(std::string(SERVER) + "001 tester :Welcome\r\n" + SERVER +
                          "005 tester CHANTYPES=# :are supported\r\n" + SERVER + "376 tester :End of MOTD\r\n"));
    ASSERT_TRUE(ircd.wait_lines([&](const std::vector<received_line> &) { return rounds().size() >= 3; }, 10000))
        << trace();

    const auto asked = rounds();
    std::set<std::string> covered;
    for (const received_line &l : ircd.lines()) {
        if (l.bytes.rfind("ISON ", 0) == 0) {
            EXPECT_LE(l.bytes.size(), 512u) << l.bytes;
        }
    }
    for (std::size_t r = 0; r < 2; r++)
        covered.insert(asked[r].begin(), asked[r].end());
    EXPECT_EQ(covered.size(), std::size_t(FRIENDS)) << "two rounds ask everyone\n" << trace();
    ASSERT_GT(asked[0].size(), 24u);

    // Everyone of the first round is online, more than 24 names in one reply.
    std::string online;
    for (const std::string &n : asked[0])
        online += n + " ";
    ASSERT_TRUE(ircd.send(std::string(SERVER) + "303 tester :" + online + "\r\n"));
    ASSERT_TRUE(client->wait_shown(asked[0].back() + " is online", SHORT_MS)) << trace();
    EXPECT_EQ(shown(" is online"), static_cast<int>(asked[0].size())) << trace();

    // The second round hears nobody: only its own nicks may go offline.
    ASSERT_TRUE(ircd.send(std::string(SERVER) + "303 tester :\r\n" + SERVER + "NOTICE tester :after-round-2\r\n"));
    ASSERT_TRUE(client->wait_shown("after-round-2", SHORT_MS)) << trace();
    int went_offline = 0;
    for (const std::string &n : asked[0]) {
        const bool asked_again = std::find(asked[1].begin(), asked[1].end(), n) != asked[1].end();
        const bool offline = shown(n + " is offline") > 0;
        EXPECT_EQ(offline, asked_again) << n << "\n" << trace();
        went_offline += offline;
    }
    EXPECT_EQ(shown(" is offline"), went_offline) << "nobody offline who was not online\n" << trace();
}

} // namespace
} // namespace connect_test
