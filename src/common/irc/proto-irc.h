// The IRC protocol senders of the server record and the line parser.
#pragma once

#include "servlist/servlist.h"

#include <ctime>

struct server;

// The service bot that answers the challenge login (login method 8): the
// address CHALLENGE and CHALLENGEAUTH go to, and the full prefix its
// CHALLENGE notice comes from.
inline constexpr const char *CHALLENGE_SERVICE_ADDRESS = "Q@CServe.quakenet.org";
inline constexpr const char *CHALLENGE_SERVICE_PREFIX = "Q!TheQBot@CServe.quakenet.org";

// Autojoin packs channels into one JOIN line while its counted length stays
// at or below this, under the protocol's 512 bytes a line.
inline constexpr int JOIN_PACK_LIMIT = 511;

// Fills the protocol operations of `serv`.
void proto_fill_her_up(server *serv);

// ---- received lines (proto-irc-parse.cpp) ------------------------------------

// Word slots of a received line: word[1] to word[31] hold the words,
// word[0] the message type and word[32] stays empty.
inline constexpr int IRC_LINE_WORDS = 33;
inline constexpr int IRC_LINE_SPLIT_MAX = 31;

// The message tags a handler may use, decoded from one received line. All
// texts are owned (g_free) and null when the tag was absent.
struct message_tags_data {
    char *account = nullptr; // "account", while account-tag is enabled
    bool identified = false; // "solanum.chat/identified", while identify-msg is enabled
    time_t timestamp = 0;    // "time", while server-time is enabled; 0 = now
    char *msgid = nullptr;   // "msgid"
    char *reply = nullptr;   // "+reply"
    char *typing = nullptr;  // "+typing"
};
// Frees the texts of `tags` and resets it to empty (the record itself is
// the caller's).
void message_tags_data_free(message_tags_data *tags);

// Calls `fn` for every tag of a tag section (the text between "@" and the
// first space) in order, with the value unescaped ("" when it has none);
// tags whose unescaped value is not UTF-8 are left out.
void message_tags_foreach(const char *section, void (*fn)(const char *key, const char *value, void *data), void *data);
// Keeps the tags of `section` that this client uses in `tags` (a repeated
// key replaces the earlier value), under the server's capabilities.
void handle_message_tags(server *serv, const char *section, message_tags_data *tags);
// Seconds since the epoch of a "time" tag value ("YYYY-MM-DDThh:mm:ss[.f]Z"
// or decimal seconds); 0 when it gives no usable time.
time_t parse_time_tag(const char *value);

// Splits `line` at runs of spaces into word / word_eol (IRC_LINE_WORDS
// slots each). Words are copied into `work`, which needs strlen(line) + 1
// bytes; word_eol entries point into `line`. Unused slots and slot 0 are "".
void split_server_line(char *line, char *work, char *word[], char *word_eol[]);

// The line handler (p_inline): one line from the server, UTF-8, without its
// line end. Takes off the tags, offers the line to plugins and dispatches it.
void irc_inline(server *serv, char *buf, int len);
