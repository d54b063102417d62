#include "ignore.h"

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
