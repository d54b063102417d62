// The IRC protocol senders of the server record and the line parser.
#pragma once

struct server;

// Fills the protocol operations of `serv`.
void proto_fill_her_up(server *serv);
