#include "plugin.h"

#include <glib.h>

// The loader arrives with the plugin work; until then there is nothing to load,
// and no plugin can swallow a command or an event.
void plugin_add(session *, const char *, void *, plugin_init_func, plugin_deinit_func, char *, int) {}
void plugin_auto_load(session *) {}
void plugin_kill_all(void) {}
int plugin_emit_dummy_print(session *, const char *) { return 0; }
int plugin_emit_print(session *, char *[], time_t) { return 0; }
int plugin_emit_command(session *, char *name, char *[], char *[])
{
    // The connection announces its local port with IDENTD for the built-in
    // ident responder; until that responder hooks the command, it is taken
    // here so it never reaches the user as an unknown command.
    return name && g_ascii_strcasecmp(name, "IDENTD") == 0 ? 1 : 0;
}
int plugin_emit_server(session *, char *, char *[], char *[], time_t) { return 0; }
