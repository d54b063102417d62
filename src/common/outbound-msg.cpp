// Messages, joining and parting, away and the other commands that turn
// into one operation of the session's server.

#include "outbound.h"
#include "outbound-cmds.h"

#include "cfgfiles.h"
#include "fe.h"
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
#include <string>

namespace {

// Until this family is written its commands say so instead of pretending.
int command_placeholder(session *sess, char *, char *[], char *[])
{
    PrintText(sess, _("This command is not available yet.\n"));
    return CMD_DONE;
}

}  // namespace

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

int cmd_quote(session *sess, char *, char *[], char *word_eol[])
{
    if (!word_eol[2][0])
        return CMD_WRONG_USAGE;
    outbound_send_raw(sess, word_eol[2]);
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


LUMENWICK_COMMAND_HANDLER(cmd_away)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_back)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_cycle)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_echo)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_ghost)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_id)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_invite)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_join)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_killall)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_lagcheck)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_list)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_me)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_mode)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_msg)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_names)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_nick)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_notice)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_part)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_ping)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_query)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_quit)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_recv)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_reply)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_say)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_topic)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_typing)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_wallchop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}
