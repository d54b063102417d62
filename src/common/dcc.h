// DCC transfers and chats.
#pragma once

struct session;
struct message_tags_data;
struct server;
struct DCC;

#include <cstdint>

// A DCC request from `nick` (word[4] is ":\x01DCC", word[5] the DCC type,
// the following words its arguments, quoted file names kept as one word).
void handle_dcc(session *sess, char *nick, char *word[], char *word_eol[], const message_tags_data *tags);
// Sends a line on the nick's active DCC chat: the chat's record, or nullptr
// when there is no active chat with that nick.
DCC *dcc_write_chat(const char *nick, const char *text);
// The IPv4 address (host order) to advertise in offers; 0 when unknown.
uint32_t dcc_get_my_address(session *sess);
