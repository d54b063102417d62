#include "input/spell-entry.h"

#include "input/enchant-loader.h"
#include "input/input-attrs.h"
#include "support/gtk-handles.h"
#include "theme/theme-gtk.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"

#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{

// The word a fresh dictionary always accepts.
constexpr const char *OWN_NAME = "Lumenwick";
// Longer words are never underlined: they are mostly links and pasted codes.
constexpr glong LONGEST_CHECKED_WORD = 20;
// Words whose verdict is remembered at most (a long session of typing).
constexpr std::size_t MAX_REMEMBERED_VERDICTS = 4096;
// Suggestions shown per menu level before a "More..." submenu.
constexpr int SUGGESTIONS_PER_LEVEL = 10;

struct word_range {
    int start, end; // bytes
    bool misspelt;
};

struct spell_private {
    std::vector<EnchantDict *> dicts;             // active, in activation order
    std::map<std::string, EnchantDict *> by_lang; // the same, by the dictionary's own language name
    std::vector<word_range> words;                // of the current text
    bool checked = true;
    bool parse_attributes = true;
    bool langs_applied = false;
    std::string applied_langs;                      // text_spell_langs last applied
    std::unordered_map<std::string, bool> verdicts; // word: misspelt, for the dictionaries as they are
    // The text view's colours as this entry's theme gives them, read again
    // when the style changes (reading them costs several style lookups).
    GdkRGBA colors[INPUT_ATTR_COLOR_COUNT];
    bool colors_known = false;
    bool reading_colors = false;
    // Where the context menu was asked for (a byte offset); -1: the cursor.
    int menu_byte = -1;
    // The list the entry draws with, refilled in place (see recheck).
    PangoAttrList *attrs = pango_attr_list_new();

    spell_private() = default;
    spell_private(const spell_private &) = delete;
    spell_private &operator=(const spell_private &) = delete;
    ~spell_private() { pango_attr_list_unref(attrs); }
};

guint word_check_signal = 0;

} // namespace

// The GObject private area holds a pointer to the C++ state, created in init
// and destroyed in finalize.
struct SexySpellEntryPrivate {
    spell_private *impl;
};

G_DEFINE_TYPE_WITH_PRIVATE(SexySpellEntry, sexy_spell_entry, GTK_TYPE_ENTRY)

namespace
{

spell_private &priv(SexySpellEntry *entry)
{
    return *static_cast<SexySpellEntryPrivate *>(sexy_spell_entry_get_instance_private(entry))->impl;
}

std::string dict_lang(EnchantDict *dict)
{
    std::string lang;
    enchant_loader_api()->dict_describe(
        dict,
        [](const char *tag, const char *, const char *, const char *, void *data) {
            guarded("dictionary name", [&] { *static_cast<std::string *>(data) = tag ? tag : ""; });
        },
        &lang);
    return lang;
}

std::string dict_description(EnchantDict *dict)
{
    std::string text;
    enchant_loader_api()->dict_describe(
        dict,
        [](const char *tag, const char *provider, const char *, const char *, void *data) {
            guarded("dictionary description", [&] {
                *static_cast<std::string *>(data) =
                    std::string(tag ? tag : "") + " (" + (provider ? provider : "") + ")";
            });
        },
        &text);
    return text;
}

bool have_dicts(SexySpellEntry *entry)
{
    return enchant_loader_api() && !priv(entry).dicts.empty();
}

void add_pango(PangoAttrList *list, PangoAttribute *a, guint start, guint end)
{
    a->start_index = start;
    a->end_index = end;
    pango_attr_list_insert(list, a);
}

guint16 to16(double v)
{
    return static_cast<guint16>(CLAMP(v, 0.0, 1.0) * 65535.0 + 0.5);
}

PangoAttribute *color_attr(bool foreground, const GdkRGBA &c)
{
    return foreground ? pango_attr_foreground_new(to16(c.red), to16(c.green), to16(c.blue))
                      : pango_attr_background_new(to16(c.red), to16(c.green), to16(c.blue));
}

void refresh_colors(SexySpellEntry *entry)
{
    spell_private &p = priv(entry);
    p.reading_colors = true;
    theme_get_xtext_colors_for_widget(GTK_WIDGET(entry), p.colors, INPUT_ATTR_COLOR_COUNT);
    p.reading_colors = false;
    p.colors_known = true;
}

// Words at the layout's word boundaries, with the hidden code bytes at their
// ends left out: a coloured word begins with its colour digits, which would
// otherwise make it a word that starts with a digit and is never checked.
std::vector<word_range> split_words(const char *text, int len, const std::vector<bool> &hidden)
{
    std::vector<word_range> words;
    const glong chars = g_utf8_strlen(text, len);
    std::vector<PangoLogAttr> attrs(static_cast<std::size_t>(chars) + 1);
    pango_get_log_attrs(text, len, -1, pango_language_get_default(), attrs.data(), static_cast<int>(attrs.size()));
    int start = -1;
    const char *p = text;
    for (glong i = 0; i <= chars; ++i) {
        const int at = static_cast<int>(p - text);
        if (attrs[i].is_word_end && start >= 0) {
            int s = start, e = at;
            while (s < e && hidden[s])
                ++s;
            while (e > s && hidden[e - 1])
                --e;
            if (e > s)
                words.push_back({s, e, false});
            start = -1;
        }
        if (attrs[i].is_word_start)
            start = at;
        if (i < chars)
            p = g_utf8_next_char(p);
    }
    return words;
}

// Fills the entry's attribute list for the current text: formatting, then
// the misspelt words. The entry holds that one list from the start, and reads
// it whenever it lays the text out again, which a change of text makes it do
// anyway: refilling it in place after a change costs no layout of its own,
// where handing the entry a new list would also make it re-measure itself
// (two more layouts a key). Anything but a change of text must hand it over
// again (`relayout`) so the entry drops the layout it has.
void recheck(SexySpellEntry *entry, bool relayout = true)
{
    spell_private &p = priv(entry);
    const char *text = gtk_entry_get_text(GTK_ENTRY(entry));
    const int len = static_cast<int>(std::strlen(text));
    const std::vector<input_attr> spans = input_attrs_build(std::string_view(text, static_cast<std::size_t>(len)));
    std::vector<bool> hidden(static_cast<std::size_t>(len), false);
    PangoAttrList *list = p.attrs;
    if (PangoAttrList *old = pango_attr_list_filter(
            list, [](PangoAttribute *, gpointer) -> gboolean { return TRUE; }, nullptr))
        pango_attr_list_unref(old);

    if (p.parse_attributes && !spans.empty()) {
        if (!p.colors_known)
            refresh_colors(entry);
        const GdkRGBA *colors = p.colors;
        for (const input_attr &a : spans) {
            switch (a.kind) {
            case input_attr_kind::hidden: {
                PangoRectangle none = {0, 0, 0, 0};
                add_pango(list, pango_attr_shape_new(&none, &none), a.start, a.end);
                break;
            }
            case input_attr_kind::bold:
                add_pango(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD), a.start, a.end);
                break;
            case input_attr_kind::italic:
                add_pango(list, pango_attr_style_new(PANGO_STYLE_ITALIC), a.start, a.end);
                break;
            case input_attr_kind::underline:
                add_pango(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), a.start, a.end);
                break;
            case input_attr_kind::strikethrough:
                add_pango(list, pango_attr_strikethrough_new(TRUE), a.start, a.end);
                break;
            case input_attr_kind::foreground:
            case input_attr_kind::background:
                add_pango(list, color_attr(a.kind == input_attr_kind::foreground, colors[a.color]), a.start, a.end);
                break;
            }
        }
    }
    for (const input_attr &a : spans)
        if (a.kind == input_attr_kind::hidden)
            for (uint32_t i = a.start; i < a.end; ++i)
                hidden[i] = true;

    p.words.clear();
    if (p.checked && have_dicts(entry) && len > 0) {
        p.words = split_words(text, len, hidden);
        theme_color spell{};
        theme_get_color(THEME_TOKEN_SPELL, &spell);
        const GdkRGBA under = theme_to_gdk(spell);
        for (word_range &w : p.words) {
            const std::string word(text + w.start, static_cast<std::size_t>(w.end - w.start));
            gboolean wrong = FALSE;
            g_signal_emit(entry, word_check_signal, 0, word.c_str(), &wrong);
            w.misspelt = wrong;
            if (!wrong)
                continue;
            add_pango(list, pango_attr_underline_new(PANGO_UNDERLINE_ERROR), w.start, w.end);
            add_pango(list, pango_attr_underline_color_new(to16(under.red), to16(under.green), to16(under.blue)),
                      w.start, w.end);
        }
    }
    if (relayout)
        gtk_entry_set_attributes(GTK_ENTRY(entry), list);
}

gboolean default_word_check(SexySpellEntry *entry, const gchar *word)
{
    return guarded("spell check", FALSE, [&]() -> gboolean {
        const enchant_api *e = enchant_loader_api();
        if (!e || !word || !g_unichar_isalpha(g_utf8_get_char_validated(word, -1)))
            return FALSE;
        if (g_utf8_strlen(word, -1) > LONGEST_CHECKED_WORD)
            return FALSE;
        spell_private &p = priv(entry);
        if (p.dicts.empty())
            return FALSE;
        // Every key re-checks the whole line; the dictionaries are asked
        // about each word once, until they change.
        if (auto known = p.verdicts.find(word); known != p.verdicts.end())
            return known->second;
        if (p.verdicts.size() >= MAX_REMEMBERED_VERDICTS)
            p.verdicts.clear();
        bool wrong = true;
        for (EnchantDict *d : p.dicts)
            if (e->dict_check(d, word, -1) == 0)
                wrong = false;
        p.verdicts.emplace(word, wrong);
        return wrong;
    });
}

// --- the context menu ---------------------------------------------------------------------------

// What a menu item acts on: the word as it stood when the menu opened.
struct word_action {
    SexySpellEntry *entry;
    EnchantDict *dict; // null: every active dictionary
    int start, end;    // bytes
    std::string word;
    std::string replacement;
};

void free_action(gpointer data, GClosure *) noexcept
{
    delete static_cast<word_action *>(data);
}

// The dictionary when it is still active (the languages may have changed
// while the menu was open).
bool still_active(SexySpellEntry *entry, EnchantDict *dict)
{
    for (EnchantDict *d : priv(entry).dicts)
        if (d == dict)
            return true;
    return false;
}

void on_replace(GtkMenuItem *, gpointer data) noexcept
{
    guarded("spelling replacement", [&] {
        auto *a = static_cast<word_action *>(data);
        const char *text = gtk_entry_get_text(GTK_ENTRY(a->entry));
        const std::size_t len = std::strlen(text);
        if (static_cast<std::size_t>(a->end) > len || std::string_view(text + a->start, a->end - a->start) != a->word)
            return; // the line changed under the menu
        const int from = static_cast<int>(g_utf8_pointer_to_offset(text, text + a->start));
        const int to = static_cast<int>(g_utf8_pointer_to_offset(text, text + a->end));
        GtkEditable *editable = GTK_EDITABLE(a->entry);
        gtk_editable_delete_text(editable, from, to);
        int pos = from;
        gtk_editable_insert_text(editable, a->replacement.c_str(), -1, &pos);
        gtk_editable_set_position(editable, pos);
        if (still_active(a->entry, a->dict))
            enchant_loader_api()->dict_store_replacement(a->dict, a->word.c_str(), -1, a->replacement.c_str(), -1);
    });
}

void on_add_word(GtkMenuItem *, gpointer data) noexcept
{
    guarded("add to dictionary", [&] {
        auto *a = static_cast<word_action *>(data);
        const enchant_api *e = enchant_loader_api();
        if (!e || !still_active(a->entry, a->dict))
            return;
        e->dict_add(a->dict, a->word.c_str(), -1);
        priv(a->entry).verdicts.clear();
        recheck(a->entry);
    });
}

void on_ignore_all(GtkMenuItem *, gpointer data) noexcept
{
    guarded("ignore word", [&] {
        auto *a = static_cast<word_action *>(data);
        const enchant_api *e = enchant_loader_api();
        if (!e)
            return;
        for (EnchantDict *d : priv(a->entry).dicts)
            e->dict_add_to_session(d, a->word.c_str(), -1);
        priv(a->entry).verdicts.clear();
        recheck(a->entry);
    });
}

GtkWidget *append_item(GtkWidget *menu, const char *label, GCallback cb, const word_action *action)
{
    GtkWidget *item = gtk_menu_item_new_with_label(label);
    if (cb)
        g_signal_connect_data(item, "activate", cb, new word_action(*action), free_action, GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    gtk_widget_show(item);
    return item;
}

GtkWidget *append_submenu(GtkWidget *menu, const char *label)
{
    GtkWidget *item = append_item(menu, label, nullptr, nullptr);
    GtkWidget *sub = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
    return sub;
}

void fill_suggestions(GtkWidget *menu, const word_action &base)
{
    const enchant_api *e = enchant_loader_api();
    size_t count = 0;
    char **list = e->dict_suggest(base.dict, base.word.c_str(), -1, &count);
    if (!list || count == 0) {
        GtkWidget *item = append_item(menu, "", nullptr, nullptr);
        gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(item))), _("<i>(no suggestions)</i>"));
        gtk_widget_set_sensitive(item, FALSE);
    } else {
        GtkWidget *level = menu;
        for (size_t i = 0; i < count; ++i) {
            if (i > 0 && i % SUGGESTIONS_PER_LEVEL == 0)
                level = append_submenu(level, _("More..."));
            word_action action = base;
            action.replacement = list[i];
            append_item(level, list[i], G_CALLBACK(on_replace), &action);
        }
    }
    if (list)
        e->dict_free_string_list(base.dict, list);
}

// The byte offset of the text under a point given in root-window coordinates,
// or -1 when no text is there.
int byte_at_root(SexySpellEntry *entry, double root_x, double root_y)
{
    GtkEntry *gentry = GTK_ENTRY(entry);
    GdkWindow *window = gtk_widget_get_window(GTK_WIDGET(entry));
    if (!window)
        return -1;
    gint origin_x = 0, origin_y = 0, layout_x = 0, layout_y = 0;
    gdk_window_get_origin(window, &origin_x, &origin_y);
    GtkAllocation alloc;
    gtk_widget_get_allocation(GTK_WIDGET(entry), &alloc);
    gtk_entry_get_layout_offsets(gentry, &layout_x, &layout_y);
    const int x = static_cast<int>(root_x) - origin_x - alloc.x - layout_x;
    const int y = static_cast<int>(root_y) - origin_y - alloc.y - layout_y;
    int index = 0, trailing = 0;
    PangoLayout *layout = gtk_entry_get_layout(gentry);
    if (!pango_layout_xy_to_index(layout, x * PANGO_SCALE, y * PANGO_SCALE, &index, &trailing))
        return -1;
    const char *shown = pango_layout_get_text(layout);
    const int layout_chars = static_cast<int>(g_utf8_pointer_to_offset(shown, shown + index));
    const char *text = gtk_entry_get_text(gentry);
    return static_cast<int>(g_utf8_offset_to_pointer(text, gtk_entry_layout_index_to_text_index(gentry, layout_chars)) -
                            text);
}

// The entry opens its menu only once it knows what the clipboard holds, so
// the click that asked for it is remembered here.
gboolean on_button_press(GtkWidget *widget, GdkEventButton *event, gpointer) noexcept
{
    return guarded("spelling menu", FALSE, [&] {
        if (gdk_event_triggers_context_menu(reinterpret_cast<GdkEvent *>(event)))
            priv(SEXY_SPELL_ENTRY(widget)).menu_byte =
                byte_at_root(SEXY_SPELL_ENTRY(widget), event->x_root, event->y_root);
        return FALSE;
    });
}

// From the keyboard the menu is about the word at the cursor.
gboolean on_popup_menu(GtkWidget *widget, gpointer) noexcept
{
    guarded("spelling menu", [&] { priv(SEXY_SPELL_ENTRY(widget)).menu_byte = -1; });
    return FALSE;
}

int menu_position(SexySpellEntry *entry)
{
    spell_private &p = priv(entry);
    const int clicked = p.menu_byte;
    p.menu_byte = -1;
    if (clicked >= 0)
        return clicked;
    const char *text = gtk_entry_get_text(GTK_ENTRY(entry));
    return static_cast<int>(g_utf8_offset_to_pointer(text, gtk_editable_get_position(GTK_EDITABLE(entry))) - text);
}

void on_populate_popup(GtkEntry *gentry, GtkWidget *menu, gpointer) noexcept
{
    guarded("spelling menu", [&] {
        auto *entry = SEXY_SPELL_ENTRY(gentry);
        spell_private &p = priv(entry);
        if (!GTK_IS_MENU(menu) || !p.checked || !have_dicts(entry))
            return;
        const int at = menu_position(entry);
        const word_range *word = nullptr;
        for (const word_range &w : p.words)
            if (w.misspelt && w.start <= at && at <= w.end)
                word = &w;
        if (!word)
            return;
        word_action base{
            entry,
            nullptr,
            word->start,
            word->end,
            std::string(gtk_entry_get_text(gentry) + word->start, static_cast<std::size_t>(word->end - word->start)),
            {}};

        GtkWidget *separator = gtk_separator_menu_item_new();
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), separator);
        gtk_widget_show(separator);

        GtkWidget *suggestions = append_submenu(menu, _("Spelling Suggestions"));
        if (p.dicts.size() == 1) {
            base.dict = p.dicts.front();
            fill_suggestions(suggestions, base);
        } else {
            for (EnchantDict *d : p.dicts) {
                base.dict = d;
                fill_suggestions(append_submenu(suggestions, dict_description(d).c_str()), base);
            }
        }

        gchar_ptr add_label(g_strdup_printf(_("Add \"%s\" to Dictionary"), base.word.c_str()));
        if (p.dicts.size() == 1) {
            base.dict = p.dicts.front();
            append_item(menu, add_label.get(), G_CALLBACK(on_add_word), &base);
        } else {
            GtkWidget *add = append_submenu(menu, add_label.get());
            for (EnchantDict *d : p.dicts) {
                base.dict = d;
                append_item(add, dict_description(d).c_str(), G_CALLBACK(on_add_word), &base);
            }
        }
        base.dict = nullptr;
        append_item(menu, _("Ignore All"), G_CALLBACK(on_ignore_all), &base);
    });
}

void on_changed(GtkEditable *editable, gpointer) noexcept
{
    guarded("input attributes", [&] { recheck(SEXY_SPELL_ENTRY(editable), false); });
}

// New theme colours reach the codes' colours and the underline.
void on_style_updated(GtkWidget *widget, gpointer) noexcept
{
    guarded("input attributes", [&] {
        auto *entry = SEXY_SPELL_ENTRY(widget);
        // Reading the colours switches the style's state for a moment.
        if (priv(entry).reading_colors)
            return;
        refresh_colors(entry);
        recheck(entry);
    });
}

void release_dict(EnchantDict *dict)
{
    if (EnchantBroker *b = enchant_loader_broker())
        enchant_loader_api()->broker_free_dict(b, dict);
}

} // namespace

GQuark sexy_spell_error_quark(void)
{
    return g_quark_from_static_string("sexy-spell-error-quark");
}

static void sexy_spell_entry_finalize(GObject *object)
{
    auto *entry = SEXY_SPELL_ENTRY(object);
    auto *slot = static_cast<SexySpellEntryPrivate *>(sexy_spell_entry_get_instance_private(entry));
    guarded("spell entry finalize", [&] {
        for (EnchantDict *d : slot->impl->dicts)
            release_dict(d);
    });
    delete slot->impl;
    slot->impl = nullptr;
    G_OBJECT_CLASS(sexy_spell_entry_parent_class)->finalize(object);
}

static void sexy_spell_entry_class_init(SexySpellEntryClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = sexy_spell_entry_finalize;
    klass->word_check = default_word_check;
    word_check_signal = g_signal_new(
        "word_check", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, G_STRUCT_OFFSET(SexySpellEntryClass, word_check),
        g_signal_accumulator_true_handled, nullptr, nullptr, G_TYPE_BOOLEAN, 1, G_TYPE_STRING);
    guarded("spell entry class", [] { enchant_loader_api(); });
}

static void sexy_spell_entry_init(SexySpellEntry *entry)
{
    auto *slot = static_cast<SexySpellEntryPrivate *>(sexy_spell_entry_get_instance_private(entry));
    // Allocation failure ends the process either way; nothing else here throws.
    slot->impl = new spell_private;
    gtk_entry_set_attributes(GTK_ENTRY(entry), slot->impl->attrs);
    g_signal_connect(entry, "changed", G_CALLBACK(on_changed), nullptr);
    g_signal_connect(entry, "populate-popup", G_CALLBACK(on_populate_popup), nullptr);
    g_signal_connect(entry, "button-press-event", G_CALLBACK(on_button_press), nullptr);
    g_signal_connect(entry, "popup-menu", G_CALLBACK(on_popup_menu), nullptr);
    g_signal_connect(entry, "style-updated", G_CALLBACK(on_style_updated), nullptr);
}

GtkWidget *sexy_spell_entry_new(void)
{
    return GTK_WIDGET(g_object_new(SEXY_TYPE_SPELL_ENTRY, nullptr));
}

void sexy_spell_entry_set_checked(SexySpellEntry *entry, gboolean checked)
{
    g_return_if_fail(SEXY_IS_SPELL_ENTRY(entry));
    if (priv(entry).checked == bool(checked))
        return;
    priv(entry).checked = checked;
    recheck(entry);
}

gboolean sexy_spell_entry_is_checked(SexySpellEntry *entry)
{
    g_return_val_if_fail(SEXY_IS_SPELL_ENTRY(entry), FALSE);
    return priv(entry).checked;
}

void sexy_spell_entry_set_parse_attributes(SexySpellEntry *entry, gboolean parse)
{
    g_return_if_fail(SEXY_IS_SPELL_ENTRY(entry));
    if (priv(entry).parse_attributes == bool(parse))
        return;
    priv(entry).parse_attributes = parse;
    recheck(entry);
}

GSList *sexy_spell_entry_get_languages(const SexySpellEntry *)
{
    EnchantBroker *b = enchant_loader_broker();
    if (!b)
        return nullptr;
    GSList *langs = nullptr;
    enchant_loader_api()->broker_list_dicts(
        b,
        [](const char *tag, const char *, const char *, const char *, void *data) {
            auto **list = static_cast<GSList **>(data);
            if (tag && !g_slist_find_custom(*list, tag, reinterpret_cast<GCompareFunc>(g_strcmp0)))
                *list = g_slist_append(*list, g_strdup(tag));
        },
        &langs);
    return langs;
}

gboolean sexy_spell_entry_activate_language(SexySpellEntry *entry, const gchar *lang, GError **error)
{
    g_return_val_if_fail(SEXY_IS_SPELL_ENTRY(entry), FALSE);
    g_return_val_if_fail(lang && *lang, FALSE);
    spell_private &p = priv(entry);
    if (p.by_lang.count(lang))
        return TRUE;
    EnchantBroker *b = enchant_loader_broker();
    EnchantDict *dict = b ? enchant_loader_api()->broker_request_dict(b, lang) : nullptr;
    if (!dict) {
        g_set_error(error, SEXY_SPELL_ERROR, SEXY_SPELL_ERROR_BACKEND, _("enchant error for language: %s"), lang);
        return FALSE;
    }
    // "en" and "en_US" may both name one dictionary; it is kept once, under
    // its own name.
    const std::string own = dict_lang(dict);
    if (p.by_lang.count(own)) {
        release_dict(dict);
        return TRUE;
    }
    enchant_loader_api()->dict_add_to_session(dict, OWN_NAME, -1);
    p.dicts.push_back(dict);
    p.by_lang[own] = dict;
    p.verdicts.clear();
    recheck(entry);
    return TRUE;
}

void sexy_spell_entry_deactivate_language(SexySpellEntry *entry, const gchar *lang)
{
    g_return_if_fail(SEXY_IS_SPELL_ENTRY(entry));
    spell_private &p = priv(entry);
    for (auto it = p.by_lang.begin(); it != p.by_lang.end();) {
        if (lang && it->first != lang) {
            ++it;
            continue;
        }
        std::erase(p.dicts, it->second);
        p.verdicts.clear();
        release_dict(it->second);
        it = p.by_lang.erase(it);
    }
    recheck(entry);
}

gboolean sexy_spell_entry_set_active_languages(SexySpellEntry *entry, GSList *langs, GError **error)
{
    g_return_val_if_fail(SEXY_IS_SPELL_ENTRY(entry), FALSE);
    sexy_spell_entry_deactivate_language(entry, nullptr);
    bool all = true;
    for (GSList *l = langs; l; l = l->next) {
        GError *one = nullptr;
        if (!sexy_spell_entry_activate_language(entry, static_cast<const char *>(l->data), &one)) {
            if (all && error)
                *error = one;
            else
                g_error_free(one);
            all = false;
        }
    }
    return all;
}

GSList *sexy_spell_entry_get_active_languages(SexySpellEntry *entry)
{
    g_return_val_if_fail(SEXY_IS_SPELL_ENTRY(entry), nullptr);
    GSList *langs = nullptr;
    for (const auto &[lang, dict] : priv(entry).by_lang)
        langs = g_slist_append(langs, g_strdup(lang.c_str()));
    return langs;
}

gboolean sexy_spell_entry_language_is_active(SexySpellEntry *entry, const gchar *lang)
{
    g_return_val_if_fail(SEXY_IS_SPELL_ENTRY(entry), FALSE);
    return lang && priv(entry).by_lang.count(lang) > 0;
}

gchar *sexy_spell_entry_get_language_name(SexySpellEntry *, const gchar *lang)
{
    return g_strdup(lang);
}

gboolean sexy_spell_entry_activate_default_languages(SexySpellEntry *entry)
{
    g_return_val_if_fail(SEXY_IS_SPELL_ENTRY(entry), FALSE);
    if (!enchant_loader_broker())
        return FALSE;
    GSList *available = sexy_spell_entry_get_languages(entry);
    strv_ptr wanted(g_strsplit_set(prefs.text_spell_langs, ", \t", -1));
    for (char **w = wanted.get(); *w; ++w)
        if (**w && g_slist_find_custom(available, *w, reinterpret_cast<GCompareFunc>(g_strcmp0)))
            sexy_spell_entry_activate_language(entry, *w, nullptr);
    g_slist_free_full(available, g_free);
    if (priv(entry).dicts.empty() && !sexy_spell_entry_activate_language(entry, "en", nullptr))
        return FALSE;
    return TRUE;
}

void sexy_spell_entry_apply_prefs(SexySpellEntry *entry)
{
    g_return_if_fail(SEXY_IS_SPELL_ENTRY(entry));
    spell_private &p = priv(entry);
    if (prefs.gui_input_spell && (!p.langs_applied || p.applied_langs != prefs.text_spell_langs)) {
        p.langs_applied = true;
        p.applied_langs = prefs.text_spell_langs;
        sexy_spell_entry_deactivate_language(entry, nullptr);
        sexy_spell_entry_activate_default_languages(entry);
    }
    sexy_spell_entry_set_checked(entry, prefs.gui_input_spell);
    sexy_spell_entry_set_parse_attributes(entry, prefs.gui_input_attr);
}
