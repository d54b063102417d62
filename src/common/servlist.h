// The stored server list (networks, servers, favourite channels).
#pragma once

struct session;

// How a network logs in (stored in the server list, copied to the server).
enum login_method {
    LOGIN_METHOD_DEFAULT = 0,
    LOGIN_METHOD_NICKSERV_MSG = 1,
    LOGIN_METHOD_NICKSERV_CMD = 2,
    LOGIN_METHOD_SASL_PLAIN = 6,
    LOGIN_METHOD_SERVER_PASSWORD = 7,
    LOGIN_METHOD_CHALLENGE = 8,
    LOGIN_METHOD_CUSTOM = 9,
    LOGIN_METHOD_SASL_EXTERNAL = 10,
    LOGIN_METHOD_SCRAM_SHA_1 = 11,
    LOGIN_METHOD_SCRAM_SHA_256 = 12,
    LOGIN_METHOD_SCRAM_SHA_512 = 13,
};

void servlist_init(void);
// Whether any network is marked for auto-connect.
bool servlist_have_auto(void);
// Connects the auto-connect networks; an idle callback (runs once).
int servlist_auto_connect(void *sess);
void servlist_cleanup(void);

struct ircnet;
// The network's name, or null.
const char *servlist_network_name(const ircnet *net);

struct server;
// Schedules the next server of `serv`'s network; false when there is no
// network or it has no servers (the caller then applies its own reconnect).
bool servlist_cycle(server *serv);
// Whether `serv`'s network asks the user for its password at connect time.
bool servlist_asks_password(server *serv);
// Whether a charset name (the text before the first blank) can be converted
// to UTF-8.
bool servlist_check_encoding(const char *charset);
// The network's own user name / real name when it has one and does not use
// the global settings; null otherwise (the caller uses irc_user_name /
// irc_real_name).
const char *servlist_network_username(const ircnet *net);
const char *servlist_network_realname(const ircnet *net);
