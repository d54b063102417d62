// The "URL Grabber" window: the URLs caught in the text, newest first, with
// Clear, Copy and Save As, and a pop-up to open or copy one.
#include "dialogs/utilwin.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "output/url.h"
#include "support/gtk-handles.h"

#include <string>

namespace
{

struct url_window {
    GtkWidget *window = nullptr;
    GtkListStore *store = nullptr;
    GtkWidget *view = nullptr;
    bool disabled_shown = false; // the one row says the grabber is off
};
url_window win;

void prepend(const char *url)
{
    GtkTreeIter iter;
    gtk_list_store_prepend(win.store, &iter);
    gtk_list_store_set(win.store, &iter, 0, url, -1);
}

// Rows past the limit go, oldest (last) first.
void trim(void)
{
    if (prefs.url_grabber_limit <= 0)
        return;
    int rows = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(win.store), nullptr);
    GtkTreeIter iter;
    while (rows > prefs.url_grabber_limit &&
           gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(win.store), &iter, nullptr, rows - 1)) {
        gtk_list_store_remove(win.store, &iter);
        rows--;
    }
}

void reload(void)
{
    gtk_list_store_clear(win.store);
    win.disabled_shown = !prefs.url_grabber;
    if (win.disabled_shown) {
        prepend(_("URL Grabber is disabled."));
        return;
    }
    for (const std::string &url : url_grabbed())
        prepend(url.c_str());
    trim();
}

std::string selected_url(void)
{
    GtkTreeIter iter;
    if (win.disabled_shown ||
        !gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(win.view)), nullptr, &iter))
        return "";
    gchar *url = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(win.store), &iter, 0, &url, -1);
    std::string out = url ? url : "";
    g_free(url);
    return out;
}

void copy_text(const std::string &text)
{
    if (text.empty())
        return;
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text.c_str(), -1);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), text.c_str(), -1);
}

void on_clear(GtkButton *, gpointer) noexcept
{
    guarded("URL grabber clear", [] {
        url_clear();
        reload();
    });
}

void on_copy(GtkButton *, gpointer) noexcept
{
    guarded("URL grabber copy", [] { copy_text(selected_url()); });
}

void on_save_file(void *, char *file) noexcept
{
    guarded("URL grabber save", [&] {
        if (file && !url_save_tree(file, "w", true))
            fe_message(_("The URL list could not be saved."), FE_MSG_ERROR);
    });
}

void on_save(GtkButton *, gpointer) noexcept
{
    guarded("URL grabber save",
            [] { fe_get_file(_("Select an output filename"), nullptr, on_save_file, nullptr, FRF_WRITE); });
}

void on_open_item(GtkMenuItem *, gpointer) noexcept
{
    guarded("URL grabber open", [] {
        const std::string url = selected_url();
        if (!url.empty())
            fe_open_url(url.c_str());
    });
}

void on_copy_item(GtkMenuItem *, gpointer) noexcept
{
    guarded("URL grabber copy", [] { copy_text(selected_url()); });
}

// The short form of the URL pop-up; the full one (URL handlers, plugin
// items) belongs to the menus.
gboolean on_button_press(GtkWidget *view, GdkEventButton *event, gpointer) noexcept
{
    return guarded<gboolean>("URL grabber pop-up", FALSE, [&]() -> gboolean {
        if (event->type != GDK_BUTTON_PRESS || event->button != 3 || win.disabled_shown)
            return FALSE;
        GtkTreePath *path = nullptr;
        if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(view), static_cast<int>(event->x), static_cast<int>(event->y),
                                           &path, nullptr, nullptr, nullptr))
            return FALSE;
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), path);
        gtk_tree_path_free(path);
        GtkWidget *menu = gtk_menu_new();
        const std::string url = selected_url();
        GtkWidget *header = gtk_menu_item_new_with_label(url.c_str());
        gtk_widget_set_sensitive(header, FALSE);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), header);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
        GtkWidget *open = gtk_menu_item_new_with_mnemonic(_("Open Link in Browser"));
        g_signal_connect(open, "activate", G_CALLBACK(on_open_item), nullptr);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), open);
        GtkWidget *copy = gtk_menu_item_new_with_mnemonic(_("Copy Selected Link"));
        g_signal_connect(copy, "activate", G_CALLBACK(on_copy_item), nullptr);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), copy);
        gtk_widget_show_all(menu);
        g_signal_connect(menu, "deactivate", G_CALLBACK(gtk_widget_destroy), nullptr);
        gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent *>(event));
        return TRUE;
    });
}

void on_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("URL grabber close", [] {
        g_clear_object(&win.store);
        win = url_window{};
    });
}

} // namespace

void url_gui_open(void)
{
    if (win.window) {
        utilwin_present(win.window);
        return;
    }
    win.window = utilwin_new(_("URL Grabber - %s"), "UrlGrabber", 400, 256);
    g_signal_connect(win.window, "destroy", G_CALLBACK(on_destroy), nullptr);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_add(GTK_CONTAINER(win.window), box);

    win.store = gtk_list_store_new(1, G_TYPE_STRING);
    win.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(win.store));
    gtk_widget_set_name(win.view, "lumenwick-urlgrabber");
    GtkTreeViewColumn *col =
        gtk_tree_view_column_new_with_attributes(_("URL"), gtk_cell_renderer_text_new(), "text", 0, nullptr);
    gtk_tree_view_append_column(GTK_TREE_VIEW(win.view), col);
    g_signal_connect(win.view, "button-press-event", G_CALLBACK(on_button_press), nullptr);
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), win.view);
    gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);

    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_SPREAD);
    gtk_widget_set_tooltip_text(utilwin_button(buttons, _("_Clear"), G_CALLBACK(on_clear), nullptr), _("Clear list"));
    gtk_widget_set_tooltip_text(utilwin_button(buttons, _("C_opy"), G_CALLBACK(on_copy), nullptr),
                                _("Copy selected URL"));
    gtk_widget_set_tooltip_text(utilwin_button(buttons, _("Save _As..."), G_CALLBACK(on_save), nullptr),
                                _("Save list to a file"));
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    reload();
    gtk_widget_show_all(win.window);
}

void fe_url_add(const char *url)
{
    if (!win.window || !url)
        return;
    if (win.disabled_shown) {
        reload();
        return;
    }
    prepend(url);
    trim();
}
