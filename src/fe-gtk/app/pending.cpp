// The fe_ functions whose windows (raw log, user list, menus, tray) do not
// exist yet: accepted and ignored, so the core falls back to printing.
#include "config/cfgfiles.h"
#include "dialogs/plugingui.h"
#include "fe.h"

#include <glib.h>

void fe_add_rawlog(server *, char *, int, int) {}

void fe_userlist_insert(session *, User *, gboolean) {}
int fe_userlist_remove(session *, User *)
{
    return 0;
}
void fe_userlist_rehash(session *, User *) {}
void fe_userlist_numbers(session *sess)
{
    if (prefs.gui_win_ucount)
        fe_set_title(sess);
}
void fe_userlist_clear(session *) {}
void fe_userlist_set_selected(session *) {}
void fe_uselect(session *, char *[], int, int) {}
void fe_set_typing(session *, const char *, const char *) {}
void fe_userlist_update(session *, User *) {}

void fe_pluginlist_update(void)
{
    plugingui_refresh();
}
void fe_menu_add(menu_entry *) {}
void fe_menu_del(menu_entry *) {}
void fe_menu_update(menu_entry *) {}

void fe_tray_set_icon(int) {}
void fe_tray_set_flash(const char *, const char *, int) {}
void fe_tray_set_file(const char *) {}
void fe_tray_set_tooltip(const char *) {}
