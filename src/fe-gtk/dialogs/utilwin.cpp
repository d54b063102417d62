// The frame shared by the utility windows.
#include "dialogs/utilwin.h"

#include "base/lumenwick.h"
#include "support/gtk-handles.h"

#include <string>

namespace
{

gboolean close_on_escape(GtkWidget *window, GdkEventKey *event, gpointer) noexcept
{
    if (event->keyval != GDK_KEY_Escape)
        return FALSE;
    guarded("closing a utility window", [&] { gtk_widget_destroy(window); });
    return TRUE;
}

} // namespace

GtkWidget *utilwin_new(const char *title, const char *name, int width, int height)
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gchar_ptr full(g_strdup_printf(title, _(DISPLAY_NAME)));
    gtk_window_set_title(GTK_WINDOW(window), full.get());
    gtk_window_set_role(GTK_WINDOW(window), name);
    gtk_widget_set_name(window, name);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    gtk_container_set_border_width(GTK_CONTAINER(window), 6);
    g_signal_connect(window, "key-press-event", G_CALLBACK(close_on_escape), nullptr);
    return window;
}

GtkWidget *utilwin_button(GtkWidget *box, const char *label, GCallback handler, gpointer data)
{
    GtkWidget *button = gtk_button_new_with_mnemonic(label);
    g_signal_connect(button, "clicked", handler, data);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    return button;
}
