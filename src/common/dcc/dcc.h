// DCC transfers and chats: the list of records, the requests that arrive
// through CTCP, and the operations the /DCC command and the front end call.
#pragma once

#include <glib.h>

#include <cstdint>
#include <ctime>
#include <string>

struct session;
struct message_tags_data;
struct server;

// What a DCC record is: a file we send, a file we receive, a chat offered
// to us, a chat we offered.
enum dcc_kind {
    DCC_KIND_SEND = 0,
    DCC_KIND_RECV = 1,
    DCC_KIND_CHAT_IN = 2,
    DCC_KIND_CHAT_OUT = 3,
};

enum dcc_state {
    STAT_QUEUED = 0, // "Waiting"
    STAT_ACTIVE = 1,
    STAT_FAILED = 2,
    STAT_DONE = 3,
    STAT_CONNECTING = 4,
    STAT_ABORTED = 5,
};

enum dcc_flags : unsigned {
    DCC_RESUME_REQUESTED = 0x01,
    DCC_FAST_SEND = 0x02,
    DCC_RELATIVE_ACK = 0x04,
    DCC_THROTTLED_OWN = 0x08,
    DCC_THROTTLED_GLOBAL = 0x10,
};

// Results of the resume check.
enum dcc_resume_result {
    DCC_RESUME_NONE = 0,         // nothing to resume, or resumable
    DCC_RESUME_NO_ACCESS = 1,    // the local file cannot be used (resume_errno)
    DCC_RESUME_COMPLETE = 2,     // the local file is as large as the offer
    DCC_RESUME_SAME_FILE = 3,    // another receive writes the same file
    DCC_RESUME_OTHER_SOURCE = 4, // the partial file did not come from this nick
};

struct dcc_state_info {
    const char *name; // untranslated; show with _()
    int colour;       // palette index
};
extern const dcc_state_info dccstat[];
// "SEND", "RECV", "CHAT", "CHAT" by kind.
extern const char *const dcctypes[];

struct dcc_proxy_job;

struct DCC {
    server *serv = nullptr;
    std::string chat_buffer;   // chats: the line being collected
    uint32_t peer_address = 0; // host order
    int file_fd = -1;
    int socket_fd = -1;
    int write_watch = 0;
    int read_watch = 0;
    uint32_t port = 0;
    uint32_t passive_token = 0;
    int64_t speed = 0;
    int resume_error = 0;
    int resume_errno = 0;
    gint64 speed_window_start = 0; // monotonic microseconds
    gint64 speed_last_time = 0;
    uint64_t speed_last_position = 0;
    int64_t speed_limit = 0;
    unsigned char ack_bytes[4] = {};
    int ack_count = 0;
    uint64_t size = 0;
    uint64_t resume_offset = 0;
    uint64_t acknowledged = 0;
    uint64_t position = 0;
    time_t start_time = 0;
    time_t offer_time = 0;
    time_t last_activity = 0;
    std::string file;      // sends: local path; receives: offered name
    std::string dest_path; // receives: local path written
    std::string nick;
    int kind = DCC_KIND_SEND;
    int status = STAT_QUEUED;
    unsigned flags = 0;

    // Internal: the receive's file was opened; the outgoing connection's
    // proxy handshake running on a worker; the speed has been sampled once.
    bool file_opened = false;
    dcc_proxy_job *proxy_job = nullptr;
    bool speed_sampled = false;
    gint64 flow_start = 0;  // monotonic microseconds when data began to flow
    uint64_t chat_sent = 0; // chats: the part of `position` we wrote
};

// Every record, newest first (DCC *).
extern GSList *dcc_list;

// A DCC request from `nick` (word[3] the target, word[4] ":\x01DCC",
// word[5] the DCC type, the following words its arguments, quoted file
// names kept as one word).
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
// Accepts the waiting offer `dcc` (asks to resume when that is set and possible).
void dcc_get(DCC *dcc);
// Accepts, saving under `path` instead of the download folder's name.
void dcc_get_with_destfile(DCC *dcc, const char *path);
// Accepts the first waiting file offer from `nick`.
void dcc_get_nick(session *sess, const char *nick);
// Asks the sender to continue from the local file's size; false (with
// resume_error set) when that is not possible.
bool dcc_resume(DCC *dcc);
// Stops a transfer or chat, or removes a finished one; messages go to `sess`.
void dcc_abort(session *sess, DCC *dcc);
// The first record matching `nick` (IRC case; null or "" any), `file` (its
// last component or the whole name, ASCII case; null or "" any) and `kind`
// (a dcc_kind, -1 any); borrowed, or nullptr.
DCC *find_dcc(const char *nick, const char *file, int kind);
// Follows a nick change of a DCC peer on `serv`.
void dcc_change_nick(server *serv, const char *oldnick, const char *newnick);
// `serv` is being freed: its records move to another server (or none).
void dcc_notify_kill(server *serv);
bool is_dcc(const DCC *dcc);
bool is_dcc_completed(const DCC *dcc);
// Bytes done for display: the resume point while waiting, else the
// position (sends: what the peer acknowledged).
uint64_t dcc_done_bytes(const DCC *dcc);
// Seconds left at the current speed; -1 when the speed is 0.
int64_t dcc_eta_seconds(const DCC *dcc);
