// Typing notices for the session shown where the line is typed: "active" when a line is being typed,
// "paused" after six quiet seconds, "done" when the line is emptied or
// becomes a command.
#include "mainwin/maingui.h"

#include "base/guard.h"
#include "config/cfgfiles.h"
#include "net/server.h"
#include "session/session.h"

#include <string>

namespace
{

constexpr guint PAUSE_AFTER_MS = 6000;

bool may_send(session *sess)
{
    server *serv = sess->server;
    return serv->connected && (sess->type == SESS_CHANNEL || sess->type == SESS_DIALOG) && sess->channel[0] &&
           client_tag_allowed(serv->cap_message_tags, serv->clienttagdeny, "typing");
}

void send_state(session *sess, const char *state)
{
    if (!may_send(sess))
        return;
    const std::string tag = std::string("+typing=") + state;
    sess->server->p_tagmsg(sess->server, tag.c_str(), sess->channel);
}

void stop_timer(tab_state *t)
{
    if (t->typing_timer)
        g_source_remove(std::exchange(t->typing_timer, 0u));
}

gboolean on_pause(gpointer data) noexcept
{
    guarded("typing pause", [data] {
        auto *sess = static_cast<session *>(data);
        if (!is_session(sess))
            return;
        tab_state *t = tab_of(sess);
        if (!t)
            return;
        t->typing_timer = 0;
        if (t->typing_sent == 1) {
            send_state(sess, "paused");
            t->typing_sent = 2;
        }
    });
    return G_SOURCE_REMOVE;
}

void on_changed(GtkEditable *editable, gpointer) noexcept
{
    guarded("typing", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(editable));
        tab_state *t = tab_of(sess);
        if (!t)
            return;
        const char *text = gtk_entry_get_text(GTK_ENTRY(editable));
        const bool command = text[0] && text[0] == prefs.input_command_char[0];
        if (text[0] && !command) {
            if (t->typing_sent != 1) {
                send_state(sess, "active");
                t->typing_sent = 1;
            }
            stop_timer(t);
            // The timer is dropped with the tab state's session check above.
            t->typing_timer = g_timeout_add(PAUSE_AFTER_MS, on_pause, sess);
        } else if (t->typing_sent) {
            send_state(sess, "done");
            t->typing_sent = 0;
            stop_timer(t);
        }
    });
}

} // namespace

void typing_connect(GtkWidget *entry)
{
    g_signal_connect(entry, "changed", G_CALLBACK(on_changed), nullptr);
}
