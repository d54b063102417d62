// /EXEC and its family: one child process per session, its output shown
// or said line by line.

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


LUMENWICK_COMMAND_HANDLER(cmd_exec)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_execc)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_execk)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_execs)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}

LUMENWICK_COMMAND_HANDLER(cmd_execw)
{
    return command_placeholder(sess, tbuf, word, word_eol);
}
