// Remote control on the session bus: other processes run commands, print,
// read lists and hook events as if they were plugins. Every client is kept
// by the caller's unique bus name and goes away with it, so a script that
// dies cannot leave hooks behind. Uses only the plugin interface.
#include "plugins/builtin.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"

#include <gio/gio.h>
#include <glib.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

constexpr const char *SERVICE_NAME = "org.lumenwick.service";
constexpr const char *CONNECTION_PATH = "/org/lumenwick";
constexpr const char *REMOTE_PATH = "/org/lumenwick/Remote";
constexpr const char *PLUGIN_INTERFACE = "org.lumenwick.plugin";
constexpr const char *ERROR_NAME = "org.lumenwick.Error";
constexpr const char *ROOT_KEY = "__root__";
// Slots of the word arrays handed to hooks.
constexpr int WORD_SLOTS = 32;

constexpr const char *INTROSPECTION_XML = R"(<node>
  <interface name="org.lumenwick.connection">
    <method name="Connect">
      <arg type="s" name="filename" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="s" name="desc" direction="in"/>
      <arg type="s" name="version" direction="in"/>
      <arg type="s" name="path" direction="out"/>
    </method>
    <method name="Disconnect"/>
  </interface>
  <interface name="org.lumenwick.plugin">
    <method name="Command">
      <arg type="s" name="command" direction="in"/>
    </method>
    <method name="Print">
      <arg type="s" name="text" direction="in"/>
    </method>
    <method name="FindContext">
      <arg type="s" name="server" direction="in"/>
      <arg type="s" name="channel" direction="in"/>
      <arg type="u" name="ret_id" direction="out"/>
    </method>
    <method name="GetContext">
      <arg type="u" name="ret_id" direction="out"/>
    </method>
    <method name="SetContext">
      <arg type="u" name="id" direction="in"/>
      <arg type="b" name="ret" direction="out"/>
    </method>
    <method name="GetInfo">
      <arg type="s" name="id" direction="in"/>
      <arg type="s" name="ret_info" direction="out"/>
    </method>
    <method name="GetPrefs">
      <arg type="s" name="name" direction="in"/>
      <arg type="i" name="ret_type" direction="out"/>
      <arg type="s" name="ret_str" direction="out"/>
      <arg type="i" name="ret_int" direction="out"/>
    </method>
    <method name="HookCommand">
      <arg type="s" name="name" direction="in"/>
      <arg type="i" name="priority" direction="in"/>
      <arg type="s" name="help_text" direction="in"/>
      <arg type="i" name="return_value" direction="in"/>
      <arg type="u" name="ret_id" direction="out"/>
    </method>
    <method name="HookServer">
      <arg type="s" name="name" direction="in"/>
      <arg type="i" name="priority" direction="in"/>
      <arg type="i" name="return_value" direction="in"/>
      <arg type="u" name="ret_id" direction="out"/>
    </method>
    <method name="HookPrint">
      <arg type="s" name="name" direction="in"/>
      <arg type="i" name="priority" direction="in"/>
      <arg type="i" name="return_value" direction="in"/>
      <arg type="u" name="ret_id" direction="out"/>
    </method>
    <method name="Unhook">
      <arg type="u" name="id" direction="in"/>
    </method>
    <method name="ListGet">
      <arg type="s" name="name" direction="in"/>
      <arg type="u" name="ret_id" direction="out"/>
    </method>
    <method name="ListNext">
      <arg type="u" name="id" direction="in"/>
      <arg type="b" name="ret" direction="out"/>
    </method>
    <method name="ListStr">
      <arg type="u" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="s" name="ret_string" direction="out"/>
    </method>
    <method name="ListInt">
      <arg type="u" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="i" name="ret_int" direction="out"/>
    </method>
    <method name="ListTime">
      <arg type="u" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="t" name="ret_time" direction="out"/>
    </method>
    <method name="ListFields">
      <arg type="s" name="name" direction="in"/>
      <arg type="as" name="ret" direction="out"/>
    </method>
    <method name="ListFree">
      <arg type="u" name="id" direction="in"/>
    </method>
    <method name="EmitPrint">
      <arg type="s" name="event_name" direction="in"/>
      <arg type="as" name="args" direction="in"/>
      <arg type="b" name="ret" direction="out"/>
    </method>
    <method name="Nickcmp">
      <arg type="s" name="nick1" direction="in"/>
      <arg type="s" name="nick2" direction="in"/>
      <arg type="i" name="ret" direction="out"/>
    </method>
    <method name="Strip">
      <arg type="s" name="str" direction="in"/>
      <arg type="i" name="len" direction="in"/>
      <arg type="i" name="flag" direction="in"/>
      <arg type="s" name="ret_str" direction="out"/>
    </method>
    <method name="SendModes">
      <arg type="as" name="targets" direction="in"/>
      <arg type="i" name="modes_per_line" direction="in"/>
      <arg type="y" name="sign" direction="in"/>
      <arg type="y" name="mode" direction="in"/>
    </method>
    <signal name="CommandSignal">
      <arg type="as" name="word"/>
      <arg type="as" name="word_eol"/>
      <arg type="u" name="hook_id"/>
      <arg type="u" name="context_id"/>
    </signal>
    <signal name="ServerSignal">
      <arg type="as" name="word"/>
      <arg type="as" name="word_eol"/>
      <arg type="u" name="hook_id"/>
      <arg type="u" name="context_id"/>
    </signal>
    <signal name="PrintSignal">
      <arg type="as" name="word"/>
      <arg type="u" name="hook_id"/>
      <arg type="u" name="context_id"/>
    </signal>
    <signal name="UnloadSignal"/>
  </interface>
</node>)";

struct remote_client;

enum class hook_type { command, server, print };

// One hook a remote caller made. `owner` is the bus name the signals go to.
struct remote_hook {
    remote_client *client = nullptr;
    std::string owner;
    lumenwick_hook *hook = nullptr;
    unsigned int id = 0;
    hook_type type = hook_type::command;
    int result = 0;
};

struct remote_list {
    std::string owner;
    lumenwick_list *list = nullptr;
};

// A connected program, or the fixed object "/org/lumenwick/Remote". On the
// fixed object the session is shared, but every hook and list belongs to
// the bus name that made it.
struct remote_client {
    std::string key;
    std::string path;
    guint registration = 0;
    lumenwick_context *context = nullptr;
    std::string base_name;
    void *gui_entry = nullptr;
    std::map<unsigned int, std::unique_ptr<remote_hook>> hooks;
    std::map<unsigned int, remote_list> lists;
    unsigned int hook_counter = 0;
    unsigned int list_counter = 0;
};

struct remote_state {
    lumenwick_plugin *ph = nullptr;
    GDBusConnection *bus = nullptr;
    GCancellable *cancel = nullptr;
    GDBusNodeInfo *node_info = nullptr;
    guint connection_registration = 0;
    guint owner_subscription = 0;
    std::unique_ptr<remote_client> root;
    std::map<std::string, std::unique_ptr<remote_client>> clients;
    unsigned int path_counter = 0;
    // Context ids: sessions are only compared, never dereferenced here.
    std::map<unsigned int, lumenwick_context *> contexts;
    unsigned int context_counter = 0;
};

remote_state *state;

template <typename F> void guarded(F &&body) noexcept
{
    builtin_guarded("remote control", body);
}

void return_error(GDBusMethodInvocation *invocation, const char *message)
{
    g_dbus_method_invocation_return_dbus_error(invocation, ERROR_NAME, message);
}

// A D-Bus string must be UTF-8; text from a server or a file may not be.
GVariant *text_value(const char *text)
{
    if (!text)
        text = "";
    if (g_utf8_validate(text, -1, nullptr))
        return g_variant_new_string(text);
    char *valid = g_utf8_make_valid(text, -1);
    GVariant *value = g_variant_new_string(valid);
    g_free(valid);
    return value;
}

// ---- context ids ---------------------------------------------------------------------

unsigned int context_id(lumenwick_context *ctx)
{
    if (!ctx)
        return 0;
    for (const auto &[id, known] : state->contexts) {
        if (known == ctx)
            return id;
    }
    return 0;
}

lumenwick_context *context_by_id(unsigned int id)
{
    auto it = state->contexts.find(id);
    return it == state->contexts.end() ? nullptr : it->second;
}

void context_add(lumenwick_context *ctx)
{
    if (ctx && !context_id(ctx))
        state->contexts[++state->context_counter] = ctx;
}

int open_context_cb(char *[], void *) noexcept
{
    guarded([] { context_add(lumenwick_get_context(state->ph)); });
    return LUMENWICK_EAT_NONE;
}

int close_context_cb(char *[], void *) noexcept
{
    guarded([] {
        lumenwick_context *ctx = lumenwick_get_context(state->ph);
        if (const unsigned int id = context_id(ctx))
            state->contexts.erase(id);
        for (auto &[key, client] : state->clients) {
            if (client->context == ctx)
                client->context = nullptr;
        }
        if (state->root->context == ctx)
            state->root->context = nullptr;
    });
    return LUMENWICK_EAT_NONE;
}

// Tabs that were open before the service started get ids too.
void context_add_existing(void)
{
    lumenwick_list *list = lumenwick_list_get(state->ph, "channels");
    if (!list)
        return;
    while (lumenwick_list_next(state->ph, list))
        context_add(
            reinterpret_cast<lumenwick_context *>(const_cast<char *>(lumenwick_list_str(state->ph, list, "context"))));
    lumenwick_list_free(state->ph, list);
}

// ---- hooks ------------------------------------------------------------------------------

// Words from index 1 up to the first empty one.
GVariant *word_array(char *word[])
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (int i = 1; i < WORD_SLOTS && word[i] && word[i][0]; i++)
        g_variant_builder_add_value(&builder, text_value(word[i]));
    return g_variant_builder_end(&builder);
}

void emit(const remote_hook *hook, const char *signal, GVariant *params)
{
    g_dbus_connection_emit_signal(state->bus, hook->owner.c_str(), hook->client->path.c_str(), PLUGIN_INTERFACE, signal,
                                  params, nullptr);
}

int command_hook_cb(char *word[], char *word_eol[], void *userdata) noexcept
{
    auto *hook = static_cast<remote_hook *>(userdata);
    guarded([&] {
        const unsigned int ctx = context_id(lumenwick_get_context(state->ph));
        emit(hook, hook->type == hook_type::command ? "CommandSignal" : "ServerSignal",
             g_variant_new("(@as@asuu)", word_array(word), word_array(word_eol), hook->id, ctx));
    });
    return hook->result;
}

int print_hook_cb(char *word[], void *userdata) noexcept
{
    auto *hook = static_cast<remote_hook *>(userdata);
    guarded([&] {
        const unsigned int ctx = context_id(lumenwick_get_context(state->ph));
        emit(hook, "PrintSignal", g_variant_new("(@asuu)", word_array(word), hook->id, ctx));
    });
    return hook->result;
}

unsigned int hook_add(remote_client *client, const char *owner, hook_type type, const char *name, int priority,
                      const char *help, int result)
{
    auto hook = std::make_unique<remote_hook>();
    hook->client = client;
    hook->owner = owner;
    hook->type = type;
    hook->result = result;
    hook->id = ++client->hook_counter;
    switch (type) {
    case hook_type::command:
        hook->hook = lumenwick_hook_command(state->ph, name, priority, command_hook_cb, help, hook.get());
        break;
    case hook_type::server:
        hook->hook = lumenwick_hook_server(state->ph, name, priority, command_hook_cb, hook.get());
        break;
    case hook_type::print:
        hook->hook = lumenwick_hook_print(state->ph, name, priority, print_hook_cb, hook.get());
        break;
    }
    if (!hook->hook)
        return 0;
    const unsigned int id = hook->id;
    client->hooks[id] = std::move(hook);
    return id;
}

// Drops what `owner` made on `client` (everything when `owner` is null).
void client_release(remote_client *client, const char *owner)
{
    for (auto it = client->hooks.begin(); it != client->hooks.end();) {
        if (owner && it->second->owner != owner) {
            ++it;
            continue;
        }
        lumenwick_unhook(state->ph, it->second->hook);
        it = client->hooks.erase(it);
    }
    for (auto it = client->lists.begin(); it != client->lists.end();) {
        if (owner && it->second.owner != owner) {
            ++it;
            continue;
        }
        lumenwick_list_free(state->ph, it->second.list);
        it = client->lists.erase(it);
    }
}

void client_remove(const std::string &key)
{
    auto it = state->clients.find(key);
    if (it == state->clients.end())
        return;
    std::unique_ptr<remote_client> client = std::move(it->second);
    state->clients.erase(it);
    if (client->registration)
        g_dbus_connection_unregister_object(state->bus, client->registration);
    client_release(client.get(), nullptr);
    if (client->gui_entry)
        lumenwick_plugingui_remove(state->ph, client->gui_entry);
}

// ---- the plugin interface -----------------------------------------------------------

remote_client *client_at(const char *path)
{
    if (strcmp(path, REMOTE_PATH) == 0)
        return state->root.get();
    for (auto &[key, client] : state->clients) {
        if (client->path == path)
            return client.get();
    }
    return nullptr;
}

// Makes the client's session the plugin's context; false when it is gone.
// The fixed object falls back to the tab in front, so one-shot callers
// keep working after the tab they last chose was closed.
bool use_context(remote_client *client)
{
    if (client->context && lumenwick_set_context(state->ph, client->context))
        return true;
    if (client != state->root.get())
        return false;
    lumenwick_context *front = lumenwick_find_context(state->ph, nullptr, nullptr);
    if (!front || !lumenwick_set_context(state->ph, front))
        return false;
    client->context = front;
    return true;
}

// Ids that need no session and hand out no pointers.
bool info_is_global(const char *id)
{
    return strcmp(id, "version") == 0 || strcmp(id, "libdirfs") == 0 || strcmp(id, "configdir") == 0 ||
           strcmp(id, "configdirfs") == 0 || strcmp(id, "cfgdir") == 0 || g_str_has_prefix(id, "event_text");
}

lumenwick_list *list_of(remote_client *client, const char *sender, unsigned int id, bool *known)
{
    *known = id == 0;
    if (id == 0)
        return nullptr;
    auto it = client->lists.find(id);
    if (it == client->lists.end() || it->second.owner != sender)
        return nullptr;
    *known = true;
    return it->second.list;
}

void plugin_method(remote_client *client, const char *sender, const char *method, GVariant *params,
                   GDBusMethodInvocation *invocation)
{
    lumenwick_plugin *ph = state->ph;
    const bool have_session = use_context(client);

    if (strcmp(method, "Command") == 0) {
        const char *command = nullptr;
        g_variant_get(params, "(&s)", &command);
        // An error, not silence: a hand-over must know its command was dropped.
        if (!have_session) {
            return_error(invocation, "No session to run the command in");
            return;
        }
        lumenwick_command(ph, command);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (strcmp(method, "Print") == 0) {
        const char *text = nullptr;
        g_variant_get(params, "(&s)", &text);
        if (have_session)
            lumenwick_print(ph, text);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (strcmp(method, "FindContext") == 0) {
        const char *server = nullptr, *channel = nullptr;
        g_variant_get(params, "(&s&s)", &server, &channel);
        lumenwick_context *ctx =
            lumenwick_find_context(ph, server[0] ? server : nullptr, channel[0] ? channel : nullptr);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", context_id(ctx)));
    } else if (strcmp(method, "GetContext") == 0) {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(u)", have_session ? context_id(client->context) : 0));
    } else if (strcmp(method, "SetContext") == 0) {
        guint32 id = 0;
        g_variant_get(params, "(u)", &id);
        lumenwick_context *ctx = context_by_id(id);
        const bool ok = ctx && lumenwick_set_context(ph, ctx);
        if (ok)
            client->context = ctx;
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", ok));
    } else if (strcmp(method, "GetInfo") == 0) {
        const char *id = nullptr;
        g_variant_get(params, "(&s)", &id);
        const char *info = nullptr;
        // Pointer-valued ids would hand out memory as text.
        if (!g_str_has_suffix(id, "_ptr") && (have_session || info_is_global(id)))
            info = lumenwick_get_info(ph, id);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(@s)", text_value(info)));
    } else if (strcmp(method, "GetPrefs") == 0) {
        const char *name = nullptr;
        g_variant_get(params, "(&s)", &name);
        const char *text = nullptr;
        int number = 0;
        const int type = lumenwick_get_prefs(ph, name, &text, &number);
        if (type != LUMENWICK_PREF_STRING)
            text = nullptr;
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(i@si)", type, text_value(text), number));
    } else if (strcmp(method, "HookCommand") == 0 || strcmp(method, "HookServer") == 0 ||
               strcmp(method, "HookPrint") == 0) {
        const char *name = nullptr, *help = nullptr;
        gint32 priority = 0, result = 0;
        hook_type type = hook_type::command;
        if (strcmp(method, "HookCommand") == 0) {
            g_variant_get(params, "(&si&si)", &name, &priority, &help, &result);
        } else {
            g_variant_get(params, "(&sii)", &name, &priority, &result);
            type = strcmp(method, "HookServer") == 0 ? hook_type::server : hook_type::print;
        }
        const unsigned int id =
            hook_add(client, sender, type, name, priority, help && help[0] ? help : nullptr, result);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
    } else if (strcmp(method, "Unhook") == 0) {
        guint32 id = 0;
        g_variant_get(params, "(u)", &id);
        auto it = client->hooks.find(id);
        if (it != client->hooks.end() && it->second->owner == sender) {
            lumenwick_unhook(ph, it->second->hook);
            client->hooks.erase(it);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (strcmp(method, "ListGet") == 0) {
        const char *name = nullptr;
        g_variant_get(params, "(&s)", &name);
        lumenwick_list *list = have_session ? lumenwick_list_get(ph, name) : nullptr;
        unsigned int id = 0;
        if (list) {
            id = ++client->list_counter;
            client->lists[id] = remote_list{sender, list};
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
    } else if (strcmp(method, "ListNext") == 0) {
        guint32 id = 0;
        g_variant_get(params, "(u)", &id);
        bool known = false;
        lumenwick_list *list = list_of(client, sender, id, &known);
        const bool more = list && lumenwick_list_next(ph, list);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", more));
    } else if (strcmp(method, "ListStr") == 0) {
        guint32 id = 0;
        const char *field = nullptr;
        g_variant_get(params, "(u&s)", &id, &field);
        bool known = false;
        lumenwick_list *list = list_of(client, sender, id, &known);
        const char *text = nullptr;
        // "context" is a pointer in the C interface; ListInt gives its id.
        if (known && (list || have_session) && strcmp(field, "context") != 0)
            text = lumenwick_list_str(ph, list, field);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(@s)", text_value(text)));
    } else if (strcmp(method, "ListInt") == 0) {
        guint32 id = 0;
        const char *field = nullptr;
        g_variant_get(params, "(u&s)", &id, &field);
        bool known = false;
        lumenwick_list *list = list_of(client, sender, id, &known);
        int value = -1;
        if (known && (list || have_session)) {
            if (strcmp(field, "context") == 0) {
                const char *ctx = lumenwick_list_str(ph, list, "context");
                value = static_cast<int>(context_id(reinterpret_cast<lumenwick_context *>(const_cast<char *>(ctx))));
            } else {
                value = lumenwick_list_int(ph, list, field);
            }
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(i)", value));
    } else if (strcmp(method, "ListTime") == 0) {
        guint32 id = 0;
        const char *field = nullptr;
        g_variant_get(params, "(u&s)", &id, &field);
        bool known = false;
        lumenwick_list *list = list_of(client, sender, id, &known);
        time_t value = -1;
        if (known && (list || have_session))
            value = lumenwick_list_time(ph, list, field);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(t)", static_cast<guint64>(value)));
    } else if (strcmp(method, "ListFields") == 0) {
        const char *name = nullptr;
        g_variant_get(params, "(&s)", &name);
        const char *const *fields = lumenwick_list_fields(ph, name);
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (int i = 0; fields && fields[i]; i++)
            g_variant_builder_add(&builder, "s", fields[i]);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &builder));
    } else if (strcmp(method, "ListFree") == 0) {
        guint32 id = 0;
        g_variant_get(params, "(u)", &id);
        auto it = client->lists.find(id);
        if (it != client->lists.end() && it->second.owner == sender) {
            lumenwick_list_free(ph, it->second.list);
            client->lists.erase(it);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (strcmp(method, "EmitPrint") == 0) {
        const char *event = nullptr;
        GVariantIter *iter = nullptr;
        g_variant_get(params, "(&sas)", &event, &iter);
        const char *args[4] = {};
        const char *arg = nullptr;
        for (int i = 0; i < 4 && g_variant_iter_next(iter, "&s", &arg); i++)
            args[i] = arg;
        const bool ok = have_session && lumenwick_emit_print(ph, event, args[0], args[1], args[2], args[3], nullptr);
        g_variant_iter_free(iter);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", ok));
    } else if (strcmp(method, "Nickcmp") == 0) {
        const char *a = nullptr, *b = nullptr;
        g_variant_get(params, "(&s&s)", &a, &b);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(i)", lumenwick_nickcmp(ph, a, b)));
    } else if (strcmp(method, "Strip") == 0) {
        const char *text = nullptr;
        gint32 length = 0, flags = 0;
        g_variant_get(params, "(&sii)", &text, &length, &flags);
        // A length past the end would read beyond the text.
        const gint32 real = static_cast<gint32>(strnlen(text, G_MAXINT32));
        if (length < 0 || length > real)
            length = real;
        char *stripped = lumenwick_strip(ph, text, length, flags);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(@s)", text_value(stripped)));
        lumenwick_free(ph, stripped);
    } else if (strcmp(method, "SendModes") == 0) {
        GVariantIter *iter = nullptr;
        gint32 per_line = 0;
        guchar sign = 0, mode = 0;
        g_variant_get(params, "(asiyy)", &iter, &per_line, &sign, &mode);
        std::vector<const char *> targets;
        const char *target = nullptr;
        while (g_variant_iter_next(iter, "&s", &target))
            targets.push_back(target);
        if (have_session && !targets.empty())
            lumenwick_send_modes(ph, targets.data(), static_cast<int>(targets.size()), per_line,
                                 static_cast<char>(sign), static_cast<char>(mode));
        g_variant_iter_free(iter);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
        return_error(invocation, "Unknown method");
    }
}

void plugin_method_cb(GDBusConnection *, const char *sender, const char *path, const char *, const char *method,
                      GVariant *params, GDBusMethodInvocation *invocation, gpointer) noexcept
{
    guarded([&] {
        remote_client *client = client_at(path);
        if (!client) {
            return_error(invocation, "No such object");
            return;
        }
        plugin_method(client, sender ? sender : "", method, params, invocation);
    });
}

const GDBusInterfaceVTable plugin_vtable = {plugin_method_cb, nullptr, nullptr, {}};

// ---- the connection interface -------------------------------------------------------

void connect_method(const char *sender, GVariant *params, GDBusMethodInvocation *invocation)
{
    auto found = state->clients.find(sender);
    if (found != state->clients.end()) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", found->second->path.c_str()));
        return;
    }
    const char *filename = nullptr, *name = nullptr, *desc = nullptr, *version = nullptr;
    g_variant_get(params, "(&s&s&s&s)", &filename, &name, &desc, &version);

    auto client = std::make_unique<remote_client>();
    client->key = sender;
    char *path = g_strdup_printf("%s/%u", CONNECTION_PATH, state->path_counter++);
    client->path = path;
    g_free(path);
    GError *error = nullptr;
    client->registration = g_dbus_connection_register_object(
        state->bus, client->path.c_str(), state->node_info->interfaces[1], &plugin_vtable, nullptr, nullptr, &error);
    if (!client->registration) {
        return_error(invocation, error->message);
        g_error_free(error);
        return;
    }
    lumenwick_context *ctx = lumenwick_get_context(state->ph);
    client->context = ctx && lumenwick_set_context(state->ph, ctx) ? ctx : state->root->context;
    char *base = g_path_get_basename(filename);
    client->base_name = base;
    g_free(base);
    client->gui_entry = lumenwick_plugingui_add(state->ph, client->base_name.c_str(), name, desc, version, nullptr);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", client->path.c_str()));
    state->clients[sender] = std::move(client);
}

void connection_method_cb(GDBusConnection *, const char *sender, const char *, const char *, const char *method,
                          GVariant *params, GDBusMethodInvocation *invocation, gpointer) noexcept
{
    guarded([&] {
        const char *caller = sender ? sender : "";
        if (strcmp(method, "Connect") == 0) {
            connect_method(caller, params, invocation);
        } else if (strcmp(method, "Disconnect") == 0) {
            client_remove(caller);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        } else {
            return_error(invocation, "Unknown method");
        }
    });
}

const GDBusInterfaceVTable connection_vtable = {connection_method_cb, nullptr, nullptr, {}};

// A caller that left the bus takes its client and everything it made along.
void name_owner_changed_cb(GDBusConnection *, const char *, const char *, const char *, const char *, GVariant *params,
                           gpointer) noexcept
{
    guarded([&] {
        const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
        g_variant_get(params, "(&s&s&s)", &name, &old_owner, &new_owner);
        if (new_owner[0])
            return;
        client_remove(name);
        client_release(state->root.get(), name);
    });
}

// "/UNLOAD <name>" of a connected program asks it to go.
int unload_cb(char *word[], char *[], void *) noexcept
{
    int result = LUMENWICK_EAT_NONE;
    guarded([&] {
        for (auto &[key, client] : state->clients) {
            if (client->base_name.empty() || client->base_name != word[2])
                continue;
            g_dbus_connection_emit_signal(state->bus, client->key.c_str(), client->path.c_str(), PLUGIN_INTERFACE,
                                          "UnloadSignal", nullptr, nullptr);
            result = LUMENWICK_EAT_ALL;
            return;
        }
    });
    return result;
}

// Prints in the plugin's tab, or the tab in front when that one is gone.
void print_failure(const std::string &text)
{
    lumenwick_plugin *ph = state->ph;
    if (!lumenwick_set_context(ph, lumenwick_get_context(ph)))
        lumenwick_set_context(ph, lumenwick_find_context(ph, nullptr, nullptr));
    lumenwick_print(ph, text.c_str());
}

// Each step that fails says so and leaves the plugin loaded but idle.
void service_start(void)
{
    lumenwick_plugin *ph = state->ph;
    GError *error = nullptr;
    state->node_info = g_dbus_node_info_new_for_xml(INTROSPECTION_XML, &error);
    if (!state->node_info) {
        print_failure(std::string("Couldn't parse DBus introspection data: ") + error->message + "\n");
        g_error_free(error);
        return;
    }
    // Allow replacement: a newer instance may take the name over.
    GVariant *reply = g_dbus_connection_call_sync(
        state->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", SERVICE_NAME, 1u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        print_failure(std::string("Failed to acquire ") + SERVICE_NAME + ": " + error->message + "\n");
        g_error_free(error);
        return;
    }
    g_variant_unref(reply);

    state->connection_registration = g_dbus_connection_register_object(
        state->bus, CONNECTION_PATH, state->node_info->interfaces[0], &connection_vtable, nullptr, nullptr, &error);
    if (!state->connection_registration) {
        print_failure(std::string("Failed to register ") + CONNECTION_PATH + ": " + error->message + "\n");
        g_error_free(error);
        return;
    }
    state->root->registration = g_dbus_connection_register_object(
        state->bus, REMOTE_PATH, state->node_info->interfaces[1], &plugin_vtable, nullptr, nullptr, &error);
    if (!state->root->registration) {
        print_failure(std::string("Failed to register ") + REMOTE_PATH + ": " + error->message + "\n");
        g_error_free(error);
        return;
    }
    state->owner_subscription = g_dbus_connection_signal_subscribe(
        state->bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, name_owner_changed_cb, nullptr, nullptr);

    context_add_existing();
    lumenwick_hook_print(ph, "Open Context", LUMENWICK_PRI_NORM, open_context_cb, nullptr);
    lumenwick_hook_print(ph, "Close Context", LUMENWICK_PRI_NORM, close_context_cb, nullptr);
    lumenwick_hook_command(ph, "unload", LUMENWICK_PRI_HIGHEST, unload_cb, nullptr, nullptr);
}

// The bus is reached from the main loop, so a slow or absent bus never
// holds up the start.
void bus_ready_cb(GObject *, GAsyncResult *result, gpointer) noexcept
{
    guarded([&] {
        GError *error = nullptr;
        GDBusConnection *bus = g_bus_get_finish(result, &error);
        if (!bus) {
            // Cancelled: the plugin is gone already.
            if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
                print_failure(std::string("Couldn't connect to session bus: ") + error->message + "\n");
            g_error_free(error);
            return;
        }
        state->bus = bus;
        service_start();
    });
}

int remote_plugin_init(void *handle, char **name, char **desc, char **version, char *) noexcept
{
    *name = const_cast<char *>("remote access");
    *desc = const_cast<char *>("plugin for remote access using DBUS");
    *version = const_cast<char *>("");
    guarded([&] {
        state = new remote_state;
        state->ph = static_cast<lumenwick_plugin *>(handle);
        state->root = std::make_unique<remote_client>();
        state->root->key = ROOT_KEY;
        state->root->path = REMOTE_PATH;
        state->root->context = lumenwick_get_context(state->ph);
        state->cancel = g_cancellable_new();
        g_bus_get(G_BUS_TYPE_SESSION, state->cancel, bus_ready_cb, nullptr);
    });
    return 1;
}

int remote_plugin_deinit(void *) noexcept
{
    guarded([] {
        if (!state)
            return;
        g_cancellable_cancel(state->cancel);
        g_object_unref(state->cancel);
        while (!state->clients.empty())
            client_remove(state->clients.begin()->first);
        client_release(state->root.get(), nullptr);
        if (state->bus) {
            if (state->owner_subscription)
                g_dbus_connection_signal_unsubscribe(state->bus, state->owner_subscription);
            if (state->root->registration)
                g_dbus_connection_unregister_object(state->bus, state->root->registration);
            if (state->connection_registration)
                g_dbus_connection_unregister_object(state->bus, state->connection_registration);
            g_dbus_connection_flush_sync(state->bus, nullptr, nullptr);
            g_object_unref(state->bus);
        }
        if (state->node_info)
            g_dbus_node_info_unref(state->node_info);
        delete state;
        state = nullptr;
    });
    return 1;
}

} // namespace

void dbus_plugin_init(session *sess)
{
    plugin_add(sess, nullptr, nullptr, remote_plugin_init, remote_plugin_deinit, nullptr, FALSE);
}
