// Running typed text and command lines: word splitting, the built-in command
// table and the messages for commands that cannot run.

#include "outbound.h"

#include "cfgfiles.h"
#include "chanopt.h"
#include "fe.h"
#include "plugin.h"
#include "server.h"
#include "servlist.h"
#include "servlist-password.h"
#include "session.h"
#include "text.h"
#include "util.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

int command_nesting;

// The word arrays handed to handlers: slot 0 and unused slots are "".
struct command_words {
    std::string words[PDIWORDS];
    std::string rest[PDIWORDS];
    char *word[PDIWORDS + 1];
    char *word_eol[PDIWORDS + 1];

    void publish()
    {
        for (int i = 0; i < PDIWORDS; i++) {
            word[i] = words[i].data();
            word_eol[i] = rest[i].data();
        }
        word[PDIWORDS] = word_eol[PDIWORDS] = const_cast<char *>("");
    }
};

// Splits a command line. With quotes, a double quote starts or ends a part
// in which spaces do not separate words, and a doubled quote stands for one.
void split_words(const char *line, bool quotes, command_words &out)
{
    for (int i = 0; i < PDIWORDS; i++) {
        out.words[i].clear();
        out.rest[i].clear();
    }
    const std::size_t len = strlen(line);
    std::size_t i = 0;
    while (i < len && line[i] == ' ')
        i++;
    for (int slot = 1; slot < PDIWORDS && i < len; slot++) {
        out.rest[slot].assign(line + i);
        std::string &w = out.words[slot];
        bool quoted = false;
        while (i < len) {
            const char c = line[i];
            if (quotes && c == '"') {
                if (line[i + 1] == '"') {
                    w += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                i++;
                continue;
            }
            if (c == ' ' && !quoted)
                break;
            w += c;
            i++;
        }
        while (i < len && line[i] == ' ')
            i++;
    }
    out.publish();
}

int cmd_set_entry(session *sess, char *tbuf, char *word[], char *word_eol[])
{
    return cmd_set(sess, tbuf, word, word_eol);
}

// ---- connecting -------------------------------------------------------------

// What /SERVER and the IRC URLs ask for.
struct server_target {
    std::string host;
    int port = 0;
    bool tls = true;  // a bare /SERVER uses TLS unless told otherwise
    bool verify = true;
    bool no_proxy = false;
    std::string channel;
    std::string key;
    std::string password;
};

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
        std::string port = hostport.substr(colon + 1);
        if (!port.empty() && (port[0] == '+' || port[0] == '-')) {
            target.tls = port[0] == '+';
            port.erase(0, 1);
        }
        target.port = atoi(port.c_str());
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
        target.tls = chosen_tls;  // an explicit option wins over the URL's scheme
    i++;
    if (word[i][0]) {
        const char *port = word[i];
        if (port[0] == '+' || port[0] == '-') {
            target.tls = port[0] == '+';
            port++;
        }
        target.port = atoi(port);
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
    word[i + 2][0] = 0;  // not a password
    return cmd_server(sess, tbuf, word, word_eol);
}

int cmd_newserver(session *, char *tbuf, char *word[], char *word_eol[])
{
    if (!g_ascii_strcasecmp(word[2], "-noconnect")) {
        if (!word[3][0])
            return CMD_WRONG_USAGE;
        session *tab = new_ircwindow(nullptr, word[3], SESS_SERVER, 0);
        if (tab)
            safe_strcpy(tab->server->hostname, word[3], sizeof tab->server->hostname);
        return CMD_DONE;
    }
    session *tab = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
    if (!tab)
        return CMD_DONE;
    return cmd_server(tab, tbuf, word, word_eol);
}

int cmd_discon(session *sess, char *, char *[], char *word_eol[])
{
    if (word_eol[2][0]) {
        g_free(sess->quit_reason);
        sess->quit_reason = g_strdup(word_eol[2]);
    }
    if (sess->server->disconnect)
        sess->server->disconnect(sess, TRUE, -1);
    g_free(sess->quit_reason);
    sess->quit_reason = nullptr;
    return CMD_DONE;
}

void reconnect_server(server *serv)
{
    // The command asks for now, whatever the configured delay.
    const int delay = prefs.net_reconnect_delay;
    prefs.net_reconnect_delay = 0;
    if (serv->auto_reconnect && serv->home_session)
        serv->auto_reconnect(serv, TRUE, -1);
    prefs.net_reconnect_delay = delay;
}

int cmd_reconnect(session *sess, char *, char *word[], char *[])
{
    server *serv = sess->server;
    if (!g_ascii_strcasecmp(word[2], "ALL")) {
        for (GSList *l = serv_list; l; l = l->next) {
            auto *s = static_cast<server *>(l->data);
            if (s->connected)
                reconnect_server(s);
        }
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
        if (word[i + 1][0])
            serv->port = atoi(word[i + 1]);
        if (word[i + 2][0])
            safe_strcpy(serv->password, word[i + 2], sizeof serv->password);
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

int cmd_quote(session *sess, char *, char *[], char *word_eol[])
{
    if (!word_eol[2][0])
        return CMD_WRONG_USAGE;
    sess->server->p_raw(sess->server, word_eol[2]);
    return CMD_DONE;
}

int cmd_flushq(session *sess, char *, char *[], char *[])
{
    server *serv = sess->server;
    PrintTextf(sess, _("Flushing server send queue, %d bytes.\n"), serv->queued_bytes);
    if (serv->flush_queue)
        serv->flush_queue(serv);
    return CMD_DONE;
}

// ---- CTCP -------------------------------------------------------------------

int cmd_ctcp(session *sess, char *, char *word[], char *word_eol[])
{
    if (!word[2][0] || !word_eol[3][0])
        return CMD_WRONG_USAGE;
    // The CTCP command itself is upper case; its arguments stay as typed.
    std::string message(word_eol[3]);
    const std::size_t end = message.find(' ');
    for (std::size_t i = 0; i < (end == std::string::npos ? message.size() : end); i++)
        message[i] = g_ascii_toupper(message[i]);
    sess->server->p_ctcp(sess->server, word[2], message.c_str());
    text_emit(XP_TE_CTCP_SEND, sess, word[2], message.c_str(), nullptr, nullptr, 0);
    return CMD_DONE;
}

int cmd_nctcp(session *sess, char *, char *word[], char *word_eol[])
{
    if (!word[2][0] || !word_eol[3][0])
        return CMD_WRONG_USAGE;
    sess->server->p_nctcp(sess->server, word[2], word_eol[3]);
    return CMD_DONE;
}

int compare_command_name(const void *key, const void *row)
{
    return g_ascii_strcasecmp(static_cast<const char *>(key), static_cast<const commands *>(row)->name);
}

}  // namespace

// Sorted by name (ASCII, case-insensitive): looked up by binary search.
const commands xc_cmds[] = {
    {"CHANOPT", chanopt_command, 0, 0, 1,
     N_("CHANOPT [-quiet] <variable> [<value>], shows or sets this channel's options; <variable> may be a pattern, "
        "<value> is ON, OFF or anything else to follow the global setting")},
    {"CTCP", cmd_ctcp, 1, 0, 1, N_("CTCP <nick> <message>, send the CTCP message to nick, common messages are VERSION and USERINFO")},
    {"DISCON", cmd_discon, 0, 0, 1, N_("DISCON, Disconnects from server")},
    {"FLUSHQ", cmd_flushq, 0, 0, 1, N_("FLUSHQ, flushes the current server's send queue")},
    {"NCTCP", cmd_nctcp, 1, 0, 1, N_("NCTCP <nick> <message>, Sends a CTCP notice (reply) to nick")},
    {"NEWSERVER", cmd_newserver, 0, 0, 1,
     N_("NEWSERVER [-noconnect] <hostname> [<port>], connects to a new server in a new tab")},
    {"QUOTE", cmd_quote, 1, 0, 1, N_("QUOTE <text>, sends the text in raw form to the server")},
    {"RECONNECT", cmd_reconnect, 0, 0, 1,
     N_("RECONNECT [-ssl|-ssl-noverify] [<host>] [<port>] [<password>], Can be called just as /RECONNECT to "
        "reconnect to the current server or with /RECONNECT ALL to reconnect to all the open servers")},
    {"SERVCHAN", cmd_servchan, 0, 0, 1,
     N_("SERVCHAN [-noproxy] [-insecure|-ssl|-ssl-noverify] <host> <port> <channel>, connects and joins a channel "
        "using ssl unless otherwise specified")},
    {"SERVER", cmd_server, 0, 0, 1,
     N_("SERVER [-noproxy] [-insecure|-ssl|-ssl-noverify] <host> [<port>] [<password>], connects to a server using "
        "ssl unless otherwise specified, the default port is 6697 for ssl connections and 6667 for insecure "
        "connections")},
    {"SET", cmd_set_entry, 0, 0, 1, N_("SET [-e] [-off|-on] [-quiet] <variable> [<value>]")},
};
const int xc_cmds_count = sizeof xc_cmds / sizeof xc_cmds[0];

const commands *find_internal_command(const char *name)
{
    return static_cast<const commands *>(
        bsearch(name, xc_cmds, xc_cmds_count, sizeof xc_cmds[0], compare_command_name));
}

void notc_msg(session *sess) { PrintText(sess, _("Not connected. Try /server <host> [<port>]\n")); }

void help(session *sess, char *tbuf, const char *helpcmd, bool quiet)
{
    (void)tbuf;
    const commands *cmd = find_internal_command(helpcmd);
    if (cmd) {
        if (cmd->help)
            PrintTextf(sess, _("Usage: %s\n"), _(cmd->help));
        else if (!quiet)
            PrintText(sess, _("\nNo help available on that command.\n"));
        return;
    }
    if (!quiet)
        PrintText(sess, _("No such command.\n"));
}

bool handle_command(session *sess, char *cmd, bool check_spch)
{
    (void)check_spch;  // percent codes arrive with the full command language
    if (command_nesting >= MAX_COMMAND_NESTING) {
        fe_message(_("Too many recursive usercommands, aborting."), FE_MSG_ERROR);
        return true;
    }
    command_nesting++;

    auto words = std::make_unique<command_words>();
    split_words(cmd, true, *words);
    const commands *int_cmd = find_internal_command(words->word[1]);
    if (int_cmd && !int_cmd->handle_quotes)
        split_words(cmd, false, *words);

    bool result = true;
    if (plugin_emit_command(sess, words->word[1], words->word, words->word_eol) || !is_session(sess)) {
        command_nesting--;
        return true;
    }

    if (int_cmd) {
        if (int_cmd->needserver && !sess->server->connected) {
            notc_msg(sess);
        } else if (int_cmd->needchannel && !sess->channel[0]) {
            PrintText(sess, _("No channel joined. Try /join #<channel>\n"));
        } else {
            auto tbuf = std::make_unique<char[]>(CMD_BUFFER_SIZE);
            switch (int_cmd->callback(sess, tbuf.get(), words->word, words->word_eol)) {
            case CMD_WRONG_USAGE:
                help(sess, tbuf.get(), words->word[1], true);
                break;
            case CMD_STOP:
                result = false;
                break;
            default:
                break;
            }
        }
    } else if (sess->server->connected && sess->server->p_raw) {
        sess->server->p_raw(sess->server, cmd);
    } else {
        PrintTextf(sess, _("Unknown Command %s. Try /help\n"), words->word[1]);
    }

    command_nesting--;
    return result;
}

void handle_multiline(session *sess, char *cmd, int history, int nocommand)
{
    (void)history;  // the input history belongs to the input line
    const char cmdchar = prefs.input_command_char[0] ? prefs.input_command_char[0] : '/';
    gchar **lines = g_strsplit_set(cmd, "\r\n", -1);
    for (gchar **l = lines; *l; l++) {
        char *line = *l;
        if (!line[0])
            continue;
        if (!is_session(sess))
            break;
        if (!nocommand && line[0] == cmdchar && line[1] != cmdchar) {
            const char *space = strchr(line, ' ');
            const char *second = strchr(line + 1, cmdchar);
            if (!second || (space && second > space)) {
                if (!handle_command(sess, line + 1, true))
                    break;
                continue;
            }
        }
        // Saying text to a channel arrives with the message commands; until then
        // there is no channel to say it in.
        PrintText(sess, _("No channel joined. Try /join #<channel>\n"));
    }
    g_strfreev(lines);
}

int load_perform_file(session *sess, const char *file)
{
    FILE *fh = lumenwick_fopen_file(file, "r", 0);
    if (!fh)
        return 0;
    const char cmdchar = prefs.input_command_char[0] ? prefs.input_command_char[0] : '/';
    char buf[1024];
    while (fgets(buf, sizeof buf, fh)) {
        // An overlong line is cut, not run in pieces as several commands.
        if (!strchr(buf, '\n')) {
            int c;
            while ((c = fgetc(fh)) != EOF && c != '\n') {
            }
        }
        buf[strcspn(buf, "\r\n")] = 0;
        if (!buf[0])
            continue;
        char *line = buf[0] == cmdchar ? buf + 1 : buf;
        if (!is_session(sess))
            break;
        handle_command(sess, line, true);
    }
    fclose(fh);
    return 1;
}
