// Messages, joining and parting, away and the other commands that turn
// into one operation of the session's server.

#include "commands/outbound-cmds.h"
#include "commands/outbound.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/modes.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace
{

// The protocol overhead around a piece of text: "PRIVMSG <target> :" with
// CR LF, "NOTICE <target> :" with CR LF, and the ACTION wrapper on top.
constexpr int PRIVMSG_OVERHEAD = 13;
constexpr int NOTICE_OVERHEAD = 12;
constexpr int ACTION_OVERHEAD = 22;

// WALLCHOP addresses this many operators per NOTICE: servers cap the
// targets of one message, and five is below every common limit.
constexpr int WALLCHOP_TARGETS_PER_NOTICE = 5;

const char *const TYPING_STATES[] = {"active", "paused", "done"};

bool is_talk_tab(const session *sess)
{
    return sess->channel[0] && (sess->type == SESS_CHANNEL || sess->type == SESS_DIALOG);
}

// Cuts `text` into pieces that each fit one message to `target`. The
// splitter reserves room for the tab's own name; a target longer than that
// name takes its extra length from the room too, so no piece is cut short
// by the server.
std::vector<std::string> pieces_of(session *sess, const char *target, const char *text, int overhead)
{
    const std::size_t own = strlen(sess->channel);
    const std::size_t other = strlen(target);
    if (other > own)
        overhead += static_cast<int>(other - own);
    std::vector<std::string> pieces;
    const char *rest = text;
    for (;;) {
        std::string piece = split_up_text(sess, rest, overhead);
        if (piece.empty())
            break;
        rest += piece.size();
        pieces.push_back(std::move(piece));
    }
    pieces.emplace_back(rest);
    return pieces;
}

std::string escape_tag_value(const char *value)
{
    std::string out;
    for (const char *p = value; *p; p++) {
        switch (*p) {
        case ' ':
            out += "\\s";
            break;
        case ';':
            out += "\\:";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += *p;
        }
    }
    return out;
}

// Shows the user's own message in the open dialog or channel of `target`;
// false when none is open.
bool show_in_target_tab(server *serv, const char *target, const char *text, const message_tags_data *tags)
{
    session *tab = find_dialog(serv, target);
    if (!tab)
        tab = find_channel(serv, target);
    if (!tab)
        return false;
    inbound_chanmsg(serv, tab, const_cast<char *>(target), serv->nick, const_cast<char *>(text), TRUE, FALSE, tags);
    return true;
}

void send_wallchop_notice(server *serv, const std::string &nicks, const char *channel, const char *message)
{
    char *text = g_strdup_printf("[@%s] %s", channel, message);
    serv->p_notice(serv, nicks.c_str(), text);
    g_free(text);
}

// A client tag may go out when the server takes message tags and its
// CLIENTTAGDENY list does not name the tag.
bool client_tag_allowed(const server *serv, const char *name)
{
    if (!serv->cap_message_tags)
        return false;
    if (!serv->clienttagdeny || !serv->clienttagdeny[0])
        return true;
    bool denied = false;
    gchar **items = g_strsplit(serv->clienttagdeny, ",", -1);
    for (gchar **item = items; *item; item++) {
        const char *it = *item;
        // "-name" exempts a tag from a "*" given in the same list.
        if (it[0] == '-' && (!strcmp(it + 1, name) || (it[1] == '+' && !strcmp(it + 2, name)))) {
            denied = false;
            break;
        }
        if (!strcmp(it, "*") || !strcmp(it, name) || (it[0] == '+' && !strcmp(it + 1, name)))
            denied = true;
    }
    g_strfreev(items);
    return !denied;
}

} // namespace

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

int cmd_quit(session *sess, char *tbuf, char *word[], char *word_eol[])
{
    // The same disconnect with its reason; the rest of a paste must not run
    // against a server that is gone.
    cmd_discon(sess, tbuf, word, word_eol);
    return CMD_STOP;
}

int cmd_quote(session *sess, char *, char *[], char *word_eol[])
{
    if (!word_eol[2][0])
        return CMD_WRONG_USAGE;
    outbound_send_raw(sess, word_eol[2]);
    return CMD_DONE;
}

int cmd_recv(session *sess, char *, char *[], char *word_eol[])
{
    if (!word_eol[2][0])
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    // Each line as the reader would hand it over: without its line end and
    // no longer than the reader's buffer.
    gchar **lines = g_strsplit_set(word_eol[2], "\r\n", -1);
    for (gchar **l = lines; *l; l++) {
        std::string line(*l);
        if (line.empty())
            continue;
        if (line.size() >= LINE_BUFFER_SIZE)
            line.resize(LINE_BUFFER_SIZE - 1);
        if (!is_server(serv) || !serv->p_inline)
            break;
        serv->p_inline(serv, line.data(), static_cast<int>(line.size()));
    }
    g_strfreev(lines);
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

int cmd_ping(session *sess, char *, char *word[], char *[])
{
    char timestring[32];
    snprintf(timestring, sizeof timestring, "%lu", make_ping_time());
    sess->server->p_ping(sess->server, word[2], timestring);
    return CMD_DONE;
}

int cmd_echo(session *sess, char *, char *[], char *word_eol[])
{
    PrintTextf(sess, "%s\n", word_eol[2]);
    return CMD_DONE;
}

int cmd_say(session *sess, char *, char *[], char *word_eol[])
{
    if (!word_eol[2][0])
        return CMD_WRONG_USAGE;
    handle_say(sess, word_eol[2], false);
    return CMD_DONE;
}

int cmd_msg(session *sess, char *, char *word[], char *word_eol[])
{
    const char *target = word[2];
    const char *text = word_eol[3];
    if (!target[0] || !text[0])
        return CMD_WRONG_USAGE;

    if (!strcmp(target, ".")) {
        // "." repeats the last target of this tab; there must be one.
        if (!sess->last_msg_nick[0])
            return CMD_WRONG_USAGE;
        target = sess->last_msg_nick;
    } else {
        safe_strcpy(sess->last_msg_nick, target, sizeof sess->last_msg_nick);
    }
    // The target may be the tab's own field; later calls may rewrite it.
    const std::string to(target);
    server *serv = sess->server;

    std::vector<std::string> pieces;
    std::string shown_in; // the dialog or channel that shows the message
    if (to[0] == '=') {
        if (!dcc_write_chat(to.c_str() + 1, text)) {
            text_emit(XP_TE_NO_DCC, sess, nullptr, nullptr, nullptr, nullptr, 0);
            return CMD_DONE;
        }
        // A chat's dialog is named by the peer's nick; the chat has no
        // echo and no line limit.
        shown_in = to.substr(1);
        pieces.emplace_back(text);
    } else {
        if (!serv->connected) {
            notc_msg(sess);
            return CMD_DONE;
        }
        pieces = pieces_of(sess, to.c_str(), text, PRIVMSG_OVERHEAD);
        for (const std::string &piece : pieces)
            serv->p_message(serv, to.c_str(), piece.c_str());
        // With echo-message the server's copy is what gets shown.
        if (serv->cap_echo_message)
            return CMD_DONE;
        shown_in = to;
    }

    if (find_dialog(serv, shown_in.c_str()) || find_channel(serv, shown_in.c_str())) {
        for (const std::string &piece : pieces)
            show_in_target_tab(serv, shown_in.c_str(), piece.c_str(), nullptr);
        return CMD_DONE;
    }
    if (is_session(sess))
        text_emit(XP_TE_MESSAGE_SEND, sess, to.c_str(), nickserv_mask(to.c_str(), text), nullptr, nullptr, 0);
    return CMD_DONE;
}

int cmd_query(session *sess, char *, char *word[], char *word_eol[])
{
    int arg = 2;
    bool focus = true;
    if (!strcmp(word[arg], "-nofocus")) {
        focus = false;
        arg++;
    }
    const char *nick = word[arg];
    server *serv = sess->server;
    if (!nick[0] || is_channel(serv, nick))
        return CMD_WRONG_USAGE;
    const std::string to(nick);
    const char *text = word_eol[arg + 1];

    session *dialog = open_query(serv, to.c_str(), focus);
    if (!text[0] || !dialog)
        return CMD_DONE;
    if (!serv->connected) {
        notc_msg(sess);
        return CMD_DONE;
    }
    for (std::string &piece : pieces_of(dialog, to.c_str(), text, PRIVMSG_OVERHEAD)) {
        serv->p_message(serv, to.c_str(), piece.c_str());
        // The server's echo shows it otherwise; showing it here too would
        // print every line twice.
        if (!serv->cap_echo_message && is_session(dialog))
            inbound_chanmsg(serv, dialog, const_cast<char *>(to.c_str()), serv->nick, piece.data(), TRUE, FALSE,
                            nullptr);
    }
    return CMD_DONE;
}

int cmd_me(session *sess, char *, char *[], char *word_eol[])
{
    const char *act = word_eol[2];
    if (!act[0])
        return CMD_WRONG_USAGE;
    if (!is_talk_tab(sess)) {
        PrintText(sess, _("No channel joined. Try /join #<channel>\n"));
        return CMD_DONE;
    }
    server *serv = sess->server;
    const std::string target(sess->channel);

    if (sess->type == SESS_DIALOG) {
        char *line = g_strdup_printf("\001ACTION %s\001\r", act);
        DCC *chat = dcc_write_chat(target.c_str(), line);
        g_free(line);
        if (chat) {
            inbound_action(sess, const_cast<char *>(target.c_str()), serv->nick, const_cast<char *>(""),
                           const_cast<char *>(act), TRUE, FALSE, nullptr);
            return CMD_DONE;
        }
    }
    if (!serv->connected) {
        notc_msg(sess);
        return CMD_DONE;
    }
    for (std::string &piece : pieces_of(sess, target.c_str(), act, ACTION_OVERHEAD)) {
        serv->p_action(serv, target.c_str(), piece.c_str());
        if (!serv->cap_echo_message && is_session(sess))
            inbound_action(sess, const_cast<char *>(target.c_str()), serv->nick, const_cast<char *>(""), piece.data(),
                           TRUE, FALSE, nullptr);
    }
    return CMD_DONE;
}

int cmd_notice(session *sess, char *, char *word[], char *word_eol[])
{
    const char *target = word[2];
    const char *text = word_eol[3];
    if (!target[0] || !text[0])
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    const std::string to(target);
    for (const std::string &piece : pieces_of(sess, to.c_str(), text, NOTICE_OVERHEAD)) {
        serv->p_notice(serv, to.c_str(), piece.c_str());
        if (is_session(sess))
            text_emit(XP_TE_NOTICE_SEND, sess, to.c_str(), piece.c_str(), nullptr, nullptr, 0);
    }
    return CMD_DONE;
}

int cmd_reply(session *sess, char *, char *word[], char *word_eol[])
{
    const char *msgid = word[2];
    const char *text = word_eol[3];
    if (text[0] == ':')
        text++;
    if (!reply_msgid_valid(msgid) || !text[0] || !is_talk_tab(sess))
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    if (!serv->connected || !client_tag_allowed(serv, "reply")) {
        notc_msg(sess);
        return CMD_DONE;
    }
    const std::string target(sess->channel);
    const std::string id(msgid);
    const std::string tags = "+reply=" + escape_tag_value(msgid);
    // Client tags have their own room beside the 512 bytes of the message,
    // so the pieces are cut as for a plain PRIVMSG and each carries the tag.
    for (const std::string &piece : pieces_of(sess, target.c_str(), text, PRIVMSG_OVERHEAD)) {
        serv->p_tagged_message(serv, tags.c_str(), target.c_str(), piece.c_str());
        if (serv->cap_echo_message)
            continue;
        message_tags_data shown{};
        shown.reply = const_cast<char *>(id.c_str());
        show_in_target_tab(serv, target.c_str(), piece.c_str(), &shown);
    }
    return CMD_DONE;
}

int cmd_typing(session *sess, char *, char *word[], char *[])
{
    const char *state = "active";
    const char *target = word[3];
    if (word[2][0]) {
        state = nullptr;
        for (const char *known : TYPING_STATES)
            if (!g_ascii_strcasecmp(word[2], known))
                state = known;
        if (!state)
            return CMD_WRONG_USAGE;
    }
    if (!target[0]) {
        if (!is_talk_tab(sess))
            return CMD_WRONG_USAGE;
        target = sess->channel;
    }
    server *serv = sess->server;
    if (!serv->connected || !client_tag_allowed(serv, "typing")) {
        notc_msg(sess);
        return CMD_DONE;
    }
    char tags[32];
    snprintf(tags, sizeof tags, "+typing=%s", state);
    serv->p_tagmsg(serv, tags, target);
    return CMD_DONE;
}

int cmd_wallchop(session *sess, char *, char *[], char *word_eol[])
{
    const char *message = word_eol[2];
    if (!message[0])
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    const std::string channel(sess->channel);

    std::vector<std::string> ops;
    GSList *users = userlist_flat_list(sess);
    for (GSList *l = users; l; l = l->next) {
        auto *user = static_cast<User *>(l->data);
        if (user->op)
            ops.emplace_back(user->nick);
    }
    g_slist_free(users);

    std::string nicks;
    int count = 0;
    for (const std::string &nick : ops) {
        if (count)
            nicks += ',';
        nicks += nick;
        if (++count == WALLCHOP_TARGETS_PER_NOTICE) {
            send_wallchop_notice(serv, nicks, channel.c_str(), message);
            nicks.clear();
            count = 0;
        }
    }
    if (count)
        send_wallchop_notice(serv, nicks, channel.c_str(), message);
    return CMD_DONE;
}

int cmd_away(session *sess, char *, char *[], char *word_eol[])
{
    server *serv = sess->server;
    std::string reason(word_eol[2]);
    if (reason.empty()) {
        if (serv->away) {
            if (serv->last_away_text)
                PrintTextf(sess, _("Already marked away: %s\n"), serv->last_away_text);
            return CMD_WRONG_USAGE;
        }
        if (serv->restore_away && serv->last_away_text) {
            reason = serv->last_away_text;
        } else {
            char *from_file = random_line_of(prefs.away_reason);
            reason = from_file ? from_file : prefs.away_reason;
            g_free(from_file);
        }
    }
    serv->p_set_away(serv, reason.c_str());
    g_free(serv->last_away_text);
    serv->last_away_text = g_strdup(reason.c_str());
    return CMD_DONE;
}

int cmd_back(session *sess, char *, char *[], char *[])
{
    server *serv = sess->server;
    if (serv->away)
        serv->p_set_back(serv);
    else
        PrintText(sess, _("Already marked back.\n"));
    g_free(serv->last_away_text);
    serv->last_away_text = nullptr;
    return CMD_DONE;
}

int cmd_cycle(session *sess, char *, char *word[], char *[])
{
    server *serv = sess->server;
    const char *name = word[2][0] ? word[2] : sess->channel;
    session *chan = find_channel(serv, name);
    if (!chan || chan->type != SESS_CHANNEL || !chan->channel[0])
        return CMD_WRONG_USAGE;
    serv->p_cycle(serv, chan->channel, chan->key);
    return CMD_DONE;
}

int cmd_ghost(session *sess, char *, char *word[], char *[])
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    sess->server->p_ns_ghost(sess->server, word[2], word[3]);
    return CMD_DONE;
}

int cmd_id(session *sess, char *, char *word[], char *[])
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    sess->server->p_ns_identify(sess->server, word[2]);
    return CMD_DONE;
}

int cmd_invite(session *sess, char *, char *word[], char *[])
{
    const char *nick = word[2];
    if (!nick[0])
        return CMD_WRONG_USAGE;
    const char *channel = word[3];
    if (!channel[0]) {
        if (sess->type != SESS_CHANNEL || !sess->channel[0])
            return CMD_WRONG_USAGE;
        channel = sess->channel;
    }
    sess->server->p_invite(sess->server, channel, nick);
    return CMD_DONE;
}

int cmd_join(session *sess, char *, char *word[], char *[])
{
    const char *channels = word[2];
    if (!channels[0])
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    if (session *open = find_channel(serv, channels)) {
        if (open->channel[0]) {
            fe_ctrl_gui(open, FE_GUI_FOCUS, 0);
            return CMD_DONE;
        }
    }
    serv->p_join(serv, channels, word[3]);
    // A tab that lost its channel (kicked, parted) and waits for one takes
    // the first of the channels joined now.
    if (!sess->channel[0] && sess->pending_join[0]) {
        std::string first(channels);
        const std::size_t comma = first.find(',');
        if (comma != std::string::npos)
            first.resize(comma);
        if (!first.empty())
            safe_strcpy(sess->pending_join, first.c_str(), sizeof sess->pending_join);
    }
    return CMD_DONE;
}

int cmd_part(session *sess, char *, char *word[], char *word_eol[])
{
    server *serv = sess->server;
    const char *channel = sess->channel;
    const char *reason = word_eol[2];
    if (is_channel(serv, word[2])) {
        channel = word[2];
        reason = word_eol[3];
    }
    if (!is_channel(serv, channel))
        return CMD_WRONG_USAGE;
    server_sendpart(serv, channel, reason[0] ? reason : nullptr);
    return CMD_DONE;
}

int cmd_topic(session *sess, char *, char *word[], char *word_eol[])
{
    server *serv = sess->server;
    if (is_channel(serv, word[2])) {
        serv->p_topic(serv, word[2], word_eol[3]);
        return CMD_DONE;
    }
    if (sess->type != SESS_CHANNEL)
        return CMD_WRONG_USAGE;
    serv->p_topic(serv, sess->channel, word_eol[2]);
    return CMD_DONE;
}

int cmd_names(session *sess, char *, char *word[], char *[])
{
    const char *channel = word[2];
    if (!channel[0]) {
        if (sess->type != SESS_CHANNEL || !sess->channel[0])
            return CMD_WRONG_USAGE;
        channel = sess->channel;
    }
    sess->server->p_names(sess->server, channel);
    return CMD_DONE;
}

int cmd_nick(session *sess, char *, char *word[], char *[])
{
    char *nick = word[2];
    if (!nick[0])
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    if (serv->connected) {
        serv->p_change_nick(serv, nick);
        return CMD_DONE;
    }
    // The own nick is rewritten during the change; hand over a copy.
    std::string old(serv->nick);
    inbound_newnick(serv, old.data(), nick, TRUE, nullptr);
    return CMD_DONE;
}

int cmd_mode(session *sess, char *, char *word[], char *word_eol[])
{
    server *serv = sess->server;
    const char *first = word[2];
    const bool in_talk_tab = sess->type == SESS_CHANNEL || sess->type == SESS_DIALOG;
    const bool for_this_tab = in_talk_tab && (!first[0] || first[0] == '+' || first[0] == '-' ||
                                              (!is_channel(serv, first) && rfc_casecmp(first, serv->nick) != 0));
    if (for_this_tab) {
        if (!sess->channel[0])
            return CMD_WRONG_USAGE;
        serv->p_mode(serv, sess->channel, word_eol[2]);
        return CMD_DONE;
    }
    if (!first[0])
        return CMD_WRONG_USAGE;
    serv->p_mode(serv, first, word_eol[3]);
    return CMD_DONE;
}

int cmd_killall(session *, char *, char *[], char *[])
{
    lumenwick_exit();
    return CMD_STOP;
}

int cmd_lagcheck(session *, char *, char *[], char *[])
{
    // A probe goes out only once the check interval passed since the last
    // answer; pretend it did, so the check runs now.
    const time_t now = time(nullptr);
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (serv->connected && !serv->lag_probe_ms && prefs.net_lag_check > 0)
            serv->last_pong_time = now - prefs.net_lag_check;
    }
    lag_check(nullptr);
    return CMD_DONE;
}

int cmd_list(session *sess, char *, char *[], char *word_eol[])
{
    fe_open_chan_list(sess->server, word_eol[2], TRUE);
    return CMD_DONE;
}
