// The formatting items of the input line's context menu and the emoji font
// fallback.
#include "mainwin/input-codes.h"

#include "base/guard.h"
#include "input/inputbox.h"
#include "support/gtk-handles.h"
#include "theme/palette.h"
#include "theme/theme-runtime.h"

#include <glib/gi18n.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace
{

constexpr const char *EMOJI_FAMILIES[] = {"Noto Color Emoji", "Segoe UI Emoji", "Apple Color Emoji", "Twemoji",
                                          "EmojiOne"};
constexpr const char *EMOJI_FALLBACK =
    "Noto Color Emoji, Segoe UI Emoji, Apple Color Emoji, Twemoji Mozilla, EmojiOne Color";

struct code_item {
    const char *markup;
    const char *code;
};

constexpr code_item ATTRIBUTES[] = {
    {N_("<b>Bold</b>"), "\002"},          {N_("<u>Underline</u>"), "\037"}, {N_("<i>Italic</i>"), "\035"},
    {N_("<s>Strikethrough</s>"), "\036"}, {N_("Normal"), "\017"},
};

// The entry the menu was opened on; the items hold the text they insert.
void on_insert_code(GtkMenuItem *item, gpointer entry) noexcept
{
    guarded("insert code", [&] {
        const auto *code = static_cast<const char *>(g_object_get_data(G_OBJECT(item), "lumenwick-code"));
        if (code && GTK_IS_EDITABLE(entry))
            key_action_insert(GTK_WIDGET(entry), code);
    });
}

void add_code_item(GtkWidget *menu, const char *markup, const char *code, GtkEditable *entry)
{
    GtkWidget *item = gtk_menu_item_new_with_label("");
    gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(item))), markup);
    g_object_set_data_full(G_OBJECT(item), "lumenwick-code", g_strdup(code), g_free);
    g_signal_connect(item, "activate", G_CALLBACK(on_insert_code), entry);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

GtkWidget *add_submenu(GtkMenuShell *popup, const char *label)
{
    GtkWidget *item = gtk_menu_item_new_with_label(label);
    GtkWidget *menu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    gtk_menu_shell_append(popup, item);
    return menu;
}

int channel(double v)
{
    return int(CLAMP(v, 0.0, 1.0) * 255.0 + 0.5);
}

} // namespace

void mg_add_code_menus(GtkMenuShell *popup, GtkEditable *entry)
{
    GtkWidget *attrs = add_submenu(popup, _("Insert Attribute or Color Code"));
    for (const code_item &a : ATTRIBUTES)
        add_code_item(attrs, _(a.markup), a.code, entry);

    std::array<theme_color, 32> colours{};
    theme_runtime_get_xtext_colors(colours.data(), colours.size());
    for (int first : {0, 8}) {
        GtkWidget *menu = add_submenu(popup, first == 0 ? _("Colors 0-7") : _("Colors 8-15"));
        for (int i = first; i < first + 8; i++) {
            const theme_color &c = colours[std::size_t(i)];
            char markup[128], code[4];
            std::snprintf(markup, sizeof markup,
                          "<tt><sup>%02d</sup> <span background=\"#%02x%02x%02x\">   </span></tt>", i, channel(c.red),
                          channel(c.green), channel(c.blue));
            std::snprintf(code, sizeof code, "\003%02d", i);
            add_code_item(menu, markup, code, entry);
        }
    }
    gtk_widget_show_all(GTK_WIDGET(popup));
}

std::string mg_emoji_font_family(const char *family)
{
    const std::string own = family ? family : "";
    for (const char *known : EMOJI_FAMILIES)
        if (own.find(known) != std::string::npos)
            return own;
    return (own.empty() ? std::string("Sans") : own) + ", " + EMOJI_FALLBACK;
}

void mg_apply_emoji_font(GtkWidget *entry)
{
    static bool installed = false;
    if (!installed) {
        PangoFontDescription *font = nullptr;
        gtk_style_context_get(gtk_widget_get_style_context(entry), GTK_STATE_FLAG_NORMAL, GTK_STYLE_PROPERTY_FONT,
                              &font, nullptr);
        const std::string families = mg_emoji_font_family(font ? pango_font_description_get_family(font) : nullptr);
        if (font)
            pango_font_description_free(font);
        // Each family quoted: several hold spaces.
        std::string list;
        gchar **names = g_strsplit(families.c_str(), ",", -1);
        for (gchar **n = names; *n; n++) {
            g_strstrip(*n);
            if (**n)
                list += (list.empty() ? "\"" : ", \"") + std::string(*n) + "\"";
        }
        g_strfreev(names);
        const std::string css = ".lumenwick-emoji-font { font-family: " + list + "; }";
        GtkCssProvider *provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(provider);
        installed = true;
    }
    gtk_style_context_add_class(gtk_widget_get_style_context(entry), "lumenwick-emoji-font");
}
