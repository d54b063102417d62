// fe_open_url: hands a clicked or typed word to the desktop's opener.
#include "app/url-words.h"
#include "base/lumenwick.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "support/gtk-handles.h"

#include <gtk/gtk.h>

#include <string>

namespace
{

// Spawns xdg-open directly (never through a shell, so the URL cannot run
// commands) without the variables of a bundled environment.
bool spawn_xdg_open(const std::string &url)
{
    // xdg-open takes a leading "-" for an option of its own; such a text goes
    // to the desktop's handler instead.
    if (url.empty() || url[0] == '-')
        return false;
    char program[] = "xdg-open";
    char *argv[] = {program, const_cast<char *>(url.c_str()), nullptr};
    strv_ptr envp(opener_environment(g_get_environ()));
    error_ptr error;
    if (g_spawn_async(nullptr, argv, envp.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, error.out()))
        return true;
    g_debug("xdg-open: %s", error.message());
    return false;
}

bool launch_default_handler(const std::string &url)
{
    error_ptr error;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, error.out()))
        return true;
    g_debug("default handler: %s", error.message());
    return false;
}

} // namespace

void fe_open_url(const char *word)
{
    if (!word || !*word)
        return;
    const bool exists = g_file_test(word, G_FILE_TEST_EXISTS);
    const std::string url = escape_url_for_opener(url_for_word(word, exists));
    // Not the toolkit's URI launcher after these: without a desktop portal it
    // reports success for a link that never opens, and the user is told nothing.
    if (spawn_xdg_open(url) || launch_default_handler(url))
        return;
    g_warning("Unable to open URL '%s' using system default application", url.c_str());
    // Said to the user too: a click that does nothing would look like a hang.
    gchar_ptr msg(g_strdup_printf(_("Unable to open the link %s: no program to open links was found (install "
                                    "xdg-utils or set a default web browser)."),
                                  url.c_str()));
    fe_message(msg.get(), FE_MSG_ERROR);
}
