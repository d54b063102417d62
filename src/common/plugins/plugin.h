// The plugin loader and hook API: loading and unloading plugins, and the
// points where the core offers commands, server lines, text events and key
// presses to their hooks. The exported interface is lumenwick-plugin.h.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <glib.h>

struct session;

typedef int (*plugin_init_func)(void *plugin_handle, char **name, char **desc, char **version, char *arg);
typedef int (*plugin_deinit_func)(void *plugin_handle);

// Adds a plugin (a built-in one when `handle`, a GModule, is null) and
// calls its init; a fake entry only shows in the plugin list. False when
// init returned 0: then nothing of it is left.
bool plugin_add(session *sess, const char *filename, void *handle, plugin_init_func init, plugin_deinit_func deinit,
                char *arg, int fake);
// Loads every "*.so" of the plugin directory, then of the "addons" folder;
// failures are printed in `sess`.
void plugin_auto_load(session *sess);
// Unloads every plugin (refusals are overruled), at exit.
void plugin_kill_all(void);
// The plugin directory: LUMENWICK_LIBDIR when set and non-empty, else the
// installed default.
const char *plugin_get_libdir(void);
// Emits a pseudo print event ("Open Context", "Close Context", "Focus Tab",
// "Focus Window") to the print hooks.
int plugin_emit_dummy_print(session *sess, const char *name);
// Offers a key press to the "Key Press" print hooks; non-zero when eaten.
int plugin_emit_keypress(session *sess, unsigned int state, unsigned int keyval, gunichar key);
// Prepends the name of every command hook to `list` (g_strdup'd names).
GList *plugin_command_list(GList *list);
// Offers a text event to the print hooks (word[0] is the event name, 32
// slots); non-zero when a plugin swallowed it.
int plugin_emit_print(session *sess, char *word[], time_t server_time);
// Offers a command to plugins; non-zero when a plugin swallowed it.
int plugin_emit_command(session *sess, char *name, char *word[], char *word_eol[]);
// Offers a received server line to the server hooks: `name` is the message
// type (numeric or command), word/word_eol the line's 33 slots; non-zero when
// a plugin ate the line.
int plugin_emit_server(session *sess, char *name, char *word[], char *word_eol[], time_t server_time);

struct server;

// Loads a plugin module with an argument; the error text (owned by the
// plugin module, valid until the next call) or nullptr on success.
const char *plugin_load(session *sess, const char *filename, char *arg);
// Unloads the first plugin named `name` (by file name when `by_filename`):
// 0 none found, 1 unloaded, 2 it refused.
int plugin_kill(const char *name, bool by_filename);
// Unloads and loads again: 0 none found or the load failed, 1 reloaded,
// 2 it cannot be reloaded (built in, or no file).
int plugin_reload(session *sess, const char *name, bool by_filename);
// Prints the help of the first command hook named `name`; false when there
// is none or it has no help text.
bool plugin_show_help(session *sess, const char *name);
// Calls `func` with each command hook's non-empty name and its help text
// (nullptr when it has none).
void plugin_command_foreach(session *sess, void *userdata,
                            void (*func)(session *sess, void *userdata, const char *name, const char *help));
// The tab a plugin (or /DOAT) means by a server name and a channel, either
// may be nullptr; a match on `preferred` wins. nullptr when none matches.
session *plugin_find_context(const char *servname, const char *channel, server *preferred);

// One row of the plugin window.
struct plugin_info {
    std::string name, version, filename, desc;
};
// The plugin list, newest first.
std::vector<plugin_info> plugin_list_rows(void);

// Reads the value of `var` from the text of a plugin preference file (lines
// "name = value", the value with C escapes); false when it is not there.
// Lines may be of any length.
bool pluginpref_lookup(std::string_view text, const char *var, std::string *value);

// Built-in plugins.
int timer_plugin_init(void *plugin_handle, char **name, char **desc, char **version, char *arg);
int identd_plugin_init(void *plugin_handle, char **name, char **desc, char **version, char *arg);
int identd_plugin_deinit(void *plugin_handle);
void dbus_plugin_init(session *sess);
// Hands a URL or command to a running instance when asked; may exit.
void lumenwick_remote(void);
