// String and IRC helpers shared by the whole core: case mapping, wildcard
// matching, bounded UTF-8-safe copying, formatting-code removal, line
// readers, hashes, timing, file helpers, the country table, system info.
#pragma once

#include <glib.h>

#include <cstddef>
#include <ctime>

// RFC 1459 case mapping: A-Z -> a-z, [ -> {, \ -> |, ] -> }, ^ -> ~.
extern const unsigned char rfc_tolowertab[256];
inline unsigned char rfc_tolower(unsigned char c)
{
    return rfc_tolowertab[c];
}

int rfc_casecmp(const char *a, const char *b);
int rfc_ncasecmp(const char *a, const char *b, std::size_t n);
// Wildcard match: * any run, ? one character, \* and \? literal; IRC case.
int match(const char *pattern, const char *text);
// Copies whole UTF-8 characters while they fit; always terminates (size >= 1).
void safe_strcpy(char *dst, const char *src, std::size_t size);
// First position of `needle` ignoring ASCII case; null when absent.
const char *nocasestrstr(const char *text, const char *needle);
const char *file_part(const char *path);
const char *path_part(const char *path, char *dst, std::size_t size);
// "~" and "~user" expanded; a new string (g_free).
char *expand_homedir(const char *path);
const char *errorstring(int err);
int waitline(int sok, char *buf, int bufsize, int use_recv);
// Writes all of `buf`, retrying after signals; false on any failure.
bool write_all(int fd, const char *buf, std::size_t len);
// Next "\n"-terminated line of buf[pos..size); false when none remains.
bool buf_get_line(char *buf, char **line, int *position, int len);
// Calls `callback` per token (text restored after each); stops when it returns <= 0.
bool token_foreach(char *str, char sep, int (*callback)(char *str, void *ud), void *ud);
guint32 str_hash(const char *key);
guint32 str_ihash(const unsigned char *key);
void canonalize_key(char *key);

// Flags of strip_color.
enum { STRIP_COLOR = 1, STRIP_ATTRIB = 2, STRIP_HIDDEN = 4, STRIP_ESCMARKUP = 8, STRIP_ALL = 7 };
// A new string (g_free) without the codes selected by `flags`; len -1: to NUL.
char *strip_color(const char *text, int len, int flags);
// Writes the stripped text into `outbuf` (len + 1 bytes) and returns its length.
int strip_color2(const char *src, int len, char *dst, int flags);
int strip_hidden_attribute(const char *src, char *dst);

unsigned long make_ping_time(void);
void base64_encode(char *out, const char *in, int inlen);
void util_exec(const char *cmd);
void for_files(const char *dirname, const char *mask, void (*callback)(char *file));
// Moves a finished download; see util.cpp for the failure rules.
void move_file(const char *src_dir, const char *dst_dir, const char *fname, int dccpermissions);
// Country name for a host's top-level domain (translated), or null.
const char *country(const char *host);
// Calls print(user_data, "CODE = Name\n") for each country whose English or
// translated name matches the wildcard `pattern`.
void country_search(const char *pattern, void *user_data, void (*print)(void *user_data, const char *line));
// Operating-system description, cached after the first call.
const char *get_sys_str(int with_cpu);
bool portable_mode(void);
std::size_t strftime_validated(char *dest, std::size_t destsize, const char *format, const struct tm *time);
// How many of the `len` bytes of `text` fit into `room` bytes without
// splitting a UTF-8 character (text that is not UTF-8 is cut at most three
// bytes early).
std::size_t utf8_prefix(const char *text, std::size_t len, std::size_t room);
std::size_t strftime_utf8(char *dest, std::size_t destsize, const char *format, time_t time);
