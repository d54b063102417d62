// DCC. Transfers and chats arrive with the DCC work; until then an offer is
// shown to the user and not acted on, and the commands that would start or
// accept a transfer say that they cannot.

#include "dcc/dcc.h"

#include "config/cfgfiles.h"
#include "irc/inbound.h"
#include "irc/proto-irc.h"
#include "net/network.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

namespace
{

void dcc_unavailable(session *sess)
{
    PrintText(sess, _("DCC is not available yet.\n"));
}

// The IPv4 address of our end of the server connection (host order), 0 when
// the socket is not an IPv4 (or IPv4-mapped) socket.
uint32_t connection_local_address(const server *serv)
{
    if (!serv || serv->sock < 0)
        return 0;
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (getsockname(serv->sock, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return 0;
    if (local.ss_family == AF_INET)
        return ntohl(reinterpret_cast<const sockaddr_in *>(&local)->sin_addr.s_addr);
    if (local.ss_family == AF_INET6) {
        const auto *a6 = reinterpret_cast<const sockaddr_in6 *>(&local);
        if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
            uint32_t net_order;
            memcpy(&net_order, a6->sin6_addr.s6_addr + 12, sizeof net_order);
            return ntohl(net_order);
        }
    }
    return 0;
}

} // namespace

void handle_dcc(session *sess, char *nick, char *word[], char *word_eol[], const message_tags_data *tags)
{
    (void)word_eol;
    if (!sess)
        return;
    // The DCC type and what it offers (a file name, quotes already taken off).
    std::string offer = word[5];
    if (word[6][0])
        offer += std::string(" ") + word[6];
    const std::size_t end = offer.find('\001');
    if (end != std::string::npos)
        offer.resize(end);
    text_emit(XP_TE_DCC_GENERIC_OFFER, sess, offer.c_str(), nick, nullptr, nullptr, tags ? tags->timestamp : 0);
}

// No chats can be open before the DCC work lands, so no line goes to one.
DCC *dcc_write_chat(const char *, const char *)
{
    return nullptr;
}
const char *dcc_peer_address(const DCC *)
{
    return nullptr;
}

uint32_t dcc_get_my_address(session *sess)
{
    if (!sess)
        return 0;
    server *serv = sess->server;
    if (prefs.dcc_ip_from_server) {
        if (const uint32_t reported = inbound_own_address(serv))
            return reported;
    }
    // The address we would bind to: a configured local address, else our
    // end of the server connection.
    uint32_t address = net_local_ipv4 ? net_local_ipv4 : connection_local_address(serv);
    if (prefs.dcc_ip[0]) {
        guint32 configured;
        if (net_parse_ipv4(prefs.dcc_ip, &configured) || net_lookup_ipv4(prefs.dcc_ip, &configured))
            address = configured;
    }
    return address;
}

// With no DCC records there is nothing to list, abort or find; offering and
// accepting say plainly that they cannot.
void dcc_show_list(session *sess)
{
    dcc_unavailable(sess);
}
void dcc_send(session *sess, const char *, const char *, int64_t, int)
{
    dcc_unavailable(sess);
}
void dcc_chat(session *sess, const char *, int)
{
    dcc_unavailable(sess);
}
void dcc_get(DCC *) {}
void dcc_get_nick(session *sess, const char *)
{
    dcc_unavailable(sess);
}
void dcc_abort(session *, DCC *) {}
DCC *find_dcc(const char *, const char *, int)
{
    return nullptr;
}
void dcc_change_nick(server *, const char *, const char *) {}
