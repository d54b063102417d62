// The stored server list (networks, servers, favourite channels).
#pragma once

struct session;

void servlist_init(void);
// Whether any network is marked for auto-connect.
bool servlist_have_auto(void);
// Connects the auto-connect networks; an idle callback (runs once).
int servlist_auto_connect(void *sess);
void servlist_cleanup(void);

struct ircnet;
// The network's name, or null.
const char *servlist_network_name(const ircnet *net);
