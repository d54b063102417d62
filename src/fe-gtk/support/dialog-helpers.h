// Small helpers every dialog window uses.
#pragma once

#include "base/guard.h"

#include <gtk/gtk.h>

// Attaches `state` to `instance`'s response signal; it is deleted with the
// handler, i.e. when the dialog goes away.
template <typename State, typename Handler> void connect_response(gpointer instance, State *state, Handler handler)
{
    g_signal_connect_data(
        instance, "response", G_CALLBACK(handler), state,
        [](gpointer data, GClosure *) noexcept {
            guarded("dialog end", [data] { delete static_cast<State *>(data); });
        },
        GConnectFlags(0));
}

// Keeps `dialog` above `parent` (centred on it), or centred on the screen.
void place_over(GtkWindow *dialog, GtkWindow *parent);
// A dialog with a "no" and a "yes" (default) button over `parent`.
GtkWidget *question_dialog(GtkWindow *parent, const char *title, const char *no_label, const char *yes_label);
// Packs `child` into the dialog's content area with the usual spacing.
void add_content(GtkWidget *dialog, GtkWidget *child);
