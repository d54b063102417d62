// Channel modes and server features (ISUPPORT).
#pragma once

struct server;
struct message_tags_data;

// Whether `name` starts with one of the server's channel types.
bool is_channel(server *serv, const char *name);
// Applies the ISUPPORT tokens of one 005 line (words 4 to 31).
void inbound_005(server *serv, char *word[]);
// A MODE line from `nick`, or (numeric_324 set) the 324 channel-modes
// reply, whose setter is "".
void handle_mode(server *serv, char *word[], char *word_eol[], char *nick, int numeric_324,
                 const message_tags_data *tags);
