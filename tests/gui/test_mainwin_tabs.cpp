// The main window's utility tabs, detached sessions and button rows,
// in-process on a real display (run through with-xvfb.sh) with the real core
// behind them. Any GLib warning or critical fails a test.
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "dcc/dcc.h"
#include "dialogs/banlist.h"
#include "dialogs/chanlist.h"
#include "dialogs/plugingui.h"
#include "dialogs/utilwin.h"
#include "fe.h"
#include "gui_main.h"
#include "gui_support.h"
#include "irc/inbound.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "mainwin/generic-tab.h"
#include "mainwin/maingui.h"
#include "mainwin/reply.h"
#include "net/server.h"
#include "session/session.h"
#include "switcher/chanview.h"
#include "textview/gtkxtext.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{

// Leaves a picture of a window in the working directory, to look at.
void screenshot(GtkWidget *window, const char *file)
{
    pump_for(100);
    GdkWindow *gdk = gtk_widget_get_window(window);
    GdkPixbuf *shot =
        gdk ? gdk_pixbuf_get_from_window(gdk, 0, 0, gdk_window_get_width(gdk), gdk_window_get_height(gdk)) : nullptr;
    if (shot) {
        gdk_pixbuf_save(shot, file, "png", nullptr, nullptr);
        g_object_unref(shot);
    }
}

// Shown windows other than dialogs.
int shown_windows()
{
    GList *all = gtk_window_list_toplevels();
    int n = 0;
    for (GList *l = all; l; l = l->next)
        // Message boxes (the unconnected server says so) are not utility windows.
        n += gtk_widget_get_visible(GTK_WIDGET(l->data)) && !GTK_IS_DIALOG(l->data) ? 1 : 0;
    g_list_free(all);
    return n;
}

std::vector<chan *> utility_rows(session_view *v)
{
    std::vector<chan *> rows;
    for (chan *ch : v->switcher->model.display_order())
        if (ch->tag == 1)
            rows.push_back(ch);
    return rows;
}

class MainWindow : public ::testing::Test
{
  protected:
    // A server tab that lives through the suite, so closing others never ends the program.
    static session *anchor;
    static void SetUpTestSuite()
    {
        if (!anchor) {
            anchor = new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
            g_strlcpy(anchor->channel, "TestNet", sizeof anchor->channel);
        }
    }
    void SetUp() override
    {
        logged_problems = 0;
        prefs.gui_tab_utils = 1;
        prefs.gui_tab_pos = 6;
        prefs.gui_tab_newtofront = 1;
        mg_bring_tofront_sess(anchor);
    }
    void TearDown() override
    {
        for (chan *ch : utility_rows(view_of(anchor)))
            mg_generic_tab_close(ch);
        EXPECT_EQ(logged_problems, 0) << "GLib logged warnings or criticals";
    }
    static GtkNotebook *notebook() { return GTK_NOTEBOOK(view_of(anchor)->notebook); }
};
session *MainWindow::anchor = nullptr;

using UtilityTabs = MainWindow;

// Every utility opener, in tab mode, makes one switcher row and a page of
// the main window instead of a window; a second request only brings it to
// front; closing the row destroys the content so it can open again.
TEST_F(UtilityTabs, EveryUtilityOpensAsOneTabAndClosesWithIt)
{
    session_view *v = view_of(anchor);
    session *channel = new_ircwindow(anchor->server, "#tabs", SESS_CHANNEL, 0);
    const int windows_before = shown_windows();
    const std::vector<std::function<void()>> openers = {
        [&] { chanlist_opengui(anchor->server, false); },
        [&] { banlist_opengui(channel); },
        [] { fe_dcc_open_recv_win(FALSE); },
        [] { fe_dcc_open_chat_win(FALSE); },
        [] { notify_gui_open(); },
        [] { ignore_gui_open(); },
        [] { url_gui_open(); },
        [&] { plugingui_open(anchor); },
    };
    for (std::size_t i = 0; i < openers.size(); i++) {
        openers[i]();
        pump_for(20);
        const auto rows = utility_rows(v);
        ASSERT_EQ(rows.size(), i + 1) << "opener " << i;
        chan *row = rows.back();
        EXPECT_EQ(row->icon, TAB_ICON_UTILITY);
        EXPECT_EQ(row->family, nullptr) << "utility rows belong to no server";
        auto *page = static_cast<GtkWidget *>(row->userdata);
        EXPECT_EQ(gtk_widget_get_toplevel(page), v->window);
        EXPECT_EQ(gtk_notebook_get_nth_page(notebook(), gtk_notebook_get_current_page(notebook())), page)
            << "a new utility tab comes to front with gui_tab_newtofront";
    }
    EXPECT_EQ(shown_windows(), windows_before) << "no opener made a window of its own";

    screenshot(v->window, "mainwin-utility-tab.png");

    // Again: the existing tab comes to front, no second row.
    EXPECT_FALSE(gtk_widget_get_visible(v->userlist_box)) << "no user list beside a utility";
    mg_bring_tofront_sess(channel);
    EXPECT_EQ(gtk_notebook_get_current_page(notebook()), 0) << "a session tab shows the chat page";
    EXPECT_TRUE(gtk_widget_get_visible(v->userlist_box)) << "the channel's list is back";
    mg_bring_tofront_sess(anchor);
    ignore_gui_open();
    EXPECT_EQ(utility_rows(v).size(), openers.size());
    chan *ignore_row = v->switcher->model.focused;
    ASSERT_NE(ignore_row, nullptr);
    EXPECT_EQ(ignore_row->name, "IgnoreList");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(v->window)), "Ignore list - Lumenwick");

    // Closing the focused utility row by the switcher's close button.
    v->switcher->on_close(ignore_row);
    EXPECT_EQ(utility_rows(v).size(), openers.size() - 1);
    ASSERT_NE(v->switcher->model.focused, nullptr) << "a neighbour takes the focus";
    ignore_gui_open();
    EXPECT_EQ(utility_rows(v).size(), openers.size()) << "the closed window's state was released";
    fe_close_window(channel);
}

TEST_F(UtilityTabs, WindowsWhenTheOptionIsOffOrTheSwitcherHidden)
{
    session_view *v = view_of(anchor);
    for (const auto &[utils, pos] : {std::pair{0, 6}, std::pair{1, 7}}) {
        prefs.gui_tab_utils = utils;
        prefs.gui_tab_pos = pos;
        url_gui_open();
        GtkWidget *window = nullptr;
        ASSERT_TRUE(pump_until([&] { return (window = find_shown_titled("URL Grabber - Lumenwick")) != nullptr; }))
            << "gui_tab_utils " << utils << ", gui_tab_pos " << pos;
        EXPECT_NE(window, v->window);
        EXPECT_TRUE(utility_rows(v).empty());
        if (utils == 0)
            screenshot(window, "mainwin-utility-window.png");
        gtk_widget_destroy(window);
    }
}

TEST_F(UtilityTabs, ClosingTheFocusedLastTabShowsTheChatAgain)
{
    session_view *v = view_of(anchor);
    notify_gui_open();
    pump_for(20);
    ASSERT_EQ(utility_rows(v).size(), 1u);
    ASSERT_NE(gtk_notebook_get_current_page(notebook()), 0);
    // Escape inside the page closes it like a window.
    auto *page = static_cast<GtkWidget *>(utility_rows(v).front()->userdata);
    GdkEvent *key = gdk_event_new(GDK_KEY_PRESS);
    key->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(v->window)));
    key->key.keyval = GDK_KEY_Escape;
    gboolean handled = FALSE;
    g_signal_emit_by_name(page, "key-press-event", key, &handled);
    gdk_event_free(key);
    EXPECT_TRUE(handled);
    EXPECT_TRUE(utility_rows(v).empty());
    EXPECT_EQ(gtk_notebook_get_current_page(notebook()), 0);
    mg_bring_tofront_sess(anchor);
    EXPECT_EQ(mg_front_session(), anchor);
}

// --- sessions in windows of their own ------------------------------------------------

using OwnWindows = MainWindow;

std::string buffer_text(session *sess)
{
    return gtk_xtext_buffer_model(tab_of(sess)->buffer).save_text();
}

void type_line(session_view *v, const char *line)
{
    gtk_entry_set_text(GTK_ENTRY(v->input_entry), line);
    g_signal_emit_by_name(v->input_entry, "activate");
}

// A detached tab keeps its text, state and half-typed line in a window of
// its own that updates live and sends from its own input line; attached back
// it is a tab again with everything it had.
TEST_F(OwnWindows, DetachedTabLivesInItsWindowAndAttachesBack)
{
    session_view *main_view = view_of(anchor);
    session *chan = new_ircwindow(anchor->server, "#own", SESS_CHANNEL, 1);
    mg_bring_tofront_sess(chan);
    fe_print_text(chan, const_cast<char *>("before detaching\n"), 0, FALSE);
    gtk_entry_set_text(GTK_ENTRY(main_view->input_entry), "half typed");
    const int tabs = chanview_get_size(main_view->switcher);

    handle_command(chan, const_cast<char *>("GUI DETACH"), false);
    session_view *own = view_of(chan);
    ASSERT_NE(own, main_view);
    ASSERT_NE(own->window, nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(own->window));
    EXPECT_EQ(chanview_get_size(main_view->switcher), tabs - 1) << "its row left the switcher";
    EXPECT_EQ(tab_of(chan)->tab, nullptr);
    EXPECT_NE(mg_front_session(), chan);
    EXPECT_EQ(gtk_xtext_buffer_shown(GTK_XTEXT(own->text_view)), tab_of(chan)->buffer);
    EXPECT_NE(gtk_xtext_buffer_shown(GTK_XTEXT(main_view->text_view)), tab_of(chan)->buffer);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(own->input_entry)), "half typed");

    // Changes show at once, though it is not the main window's tab in front.
    // As the core does: the session's topic first, then the window told.
    char topic[] = "live topic";
    g_free(chan->topic);
    chan->topic = g_strdup(topic);
    fe_set_topic(chan, topic, topic);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(own->topic_entry)), "live topic");
    EXPECT_STRNE(gtk_entry_get_text(GTK_ENTRY(main_view->topic_entry)), "live topic");
    // Its input line runs commands in its own session, whatever the main window shows.
    type_line(own, "/echo typed in its window");
    EXPECT_NE(buffer_text(chan).find("typed in its window"), std::string::npos);
    EXPECT_EQ(buffer_text(anchor).find("typed in its window"), std::string::npos);
    mg_detach(chan, 1); // already detached: nothing
    EXPECT_EQ(view_of(chan), own);

    gtk_entry_set_text(GTK_ENTRY(own->input_entry), "still typing");
    handle_command(chan, const_cast<char *>("GUI ATTACH"), false);
    pump_for(20);
    EXPECT_EQ(view_of(chan), main_view);
    ASSERT_NE(tab_of(chan)->tab, nullptr);
    EXPECT_EQ(chanview_get_size(main_view->switcher), tabs);
    EXPECT_EQ(mg_front_session(), chan);
    EXPECT_EQ(gtk_xtext_buffer_shown(GTK_XTEXT(main_view->text_view)), tab_of(chan)->buffer);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(main_view->topic_entry)), "live topic");
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(main_view->input_entry)), "still typing");
    EXPECT_NE(buffer_text(chan).find("before detaching"), std::string::npos);
    mg_detach(chan, 2); // already a tab: nothing
    EXPECT_EQ(view_of(chan), main_view);
    fe_close_window(chan);
}

TEST_F(OwnWindows, ClosingItsWindowClosesTheSessionOnly)
{
    session *chan = new_ircwindow(anchor->server, "#closing", SESS_CHANNEL, 1);
    mg_detach(chan, 0);
    ASSERT_TRUE(mg_is_detached(chan));
    gtk_widget_destroy(view_of(chan)->window);
    EXPECT_FALSE(is_session(chan));
    ASSERT_TRUE(is_session(anchor));
    EXPECT_NE(session_window(anchor), nullptr) << "the main window stays";
    mg_bring_tofront_sess(anchor);
    EXPECT_EQ(mg_front_session(), anchor);
}

TEST_F(OwnWindows, ChannelsAndDialogsOpenInWindowsWhenNotTabbed)
{
    session_view *main_view = view_of(anchor);
    const int tabs = chanview_get_size(main_view->switcher);
    prefs.gui_tab_chans = 0;
    prefs.gui_tab_dialogs = 0;
    session *chan = new_ircwindow(anchor->server, "#window", SESS_CHANNEL, 1);
    session *dialog = new_ircwindow(anchor->server, "carol", SESS_DIALOG, 1);
    prefs.gui_tab_chans = 1;
    prefs.gui_tab_dialogs = 1;
    EXPECT_TRUE(mg_is_detached(chan));
    EXPECT_TRUE(mg_is_detached(dialog));
    EXPECT_EQ(chanview_get_size(main_view->switcher), tabs);
    EXPECT_TRUE(gtk_widget_get_visible(view_of(chan)->userlist_box)) << "a channel shows its users";
    EXPECT_FALSE(gtk_widget_get_visible(view_of(dialog)->userlist_box));
    fe_print_text(dialog, const_cast<char *>("hello carol\n"), 0, FALSE);
    EXPECT_EQ(gtk_xtext_buffer_shown(GTK_XTEXT(view_of(dialog)->text_view)), tab_of(dialog)->buffer);
    EXPECT_NE(buffer_text(dialog).find("hello carol"), std::string::npos);

    // A dialog's own window keeps its size in the dialog settings, not the main window's.
    prefs.gui_win_save = 1;
    const int main_width = prefs.gui_win_width;
    gtk_window_resize(GTK_WINDOW(view_of(dialog)->window), 432, 210);
    EXPECT_TRUE(pump_until([] { return prefs.gui_dialog_width == 432 && prefs.gui_dialog_height == 210; }))
        << prefs.gui_dialog_width << "x" << prefs.gui_dialog_height;
    EXPECT_EQ(prefs.gui_win_width, main_width);

    mg_detach(dialog, 2);
    EXPECT_EQ(view_of(dialog), main_view);
    EXPECT_EQ(chanview_get_size(main_view->switcher), tabs + 1);
    fe_close_window(dialog);
    fe_close_window(chan);
    EXPECT_EQ(chanview_get_size(main_view->switcher), tabs);
}

// --- button rows ---------------------------------------------------------------------

using Buttons = MainWindow;

GtkWidget *button_labelled(GtkWidget *container, const char *label)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(container));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        if (GTK_IS_BUTTON(l->data) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(l->data)), label) == 0)
            found = GTK_WIDGET(l->data);
    g_list_free(children);
    return found;
}

// A button added with /ADDBUTTON appears at once and runs its command for
// each selected nick; a dialog button runs for the dialog's peer.
TEST_F(Buttons, AddedButtonsRunForTheSelectedNicksOrThePeer)
{
    prefs.gui_ulist_buttons = 1;
    session *chan = new_ircwindow(anchor->server, "#buttons", SESS_CHANNEL, 1);
    mg_bring_tofront_sess(chan);
    session_view *v = view_of(chan);
    message_tags_data tags;
    for (const char *nick : {"alice", "bob", "carol"})
        userlist_add(chan, nick, nullptr, nullptr, nullptr, &tags);
    chan->end_of_names = TRUE;
    fe_userlist_numbers(chan);
    ASSERT_TRUE(pump_until([&] { return gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist)) != nullptr; }));

    handle_command(chan, const_cast<char *>("ADDBUTTON Greet echo hello %s on %c"), false);
    GtkWidget *greet = button_labelled(v->ulist_buttons, "Greet");
    ASSERT_NE(greet, nullptr) << "the new button is there without reopening anything";
    EXPECT_TRUE(gtk_widget_get_visible(v->ulist_buttons));
    GtkTreeSelection *sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(v->userlist));
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist));
    GtkTreeIter it;
    for (bool ok = gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
        User *u = nullptr;
        gtk_tree_model_get(model, &it, 4, &u, -1);
        if (u && g_strcmp0(u->nick, "bob") != 0)
            gtk_tree_selection_select_iter(sel, &it);
    }
    gtk_button_clicked(GTK_BUTTON(greet));
    const std::string text = buffer_text(chan);
    EXPECT_NE(text.find("hello alice on #buttons"), std::string::npos) << text;
    EXPECT_NE(text.find("hello carol on #buttons"), std::string::npos) << text;
    EXPECT_EQ(text.find("hello bob"), std::string::npos) << "bob was not selected";
    EXPECT_FALSE(gtk_widget_get_visible(v->dialog_buttons)) << "dialog buttons only in dialogs";
    handle_command(chan, const_cast<char *>("DELBUTTON Greet"), false);
    EXPECT_EQ(button_labelled(v->ulist_buttons, "Greet"), nullptr);

    session *dialog = new_ircwindow(anchor->server, "dave", SESS_DIALOG, 1);
    mg_bring_tofront_sess(dialog);
    handle_command(dialog, const_cast<char *>("ADDBUTTON Peer echo peer is %s"), false);
    EXPECT_TRUE(gtk_widget_get_visible(v->dialog_buttons));
    GtkWidget *peer = button_labelled(v->dialog_buttons, "Peer");
    ASSERT_NE(peer, nullptr);
    gtk_button_clicked(GTK_BUTTON(peer));
    EXPECT_NE(buffer_text(dialog).find("peer is dave"), std::string::npos);
    list_delentry(&dlgbutton_list, "Peer");
    fe_dlgbuttons_update(dialog);
    prefs.gui_ulist_buttons = 0;
    fe_close_window(dialog);
    fe_close_window(chan);
}

// --- quit dialog -----------------------------------------------------------------------

std::string all_label_text(GtkWidget *w)
{
    std::string out;
    if (GTK_IS_LABEL(w))
        out += gtk_label_get_text(GTK_LABEL(w));
    if (GTK_IS_CONTAINER(w)) {
        GList *children = gtk_container_get_children(GTK_CONTAINER(w));
        for (GList *l = children; l; l = l->next)
            out += all_label_text(GTK_WIDGET(l->data));
        g_list_free(children);
    }
    return out;
}

// With no connection, a file still being received must not be dropped by
// quitting without a question.
TEST(QuitDialog, AnActiveTransferAsksBeforeQuitting)
{
    prefs.gui_quit_dialog = 1;
    auto *dcc = new DCC;
    dcc->kind = DCC_KIND_RECV;
    dcc->nick = "bob";
    dcc->file = "big.iso";
    dcc->status = STAT_ACTIVE;
    dcc_list = g_slist_prepend(dcc_list, dcc);
    mg_open_quit_dialog(false);
    GtkWidget *dialog = nullptr;
    ASSERT_TRUE(pump_until([&] { return (dialog = find_shown_titled("Quit Lumenwick?")) != nullptr; }));
    const std::string text = all_label_text(dialog);
    EXPECT_NE(text.find("Some file transfers are still active."), std::string::npos) << text;
    EXPECT_EQ(text.find("You are connected"), std::string::npos) << "no server is connected";
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(find_shown_titled("Quit Lumenwick?"), nullptr);
    dcc_list = g_slist_remove(dcc_list, dcc);
    delete dcc;
}

// --- topic bar -------------------------------------------------------------------------

// The point of the topic entry over byte `index` of its text.
void point_of(GtkWidget *entry, int index, int *x, int *y)
{
    PangoRectangle pos;
    const int layout_index = gtk_entry_text_index_to_layout_index(GTK_ENTRY(entry), index);
    pango_layout_index_to_pos(gtk_entry_get_layout(GTK_ENTRY(entry)), layout_index, &pos);
    int xo = 0, yo = 0;
    gtk_entry_get_layout_offsets(GTK_ENTRY(entry), &xo, &yo);
    *x = xo + PANGO_PIXELS(pos.x + pos.width / 2);
    *y = yo + PANGO_PIXELS(pos.y + pos.height / 2);
}

TEST_F(MainWindow, TopicFindsTheLinkUnderThePointer)
{
    session *chan = new_ircwindow(anchor->server, "#topic", SESS_CHANNEL, 1);
    mg_bring_tofront_sess(chan);
    char topic[] = "rules at (https://example.org/rules). be nice";
    fe_set_topic(chan, topic, topic);
    GtkWidget *entry = view_of(chan)->topic_entry;
    pump_for(50);
    const std::string text = topic;
    int x, y;
    point_of(entry, static_cast<int>(text.find("example")), &x, &y);
    EXPECT_EQ(mg_topic_url_at(entry, x, y), "https://example.org/rules") << "without the brackets and full stop";
    point_of(entry, static_cast<int>(text.find("nice")), &x, &y);
    EXPECT_EQ(mg_topic_url_at(entry, x, y), "");
    point_of(entry, static_cast<int>(text.find(" be")), &x, &y);
    EXPECT_EQ(mg_topic_url_at(entry, x, y), "") << "a blank is no word";
    fe_close_window(chan);
}

// --- replies ---------------------------------------------------------------------------

TEST_F(MainWindow, ReplyBarFollowsItsTabAndFallsBackWhereRepliesAreNotSupported)
{
    session *chan = new_ircwindow(anchor->server, "#reply", SESS_CHANNEL, 1);
    mg_bring_tofront_sess(chan);
    session_view *v = view_of(chan);
    const reply_target target{"msg1", "erin", "where is the <config>?"};
    mg_reply_set(chan, &target);
    EXPECT_TRUE(gtk_widget_get_visible(v->reply_bar));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->reply_label)),
                 "\u21aa Replying to erin \u00b7 where is the <config>?");
    mg_bring_tofront_sess(anchor);
    EXPECT_FALSE(gtk_widget_get_visible(v->reply_bar)) << "the server tab answers nothing";
    mg_bring_tofront_sess(chan);
    EXPECT_TRUE(gtk_widget_get_visible(v->reply_bar));

    // A command goes as typed and keeps the reply.
    type_line(v, "/echo just a command");
    EXPECT_NE(reply_state_get(chan), nullptr);
    // Not connected: a notice, then the line as usual; the reply is over.
    type_line(v, "hello");
    EXPECT_NE(buffer_text(chan).find("Replies are not supported on this server. Sending normally."), std::string::npos);
    EXPECT_EQ(reply_state_get(chan), nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(v->reply_bar));
    fe_close_window(chan);
}

// --- user lists in bursts -----------------------------------------------------------------

std::vector<std::string> list_nicks(session_view *v)
{
    std::vector<std::string> rows;
    GtkTreeModel *m = gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist));
    GtkTreeIter it;
    for (bool ok = m && gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
        User *u = nullptr;
        gtk_tree_model_get(m, &it, 4, &u, -1);
        rows.emplace_back(u ? u->nick : "?");
    }
    return rows;
}

// Someone who parts while the NAMES burst is still coming never shows (nor
// leaves a row pointing at a freed user), in the main window and in a
// window of its own.
TEST_F(MainWindow, PartDuringABurstLeavesNoRow)
{
    prefs.gui_ulist_sort = 0;
    for (const bool own_window : {false, true}) {
        session *chan = new_ircwindow(anchor->server, own_window ? "#burst-own" : "#burst", SESS_CHANNEL, 1);
        if (own_window)
            mg_detach(chan, 1);
        else
            mg_bring_tofront_sess(chan);
        session_view *v = view_of(chan);
        message_tags_data tags;
        chan->end_of_names = FALSE;
        userlist_burst_begin(chan);
        for (const char *name : {"zed", "@mallory", "bob", "+amy"})
            userlist_add(chan, name, nullptr, nullptr, nullptr, &tags);
        userlist_remove(chan, "mallory");
        userlist_add(chan, "carl", nullptr, nullptr, nullptr, &tags);
        userlist_burst_end(chan);
        chan->end_of_names = TRUE;
        fe_userlist_numbers(chan);
        ASSERT_TRUE(pump_until([&] { return gtk_tree_view_get_model(GTK_TREE_VIEW(v->userlist)) != nullptr; }));
        EXPECT_EQ(list_nicks(v), (std::vector<std::string>{"amy", "bob", "carl", "zed"}))
            << "own window " << own_window;
        // Lookups after the burst find the rows it made.
        userlist_remove(chan, "bob");
        EXPECT_EQ(list_nicks(v), (std::vector<std::string>{"amy", "carl", "zed"}));
        fe_close_window(chan);
    }
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv);
}
