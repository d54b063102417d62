// Window state the core asks about or changes: focus, visibility, urgency,
// and connection events.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "menus/mainmenu.h"
#include "session/session.h"

#include <gtk/gtk.h>

#include <cstring>

namespace
{

bool wayland_kde(void)
{
    GdkDisplay *display = gdk_display_get_default();
    const char *desktop = g_getenv("XDG_CURRENT_DESKTOP");
    return display && g_str_equal(G_OBJECT_TYPE_NAME(display), "GdkWaylandDisplay") && desktop &&
           std::strstr(desktop, "KDE");
}

} // namespace

int fe_gui_info(session *sess, int info_type)
{
    if (info_type != 0)
        return -1;
    GtkWindow *window = session_window(sess);
    if (!window || !gtk_widget_get_visible(GTK_WIDGET(window)))
        return 2;
    GdkWindow *gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
    if (gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_ICONIFIED))
        return 2;
    return gtk_window_is_active(window) ? 1 : 0;
}

void *fe_gui_info_ptr(session *sess, int info_type)
{
    if (info_type == 0 || info_type == 1)
        return session_window(sess ? sess : current_sess);
    return nullptr;
}

void fe_flash_window(session *sess)
{
    GtkWindow *window = session_window(sess);
    if (!window || fe_gui_info(sess, 0) == 1)
        return;
    gtk_window_set_urgency_hint(window, TRUE);
    // KDE on Wayland ignores the urgency hint; presenting is what marks it there.
    if (wayland_kde())
        gtk_window_present(window);
}

void fe_ctrl_gui(session *sess, fe_gui_action action, int arg)
{
    if (!sess)
        sess = current_sess;
    GtkWindow *window = session_window(sess);
    switch (action) {
    case FE_GUI_HIDE:
        if (window)
            gtk_widget_hide(GTK_WIDGET(window));
        break;
    case FE_GUI_SHOW:
        if (window) {
            gtk_widget_show(GTK_WIDGET(window));
            gtk_window_present(window);
        }
        break;
    case FE_GUI_FOCUS:
        mg_bring_tofront_sess(sess);
        if (window)
            gtk_window_present(window);
        break;
    case FE_GUI_FLASH:
        fe_flash_window(sess);
        break;
    case FE_GUI_ICONIFY:
        if (window)
            gtk_window_iconify(window);
        break;
    case FE_GUI_APPLY:
        sessionwin_apply_font();
        for (GSList *l = sess_list; l; l = l->next)
            sessionwin_apply_settings(static_cast<session *>(l->data));
        menu_main_refresh(); // the usermenu and the check items follow the settings
        break;
    case FE_GUI_COLOR:
        mg_set_tab_color(sess, arg);
        break;
    case FE_GUI_MENU:
        menu_bar_toggle(false);
        break;
    case FE_GUI_ATTACH: // 1 detach, 2 attach, 0 toggle
        mg_detach(sess, arg);
        break;
    }
}
