#include "resources/pixmaps.h"

#include "resources/icon-resolver.h"

#include "base/handles.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

GdkPixbuf *pix_ulist_voice, *pix_ulist_halfop, *pix_ulist_op, *pix_ulist_owner, *pix_ulist_founder, *pix_ulist_netop;
GdkPixbuf *pix_tray_normal, *pix_tray_fileoffer, *pix_tray_highlight, *pix_tray_message;
GdkPixbuf *pix_tree_channel, *pix_tree_dialog, *pix_tree_server, *pix_tree_util;
GdkPixbuf *pix_book, *pix_lumenwick;

namespace
{

// Icons from the desktop theme are asked for at menu size.
constexpr int THEME_ICON_SIZE = 16;
// Larger backgrounds cost tens of megabytes per view for nothing: no screen
// shows more of a tile.
constexpr int BACKGROUND_MAX_SIDE = 4096;
// Room for the file name in the error message box.
constexpr std::size_t MESSAGE_NAME_MAX = 242;

struct set_slot {
    GdkPixbuf **pix;
    int kind, id;
};
const set_slot image_set[] = {
    {&pix_ulist_voice, ICON_KIND_ULIST, 0},   {&pix_ulist_halfop, ICON_KIND_ULIST, 1},
    {&pix_ulist_op, ICON_KIND_ULIST, 2},      {&pix_ulist_owner, ICON_KIND_ULIST, 3},
    {&pix_ulist_founder, ICON_KIND_ULIST, 4}, {&pix_ulist_netop, ICON_KIND_ULIST, 5},
    {&pix_tray_normal, ICON_KIND_TRAY, 0},    {&pix_tray_fileoffer, ICON_KIND_TRAY, 1},
    {&pix_tray_highlight, ICON_KIND_TRAY, 2}, {&pix_tray_message, ICON_KIND_TRAY, 3},
    {&pix_tree_channel, ICON_KIND_TREE, 0},   {&pix_tree_dialog, ICON_KIND_TREE, 1},
    {&pix_tree_server, ICON_KIND_TREE, 2},    {&pix_tree_util, ICON_KIND_TREE, 3},
};

cairo_surface_t *background = nullptr;
std::string background_name;
bool background_loaded = false;

void drop(GdkPixbuf **pix)
{
    if (*pix)
        g_object_unref(*pix);
    *pix = nullptr;
}

// The factor GDK_SCALE asks for; 1 unless it is a positive whole number.
int env_scale()
{
    const char *s = g_getenv("GDK_SCALE");
    guint64 n = 0;
    if (!s || !g_ascii_string_to_unsigned(s, 10, 1, 16, &n, nullptr))
        return 1;
    return static_cast<int>(n);
}

GdkPixbuf *scaled_for_display(GdkPixbuf *pix)
{
    const int scale = env_scale();
    if (!pix || scale == 1)
        return pix;
    GdkPixbuf *big = gdk_pixbuf_scale_simple(pix, gdk_pixbuf_get_width(pix) * scale, gdk_pixbuf_get_height(pix) * scale,
                                             GDK_INTERP_BILINEAR);
    g_object_unref(pix);
    return big;
}

GdkPixbuf *load_resolved(int kind, int id)
{
    const char *system_name = nullptr;
    gchar_ptr path(icon_resolver_resolve_path(kind, id, ICON_VARIANT_DETECT, &system_name));
    GdkPixbuf *pix = nullptr;
    if (path) {
        error_ptr err;
        pix = icon_resolver_path_is_resource(path.get()) ? gdk_pixbuf_new_from_resource(path.get(), err.out())
                                                         : gdk_pixbuf_new_from_file(path.get(), err.out());
        if (!pix)
            g_info("icon %s: %s", path.get(), err.message());
    }
    if (!pix && system_name) {
        if (GtkIconTheme *theme = gtk_icon_theme_get_default())
            pix = gtk_icon_theme_load_icon(theme, system_name, THEME_ICON_SIZE, GTK_ICON_LOOKUP_FORCE_SIZE, nullptr);
    }
    return scaled_for_display(pix);
}

GdkPixbuf *load_resource(const char *path)
{
    error_ptr err;
    GdkPixbuf *pix = gdk_pixbuf_new_from_resource(path, err.out());
    if (!pix)
        g_warning("%s: %s", path, err.message());
    return pix;
}

void show_cannot_open(const char *filename)
{
    const std::size_t len = utf8_prefix(filename, std::strlen(filename), MESSAGE_NAME_MAX);
    std::string msg = _("Cannot open:\n\n");
    msg.append(filename, len);
    fe_message(msg.c_str(), FE_MSG_ERROR);
}

// The size a `w` x `h` image is shown at: its larger side at most
// BACKGROUND_MAX_SIDE, the proportions kept, no side below one pixel.
void fit_background(int w, int h, int *out_w, int *out_h)
{
    *out_w = w;
    *out_h = h;
    if (w <= BACKGROUND_MAX_SIDE && h <= BACKGROUND_MAX_SIDE)
        return;
    if (w >= h) {
        *out_w = BACKGROUND_MAX_SIDE;
        *out_h = std::max(1, static_cast<int>((static_cast<double>(h) * BACKGROUND_MAX_SIDE) / w + 0.5));
    } else {
        *out_h = BACKGROUND_MAX_SIDE;
        *out_w = std::max(1, static_cast<int>((static_cast<double>(w) * BACKGROUND_MAX_SIDE) / h + 0.5));
    }
}

cairo_surface_t *surface_from_pixbuf(GdkPixbuf *pix)
{
    const int w = gdk_pixbuf_get_width(pix), h = gdk_pixbuf_get_height(pix);
    const int channels = gdk_pixbuf_get_n_channels(pix);
    const bool alpha = gdk_pixbuf_get_has_alpha(pix);
    if (gdk_pixbuf_get_bits_per_sample(pix) != 8 || channels < 3)
        return nullptr;
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_surface_flush(s);
    unsigned char *dst = cairo_image_surface_get_data(s);
    const int dst_stride = cairo_image_surface_get_stride(s);
    const guchar *src = gdk_pixbuf_read_pixels(pix);
    const int src_stride = gdk_pixbuf_get_rowstride(pix);
    for (int y = 0; y < h; ++y) {
        const guchar *in = src + static_cast<std::size_t>(y) * src_stride;
        auto *out = reinterpret_cast<uint32_t *>(dst + static_cast<std::size_t>(y) * dst_stride);
        for (int x = 0; x < w; ++x, in += channels) {
            const uint32_t a = alpha ? in[3] : 255;
            auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
            out[x] = (a << 24) | (pre(in[0]) << 16) | (pre(in[1]) << 8) | pre(in[2]);
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

} // namespace

void pixmaps_free(void)
{
    for (const set_slot &slot : image_set)
        drop(slot.pix);
    drop(&pix_book);
    drop(&pix_lumenwick);
}

void pixmaps_init(void)
{
    pixmaps_free();
    for (const set_slot &slot : image_set) {
        *slot.pix = load_resolved(slot.kind, slot.id);
        if (!*slot.pix)
            g_warning("pixbuf != NULL");
    }
    pix_book = load_resource(ICON_RESOURCE_PREFIX "book.png");
    pix_lumenwick = load_resource(ICON_RESOURCE_PREFIX "lumenwick.png");
}

GdkPixbuf *pixmaps_for(int kind, int id)
{
    for (const set_slot &slot : image_set)
        if (slot.kind == kind && slot.id == id)
            return *slot.pix;
    return nullptr;
}

cairo_surface_t *pixmap_load_from_file(const char *filename)
{
    if (!filename || !*filename)
        return nullptr;
    int w = 0, h = 0;
    error_ptr err;
    GdkPixbuf *pix = nullptr;
    // Ask the loader for the shown size up front, so a huge image is never
    // held at full size.
    if (gdk_pixbuf_get_file_info(filename, &w, &h) && w > 0 && h > 0) {
        int fw = w, fh = h;
        fit_background(w, h, &fw, &fh);
        pix = fw == w && fh == h ? gdk_pixbuf_new_from_file(filename, err.out())
                                 : gdk_pixbuf_new_from_file_at_scale(filename, fw, fh, FALSE, err.out());
        // Loaders that cannot scale while loading give the full image.
        if (pix && (gdk_pixbuf_get_width(pix) != fw || gdk_pixbuf_get_height(pix) != fh)) {
            GdkPixbuf *fitted = gdk_pixbuf_scale_simple(pix, fw, fh, GDK_INTERP_BILINEAR);
            g_object_unref(pix);
            pix = fitted;
        }
    }
    cairo_surface_t *s = pix ? surface_from_pixbuf(pix) : nullptr;
    if (pix)
        g_object_unref(pix);
    if (!s)
        show_cannot_open(filename);
    return s;
}

cairo_surface_t *pixmaps_text_background(void)
{
    return background;
}

void pixmaps_background_update(void)
{
    if (background_loaded && background_name == prefs.text_background)
        return;
    background_loaded = true;
    background_name = prefs.text_background;
    if (background)
        cairo_surface_destroy(background);
    background = pixmap_load_from_file(prefs.text_background);
}
