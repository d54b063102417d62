// Handling of events received from the server: the line parser calls one
// of these per message with its pieces separated and its tags decoded.
// Text arguments point into the parser's buffers and live for the call.
#pragma once

#include <glib.h>

#include <ctime>
#include <string>

struct server;
struct session;
struct message_tags_data;

// The away state of inbound_user_info when the reply does not tell it.
inline constexpr unsigned int USER_AWAY_UNKNOWN = 0xff;

// ---- reply support (IRCv3 "+reply") -------------------------------------------

// The newest messages of a session, kept so that a reply can quote them.
inline constexpr std::size_t REPLY_CACHE_SIZE = 200;

struct reply_entry {
    std::string msgid;
    std::string nick;
    std::string text;
    time_t stamp = 0;
};

// The message the user is answering, set from the nick menu.
struct reply_state {
    std::string msgid;
    std::string nick;
    std::string label;
    std::string text;
};

// Present, not empty, not starting with ":" and free of space, CR and LF.
bool reply_msgid_valid(const char *msgid);
// The cached message with exactly this id (borrowed), or null.
const reply_entry *reply_cache_find(session *sess, const char *msgid);
// The newest cached message from `nick` (server's nick comparison), or null.
const reply_entry *reply_cache_latest_from(session *sess, const char *nick);
// Remembers one message; an id already cached is updated in place. Invalid
// ids are ignored.
void reply_cache_add(session *sess, const char *msgid, const char *nick, const char *text, time_t stamp);
// Replaces the reply state (an invalid id leaves it alone); null nick,
// label or text take the defaults: the channel name, "message" and
// "Original message unavailable".
void reply_state_set(session *sess, const char *msgid, const char *nick, const char *label, const char *text);
// The current reply state (borrowed), or null when none is set.
const reply_state *reply_state_get(session *sess);
void reply_state_clear(session *sess);
// Releases the reply cache and state of a session (it is closing).
void reply_cache_free(session *sess);

// ---- highlights -----------------------------------------------------------------

// Whether `word` matches an item of `list` (items split at commas and
// spaces, wildcards, IRC case folding, NFKC with emoji selectors removed).
bool alert_match_word(const char *word, const char *list);
// Whether any word of `text` matches an item of `list`.
bool alert_match_text(const char *text, const char *list);

// ---- the user's own messages --------------------------------------------------------

// What to show or log for the user's own message `text` to `target`: a
// password told to the nick service ("identify ...", "ghost ...") is masked
// as "identify ****" / "ghost ****"; any other text is returned unchanged.
const char *nickserv_mask(const char *target, const char *text);

// ---- session helpers ---------------------------------------------------------------

// Stores the stripped topic of a session and shows both texts; a dialog's
// log notes a changed peer address.
void set_topic(session *sess, const char *topic, const char *stripped_topic);
// Resets a channel tab that is no longer joined (own part, kick,
// disconnect); its name becomes the channel it waits to join.
void clear_channel(session *sess);
// The dialog with `nick`, created (with focus when asked) when missing;
// an existing one is brought to front when focus is asked.
session *open_query(server *serv, const char *nick, bool focus);
// The tab for events of `serv` that have no better home: the one the user
// last used, else the server tab, else any tab of the server (or nullptr).
session *front_tab(server *serv);
// The server's own tab, else front_tab.
session *server_tab(server *serv);
// Resolves `host` (the text after its last "@") asynchronously and prints
// the result in `sess`; `nick` (may be null) is shown as the user resolved.
void do_dns(session *sess, const char *nick, const char *host, const message_tags_data *tags);

// What the server told about the user's own connection.
// The own IPv4 address learnt from the server (host byte order), 0 if none.
guint32 inbound_own_address(const server *serv);
// When the server confirmed the user away (0 when not away).
time_t inbound_away_since(const server *serv);
// Marks that a /DNS waits for the address of a nick (the WHO/USERHOST reply
// resolves it).
void inbound_set_doing_dns(server *serv, bool doing);
// A USERHOST reply ("nick[*]=+user@host", word 4 on) while a /DNS waits for
// it: resolves the host in `sess` and returns true; false when no /DNS waits.
bool inbound_userhost_dns(session *sess, char *reply, const message_tags_data *tags);
// Remembers the own address the server revealed.
void inbound_set_own_address(server *serv, guint32 address);

// ---- messages -----------------------------------------------------------------------

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

// A PONG from the server: lag answers and replies to /PING of a server.
void inbound_ping_reply(session *sess, char *timestring, char *from, const message_tags_data *tags);

// Login and the connection (inbound-login.cpp).
void inbound_next_nick(session *sess, char *nick, int error, const message_tags_data *tags);
void inbound_login_start(session *sess, char *nick, char *servname, const message_tags_data *tags);
void inbound_login_end(session *sess, char *text, const message_tags_data *tags);
// The nick service confirmed the identification: a waiting auto-join runs now.
void inbound_identified(server *serv);
void inbound_foundip(session *sess, char *ip, const message_tags_data *tags);
// Joins the channels waiting on `serv` (or its favourites); ends the join delay.
void send_autojoins(server *serv);
