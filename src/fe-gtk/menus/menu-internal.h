// What the menu files share among themselves: the values a pop-up fills
// into its commands, and building items from list records and plugin
// entries.
#pragma once

#include "menus/menu-model.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

struct session;
struct menu_entry;

// The values of one pop-up: %c channel, %e network, %n own nick, %s the
// nick, link or channel clicked, %h and %u that nick's host and account;
// `nicks` the selected nicks (%a), run one by one where %s is used.
struct menu_values {
    std::string c, e, n, s, h, u;
    std::vector<std::string> nicks;
};
using menu_values_ptr = std::shared_ptr<const menu_values>;

// The values every pop-up of `sess` starts from (channel, network, own nick).
menu_values menu_session_values(session *sess);
// Runs a menu command template in `sess` (the current session when it is gone).
void menu_run_template(session *sess, const std::string &tmpl, const menu_values &values);
// Activating `item` runs `tmpl` with `values`.
void menu_item_bind(GtkWidget *item, session *sess, const std::string &tmpl, menu_values_ptr values);
// Appends list-built nodes to `menu`.
void menu_fill(GtkWidget *menu, const std::vector<menu_node> &nodes, session *sess, menu_values_ptr values);
// Appends the plugin items of a pop-up root ("$NICK", "$URL", ...).
void menu_append_plugin_items(GtkWidget *menu, int root, session *sess, menu_values_ptr values);
// A separator line.
void menu_add_separator(GtkWidget *menu);
// A submenu item appended to `menu`; returns the submenu.
GtkWidget *menu_add_submenu(GtkWidget *menu, const char *label, const char *icon = nullptr);

// The main menu: `bar` true for the menu bar of the window, false for the
// pop-up used when the bar is hidden.
GtkWidget *menu_main_build(bool bar);
// The menu bar's top-level submenu labelled `label` (mnemonics ignored), or null.
GtkWidget *menu_main_find_top(const char *label);
