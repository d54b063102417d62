// The channel-operator commands: ban masks for every ban type, /BAN,
// /QUIET and /KICKBAN as sent, mass modes batched by the server's MODES,
// the mass commands over the user list, /USERLIST and /DEBUG lines,
// /CHARSET, /COUNTRY and /DNS. Everything runs through the real dispatcher
// and the bytes the client wrote are checked.
#include "fake_resolver.h"
#include "irc_lines.h"

#include "commands/outbound.h"
#include "irc/inbound.h"
#include "irc/userlist.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{

class ChanCommands : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        prefs.irc_ban_type = 1;
        chan = joined("#c", "@me alice");
        ASSERT_NE(chan, nullptr);
        // Users with addresses arrive through their JOIN lines.
        recv(":bob!~bob@h.d.tld JOIN #c");
        recv(":ipv!~ipv@10.1.2.3 JOIN #c");
        sent();
        fe_recorder::reset();
    }

    session *joined(const char *name, const std::string &names)
    {
        recv(":me!u@h JOIN "s + name);
        recv(":irc.test 353 me = "s + name + " :" + names);
        recv(":irc.test 366 me "s + name + " :End of /NAMES list.");
        return find_channel(serv, name);
    }

    bool run(session *sess, std::string line)
    {
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back(0);
        return handle_command(sess, buf.data(), true);
    }

    std::string mask(const char *nick, int type, const char *mode = "+b")
    {
        return make_ban_mask(chan, nick, mode, type);
    }

    session *chan = nullptr;
};

TEST_F(ChanCommands, BanMasksForEveryTypeOfHostNamesAndAddresses)
{
    recv(":six!u@2001:db8::1 JOIN #c");
    recv(":num!u@1.2.3.4.example JOIN #c");
    struct row {
        const char *nick;
        const char *masks[4];
    };
    // IPv6 addresses and cloaks have no dot: the whole host is the domain.
    // A dotted name that is no address keeps its domain from the first dot.
    const row rows[] = {
        {"bob", {"*!*@*.d.tld", "*!*@h.d.tld", "*!*bob@*.d.tld", "*!*bob@h.d.tld"}},
        {"ipv", {"*!*@10.1.2.*", "*!*@10.1.2.3", "*!*ipv@10.1.2.*", "*!*ipv@10.1.2.3"}},
        {"six", {"*!*@*2001:db8::1", "*!*@2001:db8::1", "*!*u@*2001:db8::1", "*!*u@2001:db8::1"}},
        {"num", {"*!*@*.2.3.4.example", "*!*@1.2.3.4.example", "*!*u@*.2.3.4.example", "*!*u@1.2.3.4.example"}},
    };
    for (const row &r : rows)
        for (int type = 0; type < 4; type++)
            EXPECT_EQ(mask(r.nick, type), "+b "s + r.masks[type]) << r.nick << " type " << type;
    EXPECT_EQ(mask("BOB", 3), "+b *!*bob@h.d.tld") << "the nick is found under IRC case folding";
}

TEST_F(ChanCommands, BanMaskUsernameRules)
{
    const std::pair<const char *, const char *> users[] = {
        {"+pl", "*pl"},
        {"-mi", "*mi"},
        {"=eq", "*eq"},
        {"^ca", "*ca"},
        {"bob", "*bob"},
        {"abcdefghi", "*abcdefghi"},
        // ten characters are kept whole; a marker is replaced at any length
        {"abcdefghij", "abcdefghij"},
        {"~abcdefghijk", "*abcdefghijk"},
    };
    int n = 0;
    for (const auto &[ident, part] : users) {
        const std::string nick = "u" + std::to_string(n++);
        recv(":" + nick + "!" + ident + "@x.y JOIN #c");
        EXPECT_EQ(mask(nick.c_str(), 3), "+b *!"s + part + "@x.y") << ident;
    }
}

TEST_F(ChanCommands, BanMaskWithoutAnAddress)
{
    // Unknown nicks and masks are the mask themselves.
    EXPECT_EQ(mask("zed", 1), "+b zed");
    EXPECT_EQ(mask("*!*@spam.example", 2), "+b *!*@spam.example");
    EXPECT_EQ(mask("alice", 1, "+q"), "+q alice") << "alice came from NAMES, without an address";
    // Nothing to send for a type outside 0-3.
    EXPECT_EQ(mask("bob", 4), "");
    EXPECT_EQ(mask("bob", -1), "");
    EXPECT_EQ(mask("zed", 9), "");
    // A deop needs the nick as its own argument and never goes out as "-o+b nick".
    EXPECT_EQ(mask("bob", 2, "-o+b"), "-o+b bob *!*bob@*.d.tld");
    EXPECT_EQ(mask("alice", 2, "-o+b"), "+b alice!*@*");
}

TEST_F(ChanCommands, BanCommandSendsOneMode)
{
    run(chan, "ban bob 2");
    EXPECT_EQ(sent(), "MODE #c +b *!*bob@*.d.tld\r\n");
    run(chan, "ban bob");
    EXPECT_EQ(sent(), "MODE #c +b *!*@h.d.tld\r\n") << "irc_ban_type (1) when no type is typed";
    run(chan, "ban *!*@spam.example");
    EXPECT_EQ(sent(), "MODE #c +b *!*@spam.example\r\n");
    run(chan, "ban");
    EXPECT_EQ(sent(), "MODE #c +b\r\n") << "alone it asks for the ban list";

    run(chan, "ban bob 7");
    run(chan, "ban bob x");
    EXPECT_EQ(sent(), "");
    EXPECT_EQ(fe_recorder::calls_named("fe_print_text").size(), 2u) << fe_recorder::dump();
    EXPECT_TRUE(shown(chan, "Usage: BAN <mask> [<bantype>]"));

    // A host without "@" gives nothing to build from.
    User *alice = userlist_find(chan, "alice");
    ASSERT_NE(alice, nullptr);
    alice->hostname = g_strdup("no-at-sign");
    run(chan, "ban alice");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(chan, "Cannot build a ban mask for alice"));
}

TEST_F(ChanCommands, KickBan)
{
    run(chan, "kickban bob 3");
    EXPECT_EQ(sent(), "MODE #c +b *!*bob@h.d.tld\r\nKICK #c bob\r\n") << "a single digit is the ban type";
    run(chan, "kickban bob go away");
    EXPECT_EQ(sent(), "MODE #c +b *!*@h.d.tld\r\nKICK #c bob :go away\r\n");
    run(chan, "kickban bob 12");
    EXPECT_EQ(sent(), "MODE #c +b *!*@h.d.tld\r\nKICK #c bob :12\r\n") << "two digits are a reason";

    recv(":irc.test MODE #c +o bob");
    run(chan, "kickban bob 2");
    EXPECT_EQ(sent(), "MODE #c -o+b bob *!*bob@*.d.tld\r\nKICK #c bob\r\n");

    // Without an address the nick is banned by nick, never "-o+b nick".
    recv(":irc.test MODE #c +o alice");
    run(chan, "kickban alice bye");
    EXPECT_EQ(sent(), "MODE #c +b alice!*@*\r\nKICK #c alice :bye\r\n");
    run(chan, "kickban zed");
    EXPECT_EQ(sent(), "MODE #c +b zed!*@*\r\nKICK #c zed\r\n");

    run(chan, "kickban bob 5");
    run(chan, "kickban");
    EXPECT_EQ(sent(), "") << "bad ban type or no nick: only the help";
    EXPECT_TRUE(shown(chan, "Usage: KICKBAN"));
}

TEST_F(ChanCommands, MassKickTakesOperatorsFirst)
{
    session *big = joined("#big", "@me carl @zed alice +vic @bob %hal");
    sent();
    run(big, "mkick out");
    EXPECT_EQ(sent(), "KICK #big bob :out\r\nKICK #big zed :out\r\n"
                      "KICK #big alice :out\r\nKICK #big carl :out\r\nKICK #big hal :out\r\nKICK #big vic :out\r\n");
}

TEST_F(ChanCommands, MassModesFollowTheServersModesValue)
{
    run(chan, "op a b c d");
    EXPECT_EQ(sent(), "MODE #c +ooo a b c\r\nMODE #c +o d\r\n") << "three per line by default";

    recv(":irc.test 005 me MODES=4 :are supported by this server");
    run(chan, "op n1 n2 n3 n4 n5 n6 n7 n8 n9 n10");
    EXPECT_EQ(sent(), "MODE #c +oooo n1 n2 n3 n4\r\nMODE #c +oooo n5 n6 n7 n8\r\nMODE #c +oo n9 n10\r\n");

    run(chan, "dehop a b");
    run(chan, "unban *!*@a *!*@b");
    EXPECT_EQ(sent(), "MODE #c -hh a b\r\nMODE #c -bb *!*@a *!*@b\r\n");

    run(chan, "voice");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(chan, "Usage: VOICE"));
}

TEST_F(ChanCommands, MassOpsSkipTheOwnNick)
{
    session *big = joined("#big", "@me carl @zed alice +vic @bob %hal");
    sent();
    run(big, "mop");
    EXPECT_EQ(sent(), "MODE #big +ooo alice carl hal\r\nMODE #big +o vic\r\n");
    run(big, "mdeop");
    EXPECT_EQ(sent(), "MODE #big -oo bob zed\r\n");
    run(big, "mhop");
    EXPECT_EQ(sent(), "MODE #big +hhh alice bob carl\r\nMODE #big +hh vic zed\r\n");
    run(big, "mdehop");
    EXPECT_EQ(sent(), "MODE #big -h hal\r\n");

    // Not an operator ourselves: the own nick is still never a target.
    session *plain = joined("#plain", "me %other");
    sent();
    run(plain, "mop");
    EXPECT_EQ(sent(), "MODE #plain +o other\r\n");
    run(plain, "mdehop");
    EXPECT_EQ(sent(), "MODE #plain -h other\r\n");
    run(plain, "mdeop");
    EXPECT_EQ(sent(), "") << "nobody to deop sends nothing";
}

TEST_F(ChanCommands, QuietNeedsTheServersQListMode)
{
    run(chan, "quiet bob");
    run(chan, "unquiet *!*@x");
    EXPECT_EQ(sent(), "");
    EXPECT_EQ(fe_recorder::shown(chan).size(), 2u);
    EXPECT_TRUE(shown(chan, "Quiet is not supported by this server."));

    // q as an owner prefix is not a quiet list.
    recv(":irc.test 005 me PREFIX=(qaohv)~&@%+ CHANMODES=beI,k,l,imnpst :are supported");
    run(chan, "quiet bob");
    EXPECT_EQ(sent(), "");

    recv(":irc.test 005 me CHANMODES=beIq,k,fl,imnpst :are supported by this server");
    run(chan, "quiet bob 2");
    run(chan, "quiet bob");
    run(chan, "quiet");
    run(chan, "unquiet *!*@x *!*@y");
    EXPECT_EQ(sent(),
              "MODE #c +q *!*bob@*.d.tld\r\nMODE #c +q *!*@h.d.tld\r\nMODE #c +q\r\nMODE #c -qq *!*@x *!*@y\r\n");
}

TEST_F(ChanCommands, UserListLines)
{
    recv(":irc.test MODE #c +v ipv");
    User *ipv = userlist_find(chan, "ipv");
    ASSERT_NE(ipv, nullptr);
    ipv->lasttalk = time(nullptr) - 30;
    userlist_set_away(chan, "alice", TRUE);
    fe_recorder::reset();
    run(chan, "userlist");

    const auto lines = fe_recorder::printed(chan);
    ASSERT_EQ(lines.size(), 4u) << fe_recorder::dump();
    const std::string pad38 = "~bob@h.d.tld" + std::string(38 - 12, ' ');
    EXPECT_EQ(lines[0], "\x03"
                        "06alice\t\x03"
                        "14[\x03"
                        "10" +
                            std::string(38, ' ') +
                            "\x03"
                            "14] \x0fov\x03"
                            "3=\x0f"
                            "00 away=1 lt\x03"
                            "3=\x0f"
                            "0\n");
    EXPECT_EQ(lines[1], "\x03"
                        "06bob\t\x03"
                        "14[\x03"
                        "10" +
                            pad38 +
                            "\x03"
                            "14] \x0fov\x03"
                            "3=\x0f"
                            "00 away=0 lt\x03"
                            "3=\x0f"
                            "0\n");
    const std::string lt = fe_recorder::strip_codes(lines[2]);
    EXPECT_NE(lt.find("ov=01 away=0 lt=3"), std::string::npos) << lt; // 30 or 31 seconds
    EXPECT_EQ(fe_recorder::strip_codes(lines[3]), "me\t[" + std::string(38, ' ') + "] ov=10 away=0 lt=0\n")
        << "own op bit";
}

TEST_F(ChanCommands, DebugTables)
{
    run(home, "debug");
    const auto lines = fe_recorder::printed(home);
    ASSERT_GE(lines.size(), 5u) << fe_recorder::dump();
    EXPECT_EQ(lines.front(), "Session   T Channel    WaitChan  WillChan  Server\n");
    char *expect = g_strdup_printf("%p %1x %-10.10s %-10.10s %-10.10s %p\n", static_cast<void *>(chan), 2, "#c",
                                   chan->pending_join, chan->rejoin_channel, static_cast<void *>(serv));
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(expect)), lines.end()) << fe_recorder::dump();
    g_free(expect);
    expect = g_strdup_printf("%p %-5d %s\n", static_cast<void *>(serv), serv->sock, "irc.test");
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(expect)), lines.end());
    g_free(expect);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Server    Sock  Name\n"s), lines.end());
    EXPECT_EQ(lines.back().rfind("\nfront_session: ", 0), 0u);
    EXPECT_NE(lines.back().find("\ncurrent_tab: "), std::string::npos);
    EXPECT_EQ(lines.size(), 1 + g_slist_length(sess_list) + 1 + g_slist_length(serv_list) + 1);
}

TEST_F(ChanCommands, CharsetShowsAndChangesTheConnectionsSet)
{
    run(home, "charset");
    EXPECT_TRUE(shown(home, "Current charset: UTF-8"));

    run(home, "charset ISO-8859-1");
    EXPECT_TRUE(shown(home, "Charset changed to: ISO-8859-1"));
    EXPECT_STREQ(serv->encoding, "ISO-8859-1");
    // Text leaves in the new set.
    serv->p_raw(serv, "PRIVMSG #x :caf\xC3\xA9");
    EXPECT_EQ(sent(), "PRIVMSG #x :caf\xe9\r\n");

    fe_recorder::reset();
    run(home, "charset NO-SUCH-SET-42");
    EXPECT_TRUE(shown(home, "Unknown charset: NO-SUCH-SET-42"));
    EXPECT_STREQ(serv->encoding, "ISO-8859-1") << "an unknown set changes nothing";

    fe_recorder::reset();
    run(home, "charset -quiet UTF-8");
    EXPECT_TRUE(fe_recorder::shown(home).empty()) << fe_recorder::dump();
    EXPECT_STREQ(serv->encoding, "UTF-8");
    run(home, "charset -quiet");
    EXPECT_TRUE(shown(home, "Current charset: UTF-8"));
    EXPECT_EQ(sent(), "") << "nothing goes to the server";
}

TEST_F(ChanCommands, CountryLookups)
{
    run(home, "country de");
    EXPECT_TRUE(shown(home, "de = Germany"));
    run(home, "country -s zimb*");
    EXPECT_TRUE(shown(home, "ZW = Zimbabwe"));
    run(home, "country *ascension*");
    EXPECT_TRUE(shown(home, "AC = Ascension Island")) << "a star makes it a search";
    run(home, "country qq");
    EXPECT_TRUE(shown(home, "qq = Unknown"));
    run(home, "country *nowhere-at-all*");
    EXPECT_TRUE(shown(home, "No country matches *nowhere-at-all*."));

    fe_recorder::reset();
    run(home, "country");
    run(home, "country -s");
    EXPECT_EQ(fe_recorder::shown(home).size(), 2u);
    EXPECT_TRUE(shown(home, "Usage: COUNTRY"));
}

TEST_F(ChanCommands, DnsResolvesListedHostsAndAsksForUnknownOnes)
{
    scoped_fake_resolver resolver;
    resolver.addresses_for("h.d.tld", {"192.0.2.7"});
    resolver.name_for("127.0.0.1", "loopback.test");
    run(chan, "dns bob");
    EXPECT_TRUE(shown(chan, "Looking up h.d.tld..."));
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(chan, "    192.0.2.7"); }, 5000));

    run(chan, "dns alice");
    EXPECT_EQ(sent(), "USERHOST alice\r\n");
    // The answer to that USERHOST is what gets resolved.
    fe_recorder::reset();
    recv(":irc.test 302 me :alice=+~al@127.0.0.1");
    // The reply is a server line, so the lookup reports in the server tab.
    EXPECT_TRUE(shown(home, "Looking up 127.0.0.1..."));
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(home, "Resolved to loopback.test"); }, 5000));
    // ... and only that one: a later USERHOST reply is shown as usual.
    fe_recorder::reset();
    recv(":irc.test 302 me :alice=+~al@127.0.0.2");
    EXPECT_EQ(fe_recorder::printed_text().size(), 1u);
    EXPECT_FALSE(shown(home, "Looking up 127.0.0.2"));
    // An operator's nick carries "*", an away one "-".
    run(chan, "dns alice");
    EXPECT_EQ(sent(), "USERHOST alice\r\n");
    recv(":irc.test 302 me :alice*=-~al@127.0.0.3");
    EXPECT_TRUE(shown(home, "Looking up 127.0.0.3..."));
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(home, "Not found"); }, 5000)) << "127.0.0.3 has no name";

    fe_recorder::reset();
    run(chan, "dns 127.0.0.1");
    EXPECT_TRUE(shown(chan, "Looking up 127.0.0.1..."));
    EXPECT_TRUE(fe_recorder::run_until([&] { return shown(chan, "Resolved to loopback.test"); }, 5000));
    run(chan, "dns");
    EXPECT_TRUE(shown(chan, "Usage: DNS"));
}

TEST_F(ChanCommands, ChannelCommandsNeedAChannelTab)
{
    // The server tab and a dialog have names, but no channel to act on.
    session *query = dialog("bob");
    for (session *tab : {home, query}) {
        for (const char *cmd :
             {"ban bob", "unban x", "kick bob", "kickban bob", "op bob", "devoice bob", "mop", "mkick", "quiet bob"}) {
            fe_recorder::reset();
            run(tab, cmd);
            EXPECT_TRUE(shown(tab, "No channel joined. Try /join #<channel>")) << cmd;
        }
    }
    EXPECT_EQ(sent(), "");
}

} // namespace
