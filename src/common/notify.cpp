#include "notify.h"

// The notify list arrives with the ignore/notify work; with an empty list
// there is nothing to load, save or poll.
void notify_load(void) {}
void notify_save(void) {}
int notify_checklist(void *) { return 1; }
void notify_cleanup(void) {}
void notify_markonline(server *, char *[], const message_tags_data *) {}
void notify_set_online(server *, char *, const message_tags_data *) {}
void notify_set_offline(server *, char *, int, const message_tags_data *) {}
void notify_set_online_list(server *, char *, const message_tags_data *) {}
void notify_set_offline_list(server *, char *, int, const message_tags_data *) {}
