// The main menu: the menu bar of the main window, and the same menu as a
// pop-up while the bar is hidden.
#pragma once

#include <gtk/gtk.h>

// The menu bar for the main window. Its items run the "Menu Shortcut" key
// bindings and show their keys.
GtkWidget *menu_bar_new(GtkWidget *window);
// The bar, or null before the window exists.
GtkWidget *menu_bar_widget(void);
// Flips gui_hide_menu and hides or shows the bar; `tell`: an information
// box says how to get a hidden bar back (the menu item and its key do).
void menu_bar_toggle(bool tell);
// Sets the bar's check items and the items that follow the connection from
// the settings and the tab in front.
void menu_main_refresh(void);
void menu_about(void);
// The key bound to a menu shortcut ("close", "quit", ...); false when none
// (nor Control+Q for quitting while gui_ctrlq_quit is off).
bool menu_shortcut_key(const char *action, guint *key, GdkModifierType *mods);
// Adds the items plugins put on the menu bar to `root` (the bar or its
// pop-up copy).
void menu_plugin_items_add_to(GtkWidget *root);
