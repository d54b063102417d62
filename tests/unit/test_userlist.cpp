// The channel user lists: prefixes and counters, mode changes, renames,
// user data from WHO, the NAMES burst (sorted once, duplicates resolved,
// usable midway) and the display order.
#include "irc_lines.h"

#include "base/util.h"
#include "irc/modes.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"

#include <algorithm>
#include <random>
#include <vector>

namespace
{

struct counters {
    int ops, halfops, voices, total;
    bool operator==(const counters &) const = default;
};
std::ostream &operator<<(std::ostream &os, const counters &c)
{
    return os << "{ops=" << c.ops << " halfops=" << c.halfops << " voices=" << c.voices << " total=" << c.total << "}";
}

// What the list says about one nick.
struct status {
    std::string prefix;
    unsigned int access;
    bool op, hop, voice;
    bool operator==(const status &) const = default;
};
std::ostream &operator<<(std::ostream &os, const status &s)
{
    return os << "{prefix='" << s.prefix << "' access=" << s.access << " op=" << s.op << " hop=" << s.hop
              << " voice=" << s.voice << "}";
}

class Userlist : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        chan = channel("#c");
    }

    void add(session *sess, const char *name, const char *host = nullptr)
    {
        message_tags_data tags;
        userlist_add(sess, name, host, nullptr, nullptr, &tags);
    }
    void add(const char *name, const char *host = nullptr) { add(chan, name, host); }

    counters count() const { return {chan->op_count, chan->halfop_count, chan->voice_count, chan->user_count}; }

    status of(const char *nick)
    {
        User *u = userlist_find(chan, nick);
        if (!u)
            return {"<absent>", 0, false, false, false};
        return {u->prefix ? std::string(1, u->prefix) : "", u->access, u->op != 0, u->hop != 0, u->voice != 0};
    }

    std::vector<std::string> nicks()
    {
        std::vector<std::string> out;
        GSList *list = userlist_flat_list(chan);
        for (GSList *l = list; l; l = l->next)
            out.emplace_back(static_cast<User *>(l->data)->nick);
        g_slist_free(list);
        return out;
    }

    session *chan = nullptr;
};

TEST_F(Userlist, PrefixesSetAccessAndEachStatusCountsOnce)
{
    add("@+alice");
    EXPECT_EQ(of("alice"), (status{"@", 0b101, true, false, true}));
    add("@@bob"); // a doubled prefix is still one operator
    add("@%@+carol");
    EXPECT_EQ(of("carol"), (status{"@", 0b111, true, true, true}));
    EXPECT_EQ(count(), (counters{3, 1, 2, 3}));

    userlist_update_mode(chan, "alice", 'o', '-');
    EXPECT_EQ(of("alice"), (status{"+", 0b100, false, false, true}));
    EXPECT_EQ(count(), (counters{2, 1, 2, 3}));
    userlist_update_mode(chan, "alice", 'o', '-'); // already clear: nothing moves
    userlist_update_mode(chan, "nobody", 'o', '-');
    EXPECT_EQ(count(), (counters{2, 1, 2, 3}));

    userlist_remove(chan, "carol");
    userlist_remove(chan, "bob");
    EXPECT_EQ(count(), (counters{0, 0, 1, 1}));
    EXPECT_EQ(userlist_remove(chan, "bob"), 0);
    add("@"); // prefix characters alone name nobody
    EXPECT_EQ(count(), (counters{0, 0, 1, 1}));
}

TEST_F(Userlist, DuplicatesAndRenamesKeepOneRecordPerNick)
{
    add("alice");
    add("@Alice"); // the same nick under RFC 1459 folding
    add("+b[ob]");
    add("b{ob}");
    EXPECT_EQ(nicks(), (std::vector<std::string>{"alice", "b[ob]"}));
    EXPECT_EQ(count(), (counters{0, 0, 1, 2}));

    // alice takes the nick of a voiced user whose departure we missed.
    EXPECT_EQ(userlist_change(chan, "alice", "B{OB}"), 1);
    EXPECT_EQ(nicks(), (std::vector<std::string>{"B{OB}"}));
    EXPECT_EQ(count(), (counters{0, 0, 0, 1}));
    EXPECT_EQ(userlist_change(chan, "B{OB}", "b{ob}"), 1); // a change of case only
    EXPECT_EQ(nicks(), (std::vector<std::string>{"b{ob}"}));
    EXPECT_EQ(userlist_change(chan, "b{ob}", ""), 0);
    EXPECT_EQ(userlist_change(chan, "ghost", "x"), 0);
    EXPECT_EQ(count(), (counters{0, 0, 0, 1}));
}

TEST_F(Userlist, AccountAwayAndHostFollowTheirSources)
{
    add("me");
    add("bob", "b@old");
    EXPECT_EQ(chan->own_user, userlist_find(chan, "ME"));

    User *bob = userlist_find(chan, "bob");
    EXPECT_EQ(userlist_add_hostname(chan, "bob", "b@new", "Bob B", "irc1.test", "0", 1), 1);
    EXPECT_STREQ(bob->hostname, "b@new");
    EXPECT_EQ(bob->account, nullptr) << "WHOX's 0 means not logged in";
    EXPECT_TRUE(bob->away);
    userlist_add_hostname(chan, "bob", nullptr, "", "irc2.test", "bobacct", 255);
    EXPECT_STREQ(bob->servername, "irc1.test") << "the server name is set once";
    EXPECT_STREQ(bob->realname, "Bob B");
    EXPECT_STREQ(bob->account, "bobacct");
    EXPECT_TRUE(bob->away) << "255 leaves the away state alone";
    EXPECT_EQ(userlist_add_hostname(chan, "nobody", "x@y", nullptr, nullptr, nullptr, 0), 0);

    userlist_set_account(chan, "bob", "other");
    EXPECT_STREQ(bob->account, "other");
    userlist_set_account(chan, "bob", "*");
    EXPECT_EQ(bob->account, nullptr);

    fe_recorder::reset();
    userlist_set_away(chan, "bob", 1); // unchanged
    EXPECT_EQ(fe_recorder::count("fe_userlist_rehash"), 0);
    userlist_set_away(chan, "bob", 0);
    EXPECT_EQ(fe_recorder::count("fe_userlist_rehash"), 1);

    // The first channel in session order that lists the nick answers.
    session *other = channel("#d");
    add(other, "bob", "b@other");
    session *first = nullptr;
    for (GSList *l = sess_list; l && !first; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s == chan || s == other)
            first = s;
    }
    EXPECT_EQ(userlist_find_global(serv, "BOB"), userlist_find(first, "bob"));
    EXPECT_STREQ(userlist_find_address(serv, "bob"), first == chan ? "b@new" : "b@other");
}

TEST_F(Userlist, NamesBurstSortsOnceAndStaysUsableMidway)
{
    add("zed"); // listed before the burst
    std::vector<std::string> items;
    for (int i = 0; i < 500; i++)
        items.push_back((i % 10 == 0 ? "@" : "") + std::string("n") + std::to_string(i));
    items.push_back("+me");
    items.push_back("N7"); // a duplicate in another case
    items.push_back("ZED");
    std::shuffle(items.begin(), items.end(), std::mt19937(7));

    userlist_burst_begin(chan);
    for (std::size_t i = 0; i < items.size(); i++) {
        add(items[i].c_str());
        if (i == items.size() / 2)
            userlist_burst_begin(chan); // a second 353 line begins nothing new
    }
    // Lookups, renames and removals work before the end of the burst.
    ASSERT_NE(userlist_find(chan, "N250"), nullptr);
    EXPECT_EQ(userlist_change(chan, "n1", "aaa"), 1);
    EXPECT_EQ(userlist_remove(chan, "n2"), 1);
    userlist_update_mode(chan, "n3", 'v', '+');
    userlist_burst_end(chan);

    std::vector<std::string> got = nicks();
    EXPECT_EQ(got.size(), 501u);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](const std::string &a, const std::string &b) {
        return rfc_casecmp(a.c_str(), b.c_str()) < 0;
    }));
    EXPECT_EQ(got.front(), "aaa");
    EXPECT_EQ(count(), (counters{50, 0, 2, 501}));
    ASSERT_NE(chan->own_user, nullptr);
    EXPECT_STREQ(chan->own_user->nick, "me");

    // After the burst, adds go straight into order again.
    add("mmm");
    got = nicks();
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](const std::string &a, const std::string &b) {
        return rfc_casecmp(a.c_str(), b.c_str()) < 0;
    }));
    userlist_clear(chan);
    EXPECT_EQ(count(), (counters{0, 0, 0, 0}));
    EXPECT_EQ(chan->own_user, nullptr);
}

TEST_F(Userlist, DisplayOrderPutsHigherAccessFirst)
{
    for (const char *n : {"dave", "+carol", "@bob", "@+alice", "%eve", "+al"})
        add(n);
    GSList *list = userlist_flat_list(chan);
    std::vector<User *> users;
    for (GSList *l = list; l; l = l->next)
        users.push_back(static_cast<User *>(l->data));
    g_slist_free(list);
    std::sort(users.begin(), users.end(), [this](User *a, User *b) { return nick_cmp_az_ops(serv, a, b) < 0; });
    std::vector<std::string> order;
    for (User *u : users)
        order.emplace_back(u->nick);
    EXPECT_EQ(order, (std::vector<std::string>{"alice", "bob", "eve", "al", "carol", "dave"}));
}

} // namespace

TEST_F(Userlist, LargeBurstOfAlikeNicksEndsInTheServersOrder)
{
    // Nicks alike in their first bytes, then differing anywhere; some longer
    // than the sort key, some the same nick in another case or with the
    // characters RFC 1459 folds ([]\~ and {}|^).
    std::mt19937 rng(11);
    const std::string alphabet = "abcXYZ019[]\\~{}|^-_";
    std::vector<std::string> items;
    for (int i = 0; i < 20000; i++) {
        std::string nick = i % 3 == 0 ? "guest" : i % 3 == 1 ? "Guest_Of_The_Channel" : "";
        const std::size_t extra = 1 + rng() % 12;
        for (std::size_t k = 0; k < extra; k++)
            nick += alphabet[rng() % alphabet.size()];
        items.push_back(nick);
    }
    // The first arrival of a nick stays.
    std::vector<std::string> expected = items;
    const auto rfc_less = [](const std::string &a, const std::string &b) {
        return rfc_casecmp(a.c_str(), b.c_str()) < 0;
    };
    std::stable_sort(expected.begin(), expected.end(), rfc_less);
    expected.erase(
        std::unique(expected.begin(), expected.end(),
                    [](const std::string &a, const std::string &b) { return rfc_casecmp(a.c_str(), b.c_str()) == 0; }),
        expected.end());

    userlist_burst_begin(chan);
    for (const std::string &n : items)
        add(n.c_str());
    userlist_burst_end(chan);
    EXPECT_EQ(nicks(), expected);
    EXPECT_EQ(chan->user_count, static_cast<int>(expected.size()));
}
