// The command language: running typed text and command lines, and the
// table of built-in commands.
#pragma once

#include <string>

struct session;

// Handler results.
inline constexpr int CMD_WRONG_USAGE = 0;
inline constexpr int CMD_DONE = 1;
inline constexpr int CMD_STOP = 2;

inline constexpr int CMD_BUFFER_SIZE = 4096;
inline constexpr int MAX_COMMAND_NESTING = 100;
// User commands expanded for one command line typed or run at top level,
// nested ones included: several entries of one name that run each other
// multiply, and the nesting limit alone would let that run for ages.
inline constexpr int MAX_USER_COMMAND_EXPANSIONS = 1000;
// A user command expands into this many bytes at most.
inline constexpr int USER_COMMAND_SIZE = 2048;

inline constexpr char NEEDS_CHANNEL_TAB = 2;

struct commands {
    const char *name;
    int (*callback)(session *sess, char *tbuf, char *word[], char *word_eol[]);
    char needserver;
    // 1: the tab must have a channel name (it may name another channel);
    // NEEDS_CHANNEL_TAB: the command acts on the tab's own channel, so a
    // server or dialog tab, whose name is no channel, will not do.
    char needchannel;
    char handle_quotes;
    const char *help;
};

// The built-in table, sorted by name (ASCII case-insensitive).
extern const commands xc_cmds[];
extern const int xc_cmds_count;
const commands *find_internal_command(const char *name);

// Built-in commands the filter refuses are not run (a message says so); the
// fuzz target keeps typed input from starting programs or connections with
// it. nullptr, the default, allows every command.
void set_command_filter(bool (*allow)(const char *name));

// Runs typed text: each line a command (after the command character) or text to say.
void handle_multiline(session *sess, char *cmd, int history, int nocommand);
// Runs one command line without its command character; false when a handler
// asked to stop.
bool handle_command(session *sess, char *cmd, bool check_spch);
// Runs each line of a file in the configuration directory; 0 when it cannot be opened.
int load_perform_file(session *sess, const char *file);
// What the letters %a, %c, %d, %e, %h, %n, %s and %u of a template stand for
// (null: nothing). Callers name only the letters they fill, e.g. a user
// command {.c = channel, .e = network, .n = own nick}, a CTCP reply
// {.d = arguments, .e = network, .s = asking nick}.
struct insert_values {
    const char *a = nullptr;
    const char *c = nullptr;
    const char *d = nullptr;
    const char *e = nullptr;
    const char *h = nullptr;
    const char *n = nullptr;
    const char *s = nullptr;
    const char *u = nullptr;
};

// Expands a user-command template (%2, &2, %n, %t, %v, ...) into `dest`
// (`destlen` bytes, always terminated): 1 on success, 0 when the template
// uses a word that is empty, 2 when the result was cut to fit.
// (outbound-expand.cpp)
int auto_insert(char *dest, int destlen, const unsigned char *src, char *word[], char *word_eol[],
                const insert_values &values);
// Says a line in the tab: the text a user types without the command
// character (nick completion, DCC chat, split into protocol-sized PRIVMSGs).
// `check_spch` converts percent codes as typed text does; `complete_nick`
// off keeps a first word ending in the completion suffix as it is (text that
// was not typed, such as /EXEC output).
void handle_say(session *sess, char *text, bool check_spch, bool complete_nick = true);
// Sends a line to the server as it stands. A line holding CR or LF would
// smuggle a second command; it is refused with a message and false returned.
bool outbound_send_raw(session *sess, const char *line);
// The first piece of `text` that fits one message with `overhead` bytes of
// command around it, cut on a character boundary (at a space when one is
// near the end); an empty string when all of it fits.
std::string split_up_text(session *sess, const char *text, int overhead);
// The mode text for banning `nick_or_mask` in the session's channel with
// `mode` ("+b", "+q" or "-o+b", the last with the nick as its own argument),
// e.g. "+b *!*bob@*.example.org"; an unlisted nick or a mask is used as the
// mask. Empty when nothing is to be sent (ban type outside 0-3, an address
// without "@"). (outbound-chan.cpp)
std::string make_ban_mask(session *sess, const char *nick_or_mask, const char *mode, int bantype);
// "Not connected. Try /server <host> [<port>]"
void notc_msg(session *sess);
// A network connect command with %n, %u, %r and %p filled in from the
// session's network (the text unchanged when the server has none). May hold
// the server password: the caller wipes it after use.
std::string command_insert_vars(session *sess, const char *cmd);
// Prints the help of one command (quiet: no "no help"/"no such" lines).
void help(session *sess, char *tbuf, const char *helpcmd, bool quiet);
