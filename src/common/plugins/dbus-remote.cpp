// The hand-over at start-up: with --existing and a URL or command, a
// second start passes them to the instance that owns the service name on
// the session bus and ends, instead of opening another window.
#include "plugins/plugin.h"
#include "session/lumenwick.h"

#include <gio/gio.h>
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

constexpr const char *SERVICE_NAME = "org.lumenwick.service";

void report(const char *message, const GError *error)
{
    fprintf(stderr, "%s: %s\n", message, error ? error->message : "");
}

// Whether the service has an owner; false (start normally) when the bus
// cannot tell.
bool service_running(GDBusConnection *bus)
{
    GError *error = nullptr;
    GVariant *reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", SERVICE_NAME), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        report("Failed to complete NameHasOwner", error);
        g_error_free(error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

// The commands to hand over, in command-line order.
std::vector<std::string> handover_commands(void)
{
    std::vector<std::string> commands;
    if (arg_url)
        commands.push_back(std::string("url ") + arg_url);
    if (arg_command)
        commands.emplace_back(arg_command);
    for (int i = 0; arg_urls && arg_urls[i]; i++)
        commands.push_back(std::string("url ") + arg_urls[i]);
    return commands;
}

// Exits: 0 when the running instance took every command, 1 otherwise.
[[noreturn]] void hand_over(GDBusConnection *bus)
{
    GError *error = nullptr;
    GDBusProxy *proxy =
        g_dbus_proxy_new_sync(bus,
                              static_cast<GDBusProxyFlags>(G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES |
                                                           G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS),
                              nullptr, SERVICE_NAME, "/org/lumenwick/Remote", "org.lumenwick.plugin", nullptr, &error);
    if (!proxy) {
        report("Failed to connect to Lumenwick", error);
        g_error_free(error);
        exit(1);
    }
    int status = 0;
    for (const std::string &command : handover_commands()) {
        GVariant *reply = g_dbus_proxy_call_sync(proxy, "Command", g_variant_new("(s)", command.c_str()),
                                                 G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        if (!reply) {
            report("Failed to complete Command", error);
            g_clear_error(&error);
            status = 1;
            break;
        }
        g_variant_unref(reply);
    }
    g_object_unref(proxy);
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    exit(status);
}

} // namespace

void lumenwick_remote(void)
{
    if (!arg_url && !(arg_urls && arg_urls[0]) && !arg_command)
        return;
    if (!arg_existing)
        return;
    // A hand-over never connects this start by itself.
    arg_dont_autoconnect = TRUE;

    GError *error = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        report("Couldn't connect to session bus", error);
        g_error_free(error);
        return;
    }
    if (!service_running(bus)) {
        g_object_unref(bus);
        return;
    }
    hand_over(bus);
}
