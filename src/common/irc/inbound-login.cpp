// The end of login: nick retries while registering, the welcome, the user
// modes and connect commands after the MOTD, identification, the join delay
// and auto-join, and the own address for DCC.

#include "irc/inbound.h"
#include "lists/notify.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/proto-irc.h"
#include "net/network.h"
#include "net/server.h"
#include "output/log.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gio/gio.h>
#include <glib.h>
#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

time_t stamp_of(const message_tags_data *tags)
{
    return tags ? tags->timestamp : 0;
}

bool nonempty(const char *s)
{
    return s && s[0];
}

// The methods that identify by a message to the nick service, after login.
bool identifies_by_message(int method)
{
    return method == LOGIN_METHOD_NICKSERV_MSG || method == LOGIN_METHOD_NICKSERV_CMD ||
           method == LOGIN_METHOD_CHALLENGE;
}

// The network's own identity field, unless it uses the global one.
const char *network_identity(const ircnet *net, char *ircnet::*field)
{
    if (!net || (net->flags & NET_USE_GLOBAL) || !nonempty(net->*field))
        return nullptr;
    return net->*field;
}

int join_delay_over(void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    if (is_server(serv)) {
        serv->join_timer = 0;
        guarded("delayed autojoin", [&] { send_autojoins(serv); });
    }
    return 0;
}

// Runs the network's connect commands in order. False when the server went
// away or was moved to another network meanwhile: the rest of the login
// belongs to that other network, not this one.
bool run_connect_commands(session *sess, server *serv, ircnet *net, bool *had_commands)
{
    // Copied first: a command may edit or free the network.
    std::vector<std::string> commands;
    for (GSList *l = net->connect_commands; l; l = l->next)
        if (l->data)
            commands.emplace_back(static_cast<const char *>(l->data));
    *had_commands = !commands.empty();
    for (const auto &command : commands) {
        const char *text = command.c_str();
        if (*text == '/')
            text++;
        std::string line = command_insert_vars(sess, text);
        handle_command(sess, line.data(), true);
        // %p put the server password in the line.
        OPENSSL_cleanse(line.data(), line.size());
        if (!is_server(serv) || !is_session(sess) || serv->network != net)
            return false;
    }
    return true;
}

struct own_address_lookup {
    server *serv;
    int id;
};

void show_own_address(server *serv, guint32 address, time_t stamp)
{
    inbound_set_own_address(serv, address);
    if (session *tab = server_tab(serv))
        text_emit(XP_TE_FOUND_IP, tab, net_ip(address), nullptr, nullptr, nullptr, stamp);
}

void own_address_resolved(GObject *source, GAsyncResult *result, gpointer data) noexcept
{
    const std::unique_ptr<own_address_lookup> lookup(static_cast<own_address_lookup *>(data));
    GList *addresses = g_resolver_lookup_by_name_finish(G_RESOLVER(source), result, nullptr);
    guarded("own address lookup", [&] {
        if (!is_server(lookup->serv) || lookup->serv->id != lookup->id)
            return;
        for (GList *l = addresses; l; l = l->next) {
            auto *addr = G_INET_ADDRESS(l->data);
            if (g_inet_address_get_family(addr) != G_SOCKET_FAMILY_IPV4)
                continue;
            guint32 net_order;
            memcpy(&net_order, g_inet_address_to_bytes(addr), sizeof net_order);
            show_own_address(lookup->serv, g_ntohl(net_order), 0);
            break;
        }
    });
    g_resolver_free_addresses(addresses);
}

} // namespace

void inbound_next_nick(session *sess, char *nick, int error, const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;
    serv->nick_attempt++;
    const char *newnick = nullptr;
    switch (serv->nick_attempt) {
    case 2:
        newnick = network_identity(serv->network, &ircnet::second_nick);
        if (!newnick)
            newnick = prefs.irc_nick2;
        break;
    case 3:
        newnick = prefs.irc_nick3;
        break;
    default:
        text_emit(XP_TE_NICK_FAILED, sess, nullptr, nullptr, nullptr, nullptr, stamp_of(tags));
        return;
    }
    serv->p_change_nick(serv, newnick);
    text_emit(error ? XP_TE_NICK_ERRONEOUS : XP_TE_NICK_CLASH, sess, nick, newnick, nullptr, nullptr, stamp_of(tags));
}

void inbound_login_start(session *sess, char *nick, char *servname, const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;
    inbound_newnick(serv, serv->nick, nick, TRUE, tags);
    server_set_name(serv, servname);
    session *tab = server_tab(serv);
    if (tab && tab->type == SESS_SERVER)
        log_open_or_close(tab);
    // Away before the reconnect: tell the new connection so.
    // AWAY without a reason reuses the stored one while the flag is set, so
    // the flag is cleared only after it ran.
    if (serv->restore_away && tab) {
        char away[] = "away";
        handle_command(tab, away, false);
        if (is_server(serv))
            serv->restore_away = FALSE;
    }
}

void inbound_login_end(session *sess, char *text, const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;

    if (!serv->motd_done) {
        if (serv->userhost_lookup && prefs.dcc_ip_from_server) {
            serv->userhost_pending = TRUE;
            serv->p_get_ip_uh(serv, serv->nick);
        }

        char modes[8] = "+";
        if (prefs.irc_wallops)
            strcat(modes, "w");
        if (prefs.irc_servernotice)
            strcat(modes, "s");
        if (prefs.irc_invisible)
            strcat(modes, "i");
        if (prefs.irc_hidehost)
            strcat(modes, "x");
        if (modes[1])
            serv->p_mode(serv, serv->nick, modes);

        if (ircnet *net = serv->network) {
            bool had_commands = false;
            if (run_connect_commands(sess, serv, net, &had_commands)) {
                bool identify_sent = false;
                if (serv->password[0] && identifies_by_message(serv->login_method)) {
                    serv->p_ns_identify(serv, serv->password);
                    identify_sent = true;
                }
                // Channels that need the identification wait for it, or
                // for the delay, whichever comes first.
                if (prefs.irc_join_delay && (identify_sent || had_commands)) {
                    if (serv->join_timer)
                        fe_timeout_remove(serv->join_timer);
                    serv->join_timer = fe_timeout_add_seconds(prefs.irc_join_delay, join_delay_over, serv);
                } else {
                    send_autojoins(serv);
                }
            }
        } else {
            send_autojoins(serv);
        }
        if (!is_server(serv))
            return;
        if (serv->have_monitor || serv->have_watch)
            notify_send_watches(serv);
        serv->motd_done = TRUE;
    }

    session *tab = server_tab(serv);
    if (!tab)
        return;
    if (prefs.irc_skip_motd && !serv->motd_skipped_once) {
        serv->motd_skipped_once = TRUE;
        text_emit(XP_TE_MOTD_SKIPPED, tab, nullptr, nullptr, nullptr, nullptr, stamp_of(tags));
    } else {
        text_emit(XP_TE_MOTD, tab, text, nullptr, nullptr, nullptr, stamp_of(tags));
    }
}

void send_autojoins(server *serv)
{
    if (!is_server(serv))
        return;
    GSList *joins = nullptr;
    int count = 0;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server != serv || !sess->rejoin_channel[0])
            continue;
        safe_strcpy(sess->pending_join, sess->rejoin_channel, sizeof sess->pending_join);
        sess->rejoin_channel[0] = 0;
        if (!sess->key[0]) {
            favchannel *fav = servlist_favchan_find(serv->network, sess->pending_join, nullptr);
            if (fav && nonempty(fav->key))
                safe_strcpy(sess->key, fav->key, sizeof sess->key);
        }
        joins = servlist_favchan_listadd(joins, sess->pending_join, sess->key[0] ? sess->key : nullptr);
        count++;
    }
    if (joins) {
        serv->p_join_list(serv, joins);
        servlist_favchan_list_free(joins);
    } else if (serv->autojoin_channels) {
        serv->p_join_list(serv, serv->autojoin_channels);
        count = 1;
    }
    if (serv->join_timer) {
        fe_timeout_remove(serv->join_timer);
        serv->join_timer = 0;
    }
    fe_server_event(serv, FE_SE_LOGGEDIN, count);
}

void inbound_identified(server *serv)
{
    // Identified before the join delay ran out: nothing left to wait for.
    if (serv->join_timer) {
        fe_timeout_remove(serv->join_timer);
        serv->join_timer = 0;
        send_autojoins(serv);
    }
}

void inbound_foundip(session *sess, char *ip, const message_tags_data *tags)
{
    if (!sess || !nonempty(ip))
        return;
    server *serv = sess->server;
    guint32 address;
    if (net_parse_ipv4(ip, &address)) {
        show_own_address(serv, address, stamp_of(tags));
        return;
    }
    // A host name: resolved in the background, the main loop keeps running.
    GResolver *resolver = g_resolver_get_default();
    g_resolver_lookup_by_name_async(resolver, ip, nullptr, own_address_resolved,
                                    new own_address_lookup{serv, serv->id});
    g_object_unref(resolver);
}
