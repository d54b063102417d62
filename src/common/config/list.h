// The small list files of the configuration directory (menus, buttons, user
// commands, CTCP replies, replacements, URL handlers): NAME/CMD records.
#pragma once

#include <glib.h>

// One record. The record and both strings are one g_malloc block, so a
// single g_free releases an entry.
struct popup {
    char *cmd;
    char *name;
};

extern GSList *popup_list;
extern GSList *usermenu_list;
extern GSList *button_list;
extern GSList *dlgbutton_list;
extern GSList *tabmenu_list;
extern GSList *ctcp_list;
extern GSList *command_list;
extern GSList *replace_list;
extern GSList *urlhandler_list;

inline constexpr int LIST_NAME_MAX = 127;
inline constexpr int LIST_CMD_MAX = 383;

// Loads `file` from the configuration directory into *list; when the file
// does not exist, parses the built-in text `defaultconf` instead (may be null).
void list_loadconf(const char *file, GSList **list, const char *defaultconf);
void list_addentry(GSList **list, const char *cmd, const char *name);
// Removes the first entry named `name` (ASCII case-insensitive).
bool list_delentry(GSList **list, const char *name);
void list_free(GSList **list);
// Loads all nine list files with their built-in contents.
void list_load_all(void);
// Writes `list` to `file` as NAME/CMD records (atomically); false on failure.
bool list_save(const char *file, GSList *list);
