// The notify (friends) list.
#pragma once

struct server;
struct message_tags_data;

struct session;

// Adds `nick` to the notify list for the comma-separated `networks` (null:
// every network); false when this build has no notify list to store it in.
bool notify_adduser(const char *nick, const char *networks);
// Removes `nick`: 1 removed, 0 not on the list.
int notify_deluser(const char *nick);
// Shows the notify list with each nick's state on the session's server.
void notify_showlist(session *sess, const message_tags_data *tags);
// Sends the notify list as MONITOR or WATCH entries after login.
void notify_send_watches(server *serv);
// Whether any notify entry names `nick`.
bool notify_is_in_list(server *serv, const char *nick);
void notify_load(void);
void notify_save(void);
// Polls the notify list on every connected server.
int notify_checklist(void *unused);
void notify_cleanup(void);

// Online/offline reports from the server (ISON, MONITOR and WATCH replies).
void notify_markonline(server *serv, char *word[], const message_tags_data *tags);
void notify_set_online(server *serv, char *nick, const message_tags_data *tags);
void notify_set_offline(server *serv, char *nick, int quiet, const message_tags_data *tags);
// The same for a comma-separated list of nick!user@host items.
void notify_set_online_list(server *serv, char *users, const message_tags_data *tags);
void notify_set_offline_list(server *serv, char *users, int quiet, const message_tags_data *tags);
