// Channel modes and server features. The ISUPPORT tokens and the mode
// interpretation arrive with the modes work; until then the server keeps its
// default features and each MODE line is shown as it came.

#include "modes.h"

#include "proto-irc.h"
#include "server.h"
#include "session.h"
#include "text.h"

#include <cstring>

bool is_channel(server *serv, const char *name)
{
    if (!serv || !name || !name[0])
        return false;
    const char *types = serv->chantypes ? serv->chantypes : "#&!+";
    return strchr(types, name[0]) != nullptr;
}

void inbound_005(server *, char *[]) {}

void handle_mode(server *serv, char *word[], char *word_eol[], char *nick, int numeric_324,
                 const message_tags_data *tags)
{
    // The 324 reply was already shown as "Channel Modes" by the parser.
    if (numeric_324)
        return;
    session *sess = find_channel(serv, word[3]);
    if (!sess)
        sess = serv->recent_session;
    if (!sess)
        return;
    text_emit(XP_TE_RAW_MODES, sess, nick, word_eol[3], nullptr, nullptr, tags ? tags->timestamp : 0);
}
