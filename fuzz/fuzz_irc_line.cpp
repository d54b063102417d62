// The whole line handler on a real server record, fed sequences of server
// lines (one per "\n"): tags, prefixes, every numeric and command, CAP and
// SASL exchanges in any order. The first byte picks the state the
// connection starts in (capabilities, login method, WHOIS flags), so one
// input can reach the branches that depend on it. Nothing is written: the
// socket is -1 and lines leave at once, unqueued.
#include "fuzz_core.h"

#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "irc/proto-irc.h"
#include "net/server.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

session *home;
session *kept[3];

void set_up()
{
    fuzz_core_set_up();
    home = new_ircwindow(nullptr, "fuzz", SESS_SERVER, 0);
    kept[0] = home;
    kept[1] = new_ircwindow(home->server, "#c", SESS_CHANNEL, 0);
    kept[2] = new_ircwindow(home->server, "bob", SESS_DIALOG, 0);
}

// The state one input starts from, chosen by its first byte.
void start_state(server *serv, unsigned char bits)
{
    static const int methods[] = {LOGIN_METHOD_DEFAULT, LOGIN_METHOD_SASL_PLAIN, LOGIN_METHOD_CHALLENGE,
                                  LOGIN_METHOD_SASL_EXTERNAL};
    serv->sock = -1;
    serv->connected = TRUE;
    g_strlcpy(serv->nick, "me", sizeof serv->nick);
    g_strlcpy(serv->password, "pw", sizeof serv->password);
    serv->login_method = methods[bits & 3];
    serv->cap_account_tag = serv->cap_server_time = serv->cap_identify_msg = (bits >> 2) & 1;
    serv->cap_ended = (bits >> 3) & 1;
    serv->sasl_active = (bits >> 4) & 1;
    serv->whois_quiet = (bits >> 5) & 1;
    serv->motd_done = (bits >> 6) & 1;
    serv->userhost_pending = (bits >> 7) & 1;
    serv->in_whois = serv->who_quiet = FALSE;
    serv->nick_attempt = 1;
}

// Tabs the input opened (its own joins, for one) are closed again, so that
// inputs stay independent and memory does not grow over a long run.
void close_extra_tabs(server *serv)
{
    for (GSList *l = sess_list; l;) {
        auto *sess = static_cast<session *>(l->data);
        l = l->next;
        if (sess->server == serv && sess != kept[0] && sess != kept[1] && sess != kept[2])
            session_free(sess);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = [] {
        set_up();
        return true;
    }();
    (void)ready;
    if (size < 1 || size > 1 << 16)
        return 0;
    server *serv = home->server;
    start_state(serv, data[0]);

    const char *text = reinterpret_cast<const char *>(data + 1);
    const size_t len = size - 1;
    size_t start = 0;
    while (start <= len) {
        const char *nl = static_cast<const char *>(memchr(text + start, '\n', len - start));
        size_t end = nl ? static_cast<size_t>(nl - text) : len;
        size_t line_len = end - start;
        if (line_len && text[start + line_len - 1] == '\r')
            line_len--;
        // An exact-size copy, so reading past the line trips the sanitizer.
        std::vector<char> line(text + start, text + start + line_len);
        line.push_back('\0');
        serv->p_inline(serv, line.data(), static_cast<int>(line_len));
        if (!nl)
            break;
        start = end + 1;
    }
    close_extra_tabs(serv);
    return 0;
}
