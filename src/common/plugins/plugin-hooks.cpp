// Hooks: the ordered index of every plugin's hooks, the emits the core calls,
// timer and descriptor hooks, and the lazy freeing that keeps a record alive
// while any callback might still be walking past it.
#include "plugins/plugin-internal.h"

#include "base/lumenwick.h"
#include "fe.h"
#include "output/text.h"
#include "session/session.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace
{

// An event name as the core hands it over: looked up without building a key.
struct name_ref {
    char group;
    std::string_view name;
};

// Keys are the ordering group followed by the ASCII-folded name; a name_ref
// hashes and compares like the key it would fold to.
struct key_hash {
    using is_transparent = void;
    static std::size_t step(std::size_t h, char c)
    {
        const unsigned char folded = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
        return (h ^ folded) * 1099511628211ULL;
    }
    std::size_t operator()(const std::string &key) const
    {
        std::size_t h = 14695981039346656037ULL;
        for (char c : key)
            h = step(h, c);
        return h;
    }
    std::size_t operator()(const name_ref &ref) const
    {
        std::size_t h = step(14695981039346656037ULL, ref.group);
        for (char c : ref.name)
            h = step(h, c);
        return h;
    }
};
struct key_equal {
    using is_transparent = void;
    static bool same(const std::string &key, const name_ref &ref)
    {
        return key.size() == ref.name.size() + 1 && key[0] == ref.group &&
               g_ascii_strncasecmp(key.data() + 1, ref.name.data(), ref.name.size()) == 0;
    }
    bool operator()(const std::string &a, const std::string &b) const { return a == b; }
    bool operator()(const std::string &a, const name_ref &b) const { return same(a, b); }
    bool operator()(const name_ref &a, const std::string &b) const { return same(b, a); }
};

// Named hooks by ordering group and folded name, each bucket in run order:
// an emit looks at its own bucket only, never at every hook.
std::unordered_map<std::string, std::vector<hook_record *>, key_hash, key_equal> named_hooks;
// Server hooks named "RAW LINE", which see every line.
int raw_line_hooks;
// Bits of the hashes of the names in named_hooks: most events have no hook,
// and one bit answers that before the table is probed.
constexpr std::size_t FILTER_BITS = 1 << 16;
std::bitset<FILTER_BITS> name_filter;

bool may_be_hooked(const name_ref &ref)
{
    return name_filter[key_hash{}(ref) % FILTER_BITS];
}

void rebuild_filter(void)
{
    name_filter.reset();
    for (const auto &[key, bucket] : named_hooks)
        name_filter.set(key_hash{}(key) % FILTER_BITS);
}
// Every hook not yet freed (named, timers and descriptors).
std::unordered_set<hook_record *> all_hooks;
// Unhooked records and unloaded plugins waiting for the callbacks to end.
std::vector<hook_record *> dead_hooks;
std::vector<plugin_record *> dead_plugins;
int callback_depth;
std::uint64_t next_serial;

constexpr char GROUP_COMMAND = 'c';
constexpr char GROUP_SERVER = 's';
constexpr char GROUP_PRINT = 'p';
constexpr const char *RAW_LINE = "RAW LINE";
constexpr int WORD_SLOTS = 32;

char group_of(int type)
{
    switch (type) {
    case HOOK_KIND_COMMAND:
        return GROUP_COMMAND;
    case HOOK_KIND_SERVER:
    case HOOK_KIND_SERVER_ATTRS:
        return GROUP_SERVER;
    case HOOK_KIND_PRINT:
    case HOOK_KIND_PRINT_ATTRS:
        return GROUP_PRINT;
    default:
        return 0;
    }
}

std::string index_key(char group, const char *name)
{
    std::string key(1, group);
    for (const char *p = name; *p; p++)
        key += g_ascii_tolower(*p);
    return key;
}

// Run order: higher priority first; among equals the newer hook.
bool runs_before(const hook_record *a, const hook_record *b)
{
    return a->priority != b->priority ? a->priority > b->priority : a->serial > b->serial;
}

void sweep(void)
{
    std::vector<hook_record *> hooks;
    hooks.swap(dead_hooks);
    bool names_gone = false;
    for (hook_record *h : hooks) {
        if (!h->key.empty()) {
            auto it = named_hooks.find(h->key);
            if (it != named_hooks.end()) {
                if (h->key == index_key(GROUP_SERVER, RAW_LINE))
                    raw_line_hooks--;
                std::erase(it->second, h);
                if (it->second.empty()) {
                    named_hooks.erase(it);
                    names_gone = true;
                }
            }
        }
        all_hooks.erase(h);
        delete h;
    }
    if (names_gone)
        rebuild_filter();
    std::vector<plugin_record *> plugins;
    plugins.swap(dead_plugins);
    for (plugin_record *pl : plugins) {
        if (pl->module)
            g_module_close(pl->module);
        delete pl;
    }
}

// The hooks an emit may call, in run order, taken before the first call: a
// hook added by a callback waits for the next event, and a hook unhooked by
// one is skipped (its record lives until the outermost callback returns).
class hook_walk
{
  public:
    hook_walk(char group, const char *name, bool with_raw_line)
    {
        if (named_hooks.empty())
            return;
        add(name_ref{group, name ? name : ""});
        if (with_raw_line && raw_line_hooks > 0)
            add(name_ref{group, RAW_LINE});
        if (merged_)
            std::stable_sort(hooks_.begin(), hooks_.end(), runs_before);
    }
    const std::vector<hook_record *> &hooks() const { return hooks_; }

  private:
    void add(const name_ref &key)
    {
        if (!may_be_hooked(key))
            return;
        auto it = named_hooks.find(key);
        if (it == named_hooks.end())
            return;
        merged_ = !hooks_.empty();
        hooks_.insert(hooks_.end(), it->second.begin(), it->second.end());
    }
    std::vector<hook_record *> hooks_;
    bool merged_ = false;
};

// The emit pass: calls each matching hook of `types` with `call`; 1 when
// the event was eaten.
template <typename Call> int emit(char group, const char *name, int types, session *sess, bool with_raw_line, Call call)
{
    hook_walk walk(group, name, with_raw_line);
    if (walk.hooks().empty())
        return 0;
    int eaten = 0;
    hooks_enter();
    for (hook_record *h : walk.hooks()) {
        if (!(h->type & types))
            continue; // also skips hooks unhooked meanwhile
        h->plugin->context = sess;
        const int result = plugin_guard(0, [&] { return call(h); });
        if (result & RESULT_EAT_PROGRAM)
            eaten = 1;
        if (result & RESULT_EAT_PLUGINS)
            break;
    }
    hooks_leave();
    return eaten;
}

int run_timer(void *data)
{
    auto *h = static_cast<hook_record *>(data);
    hooks_enter();
    h->plugin->context = current_sess;
    const int again = plugin_guard(0, [&] { return reinterpret_cast<lumenwick_timer_cb>(h->callback)(h->userdata); });
    bool keep = !(h->type & HOOK_KIND_DELETED);
    if (keep && !again) {
        // The source ends by our return value; unhook must not remove it again.
        h->tag = 0;
        hook_remove(h);
        keep = false;
    }
    hooks_leave();
    return keep ? 1 : 0;
}

gboolean run_fd(GIOChannel *, GIOCondition condition, void *data)
{
    auto *h = static_cast<hook_record *>(data);
    int flags = 0;
    if (condition & (G_IO_IN | G_IO_HUP | G_IO_ERR))
        flags |= LUMENWICK_FD_READ;
    if (condition & G_IO_OUT)
        flags |= LUMENWICK_FD_WRITE;
    if (condition & G_IO_PRI)
        flags |= LUMENWICK_FD_EXCEPTION;
    hooks_enter();
    const int again =
        plugin_guard(0, [&] { return reinterpret_cast<lumenwick_fd_cb>(h->callback)(h->fd, flags, h->userdata); });
    bool keep = !(h->type & HOOK_KIND_DELETED);
    if (keep && !again) {
        h->tag = 0;
        hook_remove(h);
        keep = false;
    }
    hooks_leave();
    return keep ? TRUE : FALSE;
}

} // namespace

void hooks_enter(void)
{
    callback_depth++;
}

void hooks_leave(void)
{
    if (--callback_depth == 0 && (!dead_hooks.empty() || !dead_plugins.empty()))
        sweep();
}

bool hooks_in_callback(void)
{
    return callback_depth > 0;
}

void plugin_release(plugin_record *pl)
{
    pl->closing = 1;
    dead_plugins.push_back(pl);
    if (callback_depth == 0)
        sweep();
}

hook_record *hook_add(plugin_record *pl, int type, int pri, const char *name, const char *help, void *callback,
                      void *userdata)
{
    if (!pl || pl->closing || pl->list_only || !callback)
        return nullptr;
    auto *h = new hook_record;
    h->plugin = pl;
    h->type = type;
    h->priority = pri;
    h->callback = callback;
    h->userdata = userdata;
    h->serial = ++next_serial;
    if (const char group = group_of(type)) {
        h->name = g_strdup(name ? name : "");
        h->help = help ? g_strdup(help) : nullptr;
        h->key = index_key(group, h->name);
        if (group == GROUP_SERVER && g_ascii_strcasecmp(h->name, RAW_LINE) == 0)
            raw_line_hooks++;
        name_filter.set(key_hash{}(h->key) % FILTER_BITS);
        auto &bucket = named_hooks[h->key];
        bucket.insert(
            std::find_if(bucket.begin(), bucket.end(), [pri](const hook_record *o) { return o->priority <= pri; }), h);
    }
    all_hooks.insert(h);
    return h;
}

void *hook_remove(hook_record *h)
{
    if (!h || !all_hooks.contains(h) || (h->type & HOOK_KIND_DELETED))
        return nullptr;
    if (h->tag) {
        if (h->type == HOOK_KIND_TIMER)
            fe_timeout_remove(h->tag);
        else if (h->type == HOOK_KIND_FD)
            fe_input_remove(h->tag);
        h->tag = 0;
    }
    h->type = HOOK_KIND_DELETED;
    g_clear_pointer(&h->name, g_free);
    g_clear_pointer(&h->help, g_free);
    // The record may be freed by the sweep below: read what we hand back first.
    void *userdata = h->userdata;
    dead_hooks.push_back(h);
    if (callback_depth == 0)
        sweep();
    return userdata;
}

void hooks_remove_plugin(plugin_record *pl)
{
    std::vector<hook_record *> own;
    for (hook_record *h : all_hooks) {
        if (h->plugin == pl && !(h->type & HOOK_KIND_DELETED))
            own.push_back(h);
    }
    hooks_enter();
    for (hook_record *h : own)
        hook_remove(h);
    hooks_leave();
}

// ---- the exported hook functions ---------------------------------------------------------

extern "C" {

lumenwick_hook *lumenwick_hook_command(lumenwick_plugin *ph, const char *name, int pri, lumenwick_command_cb callback,
                                       const char *help_text, void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&] {
        return hook_add(plugin_of(ph), HOOK_KIND_COMMAND, pri, name, help_text, reinterpret_cast<void *>(callback),
                        userdata);
    });
}

lumenwick_hook *lumenwick_hook_server(lumenwick_plugin *ph, const char *name, int pri, lumenwick_server_cb callback,
                                      void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&] {
        return hook_add(plugin_of(ph), HOOK_KIND_SERVER, pri, name, nullptr, reinterpret_cast<void *>(callback),
                        userdata);
    });
}

lumenwick_hook *lumenwick_hook_server_attrs(lumenwick_plugin *ph, const char *name, int pri,
                                            lumenwick_server_attrs_cb callback, void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&] {
        return hook_add(plugin_of(ph), HOOK_KIND_SERVER_ATTRS, pri, name, nullptr, reinterpret_cast<void *>(callback),
                        userdata);
    });
}

lumenwick_hook *lumenwick_hook_print(lumenwick_plugin *ph, const char *name, int pri, lumenwick_print_cb callback,
                                     void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&] {
        return hook_add(plugin_of(ph), HOOK_KIND_PRINT, pri, name, nullptr, reinterpret_cast<void *>(callback),
                        userdata);
    });
}

lumenwick_hook *lumenwick_hook_print_attrs(lumenwick_plugin *ph, const char *name, int pri,
                                           lumenwick_print_attrs_cb callback, void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&] {
        return hook_add(plugin_of(ph), HOOK_KIND_PRINT_ATTRS, pri, name, nullptr, reinterpret_cast<void *>(callback),
                        userdata);
    });
}

lumenwick_hook *lumenwick_hook_timer(lumenwick_plugin *ph, int timeout_ms, lumenwick_timer_cb callback, void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&]() -> lumenwick_hook * {
        hook_record *h =
            hook_add(plugin_of(ph), HOOK_KIND_TIMER, 0, nullptr, nullptr, reinterpret_cast<void *>(callback), userdata);
        if (h)
            h->tag = fe_timeout_add(std::max(timeout_ms, 0), run_timer, h);
        return h;
    });
}

lumenwick_hook *lumenwick_hook_fd(lumenwick_plugin *ph, int fd, int flags, lumenwick_fd_cb callback, void *userdata)
{
    return plugin_guard<lumenwick_hook *>(nullptr, [&]() -> lumenwick_hook * {
        if (fd < 0)
            return nullptr;
        hook_record *h =
            hook_add(plugin_of(ph), HOOK_KIND_FD, 0, nullptr, nullptr, reinterpret_cast<void *>(callback), userdata);
        if (!h)
            return nullptr;
        h->fd = fd;
        // The plugin's flag bits are the front end's watch bits.
        h->tag = fe_input_add(fd, flags & (FIA_READ | FIA_WRITE | FIA_EX), run_fd, h);
        return h;
    });
}

void *lumenwick_unhook(lumenwick_plugin *, lumenwick_hook *hook)
{
    return plugin_guard<void *>(nullptr, [&] { return hook_remove(hook); });
}

} // extern "C"

// ---- emits the core calls ------------------------------------------------------------------

int plugin_emit_command(session *sess, char *name, char *word[], char *word_eol[])
{
    const int eaten = emit(GROUP_COMMAND, name, HOOK_KIND_COMMAND, sess, false, [&](hook_record *h) {
        return reinterpret_cast<lumenwick_command_cb>(h->callback)(word, word_eol, h->userdata);
    });
    if (eaten)
        return 1;
    // The connection announces its local port with IDENTD for the ident
    // responder; while no plugin answers to it, it must not reach the user as
    // an unknown command.
    if (name && g_ascii_strcasecmp(name, "IDENTD") == 0 && !named_hooks.contains(name_ref{GROUP_COMMAND, name}))
        return 1;
    return 0;
}

int plugin_emit_server(session *sess, char *name, char *word[], char *word_eol[], time_t server_time)
{
    lumenwick_event_attrs attrs{server_time};
    return emit(GROUP_SERVER, name, HOOK_KIND_SERVER | HOOK_KIND_SERVER_ATTRS, sess, true, [&](hook_record *h) {
        if (h->type == HOOK_KIND_SERVER_ATTRS)
            return reinterpret_cast<lumenwick_server_attrs_cb>(h->callback)(word, word_eol, &attrs, h->userdata);
        return reinterpret_cast<lumenwick_server_cb>(h->callback)(word, word_eol, h->userdata);
    });
}

int plugin_emit_print(session *sess, char *word[], time_t server_time)
{
    lumenwick_event_attrs attrs{server_time};
    return emit(GROUP_PRINT, word[0], HOOK_KIND_PRINT | HOOK_KIND_PRINT_ATTRS, sess, false, [&](hook_record *h) {
        if (h->type == HOOK_KIND_PRINT_ATTRS)
            return reinterpret_cast<lumenwick_print_attrs_cb>(h->callback)(word, &attrs, h->userdata);
        return reinterpret_cast<lumenwick_print_cb>(h->callback)(word, h->userdata);
    });
}

namespace
{
// Word slots of a pseudo event: `first` filled from `texts`, the rest empty.
int emit_plain_print(session *sess, const char *name, std::initializer_list<const char *> texts)
{
    if (!may_be_hooked(name_ref{GROUP_PRINT, name}) || !named_hooks.contains(name_ref{GROUP_PRINT, name}))
        return 0;
    char empty[] = "";
    char *word[WORD_SLOTS];
    std::vector<std::string> owned(texts.begin(), texts.end());
    std::string event = name;
    word[0] = event.data();
    for (int i = 1; i < WORD_SLOTS; i++)
        word[i] = static_cast<std::size_t>(i) <= owned.size() ? owned[i - 1].data() : empty;
    return emit(GROUP_PRINT, name, HOOK_KIND_PRINT, sess, false,
                [&](hook_record *h) { return reinterpret_cast<lumenwick_print_cb>(h->callback)(word, h->userdata); });
}
} // namespace

int plugin_emit_dummy_print(session *sess, const char *name)
{
    if (named_hooks.empty())
        return 0;
    return emit_plain_print(sess, name, {});
}

int plugin_emit_keypress(session *sess, unsigned int state, unsigned int keyval, gunichar key)
{
    if (named_hooks.empty())
        return 0;
    char utf8[8] = "";
    const int len = key ? g_unichar_to_utf8(key, utf8) : 0;
    utf8[len] = '\0';
    const std::string keyval_text = std::to_string(keyval), state_text = std::to_string(state),
                      len_text = std::to_string(len);
    return emit_plain_print(sess, "Key Press", {keyval_text.c_str(), state_text.c_str(), utf8, len_text.c_str()});
}

GList *plugin_command_list(GList *list)
{
    for (const auto &[key, bucket] : named_hooks) {
        for (hook_record *h : bucket) {
            if (h->type == HOOK_KIND_COMMAND)
                list = g_list_prepend(list, g_strdup(h->name));
        }
    }
    return list;
}

namespace
{
// The live command hooks in run order.
std::vector<hook_record *> command_hooks(void)
{
    std::vector<hook_record *> out;
    for (const auto &[key, bucket] : named_hooks) {
        if (key[0] != GROUP_COMMAND)
            continue;
        for (hook_record *h : bucket) {
            if (h->type == HOOK_KIND_COMMAND)
                out.push_back(h);
        }
    }
    std::sort(out.begin(), out.end(), [](const hook_record *a, const hook_record *b) {
        const int by_name = strcmp(a->key.c_str(), b->key.c_str());
        return by_name != 0 ? by_name < 0 : runs_before(a, b);
    });
    return out;
}
} // namespace

void plugin_command_foreach(session *sess, void *userdata,
                            void (*func)(session *sess, void *userdata, const char *name, const char *help))
{
    for (hook_record *h : command_hooks()) {
        if (h->name[0])
            func(sess, userdata, h->name, h->help);
    }
}

bool plugin_show_help(session *sess, const char *name)
{
    if (!name)
        return false;
    auto it = named_hooks.find(name_ref{GROUP_COMMAND, name});
    if (it == named_hooks.end())
        return false;
    for (hook_record *h : it->second) {
        if (h->type != HOOK_KIND_COMMAND)
            continue;
        if (!h->help || !h->help[0])
            return false;
        PrintTextf(sess, "%s\n", h->help);
        return true;
    }
    return false;
}
