// CTCP requests received in PRIVMSG: answered, shown, or handed on.
#pragma once

struct session;
struct message_tags_data;

// Handles the CTCP `text` (without its \x01 framing) sent by `nick` to `to`.
void ctcp_handle(session *sess, char *to, char *nick, char *ip, char *text, char *word[], char *word_eol[], int id,
                 const message_tags_data *tags_data);
