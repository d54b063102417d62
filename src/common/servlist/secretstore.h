// Network passwords in the desktop keyring (the Secret Service, through
// libsecret): schema "net.vorun.Lumenwick.Network", one attribute "network"
// = "lumenwick/network/<name>" ("default" for a network without a name), in
// the default collection. Calls block until the service answers, within a
// bound; without a Secret Service on the session bus they fail at once.
// Errors are returned for the caller to show; nothing is printed here.
#pragma once

#include <glib.h>

// The keyring password of a network (free with servlist_password_free), or
// null: none stored (no error) or a failure (`error` set).
char *secretstore_get_network_password(const char *network, GError **error = nullptr);
// Stores (replaces) the password of a network.
bool secretstore_set_network_password(const char *network, const char *password, GError **error = nullptr);
// Removes the password of a network; true also when there was none.
bool secretstore_delete_network_password(const char *network, GError **error = nullptr);
// Looks the entry up so that a locked keyring asks the user to unlock it
// (waiting up to two minutes for that); false only when the lookup failed.
bool secretstore_require_unlock(const char *network, GError **error = nullptr);
// Whether a Secret Service is running (or can be started) on the session bus.
bool secretstore_is_keyring_available(GError **error = nullptr);
