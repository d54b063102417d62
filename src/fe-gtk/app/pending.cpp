// The fe_ functions whose windows (raw log, tray) do not exist yet: accepted and ignored, so the core falls back
// to printing.
#include "config/cfgfiles.h"
#include "dialogs/plugingui.h"
#include "fe.h"

#include <glib.h>

void fe_add_rawlog(server *, char *, int, int) {}

void fe_pluginlist_update(void)
{
    plugingui_refresh();
}

void fe_tray_set_icon(int) {}
void fe_tray_set_flash(const char *, const char *, int) {}
void fe_tray_set_file(const char *) {}
void fe_tray_set_tooltip(const char *) {}
