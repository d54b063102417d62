// Icons and images, the search bar and saving the conversation. The tests
// named Headless* run without a display (the resolver, the image set and
// the background loader); the others on a real one (with-xvfb.sh), with the
// main window built by the real core.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "gui_support.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "mainwin/maingui.h"
#include "mainwin/searchbar.h"
#include "mainwin/tabstate.h"
#include "mainwin/userlist.h"
#include "net/server.h"
#include "resources/gtkutil.h"
#include "resources/icon-resolver.h"
#include "resources/pixmaps.h"
#include "session/session.h"
#include "switcher/chanview.h"
#include "textview/gtkxtext.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

std::string config_dir;
bool have_display = false;

struct rgba {
    int r, g, b, a;
};

rgba pixel_of(GdkPixbuf *pb, int x, int y)
{
    const guchar *p = gdk_pixbuf_read_pixels(pb) + y * gdk_pixbuf_get_rowstride(pb) + x * gdk_pixbuf_get_n_channels(pb);
    return {p[0], p[1], p[2], gdk_pixbuf_get_has_alpha(pb) ? p[3] : 255};
}

// A PNG of one colour; `alpha` < 0 makes one without an alpha channel.
std::string write_png(const std::string &path, int w, int h, int r, int g, int b, int alpha = 255)
{
    GdkPixbuf *pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha >= 0, 8, w, h);
    gdk_pixbuf_fill(pb, (guint32(r) << 24) | (guint32(g) << 16) | (guint32(b) << 8) | guint32(alpha < 0 ? 255 : alpha));
    gchar *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0700);
    g_free(dir);
    EXPECT_TRUE(gdk_pixbuf_save(pb, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(pb);
    return path;
}

std::string resolve(int kind, int id, int variant)
{
    char *p = icon_resolver_resolve_path(kind, id, variant, nullptr);
    std::string out = p ? p : "(none)";
    g_free(p);
    return out;
}

// Removes the user's icons folder between tests.
void clear_user_icons()
{
    const std::string rm = "rm -rf '" + config_dir + "/icons'";
    ASSERT_EQ(std::system(rm.c_str()), 0);
}

// --- without a display ----------------------------------------------------------------

TEST(HeadlessIconResolver, UserFilesInTheModesVariantComeBeforeTheCompiledImages)
{
    clear_user_icons();
    const std::string icons = config_dir + "/icons";
    // Nothing of the user's: the compiled image, in the variant when there is one.
    EXPECT_EQ(resolve(ICON_KIND_TREE, 0, ICON_VARIANT_LIGHT), "/icons/tree_channel.png");
    EXPECT_EQ(resolve(ICON_KIND_TREE, 0, ICON_VARIANT_DARK), "/icons/tree_channel-dark.png");
    EXPECT_EQ(resolve(ICON_KIND_ULIST, 2, ICON_VARIANT_DARK), "/icons/ulist_op.png");
    EXPECT_EQ(resolve(ICON_KIND_MENU, 5, ICON_VARIANT_DARK), "/icons/quit-dark.png");
    // The row's freedesktop name comes back for the caller's last resort.
    const char *system_name = nullptr;
    g_free(icon_resolver_resolve_path(ICON_KIND_MENU, 5, ICON_VARIANT_LIGHT, &system_name));
    EXPECT_STREQ(system_name, "application-exit");
    EXPECT_EQ(icon_resolver_resolve_path(ICON_KIND_ULIST, 6, ICON_VARIANT_LIGHT, &system_name), nullptr);

    // Dark mode with icons/dark/quit.png: that file.
    write_png(icons + "/dark/quit.png", 16, 16, 255, 0, 0);
    prefs.gui_dark_mode = 1;
    EXPECT_EQ(resolve(ICON_KIND_MENU, 5, ICON_VARIANT_DETECT), icons + "/dark/quit.png");
    // Light mode with only quit-light.png next to it: that one.
    prefs.gui_dark_mode = 2;
    EXPECT_EQ(resolve(ICON_KIND_MENU, 5, ICON_VARIANT_DETECT), "/icons/quit.png");
    write_png(icons + "/quit-light.png", 16, 16, 0, 255, 0);
    EXPECT_EQ(resolve(ICON_KIND_MENU, 5, ICON_VARIANT_DETECT), icons + "/quit-light.png");
    // A plain file serves both modes, but a variant file wins over it.
    write_png(icons + "/tree_server.png", 16, 16, 0, 0, 255);
    EXPECT_EQ(resolve(ICON_KIND_TREE, 2, ICON_VARIANT_DARK), icons + "/tree_server.png");
    write_png(icons + "/tree_server-dark.png", 16, 16, 0, 0, 255);
    EXPECT_EQ(resolve(ICON_KIND_TREE, 2, ICON_VARIANT_DARK), icons + "/tree_server-dark.png");
    // A folder of that name is no image.
    g_mkdir_with_parents((icons + "/light/tree_dialog.png").c_str(), 0700);
    EXPECT_EQ(resolve(ICON_KIND_TREE, 1, ICON_VARIANT_LIGHT), "/icons/tree_dialog.png");
    EXPECT_FALSE(icon_resolver_path_is_resource((icons + "/quit-light.png").c_str()));
    EXPECT_TRUE(icon_resolver_path_is_resource("/icons/tree_dialog.png"));
    clear_user_icons();
}

TEST(HeadlessIconResolver, StockIdentifiersAndCustomNamesLeadToMenuRows)
{
    int id = -1;
    EXPECT_TRUE(icon_resolver_menu_action_from_name("gtk-quit", &id));
    EXPECT_EQ(id, 5);
    EXPECT_TRUE(icon_resolver_menu_action_from_name("lwk-menu-emoji", &id));
    EXPECT_EQ(id, 27);
    // Two stock names for one freedesktop name find its first row.
    EXPECT_TRUE(icon_resolver_menu_action_from_name("gtk-justify-left", &id));
    EXPECT_EQ(id, 19);
    // Mapped, but no menu row has the result.
    EXPECT_STREQ(icon_resolver_icon_name_from_stock("gtk-media-play"), "media-playback-start");
    EXPECT_FALSE(icon_resolver_menu_action_from_name("gtk-media-play", &id));
    // Unknown names pass through unchanged; null stays null.
    const char *odd = "weather-storm";
    EXPECT_EQ(gtkutil_icon_name_from_stock(odd), odd);
    EXPECT_FALSE(icon_resolver_menu_action_from_name(odd, &id));
    EXPECT_EQ(gtkutil_icon_name_from_stock(nullptr), nullptr);
    // Custom names only through the custom lookup, and only menu rows have them.
    EXPECT_STREQ(icon_resolver_icon_name_for_menu_custom("lwk-menu-chanlist"), "network-workgroup");
    EXPECT_EQ(icon_resolver_icon_name_for_menu_custom("network-workgroup"), nullptr);
    EXPECT_FALSE(icon_resolver_menu_action_from_custom("tray_normal", &id));
}

TEST(HeadlessPixmaps, GdkScaleEnlargesTheSetOnlyForAPositiveWholeNumber)
{
    clear_user_icons();
    prefs.gui_dark_mode = 2;
    const auto op_width = [](const char *scale) {
        if (scale)
            g_setenv("GDK_SCALE", scale, TRUE);
        else
            g_unsetenv("GDK_SCALE");
        pixmaps_init();
        return pix_ulist_op ? gdk_pixbuf_get_width(pix_ulist_op) : -1;
    };
    EXPECT_EQ(op_width(nullptr), 16);
    EXPECT_EQ(op_width("2"), 32);
    EXPECT_EQ(gdk_pixbuf_get_height(pix_tree_util), 32);
    EXPECT_EQ(op_width("0"), 16);
    EXPECT_EQ(op_width("two"), 16);
    EXPECT_EQ(op_width("-2"), 16);
    EXPECT_EQ(op_width("2x"), 16);
    g_unsetenv("GDK_SCALE");
    ASSERT_NE(pix_lumenwick, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(pix_lumenwick), 64);
    EXPECT_NE(pix_book, nullptr);
}

// The darkest fully drawn pixel's brightness: ink of a single-colour glyph.
int ink_brightness(GdkPixbuf *pb)
{
    int best = 255 * 3;
    for (int y = 0; y < gdk_pixbuf_get_height(pb); ++y)
        for (int x = 0; x < gdk_pixbuf_get_width(pb); ++x) {
            const rgba c = pixel_of(pb, x, y);
            if (c.a == 255)
                best = std::min(best, c.r + c.g + c.b);
        }
    return best / 3;
}

TEST(HeadlessPixmaps, SwitcherImagesFollowDarkModeAndUserFilesReplaceThem)
{
    clear_user_icons();
    prefs.gui_dark_mode = 2;
    pixmaps_init();
    ASSERT_NE(pix_tree_channel, nullptr);
    EXPECT_LT(ink_brightness(pix_tree_channel), 100);
    prefs.gui_dark_mode = 1;
    pixmaps_init();
    EXPECT_GT(ink_brightness(pix_tree_channel), 180);

    write_png(config_dir + "/icons/dark/ulist_voice.png", 12, 10, 1, 2, 3);
    pixmaps_init();
    ASSERT_NE(pix_ulist_voice, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(pix_ulist_voice), 12);
    EXPECT_EQ(pixel_of(pix_ulist_voice, 5, 5).b, 3);
    prefs.gui_dark_mode = 2;
    clear_user_icons();
    pixmaps_init();
}

TEST(HeadlessPixmaps, BackgroundIsFittedToFourThousandPixelsAndPremultiplied)
{
    EXPECT_EQ(pixmap_load_from_file(""), nullptr);

    const std::string wide = write_png(config_dir + "/wide.png", 8000, 2000, 10, 20, 30, -1);
    cairo_surface_t *s = pixmap_load_from_file(wide.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cairo_image_surface_get_width(s), 4096);
    EXPECT_EQ(cairo_image_surface_get_height(s), 1024);
    EXPECT_EQ(cairo_image_surface_get_format(s), CAIRO_FORMAT_ARGB32);
    // No alpha channel: opaque, colours as they are.
    uint32_t px = *reinterpret_cast<uint32_t *>(cairo_image_surface_get_data(s));
    EXPECT_EQ(px, 0xff0a141eu);
    cairo_surface_destroy(s);
    g_remove(wide.c_str());

    // A thin strip keeps at least one pixel on its short side.
    const std::string strip = write_png(config_dir + "/strip.png", 9000, 1, 0, 0, 0);
    s = pixmap_load_from_file(strip.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cairo_image_surface_get_width(s), 4096);
    EXPECT_EQ(cairo_image_surface_get_height(s), 1);
    cairo_surface_destroy(s);
    g_remove(strip.c_str());

    // Half transparent: cairo wants the colours multiplied by alpha.
    const std::string half = write_png(config_dir + "/half.png", 3, 2, 200, 100, 255, 128);
    s = pixmap_load_from_file(half.c_str());
    ASSERT_NE(s, nullptr);
    px = *reinterpret_cast<uint32_t *>(cairo_image_surface_get_data(s));
    EXPECT_EQ(px >> 24, 128u);
    EXPECT_NEAR(int((px >> 16) & 0xff), 100, 1);
    EXPECT_NEAR(int((px >> 8) & 0xff), 50, 1);
    EXPECT_EQ(px & 0xff, 128u);
    cairo_surface_destroy(s);
    g_remove(half.c_str());
}

// --- on a display ---------------------------------------------------------------------

GtkWidget *find_descendant(GtkWidget *root, const std::function<bool(GtkWidget *)> &match)
{
    if (match(root))
        return root;
    if (GTK_IS_MENU_BUTTON(root)) {
        if (GtkPopover *pop = gtk_menu_button_get_popover(GTK_MENU_BUTTON(root)))
            return find_descendant(GTK_WIDGET(pop), match);
    }
    if (!GTK_IS_CONTAINER(root))
        return nullptr;
    GList *kids = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget *found = nullptr;
    for (GList *l = kids; l && !found; l = l->next)
        found = find_descendant(GTK_WIDGET(l->data), match);
    g_list_free(kids);
    return found;
}

GtkWidget *find_message(const char *prefix)
{
    GList *all = gtk_window_list_toplevels();
    GtkWidget *found = nullptr;
    for (GList *l = all; l && !found; l = l->next) {
        if (!GTK_IS_MESSAGE_DIALOG(l->data) || !gtk_widget_get_visible(GTK_WIDGET(l->data)))
            continue;
        gchar *text = nullptr;
        g_object_get(l->data, "text", &text, nullptr);
        if (text && g_str_has_prefix(text, prefix))
            found = GTK_WIDGET(l->data);
        g_free(text);
    }
    g_list_free(all);
    return found;
}

void print(session *sess, const char *text)
{
    std::string copy = text;
    fe_print_text(sess, copy.data(), 0, FALSE);
}

void drawn(GtkWidget *w)
{
    gtk_widget_queue_draw(w);
    pump_for(250);
    gdk_display_sync(gdk_display_get_default());
    pump_for(100);
}

rgba window_pixel(GdkWindow *win, int x, int y)
{
    GdkPixbuf *pb = gdk_pixbuf_get_from_window(win, x, y, 1, 1);
    if (!pb)
        return {-1, -1, -1, -1};
    const rgba c = pixel_of(pb, 0, 0);
    g_object_unref(pb);
    return c;
}

void screenshot(GtkWidget *widget, const char *path)
{
    GdkWindow *w = gtk_widget_get_window(widget);
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    if (!gtk_widget_get_has_window(widget)) {
        GdkPixbuf *pb = gdk_pixbuf_get_from_window(w, a.x, a.y, a.width, a.height);
        gdk_pixbuf_save(pb, path, "png", nullptr, nullptr);
        g_object_unref(pb);
        return;
    }
    GdkPixbuf *pb = gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
    gdk_pixbuf_save(pb, path, "png", nullptr, nullptr);
    g_object_unref(pb);
}

class OnScreen : public ::testing::Test
{
  protected:
    static session *server_tab;
    static session *chan;
    static void SetUpTestSuite()
    {
        if (server_tab)
            return;
        server_tab = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
        g_strlcpy(server_tab->channel, "TestNet", sizeof server_tab->channel);
        chan = new_ircwindow(server_tab->server, "#icons", SESS_CHANNEL, 1);
    }
    void SetUp() override
    {
        ASSERT_TRUE(have_display) << "run through with-xvfb.sh";
        mg_bring_tofront_sess(chan);
        fe_text_clear(chan, 0);
        pump_for(50);
    }
    session_view *view() { return view_of(chan); }
    GtkXText *xtext() { return GTK_XTEXT(view()->text_view); }
};
session *OnScreen::server_tab = nullptr;
session *OnScreen::chan = nullptr;

TEST_F(OnScreen, UserListAndSwitcherRowsShowTheirImages)
{
    message_tags_data tags;
    for (const char *nick : {"@alice", "+bob", "carol"})
        userlist_add(chan, nick, nullptr, nullptr, nullptr, &tags);
    GtkTreeView *list = GTK_TREE_VIEW(view()->userlist);
    ASSERT_TRUE(pump_until([&] { return gtk_tree_view_get_model(list) != nullptr; }));
    drawn(GTK_WIDGET(list));
    screenshot(gtk_widget_get_toplevel(GTK_WIDGET(list)), "icons-mainwin.png");

    // Rows in status order: alice (op), bob (voice), carol (none).
    const auto icon_centre = [&](int row, int *x, int *y) {
        GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
        GdkRectangle area;
        gtk_tree_view_get_cell_area(list, path, gtk_tree_view_get_column(list, 0), &area);
        gtk_tree_path_free(path);
        *x = area.x + area.width / 2;
        *y = area.y + area.height / 2;
    };
    GdkWindow *bin = gtk_tree_view_get_bin_window(list);
    int x, y;
    icon_centre(0, &x, &y);
    const rgba op = window_pixel(bin, x - 4, y); // the green disc around the light centre
    EXPECT_GT(op.g, op.r + 30) << op.r << "," << op.g << "," << op.b;
    EXPECT_GT(op.g, op.b + 30);
    icon_centre(1, &x, &y);
    const rgba voice = window_pixel(bin, x, y); // the yellow disc
    EXPECT_GT(voice.r, 150);
    EXPECT_GT(voice.g, 150);
    EXPECT_LT(voice.b, 140);
    icon_centre(2, &x, &y);
    const rgba none = window_pixel(bin, x, y);
    EXPECT_EQ(none.r, none.b) << "a user without a status has no image";
    // With an image the prefix character is not repeated as text.
    GtkTreeIter it;
    gtk_tree_model_get_iter_first(gtk_tree_view_get_model(list), &it);
    gchar *prefix = nullptr;
    gtk_tree_model_get(gtk_tree_view_get_model(list), &it, 1, &prefix, -1);
    EXPECT_STREQ(prefix, "");
    g_free(prefix);

    // Ranks above op by their place before "@" in the server's prefix list.
    server *serv = chan->server;
    gchar *saved = serv->nickprefixes;
    serv->nickprefixes = g_strdup("~&@%+");
    User u{};
    const auto image_for = [&](char prefix) {
        u.prefix = prefix;
        return get_user_icon(serv, &u);
    };
    EXPECT_EQ(image_for('~'), pix_ulist_founder);
    EXPECT_EQ(image_for('&'), pix_ulist_owner);
    g_free(serv->nickprefixes);
    serv->nickprefixes = g_strdup("!*~&@%+");
    EXPECT_EQ(image_for('*'), pix_ulist_netop);
    EXPECT_EQ(image_for('!'), nullptr);
    EXPECT_EQ(image_for('%'), pix_ulist_halfop);
    g_free(serv->nickprefixes);
    serv->nickprefixes = saved;

    // The tree: server and channel rows carry their images.
    chanview *cv = view()->switcher;
    ASSERT_EQ(cv->impl, CHANVIEW_TREE);
    GtkTreeModel *tree_model = GTK_TREE_MODEL(cv->store);
    ASSERT_TRUE(gtk_tree_model_get_iter_first(tree_model, &it));
    GdkPixbuf *server_icon = nullptr;
    gtk_tree_model_get(tree_model, &it, 4, &server_icon, -1);
    EXPECT_EQ(server_icon, pix_tree_server);
    GtkTreeIter child;
    ASSERT_TRUE(gtk_tree_model_iter_children(tree_model, &child, &it));
    GdkPixbuf *chan_icon = nullptr;
    gtk_tree_model_get(tree_model, &child, 4, &chan_icon, -1);
    EXPECT_EQ(chan_icon, pix_tree_channel);
    if (server_icon)
        g_object_unref(server_icon);
    if (chan_icon)
        g_object_unref(chan_icon);
    // On screen: the "#" glyph's ink at the start of the channel's row.
    GtkTreeView *tree = GTK_TREE_VIEW(cv->inner);
    GtkTreePath *path = gtk_tree_model_get_path(tree_model, &child);
    GdkRectangle area;
    gtk_tree_view_get_cell_area(tree, path, gtk_tree_view_get_column(tree, 0), &area);
    gtk_tree_path_free(path);
    drawn(GTK_WIDGET(tree));
    GdkPixbuf *row = gdk_pixbuf_get_from_window(gtk_tree_view_get_bin_window(tree), area.x, area.y, 18, area.height);
    ASSERT_NE(row, nullptr);
    int ink = 0;
    for (int py = 0; py < gdk_pixbuf_get_height(row); ++py)
        for (int px = 0; px < gdk_pixbuf_get_width(row); ++px) {
            const rgba c = pixel_of(row, px, py);
            ink += std::abs(c.r - 0x45) < 40 && std::abs(c.g - 0x4b) < 40 && std::abs(c.b - 0x54) < 40;
        }
    g_object_unref(row);
    EXPECT_GE(ink, 8);
    userlist_clear(chan);
}

// The icon stored in the switcher for the channel's row.
GdkPixbuf *switcher_channel_icon(chanview *cv)
{
    GtkTreeModel *m = GTK_TREE_MODEL(cv->store);
    GtkTreeIter server, child;
    if (!gtk_tree_model_get_iter_first(m, &server) || !gtk_tree_model_iter_children(m, &child, &server))
        return nullptr;
    GdkPixbuf *icon = nullptr;
    gtk_tree_model_get(m, &child, 4, &icon, -1);
    if (icon)
        g_object_unref(icon); // the store keeps its own reference
    return icon;
}

TEST_F(OnScreen, SwitcherImagesFollowTheDarkModeWhileRunning)
{
    message_tags_data tags;
    userlist_add(chan, "@oper", nullptr, nullptr, nullptr, &tags);
    GtkTreeModel *users = nullptr;
    ASSERT_TRUE(
        pump_until([&] { return (users = gtk_tree_view_get_model(GTK_TREE_VIEW(view()->userlist))) != nullptr; }));
    const auto first_user_icon = [&] {
        GtkTreeIter it;
        GdkPixbuf *icon = nullptr;
        if (gtk_tree_model_get_iter_first(users, &it))
            gtk_tree_model_get(users, &it, 0, &icon, -1);
        if (icon)
            g_object_unref(icon);
        return icon;
    };
    chanview *cv = view()->switcher;
    ASSERT_EQ(switcher_channel_icon(cv), pix_tree_channel);
    EXPECT_LT(ink_brightness(pix_tree_channel), 100);
    GtkSettings *gs = gtk_settings_get_default();
    prefs.gui_dark_mode = 1;
    g_object_set(gs, "gtk-application-prefer-dark-theme", TRUE, nullptr);
    EXPECT_GT(ink_brightness(pix_tree_channel), 180);
    EXPECT_EQ(switcher_channel_icon(cv), pix_tree_channel);
    EXPECT_EQ(first_user_icon(), pix_ulist_op);
    prefs.gui_dark_mode = 2;
    g_object_set(gs, "gtk-application-prefer-dark-theme", FALSE, nullptr);
    EXPECT_LT(ink_brightness(pix_tree_channel), 100);
    EXPECT_EQ(switcher_channel_icon(cv), pix_tree_channel);
    EXPECT_EQ(first_user_icon(), pix_ulist_op);
    userlist_clear(chan);
}

TEST_F(OnScreen, MenuImagesComeFromTheUsersFolderOrTheIconTheme)
{
    prefs.gui_dark_mode = 1;
    write_png(config_dir + "/icons/dark/quit.png", 24, 24, 250, 10, 10);
    GtkWidget *quit = g_object_ref_sink(gtkutil_image_new_from_stock("gtk-quit", GTK_ICON_SIZE_MENU));
    ASSERT_EQ(gtk_image_get_storage_type(GTK_IMAGE(quit)), GTK_IMAGE_PIXBUF);
    EXPECT_EQ(pixel_of(gtk_image_get_pixbuf(GTK_IMAGE(quit)), 3, 3).r, 250);
    EXPECT_EQ(gdk_pixbuf_get_width(gtk_image_get_pixbuf(GTK_IMAGE(quit))), 16); // the 24-pixel file fitted
    g_object_unref(quit);
    prefs.gui_dark_mode = 2;
    clear_user_icons();

    const auto theme_name = [](const char *name) {
        GtkWidget *img = g_object_ref_sink(gtkutil_image_new_from_stock(name, GTK_ICON_SIZE_BUTTON));
        std::string out = "(not by name)";
        if (gtk_image_get_storage_type(GTK_IMAGE(img)) == GTK_IMAGE_ICON_NAME) {
            const gchar *n = nullptr;
            gtk_image_get_icon_name(GTK_IMAGE(img), &n, nullptr);
            out = n ? n : "";
        }
        g_object_unref(img);
        return out;
    };
    // Our own drawing, in the light variant now.
    EXPECT_EQ(theme_name("gtk-quit"), "(not by name)");
    // Neither a menu row nor ours: the desktop theme's, mapped or as named.
    EXPECT_EQ(theme_name("gtk-media-play"), "media-playback-start");
    EXPECT_EQ(theme_name("weather-storm"), "weather-storm");

    // The input line offers the emoji chooser through an icon that exists.
    GtkEntry *input = GTK_ENTRY(view()->input_entry);
    EXPECT_NE(gtk_entry_get_icon_storage_type(input, GTK_ENTRY_ICON_SECONDARY), GTK_IMAGE_EMPTY);
}

TEST_F(OnScreen, BackgroundImageIsDrawnUnderTheTextAndAMissingOneIsReported)
{
    const std::string green = write_png(config_dir + "/green.png", 8, 8, 20, 160, 90);
    g_strlcpy(prefs.text_background, green.c_str(), sizeof prefs.text_background);
    sessionwin_apply_settings(chan);
    print(chan, "a line over the picture");
    drawn(GTK_WIDGET(xtext()));
    const int h = gtk_widget_get_allocated_height(GTK_WIDGET(xtext()));
    const rgba under = window_pixel(gtk_widget_get_window(GTK_WIDGET(xtext())), 300, h - 5);
    EXPECT_EQ(under.r, 20);
    EXPECT_EQ(under.g, 160);
    EXPECT_EQ(under.b, 90);
    screenshot(GTK_WIDGET(xtext()), "icons-background.png");

    const std::string missing = config_dir + "/no-such-picture.png";
    g_strlcpy(prefs.text_background, missing.c_str(), sizeof prefs.text_background);
    sessionwin_apply_settings(chan);
    GtkWidget *box = nullptr;
    EXPECT_TRUE(pump_until([&] { return (box = find_message("Cannot open:")) != nullptr; }));
    if (box) {
        gchar *text = nullptr;
        g_object_get(box, "text", &text, nullptr);
        EXPECT_EQ(std::string(text), "Cannot open:\n\n" + missing);
        g_free(text);
        gtk_widget_destroy(box);
    }
    // A long name is cut for the box at a character boundary, never inside one.
    std::string long_name = config_dir + "/";
    if (long_name.size() % 2 == 0)
        long_name += "a"; // so that byte 242 falls inside a two-byte character
    while (long_name.size() < 250)
        long_name += "\xc3\xa9";
    g_strlcpy(prefs.text_background, long_name.c_str(), sizeof prefs.text_background);
    sessionwin_apply_settings(chan);
    EXPECT_TRUE(pump_until([&] { return (box = find_message("Cannot open:")) != nullptr; }));
    if (box) {
        gchar *text = nullptr;
        g_object_get(box, "text", &text, nullptr);
        const std::string shown = text;
        g_free(text);
        EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));
        EXPECT_LE(shown.size() - std::strlen("Cannot open:\n\n"), 242u);
        EXPECT_GE(shown.size() - std::strlen("Cannot open:\n\n"), 241u);
        gtk_widget_destroy(box);
    }
    g_strlcpy(prefs.text_background, missing.c_str(), sizeof prefs.text_background);
    sessionwin_apply_settings(chan);
    EXPECT_TRUE(pump_until([&] { return (box = find_message("Cannot open:")) != nullptr; }));
    if (box)
        gtk_widget_destroy(box);

    // Applying again without a change does not ask again; the view is plain.
    sessionwin_apply_settings(chan);
    pump_for(100);
    EXPECT_EQ(find_message("Cannot open:"), nullptr);
    EXPECT_EQ(pixmaps_text_background(), nullptr);
    prefs.text_background[0] = 0;
    sessionwin_apply_settings(chan);
}

void press(GtkWidget *widget, guint keyval, GdkModifierType mods = GdkModifierType(0))
{
    GdkEvent *ev = gdk_event_new(GDK_KEY_PRESS);
    ev->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    ev->key.keyval = keyval;
    ev->key.state = mods;
    gdk_event_set_device(ev, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(widget, ev);
    gdk_event_free(ev);
}

GtkWidget *search_entry(session_view *v)
{
    return find_descendant(
        v->window, [](GtkWidget *w) { return g_strcmp0(gtk_widget_get_name(w), "lumenwick-searchentry") == 0; });
}

GtkToggleButton *search_option(session_view *v, const char *label)
{
    return GTK_TOGGLE_BUTTON(find_descendant(v->window, [&](GtkWidget *w) {
        return GTK_IS_CHECK_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), label) == 0;
    }));
}

std::string current_match(session *sess)
{
    std::size_t s = 0, e = 0;
    const xtext::entry *m = gtk_xtext_buffer_model(tab_of(sess)->buffer).current_match(&s, &e);
    return m ? std::string(m->view()) + "@" + std::to_string(s) : "(none)";
}

std::string entry_problem(GtkWidget *entry)
{
    if (gtk_entry_get_icon_storage_type(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY) == GTK_IMAGE_EMPTY)
        return "";
    gchar *tip = gtk_entry_get_icon_tooltip_text(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY);
    std::string out = tip ? tip : "(no tip)";
    g_free(tip);
    return out;
}

TEST_F(OnScreen, SearchBarFindsHighlightsAndJumpsToChannels)
{
    prefs.text_search_highlight_all = 0;
    prefs.text_search_case_match = 0;
    prefs.text_search_regexp = 0;
    prefs.text_search_follow = 0;
    print(chan, "alpha one\nbeta two\nALPHA three");
    session_view *v = view();
    GtkWidget *entry = search_entry(v);
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(gtk_widget_get_mapped(entry));
    // Until the menu bar exists the input line's menu opens the bar.
    GtkWidget *popup = g_object_ref_sink(gtk_menu_new());
    g_signal_emit_by_name(v->input_entry, "populate-popup", popup);
    GtkWidget *open_item = find_descendant(popup, [](GtkWidget *w) {
        return GTK_IS_MENU_ITEM(w) && g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), "_Search Text...") == 0;
    });
    ASSERT_NE(open_item, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(open_item));
    g_object_unref(popup);
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(entry); }));
    EXPECT_TRUE(gtk_widget_is_focus(entry));

    // Typing looks back from the newest line; Enter goes on (and round).
    gtk_entry_set_text(GTK_ENTRY(entry), "alpha");
    EXPECT_EQ(current_match(chan), "ALPHA three@0");
    gtk_widget_activate(entry);
    EXPECT_EQ(current_match(chan), "alpha one@0");
    mg_search_handle_previous(chan);
    EXPECT_EQ(current_match(chan), "ALPHA three@0");
    mg_search_handle_next(chan);

    // On screen: the current match wears the selection colours, the other
    // match only once "Highlight all" is on.
    GtkWidget *xt = GTK_WIDGET(xtext());
    const int line_h = gtk_widget_get_allocated_height(xt) /
                       int(gtk_adjustment_get_page_size(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(xt))));
    const int x = gtk_xtext_buffer_model(tab_of(chan)->buffer).at(0).indent + 2;
    const auto shade = [&](int line) {
        const rgba c = window_pixel(gtk_widget_get_window(xt), x, line * line_h + 1);
        return c.r * 65536 + c.g * 256 + c.b;
    };
    drawn(xt);
    const int plain = shade(1);
    EXPECT_NE(shade(0), plain);
    EXPECT_EQ(shade(2), plain);
    gtk_toggle_button_set_active(search_option(v, "_Highlight all"), TRUE);
    EXPECT_EQ(prefs.text_search_highlight_all, 1);
    EXPECT_EQ(current_match(chan), "alpha one@0") << "highlighting alone does not move on";
    drawn(xt);
    EXPECT_EQ(shade(2), shade(0));
    screenshot(v->window, "icons-search.png");

    // Match case re-runs the search: only the lower-case line is left.
    gtk_toggle_button_set_active(search_option(v, "Mat_ch case"), TRUE);
    EXPECT_EQ(current_match(chan), "alpha one@0");
    gtk_widget_activate(entry);
    EXPECT_EQ(current_match(chan), "alpha one@0");
    gtk_toggle_button_set_active(search_option(v, "Mat_ch case"), FALSE);

    gtk_entry_set_text(GTK_ENTRY(entry), "zzz");
    EXPECT_EQ(current_match(chan), "(none)");
    EXPECT_EQ(entry_problem(entry), "No results found.");
    gtk_toggle_button_set_active(search_option(v, "_Regex"), TRUE);
    gtk_entry_set_text(GTK_ENTRY(entry), "t(w");
    EXPECT_NE(entry_problem(entry), "");
    EXPECT_NE(entry_problem(entry), "No results found.");
    gtk_entry_set_text(GTK_ENTRY(entry), "t[wh]");
    EXPECT_EQ(entry_problem(entry), "");
    EXPECT_EQ(current_match(chan), "ALPHA three@6");
    gtk_toggle_button_set_active(search_option(v, "_Regex"), FALSE);

    // Channels only: a name holding the text, in any case, comes to front.
    session *other = new_ircwindow(server_tab->server, "#FindMe", SESS_CHANNEL, 0);
    ASSERT_EQ(mg_front_session(), chan);
    gtk_toggle_button_set_active(search_option(v, "_Channels only"), TRUE);
    gtk_entry_set_text(GTK_ENTRY(entry), "dme");
    EXPECT_EQ(mg_front_session(), other);
    gtk_entry_set_text(GTK_ENTRY(entry), "nowhere");
    EXPECT_EQ(entry_problem(entry), "No channels found.");
    gtk_toggle_button_set_active(search_option(v, "_Channels only"), FALSE);
    mg_bring_tofront_sess(chan);

    // Escape closes the bar, ends the search and gives the input line focus.
    gtk_entry_set_text(GTK_ENTRY(entry), "beta");
    EXPECT_EQ(current_match(chan), "beta two@0");
    press(entry, GDK_KEY_Escape);
    EXPECT_FALSE(gtk_widget_get_visible(entry) && gtk_widget_get_mapped(entry));
    EXPECT_EQ(current_match(chan), "(none)");
    EXPECT_TRUE(gtk_widget_is_focus(v->input_entry));
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "");
    // Control+F on the input line opens it again.
    press(v->input_entry, GDK_KEY_f, GDK_CONTROL_MASK);
    EXPECT_TRUE(gtk_widget_is_focus(entry));
    EXPECT_TRUE(gtk_widget_get_visible(entry));
    press(entry, GDK_KEY_Escape);
    fe_close_window(other);
    prefs.text_search_highlight_all = 0;
}

TEST_F(OnScreen, SaveTextWritesTheConversationWithoutCodesAndReportsFailure)
{
    print(chan, "\002bold\002 and \00304red\003\nsecond line");
    const std::string path = config_dir + "/saved.txt";
    {
        std::ofstream old(path);
        old << "old contents that are longer than the new ones, to catch a missing truncation\n";
    }
    ASSERT_TRUE(mg_save_text_to(chan, path.c_str()));
    std::ifstream in(path);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "bold and red\nsecond line\n");
    struct stat st {
    };
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Through the menu's way: a chooser offering "<channel>.txt" at home.
    mg_save_text(chan);
    GtkWidget *chooser = nullptr;
    ASSERT_TRUE(pump_until([&] { return (chooser = find_shown_titled("Select an output filename")) != nullptr; }));
    gchar *offered = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(chooser));
    EXPECT_STREQ(offered, "#icons.txt");
    g_free(offered);
    const std::string chosen = config_dir + "/#icons.txt";
    ASSERT_TRUE(pump_until([&] {
        // A save chooser ignores Accept until it has looked at its folder.
        if (GtkWidget *c = find_shown_titled("Select an output filename"))
            gtk_dialog_response(GTK_DIALOG(c), GTK_RESPONSE_ACCEPT);
        pump_for(50);
        return g_file_test(chosen.c_str(), G_FILE_TEST_EXISTS);
    }));
    std::ifstream chosen_in(chosen);
    std::stringstream chosen_text;
    chosen_text << chosen_in.rdbuf();
    EXPECT_EQ(chosen_text.str(), "bold and red\nsecond line\n");

    EXPECT_FALSE(mg_save_text_to(chan, (config_dir + "/no/such/folder/x.txt").c_str()));
    GtkWidget *box = nullptr;
    EXPECT_TRUE(pump_until([&] { return (box = find_message("Cannot write to")) != nullptr; }));
    if (box)
        gtk_widget_destroy(box);
    g_remove(path.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    gchar *dir = g_dir_make_tmp("lumenwick-icons-XXXXXX", nullptr);
    config_dir = dir;
    g_setenv("HOME", dir, TRUE); // "Save Text…" offers a file there
    set_xdir(dir);
    load_default_config();
    prefs.identd_server = 0;
    arg_skip_plugins = 1;
    prefs.gui_dark_mode = 2;
    // The tree switcher with images and the user list with status images.
    prefs.gui_tab_layout = 2;
    prefs.gui_tab_icons = 1;
    prefs.gui_ulist_icons = 1;
    have_display = gtk_init_check(nullptr, nullptr);
    if (have_display) {
        fe_init();
        prefs.gui_dark_mode = 2;
    }
    const int result = RUN_ALL_TESTS();
    const std::string rm = std::string("rm -rf '") + dir + "'";
    if (std::system(rm.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir);
    g_free(dir);
    return result;
}
