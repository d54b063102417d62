// The "Plugins and Scripts" window in-process on a real display (run through
// with-xvfb.sh), with the real core: the example plugin, built by the test
// with cc, is picked with Load... from a folder outside "addons", copied in,
// loaded, listed, and unloaded again from the window.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dialogs/plugingui.h"
#include "fe.h"
#include "gui_main.h"
#include "gui_support.h"
#include "mainwin/maingui.h"
#include "session/session.h"
#include "textview/gtkxtext.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// The first descendant of `root` for which `match` holds.
GtkWidget *find_child(GtkWidget *root, const std::function<bool(GtkWidget *)> &match)
{
    if (match(root))
        return root;
    if (!GTK_IS_CONTAINER(root))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        found = find_child(GTK_WIDGET(l->data), match);
    g_list_free(children);
    return found;
}

GtkWidget *find_button(GtkWidget *root, const char *label)
{
    return find_child(root, [&](GtkWidget *w) {
        return GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), label) == 0;
    });
}

struct listed {
    std::string name, version, file, desc;
};

std::vector<listed> rows(GtkWidget *view)
{
    std::vector<listed> out;
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar *cols[4] = {};
        gtk_tree_model_get(model, &iter, 0, &cols[0], 1, &cols[1], 2, &cols[2], 3, &cols[3], -1);
        out.push_back({cols[0], cols[1], cols[2], cols[3]});
        for (gchar *c : cols)
            g_free(c);
    }
    return out;
}

const listed *row_named(const std::vector<listed> &all, const std::string &name)
{
    for (const listed &r : all)
        if (r.name == name)
            return &r;
    return nullptr;
}

bool build_example(const fs::path &out, std::string *log)
{
    const fs::path include = out.parent_path() / "include";
    fs::create_directories(include);
    fs::copy_file(LUMENWICK_PLUGIN_HEADER, include / "lumenwick-plugin.h", fs::copy_options::overwrite_existing);
    const std::string cmd = "cc -shared -fPIC -I'" + include.string() + "' -o '" + out.string() + "' '" +
                            LUMENWICK_EXAMPLE_SOURCE + "' 2>&1";
    gchar *output = nullptr;
    gint status = 0;
    const gchar *argv[] = {"sh", "-c", cmd.c_str(), nullptr};
    const bool ran = g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                  &output, nullptr, &status, nullptr);
    *log = output ? output : "";
    g_free(output);
    return ran && g_spawn_check_wait_status(status, nullptr);
}

std::string buffer_text(session *sess)
{
    return gtk_xtext_buffer_model(tab_of(sess)->buffer).save_text();
}

TEST(PluginsWindow, LoadCopiesAPluginFromOutsideIntoAddonsListsItAndUnloads)
{
    logged_problems = 0;
    const fs::path outside = fs::path(get_xdir()).parent_path() / (fs::path(get_xdir()).filename().string() + "-home");
    fs::create_directories(outside);
    std::string log;
    ASSERT_TRUE(build_example(outside / "hello.so", &log)) << log;

    session *sess = new_ircwindow(nullptr, "server", SESS_SERVER, 1);
    plugingui_open(sess);
    GtkWidget *window = nullptr;
    ASSERT_TRUE(pump_until([&] { return (window = find_shown_titled("Plugins and Scripts - Lumenwick")) != nullptr; }));
    GtkWidget *view = find_child(window, [](GtkWidget *w) { return GTK_IS_TREE_VIEW(w); });
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(row_named(rows(view), "Hello"), nullptr);

    gtk_button_clicked(GTK_BUTTON(find_button(window, "_Load...")));
    GtkWidget *chooser = nullptr;
    ASSERT_TRUE(
        pump_until([&] { return (chooser = find_shown_titled("Select a Plugin or Script to load")) != nullptr; }));
    // It opens in the addons folder.
    const std::string addons = std::string(get_xdir()) + "/addons";
    EXPECT_TRUE(pump_until([&] {
        gchar *folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
        const bool same = g_strcmp0(folder, addons.c_str()) == 0;
        g_free(folder);
        return same;
    }));
    const std::string picked = (outside / "hello.so").string();
    ASSERT_TRUE(gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(chooser), picked.c_str()));
    ASSERT_TRUE(pump_until([&] {
        gchar *now = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        const bool same = g_strcmp0(now, picked.c_str()) == 0;
        g_free(now);
        return same;
    }));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);

    // The copy in addons is what is loaded; the original stays where it was.
    const std::string copy = std::string(get_xdir()) + "/addons/hello.so";
    ASSERT_TRUE(pump_until([&] { return row_named(rows(view), "Hello") != nullptr; })) << buffer_text(sess);
    const listed hello = *row_named(rows(view), "Hello");
    EXPECT_EQ(hello.version, "1.0");
    EXPECT_EQ(hello.file, copy);
    EXPECT_EQ(hello.desc, "Says hello and counts channel messages");
    EXPECT_TRUE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(outside / "hello.so"));
    EXPECT_NE(buffer_text(sess).find("Hello plugin loaded"), std::string::npos);

    // Unload acts on the selected row.
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    GtkTreeIter iter;
    bool selected = false;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok && !selected;
         ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar *name = nullptr;
        gtk_tree_model_get(model, &iter, 0, &name, -1);
        if (g_strcmp0(name, "Hello") == 0) {
            gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), &iter);
            selected = true;
        }
        g_free(name);
    }
    ASSERT_TRUE(selected);
    gtk_button_clicked(GTK_BUTTON(find_button(window, "_Unload")));
    EXPECT_TRUE(pump_until([&] { return row_named(rows(view), "Hello") == nullptr; }));

    gtk_widget_destroy(window);
    EXPECT_EQ(logged_problems, 0) << "GLib logged warnings or criticals";
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv, [](const char *) { make_config_dirs(); });
}
