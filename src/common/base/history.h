// The input-line history of one session: a ring of the last lines typed,
// browsed with Up and Down.
#pragma once

inline constexpr int HISTORY_SIZE = 100;

// Zero-filled it is an empty history. Owns its lines.
struct history {
    char *lines[HISTORY_SIZE];
    int head; // where the next line is written
    int pos;  // the line being browsed; `head` when not browsing
};

// Stores a copy of `text` as the newest line and stops browsing.
void history_add(history *hist, const char *text);
// One line older; `current` is the entry's text, kept as a line when it was
// edited. The line (owned by the history) or nullptr when there is none older.
const char *history_up(history *hist, const char *current);
// One line newer; "" when leaving the newest line (clear the entry), nullptr
// when there is nothing newer. The line is owned by the history.
const char *history_down(history *hist);
// Forgets every line.
void history_free(history *hist);
