// The settings record and its table, the configuration directory, reading
// and writing lumenwick.conf, and the `name = value` helpers shared by the
// other configuration files.
#include "config/cfgfiles.h"

#include "base/atomicfile.h"
#include "base/util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

lumenwick_prefs prefs;

#define P_OFFINT(field) (offsetof(lumenwick_prefs, field) / sizeof(int))
#define P_OFFSETTEXT(field) offsetof(lumenwick_prefs, field)

// Row offsets are stored in 16 bits.
static_assert(sizeof(lumenwick_prefs) < 65536, "settings record outgrew the table's offsets");
static_assert(sizeof(int) == 4, "integer settings are 32-bit slots");

void (*cfg_timers_changed)(void);

namespace
{
void timers_changed(void)
{
    if (cfg_timers_changed)
        cfg_timers_changed();
}
} // namespace

const prefs_row vars[] = {
    {"away_auto_unmark", P_OFFINT(away_auto_unmark), 0, TYPE_BOOL, nullptr},
    {"away_omit_alerts", P_OFFINT(away_omit_alerts), 0, TYPE_BOOL, nullptr},
    {"away_reason", P_OFFSETTEXT(away_reason), sizeof(prefs.away_reason), TYPE_STR, nullptr, 0, N_("I'm busy")},
    {"away_show_once", P_OFFINT(away_show_once), 0, TYPE_BOOL, nullptr, 1},
    {"away_size_max", P_OFFINT(away_size_max), 0, TYPE_INT, nullptr, 300},
    {"away_timeout", P_OFFINT(away_timeout), 0, TYPE_INT, nullptr, 60},
    {"away_track", P_OFFINT(away_track), 0, TYPE_BOOL, nullptr, 1},
    {"completion_amount", P_OFFINT(completion_amount), 0, TYPE_INT, nullptr, 5},
    {"completion_auto", P_OFFINT(completion_auto), 0, TYPE_BOOL, nullptr},
    {"completion_sort", P_OFFINT(completion_sort), 0, TYPE_INT, nullptr, 1},
    {"completion_suffix", P_OFFSETTEXT(completion_suffix), sizeof(prefs.completion_suffix), TYPE_STR, nullptr, 0, ","},
    {"dcc_auto_chat", P_OFFINT(dcc_auto_chat), 0, TYPE_BOOL, nullptr},
    {"dcc_auto_recv", P_OFFINT(dcc_auto_recv), 0, TYPE_INT, nullptr, 1},
    {"dcc_auto_resume", P_OFFINT(dcc_auto_resume), 0, TYPE_BOOL, nullptr, 1},
    {"dcc_blocksize", P_OFFINT(dcc_blocksize), 0, TYPE_INT, nullptr, 1024},
    {"dcc_completed_dir", P_OFFSETTEXT(dcc_completed_dir), sizeof(prefs.dcc_completed_dir), TYPE_STR, nullptr},
    {"dcc_dir", P_OFFSETTEXT(dcc_dir), sizeof(prefs.dcc_dir), TYPE_STR, nullptr},
    {"dcc_fast_send", P_OFFINT(dcc_fast_send), 0, TYPE_BOOL, nullptr, 1},
    {"dcc_global_max_get_cps", P_OFFINT(dcc_global_max_get_cps), 0, TYPE_INT, nullptr},
    {"dcc_global_max_send_cps", P_OFFINT(dcc_global_max_send_cps), 0, TYPE_INT, nullptr},
    {"dcc_ip", P_OFFSETTEXT(dcc_ip), sizeof(prefs.dcc_ip), TYPE_STR, nullptr},
    {"dcc_ip_from_server", P_OFFINT(dcc_ip_from_server), 0, TYPE_BOOL, nullptr},
    {"dcc_max_get_cps", P_OFFINT(dcc_max_get_cps), 0, TYPE_INT, nullptr},
    {"dcc_max_send_cps", P_OFFINT(dcc_max_send_cps), 0, TYPE_INT, nullptr},
    {"dcc_permissions", P_OFFINT(dcc_permissions), 0, TYPE_INT, nullptr, 384},
    {"dcc_port_first", P_OFFINT(dcc_port_first), 0, TYPE_INT, nullptr},
    {"dcc_port_last", P_OFFINT(dcc_port_last), 0, TYPE_INT, nullptr},
    {"dcc_remove", P_OFFINT(dcc_remove), 0, TYPE_BOOL, nullptr},
    {"dcc_save_nick", P_OFFINT(dcc_save_nick), 0, TYPE_BOOL, nullptr},
    {"dcc_send_fillspaces", P_OFFINT(dcc_send_fillspaces), 0, TYPE_BOOL, nullptr},
    {"dcc_stall_timeout", P_OFFINT(dcc_stall_timeout), 0, TYPE_INT, nullptr, 60},
    {"dcc_timeout", P_OFFINT(dcc_timeout), 0, TYPE_INT, nullptr, 180},
    {"flood_ctcp_num", P_OFFINT(flood_ctcp_num), 0, TYPE_INT, nullptr, 5},
    {"flood_ctcp_time", P_OFFINT(flood_ctcp_time), 0, TYPE_INT, nullptr, 30},
    {"flood_msg_num", P_OFFINT(flood_msg_num), 0, TYPE_INT, nullptr, 5},
    {"flood_msg_time", P_OFFINT(flood_msg_time), 0, TYPE_INT, nullptr, 30},
    {"gui_autoopen_chat", P_OFFINT(gui_autoopen_chat), 0, TYPE_BOOL, nullptr, 1},
    {"gui_autoopen_dialog", P_OFFINT(gui_autoopen_dialog), 0, TYPE_BOOL, nullptr, 1},
    {"gui_autoopen_recv", P_OFFINT(gui_autoopen_recv), 0, TYPE_BOOL, nullptr, 1},
    {"gui_autoopen_send", P_OFFINT(gui_autoopen_send), 0, TYPE_BOOL, nullptr, 1},
    {"gui_chanlist_maxusers", P_OFFINT(gui_chanlist_maxusers), 0, TYPE_INT, nullptr, 9999},
    {"gui_chanlist_minusers", P_OFFINT(gui_chanlist_minusers), 0, TYPE_INT, nullptr, 5},
    {"gui_chanlist_width_channel", P_OFFINT(gui_chanlist_width_channel), 0, TYPE_INT, nullptr},
    {"gui_chanlist_width_topic", P_OFFINT(gui_chanlist_width_topic), 0, TYPE_INT, nullptr},
    {"gui_chanlist_width_users", P_OFFINT(gui_chanlist_width_users), 0, TYPE_INT, nullptr},
    {"gui_compact", P_OFFINT(gui_compact), 0, TYPE_BOOL, nullptr},
    {"gui_ctrlq_quit", P_OFFINT(gui_ctrlq_quit), 0, TYPE_BOOL, nullptr, 1},
    {"gui_dialog_height", P_OFFINT(gui_dialog_height), 0, TYPE_INT, nullptr, 256},
    {"gui_dialog_left", P_OFFINT(gui_dialog_left), 0, TYPE_INT, nullptr},
    {"gui_dialog_top", P_OFFINT(gui_dialog_top), 0, TYPE_INT, nullptr},
    {"gui_dialog_width", P_OFFINT(gui_dialog_width), 0, TYPE_INT, nullptr, 500},
    {"gui_filesize_iec", P_OFFINT(gui_filesize_iec), 0, TYPE_BOOL, nullptr},
    {"gui_focus_omitalerts", P_OFFINT(gui_focus_omitalerts), 0, TYPE_BOOL, nullptr},
    {"gui_hide_menu", P_OFFINT(gui_hide_menu), 0, TYPE_BOOL, nullptr},
    {"gui_input_attr", P_OFFINT(gui_input_attr), 0, TYPE_BOOL, nullptr, 1},
    {"gui_input_icon", P_OFFINT(gui_input_icon), 0, TYPE_BOOL, nullptr, 1},
    {"gui_input_nick", P_OFFINT(gui_input_nick), 0, TYPE_BOOL, nullptr, 1},
    {"gui_input_spell", P_OFFINT(gui_input_spell), 0, TYPE_BOOL, nullptr, 1},
    {"gui_input_style", P_OFFINT(gui_input_style), 0, TYPE_BOOL, nullptr, 1},
    {"gui_join_dialog", P_OFFINT(gui_join_dialog), 0, TYPE_BOOL, nullptr, 1},
    {"gui_lagometer", P_OFFINT(gui_lagometer), 0, TYPE_INT, nullptr, 1},
    {"gui_lang", P_OFFINT(gui_lang), 0, TYPE_INT, nullptr},
    {"gui_mode_buttons", P_OFFINT(gui_mode_buttons), 0, TYPE_BOOL, nullptr},
    {"gui_mode_buttons_inline", P_OFFINT(gui_mode_buttons_inline), 0, TYPE_BOOL, nullptr},
    {"gui_pane_divider_position", P_OFFINT(gui_pane_divider_position), 0, TYPE_INT, nullptr},
    {"gui_pane_left_size", P_OFFINT(gui_pane_left_size), 0, TYPE_INT, nullptr, 128},
    {"gui_pane_right_size", P_OFFINT(gui_pane_right_size), 0, TYPE_INT, nullptr, 100},
    {"gui_pane_right_size_min", P_OFFINT(gui_pane_right_size_min), 0, TYPE_INT, nullptr, 80},
    {"gui_quit_dialog", P_OFFINT(gui_quit_dialog), 0, TYPE_BOOL, nullptr, 1},
    {"gui_search_pos", P_OFFINT(gui_search_pos), 0, TYPE_INT, nullptr},
    {"gui_slist_fav", P_OFFINT(gui_slist_fav), 0, TYPE_BOOL, nullptr},
    {"gui_slist_select", P_OFFINT(gui_slist_select), 0, TYPE_INT, nullptr},
    {"gui_slist_skip", P_OFFINT(gui_slist_skip), 0, TYPE_BOOL, nullptr},
    {"gui_tab_chans", P_OFFINT(gui_tab_chans), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tab_dialogs", P_OFFINT(gui_tab_dialogs), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tab_dots", P_OFFINT(gui_tab_dots), 0, TYPE_BOOL, nullptr},
    {"gui_tab_icons", P_OFFINT(gui_tab_icons), 0, TYPE_BOOL, nullptr, 1},
    {"gui_dark_mode", P_OFFINT(gui_dark_mode), 0, TYPE_INT, nullptr},
    {"gui_gtk3_variant", P_OFFINT(gui_gtk3_variant), 0, TYPE_INT, nullptr},
    {"gui_tab_layout", P_OFFINT(gui_tab_layout), 0, TYPE_INT, nullptr, 2},
    {"gui_tab_closebuttons", P_OFFINT(gui_tab_closebuttons), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tab_middleclose", P_OFFINT(gui_tab_middleclose), 0, TYPE_BOOL, nullptr, 1},
    {"gui_mouse_scroll_speed", P_OFFINT(gui_mouse_scroll_speed), 0, TYPE_INT, nullptr, 10},
    {"gui_tab_newtofront", P_OFFINT(gui_tab_newtofront), 0, TYPE_INT, nullptr, 2},
    {"gui_tab_pos", P_OFFINT(gui_tab_pos), 0, TYPE_INT, nullptr, 1},
    {"gui_tab_scrollchans", P_OFFINT(gui_tab_scrollchans), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tab_server", P_OFFINT(gui_tab_server), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tab_small", P_OFFINT(gui_tab_small), 0, TYPE_INT, nullptr},
    {"gui_tab_sort", P_OFFINT(gui_tab_sort), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tab_trunc", P_OFFINT(gui_tab_trunc), 0, TYPE_INT, nullptr, 20},
    {"gui_tab_utils", P_OFFINT(gui_tab_utils), 0, TYPE_BOOL, nullptr},
    {"gui_throttlemeter", P_OFFINT(gui_throttlemeter), 0, TYPE_INT, nullptr, 1},
    {"gui_topicbar", P_OFFINT(gui_topicbar), 0, TYPE_BOOL, nullptr, 1},
    {"gui_topicbar_multiline", P_OFFINT(gui_topicbar_multiline), 0, TYPE_BOOL, nullptr, 1},
    {"gui_transparency", P_OFFINT(gui_transparency), 0, TYPE_INT, nullptr, 255},
    {"gui_tray", P_OFFINT(gui_tray), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tray_away", P_OFFINT(gui_tray_away), 0, TYPE_BOOL, nullptr},
    {"gui_tray_blink", P_OFFINT(gui_tray_blink), 0, TYPE_BOOL, nullptr, 1},
    {"gui_tray_close", P_OFFINT(gui_tray_close), 0, TYPE_BOOL, nullptr},
    {"gui_tray_minimize", P_OFFINT(gui_tray_minimize), 0, TYPE_BOOL, nullptr},
    {"gui_tray_quiet", P_OFFINT(gui_tray_quiet), 0, TYPE_BOOL, nullptr},
    {"gui_ulist_buttons", P_OFFINT(gui_ulist_buttons), 0, TYPE_BOOL, nullptr},
    {"gui_ulist_color", P_OFFINT(gui_ulist_color), 0, TYPE_BOOL, nullptr, 1},
    {"gui_ulist_count", P_OFFINT(gui_ulist_count), 0, TYPE_BOOL, nullptr, 1},
    {"gui_ulist_doubleclick", P_OFFSETTEXT(gui_ulist_doubleclick), sizeof(prefs.gui_ulist_doubleclick), TYPE_STR,
     nullptr, 0, "QUERY %s"},
    {"gui_ulist_hide", P_OFFINT(gui_ulist_hide), 0, TYPE_BOOL, nullptr},
    {"gui_ulist_icons", P_OFFINT(gui_ulist_icons), 0, TYPE_BOOL, nullptr, 1},
    {"gui_ulist_pos", P_OFFINT(gui_ulist_pos), 0, TYPE_INT, nullptr, 3},
    {"gui_ulist_nick_width", P_OFFINT(gui_ulist_nick_width), 0, TYPE_INT, nullptr},
    {"gui_ulist_host_width", P_OFFINT(gui_ulist_host_width), 0, TYPE_INT, nullptr},
    {"gui_ulist_show_hosts", P_OFFINT(gui_ulist_show_hosts), 0, TYPE_BOOL, nullptr},
    {"gui_ulist_sort", P_OFFINT(gui_ulist_sort), 0, TYPE_INT, nullptr},
    {"gui_ulist_style", P_OFFINT(gui_ulist_style), 0, TYPE_BOOL, nullptr, 1},
    {"gui_url_mod", P_OFFINT(gui_url_mod), 0, TYPE_INT, nullptr},
    {"gui_usermenu", P_OFFINT(gui_usermenu), 0, TYPE_BOOL, nullptr},
    {"gui_win_height", P_OFFINT(gui_win_height), 0, TYPE_INT, nullptr, 400},
    {"gui_win_fullscreen", P_OFFINT(gui_win_fullscreen), 0, TYPE_INT, nullptr},
    {"gui_win_left", P_OFFINT(gui_win_left), 0, TYPE_INT, nullptr},
    {"gui_win_modes", P_OFFINT(gui_win_modes), 0, TYPE_BOOL, nullptr},
    {"gui_win_nick", P_OFFINT(gui_win_nick), 0, TYPE_BOOL, nullptr, 1},
    {"gui_win_save", P_OFFINT(gui_win_save), 0, TYPE_BOOL, nullptr, 1},
    {"gui_win_state", P_OFFINT(gui_win_state), 0, TYPE_INT, nullptr},
    {"gui_win_swap", P_OFFINT(gui_win_swap), 0, TYPE_BOOL, nullptr},
    {"gui_win_top", P_OFFINT(gui_win_top), 0, TYPE_INT, nullptr},
    {"gui_win_ucount", P_OFFINT(gui_win_ucount), 0, TYPE_BOOL, nullptr},
    {"gui_win_width", P_OFFINT(gui_win_width), 0, TYPE_INT, nullptr, 640},
    {"gui_gtk3_theme", P_OFFSETTEXT(gui_gtk3_theme), sizeof(prefs.gui_gtk3_theme), TYPE_STR, nullptr},
    {"identd_server", P_OFFINT(identd_server), 0, TYPE_BOOL, nullptr},
    {"identd_port", P_OFFINT(identd_port), 0, TYPE_INT, nullptr},
    {"input_balloon_chans", P_OFFINT(input_balloon_chans), 0, TYPE_BOOL, nullptr},
    {"input_balloon_hilight", P_OFFINT(input_balloon_hilight), 0, TYPE_BOOL, nullptr},
    {"input_balloon_priv", P_OFFINT(input_balloon_priv), 0, TYPE_BOOL, nullptr},
    {"input_beep_chans", P_OFFINT(input_beep_chans), 0, TYPE_BOOL, nullptr},
    {"input_beep_hilight", P_OFFINT(input_beep_hilight), 0, TYPE_BOOL, nullptr},
    {"input_beep_priv", P_OFFINT(input_beep_priv), 0, TYPE_BOOL, nullptr},
    {"input_command_char", P_OFFSETTEXT(input_command_char), sizeof(prefs.input_command_char), TYPE_STR, nullptr, 0,
     "/"},
    {"input_filter_beep", P_OFFINT(input_filter_beep), 0, TYPE_BOOL, nullptr, 1},
    {"input_flash_chans", P_OFFINT(input_flash_chans), 0, TYPE_BOOL, nullptr},
    {"input_flash_hilight", P_OFFINT(input_flash_hilight), 0, TYPE_BOOL, nullptr, 1},
    {"input_flash_priv", P_OFFINT(input_flash_priv), 0, TYPE_BOOL, nullptr, 1},
    {"input_perc_ascii", P_OFFINT(input_perc_ascii), 0, TYPE_BOOL, nullptr},
    {"input_perc_color", P_OFFINT(input_perc_color), 0, TYPE_BOOL, nullptr},
    {"input_tray_chans", P_OFFINT(input_tray_chans), 0, TYPE_BOOL, nullptr},
    {"input_tray_hilight", P_OFFINT(input_tray_hilight), 0, TYPE_BOOL, nullptr, 1},
    {"input_tray_priv", P_OFFINT(input_tray_priv), 0, TYPE_BOOL, nullptr, 1},
    {"irc_auto_rejoin", P_OFFINT(irc_auto_rejoin), 0, TYPE_BOOL, nullptr},
    {"irc_reconnect_rejoin", P_OFFINT(irc_reconnect_rejoin), 0, TYPE_BOOL, nullptr, 1},
    {"irc_ban_type", P_OFFINT(irc_ban_type), 0, TYPE_INT, nullptr, 1},
    {"irc_cap_server_time", P_OFFINT(irc_cap_server_time), 0, TYPE_BOOL, nullptr, 1},
    {"irc_conf_mode", P_OFFINT(irc_conf_mode), 0, TYPE_BOOL, nullptr},
    {"irc_extra_hilight", P_OFFSETTEXT(irc_extra_hilight), sizeof(prefs.irc_extra_hilight), TYPE_STR, nullptr},
    {"irc_hide_nickchange", P_OFFINT(irc_hide_nickchange), 0, TYPE_BOOL, nullptr},
    {"irc_hide_join_part_hostmask", P_OFFINT(irc_hide_join_part_hostmask), 0, TYPE_BOOL, nullptr},
    {"irc_hide_version", P_OFFINT(irc_hide_version), 0, TYPE_BOOL, nullptr},
    {"irc_hidehost", P_OFFINT(irc_hidehost), 0, TYPE_BOOL, nullptr},
    {"irc_id_ntext", P_OFFSETTEXT(irc_id_ntext), sizeof(prefs.irc_id_ntext), TYPE_STR, nullptr},
    {"irc_id_ytext", P_OFFSETTEXT(irc_id_ytext), sizeof(prefs.irc_id_ytext), TYPE_STR, nullptr},
    {"irc_invisible", P_OFFINT(irc_invisible), 0, TYPE_BOOL, nullptr},
    {"irc_join_delay", P_OFFINT(irc_join_delay), 0, TYPE_INT, nullptr, 5},
    {"irc_logging", P_OFFINT(irc_logging), 0, TYPE_BOOL, nullptr, 1},
    {"irc_logmask", P_OFFSETTEXT(irc_logmask), sizeof(prefs.irc_logmask), TYPE_STR, nullptr, 0, "%n/%c.log"},
    {"irc_nick1", P_OFFSETTEXT(irc_nick1), sizeof(prefs.irc_nick1), TYPE_STR, nullptr},
    {"irc_nick2", P_OFFSETTEXT(irc_nick2), sizeof(prefs.irc_nick2), TYPE_STR, nullptr},
    {"irc_nick3", P_OFFSETTEXT(irc_nick3), sizeof(prefs.irc_nick3), TYPE_STR, nullptr},
    {"irc_nick_hilight", P_OFFSETTEXT(irc_nick_hilight), sizeof(prefs.irc_nick_hilight), TYPE_STR, nullptr},
    {"irc_no_hilight", P_OFFSETTEXT(irc_no_hilight), sizeof(prefs.irc_no_hilight), TYPE_STR, nullptr, 0,
     "NickServ,ChanServ,InfoServ,N,Q"},
    {"irc_notice_pos", P_OFFINT(irc_notice_pos), 0, TYPE_INT, nullptr},
    {"irc_part_reason", P_OFFSETTEXT(irc_part_reason), sizeof(prefs.irc_part_reason), TYPE_STR, nullptr, 0,
     N_("Leaving")},
    {"irc_quit_reason", P_OFFSETTEXT(irc_quit_reason), sizeof(prefs.irc_quit_reason), TYPE_STR, nullptr, 0,
     N_("Leaving")},
    {"irc_raw_modes", P_OFFINT(irc_raw_modes), 0, TYPE_BOOL, nullptr},
    {"irc_real_name", P_OFFSETTEXT(irc_real_name), sizeof(prefs.irc_real_name), TYPE_STR, nullptr, 0, "realname"},
    {"irc_servernotice", P_OFFINT(irc_servernotice), 0, TYPE_BOOL, nullptr},
    {"irc_skip_motd", P_OFFINT(irc_skip_motd), 0, TYPE_BOOL, nullptr},
    {"irc_user_name", P_OFFSETTEXT(irc_user_name), sizeof(prefs.irc_user_name), TYPE_STR, nullptr},
    {"irc_wallops", P_OFFINT(irc_wallops), 0, TYPE_BOOL, nullptr},
    {"irc_who_join", P_OFFINT(irc_who_join), 0, TYPE_BOOL, nullptr, 1},
    {"irc_whois_front", P_OFFINT(irc_whois_front), 0, TYPE_BOOL, nullptr, 1},
    {"net_auto_reconnect", P_OFFINT(net_auto_reconnect), 0, TYPE_BOOL, nullptr, 1},
    {"net_auto_reconnectonfail", P_OFFINT(net_auto_reconnectonfail), 0, TYPE_BOOL, nullptr},
    {"net_bind_host", P_OFFSETTEXT(net_bind_host), sizeof(prefs.net_bind_host), TYPE_STR, nullptr},
    {"net_ping_timeout", P_OFFINT(net_ping_timeout), 0, TYPE_INT, timers_changed, 60},
    {"net_lag_check", P_OFFINT(net_lag_check), 0, TYPE_INT, timers_changed, 60},
    {"net_keepalive_idle", P_OFFINT(net_keepalive_idle), 0, TYPE_INT, nullptr, 60},
    {"net_keepalive_interval", P_OFFINT(net_keepalive_interval), 0, TYPE_INT, nullptr, 20},
    {"net_keepalive_count", P_OFFINT(net_keepalive_count), 0, TYPE_INT, nullptr, 3},
    {"net_proxy_auth", P_OFFINT(net_proxy_auth), 0, TYPE_BOOL, nullptr},
    {"net_proxy_host", P_OFFSETTEXT(net_proxy_host), sizeof(prefs.net_proxy_host), TYPE_STR, nullptr},
    {"net_proxy_pass", P_OFFSETTEXT(net_proxy_pass), sizeof(prefs.net_proxy_pass), TYPE_STR, nullptr},
    {"net_proxy_port", P_OFFINT(net_proxy_port), 0, TYPE_INT, nullptr},
    {"net_proxy_type", P_OFFINT(net_proxy_type), 0, TYPE_INT, nullptr},
    {"net_proxy_use", P_OFFINT(net_proxy_use), 0, TYPE_INT, nullptr},
    {"net_proxy_user", P_OFFSETTEXT(net_proxy_user), sizeof(prefs.net_proxy_user), TYPE_STR, nullptr},
    {"net_reconnect_delay", P_OFFINT(net_reconnect_delay), 0, TYPE_INT, nullptr, 10},
    {"net_throttle", P_OFFINT(net_throttle), 0, TYPE_BOOL, nullptr, 1},
    {"notify_timeout", P_OFFINT(notify_timeout), 0, TYPE_INT, nullptr, 15},
    {"notify_whois_online", P_OFFINT(notify_whois_online), 0, TYPE_BOOL, nullptr},
    {"perl_warnings", P_OFFINT(perl_warnings), 0, TYPE_BOOL, nullptr},
    {"stamp_log", P_OFFINT(stamp_log), 0, TYPE_BOOL, nullptr, 1},
    {"stamp_log_format", P_OFFSETTEXT(stamp_log_format), sizeof(prefs.stamp_log_format), TYPE_STR, nullptr, 0,
     "%b %d %H:%M:%S "},
    {"stamp_text", P_OFFINT(stamp_text), 0, TYPE_BOOL, nullptr, 1},
    {"stamp_text_format", P_OFFSETTEXT(stamp_text_format), sizeof(prefs.stamp_text_format), TYPE_STR, nullptr, 0,
     "[%H:%M:%S] "},
    {"text_autocopy_color", P_OFFINT(text_autocopy_color), 0, TYPE_BOOL, nullptr},
    {"text_autocopy_stamp", P_OFFINT(text_autocopy_stamp), 0, TYPE_BOOL, nullptr},
    {"text_autocopy_text", P_OFFINT(text_autocopy_text), 0, TYPE_BOOL, nullptr, 1},
    {"text_background", P_OFFSETTEXT(text_background), sizeof(prefs.text_background), TYPE_STR, nullptr},
    {"text_color_nicks", P_OFFINT(text_color_nicks), 0, TYPE_BOOL, nullptr},
    {"text_font", P_OFFSETTEXT(text_font), sizeof(prefs.text_font), TYPE_STR, nullptr},
    {"text_font_main", P_OFFSETTEXT(text_font_main), sizeof(prefs.text_font_main), TYPE_STR, nullptr},
    {"text_font_alternative", P_OFFSETTEXT(text_font_alternative), sizeof(prefs.text_font_alternative), TYPE_STR,
     nullptr, 0, "Arial Unicode MS,Segoe UI Emoji,Lucida Sans Unicode,Meiryo,Symbola,Unifont"},
    {"text_indent", P_OFFINT(text_indent), 0, TYPE_BOOL, nullptr, 1},
    {"text_max_indent", P_OFFINT(text_max_indent), 0, TYPE_INT, nullptr, 256},
    {"text_max_lines", P_OFFINT(text_max_lines), 0, TYPE_INT, nullptr, 5000},
    {"text_replay", P_OFFINT(text_replay), 0, TYPE_BOOL, nullptr, 1},
    {"text_search_case_match", P_OFFINT(text_search_case_match), 0, TYPE_BOOL, nullptr},
    {"text_search_highlight_all", P_OFFINT(text_search_highlight_all), 0, TYPE_BOOL, nullptr},
    {"text_search_follow", P_OFFINT(text_search_follow), 0, TYPE_BOOL, nullptr, 1},
    {"text_search_regexp", P_OFFINT(text_search_regexp), 0, TYPE_BOOL, nullptr},
    {"text_show_marker", P_OFFINT(text_show_marker), 0, TYPE_BOOL, nullptr, 1},
    {"text_show_sep", P_OFFINT(text_show_sep), 0, TYPE_BOOL, nullptr, 1},
    {"text_spell_langs", P_OFFSETTEXT(text_spell_langs), sizeof(prefs.text_spell_langs), TYPE_STR, nullptr},
    {"text_stripcolor_msg", P_OFFINT(text_stripcolor_msg), 0, TYPE_BOOL, nullptr},
    {"text_stripcolor_replay", P_OFFINT(text_stripcolor_replay), 0, TYPE_BOOL, nullptr, 1},
    {"text_stripcolor_topic", P_OFFINT(text_stripcolor_topic), 0, TYPE_BOOL, nullptr, 1},
    {"text_thin_sep", P_OFFINT(text_thin_sep), 0, TYPE_BOOL, nullptr, 1},
    {"text_transparent", P_OFFINT(text_transparent), 0, TYPE_BOOL, nullptr},
    {"text_wordwrap", P_OFFINT(text_wordwrap), 0, TYPE_BOOL, nullptr, 1},
    {"url_grabber", P_OFFINT(url_grabber), 0, TYPE_BOOL, nullptr, 1},
    {"url_grabber_limit", P_OFFINT(url_grabber_limit), 0, TYPE_INT, nullptr, 100},
    {"url_logging", P_OFFINT(url_logging), 0, TYPE_BOOL, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

namespace
{

constexpr const char *CONFIG_FILE = "lumenwick.conf";
// Integer values are read through a buffer this big before conversion.
constexpr std::size_t INT_VALUE_BUFSIZE = 128;
// The show form of /SET pads names with dots up to this column.
constexpr std::size_t SET_SHOW_COLUMN = 29;
// A real settings file is a few kilobytes; anything past this is not ours
// and is not worth the memory or the time to scan.
constexpr std::size_t CONFIG_MAX_BYTES = 16u * 1024 * 1024;
// No setting name is longer; longer first words cannot match a row.
constexpr std::size_t SETTING_NAME_MAX = 64;

char *xdir = nullptr;

// The language codes known to the translations, in the order the stored
// gui_lang index refers to; the order is part of the file format.
const char *const language_codes[] = {
    "af",    "sq", "am", "ast", "az", "eu", "be", "bg", "ca", "zh_CN", "zh_TW", "cs", "da",    "nl",
    "en_GB", "en", "et", "fi",  "fr", "gl", "de", "el", "gu", "hi",    "hu",    "id", "it",    "ja_JP",
    "kn",    "rw", "ko", "lv",  "lt", "mk", "ml", "ms", "nb", "no",    "pl",    "pt", "pt_BR", "pa",
    "ru",    "sr", "sk", "sl",  "es", "sv", "th", "tr", "uk", "vi",    "wa",
};
static_assert(sizeof(language_codes) / sizeof(language_codes[0]) == 53);

} // namespace

int *cfg_row_int(const prefs_row &row)
{
    return reinterpret_cast<int *>(reinterpret_cast<char *>(&prefs) + row.offset * sizeof(int));
}

char *cfg_row_text(const prefs_row &row)
{
    return reinterpret_cast<char *>(&prefs) + row.offset;
}

namespace
{
std::string config_path()
{
    return std::string(get_xdir()) + "/" + CONFIG_FILE;
}
} // namespace

// Copies a value of `len` bytes (not terminated, may hold anything) into a
// fixed array. Files edited by hand or damaged on disk must not put invalid
// UTF-8 into settings that the toolkit and the servers later receive, and a
// cut must never leave half a character behind.
void cfg_store_value(char *dest, std::size_t size, const char *src, std::size_t len)
{
    if (!dest || size == 0)
        return;
    if (const void *nul = memchr(src, '\0', len))
        len = static_cast<std::size_t>(static_cast<const char *>(nul) - src);
    // Bytes this far past the array cannot reach it: every input byte
    // yields at least one output byte, and a character is at most 4 bytes.
    if (len > size + 8)
        len = size + 8;
    char *copy = g_utf8_validate(src, static_cast<gssize>(len), nullptr)
                     ? g_strndup(src, len)
                     : g_utf8_make_valid(src, static_cast<gssize>(len));
    safe_strcpy(dest, copy, size);
    g_free(copy);
}

// C integer conversion without atoi's undefined behaviour on overflow.
int cfg_parse_int(const char *text)
{
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

namespace
{

// The value part of a matched line: after the name come spaces, at most one
// "=", and spaces. A carriage return left by an editor is not part of it.
void value_span(const char *p, const char *eol, const char **value, std::size_t *len)
{
    while (p < eol && *p == ' ')
        p++;
    if (p < eol && *p == '=')
        p++;
    while (p < eol && *p == ' ')
        p++;
    const char *end = eol;
    if (end > p && end[-1] == '\r')
        end--;
    *value = p;
    *len = static_cast<std::size_t>(end - p);
}

bool write_line(int fd, char *line)
{
    bool ok = line && write_all(fd, line, strlen(line));
    g_free(line);
    return ok;
}

// The operating system's user name as UTF-8.
std::string login_name()
{
    const char *user = g_get_user_name();
    if (!user || !*user)
        user = "root";
    char *utf8 = g_locale_to_utf8(user, -1, nullptr, nullptr, nullptr);
    if (!utf8)
        return "username";
    std::string name(utf8);
    g_free(utf8);
    return name;
}

int language_index(const std::string &code)
{
    for (std::size_t i = 0; i < G_N_ELEMENTS(language_codes); i++) {
        if (code == language_codes[i])
            return static_cast<int>(i);
    }
    return -1;
}

int default_gui_lang()
{
    const char *locale = g_getenv("LC_ALL");
    if (!locale || !*locale)
        locale = g_getenv("LANG");
    if (!locale || !*locale)
        locale = "en";
    std::string code(locale, strcspn(locale, "."));
    int index = language_index(code);
    if (index < 0) {
        code = code.substr(0, code.find('_'));
        index = language_index(code);
    }
    if (index < 0)
        index = language_index("en");
    return index;
}

// "C", "C.UTF-8" and "POSIX" name no language. Only those are skipped:
// Catalan, Czech or Welsh users ("ca", "cs", "cy") want their own
// dictionaries even though their codes start with a "c".
bool is_neutral_locale(const char *name)
{
    if ((name[0] == 'C' || name[0] == 'c') && (name[1] == '\0' || name[1] == '.' || name[1] == '@'))
        return true;
    return g_str_has_prefix(name, "POSIX");
}

void default_spell_langs(char *dest, std::size_t size)
{
    std::string langs;
    std::string last_prefix;
    const char *const *names = g_get_language_names();
    for (; names && *names; names++) {
        const char *name = *names;
        if (strlen(name) < 2 || is_neutral_locale(name))
            continue;
        // The desktop lists "de_DE.UTF-8", "de_DE", "de.UTF-8", "de": one
        // dictionary per language is enough.
        if (!last_prefix.empty() && strncmp(name, last_prefix.c_str(), 2) == 0)
            continue;
        std::string taken(name, strcspn(name, "."));
        std::size_t needed = langs.size() + (langs.empty() ? 0 : 1) + taken.size();
        // A code cut in the middle would name a dictionary that does not exist.
        if (needed > size - 1)
            break;
        if (!langs.empty())
            langs += ',';
        langs += taken;
        last_prefix = taken.substr(0, 2);
    }
    if (langs.empty())
        langs = "en";
    safe_strcpy(dest, langs.c_str(), size);
}

std::string default_download_dir()
{
    const char *dir = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (dir && *dir)
        return dir;
    char *path = g_build_filename(g_get_home_dir(), "Downloads", nullptr);
    std::string result(path);
    g_free(path);
    return result;
}

// Rows by lower-case name, so a large file is parsed in one pass.
const std::unordered_map<std::string, int> &row_index()
{
    static const std::unordered_map<std::string, int> index = [] {
        std::unordered_map<std::string, int> map;
        for (int i = 0; vars[i].name; i++)
            map.emplace(vars[i].name, i);
        return map;
    }();
    return index;
}

// The row whose name the first `len` bytes of `word` spell (any case).
const prefs_row *find_row(const char *word, std::size_t len)
{
    if (len == 0 || len > SETTING_NAME_MAX)
        return nullptr;
    std::string key(word, len);
    for (char &c : key)
        c = g_ascii_tolower(c);
    auto it = row_index().find(key);
    return it == row_index().end() ? nullptr : &vars[it->second];
}

void apply_value(const prefs_row &row, const char *value, std::size_t len)
{
    if (row.type == TYPE_STR) {
        cfg_store_value(cfg_row_text(row), row.len, value, len);
        return;
    }
    char buf[INT_VALUE_BUFSIZE];
    cfg_store_value(buf, sizeof(buf), value, len);
    *cfg_row_int(row) = cfg_parse_int(buf);
}

// The whole file as it will be written.
std::string settings_text()
{
    std::string out = "version = " LUMENWICK_VERSION "\n";
    for (const prefs_row *row = vars; row->name; row++) {
        out += row->name;
        out += " = ";
        if (row->type == TYPE_STR) {
            const char *text = cfg_row_text(*row);
            std::string value(text, strnlen(text, row->len));
            // A line break inside a value would start a new line that the
            // next load reads as another setting.
            for (char &c : value) {
                if (c == '\n' || c == '\r')
                    c = ' ';
            }
            out += value;
        } else {
            int value = *cfg_row_int(*row);
            out += std::to_string(value == -1 ? 1 : value);
        }
        out += '\n';
        if (row->after_update)
            row->after_update();
    }
    return out;
}

} // namespace

std::string cfg_show_setting(const prefs_row &row)
{
    std::string line = row.name;
    line += "\0032";
    for (std::size_t col = strlen(row.name); col < SET_SHOW_COLUMN; col++)
        line += '.';
    line += "\0033:\017 ";
    if (row.type == TYPE_STR) {
        const char *text = cfg_row_text(row);
        line.append(text, strnlen(text, row.len));
    } else if (row.type == TYPE_BOOL) {
        line += *cfg_row_int(row) ? "ON" : "OFF";
    } else {
        line += std::to_string(*cfg_row_int(row));
    }
    line += '\n';
    return line;
}

namespace
{

int open_flags_for(const char *mode)
{
    int flags;
    switch (mode[0]) {
    case 'w':
        flags = O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = O_WRONLY | O_CREAT | O_APPEND;
        break;
    default:
        flags = O_RDONLY;
        break;
    }
    if (strchr(mode, '+'))
        flags = (flags & ~(O_RDONLY | O_WRONLY)) | O_RDWR;
    return flags | O_CLOEXEC;
}

std::string file_path(const char *file, int xof_flags)
{
    if (xof_flags & XOF_FULLPATH)
        return file;
    return std::string(get_xdir()) + "/" + file;
}

} // namespace

const char *get_xdir(void)
{
    if (!xdir)
        xdir = g_build_filename(g_get_user_config_dir(), "lumenwick", nullptr);
    return xdir;
}

void set_xdir(const char *dir)
{
    if (!dir)
        return;
    g_free(xdir);
    xdir = g_strdup(dir);
    std::size_t len = strlen(xdir);
    if (len > 1 && xdir[len - 1] == '/')
        xdir[len - 1] = '\0';
}

int check_config_dir(void)
{
    return g_file_test(get_xdir(), G_FILE_TEST_IS_DIR) ? 0 : -1;
}

int make_config_dirs(void)
{
    const char *dir = get_xdir();
    if (g_mkdir_with_parents(dir, 0700) != 0)
        return -1;
    for (const char *sub : {"addons", "sounds"}) {
        char *path = g_build_filename(dir, sub, nullptr);
        int rc = g_mkdir_with_parents(path, 0700);
        g_free(path);
        if (rc != 0)
            return -1;
    }
    return 0;
}

int make_dcc_dirs(void)
{
    // An empty completed-files folder means "keep them where they are".
    for (const char *dir : {prefs.dcc_dir, prefs.dcc_completed_dir}) {
        if (*dir && g_mkdir_with_parents(dir, 0700) != 0)
            return -1;
    }
    return 0;
}

void load_default_config(const char *default_font)
{
    for (const prefs_row *row = vars; row->name; row++) {
        if (row->type == TYPE_STR) {
            char *text = cfg_row_text(*row);
            memset(text, 0, row->len);
            if (row->default_text)
                safe_strcpy(text, _(row->default_text), row->len);
        } else {
            *cfg_row_int(*row) = row->default_value;
        }
    }

    // The defaults that depend on the user, the desktop and the front end.
    std::string login = login_name();
    safe_strcpy(prefs.irc_nick1, login.c_str(), sizeof(prefs.irc_nick1));
    safe_strcpy(prefs.irc_nick2, (login + "_").c_str(), sizeof(prefs.irc_nick2));
    safe_strcpy(prefs.irc_nick3, (login + "__").c_str(), sizeof(prefs.irc_nick3));
    std::string user = login.substr(0, login.find(' '));
    safe_strcpy(prefs.irc_user_name, user.c_str(), sizeof(prefs.irc_user_name));

    safe_strcpy(prefs.dcc_dir, default_download_dir().c_str(), sizeof(prefs.dcc_dir));
    prefs.gui_lang = default_gui_lang();
    default_spell_langs(prefs.text_spell_langs, sizeof(prefs.text_spell_langs));

    const char *font = default_font && *default_font ? default_font : "Monospace 9";
    safe_strcpy(prefs.text_font, font, sizeof(prefs.text_font));
    safe_strcpy(prefs.text_font_main, font, sizeof(prefs.text_font_main));
}

void load_config_from_text(const char *text, std::size_t len, const char *default_font)
{
    load_default_config(default_font);
    std::vector<bool> seen(SETTINGS_COUNT, false);
    const char *end = text + len;
    const char *line = text;
    while (line < end) {
        const char *eol = static_cast<const char *>(memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (!eol)
            eol = end;
        // A setting line is its name, one space, then the value; a name
        // glued to "=" is not one.
        const char *space = static_cast<const char *>(memchr(line, ' ', static_cast<std::size_t>(eol - line)));
        const prefs_row *row = space ? find_row(line, static_cast<std::size_t>(space - line)) : nullptr;
        // As with cfg_get_str, the first line naming a setting wins.
        if (row && !seen[row - vars]) {
            seen[row - vars] = true;
            const char *value;
            std::size_t value_len;
            value_span(space, eol, &value, &value_len);
            apply_value(*row, value, value_len);
        }
        line = eol + 1;
    }

    // Smaller windows cannot show the input line and the tabs.
    if (prefs.gui_win_height < 138)
        prefs.gui_win_height = 138;
    if (prefs.gui_win_width < 106)
        prefs.gui_win_width = 106;
    // The ident user name goes into the USER command, where a space would
    // shift every later parameter.
    if (char *space = strchr(prefs.irc_user_name, ' '))
        *space = '\0';
}

int load_config(const char *default_font)
{
    std::string path = config_path();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::string content;
    char buf[65536];
    bool failed = false;
    while (content.size() < CONFIG_MAX_BYTES) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        content.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    if (failed)
        return -1;
    if (content.size() >= CONFIG_MAX_BYTES)
        g_warning("%s is larger than %zu bytes; the rest is ignored", path.c_str(), CONFIG_MAX_BYTES);
    load_config_from_text(content.data(), content.size(), default_font);
    return 0;
}

int save_config_prepare(char **temp_path)
{
    if (!temp_path)
        return 0;
    *temp_path = nullptr;
    if (check_config_dir() != 0)
        make_config_dirs();
    AtomicFile file(config_path());
    if (!file.ok())
        return 0;
    file.write(settings_text());
    if (!file.close())
        return 0;
    file.release();
    *temp_path = g_strdup(file.temp_path().c_str());
    return 1;
}

int save_config_finalize(const char *temp_path)
{
    if (!temp_path)
        return 0;
    return atomic_file_finalize(temp_path, config_path()) ? 1 : 0;
}

void save_config_discard(const char *temp_path)
{
    if (temp_path)
        unlink(temp_path);
}

int save_config(void)
{
    char *temp = nullptr;
    if (!save_config_prepare(&temp))
        return 0;
    int ok = save_config_finalize(temp);
    g_free(temp);
    return ok;
}

save_result save_config_with_colors(const colors_saver *colors)
{
    save_result result;
    char *settings_temp = nullptr;
    char *colors_temp = nullptr;
    auto fail = [&result](bool settings, const char *file) {
        result.ok = false;
        (settings ? result.settings_failed : result.colors_failed) = true;
        result.failed_file = file;
    };

    if (!save_config_prepare(&settings_temp)) {
        fail(true, "lumenwick.conf");
    } else if (colors && !colors->prepare(&colors_temp)) {
        fail(false, "colors.conf");
    } else if (!save_config_finalize(settings_temp)) {
        fail(true, "lumenwick.conf");
    } else if (colors && !colors->finalize(colors_temp)) {
        fail(false, "colors.conf");
        result.settings_written_before_colors_failed = true;
    }

    // A finished file was renamed away; removing it again is harmless.
    if (settings_temp)
        save_config_discard(settings_temp);
    if (colors_temp)
        colors->discard(colors_temp);
    g_free(settings_temp);
    g_free(colors_temp);
    return result;
}

char *cfg_get_str(char *text, const char *name, char *dest, int dest_len)
{
    if (!text || !name || !*name)
        return nullptr;
    std::size_t name_len = strlen(name);
    char *line = text;
    for (;;) {
        char *eol = strchr(line, '\n');
        if (!eol)
            eol = line + strlen(line);
        if (static_cast<std::size_t>(eol - line) > name_len && line[name_len] == ' ' &&
            g_ascii_strncasecmp(line, name, name_len) == 0) {
            if (dest && dest_len > 0) {
                const char *value;
                std::size_t value_len;
                value_span(line + name_len, eol, &value, &value_len);
                cfg_store_value(dest, static_cast<std::size_t>(dest_len), value, value_len);
            }
            return eol;
        }
        if (!*eol)
            return nullptr;
        line = eol + 1;
    }
}

int cfg_get_int_with_result(char *text, const char *name, int *found)
{
    char buf[INT_VALUE_BUFSIZE];
    bool matched = cfg_get_str(text, name, buf, sizeof(buf)) != nullptr;
    if (found)
        *found = matched ? 1 : 0;
    return matched ? cfg_parse_int(buf) : 0;
}

int cfg_get_int(char *text, const char *name)
{
    return cfg_get_int_with_result(text, name, nullptr);
}

int cfg_get_color(char *text, const char *name, guint16 *r, guint16 *g, guint16 *b)
{
    char buf[INT_VALUE_BUFSIZE];
    if (!cfg_get_str(text, name, buf, sizeof(buf)))
        return 0;
    unsigned short red, green, blue;
    if (sscanf(buf, "%04hx %04hx %04hx", &red, &green, &blue) != 3)
        return 0;
    *r = red;
    *g = green;
    *b = blue;
    return 1;
}

int cfg_put_int(int fd, int value, const char *name)
{
    // -1 is "unset" in memory and has never been a valid stored value.
    if (value == -1)
        value = 1;
    return write_line(fd, g_strdup_printf("%s = %d\n", name, value)) ? 1 : 0;
}

int cfg_put_color(int fd, guint16 r, guint16 g, guint16 b, const char *name)
{
    return write_line(fd, g_strdup_printf("%s = %04hx %04hx %04hx\n", name, r, g, b)) ? 1 : 0;
}

int cfg_put_str(int fd, const char *name, const char *value)
{
    return write_line(fd, g_strdup_printf("%s = %s\n", name, value ? value : "")) ? 1 : 0;
}

int cfg_get_bool(const char *name)
{
    if (!name)
        return -1;
    for (const prefs_row *row = vars; row->name; row++) {
        if (row->type != TYPE_STR && g_ascii_strcasecmp(name, row->name) == 0)
            return *cfg_row_int(*row);
    }
    return -1;
}

int lumenwick_open_file(const char *file, int flags, int mode, int xof_flags)
{
    if (!file)
        return -1;
    // Without an explicit mode a new file is private, like every other file
    // of the configuration directory; mode 0 would lock the user out of it.
    int create_mode = (xof_flags & XOF_DOMODE) ? mode : 0600;
    return open(file_path(file, xof_flags).c_str(), flags | O_CLOEXEC, create_mode);
}

FILE *lumenwick_fopen_file(const char *file, const char *mode, int xof_flags)
{
    if (!file || !mode)
        return nullptr;
    int fd = open(file_path(file, xof_flags).c_str(), open_flags_for(mode), 0600);
    if (fd < 0)
        return nullptr;
    FILE *fp = fdopen(fd, mode);
    if (!fp) {
        int saved = errno;
        close(fd);
        errno = saved;
    }
    return fp;
}
