// The frame shared by the utility windows.
#include "dialogs/utilwin.h"

#include "mainwin/generic-tab.h"

#include "base/lumenwick.h"
#include "support/gtk-handles.h"

GtkWidget *utilwin_new(const char *title, const char *name, int width, int height)
{
    gchar_ptr full(g_strdup_printf(title, _(DISPLAY_NAME)));
    return utilwin_new_titled(full.get(), name, width, height);
}

GtkWidget *utilwin_new_titled(const char *title, const char *name, int width, int height)
{
    return mg_create_generic_tab(name, title, width, height);
}

bool utilwin_is_tab(GtkWidget *frame)
{
    return mg_is_generic_tab(frame);
}

void utilwin_present(GtkWidget *frame)
{
    mg_generic_tab_present(frame);
}

void utilwin_set_title(GtkWidget *frame, const char *title)
{
    mg_generic_tab_set_title(frame, title);
}

GtkWindow *utilwin_parent(GtkWidget *frame)
{
    return mg_generic_tab_parent(frame);
}

GtkWidget *utilwin_button(GtkWidget *box, const char *label, GCallback handler, gpointer data)
{
    GtkWidget *button = gtk_button_new_with_mnemonic(label);
    g_signal_connect(button, "clicked", handler, data);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    return button;
}
