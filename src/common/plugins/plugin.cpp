// The plugin loader: plugin_list, loading modules, init and deinit,
// unloading and reloading, auto-loading, and finding a tab for a plugin.
#include "plugins/plugin-internal.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// The plugins, newest first (exported for plugins that walk it).
extern "C" {
GSList *plugin_list = nullptr;
}

namespace
{

constexpr const char *DEFAULT_LIBDIR = "/usr/local/lib/lumenwick/plugins";
constexpr const char *INIT_SYMBOL = "lumenwick_plugin_init";
constexpr const char *DEINIT_SYMBOL = "lumenwick_plugin_deinit";

int reserved_slot(void)
{
    return 0;
}

plugin_record *as_record(void *p)
{
    return static_cast<plugin_record *>(p);
}

const char *last_component(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Frees a plugin: deinit (when `deinit`), and with `may_refuse` a 0 from it
// keeps the plugin; false then. Its hooks and list entries go, and the
// module closes once no callback of it can still be running.
bool plugin_free(plugin_record *pl, bool deinit, bool may_refuse)
{
    if (pl->unloading)
        return false;
    if (!pl->list_only && deinit && pl->deinit) {
        pl->unloading = 1;
        hooks_enter();
        const int agreed = plugin_guard(1, [&] { return pl->deinit(reinterpret_cast<lumenwick_plugin *>(pl)); });
        pl->unloading = 0;
        hooks_leave();
        if (!agreed && may_refuse)
            return false;
    }
    if (!plugin_is_listed(pl))
        return true; // its deinit unloaded it already
    hooks_remove_plugin(pl);
    plugin_list = g_slist_remove(plugin_list, pl);
    // Entries a scripting plugin added for its scripts leave with it.
    for (GSList *l = plugin_list; l;) {
        plugin_record *entry = as_record(l->data);
        l = l->next;
        if (entry->list_only && entry->owner == pl)
            plugin_free(entry, false, false);
    }
    if (pl->owns_strings) {
        g_free(pl->name);
        g_free(pl->desc);
        g_free(pl->version);
    }
    g_free(pl->filename);
    pl->filename = pl->name = pl->desc = pl->version = nullptr;
    plugin_release(pl);
    fe_pluginlist_update();
    return true;
}

// The plugin matching `name` (see plugin_kill), or null.
plugin_record *find_plugin(const char *name, bool by_filename, bool include_all)
{
    for (GSList *l = plugin_list; l; l = l->next) {
        plugin_record *pl = as_record(l->data);
        if (pl->unloading || (!include_all && (pl->list_only || !pl->filename)))
            continue;
        if (by_filename) {
            if (!pl->filename)
                continue;
            if (g_ascii_strcasecmp(name, pl->filename) == 0 ||
                g_ascii_strcasecmp(name, last_component(pl->filename)) == 0 ||
                g_ascii_strcasecmp(last_component(name), last_component(pl->filename)) == 0)
                return pl;
        } else if (pl->name && g_ascii_strcasecmp(name, pl->name) == 0) {
            return pl;
        }
    }
    return nullptr;
}

// A bare file name is opened from the "addons" folder, a path as given.
GModule *module_load(const char *filename, std::string *error)
{
    std::string path = filename;
    if (!strchr(filename, '/'))
        path = std::string(get_xdir()) + "/addons/" + filename;
    GModule *module = g_module_open(path.c_str(), G_MODULE_BIND_LOCAL);
    if (!module)
        *error = g_module_error();
    return module;
}

std::string load_error;

void auto_load_dir(session *sess, const std::string &dir)
{
    GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
    if (!d)
        return;
    std::vector<std::string> names;
    while (const char *name = g_dir_read_name(d)) {
        if (g_str_has_suffix(name, ".so"))
            names.emplace_back(name);
    }
    g_dir_close(d);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        const std::string path = dir + "/" + name;
        if (const char *error = plugin_load(sess, path.c_str(), nullptr)) {
            PrintTextf(sess, _("AutoLoad failed for: %s\n"), path.c_str());
            PrintTextf(sess, "%s\n", error);
        }
    }
}

} // namespace

bool plugin_is_listed(const plugin_record *pl)
{
    return g_slist_find(plugin_list, pl) != nullptr;
}

void plugin_fill_table(lumenwick_plugin *t)
{
    t->lumenwick_hook_command = lumenwick_hook_command;
    t->lumenwick_hook_server = lumenwick_hook_server;
    t->lumenwick_hook_print = lumenwick_hook_print;
    t->lumenwick_hook_timer = lumenwick_hook_timer;
    t->lumenwick_hook_fd = lumenwick_hook_fd;
    t->lumenwick_unhook = lumenwick_unhook;
    t->lumenwick_print = lumenwick_print;
    t->lumenwick_printf = lumenwick_printf;
    t->lumenwick_command = lumenwick_command;
    t->lumenwick_commandf = lumenwick_commandf;
    t->lumenwick_nickcmp = lumenwick_nickcmp;
    t->lumenwick_set_context = lumenwick_set_context;
    t->lumenwick_find_context = lumenwick_find_context;
    t->lumenwick_get_context = lumenwick_get_context;
    t->lumenwick_get_info = lumenwick_get_info;
    t->lumenwick_get_prefs = lumenwick_get_prefs;
    t->lumenwick_list_get = lumenwick_list_get;
    t->lumenwick_list_free = lumenwick_list_free;
    t->lumenwick_list_fields = lumenwick_list_fields;
    t->lumenwick_list_next = lumenwick_list_next;
    t->lumenwick_list_str = lumenwick_list_str;
    t->lumenwick_list_int = lumenwick_list_int;
    t->lumenwick_plugingui_add = lumenwick_plugingui_add;
    t->lumenwick_plugingui_remove = lumenwick_plugingui_remove;
    t->lumenwick_emit_print = lumenwick_emit_print;
    t->lumenwick_reserved = reserved_slot;
    t->lumenwick_list_time = lumenwick_list_time;
    t->lumenwick_gettext = lumenwick_gettext;
    t->lumenwick_send_modes = lumenwick_send_modes;
    t->lumenwick_strip = lumenwick_strip;
    t->lumenwick_free = lumenwick_free;
    t->lumenwick_pluginpref_set_str = lumenwick_pluginpref_set_str;
    t->lumenwick_pluginpref_get_str = lumenwick_pluginpref_get_str;
    t->lumenwick_pluginpref_set_int = lumenwick_pluginpref_set_int;
    t->lumenwick_pluginpref_get_int = lumenwick_pluginpref_get_int;
    t->lumenwick_pluginpref_delete = lumenwick_pluginpref_delete;
    t->lumenwick_pluginpref_list = lumenwick_pluginpref_list;
    t->lumenwick_hook_server_attrs = lumenwick_hook_server_attrs;
    t->lumenwick_hook_print_attrs = lumenwick_hook_print_attrs;
    t->lumenwick_emit_print_attrs = lumenwick_emit_print_attrs;
    t->lumenwick_event_attrs_create = lumenwick_event_attrs_create;
    t->lumenwick_event_attrs_free = lumenwick_event_attrs_free;
}

const char *plugin_get_libdir(void)
{
    const char *dir = g_getenv("LUMENWICK_LIBDIR");
    return dir && dir[0] ? dir : DEFAULT_LIBDIR;
}

bool plugin_add(session *sess, const char *filename, void *handle, plugin_init_func init, plugin_deinit_func deinit,
                char *arg, int fake)
{
    auto *pl = new plugin_record{};
    pl->module = static_cast<GModule *>(handle);
    pl->filename = filename ? g_strdup(filename) : nullptr;
    // Shown until init names itself; init may replace it with a static string.
    pl->name = pl->filename ? pl->filename : const_cast<char *>("");
    pl->context = sess;
    pl->deinit = deinit;
    plugin_list = g_slist_prepend(plugin_list, pl);
    if (!fake) {
        plugin_fill_table(&pl->api);
        hooks_enter();
        const int ok = plugin_guard(0, [&] { return init(pl, &pl->name, &pl->desc, &pl->version, arg); });
        hooks_leave();
        if (!ok) {
            // Its hooks, timers and list entries go with it; the module is
            // closed by the release (the caller hands its ownership over).
            if (plugin_is_listed(pl))
                plugin_free(pl, false, false);
            return false;
        }
    }
    fe_pluginlist_update();
    return true;
}

const char *plugin_load(session *sess, const char *filename, char *arg)
{
    GModule *module = module_load(filename, &load_error);
    if (!module)
        return load_error.c_str();
    gpointer init = nullptr, deinit = nullptr;
    if (!g_module_symbol(module, INIT_SYMBOL, &init) || !init) {
        g_module_close(module);
        load_error = _("No lumenwick_plugin_init symbol; is this really a Lumenwick plugin?");
        return load_error.c_str();
    }
    if (!g_module_symbol(module, DEINIT_SYMBOL, &deinit))
        deinit = nullptr;
    if (!plugin_add(sess, filename, module, reinterpret_cast<plugin_init_func>(init),
                    reinterpret_cast<plugin_deinit_func>(deinit), arg, FALSE)) {
        load_error = std::string(last_component(filename)) + ": " + _("the plugin failed to initialise.");
        return load_error.c_str();
    }
    return nullptr;
}

void plugin_auto_load(session *sess)
{
    auto_load_dir(sess, plugin_get_libdir());
    auto_load_dir(sess, std::string(get_xdir()) + "/addons");
}

int plugin_kill(const char *name, bool by_filename)
{
    plugin_record *pl = name ? find_plugin(name, by_filename, false) : nullptr;
    if (!pl)
        return 0;
    return plugin_free(pl, true, true) ? 1 : 2;
}

void plugin_kill_all(void)
{
    for (GSList *l = plugin_list; l;) {
        plugin_record *pl = as_record(l->data);
        l = l->next;
        // One whose deinit is running (this runs from inside it) finishes
        // its own unload.
        if (!pl->list_only && !pl->unloading && plugin_is_listed(pl)) {
            plugin_free(pl, true, false);
            l = plugin_list; // a deinit may have unloaded others
        }
    }
}

int plugin_reload(session *sess, const char *name, bool by_filename)
{
    plugin_record *pl = name ? find_plugin(name, by_filename, true) : nullptr;
    if (!pl)
        return 0;
    if (!pl->filename || pl->list_only)
        return 2;
    const std::string file = pl->filename;
    plugin_free(pl, true, false);
    if (const char *error = plugin_load(sess, file.c_str(), nullptr)) {
        PrintTextf(sess, "%s\n", error);
        return 0;
    }
    return 1;
}

std::vector<plugin_info> plugin_list_rows(void)
{
    std::vector<plugin_info> rows;
    for (GSList *l = plugin_list; l; l = l->next) {
        const plugin_record *pl = as_record(l->data);
        rows.push_back({pl->name ? pl->name : "", pl->version ? pl->version : "", pl->filename ? pl->filename : "",
                        pl->desc ? pl->desc : ""});
    }
    return rows;
}

session *plugin_find_context(const char *servname, const char *channel, server *preferred)
{
    if (!servname && !channel)
        return current_sess;
    session *fallback = nullptr;
    for (GSList *sl = serv_list; sl; sl = sl->next) {
        auto *serv = static_cast<server *>(sl->data);
        if (servname) {
            const char *netname = server_get_network(serv, false);
            if (rfc_casecmp(servname, serv->announced_name) != 0 && g_ascii_strcasecmp(servname, serv->hostname) != 0 &&
                !(netname && g_ascii_strcasecmp(servname, netname) == 0))
                continue;
        }
        if (!channel)
            return serv->recent_session ? serv->recent_session : serv->home_session;
        for (GSList *l = sess_list; l; l = l->next) {
            auto *sess = static_cast<session *>(l->data);
            if (sess->server != serv || rfc_casecmp(channel, sess->channel) != 0)
                continue;
            if (serv == preferred)
                return sess;
            if (!fallback)
                fallback = sess;
        }
    }
    return fallback;
}

// ---- list-only entries ------------------------------------------------------------------

extern "C" {

void *lumenwick_plugingui_add(lumenwick_plugin *ph, const char *filename, const char *name, const char *desc,
                              const char *version, char *)
{
    return plugin_guard<void *>(nullptr, [&]() -> void * {
        auto *entry = new plugin_record{};
        entry->list_only = 1;
        entry->owns_strings = 1;
        entry->filename = g_strdup(filename);
        entry->name = g_strdup(name ? name : "");
        entry->desc = g_strdup(desc ? desc : "");
        entry->version = g_strdup(version ? version : "");
        entry->owner = ph ? plugin_of(ph) : nullptr;
        plugin_list = g_slist_prepend(plugin_list, entry);
        fe_pluginlist_update();
        return entry;
    });
}

void lumenwick_plugingui_remove(lumenwick_plugin *, void *handle)
{
    plugin_guard_void([&] {
        auto *entry = static_cast<plugin_record *>(handle);
        if (entry && entry->list_only && plugin_is_listed(entry))
            plugin_free(entry, false, false);
    });
}

} // extern "C"
