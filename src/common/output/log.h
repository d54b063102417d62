// Conversation logs: one file per session, named by the irc_logmask setting,
// plus the path cleaning that keeps log and scrollback files inside their
// directories.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

struct session;

// Opens (or reopens, with a new BEGIN line) the session's log when logging
// is on for it, and closes it otherwise.
void log_open_or_close(session *sess);
// Writes the ENDING line and closes the session's log, if one is open.
void log_close(session *sess);
// Appends one printed text (codes removed, stamp_log's time stamp first)
// when logging is on for the session, opening the log as needed.
void log_write(session *sess, const char *text, time_t stamp);
// Where the session's log is written now: the mask expanded for this
// moment, relative results under the configuration directory's "logs".
std::string log_path(session *sess);

// `when` formatted with strftime in the local time zone into a new string
// (*out, g_free); returns its length, 0 when it cannot be formatted.
int get_stamp_str(const char *format, time_t when, char **out);
// `when` as ctime writes it ("Wed Jun 30 21:49:08 1993", no line end), or
// as a number when it is outside what the calendar functions handle.
std::string log_time_text(time_t when);

// A name as it appears in a path: RFC 1459 lower case, "/" as "_", and
// with `double_percent` every "%" doubled (for a later strftime). An empty
// name becomes "_".
std::string log_clean_name(std::string_view name, bool double_percent);
// Makes a "/"-separated path safe to create: no "." or ".." component, no
// empty component, no component longer than the file-system name limit
// (long ones are shortened with a stable hash), and at most `max_len`
// bytes in all as far as shortening can get it.
std::string log_safe_path(std::string_view path, std::size_t max_len);
