// The URL grabber (addresses caught in the lines the client shows or sends,
// kept in a list and in url.log) and the classification of the word under
// the mouse: URL, e-mail address, channel or nick.
#pragma once

#include <deque>
#include <string>

// What url_check_word found.
enum url_word_kind {
    WORD_NONE = 0,
    WORD_URL = 1,
    WORD_CHANNEL = 2,
    WORD_EMAIL = 5,
    WORD_NICK = 6,
};

// Scans one raw server line (NOTICE, PRIVMSG, TOPIC, 332 and 372 only) for
// URLs with a scheme: each is appended to url.log (url_logging) and kept in
// the grabber list (url_grabber, at most url_grabber_limit, duplicates in
// any letter case once). Linear in the line's length.
void url_check_line(const char *line);
// What kind of clickable thing `word` holds (channels and nicks as seen
// from current_sess); remembers the match's byte offsets for url_last.
int url_check_word(const char *word);
// The last result of url_check_word and its match [start, end).
int url_last(int *start, int *end);
// Writes every grabbed URL and a line feed to `file` opened with `mode`
// ("w", "a"), relative to the configuration directory unless `fullpath`;
// false when it cannot be written.
bool url_save_tree(const char *file, const char *mode, bool fullpath);
// Empties the grabbed URLs.
void url_clear(void);
// The grabbed URLs, oldest first.
const std::deque<std::string> &url_grabbed(void);
// Whether `host` (a lower- or mixed-case domain name) ends in a public
// suffix; false when the suffix list cannot be read.
bool url_host_has_public_suffix(const std::string &host);
// Reads the suffix list from `path` instead of the system one (tests, or a
// system without it); takes effect at the next lookup.
void url_set_suffix_file(const char *path);
