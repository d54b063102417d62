// DCC: the request words, names and acknowledgements, then whole transfers
// on 127.0.0.1 with the test playing a (sometimes hostile) peer, and one
// transfer between the client and itself that resumes across the 4 GiB
// wrap of the 32-bit acknowledgements.
#include "irc_lines.h"

#include "dcc/dcc-internal.h"
#include "dcc/dcc-offer.h"
#include "dcc/dcc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

namespace
{

using namespace std::string_literals;
constexpr uint64_t GiB4 = uint64_t{1} << 32;

TEST(DccWire, RequestWordsAndNumbers)
{
    EXPECT_EQ(dcc_split_words("SEND \"my \"\"best\"\" file\" 1 2 3\001"),
              (std::vector<std::string>{"SEND", "my \"best\" file", "1", "2", "3"}));

    auto r = dcc_parse_request(dcc_split_words("send big.iso 2130706433 5000 6442450944 7"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, dcc_request::SEND);
    EXPECT_EQ(r->address, 2130706433u);
    EXPECT_EQ(r->size, 6442450944u) << "sizes beyond 4 GiB survive";
    EXPECT_TRUE(r->has_token);
    EXPECT_EQ(r->token, 7u);

    r = dcc_parse_request(dcc_split_words("SEND f 4294967296 65536 x"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address, 0u) << "an address past 32 bits is no address";
    EXPECT_EQ(r->port, 65536u) << "kept, so the caller can refuse it";
    EXPECT_EQ(r->size, 0u);

    r = dcc_parse_request(dcc_split_words("RESUME f 0 99999999999999999999999"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->position, 0u) << "an overflowing number parses as nothing";
    EXPECT_FALSE(dcc_parse_request(dcc_split_words("SEND onlyname 1 2")));
    EXPECT_FALSE(dcc_parse_request(dcc_split_words("CHAT chat 1")));
    EXPECT_EQ(dcc_parse_request(dcc_split_words("XMIT x"))->kind, dcc_request::OTHER);
}

TEST(DccWire, NamesAreCheckedAndEscaped)
{
    for (const char *bad : {"", ".", "..", ".bashrc", "../x", "dir/x", "a\\b", "line\nbreak", "bell\a"})
        EXPECT_FALSE(dcc_name_is_safe(bad)) << bad;
    EXPECT_TRUE(dcc_name_is_safe("report 2024.pdf"));
    EXPECT_EQ(dcc_wire_name("plain.txt"), "plain.txt");
    EXPECT_EQ(dcc_wire_name("with blank.txt"), "\"with blank.txt\"");
    EXPECT_EQ(dcc_wire_name("evil\r\nPRIVMSG #x :hi"), "\"evil__PRIVMSG #x :hi\"")
        << "no line break from a local name ever reaches the server";
    EXPECT_EQ(dcc_wire_name("q\"uote"), "q_uote");
}

TEST(DccWire, AcknowledgementsWidenAcrossTheWrap)
{
    EXPECT_EQ(dcc_widen_ack(100, 100), 100u);
    EXPECT_EQ(dcc_widen_ack(50, GiB4 + 100), GiB4 + 50);
    EXPECT_EQ(dcc_widen_ack(0xFFFFFF00u, GiB4 + 100), GiB4 - 256) << "an ack from just before the wrap";
    EXPECT_EQ(dcc_widen_ack(0, 3 * GiB4), 3 * GiB4);
    EXPECT_FALSE(dcc_widen_ack(200, 100)) << "bytes never sent";
    EXPECT_EQ(dcc_percent(0, 0, false), 0.0);
    EXPECT_EQ(dcc_percent(0, 0, true), 100.0);
}

// ---- transfers with the test as the peer ------------------------------------------------

class Dcc : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        downloads = path("dl");
        g_strlcpy(prefs.dcc_dir, downloads.c_str(), sizeof prefs.dcc_dir);
        prefs.dcc_completed_dir[0] = 0;
        g_strlcpy(prefs.dcc_ip, "127.0.0.1", sizeof prefs.dcc_ip);
        prefs.dcc_auto_recv = 0;
        prefs.dcc_auto_resume = 1;
        prefs.dcc_timeout = 0;
        prefs.dcc_stall_timeout = 0;
        prefs.dcc_permissions = 0640;
        // These tests send many offers from one peer in a moment; the CTCP
        // flood guard (tested with the lists) would ignore it half-way.
        prefs.flood_ctcp_num = 0;
    }
    void TearDown() override
    {
        while (dcc_list)
            dcc_close_record(static_cast<DCC *>(dcc_list->data), STAT_ABORTED, true);
        IrcLines::TearDown();
    }

    void from(const std::string &nick, const std::string &ctcp, const std::string &to = "me")
    {
        recv(":" + nick + "!u@h PRIVMSG " + to + " :\x01" + ctcp + "\x01");
    }
    static bool run_until(const std::function<bool()> &done, int ms = 5000) { return fe_recorder::run_until(done, ms); }

    // A listening socket on 127.0.0.1; its port.
    int listen_here(int *port)
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        socklen_t len = sizeof sa;
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
        listen(fd, 1);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        *port = ntohs(sa.sin_port);
        return fd;
    }
    // Accepts on `lfd` while the client runs.
    int accept_peer(int lfd)
    {
        int fd = -1;
        run_until([&] { return (fd = accept(lfd, nullptr, nullptr)) >= 0; });
        return fd;
    }
    int connect_to(int port)
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        return fd;
    }
    // Everything the client sends on `fd` until `n` bytes arrived.
    std::string read_bytes(int fd, std::size_t n)
    {
        std::string got;
        fcntl(fd, F_SETFL, O_NONBLOCK);
        run_until([&] {
            char buf[65536];
            ssize_t r;
            while ((r = ::recv(fd, buf, sizeof buf, 0)) > 0)
                got.append(buf, static_cast<std::size_t>(r));
            return got.size() >= n;
        });
        return got;
    }
    static void send_ack(int fd, uint32_t v)
    {
        const unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
        ASSERT_EQ(::send(fd, b, 4, 0), 4);
    }
    static std::string random_bytes(std::size_t n)
    {
        std::mt19937 gen(static_cast<unsigned>(n));
        std::string s(n, '\0');
        for (char &c : s)
            c = static_cast<char>(gen());
        return s;
    }
    static std::string slurp(const std::string &p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The waiting (or active) record, and the lines the client sent since last asked.
    static DCC *only_record() { return dcc_list && !dcc_list->next ? static_cast<DCC *>(dcc_list->data) : nullptr; }
    // Turns the client's own CTCP lines on the wire back into requests from
    // `nick`: for transfers between the client and itself.
    int reflect(const std::string &nick)
    {
        int n = 0;
        std::istringstream lines(sent());
        for (std::string line; std::getline(lines, line);) {
            const auto at = line.find(":\x01");
            if (line.rfind("PRIVMSG ", 0) != 0 || at == std::string::npos)
                continue;
            std::string ctcp = line.substr(at + 2);
            while (!ctcp.empty() && (ctcp.back() == '\r' || ctcp.back() == '\x01'))
                ctcp.pop_back();
            from(nick, ctcp);
            n++;
        }
        return n;
    }

    std::string downloads;
};

TEST_F(Dcc, OffersThatMustNotBecomeTransfers)
{
    from("me", "DCC SEND a.txt 2130706433 5000 10");
    from("bob", "DCC SEND b.txt 2130706433 5000 10", "#chan");
    EXPECT_EQ(dcc_list, nullptr) << "our own echoed offer and an offer to a channel are ignored";

    for (const char *bad :
         {"DCC SEND c.txt 2130706433 65536 10", "DCC SEND c.txt 0 5000 10", "DCC SEND c.txt 2130706433 5000 0",
          "DCC SEND ../../.profile 2130706433 5000 10", "DCC SEND .hidden 2130706433 5000 10",
          "DCC SEND c.txt 2130706433 0 10", "DCC CHAT chat 0 5000"}) {
        fe_recorder::reset();
        from("bob", bad);
        EXPECT_TRUE(shown(home, "Received a malformed DCC request from bob")) << bad;
    }
    EXPECT_EQ(dcc_list, nullptr);
    EXPECT_EQ(sent(), "");
}

TEST_F(Dcc, ReceiveResumesOnlyWhatTheSameNickStartedAndOnlyWhenAsked)
{
    const std::string data = random_bytes(300000);
    int port;
    const int lfd = listen_here(&port);
    const std::string offer = "DCC SEND \"my file.bin\" 2130706433 " + std::to_string(port) + " 300000";

    // An ACCEPT nobody asked for starts nothing.
    from("bob", offer);
    ASSERT_NE(only_record(), nullptr);
    from("bob", "DCC ACCEPT \"my file.bin\" " + std::to_string(port) + " 0");
    fe_recorder::run_for(100);
    EXPECT_LT(accept(lfd, nullptr, nullptr), 0) << "no connection without the user's accept";
    EXPECT_EQ(only_record()->status, STAT_QUEUED);

    // Accepted: the peer sends a third and hangs up.
    dcc_get(only_record());
    int peer = accept_peer(lfd);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::send(peer, data.data(), 100000, 0), 100000);
    read_bytes(peer, 4);
    close(peer);
    ASSERT_TRUE(run_until([] { return only_record()->status == STAT_FAILED; }));
    const std::string partial = downloads + "/my file.bin";
    EXPECT_EQ(slurp(partial), data.substr(0, 100000));
    sent();

    // carol offers the same name: never appended to bob's partial file.
    from("carol", offer);
    DCC *carols = find_dcc("carol", "my file.bin", DCC_KIND_RECV);
    ASSERT_NE(carols, nullptr);
    dcc_get(carols);
    EXPECT_EQ(sent(), "") << "no RESUME into another nick's file";
    peer = accept_peer(lfd);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::send(peer, data.data(), 300000, 0), 300000);
    ASSERT_TRUE(run_until([&] { return carols->status == STAT_DONE; })) << carols->status;
    EXPECT_EQ(carols->dest_path, partial + ".1");
    EXPECT_EQ(slurp(partial + ".1"), data);
    EXPECT_EQ(slurp(partial), data.substr(0, 100000)) << "bob's partial file untouched";
    close(peer);

    // bob offers again: the client asks to resume, and only the ACCEPT for
    // that position starts the transfer.
    from("bob", offer);
    DCC *bobs = find_dcc("bob", "my file.bin", DCC_KIND_RECV);
    dcc_get(bobs);
    EXPECT_EQ(sent(), "PRIVMSG bob :\x01"
                      "DCC RESUME \"my file.bin\" " +
                          std::to_string(port) + " 100000\x01\r\n");
    from("bob", "DCC ACCEPT \"my file.bin\" " + std::to_string(port) + " 5");
    from("mallory", "DCC ACCEPT \"my file.bin\" " + std::to_string(port) + " 100000");
    fe_recorder::run_for(100);
    EXPECT_EQ(bobs->status, STAT_QUEUED) << "wrong position or wrong nick";
    g_strlcpy(prefs.dcc_completed_dir, path("done").c_str(), sizeof prefs.dcc_completed_dir);
    g_mkdir_with_parents(prefs.dcc_completed_dir, 0700);
    from("bob", "DCC ACCEPT \"my file.bin\" " + std::to_string(port) + " 100000");
    peer = accept_peer(lfd);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::send(peer, data.data() + 100000, 200000, 0), 200000);
    ASSERT_TRUE(run_until([&] { return bobs->status == STAT_DONE; }));
    const std::string done = path("done") + "/my file.bin";
    EXPECT_EQ(bobs->dest_path, done) << "moved to the completed folder";
    EXPECT_EQ(slurp(done), data);
    EXPECT_FALSE(std::filesystem::exists(partial));
    struct stat st = {};
    ASSERT_EQ(stat(done.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "dcc_permissions applied when done";
    const std::string acks = read_bytes(peer, 4);
    EXPECT_EQ(acks.substr(acks.size() - 4), "\x00\x04\x93\xe0"s) << "the last ack counts the whole file";
    close(peer);
    close(lfd);
}

TEST_F(Dcc, ReceiverNeverWritesPastTheOfferedSize)
{
    int port;
    const int lfd = listen_here(&port);
    prefs.dcc_auto_recv = 2;
    from("bob", "DCC SEND x.bin 2130706433 " + std::to_string(port) + " 1000");
    const int peer = accept_peer(lfd);
    ASSERT_GE(peer, 0);
    const std::string data = random_bytes(1500);
    ASSERT_EQ(::send(peer, data.data(), data.size(), 0), 1500);
    ASSERT_TRUE(
        run_until([] { return only_record()->status != STAT_ACTIVE && only_record()->status != STAT_CONNECTING; }));
    EXPECT_EQ(only_record()->status, STAT_FAILED);
    EXPECT_EQ(slurp(downloads + "/x.bin"), data.substr(0, 1000));
    close(peer);
    close(lfd);
}

TEST_F(Dcc, SendCompletesOnlyOnTheExactAcknowledgementAndResumesOnlyForItsPeer)
{
    const std::string data = random_bytes(50000);
    write_file("out.bin", data);
    dcc_send(home, "bob", path("out.bin").c_str(), 0, 0);
    DCC *dcc = only_record();
    ASSERT_NE(dcc, nullptr);
    const std::string offer = sent();
    EXPECT_EQ(offer, "PRIVMSG bob :\x01"
                     "DCC SEND out.bin 2130706433 " +
                         std::to_string(dcc->port) + " 50000\x01\r\n");
    const std::string port = std::to_string(dcc->port);

    from("carol", "DCC RESUME out.bin " + port + " 100");
    from("bob", "DCC RESUME out.bin " + port + " 50000");
    EXPECT_EQ(sent(), "") << "no ACCEPT for another nick or for a position at the end";
    EXPECT_EQ(dcc->resume_offset, 0u);
    EXPECT_EQ(dcc->position, 0u);
    from("bob", "DCC RESUME out.bin " + port + " 20000");
    EXPECT_EQ(sent(), "PRIVMSG bob :\x01"
                      "DCC ACCEPT out.bin " +
                          port + " 20000\x01\r\n");

    const int peer = connect_to(static_cast<int>(dcc->port));
    EXPECT_EQ(read_bytes(peer, 30000), data.substr(20000));
    send_ack(peer, 60000); // more than was ever sent
    send_ack(peer, 40000);
    send_ack(peer, 30000); // going backwards
    fe_recorder::run_for(100);
    EXPECT_EQ(dcc->status, STAT_ACTIVE);
    EXPECT_EQ(dcc->acknowledged, 40000u);
    send_ack(peer, 50000);
    EXPECT_TRUE(run_until([&] { return dcc->status == STAT_DONE; }));
    close(peer);
}

TEST_F(Dcc, OffersTimeOutAndStalledTransfersAreAborted)
{
    write_file("out.bin", random_bytes(10000000));
    prefs.dcc_timeout = 1;
    prefs.dcc_stall_timeout = 1;
    dcc_send(home, "bob", path("out.bin").c_str(), 0, 0);
    DCC *unanswered = only_record();
    ASSERT_TRUE(run_until([&] { return unanswered->status == STAT_ABORTED; }, 4000));
    EXPECT_TRUE(shown(home, "DCC SEND of out.bin with bob timed out, aborting.")) << fe_recorder::dump();

    int port;
    const int lfd = listen_here(&port);
    prefs.dcc_auto_recv = 2;
    from("bob", "DCC SEND in.bin 2130706433 " + std::to_string(port) + " 1000");
    DCC *stalled = find_dcc("bob", "in.bin", DCC_KIND_RECV);
    const int peer = accept_peer(lfd);
    ASSERT_TRUE(run_until([&] { return stalled->status == STAT_ABORTED; }, 5000));
    EXPECT_TRUE(shown(home, "DCC RECV of in.bin with bob stalled, aborting.")) << fe_recorder::dump();
    close(peer);
    close(lfd);
}

TEST_F(Dcc, ChatCarriesLinesAndActionsBothWays)
{
    int port;
    const int lfd = listen_here(&port);
    prefs.dcc_auto_chat = 1;
    from("bob", "DCC CHAT chat 2130706433 " + std::to_string(port));
    const int peer = accept_peer(lfd);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(run_until([] { return only_record()->status == STAT_ACTIVE; }));
    const std::string in = "hello there\r\n\x01"
                           "ACTION waves\x01\nCTCP_MESSAGE \x01"
                           "ACTION nods\x01\n";
    ASSERT_EQ(::send(peer, in.data(), in.size(), 0), static_cast<ssize_t>(in.size()));
    ASSERT_TRUE(run_until([] { return only_record()->position == 25 + 26; }));
    session *d = find_dialog(serv, "bob");
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(shown(d, "hello there"));
    EXPECT_TRUE(shown(d, "bob waves"));
    EXPECT_TRUE(shown(d, "bob nods")) << "an action in the wrapped form some clients use";
    EXPECT_NE(dcc_write_chat("bob", "back at you"), nullptr);
    EXPECT_EQ(read_bytes(peer, 12), "back at you\n");
    close(peer);
    ASSERT_TRUE(run_until([] { return only_record()->status == STAT_FAILED; }));
    EXPECT_EQ(dcc_write_chat("bob", "gone"), nullptr);
    close(lfd);
}

// The client sends to itself (its offers reflected back as bob's): a sparse
// 4 GiB + 3 MiB file, resumed from a sparse partial file 1 MiB short of
// 4 GiB, so the acknowledgements wrap in the middle of the transfer.
TEST_F(Dcc, ResumeAcrossTheFourGibWrap)
{
    const uint64_t size = GiB4 + 3 * 1024 * 1024, have = GiB4 - 1024 * 1024;
    const std::string tail = random_bytes(static_cast<std::size_t>(size - have));
    const std::string src = path("big.bin");
    {
        const int fd = open(src.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(have)), static_cast<ssize_t>(tail.size()));
        close(fd);
    }
    g_mkdir_with_parents(downloads.c_str(), 0700);
    const std::string dest = downloads + "/big.bin";
    {
        const int fd = open(dest.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(have)), 0);
        close(fd);
        DCC earlier;
        earlier.nick = "bob";
        earlier.dest_path = dest;
        dcc_partial_remember(&earlier);
    }
    prefs.dcc_auto_recv = 2;
    dcc_send(home, "bob", src.c_str(), 0, 0);
    ASSERT_EQ(reflect("bob"), 1); // the offer
    ASSERT_EQ(reflect("bob"), 1); // the receiver's RESUME
    ASSERT_EQ(reflect("bob"), 1); // the sender's ACCEPT
    DCC *sender = find_dcc("bob", "big.bin", DCC_KIND_SEND);
    DCC *receiver = find_dcc("bob", "big.bin", DCC_KIND_RECV);
    ASSERT_TRUE(sender && receiver);
    EXPECT_EQ(receiver->resume_offset, have);
    ASSERT_TRUE(run_until([&] { return sender->status == STAT_DONE && receiver->status == STAT_DONE; }, 20000))
        << sender->status << " " << receiver->status << " ack " << sender->acknowledged;
    struct stat st = {};
    ASSERT_EQ(stat(dest.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), size);
    std::string got(tail.size(), '\0');
    const int fd = open(dest.c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, got.data(), got.size(), static_cast<off_t>(have)), static_cast<ssize_t>(got.size()));
    close(fd);
    EXPECT_TRUE(got == tail);
}

TEST_F(Dcc, OfferFailsWhenEveryPortOfTheRangeIsTaken)
{
    write_file("out.bin", "data");
    int taken;
    const int lfd = listen_here(&taken);
    prefs.dcc_port_first = prefs.dcc_port_last = taken;
    dcc_send(home, "bob", path("out.bin").c_str(), 0, 0);
    EXPECT_TRUE(shown(home, "Failed to bind to any address or port."));
    EXPECT_EQ(dcc_list, nullptr);
    EXPECT_EQ(sent(), "");
    prefs.dcc_port_last = taken + 1;
    dcc_send(home, "bob", path("out.bin").c_str(), 0, 0);
    ASSERT_NE(only_record(), nullptr) << "the range is walked past the taken port";
    EXPECT_EQ(only_record()->port, static_cast<uint32_t>(taken) + 1);
    close(lfd);
}

} // namespace
