// Cutting a server's byte stream into lines and bringing each line to UTF-8.
// Pure functions over caller-owned buffers: the server reader, the fuzz
// targets and the benchmark all run the same code.
#pragma once

#include <glib.h>

#include <cstddef>
#include <string>

// The longest line kept: the incoming line buffer less its terminator.
inline constexpr int LINESPLIT_MAX_LINE = 8703;

// Receives one complete line, NUL-terminated in place with carriage returns
// removed. Returning false stops the feed at once.
using line_sink = bool (*)(char *line, int len, void *user_data);

// The line being assembled: a buffer of LINESPLIT_MAX_LINE + 1 bytes, the
// number of bytes in it, and whether it already overflowed.
struct line_assembly {
    char *buffer;
    int *length;
    bool *overflowed;
};

// Feeds `n` bytes: carriage returns are dropped, a line feed hands the line to
// `sink`. Bytes past LINESPLIT_MAX_LINE are dropped, with one warning on
// standard error per over-long line. Returns the bytes consumed, fewer than
// `n` only when the sink asked to stop.
std::size_t linesplit_feed(const line_assembly &line, const char *data, std::size_t n, line_sink sink, void *user_data);

// The line in UTF-8. With `encoding` exactly "UTF-8" (or no usable
// `decoder`), invalid bytes become U+FFFD; otherwise the line is converted
// with `decoder` and each byte it cannot convert becomes U+FFFD. NUL bytes
// become U+FFFD too, so the rest of the line survives as a C string. Returns
// `line` itself when it needs no change, else a pointer into `scratch`;
// *out_len receives the length.
char *linesplit_to_utf8(char *line, int len, const char *encoding, GIConv decoder, std::string &scratch, int *out_len);
