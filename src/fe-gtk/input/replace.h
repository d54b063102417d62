// The replace list applied to the input line as the user types ("teh" ->
// "the"), kept apart from the toolkit.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct replace_entry {
    std::string text;        // what was typed; empty entries are ignored
    std::string replacement; // what it becomes
};

struct replace_result {
    std::string text;
    int cursor = 0; // in characters: one behind the word keeps its place after it

    bool operator==(const replace_result &) const = default;
};
std::ostream &operator<<(std::ostream &os, const replace_result &r);

// Replaces the one occurrence of an entry's text standing as a whole word
// nearest the cursor. A word is replaced only once it is complete: a
// non-word character follows it, or `line_done` (the line is being sent)
// and it ends the line — so a longer word that merely begins with an
// entry's text can still be typed. Nothing to replace: nullopt.
std::optional<replace_result> replace_check(const std::string &text, int cursor,
                                            const std::vector<replace_entry> &entries, bool line_done);

// The entries of the core's replace list ("replace.conf").
std::vector<replace_entry> replace_entries(void);
