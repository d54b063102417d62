// The colour palette: 42 named tokens (the 32 IRC colours and ten interface
// colours), the built-in light and dark sets, and the conversions the
// widgets ask for. Toolkit-free.
#pragma once

#include <cstddef>
#include <cstdint>

enum theme_token : int {
    THEME_TOKEN_MIRC_0 = 0,
    THEME_TOKEN_SELECTION_FOREGROUND = 32,
    THEME_TOKEN_SELECTION_BACKGROUND = 33,
    THEME_TOKEN_TEXT_FOREGROUND = 34,
    THEME_TOKEN_TEXT_BACKGROUND = 35,
    THEME_TOKEN_MARKER = 36,
    THEME_TOKEN_TAB_NEW_DATA = 37,
    THEME_TOKEN_TAB_HIGHLIGHT = 38,
    THEME_TOKEN_TAB_NEW_MESSAGE = 39,
    THEME_TOKEN_TAB_AWAY = 40,
    THEME_TOKEN_SPELL = 41,
    THEME_TOKEN_COUNT = 42,
};

// Colours of the text view: 0..98 IRC colours, then these.
constexpr std::size_t THEME_XTEXT_COLOR_COUNT = 104;

struct theme_color {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const theme_color &) const = default;
};

struct theme_palette {
    theme_color colors[THEME_TOKEN_COUNT];
};

struct theme_token_def {
    theme_token token;
    int legacy_index;
    const char *name;
};

struct theme_widget_style_values {
    theme_color foreground, background, selection_foreground, selection_background;
    char foreground_css[32], background_css[32], selection_foreground_css[32], selection_background_css[32];
};

std::size_t theme_palette_token_count(void);
std::size_t theme_palette_token_def_count(void);
const theme_token_def *theme_palette_token_def_at(std::size_t i);
const theme_token_def *theme_palette_token_def_for_token(int token);
const char *theme_palette_token_name(int token);
bool theme_palette_token_to_legacy_index(int token, int *out);
bool theme_palette_legacy_index_to_token(int index, int *out);

bool theme_palette_set_color(theme_palette *palette, int token, const theme_color *color);
bool theme_palette_get_color(const theme_palette *palette, int token, theme_color *out);
// Copy all 42 colours between a palette and an array indexed by legacy index.
bool theme_palette_from_legacy_colors(theme_palette *palette, const theme_color *array, std::size_t length);
bool theme_palette_to_legacy_colors(const theme_palette *palette, theme_color *array, std::size_t length);
// Each token whose legacy index is below `count`.
void theme_palette_to_xtext_colors(const theme_palette *palette, theme_color *array, std::size_t count);
void theme_palette_to_widget_style_values(const theme_palette *palette, theme_widget_style_values *values);
void theme_palette_color_get_rgb16(const theme_color *color, uint16_t *r, uint16_t *g, uint16_t *b);

// The built-in sets.
const theme_palette &theme_palette_builtin_light(void);
const theme_palette &theme_palette_builtin_dark(void);
// The fixed colours 32..98 of the 99-colour IRC table; false outside.
bool theme_extended_mirc_color(int index, theme_color *out);
// The text view's colour array from a palette: 0..31 tokens, 32..98 fixed,
// then selection, text and marker colours. Entries past `count` untouched.
void theme_palette_fill_xtext(const theme_palette *palette, theme_color *array, std::size_t count);
