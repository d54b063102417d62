// The palette meets GTK: colours tinted by a widget's theme colours, and
// whether the desktop prefers a dark appearance.
#pragma once

#include "theme/theme-runtime.h"

#include <gtk/gtk.h>

// The CSS class the palette's own style rules hang on; removed while a
// widget's theme colours are read.
#define THEME_PALETTE_CSS_CLASS "lumenwick-palette"

GdkRGBA theme_to_gdk(const theme_color &c);
theme_color theme_from_gdk(const GdkRGBA &c);

// A widget's theme colours in the roles the palette tints.
struct theme_gtk_color_map {
    GdkRGBA text, background, selection, selection_background, accent;
};
bool theme_gtk_color_map_from_widget(GtkWidget *widget, theme_gtk_color_map *map);
// `palette` tinted with the map: each role blended over its own colour.
theme_palette theme_palette_mapped(const theme_palette &palette, const theme_gtk_color_map &map);

void theme_runtime_get_widget_style_values_mapped(const theme_gtk_color_map *map, theme_widget_style_values *values);
void theme_runtime_get_xtext_colors_mapped(const theme_gtk_color_map *map, theme_color *array, std::size_t count);
void theme_get_widget_style_values_for_widget(GtkWidget *widget, theme_widget_style_values *values);
// The text view's 104 colours (as GdkRGBA) for a widget.
void theme_get_xtext_colors_for_widget(GtkWidget *widget, GdkRGBA *array, std::size_t count);

// Desktop dark preference.
void theme_policy_init(void);
void theme_policy_set_appearance_changed_callback(void (*fn)(void));
bool theme_policy_system_prefers_dark(void);
bool theme_policy_is_dark_mode_active(int mode);
bool theme_policy_is_app_dark_mode_active(void);

// Loads colors.conf, starts the policy and makes the set the user's mode
// asks for active. Called once when the front end starts.
void theme_startup(void);
