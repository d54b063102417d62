// The menus built from list files (popup.conf, usermenu.conf,
// urlhandlers.conf, tabmenu.conf) and the command lines their items run,
// without a display: menu.cpp turns the nodes into widgets.
#pragma once

#include "commands/outbound.h"

#include <glib.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct menu_node {
    enum kind_t { ITEM, SUBMENU, SEPARATOR, TOGGLE };
    kind_t kind = ITEM;
    std::string label;   // mnemonic markers kept, icon suffix and "\~" escapes resolved
    std::string icon;    // the name between the two "~" ending the label, or empty
    std::string command; // ITEM: command template; TOGGLE: the setting's name
    std::vector<menu_node> children;

    bool operator==(const menu_node &) const = default;
};
std::ostream &operator<<(std::ostream &os, const menu_node &node);

// A label as written in a list file: "Open~lwk-menu-new~" is the label
// "Open" with the icon "lwk-menu-new"; "\~" is a literal "~".
struct menu_label {
    std::string text;
    std::string icon;
};
menu_label menu_split_label(const char *name);

struct menu_build_options {
    // Records for which this says false are left out (null: all kept).
    std::function<bool(const char *name, const char *cmd)> keep;
    // A submenu that ends up empty is dropped (the URL menu).
    bool drop_empty_submenus = false;
};

// Turns list records (struct popup, in order) into a menu tree: "SUB" opens
// a submenu labelled with its command, "ENDSUB" closes it (a stray one is
// ignored, an unclosed one ends with the list), "SEP" a separator,
// "TOGGLE label" a check item bound to the setting its command names.
std::vector<menu_node> menu_build_from_list(GSList *list, const menu_build_options &options = {});

// Whether a URL handler can run here: a "!" command is offered only when its
// program (after an optional "gnome-terminal -x ") is on the search path.
bool menu_url_handler_available(const char *cmd);

// The command line one menu item runs, with the menu's values filled in. A
// template starting with "!" is a shell command run through /EXEC: every
// value filled into it (a nick may hold a backtick, a URL quotes and "$(")
// is shell-quoted first, each nick of %a on its own, so text from the
// network reaches the program as one argument and never runs as a command.
// Empty when the template names a word that is not there.
std::string menu_command_line(const char *tmpl, const insert_values &values);

// Whether a template fills in the single nick (%s), as opposed to all
// selected nicks (%a); such an entry runs once per selected nick.
bool menu_template_uses_nick(const char *tmpl);
