// Feeds arbitrary bytes to the format-text compiler as a user's event text,
// then formats whatever compiled with hostile arguments: the result must be
// terminated inside its buffer, and a non-empty line must end in a line feed.
#include "config/cfgfiles.h"
#include "output/text.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace
{

void check_output(const char *out)
{
    const void *end = memchr(out, '\0', TE_BUFFER_SIZE);
    if (!end)
        __builtin_trap();
    const std::size_t len = static_cast<const char *>(end) - out;
    if (len > 0 && out[len - 1] != '\n')
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool configured = [] {
        // Nothing here may touch a real configuration directory.
        set_xdir("/nonexistent/lumenwick-fuzz");
        load_default_config();
        load_text_events();
        return true;
    }();
    (void)configured;

    const std::string text(reinterpret_cast<const char *>(data), size);
    char *compiled = nullptr;
    int max_arg = 0;
    if (pevt_build_string(text.c_str(), &compiled, &max_arg) != 0)
        return 0;
    if (max_arg < -1 || max_arg == 0 || max_arg > 9)
        __builtin_trap();

    // Hostile arguments: long, full of codes, cut UTF-8 at the end.
    std::string long_arg;
    while (long_arg.size() < 5000)
        long_arg += "\x03"
                    "04,12\xe2\x82\xac\x02\x08";
    long_arg += "\xe2\x82";
    char empty[] = "";
    char nick[] = "n\x08ick";
    char *word[PDIWORDS];
    for (char *&w : word)
        w = empty;
    word[1] = nick;
    word[2] = long_arg.data();

    // Channel Message has four arguments, so $5 and above are skipped.
    const int index = XP_TE_CHANNEL_MESSAGE;
    char *saved = pntevts[index];
    pntevts[index] = compiled;
    char out[TE_BUFFER_SIZE];
    format_event(nullptr, index, word, out, sizeof out, 0);
    check_output(out);
    format_event(nullptr, index, word, out, sizeof out, ~0u);
    check_output(out);
    pntevts[index] = saved;
    g_free(compiled);
    return 0;
}
