// The send queue: priorities, the flood clock, the protocol's line limits,
// character-set conversion and the wiping of queued secrets; and output the
// socket cannot take at once (a full send buffer, plain and TLS). The
// server's socket is one end of a socketpair, so the bytes on the wire are
// checked.
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "net/server.h"
#include "net/ssl.h"
#include "net/tcp.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

time_t fake_now;
int clock_reads;                   // how often the queue looked at the clock
std::vector<bool> released_zeroed; // one entry per queued line freed

using lines = std::vector<std::string>;

class SendQueue : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-tcp-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_throttle = 1;
        fake_now = 1'000'000;
        tcp_clock = [] {
            clock_reads++;
            return fake_now;
        };
        released_zeroed.clear();
        tcp_line_release_hook = [](const char *mem, std::size_t size) {
            released_zeroed.push_back(std::all_of(mem, mem + size, [](char c) { return c == 0; }));
        };
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, wire), 0);
        fcntl(wire[1], F_SETFL, O_NONBLOCK);
        serv = server_new();
        serv->sock = wire[0];
    }
    void TearDown() override
    {
        serv->sock = -1;
        server_free(serv);
        fe_recorder::cancel_sources();
        tcp_line_release_hook = nullptr;
        close(wire[0]);
        close(wire[1]);
        ASSERT_EQ(system((std::string("rm -rf '") + dir + "'").c_str()), 0);
        g_free(dir);
    }

    // Every byte that reached the other end so far.
    std::string received()
    {
        char buf[65536];
        for (ssize_t n; (n = read(wire[1], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
    // The received bytes cut after each CR LF.
    lines received_lines()
    {
        lines out;
        const std::string all = received();
        std::size_t start = 0;
        for (std::size_t at; (at = all.find("\r\n", start)) != std::string::npos; start = at + 2)
            out.push_back(all.substr(start, at + 2 - start));
        return out;
    }
    void send(const std::string &text) { tcp_send_len(serv, text.data(), static_cast<int>(text.size())); }
    // A clock already ten seconds ahead: whatever is queued now waits.
    void hold_clock()
    {
        serv->send_clock = fake_now + 10;
        serv->last_send_time = fake_now;
    }
    // Moves the clock, then lets the pump run once (if it still runs).
    void tick(int seconds)
    {
        fake_now += seconds;
        const int reads = clock_reads;
        fe_recorder::run_until([reads] { return clock_reads > reads; }, 1500);
    }
    void drain()
    {
        for (int i = 0; i < 20 && serv->send_queue; i++)
            tick(100);
        ASSERT_EQ(serv->send_queue, nullptr);
    }

    char *dir = nullptr;
    int wire[2] = {-1, -1};
    server *serv = nullptr;
    std::string got;
};

TEST_F(SendQueue, ModeChangesLeaveBeforeMessagesAndQueriesLast)
{
    hold_clock();
    for (const char *l : {"PRIVMSG #a :one", "WHO #a", "MODE #a +o bob", "MODE #a", "notice bob :two", "mode #a b",
                          "JOIN #b", "@+draft/reply=1 PRIVMSG #a :three", "MODE #a -l"})
        send(std::string(l) + "\r\n");
    EXPECT_EQ(received(), "");
    drain();
    EXPECT_EQ(received_lines(), (lines{"MODE #a +o bob\r\n", "JOIN #b\r\n", "MODE #a -l\r\n", "PRIVMSG #a :one\r\n",
                                       "notice bob :two\r\n", "@+draft/reply=1 PRIVMSG #a :three\r\n", "WHO #a\r\n",
                                       "MODE #a\r\n", "mode #a b\r\n"}));
}

TEST_F(SendQueue, TenShortLinesBurstFiveThenOneEveryTwoSeconds)
{
    const std::string line = "PRIVMSG #a :hello\r\n";
    for (int i = 0; i < 10; i++)
        send(line);
    EXPECT_EQ(received_lines().size(), 5u);
    EXPECT_EQ(serv->queued_bytes, static_cast<int>(5 * line.size()));
    const int meter_updates = fe_recorder::count("fe_set_throttle");
    std::vector<std::size_t> sent_after;
    for (int second = 1; second <= 10; second++) {
        tick(1);
        sent_after.push_back(received_lines().size());
    }
    EXPECT_EQ(sent_after, (std::vector<std::size_t>{6, 6, 7, 7, 8, 8, 9, 9, 10, 10}));
    EXPECT_EQ(serv->queued_bytes, 0);
    EXPECT_EQ(fe_recorder::count("fe_set_throttle") - meter_updates, 5);
}

TEST_F(SendQueue, LongParametersCostMoreClockAndABackwardClockResumesAtOnce)
{
    send("PRIVMSG " + std::string(250, 'x') + "\r\n");
    EXPECT_EQ(serv->send_clock, fake_now + 4);
    for (int i = 0; i < 6; i++)
        send("PING x\r\n");
    ASSERT_EQ(received_lines().size(), 4u);
    fake_now -= 3600;
    EXPECT_TRUE(fe_recorder::run_until([&] { return received_lines().size() == 7; }, 2000));
}

TEST_F(SendQueue, WithoutThrottleLinesLeaveAtOnceInOrder)
{
    prefs.net_throttle = 0;
    const int timers = fe_recorder::count("fe_timeout_add");
    for (int i = 0; i < 12; i++)
        send("PRIVMSG #a :" + std::to_string(i) + "\r\n");
    send("MODE #a +o bob\r\n");
    const lines out = received_lines();
    ASSERT_EQ(out.size(), 13u);
    EXPECT_EQ(out[11], "PRIVMSG #a :11\r\n");
    EXPECT_EQ(out[12], "MODE #a +o bob\r\n");
    EXPECT_EQ(fe_recorder::count("fe_timeout_add"), timers);
}

TEST_F(SendQueue, PumpEndsWhenEmptyAndClearingStopsIt)
{
    const int timers = fe_recorder::count("fe_timeout_add");
    for (int i = 0; i < 6; i++)
        send("PRIVMSG #a :x\r\n");
    drain();
    tick(100);
    for (int i = 0; i < 8; i++)
        send("PRIVMSG #a :y\r\n");
    EXPECT_EQ(fe_recorder::count("fe_timeout_add") - timers, 2) << "the first pump ended by itself";

    const int removed = fe_recorder::count("fe_timeout_remove");
    tcp_clear_queue(serv);
    EXPECT_EQ(serv->queued_bytes, 0);
    EXPECT_EQ(fe_recorder::count("fe_timeout_remove") - removed, 1);
    tick(100);
    EXPECT_EQ(received_lines().size(), 11u);
}

TEST_F(SendQueue, EveryLineEndsInCrLfWithinTheProtocolLimit)
{
    prefs.net_throttle = 0;
    tcp_sendf(serv, "PRIVMSG #a :%s\r\n", std::string(600, 'a').c_str());
    tcp_sendf(serv, "PRIVMSG #a :next\r\n");
    const lines out = received_lines();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "PRIVMSG #a :" + std::string(498, 'a') + "\r\n");
    EXPECT_EQ(out[1], "PRIVMSG #a :next\r\n");

    // Three-byte characters: the cut falls before the one that does not fit.
    got.clear();
    std::string euros;
    for (int i = 0; i < 200; i++)
        euros += "\xe2\x82\xac";
    tcp_sendf(serv, "PRIVMSG #ab :%s\r\n", euros.c_str());
    EXPECT_EQ(received(), "PRIVMSG #ab :" + euros.substr(0, 495) + "\r\n");

    // The tag section has its own allowance and loses whole tags only.
    got.clear();
    std::string tags = "@+a=1";
    while (tags.size() < 4100)
        tags += ";+k" + std::to_string(tags.size()) + "=vvvvvvvvvv";
    send(tags + " PRIVMSG #a :" + std::string(600, 'b') + "\r\n");
    const std::string tagged = received();
    const std::size_t space = tagged.find(' ');
    EXPECT_LE(space + 1, 4096u);
    EXPECT_EQ(tagged.substr(0, space), tags.substr(0, space));
    EXPECT_EQ(tags[space], ';');
    EXPECT_EQ(tagged.substr(space + 1), "PRIVMSG #a :" + std::string(498, 'b') + "\r\n");
}

TEST_F(SendQueue, LineBreaksInsideParametersNeverSplitTheLine)
{
    prefs.net_throttle = 0;
    tcp_sendf(serv, "PRIVMSG %s :%s\r\n", "#a", "hi\r\nQUIT :owned\rx\ny");
    EXPECT_EQ(received(), "PRIVMSG #a :hi  QUIT :owned x y\r\n");
    // Raw text is taken line by line; a bare CR or a NUL cannot end one.
    got.clear();
    const char raw[] = "JOIN #a\r\nPART #b\nNICK a\rb\0c\n\r\n";
    send(std::string(raw, sizeof raw - 1));
    EXPECT_EQ(received_lines(), (lines{"JOIN #a\r\n", "PART #b\r\n", "NICK a b c\r\n"}));
}

TEST_F(SendQueue, ServerCharsetReplacesWhatItCannotHoldAndStillFits)
{
    prefs.net_throttle = 0;
    serv->encoder = g_iconv_open("ISO-8859-1", "UTF-8");
    tcp_sendf(serv, "PRIVMSG #a :caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac!\r\n");
    EXPECT_EQ(received(), "PRIVMSG #a :caf\xe9 ?"
                          "?!\r\n");
    const std::string logged = fe_recorder::calls_named("fe_add_rawlog").back().args;
    EXPECT_NE(logged.find("caf\xc3\xa9 \xe6\x97\xa5"), std::string::npos) << "the raw log shows the text as written";

    // A set in which text grows: cut again after conversion.
    g_iconv_close(serv->encoder);
    serv->encoder = g_iconv_open("UTF-7", "UTF-8");
    got.clear();
    std::string accents;
    for (int i = 0; i < 300; i++)
        accents += "\xc3\xa9";
    tcp_sendf(serv, "PRIVMSG #a :%s\r\n", accents.c_str());
    const std::string line = received();
    EXPECT_LE(line.size(), 512u);
    EXPECT_GT(line.size(), 400u);
    EXPECT_EQ(line.find("\r\n"), line.size() - 2);
}

TEST_F(SendQueue, QueuedSecretsAreWipedWhenFreed)
{
    hold_clock();
    send("PASS hunter2\r\n");
    send("AUTHENTICATE aHVudGVyMg==\r\n");
    send("PRIVMSG NickServ :IDENTIFY hunter2\r\n");
    tcp_clear_queue(serv);
    send("NICKSERV IDENTIFY hunter2\r\n");
    drain();
    EXPECT_EQ(released_zeroed, (std::vector<bool>{true, true, true, true}));
}

// ---- output the socket cannot take at once ----------------------------------

std::vector<bool> pending_released_zeroed; // one entry per pending buffer freed

// The connection's socket refuses more than a few kilobytes until the peer
// reads: the lines must wait in the client and arrive whole and in order.
class FullSendBuffer : public SendQueue
{
  protected:
    void SetUp() override
    {
        SendQueue::SetUp();
        prefs.net_throttle = 0;
        serv->connected = TRUE;
        make_small_and_nonblocking(wire[0]);
        pending_released_zeroed.clear();
        tcp_pending_release_hook = [](const char *mem, std::size_t size) {
            pending_released_zeroed.push_back(std::all_of(mem, mem + size, [](char c) { return c == 0; }));
        };
    }
    void TearDown() override
    {
        serv->connected = FALSE;
        SendQueue::TearDown();
        tcp_pending_release_hook = nullptr;
    }

    static void make_small_and_nonblocking(int fd)
    {
        const int size = 4096;
        ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size), 0);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    // `count` numbered lines of `size` bytes, CR LF included; beyond 512
    // bytes the rest is a tag section. A socketpair takes a line of the
    // longest kind (4608) in two pieces, so a full buffer cuts it.
    static lines numbered_lines(int count, std::size_t size)
    {
        lines out;
        const std::size_t body = std::min<std::size_t>(size, 512);
        const std::string tags = size > 512 ? "@+t=" + std::string(size - 512 - 5, 'v') + " " : "";
        for (int i = 0; i < count; i++) {
            std::string l = tags + "PRIVMSG #a :" + std::to_string(i) + " ";
            l.resize(tags.size() + body - 2, static_cast<char>('a' + i % 26));
            out.push_back(l + "\r\n");
        }
        return out;
    }
    static std::string joined(const lines &ls)
    {
        std::string all;
        for (const std::string &l : ls)
            all += l;
        return all;
    }
    // Reads the peer while the main loop runs, until `want` bytes came or
    // nothing came for a while.
    std::string receive_all(std::size_t want)
    {
        fe_recorder::run_until([&] { return received().size() >= want; }, 20000);
        fe_recorder::run_for(50); // nothing may follow
        return received();
    }
    // The id of the last write watch the module asked for, or 0.
    static guint last_write_watch()
    {
        guint id = 0;
        for (const auto &c : fe_recorder::calls_named("fe_input_add")) {
            const std::size_t arrow = c.args.find(" -> ");
            if (c.args.find(", 2 ->") != std::string::npos && arrow != std::string::npos)
                id = static_cast<guint>(std::stoul(c.args.substr(arrow + 4)));
        }
        return id;
    }
};

TEST_F(FullSendBuffer, EveryLineArrivesWholeAndInOrderOnceThePeerReads)
{
    // Short lines meet a socket that takes nothing (would block); the
    // longest ones also meet one that takes part of a line.
    for (const auto &[count, size] : {std::pair{2000, 400}, std::pair{300, 4608}}) {
        SCOPED_TRACE(size);
        got.clear();
        const lines want = numbered_lines(count, static_cast<std::size_t>(size));
        const int watches = fe_recorder::count("fe_input_add");
        for (const std::string &l : want)
            send(l);
        ASSERT_EQ(fe_recorder::count("fe_input_add") - watches, 1) << "one write watch, only once the buffer filled";
        if (size > 512) {
            ASSERT_NE(received().size() % want[0].size(), 0u) << "no line was cut by the full buffer";
        }
        const guint watch = last_write_watch();

        const std::string expected = joined(want);
        const std::string all = receive_all(expected.size());
        ASSERT_EQ(all.size(), expected.size());
        EXPECT_TRUE(all == expected) << "the stream differs from the lines sent";
        EXPECT_EQ(received_lines(), want);
        EXPECT_EQ(g_main_context_find_source_by_id(nullptr, watch), nullptr) << "the write watch outlived its bytes";

        // With nothing waiting, a new line goes straight out again.
        got.clear();
        send("PING :after\r\n");
        EXPECT_EQ(received(), "PING :after\r\n");
    }
}

TEST_F(FullSendBuffer, QueuedAndImmediateLinesFollowTheWaitingBytes)
{
    const lines want = numbered_lines(300, 400);
    for (const std::string &l : want)
        send(l);
    ASSERT_NE(last_write_watch(), 0u);
    // Through the flood queue (whose clock is not held) and ahead of it:
    // both must wait behind the bytes the socket has not taken yet.
    prefs.net_throttle = 1;
    send("JOIN #b\r\n");
    tcp_send_now(serv, "PART #c\r\n", 9);
    const std::string expected = joined(want) + "JOIN #b\r\nPART #c\r\n";
    EXPECT_TRUE(receive_all(expected.size()) == expected);
}

TEST_F(FullSendBuffer, ClearingKeepsOnlyTheRestOfAPartlyWrittenLine)
{
    const lines want = numbered_lines(40, 4608);
    for (const std::string &l : want)
        send(l);
    ASSERT_NE(last_write_watch(), 0u);
    ASSERT_NE(received().size() % 4608, 0u) << "no line was cut by the full buffer";
    // A tab closes: the queue is cleared and QUIT follows at once.
    tcp_clear_queue(serv);
    tcp_send_now(serv, "QUIT :bye\r\n", 11);
    fe_recorder::run_until([&] { return received().find("QUIT") != std::string::npos; }, 20000);
    const std::string all = receive_all(0);
    ASSERT_GE(all.size(), 11u);
    EXPECT_EQ(all.substr(all.size() - 11), "QUIT :bye\r\n");
    const std::string before = all.substr(0, all.size() - 11);
    EXPECT_EQ(before.size() % 4608, 0u) << "QUIT was glued to a half line";
    EXPECT_TRUE(before == joined(want).substr(0, before.size())) << "the lines before QUIT are not the first ones sent";
    EXPECT_LT(before.size(), want.size() * 4608) << "lines not yet begun were kept";
}

TEST_F(FullSendBuffer, ClearingWithWholeLinesWaitingDropsThemAll)
{
    const lines want = numbered_lines(300, 400);
    for (const std::string &l : want)
        send(l);
    const guint watch = last_write_watch();
    ASSERT_NE(watch, 0u);
    const std::size_t before = received().size();
    ASSERT_EQ(before % 400, 0u);
    tcp_clear_queue(serv);
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, watch), nullptr);
    EXPECT_EQ(pending_released_zeroed, std::vector<bool>{true}) << "the dropped bytes were not wiped";
    tcp_send_now(serv, "QUIT :bye\r\n", 11);
    EXPECT_TRUE(receive_all(before + 11) == joined(want).substr(0, before) + "QUIT :bye\r\n");
}

TEST_F(FullSendBuffer, WaitingBytesNeverReachANewConnection)
{
    for (const std::string &l : numbered_lines(300, 400))
        send("PASS hunter2 " + l);
    ASSERT_NE(last_write_watch(), 0u);
    const std::size_t on_old = received().size();

    // The same server now talks on another socket.
    int fresh[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fresh), 0);
    fcntl(fresh[1], F_SETFL, O_NONBLOCK);
    serv->sock = fresh[0];
    send("NICK fresh\r\n");
    fe_recorder::run_for(100);
    std::string on_new;
    char buf[65536];
    for (ssize_t n; (n = read(fresh[1], buf, sizeof buf)) > 0;)
        on_new.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(on_new, "NICK fresh\r\n");
    EXPECT_EQ(received().size(), on_old) << "the old socket was written after it stopped being the server's";
    EXPECT_EQ(pending_released_zeroed, std::vector<bool>{true}) << "the dropped bytes were not wiped";
    serv->sock = wire[0];
    close(fresh[0]);
    close(fresh[1]);
}

TEST_F(FullSendBuffer, WaitingBytesAreDroppedWhenTheConnectionEnds)
{
    for (const std::string &l : numbered_lines(300, 400))
        send(l);
    const guint watch = last_write_watch();
    ASSERT_NE(watch, 0u);
    const std::size_t before = received().size();
    // Disconnecting clears the queue after the connection is marked gone.
    serv->connected = FALSE;
    tcp_clear_queue(serv);
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, watch), nullptr);
    EXPECT_EQ(pending_released_zeroed, std::vector<bool>{true});
    fe_recorder::run_for(100);
    EXPECT_EQ(received().size(), before);
}

TEST_F(FullSendBuffer, ServerFreedWithBytesWaitingLeavesNoWatch)
{
    for (const std::string &l : numbered_lines(300, 400))
        send(l);
    const guint watch = last_write_watch();
    ASSERT_NE(watch, 0u);
    serv->connected = FALSE;
    serv->sock = -1;
    server_free(serv);
    serv = server_new(); // for TearDown
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, watch), nullptr);
    EXPECT_EQ(pending_released_zeroed, std::vector<bool>{true});
}

// The same over TLS: a write that would block must be repeated with the
// same bytes, though the client's buffer holding them may have moved.
class FullSendBufferTls : public FullSendBuffer
{
  protected:
    void SetUp() override
    {
        FullSendBuffer::SetUp();
        std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
        std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME *name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("irc.test"), -1,
                                   -1, 0);
        X509_set_issuer_name(cert.get(), name);
        X509_sign(cert.get(), key.get(), EVP_sha256());

        peer_ctx = SSL_CTX_new(TLS_server_method());
        ASSERT_TRUE(SSL_CTX_use_certificate(peer_ctx, cert.get()));
        ASSERT_TRUE(SSL_CTX_use_PrivateKey(peer_ctx, key.get()));
        peer = SSL_new(peer_ctx);
        SSL_set_fd(peer, wire[1]);
        SSL_set_accept_state(peer);

        serv->tls_context = ssl_context_init(nullptr);
        ASSERT_NE(serv->tls_context, nullptr);
        serv->tls = ssl_socket(serv->tls_context, wire[0]);
        ASSERT_NE(serv->tls, nullptr);
        bool client_done = false, peer_done = false;
        for (int i = 0; i < 1000 && !(client_done && peer_done); i++) {
            client_done = client_done || SSL_do_handshake(serv->tls) == 1;
            peer_done = peer_done || SSL_do_handshake(peer) == 1;
        }
        ASSERT_TRUE(client_done && peer_done) << "the test's own handshake failed";
    }
    void TearDown() override
    {
        SSL_free(peer);
        SSL_CTX_free(peer_ctx);
        FullSendBuffer::TearDown();
    }
    // What the peer decrypted so far.
    std::string decrypted()
    {
        char buf[16384];
        for (int n; (n = SSL_read(peer, buf, sizeof buf)) > 0;)
            plain.append(buf, static_cast<std::size_t>(n));
        return plain;
    }

    SSL_CTX *peer_ctx = nullptr;
    SSL *peer = nullptr;
    std::string plain;
};

TEST_F(FullSendBufferTls, EveryLineArrivesWholeAndInOrderOnceThePeerReads)
{
    const lines want = numbered_lines(2000, 400);
    for (const std::string &l : want)
        send(l);
    ASSERT_NE(last_write_watch(), 0u) << "the socket took everything: the buffer never filled";
    const std::string expected = joined(want);
    fe_recorder::run_until([&] { return decrypted().size() >= expected.size(); }, 20000);
    fe_recorder::run_for(50);
    const std::string all = decrypted();
    ASSERT_EQ(all.size(), expected.size());
    EXPECT_TRUE(all == expected) << "the stream differs from the lines sent";
}

TEST_F(FullSendBufferTls, ClearingKeepsTheWriteTheConnectionAlreadyBegan)
{
    // OpenSSL may have put part of a blocked write on the wire already; a
    // clear must leave that write to be finished, else QUIT would be taken
    // for its rest (or refused).
    const lines want = numbered_lines(300, 400);
    for (const std::string &l : want)
        send(l);
    ASSERT_NE(last_write_watch(), 0u);
    tcp_clear_queue(serv);
    tcp_send_now(serv, "QUIT :bye\r\n", 11);
    fe_recorder::run_until([&] { return decrypted().find("QUIT") != std::string::npos; }, 20000);
    fe_recorder::run_for(50);
    const std::string all = decrypted();
    ASSERT_GE(all.size(), 11u);
    EXPECT_EQ(all.substr(all.size() - 11), "QUIT :bye\r\n");
    const std::string before = all.substr(0, all.size() - 11);
    EXPECT_EQ(before.size() % 400, 0u) << "QUIT was glued to a half line";
    EXPECT_TRUE(before == joined(want).substr(0, before.size())) << "the lines before QUIT are not the first ones sent";
    EXPECT_LT(before.size(), want.size() * 400) << "lines not yet begun were kept";
}

} // namespace
