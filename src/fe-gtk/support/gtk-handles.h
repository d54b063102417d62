// Handles of the GTK front end. The GLib and GObject wrappers (gobject_ptr,
// gchar_ptr, strv_ptr, error_ptr, source_id, ...) and the guard for C
// callbacks are the core's, shared by every layer. Include this header in
// the front end; wrappers for what only GTK has (tree paths, widgets that are
// destroyed rather than unreferenced) are added here as they are needed.
#pragma once

#include "base/guard.h"
#include "base/handles.h"
