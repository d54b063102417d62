// The "Friends List" window: each friend's state on each network, with
// Add, Remove and Open Dialog; and the question fe_notify_ask puts.
#include "dialogs/utilwin.h"

#include "base/lumenwick.h"
#include "fe.h"
#include "lists/notify.h"
#include "net/server.h"
#include "session/session.h"
#include "support/gtk-handles.h"

#include <ctime>
#include <string>

namespace
{

enum column {
    COL_NAME,
    COL_STATUS,
    COL_NETWORK,
    COL_SEEN,
    COL_COLOUR,
    COL_SERVER, // the server of that state, or null
    COL_COUNT,
};

// Until the palette arrives, the two states keep colours of their own.
constexpr const char *ONLINE_COLOUR = "#2a8f2a";
constexpr const char *OFFLINE_COLOUR = "#8a8a8a";
// "Last Seen" counts minutes, so the texts are refreshed while open.
constexpr int REFRESH_SECONDS = 30;

struct notify_window {
    GtkWidget *window = nullptr;
    GtkListStore *store = nullptr;
    GtkWidget *view = nullptr;
    GtkWidget *remove = nullptr;
    GtkWidget *open_dialog = nullptr;
    guint timer = 0;
};
notify_window win;

std::string seen_text(time_t seen)
{
    if (!seen)
        return _("Never");
    const long minutes = static_cast<long>(time(nullptr) - seen) / 60;
    if (minutes < 60) {
        gchar *t = g_strdup_printf(_("%d minutes ago"), static_cast<int>(minutes));
        std::string out = t;
        g_free(t);
        return out;
    }
    if (minutes < 120)
        return _("An hour ago");
    gchar *t = g_strdup_printf(_("%d hours ago"), static_cast<int>(minutes / 60));
    std::string out = t;
    g_free(t);
    return out;
}

void add_row(const notify *n, const notify_per_server *st)
{
    GtkTreeIter iter;
    gtk_list_store_append(win.store, &iter);
    const bool online = st && st->online;
    std::string network;
    if (st)
        network = server_get_network(st->serv, true);
    else
        network = n->networks.empty() ? _("ALL") : n->networks;
    gtk_list_store_set(win.store, &iter, COL_NAME, n->name.c_str(), COL_STATUS, online ? _("Online") : _("Offline"),
                       COL_NETWORK, network.c_str(), COL_SEEN, seen_text(st ? st->lastseen : 0).c_str(), COL_COLOUR,
                       online ? ONLINE_COLOUR : OFFLINE_COLOUR, COL_SERVER, st ? st->serv : nullptr, -1);
}

// One row per network a friend has a state on, or one row when none yet.
void reload(void)
{
    gtk_list_store_clear(win.store);
    for (GSList *l = notify_list; l; l = l->next) {
        const auto *n = static_cast<const notify *>(l->data);
        bool any = false;
        for (const notify_per_server &st : n->statuses) {
            if (!g_slist_find(serv_list, st.serv))
                continue;
            add_row(n, &st);
            any = true;
        }
        if (!any)
            add_row(n, nullptr);
    }
}

bool selected(GtkTreeIter *iter)
{
    return gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(win.view)), nullptr, iter);
}

std::string selected_name(GtkTreeIter *iter)
{
    gchar *name = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(win.store), iter, COL_NAME, &name, -1);
    std::string out = name ? name : "";
    g_free(name);
    return out;
}

void on_selection(GtkTreeSelection *, gpointer) noexcept
{
    guarded("friends list selection", [] {
        GtkTreeIter iter;
        const bool any = selected(&iter);
        server *serv = nullptr;
        if (any)
            gtk_tree_model_get(GTK_TREE_MODEL(win.store), &iter, COL_SERVER, &serv, -1);
        gtk_widget_set_sensitive(win.remove, any);
        // A dialog needs a connection to talk through.
        gtk_widget_set_sensitive(win.open_dialog, any && serv && g_slist_find(serv_list, serv) && serv->connected);
    });
}

void on_add(GtkButton *, gpointer) noexcept
{
    guarded("friends list add", [] { fe_notify_ask(nullptr, nullptr); });
}

void on_remove(GtkButton *, gpointer) noexcept
{
    guarded("friends list remove", [] {
        GtkTreeIter iter;
        if (selected(&iter)) {
            notify_deluser(selected_name(&iter).c_str());
            notify_save();
        }
    });
}

void on_open_dialog(GtkButton *, gpointer) noexcept
{
    guarded("friends list dialog", [] {
        GtkTreeIter iter;
        server *serv = nullptr;
        if (!selected(&iter))
            return;
        gtk_tree_model_get(GTK_TREE_MODEL(win.store), &iter, COL_SERVER, &serv, -1);
        if (!serv || !g_slist_find(serv_list, serv))
            return;
        const std::string nick = selected_name(&iter);
        if (session *dialog = find_dialog(serv, nick.c_str()))
            fe_ctrl_gui(dialog, FE_GUI_FOCUS, 0);
        else
            new_ircwindow(serv, nick.c_str(), SESS_DIALOG, 1);
    });
}

gboolean on_refresh(gpointer) noexcept
{
    guarded("friends list refresh", [] { reload(); });
    return G_SOURCE_CONTINUE;
}

void on_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("friends list close", [] {
        if (win.timer)
            g_source_remove(win.timer);
        g_clear_object(&win.store);
        win = notify_window{};
    });
}

GtkWidget *build_view(void)
{
    win.store = gtk_list_store_new(COL_COUNT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                                   G_TYPE_POINTER);
    win.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(win.store));
    gtk_widget_set_name(win.view, "lumenwick-notifylist");
    const char *titles[] = {N_("Name"), N_("Status"), N_("Network"), N_("Last Seen")};
    for (int c = COL_NAME; c <= COL_SEEN; c++) {
        GtkCellRenderer *cell = gtk_cell_renderer_text_new();
        GtkTreeViewColumn *col = gtk_tree_view_column_new_with_attributes(_(titles[c]), cell, "text", c, nullptr);
        if (c == COL_STATUS)
            gtk_tree_view_column_add_attribute(col, cell, "foreground", COL_COLOUR);
        gtk_tree_view_column_set_resizable(col, TRUE);
        gtk_tree_view_append_column(GTK_TREE_VIEW(win.view), col);
    }
    g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(win.view)), "changed", G_CALLBACK(on_selection),
                     nullptr);
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), win.view);
    return scroll;
}

// ---- the question of fe_notify_ask ----------------------------------------------------

struct ask_state {
    GtkWidget *nick;
    GtkWidget *networks;
};

void on_ask_response(GtkDialog *dialog, int response, gpointer data) noexcept
{
    guarded("notify question", [&] {
        auto *st = static_cast<ask_state *>(data);
        if (response == GTK_RESPONSE_OK) {
            const std::string nick = gtk_entry_get_text(GTK_ENTRY(st->nick));
            const std::string networks = gtk_entry_get_text(GTK_ENTRY(st->networks));
            if (!nick.empty() && nick.find(' ') == std::string::npos) {
                const bool all = networks.empty() || g_ascii_strcasecmp(networks.c_str(), "ALL") == 0;
                notify_adduser(nick.c_str(), all ? nullptr : networks.c_str());
                notify_save();
            }
        }
        gtk_widget_destroy(GTK_WIDGET(dialog));
    });
}

GtkWidget *labelled_entry(GtkWidget *grid, int row, const char *label, const char *text)
{
    GtkWidget *name = gtk_label_new(label);
    gtk_widget_set_halign(name, GTK_ALIGN_START);
    GtkWidget *entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), text ? text : "");
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_widget_set_hexpand(entry, TRUE);
    gtk_grid_attach(GTK_GRID(grid), name, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), entry, 1, row, 1, 1);
    return entry;
}

} // namespace

void notify_gui_open(void)
{
    if (win.window) {
        utilwin_present(win.window);
        return;
    }
    win.window = utilwin_new(_("Friends List - %s"), "Notify", 400, 250);
    g_signal_connect(win.window, "destroy", G_CALLBACK(on_destroy), nullptr);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_add(GTK_CONTAINER(win.window), box);
    gtk_box_pack_start(GTK_BOX(box), build_view(), TRUE, TRUE, 0);
    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_SPREAD);
    utilwin_button(buttons, _("_Add..."), G_CALLBACK(on_add), nullptr);
    win.remove = utilwin_button(buttons, _("_Remove"), G_CALLBACK(on_remove), nullptr);
    win.open_dialog = utilwin_button(buttons, _("Open _Dialog"), G_CALLBACK(on_open_dialog), nullptr);
    gtk_widget_set_sensitive(win.remove, FALSE);
    gtk_widget_set_sensitive(win.open_dialog, FALSE);
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    win.timer = g_timeout_add_seconds(REFRESH_SECONDS, on_refresh, nullptr);
    reload();
    gtk_widget_show_all(win.window);
}

void fe_notify_update(char *name)
{
    if (win.window && !name)
        reload();
}

void fe_notify_ask(char *nick, char *networks)
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons(_("Add to Friends List"), nullptr, GtkDialogFlags(0), _("_Cancel"),
                                                    GTK_RESPONSE_CANCEL, _("_OK"), GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
    auto *st = new ask_state{};
    st->nick = labelled_entry(grid, 0, _("Enter nickname to add:"), nick);
    st->networks = labelled_entry(grid, 1, _("Notify on these networks:"), networks ? networks : "ALL");
    GtkWidget *note = gtk_label_new(_("Comma separated list of networks is accepted."));
    gtk_grid_attach(GTK_GRID(grid), note, 1, 2, 1, 1);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid, TRUE, TRUE, 0);
    g_signal_connect_data(
        dialog, "response", G_CALLBACK(on_ask_response), st,
        [](gpointer data, GClosure *) noexcept { delete static_cast<ask_state *>(data); }, GConnectFlags(0));
    gtk_widget_show_all(dialog);
    if (nick && *nick)
        gtk_widget_grab_focus(st->networks);
}
