#include "plugins/plugin.h"

int identd_plugin_init(void *, char **, char **, char **, char *)
{
    return 1;
}
int identd_plugin_deinit(void *)
{
    return 1;
}
