// Asking before quitting while connected.
#include "mainwin/maingui.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dcc/dcc.h"
#include "net/server.h"
#include "session/lumenwick.h"

#include <string>

namespace
{

GtkWidget *quit_dialog = nullptr;
GtkWidget *dont_ask = nullptr;

enum { RESPONSE_MINIMIZE = 1 };

int connected_servers()
{
    int n = 0;
    for (GSList *l = serv_list; l; l = l->next)
        if (static_cast<server *>(l->data)->connected)
            n++;
    return n;
}

// File transfers moving data now; chats and offers not yet taken lose nothing.
int active_transfers()
{
    int n = 0;
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if ((dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_RECV) && dcc->status == STAT_ACTIVE)
            n++;
    }
    return n;
}

void on_response(GtkDialog *dialog, int response, gpointer) noexcept
{
    guarded("quit dialog", [&] {
        const bool remember = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(dont_ask));
        gtk_widget_destroy(GTK_WIDGET(dialog));
        quit_dialog = nullptr;
        if (response == GTK_RESPONSE_ACCEPT) {
            if (remember)
                prefs.gui_quit_dialog = 0;
            lumenwick_exit();
        }
    });
}

} // namespace

void mg_open_quit_dialog(bool)
{
    if (quit_dialog) {
        gtk_window_present(GTK_WINDOW(quit_dialog));
        return;
    }
    const int servers = connected_servers();
    const int transfers = active_transfers();
    if ((servers == 0 && transfers == 0) || !prefs.gui_quit_dialog) {
        lumenwick_exit();
        return;
    }
    quit_dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(quit_dialog), _("Quit Lumenwick?"));
    gtk_window_set_modal(GTK_WINDOW(quit_dialog), TRUE);
    gtk_window_set_transient_for(GTK_WINDOW(quit_dialog), main_window());
    gtk_window_set_resizable(GTK_WINDOW(quit_dialog), FALSE);
    GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(quit_dialog));
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(row), 8);
    gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_icon_name("dialog-warning", GTK_ICON_SIZE_DIALOG), FALSE, FALSE,
                       0);
    gchar_ptr connected(servers ? g_strdup_printf(_("You are connected to %i IRC networks."), servers) : g_strdup(""));
    gchar_ptr head(g_markup_escape_text(_("Are you sure you want to quit?"), -1));
    gchar_ptr c_esc(g_markup_escape_text(connected.get(), -1));
    gchar_ptr t_esc(g_markup_escape_text(transfers ? _("Some file transfers are still active.") : "", -1));
    gchar_ptr text(g_strdup_printf("<span weight=\"bold\" size=\"larger\">%s</span>\n\n%s\n%s", head.get(), c_esc.get(),
                                   t_esc.get()));
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), text.get());
    GtkWidget *column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_pack_start(GTK_BOX(column), label, FALSE, FALSE, 0);
    dont_ask = gtk_check_button_new_with_label(_("Don't ask next time."));
    gtk_box_pack_start(GTK_BOX(column), dont_ask, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), column, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(area), row, TRUE, TRUE, 0);
    // Minimising to the tray needs the tray icon, which is not part of the
    // front end yet: the button is left out, as when no tray is available.
    GtkWidget *cancel = gtk_dialog_add_button(GTK_DIALOG(quit_dialog), _("_Cancel"), GTK_RESPONSE_CANCEL);
    gtk_dialog_add_button(GTK_DIALOG(quit_dialog), _("_Quit"), GTK_RESPONSE_ACCEPT);
    g_signal_connect(quit_dialog, "response", G_CALLBACK(on_response), nullptr);
    gtk_widget_show_all(quit_dialog);
    gtk_widget_grab_focus(cancel);
}
