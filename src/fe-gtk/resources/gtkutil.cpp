#include "resources/gtkutil.h"

#include "resources/icon-resolver.h"

#include "base/guard.h"
#include "base/handles.h"

#include <algorithm>

namespace
{

GdkPixbuf *load_path(const char *path)
{
    error_ptr err;
    GdkPixbuf *pix = icon_resolver_path_is_resource(path) ? gdk_pixbuf_new_from_resource(path, err.out())
                                                          : gdk_pixbuf_new_from_file(path, err.out());
    if (!pix)
        g_info("icon %s: %s", path, err.message());
    return pix;
}

bool theme_has(const char *name)
{
    GtkIconTheme *theme = gtk_icon_theme_get_default();
    return theme && gtk_icon_theme_has_icon(theme, name);
}

} // namespace

const char *gtkutil_icon_name_from_stock(const char *name)
{
    return icon_resolver_icon_name_from_stock(name);
}

GtkWidget *gtkutil_image_new_from_stock(const char *name, GtkIconSize size)
{
    const char *mapped = gtkutil_icon_name_from_stock(name);
    if (!mapped)
        mapped = "image-missing";
    int id = 0;
    const bool menu_row = icon_resolver_menu_action_from_name(mapped, &id);
    if (menu_row) {
        gchar_ptr path(icon_resolver_resolve_path(ICON_KIND_MENU, id, ICON_VARIANT_DETECT, nullptr));
        if (GdkPixbuf *pix = path ? load_path(path.get()) : nullptr) {
            int w = 16, h = 16;
            gtk_icon_size_lookup(size, &w, &h);
            const int side = std::max(w, h);
            // A user's file may be any size; a menu wants its own.
            if (gdk_pixbuf_get_width(pix) != side || gdk_pixbuf_get_height(pix) != side) {
                GdkPixbuf *fitted = gdk_pixbuf_scale_simple(pix, side, side, GDK_INTERP_BILINEAR);
                g_object_unref(pix);
                pix = fitted;
            }
            GtkWidget *image = gtk_image_new_from_pixbuf(pix);
            g_object_unref(pix);
            gtk_image_set_pixel_size(GTK_IMAGE(image), side);
            return image;
        }
    }
    const char *icon = menu_row ? icon_resolver_system_icon_name(ICON_KIND_MENU, id) : mapped;
    return gtk_image_new_from_icon_name(icon, size);
}

void gtkutil_entry_set_emoji_icon(GtkWidget *entry)
{
    // GTK puts its own emoji icon there by name; on a desktop whose theme
    // lacks that name it shows nothing, so fall back to one that exists.
    g_object_set(entry, "show-emoji-icon", TRUE, nullptr);
    GtkEntry *e = GTK_ENTRY(entry);
    const GtkImageType storage = gtk_entry_get_icon_storage_type(e, GTK_ENTRY_ICON_SECONDARY);
    if (storage != GTK_IMAGE_EMPTY &&
        (storage != GTK_IMAGE_ICON_NAME || theme_has(gtk_entry_get_icon_name(e, GTK_ENTRY_ICON_SECONDARY))))
        return;
    g_object_set(entry, "show-emoji-icon", FALSE, nullptr);
    static const char *const candidates[] = {"face-smile-symbolic", "face-smile", "insert-emoticon-symbolic",
                                             "insert-emoticon", "lwk-menu-emoji"};
    for (const char *name : candidates) {
        int id = 0;
        if (theme_has(name)) {
            gtk_entry_set_icon_from_icon_name(e, GTK_ENTRY_ICON_SECONDARY, name);
        } else if (icon_resolver_menu_action_from_name(name, &id)) {
            gchar_ptr path(icon_resolver_resolve_path(ICON_KIND_MENU, id, ICON_VARIANT_DETECT, nullptr));
            GdkPixbuf *pix = path ? load_path(path.get()) : nullptr;
            if (!pix)
                continue;
            gtk_entry_set_icon_from_pixbuf(e, GTK_ENTRY_ICON_SECONDARY, pix);
            g_object_unref(pix);
        } else {
            continue;
        }
        // The toolkit's own icon opened the chooser; ours must too.
        g_signal_connect(entry, "icon-press",
                         G_CALLBACK(+[](GtkEntry *en, GtkEntryIconPosition pos, GdkEvent *, gpointer) noexcept {
                             if (pos == GTK_ENTRY_ICON_SECONDARY)
                                 guarded("emoji icon", [&] { g_signal_emit_by_name(en, "insert-emoji"); });
                         }),
                         nullptr);
        return;
    }
}
