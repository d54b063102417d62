// The send queue: every line for an IRC server leaves through here. With
// net_throttle on, lines wait in three priorities and leave under a flood
// clock (a short burst, then about one line every two seconds).
#pragma once

#include <glib.h>

#include <cstddef>
#include <ctime>

struct server;
typedef struct ssl_st SSL;

// One IRC line on the wire, CR LF included (RFC 1459/2812).
inline constexpr int IRC_LINE_MAX = 512;
// The message-tag section a client may put before a line: "@", at most 4094
// bytes of tags, and the separating space (IRCv3 message-tags).
inline constexpr int IRC_TAG_SECTION_MAX = 4096;
// tcp_sendf formats into a buffer of this size; lines are cut to
// IRC_LINE_MAX afterwards anyway.
inline constexpr int TCP_SENDF_BUFSIZE = 1540;

// Formats one line (the format ends in "\r\n") and sends it with
// tcp_send_len. CR and LF inside the formatted text become spaces, so a
// parameter can never start a second line.
void tcp_sendf(server *serv, const char *fmt, ...) G_GNUC_PRINTF(2, 3);
// Queues (net_throttle on) or sends the lines of `buf` (`len` bytes). Each
// line break in `buf` ends one line; every line leaves with CR LF, cut at a
// UTF-8 boundary to the protocol limits; empty lines are dropped. What the
// server's socket does not take at once waits, in order, until a write
// watch sees it writable; later lines go behind it. Returns 1.
int tcp_send_len(server *serv, const char *buf, int len);
// Like tcp_send_len, but the lines leave at once, ahead of anything queued;
// they still count against the flood clock. For QUIT and PART, which must
// reach the server even when the user pasted a long queue before leaving.
int tcp_send_now(server *serv, const char *buf, int len);
// tcp_sendf for tcp_send_now.
void tcp_sendf_now(server *serv, const char *fmt, ...) G_GNUC_PRINTF(2, 3);
// Converts `buf` from UTF-8 with `encoder` ((GIConv)-1: sent as it is;
// unconvertible characters become "?") and writes it to `tls` when set,
// else to the socket `sok`. Returns the write's result; no raw log.
int tcp_send_real(SSL *tls, int sok, GIConv encoder, const char *buf, int len);
// Drops every queued line (each is wiped first), stops the pump timer and
// shows the empty queue. Of the bytes the socket has not taken yet, only the
// rest of a line already partly written stays, so that the next line still
// starts on a line of its own; they all go (wiped) when the server is no
// longer in serv_list or its connection ended. The server's flush_queue
// operation.
void tcp_clear_queue(server *serv);

// The flood clock's time source (whole seconds); time(nullptr) by default.
// Tests move it to check the clock without waiting.
extern time_t (*tcp_clock)(void);
// Called with each queued line's memory after it was wiped and just before
// it is freed; null by default. Lets tests prove that no secret stays behind.
extern void (*tcp_line_release_hook)(const char *mem, std::size_t size);
// Called with the whole buffer of bytes that waited for the socket, after it
// was wiped and just before it is freed; null by default.
extern void (*tcp_pending_release_hook)(const char *mem, std::size_t size);
