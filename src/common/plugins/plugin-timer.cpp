#include "plugins/plugin.h"

int timer_plugin_init(void *, char **, char **, char **, char *)
{
    return 1;
}
