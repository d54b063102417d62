// The ignore list, the flood guard and the notify list, fed through the real
// parser and read back from what the client sends.
#include "irc_lines.h"

#include "base/util.h"
#include "lists/ignore.h"
#include "lists/notify.h"

#include <sys/stat.h>

#include <string>

using namespace std::string_literals;

namespace
{

time_t fake_now;
time_t fake_clock()
{
    return fake_now;
}

class Lists : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        fake_now = 1000;
        flood_clock = fake_clock;
        serv->motd_done = TRUE;
    }
    void TearDown() override
    {
        flood_clock = [] { return time(nullptr); };
        IrcLines::TearDown();
    }
    std::vector<unsigned int> types() const
    {
        std::vector<unsigned int> out;
        for (GSList *l = ignore_list; l; l = l->next)
            out.push_back(static_cast<ignore *>(l->data)->type);
        return out;
    }
};

TEST_F(Lists, IgnoreMasksWithExceptions)
{
    const int all = IG_PRIV | IG_NOTI | IG_CHAN | IG_CTCP | IG_INVI | IG_DCC;
    EXPECT_EQ(ignore_add("*!*@*", all, true), 1);
    EXPECT_EQ(ignore_add("*!*@friend.example", IG_UNIG | IG_PRIV, true), 1);
    EXPECT_EQ(ignore_check("bob!u@friend.example", IG_PRIV), 0) << "the exception wins for the type it shares";
    EXPECT_EQ(ignore_check("bob!u@FRIEND.example", IG_CHAN), 1) << "but only for that type";
    EXPECT_EQ(ignore_check("eve!u@other.example", IG_PRIV), 1) << "and only for that host";

    // Merging keeps old bits; the newest spelling wins; overwrite replaces.
    EXPECT_EQ(ignore_add("SPAM!*@*", IG_CTCP, true), 1);
    EXPECT_EQ(ignore_add("spam!*@*", IG_DCC, false), 2);
    EXPECT_STREQ(ignore_exists("Spam!*@*")->mask, "spam!*@*");
    EXPECT_EQ(ignore_exists("spam!*@*")->type, unsigned(IG_CTCP | IG_DCC));
    EXPECT_EQ(ignore_add("spam!*@*", IG_INVI, true), 2);
    EXPECT_EQ(ignore_exists("spam!*@*")->type, unsigned(IG_INVI));

    ignore_clear();
    ignore_add("*!*@evil.example", IG_NOTI, true);
    const int before = ignored_total, notices = ignored_noti, privs = ignored_priv;
    fe_recorder::reset();
    recv(":x!y@evil.example NOTICE me :dropped");
    recv(":x!y@evil.example PRIVMSG me :kept");
    EXPECT_FALSE(shown(home, "dropped"));
    EXPECT_EQ(ignored_total, before + 1);
    EXPECT_EQ(ignored_noti, notices + 1);
    EXPECT_EQ(ignored_priv, privs);
    EXPECT_EQ(fe_recorder::count("fe_ignore_update"), 1) << "the window's counters are told";
}

TEST_F(Lists, IndexedMasksAgreeWithPlainMatching)
{
    const char *masks[] = {"*!*@host.example",
                           "*!*@*.dom.example",
                           "nick!*@*",
                           "N?ck!*@*",
                           "*!user@*",
                           "a!b@c@d.example",
                           "*!*@[::1]",
                           "x\\*y!*@*",
                           "nick!*@host.exampl*",
                           "*",
                           "no-bang@host.example"};
    const char *senders[] = {"nick!u@host.example",
                             "NICK!u@HOST.EXAMPLE",
                             "n!u@sub.dom.example",
                             "n!u@dom.example",
                             "n!user@x",
                             "a!b@c@d.example",
                             "q!r@d.example",
                             "x*y!a@b",
                             "xzy!a@b",
                             "n!u@[::1]",
                             "n@ick!u@host.example",
                             "nick!u@host.example.evil"};
    for (const char *mask : masks) {
        ignore_clear();
        ignore_add(mask, IG_PRIV, true);
        for (const char *sender : senders)
            EXPECT_EQ(ignore_check(sender, IG_PRIV), match(mask, sender) ? 1 : 0) << mask << " / " << sender;
    }
}

TEST_F(Lists, IgnoreFileKeepsOrderAcrossRestarts)
{
    ignore_add("old!*@*", IG_PRIV, true);
    ignore_add("temp!*@*", IG_CHAN | IG_NOSAVE, true);
    ignore_add("new!*@*", IG_CTCP | IG_UNIG, true);
    ignore_save();
    struct stat st {
    };
    ASSERT_EQ(stat(path("ignore.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ignore_clear();
    ignore_load();
    ASSERT_EQ(g_slist_length(ignore_list), 2u) << "NOSAVE entries stay out of the file";
    EXPECT_STREQ(static_cast<ignore *>(ignore_list->data)->mask, "new!*@*") << "newest first, as before";
    EXPECT_EQ(types(), (std::vector<unsigned int>{IG_CTCP | IG_UNIG, IG_PRIV}));
    // A second round trip must not reverse it again.
    ignore_save();
    ignore_clear();
    ignore_load();
    EXPECT_STREQ(static_cast<ignore *>(ignore_list->data)->mask, "new!*@*");

    // A damaged file gives what it can and no crash.
    ignore_clear();
    write_file("ignore.conf", "mask = a!*@*\ntype = 1\n\nmask = \ntype = 4\n\nmask = b!*@*\n");
    ignore_load();
    EXPECT_EQ(types(), (std::vector<unsigned int>{IG_PRIV}));
}

TEST_F(Lists, CtcpFloodIgnoresTheHostAndDetectionGoesOn)
{
    prefs.flood_ctcp_num = 5;
    prefs.flood_ctcp_time = 30;
    const std::string ping = ":evil!u@bad.example PRIVMSG me :\001PING 1\001";
    auto answered = [&] { return sent().find("NOTICE evil :\001PING 1\001") != std::string::npos; };
    for (int i = 0; i < 4; i++) {
        fake_now++;
        recv(ping);
        EXPECT_TRUE(answered()) << i;
    }
    fake_now++;
    recv(ping);
    EXPECT_FALSE(answered()) << "the fifth within 30 seconds is the flood";
    ASSERT_NE(ignore_exists("*!*@bad.example"), nullptr);
    EXPECT_EQ(ignore_exists("*!*@bad.example")->type, unsigned(IG_CTCP));
    EXPECT_TRUE(shown(home, "You are being CTCP flooded from evil, ignoring *!*@bad.example"));

    // Once the first window is over, a new one counts: a later flood from
    // another host is still caught.
    ignore_clear();
    const std::string other = ":pest!u@other.example PRIVMSG me :\001VERSION\001";
    fake_now += 100;
    for (int i = 0; i < 3; i++)
        recv(other);
    fake_now += 31; // that window expired: this one starts afresh
    for (int i = 0; i < 4; i++)
        recv(other);
    EXPECT_EQ(ignore_exists("*!*@other.example"), nullptr);
    recv(other);
    EXPECT_NE(ignore_exists("*!*@other.example"), nullptr);
}

TEST_F(Lists, MessageFloodPausesDialogsWithoutTouchingTheSetting)
{
    prefs.flood_msg_num = 3;
    prefs.flood_msg_time = 10;
    prefs.gui_autoopen_dialog = 1;
    for (int i = 0; i < 3; i++)
        recv(":n"s + std::to_string(i) + "!u@x PRIVMSG me :hi");
    EXPECT_FALSE(flood_autoopen_dialog());
    EXPECT_EQ(prefs.gui_autoopen_dialog, 1);
    save_config();
    gchar *conf = nullptr;
    ASSERT_TRUE(g_file_get_contents(path("lumenwick.conf").c_str(), &conf, nullptr, nullptr));
    EXPECT_NE(strstr(conf, "gui_autoopen_dialog = 1"), nullptr) << "a save during the pause keeps the setting";
    g_free(conf);
    recv(":late!u@x PRIVMSG me :hi");
    EXPECT_EQ(find_dialog(serv, "late"), nullptr);
}

TEST_F(Lists, NotifyOnMonitorServers)
{
    serv->have_monitor = TRUE;
    serv->have_watch = TRUE;
    ASSERT_TRUE(notify_adduser("bob", nullptr));
    EXPECT_EQ(sent(), "MONITOR + bob\r\n") << "MONITOR is preferred and no ISON goes out";

    recv(":irc.test 730 me :bob!b@h");
    EXPECT_TRUE(shown(home, "Notify: bob is online"));
    EXPECT_TRUE(notify_isnotify(home, "BOB"));
    recv(":irc.test 731 me :bob");
    EXPECT_TRUE(shown(home, "Notify: bob is offline"));

    // Removal goes out with the nick still at hand.
    EXPECT_EQ(notify_deluser("BOB"), 1);
    EXPECT_EQ(sent(), "MONITOR - bob\r\n");

    // A full MONITOR list: the refused nicks go to WATCH and the user is told.
    notify_adduser("carol", nullptr);
    notify_adduser("dave", nullptr);
    sent();
    recv(":irc.test 734 me 1 dave :Monitor list is full.");
    EXPECT_EQ(sent(), "WATCH +dave\r\n");
    EXPECT_TRUE(shown(home, "MONITOR list is full; watching dave with WATCH"));
    EXPECT_EQ(notify_deluser("dave"), 1);
    EXPECT_EQ(sent(), "WATCH -dave\r\n") << "taken off the list it is on";

    // Without WATCH they are polled with ISON, the others are not.
    serv->have_watch = FALSE;
    recv(":irc.test 734 me 1 carol :Monitor list is full.");
    EXPECT_EQ(sent(), "ISON carol \r\n");
    notify_checklist(nullptr);
    EXPECT_EQ(sent(), "ISON carol \r\n");
    recv(":irc.test 303 me :carol");
    EXPECT_TRUE(shown(home, "Notify: carol is online"));
    EXPECT_EQ(notify_deluser("carol"), 1);
    EXPECT_EQ(sent(), "") << "a nick MONITOR refused is not taken off MONITOR";
}

TEST_F(Lists, IsonRoundsRotateAndOnlyAskedNicksChange)
{
    // 60 nicks of 12 characters: too many for one ISON line.
    std::vector<std::string> nicks;
    for (int i = 0; i < 60; i++) {
        char nick[16];
        snprintf(nick, sizeof nick, "friend%06d", i);
        nicks.push_back(nick);
    }
    std::string file;
    for (const std::string &n : nicks)
        file += n + "\n";
    write_file("notify.conf", file);
    notify_load();
    auto asked = [&] {
        std::string line = sent();
        EXPECT_EQ(line.rfind("ISON ", 0), 0u) << line;
        EXPECT_LE(line.size(), 462u) << "a round fits one line";
        return line.size() > 8 ? line.substr(5, line.size() - 8) : line;
    };
    // 13 bytes a nick: 35 fit a round, so rounds go 0-34, 35-59 and 0-9, 10-44.
    notify_checklist(nullptr);
    const std::string first = asked();
    notify_checklist(nullptr);
    const std::string second = asked();
    notify_checklist(nullptr);
    const std::string third = asked();
    EXPECT_EQ(first.substr(0, 12), nicks[0]);
    EXPECT_EQ(second.substr(0, 12), nicks[35]) << "the next round goes on where the last stopped";
    EXPECT_EQ(third.substr(0, 12), nicks[10]);

    recv(":irc.test 303 me :" + first);
    EXPECT_TRUE(notify_isnotify(home, nicks[30].c_str())) << "the whole reply is read, not 24 words";
    EXPECT_TRUE(shown(home, nicks[34] + " is online"));
    recv(":irc.test 303 me :");
    EXPECT_FALSE(notify_isnotify(home, nicks[5].c_str())) << "asked again and missing";
    EXPECT_TRUE(notify_isnotify(home, nicks[30].c_str())) << "not asked in that round";
    EXPECT_TRUE(shown(home, nicks[5] + " is offline"));
    recv(":irc.test 303 me :");
    EXPECT_FALSE(notify_isnotify(home, nicks[30].c_str()));
    // A reply nobody asked for (a hand-typed ISON) takes nobody offline.
    recv(":irc.test 303 me :" + nicks[50]);
    EXPECT_TRUE(notify_isnotify(home, nicks[50].c_str()));
    recv(":irc.test 303 me :");
    EXPECT_TRUE(notify_isnotify(home, nicks[50].c_str()));
}

TEST_F(Lists, NotifyNetworksAndFile)
{
    ASSERT_TRUE(notify_adduser("bob", "Libera, OFTC"));
    auto *bob = static_cast<notify *>(notify_list->data);
    EXPECT_EQ(bob->networks, "Libera,OFTC");
    EXPECT_FALSE(notify_applies(bob, serv)) << "this server is \"net\"";
    notify_adduser("carol", "ALL");
    notify_adduser("dave", "n e t");
    EXPECT_EQ(sent(), "ISON carol \r\nISON carol dave \r\n") << "only the applying nicks are asked";
    recv(":irc.test 303 me :");
    recv(":irc.test 303 me :dave bob");
    EXPECT_FALSE(shown(home, "bob is online")) << "bob was not asked and does not apply";
    EXPECT_TRUE(shown(home, "dave is online"));

    notify_save();
    while (notify_list)
        notify_deluser(static_cast<notify *>(notify_list->data)->name.c_str());
    gchar *data = nullptr;
    ASSERT_TRUE(g_file_get_contents(path("notify.conf").c_str(), &data, nullptr, nullptr));
    EXPECT_STREQ(data, "bob Libera,OFTC\ncarol\ndave net\n") << "oldest first";
    g_free(data);
    write_file("notify.conf", "# comment\n\nerin\nbob Libera,OFTC\n");
    notify_load();
    ASSERT_EQ(g_slist_length(notify_list), 2u);
    EXPECT_EQ(static_cast<notify *>(notify_list->data)->name, "bob") << "newest first in memory";
}

} // namespace
