#include "fe-common/title.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe-common/printf.h"
#include "net/server.h"
#include "session/session.h"

title_fields title_fields_of(const session &sess)
{
    server *serv = sess.server;
    title_fields f;
    f.type = sess.type;
    f.connected = serv->connected;
    f.nick = serv->nick;
    const char *network = server_get_network(serv, true);
    f.network = network ? network : "";
    f.channel = sess.channel;
    if (sess.mode_string)
        f.mode_string = sess.mode_string;
    f.user_count = sess.user_count;
    f.show_nick = prefs.gui_win_nick;
    f.show_modes = prefs.gui_win_modes;
    f.show_user_count = prefs.gui_win_ucount;
    return f;
}

std::string window_title(const title_fields &f)
{
    const char *program = DISPLAY_NAME;
    if (!f.connected && f.type != SESS_DIALOG)
        return program;

    const std::string nick = f.show_nick ? f.nick : std::string();
    const char *at = f.show_nick ? " @ " : "";
    std::string title;
    switch (f.type) {
    case SESS_CHANNEL: {
        const bool modes = f.show_modes && f.mode_string && !f.mode_string->empty();
        title = printf_string("%s%s%s / %s%s%s%s - %s", nick.c_str(), at, f.network.c_str(), f.channel.c_str(),
                              modes ? " (" : "", modes ? f.mode_string->c_str() : "", modes ? ")" : "", program);
        if (f.show_user_count)
            title += printf_string(" (%d)", f.user_count);
        break;
    }
    case SESS_DIALOG:
        title = printf_string("%s %s @ %s - %s", _("Dialog with"), f.channel.c_str(), f.network.c_str(), program);
        break;
    case SESS_NOTICES:
    case SESS_SNOTICES:
        title = printf_string("%s%s%s (notices) - %s", nick.c_str(), at, f.network.c_str(), program);
        break;
    default:
        title = printf_string("%s%s%s - %s", nick.c_str(), at, f.network.c_str(), program);
        break;
    }
    title.resize(utf8_prefix(title.data(), title.size(), TITLE_BUFFER_SIZE - 1));
    return title;
}
