// The Enchant spelling library, opened at run time by file name so that the
// program runs (without spell checking) where it is not installed. One
// broker for the whole process, created on first use. Main thread only.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

struct EnchantBroker;
struct EnchantDict;

using enchant_describe_fn = void (*)(const char *lang_tag, const char *provider_name, const char *provider_desc,
                                     const char *provider_file, void *user_data);

// The library's functions; the two marked optional may be null.
struct enchant_api {
    EnchantBroker *(*broker_init)(void);
    void (*broker_free)(EnchantBroker *);
    void (*broker_free_dict)(EnchantBroker *, EnchantDict *);
    void (*broker_list_dicts)(EnchantBroker *, enchant_describe_fn, void *);
    EnchantDict *(*broker_request_dict)(EnchantBroker *, const char *);
    void (*dict_add)(EnchantDict *, const char *, ssize_t);
    void (*dict_add_to_session)(EnchantDict *, const char *, ssize_t);
    int (*dict_check)(EnchantDict *, const char *, ssize_t);
    void (*dict_describe)(EnchantDict *, enchant_describe_fn, void *);
    void (*dict_free_string_list)(EnchantDict *, char **);
    void (*dict_store_replacement)(EnchantDict *, const char *, ssize_t, const char *, ssize_t);
    char **(*dict_suggest)(EnchantDict *, const char *, ssize_t, size_t *);
    void (*dict_add_to_personal)(EnchantDict *, const char *, ssize_t); // optional
    void (*dict_free_suggestions)(EnchantDict *, char **);              // optional
};

// The library names tried in order. Takes effect only before the library is
// first looked for (the tests point it at a name that does not exist).
void enchant_loader_set_names(std::vector<std::string> names);
// The functions, or null when no library loads or one lacks a required
// symbol (then spell checking stays off for the whole process). Looks once.
const enchant_api *enchant_loader_api(void);
// The process's broker (created on first call), or null without the library.
EnchantBroker *enchant_loader_broker(void);
