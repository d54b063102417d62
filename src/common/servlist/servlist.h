// The stored server list: networks with their servers, identity, login
// method, password, character set, favourite channels and connect commands,
// loaded from servlist.conf (or the built-in networks) and written back to it.
#pragma once

#include <glib.h>

struct session;
struct server;

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

// Behaviour flags of a network (the `F=` value of servlist.conf).
enum network_flags {
    NET_CYCLE = 0x01,         // on failure move on to the next server entry
    NET_USE_GLOBAL = 0x02,    // identity from irc_nick1 / irc_user_name / irc_real_name
    NET_USE_TLS = 0x04,       // TLS for every server of the network
    NET_AUTO_CONNECT = 0x08,  // connect at start-up
    NET_USE_PROXY = 0x10,     // may go through the configured proxy
    NET_ALLOW_INVALID = 0x20, // accept invalid TLS certificates
    NET_FAVORITE = 0x40,      // shown bold; "favourites only" filters on it
    NET_KEYRING = 0x80,       // the password lives in the keyring, `password` is absent
    NET_ASK_PASSWORD = 0x100, // nothing stored: ask at every connect
};
// What a new network gets: cycle, use global, TLS, use proxy.
inline constexpr int NET_DEFAULT_FLAGS = NET_CYCLE | NET_USE_GLOBAL | NET_USE_TLS | NET_USE_PROXY;

// The character set a network without one uses, as the list shows it.
inline constexpr const char *SERVLIST_DEFAULT_CHARSET = "UTF-8 (Unicode)";

// A favourite (autojoin) channel: the name and an optional key (null when
// none), both owned.
struct favchannel {
    char *name;
    char *key;
};

// One server of a network: "host", "host/port" or "host/+port" (+ asks for
// TLS on that port); owned.
struct ircserver {
    char *address;
};

// One network. Every string is an owned heap copy and may be null; the lists
// own their elements (ircserver *, char *, favchannel *).
struct ircnet {
    char *name;
    char *nick;
    char *second_nick;
    char *user_name;
    char *real_name;
    char *password; // plain, or "enc:..."; null when in the keyring or not stored
    int login_method;
    char *charset; // e.g. "UTF-8 (Unicode)": the text before the first blank is the iconv name
    GSList *servers;
    GSList *connect_commands;
    GSList *favorite_channels;
    int next_server; // index into `servers` of the entry to use next
    int flags;       // network_flags
};

// The networks in list order (ircnet *), owned here; plugins and the front
// end read it.
extern "C" {
extern GSList *network_list;
}

// ---- loading, saving and start-up --------------------------------------------------

// Loads servlist.conf, or the built-in networks when it does not exist; does
// nothing when the list is already loaded.
void servlist_init(void);
// Writes servlist.conf atomically (a new file gets mode 0600, an existing one
// keeps its mode). On failure the old file is untouched, the user is told
// (message box) and false is returned.
bool servlist_save(void);
// At exit: wipes every stored password and frees the whole list.
void servlist_cleanup(void);
// Whether any network is marked for auto-connect.
bool servlist_have_auto(void);
// Connects the auto-connect networks in list order, joining their favourite
// channels; an idle callback (returns 0: runs once). `sess` may be null.
int servlist_auto_connect(void *sess);

// ---- connecting ----------------------------------------------------------------------

// Connects `net` in `sess` (null: a new focused server tab), asking for the
// password first when the network wants it asked. With `join` the network's
// favourite channels are joined after login.
void servlist_connect(session *sess, ircnet *net, bool join);
// servlist_connect for the first network named `network` (ASCII case
// ignored); 0 when there is none.
int servlist_connect_by_netname(session *sess, const char *network, bool join);
// Schedules the next server of `serv`'s network; false when there is no
// network or it has no servers (the caller then applies its own reconnect).
bool servlist_cycle(server *serv);
// The password the network logs in with, from the keyring (NET_KEYRING) or
// the stored text decrypted; a fresh string (servlist_password_free) or null.
// Null with `error` set when the keyring or the decryption failed.
char *servlist_get_password(const ircnet *net, GError **error = nullptr);
// The login method a connection uses: the stored one, server password for 0.
int servlist_effective_login_method(const ircnet *net);
// Whether a login method sends a password (every method but SASL EXTERNAL).
bool servlist_login_uses_password(int method);
// Whether a login method is SASL with a password (PLAIN and the SCRAMs).
bool servlist_login_is_sasl_password(int method);

// ---- what a connected server reads of its network -----------------------------------

// The network's name, or null.
const char *servlist_network_name(const ircnet *net);
// Whether `serv`'s network asks the user for its password at connect time.
bool servlist_asks_password(server *serv);
// The network's own user name / real name when it has one and does not use
// the global settings; null otherwise (the caller uses irc_user_name /
// irc_real_name).
const char *servlist_network_username(const ircnet *net);
const char *servlist_network_realname(const ircnet *net);
// Whether a charset name (the text before the first blank) can be converted
// to UTF-8.
bool servlist_check_encoding(const char *charset);
// Whether `sess`'s server belongs to a network whose favourites hold
// `channel` (ASCII case ignored).
bool joinlist_is_in_list(session *sess, const char *channel);

// ---- networks --------------------------------------------------------------------------

// A new network with NET_DEFAULT_FLAGS, at the head (`prepend`) or the tail.
ircnet *servlist_net_add(const char *name, bool prepend);
// Frees `net` with its entries (password wiped) and detaches every server
// that used it; they keep running without a network.
void servlist_net_remove(ircnet *net);
// The first network whose name equals `name` under `cmpfunc` (strcmp or
// g_ascii_strcasecmp); `pos` (may be null) gets its index.
ircnet *servlist_net_find(const char *name, int *pos, int (*cmpfunc)(const char *, const char *));
// The first network with a server entry whose host (the text before '/')
// equals `server_name` ignoring ASCII case. A host that merely begins with an
// entry's host is a different machine and gets no network (nor its password).
ircnet *servlist_net_find_from_server(const char *server_name);
// Renames `net`, moving a keyring password to the new name; false (nothing
// changed, `error` set) when the keyring entry could not be moved.
bool servlist_net_rename(ircnet *net, const char *name, GError **error = nullptr);
// Moves `net` one place up (delta -1) or down (+1); false at either end.
bool servlist_net_move(ircnet *net, int delta);
// Sorts the list by name, case-folded and collated.
void servlist_sort(void);
// The login method codes in the order the list window offers them, and
// the label of a code (codes 3-5 and unknown ones read "Default").
extern const int servlist_login_method_order[11];
const char *servlist_login_method_label(int method);
// The character sets the list window offers, null-terminated.
extern const char *const servlist_charset_choices[];

// The tab the list window's Connect uses for `net`: a tab whose server
// belongs to it and is not connected, else `opened_from` when its server is
// not connected and the tab has no name, else null (a new tab).
session *servlist_session_for_connect(const ircnet *net, session *opened_from);
// What is wrong with the global identity the list window edits, in words
// (null when nothing): an empty first or second nick, two nicks equal under
// IRC case folding, an empty user name. `field` (may be null) gets 1, 2 or 3
// for the nick, second nick or user name entry it concerns (for two equal
// nicks the window marks the entry being edited instead).
const char *servlist_identity_problem(const char *nick1, const char *nick2, const char *user, int *field);

// ---- servers, connect commands and favourite channels ------------------------------------

ircserver *servlist_server_add(ircnet *net, const char *address);
void servlist_server_remove(ircnet *net, ircserver *entry);
// Exact (case-sensitive) match on the address; `pos` may be null.
ircserver *servlist_server_find(ircnet *net, const char *address, int *pos);

// Connect commands are owned char * entries of `connect_commands`.
char *servlist_command_add(ircnet *net, const char *command);
void servlist_command_remove(ircnet *net, char *command);
char *servlist_command_find(ircnet *net, const char *command, int *pos);
void servlist_command_free(char *command);

// Adds "name" or "name,key" (split at the first ',') to the favourites.
favchannel *servlist_favchan_add(ircnet *net, const char *channel);
// Appends a new favchannel (copies of name and key) to `list`; returns it.
GSList *servlist_favchan_listadd(GSList *list, const char *name, const char *key);
// ASCII-case-insensitive match on the name; null for a null network.
favchannel *servlist_favchan_find(ircnet *net, const char *name, int *pos);
void servlist_favchan_remove(ircnet *net, favchannel *fav);
// Frees one favourite (its key wiped first).
void servlist_favchan_free(favchannel *fav);
favchannel *servlist_favchan_copy(const favchannel *fav);
// Frees a list of favourites, such as a server's autojoin_channels.
void servlist_favchan_list_free(GSList *list);
// Adds ("name" or "name,key") or removes a favourite channel and saves;
// removing an absent channel returns false without saving.
bool servlist_autojoinedit(ircnet *net, const char *channel, bool add);

// ---- passwords as the network editor settles them ------------------------------------------

// What the editor asks for when it closes.
struct servlist_password_choice {
    bool ask_on_connect;  // "Ask for password on connect"
    bool use_keyring;     // "Use system keyring"
    bool edited;          // the password field was changed
    const char *password; // the field's text (used only when edited)
};
// Applies `choice` to `net` (keyring entry, `password`, NET_KEYRING and
// NET_ASK_PASSWORD). On failure nothing changes and `error` names the problem
// in words for the user.
bool servlist_net_store_password(ircnet *net, const servlist_password_choice &choice, GError **error = nullptr);
// "Encrypt saved password": replaces a plain stored password by its
// encrypted form and saves the list.
bool servlist_net_encrypt_password(ircnet *net, GError **error = nullptr);
// "Move password to keyring": stores the (decrypted) password in the keyring,
// drops `password`, sets NET_KEYRING and saves the list.
bool servlist_net_move_password_to_keyring(ircnet *net, GError **error = nullptr);
