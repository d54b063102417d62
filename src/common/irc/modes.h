// Channel modes and server features: the ISUPPORT (005) values kept in the
// server record, the nick prefixes they define, MODE interpretation and the
// batched MODE lines of the mass-mode commands.
#pragma once

struct server;
struct session;
struct message_tags_data;

// Most channel-access levels (PREFIX entries) kept: one bit each in
// User::access. A longer PREFIX is cut to this many.
inline constexpr int MAX_NICK_LEVELS = 32;
// Default ISUPPORT values, in force until the server announces its own.
inline constexpr char DEFAULT_CHANTYPES[] = "#&!+";
inline constexpr char DEFAULT_CHANMODES[] = "beI,k,l";
inline constexpr char DEFAULT_NICKMODES[] = "ohv";
inline constexpr char DEFAULT_NICKPREFIXES[] = "@%+";
inline constexpr int DEFAULT_MODES_PER_LINE = 3;

// Whether `name` starts with one of the server's channel types.
bool is_channel(server *serv, const char *name);
// Access bits of the prefix characters at the start of `name`; the number of
// characters they take goes to *prefix_len (when not null).
unsigned int nick_access(server *serv, const char *name, int *prefix_len);
// Prefix character of the highest level in `access`, or 0.
char get_nick_prefix(server *serv, unsigned int access);
// Level of a PREFIX mode letter (its character into *prefix when not null),
// or -1 (and 0) when the letter is not a nick mode.
int mode_access(server *serv, char mode, char *prefix);
// Which of the four CHANMODES groups `mode` is in: 0 list modes, 1 modes
// that always take an argument, 2 argument-when-set, 3 no argument; -1 when
// the server did not list it.
int chanmode_group(server *serv, char mode);

// Applies the ISUPPORT tokens of one 005 line (words 4 to 31).
void inbound_005(server *serv, char *word[]);
// A MODE line from `nick`, or (numeric_324 set) the 324 channel-modes
// reply, whose setter is "".
void handle_mode(server *serv, char *word[], char *word_eol[], char *nick, int numeric_324,
                 const message_tags_data *tags);
// Sends `sign` `mode` for the nicks word[first] .. word[end - 1] to the
// session's channel, as few MODE lines as the per-line limit (`modes_per_line`,
// or the server's MODES when below 1) and the line length allow.
void send_channel_modes(session *sess, char *word[], int first, int end, char sign, char mode, int modes_per_line);
