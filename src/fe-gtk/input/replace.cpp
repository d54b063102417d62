// The replace rule for the input line.
#include "input/replace.h"

#include "config/list.h"

#include <glib.h>

#include <climits>

namespace
{

bool is_word_char(gunichar c)
{
    return c == '_' || g_unichar_isalnum(c);
}

struct candidate {
    size_t start = 0, end = 0; // bytes
    int rank = INT_MAX;
    long distance = LONG_MAX;
    const replace_entry *entry = nullptr;
};

} // namespace

std::ostream &operator<<(std::ostream &os, const replace_result &r)
{
    return os << '"' << r.text << "\" cursor " << r.cursor;
}

std::optional<replace_result> replace_check(const std::string &text, int cursor,
                                            const std::vector<replace_entry> &entries, bool line_done)
{
    const char *s = text.c_str();
    const auto chars = [&](size_t bytes) { return static_cast<long>(g_utf8_strlen(s, static_cast<gssize>(bytes))); };
    candidate best;
    for (const replace_entry &e : entries) {
        if (e.text.empty())
            continue;
        for (size_t at = text.find(e.text); at != std::string::npos; at = text.find(e.text, at + 1)) {
            const size_t end = at + e.text.size();
            if (at > 0) {
                const char *prev = g_utf8_find_prev_char(s, s + at);
                if (!prev || is_word_char(g_utf8_get_char(prev)))
                    continue;
            }
            if (end < text.size()) {
                if (is_word_char(g_utf8_get_char(s + end)))
                    continue;
            } else if (!line_done) {
                continue; // still being typed
            }
            candidate c{at, end, 0, 0, &e};
            const long cs = chars(at), ce = chars(end);
            if (cs <= cursor && cursor <= ce) {
                c.rank = 0;
                c.distance = ce - cursor;
            } else if (ce < cursor) {
                c.rank = 1;
                c.distance = cursor - ce;
            } else {
                c.rank = 2;
                c.distance = cs - cursor;
            }
            if (c.rank < best.rank || (c.rank == best.rank && c.distance < best.distance))
                best = c;
        }
    }
    if (!best.entry)
        return std::nullopt;
    replace_result r;
    r.text = text.substr(0, best.start) + best.entry->replacement;
    const long after = static_cast<long>(g_utf8_strlen(r.text.c_str(), -1));
    const long start = chars(best.start), end = chars(best.end);
    // A cursor behind the word keeps its place after it; one inside it goes
    // after the replacement.
    if (cursor >= end)
        r.cursor = static_cast<int>(cursor + after - end);
    else if (cursor > start)
        r.cursor = static_cast<int>(after);
    else
        r.cursor = cursor;
    r.text += text.substr(best.end);
    return r;
}

std::vector<replace_entry> replace_entries(void)
{
    std::vector<replace_entry> out;
    for (GSList *l = replace_list; l; l = l->next) {
        const auto *p = static_cast<const popup *>(l->data);
        if (p->name && *p->name)
            out.push_back({p->name, p->cmd ? p->cmd : ""});
    }
    return out;
}
