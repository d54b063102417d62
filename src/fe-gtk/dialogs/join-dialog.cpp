// The dialog shown after logging in to a network that has no channel to
// join automatically: join one now, open the channel list, or nothing.
#include "dialogs/join-dialog.h"

#include "dialogs/chanlist.h"
#include "mainwin/maingui.h"

#include "base/guard.h"
#include "base/handles.h"
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "session/session.h"

#include <cstring>
#include <string>

namespace
{

struct join_dialog {
    server *serv;
    GtkWidget *join_choice;
    GtkWidget *list_choice;
    GtkWidget *entry;
    GtkWidget *always;
};

server_gui *gui_of(server *serv)
{
    return serv ? static_cast<server_gui *>(serv->fe_record) : nullptr;
}

session *session_of(server *serv)
{
    if (serv->home_session && is_session(serv->home_session))
        return serv->home_session;
    for (GSList *l = sess_list; l; l = l->next)
        if (static_cast<session *>(l->data)->server == serv)
            return static_cast<session *>(l->data);
    return nullptr;
}

void on_response(GtkDialog *dialog, int response, gpointer data) noexcept
{
    guarded("join dialog", [&] {
        auto *d = static_cast<join_dialog *>(data);
        if (response == GTK_RESPONSE_OK) {
            if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d->join_choice))) {
                const char *name = gtk_entry_get_text(GTK_ENTRY(d->entry));
                if (!*name) {
                    fe_message(_("Channel name too short, try again."), FE_MSG_ERROR);
                    return;
                }
                if (session *sess = session_of(d->serv)) {
                    std::string line = std::string("JOIN ") + name;
                    handle_command(sess, line.data(), false);
                }
            } else if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d->list_choice))) {
                chanlist_opengui(d->serv, true);
            }
        }
        prefs.gui_join_dialog = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d->always));
        gtk_widget_destroy(GTK_WIDGET(dialog));
    });
}

void on_destroy(GtkWidget *widget, gpointer data) noexcept
{
    auto *d = static_cast<join_dialog *>(data);
    if (server_gui *gui = gui_of(d->serv); gui && gui->join_dialog == widget)
        gui->join_dialog = nullptr;
    delete d;
}

gboolean on_entry_focus(GtkWidget *, GdkEvent *, gpointer data) noexcept
{
    guarded("join dialog", [&] {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(static_cast<join_dialog *>(data)->join_choice), TRUE);
    });
    return FALSE;
}

GtkWidget *hint(const char *text)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gchar_ptr markup(g_markup_printf_escaped("<small>%s</small>", text));
    gtk_label_set_markup(GTK_LABEL(label), markup.get());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_widget_set_margin_start(label, 24);
    return label;
}

GtkWidget *wrapped(const char *markup)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), markup);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 50);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    return label;
}

} // namespace

void joind_open(server *serv)
{
    server_gui *gui = gui_of(serv);
    if (!gui || gui->join_dialog)
        return;
    session *sess = session_of(serv);
    gchar_ptr title(g_strdup_printf(_("Connection Complete - %s"), DISPLAY_NAME));
    GtkWidget *dialog = gtk_dialog_new_with_buttons(title.get(), sess ? session_window(sess) : main_window(),
                                                    GTK_DIALOG_MODAL, _("_OK"), GTK_RESPONSE_OK, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    auto *d = new join_dialog{serv, nullptr, nullptr, nullptr, nullptr};

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE, 0);
    const char *network = server_get_network(serv, true);
    gchar_ptr name(g_markup_printf_escaped("\n<b>%s</b>", network ? network : ""));
    gchar_ptr complete(g_strdup_printf(_("Connection to %s complete."), name.get()));
    gtk_box_pack_start(GTK_BOX(box), wrapped(complete.get()), FALSE, FALSE, 0);
    gchar_ptr none(g_markup_escape_text(
        _("In the server list window, no channel (chat room) has been entered to be automatically joined for this "
          "network."),
        -1));
    gtk_box_pack_start(GTK_BOX(box), wrapped(none.get()), FALSE, FALSE, 0);
    gchar_ptr next(g_markup_escape_text(_("What would you like to do next?"), -1));
    gtk_box_pack_start(GTK_BOX(box), wrapped(next.get()), FALSE, FALSE, 0);

    GtkWidget *nothing = gtk_radio_button_new_with_mnemonic(nullptr, _("_Nothing, I'll join a channel later."));
    gtk_box_pack_start(GTK_BOX(box), nothing, FALSE, FALSE, 0);
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    d->join_choice =
        gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(nothing), _("_Join this channel:"));
    d->entry = gtk_entry_new();
    const bool home = network && !g_ascii_strcasecmp(network, "Vorun");
    gtk_entry_set_text(GTK_ENTRY(d->entry), home ? "#lumenwick" : "#");
    gtk_entry_set_activates_default(GTK_ENTRY(d->entry), TRUE);
    g_signal_connect(d->entry, "focus-in-event", G_CALLBACK(on_entry_focus), d);
    gtk_box_pack_start(GTK_BOX(row), d->join_choice, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), d->entry, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), hint(_("If you know the name of the channel you want to join, enter it here.")),
                       FALSE, FALSE, 0);
    d->list_choice =
        gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(nothing), _("O_pen the channel list."));
    gtk_box_pack_start(GTK_BOX(box), d->list_choice, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), hint(_("Retrieving the channel list may take a minute or two.")), FALSE, FALSE, 0);
    d->always = gtk_check_button_new_with_mnemonic(_("_Always show this dialog after connecting."));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d->always), TRUE);
    gtk_box_pack_start(GTK_BOX(box), d->always, FALSE, FALSE, 6);

    g_signal_connect(dialog, "response", G_CALLBACK(on_response), d);
    g_signal_connect(dialog, "destroy", G_CALLBACK(on_destroy), d);
    gui->join_dialog = dialog;
    gtk_widget_show_all(dialog);
}

void joind_close(server *serv)
{
    server_gui *gui = gui_of(serv);
    if (gui && gui->join_dialog)
        gtk_widget_destroy(gui->join_dialog);
}
