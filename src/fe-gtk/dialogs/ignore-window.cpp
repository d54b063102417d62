// The "Ignore list" window: every ignore entry with a check box per kind,
// the counters of what was dropped, and Add, Delete and Clear.
#include "dialogs/utilwin.h"

#include "base/lumenwick.h"
#include "fe.h"
#include "lists/ignore.h"
#include "support/gtk-handles.h"

#include <string>

namespace
{

enum column {
    COL_MASK,
    COL_CHAN,
    COL_PRIV,
    COL_NOTICE,
    COL_CTCP,
    COL_DCC,
    COL_INVITE,
    COL_UNIGNORE,
    COL_COUNT,
};

// The type bit behind each check box column.
constexpr unsigned int column_bits[COL_COUNT] = {0, IG_CHAN, IG_PRIV, IG_NOTI, IG_CTCP, IG_DCC, IG_INVI, IG_UNIG};
// Everything but the exception: what "Add..." ignores.
constexpr int ADD_TYPES = IG_PRIV | IG_NOTI | IG_CHAN | IG_CTCP | IG_INVI | IG_DCC;

struct ignore_window {
    GtkWidget *window = nullptr;
    GtkListStore *store = nullptr;
    GtkWidget *view = nullptr;
    GtkWidget *stats[5] = {}; // channel, private, notice, CTCP, invite
    bool editing = false;     // our own ignore_add is running: the row is already right
};
ignore_window win;

void fill_row(GtkTreeIter *iter, const ignore *ig)
{
    gtk_list_store_set(win.store, iter, COL_MASK, ig->mask, -1);
    for (int c = COL_CHAN; c < COL_COUNT; c++)
        gtk_list_store_set(win.store, iter, c, (ig->type & column_bits[c]) != 0, -1);
}

void reload(void)
{
    gtk_list_store_clear(win.store);
    for (GSList *l = ignore_list; l; l = l->next) {
        GtkTreeIter iter;
        gtk_list_store_append(win.store, &iter);
        fill_row(&iter, static_cast<ignore *>(l->data));
    }
}

void update_stats(void)
{
    const int values[5] = {ignored_chan, ignored_priv, ignored_noti, ignored_ctcp, ignored_invi};
    for (int i = 0; i < 5; i++) {
        const std::string text = std::to_string(values[i]);
        gtk_label_set_text(GTK_LABEL(win.stats[i]), text.c_str());
    }
}

std::string row_mask(GtkTreeIter *iter)
{
    gchar *mask = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(win.store), iter, COL_MASK, &mask, -1);
    std::string out = mask ? mask : "";
    g_free(mask);
    return out;
}

unsigned int row_type(GtkTreeIter *iter)
{
    unsigned int type = 0;
    for (int c = COL_CHAN; c < COL_COUNT; c++) {
        gboolean on = FALSE;
        gtk_tree_model_get(GTK_TREE_MODEL(win.store), iter, c, &on, -1);
        if (on)
            type |= column_bits[c];
    }
    // A hidden NOSAVE bit stays as it was.
    if (const ignore *ig = ignore_exists(row_mask(iter).c_str()))
        type |= ig->type & IG_NOSAVE;
    return type;
}

void on_toggled(GtkCellRendererToggle *cell, gchar *path, gpointer data) noexcept
{
    guarded("ignore list toggle", [&] {
        const int col = GPOINTER_TO_INT(data);
        GtkTreeIter iter;
        if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(win.store), &iter, path))
            return;
        gtk_list_store_set(win.store, &iter, col, !gtk_cell_renderer_toggle_get_active(cell), -1);
        win.editing = true;
        const int result = ignore_add(row_mask(&iter).c_str(), static_cast<int>(row_type(&iter)), true);
        win.editing = false;
        if (result != 2)
            g_warning("ignore treeview is out of sync!\n");
    });
}

void on_mask_edited(GtkCellRendererText *, gchar *path, gchar *text, gpointer) noexcept
{
    guarded("ignore list edit", [&] {
        GtkTreeIter iter;
        if (!text || !*text || !gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(win.store), &iter, path))
            return;
        const std::string old = row_mask(&iter);
        if (old == text)
            return;
        // Another spelling of the same mask changes it; a different mask
        // must not fold two entries into one.
        if (ignore_exists(text) && ignore_exists(text) != ignore_exists(old.c_str())) {
            fe_message(_("That mask already exists."), FE_MSG_ERROR);
            return;
        }
        const int type = static_cast<int>(row_type(&iter));
        win.editing = true;
        ignore_del(old.c_str(), nullptr);
        ignore_add(text, type, true);
        win.editing = false;
        gtk_list_store_set(win.store, &iter, COL_MASK, text, -1);
    });
}

void select_mask(const char *mask)
{
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(GTK_TREE_MODEL(win.store), &iter); ok;
         ok = gtk_tree_model_iter_next(GTK_TREE_MODEL(win.store), &iter)) {
        if (row_mask(&iter) == mask) {
            gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(win.view)), &iter);
            return;
        }
    }
}

void on_add_answer(int cancelled, char *text, void *) noexcept
{
    guarded("ignore list add", [&] {
        if (cancelled || !text || !*text)
            return;
        if (ignore_exists(text)) {
            fe_message(_("That mask already exists."), FE_MSG_ERROR);
            return;
        }
        ignore_add(text, ADD_TYPES, true);
        if (win.window)
            select_mask(text);
    });
}

void on_add(GtkButton *, gpointer) noexcept
{
    guarded("ignore list add", [] {
        std::string prompt = _("Enter mask to ignore:");
        std::string example = "nick!userid@host.com";
        fe_get_str(prompt.data(), example.data(), on_add_answer, nullptr);
    });
}

void on_delete(GtkButton *, gpointer) noexcept
{
    guarded("ignore list delete", [] {
        GtkTreeIter iter;
        if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(win.view)), nullptr, &iter))
            return;
        ignore_del(row_mask(&iter).c_str(), nullptr);
    });
}

void clear_all(void *) noexcept
{
    guarded("ignore list clear", [] { ignore_clear(); });
}

void on_clear(GtkButton *, gpointer) noexcept
{
    guarded("ignore list clear",
            [] { fe_confirm(_("Are you sure you want to remove all ignores?"), clear_all, nullptr, nullptr); });
}

void on_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("ignore list close", [] {
        ignore_save();
        g_clear_object(&win.store);
        win = ignore_window{};
    });
}

GtkWidget *build_view(void)
{
    win.store = gtk_list_store_new(COL_COUNT, G_TYPE_STRING, G_TYPE_BOOLEAN, G_TYPE_BOOLEAN, G_TYPE_BOOLEAN,
                                   G_TYPE_BOOLEAN, G_TYPE_BOOLEAN, G_TYPE_BOOLEAN, G_TYPE_BOOLEAN);
    win.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(win.store));
    gtk_widget_set_name(win.view, "lumenwick-ignorelist");

    GtkCellRenderer *text = gtk_cell_renderer_text_new();
    g_object_set(text, "editable", TRUE, nullptr);
    g_signal_connect(text, "edited", G_CALLBACK(on_mask_edited), nullptr);
    GtkTreeViewColumn *mask = gtk_tree_view_column_new_with_attributes(_("Mask"), text, "text", COL_MASK, nullptr);
    gtk_tree_view_column_set_expand(mask, TRUE);
    gtk_tree_view_column_set_resizable(mask, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(win.view), mask);

    const char *titles[COL_COUNT] = {nullptr,    N_("Channel"), N_("Private"), N_("Notice"),
                                     N_("CTCP"), N_("DCC"),     N_("Invite"),  N_("Unignore")};
    for (int c = COL_CHAN; c < COL_COUNT; c++) {
        GtkCellRenderer *toggle = gtk_cell_renderer_toggle_new();
        g_signal_connect(toggle, "toggled", G_CALLBACK(on_toggled), GINT_TO_POINTER(c));
        GtkTreeViewColumn *col = gtk_tree_view_column_new_with_attributes(_(titles[c]), toggle, "active", c, nullptr);
        gtk_tree_view_append_column(GTK_TREE_VIEW(win.view), col);
    }
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), win.view);
    return scroll;
}

GtkWidget *build_stats(void)
{
    GtkWidget *frame = gtk_frame_new(_("Ignore Stats:"));
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 6);
    const char *names[5] = {N_("Channel:"), N_("Private:"), N_("Notice:"), N_("CTCP:"), N_("Invite:")};
    for (int i = 0; i < 5; i++) {
        GtkWidget *name = gtk_label_new(_(names[i]));
        win.stats[i] = gtk_label_new("0");
        gtk_widget_set_halign(win.stats[i], GTK_ALIGN_START);
        gtk_grid_attach(GTK_GRID(grid), name, i * 2, 0, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), win.stats[i], i * 2 + 1, 0, 1, 1);
        gtk_widget_set_hexpand(win.stats[i], TRUE);
    }
    gtk_container_add(GTK_CONTAINER(frame), grid);
    return frame;
}

} // namespace

void ignore_gui_open(void)
{
    if (win.window) {
        utilwin_present(win.window);
        return;
    }
    win.window = utilwin_new(_("Ignore list - %s"), "IgnoreList", 700, 300);
    g_signal_connect(win.window, "destroy", G_CALLBACK(on_destroy), nullptr);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_add(GTK_CONTAINER(win.window), box);
    gtk_box_pack_start(GTK_BOX(box), build_view(), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), build_stats(), FALSE, FALSE, 0);
    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_SPREAD);
    utilwin_button(buttons, _("_Add..."), G_CALLBACK(on_add), nullptr);
    utilwin_button(buttons, _("_Delete"), G_CALLBACK(on_delete), nullptr);
    utilwin_button(buttons, _("_Clear"), G_CALLBACK(on_clear), nullptr);
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    reload();
    update_stats();
    gtk_widget_show_all(win.window);
}

void fe_ignore_update(int level)
{
    if (!win.window)
        return;
    if (level == 2)
        update_stats();
    else if (!win.editing)
        reload();
}
