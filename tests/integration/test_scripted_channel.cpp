// A channel fed exact server lines by the scripted server (tests/harness/
// scripted-ircd.py): ISUPPORT variants decide what NAMES items and MODE lines
// mean and how nicks compare; NAMES bursts of 50,000 and a netsplit's storm of
// QUITs must end in the right list in bounded time; hostile lines must neither
// crash nor stall the client, which still answers PING and shows the next
// message afterwards. The list is read back with /USERLIST.
#include "connect_fixture.h"
#include "userlist_listing.h"

#include <glib.h>

#include <algorithm>
#include <map>
#include <set>

namespace connect_test
{
namespace
{

constexpr const char *CHANNEL = "#chan";
constexpr const char *SERVER = ":irc.test ";
// What the client registers as, and the address the server gives it.
constexpr const char *ME = "tester!tuser@client.test";
// A NAMES line the way servers cut them: under the 512-byte line limit.
constexpr std::size_t NAMES_LINE_MAX = 510;
// Big bursts: generous for a Debug build with sanitizers on two busy cores.
constexpr int BURST_MS = 60000;

using listing::listed_user;

// Stems whose order differs between RFC 1459 and ASCII folding, in both cases.
const char *const STEMS[] = {"a", "B", "cat", "Dog", "[x", "{x", "]y", "}y", "\\z", "|z", "^w", "_v", "`u", "Mid", "q"};

std::string numbered_nick(int i)
{
    char num[16];
    g_snprintf(num, sizeof num, "%05d", i);
    return STEMS[static_cast<std::size_t>(i) % G_N_ELEMENTS(STEMS)] + std::string(num);
}

std::string two_digits(int i)
{
    char text[8];
    g_snprintf(text, sizeof text, "%02d", i);
    return text;
}

// 353 lines for `items` then the 366, as one block of bytes.
std::string names_reply(const std::vector<std::string> &items, const std::string &channel = CHANNEL)
{
    const std::string head = std::string(SERVER) + "353 tester = " + channel + " :";
    std::string out, line;
    for (const std::string &item : items) {
        if (!line.empty() && head.size() + line.size() + 1 + item.size() > NAMES_LINE_MAX) {
            out += head + line + "\r\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + item;
    }
    if (!line.empty())
        out += head + line + "\r\n";
    return out + SERVER + "366 tester " + channel + " :End of /NAMES list.\r\n";
}

class ScriptedChannel : public ConnectTest
{
  protected:
    void SetUp() override
    {
        ConnectTest::SetUp();
        ASSERT_TRUE(ircd.ok()) << ircd.transcript();
    }

    // Starts the client, connects it and welcomes it with these ISUPPORT
    // tokens (one 005 line each string). With `caps`, multi-prefix and
    // userhost-in-names are offered and acknowledged first.
    void welcome(const std::vector<std::string> &isupport, bool caps = false)
    {
        // No flood clock: the tests time the client, not the send queue.
        ASSERT_NO_FATAL_FAILURE(start_client({"irc_who_join 0", QUICK_SUCCESSION}));
        ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(ircd.port())));
        ASSERT_TRUE(ircd.wait_received(1, "\r\nUSER ", SHORT_MS)) << trace();
        if (caps) {
            ASSERT_TRUE(ircd.send(std::string(SERVER) + "CAP * LS :multi-prefix userhost-in-names\r\n"));
            ASSERT_TRUE(ircd.wait_received(1, "CAP REQ :", SHORT_MS)) << trace();
            const std::string got = ircd.received(1);
            const std::size_t req = got.find("CAP REQ :") + 9;
            const std::string wanted = got.substr(req, got.find('\r', req) - req);
            EXPECT_NE(wanted.find("userhost-in-names"), std::string::npos) << trace();
            ASSERT_TRUE(ircd.send(std::string(SERVER) + "CAP tester ACK :" + wanted + "\r\n"));
            ASSERT_TRUE(ircd.wait_received(1, "CAP END\r\n", SHORT_MS)) << trace();
        }
        std::string lines = std::string(SERVER) + "001 tester :Welcome to the scripted net " + ME + "\r\n";
        for (const std::string &tokens : isupport)
            lines += std::string(SERVER) + "005 tester " + tokens + " :are supported by this server\r\n";
        lines += std::string(SERVER) + "376 tester :End of /MOTD command.\r\n";
        ASSERT_TRUE(ircd.send(lines));
        ASSERT_TRUE(client->wait_shown("Welcome to the scripted net", SHORT_MS)) << trace();
    }

    // The client's own JOIN, then the names; returns once the tab is open.
    void join(const std::vector<std::string> &names)
    {
        ASSERT_TRUE(ircd.send(std::string(":") + ME + " JOIN " + CHANNEL + "\r\n" + names_reply(names)));
        ASSERT_TRUE(wait_new("Now talking on #chan", 0, SHORT_MS)) << trace();
    }

    // Sends `bytes` and then a notice; once the client shows the notice it
    // has handled every line before it.
    void feed(const std::string &bytes, int timeout_ms = SHORT_MS)
    {
        const std::string marker = "sync-" + std::to_string(++syncs_);
        const std::size_t from = client->out().size();
        ASSERT_TRUE(ircd.send(bytes + SERVER + "NOTICE tester :" + marker + "\r\n")) << trace();
        ASSERT_TRUE(wait_new(marker, from, timeout_ms)) << "the client stalled or died\n" << trace();
    }

    // The client still answers the server and shows what it is sent.
    void expect_alive(const std::string &tag)
    {
        const std::size_t from = client->out().size();
        ASSERT_TRUE(ircd.send("PING :alive-" + tag + "\r\n:peer!p@peer.example PRIVMSG " + CHANNEL + " :after-" + tag +
                              "\r\n"));
        EXPECT_TRUE(ircd.wait_received(1, "PONG :alive-" + tag + "\r\n", SHORT_MS)) << tag << "\n" << trace();
        EXPECT_TRUE(wait_new("after-" + tag, from, SHORT_MS)) << tag << "\n" << trace();
    }

    // Waits until output from `from` on holds `text`; looks at new output
    // only, which matters once the output is megabytes.
    bool wait_new(const std::string &text, std::size_t from, int timeout_ms)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
        for (;;) {
            if (client->out().find(text, from) != std::string::npos)
                return true;
            if (g_get_monotonic_time() >= deadline)
                return false;
            client->settle(20);
        }
    }

    // Lines of tab `tab` from `from` on that hold `text`.
    int tab_count(const std::string &tab, std::string_view text, std::size_t from = 0) const
    {
        const std::string &out = client->out();
        const std::string start = tab + "\t";
        int n = 0;
        for (std::size_t pos = from; pos < out.size();) {
            std::size_t end = out.find('\n', pos);
            if (end == std::string::npos)
                end = out.size();
            const std::string_view line = std::string_view(out).substr(pos, end - pos);
            n += line.substr(0, start.size()) == start && line.find(text) != std::string_view::npos;
            pos = end + 1;
        }
        return n;
    }

    // Ends the client as a user would; it must exit cleanly (under the
    // sanitizers that includes leaving no leaks behind).
    void finish_client()
    {
        const run_result r = client->finish(EXIT_MS);
        EXPECT_FALSE(r.timed_out) << trace();
        EXPECT_EQ(r.exit_code, 0) << trace();
    }

    std::vector<listed_user> users(int timeout_ms = SHORT_MS)
    {
        std::vector<listed_user> got;
        EXPECT_TRUE(listing::fetch(*client, CHANNEL, got, timeout_ms)) << "no end to /USERLIST\n" << trace();
        return got;
    }

    // The tails of what both sides said: the transcripts can be megabytes.
    std::string trace() const
    {
        auto tail = [](const std::string &s) { return s.size() > 6000 ? "..." + s.substr(s.size() - 6000) : s; };
        return "--- server (tail):\n" + tail(ircd.transcript()) + "\n--- client stdout (tail):\n" +
               (client ? tail(client->out()) + "\n--- client stderr (tail):\n" + tail(client->err()) : "");
    }

    scripted_server ircd;
    int syncs_ = 0;
};

listed_user user(const std::string &nick, bool op = false, bool voice = false, const std::string &host = "")
{
    listed_user u;
    u.nick = nick;
    u.op = op;
    u.voice = voice;
    u.host = host;
    return u;
}

// ---- ISUPPORT, prefixes and modes ---------------------------------------------------------

TEST_F(ScriptedChannel, FivePrefixesWithHostsInNamesAndNamesxAskedForOnce)
{
    ASSERT_NO_FATAL_FAILURE(welcome(
        {"PREFIX=(qaohv)~&@%+ NAMESX UHNAMES CHANTYPES=#& NETWORK=Scripted", "NAMESX MODES=6 CASEMAPPING=rfc1459"},
        true));
    ASSERT_NO_FATAL_FAILURE(
        join({"~&alice!al@a.example", "@%bob!bo@b.example", "%+carol!ca@c.example", "+dave!da@d.example",
              "&erin!er@e.example", "eve!ev@e.example", "@tester!tuser@client.test"}));
    ASSERT_NO_FATAL_FAILURE(feed(""));
    EXPECT_EQ(count_in(ircd.received(1), "PROTOCTL NAMESX\r\n"), 1)
        << "asked for once per connection, however often NAMESX is announced\n"
        << trace();

    // The prefixes come off every nick; only @ and + show as op and voice.
    const std::vector<listed_user> want = {
        user("alice", false, false, "al@a.example"),     user("bob", true, false, "bo@b.example"),
        user("carol", false, true, "ca@c.example"),      user("dave", false, true, "da@d.example"),
        user("erin", false, false, "er@e.example"),      user("eve", false, false, "ev@e.example"),
        user("tester", true, false, "tuser@client.test")};
    EXPECT_EQ(users(), want) << trace();

    // Modes of the five-level list change exactly the levels named.
    ASSERT_NO_FATAL_FAILURE(feed(":bob!bo@b.example MODE #chan +o-q+v alice alice erin\r\n"
                                 ":bob!bo@b.example MODE #chan -ov bob dave\r\n"
                                 ":bob!bo@b.example MODE #chan -h carol\r\n"));
    EXPECT_EQ(tab_count(CHANNEL, "bob gives channel operator status to alice"), 1) << trace();
    EXPECT_EQ(tab_count(CHANNEL, "bob removes channel half-operator status from carol"), 1) << trace();
    const std::vector<listed_user> after = {
        user("alice", true, false, "al@a.example"),      user("bob", false, false, "bo@b.example"),
        user("carol", false, true, "ca@c.example"),      user("dave", false, false, "da@d.example"),
        user("erin", false, true, "er@e.example"),       user("eve", false, false, "ev@e.example"),
        user("tester", true, false, "tuser@client.test")};
    EXPECT_EQ(users(), after) << trace();

    // A NAMES reply asked for later is shown, and replaces the list.
    ASSERT_TRUE(client->type("/quote NAMES #chan"));
    ASSERT_TRUE(ircd.wait_received(1, "NAMES #chan\r\n", SHORT_MS)) << trace();
    ASSERT_NO_FATAL_FAILURE(
        feed(names_reply({"alice!al@a.example", "~@zoe!zo@z.example", "@tester!tuser@client.test"})));
    EXPECT_EQ(tab_count(CHANNEL, "Users on #chan: alice!al@a.example ~@zoe!zo@z.example"), 1) << trace();
    EXPECT_EQ(users(), (std::vector<listed_user>{user("alice", false, false, "al@a.example"),
                                                 user("tester", true, false, "tuser@client.test"),
                                                 user("zoe", true, false, "zo@z.example")}))
        << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("prefixes"));
    finish_client();
}

TEST_F(ScriptedChannel, OddChannelModesTakeTheirArgumentsAndShowAsTheyShould)
{
    ASSERT_NO_FATAL_FAILURE(welcome({"CHANMODES=beIq,k,fl,imnpstzR MODES=4 PREFIX=(ov)@+"}));
    ASSERT_NO_FATAL_FAILURE(join({"@op", "a", "b", "+c", "tester"}));
    // The channel modes the client asks for on joining are not shown; asked for
    // later, they are.
    ASSERT_TRUE(ircd.wait_received(1, "MODE #chan\r\n", SHORT_MS)) << trace();
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "324 tester #chan +ntl 50\r\n"));
    EXPECT_EQ(tab_count(CHANNEL, "modes:"), 0) << trace();
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "324 tester #chan +ntkl sesame 42\r\n"));
    EXPECT_EQ(tab_count(CHANNEL, "Channel #chan modes: +ntkl sesame 42"), 1) << trace();

    const std::size_t from = client->out().size();
    ASSERT_NO_FATAL_FAILURE(feed(":op!o@h MODE #chan +q *!*@quiet.example\r\n"
                                 ":op!o@h MODE #chan +f 5:10\r\n"
                                 ":op!o@h MODE #chan -f\r\n"
                                 ":op!o@h MODE #chan +ov-v a b c\r\n"
                                 ":op!o@h MODE #chan +kl secret 7\r\n"
                                 ":op!o@h MODE #chan -l\r\n"
                                 ":op!o@h MODE #chan +Z\r\n"
                                 ":op!o@h MODE #chan +m surplus\r\n"
                                 ":op!o@h MODE #chan +b-q *!*@banned.example *!*@quiet.example\r\n"));
    const std::vector<std::string> expected = {
        "op sets quiet on *!*@quiet.example",
        "op sets mode +f on #chan 5:10",
        "op sets mode -f on #chan",
        "op gives channel operator status to a",
        "op gives voice to b",
        "op removes voice from c",
        "op sets the channel keyword to secret",
        "op sets the channel limit to 7",
        "op removes the user limit",
        "op sets mode +Z on #chan",
        "op sets mode +m on #chan surplus",
        "op sets ban on *!*@banned.example",
        "op removes quiet on *!*@quiet.example",
    };
    // In this order, each once.
    std::size_t at = from;
    for (const std::string &line : expected) {
        EXPECT_EQ(tab_count(CHANNEL, line, from), 1) << line << "\n" << trace();
        const std::size_t found = client->out().find(line, at);
        EXPECT_NE(found, std::string::npos) << "out of order: " << line << "\n" << trace();
        if (found != std::string::npos)
            at = found;
    }
    EXPECT_EQ(users(), (std::vector<listed_user>{user("a", true), user("b", false, true), user("c"), user("op", true),
                                                 user("tester")}))
        << trace();

    // MODES=4: six nicks to op go out as four and two.
    ASSERT_TRUE(client->type("/op n1 n2 n3 n4 n5 n6"));
    EXPECT_TRUE(ircd.wait_received(1, "MODE #chan +oooo n1 n2 n3 n4\r\nMODE #chan +oo n5 n6\r\n", SHORT_MS)) << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("modes"));
    finish_client();
}

// Under RFC 1459 folding [ ] \ ^ are the capitals of { } | ~; under ASCII they
// are different letters. Which nicks are the same, and the list's order, follow.
struct casemapping_case {
    const char *token;
    listing::nick_cmp cmp;
    std::vector<std::string> listed; // after the NAMES burst, in order
    std::vector<std::string> after;  // after "A{1" quits and "^w" becomes "~W"
};

// Names the case in test names and messages.
void PrintTo(const casemapping_case &c, std::ostream *os)
{
    *os << "CASEMAPPING=" << c.token;
}

class ScriptedCasemapping : public ScriptedChannel, public ::testing::WithParamInterface<casemapping_case>
{
};

TEST_P(ScriptedCasemapping, DecidesWhichNicksAreOneAndTheirOrder)
{
    const casemapping_case &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(welcome({std::string("CASEMAPPING=") + c.token + " PREFIX=(ov)@+"}));
    ASSERT_NO_FATAL_FAILURE(
        join({"a[1", "a{1", "B]2", "b}2", "Zed", "^w", "_u", "`v", "|p", "\\q", "abc", "ABD", "tester"}));
    std::vector<listed_user> got = users();
    EXPECT_EQ(listing::nicks_of(got), c.listed) << trace();
    EXPECT_EQ(listing::order_fault(got, c.cmp), "");

    // A later nick spelt differently still finds its user, under this folding.
    ASSERT_NO_FATAL_FAILURE(feed(":A{1!u@h QUIT :bye\r\n:^w!u@h NICK :~W\r\n"));
    got = users();
    EXPECT_EQ(listing::nicks_of(got), c.after) << trace();
    EXPECT_EQ(listing::order_fault(got, c.cmp), "");
    ASSERT_NO_FATAL_FAILURE(expect_alive(c.token));
    finish_client();
}

INSTANTIATE_TEST_SUITE_P(
    Folding, ScriptedCasemapping,
    ::testing::Values(casemapping_case{"rfc1459",
                                       listing::rfc1459_cmp,
                                       {"_u", "`v", "abc", "ABD", "a[1", "B]2", "tester", "Zed", "|p", "\\q", "^w"},
                                       {"_u", "`v", "abc", "ABD", "B]2", "tester", "Zed", "|p", "\\q", "~W"}},
                      casemapping_case{
                          "ascii",
                          listing::ascii_cmp,
                          {"\\q", "^w", "_u", "`v", "a[1", "abc", "ABD", "a{1", "B]2", "b}2", "tester", "Zed", "|p"},
                          {"\\q", "_u", "`v", "a[1", "abc", "ABD", "B]2", "b}2", "tester", "Zed", "|p", "~W"}}),
    [](const ::testing::TestParamInfo<casemapping_case> &info) { return std::string(info.param.token); });

// ---- volume -----------------------------------------------------------------------------------

TEST_F(ScriptedChannel, FiftyThousandNamesEndSortedAndCompleteInBoundedTime)
{
    constexpr int MEMBERS = 50000;
    ASSERT_NO_FATAL_FAILURE(welcome({"PREFIX=(ov)@+ CASEMAPPING=rfc1459"}));
    std::vector<std::string> items;
    std::map<std::string, std::pair<bool, bool>> want;
    for (int i = 0; i < MEMBERS; ++i) {
        std::string nick = numbered_nick(i);
        // Some nicks share long beginnings, and a few are longer than the 63
        // bytes a nick may have: they are cut there.
        if (i % 25 == 0)
            nick = "Long_common_beginning_" + nick;
        if (i % 10007 == 0)
            nick += std::string(70, 'z');
        const bool op = i % 97 == 0, voice = i % 13 == 0;
        items.push_back(std::string(op ? "@" : "") + (voice ? "+" : "") + nick);
        want[nick.substr(0, 63)] = {op, voice};
    }
    items.push_back("tester");
    want["tester"] = {false, false};
    // Servers send the names in no particular order.
    std::reverse(items.begin() + MEMBERS / 2, items.end());
    // The same nicks again, spelt as RFC 1459 folding makes them equal: the
    // first spelling stays, with its own marks.
    for (int i = 1; i < MEMBERS; i += 101) {
        std::string twin = numbered_nick(i);
        if (i % 25 == 0 || i % 10007 == 0)
            continue;
        for (char &c : twin) {
            if (g_ascii_isalpha(c))
                c = g_ascii_isupper(c) ? g_ascii_tolower(c) : g_ascii_toupper(c);
            else if (c >= '[' && c <= '^')
                c = static_cast<char>(c + 0x20);
            else if (c >= '{' && c <= '~')
                c = static_cast<char>(c - 0x20);
        }
        items.push_back("@+" + twin);
    }

    const gint64 started = g_get_monotonic_time();
    ASSERT_NO_FATAL_FAILURE(feed(std::string(":") + ME + " JOIN " + CHANNEL + "\r\n" + names_reply(items), BURST_MS));
    const double burst_secs = static_cast<double>(g_get_monotonic_time() - started) / 1e6;
    RecordProperty("names_burst_ms", static_cast<int>(burst_secs * 1000));
    EXPECT_LT(burst_secs, 30.0) << "50,000 names are a matter of a second or two";

    const std::vector<listed_user> got = users(BURST_MS);
    ASSERT_EQ(got.size(), want.size()) << trace();
    EXPECT_EQ(listing::order_fault(got, listing::rfc1459_cmp), "");
    int wrong = 0;
    for (const listed_user &u : got) {
        const auto it = want.find(u.nick);
        const bool right = it != want.end() && it->second == std::make_pair(u.op, u.voice);
        if (!right && ++wrong <= 10)
            ADD_FAILURE() << "unexpected entry " << u;
    }
    EXPECT_EQ(wrong, 0);
    ASSERT_NO_FATAL_FAILURE(expect_alive("burst"));
    finish_client();
}

TEST_F(ScriptedChannel, NetsplitQuitStormLeavesExactlyTheOthers)
{
    constexpr int MEMBERS = 5000;
    constexpr int SPLIT = 4000;
    constexpr int STRANGERS = 300;
    constexpr int BATCH = 500; // the client's output per batch stays below a pipe's worth
    ASSERT_NO_FATAL_FAILURE(welcome({"PREFIX=(ov)@+"}));
    std::vector<std::string> items;
    for (int i = 0; i < MEMBERS; ++i)
        items.push_back(numbered_nick(i));
    items.push_back("tester");
    ASSERT_NO_FATAL_FAILURE(join(items));

    // Four members in five leave with the split; the strangers were never in
    // the channel, and their quits must show nowhere.
    const std::size_t from = client->out().size();
    const gint64 started = g_get_monotonic_time();
    std::set<std::string> gone;
    std::string storm;
    int batched = 0;
    auto quit_line = [](const std::string &nick) {
        return ":" + nick + "!u@split.example QUIT :hub.example leaf.example\r\n";
    };
    for (int i = 0; i < SPLIT + STRANGERS; ++i) {
        const std::string nick = i < SPLIT ? numbered_nick(i * MEMBERS / SPLIT) : "stranger" + std::to_string(i);
        if (i < SPLIT)
            gone.insert(nick);
        storm += quit_line(nick);
        if (++batched == BATCH) {
            ASSERT_NO_FATAL_FAILURE(feed(storm, BURST_MS));
            storm.clear();
            batched = 0;
        }
    }
    ASSERT_NO_FATAL_FAILURE(feed(storm, BURST_MS));
    const double storm_secs = static_cast<double>(g_get_monotonic_time() - started) / 1e6;
    RecordProperty("quit_storm_ms", static_cast<int>(storm_secs * 1000));
    EXPECT_LT(storm_secs, 30.0);

    EXPECT_EQ(tab_count(CHANNEL, "has quit (hub.example leaf.example)", from), SPLIT) << trace();
    EXPECT_EQ(count_in(std::string_view(client->out()).substr(from), "stranger"), 0)
        << "quits of nicks that were never listed show nowhere\n"
        << trace();
    const std::vector<listed_user> got = users(BURST_MS);
    std::vector<std::string> want;
    for (const std::string &item : items)
        if (!gone.count(item))
            want.push_back(item);
    std::sort(want.begin(), want.end(),
              [](const std::string &a, const std::string &b) { return listing::rfc1459_cmp(a, b) < 0; });
    EXPECT_EQ(want.size(), static_cast<std::size_t>(MEMBERS - SPLIT + 1));
    EXPECT_TRUE(listing::nicks_of(got) == want) << listing::difference(want, listing::nicks_of(got));
    ASSERT_NO_FATAL_FAILURE(expect_alive("storm"));
    finish_client();
}

TEST_F(ScriptedChannel, CasemappingChangingMidSessionFoldsTheListAgain)
{
    ASSERT_NO_FATAL_FAILURE(welcome({"CASEMAPPING=ascii PREFIX=(ov)@+"}));
    ASSERT_NO_FATAL_FAILURE(join({"a[1", "@a{1", "B]2", "b}2", "Zed", "tester"}));
    ASSERT_EQ(users().size(), 6u) << trace();

    // Under RFC 1459 folding a[1 and a{1 are one nick, and so are B]2 and b}2:
    // one record of each stays, and the list is in the new order.
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "005 tester CASEMAPPING=rfc1459 :are supported\r\n"));
    std::vector<listed_user> got = users();
    EXPECT_EQ(got.size(), 4u) << trace();
    EXPECT_EQ(listing::order_fault(got, listing::rfc1459_cmp), "") << trace();
    // Lookups use the new folding too.
    ASSERT_NO_FATAL_FAILURE(feed(":A{1!u@h QUIT :bye\r\n:B}2!u@h PART #chan\r\n"));
    EXPECT_EQ(listing::nicks_of(users()), (std::vector<std::string>{"tester", "Zed"})) << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("refold"));
    finish_client();
}

// ---- hostile lines ----------------------------------------------------------------------------

TEST_F(ScriptedChannel, PrefixListChangingMidSessionKeepsTheListSound)
{
    ASSERT_NO_FATAL_FAILURE(welcome({"PREFIX=(qaohv)~&@%+"}));
    ASSERT_NO_FATAL_FAILURE(join({"~&alice", "@%bob", "+carol", "tester"}));

    // Fewer levels: the bits alice and bob hold now name levels that are gone
    // or mean something else.
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "005 tester PREFIX=(ov)@+ :are supported\r\n"
                                                       ":bob!b@h MODE #chan -o bob\r\n"
                                                       ":bob!b@h MODE #chan +q alice\r\n"
                                                       ":bob!b@h MODE #chan +v alice\r\n"));
    // The marks follow the prefix characters a user held: @ and + survive.
    EXPECT_EQ(users(), (std::vector<listed_user>{user("alice", false, true), user("bob"), user("carol", false, true),
                                                 user("tester")}))
        << trace();
    EXPECT_EQ(tab_count(CHANNEL, "bob sets mode +q on #chan alice"), 1) << "q is no nick mode any more\n" << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("fewer"));
    // Broken and extreme lists, each followed by mode changes and a join.
    for (const char *prefix :
         {"PREFIX=", "PREFIX=(ov", "PREFIX=)", "PREFIX=(ov)@", "PREFIX=(o)@+%~&",
          "PREFIX=(abcdefghijklmnopqrstuvwxyz)!\"#$%&'*+,-./0123456789:;<=>?", "-PREFIX", "PREFIX=(qaohv)~&@%+"}) {
        const std::string tag = std::string("after ") + prefix;
        ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "005 tester " + prefix +
                                     " :are supported\r\n"
                                     ":bob!b@h MODE #chan +ov-h carol carol alice\r\n"
                                     ":bob!b@h MODE #chan +zyxw alice bob carol tester\r\n"
                                     ":~&+joiner!j@h JOIN #chan\r\n"
                                     ":~&+joiner!j@h PART #chan\r\n"))
            << tag;
    }
    // With the five levels back, the marks the next changes set are right.
    ASSERT_NO_FATAL_FAILURE(feed(":bob!b@h MODE #chan +o-v bob carol\r\n"));
    const std::vector<listed_user> got = users();
    std::map<std::string, std::pair<bool, bool>> seen;
    for (const listed_user &u : got)
        seen[u.nick] = {u.op, u.voice};
    for (const char *nick : {"alice", "bob", "carol", "tester"})
        EXPECT_EQ(seen.count(nick), 1u) << nick << "\n" << trace();
    EXPECT_EQ(seen.count(""), 0u) << trace();
    EXPECT_EQ(seen["bob"], std::make_pair(true, false)) << trace();
    EXPECT_FALSE(seen["carol"].second) << trace();
    EXPECT_EQ(listing::order_fault(got, listing::rfc1459_cmp), "");
    ASSERT_NO_FATAL_FAILURE(expect_alive("prefix"));
    finish_client();
}

TEST_F(ScriptedChannel, MalformedRepliesAndPrefixesAreSurvivedAndShownWhereMeaningful)
{
    ASSERT_NO_FATAL_FAILURE(welcome({"PREFIX=(ov)@+ CHANMODES=b,k,l,imnst"}));
    ASSERT_NO_FATAL_FAILURE(join({"@alice", "bob", "tester"}));

    // Channel-mode replies cut short or overlong, and for channels not open.
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "324\r\n" + SERVER + "324 tester\r\n" + SERVER +
                                 "324 tester #chan\r\n" + SERVER + "324 tester #chan :\r\n" + SERVER +
                                 "324 tester #chan +kl\r\n" + SERVER + "324 tester #nowhere +k key\r\n" + SERVER +
                                 "324 tester #chan +" + std::string(3000, 'l') + " " + std::string(3000, '9') + "\r\n" +
                                 SERVER + "324 tester #chan +k " + std::string(500, 'k') + "\r\n"));
    ASSERT_NO_FATAL_FAILURE(expect_alive("324"));

    // WHO replies with fields missing, overlong or for unknown nicks.
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "352\r\n" + SERVER + "352 tester\r\n" + SERVER +
                                 "352 tester #chan\r\n" + SERVER + "352 tester #chan u h s\r\n" + SERVER +
                                 "352 tester #chan u h s bob\r\n" + SERVER + "352 tester #chan u h s bob H\r\n" +
                                 SERVER + "352 tester #chan u h s bob G :\r\n" + SERVER + "352 tester #chan " +
                                 std::string(400, 'u') + " " + std::string(400, 'h') + " s alice H :0 " +
                                 std::string(600, 'r') + "\r\n" + SERVER + "352 tester * u h s nobody H :0 x\r\n" +
                                 SERVER + "315 tester #chan :End of /WHO list.\r\n"));
    ASSERT_NO_FATAL_FAILURE(expect_alive("352"));

    // A topic without a sender is the server's text; it does not crash the
    // topic code, and is shown.
    ASSERT_NO_FATAL_FAILURE(feed("TOPIC #chan :senderless topic\r\n: TOPIC #chan :empty-sender topic\r\n"));
    EXPECT_NE(client->out().find("senderless topic"), std::string::npos) << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("topic"));

    // Broken time stamps: each message is shown all the same.
    const char *const stamps[] = {"time=garbage",
                                  "time=",
                                  "time",
                                  "time=2024-02-30T25:61:61.000Z",
                                  "time=99999-01-01T00:00:00Z",
                                  "time=-1-01-01T00:00:00Z",
                                  "time=1970-01-01T00:00:00.000Z",
                                  "time=2024-01-01T00:00:00.999999999999999999Z",
                                  "time=2024-01-01T00:00:00.000Z;time=nonsense",
                                  "a=b;;;=;time=\\\\\\",
                                  ";"};
    std::string stamped;
    int k = 0;
    for (const char *tags : stamps)
        stamped += std::string("@") + tags + " :alice!a@h PRIVMSG #chan :stamped-" + two_digits(++k) + "\r\n";
    stamped += "@time=2024-01-01T00:00:00.000Z\r\n@\r\n";
    ASSERT_NO_FATAL_FAILURE(feed(stamped));
    for (int i = 1; i <= k; ++i)
        EXPECT_EQ(tab_count(CHANNEL, "stamped-" + two_digits(i)), 1) << "stamped-" << i << "\n" << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("time"));

    // A prefix without "!" names a nick all the same.
    ASSERT_NO_FATAL_FAILURE(feed(":bob PRIVMSG #chan :no-bang\r\n:newbie JOIN #chan\r\n:bob NICK robert\r\n"));
    EXPECT_EQ(tab_count(CHANNEL, "bob>\tno-bang"), 1) << trace();
    EXPECT_EQ(tab_count(CHANNEL, "bob is now known as robert"), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(expect_alive("bang"));

    // Nothing but prefixes, an empty prefix and empty nicks: no user without a
    // nick ever appears. (The fresh NAMES reply replaces the list.)
    ASSERT_NO_FATAL_FAILURE(feed(std::string(SERVER) + "353 tester = #chan :@ + @+ alice +@  newbie robert tester\r\n" +
                                 SERVER +
                                 "366 tester #chan :End\r\n"
                                 ":!u@h JOIN #chan\r\n"
                                 ": JOIN #chan\r\n"
                                 ":!u@h PRIVMSG #chan :from-nobody\r\n"
                                 ":alice!a@h NICK :\r\n"
                                 ":!u@h QUIT :gone\r\n"
                                 ":\r\n"
                                 "::::\r\n"
                                 ":x!y@z KICK #chan\r\n"
                                 ":x!y@z MODE #chan\r\n"
                                 ":x!y@z MODE #chan +\r\n"
                                 ":x!y@z PART\r\n" +
                                 SERVER + "353 tester = #nowhere :a b c\r\n" + SERVER + "366 tester #nowhere :End\r\n" +
                                 SERVER + "366 tester * :End\r\n"));
    ASSERT_NO_FATAL_FAILURE(expect_alive("empty"));

    const std::vector<listed_user> got = users();
    std::vector<std::string> nicks = listing::nicks_of(got);
    EXPECT_EQ(std::count(nicks.begin(), nicks.end(), ""), 0) << "no user without a nick\n" << trace();
    for (const char *nick : {"alice", "newbie", "robert", "tester"})
        EXPECT_EQ(std::count(nicks.begin(), nicks.end(), nick), 1) << nick << " is listed once\n" << trace();
    EXPECT_EQ(std::count(nicks.begin(), nicks.end(), "bob"), 0) << trace();
    EXPECT_EQ(listing::order_fault(got, listing::rfc1459_cmp), "");
    ASSERT_NO_FATAL_FAILURE(expect_alive("end"));
    finish_client();
}

} // namespace
} // namespace connect_test
