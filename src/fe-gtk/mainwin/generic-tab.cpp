// Utility windows as pages of the main window or as windows of their own.
#include "mainwin/generic-tab.h"

#include "mainwin/layout.h"
#include "mainwin/maingui.h"
#include "switcher/chanview.h"

#include "base/guard.h"
#include "config/cfgfiles.h"

#include <string>

namespace
{

// The switcher position that hides it (no row can be picked there).
constexpr int SWITCHER_HIDDEN = 7;

constexpr const char *KEY_CHAN = "lumenwick-generic-chan";
constexpr const char *KEY_TITLE = "lumenwick-generic-title";
constexpr const char *KEY_WANT_FRONT = "lumenwick-generic-front";

chan *chan_of(GtkWidget *frame)
{
    return static_cast<chan *>(g_object_get_data(G_OBJECT(frame), KEY_CHAN));
}

gboolean close_on_escape(GtkWidget *frame, GdkEventKey *event, gpointer) noexcept
{
    if (event->keyval != GDK_KEY_Escape)
        return FALSE;
    guarded("closing a utility window", [&] { gtk_widget_destroy(frame); });
    return TRUE;
}

void page_destroyed(GtkWidget *page, gpointer) noexcept
{
    guarded("closing a utility tab", [&] {
        chan *ch = chan_of(page);
        g_object_set_data(G_OBJECT(page), KEY_CHAN, nullptr);
        session_view *v = mg_shared_view();
        // With the whole window going, the switcher and its rows are gone first.
        if (!ch || !v || !v->switcher)
            return;
        const bool was_focused = v->switcher->model.focused == ch;
        chan_remove(ch, true);
        // The last row gone leaves nothing to focus: the chat page at least shows.
        if (was_focused && v->notebook && v->switcher->model.focused == nullptr)
            mg_generic_tab_show_chat(*v);
    });
}

// A page can only be shown once it is visible, which its opener does after
// filling it.
void page_shown(GtkWidget *page, gpointer) noexcept
{
    guarded("showing a utility tab", [&] {
        if (!g_object_get_data(G_OBJECT(page), KEY_WANT_FRONT))
            return;
        g_object_set_data(G_OBJECT(page), KEY_WANT_FRONT, nullptr);
        if (chan *ch = chan_of(page))
            chan_focus(ch);
    });
}

GtkWidget *new_window(const char *name, const char *title, int width, int height)
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), title);
    gtk_window_set_role(GTK_WINDOW(window), name);
    gtk_widget_set_name(window, name);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    gtk_container_set_border_width(GTK_CONTAINER(window), 6);
    g_signal_connect(window, "key-press-event", G_CALLBACK(close_on_escape), nullptr);
    return window;
}

GtkWidget *new_page(session_view &v, const char *name, const char *title)
{
    // The text area may shrink below what a utility's content asks for (the
    // channel list's columns, the transfers' buttons): the page scrolls then
    // instead of spilling under the switcher.
    GtkWidget *page = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(page), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_name(page, name);
    gtk_container_set_border_width(GTK_CONTAINER(page), 6);
    g_object_set_data_full(G_OBJECT(page), KEY_TITLE, g_strdup(title), g_free);
    g_signal_connect(page, "key-press-event", G_CALLBACK(close_on_escape), nullptr);
    gtk_notebook_append_page(GTK_NOTEBOOK(v.notebook), page, nullptr);
    chan *ch = chanview_add(v.switcher, name, nullptr, page, false, 1, TAB_ICON_UTILITY);
    g_object_set_data(G_OBJECT(page), KEY_CHAN, ch);
    if (prefs.gui_tab_newtofront)
        g_object_set_data(G_OBJECT(page), KEY_WANT_FRONT, GINT_TO_POINTER(1));
    g_signal_connect(page, "show", G_CALLBACK(page_shown), nullptr);
    g_signal_connect(page, "destroy", G_CALLBACK(page_destroyed), nullptr);
    return page;
}

} // namespace

bool mg_utility_tabs_wanted(void) noexcept
{
    session_view *v = mg_shared_view();
    return prefs.gui_tab_utils && prefs.gui_tab_pos != SWITCHER_HIDDEN && v && v->window && v->notebook && v->switcher;
}

GtkWidget *mg_create_generic_tab(const char *name, const char *title, int width, int height)
{
    if (!mg_utility_tabs_wanted())
        return new_window(name, title, width, height);
    return new_page(*mg_shared_view(), name, title);
}

bool mg_is_generic_tab(GtkWidget *frame) noexcept
{
    return frame && !GTK_IS_WINDOW(frame);
}

void mg_generic_tab_present(GtkWidget *frame)
{
    if (!frame)
        return;
    if (GTK_IS_WINDOW(frame)) {
        gtk_window_present(GTK_WINDOW(frame));
        return;
    }
    if (chan *ch = chan_of(frame))
        chan_focus(ch);
    if (GtkWindow *window = mg_generic_tab_parent(frame))
        gtk_window_present(window);
}

void mg_generic_tab_set_title(GtkWidget *frame, const char *title)
{
    if (!frame || !title)
        return;
    if (GTK_IS_WINDOW(frame)) {
        gtk_window_set_title(GTK_WINDOW(frame), title);
        return;
    }
    g_object_set_data_full(G_OBJECT(frame), KEY_TITLE, g_strdup(title), g_free);
    session_view *v = mg_shared_view();
    if (v && v->switcher && v->switcher->model.focused == chan_of(frame) && v->window)
        gtk_window_set_title(GTK_WINDOW(v->window), title);
}

GtkWindow *mg_generic_tab_parent(GtkWidget *frame) noexcept
{
    if (!frame)
        return nullptr;
    GtkWidget *top = gtk_widget_get_toplevel(frame);
    return GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

GtkWidget *mg_generic_tab_notebook(GtkWidget *chat)
{
    GtkWidget *notebook = gtk_notebook_new();
    gtk_widget_set_name(notebook, "lumenwick-notebook");
    gtk_notebook_set_show_tabs(GTK_NOTEBOOK(notebook), FALSE);
    gtk_notebook_set_show_border(GTK_NOTEBOOK(notebook), FALSE);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook), chat, nullptr);
    return notebook;
}

void mg_generic_tab_focus(session_view &v, chan *ch)
{
    auto *page = static_cast<GtkWidget *>(ch->userdata);
    if (!v.notebook || !GTK_IS_WIDGET(page))
        return;
    const int n = gtk_notebook_page_num(GTK_NOTEBOOK(v.notebook), page);
    if (n < 0)
        return;
    gtk_notebook_set_current_page(GTK_NOTEBOOK(v.notebook), n);
    // The user list belongs to the chat; it comes back with a session's tab.
    if (v.userlist_box)
        layout_show_userlist(v, false);
    if (const char *title = static_cast<const char *>(g_object_get_data(G_OBJECT(page), KEY_TITLE)))
        gtk_window_set_title(GTK_WINDOW(v.window), title);
    gtk_widget_child_focus(page, GTK_DIR_TAB_FORWARD);
}

void mg_generic_tab_show_chat(session_view &v)
{
    if (v.notebook && gtk_notebook_get_current_page(GTK_NOTEBOOK(v.notebook)) != 0)
        gtk_notebook_set_current_page(GTK_NOTEBOOK(v.notebook), 0);
}

void mg_generic_tab_close(chan *ch)
{
    if (ch && ch->tag == 1 && GTK_IS_WIDGET(ch->userdata))
        gtk_widget_destroy(static_cast<GtkWidget *>(ch->userdata));
}
