// The fixed image set loaded once at start-up (user-list status, tray
// states, channel-switcher rows, the program's own logo) and the text
// view's background image.
#pragma once

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

// Owned by this module; null when an image could not be loaded.
extern GdkPixbuf *pix_ulist_voice, *pix_ulist_halfop, *pix_ulist_op, *pix_ulist_owner, *pix_ulist_founder,
    *pix_ulist_netop;
extern GdkPixbuf *pix_tray_normal, *pix_tray_fileoffer, *pix_tray_highlight, *pix_tray_message;
extern GdkPixbuf *pix_tree_channel, *pix_tree_dialog, *pix_tree_server, *pix_tree_util;
extern GdkPixbuf *pix_book, *pix_lumenwick;

// Loads (or reloads) the image set. Called by fe_init.
void pixmaps_init(void);
// Drops the image set (tests and shutdown).
void pixmaps_free(void);

// The image of a user-list or switcher row (kind 3 ids 0-5, kind 2 ids
// 0-3), or null.
GdkPixbuf *pixmaps_for(int kind, int id);

// The text view background named by `text_background`: a premultiplied
// ARGB surface at most 4096 pixels on a side, owned by the caller; null for
// an empty name, or after showing an error when the file cannot be loaded.
cairo_surface_t *pixmap_load_from_file(const char *filename);

// The background the text views draw (borrowed), and loading it again when
// `text_background` names another file than last time (fe_init and every
// apply of the settings call it).
cairo_surface_t *pixmaps_text_background(void);
void pixmaps_background_update(void);
