// DCC. Transfers and chats arrive with the DCC work; until then an offer is
// shown to the user and not acted on.

#include "dcc.h"

#include "proto-irc.h"
#include "session.h"
#include "text.h"

#include <cstring>
#include <string>

void handle_dcc(session *sess, char *nick, char *word[], char *word_eol[], const message_tags_data *tags)
{
    (void)word_eol;
    if (!sess)
        return;
    // The DCC type and what it offers (a file name, quotes already taken off).
    std::string offer = word[5];
    if (word[6][0])
        offer += std::string(" ") + word[6];
    const std::size_t end = offer.find('\001');
    if (end != std::string::npos)
        offer.resize(end);
    text_emit(XP_TE_DCC_GENERIC_OFFER, sess, offer.c_str(), nick, nullptr, nullptr, tags ? tags->timestamp : 0);
}

// No chats can be open before the DCC work lands, so no line goes to one.
DCC *dcc_write_chat(const char *, const char *) { return nullptr; }
uint32_t dcc_get_my_address(session *) { return 0; }
