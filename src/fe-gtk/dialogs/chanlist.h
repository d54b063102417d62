// The channel list window of a server (one per server).
#pragma once

struct server;

// Brings the server's window to the front, or builds it; `download` starts a
// download at once, with `list_args` (when not empty) as the LIST arguments.
void chanlist_opengui(server *serv, bool download, const char *list_args = nullptr);
