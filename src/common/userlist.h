// The channel user-list model.
#pragma once

struct session;

// Frees every user of the session's list and the list itself.
void userlist_free(session *sess);

struct server;
// The "user@host" of `nick` as known in any channel of `serv`, or null.
const char *userlist_find_address(server *serv, const char *nick);
