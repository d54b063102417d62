// How a clicked or typed word becomes the URL handed to an opener, and the
// opener's environment. Pure functions over plain values; GLib only, no GTK.
#pragma once

#include <glib.h>

#include <ostream>
#include <string>

// How a clicked or typed word is turned into something an opener accepts.
enum class url_kind {
    file,      // absolute path or an existing file: a file:// URI
    ipv6_host, // bare IPv6 literal, possibly bracketed: http://[addr]
    bare_host, // no scheme at all: http://word
    as_is,     // has a ":" (a scheme): opened unchanged
};
std::ostream &operator<<(std::ostream &os, url_kind k);

// Local stand-in for the word classifier of the URL grabber; `exists` says
// whether the word names an existing file relative to the working directory.
url_kind classify_url_word(const char *word, bool exists);

// The URL to open for `word` under its classification (before escaping).
std::string url_for_word(const char *word, bool exists);

// Leaves a URL alone when it only holds URI characters and its escapes decode
// cleanly; otherwise percent-escapes it, keeping the URI delimiters.
std::string escape_url_for_opener(const std::string &url);

// The environment for the spawned opener: ours without the variables that
// bundled or preloaded copies of our libraries would leak into it. Takes
// ownership of `envp` (as g_environ_unsetenv does) and returns a new vector.
char **opener_environment(char **envp);
