// The commands a user types, checked at the other end: lumenwick-text on a real
// InspIRCd (with Atheme for the nick service) and peers (tests/harness/irc-bots.py)
// that print every line they receive exactly, tags included. Each command must put
// the right bytes in front of the peer, and a password told to the nick service
// must never show up on the screen or in a log.
#include "connect_fixture.h"
#include "irc_bots.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace connect_test
{
namespace
{

constexpr int PEER_MS = 8000;

bool has(const std::string &line, std::string_view a, std::string_view b = "")
{
    return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
}

// A relayed MODE line with the colon a server may put before its last
// parameter taken out, so that "+b :mask" and "+b mask" compare alike.
std::string without_trailing_colon(const std::string &line)
{
    std::string out = line;
    const std::size_t mode = out.find(" MODE ");
    const std::size_t colon = mode == std::string::npos ? std::string::npos : out.find(" :", mode);
    if (colon != std::string::npos)
        out.erase(colon + 1, 1);
    return out;
}

// The text of a PRIVMSG or NOTICE line from "tester" to `target`, "" otherwise.
std::string text_from_tester(const std::string &line, const std::string &command, const std::string &target)
{
    const std::string marker = " " + command + " " + target + " :";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos || line.find(":tester!") == std::string::npos)
        return "";
    return line.substr(at + marker.size());
}

class CommandsTest : public ConnectTest
{
  protected:
    // Waits until peer `nick` received `times` lines for which `match` holds,
    // reading the client's output meanwhile so that it never blocks on a full pipe.
    bool peer_saw(const std::string &nick, const std::function<bool(const std::string &)> &match, int times = 1,
                  int timeout_ms = PEER_MS)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
        while (bots->count(nick, match) < times) {
            if (g_get_monotonic_time() >= deadline)
                return false;
            bots->poll(30);
            client->settle(20);
        }
        return true;
    }
    bool peer_saw(const std::string &nick, std::string_view a, std::string_view b = "", int times = 1)
    {
        const std::string x(a), y(b);
        return peer_saw(
            nick, [&](const std::string &line) { return has(line, x, y); }, times);
    }
    bool tab_shows(const std::string &tab, std::string_view text, int times = 1)
    {
        const std::string start = tab + "\t";
        auto count = [&] {
            int n = 0;
            std::istringstream in(client->out());
            for (std::string line; std::getline(in, line);)
                n += line.rfind(start, 0) == 0 && line.find(text) != std::string::npos;
            return n;
        };
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(SHORT_MS) * 1000;
        while (count() < times) {
            if (g_get_monotonic_time() >= deadline)
                return false;
            client->settle(50);
            if (bots)
                bots->poll(1);
        }
        return true;
    }
    // Every file below the client's configuration directory holding `needle`.
    std::vector<std::string> client_files_holding(const std::string &needle) const
    {
        std::vector<std::string> hits;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(client->config_dir(), ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file())
                continue;
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream body;
            body << in.rdbuf();
            if (body.str().find(needle) != std::string::npos)
                hits.push_back(it->path().string());
        }
        return hits;
    }
    std::string all() const { return context() + (bots ? bots->transcript() : ""); }

    std::unique_ptr<irc_bots> bots;
};

TEST_F(CommandsTest, TypedCommandsReachThePeersByteForByte)
{
    ASSERT_TRUE(lab.start_ircd()) << lab.log();
    const int port = lab.port("irc");
    // Dozens of lines in a row: the send clock (tested on its own) would
    // space them two seconds and more apart.
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    bots = std::make_unique<irc_bots>(port);

    // alice sees tags, away changes and her own messages (with their ids);
    // the others see plain lines. n1..n10 are there to be opped.
    ASSERT_TRUE(bots->run("caps message-tags,away-notify,echo-message")) << all();
    ASSERT_TRUE(bots->run("connect alice")) << all();
    ASSERT_TRUE(bots->run("caps -")) << all();
    ASSERT_TRUE(bots->run("connect bob carol dave n1 n2 n3 n4 n5 n6 n7 n8 n9 n10")) << all();
    ASSERT_TRUE(bots->send("alice", "JOIN #room"));
    ASSERT_TRUE(peer_saw("alice", "JOIN", "#room")) << all();

    ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(port)));
    ASSERT_TRUE(registered()) << all();
    ASSERT_TRUE(client->type("/join #room"));
    ASSERT_TRUE(tab_shows("#room", "Now talking on #room")) << all();
    ASSERT_TRUE(bots->send("alice", "MODE #room +o tester"));
    ASSERT_TRUE(tab_shows("#room", "gives channel operator status to tester")) << all();
    for (const char *nick : {"bob", "carol", "n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8", "n9", "n10"})
        ASSERT_TRUE(bots->send(nick, "JOIN #room"));
    ASSERT_TRUE(tab_shows("#room", "n10 (")) << all();

    // Talking.
    ASSERT_TRUE(client->type("/me waves"));
    EXPECT_TRUE(peer_saw("bob", ":tester!", "PRIVMSG #room :\001ACTION waves\001")) << all();
    ASSERT_TRUE(client->type("/msg bob hello bob"));
    EXPECT_TRUE(peer_saw("bob", ":tester!", "PRIVMSG bob :hello bob")) << all();
    ASSERT_TRUE(client->type("/notice bob heads up"));
    EXPECT_TRUE(peer_saw("bob", ":tester!", "NOTICE bob :heads up")) << all();
    ASSERT_TRUE(client->type("/ctcp bob version"));
    EXPECT_TRUE(peer_saw("bob", ":tester!", "PRIVMSG bob :\001VERSION\001")) << all();

    // A 600-byte line arrives as two messages that together are the line.
    std::string long_text;
    for (int i = 0; long_text.size() < 600; i++)
        long_text += "w" + std::to_string(1000 + i) + " ";
    long_text.pop_back();
    ASSERT_TRUE(client->type("/msg #room " + long_text));
    auto long_piece = [&](const std::string &line) {
        const std::string t = text_from_tester(line, "PRIVMSG", "#room");
        return !t.empty() && t.rfind("w1", 0) == 0;
    };
    EXPECT_TRUE(peer_saw("bob", long_piece, 2)) << all();
    std::string arrived;
    for (const std::string &line : bots->lines_of("bob"))
        if (long_piece(line))
            arrived += text_from_tester(line, "PRIVMSG", "#room");
    EXPECT_EQ(bots->count("bob", long_piece), 2) << all();
    EXPECT_EQ(arrived, long_text);

    // Away and back, as away-notify shows them to a peer in the channel.
    ASSERT_TRUE(client->type("/away gone fishing"));
    EXPECT_TRUE(peer_saw("alice", ":tester!", " AWAY :gone fishing")) << all();
    ASSERT_TRUE(client->type("/back"));
    EXPECT_TRUE(peer_saw("alice", [](const std::string &l) {
        return l.find(":tester!") != std::string::npos && l.size() >= 5 && l.compare(l.size() - 5, 5, " AWAY") == 0;
    })) << all();

    // Channel management.
    ASSERT_TRUE(client->type("/topic fresh topic"));
    EXPECT_TRUE(peer_saw("alice", ":tester!", "TOPIC #room :fresh topic")) << all();
    ASSERT_TRUE(client->type("/invite dave"));
    EXPECT_TRUE(peer_saw("dave", ":tester!", "INVITE dave")) << all();
    ASSERT_TRUE(client->type("/wallchop ops only"));
    EXPECT_TRUE(peer_saw("alice", ":tester!", "NOTICE alice :[@#room] ops only")) << all();
    EXPECT_EQ(bots->count("bob", [](const std::string &l) { return has(l, "ops only"); }), 0) << all();

    // Ten nicks opped by a server that takes four modes a line: three MODE lines.
    ASSERT_TRUE(client->type("/recv :irc.localhost 005 tester MODES=4 :are supported by this server"));
    ASSERT_TRUE(client->type("/op n1 n2 n3 n4 n5 n6 n7 n8 n9 n10"));
    auto mode_line = [](std::string_view text) {
        return [text](const std::string &l) { return has(without_trailing_colon(l), ":tester!", text); };
    };
    EXPECT_TRUE(peer_saw("alice", mode_line(" MODE #room +o"), 3)) << all();
    bots->poll(300);
    EXPECT_EQ(bots->count("alice", mode_line(" MODE #room +o")), 3) << all();
    EXPECT_TRUE(peer_saw("alice", mode_line("MODE #room +oooo n1 n2 n3 n4"))) << all();
    EXPECT_TRUE(peer_saw("alice", mode_line("MODE #room +oooo n5 n6 n7 n8"))) << all();
    EXPECT_TRUE(peer_saw("alice", mode_line("MODE #room +oo n9 n10"))) << all();

    // Bans by type, from the address the channel told; then a kick.
    ASSERT_TRUE(client->type("/ban bob 3"));
    EXPECT_TRUE(peer_saw("alice", mode_line("MODE #room +b *!*bob@127.0.0.1"))) << all();
    ASSERT_TRUE(client->type("/ban carol 0"));
    EXPECT_TRUE(peer_saw("alice", mode_line("MODE #room +b *!*@127.0.0.*"))) << all();
    ASSERT_TRUE(client->type("/kick carol bye now"));
    EXPECT_TRUE(peer_saw("carol", ":tester!", "KICK #room carol :bye now")) << all();

    // A reply to alice's message carries its id; typing notifications are tags alone.
    ASSERT_TRUE(bots->send("alice", "PRIVMSG #room :a question?"));
    ASSERT_TRUE(peer_saw("alice", "msgid=", "PRIVMSG #room :a question?")) << all();
    std::string msgid;
    for (const std::string &line : bots->lines_of("alice")) {
        std::smatch m;
        if (has(line, "PRIVMSG #room :a question?") && std::regex_search(line, m, std::regex("[@;]msgid=([^; ]+)")))
            msgid = m[1];
    }
    ASSERT_FALSE(msgid.empty()) << all();
    ASSERT_TRUE(client->type("/reply " + msgid + " the answer"));
    EXPECT_TRUE(peer_saw("alice", "+reply=" + msgid, "PRIVMSG #room :the answer")) << all();
    EXPECT_TRUE(tab_shows("#room", "alice: a question?")) << "the reply context line\n" << all();
    // The server may put a colon before a TAGMSG's only parameter.
    auto typing_to = [](const std::string &state, const std::string &target) {
        return [=](const std::string &l) {
            return has(l, "+typing=" + state, ":tester!") &&
                   (has(l, " TAGMSG " + target) || has(l, " TAGMSG :" + target));
        };
    };
    ASSERT_TRUE(client->type("/typing"));
    EXPECT_TRUE(peer_saw("alice", typing_to("active", "#room"))) << all();
    ASSERT_TRUE(client->type("/typing paused"));
    EXPECT_TRUE(peer_saw("alice", typing_to("paused", "#room"))) << all();
    ASSERT_TRUE(client->type("/typing done alice"));
    EXPECT_TRUE(peer_saw("alice", typing_to("done", "alice"))) << all();

    // A child's output said in the channel.
    ASSERT_TRUE(client->type("/exec -o echo hi from a child"));
    EXPECT_TRUE(peer_saw("bob", ":tester!", "PRIVMSG #room :hi from a child")) << all();

    // An IRC URL with a channel and its key: a new connection that joins with the key.
    ASSERT_TRUE(bots->send("alice", "JOIN #keyed"));
    ASSERT_TRUE(bots->send("alice", "MODE #keyed +k sekrit"));
    ASSERT_TRUE(peer_saw("alice", [](const std::string &l) {
        return has(without_trailing_colon(l), "MODE #keyed +k sekrit");
    })) << all();
    ASSERT_TRUE(client->type("/server irc://127.0.0.1:" + std::to_string(port) + "/keyed?sekrit"));
    EXPECT_TRUE(registered(2)) << all();
    EXPECT_TRUE(peer_saw("alice", [](const std::string &l) { return has(l, ":tester!", " JOIN") && has(l, "#keyed"); }))
        << all();
    quit_client();
}

TEST_F(CommandsTest, NickServPasswordsStayOffTheScreenAndTheLogs)
{
    constexpr const char *PASSWORD = "pw-Secret-42";
    ASSERT_TRUE(lab.script("nickserv-up.sh")) << lab.log();
    const int port = lab.port("irc");
    run_options reg;
    reg.args = {std::string(LUMENWICK_HARNESS_DIR) + "/services-account.py",
                "--port",
                std::to_string(port),
                "register",
                "--account",
                NICK,
                "--password",
                PASSWORD};
    const run_result r = run_program("/usr/bin/python3", reg, "", 30000);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err << lab.log();

    ASSERT_NO_FATAL_FAILURE(start_client());
    bots = std::make_unique<irc_bots>(port);
    ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(port)));
    ASSERT_TRUE(registered()) << all();

    // /ID goes out as the NICKSERV command, /MSG as a message (echoed back by
    // the server), once more into an open dialog with the service.
    ASSERT_TRUE(client->type("/id " + std::string(PASSWORD)));
    ASSERT_TRUE(client->wait_shown("You are now identified for", REGISTER_MS)) << all();
    ASSERT_TRUE(client->type("/msg NickServ identify " + std::string(PASSWORD)));
    ASSERT_TRUE(client->wait_shown("identify ****", SHORT_MS)) << all();
    ASSERT_TRUE(client->type("/query NickServ"));
    ASSERT_TRUE(client->type("/msg NickServ IDENTIFY tester " + std::string(PASSWORD)));
    EXPECT_TRUE(tab_shows("NickServ", "identify ****")) << all();

    // GHOST frees the nick from another connection holding it.
    ASSERT_TRUE(client->type("/nick tester_"));
    ASSERT_TRUE(client->wait_shown("You are now known as tester_", SHORT_MS)) << all();
    ASSERT_TRUE(bots->run("connect tester")) << all();
    ASSERT_TRUE(client->type("/ghost tester " + std::string(PASSWORD)));
    EXPECT_TRUE(peer_saw("tester", [](const std::string &l) { return has(l, "(closed)") || has(l, "ERROR"); }))
        << all();
    EXPECT_TRUE(client->wait_shown_nocase("ghosted", SHORT_MS)) << all();

    quit_client();
    EXPECT_EQ(client->out().find(PASSWORD), std::string::npos) << all();
    EXPECT_EQ(client_files_holding(PASSWORD), std::vector<std::string>{}) << "no log holds the password";
}

} // namespace
} // namespace connect_test
