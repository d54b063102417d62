// Tab completion and the replace rule on any line and cursor the input line
// can hold: no crash, the cursor stays inside the text, and the text stays
// valid UTF-8.
#include "fuzz_core.h"
#include "input/completion.h"
#include "input/replace.h"

#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

void check(const std::string &text, int cursor)
{
    if (!g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr))
        abort();
    if (cursor < 0 || cursor > g_utf8_strlen(text.c_str(), -1))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int cursor_in = data[0];
    const bool backwards = data[1] & 1;
    // The entry only ever holds valid UTF-8 without NUL.
    gchar *valid = g_utf8_make_valid(reinterpret_cast<const char *>(data + 2), static_cast<gssize>(size - 2));
    std::string text = valid;
    g_free(valid);
    const int cursor = std::min<int>(cursor_in, static_cast<int>(g_utf8_strlen(text.c_str(), -1)));

    const std::vector<replace_entry> list = {{"u", "you"}, {"teh", "the"}, {"é", "e\xcc\x81"}, {"x", ""}};
    for (bool done : {false, true})
        if (const auto r = replace_check(text, cursor, list, done))
            check(r->text, r->cursor);

    completion_context ctx;
    ctx.suffix = static_cast<char>(data[1] >> 1 & 1 ? ':' : 0);
    ctx.amount = data[1] >> 2 & 3;
    ctx.nick_prefixes = "@+";
    ctx.candidates = [](completion_kind, const std::string &word) {
        std::vector<std::string> all = {"alice", "Alicia", "\xc3\xa9mile", "bob", "#chan", "JOIN"};
        std::vector<std::string> out;
        for (const std::string &c : all)
            if (g_ascii_strncasecmp(c.c_str(), word.c_str(), word.size()) == 0)
                out.push_back(c);
        return out;
    };
    completion_state state;
    std::string t = text;
    int c = cursor;
    for (int press = 0; press < 3; press++) {
        const completion_result r = completion_run(state, t, c, backwards, ctx);
        check(r.text, r.cursor);
        t = r.text;
        c = r.cursor;
    }
    return 0;
}
