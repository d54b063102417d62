// CTCP requests: the text between two \x01 bytes of a PRIVMSG. ACTION is
// shown, VERSION answered, DCC handed on, and the user's own replies from
// ctcpreply.conf run as commands; everything else is shown as it came.

#include "irc/ctcp.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "dcc/dcc.h"
#include "irc/inbound.h"
#include "irc/modes.h"
#include "irc/proto-irc.h"
#include "lists/ignore.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <glib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

// A reply command is expanded into a buffer of this size.
constexpr int CTCP_REPLY_BUFFER = 4096;

// The text up to the first \x01 (the rest of a CTCP never belongs to it).
std::string cut_at_ctcp_end(const char *text)
{
    return std::string(text, strcspn(text, "\001"));
}

time_t stamp_of(const message_tags_data *tags)
{
    return tags ? tags->timestamp : 0;
}

// Runs every ctcpreply.conf entry named `command` (ASCII case-insensitive)
// in list order. True when at least one entry matched.
bool ctcp_user_reply(session *sess, char *nick, char *word[], char *word_eol[], const std::string &command)
{
    // The commands run may change the list or close the tab, so the
    // matching entries are taken first.
    std::vector<std::string> templates;
    for (GSList *l = ctcp_list; l; l = l->next) {
        const auto *entry = static_cast<const popup *>(l->data);
        if (entry && entry->name && entry->cmd && !g_ascii_strcasecmp(entry->name, command.c_str()))
            templates.emplace_back(entry->cmd);
    }
    if (templates.empty())
        return false;

    std::string args = cut_at_ctcp_end(word_eol[5]);
    const char *network = server_get_network(sess->server, true);
    std::string net = network ? network : "";
    auto out = std::make_unique<char[]>(CTCP_REPLY_BUFFER);
    for (std::string &tmpl : templates) {
        if (!is_session(sess))
            break;
        check_special_chars(tmpl.data(), true);
        const int result =
            auto_insert(out.get(), CTCP_REPLY_BUFFER, reinterpret_cast<const unsigned char *>(tmpl.c_str()), word,
                        word_eol, {.d = args.c_str(), .e = net.c_str(), .s = nick});
        // 0: the template wants a word the request did not have. A reply
        // that was cut (2) still runs, as far as it fit.
        if (result == 0)
            continue;
        handle_command(sess, out.get(), false);
    }
    return true;
}

// The first word of the request: the CTCP command.
std::string ctcp_command(const char *text)
{
    return std::string(text, strcspn(text, " \001"));
}

void show_generic(session *sess, char *to, char *nick, const char *text, const message_tags_data *tags)
{
    server *serv = sess->server;
    const std::string shown = cut_at_ctcp_end(text);
    if (is_channel(serv, to)) {
        session *chan = find_channel(serv, to);
        text_emit(XP_TE_CTCP_GENERIC_TO_CHANNEL, chan ? chan : sess, shown.c_str(), nick, to, nullptr, stamp_of(tags));
    } else {
        text_emit(XP_TE_CTCP_GENERIC, serv->recent_session ? serv->recent_session : sess, shown.c_str(), nick, nullptr,
                  nullptr, stamp_of(tags));
    }
}

void show_sound(session *sess, char *to, char *nick, char *word[], const message_tags_data *tags)
{
    server *serv = sess->server;
    const std::string file = cut_at_ctcp_end(word[5]);
    if (is_channel(serv, to)) {
        session *chan = find_channel(serv, to);
        text_emit(XP_TE_CTCP_SOUND_TO_CHANNEL, chan ? chan : sess, file.c_str(), nick, to, nullptr, stamp_of(tags));
    } else {
        text_emit(XP_TE_CTCP_SOUND, serv->recent_session ? serv->recent_session : sess, file.c_str(), nick, nullptr,
                  nullptr, stamp_of(tags));
    }
    // Only a name inside the sounds folder: a path would let anyone on IRC
    // make the client open files of their choosing. Quiet, so that a missing
    // file does not put a dialog in front of the user for someone else.
    if (!file.empty() && file.find('/') == std::string::npos)
        sound_play(file.c_str(), true);
}

void handle_action(session *sess, char *to, char *nick, char *ip, char *text, char *word[], char *word_eol[], int id,
                   const message_tags_data *tags)
{
    server *serv = sess->server;
    const bool to_channel = is_channel(serv, to);
    if (ignore_check(word[1], to_channel ? IG_CHAN : IG_PRIV))
        return;
    if (ctcp_user_reply(sess, nick, word, word_eol, "ACTION")) {
        if (is_session(sess))
            show_generic(sess, to, nick, text, tags);
        return;
    }
    char *action = text + 7;
    if (serv->p_cmp(nick, serv->nick) == 0 && !to_channel) {
        // The echo of the user's own action to someone.
        session *target = find_dialog(serv, to);
        if (!target)
            target = serv->recent_session ? serv->recent_session : sess;
        inbound_action(target, to, nick, ip, action, TRUE, id, tags);
        return;
    }
    inbound_action(sess, to, nick, ip, action, FALSE, id, tags);
}

} // namespace

void ctcp_handle(session *sess, char *to, char *nick, char *ip, char *text, char *word[], char *word_eol[], int id,
                 const message_tags_data *tags_data)
{
    if (!sess || !text || !to || !nick)
        return;
    server *serv = sess->server;

    if (!g_ascii_strncasecmp(text, "DCC", 3)) {
        if (!ctcp_user_reply(sess, nick, word, word_eol, "DCC") && is_session(sess) && !ignore_check(word[1], IG_DCC))
            handle_dcc(sess, nick, word, word_eol, tags_data);
        return;
    }

    if (!g_ascii_strncasecmp(text, "ACTION ", 7)) {
        handle_action(sess, to, nick, ip, text, word, word_eol, id, tags_data);
        return;
    }

    if (ignore_check(word[1], IG_CTCP))
        return;

    if (!g_ascii_strcasecmp(text, "VERSION") && !prefs.irc_hide_version) {
        char *reply = g_strdup_printf("VERSION %s %s / %s", DISPLAY_NAME, LUMENWICK_VERSION, get_sys_str(1));
        serv->p_nctcp(serv, nick, reply);
        g_free(reply);
    }

    const std::string command = ctcp_command(text);
    if (command.empty())
        return;

    const bool replied = ctcp_user_reply(sess, nick, word, word_eol, command);
    if (!is_session(sess))
        return;
    if (!replied && !g_ascii_strncasecmp(text, "SOUND", 5)) {
        show_sound(sess, to, nick, word, tags_data);
        return;
    }
    show_generic(sess, to, nick, text, tags_data);
}
