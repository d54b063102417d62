// The join dialog offered after logging in to a network with no channel to
// join automatically (gui_join_dialog); closed when the connection ends.
#pragma once

struct server;

// Opens the server's dialog unless it is open already.
void joind_open(server *serv);
void joind_close(server *serv);
