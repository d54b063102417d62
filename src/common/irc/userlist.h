// The channel user-list model: one sorted collection of User records per
// channel session, with the per-status counters.
#pragma once

#include "base/lumenwick.h"

#include <glib.h>

#include <ctime>

struct session;
struct server;
struct message_tags_data;

// One nick in a channel (owned by its session's list).
struct User {
    char nick[NICKLEN];  // without prefix characters
    char *hostname;      // user@host, or null
    char *realname;      // or null
    char *servername;    // from WHO; set once
    char *account;       // services account, null when not logged in
    time_t lasttalk;     // when the nick last spoke here
    time_t typingtime;   // last typing notification (kept by the view)
    unsigned int access; // bit i: holds the i-th PREFIX mode (bit 0 = highest)
    char prefix;         // character of the highest access held, or 0
    unsigned int op : 1;
    unsigned int hop : 1;
    unsigned int voice : 1;
    unsigned int me : 1;
    unsigned int away : 1;
    unsigned int selected : 1; // copied from the view before plugins list users
};

// Adds a nick as sent in NAMES or JOIN (may start with prefix characters).
void userlist_add(session *sess, const char *name, const char *hostname, const char *account, const char *realname,
                  const message_tags_data *tags);
// Lookup under the server's nick comparison; null when absent or no list.
User *userlist_find(session *sess, const char *nick);
// The nick in the first session of `serv` (session-list order) that has it.
User *userlist_find_global(server *serv, const char *nick);
// 1 if the nick was removed, else 0.
int userlist_remove(session *sess, const char *nick);
void userlist_remove_user(session *sess, User *user);
// Renames a nick; 1 if it was found.
int userlist_change(session *sess, const char *oldname, const char *newname);
void userlist_update_mode(session *sess, const char *name, char mode, char sign);
void userlist_set_away(session *sess, const char *nick, unsigned int away);
// "*" clears the account.
void userlist_set_account(session *sess, const char *nick, const char *account);
// 1 if the nick is listed; away is 0, 1 or 255 (unknown).
int userlist_add_hostname(session *sess, const char *nick, const char *hostname, const char *realname,
                          const char *servername, const char *account, unsigned int away);
// A NAMES burst (first 353 to 366): adds are appended unsorted and the list
// is sorted once at the end. Every other operation works during a burst as
// outside one; begin is idempotent, and userlist_free also ends a burst.
void userlist_burst_begin(session *sess);
void userlist_burst_end(session *sess);
// Re-sorts the list after the server's nick comparison changed; of nicks that
// now compare equal one record stays (the own one when it is among them).
void userlist_resort(session *sess);
// Re-maps every user's access bits from the prefix characters `old_prefixes`
// to the server's current ones (a PREFIX change after users were listed).
void userlist_remap_access(session *sess, const char *old_prefixes);
// Empties the list and tells the front end.
void userlist_clear(session *sess);
// Frees the list without telling the front end (session teardown).
void userlist_free(session *sess);
void userlist_rehash(session *sess);
// Records in nick order / reverse nick order; free the list, not the records.
GSList *userlist_flat_list(session *sess);
GList *userlist_double_list(session *sess);
// Display order: by access, then by nick.
int nick_cmp_az_ops(server *serv, User *user1, User *user2);
int nick_cmp_alpha(User *user1, User *user2, server *serv);

// The "user@host" of `nick` as known in any channel of `serv`, or null.
const char *userlist_find_address(server *serv, const char *nick);
