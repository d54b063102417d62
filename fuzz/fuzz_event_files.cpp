// Feeds arbitrary bytes to the readers of pevents.conf, chanopt.conf and
// sound.conf (the first byte picks the file). Whatever they read, every
// event must end up with a text that compiles, and the stores must stay
// consistent enough to be written out and emptied again.
#include "config/cfgfiles.h"
#include "output/text.h"
#include "session/chanopt.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool configured = [] {
        // Nothing here may touch a real configuration directory: every save
        // fails quietly.
        set_xdir("/nonexistent/lumenwick-fuzz");
        // Broken texts are the point here; their warnings would only slow
        // the run down.
        g_log_set_writer_func([](GLogLevelFlags, const GLogField *, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
                              nullptr, nullptr);
        load_default_config();
        load_text_events();
        return true;
    }();
    (void)configured;
    if (size == 0)
        return 0;

    const char *text = reinterpret_cast<const char *>(data) + 1;
    const std::size_t len = size - 1;
    switch (data[0] % 3) {
    case 0:
        pevent_load_text(text, len);
        pevent_make_pntevts();
        for (int i = 0; i < NUM_XP; i++)
            if (!pntevts_text[i] || !pntevts[i])
                __builtin_trap();
        load_text_events();
        break;
    case 1:
        chanopt_load_text(text, len);
        chanopt_save_all(true);
        break;
    default:
        sound_load_text(text, len);
        for (int i = 0; i < NUM_XP; i++) {
            if (sound_files[i] && !sound_files[i][0])
                __builtin_trap();
            g_free(sound_files[i]);
            sound_files[i] = nullptr;
        }
        break;
    }
    return 0;
}
