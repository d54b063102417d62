#include "fe-common/netlist.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "servlist/servlist.h"

#include <cstring>

std::vector<netlist_row> netlist_rows(const GSList *networks, bool favorites_only)
{
    std::vector<netlist_row> rows;
    rows.reserve(g_slist_length(const_cast<GSList *>(networks)));
    for (const GSList *l = networks; l; l = l->next) {
        auto *net = static_cast<ircnet *>(l->data);
        const bool favorite = net->flags & NET_FAVORITE;
        if (favorites_only && !favorite)
            continue;
        rows.push_back({net, favorite && !favorites_only ? NETLIST_WEIGHT_FAVORITE : NETLIST_WEIGHT_NORMAL});
    }
    return rows;
}

bool netlist_identity_savable(const netlist_identity &id)
{
    return servlist_identity_problem(id.nick1.c_str(), id.nick2.c_str(), id.user_name.c_str(), nullptr) == nullptr;
}

namespace
{

// Copies at most `size` - 1 bytes of `text`, backing off to a character
// boundary so the setting stays valid UTF-8.
void copy_cut(char *dest, std::size_t size, const std::string &text)
{
    std::size_t n = std::min(text.size(), size - 1);
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

} // namespace

void netlist_identity_store(const netlist_identity &id)
{
    copy_cut(prefs.irc_nick1, sizeof prefs.irc_nick1, id.nick1);
    copy_cut(prefs.irc_nick2, sizeof prefs.irc_nick2, id.nick2);
    copy_cut(prefs.irc_nick3, sizeof prefs.irc_nick3, id.nick3);
    // A blank ends the user name: the server would take only the first word.
    std::string user = id.user_name.substr(0, id.user_name.find_first_of(" \t"));
    copy_cut(prefs.irc_user_name, sizeof prefs.irc_user_name, user);
}

netedit_sensitivity netedit_sensitivity_for(const netedit_state &s)
{
    netedit_sensitivity out;
    out.identity = !s.use_global;
    // A certificate logs in alone; an asked password is typed at connect.
    out.password = s.login_method != LOGIN_METHOD_SASL_EXTERNAL && !s.ask_password;
    // Unticking stays possible without a keyring so a password can leave it.
    out.use_keyring = !s.ask_password && (s.keyring_available || s.in_keyring);
    const bool settled = s.stored_password && !s.in_keyring && !s.password_edited && !s.ask_password;
    out.encrypt_button = settled && !s.stored_encrypted;
    out.move_button = settled && s.has_name && s.keyring_available;
    out.cert_create = s.has_name && !s.has_certificate;
    out.cert_manage = s.has_name && s.has_certificate;
    return out;
}
