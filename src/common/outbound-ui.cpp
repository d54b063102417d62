// Commands of the front end, commands that run in several tabs at once, and
// the commands of the DCC, ignore, notify, plugin and menu subsystems.

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


LUMENWICK_COMMAND_HANDLER(cmd_addbutton)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_allchan)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_allchanl)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_allserv)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_clear)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_close)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_dcc)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_delbutton)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_doat)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_getbool)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_getfile)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_getint)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_getstr)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_gui)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_ignore)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_lastlog)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_load)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_menu)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_notify)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_reload)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_send)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_setcursor)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_settab)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_settext)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_splay)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_tray)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_unignore)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_unload)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}
