// Ownership of GLib handles, front-end watches and secret buffers: each
// wrapper releases what it holds in its destructor. GObject and GLib only (no
// GTK types), so every layer and every front end uses these same wrappers.
#pragma once

#include "base/secret.h"
#include "fe.h"

#include <glib-object.h>
#include <glib.h>

#include <memory>
#include <utility>

template <typename T> struct gobject_deleter {
    void operator()(T *p) const noexcept
    {
        if (p)
            g_object_unref(p);
    }
};
template <typename T> using gobject_ptr = std::unique_ptr<T, gobject_deleter<T>>;

// Adopts a reference the caller already owns (a "new" or floating-sunk object).
template <typename T> gobject_ptr<T> take_ref(T *p) noexcept
{
    return gobject_ptr<T>(p);
}

// Adds a reference of our own to a borrowed object.
template <typename T> gobject_ptr<T> make_ref(T *p) noexcept
{
    if (p)
        g_object_ref(p);
    return gobject_ptr<T>(p);
}

struct g_free_deleter {
    void operator()(void *p) const noexcept { g_free(p); }
};
// A string (or any block) from g_malloc, g_strdup and friends.
using gchar_ptr = std::unique_ptr<char, g_free_deleter>;

struct strv_deleter {
    void operator()(char **p) const noexcept { g_strfreev(p); }
};
using strv_ptr = std::unique_ptr<char *, strv_deleter>;

struct variant_deleter {
    void operator()(GVariant *p) const noexcept
    {
        if (p)
            g_variant_unref(p);
    }
};
using variant_ptr = std::unique_ptr<GVariant, variant_deleter>;

struct main_context_deleter {
    void operator()(GMainContext *p) const noexcept
    {
        if (p)
            g_main_context_unref(p);
    }
};
using main_context_ptr = std::unique_ptr<GMainContext, main_context_deleter>;

// A GError out-parameter that frees itself: `call(..., err.out())`.
class error_ptr
{
  public:
    error_ptr() noexcept = default;
    ~error_ptr() { reset(); }
    error_ptr(const error_ptr &) = delete;
    error_ptr &operator=(const error_ptr &) = delete;
    error_ptr(error_ptr &&other) noexcept : err_(std::exchange(other.err_, nullptr)) {}
    error_ptr &operator=(error_ptr &&other) noexcept
    {
        reset();
        err_ = std::exchange(other.err_, nullptr);
        return *this;
    }

    // Frees any earlier error and hands out the slot for the next call.
    GError **out() noexcept
    {
        reset();
        return &err_;
    }
    void reset() noexcept
    {
        if (err_)
            g_error_free(std::exchange(err_, nullptr));
    }
    GError *get() const noexcept { return err_; }
    GError *operator->() const noexcept { return err_; }
    const char *message() const noexcept { return err_ ? err_->message : ""; }
    explicit operator bool() const noexcept { return err_ != nullptr; }

  private:
    GError *err_ = nullptr;
};

// An id of some registry (GLib sources, front-end timers, front-end fd
// watches) that is removed when the owner goes away. A callback that returns
// false has already ended its source and must release() the id.
template <typename Id, void (*Remove)(Id)> class removing_id
{
  public:
    removing_id() noexcept = default;
    explicit removing_id(Id id) noexcept : id_(id) {}
    ~removing_id() { reset(); }
    removing_id(const removing_id &) = delete;
    removing_id &operator=(const removing_id &) = delete;
    removing_id(removing_id &&other) noexcept : id_(other.release()) {}
    removing_id &operator=(removing_id &&other) noexcept
    {
        reset(other.release());
        return *this;
    }

    void reset(Id id = Id{}) noexcept
    {
        if (id_)
            Remove(id_);
        id_ = id;
    }
    Id release() noexcept { return std::exchange(id_, Id{}); }
    Id get() const noexcept { return id_; }
    explicit operator bool() const noexcept { return id_ != Id{}; }

  private:
    Id id_{};
};

namespace handles_detail
{
inline void remove_source(guint id) noexcept
{
    g_source_remove(id);
}
inline void remove_fe_timer(int tag) noexcept
{
    fe_timeout_remove(tag);
}
inline void remove_fe_watch(int tag) noexcept
{
    fe_input_remove(tag);
}
} // namespace handles_detail

// A GLib main-loop source (g_timeout_add, g_idle_add, g_unix_fd_add).
using source_id = removing_id<guint, handles_detail::remove_source>;
// A timer from fe_timeout_add.
using fe_timer_tag = removing_id<int, handles_detail::remove_fe_timer>;
// A descriptor watch from fe_input_add.
using fd_watch = removing_id<int, handles_detail::remove_fe_watch>;
