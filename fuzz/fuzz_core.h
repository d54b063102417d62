// Set-up shared by the fuzz targets that run the core with the text front
// end: default settings and texts, and nothing that reaches the user's files
// or the terminal.
#pragma once

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "output/text.h"

#include <fcntl.h>
#include <unistd.h>

inline void fuzz_core_set_up()
{
    // Nothing here may touch a real configuration directory.
    set_xdir("/nonexistent/lumenwick-fuzz");
    load_default_config();
    prefs.net_throttle = 0;
    // Few kept lines a tab: the text buffers stop growing at once, so
    // libFuzzer's leak check is not set off by every input.
    prefs.text_max_lines = 8;
    // The directory does not exist, and running as root must not create it:
    // no logs and no scrollback files.
    prefs.irc_logging = 0;
    prefs.text_replay = 0;
    // The text front end prints every line it shows; the fuzzer's own
    // report goes to standard error.
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
    load_text_events();
}
