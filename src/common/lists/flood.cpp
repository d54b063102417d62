// The flood guard.
#include "lists/flood.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "lists/ignore.h"
#include "net/server.h"
#include "output/text.h"

#include <cstring>
#include <string>

time_t (*flood_clock)(void) = [] { return time(nullptr); };

namespace
{

constexpr int FLOOD_AUTOOPEN_PAUSE_S = 30;
// A message flood suspends automatic dialogs for a while; the user's own
// setting is left as it is so that a save meanwhile cannot lose it.
bool autoopen_suspended;
int autoopen_timer;

int resume_autoopen(void *)
{
    autoopen_suspended = false;
    autoopen_timer = 0;
    return 0;
}

} // namespace

void flood_reset(void)
{
    if (autoopen_timer)
        fe_timeout_remove(autoopen_timer);
    autoopen_timer = 0;
    autoopen_suspended = false;
}

bool flood_autoopen_dialog(void)
{
    return prefs.gui_autoopen_dialog && !autoopen_suspended;
}

int flood_check(char *nick, char *ip, server *serv, session *sess, int kind)
{
    const bool ctcp = kind == FLOOD_CTCP;
    time_t &start = ctcp ? serv->ctcp_flood_start : serv->msg_flood_start;
    int &count = ctcp ? serv->ctcp_flood_count : serv->msg_flood_count;
    const int limit_time = ctcp ? prefs.flood_ctcp_time : prefs.flood_msg_time;
    const int limit_num = ctcp ? prefs.flood_ctcp_num : prefs.flood_msg_num;
    const time_t now = flood_clock();

    if (limit_num <= 0 || limit_time <= 0)
        return 1;
    // An expired window starts again with this item, so a later flood is
    // still seen (a clock that went back counts as expired too).
    if (start == 0 || now - start >= limit_time || now < start) {
        start = now;
        count = 1;
    } else {
        count++;
    }
    if (count < limit_num)
        return 1;
    start = now;
    count = 0;

    if (!ctcp) {
        PrintTextf(sess, _("You are being MSG flooded from %s, setting gui_autoopen_dialog OFF.\n"), ip ? ip : nick);
        if (prefs.gui_autoopen_dialog && !autoopen_suspended) {
            autoopen_suspended = true;
            autoopen_timer = fe_timeout_add_seconds(FLOOD_AUTOOPEN_PAUSE_S, resume_autoopen, nullptr);
        }
        return 0;
    }
    const char *at = ip ? strchr(ip, '@') : nullptr;
    std::string mask = at ? std::string("*!*") + at : std::string(nick) + "!*";
    PrintTextf(sess, _("You are being CTCP flooded from %s, ignoring %s\n"), nick, mask.c_str());
    ignore_add(mask.c_str(), IG_CTCP, false);
    return 0;
}
