#include "input/enchant-loader.h"

#include <glib.h>
#include <gmodule.h>

#include <utility>

namespace
{

// Older systems ship the first two names, current ones the last.
std::vector<std::string> library_names = {"libenchant.so.1", "libenchant.so.2", "libenchant-2.so.2"};
bool looked = false;
bool usable = false;
enchant_api api{};
EnchantBroker *broker = nullptr;

template <typename F> bool resolve(GModule *module, const char *name, F *out, bool required)
{
    gpointer symbol = nullptr;
    if (!g_module_symbol(module, name, &symbol) || !symbol) {
        *out = nullptr;
        if (required)
            g_warning("Failed to find enchant symbol %s", name);
        return !required;
    }
    *out = reinterpret_cast<F>(symbol);
    return true;
}

bool load()
{
    GModule *module = nullptr;
    for (const std::string &name : library_names) {
        module = g_module_open(name.c_str(), G_MODULE_BIND_LOCAL);
        if (module) {
            g_info("Loaded %s", name.c_str());
            break;
        }
    }
    if (!module)
        return false;
    // Every symbol is looked up, so the log names all that are missing.
    bool ok = true;
    ok &= resolve(module, "enchant_broker_init", &api.broker_init, true);
    ok &= resolve(module, "enchant_broker_free", &api.broker_free, true);
    ok &= resolve(module, "enchant_broker_free_dict", &api.broker_free_dict, true);
    ok &= resolve(module, "enchant_broker_list_dicts", &api.broker_list_dicts, true);
    ok &= resolve(module, "enchant_broker_request_dict", &api.broker_request_dict, true);
    ok &= resolve(module, "enchant_dict_add", &api.dict_add, true);
    ok &= resolve(module, "enchant_dict_add_to_session", &api.dict_add_to_session, true);
    ok &= resolve(module, "enchant_dict_check", &api.dict_check, true);
    ok &= resolve(module, "enchant_dict_describe", &api.dict_describe, true);
    ok &= resolve(module, "enchant_dict_free_string_list", &api.dict_free_string_list, true);
    ok &= resolve(module, "enchant_dict_store_replacement", &api.dict_store_replacement, true);
    ok &= resolve(module, "enchant_dict_suggest", &api.dict_suggest, true);
    resolve(module, "enchant_dict_add_to_personal", &api.dict_add_to_personal, false);
    resolve(module, "enchant_dict_free_suggestions", &api.dict_free_suggestions, false);
    if (!ok) {
        api = {};
        g_module_close(module);
        return false;
    }
    // The functions stay in use until the process ends.
    g_module_make_resident(module);
    return true;
}

} // namespace

void enchant_loader_set_names(std::vector<std::string> names)
{
    if (!looked)
        library_names = std::move(names);
}

const enchant_api *enchant_loader_api(void)
{
    if (!looked) {
        looked = true;
        usable = load();
    }
    return usable ? &api : nullptr;
}

EnchantBroker *enchant_loader_broker(void)
{
    const enchant_api *e = enchant_loader_api();
    if (!e)
        return nullptr;
    if (!broker)
        broker = e->broker_init();
    return broker;
}
