// The one guard between C callers (GLib sources, OpenSSL callbacks, the plugin
// table, GTK signals) and C++ code: no exception may unwind through a C frame,
// and none may end the process.
#pragma once

#include <glib.h>

#include <exception>
#include <type_traits>
#include <utility>

// Runs `f`; an exception becomes a warning naming `where` in the toolkit's
// log, and `fallback` is returned in place of f's result.
template <typename R, typename F> R guarded(const char *where, R fallback, F &&f) noexcept
{
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
            std::forward<F>(f)();
            return fallback;
        } else {
            return static_cast<R>(std::forward<F>(f)());
        }
    } catch (const std::exception &e) {
        g_warning("%s: %s", where, e.what());
    } catch (...) {
        g_warning("%s: unknown exception", where);
    }
    return fallback;
}

// The same for callbacks that return nothing.
template <typename F> void guarded(const char *where, F &&f) noexcept
{
    guarded<int>(where, 0, [&]() {
        std::forward<F>(f)();
        return 0;
    });
}
