// The session record (one tab) and its life cycle: creation, lookup, destruction.
#pragma once

#include "base/history.h"
#include "base/lumenwick.h"
#include "session/lumenwick.h"

#include <sys/types.h>

struct User;
struct tree;

// Session types; the numbers are used throughout the core.
enum session_type {
    SESS_SERVER = 1,
    SESS_CHANNEL = 2,
    SESS_DIALOG = 3,
    SESS_NOTICES = 4,
    SESS_SNOTICES = 5,
};

// Per-session option bytes: 0 off, 1 on, 2 unset (follow the global setting).
inline constexpr unsigned char SET_OFF = 0;
inline constexpr unsigned char SET_ON = 1;
inline constexpr unsigned char SET_DEFAULT = 2;

// The child process of /EXEC; owned by its session (outbound-exec.cpp).
struct exec_child;

struct session {
    // Per-channel options; kept first and in this order (they are saved as bytes).
    unsigned char alert_balloon;
    unsigned char alert_beep;
    unsigned char alert_taskbar;
    unsigned char alert_tray;
    unsigned char text_hidejoinpart;
    unsigned char text_logging;
    unsigned char text_scrollback;
    unsigned char text_strip;

    struct server *server; // never null
    struct tree *users;    // channel user list
    struct User *own_user; // our own entry in `users`, or null

    char channel[CHANLEN];
    char pending_join[CHANLEN];
    char rejoin_channel[CHANLEN];
    char initial_name[CHANLEN];
    char key[KEYLEN];
    int user_limit;

    int log_fd;              // -1 when no log is open
    void *scrollback_handle; // open scrollback file, or null
    int scrollback_lines;

    char last_msg_nick[NICKLEN];
    struct history input_history;

    int op_count;
    int halfop_count;
    int voice_count;
    int user_count;

    char *quit_reason;
    char *topic;
    char *mode_string;

    // Reply context of the inbound message path; released by reply_cache_free.
    void *reply_context[5];

    int mode_timer;

    // Owned by the front end.
    int fe_timer;
    int fe_state;

    int typing_tag;
    int typing_serial;

    struct session *search_results_session;
    struct exec_child *exec_child;

    void *view;      // session view (front end)
    void *tab_state; // tab state (front end)

    int type;
    int activity_index; // index into sess_list_by_lastact, -1 when none

    unsigned int has_new_data : 1;
    unsigned int has_new_message : 1;
    unsigned int has_highlight : 1;
    unsigned int who_pending : 1;
    unsigned int away_polled : 1;
    unsigned int ignore_date : 1;
    unsigned int ignore_mode : 1;
    unsigned int ignore_names : 1;
    unsigned int end_of_names : 1;

    int search_flags;

    // Set by the front end; called once after scrollback was replayed.
    void (*on_replay_done)(struct session *sess);
};

// Creates a tab. Type 1 ignores `serv` and makes a new server whose home and
// recent session it becomes. The session is owned by sess_list.
session *new_ircwindow(struct server *serv, const char *name, int type, int focus);
// Destroys a session, parting or quitting as needed; may end the program
// when it was the last one.
void session_free(session *sess);
// Whether `p` still points at a live session (checks after callbacks).
bool is_session(const void *p);
// The channel or dialog tab of `serv` called `name` (server's case mapping).
session *find_channel(struct server *serv, const char *name);
session *find_dialog(struct server *serv, const char *name);
// Any session of `serv` other than `not_this`, or null.
session *session_find_by_server(struct server *serv, session *not_this);
