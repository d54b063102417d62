// The ban list's rules, without a display: which list types a server offers,
// which buttons may be used, and how the dates sort.
#pragma once

#include <cstdint>

struct banlist_type {
    const char *plural;   // check box
    const char *singular; // Type column
    char letter;
    int entry_numeric;
    int end_numeric;
};

enum { BANLIST_TYPES = 4 };
extern const banlist_type banlist_types[BANLIST_TYPES];

// Bit sets of types (bit i = banlist_types[i]).
struct banlist_availability {
    unsigned op;
    unsigned nonop;
};
banlist_availability banlist_available(const char *chanmodes, bool have_excepts, bool have_invex);

// The type an entry or end numeric belongs to, -1 for none.
int banlist_type_of(int numeric);

struct banlist_buttons {
    unsigned allowed; // types whose check boxes are sensitive
    bool remove, crop, clear, refresh;
};
banlist_buttons banlist_sensitivity(const banlist_availability &avail, bool is_op, int rows, int selected,
                                    unsigned pending, unsigned selected_types);

// A sort key for a date in the ctime form ("Tue Dec  8 06:31:20 2026"):
// larger is later; an empty or unreadable date is the earliest (0).
std::int64_t banlist_date_key(const char *date);
