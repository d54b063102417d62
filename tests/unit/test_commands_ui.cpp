// The commands of the front end and of the lists: running a command in many
// tabs while it closes them, questions answered after their tab is gone,
// and what each command hands to the front end or to the later subsystems.
#include "irc_lines.h"

#include "base/history.h"
#include "commands/outbound.h"
#include "config/list.h"
#include "config/menu.h"
#include "dcc/dcc.h"
#include "irc/inbound.h"
#include "lists/ignore.h"
#include "lists/notify.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

class UiCommands : public IrcLines
{
  protected:
    void TearDown() override
    {
        // Nothing may be sent to the extra networks while their tabs close.
        for (GSList *l = serv_list; l; l = l->next) {
            auto *other = static_cast<server *>(l->data);
            other->sock = -1;
            other->connected = FALSE;
        }
        menu_free_all();
        prefs.dcc_ip[0] = 0;
        prefs.dcc_ip_from_server = 0;
        IrcLines::TearDown();
        for (int fd : extra_fds)
            close(fd);
    }

    // Runs a line as if typed after the command character.
    static void run(session *sess, const std::string &line)
    {
        std::string copy = line;
        handle_command(sess, copy.data(), true);
    }

    // A second connected network whose home tab is named `name`.
    session *second_network(const char *name)
    {
        int pair[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        fcntl(pair[1], F_SETFL, O_NONBLOCK);
        extra_fds.push_back(pair[1]);
        extra_fds.push_back(pair[0]);
        session *tab = new_ircwindow(nullptr, name, SESS_SERVER, 0);
        tab->server->sock = pair[0];
        tab->server->connected = TRUE;
        g_strlcpy(tab->server->nick, "me", sizeof tab->server->nick);
        return tab;
    }

    // The fe_ calls of one name made for one session.
    static std::vector<std::string> calls_for(const char *name, const session *sess)
    {
        std::vector<std::string> out;
        for (const auto &c : fe_recorder::calls_named(name))
            if (c.sess == sess)
                out.push_back(c.args);
        return out;
    }
    static std::string last_args(const char *name)
    {
        const auto all = fe_recorder::calls_named(name);
        return all.empty() ? std::string("(none)") : all.back().args;
    }
    static bool help_shown(const session *sess, const char *command)
    {
        return shown(sess, std::string("Usage: ") + command);
    }

    std::vector<int> extra_fds;
};

// ---- commands that run in many tabs -------------------------------------------------------

TEST_F(UiCommands, AllchanSurvivesACommandThatClosesEveryChannel)
{
    session *a = channel("#a");
    channel("#b");
    channel("#c");
    session *query = dialog("bob");
    session *other = second_network("net2");
    other->server->connected = FALSE;
    session *offline = new_ircwindow(other->server, "#off", SESS_CHANNEL, 0);

    run(a, "allchan close");

    EXPECT_EQ(find_channel(serv, "#a"), nullptr);
    EXPECT_EQ(find_channel(serv, "#b"), nullptr);
    EXPECT_EQ(find_channel(serv, "#c"), nullptr);
    EXPECT_TRUE(is_session(query));
    EXPECT_TRUE(is_session(offline)) << "a channel of a disconnected server is left alone";
    EXPECT_EQ(fe_recorder::count("fe_close_window"), 3);
}

TEST_F(UiCommands, AllchanlAndAllservChooseTheirTabs)
{
    session *a = channel("#a");
    session *b = channel("#b");
    session *net2 = second_network("net2");
    session *c = new_ircwindow(net2->server, "#c", SESS_CHANNEL, 0);

    run(a, "allchanl gui flash");
    EXPECT_EQ(calls_for("fe_ctrl_gui", a).size(), 1u);
    EXPECT_EQ(calls_for("fe_ctrl_gui", b).size(), 1u);
    EXPECT_TRUE(calls_for("fe_ctrl_gui", c).empty());

    fe_recorder::reset();
    serv->recent_session = b;
    run(a, "allserv gui flash");
    EXPECT_EQ(calls_for("fe_ctrl_gui", b).size(), 1u) << "the front tab of the first server";
    EXPECT_EQ(calls_for("fe_ctrl_gui", net2).size(), 1u);
    EXPECT_EQ(fe_recorder::count("fe_ctrl_gui"), 2);

    run(a, "allchan");
    EXPECT_TRUE(help_shown(a, "ALLCHAN"));
    run(a, "allserv close");
    EXPECT_FALSE(is_session(b));
    EXPECT_FALSE(is_session(net2));
}

TEST_F(UiCommands, DoatFindsChannelsNetworksAndBothAndSkipsClosedTabs)
{
    session *a = channel("#a");
    session *net2 = second_network("net2");
    session *b2 = new_ircwindow(net2->server, "#b", SESS_CHANNEL, 0);
    session *b1 = channel("#b");

    run(a, "doat #b gui flash");
    EXPECT_EQ(calls_for("fe_ctrl_gui", b1).size(), 1u) << "the current server wins";
    EXPECT_TRUE(calls_for("fe_ctrl_gui", b2).empty());

    fe_recorder::reset();
    run(a, "doat #b/net2,/net2 gui flash");
    EXPECT_EQ(calls_for("fe_ctrl_gui", b2).size(), 1u);
    EXPECT_EQ(calls_for("fe_ctrl_gui", net2).size(), 1u);

    run(a, "doat #nowhere gui flash");
    EXPECT_TRUE(shown(a, "No tab matches #nowhere."));

    // Both items name the same tab: the second run must not touch it again.
    run(a, "doat #b/net2,#b/net2 close");
    EXPECT_FALSE(is_session(b2));
    EXPECT_EQ(fe_recorder::count("fe_close_window"), 1);

    run(a, "doat #a");
    EXPECT_TRUE(help_shown(a, "DOAT"));
}

TEST_F(UiCommands, CloseMinusMClosesEveryDialogEvenTheOneItRunsIn)
{
    session *a = channel("#a");
    session *bob = dialog("bob");
    dialog("carol");

    run(bob, "close -m");

    EXPECT_FALSE(is_session(bob));
    EXPECT_EQ(find_dialog(serv, "carol"), nullptr);
    EXPECT_TRUE(is_session(a));

    run(a, "close see you");
    EXPECT_FALSE(is_session(a));
}

// ---- text, tabs and the window ----------------------------------------------------------

TEST_F(UiCommands, ClearForms)
{
    session *a = channel("#a");
    session *b = channel("#b");
    b->has_highlight = TRUE;

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"clear", "#a, 0"}, {"clear -5", "#a, -5"}, {"clear 12", "#a, 12"}, {"clear 0", "#a, 0"}};
    for (const auto &[line, args] : cases) {
        fe_recorder::reset();
        run(a, line);
        EXPECT_EQ(last_args("fe_text_clear"), args) << line;
    }

    fe_recorder::reset();
    run(a, "clear alL");
    EXPECT_EQ(calls_for("fe_text_clear", a).size(), 1u);
    EXPECT_EQ(calls_for("fe_text_clear", home).size(), 1u);
    EXPECT_TRUE(calls_for("fe_text_clear", b).empty()) << "a tab with a highlight keeps its text";

    fe_recorder::reset();
    history_add(&a->input_history, "/join #x");
    run(a, "clear history");
    EXPECT_EQ(history_up(&a->input_history, ""), nullptr);
    EXPECT_EQ(fe_recorder::count("fe_text_clear"), 0) << "the text stays";

    for (const char *bad : {"clear lots", "clear 5x", "clear +5", "clear -", "clear 99999999999"}) {
        fe_recorder::reset();
        run(a, bad);
        EXPECT_EQ(fe_recorder::count("fe_text_clear"), 0) << bad;
        EXPECT_TRUE(help_shown(a, "CLEAR")) << bad;
    }
}

TEST_F(UiCommands, GuiActionNumbers)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"gui hide", "net, 0, 0"},    {"gui SHOW", "net, 1, 0"},        {"gui focus", "net, 2, 0"},
        {"gui flash", "net, 3, 0"},   {"gui color 2", "net, 4, 2"},     {"gui color 3 -nooverride", "net, 4, 11"},
        {"gui iconify", "net, 5, 0"}, {"gui menu toggle", "net, 6, 0"}, {"gui attach", "net, 7, 2"},
        {"gui detach", "net, 7, 1"},  {"gui apply", "net, 8, 0"},
    };
    for (const auto &[line, args] : cases) {
        fe_recorder::reset();
        run(home, line);
        EXPECT_EQ(last_args("fe_ctrl_gui"), args) << line;
    }

    run(home, "gui msgbox <b>hi</b> there");
    EXPECT_EQ(last_args("fe_message"), "\"<b>hi</b> there\", 18");

    for (const char *bad : {"gui", "gui color", "gui color 7", "gui color 2 loud", "gui menu", "gui msgbox", "gui x"}) {
        fe_recorder::reset();
        run(home, bad);
        EXPECT_EQ(fe_recorder::count("fe_ctrl_gui") + fe_recorder::count("fe_message"), 0) << bad;
        EXPECT_TRUE(help_shown(home, "GUI")) << bad;
    }
}

TEST_F(UiCommands, CursorTextAndTabName)
{
    session *a = channel("#a");
    run(a, "setcursor +3");
    EXPECT_EQ(last_args("fe_set_inputbox_cursor"), "#a, 1, 3");
    run(a, "setcursor -2");
    EXPECT_EQ(last_args("fe_set_inputbox_cursor"), "#a, 1, -2");
    run(a, "setcursor 7");
    EXPECT_EQ(last_args("fe_set_inputbox_cursor"), "#a, 0, 7");
    run(a, "setcursor here");
    EXPECT_TRUE(help_shown(a, "SETCURSOR"));

    run(a, "settext hello  world");
    EXPECT_EQ(last_args("fe_set_inputbox_contents"), "#a, \"hello  world\"");

    // The tab shows the new name; the channel keeps its own.
    run(a, "settab " + std::string(400, 'x'));
    EXPECT_EQ(last_args("fe_set_channel"), std::string(299, 'x'));
    EXPECT_STREQ(a->channel, "#a");
    EXPECT_EQ(find_channel(serv, "#a"), a);
}

TEST_F(UiCommands, LastlogRemembersItsSourceAndFlags)
{
    session *a = channel("#a");
    run(a, "lastlog -h -r -- -m");

    session *results = find_dialog(serv, "(lastlog)");
    ASSERT_NE(results, nullptr);
    EXPECT_EQ(results->search_results_session, a);
    EXPECT_EQ(results->search_flags, 20);
    EXPECT_EQ(last_args("fe_text_clear"), "(lastlog), 0");
    EXPECT_EQ(last_args("fe_lastlog"), "#a, (lastlog), \"-m\", 20");

    // From the results tab the search goes to the tab it searched before.
    run(results, "lastlog -m Hello there");
    EXPECT_EQ(last_args("fe_lastlog"), "#a, (lastlog), \"Hello there\", 1");
    EXPECT_EQ(results->search_flags, 1);
    int results_tabs = 0;
    for (GSList *l = sess_list; l; l = l->next)
        results_tabs += strcmp(static_cast<session *>(l->data)->channel, "(lastlog)") == 0;
    EXPECT_EQ(results_tabs, 1);

    run(a, "lastlog -x");
    EXPECT_EQ(last_args("fe_lastlog"), "#a, (lastlog), \"-x\", 0") << "an unknown option is the search text";
    run(a, "lastlog -h");
    EXPECT_TRUE(help_shown(a, "LASTLOG"));
}

TEST_F(UiCommands, ButtonsGoToTheListOfTheTabKind)
{
    session *a = channel("#a");
    session *bob = dialog("bob");
    const guint buttons = g_slist_length(button_list);
    const guint dlgbuttons = g_slist_length(dlgbutton_list);

    run(a, "addbutton Wave me waves at %s");
    run(bob, "addbutton Hug me hugs %s");
    ASSERT_EQ(g_slist_length(button_list), buttons + 1);
    ASSERT_EQ(g_slist_length(dlgbutton_list), dlgbuttons + 1);
    auto *wave = static_cast<popup *>(g_slist_last(button_list)->data);
    EXPECT_STREQ(wave->name, "Wave");
    EXPECT_STREQ(wave->cmd, "me waves at %s");
    EXPECT_EQ(calls_for("fe_buttons_update", a).size(), 1u);
    EXPECT_EQ(calls_for("fe_dlgbuttons_update", bob).size(), 1u);

    run(a, "addbutton Long " + std::string(LIST_CMD_MAX + 1, 'x'));
    EXPECT_EQ(g_slist_length(button_list), buttons + 1) << "too long to be saved whole";
    EXPECT_TRUE(shown(a, "A button name may have at most"));

    run(a, "delbutton Hug");
    EXPECT_EQ(g_slist_length(dlgbutton_list), dlgbuttons + 1) << "a channel tab deletes from its own list";
    EXPECT_EQ(fe_recorder::count("fe_buttons_update"), 1) << "nothing removed, nothing redrawn";
    run(bob, "delbutton hug");
    EXPECT_EQ(g_slist_length(dlgbutton_list), dlgbuttons);
    run(a, "delbutton wave");
    EXPECT_EQ(g_slist_length(button_list), buttons);
    EXPECT_EQ(fe_recorder::count("fe_buttons_update"), 2);
}

TEST_F(UiCommands, TrayForms)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"tray -t two words", "fe_tray_set_tooltip(\"two words\")"},
        {"tray -i 5", "fe_tray_set_icon(5)"},
        {"tray -f", "fe_tray_set_file(null)"},
        {"tray -f a.png", "fe_tray_set_file(\"a.png\")"},
        {"tray -f 1000 a.png b.png", "fe_tray_set_flash(\"a.png\", \"b.png\", 1000)"},
        {"tray -f 250 a.png", "fe_tray_set_flash(\"a.png\", null, 250)"},
    };
    for (const auto &[line, call] : cases) {
        fe_recorder::reset();
        run(home, line);
        ASSERT_FALSE(fe_recorder::calls().empty()) << line;
        EXPECT_EQ(fe_recorder::calls().front().text(), call) << line;
    }

    run(home, "tray -b Title body text");
    EXPECT_TRUE(shown(home, "Tray balloons need desktop notifications"));
    for (const char *bad : {"tray", "tray -t", "tray -i", "tray -i five", "tray -b Title", "tray -x y"}) {
        fe_recorder::reset();
        run(home, bad);
        EXPECT_TRUE(shown(home, "TRAY -t <text>")) << bad;
    }
}

// ---- questions ----------------------------------------------------------------------------

TEST_F(UiCommands, AnswersRunTheCommandWithTheAnswer)
{
    session *a = channel("#a");
    auto answered = [&](const fe_recorder::answers &answers, const std::string &line) {
        fe_recorder::reset();
        fe_recorder::set_answers(answers);
        run(a, line);
        fe_recorder::run_for(50); // answers arrive from idle callbacks
        std::vector<std::string> texts;
        for (const auto &c : fe_recorder::calls_named("fe_set_inputbox_contents"))
            texts.push_back(c.args);
        return texts;
    };
    using texts = std::vector<std::string>;

    fe_recorder::answers ok;
    ok.cancelled = false;
    ok.text = "two words";
    EXPECT_EQ(answered(ok, "getstr def settext \"Your text:\""), texts{"#a, \"two words\""});
    EXPECT_EQ(last_args("fe_get_str"), "\"Your text:\", \"def\"");
    ok.number = 7;
    EXPECT_EQ(answered(ok, "getint 5 settext Number"), texts{"#a, \"7\""});
    EXPECT_EQ(last_args("fe_get_int"), "\"Number\", 5");
    fe_recorder::answers yes;
    yes.yes = true;
    EXPECT_EQ(answered(yes, "getbool settext Title Sure?"), texts{"#a, \"1\""});
    EXPECT_EQ(answered(fe_recorder::answers{}, "getbool settext Title Sure?"), texts{"#a, \"0\""});

    // Cancelled number and text prompts run nothing; a cancelled file
    // chooser runs the command alone.
    EXPECT_TRUE(answered(fe_recorder::answers{}, "getstr def settext Prompt").empty());
    EXPECT_TRUE(answered(fe_recorder::answers{}, "getint 5 settext Prompt").empty());
    EXPECT_EQ(answered(fe_recorder::answers{}, "getfile settext Pick"), texts{"#a, \"\""});

    fe_recorder::answers files;
    files.cancelled = false;
    files.files = {"/tmp/one", "/tmp/two words"};
    EXPECT_EQ(answered(files, "getfile -multi -folder -save settext Pick /tmp"),
              (texts{"#a, \"/tmp/one\"", "#a, \"/tmp/two words\""}));
    EXPECT_EQ(last_args("fe_get_file"), "\"Pick\", \"/tmp\", 11");

    for (const char *bad : {"getint five settext P", "getstr def", "getbool settext", "getfile -big settext T"}) {
        fe_recorder::reset();
        run(a, bad);
        EXPECT_TRUE(help_shown(a, "GET")) << bad;
    }
}

TEST_F(UiCommands, AnswersForAClosedTabRunNothing)
{
    session *a = channel("#a");
    session *b = channel("#b");
    fe_recorder::answers ok;
    ok.cancelled = false;
    ok.yes = true;
    ok.text = "x";
    ok.files = {"/tmp/f", "/tmp/g"};
    fe_recorder::set_answers(ok);
    run(b, "getstr def settext Prompt");
    run(b, "getint 1 settext Prompt");
    run(b, "getbool settext Title Text");
    run(b, "getfile settext Title");
    run(b, "close");
    fe_recorder::run_for(100);
    EXPECT_EQ(fe_recorder::count("fe_set_inputbox_contents"), 0);

    // The first of several chosen files closes the tab; the second must
    // find it gone.
    run(a, "getfile -multi close Title");
    fe_recorder::run_for(100);
    EXPECT_FALSE(is_session(a));
    EXPECT_EQ(fe_recorder::count("fe_close_window"), 2);
}

// ---- ignore, notify, DCC, plugins and menus ----------------------------------------------

TEST_F(UiCommands, IgnoreAndNotifyCommandsReachTheLists)
{
    session *a = channel("#a");
    run(a, "ignore bob");
    ignore *ig = ignore_exists("bob!*@*");
    ASSERT_NE(ig, nullptr) << "a bare nick is completed";
    EXPECT_EQ(ig->type, unsigned(IG_PRIV | IG_NOTI | IG_CHAN | IG_CTCP | IG_INVI | IG_DCC));
    EXPECT_TRUE(shown(a, "bob!*@* added to the ignore list."));

    run(a, "ignore BOB!*@* CTCP sometimes");
    EXPECT_TRUE(shown(a, "Unknown arg 'sometimes' ignored."));
    EXPECT_TRUE(shown(a, "Ignore on BOB!*@* changed."));
    EXPECT_EQ(ig->type, unsigned(IG_CTCP)) << "the command replaces the types of the same mask";
    EXPECT_EQ(g_slist_length(ignore_list), 1u);

    for (const char *bad : {"ignore carl QUIET", "ignore carl NOSAVE", "ignore carl nonsense"}) {
        run(a, bad);
        EXPECT_TRUE(help_shown(a, "IGNORE")) << bad;
    }
    EXPECT_EQ(ignore_exists("carl!*@*"), nullptr);

    run(a, "unignore nick!user@host");
    EXPECT_TRUE(shown(a, "nick!user@host is not on the ignore list."));
    run(a, "unignore bob QUIET");
    EXPECT_EQ(ignore_list, nullptr);
    EXPECT_FALSE(shown(a, "removed from the ignore list")) << "QUIET";
    run(a, "ignore");
    EXPECT_TRUE(shown(a, "The ignore list is empty."));

    run(a, "notify -n Libera,OFTC bob");
    EXPECT_TRUE(shown(a, "bob added to the notify list."));
    ASSERT_NE(notify_list, nullptr);
    EXPECT_EQ(static_cast<notify *>(notify_list->data)->networks, "Libera,OFTC");
    run(a, "notify -n ASK carol");
    EXPECT_EQ(last_args("fe_notify_ask"), "\"carol\", null");
    run(a, "notify BOB");
    EXPECT_TRUE(shown(a, "BOB deleted from the notify list."));
    EXPECT_EQ(notify_list, nullptr);
    run(a, "notify -n net");
    EXPECT_TRUE(help_shown(a, "NOTIFY"));
    run(a, "notify");
    EXPECT_TRUE(shown(a, "The notify list is empty."));
}

TEST_F(UiCommands, DccArguments)
{
    prefs.dcc_max_send_cps = 42;
    run(home, "dcc send -maxcps=100 bob");
    EXPECT_EQ(last_args("fe_dcc_send_filereq"), "net, \"bob\", 100, 0");
    run(home, "dcc PSEND bob");
    EXPECT_EQ(last_args("fe_dcc_send_filereq"), "net, \"bob\", 42, 1");
    run(home, "dcc send bob \"no such file.txt\"");
    EXPECT_TRUE(shown(home, "Cannot access no such file.txt"));

    run(home, "dcc close chat bob");
    EXPECT_TRUE(shown(home, "No such DCC."));

    for (const char *bad : {"dcc help", "dcc frob", "dcc close bogus bob", "dcc close send", "dcc chat",
                            "dcc send -maxcps=lots bob", "dcc send -maxcps=5", "dcc get"}) {
        fe_recorder::reset();
        run(home, bad);
        EXPECT_TRUE(shown(home, "DCC LIST")) << bad;
    }
}

TEST_F(UiCommands, SendGoesPassiveBehindPrivateAddresses)
{
    session *a = channel("#a");
    const std::vector<std::pair<const char *, const char *>> cases = {{"192.168.1.5", "1"}, {"10.1.2.3", "1"},
                                                                      {"172.16.0.1", "0"},  {"192.169.0.1", "0"},
                                                                      {"11.0.0.1", "0"},    {"", "0"}};
    for (const auto &[address, passive] : cases) {
        g_strlcpy(prefs.dcc_ip, address, sizeof prefs.dcc_ip);
        fe_recorder::reset();
        run(a, "send bob");
        EXPECT_EQ(last_args("fe_dcc_send_filereq"),
                  std::string("#a, \"bob\", ") + std::to_string(prefs.dcc_max_send_cps) + ", " + passive)
            << address;
    }
    run(a, "send");
    EXPECT_TRUE(help_shown(a, "SEND"));
}

TEST_F(UiCommands, OwnAddressComesFromTheServerOrTheConnection)
{
    // A real TCP connection on loopback: our end is 127.0.0.1.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    extra_fds.push_back(listener);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    extra_fds.push_back(client);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);

    const int saved = serv->sock;
    serv->sock = client;
    EXPECT_EQ(dcc_get_my_address(home), 0x7f000001u);
    g_strlcpy(prefs.dcc_ip, "10.0.0.9", sizeof prefs.dcc_ip);
    EXPECT_EQ(dcc_get_my_address(home), 0x0a000009u);
    prefs.dcc_ip_from_server = 1;
    inbound_set_own_address(serv, 0xc0a80002u);
    EXPECT_EQ(dcc_get_my_address(home), 0xc0a80002u);
    serv->sock = saved;
}

TEST_F(UiCommands, LoadMessages)
{
    session *a = channel("#a");
    run(a, "load script.py");
    EXPECT_TRUE(shown(a, "Unknown file type script.py. Maybe you need to install the Perl or Python plugin?"));
    EXPECT_TRUE(help_shown(a, "LOAD"));

    run(a, "load -e missing.txt");
    EXPECT_TRUE(shown(a, "Cannot access " + path("missing.txt")));
    EXPECT_TRUE(shown(a, g_strerror(ENOENT)));

    write_file("cmds.txt", "/settext from a file\n");
    run(a, "load -e cmds.txt");
    EXPECT_EQ(last_args("fe_set_inputbox_contents"), "#a, \"from a file\"");

    write_file("more.txt", "settext by full path\n");
    run(a, "load -e " + path("more.txt"));
    EXPECT_EQ(last_args("fe_set_inputbox_contents"), "#a, \"by full path\"");
    run(a, "load -e ~/lwk-surely-missing.txt");
    EXPECT_TRUE(shown(a, std::string("Cannot access ") + g_get_home_dir() + "/lwk-surely-missing.txt"));

    // A bare name is looked for in the addons folder; the loader's reason is shown.
    run(a, "load thing.so arg");
    EXPECT_TRUE(shown(a, path("addons/thing.so") + ": cannot open shared object file"));
    run(a, "unload thing");
    EXPECT_TRUE(shown(a, "No such plugin found."));
    fe_recorder::reset();
    run(a, "reload ~/thing.so");
    EXPECT_TRUE(shown(a, "No such plugin found."));
}

TEST_F(UiCommands, MenuOptionsBuildTheItem)
{
    run(home, "menu -t1 -k4,120 -p2 -iicon.png -e0 ADD \"$TAB/_Extras/Do it\" \"echo on\" \"echo off\"");
    ASSERT_EQ(g_slist_length(menu_list), 1u);
    auto *item = static_cast<menu_entry *>(menu_list->data);
    EXPECT_STREQ(item->path, "$TAB/_Extras");
    EXPECT_STREQ(item->label, "Do it");
    EXPECT_STREQ(item->cmd, "echo on");
    EXPECT_STREQ(item->ucmd, "echo off");
    EXPECT_STREQ(item->icon, "icon.png");
    EXPECT_EQ(item->kind, MENU_ITEM_TOGGLE);
    EXPECT_EQ(item->state, 1);
    EXPECT_EQ(item->enabled, 0);
    EXPECT_EQ(item->pos, 2);
    EXPECT_EQ(item->modifier, 4);
    EXPECT_EQ(item->key, 120);
    EXPECT_EQ(item->root, MENU_ROOT_TAB);
    EXPECT_STREQ(item->path + item->root_offset, "_Extras");
    EXPECT_EQ(fe_recorder::count("fe_menu_add"), 1);

    // The same item without its mnemonic marker is updated, not doubled.
    run(home, "menu -r1,sizes -m ADD \"$TAB/Extras/Do _it\" \"echo big\"");
    ASSERT_EQ(g_slist_length(menu_list), 1u);
    EXPECT_EQ(menu_list->data, item);
    EXPECT_EQ(item->kind, MENU_ITEM_RADIO);
    EXPECT_STREQ(item->group, "sizes");
    EXPECT_EQ(item->markup, 1);
    EXPECT_EQ(item->ucmd, nullptr);
    EXPECT_EQ(fe_recorder::count("fe_menu_update"), 1);

    run(home, "menu ADD Window/Tools");
    EXPECT_EQ(static_cast<menu_entry *>(g_slist_last(menu_list)->data)->root, MENU_ROOT_MAIN);
    run(home, "menu ADD \"$NICKNAME/x\"");
    EXPECT_EQ(static_cast<menu_entry *>(g_slist_last(menu_list)->data)->root, MENU_ROOT_MAIN);

    for (const char *bad : {"menu", "menu ADD", "menu -x ADD a/b", "menu -k4 ADD a/b", "menu -tX ADD a/b",
                            "menu -m2 ADD a/b", "menu -r1 ADD a/b", "menu FOO a/b", "menu ADD a/", "menu ADD $TRAY"}) {
        fe_recorder::reset();
        run(home, bad);
        EXPECT_TRUE(help_shown(home, "MENU")) << bad;
        EXPECT_EQ(fe_recorder::count("fe_menu_add"), 0) << bad;
    }
}

TEST_F(UiCommands, MenuDelRemovesTheItemAndEverythingBelowIt)
{
    for (const char *path :
         {"$TAB/_Extras", "$TAB/Extras/One", "$TAB/Extras/Sub/Two", "$TAB/Extras2/Three", "$TAB/Other", "$TRAY/Extras"})
        run(home, std::string("menu ADD \"") + path + "\" echo");
    ASSERT_EQ(g_slist_length(menu_list), 6u);

    run(home, "menu DEL $TAB/Extras");
    std::vector<std::string> left;
    for (GSList *l = menu_list; l; l = l->next) {
        auto *me = static_cast<menu_entry *>(l->data);
        left.push_back(std::string(me->path) + "/" + me->label);
    }
    EXPECT_EQ(left, (std::vector<std::string>{"$TAB/Extras2/Three", "$TAB/Other", "$TRAY/Extras"}));
    EXPECT_EQ(fe_recorder::count("fe_menu_del"), 3);

    EXPECT_TRUE(menu_streq("_File", "File"));
    EXPECT_TRUE(menu_streq("Fi_le", "_File"));
    EXPECT_FALSE(menu_streq("File", "file"));
    EXPECT_FALSE(menu_streq("File", "Files"));
}

} // namespace
