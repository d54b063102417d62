// Typed text as the input line hands it over: several lines, commands and
// text to say, in a channel, a dialog and a server tab of a server that is
// offline or "connected" to no socket, with user commands defined by the
// input. Commands that start programs, connect, touch files or close tabs
// are refused through the command filter, however a line spells them.
#include "fuzz_core.h"

#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace
{

session *home;
session *chan;
session *query;
guint builtin_user_commands;

bool allowed(const char *name)
{
    static const char *const refused[] = {
        "ADDBUTTON", "ADDSERVER", "CHANOPT",   "CLOSE", "DCC",       "DELBUTTON", "DNS",       "EXEC",   "EXECCONT",
        "EXECKILL",  "EXECSTOP",  "EXECWRITE", "GATE",  "GETBOOL",   "GETFILE",   "GETINT",    "GETSTR", "GUI",
        "IGNORE",    "KILLALL",   "LOAD",      "MENU",  "NEWSERVER", "NOTIFY",    "RECONNECT", "RELOAD", "SEND",
        "SERVCHAN",  "SERVER",    "SET",       "SPLAY", "TRAY",      "UNIGNORE",  "UNLOAD",    "URL",
    };
    for (const char *r : refused)
        if (g_ascii_strcasecmp(r, name) == 0)
            return false;
    return true;
}

void set_up()
{
    fuzz_core_set_up();
    list_load_all();
    set_command_filter(allowed);
    builtin_user_commands = g_slist_length(command_list);
    home = new_ircwindow(nullptr, "fuzz", SESS_SERVER, 0);
    chan = new_ircwindow(home->server, "#c", SESS_CHANNEL, 0);
    query = new_ircwindow(home->server, "nickserv", SESS_DIALOG, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = [] {
        set_up();
        return true;
    }();
    (void)ready;
    if (size < 1 || size > 1 << 14)
        return 0;
    server *serv = home->server;
    serv->sock = -1;
    serv->connected = (data[0] & 1) != 0;
    g_strlcpy(serv->nick, "me", sizeof serv->nick);
    prefs.input_perc_color = (data[0] >> 1) & 1;
    prefs.input_perc_ascii = (data[0] >> 2) & 1;
    prefs.completion_auto = (data[0] >> 3) & 1;
    session *const tabs[] = {chan, query, home, chan};
    session *sess = tabs[(data[0] >> 4) & 3];

    // Lines "=name template" define user commands; the rest is typed.
    std::string typed;
    const std::string input(reinterpret_cast<const char *>(data + 1), size - 1);
    std::size_t at = 0;
    while (at <= input.size()) {
        std::size_t end = input.find('\n', at);
        if (end == std::string::npos)
            end = input.size();
        const std::string line = input.substr(at, end - at);
        at = end + 1;
        if (line.size() > 1 && line[0] == '=') {
            const std::size_t space = line.find(' ');
            const std::string name = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
            const std::string text = space == std::string::npos ? "" : line.substr(space + 1);
            if (!name.empty() && name.find('\0') == std::string::npos && text.find('\0') == std::string::npos)
                list_addentry(&command_list, text.c_str(), name.c_str());
            continue;
        }
        typed += line;
        typed += '\n';
    }
    // The input line never holds NUL.
    typed.resize(strlen(typed.c_str()));

    handle_multiline(sess, typed.data(), data[0] >> 7, 0);

    // Back to the built-in user commands: the input's own ones come last.
    if (builtin_user_commands == 0) {
        list_free(&command_list);
    } else if (GSList *last_kept = g_slist_nth(command_list, builtin_user_commands - 1)) {
        GSList *added = last_kept->next;
        last_kept->next = nullptr;
        g_slist_free_full(added, g_free);
    }
    history_free(&sess->input_history);
    // Tabs the commands opened are closed again.
    for (GSList *l = sess_list; l;) {
        auto *s = static_cast<session *>(l->data);
        l = l->next;
        if (s != home && s != chan && s != query) {
            serv->connected = FALSE;
            session_free(s);
        }
    }
    return 0;
}
