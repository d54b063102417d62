// CTCP requests as the parser hands them over: arbitrary request text to a
// channel, to the user or from the user, with user replies configured that
// expand every template code; and the template expander itself on the
// input. Replies only ever run "quote", which goes to a socket of -1.
#include "fuzz_core.h"

#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "irc/ctcp.h"
#include "irc/proto-irc.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

session *home;
session *chan;

void set_up()
{
    fuzz_core_set_up();
    list_load_all();
    // Names the requests of the seeds use; every code of the language.
    list_addentry(&ctcp_list, "quote NOTICE %s :%d %e &4 %3 %m %t %v %y %%%065 &2", "FINGER");
    list_addentry(&ctcp_list, "quote NOTICE %s :action %d", "ACTION");
    list_addentry(&ctcp_list, "quote NOTICE %s :dcc %6 &7", "DCC");
    home = new_ircwindow(nullptr, "fuzz", SESS_SERVER, 0);
    chan = new_ircwindow(home->server, "#c", SESS_CHANNEL, 0);
    new_ircwindow(home->server, "bob", SESS_DIALOG, 0);
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
    serv->connected = TRUE;
    g_strlcpy(serv->nick, "me", sizeof serv->nick);
    prefs.irc_hide_version = data[0] & 1;

    // The request as the parser leaves it: without NUL, CR or LF.
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    for (char &c : text) {
        if (c == '\0' || c == '\r' || c == '\n')
            c = ' ';
    }

    static const char *const targets[] = {"#c", "me", "bob", "#elsewhere"};
    static const char *const senders[] = {"bob", "me", "carol", "bob"};
    const unsigned pick = (data[0] >> 1) & 3;
    std::string line =
        std::string(":") + senders[pick] + "!u@h PRIVMSG " + targets[(data[0] >> 3) & 3] + " :\001" + text + "\001";

    std::vector<char> copy(line.begin(), line.end());
    copy.push_back('\0');
    std::vector<char> work(copy.size());
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];
    split_server_line(copy.data(), work.data(), word, word_eol);
    word[1]++; // the parser hands over the prefix without its ":"
    word_eol[1]++;
    char *ctcp = strchr(copy.data() + 1, '\001') + 1;
    if (char *end = strrchr(ctcp, '\001'))
        *end = 0;
    char nick[NICKLEN];
    g_strlcpy(nick, senders[pick], sizeof nick);
    char ip[] = "u@h";
    char to[CHANLEN];
    g_strlcpy(to, targets[(data[0] >> 3) & 3], sizeof to);
    message_tags_data tags;
    ctcp_handle(pick == 0 ? chan : home, to, nick, ip, ctcp, word, word_eol, data[0] >> 7, &tags);

    // The expander with the input as the template, into a small buffer so
    // that cutting is exercised too.
    char out[64];
    char a[] = "a", e[] = "net";
    const int r = auto_insert(out, sizeof out, reinterpret_cast<const unsigned char *>(text.c_str()), word, word_eol,
                              {a, a, a, e, a, a, nick, a});
    if (r < 0 || r > 2 || !memchr(out, '\0', sizeof out))
        abort();

    // Tabs a request may have opened are closed again.
    for (GSList *l = sess_list; l;) {
        auto *sess = static_cast<session *>(l->data);
        l = l->next;
        if (sess->server == serv && sess != home && sess != chan && sess->type != SESS_DIALOG)
            session_free(sess);
    }
    return 0;
}
