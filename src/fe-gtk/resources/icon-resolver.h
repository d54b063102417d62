// The icon table: every icon the front end shows, by kind and id, with its
// freedesktop name and the base name of its image file; and the resolver
// that finds the image file (the user's configuration folder, then the
// program's resources).
#pragma once

enum icon_kind { ICON_KIND_MENU = 0, ICON_KIND_TRAY = 1, ICON_KIND_TREE = 2, ICON_KIND_ULIST = 3 };

// Variants for icon_resolver_resolve_path.
enum icon_variant { ICON_VARIANT_DETECT = 0, ICON_VARIANT_LIGHT = 1, ICON_VARIANT_DARK = 2 };

// Resource paths of the compiled images begin with this.
#define ICON_RESOURCE_PREFIX "/icons/"

// Stock identifier -> freedesktop name; other names unchanged, null -> null.
const char *icon_resolver_icon_name_from_stock(const char *name);
// A menu row named `name` (custom or freedesktop name, or through the stock
// table); true and `*id` set when found.
bool icon_resolver_menu_action_from_name(const char *name, int *id);
// The freedesktop name of the menu row with that custom name, or null.
const char *icon_resolver_icon_name_for_menu_custom(const char *custom_name);
bool icon_resolver_menu_action_from_custom(const char *custom_name, int *id);
// The freedesktop name of a row, or null when there is no such row.
const char *icon_resolver_system_icon_name(int kind, int id);
// ICON_VARIANT_DARK while the application shows its dark palette, else LIGHT.
int icon_resolver_detect_theme_variant(void);
// The image file for a row: an owned path (g_free) in the configuration
// folder, or a resource path beginning "/icons/"; null when there is none.
// `*system_name` (may be null) gets the row's freedesktop name.
char *icon_resolver_resolve_path(int kind, int id, int variant, const char **system_name);
// Whether a path from icon_resolver_resolve_path names a compiled resource.
bool icon_resolver_path_is_resource(const char *path);
