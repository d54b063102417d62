// DCC transfers and chats.
#pragma once

struct session;
struct message_tags_data;

// A DCC request from `nick` (word[4] is ":\x01DCC", word[5] the DCC type,
// the following words its arguments, quoted file names kept as one word).
void handle_dcc(session *sess, char *nick, char *word[], char *word_eol[], const message_tags_data *tags);
