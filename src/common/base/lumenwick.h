// Process-wide definitions shared by every layer: the program's name and
// version, the translation macros and the fixed text sizes. The global lists
// and the start-up entry points are in session/lumenwick.h.
#pragma once

#include <glib.h>
#include <libintl.h>

#include <cstddef>

#define PACKAGE_NAME "lumenwick"
#define GETTEXT_PACKAGE "lumenwick"
#define LUMENWICK_VERSION "2.19.1"
#define DISPLAY_NAME "Lumenwick"
#define APPLICATION_ID "org.lumenwick.Lumenwick"

#ifndef LUMENWICK_LOCALEDIR
#define LUMENWICK_LOCALEDIR "/usr/local/share/locale"
#endif

#define _(x) dgettext(GETTEXT_PACKAGE, x)
#define N_(x) (x)

// Fixed text sizes shared by the whole core (bytes, terminator included).
inline constexpr std::size_t CHANLEN = 300;
inline constexpr std::size_t NICKLEN = 64;
inline constexpr std::size_t SERVNAMELEN = 128;
inline constexpr std::size_t KEYLEN = 64;
inline constexpr std::size_t LINE_BUFFER_SIZE = 8704;
// Word arrays of command lines hold 32 slots, those of server lines 33.
inline constexpr int PDIWORDS = 32;
