// The palette in use: the light and dark sets with the user's own colours,
// kept in colors.conf. Main thread only; toolkit-free (the GTK colour
// mapping and the dark preference live in theme-gtk.h).
#pragma once

#include "palette.h"

#include <string>

// Reads colors.conf from the configuration directory (built-in colours
// when it is missing).
void theme_runtime_load(void);
// The same from the file's text (for tests and the loader).
void theme_runtime_load_from_text(const char *text);
// The file's text for the current sets (bringing the sets up to date).
std::string theme_runtime_save_text(void);
bool theme_runtime_save(void);
// Two-phase save: a temporary file next to colors.conf (*path, g_free).
bool theme_runtime_save_prepare(char **path);
bool theme_runtime_save_finalize(const char *path);
void theme_runtime_save_discard(const char *path);

int theme_runtime_apply_mode(int mode, bool *changed);
bool theme_runtime_apply_dark_mode(bool dark);
bool theme_runtime_is_dark_active(void);
void theme_runtime_user_set_color(int token, const theme_color *color);
void theme_runtime_dark_set_color(int token, const theme_color *color);
void theme_runtime_reset_mode_colors(void);
void theme_runtime_clear_gtk_mapped_custom_tokens(void);
bool theme_runtime_mode_has_user_colors(bool dark);
// Whether the user set this token in the light set (mapping keeps those).
bool theme_runtime_light_token_is_user_set(int token);

bool theme_runtime_get_color(int token, theme_color *out);
void theme_runtime_get_widget_style_values(theme_widget_style_values *values);
void theme_runtime_get_xtext_colors(theme_color *array, std::size_t count);
const theme_palette &theme_runtime_active_palette(void);

// Accessors the widgets use.
bool theme_get_color(int token, theme_color *out);
bool theme_get_color_rgb16(int token, uint16_t *r, uint16_t *g, uint16_t *b);
bool theme_get_mirc_color(int index, theme_color *out);
bool theme_get_mirc_color_rgb16(int index, uint16_t *r, uint16_t *g, uint16_t *b);
bool theme_get_legacy_color(int legacy_index, theme_color *out);
void theme_get_widget_style_values(theme_widget_style_values *values);
void theme_get_xtext_colors(theme_color *array, std::size_t count);
