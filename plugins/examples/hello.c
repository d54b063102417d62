/* A small Lumenwick plugin: /HELLO greets the tab, and every channel message
 * is counted; /HELLO shows the count, which is kept across runs.
 *
 * Build:  cc -shared -fPIC -o hello.so hello.c $(pkg-config --cflags lumenwick-plugin)
 * Load:   /LOAD /path/to/hello.so  (or copy it into the "addons" folder)
 */
#include <lumenwick-plugin.h>

#include <stddef.h>

static lumenwick_plugin *ph;
static int messages;

static int hello_cb(char *word[], char *word_eol[], void *userdata)
{
    (void)word_eol;
    (void)userdata;
    lumenwick_printf(ph, "Hello %s! %d channel messages seen so far.\n", word[2][0] ? word[2] : "world", messages);
    return LUMENWICK_EAT_ALL;
}

static int message_cb(char *word[], void *userdata)
{
    (void)word;
    (void)userdata;
    messages++;
    return LUMENWICK_EAT_NONE;
}

int lumenwick_plugin_init(lumenwick_plugin *plugin_handle, char **name, char **desc, char **version, char *arg)
{
    (void)arg;
    ph = plugin_handle;
    *name = "Hello";
    *desc = "Says hello and counts channel messages";
    *version = "1.0";
    messages = lumenwick_pluginpref_get_int(ph, "messages");
    if (messages < 0)
        messages = 0;
    lumenwick_hook_command(ph, "HELLO", LUMENWICK_PRI_NORM, hello_cb, "Usage: HELLO [name], says hello", NULL);
    lumenwick_hook_print(ph, "Channel Message", LUMENWICK_PRI_NORM, message_cb, NULL);
    lumenwick_print(ph, "Hello plugin loaded\n");
    return 1;
}

int lumenwick_plugin_deinit(lumenwick_plugin *plugin_handle)
{
    lumenwick_pluginpref_set_int(plugin_handle, "messages", messages);
    return 1;
}
