// The window title of a session, as every front end with a title bar shows it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

struct session;

// What the window title depends on, copied out of a session and its server.
struct title_fields {
    int type = 0; // session type (1 server .. 5 server notices)
    bool connected = false;
    std::string nick;
    std::string network; // network name, else the server name
    std::string channel; // channel name or dialog partner
    std::optional<std::string> mode_string;
    int user_count = 0;
    bool show_nick = true;        // gui_win_nick
    bool show_modes = false;      // gui_win_modes
    bool show_user_count = false; // gui_win_ucount
};

// Window titles are built in a buffer of this size (terminator included).
inline constexpr std::size_t TITLE_BUFFER_SIZE = 512;

// The fields of `sess` (which has a server) under the current settings.
title_fields title_fields_of(const session &sess);

// The title for a session; never longer than TITLE_BUFFER_SIZE - 1 bytes and
// always cut on a UTF-8 character boundary.
std::string window_title(const title_fields &f);
