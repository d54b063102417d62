// Handling of events received from the server.
//
// The full behaviour of each event (user lists, highlights, the reply cache,
// auto-join, notify) arrives with the inbound work. Until then every handler
// shows its event in the session it belongs to, with the text event the
// event will keep, and keeps the server state that the connection itself
// depends on: the own nick, the away flag, the lag meter and the end of login.

#include "inbound.h"

#include "cfgfiles.h"
#include "fe.h"
#include "modes.h"
#include "network.h"
#include "outbound.h"
#include "proto-irc.h"
#include "server.h"
#include "session.h"
#include "text.h"
#include "util.h"

#include <glib.h>

#include <cstdlib>
#include <cstring>

namespace
{

time_t stamp_of(const message_tags_data *tags)
{
    return tags ? tags->timestamp : 0;
}

// The tab that takes events without a better home.
session *front_tab(server *serv)
{
    if (serv->recent_session)
        return serv->recent_session;
    if (serv->home_session)
        return serv->home_session;
    return session_find_by_server(serv, nullptr);
}

session *server_tab(server *serv)
{
    return serv->home_session ? serv->home_session : front_tab(serv);
}

const char *nz(const char *s)
{
    return s ? s : "";
}

// "Www Mmm dd hh:mm:ss yyyy" of `t`, cut to `len` characters; "" when the
// C library cannot express the time.
void time_text(time_t t, char *out, std::size_t size, std::size_t len)
{
    char buf[64];
    out[0] = 0;
    if (!ctime_r(&t, buf))
        return;
    buf[strcspn(buf, "\n")] = 0;
    if (len < strlen(buf))
        buf[len] = 0;
    g_strlcpy(out, buf, size);
}

} // namespace

void reply_cache_free(session *sess)
{
    for (auto &slot : sess->reply_context) {
        g_free(slot);
        slot = nullptr;
    }
}

void set_topic(session *sess, const char *topic, const char *stripped_topic)
{
    // The front end may keep pointers into the old text until the call returns.
    char *old = sess->topic;
    sess->topic = g_strdup(topic);
    fe_set_topic(sess, const_cast<char *>(topic), const_cast<char *>(stripped_topic));
    g_free(old);
}

// ---- messages -----------------------------------------------------------------

void inbound_privmsg(server *serv, char *from, char *ip, char *text, int id, const message_tags_data *tags)
{
    (void)ip;
    (void)id;
    if (session *dialog = find_dialog(serv, from)) {
        text_emit(XP_TE_PRIVATE_MESSAGE_TO_DIALOG, dialog, from, text, "", nullptr, stamp_of(tags));
        return;
    }
    if (session *sess = front_tab(serv))
        text_emit(XP_TE_PRIVATE_MESSAGE, sess, from, text, "", nullptr, stamp_of(tags));
}

void inbound_chanmsg(server *serv, session *sess, char *chan, char *from, char *text, int fromme, int id,
                     const message_tags_data *tags)
{
    (void)id;
    if (!sess) {
        if (chan) {
            sess = find_channel(serv, chan);
            if (!sess && !is_channel(serv, chan))
                sess = find_dialog(serv, chan);
        } else {
            sess = find_dialog(serv, from);
        }
    }
    if (!sess)
        return;
    if (fromme)
        text_emit(XP_TE_YOUR_MESSAGE, sess, from, text, "", nullptr, stamp_of(tags));
    else if (sess->type == SESS_DIALOG)
        text_emit(XP_TE_PRIVATE_MESSAGE_TO_DIALOG, sess, from, text, "", nullptr, stamp_of(tags));
    else
        text_emit(XP_TE_CHANNEL_MESSAGE, sess, from, text, "", "", stamp_of(tags));
}

void inbound_action(session *sess, char *chan, char *from, char *ip, char *text, int fromme, int id,
                    const message_tags_data *tags)
{
    (void)ip;
    (void)id;
    if (!sess)
        return;
    server *serv = sess->server;
    const bool to_channel = is_channel(serv, chan);
    if (!fromme) {
        session *found = to_channel ? find_channel(serv, chan) : find_dialog(serv, from);
        if (found)
            sess = found;
    }
    if (fromme)
        text_emit(XP_TE_YOUR_ACTION, sess, from, text, "", nullptr, stamp_of(tags));
    else if (to_channel)
        text_emit(XP_TE_CHANNEL_ACTION, sess, from, text, "", "", stamp_of(tags));
    else if (sess->type == SESS_DIALOG)
        text_emit(XP_TE_PRIVATE_ACTION_TO_DIALOG, sess, from, text, "", nullptr, stamp_of(tags));
    else
        text_emit(XP_TE_PRIVATE_ACTION, sess, from, text, "", nullptr, stamp_of(tags));
}

void inbound_notice(server *serv, char *to, char *nick, char *msg, char *ip, int id, const message_tags_data *tags)
{
    (void)id;
    const bool server_notice = strcmp(nick, nz(ip)) == 0;
    session *chan = nullptr;
    if (is_channel(serv, to))
        chan = find_channel(serv, to);
    else if (to[0] && serv->nickprefixes && strchr(serv->nickprefixes, to[0]) && is_channel(serv, to + 1))
        chan = find_channel(serv, to + 1);

    if (msg[0] == '\001') {
        if (!strncmp(msg, "\001PING ", 6)) {
            char *end = strchr(msg + 1, '\001');
            if (end)
                *end = 0;
            if (session *s = front_tab(serv))
                inbound_ping_reply(s, msg + 6, nick, tags);
            return;
        }
        msg++;
        char *end = strchr(msg, '\001');
        if (end && !end[1])
            *end = 0;
    }

    if (chan) {
        text_emit(XP_TE_CHANNEL_NOTICE, chan, nick, to, msg, nullptr, stamp_of(tags));
        return;
    }
    session *sess = server_notice ? server_tab(serv) : front_tab(serv);
    if (!sess)
        return;
    if (server_notice)
        text_emit(XP_TE_SERVER_NOTICE, sess, msg, nick, nullptr, nullptr, stamp_of(tags));
    else
        text_emit(XP_TE_NOTICE, sess, nick, msg, nullptr, nullptr, stamp_of(tags));
}

// ---- channel membership and topics --------------------------------------------

void inbound_join(server *serv, char *chan, char *user, char *ip, char *account, char *realname,
                  const message_tags_data *tags)
{
    (void)realname;
    if (session *sess = find_channel(serv, chan))
        text_emit(XP_TE_JOIN, sess, user, chan, ip, account, stamp_of(tags));
}

void inbound_ujoin(server *serv, char *chan, char *nick, char *ip, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        sess = new_ircwindow(serv, chan, SESS_CHANNEL, 1);
    if (!sess)
        return;
    // The server's spelling of the name wins over the one the user typed.
    safe_strcpy(sess->channel, chan, sizeof sess->channel);
    sess->pending_join[0] = 0;
    fe_set_channel(sess);
    fe_set_title(sess);
    fe_set_nonchannel(sess, 1);
    text_emit(XP_TE_YOU_JOIN, sess, nick, chan, ip, nullptr, stamp_of(tags));
}

void inbound_part(server *serv, char *chan, char *user, char *ip, char *reason, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    if (reason && reason[0])
        text_emit(XP_TE_PART_WITH_REASON, sess, user, ip, chan, reason, stamp_of(tags));
    else
        text_emit(XP_TE_PART, sess, user, ip, chan, nullptr, stamp_of(tags));
}

void inbound_upart(server *serv, char *chan, char *ip, char *reason, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    if (reason && reason[0])
        text_emit(XP_TE_YOU_PART_WITH_REASON, sess, serv->nick, ip, chan, reason, stamp_of(tags));
    else
        text_emit(XP_TE_YOU_PART, sess, serv->nick, ip, chan, nullptr, stamp_of(tags));
}

void inbound_kick(server *serv, char *chan, char *user, char *kicker, char *reason, const message_tags_data *tags)
{
    if (session *sess = find_channel(serv, chan))
        text_emit(XP_TE_KICK, sess, kicker, user, chan, reason, stamp_of(tags));
}

void inbound_ukick(server *serv, char *chan, char *kicker, char *reason, const message_tags_data *tags)
{
    if (session *sess = find_channel(serv, chan))
        text_emit(XP_TE_YOU_KICKED, sess, serv->nick, chan, kicker, reason, stamp_of(tags));
}

void inbound_quit(server *serv, char *nick, char *ip, char *reason, const message_tags_data *tags)
{
    // Without user lists the channels the nick was on are unknown: a dialog
    // with the nick shows it, else the server tab.
    session *sess = find_dialog(serv, nick);
    if (!sess)
        sess = server_tab(serv);
    if (sess)
        text_emit(XP_TE_QUIT, sess, nick, reason, ip, nullptr, stamp_of(tags));
}

void inbound_newnick(server *serv, char *nick, char *newnick, int quiet, const message_tags_data *tags)
{
    const bool own = serv->p_cmp(nick, serv->nick) == 0;
    if (session *dialog = find_dialog(serv, nick)) {
        safe_strcpy(dialog->channel, newnick, sizeof dialog->channel);
        fe_set_channel(dialog);
        if (!quiet && !own)
            text_emit(XP_TE_CHANGE_NICK, dialog, nick, newnick, nullptr, nullptr, stamp_of(tags));
    }
    if (own) {
        // Copied first: `nick` may be the server's own nick buffer.
        char old[NICKLEN];
        safe_strcpy(old, nick, sizeof old);
        safe_strcpy(serv->nick, newnick, sizeof serv->nick);
        fe_set_nick(serv, serv->nick);
        if (!quiet && serv->home_session)
            text_emit(XP_TE_YOUR_NICK_CHANGING, serv->home_session, old, newnick, nullptr, nullptr, stamp_of(tags));
    }
}

void inbound_topic(server *serv, char *chan, char *topic_text, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (sess) {
        char *stripped = strip_color(topic_text, -1, STRIP_ALL);
        set_topic(sess, topic_text, stripped);
        g_free(stripped);
    } else {
        sess = server_tab(serv);
    }
    if (sess)
        text_emit(XP_TE_TOPIC, sess, chan, topic_text, nullptr, nullptr, stamp_of(tags));
}

void inbound_topicnew(server *serv, char *nick, char *chan, char *topic, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    text_emit(XP_TE_TOPIC_CHANGE, sess, nick, topic, chan, nullptr, stamp_of(tags));
    char *stripped = strip_color(topic, -1, STRIP_ALL);
    set_topic(sess, topic, stripped);
    g_free(stripped);
}

void inbound_topictime(server *serv, char *chan, char *nick, time_t stamp, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        sess = server_tab(serv);
    if (!sess)
        return;
    char when[64];
    time_text(stamp, when, sizeof when, 24);
    text_emit(XP_TE_TOPIC_CREATION, sess, chan, nick, when, nullptr, stamp_of(tags));
}

void inbound_nameslist(server *serv, char *chan, char *names, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        sess = server_tab(serv);
    if (sess)
        text_emit(XP_TE_USERS_ON_CHANNEL, sess, chan, names, nullptr, nullptr, stamp_of(tags));
}

int inbound_nameslist_end(server *serv, char *chan, const message_tags_data *)
{
    return strcmp(chan, "*") == 0 || find_channel(serv, chan) != nullptr;
}

int inbound_banlist(session *sess, time_t stamp, char *chan, char *mask, char *banner, int rplcode,
                    const message_tags_data *tags)
{
    if (!sess)
        return 0;
    char when[64] = "";
    if (stamp > 0)
        time_text(stamp, when, sizeof when, 24);
    session *chan_sess = find_channel(sess->server, chan);
    if (chan_sess && fe_add_ban_list(chan_sess, mask, banner, when, rplcode))
        return 1;
    text_emit(XP_TE_BAN_LIST, chan_sess ? chan_sess : sess, chan, mask, banner, when, stamp_of(tags));
    return 1;
}

// ---- away states and user data --------------------------------------------------

void inbound_away(server *serv, char *nick, char *msg, const message_tags_data *tags)
{
    if (serv->in_whois && serv->whois_quiet)
        return;
    session *sess = nullptr;
    if (prefs.irc_whois_front)
        sess = front_tab(serv);
    else if (serv->in_whois)
        sess = server_tab(serv);
    else if (!(sess = find_dialog(serv, nick)))
        sess = server_tab(serv);
    if (sess)
        text_emit(XP_TE_WHOIS_AWAY_LINE, sess, nick, msg, nullptr, nullptr, stamp_of(tags));
}

void inbound_away_notify(server *serv, char *nick, char *reason, const message_tags_data *tags)
{
    // Without user lists or a notify list, only an open dialog with the nick
    // hears of it: that is where the user would miss it.
    session *dialog = find_dialog(serv, nick);
    if (!dialog)
        return;
    if (reason)
        text_emit(XP_TE_NOTIFY_AWAY, dialog, nick, reason, nullptr, nullptr, stamp_of(tags));
    else
        text_emit(XP_TE_NOTIFY_BACK, dialog, nick, nullptr, nullptr, nullptr, stamp_of(tags));
}

void inbound_uaway(server *serv, const message_tags_data *)
{
    serv->away = TRUE;
    fe_set_away(serv);
}

void inbound_uback(server *serv, const message_tags_data *)
{
    serv->away = FALSE;
    serv->restore_away = FALSE;
    fe_set_away(serv);
}

void inbound_account(server *, const char *, const char *) {}

void inbound_user_info_start(session *, char *, const message_tags_data *) {}

void inbound_user_info(session *, char *, char *, char *, char *, char *, char *, char *, unsigned int,
                       const message_tags_data *)
{
}

// ---- login and the connection ---------------------------------------------------

void inbound_ping_reply(session *sess, char *timestring, char *from, const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;
    serv->last_pong_time = time(nullptr);

    // The answer to the lag probe: "LAG" and the milliseconds it was sent at.
    if (!strncmp(timestring, "LAG", 3)) {
        const unsigned long sent = strtoul(timestring + 3, nullptr, 10);
        const long lag = static_cast<long>(make_ping_time() - sent);
        serv->lag_probe_ms = 0;
        serv->lag = static_cast<int>(lag);
        fe_set_lag(serv, lag);
        return;
    }

    char outbuf[64];
    const unsigned long sent = strtoul(timestring, nullptr, 10);
    if (sent) {
        const long dif = static_cast<long>(make_ping_time() - sent);
        g_snprintf(outbuf, sizeof outbuf, "%ld.%03ld", dif / 1000, labs(dif % 1000));
    } else if (serv->lag_probe_ms) {
        serv->lag_probe_ms = 0;
        return;
    } else {
        g_strlcpy(outbuf, "?", sizeof outbuf);
    }
    text_emit(XP_TE_PING_REPLY, sess, from, outbuf, nullptr, nullptr, stamp_of(tags));
}

void inbound_next_nick(session *sess, char *nick, int error, const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;
    serv->nick_attempt++;
    const char *newnick = nullptr;
    switch (serv->nick_attempt) {
    case 2:
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
}

void inbound_login_end(session *sess, char *text, const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;
    if (!serv->motd_done)
        serv->motd_done = TRUE;
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

void inbound_identified(server *) {}

void inbound_foundip(session *sess, char *ip, const message_tags_data *tags)
{
    // Only an address given as digits is taken: resolving a name here would
    // hold the whole program up on the resolver.
    guint32 addr;
    if (!sess || !net_parse_ipv4(ip, &addr))
        return;
    if (session *tab = server_tab(sess->server))
        text_emit(XP_TE_FOUND_IP, tab, net_ip(addr), nullptr, nullptr, nullptr, stamp_of(tags));
}
