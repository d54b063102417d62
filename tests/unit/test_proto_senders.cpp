// The protocol senders: the exact bytes each operation puts on the wire,
// JOIN packing, the login variants, and QUIT/PART going ahead of the queue.
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "irc/proto-irc.h"
#include "net/server.h"
#include "net/tcp.h"
#include "servlist/servlist.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{

using lines = std::vector<std::string>;

class Senders : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-proto-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_throttle = 0;
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, wire), 0);
        fcntl(wire[1], F_SETFL, O_NONBLOCK);
        serv = server_new();
        serv->sock = wire[0];
        g_strlcpy(serv->nick, "me", sizeof serv->nick);
    }
    void TearDown() override
    {
        serv->sock = -1;
        server_free(serv);
        fe_recorder::cancel_sources();
        tcp_clock = [] { return time(nullptr); };
        close(wire[0]);
        close(wire[1]);
        ASSERT_EQ(system((std::string("rm -rf '") + dir + "'").c_str()), 0);
        g_free(dir);
    }

    std::string wire_bytes()
    {
        std::string out;
        char buf[8192];
        for (ssize_t n; (n = read(wire[1], buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<std::size_t>(n));
        return out;
    }
    std::string sent_by(const std::function<void()> &call)
    {
        wire_bytes();
        call();
        return wire_bytes();
    }
    // The JOIN lines for channels given as "name" or "name key".
    lines join_lines(const std::vector<std::string> &specs)
    {
        std::vector<std::string> names, keys;
        for (const std::string &s : specs) {
            const std::size_t sp = s.find(' ');
            names.push_back(s.substr(0, sp));
            keys.push_back(sp == std::string::npos ? "" : s.substr(sp + 1));
        }
        std::vector<favchannel> favs;
        for (std::size_t i = 0; i < names.size(); i++)
            favs.push_back({names[i].data(), keys[i].empty() ? nullptr : keys[i].data()});
        GSList *list = nullptr;
        for (favchannel &f : favs)
            list = g_slist_append(list, &f);
        const std::string all = sent_by([&] { serv->p_join_list(serv, list); });
        g_slist_free(list);
        lines out;
        std::size_t start = 0;
        for (std::size_t at; (at = all.find("\r\n", start)) != std::string::npos; start = at + 2)
            out.push_back(all.substr(start, at - start));
        return out;
    }

    char *dir = nullptr;
    int wire[2] = {-1, -1};
    server *serv = nullptr;
};

TEST_F(Senders, EveryOperationSendsItsLine)
{
    server *s = serv;
    const std::string huge = "PRIVMSG #c :" + std::string(9000, 'z');
    const struct {
        std::function<void()> call;
        std::string want;
    } cases[] = {
        {[s] { s->p_invite(s, "#c", "bob"); }, "INVITE bob #c\r\n"},
        {[s] { s->p_cycle(s, "#c", "key"); }, "PART #c\r\nJOIN #c key\r\n"},
        {[s] { s->p_cycle(s, "#c", ""); }, "PART #c\r\nJOIN #c\r\n"},
        {[s] { s->p_ctcp(s, "bob", "VERSION"); }, "PRIVMSG bob :\001VERSION\001\r\n"},
        {[s] { s->p_nctcp(s, "bob", "VERSION x"); }, "NOTICE bob :\001VERSION x\001\r\n"},
        {[s] { s->p_quit(s, "bye now"); }, "QUIT :bye now\r\n"},
        {[s] { s->p_quit(s, ""); }, "QUIT\r\n"},
        {[s] { s->p_kick(s, "#c", "bob", "out"); }, "KICK #c bob :out\r\n"},
        {[s] { s->p_kick(s, "#c", "bob", ""); }, "KICK #c bob\r\n"},
        {[s] { s->p_part(s, "#c", "later"); }, "PART #c :later\r\n"},
        {[s] { s->p_part(s, "#c", nullptr); }, "PART #c\r\n"},
        {[s] { s->p_join(s, "#c", "k"); }, "JOIN #c k\r\n"},
        {[s] { s->p_join(s, "#c", ""); }, "JOIN #c\r\n"},
        {[s] { s->p_join_info(s, "#c"); }, "MODE #c\r\n"},
        {[s] { s->p_mode(s, "#c", "+o bob"); }, "MODE #c +o bob\r\n"},
        {[s] { s->p_user_list(s, "#c"); }, "WHO #c\r\n"},
        {[s] { s->p_away_status(s, "#c"); }, "WHO #c\r\n"},
        {[s] { s->p_whois(s, "bob bob"); }, "WHOIS bob bob\r\n"},
        {[s] { s->p_get_ip(s, "bob"); }, "WHO bob\r\n"},
        {[s] { s->p_get_ip_uh(s, "bob"); }, "USERHOST bob\r\n"},
        {[s] { s->p_set_back(s); }, "AWAY\r\n"},
        {[s] { s->p_set_away(s, "lunch"); }, "AWAY :lunch\r\n"},
        {[s] { s->p_set_away(s, nullptr); }, "AWAY : \r\n"},
        {[s] { s->p_message(s, "#c", "hi there"); }, "PRIVMSG #c :hi there\r\n"},
        {[s] { s->p_tagged_message(s, "+draft/reply=ab", "#c", "yes"); }, "@+draft/reply=ab PRIVMSG #c :yes\r\n"},
        {[s] { s->p_tagmsg(s, "+typing=active", "#c"); }, "@+typing=active TAGMSG #c\r\n"},
        {[s] { s->p_action(s, "#c", "waves"); }, "PRIVMSG #c :\001ACTION waves\001\r\n"},
        {[s] { s->p_notice(s, "bob", "psst"); }, "NOTICE bob :psst\r\n"},
        {[s] { s->p_topic(s, "#c", "new topic"); }, "TOPIC #c :new topic\r\n"},
        {[s] { s->p_topic(s, "#c", ""); }, "TOPIC #c\r\n"},
        {[s] { s->p_topic(s, "#c", nullptr); }, "TOPIC #c :\r\n"},
        {[s] { s->p_list_channels(s, "#a*", 5); }, "LIST #a*\r\n"},
        {[s] { s->p_list_channels(s, "", 5); }, "LIST\r\n"},
        {[s] { s->p_change_nick(s, "newme"); }, "NICK newme\r\n"},
        {[s] { s->p_names(s, "#c"); }, "NAMES #c\r\n"},
        {[s] { s->p_ping(s, "bob", "123 456"); }, "PRIVMSG bob :\001PING 123 456\001\r\n"},
        {[s] { s->p_ping(s, "", "LAG123"); }, "PING LAG123\r\n"},
        {[s] { s->p_raw(s, "PRIVMSG x :y"); }, "PRIVMSG x :y\r\n"},
        // A parameter cannot smuggle in a second command.
        {[s] { s->p_message(s, "#c", "hi\r\nMODE #c +o evil"); }, "PRIVMSG #c :hi  MODE #c +o evil\r\n"},
        {[s] { s->p_join(s, "#c\nQUIT", "k\r"); }, "JOIN #c QUIT k \r\n"},
        {[s] { s->p_raw(s, "QUOTE a\r\nQUIT :x"); }, "QUOTE a  QUIT :x\r\n"},
        // Even a raw line over 8700 bytes leaves as one line, cut, with its CR LF.
        {[s, &huge] { s->p_raw(s, huge.c_str()); }, huge.substr(0, 510) + "\r\n"},
        {[s] { EXPECT_EQ(s->p_raw(s, ""), 0); }, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sent_by(c.call), c.want);
    EXPECT_EQ(serv->p_cmp("[Nick]", "{nick}"), 0);

    serv->have_whox = TRUE;
    serv->have_list_conditions = TRUE;
    EXPECT_EQ(sent_by([s] { s->p_user_list(s, "#c"); }), "WHO #c %chtsunfra,152\r\n");
    EXPECT_EQ(sent_by([s] { s->p_get_ip(s, "bob"); }), "WHO bob %chtsunfra,152\r\n");
    EXPECT_EQ(sent_by([s] { s->p_list_channels(s, "", 5); }), "LIST >4,<10000\r\n");
}

TEST_F(Senders, IdentifyAndGhostFollowTheLoginMethod)
{
    const struct {
        int method;
        std::string identify, ghost;
    } cases[] = {
        {LOGIN_METHOD_NICKSERV_MSG, "PRIVMSG NICKSERV :IDENTIFY pw\r\n", "PRIVMSG NICKSERV :GHOST me pw\r\n"},
        {LOGIN_METHOD_NICKSERV_CMD, "NICKSERV IDENTIFY pw\r\n", "NICKSERV GHOST me pw\r\n"},
        {LOGIN_METHOD_CHALLENGE, std::string("PRIVMSG ") + CHALLENGE_SERVICE_ADDRESS + " :CHALLENGE\r\n", ""},
    };
    for (const auto &c : cases) {
        serv->login_method = c.method;
        EXPECT_EQ(sent_by([&] { serv->p_ns_identify(serv, "pw"); }), c.identify);
        EXPECT_EQ(sent_by([&] { serv->p_ns_ghost(serv, "me", "pw"); }), c.ghost);
    }
}

TEST_F(Senders, LoginStartsCapabilityNegotiationAndSendsPassOnlyForServerPassword)
{
    serv->cap_ended = TRUE;
    EXPECT_EQ(sent_by([&] { serv->p_login(serv, "user", "Real Name"); }),
              "CAP LS 302\r\nNICK me\r\nUSER user 0 * :Real Name\r\n");
    EXPECT_FALSE(serv->cap_ended);

    const std::string rest = "NICK me\r\nUSER u 0 * :r\r\n";
    g_strlcpy(serv->password, "secret", sizeof serv->password);
    serv->login_method = LOGIN_METHOD_SASL_PLAIN;
    EXPECT_EQ(sent_by([&] { serv->p_login(serv, "u", "r"); }), "CAP LS 302\r\n" + rest);
    serv->login_method = LOGIN_METHOD_SERVER_PASSWORD;
    const std::pair<const char *, const char *> pass_lines[] = {
        {"secret", "PASS secret\r\n"}, {"two words", "PASS :two words\r\n"}, {":colon", "PASS ::colon\r\n"}};
    for (auto [password, pass_line] : pass_lines) {
        g_strlcpy(serv->password, password, sizeof serv->password);
        EXPECT_EQ(sent_by([&] { serv->p_login(serv, "u", "r"); }), "CAP LS 302\r\n" + std::string(pass_line) + rest);
    }
}

TEST_F(Senders, JoinManyPacksChannelsAndKeysIntoLinesThatFit)
{
    EXPECT_EQ(join_lines({"#a", "#b"}), (lines{"JOIN #a,#b"}));
    EXPECT_EQ(join_lines({"#a", "#b kb", "#c"}), (lines{"JOIN #a,#b,#c x,kb,x"}));
    EXPECT_EQ(join_lines({}), lines{});

    // 9 + 250 + (250 + 2) = 511 stays on one line; one byte more does not.
    const std::string x = "#" + std::string(249, 'x'), y = "#" + std::string(249, 'y');
    EXPECT_EQ(join_lines({x, y}), (lines{"JOIN " + x + "," + y}));
    EXPECT_EQ(join_lines({x, y + "z"}), (lines{"JOIN " + x, "JOIN " + y + "z"}));

    // The running count leaves out the "x" of each keyless channel; with one
    // key among many short channels the real line length has to decide.
    std::vector<std::string> specs = {"#100 k"};
    for (int i = 101; i < 220; i++)
        specs.push_back("#" + std::to_string(i));
    std::size_t channels = 0;
    const lines out = join_lines(specs);
    ASSERT_GE(out.size(), 2u);
    for (const std::string &l : out) {
        EXPECT_LE(l.size() + 2, 512u);
        const std::size_t sp = l.find(' ', 5);
        const auto commas = std::count(l.begin(), l.begin() + static_cast<long>(std::min(sp, l.size())), ',');
        channels += static_cast<std::size_t>(commas) + 1;
        if (sp != std::string::npos) {
            EXPECT_EQ(std::count(l.begin() + static_cast<long>(sp), l.end(), ','), commas) << "a key for every channel";
        }
    }
    EXPECT_EQ(channels, 120u);
}

TEST_F(Senders, QuitAndPartLeaveAheadOfAPastedBacklog)
{
    prefs.net_throttle = 1;
    static time_t now = 5000;
    tcp_clock = [] { return now; };
    const std::string pasted = "PRIVMSG #c :pasted\r\n";
    for (int i = 0; i < 20; i++)
        serv->p_message(serv, "#c", "pasted");
    ASSERT_EQ(wire_bytes().size(), 5 * pasted.size());
    EXPECT_EQ(sent_by([&] { serv->p_part(serv, "#c", "closing"); }), "PART #c :closing\r\n");
    EXPECT_EQ(sent_by([&] { serv->p_quit(serv, "bye"); }), "QUIT :bye\r\n");
    EXPECT_EQ(serv->queued_bytes, static_cast<int>(15 * pasted.size()));
}

} // namespace
