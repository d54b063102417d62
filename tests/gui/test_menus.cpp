// The menus in-process on an X display (run through with-xvfb.sh), with the
// real core connected to the harness's InspIRCd and a bot in the channel:
// right clicks on words of the conversation view, the menu bar's items and
// the items plugins add. Leaves menus-*.png screenshots in the working
// directory.
#include "gui_main.h"
#include "irc_bots.h"

#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "fe.h"
#include "gui_support.h"
#include "irc/userlist.h"
#include "mainwin/maingui.h"
#include "menus/mainmenu.h"
#include "menus/menu.h"
#include "net/server.h"
#include "session/session.h"
#include "textview/gtkxtext.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <glib/gstdio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using connect_test::irc_bots;

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The label of a menu item as written (mnemonics kept), also when an image
// sits beside it; `shown`: the text on screen.
std::string label_of(GtkWidget *item, bool shown = false)
{
    auto text_of = [shown](GtkWidget *label) -> std::string {
        return shown ? gtk_label_get_text(GTK_LABEL(label)) : gtk_label_get_label(GTK_LABEL(label));
    };
    GtkWidget *child = GTK_IS_BIN(item) ? gtk_bin_get_child(GTK_BIN(item)) : nullptr;
    if (GTK_IS_LABEL(child))
        return text_of(child);
    std::string text;
    if (GTK_IS_CONTAINER(child)) {
        GList *kids = gtk_container_get_children(GTK_CONTAINER(child));
        for (GList *l = kids; l; l = l->next)
            if (GTK_IS_LABEL(l->data))
                text = text_of(GTK_WIDGET(l->data));
        g_list_free(kids);
    }
    return text;
}

std::vector<GtkWidget *> items_of(GtkWidget *menu)
{
    std::vector<GtkWidget *> out;
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList *l = children; l; l = l->next)
        out.push_back(GTK_WIDGET(l->data));
    g_list_free(children);
    return out;
}

GtkWidget *item_named(GtkWidget *menu, const std::string &label)
{
    for (GtkWidget *item : items_of(menu))
        if (label_of(item) == label)
            return item;
    return nullptr;
}

std::string labels(GtkWidget *menu)
{
    std::string all;
    for (GtkWidget *item : items_of(menu))
        all += "[" + label_of(item) + "]";
    return all;
}

// The pop-up menus shown over the main window now.
GtkWidget *shown_popup()
{
    GtkWidget *found = nullptr;
    for (GList *l = gtk_menu_get_for_attach_widget(GTK_WIDGET(main_window())); l && !found; l = l->next)
        if (gtk_widget_get_mapped(GTK_WIDGET(l->data)))
            found = GTK_WIDGET(l->data);
    return found;
}

// A pop-up attached to the main window that is not in `before`, shown or
// not: on a busy display the pop-up's pointer grab can fail, which is the
// toolkit's business, not the items'.
GtkWidget *new_popup(const std::vector<GtkWidget *> &before)
{
    for (GList *l = gtk_menu_get_for_attach_widget(GTK_WIDGET(main_window())); l; l = l->next)
        if (std::find(before.begin(), before.end(), GTK_WIDGET(l->data)) == before.end())
            return GTK_WIDGET(l->data);
    return nullptr;
}

void close_popups()
{
    for (GList *l = gtk_menu_get_for_attach_widget(GTK_WIDGET(main_window())); l; l = l->next)
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(l->data));
    pump_for(50);
}

void screenshot(const char *name)
{
    GdkWindow *root = gdk_get_default_root_window();
    GdkPixbuf *shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
    if (shot) {
        gdk_pixbuf_save(shot, name, "png", nullptr, nullptr);
        g_object_unref(shot);
    }
}

// The session's lines as saving would write them (formatting removed).
std::string buffer_text(session *sess)
{
    return gtk_xtext_buffer_model(tab_of(sess)->buffer).save_text();
}

int count_of(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}

// A right click on `word` in the conversation view, as the view reports it.
void right_click_word(const char *word)
{
    GtkWidget *view = view_of(mg_front_session())->text_view;
    GdkEvent *event = gdk_event_new(GDK_BUTTON_PRESS);
    event->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(view)));
    event->button.button = 3;
    event->button.x = 40;
    event->button.y = 40;
    event->button.x_root = 200;
    event->button.y_root = 200;
    event->button.time = GDK_CURRENT_TIME;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    g_signal_emit_by_name(view, "word_click", word, event);
    gdk_event_free(event);
}

GtkWidget *bar_menu(const char *top)
{
    GtkWidget *item = item_named(menu_bar_widget(), top);
    return item ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)) : nullptr;
}

class Menus : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        lab = new test_lab;
        if (!lab->ok() || !lab->start_ircd()) {
            setup_log = lab->log();
            return;
        }
        bots = new irc_bots(lab->port("irc"));
        if (!bots->run("connect peerbot") || !bots->send("peerbot", "JOIN #menus")) {
            setup_log = bots->transcript();
            return;
        }
        tab = new_ircwindow(nullptr, "server", SESS_SERVER, 1);
        std::string cmd = "server 127.0.0.1 -" + std::to_string(lab->port("irc"));
        handle_command(tab, cmd.data(), false);
        serv = tab->server;
        if (!pump_until([] { return serv->connected && serv->motd_done; }, 30000)) {
            setup_log = "no connection to the harness InspIRCd";
            return;
        }
        std::string join = "join #menus";
        handle_command(tab, join.data(), false);
        if (!pump_until([] {
                chan = find_channel(serv, "#menus");
                return chan && userlist_find(chan, "peerbot");
            })) {
            setup_log = "no #menus with peerbot in it";
            return;
        }
        ready = true;
    }
    static void TearDownTestSuite()
    {
        delete bots;
        delete lab;
    }
    void SetUp() override
    {
        // scripts/setup.sh installs InspIRCd; a harness that did not come up
        // is a failure, never a skip.
        ASSERT_TRUE(ready) << "the harness did not come up: " << setup_log;
        mg_bring_tofront_sess(chan);
        pump_for(50);
        logged_problems = 0;
    }
    void TearDown() override
    {
        close_popups();
        EXPECT_EQ(logged_problems, 0);
    }

    static inline test_lab *lab = nullptr;
    static inline irc_bots *bots = nullptr;
    static inline session *tab = nullptr;
    static inline session *chan = nullptr;
    static inline server *serv = nullptr;
    static inline bool ready = false;
    static inline std::string setup_log;
};

TEST_F(Menus, NickMenuAsksWhoisOnceAndShowsTheRealName)
{
    right_click_word("peerbot");
    GtkWidget *popup = nullptr;
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    GtkWidget *info = item_named(popup, "peerbot");
    ASSERT_NE(info, nullptr) << labels(popup);
    EXPECT_NE(item_named(popup, "Reply"), nullptr) << labels(popup);
    EXPECT_NE(item_named(popup, "_Open Dialog Window"), nullptr) << labels(popup);
    // The bot never spoke: nothing to reply to, said so.
    gtk_menu_item_activate(GTK_MENU_ITEM(item_named(popup, "Reply")));

    GtkWidget *sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(info));
    ASSERT_NE(sub, nullptr);
    // Opened as a click would; GTK warns that a submenu opened without a
    // pointer event has no trigger event, which only this way of driving it causes.
    const int problems_before = logged_problems;
    g_signal_emit_by_name(info, "activate-item");
    logged_problems = problems_before;
    // The answer to the WHOIS the submenu sent fills it while it shows.
    ASSERT_TRUE(pump_until(
        [&] {
            const auto lines = items_of(sub);
            return !lines.empty() && label_of(lines[0], true).find("peerbot peer") != std::string::npos;
        },
        10000))
        << labels(sub);
    pump_for(200);
    screenshot("menus-nick.png");
    const auto lines = items_of(sub);
    EXPECT_EQ(label_of(lines[0], true).rfind("Real Name:", 0), 0u) << label_of(lines[0], true);
    EXPECT_NE(labels(sub).find("User:"), std::string::npos) << labels(sub);
    EXPECT_NE(labels(sub).find("Server:"), std::string::npos) << labels(sub);
}

TEST_F(Menus, NickInNoChannelGetsTheListItemsAndReplyWithoutInformation)
{
    GtkWidget *menu = menu_nickmenu(chan, {"nobody-here"});
    g_object_ref_sink(menu);
    EXPECT_EQ(item_named(menu, "nobody-here"), nullptr) << labels(menu);
    EXPECT_EQ(label_of(items_of(menu).front()), "_Open Dialog Window") << labels(menu);
    EXPECT_NE(item_named(menu, "Reply"), nullptr) << labels(menu);
    gtk_widget_destroy(menu);
    g_object_unref(menu);
}

TEST_F(Menus, JoinChannelFromAChannelNameInTheTextJoinsAtTheServer)
{
    ASSERT_TRUE(bots->send("peerbot", "JOIN #elsewhere"));
    right_click_word("#elsewhere");
    GtkWidget *popup = nullptr;
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    pump_for(200);
    screenshot("menus-channel.png");
    EXPECT_EQ(item_named(popup, "Part Channel"), nullptr) << labels(popup);
    GtkWidget *join = item_named(popup, "Join Channel");
    ASSERT_NE(join, nullptr) << labels(popup);
    gtk_menu_item_activate(GTK_MENU_ITEM(join));
    ASSERT_TRUE(pump_until(
        [] {
            bots->poll(20); // the bot's output is read only while it is waited for
            return bots->count("peerbot", [](const std::string &l) {
                return l.find("JOIN") != std::string::npos && l.find("#elsewhere") != std::string::npos &&
                       l.rfind(":tester!", 0) == 0;
            }) > 0;
        },
        10000))
        << bots->transcript();
    session *joined = nullptr;
    ASSERT_TRUE(pump_until([&] { return (joined = find_channel(serv, "#elsewhere")) != nullptr; }));

    // Now that we are in it, the same word offers to leave it instead.
    mg_bring_tofront_sess(chan);
    close_popups();
    right_click_word("#elsewhere");
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    EXPECT_NE(item_named(popup, "Part Channel"), nullptr) << labels(popup);
    EXPECT_NE(item_named(popup, "Focus Channel"), nullptr) << labels(popup);
    EXPECT_EQ(item_named(popup, "Join Channel"), nullptr) << labels(popup);
}

TEST_F(Menus, OpenLinkRunsXdgOpenWithTheLinkIntactAndShellHandlersQuoteIt)
{
    // A fake xdg-open and a handler program that record their arguments.
    gchar *bin = g_dir_make_tmp("lwk-bin-XXXXXX", nullptr);
    const std::string dir = bin;
    g_free(bin);
    const std::string record = dir + "/args";
    for (const char *name : {"xdg-open", "lwk-handler"}) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done >> '" << record
                            << "'\necho >> '" << record << "'\n";
        g_chmod(path.c_str(), 0755);
    }
    const std::string old_path = g_getenv("PATH");
    g_setenv("PATH", (dir + ":" + old_path).c_str(), TRUE);
    list_addentry(&urlhandler_list, "!lwk-handler %s", "Record It");
    list_addentry(&urlhandler_list, "!lwk-no-such-program %s", "Not Here");

    const char *url = "http://example.org/it's?q=$(touch%20pwned)";
    right_click_word(url);
    GtkWidget *popup = nullptr;
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    pump_for(200);
    screenshot("menus-url.png");
    EXPECT_EQ(item_named(popup, "Not Here"), nullptr) << labels(popup);
    GtkWidget *open = item_named(popup, "Open Link in Browser");
    GtkWidget *handler = item_named(popup, "Record It");
    ASSERT_NE(open, nullptr) << labels(popup);
    ASSERT_NE(handler, nullptr) << labels(popup);
    gtk_menu_item_activate(GTK_MENU_ITEM(open));
    ASSERT_TRUE(pump_until([&] { return read_file(record).find('\n') != std::string::npos; }, 10000));
    gtk_menu_item_activate(GTK_MENU_ITEM(handler));
    ASSERT_TRUE(pump_until([&] { return read_file(record).size() > 2 * std::strlen(url); }, 10000))
        << read_file(record);
    EXPECT_EQ(read_file(record), std::string(url) + "|\n" + url + "|\n");
    EXPECT_FALSE(g_file_test("pwned", G_FILE_TEST_EXISTS));

    g_setenv("PATH", old_path.c_str(), TRUE);
    list_delentry(&urlhandler_list, "Record It");
    list_delentry(&urlhandler_list, "Not Here");
    for (const char *name : {"xdg-open", "lwk-handler", "args"})
        g_remove((dir + "/" + name).c_str());
    g_rmdir(dir.c_str());
}

TEST_F(Menus, LinkWithNoOpenerAnywhereSaysSo)
{
    // No xdg-open on the path and no desktop handler for the scheme.
    gchar *tmp = g_dir_make_tmp("lwk-empty-XXXXXX", nullptr);
    const std::string empty = tmp;
    g_free(tmp);
    const std::string old_path = g_getenv("PATH");
    const char *old_dirs = g_getenv("XDG_DATA_DIRS");
    const std::string saved_dirs = old_dirs ? old_dirs : "";
    g_setenv("PATH", empty.c_str(), TRUE);
    g_setenv("XDG_DATA_DIRS", empty.c_str(), TRUE);
    g_setenv("XDG_DATA_HOME", empty.c_str(), TRUE);
    const int problems_before = logged_problems;
    fe_open_url("http://example.org/nowhere");
    logged_problems = problems_before; // the failure is also logged, as it should be
    g_setenv("PATH", old_path.c_str(), TRUE);
    g_setenv("XDG_DATA_DIRS", saved_dirs.c_str(), TRUE);
    g_unsetenv("XDG_DATA_HOME");
    g_rmdir(empty.c_str());

    GtkWidget *message = nullptr;
    ASSERT_TRUE(pump_until([&] {
        GList *all = gtk_window_list_toplevels();
        for (GList *l = all; l && !message; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
                message = GTK_WIDGET(l->data);
        g_list_free(all);
        return message != nullptr;
    }));
    gchar *text = nullptr;
    g_object_get(message, "text", &text, nullptr);
    EXPECT_NE(std::string(text ? text : "").find("http://example.org/nowhere"), std::string::npos) << text;
    g_free(text);
    gtk_widget_destroy(message);
}

TEST_F(Menus, UsermenuToggleFlipsItsSettingThroughSet)
{
    prefs.gui_usermenu = 1;
    prefs.irc_hide_version = 0;
    menu_main_refresh();
    GtkWidget *usermenu = bar_menu("_Usermenu");
    ASSERT_NE(usermenu, nullptr) << labels(menu_bar_widget());
    GtkWidget *toggle = item_named(usermenu, "Hide Version");
    ASSERT_NE(toggle, nullptr) << labels(usermenu);
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(toggle));
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(toggle)));
    gtk_menu_item_activate(GTK_MENU_ITEM(toggle));
    EXPECT_EQ(prefs.irc_hide_version, 1);
    // Through /SET, which says so (and which plugins can hook).
    EXPECT_NE(buffer_text(chan).find("irc_hide_version set to: 1"), std::string::npos) << buffer_text(chan);
    gtk_menu_item_activate(GTK_MENU_ITEM(toggle));
    EXPECT_EQ(prefs.irc_hide_version, 0);
    prefs.gui_usermenu = 0;
    menu_main_refresh();
}

TEST_F(Menus, MenuCommandAddsItemsToTheBarAndToTheNickMenu)
{
    std::string add_bar = "MENU ADD \"_Window/Say Hello\" \"echo hello from the bar\"";
    std::string add_nick = "MENU ADD \"$NICK/Greet\" \"echo greeting %s\"";
    handle_command(chan, add_bar.data(), false);
    handle_command(chan, add_nick.data(), false);
    GtkWidget *hello = item_named(bar_menu("_Window"), "Say Hello");
    ASSERT_NE(hello, nullptr) << labels(bar_menu("_Window"));

    right_click_word("peerbot");
    GtkWidget *popup = nullptr;
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    GtkWidget *greet = item_named(popup, "Greet");
    ASSERT_NE(greet, nullptr) << labels(popup);
    gtk_menu_item_activate(GTK_MENU_ITEM(greet));
    close_popups();

    std::string del_bar = "MENU DEL \"_Window/Say Hello\"";
    handle_command(chan, del_bar.data(), false);
    EXPECT_EQ(item_named(bar_menu("_Window"), "Say Hello"), nullptr);
    // A plugin naming one of our menus adds to it; deleting its entry leaves ours.
    std::string add_ours = "MENU ADD \"_Window\"";
    std::string del_ours = "MENU DEL \"_Window\"";
    handle_command(chan, add_ours.data(), false);
    handle_command(chan, del_ours.data(), false);
    ASSERT_NE(bar_menu("_Window"), nullptr) << labels(menu_bar_widget());
    EXPECT_NE(item_named(bar_menu("_Window"), "_Ban List"), nullptr);
    menu_main_refresh();
    std::string del_nick = "MENU DEL \"$NICK/Greet\"";
    handle_command(chan, del_nick.data(), false);
    right_click_word("peerbot");
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    EXPECT_EQ(item_named(popup, "Greet"), nullptr) << labels(popup);
}

TEST_F(Menus, RightClickOnSeveralSelectedNicksRunsNickItemsForEach)
{
    std::string add = "MENU ADD \"$NICK/Wave At\" \"echo waving at %s\"";
    handle_command(chan, add.data(), false);
    close_popups();
    std::vector<GtkWidget *> before;
    for (GList *l = gtk_menu_get_for_attach_widget(GTK_WIDGET(main_window())); l; l = l->next)
        before.push_back(GTK_WIDGET(l->data));
    char peer[] = "peerbot", me[] = "tester";
    char *both[] = {peer, me, nullptr};
    fe_uselect(chan, both, TRUE, FALSE);
    GtkWidget *tree = view_of(chan)->userlist;
    pump_until([&] { return gtk_widget_get_mapped(tree); });
    GdkRectangle cell;
    GtkTreePath *first = gtk_tree_path_new_first();
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(tree), first, nullptr, &cell);
    gtk_tree_path_free(first);

    GdkEvent *event = gdk_event_new(GDK_BUTTON_PRESS);
    event->button.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(GTK_TREE_VIEW(tree))));
    event->button.button = 3;
    event->button.x = cell.x + 5;
    event->button.y = cell.y + cell.height / 2.0;
    event->button.time = GDK_CURRENT_TIME;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    gboolean handled = FALSE;
    g_signal_emit_by_name(tree, "button-press-event", event, &handled);
    gdk_event_free(event);
    EXPECT_TRUE(handled);

    GtkWidget *popup = nullptr;
    ASSERT_TRUE(pump_until([&] { return (popup = new_popup(before)) != nullptr; }));
    EXPECT_NE(labels(popup).find("2 nicks selected."), std::string::npos) << labels(popup);
    EXPECT_EQ(item_named(popup, "Reply"), nullptr) << labels(popup);
    GtkWidget *wave = item_named(popup, "Wave At");
    ASSERT_NE(wave, nullptr) << labels(popup);
    gtk_menu_item_activate(GTK_MENU_ITEM(wave));
    const std::string text = buffer_text(chan);
    EXPECT_EQ(count_of(text, "waving at peerbot"), 1) << text;
    EXPECT_EQ(count_of(text, "waving at tester"), 1) << text;
    std::string del = "MENU DEL \"$NICK/Wave At\"";
    handle_command(chan, del.data(), false);
}

TEST_F(Menus, TabMenuGetsTabMenuFileAndPluginItemsForThatTab)
{
    list_addentry(&tabmenu_list, "echo tab is %s", "Which Tab");
    std::string add = "MENU ADD \"$TAB/Plugin Tab Item\" \"echo plugin tab %s\"";
    handle_command(chan, add.data(), false);
    GtkWidget *menu = gtk_menu_new();
    g_object_ref_sink(menu);
    menu_add_tab_items(menu, chan);
    GtkWidget *which = item_named(menu, "Which Tab");
    GtkWidget *plugin = item_named(menu, "Plugin Tab Item");
    ASSERT_TRUE(which && plugin) << labels(menu);
    gtk_menu_item_activate(GTK_MENU_ITEM(which));
    gtk_menu_item_activate(GTK_MENU_ITEM(plugin));
    const std::string text = buffer_text(chan);
    EXPECT_NE(text.find("tab is #menus"), std::string::npos) << text;
    EXPECT_NE(text.find("plugin tab #menus"), std::string::npos) << text;
    gtk_widget_destroy(menu);
    g_object_unref(menu);
    list_delentry(&tabmenu_list, "Which Tab");
    std::string del = "MENU DEL \"$TAB/Plugin Tab Item\"";
    handle_command(chan, del.data(), false);
}

TEST_F(Menus, JoinDialogAfterLoginJoinsTheTypedChannelAndClosesOnDisconnect)
{
    prefs.gui_join_dialog = 1;
    // Logged in with nothing joined automatically.
    fe_server_event(serv, FE_SE_LOGGEDIN, 0);
    GtkWidget *dialog = find_shown_titled("Connection Complete - Lumenwick");
    ASSERT_NE(dialog, nullptr);
    GtkWidget *entry = nullptr, *always = nullptr;
    std::function<void(GtkWidget *)> scan = [&](GtkWidget *w) {
        if (GTK_IS_ENTRY(w))
            entry = w;
        if (GTK_IS_CHECK_BUTTON(w) && !GTK_IS_RADIO_BUTTON(w))
            always = w;
        if (GTK_IS_CONTAINER(w))
            for (GtkWidget *child : items_of(w))
                scan(child);
    };
    scan(dialog);
    ASSERT_TRUE(entry && always);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "#");
    gtk_entry_set_text(GTK_ENTRY(entry), "#fromdialog");
    gtk_widget_grab_focus(entry); // focusing the entry chooses joining
    gtk_window_present(GTK_WINDOW(dialog));
    pump_for(200);
    screenshot("menus-join-dialog.png");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(always), FALSE);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    ASSERT_TRUE(pump_until([] { return find_channel(serv, "#fromdialog") != nullptr; }, 10000));
    EXPECT_EQ(prefs.gui_join_dialog, 0);
    EXPECT_EQ(find_shown_titled("Connection Complete - Lumenwick"), nullptr);

    fe_server_event(serv, FE_SE_LOGGEDIN, 0); // off now: nothing opens
    EXPECT_EQ(find_shown_titled("Connection Complete - Lumenwick"), nullptr);
    prefs.gui_join_dialog = 1;
    fe_server_event(serv, FE_SE_LOGGEDIN, 0);
    ASSERT_NE(find_shown_titled("Connection Complete - Lumenwick"), nullptr);
    fe_server_event(serv, FE_SE_DISCONNECT, 0);
    EXPECT_EQ(find_shown_titled("Connection Complete - Lumenwick"), nullptr);
    // The connection is still up: put the items back as they were.
    fe_server_event(serv, FE_SE_CONNECT, 0);
    fe_server_event(serv, FE_SE_LOGGEDIN, 1);
    prefs.gui_join_dialog = 0;
}

TEST_F(Menus, MenuBarHidesFromItsViewItemAndComesBackWithGuiMenuToggle)
{
    GtkWidget *menubar = menu_bar_widget();
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_allocated_height(menubar) > 10; }))
        << "the bar has no visible items";
    GtkWidget *item = item_named(bar_menu("_View"), "_Menu Bar");
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_EQ(prefs.gui_hide_menu, 1);
    EXPECT_FALSE(gtk_widget_get_visible(menubar));
    // The user is told how to get it back.
    GtkWidget *info = nullptr;
    ASSERT_TRUE(pump_until([&] {
        GList *all = gtk_window_list_toplevels();
        for (GList *l = all; l && !info; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
                info = GTK_WIDGET(l->data);
        g_list_free(all);
        return info != nullptr;
    }));
    // While it is hidden, a right click on no word gives the same menu.
    right_click_word("");
    GtkWidget *popup = nullptr;
    ASSERT_TRUE(pump_until([&] { return (popup = shown_popup()) != nullptr; }));
    EXPECT_NE(item_named(popup, "_View"), nullptr) << labels(popup);
    EXPECT_NE(item_named(popup, "_Help"), nullptr) << labels(popup);
    close_popups();
    gchar *text = nullptr;
    g_object_get(info, "text", &text, nullptr);
    EXPECT_NE(std::string(text ? text : "").find("Control+F9"), std::string::npos) << text;
    g_free(text);
    gtk_widget_destroy(info);

    // Control+F9, as the box says, brings it back; /GUI MENU TOGGLE flips it too.
    GdkEvent *key = gdk_event_new(GDK_KEY_PRESS);
    key->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(main_window()))));
    key->key.keyval = GDK_KEY_F9;
    key->key.state = GDK_CONTROL_MASK;
    gdk_event_set_device(key, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gboolean handled = FALSE;
    g_signal_emit_by_name(view_of(chan)->input_entry, "key-press-event", key, &handled);
    gdk_event_free(key);
    EXPECT_TRUE(handled);
    EXPECT_EQ(prefs.gui_hide_menu, 0);
    EXPECT_TRUE(gtk_widget_get_visible(menubar));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
    std::string toggle = "GUI MENU TOGGLE";
    handle_command(chan, toggle.data(), false);
    EXPECT_EQ(prefs.gui_hide_menu, 1);
    EXPECT_FALSE(gtk_widget_get_visible(menubar));
    handle_command(chan, toggle.data(), false);
    EXPECT_TRUE(gtk_widget_get_visible(menubar));

    // The View menu as opened from the bar, with its check items and keys.
    const int problems_before = logged_problems;
    g_signal_emit_by_name(item_named(menubar, "_View"), "activate-item");
    logged_problems = problems_before; // opened without a pointer event (see above)
    pump_for(300);
    screenshot("menus-view.png");
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(menubar));
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv, [](const char *) {
        g_setenv("TZ", "UTC", TRUE);
        tzset();
        list_load_all();
        prefs.net_throttle = 0;
        prefs.gui_join_dialog = 0;
        g_strlcpy(prefs.irc_nick1, "tester", sizeof prefs.irc_nick1);
    });
}
