// A proxy's replies to the SOCKS4, SOCKS5 and HTTP CONNECT handshakes.
// Byte 0 picks the kind and whether authentication is offered, byte 1 the
// size of the reads; the rest is what the proxy answers. Whatever it says,
// the handshake ends, reports only bounded lines, and never reads past the
// point where the IRC stream begins.
#include "net/network.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const int kinds[] = {PROXY_SOCKS4, PROXY_SOCKS5, PROXY_HTTP, PROXY_WINGATE};
    proxy_request req;
    req.kind = kinds[data[0] % 4];
    req.auth = (data[0] & 4) != 0;
    req.host = "irc.example.org";
    req.port = 6697;
    req.ipv4 = 0x7f000001;
    req.user_id = "lumenwick";
    req.user = "user";
    req.password = "password";
    const size_t chunk = data[1] % 16;
    const std::string reply(reinterpret_cast<const char *>(data + 2), size - 2);

    std::string sent;
    net_io io = net_io_for_memory(reply, &sent, chunk);
    size_t reports = 0;
    const bool ok = net_proxy_negotiate(io, req, [&](std::string_view text) {
        // One status or header line of at most 511 bytes plus its line end.
        if (text.empty() || text.size() > 512 || text.back() != '\n')
            abort();
        reports++;
    });
    // Every report but the HTTP lines is a failure reason, given once.
    if (req.kind != PROXY_HTTP && reports > (ok ? 0u : 1u))
        abort();
    if (req.kind == PROXY_WINGATE && !ok)
        abort();

    char rest[64];
    long left = 0;
    long n;
    while ((n = io.read(rest, sizeof rest)) > 0)
        left += n;
    // A successful HTTP handshake ends at the empty line and no later.
    if (ok && req.kind == PROXY_HTTP) {
        const size_t end = reply.size() - static_cast<size_t>(left);
        if (end < 1 || reply[end - 1] != '\n')
            abort();
    }
    return 0;
}
