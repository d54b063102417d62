// URL recognition on hostile text: the input is scanned as a server line and
// classified as a word. Besides not crashing or hanging, every URL grabbed
// must appear in the line, and the classified match must lie inside the word.
#include "fuzz_core.h"
#include "output/url.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        fuzz_core_set_up();
        prefs.url_logging = 0;
        prefs.url_grabber = 1;
        prefs.url_grabber_limit = 50;
        return true;
    }();
    (void)ready;

    const std::string text(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
    const std::string line = ":n!u@h PRIVMSG #c :" + text;
    url_clear();
    url_check_line(line.c_str());
    for (const std::string &url : url_grabbed())
        if (url.empty() || text.find(url) == std::string::npos)
            abort();

    const int kind = url_check_word(text.c_str());
    int start = 0, end = 0;
    if (url_last(&start, &end) != kind)
        abort();
    if (kind && (start < 0 || end <= start || static_cast<size_t>(end) > text.size()))
        abort();
    return 0;
}
