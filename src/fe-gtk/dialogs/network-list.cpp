// The stand-in network list window (fe_serverlist_open) until the real one
// exists: it says how to connect by hand.
#include "base/lumenwick.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "session/lumenwick.h"
#include "session/session.h"
#include "support/dialog-helpers.h"
#include "support/gtk-handles.h"

#include <gtk/gtk.h>

namespace
{

GtkWidget *network_list_window = nullptr;

void on_network_list_destroy(GtkWidget *, gpointer) noexcept
{
    network_list_window = nullptr;
    // Without a session nothing else is on screen: do not linger invisibly.
    guarded("network list", [] {
        if (!sess_list && !lumenwick_is_quitting)
            lumenwick_exit();
    });
}

void on_network_list_response(GtkDialog *dialog, gint, gpointer) noexcept
{
    guarded("network list", [dialog] { gtk_widget_destroy(GTK_WIDGET(dialog)); });
}

} // namespace

void fe_serverlist_open(session *)
{
    // Start-up with nothing to open: the main window with a server tab, so
    // there is an input line to connect from.
    if (!sess_list)
        new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
    if (network_list_window) {
        gtk_window_present(GTK_WINDOW(network_list_window));
        return;
    }
    gchar_ptr title(g_strdup_printf(_("Network List - %s"), DISPLAY_NAME));
    GtkWidget *dialog = gtk_dialog_new_with_buttons(title.get(), main_window(), GtkDialogFlags(0), _("_Close"),
                                                    GTK_RESPONSE_CLOSE, nullptr);
    gtk_widget_set_name(dialog, "lumenwick-networklist");
    GtkWidget *label =
        gtk_label_new(_("The network list is not available in this version.\nConnect with /server <host> [<port>]."));
    add_content(dialog, label);
    place_over(GTK_WINDOW(dialog), main_window());
    g_signal_connect(dialog, "response", G_CALLBACK(on_network_list_response), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(on_network_list_destroy), nullptr);
    network_list_window = dialog;
    gtk_widget_show_all(dialog);
}
