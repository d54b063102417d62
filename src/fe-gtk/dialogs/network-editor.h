// The network editor: a modal window over the network list that edits one
// network's servers, favourite channels, connect commands, flags, identity,
// login method, password storage, character set and client certificate.
#pragma once

#include <gtk/gtk.h>

#include <functional>

struct ircnet;

// Opens the editor for `net` over `parent`; `on_closed` runs after it has
// stored its fields and closed. Does nothing when an editor is open. A
// network whose password is in a locked keyring opens only once unlocked.
void netedit_open(GtkWindow *parent, ircnet *net, std::function<void()> on_closed);
// Whether an editor is open (the list keeps its selection still meanwhile).
bool netedit_is_open(void);

// A message box over `parent` that closes itself when answered; `secondary`
// (may be null or empty) goes below the main text.
void netlist_message(GtkWindow *parent, GtkMessageType type, const char *text, const char *secondary = nullptr);
