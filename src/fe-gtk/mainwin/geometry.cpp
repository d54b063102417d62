// The main window's position and size (and those of a dialog in a window of
// its own) go into the settings when the user moves or resizes it (gui_win_save), saved a quarter second after the last
// change so a drag writes the file once.
#include "mainwin/maingui.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"

namespace
{

constexpr guint SAVE_DELAY_MS = 250;
source_id save_timer;

gboolean save_now(gpointer) noexcept
{
    guarded("geometry save", [] {
        save_timer.release();
        const save_result r = fe_preferences_persistence_save_all();
        if (r.ok)
            return;
        if (r.colors_failed && !r.settings_failed) {
            fe_message(_("Could not fully save preferences. lumenwick.conf was written, but colors.conf failed. "
                         "Retry is possible."),
                       FE_MSG_ERROR);
        } else {
            gchar_ptr text(g_strdup_printf(_("Could not save preferences (%s). Retry is possible."),
                                           r.failed_file ? r.failed_file : _("unknown file")));
            fe_message(text.get(), FE_MSG_ERROR);
        }
    });
    return G_SOURCE_REMOVE;
}

// Where a kind of window keeps its geometry in the settings.
struct geometry_fields {
    int *left, *top, *width, *height;
};
geometry_fields main_fields{&prefs.gui_win_left, &prefs.gui_win_top, &prefs.gui_win_width, &prefs.gui_win_height};
geometry_fields dialog_fields{&prefs.gui_dialog_left, &prefs.gui_dialog_top, &prefs.gui_dialog_width,
                              &prefs.gui_dialog_height};

gboolean on_configure(GtkWidget *widget, GdkEventConfigure *, gpointer data) noexcept
{
    guarded("window geometry", [&] {
        const geometry_fields &f = *static_cast<geometry_fields *>(data);
        if (!prefs.gui_win_save)
            return;
        GdkWindow *gdk = gtk_widget_get_window(widget);
        if (gdk && (gdk_window_get_state(gdk) & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)))
            return;
        int x, y, w, h;
        gtk_window_get_position(GTK_WINDOW(widget), &x, &y);
        gtk_window_get_size(GTK_WINDOW(widget), &w, &h);
        if (x == *f.left && y == *f.top && w == *f.width && h == *f.height)
            return;
        *f.left = x;
        *f.top = y;
        *f.width = w;
        *f.height = h;
        save_timer.reset(g_timeout_add(SAVE_DELAY_MS, save_now, nullptr));
    });
    return FALSE;
}

gboolean on_state(GtkWidget *, GdkEventWindowState *event, gpointer) noexcept
{
    guarded("window state", [&] {
        if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED)
            prefs.gui_win_state = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
        if (event->changed_mask & GDK_WINDOW_STATE_FULLSCREEN)
            prefs.gui_win_fullscreen = (event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) != 0;
    });
    return FALSE;
}

} // namespace

void geometry_connect(GtkWidget *window)
{
    g_signal_connect(window, "configure-event", G_CALLBACK(on_configure), &main_fields);
    g_signal_connect(window, "window-state-event", G_CALLBACK(on_state), nullptr);
}

void geometry_connect_dialog(GtkWidget *window)
{
    g_signal_connect(window, "configure-event", G_CALLBACK(on_configure), &dialog_fields);
}
