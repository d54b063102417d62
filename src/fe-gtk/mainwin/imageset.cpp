// The image set follows the application's dark mode while the program
// runs: the switcher's glyphs are drawn in dark ink for light themes and
// light ink for dark ones, and would vanish against the other background.
#include "mainwin/imageset.h"

#include "mainwin/maingui.h"
#include "mainwin/userlist.h"
#include "resources/icon-resolver.h"
#include "resources/pixmaps.h"
#include "switcher/chanview.h"

#include "base/guard.h"
#include "session/session.h"

#include <gtk/gtk.h>

namespace
{

int shown_variant = ICON_VARIANT_DETECT;

void on_dark_preference(GObject *, GParamSpec *, gpointer) noexcept
{
    guarded("image set variant", [] {
        const int variant = icon_resolver_detect_theme_variant();
        if (variant == shown_variant)
            return;
        shown_variant = variant;
        pixmaps_init();
        if (session_view *v = mg_shared_view(); v && v->switcher)
            chanview_refresh_icons(v->switcher);
        for (GSList *l = sess_list; l; l = l->next) {
            auto *sess = static_cast<session *>(l->data);
            if (sess->type == SESS_CHANNEL && tab_of(sess))
                userlist_refresh_icons(sess);
        }
    });
}

} // namespace

void mg_images_follow_dark_mode(void)
{
    static bool connected = false;
    shown_variant = icon_resolver_detect_theme_variant();
    GtkSettings *settings = gtk_settings_get_default();
    if (connected || !settings)
        return;
    connected = true;
    // The theme sets this whenever the application's dark mode changes.
    g_signal_connect(settings, "notify::gtk-application-prefer-dark-theme", G_CALLBACK(on_dark_preference), nullptr);
}
