// The process: the global lists of sessions and servers, the command-line
// state, the core timers and the start-up and shutdown entry points
// (session/lumenwick.cpp).
#pragma once

#include "base/lumenwick.h"

#include <glib.h>

struct session;
struct server;

// Global state owned by start-up. The list names are exported for plugins.
extern "C" {
extern GSList *sess_list;
extern GSList *serv_list;
extern GList *sess_list_by_lastact[5];
}
extern session *current_sess;
extern session *current_tab;
extern int lumenwick_is_quitting;
extern int arg_dont_autoconnect;
extern int arg_skip_plugins;
extern int arg_existing;
extern char *arg_url;
extern char **arg_urls;
extern char *arg_command;
extern int arg_minimize;

// Runs the whole start-up sequence, the main loop and returns the exit code.
int lumenwick_main(int argc, char **argv);
// (Re)arms the core timers from the settings; safe to call any time.
void lumenwick_reinit_timers(void);
// The one-second connection check: ping timeouts and LAG probes.
int lag_check(void *unused);
// One round of WHO-based away tracking over the eligible channels.
int away_status_poll(void *unused);
// Opens what start-up shows: the network list, an empty server tab, or the
// auto-connect networks, from gui_slist_skip, --no-auto and the URLs given.
void lumenwick_open_startup_windows(void);
// Orderly shutdown; runs once however often it is called.
void lumenwick_exit(void);
// Starts a command line in the background without waiting.
void lumenwick_exec(const char *cmd);
// True once any connection completed in this run (the exit waits 2 s then).
void lumenwick_note_connected(void);

// Parses the command line for a front end's fe_args: binds the translation
// domain, parses the options (with the toolkit's own group when given) and
// handles --version, --plugindir and --configdir. Returns -1 to go on, or the
// exit code to end with.
int lumenwick_parse_args(int argc, char **argv, GOptionGroup *toolkit_group);
