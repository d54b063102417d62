// What the in-process GTK tests share: running the main loop until something
// happens, and finding a shown top-level window by its title.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>

// Runs the default main context until `done` or `timeout_ms`; false on time-out.
inline bool pump_until(const std::function<bool()> &done, int timeout_ms = 5000)
{
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

// Runs the main loop for `ms` milliseconds.
inline void pump_for(int ms)
{
    pump_until([] { return false; }, ms);
}

// The visible top-level window titled exactly `title`, or null.
inline GtkWidget *find_shown_titled(const std::string &title)
{
    GList *all = gtk_window_list_toplevels();
    GtkWidget *found = nullptr;
    for (GList *l = all; l && !found; l = l->next)
        if (gtk_widget_get_visible(GTK_WIDGET(l->data)) &&
            g_strcmp0(gtk_window_get_title(GTK_WINDOW(l->data)), title.c_str()) == 0)
            found = GTK_WIDGET(l->data);
    g_list_free(all);
    return found;
}
