#include "servlist.h"

#include <glib.h>

#include <cstring>

// The network list arrives with the server-list work; until then it is empty.
void servlist_init(void) {}
bool servlist_have_auto(void) { return false; }
int servlist_auto_connect(void *) { return 0; }
void servlist_cleanup(void) {}
const char *servlist_network_name(const ircnet *) { return nullptr; }

// Networks arrive with the server-list work: until then no server has one.
bool servlist_cycle(server *) { return false; }
bool servlist_asks_password(server *) { return false; }
const char *servlist_network_username(const ircnet *) { return nullptr; }
const char *servlist_network_realname(const ircnet *) { return nullptr; }

bool servlist_check_encoding(const char *charset)
{
    if (!charset || !charset[0])
        return false;
    const char *space = strchr(charset, ' ');
    char *name = space ? g_strndup(charset, static_cast<gsize>(space - charset)) : g_strdup(charset);
    const GIConv cd = g_iconv_open("UTF-8", name);
    g_free(name);
    if (cd == reinterpret_cast<GIConv>(-1))
        return false;
    g_iconv_close(cd);
    return true;
}
