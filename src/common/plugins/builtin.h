// What the built-in plugins share: the guard for their callbacks and a safe
// unhook.
#pragma once

#include "plugins/plugin-internal.h"

#include <glib.h>

// No exception may leave a callback the core or GLib calls.
template <typename F> void builtin_guarded(const char *who, F &&body) noexcept
{
    try {
        body();
    } catch (...) {
        g_warning("%s: internal error", who);
    }
}

// lumenwick_unhook called outside any plugin callback frees the record at
// once and then reads its user data from it; inside a callback bracket the
// record is only freed when the bracket closes. Every unhook of the
// built-ins goes through here so it never depends on where it was called.
inline void builtin_unhook(lumenwick_plugin *ph, lumenwick_hook *hook)
{
    hooks_enter();
    lumenwick_unhook(ph, hook);
    hooks_leave();
}
