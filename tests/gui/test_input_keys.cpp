// The input line's keyboard in-process with the real core, on a display
// (run through with-xvfb.sh): plugins see a key before the bindings and can
// eat it, bindings switch tabs from the input line and from elsewhere in the
// window without taking keys the focused widget needs, formatting codes go
// in at the cursor, the menus' shortcut handlers run, and the Keyboard
// Shortcuts window saves (or says why it could not).
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dialogs/keydialog.h"
#include "fe.h"
#include "gui_main.h"
#include "gui_support.h"
#include "input/inputbox.h"
#include "input/keybindings.h"
#include "mainwin/maingui.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"
#include "session/session.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

lumenwick_plugin *probe = nullptr;
std::string keys_seen;
bool eat_keys = false;

int probe_init(void *handle, char **name, char **desc, char **version, char *)
{
    probe = static_cast<lumenwick_plugin *>(handle);
    *name = const_cast<char *>("keyprobe");
    *desc = const_cast<char *>("");
    *version = const_cast<char *>("1");
    return 1;
}

int on_key_press_hook(char *word[], void *)
{
    keys_seen += std::string(word[1]) + " ";
    return eat_keys ? LUMENWICK_EAT_ALL : LUMENWICK_EAT_NONE;
}

// Sends a key press to `widget` the way the display would.
void press(GtkWidget *widget, guint keyval, guint state = 0)
{
    GdkEvent *ev = gdk_event_new(GDK_KEY_PRESS);
    ev->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    ev->key.keyval = keyval;
    ev->key.state = state;
    ev->key.time = GDK_CURRENT_TIME;
    gdk_event_set_device(ev, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(widget, ev);
    gdk_event_free(ev);
}

class InputKeys : public ::testing::Test
{
  protected:
    static session *anchor;
    static session *one;
    static session *two;
    static void SetUpTestSuite()
    {
        anchor = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
        g_strlcpy(anchor->channel, "KeyNet", sizeof anchor->channel);
        one = new_ircwindow(anchor->server, "#one", SESS_CHANNEL, 0);
        two = new_ircwindow(anchor->server, "#two", SESS_CHANNEL, 0);
        ASSERT_TRUE(plugin_add(anchor, "keyprobe", nullptr, probe_init, nullptr, nullptr, 0));
        lumenwick_hook_print(probe, "Key Press", LUMENWICK_PRI_NORM, on_key_press_hook, nullptr);
    }
    void SetUp() override
    {
        logged_problems = 0;
        keys_seen.clear();
        eat_keys = false;
        key_set_bindings(key_defaults());
        mg_bring_tofront_sess(two);
        pump_for(50);
        gtk_widget_grab_focus(input());
    }
    void TearDown() override { EXPECT_EQ(logged_problems, 0) << "GLib logged warnings or criticals"; }

    static GtkWidget *input() { return mg_shared_view()->input_entry; }
    static GtkWidget *window() { return mg_shared_view()->window; }
    static std::string text() { return gtk_entry_get_text(GTK_ENTRY(input())); }
};
session *InputKeys::anchor = nullptr;
session *InputKeys::one = nullptr;
session *InputKeys::two = nullptr;

TEST_F(InputKeys, PluginsSeeTheKeyFirstAndMayEatIt)
{
    press(input(), GDK_KEY_Page_Up, GDK_CONTROL_MASK);
    EXPECT_EQ(mg_front_session(), one);
    EXPECT_EQ(keys_seen, std::to_string(GDK_KEY_Page_Up) + " ");
    eat_keys = true;
    press(input(), GDK_KEY_Page_Down, GDK_CONTROL_MASK);
    EXPECT_EQ(mg_front_session(), one) << "an eaten key runs no binding";
}

TEST_F(InputKeys, TabsSwitchFromTheInputLineAndFromTheUserList)
{
    press(input(), GDK_KEY_Page_Up, GDK_CONTROL_MASK);
    EXPECT_EQ(mg_front_session(), one);
    // Focus elsewhere in the window: tab switching still works, but Up is
    // left to the user list rather than recalling history.
    history_add(&one->input_history, "an older line");
    gtk_entry_set_text(GTK_ENTRY(input()), "half typed");
    gtk_widget_grab_focus(mg_shared_view()->userlist);
    press(window(), GDK_KEY_Up);
    EXPECT_EQ(text(), "half typed");
    press(window(), GDK_KEY_Page_Down, GDK_CONTROL_MASK);
    EXPECT_EQ(mg_front_session(), two);
    // A binding naming a channel brings it to front.
    std::vector<key_binding> mine = key_defaults();
    mine.insert(mine.begin(), key_binding{GDK_KEY_F3, 0, KEY_CHANGE_PAGE, "#one", std::nullopt});
    key_set_bindings(mine);
    gtk_widget_grab_focus(input());
    press(input(), GDK_KEY_F3);
    EXPECT_EQ(mg_front_session(), one);
}

TEST_F(InputKeys, FormattingCodesGoInAtTheCursor)
{
    gtk_entry_set_text(GTK_ENTRY(input()), "say loud");
    gtk_editable_set_position(GTK_EDITABLE(input()), 4);
    press(input(), GDK_KEY_b, GDK_CONTROL_MASK);
    EXPECT_EQ(text(), "say \002loud");
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(input())), 5);
}

TEST_F(InputKeys, HistoryFillsTheLineWithTheCursorAtItsEnd)
{
    gtk_entry_set_text(GTK_ENTRY(input()), "/echo first");
    gtk_widget_activate(input());
    gtk_entry_set_text(GTK_ENTRY(input()), "/echo second");
    gtk_widget_activate(input());
    press(input(), GDK_KEY_Up);
    EXPECT_EQ(text(), "/echo second");
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(input())), 12);
    press(input(), GDK_KEY_Up);
    EXPECT_EQ(text(), "/echo first");
    press(input(), GDK_KEY_Down);
    press(input(), GDK_KEY_Down);
    EXPECT_EQ(text(), "") << "Down from the newest line clears it";
}

TEST_F(InputKeys, MenuShortcutsRunTheMenusHandlers)
{
    int searched = 0;
    key_set_menu_shortcut("search-text", [&](session *s) {
        EXPECT_EQ(s, two);
        searched++;
        return true;
    });
    press(input(), GDK_KEY_f, GDK_CONTROL_MASK);
    EXPECT_EQ(searched, 1);
    key_set_menu_shortcut("search-text", nullptr);
    // Without a handler the key is still consumed: nothing is typed.
    press(input(), GDK_KEY_f, GDK_CONTROL_MASK);
    EXPECT_EQ(searched, 1);
    EXPECT_EQ(text(), "");

    // Control+Q quits only while "Enable Ctrl+Q to quit" is on.
    int quits = 0;
    key_set_menu_shortcut("quit", [&](session *) { return ++quits > 0; });
    prefs.gui_ctrlq_quit = 0;
    press(input(), GDK_KEY_q, GDK_CONTROL_MASK);
    EXPECT_EQ(quits, 0);
    prefs.gui_ctrlq_quit = 1;
    press(input(), GDK_KEY_q, GDK_CONTROL_MASK);
    EXPECT_EQ(quits, 1);
    key_set_menu_shortcut("quit", nullptr);
}

TEST_F(InputKeys, EditorSavesTheTableAndKeepsItOpenWhenTheFileCannotBeWritten)
{
    const std::string conf = std::string(get_xdir()) + "/keybindings.conf";
    auto click = [](const char *label) {
        GtkWidget *w = key_dialog_window();
        std::function<GtkWidget *(GtkWidget *)> find = [&](GtkWidget *at) -> GtkWidget * {
            if (GTK_IS_BUTTON(at) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(at)), label) == 0)
                return at;
            if (!GTK_IS_CONTAINER(at))
                return nullptr;
            GList *children = gtk_container_get_children(GTK_CONTAINER(at));
            GtkWidget *found = nullptr;
            for (GList *l = children; l && !found; l = l->next)
                found = find(GTK_WIDGET(l->data));
            g_list_free(children);
            return found;
        };
        GtkWidget *button = w ? find(w) : nullptr;
        ASSERT_NE(button, nullptr) << label;
        gtk_button_clicked(GTK_BUTTON(button));
    };

    key_dialog_show();
    GtkWidget *editor = find_shown_titled("Keyboard Shortcuts - Lumenwick");
    ASSERT_NE(editor, nullptr);
    // A picture of the editor for people reviewing the build.
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(editor); }));
    pump_for(300);
    GdkWindow *gw = gtk_widget_get_window(editor);
    if (GdkPixbuf *shot = gdk_pixbuf_get_from_window(gw, 0, 0, gdk_window_get_width(gw), gdk_window_get_height(gw))) {
        gdk_pixbuf_save(shot, "gui-keybindings.png", "png", nullptr, nullptr);
        g_object_unref(shot);
    }
    click("_Save");
    EXPECT_EQ(key_dialog_window(), nullptr) << "a successful save closes the window";
    std::ifstream in(conf, std::ios::binary);
    std::stringstream saved;
    saved << in.rdbuf();
    EXPECT_EQ(saved.str(), key_default_text());

    ASSERT_EQ(mkdir((conf + ".new").c_str(), 0700), 0);
    key_dialog_show();
    click("_Save");
    EXPECT_NE(key_dialog_window(), nullptr) << "the user can try again";
    GtkWidget *message = nullptr;
    ASSERT_TRUE(pump_until([&] {
        GList *all = gtk_window_list_toplevels();
        for (GList *l = all; l; l = l->next)
            if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
                message = GTK_WIDGET(l->data);
        g_list_free(all);
        return message != nullptr;
    }));
    gtk_widget_destroy(message);
    gtk_widget_destroy(key_dialog_window());
    rmdir((conf + ".new").c_str());
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv);
}
