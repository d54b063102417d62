// The exported functions a plugin calls besides hooks, lists and
// preferences: printing, commands, contexts, information and settings.
#include "plugins/plugin-internal.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/modes.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

namespace
{

constexpr int MAX_EMIT_ARGS = 4;

// The plugin's context when it is still a live session.
session *valid_context(lumenwick_plugin *ph)
{
    plugin_record *pl = plugin_of(ph);
    return pl && is_session(pl->context) ? pl->context : nullptr;
}

// Told in the first tab when a plugin uses a context that was closed.
void complain_no_context(lumenwick_plugin *ph, const char *function)
{
    if (!sess_list)
        return;
    plugin_record *pl = plugin_of(ph);
    PrintTextf(static_cast<session *>(sess_list->data), "%s\t%s called without a valid context.\n",
               pl && pl->name ? pl->name : "", function);
}

std::string vformat(const char *format, va_list args)
{
    char *text = g_strdup_vprintf(format, args);
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

void print_in_context(lumenwick_plugin *ph, const char *text)
{
    session *sess = valid_context(ph);
    if (!sess) {
        complain_no_context(ph, "lumenwick_print");
        return;
    }
    PrintText(sess, text);
}

void command_in_context(lumenwick_plugin *ph, const char *command)
{
    session *sess = valid_context(ph);
    if (!sess) {
        complain_no_context(ph, "lumenwick_command");
        return;
    }
    char *line = text_fixup_invalid_utf8(command, -1, nullptr);
    handle_command(sess, line, false);
    g_free(line);
}

// Up to four texts after the event name, terminated by null.
int emit_print_args(lumenwick_plugin *ph, time_t stamp, const char *event_name, va_list args)
{
    const char *text[MAX_EMIT_ARGS] = {};
    for (int i = 0; i < MAX_EMIT_ARGS; i++) {
        text[i] = va_arg(args, const char *);
        if (!text[i])
            break;
    }
    session *sess = valid_context(ph);
    if (!sess || !event_name)
        return 0;
    return text_emit_by_name(event_name, sess, stamp, text[0], text[1], text[2], text[3]);
}

const char *session_info(session *sess, const char *id)
{
    server *serv = sess->server;
    if (strcmp(id, "away") == 0)
        return serv->away ? serv->last_away_text : nullptr;
    if (strcmp(id, "channel") == 0)
        return sess->channel;
    if (strcmp(id, "charset") == 0) {
        if (serv->encoding && serv->encoding[0])
            return serv->encoding;
        const char *locale = nullptr;
        g_get_charset(&locale);
        return locale;
    }
    if (strcmp(id, "host") == 0)
        return serv->hostname;
    if (strcmp(id, "inputbox") == 0)
        return fe_get_inputbox_contents(sess);
    if (strcmp(id, "modes") == 0)
        return sess->mode_string ? sess->mode_string : "";
    if (strcmp(id, "network") == 0)
        return server_get_network(serv, false);
    if (strcmp(id, "nick") == 0)
        return serv->nick;
    if (strcmp(id, "server") == 0)
        return serv->connected ? serv->announced_name : nullptr;
    if (strcmp(id, "topic") == 0)
        return sess->topic ? sess->topic : "";
    if (strcmp(id, "win_ptr") == 0)
        return static_cast<const char *>(fe_gui_info_ptr(sess, 0));
    if (strcmp(id, "gtkwin_ptr") == 0)
        return static_cast<const char *>(fe_gui_info_ptr(sess, 1));
    if (strcmp(id, "win_status") == 0) {
        switch (fe_gui_info(sess, 0)) {
        case 1:
            return "active";
        case 2:
            return "hidden";
        default:
            return "normal";
        }
    }
    return nullptr;
}

bool needs_context(const char *id)
{
    static const char *const ids[] = {"away", "channel", "charset", "host",    "inputbox",   "modes",     "network",
                                      "nick", "server",  "topic",   "win_ptr", "gtkwin_ptr", "win_status"};
    for (const char *known : ids) {
        if (strcmp(id, known) == 0)
            return true;
    }
    return false;
}

} // namespace

extern "C" {

void lumenwick_print(lumenwick_plugin *ph, const char *text)
{
    plugin_guard_void([&] {
        if (text)
            print_in_context(ph, text);
    });
}

void lumenwick_printf(lumenwick_plugin *ph, const char *format, ...)
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    std::string text = plugin_guard(std::string(), [&] { return vformat(format, args); });
    va_end(args);
    plugin_guard_void([&] { print_in_context(ph, text.c_str()); });
}

void lumenwick_command(lumenwick_plugin *ph, const char *command)
{
    plugin_guard_void([&] {
        if (command)
            command_in_context(ph, command);
    });
}

void lumenwick_commandf(lumenwick_plugin *ph, const char *format, ...)
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    std::string text = plugin_guard(std::string(), [&] { return vformat(format, args); });
    va_end(args);
    plugin_guard_void([&] { command_in_context(ph, text.c_str()); });
}

int lumenwick_nickcmp(lumenwick_plugin *ph, const char *s1, const char *s2)
{
    return plugin_guard(0, [&] {
        if (!s1 || !s2)
            return s1 == s2 ? 0 : (s1 ? 1 : -1);
        session *sess = valid_context(ph);
        if (sess && sess->server->p_cmp)
            return sess->server->p_cmp(s1, s2);
        return rfc_casecmp(s1, s2);
    });
}

int lumenwick_set_context(lumenwick_plugin *ph, lumenwick_context *ctx)
{
    return plugin_guard(0, [&] {
        session *sess = session_of(ctx);
        if (!ph || !is_session(sess))
            return 0;
        plugin_of(ph)->context = sess;
        return 1;
    });
}

lumenwick_context *lumenwick_find_context(lumenwick_plugin *ph, const char *servname, const char *channel)
{
    return plugin_guard<lumenwick_context *>(nullptr, [&] {
        session *own = valid_context(ph);
        return context_of(plugin_find_context(servname, channel, own ? own->server : nullptr));
    });
}

lumenwick_context *lumenwick_get_context(lumenwick_plugin *ph)
{
    return ph ? context_of(plugin_of(ph)->context) : nullptr;
}

const char *lumenwick_get_info(lumenwick_plugin *ph, const char *id)
{
    return plugin_guard<const char *>(nullptr, [&]() -> const char * {
        if (!id)
            return nullptr;
        if (g_str_has_prefix(id, "event_text")) {
            const char *name = id + strlen("event_text");
            if (*name == ' ')
                name++;
            return text_find_format_string(name);
        }
        if (strcmp(id, "version") == 0)
            return LUMENWICK_VERSION;
        if (strcmp(id, "libdirfs") == 0)
            return plugin_get_libdir();
        if (strcmp(id, "configdir") == 0 || strcmp(id, "configdirfs") == 0 || strcmp(id, "cfgdir") == 0)
            return get_xdir();
        if (!needs_context(id))
            return nullptr;
        session *sess = valid_context(ph);
        if (!sess) {
            complain_no_context(ph, "lumenwick_get_info");
            return nullptr;
        }
        return session_info(sess, id);
    });
}

int lumenwick_get_prefs(lumenwick_plugin *ph, const char *name, const char **string, int *integer)
{
    return plugin_guard(0, [&] {
        if (!name)
            return 0;
        int dummy_int = 0;
        const char *dummy_str = nullptr;
        if (!integer)
            integer = &dummy_int;
        if (!string)
            string = &dummy_str;
        if (g_ascii_strcasecmp(name, "state_cursor") == 0) {
            session *sess = valid_context(ph);
            *integer = sess ? fe_get_inputbox_cursor(sess) : 0;
            return 2;
        }
        if (g_ascii_strcasecmp(name, "id") == 0) {
            session *sess = valid_context(ph);
            *integer = sess ? sess->server->id : 0;
            return 2;
        }
        for (const prefs_row *row = vars; row->name; row++) {
            if (g_ascii_strcasecmp(name, row->name) != 0)
                continue;
            char *base = reinterpret_cast<char *>(&prefs);
            switch (row->type) {
            case TYPE_STR:
                *string = base + row->offset;
                return 1;
            case TYPE_INT:
                *integer = *reinterpret_cast<int *>(base + row->offset * sizeof(int));
                return 2;
            default:
                *integer = *reinterpret_cast<int *>(base + row->offset * sizeof(int)) ? 1 : 0;
                return 3;
            }
        }
        return 0;
    });
}

int lumenwick_emit_print(lumenwick_plugin *ph, const char *event_name, ...)
{
    va_list args;
    va_start(args, event_name);
    const int result = plugin_guard(0, [&] { return emit_print_args(ph, 0, event_name, args); });
    va_end(args);
    return result;
}

int lumenwick_emit_print_attrs(lumenwick_plugin *ph, lumenwick_event_attrs *attrs, const char *event_name, ...)
{
    va_list args;
    va_start(args, event_name);
    const time_t stamp = attrs ? attrs->server_time_utc : 0;
    const int result = plugin_guard(0, [&] { return emit_print_args(ph, stamp, event_name, args); });
    va_end(args);
    return result;
}

lumenwick_event_attrs *lumenwick_event_attrs_create(lumenwick_plugin *)
{
    return g_new0(lumenwick_event_attrs, 1);
}

void lumenwick_event_attrs_free(lumenwick_plugin *, lumenwick_event_attrs *attrs)
{
    g_free(attrs);
}

char *lumenwick_gettext(lumenwick_plugin *, const char *msgid)
{
    return msgid ? const_cast<char *>(_(msgid)) : nullptr;
}

void lumenwick_send_modes(lumenwick_plugin *ph, const char **targets, int ntargets, int modes_per_line, char sign,
                          char mode)
{
    plugin_guard_void([&] {
        session *sess = valid_context(ph);
        if (!sess || !targets || ntargets <= 0 || sess->type != SESS_CHANNEL || !sess->server->connected)
            return;
        // The mode sender reads word[first .. end-1]; it does not write them.
        std::vector<char *> word;
        for (int i = 0; i < ntargets; i++) {
            if (targets[i])
                word.push_back(const_cast<char *>(targets[i]));
        }
        if (!word.empty())
            send_channel_modes(sess, word.data(), 0, static_cast<int>(word.size()), sign, mode, modes_per_line);
    });
}

char *lumenwick_strip(lumenwick_plugin *, const char *str, int len, int flags)
{
    return plugin_guard<char *>(nullptr, [&]() -> char * {
        if (!str)
            return nullptr;
        return strip_color(str, len, flags & (STRIP_COLOR | STRIP_ATTRIB));
    });
}

void lumenwick_free(lumenwick_plugin *, void *ptr)
{
    g_free(ptr);
}

} // extern "C"
