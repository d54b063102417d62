// The pop-up menus: nicks, links and channels in the text and the user
// list, the tab menu's list-file and plugin items, and the items plugins
// and /MENU add (fe_menu_add, fe_menu_del, fe_menu_update).
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

struct session;
struct menu_entry;

// Every menu item is made here: a mnemonic label and, when the icon is
// known, its image.
GtkWidget *menu_item_new(const char *label, const char *icon);
// Shows a pop-up at the pointer of `event` (may be null); it is destroyed
// when it closes.
void menu_popup(GtkWidget *menu, const GdkEvent *event);

// The nick menu for one nick or (several entries) a selection of nicks.
GtkWidget *menu_nickmenu(session *sess, const std::vector<std::string> &nicks);
GtkWidget *menu_urlmenu(session *sess, const char *url);
GtkWidget *menu_chanmenu(session *sess, const char *channel);
// Appends the items of tabmenu.conf and of plugins under "$TAB".
void menu_add_tab_items(GtkWidget *menu, session *sess);

// A click on a word of the conversation view ("word_click"): pop-ups on
// button 3, links opened on button 1 with the link modifier, focus
// otherwise.
void menu_word_clicked(session *sess, const char *word, const GdkEventButton *event);
