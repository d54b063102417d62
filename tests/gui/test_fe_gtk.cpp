// The GTK front end in-process on a real display (run through with-xvfb.sh):
// main-loop sources, the questions and message boxes, and the session window
// driven by the real core. Any GLib warning or critical fails the test.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "gui_main.h"
#include "gui_support.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "mainwin/input-codes.h"
#include "mainwin/maingui.h"
#include "menus/mainmenu.h"
#include "net/server.h"
#include "session/session.h"
#include "switcher/chanview.h"
#include "textview/gtkxtext.h"
#include "theme/theme-runtime.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{

// Runs the loop until `done` holds; every wait in this file is bounded.

GtkWidget *find_toplevel(const std::function<bool(GtkWindow *)> &match)
{
    GList *all = gtk_window_list_toplevels();
    GtkWidget *found = nullptr;
    for (GList *l = all; l && !found; l = l->next)
        if (gtk_widget_get_visible(GTK_WIDGET(l->data)) && match(GTK_WINDOW(l->data)))
            found = GTK_WIDGET(l->data);
    g_list_free(all);
    return found;
}

GtkWidget *find_titled(const char *title)
{
    return find_toplevel([&](GtkWindow *w) { return g_strcmp0(gtk_window_get_title(w), title) == 0; });
}

GtkWidget *find_message(const char *text)
{
    return find_toplevel([&](GtkWindow *w) {
        if (!GTK_IS_MESSAGE_DIALOG(w))
            return false;
        gchar *shown = nullptr;
        g_object_get(w, "text", &shown, nullptr);
        const bool same = g_strcmp0(shown, text) == 0;
        g_free(shown);
        return same;
    });
}

// The entry (or spin button, itself an entry) a question dialog asks with.
GtkWidget *dialog_entry(GtkWidget *dialog)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        if (GTK_IS_ENTRY(l->data))
            found = GTK_WIDGET(l->data);
    g_list_free(children);
    return found;
}

// The session's lines as saving would write them (formatting removed).
std::string buffer_text(session *sess)
{
    return gtk_xtext_buffer_model(tab_of(sess)->buffer).save_text();
}

void print(session *sess, const char *text, time_t stamp = 0)
{
    std::string copy = text;
    fe_print_text(sess, copy.data(), stamp, FALSE);
}

class FrontEnd : public ::testing::Test
{
  protected:
    void SetUp() override { logged_problems = 0; }
    void TearDown() override { EXPECT_EQ(logged_problems, 0) << "GLib logged warnings or criticals"; }
};

// --- main-loop sources ------------------------------------------------------------

using MainLoopSources = FrontEnd;

TEST_F(MainLoopSources, TimersRepeatUntilFalseAndRemovalIsSafe)
{
    static int runs, removed_runs, idle_runs;
    runs = removed_runs = idle_runs = 0;
    const int id = fe_timeout_add(
        5, [](void *) { return ++runs < 3 ? 1 : 0; }, nullptr);
    EXPECT_NE(id, 0);
    fe_timeout_remove(fe_timeout_add(
        5, [](void *) { return ++removed_runs; }, nullptr));
    fe_idle_add([](void *) { return ++idle_runs < 4 ? 1 : 0; }, nullptr);
    ASSERT_TRUE(pump_until([] { return runs == 3 && idle_runs == 4; }));
    pump_for(50);
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(idle_runs, 4);
    EXPECT_EQ(removed_runs, 0);
    fe_timeout_remove(id); // the core may remove a timer that already ended
}

TEST_F(MainLoopSources, ReadWatchSeesDataThenHangUp)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    static GIOCondition seen;
    static int calls;
    seen = GIOCondition(0);
    calls = 0;
    const int id = fe_input_add(
        fds[0], FIA_READ | FIA_EX,
        [](GIOChannel *ch, GIOCondition cond, void *) -> gboolean {
            ++calls;
            seen = GIOCondition(seen | cond);
            char c;
            return read(g_io_channel_unix_get_fd(ch), &c, 1) > 0; // EOF ends the watch
        },
        nullptr);
    EXPECT_NE(id, 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    ASSERT_TRUE(pump_until([] { return calls == 1; }));
    EXPECT_TRUE(seen & G_IO_IN);
    close(fds[1]);
    ASSERT_TRUE(pump_until([] { return (seen & G_IO_HUP) != 0; }));
    fe_input_remove(id); // already ended by the callback
    close(fds[0]);
}

// --- questions and messages ---------------------------------------------------------

struct answer {
    int calls = 0;
    int cancelled = -1;
    int value = -1;
    std::string text;
};

using Questions = FrontEnd;

TEST_F(Questions, TextAnswerComesLaterEnterMeansOkPasswordsHidden)
{
    answer a;
    auto record = [](int cancelled, char *text, void *ud) {
        auto *a = static_cast<answer *>(ud);
        ++a->calls;
        a->cancelled = cancelled;
        a->text = text ? text : "(null)";
    };
    char prompt[] = "Enter new nickname:", def[] = "alice";
    fe_get_str(prompt, def, record, &a);
    EXPECT_EQ(a.calls, 0) << "answered inside the asking call";
    GtkWidget *dialog = find_titled(prompt);
    ASSERT_NE(dialog, nullptr);
    GtkWidget *entry_widget = dialog_entry(dialog);
    ASSERT_NE(entry_widget, nullptr);
    GtkEntry *entry = GTK_ENTRY(entry_widget);
    gtk_entry_set_text(entry, "bob");
    gtk_widget_activate(GTK_WIDGET(entry));
    ASSERT_TRUE(pump_until([&] { return a.calls == 1; }));
    EXPECT_EQ(a.cancelled, 0);
    EXPECT_EQ(a.text, "bob");
    EXPECT_TRUE(pump_until([&] { return !find_titled(prompt); }));

    fe_get_str(prompt, def, record, &a);
    gtk_dialog_response(GTK_DIALOG(find_titled(prompt)), GTK_RESPONSE_DELETE_EVENT);
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(a.cancelled, 1);

    char password_prompt[] = "Enter SASL password for Net:";
    fe_get_password(password_prompt, record, &a);
    dialog = find_titled(password_prompt);
    ASSERT_NE(dialog, nullptr);
    entry = GTK_ENTRY(dialog_entry(dialog));
    EXPECT_STREQ(gtk_entry_get_text(entry), "");
    EXPECT_FALSE(gtk_entry_get_visibility(entry));
    gtk_entry_set_text(entry, "s3cret");
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    EXPECT_EQ(a.cancelled, 0);
    EXPECT_EQ(a.text, "s3cret");
}

TEST_F(Questions, NumberIsBoundedAndClosingCancels)
{
    answer a;
    auto record = [](int cancelled, int value, void *ud) {
        static_cast<answer *>(ud)->cancelled = cancelled;
        static_cast<answer *>(ud)->value = value;
        ++static_cast<answer *>(ud)->calls;
    };
    char prompt[] = "How many?";
    fe_get_int(prompt, 5, record, &a);
    GtkWidget *dialog = find_titled(prompt);
    ASSERT_NE(dialog, nullptr);
    GtkWidget *spin_widget = dialog_entry(dialog);
    ASSERT_TRUE(GTK_IS_SPIN_BUTTON(spin_widget));
    GtkSpinButton *spin = GTK_SPIN_BUTTON(spin_widget);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(spin), 5);
    gtk_spin_button_set_value(spin, 5000);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    EXPECT_EQ(a.cancelled, 0);
    EXPECT_EQ(a.value, 1024);

    fe_get_int(prompt, 5, record, &a);
    gtk_dialog_response(GTK_DIALOG(find_titled(prompt)), GTK_RESPONSE_DELETE_EVENT);
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(a.cancelled, 1);
}

TEST_F(Questions, YesNoAndConfirmRunTheMatchingCallback)
{
    static int yes_answers, no_answers, accepted, aborted;
    yes_answers = no_answers = accepted = aborted = 0;
    char title[] = "Question", prompt[] = "Really?";
    auto on_bool = [](int yes, void *) { ++(yes ? yes_answers : no_answers); };
    fe_get_bool(title, prompt, on_bool, nullptr);
    gtk_dialog_response(GTK_DIALOG(find_titled(title)), GTK_RESPONSE_OK);
    fe_get_bool(title, prompt, on_bool, nullptr);
    gtk_dialog_response(GTK_DIALOG(find_titled(title)), GTK_RESPONSE_DELETE_EVENT);
    EXPECT_EQ(yes_answers, 1);
    EXPECT_EQ(no_answers, 1);

    fe_confirm(
        "bob is offering DCC Chat. Do you want to accept?", [](void *) { ++accepted; }, [](void *) { ++aborted; },
        nullptr);
    EXPECT_EQ(accepted + aborted, 0);
    gtk_dialog_response(GTK_DIALOG(find_titled(DISPLAY_NAME)), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(aborted, 1);
    EXPECT_EQ(accepted, 0);
}

TEST_F(Questions, FileChooserAnswersWithThePathOrNullWhenCancelled)
{
    static std::vector<std::string> got;
    got.clear();
    auto record = [](void *, char *file) { got.push_back(file ? file : "(null)"); };
    const std::string target = std::string(get_xdir()) + "/saved.txt";
    std::string initial = target;
    fe_get_file("Save as", initial.data(), record, nullptr, FRF_WRITE);
    EXPECT_TRUE(got.empty());
    // A save chooser ignores Accept until it has looked at its folder; keep
    // pressing (bounded) until it answers.
    ASSERT_TRUE(pump_until([] {
        if (GtkWidget *chooser = find_titled("Save as"))
            gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
        pump_for(50);
        return !got.empty();
    }));
    EXPECT_EQ(got, std::vector<std::string>{target});

    fe_get_file("Open", nullptr, record, nullptr, FRF_MULTIPLE);
    GtkWidget *chooser = nullptr;
    ASSERT_TRUE(pump_until([&] { return (chooser = find_titled("Open")) != nullptr; }));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(pump_until([] { return got.size() == 2; }));
    EXPECT_EQ(got.back(), "(null)");
}

TEST_F(Questions, MessageTypeFollowsFlagsAndBrokenMarkupShowsAsText)
{
    struct row {
        const char *text;
        int flags;
        GtkMessageType type;
        bool markup;
    };
    for (const row &r :
         {row{"info", FE_MSG_INFO | FE_MSG_ERROR, GTK_MESSAGE_INFO, false},
          row{"error", FE_MSG_ERROR | FE_MSG_WARN, GTK_MESSAGE_ERROR, false},
          row{"warning", 0, GTK_MESSAGE_WARNING, false}, row{"<b>bold</b>", FE_MSG_MARKUP, GTK_MESSAGE_WARNING, true},
          row{"<b>unclosed", FE_MSG_MARKUP | FE_MSG_INFO, GTK_MESSAGE_INFO, false}}) {
        fe_message(r.text, r.flags); // returns at once without the wait flag
        GtkWidget *dialog = find_message(r.text);
        ASSERT_NE(dialog, nullptr) << r.text;
        GtkMessageType type;
        gboolean markup;
        g_object_get(dialog, "message-type", &type, "use-markup", &markup, nullptr);
        EXPECT_EQ(type, r.type) << r.text;
        EXPECT_EQ(bool(markup), r.markup) << r.text;
        EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(dialog)));
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
        EXPECT_EQ(find_message(r.text), nullptr) << "still open after a response: " << r.text;
    }
}

// --- the session window with the real core ----------------------------------------------

class SessionWindow : public FrontEnd
{
  protected:
    // A server tab that lives through the suite, so closing others never ends the program.
    static session *anchor;
    static void SetUpTestSuite()
    {
        if (!anchor) {
            anchor = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
            safe_strcpy_channel(anchor, "TestNet");
        }
    }
    static void safe_strcpy_channel(session *s, const char *name) { g_strlcpy(s->channel, name, sizeof s->channel); }
    void SetUp() override
    {
        FrontEnd::SetUp();
        fe_text_clear(anchor, 0);
        prefs.stamp_text = 0;
        prefs.text_max_lines = 0;
    }
};
session *SessionWindow::anchor = nullptr;

TEST_F(SessionWindow, PrintedLinesGetStampAndLoseFormatting)
{
    // Without the nick column the stamp is part of the line's text.
    prefs.text_indent = 0;
    prefs.stamp_text = 1;
    g_strlcpy(prefs.stamp_text_format, "<%H:%M> ", sizeof prefs.stamp_text_format);
    print(anchor, "\002alice\002\t\00304red\003 text\nsecond\n", 5 * 3600 + 7 * 60);
    EXPECT_EQ(buffer_text(anchor), "<05:07> alice red text\n<05:07> second\n");
    prefs.text_indent = 1;
}

TEST_F(SessionWindow, ClearRemovesFirstOrLastLinesAndMaxLinesDropsOldest)
{
    for (const char *line : {"1", "2", "3", "4", "5"})
        print(anchor, line);
    fe_text_clear(anchor, 2);
    EXPECT_EQ(buffer_text(anchor), "3\n4\n5\n");
    fe_text_clear(anchor, -1);
    EXPECT_EQ(buffer_text(anchor), "3\n4\n");
    fe_text_clear(anchor, 0);
    EXPECT_EQ(buffer_text(anchor), "");

    prefs.text_max_lines = 3;
    sessionwin_apply_settings(anchor);
    for (const char *line : {"a", "b", "c", "d"})
        print(anchor, line);
    EXPECT_EQ(buffer_text(anchor), "b\nc\nd\n");
    prefs.text_max_lines = 0;
    sessionwin_apply_settings(anchor);
}

TEST_F(SessionWindow, LastlogCopiesMatchingLines)
{
    session *results = new_ircwindow(anchor->server, "#results", SESS_CHANNEL, 0);
    char empty_search[] = "x";
    fe_lastlog(anchor, results, empty_search, 0);
    EXPECT_NE(buffer_text(results).find("Search buffer is empty."), std::string::npos);

    for (const char *line : {"Hello World", "other", "HELLO again"})
        print(anchor, line);
    auto lastlog = [&](const char *pattern, int flags) {
        fe_text_clear(results, 0);
        std::string p = pattern;
        fe_lastlog(anchor, results, p.data(), flags);
        return buffer_text(results);
    };
    EXPECT_EQ(lastlog("hello", 0), "Hello World\nHELLO again\n");
    EXPECT_EQ(lastlog("hello", LASTLOG_MATCHCASE), "");
    EXPECT_EQ(lastlog("^h.*n$", LASTLOG_REGEXP), "HELLO again\n");
    EXPECT_EQ(lastlog("^h.*n$", LASTLOG_REGEXP | LASTLOG_MATCHCASE), "");
    const std::string bad = lastlog("(", LASTLOG_REGEXP);
    EXPECT_FALSE(bad.empty());
    EXPECT_EQ(bad.find("Hello"), std::string::npos);
    fe_close_window(results);
}

TEST_F(SessionWindow, EnterRunsTheLineAsCommandAndClearsInput)
{
    mg_bring_tofront_sess(anchor);
    GtkEntry *input = GTK_ENTRY(view_of(anchor)->input_entry);
    gtk_entry_set_text(input, "/set gui_win_nick");
    gtk_widget_activate(GTK_WIDGET(input));
    EXPECT_STREQ(gtk_entry_get_text(input), "");
    EXPECT_NE(buffer_text(anchor).find("gui_win_nick"), std::string::npos) << buffer_text(anchor);
}

// The menu bar's Window menu: each item opens its window, one that needs a
// channel tab is insensitive elsewhere, and windows not built yet are there
// but insensitive.
TEST_F(SessionWindow, WindowMenuOpensTheUtilityWindowsThatFitTheTab)
{
    // The "_Window" menu of the bar, as the user opens it for the tab in front.
    auto window_items = [](session *sess) {
        mg_bring_tofront_sess(sess);
        GtkWidget *top = nullptr;
        GList *tops = gtk_container_get_children(GTK_CONTAINER(menu_bar_widget()));
        for (GList *l = tops; l; l = l->next)
            if (!g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)), "_Window"))
                top = gtk_menu_item_get_submenu(GTK_MENU_ITEM(l->data));
        g_list_free(tops);
        std::vector<std::pair<std::string, GtkWidget *>> items;
        if (!top)
            return items;
        gtk_widget_show(top);
        GList *children = gtk_container_get_children(GTK_CONTAINER(top));
        for (GList *l = children; l; l = l->next)
            if (const char *label = gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)); label && *label)
                items.emplace_back(label, GTK_WIDGET(l->data));
        g_list_free(children);
        gtk_widget_hide(top);
        return items;
    };
    auto item = [](const auto &items, const std::string &label) -> GtkWidget * {
        for (const auto &[text, widget] : items)
            if (text == label)
                return widget;
        return nullptr;
    };

    auto server_items = window_items(anchor);
    ASSERT_NE(item(server_items, "_Ban List"), nullptr);
    EXPECT_FALSE(gtk_widget_get_sensitive(item(server_items, "_Ban List")));
    // Windows not built yet are there, greyed out.
    ASSERT_NE(item(server_items, "_Raw Log"), nullptr);
    EXPECT_FALSE(gtk_widget_get_sensitive(item(server_items, "_Raw Log")));
    GtkWidget *ignore = item(server_items, "Ignore List");
    ASSERT_NE(ignore, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(ignore));
    GtkWidget *window = nullptr;
    ASSERT_TRUE(pump_until([&] { return (window = find_titled("Ignore list - Lumenwick")) != nullptr; }));
    gtk_widget_destroy(window);

    session *chan = new_ircwindow(anchor->server, "#menu", SESS_CHANNEL, 0);
    auto chan_items = window_items(chan);
    ASSERT_NE(item(chan_items, "_Ban List"), nullptr);
    EXPECT_TRUE(gtk_widget_get_sensitive(item(chan_items, "_Ban List")));
    fe_close_window(chan);
}

// The formatting submenus insert their codes where the cursor is, replacing
// a selection; a colour item's swatch is the palette's colour.
TEST_F(SessionWindow, InputMenuInsertsFormattingCodesAtTheCursor)
{
    mg_bring_tofront_sess(anchor);
    GtkWidget *input = view_of(anchor)->input_entry;
    auto submenu_item = [&](const char *submenu, const char *text) -> GtkWidget * {
        GtkWidget *menu = gtk_menu_new();
        g_object_ref_sink(menu);
        g_signal_emit_by_name(input, "populate-popup", menu);
        GtkWidget *found = nullptr;
        GList *top = gtk_container_get_children(GTK_CONTAINER(menu));
        for (GList *l = top; l; l = l->next)
            if (g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)), submenu) == 0) {
                GtkWidget *sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(l->data));
                GList *items = gtk_container_get_children(GTK_CONTAINER(sub));
                for (GList *i = items; i && !found; i = i->next) {
                    GtkWidget *label = gtk_bin_get_child(GTK_BIN(i->data));
                    if (std::string(gtk_label_get_text(GTK_LABEL(label))).find(text) != std::string::npos ||
                        std::string(gtk_label_get_label(GTK_LABEL(label))).find(text) != std::string::npos)
                        found = GTK_WIDGET(i->data);
                }
                g_list_free(items);
            }
        g_list_free(top);
        if (found)
            g_object_set_data_full(G_OBJECT(found), "test-menu", menu, g_object_unref);
        else
            g_object_unref(menu);
        return found;
    };

    gtk_entry_set_text(GTK_ENTRY(input), "abXc");
    gtk_editable_select_region(GTK_EDITABLE(input), 2, 3);
    GtkWidget *bold = submenu_item("Insert Attribute or Color Code", "Bold");
    ASSERT_NE(bold, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(bold));
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(input)), "ab\002c");

    theme_color colours[32];
    theme_runtime_get_xtext_colors(colours, 32);
    char swatch[32];
    std::snprintf(swatch, sizeof swatch, "background=\"#%02x%02x%02x\"", int(colours[12].red * 255 + 0.5),
                  int(colours[12].green * 255 + 0.5), int(colours[12].blue * 255 + 0.5));
    GtkWidget *twelve = submenu_item("Colors 8-15", "<sup>12</sup>");
    ASSERT_NE(twelve, nullptr);
    EXPECT_NE(std::string(gtk_label_get_label(GTK_LABEL(gtk_bin_get_child(GTK_BIN(twelve))))).find(swatch),
              std::string::npos);
    gtk_editable_set_position(GTK_EDITABLE(input), 1);
    gtk_menu_item_activate(GTK_MENU_ITEM(twelve));
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(input)), "a\00312b\002c");
    gtk_entry_set_text(GTK_ENTRY(input), "");

    // The emoji fonts are added once, after the entry's own family.
    EXPECT_EQ(mg_emoji_font_family(""), "Sans, Noto Color Emoji, Segoe UI Emoji, Apple Color Emoji, Twemoji Mozilla, "
                                        "EmojiOne Color");
    EXPECT_EQ(mg_emoji_font_family("Twemoji Mozilla, Serif"), "Twemoji Mozilla, Serif");
    EXPECT_TRUE(
        gtk_style_context_has_class(gtk_widget_get_style_context(view_of(anchor)->key_entry), "lumenwick-emoji-font"));
}

// Everything set for a tab that is not in front waits for it and shows
// only the latest value; its half-typed line survives switching away.
TEST_F(SessionWindow, BackgroundTabsKeepTheirStateUntilBroughtToFront)
{
    prefs.gui_tab_newtofront = 2;
    mg_bring_tofront_sess(anchor);
    session *bg = new_ircwindow(anchor->server, "#bg", SESS_CHANNEL, 0);
    session_view *v = view_of(anchor);
    ASSERT_EQ(view_of(bg), v) << "one view shared by every tab";
    ASSERT_EQ(mg_front_session(), anchor);

    prefs.text_stripcolor_topic = 1;
    char raw1[] = "old", raw2[] = "\00304new\003 topic", stripped2[] = "new topic";
    fe_set_topic(bg, raw1, raw1);
    fe_set_topic(bg, raw2, stripped2);
    g_strlcpy(bg->key, "sekrit", sizeof bg->key);
    fe_update_channel_key(bg);
    fe_update_mode_buttons(bg, 't', '+');
    char draft[] = "half a line";
    fe_set_inputbox_contents(bg, draft);
    anchor->server->lag_probe_ms = 0;
    fe_set_lag(anchor->server, -1); // no probe outstanding: nothing changes
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->lag.label)), "");
    fe_set_lag(anchor->server, 1234);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->lag.label)), "1.2s") << "the server tab in front shows it";
    EXPECT_STRNE(gtk_entry_get_text(GTK_ENTRY(v->topic_entry)), "new topic");
    EXPECT_STRNE(gtk_entry_get_text(GTK_ENTRY(v->key_entry)), "sekrit");
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(v->input_entry)), "");
    EXPECT_STREQ(fe_get_inputbox_contents(bg), "half a line");

    // Activity colours the background tab; coming to front clears it.
    print(bg, "hello");
    EXPECT_EQ(tab_of(bg)->tab->color, 1);
    EXPECT_TRUE(bg->has_new_data);

    mg_bring_tofront_sess(bg);
    EXPECT_EQ(mg_front_session(), bg);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(v->topic_entry)), "new topic");
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(v->key_entry)), "sekrit");
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(v->input_entry)), "half a line");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->lag.label)), "1.2s");
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(v->mode_buttons[2])));
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(v->mode_buttons[0])));
    EXPECT_EQ(tab_of(bg)->tab->color, 0);
    EXPECT_FALSE(bg->has_new_data);
    EXPECT_EQ(gtk_xtext_buffer_shown(GTK_XTEXT(v->text_view)), tab_of(bg)->buffer);

    // Leaving keeps the typed line for this tab only.
    gtk_entry_set_text(GTK_ENTRY(v->input_entry), "typed here");
    mg_bring_tofront_sess(anchor);
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(v->mode_buttons[2])));
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(v->input_entry)), "");
    EXPECT_STREQ(fe_get_inputbox_contents(bg), "typed here");

    g_strlcpy(bg->rejoin_channel, "#old", sizeof bg->rejoin_channel);
    fe_clear_channel(bg);
    EXPECT_EQ(tab_of(bg)->tab->name, "(#old)");
    mg_bring_tofront_sess(bg);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(v->topic_entry)), "");
    fe_close_window(bg);
    EXPECT_EQ(mg_front_session(), anchor) << "closing the tab in front shows its neighbour";
}

TEST_F(SessionWindow, TitleFollowsTheTabInFront)
{
    mg_bring_tofront_sess(anchor);
    GtkWindow *window = session_window(anchor);
    EXPECT_STREQ(gtk_window_get_title(window), "Lumenwick");
    session *dialog = new_ircwindow(anchor->server, "bob", SESS_DIALOG, 1);
    mg_bring_tofront_sess(dialog);
    EXPECT_STREQ(gtk_window_get_title(window), "Dialog with bob @ TestNet - Lumenwick");
    fe_set_title(anchor); // not in front: no change
    EXPECT_STREQ(gtk_window_get_title(window), "Dialog with bob @ TestNet - Lumenwick");
    fe_close_window(dialog);
    EXPECT_STREQ(gtk_window_get_title(window), "Lumenwick");
}

TEST_F(SessionWindow, ClosingFreesTheSessionAndItsTab)
{
    const int tabs = chanview_get_size(view_of(anchor)->switcher);
    session *by_core = new_ircwindow(anchor->server, "#a", SESS_CHANNEL, 0);
    EXPECT_EQ(chanview_get_size(view_of(anchor)->switcher), tabs + 1);
    fe_close_window(by_core);
    EXPECT_FALSE(is_session(by_core)) << "the exit loop relies on fe_close_window freeing the session";
    EXPECT_EQ(chanview_get_size(view_of(anchor)->switcher), tabs);

    session *by_user = new_ircwindow(anchor->server, "#b", SESS_CHANNEL, 0);
    mg_tab_close(by_user);
    EXPECT_FALSE(is_session(by_user));
    EXPECT_EQ(chanview_get_size(view_of(anchor)->switcher), tabs);
}

// The nick column of every row, in view order (markup as stored).
std::vector<std::string> list_rows(session_view *v)
{
    std::vector<std::string> rows;
    GtkTreeModel *m = gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist));
    GtkTreeIter it;
    for (bool ok = m && gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
        gchar *nick = nullptr;
        gtk_tree_model_get(m, &it, 2, &nick, -1);
        rows.emplace_back(nick ? nick : "");
        g_free(nick);
    }
    return rows;
}

TEST_F(SessionWindow, UserListShowsABurstSortedAtItsEndAndFollowsLaterChanges)
{
    prefs.gui_ulist_sort = 0;
    session *chan = new_ircwindow(anchor->server, "#users", SESS_CHANNEL, 1);
    mg_bring_tofront_sess(chan);
    session_view *v = view_of(chan);
    message_tags_data tags;
    const auto add = [&](const char *name) { userlist_add(chan, name, nullptr, nullptr, nullptr, &tags); };

    // A NAMES burst: the view holds no model until the end of the list.
    chan->end_of_names = FALSE;
    userlist_burst_begin(chan);
    for (const char *name : {"zed", "@alice", "+bob", "carol"})
        add(name);
    pump_for(50);
    EXPECT_EQ(gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist)), nullptr);
    userlist_burst_end(chan);
    chan->end_of_names = TRUE;
    fe_userlist_numbers(chan);
    EXPECT_EQ(list_rows(v), (std::vector<std::string>{"alice", "bob", "carol", "zed"}));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->user_count)), "1 ops, 4 total");

    // After it, each change lands in its place at once.
    add("@aaron");
    add("dave");
    userlist_remove(chan, "carol");
    EXPECT_EQ(list_rows(v), (std::vector<std::string>{"aaron", "alice", "bob", "dave", "zed"}));
    userlist_update_mode(chan, "zed", 'o', '+');
    EXPECT_EQ(list_rows(v).at(2), "zed");

    fe_set_typing(chan, "dave", "active");
    EXPECT_EQ(list_rows(v).at(4).rfind("dave [", 0), 0u) << list_rows(v).at(4);
    fe_set_typing(chan, "dave", "done");
    EXPECT_EQ(list_rows(v).at(4), "dave");

    userlist_clear(chan);
    EXPECT_TRUE(list_rows(v).empty());
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->user_count)), "");
    fe_close_window(chan);
}

TEST_F(SessionWindow, GuiInfoReportsHiddenWindowsAndTheWindowPointer)
{
    GtkWindow *window = session_window(anchor);
    EXPECT_EQ(fe_gui_info_ptr(anchor, 0), window);
    EXPECT_EQ(fe_gui_info_ptr(anchor, 1), window);
    EXPECT_EQ(fe_gui_info_ptr(anchor, 2), nullptr);
    EXPECT_EQ(fe_gui_info(anchor, 1), -1);
    // Focus decides between active (1) and merely visible (0).
    fe_ctrl_gui(anchor, FE_GUI_FOCUS, 0);
    EXPECT_TRUE(pump_until([&] { return fe_gui_info(anchor, 0) == 1; })) << fe_gui_info(anchor, 0);
    session *other = new_ircwindow(anchor->server, "#elsewhere", SESS_CHANNEL, 0);
    // Tabs share the one window: focusing brings the tab to front in it.
    fe_ctrl_gui(other, FE_GUI_FOCUS, 0);
    EXPECT_EQ(mg_front_session(), other);
    EXPECT_EQ(session_window(other), window);
    EXPECT_EQ(fe_gui_info(other, 0), 1);
    fe_ctrl_gui(anchor, FE_GUI_HIDE, 0);
    EXPECT_EQ(fe_gui_info(anchor, 0), 2);
    fe_ctrl_gui(anchor, FE_GUI_SHOW, 0);
    EXPECT_NE(fe_gui_info(anchor, 0), 2);
    fe_close_window(other);
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv, [](const char *) {
        g_setenv("TZ", "UTC", TRUE);
        tzset();
    });
}

// --- DCC windows ------------------------------------------------------------------

namespace
{

GtkWidget *find_child(GtkWidget *w, const std::function<bool(GtkWidget *)> &match)
{
    if (match(w))
        return w;
    if (!GTK_IS_CONTAINER(w))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(w));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        found = find_child(GTK_WIDGET(l->data), match);
    g_list_free(children);
    return found;
}

GtkWidget *find_labelled(GtkWidget *w, const char *label)
{
    return find_child(w, [&](GtkWidget *c) {
        return GTK_IS_BUTTON(c) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(c)), label) == 0;
    });
}

// The texts of one column, top to bottom.
std::vector<std::string> column_texts(GtkTreeView *view, int column)
{
    std::vector<std::string> out;
    GtkTreeModel *model = gtk_tree_view_get_model(view);
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar *text = nullptr;
        gtk_tree_model_get(model, &iter, column, &text, -1);
        out.emplace_back(text ? text : "");
        g_free(text);
    }
    return out;
}

DCC *listed(int kind, const char *file, uint64_t size, int status)
{
    auto *dcc = new DCC;
    dcc->kind = kind;
    dcc->nick = "bob";
    dcc->file = file;
    dcc->size = size;
    dcc->status = status;
    dcc_list = g_slist_prepend(dcc_list, dcc);
    return dcc;
}

} // namespace

TEST_F(FrontEnd, DccTransfersWindowFiltersRowsAndDoubleClickClearsAFinishedSend)
{
    constexpr int FILE_COL = 2, PERC_COL = 5, ETA_COL = 7;
    listed(DCC_KIND_RECV, "empty.bin", 0, STAT_QUEUED);
    DCC *sent = listed(DCC_KIND_SEND, "/tmp/sent.bin", 1000, STAT_DONE);
    sent->acknowledged = 1000;
    EXPECT_EQ(fe_dcc_open_recv_win(0), 0);
    EXPECT_EQ(fe_dcc_open_send_win(1), 1) << "already open";
    GtkWidget *win = find_titled("Uploads and Downloads");
    ASSERT_NE(win, nullptr);
    auto *view = GTK_TREE_VIEW(find_child(win, [](GtkWidget *c) { return GTK_IS_TREE_VIEW(c); }));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(column_texts(view, FILE_COL), (std::vector<std::string>{"sent.bin", "empty.bin"}));
    EXPECT_EQ(column_texts(view, PERC_COL), (std::vector<std::string>{"100%", "0%"})) << "a zero-byte offer is 0%";
    EXPECT_EQ(column_texts(view, ETA_COL)[1], "--:--:--");
    EXPECT_TRUE(gtk_widget_get_sensitive(find_labelled(win, "Clear")));

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(find_labelled(win, "Uploads")), TRUE);
    EXPECT_EQ(column_texts(view, FILE_COL), (std::vector<std::string>{"sent.bin"}));
    DCC *later = listed(DCC_KIND_RECV, "later.bin", 10, STAT_QUEUED);
    fe_dcc_add(later);
    EXPECT_EQ(column_texts(view, FILE_COL).size(), 1u) << "downloads stay hidden under the Uploads filter";
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(find_labelled(win, "Both")), TRUE);
    EXPECT_EQ(column_texts(view, FILE_COL), (std::vector<std::string>{"later.bin", "sent.bin", "empty.bin"}));

    GtkTreePath *path = gtk_tree_path_new_from_indices(1, -1);
    gtk_tree_view_row_activated(view, path, gtk_tree_view_get_column(view, 0));
    gtk_tree_path_free(path);
    EXPECT_FALSE(is_dcc(sent));
    EXPECT_EQ(column_texts(view, FILE_COL), (std::vector<std::string>{"later.bin", "empty.bin"}));
    EXPECT_FALSE(gtk_widget_get_sensitive(find_labelled(win, "Clear"))) << "nothing finished is listed";

    while (dcc_list)
        dcc_abort(nullptr, static_cast<DCC *>(dcc_list->data));
    EXPECT_EQ(column_texts(view, FILE_COL).size(), 0u);
    gtk_widget_destroy(win);
}
