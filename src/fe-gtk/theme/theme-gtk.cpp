#include "theme/theme-gtk.h"

#include "config/cfgfiles.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace
{

struct policy_state {
    bool started = false;
    bool start_prefer_dark = false;
    std::string start_theme_name;
    int portal_scheme = -1; // -1: nothing received yet
    GDBusConnection *bus = nullptr;
    guint portal_signal = 0;
    GSettings *interface_settings = nullptr; // null when the schema or key is missing
    void (*changed)(void) = nullptr;
};

policy_state &policy()
{
    static policy_state s;
    return s;
}

bool transparent(const GdkRGBA &c)
{
    return c.alpha <= 0.0;
}

bool lookup_named(GtkStyleContext *ctx, const char *name, GdkRGBA *out)
{
    // The imported GTK 3 theme is applied through the style context, so the
    // context's named colours already carry it.
    return gtk_style_context_lookup_color(ctx, name, out);
}

theme_color blend(const GdkRGBA &mapped, const theme_color &own)
{
    const double a = std::clamp(mapped.alpha, 0.0, 1.0);
    return {a * mapped.red + (1 - a) * own.red, a * mapped.green + (1 - a) * own.green,
            a * mapped.blue + (1 - a) * own.blue, 1.0};
}

void notify_changed()
{
    if (policy().changed)
        policy().changed();
}

int scheme_from_variant(GVariant *v)
{
    GVariant *inner = g_variant_ref(v);
    while (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant *next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    int scheme = -1;
    if (inner && g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32))
        scheme = static_cast<int>(g_variant_get_uint32(inner));
    if (inner)
        g_variant_unref(inner);
    return scheme;
}

void set_portal_scheme(int scheme)
{
    policy_state &s = policy();
    if (scheme < 0)
        return;
    const bool first = s.portal_scheme < 0;
    const bool differs = s.portal_scheme != scheme;
    s.portal_scheme = scheme;
    if (first || differs)
        notify_changed();
}

void on_portal_read(GObject *source, GAsyncResult *res, gpointer) noexcept
{
    GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, nullptr);
    if (!reply)
        return; // no portal, or it does not know the key
    GVariant *value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (value) {
        set_portal_scheme(scheme_from_variant(value));
        g_variant_unref(value);
    }
    g_variant_unref(reply);
}

void on_portal_setting_changed(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                               GVariant *params, gpointer) noexcept
{
    const gchar *ns = nullptr, *key = nullptr;
    GVariant *value = nullptr;
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ssv)")))
        return;
    g_variant_get(params, "(&s&sv)", &ns, &key, &value);
    if (g_strcmp0(ns, "org.freedesktop.appearance") == 0 && g_strcmp0(key, "color-scheme") == 0)
        set_portal_scheme(scheme_from_variant(value));
    if (value)
        g_variant_unref(value);
}

void on_gsettings_changed(GSettings *, gchar *, gpointer) noexcept
{
    notify_changed();
}

std::string lowered(const char *s)
{
    std::string out = s ? s : "";
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

} // namespace

GdkRGBA theme_to_gdk(const theme_color &c)
{
    return {c.red, c.green, c.blue, c.alpha};
}

theme_color theme_from_gdk(const GdkRGBA &c)
{
    return {c.red, c.green, c.blue, c.alpha};
}

bool theme_gtk_color_map_from_widget(GtkWidget *widget, theme_gtk_color_map *map)
{
    if (!widget || !map)
        return false;
    GtkStyleContext *ctx = gtk_widget_get_style_context(widget);
    const bool had_class = gtk_style_context_has_class(ctx, THEME_PALETTE_CSS_CLASS);
    if (had_class)
        gtk_style_context_remove_class(ctx, THEME_PALETTE_CSS_CLASS);
    gtk_style_context_save(ctx);
    const auto keep = static_cast<GtkStateFlags>(GTK_STATE_FLAG_FOCUSED | GTK_STATE_FLAG_BACKDROP |
                                                 GTK_STATE_FLAG_DIR_LTR | GTK_STATE_FLAG_DIR_RTL);
    const auto normal = static_cast<GtkStateFlags>(gtk_style_context_get_state(ctx) & keep);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_style_context_set_state(ctx, normal);
    gtk_style_context_get_color(ctx, normal, &map->text);
    gtk_style_context_get_background_color(ctx, normal, &map->background);
    if (transparent(map->background) && !lookup_named(ctx, "theme_base_color", &map->background))
        lookup_named(ctx, "theme_bg_color", &map->background);
    const auto selected = static_cast<GtkStateFlags>(normal | GTK_STATE_FLAG_SELECTED);
    gtk_style_context_set_state(ctx, selected);
    gtk_style_context_get_color(ctx, selected, &map->selection);
    if (gdk_rgba_equal(&map->selection, &map->text))
        lookup_named(ctx, "theme_selected_fg_color", &map->selection);
    gtk_style_context_get_background_color(ctx, selected, &map->selection_background);
    if (transparent(map->selection_background))
        lookup_named(ctx, "theme_selected_bg_color", &map->selection_background);
    const auto link = static_cast<GtkStateFlags>(normal | GTK_STATE_FLAG_LINK);
    gtk_style_context_set_state(ctx, link);
    gtk_style_context_get_color(ctx, link, &map->accent);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (transparent(map->accent))
        map->accent = map->selection_background;
    gtk_style_context_restore(ctx);
    if (had_class)
        gtk_style_context_add_class(ctx, THEME_PALETTE_CSS_CLASS);
    return true;
}

theme_palette theme_palette_mapped(const theme_palette &palette, const theme_gtk_color_map &map)
{
    theme_palette out = palette;
    auto apply = [&](int token, const GdkRGBA &mapped, int own_token) {
        if (!theme_runtime_light_token_is_user_set(token))
            out.colors[token] = blend(mapped, palette.colors[own_token]);
    };
    apply(THEME_TOKEN_TEXT_FOREGROUND, map.text, THEME_TOKEN_TEXT_FOREGROUND);
    apply(THEME_TOKEN_TEXT_BACKGROUND, map.background, THEME_TOKEN_TEXT_BACKGROUND);
    apply(THEME_TOKEN_SELECTION_FOREGROUND, map.selection, THEME_TOKEN_SELECTION_FOREGROUND);
    apply(THEME_TOKEN_SELECTION_BACKGROUND, map.selection_background, THEME_TOKEN_SELECTION_BACKGROUND);
    for (int t : {THEME_TOKEN_MARKER, THEME_TOKEN_TAB_NEW_DATA, THEME_TOKEN_TAB_HIGHLIGHT, THEME_TOKEN_TAB_NEW_MESSAGE,
                  THEME_TOKEN_TAB_AWAY, THEME_TOKEN_SPELL})
        apply(t, map.accent, THEME_TOKEN_MARKER);
    return out;
}

void theme_runtime_get_widget_style_values_mapped(const theme_gtk_color_map *map, theme_widget_style_values *values)
{
    if (!map) {
        theme_runtime_get_widget_style_values(values);
        return;
    }
    const theme_palette p = theme_palette_mapped(theme_runtime_active_palette(), *map);
    theme_palette_to_widget_style_values(&p, values);
}

void theme_runtime_get_xtext_colors_mapped(const theme_gtk_color_map *map, theme_color *array, std::size_t count)
{
    if (!map) {
        theme_runtime_get_xtext_colors(array, count);
        return;
    }
    const theme_palette p = theme_palette_mapped(theme_runtime_active_palette(), *map);
    theme_palette_fill_xtext(&p, array, count);
}

void theme_get_widget_style_values_for_widget(GtkWidget *widget, theme_widget_style_values *values)
{
    theme_gtk_color_map map;
    theme_runtime_get_widget_style_values_mapped(theme_gtk_color_map_from_widget(widget, &map) ? &map : nullptr,
                                                 values);
}

void theme_get_xtext_colors_for_widget(GtkWidget *widget, GdkRGBA *array, std::size_t count)
{
    theme_color colors[THEME_XTEXT_COLOR_COUNT];
    count = std::min(count, THEME_XTEXT_COLOR_COUNT);
    theme_gtk_color_map map;
    theme_runtime_get_xtext_colors_mapped(theme_gtk_color_map_from_widget(widget, &map) ? &map : nullptr, colors,
                                          count);
    for (std::size_t i = 0; i < count; ++i)
        array[i] = theme_to_gdk(colors[i]);
}

void theme_policy_init(void)
{
    policy_state &s = policy();
    if (s.started)
        return;
    s.started = true;
    if (GtkSettings *gs = gtk_settings_get_default()) {
        gboolean dark = FALSE;
        gchar *name = nullptr;
        g_object_get(gs, "gtk-application-prefer-dark-theme", &dark, "gtk-theme-name", &name, nullptr);
        s.start_prefer_dark = dark;
        s.start_theme_name = name ? name : "";
        g_free(name);
    }
    // Each source is optional: look before using, never a call that aborts.
    if (GSettingsSchemaSource *src = g_settings_schema_source_get_default()) {
        if (GSettingsSchema *schema = g_settings_schema_source_lookup(src, "org.gnome.desktop.interface", TRUE)) {
            if (g_settings_schema_has_key(schema, "color-scheme")) {
                s.interface_settings = g_settings_new_full(schema, nullptr, nullptr);
                g_signal_connect(s.interface_settings, "changed::color-scheme", G_CALLBACK(on_gsettings_changed),
                                 nullptr);
            }
            g_settings_schema_unref(schema);
        }
    }
    s.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (s.bus) {
        s.portal_signal = g_dbus_connection_signal_subscribe(
            s.bus, "org.freedesktop.portal.Desktop", "org.freedesktop.portal.Settings", "SettingChanged",
            "/org/freedesktop/portal/desktop", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, on_portal_setting_changed, nullptr,
            nullptr);
        g_dbus_connection_call(s.bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                               "org.freedesktop.portal.Settings", "Read",
                               g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"),
                               G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, on_portal_read,
                               nullptr);
    }
}

void theme_policy_set_appearance_changed_callback(void (*fn)(void))
{
    policy().changed = fn;
}

bool theme_policy_system_prefers_dark(void)
{
    policy_state &s = policy();
    if (s.portal_scheme == 1)
        return true;
    if (s.portal_scheme == 2)
        return false;
    if (s.interface_settings) {
        gchar *v = g_settings_get_string(s.interface_settings, "color-scheme");
        const std::string scheme = v ? v : "";
        g_free(v);
        if (scheme == "prefer-dark")
            return true;
        if (scheme == "prefer-light")
            return false;
    }
    if (s.start_prefer_dark)
        return true;
    // No imported theme replaces the desktop's yet: the current name counts.
    std::string name;
    gchar *current = nullptr;
    if (GtkSettings *gs = gtk_settings_get_default())
        g_object_get(gs, "gtk-theme-name", &current, nullptr);
    name = current ? current : s.start_theme_name;
    g_free(current);
    name = lowered(name.c_str());
    return name.find("dark") != std::string::npos || name.find("noir") != std::string::npos ||
           name.find("black") != std::string::npos;
}

bool theme_policy_is_dark_mode_active(int mode)
{
    if (mode == 1)
        return true;
    if (mode == 2)
        return false;
    return theme_policy_system_prefers_dark();
}

bool theme_policy_is_app_dark_mode_active(void)
{
    return theme_policy_is_dark_mode_active(prefs.gui_dark_mode);
}

namespace
{

void follow_desktop_appearance()
{
    const bool dark = theme_policy_is_app_dark_mode_active();
    // The widgets' own theme colours tint the palette: ask GTK for the
    // matching variant so the two agree.
    if (GtkSettings *gs = gtk_settings_get_default())
        g_object_set(gs, "gtk-application-prefer-dark-theme", dark, nullptr);
    if (!theme_runtime_apply_dark_mode(dark))
        return;
    // Styles are looked up again, and each text view takes the new palette.
    GList *tops = gtk_window_list_toplevels();
    for (GList *l = tops; l; l = l->next)
        gtk_widget_reset_style(GTK_WIDGET(l->data));
    g_list_free(tops);
}

} // namespace

void theme_startup(void)
{
    theme_runtime_load();
    theme_policy_init();
    theme_policy_set_appearance_changed_callback(follow_desktop_appearance);
    follow_desktop_appearance();
}
