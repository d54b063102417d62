// The fe_ functions whose windows (raw log, channel list, ban lists,
// menus, tray) do not
// exist yet: accepted and ignored, so the core falls back to printing.
#include "config/cfgfiles.h"
#include "dialogs/plugingui.h"
#include "fe.h"

#include <glib.h>

void fe_add_rawlog(server *, char *, int, int) {}

void fe_open_chan_list(server *, char *, int) {}
int fe_is_chanwindow(server *)
{
    return 0;
}
void fe_add_chan_list(server *, char *, char *, char *) {}
void fe_chan_list_end(server *) {}
// No ban window is open, so no list is pending: the core prints the entries.
gboolean fe_add_ban_list(session *, char *, char *, char *, int)
{
    return FALSE;
}
gboolean fe_ban_list_end(session *, int)
{
    return FALSE;
}
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
