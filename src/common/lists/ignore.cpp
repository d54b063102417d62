#include "lists/ignore.h"

#include "base/lumenwick.h"
#include "output/text.h"

// The ignore list and the flood guard arrive with the ignore/notify work;
// until then the list is empty, so nobody is ignored and nothing floods.
void ignore_load(void) {}
void ignore_save(void) {}
int ignore_check(const char *, int)
{
    return 0;
}
int flood_check(char *, char *, server *, session *, int)
{
    return 1;
}

// Nothing is stored, so nothing may be reported as added or removed.
int ignore_add(const char *, int, bool)
{
    return IGNORE_UNAVAILABLE;
}
int ignore_del(const char *, ignore *)
{
    return IGNORE_UNAVAILABLE;
}
void ignore_showlist(session *sess)
{
    PrintText(sess, _("Ignore lists are not available yet.\n"));
}
