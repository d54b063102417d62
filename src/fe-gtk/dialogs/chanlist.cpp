// The channel list window: downloads a server's channels with LIST, shows
// them through a list model that reads the rows of chanlist_model directly
// (tens of thousands of rows would be slow to copy into a list store), and
// filters, sorts, saves, copies and joins.
#include "dialogs/chanlist.h"
#include "dialogs/utilwin.h"

#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "dialogs/chanlist-model.h"
#include "fe.h"
#include "irc/inbound.h"
#include "mainwin/maingui.h"
#include "net/server.h"
#include "servlist/servlist.h"
#include "session/session.h"
#include "support/gtk-handles.h"

#include <glib/gi18n.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---- the list model over chanlist_model::view() ------------------------------------------

namespace
{

struct ChanlistStore {
    GObject parent;
    const chanlist_model *model;
    gint stamp;
};
struct ChanlistStoreClass {
    GObjectClass parent_class;
};

void chanlist_store_iface_init(GtkTreeModelIface *iface);

G_DEFINE_TYPE_WITH_CODE(ChanlistStore, chanlist_store, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_MODEL, chanlist_store_iface_init))

#define CHANLIST_STORE(o) (G_TYPE_CHECK_INSTANCE_CAST((o), chanlist_store_get_type(), ChanlistStore))

void chanlist_store_init(ChanlistStore *store)
{
    store->stamp = g_random_int();
}

void chanlist_store_class_init(ChanlistStoreClass *) {}

gsize store_rows(GtkTreeModel *m)
{
    const ChanlistStore *s = CHANLIST_STORE(m);
    return s->model ? s->model->view().size() : 0;
}

bool set_iter(GtkTreeModel *m, GtkTreeIter *iter, gsize index)
{
    if (index >= store_rows(m)) {
        iter->stamp = 0;
        return false;
    }
    iter->stamp = CHANLIST_STORE(m)->stamp;
    iter->user_data = GSIZE_TO_POINTER(index);
    return true;
}

gsize iter_index(GtkTreeIter *iter)
{
    return GPOINTER_TO_SIZE(iter->user_data);
}

void chanlist_store_iface_init(GtkTreeModelIface *iface)
{
    iface->get_flags = [](GtkTreeModel *) noexcept {
        return GtkTreeModelFlags(GTK_TREE_MODEL_LIST_ONLY | GTK_TREE_MODEL_ITERS_PERSIST);
    };
    iface->get_n_columns = [](GtkTreeModel *) noexcept { return 3; };
    iface->get_column_type = [](GtkTreeModel *, gint column) noexcept {
        return column == CHANLIST_COL_USERS ? G_TYPE_INT : G_TYPE_STRING;
    };
    iface->get_iter = [](GtkTreeModel *m, GtkTreeIter *iter, GtkTreePath *path) noexcept -> gboolean {
        if (gtk_tree_path_get_depth(path) != 1)
            return FALSE;
        const gint i = gtk_tree_path_get_indices(path)[0];
        return i >= 0 && set_iter(m, iter, gsize(i));
    };
    iface->get_path = [](GtkTreeModel *, GtkTreeIter *iter) noexcept {
        return gtk_tree_path_new_from_indices(gint(iter_index(iter)), -1);
    };
    iface->get_value = [](GtkTreeModel *m, GtkTreeIter *iter, gint column, GValue *value) noexcept {
        const ChanlistStore *s = CHANLIST_STORE(m);
        const gsize i = iter_index(iter);
        const chanlist_row *row = i < store_rows(m) ? s->model->view()[i] : nullptr;
        if (column == CHANLIST_COL_USERS) {
            g_value_init(value, G_TYPE_INT);
            g_value_set_int(value, row ? row->users : 0);
            return;
        }
        g_value_init(value, G_TYPE_STRING);
        if (row)
            g_value_set_string(value, column == CHANLIST_COL_CHANNEL ? row->channel.c_str() : row->topic.c_str());
    };
    iface->iter_next = [](GtkTreeModel *m, GtkTreeIter *iter) noexcept -> gboolean {
        return set_iter(m, iter, iter_index(iter) + 1);
    };
    iface->iter_children = [](GtkTreeModel *m, GtkTreeIter *iter, GtkTreeIter *parent) noexcept -> gboolean {
        return !parent && set_iter(m, iter, 0);
    };
    iface->iter_has_child = [](GtkTreeModel *, GtkTreeIter *) noexcept -> gboolean { return FALSE; };
    iface->iter_n_children = [](GtkTreeModel *m, GtkTreeIter *iter) noexcept -> gint {
        return iter ? 0 : gint(store_rows(m));
    };
    iface->iter_nth_child = [](GtkTreeModel *m, GtkTreeIter *iter, GtkTreeIter *parent, gint n) noexcept -> gboolean {
        return !parent && n >= 0 && set_iter(m, iter, gsize(n));
    };
    iface->iter_parent = [](GtkTreeModel *, GtkTreeIter *, GtkTreeIter *) noexcept -> gboolean { return FALSE; };
}

// ---- the window ----------------------------------------------------------------

struct chanlist_window {
    server *serv = nullptr;
    GtkWidget *window = nullptr;
    GtkWidget *label = nullptr;
    GtkWidget *tree = nullptr;
    GtkWidget *find_entry = nullptr;
    GtkWidget *min_spin = nullptr;
    GtkWidget *max_spin = nullptr;
    GtkWidget *name_check = nullptr;
    GtkWidget *topic_check = nullptr;
    GtkWidget *type_combo = nullptr;
    GtkWidget *download = nullptr;
    GtkWidget *save = nullptr;
    GtkWidget *join = nullptr;
    GtkTreeViewColumn *columns[3] = {};
    gobject_ptr<ChanlistStore> store;
    chanlist_model model;
    int sort_column = CHANLIST_COL_USERS;
    bool sort_descending = true;
    source_id flush_timer;
    source_id blink_timer;
    bool blink_lit = false;
    bool building = false; // spin buttons being set up: not a user change
};

chanlist_window *window_of(server *serv)
{
    auto *gui = static_cast<server_gui *>(serv->fe_record);
    if (!gui || !gui->chanlist_window)
        return nullptr;
    return static_cast<chanlist_window *>(g_object_get_data(G_OBJECT(gui->chanlist_window), "lumenwick-chanlist"));
}

void save_settings()
{
    if (!save_config())
        fe_message(_("Could not save lumenwick.conf."), FE_MSG_WARN);
}

void update_label(chanlist_window *w)
{
    gtk_label_set_text(GTK_LABEL(w->label), w->model.label().c_str());
}

// Changes the rows wholesale (a sort, a filter, a clear) with the view
// detached, so GTK does not follow each row, and shows them from scratch.
// The view must be detached before the rows change: it releases its rows by
// walking the model, which has to still hold the ones it was shown.
void rebuild(chanlist_window *w, const std::function<void()> &change)
{
    GtkTreeView *tv = GTK_TREE_VIEW(w->tree);
    gtk_tree_view_set_model(tv, nullptr);
    change();
    w->store.get()->stamp++;
    gtk_tree_view_set_model(tv, GTK_TREE_MODEL(w->store.get()));
}

void show_appended(chanlist_window *w, std::size_t count)
{
    GtkTreeModel *m = GTK_TREE_MODEL(w->store.get());
    const std::size_t end = w->model.view().size();
    for (std::size_t i = end - count; i < end; i++) {
        GtkTreePath *path = gtk_tree_path_new_from_indices(gint(i), -1);
        GtkTreeIter iter;
        set_iter(m, &iter, i);
        gtk_tree_model_row_inserted(m, path, &iter);
        gtk_tree_path_free(path);
    }
}

void flush(chanlist_window *w)
{
    if (const std::size_t n = w->model.flush())
        show_appended(w, n);
    if (w->model.take_stale())
        update_label(w);
}

void show_sort_order(chanlist_window *w)
{
    for (int c = 0; c < 3; c++) {
        gtk_tree_view_column_set_sort_indicator(w->columns[c], c == w->sort_column);
        gtk_tree_view_column_set_sort_order(w->columns[c],
                                            w->sort_descending ? GTK_SORT_DESCENDING : GTK_SORT_ASCENDING);
    }
}

void resort(chanlist_window *w)
{
    rebuild(w, [&] { w->model.sort(w->sort_column, w->sort_descending); });
    show_sort_order(w);
}

chanlist_filter_settings filter_settings(chanlist_window *w)
{
    chanlist_filter_settings f;
    f.find = gtk_entry_get_text(GTK_ENTRY(w->find_entry));
    f.type = gtk_combo_box_get_active(GTK_COMBO_BOX(w->type_combo));
    f.in_name = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w->name_check));
    f.in_topic = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w->topic_check));
    f.min_users = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(w->min_spin));
    f.max_users = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(w->max_spin));
    return f;
}

void stop_blink(chanlist_window *w)
{
    w->blink_timer.reset();
    w->blink_lit = false;
    gtk_widget_unset_state_flags(w->download, GTK_STATE_FLAG_PRELIGHT);
}

void download(chanlist_window *w, const char *list_args)
{
    server *serv = w->serv;
    if (!serv->connected) {
        fe_message(_("Not connected."), FE_MSG_ERROR);
        return;
    }
    rebuild(w, [&] {
        w->model.clear();
        w->model.set_filter(filter_settings(w));
    });
    update_label(w);
    gtk_widget_set_sensitive(w->download, FALSE);
    stop_blink(w);

    const int min = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(w->min_spin));
    const int max = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(w->max_spin));
    std::string args =
        list_args && *list_args ? std::string(list_args) : chanlist_list_args(serv->have_list_conditions, min, max);
    // Only a request that carried the minimum lets the window hint that a
    // lower one would fetch more.
    auto *gui = static_cast<server_gui *>(serv->fe_record);
    gui->chanlist_min_users = serv->have_list_conditions && args.starts_with('>') ? min : 1;
    serv->p_list_channels(serv, args.c_str(), min);
}

void search(chanlist_window *w)
{
    if (!w->model.stored()) {
        download(w, nullptr);
        return;
    }
    rebuild(w, [&] {
        w->model.set_filter(filter_settings(w));
        w->model.refilter();
    });
    update_label(w);
}

std::vector<chanlist_row *> selected_rows(chanlist_window *w)
{
    std::vector<chanlist_row *> out;
    GList *paths = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree)), nullptr);
    for (GList *l = paths; l; l = l->next) {
        const gint i = gtk_tree_path_get_indices(static_cast<GtkTreePath *>(l->data))[0];
        if (i >= 0 && gsize(i) < w->model.view().size())
            out.push_back(w->model.view()[gsize(i)]);
    }
    g_list_free_full(paths, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    return out;
}

void join_selected(chanlist_window *w)
{
    server *serv = w->serv;
    bool joined = false;
    for (chanlist_row *row : selected_rows(w)) {
        session *tab = server_tab(serv);
        if (!serv->connected || row->channel == "*" || !tab)
            continue;
        std::string cmd = "join " + row->channel;
        handle_command(tab, cmd.data(), false);
        joined = true;
    }
    if (!joined)
        gdk_display_beep(gdk_display_get_default());
}

void copy_selected(chanlist_window *w, bool topics)
{
    std::string text;
    for (chanlist_row *row : selected_rows(w)) {
        if (!text.empty())
            text += '\n';
        text += topics ? row->topic : row->channel;
    }
    gtk_clipboard_set_text(gtk_widget_get_clipboard(w->tree, GDK_SELECTION_CLIPBOARD), text.c_str(), -1);
}

struct save_request {
    server *serv;
    std::string server_name;
};

void save_answered(void *data, char *file) noexcept
{
    std::unique_ptr<save_request> req(static_cast<save_request *>(data));
    guarded("channel list save", [&] {
        if (!file || !is_server(req->serv))
            return;
        chanlist_window *w = window_of(req->serv);
        if (!w)
            return;
        int err = 0;
        if (!chanlist_save(w->model, req->server_name.c_str(), file, &err)) {
            gchar_ptr msg(g_strdup_printf(_("Could not save the channel list to %s: %s"), file, g_strerror(err)));
            fe_message(msg.get(), FE_MSG_ERROR);
        }
    });
}

void save_list(chanlist_window *w)
{
    if (w->model.view().empty())
        return;
    auto *req = new save_request{w->serv, w->serv->announced_name[0] ? w->serv->announced_name : w->serv->hostname};
    fe_get_file(_("Select an output filename"), nullptr, save_answered, req, FRF_WRITE);
}

void favourite_toggle(chanlist_window *w, const std::string &channel)
{
    ircnet *net = w->serv->network;
    if (!net)
        return;
    if (favchannel *fav = servlist_favchan_find(net, channel.c_str(), nullptr))
        servlist_favchan_remove(net, fav);
    else
        servlist_favchan_add(net, channel.c_str());
    if (!servlist_save())
        fe_message(_("Could not save the network list."), FE_MSG_WARN);
}

template <typename F> void add_item(GtkWidget *menu, const char *label, F &&action)
{
    GtkWidget *item = gtk_menu_item_new_with_mnemonic(label);
    auto *heap = new std::function<void()>(std::forward<F>(action));
    g_signal_connect_data(
        item, "activate", G_CALLBACK(+[](GtkMenuItem *, gpointer data) noexcept {
            guarded("channel list menu", [data] { (*static_cast<std::function<void()> *>(data))(); });
        }),
        heap, [](gpointer data, GClosure *) noexcept { delete static_cast<std::function<void()> *>(data); },
        GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

void popup_menu(chanlist_window *w, GdkEvent *event)
{
    std::vector<chanlist_row *> rows = selected_rows(w);
    if (rows.empty())
        return;
    GtkWidget *menu = gtk_menu_new();
    add_item(menu, _("_Join Channel"), [w] { join_selected(w); });
    add_item(menu, _("_Copy Channel Name"), [w] { copy_selected(w, false); });
    add_item(menu, _("Copy _Topic Text"), [w] { copy_selected(w, true); });
    if (ircnet *net = w->serv->network) {
        const std::string first = rows.front()->channel;
        const bool is_fav = servlist_favchan_find(net, first.c_str(), nullptr) != nullptr;
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
        add_item(menu, is_fav ? _("_Remove from Favorites") : _("_Add to Favorites"),
                 [w, first] { favourite_toggle(w, first); });
    }
    gtk_widget_show_all(menu);
    g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell *m, gpointer) noexcept {
                         // Destroyed after the activated item has run.
                         g_idle_add(
                             +[](gpointer m) noexcept -> gboolean {
                                 gtk_widget_destroy(GTK_WIDGET(m));
                                 return G_SOURCE_REMOVE;
                             },
                             m);
                     }),
                     nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
}

gboolean on_button_press(GtkWidget *tree, GdkEventButton *event, gpointer data) noexcept
{
    return guarded("channel list click", FALSE, [&]() -> gboolean {
        auto *w = static_cast<chanlist_window *>(data);
        if (event->type == GDK_2BUTTON_PRESS && event->button == 1) {
            join_selected(w);
            return TRUE;
        }
        if (event->type != GDK_BUTTON_PRESS || event->button != 3)
            return FALSE;
        GtkTreePath *path = nullptr;
        if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(tree), gint(event->x), gint(event->y), &path, nullptr, nullptr,
                                           nullptr))
            return FALSE;
        GtkTreeSelection *sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
        if (!gtk_tree_selection_path_is_selected(sel, path)) {
            gtk_tree_selection_unselect_all(sel);
            gtk_tree_selection_select_path(sel, path);
        }
        gtk_tree_path_free(path);
        popup_menu(w, reinterpret_cast<GdkEvent *>(event));
        return TRUE;
    });
}

void on_column_clicked(GtkTreeViewColumn *column, gpointer data) noexcept
{
    guarded("channel list sort", [&] {
        auto *w = static_cast<chanlist_window *>(data);
        const int c = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(column), "lumenwick-column"));
        if (c == w->sort_column)
            w->sort_descending = !w->sort_descending;
        else {
            w->sort_column = c;
            w->sort_descending = c == CHANLIST_COL_USERS;
        }
        resort(w);
    });
}

void on_count_changed(GtkSpinButton *spin, gpointer data) noexcept
{
    guarded("channel list range", [&] {
        auto *w = static_cast<chanlist_window *>(data);
        if (w->building)
            return;
        const int value = gtk_spin_button_get_value_as_int(spin);
        if (GTK_WIDGET(spin) == w->min_spin) {
            prefs.gui_chanlist_minusers = value;
            auto *gui = static_cast<server_gui *>(w->serv->fe_record);
            // A lower minimum than the last request asked for would fetch
            // more: hint at downloading again.
            if (gui && value < gui->chanlist_min_users && gtk_widget_get_sensitive(w->download)) {
                if (!w->blink_timer)
                    w->blink_timer.reset(g_timeout_add(
                        500,
                        +[](gpointer data) noexcept -> gboolean {
                            guarded("channel list blink", [data] {
                                auto *w = static_cast<chanlist_window *>(data);
                                w->blink_lit = !w->blink_lit;
                                if (w->blink_lit)
                                    gtk_widget_set_state_flags(w->download, GTK_STATE_FLAG_PRELIGHT, FALSE);
                                else
                                    gtk_widget_unset_state_flags(w->download, GTK_STATE_FLAG_PRELIGHT);
                            });
                            return G_SOURCE_CONTINUE;
                        },
                        w));
            } else {
                stop_blink(w);
            }
        } else {
            prefs.gui_chanlist_maxusers = value;
        }
        save_settings();
    });
}

void store_widths(chanlist_window *w)
{
    prefs.gui_chanlist_width_channel = std::max(1, gtk_tree_view_column_get_width(w->columns[0]));
    prefs.gui_chanlist_width_users = std::max(1, gtk_tree_view_column_get_width(w->columns[1]));
    prefs.gui_chanlist_width_topic = std::max(1, gtk_tree_view_column_get_width(w->columns[2]));
    save_settings();
}

void on_destroy(GtkWidget *, gpointer data) noexcept
{
    guarded("channel list close", [&] {
        std::unique_ptr<chanlist_window> w(static_cast<chanlist_window *>(data));
        // The children are still there while the window's own handler has
        // not run.
        store_widths(w.get());
        w->flush_timer.reset();
        w->blink_timer.reset();
        // Closed with its server (fe_server_callback cleared the record first)
        // or by the user.
        if (is_server(w->serv))
            if (auto *gui = static_cast<server_gui *>(w->serv->fe_record))
                if (gui->chanlist_window == w->window)
                    gui->chanlist_window = nullptr;
    });
}

template <typename F> void on_clicked(GtkWidget *button, chanlist_window *w, F)
{
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton *, gpointer data) noexcept {
                         guarded("channel list button", [data] { F{}(static_cast<chanlist_window *>(data)); });
                     }),
                     w);
}

GtkWidget *mnemonic_button(const char *label)
{
    return gtk_button_new_with_mnemonic(label);
}

GtkTreeViewColumn *add_column(chanlist_window *w, int c, const char *title, int width_setting)
{
    GtkCellRenderer *cell = gtk_cell_renderer_text_new();
    if (c == CHANLIST_COL_USERS)
        g_object_set(cell, "xalign", 1.0f, nullptr);
    GtkTreeViewColumn *col = gtk_tree_view_column_new_with_attributes(title, cell, "text", c, nullptr);
    // Fixed sizes let the view skip measuring every row of a large list.
    gtk_tree_view_column_set_sizing(col, GTK_TREE_VIEW_COLUMN_FIXED);
    const int fallback = c == CHANLIST_COL_CHANNEL ? 96 : c == CHANLIST_COL_USERS ? 60 : 400;
    gtk_tree_view_column_set_fixed_width(col, width_setting > 0 ? width_setting : fallback);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_clickable(col, TRUE);
    g_object_set_data(G_OBJECT(col), "lumenwick-column", GINT_TO_POINTER(c));
    g_signal_connect(col, "clicked", G_CALLBACK(on_column_clicked), w);
    gtk_tree_view_append_column(GTK_TREE_VIEW(w->tree), col);
    w->columns[c] = col;
    return col;
}

GtkWidget *spin(int value, int lower)
{
    GtkWidget *s = gtk_spin_button_new_with_range(lower, 999999, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), value);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(s), TRUE);
    return s;
}

chanlist_window *build(server *serv)
{
    auto w = std::make_unique<chanlist_window>();
    w->serv = serv;
    auto *gui = static_cast<server_gui *>(serv->fe_record);

    // Stored bounds outside their range are reset and saved; a maximum of 0
    // means "no maximum" and is kept.
    int min = gui->chanlist_min_users > 0 ? gui->chanlist_min_users : prefs.gui_chanlist_minusers;
    bool reset = false;
    if (chanlist_sane_count(min, 0) == 0) {
        min = prefs.gui_chanlist_minusers = 5;
        reset = true;
    }
    int max = prefs.gui_chanlist_maxusers;
    if (max != 0 && chanlist_sane_count(max, 0) == 0) {
        max = prefs.gui_chanlist_maxusers = 9999;
        reset = true;
    }
    if (reset)
        save_settings();

    gchar_ptr title(g_strdup_printf(_("Channel List (%s) - %s"), server_get_network(serv, true), "Lumenwick"));
    w->window = utilwin_new_titled(title.get(), "ChanList", 640, 480);
    gtk_widget_set_name(w->window, "lumenwick-chanlist");

    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 6);
    gtk_container_add(GTK_CONTAINER(w->window), vbox);

    w->label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(w->label), 0);
    gtk_box_pack_start(GTK_BOX(vbox), w->label, FALSE, FALSE, 0);

    w->store.reset(static_cast<ChanlistStore *>(g_object_new(chanlist_store_get_type(), nullptr)));
    w->store.get()->model = &w->model;
    w->tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(w->store.get()));
    gtk_tree_view_set_grid_lines(GTK_TREE_VIEW(w->tree), GTK_TREE_VIEW_GRID_LINES_BOTH);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(w->tree)), GTK_SELECTION_MULTIPLE);
    add_column(w.get(), CHANLIST_COL_CHANNEL, _("Channel"), prefs.gui_chanlist_width_channel);
    add_column(w.get(), CHANLIST_COL_USERS, _("Users"), prefs.gui_chanlist_width_users);
    add_column(w.get(), CHANLIST_COL_TOPIC, _("Topic"), prefs.gui_chanlist_width_topic);
    gtk_tree_view_set_fixed_height_mode(GTK_TREE_VIEW(w->tree), TRUE);
    g_signal_connect(w->tree, "button-press-event", G_CALLBACK(on_button_press), w.get());
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), w->tree);
    gtk_box_pack_start(GTK_BOX(vbox), scroll, TRUE, TRUE, 0);

    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_box_pack_start(GTK_BOX(vbox), grid, FALSE, FALSE, 0);
    auto caption = [](const char *text) {
        GtkWidget *l = gtk_label_new(text);
        gtk_label_set_xalign(GTK_LABEL(l), 1);
        return l;
    };

    gtk_grid_attach(GTK_GRID(grid), caption(_("Find:")), 0, 0, 1, 1);
    w->find_entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(w->find_entry), 255);
    gtk_widget_set_hexpand(w->find_entry, TRUE);
    gtk_grid_attach(GTK_GRID(grid), w->find_entry, 1, 0, 1, 1);
    g_signal_connect(w->find_entry, "activate", G_CALLBACK(+[](GtkEntry *, gpointer data) noexcept {
                         guarded("channel list find", [data] { search(static_cast<chanlist_window *>(data)); });
                     }),
                     w.get());

    gtk_grid_attach(GTK_GRID(grid), caption(_("Look in:")), 0, 1, 1, 1);
    GtkWidget *look = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    w->name_check = gtk_check_button_new_with_label(_("Channel name"));
    w->topic_check = gtk_check_button_new_with_label(_("Topic"));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w->name_check), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w->topic_check), TRUE);
    gtk_box_pack_start(GTK_BOX(look), w->name_check, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(look), w->topic_check, FALSE, FALSE, 0);
    gtk_grid_attach(GTK_GRID(grid), look, 1, 1, 1, 1);

    gtk_grid_attach(GTK_GRID(grid), caption(_("Search type:")), 0, 2, 1, 1);
    w->type_combo = gtk_combo_box_text_new();
    for (const char *t : {_("Simple Search"), _("Pattern Match (Wildcards)"), _("Regular Expression")})
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w->type_combo), t);
    gtk_combo_box_set_active(GTK_COMBO_BOX(w->type_combo), CHANLIST_SIMPLE);
    gtk_widget_set_halign(w->type_combo, GTK_ALIGN_START);
    gtk_grid_attach(GTK_GRID(grid), w->type_combo, 1, 2, 1, 1);

    gtk_grid_attach(GTK_GRID(grid), caption(_("Show only:")), 0, 3, 1, 1);
    GtkWidget *range = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    w->building = true;
    w->min_spin = spin(min, 1);
    w->max_spin = spin(max, 0);
    gtk_widget_set_tooltip_text(w->max_spin, _("0: no maximum"));
    w->building = false;
    gtk_box_pack_start(GTK_BOX(range), gtk_label_new(_("channels with")), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(range), w->min_spin, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(range), gtk_label_new(_("to")), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(range), w->max_spin, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(range), gtk_label_new(_("users.")), FALSE, FALSE, 0);
    gtk_grid_attach(GTK_GRID(grid), range, 1, 3, 1, 1);
    g_signal_connect(w->min_spin, "value-changed", G_CALLBACK(on_count_changed), w.get());
    g_signal_connect(w->max_spin, "value-changed", G_CALLBACK(on_count_changed), w.get());

    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    GtkWidget *search_button = mnemonic_button(_("_Search"));
    w->download = mnemonic_button(_("_Download List"));
    w->save = mnemonic_button(_("Save _List..."));
    w->join = mnemonic_button(_("_Join Channel"));
    for (GtkWidget *b : {search_button, w->download, w->save, w->join})
        gtk_container_add(GTK_CONTAINER(buttons), b);
    gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);
    struct do_search {
        void operator()(chanlist_window *w) const { search(w); }
    };
    struct do_download {
        void operator()(chanlist_window *w) const { download(w, nullptr); }
    };
    struct do_save {
        void operator()(chanlist_window *w) const { save_list(w); }
    };
    struct do_join {
        void operator()(chanlist_window *w) const { join_selected(w); }
    };
    on_clicked(search_button, w.get(), do_search{});
    on_clicked(w->download, w.get(), do_download{});
    on_clicked(w->save, w.get(), do_save{});
    on_clicked(w->join, w.get(), do_join{});

    w->model.set_filter(filter_settings(w.get()));
    update_label(w.get());
    w->flush_timer.reset(g_timeout_add(
        250,
        +[](gpointer data) noexcept -> gboolean {
            guarded("channel list flush", [data] { flush(static_cast<chanlist_window *>(data)); });
            return G_SOURCE_CONTINUE;
        },
        w.get()));

    chanlist_window *raw = w.release();
    g_object_set_data(G_OBJECT(raw->window), "lumenwick-chanlist", raw);
    g_signal_connect(raw->window, "destroy", G_CALLBACK(on_destroy), raw);
    gui->chanlist_window = raw->window;
    gtk_widget_show_all(raw->window);
    return raw;
}

} // namespace

void chanlist_opengui(server *serv, bool download_now, const char *list_args)
{
    if (!serv || !serv->fe_record)
        return;
    chanlist_window *w = window_of(serv);
    if (w)
        utilwin_present(w->window);
    else
        w = build(serv);
    if (download_now)
        download(w, list_args);
}

// ---- the fe_ calls -------------------------------------------------------------

void fe_open_chan_list(server *serv, char *filter, int do_refresh)
{
    chanlist_opengui(serv, do_refresh != 0, filter);
}

int fe_is_chanwindow(server *serv)
{
    return window_of(serv) != nullptr;
}

void fe_add_chan_list(server *serv, char *chan, char *users, char *topic)
{
    chanlist_window *w = window_of(serv);
    if (!w)
        return;
    if (w->model.add(chan ? chan : "", users ? users : "", topic ? topic : ""))
        show_appended(w, 1);
}

void fe_chan_list_end(server *serv)
{
    chanlist_window *w = window_of(serv);
    if (!w)
        return;
    // The rest of the queue goes in with the sort: the view is rebuilt once
    // rather than told of every row.
    rebuild(w, [&] {
        w->model.flush();
        w->model.sort(w->sort_column, w->sort_descending);
    });
    show_sort_order(w);
    update_label(w);
    gtk_widget_set_sensitive(w->download, TRUE);
}
