// Driving tests/harness/irc-bots.py: real IRC clients on 127.0.0.1 that take
// one command per line and print every line they receive ("NICK< LINE",
// tags included).
#pragma once

#include "connect_fixture.h"

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace connect_test
{

class irc_bots
{
  public:
    explicit irc_bots(int port)
        : proc_(std::make_unique<child_process>(
              "/usr/bin/python3",
              run_options{{std::string(LUMENWICK_HARNESS_DIR) + "/irc-bots.py", std::to_string(port)}, {}, {}}))
    {
    }
    // One command, waiting for its "ok".
    bool run(const std::string &command, int timeout_ms = REGISTER_MS)
    {
        const std::string done = "ok " + std::to_string(++commands_) + "\n";
        return proc_->write(command + "\n") && proc_->wait_for_output(done, timeout_ms);
    }
    bool send(const std::string &nick, const std::string &raw) { return run("send " + nick + " " + raw, SHORT_MS); }
    // Waits until bot `nick` has received `times` lines holding `text` (and `also`).
    bool saw(const std::string &nick, std::string_view text, int times = 1, std::string_view also = "")
    {
        return proc_->wait_for(
            [&](const std::string &out) { return count_lines(out, nick + "< ", text, also) >= times; }, SHORT_MS);
    }
    // The lines bot `nick` received so far, without the "nick< " in front.
    std::vector<std::string> lines_of(const std::string &nick) const
    {
        std::vector<std::string> out;
        const std::string start = nick + "< ";
        std::istringstream in(proc_->out());
        for (std::string line; std::getline(in, line);)
            if (line.rfind(start, 0) == 0)
                out.push_back(line.substr(start.size()));
        return out;
    }
    // Lines of `nick` for which `match` holds.
    int count(const std::string &nick, const std::function<bool(const std::string &)> &match) const
    {
        int n = 0;
        for (const std::string &line : lines_of(nick))
            n += match(line);
        return n;
    }
    // Reads the bots' output for `ms` (the client is read by the caller).
    void poll(int ms)
    {
        proc_->wait_for([](const std::string &) { return false; }, ms);
    }
    std::string transcript() const { return "--- bots:\n" + proc_->out() + proc_->err(); }

    // Lines of `out` that start with `start` and hold `text` and `also`.
    static int count_lines(const std::string &out, std::string_view start, std::string_view text,
                           std::string_view also = "")
    {
        int n = 0;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            n += line.rfind(start, 0) == 0 && line.find(text) != std::string::npos &&
                 line.find(also) != std::string::npos;
        return n;
    }

  private:
    std::unique_ptr<child_process> proc_;
    int commands_ = 0;
};

} // namespace connect_test
