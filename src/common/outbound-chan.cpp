// Bans, mass modes, the user list, lookups and the connection's charset.

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


LUMENWICK_COMMAND_HANDLER(cmd_ban)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_charset)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_country)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_debug)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_dehop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_deop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_devoice)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_dns)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_hop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_kick)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_kickban)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_mdehop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_mdeop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_mhop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_mkick)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_mop)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_op)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_quiet)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_unban)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_unquiet)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_uselect)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_userlist)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_voice)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}
