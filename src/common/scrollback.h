// Scrollback files replayed into new tabs.
#pragma once

struct session;

// Replays the session's scrollback; returns the number of lines replayed.
int scrollback_load(session *sess);
void scrollback_close(session *sess);
