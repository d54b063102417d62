// The ignore, friends and URL grabber windows in-process on a real display
// (run through with-xvfb.sh), with the real core behind them; the ignore
// window is clicked with xdotool. Any GLib warning or critical fails a test.
#include "config/cfgfiles.h"
#include "dialogs/utilwin.h"
#include "fe.h"
#include "gui_main.h"
#include "gui_support.h"
#include "lists/ignore.h"
#include "lists/notify.h"
#include "output/url.h"
#include "session/lumenwick.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{

GtkWidget *find_named(GtkWidget *w, const char *name)
{
    if (g_strcmp0(gtk_widget_get_name(w), name) == 0)
        return w;
    if (!GTK_IS_CONTAINER(w))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(w));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        found = find_named(GTK_WIDGET(l->data), name);
    g_list_free(children);
    return found;
}

std::vector<std::string> column_texts(GtkWidget *view, int column)
{
    std::vector<std::string> out;
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar *text = nullptr;
        gtk_tree_model_get(model, &iter, column, &text, -1);
        out.emplace_back(text ? text : "");
        g_free(text);
    }
    return out;
}

class UtilityWindows : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        logged_problems = 0;
        ignore_clear();
        while (notify_list)
            notify_deluser(static_cast<notify *>(notify_list->data)->name.c_str());
        url_clear();
    }
    void TearDown() override { EXPECT_EQ(logged_problems, 0) << "GLib logged warnings or criticals"; }
};

// The screen position of the centre of a cell of the first row.
bool cell_on_screen(GtkWidget *view, int column, int *x, int *y)
{
    GtkTreePath *path = gtk_tree_path_new_first();
    GdkRectangle rect;
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(view), path, gtk_tree_view_get_column(GTK_TREE_VIEW(view), column),
                                &rect);
    gtk_tree_path_free(path);
    int wx, wy, tx, ty, ox, oy;
    gtk_tree_view_convert_bin_window_to_widget_coords(GTK_TREE_VIEW(view), rect.x + rect.width / 2,
                                                      rect.y + rect.height / 2, &wx, &wy);
    GtkWidget *top = gtk_widget_get_toplevel(view);
    if (!gtk_widget_translate_coordinates(view, top, wx, wy, &tx, &ty))
        return false;
    gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
    *x = ox + tx;
    *y = oy + ty;
    return rect.width > 0;
}

TEST_F(UtilityWindows, TickingDccChangesTheEntryWithoutASecondOne)
{
    ASSERT_EQ(ignore_add("pest!*@*", IG_PRIV | IG_NOSAVE, true), 1);
    ignore_gui_open();
    GtkWidget *window = find_shown_titled("Ignore list - Lumenwick");
    ASSERT_NE(window, nullptr);
    GtkWidget *view = find_named(window, "lumenwick-ignorelist");
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(view) && gtk_widget_get_allocated_height(view) > 20; }));
    pump_until([] { return false; }, 300); // let the first frame settle
    EXPECT_EQ(column_texts(view, 0), std::vector<std::string>{"pest!*@*"});

    int x = 0, y = 0;
    ASSERT_TRUE(cell_on_screen(view, 5, &x, &y)) << "the DCC column";
    const std::string cmd = "xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click 1";
    GError *err = nullptr;
    ASSERT_TRUE(g_spawn_command_line_async(cmd.c_str(), &err)) << (err ? err->message : "");
    ASSERT_TRUE(pump_until([] { return ignore_exists("pest!*@*")->type & IG_DCC; }, 5000)) << "the click reached DCC";
    EXPECT_EQ(g_slist_length(ignore_list), 1u);
    EXPECT_EQ(ignore_exists("pest!*@*")->type, unsigned(IG_PRIV | IG_DCC | IG_NOSAVE)) << "NOSAVE is kept";
    EXPECT_EQ(column_texts(view, 0).size(), 1u) << "one row still";

    // The core's own changes reach the window.
    ignore_add("other!*@*", IG_CTCP, true);
    EXPECT_EQ(column_texts(view, 0), (std::vector<std::string>{"other!*@*", "pest!*@*"}));
    gtk_widget_destroy(window);
}

TEST_F(UtilityWindows, GrabberShowsNewestFirstWithinTheLimit)
{
    prefs.url_grabber = 1;
    prefs.url_grabber_limit = 2;
    url_check_line("PRIVMSG #c :http://one.example/");
    url_gui_open();
    GtkWidget *window = find_shown_titled("URL Grabber - Lumenwick");
    ASSERT_NE(window, nullptr);
    GtkWidget *view = find_named(window, "lumenwick-urlgrabber");
    ASSERT_NE(view, nullptr);
    url_check_line("PRIVMSG #c :http://two.example/ and http://three.example/.");
    EXPECT_EQ(column_texts(view, 0), (std::vector<std::string>{"http://three.example/", "http://two.example/"}));
    gtk_widget_destroy(window);

    prefs.url_grabber = 0;
    url_gui_open();
    window = find_shown_titled("URL Grabber - Lumenwick");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(column_texts(find_named(window, "lumenwick-urlgrabber"), 0),
              std::vector<std::string>{"URL Grabber is disabled."});
    // Escape closes every utility window.
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(window); }));
    GdkEvent *key = gdk_event_new(GDK_KEY_PRESS);
    key->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    key->key.keyval = GDK_KEY_Escape;
    key->key.send_event = TRUE;
    gdk_event_set_device(key, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(window, key);
    gdk_event_free(key);
    EXPECT_TRUE(pump_until([] { return find_shown_titled("URL Grabber - Lumenwick") == nullptr; }));
    prefs.url_grabber = 1;
}

TEST_F(UtilityWindows, FriendsListFollowsTheNotifyList)
{
    notify_adduser("pal", nullptr);
    notify_gui_open();
    GtkWidget *window = find_shown_titled("Friends List - Lumenwick");
    ASSERT_NE(window, nullptr);
    GtkWidget *view = find_named(window, "lumenwick-notifylist");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(column_texts(view, 0), std::vector<std::string>{"pal"});
    EXPECT_EQ(column_texts(view, 1), std::vector<std::string>{"Offline"});
    EXPECT_EQ(column_texts(view, 3), std::vector<std::string>{"Never"});
    notify_adduser("buddy", "Libera, OFTC");
    EXPECT_EQ(column_texts(view, 0), (std::vector<std::string>{"buddy", "pal"}));
    EXPECT_EQ(column_texts(view, 2), (std::vector<std::string>{"Libera,OFTC", "ALL"}));
    notify_deluser("pal");
    EXPECT_EQ(column_texts(view, 0), std::vector<std::string>{"buddy"});
    gtk_widget_destroy(window);
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv);
}
