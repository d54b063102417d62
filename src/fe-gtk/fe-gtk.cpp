// Start-up, the main loop, timers and descriptor watches, sounds, URLs and
// window state for the GTK front end; plus the fe_ functions whose windows
// (channel list, ban lists, DCC, tray, user list) do not exist yet.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dialogs.h"
#include "fe-formats.h"
#include "fe.h"
#include "gtk-handles.h"
#include "net/server.h"
#include "session/session.h"
#include "sessionwin.h"
#include "theme/theme-gtk.h"

#include <canberra.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace
{

// fe_exit before the loop runs (start-up errors) must still stop it.
bool quit_before_loop = false;
// A quit signal came during start-up; shut down as soon as the loop runs.
bool quit_on_loop_start = false;

struct ca_context_deleter {
    void operator()(ca_context *c) const noexcept { ca_context_destroy(c); }
};
std::unique_ptr<ca_context, ca_context_deleter> sound_context;
bool sound_context_tried = false;

// The core's callbacks behind our main-loop sources.
struct timer_call {
    fe_timer_func callback;
    void *user_data;
};
struct watch_call {
    fe_input_func callback;
    void *user_data;
};

void free_timer_call(gpointer p) noexcept
{
    delete static_cast<timer_call *>(p);
}
void free_watch_call(gpointer p) noexcept
{
    delete static_cast<watch_call *>(p);
}

gboolean run_timer(gpointer data) noexcept
{
    auto *call = static_cast<timer_call *>(data);
    return guarded<gboolean>("timer", FALSE, [&] { return call->callback(call->user_data) ? TRUE : FALSE; });
}

gboolean run_watch(GIOChannel *source, GIOCondition condition, gpointer data) noexcept
{
    auto *call = static_cast<watch_call *>(data);
    return guarded<gboolean>("descriptor watch", FALSE,
                             [&] { return call->callback(source, condition, call->user_data) ? TRUE : FALSE; });
}

// The core may remove a source that already ended by returning false.
void remove_source(int tag)
{
    if (tag <= 0)
        return;
    if (GSource *source = g_main_context_find_source_by_id(nullptr, static_cast<guint>(tag)))
        g_source_destroy(source);
}

gboolean exit_from_loop(gpointer) noexcept
{
    guarded("quit", [] { lumenwick_exit(); });
    return G_SOURCE_REMOVE;
}

gboolean on_quit_signal(gpointer) noexcept
{
    // A signal can arrive while start-up waits on a message (the root
    // warning runs its own loop). Shutting down in the middle of start-up
    // would race the rest of it, so the shutdown waits for the main loop.
    if (gtk_main_level() == 0) {
        quit_on_loop_start = true;
        dialogs_end_waiting();
        return G_SOURCE_CONTINUE;
    }
    guarded("quit signal", [] { lumenwick_exit(); });
    return G_SOURCE_CONTINUE;
}

// Spawns xdg-open directly (never through a shell, so the URL cannot run
// commands) without the variables of a bundled environment.
bool spawn_xdg_open(const std::string &url)
{
    char program[] = "xdg-open";
    char *argv[] = {program, const_cast<char *>(url.c_str()), nullptr};
    strv_ptr envp(opener_environment(g_get_environ()));
    GError *error = nullptr;
    if (g_spawn_async(nullptr, argv, envp.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, &error))
        return true;
    g_debug("xdg-open: %s", error->message);
    g_error_free(error);
    return false;
}

bool launch_default_handler(const std::string &url)
{
    GError *error = nullptr;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error))
        return true;
    g_debug("default handler: %s", error->message);
    g_error_free(error);
    return false;
}

bool show_uri(const std::string &url)
{
    GError *error = nullptr;
    if (gtk_show_uri_on_window(main_window(), url.c_str(), GDK_CURRENT_TIME, &error))
        return true;
    g_debug("show uri: %s", error->message);
    g_error_free(error);
    return false;
}

bool wayland_kde(void)
{
    GdkDisplay *display = gdk_display_get_default();
    const char *desktop = g_getenv("XDG_CURRENT_DESKTOP");
    return display && g_str_equal(G_OBJECT_TYPE_NAME(display), "GdkWaylandDisplay") && desktop &&
           std::strstr(desktop, "KDE");
}

} // namespace

// --- start-up, main loop and exit -------------------------------------------

int fe_args(int argc, char *argv[])
{
    const int result = lumenwick_parse_args(argc, argv, gtk_get_option_group(TRUE));
    if (result != -1)
        return result;

    // After parsing: GDK resets the class from the program name while it parses.
    g_set_prgname(APPLICATION_ID);
    g_set_application_name(DISPLAY_NAME);
    gdk_set_program_class(APPLICATION_ID);
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "%s\n", _("Cannot open display"));
        return 1;
    }
    return -1;
}

void fe_init(void)
{
    gtk_window_set_default_icon_name(APPLICATION_ID);
    theme_startup();
    sessionwin_apply_font();
    g_unix_signal_add(SIGINT, on_quit_signal, nullptr);
    g_unix_signal_add(SIGTERM, on_quit_signal, nullptr);
}

void fe_main(void)
{
    if (quit_on_loop_start)
        g_idle_add(exit_from_loop, nullptr);
    if (!quit_before_loop)
        gtk_main();
    // Nothing plays sounds once the loop has ended; close the sound server
    // connection before static destructors run.
    sound_context.reset();
}

void fe_exit(void)
{
    if (gtk_main_level() > 0)
        gtk_main_quit();
    else
        quit_before_loop = true;
}

void fe_cleanup(void) {}

save_result fe_preferences_persistence_save_all(void)
{
    // The colours file is saved with the settings: neither replaces its old
    // file unless both could be written.
    static const colors_saver colors = {
        [](char **path) -> int { return theme_runtime_save_prepare(path) ? 1 : 0; },
        [](const char *path) -> int { return theme_runtime_save_finalize(path) ? 1 : 0; },
        [](const char *path) { theme_runtime_save_discard(path); },
    };
    return save_config_with_colors(&colors);
}

const char *fe_get_default_font(void)
{
    return nullptr;
}

// --- timers, idle calls and descriptor watches ------------------------------

int fe_timeout_add(int interval_ms, fe_timer_func callback, void *user_data)
{
    return static_cast<int>(g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(interval_ms), run_timer,
                                               new timer_call{callback, user_data}, free_timer_call));
}

int fe_timeout_add_seconds(int interval_s, fe_timer_func callback, void *user_data)
{
    return static_cast<int>(g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, static_cast<guint>(interval_s), run_timer,
                                                       new timer_call{callback, user_data}, free_timer_call));
}

void fe_timeout_remove(int tag)
{
    remove_source(tag);
}

void fe_idle_add(fe_idle_func callback, void *user_data)
{
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_timer, new timer_call{callback, user_data}, free_timer_call);
}

int fe_input_add(int fd, int flags, fe_input_func callback, void *user_data)
{
    const GIOCondition condition = fe_watch_condition(flags);

    // The watch keeps its own reference; the descriptor stays the caller's.
    std::unique_ptr<GIOChannel, decltype(&g_io_channel_unref)> channel(g_io_channel_unix_new(fd), g_io_channel_unref);
    return static_cast<int>(g_io_add_watch_full(channel.get(), G_PRIORITY_DEFAULT, condition, run_watch,
                                                new watch_call{callback, user_data}, free_watch_call));
}

void fe_input_remove(int tag)
{
    remove_source(tag);
}

// --- window state ---------------------------------------------------------------

int fe_gui_info(session *sess, int info_type)
{
    if (info_type != 0)
        return -1;
    GtkWindow *window = session_window(sess);
    if (!window || !gtk_widget_get_visible(GTK_WIDGET(window)))
        return 2;
    GdkWindow *gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
    if (gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_ICONIFIED))
        return 2;
    return gtk_window_is_active(window) ? 1 : 0;
}

void *fe_gui_info_ptr(session *sess, int info_type)
{
    if (info_type == 0 || info_type == 1)
        return session_window(sess ? sess : current_sess);
    return nullptr;
}

void fe_flash_window(session *sess)
{
    GtkWindow *window = session_window(sess);
    if (!window || fe_gui_info(sess, 0) == 1)
        return;
    gtk_window_set_urgency_hint(window, TRUE);
    // KDE on Wayland ignores the urgency hint; presenting is what marks it there.
    if (wayland_kde())
        gtk_window_present(window);
}

void fe_ctrl_gui(session *sess, fe_gui_action action, int)
{
    if (!sess)
        sess = current_sess;
    GtkWindow *window = session_window(sess);
    switch (action) {
    case FE_GUI_HIDE:
        if (window)
            gtk_widget_hide(GTK_WIDGET(window));
        break;
    case FE_GUI_SHOW:
        if (window) {
            gtk_widget_show(GTK_WIDGET(window));
            gtk_window_present(window);
        }
        break;
    case FE_GUI_FOCUS:
        if (window)
            gtk_window_present(window);
        break;
    case FE_GUI_FLASH:
        fe_flash_window(sess);
        break;
    case FE_GUI_ICONIFY:
        if (window)
            gtk_window_iconify(window);
        break;
    case FE_GUI_APPLY:
        sessionwin_apply_font();
        for (GSList *l = sess_list; l; l = l->next)
            sessionwin_apply_settings(static_cast<session *>(l->data));
        break;
    case FE_GUI_COLOR:  // one window per session: no tab to colour
    case FE_GUI_MENU:   // no menu bar yet
    case FE_GUI_ATTACH: // nothing to attach to
        break;
    }
}

// The desktop sound context, created once for beeps and event sounds.
ca_context *sound()
{
    if (!sound_context_tried) {
        sound_context_tried = true;
        ca_context *context = nullptr;
        if (ca_context_create(&context) == CA_SUCCESS) {
            ca_context_change_props(context, CA_PROP_APPLICATION_ID, APPLICATION_ID, CA_PROP_APPLICATION_NAME,
                                    DISPLAY_NAME, CA_PROP_APPLICATION_ICON_NAME, APPLICATION_ID, nullptr);
            sound_context.reset(context);
        }
    }
    return sound_context.get();
}

void fe_beep(void)
{
    ca_context *context = sound();
    if (!context || ca_context_play(context, 0, CA_PROP_EVENT_ID, "message-new-instant", nullptr) != CA_SUCCESS)
        gdk_display_beep(gdk_display_get_default());
}

int fe_play_sound(const char *file)
{
    ca_context *context = sound();
    if (!context || !file)
        return 0;
    return ca_context_play(context, 0, CA_PROP_MEDIA_FILENAME, file, nullptr) == CA_SUCCESS ? 1 : 0;
}

// Menus and the join dialog that react to connection events come with the
// main window.
void fe_server_event(server *, int, int) {}

void fe_open_url(const char *word)
{
    if (!word || !*word)
        return;
    const bool exists = g_file_test(word, G_FILE_TEST_EXISTS);
    const std::string url = escape_url_for_opener(url_for_word(word, exists));
    if (spawn_xdg_open(url) || launch_default_handler(url) || show_uri(url))
        return;
    g_warning("Unable to open URL '%s' using system default application", url.c_str());
}

// --- parts whose windows do not exist yet: accepted and ignored -------------------

void fe_add_rawlog(server *, char *, int, int) {}
void fe_url_add(const char *) {}

void fe_userlist_insert(session *, User *, gboolean) {}
int fe_userlist_remove(session *, User *)
{
    return 0;
}
void fe_userlist_rehash(session *, User *) {}
void fe_userlist_numbers(session *sess)
{
    if (prefs.gui_win_ucount)
        fe_set_title(sess);
}
void fe_userlist_clear(session *) {}
void fe_userlist_set_selected(session *) {}
void fe_uselect(session *, char *[], int, int) {}
void fe_set_typing(session *, const char *, const char *) {}
void fe_userlist_update(session *, User *) {}

void fe_open_chan_list(server *, char *, int) {}
int fe_is_chanwindow(server *)
{
    return 0;
}
void fe_add_chan_list(server *, char *, char *, char *) {}
void fe_chan_list_end(server *) {}
// No ban window is open, so no list is pending: the core prints the entries.
gboolean fe_add_ban_list(session *, char *, char *, char *, int)
{
    return FALSE;
}
gboolean fe_ban_list_end(session *, int)
{
    return FALSE;
}
void fe_ignore_update(int) {}
void fe_notify_update(char *) {}
void fe_notify_ask(char *, char *) {}
void fe_pluginlist_update(void) {}
void fe_menu_add(menu_entry *) {}
void fe_menu_del(menu_entry *) {}
void fe_menu_update(menu_entry *) {}

void fe_dcc_add(DCC *) {}
void fe_dcc_update(DCC *) {}
void fe_dcc_remove(DCC *) {}
int fe_dcc_open_recv_win(int)
{
    return 0;
}
int fe_dcc_open_send_win(int)
{
    return 0;
}
int fe_dcc_open_chat_win(int)
{
    return 0;
}
void fe_dcc_send_filereq(session *, char *, int, int) {}

void fe_tray_set_icon(int) {}
void fe_tray_set_flash(const char *, const char *, int) {}
void fe_tray_set_file(const char *) {}
void fe_tray_set_tooltip(const char *) {}
