// The "Keyboard Shortcuts" window: edits the key-binding table and saves it.
#pragma once

#include <gtk/gtk.h>

// Opens the editor (or raises it).
void key_dialog_show(void);
// The open editor window, or null (tests).
GtkWidget *key_dialog_window(void);
