// Rows are kept in a sorted GtkListStore per session. Its iterators stay
// valid as long as their row exists, so the user-to-row index holds them
// by value. A NAMES burst into the tab in front detaches the model from the
// view until the loop is idle: the view then sees the whole list at once
// instead of re-laying itself out for every nick.
#include "mainwin/userlist.h"

#include "mainwin/maingui.h"
#include "menus/menu-model.h"
#include "menus/menu.h"
#include "resources/pixmaps.h"
#include "theme/theme-gtk.h"
#include "theme/theme-runtime.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{

enum { COL_ICON, COL_PREFIX, COL_NICK, COL_HOST, COL_USER, COL_COLOR, N_COLS };

constexpr guint TYPING_TICK_MS = 350;
constexpr time_t TYPING_ACTIVE_S = 5;
constexpr time_t TYPING_PAUSED_S = 29;
// The nick colour palette entries.
constexpr int AWAY_COLOR = 40;
constexpr int PLAIN_NICK_COLOR = 34;

enum class typing { none, active, paused };

struct user_model {
    session *sess = nullptr;
    GtkListStore *store = nullptr;
    row_index<GtkTreeIter> index;
    std::unordered_map<User *, typing> typing_users;
    unsigned counter = 0;
    source_id typing_timer;
    bool bulk = false;           // a NAMES burst: rows wait in `pending` until it ends
    std::vector<User *> pending; // users of the burst not in the store yet
};

user_model *model_of(session *sess)
{
    tab_state *t = tab_of(sess);
    return t ? static_cast<user_model *>(t->user_model) : nullptr;
}

source_id attach_idle;
session *attach_pending = nullptr;
bool attach_waited = false;

// The display order of two users: 0 and 2 by status then nick, 1 and 3 by
// nick only, 2 and 3 descending; any other setting keeps arrival order (0).
int compare_users(server *serv, User *a, User *b)
{
    switch (prefs.gui_ulist_sort) {
    case 0:
        return nick_cmp_az_ops(serv, a, b);
    case 1:
        return nick_cmp_alpha(a, b, serv);
    case 2:
        return -nick_cmp_az_ops(serv, a, b);
    case 3:
        return -nick_cmp_alpha(a, b, serv);
    default:
        return 0;
    }
}

bool sorted_setting()
{
    return prefs.gui_ulist_sort >= 0 && prefs.gui_ulist_sort <= 3;
}

User *user_at(user_model *um, GtkTreeIter *iter)
{
    User *u = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(um->store), iter, COL_USER, &u, -1);
    return u;
}

// The store is not a GtkTreeSortable sorted one: its comparisons go through
// GValues, and a 50,000-nick burst would pay that a million times. Rows are
// put in place here instead, one by binary search, or all at once with one
// reorder after a burst.
int insert_position(user_model *um, User *user)
{
    if (!sorted_setting())
        return -1;
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    int lo = 0, hi = gtk_tree_model_iter_n_children(m, nullptr);
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        GtkTreeIter it;
        gtk_tree_model_iter_nth_child(m, &it, nullptr, mid);
        User *other = user_at(um, &it);
        if (other && compare_users(um->sess->server, other, user) <= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Also fills the row index after a burst in the same pass: a later part
// or quit then never scans 50,000 rows.
void append_row(user_model *um, User *user, GtkTreeIter *iter);

// The end of a burst: the users so far and those of the burst, sorted once,
// go into the store in order while no view watches it. Cheaper by far than
// appending them and reordering 50,000 rows (the reorder alone maps every
// row through a hash table).
void flush_pending(user_model *um)
{
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    std::vector<User *> users;
    users.reserve(static_cast<std::size_t>(gtk_tree_model_iter_n_children(m, nullptr)) + um->pending.size());
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it))
        users.push_back(user_at(um, &it));
    users.insert(users.end(), um->pending.begin(), um->pending.end());
    std::vector<User *>().swap(um->pending);
    if (sorted_setting()) {
        server *serv = um->sess->server;
        std::stable_sort(users.begin(), users.end(),
                         [serv](User *a, User *b) { return compare_users(serv, a, b) < 0; });
    }
    // A window of its own keeps its model during a burst: it lets go now.
    GtkTreeView *shown = nullptr;
    if (session_view *v = is_front(um->sess) ? view_of(um->sess) : nullptr)
        if (v->userlist && gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist)) == m)
            shown = GTK_TREE_VIEW(v->userlist);
    if (shown)
        gtk_tree_view_set_model(shown, nullptr);
    um->index.clear();
    um->index.reserve(users.size());
    gtk_list_store_clear(um->store);
    for (User *u : users) {
        append_row(um, u, &it);
        um->index.put(u, it);
    }
    if (shown)
        gtk_tree_view_set_model(shown, m);
}

void sort_store(user_model *um)
{
    const bool was_bulk = std::exchange(um->bulk, false);
    if (was_bulk && !um->pending.empty()) {
        flush_pending(um);
        return;
    }
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    std::vector<User *> users;
    users.reserve(static_cast<std::size_t>(gtk_tree_model_iter_n_children(m, nullptr)));
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
        users.push_back(user_at(um, &it));
        if (was_bulk)
            um->index.put(users.back(), it); // iterators survive the reorder
    }
    if (!sorted_setting())
        return;
    std::vector<int> order(users.size());
    for (std::size_t i = 0; i < order.size(); i++)
        order[i] = static_cast<int>(i);
    server *serv = um->sess->server;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return compare_users(serv, users[a], users[b]) < 0; });
    bool changed = false;
    for (std::size_t i = 0; i < order.size() && !changed; i++)
        changed = order[i] != static_cast<int>(i);
    if (changed)
        gtk_list_store_reorder(um->store, order.data());
}

const char *prefix_color(char prefix)
{
    switch (prefix) {
    case '%':
        return "#d39a5f";
    case '&':
        return "#79aecd";
    case '+':
        return "#d2bf6a";
    case '@':
        return "#5ea36a";
    case '~':
        return "#d46a6a";
    default:
        return nullptr;
    }
}

// With icons on, a user whose status has an image shows the image alone.
std::string prefix_markup(const server *serv, const User *user)
{
    if (!user->prefix || user->prefix == ' ')
        return {};
    if (prefs.gui_ulist_icons && get_user_icon(serv, user))
        return {};
    const char text[2] = {user->prefix, 0};
    gchar_ptr escaped(g_markup_escape_text(text, -1));
    if (const char *color = prefix_color(user->prefix))
        return std::string("<span foreground=\"") + color + "\">" + escaped.get() + "</span>";
    return escaped.get();
}

std::string nick_markup(user_model *um, User *user)
{
    std::string text;
    if (std::strpbrk(user->nick, "<>&'\"")) {
        gchar_ptr escaped(g_markup_escape_text(user->nick, -1));
        text = escaped.get();
    } else {
        text = user->nick; // the usual nick needs no escaping
    }
    auto it = um->typing_users.find(user);
    if (it != um->typing_users.end()) {
        if (it->second == typing::active) {
            static const char *const marks[] = {" [✎]", " [✎.]", " [✎..]"};
            text += marks[um->counter % 3];
        } else if (it->second == typing::paused) {
            text += " [✎…]";
        }
    }
    return text;
}

GdkPixbuf *row_icon(user_model *um, const User *user)
{
    return prefs.gui_ulist_icons ? get_user_icon(um->sess->server, user) : nullptr;
}

bool nick_color(User *user, GdkRGBA *out)
{
    int entry = -1;
    if (prefs.away_track && user->away)
        entry = AWAY_COLOR;
    else if (prefs.text_color_nicks || prefs.gui_ulist_color) {
        const int c = text_color_of(user->nick);
        entry = c < 32 ? c : PLAIN_NICK_COLOR;
    }
    if (entry < 0)
        return false;
    theme_color c;
    if (!theme_get_legacy_color(entry, &c))
        return false;
    *out = theme_to_gdk(c);
    return true;
}

void write_row(user_model *um, GtkTreeIter *iter, User *user)
{
    GdkRGBA color;
    const bool colored = nick_color(user, &color);
    gtk_list_store_set(um->store, iter, COL_ICON, row_icon(um, user), COL_PREFIX,
                       prefix_markup(um->sess->server, user).c_str(), COL_NICK, nick_markup(um, user).c_str(), COL_HOST,
                       user->hostname ? user->hostname : "", COL_COLOR, colored ? &color : nullptr, -1);
}

void append_row(user_model *um, User *user, GtkTreeIter *iter)
{
    GdkRGBA color;
    const bool colored = nick_color(user, &color);
    gtk_list_store_insert_with_values(um->store, iter, -1, COL_USER, user, COL_ICON, row_icon(um, user), COL_PREFIX,
                                      prefix_markup(um->sess->server, user).c_str(), COL_NICK,
                                      nick_markup(um, user).c_str(), COL_HOST, user->hostname ? user->hostname : "",
                                      COL_COLOR, colored ? &color : nullptr, -1);
}

bool scan_for(user_model *um, User *user, GtkTreeIter *out)
{
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(m, &iter); ok; ok = gtk_tree_model_iter_next(m, &iter)) {
        User *u = nullptr;
        gtk_tree_model_get(m, &iter, COL_USER, &u, -1);
        if (u == user) {
            *out = iter;
            return true;
        }
    }
    return false;
}

bool find_row(user_model *um, User *user, GtkTreeIter *out)
{
    return um->index.find(user, out, [um](User *u, GtkTreeIter *it) { return scan_for(um, u, it); });
}

// --- the view ------------------------------------------------------------

// The tree view showing the session's list now, or null when it is a tab
// not in front.
GtkTreeView *view_tree(session *sess)
{
    session_view *v = is_front(sess) ? view_of(sess) : nullptr;
    return v && v->userlist ? GTK_TREE_VIEW(v->userlist) : nullptr;
}

// Only the main window's tab in front holds its list back during a NAMES
// burst; a window of its own keeps its model attached (one pending attach).
bool holds_back_bursts(session *sess)
{
    return sess && sess == mg_front_session();
}

void schedule_attach(session *sess);
constexpr guint BURST_RECHECK_MS = 2000;

gboolean attach_model(gpointer) noexcept
{
    guarded("user list attach", [] {
        attach_idle.release();
        session *sess = std::exchange(attach_pending, nullptr);
        if (!is_session(sess) || !is_front(sess))
            return;
        user_model *um = model_of(sess);
        // Inside a NAMES burst the list is shown once, when the burst ends
        // (fe_userlist_numbers); a burst that never ends is shown anyway.
        if (um && um->bulk && !attach_waited) {
            attach_waited = true;
            attach_pending = sess;
            attach_idle.reset(g_timeout_add(BURST_RECHECK_MS, attach_model, nullptr));
            return;
        }
        attach_waited = false;
        if (um && um->bulk)
            sort_store(um);
        GtkTreeView *tree = view_tree(sess);
        if (tree && um && gtk_tree_view_get_model(tree) != GTK_TREE_MODEL(um->store))
            gtk_tree_view_set_model(tree, GTK_TREE_MODEL(um->store));
    });
    return G_SOURCE_REMOVE;
}

void schedule_attach(session *sess)
{
    if (attach_pending != sess)
        attach_waited = false;
    attach_pending = sess;
    if (!attach_idle)
        attach_idle.reset(g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, attach_model, nullptr, nullptr));
}

void refresh_count(session *sess)
{
    session_view *v = view_of(sess);
    if (!v || !v->user_count || !is_front(sess))
        return;
    if (sess->user_count <= 0 && sess->type == SESS_CHANNEL) {
        gtk_label_set_text(GTK_LABEL(v->user_count), "");
        return;
    }
    if (sess->type != SESS_CHANNEL) {
        gtk_label_set_text(GTK_LABEL(v->user_count), "");
        return;
    }
    gchar_ptr text(g_strdup_printf(_("%d ops, %d total"), sess->op_count, sess->user_count));
    gtk_label_set_text(GTK_LABEL(v->user_count), text.get());
}

gboolean typing_tick(gpointer data) noexcept
{
    return guarded<gboolean>("typing marks", G_SOURCE_REMOVE, [&]() -> gboolean {
        auto *um = static_cast<user_model *>(data);
        um->counter++;
        const time_t now = time(nullptr);
        for (auto it = um->typing_users.begin(); it != um->typing_users.end();) {
            User *user = it->first;
            const time_t age = now - user->typingtime;
            if ((it->second == typing::active && age > TYPING_ACTIVE_S) ||
                (it->second == typing::paused && age > TYPING_PAUSED_S))
                it->second = typing::none;
            GtkTreeIter iter;
            if (find_row(um, user, &iter))
                gtk_list_store_set(um->store, &iter, COL_NICK, nick_markup(um, user).c_str(), -1);
            if (it->second == typing::none)
                it = um->typing_users.erase(it);
            else
                ++it;
        }
        if (!um->typing_users.empty())
            return G_SOURCE_CONTINUE;
        um->typing_timer.release();
        return G_SOURCE_REMOVE;
    });
}

void on_row_activated(GtkTreeView *tree, GtkTreePath *path, GtkTreeViewColumn *, gpointer) noexcept
{
    guarded("user list double click", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(tree));
        if (!sess || !prefs.gui_ulist_doubleclick[0])
            return;
        GdkModifierType state;
        if (gtk_get_current_event_state(&state) && (state & GDK_CONTROL_MASK))
            return;
        GtkTreeModel *model = gtk_tree_view_get_model(tree);
        GtkTreeIter iter;
        User *user = nullptr;
        if (!model || !gtk_tree_model_get_iter(model, &iter, path))
            return;
        gtk_tree_model_get(model, &iter, COL_USER, &user, -1);
        if (!user)
            return;
        const char *host = user->hostname ? user->hostname : _("Host unknown");
        const char *account = user->account ? user->account : _("Account unknown");
        const char *network = server_get_network(sess->server, true);
        insert_values values;
        values.a = account;
        values.c = sess->channel;
        values.e = network ? network : "";
        values.h = host;
        values.n = sess->server->nick;
        values.s = user->nick;
        // A "!" command gets the nick and host shell-quoted (a backtick is a nick character).
        std::string line = menu_command_line(prefs.gui_ulist_doubleclick, values);
        if (!line.empty())
            handle_command(sess, line.data(), false);
    });
}

// Button 3: the nick menu for the selected rows, or for the row under the
// pointer, which becomes the only selection.
gboolean on_list_button(GtkWidget *widget, GdkEventButton *event, gpointer) noexcept
{
    return guarded<gboolean>("user list menu", FALSE, [&]() -> gboolean {
        if (event->type != GDK_BUTTON_PRESS || event->button != 3)
            return FALSE;
        session *sess = mg_session_of_widget(widget);
        GtkTreeView *tree = GTK_TREE_VIEW(widget);
        GtkTreeModel *model = gtk_tree_view_get_model(tree);
        if (!sess || !model)
            return FALSE;
        GtkTreeSelection *sel = gtk_tree_view_get_selection(tree);
        GtkTreePath *path = nullptr;
        if (!gtk_tree_view_get_path_at_pos(tree, static_cast<gint>(event->x), static_cast<gint>(event->y), &path,
                                           nullptr, nullptr, nullptr))
            return FALSE;
        if (!gtk_tree_selection_path_is_selected(sel, path) || gtk_tree_selection_count_selected_rows(sel) < 2) {
            gtk_tree_selection_unselect_all(sel);
            gtk_tree_selection_select_path(sel, path);
        }
        gtk_tree_path_free(path);
        std::vector<std::string> nicks;
        GList *rows = gtk_tree_selection_get_selected_rows(sel, nullptr);
        for (GList *l = rows; l; l = l->next) {
            GtkTreeIter iter;
            User *user = nullptr;
            if (gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath *>(l->data)))
                gtk_tree_model_get(model, &iter, COL_USER, &user, -1);
            if (user)
                nicks.emplace_back(user->nick);
        }
        g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
        if (nicks.empty())
            return FALSE;
        menu_popup(menu_nickmenu(sess, nicks), reinterpret_cast<GdkEvent *>(event));
        return TRUE;
    });
}

gboolean on_list_key(GtkWidget *tree, GdkEventKey *event, gpointer) noexcept
{
    return guarded<gboolean>("user list key", FALSE, [&]() -> gboolean {
        // Printable keys belong to the input line.
        if (event->keyval < 42 || event->keyval > 122)
            return FALSE;
        session *sess = mg_session_of_widget(tree);
        session_view *v = sess ? view_of(sess) : nullptr;
        if (!v)
            return FALSE;
        gtk_widget_grab_focus(v->input_entry);
        gtk_widget_event(v->input_entry, reinterpret_cast<GdkEvent *>(event));
        return TRUE;
    });
}

} // namespace

void userlist_create(session_view &view)
{
    view.userlist_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_widget_set_name(view.userlist_box, "lumenwick-userlist-box");
    g_object_ref_sink(view.userlist_box);
    view.user_count = gtk_label_new("");
    gtk_widget_set_name(view.user_count, "lumenwick-usercount");
    atk_object_set_name(gtk_widget_get_accessible(view.user_count), "user count");
    gtk_box_pack_start(GTK_BOX(view.userlist_box), view.user_count, FALSE, FALSE, 0);

    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    GtkWidget *tree = gtk_tree_view_new();
    gtk_widget_set_name(tree, "lumenwick-userlist");
    atk_object_set_name(gtk_widget_get_accessible(tree), "user list");
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tree), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(tree), FALSE);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), GTK_SELECTION_MULTIPLE);

    // Fixed sizes everywhere: the view then measures one row, not 50,000.
    GtkCellRenderer *icon = gtk_cell_renderer_pixbuf_new();
    GtkTreeViewColumn *icon_col = gtk_tree_view_column_new_with_attributes(nullptr, icon, "pixbuf", COL_ICON, nullptr);
    gtk_tree_view_column_set_sizing(icon_col, GTK_TREE_VIEW_COLUMN_FIXED);
    // All status images share one size: the op image's width fits them all.
    gtk_tree_view_column_set_fixed_width(icon_col, (pix_ulist_op ? gdk_pixbuf_get_width(pix_ulist_op) : 16) + 4);
    gtk_tree_view_column_set_visible(icon_col, prefs.gui_ulist_icons);
    gtk_tree_view_append_column(GTK_TREE_VIEW(tree), icon_col);

    GtkTreeViewColumn *nick_col = gtk_tree_view_column_new();
    GtkCellRenderer *prefix = gtk_cell_renderer_text_new();
    GtkCellRenderer *nick = gtk_cell_renderer_text_new();
    g_object_set(nick, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    gtk_tree_view_column_pack_start(nick_col, prefix, FALSE);
    gtk_tree_view_column_pack_start(nick_col, nick, TRUE);
    gtk_tree_view_column_add_attribute(nick_col, prefix, "markup", COL_PREFIX);
    gtk_tree_view_column_add_attribute(nick_col, nick, "markup", COL_NICK);
    gtk_tree_view_column_add_attribute(nick_col, nick, "foreground-rgba", COL_COLOR);
    gtk_tree_view_column_set_sizing(nick_col, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(nick_col, prefs.gui_ulist_nick_width > 0 ? prefs.gui_ulist_nick_width : 140);
    gtk_tree_view_column_set_resizable(nick_col, TRUE);
    gtk_tree_view_column_set_expand(nick_col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(tree), nick_col);

    GtkCellRenderer *host = gtk_cell_renderer_text_new();
    GtkTreeViewColumn *host_col = gtk_tree_view_column_new_with_attributes(nullptr, host, "text", COL_HOST, nullptr);
    gtk_tree_view_column_set_sizing(host_col, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(host_col, prefs.gui_ulist_host_width > 0 ? prefs.gui_ulist_host_width : 160);
    gtk_tree_view_column_set_visible(host_col, prefs.gui_ulist_show_hosts);
    gtk_tree_view_append_column(GTK_TREE_VIEW(tree), host_col);
    gtk_tree_view_set_fixed_height_mode(GTK_TREE_VIEW(tree), TRUE);

    g_signal_connect(tree, "row-activated", G_CALLBACK(on_row_activated), nullptr);
    g_signal_connect(tree, "key-press-event", G_CALLBACK(on_list_key), nullptr);
    g_signal_connect(tree, "button-press-event", G_CALLBACK(on_list_button), nullptr);
    gtk_container_add(GTK_CONTAINER(scroll), tree);
    gtk_box_pack_start(GTK_BOX(view.userlist_box), scroll, TRUE, TRUE, 0);
    gtk_widget_set_size_request(view.userlist_box, prefs.gui_pane_right_size > 0 ? prefs.gui_pane_right_size : 160, -1);
    view.userlist = tree;
}

void userlist_create_model(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t || t->user_model)
        return;
    auto *um = new user_model;
    um->sess = sess;
    um->store = gtk_list_store_new(N_COLS, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_POINTER,
                                   GDK_TYPE_RGBA);
    t->user_model = um;
}

void userlist_free_model(session *sess)
{
    tab_state *t = tab_of(sess);
    auto *um = t ? static_cast<user_model *>(t->user_model) : nullptr;
    if (!um)
        return;
    if (attach_pending == sess)
        attach_pending = nullptr;
    if (GtkTreeView *tree = view_tree(sess))
        if (gtk_tree_view_get_model(tree) == GTK_TREE_MODEL(um->store))
            gtk_tree_view_set_model(tree, nullptr);
    g_object_unref(um->store);
    delete um;
    t->user_model = nullptr;
}

void userlist_show(session *sess)
{
    GtkTreeView *tree = view_tree(sess);
    user_model *um = model_of(sess);
    // The icon setting may have changed since the view was built.
    if (tree)
        if (GtkTreeViewColumn *icons = gtk_tree_view_get_column(tree, 0))
            gtk_tree_view_column_set_visible(icons, prefs.gui_ulist_icons);
    if (tree && um && !holds_back_bursts(sess)) {
        if (um->bulk)
            sort_store(um);
        gtk_tree_view_set_model(tree, GTK_TREE_MODEL(um->store));
    } else {
        if (tree)
            gtk_tree_view_set_model(tree, nullptr);
        schedule_attach(sess);
    }
    refresh_count(sess);
}

std::vector<User *> userlist_selected_users(session *sess)
{
    std::vector<User *> out;
    GtkTreeView *tree = view_tree(sess);
    user_model *um = model_of(sess);
    if (!tree || !um || gtk_tree_view_get_model(tree) != GTK_TREE_MODEL(um->store))
        return out;
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    GList *rows = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(tree), nullptr);
    for (GList *l = rows; l; l = l->next) {
        GtkTreeIter iter;
        User *u = nullptr;
        if (gtk_tree_model_get_iter(m, &iter, static_cast<GtkTreePath *>(l->data)))
            gtk_tree_model_get(m, &iter, COL_USER, &u, -1);
        if (u)
            out.push_back(u);
    }
    g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    return out;
}

void userlist_apply_sort(session *sess)
{
    if (user_model *um = model_of(sess))
        sort_store(um);
}

void userlist_refill(session *sess)
{
    user_model *um = model_of(sess);
    if (!um)
        return;
    fe_userlist_clear(sess);
    GSList *users = userlist_flat_list(sess);
    for (GSList *l = users; l; l = l->next)
        fe_userlist_insert(sess, static_cast<User *>(l->data), FALSE);
    g_slist_free(users);
}

// --- fe_ functions ---------------------------------------------------------

void fe_userlist_insert(session *sess, User *user, gboolean)
{
    user_model *um = model_of(sess);
    if (!um || !user)
        return;
    // A NAMES burst: users wait and go into the store sorted at its end,
    // and the view of the tab in front lets go of the model meanwhile.
    if (sess->type == SESS_CHANNEL && !sess->end_of_names)
        um->bulk = true;
    if (um->bulk && holds_back_bursts(sess)) {
        GtkTreeView *tree = view_tree(sess);
        if (tree && gtk_tree_view_get_model(tree) == GTK_TREE_MODEL(um->store)) {
            gtk_tree_view_set_model(tree, nullptr);
            schedule_attach(sess);
        }
    }
    if (um->bulk) {
        um->pending.push_back(user);
        return;
    }
    GtkTreeIter iter;
    GdkRGBA color;
    const bool colored = nick_color(user, &color);
    gtk_list_store_insert_with_values(um->store, &iter, insert_position(um, user), COL_USER, user, COL_ICON,
                                      row_icon(um, user), COL_PREFIX, prefix_markup(sess->server, user).c_str(),
                                      COL_NICK, nick_markup(um, user).c_str(), COL_HOST,
                                      user->hostname ? user->hostname : "", COL_COLOR, colored ? &color : nullptr, -1);
    um->index.put(user, iter);
}

int fe_userlist_remove(session *sess, User *user)
{
    user_model *um = model_of(sess);
    if (!um)
        return 0;
    // Someone who left during the burst never reaches the store.
    if (auto at = std::find(um->pending.begin(), um->pending.end(), user); at != um->pending.end()) {
        um->pending.erase(at);
        return 0;
    }
    GtkTreeIter iter;
    if (!find_row(um, user, &iter))
        return 0;
    bool selected = false;
    if (GtkTreeView *tree = view_tree(sess))
        if (gtk_tree_view_get_model(tree) == GTK_TREE_MODEL(um->store))
            selected = gtk_tree_selection_iter_is_selected(gtk_tree_view_get_selection(tree), &iter);
    um->index.forget(user);
    um->typing_users.erase(user);
    gtk_list_store_remove(um->store, &iter);
    return selected;
}

void fe_userlist_rehash(session *sess, User *user)
{
    user_model *um = model_of(sess);
    GtkTreeIter iter;
    if (um && find_row(um, user, &iter))
        write_row(um, &iter, user);
}

void fe_userlist_numbers(session *sess)
{
    // The end of a burst: show the list now if it was held back.
    user_model *um = model_of(sess);
    if (um && um->bulk && sess->end_of_names) {
        sort_store(um);
        if (holds_back_bursts(sess) && attach_pending == sess) {
            attach_idle.reset();
            attach_waited = false;
            attach_model(nullptr);
        }
    }
    refresh_count(sess);
    if (prefs.gui_win_ucount)
        fe_set_title(sess);
}

void fe_userlist_clear(session *sess)
{
    user_model *um = model_of(sess);
    if (!um)
        return;
    um->index.clear();
    um->pending.clear();
    um->typing_users.clear();
    um->typing_timer.reset();
    gtk_list_store_clear(um->store);
}

void fe_userlist_set_selected(session *sess)
{
    user_model *um = model_of(sess);
    GtkTreeView *tree = view_tree(sess);
    if (!um || !tree || gtk_tree_view_get_model(tree) != GTK_TREE_MODEL(um->store))
        return;
    GtkTreeSelection *sel = gtk_tree_view_get_selection(tree);
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(m, &iter); ok; ok = gtk_tree_model_iter_next(m, &iter)) {
        User *u = nullptr;
        gtk_tree_model_get(m, &iter, COL_USER, &u, -1);
        if (u)
            u->selected = gtk_tree_selection_iter_is_selected(sel, &iter);
    }
}

void fe_uselect(session *sess, char *word[], int do_clear, int scroll_to)
{
    user_model *um = model_of(sess);
    GtkTreeView *tree = view_tree(sess);
    if (!um || !tree || !is_front(sess))
        return;
    if (gtk_tree_view_get_model(tree) != GTK_TREE_MODEL(um->store))
        gtk_tree_view_set_model(tree, GTK_TREE_MODEL(um->store));
    GtkTreeSelection *sel = gtk_tree_view_get_selection(tree);
    if (do_clear)
        gtk_tree_selection_unselect_all(sel);
    for (int i = 0; word && word[i] && word[i][0]; i++) {
        User *user = userlist_find(sess, word[i]);
        GtkTreeIter iter;
        if (!user || !find_row(um, user, &iter))
            continue;
        gtk_tree_selection_select_iter(sel, &iter);
        if (scroll_to) {
            GtkTreePath *path = gtk_tree_model_get_path(GTK_TREE_MODEL(um->store), &iter);
            gtk_tree_view_scroll_to_cell(tree, path, nullptr, TRUE, 0.5f, 0.0f);
            gtk_tree_path_free(path);
        }
    }
}

void fe_set_typing(session *sess, const char *nick, const char *state)
{
    user_model *um = model_of(sess);
    User *user = um && nick ? userlist_find(sess, nick) : nullptr;
    if (!user)
        return;
    user->typingtime = time(nullptr);
    const typing t = state && !std::strcmp(state, "active")   ? typing::active
                     : state && !std::strcmp(state, "paused") ? typing::paused
                                                              : typing::none;
    if (t == typing::none)
        um->typing_users.erase(user);
    else
        um->typing_users[user] = t;
    GtkTreeIter iter;
    if (find_row(um, user, &iter))
        gtk_list_store_set(um->store, &iter, COL_NICK, nick_markup(um, user).c_str(), -1);
    if (!um->typing_users.empty() && !um->typing_timer)
        um->typing_timer.reset(g_timeout_add(TYPING_TICK_MS, typing_tick, um));
}

void userlist_refresh_icons(session *sess)
{
    user_model *um = model_of(sess);
    if (!um)
        return;
    GtkTreeModel *m = GTK_TREE_MODEL(um->store);
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(m, &iter); ok; ok = gtk_tree_model_iter_next(m, &iter)) {
        User *u = nullptr;
        gtk_tree_model_get(m, &iter, COL_USER, &u, -1);
        if (u)
            gtk_list_store_set(um->store, &iter, COL_ICON, row_icon(um, u), -1);
    }
}

GdkPixbuf *get_user_icon(const server *serv, const User *user)
{
    switch (user->prefix) {
    case '@':
        return pix_ulist_op;
    case '%':
        return pix_ulist_halfop;
    case '+':
        return pix_ulist_voice;
    default:
        break;
    }
    if (!user->prefix || user->prefix == ' ' || !serv || !serv->nickprefixes)
        return nullptr;
    const char *list = serv->nickprefixes;
    const char *op = std::strchr(list, '@');
    const char *mine = std::strchr(list, user->prefix);
    if (!op || !mine || mine >= op)
        return nullptr;
    switch (op - mine) {
    case 1:
        return pix_ulist_owner;
    case 2:
        return pix_ulist_founder;
    case 3:
        return pix_ulist_netop;
    default:
        return nullptr;
    }
}
