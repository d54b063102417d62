// Strict transport security end to end: lumenwick-text meets InspIRCd's "sts"
// policy on the plain port, moves to TLS on the policy's port, learns the
// duration there (sent only to a client that gave SNI, hence "localhost"),
// keeps it in sts.conf, and in its next run goes to TLS directly.
#include "connect_fixture.h"

namespace connect_test
{
namespace
{

constexpr const char *UPGRADE_NOTE = "The server asks for a secure connection";

TEST_F(ConnectTest, StsUpgradesToTlsAndTheNextRunConnectsSecurelyAtOnce)
{
    ASSERT_TRUE(lab.make_certs()) << lab.log();
    ASSERT_TRUE(lab.script("ircd-up.sh", {}, {{"STS", "on"}})) << lab.log();
    const std::string plain = std::to_string(lab.port("irc"));
    const std::string tls = std::to_string(lab.port("irc-tls"));

    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    ASSERT_TRUE(client->type("/server -insecure localhost " + plain));
    ASSERT_TRUE(client->wait_shown("127.0.0.1:" + plain, SHORT_MS)) << context();
    ASSERT_TRUE(client->wait_shown(UPGRADE_NOTE, REGISTER_MS)) << context();
    ASSERT_TRUE(client->wait_shown("127.0.0.1:" + tls, REGISTER_MS)) << context();
    ASSERT_TRUE(client->wait_shown(IRCD_WELCOME, REGISTER_MS)) << context();
    // The policy learnt over TLS is on disk at once: host, the TLS port, the
    // expiry, the duration InspIRCd announces.
    ASSERT_TRUE(lab_file_has("client/cfg/sts.conf", "localhost " + tls + " ", SHORT_MS)) << context();
    EXPECT_NE(lab.file("client/cfg/sts.conf").find(" 300\n"), std::string::npos) << lab.file("client/cfg/sts.conf");
    EXPECT_EQ(client->count_shown(UPGRADE_NOTE), 1) << context();
    quit_client();

    // The second run never touches the plain port.
    ASSERT_NO_FATAL_FAILURE(start_client({QUICK_SUCCESSION}));
    ASSERT_TRUE(client->type("/server -insecure localhost " + plain));
    ASSERT_TRUE(client->wait_shown("127.0.0.1:" + tls, SHORT_MS)) << context();
    ASSERT_TRUE(client->wait_shown(IRCD_WELCOME, REGISTER_MS)) << context();
    EXPECT_EQ(client->count_shown("127.0.0.1:" + plain), 0) << context();
    EXPECT_EQ(client->count_shown(UPGRADE_NOTE), 0) << context();
    quit_client();
    EXPECT_NE(lab.file("client/cfg/sts.conf").find("localhost " + tls + " "), std::string::npos);
}

} // namespace
} // namespace connect_test
