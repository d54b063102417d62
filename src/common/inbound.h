// Handling of events received from the server: the line parser calls one
// of these per message with its pieces separated and its tags decoded.
// Text arguments point into the parser's buffers and live for the call.
#pragma once

#include <ctime>

struct server;
struct session;
struct message_tags_data;

// The away state of inbound_user_info when the reply does not tell it.
inline constexpr unsigned int USER_AWAY_UNKNOWN = 0xff;

// Releases the reply context of a session.
void reply_cache_free(session *sess);
// Sets the topic of a session and shows it.
void set_topic(session *sess, const char *topic, const char *stripped_topic);

// Messages.
void inbound_privmsg(server *serv, char *from, char *ip, char *text, int id, const message_tags_data *tags);
// A message to a channel or dialog: `sess` when known, else found from
// `chan` (or from `from` when `chan` is null).
void inbound_chanmsg(server *serv, session *sess, char *chan, char *from, char *text, int fromme, int id,
                     const message_tags_data *tags);
void inbound_action(session *sess, char *chan, char *from, char *ip, char *text, int fromme, int id,
                    const message_tags_data *tags);
void inbound_notice(server *serv, char *to, char *nick, char *msg, char *ip, int id, const message_tags_data *tags);

// Channel membership and topics.
void inbound_join(server *serv, char *chan, char *user, char *ip, char *account, char *realname,
                  const message_tags_data *tags);
void inbound_ujoin(server *serv, char *chan, char *nick, char *ip, const message_tags_data *tags);
void inbound_part(server *serv, char *chan, char *user, char *ip, char *reason, const message_tags_data *tags);
void inbound_upart(server *serv, char *chan, char *ip, char *reason, const message_tags_data *tags);
void inbound_kick(server *serv, char *chan, char *user, char *kicker, char *reason, const message_tags_data *tags);
void inbound_ukick(server *serv, char *chan, char *kicker, char *reason, const message_tags_data *tags);
void inbound_quit(server *serv, char *nick, char *ip, char *reason, const message_tags_data *tags);
void inbound_newnick(server *serv, char *nick, char *newnick, int quiet, const message_tags_data *tags);
void inbound_topic(server *serv, char *chan, char *topic_text, const message_tags_data *tags);
void inbound_topicnew(server *serv, char *nick, char *chan, char *topic, const message_tags_data *tags);
void inbound_topictime(server *serv, char *chan, char *nick, time_t stamp, const message_tags_data *tags);
void inbound_nameslist(server *serv, char *chan, char *names, const message_tags_data *tags);
// 1 when the end of names was taken care of, 0 to show the reply generically.
int inbound_nameslist_end(server *serv, char *chan, const message_tags_data *tags);
// 1 when the ban-list entry was taken care of, 0 to show it generically.
int inbound_banlist(session *sess, time_t stamp, char *chan, char *mask, char *banner, int rplcode,
                    const message_tags_data *tags);

// Away states and user data.
void inbound_away(server *serv, char *nick, char *msg, const message_tags_data *tags);
// `reason` null: the nick is back.
void inbound_away_notify(server *serv, char *nick, char *reason, const message_tags_data *tags);
void inbound_uaway(server *serv, const message_tags_data *tags);
void inbound_uback(server *serv, const message_tags_data *tags);
void inbound_account(server *serv, const char *nick, const char *account);
void inbound_user_info_start(session *sess, char *nick, const message_tags_data *tags);
// Any text argument may be null when the reply does not carry it; `away`
// is 0, 1 or USER_AWAY_UNKNOWN.
void inbound_user_info(session *sess, char *chan, char *user, char *host, char *servname, char *nick, char *realname,
                       char *account, unsigned int away, const message_tags_data *tags);

// Login and the connection.
void inbound_ping_reply(session *sess, char *timestring, char *from, const message_tags_data *tags);
void inbound_next_nick(session *sess, char *nick, int error, const message_tags_data *tags);
void inbound_login_start(session *sess, char *nick, char *servname, const message_tags_data *tags);
void inbound_login_end(session *sess, char *text, const message_tags_data *tags);
void inbound_identified(server *serv);
void inbound_foundip(session *sess, char *ip, const message_tags_data *tags);
