// Text output of the core: the table of text events with its format language,
// the print pipeline every shown line goes through (log, scrollback, front
// end), event alerts and sounds.
#pragma once

#include <glib.h>

#include <cstddef>
#include <ctime>

struct session;

// Indexes of the text-event table (event name and argument count).
enum text_event_index {
    XP_TE_ADD_NOTIFY = 0,                    // "Add Notify" (1)
    XP_TE_BAN_LIST = 1,                      // "Ban List" (4)
    XP_TE_BANNED = 2,                        // "Banned" (1)
    XP_TE_BEEP = 3,                          // "Beep" (0)
    XP_TE_CAPABILITY_ACKNOWLEDGEMENT = 4,    // "Capability Acknowledgement" (2)
    XP_TE_CAPABILITY_DELETED = 5,            // "Capability Deleted" (2)
    XP_TE_CAPABILITY_LIST = 6,               // "Capability List" (2)
    XP_TE_CAPABILITY_REQUEST = 7,            // "Capability Request" (1)
    XP_TE_CHANGE_NICK = 8,                   // "Change Nick" (2)
    XP_TE_CHANNEL_ACTION = 9,                // "Channel Action" (4)
    XP_TE_CHANNEL_ACTION_HILIGHT = 10,       // "Channel Action Hilight" (4)
    XP_TE_CHANNEL_BAN = 11,                  // "Channel Ban" (2)
    XP_TE_CHANNEL_CREATION = 12,             // "Channel Creation" (2)
    XP_TE_CHANNEL_DEHALFOP = 13,             // "Channel DeHalfOp" (2)
    XP_TE_CHANNEL_DEOP = 14,                 // "Channel DeOp" (2)
    XP_TE_CHANNEL_DEVOICE = 15,              // "Channel DeVoice" (2)
    XP_TE_CHANNEL_EXEMPT = 16,               // "Channel Exempt" (2)
    XP_TE_CHANNEL_HALF_OPERATOR = 17,        // "Channel Half-Operator" (2)
    XP_TE_CHANNEL_INVITE = 18,               // "Channel INVITE" (2)
    XP_TE_CHANNEL_LIST = 19,                 // "Channel List" (0)
    XP_TE_CHANNEL_MESSAGE = 20,              // "Channel Message" (4)
    XP_TE_CHANNEL_MODE_GENERIC = 21,         // "Channel Mode Generic" (4)
    XP_TE_CHANNEL_MODES = 22,                // "Channel Modes" (2)
    XP_TE_CHANNEL_MSG_HILIGHT = 23,          // "Channel Msg Hilight" (4)
    XP_TE_CHANNEL_NOTICE = 24,               // "Channel Notice" (3)
    XP_TE_CHANNEL_OPERATOR = 25,             // "Channel Operator" (2)
    XP_TE_CHANNEL_QUIET = 26,                // "Channel Quiet" (2)
    XP_TE_CHANNEL_REMOVE_EXEMPT = 27,        // "Channel Remove Exempt" (2)
    XP_TE_CHANNEL_REMOVE_INVITE = 28,        // "Channel Remove Invite" (2)
    XP_TE_CHANNEL_REMOVE_KEYWORD = 29,       // "Channel Remove Keyword" (1)
    XP_TE_CHANNEL_REMOVE_LIMIT = 30,         // "Channel Remove Limit" (1)
    XP_TE_CHANNEL_SET_KEY = 31,              // "Channel Set Key" (2)
    XP_TE_CHANNEL_SET_LIMIT = 32,            // "Channel Set Limit" (2)
    XP_TE_CHANNEL_UNBAN = 33,                // "Channel UnBan" (2)
    XP_TE_CHANNEL_UNQUIET = 34,              // "Channel UnQuiet" (2)
    XP_TE_CHANNEL_URL = 35,                  // "Channel Url" (2)
    XP_TE_CHANNEL_VOICE = 36,                // "Channel Voice" (2)
    XP_TE_CONNECTED = 37,                    // "Connected" (0)
    XP_TE_CONNECTING = 38,                   // "Connecting" (3)
    XP_TE_CONNECTION_FAILED = 39,            // "Connection Failed" (1)
    XP_TE_CTCP_GENERIC = 40,                 // "CTCP Generic" (2)
    XP_TE_CTCP_GENERIC_TO_CHANNEL = 41,      // "CTCP Generic to Channel" (3)
    XP_TE_CTCP_SEND = 42,                    // "CTCP Send" (2)
    XP_TE_CTCP_SOUND = 43,                   // "CTCP Sound" (2)
    XP_TE_CTCP_SOUND_TO_CHANNEL = 44,        // "CTCP Sound to Channel" (3)
    XP_TE_DCC_CHAT_ABORT = 45,               // "DCC CHAT Abort" (1)
    XP_TE_DCC_CHAT_CONNECT = 46,             // "DCC CHAT Connect" (2)
    XP_TE_DCC_CHAT_FAILED = 47,              // "DCC CHAT Failed" (4)
    XP_TE_DCC_CHAT_OFFER = 48,               // "DCC CHAT Offer" (1)
    XP_TE_DCC_CHAT_OFFERING = 49,            // "DCC CHAT Offering" (1)
    XP_TE_DCC_CHAT_REOFFER = 50,             // "DCC CHAT Reoffer" (1)
    XP_TE_DCC_CONECTION_FAILED = 51,         // "DCC Conection Failed" (3)
    XP_TE_DCC_GENERIC_OFFER = 52,            // "DCC Generic Offer" (2)
    XP_TE_DCC_HEADER = 53,                   // "DCC Header" (0)
    XP_TE_DCC_MALFORMED = 54,                // "DCC Malformed" (2)
    XP_TE_DCC_OFFER = 55,                    // "DCC Offer" (3)
    XP_TE_DCC_OFFER_NOT_VALID = 56,          // "DCC Offer Not Valid" (0)
    XP_TE_DCC_RECV_ABORT = 57,               // "DCC RECV Abort" (2)
    XP_TE_DCC_RECV_COMPLETE = 58,            // "DCC RECV Complete" (4)
    XP_TE_DCC_RECV_CONNECT = 59,             // "DCC RECV Connect" (3)
    XP_TE_DCC_RECV_FAILED = 60,              // "DCC RECV Failed" (4)
    XP_TE_DCC_RECV_FILE_OPEN_ERROR = 61,     // "DCC RECV File Open Error" (2)
    XP_TE_DCC_RENAME = 62,                   // "DCC Rename" (2)
    XP_TE_DCC_RESUME_REQUEST = 63,           // "DCC RESUME Request" (3)
    XP_TE_DCC_SEND_ABORT = 64,               // "DCC SEND Abort" (2)
    XP_TE_DCC_SEND_COMPLETE = 65,            // "DCC SEND Complete" (3)
    XP_TE_DCC_SEND_CONNECT = 66,             // "DCC SEND Connect" (3)
    XP_TE_DCC_SEND_FAILED = 67,              // "DCC SEND Failed" (3)
    XP_TE_DCC_SEND_OFFER = 68,               // "DCC SEND Offer" (4)
    XP_TE_DCC_STALL = 69,                    // "DCC Stall" (3)
    XP_TE_DCC_TIMEOUT = 70,                  // "DCC Timeout" (3)
    XP_TE_DELETE_NOTIFY = 71,                // "Delete Notify" (1)
    XP_TE_DISCONNECTED = 72,                 // "Disconnected" (1)
    XP_TE_FAIL = 73,                         // "Fail" (2)
    XP_TE_FAIL_COMMAND = 74,                 // "Fail Command" (3)
    XP_TE_FOUND_IP = 75,                     // "Found IP" (1)
    XP_TE_GENERIC_MESSAGE = 76,              // "Generic Message" (2)
    XP_TE_IGNORE_ADD = 77,                   // "Ignore Add" (1)
    XP_TE_IGNORE_CHANGED = 78,               // "Ignore Changed" (1)
    XP_TE_IGNORE_FOOTER = 79,                // "Ignore Footer" (0)
    XP_TE_IGNORE_HEADER = 80,                // "Ignore Header" (0)
    XP_TE_IGNORE_REMOVE = 81,                // "Ignore Remove" (1)
    XP_TE_IGNORELIST_EMPTY = 82,             // "Ignorelist Empty" (0)
    XP_TE_INVITE = 83,                       // "Invite" (1)
    XP_TE_INVITED = 84,                      // "Invited" (3)
    XP_TE_INVITED_OTHER = 85,                // "Invited Other" (4)
    XP_TE_JOIN = 86,                         // "Join" (4)
    XP_TE_KEYWORD = 87,                      // "Keyword" (1)
    XP_TE_KICK = 88,                         // "Kick" (4)
    XP_TE_KILLED = 89,                       // "Killed" (2)
    XP_TE_MESSAGE_SEND = 90,                 // "Message Send" (2)
    XP_TE_MOTD = 91,                         // "Motd" (1)
    XP_TE_MOTD_SKIPPED = 92,                 // "MOTD Skipped" (0)
    XP_TE_NICK_CLASH = 93,                   // "Nick Clash" (2)
    XP_TE_NICK_ERRONEOUS = 94,               // "Nick Erroneous" (2)
    XP_TE_NICK_FAILED = 95,                  // "Nick Failed" (0)
    XP_TE_NO_DCC = 96,                       // "No DCC" (0)
    XP_TE_NO_RUNNING_PROCESS = 97,           // "No Running Process" (0)
    XP_TE_NOTE = 98,                         // "Note" (2)
    XP_TE_NOTE_COMMAND = 99,                 // "Note Command" (3)
    XP_TE_NOTICE = 100,                      // "Notice" (2)
    XP_TE_NOTICE_SEND = 101,                 // "Notice Send" (2)
    XP_TE_NOTIFY_AWAY = 102,                 // "Notify Away" (2)
    XP_TE_NOTIFY_BACK = 103,                 // "Notify Back" (1)
    XP_TE_NOTIFY_EMPTY = 104,                // "Notify Empty" (0)
    XP_TE_NOTIFY_HEADER = 105,               // "Notify Header" (0)
    XP_TE_NOTIFY_NUMBER = 106,               // "Notify Number" (1)
    XP_TE_NOTIFY_OFFLINE = 107,              // "Notify Offline" (3)
    XP_TE_NOTIFY_ONLINE = 108,               // "Notify Online" (3)
    XP_TE_OPEN_DIALOG = 109,                 // "Open Dialog" (0)
    XP_TE_PART = 110,                        // "Part" (3)
    XP_TE_PART_WITH_REASON = 111,            // "Part with Reason" (4)
    XP_TE_PING_REPLY = 112,                  // "Ping Reply" (2)
    XP_TE_PING_TIMEOUT = 113,                // "Ping Timeout" (1)
    XP_TE_PRIVATE_ACTION = 114,              // "Private Action" (3)
    XP_TE_PRIVATE_ACTION_TO_DIALOG = 115,    // "Private Action to Dialog" (3)
    XP_TE_PRIVATE_MESSAGE = 116,             // "Private Message" (3)
    XP_TE_PRIVATE_MESSAGE_TO_DIALOG = 117,   // "Private Message to Dialog" (3)
    XP_TE_PROCESS_ALREADY_RUNNING = 118,     // "Process Already Running" (0)
    XP_TE_QUIT = 119,                        // "Quit" (3)
    XP_TE_RAW_MODES = 120,                   // "Raw Modes" (2)
    XP_TE_RECEIVE_WALLOPS = 121,             // "Receive Wallops" (2)
    XP_TE_RESOLVING_USER = 122,              // "Resolving User" (2)
    XP_TE_SASL_AUTHENTICATING = 123,         // "SASL Authenticating" (2)
    XP_TE_SASL_RESPONSE = 124,               // "SASL Response" (4)
    XP_TE_SERVER_CONNECTED = 125,            // "Server Connected" (0)
    XP_TE_SERVER_ERROR = 126,                // "Server Error" (1)
    XP_TE_SERVER_LOOKUP = 127,               // "Server Lookup" (1)
    XP_TE_SERVER_NOTICE = 128,               // "Server Notice" (2)
    XP_TE_SERVER_TEXT = 129,                 // "Server Text" (3)
    XP_TE_SSL_MESSAGE = 130,                 // "SSL Message" (2)
    XP_TE_STOP_CONNECTION = 131,             // "Stop Connection" (1)
    XP_TE_TOPIC = 132,                       // "Topic" (2)
    XP_TE_TOPIC_CHANGE = 133,                // "Topic Change" (3)
    XP_TE_TOPIC_CREATION = 134,              // "Topic Creation" (3)
    XP_TE_UNKNOWN_HOST = 135,                // "Unknown Host" (0)
    XP_TE_USER_LIMIT = 136,                  // "User Limit" (1)
    XP_TE_USERS_ON_CHANNEL = 137,            // "Users On Channel" (2)
    XP_TE_WARN = 138,                        // "Warn" (2)
    XP_TE_WARN_COMMAND = 139,                // "Warn Command" (3)
    XP_TE_WHOIS_AUTHENTICATED = 140,         // "WhoIs Authenticated" (3)
    XP_TE_WHOIS_AWAY_LINE = 141,             // "WhoIs Away Line" (2)
    XP_TE_WHOIS_CHANNEL_OPER_LINE = 142,     // "WhoIs Channel/Oper Line" (2)
    XP_TE_WHOIS_END = 143,                   // "WhoIs End" (1)
    XP_TE_WHOIS_IDENTIFIED = 144,            // "WhoIs Identified" (2)
    XP_TE_WHOIS_IDLE_LINE = 145,             // "WhoIs Idle Line" (2)
    XP_TE_WHOIS_IDLE_LINE_WITH_SIGNON = 146, // "WhoIs Idle Line with Signon" (3)
    XP_TE_WHOIS_NAME_LINE = 147,             // "WhoIs Name Line" (4)
    XP_TE_WHOIS_REAL_HOST = 148,             // "WhoIs Real Host" (4)
    XP_TE_WHOIS_SERVER_LINE = 149,           // "WhoIs Server Line" (2)
    XP_TE_WHOIS_SPECIAL = 150,               // "WhoIs Special" (3)
    XP_TE_YOU_JOIN = 151,                    // "You Join" (3)
    XP_TE_YOU_KICKED = 152,                  // "You Kicked" (4)
    XP_TE_YOU_PART = 153,                    // "You Part" (3)
    XP_TE_YOU_PART_WITH_REASON = 154,        // "You Part with Reason" (4)
    XP_TE_YOUR_ACTION = 155,                 // "Your Action" (3)
    XP_TE_YOUR_INVITATION = 156,             // "Your Invitation" (3)
    XP_TE_YOUR_MESSAGE = 157,                // "Your Message" (4)
    XP_TE_YOUR_NICK_CHANGING = 158,          // "Your Nick Changing" (2)
    NUM_XP = 159,
};

// One row of the event table. The low 7 bits of `num_args` are the argument
// count; TE_UNTRANSLATED marks a default text that is never translated.
struct text_event {
    const char *name;
    const char *args[4]; // argument descriptions, translatable; null when unused
    unsigned char num_args;
    const char *def;
};
inline constexpr unsigned char TE_UNTRANSLATED = 0x80;
inline constexpr unsigned char TE_ARGS_MASK = 0x7f;
// Callers of format_event pass a buffer of this size.
inline constexpr std::size_t TE_BUFFER_SIZE = 4096;

extern const text_event te[NUM_XP];
// Current format text of each event (owned), its compiled form (owned), and
// the sound file assigned to it (owned; null or empty when none).
extern char *pntevts_text[NUM_XP];
extern char *pntevts[NUM_XP];
extern char *sound_files[NUM_XP];

// Emits event `index` in `sess` (must be valid) with up to four arguments
// (each may be null); `timestamp` 0 means now. Plugins may swallow it;
// otherwise it alerts, is formatted, logged, saved to scrollback and shown.
void text_emit(int index, session *sess, const char *a, const char *b, const char *c, const char *d, time_t timestamp);
// text_emit by exact event name; 1 when the name exists, 0 otherwise.
int text_emit_by_name(const char *name, session *sess, time_t timestamp, const char *a, const char *b, const char *c,
                      const char *d);
// The current format text of the named event (borrowed), or null.
const char *text_find_format_string(const char *name);

// Compiles a format text. 0 on success: the compiled buffer goes to *output
// (g_free; discarded when output is null) and *max_arg (when given) gets the
// highest $N used, -1 when none. 1 on error, after a warning to the user.
int pevt_build_string(const char *input, char **output, int *max_arg);
// Formats event `index` with the word array `word` (32 slots, slot 0 the
// event name) into `out` (`size` bytes, always terminated). Bit k+1 of
// `strip_args` strips the codes from argument $k+1. An over-long result is
// cut at a character boundary and still ends in a line feed; an event
// without text gives the empty string.
void format_event(session *sess, int index, char **word, char *out, std::size_t size, unsigned int strip_args);
// Converts the percent codes (%B, %C, %O, ... and, with `numeric`, %NNN) in
// place; the text never grows.
void check_special_chars(char *text, bool numeric);

// Compiles every current text into pntevts, falling back to the defaults
// (and marking the texts for saving) when a text is broken.
void pevent_make_pntevts(void);
// Start-up: texts from pevents.conf, defaults for the rest, then compiled.
void load_text_events(void);
// Reads an events file (null: pevents.conf); 0 on success, 1 when it cannot
// be opened or read. Texts are not compiled here.
int pevent_load(const char *filename);
// Applies `len` bytes of events-file text (any bytes) as pevent_load does.
void pevent_load_text(const char *text, std::size_t len);
// Writes an events file (null: pevents.conf, left alone when unchanged).
void pevent_save(const char *filename);

// sound.conf: load, the same from `len` bytes of text, and save.
void sound_load(void);
void sound_load_text(const char *text, std::size_t len);
void sound_save(void);
// Plays a sound file (relative names are under "sounds" of the configuration
// directory); an unreadable file is reported unless `quiet`.
void sound_play(const char *file, bool quiet);
// Plays the sound assigned to event `index`, if any.
void sound_play_event(int index);
// The "Beep" sound, else the front end's beep; nothing while the window has
// the focus and gui_focus_omitalerts is on.
void sound_beep(session *sess);

// Palette entry used for a nick's colour.
int text_color_of(const char *nick);
// Translated names of the events whose text uses palette entry `color`
// (0-31) as foreground or background: a null-terminated array (g_strfreev)
// with its length in *count, or null when none or the colour is above 31.
char **text_color_event_names(int color, int *count);

// A copy of `text` (len -1: to NUL) with invalid UTF-8 replaced by U+FFFD;
// g_free it. *out_len (when given) gets its length.
char *text_fixup_invalid_utf8(const char *text, gssize len, gsize *out_len);
// Converts `text` with `converter`; each byte that cannot be converted is
// replaced by `fallback` (already in the target encoding). g_free the result.
char *text_convert_invalid(const char *text, gssize len, GIConv converter, const char *fallback, gsize *out_len);

// The print pipeline for finished text (may hold several lines): log,
// scrollback, then the front end. A null session means the first session;
// with none at all nothing happens. Text is never used as a format.
void PrintText(session *sess, const char *text);
void PrintTextf(session *sess, const char *format, ...) G_GNUC_PRINTF(2, 3);
void PrintTextTimeStamp(session *sess, const char *text, time_t stamp);
void PrintTextTimeStampf(session *sess, time_t stamp, const char *format, ...) G_GNUC_PRINTF(3, 4);
