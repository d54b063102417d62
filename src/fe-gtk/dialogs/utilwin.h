// The small utility windows (ignore list, friends list, URL grabber): a
// shared frame, and the entry point of each window until the menus reach
// them.
#pragma once

#include <gtk/gtk.h>

// The frame of a utility window, named `name` (for themes and tests, and
// the switcher row's label): a tab of the main window with gui_tab_utils,
// else a top-level window titled `title` (a format whose %s is the
// program's name) of the given default size. Escape closes either; the
// content is added to it with gtk_container_add.
GtkWidget *utilwin_new(const char *title, const char *name, int width, int height);
// The same with the title already complete.
GtkWidget *utilwin_new_titled(const char *title, const char *name, int width, int height);
// Whether the frame is a tab of the main window.
bool utilwin_is_tab(GtkWidget *frame);
// Brings an open frame to the user (tab to front, or window raised).
void utilwin_present(GtkWidget *frame);
// A window's title (a tab keeps its switcher label).
void utilwin_set_title(GtkWidget *frame, const char *title);
// The window over which a frame's own dialogs are placed, or null.
GtkWindow *utilwin_parent(GtkWidget *frame);
// A button with a mnemonic label packed at the end of `box`.
GtkWidget *utilwin_button(GtkWidget *box, const char *label, GCallback handler, gpointer data);

// Opens (or raises) each window.
void ignore_gui_open(void);
void notify_gui_open(void);
void url_gui_open(void);
