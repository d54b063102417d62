// The "Plugins and Scripts" window, a utility tab or window by gui_tab_utils.
#include "dialogs/plugingui.h"
#include "dialogs/utilwin.h"

#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "plugins/plugin.h"
#include "session/session.h"
#include "support/gtk-handles.h"

#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

namespace
{

enum { COL_NAME, COL_VERSION, COL_FILE, COL_DESC, N_COLUMNS };

constexpr int WINDOW_WIDTH = 700;
constexpr int WINDOW_HEIGHT = 300;
// Shared libraries and the scripts the scripting plugins take.
constexpr const char *const PATTERNS[] = {"*.so", "*.lua", "*.pl", "*.py", "*.tcl", "*.js"};

struct plugin_window {
    GtkWidget *window = nullptr;
    GtkListStore *store = nullptr; // owned by the view
    GtkWidget *view = nullptr;
    session *sess = nullptr;
};
plugin_window win;

// The tab a command from the window runs in; null when there is none.
session *command_session(void)
{
    if (is_session(win.sess))
        return win.sess;
    if (is_session(current_sess))
        return current_sess;
    return nullptr;
}

void run_command(const char *verb, const std::string &file, const char *no_session_message)
{
    session *sess = command_session();
    if (!sess) {
        fe_message(no_session_message, FE_MSG_ERROR);
        return;
    }
    // A path with a blank is quoted as one argument.
    std::string line = std::string(verb) + " ";
    line += file.find(' ') != std::string::npos ? "\"" + file + "\"" : file;
    handle_command(sess, line.data(), false);
}

std::string selected_file(void)
{
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(win.view));
    if (!gtk_tree_selection_get_selected(selection, &model, &iter))
        return "";
    gchar *file = nullptr;
    gtk_tree_model_get(model, &iter, COL_FILE, &file, -1);
    std::string out = file ? file : "";
    g_free(file);
    return out;
}

void on_unload(GtkButton *, gpointer) noexcept
{
    guarded("plugin unload", [] {
        const std::string file = selected_file();
        if (!file.empty())
            run_command("UNLOAD", file, _("No active session available for addon command."));
    });
}

void on_reload(GtkButton *, gpointer) noexcept
{
    guarded("plugin reload", [] {
        const std::string file = selected_file();
        if (!file.empty())
            run_command("RELOAD", file, _("No active session available for addon command."));
    });
}

void on_file_chosen(GtkDialog *dialog, int response, gpointer) noexcept
{
    guarded("plugin file", [&] {
        gchar_ptr file;
        if (response == GTK_RESPONSE_ACCEPT)
            file.reset(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog)));
        gtk_widget_destroy(GTK_WIDGET(dialog));
        if (!file)
            return;
        std::string error;
        const std::string addons = std::string(get_xdir()) + "/addons";
        const std::string target = plugingui_place_in_addons(file.get(), addons, &error);
        if (target.empty()) {
            fe_message(error.c_str(), FE_MSG_ERROR);
            return;
        }
        run_command("LOAD", target, _("No active session available for loading addons."));
    });
}

void on_load(GtkButton *, gpointer) noexcept
{
    guarded("plugin load", [] {
        GtkWidget *dialog = gtk_file_chooser_dialog_new(
            _("Select a Plugin or Script to load"), utilwin_parent(win.window), GTK_FILE_CHOOSER_ACTION_OPEN,
            _("_Cancel"), GTK_RESPONSE_CANCEL, _("_Open"), GTK_RESPONSE_ACCEPT, nullptr);
        const std::string addons = std::string(get_xdir()) + "/addons";
        g_mkdir_with_parents(addons.c_str(), 0700);
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), addons.c_str());
        GtkFileFilter *filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, "*.so;*.lua;*.pl;*.py;*.tcl;*.js");
        for (const char *pattern : PATTERNS)
            gtk_file_filter_add_pattern(filter, pattern);
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
        g_signal_connect(dialog, "response", G_CALLBACK(on_file_chosen), nullptr);
        gtk_widget_show(dialog);
    });
}

void on_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("plugin window", [] { win = plugin_window{}; });
}

void add_column(const char *title, int column)
{
    GtkCellRenderer *renderer = gtk_cell_renderer_text_new();
    GtkTreeViewColumn *col = gtk_tree_view_column_new_with_attributes(title, renderer, "text", column, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(win.view), col);
}

GtkWidget *button(const char *label, GCallback handler)
{
    GtkWidget *b = gtk_button_new_with_mnemonic(label);
    g_signal_connect(b, "clicked", handler, nullptr);
    return b;
}

} // namespace

std::string plugingui_place_in_addons(const std::string &file, const std::string &addons, std::string *error)
{
    gchar_ptr dir(g_path_get_dirname(file.c_str()));
    gchar_ptr real_dir(realpath(dir.get(), nullptr));
    gchar_ptr real_addons(realpath(addons.c_str(), nullptr));
    if (real_dir && real_addons && strcmp(real_dir.get(), real_addons.get()) == 0)
        return file;
    if (g_mkdir_with_parents(addons.c_str(), 0700) != 0) {
        *error = std::string(_("Cannot create the addons folder: ")) + g_strerror(errno);
        return "";
    }
    gchar_ptr base(g_path_get_basename(file.c_str()));
    const std::string target = addons + "/" + base.get();
    gobject_ptr<GFile> from = take_ref(g_file_new_for_path(file.c_str()));
    gobject_ptr<GFile> to = take_ref(g_file_new_for_path(target.c_str()));
    GError *err = nullptr;
    if (!g_file_copy(from.get(), to.get(), G_FILE_COPY_OVERWRITE, nullptr, nullptr, nullptr, &err)) {
        *error = err ? err->message : _("The file could not be copied.");
        g_clear_error(&err);
        return "";
    }
    return target;
}

void plugingui_refresh(void)
{
    if (!win.window)
        return;
    gtk_list_store_clear(win.store);
    for (const plugin_info &row : plugin_list_rows()) {
        GtkTreeIter iter;
        gtk_list_store_append(win.store, &iter);
        gtk_list_store_set(win.store, &iter, COL_NAME, row.name.c_str(), COL_VERSION, row.version.c_str(), COL_FILE,
                           row.filename.c_str(), COL_DESC, row.desc.c_str(), -1);
    }
}

void plugingui_open(session *sess)
{
    win.sess = sess;
    if (win.window) {
        utilwin_present(win.window);
        return;
    }
    win.window = utilwin_new(_("Plugins and Scripts - %s"), "Addons", WINDOW_WIDTH, WINDOW_HEIGHT);
    gtk_widget_set_name(win.window, "lumenwick-addons");
    GtkWindow *parent = main_window();
    if (parent && !utilwin_is_tab(win.window))
        gtk_window_set_transient_for(GTK_WINDOW(win.window), parent);

    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 4);
    gtk_container_add(GTK_CONTAINER(win.window), vbox);

    win.store = gtk_list_store_new(N_COLUMNS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
    win.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(win.store));
    g_object_unref(win.store); // the view holds it
    add_column(_("Name"), COL_NAME);
    add_column(_("Version"), COL_VERSION);
    add_column(_("File"), COL_FILE);
    add_column(_("Description"), COL_DESC);
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroll), win.view);
    gtk_box_pack_start(GTK_BOX(vbox), scroll, TRUE, TRUE, 0);

    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_SPREAD);
    gtk_container_add(GTK_CONTAINER(buttons), button(_("_Load..."), G_CALLBACK(on_load)));
    gtk_container_add(GTK_CONTAINER(buttons), button(_("_Unload"), G_CALLBACK(on_unload)));
    gtk_container_add(GTK_CONTAINER(buttons), button(_("_Reload"), G_CALLBACK(on_reload)));
    gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);

    g_signal_connect(win.window, "destroy", G_CALLBACK(on_destroy), nullptr);
    plugingui_refresh();
    gtk_widget_show_all(win.window);
}
