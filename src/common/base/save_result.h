// The outcome of saving the settings and the colours together: the
// configuration module fills it and every front end reports it, so it lives
// below both.
#pragma once

// Outcome of saving the settings and colours together.
struct save_result {
    bool ok = true;
    bool settings_failed = false;
    bool colors_failed = false;
    bool settings_written_before_colors_failed = false;
    const char *failed_file = nullptr; // "lumenwick.conf" or "colors.conf"
};
