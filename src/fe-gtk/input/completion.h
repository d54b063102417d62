// Tab completion of nicks, channels and commands in the input line, kept
// apart from the toolkit: text and cursor in, text, cursor and a listing of
// the candidates out.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct session;

enum class completion_kind { command, channel, nick };

struct completion_context {
    char command_char = '/';
    char suffix = 0;              // first character of completion_suffix, 0 for none
    int amount = 5;               // completion_amount: list rather than pick above this many
    std::string chantypes = "#&"; // the server's channel-type characters
    std::string nick_prefixes;    // the server's user-prefix characters ("@+")
    bool dialog = false;          // a dialog tab: no suffix
    // The candidates beginning with `word` (IRC case-insensitively), in the
    // order they are offered.
    std::function<std::vector<std::string>(completion_kind, const std::string &word)> candidates;
};

// The prefix typed before the first Tab of a cycle; empty: no cycle.
struct completion_state {
    std::string prefix;
};

struct completion_result {
    bool changed = false; // text or cursor differ
    std::string text;
    int cursor = 0;                   // in characters
    std::vector<std::string> listing; // lines to print into the session

    bool operator==(const completion_result &) const = default;
};
std::ostream &operator<<(std::ostream &os, const completion_result &r);

// One Tab press on `text` with the cursor at `cursor` characters; `backwards`
// cycles the other way.
completion_result completion_run(completion_state &state, const std::string &text, int cursor, bool backwards,
                                 const completion_context &ctx);

// The longest beginning all `words` share (IRC case-insensitively; the
// first word's spelling), never cutting a character.
std::string completion_common_prefix(const std::vector<std::string> &words);

// Candidates from the core: nicks of a channel in user-list order (with
// `sort_by_talk` the most recent speaker first and the own nick last; in a
// dialog only the peer), names of every channel tab, or command names (user
// commands, built-in commands, plugin commands).
std::vector<std::string> completion_candidates(session *sess, completion_kind kind, const std::string &word,
                                               bool sort_by_talk);
// The context for a session from the settings and its server.
completion_context completion_context_for(session *sess);
