// Process start-up, the core timers and the orderly shutdown.

#include "session/lumenwick.h"

#include "base/guard.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "config/menu.h"
#include "fe.h"
#include "lists/ignore.h"
#include "lists/notify.h"
#include "net/server.h"
#include "net/sts.h"
#include "output/text.h"
#include "plugins/plugin.h"
#include "servlist/servlist.h"
#include "session/chanopt.h"
#include "session/session.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <glib/gstdio.h>
#include <unistd.h>

GSList *sess_list = nullptr;
GSList *serv_list = nullptr;
GList *sess_list_by_lastact[5] = {};
session *current_sess = nullptr;
session *current_tab = nullptr;
int lumenwick_is_quitting = 0;
int arg_dont_autoconnect = 0;
int arg_skip_plugins = 0;
int arg_existing = 0;
char *arg_url = nullptr;
char **arg_urls = nullptr;
char *arg_command = nullptr;
int arg_minimize = 0;

namespace
{

// The settings module sits below start-up: it re-arms the core timers
// through this hook when a setting that drives them changes.
[[maybe_unused]] const bool timers_hooked = [] {
    cfg_timers_changed = lumenwick_reinit_timers;
    return true;
}();

// Timer tags of the core timers, 0 when not running.
int notify_tag;
int notify_period;
int away_tag;
int away_period;
int lag_meter_tag;
int lag_check_tag;
bool shutdown_running;

// Users asked about per tick of away polling; more would flood the server
// with WHO replies on big channels.
constexpr int AWAY_POLL_USERS_PER_TICK = 31;

int lag_meter_refresh(void *) noexcept
{
    guarded("lag meter", [] {
        for (GSList *l = serv_list; l; l = l->next) {
            auto *serv = static_cast<server *>(l->data);
            if (serv->lag_probe_ms)
                fe_set_lag(serv, -1);
        }
    });
    return 1;
}

// The core timers run from the main loop: a tick that fails is logged and
// the timer goes on.
int notify_tick(void *) noexcept
{
    return guarded("notify check", 1, [] { return notify_checklist(nullptr); });
}
int away_tick(void *) noexcept
{
    return guarded("away polling", 1, [] { return away_status_poll(nullptr); });
}
int lag_tick(void *) noexcept
{
    return guarded("lag check", 1, [] { return lag_check(nullptr); });
}
int auto_connect_idle(void *) noexcept
{
    guarded("auto-connect", [] { servlist_auto_connect(nullptr); });
    return 0;
}

// Looks for the configuration directory before the option parser runs, so
// the settings are loaded before anything else reads them.
void find_cfgdir_argument(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if ((strcmp(argv[i], "-d") == 0 || strcmp(argv[i], "--cfgdir") == 0) && i + 1 < argc) {
            set_xdir(argv[i + 1]);
            return;
        }
        if (strncmp(argv[i], "--cfgdir=", 9) == 0) {
            set_xdir(argv[i] + 9);
            return;
        }
    }
}

} // namespace

void lumenwick_open_startup_windows(void)
{
    const bool skip = prefs.gui_slist_skip != 0;
    const bool url = arg_url != nullptr || arg_urls != nullptr;

    if (!url && !skip)
        fe_serverlist_open(nullptr);

    if (url || arg_dont_autoconnect) {
        if (url || skip)
            new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    } else if (servlist_have_auto()) {
        fe_idle_add(auto_connect_idle, nullptr);
    } else if (skip) {
        new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    }
}

namespace
{
bool connection_completed;

} // namespace

void lumenwick_note_connected(void)
{
    connection_completed = true;
}

int lumenwick_parse_args(int argc, char **argv, GOptionGroup *toolkit_group)
{
    gboolean show_version = FALSE, show_plugindir = FALSE, show_configdir = FALSE;
    gboolean no_auto = FALSE, no_plugins = FALSE, existing = FALSE;
    char *cfgdir = nullptr, *url = nullptr, *command = nullptr;
    char **remaining = nullptr;
    int minimize = 0;

    bindtextdomain(GETTEXT_PACKAGE, LUMENWICK_LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");

    const GOptionEntry entries[] = {
        {"no-auto", 'a', 0, G_OPTION_ARG_NONE, &no_auto, N_("Don't auto connect to servers"), nullptr},
        {"cfgdir", 'd', 0, G_OPTION_ARG_STRING, &cfgdir, N_("Use a different config directory"), "PATH"},
        {"no-plugins", 'n', 0, G_OPTION_ARG_NONE, &no_plugins, N_("Don't auto load any plugins"), nullptr},
        {"plugindir", 'p', 0, G_OPTION_ARG_NONE, &show_plugindir, N_("Show plugin/script auto-load directory"),
         nullptr},
        {"configdir", 'u', 0, G_OPTION_ARG_NONE, &show_configdir, N_("Show user config directory"), nullptr},
        {"url", 0, G_OPTION_FLAG_HIDDEN, G_OPTION_ARG_STRING, &url, N_("Open an irc://server:port/channel?key URL"),
         "URL"},
        {"command", 'c', 0, G_OPTION_ARG_STRING, &command, N_("Execute command:"), "COMMAND"},
        {"existing", 'e', 0, G_OPTION_ARG_NONE, &existing, N_("Open URL or execute command in an existing Lumenwick"),
         nullptr},
        {"minimize", 0, 0, G_OPTION_ARG_INT, &minimize, N_("Begin minimized. Level 0=Normal 1=Iconified 2=Tray"),
         N_("level")},
        {"version", 'v', 0, G_OPTION_ARG_NONE, &show_version, N_("Show version information"), nullptr},
        {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_STRING_ARRAY, &remaining,
         N_("Open an irc://server:port/channel?key URL"), "URL"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };

    GOptionContext *context = g_option_context_new(nullptr);
    g_option_context_set_translation_domain(context, GETTEXT_PACKAGE);
    g_option_context_add_main_entries(context, entries, GETTEXT_PACKAGE);
    if (toolkit_group)
        g_option_context_add_group(context, toolkit_group);

    GError *error = nullptr;
    const gboolean parsed = g_option_context_parse(context, &argc, &argv, &error);
    g_option_context_free(context);
    if (!parsed) {
        if (error) {
            printf("%s\n", error->message);
            g_error_free(error);
        }
        g_free(cfgdir);
        g_free(url);
        g_free(command);
        g_strfreev(remaining);
        return 1;
    }
    g_free(cfgdir); // already applied before the settings were loaded

    int result = -1;
    if (show_version) {
        printf("%s %s\n", PACKAGE_NAME, LUMENWICK_VERSION);
        result = 0;
    } else if (show_plugindir) {
        printf("%s/addons/\n", get_xdir());
        result = 0;
    } else if (show_configdir) {
        printf("%s/\n", get_xdir());
        result = 0;
    }
    fflush(stdout);
    if (result != -1) {
        g_free(url);
        g_free(command);
        g_strfreev(remaining);
        return result;
    }

    arg_dont_autoconnect = no_auto;
    arg_skip_plugins = no_plugins;
    arg_existing = existing;
    arg_minimize = minimize;
    arg_url = url;
    arg_command = command;
    if (remaining && remaining[0])
        arg_urls = remaining;
    else
        g_strfreev(remaining);
    return -1;
}

int lumenwick_main(int argc, char **argv)
{
    srand(static_cast<unsigned>(time(nullptr)));

    find_cfgdir_argument(argc, argv);

    const char *font = fe_get_default_font();
    if (check_config_dir() != 0) {
        load_default_config(font);
        make_config_dirs();
        make_dcc_dirs();
    } else if (load_config(font) != 0) {
        load_default_config(font);
    }

    const int args_result = fe_args(argc, argv);
    if (args_result != -1)
        return args_result;

    lumenwick_remote();

    fe_init();

    if (g_access(get_xdir(), W_OK) != 0) {
        char *msg = g_strdup_printf(_("You do not have write access to %s. Nothing from this session can be saved."),
                                    get_xdir());
        fe_message(msg, FE_MSG_ERROR);
        g_free(msg);
    }
    if (getuid() == 0)
        fe_message(_("* Running IRC as root is stupid! You should\n  create a User Account and use that to login.\n"),
                   FE_MSG_WAIT | FE_MSG_WARN);

    signal(SIGPIPE, SIG_IGN);

    load_text_events();
    sound_load();
    notify_load();
    ignore_load();
    sts_init();

    list_load_all();

    servlist_init();

    lumenwick_open_startup_windows();

    fe_main();

    if (connection_completed || prefs.wait_on_exit)
        sleep(2);
    return 0;
}

void lumenwick_reinit_timers(void)
{
    if (prefs.notify_timeout && notify_tag && notify_period != prefs.notify_timeout) {
        fe_timeout_remove(notify_tag);
        notify_tag = 0;
    }
    if (prefs.notify_timeout && !notify_tag) {
        notify_period = prefs.notify_timeout;
        notify_tag = fe_timeout_add_seconds(notify_period, notify_tick, nullptr);
    } else if (!prefs.notify_timeout && notify_tag) {
        fe_timeout_remove(notify_tag);
        notify_tag = 0;
    }

    const int away_seconds = prefs.away_timeout > 0 ? prefs.away_timeout : 1;
    if (prefs.away_track && away_tag && away_period != away_seconds) {
        fe_timeout_remove(away_tag);
        away_tag = 0;
    }
    if (prefs.away_track && !away_tag) {
        away_period = away_seconds;
        away_tag = fe_timeout_add_seconds(away_period, away_tick, nullptr);
    } else if (!prefs.away_track && away_tag) {
        fe_timeout_remove(away_tag);
        away_tag = 0;
    }

    if (prefs.gui_lagometer && !lag_meter_tag) {
        lag_meter_tag = fe_timeout_add(500, lag_meter_refresh, nullptr);
    } else if (!prefs.gui_lagometer && lag_meter_tag) {
        fe_timeout_remove(lag_meter_tag);
        lag_meter_tag = 0;
    }

    if ((prefs.gui_lagometer || prefs.net_ping_timeout) && !lag_check_tag) {
        lag_check_tag = fe_timeout_add(1000, lag_tick, nullptr);
    } else if (!prefs.gui_lagometer && !prefs.net_ping_timeout && lag_check_tag) {
        fe_timeout_remove(lag_check_tag);
        lag_check_tag = 0;
    }
}

int lag_check(void *)
{
    const time_t now = time(nullptr);
    const unsigned long now_ms = make_ping_time();

    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (!serv->connected || !serv->motd_done)
            continue;

        if (serv->lag_probe_ms && prefs.net_ping_timeout) {
            const unsigned long elapsed_ms = now_ms - serv->lag_probe_ms;
            if (elapsed_ms > static_cast<unsigned long>(prefs.net_ping_timeout) * 1000UL) {
                char seconds[32];
                g_snprintf(seconds, sizeof seconds, "%lu", elapsed_ms / 1000UL);
                text_emit(XP_TE_PING_TIMEOUT, serv->home_session, seconds, nullptr, nullptr, nullptr, 0);
                if (prefs.net_auto_reconnect && serv->auto_reconnect)
                    serv->auto_reconnect(serv, FALSE, -1, prefs.net_reconnect_delay);
            }
            continue;
        }

        if (!serv->lag_probe_ms && prefs.net_lag_check > 0 && now - serv->last_pong_time >= prefs.net_lag_check) {
            char probe[64];
            g_snprintf(probe, sizeof probe, "LAG%lu", now_ms);
            if (serv->p_ping)
                serv->p_ping(serv, "", probe);
            serv->lag_probe_ms = now_ms;
            fe_set_lag(serv, -1);
        }
    }
    return 1;
}

int away_status_poll(void *)
{
    if (!prefs.away_track)
        return 1;

    int requested = 0;
    for (int round = 0; round < 2; round++) {
        bool complete = true;
        for (GSList *l = sess_list; l; l = l->next) {
            auto *sess = static_cast<session *>(l->data);
            if (sess->type != SESS_CHANNEL || !sess->channel[0] || !sess->server->connected)
                continue;
            if (prefs.away_size_max && sess->user_count > prefs.away_size_max)
                continue;
            if (sess->away_polled)
                continue;
            complete = false;
            if (requested < AWAY_POLL_USERS_PER_TICK && !sess->who_pending) {
                sess->away_polled = TRUE;
                sess->who_pending = TRUE;
                if (sess->server->p_away_status)
                    sess->server->p_away_status(sess->server, sess->channel);
                requested += sess->user_count;
            }
        }
        if (!complete)
            break;
        for (GSList *l = sess_list; l; l = l->next)
            static_cast<session *>(l->data)->away_polled = FALSE;
    }
    return 1;
}

void lumenwick_exit(void)
{
    if (shutdown_running)
        return;
    lumenwick_is_quitting = TRUE;
    shutdown_running = true;

    plugin_kill_all();
    fe_cleanup();

    const save_result saved = fe_preferences_persistence_save_all();
    if (!saved.ok) {
        if (saved.settings_written_before_colors_failed)
            fputs(_("Could not fully save preferences. lumenwick.conf was written, but colors.conf failed.\n"), stderr);
        else
            fputs(_("Could not save lumenwick.conf.\n"), stderr);
    }

    if (prefs.save_pevents)
        pevent_save(nullptr);
    sound_save();
    notify_save();
    ignore_save();
    sts_cleanup();

    // Each close ends in session_free, which quits or parts its server.
    while (sess_list) {
        auto *sess = static_cast<session *>(sess_list->data);
        fe_close_window(sess);
        if (sess_list && sess_list->data == sess)
            session_free(sess); // the front end left the freeing to us
    }

    chanopt_save_all();
    servlist_cleanup();
    menu_free_all();
    fe_exit();
    // lumenwick_is_quitting stays set, so closing tabs cannot start this again.
    shutdown_running = false;
}

void lumenwick_exec(const char *cmd)
{
    util_exec(cmd);
}
