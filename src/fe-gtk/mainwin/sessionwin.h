// The simple session window: one top-level window per session with a text
// area, a topic line, the input line and the network meters. It stands in
// for the tabbed main window; sess->view points to its session_view.
#pragma once

#include "support/gtk-handles.h"

#include <gtk/gtk.h>

#include <string>

struct session;
struct xtext_buffer;
struct server;

// One meter (lag or send queue): a bar and a label inside a box that carries
// the tooltip. Either part may be hidden by its setting.
struct meter_widgets {
    GtkWidget *box = nullptr;
    GtkWidget *bar = nullptr;
    GtkWidget *label = nullptr;
};

// The widgets of one session; owned by the session (freed in
// fe_session_callback), the widgets themselves by their window.
struct session_view {
    session *sess = nullptr;
    GtkWidget *window = nullptr; // null once the window is being destroyed
    GtkWidget *channel_label = nullptr;
    GtkWidget *topic_entry = nullptr;
    GtkWidget *text_view = nullptr; // a GtkXText
    xtext_buffer *buffer = nullptr; // the session's own; freed with the session
    GtkWidget *nick_label = nullptr;
    GtkWidget *input_entry = nullptr;
    GtkWidget *progress_bar = nullptr;
    source_id progress_pulse;
    meter_widgets lag;
    meter_widgets throttle;
    std::string lag_tooltip; // the last lag text, kept for when meters appear
};

// Per-server front-end record (serv->fe_record). The channel-list, raw-log
// and join windows do not exist yet; the record reserves their places.
struct server_gui {
    GtkWidget *chanlist_window;
    GtkWidget *rawlog_window;
    GtkWidget *join_dialog;
};

session_view *view_of(session *sess) noexcept;
// The top-level window of a session, or null.
GtkWindow *session_window(session *sess) noexcept;
// The window dialogs are placed over: the current session's, else any.
GtkWindow *main_window(void) noexcept;
// Sets the text views' font from text_font_main (text_font, "Sans 10" when empty).
void sessionwin_apply_font(void) noexcept;
// Re-applies the settings a session's window depends on (/GUI APPLY).
void sessionwin_apply_settings(session *sess);
