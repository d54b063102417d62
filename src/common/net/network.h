// Sockets, name resolution and proxy negotiation for the connection child,
// and the line protocol the child reports through. The proxy and pipe code
// works over a small I/O interface so it runs without sockets.
#pragma once

#include <glib.h>

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// ---- descriptors ------------------------------------------------------------

// Owns one descriptor and closes it on destruction; -1 when empty.
class net_fd
{
  public:
    net_fd() = default;
    explicit net_fd(int fd) : fd_(fd) {}
    net_fd(net_fd &&other) noexcept : fd_(other.release()) {}
    net_fd &operator=(net_fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    net_fd(const net_fd &) = delete;
    net_fd &operator=(const net_fd &) = delete;
    ~net_fd() { reset(); }

    int get() const { return fd_; }
    // Gives up ownership; the caller closes it.
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Closes *fd when it is open and sets it to -1.
void net_close(int *fd);

// ---- name resolution and sockets ------------------------------------------------

// The addresses found by one lookup; owned by whoever called net_store_new.
struct netstore;

netstore *net_store_new(void);
void net_store_destroy(netstore *ns);
// Looks `host` up for stream sockets (port 0: no service). Returns the
// numeric form of the first address (g_free) or null; *real_host, when
// given, receives the canonical name or a copy of `host` (g_free).
char *net_resolve(netstore *ns, const char *host, int port, char **real_host);
// Connects each resolved address in turn with the socket of its family until
// one succeeds. 0 with *sok_return set, else the last system error.
int net_connect(netstore *ns, int sok4, int sok6, int *sok_return);
// Binds each socket to the first address of its family in `ns`; errors ignored.
void net_bind(netstore *tobindto, int sok4, int sok6);
// New IPv4 and IPv6 stream sockets with address reuse and keep-alive (using
// the net_keepalive_* timing where set); -1 where a family is unavailable.
void net_sockets(int *sok4, int *sok6);
// New IPv4 and IPv6 datagram sockets; -1 where a family is unavailable.
void udp_sockets(int *sok4, int *sok6);
// Dotted text of an IPv4 address given in host byte order; a static buffer.
const char *net_ip(guint32 addr);
// Parses a dotted IPv4 address into host byte order; false when it is none.
bool net_parse_ipv4(const char *text, guint32 *addr);
// Resolves `host` to its first IPv4 address (host byte order); false when none.
bool net_lookup_ipv4(const char *host, guint32 *addr);

// The local IPv4 address the connection child bound to (net_bind_host), in
// host byte order; 0 when unknown. DCC offers it to peers.
extern guint32 net_local_ipv4;

// ---- byte I/O ----------------------------------------------------------------

// Blocking byte I/O: each call returns the bytes moved (> 0), 0 at end of
// stream, or < 0 on error.
struct net_io {
    std::function<long(void *buf, std::size_t len)> read;
    std::function<long(const void *buf, std::size_t len)> write;
};
// Reads and writes a descriptor (recv/send on sockets, read/write otherwise).
net_io net_io_for_fd(int fd, bool socket);
// Reads from `input` (at most `chunk` bytes per call, 0: no limit) and
// appends what is written to *output (may be null); for tests and fuzzing.
net_io net_io_for_memory(std::string_view input, std::string *output, std::size_t chunk = 0);
// Reads exactly `len` bytes; false on a short read.
bool net_io_read_exact(net_io &io, void *buf, std::size_t len);
// Reads one line into `line`: up to and including "\n" (not stored), or
// until `max` bytes are stored (the rest stays unread; *ended is false then).
// Returns the length, or -1 when the stream ended or failed first (`line`
// holds what was read).
long net_io_read_line(net_io &io, std::string &line, std::size_t max, bool *ended);

// ---- proxies -----------------------------------------------------------------

// Proxy kinds, the values of net_proxy_type.
enum proxy_kind {
    PROXY_NONE = 0,
    PROXY_WINGATE = 1,
    PROXY_SOCKS4 = 2,
    PROXY_SOCKS5 = 3,
    PROXY_HTTP = 4,
    PROXY_DESKTOP = 5,
};

// What the tunnel has to reach, and how to authenticate to the proxy.
// The password is wiped when the request is destroyed.
struct proxy_request {
    int kind = PROXY_NONE;
    std::string host; // the IRC host as the user gave it
    int port = 0;
    guint32 ipv4 = 0;    // SOCKS4: the IRC host's address, host byte order
    std::string user_id; // SOCKS4: the user id sent
    bool auth = false;
    std::string user;
    std::string password;

    proxy_request() = default;
    proxy_request(const proxy_request &) = delete;
    proxy_request &operator=(const proxy_request &) = delete;
    ~proxy_request();
};

// Texts the negotiation reports to the user.
using proxy_report = std::function<void(std::string_view text)>;

// Runs the proxy's handshake on `io`. Every text for the user (the failure
// reasons, an HTTP proxy's status and header lines) goes to `report` as it
// happens. True when the tunnel to the IRC host is open.
bool net_proxy_negotiate(net_io &io, const proxy_request &req, const proxy_report &report);

// A proxy URI of the desktop resolver ("socks5://host:port", "direct://").
struct proxy_uri {
    int kind = PROXY_NONE;
    std::string host;
    int port = 0;
    bool operator==(const proxy_uri &) const = default;
};
std::ostream &operator<<(std::ostream &os, const proxy_uri &p);
// "direct…" and unknown schemes give PROXY_NONE; "http" PROXY_HTTP, "socks5"
// PROXY_SOCKS5, any other "socks" PROXY_SOCKS4.
proxy_uri net_parse_proxy_uri(std::string_view uri);

// ---- the connection child's reports -----------------------------------------

// Codes of the messages the child sends.
enum child_report {
    CHILD_TEXT = 0,           // a line for the user
    CHILD_UNKNOWN_HOST = 1,   //
    CHILD_CONNECT_FAILED = 2, // system error number
    CHILD_CONNECTING = 3,     // canonical name, numeric address, port
    CHILD_CONNECTED = 4,      // socket descriptor number
    CHILD_BOUND_ADDRESS = 5,  // numeric local address
    CHILD_BIND_UNRESOLVED = 7,
    CHILD_PROXY_FAILED = 8,
    CHILD_PROXY_LOOKUP = 9, // proxy host
};

// One message: a code line, then one line per argument.
struct pipe_message {
    int code = -1;
    std::vector<std::string> args;
    bool operator==(const pipe_message &) const = default;
};
std::ostream &operator<<(std::ostream &os, const pipe_message &m);

// The longest argument the parent accepts for `code` at position `index`.
std::size_t net_pipe_arg_limit(int code, std::size_t index);
// Wire form of `m`: each argument cut (at a UTF-8 boundary) to the size the
// reader accepts, line breaks inside it turned into spaces, so nothing an
// argument holds can be read as a further message. Empty for an unknown code
// or a wrong number of arguments.
std::string net_pipe_encode(const pipe_message &m);

enum class pipe_read_result {
    ok,       // a well-formed message is in `out`
    end,      // the stream ended before a message began
    rejected, // unknown code, wrong or over-long argument, or a cut message
};
// Reads one message. Numeric arguments (error number, descriptor, port) must
// be plain decimal numbers; no argument may hold CR or NUL (the child never
// sends them).
pipe_read_result net_pipe_read(net_io &io, pipe_message &out);
