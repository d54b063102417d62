// The fixture shared by the connection tests: a private lab directory with the
// harness's servers, and lumenwick-text configured with a known identity.
#pragma once

#include "harness.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace connect_test
{

// Starting the client and registering with InspIRCd (about a second, done in
// its once-a-second housekeeping) fit easily; a hang fails the test instead.
constexpr int SHORT_MS = 5000;
constexpr int REGISTER_MS = 20000;
// A client that was connected waits two seconds before it exits.
constexpr int EXIT_MS = 20000;

// The identity the client registers with.
constexpr const char *NICK = "tester";
constexpr const char *USER_NAME = "tuser";
constexpr const char *REAL_NAME = "Test Real";

// InspIRCd's greeting, in the raw line as in any later formatting of it.
constexpr const char *IRCD_WELCOME = "Welcome to the HarnessNet IRC Network";
constexpr const char *IRCD_MOTD = "Harness InspIRCd on 127.0.0.1";

// For tests that connect many times in a row: the send clock carries over from
// one connection to the next, so the registration lines of a third or fourth
// connection would wait seconds for the lines of the earlier ones. The clock
// itself has its own tests.
constexpr const char *QUICK_SUCCESSION = "net_throttle 0";

// What a connection attempt came to, judged from what the user sees.
enum class outcome { connected, failed, undecided };

inline std::ostream &operator<<(std::ostream &os, outcome o)
{
    return os << (o == outcome::connected ? "connected" : o == outcome::failed ? "failed" : "undecided");
}

class ConnectTest : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(lab.ok()) << lab.log(); }

    // Starts the client with the test CA as its only trusted root and `args` on
    // its command line. The identity and `settings` ("name value") are in its
    // configuration file from the start: a server tab takes its nick when it is
    // created, before any typed /set could change it.
    // Use as ASSERT_NO_FATAL_FAILURE(start_client()).
    void start_client(const std::vector<std::string> &settings = {}, const std::vector<std::string> &args = {})
    {
        ASSERT_TRUE(lab.make_certs()) << lab.log();
        const std::filesystem::path cfg = lab.dir() / "client" / "cfg";
        std::filesystem::create_directories(cfg);
        {
            std::ofstream conf(cfg / "lumenwick.conf");
            conf << "irc_nick1 = " << NICK << "\nirc_user_name = " << USER_NAME << "\nirc_real_name = " << REAL_NAME
                 << "\n";
            for (const std::string &s : settings)
                conf << s.substr(0, s.find(' ')) << " = " << s.substr(s.find(' ') + 1) << "\n";
        }
        client = std::make_unique<text_client>(
            lab.dir() / "client",
            env_list{{"SSL_CERT_FILE", lab.ca_file().string()}, {"SSL_CERT_DIR", (lab.dir() / "no-cert-dir").string()}},
            args);
        ASSERT_TRUE(client->started());
        // Answered only once the configuration is read and input is taken.
        set("irc_nick2 tester2");
    }

    // "/set NAME VALUE" ("/set -e NAME" for an empty value), waiting for the
    // client's confirmation.
    void set(const std::string &name_value)
    {
        const std::size_t space = name_value.find(' ');
        const std::string name = name_value.substr(0, space);
        const std::string value = space == std::string::npos ? "" : name_value.substr(space + 1);
        const int before = client->count_shown(name + " set to: ");
        ASSERT_TRUE(client->type(value.empty() ? "/set -e " + name : "/set " + name + " " + value));
        ASSERT_TRUE(client->wait_shown(name + " set to: ", SHORT_MS, before + 1)) << context();
    }

    // Waits until InspIRCd welcomed the client `times` times in this run.
    // Until the client negotiates capabilities itself it never ends the
    // negotiation its "CAP LS 302" opens, and InspIRCd holds registration until
    // it ends; so the test ends it, once per connection. A CAP END after
    // registration is ignored by the server, so this stays right later too.
    bool registered(int times = 1, int timeout_ms = REGISTER_MS)
    {
        if (!client->wait_shown("Connected", timeout_ms, times))
            return false;
        client->type("/quote CAP END");
        return client->wait_shown(IRCD_WELCOME, timeout_ms, times);
    }

    // Types a connect command and waits until the attempt connected or failed.
    outcome attempt(const std::string &command, int timeout_ms = 15000)
    {
        const int connected = client->count_shown("Connected");
        const int failed =
            client->count_shown_nocase("connection failed") + client->count_shown("Proxy traversal failed");
        client->type(command);
        outcome result = outcome::undecided;
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
        while (result == outcome::undecided && g_get_monotonic_time() < deadline) {
            client->settle(100);
            if (client->count_shown("Connected") > connected)
                result = outcome::connected;
            else if (client->count_shown_nocase("connection failed") + client->count_shown("Proxy traversal failed") >
                     failed)
                result = outcome::failed;
        }
        return result;
    }

    // Waits until a file of the lab contains `needle`.
    bool lab_file_has(const std::string &relative, std::string_view needle, int timeout_ms)
    {
        const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
        for (;;) {
            if (lab.file(relative).find(needle) != std::string::npos)
                return true;
            if (g_get_monotonic_time() >= deadline)
                return false;
            client->settle(100);
        }
    }

    // Ends the client as a user would (end of input) and checks that it exits.
    void quit_client()
    {
        const run_result r = client->finish(EXIT_MS);
        EXPECT_FALSE(r.timed_out) << context();
        EXPECT_EQ(r.exit_code, 0) << context();
    }

    std::string context() const
    {
        return (client ? client->transcript() : std::string()) + "--- harness:\n" + lab.log();
    }

    test_lab lab;
    std::unique_ptr<text_client> client;
};

} // namespace connect_test
