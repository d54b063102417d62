// The server record: creation, defaults, naming and release.

#include "server.h"

#include "cfgfiles.h"
#include "fe.h"
#include "notify.h"
#include "proto-irc.h"
#include "servlist.h"
#include "session.h"
#include "util.h"

#include <cstdio>
#include <cstring>
#include <openssl/crypto.h>
#include <unistd.h>

namespace {
int next_server_id;

void free_features(server *serv)
{
    g_free(serv->chantypes);
    g_free(serv->chanmodes);
    g_free(serv->nickprefixes);
    g_free(serv->nickmodes);
    g_free(serv->bad_nick_prefixes);
    g_free(serv->chanmodes_extra);
    serv->chantypes = serv->chanmodes = serv->nickprefixes = serv->nickmodes = nullptr;
    serv->bad_nick_prefixes = serv->chanmodes_extra = nullptr;
}

// A random line of `file` in the configuration directory, or null when the
// text does not name a readable file. Lets users keep a file of quit messages.
char *random_line_of(const char *file)
{
    if (!file || !file[0] || strchr(file, '/'))
        return nullptr;
    FILE *fh = lumenwick_fopen_file(file, "r", 0);
    if (!fh)
        return nullptr;
    char buf[512];
    char *chosen = nullptr;
    int seen = 0;
    while (fgets(buf, sizeof buf, fh)) {
        buf[strcspn(buf, "\r\n")] = 0;
        // Reservoir sampling: every line equally likely in one pass.
        seen++;
        if (g_random_int_range(0, seen) == 0) {
            g_free(chosen);
            chosen = g_strdup(buf);
        }
    }
    fclose(fh);
    return chosen;
}
}  // namespace

void server_fill_her_up(server *serv)
{
    // The connection operations are installed with the connection work.
    proto_fill_her_up(serv);
}

server *server_new(void)
{
    auto *serv = static_cast<server *>(g_malloc0(sizeof(server)));
    server_fill_her_up(serv);
    serv->id = next_server_id++;
    serv->sock = serv->sock_v4 = serv->sock_v6 = -1;
    serv->proxy_sock = serv->proxy_sock_v4 = serv->proxy_sock_v6 = -1;
    serv->child_pipe_read = serv->child_pipe_write = -1;
    serv->decoder = serv->encoder = reinterpret_cast<GIConv>(-1);
    safe_strcpy(serv->nick, prefs.irc_nick1, sizeof serv->nick);
    server_set_defaults(serv);
    serv_list = g_slist_prepend(serv_list, serv);
    fe_new_server(serv);
    return serv;
}

void server_set_defaults(server *serv)
{
    free_features(serv);
    serv->chantypes = g_strdup("#&!+");
    serv->chanmodes = g_strdup("beI,k,l");
    serv->nickprefixes = g_strdup("@%+");
    serv->nickmodes = g_strdup("ohv");
    serv->maxmodes = 3;
    serv->nick_attempt = 1;
    if (!serv->encoding)
        serv->encoding = g_strdup("UTF-8");
    serv->motd_done = FALSE;
    serv->away = FALSE;
    serv->cap_ended = serv->sent_capend = serv->waiting_on_cap = serv->waiting_on_sasl = FALSE;
    serv->have_namesx = serv->have_awaynotify = serv->have_uhnames = serv->have_whox = FALSE;
    serv->have_idmsg = serv->have_accnotify = serv->have_extjoin = serv->have_account_tag = FALSE;
    serv->have_server_time = serv->have_sasl = serv->have_except = serv->have_invite = FALSE;
    serv->have_echo_message = serv->have_message_tags = serv->have_list_conditions = FALSE;
    serv->have_monitor = serv->have_watch = FALSE;
    serv->sasl_mech_mask = 0;
    serv->userhost_lookup = TRUE;
}

void server_free(server *serv)
{
    if (serv->cleanup)
        serv->cleanup(serv);
    serv_list = g_slist_remove(serv_list, serv);
    if (serv->flush_queue)
        serv->flush_queue(serv);

    free_features(serv);
    g_free(serv->last_away_text);
    g_free(serv->encoding);
    if (serv->decoder != reinterpret_cast<GIConv>(-1))
        g_iconv_close(serv->decoder);
    if (serv->encoder != reinterpret_cast<GIConv>(-1))
        g_iconv_close(serv->encoder);
    OPENSSL_cleanse(serv->password, sizeof serv->password);

    fe_server_callback(serv);
    g_free(serv);
    notify_cleanup();
}

bool is_server(const void *p) { return p && g_slist_find(serv_list, p) != nullptr; }

const char *server_get_network(server *serv, bool fallback)
{
    if (serv->network) {
        const char *name = servlist_network_name(serv->network);
        if (name)
            return name;
    }
    if (serv->home_session && serv->home_session->channel[0])
        return serv->home_session->channel;
    if (fallback)
        return serv->announced_name;
    return nullptr;
}

void server_set_name(server *serv, const char *name)
{
    if (!name || !name[0])
        name = serv->hostname;
    safe_strcpy(serv->announced_name, name, sizeof serv->announced_name);

    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server == serv)
            fe_set_title(sess);
    }

    session *home = serv->home_session;
    if (home && home->type == SESS_SERVER) {
        const char *net = serv->network ? servlist_network_name(serv->network) : nullptr;
        safe_strcpy(home->channel, net ? net : serv->announced_name, sizeof home->channel);
        fe_set_channel(home);
    }
}

void server_sendpart(server *serv, const char *channel, const char *reason)
{
    if (!serv->p_part)
        return;
    if (reason) {
        serv->p_part(serv, channel, reason);
        return;
    }
    char *from_file = random_line_of(prefs.irc_part_reason);
    serv->p_part(serv, channel, from_file ? from_file : prefs.irc_part_reason);
    g_free(from_file);
}

void server_sendquit(session *sess)
{
    server *serv = sess->server;
    if (!serv->p_quit)
        return;
    if (sess->quit_reason) {
        serv->p_quit(serv, sess->quit_reason);
        return;
    }
    char *from_file = random_line_of(prefs.irc_quit_reason);
    serv->p_quit(serv, from_file ? from_file : prefs.irc_quit_reason);
    g_free(from_file);
}
