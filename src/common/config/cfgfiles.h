// The settings record `prefs`, the table `vars` that describes it, the
// configuration directory and the `name = value` line helpers.
#pragma once

#include "base/lumenwick.h"
#include "base/save_result.h"

#include <cstddef>
#include <cstdio>
#include <string>

struct session;

// Every user setting. Integers and booleans are 32-bit ints, texts fixed
// NUL-terminated arrays. Field order follows the settings table.
struct lumenwick_prefs {
    int away_auto_unmark;
    int away_omit_alerts;
    char away_reason[256];
    int away_show_once;
    int away_size_max;
    int away_timeout;
    int away_track;
    int completion_amount;
    int completion_auto;
    int completion_sort;
    char completion_suffix[4];
    int dcc_auto_chat;
    int dcc_auto_recv;
    int dcc_auto_resume;
    int dcc_blocksize;
    char dcc_completed_dir[256];
    char dcc_dir[256];
    int dcc_fast_send;
    int dcc_global_max_get_cps;
    int dcc_global_max_send_cps;
    char dcc_ip[101];
    int dcc_ip_from_server;
    int dcc_max_get_cps;
    int dcc_max_send_cps;
    int dcc_permissions;
    int dcc_port_first;
    int dcc_port_last;
    int dcc_remove;
    int dcc_save_nick;
    int dcc_send_fillspaces;
    int dcc_stall_timeout;
    int dcc_timeout;
    int flood_ctcp_num;
    int flood_ctcp_time;
    int flood_msg_num;
    int flood_msg_time;
    int gui_autoopen_chat;
    int gui_autoopen_dialog;
    int gui_autoopen_recv;
    int gui_autoopen_send;
    int gui_chanlist_maxusers;
    int gui_chanlist_minusers;
    int gui_chanlist_width_channel;
    int gui_chanlist_width_topic;
    int gui_chanlist_width_users;
    int gui_compact;
    int gui_ctrlq_quit;
    int gui_dialog_height;
    int gui_dialog_left;
    int gui_dialog_top;
    int gui_dialog_width;
    int gui_filesize_iec;
    int gui_focus_omitalerts;
    int gui_hide_menu;
    int gui_input_attr;
    int gui_input_icon;
    int gui_input_nick;
    int gui_input_spell;
    int gui_input_style;
    int gui_join_dialog;
    int gui_lagometer;
    int gui_lang;
    int gui_mode_buttons;
    int gui_mode_buttons_inline;
    int gui_pane_divider_position;
    int gui_pane_left_size;
    int gui_pane_right_size;
    int gui_pane_right_size_min;
    int gui_quit_dialog;
    int gui_search_pos;
    int gui_slist_fav;
    int gui_slist_select;
    int gui_slist_skip;
    int gui_tab_chans;
    int gui_tab_dialogs;
    int gui_tab_dots;
    int gui_tab_icons;
    int gui_dark_mode;
    int gui_gtk3_variant;
    int gui_tab_layout;
    int gui_tab_closebuttons;
    int gui_tab_middleclose;
    int gui_mouse_scroll_speed;
    int gui_tab_newtofront;
    int gui_tab_pos;
    int gui_tab_scrollchans;
    int gui_tab_server;
    int gui_tab_small;
    int gui_tab_sort;
    int gui_tab_trunc;
    int gui_tab_utils;
    int gui_throttlemeter;
    int gui_topicbar;
    int gui_topicbar_multiline;
    int gui_transparency;
    int gui_tray;
    int gui_tray_away;
    int gui_tray_blink;
    int gui_tray_close;
    int gui_tray_minimize;
    int gui_tray_quiet;
    int gui_ulist_buttons;
    int gui_ulist_color;
    int gui_ulist_count;
    char gui_ulist_doubleclick[256];
    int gui_ulist_hide;
    int gui_ulist_icons;
    int gui_ulist_pos;
    int gui_ulist_nick_width;
    int gui_ulist_host_width;
    int gui_ulist_show_hosts;
    int gui_ulist_sort;
    int gui_ulist_style;
    int gui_url_mod;
    int gui_usermenu;
    int gui_win_height;
    int gui_win_fullscreen;
    int gui_win_left;
    int gui_win_modes;
    int gui_win_nick;
    int gui_win_save;
    int gui_win_state;
    int gui_win_swap;
    int gui_win_top;
    int gui_win_ucount;
    int gui_win_width;
    char gui_gtk3_theme[256];
    int identd_server;
    int identd_port;
    int input_balloon_chans;
    int input_balloon_hilight;
    int input_balloon_priv;
    int input_beep_chans;
    int input_beep_hilight;
    int input_beep_priv;
    char input_command_char[4];
    int input_filter_beep;
    int input_flash_chans;
    int input_flash_hilight;
    int input_flash_priv;
    int input_perc_ascii;
    int input_perc_color;
    int input_tray_chans;
    int input_tray_hilight;
    int input_tray_priv;
    int irc_auto_rejoin;
    int irc_reconnect_rejoin;
    int irc_ban_type;
    int irc_cap_server_time;
    int irc_conf_mode;
    char irc_extra_hilight[300];
    int irc_hide_nickchange;
    int irc_hide_join_part_hostmask;
    int irc_hide_version;
    int irc_hidehost;
    char irc_id_ntext[64];
    char irc_id_ytext[64];
    int irc_invisible;
    int irc_join_delay;
    int irc_logging;
    char irc_logmask[256];
    char irc_nick1[64];
    char irc_nick2[64];
    char irc_nick3[64];
    char irc_nick_hilight[300];
    char irc_no_hilight[300];
    int irc_notice_pos;
    char irc_part_reason[256];
    char irc_quit_reason[256];
    int irc_raw_modes;
    char irc_real_name[127];
    int irc_servernotice;
    int irc_skip_motd;
    char irc_user_name[127];
    int irc_wallops;
    int irc_who_join;
    int irc_whois_front;
    int net_auto_reconnect;
    int net_auto_reconnectonfail;
    char net_bind_host[127];
    int net_ping_timeout;
    int net_lag_check;
    int net_keepalive_idle;
    int net_keepalive_interval;
    int net_keepalive_count;
    int net_proxy_auth;
    char net_proxy_host[64];
    char net_proxy_pass[256];
    int net_proxy_port;
    int net_proxy_type;
    int net_proxy_use;
    char net_proxy_user[256];
    int net_reconnect_delay;
    int net_throttle;
    int notify_timeout;
    int notify_whois_online;
    int perl_warnings;
    int stamp_log;
    char stamp_log_format[64];
    int stamp_text;
    char stamp_text_format[64];
    int text_autocopy_color;
    int text_autocopy_stamp;
    int text_autocopy_text;
    char text_background[256];
    int text_color_nicks;
    char text_font[509];
    char text_font_main[128];
    char text_font_alternative[382];
    int text_indent;
    int text_max_indent;
    int text_max_lines;
    int text_replay;
    int text_search_case_match;
    int text_search_highlight_all;
    int text_search_follow;
    int text_search_regexp;
    int text_show_marker;
    int text_show_sep;
    char text_spell_langs[64];
    int text_stripcolor_msg;
    int text_stripcolor_replay;
    int text_stripcolor_topic;
    int text_thin_sep;
    int text_transparent;
    int text_wordwrap;
    int url_grabber;
    int url_grabber_limit;
    int url_logging;

    // Not in the table, never saved.
    int wait_on_exit; // a connection completed: pause 2 s at exit
    int save_pevents; // the text events were changed
    int slist_select; // network selected in the network list
};

extern lumenwick_prefs prefs;

enum setting_type { TYPE_STR = 0, TYPE_INT = 1, TYPE_BOOL = 2 };

// One row of the settings table. `offset` is the byte position of a text,
// or the index of the 32-bit slot of an integer or boolean.
struct prefs_row {
    const char *name;
    unsigned short offset;
    unsigned short len;
    unsigned short type;
    void (*after_update)(void);
    // The default: `default_value` for integers and booleans, `default_text`
    // (a msgid, translated when loaded; null: empty) for texts. Defaults that
    // depend on the user or the desktop are set by load_default_config.
    int default_value = 0;
    const char *default_text = nullptr;
};

// Called when a setting that drives the core timers changed; start-up
// installs the function that re-arms them (null: nothing to re-arm).
extern void (*cfg_timers_changed)(void);

// The table, terminated by a row whose name is null.
extern const prefs_row vars[];
inline constexpr int SETTINGS_COUNT = 229;

// The configuration directory (computed on first use; no trailing slash).
const char *get_xdir(void);
// Sets the configuration directory (one trailing "/" removed), replacing any
// earlier one; start-up passes only the first -d/--cfgdir.
void set_xdir(const char *dir);
// 0 when the configuration directory exists.
int check_config_dir(void);
// Creates the directory (0700, with parents), "addons" and "sounds"; 0 or -1.
int make_config_dirs(void);
// Creates dcc_dir and dcc_completed_dir (0700); 0 or -1.
int make_dcc_dirs(void);

// Every setting to its default; `default_font` is the front end's text font
// (null or empty: the built-in one).
void load_default_config(const char *default_font = nullptr);
// 0 on success, -1 when lumenwick.conf cannot be read.
int load_config(const char *default_font = nullptr);
// Loads the defaults, then applies `len` bytes of settings-file text (any
// bytes at all) exactly as load_config does with the file's content.
void load_config_from_text(const char *text, std::size_t len, const char *default_font = nullptr);
// 1 on success, 0 on failure (the old file then stays in place).
int save_config(void);
// Two-phase save: writes "lumenwick.conf.new"; on success returns 1 and the
// temporary path (g_free it). finalize renames it into place (1 on success).
int save_config_prepare(char **temp_path);
int save_config_finalize(const char *temp_path);
void save_config_discard(const char *temp_path);

// The colours file's side of the combined save (the same two phases).
struct colors_saver {
    int (*prepare)(char **temp_path);
    int (*finalize)(const char *temp_path);
    void (*discard)(const char *temp_path);
};

// Saves the settings and, when given, the colours so that neither file is
// replaced unless both could be written: prepare both, then finalize both,
// stopping at the first failure; the temporary files never outlive the call.
save_result save_config_with_colors(const colors_saver *colors);

// Line helpers for `name = value` files; `text` is the whole file.
char *cfg_get_str(char *text, const char *name, char *dest, int dest_len);
int cfg_get_int(char *text, const char *name);
int cfg_get_int_with_result(char *text, const char *name, int *found);
int cfg_get_color(char *text, const char *name, guint16 *r, guint16 *g, guint16 *b);
int cfg_put_int(int fd, int value, const char *name);
int cfg_put_color(int fd, guint16 r, guint16 g, guint16 b, const char *name);
int cfg_put_str(int fd, const char *name, const char *value);
// The value of the integer or boolean setting `name`, -1 when none.
int cfg_get_bool(const char *name);

// The integer slot or the text array of `row` inside prefs.
int *cfg_row_int(const prefs_row &row);
char *cfg_row_text(const prefs_row &row);
// Stores `len` bytes of a value (any bytes; cut at a NUL) into `dest` of
// `size` bytes as valid UTF-8, never splitting a character.
void cfg_store_value(char *dest, std::size_t size, const char *src, std::size_t len);
// A decimal integer, clamped to the int range (0 when there is none).
int cfg_parse_int(const char *text);
// The line that shows a setting: name, dots, colon, value and a newline.
std::string cfg_show_setting(const prefs_row &row);

// Option bits of lumenwick_open_file / lumenwick_fopen_file.
enum { XOF_DOMODE = 1, XOF_FULLPATH = 2 };
// Opens a file named relative to the configuration directory.
int lumenwick_open_file(const char *file, int flags, int mode, int xof_flags);
FILE *lumenwick_fopen_file(const char *file, const char *mode, int xof_flags);
