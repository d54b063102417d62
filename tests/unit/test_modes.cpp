// Server features from 005 and MODE lines as a server sends them: what the
// channel shows, what the user list and the channel record hold afterwards,
// and the MODE lines the mass-mode helper writes.
#include "irc_lines.h"

#include "irc/modes.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace
{

class Modes : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        chan = channel("#c");
        g_strlcpy(chan->channel, "#c", sizeof chan->channel);
    }

    void add(const char *name)
    {
        message_tags_data tags;
        userlist_add(chan, name, nullptr, nullptr, nullptr, &tags);
    }
    std::string prefix_of(const char *nick)
    {
        User *u = userlist_find(chan, nick);
        return !u ? "<absent>" : u->prefix ? std::string(1, u->prefix) : "";
    }
    // Position of the first shown line of the channel containing `needle`.
    long line_of(const std::string &needle)
    {
        auto lines = fe_recorder::shown(chan);
        auto it = std::find_if(lines.begin(), lines.end(),
                               [&](const std::string &l) { return l.find(needle) != std::string::npos; });
        return it == lines.end() ? -1 : it - lines.begin();
    }
    std::string mode_string() const { return chan->mode_string ? chan->mode_string : "<none>"; }

    session *chan = nullptr;
};

TEST_F(Modes, IsupportTokensSetServerFeatures)
{
    recv(":irc.test 005 me CHANTYPES=#& MODES=4 NETWORK=Foo\\x20Bar CLIENTTAGDENY=*,-typing NAMESX WHOX "
         "EXCEPTS ELIST=CMNTU CHANMODES=b,k :are supported by this server");
    EXPECT_TRUE(is_channel(serv, "&x"));
    EXPECT_FALSE(is_channel(serv, "!x"));
    EXPECT_EQ(serv->maxmodes, 4);
    EXPECT_STREQ(home->channel, "Foo Bar");
    EXPECT_STREQ(serv->clienttagdeny, "*,-typing");
    EXPECT_TRUE(serv->have_whox && serv->have_excepts && serv->have_list_conditions);
    EXPECT_FALSE(serv->have_invex);
    // Fewer than four CHANMODES groups: what is there still counts.
    EXPECT_EQ(chanmode_group(serv, 'k'), 1);
    EXPECT_EQ(chanmode_group(serv, 'l'), -1);
    recv(":irc.test 005 me NAMESX -CLIENTTAGDENY -WHOX -CHANTYPES :are supported");
    EXPECT_EQ(sent(), "PROTOCTL NAMESX\r\n") << "asked once per connection";
    EXPECT_EQ(serv->clienttagdeny, nullptr);
    EXPECT_FALSE(serv->have_whox);
    EXPECT_TRUE(is_channel(serv, "!x")) << "a withdrawn token falls back to its default";

    server_set_defaults(serv);
    EXPECT_FALSE(serv->namesx_sent || serv->have_excepts || serv->have_list_conditions);
}

TEST_F(Modes, PrefixListsPairUpAndChangesKeepUsersRight)
{
    add("@op");
    add("+v");
    recv(":irc.test 005 me PREFIX=(qaohv)~&@%+ :are supported");
    EXPECT_EQ(prefix_of("op"), "@") << "access re-mapped to the new levels";
    EXPECT_EQ(userlist_find(chan, "op")->access, 1u << 2);
    add("~&owner");
    EXPECT_EQ(userlist_find(chan, "owner")->access, 0b11u);
    EXPECT_EQ(prefix_of("owner"), "~");
    recv(":alice!a@h MODE #c -o op");
    EXPECT_EQ(prefix_of("op"), "");
    EXPECT_EQ(chan->op_count, 0);

    // Letters and symbols of unequal length pair only as far as both go.
    recv(":irc.test 005 me PREFIX=(qaohv)~&@ :are supported");
    EXPECT_STREQ(serv->nickmodes, "qao");
    EXPECT_STREQ(serv->nickprefixes, "~&@");
    EXPECT_EQ(mode_access(serv, 'v', nullptr), -1);
    EXPECT_EQ(prefix_of("v"), "") << "a level that no longer exists is dropped";
    recv(":irc.test 005 me PREFIX=(ov)@+ :are supported");
    EXPECT_EQ(prefix_of("owner"), "") << "~ and & are gone";
}

TEST_F(Modes, CasemappingDecidesWhichNicksAreEqual)
{
    recv(":irc.test 005 me CASEMAPPING=ascii :are supported");
    add("+a[");
    add("a{");
    EXPECT_EQ(chan->user_count, 2);
    EXPECT_STREQ(userlist_find(chan, "A[")->nick, "a[");
    // Back to RFC 1459 with both listed: the list is re-sorted and the two
    // records, now one nick, become one.
    recv(":irc.test 005 me CASEMAPPING=rfc1459 :are supported");
    EXPECT_EQ(chan->user_count, 1);
    EXPECT_EQ(chan->voice_count, userlist_find(chan, "a{")->voice ? 1 : 0);
    for (const char *n : {"zz", "b", "y", "c"})
        add(n);
    for (const char *n : {"zz", "b", "y", "c", "A{"})
        EXPECT_NE(userlist_find(chan, n), nullptr) << n;
}

TEST_F(Modes, OpAndVoiceChangesAreGroupedPerSignRun)
{
    for (const char *n : {"a", "b", "c", "d"})
        add(n);
    recv(":alice!a@h MODE #c +ov-v a b c");
    const long op = line_of("alice gives channel operator status to a"), voice = line_of("alice gives voice to b"),
               devoice = line_of("alice removes voice from c");
    EXPECT_TRUE(op >= 0 && op < voice && voice < devoice) << op << " " << voice << " " << devoice;
    EXPECT_EQ(prefix_of("a"), "@");
    EXPECT_EQ(prefix_of("b"), "+");

    recv(":alice!a@h MODE #c +v-o d a"); // each sign run is shown before the next
    EXPECT_LT(line_of("alice gives voice to d"), line_of("alice removes channel operator status from a"));

    recv(":alice!a@h MODE #c +oo c d");
    EXPECT_GE(line_of("alice gives channel operator status to c d"), 0);
    EXPECT_EQ(chan->op_count, 2);

    prefs.irc_raw_modes = 1;
    recv(":alice!a@h MODE #c -o d ");
    prefs.irc_raw_modes = 0;
    EXPECT_GE(line_of("alice sets modes [#c -o d]"), 0);
    EXPECT_LT(line_of("removes channel operator status from d"), 0) << "raw modes replace the events";
    EXPECT_EQ(prefix_of("d"), "+") << "but the list still follows";
}

TEST_F(Modes, KeyLimitAndCurrentModesFollowTheChannel)
{
    recv(":irc.test 005 me CHANMODES=beIq,k,fl,imnpst :are supported");
    recv(":irc.test 324 me #c +nt");
    EXPECT_EQ(mode_string(), "+nt");
    recv(":alice!a@h MODE #c +lk 50 :secret");
    EXPECT_EQ(chan->user_limit, 50);
    EXPECT_STREQ(chan->key, "secret");
    EXPECT_GE(line_of("alice sets the channel limit to 50"), 0);
    recv(":alice!a@h MODE #c +l 60");
    EXPECT_EQ(mode_string(), "+ntlk 60 secret");
    recv(":alice!a@h MODE #c -l-k+i *");
    EXPECT_EQ(chan->user_limit, 0);
    EXPECT_STREQ(chan->key, "");
    EXPECT_EQ(mode_string(), "+nti");
    EXPECT_GE(line_of("alice removes the user limit"), 0);

    recv(":alice!a@h MODE #c +q bad!*@*");
    EXPECT_GE(line_of("alice sets quiet on bad!*@*"), 0);
    EXPECT_EQ(mode_string(), "+nti") << "list modes are not part of the current modes";
}

TEST_F(Modes, HostileModeLinesAreHarmless)
{
    add("a");
    recv(":alice!a@h MODE #c +ooo a");
    recv(":alice!a@h MODE #c +l");
    recv(":alice!a@h MODE #c +l 99999999999999999999");
    EXPECT_EQ(chan->user_limit, INT_MAX) << "an overlong limit is clamped, not wrapped";
    recv(":alice!a@h MODE #c :");
    recv(":alice!a@h MODE #c xy");
    recv(":alice!a@h MODE #nowhere +o a");
    recv(":irc.test 324 me #c");
    recv(":irc.test 005 me PREFIX=(ov) PREFIX=() PREFIX=)@ MODES=-5 CHANMODES= :x");
    add("@x");
    EXPECT_EQ(userlist_find(chan, "@x") != nullptr, true) << "no prefixes left: @ is part of the nick";
    EXPECT_EQ(serv->maxmodes, 0) << "a negative MODES count is clamped";
}

TEST_F(Modes, MassModesFitTheLimitAndTheLineLength)
{
    recv(":irc.test 005 me MODES=4 :are supported");
    sent();
    std::vector<std::string> nicks;
    for (int i = 0; i < 10; i++)
        nicks.push_back("n" + std::to_string(i));
    std::vector<char *> word(32, const_cast<char *>(""));
    for (int i = 0; i < 10; i++)
        word[static_cast<std::size_t>(i) + 2] = nicks[static_cast<std::size_t>(i)].data();
    send_channel_modes(chan, word.data(), 2, 12, '+', 'o', 0);
    EXPECT_EQ(sent(), "MODE #c +oooo n0 n1 n2 n3\r\nMODE #c +oooo n4 n5 n6 n7\r\nMODE #c +oo n8 n9\r\n");

    std::string big(200, 'x'), huge(600, 'y');
    std::vector<char *> long_words = {big.data(), big.data(), big.data(), huge.data()};
    send_channel_modes(chan, long_words.data(), 0, 4, '-', 'v', 6);
    EXPECT_EQ(sent(), "MODE #c -vv " + big + " " + big + "\r\nMODE #c -v " + big + "\r\n")
        << "a nick that fits no line ends the run";
}

} // namespace
