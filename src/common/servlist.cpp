#include "servlist.h"

// The network list arrives with the server-list work; until then it is empty.
void servlist_init(void) {}
bool servlist_have_auto(void) { return false; }
int servlist_auto_connect(void *) { return 0; }
void servlist_cleanup(void) {}
const char *servlist_network_name(const ircnet *) { return nullptr; }
