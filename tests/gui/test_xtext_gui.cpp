// The conversation view on a real X display (run through with-xvfb.sh):
// the screen's pixels show the palette's colours in both sets, and a
// selection dragged with the pointer (xdotool) reaches the clipboard (xclip).
#include "config/cfgfiles.h"
#include "gui_support.h"
#include "textview/gtkxtext.h"
#include "theme/theme-gtk.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace
{

void settle(int ms = 300)
{
    const gint64 until = g_get_monotonic_time() + gint64(ms) * 1000;
    pump_until([&] { return g_get_monotonic_time() > until; }, ms + 100);
}

struct rgb {
    int r, g, b;
};

// A window with one text view, its own buffer shown.
struct view_window {
    GtkWidget *window = nullptr;
    GtkXText *xtext = nullptr;
    xtext_buffer *buf = nullptr;
    int char_w = 0, line_h = 0;
    int draws = 0;

    view_window()
    {
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 480, 160);
        gtk_window_move(GTK_WINDOW(window), 40, 40);
        xtext = GTK_XTEXT(gtk_xtext_new(nullptr, false));
        gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(xtext));
        gtk_xtext_set_font(xtext, "Monospace 14");
        gtk_xtext_set_indent(xtext, false);
        buf = gtk_xtext_buffer_new(xtext);
        g_signal_connect(xtext, "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer d) -> gboolean {
                             ++*static_cast<int *>(d);
                             return FALSE;
                         }),
                         &draws);
        gtk_widget_show_all(window);
        gtk_xtext_buffer_show(xtext, buf, true);
        pump_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(xtext)); });
        settle();
        char_w = gtk_xtext_buffer_model(buf).config().metrics->space_width;
        line_h = static_cast<int>(gtk_adjustment_get_upper(gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(xtext))));
    }
    ~view_window()
    {
        gtk_xtext_buffer_free(buf);
        gtk_widget_destroy(window);
    }
    // Until what was appended has been drawn and reached the X server.
    void drawn()
    {
        const int before = draws;
        EXPECT_TRUE(pump_until([&] { return draws > before; }));
        gdk_display_sync(gdk_display_get_default());
        settle(150);
    }
    void origin(int *x, int *y) { gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(xtext)), x, y); }
    // A pixel of the screen as the X server shows it.
    rgb pixel(int x, int y)
    {
        int ox, oy;
        origin(&ox, &oy);
        GdkPixbuf *pb = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), ox + x, oy + y, 1, 1);
        const guchar *p = gdk_pixbuf_get_pixels(pb);
        rgb c{p[0], p[1], p[2]};
        g_object_unref(pb);
        return c;
    }
    void screenshot(const char *path)
    {
        GdkWindow *w = gtk_widget_get_window(GTK_WIDGET(xtext));
        GdkPixbuf *pb = gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
        gdk_pixbuf_save(pb, path, "png", nullptr, nullptr);
        g_object_unref(pb);
    }
};

int font_height(GtkXText *xtext)
{
    // The view's unit is one line: the page holds height / line height lines.
    GtkAdjustment *adj = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(xtext));
    return gtk_widget_get_allocated_height(GTK_WIDGET(xtext)) / static_cast<int>(gtk_adjustment_get_page_size(adj));
}

void use_palette(bool dark)
{
    theme_runtime_load_from_text(nullptr);
    theme_runtime_apply_dark_mode(dark);
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark, nullptr);
}

std::string run_and_pump(const std::vector<const char *> &argv)
{
    GPid pid;
    gint out = -1;
    GError *error = nullptr;
    std::vector<char *> args;
    for (const char *a : argv)
        args.push_back(const_cast<char *>(a));
    args.push_back(nullptr);
    if (!g_spawn_async_with_pipes(nullptr, args.data(), nullptr,
                                  static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                                  nullptr, &pid, nullptr, &out, nullptr, &error)) {
        ADD_FAILURE() << argv[0] << ": " << error->message;
        g_error_free(error);
        return {};
    }
    bool exited = false;
    g_child_watch_add(
        pid,
        [](GPid p, gint, gpointer done) {
            *static_cast<bool *>(done) = true;
            g_spawn_close_pid(p);
        },
        &exited);
    // The clipboard owner is this process: keep its loop running meanwhile.
    EXPECT_TRUE(pump_until([&] { return exited; }, 5000)) << argv[0];
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = read(out, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(n));
    close(out);
    return text;
}

class XTextDisplay : public ::testing::TestWithParam<bool>
{
};

TEST_P(XTextDisplay, ScreenPixelsShowThePaletteColours)
{
    const bool dark = GetParam();
    use_palette(dark);
    view_window v;
    gtk_xtext_append(v.buf,
                     "\x03"
                     "0,4XXXXXXXX\x03"
                     "0,52YYYYYYYY",
                     -1, 0);
    gtk_xtext_append(v.buf, "plain", -1, 0);
    gtk_xtext_append(v.buf, "\x16reversed", -1, 0);
    v.drawn();
    const int fh = font_height(v.xtext);
    v.screenshot(dark ? "xtext-dark.png" : "xtext-light.png");

    const int y = fh / 2;
    const rgb red = v.pixel(v.char_w * 4, y); // inside the colour-4 background run
    if (dark) {
        EXPECT_EQ(red.r, 0xf4);
        EXPECT_EQ(red.g, 0x47);
    } else {
        EXPECT_EQ(red.r, 0xcc);
        EXPECT_EQ(red.g, 0x00);
    }
    const rgb fixed = v.pixel(v.char_w * 12, y); // extended colour 52: the same in both sets
    EXPECT_EQ(fixed.r, 0xff);
    EXPECT_EQ(fixed.g, 0x00);
    EXPECT_EQ(fixed.b, 0x00);

    // The view's own background is light or dark as the set asks, and the
    // reversed line paints the text colour behind it (the opposite shade).
    const rgb blank = v.pixel(400, fh * 5);
    const rgb reversed = v.pixel(v.char_w / 2, fh * 2 + fh / 2);
    const int blank_luma = blank.r + blank.g + blank.b, rev_luma = reversed.r + reversed.g + reversed.b;
    if (dark) {
        EXPECT_LT(blank_luma, 3 * 80);
        EXPECT_GT(rev_luma, 3 * 150);
    } else {
        EXPECT_GT(blank_luma, 3 * 200);
        EXPECT_LT(rev_luma, 3 * 100);
    }
}

INSTANTIATE_TEST_SUITE_P(BothPalettes, XTextDisplay, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Dark" : "Light"; });

TEST(XTextSelection, DraggedSelectionReachesTheClipboardWithoutCodes)
{
    use_palette(false);
    prefs.text_autocopy_text = 1;
    prefs.text_autocopy_stamp = 0;
    view_window v;
    gtk_xtext_append(v.buf,
                     "alpha \x02"
                     "beta\x02 gamma",
                     -1, 0);
    gtk_xtext_append(v.buf, "delta epsilon", -1, 0);
    v.drawn();
    const int fh = font_height(v.xtext);
    int ox, oy;
    v.origin(&ox, &oy);
    const std::string x0 = std::to_string(ox + v.char_w * 6 + 1), y0 = std::to_string(oy + fh / 2);
    const std::string x1 = std::to_string(ox + v.char_w * 3 + 1), y1 = std::to_string(oy + fh + fh / 2);
    run_and_pump({"xdotool", "mousemove", x0.c_str(), y0.c_str(), "mousedown", "1", "mousemove", "--sync", x1.c_str(),
                  y1.c_str(), "mouseup", "1"});
    settle();
    EXPECT_EQ(run_and_pump({"xclip", "-o", "-selection", "clipboard"}), "beta gamma\ndel");
    EXPECT_EQ(run_and_pump({"xclip", "-o", "-selection", "primary"}), "beta gamma\ndel");
    EXPECT_EQ(run_and_pump({"xclip", "-o", "-selection", "secondary"}), "beta gamma\ndel");

    // The selected bytes are drawn in the selection colours.
    theme_color sel_bg;
    theme_get_color(THEME_TOKEN_SELECTION_BACKGROUND, &sel_bg);
    const rgb inside = v.pixel(v.char_w * 1, fh + 2);
    const rgb outside = v.pixel(v.char_w * 8, fh + 2);
    EXPECT_NE(inside.r + inside.g + inside.b, outside.r + outside.g + outside.b);
    v.screenshot("xtext-selection.png");

    // With Control held the copy keeps the formatting codes (a second press
    // soon after the first would count as a double click).
    settle(800);
    run_and_pump({"xdotool", "keydown", "ctrl", "mousemove", x0.c_str(), y0.c_str(), "mousedown", "1", "mousemove",
                  "--sync", x1.c_str(), y1.c_str(), "mouseup", "1", "keyup", "ctrl"});
    settle();
    EXPECT_EQ(run_and_pump({"xclip", "-o", "-selection", "clipboard"}), "beta\x02 gamma\ndel");
}

// The largest share of text-coloured pixels in one pixel row of the lower
// half of line 0, between x0 and x1: an underline fills a whole row.
double underline_share(view_window &v, int x0, int x1, int fh)
{
    GdkPixbuf *pb = gdk_pixbuf_get_from_window(gtk_widget_get_window(GTK_WIDGET(v.xtext)), x0, 0, x1 - x0, fh);
    double best = 0;
    for (int y = fh / 2; y < fh; ++y) {
        int ink = 0;
        for (int x = 0; x < x1 - x0; ++x) {
            const guchar *p = gdk_pixbuf_get_pixels(pb) + y * gdk_pixbuf_get_rowstride(pb) + x * 3;
            ink += p[0] + p[1] + p[2] < 300;
        }
        best = std::max(best, double(ink) / (x1 - x0));
    }
    g_object_unref(pb);
    return best;
}

TEST(XTextHover, PointerOverALinkUnderlinesThatLinkOnly)
{
    use_palette(false);
    view_window v;
    gtk_xtext_set_urlcheck_function(v.xtext,
                                    [](GtkWidget *, const char *w) { return g_str_has_prefix(w, "http://") ? 1 : 0; });
    // A reset inside the link must not cut its underline short.
    gtk_xtext_append(v.buf, "see http://exam\x0fple.org/x now", -1, 0);
    v.drawn();
    const int fh = font_height(v.xtext);
    const int link0 = v.char_w * 4 + 1, link1 = v.char_w * 24 - 1;
    EXPECT_LT(underline_share(v, link0, link1, fh), 0.9);

    int ox, oy;
    v.origin(&ox, &oy);
    const std::string x = std::to_string(ox + v.char_w * 10), y = std::to_string(oy + fh / 2);
    run_and_pump({"xdotool", "mousemove", "--sync", x.c_str(), y.c_str()});
    EXPECT_TRUE(pump_until([&] { return underline_share(v, link0, link1, fh) > 0.95; }, 3000))
        << underline_share(v, link0, link1, fh);
    v.screenshot("xtext-hover.png");
    // The words around the link stay as they were.
    EXPECT_LT(underline_share(v, 1, v.char_w * 3 - 1, fh), 0.9);
    EXPECT_LT(underline_share(v, v.char_w * 25 + 1, v.char_w * 28 - 1, fh), 0.9);

    // The pointer leaves: the underline goes.
    run_and_pump({"xdotool", "mousemove", "--sync", "2", "2"});
    EXPECT_TRUE(pump_until([&] { return underline_share(v, link0, link1, fh) < 0.9; }, 3000));
}

TEST(ThemeGtk, MappingBlendsByAlphaAndKeepsTheUsersOwnColours)
{
    theme_runtime_load_from_text("theme.mode.light.token.text_background = 0000 8000 0000\n");
    theme_gtk_color_map map;
    map.text = {1, 1, 1, 1};
    map.background = {1, 1, 1, 1}; // the user's own background wins
    map.selection = {0, 0, 0, 0};  // fully transparent: the palette's
    map.selection_background = {1, 0, 0, 0.5};
    map.accent = {0, 0, 1, 1};
    const theme_palette &own = theme_runtime_active_palette();
    const theme_palette mapped = theme_palette_mapped(own, map);
    EXPECT_EQ(mapped.colors[THEME_TOKEN_TEXT_FOREGROUND], (theme_color{1, 1, 1, 1}));
    EXPECT_EQ(mapped.colors[THEME_TOKEN_TEXT_BACKGROUND], own.colors[THEME_TOKEN_TEXT_BACKGROUND]);
    EXPECT_EQ(mapped.colors[THEME_TOKEN_SELECTION_FOREGROUND], own.colors[THEME_TOKEN_SELECTION_FOREGROUND]);
    const theme_color half = mapped.colors[THEME_TOKEN_SELECTION_BACKGROUND];
    EXPECT_DOUBLE_EQ(half.red, 0.5 + 0.5 * own.colors[THEME_TOKEN_SELECTION_BACKGROUND].red);
    EXPECT_EQ(half.alpha, 1.0);
    for (int t : {THEME_TOKEN_MARKER, THEME_TOKEN_TAB_HIGHLIGHT, THEME_TOKEN_SPELL})
        EXPECT_EQ(mapped.colors[t], (theme_color{0, 0, 1, 1})) << t;
    EXPECT_EQ(mapped.colors[4], own.colors[4]); // IRC colours are never tinted
}

TEST(ThemeGtk, DarkPreferenceFallsBackToTheThemeNameWithoutPortalOrSchema)
{
    // No portal on this private bus and the memory settings backend: every
    // optional source is looked up first, none may abort.
    theme_policy_init();
    GtkSettings *gs = gtk_settings_get_default();
    g_object_set(gs, "gtk-theme-name", "Midnight-Noir", nullptr);
    EXPECT_TRUE(theme_policy_system_prefers_dark());
    g_object_set(gs, "gtk-theme-name", "Adwaita", nullptr);
    EXPECT_FALSE(theme_policy_system_prefers_dark());
    EXPECT_TRUE(theme_policy_is_dark_mode_active(1));
    EXPECT_FALSE(theme_policy_is_dark_mode_active(2));
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    gchar *dir = g_dir_make_tmp("lumenwick-xtext-XXXXXX", nullptr);
    set_xdir(dir);
    load_default_config();
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: run through with-xvfb.sh\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    g_rmdir(dir);
    g_free(dir);
    return result;
}
