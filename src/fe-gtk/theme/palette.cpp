#include "palette.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr theme_color rgb8(uint32_t v)
{
    return {((v >> 16) & 0xff) / 255.0, ((v >> 8) & 0xff) / 255.0, (v & 0xff) / 255.0, 1.0};
}

constexpr theme_color rgb16(uint32_t r, uint32_t g, uint32_t b)
{
    return {r / 65535.0, g / 65535.0, b / 65535.0, 1.0};
}

const theme_token_def TOKEN_DEFS[THEME_TOKEN_COUNT] = {
    {theme_token(0), 0, "mirc_0"},
    {theme_token(1), 1, "mirc_1"},
    {theme_token(2), 2, "mirc_2"},
    {theme_token(3), 3, "mirc_3"},
    {theme_token(4), 4, "mirc_4"},
    {theme_token(5), 5, "mirc_5"},
    {theme_token(6), 6, "mirc_6"},
    {theme_token(7), 7, "mirc_7"},
    {theme_token(8), 8, "mirc_8"},
    {theme_token(9), 9, "mirc_9"},
    {theme_token(10), 10, "mirc_10"},
    {theme_token(11), 11, "mirc_11"},
    {theme_token(12), 12, "mirc_12"},
    {theme_token(13), 13, "mirc_13"},
    {theme_token(14), 14, "mirc_14"},
    {theme_token(15), 15, "mirc_15"},
    {theme_token(16), 16, "mirc_16"},
    {theme_token(17), 17, "mirc_17"},
    {theme_token(18), 18, "mirc_18"},
    {theme_token(19), 19, "mirc_19"},
    {theme_token(20), 20, "mirc_20"},
    {theme_token(21), 21, "mirc_21"},
    {theme_token(22), 22, "mirc_22"},
    {theme_token(23), 23, "mirc_23"},
    {theme_token(24), 24, "mirc_24"},
    {theme_token(25), 25, "mirc_25"},
    {theme_token(26), 26, "mirc_26"},
    {theme_token(27), 27, "mirc_27"},
    {theme_token(28), 28, "mirc_28"},
    {theme_token(29), 29, "mirc_29"},
    {theme_token(30), 30, "mirc_30"},
    {theme_token(31), 31, "mirc_31"},
    {THEME_TOKEN_SELECTION_FOREGROUND, 32, "selection_foreground"},
    {THEME_TOKEN_SELECTION_BACKGROUND, 33, "selection_background"},
    {THEME_TOKEN_TEXT_FOREGROUND, 34, "text_foreground"},
    {THEME_TOKEN_TEXT_BACKGROUND, 35, "text_background"},
    {THEME_TOKEN_MARKER, 36, "marker"},
    {THEME_TOKEN_TAB_NEW_DATA, 37, "tab_new_data"},
    {THEME_TOKEN_TAB_HIGHLIGHT, 38, "tab_highlight"},
    {THEME_TOKEN_TAB_NEW_MESSAGE, 39, "tab_new_message"},
    {THEME_TOKEN_TAB_AWAY, 40, "tab_away"},
    {THEME_TOKEN_SPELL, 41, "spell"},
};

// The sixteen IRC colours and the ten interface colours of each set.
const theme_color LIGHT_BASE[16] = {
    rgb8(0xd3d7cf), rgb8(0x2e3436),
    rgb8(0x3465a4), rgb8(0x4e9a06),
    rgb8(0xcc0000), rgb8(0x8f3902),
    rgb8(0x5c3566), rgb8(0xce5c00),
    rgb8(0xc4a000), rgb8(0x73d216),
    rgb8(0x11a879), rgb8(0x58a19d),
    rgb8(0x57799e), rgb16(0xa0d0, 0x42d4, 0x6562),
    rgb8(0x555753), rgb8(0x888a85),
};
const theme_color LIGHT_UI[10] = {
    rgb8(0xd3d7cf),
    rgb8(0x204a87),
    rgb16(0x2512, 0x29e8, 0x2b85),
    rgb16(0xfae0, 0xfae0, 0xf8c4),
    rgb8(0x8f3902),
    rgb8(0x3465a4),
    rgb8(0x4e9a06),
    rgb8(0xce5c00),
    rgb8(0x888a85),
    rgb8(0xa40000),
};
const theme_color DARK_BASE[16] = {
    rgb8(0xe5e5e5), rgb8(0x3c3c3c), rgb8(0x569cd6), rgb8(0x0dbc79), rgb8(0xf44747), rgb8(0xce9178),
    rgb8(0xc586c0), rgb8(0xd7ba7d), rgb8(0xdcdcaa), rgb8(0xb5cea8), rgb8(0x4ec9b0), rgb8(0x9cdcfe),
    rgb8(0x3794ff), rgb8(0xd670d6), rgb8(0x808080), rgb8(0xc0c0c0),
};
const theme_color DARK_UI[10] = {
    rgb8(0xffffff), rgb8(0x264f78), rgb8(0xd4d4d4), rgb8(0x1e1e1e), rgb8(0x404040),
    rgb8(0x3794ff), rgb8(0xd7ba7d), rgb8(0xf44747), rgb8(0x808080), rgb8(0xf44747),
};

// Colours 16..98 of the 99-colour IRC table (only 32..98 are used: the
// palette's tokens 16..31 take the lower places).
const uint32_t EXTENDED[83] = {
    0x470000, 0x472100, 0x474700, 0x324700, 0x004700, 0x00472c, 0x004747, 0x002747, 0x000047, 0x2e0047, 0x470047,
    0x47002a, 0x740000, 0x743a00, 0x747400, 0x517400, 0x007400, 0x007449, 0x007474, 0x004074, 0x000074, 0x4b0074,
    0x740074, 0x740045, 0xb50000, 0xb56300, 0xb5b500, 0x7db500, 0x00b500, 0x00b571, 0x00b5b5, 0x0063b5, 0x0000b5,
    0x7500b5, 0xb500b5, 0xb5006b, 0xff0000, 0xff8c00, 0xffff00, 0xb2ff00, 0x00ff00, 0x00ffa0, 0x00ffff, 0x008cff,
    0x0000ff, 0xa500ff, 0xff00ff, 0xff0098, 0xff5959, 0xffb459, 0xffff71, 0xcfff60, 0x6fff6f, 0x65ffc9, 0x6dffff,
    0x59b4ff, 0x5959ff, 0xc459ff, 0xff66ff, 0xff59bc, 0xff9c9c, 0xffd39c, 0xffff9c, 0xe2ff9c, 0x9cff9c, 0x9cffdb,
    0x9cffff, 0x9cd3ff, 0x9c9cff, 0xdc9cff, 0xff9cff, 0xff94d3, 0x000000, 0x131313, 0x282828, 0x363636, 0x4d4d4d,
    0x656565, 0x818181, 0x9f9f9f, 0xbcbcbc, 0xe2e2e2, 0xffffff,
};

theme_palette make_set(const theme_color (&base)[16], const theme_color (&ui)[10])
{
    theme_palette p;
    for (int i = 0; i < 32; ++i)
        p.colors[i] = base[i % 16];
    for (int i = 0; i < 10; ++i)
        p.colors[32 + i] = ui[i];
    return p;
}

uint16_t channel16(double v)
{
    return static_cast<uint16_t>(std::clamp(v * 65535.0 + 0.5, 0.0, 65535.0));
}

void css_of(const theme_color &c, char *out)
{
    auto ch = [](double v) { return static_cast<unsigned>(std::clamp(v * 255.0 + 0.5, 0.0, 255.0)); };
    // %.3f through GLib so a locale's decimal comma cannot break the CSS.
    char alpha[8];
    g_ascii_formatd(alpha, sizeof alpha, "%.3f", std::clamp(c.alpha, 0.0, 1.0));
    std::snprintf(out, 32, "rgba(%u,%u,%u,%.5s)", ch(c.red), ch(c.green), ch(c.blue), alpha);
}

bool valid_token(int token)
{
    return token >= 0 && token < THEME_TOKEN_COUNT;
}

} // namespace

std::size_t theme_palette_token_count(void)
{
    return THEME_TOKEN_COUNT;
}
std::size_t theme_palette_token_def_count(void)
{
    return THEME_TOKEN_COUNT;
}

const theme_token_def *theme_palette_token_def_at(std::size_t i)
{
    return i < THEME_TOKEN_COUNT ? &TOKEN_DEFS[i] : nullptr;
}

const theme_token_def *theme_palette_token_def_for_token(int token)
{
    return valid_token(token) ? &TOKEN_DEFS[token] : nullptr;
}

const char *theme_palette_token_name(int token)
{
    return valid_token(token) ? TOKEN_DEFS[token].name : nullptr;
}

bool theme_palette_token_to_legacy_index(int token, int *out)
{
    if (!valid_token(token) || !out)
        return false;
    *out = TOKEN_DEFS[token].legacy_index;
    return true;
}

bool theme_palette_legacy_index_to_token(int index, int *out)
{
    if (!out)
        return false;
    for (const theme_token_def &d : TOKEN_DEFS)
        if (d.legacy_index == index) {
            *out = d.token;
            return true;
        }
    return false;
}

bool theme_palette_set_color(theme_palette *palette, int token, const theme_color *color)
{
    if (!palette || !color || !valid_token(token))
        return false;
    palette->colors[token] = *color;
    return true;
}

bool theme_palette_get_color(const theme_palette *palette, int token, theme_color *out)
{
    if (!palette || !out || !valid_token(token))
        return false;
    *out = palette->colors[token];
    return true;
}

bool theme_palette_from_legacy_colors(theme_palette *palette, const theme_color *array, std::size_t length)
{
    if (!palette || !array)
        return false;
    for (const theme_token_def &d : TOKEN_DEFS) {
        if (static_cast<std::size_t>(d.legacy_index) >= length) {
            g_warning("legacy colour array of %zu entries is too short", length);
            return false;
        }
        palette->colors[d.token] = array[d.legacy_index];
    }
    return true;
}

bool theme_palette_to_legacy_colors(const theme_palette *palette, theme_color *array, std::size_t length)
{
    if (!palette || !array)
        return false;
    for (const theme_token_def &d : TOKEN_DEFS) {
        if (static_cast<std::size_t>(d.legacy_index) >= length) {
            g_warning("legacy colour array of %zu entries is too short", length);
            return false;
        }
        array[d.legacy_index] = palette->colors[d.token];
    }
    return true;
}

void theme_palette_to_xtext_colors(const theme_palette *palette, theme_color *array, std::size_t count)
{
    if (!palette || !array)
        return;
    for (const theme_token_def &d : TOKEN_DEFS)
        if (static_cast<std::size_t>(d.legacy_index) < count)
            array[d.legacy_index] = palette->colors[d.token];
}

void theme_palette_to_widget_style_values(const theme_palette *palette, theme_widget_style_values *v)
{
    if (!palette || !v)
        return;
    v->foreground = palette->colors[THEME_TOKEN_TEXT_FOREGROUND];
    v->background = palette->colors[THEME_TOKEN_TEXT_BACKGROUND];
    v->selection_foreground = palette->colors[THEME_TOKEN_SELECTION_FOREGROUND];
    v->selection_background = palette->colors[THEME_TOKEN_SELECTION_BACKGROUND];
    css_of(v->foreground, v->foreground_css);
    css_of(v->background, v->background_css);
    css_of(v->selection_foreground, v->selection_foreground_css);
    css_of(v->selection_background, v->selection_background_css);
}

void theme_palette_color_get_rgb16(const theme_color *color, uint16_t *r, uint16_t *g, uint16_t *b)
{
    if (!color || !r || !g || !b)
        return;
    *r = channel16(color->red);
    *g = channel16(color->green);
    *b = channel16(color->blue);
}

const theme_palette &theme_palette_builtin_light(void)
{
    static const theme_palette p = make_set(LIGHT_BASE, LIGHT_UI);
    return p;
}

const theme_palette &theme_palette_builtin_dark(void)
{
    static const theme_palette p = make_set(DARK_BASE, DARK_UI);
    return p;
}

bool theme_extended_mirc_color(int index, theme_color *out)
{
    if (index < 32 || index > 98 || !out)
        return false;
    *out = rgb8(EXTENDED[index - 16]);
    return true;
}

void theme_palette_fill_xtext(const theme_palette *palette, theme_color *array, std::size_t count)
{
    if (!palette || !array)
        return;
    for (std::size_t i = 0; i < count && i < 32; ++i)
        array[i] = palette->colors[i];
    for (std::size_t i = 32; i < count && i < 99; ++i)
        theme_extended_mirc_color(static_cast<int>(i), &array[i]);
    const int tail[5] = {THEME_TOKEN_SELECTION_FOREGROUND, THEME_TOKEN_SELECTION_BACKGROUND,
                         THEME_TOKEN_TEXT_FOREGROUND, THEME_TOKEN_TEXT_BACKGROUND, THEME_TOKEN_MARKER};
    for (std::size_t i = 99; i < count && i < THEME_XTEXT_COLOR_COUNT; ++i)
        array[i] = palette->colors[tail[i - 99]];
}
