// Running typed text and command lines: word splitting, user commands, the
// built-in command table, saying text in a tab and cutting it into
// protocol-sized messages, and /HELP.

#include "commands/outbound.h"
#include "commands/outbound-cmds.h"

#include "base/history.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/modes.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "plugins/plugin.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace
{

int command_nesting;
bool (*command_filter)(const char *name);
// User commands expanded since the current top-level command line began.
int user_command_expansions;
bool expansion_limit_reported;

// An IRC line is 512 bytes with CR LF. When the server told us our own host,
// the ":nick!user@host " prefix it relays is known exactly (509 = 512 - CR LF
// - the leading ':'); otherwise a worst-case prefix is assumed.
constexpr int LINE_LIMIT_KNOWN_HOST = 509;
constexpr int LINE_LIMIT_UNKNOWN_HOST = 435;
// A cut moves back to a space only when that loses fewer bytes than this.
constexpr int SPACE_CUT_WINDOW = 19;
constexpr int PRIVMSG_OVERHEAD = 13;
// Completion works on nicks; a longer word cannot be the start of one.
constexpr std::size_t COMPLETION_WORD_MAX = 64;
constexpr int HELP_COLUMNS = 5;
constexpr std::size_t HELP_COLUMN_WIDTH = 10;

const char LASTLOG_TAB[] = "(lastlog)";

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

char command_char()
{
    return prefs.input_command_char[0] ? prefs.input_command_char[0] : '/';
}

// Bytes of the UTF-8 character at `p` (1 for a stray byte), never past the end.
std::size_t utf8_char_len(const char *p)
{
    std::size_t n = 1;
    while (n < 4 && p[n] && (static_cast<unsigned char>(p[n]) & 0xC0) == 0x80)
        n++;
    return n;
}

// The name the user commands know the server by.
const char *network_or_server_name(server *serv)
{
    if (serv->network) {
        const char *name = servlist_network_name(serv->network);
        if (name && name[0])
            return name;
    }
    return serv->announced_name[0] ? serv->announced_name : serv->hostname;
}

struct user_command {
    std::string name;
    std::string cmd;
};

// The user commands of that name, copied: a command they run may reload or
// edit the list while we walk it.
std::vector<user_command> user_commands_named(const char *name)
{
    std::vector<user_command> out;
    for (GSList *l = command_list; l; l = l->next) {
        const auto *pop = static_cast<const popup *>(l->data);
        if (pop && pop->name && g_ascii_strcasecmp(pop->name, name) == 0)
            out.push_back({pop->name, pop->cmd ? pop->cmd : ""});
    }
    return out;
}

// Runs every user command named word[1]; false when there is none.
bool run_user_commands(session *sess, char *word[], char *word_eol[])
{
    const std::vector<user_command> matches = user_commands_named(word[1]);
    if (matches.empty())
        return false;
    auto buf = std::make_unique<char[]>(USER_COMMAND_SIZE);
    for (const user_command &uc : matches) {
        if (!is_session(sess))
            break;
        if (user_command_expansions >= MAX_USER_COMMAND_EXPANSIONS) {
            if (!expansion_limit_reported) {
                expansion_limit_reported = true;
                PrintTextf(sess, _("Too many user commands run for one line (more than %d), aborting.\n"),
                           MAX_USER_COMMAND_EXPANSIONS);
            }
            break;
        }
        user_command_expansions++;
        std::string chan = sess->channel;
        std::string net = network_or_server_name(sess->server);
        std::string nick = sess->server->nick;
        // Result 2 (cut to fit) runs what fit: auto_insert ends it on a
        // character boundary and terminates it.
        const int r = auto_insert(buf.get(), USER_COMMAND_SIZE, reinterpret_cast<const unsigned char *>(uc.cmd.c_str()),
                                  word, word_eol, {.c = chan.c_str(), .e = net.c_str(), .n = nick.c_str()});
        if (r == 0) {
            PrintText(sess, _("Bad arguments for user command.\n"));
            continue;
        }
        handle_command(sess, buf.get(), true);
    }
    return true;
}

// A new search from the input line of a "(lastlog)" tab, over the text of
// the tab the results were taken from.
void lastlog_search(session *sess, char *text)
{
    session *source = sess->search_results_session;
    if (source == sess || !is_session(source)) {
        source = nullptr;
        for (GSList *l = sess_list; l; l = l->next) {
            auto *s = static_cast<session *>(l->data);
            if (s != sess && s->search_results_session == sess) {
                source = s;
                break;
            }
        }
    }
    if (!source) {
        PrintText(sess, _("The tab this search was made in is closed.\n"));
        return;
    }
    session *results = find_dialog(source->server, LASTLOG_TAB);
    if (!results)
        results = new_ircwindow(source->server, LASTLOG_TAB, SESS_DIALOG, 0);
    if (!results)
        return;
    results->search_results_session = source;
    results->search_flags = sess->search_flags;
    fe_text_clear(results, 0);
    fe_lastlog(source, results, text, results->search_flags);
}

// Completes "nic:" to "nickname:" from the channel's users (nick completion
// as the user types it, `completion_auto`). Returns the line to say.
std::string complete_first_word(session *sess, const std::string &line)
{
    if (!prefs.completion_auto || !prefs.completion_suffix[0] || !sess->users)
        return line;
    const std::string suffix(prefs.completion_suffix, utf8_char_len(prefs.completion_suffix));
    const std::size_t space = line.find(' ');
    const std::string first = line.substr(0, space);
    if (first.size() <= suffix.size() || first.compare(first.size() - suffix.size(), suffix.size(), suffix) != 0)
        return line;
    const std::string prefix = first.substr(0, first.size() - suffix.size());
    if (prefix.size() >= COMPLETION_WORD_MAX)
        return line;

    const User *best = nullptr;
    GSList *users = userlist_flat_list(sess);
    for (GSList *l = users; l; l = l->next) {
        const auto *user = static_cast<const User *>(l->data);
        if (rfc_ncasecmp(user->nick, prefix.c_str(), prefix.size()) != 0)
            continue;
        if (rfc_casecmp(user->nick, prefix.c_str()) == 0) {
            best = user;
            break;
        }
        if (!best || strlen(user->nick) < strlen(best->nick))
            best = user;
    }
    std::string out = line;
    if (best)
        out.replace(0, prefix.size(), best->nick);
    g_slist_free(users);
    return out;
}

// One PRIVMSG of a said line: shown first as our own message (unless the
// server echoes it back to us), then sent.
void say_piece(session *sess, const char *piece, const char *mask, bool show)
{
    server *serv = sess->server;
    if (show && !serv->cap_echo_message) {
        std::string shown = mask ? mask : piece;
        std::string chan = sess->channel;
        std::string nick = serv->nick;
        inbound_chanmsg(serv, sess, chan.data(), nick.data(), shown.data(), TRUE, FALSE, nullptr);
        OPENSSL_cleanse(shown.data(), shown.size());
    }
    if (serv->p_message)
        serv->p_message(serv, sess->channel, piece);
}

void help_row_flush(session *sess, std::string &row, int &in_row)
{
    if (in_row == 0)
        return;
    row += '\n';
    PrintText(sess, row.c_str());
    row.clear();
    in_row = 0;
}

// Prints a titled list of command names, five to a line, or with "-l" one
// name and its help text to a line.
struct help_list {
    session *sess;
    bool longfmt;
    std::string row;
    int in_row = 0;
    int count = 0;

    void heading(const char *title) { PrintTextf(sess, "\n%s\n\n", title); }

    void add(const char *name, const char *help_text)
    {
        if (!name || !name[0] || name[0] == '.')
            return;
        gchar *upper = g_ascii_strup(name, -1);
        count++;
        if (longfmt) {
            if (help_text && help_text[0])
                PrintTextf(sess, "   \0034%s\003 : %s\n", upper, help_text);
            else
                PrintTextf(sess, "   \0034%s\003 :\n", upper);
            g_free(upper);
            return;
        }
        if (in_row == 0)
            row = "  ";
        row += upper;
        for (std::size_t n = strlen(upper); n < HELP_COLUMN_WIDTH; n++)
            row += ' ';
        g_free(upper);
        if (++in_row == HELP_COLUMNS)
            help_row_flush(sess, row, in_row);
    }

    void finish() { help_row_flush(sess, row, in_row); }
};

void collect_plugin_command(session *, void *userdata, const char *name, const char *help_text)
{
    static_cast<std::vector<std::pair<std::string, std::string>> *>(userdata)->emplace_back(name ? name : "",
                                                                                            help_text ? help_text : "");
}

void list_commands(session *sess, bool longfmt)
{
    help_list out{sess, longfmt, {}};
    out.heading(_("Commands Available:"));
    for (int i = 0; i < xc_cmds_count; i++)
        out.add(xc_cmds[i].name, xc_cmds[i].help ? _(xc_cmds[i].help) : nullptr);
    out.finish();

    if (command_list) {
        out.heading(_("User defined commands:"));
        const char *previous = nullptr;
        for (GSList *l = command_list; l; l = l->next) {
            const auto *pop = static_cast<const popup *>(l->data);
            // Several entries may share a name; the name is listed once.
            if (previous && g_ascii_strcasecmp(previous, pop->name) == 0)
                continue;
            previous = pop->name;
            out.add(pop->name, pop->cmd);
        }
        out.finish();
    }

    std::vector<std::pair<std::string, std::string>> plugin_commands;
    plugin_command_foreach(sess, &plugin_commands, collect_plugin_command);
    if (!plugin_commands.empty()) {
        out.heading(_("Plugin defined commands:"));
        for (const auto &[name, help_text] : plugin_commands)
            out.add(name.c_str(), help_text.c_str());
        out.finish();
    }

    PrintTextf(sess, "\n%s\n\n", _("Type /HELP <command> for more information, or /HELP -l"));
}

} // namespace

int cmd_help(session *sess, char *tbuf, char *word[], char *[])
{
    if (!word[2][0]) {
        list_commands(sess, false);
        return CMD_DONE;
    }
    if (strcmp(word[2], "-l") == 0) {
        list_commands(sess, true);
        return CMD_DONE;
    }
    help(sess, tbuf, word[2], false);
    return CMD_DONE;
}

void set_command_filter(bool (*allow)(const char *name))
{
    command_filter = allow;
}

bool outbound_send_raw(session *sess, const char *line)
{
    if (strpbrk(line, "\r\n")) {
        PrintText(sess, _("A raw line cannot contain line breaks; nothing was sent.\n"));
        return false;
    }
    if (!sess->server->p_raw)
        return false;
    sess->server->p_raw(sess->server, line);
    return true;
}

std::string split_up_text(session *sess, const char *text, int overhead)
{
    if (!text)
        return {};
    int reserve = overhead + static_cast<int>(strlen(sess->channel)) + static_cast<int>(strlen(sess->server->nick));
    int limit = LINE_LIMIT_UNKNOWN_HOST;
    if (sess->own_user && sess->own_user->hostname) {
        reserve += static_cast<int>(strlen(sess->own_user->hostname));
        limit = LINE_LIMIT_KNOWN_HOST;
    }
    const std::size_t len = strlen(text);
    // A very long channel name or host leaves no room at all; each message
    // then carries at least one character, so the caller always advances.
    const std::size_t room = limit - reserve > 0 ? static_cast<std::size_t>(limit - reserve) : 1;
    if (len <= room)
        return {};

    std::size_t cut = 0;
    while (cut < len) {
        const std::size_t n = utf8_char_len(text + cut);
        if (cut + n > room)
            break;
        cut += n;
    }
    if (cut == 0)
        cut = utf8_char_len(text);
    if (cut >= len)
        return {};

    const std::string_view piece(text, cut);
    const std::size_t space = piece.rfind(' ');
    if (space != std::string_view::npos && cut - space < SPACE_CUT_WINDOW)
        cut = space + 1;
    return std::string(text, cut);
}

void handle_say(session *sess, char *text, bool check_spch, bool complete_nick)
{
    if (!sess || !text || !text[0])
        return;

    if (sess->type == SESS_DIALOG && strcmp(sess->channel, LASTLOG_TAB) == 0) {
        lastlog_search(sess, text);
        return;
    }

    std::string line = text;
    if (check_spch && prefs.input_perc_color) {
        check_special_chars(line.data(), prefs.input_perc_ascii != 0);
        line.resize(strlen(line.c_str()));
    }

    {
        auto words = std::make_unique<command_words>();
        split_words(line.c_str(), true, *words);
        char empty_name[] = "";
        if (plugin_emit_command(sess, empty_name, words->word, words->word_eol) || !is_session(sess))
            return;
    }

    if (!sess->channel[0] || sess->type == SESS_SERVER || sess->type == SESS_NOTICES || sess->type == SESS_SNOTICES) {
        PrintText(sess, _("No channel joined. Try /join #<channel>\n"));
        return;
    }

    if (complete_nick)
        line = complete_first_word(sess, line);
    server *serv = sess->server;
    // A password for the nick service is shown masked (inbound_chanmsg masks
    // what it shows); the mask is shown once, not once per piece.
    const bool secret = sess->type == SESS_DIALOG && nickserv_mask(sess->channel, line.c_str()) != line.c_str();
    const char *mask = secret ? nickserv_mask(sess->channel, line.c_str()) : nullptr;

    if (sess->type == SESS_DIALOG) {
        DCC *dcc = dcc_write_chat(sess->channel, line.c_str());
        if (dcc) {
            std::string chan = sess->channel;
            std::string nick = serv->nick;
            std::string shown = mask ? mask : line;
            inbound_chanmsg(serv, sess, chan.data(), nick.data(), shown.data(), TRUE, FALSE, nullptr);
            const char *addr = dcc_peer_address(dcc);
            if (addr && is_session(sess))
                set_topic(sess, addr, addr);
            return;
        }
    }

    if (!serv->connected) {
        notc_msg(sess);
        return;
    }

    // The password is shown masked once, not piece by piece.
    bool show = true;
    std::size_t at = 0;
    for (;;) {
        const std::string piece = split_up_text(sess, line.c_str() + at, PRIVMSG_OVERHEAD);
        if (piece.empty())
            break;
        say_piece(sess, piece.c_str(), mask, show);
        if (mask)
            show = false;
        if (!is_session(sess))
            return;
        at += piece.size();
    }
    say_piece(sess, line.c_str() + at, mask, show);
    if (mask)
        OPENSSL_cleanse(line.data(), line.size());
}

void notc_msg(session *sess)
{
    PrintText(sess, _("Not connected. Try /server <host> [<port>]\n"));
}

void help(session *sess, char *tbuf, const char *helpcmd, bool quiet)
{
    (void)tbuf;
    if (!helpcmd || !helpcmd[0])
        return;
    if (plugin_show_help(sess, helpcmd))
        return;

    bool user = false;
    for (GSList *l = command_list; l; l = l->next) {
        const auto *pop = static_cast<const popup *>(l->data);
        if (pop->name && g_ascii_strcasecmp(pop->name, helpcmd) == 0) {
            PrintTextf(sess, _("User Command for: %s\n"), pop->cmd ? pop->cmd : "");
            user = true;
        }
    }
    if (user)
        return;

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
    if (!sess || !cmd)
        return true;
    if (command_nesting >= MAX_COMMAND_NESTING) {
        fe_message(_("Too many recursive usercommands, aborting."), FE_MSG_ERROR);
        return true;
    }
    if (command_nesting == 0) {
        user_command_expansions = 0;
        expansion_limit_reported = false;
    }
    command_nesting++;
    struct nesting_guard {
        ~nesting_guard() { command_nesting--; }
    } guard;

    // Codes are converted before the line is split, so that the handlers,
    // the user commands and the raw fallback all see the same text.
    if (check_spch && prefs.input_perc_color)
        check_special_chars(cmd, prefs.input_perc_ascii != 0);

    auto words = std::make_unique<command_words>();
    split_words(cmd, true, *words);
    const commands *int_cmd = find_internal_command(words->word[1]);
    if (int_cmd && !int_cmd->handle_quotes)
        split_words(cmd, false, *words);

    if (plugin_emit_command(sess, words->word[1], words->word, words->word_eol) || !is_session(sess))
        return true;

    if (words->word[1][0] && run_user_commands(sess, words->word, words->word_eol))
        return true;

    if (int_cmd) {
        if (int_cmd->needserver && !sess->server->connected) {
            notc_msg(sess);
            return true;
        }
        if ((int_cmd->needchannel && !sess->channel[0]) ||
            (int_cmd->needchannel == NEEDS_CHANNEL_TAB &&
             (sess->type != SESS_CHANNEL || !is_channel(sess->server, sess->channel)))) {
            PrintText(sess, _("No channel joined. Try /join #<channel>\n"));
            return true;
        }
        if (command_filter && !command_filter(int_cmd->name)) {
            PrintTextf(sess, _("The command %s is not allowed here.\n"), int_cmd->name);
            return true;
        }
        auto tbuf = std::make_unique<char[]>(CMD_BUFFER_SIZE);
        tbuf[0] = 0;
        switch (int_cmd->callback(sess, tbuf.get(), words->word, words->word_eol)) {
        case CMD_WRONG_USAGE:
            // The handler may have closed its own tab.
            if (is_session(sess))
                help(sess, tbuf.get(), words->word[1], true);
            return true;
        case CMD_STOP:
            return false;
        default:
            return true;
        }
    }

    if (!words->word[1][0])
        return true;
    if (sess->server->connected)
        outbound_send_raw(sess, cmd);
    else
        PrintTextf(sess, _("Unknown Command %s. Try /help\n"), words->word[1]);
    return true;
}

void handle_multiline(session *sess, char *cmd, int history, int nocommand)
{
    if (!sess || !cmd)
        return;
    const char cmdchar = command_char();
    gchar **lines = g_strsplit_set(cmd, "\r\n", -1);
    for (gchar **l = lines; *l; l++) {
        char *line = *l;
        if (!line[0])
            continue;
        // A command of an earlier line may have closed the tab.
        if (!is_session(sess))
            break;
        if (history)
            history_add(&sess->input_history, line);
        if (nocommand || line[0] != cmdchar) {
            handle_say(sess, line, true);
            continue;
        }
        if (line[1] == cmdchar) {
            // "//me waves" says "/me waves".
            handle_say(sess, line + 1, true);
            continue;
        }
        // A command character inside the first word: a path such as
        // /usr/bin/x, said rather than run.
        const char *space = strchr(line, ' ');
        const char *second = strchr(line + 1, cmdchar);
        if (second && (!space || second < space)) {
            handle_say(sess, line, true);
            continue;
        }
        if (!handle_command(sess, line + 1, true))
            break;
    }
    g_strfreev(lines);
}

int load_perform_file(session *sess, const char *file)
{
    // /LOAD -e may name a file outside the configuration directory.
    FILE *fh = lumenwick_fopen_file(file, "r", g_path_is_absolute(file) ? XOF_FULLPATH : 0);
    if (!fh)
        return 0;
    const char cmdchar = command_char();
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

std::string command_insert_vars(session *sess, const char *cmd)
{
    if (!cmd)
        return {};
    server *serv = sess ? sess->server : nullptr;
    const ircnet *net = serv ? serv->network : nullptr;
    if (!net)
        return cmd;
    // The network's own identity, unless it follows the global one.
    auto own = [net](const char *value) -> const char * {
        if ((net->flags & NET_USE_GLOBAL) || !value || !value[0])
            return nullptr;
        return value;
    };
    std::string out;
    for (const char *p = cmd; *p; p++) {
        if (*p != '%' || !p[1]) {
            out += *p;
            continue;
        }
        const char *value = nullptr;
        switch (p[1]) {
        case 'n':
            value = own(net->nick);
            if (!value)
                value = prefs.irc_nick1;
            break;
        case 'u':
            value = servlist_network_username(net);
            if (!value || !value[0])
                value = prefs.irc_user_name;
            break;
        case 'r':
            value = servlist_network_realname(net);
            if (!value || !value[0])
                value = prefs.irc_real_name;
            break;
        case 'p':
            value = serv->password;
            break;
        default:
            // Not a variable: the '%' stays and the next character is read as usual.
            out += *p;
            continue;
        }
        out += value;
        p++;
    }
    return out;
}
