// Scrollback files: every printed line of a channel or dialog is appended to
// scrollback/<network>/<channel>.txt and replayed into the tab when it is
// opened again.
#pragma once

#include <ctime>
#include <string>

struct session;

// Replays the session's scrollback file into its view (when scrollback is on
// for it); returns the number of lines replayed.
int scrollback_load(session *sess);
// Closes and forgets the session's scrollback file (the file itself stays).
void scrollback_close(session *sess);
// Appends one printed text as a "T <time> <text>" record with one write to
// a descriptor kept open between lines, and trims the file to its newest
// lines once it has grown past the limit.
void scrollback_save(session *sess, const char *text, time_t stamp);
// The session's scrollback file (creating the network's directory), or the
// empty string when it has none: no network name or no channel name.
std::string scrollback_path(session *sess);
