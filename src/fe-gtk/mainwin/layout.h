// Where the channel switcher and the user list sit in the main window:
// four side slots in two pane columns, above or below the text, or hidden;
// either part can be dragged to another slot.
#pragma once

#include "mainwin/tabstate.h"

struct session_view;

// Builds the panes and places the parts by the settings.
void layout_build(session_view &v);
// Re-places the parts after the settings changed.
void layout_apply(session_view &v);
// Drops the references the layout holds (window going away).
void layout_release(session_view &v);
void layout_show_userlist(session_view &v, bool show);
layout_slots layout_current(void);
