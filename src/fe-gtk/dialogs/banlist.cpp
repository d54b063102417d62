// The ban list window of a channel: bans, exceptions, invites and quiets,
// fetched with mode queries, removable by an operator.
#include "dialogs/banlist.h"
#include "dialogs/utilwin.h"

#include "commands/outbound.h"
#include "dialogs/banlist-model.h"
#include "fe.h"
#include "irc/modes.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "session/session.h"
#include "support/dialog-helpers.h"
#include "support/gtk-handles.h"

#include <glib/gi18n.h>
#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

enum { COL_TYPE, COL_MASK, COL_FROM, COL_DATE, COL_DATE_KEY, COL_TYPE_INDEX, N_COLS };

struct banlist_window {
    session *sess = nullptr;
    GtkWidget *window = nullptr;
    GtkWidget *tree = nullptr;
    GtkListStore *store = nullptr; // owned by the tree view
    GtkWidget *checks[BANLIST_TYPES] = {};
    GtkWidget *remove = nullptr, *crop = nullptr, *clear = nullptr, *refresh = nullptr;
    banlist_availability avail{};
    unsigned selected_types = 1u; // Bans only at first
    unsigned pending = 0;
    int rows = 0;
    bool updating = false; // check boxes set by the window, not the user
};

// One window per channel session.
std::map<session *, banlist_window *> &windows()
{
    static std::map<session *, banlist_window *> all;
    return all;
}

banlist_window *window_of(session *sess)
{
    auto it = windows().find(sess);
    return it == windows().end() ? nullptr : it->second;
}

bool is_op(banlist_window *w)
{
    const User *me = userlist_find(w->sess, w->sess->server->nick);
    return me && (me->op || me->hop);
}

int selected_count(banlist_window *w)
{
    return gtk_tree_selection_count_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree)));
}

void update_buttons(banlist_window *w)
{
    const bool op = is_op(w);
    const banlist_buttons b =
        banlist_sensitivity(w->avail, op, w->rows, selected_count(w), w->pending, w->selected_types);
    w->updating = true;
    for (int i = 0; i < BANLIST_TYPES; i++) {
        if (!w->checks[i])
            continue;
        const bool allowed = b.allowed & (1u << i);
        gtk_widget_set_sensitive(w->checks[i], allowed);
        if (!allowed) {
            w->selected_types &= ~(1u << i);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w->checks[i]), FALSE);
        }
    }
    w->updating = false;
    gtk_widget_set_sensitive(w->remove, b.remove);
    gtk_widget_set_sensitive(w->crop, b.crop);
    gtk_widget_set_sensitive(w->clear, b.clear);
    // Refresh follows the selected types after the disallowed ones were dropped.
    gtk_widget_set_sensitive(w->refresh, w->pending == 0 && (w->selected_types & b.allowed) != 0);
}

void fetch(banlist_window *w)
{
    update_buttons(w);
    server *serv = w->sess->server;
    if (!serv->connected) {
        fe_message(_("Not connected."), FE_MSG_ERROR);
        return;
    }
    gchar_ptr title(g_strdup_printf(_("Ban List (%s, %s) - %s"), w->sess->channel,
                                    serv->announced_name[0] ? serv->announced_name : serv->hostname, "Lumenwick"));
    utilwin_set_title(w->window, title.get());
    gtk_list_store_clear(w->store);
    w->rows = 0;
    w->pending = w->selected_types;
    for (int i = 0; i < BANLIST_TYPES; i++) {
        if (!(w->pending & (1u << i)))
            continue;
        gchar_ptr cmd(g_strdup_printf("quote mode %s +%c", w->sess->channel, banlist_types[i].letter));
        handle_command(w->sess, cmd.get(), false);
    }
    update_buttons(w);
}

// Sends one removal per type for the selected rows; false when none is selected.
bool remove_selected(banlist_window *w)
{
    std::vector<std::string> masks[BANLIST_TYPES];
    GtkTreeModel *model = GTK_TREE_MODEL(w->store);
    GList *paths = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree)), nullptr);
    for (GList *l = paths; l; l = l->next) {
        GtkTreeIter iter;
        if (!gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath *>(l->data)))
            continue;
        gchar *mask = nullptr;
        gint type = -1;
        gtk_tree_model_get(model, &iter, COL_MASK, &mask, COL_TYPE_INDEX, &type, -1);
        if (type >= 0 && type < BANLIST_TYPES && mask)
            masks[type].push_back(mask);
        g_free(mask);
    }
    g_list_free_full(paths, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));

    bool any = false;
    for (int i = 0; i < BANLIST_TYPES; i++) {
        if (masks[i].empty())
            continue;
        std::vector<char *> words;
        for (std::string &m : masks[i])
            words.push_back(m.data());
        send_channel_modes(w->sess, words.data(), 0, int(words.size()), '-', banlist_types[i].letter, 0);
        any = true;
    }
    if (!any) {
        fe_message(_("You must select some bans."), FE_MSG_ERROR);
        return false;
    }
    fetch(w);
    return true;
}

void crop(banlist_window *w)
{
    GtkTreeSelection *sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree));
    if (!gtk_tree_selection_count_selected_rows(sel)) {
        fe_message(_("You must select some bans."), FE_MSG_ERROR);
        return;
    }
    GtkTreeModel *model = GTK_TREE_MODEL(w->store);
    GtkTreeIter iter;
    std::vector<GtkTreeIter> was;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter))
        if (!gtk_tree_selection_iter_is_selected(sel, &iter))
            was.push_back(iter);
    gtk_tree_selection_unselect_all(sel);
    for (GtkTreeIter &it : was)
        gtk_tree_selection_select_iter(sel, &it);
    remove_selected(w);
}

void clear_all(banlist_window *w)
{
    session *sess = w->sess;
    gchar_ptr text(g_strdup_printf(_("Are you sure you want to remove all listed items in %s?"), sess->channel));
    GtkWidget *dialog = gtk_message_dialog_new(utilwin_parent(w->window), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                               GTK_BUTTONS_OK_CANCEL, "%s", text.get());
    const int answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // The window may have closed with its session while the question was up.
    if (answer != GTK_RESPONSE_OK || window_of(sess) != w)
        return;
    gtk_tree_selection_select_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree)));
    remove_selected(w);
}

gint date_order(GtkTreeModel *model, GtkTreeIter *a, GtkTreeIter *b, gpointer) noexcept
{
    gint64 ka = 0, kb = 0;
    gtk_tree_model_get(model, a, COL_DATE_KEY, &ka, -1);
    gtk_tree_model_get(model, b, COL_DATE_KEY, &kb, -1);
    return ka < kb ? -1 : ka > kb;
}

void copy_text(banlist_window *w, const std::string &text)
{
    if (!text.empty())
        gtk_clipboard_set_text(gtk_widget_get_clipboard(w->tree, GDK_SELECTION_CLIPBOARD), text.c_str(), -1);
}

gboolean on_button_press(GtkWidget *tree, GdkEventButton *event, gpointer data) noexcept
{
    return guarded("ban list click", FALSE, [&]() -> gboolean {
        auto *w = static_cast<banlist_window *>(data);
        if (event->type != GDK_BUTTON_PRESS || event->button != 3)
            return FALSE;
        GtkTreePath *path = nullptr;
        if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(tree), gint(event->x), gint(event->y), &path, nullptr, nullptr,
                                           nullptr))
            return FALSE;
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(tree), path, nullptr, FALSE);
        GtkTreeIter iter;
        const bool found = gtk_tree_model_get_iter(GTK_TREE_MODEL(w->store), &iter, path);
        gtk_tree_path_free(path);
        if (!found)
            return TRUE;
        gchar *mask = nullptr, *from = nullptr, *date = nullptr;
        gtk_tree_model_get(GTK_TREE_MODEL(w->store), &iter, COL_MASK, &mask, COL_FROM, &from, COL_DATE, &date, -1);
        const std::string m = mask ? mask : "";
        gchar_ptr entry(g_strdup_printf(_("%s on %s by %s"), m.c_str(), date ? date : "", from ? from : ""));
        const std::string e = m.empty() ? std::string() : std::string(entry.get());
        g_free(mask);
        g_free(from);
        g_free(date);

        GtkWidget *menu = gtk_menu_new();
        auto add = [&](const char *label, std::string text) {
            GtkWidget *item = gtk_menu_item_new_with_label(label);
            g_object_set_data_full(G_OBJECT(item), "lumenwick-text", g_strdup(text.c_str()), g_free);
            g_signal_connect(
                item, "activate", G_CALLBACK(+[](GtkMenuItem *item, gpointer data) noexcept {
                    guarded("ban list copy", [&] {
                        copy_text(static_cast<banlist_window *>(data),
                                  static_cast<const char *>(g_object_get_data(G_OBJECT(item), "lumenwick-text")));
                    });
                }),
                w);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        };
        add(_("Copy mask"), m);
        add(_("Copy entry"), e);
        gtk_widget_show_all(menu);
        g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell *m, gpointer) noexcept {
                             g_idle_add(
                                 +[](gpointer m) noexcept -> gboolean {
                                     gtk_widget_destroy(GTK_WIDGET(m));
                                     return G_SOURCE_REMOVE;
                                 },
                                 m);
                         }),
                         nullptr);
        gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent *>(event));
        return TRUE;
    });
}

template <void (*Action)(banlist_window *)> void connect_button(GtkWidget *button, banlist_window *w)
{
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton *, gpointer data) noexcept {
                         guarded("ban list button", [data] { Action(static_cast<banlist_window *>(data)); });
                     }),
                     w);
}

void do_remove(banlist_window *w)
{
    remove_selected(w);
}

void on_destroy(GtkWidget *, gpointer data) noexcept
{
    guarded("ban list close", [&] {
        std::unique_ptr<banlist_window> w(static_cast<banlist_window *>(data));
        auto it = windows().find(w->sess);
        if (it != windows().end() && it->second == w.get())
            windows().erase(it);
    });
}

banlist_window *build(session *sess)
{
    auto w = std::make_unique<banlist_window>();
    w->sess = sess;
    server *serv = sess->server;
    w->avail = banlist_available(serv->chanmodes, serv->have_excepts, serv->have_invex);

    gchar_ptr title(g_strdup_printf(_("Ban List (%s) - %s"),
                                    serv->announced_name[0] ? serv->announced_name : serv->hostname, "Lumenwick"));
    w->window = utilwin_new_titled(title.get(), "BanList", 700, 300);
    gtk_widget_set_name(w->window, "lumenwick-banlist");

    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 6);
    gtk_container_add(GTK_CONTAINER(w->window), vbox);

    w->store = gtk_list_store_new(N_COLS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT64,
                                  G_TYPE_INT);
    gtk_tree_sortable_set_sort_func(GTK_TREE_SORTABLE(w->store), COL_DATE, date_order, nullptr, nullptr);
    // Newest first.
    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(w->store), COL_DATE, GTK_SORT_DESCENDING);
    w->tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(w->store));
    g_object_unref(w->store);
    const char *titles[] = {_("Type"), _("Mask"), _("From"), _("Date")};
    for (int c = COL_TYPE; c <= COL_DATE; c++) {
        GtkTreeViewColumn *col =
            gtk_tree_view_column_new_with_attributes(titles[c], gtk_cell_renderer_text_new(), "text", c, nullptr);
        gtk_tree_view_column_set_sort_column_id(col, c);
        gtk_tree_view_column_set_resizable(col, TRUE);
        gtk_tree_view_append_column(GTK_TREE_VIEW(w->tree), col);
    }
    GtkTreeSelection *sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree));
    gtk_tree_selection_set_mode(sel, GTK_SELECTION_MULTIPLE);
    g_signal_connect(sel, "changed", G_CALLBACK(+[](GtkTreeSelection *, gpointer data) noexcept {
                         guarded("ban list selection", [data] { update_buttons(static_cast<banlist_window *>(data)); });
                     }),
                     w.get());
    g_signal_connect(w->tree, "button-press-event", G_CALLBACK(on_button_press), w.get());
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), w->tree);
    gtk_box_pack_start(GTK_BOX(vbox), scroll, TRUE, TRUE, 0);

    // A box only for the types this server has at all.
    GtkWidget *checks = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    for (int i = 0; i < BANLIST_TYPES; i++) {
        if (!(w->avail.op & (1u << i)))
            continue;
        w->checks[i] = gtk_check_button_new_with_label(_(banlist_types[i].plural));
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w->checks[i]), w->selected_types & (1u << i));
        g_object_set_data(G_OBJECT(w->checks[i]), "lumenwick-type", GINT_TO_POINTER(i));
        g_signal_connect(w->checks[i], "toggled", G_CALLBACK(+[](GtkToggleButton *b, gpointer data) noexcept {
                             guarded("ban list type", [&] {
                                 auto *w = static_cast<banlist_window *>(data);
                                 if (w->updating)
                                     return;
                                 const unsigned bit =
                                     1u << GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "lumenwick-type"));
                                 if (gtk_toggle_button_get_active(b))
                                     w->selected_types |= bit;
                                 else
                                     w->selected_types &= ~bit;
                                 update_buttons(w);
                             });
                         }),
                         w.get());
        gtk_box_pack_start(GTK_BOX(checks), w->checks[i], FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(vbox), checks, FALSE, FALSE, 0);

    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    w->remove = gtk_button_new_with_mnemonic(_("Remove"));
    w->crop = gtk_button_new_with_mnemonic(_("Crop"));
    w->clear = gtk_button_new_with_mnemonic(_("Clear"));
    w->refresh = gtk_button_new_with_mnemonic(_("Refresh"));
    for (GtkWidget *b : {w->remove, w->crop, w->clear, w->refresh})
        gtk_container_add(GTK_CONTAINER(buttons), b);
    gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);
    connect_button<do_remove>(w->remove, w.get());
    connect_button<crop>(w->crop, w.get());
    connect_button<clear_all>(w->clear, w.get());
    connect_button<fetch>(w->refresh, w.get());

    banlist_window *raw = w.release();
    windows()[sess] = raw;
    g_signal_connect(raw->window, "destroy", G_CALLBACK(on_destroy), raw);
    gtk_widget_show_all(raw->window);
    return raw;
}

} // namespace

void banlist_opengui(session *sess)
{
    if (!sess || sess->type != SESS_CHANNEL || !sess->channel[0]) {
        fe_message(_("You can only open the Ban List window while in a channel tab."), FE_MSG_ERROR);
        return;
    }
    if (banlist_window *w = window_of(sess)) {
        utilwin_present(w->window);
        return;
    }
    fetch(build(sess));
}

void banlist_session_gone(session *sess) noexcept
{
    if (banlist_window *w = window_of(sess)) {
        windows().erase(sess);
        gtk_widget_destroy(w->window);
    }
}

gboolean fe_add_ban_list(session *sess, char *mask, char *who, char *when, int rplcode)
{
    banlist_window *w = window_of(sess);
    const int type = banlist_type_of(rplcode);
    if (!w || type < 0 || !(w->pending & (1u << type)) || rplcode != banlist_types[type].entry_numeric)
        return FALSE;
    GtkTreeIter iter;
    gtk_list_store_insert_with_values(w->store, &iter, -1, COL_TYPE, _(banlist_types[type].singular), COL_MASK,
                                      mask ? mask : "", COL_FROM, who ? who : "", COL_DATE, when ? when : "",
                                      COL_DATE_KEY, gint64(banlist_date_key(when)), COL_TYPE_INDEX, type, -1);
    w->rows++;
    return TRUE;
}

gboolean fe_ban_list_end(session *sess, int rplcode)
{
    banlist_window *w = window_of(sess);
    const int type = banlist_type_of(rplcode);
    if (!w || type < 0 || !(w->pending & (1u << type)) || rplcode != banlist_types[type].end_numeric)
        return FALSE;
    w->pending &= ~(1u << type);
    if (!w->pending)
        update_buttons(w);
    return TRUE;
}
