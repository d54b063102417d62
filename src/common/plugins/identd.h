// The ident responder's query reading, apart from its sockets.
#pragma once

#include <string>
#include <string_view>

// "<port on this host> , <port on the peer>" as a peer sent it (without
// the line end). Each port is clamped to 65535 for the echo in the answer;
// `valid` only when both were numbers in 1..65535.
struct identd_query {
    unsigned int local = 0;
    unsigned int remote = 0;
    bool valid = false;
};

// False when the line has no comma (such a query is not answered).
bool identd_parse_query(std::string_view line, identd_query *query);
// The start of every answer: "<local>, <remote> : ".
std::string identd_answer_prefix(const identd_query &query);
