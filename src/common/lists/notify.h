// The notify (friends) list: nicks whose presence is tracked on each
// network, with MONITOR, WATCH or ISON polling, whichever the server offers.
#pragma once

#include <glib.h>

#include <ctime>
#include <string>
#include <vector>

struct server;
struct session;
struct message_tags_data;

// A friend's state on one server.
struct notify_per_server {
    server *serv;
    bool online;
    time_t lastseen; // 0: never
    time_t laston;
    time_t lastoff;
};

// One friend: the nick (at most 63 bytes), the networks it is tracked on
// (comma-separated, no spaces; empty: every network) and its states.
struct notify {
    std::string name;
    std::string networks;
    std::vector<notify_per_server> statuses;
};

// The friends (notify *), newest first.
extern GSList *notify_list;

// Adds `nick` for the comma-separated `networks` (null, empty or "ALL":
// every network), asks the servers at once; false for an empty nick.
// An existing entry only takes the new networks.
bool notify_adduser(const char *nick, const char *networks);
// Removes `nick` (IRC case), taking it off the servers' MONITOR or WATCH
// lists first: 1 removed, 0 not on the list.
int notify_deluser(const char *nick);
// Shows the notify list with each nick's state on the session's server.
void notify_showlist(session *sess, const message_tags_data *tags);
// Sends the notify list as MONITOR or WATCH entries after login.
void notify_send_watches(server *serv);
// Whether any notify entry names `nick`.
bool notify_is_in_list(server *serv, const char *nick);
// Whether an entry that applies to the session's server is online there.
bool notify_isnotify(session *sess, const char *nick);
// Whether `entry` is tracked on `serv`.
bool notify_applies(const notify *entry, server *serv);
// The entry's state on `serv`, or null when none was recorded.
const notify_per_server *notify_find_status(const notify *entry, server *serv);
void notify_load(void);
void notify_save(void);
// Asks ISON on every server that has neither MONITOR nor WATCH (and for
// the nicks a full MONITOR list refused); a list too long for one line is
// asked in turns. Always 1 (the timer keeps running).
int notify_checklist(void *unused);
// Drops the states of servers that are gone or disconnected.
void notify_cleanup(void);

// An ISON reply: `nicks` is the whole space-separated list. Only the nicks
// the client asked in that round change state.
void notify_markonline(server *serv, const char *nicks, const message_tags_data *tags);
void notify_set_online(server *serv, const char *nick, const message_tags_data *tags);
void notify_set_offline(server *serv, const char *nick, int quiet, const message_tags_data *tags);
// The same for a comma-separated list of nick!user@host items.
void notify_set_online_list(server *serv, const char *users, const message_tags_data *tags);
void notify_set_offline_list(server *serv, const char *users, int quiet, const message_tags_data *tags);
// The server refused `targets` (comma-separated) because its MONITOR list
// is full: they are watched with WATCH when offered, else polled with ISON.
void notify_monitor_full(server *serv, const char *targets);
