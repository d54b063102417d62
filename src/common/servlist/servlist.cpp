#include "servlist/servlist.h"

#include "base/atomicfile.h"
#include "base/guard.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "servlist/secretstore.h"
#include "servlist/servlist-password.h"
#include "session/session.h"

#include <gio/gio.h>
#include <openssl/crypto.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

GSList *network_list = nullptr;

namespace
{

constexpr const char SERVLIST_FILE[] = "servlist.conf";
// An older save left under this name when it was interrupted.
constexpr const char SERVLIST_OLD_FILE[] = "servlist_.conf";
// A retry of a failed network waits this long when net_reconnect_delay is 0.
constexpr int MIN_CYCLE_DELAY_MS = 500;

// ---- the built-in networks -----------------------------------------------------------

// A row names a network (then optionally its favourite channel, charset,
// login method and one connect command) or adds a server to the network of
// the rows above; a row with neither ends the table.
struct default_row {
    const char *network = nullptr;
    const char *host = nullptr;
    const char *channel = nullptr;
    const char *charset = nullptr;
    int login_method = LOGIN_METHOD_DEFAULT;
    const char *command = nullptr;
};

constexpr int SASL = LOGIN_METHOD_SASL_PLAIN;

const default_row default_networks[] = {
    {.network = "2600net"},
    {.host = "irc.2600.net"},
    {.network = "AfterNET", .login_method = SASL},
    {.host = "irc.afternet.org"},
    {.network = "Aitvaras"},
    {.host = "irc.data.lt/+6668"},
    {.host = "irc.omicron.lt/+6668"},
    {.host = "irc.data.lt"},
    {.host = "irc.omicron.lt"},
    {.host = "irc.kis.lt"},
    {.network = "Anthrochat"},
    {.host = "irc.anthrochat.net"},
    {.network = "ARCNet"},
    {.host = "irc.arcnet-irc.org"},
    {.network = "AustNet"},
    {.host = "irc.austnet.org"},
    {.network = "AzzurraNet"},
    {.host = "irc.azzurra.chat"},
    {.network = "Canternet", .login_method = SASL},
    {.host = "irc.canternet.org"},
    {.network = "Chat4all"},
    {.host = "irc.chat4all.org"},
    {.network = "ChatJunkies"},
    {.host = "irc.chatjunkies.org"},
    {.network = "chatpat", .charset = "CP1251", .login_method = LOGIN_METHOD_CUSTOM, .command = "MSG NS IDENTIFY %p"},
    {.host = "irc.unibg.net"},
    {.host = "irc.chatpat.bg"},
    {.network = "ChatSpike", .login_method = SASL},
    {.host = "irc.chatspike.net"},
    {.network = "DALnet", .login_method = LOGIN_METHOD_NICKSERV_CMD},
    {.host = "irc.dal.net"},
    {.network = "DarkMyst", .login_method = SASL},
    {.host = "irc.darkmyst.org"},
    {.network = "darkscience", .login_method = SASL},
    {.host = "irc.darkscience.net"},
    {.host = "irc.drk.sc"},
    {.network = "DigitalIRC", .login_method = SASL},
    {.host = "irc.digitalirc.org"},
    {.network = "DosersNET", .login_method = SASL},
    {.host = "irc.dosers.net/+6697"},
    {.network = "EFnet", .login_method = SASL},
    {.host = "irc.efnet.org"},
    {.network = "EntropyNet", .login_method = SASL},
    {.host = "irc.entropynet.net"},
    {.network = "EsperNet", .login_method = SASL},
    {.host = "irc.esper.net"},
    {.network = "EUIrc"},
    {.host = "irc.euirc.net"},
    {.network = "EuropNet"},
    {.host = "irc.europnet.org"},
    {.network = "GameSurge"},
    {.host = "irc.gamesurge.net"},
    {.network = "GeekShed"},
    {.host = "irc.geekshed.net"},
    {.network = "German-Elite", .charset = "CP1252"},
    {.host = "irc.german-elite.net"},
    {.network = "GIMPNet"},
    {.host = "irc.gimp.org"},
    {.network = "hackint", .login_method = SASL},
    {.host = "irc.hackint.org"},
    {.host = "irc.eu.hackint.org"},
    {.network = "Hashmark"},
    {.host = "irc.hashmark.net"},
    {.network = "Interlinked", .login_method = SASL},
    {.host = "irc.interlinked.me"},
    {.network = "Irc-Nerds", .login_method = SASL},
    {.host = "irc.irc-nerds.net"},
    {.network = "IRC4Fun", .login_method = SASL},
    {.host = "irc.irc4fun.net"},
    {.network = "IRCNet"},
    {.host = "open.ircnet.net"},
    {.network = "Keyboard-Failure"},
    {.host = "irc.kbfail.net"},
    {.network = "Libera.Chat", .login_method = SASL},
    {.host = "irc.libera.chat"},
    {.network = "LibertaCasa", .login_method = SASL},
    {.host = "irc.liberta.casa"},
    {.network = "LibraIRC"},
    {.host = "irc.librairc.net"},
    {.network = "LinkNet"},
    {.host = "irc.link-net.org/+7000"},
    {.network = "MindForge", .login_method = SASL},
    {.host = "irc.mindforge.org"},
    {.network = "MIXXnet"},
    {.host = "irc.mixxnet.net"},
    {.network = "Newnet", .login_method = SASL},
    {.host = "irc.newnet.net"},
    {.host = "irc.eu.newnet.net"},
    {.host = "irc.us.newnet.net"},
    {.host = "irc.uk.newnet.net"},
    {.host = "irc.ca.newnet.net"},
    {.host = "irc.au.newnet.net"},
    {.network = "OFTC"},
    {.host = "irc.oftc.net"},
    {.network = "OzOrg"},
    {.host = "irc.oz.org"},
    {.network = "PIK"},
    {.host = "irc.krstarica.com"},
    {.network = "pirc.pl"},
    {.host = "irc.pirc.pl"},
    {.network = "PTNet"},
    {.host = "irc.ptnet.org"},
    {.host = "uevora.ptnet.org"},
    {.host = "claranet.ptnet.org"},
    {.host = "sonaquela.ptnet.org"},
    {.host = "uc.ptnet.org"},
    {.host = "ipg.ptnet.org"},
    {.network = "QuakeNet", .login_method = LOGIN_METHOD_CHALLENGE},
    {.host = "irc.quakenet.org"},
    {.network = "Rizon"},
    {.host = "irc.rizon.net"},
    {.network = "RusNet", .charset = "KOI8-R (Cyrillic)"},
    {.host = "irc.tomsk.net"},
    {.host = "irc.rusnet.org.ru"},
    {.network = "Serenity-IRC"},
    {.host = "irc.serenity-irc.net"},
    {.network = "SimosNap", .login_method = SASL},
    {.host = "irc.simosnap.com"},
    {.network = "SlashNET"},
    {.host = "irc.slashnet.org"},
    {.network = "Snoonet", .login_method = SASL},
    {.host = "irc.snoonet.org"},
    {.network = "Sohbet.Net", .charset = "CP1254"},
    {.host = "irc.sohbet.net"},
    {.network = "SorceryNet", .login_method = SASL},
    {.host = "irc.sorcery.net"},
    {.network = "SpotChat", .login_method = SASL},
    {.host = "irc.spotchat.org"},
    {.network = "Station51"},
    {.host = "irc.station51.net"},
    {.network = "SwiftIRC"},
    {.host = "irc.swiftirc.net"},
    {.network = "synIRC"},
    {.host = "irc.synirc.net"},
    {.network = "Techtronix", .login_method = SASL},
    {.host = "irc.techtronix.net"},
    {.network = "tilde.chat", .login_method = SASL},
    {.host = "irc.tilde.chat"},
    {.network = "TURLINet"},
    {.host = "irc.turli.net"},
    {.network = "TripSit", .login_method = SASL},
    {.host = "irc.tripsit.me"},
    {.network = "UnderNet", .login_method = LOGIN_METHOD_CUSTOM, .command = "MSG x@channels.undernet.org login %u %p"},
    {.host = "irc.undernet.org"},
    {.network = "Xertion", .login_method = SASL},
    {.host = "irc.xertion.org"},
    {.network = "Vorun", .login_method = SASL},
    {.host = "irc.vorun.net"},
    {.host = "irc.eu.vorun.net"},
    {.host = "irc.us.vorun.net"},
    {},
};

// The network the list window preselects after the built-in list is loaded.
constexpr const char PRESELECTED_DEFAULT_NETWORK[] = "Vorun";

// ---- small helpers -----------------------------------------------------------------------

bool has_text(const char *s)
{
    return s && s[0];
}

void replace_string(char **field, const char *value)
{
    g_free(*field);
    *field = value ? g_strdup(value) : nullptr;
}

void drop_password(ircnet *net)
{
    servlist_password_free(net->password);
    net->password = nullptr;
}

void free_network(ircnet *net)
{
    drop_password(net);
    g_free(net->name);
    g_free(net->nick);
    g_free(net->second_nick);
    g_free(net->user_name);
    g_free(net->real_name);
    g_free(net->charset);
    for (GSList *l = net->servers; l; l = l->next) {
        auto *entry = static_cast<ircserver *>(l->data);
        g_free(entry->address);
        g_free(entry);
    }
    g_slist_free(net->servers);
    g_slist_free_full(net->connect_commands, g_free);
    servlist_favchan_list_free(net->favorite_channels);
    g_free(net);
}

bool network_alive(const ircnet *net)
{
    return net && g_slist_find(network_list, net);
}

// The charset text as iconv knows it: the part before the first blank.
std::string charset_name(const char *charset)
{
    std::string_view text(charset ? charset : "");
    return std::string(text.substr(0, text.find(' ')));
}

void load_defaults(void)
{
    ircnet *net = nullptr;
    for (const default_row *row = default_networks; row->network || row->host; row++) {
        if (row->network) {
            net = servlist_net_add(row->network, false);
            if (row->channel)
                servlist_favchan_add(net, row->channel);
            net->charset = g_strdup(row->charset ? row->charset : SERVLIST_DEFAULT_CHARSET);
            if (row->login_method)
                net->login_method = row->login_method;
            if (row->command)
                servlist_command_add(net, row->command);
            if (strcmp(row->network, PRESELECTED_DEFAULT_NETWORK) == 0)
                prefs.gui_slist_select = g_slist_length(network_list) - 1;
        }
        if (row->host && net)
            servlist_server_add(net, row->host);
    }
}

// One line of servlist.conf: the first character is the key, the value
// starts at the third.
void load_line(char *line, ircnet **current)
{
    g_strchomp(line);
    const std::size_t len = strlen(line);
    if (!len)
        return;
    const char key = line[0];
    const char *value = len >= 2 ? line + 2 : line + len;

    if (key == 'N') {
        *current = servlist_net_add(value, false);
        return;
    }
    ircnet *net = *current;
    if (!net)
        return;
    switch (key) {
    case 'I':
        replace_string(&net->nick, value);
        break;
    case 'i':
        replace_string(&net->second_nick, value);
        break;
    case 'U':
        replace_string(&net->user_name, value);
        break;
    case 'R':
        replace_string(&net->real_name, value);
        break;
    case 'P':
        drop_password(net);
        net->password = g_strdup(value);
        break;
    case 'L':
        net->login_method = atoi(value);
        break;
    case 'F':
        net->flags = atoi(value);
        break;
    case 'D':
        net->next_server = atoi(value);
        break;
    case 'S':
        servlist_server_add(net, value);
        break;
    case 'C':
        servlist_command_add(net, value);
        break;
    case 'J':
        servlist_favchan_add(net, value);
        break;
    case 'E':
        replace_string(&net->charset, servlist_check_encoding(value) ? value : "UTF-8");
        break;
    default:
        break;
    }
}

// Reads the whole file at once, so a value of any length stays one line.
bool load_file(const std::string &path)
{
    char *text = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(path.c_str(), &text, &len, nullptr))
        return false;
    ircnet *current = nullptr;
    char *line = text;
    char *end = text + len;
    while (line < end) {
        char *nl = static_cast<char *>(memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (nl)
            *nl = '\0';
        load_line(line, &current);
        line = nl ? nl + 1 : end;
    }
    // The file holds passwords.
    OPENSSL_cleanse(text, len);
    g_free(text);
    return true;
}

// "K=value\n"; a line end inside a value would start a new key on reading,
// so the value is cut there.
void append_entry(std::string &out, char key, const char *value)
{
    out += key;
    out += '=';
    const char *v = value ? value : "";
    out.append(v, strcspn(v, "\r\n"));
    out += '\n';
}

std::size_t text_size(const char *s)
{
    return s ? strlen(s) + 3 : 0;
}

// Reserved up front, so that the buffer holding the passwords is never
// reallocated and left behind in freed memory.
std::size_t estimated_file_size(void)
{
    std::size_t n = 64;
    for (GSList *l = network_list; l; l = l->next) {
        auto *net = static_cast<ircnet *>(l->data);
        n += 96 + text_size(net->name) + text_size(net->nick) + text_size(net->second_nick) +
             text_size(net->user_name) + text_size(net->real_name) + text_size(net->password) + text_size(net->charset);
        for (GSList *s = net->servers; s; s = s->next)
            n += text_size(static_cast<ircserver *>(s->data)->address);
        for (GSList *c = net->connect_commands; c; c = c->next)
            n += text_size(static_cast<char *>(c->data));
        for (GSList *f = net->favorite_channels; f; f = f->next) {
            auto *fav = static_cast<favchannel *>(f->data);
            n += text_size(fav->name) + text_size(fav->key);
        }
    }
    return n;
}

void append_network(std::string &out, const ircnet *net)
{
    append_entry(out, 'N', net->name);
    if (net->nick)
        append_entry(out, 'I', net->nick);
    if (net->second_nick)
        append_entry(out, 'i', net->second_nick);
    if (net->user_name)
        append_entry(out, 'U', net->user_name);
    if (net->real_name)
        append_entry(out, 'R', net->real_name);
    if (net->password)
        append_entry(out, 'P', net->password);
    if (net->login_method)
        append_entry(out, 'L', std::to_string(net->login_method).c_str());
    if (net->charset)
        append_entry(out, 'E', net->charset);
    append_entry(out, 'F', std::to_string(net->flags).c_str());
    append_entry(out, 'D', std::to_string(net->next_server).c_str());
    for (GSList *l = net->servers; l; l = l->next)
        append_entry(out, 'S', static_cast<ircserver *>(l->data)->address);
    for (GSList *l = net->connect_commands; l; l = l->next)
        append_entry(out, 'C', static_cast<char *>(l->data));
    for (GSList *l = net->favorite_channels; l; l = l->next) {
        auto *fav = static_cast<favchannel *>(l->data);
        std::string value = fav->name ? fav->name : "";
        if (has_text(fav->key))
            value += std::string(",") + fav->key;
        append_entry(out, 'J', value.c_str());
        OPENSSL_cleanse(value.data(), value.size());
    }
    out += '\n';
}

void warn_unknown_charset(const ircnet *net)
{
    char *msg = g_strdup_printf(_("Warning: \"%s\" character set is unknown. No conversion will be applied for "
                                  "network %s."),
                                net->charset, net->name ? net->name : "");
    fe_message(msg, FE_MSG_WARN);
    g_free(msg);
}

// ---- connecting ------------------------------------------------------------------------------

void copy_favorites_to(server *serv, const ircnet *net)
{
    servlist_favchan_list_free(serv->autojoin_channels);
    serv->autojoin_channels = nullptr;
    for (GSList *l = net->favorite_channels; l; l = l->next)
        serv->autojoin_channels =
            g_slist_append(serv->autojoin_channels, servlist_favchan_copy(static_cast<favchannel *>(l->data)));
}

void set_server_password(session *sess, server *serv, const ircnet *net, const char *given)
{
    OPENSSL_cleanse(serv->password, sizeof serv->password);
    serv->password[0] = 0;
    if (has_text(given)) {
        safe_strcpy(serv->password, given, sizeof serv->password);
        return;
    }
    GError *error = nullptr;
    char *password = servlist_get_password(net, &error);
    if (password) {
        safe_strcpy(serv->password, password, sizeof serv->password);
        servlist_password_free(password);
    } else if (error) {
        PrintTextf(sess, "%s %s\n", error->message, _("Connecting without a password."));
        g_error_free(error);
    }
}

void connect_real(session *sess, ircnet *net, bool join, const char *given_password)
{
    if (!sess)
        sess = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
    if (!sess)
        return;
    server *serv = sess->server;

    const int count = static_cast<int>(g_slist_length(net->servers));
    if (!count)
        return;
    const int index = net->next_server >= 0 && net->next_server < count ? net->next_server : 0;
    auto *entry = static_cast<ircserver *>(g_slist_nth_data(net->servers, static_cast<guint>(index)));
    if (!entry || !has_text(entry->address))
        return;

    server_fill_her_up(serv);
    if (join) {
        sess->rejoin_channel[0] = 0;
        // Favourites belong to the network: another network's list must not
        // be joined here, so an empty list replaces it too.
        copy_favorites_to(serv, net);
    }
    serv->login_method = servlist_effective_login_method(net);
    set_server_password(sess, serv, net, given_password);

    if (net->flags & NET_USE_GLOBAL)
        safe_strcpy(serv->nick, prefs.irc_nick1, sizeof serv->nick);
    else if (net->nick)
        safe_strcpy(serv->nick, net->nick, sizeof serv->nick);

    serv->direct_only = !(net->flags & NET_USE_PROXY);
    serv->tls_enabled = (net->flags & NET_USE_TLS) != 0;
    serv->allow_invalid_cert = (net->flags & NET_ALLOW_INVALID) != 0;
    serv->network = net;

    std::string host = entry->address;
    int port = -1; // the connection picks the default port
    const std::size_t slash = host.rfind('/');
    if (slash != std::string::npos) {
        const char *p = host.c_str() + slash + 1;
        if (*p == '+') {
            serv->tls_enabled = TRUE;
            p++;
        }
        port = atoi(p);
        host.erase(slash);
    }
    serv->connect(serv, host.data(), port, FALSE);
    if (is_server(serv))
        server_set_encoding(serv, net->charset);
}

// A password question in flight: the session and network are checked again
// when the answer comes, since either may be gone by then.
struct password_question {
    session *sess; // null: connect in a new tab
    ircnet *net;
    bool join;
    bool sasl;
};

void ask_password(password_question *q);

bool question_still_valid(const password_question *q)
{
    return network_alive(q->net) && (!q->sess || is_session(q->sess));
}

void without_password_answered(int yes, void *data)
{
    auto *q = static_cast<password_question *>(data);
    if (!question_still_valid(q)) {
        delete q;
        return;
    }
    if (!yes) {
        ask_password(q);
        return;
    }
    connect_real(q->sess, q->net, q->join, nullptr);
    delete q;
}

void password_answered(int cancelled, char *text, void *data)
{
    auto *q = static_cast<password_question *>(data);
    if (!question_still_valid(q)) {
        delete q;
        return;
    }
    if (cancelled) {
        fe_serverlist_open(q->sess);
        delete q;
        return;
    }
    if (has_text(text)) {
        connect_real(q->sess, q->net, q->join, text);
        delete q;
        return;
    }
    const char *name = has_text(q->net->name) ? q->net->name : _("this network");
    char *title = g_strdup(q->sasl ? _("No SASL password") : _("No password"));
    char *prompt = g_strdup_printf(q->sasl ? _("Continue connecting to %s without a SASL password?")
                                           : _("Continue connecting to %s without a password?"),
                                   name);
    fe_get_bool(title, prompt, without_password_answered, q);
    g_free(prompt);
    g_free(title);
}

void ask_password(password_question *q)
{
    const char *name = has_text(q->net->name) ? q->net->name : _("this network");
    char *prompt = g_strdup_printf(q->sasl ? _("Enter SASL password for %s:") : _("Enter password for %s:"), name);
    fe_get_password(prompt, password_answered, q);
    g_free(prompt);
}

int cycle_step(server *serv)
{
    ircnet *net = serv->network;
    session *sess = serv->home_session;
    if (!network_alive(net) || !sess)
        return 0;
    PrintTextf(sess, _("Cycling to next server in %s...\n"), net->name ? net->name : "");
    servlist_connect(sess, net, true);
    return 0;
}

int cycle_due(void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    if (!is_server(serv))
        return 0;
    serv->reconnect_timer = 0;
    guarded("cycling servers", [&] { cycle_step(serv); });
    return 0;
}

// ---- the editor's password rules ------------------------------------------------------------

void set_message(GError **error, const char *message)
{
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, message);
}

// Removes the network's keyring entry when it has one.
bool forget_keyring_entry(const ircnet *net, GError **error)
{
    if (!(net->flags & NET_KEYRING))
        return true;
    return secretstore_delete_network_password(net->name, error);
}

} // namespace

// ---- loading, saving and start-up ----------------------------------------------------------------

void servlist_init(void)
{
    if (network_list)
        return;
    const std::string dir = get_xdir();
    const std::string path = dir + "/" + SERVLIST_FILE;
    const std::string old_path = dir + "/" + SERVLIST_OLD_FILE;
    if (g_file_test(old_path.c_str(), G_FILE_TEST_IS_REGULAR) && !g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
        (void)rename(old_path.c_str(), path.c_str());
    if (!load_file(path))
        load_defaults();
}

bool servlist_save(void)
{
    const std::string path = std::string(get_xdir()) + "/" + SERVLIST_FILE;
    struct stat st;
    const int mode = stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : 0600;

    std::string out;
    out.reserve(estimated_file_size());
    out += "v=" LUMENWICK_VERSION "\n\n";
    for (GSList *l = network_list; l; l = l->next) {
        auto *net = static_cast<ircnet *>(l->data);
        if (net->charset && !servlist_check_encoding(net->charset))
            warn_unknown_charset(net);
        append_network(out, net);
    }

    AtomicFile file(path, mode);
    const bool ok = file.ok() && file.write(out) && file.commit();
    OPENSSL_cleanse(out.data(), out.size());
    if (!ok) {
        char *msg = g_strdup_printf(_("Could not save the network list to %s: %s"), path.c_str(),
                                    g_strerror(file.error() ? file.error() : EIO));
        fe_message(msg, FE_MSG_ERROR);
        g_free(msg);
    }
    return ok;
}

void servlist_cleanup(void)
{
    while (network_list)
        servlist_net_remove(static_cast<ircnet *>(network_list->data));
}

bool servlist_have_auto(void)
{
    for (GSList *l = network_list; l; l = l->next) {
        if (static_cast<ircnet *>(l->data)->flags & NET_AUTO_CONNECT)
            return true;
    }
    return false;
}

int servlist_auto_connect(void *data)
{
    auto *sess = static_cast<session *>(data);
    for (GSList *l = network_list; l; l = l->next) {
        auto *net = static_cast<ircnet *>(l->data);
        if (!(net->flags & NET_AUTO_CONNECT))
            continue;
        servlist_connect(sess, net, true);
        // One connection per tab: the next network gets a tab of its own.
        sess = nullptr;
    }
    // An idle callback: 0 keeps it from running again.
    return 0;
}

// ---- connecting ----------------------------------------------------------------------------------

void servlist_connect(session *sess, ircnet *net, bool join)
{
    if (!net)
        return;
    const int method = servlist_effective_login_method(net);
    if ((net->flags & NET_ASK_PASSWORD) && servlist_login_uses_password(method)) {
        ask_password(new password_question{sess, net, join, servlist_login_is_sasl_password(method)});
        return;
    }
    connect_real(sess, net, join, nullptr);
}

int servlist_connect_by_netname(session *sess, const char *network, bool join)
{
    ircnet *net = servlist_net_find(network, nullptr, g_ascii_strcasecmp);
    if (!net)
        return 0;
    servlist_connect(sess, net, join);
    return 1;
}

bool servlist_cycle(server *serv)
{
    ircnet *net = serv ? serv->network : nullptr;
    if (!net)
        return false;
    const int count = static_cast<int>(g_slist_length(net->servers));
    if (!count)
        return false;
    if (net->flags & NET_CYCLE) {
        const int current = net->next_server >= 0 && net->next_server < count ? net->next_server : 0;
        net->next_server = (current + 1) % count;
    }
    const int delay = prefs.net_reconnect_delay < 1 ? MIN_CYCLE_DELAY_MS : prefs.net_reconnect_delay * 1000;
    if (serv->reconnect_timer)
        fe_timeout_remove(serv->reconnect_timer);
    serv->reconnect_timer = fe_timeout_add(delay, cycle_due, serv);
    return true;
}

char *servlist_get_password(const ircnet *net, GError **error)
{
    if (!net)
        return nullptr;
    if ((net->flags & NET_KEYRING) && has_text(net->name)) {
        GError *local = nullptr;
        char *password = secretstore_get_network_password(net->name, &local);
        if (local) {
            g_set_error(error, G_IO_ERROR, G_IO_ERROR_FAILED,
                        _("Could not read the password of %s from the system keyring: %s"), net->name, local->message);
            g_error_free(local);
        }
        return password;
    }
    if (!net->password)
        return nullptr;
    char *password = servlist_password_decrypt_for_storage(net->password);
    if (!password && servlist_password_is_encrypted(net->password))
        g_set_error(error, G_IO_ERROR, G_IO_ERROR_FAILED,
                    _("The stored password of %s could not be decrypted (it was saved by another user, on another "
                      "machine or with another configuration directory)."),
                    has_text(net->name) ? net->name : _("this network"));
    return password;
}

int servlist_effective_login_method(const ircnet *net)
{
    return net->login_method ? net->login_method : LOGIN_METHOD_SERVER_PASSWORD;
}

bool servlist_login_uses_password(int method)
{
    return method != LOGIN_METHOD_SASL_EXTERNAL;
}

bool servlist_login_is_sasl_password(int method)
{
    return method == LOGIN_METHOD_SASL_PLAIN || method == LOGIN_METHOD_SCRAM_SHA_1 ||
           method == LOGIN_METHOD_SCRAM_SHA_256 || method == LOGIN_METHOD_SCRAM_SHA_512;
}

// ---- what a connected server reads of its network ----------------------------------------------

const char *servlist_network_name(const ircnet *net)
{
    return net ? net->name : nullptr;
}

bool servlist_asks_password(server *serv)
{
    return serv && serv->network && (serv->network->flags & NET_ASK_PASSWORD);
}

const char *servlist_network_username(const ircnet *net)
{
    if (!net || (net->flags & NET_USE_GLOBAL) || !has_text(net->user_name))
        return nullptr;
    return net->user_name;
}

const char *servlist_network_realname(const ircnet *net)
{
    if (!net || (net->flags & NET_USE_GLOBAL) || !has_text(net->real_name))
        return nullptr;
    return net->real_name;
}

bool servlist_check_encoding(const char *charset)
{
    const std::string name = charset_name(charset);
    if (name.empty())
        return false;
    const GIConv cd = g_iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<GIConv>(-1))
        return false;
    g_iconv_close(cd);
    return true;
}

bool joinlist_is_in_list(session *sess, const char *channel)
{
    if (!sess || !sess->server || !channel)
        return false;
    return servlist_favchan_find(sess->server->network, channel, nullptr) != nullptr;
}

// ---- networks ----------------------------------------------------------------------------------

ircnet *servlist_net_add(const char *name, bool prepend)
{
    auto *net = static_cast<ircnet *>(g_malloc0(sizeof(ircnet)));
    net->name = g_strdup(name);
    net->flags = NET_DEFAULT_FLAGS;
    network_list = prepend ? g_slist_prepend(network_list, net) : g_slist_append(network_list, net);
    return net;
}

void servlist_net_remove(ircnet *net)
{
    if (!net)
        return;
    network_list = g_slist_remove(network_list, net);
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (serv->network == net)
            serv->network = nullptr;
    }
    free_network(net);
}

ircnet *servlist_net_find(const char *name, int *pos, int (*cmpfunc)(const char *, const char *))
{
    if (!name)
        return nullptr;
    int i = 0;
    for (GSList *l = network_list; l; l = l->next, i++) {
        auto *net = static_cast<ircnet *>(l->data);
        if (net->name && cmpfunc(net->name, name) == 0) {
            if (pos)
                *pos = i;
            return net;
        }
    }
    return nullptr;
}

ircnet *servlist_net_find_from_server(const char *server_name)
{
    if (!has_text(server_name))
        return nullptr;
    const std::string_view wanted(server_name);
    for (GSList *l = network_list; l; l = l->next) {
        auto *net = static_cast<ircnet *>(l->data);
        for (GSList *s = net->servers; s; s = s->next) {
            const char *address = static_cast<ircserver *>(s->data)->address;
            const std::string_view host = std::string_view(address).substr(0, strcspn(address, "/"));
            if (host.size() == wanted.size() && g_ascii_strncasecmp(host.data(), server_name, host.size()) == 0)
                return net;
        }
    }
    return nullptr;
}

bool servlist_net_rename(ircnet *net, const char *name, GError **error)
{
    if (!net)
        return false;
    if (g_strcmp0(net->name, name) == 0)
        return true;
    if (net->flags & NET_KEYRING) {
        // The keyring entry is keyed by the name: it moves along, or the
        // network would lose its password under the new name.
        GError *local = nullptr;
        char *password = secretstore_get_network_password(net->name, &local);
        bool moved = !local;
        if (moved && password)
            moved = secretstore_set_network_password(name, password, &local);
        servlist_password_free(password);
        if (moved && password)
            moved = secretstore_delete_network_password(net->name, &local);
        if (!moved) {
            g_set_error(error, G_IO_ERROR, G_IO_ERROR_FAILED,
                        _("Could not move the keyring password of %s to its new name: %s"), net->name ? net->name : "",
                        local ? local->message : "");
            g_clear_error(&local);
            return false;
        }
    }
    replace_string(&net->name, name);
    return true;
}

bool servlist_net_move(ircnet *net, int delta)
{
    const int index = g_slist_index(network_list, net);
    const int target = index + delta;
    if (index < 0 || target < 0 || target >= static_cast<int>(g_slist_length(network_list)))
        return false;
    network_list = g_slist_remove(network_list, net);
    network_list = g_slist_insert(network_list, net, target);
    return true;
}

void servlist_sort(void)
{
    network_list = g_slist_sort(network_list, [](gconstpointer a, gconstpointer b) {
        const char *na = static_cast<const ircnet *>(a)->name;
        const char *nb = static_cast<const ircnet *>(b)->name;
        char *fa = g_utf8_casefold(na ? na : "", -1);
        char *fb = g_utf8_casefold(nb ? nb : "", -1);
        const int result = g_utf8_collate(fa, fb);
        g_free(fa);
        g_free(fb);
        return result;
    });
}

const int servlist_login_method_order[11] = {
    LOGIN_METHOD_DEFAULT,       LOGIN_METHOD_SASL_PLAIN,    LOGIN_METHOD_SASL_EXTERNAL,   LOGIN_METHOD_SCRAM_SHA_1,
    LOGIN_METHOD_SCRAM_SHA_256, LOGIN_METHOD_SCRAM_SHA_512, LOGIN_METHOD_SERVER_PASSWORD, LOGIN_METHOD_NICKSERV_MSG,
    LOGIN_METHOD_NICKSERV_CMD,  LOGIN_METHOD_CHALLENGE,     LOGIN_METHOD_CUSTOM,
};

const char *servlist_login_method_label(int method)
{
    switch (method) {
    case LOGIN_METHOD_NICKSERV_MSG:
        return _("NickServ (/MSG NickServ + password)");
    case LOGIN_METHOD_NICKSERV_CMD:
        return _("NickServ (/NICKSERV + password)");
    case LOGIN_METHOD_SASL_PLAIN:
        return _("SASL PLAIN (username + password)");
    case LOGIN_METHOD_SERVER_PASSWORD:
        return _("Server password (/PASS password)");
    case LOGIN_METHOD_CHALLENGE:
        return _("Challenge Auth (username + password)");
    case LOGIN_METHOD_CUSTOM:
        return _("Custom... (connect commands)");
    case LOGIN_METHOD_SASL_EXTERNAL:
        return _("SASL EXTERNAL (cert)");
    case LOGIN_METHOD_SCRAM_SHA_1:
        return _("SASL SCRAM-SHA-1");
    case LOGIN_METHOD_SCRAM_SHA_256:
        return _("SASL SCRAM-SHA-256");
    case LOGIN_METHOD_SCRAM_SHA_512:
        return _("SASL SCRAM-SHA-512");
    default:
        return _("Default");
    }
}

const char *const servlist_charset_choices[] = {
    "UTF-8 (Unicode)",
    "CP1252 (Windows-1252)",
    "ISO-8859-15 (Western Europe)",
    "ISO-8859-2 (Central Europe)",
    "ISO-8859-7 (Greek)",
    "ISO-8859-8 (Hebrew)",
    "ISO-8859-9 (Turkish)",
    "ISO-2022-JP (Japanese)",
    "SJIS (Japanese)",
    "CP949 (Korean)",
    "KOI8-R (Cyrillic)",
    "CP1251 (Cyrillic)",
    "CP1256 (Arabic)",
    "CP1257 (Baltic)",
    "GB18030 (Chinese)",
    "TIS-620 (Thai)",
    nullptr,
};

session *servlist_session_for_connect(const ircnet *net, session *opened_from)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server->network == net) {
            // A connected one keeps its connection: the network gets a new tab.
            if (!sess->server->connected)
                return sess;
            break;
        }
    }
    if (is_session(opened_from) && !opened_from->server->connected && opened_from->type == SESS_SERVER &&
        !opened_from->channel[0])
        return opened_from;
    return nullptr;
}

const char *servlist_identity_problem(const char *nick1, const char *nick2, const char *user, int *field)
{
    int which = 0;
    const char *problem = nullptr;
    if (!has_text(nick1) || !has_text(nick2)) {
        which = has_text(nick1) ? 2 : 1;
        problem = _("You cannot have an empty nick name.");
    } else if (rfc_casecmp(nick1, nick2) == 0) {
        which = 2;
        problem = _("You must have two unique nick names.");
    } else if (!has_text(user)) {
        which = 3;
        problem = _("User name cannot be left blank.");
    }
    if (field)
        *field = which;
    return problem;
}

// ---- servers, connect commands and favourite channels ----------------------------------------------

ircserver *servlist_server_add(ircnet *net, const char *address)
{
    auto *entry = static_cast<ircserver *>(g_malloc0(sizeof(ircserver)));
    entry->address = g_strdup(address ? address : "");
    net->servers = g_slist_append(net->servers, entry);
    return entry;
}

void servlist_server_remove(ircnet *net, ircserver *entry)
{
    if (!g_slist_find(net->servers, entry))
        return;
    net->servers = g_slist_remove(net->servers, entry);
    g_free(entry->address);
    g_free(entry);
}

ircserver *servlist_server_find(ircnet *net, const char *address, int *pos)
{
    int i = 0;
    for (GSList *l = net ? net->servers : nullptr; l; l = l->next, i++) {
        auto *entry = static_cast<ircserver *>(l->data);
        if (address && strcmp(entry->address, address) == 0) {
            if (pos)
                *pos = i;
            return entry;
        }
    }
    return nullptr;
}

char *servlist_command_add(ircnet *net, const char *command)
{
    char *copy = g_strdup(command ? command : "");
    net->connect_commands = g_slist_append(net->connect_commands, copy);
    return copy;
}

void servlist_command_remove(ircnet *net, char *command)
{
    if (!g_slist_find(net->connect_commands, command))
        return;
    net->connect_commands = g_slist_remove(net->connect_commands, command);
    servlist_command_free(command);
}

char *servlist_command_find(ircnet *net, const char *command, int *pos)
{
    int i = 0;
    for (GSList *l = net ? net->connect_commands : nullptr; l; l = l->next, i++) {
        auto *entry = static_cast<char *>(l->data);
        if (command && strcmp(entry, command) == 0) {
            if (pos)
                *pos = i;
            return entry;
        }
    }
    return nullptr;
}

void servlist_command_free(char *command)
{
    g_free(command);
}

favchannel *servlist_favchan_add(ircnet *net, const char *channel)
{
    const char *text = channel ? channel : "";
    const char *comma = strchr(text, ',');
    char *name = comma ? g_strndup(text, static_cast<gsize>(comma - text)) : g_strdup(text);
    net->favorite_channels = servlist_favchan_listadd(net->favorite_channels, name, comma ? comma + 1 : nullptr);
    g_free(name);
    return static_cast<favchannel *>(g_slist_last(net->favorite_channels)->data);
}

GSList *servlist_favchan_listadd(GSList *list, const char *name, const char *key)
{
    auto *fav = static_cast<favchannel *>(g_malloc0(sizeof(favchannel)));
    fav->name = g_strdup(name ? name : "");
    fav->key = has_text(key) ? g_strdup(key) : nullptr;
    return g_slist_append(list, fav);
}

favchannel *servlist_favchan_find(ircnet *net, const char *name, int *pos)
{
    if (!net || !name)
        return nullptr;
    int i = 0;
    for (GSList *l = net->favorite_channels; l; l = l->next, i++) {
        auto *fav = static_cast<favchannel *>(l->data);
        if (g_ascii_strcasecmp(fav->name, name) == 0) {
            if (pos)
                *pos = i;
            return fav;
        }
    }
    return nullptr;
}

void servlist_favchan_remove(ircnet *net, favchannel *fav)
{
    if (!g_slist_find(net->favorite_channels, fav))
        return;
    net->favorite_channels = g_slist_remove(net->favorite_channels, fav);
    servlist_favchan_free(fav);
}

void servlist_favchan_free(favchannel *fav)
{
    if (!fav)
        return;
    g_free(fav->name);
    if (fav->key) {
        OPENSSL_cleanse(fav->key, strlen(fav->key));
        g_free(fav->key);
    }
    g_free(fav);
}

favchannel *servlist_favchan_copy(const favchannel *fav)
{
    auto *copy = static_cast<favchannel *>(g_malloc0(sizeof(favchannel)));
    copy->name = g_strdup(fav->name);
    copy->key = g_strdup(fav->key);
    return copy;
}

void servlist_favchan_list_free(GSList *list)
{
    for (GSList *l = list; l; l = l->next)
        servlist_favchan_free(static_cast<favchannel *>(l->data));
    g_slist_free(list);
}

bool servlist_autojoinedit(ircnet *net, const char *channel, bool add)
{
    if (!net || !has_text(channel))
        return false;
    const std::string_view text(channel);
    const std::string name(text.substr(0, text.find(',')));
    favchannel *existing = servlist_favchan_find(net, name.c_str(), nullptr);
    if (add) {
        // Already a favourite: a key given now replaces the old one.
        if (existing)
            servlist_favchan_remove(net, existing);
        servlist_favchan_add(net, channel);
    } else {
        if (!existing)
            return false;
        servlist_favchan_remove(net, existing);
    }
    return servlist_save();
}

// ---- passwords as the network editor settles them ----------------------------------------------------

bool servlist_net_store_password(ircnet *net, const servlist_password_choice &choice, GError **error)
{
    if (choice.ask_on_connect) {
        if (!forget_keyring_entry(net, error))
            return false;
        drop_password(net);
        net->flags &= ~NET_KEYRING;
        net->flags |= NET_ASK_PASSWORD;
        return true;
    }
    net->flags &= ~NET_ASK_PASSWORD;
    const bool in_keyring = (net->flags & NET_KEYRING) != 0;
    if (!choice.edited && choice.use_keyring == in_keyring)
        return true;

    char *password = nullptr;
    if (choice.edited) {
        password = g_strdup(choice.password ? choice.password : "");
    } else {
        GError *local = nullptr;
        password = servlist_get_password(net, &local);
        if (local) {
            g_propagate_error(error, local);
            return false;
        }
    }

    bool ok = true;
    if (choice.use_keyring) {
        if (!has_text(password)) {
            ok = secretstore_delete_network_password(net->name, error);
        } else if (!secretstore_set_network_password(net->name, password, nullptr)) {
            set_message(error, _("No system keyring is available. Lumenwick can save this password using local "
                                 "encrypted fallback storage, but it is less protected than your desktop keyring."));
            ok = false;
        }
        if (ok) {
            net->flags |= NET_KEYRING;
            drop_password(net);
        }
    } else {
        char *encrypted = nullptr;
        if (has_text(password)) {
            encrypted = servlist_password_encrypt_for_storage(password);
            if (!encrypted) {
                set_message(error, _("Could not encrypt this password."));
                ok = false;
            }
        }
        if (ok && !forget_keyring_entry(net, error))
            ok = false;
        if (ok) {
            net->flags &= ~NET_KEYRING;
            drop_password(net);
            net->password = encrypted;
        } else {
            g_free(encrypted);
        }
    }
    servlist_password_free(password);
    return ok;
}

bool servlist_net_encrypt_password(ircnet *net, GError **error)
{
    if (!net->password || (net->flags & NET_KEYRING) || servlist_password_is_encrypted(net->password))
        return false;
    char *encrypted = servlist_password_encrypt_for_storage(net->password);
    if (!encrypted) {
        set_message(error, _("Could not encrypt this password."));
        return false;
    }
    drop_password(net);
    net->password = encrypted;
    return servlist_save();
}

bool servlist_net_move_password_to_keyring(ircnet *net, GError **error)
{
    if (!has_text(net->name) || !has_text(net->password) || (net->flags & NET_KEYRING))
        return false;
    char *password = servlist_password_decrypt_for_storage(net->password);
    const bool stored = password && secretstore_set_network_password(net->name, password, nullptr);
    servlist_password_free(password);
    if (!stored) {
        set_message(error, _("Could not move this password into the system keyring."));
        return false;
    }
    drop_password(net);
    net->flags |= NET_KEYRING;
    return servlist_save();
}
