// Running typed text and command lines: word splitting, the built-in command
// table and the messages for commands that cannot run.

#include "outbound.h"
#include "outbound-cmds.h"

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

}  // namespace

int cmd_help(session *sess, char *tbuf, char *word[], char *[])
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    help(sess, tbuf, word[2], false);
    return CMD_DONE;
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

std::string split_up_text(session *, const char *, int) { return {}; }

void handle_say(session *sess, char *, bool) { PrintText(sess, _("No channel joined. Try /join #<channel>\n")); }

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
    } else if (sess->server->connected) {
        outbound_send_raw(sess, cmd);
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
