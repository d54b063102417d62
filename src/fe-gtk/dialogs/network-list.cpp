// The network list window (fe_serverlist_open): the global identity, the
// networks of the server list with their favourite and auto-connect marks,
// and Connect. One window at most; the editor of a network is
// network-editor.cpp.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dialogs/network-editor.h"
#include "fe-common/netlist.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "net/server.h"
#include "servlist/servlist.h"
#include "session/lumenwick.h"
#include "session/session.h"
#include "support/dialog-helpers.h"
#include "support/gtk-handles.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <string>

namespace
{

enum { COL_NAME, COL_EDITABLE, COL_WEIGHT, COL_NET, N_COLUMNS };

// Which identity entry a problem concerns (as servlist_identity_problem counts).
enum { FIELD_NICK1 = 1, FIELD_NICK2 = 2, FIELD_USER = 3 };

struct netlist_window {
    session *opened_from = nullptr; // checked with is_session before use
    GtkWidget *window = nullptr;
    GtkWidget *nick[3] = {};
    GtkWidget *user = nullptr;
    GtkListStore *store = nullptr; // owned by the view
    GtkWidget *view = nullptr;
    GtkCellRenderer *name_cell = nullptr;
    GtkWidget *connect_button = nullptr;
    GtkWidget *remove_button = nullptr;
    GtkWidget *edit_button = nullptr;
    GtkWidget *favor_button = nullptr;
    GtkWidget *skip_check = nullptr;
    GtkWidget *fav_check = nullptr;
    int last_nick_edited = FIELD_NICK2; // where "two unique nicks" is shown
    bool connecting = false;            // closed by Connect, not by the user
    bool filling = false;               // the store is being refilled
};

netlist_window *win = nullptr;
// The size the user gave the window, kept while the program runs.
int remembered_width = 0, remembered_height = 0;

GtkWindow *list_gtk_window()
{
    return win ? GTK_WINDOW(win->window) : nullptr;
}

// ---- identity ------------------------------------------------------------------------

netlist_identity identity_from_entries()
{
    netlist_identity id;
    id.nick1 = gtk_entry_get_text(GTK_ENTRY(win->nick[0]));
    id.nick2 = gtk_entry_get_text(GTK_ENTRY(win->nick[1]));
    id.nick3 = gtk_entry_get_text(GTK_ENTRY(win->nick[2]));
    id.user_name = gtk_entry_get_text(GTK_ENTRY(win->user));
    return id;
}

void mark_entry(GtkWidget *entry, const char *problem)
{
    gtk_entry_set_icon_from_icon_name(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY, problem ? "dialog-error" : nullptr);
    gtk_entry_set_icon_tooltip_text(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY, problem);
}

// Connect is possible only with a valid identity and a chosen network; the
// entry at fault carries an error icon with the reason as its tooltip.
void update_validation()
{
    const netlist_identity id = identity_from_entries();
    int field = 0;
    const char *problem = servlist_identity_problem(id.nick1.c_str(), id.nick2.c_str(), id.user_name.c_str(), &field);
    // Two equal nicks: the entry being typed in is the one to fix.
    if (problem && field == FIELD_NICK2 && !id.nick1.empty() && !id.nick2.empty())
        field = win->last_nick_edited;
    mark_entry(win->nick[0], field == FIELD_NICK1 ? problem : nullptr);
    mark_entry(win->nick[1], field == FIELD_NICK2 ? problem : nullptr);
    mark_entry(win->user, field == FIELD_USER ? problem : nullptr);

    const bool selected =
        gtk_tree_selection_count_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(win->view))) > 0;
    gtk_widget_set_sensitive(win->connect_button, !problem && selected);
    gtk_widget_set_sensitive(win->remove_button, selected);
    gtk_widget_set_sensitive(win->edit_button, selected);
    gtk_widget_set_sensitive(win->favor_button, selected);
}

// Stores a valid identity in the settings and saves the server list and the
// configuration; an invalid one is left unsaved. The list window is about to
// close whenever this runs, so a warning goes over the main window.
void save_identity()
{
    const netlist_identity id = identity_from_entries();
    if (!netlist_identity_savable(id))
        return;
    netlist_identity_store(id);
    servlist_save();
    if (!save_config())
        netlist_message(main_window(), GTK_MESSAGE_WARNING, _("Could not save lumenwick.conf."));
}

// ---- the list ---------------------------------------------------------------------------

ircnet *net_at(GtkTreeIter *iter)
{
    gpointer net = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(win->store), iter, COL_NET, &net, -1);
    return static_cast<ircnet *>(net);
}

void fill_list(const ircnet *keep = nullptr);

ircnet *selected_net(GtkTreeIter *iter_out = nullptr)
{
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(win->view)), nullptr, &iter))
        return nullptr;
    ircnet *net = net_at(&iter);
    // A command may have removed the network while the window was open.
    if (!g_slist_find(network_list, net)) {
        fill_list();
        return nullptr;
    }
    if (iter_out)
        *iter_out = iter;
    return net;
}

void select_position(int pos)
{
    GtkTreeIter iter;
    if (pos < 0 || !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(win->store), &iter, nullptr, pos))
        return;
    GtkTreePath *path = gtk_tree_model_get_path(GTK_TREE_MODEL(win->store), &iter);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(win->view)), path);
    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(win->view), path, nullptr, FALSE, 0, 0);
    gtk_tree_path_free(path);
}

int position_of(const ircnet *net)
{
    GtkTreeIter iter;
    int pos = 0;
    for (gboolean ok = gtk_tree_model_get_iter_first(GTK_TREE_MODEL(win->store), &iter); ok;
         ok = gtk_tree_model_iter_next(GTK_TREE_MODEL(win->store), &iter), ++pos) {
        if (net_at(&iter) == net)
            return pos;
    }
    return -1;
}

// Refills the view from the server list and selects `keep` (when listed),
// else the remembered position.
void fill_list(const ircnet *keep)
{
    win->filling = true;
    gtk_list_store_clear(win->store);
    for (const netlist_row &row : netlist_rows(network_list, prefs.gui_slist_fav)) {
        gtk_list_store_insert_with_values(win->store, nullptr, -1, COL_NAME, row.net->name ? row.net->name : "",
                                          COL_EDITABLE, TRUE, COL_WEIGHT, row.weight, COL_NET, row.net, -1);
    }
    win->filling = false;
    const int pos = keep ? position_of(keep) : -1;
    select_position(pos >= 0 ? pos : prefs.gui_slist_select);
    update_validation();
}

// An empty list gets one network to start from.
ircnet *add_new_network(bool prepend)
{
    ircnet *net = servlist_net_add(_("New Network"), prepend);
    g_free(net->charset);
    net->charset = g_strdup(SERVLIST_DEFAULT_CHARSET);
    servlist_server_add(net, "newserver/6697");
    return net;
}

void on_selection_changed(GtkTreeSelection *selection, gpointer) noexcept
{
    guarded("network list", [selection] {
        if (!win || win->filling)
            return;
        GtkTreeModel *model = nullptr;
        GList *rows = gtk_tree_selection_get_selected_rows(selection, &model);
        if (rows)
            prefs.gui_slist_select = gtk_tree_path_get_indices(static_cast<GtkTreePath *>(rows->data))[0];
        g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
        update_validation();
    });
}

void on_name_edited(GtkCellRendererText *, gchar *path_text, gchar *new_text, gpointer) noexcept
{
    guarded("network list", [&] {
        GtkTreeIter iter;
        if (!win || !gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(win->store), &iter, path_text))
            return;
        ircnet *net = net_at(&iter);
        gchar_ptr name(g_strstrip(g_strdup(new_text)));
        if (!*name) {
            // An emptied name removes the network.
            const int pos = position_of(net);
            servlist_net_remove(net);
            if (!network_list)
                add_new_network(false);
            servlist_save();
            fill_list();
            select_position(pos > 0 ? pos - 1 : 0);
            return;
        }
        if (g_strcmp0(net->name, name.get()) == 0)
            return;
        error_ptr error;
        if (!servlist_net_rename(net, name.get(), error.out())) {
            netlist_message(list_gtk_window(), GTK_MESSAGE_ERROR, _("Could not rename the network."),
                            error ? error->message : nullptr);
            return;
        }
        gtk_list_store_set(win->store, &iter, COL_NAME, net->name, -1);
        servlist_save();
    });
}

// Starts editing the name of the row of `net`.
void edit_name_of(ircnet *net)
{
    const int pos = position_of(net);
    if (pos < 0)
        return;
    GtkTreePath *path = gtk_tree_path_new_from_indices(pos, -1);
    gtk_widget_grab_focus(win->view);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(win->view), path, gtk_tree_view_get_column(GTK_TREE_VIEW(win->view), 0),
                             TRUE);
    gtk_tree_path_free(path);
}

// ---- buttons ------------------------------------------------------------------------------

void on_add(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] {
        ircnet *net = add_new_network(true);
        servlist_save();
        // Shown first even while only favourites are listed, so its name
        // can be typed at once.
        win->filling = true;
        gtk_list_store_insert_with_values(win->store, nullptr, 0, COL_NAME, net->name, COL_EDITABLE, TRUE, COL_WEIGHT,
                                          NETLIST_WEIGHT_NORMAL, COL_NET, net, -1);
        win->filling = false;
        select_position(0);
        edit_name_of(net);
    });
}

struct remove_question {
    ircnet *net;
};

void on_remove_answer(GtkDialog *dialog, gint response, gpointer data) noexcept
{
    auto *q = static_cast<remove_question *>(data);
    guarded("network list", [&] {
        // The network may have gone meanwhile (a command removed it).
        if (response != GTK_RESPONSE_OK || !win || !g_slist_find(network_list, q->net))
            return;
        const int pos = position_of(q->net);
        servlist_net_remove(q->net);
        if (!network_list)
            add_new_network(false);
        servlist_save();
        fill_list();
        select_position(pos > 0 ? pos - 1 : 0);
    });
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

void on_remove(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] {
        ircnet *net = selected_net();
        if (!net)
            return;
        GtkWidget *dialog = gtk_message_dialog_new(
            list_gtk_window(), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_MESSAGE_QUESTION,
            GTK_BUTTONS_OK_CANCEL, _("Really remove network \"%s\" and all its servers?"), net->name ? net->name : "");
        connect_response(dialog, new remove_question{net}, on_remove_answer);
        gtk_widget_show_all(dialog);
    });
}

void open_editor()
{
    ircnet *net = selected_net();
    if (!net || netedit_is_open())
        return;
    netedit_open(list_gtk_window(), net, [net] {
        if (win)
            fill_list(g_slist_find(network_list, net) ? net : nullptr);
    });
}

void on_edit(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] { open_editor(); });
}

void on_sort(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] {
        ircnet *keep = selected_net();
        servlist_sort();
        servlist_save();
        fill_list(keep);
    });
}

void on_favor(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] {
        ircnet *net = selected_net();
        if (!net)
            return;
        net->flags ^= NET_FAVORITE;
        servlist_save();
        fill_list(net);
    });
}

gboolean on_list_key(GtkWidget *, GdkEventKey *event, gpointer) noexcept
{
    return guarded<gboolean>("network list", FALSE, [event]() -> gboolean {
        if (!(event->state & GDK_SHIFT_MASK) || (event->keyval != GDK_KEY_Up && event->keyval != GDK_KEY_Down))
            return FALSE;
        // Positions among favourites only are not positions in the list.
        ircnet *net = selected_net();
        if (!net || prefs.gui_slist_fav)
            return TRUE;
        if (servlist_net_move(net, event->keyval == GDK_KEY_Up ? -1 : 1)) {
            servlist_save();
            fill_list(net);
        }
        return TRUE;
    });
}

void on_skip_toggled(GtkToggleButton *button, gpointer) noexcept
{
    guarded("network list", [button] { prefs.gui_slist_skip = gtk_toggle_button_get_active(button); });
}

void on_fav_toggled(GtkToggleButton *button, gpointer) noexcept
{
    guarded("network list", [button] {
        ircnet *keep = selected_net();
        prefs.gui_slist_fav = gtk_toggle_button_get_active(button);
        fill_list(keep);
    });
}

void on_identity_changed(GtkEditable *editable, gpointer) noexcept
{
    guarded("network list", [editable] {
        if (!win)
            return;
        if (GTK_WIDGET(editable) == win->nick[0])
            win->last_nick_edited = FIELD_NICK1;
        else if (GTK_WIDGET(editable) == win->nick[1])
            win->last_nick_edited = FIELD_NICK2;
        update_validation();
    });
}

void close_window()
{
    gtk_widget_destroy(win->window);
}

void connect_selected()
{
    ircnet *net = selected_net();
    if (!net)
        return;
    const netlist_identity id = identity_from_entries();
    int field = 0;
    if (servlist_identity_problem(id.nick1.c_str(), id.nick2.c_str(), id.user_name.c_str(), &field)) {
        if (field == FIELD_USER)
            netlist_message(list_gtk_window(), GTK_MESSAGE_ERROR, _("User name cannot be left blank."));
        return;
    }
    save_identity();
    session *from = win->opened_from && is_session(win->opened_from) ? win->opened_from : nullptr;
    session *sess = servlist_session_for_connect(net, from);
    win->connecting = true;
    close_window();
    servlist_connect(sess, net, true);
}

void on_connect(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] { connect_selected(); });
}

void on_row_activated(GtkTreeView *, GtkTreePath *, GtkTreeViewColumn *, gpointer) noexcept
{
    guarded("network list", [] {
        if (gtk_widget_get_sensitive(win->connect_button))
            connect_selected();
    });
}

void on_close(GtkButton *, gpointer) noexcept
{
    guarded("network list", [] { close_window(); });
}

gboolean on_delete(GtkWidget *, GdkEvent *, gpointer) noexcept
{
    // The editor is modal: the list does not go away under it.
    return netedit_is_open();
}

void on_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("network list", [] {
        if (!win)
            return;
        netlist_window *closing = win;
        gtk_window_get_size(GTK_WINDOW(closing->window), &remembered_width, &remembered_height);
        const bool by_user = !closing->connecting;
        if (by_user)
            save_identity();
        win = nullptr;
        delete closing;
        // Without a session nothing else is on screen: closing ends the program.
        if (by_user && !sess_list && !lumenwick_is_quitting)
            lumenwick_exit();
    });
}

// ---- building -------------------------------------------------------------------------------

GtkWidget *framed(const char *title, GtkWidget *child)
{
    GtkWidget *frame = gtk_frame_new(nullptr);
    GtkWidget *label = gtk_label_new(nullptr);
    gchar_ptr markup(g_markup_printf_escaped("<b>%s</b>", title));
    gtk_label_set_markup(GTK_LABEL(label), markup.get());
    gtk_frame_set_label_widget(GTK_FRAME(frame), label);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_NONE);
    gtk_widget_set_margin_start(child, 12);
    gtk_widget_set_margin_top(child, 4);
    gtk_container_add(GTK_CONTAINER(frame), child);
    return frame;
}

GtkWidget *identity_entry(GtkWidget *grid, int row, const char *label_text, const char *value, int max_len,
                          const char *name)
{
    GtkWidget *label = gtk_label_new_with_mnemonic(label_text);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    GtkWidget *entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), max_len);
    gtk_entry_set_text(GTK_ENTRY(entry), value);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_widget_set_hexpand(entry, TRUE);
    gtk_widget_set_name(entry, name);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), entry, 1, row, 1, 1);
    g_signal_connect(entry, "changed", G_CALLBACK(on_identity_changed), nullptr);
    return entry;
}

GtkWidget *side_button(GtkWidget *box, const char *label, const char *name, GCallback handler)
{
    GtkWidget *button = gtk_button_new_with_mnemonic(label);
    gtk_widget_set_name(button, name);
    g_signal_connect(button, "clicked", handler, nullptr);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    return button;
}

GtkWidget *build_identity()
{
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    // Nicks are 63 bytes at most in the settings; characters are counted
    // here, and the store cuts a long multi-byte nick safely.
    win->nick[0] = identity_entry(grid, 0, _("_Nick name:"), prefs.irc_nick1, 63, "lumenwick-netlist-nick1");
    win->nick[1] = identity_entry(grid, 1, _("Second choice:"), prefs.irc_nick2, 63, "lumenwick-netlist-nick2");
    win->nick[2] = identity_entry(grid, 2, _("Third choice:"), prefs.irc_nick3, 63, "lumenwick-netlist-nick3");
    win->user = identity_entry(grid, 3, _("_User name:"), prefs.irc_user_name, 126, "lumenwick-netlist-user");
    return framed(_("User Information"), grid);
}

GtkWidget *build_networks()
{
    win->store = gtk_list_store_new(N_COLUMNS, G_TYPE_STRING, G_TYPE_BOOLEAN, G_TYPE_INT, G_TYPE_POINTER);
    win->view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(win->store));
    g_object_unref(win->store);
    gtk_widget_set_name(win->view, "lumenwick-netlist-view");
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(win->view), FALSE);
    gtk_tree_view_set_search_column(GTK_TREE_VIEW(win->view), COL_NAME);
    win->name_cell = gtk_cell_renderer_text_new();
    g_signal_connect(win->name_cell, "edited", G_CALLBACK(on_name_edited), nullptr);
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(win->view), -1, _("Networks"), win->name_cell, "text",
                                                COL_NAME, "editable", COL_EDITABLE, "weight", COL_WEIGHT, nullptr);
    GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(win->view));
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_BROWSE);
    g_signal_connect(selection, "changed", G_CALLBACK(on_selection_changed), nullptr);
    g_signal_connect(win->view, "key-press-event", G_CALLBACK(on_list_key), nullptr);
    g_signal_connect(win->view, "row-activated", G_CALLBACK(on_row_activated), nullptr);

    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_widget_set_hexpand(scroll, TRUE);
    gtk_widget_set_vexpand(scroll, TRUE);
    gtk_container_add(GTK_CONTAINER(scroll), win->view);

    GtkWidget *buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    side_button(buttons, _("_Add"), "lumenwick-netlist-add", G_CALLBACK(on_add));
    win->remove_button = side_button(buttons, _("_Remove"), "lumenwick-netlist-remove", G_CALLBACK(on_remove));
    win->edit_button = side_button(buttons, _("_Edit..."), "lumenwick-netlist-edit", G_CALLBACK(on_edit));
    side_button(buttons, _("_Sort"), "lumenwick-netlist-sort", G_CALLBACK(on_sort));
    win->favor_button = side_button(buttons, _("_Favor"), "lumenwick-netlist-favor", G_CALLBACK(on_favor));

    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(row), scroll, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), buttons, FALSE, FALSE, 0);

    win->skip_check = gtk_check_button_new_with_label(_("Skip network list on startup"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(win->skip_check), prefs.gui_slist_skip);
    g_signal_connect(win->skip_check, "toggled", G_CALLBACK(on_skip_toggled), nullptr);
    win->fav_check = gtk_check_button_new_with_label(_("Show favorites only"));
    gtk_widget_set_name(win->fav_check, "lumenwick-netlist-favonly");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(win->fav_check), prefs.gui_slist_fav);
    g_signal_connect(win->fav_check, "toggled", G_CALLBACK(on_fav_toggled), nullptr);
    GtkWidget *checks = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_box_pack_start(GTK_BOX(checks), win->skip_check, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(checks), win->fav_check, FALSE, FALSE, 0);

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_pack_start(GTK_BOX(box), row, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), checks, FALSE, FALSE, 0);
    return framed(_("Networks"), box);
}

GtkWidget *build_bottom()
{
    GtkWidget *bar = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(bar), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(bar), 6);
    GtkWidget *close = gtk_button_new_with_mnemonic(_("_Close"));
    gtk_widget_set_name(close, "lumenwick-netlist-close");
    g_signal_connect(close, "clicked", G_CALLBACK(on_close), nullptr);
    win->connect_button = gtk_button_new_with_mnemonic(_("C_onnect"));
    gtk_widget_set_name(win->connect_button, "lumenwick-netlist-connect");
    gtk_widget_set_can_default(win->connect_button, TRUE);
    g_signal_connect(win->connect_button, "clicked", G_CALLBACK(on_connect), nullptr);
    gtk_container_add(GTK_CONTAINER(bar), close);
    gtk_container_add(GTK_CONTAINER(bar), win->connect_button);
    return bar;
}

} // namespace

void fe_serverlist_open(session *sess)
{
    if (win) {
        win->opened_from = sess;
        gtk_window_present(GTK_WINDOW(win->window));
        return;
    }
    win = new netlist_window;
    win->opened_from = sess;
    if (!network_list) {
        add_new_network(false);
        prefs.gui_slist_select = 0;
    }

    win->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gchar_ptr title(g_strdup_printf(_("Network List - %s"), DISPLAY_NAME));
    gtk_window_set_title(GTK_WINDOW(win->window), title.get());
    gtk_window_set_role(GTK_WINDOW(win->window), "servlist");
    gtk_widget_set_name(win->window, "lumenwick-networklist");
    gtk_window_set_position(GTK_WINDOW(win->window), GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(win->window), remembered_width > 0 ? remembered_width : 420,
                                remembered_height > 0 ? remembered_height : 520);

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_container_set_border_width(GTK_CONTAINER(box), 10);
    gtk_box_pack_start(GTK_BOX(box), build_identity(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), build_networks(), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), build_bottom(), FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(win->window), box);

    g_signal_connect(win->window, "delete-event", G_CALLBACK(on_delete), nullptr);
    g_signal_connect(win->window, "destroy", G_CALLBACK(on_destroy), nullptr);

    fill_list();
    gtk_widget_show_all(win->window);
    gtk_widget_grab_default(win->connect_button);
    gtk_widget_grab_focus(win->view);
}
