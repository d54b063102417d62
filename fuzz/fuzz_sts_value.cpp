// The "sts" capability value and sts.conf lines from arbitrary text. A value
// that parses must parse the same again from its canonical form; a line that
// reads as a policy with a duration must read back the same after it is
// written.
#include "net/sts.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{
time_t fixed_clock()
{
    return 1700000000;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sts_clock = fixed_clock;
    const std::string text(reinterpret_cast<const char *>(data), size);

    sts_value v;
    if (sts_parse_value(text, &v)) {
        std::string canonical;
        if (v.has_port)
            canonical += "port=" + std::to_string(v.port) + ",";
        if (v.has_duration)
            canonical += "duration=" + std::to_string(v.duration) + ",";
        if (v.preload)
            canonical += "preload";
        sts_value again;
        if (!sts_parse_value(canonical, &again) || !(again == v))
            abort();
    }

    const std::string key = sts_normalize_host(text);
    if (sts_normalize_host(key) != key)
        abort();

    // One line, as sts.conf is read.
    const std::string line = text.substr(0, text.find_first_of(std::string("\n\0", 2)));
    sts_profile *p = sts_profile_deserialize(line.c_str());
    if (p) {
        char *written = sts_profile_serialize(p);
        sts_profile *back = sts_profile_deserialize(written);
        // A zero duration is not written (such policies are never saved), so
        // it reads back as the time left until the expiry.
        if (!back || std::string(back->host) != p->host || back->port != p->port || back->expiry != p->expiry ||
            (p->duration && back->duration != p->duration) || back->preload != p->preload)
            abort();
        sts_profile_free(back);
        g_free(written);
        sts_profile_free(p);
    }
    return 0;
}
