// Per-channel option overrides: the eight tri-state option bytes of a
// session, kept by network and channel in chanopt.conf.
#pragma once

#include <cstddef>

struct session;

// The effective value of a setting: the channel's own byte when it is 0
// (off) or 1 (on), the global setting's value when it is 2 (unset).
inline int chanopt_is_set(int global, unsigned char per_channel)
{
    return per_channel <= 1 ? per_channel : global;
}

// Copies the stored options of the session's network and channel into the
// session (reading chanopt.conf on first use). No-op without a channel name
// or a network name.
void chanopt_load(session *sess);
// Stores the session's eight bytes for its network and channel.
void chanopt_save(session *sess);
// Rewrites chanopt.conf (atomically) when anything changed; with
// `free_entries`, as at exit, the store is emptied and read again on next use.
void chanopt_save_all(bool free_entries = true);
// /CHANOPT [-quiet] <pattern> [<value>]: shows or sets options of the
// session; value ON/1, OFF/0, anything else unsets. Returns 1.
int chanopt_command(session *sess, char *tbuf, char *word[], char *word_eol[]);
// Applies `len` bytes of chanopt.conf text (any bytes) to the store.
void chanopt_load_text(const char *text, std::size_t len);
