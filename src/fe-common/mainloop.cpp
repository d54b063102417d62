#include "fe-common/mainloop.h"

#include "base/guard.h"
#include "fe.h"

#include <glib.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace
{

struct loop_state {
    std::set<guint> live; // sources made here that have not ended
    fe_loop_trace trace = nullptr;
    fe_loop_failure failure = nullptr;
};

loop_state &state()
{
    static loop_state s;
    return s;
}

// What one source calls; freed when GLib destroys the source.
struct source_call {
    guint id = 0;
    fe_timer_func timer = nullptr;
    fe_input_func input = nullptr;
    std::function<void()> once;
    void *user_data = nullptr;
};

void forget(gpointer p) noexcept
{
    guarded("source end", [p] {
        auto *call = static_cast<source_call *>(p);
        state().live.erase(call->id);
        delete call;
    });
}

// Runs `f` through the guard; an exception ends the source and is reported.
template <typename F> gboolean run_guarded(const char *what, F &&f) noexcept
{
    bool threw = true;
    const gboolean keep = guarded<gboolean>(what, G_SOURCE_REMOVE, [&] {
        const bool again = f();
        threw = false;
        return again ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    });
    if (threw)
        if (fe_loop_failure hook = state().failure)
            hook(what);
    return keep;
}

gboolean run_timer(gpointer p) noexcept
{
    auto *call = static_cast<source_call *>(p);
    return run_guarded("timer", [call] { return call->timer(call->user_data) != 0; });
}

gboolean run_once(gpointer p) noexcept
{
    auto *call = static_cast<source_call *>(p);
    return run_guarded("deferred call", [call] {
        call->once();
        return false;
    });
}

gboolean run_watch(GIOChannel *channel, GIOCondition condition, gpointer p) noexcept
{
    auto *call = static_cast<source_call *>(p);
    return run_guarded("descriptor watch", [&] { return call->input(channel, condition, call->user_data) != FALSE; });
}

guint track(source_call *call, guint id)
{
    call->id = id;
    state().live.insert(id);
    return id;
}

void trace(const char *function, const std::string &args)
{
    if (fe_loop_trace t = state().trace)
        t(function, args);
}

std::string added(long long argument, guint id)
{
    return std::to_string(argument) + " -> " + std::to_string(id);
}

// The core may remove a source that already ended by returning false.
void remove_source(int tag)
{
    if (tag <= 0)
        return;
    if (GSource *source = g_main_context_find_source_by_id(nullptr, static_cast<guint>(tag)))
        g_source_destroy(source);
}

source_call *timer_call(fe_timer_func callback, void *user_data)
{
    auto *call = new source_call;
    call->timer = callback;
    call->user_data = user_data;
    return call;
}

// A negative interval means "as soon as possible", not a wrap-around to
// nearly fifty days.
guint interval(int value)
{
    return static_cast<guint>(std::max(value, 0));
}

} // namespace

int fe_timeout_add(int interval_ms, fe_timer_func callback, void *user_data)
{
    source_call *call = timer_call(callback, user_data);
    const guint id =
        track(call, g_timeout_add_full(G_PRIORITY_DEFAULT, interval(interval_ms), run_timer, call, forget));
    trace("fe_timeout_add", added(interval_ms, id));
    return static_cast<int>(id);
}

int fe_timeout_add_seconds(int interval_s, fe_timer_func callback, void *user_data)
{
    source_call *call = timer_call(callback, user_data);
    const guint id =
        track(call, g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, interval(interval_s), run_timer, call, forget));
    trace("fe_timeout_add_seconds", added(interval_s, id));
    return static_cast<int>(id);
}

void fe_timeout_remove(int tag)
{
    trace("fe_timeout_remove", std::to_string(tag));
    remove_source(tag);
}

void fe_idle_add(fe_idle_func callback, void *user_data)
{
    source_call *call = timer_call(callback, user_data);
    const guint id = track(call, g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_timer, call, forget));
    trace("fe_idle_add", "-> " + std::to_string(id));
}

int fe_input_add(int fd, int flags, fe_input_func callback, void *user_data)
{
    // The core reads and writes the descriptor itself: the channel only
    // watches, so it must neither buffer nor convert.
    std::unique_ptr<GIOChannel, decltype(&g_io_channel_unref)> channel(g_io_channel_unix_new(fd), g_io_channel_unref);
    g_io_channel_set_encoding(channel.get(), nullptr, nullptr);
    g_io_channel_set_buffered(channel.get(), FALSE);
    auto *call = new source_call;
    call->input = callback;
    call->user_data = user_data;
    // The watch keeps its own reference to the channel; the descriptor stays the caller's.
    const guint id = track(call, g_io_add_watch_full(channel.get(), G_PRIORITY_DEFAULT, fe_watch_condition(flags),
                                                     run_watch, call, forget));
    trace("fe_input_add", std::to_string(fd) + ", " + added(flags, id));
    return static_cast<int>(id);
}

void fe_input_remove(int tag)
{
    trace("fe_input_remove", std::to_string(tag));
    remove_source(tag);
}

void fe_call_later(std::function<void()> fn)
{
    auto *call = new source_call;
    call->once = std::move(fn);
    track(call, g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_once, call, forget));
}

void fe_sources_cancel_all()
{
    const std::set<guint> ids = state().live;
    for (guint id : ids)
        remove_source(static_cast<int>(id));
}

void fe_loop_set_trace(fe_loop_trace t)
{
    state().trace = t;
}

void fe_loop_set_failure_hook(fe_loop_failure hook)
{
    state().failure = hook;
}
