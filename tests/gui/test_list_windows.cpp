// The channel list and ban list windows in-process on a real display (run
// through with-xvfb.sh), with the real core connected to list-ircd.py: a list
// of 50,000 channels is downloaded, filtered, sorted and joined from; the new
// channel's ban list is fetched and entries are removed with one MODE line.
// Then the same against the harness InspIRCd, on channels a bot made.
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "dialogs/banlist.h"
#include "dialogs/chanlist.h"
#include "fe.h"
#include "net/server.h"
#include "session/session.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr int CHANNELS = 50000;

// A helper process's output lines, read without blocking while the loop runs.
struct list_server {
    GPid pid = 0;
    int in = -1, out = -1;
    std::string pending;
    std::vector<std::string> lines;

    bool spawn(const std::vector<std::string> &args)
    {
        std::vector<gchar *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<gchar *>(a.c_str()));
        argv.push_back(nullptr);
        if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &pid, &in,
                                      &out, nullptr, nullptr))
            return false;
        fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
        return true;
    }
    bool say(const std::string &line) const
    {
        const std::string text = line + "\n";
        return write(in, text.data(), text.size()) == ssize_t(text.size());
    }
    bool has(const std::function<bool(const std::string &)> &match) const
    {
        for (const std::string &l : lines)
            if (match(l))
                return true;
        return false;
    }
    void end()
    {
        if (in >= 0)
            close(in); // both helpers end with their input
        if (out >= 0)
            close(out);
        in = out = -1;
        if (pid)
            g_spawn_close_pid(pid);
        pid = 0;
    }

    void poll()
    {
        char buf[65536];
        ssize_t n;
        while ((n = read(out, buf, sizeof buf)) > 0) {
            pending.append(buf, std::size_t(n));
            std::size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                lines.push_back(pending.substr(0, nl));
                pending.erase(0, nl + 1);
            }
        }
    }
    bool got(const std::string &line) const
    {
        for (const std::string &l : lines)
            if (l == "GOT " + line)
                return true;
        return false;
    }
};

list_server *ircd = nullptr;
gint64 longest_iteration_us = 0;

bool pump_until(const std::function<bool()> &done, int timeout_ms = 20000)
{
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        const gint64 start = g_get_monotonic_time();
        if (g_main_context_iteration(nullptr, FALSE))
            longest_iteration_us = std::max(longest_iteration_us, g_get_monotonic_time() - start);
        else
            g_usleep(500);
        if (ircd)
            ircd->poll();
    }
    return true;
}

GtkWidget *find_titled_prefix(const char *prefix)
{
    GList *all = gtk_window_list_toplevels();
    GtkWidget *found = nullptr;
    for (GList *l = all; l && !found; l = l->next) {
        const char *title = gtk_window_get_title(GTK_WINDOW(l->data));
        if (gtk_widget_get_visible(GTK_WIDGET(l->data)) && title && g_str_has_prefix(title, prefix))
            found = GTK_WIDGET(l->data);
    }
    g_list_free(all);
    return found;
}

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
        return GTK_IS_BUTTON(w) && !GTK_IS_TOGGLE_BUTTON(w) &&
               g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), label) == 0;
    });
}

GtkWidget *find_type(GtkWidget *root, GType type)
{
    return find_child(root, [&](GtkWidget *w) { return G_TYPE_CHECK_INSTANCE_TYPE(w, type); });
}

int row_count(GtkWidget *tree)
{
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(tree));
    return model ? gtk_tree_model_iter_n_children(model, nullptr) : 0;
}

std::string cell(GtkWidget *tree, int row, int column)
{
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(tree));
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(model, &iter, nullptr, row))
        return "<no row>";
    GValue v = G_VALUE_INIT;
    gtk_tree_model_get_value(model, &iter, column, &v);
    std::string out = G_VALUE_HOLDS_INT(&v) ? std::to_string(g_value_get_int(&v)) : (g_value_get_string(&v) ?: "");
    g_value_unset(&v);
    return out;
}

// Saves what `window` shows as PNG in the working directory and returns
// how many distinct colours its `area` child has (a blank list has two or three).
int screenshot(GtkWidget *window, GtkWidget *area, const char *name)
{
    gtk_window_present(GTK_WINDOW(window));
    pump_until([] { return false; }, 300); // let it draw
    GdkWindow *gdk = gtk_widget_get_window(window);
    const int w = gdk_window_get_width(gdk), h = gdk_window_get_height(gdk);
    GdkPixbuf *shot = gdk_pixbuf_get_from_window(gdk, 0, 0, w, h);
    if (!shot)
        return 0;
    gdk_pixbuf_save(shot, name, "png", nullptr, nullptr);
    GtkAllocation a;
    gtk_widget_get_allocation(area, &a);
    int x0 = 0, y0 = 0;
    gtk_widget_translate_coordinates(area, window, 0, 0, &x0, &y0);
    std::set<guint32> colours;
    const int stride = gdk_pixbuf_get_rowstride(shot), nch = gdk_pixbuf_get_n_channels(shot);
    const guchar *px = gdk_pixbuf_get_pixels(shot);
    for (int y = std::max(0, y0); y < std::min(h, y0 + a.height); y++)
        for (int x = std::max(0, x0); x < std::min(w, x0 + a.width); x++) {
            const guchar *p = px + y * stride + x * nch;
            colours.insert(guint32(p[0]) << 16 | guint32(p[1]) << 8 | p[2]);
        }
    g_object_unref(shot);
    return int(colours.size());
}

class ListWindows : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(ircd_proc.spawn({"python3", LUMENWICK_HARNESS_DIR "/list-ircd.py", "50000"}));
        ircd = &ircd_proc;
        ASSERT_TRUE(pump_until([&] { return !ircd_proc.lines.empty(); }, 10000));
        int port = 0;
        ASSERT_EQ(std::sscanf(ircd_proc.lines[0].c_str(), "LISTEN %d", &port), 1) << ircd_proc.lines[0];

        tab = new_ircwindow(nullptr, "server", SESS_SERVER, 1);
        std::string cmd = "server 127.0.0.1 -" + std::to_string(port); // "-": plain
        handle_command(tab, cmd.data(), false);
        serv = tab->server;
        ASSERT_TRUE(pump_until([&] { return serv->connected && serv->motd_done; })) << lines();
    }

    void TearDown() override
    {
        ircd = nullptr;
        ircd_proc.end();
    }

    std::string lines() const
    {
        std::string all;
        for (const std::string &l : ircd_proc.lines)
            all += l + "\n";
        return all;
    }

    list_server ircd_proc;
    session *tab = nullptr;
    struct server *serv = nullptr;
};

TEST_F(ListWindows, ChannelListDownloadsFiltersSortsAndJoinsThenBansAreRemoved)
{
    chanlist_opengui(serv, true);
    GtkWidget *window = nullptr;
    ASSERT_TRUE(pump_until([&] { return (window = find_titled_prefix("Channel List (")) != nullptr; }));
    // The request asks for the minimum (5 by default) and the maximum.
    ASSERT_TRUE(pump_until([&] { return ircd_proc.got("LIST >4,<10000"); })) << lines();

    GtkWidget *tree = find_type(window, GTK_TYPE_TREE_VIEW);
    GtkWidget *label = find_type(window, GTK_TYPE_LABEL);
    GtkWidget *download = find_button(window, "_Download List");
    ASSERT_TRUE(tree && label && download);
    longest_iteration_us = 0;
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_sensitive(download); }, 60000));
    const gint64 longest = longest_iteration_us;
    EXPECT_EQ(row_count(tree), CHANNELS);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "Displaying 7715000/7715000 users on 50000/50000 channels.");
    std::printf("longest main-loop iteration while 50,000 rows arrived: %.1f ms\n", longest / 1000.0);

    // Rows are drawn (text in several shades), not an empty list.
    EXPECT_GT(screenshot(window, tree, "chanlist.png"), 8);

    // Sorted by users, most first, once the list ended; topics lost their colours.
    EXPECT_EQ(cell(tree, 0, 1), "304");
    EXPECT_EQ(cell(tree, 0, 2).rfind("topic of ", 0), 0u) << cell(tree, 0, 2);
    // A click on the channel header sorts by name.
    gtk_tree_view_column_clicked(gtk_tree_view_get_column(GTK_TREE_VIEW(tree), 0));
    EXPECT_EQ(cell(tree, 0, 0), "#chan00000");
    EXPECT_EQ(cell(tree, CHANNELS - 1, 0), "#chan49999");

    // A wildcard search by name, run with Enter in the Find entry.
    GtkWidget *combo = find_type(window, GTK_TYPE_COMBO_BOX_TEXT);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 1);
    GtkWidget *entry = find_child(window, [](GtkWidget *w) { return GTK_IS_ENTRY(w) && !GTK_IS_SPIN_BUTTON(w); });
    gtk_entry_set_text(GTK_ENTRY(entry), "#chan0004?");
    g_signal_emit_by_name(entry, "activate");
    ASSERT_EQ(row_count(tree), 10);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "Displaying 495/7715000 users on 10/50000 channels.");

    // Join the selected channel.
    GtkTreePath *path = gtk_tree_path_new_from_indices(2, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), path);
    gtk_tree_path_free(path);
    const std::string picked = cell(tree, 2, 0);
    gtk_button_clicked(GTK_BUTTON(find_button(window, "_Join Channel")));
    ASSERT_TRUE(pump_until([&] { return ircd_proc.got("JOIN " + picked); })) << lines();
    session *chan = nullptr;
    ASSERT_TRUE(pump_until([&] { return (chan = find_channel(serv, picked.c_str())) && chan->op_count > 0; }));

    // The ban list: every type this server has, bans fetched first.
    banlist_opengui(chan);
    GtkWidget *bans = nullptr;
    ASSERT_TRUE(pump_until([&] { return (bans = find_titled_prefix("Ban List (")) != nullptr; }));
    ASSERT_TRUE(pump_until([&] { return ircd_proc.got("mode " + picked + " +b"); })) << lines();
    GtkWidget *btree = find_type(bans, GTK_TYPE_TREE_VIEW);
    GtkWidget *refresh = find_button(bans, "Refresh");
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_sensitive(refresh); }));
    ASSERT_EQ(row_count(btree), 3);
    EXPECT_EQ(cell(btree, 0, 1), "newest!*@*"); // newest first
    EXPECT_EQ(cell(btree, 2, 1), "old!*@*");
    int boxes = 0;
    find_child(bans, [&](GtkWidget *w) {
        boxes += GTK_IS_CHECK_BUTTON(w) ? 1 : 0;
        return false;
    });
    EXPECT_EQ(boxes, 4);
    EXPECT_GT(screenshot(bans, btree, "banlist.png"), 8);
    // An operator with nothing selected may clear, not remove.
    EXPECT_FALSE(gtk_widget_get_sensitive(find_button(bans, "Remove")));
    EXPECT_TRUE(gtk_widget_get_sensitive(find_button(bans, "Clear")));

    GtkTreeSelection *sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(btree));
    for (int i : {0, 2}) {
        GtkTreePath *p = gtk_tree_path_new_from_indices(i, -1);
        gtk_tree_selection_select_path(sel, p);
        gtk_tree_path_free(p);
    }
    EXPECT_TRUE(gtk_widget_get_sensitive(find_button(bans, "Crop")));
    gtk_button_clicked(GTK_BUTTON(find_button(bans, "Remove")));
    EXPECT_TRUE(pump_until([&] {
        return ircd_proc.got("MODE " + picked + " -bb newest!*@* old!*@*") ||
               ircd_proc.got("MODE " + picked + " -bb old!*@* newest!*@*");
    })) << lines();
    gtk_widget_destroy(bans);
    prefs.gui_chanlist_width_topic = 0;
    gtk_widget_destroy(window);
    EXPECT_FALSE(fe_is_chanwindow(serv));
    EXPECT_GT(prefs.gui_chanlist_width_topic, 1); // the widths are kept for next time
}

// The harness InspIRCd with 300 channels a bot made and sits in: the whole
// list arrives through Download, a name search finds one, and Join reaches the
// server (the bot sees us join).
TEST(ListWindowsLive, ChannelsABotMadeAreDownloadedFoundAndJoined)
{
    // scripts/setup.sh installs InspIRCd: without it the machine is not set up.
    ASSERT_TRUE(g_file_test("/usr/sbin/inspircd", G_FILE_TEST_IS_EXECUTABLE)) << "inspircd is not installed";
    constexpr int ROOMS = 300;
    gchar *lab = g_dir_make_tmp("lumenwick-lab-XXXXXX", nullptr);
    const std::string dir = lab;
    g_free(lab);
    auto script = [&](const char *name) {
        const std::string cmd = "bash " LUMENWICK_HARNESS_DIR "/" + std::string(name) + " '" + dir + "/ircd' >>'" +
                                dir + "/harness.log' 2>&1";
        return std::system(cmd.c_str()) == 0;
    };
    ASSERT_TRUE(script("ircd-up.sh"));
    gchar *port_text = nullptr;
    g_file_get_contents((dir + "/ircd/ports/irc").c_str(), &port_text, nullptr, nullptr);
    const std::string port = port_text ? g_strstrip(port_text) : "";
    g_free(port_text);

    list_server bots;
    ircd = &bots;
    session *tab = nullptr;
    [&] {
        ASSERT_FALSE(port.empty());
        ASSERT_TRUE(bots.spawn({"python3", LUMENWICK_HARNESS_DIR "/irc-bots.py", port}));
        ASSERT_TRUE(bots.say("connect chanbot"));
        ASSERT_TRUE(pump_until([&] { return bots.has([](auto &l) { return l == "ready chanbot"; }); }));
        for (int first = 1; first <= ROOMS; first += 20) {
            std::string names;
            for (int i = first; i < first + 20; i++) {
                char name[16];
                std::snprintf(name, sizeof name, "#room%03d", i);
                names += (names.empty() ? "" : ",") + std::string(name);
            }
            ASSERT_TRUE(bots.say("send chanbot JOIN " + names));
        }
        ASSERT_TRUE(bots.say("send chanbot TOPIC #room150 :the one to join"));
        ASSERT_TRUE(pump_until([&] {
            return bots.has([](auto &l) { return l.find(" TOPIC #room150 :the one to join") != std::string::npos; });
        }));

        tab = new_ircwindow(nullptr, "server", SESS_SERVER, 1);
        std::string cmd = "server 127.0.0.1 -" + port;
        handle_command(tab, cmd.data(), false);
        struct server *serv = tab->server;
        ASSERT_TRUE(pump_until([&] { return serv->connected && serv->motd_done; }));

        prefs.gui_chanlist_minusers = 1; // every room has only the bot
        chanlist_opengui(serv, false);
        GtkWidget *window = nullptr;
        ASSERT_TRUE(pump_until([&] { return (window = find_titled_prefix("Channel List (")) != nullptr; }));
        GtkWidget *tree = find_type(window, GTK_TYPE_TREE_VIEW);
        GtkWidget *download = find_button(window, "_Download List");
        ASSERT_TRUE(tree && download);
        EXPECT_EQ(row_count(tree), 0);
        gtk_button_clicked(GTK_BUTTON(download));
        ASSERT_TRUE(pump_until([&] { return !gtk_widget_get_sensitive(download); }, 5000));
        ASSERT_TRUE(pump_until([&] { return gtk_widget_get_sensitive(download); }, 30000));
        EXPECT_EQ(row_count(tree), ROOMS);
        EXPECT_GT(screenshot(window, tree, "chanlist-inspircd.png"), 8);

        GtkWidget *entry = find_child(window, [](GtkWidget *w) { return GTK_IS_ENTRY(w) && !GTK_IS_SPIN_BUTTON(w); });
        gtk_entry_set_text(GTK_ENTRY(entry), "room150");
        g_signal_emit_by_name(entry, "activate");
        ASSERT_EQ(row_count(tree), 1);
        EXPECT_TRUE(cell(tree, 0, 2).ends_with("the one to join")) << cell(tree, 0, 2); // after the server's "[+nt] "
        GtkTreePath *path = gtk_tree_path_new_first();
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), path);
        gtk_tree_path_free(path);
        gtk_button_clicked(GTK_BUTTON(find_button(window, "_Join Channel")));
        EXPECT_TRUE(pump_until([&] {
            return bots.has(
                [](auto &l) { return l.rfind("chanbot< :tester!", 0) == 0 && l.ends_with(" JOIN :#room150"); });
        }));
        gtk_widget_destroy(window);
    }();
    ircd = nullptr;
    bots.end();
    script("ircd-down.sh");
    const std::string rm = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(rm.c_str()), 0);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    g_setenv("TZ", "UTC", TRUE);
    tzset();
    gchar *dir = g_dir_make_tmp("lumenwick-gui-XXXXXX", nullptr);
    set_xdir(dir);
    load_default_config();
    prefs.identd_server = 0; // never listen on a port from a test
    prefs.net_throttle = 0;
    g_strlcpy(prefs.irc_nick1, "tester", sizeof prefs.irc_nick1);
    arg_skip_plugins = 1;
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: run through with-xvfb.sh\n");
        return 1;
    }
    fe_init();
    const int result = RUN_ALL_TESTS();
    gchar *rm = g_strdup_printf("rm -rf '%s'", dir);
    if (std::system(rm) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir);
    g_free(rm);
    g_free(dir);
    return result;
}
