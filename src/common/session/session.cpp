// Sessions (tabs): creation with the first-session start-up work, lookup and
// destruction in the order that keeps servers, logs and the front end sound.

#include "session/session.h"

#include "base/util.h"
#include "commands/outbound-exec.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/log.h"
#include "output/scrollback.h"
#include "plugins/plugin.h"
#include "session/chanopt.h"
#include "session/lastact.h"

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

bool first_session_done;

// Work that needs a session to exist: plugins, timers, and the commands the
// user asked for on the command line or in startup.txt.
void first_session_startup(session *sess)
{
    plugin_add(sess, nullptr, nullptr, timer_plugin_init, nullptr, nullptr, FALSE);
    plugin_add(sess, nullptr, nullptr, identd_plugin_init, identd_plugin_deinit, nullptr, FALSE);
    if (!arg_skip_plugins)
        plugin_auto_load(sess);
    dbus_plugin_init(sess);
    lumenwick_reinit_timers();

    if (arg_url) {
        char *cmd = g_strdup_printf("server %s", arg_url);
        handle_command(sess, cmd, FALSE);
        g_free(cmd);
        g_free(arg_url);
        arg_url = nullptr;
    }
    if (arg_urls) {
        for (int i = 0; arg_urls[i]; i++) {
            char *cmd = g_strdup_printf("%s %s", i == 0 ? "server" : "newserver", arg_urls[i]);
            handle_command(sess, cmd, FALSE);
            g_free(cmd);
        }
        g_strfreev(arg_urls);
        arg_urls = nullptr;
    }
    if (arg_command) {
        handle_command(sess, arg_command, FALSE);
        g_free(arg_command);
        arg_command = nullptr;
    }

    load_perform_file(sess, "startup.txt");
}

// Uses the partner's address as a dialog's topic when any channel of the
// server knows it.
void dialog_topic_from_channels(session *sess)
{
    const char *host = userlist_find_address(sess->server, sess->channel);
    if (host)
        set_topic(sess, host, host);
}

} // namespace

session *new_ircwindow(server *serv, const char *name, int type, int focus)
{
    auto *sess = static_cast<session *>(g_malloc0(sizeof(session)));

    if (type == SESS_SERVER) {
        serv = server_new();
        serv->home_session = sess;
        serv->recent_session = sess;
    }
    sess->server = serv;
    sess->log_fd = -1;
    sess->type = type;
    memset(&sess->alert_balloon, SET_DEFAULT, 8);
    sess->activity_index = -1;
    if (name) {
        safe_strcpy(sess->channel, name, sizeof sess->channel);
        safe_strcpy(sess->initial_name, name, sizeof sess->initial_name);
    }

    sess_list = g_slist_prepend(sess_list, sess);
    fe_new_window(sess, focus);

    if (!first_session_done) {
        first_session_done = true;
        first_session_startup(sess);
        // A startup command may have closed the tab already.
        if (!is_session(sess))
            return nullptr;
    }

    chanopt_load(sess);
    if (scrollback_load(sess) > 0 && sess->on_replay_done)
        sess->on_replay_done(sess);

    if (type == SESS_DIALOG) {
        log_open_or_close(sess);
        dialog_topic_from_channels(sess);
    }

    plugin_emit_dummy_print(sess, "Open Context");
    return sess;
}

session *session_find_by_server(server *serv, session *not_this)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && s != not_this)
            return s;
    }
    return nullptr;
}

void session_free(session *sess)
{
    if (!is_session(sess))
        return;
    server *serv = sess->server;

    plugin_emit_dummy_print(sess, "Close Context");

    if (current_tab == sess)
        current_tab = nullptr;
    if (serv->recent_session == sess)
        serv->recent_session = nullptr;
    if (serv->home_session == sess)
        serv->home_session = session_find_by_server(serv, sess);
    if (!serv->recent_session)
        serv->recent_session = serv->home_session;

    sess_list = g_slist_remove(sess_list, sess);
    if (sess->type == SESS_CHANNEL)
        userlist_free(sess);
    lastact_remove(sess);

    exec_child_free(sess);

    log_close(sess);
    scrollback_close(sess);
    chanopt_save(sess);

    if (serv->connected && !serv->quit_sent) {
        const bool still_used = session_find_by_server(serv, sess) != nullptr;
        if (still_used && !lumenwick_is_quitting) {
            if (sess->type == SESS_CHANNEL && sess->channel[0])
                server_sendpart(serv, sess->channel, sess->quit_reason); // /CLOSE may have given one
        } else {
            if (serv->flush_queue)
                serv->flush_queue(serv);
            server_sendquit(sess);
            serv->quit_sent = TRUE;
        }
    }

    if (sess->fe_timer)
        fe_timeout_remove(sess->fe_timer);
    if (sess->typing_tag)
        fe_timeout_remove(sess->typing_tag);
    reply_cache_free(sess);
    history_free(&sess->input_history);
    g_free(sess->topic);
    g_free(sess->mode_string);
    g_free(sess->quit_reason);
    fe_session_callback(sess);

    if (current_sess == sess)
        current_sess = sess_list ? static_cast<session *>(sess_list->data) : nullptr;

    g_free(sess);

    if (!sess_list && !lumenwick_is_quitting)
        lumenwick_exit();

    if (!session_find_by_server(serv, nullptr)) {
        // Transfers outlive their server: they move to another one.
        dcc_notify_kill(serv);
        server_free(serv);
    }
}

bool is_session(const void *p)
{
    return p && g_slist_find(sess_list, p) != nullptr;
}

namespace
{
session *find_session_of_type(server *serv, const char *name, int type)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && s->type == type && serv->p_cmp(s->channel, name) == 0)
            return s;
    }
    return nullptr;
}
} // namespace

session *find_channel(server *serv, const char *name)
{
    return find_session_of_type(serv, name, SESS_CHANNEL);
}

session *find_dialog(server *serv, const char *name)
{
    return find_session_of_type(serv, name, SESS_DIALOG);
}
