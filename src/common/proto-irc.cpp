#include "proto-irc.h"

#include "server.h"
#include "util.h"

void proto_fill_her_up(server *serv)
{
    // Every nick and channel comparison on this server goes through this.
    serv->p_cmp = rfc_casecmp;
}
