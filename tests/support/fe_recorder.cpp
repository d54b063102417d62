// The recording front end (see fe_recorder.h). State lives in function-local
// statics because the GoogleTest listener is installed from a static
// initializer, before any other global of this file is guaranteed to exist.
#include "fe_recorder.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe-common/mainloop.h"
#include "fe.h"
#include "net/server.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace fe_recorder
{
namespace
{

// A failing test prints at most this many calls (the most recent ones): a
// test that spun the main loop for long can log thousands of timer calls.
constexpr std::size_t MAX_DUMPED_CALLS = 3000;

struct failure_mark {
    std::size_t position; // number of calls logged when the assertion failed
    std::string where;
};

struct recorder_state {
    std::vector<call> log;
    // Raw texts, apart from the escaped argument text of the log.
    std::vector<std::pair<const session *, std::string>> printed;
    std::vector<std::string> messages;
    std::vector<failure_mark> failures;
    std::map<const session *, std::string> input_text;
    std::map<const session *, int> input_cursor;
    answers canned;
    bool colors_save_fails = false;
    int window_state = 1;
    bool exit_requested = false;
    bool dump_on_failure = true;
    GMainLoop *loop = nullptr;
};

recorder_state &state()
{
    static recorder_state s;
    return s;
}

// C-like escaping that keeps UTF-8 readable: only control bytes, quotes and
// backslashes are escaped, so formatting codes show up as \x02, \x03 ...
std::string quote(const char *text)
{
    if (!text)
        return "null";
    std::string out = "\"";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        switch (*p) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (*p < 0x20 || *p == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02x", *p);
                out += buf;
            } else {
                out += static_cast<char>(*p);
            }
        }
    }
    return out + "\"";
}

std::string name_of(const session *sess)
{
    if (!sess)
        return "null";
    if (sess->channel[0])
        return sess->channel;
    return sess->type == SESS_SERVER ? "(server tab)" : "(unnamed)";
}

std::string name_of(const server *serv)
{
    if (!serv)
        return "null";
    if (serv->hostname[0])
        return std::string("server ") + serv->hostname;
    return "(server)";
}

std::string num(long long v)
{
    return std::to_string(v);
}

template <typename... Parts> std::string join(const Parts &...parts)
{
    std::string out;
    ((out += (out.empty() ? "" : ", "), out += parts), ...);
    return out;
}

void record(const char *name, std::string args, session *sess = nullptr, server *serv = nullptr)
{
    if (!serv && sess)
        serv = sess->server;
    state().log.push_back(call{name, std::move(args), sess, serv});
}

// ---- failure dump ------------------------------------------------------

class dump_listener : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override
    {
        reset();
        state().failures.clear();
    }
    void OnTestPartResult(const ::testing::TestPartResult &result) override
    {
        if (!result.failed())
            return;
        std::string where = result.file_name() ? result.file_name() : "?";
        where += ":" + std::to_string(result.line_number());
        state().failures.push_back({state().log.size(), std::move(where)});
    }
    void OnTestEnd(const ::testing::TestInfo &info) override
    {
        if (!state().dump_on_failure || !info.result()->Failed())
            return;
        std::fputs(dump().c_str(), stdout);
        std::fflush(stdout);
    }
};

void record_loop_call(const char *function, const std::string &args)
{
    record(function, args);
}

void loop_callback_threw(const char *what)
{
    ADD_FAILURE() << "a " << what << " callback threw";
}

[[maybe_unused]] const bool listener_installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new dump_listener);
    // Timers and watches run on the shared main-loop code; the log still
    // shows every call the core made.
    fe_loop_set_trace(record_loop_call);
    fe_loop_set_failure_hook(loop_callback_threw);
    return true;
}();

} // namespace

std::ostream &operator<<(std::ostream &os, const call &c)
{
    return os << c.text();
}

void reset()
{
    recorder_state &s = state();
    s.log.clear();
    s.printed.clear();
    s.messages.clear();
    s.input_text.clear();
    s.input_cursor.clear();
    s.canned = answers{};
    s.colors_save_fails = false;
    s.window_state = 1;
    s.exit_requested = false;
}

const std::vector<call> &calls()
{
    return state().log;
}

std::vector<call> calls_named(std::string_view name)
{
    std::vector<call> out;
    for (const call &c : state().log)
        if (c.name == name)
            out.push_back(c);
    return out;
}

int count(std::string_view name)
{
    return static_cast<int>(
        std::count_if(state().log.begin(), state().log.end(), [&](const call &c) { return c.name == name; }));
}

std::vector<std::string> printed(const session *sess)
{
    std::vector<std::string> out;
    for (const auto &[owner, text] : state().printed)
        if (owner == sess)
            out.push_back(text);
    return out;
}

std::vector<std::string> printed_text()
{
    std::vector<std::string> out;
    for (const auto &entry : state().printed)
        out.push_back(entry.second);
    return out;
}

std::string strip_codes(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\002':
        case '\007':
        case '\010':
        case '\017':
        case '\026':
        case '\035':
        case '\036':
        case '\037':
            continue;
        case '\003': {
            auto digits = [&](std::size_t at) {
                std::size_t n = 0;
                while (n < 2 && at + n < text.size() && g_ascii_isdigit(text[at + n]))
                    ++n;
                return n;
            };
            std::size_t j = i + 1;
            j += digits(j);
            if (j + 1 < text.size() && text[j] == ',' && g_ascii_isdigit(text[j + 1]))
                j += 1 + digits(j + 1);
            i = j - 1;
            continue;
        }
        default:
            out += c;
        }
    }
    return out;
}

std::vector<std::string> shown(const session *sess)
{
    std::vector<std::string> lines;
    for (const std::string &text : printed(sess)) {
        const std::string plain = strip_codes(text);
        std::size_t start = 0;
        while (start < plain.size()) {
            std::size_t end = plain.find('\n', start);
            if (end == std::string::npos)
                end = plain.size();
            lines.push_back(plain.substr(start, end - start));
            start = end + 1;
        }
    }
    return lines;
}

bool was_shown(const session *sess, std::string_view needle)
{
    for (const std::string &line : shown(sess))
        if (line.find(needle) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> messages()
{
    return state().messages;
}

std::string dump()
{
    const recorder_state &s = state();
    std::string out = "---- front-end calls of this test (" + std::to_string(s.log.size()) + ") ----\n";
    std::size_t first = 0;
    if (s.log.size() > MAX_DUMPED_CALLS) {
        first = s.log.size() - MAX_DUMPED_CALLS;
        out += "  (" + std::to_string(first) + " earlier calls not shown)\n";
    }
    auto marks_at = [&](std::size_t position) {
        for (const failure_mark &m : s.failures)
            if (m.position == position)
                out += "  >>> assertion failed at " + m.where + "\n";
    };
    for (std::size_t i = first; i < s.log.size(); ++i) {
        marks_at(i);
        out += "  " + s.log[i].text() + "\n";
    }
    marks_at(s.log.size());
    out += "---- end of front-end calls ----\n";
    return out;
}

void set_answers(const answers &a)
{
    state().canned = a;
}
void set_colors_save_fails(bool fails)
{
    state().colors_save_fails = fails;
}
void set_window_state(int st)
{
    state().window_state = st;
}
void set_dump_on_failure(bool on)
{
    state().dump_on_failure = on;
}
bool exit_requested()
{
    return state().exit_requested;
}

bool run_until(const std::function<bool()> &done, int timeout_ms)
{
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
    while (!done()) {
        if (g_get_monotonic_time() >= deadline)
            return done();
        // Non-blocking iterations with a short nap keep the deadline exact
        // even when no source is due for a long time.
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return true;
}

void run_for(int ms)
{
    run_until([] { return false; }, ms);
}

void cancel_sources()
{
    fe_sources_cancel_all();
}

} // namespace fe_recorder

using namespace fe_recorder;

// ---- start-up, main loop and exit ----------------------------------------

int fe_args(int argc, char *argv[])
{
    std::string args = num(argc);
    for (int i = 0; i < argc; ++i)
        args += ", " + quote(argv[i]);
    record("fe_args", args);
    return lumenwick_parse_args(argc, argv, nullptr);
}

void fe_init(void)
{
    record("fe_init", "");
}

void fe_main(void)
{
    record("fe_main", "");
    auto &s = state();
    if (s.exit_requested)
        return;
    s.loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(s.loop);
    g_main_loop_unref(s.loop);
    s.loop = nullptr;
}

void fe_exit(void)
{
    record("fe_exit", "");
    auto &s = state();
    s.exit_requested = true;
    if (s.loop)
        g_main_loop_quit(s.loop);
}

void fe_cleanup(void)
{
    record("fe_cleanup", "");
}

save_result fe_preferences_persistence_save_all(void)
{
    record("fe_preferences_persistence_save_all", "");
    // There is no colours file yet; a test can make preparing it fail.
    static const colors_saver failing_colors = {
        [](char **temp) {
            *temp = nullptr;
            return 0;
        },
        [](const char *) { return 1; },
        [](const char *) {},
    };
    return save_config_with_colors(state().colors_save_fails ? &failing_colors : nullptr);
}

int fe_play_sound(const char *file)
{
    record("fe_play_sound", quote(file));
    return 0;
}

const char *fe_get_default_font(void)
{
    record("fe_get_default_font", "");
    return nullptr;
}

// ---- sessions and windows -----------------------------------------------------

void fe_new_window(session *sess, int focus)
{
    record("fe_new_window", join(name_of(sess), num(focus)), sess);
    if (focus || !current_sess) {
        current_sess = sess;
        current_tab = sess;
    }
}

void fe_new_server(server *serv)
{
    record("fe_new_server", name_of(serv), nullptr, serv);
}

void fe_session_callback(session *sess)
{
    record("fe_session_callback", name_of(sess), sess);
    state().input_text.erase(sess);
    state().input_cursor.erase(sess);
}

void fe_server_callback(server *serv)
{
    record("fe_server_callback", name_of(serv), nullptr, serv);
}

void fe_close_window(session *sess)
{
    record("fe_close_window", name_of(sess), sess);
    if (sess)
        session_free(sess);
}

void fe_set_title(session *sess)
{
    record("fe_set_title", name_of(sess), sess);
}
void fe_set_channel(session *sess)
{
    record("fe_set_channel", name_of(sess), sess);
}
void fe_set_nonchannel(session *sess, int st)
{
    record("fe_set_nonchannel", join(name_of(sess), num(st)), sess);
}
void fe_clear_channel(session *sess)
{
    record("fe_clear_channel", name_of(sess), sess);
}

void fe_set_topic(session *sess, char *topic, char *stripped_topic)
{
    record("fe_set_topic", join(name_of(sess), quote(topic), quote(stripped_topic)), sess);
}

void fe_set_nick(server *serv, char *newnick)
{
    record("fe_set_nick", join(name_of(serv), quote(newnick)), nullptr, serv);
}
void fe_set_away(server *serv)
{
    record("fe_set_away", name_of(serv), nullptr, serv);
}
void fe_update_channel_key(session *sess)
{
    record("fe_update_channel_key", name_of(sess), sess);
}
void fe_update_channel_limit(session *sess)
{
    record("fe_update_channel_limit", name_of(sess), sess);
}

void fe_update_mode_buttons(session *sess, char mode, char sign)
{
    record("fe_update_mode_buttons", join(name_of(sess), std::string(1, sign) + std::string(1, mode)), sess);
}

void fe_buttons_update(session *sess)
{
    record("fe_buttons_update", name_of(sess), sess);
}
void fe_dlgbuttons_update(session *sess)
{
    record("fe_dlgbuttons_update", name_of(sess), sess);
}

void fe_ctrl_gui(session *sess, fe_gui_action action, int arg)
{
    record("fe_ctrl_gui", join(name_of(sess), num(action), num(arg)), sess);
    if (action == FE_GUI_FOCUS && sess) {
        current_sess = sess;
        current_tab = sess;
    }
}

int fe_gui_info(session *sess, int info_type)
{
    record("fe_gui_info", join(name_of(sess), num(info_type)), sess);
    return info_type == 0 ? state().window_state : -1;
}

void *fe_gui_info_ptr(session *sess, int info_type)
{
    record("fe_gui_info_ptr", join(name_of(sess), num(info_type)), sess);
    return nullptr;
}

void fe_flash_window(session *sess)
{
    record("fe_flash_window", name_of(sess), sess);
}
void fe_beep(void)
{
    record("fe_beep", "");
}

void fe_server_event(server *serv, int type, int arg)
{
    record("fe_server_event", join(name_of(serv), num(type), num(arg)), nullptr, serv);
}

void fe_progressbar_start(session *sess)
{
    record("fe_progressbar_start", name_of(sess), sess);
}
void fe_progressbar_end(server *serv)
{
    record("fe_progressbar_end", name_of(serv), nullptr, serv);
}
void fe_set_lag(server *serv, long lag)
{
    record("fe_set_lag", join(name_of(serv), num(lag)), nullptr, serv);
}
void fe_set_throttle(server *serv)
{
    record("fe_set_throttle", name_of(serv), nullptr, serv);
}
void fe_serverlist_open(session *sess)
{
    record("fe_serverlist_open", name_of(sess), sess);
}

// ---- text output --------------------------------------------------------------

void fe_print_text(session *sess, char *text, time_t stamp, gboolean no_activity)
{
    std::string args = join(name_of(sess), quote(text));
    if (stamp)
        args += ", stamp=" + num(static_cast<long long>(stamp));
    if (no_activity)
        args += ", no_activity";
    record("fe_print_text", std::move(args), sess);
    state().printed.emplace_back(sess, text ? text : "");
}

void fe_text_clear(session *sess, int lines)
{
    record("fe_text_clear", join(name_of(sess), num(lines)), sess);
}

void fe_lastlog(session *sess, session *lastlog_sess, char *sstr, int flags)
{
    record("fe_lastlog", join(name_of(sess), name_of(lastlog_sess), quote(sstr), num(flags)), sess);
}

void fe_add_rawlog(server *serv, char *text, int len, int outbound)
{
    const std::string line = text ? std::string(text, static_cast<std::size_t>(std::max(len, 0))) : std::string();
    record("fe_add_rawlog", join(name_of(serv), quote(line.c_str()), outbound ? "out" : "in"), nullptr, serv);
}

void fe_url_add(const char *text)
{
    record("fe_url_add", quote(text));
}

void fe_message(const char *msg, int flags)
{
    record("fe_message", join(quote(msg), num(flags)));
    state().messages.emplace_back(msg ? msg : "");
}

// ---- input box ----------------------------------------------------------------

const char *fe_get_inputbox_contents(session *sess)
{
    record("fe_get_inputbox_contents", name_of(sess), sess);
    return state().input_text[sess].c_str();
}

int fe_get_inputbox_cursor(session *sess)
{
    record("fe_get_inputbox_cursor", name_of(sess), sess);
    return state().input_cursor[sess];
}

void fe_set_inputbox_contents(session *sess, char *text)
{
    record("fe_set_inputbox_contents", join(name_of(sess), quote(text)), sess);
    state().input_text[sess] = text ? text : "";
}

void fe_set_inputbox_cursor(session *sess, int delta, int pos)
{
    record("fe_set_inputbox_cursor", join(name_of(sess), num(delta), num(pos)), sess);
    int &cursor = state().input_cursor[sess];
    cursor = delta ? cursor + pos : pos;
}

// ---- user list ----------------------------------------------------------------

void fe_userlist_insert(session *sess, User *, gboolean sel)
{
    record("fe_userlist_insert", join(name_of(sess), num(sel)), sess);
}

int fe_userlist_remove(session *sess, User *)
{
    record("fe_userlist_remove", name_of(sess), sess);
    return 0;
}

void fe_userlist_rehash(session *sess, User *)
{
    record("fe_userlist_rehash", name_of(sess), sess);
}
void fe_userlist_numbers(session *sess)
{
    record("fe_userlist_numbers", name_of(sess), sess);
}
void fe_userlist_clear(session *sess)
{
    record("fe_userlist_clear", name_of(sess), sess);
}
void fe_userlist_set_selected(session *sess)
{
    record("fe_userlist_set_selected", name_of(sess), sess);
}

void fe_uselect(session *sess, char *word[], int do_clear, int scroll_to)
{
    std::string nicks;
    for (int i = 0; word && word[i] && word[i][0]; ++i)
        nicks += (nicks.empty() ? "" : " ") + std::string(word[i]);
    record("fe_uselect", join(name_of(sess), quote(nicks.c_str()), num(do_clear), num(scroll_to)), sess);
}

void fe_set_typing(session *sess, const char *nick, const char *st)
{
    record("fe_set_typing", join(name_of(sess), quote(nick), quote(st)), sess);
}

void fe_userlist_update(session *sess, User *)
{
    record("fe_userlist_update", name_of(sess), sess);
}

// ---- channel list, ban lists, ignore, notify, plugins, menus ------------------

void fe_open_chan_list(server *serv, char *filter, int do_refresh)
{
    record("fe_open_chan_list", join(name_of(serv), quote(filter), num(do_refresh)), nullptr, serv);
}

int fe_is_chanwindow(server *serv)
{
    record("fe_is_chanwindow", name_of(serv), nullptr, serv);
    return 0;
}

void fe_add_chan_list(server *serv, char *chan, char *users, char *topic)
{
    record("fe_add_chan_list", join(name_of(serv), quote(chan), quote(users), quote(topic)), nullptr, serv);
}

void fe_chan_list_end(server *serv)
{
    record("fe_chan_list_end", name_of(serv), nullptr, serv);
}

gboolean fe_add_ban_list(session *sess, char *mask, char *who, char *when, int rplcode)
{
    record("fe_add_ban_list", join(name_of(sess), quote(mask), quote(who), quote(when), num(rplcode)), sess);
    return FALSE;
}

gboolean fe_ban_list_end(session *sess, int rplcode)
{
    record("fe_ban_list_end", join(name_of(sess), num(rplcode)), sess);
    return FALSE;
}

void fe_ignore_update(int level)
{
    record("fe_ignore_update", num(level));
}
void fe_notify_update(char *name)
{
    record("fe_notify_update", quote(name));
}
void fe_notify_ask(char *name, char *networks)
{
    record("fe_notify_ask", join(quote(name), quote(networks)));
}
void fe_pluginlist_update(void)
{
    record("fe_pluginlist_update", "");
}
void fe_menu_add(menu_entry *)
{
    record("fe_menu_add", "");
}
void fe_menu_del(menu_entry *)
{
    record("fe_menu_del", "");
}
void fe_menu_update(menu_entry *)
{
    record("fe_menu_update", "");
}

// ---- DCC ----------------------------------------------------------------------

void fe_dcc_add(DCC *)
{
    record("fe_dcc_add", "");
}
void fe_dcc_update(DCC *)
{
    record("fe_dcc_update", "");
}
void fe_dcc_remove(DCC *)
{
    record("fe_dcc_remove", "");
}

int fe_dcc_open_recv_win(int passive)
{
    record("fe_dcc_open_recv_win", num(passive));
    return 0;
}

int fe_dcc_open_send_win(int passive)
{
    record("fe_dcc_open_send_win", num(passive));
    return 0;
}

int fe_dcc_open_chat_win(int passive)
{
    record("fe_dcc_open_chat_win", num(passive));
    return 0;
}

void fe_dcc_send_filereq(session *sess, char *nick, int maxcps, int passive)
{
    record("fe_dcc_send_filereq", join(name_of(sess), quote(nick), num(maxcps), num(passive)), sess);
}

void fe_confirm(const char *message, fe_confirm_callback yesproc, fe_confirm_callback noproc, void *user_data)
{
    record("fe_confirm", quote(message));
    const bool accept = !state().canned.cancelled;
    fe_call_later([=] {
        if (fe_confirm_callback fn = accept ? yesproc : noproc)
            fn(user_data);
    });
}

// ---- questions ------------------------------------------------------------------

void fe_get_str(char *prompt, char *def, fe_str_callback callback, void *user_data)
{
    record("fe_get_str", join(quote(prompt), quote(def)));
    const answers &a = state().canned;
    std::string text = a.text.value_or(def ? def : "");
    const int cancelled = a.cancelled;
    fe_call_later([=]() mutable { callback(cancelled, text.data(), user_data); });
}

void fe_get_password(char *prompt, fe_str_callback callback, void *user_data)
{
    record("fe_get_password", quote(prompt));
    const answers &a = state().canned;
    std::string text = a.text.value_or("");
    const int cancelled = a.cancelled;
    fe_call_later([=]() mutable { callback(cancelled, text.data(), user_data); });
}

void fe_get_int(char *prompt, int def, fe_int_callback callback, void *user_data)
{
    record("fe_get_int", join(quote(prompt), num(def)));
    const answers &a = state().canned;
    const int value = a.number.value_or(def);
    const int cancelled = a.cancelled;
    fe_call_later([=] { callback(cancelled, value, user_data); });
}

void fe_get_bool(char *title, char *prompt, fe_bool_callback callback, void *user_data)
{
    record("fe_get_bool", join(quote(title), quote(prompt)));
    const int yes = state().canned.yes;
    fe_call_later([=] { callback(yes, user_data); });
}

void fe_get_file(const char *title, char *initial, fe_file_callback callback, void *user_data, int flags)
{
    record("fe_get_file", join(quote(title), quote(initial), num(flags)));
    const answers &a = state().canned;
    std::vector<std::string> files;
    if (!a.cancelled)
        files = a.files;
    fe_call_later([=]() mutable {
        // A cancelled chooser reports once with no path.
        if (files.empty()) {
            callback(user_data, nullptr);
            return;
        }
        for (std::string &path : files)
            callback(user_data, path.data());
    });
}

void fe_open_url(const char *url)
{
    record("fe_open_url", quote(url));
}

// ---- tray -------------------------------------------------------------------------

void fe_tray_set_icon(int icon)
{
    record("fe_tray_set_icon", num(icon));
}

void fe_tray_set_flash(const char *filename1, const char *filename2, int timeout)
{
    record("fe_tray_set_flash", join(quote(filename1), quote(filename2), num(timeout)));
}

void fe_tray_set_file(const char *filename)
{
    record("fe_tray_set_file", quote(filename));
}
void fe_tray_set_tooltip(const char *text)
{
    record("fe_tray_set_tooltip", quote(text));
}
