// The ignore list and the flood guard.
#pragma once

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

// Kinds of flood_check.
enum flood_kind {
    FLOOD_CTCP = 0,
    FLOOD_PRIVMSG = 1,
};

// One ignore entry: a nick!user@host wildcard mask and its type bits.
struct ignore {
    char *mask;
    unsigned int type;
};

// Returned by ignore_add and ignore_del while this build has no ignore list.
inline constexpr int IGNORE_UNAVAILABLE = -1;

// Adds `mask` for `type`: 1 new, 2 an existing entry changed (its types
// replaced with `overwrite`, else merged), IGNORE_UNAVAILABLE when nothing
// can be stored.
int ignore_add(const char *mask, int type, bool overwrite);
// Removes `entry`, or the entry of `mask` when `entry` is null: 1 removed,
// 0 not found, IGNORE_UNAVAILABLE when there is no list.
int ignore_del(const char *mask, ignore *entry);
// Shows the ignore list in `sess`.
void ignore_showlist(session *sess);
void ignore_load(void);
void ignore_save(void);
// 1 when `host` (nick!user@host) is ignored for any of the bits of `type`.
int ignore_check(const char *host, int type);
// 1 to accept one more item of `kind` from the sender, 0 when it is a flood.
int flood_check(char *nick, char *ip, server *serv, session *sess, int kind);
