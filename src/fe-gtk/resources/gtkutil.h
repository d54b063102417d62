// Images for menu items and buttons, found through the icon table: the
// user's own file, the program's resources, then the desktop icon theme.
#pragma once

#include <gtk/gtk.h>

// The freedesktop name for an old stock identifier ("gtk-quit" ->
// "application-exit"); any other name comes back unchanged, null gives null.
// The result is static or the argument itself: never freed by the caller.
const char *gtkutil_icon_name_from_stock(const char *name);

// A new, floating GtkImage for `name` (a stock identifier, a menu icon's
// custom name such as "lwk-menu-quit", or any icon-theme name) at `size`.
// Never null: an unknown name gives an icon-theme image of that name.
GtkWidget *gtkutil_image_new_from_stock(const char *name, GtkIconSize size);

// Shows the emoji chooser's icon at the end of an entry: the toolkit's own,
// else the first emoji icon the theme or the icon table has, else none.
void gtkutil_entry_set_emoji_icon(GtkWidget *entry);
