// The key-binding table of the input line: which key runs which of the
// seventeen actions with which data, read from and written to
// "keybindings.conf". Needs GDK only for key names (no display), so it is
// tested without one. The menus take their accelerators from here.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The modifiers a binding can name; any other held modifier is ignored.
inline constexpr unsigned KEY_MOD_SHIFT = 1u << 0;   // GDK_SHIFT_MASK
inline constexpr unsigned KEY_MOD_CONTROL = 1u << 2; // GDK_CONTROL_MASK
inline constexpr unsigned KEY_MOD_ALT = 1u << 3;     // GDK_MOD1_MASK
inline constexpr unsigned KEY_MOD_MASK = KEY_MOD_SHIFT | KEY_MOD_CONTROL | KEY_MOD_ALT;

enum key_action {
    KEY_RUN_COMMAND = 0,
    KEY_CHANGE_PAGE,
    KEY_INSERT_BUFFER,
    KEY_SCROLL_PAGE,
    KEY_SET_BUFFER,
    KEY_LAST_COMMAND,
    KEY_NEXT_COMMAND,
    KEY_COMPLETE,
    KEY_CHANGE_SELECTED_NICK,
    KEY_CHECK_REPLACE,
    KEY_MOVE_TAB_LEFT,
    KEY_MOVE_TAB_RIGHT,
    KEY_MOVE_FAMILY_LEFT,
    KEY_MOVE_FAMILY_RIGHT,
    KEY_PUSH_HISTORY,
    KEY_MENU_SHORTCUT,
    KEY_REOPEN_TAB,
    KEY_ACTION_COUNT
};

// The name stored in the file and shown in the editor, and its help text
// (untranslated; pass through _()). Null beyond the table.
const char *key_action_name(int action);
const char *key_action_help(int action);
// The action number of a name (exact), or -1.
int key_action_find(const char *name);

struct key_binding {
    unsigned keyval = 0; // a GDK key symbol
    unsigned mods = 0;   // subset of KEY_MOD_MASK
    int action = 0;
    std::optional<std::string> data1;
    std::optional<std::string> data2;

    bool operator==(const key_binding &) const = default;
};
std::ostream &operator<<(std::ostream &os, const key_binding &b);

// Why a binding file was refused: the line (from 1) and what was wrong.
struct key_parse_error {
    int line = 0;
    std::string message; // untranslated, with the offending text

    bool operator==(const key_parse_error &) const = default;
};

struct key_parse_result {
    std::vector<key_binding> bindings; // empty when `error` is set
    std::optional<key_parse_error> error;
};

// Parses a whole binding file (current "ACCEL=" and older two-line forms).
key_parse_result key_parse(const std::string &text);
// The file text for `bindings`; rows without a key are dropped.
std::string key_write(const std::vector<key_binding> &bindings);
// The built-in bindings, as file text and parsed.
const std::string &key_default_text(void);
std::vector<key_binding> key_defaults(void);

// "<Primary><Shift>Page_Up" and back; parse gives false for an unknown key
// name or modifier.
std::string key_accel_name(unsigned keyval, unsigned mods);
bool key_accel_parse(const std::string &accel, unsigned *keyval, unsigned *mods);

// Whether a pressed key (GDK key value and full modifier state) is the one
// a binding names.
bool key_matches(const key_binding &b, unsigned keyval, unsigned state);

// Expands "\\", "\n", "\r", "\t" and "\xHH"; any other backslash stays.
std::string key_expand_escapes(const std::string &text);

// --- the program's table -----------------------------------------------------------------

// The bindings in force (defaults until key_init loads the file).
const std::vector<key_binding> &key_bindings(void);
// Loads "keybindings.conf" from the configuration directory, or the
// defaults when there is none. A file that cannot be read or parsed keeps the
// bindings in force (the defaults at start-up), tells the user why and is
// left untouched on disk.
void key_init(void);
// Puts `bindings` in force and writes them to "keybindings.conf"
// atomically. On a failed write they stay in force, the user is told, and
// false is returned.
bool key_save(std::vector<key_binding> bindings);
// Replaces the table in memory only (tests, reloads).
void key_set_bindings(std::vector<key_binding> bindings);

// The first binding running `action` with this Data 1 (and Data 2, when
// given): its key and modifiers. For menus showing accelerators.
bool key_lookup(int action, const char *data1, const char *data2, unsigned *keyval, unsigned *mods);
// The key bound to a "Menu Shortcut" by name (e.g. "close").
bool key_get_menu_accel(const char *shortcut, unsigned *keyval, unsigned *mods);
// Called after the table changed (the editor saved, the file was loaded).
void key_on_change(std::function<void()> listener);
