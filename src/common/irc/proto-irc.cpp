// The protocol senders: every IRC command the client builds, installed in the
// server's operation table. All of them leave through the send queue.

#include "irc/proto-irc.h"

#include "base/util.h"
#include "net/server.h"
#include "net/tcp.h"
#include "output/text.h"
#include "servlist/servlist.h"

#include <openssl/crypto.h>

#include <cstring>
#include <string>

namespace
{

const char *nz(const char *s)
{
    return s ? s : "";
}
bool has_text(const char *s)
{
    return s && s[0];
}

void irc_invite(server *serv, const char *channel, const char *nick)
{
    tcp_sendf(serv, "INVITE %s %s\r\n", nz(nick), nz(channel));
}

// Two sends, so that each line is checked and cut on its own.
void irc_cycle(server *serv, const char *channel, const char *key)
{
    tcp_sendf(serv, "PART %s\r\n", nz(channel));
    if (has_text(key))
        tcp_sendf(serv, "JOIN %s %s\r\n", nz(channel), key);
    else
        tcp_sendf(serv, "JOIN %s\r\n", nz(channel));
}

void irc_ctcp(server *serv, const char *to, const char *msg)
{
    tcp_sendf(serv, "PRIVMSG %s :\001%s\001\r\n", nz(to), nz(msg));
}

void irc_nctcp(server *serv, const char *to, const char *msg)
{
    tcp_sendf(serv, "NOTICE %s :\001%s\001\r\n", nz(to), nz(msg));
}

// Sent at once, ahead of anything queued: a user who pasted a screenful and
// then quits still has the QUIT reach the server before the disconnect.
void irc_quit(server *serv, const char *reason)
{
    if (has_text(reason))
        tcp_sendf_now(serv, "QUIT :%s\r\n", reason);
    else
        tcp_sendf_now(serv, "QUIT\r\n");
}

void irc_kick(server *serv, const char *channel, const char *nick, const char *reason)
{
    if (has_text(reason))
        tcp_sendf(serv, "KICK %s %s :%s\r\n", nz(channel), nz(nick), reason);
    else
        tcp_sendf(serv, "KICK %s %s\r\n", nz(channel), nz(nick));
}

// Sent at once like QUIT: closing a tab must leave the channel now, not
// after the queued lines of every other tab.
void irc_part(server *serv, const char *channel, const char *reason)
{
    if (has_text(reason))
        tcp_sendf_now(serv, "PART %s :%s\r\n", nz(channel), reason);
    else
        tcp_sendf_now(serv, "PART %s\r\n", nz(channel));
}

// The two ways of talking to the nick service: a message to it, or the
// NICKSERV command that most servers alias to it.
void nickserv_send(server *serv, const char *cmd, const char *arg1, const char *arg2, const char *arg3)
{
    if (serv->login_method == LOGIN_METHOD_NICKSERV_MSG)
        tcp_sendf(serv, "PRIVMSG NICKSERV :%s %s%s%s\r\n", cmd, arg1, arg2, arg3);
    else
        tcp_sendf(serv, "NICKSERV %s %s%s%s\r\n", cmd, arg1, arg2, arg3);
}

void irc_ns_identify(server *serv, const char *pass)
{
    if (serv->login_method == LOGIN_METHOD_CHALLENGE) {
        tcp_sendf(serv, "PRIVMSG %s :CHALLENGE\r\n", CHALLENGE_SERVICE_ADDRESS);
        return;
    }
    nickserv_send(serv, "IDENTIFY", nz(pass), "", "");
}

void irc_ns_ghost(server *serv, const char *usname, const char *pass)
{
    if (serv->login_method == LOGIN_METHOD_CHALLENGE)
        return;
    nickserv_send(serv, "GHOST", nz(usname), " ", nz(pass));
}

void irc_join(server *serv, const char *channel, const char *key)
{
    if (has_text(key))
        tcp_sendf(serv, "JOIN %s %s\r\n", nz(channel), key);
    else
        tcp_sendf(serv, "JOIN %s\r\n", nz(channel));
}

// Channel and key lists of one JOIN line being packed.
struct join_line {
    std::string channels;
    std::string keys; // "x" stands for a channel without key
    bool any_key = false;
    int count = 0;

    // The bytes the line would take on the wire, CR LF included.
    std::size_t wire_length() const { return 5 + channels.size() + (any_key ? 1 + keys.size() : 0) + 2; }

    void add(const char *name, const char *key)
    {
        if (count++) {
            channels += ',';
            keys += ',';
        }
        channels += name;
        keys += has_text(key) ? key : "x";
        any_key = any_key || has_text(key);
    }

    void send(server *serv)
    {
        if (!count)
            return;
        if (any_key)
            tcp_sendf(serv, "JOIN %s %s\r\n", channels.c_str(), keys.c_str());
        else
            tcp_sendf(serv, "JOIN %s\r\n", channels.c_str());
        OPENSSL_cleanse(keys.data(), keys.size());
        *this = join_line();
    }
};

// Packs the channels into as few JOIN lines as fit. The running count is the
// one servers have long been fed; the "x" stand-ins it leaves out are checked
// against the real line, so a line with keys is never cut on the wire.
void irc_join_list(server *serv, GSList *favorites)
{
    constexpr int PACK_START = 9;
    join_line line;
    int running = PACK_START;
    for (GSList *l = favorites; l; l = l->next) {
        const auto *fav = static_cast<const favchannel *>(l->data);
        if (!fav || !has_text(fav->name))
            continue;
        const int own = static_cast<int>(strlen(fav->name) + strlen(nz(fav->key)));
        if (line.count) {
            join_line trial = line;
            trial.add(fav->name, fav->key);
            const bool too_long =
                running + own + 2 > JOIN_PACK_LIMIT || trial.wire_length() > static_cast<std::size_t>(IRC_LINE_MAX);
            OPENSSL_cleanse(trial.keys.data(), trial.keys.size());
            if (too_long) {
                line.send(serv);
                running = PACK_START;
            }
        }
        running += own + (line.count ? 2 : 0);
        line.add(fav->name, fav->key);
    }
    line.send(serv);
}

void irc_login(server *serv, const char *user, const char *realname)
{
    tcp_sendf(serv, "CAP LS 302\r\n");
    serv->cap_ended = FALSE;
    if (serv->password[0] && serv->login_method == LOGIN_METHOD_SERVER_PASSWORD) {
        // A password that starts with ":" or holds a space is only one
        // parameter as a trailing one.
        const bool trailing = serv->password[0] == ':' || strchr(serv->password, ' ');
        tcp_sendf(serv, "PASS %s%s\r\n", trailing ? ":" : "", serv->password);
    }
    tcp_sendf(serv, "NICK %s\r\n", serv->nick);
    tcp_sendf(serv, "USER %s 0 * :%s\r\n", nz(user), nz(realname));
}

void irc_join_info(server *serv, const char *channel)
{
    tcp_sendf(serv, "MODE %s\r\n", nz(channel));
}

void irc_mode(server *serv, const char *target, const char *mode)
{
    tcp_sendf(serv, "MODE %s %s\r\n", nz(target), nz(mode));
}

// WHOX asks for exactly the fields the user list keeps (channel, host,
// server, nick, flags, account, real name); 152 tags the replies as ours.
void irc_who(server *serv, const char *target)
{
    if (serv->have_whox)
        tcp_sendf(serv, "WHO %s %%chtsunfra,152\r\n", nz(target));
    else
        tcp_sendf(serv, "WHO %s\r\n", nz(target));
}

void irc_whois(server *serv, const char *nicks)
{
    tcp_sendf(serv, "WHOIS %s\r\n", nz(nicks));
}

void irc_userhost(server *serv, const char *nick)
{
    tcp_sendf(serv, "USERHOST %s\r\n", nz(nick));
}

void irc_set_back(server *serv)
{
    tcp_sendf(serv, "AWAY\r\n");
}

// "AWAY" alone would mean back, so an empty reason is sent as a space.
void irc_set_away(server *serv, const char *reason)
{
    tcp_sendf(serv, "AWAY :%s\r\n", has_text(reason) ? reason : " ");
}

void irc_message(server *serv, const char *channel, const char *text)
{
    tcp_sendf(serv, "PRIVMSG %s :%s\r\n", nz(channel), nz(text));
}

void irc_tagged_message(server *serv, const char *tags, const char *channel, const char *text)
{
    tcp_sendf(serv, "@%s PRIVMSG %s :%s\r\n", nz(tags), nz(channel), nz(text));
}

void irc_tagmsg(server *serv, const char *tags, const char *target)
{
    tcp_sendf(serv, "@%s TAGMSG %s\r\n", nz(tags), nz(target));
}

void irc_action(server *serv, const char *channel, const char *act)
{
    tcp_sendf(serv, "PRIVMSG %s :\001ACTION %s\001\r\n", nz(channel), nz(act));
}

void irc_notice(server *serv, const char *channel, const char *text)
{
    tcp_sendf(serv, "NOTICE %s :%s\r\n", nz(channel), nz(text));
}

// Null clears the topic, an empty text asks for it.
void irc_topic(server *serv, const char *channel, const char *topic)
{
    if (!topic)
        tcp_sendf(serv, "TOPIC %s :\r\n", nz(channel));
    else if (!topic[0])
        tcp_sendf(serv, "TOPIC %s\r\n", nz(channel));
    else
        tcp_sendf(serv, "TOPIC %s :%s\r\n", nz(channel), topic);
}

// Servers that take LIST conditions filter small channels themselves;
// 10000 is only there to complete the range.
void irc_list_channels(server *serv, const char *arg, int min_users)
{
    if (has_text(arg))
        tcp_sendf(serv, "LIST %s\r\n", arg);
    else if (serv->have_list_conditions)
        tcp_sendf(serv, "LIST >%d,<10000\r\n", min_users - 1);
    else
        tcp_sendf(serv, "LIST\r\n");
}

void irc_change_nick(server *serv, const char *new_nick)
{
    tcp_sendf(serv, "NICK %s\r\n", nz(new_nick));
}

void irc_names(server *serv, const char *channel)
{
    tcp_sendf(serv, "NAMES %s\r\n", nz(channel));
}

// With a target it is a CTCP PING to a user; without, a PING to the server.
void irc_ping(server *serv, const char *to, const char *timestring)
{
    if (has_text(to))
        tcp_sendf(serv, "PRIVMSG %s :\001PING %s\001\r\n", to, nz(timestring));
    else
        tcp_sendf(serv, "PING %s\r\n", nz(timestring));
}

// The line as the user typed it. It is one line: any CR or LF in it becomes a
// space, and the queue cuts it to the protocol's length with its CR LF.
int irc_raw(server *serv, const char *raw)
{
    if (!has_text(raw))
        return 0;
    const std::size_t len = strlen(raw);
    auto *line = static_cast<char *>(g_malloc(len + 3));
    for (std::size_t i = 0; i < len; i++)
        line[i] = (raw[i] == '\r' || raw[i] == '\n') ? ' ' : raw[i];
    memcpy(line + len, "\r\n", 3);
    tcp_send_len(serv, line, static_cast<int>(len + 2));
    OPENSSL_cleanse(line, len + 3);
    g_free(line);
    return 1;
}

} // namespace

void proto_fill_her_up(server *serv)
{
    serv->p_inline = irc_inline;
    serv->p_invite = irc_invite;
    serv->p_cycle = irc_cycle;
    serv->p_ctcp = irc_ctcp;
    serv->p_nctcp = irc_nctcp;
    serv->p_quit = irc_quit;
    serv->p_kick = irc_kick;
    serv->p_part = irc_part;
    serv->p_ns_identify = irc_ns_identify;
    serv->p_ns_ghost = irc_ns_ghost;
    serv->p_join = irc_join;
    serv->p_join_list = irc_join_list;
    serv->p_login = irc_login;
    serv->p_join_info = irc_join_info;
    serv->p_mode = irc_mode;
    serv->p_user_list = irc_who;
    serv->p_away_status = irc_who;
    serv->p_whois = irc_whois;
    serv->p_get_ip = irc_who;
    serv->p_get_ip_uh = irc_userhost;
    serv->p_set_back = irc_set_back;
    serv->p_set_away = irc_set_away;
    serv->p_message = irc_message;
    serv->p_tagged_message = irc_tagged_message;
    serv->p_tagmsg = irc_tagmsg;
    serv->p_action = irc_action;
    serv->p_notice = irc_notice;
    serv->p_topic = irc_topic;
    serv->p_list_channels = irc_list_channels;
    serv->p_change_nick = irc_change_nick;
    serv->p_names = irc_names;
    serv->p_ping = irc_ping;
    serv->p_raw = irc_raw;
    // Every nick and channel comparison on this server goes through this.
    serv->p_cmp = rfc_casecmp;
}
