/* The Lumenwick plugin interface. A plugin is a shared library that exports
 * lumenwick_plugin_init (and optionally lumenwick_plugin_deinit). It may call
 * the lumenwick_* functions directly (the program exports them) or, when it
 * defines LUMENWICK_PLUGIN_HANDLE to the name of its handle variable before
 * including this header, through the handle's function table.
 *
 * Valid C and C++; needs nothing but the C library. Build a plugin with
 *   cc -shared -fPIC -o my.so my.c $(pkg-config --cflags lumenwick-plugin)
 */
#ifndef LUMENWICK_PLUGIN_H
#define LUMENWICK_PLUGIN_H

#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Priorities: higher runs first; equal priorities run newest hook first. */
#define LUMENWICK_PRI_HIGHEST 127
#define LUMENWICK_PRI_HIGH 64
#define LUMENWICK_PRI_NORM 0
#define LUMENWICK_PRI_LOW (-64)
#define LUMENWICK_PRI_LOWEST (-128)

/* File-descriptor watch flags. */
#define LUMENWICK_FD_READ 1
#define LUMENWICK_FD_WRITE 2
#define LUMENWICK_FD_EXCEPTION 4

/* Callback results (bits). */
#define LUMENWICK_EAT_NONE 0    /* the program and later hooks see the event */
#define LUMENWICK_EAT_PROGRAM 1 /* hide it from the program */
#define LUMENWICK_EAT_PLUGINS 2 /* hide it from later hooks */
#define LUMENWICK_EAT_ALL (LUMENWICK_EAT_PROGRAM | LUMENWICK_EAT_PLUGINS)

/* lumenwick_get_prefs results. */
#define LUMENWICK_PREF_NONE 0
#define LUMENWICK_PREF_STRING 1
#define LUMENWICK_PREF_INT 2
#define LUMENWICK_PREF_BOOL 3

/* lumenwick_strip flags. */
#define LUMENWICK_STRIP_COLORS 1
#define LUMENWICK_STRIP_ATTRIBUTES 2
#define LUMENWICK_STRIP_ALL 3

/* Session types in the "channels" list's "type" field. */
#define LUMENWICK_TAB_SERVER 1
#define LUMENWICK_TAB_CHANNEL 2
#define LUMENWICK_TAB_DIALOG 3
#define LUMENWICK_TAB_NOTICES 4
#define LUMENWICK_TAB_SNOTICES 5

/* Size of the buffers the pluginpref getters fill. */
#define LUMENWICK_PREF_VALUE_SIZE 512
#define LUMENWICK_PREF_LIST_SIZE 4096

typedef struct lumenwick_plugin lumenwick_plugin;
typedef struct lumenwick_list lumenwick_list;
typedef struct lumenwick_hook lumenwick_hook;
typedef struct lumenwick_context lumenwick_context;

typedef struct lumenwick_event_attrs {
    time_t server_time_utc; /* 0 when unknown */
} lumenwick_event_attrs;

typedef int (*lumenwick_command_cb)(char *word[], char *word_eol[], void *user_data);
typedef int (*lumenwick_server_cb)(char *word[], char *word_eol[], void *user_data);
typedef int (*lumenwick_server_attrs_cb)(char *word[], char *word_eol[], lumenwick_event_attrs *attrs, void *user_data);
typedef int (*lumenwick_print_cb)(char *word[], void *user_data);
typedef int (*lumenwick_print_attrs_cb)(char *word[], lumenwick_event_attrs *attrs, void *user_data);
typedef int (*lumenwick_timer_cb)(void *user_data);
typedef int (*lumenwick_fd_cb)(int fd, int flags, void *user_data);

/* The function table. The slot order is the binary interface: never reorder. */
struct lumenwick_plugin {
    lumenwick_hook *(*lumenwick_hook_command)(lumenwick_plugin *ph, const char *name, int pri,
                                              lumenwick_command_cb callback, const char *help_text, void *userdata);
    lumenwick_hook *(*lumenwick_hook_server)(lumenwick_plugin *ph, const char *name, int pri,
                                             lumenwick_server_cb callback, void *userdata);
    lumenwick_hook *(*lumenwick_hook_print)(lumenwick_plugin *ph, const char *name, int pri,
                                            lumenwick_print_cb callback, void *userdata);
    lumenwick_hook *(*lumenwick_hook_timer)(lumenwick_plugin *ph, int timeout_ms, lumenwick_timer_cb callback,
                                            void *userdata);
    lumenwick_hook *(*lumenwick_hook_fd)(lumenwick_plugin *ph, int fd, int flags, lumenwick_fd_cb callback,
                                         void *userdata);
    void *(*lumenwick_unhook)(lumenwick_plugin *ph, lumenwick_hook *hook);
    void (*lumenwick_print)(lumenwick_plugin *ph, const char *text);
    void (*lumenwick_printf)(lumenwick_plugin *ph, const char *format, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void (*lumenwick_command)(lumenwick_plugin *ph, const char *command);
    void (*lumenwick_commandf)(lumenwick_plugin *ph, const char *format, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    int (*lumenwick_nickcmp)(lumenwick_plugin *ph, const char *s1, const char *s2);
    int (*lumenwick_set_context)(lumenwick_plugin *ph, lumenwick_context *ctx);
    lumenwick_context *(*lumenwick_find_context)(lumenwick_plugin *ph, const char *servname, const char *channel);
    lumenwick_context *(*lumenwick_get_context)(lumenwick_plugin *ph);
    const char *(*lumenwick_get_info)(lumenwick_plugin *ph, const char *id);
    int (*lumenwick_get_prefs)(lumenwick_plugin *ph, const char *name, const char **string, int *integer);
    lumenwick_list *(*lumenwick_list_get)(lumenwick_plugin *ph, const char *name);
    void (*lumenwick_list_free)(lumenwick_plugin *ph, lumenwick_list *xlist);
    const char *const *(*lumenwick_list_fields)(lumenwick_plugin *ph, const char *name);
    int (*lumenwick_list_next)(lumenwick_plugin *ph, lumenwick_list *xlist);
    const char *(*lumenwick_list_str)(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name);
    int (*lumenwick_list_int)(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name);
    void *(*lumenwick_plugingui_add)(lumenwick_plugin *ph, const char *filename, const char *name, const char *desc,
                                     const char *version, char *reserved);
    void (*lumenwick_plugingui_remove)(lumenwick_plugin *ph, void *handle);
    int (*lumenwick_emit_print)(lumenwick_plugin *ph, const char *event_name, ...);
    int (*lumenwick_reserved)(void); /* does nothing, returns 0 */
    time_t (*lumenwick_list_time)(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name);
    char *(*lumenwick_gettext)(lumenwick_plugin *ph, const char *msgid);
    void (*lumenwick_send_modes)(lumenwick_plugin *ph, const char **targets, int ntargets, int modes_per_line,
                                 char sign, char mode);
    char *(*lumenwick_strip)(lumenwick_plugin *ph, const char *str, int len, int flags);
    void (*lumenwick_free)(lumenwick_plugin *ph, void *ptr);
    int (*lumenwick_pluginpref_set_str)(lumenwick_plugin *ph, const char *var, const char *value);
    int (*lumenwick_pluginpref_get_str)(lumenwick_plugin *ph, const char *var, char *dest);
    int (*lumenwick_pluginpref_set_int)(lumenwick_plugin *ph, const char *var, int value);
    int (*lumenwick_pluginpref_get_int)(lumenwick_plugin *ph, const char *var);
    int (*lumenwick_pluginpref_delete)(lumenwick_plugin *ph, const char *var);
    int (*lumenwick_pluginpref_list)(lumenwick_plugin *ph, char *dest);
    lumenwick_hook *(*lumenwick_hook_server_attrs)(lumenwick_plugin *ph, const char *name, int pri,
                                                   lumenwick_server_attrs_cb callback, void *userdata);
    lumenwick_hook *(*lumenwick_hook_print_attrs)(lumenwick_plugin *ph, const char *name, int pri,
                                                  lumenwick_print_attrs_cb callback, void *userdata);
    int (*lumenwick_emit_print_attrs)(lumenwick_plugin *ph, lumenwick_event_attrs *attrs, const char *event_name, ...);
    lumenwick_event_attrs *(*lumenwick_event_attrs_create)(lumenwick_plugin *ph);
    void (*lumenwick_event_attrs_free)(lumenwick_plugin *ph, lumenwick_event_attrs *attrs);
};

/* The same functions as exported symbols of the program. */
lumenwick_hook *lumenwick_hook_command(lumenwick_plugin *ph, const char *name, int pri, lumenwick_command_cb callback,
                                       const char *help_text, void *userdata);
lumenwick_hook *lumenwick_hook_server(lumenwick_plugin *ph, const char *name, int pri, lumenwick_server_cb callback,
                                      void *userdata);
lumenwick_hook *lumenwick_hook_print(lumenwick_plugin *ph, const char *name, int pri, lumenwick_print_cb callback,
                                     void *userdata);
lumenwick_hook *lumenwick_hook_timer(lumenwick_plugin *ph, int timeout_ms, lumenwick_timer_cb callback, void *userdata);
lumenwick_hook *lumenwick_hook_fd(lumenwick_plugin *ph, int fd, int flags, lumenwick_fd_cb callback, void *userdata);
void *lumenwick_unhook(lumenwick_plugin *ph, lumenwick_hook *hook);
void lumenwick_print(lumenwick_plugin *ph, const char *text);
void lumenwick_printf(lumenwick_plugin *ph, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void lumenwick_command(lumenwick_plugin *ph, const char *command);
void lumenwick_commandf(lumenwick_plugin *ph, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;
int lumenwick_nickcmp(lumenwick_plugin *ph, const char *s1, const char *s2);
int lumenwick_set_context(lumenwick_plugin *ph, lumenwick_context *ctx);
lumenwick_context *lumenwick_find_context(lumenwick_plugin *ph, const char *servname, const char *channel);
lumenwick_context *lumenwick_get_context(lumenwick_plugin *ph);
const char *lumenwick_get_info(lumenwick_plugin *ph, const char *id);
int lumenwick_get_prefs(lumenwick_plugin *ph, const char *name, const char **string, int *integer);
lumenwick_list *lumenwick_list_get(lumenwick_plugin *ph, const char *name);
void lumenwick_list_free(lumenwick_plugin *ph, lumenwick_list *xlist);
const char *const *lumenwick_list_fields(lumenwick_plugin *ph, const char *name);
int lumenwick_list_next(lumenwick_plugin *ph, lumenwick_list *xlist);
const char *lumenwick_list_str(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name);
int lumenwick_list_int(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name);
void *lumenwick_plugingui_add(lumenwick_plugin *ph, const char *filename, const char *name, const char *desc,
                              const char *version, char *reserved);
void lumenwick_plugingui_remove(lumenwick_plugin *ph, void *handle);
int lumenwick_emit_print(lumenwick_plugin *ph, const char *event_name, ...);
time_t lumenwick_list_time(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name);
char *lumenwick_gettext(lumenwick_plugin *ph, const char *msgid);
void lumenwick_send_modes(lumenwick_plugin *ph, const char **targets, int ntargets, int modes_per_line, char sign,
                          char mode);
char *lumenwick_strip(lumenwick_plugin *ph, const char *str, int len, int flags);
void lumenwick_free(lumenwick_plugin *ph, void *ptr);
int lumenwick_pluginpref_set_str(lumenwick_plugin *ph, const char *var, const char *value);
int lumenwick_pluginpref_get_str(lumenwick_plugin *ph, const char *var, char *dest);
int lumenwick_pluginpref_set_int(lumenwick_plugin *ph, const char *var, int value);
int lumenwick_pluginpref_get_int(lumenwick_plugin *ph, const char *var);
int lumenwick_pluginpref_delete(lumenwick_plugin *ph, const char *var);
int lumenwick_pluginpref_list(lumenwick_plugin *ph, char *dest);
lumenwick_hook *lumenwick_hook_server_attrs(lumenwick_plugin *ph, const char *name, int pri,
                                            lumenwick_server_attrs_cb callback, void *userdata);
lumenwick_hook *lumenwick_hook_print_attrs(lumenwick_plugin *ph, const char *name, int pri,
                                           lumenwick_print_attrs_cb callback, void *userdata);
int lumenwick_emit_print_attrs(lumenwick_plugin *ph, lumenwick_event_attrs *attrs, const char *event_name, ...);
lumenwick_event_attrs *lumenwick_event_attrs_create(lumenwick_plugin *ph);
void lumenwick_event_attrs_free(lumenwick_plugin *ph, lumenwick_event_attrs *attrs);

/* What the plugin defines. init returns 1 to stay loaded, 0 to be removed;
 * deinit returns 0 to refuse an /UNLOAD (it is unloaded anyway at exit). */
int lumenwick_plugin_init(lumenwick_plugin *plugin_handle, char **plugin_name, char **plugin_desc,
                          char **plugin_version, char *arg);
int lumenwick_plugin_deinit(lumenwick_plugin *plugin_handle);

/* Calls through the table, for plugins that define LUMENWICK_PLUGIN_HANDLE
 * (for example to a global "ph" set in lumenwick_plugin_init). */
#if defined(LUMENWICK_PLUGIN_HANDLE) && !defined(LUMENWICK_PLUGIN_INTERNAL)
#define LUMENWICK_CALL_(f) ((LUMENWICK_PLUGIN_HANDLE)->f)
#define lumenwick_hook_command LUMENWICK_CALL_(lumenwick_hook_command)
#define lumenwick_hook_server LUMENWICK_CALL_(lumenwick_hook_server)
#define lumenwick_hook_print LUMENWICK_CALL_(lumenwick_hook_print)
#define lumenwick_hook_timer LUMENWICK_CALL_(lumenwick_hook_timer)
#define lumenwick_hook_fd LUMENWICK_CALL_(lumenwick_hook_fd)
#define lumenwick_unhook LUMENWICK_CALL_(lumenwick_unhook)
#define lumenwick_print LUMENWICK_CALL_(lumenwick_print)
#define lumenwick_printf LUMENWICK_CALL_(lumenwick_printf)
#define lumenwick_command LUMENWICK_CALL_(lumenwick_command)
#define lumenwick_commandf LUMENWICK_CALL_(lumenwick_commandf)
#define lumenwick_nickcmp LUMENWICK_CALL_(lumenwick_nickcmp)
#define lumenwick_set_context LUMENWICK_CALL_(lumenwick_set_context)
#define lumenwick_find_context LUMENWICK_CALL_(lumenwick_find_context)
#define lumenwick_get_context LUMENWICK_CALL_(lumenwick_get_context)
#define lumenwick_get_info LUMENWICK_CALL_(lumenwick_get_info)
#define lumenwick_get_prefs LUMENWICK_CALL_(lumenwick_get_prefs)
#define lumenwick_list_get LUMENWICK_CALL_(lumenwick_list_get)
#define lumenwick_list_free LUMENWICK_CALL_(lumenwick_list_free)
#define lumenwick_list_fields LUMENWICK_CALL_(lumenwick_list_fields)
#define lumenwick_list_next LUMENWICK_CALL_(lumenwick_list_next)
#define lumenwick_list_str LUMENWICK_CALL_(lumenwick_list_str)
#define lumenwick_list_int LUMENWICK_CALL_(lumenwick_list_int)
#define lumenwick_plugingui_add LUMENWICK_CALL_(lumenwick_plugingui_add)
#define lumenwick_plugingui_remove LUMENWICK_CALL_(lumenwick_plugingui_remove)
#define lumenwick_emit_print LUMENWICK_CALL_(lumenwick_emit_print)
#define lumenwick_list_time LUMENWICK_CALL_(lumenwick_list_time)
#define lumenwick_gettext LUMENWICK_CALL_(lumenwick_gettext)
#define lumenwick_send_modes LUMENWICK_CALL_(lumenwick_send_modes)
#define lumenwick_strip LUMENWICK_CALL_(lumenwick_strip)
#define lumenwick_free LUMENWICK_CALL_(lumenwick_free)
#define lumenwick_pluginpref_set_str LUMENWICK_CALL_(lumenwick_pluginpref_set_str)
#define lumenwick_pluginpref_get_str LUMENWICK_CALL_(lumenwick_pluginpref_get_str)
#define lumenwick_pluginpref_set_int LUMENWICK_CALL_(lumenwick_pluginpref_set_int)
#define lumenwick_pluginpref_get_int LUMENWICK_CALL_(lumenwick_pluginpref_get_int)
#define lumenwick_pluginpref_delete LUMENWICK_CALL_(lumenwick_pluginpref_delete)
#define lumenwick_pluginpref_list LUMENWICK_CALL_(lumenwick_pluginpref_list)
#define lumenwick_hook_server_attrs LUMENWICK_CALL_(lumenwick_hook_server_attrs)
#define lumenwick_hook_print_attrs LUMENWICK_CALL_(lumenwick_hook_print_attrs)
#define lumenwick_emit_print_attrs LUMENWICK_CALL_(lumenwick_emit_print_attrs)
#define lumenwick_event_attrs_create LUMENWICK_CALL_(lumenwick_event_attrs_create)
#define lumenwick_event_attrs_free LUMENWICK_CALL_(lumenwick_event_attrs_free)
#endif

#ifdef __cplusplus
}
#endif

#endif /* LUMENWICK_PLUGIN_H */
