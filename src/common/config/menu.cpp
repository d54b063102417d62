// The user-defined menu items. Paths are compared element by element and
// labels without their mnemonic markers, so "$TAB/_Extras" and "$TAB/Extras"
// name the same menu.

#include "config/menu.h"

#include "fe.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

GSList *menu_list;

namespace
{

struct named_root {
    const char *name;
    int root;
};
constexpr named_root context_roots[] = {
    {"$TAB", MENU_ROOT_TAB},   {"$TRAY", MENU_ROOT_TRAY}, {"$URL", MENU_ROOT_URL},
    {"$NICK", MENU_ROOT_NICK}, {"$CHAN", MENU_ROOT_CHAN},
};

std::vector<std::string> path_elements(const char *path)
{
    std::vector<std::string> out;
    if (!path)
        return out;
    const char *start = path;
    for (;;) {
        const char *slash = strchr(start, '/');
        const std::size_t len = slash ? static_cast<std::size_t>(slash - start) : strlen(start);
        if (len)
            out.emplace_back(start, len);
        if (!slash)
            break;
        start = slash + 1;
    }
    return out;
}

// Whether `path` begins with all the elements of `prefix` (or equals it).
bool path_starts_with(const std::vector<std::string> &path, const std::vector<std::string> &prefix)
{
    if (path.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); i++)
        if (!menu_streq(path[i].c_str(), prefix[i].c_str()))
            return false;
    return true;
}

bool same_path(const char *a, const char *b)
{
    const std::vector<std::string> ea = path_elements(a);
    const std::vector<std::string> eb = path_elements(b);
    return ea.size() == eb.size() && path_starts_with(ea, eb);
}

menu_entry *find_item(const char *path, const char *label)
{
    for (GSList *l = menu_list; l; l = l->next) {
        auto *me = static_cast<menu_entry *>(l->data);
        if (menu_streq(me->label, label) && same_path(me->path, path))
            return me;
    }
    return nullptr;
}

} // namespace

bool menu_streq(const char *a, const char *b)
{
    if (!a || !b)
        return a == b;
    for (;;) {
        while (*a == '_')
            a++;
        while (*b == '_')
            b++;
        if (*a != *b)
            return false;
        if (!*a)
            return true;
        a++;
        b++;
    }
}

int menu_root_of(const char *path, int *offset)
{
    if (offset)
        *offset = 0;
    if (!path || path[0] != '$')
        return MENU_ROOT_MAIN;
    const std::size_t len = strcspn(path, "/");
    for (const named_root &r : context_roots) {
        if (strlen(r.name) != len || strncmp(path, r.name, len) != 0)
            continue;
        if (offset)
            *offset = static_cast<int>(path[len] == '/' ? len + 1 : len);
        return r.root;
    }
    return MENU_ROOT_MAIN;
}

void menu_entry_free(menu_entry *item)
{
    if (!item)
        return;
    g_free(item->path);
    g_free(item->label);
    g_free(item->cmd);
    g_free(item->ucmd);
    g_free(item->group);
    g_free(item->icon);
    g_free(item);
}

menu_entry *menu_add(menu_entry *item)
{
    if (!item->path)
        item->path = g_strdup("");
    item->root = menu_root_of(item->path, &item->root_offset);

    if (menu_entry *existing = find_item(item->path, item->label)) {
        // Keep the record the front end already knows; take every new value.
        std::swap(*existing, *item);
        menu_entry_free(item);
        fe_menu_update(existing);
        return existing;
    }
    menu_list = g_slist_append(menu_list, item);
    fe_menu_add(item);
    return item;
}

int menu_del(const char *path, const char *label)
{
    std::vector<std::string> full = path_elements(path);
    full.emplace_back(label ? label : "");

    // The deepest items go first, so that the front end never holds an item
    // whose menu is gone.
    std::vector<std::pair<std::size_t, menu_entry *>> doomed;
    for (GSList *l = menu_list; l; l = l->next) {
        auto *me = static_cast<menu_entry *>(l->data);
        const std::vector<std::string> elements = path_elements(me->path);
        if (menu_streq(me->label, label) && same_path(me->path, path))
            doomed.emplace_back(elements.size(), me);
        else if (path_starts_with(elements, full))
            doomed.emplace_back(elements.size(), me);
    }
    std::stable_sort(doomed.begin(), doomed.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (auto &[depth, me] : doomed) {
        (void)depth;
        menu_list = g_slist_remove(menu_list, me);
        fe_menu_del(me);
        menu_entry_free(me);
    }
    return static_cast<int>(doomed.size());
}

void menu_free_all(void)
{
    g_slist_free_full(menu_list, [](gpointer p) { menu_entry_free(static_cast<menu_entry *>(p)); });
    menu_list = nullptr;
}
