// What the DCC modules share among themselves: record life cycle (dcc.cpp),
// sockets and data flow (dcc-io.cpp), and the speed clock (dcc-speed.cpp).
#pragma once

#include "dcc/dcc.h"

struct session;
struct server;

// ---- dcc.cpp ----
// Ends the record's watches, socket and file and sets `state`; a finished
// receive moves to the completed folder. `destroy`: also unlink and free it.
void dcc_close_record(DCC *dcc, int state, bool destroy);
// The session that shows the record's messages.
session *dcc_session(const DCC *dcc);
// "SEND", "RECV" or "CHAT".
const char *dcc_type_name(const DCC *dcc);
// Average bytes per second since the transfer started.
int64_t dcc_average_speed(const DCC *dcc);
// The address our listening sockets bind to (host order), 0 for any.
uint32_t dcc_bind_address(const server *serv);
// The passive token for a new passive offer (first one random 1..255).
uint32_t dcc_next_token();
// Sends a CTCP request to the record's nick.
void dcc_send_ctcp(DCC *dcc, const std::string &text);
// The receive's file is complete or just opened: keep the partial-file list.
void dcc_partial_forget(const DCC *dcc);
void dcc_partial_remember(const DCC *dcc);

// ---- dcc-io.cpp ----
// Listens for the peer (our offers, passive requests we answer); false
// (message printed in `sess`) when no port can be bound.
bool dcc_listen(DCC *dcc, session *sess);
// Accepts an offer: connects out, or listens and answers a passive offer.
void dcc_connect_record(DCC *dcc);
// Throttled transfers resume with their own handler.
void dcc_unthrottle(DCC *dcc);
// Frees a proxy job still running for the record.
void dcc_proxy_detach(DCC *dcc);

// ---- dcc-speed.cpp ----
// The one-second timer's work for every record.
int dcc_tick(void *unused) noexcept;
// Bytes the per-transfer limit lets through now (UINT64_MAX without one):
// the limit times the seconds since data began, plus a small burst.
uint64_t dcc_allowance(const DCC *dcc);
// Active record leaving: its speed no longer counts in the sums.
void dcc_speed_forget(DCC *dcc);
