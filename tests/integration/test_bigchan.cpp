// A channel of two thousand real clients on InspIRCd (tests/harness/bigchan.py,
// one asyncio process), joined by lumenwick-text: the client must list every
// member once, in the order of the server's nick comparison, with the right
// operator and voice marks, and keep that list right while members part, quit,
// are kicked, change nick and are given or lose status, and when a fresh NAMES
// reply replaces the list.
#include "connect_fixture.h"
#include "userlist_listing.h"

#include <glib.h>

#include <algorithm>
#include <map>
#include <sstream>

namespace connect_test
{
namespace
{

constexpr int CROWD_SIZE = 2000;
constexpr const char *CHANNEL = "#big";
// Two thousand registrations at 500 at a time, each finished in InspIRCd's
// once-a-second housekeeping, take 5-10 s on two busy cores; a minute is a hang.
constexpr int CROWD_UP_MS = 60000;
// The NAMES burst of 2,001 nicks, and a listing of as many lines.
constexpr int BURST_MS = 20000;

// tests/harness/bigchan.py, driven through its standard input.
class crowd
{
  public:
    explicit crowd(int port)
        : proc_(std::make_unique<child_process>(
              "/usr/bin/python3", run_options{{std::string(LUMENWICK_HARNESS_DIR) + "/bigchan.py", std::to_string(port),
                                               "--clients", std::to_string(CROWD_SIZE), "--channel", CHANNEL},
                                              {},
                                              {}}))
    {
    }

    // Waits until every member has joined; the nicks are in nicks() then.
    bool wait_up()
    {
        if (!proc_->wait_for([](const std::string &out) { return out.find("CROWD ") != std::string::npos; },
                             CROWD_UP_MS))
            return false;
        const std::string &out = proc_->out();
        const std::size_t at = out.find("NICKS ");
        if (at == std::string::npos)
            return false;
        std::istringstream words(out.substr(at + 6, out.find('\n', at) - at - 6));
        for (std::string nick; words >> nick;)
            nicks_.push_back(nick);
        const std::string up = "CROWD up=" + std::to_string(CROWD_SIZE) + "/" + std::to_string(CROWD_SIZE) + " ";
        return out.find(up) != std::string::npos && nicks_.size() == static_cast<std::size_t>(CROWD_SIZE);
    }
    const std::vector<std::string> &nicks() const { return nicks_; }
    const std::string &nick(int i) const { return nicks_.at(static_cast<std::size_t>(i)); }

    // One command, answered "ok N" or "fail N why".
    bool run(const std::string &command)
    {
        const std::string n = std::to_string(++commands_);
        if (!proc_->write(command + "\n"))
            return false;
        proc_->wait_for(
            [&](const std::string &out) {
                return out.find("ok " + n + "\n") != std::string::npos ||
                       out.find("fail " + n + " ") != std::string::npos;
            },
            SHORT_MS * 2);
        return proc_->out().find("ok " + n + "\n") != std::string::npos;
    }
    bool send(int member, const std::string &raw) { return run("send " + nick(member) + " " + raw); }
    bool quit(int member, const std::string &reason) { return run("quit " + nick(member) + " " + reason); }

    std::string transcript() const
    {
        // The nick list alone is 14 kB; the rest is what matters.
        std::string out = proc_->out();
        const std::size_t nicks = out.find("NICKS ");
        if (nicks != std::string::npos)
            out.erase(nicks + 6, out.find('\n', nicks) - nicks - 6);
        return "--- crowd:\n" + out + proc_->err();
    }

  private:
    std::unique_ptr<child_process> proc_;
    std::vector<std::string> nicks_;
    int commands_ = 0;
};

// What the list should hold: nick -> (op, voice).
using expected_list = std::map<std::string, std::pair<bool, bool>>;

class BigChannel : public ConnectTest
{
  protected:
    // Lines shown in the channel tab that hold `text`.
    int tab_count(std::string_view text) const
    {
        int n = 0;
        std::istringstream in(client->out());
        const std::string start = std::string(CHANNEL) + "\t";
        for (std::string line; std::getline(in, line);)
            n += line.rfind(start, 0) == 0 && line.find(text) != std::string::npos;
        return n;
    }
    bool tab_shows(std::string_view text, int times = 1)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(SHORT_MS) * 2000;
        while (tab_count(text) < times) {
            if (g_get_monotonic_time() >= deadline)
                return false;
            client->settle(50);
        }
        return true;
    }

    // A member says something; once the client shows it, everything the
    // server sent the client before it has been handled.
    void sync(const std::string &marker)
    {
        ASSERT_TRUE(people->send(0, std::string("PRIVMSG ") + CHANNEL + " :" + marker)) << all();
        ASSERT_TRUE(client->wait_shown(marker, BURST_MS)) << all();
    }

    // The client's list against `want`: every nick once, with its marks, in
    // the order of the server's nick comparison.
    void expect_list(const expected_list &want, const std::string &when)
    {
        std::vector<listing::listed_user> got;
        ASSERT_TRUE(listing::fetch(*client, CHANNEL, got, BURST_MS)) << when << "\n" << all();
        std::vector<std::string> want_nicks;
        for (const auto &[nick, marks] : want)
            want_nicks.push_back(nick);
        const std::vector<std::string> got_nicks = listing::nicks_of(got);
        std::vector<std::string> sorted_got = got_nicks;
        std::sort(sorted_got.begin(), sorted_got.end());
        EXPECT_TRUE(sorted_got == want_nicks) << when << ": " << listing::difference(want_nicks, got_nicks);
        EXPECT_EQ(listing::order_fault(got, cmp), "") << when;
        int wrong_marks = 0;
        for (const listing::listed_user &u : got) {
            const auto it = want.find(u.nick);
            if (it == want.end() || it->second == std::make_pair(u.op, u.voice))
                continue;
            if (++wrong_marks <= 10)
                ADD_FAILURE() << when << ": " << u << " should be" << (it->second.first ? " @" : "")
                              << (it->second.second ? " +" : "")
                              << (it->second.first || it->second.second ? "" : " plain");
        }
        EXPECT_EQ(wrong_marks, 0) << when;
    }

    // The tails of what the client, the crowd and the scripts said: a full
    // transcript holds thousands of listed users.
    std::string all() const
    {
        auto tail = [](const std::string &s) { return s.size() > 8000 ? "..." + s.substr(s.size() - 8000) : s; };
        std::string text = "--- harness:\n" + lab.log();
        if (client)
            text += "--- client stdout (tail):\n" + tail(client->out()) + "--- client stderr (tail):\n" +
                    tail(client->err());
        return text + (people ? tail(people->transcript()) : "");
    }

    void finish_client()
    {
        const run_result r = client->finish(EXIT_MS);
        EXPECT_FALSE(r.timed_out) << all();
        EXPECT_EQ(r.exit_code, 0) << all();
    }

    std::unique_ptr<crowd> people;
    listing::nick_cmp cmp = listing::rfc1459_cmp;
};

TEST_F(BigChannel, TwoThousandMembersStayListedSortedAndMarkedThroughEveryChange)
{
    // Room for the crowd, the client and the ircd's own descriptors.
    ASSERT_TRUE(lab.script("ircd-up.sh", {}, {{"IRCD_NOFILE", "8192"}})) << lab.log();
    const int port = lab.port("irc");
    people = std::make_unique<crowd>(port);
    ASSERT_TRUE(people->wait_up()) << all();

    // No WHO on join: the list must come from the NAMES burst alone.
    ASSERT_NO_FATAL_FAILURE(start_client({"irc_who_join 0"}));
    ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(port)));
    ASSERT_TRUE(registered()) << all();
    // The ISUPPORT lines follow the welcome.
    ASSERT_TRUE(client->wait_shown("CASEMAPPING=", SHORT_MS)) << "the server announces its nick comparison\n" << all();
    const std::size_t casemapping = client->out().find("CASEMAPPING=");
    if (client->out().compare(casemapping + 12, 5, "ascii") == 0)
        cmp = listing::ascii_cmp;

    const gint64 join_started = g_get_monotonic_time();
    ASSERT_TRUE(client->type(std::string("/quote JOIN ") + CHANNEL));
    ASSERT_TRUE(tab_shows("Now talking on #big")) << all();
    ASSERT_NO_FATAL_FAILURE(sync("names-are-in"));
    const double join_secs = static_cast<double>(g_get_monotonic_time() - join_started) / 1e6;
    RecordProperty("join_to_end_of_names_ms", static_cast<int>(join_secs * 1000));
    EXPECT_LT(join_secs, 10.0) << "joining a channel of 2,001 takes well under a second on loopback";

    // The channel's creator holds operator status; nobody else has any.
    expected_list want;
    for (const std::string &nick : people->nicks())
        want[nick] = {false, false};
    want[people->nick(0)] = {true, false};
    want[NICK] = {false, false};
    ASSERT_NO_FATAL_FAILURE(expect_list(want, "after the join"));
    ASSERT_EQ(want.size(), static_cast<std::size_t>(CROWD_SIZE + 1));

    // Leaving in every form. The crowd's QUITs come back with the server's
    // "Quit: " in front.
    for (int k = 1; k <= 5; ++k) {
        ASSERT_TRUE(people->send(100 + k, std::string("PART ") + CHANNEL + " :part-reason-" + std::to_string(k)));
        want.erase(people->nick(100 + k));
        ASSERT_TRUE(people->quit(200 + k, "quit-reason-" + std::to_string(k))) << all();
        want.erase(people->nick(200 + k));
    }
    ASSERT_TRUE(people->send(0, std::string("KICK ") + CHANNEL + " " + people->nick(500) + " :kick-reason"));
    want.erase(people->nick(500));
    for (int k = 1; k <= 5; ++k) {
        EXPECT_TRUE(tab_shows("has left (part-reason-" + std::to_string(k) + ")")) << all();
        EXPECT_TRUE(tab_shows(people->nick(200 + k) + " has quit (Quit: quit-reason-" + std::to_string(k) + ")"))
            << all();
    }
    EXPECT_TRUE(tab_shows("has kicked " + people->nick(500) + " from #big (kick-reason)")) << all();

    // Status: given to several at once, taken from one, given to the client.
    const std::string op_line = people->nick(401) + " " + people->nick(402) + " " + people->nick(403);
    ASSERT_TRUE(people->send(0, std::string("MODE ") + CHANNEL + " +ooo " + op_line));
    ASSERT_TRUE(
        people->send(0, std::string("MODE ") + CHANNEL + " +vv " + people->nick(404) + " " + people->nick(405)));
    ASSERT_TRUE(people->send(0, std::string("MODE ") + CHANNEL + " -o " + people->nick(401)));
    ASSERT_TRUE(people->send(0, std::string("MODE ") + CHANNEL + " +ov " + NICK + " " + NICK));
    want[people->nick(402)] = want[people->nick(403)] = {true, false};
    want[people->nick(404)] = want[people->nick(405)] = {false, true};
    want[NICK] = {true, true};
    EXPECT_TRUE(tab_shows("gives channel operator status to " + op_line)) << all();
    EXPECT_TRUE(tab_shows("gives voice to " + people->nick(404) + " " + people->nick(405))) << all();
    EXPECT_TRUE(tab_shows("removes channel operator status from " + people->nick(401))) << all();
    EXPECT_TRUE(tab_shows("gives channel operator status to tester")) << all();

    // New nicks move in the order; status goes with the nick. One change is
    // of case only, which the server's comparison takes for the same nick.
    ASSERT_TRUE(people->send(0, std::string("MODE ") + CHANNEL + " +o " + people->nick(301)));
    EXPECT_TRUE(tab_shows("gives channel operator status to " + people->nick(301))) << all();
    want[people->nick(301)] = {true, false};
    for (int k = 1; k <= 5; ++k) {
        const std::string old_nick = people->nick(300 + k);
        const std::string new_nick = (k % 2 ? "^moved" : "Aaa-moved") + std::to_string(k);
        ASSERT_TRUE(people->send(300 + k, "NICK " + new_nick));
        want[new_nick] = want[old_nick];
        want.erase(old_nick);
        EXPECT_TRUE(tab_shows(old_nick + " is now known as " + new_nick)) << all();
    }
    std::string case_only = people->nick(3);
    for (char &c : case_only)
        c = g_ascii_isupper(c) ? g_ascii_tolower(c) : g_ascii_toupper(c);
    ASSERT_TRUE(people->send(3, "NICK " + case_only));
    want[case_only] = want[people->nick(3)];
    want.erase(people->nick(3));
    EXPECT_TRUE(tab_shows(people->nick(3) + " is now known as " + case_only)) << all();

    ASSERT_NO_FATAL_FAILURE(sync("changes-are-in"));
    ASSERT_NO_FATAL_FAILURE(expect_list(want, "after parts, quits, a kick, status and nick changes"));
    EXPECT_EQ(want.size(), static_cast<std::size_t>(CROWD_SIZE + 1 - 11));

    // A NAMES reply asked for later replaces the list rather than adding to it.
    const int shown_before = tab_count("Users on #big: ");
    ASSERT_TRUE(client->type(std::string("/quote NAMES ") + CHANNEL));
    EXPECT_TRUE(tab_shows("Users on #big: ", shown_before + 1)) << "a requested NAMES reply is shown\n" << all();
    ASSERT_NO_FATAL_FAILURE(sync("fresh-names-are-in"));
    ASSERT_NO_FATAL_FAILURE(expect_list(want, "after a fresh NAMES reply"));
    finish_client();
}

} // namespace
} // namespace connect_test
