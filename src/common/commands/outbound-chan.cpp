// Bans, mass modes, the user list, lookups and the connection's charset.

#include "commands/outbound-cmds.h"
#include "commands/outbound.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/modes.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace
{

// Ban types: 0 *!*@*.domain, 1 *!*@host, 2 *!*user@*.domain, 3 *!*user@host.
inline constexpr int BAN_TYPE_MIN = 0;
inline constexpr int BAN_TYPE_MAX = 3;
// Idents this long were set by the user on purpose (no ident daemon would
// hand them out), so the ban keeps them whole instead of wildcarding them.
inline constexpr std::size_t KEEP_WHOLE_USERNAME = 10;

// A ban type typed by the user: one or more decimal digits, nothing else.
// -1 when the text is not a number in range.
int parse_ban_type(const char *text)
{
    if (!text || !text[0])
        return -1;
    long value = 0;
    for (const char *p = text; *p; p++) {
        if (!g_ascii_isdigit(*p))
            return -1;
        value = value * 10 + (*p - '0');
        if (value > BAN_TYPE_MAX)
            return -1;
    }
    return static_cast<int>(value);
}

bool is_ipv4_address(const std::string &host)
{
    in_addr addr{};
    return inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

// The user part of a ban: identd-less markers become a wildcard, short
// idents get one in front so that "~bob" and "bob" are caught alike.
std::string ban_username(const std::string &username)
{
    if (!username.empty() && strchr("+-=^~", username[0]))
        return "*" + username.substr(1);
    if (username.size() >= KEEP_WHOLE_USERNAME)
        return username;
    return "*" + username;
}

bool looks_like_mask(const char *text)
{
    return strpbrk(text, "!@") != nullptr;
}

// Sends `sign``letter` for every nick of `nicks` through the batched mode lines.
void send_nick_modes(session *sess, const std::vector<std::string> &nicks, char sign, char letter)
{
    if (nicks.empty())
        return;
    std::vector<char *> words;
    words.reserve(nicks.size() + 1);
    for (const std::string &nick : nicks)
        words.push_back(const_cast<char *>(nick.c_str()));
    words.push_back(const_cast<char *>(""));
    send_channel_modes(sess, words.data(), 0, static_cast<int>(nicks.size()), sign, letter, 0);
}

// The mode on the nicks typed after the command (word 2 on).
int mass_mode_words(session *sess, char *word[], char sign, char letter)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    send_channel_modes(sess, word, 2, PDIWORDS, sign, letter, 0);
    return CMD_DONE;
}

bool is_own_nick(session *sess, const User *user)
{
    server *serv = sess->server;
    return user->me || serv->p_cmp(user->nick, serv->nick) == 0;
}

// Nicks of the channel, in the list's nick order, that `pick` selects; the
// own nick is never among them.
template <typename Pick> std::vector<std::string> pick_users(session *sess, Pick pick)
{
    std::vector<std::string> nicks;
    GSList *list = userlist_flat_list(sess);
    for (GSList *l = list; l; l = l->next) {
        auto *user = static_cast<User *>(l->data);
        if (!is_own_nick(sess, user) && pick(user))
            nicks.emplace_back(user->nick);
    }
    g_slist_free(list);
    return nicks;
}

// Quiet lists are a server extension: only a server that lists `q` among
// its list modes knows what "+q <mask>" means (elsewhere `q` may be the
// channel-owner prefix mode).
bool server_has_quiet(session *sess)
{
    if (chanmode_group(sess->server, 'q') == 0)
        return true;
    PrintText(sess, _("Quiet is not supported by this server.\n"));
    return false;
}

// BAN and QUIET: "+b"/"+q" alone asks for the list; with a mask, one mode.
int ban_command(session *sess, char *word[], const char *mode)
{
    server *serv = sess->server;
    if (!word[2][0]) {
        serv->p_mode(serv, sess->channel, mode);
        return CMD_DONE;
    }
    const int bantype = word[3][0] ? parse_ban_type(word[3]) : prefs.irc_ban_type;
    if (bantype < BAN_TYPE_MIN || bantype > BAN_TYPE_MAX)
        return CMD_WRONG_USAGE;
    const std::string modes = make_ban_mask(sess, word[2], mode, bantype);
    if (modes.empty()) {
        PrintTextf(sess, _("Cannot build a ban mask for %s: its address is not user@host.\n"), word[2]);
        return CMD_DONE;
    }
    serv->p_mode(serv, sess->channel, modes.c_str());
    return CMD_DONE;
}

// What /COUNTRY hands country_search: the tab to print in, and the count
// that lets the command say when nothing matched.
struct country_listing {
    session *sess;
    int matches;
};

void print_country_match(void *data, const char *line)
{
    auto *listing = static_cast<country_listing *>(data);
    listing->matches++;
    PrintText(listing->sess, line);
}

} // namespace

std::string make_ban_mask(session *sess, const char *nick_or_mask, const char *mode, int bantype)
{
    if (!sess || !nick_or_mask || !nick_or_mask[0] || !mode)
        return {};
    if (bantype < BAN_TYPE_MIN || bantype > BAN_TYPE_MAX)
        return {};
    const bool deop = strcmp(mode, "-o+b") == 0;

    User *user = userlist_find(sess, nick_or_mask);
    if (!user || !user->hostname || !user->hostname[0]) {
        // Without an address there is nothing to build; the text is the mask.
        // A deop needs the nick as its own argument, and "-o+b nick" would
        // make the server take the nick as the ban mask and drop the deop's
        // argument, so a nick here is banned by nick alone.
        if (!deop)
            return std::string(mode) + " " + nick_or_mask;
        std::string mask = nick_or_mask;
        if (!looks_like_mask(nick_or_mask))
            mask += "!*@*";
        return "+b " + mask;
    }

    const char *at = strchr(user->hostname, '@');
    if (!at)
        return {};
    const std::string username =
        ban_username(std::string(user->hostname, static_cast<std::size_t>(at - user->hostname)));
    const std::string fullhost = at + 1;

    std::string domain;
    const bool ipv4 = is_ipv4_address(fullhost);
    if (ipv4) {
        domain = fullhost.substr(0, fullhost.rfind('.'));
    } else {
        const std::size_t dot = fullhost.find('.');
        domain = dot == std::string::npos ? fullhost : fullhost.substr(dot);
    }

    std::string mask;
    switch (bantype) {
    case 0:
        mask = ipv4 ? "*!*@" + domain + ".*" : "*!*@*" + domain;
        break;
    case 1:
        mask = "*!*@" + fullhost;
        break;
    case 2:
        mask = ipv4 ? "*!" + username + "@" + domain + ".*" : "*!" + username + "@*" + domain;
        break;
    default:
        mask = "*!" + username + "@" + fullhost;
        break;
    }

    std::string out = mode;
    if (deop) {
        out += ' ';
        out += user->nick;
    }
    out += ' ';
    out += mask;
    return out;
}

LUMENWICK_COMMAND_HANDLER(cmd_ban)
{
    return ban_command(sess, word, "+b");
}

LUMENWICK_COMMAND_HANDLER(cmd_quiet)
{
    if (!server_has_quiet(sess))
        return CMD_DONE;
    return ban_command(sess, word, "+q");
}

LUMENWICK_COMMAND_HANDLER(cmd_unban)
{
    return mass_mode_words(sess, word, '-', 'b');
}

LUMENWICK_COMMAND_HANDLER(cmd_unquiet)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    if (!server_has_quiet(sess))
        return CMD_DONE;
    return mass_mode_words(sess, word, '-', 'q');
}

LUMENWICK_COMMAND_HANDLER(cmd_kick)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    sess->server->p_kick(sess->server, sess->channel, word[2], word_eol[3]);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_kickban)
{
    const char *nick = word[2];
    if (!nick[0])
        return CMD_WRONG_USAGE;

    const char *reason = word_eol[3];
    int bantype = prefs.irc_ban_type;
    // "/kickban nick 2" picks the ban type; the kick then gives no reason.
    if (g_ascii_isdigit(reason[0]) && !reason[1]) {
        bantype = reason[0] - '0';
        reason = "";
    }
    if (bantype < BAN_TYPE_MIN || bantype > BAN_TYPE_MAX)
        return CMD_WRONG_USAGE;

    server *serv = sess->server;
    User *user = userlist_find(sess, nick);
    const bool address_known = user && user->hostname && strchr(user->hostname, '@');
    std::string modes;
    if (address_known) {
        modes = make_ban_mask(sess, nick, user->op ? "-o+b" : "+b", bantype);
    } else {
        // Nothing to derive a mask from: ban the nick itself rather than
        // handing the server a bare word it may read as something else.
        std::string mask = nick;
        if (!looks_like_mask(nick))
            mask += "!*@*";
        modes = make_ban_mask(sess, mask.c_str(), "+b", bantype);
    }
    if (!modes.empty())
        serv->p_mode(serv, sess->channel, modes.c_str());
    serv->p_kick(serv, sess->channel, nick, reason);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_op)
{
    return mass_mode_words(sess, word, '+', 'o');
}

LUMENWICK_COMMAND_HANDLER(cmd_deop)
{
    return mass_mode_words(sess, word, '-', 'o');
}

LUMENWICK_COMMAND_HANDLER(cmd_hop)
{
    return mass_mode_words(sess, word, '+', 'h');
}

LUMENWICK_COMMAND_HANDLER(cmd_dehop)
{
    return mass_mode_words(sess, word, '-', 'h');
}

LUMENWICK_COMMAND_HANDLER(cmd_voice)
{
    return mass_mode_words(sess, word, '+', 'v');
}

LUMENWICK_COMMAND_HANDLER(cmd_devoice)
{
    return mass_mode_words(sess, word, '-', 'v');
}

LUMENWICK_COMMAND_HANDLER(cmd_mop)
{
    send_nick_modes(sess, pick_users(sess, [](const User *u) { return !u->op; }), '+', 'o');
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_mdeop)
{
    send_nick_modes(sess, pick_users(sess, [](const User *u) { return u->op != 0; }), '-', 'o');
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_mhop)
{
    send_nick_modes(sess, pick_users(sess, [](const User *u) { return !u->hop; }), '+', 'h');
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_mdehop)
{
    send_nick_modes(sess, pick_users(sess, [](const User *u) { return u->hop != 0; }), '-', 'h');
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_mkick)
{
    // Operators first: they could otherwise kick us before we reach them.
    // The nicks are copied first; the list may change while we send.
    std::vector<std::string> nicks = pick_users(sess, [](const User *u) { return u->op != 0; });
    std::vector<std::string> rest = pick_users(sess, [](const User *u) { return !u->op; });
    nicks.insert(nicks.end(), rest.begin(), rest.end());
    server *serv = sess->server;
    for (const std::string &nick : nicks)
        serv->p_kick(serv, sess->channel, nick.c_str(), word_eol[2]);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_userlist)
{
    const time_t now = time(nullptr);
    GSList *list = userlist_flat_list(sess);
    for (GSList *l = list; l; l = l->next) {
        auto *user = static_cast<User *>(l->data);
        const long idle = user->lasttalk ? static_cast<long>(now - user->lasttalk) : 0L;
        PrintTextf(sess,
                   "\x03"
                   "06%s\t\x03"
                   "14[\x03"
                   "10%-38s\x03"
                   "14] \x0fov\x03"
                   "3=\x0f%d%d away=%u lt\x03"
                   "3=\x0f%ld\n",
                   user->nick, user->hostname ? user->hostname : "", user->op ? 1 : 0, user->voice ? 1 : 0,
                   user->away ? 1u : 0u, idle);
    }
    g_slist_free(list);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_debug)
{
    // Snapshots: printing may run print hooks that open or close tabs.
    std::vector<session *> sessions;
    for (GSList *l = sess_list; l; l = l->next)
        sessions.push_back(static_cast<session *>(l->data));
    std::vector<server *> servers;
    for (GSList *l = serv_list; l; l = l->next)
        servers.push_back(static_cast<server *>(l->data));

    PrintText(sess, "Session   T Channel    WaitChan  WillChan  Server\n");
    for (session *s : sessions) {
        if (!is_session(s) || !is_session(sess))
            continue;
        PrintTextf(sess, "%p %1x %-10.10s %-10.10s %-10.10s %p\n", static_cast<void *>(s),
                   static_cast<unsigned int>(s->type), s->channel, s->pending_join, s->rejoin_channel,
                   static_cast<void *>(s->server));
    }
    if (!is_session(sess))
        return CMD_DONE;
    PrintText(sess, "Server    Sock  Name\n");
    for (server *v : servers) {
        if (!is_server(v) || !is_session(sess))
            continue;
        PrintTextf(sess, "%p %-5d %s\n", static_cast<void *>(v), v->sock, v->announced_name);
    }
    if (!is_session(sess))
        return CMD_DONE;
    PrintTextf(sess, "\nfront_session: %p\ncurrent_tab: %p\n\n", static_cast<void *>(current_sess),
               static_cast<void *>(current_tab));
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_uselect)
{
    int idx = 2;
    bool clear = true;
    bool scroll = false;
    for (;; idx++) {
        if (strcmp(word[idx], "-a") == 0)
            clear = false;
        else if (strcmp(word[idx], "-s") == 0)
            scroll = true;
        else
            break;
    }
    if (!word[idx][0])
        return CMD_WRONG_USAGE;
    fe_uselect(sess, &word[idx], clear ? 1 : 0, scroll ? 1 : 0);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_dns)
{
    const char *target = word[2];
    if (!target[0])
        return CMD_WRONG_USAGE;

    server *serv = sess->server;
    if (User *user = userlist_find(sess, target)) {
        if (user->hostname && strchr(user->hostname, '@')) {
            do_dns(sess, user->nick, user->hostname, nullptr);
            return CMD_DONE;
        }
        if (!serv->connected) {
            notc_msg(sess);
            return CMD_DONE;
        }
        // The USERHOST reply carries the address; the reply handler
        // resolves it because the server is marked.
        serv->p_get_ip_uh(serv, user->nick);
        inbound_set_doing_dns(serv, true);
        return CMD_DONE;
    }
    do_dns(sess, nullptr, target, nullptr);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_country)
{
    const char *code = word[2];
    if (!code[0])
        return CMD_WRONG_USAGE;

    const char *pattern = nullptr;
    if (strcmp(code, "-s") == 0) {
        pattern = word[3];
        if (!pattern[0])
            return CMD_WRONG_USAGE;
    } else if (strchr(code, '*')) {
        pattern = code;
    }
    if (pattern) {
        country_listing listing{sess, 0};
        country_search(pattern, &listing, print_country_match);
        if (listing.matches == 0)
            PrintTextf(sess, _("No country matches %s.\n"), pattern);
        return CMD_DONE;
    }

    // A leading dot (".de") reads as the domain it names.
    const char *name = country(code);
    PrintTextf(sess, "%s = %s\n", code, name ? name : _("Unknown"));
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_charset)
{
    server *serv = sess->server;
    int offset = 0;
    if (strcmp(word[2], "-quiet") == 0)
        offset = 1;
    const char *charset = word[2 + offset];

    if (!charset[0]) {
        PrintTextf(sess, _("Current charset: %s\n"), serv->encoding ? serv->encoding : "UTF-8");
        return CMD_DONE;
    }
    if (!servlist_check_encoding(charset)) {
        PrintTextf(sess, _("Unknown charset: %s\n"), charset);
        return CMD_DONE;
    }
    server_set_encoding(serv, charset);
    if (!offset)
        PrintTextf(sess, _("Charset changed to: %s\n"), charset);
    return CMD_DONE;
}
