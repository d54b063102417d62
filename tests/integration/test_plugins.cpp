// C plugins in lumenwick-text against the scripted server: the test builds
// tests/integration/plugins/probe.c and the example plugin with the system C
// compiler against the plugin header alone, loads them (auto-load and /LOAD),
// and checks what the user sees and what reaches the server.
#include "connect_fixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <regex>

namespace connect_test
{
namespace
{

namespace fs = std::filesystem;

constexpr const char *SERVER = ":irc.test ";
constexpr const char *ME = "tester!tuser@client.test";
// Timers of 100-150 ms, a few rounds; generous for sanitizer builds.
constexpr int TIMER_MS = 3000;

// Compiles `source` into `out` with cc against a directory holding only
// the plugin header; an error text, empty on success.
std::string build_plugin(const fs::path &source, const fs::path &out, const std::vector<std::string> &defines = {})
{
    const fs::path include = out.parent_path() / "include";
    fs::create_directories(include);
    fs::copy_file(LUMENWICK_PLUGIN_HEADER, include / "lumenwick-plugin.h", fs::copy_options::overwrite_existing);
    std::vector<std::string> argv = {
        "cc",      "-std=c99", "-D_POSIX_C_SOURCE=200809L", "-Wall", "-Wextra",    "-Werror",
        "-shared", "-fPIC",    "-I" + include.string(),     "-o",    out.string(), source.string()};
    for (const std::string &d : defines)
        argv.insert(argv.begin() + 1, "-D" + d);
    std::vector<char *> args;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    gchar *err = nullptr;
    gint status = 0;
    GError *error = nullptr;
    if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, &err, &status,
                      &error)) {
        std::string text = error->message;
        g_error_free(error);
        return text;
    }
    std::string text = err ? err : "";
    g_free(err);
    return g_spawn_check_wait_status(status, nullptr) ? "" : "cc failed:\n" + text;
}

class PluginsTest : public ConnectTest
{
  protected:
    void SetUp() override
    {
        ConnectTest::SetUp();
        ASSERT_TRUE(ircd.ok()) << ircd.transcript();
    }

    fs::path plugin_dir() const { return lab.dir() / "plugins"; }
    fs::path addons() const { return lab.dir() / "client" / "cfg" / "addons"; }

    void connect()
    {
        ASSERT_TRUE(client->type("/server -insecure 127.0.0.1 " + std::to_string(ircd.port())));
        ASSERT_TRUE(ircd.wait_received(1, "\r\nUSER ", SHORT_MS)) << trace();
        ASSERT_TRUE(ircd.send(std::string(SERVER) + "001 tester :Welcome to the scripted net " + ME + "\r\n" + SERVER +
                              "376 tester :End of /MOTD command.\r\n"));
        ASSERT_TRUE(client->wait_shown("Welcome to the scripted net", SHORT_MS)) << trace();
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

    int shown(const std::string &text) const { return client->count_shown(text); }
    std::size_t where(const std::string &text) const { return client->out().find(text); }

    std::string trace() const { return context() + "--- server:\n" + ircd.transcript(); }

    scripted_server ircd;
    int syncs_ = 0;
};

TEST_F(PluginsTest, ProbeHooksEatInPriorityOrderAndSurvivesUnhooksAndUnloads)
{
    fs::create_directories(addons());
    ASSERT_EQ(build_plugin(LUMENWICK_PROBE_SOURCE, addons() / "probe.so"), "");
    // The marker settings keep the sync echoes of run() out of the probe's
    // ECHO hooks' way: they print only their first word.
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    ASSERT_TRUE(client->wait_shown("probe loaded arg=(none)", SHORT_MS)) << "auto-load\n" << trace();
    ASSERT_NO_FATAL_FAILURE(connect());

    // Priority 10 first, then the two of priority 0, the later-hooked first.
    ASSERT_NO_FATAL_FAILURE(run("/echo order z1"));
    EXPECT_EQ(shown("order z1"), 1) << trace();
    EXPECT_LT(where("echo-hook C order"), where("echo-hook B order")) << trace();
    EXPECT_LT(where("echo-hook B order"), where("echo-hook A order")) << trace();
    EXPECT_NE(where("echo-hook A order"), std::string::npos) << trace();
    // Eating from later hooks only: the program still runs the command.
    ASSERT_NO_FATAL_FAILURE(run("/echo eatplugins z2"));
    EXPECT_EQ(shown("echo-hook A eatplugins"), 0) << trace();
    EXPECT_EQ(shown("eatplugins z2"), 1) << trace();
    // Eating from the program only: the later hooks still see it.
    ASSERT_NO_FATAL_FAILURE(run("/echo eatprogram z3"));
    EXPECT_EQ(shown("echo-hook A eatprogram"), 1) << trace();
    EXPECT_EQ(shown("eatprogram z3"), 0) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/echo eatall z4"));
    EXPECT_EQ(shown("echo-hook A eatall"), 0) << trace();
    EXPECT_EQ(shown("eatall z4"), 0) << trace();

    // A hook that unhooks itself is not called again; the walk goes on.
    ASSERT_NO_FATAL_FAILURE(run("/selfun"));
    ASSERT_NO_FATAL_FAILURE(run("/selfun"));
    EXPECT_EQ(shown("selfun S1"), 1) << trace();
    EXPECT_EQ(shown("selfun S2"), 2) << trace();

    // The next hook of the walk unhooked, then nested emits end: the outer
    // walk skips it and reaches the one after.
    ASSERT_NO_FATAL_FAILURE(run("/nest"));
    EXPECT_EQ(shown("nest N1"), 1) << trace();
    EXPECT_EQ(shown("nest inner"), 2) << trace();
    EXPECT_EQ(shown("nest N2"), 0) << trace();
    EXPECT_EQ(shown("nest N3"), 1) << trace();

    // A server hook eats a line before any event; a print hook eats the event.
    ASSERT_TRUE(ircd.send(":alice!a@a.example PRIVMSG tester :please eatserver\r\n"
                          ":alice!a@a.example PRIVMSG tester :please hideprint\r\n"
                          ":alice!a@a.example PRIVMSG tester :plainly visible\r\n"));
    ASSERT_TRUE(client->wait_shown("plainly visible", SHORT_MS)) << trace();
    EXPECT_EQ(shown("server-hook ate a line"), 1) << trace();
    EXPECT_EQ(shown("print-hook ate Private Message"), 1) << trace();
    EXPECT_EQ(shown("please eatserver"), 0) << trace();
    EXPECT_EQ(shown("please hideprint"), 0) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/pt raw"));
    std::smatch m;
    const std::string out = client->out();
    ASSERT_TRUE(std::regex_search(out, m, std::regex("raw lines=(\\d+)"))) << trace();
    EXPECT_GE(std::stoi(m[1]), 5) << "every line reaches RAW LINE\n" << trace();

    // Timers: once on 0, three times until it unhooks itself; the descriptor
    // watch ends when its callback returns 0.
    ASSERT_TRUE(client->wait_shown("timer repeat 3", TIMER_MS)) << trace();
    ASSERT_TRUE(client->wait_shown("fd read x flags 1", TIMER_MS)) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/pt fdwrite"));
    client->settle(500);
    EXPECT_EQ(shown("timer once"), 1) << trace();
    EXPECT_EQ(shown("timer repeat"), 3) << trace();
    EXPECT_EQ(shown("fd read"), 1) << trace();

    ASSERT_NO_FATAL_FAILURE(run("/pt info"));
    EXPECT_EQ(shown("info version=2.19.1"), 1) << trace();
    EXPECT_EQ(shown("info nick=tester "), 1) << trace();
    EXPECT_EQ(shown("info event_text same=1 nonempty=1"), 1) << trace();
    EXPECT_EQ(shown("info unknown=none"), 1) << trace();
    EXPECT_EQ(shown("info configdir=" + client->config_dir().string() + "\n"), 1) << trace();
    EXPECT_EQ(shown("prefs irc_nick1 type=1 value=tester\n"), 1) << trace();
    EXPECT_EQ(shown("prefs text_max_lines type=2 "), 1) << trace();
    EXPECT_TRUE(shown("prefs irc_auto_rejoin type=3 value=0\n") + shown("prefs irc_auto_rejoin type=3 value=1\n") == 1)
        << trace();
    EXPECT_EQ(shown("prefs unknown type=0"), 1) << trace();

    ASSERT_NO_FATAL_FAILURE(run("/pt lists"));
    EXPECT_GE(shown("list channel="), 1) << trace();
    EXPECT_GE(shown(" type=1\n"), 1) << "the server tab is listed\n" << trace();
    EXPECT_EQ(shown("list names=channels,dcc,ignore,notify,users"), 1) << trace();
    EXPECT_EQ(shown("list unknown=none"), 1) << trace();

    // Preferences: escapes and UTF-8 survive; a 2,000-byte value stays one
    // line through later rewrites, and is read back cut to the buffer.
    ASSERT_NO_FATAL_FAILURE(run("/pt prefs"));
    EXPECT_EQ(shown("pref greeting same=1"), 1) << trace();
    EXPECT_EQ(shown("pref long len=511"), 1) << trace();
    EXPECT_EQ(shown("pref ints count=43 zero=0 word=-1 missing=-1"), 1) << trace();
    EXPECT_EQ(shown("pref list=greeting,long,count,zero,\n"), 1) << trace();
    const fs::path prefs_file = client->config_dir() / "addon_probe_plugin_.conf";
    const std::string prefs = lab.file("client/cfg/addon_probe_plugin_.conf");
    EXPECT_NE(prefs.find("\nlong = " + std::string(2000, 'x') + "\n"), std::string::npos) << prefs;
    EXPECT_EQ(prefs.find("count = 42"), std::string::npos) << prefs;
    struct stat st {
    };
    ASSERT_EQ(stat(prefs_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(prefs_file.string() + ".new"));

    // A command hook eats the command before the server sees it; its help
    // text is what /HELP shows.
    ASSERT_NO_FATAL_FAILURE(run("/probeonly"));
    EXPECT_EQ(shown("probeonly eaten"), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/help probeonly"));
    EXPECT_EQ(shown("PROBEONLY: eaten by the probe"), 1) << trace();

    // A refusing deinit keeps it loaded, hooks and all.
    ASSERT_NO_FATAL_FAILURE(run("/unload probe.so"));
    EXPECT_EQ(shown("That plugin is refusing to unload."), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/probeonly"));
    EXPECT_EQ(shown("probeonly eaten"), 2) << trace();

    // Unloaded from inside its own callback: it keeps running until it
    // returns, and then nothing of it answers any more.
    ASSERT_NO_FATAL_FAILURE(run("/pt allowunload"));
    ASSERT_NO_FATAL_FAILURE(run("/pt selfunload"));
    EXPECT_EQ(shown("still running after unload"), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/probeonly"));
    EXPECT_TRUE(ircd.wait_received(1, "probeonly\r\n", SHORT_MS)) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/echo after z9"));
    EXPECT_EQ(shown("echo-hook C after"), 0) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/unload probe.so"));
    EXPECT_EQ(shown("No such plugin found."), 1) << trace();

    const run_result r = client->finish(EXIT_MS);
    EXPECT_FALSE(r.timed_out) << trace();
    EXPECT_EQ(r.exit_code, 0) << trace();
}

TEST_F(PluginsTest, AFailedLoadLeavesNothingBehindAndTheExampleLoads)
{
    fs::create_directories(plugin_dir());
    ASSERT_EQ(build_plugin(LUMENWICK_PROBE_SOURCE, plugin_dir() / "fail.so", {"PROBE_FAIL"}), "");
    ASSERT_EQ(build_plugin(LUMENWICK_EXAMPLE_SOURCE, plugin_dir() / "hello.so"), "");
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    ASSERT_NO_FATAL_FAILURE(connect());

    // Its init hooked a command and a timer and added a list entry, then
    // returned 0: the user is told, and none of it is left.
    ASSERT_NO_FATAL_FAILURE(run("/load " + (plugin_dir() / "fail.so").string()));
    EXPECT_EQ(shown("fail.so: the plugin failed to initialise."), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/failcmd"));
    EXPECT_TRUE(ircd.wait_received(1, "failcmd\r\n", SHORT_MS)) << trace();
    client->settle(300);
    EXPECT_EQ(shown("fail timer fired"), 0) << trace();
    EXPECT_EQ(shown("failcmd hook ran"), 0) << trace();

    ASSERT_NO_FATAL_FAILURE(run("/load " + (plugin_dir() / "missing.so").string()));
    EXPECT_GE(client->count_shown_nocase("missing.so: cannot open shared object file"), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/load " + (plugin_dir() / "hello.c").string()));
    EXPECT_EQ(shown("Unknown file type"), 1) << trace();

    // The example keeps its counter in its preference file at unload.
    ASSERT_NO_FATAL_FAILURE(run("/load " + (plugin_dir() / "hello.so").string()));
    EXPECT_EQ(shown("Hello plugin loaded"), 1) << trace();
    ASSERT_TRUE(ircd.send(":alice!a@a.example JOIN #c\r\n:" + std::string(ME) + " JOIN #c\r\n" +
                          ":alice!a@a.example PRIVMSG #c :msgone\r\n:alice!a@a.example PRIVMSG #c :msgtwo\r\n"));
    ASSERT_TRUE(client->wait_shown("msgtwo", SHORT_MS)) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/hello bob"));
    EXPECT_EQ(shown("Hello bob! 2 channel messages seen so far."), 1) << trace();
    ASSERT_NO_FATAL_FAILURE(run("/unload hello.so"));
    EXPECT_NE(lab.file("client/cfg/addon_hello.conf").find("messages = 2\n"), std::string::npos) << trace();

    const run_result r = client->finish(EXIT_MS);
    EXPECT_FALSE(r.timed_out) << trace();
    EXPECT_EQ(r.exit_code, 0) << trace();
}

} // namespace
} // namespace connect_test
