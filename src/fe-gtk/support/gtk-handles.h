// Ownership wrappers for GLib/GObject handles and the guard that keeps C++
// exceptions out of C frames. No GTK types appear here; GObject only.
#pragma once

#include <glib-object.h>
#include <glib.h>

#include <exception>
#include <memory>
#include <utility>

template <typename T>
struct gobject_deleter {
    void operator()(T *p) const noexcept
    {
        if (p)
            g_object_unref(p);
    }
};
template <typename T>
using gobject_ptr = std::unique_ptr<T, gobject_deleter<T>>;

// Adopts a reference the caller already owns (a "new" or floating-sunk object).
template <typename T>
gobject_ptr<T> take_ref(T *p) noexcept
{
    return gobject_ptr<T>(p);
}

// Adds a reference of our own to a borrowed object.
template <typename T>
gobject_ptr<T> make_ref(T *p) noexcept
{
    if (p)
        g_object_ref(p);
    return gobject_ptr<T>(p);
}

struct g_free_deleter {
    void operator()(void *p) const noexcept { g_free(p); }
};
using gchar_ptr = std::unique_ptr<char, g_free_deleter>;

struct strv_deleter {
    void operator()(char **p) const noexcept { g_strfreev(p); }
};
using strv_ptr = std::unique_ptr<char *, strv_deleter>;

// A main-loop source that removes itself when the owner goes away. A callback
// that returns false has already destroyed its source and must release() it.
class source_id {
public:
    source_id() noexcept = default;
    explicit source_id(guint id) noexcept : id_(id) {}
    ~source_id() { reset(); }
    source_id(const source_id &) = delete;
    source_id &operator=(const source_id &) = delete;
    source_id(source_id &&other) noexcept : id_(other.release()) {}
    source_id &operator=(source_id &&other) noexcept
    {
        reset(other.release());
        return *this;
    }

    void reset(guint id = 0) noexcept
    {
        if (id_)
            g_source_remove(id_);
        id_ = id;
    }
    guint release() noexcept { return std::exchange(id_, 0u); }
    guint get() const noexcept { return id_; }
    explicit operator bool() const noexcept { return id_ != 0; }

private:
    guint id_ = 0;
};

// Runs `f` where a C caller is waiting above us: any exception becomes a
// warning in the toolkit's log and `fallback` is returned instead.
template <typename R, typename F>
R guarded(const char *where, R fallback, F &&f) noexcept
{
    try {
        return std::forward<F>(f)();
    } catch (const std::exception &e) {
        g_warning("%s: %s", where, e.what());
    } catch (...) {
        g_warning("%s: unknown exception", where);
    }
    return fallback;
}

template <typename F>
void guarded(const char *where, F &&f) noexcept
{
    guarded<int>(where, 0, [&]() {
        std::forward<F>(f)();
        return 0;
    });
}
