// The pop-up menus on nicks, links and channels, list-file menus turned
// into widgets, and the clicks on words of the conversation view.
#include "menus/menu.h"

#include "mainwin/maingui.h"
#include "menus/menu-internal.h"
#include "resources/gtkutil.h"

#include "base/guard.h"
#include "base/handles.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "config/menu.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/userlist.h"
#include "lists/notify.h"
#include "mainwin/reply.h"
#include "net/server.h"
#include "output/text.h"
#include "output/url.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <cstring>
#include <ctime>

namespace
{

constexpr int INFO_LABEL_WIDTH = 11;
constexpr char ASK_NOTIFY[] = "notify -n ASK %s";

// Through the icon table (the user's file, the resources, the desktop
// theme); a name nothing knows gives no image rather than a broken one.
GtkWidget *icon_image(const char *icon)
{
    GtkWidget *image = gtkutil_image_new_from_stock(icon, GTK_ICON_SIZE_MENU);
    const char *shown = nullptr;
    GtkImageType type = gtk_image_get_storage_type(GTK_IMAGE(image));
    if (type == GTK_IMAGE_ICON_NAME) {
        gtk_image_get_icon_name(GTK_IMAGE(image), &shown, nullptr);
        GtkIconTheme *theme = gtk_icon_theme_get_default();
        if (!shown || !theme || !gtk_icon_theme_has_icon(theme, shown)) {
            g_object_ref_sink(image);
            g_object_unref(image);
            return nullptr;
        }
    }
    return image;
}

struct bound_action {
    session *sess;
    std::string tmpl;
    menu_values_ptr values;
};

void on_bound_activate(GtkMenuItem *, gpointer data) noexcept
{
    guarded("menu item", [&] {
        const auto *action = static_cast<const bound_action *>(data);
        menu_run_template(action->sess, action->tmpl, *action->values);
    });
}

struct toggle_action {
    session *sess;
    std::string setting;
};

void on_toggle_setting(GtkCheckMenuItem *item, gpointer data) noexcept
{
    guarded("menu toggle", [&] {
        const auto *action = static_cast<const toggle_action *>(data);
        session *sess = is_session(action->sess) ? action->sess : current_sess;
        if (!sess)
            return;
        std::string line = "set " + action->setting + (gtk_check_menu_item_get_active(item) ? " 1" : " 0");
        handle_command(sess, line.data(), false);
    });
}

void on_copy_text(GtkMenuItem *, gpointer data) noexcept
{
    guarded("menu copy", [&] {
        const char *text = static_cast<const char *>(data);
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text, -1);
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), text, -1);
    });
}

GtkWidget *add_item(GtkWidget *menu, const char *label, const char *icon = nullptr)
{
    GtkWidget *item = menu_item_new(label, icon);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

// An insensitive bold line at the top of a pop-up (a link, a count).
void add_header(GtkWidget *menu, const char *text)
{
    GtkWidget *item = gtk_menu_item_new_with_label("");
    GtkWidget *label = gtk_bin_get_child(GTK_BIN(item));
    gchar_ptr escaped(g_markup_escape_text(text, -1));
    gchar_ptr markup(g_strdup_printf("<b>%s</b>", escaped.get()));
    gtk_label_set_markup(GTK_LABEL(label), markup.get());
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_widget_set_sensitive(item, FALSE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

// --- the nick's information submenu ------------------------------------------------------

// The open submenu, so WHOIS answers can fill it while it shows.
struct info_menu {
    GtkWidget *submenu = nullptr;
    session *sess = nullptr;
    std::string nick;
    bool whois_sent = false;
};
info_menu open_info;

std::string info_line(const char *title, const char *value)
{
    gchar_ptr shown(value && *value ? g_markup_escape_text(value, -1) : g_strdup_printf("<i>%s</i>", _("Unknown")));
    gchar_ptr line(g_strdup_printf("<tt><b>%-*s</b></tt> %s", INFO_LABEL_WIDTH, title, shown.get()));
    return line.get();
}

void add_info_line(GtkWidget *menu, const char *title, const char *value)
{
    GtkWidget *item = gtk_menu_item_new_with_label("");
    gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(item))), info_line(title, value).c_str());
    if (value && *value)
        g_signal_connect_data(
            item, "activate", G_CALLBACK(on_copy_text), g_strdup(value), [](gpointer d, GClosure *) { g_free(d); },
            GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

void fill_info(GtkWidget *menu, session *sess, const User *user)
{
    GList *old = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList *l = old; l; l = l->next)
        gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(old);

    add_info_line(menu, _("Real Name:"), user->realname);
    add_info_line(menu, _("User:"), user->hostname);
    add_info_line(menu, _("Account:"), user->account);
    if (const char *at = user->hostname ? std::strrchr(user->hostname, '@') : nullptr) {
        const char *land = country(at + 1);
        if (land && *land)
            add_info_line(menu, _("Country:"), land);
    }
    add_info_line(menu, _("Server:"), user->servername);
    if (user->lasttalk) {
        const auto minutes = static_cast<unsigned>((time(nullptr) - user->lasttalk) / 60);
        gchar_ptr ago(g_strdup_printf(_("%u minutes ago"), minutes));
        add_info_line(menu, _("Last Msg:"), ago.get());
    } else {
        add_info_line(menu, _("Last Msg:"), nullptr);
    }
    if (user->away) {
        const away_msg *away = server_away_find_message(sess->server, user->nick);
        add_info_line(menu, _("Away Msg:"), away ? away->message : nullptr);
    }
    gtk_widget_show_all(menu);
}

User *find_user_anywhere(session *sess, const char *nick)
{
    User *user = userlist_find(sess, nick);
    return user ? user : userlist_find_global(sess->server, nick);
}

void on_info_shown(GtkWidget *, gpointer) noexcept
{
    guarded("nick information", [] {
        if (open_info.whois_sent || !is_session(open_info.sess) || !open_info.sess->server->connected)
            return;
        const User *user = find_user_anywhere(open_info.sess, open_info.nick.c_str());
        if (!user || (user->realname && user->hostname && user->servername))
            return;
        // The answer fills the user record (fe_userlist_update) without being printed.
        open_info.whois_sent = true;
        open_info.sess->server->whois_quiet = TRUE;
        std::string line = "WHOIS " + open_info.nick + " " + open_info.nick;
        handle_command(open_info.sess, line.data(), false);
    });
}

void on_info_destroyed(GtkWidget *widget, gpointer) noexcept
{
    if (open_info.submenu == widget)
        open_info = info_menu{};
}

void add_info_submenu(GtkWidget *menu, session *sess, const char *nick, const User *user)
{
    GtkWidget *item = gtk_menu_item_new_with_label(nick);
    GtkWidget *sub = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    fill_info(sub, sess, user);
    open_info = info_menu{sub, sess, nick, false};
    g_signal_connect(sub, "show", G_CALLBACK(on_info_shown), nullptr);
    g_signal_connect(sub, "destroy", G_CALLBACK(on_info_destroyed), nullptr);
}

struct nick_reply {
    session *sess;
    std::string nick;
};

void on_reply(GtkMenuItem *, gpointer data) noexcept
{
    guarded("reply", [&] {
        const auto *target = static_cast<const nick_reply *>(data);
        if (!is_session(target->sess))
            return;
        const reply_entry *latest = reply_cache_latest_from(target->sess, target->nick.c_str());
        if (!latest) {
            PrintText(target->sess, _("No recent message to reply to.\n"));
            return;
        }
        reply_state_set(target->sess, latest->msgid.c_str(), latest->nick.c_str(), nullptr, latest->text.c_str());
        mg_reply_update(target->sess);
    });
}

// --- URL and channel actions ---------------------------------------------------------------

struct chan_action {
    session *sess;
    std::string channel;
};

void on_autojoin_toggled(GtkCheckMenuItem *item, gpointer data) noexcept
{
    guarded("autojoin", [&] {
        const auto *action = static_cast<const chan_action *>(data);
        if (!is_session(action->sess) || !action->sess->server->network)
            return;
        servlist_autojoinedit(action->sess->server->network, action->channel.c_str(),
                              gtk_check_menu_item_get_active(item));
    });
}

template <typename T> void attach(GtkWidget *item, const char *signal, GCallback handler, T *data)
{
    g_signal_connect_data(
        item, signal, handler, data, [](gpointer d, GClosure *) { delete static_cast<T *>(d); }, GConnectFlags(0));
}

session *usable(session *sess)
{
    if (sess && is_session(sess))
        return sess;
    return is_session(current_sess) ? current_sess : nullptr;
}

// A left click opens links and addresses only with the configured modifiers held.
bool link_modifiers_held(guint state)
{
    const guint wanted = static_cast<guint>(prefs.gui_url_mod);
    const guint held = state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK);
    return held == wanted;
}

gboolean destroy_popup(gpointer data) noexcept
{
    gtk_widget_destroy(GTK_WIDGET(data));
    g_object_unref(data);
    return G_SOURCE_REMOVE;
}

void on_popup_closed(GtkWidget *menu, gpointer) noexcept
{
    g_idle_add(destroy_popup, menu);
}

} // namespace

// --- shared building ---------------------------------------------------------------------------

GtkWidget *menu_item_new(const char *label, const char *icon)
{
    GtkWidget *item = gtk_menu_item_new_with_mnemonic(label);
    GtkWidget *image = icon && *icon ? icon_image(icon) : nullptr;
    if (!image)
        return item;
    // Image and label side by side; the label keeps its mnemonic and accelerator.
    GtkWidget *text = gtk_bin_get_child(GTK_BIN(item));
    g_object_ref(text);
    gtk_container_remove(GTK_CONTAINER(item), text);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_start(GTK_BOX(box), image, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), text, TRUE, TRUE, 0);
    g_object_unref(text);
    gtk_container_add(GTK_CONTAINER(item), box);
    return item;
}

void menu_popup(GtkWidget *menu, const GdkEvent *event)
{
    gtk_widget_show_all(menu);
    g_object_ref_sink(menu);
    // Destroyed once it closed and its item ran (activation follows "deactivate").
    g_signal_connect(menu, "deactivate", G_CALLBACK(on_popup_closed), nullptr);
    if (GtkWindow *parent = main_window())
        gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(parent), nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
}

void menu_add_separator(GtkWidget *menu)
{
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
}

GtkWidget *menu_add_submenu(GtkWidget *menu, const char *label, const char *icon)
{
    GtkWidget *item = menu_item_new(label, icon);
    GtkWidget *sub = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return sub;
}

menu_values menu_session_values(session *sess)
{
    menu_values v;
    if (!sess)
        return v;
    v.c = sess->channel;
    const char *network = sess->server ? server_get_network(sess->server, true) : nullptr;
    v.e = network ? network : "";
    v.n = sess->server ? sess->server->nick : "";
    return v;
}

void menu_run_template(session *sess, const std::string &tmpl, const menu_values &values)
{
    sess = usable(sess);
    if (!sess)
        return;
    auto run_for = [&](const std::string &nick) {
        insert_values iv;
        std::string all;
        for (const std::string &n : values.nicks)
            all += (all.empty() ? "" : " ") + n;
        std::string host = values.h, account = values.u;
        if (nick != values.s) {
            // One of several selected nicks: its own host and account.
            const User *user = find_user_anywhere(sess, nick.c_str());
            host = user && user->hostname ? user->hostname : "";
            account = user && user->account ? user->account : "";
        }
        iv.a = all.empty() ? nick.c_str() : all.c_str();
        iv.c = values.c.c_str();
        iv.e = values.e.c_str();
        iv.h = host.c_str();
        iv.n = values.n.c_str();
        iv.s = nick.c_str();
        iv.u = account.c_str();
        std::string line = menu_command_line(tmpl.c_str(), iv);
        if (line.empty()) {
            PrintText(sess, _("Bad arguments for user command.\n"));
            return;
        }
        handle_command(sess, line.data(), false);
    };
    if (values.nicks.size() > 1 && menu_template_uses_nick(tmpl.c_str())) {
        for (const std::string &nick : values.nicks) {
            if (!is_session(sess))
                return;
            run_for(nick);
        }
        return;
    }
    run_for(values.s);
}

void menu_item_bind(GtkWidget *item, session *sess, const std::string &tmpl, menu_values_ptr values)
{
    attach(item, "activate", G_CALLBACK(on_bound_activate), new bound_action{sess, tmpl, std::move(values)});
}

void menu_fill(GtkWidget *menu, const std::vector<menu_node> &nodes, session *sess, menu_values_ptr values)
{
    for (const menu_node &node : nodes) {
        switch (node.kind) {
        case menu_node::SUBMENU:
            menu_fill(menu_add_submenu(menu, node.label.c_str(), node.icon.c_str()), node.children, sess, values);
            break;
        case menu_node::SEPARATOR: {
            GtkWidget *item = gtk_menu_item_new_with_label("");
            gtk_widget_set_sensitive(item, FALSE);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
            break;
        }
        case menu_node::TOGGLE: {
            GtkWidget *item = gtk_check_menu_item_new_with_mnemonic(node.label.c_str());
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), cfg_get_bool(node.command.c_str()) > 0);
            attach(item, "toggled", G_CALLBACK(on_toggle_setting), new toggle_action{sess, node.command});
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
            break;
        }
        case menu_node::ITEM:
            menu_item_bind(add_item(menu, node.label.c_str(), node.icon.c_str()), sess, node.command, values);
            break;
        }
    }
}

// --- the pop-ups -------------------------------------------------------------------------------

GtkWidget *menu_nickmenu(session *sess, const std::vector<std::string> &nicks)
{
    GtkWidget *menu = gtk_menu_new();
    if (nicks.empty() || !sess)
        return menu;
    menu_values values = menu_session_values(sess);
    values.nicks = nicks;
    menu_build_options options;
    if (nicks.size() == 1) {
        const std::string &nick = nicks.front();
        values.s = nick;
        if (const User *user = find_user_anywhere(sess, nick.c_str())) {
            values.h = user->hostname ? user->hostname : "";
            values.u = user->account ? user->account : "";
            add_info_submenu(menu, sess, nick.c_str(), user);
        }
        server *serv = sess->server;
        const bool listed = notify_is_in_list(serv, nick.c_str());
        options.keep = [listed](const char *, const char *cmd) { return !(listed && !std::strcmp(cmd, ASK_NOTIFY)); };
    } else {
        gchar_ptr count(g_strdup_printf(_("%d nicks selected."), static_cast<int>(nicks.size())));
        add_header(menu, count.get());
        menu_add_separator(menu);
    }
    auto shared = std::make_shared<const menu_values>(std::move(values));
    menu_fill(menu, menu_build_from_list(popup_list, options), sess, shared);
    if (nicks.size() == 1) {
        GtkWidget *reply = add_item(menu, _("Reply"));
        attach(reply, "activate", G_CALLBACK(on_reply), new nick_reply{sess, nicks.front()});
    }
    menu_append_plugin_items(menu, MENU_ROOT_NICK, sess, shared);
    return menu;
}

GtkWidget *menu_urlmenu(session *sess, const char *url)
{
    GtkWidget *menu = gtk_menu_new();
    menu_values values = menu_session_values(usable(sess));
    values.s = url;
    auto shared = std::make_shared<const menu_values>(std::move(values));
    add_header(menu, url);
    menu_add_separator(menu);
    const bool irc = !g_ascii_strncasecmp(url, "irc://", 6) || !g_ascii_strncasecmp(url, "ircs://", 7);
    GtkWidget *open = add_item(menu, irc ? _("Connect") : _("Open Link in Browser"));
    menu_item_bind(open, sess, "URL %s", shared);
    GtkWidget *copy = add_item(menu, _("Copy Selected Link"));
    g_signal_connect_data(
        copy, "activate", G_CALLBACK(on_copy_text), g_strdup(url), [](gpointer d, GClosure *) { g_free(d); },
        GConnectFlags(0));
    menu_build_options options;
    options.keep = [](const char *, const char *cmd) { return menu_url_handler_available(cmd); };
    options.drop_empty_submenus = true;
    const auto handlers = menu_build_from_list(urlhandler_list, options);
    if (!handlers.empty())
        menu_add_separator(menu);
    menu_fill(menu, handlers, sess, shared);
    menu_append_plugin_items(menu, MENU_ROOT_URL, sess, shared);
    return menu;
}

GtkWidget *menu_chanmenu(session *sess, const char *channel)
{
    GtkWidget *menu = gtk_menu_new();
    sess = usable(sess);
    if (!sess)
        return menu;
    menu_values values = menu_session_values(sess);
    values.s = channel;
    auto shared = std::make_shared<const menu_values>(std::move(values));
    add_header(menu, channel);
    menu_add_separator(menu);
    session *joined = find_channel(sess->server, channel);
    if (joined) {
        if (joined != sess)
            menu_item_bind(add_item(menu, _("Focus Channel")), sess, "doat %s gui focus", shared);
        menu_item_bind(add_item(menu, _("Part Channel")), sess, "part %s", shared);
        menu_item_bind(add_item(menu, _("Cycle Channel")), sess, "CYCLE %s", shared);
    } else {
        menu_item_bind(add_item(menu, _("Join Channel")), sess, "join %s", shared);
    }
    if (ircnet *net = sess->server->network) {
        GtkWidget *fav = gtk_check_menu_item_new_with_mnemonic(_("_Autojoin"));
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(fav),
                                       servlist_favchan_find(net, channel, nullptr) != nullptr);
        attach(fav, "toggled", G_CALLBACK(on_autojoin_toggled), new chan_action{sess, channel});
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), fav);
    }
    menu_append_plugin_items(menu, MENU_ROOT_CHAN, sess, shared);
    return menu;
}

void menu_add_tab_items(GtkWidget *menu, session *sess)
{
    menu_values values = menu_session_values(sess);
    values.s = sess ? sess->channel : "";
    auto shared = std::make_shared<const menu_values>(std::move(values));
    const auto nodes = menu_build_from_list(tabmenu_list);
    bool any_plugin = false;
    for (GSList *l = menu_list; l && !any_plugin; l = l->next)
        any_plugin = static_cast<menu_entry *>(l->data)->root == MENU_ROOT_TAB;
    if (nodes.empty() && !any_plugin)
        return;
    menu_add_separator(menu);
    menu_fill(menu, nodes, sess, shared);
    menu_append_plugin_items(menu, MENU_ROOT_TAB, sess, shared);
}

void menu_word_clicked(session *sess, const char *word, const GdkEventButton *event)
{
    if (!sess || !is_session(sess))
        return;
    const auto *ev = reinterpret_cast<const GdkEvent *>(event);
    int kind = word && *word ? url_check_word(word) : WORD_NONE;
    std::string found = word ? word : "";
    if (kind != WORD_NONE) {
        int start = 0, end = 0;
        url_last(&start, &end);
        if (start >= 0 && end > start && static_cast<std::size_t>(end) <= found.size())
            found = found.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
    }
    // In a dialog any other word is taken for the peer's nick.
    const bool peer = kind == WORD_NONE && sess->type == SESS_DIALOG && word && *word;
    if (event->button == 1) {
        if ((kind == WORD_URL || kind == WORD_EMAIL) && link_modifiers_held(event->state)) {
            fe_open_url(kind == WORD_EMAIL ? ("mailto:" + found).c_str() : found.c_str());
            return;
        }
        if (!word || !*word) {
            // A click beside the words focuses the tab and its input line.
            mg_bring_tofront_sess(sess);
            if (session_view *v = view_of(sess))
                gtk_widget_grab_focus(v->input_entry);
        }
        return;
    }
    if (event->button == 2) {
        if (sess->type == SESS_DIALOG)
            menu_popup(menu_main_build(false), ev);
        return;
    }
    if (event->button != 3)
        return;
    switch (kind) {
    case WORD_CHANNEL:
        menu_popup(menu_chanmenu(sess, found.c_str()), ev);
        return;
    case WORD_EMAIL:
        menu_popup(menu_urlmenu(sess, ("mailto:" + found).c_str()), ev);
        return;
    case WORD_NICK:
        menu_popup(menu_nickmenu(sess, {found}), ev);
        return;
    case WORD_URL:
        menu_popup(menu_urlmenu(sess, found.c_str()), ev);
        return;
    default:
        if (peer)
            menu_popup(menu_nickmenu(sess, {sess->channel}), ev);
        else
            menu_popup(menu_main_build(false), ev);
    }
}

// A WHOIS answer (or a change of away state) for a nick whose information
// submenu is open refreshes it.
void fe_userlist_update(session *sess, User *user)
{
    if (!open_info.submenu || !user || !is_session(open_info.sess) || sess->server != open_info.sess->server)
        return;
    if (sess->server->p_cmp(user->nick, open_info.nick.c_str()) != 0)
        return;
    fill_info(open_info.submenu, open_info.sess, user);
}
