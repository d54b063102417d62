#include "harness.h"

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace
{

const std::string harness_dir = LUMENWICK_HARNESS_DIR;
const std::string client_binary = LUMENWICK_TEXT_BINARY;

// A script starts at most a few daemons, each waited for at most a few seconds.
constexpr int SCRIPT_TIMEOUT_MS = 60000;

std::string python()
{
    // Debian's interpreter when present: a version manager's shim on PATH starts slowly.
    if (g_file_test("/usr/bin/python3", G_FILE_TEST_IS_EXECUTABLE))
        return "/usr/bin/python3";
    char *found = g_find_program_in_path("python3");
    std::string path = found ? found : "python3";
    g_free(found);
    return path;
}

char fold(char c)
{
    return static_cast<char>(g_ascii_tolower(c));
}

} // namespace

int count_in(std::string_view haystack, std::string_view needle, bool ignore_case)
{
    if (needle.empty())
        return 0;
    int n = 0;
    auto same = [&](char a, char b) { return ignore_case ? fold(a) == fold(b) : a == b; };
    for (auto it = haystack.begin();;) {
        it = std::search(it, haystack.end(), needle.begin(), needle.end(), same);
        if (it == haystack.end())
            return n;
        ++n;
        it += static_cast<std::ptrdiff_t>(needle.size());
    }
}

std::string printable(std::string_view bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            g_snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

// ---- test_lab -------------------------------------------------------------------

test_lab::test_lab()
{
    char *made = g_dir_make_tmp("lumenwick-lab-XXXXXX", nullptr);
    if (!made)
        return;
    dir_ = made;
    g_free(made);
    // Tells the watchdog that the directory goes with the test process.
    std::ofstream(dir_ / ".remove-with-owner") << "";

    // The watchdog outlives a test process killed by a time-out and stops what
    // the scripts started; its own session keeps it out of a signal sent to
    // the test's process group.
    const std::string script = harness_dir + "/watchdog.sh";
    const std::string owner = std::to_string(getpid());
    const std::string dir = dir_.string();
    char *argv[] = {const_cast<char *>("/bin/bash"), const_cast<char *>(script.c_str()),
                    const_cast<char *>(dir.c_str()), const_cast<char *>(owner.c_str()), nullptr};
    GError *error = nullptr;
    GPid pid = 0;
    if (g_spawn_async(
            nullptr, argv, nullptr,
            static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                     G_SPAWN_STDERR_TO_DEV_NULL),
            [](gpointer) { setsid(); }, nullptr, &pid, &error)) {
        watchdog_ = pid;
    } else {
        log_ += std::string("cannot start the watchdog: ") + (error ? error->message : "?") + "\n";
        if (error)
            g_error_free(error);
    }
}

test_lab::~test_lab()
{
    if (dir_.empty())
        return;
    if (watchdog_ > 0) {
        kill(watchdog_, SIGTERM);
        waitpid(watchdog_, nullptr, 0);
    }
    run_options o;
    o.args = {harness_dir + "/harness-down.sh", dir_.string()};
    run_program("/bin/bash", o, "", SCRIPT_TIMEOUT_MS);
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

bool test_lab::script(const std::string &name, const std::vector<std::string> &args, const env_list &env)
{
    if (dir_.empty())
        return false;
    run_options o;
    o.args = {harness_dir + "/" + name, dir_.string()};
    o.args.insert(o.args.end(), args.begin(), args.end());
    o.set_env = env;
    const run_result r = run_program("/bin/bash", o, "", SCRIPT_TIMEOUT_MS);
    log_ += "$ " + name;
    for (const std::string &a : args)
        log_ += " " + a;
    log_ += "\n" + r.out + r.err;
    if (r.timed_out)
        log_ += "(timed out)\n";
    return r.exit_code == 0;
}

int test_lab::port(const std::string &name) const
{
    const std::string text = file("ports/" + name);
    return text.empty() ? 0 : std::atoi(text.c_str());
}

std::string test_lab::file(const std::string &relative) const
{
    std::ifstream in(dir_ / relative, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// ---- scripted_server --------------------------------------------------------------

scripted_server::scripted_server()
{
    run_options o;
    o.args = {harness_dir + "/scripted-ircd.py"};
    proc_ = std::make_unique<child_process>(python(), o);
    if (!proc_->started())
        return;
    if (!proc_->wait_for([](const std::string &out) { return out.find('\n') != std::string::npos; }, 10000))
        return;
    if (proc_->out().rfind("LISTEN ", 0) == 0)
        port_ = std::atoi(proc_->out().c_str() + 7);
}

int scripted_server::count_events(std::string_view prefix) const
{
    int n = 0;
    std::istringstream in(proc_->out());
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            ++n;
    return n;
}

bool scripted_server::wait_accepted(int n, int timeout_ms)
{
    return proc_->wait_for([&](const std::string &) { return count_events("ACCEPT ") >= n; }, timeout_ms);
}

std::vector<received_line> scripted_server::lines() const
{
    std::vector<received_line> result;
    std::istringstream in(proc_->out());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("LINE ", 0) != 0)
            continue;
        std::istringstream words(line.substr(5));
        received_line r;
        std::string hex;
        words >> r.conn >> r.ms >> hex;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            r.bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        result.push_back(std::move(r));
    }
    return result;
}

std::string scripted_server::received(int conn) const
{
    std::string all;
    for (const received_line &l : lines())
        if (l.conn == conn)
            all += l.bytes;
    return all;
}

bool scripted_server::wait_lines(const std::function<bool(const std::vector<received_line> &)> &done, int timeout_ms)
{
    return proc_->wait_for([&](const std::string &) { return done(lines()); }, timeout_ms);
}

bool scripted_server::wait_received(int conn, std::string_view needle, int timeout_ms)
{
    return proc_->wait_for([&](const std::string &) { return received(conn).find(needle) != std::string::npos; },
                           timeout_ms);
}

bool scripted_server::wait_closed(int conn, int timeout_ms)
{
    const std::string n = std::to_string(conn);
    return proc_->wait_for(
        [&](const std::string &) {
            std::istringstream in(proc_->out());
            for (std::string line; std::getline(in, line);)
                for (const char *event : {"EOF ", "CLOSED "})
                    if (line == event + n || line.rfind(event + n + " ", 0) == 0)
                        return true;
            return false;
        },
        timeout_ms);
}

bool scripted_server::command(const std::string &line, const std::string &reply_prefix)
{
    const int before = count_events(reply_prefix);
    if (!proc_->write(line + "\n"))
        return false;
    // Sending in pieces with delays takes as long as the pieces need; the bound
    // covers the longest script a test uses.
    return proc_->wait_for([&](const std::string &) { return count_events(reply_prefix) > before; }, 20000);
}

bool scripted_server::send(std::string_view bytes, int chunk, int delay_ms)
{
    std::string hex;
    for (unsigned char c : bytes) {
        char buf[3];
        g_snprintf(buf, sizeof buf, "%02x", c);
        hex += buf;
    }
    if (chunk > 0)
        return command("split " + std::to_string(chunk) + " " + std::to_string(delay_ms) + " " + hex, "SENT ");
    return command("send " + hex, "SENT ");
}

bool scripted_server::hang_up()
{
    return command("close", "CLOSED ");
}

// ---- text_client --------------------------------------------------------------------

text_client::text_client(const fs::path &root, const env_list &extra_env, const std::vector<std::string> &extra_args)
{
    for (const char *sub : {"home", "xdg-config", "xdg-data", "xdg-cache", "cfg"})
        fs::create_directories(root / sub);
    config_ = root / "cfg";
    run_options o;
    o.args = {"-d", config_.string()};
    o.args.insert(o.args.end(), extra_args.begin(), extra_args.end());
    // A private home and desktop directories, no display and no session bus: the
    // client must never touch the real user's files.
    o.set_env = {{"HOME", (root / "home").string()},
                 {"XDG_CONFIG_HOME", (root / "xdg-config").string()},
                 {"XDG_DATA_HOME", (root / "xdg-data").string()},
                 {"XDG_CACHE_HOME", (root / "xdg-cache").string()},
                 {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (root / "no-bus").string()},
                 {"LC_ALL", "C"},
                 {"LANG", "C"}};
    o.set_env.insert(o.set_env.end(), extra_env.begin(), extra_env.end());
    // No proxy from the environment may route the test's connections elsewhere.
    o.unset_env = {"DISPLAY",    "WAYLAND_DISPLAY", "LANGUAGE",  "http_proxy", "https_proxy", "all_proxy",
                   "HTTP_PROXY", "HTTPS_PROXY",     "ALL_PROXY", "no_proxy",   "NO_PROXY"};
    proc_ = std::make_unique<child_process>(client_binary, o);
}

bool text_client::type(const std::string &line)
{
    return proc_->write(line + "\n");
}

bool text_client::wait_shown(std::string_view text, int timeout_ms, int times)
{
    return proc_->wait_for([&](const std::string &out) { return count_in(out, text) >= times; }, timeout_ms);
}

bool text_client::wait_shown_nocase(std::string_view text, int timeout_ms, int times)
{
    return proc_->wait_for([&](const std::string &out) { return count_in(out, text, true) >= times; }, timeout_ms);
}

bool text_client::wait_err(std::string_view text, int timeout_ms)
{
    return proc_->wait_for([&](const std::string &) { return proc_->err().find(text) != std::string::npos; },
                           timeout_ms);
}

void text_client::settle(int ms)
{
    proc_->wait_for([](const std::string &) { return false; }, ms);
}

int text_client::count_shown(std::string_view text) const
{
    return count_in(out(), text);
}

int text_client::count_shown_nocase(std::string_view text) const
{
    return count_in(out(), text, true);
}
