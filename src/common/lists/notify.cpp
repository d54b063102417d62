#include "lists/notify.h"

#include "base/lumenwick.h"
#include "output/text.h"

// The notify list arrives with the ignore/notify work; with an empty list
// there is nothing to load, save or poll.
void notify_load(void) {}
void notify_save(void) {}
int notify_checklist(void *)
{
    return 1;
}
void notify_cleanup(void) {}
void notify_markonline(server *, char *[], const message_tags_data *) {}
void notify_set_online(server *, char *, const message_tags_data *) {}
void notify_set_offline(server *, char *, int, const message_tags_data *) {}
void notify_set_online_list(server *, char *, const message_tags_data *) {}
void notify_set_offline_list(server *, char *, int, const message_tags_data *) {}

// An empty list holds nobody to remove, and cannot take anyone yet.
bool notify_adduser(const char *, const char *)
{
    return false;
}
int notify_deluser(const char *)
{
    return 0;
}
void notify_showlist(session *sess, const message_tags_data *)
{
    PrintText(sess, _("Notify lists are not available yet.\n"));
}

// Without a stored list there is nothing to watch and nobody on it.
void notify_send_watches(server *) {}
bool notify_is_in_list(server *, const char *)
{
    return false;
}
