// End-to-end runs of lumenwick-text: what a user at a terminal would see,
// and the files left in the configuration directory.
#include "process_runner.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace
{

const std::string client = LUMENWICK_TEXT_BINARY;

// Generous for a start-up and a shutdown on a loaded machine, short enough
// that a hang fails the test instead of the whole run.
constexpr int RUN_TIMEOUT_MS = 20000;
constexpr uid_t NOBODY_ID = 65534;

std::string read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool has_line(const std::string &text, const std::string &line)
{
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (l == line)
            return true;
    return false;
}

class TextClient : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char *made = g_dir_make_tmp("lumenwick-it-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        root_ = made;
        g_free(made);
        // Traversable for the unprivileged user of the permission test.
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
        fs::create_directories(root_ / "home");
        fs::create_directories(root_ / "xdg-config");
        fs::create_directories(root_ / "xdg-data");
        fs::create_directories(root_ / "xdg-cache");
    }

    void TearDown() override
    {
        std::error_code ec;
        for (const auto &entry : fs::recursive_directory_iterator(root_, ec))
            if (entry.is_directory(ec))
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }

    // A private home and desktop directories, no display and no session bus:
    // the client must never touch the real user's files.
    run_options options(std::vector<std::string> args) const
    {
        run_options o;
        o.args = std::move(args);
        o.set_env = {{"HOME", (root_ / "home").string()},
                     {"XDG_CONFIG_HOME", (root_ / "xdg-config").string()},
                     {"XDG_DATA_HOME", (root_ / "xdg-data").string()},
                     {"XDG_CACHE_HOME", (root_ / "xdg-cache").string()},
                     {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (root_ / "no-bus").string()},
                     {"LC_ALL", "C"},
                     {"LANG", "C"}};
        o.unset_env = {"DISPLAY", "WAYLAND_DISPLAY", "LANGUAGE"};
        return o;
    }

    run_result run(std::vector<std::string> args, std::string_view input = "")
    {
        return run_program(client, options(std::move(args)), input, RUN_TIMEOUT_MS);
    }

    fs::path dir(const std::string &name) const { return root_ / name; }

    fs::path root_;
};

TEST_F(TextClient, SetFromStandardInputIsShownAndSavedPrivately)
{
    const fs::path cfg = dir("cfg");
    const run_result r = run({"-d", cfg.string()}, "/set irc_nick1 tester\n");

    ASSERT_FALSE(r.timed_out) << r.out << r.err;
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("\tirc_nick1 set to: tester (was: "), std::string::npos) << r.out;
    EXPECT_TRUE(has_line(read_file(cfg / "lumenwick.conf"), "irc_nick1 = tester"));
    struct stat st {
    };
    ASSERT_EQ(stat((cfg / "lumenwick.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(TextClient, VersionPrintsNameAndVersionOnly)
{
    const run_result r = run({"--version"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "lumenwick 2.19.1\n");
    EXPECT_EQ(run({"-v"}).out, "lumenwick 2.19.1\n");
}

TEST_F(TextClient, DirectoryOptionsPrintTheConfigDirectoryWithTrailingSlash)
{
    const std::string cfg = dir("cfg").string();

    EXPECT_EQ(run({"-d", cfg, "-u"}).out, cfg + "/\n");
    EXPECT_EQ(run({"-d", cfg, "-p"}).out, cfg + "/addons/\n");
    EXPECT_EQ(run({"-d", cfg + "/", "-u"}).out, cfg + "/\n") << "one trailing slash is dropped";
    EXPECT_EQ(run({"--cfgdir=" + cfg, "--configdir"}).out, cfg + "/\n");
    EXPECT_EQ(run({"--cfgdir", cfg, "--plugindir"}).out, cfg + "/addons/\n");
    EXPECT_EQ(run({"-d", cfg, "-d", dir("other").string(), "-u"}).out, cfg + "/\n") << "the first -d wins";
    EXPECT_EQ(run({"-u"}).out, (root_ / "xdg-config" / "lumenwick").string() + "/\n")
        << "without -d the desktop's configuration directory is used";

    const run_result both = run({"-d", cfg, "-u", "--version"});
    EXPECT_EQ(both.out, "lumenwick 2.19.1\n") << "--version wins over --configdir";
    EXPECT_EQ(both.exit_code, 0);
}

TEST_F(TextClient, UnknownOptionPrintsTheParserMessageAndExitsWithOne)
{
    const run_result r = run({"-d", dir("cfg").string(), "--no-such-option"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("--no-such-option"), std::string::npos) << r.out;
}

TEST_F(TextClient, FirstStartCreatesTheConfigTreeAndOffersANetworkList)
{
    const fs::path cfg = root_ / "xdg-config" / "lumenwick";
    ASSERT_FALSE(fs::exists(cfg));

    const run_result r = run({});

    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(cfg / "addons"));
    EXPECT_TRUE(fs::is_directory(cfg / "sounds"));
    EXPECT_TRUE(has_line(r.out, "Networks:")) << r.out;
    EXPECT_TRUE(fs::exists(cfg / "lumenwick.conf")) << "the settings are saved at exit";
}

TEST_F(TextClient, GarbageSettingsFileStillStartsAndKeepsTheReadableValues)
{
    const fs::path cfg = dir("cfg");
    fs::create_directories(cfg);
    {
        std::ofstream conf(cfg / "lumenwick.conf", std::ios::binary);
        conf << "\x01\x02\xff\xfe not a setting\n"
             << "irc_nick2 = fromfile\n"
             << "=====\n"
             << "irc_nick3\n"
             << std::string(20000, 'x') << "\n"
             << "gui_win_height = notanumber\n"
             << std::string("\0\0\0 binary", 10) << "\n";
    }

    const run_result r = run({"-d", cfg.string()}, "/set irc_nick2\n/set irc_nick1 tester\n");

    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("irc_nick2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(": fromfile"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("irc_nick1 set to: tester"), std::string::npos) << r.out;
    EXPECT_TRUE(has_line(read_file(cfg / "lumenwick.conf"), "irc_nick1 = tester"));
}

TEST_F(TextClient, UnwritableConfigDirectoryIsReportedAndTheClientStillRuns)
{
    const fs::path cfg = dir("readonly");
    fs::create_directories(cfg);
    if (geteuid() == 0) {
        // Root may write anywhere; the run switches to "nobody", which needs
        // to own the directory and a home of its own to write to.
        ASSERT_EQ(chown(cfg.c_str(), NOBODY_ID, NOBODY_ID), 0);
        ASSERT_EQ(chown((root_ / "home").c_str(), NOBODY_ID, NOBODY_ID), 0);
    }
    fs::permissions(cfg, fs::perms::owner_read | fs::perms::owner_exec);

    run_options o = options({"-d", cfg.string()});
    o.drop_root = true;
    const run_result r = run_program(client, o, "/set irc_nick1 tester\n", RUN_TIMEOUT_MS);

    ASSERT_FALSE(r.timed_out);
    ASSERT_NE(r.exit_code, 126) << "could not switch to the unprivileged user";
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("lumenwick: You do not have write access to " + cfg.string() +
                         ". Nothing from this session can be saved."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("irc_nick1 set to: tester"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(cfg / "lumenwick.conf"));
}

TEST_F(TextClient, LinesAreShownAsTypedAndSigtermQuitsInOrder)
{
    const fs::path cfg = dir("cfg");
    child_process c(client, options({"-d", cfg.string()}));
    ASSERT_TRUE(c.started()) << c.start_error();

    // Standard input stays open: the answer must arrive because output is
    // flushed per line, not because the client quit.
    ASSERT_TRUE(c.write("/set irc_nick1 first\n"));
    ASSERT_TRUE(c.wait_for_output("irc_nick1 set to: first", 10000)) << c.out() << c.err();
    ASSERT_TRUE(c.write("/set irc_nick2 second\n"));
    ASSERT_TRUE(c.wait_for_output("irc_nick2 set to: second", 10000)) << c.out() << c.err();

    c.send_signal(SIGTERM);
    const run_result r = c.finish(RUN_TIMEOUT_MS);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string conf = read_file(cfg / "lumenwick.conf");
    EXPECT_TRUE(has_line(conf, "irc_nick1 = first"));
    EXPECT_TRUE(has_line(conf, "irc_nick2 = second"));
}

TEST_F(TextClient, InputLineEndsAndInvalidBytesAreTolerated)
{
    const fs::path cfg = dir("cfg");
    // CR LF ends a line like LF; invalid UTF-8 becomes U+FFFD; the last
    // line needs no line end; empty lines do nothing.
    const run_result r = run({"-d", cfg.string()}, "/set irc_nick1 crlf\r\n\n\n/set irc_real_name ab\xff"
                                                   "cd\n/set irc_nick2 last");

    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string conf = read_file(cfg / "lumenwick.conf");
    EXPECT_TRUE(has_line(conf, "irc_nick1 = crlf")) << conf;
    EXPECT_TRUE(has_line(conf, "irc_real_name = ab\xEF\xBF\xBD"
                               "cd"))
        << conf;
    EXPECT_TRUE(has_line(conf, "irc_nick2 = last")) << conf;
    EXPECT_TRUE(g_utf8_validate(r.out.data(), static_cast<gssize>(r.out.size()), nullptr));
}

} // namespace
