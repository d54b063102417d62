// The user-list buttons (buttons.conf, under the list, with
// gui_ulist_buttons) and the dialog buttons (dlgbuttons.conf, in the topic
// bar of dialogs): one button per entry, running its command for the
// selected nicks or the dialog's peer.
#include "mainwin/buttons.h"

#include "mainwin/button-commands.h"
#include "mainwin/maingui.h"
#include "mainwin/userlist.h"

#include "base/guard.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "fe.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <set>
#include <string>
#include <vector>

namespace
{

// User-list buttons sit two to a row, as wide as the list.
constexpr int ULIST_BUTTON_COLUMNS = 2;
constexpr const char *KEY_COMMAND = "lumenwick-button-command";

std::vector<button_target> targets_for(session *sess, bool dialog)
{
    std::vector<button_target> out;
    if (dialog) {
        User *peer = userlist_find_global(sess->server, sess->channel);
        out.push_back({sess->channel, peer && peer->hostname ? peer->hostname : ""});
        return out;
    }
    for (User *u : userlist_selected_users(sess))
        out.push_back({u->nick, u->hostname ? u->hostname : ""});
    return out;
}

void run_button(GtkWidget *button, bool dialog)
{
    session *sess = mg_session_of_widget(button);
    const char *command = static_cast<const char *>(g_object_get_data(G_OBJECT(button), KEY_COMMAND));
    if (!sess || !is_session(sess) || !command)
        return;
    const char *network = server_get_network(sess->server, true);
    const button_context context{sess->channel, network ? network : "", sess->server->nick};
    for (std::string &line : button_commands(command, targets_for(sess, dialog), context)) {
        // A command may close the session (a PART button).
        if (!is_session(sess))
            return;
        handle_command(sess, line.data(), false);
    }
}

void on_ulist_button(GtkButton *button, gpointer) noexcept
{
    guarded("user list button", [&] { run_button(GTK_WIDGET(button), false); });
}

void on_dialog_button(GtkButton *button, gpointer) noexcept
{
    guarded("dialog button", [&] { run_button(GTK_WIDGET(button), true); });
}

GtkWidget *make_button(const popup *entry, GCallback handler)
{
    GtkWidget *b = gtk_button_new_with_label(entry->name);
    gtk_widget_set_focus_on_click(b, FALSE);
    g_object_set_data_full(G_OBJECT(b), KEY_COMMAND, g_strdup(entry->cmd), g_free);
    g_signal_connect(b, "clicked", handler, nullptr);
    return b;
}

void clear(GtkWidget *container)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList *l = children; l; l = l->next)
        gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(children);
}

void fill_ulist_buttons(session_view &v)
{
    clear(v.ulist_buttons);
    int i = 0;
    for (GSList *l = button_list; l; l = l->next, i++) {
        GtkWidget *b = make_button(static_cast<popup *>(l->data), G_CALLBACK(on_ulist_button));
        gtk_widget_set_hexpand(b, TRUE);
        gtk_grid_attach(GTK_GRID(v.ulist_buttons), b, i % ULIST_BUTTON_COLUMNS, i / ULIST_BUTTON_COLUMNS, 1, 1);
    }
    gtk_widget_show_all(v.ulist_buttons);
    gtk_widget_set_visible(v.ulist_buttons, prefs.gui_ulist_buttons && button_list);
}

void fill_dialog_buttons(session_view &v)
{
    clear(v.dialog_buttons);
    for (GSList *l = dlgbutton_list; l; l = l->next) {
        auto *entry = static_cast<popup *>(l->data);
        if (entry->cmd && *entry->cmd)
            gtk_box_pack_start(GTK_BOX(v.dialog_buttons), make_button(entry, G_CALLBACK(on_dialog_button)), FALSE,
                               FALSE, 0);
    }
    gtk_widget_show_all(v.dialog_buttons);
}

// Every view once: the main window's and those of sessions in windows of their own.
template <typename F> void for_each_view(F f)
{
    std::set<session_view *> seen;
    for (GSList *l = sess_list; l; l = l->next)
        if (session_view *v = view_of(static_cast<session *>(l->data)); v && v->window && seen.insert(v).second)
            f(*v);
}

} // namespace

void buttons_build(session_view &v)
{
    v.ulist_buttons = gtk_grid_new();
    gtk_widget_set_name(v.ulist_buttons, "lumenwick-userlist-buttons");
    gtk_grid_set_column_homogeneous(GTK_GRID(v.ulist_buttons), TRUE);
    gtk_widget_set_no_show_all(v.ulist_buttons, TRUE);
    gtk_box_pack_end(GTK_BOX(v.userlist_box), v.ulist_buttons, FALSE, FALSE, 0);
    fill_ulist_buttons(v);

    v.dialog_buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_name(v.dialog_buttons, "lumenwick-dialog-buttons");
    gtk_widget_set_no_show_all(v.dialog_buttons, TRUE);
    gtk_box_pack_end(GTK_BOX(v.topic_bar), v.dialog_buttons, FALSE, FALSE, 0);
    fill_dialog_buttons(v);
}

void buttons_show_for(session_view &v, session *sess)
{
    if (!v.ulist_buttons)
        return;
    gtk_widget_set_visible(v.ulist_buttons, prefs.gui_ulist_buttons && button_list);
    gtk_widget_set_visible(v.dialog_buttons, sess->type == SESS_DIALOG && dlgbutton_list);
}

void fe_buttons_update(session *)
{
    for_each_view([](session_view &v) { fill_ulist_buttons(v); });
}

void fe_dlgbuttons_update(session *)
{
    for_each_view([](session_view &v) {
        fill_dialog_buttons(v);
        session *shown = v.owner ? v.owner : mg_front_session();
        if (shown)
            buttons_show_for(v, shown);
    });
}
