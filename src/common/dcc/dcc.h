// DCC transfers and chats.
#pragma once

struct session;
struct message_tags_data;
struct server;
struct DCC;

#include <cstdint>

// What a DCC record is: a file we send, a file we receive, a chat offered
// to us, a chat we offered.
enum dcc_kind {
    DCC_KIND_SEND = 0,
    DCC_KIND_RECV = 1,
    DCC_KIND_CHAT_IN = 2,
    DCC_KIND_CHAT_OUT = 3,
};

// A DCC request from `nick` (word[4] is ":\x01DCC", word[5] the DCC type,
// the following words its arguments, quoted file names kept as one word).
void handle_dcc(session *sess, char *nick, char *word[], char *word_eol[], const message_tags_data *tags);
// Sends a line on the nick's active DCC chat: the chat's record, or nullptr
// when there is no active chat with that nick.
DCC *dcc_write_chat(const char *nick, const char *text);
// The peer's address of a DCC record as text, or nullptr when unknown.
const char *dcc_peer_address(const DCC *dcc);
// The IPv4 address (host order) to advertise in offers; 0 when unknown.
uint32_t dcc_get_my_address(session *sess);

// Shows the transfers and chats in `sess`.
void dcc_show_list(session *sess);
// Offers the file `file` (or every file matching a * / ? pattern) to `nick`,
// at most `maxcps` bytes per second (0: no limit); `passive`: the peer listens.
void dcc_send(session *sess, const char *nick, const char *file, int64_t maxcps, int passive);
// Offers a chat to `nick`.
void dcc_chat(session *sess, const char *nick, int passive);
// Accepts the waiting offer `dcc`.
void dcc_get(DCC *dcc);
// Accepts the first waiting file offer from `nick`.
void dcc_get_nick(session *sess, const char *nick);
// Stops a transfer or chat, or removes a finished one; messages go to `sess`.
void dcc_abort(session *sess, DCC *dcc);
// The first record matching `nick` (IRC case; null or "" any), `file` (its
// last component or the whole name, ASCII case; null or "" any) and `kind`
// (a dcc_kind, -1 any); borrowed, or nullptr.
DCC *find_dcc(const char *nick, const char *file, int kind);
// Follows a nick change of a DCC peer on `serv`.
void dcc_change_nick(server *serv, const char *oldnick, const char *newnick);
