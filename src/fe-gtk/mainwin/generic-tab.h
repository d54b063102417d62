// Utility windows (lists, transfers, plugins) as pages of the main window
// with a row in the channel switcher, or as windows of their own, decided
// by gui_tab_utils when each one opens.
#pragma once

#include <gtk/gtk.h>

struct chan;
struct session_view;

// The switcher image of utility rows (the tree images: 0 channel, 1 dialog,
// 2 server, 3 utility).
constexpr int TAB_ICON_UTILITY = 3;

// Whether a utility opened now becomes a tab: gui_tab_utils, unless the
// switcher is hidden (a tab nobody can pick would be lost) or there is no
// main window yet.
bool mg_utility_tabs_wanted(void) noexcept;
// The frame a utility window's content is added to (one child, filled):
// a notebook page of the main window labelled `name` in the switcher, or a
// top-level window titled `title` sized `width` × `height`. Both are named
// `name` and destroyed by Escape; destroying the frame closes the tab.
GtkWidget *mg_create_generic_tab(const char *name, const char *title, int width, int height);
// Whether `frame` is a page of the main window rather than a window.
bool mg_is_generic_tab(GtkWidget *frame) noexcept;
// Brings a frame to the user: its tab to front, or its window raised.
void mg_generic_tab_present(GtkWidget *frame);
// A window's title; a tab keeps its name and shows the title as its tooltip.
void mg_generic_tab_set_title(GtkWidget *frame, const char *title);
// The window a frame's dialogs are placed over.
GtkWindow *mg_generic_tab_parent(GtkWidget *frame) noexcept;

// For the main window: the notebook holding the chat page (page 0) and the
// utility pages, built around `chat`.
GtkWidget *mg_generic_tab_notebook(GtkWidget *chat);
// The switcher picked a utility row: its page is shown.
void mg_generic_tab_focus(session_view &v, chan *ch);
// A session row was picked: the chat page is shown.
void mg_generic_tab_show_chat(session_view &v);
// Close button, middle click or menu on a utility row: the page goes.
void mg_generic_tab_close(chan *ch);
