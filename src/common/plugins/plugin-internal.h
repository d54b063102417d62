// What the plugin modules share: the plugin and hook records, the hook
// index, and the guard every entry point from a plugin goes through.
#pragma once

#define LUMENWICK_PLUGIN_INTERNAL 1
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"

#include <gmodule.h>

#include <cstdint>
#include <string>

struct session;

// One loaded plugin, built-in plugin or list-only entry. The function table
// comes first: the handle a plugin gets is the address of this record.
struct plugin_record {
    lumenwick_plugin api;
    GModule *module = nullptr;
    char *filename = nullptr;
    char *name = nullptr;
    char *desc = nullptr;
    char *version = nullptr;
    session *context = nullptr;
    plugin_deinit_func deinit = nullptr;
    // For list-only entries: the plugin that added it (removed with it).
    plugin_record *owner = nullptr;
    unsigned int list_only : 1 = 0;
    unsigned int owns_strings : 1 = 0;
    // Unloaded while one of its callbacks may still run; freed when the
    // outermost callback returns.
    unsigned int closing : 1 = 0;
    // Its deinit is running (a second unload of it is not started).
    unsigned int unloading : 1 = 0;
};

enum hook_kind {
    HOOK_KIND_COMMAND = 1,
    HOOK_KIND_SERVER = 2,
    HOOK_KIND_SERVER_ATTRS = 4,
    HOOK_KIND_PRINT = 8,
    HOOK_KIND_PRINT_ATTRS = 16,
    HOOK_KIND_TIMER = 32,
    HOOK_KIND_FD = 64,
    HOOK_KIND_DELETED = 128,
};

// Callback result bits.
inline constexpr int RESULT_EAT_PROGRAM = 1;
inline constexpr int RESULT_EAT_PLUGINS = 2;

struct lumenwick_hook {
    plugin_record *plugin = nullptr;
    char *name = nullptr;
    void *callback = nullptr;
    char *help = nullptr;
    void *userdata = nullptr;
    int tag = 0;
    int type = 0;
    int priority = 0;
    int fd = -1;
    // Index key (ordering group and folded name) and the age among equal priorities.
    std::string key;
    std::uint64_t serial = 0;
};
using hook_record = lumenwick_hook;

inline plugin_record *plugin_of(lumenwick_plugin *ph)
{
    return reinterpret_cast<plugin_record *>(ph);
}
inline session *session_of(lumenwick_context *ctx)
{
    return reinterpret_cast<session *>(ctx);
}
inline lumenwick_context *context_of(session *sess)
{
    return reinterpret_cast<lumenwick_context *>(sess);
}

// No exception may leave a plugin entry point or a callback into the core.
template <typename R, typename F> R plugin_guard(R fallback, F &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        g_warning("plugin interface: internal error");
        return fallback;
    }
}
template <typename F> void plugin_guard_void(F &&body) noexcept
{
    try {
        body();
    } catch (...) {
        g_warning("plugin interface: internal error");
    }
}

// ---- hooks (plugin-hooks.cpp) ----
// Adds a hook in priority order (newest first among equals); null when the
// plugin is being unloaded.
hook_record *hook_add(plugin_record *pl, int type, int pri, const char *name, const char *help, void *callback,
                      void *userdata);
// Unhooks when `hook` is a live hook; its userdata, else null.
void *hook_remove(hook_record *hook);
// Unhooks every hook of `pl`.
void hooks_remove_plugin(plugin_record *pl);
// Whether a plugin callback is running (records must then outlive it).
bool hooks_in_callback(void);
// Brackets a call into plugin code; the last leave frees what was unhooked
// or unloaded meanwhile.
void hooks_enter(void);
void hooks_leave(void);
// Frees `pl` now, or when the outermost callback returns.
void plugin_release(plugin_record *pl);

// ---- loader (plugin.cpp) ----
// Fills the function table of a handle.
void plugin_fill_table(lumenwick_plugin *api);
// Whether `pl` is a plugin in plugin_list (not being unloaded).
bool plugin_is_listed(const plugin_record *pl);

// ---- preferences (plugin-prefs.cpp) ----
// The file name key of a plugin name: ASCII letters lowered, digits and "_"
// kept, every other byte "_".
std::string pluginpref_key(const char *name);
