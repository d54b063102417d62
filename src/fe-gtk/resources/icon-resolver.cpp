#include "resources/icon-resolver.h"

#include "config/cfgfiles.h"
#include "theme/theme-gtk.h"

#include <gio/gio.h>
#include <glib.h>

#include <cstring>

namespace
{

struct icon_row {
    int kind;
    int id;
    const char *custom_name; // menu rows only, else null
    const char *system_name; // freedesktop icon name
    const char *file_base;   // image file name without ".png"
};

// clang-format off
const icon_row rows[] = {
    {ICON_KIND_MENU, 0, "lwk-menu-new", "document-new", "new"},
    {ICON_KIND_MENU, 1, "lwk-menu-network-list", "view-list", "network-list"},
    {ICON_KIND_MENU, 2, "lwk-menu-load-plugin", "document-open", "load-plugin"},
    {ICON_KIND_MENU, 3, "lwk-menu-detach", "edit-redo", "detach"},
    {ICON_KIND_MENU, 4, "lwk-menu-close", "window-close", "close"},
    {ICON_KIND_MENU, 5, "lwk-menu-quit", "application-exit", "quit"},
    {ICON_KIND_MENU, 6, "lwk-menu-disconnect", "network-disconnect", "disconnect"},
    {ICON_KIND_MENU, 7, "lwk-menu-connect", "network-connect", "connect"},
    {ICON_KIND_MENU, 8, "lwk-menu-join", "go-jump", "join"},
    {ICON_KIND_MENU, 9, "lwk-menu-preferences", "preferences-system", "preferences"},
    {ICON_KIND_MENU, 10, "lwk-menu-clear", "edit-clear", "clear"},
    {ICON_KIND_MENU, 11, "lwk-menu-copy", "edit-copy", "copy"},
    {ICON_KIND_MENU, 12, "lwk-menu-delete", "edit-delete", "delete"},
    {ICON_KIND_MENU, 13, "lwk-menu-add", "list-add", "add"},
    {ICON_KIND_MENU, 14, "lwk-menu-remove", "list-remove", "remove"},
    {ICON_KIND_MENU, 15, "lwk-menu-spell-check", "tools-check-spelling", "spell-check"},
    {ICON_KIND_MENU, 16, "lwk-menu-save", "document-save", "save"},
    {ICON_KIND_MENU, 17, "lwk-menu-save-as", "document-save-as", "save-as"},
    {ICON_KIND_MENU, 18, "lwk-menu-refresh", "view-refresh", "refresh"},
    {ICON_KIND_MENU, 19, "lwk-menu-search", "edit-find", "search"},
    {ICON_KIND_MENU, 20, "lwk-menu-find", "edit-find", "find"},
    {ICON_KIND_MENU, 21, "lwk-menu-previous", "go-previous", "previous"},
    {ICON_KIND_MENU, 22, "lwk-menu-next", "go-next", "next"},
    {ICON_KIND_MENU, 23, "lwk-menu-help", "help-browser", "help"},
    {ICON_KIND_MENU, 24, "lwk-menu-about", "help-about", "about"},
    {ICON_KIND_MENU, 25, "lwk-menu-ok", "dialog-ok", "ok"},
    {ICON_KIND_MENU, 26, "lwk-menu-cancel", "dialog-cancel", "cancel"},
    {ICON_KIND_MENU, 27, "lwk-menu-emoji", "face-smile", "emoji"},
    {ICON_KIND_MENU, 28, "lwk-menu-update", "software-update-available", "update"},
    {ICON_KIND_MENU, 29, "lwk-menu-chanlist", "network-workgroup", "chanlist"},
    {ICON_KIND_TRAY, 0, nullptr, "lumenwick", "tray_normal"},
    {ICON_KIND_TRAY, 1, nullptr, "mail-attachment", "tray_fileoffer"},
    {ICON_KIND_TRAY, 2, nullptr, "dialog-warning", "tray_highlight"},
    {ICON_KIND_TRAY, 3, nullptr, "mail-unread", "tray_message"},
    {ICON_KIND_TREE, 0, nullptr, "folder", "tree_channel"},
    {ICON_KIND_TREE, 1, nullptr, "mail-message-new", "tree_dialog"},
    {ICON_KIND_TREE, 2, nullptr, "network-server", "tree_server"},
    {ICON_KIND_TREE, 3, nullptr, "applications-utilities", "tree_util"},
    {ICON_KIND_ULIST, 0, nullptr, "emblem-ok", "ulist_voice"},
    {ICON_KIND_ULIST, 1, nullptr, "emblem-shared", "ulist_halfop"},
    {ICON_KIND_ULIST, 2, nullptr, "emblem-default", "ulist_op"},
    {ICON_KIND_ULIST, 3, nullptr, "emblem-favorite", "ulist_owner"},
    {ICON_KIND_ULIST, 4, nullptr, "emblem-favorite", "ulist_founder"},
    {ICON_KIND_ULIST, 5, nullptr, "emblem-system", "ulist_netop"},
};

// The toolkit's retired stock identifiers, still used by list files and
// plugins, and the freedesktop names that replaced them.
const char *const stock_names[][2] = {
    {"gtk-new", "document-new"},           {"gtk-open", "document-open"},
    {"gtk-revert-to-saved", "document-open"}, {"gtk-save", "document-save"},
    {"gtk-save-as", "document-save-as"},   {"gtk-add", "list-add"},
    {"gtk-cancel", "dialog-cancel"},       {"gtk-ok", "dialog-ok"},
    {"gtk-no", "dialog-cancel"},           {"gtk-yes", "dialog-ok"},
    {"gtk-apply", "dialog-apply"},         {"gtk-dialog-error", "dialog-error"},
    {"gtk-copy", "edit-copy"},             {"gtk-delete", "edit-delete"},
    {"gtk-remove", "list-remove"},         {"gtk-clear", "edit-clear"},
    {"gtk-redo", "edit-redo"},             {"gtk-find", "edit-find"},
    {"gtk-justify-left", "edit-find"},     {"gtk-refresh", "view-refresh"},
    {"gtk-go-back", "go-previous"},        {"gtk-go-forward", "go-next"},
    {"gtk-index", "view-list"},            {"gtk-jump-to", "go-jump"},
    {"gtk-media-play", "media-playback-start"}, {"gtk-preferences", "preferences-system"},
    {"gtk-help", "help-browser"},          {"gtk-about", "help-about"},
    {"gtk-close", "window-close"},         {"gtk-quit", "application-exit"},
    {"gtk-connect", "network-connect"},    {"gtk-disconnect", "network-disconnect"},
    {"gtk-network", "network-workgroup"},  {"gtk-spell-check", "tools-check-spelling"},
};
// clang-format on

const char *stock_mapping(const char *name)
{
    for (const auto &pair : stock_names)
        if (std::strcmp(pair[0], name) == 0)
            return pair[1];
    return nullptr;
}

const icon_row *find_row(int kind, int id)
{
    for (const icon_row &r : rows)
        if (r.kind == kind && r.id == id)
            return &r;
    return nullptr;
}

bool resource_exists(const char *path)
{
    return g_resources_get_info(path, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr, nullptr, nullptr);
}

} // namespace

const char *icon_resolver_icon_name_from_stock(const char *name)
{
    if (!name)
        return nullptr;
    const char *mapped = stock_mapping(name);
    return mapped ? mapped : name;
}

bool icon_resolver_menu_action_from_name(const char *name, int *id)
{
    if (!name)
        return false;
    for (const icon_row &r : rows)
        if (r.kind == ICON_KIND_MENU &&
            (std::strcmp(r.custom_name, name) == 0 || std::strcmp(r.system_name, name) == 0)) {
            *id = r.id;
            return true;
        }
    const char *mapped = stock_mapping(name);
    if (!mapped)
        return false;
    for (const icon_row &r : rows)
        if (r.kind == ICON_KIND_MENU && std::strcmp(r.system_name, mapped) == 0) {
            *id = r.id;
            return true;
        }
    return false;
}

const char *icon_resolver_icon_name_for_menu_custom(const char *custom_name)
{
    int id = 0;
    return icon_resolver_menu_action_from_custom(custom_name, &id) ? find_row(ICON_KIND_MENU, id)->system_name
                                                                   : nullptr;
}

bool icon_resolver_menu_action_from_custom(const char *custom_name, int *id)
{
    if (!custom_name)
        return false;
    for (const icon_row &r : rows)
        if (r.kind == ICON_KIND_MENU && std::strcmp(r.custom_name, custom_name) == 0) {
            *id = r.id;
            return true;
        }
    return false;
}

const char *icon_resolver_system_icon_name(int kind, int id)
{
    const icon_row *r = find_row(kind, id);
    return r ? r->system_name : nullptr;
}

int icon_resolver_detect_theme_variant(void)
{
    return theme_policy_is_app_dark_mode_active() ? ICON_VARIANT_DARK : ICON_VARIANT_LIGHT;
}

char *icon_resolver_resolve_path(int kind, int id, int variant, const char **system_name)
{
    const icon_row *r = find_row(kind, id);
    if (!r)
        return nullptr;
    if (system_name)
        *system_name = r->system_name;
    if (variant == ICON_VARIANT_DETECT)
        variant = icon_resolver_detect_theme_variant();
    const char *word = variant == ICON_VARIANT_DARK ? "dark" : "light";

    const char *dir = get_xdir();
    if (dir && *dir) {
        char *candidates[] = {
            g_strdup_printf("%s/icons/%s/%s.png", dir, word, r->file_base),
            g_strdup_printf("%s/icons/%s-%s.png", dir, r->file_base, word),
            g_strdup_printf("%s/icons/%s.png", dir, r->file_base),
        };
        char *found = nullptr;
        for (char *&c : candidates) {
            if (!found && g_file_test(c, G_FILE_TEST_IS_REGULAR)) {
                found = c;
                c = nullptr;
            }
            g_free(c);
        }
        if (found)
            return found;
    }
    char *res = g_strdup_printf(ICON_RESOURCE_PREFIX "%s-%s.png", r->file_base, word);
    if (resource_exists(res))
        return res;
    g_free(res);
    res = g_strdup_printf(ICON_RESOURCE_PREFIX "%s.png", r->file_base);
    if (resource_exists(res))
        return res;
    g_free(res);
    return nullptr;
}

bool icon_resolver_path_is_resource(const char *path)
{
    return path && std::strlen(path) >= 7 && g_str_has_prefix(path, ICON_RESOURCE_PREFIX);
}
