#include "plugin.h"

// The loader arrives with the plugin work; until then there is nothing to load,
// and no plugin can swallow a command or an event.
void plugin_add(session *, const char *, void *, plugin_init_func, plugin_deinit_func, char *, int) {}
void plugin_auto_load(session *) {}
void plugin_kill_all(void) {}
int plugin_emit_dummy_print(session *, const char *) { return 0; }
int plugin_emit_command(session *, char *, char *[], char *[]) { return 0; }
