// The recording front end: defines every fe_ function of fe.h for the unit
// tests. Each call is appended to a log (name, arguments as text, the session
// and server it concerned); a failing test prints its log. Timers, idle calls
// and watches really run on the GLib default main context, so a test drives
// them with run_until()/run_for(). Questions are answered from canned answers,
// always later from the main loop, never re-entrantly.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct session;
struct server;

namespace fe_recorder
{

struct call {
    std::string name; // "fe_print_text"
    std::string args; // "#chan, \"hello\\n\""
    session *sess = nullptr;
    server *serv = nullptr;

    std::string text() const { return name + "(" + args + ")"; }
    bool operator==(const call &) const = default;
};
std::ostream &operator<<(std::ostream &os, const call &c);

// Empties the log and the remembered input-box texts, clears the fe_exit
// request and restores the default answers. The listener calls it before
// every test.
void reset();

const std::vector<call> &calls();
// The calls of one function, in order.
std::vector<call> calls_named(std::string_view name);
int count(std::string_view name);

// Texts handed to fe_print_text, unchanged (formatting codes and line ends
// kept): for one session, or for all sessions.
std::vector<std::string> printed(const session *sess);
std::vector<std::string> printed_text();
// What the user would read in a session: the printed texts split into lines,
// formatting codes removed, no empty final line.
std::vector<std::string> shown(const session *sess);
// Whether a shown line of `sess` contains `needle`.
bool was_shown(const session *sess, std::string_view needle);
// Texts handed to fe_message.
std::vector<std::string> messages();

// Removes IRC formatting codes (bold, colour with its digits, hidden,
// reset, reverse, italic, strike-through, underline, bell).
std::string strip_codes(std::string_view text);

// The whole log, one call per line.
std::string dump();

// How the questions are answered. Defaults: everything cancelled / "no".
struct answers {
    bool cancelled = true;           // fe_get_str, fe_get_password, fe_get_int, fe_get_file, fe_confirm
    std::optional<std::string> text; // fe_get_str / fe_get_password; unset: the default text
    std::optional<int> number;       // fe_get_int; unset: the default value
    bool yes = false;                // fe_get_bool
    std::vector<std::string> files;  // fe_get_file: one callback per path
};
void set_answers(const answers &a);

// Makes fe_preferences_persistence_save_all act as if the colours file could
// not be prepared (the settings temporary file is then discarded too).
void set_colors_save_fails(bool fails);
// What fe_gui_info answers for info type 0 (default 1: window active).
void set_window_state(int state);

// Iterates the default main context until `done` returns true or
// `timeout_ms` passed; returns the last value of `done`.
bool run_until(const std::function<bool()> &done, int timeout_ms);
// Iterates the default main context for `ms` milliseconds.
void run_for(int ms);
// Destroys every timer, idle call and watch still pending that was created
// through the fe_ functions (tags the core still holds become harmless).
void cancel_sources();
// Whether fe_exit was called since the last reset().
bool exit_requested();

// Prints the log of a failed test (on by default).
void set_dump_on_failure(bool on);

} // namespace fe_recorder
