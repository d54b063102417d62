// What the network list window and its editor decide without a display:
// the rows the list shows, the copy of the identity into the settings, and
// which editor controls are sensitive or visible for a network's state.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

struct ircnet;

// ---- the list ---------------------------------------------------------------------

// One row of the network list: the network and the font weight of its name.
struct netlist_row {
    ircnet *net;
    int weight; // 800 for a favourite, 400 otherwise (always 400 when only favourites show)
};

inline constexpr int NETLIST_WEIGHT_NORMAL = 400;
inline constexpr int NETLIST_WEIGHT_FAVORITE = 800;

// The rows for `networks` (ircnet *, in list order); with `favorites_only`
// only the networks marked NET_FAVORITE, in normal weight.
std::vector<netlist_row> netlist_rows(const GSList *networks, bool favorites_only);

// The identity the window edits, as the settings store it.
struct netlist_identity {
    std::string nick1, nick2, nick3, user_name;
};
// Whether the identity may be saved: a user name and two nicks that differ
// under IRC case folding (an empty first or second nick also stops it).
bool netlist_identity_savable(const netlist_identity &id);
// Copies the identity into the settings: nicks cut to 63 bytes, the user
// name to 126 bytes and at its first blank, never inside a UTF-8 character.
void netlist_identity_store(const netlist_identity &id);

// ---- the editor ---------------------------------------------------------------------

// What the editor's sensitivity depends on.
struct netedit_state {
    bool use_global = false;        // "Use global user information" ticked
    bool ask_password = false;      // "Ask for password on connect" ticked
    int login_method = 0;           // the chosen login method code
    bool stored_password = false;   // the network has a non-empty `password`
    bool stored_encrypted = false;  // ... in the "enc:" form
    bool in_keyring = false;        // the network has NET_KEYRING
    bool password_edited = false;   // the password entry was changed
    bool has_name = false;          // the network has a non-empty name
    bool keyring_available = false; // a Secret Service answered
    bool has_certificate = false;   // certs/<name>.pem exists
};

struct netedit_sensitivity {
    bool identity = true;        // nick, second nick, real name, user name entries
    bool password = true;        // the password entry and "Show password"
    bool use_keyring = true;     // "Use system keyring"
    bool encrypt_button = false; // "Encrypt saved password"
    bool move_button = false;    // "Move password to keyring"
    bool cert_create = false;    // "Generate ..." and "Import ..." visible
    bool cert_manage = false;    // "... cert info" and "Delete cert" visible
};

netedit_sensitivity netedit_sensitivity_for(const netedit_state &s);

// The text the password entry shows for a stored password that was neither
// edited nor revealed.
inline constexpr const char *NETEDIT_PASSWORD_MASK = "***";
