// The "Plugins and Scripts" window: the plugin list with Load..., Unload
// and Reload. One window at a time; refreshed by fe_pluginlist_update.
#pragma once

#include <string>

struct session;

// Opens the window (or brings it to front) for `sess`, whose tab the
// commands run in while it lives.
void plugingui_open(session *sess);
// Refills the list from plugin_list when the window is open.
void plugingui_refresh(void);
// Where a chosen plugin file is loaded from: itself when it is in
// `addons`, else a copy made there (the folder created 0700). Empty, with
// `error` set, when the copy fails.
std::string plugingui_place_in_addons(const std::string &file, const std::string &addons, std::string *error);
