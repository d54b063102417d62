/* A plugin for the plugin tests, built by them with the system C compiler.
 * It calls through its handle's function table (the named-slot macros), so
 * the table's order is checked along with the behaviour. Every observation
 * is printed as one line starting with a fixed word the test looks for.
 * Built with -DPROBE_FAIL it hooks a command and a timer, adds a list entry
 * and then refuses to initialise. */
#define LUMENWICK_PLUGIN_HANDLE ph
#include "lumenwick-plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static lumenwick_plugin *ph;

#ifdef PROBE_FAIL

static int fail_cmd(char *word[], char *word_eol[], void *ud)
{
    (void)word, (void)word_eol, (void)ud;
    lumenwick_print(ph, "failcmd hook ran\n");
    return LUMENWICK_EAT_ALL;
}

static int fail_timer(void *ud)
{
    (void)ud;
    lumenwick_print(ph, "fail timer fired\n");
    return 1;
}

int lumenwick_plugin_init(lumenwick_plugin *handle, char **name, char **desc, char **version, char *arg)
{
    (void)arg;
    ph = handle;
    *name = "Failing probe";
    *desc = "";
    *version = "0";
    lumenwick_hook_command(ph, "FAILCMD", 0, fail_cmd, NULL, NULL);
    lumenwick_hook_timer(ph, 50, fail_timer, NULL);
    lumenwick_plugingui_add(ph, "fail-script.py", "fail script", "", "0", NULL);
    return 0;
}

#else

static int allow_unload;
static int raw_lines;
static int repeats;
static int pipe_fd[2] = {-1, -1};
static lumenwick_hook *nest_second;
static lumenwick_hook *self_unhooking;

/* ---- command hooks: order and eating ---- */

static int echo_hook(char *word[], char *word_eol[], void *ud)
{
    const char *id = ud;
    (void)word_eol;
    lumenwick_printf(ph, "echo-hook %s %s\n", id, word[2]);
    if (strcmp(id, "B") != 0)
        return LUMENWICK_EAT_NONE;
    if (strcmp(word[2], "eatplugins") == 0)
        return LUMENWICK_EAT_PLUGINS;
    if (strcmp(word[2], "eatprogram") == 0)
        return LUMENWICK_EAT_PROGRAM;
    if (strcmp(word[2], "eatall") == 0)
        return LUMENWICK_EAT_ALL;
    return LUMENWICK_EAT_NONE;
}

static int selfun_hook(char *word[], char *word_eol[], void *ud)
{
    const char *id = ud;
    (void)word, (void)word_eol;
    lumenwick_printf(ph, "selfun %s\n", id);
    if (strcmp(id, "S1") == 0)
        lumenwick_unhook(ph, self_unhooking);
    return LUMENWICK_EAT_ALL & ~LUMENWICK_EAT_PLUGINS;
}

/* Unhooks the next hook of the walk, then runs a command whose own emit
 * ends while the outer walk still has to step past the unhooked record. */
static int nest_hook(char *word[], char *word_eol[], void *ud)
{
    const char *id = ud;
    (void)word, (void)word_eol;
    lumenwick_printf(ph, "nest %s\n", id);
    if (strcmp(id, "N1") == 0) {
        lumenwick_unhook(ph, nest_second);
        lumenwick_command(ph, "NESTINNER");
        lumenwick_command(ph, "NESTINNER");
    }
    return LUMENWICK_EAT_PROGRAM;
}

static int nest_inner(char *word[], char *word_eol[], void *ud)
{
    (void)word, (void)word_eol, (void)ud;
    lumenwick_print(ph, "nest inner\n");
    return LUMENWICK_EAT_ALL;
}

static int probe_only(char *word[], char *word_eol[], void *ud)
{
    (void)word, (void)word_eol, (void)ud;
    lumenwick_print(ph, "probeonly eaten\n");
    return LUMENWICK_EAT_ALL;
}

/* ---- server and print hooks ---- */

static int privmsg_hook(char *word[], char *word_eol[], void *ud)
{
    (void)word, (void)ud;
    if (strstr(word_eol[4], "eatserver")) {
        lumenwick_print(ph, "server-hook ate a line\n");
        return LUMENWICK_EAT_ALL;
    }
    return LUMENWICK_EAT_NONE;
}

static int raw_hook(char *word[], char *word_eol[], void *ud)
{
    (void)word, (void)word_eol, (void)ud;
    raw_lines++;
    return LUMENWICK_EAT_NONE;
}

static int print_hook(char *word[], lumenwick_event_attrs *attrs, void *ud)
{
    (void)attrs, (void)ud;
    if (strstr(word[2], "hideprint")) {
        lumenwick_printf(ph, "print-hook ate %s from %s\n", word[0], word[1]);
        return LUMENWICK_EAT_ALL;
    }
    return LUMENWICK_EAT_NONE;
}

/* ---- timers and descriptors ---- */

static int timer_once(void *ud)
{
    (void)ud;
    lumenwick_print(ph, "timer once\n");
    return 0;
}

static int timer_repeat(void *ud)
{
    lumenwick_hook **self = ud;
    lumenwick_printf(ph, "timer repeat %d\n", ++repeats);
    if (repeats == 3)
        lumenwick_unhook(ph, *self);
    return 1;
}

static int fd_ready(int fd, int flags, void *ud)
{
    char c = '?';
    (void)ud;
    if (read(fd, &c, 1) != 1)
        c = '!';
    lumenwick_printf(ph, "fd read %c flags %d\n", c, flags);
    return 0;
}

static int write_pipe(void *ud)
{
    (void)ud;
    if (write(pipe_fd[1], "x", 1) != 1)
        lumenwick_print(ph, "pipe write failed\n");
    return 0;
}

/* ---- the /PT command ---- */

static void show_info(void)
{
    const char *s = NULL;
    int i = -7;
    int type;
    const char *a = lumenwick_get_info(ph, "event_text Channel Message");
    const char *b = lumenwick_get_info(ph, "event_textChannel Message");
    lumenwick_printf(ph, "info version=%s\n", lumenwick_get_info(ph, "version"));
    lumenwick_printf(ph, "info nick=%s channel=%s\n", lumenwick_get_info(ph, "nick"),
                     lumenwick_get_info(ph, "channel"));
    lumenwick_printf(ph, "info event_text same=%d nonempty=%d\n", a && b && strcmp(a, b) == 0, a && a[0]);
    lumenwick_printf(ph, "info unknown=%s\n", lumenwick_get_info(ph, "no such id") ? "set" : "none");
    lumenwick_printf(ph, "info configdir=%s\n", lumenwick_get_info(ph, "configdir"));
    type = lumenwick_get_prefs(ph, "IRC_NICK1", &s, &i);
    lumenwick_printf(ph, "prefs irc_nick1 type=%d value=%s\n", type, type == 1 ? s : "");
    type = lumenwick_get_prefs(ph, "text_max_lines", &s, &i);
    lumenwick_printf(ph, "prefs text_max_lines type=%d value=%d\n", type, i);
    type = lumenwick_get_prefs(ph, "irc_auto_rejoin", &s, &i);
    lumenwick_printf(ph, "prefs irc_auto_rejoin type=%d value=%d\n", type, i);
    lumenwick_printf(ph, "prefs unknown type=%d\n", lumenwick_get_prefs(ph, "no_such_setting", &s, &i));
}

static void show_lists(void)
{
    lumenwick_list *list = lumenwick_list_get(ph, "channels");
    const char *const *fields = lumenwick_list_fields(ph, "lists");
    while (list && lumenwick_list_next(ph, list))
        lumenwick_printf(ph, "list channel=%s type=%d\n", lumenwick_list_str(ph, list, "channel"),
                         lumenwick_list_int(ph, list, "type"));
    lumenwick_list_free(ph, list);
    lumenwick_printf(ph, "list names=%s,%s,%s,%s,%s\n", fields[0], fields[1], fields[2], fields[3], fields[4]);
    lumenwick_printf(ph, "list unknown=%s\n", lumenwick_list_get(ph, "nonsense") ? "set" : "none");
}

static void prefs_round_trip(void)
{
    static const char greeting[] = "tab\there \"quoted\" back\\slash \xc3\xbc end";
    char value[LUMENWICK_PREF_VALUE_SIZE];
    char names[LUMENWICK_PREF_LIST_SIZE];
    char *long_value = malloc(2001);
    memset(long_value, 'x', 2000);
    long_value[2000] = '\0';
    lumenwick_pluginpref_set_str(ph, "greeting", greeting);
    lumenwick_pluginpref_set_str(ph, "long", long_value);
    lumenwick_pluginpref_set_int(ph, "count", 42);
    lumenwick_pluginpref_set_int(ph, "zero", 0);
    lumenwick_pluginpref_set_str(ph, "word", "abc");
    /* rewritten again after the long line is in the file */
    lumenwick_pluginpref_set_int(ph, "count", 43);
    free(long_value);

    value[0] = '\0';
    lumenwick_pluginpref_get_str(ph, "greeting", value);
    lumenwick_printf(ph, "pref greeting same=%d\n", strcmp(value, greeting) == 0);
    lumenwick_pluginpref_get_str(ph, "long", value);
    lumenwick_printf(ph, "pref long len=%d\n", (int)strlen(value));
    lumenwick_printf(ph, "pref ints count=%d zero=%d word=%d missing=%d\n", lumenwick_pluginpref_get_int(ph, "count"),
                     lumenwick_pluginpref_get_int(ph, "zero"), lumenwick_pluginpref_get_int(ph, "word"),
                     lumenwick_pluginpref_get_int(ph, "missing"));
    lumenwick_pluginpref_delete(ph, "word");
    if (lumenwick_pluginpref_list(ph, names))
        lumenwick_printf(ph, "pref list=%s\n", names);
}

static void self_unload(void)
{
    lumenwick_command(ph, "UNLOAD probe.so");
    /* Still our code running: the module must stay mapped until we return. */
    lumenwick_print(ph, "still running after unload\n");
}

static int pt_command(char *word[], char *word_eol[], void *ud)
{
    (void)word_eol, (void)ud;
    if (strcmp(word[2], "info") == 0)
        show_info();
    else if (strcmp(word[2], "lists") == 0)
        show_lists();
    else if (strcmp(word[2], "prefs") == 0)
        prefs_round_trip();
    else if (strcmp(word[2], "raw") == 0)
        lumenwick_printf(ph, "raw lines=%d\n", raw_lines);
    else if (strcmp(word[2], "allowunload") == 0)
        allow_unload = 1;
    else if (strcmp(word[2], "fdwrite") == 0)
        write_pipe(NULL);
    else if (strcmp(word[2], "selfunload") == 0)
        self_unload();
    return LUMENWICK_EAT_ALL;
}

int lumenwick_plugin_init(lumenwick_plugin *handle, char **name, char **desc, char **version, char *arg)
{
    static lumenwick_hook *repeat_hook;
    ph = handle;
    *name = "Probe Plugin!";
    *desc = "Probes the plugin interface";
    *version = "1.2";

    lumenwick_hook_command(ph, "ECHO", 0, echo_hook, NULL, "A");
    lumenwick_hook_command(ph, "echo", 10, echo_hook, NULL, "C");
    lumenwick_hook_command(ph, "Echo", 0, echo_hook, NULL, "B");

    self_unhooking = lumenwick_hook_command(ph, "SELFUN", 5, selfun_hook, NULL, "S1");
    lumenwick_hook_command(ph, "SELFUN", 0, selfun_hook, NULL, "S2");

    lumenwick_hook_command(ph, "NEST", 5, nest_hook, NULL, "N1");
    nest_second = lumenwick_hook_command(ph, "NEST", 0, nest_hook, NULL, "N2");
    lumenwick_hook_command(ph, "NEST", -5, nest_hook, NULL, "N3");
    lumenwick_hook_command(ph, "NESTINNER", 0, nest_inner, NULL, NULL);

    lumenwick_hook_command(ph, "PROBEONLY", 0, probe_only, "PROBEONLY: eaten by the probe", NULL);
    lumenwick_hook_command(ph, "PT", 0, pt_command, "PT <what>", NULL);

    lumenwick_hook_server(ph, "PRIVMSG", 0, privmsg_hook, NULL);
    lumenwick_hook_server(ph, "RAW LINE", 0, raw_hook, NULL);
    lumenwick_hook_print_attrs(ph, "Private Message", 0, print_hook, NULL);
    lumenwick_hook_print_attrs(ph, "Private Message to Dialog", 0, print_hook, NULL);

    lumenwick_hook_timer(ph, 100, timer_once, NULL);
    repeat_hook = lumenwick_hook_timer(ph, 100, timer_repeat, &repeat_hook);
    if (pipe(pipe_fd) == 0) {
        lumenwick_hook_fd(ph, pipe_fd[0], LUMENWICK_FD_READ, fd_ready, NULL);
        lumenwick_hook_timer(ph, 150, write_pipe, NULL);
    }
    lumenwick_printf(ph, "probe loaded arg=%s\n", arg ? arg : "(none)");
    return 1;
}

int lumenwick_plugin_deinit(lumenwick_plugin *handle)
{
    if (!allow_unload) {
        lumenwick_print(handle, "probe refuses\n");
        return 0;
    }
    close(pipe_fd[0]);
    close(pipe_fd[1]);
    return 1;
}

#endif
