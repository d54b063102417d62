// Message boxes (fe_message): info, warning or error, optionally waited on.
#include "dialogs/message.h"

#include "fe.h"
#include "mainwin/maingui.h"
#include "support/dialog-helpers.h"

#include <gtk/gtk.h>

#include <utility>

namespace
{

// The message fe_message is blocked on, if any.
GtkWidget *waiting_message = nullptr;

} // namespace

void dialogs_end_waiting(void) noexcept
{
    if (waiting_message)
        gtk_dialog_response(GTK_DIALOG(waiting_message), GTK_RESPONSE_CANCEL);
}

void fe_message(const char *msg, int flags)
{
    GtkMessageType type = GTK_MESSAGE_WARNING;
    if (flags & FE_MSG_INFO)
        type = GTK_MESSAGE_INFO;
    else if (flags & FE_MSG_ERROR)
        type = GTK_MESSAGE_ERROR;

    GtkWindow *parent = main_window();
    GtkWidget *dialog = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, type, GTK_BUTTONS_OK, nullptr);
    // Broken markup would show an empty box; show such text as it is instead.
    if ((flags & FE_MSG_MARKUP) && pango_parse_markup(msg, -1, 0, nullptr, nullptr, nullptr, nullptr))
        gtk_message_dialog_set_markup(GTK_MESSAGE_DIALOG(dialog), msg);
    else
        g_object_set(dialog, "text", msg, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    place_over(GTK_WINDOW(dialog), parent);

    if (flags & FE_MSG_WAIT) {
        gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
        GtkWidget *outer = std::exchange(waiting_message, dialog);
        gtk_dialog_run(GTK_DIALOG(dialog));
        waiting_message = outer;
        gtk_widget_destroy(dialog);
        return;
    }
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(dialog);
}
