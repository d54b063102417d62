// Commands of the front end, commands that run in several tabs at once, and
// the commands of the DCC, ignore, notify, plugin and menu subsystems.

#include "commands/outbound-cmds.h"
#include "commands/outbound.h"

#include "base/history.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "config/menu.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "lists/ignore.h"
#include "lists/notify.h"
#include "net/server.h"
#include "output/text.h"
#include "plugins/plugin.h"
#include "session/session.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

// Private IPv4 ranges behind which a peer can rarely reach us: 10.0.0.0/8
// and 192.168.0.0/16 (host byte order).
constexpr uint32_t NET_10_MASK = 0xff000000u;
constexpr uint32_t NET_10 = 0x0a000000u;
constexpr uint32_t NET_192_168_MASK = 0xffff0000u;
constexpr uint32_t NET_192_168 = 0xc0a80000u;

// A tab's name is shown from a CHANLEN buffer.
constexpr std::size_t TAB_NAME_MAX = CHANLEN - 1;

const char LASTLOG_TAB[] = "(lastlog)";

// Word `i` of a command, "" past the last slot.
const char *arg(char *word[], int i)
{
    return i < PDIWORDS ? word[i] : "";
}

bool is_word(const char *text, const char *keyword)
{
    return g_ascii_strcasecmp(text, keyword) == 0;
}

// A decimal number with an optional sign, all of `text`, within int range.
bool parse_int(const char *text, int *out)
{
    if (!text || !*text)
        return false;
    const char *digits = (*text == '-' || *text == '+') ? text + 1 : text;
    if (!g_ascii_isdigit(*digits))
        return false;
    errno = 0;
    char *end = nullptr;
    const long value = strtol(text, &end, 10);
    if (*end || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    *out = static_cast<int>(value);
    return true;
}

// Runs a command line in `sess` as typed there, without percent-code
// conversion; the line is copied because handlers may write into it.
void run_in(session *sess, const std::string &line)
{
    std::string copy = line;
    handle_command(sess, copy.data(), false);
}

// Running a command may close any tab, so the tabs to visit are chosen
// first and each one is checked to still exist right before its turn.
template <typename Wanted> std::vector<session *> snapshot_sessions(Wanted wanted)
{
    std::vector<session *> out;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (wanted(s))
            out.push_back(s);
    }
    return out;
}

bool is_live_channel(const session *s)
{
    return s->type == SESS_CHANNEL && s->channel[0] && s->server->connected;
}

int run_in_channels(session *sess, char *word_eol[], bool this_server_only)
{
    const std::string command = word_eol[2];
    if (command.empty())
        return CMD_WRONG_USAGE;
    server *serv = sess->server;
    const std::vector<session *> targets = snapshot_sessions(
        [&](const session *s) { return is_live_channel(s) && (!this_server_only || s->server == serv); });
    for (session *s : targets) {
        if (is_session(s) && is_live_channel(s))
            run_in(s, command);
    }
    return CMD_DONE;
}

// ---- questions to the user ------------------------------------------------------------

// The command a /GET* question runs with its answer, in the tab that asked.
struct answer_request {
    session *sess;
    std::string command;
    bool release_scheduled = false;
};

void run_answer(const answer_request *req, const std::string &suffix)
{
    // The tab may have been closed while the question was open.
    if (!is_session(req->sess))
        return;
    run_in(req->sess, req->command + suffix);
}

void on_bool_answer(int yes, void *data)
{
    auto *req = static_cast<answer_request *>(data);
    run_answer(req, yes ? " 1" : " 0");
    delete req;
}

void on_int_answer(int cancelled, int value, void *data)
{
    auto *req = static_cast<answer_request *>(data);
    if (!cancelled)
        run_answer(req, " " + std::to_string(value));
    delete req;
}

void on_str_answer(int cancelled, char *text, void *data)
{
    auto *req = static_cast<answer_request *>(data);
    if (!cancelled)
        run_answer(req, std::string(" ") + (text ? text : ""));
    delete req;
}

int release_file_request(void *data) noexcept
{
    delete static_cast<answer_request *>(data);
    return 0;
}

// A chooser of several files calls once per file, all from one response;
// the request is released from the main loop after the last of them.
void on_file_answer(void *data, char *file)
{
    auto *req = static_cast<answer_request *>(data);
    run_answer(req, file ? std::string(" ") + file : std::string());
    if (!req->release_scheduled) {
        req->release_scheduled = true;
        fe_idle_add(release_file_request, req);
    }
}

// ---- ignore -----------------------------------------------------------------------------

struct ignore_word {
    const char *name;
    unsigned int type;
};
constexpr unsigned int IG_ALL = IG_PRIV | IG_NOTI | IG_CHAN | IG_CTCP | IG_INVI | IG_DCC;
constexpr ignore_word ignore_words[] = {
    {"UNIGNORE", IG_UNIG}, {"ALL", IG_ALL},   {"PRIV", IG_PRIV}, {"NOTI", IG_NOTI},     {"CHAN", IG_CHAN},
    {"CTCP", IG_CTCP},     {"INVI", IG_INVI}, {"DCC", IG_DCC},   {"NOSAVE", IG_NOSAVE},
};

// A bare nick means everyone using it: "nick" becomes "nick!*@*".
std::string complete_ignore_mask(const char *mask)
{
    if (strpbrk(mask, "!@?*"))
        return mask;
    return std::string(mask) + "!*@*";
}

// ---- menus ------------------------------------------------------------------------------

// The options of /MENU before ADD or DEL.
struct menu_options {
    int kind = MENU_ITEM_NORMAL;
    int state = 0;
    int enabled = 1;
    int pos = MENU_POS_APPEND;
    int modifier = 0;
    int key = 0;
    bool markup = false;
    std::string icon;
    std::string group;
};

// "<mod>,<key>": a modifier mask and a key value, or a single character
// standing for its own key value.
bool parse_accelerator(const char *text, menu_options &opt)
{
    const char *comma = strchr(text, ',');
    if (!comma || !comma[1])
        return false;
    const std::string mod(text, static_cast<std::size_t>(comma - text));
    if (!parse_int(mod.c_str(), &opt.modifier) || opt.modifier < 0)
        return false;
    const char *key = comma + 1;
    if (!key[1] && !g_ascii_isdigit(*key) && static_cast<unsigned char>(*key) < 0x80) {
        opt.key = static_cast<unsigned char>(*key);
        return true;
    }
    return parse_int(key, &opt.key) && opt.key > 0;
}

// Parses one "-x..." option; false when it is not a valid one.
bool parse_menu_option(const char *word, menu_options &opt)
{
    const char *value = word + 2;
    switch (word[1]) {
    case 'e':
        if (!parse_int(value, &opt.enabled))
            return false;
        opt.enabled = opt.enabled != 0;
        return true;
    case 'i':
        opt.icon = value;
        return !opt.icon.empty();
    case 'k':
        return parse_accelerator(value, opt);
    case 'm':
        opt.markup = true;
        return !*value;
    case 'p':
        return parse_int(value, &opt.pos);
    case 'r': {
        const char *comma = strchr(value, ',');
        if (!comma || !comma[1])
            return false;
        const std::string state(value, static_cast<std::size_t>(comma - value));
        if (!parse_int(state.c_str(), &opt.state))
            return false;
        opt.state = opt.state != 0;
        opt.group = comma + 1;
        opt.kind = MENU_ITEM_RADIO;
        return true;
    }
    case 't':
        if (!parse_int(value, &opt.state))
            return false;
        opt.state = opt.state != 0;
        opt.kind = MENU_ITEM_TOGGLE;
        return true;
    default:
        return false;
    }
}

char *dup_or_null(const std::string &text)
{
    return text.empty() ? nullptr : g_strdup(text.c_str());
}

// ---- plugins ----------------------------------------------------------------------------

bool names_plugin_file(const char *name)
{
    return g_str_has_suffix(name, ".so");
}

// A path as the user typed it, with "~" at its start expanded.
std::string expand_path(const char *path)
{
    if (path[0] != '~')
        return path;
    char *expanded = expand_homedir(path);
    std::string out = expanded ? expanded : path;
    g_free(expanded);
    return out;
}

} // namespace

// ---- buttons ----------------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_addbutton)
{
    if (!word[2][0] || !word_eol[3][0])
        return CMD_WRONG_USAGE;
    // The list files keep no more than this; a longer button would come
    // back cut short the next time the list is loaded.
    if (strlen(word[2]) > LIST_NAME_MAX || strlen(word_eol[3]) > LIST_CMD_MAX) {
        PrintTextf(sess, _("A button name may have at most %d bytes and its action %d bytes.\n"), LIST_NAME_MAX,
                   LIST_CMD_MAX);
        return CMD_DONE;
    }
    if (sess->type == SESS_DIALOG) {
        list_addentry(&dlgbutton_list, word_eol[3], word[2]);
        fe_dlgbuttons_update(sess);
    } else {
        list_addentry(&button_list, word_eol[3], word[2]);
        fe_buttons_update(sess);
    }
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_delbutton)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    if (sess->type == SESS_DIALOG) {
        if (list_delentry(&dlgbutton_list, word[2]))
            fe_dlgbuttons_update(sess);
    } else {
        if (list_delentry(&button_list, word[2]))
            fe_buttons_update(sess);
    }
    return CMD_DONE;
}

// ---- several tabs at once -----------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_allchan)
{
    return run_in_channels(sess, word_eol, false);
}

LUMENWICK_COMMAND_HANDLER(cmd_allchanl)
{
    return run_in_channels(sess, word_eol, true);
}

LUMENWICK_COMMAND_HANDLER(cmd_allserv)
{
    const std::string command = word_eol[2];
    if (command.empty())
        return CMD_WRONG_USAGE;
    std::vector<session *> fronts;
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        session *front = serv->recent_session ? serv->recent_session : serv->home_session;
        if (serv->connected && front)
            fronts.push_back(front);
    }
    for (session *s : fronts) {
        if (is_session(s) && s->server->connected)
            run_in(s, command);
    }
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_doat)
{
    if (!word[2][0] || !word_eol[3][0])
        return CMD_WRONG_USAGE;
    const std::string command = word_eol[3];

    // Items: "#chan", "#chan/network" or "/network".
    std::vector<session *> targets;
    gchar **items = g_strsplit(word[2], ",", -1);
    for (gchar **item = items; *item; item++) {
        if (!**item)
            continue;
        std::string channel = *item;
        std::string network;
        const std::size_t slash = channel.find('/');
        if (slash != std::string::npos) {
            network = channel.substr(slash + 1);
            channel.resize(slash);
        }
        session *target = plugin_find_context(network.empty() ? nullptr : network.c_str(),
                                              channel.empty() ? nullptr : channel.c_str(), sess->server);
        if (target)
            targets.push_back(target);
        else
            PrintTextf(sess, _("No tab matches %s.\n"), *item);
    }
    g_strfreev(items);

    for (session *s : targets) {
        if (is_session(s))
            run_in(s, command);
    }
    return CMD_DONE;
}

// ---- text and tabs ----------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_clear)
{
    const char *what = word[2];
    if (!what[0]) {
        fe_text_clear(sess, 0);
        return CMD_DONE;
    }
    if (is_word(what, "HISTORY")) {
        history_free(&sess->input_history);
        return CMD_DONE;
    }
    if (g_ascii_strncasecmp(what, "ALL", 3) == 0) {
        for (session *s : snapshot_sessions([](const session *s) { return !s->has_highlight; })) {
            if (is_session(s))
                fe_text_clear(s, 0);
        }
        return CMD_DONE;
    }
    int lines;
    if (!parse_int(what, &lines) || what[0] == '+')
        return CMD_WRONG_USAGE;
    fe_text_clear(sess, lines);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_close)
{
    if (strcmp(word[2], "-m") == 0) {
        for (session *s : snapshot_sessions([](const session *s) { return s->type == SESS_DIALOG; })) {
            if (is_session(s) && s->type == SESS_DIALOG)
                fe_close_window(s);
        }
        return CMD_DONE;
    }
    if (word_eol[2][0]) {
        g_free(sess->quit_reason);
        sess->quit_reason = g_strdup(word_eol[2]);
    }
    fe_close_window(sess);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_lastlog)
{
    int flags = 0;
    int i = 2;
    for (; i < PDIWORDS && word[i][0] == '-'; i++) {
        if (strcmp(word[i], "--") == 0) {
            i++;
            break;
        }
        if (strcmp(word[i], "-h") == 0)
            flags |= LASTLOG_HIGHLIGHT;
        else if (strcmp(word[i], "-m") == 0)
            flags |= LASTLOG_MATCHCASE;
        else if (strcmp(word[i], "-r") == 0)
            flags |= LASTLOG_REGEXP;
        else
            break; // the search text itself starts with "-"
    }
    std::string pattern = i < PDIWORDS ? word_eol[i] : "";
    if (pattern.empty())
        return CMD_WRONG_USAGE;

    // Searching from the results tab searches the tab it shows results of.
    session *source = sess;
    if (sess->type == SESS_DIALOG && strcmp(sess->channel, LASTLOG_TAB) == 0 &&
        is_session(sess->search_results_session))
        source = sess->search_results_session;

    session *results = find_dialog(source->server, LASTLOG_TAB);
    if (!results)
        results = new_ircwindow(source->server, LASTLOG_TAB, SESS_DIALOG, 0);
    if (!results || !is_session(source))
        return CMD_DONE;
    results->search_results_session = source;
    results->search_flags = flags;
    fe_text_clear(results, 0);
    fe_lastlog(source, results, pattern.data(), flags);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_setcursor)
{
    int position;
    if (!parse_int(word[2], &position))
        return CMD_WRONG_USAGE;
    const bool relative = word[2][0] == '+' || word[2][0] == '-';
    fe_set_inputbox_cursor(sess, relative, position);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_settext)
{
    fe_set_inputbox_contents(sess, word_eol[2]);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_settab)
{
    if (!word_eol[2][0])
        return CMD_WRONG_USAGE;
    // The front end names the tab from `channel`: show the new name there
    // for the call and put the real name back.
    char real_name[CHANLEN];
    memcpy(real_name, sess->channel, sizeof real_name);
    safe_strcpy(sess->channel, word_eol[2], TAB_NAME_MAX + 1);
    fe_set_channel(sess);
    memcpy(sess->channel, real_name, sizeof real_name);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_gui)
{
    const char *what = word[2];
    if (is_word(what, "HIDE"))
        fe_ctrl_gui(sess, FE_GUI_HIDE, 0);
    else if (is_word(what, "SHOW"))
        fe_ctrl_gui(sess, FE_GUI_SHOW, 0);
    else if (is_word(what, "FOCUS"))
        fe_ctrl_gui(sess, FE_GUI_FOCUS, 0);
    else if (is_word(what, "FLASH"))
        fe_ctrl_gui(sess, FE_GUI_FLASH, 0);
    else if (is_word(what, "ICONIFY"))
        fe_ctrl_gui(sess, FE_GUI_ICONIFY, 0);
    else if (is_word(what, "APPLY"))
        fe_ctrl_gui(sess, FE_GUI_APPLY, 0);
    else if (is_word(what, "ATTACH"))
        fe_ctrl_gui(sess, FE_GUI_ATTACH, 2);
    else if (is_word(what, "DETACH"))
        fe_ctrl_gui(sess, FE_GUI_ATTACH, 1);
    else if (is_word(what, "MENU") && is_word(word[3], "TOGGLE"))
        fe_ctrl_gui(sess, FE_GUI_MENU, 0);
    else if (is_word(what, "COLOR")) {
        int level;
        if (!parse_int(word[3], &level) || level < FE_COLOR_NONE || level > FE_COLOR_NEW_HILIGHT)
            return CMD_WRONG_USAGE;
        if (is_word(word[4], "-NOOVERRIDE"))
            level += FE_COLOR_NO_OVERRIDE;
        else if (word[4][0])
            return CMD_WRONG_USAGE;
        fe_ctrl_gui(sess, FE_GUI_COLOR, level);
    } else if (is_word(what, "MSGBOX") && word_eol[3][0])
        fe_message(word_eol[3], FE_MSG_INFO | FE_MSG_MARKUP);
    else
        return CMD_WRONG_USAGE;
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_splay)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    sound_play(word[2], false);
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_tray)
{
    const char *flag = word[2];
    if (is_word(flag, "-t")) {
        if (!word_eol[3][0])
            return CMD_WRONG_USAGE;
        fe_tray_set_tooltip(word_eol[3]);
        return CMD_DONE;
    }
    if (is_word(flag, "-i")) {
        int icon;
        if (!parse_int(word[3], &icon))
            return CMD_WRONG_USAGE;
        fe_tray_set_icon(icon);
        return CMD_DONE;
    }
    if (is_word(flag, "-f")) {
        if (!word[3][0]) {
            fe_tray_set_file(nullptr); // back to the normal icon
            return CMD_DONE;
        }
        int timeout;
        if (parse_int(word[3], &timeout) && word[3][0] != '-' && word[3][0] != '+' && word[4][0]) {
            fe_tray_set_flash(word[4], word[5][0] ? word[5] : nullptr, timeout);
            return CMD_DONE;
        }
        fe_tray_set_file(word[3]);
        return CMD_DONE;
    }
    if (is_word(flag, "-b") && word[3][0] && word_eol[4][0]) {
        // The desktop-notification plugin takes this form before it gets
        // here; reaching the built-in means no such plugin is running.
        PrintText(sess, _("Tray balloons need desktop notifications, which are not running.\n"));
        return CMD_DONE;
    }
    return CMD_WRONG_USAGE;
}

// ---- questions ----------------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_getbool)
{
    if (!word[2][0] || !word[3][0])
        return CMD_WRONG_USAGE;
    fe_get_bool(word[3], word[4], on_bool_answer, new answer_request{sess, word[2]});
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_getint)
{
    int def;
    if (!parse_int(word[2], &def) || !word[3][0])
        return CMD_WRONG_USAGE;
    fe_get_int(word[4], def, on_int_answer, new answer_request{sess, word[3]});
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_getstr)
{
    if (!word[3][0])
        return CMD_WRONG_USAGE;
    fe_get_str(word[4], word[2], on_str_answer, new answer_request{sess, word[3]});
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_getfile)
{
    int flags = 0;
    int i = 2;
    for (; i < PDIWORDS && word[i][0] == '-'; i++) {
        if (strcmp(word[i], "-folder") == 0)
            flags |= FRF_CHOOSEFOLDER;
        else if (strcmp(word[i], "-multi") == 0)
            flags |= FRF_MULTIPLE;
        else if (strcmp(word[i], "-save") == 0)
            flags |= FRF_WRITE;
        else
            return CMD_WRONG_USAGE;
    }
    const char *command = arg(word, i);
    const char *title = arg(word, i + 1);
    const char *initial = arg(word, i + 2);
    if (!command[0] || !title[0])
        return CMD_WRONG_USAGE;
    std::string start = initial;
    fe_get_file(title, start.empty() ? nullptr : start.data(), on_file_answer, new answer_request{sess, command},
                flags);
    return CMD_DONE;
}

// ---- DCC ----------------------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_dcc)
{
    const char *sub = word[2];
    if (!sub[0] || is_word(sub, "LIST")) {
        dcc_show_list(sess);
        return CMD_DONE;
    }
    if (is_word(sub, "CLOSE")) {
        const char *type = word[3];
        const char *nick = word[4];
        const char *file = word[5];
        if (!nick[0])
            return CMD_WRONG_USAGE;
        std::vector<int> kinds;
        if (is_word(type, "SEND"))
            kinds = {DCC_KIND_SEND};
        else if (is_word(type, "GET"))
            kinds = {DCC_KIND_RECV};
        else if (is_word(type, "CHAT"))
            kinds = {DCC_KIND_CHAT_IN, DCC_KIND_CHAT_OUT};
        else
            return CMD_WRONG_USAGE;
        for (int kind : kinds) {
            if (DCC *dcc = find_dcc(nick, file, kind)) {
                dcc_abort(sess, dcc);
                return CMD_DONE;
            }
        }
        text_emit(XP_TE_NO_DCC, sess, nullptr, nullptr, nullptr, nullptr, 0);
        return CMD_DONE;
    }
    if (is_word(sub, "CHAT") || is_word(sub, "PCHAT")) {
        if (!word[3][0])
            return CMD_WRONG_USAGE;
        dcc_chat(sess, word[3], is_word(sub, "PCHAT"));
        return CMD_DONE;
    }
    if (is_word(sub, "SEND") || is_word(sub, "PSEND")) {
        const int passive = is_word(sub, "PSEND");
        int maxcps = prefs.dcc_max_send_cps;
        int i = 3;
        if (g_str_has_prefix(word[3], "-maxcps=")) {
            if (!parse_int(word[3] + strlen("-maxcps="), &maxcps) || maxcps < 0)
                return CMD_WRONG_USAGE;
            i++;
        }
        char *nick = word[i];
        if (!nick[0])
            return CMD_WRONG_USAGE;
        if (!arg(word, i + 1)[0]) {
            fe_dcc_send_filereq(sess, nick, maxcps, passive);
            return CMD_DONE;
        }
        for (int f = i + 1; f < PDIWORDS && word[f][0]; f++)
            dcc_send(sess, nick, word[f], maxcps, passive);
        return CMD_DONE;
    }
    if (is_word(sub, "GET")) {
        const char *nick = word[3];
        const char *file = word[4];
        if (!nick[0])
            return CMD_WRONG_USAGE;
        if (!file[0]) {
            dcc_get_nick(sess, nick);
            return CMD_DONE;
        }
        if (DCC *dcc = find_dcc(nick, file, DCC_KIND_RECV))
            dcc_get(dcc);
        else
            text_emit(XP_TE_NO_DCC, sess, nullptr, nullptr, nullptr, nullptr, 0);
        return CMD_DONE;
    }
    return CMD_WRONG_USAGE;
}

LUMENWICK_COMMAND_HANDLER(cmd_send)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    // Behind a private address the peer cannot reach us: let it listen.
    const uint32_t address = dcc_get_my_address(sess);
    const bool behind_nat = (address & NET_192_168_MASK) == NET_192_168 || (address & NET_10_MASK) == NET_10;
    run_in(sess, std::string(behind_nat ? "DCC PSEND " : "DCC SEND ") + word_eol[2]);
    return CMD_DONE;
}

// ---- ignore and notify --------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_ignore)
{
    if (!word[2][0]) {
        ignore_showlist(sess);
        return CMD_DONE;
    }
    unsigned int type = word[3][0] ? 0 : IG_ALL;
    bool quiet = false;
    for (int i = 3; i < PDIWORDS && word[i][0]; i++) {
        if (is_word(word[i], "QUIET")) {
            quiet = true;
            continue;
        }
        bool known = false;
        for (const ignore_word &w : ignore_words) {
            if (is_word(word[i], w.name)) {
                type |= w.type;
                known = true;
                break;
            }
        }
        if (!known)
            PrintTextf(sess, _("Unknown arg '%s' ignored.\n"), word[i]);
    }
    // NOSAVE alone says how to keep an entry, not what it ignores.
    if (!(type & ~static_cast<unsigned int>(IG_NOSAVE)))
        return CMD_WRONG_USAGE;

    const std::string mask = complete_ignore_mask(word[2]);
    switch (ignore_add(mask.c_str(), static_cast<int>(type), true)) {
    case 1:
        if (!quiet)
            text_emit(XP_TE_IGNORE_ADD, sess, mask.c_str(), nullptr, nullptr, nullptr, 0);
        break;
    case 2:
        if (!quiet)
            text_emit(XP_TE_IGNORE_CHANGED, sess, mask.c_str(), nullptr, nullptr, nullptr, 0);
        break;
    default:
        PrintTextf(sess, _("%s cannot be ignored.\n"), mask.c_str());
        break;
    }
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_unignore)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    const bool quiet = is_word(word[3], "QUIET");
    if (word[3][0] && !quiet)
        PrintTextf(sess, _("Unknown arg '%s' ignored.\n"), word[3]);

    const std::string mask = complete_ignore_mask(word[2]);
    switch (ignore_del(mask.c_str(), nullptr)) {
    case 1:
        if (!quiet)
            text_emit(XP_TE_IGNORE_REMOVE, sess, mask.c_str(), nullptr, nullptr, nullptr, 0);
        break;
    default:
        if (!quiet)
            PrintTextf(sess, _("%s is not on the ignore list.\n"), mask.c_str());
        break;
    }
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_notify)
{
    if (!word[2][0]) {
        notify_showlist(sess, nullptr);
        return CMD_DONE;
    }
    const char *networks = nullptr;
    int i = 2;
    if (strcmp(word[2], "-n") == 0) {
        networks = word[3];
        i = 4;
        if (!networks[0] || !word[i][0])
            return CMD_WRONG_USAGE;
    }
    const bool ask = networks && is_word(networks, "ASK");
    for (; i < PDIWORDS && word[i][0]; i++) {
        if (notify_deluser(word[i])) {
            text_emit(XP_TE_DELETE_NOTIFY, sess, word[i], nullptr, nullptr, nullptr, 0);
            return CMD_DONE;
        }
        if (ask) {
            fe_notify_ask(word[i], nullptr);
            continue;
        }
        if (notify_adduser(word[i], networks))
            text_emit(XP_TE_ADD_NOTIFY, sess, word[i], nullptr, nullptr, nullptr, 0);
        else
            PrintTextf(sess, _("%s cannot be added to the notify list.\n"), word[i]);
    }
    return CMD_DONE;
}

// ---- plugins ------------------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_load)
{
    if (strcmp(word[2], "-e") == 0) {
        if (!word[3][0])
            return CMD_WRONG_USAGE;
        const std::string file = expand_path(word[3]);
        if (!load_perform_file(sess, file.c_str())) {
            const int err = errno;
            // A relative name is looked up in the configuration directory.
            const std::string shown = g_path_is_absolute(file.c_str()) ? file : std::string(get_xdir()) + '/' + file;
            PrintTextf(sess, _("Cannot access %s\n"), shown.c_str());
            PrintTextf(sess, "%s\n", g_strerror(err));
        }
        return CMD_DONE;
    }
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    const std::string file = expand_path(word[2]);
    if (!names_plugin_file(file.c_str())) {
        PrintTextf(sess, _("Unknown file type %s. Maybe you need to install the Perl or Python plugin?\n"),
                   file.c_str());
        return CMD_WRONG_USAGE;
    }
    std::string argument = word_eol[3];
    if (const char *error = plugin_load(sess, file.c_str(), argument.empty() ? nullptr : argument.data())) {
        std::string shown = error;
        if (shown.empty() || shown.back() != '\n')
            shown += '\n';
        PrintText(sess, shown.c_str());
    }
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_unload)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    const bool by_file = names_plugin_file(word[2]);
    const std::string name = by_file ? expand_path(word[2]) : std::string(word[2]);
    switch (plugin_kill(name.c_str(), by_file)) {
    case 0:
        PrintText(sess, _("No such plugin found.\n"));
        break;
    case 2:
        PrintText(sess, _("That plugin is refusing to unload.\n"));
        break;
    default:
        break;
    }
    return CMD_DONE;
}

LUMENWICK_COMMAND_HANDLER(cmd_reload)
{
    if (!word[2][0])
        return CMD_WRONG_USAGE;
    const bool by_file = names_plugin_file(word[2]);
    const std::string name = by_file ? expand_path(word[2]) : std::string(word[2]);
    switch (plugin_reload(sess, name.c_str(), by_file)) {
    case 0:
        PrintText(sess, _("No such plugin found.\n"));
        break;
    case 2:
        PrintText(sess, _("That plugin cannot be reloaded.\n"));
        break;
    default:
        break;
    }
    return CMD_DONE;
}

// ---- menus ------------------------------------------------------------------------------

LUMENWICK_COMMAND_HANDLER(cmd_menu)
{
    menu_options opt;
    int i = 2;
    for (; i < PDIWORDS && word[i][0] == '-'; i++) {
        if (!parse_menu_option(word[i], opt))
            return CMD_WRONG_USAGE;
    }
    const char *action = arg(word, i);
    const char *full_path = arg(word, i + 1);
    if (!full_path[0])
        return CMD_WRONG_USAGE;

    // The last element is the item's label, the rest the menus leading to it.
    const char *label = file_part(full_path);
    const std::string path(full_path, static_cast<std::size_t>(label - full_path) - (label > full_path ? 1 : 0));
    if (!label[0] || (path.empty() && menu_root_of(label, nullptr) != MENU_ROOT_MAIN))
        return CMD_WRONG_USAGE;

    if (is_word(action, "DEL")) {
        menu_del(path.c_str(), label);
        return CMD_DONE;
    }
    if (!is_word(action, "ADD"))
        return CMD_WRONG_USAGE;

    auto *item = static_cast<menu_entry *>(g_malloc0(sizeof(menu_entry)));
    item->path = g_strdup(path.c_str());
    item->label = g_strdup(label);
    item->cmd = dup_or_null(arg(word, i + 2));
    item->ucmd = opt.kind == MENU_ITEM_TOGGLE ? dup_or_null(arg(word, i + 3)) : nullptr;
    item->group = dup_or_null(opt.group);
    item->icon = dup_or_null(opt.icon);
    item->kind = opt.kind;
    item->state = opt.state;
    item->enabled = opt.enabled;
    item->pos = opt.pos;
    item->modifier = opt.modifier;
    item->key = opt.key;
    item->markup = opt.markup;
    menu_add(item);
    return CMD_DONE;
}
