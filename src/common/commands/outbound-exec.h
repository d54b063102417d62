// /EXEC child processes: the ANSI-to-IRC colour converter their output goes
// through, and the clean-up a session runs when it closes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <sys/types.h>

struct session;

// Colour state carried from one converted line to the next: the bright flag
// and the ANSI foreground (0-7) of the last colour written, -1 when none.
struct exec_color_state {
    bool bright = false;
    int foreground = -1;
};

// Converts one line of child output: ANSI "ESC [ n;n m" colour sequences
// become IRC colour codes, other escape sequences and carriage returns are
// dropped. The result may still hold invalid UTF-8.
std::string exec_convert_ansi(std::string_view text, exec_color_state &state);

// The longest line kept waiting for its line feed; a longer one is delivered
// in pieces of this size.
inline constexpr std::size_t EXEC_MAX_PARTIAL_LINE = 64 * 1024;

// The process id of the session's running child, 0 when it has none.
pid_t exec_child_pid(const session *sess);

// Kills (SIGKILL) and reaps the session's child, removes its watch and
// forgets it; nothing more is delivered into the session. Safe without one.
void exec_child_free(session *sess);
