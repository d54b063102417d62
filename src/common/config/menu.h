// The menu items the user and plugins add with /MENU: one process-wide list
// that the front end turns into items of its menus (fe_menu_add, fe_menu_del,
// fe_menu_update).
#pragma once

#include <glib.h>

// Which menu an item belongs to: the menu bar, or one of the context menus
// named by the first element of its path.
enum menu_root {
    MENU_ROOT_MAIN = 0, // no root: a menu-bar path such as "Window/Extras"
    MENU_ROOT_TAB,      // "$TAB"
    MENU_ROOT_TRAY,     // "$TRAY"
    MENU_ROOT_URL,      // "$URL"
    MENU_ROOT_NICK,     // "$NICK"
    MENU_ROOT_CHAN,     // "$CHAN"
};

// Kinds of item.
enum menu_item_kind {
    MENU_ITEM_NORMAL = 0,
    MENU_ITEM_TOGGLE = 1, // check item: `cmd` when switched on, `ucmd` when off
    MENU_ITEM_RADIO = 2,  // radio item of `group`
};

// Position meaning "at the end of its menu".
inline constexpr int MENU_POS_APPEND = -1;

// One item. Every string is owned by the entry (null when not given).
struct menu_entry {
    char *path;      // the menus leading to the item, "/"-separated; "" for the top
    char *label;     // the item's text (with "_" mnemonic markers)
    char *cmd;       // command run when activated (toggle: when switched on)
    char *ucmd;      // toggle: command run when switched off
    char *group;     // radio group name
    char *icon;      // icon file or name
    int kind;        // menu_item_kind
    int state;       // toggle and radio: 1 on, 0 off
    int enabled;     // 1 sensitive, 0 greyed out
    int pos;         // position in its menu, MENU_POS_APPEND at the end
    int modifier;    // accelerator modifier mask (0: no accelerator)
    int key;         // accelerator key value (0: no accelerator)
    int markup;      // the label is Pango markup
    int root;        // menu_root
    int root_offset; // bytes of `path` taken by the root and its "/"
};

// The items, oldest first.
extern GSList *menu_list;

// Whether two labels are the same apart from their "_" mnemonic markers.
bool menu_streq(const char *a, const char *b);
// The root named by the first element of `path`, and in *offset (may be
// null) how many bytes of `path` the root and its "/" take.
int menu_root_of(const char *path, int *offset);
// Adds `item` (ownership passes to the list) or, when an item with the same
// path and label exists, gives that one the new values and frees `item`.
// Tells the front end; returns the entry in the list.
menu_entry *menu_add(menu_entry *item);
// Removes the item `label` of `path` and every item below it, telling the
// front end for each; returns how many items were removed.
int menu_del(const char *path, const char *label);
// Frees one entry that is not (or no longer) in the list.
void menu_entry_free(menu_entry *item);
// Empties the list without telling the front end (shutdown).
void menu_free_all(void);
