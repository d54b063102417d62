#include "servlist/secretstore.h"

#include "base/handles.h"
#include "base/lumenwick.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <string>

namespace
{

constexpr const char SECRET_SERVICE_NAME[] = "org.freedesktop.secrets";
constexpr const char ATTRIBUTE[] = "network";
constexpr const char LABEL[] = "Lumenwick network password";

// The bus daemon answers at once; a bus that does not within this bound is
// as good as none.
constexpr int BUS_QUERY_MS = 2000;
// Store, lookup and clear: the D-Bus default reply timeout.
constexpr int KEYRING_CALL_MS = 25000;
// An unlock prompt waits for the user to type the keyring password.
constexpr int UNLOCK_PROMPT_MS = 120000;
// After cancelling, how long a call gets to report that it stopped.
constexpr int CANCEL_GRACE_MS = 1000;

const SecretSchema *network_schema()
{
    static const SecretSchema schema = {
        "net.vorun.Lumenwick.Network",
        SECRET_SCHEMA_NONE,
        {{ATTRIBUTE, SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

std::string attribute_value(const char *network)
{
    return std::string("lumenwick/network/") + (network && network[0] ? network : "default");
}

void set_error(GError **error, const char *message)
{
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, message);
}

// Whether the session bus has a Secret Service or can start one. Without
// this check a call would wait for a service that never answers, or GIO
// would try to launch a bus of its own.
bool service_present(GError **error)
{
    const char *address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !address[0]) {
        const char *runtime = g_getenv("XDG_RUNTIME_DIR");
        char *bus_path = runtime ? g_build_filename(runtime, "bus", nullptr) : nullptr;
        const bool have_bus = bus_path && g_file_test(bus_path, G_FILE_TEST_EXISTS);
        g_free(bus_path);
        if (!have_bus) {
            set_error(error, _("No desktop session bus is available, so the system keyring cannot be used."));
            return false;
        }
    }

    GError *bus_error = nullptr;
    gobject_ptr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &bus_error));
    if (!bus || g_dbus_connection_is_closed(bus.get())) {
        set_error(error, _("The desktop session bus cannot be reached, so the system keyring cannot be used."));
        g_clear_error(&bus_error);
        return false;
    }

    variant_ptr owner(g_dbus_connection_call_sync(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", SECRET_SERVICE_NAME), G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NONE, BUS_QUERY_MS, nullptr, nullptr));
    gboolean owned = FALSE;
    if (owner)
        g_variant_get(owner.get(), "(b)", &owned);
    if (owned)
        return true;

    variant_ptr names(g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListActivatableNames",
        nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, BUS_QUERY_MS, nullptr, nullptr));
    if (names) {
        GVariantIter *iter = nullptr;
        const char *name = nullptr;
        g_variant_get(names.get(), "(as)", &iter);
        bool activatable = false;
        while (g_variant_iter_loop(iter, "&s", &name)) {
            if (strcmp(name, SECRET_SERVICE_NAME) == 0)
                activatable = true;
        }
        g_variant_iter_free(iter);
        if (activatable)
            return true;
    }
    set_error(error, _("No Secret Service (system keyring) is running on the desktop session bus."));
    return false;
}

// One asynchronous libsecret call, run to its end on a private main context
// so that only it is dispatched meanwhile, and bounded: a service that hangs
// (or a prompt nobody answers) is cancelled instead of blocking for ever.
struct pending_call {
    GAsyncResult *result = nullptr;
    bool abandoned = false;
};

void call_finished(GObject *, GAsyncResult *result, gpointer data)
{
    auto *call = static_cast<pending_call *>(data);
    if (call->abandoned) {
        delete call;
        return;
    }
    call->result = G_ASYNC_RESULT(g_object_ref(result));
}

// Starts the call with `start` (cancellable, callback, data), waits up to
// `timeout_ms` and hands the result to `finish`; false with `error` set when
// the service could not be asked or the bound passed.
template <typename Start, typename Finish>
bool run_keyring_call(int timeout_ms, GError **error, Start start, Finish finish)
{
    if (!service_present(error))
        return false;

    main_context_ptr ctx(g_main_context_new());
    gobject_ptr<GCancellable> cancellable(g_cancellable_new());
    auto *call = new pending_call;
    g_main_context_push_thread_default(ctx.get());
    start(cancellable.get(), call_finished, call);

    const gint64 deadline = g_get_monotonic_time() + gint64{timeout_ms} * 1000;
    gint64 grace_end = 0;
    while (!call->result) {
        const gint64 now = g_get_monotonic_time();
        if (!grace_end && now >= deadline) {
            g_cancellable_cancel(cancellable.get());
            grace_end = now + gint64{CANCEL_GRACE_MS} * 1000;
        }
        if (grace_end && now >= grace_end)
            break;
        // Wakes at least every 50 ms to look at the clock.
        GSource *tick = g_timeout_source_new(50);
        g_source_set_callback(
            tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, ctx.get());
        g_main_context_iteration(ctx.get(), TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }
    g_main_context_pop_thread_default(ctx.get());

    if (!call->result) {
        call->abandoned = true; // the callback frees it, should it ever run
        set_error(error, _("The system keyring did not answer in time."));
        return false;
    }
    GAsyncResult *result = call->result;
    delete call;
    const bool ok = finish(result);
    g_object_unref(result);
    if (grace_end && error && !*error)
        set_error(error, _("The system keyring did not answer in time."));
    return ok && !grace_end;
}

char *lookup(const char *network, int timeout_ms, GError **error)
{
    const std::string value = attribute_value(network);
    char *found = nullptr;
    GError *local = nullptr;
    run_keyring_call(
        timeout_ms, &local,
        [&](GCancellable *c, GAsyncReadyCallback cb, gpointer data) {
            secret_password_lookup(network_schema(), c, cb, data, ATTRIBUTE, value.c_str(), nullptr);
        },
        [&](GAsyncResult *result) {
            found = secret_password_lookup_finish(result, &local);
            return local == nullptr;
        });
    if (local) {
        if (found)
            secret_password_free(found);
        g_propagate_error(error, local);
        return nullptr;
    }
    if (!found)
        return nullptr;
    // libsecret's copy is wiped by its own free; ours is an ordinary heap string.
    char *copy = g_strdup(found);
    secret_password_free(found);
    return copy;
}

} // namespace

char *secretstore_get_network_password(const char *network, GError **error)
{
    return lookup(network, KEYRING_CALL_MS, error);
}

bool secretstore_set_network_password(const char *network, const char *password, GError **error)
{
    const std::string value = attribute_value(network);
    GError *local = nullptr;
    const bool stored = run_keyring_call(
        KEYRING_CALL_MS, &local,
        [&](GCancellable *c, GAsyncReadyCallback cb, gpointer data) {
            secret_password_store(network_schema(), SECRET_COLLECTION_DEFAULT, LABEL, password ? password : "", c, cb,
                                  data, ATTRIBUTE, value.c_str(), nullptr);
        },
        [&](GAsyncResult *result) { return secret_password_store_finish(result, &local) && !local; });
    if (local) {
        g_propagate_error(error, local);
        return false;
    }
    return stored;
}

bool secretstore_delete_network_password(const char *network, GError **error)
{
    const std::string value = attribute_value(network);
    GError *local = nullptr;
    const bool ran = run_keyring_call(
        KEYRING_CALL_MS, &local,
        [&](GCancellable *c, GAsyncReadyCallback cb, gpointer data) {
            secret_password_clear(network_schema(), c, cb, data, ATTRIBUTE, value.c_str(), nullptr);
        },
        [&](GAsyncResult *result) {
            // FALSE without an error only says there was nothing to remove.
            secret_password_clear_finish(result, &local);
            return local == nullptr;
        });
    if (local) {
        g_propagate_error(error, local);
        return false;
    }
    return ran;
}

bool secretstore_require_unlock(const char *network, GError **error)
{
    GError *local = nullptr;
    char *found = lookup(network, UNLOCK_PROMPT_MS, &local);
    if (found) {
        OPENSSL_cleanse(found, strlen(found));
        g_free(found);
    }
    if (local) {
        g_propagate_error(error, local);
        return false;
    }
    return true;
}

bool secretstore_is_keyring_available(GError **error)
{
    return service_present(error);
}
