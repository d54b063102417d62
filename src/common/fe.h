// The seam between the core and a front end. The core declares every function
// here and calls nothing else of the user interface; each front end (GTK, text,
// the test recorder) defines all of them. Everything runs on the main thread.
#pragma once

#include "base/save_result.h"

#include <glib.h>

#include <ctime>

struct session;
struct server;
struct User;
struct DCC;
struct menu_entry;

// Activity levels of a tab; FE_COLOR_NO_OVERRIDE added keeps a higher level.
enum fe_activity {
    FE_COLOR_NONE = 0,
    FE_COLOR_NEW_DATA = 1,
    FE_COLOR_NEW_MSG = 2,
    FE_COLOR_NEW_HILIGHT = 3,
    FE_COLOR_NO_OVERRIDE = 8,
};

// Flags of fe_message. The dialog is info with FE_MSG_INFO, else error with
// FE_MSG_ERROR, else a warning.
enum fe_message_flags {
    FE_MSG_WAIT = 1,
    FE_MSG_INFO = 2,
    FE_MSG_WARN = 4,
    FE_MSG_ERROR = 8,
    FE_MSG_MARKUP = 16,
};

// Watch flags of fe_input_add.
enum fe_input_flags {
    FIA_READ = 1,
    FIA_WRITE = 2,
    FIA_EX = 4,
};

// The main-loop conditions a watch with these flags waits for: reading also
// wakes on hang-up and error, writing on error, exceptions on urgent data.
inline GIOCondition fe_watch_condition(int flags)
{
    int condition = 0;
    if (flags & FIA_READ)
        condition |= G_IO_IN | G_IO_HUP | G_IO_ERR;
    if (flags & FIA_WRITE)
        condition |= G_IO_OUT | G_IO_ERR;
    if (flags & FIA_EX)
        condition |= G_IO_PRI;
    return static_cast<GIOCondition>(condition);
}

// Events of fe_server_event.
enum fe_server_event_type {
    FE_SE_CONNECT = 0,
    FE_SE_LOGGEDIN = 1,
    FE_SE_DISCONNECT = 2,
    FE_SE_RECONDELAY = 3,
    FE_SE_CONNECTING = 4,
};

// Actions of fe_ctrl_gui.
enum fe_gui_action {
    FE_GUI_HIDE = 0,
    FE_GUI_SHOW = 1,
    FE_GUI_FOCUS = 2,
    FE_GUI_FLASH = 3,
    FE_GUI_COLOR = 4,
    FE_GUI_ICONIFY = 5,
    FE_GUI_MENU = 6,
    FE_GUI_ATTACH = 7,
    FE_GUI_APPLY = 8,
};

// Flags of fe_get_file.
enum fe_file_flags {
    FRF_WRITE = 1,
    FRF_MULTIPLE = 2,
    FRF_CHOOSEFOLDER = 8,
};

// Flags of fe_lastlog.
enum fe_lastlog_flags {
    LASTLOG_MATCHCASE = 1,
    LASTLOG_HIGHLIGHT = 4,
    LASTLOG_REGEXP = 16,
};

typedef int (*fe_timer_func)(void *user_data);
typedef int (*fe_idle_func)(void *user_data);
typedef gboolean (*fe_input_func)(GIOChannel *source, GIOCondition condition, void *user_data);
typedef void (*fe_str_callback)(int cancelled, char *text, void *user_data);
typedef void (*fe_int_callback)(int cancelled, int value, void *user_data);
typedef void (*fe_bool_callback)(int yes, void *user_data);
typedef void (*fe_file_callback)(void *user_data, char *file);
typedef void (*fe_confirm_callback)(void *user_data);

// Start-up, main loop and exit.
int fe_args(int argc, char *argv[]); // -1 to go on, else the exit code
void fe_init(void);
void fe_main(void);
void fe_exit(void);
void fe_cleanup(void);
save_result fe_preferences_persistence_save_all(void);
const char *fe_get_default_font(void); // null: keep the built-in font

// Timers, idle calls and descriptor watches; ids are never 0.
int fe_timeout_add(int interval_ms, fe_timer_func callback, void *user_data);
int fe_timeout_add_seconds(int interval_s, fe_timer_func callback, void *user_data);
void fe_timeout_remove(int tag);
void fe_idle_add(fe_idle_func callback, void *user_data);
int fe_input_add(int fd, int flags, fe_input_func callback, void *user_data);
void fe_input_remove(int tag);

// Sessions and windows.
void fe_new_window(struct session *sess, int focus);
void fe_new_server(struct server *serv);
void fe_session_callback(struct session *sess);
void fe_server_callback(struct server *serv);
void fe_close_window(struct session *sess);
void fe_set_title(struct session *sess);
void fe_set_channel(struct session *sess);
void fe_set_nonchannel(struct session *sess, int state);
void fe_clear_channel(struct session *sess);
void fe_set_topic(struct session *sess, char *topic, char *stripped_topic);
void fe_set_nick(struct server *serv, char *newnick);
void fe_set_away(struct server *serv);
void fe_update_channel_key(struct session *sess);
void fe_update_channel_limit(struct session *sess);
void fe_update_mode_buttons(struct session *sess, char mode, char sign);
void fe_buttons_update(struct session *sess);
void fe_dlgbuttons_update(struct session *sess);
void fe_ctrl_gui(struct session *sess, fe_gui_action action, int arg);
int fe_gui_info(struct session *sess, int info_type);
void *fe_gui_info_ptr(struct session *sess, int info_type);
void fe_flash_window(struct session *sess);
void fe_beep(void);
// Plays a sound file through the desktop's sound service; 0 when it could
// not, and the core then tries an external player.
int fe_play_sound(const char *file);
void fe_server_event(struct server *serv, int type, int arg);
void fe_progressbar_start(struct session *sess);
void fe_progressbar_end(struct server *serv);
void fe_set_lag(struct server *serv, long lag);
void fe_set_throttle(struct server *serv);
void fe_serverlist_open(struct session *sess);

// Text output.
void fe_print_text(struct session *sess, char *text, time_t stamp, gboolean no_activity);
void fe_text_clear(struct session *sess, int lines);
void fe_lastlog(struct session *sess, struct session *lastlog_sess, char *sstr, int flags);
void fe_add_rawlog(struct server *serv, char *text, int len, int outbound);
void fe_url_add(const char *text);
void fe_message(const char *msg, int flags);

// Input box.
const char *fe_get_inputbox_contents(struct session *sess);
int fe_get_inputbox_cursor(struct session *sess);
void fe_set_inputbox_contents(struct session *sess, char *text);
void fe_set_inputbox_cursor(struct session *sess, int delta, int pos);

// User list.
void fe_userlist_insert(struct session *sess, struct User *newuser, gboolean sel);
int fe_userlist_remove(struct session *sess, struct User *user);
void fe_userlist_rehash(struct session *sess, struct User *user);
void fe_userlist_numbers(struct session *sess);
void fe_userlist_clear(struct session *sess);
void fe_userlist_set_selected(struct session *sess);
void fe_uselect(struct session *sess, char *word[], int do_clear, int scroll_to);
void fe_set_typing(struct session *sess, const char *nick, const char *state);
void fe_userlist_update(struct session *sess, struct User *user);

// Channel list, ban lists, ignore, notify, plugin windows and menus.
void fe_open_chan_list(struct server *serv, char *filter, int do_refresh);
int fe_is_chanwindow(struct server *serv);
void fe_add_chan_list(struct server *serv, char *chan, char *users, char *topic);
void fe_chan_list_end(struct server *serv);
gboolean fe_add_ban_list(struct session *sess, char *mask, char *who, char *when, int rplcode);
gboolean fe_ban_list_end(struct session *sess, int rplcode);
void fe_ignore_update(int level);
void fe_notify_update(char *name);
void fe_notify_ask(char *name, char *networks);
void fe_pluginlist_update(void);
void fe_menu_add(struct menu_entry *me);
void fe_menu_del(struct menu_entry *me);
void fe_menu_update(struct menu_entry *me);

// DCC.
void fe_dcc_add(struct DCC *dcc);
void fe_dcc_update(struct DCC *dcc);
void fe_dcc_remove(struct DCC *dcc);
int fe_dcc_open_recv_win(int passive);
int fe_dcc_open_send_win(int passive);
int fe_dcc_open_chat_win(int passive);
void fe_dcc_send_filereq(struct session *sess, char *nick, int maxcps, int passive);
void fe_confirm(const char *message, fe_confirm_callback yesproc, fe_confirm_callback noproc, void *user_data);

// Questions to the user; callbacks always run later from the main loop.
void fe_get_str(char *prompt, char *def, fe_str_callback callback, void *user_data);
void fe_get_password(char *prompt, fe_str_callback callback, void *user_data);
void fe_get_int(char *prompt, int def, fe_int_callback callback, void *user_data);
void fe_get_bool(char *title, char *prompt, fe_bool_callback callback, void *user_data);
void fe_get_file(const char *title, char *initial, fe_file_callback callback, void *user_data, int flags);
void fe_open_url(const char *url);

// Tray.
void fe_tray_set_icon(int icon);
void fe_tray_set_flash(const char *filename1, const char *filename2, int timeout);
void fe_tray_set_file(const char *filename);
void fe_tray_set_tooltip(const char *text);
