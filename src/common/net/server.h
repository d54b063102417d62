// The server record (one connection) with its operation table, and the
// functions that create, name and free it.
#pragma once

#include "base/lumenwick.h"

#include <glib.h>
#include <sys/types.h>

struct session;
struct favchannel;
struct ircnet;
struct scram_exchange;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

struct message_tags_data;

struct server {
    // Connection operations.
    void (*connect)(struct server *serv, char *hostname, int port, int no_login);
    void (*disconnect)(struct session *sess, int sendquit, int err);
    int (*cleanup)(struct server *serv);
    void (*flush_queue)(struct server *serv);
    // Reconnects after `delay_s` seconds (0 or less: as soon as allowed).
    void (*auto_reconnect)(struct server *serv, int send_quit, int err, int delay_s);
    // Protocol operations, in protocol table order; filled by proto_fill_her_up.
    void (*p_inline)(struct server *serv, char *buf, int len);
    void (*p_invite)(struct server *serv, const char *channel, const char *nick);
    void (*p_cycle)(struct server *serv, const char *channel, const char *key);
    void (*p_ctcp)(struct server *serv, const char *to, const char *msg);
    void (*p_nctcp)(struct server *serv, const char *to, const char *msg);
    void (*p_quit)(struct server *serv, const char *reason);
    void (*p_kick)(struct server *serv, const char *channel, const char *nick, const char *reason);
    void (*p_part)(struct server *serv, const char *channel, const char *reason);
    void (*p_ns_identify)(struct server *serv, const char *pass);
    void (*p_ns_ghost)(struct server *serv, const char *usname, const char *pass);
    void (*p_join)(struct server *serv, const char *channel, const char *key);
    void (*p_join_list)(struct server *serv, GSList *favorites);
    void (*p_login)(struct server *serv, const char *user, const char *realname);
    void (*p_join_info)(struct server *serv, const char *channel);
    void (*p_mode)(struct server *serv, const char *target, const char *mode);
    void (*p_user_list)(struct server *serv, const char *channel);
    void (*p_away_status)(struct server *serv, const char *channel);
    void (*p_whois)(struct server *serv, const char *nicks);
    void (*p_get_ip)(struct server *serv, const char *nick);
    void (*p_get_ip_uh)(struct server *serv, const char *nick);
    void (*p_set_back)(struct server *serv);
    void (*p_set_away)(struct server *serv, const char *reason);
    void (*p_message)(struct server *serv, const char *channel, const char *text);
    void (*p_tagged_message)(struct server *serv, const char *tags, const char *channel, const char *text);
    void (*p_tagmsg)(struct server *serv, const char *tags, const char *target);
    void (*p_action)(struct server *serv, const char *channel, const char *act);
    void (*p_notice)(struct server *serv, const char *channel, const char *text);
    void (*p_topic)(struct server *serv, const char *channel, const char *topic);
    void (*p_list_channels)(struct server *serv, const char *arg, int min_users);
    void (*p_change_nick)(struct server *serv, const char *new_nick);
    void (*p_names)(struct server *serv, const char *channel);
    void (*p_ping)(struct server *serv, const char *to, const char *timestring);
    int (*p_raw)(struct server *serv, const char *raw);
    int (*p_cmp)(const char *s1, const char *s2);

    int port;
    int sock; // -1 when none
    int sock_v4;
    int sock_v6;
    int proxy_kind;
    int proxy_sock;
    int proxy_sock_v4;
    int proxy_sock_v6;
    int id;

    SSL_CTX *tls_context;
    SSL *tls;
    int handshake_timer;

    int child_pipe_read;
    int child_pipe_write;
    pid_t child_pid;
    int watch_tag;
    int read_resume_timer; // more lines are waiting inside the TLS layer
    int reconnect_timer;
    int join_timer;

    char hostname[SERVNAMELEN];
    char announced_name[SERVNAMELEN];
    char requested_host[SERVNAMELEN];
    char password[1024];
    char nick[NICKLEN];
    char line_buffer[LINE_BUFFER_SIZE];
    char *last_away_text;
    int line_length;
    bool line_overflowed; // the line being assembled was already cut
    int nick_attempt;
    int login_method;

    // Server features announced in ISUPPORT, with their defaults.
    char *chantypes;
    char *chanmodes;
    char *nickprefixes;
    char *nickmodes;
    int maxmodes;
    char *bad_nick_prefixes;
    char *chanmodes_extra;
    char *clienttagdeny; // CLIENTTAGDENY value, or null when none was announced

    struct ircnet *network;

    // Send queue.
    GSList *send_queue;
    time_t send_clock;
    time_t last_send_time;
    int queued_bytes;

    int lag;
    struct session *recent_session;
    struct session *home_session;

    unsigned long lag_probe_ms;
    time_t last_pong_time;

    char *encoding;
    GIConv decoder;
    GIConv encoder;

    GSList *autojoin_channels;

    unsigned int motd_skipped_once : 1;
    unsigned int connected : 1;
    unsigned int connecting : 1;
    unsigned int skip_login : 1;
    unsigned int motd_done : 1;
    unsigned int quit_sent : 1;
    unsigned int away : 1;
    unsigned int restore_away : 1;
    unsigned int direct_only : 1;
    unsigned int userhost_lookup : 1;
    // Protocol feature flags (cleared by server_set_defaults).
    unsigned int cap_ended : 1;
    unsigned int have_whox : 1;
    unsigned int have_list_conditions : 1;
    unsigned int have_watch : 1;
    unsigned int have_monitor : 1;
    unsigned int have_excepts : 1;
    unsigned int have_invex : 1;
    unsigned int namesx_sent : 1; // PROTOCTL NAMESX went out on this connection
    // Line parser (proto-irc-parse.cpp): replies to lookups the client made
    // for itself stay hidden, and where a WHOIS reply sequence stands.
    unsigned int whois_quiet : 1;      // the next WHOIS reply is not shown
    unsigned int in_whois : 1;         // between 311 and 318
    unsigned int who_quiet : 1;        // a WHO without a channel tab, not shown
    unsigned int userhost_pending : 1; // USERHOST for the own address was sent
    // Capability negotiation and SASL (cap.cpp).
    unsigned int cap_ls_more : 1; // the last CAP LS reply said more lines follow
    unsigned int sasl_active : 1; // sasl requested and not finished
    unsigned int sasl_mech : 3;   // enum sasl_mechanism
    unsigned int cap_multi_prefix : 1;
    unsigned int cap_away_notify : 1;
    unsigned int cap_userhost_in_names : 1;
    unsigned int cap_identify_msg : 1;
    unsigned int cap_account_notify : 1;
    unsigned int cap_extended_join : 1;
    unsigned int cap_account_tag : 1;
    unsigned int cap_server_time : 1;
    unsigned int cap_message_tags : 1;
    unsigned int cap_echo_message : 1;
    unsigned int cap_sasl : 1;
    // Capabilities asked for with CAP REQ on this connection and not yet
    // refused or deleted: only these may be switched on by an ACK.
    unsigned int cap_requested;
    // Strict transport security (sts.cpp): this connection started its own
    // upgrade to TLS; it holds a policy that is refreshed when it ends.
    unsigned int sts_upgrade_started : 1;
    unsigned int sts_policy_active : 1;

    unsigned int tls_enabled : 1;
    unsigned int allow_invalid_cert : 1;
    unsigned int client_cert_loaded : 1;

    struct scram_exchange *scram_exchange;

    // Flood guard windows (lists/ignore.cpp): start time (0: not started)
    // and items counted since, for CTCPs and for private messages.
    time_t ctcp_flood_start;
    int ctcp_flood_count;
    time_t msg_flood_start;
    int msg_flood_count;

    void *fe_record; // front-end record (fe_new_server / fe_server_callback)

    // Changes whenever a connection attempt starts or a connection ends, and
    // is unique across all servers: code that runs callbacks compares it to
    // notice that the connection it was serving is gone.
    unsigned int connect_generation;
};

// The last away message seen for a nick on a server.
struct away_msg {
    struct server *server;
    char nick[NICKLEN];
    char *message;
};

struct pipe_message;

// A new zero-filled server, prepended to serv_list; only new_ircwindow calls it.
server *server_new(void);
// Resets the server features and protocol flags to their defaults.
void server_set_defaults(server *serv);
// Cleans up and frees `serv`; it must not be used afterwards.
void server_free(server *serv);
// Whether `p` is a live server of serv_list.
bool is_server(const void *p);
// The network name, else the home tab's name, else (with fallback) the
// announced name; null when none. The result is borrowed.
const char *server_get_network(server *serv, bool fallback);
// Sets the announced name (empty: the host name) and retitles the tabs.
void server_set_name(server *serv, const char *name);
// Installs the connection operations of the table (the protocol ones follow).
void server_fill_her_up(server *serv);
// PART with `reason`, or the configured default (a random line of the file it
// names, when it names one).
void server_sendpart(server *serv, const char *channel, const char *reason);
// QUIT with the session's own reason, else the configured default.
void server_sendquit(struct session *sess);
// A random line of the regular file `file` names in the configuration
// directory (a new string, g_free), or null when it names none.
char *random_line_of(const char *file);

// Ends the connection attempt: removes the child's watch, the join-delay and
// handshake timers, kills and reaps the connection child, closes the pipe,
// clears `connecting` and tells the front end.
void server_stopconnecting(server *serv);
// The connected step once the socket (and TLS, if any) is up: starts reading,
// shows "Connected" (or "Server Connected") and logs in.
void server_connected(server *serv);
// Acts on one report of the connection child (the pipe's line protocol).
void server_handle_child_message(server *serv, const pipe_message &msg);
// Sets the server's character set (cut at its first space; unknown names and
// "IRC" mean UTF-8) and reopens both converters.
void server_set_encoding(server *serv, const char *name);
// Remembers `message` as `nick`'s away message on `serv`.
void server_away_save_message(server *serv, const char *nick, const char *message);
// The remembered away message of `nick` on `serv` (borrowed), or null.
away_msg *server_away_find_message(server *serv, const char *nick);
