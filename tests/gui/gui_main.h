// The start of an in-process GTK test program: a private configuration
// folder holding the default settings, no ident server and no plugins, the
// warnings and criticals counted, GTK and the front end started; the folder
// is removed once the tests ran.
#pragma once

#include "config/cfgfiles.h"
#include "fe.h"
#include "session/lumenwick.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// Warnings and criticals logged so far; tests reset and compare it.
inline int logged_problems = 0;

inline GLogWriterOutput count_problems(GLogLevelFlags level, const GLogField *fields, gsize n, gpointer) noexcept
{
    if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_ERROR))
        ++logged_problems;
    return g_log_writer_default(level, fields, n, nullptr);
}

// `configure` runs after the defaults are loaded, before GTK starts, with the
// configuration folder's path.
inline int run_gui_tests(int argc, char **argv, const std::function<void(const char *dir)> &configure = {})
{
    ::testing::InitGoogleTest(&argc, argv);
    g_log_set_writer_func(count_problems, nullptr, nullptr);
    gchar *dir = g_dir_make_tmp("lumenwick-gui-XXXXXX", nullptr);
    set_xdir(dir);
    load_default_config();
    prefs.identd_server = 0; // never listen on a port from a test
    arg_skip_plugins = 1;
    if (configure)
        configure(dir);
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: run through with-xvfb.sh\n");
        return 1;
    }
    fe_init();
    const int result = RUN_ALL_TESTS();
    // Some tests give HOME a folder beside the configuration folder.
    const std::string rm = std::string("rm -rf '") + dir + "' '" + dir + "-home'";
    if (std::system(rm.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", dir);
    g_free(dir);
    return result;
}
