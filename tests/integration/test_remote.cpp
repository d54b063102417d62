// The built-in plugins in lumenwick-text against the scripted server: remote
// control on a private session bus (the tests run themselves again under
// dbus-run-session) driven by gdbus and tests/harness/remote-driver.py, the
// hand-over of a second start, the ident responder over real sockets, and
// /TIMER checked at the server.
#include "connect_fixture.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <regex>

namespace connect_test
{
namespace
{

namespace fs = std::filesystem;

constexpr const char *IN_BUS = "LUMENWICK_TEST_IN_SESSION_BUS";
constexpr const char *SERVER = ":irc.test ";
constexpr const char *ME = "tester!tuser@client.test";
constexpr const char *REMOTE = "/org/lumenwick/Remote";

std::string tool(const char *name)
{
    char *found = g_find_program_in_path(name);
    std::string path = found ? found : name;
    g_free(found);
    return path;
}

// True inside the private bus; outside, runs this test there and checks it.
bool inside_private_bus()
{
    if (g_getenv(IN_BUS))
        return true;
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    char self[4096] = {};
    EXPECT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    run_options o;
    o.args = {"--", self, std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()};
    o.set_env = {{IN_BUS, "1"}};
    const run_result r = run_program(tool("dbus-run-session"), o, "", 110000);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out;
    return false;
}

// tests/harness/remote-driver.py on the test's session bus.
class bus_driver
{
  public:
    bus_driver() : proc_("/usr/bin/python3", options()) {}

    // The results of a call as JSON ("error <name> <message>" on failure).
    std::string call(const std::string &path, const std::string &method, const std::string &signature,
                     const std::string &args = "[]")
    {
        const std::string tag = "c" + std::to_string(++calls_);
        proc_.write("call " + tag + " " + path + " " + method + " " + signature + " " + args + "\n");
        const std::string head = "\n" + tag + " ";
        if (!proc_.wait_for([&](const std::string &out) { return line_after("\n" + out, head).has_value(); }, SHORT_MS))
            return "(no answer)";
        std::string line = *line_after("\n" + proc_.out(), head);
        return line.rfind("ok ", 0) == 0 ? line.substr(3) : line;
    }
    void send(const std::string &line) { proc_.write(line + "\n"); }
    bool wait_out(std::string_view needle, int timeout_ms = SHORT_MS)
    {
        return proc_.wait_for_output(needle, timeout_ms);
    }
    int count(std::string_view needle) const { return count_in(proc_.out(), needle); }
    std::string transcript() const { return "--- driver:\n" + proc_.out() + proc_.err(); }
    void leave() { proc_.finish(SHORT_MS); }

  private:
    static run_options options()
    {
        run_options o;
        o.args = {LUMENWICK_HARNESS_DIR "/remote-driver.py"};
        return o;
    }
    static std::optional<std::string> line_after(const std::string &text, const std::string &head)
    {
        const std::size_t at = text.find(head);
        if (at == std::string::npos)
            return std::nullopt;
        const std::size_t end = text.find('\n', at + head.size());
        if (end == std::string::npos)
            return std::nullopt;
        return text.substr(at + head.size(), end - at - head.size());
    }

    child_process proc_;
    int calls_ = 0;
};

class BuiltinsTest : public ConnectTest
{
  protected:
    void SetUp() override
    {
        ConnectTest::SetUp();
        ASSERT_TRUE(ircd.ok()) << ircd.transcript();
    }

    // The client with `settings` in its configuration file and, inside the
    // private bus, on that bus.
    void start(const std::vector<std::string> &settings = {})
    {
        const fs::path cfg = lab.dir() / "client" / "cfg";
        fs::create_directories(cfg);
        {
            std::ofstream conf(cfg / "lumenwick.conf");
            conf << "irc_nick1 = " << NICK << "\nirc_user_name = " << USER_NAME << "\nirc_real_name = " << REAL_NAME
                 << "\n";
            for (const std::string &s : settings)
                conf << s.substr(0, s.find(' ')) << " = " << s.substr(s.find(' ') + 1) << "\n";
        }
        client = std::make_unique<text_client>(lab.dir() / "client", bus_env());
        ASSERT_TRUE(client->started());
        set("irc_nick2 tester2");
    }

    static env_list bus_env()
    {
        const char *bus = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!g_getenv(IN_BUS) || !bus)
            return {};
        return {{"DBUS_SESSION_BUS_ADDRESS", bus}};
    }

    // Registered with the scripted server, and in #chan.
    void connect_and_join()
    {
        ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(ircd.port())));
        ASSERT_TRUE(ircd.wait_received(1, "\r\nUSER ", SHORT_MS)) << trace();
        ASSERT_TRUE(ircd.send(std::string(SERVER) + "001 tester :Welcome to the scripted net " + ME + "\r\n" + SERVER +
                              "376 tester :End of /MOTD command.\r\n:" + ME + " JOIN #chan\r\n" +
                              ":alice!a@a.example PRIVMSG #chan :chan-ready\r\n"));
        ASSERT_TRUE(client->wait_shown("chan-ready", SHORT_MS)) << trace();
    }

    // Types a line, then an /ECHO marker; once the marker shows, the line
    // and everything it triggered has been handled.
    void run(const std::string &line)
    {
        const std::string marker = "sync-" + std::to_string(++syncs_);
        ASSERT_TRUE(client->type(line));
        ASSERT_TRUE(client->type("/echo " + marker + " done"));
        ASSERT_TRUE(client->wait_shown(marker + " done", SHORT_MS)) << line << "\n" << trace();
    }

    // Until the service answers on the bus.
    void wait_service(bus_driver &bus)
    {
        for (int i = 0; i < 100; i++) {
            if (bus.call(REMOTE, "plugin.GetInfo", "(s)", "[\"version\"]").rfind("[\"", 0) == 0)
                return;
            client->settle(50);
        }
        FAIL() << "the service never answered\n" << bus.transcript() << trace();
    }

    std::string trace() const { return context() + "--- server:\n" + ircd.transcript(); }

    scripted_server ircd;
    int syncs_ = 0;
};

TEST_F(BuiltinsTest, RemoteMethodsAnswerAndHooksSignalTheCaller)
{
    if (!inside_private_bus())
        return;
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(connect_and_join());
    bus_driver bus;
    ASSERT_NO_FATAL_FAILURE(wait_service(bus));

    run_options gdbus;
    gdbus.args = {"call",          "--session", "--dest",   "org.lumenwick.service",
                  "--object-path", REMOTE,      "--method", "org.lumenwick.plugin.GetInfo",
                  "version"};
    const run_result version = run_program(tool("gdbus"), gdbus, "", SHORT_MS);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("\\('[0-9]+\\.[0-9]+\\.[0-9]+',\\)\n"))) << version.out;
    // Pointer-valued ids never hand out memory.
    EXPECT_EQ(bus.call(REMOTE, "plugin.GetInfo", "(s)", "[\"win_ptr\"]"), "[\"\"]");
    EXPECT_EQ(bus.call(REMOTE, "plugin.GetInfo", "(s)", "[\"gtkwin_ptr\"]"), "[\"\"]");
    EXPECT_EQ(bus.call(REMOTE, "plugin.GetPrefs", "(s)", "[\"irc_nick1\"]"), "[1, \"tester\", 0]");
    EXPECT_EQ(bus.call(REMOTE, "plugin.GetPrefs", "(s)", "[\"no_such_pref\"]"), "[0, \"\", 0]");
    EXPECT_EQ(bus.call(REMOTE, "plugin.Nickcmp", "(ss)", "[\"TESTER\", \"tester\"]"), "[0]");
    // A length past the end is clamped; a shorter one cuts.
    EXPECT_EQ(bus.call(REMOTE, "plugin.Strip", "(sii)", R"(["\u0002bold\u0002 \u000304red", 100000, 3])"),
              "[\"bold red\"]");
    EXPECT_EQ(bus.call(REMOTE, "plugin.Strip", "(sii)", R"(["abcdef", 3, 0])"), "[\"abc\"]");

    // A connected program keeps one object; contexts by id.
    const std::string path = "/org/lumenwick/0";
    const std::string conn_args = R"(["/some/where/tour.py", "Tour", "a tour", "1.0"])";
    EXPECT_EQ(bus.call("/org/lumenwick", "connection.Connect", "(ssss)", conn_args), "[\"" + path + "\"]");
    EXPECT_EQ(bus.call("/org/lumenwick", "connection.Connect", "(ssss)", conn_args), "[\"" + path + "\"]");
    const std::string found = bus.call(path, "plugin.FindContext", "(ss)", R"(["", "#chan"])");
    ASSERT_TRUE(std::regex_match(found, std::regex("\\[[1-9][0-9]*\\]"))) << found;
    const std::string chan_id = found.substr(1, found.size() - 2);
    EXPECT_EQ(bus.call(path, "plugin.SetContext", "(u)", "[" + chan_id + "]"), "[true]");
    EXPECT_EQ(bus.call(path, "plugin.SetContext", "(u)", "[99999]"), "[false]");
    EXPECT_EQ(bus.call(path, "plugin.GetContext", "()"), found);
    EXPECT_EQ(bus.call(path, "plugin.GetInfo", "(s)", "[\"channel\"]"), "[\"#chan\"]");

    // The channel list: the #chan entry carries its context id, never a pointer.
    const std::string list = bus.call(path, "plugin.ListGet", "(s)", "[\"channels\"]");
    ASSERT_TRUE(std::regex_match(list, std::regex("\\[[1-9][0-9]*\\]"))) << list;
    const std::string lid = list.substr(1, list.size() - 2);
    bool seen_chan = false;
    for (int i = 0; i < 10 && bus.call(path, "plugin.ListNext", "(u)", "[" + lid + "]") == "[true]"; i++) {
        if (bus.call(path, "plugin.ListStr", "(us)", "[" + lid + ", \"channel\"]") != "[\"#chan\"]")
            continue;
        seen_chan = true;
        EXPECT_EQ(bus.call(path, "plugin.ListInt", "(us)", "[" + lid + ", \"context\"]"), found);
        EXPECT_EQ(bus.call(path, "plugin.ListStr", "(us)", "[" + lid + ", \"context\"]"), "[\"\"]");
    }
    EXPECT_TRUE(seen_chan) << bus.transcript();
    EXPECT_EQ(bus.call(path, "plugin.ListFree", "(u)", "[" + lid + "]"), "[]");
    EXPECT_EQ(bus.call(path, "plugin.ListNext", "(u)", "[" + lid + "]"), "[false]");
    EXPECT_EQ(bus.call(path, "plugin.ListGet", "(s)", "[\"no such list\"]"), "[0]");
    EXPECT_EQ(bus.call(path, "plugin.ListTime", "(us)", "[4242, \"x\"]"), "[18446744073709551615]");
    EXPECT_EQ(bus.call(path, "plugin.ListStr", "(us)", "[0, \"channel\"]"), "[\"#chan\"]");

    // Printing, events, commands and modes in the chosen tab.
    EXPECT_EQ(bus.call(path, "plugin.Print", "(s)", "[\"printed over the bus\"]"), "[]");
    EXPECT_EQ(bus.call(path, "plugin.EmitPrint", "(sas)", R"(["Channel Message", ["alice", "emitted over the bus"]])"),
              "[true]");
    EXPECT_EQ(bus.call(path, "plugin.Command", "(s)", "[\"quote REMOTECMD x\"]"), "[]");
    EXPECT_EQ(bus.call(path, "plugin.SendModes", "(asiyy)", R"([["alice", "bob"], 2, 43, 111])"), "[]");
    EXPECT_TRUE(ircd.wait_received(1, "REMOTECMD x\r\n", SHORT_MS)) << trace();
    EXPECT_TRUE(ircd.wait_received(1, "MODE #chan +oo alice bob\r\n", SHORT_MS)) << trace();
    EXPECT_TRUE(client->wait_shown("printed over the bus", SHORT_MS)) << trace();
    EXPECT_TRUE(client->wait_shown("emitted over the bus", SHORT_MS)) << trace();

    // Hooks: the signals carry the words, the hook id and the context id;
    // the return value eats the command before the server sees it.
    bus.send("listen");
    ASSERT_TRUE(bus.wait_out("listening\n"));
    EXPECT_EQ(bus.call(path, "plugin.HookServer", "(sii)", R"(["PRIVMSG", 0, 0])"), "[1]");
    EXPECT_EQ(bus.call(path, "plugin.HookPrint", "(sii)", R"(["Channel Message", 0, 0])"), "[2]");
    EXPECT_EQ(bus.call(path, "plugin.HookCommand", "(sisi)", R"(["probecmd", 0, "probe help", 3])"), "[3]");
    ASSERT_TRUE(ircd.send(":alice!a@a.example PRIVMSG #chan :hooked words\r\n"));
    EXPECT_TRUE(bus.wait_out("signal " + path +
                             R"( ServerSignal [[":alice!a@a.example", "PRIVMSG", "#chan", ":hooked", "words"], )"))
        << bus.transcript();
    EXPECT_TRUE(bus.wait_out("signal " + path + R"( PrintSignal [["alice", "hooked words"], 2, )" + chan_id + "]"))
        << bus.transcript();
    ASSERT_NO_FATAL_FAILURE(run("/probecmd one two"));
    EXPECT_TRUE(
        bus.wait_out(R"(CommandSignal [["probecmd", "one", "two"], ["probecmd one two", "one two", "two"], 3, )"))
        << bus.transcript();
    EXPECT_EQ(bus.call(path, "plugin.Unhook", "(u)", "[3]"), "[]");
    ASSERT_NO_FATAL_FAILURE(run("/probecmd three"));
    EXPECT_TRUE(ircd.wait_received(1, "probecmd three\r\n", SHORT_MS)) << trace();
    EXPECT_EQ(ircd.received(1).find("probecmd one"), std::string::npos) << trace();

    // /UNLOAD of the program's file name asks it to go; Disconnect removes it.
    ASSERT_NO_FATAL_FAILURE(run("/unload tour.py"));
    EXPECT_TRUE(bus.wait_out("signal " + path + " UnloadSignal []")) << bus.transcript();
    EXPECT_EQ(bus.call("/org/lumenwick", "connection.Disconnect", "()"), "[]");
    EXPECT_EQ(bus.call(path, "plugin.GetContext", "()").rfind("error ", 0), 0u) << bus.transcript();
    quit_client();
}

TEST_F(BuiltinsTest, HooksGoWithTheCallerThatLeavesTheBus)
{
    if (!inside_private_bus())
        return;
    ASSERT_NO_FATAL_FAILURE(start({QUICK_SUCCESSION}));
    ASSERT_NO_FATAL_FAILURE(connect_and_join());
    {
        // One hooks on the shared object without Connect, one connects; both
        // swallow their command and leave without a goodbye.
        bus_driver oneshot, connected;
        ASSERT_NO_FATAL_FAILURE(wait_service(oneshot));
        EXPECT_EQ(oneshot.call(REMOTE, "plugin.HookCommand", "(sisi)", R"(["swallow", 0, "", 3])"), "[1]");
        EXPECT_NE(oneshot.call(REMOTE, "plugin.ListGet", "(s)", "[\"channels\"]"), "[0]");
        EXPECT_EQ(connected.call("/org/lumenwick", "connection.Connect", "(ssss)", R"(["gulp.py", "G", "", ""])"),
                  "[\"/org/lumenwick/0\"]");
        EXPECT_EQ(connected.call("/org/lumenwick/0", "plugin.HookCommand", "(sisi)", R"(["gulp", 0, "", 3])"), "[1]");
        ASSERT_NO_FATAL_FAILURE(run("/swallow first"));
        ASSERT_NO_FATAL_FAILURE(run("/gulp first"));
        // Another caller cannot take the first one's hook away.
        bus_driver other;
        EXPECT_EQ(other.call(REMOTE, "plugin.Unhook", "(u)", "[1]"), "[]");
        ASSERT_NO_FATAL_FAILURE(run("/swallow second"));
        oneshot.send("exit");
        connected.send("exit");
        oneshot.leave();
        connected.leave();
    }
    // The bus tells the service a moment later.
    bool free = false;
    for (int i = 0; i < 50 && !free; i++) {
        const std::string n = std::to_string(i);
        ASSERT_NO_FATAL_FAILURE(run("/swallow after " + n));
        ASSERT_NO_FATAL_FAILURE(run("/gulp after " + n));
        free = ircd.wait_received(1, "swallow after " + n + "\r\n", 300) &&
               ircd.wait_received(1, "gulp after " + n + "\r\n", 300);
    }
    EXPECT_TRUE(free) << trace();
    const std::string got = ircd.received(1);
    EXPECT_EQ(got.find("swallow first"), std::string::npos) << trace();
    EXPECT_EQ(got.find("swallow second"), std::string::npos) << trace();
    EXPECT_EQ(got.find("gulp first"), std::string::npos) << trace();
    quit_client();
}

TEST_F(BuiltinsTest, SecondStartHandsItsUrlToTheRunningOne)
{
    if (!inside_private_bus())
        return;
    const fs::path second = lab.dir() / "second";
    {
        // Something else holds the name but takes no command: the second
        // start must not report success.
        bus_driver impostor;
        impostor.send("own org.lumenwick.service");
        ASSERT_TRUE(impostor.wait_out("owned org.lumenwick.service")) << impostor.transcript();
        text_client refused(second, bus_env(), {"--existing", "irc://127.0.0.1:1/#nowhere"});
        const run_result r = refused.finish(EXIT_MS);
        EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("Failed to complete Command: "), std::string::npos) << r.err;
        impostor.send("exit");
        impostor.leave();
    }
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(connect_and_join());
    bus_driver bus;
    ASSERT_NO_FATAL_FAILURE(wait_service(bus));

    text_client url(second, bus_env(), {"--existing", "irc://127.0.0.1:" + std::to_string(ircd.port()) + "/#handed"});
    const run_result r = url.finish(EXIT_MS);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Networks:"), std::string::npos) << "the second start opened no session\n" << r.out;
    EXPECT_TRUE(ircd.wait_received(1, "JOIN #handed\r\n", SHORT_MS)) << trace();
    EXPECT_EQ(ircd.lines().back().conn, 1) << "the running instance joined, nobody connected again\n" << trace();

    text_client command(second, bus_env(), {"--existing", "--command", "echo handed over command"});
    EXPECT_EQ(command.finish(EXIT_MS).exit_code, 0);
    EXPECT_TRUE(client->wait_shown("handed over command", SHORT_MS)) << trace();
    quit_client();
}

// ---- the ident responder ------------------------------------------------------------

// A free TCP port on both loopback addresses, as the kernel would pick it.
int free_port()
{
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_any;
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    close(fd);
    return ntohs(addr.sin6_port);
}

int dial(const char *host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *ai = nullptr;
    if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &ai) != 0)
        return -1;
    int fd = socket(ai->ai_family, SOCK_STREAM, 0);
    if (fd >= 0 && connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        close(fd);
        fd = -1;
    }
    freeaddrinfo(ai);
    return fd;
}

// Everything the peer sends until it closes; "(open)" appended when it
// was still open at the deadline.
std::string read_all(int fd, int timeout_ms)
{
    std::string got;
    const gint64 deadline = g_get_monotonic_time() + gint64{timeout_ms} * 1000;
    for (;;) {
        const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            return got + "(open)";
        char buf[256];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return got;
        got.append(buf, static_cast<std::size_t>(n));
    }
}

std::string query(const char *host, int port, const std::string &request)
{
    const int fd = dial(host, port);
    if (fd < 0)
        return "(no connection)";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string got = read_all(fd, SHORT_MS);
    close(fd);
    return got;
}

TEST_F(BuiltinsTest, IdentAnswersRegisteredPortsOnceWithinLimits)
{
    const int port = free_port();
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start({"identd_server 1", "identd_port " + std::to_string(port)}));
    ASSERT_NO_FATAL_FAILURE(run("/identd 5001 carol"));
    const int idle = dial("127.0.0.1", port);
    ASSERT_GE(idle, 0) << trace();
    const gint64 idle_since = g_get_monotonic_time();

    ASSERT_NO_FATAL_FAILURE(run("/identd 5000 bob"));
    EXPECT_EQ(query("127.0.0.1", port, "5000, 6667\r\n"), "5000, 6667 : USERID : UNIX : bob\r\n");
    EXPECT_TRUE(client->wait_shown("Servicing ident request from 127.0.0.1 as bob", SHORT_MS)) << trace();
    // Used once, then gone.
    EXPECT_EQ(query("127.0.0.1", port, "5000, 6667\r\n"), "5000, 6667 : ERROR : NO-USER\r\n");
    // Any C base for the port; IPv6 too.
    ASSERT_NO_FATAL_FAILURE(run("/identd 0x1388 dave"));
    EXPECT_EQ(query("::1", port, "5000 ,113\r\n"), "5000, 113 : USERID : UNIX : dave\r\n");
    EXPECT_EQ(query("127.0.0.1", port, "0, 70000\r\n"), "0, 65535 : ERROR : INVALID-PORT\r\n");
    EXPECT_EQ(query("127.0.0.1", port, "5001\r\n"), "");

    // A megabyte without a line end is cut off, unanswered.
    const int flood = dial("127.0.0.1", port);
    ASSERT_GE(flood, 0);
    const std::string mega(1 << 20, '7');
    std::size_t sent = 0;
    while (sent < mega.size()) {
        const ssize_t n = send(flood, mega.data() + sent, mega.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(read_all(flood, SHORT_MS), "");
    close(flood);

    // An idle connection is dropped after 30 seconds, and so is the entry
    // registered before it.
    const std::string idle_got = read_all(idle, 40000);
    const gint64 idle_ms = (g_get_monotonic_time() - idle_since) / 1000;
    close(idle);
    EXPECT_EQ(idle_got, "");
    EXPECT_GE(idle_ms, 25000);
    EXPECT_EQ(query("127.0.0.1", port, "5001, 6667\r\n"), "5001, 6667 : ERROR : NO-USER\r\n");
    EXPECT_EQ(client->count_shown("as carol"), 0) << trace();
    quit_client();
}

// ---- /TIMER ------------------------------------------------------------------------------

int lines_with(const scripted_server &ircd, const std::string &text, std::vector<int> *times = nullptr)
{
    int n = 0;
    for (const received_line &l : ircd.lines()) {
        if (l.bytes != text)
            continue;
        n++;
        if (times)
            times->push_back(l.ms);
    }
    return n;
}

TEST_F(BuiltinsTest, TimersRepeatCountedOrUntilDeleted)
{
    ASSERT_NO_FATAL_FAILURE(start({QUICK_SUCCESSION}));
    ASSERT_NO_FATAL_FAILURE(connect_and_join());

    ASSERT_NO_FATAL_FAILURE(run("/timer 0.05 quote TOOSOON"));
    ASSERT_NO_FATAL_FAILURE(run("/timer 1.5"));
    EXPECT_EQ(client->count_shown("Usage: TIMER [-refnum <num>]"), 2) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/timer -quiet -delete 99"));
    EXPECT_EQ(client->count_shown("No such ref number found."), 0) << trace();

    ASSERT_NO_FATAL_FAILURE(run("/timer -repeat 3 0.3 quote COUNTED"));
    ASSERT_NO_FATAL_FAILURE(run("/timer -refnum 7 -repeat 0 0.2 quote FOREVER"));
    ASSERT_NO_FATAL_FAILURE(run("/timer"));
    // The repeats left may already have gone down on a slow machine.
    EXPECT_EQ(client->count_shown("    1      0.3       "), 1) << trace();
    EXPECT_EQ(client->count_shown("  quote COUNTED\n"), 1) << trace();
    EXPECT_EQ(client->count_shown("    7      0.2       0  quote FOREVER"), 1) << trace();

    ASSERT_TRUE(ircd.wait_lines(
        [](const std::vector<received_line> &lines) {
            int n = 0;
            for (const received_line &l : lines)
                n += l.bytes == "FOREVER\r\n";
            return n >= 5;
        },
        10000))
        << trace();
    ASSERT_NO_FATAL_FAILURE(run("/timer -delete 7"));
    EXPECT_EQ(client->count_shown("Timer 7 deleted."), 1) << trace();
    const int forever = lines_with(ircd, "FOREVER\r\n");
    client->settle(1200);
    EXPECT_EQ(lines_with(ircd, "FOREVER\r\n"), forever) << "runs on after its deletion\n" << trace();

    std::vector<int> times;
    EXPECT_EQ(lines_with(ircd, "COUNTED\r\n", &times), 3) << trace();
    for (std::size_t i = 1; i < times.size(); i++)
        EXPECT_GE(times[i] - times[i - 1], 250) << trace();
    EXPECT_EQ(lines_with(ircd, "TOOSOON\r\n"), 0) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/timer"));
    EXPECT_EQ(client->count_shown("No timers installed."), 1) << trace();
    quit_client();
}

} // namespace
} // namespace connect_test
