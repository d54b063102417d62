// Sockets, name resolution, proxy handshakes and the connection child's
// report protocol. Everything here may run in the forked connection child,
// so nothing touches the main loop or the front end.

#include "net/network.h"

#include "base/util.h"
#include "config/cfgfiles.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

guint32 net_local_ipv4;

struct netstore {
    addrinfo *ai = nullptr;
};

using namespace std::string_literals;

namespace
{

// The numeric form of an address never needs more; longer text is cut.
constexpr std::size_t NUMERIC_HOST_MAX = 127;

// Byte values of the proxy protocols.
constexpr unsigned char SOCKS4_VERSION = 4;
constexpr unsigned char SOCKS4_CONNECT = 1;
constexpr unsigned char SOCKS4_GRANTED = 90;
constexpr unsigned char SOCKS4_REPLY_SIZE = 8;
constexpr unsigned char SOCKS4_USER_ID_MAX = 9;
constexpr unsigned char SOCKS5_VERSION = 5;
constexpr unsigned char SOCKS5_CONNECT = 1;
constexpr unsigned char SOCKS5_METHOD_NONE = 0;
constexpr unsigned char SOCKS5_METHOD_USER_PASS = 2;
constexpr unsigned char SOCKS5_USER_PASS_VERSION = 1;
constexpr unsigned char SOCKS5_ATYP_IPV4 = 1;
constexpr unsigned char SOCKS5_ATYP_DOMAIN = 3;
constexpr unsigned char SOCKS5_ATYP_IPV6 = 4;
constexpr unsigned char SOCKS5_REFUSED_BY_RULESET = 2;
// SOCKS5 carries names and credentials with a one-byte length.
constexpr std::size_t SOCKS5_FIELD_MAX = 255;
constexpr std::size_t HTTP_STATUS_LINE_MAX = 511;
constexpr std::size_t HTTP_AUTH_TEXT_MAX = 251;

void set_stream_options(int sok)
{
    const int on = 1;
    setsockopt(sok, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(sok, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    // Without these the system's timing applies (two hours on most systems),
    // far too slow to notice a dead NAT mapping.
#ifdef TCP_KEEPIDLE
    if (prefs.net_keepalive_idle > 0)
        setsockopt(sok, IPPROTO_TCP, TCP_KEEPIDLE, &prefs.net_keepalive_idle, sizeof(int));
#endif
#ifdef TCP_KEEPINTVL
    if (prefs.net_keepalive_interval > 0)
        setsockopt(sok, IPPROTO_TCP, TCP_KEEPINTVL, &prefs.net_keepalive_interval, sizeof(int));
#endif
#ifdef TCP_KEEPCNT
    if (prefs.net_keepalive_count > 0)
        setsockopt(sok, IPPROTO_TCP, TCP_KEEPCNT, &prefs.net_keepalive_count, sizeof(int));
#endif
}

bool write_all(net_io &io, const void *data, std::size_t len)
{
    auto *p = static_cast<const unsigned char *>(data);
    while (len > 0) {
        const long n = io.write(p, len);
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

void report_text(const proxy_report &report, const char *format, ...) G_GNUC_PRINTF(2, 3);
void report_text(const proxy_report &report, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    report(text);
    g_free(text);
}

// A proxy line without its trailing carriage return, plus the line end the
// user's view expects.
std::string as_report_line(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    line += '\n';
    return line;
}

bool negotiate_wingate(net_io &io, const proxy_request &req)
{
    char *line = g_strdup_printf("%s %d\r\n", req.host.c_str(), req.port);
    write_all(io, line, strlen(line));
    g_free(line);
    return true;
}

bool negotiate_socks4(net_io &io, const proxy_request &req, const proxy_report &report)
{
    std::string packet;
    packet += static_cast<char>(SOCKS4_VERSION);
    packet += static_cast<char>(SOCKS4_CONNECT);
    packet += static_cast<char>((req.port >> 8) & 0xff);
    packet += static_cast<char>(req.port & 0xff);
    for (int shift = 24; shift >= 0; shift -= 8)
        packet += static_cast<char>((req.ipv4 >> shift) & 0xff);
    packet += req.user_id.substr(0, SOCKS4_USER_ID_MAX);
    packet += '\0';
    write_all(io, packet.data(), packet.size());

    // The reply has a fixed size; a proxy may deliver it in pieces.
    unsigned char reply[SOCKS4_REPLY_SIZE] = {};
    std::size_t got = 0;
    while (got < sizeof reply) {
        const long n = io.read(reply + got, sizeof reply - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got >= 2 && reply[1] == SOCKS4_GRANTED)
        return true;
    report_text(report, "SOCKS\tServer reported error %d,%d.\n", reply[0], reply[1]);
    return false;
}

bool socks5_read(net_io &io, void *buf, std::size_t len, const proxy_report &report)
{
    if (net_io_read_exact(io, buf, len))
        return true;
    report("SOCKS\tRead error from server.\n");
    return false;
}

bool negotiate_socks5(net_io &io, const proxy_request &req, const proxy_report &report)
{
    const bool offer_auth = req.auth && !req.user.empty() && !req.password.empty();
    const unsigned char greeting[] = {SOCKS5_VERSION, 1, offer_auth ? SOCKS5_METHOD_USER_PASS : SOCKS5_METHOD_NONE};
    write_all(io, greeting, sizeof greeting);

    unsigned char reply[4];
    if (!socks5_read(io, reply, 2, report))
        return false;
    if (reply[0] != SOCKS5_VERSION) {
        report("SOCKS\tServer is not socks version 5.\n");
        return false;
    }
    if (!offer_auth || reply[1] == SOCKS5_METHOD_NONE) {
        if (reply[1] != SOCKS5_METHOD_NONE) {
            report("SOCKS\tAuthentication required but disabled in settings.\n");
            return false;
        }
    } else {
        if (reply[1] != SOCKS5_METHOD_USER_PASS) {
            report("SOCKS\tServer doesn't support UPA authentication.\n");
            return false;
        }
        const std::size_t ulen = std::min(req.user.size(), SOCKS5_FIELD_MAX);
        const std::size_t plen = std::min(req.password.size(), SOCKS5_FIELD_MAX);
        std::string packet;
        packet.reserve(3 + ulen + plen);
        packet += static_cast<char>(SOCKS5_USER_PASS_VERSION);
        packet += static_cast<char>(ulen);
        packet.append(req.user, 0, ulen);
        packet += static_cast<char>(plen);
        packet.append(req.password, 0, plen);
        write_all(io, packet.data(), packet.size());
        OPENSSL_cleanse(packet.data(), packet.size());
        if (!socks5_read(io, reply, 2, report))
            return false;
        if (reply[1] != 0) {
            report("SOCKS\tAuthentication failed. Is username and password correct?\n");
            return false;
        }
    }

    const std::size_t hlen = std::min(req.host.size(), SOCKS5_FIELD_MAX);
    std::string request;
    request += static_cast<char>(SOCKS5_VERSION);
    request += static_cast<char>(SOCKS5_CONNECT);
    request += '\0';
    request += static_cast<char>(SOCKS5_ATYP_DOMAIN);
    request += static_cast<char>(hlen);
    request.append(req.host, 0, hlen);
    request += static_cast<char>((req.port >> 8) & 0xff);
    request += static_cast<char>(req.port & 0xff);
    write_all(io, request.data(), request.size());

    if (!socks5_read(io, reply, 4, report))
        return false;
    if (reply[0] != SOCKS5_VERSION || reply[1] != 0) {
        if (reply[1] == SOCKS5_REFUSED_BY_RULESET)
            report("SOCKS\tProxy refused to connect to host (not allowed).\n");
        else
            report_text(report, "SOCKS\tProxy failed to connect to host (error %d).\n", reply[1]);
        return false;
    }

    // The bound address is of no use to us, but it must be consumed so the
    // IRC stream starts clean.
    std::size_t rest = 0;
    switch (reply[3]) {
    case SOCKS5_ATYP_IPV4:
        rest = 4 + 2;
        break;
    case SOCKS5_ATYP_DOMAIN: {
        unsigned char len;
        if (!socks5_read(io, &len, 1, report))
            return false;
        rest = static_cast<std::size_t>(len) + 2;
        break;
    }
    case SOCKS5_ATYP_IPV6:
        rest = 16 + 2;
        break;
    default:
        break;
    }
    unsigned char bound[SOCKS5_FIELD_MAX + 2];
    return rest == 0 || socks5_read(io, bound, rest, report);
}

bool is_http_200(const std::string &status)
{
    return status.size() > 11 && status.compare(0, 4, "HTTP") == 0 && status[4] == '/' &&
           status.compare(9, 3, "200") == 0;
}

bool negotiate_http(net_io &io, const proxy_request &req, const proxy_report &report)
{
    char *connect_line = g_strdup_printf("CONNECT %s:%d HTTP/1.0\r\n", req.host.c_str(), req.port);
    std::string request = connect_line;
    g_free(connect_line);
    if (req.auth) {
        std::string credentials = req.user + ":" + req.password;
        if (credentials.size() > HTTP_AUTH_TEXT_MAX)
            credentials.resize(HTTP_AUTH_TEXT_MAX);
        std::string encoded(4 * ((credentials.size() + 2) / 3) + 1, '\0');
        base64_encode(encoded.data(), credentials.data(), static_cast<int>(credentials.size()));
        request += "Proxy-Authorization: Basic ";
        request += encoded.c_str();
        request += "\r\n";
        OPENSSL_cleanse(credentials.data(), credentials.size());
        OPENSSL_cleanse(encoded.data(), encoded.size());
    }
    request += "\r\n";
    write_all(io, request.data(), request.size());
    OPENSSL_cleanse(request.data(), request.size());

    std::string line;
    bool ended;
    if (net_io_read_line(io, line, HTTP_STATUS_LINE_MAX, &ended) < 0)
        return false;
    std::string status = as_report_line(line);
    report(status);
    status.pop_back();
    if (!is_http_200(status))
        return false;

    for (;;) {
        if (net_io_read_line(io, line, HTTP_STATUS_LINE_MAX, &ended) < 0)
            return false;
        std::string header = as_report_line(line);
        if (header == "\n")
            return true;
        report(header);
    }
}

bool all_digits(const std::string &s, std::size_t max_digits)
{
    return !s.empty() && s.size() <= max_digits &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Number of arguments each code carries; -1 for codes that do not exist.
int argument_count(int code)
{
    switch (code) {
    case CHILD_UNKNOWN_HOST:
    case CHILD_BIND_UNRESOLVED:
    case CHILD_PROXY_FAILED:
        return 0;
    case CHILD_TEXT:
    case CHILD_CONNECT_FAILED:
    case CHILD_CONNECTED:
    case CHILD_BOUND_ADDRESS:
    case CHILD_PROXY_LOOKUP:
        return 1;
    case CHILD_CONNECTING:
        return 3;
    default:
        return -1;
    }
}

bool is_numeric_argument(int code, std::size_t index)
{
    return code == CHILD_CONNECT_FAILED || code == CHILD_CONNECTED || (code == CHILD_CONNECTING && index == 2);
}

// Digits of a number that must fit an int.
constexpr std::size_t NUMBER_DIGITS_MAX = 9;

} // namespace

// ---- descriptors --------------------------------------------------------------

void net_fd::reset(int fd)
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
}

void net_close(int *fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// ---- resolution and sockets -----------------------------------------------------

netstore *net_store_new(void)
{
    return new netstore;
}

void net_store_destroy(netstore *ns)
{
    if (!ns)
        return;
    if (ns->ai)
        freeaddrinfo(ns->ai);
    delete ns;
}

char *net_resolve(netstore *ns, const char *host, int port, char **real_host)
{
    if (ns->ai) {
        freeaddrinfo(ns->ai);
        ns->ai = nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME | AI_ADDRCONFIG;
    char service[16];
    const char *service_text = nullptr;
    if (port > 0) {
        snprintf(service, sizeof service, "%d", port);
        service_text = service;
    }
    if (getaddrinfo(host, service_text, &hints, &ns->ai) != 0 || !ns->ai) {
        ns->ai = nullptr;
        return nullptr;
    }
    if (real_host)
        *real_host = g_strdup(ns->ai->ai_canonname ? ns->ai->ai_canonname : host);

    char numeric[NI_MAXHOST];
    if (getnameinfo(ns->ai->ai_addr, ns->ai->ai_addrlen, numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST) != 0)
        numeric[0] = 0;
    numeric[NUMERIC_HOST_MAX] = 0;
    return g_strdup(numeric);
}

int net_connect(netstore *ns, int sok4, int sok6, int *sok_return)
{
    int error = EAFNOSUPPORT;
    for (addrinfo *ai = ns ? ns->ai : nullptr; ai; ai = ai->ai_next) {
        int sok;
        if (ai->ai_family == AF_INET)
            sok = sok4;
        else if (ai->ai_family == AF_INET6)
            sok = sok6;
        else
            continue;
        if (sok < 0)
            continue;
        int rc;
        do {
            rc = connect(sok, ai->ai_addr, ai->ai_addrlen);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0) {
            *sok_return = sok;
            return 0;
        }
        error = errno;
    }
    return error;
}

void net_bind(netstore *tobindto, int sok4, int sok6)
{
    bool bound4 = false, bound6 = false;
    for (addrinfo *ai = tobindto ? tobindto->ai : nullptr; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && !bound4 && sok4 >= 0) {
            bind(sok4, ai->ai_addr, ai->ai_addrlen);
            bound4 = true;
        } else if (ai->ai_family == AF_INET6 && !bound6 && sok6 >= 0) {
            bind(sok6, ai->ai_addr, ai->ai_addrlen);
            bound6 = true;
        }
    }
}

void net_sockets(int *sok4, int *sok6)
{
    *sok4 = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    *sok6 = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (*sok4 >= 0)
        set_stream_options(*sok4);
    if (*sok6 >= 0)
        set_stream_options(*sok6);
}

void udp_sockets(int *sok4, int *sok6)
{
    *sok4 = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    *sok6 = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

const char *net_ip(guint32 addr)
{
    static char text[INET_ADDRSTRLEN];
    in_addr in{};
    in.s_addr = htonl(addr);
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

bool net_parse_ipv4(const char *text, guint32 *addr)
{
    in_addr in{};
    if (!text || inet_pton(AF_INET, text, &in) != 1)
        return false;
    *addr = ntohl(in.s_addr);
    return true;
}

bool net_lookup_ipv4(const char *host, guint32 *addr)
{
    if (!host || !host[0])
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res)
        return false;
    *addr = ntohl(reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(res);
    return true;
}

// ---- byte I/O --------------------------------------------------------------------

net_io net_io_for_fd(int fd, bool socket)
{
    net_io io;
    io.read = [fd, socket](void *buf, std::size_t len) -> long {
        long n;
        do {
            n = socket ? recv(fd, buf, len, 0) : read(fd, buf, len);
        } while (n < 0 && errno == EINTR);
        return n;
    };
    io.write = [fd, socket](const void *buf, std::size_t len) -> long {
        long n;
        do {
            n = socket ? send(fd, buf, len, MSG_NOSIGNAL) : write(fd, buf, len);
        } while (n < 0 && errno == EINTR);
        return n;
    };
    return io;
}

net_io net_io_for_memory(std::string_view input, std::string *output, std::size_t chunk)
{
    auto position = std::make_shared<std::size_t>(0);
    net_io io;
    io.read = [input, position, chunk](void *buf, std::size_t len) -> long {
        std::size_t n = std::min(len, input.size() - *position);
        if (chunk)
            n = std::min(n, chunk);
        memcpy(buf, input.data() + *position, n);
        *position += n;
        return static_cast<long>(n);
    };
    io.write = [output](const void *buf, std::size_t len) -> long {
        if (output)
            output->append(static_cast<const char *>(buf), len);
        return static_cast<long>(len);
    };
    return io;
}

bool net_io_read_exact(net_io &io, void *buf, std::size_t len)
{
    auto *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        const long n = io.read(p, len);
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

long net_io_read_line(net_io &io, std::string &line, std::size_t max, bool *ended)
{
    line.clear();
    *ended = false;
    // One byte at a time: nothing past the line may be consumed, it belongs
    // to whoever reads next (the IRC stream after a proxy's reply).
    while (line.size() < max) {
        char c;
        if (io.read(&c, 1) <= 0)
            return -1;
        if (c == '\n') {
            *ended = true;
            return static_cast<long>(line.size());
        }
        line += c;
    }
    return static_cast<long>(line.size());
}

// ---- proxies -----------------------------------------------------------------

proxy_request::~proxy_request()
{
    OPENSSL_cleanse(password.data(), password.size());
}

bool net_proxy_negotiate(net_io &io, const proxy_request &req, const proxy_report &report)
{
    switch (req.kind) {
    case PROXY_WINGATE:
        return negotiate_wingate(io, req);
    case PROXY_SOCKS4:
        return negotiate_socks4(io, req, report);
    case PROXY_SOCKS5:
        return negotiate_socks5(io, req, report);
    case PROXY_HTTP:
        return negotiate_http(io, req, report);
    default:
        // The desktop kind names no protocol of its own to speak.
        return false;
    }
}

std::ostream &operator<<(std::ostream &os, const proxy_uri &p)
{
    return os << "{kind " << p.kind << ", host \"" << p.host << "\", port " << p.port << "}";
}

proxy_uri net_parse_proxy_uri(std::string_view uri)
{
    proxy_uri out;
    if (uri.starts_with("direct"))
        return out;
    const std::size_t sep = uri.find("://");
    if (sep == std::string_view::npos)
        return out;
    const std::string_view scheme = uri.substr(0, sep);
    if (scheme.starts_with("http"))
        out.kind = PROXY_HTTP;
    else if (scheme.starts_with("socks5"))
        out.kind = PROXY_SOCKS5;
    else if (scheme.starts_with("socks"))
        out.kind = PROXY_SOCKS4;
    else
        return out;

    std::string_view rest = uri.substr(sep + 3);
    std::string_view port_text;
    if (rest.starts_with("[")) {
        // An IPv6 literal keeps its colons.
        const std::size_t close = rest.find(']');
        out.host = std::string(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        if (close != std::string_view::npos && close + 1 < rest.size() && rest[close + 1] == ':')
            port_text = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.find(':');
        out.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos)
            port_text = rest.substr(colon + 1);
    }
    int port = 0;
    for (char c : port_text) {
        if (c < '0' || c > '9' || port > 65535)
            break;
        port = port * 10 + (c - '0');
    }
    out.port = port;
    return out;
}

// ---- the child's reports -----------------------------------------------------

std::ostream &operator<<(std::ostream &os, const pipe_message &m)
{
    os << "{" << m.code;
    for (const auto &a : m.args)
        os << ", \"" << a << "\"";
    return os << "}";
}

std::size_t net_pipe_arg_limit(int code, std::size_t index)
{
    if (is_numeric_argument(code, index))
        return NUMBER_DIGITS_MAX;
    if (code == CHILD_CONNECTING)
        return 99; // canonical name and numeric address
    return 127;
}

std::string net_pipe_encode(const pipe_message &m)
{
    const int count = argument_count(m.code);
    if (count < 0 || m.args.size() != static_cast<std::size_t>(count))
        return {};
    std::string out = std::to_string(m.code) + "\n";
    for (std::size_t i = 0; i < m.args.size(); i++) {
        std::string arg = m.args[i];
        const std::size_t limit = net_pipe_arg_limit(m.code, i);
        if (arg.size() > limit) {
            std::size_t cut = limit;
            while (cut > 0 && (static_cast<unsigned char>(arg[cut]) & 0xc0) == 0x80)
                cut--;
            arg.resize(cut);
        }
        std::replace_if(
            arg.begin(), arg.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; }, ' ');
        out += arg;
        out += '\n';
    }
    return out;
}

pipe_read_result net_pipe_read(net_io &io, pipe_message &out)
{
    out = pipe_message{};
    std::string line;
    bool ended;
    // One byte past each bound is read, so an over-long line is seen as one.
    if (net_io_read_line(io, line, 2, &ended) < 0)
        return line.empty() ? pipe_read_result::end : pipe_read_result::rejected;
    if (!ended || line.size() != 1 || line[0] < '0' || line[0] > '9')
        return pipe_read_result::rejected;
    const int code = line[0] - '0';
    const int count = argument_count(code);
    if (count < 0)
        return pipe_read_result::rejected;
    for (int i = 0; i < count; i++) {
        const std::size_t index = static_cast<std::size_t>(i);
        if (net_io_read_line(io, line, net_pipe_arg_limit(code, index) + 1, &ended) < 0 || !ended ||
            line.size() > net_pipe_arg_limit(code, index) || line.find_first_of("\r"s + '\0') != std::string::npos)
            return pipe_read_result::rejected;
        if (is_numeric_argument(code, index) && !all_digits(line, NUMBER_DIGITS_MAX))
            return pipe_read_result::rejected;
        out.args.push_back(line);
    }
    out.code = code;
    return pipe_read_result::ok;
}
