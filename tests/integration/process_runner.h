// Runs a program for an end-to-end test: standard input fed by the test,
// standard output and error collected, every wait bounded by a deadline.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct run_options {
    std::vector<std::string> args; // without the program itself
    std::vector<std::pair<std::string, std::string>> set_env;
    std::vector<std::string> unset_env;
    // Run as the unprivileged user "nobody" when the test runs as root, so
    // file permissions mean what they say.
    bool drop_root = false;
};

struct run_result {
    int exit_code = -1;  // -1 when killed by a signal or timed out
    int term_signal = 0; // the signal that ended it, if any
    bool timed_out = false;
    std::string out;
    std::string err;
};

class child_process
{
  public:
    child_process(const std::string &program, const run_options &options);
    ~child_process(); // kills a child that is still running
    child_process(const child_process &) = delete;
    child_process &operator=(const child_process &) = delete;

    bool started() const { return pid_ > 0; }
    const std::string &start_error() const { return start_error_; }

    // Writes to the child's standard input (false when it is closed).
    bool write(std::string_view text);
    void close_input();
    // Reads output until `done` holds for what arrived on standard output so
    // far, or `timeout_ms` passed; returns whether `done` held.
    bool wait_for(const std::function<bool(const std::string &out)> &done, int timeout_ms);
    bool wait_for_output(std::string_view needle, int timeout_ms);
    void send_signal(int sig);
    // Closes standard input, reads everything until both pipes end, and
    // reaps the child; a child still running at the deadline is killed.
    run_result finish(int timeout_ms);

    const std::string &out() const { return result_.out; }
    const std::string &err() const { return result_.err; }

  private:
    // One poll round over the output pipes; false when both have ended.
    bool pump(int wait_ms);

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string start_error_;
    run_result result_;
};

// Runs `program` with `input` on standard input (then end of input) and
// collects its output and exit status.
run_result run_program(const std::string &program, const run_options &options, std::string_view input, int timeout_ms);
