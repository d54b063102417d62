// The palette and colors.conf: older keys, saving what the user set, the
// text view's colour array and change detection between the sets.
#include "config/cfgfiles.h"
#include "theme/theme-runtime.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <string>

namespace
{

void expect_rgb16(int token, uint16_t r, uint16_t g, uint16_t b)
{
    uint16_t R, G, B;
    ASSERT_TRUE(theme_get_color_rgb16(token, &R, &G, &B));
    EXPECT_EQ(R, r) << "token " << token;
    EXPECT_EQ(G, g) << "token " << token;
    EXPECT_EQ(B, b) << "token " << token;
}

TEST(ColorsConf, OlderKeysAreReadAndSavedUnderTokenNamesThenReadBackAlike)
{
    theme_runtime_load_from_text("color_4 = ffff 0000 0000\n"
                                 "color_256 = 0102 0304 0506\n"
                                 "color_5 = zzzz 0000 0000\n" // malformed: skipped
                                 "dark_color_265 = 1111 2222 3333\n"
                                 "theme.mode.dark.token.mirc_4 = 0a0a 0b0b 0c0c\n"
                                 "dark_color_4 = ffff ffff ffff\n"); // the newer key wins
    expect_rgb16(4, 0xffff, 0, 0);
    expect_rgb16(THEME_TOKEN_SELECTION_FOREGROUND, 0x0102, 0x0304, 0x0506);
    expect_rgb16(5, 0x8f8f, 0x3939, 0x0202); // built-in light
    EXPECT_TRUE(theme_runtime_mode_has_user_colors(false));
    EXPECT_TRUE(theme_runtime_mode_has_user_colors(true));

    const std::string saved = theme_runtime_save_text();
    EXPECT_EQ(saved.rfind("theme.palette.semantic_migrated = 1\n", 0), 0u);
    EXPECT_NE(saved.find("theme.mode.light.token.mirc_4 = ffff 0000 0000\n"), std::string::npos);
    EXPECT_NE(saved.find("theme.mode.light.token.selection_foreground = 0102 0304 0506\n"), std::string::npos);
    EXPECT_NE(saved.find("theme.mode.dark.token.spell = 1111 2222 3333\n"), std::string::npos);
    EXPECT_NE(saved.find("theme.mode.dark.token.mirc_4 = 0a0a 0b0b 0c0c\n"), std::string::npos);
    EXPECT_EQ(saved.find("mirc_5"), std::string::npos); // never set by the user

    theme_runtime_load_from_text(saved.c_str());
    EXPECT_EQ(theme_runtime_save_text(), saved);
    EXPECT_TRUE(theme_runtime_apply_dark_mode(true));
    expect_rgb16(THEME_TOKEN_SPELL, 0x1111, 0x2222, 0x3333);
    expect_rgb16(4, 0x0a0a, 0x0b0b, 0x0c0c);
}

TEST(ColorsConf, SavingGoesThroughATemporaryFileThatReplacesTheOldOne)
{
    gchar *dir = g_dir_make_tmp("colors-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    set_xdir(dir);
    theme_runtime_load(); // no file: built-in colours
    expect_rgb16(4, 0xcccc, 0, 0);
    const theme_color green{0, 1, 0, 1};
    theme_runtime_user_set_color(7, &green);
    char *temp = nullptr;
    ASSERT_TRUE(theme_runtime_save_prepare(&temp));
    EXPECT_NE(std::string(temp).find("colors.conf.new."), std::string::npos);
    GStatBuf st;
    ASSERT_EQ(g_stat(temp, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(theme_runtime_save_finalize(temp));
    g_free(temp);

    theme_runtime_load_from_text(nullptr);
    theme_runtime_load();
    expect_rgb16(7, 0, 0xffff, 0);
    gchar *path = g_build_filename(dir, "colors.conf", nullptr);
    g_unlink(path);
    g_free(path);
    g_rmdir(dir);
    g_free(dir);
}

TEST(Palette, SetsSwitchWithChangeDetectionAndTheTextViewArrayHasItsLayout)
{
    theme_runtime_load_from_text(nullptr);
    bool changed = true;
    EXPECT_EQ(theme_runtime_apply_mode(0, &changed), 0);
    EXPECT_FALSE(changed);
    theme_color same;
    theme_get_color(3, &same);
    theme_runtime_user_set_color(3, &same);
    EXPECT_FALSE(theme_runtime_apply_dark_mode(false)); // same value: no change
    EXPECT_TRUE(theme_runtime_apply_dark_mode(true));
    EXPECT_TRUE(theme_runtime_is_dark_active());
    expect_rgb16(THEME_TOKEN_TEXT_BACKGROUND, 0x1e1e, 0x1e1e, 0x1e1e);
    expect_rgb16(16 + 4, 0xf4f4, 0x4747, 0x4747); // 16..31 repeat 0..15

    theme_color c;
    EXPECT_FALSE(theme_get_mirc_color(99, &c));
    uint16_t r, g, b;
    ASSERT_TRUE(theme_get_mirc_color_rgb16(40, &r, &g, &b));
    EXPECT_EQ(r, 0xb5b5);
    EXPECT_EQ(g, 0);

    theme_color xt[THEME_XTEXT_COLOR_COUNT];
    const theme_color poison{0.5, 0.5, 0.5, 0.25};
    for (auto &x : xt)
        x = poison;
    theme_get_xtext_colors(xt, 50);
    EXPECT_EQ(xt[49].alpha, 1.0);
    EXPECT_EQ(xt[50], poison); // past the count: untouched
    theme_get_xtext_colors(xt, THEME_XTEXT_COLOR_COUNT);
    theme_color marker;
    theme_get_color(THEME_TOKEN_MARKER, &marker);
    EXPECT_EQ(xt[103], marker);
    EXPECT_EQ(xt[36], (theme_color{0, 0, 0x74 / 255.0, 1}));
    EXPECT_EQ(xt[98], (theme_color{1, 1, 1, 1}));

    theme_widget_style_values v;
    theme_get_widget_style_values(&v);
    EXPECT_STREQ(v.background_css, "rgba(30,30,30,1.000)");
    theme_runtime_apply_dark_mode(false);
}

} // namespace
