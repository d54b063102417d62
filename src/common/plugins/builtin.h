// What the built-in plugins share: the guard for their callbacks.
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
