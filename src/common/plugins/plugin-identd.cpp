// The built-in ident responder: answers "<local port>, <remote port>"
// queries for the program's own IRC connections with the user name each
// connection registered. A connection registers its port through the
// IDENTD command right after it is established; the entry lives 30
// seconds or until one query used it. Uses only the plugin interface, plus
// a GIO socket service for listening.
#include "plugins/builtin.h"
#include "plugins/identd.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"

#include <gio/gio.h>
#include <glib.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace
{

constexpr int DEFAULT_PORT = 113;
constexpr int ENTRY_LIFETIME_MS = 30000;
// A query is two numbers; a peer that sends more, or nothing for this long,
// is cut off so it cannot hold memory or a descriptor.
constexpr std::size_t MAX_REQUEST = 1024;
constexpr int REQUEST_TIMEOUT_MS = 30000;
constexpr std::size_t MAX_CLIENTS = 64;

struct ident_entry {
    std::string user;
    lumenwick_hook *expiry = nullptr;
};

struct ident_client {
    GSocketConnection *conn = nullptr;
    lumenwick_hook *watch = nullptr;
    lumenwick_hook *timer = nullptr;
    std::string peer;
    std::string buffer;
};

lumenwick_plugin *ph;
// A plain pointer outlives the hook index at exit, so the record stays
// reachable when the program ends without unloading plugins.
lumenwick_hook *command_hook;
GSocketService *service;
std::map<unsigned int, ident_entry> entries;
std::map<ident_client *, std::unique_ptr<ident_client>> clients;

template <typename F> void guarded(F &&body) noexcept
{
    builtin_guarded("identd", body);
}

// Prints in the tab in front: the responder belongs to no tab.
void print_front(const std::string &text)
{
    lumenwick_context *ctx = lumenwick_find_context(ph, nullptr, nullptr);
    if (ctx && lumenwick_set_context(ph, ctx))
        lumenwick_print(ph, text.c_str());
}

void entry_remove(unsigned int port, bool from_timer)
{
    auto it = entries.find(port);
    if (it == entries.end())
        return;
    if (!from_timer)
        lumenwick_unhook(ph, it->second.expiry);
    entries.erase(it);
}

// ---- queries -----------------------------------------------------------------------------

void client_close(ident_client *client)
{
    if (client->watch)
        lumenwick_unhook(ph, client->watch);
    if (client->timer)
        lumenwick_unhook(ph, client->timer);
    g_io_stream_close(G_IO_STREAM(client->conn), nullptr, nullptr);
    g_object_unref(client->conn);
    clients.erase(client);
}

// A port as the peer wrote it: clamped to 16 bits, `valid` when it was a
// number in 1..65535.
unsigned int read_port(const std::string &text, bool *valid)
{
    const char *p = text.c_str();
    while (*p == ' ' || *p == '\t')
        p++;
    errno = 0;
    char *end = nullptr;
    const unsigned long value = strtoul(p, &end, 10);
    *valid = end != p && errno == 0 && *p != '-' && value >= 1 && value <= 65535;
    return value > 65535 || errno == ERANGE ? 65535 : static_cast<unsigned int>(value);
}

// The answer to one query line (without its line end); empty to close
// without answering.
std::string answer(const ident_client *client, const std::string &line)
{
    identd_query query;
    if (!identd_parse_query(line, &query))
        return "";
    const std::string reply = identd_answer_prefix(query);
    if (!query.valid)
        return reply + "ERROR : INVALID-PORT\r\n";
    auto it = entries.find(query.local);
    if (it == entries.end())
        return reply + "ERROR : NO-USER\r\n";
    const std::string user = it->second.user;
    entry_remove(query.local, false);
    print_front("*\tServicing ident request from " + client->peer + " as " + user + "\n");
    return reply + "USERID : UNIX : " + user + "\r\n";
}

int client_read_cb(int fd, int, void *userdata) noexcept
{
    auto *client = static_cast<ident_client *>(userdata);
    int again = 0;
    guarded([&] {
        char buf[512];
        const std::size_t room = MAX_REQUEST - client->buffer.size();
        const ssize_t got = recv(fd, buf, std::min(sizeof buf, room), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            again = 1;
            return;
        }
        if (got > 0)
            client->buffer.append(buf, static_cast<std::size_t>(got));
        const std::size_t eol = client->buffer.find('\n');
        if (eol == std::string::npos) {
            // More is welcome while there is room and the peer is still there.
            if (got > 0 && client->buffer.size() < MAX_REQUEST) {
                again = 1;
                return;
            }
        } else {
            std::string line = client->buffer.substr(0, eol);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string reply = answer(client, line);
            if (!reply.empty())
                send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        client->watch = nullptr; // ends with our return value
        client_close(client);
    });
    return again;
}

int client_timeout_cb(void *userdata) noexcept
{
    auto *client = static_cast<ident_client *>(userdata);
    guarded([&] {
        client->timer = nullptr;
        client_close(client);
    });
    return 0;
}

std::string peer_name(GSocketConnection *conn)
{
    GSocketAddress *address = g_socket_connection_get_remote_address(conn, nullptr);
    if (!address)
        return "?";
    std::string name = "?";
    if (G_IS_INET_SOCKET_ADDRESS(address)) {
        char *text = g_inet_address_to_string(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address)));
        name = text;
        g_free(text);
    }
    g_object_unref(address);
    return name;
}

gboolean incoming_cb(GSocketService *, GSocketConnection *conn, GObject *, gpointer) noexcept
{
    guarded([&] {
        if (clients.size() >= MAX_CLIENTS)
            return; // closed when the service drops its reference
        GSocket *sock = g_socket_connection_get_socket(conn);
        g_socket_set_blocking(sock, FALSE);
        auto client = std::make_unique<ident_client>();
        client->conn = G_SOCKET_CONNECTION(g_object_ref(conn));
        client->peer = peer_name(conn);
        client->watch = lumenwick_hook_fd(ph, g_socket_get_fd(sock), LUMENWICK_FD_READ, client_read_cb, client.get());
        client->timer = lumenwick_hook_timer(ph, REQUEST_TIMEOUT_MS, client_timeout_cb, client.get());
        ident_client *key = client.get();
        clients[key] = std::move(client);
    });
    return TRUE;
}

// ---- the server ----------------------------------------------------------------------

void server_stop(void)
{
    while (!clients.empty())
        client_close(clients.begin()->first);
    if (!service)
        return;
    g_socket_service_stop(service);
    g_socket_listener_close(G_SOCKET_LISTENER(service));
    g_object_unref(service);
    service = nullptr;
}

void server_start(void)
{
    server_stop();
    int enabled = 0;
    if (lumenwick_get_prefs(ph, "identd_server", nullptr, &enabled) == LUMENWICK_PREF_BOOL && !enabled)
        return;
    int port = 0;
    if (lumenwick_get_prefs(ph, "identd_port", nullptr, &port) != LUMENWICK_PREF_INT || port < 1 || port > 65535)
        port = DEFAULT_PORT;

    service = g_socket_service_new();
    GError *error = nullptr;
    // Both address families when the system has them.
    if (!g_socket_listener_add_inet_port(G_SOCKET_LISTENER(service), static_cast<guint16>(port), nullptr, &error)) {
        print_front(std::string("*\tError starting identd server: ") + error->message + "\n");
        g_error_free(error);
        g_object_unref(service);
        service = nullptr;
        return;
    }
    g_signal_connect(service, "incoming", G_CALLBACK(incoming_cb), nullptr);
    g_socket_service_start(service);
}

// ---- the IDENTD command ------------------------------------------------------------

int expiry_cb(void *userdata) noexcept
{
    guarded([&] { entry_remove(GPOINTER_TO_UINT(userdata), true); });
    return 0;
}

int identd_cb(char *word[], char *[], void *) noexcept
{
    int result = LUMENWICK_EAT_ALL;
    guarded([&] {
        if (g_ascii_strcasecmp(word[2], "reload") == 0) {
            server_start();
            result = service ? LUMENWICK_EAT_ALL : LUMENWICK_EAT_PROGRAM;
            return;
        }
        if (!service)
            return;
        char *end = nullptr;
        errno = 0;
        const unsigned long port = word[2][0] ? strtoul(word[2], &end, 0) : 0;
        if (!word[2][0] || *end || errno || word[2][0] == '-' || !word[3][0]) {
            lumenwick_command(ph, "HELP IDENTD");
            return;
        }
        if (port < 1 || port > 65535)
            return;
        const auto key = static_cast<unsigned int>(port);
        entry_remove(key, false);
        ident_entry &entry = entries[key];
        entry.user = word[3];
        entry.expiry = lumenwick_hook_timer(ph, ENTRY_LIFETIME_MS, expiry_cb, GUINT_TO_POINTER(key));
    });
    return result;
}

} // namespace

int identd_plugin_init(void *handle, char **name, char **desc, char **version, char *)
{
    ph = static_cast<lumenwick_plugin *>(handle);
    *name = const_cast<char *>("");
    *desc = const_cast<char *>("");
    *version = const_cast<char *>("");
    command_hook =
        lumenwick_hook_command(ph, "IDENTD", LUMENWICK_PRI_NORM, identd_cb, "IDENTD <port> <username>", nullptr);
    guarded([] { server_start(); });
    return 1;
}

int identd_plugin_deinit(void *)
{
    guarded([] {
        server_stop();
        while (!entries.empty())
            entry_remove(entries.begin()->first, false);
    });
    return 1;
}

bool identd_parse_query(std::string_view line, identd_query *query)
{
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return false;
    bool local_ok = false, remote_ok = false;
    query->local = read_port(std::string(line.substr(0, comma)), &local_ok);
    query->remote = read_port(std::string(line.substr(comma + 1)), &remote_ok);
    query->valid = local_ok && remote_ok;
    return true;
}

std::string identd_answer_prefix(const identd_query &query)
{
    return std::to_string(query.local) + ", " + std::to_string(query.remote) + " : ";
}
