// The main window: every session is a tab of one window sharing one set of
// widgets (the session view). A session that is not in front keeps what
// changed for it in its tab state (tabstate.h) and gets it shown when it
// comes to front. sess->view points at the shared view, sess->tab_state at
// the session's own state.
#pragma once

#include "mainwin/tabstate.h"
#include "support/gtk-handles.h"

#include <gtk/gtk.h>

#include <string>

struct session;
struct server;
struct chanview;

// One meter (lag or send queue): a bar and a label inside a box that carries
// the tooltip. Either part may be hidden by its setting.
struct meter_widgets {
    GtkWidget *box = nullptr;
    GtkWidget *bar = nullptr;
    GtkWidget *label = nullptr;
};

struct session_view {
    GtkWidget *window = nullptr; // null once the window is being destroyed
    session *owner = nullptr;    // the session of a window of its own; null for the main window
    GtkWidget *grid = nullptr;
    // Panes: left column (upper/lower), right column, and the outer ones.
    GtkWidget *hpane_left = nullptr;
    GtkWidget *hpane_right = nullptr;
    GtkWidget *vpane_left = nullptr;
    GtkWidget *vpane_right = nullptr;
    GtkWidget *center = nullptr;   // the notebook between the switcher's top and bottom slots
    GtkWidget *notebook = nullptr; // page 0 the chat (topic bar, text, input), then utility tabs
    GtkWidget *chat = nullptr;
    GtkWidget *slot_top = nullptr;    // switcher at position 5
    GtkWidget *slot_bottom = nullptr; // switcher at position 6
    GtkWidget *topic_bar = nullptr;
    GtkWidget *topic_entry = nullptr;
    GtkWidget *mode_box = nullptr;
    GtkWidget *mode_buttons[MODE_BUTTONS] = {};
    GtkWidget *dialog_buttons = nullptr; // dlgbuttons.conf, dialogs only
    GtkWidget *ulist_buttons = nullptr;  // buttons.conf under the user list
    GtkWidget *key_entry = nullptr;
    GtkWidget *limit_entry = nullptr;
    GtkWidget *text_view = nullptr; // a GtkXText
    GtkWidget *text_scroll = nullptr;
    GtkWidget *userlist_box = nullptr;
    GtkWidget *userlist = nullptr; // GtkTreeView
    GtkWidget *user_count = nullptr;
    GtkWidget *nick_button = nullptr;
    GtkWidget *input_entry = nullptr;
    GtkWidget *input_row = nullptr;
    GtkWidget *reply_bar = nullptr; // shown while answering a message
    GtkWidget *reply_label = nullptr;
    GtkWidget *progress_bar = nullptr;
    source_id progress_pulse;
    meter_widgets lag;
    meter_widgets throttle;
    chanview *switcher = nullptr;
    bool ignore_mode_toggles = false; // set while buttons are set from the state
    bool userlist_hidden = false;
};

// Per-server front-end record (serv->fe_record). The channel-list, raw-log
// and join windows belong to their own windows' code.
struct server_gui {
    GtkWidget *chanlist_window;
    int chanlist_min_users; // the minimum last used in this server's list, 0: none yet
    GtkWidget *rawlog_window;
    GtkWidget *join_dialog;
};

session_view *view_of(session *sess) noexcept;
tab_state *tab_of(session *sess) noexcept;
// Whether the session is shown now: the tab in front of the main window, or
// a session in a window of its own.
bool is_front(session *sess) noexcept;
// The session a widget's window shows (the tab in front for the main window).
session *mg_session_of_widget(GtkWidget *widget) noexcept;
// The main window when the session has a view, or null.
GtkWindow *session_window(session *sess) noexcept;
// The window dialogs are placed over.
GtkWindow *main_window(void) noexcept;
// Sets the text view's font from text_font_main (text_font, "Sans 10" when empty).
void sessionwin_apply_font(void) noexcept;
// Re-applies the settings a session's window depends on (/GUI APPLY).
void sessionwin_apply_settings(session *sess);

// Builds the chat part of a view into v.chat: topic bar with mode buttons,
// text view, input row, and the user list (packed by the caller).
void mg_build_chat(session_view &v);
// Shows a session in a view and applies what its tab state kept.
void mg_show_session(session_view &v, session *sess);

// Detaching and attaching (detach.cpp): mode 1 gives a tabbed session a
// window of its own, 2 puts a windowed one back as a tab, 0 toggles;
// requests that do not apply are ignored.
void mg_detach(session *sess, int mode);
bool mg_is_detached(session *sess) noexcept;
// Closes a freed session's own window (from fe_session_callback).
void mg_detached_free(session *sess);
// A new session that gets a window of its own (gui_tab_chans / gui_tab_dialogs off).
void mg_new_detached(session *sess);
// Removes a session's row from the switcher (detaching, closing); the main
// window goes when no tabbed session is left.
void mg_untab(session *sess);
// Gives a session a tab again and shows it.
void mg_retab(session *sess);

// Brings a session's tab to front.
void mg_bring_tofront_sess(session *sess);
void mg_switch_page(bool relative, int number);
void mg_set_title(session *sess);
void mg_tab_close(session *sess);
void mg_close_sess(session *sess);
void mg_reopen_closed_channel_tab(void);
void mg_open_quit_dialog(bool offer_minimize);
void mg_change_layout(int type);
void mg_apply_setup(void);
// Tab colour by activity level (0..3, plus 8: keep a higher level).
void mg_set_tab_color(session *sess, int level);
session_view *mg_shared_view(void) noexcept;
// Links in the topic bar (topic-click.cpp): the URL or host under the
// entry's point (x, y) in its own coordinates, or empty; and the handlers.
std::string mg_topic_url_at(GtkWidget *entry, int x, int y);
void mg_topic_connect(GtkWidget *entry);
// The typing-notice sender on the input line (typing.cpp).
void typing_connect(GtkWidget *entry);
// Window geometry saved in the settings (geometry.cpp).
void geometry_connect(GtkWidget *window);
// The same for a dialog session's own window (gui_dialog_left/top/width/height).
void geometry_connect_dialog(GtkWidget *window);
// The tab in front, or null.
session *mg_front_session(void) noexcept;
// The switcher's compare rule: server first, then channels by name, then the rest.
int mg_tab_compare(session *a, session *b);
