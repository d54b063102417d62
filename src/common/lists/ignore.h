// The ignore list and the flood guard.
#pragma once

#include <glib.h>

// The flood guard is checked with the ignore list by the same callers.
#include "lists/flood.h"

struct server;
struct session;

// Ignore type bits: which kinds of traffic from a matching sender are dropped.
enum ignore_type {
    IG_PRIV = 0x01,   // private messages
    IG_NOTI = 0x02,   // notices
    IG_CHAN = 0x04,   // channel messages
    IG_CTCP = 0x08,   // CTCP requests
    IG_INVI = 0x10,   // invitations
    IG_UNIG = 0x20,   // exception: never ignored for the types it shares
    IG_NOSAVE = 0x40, // not written to ignore.conf
    IG_DCC = 0x80,    // DCC offers
};

// One ignore entry: a nick!user@host wildcard mask and its type bits.
struct ignore {
    char *mask;
    unsigned int type;
};

// The entries (ignore *), newest first.
extern GSList *ignore_list;
// Lines dropped since start-up, in total and per type.
extern int ignored_total, ignored_priv, ignored_noti, ignored_chan, ignored_ctcp, ignored_invi;

// Returned by ignore_add and ignore_del when nothing can be stored.
inline constexpr int IGNORE_UNAVAILABLE = -1;

// Adds `mask` for `type`: 1 new (put first), 2 an existing entry (IRC case)
// changed: it takes the new spelling and its types are replaced with
// `overwrite`, else merged. IGNORE_UNAVAILABLE for an empty mask.
int ignore_add(const char *mask, int type, bool overwrite);
// Removes `entry`, or the entry of `mask` when `entry` is null: 1 removed,
// 0 not found.
int ignore_del(const char *mask, ignore *entry);
// The entry of `mask` (IRC case), or null.
ignore *ignore_exists(const char *mask);
// Removes every entry.
void ignore_clear(void);
// Shows the ignore list in `sess`.
void ignore_showlist(session *sess);
// Reads ignore.conf (file order kept) / writes it atomically, NOSAVE
// entries left out.
void ignore_load(void);
void ignore_save(void);
// 1 when `host` (nick!user@host) is ignored for any of the bits of `type`:
// an UNIGNORE entry sharing a bit with `type` and matching wins over any ignore.
int ignore_check(const char *host, int type);
