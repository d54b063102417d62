// Sessions in windows of their own: detaching a tab into a window, putting
// it back, and channels or dialogs that open in a window of their own
// (gui_tab_chans, gui_tab_dialogs). Such a window has its own view with the
// session's buffer and user list; closing it closes the session.
#include "mainwin/maingui.h"
#include "textview/gtkxtext.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "plugins/plugin.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <memory>
#include <utility>

namespace
{

constexpr const char *KEY_VIEW = "lumenwick-session-view";
constexpr int OPAQUE = 255;

void on_destroy(GtkWidget *, gpointer data) noexcept
{
    guarded("own window destroy", [&] {
        auto *v = static_cast<session_view *>(data);
        v->window = nullptr;
        v->progress_pulse.reset();
        if (v->userlist_box) {
            g_object_unref(std::exchange(v->userlist_box, nullptr));
            v->userlist = nullptr;
        }
        // Closing the window closes its session (which frees v through
        // mg_detached_free); attaching and freeing cleared the owner first.
        if (session *sess = v->owner; sess && is_session(sess))
            session_free(sess);
    });
}

gboolean on_delete(GtkWidget *, GdkEvent *, gpointer) noexcept
{
    return guarded<gboolean>("own window close", FALSE, [&]() -> gboolean {
        // The last session's window asks before quitting, like the main window.
        if (sess_list && !sess_list->next) {
            mg_open_quit_dialog(true);
            return TRUE;
        }
        return FALSE;
    });
}

gboolean on_focus_in(GtkWidget *window, GdkEvent *, gpointer data) noexcept
{
    guarded("own window focus", [&] {
        gtk_window_set_urgency_hint(GTK_WINDOW(window), FALSE);
        auto *v = static_cast<session_view *>(data);
        if (session *sess = v->owner; sess && is_session(sess)) {
            current_sess = sess;
            sess->server->recent_session = sess;
            plugin_emit_dummy_print(sess, "Focus Window");
        }
    });
    return FALSE;
}

session_view *build(session *sess)
{
    auto v = std::make_unique<session_view>();
    v->owner = sess;
    v->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow *window = GTK_WINDOW(v->window);
    gtk_widget_set_name(v->window, "lumenwick-window");
    gtk_window_set_title(window, DISPLAY_NAME);
    if (sess->type == SESS_DIALOG) {
        gtk_window_set_default_size(window, prefs.gui_dialog_width, prefs.gui_dialog_height);
        geometry_connect_dialog(v->window);
    } else
        gtk_window_set_default_size(window, prefs.gui_win_width, prefs.gui_win_height);
    if (prefs.gui_transparency > 0 && prefs.gui_transparency < OPAQUE)
        gtk_widget_set_opacity(v->window, prefs.gui_transparency / double(OPAQUE));

    v->grid = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(v->window), v->grid);
    mg_build_chat(*v);
    GtkWidget *pane = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_paned_pack1(GTK_PANED(pane), v->chat, TRUE, TRUE);
    gtk_paned_pack2(GTK_PANED(pane), v->userlist_box, FALSE, FALSE);
    gtk_box_pack_start(GTK_BOX(v->grid), pane, TRUE, TRUE, 0);

    session_view *raw = v.release();
    g_object_set_data(G_OBJECT(raw->window), KEY_VIEW, raw);
    g_signal_connect(raw->window, "destroy", G_CALLBACK(on_destroy), raw);
    g_signal_connect(raw->window, "delete-event", G_CALLBACK(on_delete), raw);
    g_signal_connect(raw->window, "focus-in-event", G_CALLBACK(on_focus_in), raw);
    return raw;
}

// Destroys a view's window and the user-list box it holds a reference to.
void destroy_window(session_view &v)
{
    if (GtkWidget *window = std::exchange(v.window, nullptr))
        gtk_widget_destroy(window);
    if (v.userlist_box) {
        g_object_unref(std::exchange(v.userlist_box, nullptr));
        v.userlist = nullptr;
    }
}

void show(session_view &v, session *sess)
{
    gtk_widget_show_all(v.window);
    mg_show_session(v, sess);
    gtk_widget_grab_focus(v.input_entry);
}

void detach(session *sess)
{
    tab_state *t = tab_of(sess);
    session_view *main_view = view_of(sess);
    // The half-typed line goes along.
    if (is_front(sess) && main_view->input_entry) {
        const char *text = gtk_entry_get_text(GTK_ENTRY(main_view->input_entry));
        if (*text)
            t->saved.input = text;
    }
    session_view *v = build(sess);
    gtk_xtext_buffer_move(t->buffer, GTK_XTEXT(v->text_view));
    mg_untab(sess);
    sess->view = v;
    show(*v, sess);
}

void attach(session *sess)
{
    tab_state *t = tab_of(sess);
    session_view *v = view_of(sess);
    const char *text = gtk_entry_get_text(GTK_ENTRY(v->input_entry));
    if (*text)
        t->saved.input = text;
    v->owner = nullptr; // the window goes, the session stays
    if (v->userlist)
        gtk_tree_view_set_model(GTK_TREE_VIEW(v->userlist), nullptr);
    mg_retab(sess);
    std::unique_ptr<session_view> owned(v);
    destroy_window(*v);
}

} // namespace

bool mg_is_detached(session *sess) noexcept
{
    session_view *v = view_of(sess);
    return v && v->owner == sess;
}

void mg_detach(session *sess, int mode)
{
    if (!sess || !is_session(sess) || !tab_of(sess) || !view_of(sess))
        return;
    const bool detached = mg_is_detached(sess);
    if (mode == 0)
        mode = detached ? 2 : 1;
    if (mode == 1 && !detached)
        detach(sess);
    else if (mode == 2 && detached)
        attach(sess);
}

void mg_new_detached(session *sess)
{
    session_view *v = build(sess);
    sess->view = v;
    tab_of(sess)->buffer = gtk_xtext_buffer_new(GTK_XTEXT(v->text_view));
    show(*v, sess);
}

void mg_detached_free(session *sess)
{
    session_view *v = view_of(sess);
    if (!v || v->owner != sess)
        return;
    v->owner = nullptr;
    sess->view = nullptr;
    if (v->userlist)
        gtk_tree_view_set_model(GTK_TREE_VIEW(v->userlist), nullptr);
    std::unique_ptr<session_view> owned(v);
    destroy_window(*v);
}
