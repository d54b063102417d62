// The input line's keyboard: plugins first, then the key bindings and their
// actions (history, completion, tab switching, menu shortcuts), and the
// replace check on every change.
#pragma once

#include <gtk/gtk.h>

#include <functional>

struct session;

// Connects the key handling and the replace check to the input entry.
void key_connect_entry(GtkWidget *entry);
// The entry's key-press handler: TRUE when the key was consumed.
gboolean key_handle_key_press(GtkWidget *entry, GdkEventKey *event);
// A key pressed in the main window while the focus is not in the input
// line: only the bindings that act on the window (tab switching and moves,
// menu shortcuts, reopening a tab) run. TRUE when one consumed it.
gboolean key_handle_window_key(GdkEventKey *event);
// Inserts `data` (escapes expanded) at the cursor; the cursor moves after it.
void key_action_insert(GtkWidget *entry, const char *data);
// Ends a completion cycle.
void key_action_tab_clean(void);
// Applies the replace list to the entry (guarded against re-entry);
// `line_done` also replaces a word that ends the line.
void key_check_replace_on_change(GtkWidget *entry, bool line_done = false);

// A "Menu Shortcut" action: true when it ran. The menus register theirs;
// until then the ones this window can carry out are built in.
using key_menu_handler = std::function<bool(session *sess)>;
void key_set_menu_shortcut(const char *name, key_menu_handler handler);
// Runs the shortcut named `name`; false when none ran.
bool key_run_menu_shortcut(const char *name, session *sess);
