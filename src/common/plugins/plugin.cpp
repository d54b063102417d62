#include "plugins/plugin.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "net/server.h"
#include "session/session.h"

#include <cstring>

#include <glib.h>

// The loader arrives with the plugin work; until then there is nothing to load,
// and no plugin can swallow a command or an event.
void plugin_add(session *, const char *, void *, plugin_init_func, plugin_deinit_func, char *, int) {}
void plugin_auto_load(session *) {}
void plugin_kill_all(void) {}
int plugin_emit_dummy_print(session *, const char *)
{
    return 0;
}
int plugin_emit_print(session *, char *[], time_t)
{
    return 0;
}
int plugin_emit_command(session *, char *name, char *[], char *[])
{
    // The connection announces its local port with IDENTD for the built-in
    // ident responder; until that responder hooks the command, it is taken
    // here so it never reaches the user as an unknown command.
    return name && g_ascii_strcasecmp(name, "IDENTD") == 0 ? 1 : 0;
}
int plugin_emit_server(session *, char *, char *[], char *[], time_t)
{
    return 0;
}

const char *plugin_load(session *, const char *, char *)
{
    return _("Loading plugins is not available in this build yet.");
}
int plugin_kill(const char *, bool)
{
    return 0;
}
int plugin_reload(session *, const char *, bool)
{
    return 0;
}
bool plugin_show_help(session *, const char *)
{
    return false;
}
void plugin_command_foreach(session *, void *, void (*)(session *, void *, const char *, const char *)) {}

session *plugin_find_context(const char *servname, const char *channel, server *preferred)
{
    if (!servname && !channel)
        return current_sess;
    session *fallback = nullptr;
    for (GSList *sl = serv_list; sl; sl = sl->next) {
        auto *serv = static_cast<server *>(sl->data);
        if (servname) {
            const char *netname = server_get_network(serv, false);
            if (rfc_casecmp(servname, serv->announced_name) != 0 && g_ascii_strcasecmp(servname, serv->hostname) != 0 &&
                !(netname && g_ascii_strcasecmp(servname, netname) == 0))
                continue;
        }
        if (!channel)
            return serv->recent_session ? serv->recent_session : serv->home_session;
        for (GSList *l = sess_list; l; l = l->next) {
            auto *sess = static_cast<session *>(l->data);
            if (sess->server != serv || rfc_casecmp(channel, sess->channel) != 0)
                continue;
            if (serv == preferred)
                return sess;
            if (!fallback)
                fallback = sess;
        }
    }
    return fallback;
}
