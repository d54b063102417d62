// The main menu: the menu bar of the main window (or the same menu as a
// pop-up while the bar is hidden), its check and radio items bound to
// settings, the items that follow the connection state, and the About box.
#include "menus/mainmenu.h"

#include "dialogs/banlist.h"
#include "dialogs/chanlist.h"
#include "dialogs/join-dialog.h"
#include "dialogs/keydialog.h"
#include "dialogs/plugingui.h"
#include "dialogs/utilwin.h"
#include "input/inputbox.h"
#include "input/keybindings.h"
#include "mainwin/maingui.h"
#include "mainwin/searchbar.h"
#include "menus/menu-internal.h"
#include "menus/menu.h"
#include "textview/gtkxtext.h"

#include "base/guard.h"
#include "base/handles.h"
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "config/menu.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

namespace
{

// Widgets remembered for later updates.
enum slot {
    SLOT_NONE = 0,
    SLOT_MENUBAR,
    SLOT_TOPICBAR,
    SLOT_USERLIST,
    SLOT_ULIST_BUTTONS,
    SLOT_MODE_BUTTONS,
    SLOT_LAYOUT_TABS,
    SLOT_LAYOUT_TREE,
    SLOT_METER_OFF,
    SLOT_METER_GRAPH,
    SLOT_METER_TEXT,
    SLOT_METER_BOTH,
    SLOT_FULLSCREEN,
    SLOT_DISCONNECT,
    SLOT_RECONNECT,
    SLOT_JOIN,
    SLOT_CHANLIST,
    SLOT_AWAY,
    SLOT_BANLIST,
    SLOT_USERMENU,
    SLOT_COUNT
};

enum kind { ITEM, TOP, END, SEP, CHECK, RADIO, SUB };

using handler = void (*)(GtkMenuItem *item, session *sess);

struct entry {
    const char *label;
    handler activate;
    const char *icon;
    kind type;
    slot where;
    const char *accel; // key action name, or null
    bool sensitive;    // false: its window does not exist yet
};

struct bar_state {
    GtkWidget *bar = nullptr;
    GtkWidget *slots[SLOT_COUNT] = {};
    // The bar's item of each key action name ("close", "menu-toggle", ...).
    std::map<std::string, GtkWidget *> by_action;
};
bar_state bar;
bool updating = false; // items are being set from the settings, not by the user

session *front_or_current()
{
    session *s = mg_front_session();
    if (s && is_session(s))
        return s;
    return is_session(current_sess) ? current_sess : nullptr;
}

bool checked(GtkMenuItem *item)
{
    return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item));
}

void run(session *sess, const char *command)
{
    if (!sess)
        return;
    std::string line = command;
    handle_command(sess, line.data(), false);
}

void apply_view_settings()
{
    fe_ctrl_gui(nullptr, FE_GUI_APPLY, 0);
}

GtkXText *front_text()
{
    session_view *v = mg_shared_view();
    return v && v->text_view ? GTK_XTEXT(v->text_view) : nullptr;
}

// --- handlers -----------------------------------------------------------------------------------

void on_network_list(GtkMenuItem *, session *sess)
{
    fe_serverlist_open(sess);
}

void on_new_server_tab(GtkMenuItem *, session *sess)
{
    run(sess, "NEWSERVER");
}

void on_new_channel_tab(GtkMenuItem *, session *sess)
{
    if (sess)
        new_ircwindow(sess->server, nullptr, SESS_CHANNEL, 1);
}

// A session made from the menu that goes straight into a window of its own.
void on_new_server_window(GtkMenuItem *, session *)
{
    mg_detach(new_ircwindow(nullptr, nullptr, SESS_SERVER, 1), 1);
}

void on_new_channel_window(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_detach(new_ircwindow(sess->server, nullptr, SESS_CHANNEL, 1), 1);
}

void on_detach(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_detach(sess, 0);
}

void plugin_file_chosen(void *, char *file) noexcept
{
    guarded("load plugin", [&] {
        session *sess = front_or_current();
        if (!file || !sess)
            return;
        std::string line = std::string("LOAD \"") + file + "\"";
        handle_command(sess, line.data(), false);
    });
}

void on_load_plugin(GtkMenuItem *, session *)
{
    fe_get_file(_("Select a Plugin or Script to load"), nullptr, plugin_file_chosen, nullptr, 0);
}

void on_close(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_close_sess(sess);
}

void on_quit(GtkMenuItem *, session *)
{
    mg_open_quit_dialog(false);
}

void on_menubar(GtkMenuItem *item, session *)
{
    // Only a change the user asked for: the bar's own item or its key.
    if (checked(item) == !prefs.gui_hide_menu)
        return;
    menu_bar_toggle(true);
}

void on_topicbar(GtkMenuItem *item, session *)
{
    prefs.gui_topicbar = checked(item);
    apply_view_settings();
}

void on_userlist(GtkMenuItem *item, session *)
{
    prefs.gui_ulist_hide = !checked(item);
    apply_view_settings();
}

void on_ulist_buttons(GtkMenuItem *item, session *)
{
    prefs.gui_ulist_buttons = checked(item);
    apply_view_settings();
}

void on_mode_buttons(GtkMenuItem *item, session *)
{
    prefs.gui_mode_buttons = checked(item);
    apply_view_settings();
}

void on_layout_tabs(GtkMenuItem *item, session *)
{
    if (checked(item))
        mg_change_layout(0);
}

void on_layout_tree(GtkMenuItem *item, session *)
{
    if (checked(item))
        mg_change_layout(2);
}

void set_meters(GtkMenuItem *item, int value)
{
    if (!checked(item))
        return;
    prefs.gui_lagometer = value;
    prefs.gui_throttlemeter = value;
    lumenwick_reinit_timers();
    apply_view_settings();
}

void on_meter_off(GtkMenuItem *item, session *)
{
    set_meters(item, 0);
}
void on_meter_graph(GtkMenuItem *item, session *)
{
    set_meters(item, 1);
}
void on_meter_text(GtkMenuItem *item, session *)
{
    set_meters(item, 2);
}
void on_meter_both(GtkMenuItem *item, session *)
{
    set_meters(item, 3);
}

void on_fullscreen(GtkMenuItem *item, session *)
{
    GtkWindow *window = main_window();
    if (!window)
        return;
    if (checked(item))
        gtk_window_fullscreen(window);
    else
        gtk_window_unfullscreen(window);
}

void on_disconnect(GtkMenuItem *, session *sess)
{
    run(sess, "DISCON");
}

void on_reconnect(GtkMenuItem *, session *sess)
{
    run(sess, "RECONNECT");
}

void join_answer(int cancelled, char *text, void *) noexcept
{
    guarded("join a channel", [&] {
        session *sess = front_or_current();
        if (cancelled || !text || !*text || !sess)
            return;
        std::string line = std::string("JOIN ") + text;
        handle_command(sess, line.data(), false);
    });
}

void on_join(GtkMenuItem *, session *)
{
    char prompt[] = "Enter Channel to Join:";
    char initial[] = "#";
    fe_get_str(const_cast<char *>(_(prompt)), initial, join_answer, nullptr);
}

void on_chanlist(GtkMenuItem *, session *sess)
{
    if (sess)
        chanlist_opengui(sess->server, false);
}

void on_away(GtkMenuItem *item, session *sess)
{
    if (!sess || bool(sess->server->away) == checked(item))
        return;
    run(sess, checked(item) ? "AWAY" : "BACK");
}

void on_banlist(GtkMenuItem *, session *sess)
{
    if (sess && sess->type == SESS_CHANNEL)
        banlist_opengui(sess);
}

void on_dcc_chats(GtkMenuItem *, session *)
{
    fe_dcc_open_chat_win(FALSE);
}
void on_transfers(GtkMenuItem *, session *)
{
    fe_dcc_open_recv_win(FALSE);
}
void on_friends(GtkMenuItem *, session *)
{
    notify_gui_open();
}
void on_ignores(GtkMenuItem *, session *)
{
    ignore_gui_open();
}
void on_plugins(GtkMenuItem *, session *sess)
{
    plugingui_open(sess);
}
void on_urls(GtkMenuItem *, session *)
{
    url_gui_open();
}

void on_reset_marker(GtkMenuItem *, session *)
{
    if (GtkXText *x = front_text())
        gtk_xtext_reset_marker_pos(x);
}

void on_move_marker(GtkMenuItem *, session *)
{
    if (GtkXText *x = front_text())
        gtk_xtext_moveto_marker_pos(x);
}

void on_copy_selection(GtkMenuItem *, session *)
{
    if (GtkXText *x = front_text())
        gtk_xtext_copy_selection(x);
}

void on_clear_text(GtkMenuItem *, session *sess)
{
    run(sess, "CLEAR");
}

void on_save_text(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_save_text(sess);
}

void on_search(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_search_toggle(sess);
}

void on_search_next(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_search_handle_next(sess);
}

void on_search_previous(GtkMenuItem *, session *sess)
{
    if (sess)
        mg_search_handle_previous(sess);
}

void on_key_editor(GtkMenuItem *, session *)
{
    key_dialog_show();
}

void on_about(GtkMenuItem *, session *)
{
    menu_about();
}

// The table, in order. Items whose window does not exist yet (preferences,
// list editors, character chart, raw log, the documentation) are present and
// insensitive.
const entry main_entries[] = {
    {N_("_Lumenwick"), nullptr, nullptr, TOP, SLOT_NONE, nullptr, true},
    {N_("Network Li_st"), on_network_list, "lwk-menu-network-list", ITEM, SLOT_NONE, "network-list", true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("_New"), nullptr, "lwk-menu-new", SUB, SLOT_NONE, nullptr, true},
    {N_("Server Tab"), on_new_server_tab, nullptr, ITEM, SLOT_NONE, "new-server-tab", true},
    {N_("Channel Tab"), on_new_channel_tab, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("Server Window"), on_new_server_window, nullptr, ITEM, SLOT_NONE, "new-server-window", true},
    {N_("Channel Window"), on_new_channel_window, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("_Load Plugin or Script…"), on_load_plugin, "lwk-menu-load-plugin", ITEM, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("_Detach"), on_detach, "lwk-menu-detach", ITEM, SLOT_NONE, nullptr, true},
    {N_("_Close"), on_close, "lwk-menu-close", ITEM, SLOT_NONE, "close", true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("_Quit"), on_quit, "lwk-menu-quit", ITEM, SLOT_NONE, "quit", true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},

    {N_("_View"), nullptr, nullptr, TOP, SLOT_NONE, nullptr, true},
    {N_("_Menu Bar"), on_menubar, nullptr, CHECK, SLOT_MENUBAR, "menu-toggle", true},
    {N_("_Topic Bar"), on_topicbar, nullptr, CHECK, SLOT_TOPICBAR, nullptr, true},
    {N_("_User List"), on_userlist, nullptr, CHECK, SLOT_USERLIST, "user-list-toggle", true},
    {N_("U_ser List Buttons"), on_ulist_buttons, nullptr, CHECK, SLOT_ULIST_BUTTONS, nullptr, true},
    {N_("M_ode Buttons"), on_mode_buttons, nullptr, CHECK, SLOT_MODE_BUTTONS, nullptr, true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("_Channel Switcher"), nullptr, nullptr, SUB, SLOT_NONE, nullptr, true},
    {N_("_Tabs"), on_layout_tabs, nullptr, RADIO, SLOT_LAYOUT_TABS, nullptr, true},
    {N_("T_ree"), on_layout_tree, nullptr, RADIO, SLOT_LAYOUT_TREE, nullptr, true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},
    {N_("_Network Meters"), nullptr, nullptr, SUB, SLOT_NONE, nullptr, true},
    {N_("Off"), on_meter_off, nullptr, RADIO, SLOT_METER_OFF, nullptr, true},
    {N_("Graph"), on_meter_graph, nullptr, RADIO, SLOT_METER_GRAPH, nullptr, true},
    {N_("Text"), on_meter_text, nullptr, RADIO, SLOT_METER_TEXT, nullptr, true},
    {N_("Both"), on_meter_both, nullptr, RADIO, SLOT_METER_BOTH, nullptr, true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("_Fullscreen"), on_fullscreen, nullptr, CHECK, SLOT_FULLSCREEN, "fullscreen-toggle", true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},

    {N_("_Server"), nullptr, nullptr, TOP, SLOT_NONE, nullptr, true},
    {N_("_Disconnect"), on_disconnect, "lwk-menu-disconnect", ITEM, SLOT_DISCONNECT, nullptr, true},
    {N_("_Reconnect"), on_reconnect, "lwk-menu-connect", ITEM, SLOT_RECONNECT, nullptr, true},
    {N_("_Join a Channel…"), on_join, "lwk-menu-join", ITEM, SLOT_JOIN, nullptr, true},
    {N_("Channel _List"), on_chanlist, "lwk-menu-chanlist", ITEM, SLOT_CHANLIST, nullptr, true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("Marked _Away"), on_away, nullptr, CHECK, SLOT_AWAY, "away-toggle", true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},

    {N_("_Usermenu"), nullptr, nullptr, TOP, SLOT_USERMENU, nullptr, true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},

    {N_("S_ettings"), nullptr, nullptr, TOP, SLOT_NONE, nullptr, true},
    {N_("_Preferences"), nullptr, "lwk-menu-preferences", ITEM, SLOT_NONE, nullptr, false},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("Auto Replace"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("CTCP Replies"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("Dialog Buttons"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("Keyboard Shortcuts"), on_key_editor, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("Text Events"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("URL Handlers"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("User Commands"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("User List Buttons"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("User List Popup"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},

    {N_("_Window"), nullptr, nullptr, TOP, SLOT_NONE, nullptr, true},
    {N_("_Ban List"), on_banlist, nullptr, ITEM, SLOT_BANLIST, nullptr, true},
    {N_("Character Chart"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("Direct Chat"), on_dcc_chats, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("File _Transfers"), on_transfers, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("Friends List"), on_friends, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("Ignore List"), on_ignores, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("_Plugins and Scripts"), on_plugins, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {N_("_Raw Log"), nullptr, nullptr, ITEM, SLOT_NONE, nullptr, false},
    {N_("_URL Grabber"), on_urls, nullptr, ITEM, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, SEP, SLOT_NONE, nullptr, true},
    {N_("Reset Marker Line"), on_reset_marker, nullptr, ITEM, SLOT_NONE, "reset-marker", true},
    {N_("Move to Marker Line"), on_move_marker, nullptr, ITEM, SLOT_NONE, "move-marker", true},
    {N_("_Copy Selection"), on_copy_selection, "lwk-menu-copy", ITEM, SLOT_NONE, "copy-selection", true},
    {N_("C_lear Text"), on_clear_text, "lwk-menu-clear", ITEM, SLOT_NONE, nullptr, true},
    {N_("Save Text…"), on_save_text, "lwk-menu-save", ITEM, SLOT_NONE, nullptr, true},
    {N_("Search"), nullptr, "lwk-menu-search", SUB, SLOT_NONE, nullptr, true},
    {N_("Search Text…"), on_search, "lwk-menu-find", ITEM, SLOT_NONE, "search-text", true},
    {N_("Search Next"), on_search_next, "lwk-menu-next", ITEM, SLOT_NONE, "search-next", true},
    {N_("Search Previous"), on_search_previous, "lwk-menu-previous", ITEM, SLOT_NONE, "search-previous", true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},

    {N_("_Help"), nullptr, nullptr, TOP, SLOT_NONE, nullptr, true},
    {N_("_Contents"), nullptr, "lwk-menu-help", ITEM, SLOT_NONE, "contents", false},
    {N_("_About"), on_about, "lwk-menu-about", ITEM, SLOT_NONE, nullptr, true},
    {nullptr, nullptr, nullptr, END, SLOT_NONE, nullptr, true},
};

void on_entry_activate(GtkMenuItem *item, gpointer data) noexcept
{
    guarded("main menu", [&] {
        if (updating)
            return;
        const auto *e = static_cast<const entry *>(data);
        e->activate(item, front_or_current());
    });
}

bool initial_state(slot where)
{
    session *sess = front_or_current();
    switch (where) {
    case SLOT_MENUBAR:
        return !prefs.gui_hide_menu;
    case SLOT_TOPICBAR:
        return prefs.gui_topicbar;
    case SLOT_USERLIST:
        return !prefs.gui_ulist_hide;
    case SLOT_ULIST_BUTTONS:
        return prefs.gui_ulist_buttons;
    case SLOT_MODE_BUTTONS:
        return prefs.gui_mode_buttons;
    case SLOT_LAYOUT_TABS:
        return prefs.gui_tab_layout == 0;
    case SLOT_LAYOUT_TREE:
        return prefs.gui_tab_layout != 0;
    case SLOT_METER_OFF:
        return prefs.gui_lagometer == 0;
    case SLOT_METER_GRAPH:
        return prefs.gui_lagometer == 1;
    case SLOT_METER_TEXT:
        return prefs.gui_lagometer == 2;
    case SLOT_METER_BOTH:
        return prefs.gui_lagometer > 2;
    case SLOT_FULLSCREEN: {
        GtkWindow *w = main_window();
        GdkWindow *gw = w ? gtk_widget_get_window(GTK_WIDGET(w)) : nullptr;
        return gw && (gdk_window_get_state(gw) & GDK_WINDOW_STATE_FULLSCREEN);
    }
    case SLOT_AWAY:
        return sess && sess->server->away;
    default:
        return false;
    }
}

// Whether an item that follows the connection state is usable now.
bool live_sensitive(slot where, session *sess)
{
    if (!sess)
        return where != SLOT_DISCONNECT && where != SLOT_JOIN && where != SLOT_AWAY && where != SLOT_CHANLIST &&
               where != SLOT_BANLIST;
    server *serv = sess->server;
    switch (where) {
    case SLOT_DISCONNECT:
        return serv->connected || serv->connecting || serv->reconnect_timer;
    case SLOT_AWAY:
    case SLOT_CHANLIST:
        return serv->connected;
    case SLOT_JOIN:
        return serv->connected && serv->motd_done;
    case SLOT_BANLIST:
        return sess->type == SESS_CHANNEL;
    default:
        return true;
    }
}

// Radio groups are per submenu: the group of the previous radio item in it.
GSList *radio_group_of(GtkWidget *menu)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    GSList *group = nullptr;
    for (GList *l = g_list_last(children); l && !group; l = l->prev)
        if (GTK_IS_RADIO_MENU_ITEM(l->data))
            group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(l->data));
        else
            break;
    g_list_free(children);
    return group;
}

GtkWidget *make_item(const entry &e, GtkWidget *menu)
{
    switch (e.type) {
    case CHECK:
        return gtk_check_menu_item_new_with_mnemonic(_(e.label));
    case RADIO:
        return gtk_radio_menu_item_new_with_mnemonic(radio_group_of(menu), _(e.label));
    default:
        return menu_item_new(_(e.label), e.icon);
    }
}

GtkAccelLabel *accel_label_of(GtkWidget *item)
{
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(item));
    if (GTK_IS_ACCEL_LABEL(child))
        return GTK_ACCEL_LABEL(child);
    GtkAccelLabel *found = nullptr;
    if (GTK_IS_CONTAINER(child)) {
        GList *kids = gtk_container_get_children(GTK_CONTAINER(child));
        for (GList *l = kids; l && !found; l = l->next)
            if (GTK_IS_ACCEL_LABEL(l->data))
                found = GTK_ACCEL_LABEL(l->data);
        g_list_free(kids);
    }
    return found;
}

// Shows the key the bindings give the item's action. The key itself is
// handled by the bindings ("Menu Shortcut"), which run the item.
void show_accelerator(GtkWidget *item, const char *action)
{
    GtkAccelLabel *label = accel_label_of(item);
    if (!label)
        return;
    guint key = 0;
    GdkModifierType mods{};
    if (menu_shortcut_key(action, &key, &mods))
        gtk_accel_label_set_accel(label, key, mods);
    else
        gtk_accel_label_set_accel(label, 0, GdkModifierType(0));
}

void show_all_accelerators()
{
    for (const auto &[action, item] : bar.by_action)
        show_accelerator(item, action.c_str());
}

// Control+Q quits only while gui_ctrlq_quit is on; another key bound to
// quitting always does.
bool is_control_q(void)
{
    GdkEvent *event = gtk_get_current_event();
    if (!event)
        return false;
    guint key = 0;
    GdkModifierType state{};
    const bool ctrl_q = event->type == GDK_KEY_PRESS && gdk_event_get_keyval(event, &key) &&
                        gdk_event_get_state(event, &state) && (state & GDK_CONTROL_MASK) &&
                        gdk_keyval_to_lower(key) == GDK_KEY_q;
    gdk_event_free(event);
    return ctrl_q;
}

void register_shortcut(const std::string &action)
{
    key_set_menu_shortcut(action.c_str(), [action](session *) {
        const auto it = bar.by_action.find(action);
        if (it == bar.by_action.end() || !gtk_widget_get_sensitive(it->second))
            return false;
        if (action == "quit" && !prefs.gui_ctrlq_quit && is_control_q())
            return false;
        gtk_menu_item_activate(GTK_MENU_ITEM(it->second));
        return true;
    });
}

void fill_usermenu(GtkWidget *menu)
{
    session *sess = front_or_current();
    auto values = std::make_shared<const menu_values>(menu_session_values(sess));
    menu_fill(menu, menu_build_from_list(usermenu_list), sess, values);
}

// Menus opened from the bar show the state of the tab in front now.
void on_top_shown(GtkWidget *, gpointer) noexcept
{
    guarded("main menu", [] { menu_main_refresh(); });
}

void on_bar_destroyed(GtkWidget *widget, gpointer) noexcept
{
    if (bar.bar != widget)
        return;
    bar.bar = nullptr;
    for (GtkWidget *&w : bar.slots)
        w = nullptr;
    bar.by_action.clear();
}

} // namespace

bool menu_shortcut_key(const char *action, guint *key, GdkModifierType *mods)
{
    unsigned keyval = 0, state = 0;
    if (!action || !key_get_menu_accel(action, &keyval, &state))
        return false;
    if (!std::strcmp(action, "quit") && !prefs.gui_ctrlq_quit && gdk_keyval_to_lower(keyval) == GDK_KEY_q &&
        state == KEY_MOD_CONTROL)
        return false;
    *key = keyval;
    *mods = GdkModifierType(state);
    return true;
}

GtkWidget *menu_main_build(bool as_bar)
{
    GtkWidget *root = as_bar ? gtk_menu_bar_new() : gtk_menu_new();
    std::vector<GtkWidget *> open{root};
    updating = true;
    session *sess = front_or_current();
    for (const entry &e : main_entries) {
        GtkWidget *menu = open.back();
        if (e.type == END) {
            if (open.size() > 1)
                open.pop_back();
            continue;
        }
        if (e.type == SEP) {
            menu_add_separator(menu);
            continue;
        }
        GtkWidget *item = make_item(e, menu);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        if (e.type == TOP || e.type == SUB) {
            GtkWidget *sub = gtk_menu_new();
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
            if (e.type == TOP)
                g_signal_connect(sub, "show", G_CALLBACK(on_top_shown), nullptr);
            if (e.where == SLOT_USERMENU) {
                fill_usermenu(sub);
                gtk_widget_set_no_show_all(item, TRUE);
                gtk_widget_set_visible(item, prefs.gui_usermenu);
            }
            open.push_back(sub);
        }
        if (e.type == CHECK || e.type == RADIO)
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), initial_state(e.where));
        if (e.activate)
            g_signal_connect(item, "activate", G_CALLBACK(on_entry_activate), const_cast<entry *>(&e));
        gtk_widget_set_sensitive(item, e.sensitive && (e.type == TOP || live_sensitive(e.where, sess)));
        if (e.accel) {
            show_accelerator(item, e.accel);
            if (as_bar && e.activate && e.sensitive)
                bar.by_action[e.accel] = item;
        }
        if (as_bar && e.where != SLOT_NONE)
            bar.slots[e.where] = item;
    }
    updating = false;
    if (!as_bar) {
        // The plugins' menu-bar items belong in the pop-up copy too.
        menu_plugin_items_add_to(root);
    }
    return root;
}

GtkWidget *menu_main_find_top(const char *label)
{
    if (!bar.bar)
        return nullptr;
    GtkWidget *found = nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(bar.bar));
    for (GList *l = children; l && !found; l = l->next) {
        const char *text = gtk_menu_item_get_label(GTK_MENU_ITEM(l->data));
        if (text && menu_streq(text, label))
            found = gtk_menu_item_get_submenu(GTK_MENU_ITEM(l->data));
    }
    g_list_free(children);
    return found;
}

GtkWidget *menu_bar_new(GtkWidget *)
{
    static const bool hooked = [] {
        // The shortcut editor saved: the items show the new keys.
        key_on_change([] { show_all_accelerators(); });
        return true;
    }();
    (void)hooked;
    bar.by_action.clear();
    bar.bar = menu_main_build(true);
    gtk_widget_set_name(bar.bar, "lumenwick-menubar");
    g_signal_connect(bar.bar, "destroy", G_CALLBACK(on_bar_destroyed), nullptr);
    for (const auto &entry : bar.by_action)
        register_shortcut(entry.first);
    menu_plugin_items_add_to(bar.bar);
    gtk_widget_show_all(bar.bar);
    // The window's show_all leaves it as gui_hide_menu says.
    gtk_widget_set_no_show_all(bar.bar, TRUE);
    gtk_widget_set_visible(bar.bar, !prefs.gui_hide_menu);
    return bar.bar;
}

void menu_main_refresh(void)
{
    if (!bar.bar)
        return;
    session *sess = front_or_current();
    updating = true;
    for (int s = SLOT_MENUBAR; s < SLOT_COUNT; s++) {
        GtkWidget *item = bar.slots[s];
        if (!item)
            continue;
        if (GTK_IS_CHECK_MENU_ITEM(item))
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), initial_state(static_cast<slot>(s)));
        if (s != SLOT_USERMENU)
            gtk_widget_set_sensitive(item, live_sensitive(static_cast<slot>(s), sess));
    }
    if (GtkWidget *usermenu = bar.slots[SLOT_USERMENU]) {
        gtk_widget_set_visible(usermenu, prefs.gui_usermenu);
        GtkWidget *sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(usermenu));
        GList *old = gtk_container_get_children(GTK_CONTAINER(sub));
        for (GList *l = old; l; l = l->next)
            gtk_widget_destroy(GTK_WIDGET(l->data));
        g_list_free(old);
        fill_usermenu(sub);
        gtk_widget_show_all(sub);
    }
    updating = false;
}

void menu_bar_toggle(bool tell)
{
    prefs.gui_hide_menu = !prefs.gui_hide_menu;
    if (bar.bar)
        gtk_widget_set_visible(bar.bar, !prefs.gui_hide_menu);
    if (GtkWidget *item = bar.slots[SLOT_MENUBAR]) {
        updating = true;
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), !prefs.gui_hide_menu);
        updating = false;
    }
    if (tell && prefs.gui_hide_menu)
        fe_message(_("The Menubar is now hidden. You can show it again by pressing Control+F9 or right-clicking in "
                     "a blank part of the main text area."),
                   FE_MSG_INFO);
}

GtkWidget *menu_bar_widget(void)
{
    return bar.bar;
}

void menu_about(void)
{
    static GtkWidget *about = nullptr;
    if (about) {
        gtk_window_present(GTK_WINDOW(about));
        return;
    }
    about = gtk_about_dialog_new();
    GtkAboutDialog *dialog = GTK_ABOUT_DIALOG(about);
    gtk_about_dialog_set_program_name(dialog, DISPLAY_NAME);
    gtk_about_dialog_set_version(dialog, LUMENWICK_VERSION);
    gtk_about_dialog_set_comments(dialog, _("A graphical IRC client"));
    gtk_about_dialog_set_logo_icon_name(dialog, "lumenwick");
    if (GtkWindow *parent = main_window())
        gtk_window_set_transient_for(GTK_WINDOW(about), parent);
    g_signal_connect(about, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    g_signal_connect(about, "destroy", G_CALLBACK(gtk_widget_destroyed), &about);
    gtk_widget_show(about);
}

void fe_server_event(server *serv, int type, int arg)
{
    if (type == FE_SE_LOGGEDIN && arg == 0 && prefs.gui_join_dialog)
        joind_open(serv);
    if (type == FE_SE_DISCONNECT)
        joind_close(serv);
    session *sess = mg_front_session();
    if (!bar.bar || !sess || !is_session(sess) || sess->server != serv)
        return;
    auto set = [](slot s, bool on) {
        if (bar.slots[s])
            gtk_widget_set_sensitive(bar.slots[s], on);
    };
    switch (type) {
    case FE_SE_CONNECTING:
    case FE_SE_RECONDELAY:
        set(SLOT_DISCONNECT, true);
        break;
    case FE_SE_CONNECT:
        set(SLOT_AWAY, true);
        set(SLOT_DISCONNECT, true);
        set(SLOT_CHANLIST, true);
        break;
    case FE_SE_LOGGEDIN:
        set(SLOT_JOIN, true);
        break;
    case FE_SE_DISCONNECT:
        set(SLOT_AWAY, false);
        set(SLOT_DISCONNECT, false);
        set(SLOT_JOIN, false);
        set(SLOT_CHANLIST, false);
        break;
    default:
        break;
    }
}
