// Per-channel options: the /CHANOPT command, chanopt.conf and the store that
// connects sessions to it.
#include "text_sessions.h"

#include <sys/stat.h>

namespace
{

class ChannelOptions : public TextSessions
{
  protected:
    // Runs "/CHANOPT <args>" in `sess`; returns what it printed.
    std::vector<std::string> chanopt(session *sess, std::vector<const char *> args)
    {
        std::vector<std::string> storage = {"", "CHANOPT"};
        for (const char *a : args)
            storage.emplace_back(a);
        storage.resize(PDIWORDS);
        char *word[PDIWORDS];
        for (int i = 0; i < PDIWORDS; i++)
            word[i] = storage[static_cast<std::size_t>(i)].data();
        char tbuf[512];
        const std::size_t before = fe_recorder::printed(sess).size();
        EXPECT_EQ(chanopt_command(sess, tbuf, word, word), 1);
        std::vector<std::string> all = fe_recorder::printed(sess);
        return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
    }
    std::string conf() const { return read(path("chanopt.conf")); }
};

} // namespace

TEST_F(ChannelOptions, CommandListsAndSetsByNameAliasAndPattern)
{
    session *chan = channel(network_tab("Net"), "#c");
    const std::vector<std::string> listing = chanopt(chan, {});
    ASSERT_EQ(listing.size(), 9u);
    EXPECT_EQ(listing[0], "\002Network\002: <none> \002Channel\002: #c\n");
    EXPECT_EQ(listing[2], "alert_beep\0032..........\0033:\017 {unset}\n");
    EXPECT_EQ(listing[5], "text_hidejoinpart\0032...\0033:\017 {unset}\n");

    EXPECT_TRUE(chanopt(chan, {"-quiet", "text_logging", "ON"}).empty());
    EXPECT_EQ(chan->text_logging, SET_ON);

    // Old names and case-folded wildcards select options too.
    const std::vector<std::string> beep = chanopt(chan, {"beep", "OFF"});
    ASSERT_EQ(beep.size(), 2u);
    EXPECT_EQ(beep[1], "alert_beep\0032..........\0033:\017 OFF\n");
    EXPECT_EQ(chanopt(chan, {"ALERT_*", "1"}).size(), 5u);
    EXPECT_EQ(chan->alert_balloon, SET_ON);
    EXPECT_EQ(chan->alert_beep, SET_ON);
    EXPECT_EQ(chan->alert_tray, SET_ON);
    chanopt(chan, {"confmode", "0"});
    EXPECT_EQ(chan->text_hidejoinpart, SET_OFF);
    chanopt(chan, {"tray", "maybe"});
    chanopt(chan, {"alert_balloon", "2"});
    EXPECT_EQ(chan->alert_tray, SET_DEFAULT);
    EXPECT_EQ(chan->alert_balloon, SET_DEFAULT);
    // No value: shown, not changed.
    EXPECT_EQ(chanopt(chan, {"text_logging"}).back(), "text_logging\0032........\0033:\017 ON\n");
}

TEST_F(ChannelOptions, ChangesReachTheFileAtOnceAndComeBackInNewTabs)
{
    session *home = network_tab("Net");
    session *chan = channel(home, "#Chan");
    chanopt(chan, {"-quiet", "alert_beep", "off"});
    chanopt(chan, {"-quiet", "text_logging", "on"});
    EXPECT_EQ(conf(), "network = Net\nchannel = #Chan\nalert_beep = 0\ntext_logging = 1\n");
    struct stat sb {
    };
    ASSERT_EQ(stat(path("chanopt.conf").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u);

    // Same name on another network: a separate entry; other case: the same.
    session *other = channel(network_tab("Other"), "#chan");
    EXPECT_EQ(other->alert_beep, SET_DEFAULT);
    const std::string long_name = "#" + std::string(289, 'l');
    session *longer = channel(home, long_name.c_str());
    chanopt(longer, {"-quiet", "text_strip", "1"});
    session_free(chan);
    chanopt_save_all(true); // as at exit: the store is emptied

    session *again = channel(home, "#CHAN");
    EXPECT_EQ(again->alert_beep, SET_OFF);
    EXPECT_EQ(again->text_logging, SET_ON);
    EXPECT_EQ(again->alert_tray, SET_DEFAULT);
    session_free(longer);
    EXPECT_EQ(channel(home, long_name.c_str())->text_strip, SET_ON);

    // Unset everywhere: the entry leaves the file.
    chanopt(again, {"-quiet", "", "x"});
    EXPECT_EQ(conf(), "network = Net\nchannel = " + long_name + "\ntext_strip = 1\n");
}

TEST_F(ChannelOptions, FileIsReadForgivinglyAndNeverWipedBeforeItIsRead)
{
    write(path("chanopt.conf"), "channel = #orphan\nalert_beep = 1\n" // no network yet: ignored
                                "network = Net\r\n"
                                "channel = #seen\r\n"
                                "alert_tray = ON\r\n"
                                "text_logging =\r\n" // ends right after "=": unset
                                "text_strip=0\n"     // no spaces
                                "bogus_option = 1\n"
                                "no equals sign\n"
                                "\n"
                                "network = Net\nchannel = #unopened\ntext_scrollback = 0\n");
    session *home = network_tab("Net");
    session *seen = channel(home, "#SEEN");
    EXPECT_EQ(seen->alert_tray, SET_ON);
    EXPECT_EQ(seen->text_logging, SET_DEFAULT);
    EXPECT_EQ(seen->text_strip, SET_OFF);
    EXPECT_EQ(seen->alert_beep, SET_DEFAULT);
    EXPECT_EQ(channel(home, "#orphan")->alert_beep, SET_DEFAULT);

    // A change saved before any tab of #unopened exists keeps its entry.
    chanopt(seen, {"-quiet", "alert_balloon", "on"});
    const std::string saved = conf();
    EXPECT_NE(saved.find("channel = #unopened\ntext_scrollback = 0\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("channel = #seen\nalert_balloon = 1\nalert_tray = 1\ntext_strip = 0\n"), std::string::npos)
        << saved;
    EXPECT_EQ(saved.find("orphan"), std::string::npos);

    // The same when the very first access to the store is a save.
    chanopt_save_all(true);
    write(path("chanopt.conf"), "network = Net\nchannel = #kept\nalert_beep = 1\n");
    session *fresh = new_ircwindow(home->server, nullptr, SESS_CHANNEL, 0);
    safe_strcpy(fresh->channel, "#late", sizeof fresh->channel);
    fresh->alert_tray = SET_OFF;
    chanopt_save(fresh);
    chanopt_save_all(false);
    EXPECT_NE(conf().find("channel = #kept\nalert_beep = 1\n"), std::string::npos) << conf();
    EXPECT_NE(conf().find("channel = #late\nalert_tray = 0\n"), std::string::npos) << conf();
}
