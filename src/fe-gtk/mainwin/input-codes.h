// What the input line's context menu adds for formatting, and the emoji font
// fallback of the small entries around it.
#pragma once

#include <gtk/gtk.h>

#include <string>

// Appends "Insert Attribute or Color Code", "Colors 0-7" and "Colors 8-15" to
// `popup`; their items insert the control codes at the cursor of `entry`.
void mg_add_code_menus(GtkMenuShell *popup, GtkEditable *entry);

// The font family list for an entry whose style font is `family` (may be
// empty): the emoji fonts are appended unless one is named already.
std::string mg_emoji_font_family(const char *family);

// Gives `entry` the "lumenwick-emoji-font" class, whose rule is built from
// the entry's own style font the first time.
void mg_apply_emoji_font(GtkWidget *entry);
