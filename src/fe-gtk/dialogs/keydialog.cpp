// The "Keyboard Shortcuts" window: one row per binding (key, action, two
// data fields), the action's help below, saved atomically on "Save".
#include "dialogs/keydialog.h"

#include "input/keybindings.h"
#include "support/gtk-handles.h"

#include "base/guard.h"
#include "base/lumenwick.h"

#include <glib/gi18n.h>

#include <string>
#include <vector>

namespace
{

enum { COL_KEY, COL_MODS, COL_ACTION, COL_D1, COL_D2, COL_ACCEL, N_COLS };

GtkWidget *window = nullptr;
GtkListStore *store = nullptr; // owned by the view
GtkWidget *view = nullptr;
GtkTextBuffer *help = nullptr;

void fill(const std::vector<key_binding> &bindings)
{
    gtk_list_store_clear(store);
    for (const key_binding &b : bindings) {
        GtkTreeIter it;
        gtk_list_store_append(store, &it);
        gtk_list_store_set(store, &it, COL_KEY, b.keyval, COL_MODS, static_cast<GdkModifierType>(b.mods), COL_ACTION,
                           key_action_name(b.action), COL_D1, b.data1.value_or("").c_str(), COL_D2,
                           b.data2.value_or("").c_str(), COL_ACCEL, key_accel_name(b.keyval, b.mods).c_str(), -1);
    }
}

std::vector<key_binding> collect()
{
    std::vector<key_binding> out;
    GtkTreeIter it;
    for (gboolean ok = gtk_tree_model_get_iter_first(GTK_TREE_MODEL(store), &it); ok;
         ok = gtk_tree_model_iter_next(GTK_TREE_MODEL(store), &it)) {
        guint key = 0;
        GdkModifierType mods{};
        gchar *action = nullptr, *d1 = nullptr, *d2 = nullptr;
        gtk_tree_model_get(GTK_TREE_MODEL(store), &it, COL_KEY, &key, COL_MODS, &mods, COL_ACTION, &action, COL_D1, &d1,
                           COL_D2, &d2, -1);
        gchar_ptr a(action), one(d1), two(d2);
        const int number = key_action_find(action);
        // A row without a key or an action is not saved.
        if (!key || number < 0)
            continue;
        key_binding b;
        b.keyval = key;
        b.mods = mods & KEY_MOD_MASK;
        b.action = number;
        if (d1 && *d1)
            b.data1 = d1;
        if (d2 && *d2)
            b.data2 = d2;
        out.push_back(std::move(b));
    }
    return out;
}

bool selected(GtkTreeIter *it)
{
    return gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), nullptr, it);
}

void show_help(GtkTreeSelection *, gpointer) noexcept
{
    guarded("key editor help", [] {
        GtkTreeIter it;
        const char *text = _("Select a row to get help information on its Action.");
        gchar_ptr action;
        if (selected(&it)) {
            gchar *a = nullptr;
            gtk_tree_model_get(GTK_TREE_MODEL(store), &it, COL_ACTION, &a, -1);
            action.reset(a);
            if (const char *h = key_action_help(key_action_find(a)))
                text = _(h);
        }
        gtk_text_buffer_set_text(help, text, -1);
    });
}

void accel_edited(GtkCellRendererAccel *, gchar *path, guint key, GdkModifierType mods, guint, gpointer) noexcept
{
    guarded("key editor", [&] {
        GtkTreeIter it;
        if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(store), &it, path))
            return;
        // Shift+Tab arrives as ISO_Left_Tab; bind what will arrive.
        if (key == GDK_KEY_Tab && (mods & GDK_SHIFT_MASK))
            key = GDK_KEY_ISO_Left_Tab;
        const unsigned m = mods & KEY_MOD_MASK;
        gtk_list_store_set(store, &it, COL_KEY, key, COL_MODS, static_cast<GdkModifierType>(m), COL_ACCEL,
                           key_accel_name(key, m).c_str(), -1);
    });
}

// Backspace in the key cell takes the key away; a row without one is not saved.
void accel_cleared(GtkCellRendererAccel *, gchar *path, gpointer) noexcept
{
    guarded("key editor", [&] {
        GtkTreeIter it;
        if (gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(store), &it, path))
            gtk_list_store_set(store, &it, COL_KEY, 0u, COL_MODS, GdkModifierType{}, COL_ACCEL, "", -1);
    });
}

void text_edited(GtkCellRendererText *cell, gchar *path, gchar *text, gpointer) noexcept
{
    guarded("key editor", [&] {
        GtkTreeIter it;
        if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(store), &it, path))
            return;
        const int column = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(cell), "column"));
        if (column == COL_ACTION && key_action_find(text) < 0)
            return;
        gtk_list_store_set(store, &it, column, text, -1);
        if (column == COL_ACTION)
            show_help(nullptr, nullptr);
    });
}

// Shift+Up and Shift+Down move the selected row.
gboolean view_key(GtkWidget *, GdkEventKey *event, gpointer) noexcept
{
    return guarded("key editor", FALSE, [&]() -> gboolean {
        if ((event->state & gtk_accelerator_get_default_mod_mask()) != GDK_SHIFT_MASK ||
            (event->keyval != GDK_KEY_Up && event->keyval != GDK_KEY_Down))
            return FALSE;
        GtkTreeIter it, other;
        if (!selected(&it))
            return TRUE;
        other = it;
        const bool moved = event->keyval == GDK_KEY_Up ? gtk_tree_model_iter_previous(GTK_TREE_MODEL(store), &other)
                                                       : gtk_tree_model_iter_next(GTK_TREE_MODEL(store), &other);
        if (moved)
            gtk_list_store_swap(store, &it, &other);
        GtkTreePath *path = gtk_tree_model_get_path(GTK_TREE_MODEL(store), &it);
        gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(view), path, nullptr, FALSE, 0, 0);
        gtk_tree_path_free(path);
        return TRUE;
    });
}

void on_add(GtkButton *, gpointer) noexcept
{
    guarded("key editor", [] {
        GtkTreeIter it;
        gtk_list_store_append(store, &it);
        gtk_list_store_set(store, &it, COL_KEY, 0u, COL_MODS, GdkModifierType{}, COL_ACTION, "", COL_D1, "", COL_D2, "",
                           COL_ACCEL, "", -1);
        GtkTreePath *path = gtk_tree_model_get_path(GTK_TREE_MODEL(store), &it);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(view), path, gtk_tree_view_get_column(GTK_TREE_VIEW(view), 0), TRUE);
        gtk_tree_path_free(path);
    });
}

void on_delete(GtkButton *, gpointer) noexcept
{
    guarded("key editor", [] {
        GtkTreeIter it;
        if (selected(&it))
            gtk_list_store_remove(store, &it);
    });
}

void on_reset(GtkButton *, gpointer) noexcept
{
    guarded("key editor", [] { fill(key_defaults()); });
}

void on_cancel(GtkButton *, gpointer) noexcept
{
    guarded("key editor", [] { gtk_widget_destroy(window); });
}

void on_save(GtkButton *, gpointer) noexcept
{
    guarded("key editor", [] {
        // A failed write keeps the window open so the user can try again;
        // the new bindings are in use either way.
        if (key_save(collect()))
            gtk_widget_destroy(window);
    });
}

void on_destroy(GtkWidget *, gpointer) noexcept
{
    window = nullptr;
    store = nullptr;
    view = nullptr;
    help = nullptr;
}

GtkTreeViewColumn *text_column(const char *title, int column, bool editable)
{
    GtkCellRenderer *cell = gtk_cell_renderer_text_new();
    g_object_set(cell, "editable", editable, nullptr);
    g_object_set_data(G_OBJECT(cell), "column", GINT_TO_POINTER(column));
    g_signal_connect(cell, "edited", G_CALLBACK(text_edited), nullptr);
    GtkTreeViewColumn *col = gtk_tree_view_column_new_with_attributes(title, cell, "text", column, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    return col;
}

void build()
{
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gchar_ptr title(g_strdup_printf(_("Keyboard Shortcuts - %s"), _(DISPLAY_NAME)));
    gtk_window_set_title(GTK_WINDOW(window), title.get());
    gtk_window_set_role(GTK_WINDOW(window), "lumenwick-keybindings");
    gtk_widget_set_name(window, "lumenwick-keybindings");
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 360);
    gtk_container_set_border_width(GTK_CONTAINER(window), 6);
    g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), nullptr);

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_add(GTK_CONTAINER(window), box);

    store = gtk_list_store_new(N_COLS, G_TYPE_UINT, GDK_TYPE_MODIFIER_TYPE, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                               G_TYPE_STRING);
    view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    atk_object_set_name(gtk_widget_get_accessible(view), "bindings");

    GtkCellRenderer *accel = gtk_cell_renderer_accel_new();
    g_object_set(accel, "editable", TRUE, "accel-mode", GTK_CELL_RENDERER_ACCEL_MODE_OTHER, nullptr);
    g_signal_connect(accel, "accel-edited", G_CALLBACK(accel_edited), nullptr);
    g_signal_connect(accel, "accel-cleared", G_CALLBACK(accel_cleared), nullptr);
    GtkTreeViewColumn *key_col = gtk_tree_view_column_new_with_attributes(_("Key"), accel, "accel-key", COL_KEY,
                                                                          "accel-mods", COL_MODS, nullptr);
    gtk_tree_view_column_set_resizable(key_col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), key_col);

    GtkListStore *names = gtk_list_store_new(1, G_TYPE_STRING);
    for (int i = 0; i < KEY_ACTION_COUNT; i++) {
        GtkTreeIter it;
        gtk_list_store_append(names, &it);
        gtk_list_store_set(names, &it, 0, key_action_name(i), -1);
    }
    GtkCellRenderer *combo = gtk_cell_renderer_combo_new();
    g_object_set(combo, "model", names, "text-column", 0, "has-entry", FALSE, "editable", TRUE, nullptr);
    g_object_unref(names);
    g_object_set_data(G_OBJECT(combo), "column", GINT_TO_POINTER(COL_ACTION));
    g_signal_connect(combo, "edited", G_CALLBACK(text_edited), nullptr);
    GtkTreeViewColumn *action_col =
        gtk_tree_view_column_new_with_attributes(_("Action"), combo, "text", COL_ACTION, nullptr);
    gtk_tree_view_column_set_resizable(action_col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), action_col);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), text_column(_("Data1"), COL_D1, true));
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), text_column(_("Data2"), COL_D2, true));
    GtkTreeViewColumn *hidden = text_column("Accel", COL_ACCEL, false);
    gtk_tree_view_column_set_visible(hidden, FALSE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), hidden);

    g_signal_connect(view, "key-press-event", G_CALLBACK(view_key), nullptr);
    g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), "changed", G_CALLBACK(show_help), nullptr);

    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);

    GtkWidget *help_view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(help_view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(help_view), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(help_view), GTK_WRAP_WORD);
    gtk_widget_set_size_request(help_view, -1, 60);
    help = gtk_text_view_get_buffer(GTK_TEXT_VIEW(help_view));
    gtk_box_pack_start(GTK_BOX(box), help_view, FALSE, FALSE, 0);

    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_SPREAD);
    const struct {
        const char *label;
        GCallback handler;
    } actions[] = {
        {_("_Add"), G_CALLBACK(on_add)},     {_("_Delete"), G_CALLBACK(on_delete)},
        {_("_Reset"), G_CALLBACK(on_reset)}, {_("_Cancel"), G_CALLBACK(on_cancel)},
        {_("_Save"), G_CALLBACK(on_save)},
    };
    for (const auto &a : actions) {
        GtkWidget *b = gtk_button_new_with_mnemonic(a.label);
        g_signal_connect(b, "clicked", a.handler, nullptr);
        gtk_box_pack_start(GTK_BOX(buttons), b, FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);

    fill(key_bindings());
    show_help(nullptr, nullptr);
}

} // namespace

void key_dialog_show(void)
{
    if (!window)
        build();
    gtk_widget_show_all(window);
    gtk_window_present(GTK_WINDOW(window));
}

GtkWidget *key_dialog_window(void)
{
    return window;
}
