// Connecting: /SERVER, /SERVCHAN, /NEWSERVER, /RECONNECT, /GATE, /URL and
// adding servers to the network list.

#include "commands/outbound-cmds.h"
#include "commands/outbound.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "servlist/servlist-password.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

// What /SERVER and the IRC URLs ask for.
struct server_target {
    std::string host;
    int port = 0;
    bool tls = true; // a bare /SERVER uses TLS unless told otherwise
    bool verify = true;
    bool no_proxy = false;
    std::string channel;
    std::string key;
    std::string password;

    server_target() = default;
    server_target(const server_target &) = delete;
    server_target &operator=(const server_target &) = delete;
    ~server_target() { OPENSSL_cleanse(password.data(), password.size()); }
};

// Highest TCP port.
constexpr long MAX_PORT = 65535;
// What a gateway listens on unless told otherwise (telnet).
constexpr int GATE_DEFAULT_PORT = 23;

// A port text: an optional '+' (TLS) or '-' (plain), then digits. Returns 0
// for anything that is no port in range, so that the connection uses its
// default instead of a number atoi made up.
int parse_port(const char *text, bool *tls, bool *tls_given)
{
    if (text[0] == '+' || text[0] == '-') {
        if (tls)
            *tls = text[0] == '+';
        if (tls_given)
            *tls_given = true;
        text++;
    }
    if (!g_ascii_isdigit(text[0]))
        return 0;
    long port = 0;
    for (; g_ascii_isdigit(*text); text++) {
        port = port * 10 + (*text - '0');
        if (port > MAX_PORT)
            return 0;
    }
    return *text ? 0 : static_cast<int>(port);
}

// Reads "irc://host[:port][/[#]channel[?key]]" or "ircs://..." into `target`;
// false when `word` is no IRC URL.
bool parse_irc_url(const char *word, server_target &target)
{
    const char *rest;
    if (g_ascii_strncasecmp(word, "ircs://", 7) == 0) {
        target.tls = true;
        rest = word + 7;
    } else if (g_ascii_strncasecmp(word, "irc://", 6) == 0) {
        target.tls = false;
        rest = word + 6;
    } else {
        return false;
    }
    std::string text(rest);
    std::string hostport = text.substr(0, text.find('/'));
    if (text.find('/') != std::string::npos) {
        std::string chan = text.substr(text.find('/') + 1);
        const std::size_t q = chan.find('?');
        if (q != std::string::npos) {
            target.key = chan.substr(q + 1);
            chan.erase(q);
        }
        if (!chan.empty() && chan[0] == '#')
            chan.erase(0, 1);
        if (!chan.empty())
            target.channel = "#" + chan;
    }
    // A bracketed IPv6 literal keeps its colons.
    std::size_t colon = std::string::npos;
    if (!hostport.empty() && hostport[0] == '[') {
        const std::size_t close = hostport.find(']');
        if (close != std::string::npos && close + 1 < hostport.size() && hostport[close + 1] == ':')
            colon = close + 1;
        target.host = hostport.substr(1, (close == std::string::npos ? hostport.size() : close) - 1);
    } else {
        colon = hostport.rfind(':');
        target.host = hostport.substr(0, colon);
    }
    if (colon != std::string::npos) {
        const std::string port = hostport.substr(colon + 1);
        target.port = parse_port(port.c_str(), &target.tls, nullptr);
    }
    return true;
}

// Parses the words of /SERVER from `first` on; false when no host was given.
bool parse_server_words(char *word[], int first, server_target &target)
{
    int i = first;
    bool tls_option = false;
    for (; word[i][0] == '-' && word[i][1]; i++) {
        if (!g_ascii_strcasecmp(word[i], "-ssl") || !g_ascii_strcasecmp(word[i], "-e")) {
            target.tls = true;
            target.verify = true;
            tls_option = true;
        } else if (!g_ascii_strcasecmp(word[i], "-ssl-noverify")) {
            target.tls = true;
            target.verify = false;
            tls_option = true;
        } else if (!g_ascii_strcasecmp(word[i], "-insecure")) {
            target.tls = false;
            tls_option = true;
        } else if (!g_ascii_strcasecmp(word[i], "-noproxy")) {
            target.no_proxy = true;
        } else {
            break;
        }
    }
    if (!word[i][0])
        return false;
    const bool chosen_tls = target.tls;
    if (!parse_irc_url(word[i], target))
        target.host = word[i];
    else if (tls_option)
        target.tls = chosen_tls; // an explicit option wins over the URL's scheme
    i++;
    if (word[i][0]) {
        target.port = parse_port(word[i], &target.tls, nullptr);
        i++;
        if (word[i][0])
            target.password = word[i];
    }
    return !target.host.empty();
}

void server_connect_to(session *sess, const server_target &target, bool servchan)
{
    server *serv = sess->server;
    serv->network = nullptr;
    if (!servchan)
        sess->rejoin_channel[0] = 0;
    if (!target.channel.empty()) {
        safe_strcpy(sess->rejoin_channel, target.channel.c_str(), sizeof sess->rejoin_channel);
        safe_strcpy(sess->key, target.key.c_str(), sizeof sess->key);
    }

    // A network's name connects through the server list; a channel the tab
    // is to join (from the URL or SERVCHAN) is joined instead of its favourites.
    if (servlist_connect_by_netname(sess, target.host.c_str(), !sess->rejoin_channel[0]))
        return;

    // Only a network that lists exactly this host lends it its login.
    ircnet *net = servlist_net_find_from_server(target.host.c_str());
    OPENSSL_cleanse(serv->password, sizeof serv->password);
    serv->password[0] = 0;
    serv->login_method = LOGIN_METHOD_SERVER_PASSWORD;
    if (!target.password.empty()) {
        safe_strcpy(serv->password, target.password.c_str(), sizeof serv->password);
    } else if (net) {
        GError *error = nullptr;
        if (char *password = servlist_get_password(net, &error)) {
            safe_strcpy(serv->password, password, sizeof serv->password);
            servlist_password_free(password);
        } else if (error) {
            PrintTextf(sess, "%s %s\n", error->message, _("Connecting without a password."));
            g_error_free(error);
        }
        serv->login_method = servlist_effective_login_method(net);
    }
    serv->tls_enabled = target.tls;
    serv->allow_invalid_cert = !target.verify;
    serv->direct_only = target.no_proxy;
    // Attached before connecting, so that the network's client certificate
    // is the one the TLS handshake offers.
    serv->network = net;

    std::string host = target.host;
    serv->connect(serv, host.data(), target.port, FALSE);
    if (net && is_server(serv))
        server_set_encoding(serv, net->charset);
}

} // namespace

int cmd_server(session *sess, char *, char *word[], char *[])
{
    server_target target;
    if (!parse_server_words(word, 2, target))
        return CMD_WRONG_USAGE;
    if (!sess->server->connect) {
        PrintText(sess, _("Connecting is not available.\n"));
        return CMD_DONE;
    }
    server_connect_to(sess, target, g_ascii_strcasecmp(word[1], "SERVCHAN") == 0);
    return CMD_DONE;
}

int cmd_servchan(session *sess, char *tbuf, char *word[], char *word_eol[])
{
    // host, port and channel are all required.
    int i = 2;
    while (word[i][0] == '-' && word[i][1])
        i++;
    if (!word[i][0] || !word[i + 1][0] || !word[i + 2][0])
        return CMD_WRONG_USAGE;
    safe_strcpy(sess->rejoin_channel, word[i + 2], sizeof sess->rejoin_channel);
    word[i + 2][0] = 0; // not a password
    return cmd_server(sess, tbuf, word, word_eol);
}

int cmd_newserver(session *, char *tbuf, char *word[], char *word_eol[])
{
    if (!g_ascii_strcasecmp(word[2], "-noconnect")) {
        if (!word[3][0])
            return CMD_WRONG_USAGE;
        session *tab = new_ircwindow(nullptr, word[3], SESS_SERVER, 0);
        if (!tab)
            return CMD_DONE;
        safe_strcpy(tab->server->hostname, word[3], sizeof tab->server->hostname);
        if (word[4][0])
            tab->server->port = parse_port(word[4], nullptr, nullptr);
        return CMD_DONE;
    }
    session *tab = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
    // Alone, the command just opens an empty server tab.
    if (!tab || !word[2][0])
        return CMD_DONE;
    return cmd_server(tab, tbuf, word, word_eol);
}

namespace
{

void reconnect_server(server *serv)
{
    // The command asks for now, whatever the configured delay.
    if (serv->auto_reconnect && serv->home_session)
        serv->auto_reconnect(serv, TRUE, -1, 0);
}

} // namespace

int cmd_reconnect(session *sess, char *, char *word[], char *[])
{
    server *serv = sess->server;
    if (!g_ascii_strcasecmp(word[2], "ALL")) {
        // Reconnecting runs the servers' own code; walk a copy of the list
        // and skip any server that went away meanwhile.
        GSList *snapshot = g_slist_copy(serv_list);
        for (GSList *l = snapshot; l; l = l->next) {
            auto *s = static_cast<server *>(l->data);
            if (is_server(s) && s->connected)
                reconnect_server(s);
        }
        g_slist_free(snapshot);
        return CMD_DONE;
    }
    if (word[2][0]) {
        int i = 2;
        serv->tls_enabled = TRUE;
        serv->allow_invalid_cert = FALSE;
        if (!g_ascii_strcasecmp(word[i], "-ssl")) {
            i++;
        } else if (!g_ascii_strcasecmp(word[i], "-ssl-noverify")) {
            serv->allow_invalid_cert = TRUE;
            i++;
        } else if (!g_ascii_strcasecmp(word[i], "-insecure")) {
            serv->tls_enabled = FALSE;
            i++;
        }
        if (word[i][0])
            safe_strcpy(serv->hostname, word[i], sizeof serv->hostname);
        if (word[i][0] && word[i + 1][0])
            serv->port = parse_port(word[i + 1], nullptr, nullptr);
        if (word[i][0] && word[i + 1][0] && word[i + 2][0]) {
            OPENSSL_cleanse(serv->password, sizeof serv->password);
            safe_strcpy(serv->password, word[i + 2], sizeof serv->password);
        }
    }
    if (!serv->hostname[0]) {
        notc_msg(sess);
        return CMD_DONE;
    }
    if (serv->connected || serv->connecting || serv->reconnect_timer) {
        reconnect_server(serv);
    } else if (serv->connect) {
        serv->connect(serv, serv->hostname, serv->port, FALSE);
    }
    return CMD_DONE;
}

int cmd_gate(session *sess, char *, char *word[], char *[])
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    int port = GATE_DEFAULT_PORT;
    if (word[3][0]) {
        port = parse_port(word[3], nullptr, nullptr);
        if (port == 0)
            return CMD_WRONG_USAGE;
    }
    server *serv = sess->server;
    if (!serv->connect) {
        PrintText(sess, _("Connecting is not available.\n"));
        return CMD_DONE;
    }
    // A gateway is reached in plain text and speaks its own protocol: the
    // user talks to it by hand, so no IRC login is sent.
    serv->tls_enabled = FALSE;
    serv->allow_invalid_cert = FALSE;
    std::string host = word[2];
    serv->connect(serv, host.data(), port, TRUE);
    return CMD_DONE;
}

int cmd_addserver(session *sess, char *, char *word[], char *[])
{
    const char *network = word[2];
    const char *address = word[3];
    if (!network[0] || !address[0])
        return CMD_WRONG_USAGE;
    // Saving an unloaded list would replace the user's file with this one entry.
    servlist_init();

    ircnet *net = servlist_net_find(network, nullptr, strcmp);
    if (net && servlist_server_find(net, address, nullptr)) {
        PrintTextf(sess, _("Server %s already exists on network %s.\n"), address, network);
        return CMD_DONE;
    }
    if (!net) {
        net = servlist_net_add(network, true);
        g_free(net->charset);
        net->charset = g_strdup(SERVLIST_DEFAULT_CHARSET);
    }
    servlist_server_add(net, address);
    PrintTextf(sess, _("Added server %s to network %s.\n"), address, network);
    servlist_save();
    return CMD_DONE;
}

namespace
{

// Whether `serv` is where an IRC URL naming `host` points: a server of the
// network of that name, of a network listing that host, or connected to it.
bool server_matches_url_host(server *serv, const std::string &host)
{
    if (!g_ascii_strcasecmp(serv->hostname, host.c_str()))
        return true;
    if (!serv->network)
        return false;
    const char *name = servlist_network_name(serv->network);
    if (name && !g_ascii_strcasecmp(name, host.c_str()))
        return true;
    for (GSList *l = serv->network->servers; l; l = l->next) {
        const char *address = static_cast<ircserver *>(l->data)->address;
        const char *slash = strchr(address, '/');
        const std::size_t len = slash ? static_cast<std::size_t>(slash - address) : strlen(address);
        if (len == host.size() && !g_ascii_strncasecmp(address, host.c_str(), len))
            return true;
    }
    return false;
}

} // namespace

int cmd_url(session *, char *, char *word[], char *[])
{
    const char *url = word[2];
    if (!url[0])
        return CMD_WRONG_USAGE;
    server_target target;
    if (!parse_irc_url(url, target)) {
        fe_open_url(url);
        return CMD_DONE;
    }
    if (target.host.empty())
        return CMD_WRONG_USAGE;

    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (!serv->connected || !server_matches_url_host(serv, target.host))
            continue;
        if (!target.channel.empty())
            serv->p_join(serv, target.channel.c_str(), target.key.c_str());
        else if (serv->home_session)
            fe_ctrl_gui(serv->home_session, FE_GUI_FOCUS, 0);
        return CMD_DONE;
    }

    session *tab = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
    if (!tab)
        return CMD_DONE;
    if (!tab->server->connect) {
        PrintText(tab, _("Connecting is not available.\n"));
        return CMD_DONE;
    }
    server_connect_to(tab, target, false);
    return CMD_DONE;
}
