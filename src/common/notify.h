// The notify (friends) list.
#pragma once

struct server;

void notify_load(void);
void notify_save(void);
// Polls the notify list on every connected server.
int notify_checklist(void *unused);
void notify_cleanup(void);
