#include "dialogs/banlist-model.h"

#include <glib.h>
#include <glib/gi18n.h>

#include <cstdio>
#include <cstring>

const banlist_type banlist_types[BANLIST_TYPES] = {
    {N_("Bans"), N_("Ban"), 'b', 367, 368},
    {N_("Exempts"), N_("Exempt"), 'e', 348, 349},
    {N_("Invites"), N_("Invite"), 'I', 346, 347},
    {N_("Quiets"), N_("Quiet"), 'q', 728, 729},
};

banlist_availability banlist_available(const char *chanmodes, bool have_excepts, bool have_invex)
{
    // The list modes are the first group of CHANMODES.
    const char *modes = chanmodes ? chanmodes : "";
    const char *comma = std::strchr(modes, ',');
    const std::size_t len = comma ? static_cast<std::size_t>(comma - modes) : std::strlen(modes);
    auto listed = [&](char c) { return std::memchr(modes, c, len) != nullptr; };

    banlist_availability a{1u, 1u};
    if (have_excepts || listed('e'))
        a.op |= 2u;
    if (have_invex || listed('I'))
        a.op |= 4u;
    if (listed('q')) {
        a.op |= 8u;
        a.nonop |= 8u;
    }
    return a;
}

int banlist_type_of(int numeric)
{
    for (int i = 0; i < BANLIST_TYPES; i++)
        if (banlist_types[i].entry_numeric == numeric || banlist_types[i].end_numeric == numeric)
            return i;
    return -1;
}

banlist_buttons banlist_sensitivity(const banlist_availability &avail, bool is_op, int rows, int selected,
                                    unsigned pending, unsigned selected_types)
{
    banlist_buttons b{};
    b.allowed = is_op ? avail.op : avail.nonop;
    if (is_op && rows > 0) {
        b.remove = selected > 0;
        b.crop = selected > 0 && selected < rows;
        b.clear = selected == 0;
    }
    b.refresh = pending == 0 && (selected_types & b.allowed) != 0;
    return b;
}

std::int64_t banlist_date_key(const char *date)
{
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (!date || !*date)
        return 0;
    char wday[4], mon[4];
    int day, h, m, s;
    long long year;
    if (std::sscanf(date, "%3s %3s %d %d:%d:%d %lld", wday, mon, &day, &h, &m, &s, &year) != 7)
        return 0;
    const char *at = std::strlen(mon) == 3 ? std::strstr(months, mon) : nullptr;
    if (!at || (at - months) % 3 != 0 || day < 1 || day > 31 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60 ||
        year < 1 || year > 9999999)
        return 0;
    const int month = static_cast<int>(at - months) / 3;
    return ((((year * 12 + month) * 31 + (day - 1)) * 24 + h) * 60 + m) * 61 + s + 1;
}
