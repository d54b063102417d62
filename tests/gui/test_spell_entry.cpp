// The input line's entry on a real display with the real Enchant and the
// hunspell en_US dictionary: which words of a typed line are underlined,
// what the suggestions menu offers and does, the colours of the codes, and
// (run again with --without-enchant) plain editing when the library is absent.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "gui_support.h"
#include "input/enchant-loader.h"
#include "input/spell-entry.h"
#include "theme/palette.h"
#include "theme/theme-gtk.h"

#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace
{

bool without_enchant = false;
// Layouts made by anyone in this process (counted below).
int layouts_made = 0;
// xdotool's synchronous move waits for the pointer to move: never ask it to
// move to where the pointer already is.
int pointer_nudge = 0;
int logged_problems = 0;

GLogWriterOutput count_problems(GLogLevelFlags level, const GLogField *fields, gsize n, gpointer) noexcept
{
    if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_ERROR))
        ++logged_problems;
    return g_log_writer_default(level, fields, n, nullptr);
}

using range = std::pair<int, int>;

// Every attribute of `type` in the entry's list, as byte ranges.
std::vector<range> ranges_of(GtkWidget *entry, PangoAttrType type, int underline = -1)
{
    std::vector<range> out;
    PangoAttrList *list = gtk_entry_get_attributes(GTK_ENTRY(entry));
    if (!list)
        return out;
    GSList *all = pango_attr_list_get_attributes(list);
    for (GSList *l = all; l; l = l->next) {
        auto *a = static_cast<PangoAttribute *>(l->data);
        if (a->klass->type != type)
            continue;
        if (underline >= 0 && reinterpret_cast<PangoAttrInt *>(a)->value != underline)
            continue;
        out.emplace_back(a->start_index, a->end_index);
    }
    g_slist_free_full(all, reinterpret_cast<GDestroyNotify>(pango_attribute_destroy));
    return out;
}

std::vector<range> misspelt(GtkWidget *entry)
{
    return ranges_of(entry, PANGO_ATTR_UNDERLINE, PANGO_UNDERLINE_ERROR);
}

std::vector<std::string> labels(GtkWidget *menu)
{
    std::vector<std::string> out;
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList *l = children; l; l = l->next)
        if (GTK_IS_MENU_ITEM(l->data) && !GTK_IS_SEPARATOR_MENU_ITEM(l->data))
            out.emplace_back(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)) ?: "");
    g_list_free(children);
    return out;
}

GtkWidget *item_labelled(GtkWidget *menu, const std::string &label)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        if (GTK_IS_MENU_ITEM(l->data) && g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)), label.c_str()) == 0)
            found = GTK_WIDGET(l->data);
    g_list_free(children);
    return found;
}

GtkWidget *submenu_of(GtkWidget *menu, const std::string &label)
{
    GtkWidget *item = item_labelled(menu, label);
    return item ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)) : nullptr;
}

// Runs an xdotool command to its end, keeping the main loop running.
void xdotool(const std::vector<std::string> &args)
{
    std::vector<char *> argv{const_cast<char *>("xdotool")};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    GPid pid;
    GError *error = nullptr;
    if (!g_spawn_async(nullptr, argv.data(), nullptr,
                       static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr,
                       &pid, &error)) {
        ADD_FAILURE() << "xdotool: " << error->message;
        g_error_free(error);
        return;
    }
    bool exited = false;
    g_child_watch_add(
        pid,
        [](GPid p, gint, gpointer done) {
            *static_cast<bool *>(done) = true;
            g_spawn_close_pid(p);
        },
        &exited);
    EXPECT_TRUE(pump_until([&] { return exited; }, 20000)) << "xdotool did not finish";
}

class SpellEntryTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        logged_problems = 0;
        g_strlcpy(prefs.text_spell_langs, "en_US", sizeof prefs.text_spell_langs);
        prefs.gui_input_spell = 1;
        prefs.gui_input_attr = 1;
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 900, 40);
        entry = sexy_spell_entry_new();
        sexy_spell_entry_apply_prefs(SEXY_SPELL_ENTRY(entry));
        gtk_container_add(GTK_CONTAINER(window), entry);
        g_signal_connect_after(entry, "populate-popup", G_CALLBACK(+[](GtkEntry *, GtkWidget *menu, gpointer self) {
                                   static_cast<SpellEntryTest *>(self)->menu = menu;
                               }),
                               this);
        gtk_widget_show_all(window);
        gtk_window_present(GTK_WINDOW(window));
        ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(entry) && gtk_widget_has_focus(entry); }));
        pump_for(100);
        point_at_entry();
    }

    void TearDown() override
    {
        close_menu();
        gtk_widget_destroy(window);
        pump_for(20);
        EXPECT_EQ(logged_problems, 0);
    }

    // Screen coordinates of a point of the top-level window.
    std::pair<std::string, std::string> on_screen(int x, int y)
    {
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(window), &ox, &oy);
        return {std::to_string(ox + x), std::to_string(oy + y)};
    }

    // With no window manager the keyboard follows the pointer.
    void point_at_entry()
    {
        GtkAllocation a;
        gtk_widget_get_allocation(entry, &a);
        const auto [x, y] = on_screen(a.x + a.width - 5 - (++pointer_nudge % 2), a.y + a.height / 2);
        xdotool({"mousemove", "--sync", x, y});
    }

    // Types `text` key by key through the X server (with no window manager
    // the keyboard follows the pointer, which goes onto the entry first).
    void type(const std::string &text)
    {
        const std::string before = gtk_entry_get_text(GTK_ENTRY(entry));
        xdotool({"type", "--delay", "2", text});
        ASSERT_TRUE(pump_until([&] { return before + text == gtk_entry_get_text(GTK_ENTRY(entry)); }))
            << "typed so far: " << gtk_entry_get_text(GTK_ENTRY(entry));
    }

    void set_text(const char *text)
    {
        gtk_entry_set_text(GTK_ENTRY(entry), text);
        pump_for(20);
    }

    // The context menu from the keyboard, with the cursor at `char_pos`.
    GtkWidget *popup_at_cursor(int char_pos)
    {
        close_menu();
        gtk_editable_set_position(GTK_EDITABLE(entry), char_pos);
        xdotool({"key", "Menu"});
        pump_until([&] { return menu != nullptr; });
        return menu;
    }

    void close_menu()
    {
        if (menu)
            gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
        menu = nullptr;
        pump_for(50);
    }

    // Where byte `index` of the text is drawn, in the top-level window.
    GdkRectangle char_box(int index)
    {
        PangoRectangle pos;
        pango_layout_index_to_pos(gtk_entry_get_layout(GTK_ENTRY(entry)), index, &pos);
        int lx = 0, ly = 0, wx = 0, wy = 0;
        gtk_entry_get_layout_offsets(GTK_ENTRY(entry), &lx, &ly);
        gtk_widget_translate_coordinates(entry, window, lx, ly, &wx, &wy);
        return {wx + PANGO_PIXELS(pos.x), wy + PANGO_PIXELS(pos.y), std::max(1, PANGO_PIXELS(pos.width)),
                PANGO_PIXELS(pos.height)};
    }

    // Red pixels (the light palette's spelling colour, blended with the
    // background where the wavy line is smoothed) in the lower half of the
    // bytes [from, to) of the text, in a screenshot of the window.
    int spell_coloured_pixels(GdkPixbuf *shot, int from, int to)
    {
        theme_color c{};
        theme_get_color(THEME_TOKEN_SPELL, &c);
        EXPECT_GT(c.red, c.green + 0.3);
        const GdkRectangle a = char_box(from), b = char_box(to);
        const int x0 = a.x, x1 = b.x, y0 = a.y + a.height / 2,
                  y1 = std::min(a.y + a.height + 3, gdk_pixbuf_get_height(shot));
        const int stride = gdk_pixbuf_get_rowstride(shot), channels = gdk_pixbuf_get_n_channels(shot);
        const guchar *px = gdk_pixbuf_get_pixels(shot);
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const guchar *p = px + y * stride + x * channels;
                if (p[0] > p[1] + 40 && p[0] > p[2] + 40)
                    ++count;
            }
        return count;
    }

    GtkWidget *window = nullptr;
    GtkWidget *entry = nullptr;
    GtkWidget *menu = nullptr;
};

TEST_F(SpellEntryTest, TypedLineUnderlinesOnlyMisspeltWordsAndDrawsThemInTheSpellingColour)
{
    // Misspelt: "tset" and "speling". Not: a word starting with a digit,
    // one of 25 letters, and the program's own name.
    type("I wrote a tset of speling 2nite abcdefghijklmnopqrstuvwxy Lumenwick fine");
    EXPECT_EQ(misspelt(entry), (std::vector<range>{{10, 14}, {18, 25}}));

    gtk_widget_queue_draw(window);
    pump_for(200);
    GdkWindow *w = gtk_widget_get_window(window);
    GdkPixbuf *shot = gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
    ASSERT_NE(shot, nullptr);
    gdk_pixbuf_save(shot, "spell-entry.png", "png", nullptr, nullptr);
    EXPECT_GT(spell_coloured_pixels(shot, 10, 14), 2) << "no underline under \"tset\" (spell-entry.png)";
    EXPECT_GT(spell_coloured_pixels(shot, 18, 25), 2) << "no underline under \"speling\" (spell-entry.png)";
    EXPECT_EQ(spell_coloured_pixels(shot, 2, 7), 0) << "\"wrote\" is underlined (spell-entry.png)";
    g_object_unref(shot);

    // A coloured word is checked without its colour digits; switching
    // checking off takes the underlines away.
    set_text("\00304speling\002 fine");
    EXPECT_EQ(misspelt(entry), (std::vector<range>{{3, 10}}));
    sexy_spell_entry_set_checked(SEXY_SPELL_ENTRY(entry), FALSE);
    EXPECT_TRUE(misspelt(entry).empty());
}

TEST_F(SpellEntryTest, ColourCodesAboveThirtyOneUseTheTextViewsColoursAndCodesTakeNoRoom)
{
    set_text("\00334a\00340,35b");
    std::vector<std::pair<range, std::vector<guint16>>> colours;
    PangoAttrList *list = gtk_entry_get_attributes(GTK_ENTRY(entry));
    ASSERT_NE(list, nullptr);
    GSList *all = pango_attr_list_get_attributes(list);
    for (GSList *l = all; l; l = l->next) {
        auto *a = static_cast<PangoAttribute *>(l->data);
        if (a->klass->type == PANGO_ATTR_FOREGROUND || a->klass->type == PANGO_ATTR_BACKGROUND) {
            const PangoColor &c = reinterpret_cast<PangoAttrColor *>(a)->color;
            colours.push_back({{a->start_index, a->end_index}, {c.red, c.green, c.blue}});
        }
    }
    g_slist_free_full(all, reinterpret_cast<GDestroyNotify>(pango_attribute_destroy));
    const auto expected = [](int code) {
        theme_color c{};
        EXPECT_TRUE(theme_extended_mirc_color(code, &c));
        uint16_t r, g, b;
        theme_palette_color_get_rgb16(&c, &r, &g, &b);
        return std::vector<guint16>{r, g, b};
    };
    // 34 and 35 would be the interface's text colours if taken as palette
    // numbers; they are the fixed table's colours the text view shows.
    ASSERT_EQ(colours.size(), 3u);
    EXPECT_EQ(colours[0], (std::pair<range, std::vector<guint16>>{{3, 10}, expected(34)}));
    EXPECT_EQ(colours[1], (std::pair<range, std::vector<guint16>>{{10, 11}, expected(40)}));
    EXPECT_EQ(colours[2], (std::pair<range, std::vector<guint16>>{{10, 11}, expected(35)}));
    EXPECT_EQ(ranges_of(entry, PANGO_ATTR_SHAPE), (std::vector<range>{{0, 3}, {4, 10}}));
    // The codes take no width: the text is as wide as "ab".
    PangoRectangle after_b;
    pango_layout_index_to_pos(gtk_entry_get_layout(GTK_ENTRY(entry)), 11, &after_b);
    PangoLayout *plain = gtk_widget_create_pango_layout(entry, "ab");
    int plain_width = 0;
    pango_layout_get_size(plain, &plain_width, nullptr);
    g_object_unref(plain);
    EXPECT_EQ(after_b.x, plain_width);
}

TEST_F(SpellEntryTest, FormattingGoesWithTheCodeWhenTheCodeIsDeleted)
{
    set_text("\002bold");
    EXPECT_EQ(ranges_of(entry, PANGO_ATTR_WEIGHT), (std::vector<range>{{1, 5}}));
    gtk_editable_delete_text(GTK_EDITABLE(entry), 0, 1);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "bold");
    EXPECT_TRUE(ranges_of(entry, PANGO_ATTR_WEIGHT).empty());
    EXPECT_TRUE(ranges_of(entry, PANGO_ATTR_SHAPE).empty());
}

TEST_F(SpellEntryTest, ArrowKeysMoveFromLetterToLetterOverHiddenCodes)
{
    // The codes take no room, so one press passes them and the next letter.
    set_text("ab\00304,08\002cd");
    gtk_editable_set_position(GTK_EDITABLE(entry), 2);
    const auto press = [&](const char *key) {
        xdotool({"key", key});
        pump_for(30);
        gint start = 0, end = 0;
        if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end))
            start = end = gtk_editable_get_position(GTK_EDITABLE(entry));
        return range{start, end};
    };
    EXPECT_EQ(press("Right"), (range{10, 10}));
    // Back over "c" the cursor stays after the codes (typing there is bold
    // and coloured), and the next press passes them and "b".
    EXPECT_EQ(press("Left"), (range{9, 9}));
    EXPECT_EQ(press("Left"), (range{1, 1}));
    EXPECT_EQ(press("shift+Right"), (range{1, 2}));
    EXPECT_EQ(press("shift+Right"), (range{1, 10}));
}

TEST_F(SpellEntryTest, SuggestionsMenuListsTenThenMoreAndReplacesAddsAndIgnores)
{
    set_text("ther speling wiht");
    ASSERT_EQ(misspelt(entry), (std::vector<range>{{0, 4}, {5, 12}, {13, 17}}));

    GtkWidget *m = popup_at_cursor(2);
    ASSERT_NE(m, nullptr);
    const std::vector<std::string> top = labels(m);
    ASSERT_GE(top.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(top.end() - 3, top.end()),
              (std::vector<std::string>{"Spelling Suggestions", "Add \"ther\" to Dictionary", "Ignore All"}));
    GtkWidget *suggestions = submenu_of(m, "Spelling Suggestions");
    ASSERT_NE(suggestions, nullptr);
    const std::vector<std::string> first = labels(suggestions);
    ASSERT_EQ(first.size(), 11u); // hunspell offers 15 for "ther"
    EXPECT_EQ(first.back(), "More...");
    GtkWidget *more = submenu_of(suggestions, "More...");
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(labels(more).size(), 5u);

    // A suggestion replaces the word; the rest keeps its underlines.
    GtkWidget *the = item_labelled(suggestions, "the");
    ASSERT_NE(the, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(the));
    pump_for(20);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "the speling wiht");
    EXPECT_EQ(misspelt(entry), (std::vector<range>{{4, 11}, {12, 16}}));

    // Right click on "wiht", with the cursor elsewhere: the menu is about
    // the word under the pointer. Ignore All takes its underline away.
    close_menu();
    gtk_editable_set_position(GTK_EDITABLE(entry), 0);
    const GdkRectangle box = char_box(14);
    const auto [x, y] = on_screen(box.x + box.width / 2, box.y + box.height / 2);
    xdotool({"mousemove", "--sync", x, y, "click", "3"});
    ASSERT_TRUE(pump_until([&] { return menu != nullptr; }));
    GtkWidget *ignore = item_labelled(menu, "Ignore All");
    ASSERT_NE(ignore, nullptr) << testing::PrintToString(labels(menu));
    EXPECT_NE(item_labelled(menu, "Add \"wiht\" to Dictionary"), nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(ignore));
    pump_for(20);
    EXPECT_EQ(misspelt(entry), (std::vector<range>{{4, 11}}));
    point_at_entry();

    // Add to the (temporary) personal word list.
    m = popup_at_cursor(6);
    ASSERT_NE(m, nullptr);
    GtkWidget *add = item_labelled(m, "Add \"speling\" to Dictionary");
    ASSERT_NE(add, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(add));
    pump_for(20);
    EXPECT_TRUE(misspelt(entry).empty());

    // A correct word gets no spelling items.
    m = popup_at_cursor(1);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(submenu_of(m, "Spelling Suggestions"), nullptr);
}

// Layouts made while typing `keys` keys one at a time, each drawn before the
// next (after one key that is not counted: the first after a focus change
// costs the entry more).
int layouts_for_keys(GtkWidget *entry, int keys)
{
    int draws = 0;
    const gulong id = g_signal_connect_after(entry, "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer n) {
                                                 ++*static_cast<int *>(n);
                                                 return FALSE;
                                             }),
                                             &draws);
    pump_for(100);
    int before = layouts_made;
    for (int k = -1; k < keys; ++k) {
        if (k == 0)
            before = layouts_made;
        const int length = gtk_entry_get_text_length(GTK_ENTRY(entry)), drawn = draws;
        xdotool({"key", "x"});
        EXPECT_TRUE(pump_until([&] { return gtk_entry_get_text_length(GTK_ENTRY(entry)) > length && draws > drawn; }));
        pump_for(20);
    }
    g_signal_handler_disconnect(entry, id);
    return layouts_made - before;
}

TEST_F(SpellEntryTest, KeyInALongFormattedLineCostsNoMoreLayoutsThanInAPlainEntry)
{
    // About 400 bytes with a code every few words and misspelt words.
    std::string line;
    for (int i = 0; line.size() < 400; ++i)
        line += i % 3 == 0 ? "\x03" + std::to_string(i % 99) + ",01colour " : i % 3 == 1 ? "\x02bold\x02 " : "speling ";
    constexpr int keys = 8;
    set_text(line.c_str());
    gtk_editable_set_position(GTK_EDITABLE(entry), 200);
    const int formatted = layouts_for_keys(entry, keys);
    ASSERT_FALSE(misspelt(entry).empty());
    // The layout drawn has the spans of the text as it is now.
    const std::vector<range> bold = ranges_of(entry, PANGO_ATTR_WEIGHT);
    ASSERT_FALSE(bold.empty());
    std::vector<range> drawn_bold;
    GSList *drawn = pango_attr_list_get_attributes(pango_layout_get_attributes(gtk_entry_get_layout(GTK_ENTRY(entry))));
    for (GSList *l = drawn; l; l = l->next) {
        auto *a = static_cast<PangoAttribute *>(l->data);
        if (a->klass->type == PANGO_ATTR_WEIGHT)
            drawn_bold.emplace_back(a->start_index, a->end_index);
    }
    g_slist_free_full(drawn, reinterpret_cast<GDestroyNotify>(pango_attribute_destroy));
    EXPECT_EQ(drawn_bold, bold);
    // The layout has its own copy: what the entry adds to it (input-method
    // text being composed) never lands in the entry's list.
    EXPECT_NE(pango_layout_get_attributes(gtk_entry_get_layout(GTK_ENTRY(entry))),
              gtk_entry_get_attributes(GTK_ENTRY(entry)));

    gtk_container_remove(GTK_CONTAINER(window), entry);
    GtkWidget *plain = gtk_entry_new();
    gtk_container_add(GTK_CONTAINER(window), plain);
    gtk_widget_show(plain);
    gtk_widget_grab_focus(plain);
    gtk_entry_set_text(GTK_ENTRY(plain), line.c_str());
    gtk_editable_set_position(GTK_EDITABLE(plain), 200);
    const int baseline = layouts_for_keys(plain, keys);
    gtk_container_remove(GTK_CONTAINER(window), plain);
    entry = sexy_spell_entry_new();
    gtk_container_add(GTK_CONTAINER(window), entry);

    std::printf("layouts for %d keys: formatted and checked %d, plain entry %d\n", keys, formatted, baseline);
    EXPECT_LE(formatted, baseline);
}

TEST_F(SpellEntryTest, LanguagesFallBackToEnglishAndWordCheckCanBeOverridden)
{
    g_strlcpy(prefs.text_spell_langs, "xx_YY, zz", sizeof prefs.text_spell_langs);
    GtkWidget *other = sexy_spell_entry_new();
    g_object_ref_sink(other);
    sexy_spell_entry_apply_prefs(SEXY_SPELL_ENTRY(other));
    GSList *active = sexy_spell_entry_get_active_languages(SEXY_SPELL_ENTRY(other));
    ASSERT_EQ(g_slist_length(active), 1u);
    EXPECT_TRUE(g_str_has_prefix(static_cast<const char *>(active->data), "en"));
    g_slist_free_full(active, g_free);
    GError *error = nullptr;
    EXPECT_FALSE(sexy_spell_entry_activate_language(SEXY_SPELL_ENTRY(other), "xx_YY", &error));
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->message, "enchant error for language: xx_YY");
    g_error_free(error);

    // A handler that calls every word with a "z" misspelt comes first.
    g_signal_connect(other, "word_check", G_CALLBACK(+[](SexySpellEntry *, const char *word, gpointer) -> gboolean {
                         return std::strchr(word, 'z') != nullptr;
                     }),
                     nullptr);
    gtk_entry_set_text(GTK_ENTRY(other), "pizza tset");
    std::swap(entry, other);
    EXPECT_EQ(misspelt(entry), (std::vector<range>{{0, 5}, {6, 10}}));
    // With no dictionary at all nothing is underlined.
    sexy_spell_entry_deactivate_language(SEXY_SPELL_ENTRY(entry), nullptr);
    EXPECT_TRUE(misspelt(entry).empty());
    std::swap(entry, other);
    g_object_unref(other);
}

TEST_F(SpellEntryTest, TwoDictionariesAcceptEitherSpellingAndEachGetsItsOwnSubmenus)
{
    GError *error = nullptr;
    ASSERT_TRUE(sexy_spell_entry_activate_language(SEXY_SPELL_ENTRY(entry), "en_GB", &error))
        << (error ? error->message : "") << " (needs hunspell-en-gb)";
    // ("speling" went into the personal list in an earlier test.)
    set_text("colour color wrold");
    EXPECT_EQ(misspelt(entry), (std::vector<range>{{13, 18}}));

    GtkWidget *m = popup_at_cursor(16);
    ASSERT_NE(m, nullptr);
    GtkWidget *suggestions = submenu_of(m, "Spelling Suggestions");
    ASSERT_NE(suggestions, nullptr);
    EXPECT_EQ(labels(suggestions), (std::vector<std::string>{"en_US (hunspell)", "en_GB (hunspell)"}));
    GtkWidget *british = submenu_of(suggestions, "en_GB (hunspell)");
    ASSERT_NE(british, nullptr);
    EXPECT_NE(item_labelled(british, "world"), nullptr);
    GtkWidget *add = submenu_of(m, "Add \"wrold\" to Dictionary");
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(labels(add), (std::vector<std::string>{"en_US (hunspell)", "en_GB (hunspell)"}));
}

TEST_F(SpellEntryTest, WithoutEnchantTypingAndFormattingStillWork)
{
    // main() selects this test only for a run with --without-enchant.
    ASSERT_TRUE(without_enchant) << "run with --without-enchant";
    EXPECT_EQ(enchant_loader_api(), nullptr);
    type("tset speling ok");
    EXPECT_TRUE(misspelt(entry).empty());
    gtk_editable_set_position(GTK_EDITABLE(entry), 0);
    int pos = 0;
    gtk_editable_insert_text(GTK_EDITABLE(entry), "\002", 1, &pos);
    EXPECT_EQ(ranges_of(entry, PANGO_ATTR_WEIGHT), (std::vector<range>{{1, 16}}));
    GtkWidget *m = popup_at_cursor(2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(submenu_of(m, "Spelling Suggestions"), nullptr);
}

void remove_tree(const char *path)
{
    if (GDir *d = g_dir_open(path, 0, nullptr)) {
        while (const char *name = g_dir_read_name(d)) {
            gchar *child = g_build_filename(path, name, nullptr);
            remove_tree(child);
            g_free(child);
        }
        g_dir_close(d);
    }
    g_remove(path);
}

} // namespace

// Every PangoLayout the toolkit makes goes through here, so a test can count
// how many layouts one key costs.
extern "C" PangoLayout *pango_layout_new(PangoContext *context)
{
    using make_fn = PangoLayout *(*)(PangoContext *);
    static const auto real = reinterpret_cast<make_fn>(dlsym(RTLD_NEXT, "pango_layout_new"));
    ++layouts_made;
    return real(context);
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--without-enchant") == 0)
            without_enchant = true;
    // The personal word list the menu adds to lives in a scratch directory.
    gchar *dir = g_dir_make_tmp("lumenwick-spell-XXXXXX", nullptr);
    g_setenv("HOME", dir, TRUE);
    g_setenv("XDG_CONFIG_HOME", dir, TRUE);
    set_xdir(dir);
    load_default_config();
    if (without_enchant) {
        enchant_loader_set_names({"libenchant-absent.so.0"});
        GTEST_FLAG_SET(filter, "*WithoutEnchant*");
    } else {
        GTEST_FLAG_SET(filter, "-*WithoutEnchant*");
    }
    g_log_set_writer_func(count_problems, nullptr, nullptr);
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: run through with-xvfb.sh\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    remove_tree(dir);
    g_free(dir);
    return result;
}
