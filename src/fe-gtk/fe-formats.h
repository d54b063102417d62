// Texts the GTK front end shows that can be computed without a display: the
// window title, the lag and throttle meters, and the URL handed to openers.
// Pure functions over plain values; GLib only, no GTK.
#pragma once

#include <glib.h>

#include <optional>
#include <ostream>
#include <string>

// What the window title depends on, copied out of a session and its server.
struct title_fields {
    int type = 0;  // session type (1 server .. 5 server notices)
    bool connected = false;
    std::string nick;
    std::string network;  // network name, else the server name
    std::string channel;  // channel name or dialog partner
    std::optional<std::string> mode_string;
    int user_count = 0;
    bool show_nick = true;         // gui_win_nick
    bool show_modes = false;       // gui_win_modes
    bool show_user_count = false;  // gui_win_ucount
};

// Window titles are built in a buffer of this size (terminator included).
inline constexpr std::size_t TITLE_BUFFER_SIZE = 512;

// The title for a session; never longer than TITLE_BUFFER_SIZE - 1 bytes and
// always cut on a UTF-8 character boundary.
std::string window_title(const title_fields &f);

// One network meter: how full the bar is, its short label and its tooltip.
struct meter_text {
    double fraction = 0.0;
    std::string label;
    std::string tooltip;

    bool operator==(const meter_text &) const = default;
};
std::ostream &operator<<(std::ostream &os, const meter_text &m);

// A lag probe unanswered for longer than this is shown as "+30.0s".
inline constexpr long LAG_DISPLAY_CAP_MS = 30000;

// The lag meter. `lag_ms` is a measured lag, or -1 to show how long the
// outstanding probe sent at `probe_ms` (0: none) has waited by `now_ms`.
// Nothing to show (-1 without a probe) gives nullopt.
std::optional<meter_text> lag_meter(long lag_ms, unsigned long probe_ms, unsigned long now_ms);

// The send-queue meter for `queued_bytes` waiting bytes.
meter_text throttle_meter(int queued_bytes);

// How a clicked or typed word is turned into something an opener accepts.
enum class url_kind {
    file,       // absolute path or an existing file: a file:// URI
    ipv6_host,  // bare IPv6 literal, possibly bracketed: http://[addr]
    bare_host,  // no scheme at all: http://word
    as_is,      // has a ":" (a scheme): opened unchanged
};
std::ostream &operator<<(std::ostream &os, url_kind k);

// Local stand-in for the word classifier of the URL grabber; `exists` says
// whether the word names an existing file relative to the working directory.
url_kind classify_url_word(const char *word, bool exists);

// The URL to open for `word` under its classification (before escaping).
std::string url_for_word(const char *word, bool exists);

// Leaves a URL alone when it only holds URI characters and its escapes decode
// cleanly; otherwise percent-escapes it, keeping the URI delimiters.
std::string escape_url_for_opener(const std::string &url);

// The environment for the spawned opener: ours without the variables that
// bundled or preloaded copies of our libraries would leak into it. Takes
// ownership of `envp` (as g_environ_unsetenv does) and returns a new vector.
char **opener_environment(char **envp);
