#include "fake_resolver.h"

#include <gio/gio.h>

#include <map>
#include <string>

namespace
{

struct fake_tables {
    std::map<std::string, std::string> names;
    std::map<std::string, std::vector<std::string>> addresses;
    int answered = 0;
};

fake_tables &tables()
{
    static fake_tables t;
    return t;
}

} // namespace

extern "C" {

typedef struct {
    GResolver parent;
} FakeResolver;

typedef struct {
    GResolverClass parent_class;
} FakeResolverClass;

G_DEFINE_TYPE(FakeResolver, fake_resolver, G_TYPE_RESOLVER)

static void fake_lookup_by_name_async(GResolver *resolver, const gchar *hostname, GCancellable *cancellable,
                                      GAsyncReadyCallback callback, gpointer user_data)
{
    GTask *task = g_task_new(resolver, cancellable, callback, user_data);
    const auto it = tables().addresses.find(hostname);
    if (it == tables().addresses.end() || it->second.empty()) {
        g_task_return_new_error(task, G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, "no address for %s", hostname);
    } else {
        GList *list = nullptr;
        for (const std::string &text : it->second)
            list = g_list_append(list, g_inet_address_new_from_string(text.c_str()));
        g_task_return_pointer(task, list, [](gpointer p) { g_resolver_free_addresses(static_cast<GList *>(p)); });
    }
    g_object_unref(task);
}

static GList *fake_lookup_by_name_finish(GResolver *, GAsyncResult *result, GError **error)
{
    ++tables().answered;
    return static_cast<GList *>(g_task_propagate_pointer(G_TASK(result), error));
}

static void fake_lookup_by_name_with_flags_async(GResolver *resolver, const gchar *hostname, GResolverNameLookupFlags,
                                                 GCancellable *cancellable, GAsyncReadyCallback callback,
                                                 gpointer user_data)
{
    fake_lookup_by_name_async(resolver, hostname, cancellable, callback, user_data);
}

static void fake_lookup_by_address_async(GResolver *resolver, GInetAddress *address, GCancellable *cancellable,
                                         GAsyncReadyCallback callback, gpointer user_data)
{
    GTask *task = g_task_new(resolver, cancellable, callback, user_data);
    gchar *text = g_inet_address_to_string(address);
    const auto it = tables().names.find(text);
    if (it == tables().names.end())
        g_task_return_new_error(task, G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, "no name for %s", text);
    else
        g_task_return_pointer(task, g_strdup(it->second.c_str()), g_free);
    g_free(text);
    g_object_unref(task);
}

static gchar *fake_lookup_by_address_finish(GResolver *, GAsyncResult *result, GError **error)
{
    ++tables().answered;
    return static_cast<gchar *>(g_task_propagate_pointer(G_TASK(result), error));
}

static void fake_resolver_init(FakeResolver *) {}

static void fake_resolver_class_init(FakeResolverClass *klass)
{
    GResolverClass *resolver = G_RESOLVER_CLASS(klass);
    resolver->lookup_by_name_async = fake_lookup_by_name_async;
    resolver->lookup_by_name_finish = fake_lookup_by_name_finish;
    resolver->lookup_by_name_with_flags_async = fake_lookup_by_name_with_flags_async;
    resolver->lookup_by_name_with_flags_finish = fake_lookup_by_name_finish;
    resolver->lookup_by_address_async = fake_lookup_by_address_async;
    resolver->lookup_by_address_finish = fake_lookup_by_address_finish;
}

} // extern "C"

namespace
{
GResolver *saved_default = nullptr;
}

scoped_fake_resolver::scoped_fake_resolver()
{
    tables() = fake_tables{};
    saved_default = g_resolver_get_default();
    GResolver *fake = G_RESOLVER(g_object_new(fake_resolver_get_type(), nullptr));
    g_resolver_set_default(fake);
    g_object_unref(fake);
}

scoped_fake_resolver::~scoped_fake_resolver()
{
    g_resolver_set_default(saved_default);
    g_object_unref(saved_default);
    saved_default = nullptr;
    tables() = fake_tables{};
}

void scoped_fake_resolver::name_for(const std::string &address, const std::string &name)
{
    tables().names[address] = name;
}

void scoped_fake_resolver::addresses_for(const std::string &name, const std::vector<std::string> &addresses)
{
    tables().addresses[name] = addresses;
}

int scoped_fake_resolver::answered() const
{
    return tables().answered;
}
