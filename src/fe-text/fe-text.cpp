// The front-end seam of the headless client: every fe_ function of fe.h on
// the GLib main loop. Printed text goes to standard output as
// "<session>\t<text>", messages to standard error; questions take their
// default answers; windows, menus and lists that only a display could show
// are not kept.
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "console.h"
#include "fe-common/mainloop.h"
#include "fe-common/meters.h"
#include "fe-common/printf.h"
#include "fe.h"
#include "lines.h"
#include "net/server.h"
#include "servlist/servlist.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <glib.h>

#include <algorithm>
#include <clocale>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{

// Lines kept per session for /LASTLOG when text_max_lines does not say.
constexpr std::size_t DEFAULT_KEPT_LINES = 5000;

// What the front end keeps for one session (its tab state).
struct text_tab {
    text_buffer buffer;
    std::string input;
    int cursor = 0;
};

// What the front end keeps for one server: the meters' last texts.
struct text_server {
    meter_text lag;
    meter_text throttle;
};

text_tab *tab_of(session *sess)
{
    return sess ? static_cast<text_tab *>(sess->tab_state) : nullptr;
}
text_server *record_of(server *serv)
{
    return serv ? static_cast<text_server *>(serv->fe_record) : nullptr;
}

std::string session_name(const session *sess)
{
    return sess && sess->channel[0] ? sess->channel : "*";
}

std::size_t kept_lines()
{
    return prefs.text_max_lines > 0 ? static_cast<std::size_t>(prefs.text_max_lines) : DEFAULT_KEPT_LINES;
}

// Shows the lines of `text` in `sess` and keeps them for /LASTLOG.
void show_text(session *sess, std::string_view text)
{
    text_tab *tab = tab_of(sess);
    const std::string name = session_name(sess);
    std::string out;
    for (std::string &line : split_text_lines(text)) {
        out += output_line(name, line);
        if (tab)
            tab->buffer.append(std::move(line), kept_lines());
    }
    console_out(out);
}

struct main_loop_state {
    GMainLoop *loop = nullptr;
    bool exit_requested = false;
};

main_loop_state &main_loop()
{
    static main_loop_state s;
    return s;
}

// Removes Pango markup from a message: a console shows the words only.
std::string without_markup(const char *text)
{
    std::string out;
    bool in_tag = false;
    for (const char *p = text; *p; ++p) {
        if (in_tag) {
            in_tag = *p != '>';
            continue;
        }
        if (*p == '<') {
            in_tag = true;
            continue;
        }
        out += *p;
    }
    static const std::pair<std::string_view, char> entities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    for (const auto &[entity, plain] : entities) {
        for (std::size_t at = out.find(entity); at != std::string::npos; at = out.find(entity, at + 1))
            out.replace(at, entity.size(), 1, plain);
    }
    return out;
}

// The names of the stored networks, in list order.
std::vector<std::string> network_names()
{
    std::vector<std::string> names;
    for (GSList *l = network_list; l; l = l->next) {
        const char *name = static_cast<const ircnet *>(l->data)->name;
        names.emplace_back(name ? name : "");
    }
    return names;
}

} // namespace

// ---- start-up, main loop and exit ---------------------------------------------

int fe_args(int argc, char *argv[])
{
    // Translations and the option parser's messages follow the user's locale.
    setlocale(LC_ALL, "");
    return lumenwick_parse_args(argc, argv, nullptr);
}

void fe_init(void)
{
    console_watch_signals();
    console_start_input();
}

void fe_main(void)
{
    main_loop_state &s = main_loop();
    if (s.exit_requested)
        return;
    s.loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(s.loop);
    g_main_loop_unref(s.loop);
    s.loop = nullptr;
}

void fe_exit(void)
{
    main_loop_state &s = main_loop();
    s.exit_requested = true;
    console_flush();
    if (s.loop)
        g_main_loop_quit(s.loop);
}

void fe_cleanup(void) {}

save_result fe_preferences_persistence_save_all(void)
{
    // This front end has no colour palette to save: only the settings.
    return save_config_with_colors(nullptr);
}

// A headless client has no sound service; the core falls back to a player.
int fe_play_sound(const char *)
{
    return 0;
}

const char *fe_get_default_font(void)
{
    return nullptr;
}

// ---- sessions and windows ----------------------------------------------------------

void fe_new_window(session *sess, int focus)
{
    if (!sess)
        return;
    if (!sess->tab_state)
        sess->tab_state = new text_tab;
    if (focus || !current_sess) {
        current_sess = sess;
        current_tab = sess;
    }
}

void fe_new_server(server *serv)
{
    if (serv && !serv->fe_record)
        serv->fe_record = new text_server;
}

void fe_session_callback(session *sess)
{
    if (!sess)
        return;
    delete tab_of(sess);
    sess->tab_state = nullptr;
}

void fe_server_callback(server *serv)
{
    if (!serv)
        return;
    delete record_of(serv);
    serv->fe_record = nullptr;
}

void fe_close_window(session *sess)
{
    if (sess)
        session_free(sess);
}

void fe_set_title(session *) {}
void fe_set_channel(session *) {}
void fe_set_nonchannel(session *, int) {}
void fe_clear_channel(session *) {}
void fe_set_topic(session *, char *, char *) {}
void fe_set_nick(server *, char *) {}
void fe_set_away(server *) {}
void fe_update_channel_key(session *) {}
void fe_update_channel_limit(session *) {}
void fe_update_mode_buttons(session *, char, char) {}
void fe_buttons_update(session *) {}
void fe_dlgbuttons_update(session *) {}

void fe_ctrl_gui(session *sess, fe_gui_action action, int)
{
    // Bringing a tab to front is the one action that means something here:
    // typed lines go to it from now on.
    if (action == FE_GUI_FOCUS && sess) {
        current_sess = sess;
        current_tab = sess;
    }
}

// The user is taken to be watching the console, so the core raises no
// alerts meant for a window in the background.
int fe_gui_info(session *, int info_type)
{
    return info_type == 0 ? 1 : -1;
}
void *fe_gui_info_ptr(session *, int)
{
    return nullptr;
}
void fe_flash_window(session *) {}
void fe_beep(void) {}
void fe_server_event(server *, int, int) {}
void fe_progressbar_start(session *) {}
void fe_progressbar_end(server *) {}

void fe_set_lag(server *serv, long lag)
{
    text_server *rec = record_of(serv);
    if (!rec)
        return;
    if (const std::optional<meter_text> meter = lag_meter(lag, serv->lag_probe_ms, make_ping_time()))
        rec->lag = *meter;
}

void fe_set_throttle(server *serv)
{
    if (text_server *rec = record_of(serv))
        rec->throttle = throttle_meter(serv->queued_bytes);
}

void fe_serverlist_open(session *)
{
    std::string out = _("Networks:");
    out += '\n';
    for (const std::string &name : network_names())
        out += "  " + name + "\n";
    console_out(out);
    // Without a window to pick a network from, the user needs a tab to type
    // /server or /set into.
    if (!sess_list)
        new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
}

// ---- text output ---------------------------------------------------------------------

void fe_print_text(session *sess, char *text, time_t, gboolean)
{
    if (text)
        show_text(sess, text);
}

void fe_text_clear(session *sess, int lines)
{
    if (text_tab *tab = tab_of(sess))
        tab->buffer.clear(lines);
}

void fe_lastlog(session *sess, session *lastlog_sess, char *sstr, int flags)
{
    text_tab *source = tab_of(sess);
    if (!source || !lastlog_sess)
        return;
    if (source->buffer.lines().empty()) {
        show_text(lastlog_sess, _("Search buffer is empty.\n"));
        return;
    }
    // The matches are copies: the lastlog session may be the searched one.
    const lastlog_result found = lastlog_search(source->buffer.lines(), sstr, flags);
    if (!found.error.empty()) {
        show_text(lastlog_sess, found.error + "\n");
        return;
    }
    for (const std::string &line : found.lines)
        show_text(lastlog_sess, line + "\n");
}

void fe_add_rawlog(server *, char *, int, int) {}
void fe_url_add(const char *) {}

void fe_message(const char *msg, int flags)
{
    if (!msg)
        return;
    std::string text = (flags & FE_MSG_MARKUP) ? without_markup(msg) : std::string(msg);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    // One prefixed line per line of the message, so it reads as ours among
    // whatever else the terminal shows.
    std::string out;
    for (const std::string &line : split_text_lines(text))
        out += "lumenwick: " + line + "\n";
    console_err(out);
}

// ---- input box -----------------------------------------------------------------------

const char *fe_get_inputbox_contents(session *sess)
{
    text_tab *tab = tab_of(sess);
    return tab ? tab->input.c_str() : "";
}

int fe_get_inputbox_cursor(session *sess)
{
    text_tab *tab = tab_of(sess);
    return tab ? tab->cursor : 0;
}

void fe_set_inputbox_contents(session *sess, char *text)
{
    if (text_tab *tab = tab_of(sess)) {
        tab->input = text ? text : "";
        tab->cursor = static_cast<int>(g_utf8_strlen(tab->input.c_str(), -1));
    }
}

void fe_set_inputbox_cursor(session *sess, int delta, int pos)
{
    text_tab *tab = tab_of(sess);
    if (!tab)
        return;
    const int length = static_cast<int>(g_utf8_strlen(tab->input.c_str(), -1));
    tab->cursor = std::clamp(delta ? tab->cursor + pos : pos, 0, length);
}

// ---- user list -----------------------------------------------------------------------

void fe_userlist_insert(session *, User *, gboolean) {}
int fe_userlist_remove(session *, User *)
{
    return 0;
}
void fe_userlist_rehash(session *, User *) {}
void fe_userlist_numbers(session *) {}
void fe_userlist_clear(session *) {}
void fe_userlist_set_selected(session *) {}
void fe_uselect(session *, char *[], int, int) {}
void fe_set_typing(session *, const char *, const char *) {}
void fe_userlist_update(session *, User *) {}

// ---- channel list, ban lists, ignore, notify, plugins, menus --------------------------

void fe_open_chan_list(server *serv, char *filter, int)
{
    // There is no list window: the request goes out at once and, with no
    // window open, the replies are printed in the server tab.
    if (serv && serv->connected && serv->p_list_channels)
        serv->p_list_channels(serv, filter ? filter : "", 1);
}

int fe_is_chanwindow(server *)
{
    return 0;
}
void fe_add_chan_list(server *, char *, char *, char *) {}
void fe_chan_list_end(server *) {}
// No ban window is ever waiting, so the core prints each entry as text.
gboolean fe_add_ban_list(session *, char *, char *, char *, int)
{
    return FALSE;
}
gboolean fe_ban_list_end(session *, int)
{
    return FALSE;
}
void fe_ignore_update(int) {}
void fe_notify_update(char *) {}
void fe_notify_ask(char *, char *) {}
void fe_pluginlist_update(void) {}
void fe_menu_add(menu_entry *) {}
void fe_menu_del(menu_entry *) {}
void fe_menu_update(menu_entry *) {}

// ---- DCC ------------------------------------------------------------------------------

void fe_dcc_add(DCC *) {}
void fe_dcc_update(DCC *) {}
void fe_dcc_remove(DCC *) {}
int fe_dcc_open_recv_win(int)
{
    return 0;
}
int fe_dcc_open_send_win(int)
{
    return 0;
}
int fe_dcc_open_chat_win(int)
{
    return 0;
}

void fe_dcc_send_filereq(session *sess, char *nick, int, int)
{
    // A graphical client would open a file chooser here.
    show_text(sess, printf_string(_("No file chooser here: give the file with /DCC SEND %s <file>\n"),
                                  nick ? nick : "<nick>"));
}

// An offered file is declined, as a cancelled save dialog would.
void fe_confirm(const char *, fe_confirm_callback, fe_confirm_callback noproc, void *user_data)
{
    if (noproc)
        fe_call_later([=] { noproc(user_data); });
}

// ---- questions: each takes its default answer ------------------------------------------

void fe_get_str(char *, char *def, fe_str_callback callback, void *user_data)
{
    std::string text = def ? def : "";
    fe_call_later([=]() mutable { callback(0, text.data(), user_data); });
}

void fe_get_password(char *, fe_str_callback callback, void *user_data)
{
    fe_call_later([=] {
        char empty[] = "";
        callback(1, empty, user_data);
    });
}

void fe_get_int(char *, int def, fe_int_callback callback, void *user_data)
{
    fe_call_later([=] { callback(0, def, user_data); });
}

void fe_get_bool(char *, char *, fe_bool_callback callback, void *user_data)
{
    fe_call_later([=] { callback(0, user_data); });
}

void fe_get_file(const char *, char *, fe_file_callback callback, void *user_data, int)
{
    fe_call_later([=] { callback(user_data, nullptr); });
}

void fe_open_url(const char *url)
{
    // A headless client cannot start a browser; the user can copy this.
    if (url)
        console_out(std::string(_("URL: ")) + url + "\n");
}

// ---- tray -----------------------------------------------------------------------------

void fe_tray_set_icon(int) {}
void fe_tray_set_flash(const char *, const char *, int) {}
void fe_tray_set_file(const char *) {}
void fe_tray_set_tooltip(const char *) {}
