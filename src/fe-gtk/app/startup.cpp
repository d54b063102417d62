// Start-up, the main loop and exit of the GTK front end. Timers and
// descriptor watches are the shared ones of fe-common.
#include "app/sound.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dialogs/message.h"
#include "fe.h"
#include "input/keybindings.h"
#include "mainwin/imageset.h"
#include "mainwin/maingui.h"
#include "resources/pixmaps.h"
#include "session/lumenwick.h"
#include "support/gtk-handles.h"
#include "theme/theme-gtk.h"
#include "theme/theme-runtime.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>

namespace
{

// fe_exit before the loop runs (start-up errors) must still stop it.
bool quit_before_loop = false;
// A quit signal came during start-up; shut down as soon as the loop runs.
bool quit_on_loop_start = false;

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
    guarded("quit signal", [] {
        if (gtk_main_level() == 0) {
            quit_on_loop_start = true;
            dialogs_end_waiting();
            return;
        }
        lumenwick_exit();
    });
    return G_SOURCE_CONTINUE;
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
    // The image set follows the dark mode the theme just settled on.
    pixmaps_init();
    if (pix_lumenwick)
        gtk_window_set_default_icon(pix_lumenwick);
    pixmaps_background_update();
    mg_images_follow_dark_mode();
    sessionwin_apply_font();
    key_init();
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
    sound_close();
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
