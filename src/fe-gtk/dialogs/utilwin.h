// The small utility windows (ignore list, friends list, URL grabber): a
// shared frame, and the entry point of each window until the menus reach
// them.
#pragma once

#include <gtk/gtk.h>

// A top-level window titled `title` (a format whose %s is the program's
// name), named `name` (for themes
// and tests), of the given default size, closed by Escape. The provisional
// front end has no tab strip to hold utility tabs, so gui_tab_utils always
// gives a window here.
GtkWidget *utilwin_new(const char *title, const char *name, int width, int height);
// A button with a mnemonic label packed at the end of `box`.
GtkWidget *utilwin_button(GtkWidget *box, const char *label, GCallback handler, gpointer data);

// Opens (or raises) each window.
void ignore_gui_open(void);
void notify_gui_open(void);
void url_gui_open(void);
