// Real peers on 127.0.0.1 for end-to-end connection tests: InspIRCd, proxies, TLS
// endpoints and a scripted IRC server, started and stopped through the scripts of
// tests/harness, plus lumenwick-text itself with a private home. Every wait has a
// deadline; whatever a test starts is stopped by a destructor, and by a watchdog
// script when the test process is killed before destructors can run.
#pragma once

#include "process_runner.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using env_list = std::vector<std::pair<std::string, std::string>>;

// One private directory with the harness's servers in it. The destructor stops
// everything the scripts started there and removes the directory.
class test_lab
{
  public:
    test_lab();
    ~test_lab();
    test_lab(const test_lab &) = delete;
    test_lab &operator=(const test_lab &) = delete;

    bool ok() const { return !dir_.empty(); }
    const std::filesystem::path &dir() const { return dir_; }
    // Runs tests/harness/NAME with the directory as first argument; false when it
    // fails, and then its output is in log().
    bool script(const std::string &name, const std::vector<std::string> &args = {}, const env_list &env = {});
    // Everything the scripts printed so far, for failure messages.
    const std::string &log() const { return log_; }

    bool start_ircd() { return script("ircd-up.sh"); }
    // Abruptly (SIGKILL) or politely (SIGTERM).
    bool stop_ircd(bool abrupt) { return script("ircd-down.sh", {}, {{"SIGNAL", abrupt ? "KILL" : "TERM"}}); }
    bool start_proxies(const std::vector<std::string> &names) { return script("proxy-up.sh", names); }
    bool start_tls(const std::vector<std::string> &kinds) { return script("tls-up.sh", kinds); }
    bool make_certs() { return script("certs.sh"); }

    // The port a script recorded for NAME ("irc", "irc-tls", "socks5", "tls-trusted", ...),
    // 0 when there is none.
    int port(const std::string &name) const;
    std::filesystem::path ca_file() const { return dir_ / "tls" / "ca.pem"; }
    std::filesystem::path client_cert() const { return dir_ / "tls" / "client.pem"; }
    // The contents of a file below the directory ("" when missing).
    std::string file(const std::string &relative) const;

  private:
    std::filesystem::path dir_;
    std::string log_;
    pid_t watchdog_ = -1;
};

// One line the scripted server received.
struct received_line {
    int conn = 0;      // connection number, from 1
    int ms = 0;        // since that connection was accepted
    std::string bytes; // exact, including the LF (and a CR before it, if sent)
};

// tests/harness/scripted-ircd.py, driven through its standard input; ends with it.
class scripted_server
{
  public:
    scripted_server();
    bool ok() const { return port_ > 0; }
    int port() const { return port_; }

    // Waits until `n` connections were accepted.
    bool wait_accepted(int n, int timeout_ms);
    // Waits until `done` holds for the lines received so far.
    bool wait_lines(const std::function<bool(const std::vector<received_line> &)> &done, int timeout_ms);
    // Waits until connection `conn` has sent `needle` (in its exact bytes).
    bool wait_received(int conn, std::string_view needle, int timeout_ms);
    // Waits until connection `conn` has ended.
    bool wait_closed(int conn, int timeout_ms);
    std::vector<received_line> lines() const;
    // All bytes received on one connection, in order.
    std::string received(int conn) const;

    // Sends to the newest connection, at once or in pieces `chunk` bytes long,
    // `delay_ms` apart; returns once the server has sent them.
    bool send(std::string_view bytes, int chunk = 0, int delay_ms = 0);
    bool hang_up();
    std::string transcript() const { return proc_->out() + proc_->err(); }

  private:
    bool command(const std::string &line, const std::string &reply_prefix);
    int count_events(std::string_view prefix) const;

    std::unique_ptr<child_process> proc_;
    int port_ = 0;
    int sent_ = 0;
};

// lumenwick-text with a private home, desktop directories and configuration
// directory below `root` ("-d" and then `extra_args`), fed through standard input.
class text_client
{
  public:
    text_client(const std::filesystem::path &root, const env_list &extra_env = {},
                const std::vector<std::string> &extra_args = {});
    bool started() const { return proc_->started(); }
    const std::filesystem::path &config_dir() const { return config_; }

    // Types one command line.
    bool type(const std::string &line);
    // Waits until standard output contains `text`, at least `times` times.
    bool wait_shown(std::string_view text, int timeout_ms, int times = 1);
    // The same, ignoring ASCII case (for event texts whose wording is not fixed).
    bool wait_shown_nocase(std::string_view text, int timeout_ms, int times = 1);
    bool wait_err(std::string_view text, int timeout_ms);
    // Reads output for `ms` without waiting for anything in particular.
    void settle(int ms);
    int count_shown(std::string_view text) const;
    int count_shown_nocase(std::string_view text) const;
    const std::string &out() const { return proc_->out(); }
    const std::string &err() const { return proc_->err(); }
    std::string transcript() const { return "--- client stdout:\n" + out() + "--- client stderr:\n" + err(); }
    // Ends standard input and waits for the exit.
    run_result finish(int timeout_ms) { return proc_->finish(timeout_ms); }

  private:
    std::filesystem::path config_;
    std::unique_ptr<child_process> proc_;
};

// Counts the non-overlapping occurrences of `needle`, optionally ignoring ASCII case.
int count_in(std::string_view haystack, std::string_view needle, bool ignore_case = false);
// Hex of raw bytes and back, for readable failure messages of binary lines.
std::string printable(std::string_view bytes);
