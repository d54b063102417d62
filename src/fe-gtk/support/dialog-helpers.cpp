#include "support/dialog-helpers.h"

void place_over(GtkWindow *dialog, GtkWindow *parent)
{
    gtk_window_set_transient_for(dialog, parent);
    gtk_window_set_position(dialog, parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
}

GtkWidget *question_dialog(GtkWindow *parent, const char *title, const char *no_label, const char *yes_label)
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons(title, parent, GTK_DIALOG_DESTROY_WITH_PARENT, no_label,
                                                    GTK_RESPONSE_CANCEL, yes_label, GTK_RESPONSE_OK, nullptr);
    place_over(GTK_WINDOW(dialog), parent);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    return dialog;
}

void add_content(GtkWidget *dialog, GtkWidget *child)
{
    GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(area), 8);
    gtk_box_pack_start(GTK_BOX(area), child, FALSE, FALSE, 4);
}
