// Proxy handshakes, the connection child's report protocol, line splitting
// and charset repair, and the socket helpers. The handshakes run against
// scripted replies in memory; the socket helpers against 127.0.0.1.
#include "base/linesplit.h"
#include "config/cfgfiles.h"
#include "net/network.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace
{

using namespace std::string_literals;

struct handshake {
    bool ok = false;
    std::string sent;                  // bytes the client wrote to the proxy
    std::vector<std::string> reported; // texts for the user
    std::size_t unread = 0;            // reply bytes left for the IRC stream
};

// Runs one handshake against a proxy that answers `reply`, delivered
// `chunk` bytes per read (0: all at once).
handshake negotiate(proxy_request &req, const std::string &reply, std::size_t chunk = 0)
{
    handshake h;
    net_io io = net_io_for_memory(reply, &h.sent, chunk);
    h.ok = net_proxy_negotiate(io, req, [&h](std::string_view t) { h.reported.emplace_back(t); });
    char rest[4096];
    long n;
    while ((n = io.read(rest, sizeof rest)) > 0)
        h.unread += static_cast<std::size_t>(n);
    return h;
}

void socks5(proxy_request &req, bool auth = false)
{
    req.kind = PROXY_SOCKS5;
    req.host = "irc.example.org";
    req.port = 6697;
    req.auth = auth;
    req.user = "ann";
    req.password = "s3cret";
}

const std::string SOCKS5_REQUEST = "\x05\x01\x00\x03\x0f"s + "irc.example.org" + "\x1a\x29"s; // port 6697

TEST(ProxyHandshake, Socks4SendsAddressPortAndUserIdAndReadsTheGrant)
{
    proxy_request req;
    req.kind = PROXY_SOCKS4;
    req.port = 6667;
    req.ipv4 = 0x7f000001;
    req.user_id = "abcdefghijkl"; // only nine characters are sent
    // The grant arrives a byte at a time; it is still read whole.
    handshake h = negotiate(req, "\x00\x5a\x00\x00\x00\x00\x00\x00:irc\r\n"s, 1);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.sent, "\x04\x01\x1a\x0b\x7f\x00\x00\x01"s + "abcdefghi" + "\0"s);
    EXPECT_EQ(h.unread, 6u);

    h = negotiate(req, "\x00\x5b\x00\x00\x00\x00\x00\x00"s);
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.reported, std::vector<std::string>{"SOCKS\tServer reported error 0,91.\n"});
    EXPECT_FALSE(negotiate(req, "").ok);
}

TEST(ProxyHandshake, Socks5WithoutAuthConsumesExactlyTheBoundAddress)
{
    proxy_request req;
    socks5(req);
    // Every address type of the reply, followed by the first IRC bytes.
    const std::string v4 = "\x05\x00\x00\x01\x7f\x00\x00\x01\x1a\x0b"s;
    const std::string name = "\x05\x00\x00\x03\x04host\x1a\x0b"s;
    const std::string v6 = "\x05\x00\x00\x04"s + std::string(16, '\1') + "\x1a\x0b"s;
    for (const std::string &bound : {v4, name, v6}) {
        handshake h = negotiate(req, "\x05\x00"s + bound + "PING\r\n", 3);
        EXPECT_TRUE(h.ok);
        EXPECT_EQ(h.sent, "\x05\x01\x00"s + SOCKS5_REQUEST);
        EXPECT_EQ(h.unread, 6u) << "bound address of type " << int(bound[3]);
    }
}

TEST(ProxyHandshake, Socks5UserPasswordAuthentication)
{
    proxy_request req;
    socks5(req, true);
    handshake h = negotiate(req, "\x05\x02\x01\x00\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00"s);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.sent, "\x05\x01\x02\x01\x03"
                      "ann\x06s3cret"s +
                          SOCKS5_REQUEST);

    h = negotiate(req, "\x05\x02\x01\x01"s);
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.reported.back(), "SOCKS\tAuthentication failed. Is username and password correct?\n");

    h = negotiate(req, "\x05\xff"s);
    EXPECT_EQ(h.reported.back(), "SOCKS\tServer doesn't support UPA authentication.\n");

    // Auth switched on but no password set: none is offered.
    req.password.clear();
    h = negotiate(req, "\x05\x02"s);
    EXPECT_EQ(h.sent, "\x05\x01\x00"s);
    EXPECT_EQ(h.reported.back(), "SOCKS\tAuthentication required but disabled in settings.\n");
}

TEST(ProxyHandshake, Socks5FailuresNameTheirCause)
{
    proxy_request req;
    socks5(req);
    const struct {
        std::string reply;
        const char *text;
    } cases[] = {
        {"\x05\x02"s, "SOCKS\tAuthentication required but disabled in settings.\n"},
        {"\x04\x00"s, "SOCKS\tServer is not socks version 5.\n"},
        {"\x05"s, "SOCKS\tRead error from server.\n"},
        {"\x05\x00\x05\x00"s, "SOCKS\tRead error from server.\n"},
        {"\x05\x00\x05\x02\x00\x01"s, "SOCKS\tProxy refused to connect to host (not allowed).\n"},
        {"\x05\x00\x05\x05\x00\x01"s, "SOCKS\tProxy failed to connect to host (error 5).\n"},
        {"\x05\x00\x05\x00\x00\x03\x09short"s, "SOCKS\tRead error from server.\n"},
    };
    for (const auto &c : cases) {
        handshake h = negotiate(req, c.reply);
        EXPECT_FALSE(h.ok);
        EXPECT_EQ(h.reported, std::vector<std::string>{c.text});
    }
}

TEST(ProxyHandshake, HttpConnectWithBasicAuthShowsEveryLineItReads)
{
    proxy_request req;
    req.kind = PROXY_HTTP;
    req.host = "irc.example.org";
    req.port = 6667;
    req.auth = true;
    req.user = "user";
    req.password = "pass";
    handshake h = negotiate(req, "HTTP/1.1 200 Connection established\r\nVia: proxy\r\n\r\n:irc 001\r\n");
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.sent, "CONNECT irc.example.org:6667 HTTP/1.0\r\n"
                      "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
    EXPECT_EQ(h.reported, (std::vector<std::string>{"HTTP/1.1 200 Connection established\n", "Via: proxy\n"}));
    EXPECT_EQ(h.unread, 10u);

    req.auth = false;
    h = negotiate(req, "HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.sent, "CONNECT irc.example.org:6667 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(h.reported, std::vector<std::string>{"HTTP/1.0 407 Proxy Authentication Required\n"});

    // The shortest acceptable status line, a cut header block, and lines
    // that only look like a success.
    EXPECT_TRUE(negotiate(req, "HTTP/1.0 200\n\n").ok);
    EXPECT_FALSE(negotiate(req, "HTTP/1.0 200 OK\r\nVia: x\r\n").ok);
    EXPECT_FALSE(negotiate(req, "HTTP 1.0 200 OK\r\n\r\n").ok);
    EXPECT_FALSE(negotiate(req, "HTTP/1.0 20\r\n\r\n").ok);
    EXPECT_FALSE(negotiate(req, "").ok);
}

TEST(ProxyHandshake, WingateAndDesktopKinds)
{
    proxy_request req;
    req.kind = PROXY_WINGATE;
    req.host = "irc.example.org";
    req.port = 6667;
    handshake h = negotiate(req, "");
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.sent, "irc.example.org 6667\r\n");
    req.kind = PROXY_DESKTOP;
    EXPECT_FALSE(negotiate(req, "").ok);
}

TEST(ProxyUri, DesktopAnswersMapToKinds)
{
    EXPECT_EQ(net_parse_proxy_uri("direct://"), proxy_uri{});
    EXPECT_EQ(net_parse_proxy_uri("http://proxy:3128"), (proxy_uri{PROXY_HTTP, "proxy", 3128}));
    EXPECT_EQ(net_parse_proxy_uri("https://proxy:443/"), (proxy_uri{PROXY_HTTP, "proxy", 443}));
    EXPECT_EQ(net_parse_proxy_uri("socks5://10.0.0.1:1080"), (proxy_uri{PROXY_SOCKS5, "10.0.0.1", 1080}));
    EXPECT_EQ(net_parse_proxy_uri("socks4a://h:9"), (proxy_uri{PROXY_SOCKS4, "h", 9}));
    EXPECT_EQ(net_parse_proxy_uri("socks://[::1]:1080"), (proxy_uri{PROXY_SOCKS4, "::1", 1080}));
    EXPECT_EQ(net_parse_proxy_uri("ftp://h:21"), proxy_uri{});
    EXPECT_EQ(net_parse_proxy_uri("garbage"), proxy_uri{});
}

// ---- the child's reports ----------------------------------------------------

std::vector<pipe_message> read_all(const std::string &wire, pipe_read_result *last)
{
    std::vector<pipe_message> out;
    net_io io = net_io_for_memory(wire, nullptr);
    pipe_message m;
    while ((*last = net_pipe_read(io, m)) == pipe_read_result::ok)
        out.push_back(m);
    return out;
}

TEST(ChildReports, RoundTripEveryCode)
{
    const std::vector<pipe_message> all = {
        {CHILD_TEXT, {"SOCKS\tServer reported error 0,91."}},
        {CHILD_UNKNOWN_HOST, {}},
        {CHILD_CONNECT_FAILED, {"111"}},
        {CHILD_CONNECTING, {"irc.example.org", "127.0.0.1", "6667"}},
        {CHILD_CONNECTED, {"5"}},
        {CHILD_BOUND_ADDRESS, {"::1"}},
        {CHILD_BIND_UNRESOLVED, {}},
        {CHILD_PROXY_FAILED, {}},
        {CHILD_PROXY_LOOKUP, {"proxy"}},
    };
    std::string wire;
    for (const auto &m : all)
        wire += net_pipe_encode(m);
    pipe_read_result last;
    EXPECT_EQ(read_all(wire, &last), all);
    EXPECT_EQ(last, pipe_read_result::end);
    EXPECT_EQ(net_pipe_encode({6, {}}), "");
    EXPECT_EQ(net_pipe_encode({CHILD_CONNECTING, {"a"}}), "");
}

TEST(ChildReports, AProxyLineCannotForgeAConnectedMessage)
{
    // What a hostile proxy would put past the parent's read size: a line
    // break never survives, and the cut keeps the rest out of the stream.
    const std::string forged = std::string(127, 'A') + "4\n0\n";
    const std::string wire = net_pipe_encode({CHILD_TEXT, {forged}}) +
                             net_pipe_encode({CHILD_TEXT, {"\xc3\xa9" + std::string(126, 'B')}}) +
                             net_pipe_encode({CHILD_TEXT, {"a\nb\r"}});
    pipe_read_result last;
    const auto got = read_all(wire, &last);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (pipe_message{CHILD_TEXT, {std::string(127, 'A')}}));
    EXPECT_EQ(got[1].args[0], "\xc3\xa9" + std::string(125, 'B')); // cut before a split character
    EXPECT_EQ(got[2].args[0], "a b ");
    EXPECT_EQ(last, pipe_read_result::end);
}

TEST(ChildReports, ReaderRejectsWhatTheChildNeverSends)
{
    const char *bad[] = {
        "6\n",                  // unknown code
        "42\n",                 // code line too long
        "\n",                   // no code
        "4\nfive\n",            // descriptor not a number
        "4\n-1\n",              //
        "2\n1234567890\n",      // error number past an int
        "3\nname\n127.0.0.1\n", // cut short
        "9\nhost",              // no line end
        "0\na\rb\n",            // a byte the child never sends
    };
    for (const char *wire : bad) {
        pipe_read_result last;
        EXPECT_TRUE(read_all(wire, &last).empty()) << wire;
        EXPECT_EQ(last, pipe_read_result::rejected) << wire;
    }
    pipe_read_result last;
    read_all("0\n" + std::string(128, 'x') + "\n", &last);
    EXPECT_EQ(last, pipe_read_result::rejected);
    read_all("3\n" + std::string(100, 'x') + "\n1.2.3.4\n1\n", &last);
    EXPECT_EQ(last, pipe_read_result::rejected);
}

// ---- lines ----------------------------------------------------------------------

struct splitter {
    char buffer[LINESPLIT_MAX_LINE + 1];
    int length = 0;
    bool overflowed = false;
    std::vector<std::string> lines;
    std::string stop_at = "(never)";

    std::size_t feed(const std::string &bytes)
    {
        return linesplit_feed({buffer, &length, &overflowed}, bytes.data(), bytes.size(), sink, this);
    }
    static bool sink(char *line, int len, void *self)
    {
        auto *s = static_cast<splitter *>(self);
        EXPECT_EQ(line[len], '\0');
        s->lines.emplace_back(line, static_cast<std::size_t>(len));
        return s->lines.back() != s->stop_at;
    }
};

TEST(LineSplit, LinesSurviveAnyCutAndLoseTheirCarriageReturns)
{
    const std::string stream = "PING :a\r\n\r\nPO\rNG :b\nlast";
    for (std::size_t piece = 1; piece <= stream.size(); piece++) {
        splitter s;
        for (std::size_t i = 0; i < stream.size(); i += piece)
            s.feed(stream.substr(i, piece));
        EXPECT_EQ(s.lines, (std::vector<std::string>{"PING :a", "", "PONG :b"})) << "pieces of " << piece;
        EXPECT_EQ(std::string(s.buffer, static_cast<std::size_t>(s.length)), "last");
    }
}

TEST(LineSplit, OverlongLineIsCutWithOneWarning)
{
    splitter s;
    testing::internal::CaptureStderr();
    s.feed(std::string(9000, 'x') + "\r\nnext\r\n" + std::string(8703, 'y') + "\n");
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(s.lines.size(), 3u);
    EXPECT_EQ(s.lines[0], std::string(8703, 'x'));
    EXPECT_EQ(s.lines[1], "next");
    EXPECT_EQ(s.lines[2], std::string(8703, 'y')); // exactly full: no warning
    EXPECT_EQ(err, "*** LUMENWICK WARNING: Buffer overflow - non-compliant server!\n");
}

TEST(LineSplit, StopsWhereTheSinkAsks)
{
    splitter s;
    s.stop_at = "QUIT";
    const std::string chunk = "A\nQUIT\nB\n";
    EXPECT_EQ(s.feed(chunk), 7u);
    EXPECT_EQ(s.lines, (std::vector<std::string>{"A", "QUIT"}));
    EXPECT_EQ(s.length, 0);
}

std::string to_utf8(std::string line, const char *encoding, GIConv decoder, bool *same = nullptr)
{
    std::string scratch;
    int len;
    char *out = linesplit_to_utf8(line.data(), static_cast<int>(line.size()), encoding, decoder, scratch, &len);
    if (same)
        *same = out == line.data();
    return std::string(out, static_cast<std::size_t>(len));
}

TEST(LineCharset, Utf8IsRepairedBytewiseAndNulBytesAreReplaced)
{
    const GIConv none = reinterpret_cast<GIConv>(-1);
    bool same;
    EXPECT_EQ(to_utf8("caf\xc3\xa9 long enough ascii run", "UTF-8", none, &same), "caf\xc3\xa9 long enough ascii run");
    EXPECT_TRUE(same);
    EXPECT_EQ(to_utf8("a\xff"
                      "b\xe2\x82",
                      "UTF-8", none, &same),
              "a\xef\xbf\xbd"
              "b\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_FALSE(same);
    EXPECT_EQ(to_utf8("0123456789\0tail"s, "UTF-8", none), "0123456789\xef\xbf\xbdtail");
}

TEST(LineCharset, OtherCharsetsConvertWithReplacement)
{
    GIConv latin1 = g_iconv_open("UTF-8", "ISO-8859-1");
    EXPECT_EQ(to_utf8("caf\xe9\0!"s, "ISO-8859-1", latin1), "caf\xc3\xa9\xef\xbf\xbd!");
    g_iconv_close(latin1);

    GIConv ascii = g_iconv_open("UTF-8", "ASCII");
    EXPECT_EQ(to_utf8("a\x80"
                      "b",
                      "ASCII", ascii),
              "a\xef\xbf\xbd"
              "b");
    g_iconv_close(ascii);

    // A shift sequence left open by one line does not leak into the next.
    GIConv jis = g_iconv_open("UTF-8", "ISO-2022-JP");
    EXPECT_EQ(to_utf8("\x1b$B", "ISO-2022-JP", jis), "");
    EXPECT_EQ(to_utf8("abc", "ISO-2022-JP", jis), "abc");
    g_iconv_close(jis);
}

// ---- sockets ------------------------------------------------------------------------

TEST(NetHelpers, AddressesResolveAndPrint)
{
    guint32 addr = 0;
    EXPECT_TRUE(net_parse_ipv4("192.0.2.7", &addr));
    EXPECT_EQ(addr, 0xc0000207u);
    EXPECT_STREQ(net_ip(addr), "192.0.2.7");
    EXPECT_FALSE(net_parse_ipv4("192.0.2", &addr));
    EXPECT_TRUE(net_lookup_ipv4("127.0.0.1", &addr));
    EXPECT_EQ(addr, 0x7f000001u);
    EXPECT_FALSE(net_lookup_ipv4("nowhere.invalid", &addr));

    netstore *ns = net_store_new();
    char *real = nullptr;
    char *ip = net_resolve(ns, "127.0.0.1", 6667, &real);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_STREQ(real, "127.0.0.1");
    g_free(ip);
    g_free(real);
    EXPECT_EQ(net_resolve(ns, "nowhere.invalid", 6667, nullptr), nullptr);
    net_store_destroy(ns);
}

// Connecting itself is covered by the connection tests against 127.0.0.1.
TEST(NetHelpers, StreamSocketsReuseAddressesAndKeepAliveOnOurTiming)
{
    prefs.net_keepalive_idle = 42;
    int s4, s6;
    net_sockets(&s4, &s6);
    net_fd sock4(s4), sock6(s6);
    prefs.net_keepalive_idle = 0;
    ASSERT_GE(s4, 0);
    for (const auto &[level, option, expected] :
         {std::tuple{SOL_SOCKET, SO_KEEPALIVE, 1}, std::tuple{SOL_SOCKET, SO_REUSEADDR, 1},
          std::tuple{int(IPPROTO_TCP), TCP_KEEPIDLE, 42}}) {
        int value = 0;
        socklen_t len = sizeof value;
        getsockopt(s4, level, option, &value, &len);
        EXPECT_EQ(value, expected) << "option " << option;
    }
}

} // namespace
