// The server record (one connection) with its operation table, and the
// functions that create, name and free it.
#pragma once

#include "lumenwick.h"

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
    void (*auto_reconnect)(struct server *serv, int send_quit, int err);
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
    int sock;  // -1 when none
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
    unsigned int sent_capend : 1;
    unsigned int waiting_on_cap : 1;
    unsigned int waiting_on_sasl : 1;
    unsigned int have_namesx : 1;
    unsigned int have_awaynotify : 1;
    unsigned int have_uhnames : 1;
    unsigned int have_whox : 1;
    unsigned int have_idmsg : 1;
    unsigned int have_accnotify : 1;
    unsigned int have_extjoin : 1;
    unsigned int have_account_tag : 1;
    unsigned int have_server_time : 1;
    unsigned int have_sasl : 1;
    unsigned int have_except : 1;
    unsigned int have_invite : 1;
    unsigned int have_echo_message : 1;
    unsigned int have_message_tags : 1;
    unsigned int have_list_conditions : 1;
    unsigned int have_monitor : 1;
    unsigned int have_watch : 1;
    unsigned int sasl_mech_mask : 8;

    unsigned int tls_enabled : 1;
    unsigned int allow_invalid_cert : 1;
    unsigned int client_cert_loaded : 1;

    struct scram_exchange *scram_exchange;

    void *fe_record;  // front-end record (fe_new_server / fe_server_callback)
};

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
