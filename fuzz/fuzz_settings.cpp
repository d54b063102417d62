// Feeds arbitrary bytes to the settings reader, as the content of
// lumenwick.conf and as the text searched by the line helpers that the
// other configuration files use.
#include "config/cfgfiles.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace
{

// Every text setting must come out terminated inside its array and valid
// UTF-8, whatever the file held; the rest of the program relies on both.
void check_texts()
{
    for (const prefs_row *row = vars; row->name; row++) {
        if (row->type != TYPE_STR)
            continue;
        const char *text = reinterpret_cast<const char *>(&prefs) + row->offset;
        const void *end = memchr(text, '\0', row->len);
        if (!end || !g_utf8_validate(text, -1, nullptr))
            __builtin_trap();
    }
    if (prefs.gui_win_height < 138 || prefs.gui_win_width < 106 || strchr(prefs.irc_user_name, ' '))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool configured = [] {
        // Nothing here may touch a real configuration directory.
        set_xdir("/nonexistent/lumenwick-fuzz");
        return true;
    }();
    (void)configured;

    const char *bytes = reinterpret_cast<const char *>(data);
    load_config_from_text(bytes, size);
    check_texts();

    // The line helpers work on NUL-terminated text.
    std::string text(bytes, size);
    char value[64];
    for (const char *name : {"irc_nick1", "version", "event_name", "color_0", "x"}) {
        char *pos = text.data();
        int guard = 0;
        while ((pos = cfg_get_str(pos, name, value, sizeof(value))) != nullptr && guard++ < 1000) {
            if (!memchr(value, '\0', sizeof(value)) || !g_utf8_validate(value, -1, nullptr))
                __builtin_trap();
        }
    }
    int found = 0;
    (void)cfg_get_int(text.data(), "away_timeout");
    (void)cfg_get_int_with_result(text.data(), "gui_win_height", &found);
    guint16 r, g, b;
    (void)cfg_get_color(text.data(), "color_1", &r, &g, &b);
    return 0;
}
