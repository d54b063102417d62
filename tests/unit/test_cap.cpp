// Capability negotiation and SASL, driven through the real line parser: a
// server line goes in, the exact lines the client answers come out of a
// socket pair, and the capability flags are checked.
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe_recorder.h"
#include "irc/cap.h"
#include "irc/proto-irc.h"
#include "irc/scram.h"
#include "net/server.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace
{

using lines = std::vector<std::string>;

std::string b64(const std::string &raw)
{
    gchar *t = g_base64_encode(reinterpret_cast<const guchar *>(raw.data()), raw.size());
    const std::string s = t;
    g_free(t);
    return s;
}

std::string unb64(const std::string &text)
{
    gsize len = 0;
    guchar *d = g_base64_decode(text.c_str(), &len);
    const std::string s(reinterpret_cast<char *>(d), len);
    g_free(d);
    return s;
}

class Cap : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-cap-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        lumenwick_is_quitting = 0;
        load_text_events();
        prefs.net_throttle = 0;
        safe_strcpy(prefs.irc_user_name, "user", sizeof prefs.irc_user_name);
        home = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
        serv = home->server;
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, wire), 0);
        fcntl(wire[1], F_SETFL, O_NONBLOCK);
        serv->sock = wire[0];
        serv->connected = TRUE;
        safe_strcpy(serv->nick, "me", sizeof serv->nick);
    }
    void TearDown() override
    {
        cap_reset_server(serv);
        serv->sock = -1;
        serv->connected = FALSE;
        lumenwick_is_quitting = 1;
        while (sess_list)
            session_free(static_cast<session *>(sess_list->data));
        lumenwick_is_quitting = 0;
        fe_recorder::cancel_sources();
        close(wire[0]);
        close(wire[1]);
        ASSERT_EQ(system((std::string("rm -rf '") + dir + "'").c_str()), 0);
        g_free(dir);
    }

    // A fresh connection with this login, as send_login leaves it.
    void start(int method, const std::string &password)
    {
        server_set_defaults(serv);
        serv->login_method = method;
        safe_strcpy(serv->password, password.c_str(), sizeof serv->password);
        serv->p_login(serv, "user", "Real Name");
        drain();
    }
    // Feeds one server line; the lines the client sent in answer.
    lines recv(std::string line)
    {
        drain();
        irc_inline(serv, line.data(), static_cast<int>(line.size()));
        lines out;
        const std::string wire_text = drain();
        std::size_t start = 0;
        for (std::size_t at; (at = wire_text.find("\r\n", start)) != std::string::npos; start = at + 2)
            out.push_back(wire_text.substr(start, at - start));
        return out;
    }
    std::string drain()
    {
        std::string out;
        char buf[8192];
        ssize_t n;
        while ((n = read(wire[1], buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        return out;
    }
    // Up to the server's first AUTHENTICATE of a SCRAM login (nonce "NONCE").
    void scram_started(int method, const char *password)
    {
        start(method, password);
        recv(":srv CAP * LS :sasl");
        recv(":srv CAP me ACK :sasl");
        scram_set_test_nonce("NONCE");
        recv("AUTHENTICATE +");
        scram_set_test_nonce(nullptr);
    }

    char *dir = nullptr;
    int wire[2] = {-1, -1};
    session *home = nullptr;
    server *serv = nullptr;
};

TEST_F(Cap, MultiLineListRequestsPerLineAndWaitsForSasl)
{
    start(LOGIN_METHOD_SASL_PLAIN, "alicepw123");
    EXPECT_EQ(recv(":srv CAP * LS * :multi-prefix foo/bar away-notify"), (lines{"CAP REQ :multi-prefix away-notify"}));
    EXPECT_TRUE(serv->cap_ls_more);
    // The last line asks for sasl and then waits for the login: no CAP END.
    EXPECT_EQ(recv(":srv CAP * LS :sasl=PLAIN,EXTERNAL echo-message"), (lines{"CAP REQ :sasl echo-message"}));
    EXPECT_FALSE(serv->cap_ls_more);
    EXPECT_FALSE(serv->cap_ended);
    EXPECT_EQ(recv(":srv CAP me ACK :multi-prefix away-notify"), lines{});
    EXPECT_TRUE(serv->cap_multi_prefix && serv->cap_away_notify);
    EXPECT_EQ(recv(":srv CAP me ACK :sasl echo-message"), (lines{"AUTHENTICATE PLAIN"}));
    EXPECT_TRUE(serv->cap_sasl && serv->cap_echo_message);
    EXPECT_EQ(recv("AUTHENTICATE :+"), (lines{"AUTHENTICATE " + b64(std::string("user\0user\0alicepw123", 20))}));
    EXPECT_EQ(recv(":srv 903 me :SASL authentication successful"), (lines{"CAP END"}));
    EXPECT_FALSE(serv->sasl_active);
    EXPECT_TRUE(serv->cap_ended);
}

TEST_F(Cap, RequestsTheKnownCapabilitiesInTheServersOrder)
{
    start(LOGIN_METHOD_DEFAULT, "");
    const std::string all =
        "solanum.chat/identify-msg twitch.tv/membership znc.in/server-time znc.in/server-time-iso echo-message "
        "message-tags standard-replies extended-monitor account-tag invite-notify setname chghost cap-notify "
        "userhost-in-names server-time extended-join account-notify away-notify multi-prefix";
    // Without SASL the request is followed by CAP END at once.
    EXPECT_EQ(recv(":srv CAP * LS :draft/x=1 " + all + " batch MULTI-PREFIX multi-prefix sts"),
              (lines{"CAP REQ :" + all, "CAP END"}));
    EXPECT_TRUE(fe_recorder::was_shown(home, "Invalid STS capability token without a value; ignoring."));
    EXPECT_FALSE(serv->cap_multi_prefix || serv->cap_server_time) << "nothing is on before the ACK";

    recv(":srv CAP me ACK :znc.in/server-time-iso userhost-in-names account-tag extended-join account-notify "
         "solanum.chat/identify-msg message-tags");
    EXPECT_TRUE(serv->cap_server_time && serv->cap_userhost_in_names && serv->cap_account_tag &&
                serv->cap_extended_join && serv->cap_account_notify && serv->cap_identify_msg &&
                serv->cap_message_tags);
    recv(":srv CAP me ACK :-account-tag");
    EXPECT_FALSE(serv->cap_account_tag);
}

TEST_F(Cap, SaslIsRequestedOnlyForItsLoginMethodAndOfferedMechanism)
{
    const struct {
        int method;
        const char *password, *offer;
        const char *mechanism; // null: sasl not requested, negotiation ends
    } cases[] = {
        {LOGIN_METHOD_SASL_PLAIN, "pw", "sasl", "PLAIN"},
        {LOGIN_METHOD_SASL_PLAIN, "", "sasl", nullptr},
        {LOGIN_METHOD_SASL_EXTERNAL, "", "sasl=PLAIN,EXTERNAL", "EXTERNAL"},
        {LOGIN_METHOD_SASL_EXTERNAL, "", "sasl=PLAIN", nullptr},
        {LOGIN_METHOD_SCRAM_SHA_1, "pw", "sasl=SCRAM-SHA-1", "SCRAM-SHA-1"},
        {LOGIN_METHOD_SCRAM_SHA_256, "pw", "sasl=PLAIN,EXTERNAL", nullptr},
        {LOGIN_METHOD_SCRAM_SHA_256, "pw", "sasl=PLAIN,SCRAM-SHA-256", "SCRAM-SHA-256"},
        {LOGIN_METHOD_SCRAM_SHA_512, "pw", "sasl", "SCRAM-SHA-512"},
        {LOGIN_METHOD_SCRAM_SHA_512, "", "sasl", nullptr},
        {LOGIN_METHOD_SERVER_PASSWORD, "pw", "sasl", nullptr},
        {LOGIN_METHOD_DEFAULT, "pw", "sasl", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.method) + " '" + c.password + "' " + c.offer);
        start(c.method, c.password);
        if (!c.mechanism) {
            EXPECT_EQ(recv(std::string(":srv CAP * LS :") + c.offer), (lines{"CAP END"}));
            continue;
        }
        EXPECT_EQ(recv(std::string(":srv CAP * LS :") + c.offer), (lines{"CAP REQ :sasl"}));
        EXPECT_EQ(recv(":srv CAP me ACK :sasl"), (lines{std::string("AUTHENTICATE ") + c.mechanism}));
    }
}

TEST_F(Cap, OnlyWhatWasAskedForIsAnswered)
{
    // The server did not offer sasl: no login was started, and an ACK or an
    // AUTHENTICATE cannot start one or make the client hand out its password.
    start(LOGIN_METHOD_SASL_PLAIN, "secret");
    EXPECT_EQ(recv(":srv CAP * LS :multi-prefix"), (lines{"CAP REQ :multi-prefix", "CAP END"}));
    EXPECT_EQ(recv(":srv CAP me ACK :multi-prefix echo-message sasl"), lines{});
    EXPECT_TRUE(serv->cap_multi_prefix);
    EXPECT_FALSE(serv->cap_echo_message || serv->cap_sasl);
    EXPECT_EQ(recv("AUTHENTICATE +"), lines{});
    EXPECT_EQ(recv(":srv 904 me :SASL authentication failed"), lines{});
    // Nor with sasl active under a login method that is not SASL.
    start(LOGIN_METHOD_SERVER_PASSWORD, "secret");
    serv->sasl_active = TRUE;
    EXPECT_EQ(recv(":srv AUTHENTICATE +"), lines{});

    // A refused request cannot be switched on by a late ACK; NAK ends once.
    start(LOGIN_METHOD_SASL_PLAIN, "pw");
    recv(":srv CAP * LS :sasl multi-prefix");
    EXPECT_EQ(recv(":srv CAP me NAK :sasl multi-prefix"), (lines{"CAP END"}));
    EXPECT_EQ(recv(":srv CAP me ACK :sasl multi-prefix"), lines{});
    EXPECT_FALSE(serv->cap_multi_prefix || serv->cap_sasl);
    EXPECT_EQ(recv(":srv CAP me NAK :foo"), lines{});

    // Registration would wait for ever for a login whose mechanism went away.
    start(LOGIN_METHOD_SASL_PLAIN, "pw");
    recv(":srv CAP * LS :sasl");
    EXPECT_EQ(recv(":srv CAP me DEL :sasl"), (lines{"CAP END"}));
    EXPECT_FALSE(serv->sasl_active);

    // A repeated ACK starts one login.
    start(LOGIN_METHOD_SASL_EXTERNAL, "");
    recv(":srv CAP * LS :sasl");
    EXPECT_EQ(recv(":srv CAP me ACK :sasl"), (lines{"AUTHENTICATE EXTERNAL"}));
    EXPECT_EQ(recv(":srv CAP me ACK :sasl"), lines{});
    EXPECT_EQ(recv("AUTHENTICATE +"), (lines{"AUTHENTICATE +"}));
}

TEST_F(Cap, NewIsRequestedAndDelSwitchesOff)
{
    start(LOGIN_METHOD_SASL_PLAIN, "pw");
    recv(":srv CAP * LS * :multi-prefix");
    // Offered while registering: sasl is taken up.
    EXPECT_EQ(recv(":srv CAP me NEW :sasl"), (lines{"CAP REQ :sasl"}));
    EXPECT_EQ(recv(":srv CAP me ACK :sasl"), (lines{"AUTHENTICATE PLAIN"}));
    recv(":srv 903 me :SASL authentication successful");
    ASSERT_TRUE(serv->cap_ended);

    // After registration: asked for, switched on only by the ACK; no login.
    EXPECT_EQ(recv(":srv CAP me NEW :echo-message sasl unknown-cap"), (lines{"CAP REQ :echo-message"}));
    EXPECT_FALSE(serv->cap_echo_message);
    recv(":srv CAP me ACK :echo-message multi-prefix");
    EXPECT_TRUE(serv->cap_echo_message && serv->cap_multi_prefix);
    recv(":srv CAP me DEL :echo-message");
    EXPECT_FALSE(serv->cap_echo_message);
    recv(":srv CAP me ACK :echo-message");
    EXPECT_FALSE(serv->cap_echo_message) << "withdrawn: a new request is needed";
    // A DEL that names sts is ignored as a whole.
    recv(":srv CAP me DEL :multi-prefix sts");
    EXPECT_TRUE(serv->cap_multi_prefix);
}

TEST_F(Cap, PlainPayloadGoesInPiecesOf400WithAFinalPlus)
{
    // user\0user\0password is 10 bytes besides the password; Base64 of 298 to
    // 300 bytes is 400 characters, of 600 exactly 800, of 679 908.
    const struct {
        std::size_t password_len;
        std::vector<std::size_t> pieces; // lengths of the AUTHENTICATE arguments
    } cases[] = {
        {287, {396}}, {289, {400, 1}}, {290, {400, 1}}, {291, {400, 4}}, {590, {400, 400, 1}}, {669, {400, 400, 108}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.password_len);
        const std::string password(c.password_len, 'p');
        start(LOGIN_METHOD_SASL_PLAIN, password);
        recv(":srv CAP * LS :sasl");
        recv(":srv CAP me ACK :sasl");
        const lines sent = recv("AUTHENTICATE +");
        ASSERT_EQ(sent.size(), c.pieces.size());
        std::string payload;
        for (std::size_t i = 0; i < sent.size(); i++) {
            EXPECT_EQ(sent[i].size() - 13, c.pieces[i]) << sent[i].substr(0, 13);
            payload += sent[i] == "AUTHENTICATE +" ? "" : sent[i].substr(13);
        }
        EXPECT_EQ(unb64(payload), std::string("user\0user\0", 10) + password);
    }
}

TEST_F(Cap, ScramOnTheWireWithMessagesInPieces)
{
    // RFC 7677's exchange.
    start(LOGIN_METHOD_SCRAM_SHA_256, "pencil");
    recv(":srv CAP * LS :sasl=SCRAM-SHA-256");
    EXPECT_EQ(recv(":srv CAP me ACK :sasl"), (lines{"AUTHENTICATE SCRAM-SHA-256"}));
    scram_set_test_nonce("rOprNGfwEbeRWgbNEkqO");
    EXPECT_EQ(recv("AUTHENTICATE +"), (lines{"AUTHENTICATE " + b64("n,,n=user,r=rOprNGfwEbeRWgbNEkqO")}));
    scram_set_test_nonce(nullptr);
    const std::string nonce = "rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0";
    EXPECT_EQ(recv("AUTHENTICATE " + b64("r=" + nonce + ",s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096")),
              (lines{"AUTHENTICATE " + b64("c=biws,r=" + nonce + ",p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=")}));
    EXPECT_EQ(recv("AUTHENTICATE " + b64("v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4=")), (lines{"AUTHENTICATE +"}));
    EXPECT_EQ(serv->scram_exchange, nullptr);

    // 600 bytes of server-first are exactly 800 Base64 characters: two
    // pieces and "+". The answer carries the long nonce and leaves in pieces.
    scram_started(LOGIN_METHOD_SCRAM_SHA_1, "pencil");
    const std::string encoded = b64("r=NONCE" + std::string(577, 'x') + ",s=c2FsdA==,i=16");
    ASSERT_EQ(encoded.size(), 800u);
    EXPECT_EQ(recv("AUTHENTICATE " + encoded.substr(0, 400)), lines{});
    EXPECT_EQ(recv("AUTHENTICATE " + encoded.substr(400)), lines{});
    const lines sent = recv("AUTHENTICATE +");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].size() - 13, 400u);
    EXPECT_EQ(sent[1].size() - 13, 400u);
    EXPECT_EQ(unb64(sent[0].substr(13) + sent[1].substr(13) + sent[2].substr(13)).rfind("c=biws,r=NONCExxx", 0), 0u);
}

TEST_F(Cap, FailedLoginsAbortAndEndNegotiationOnce)
{
    const struct {
        std::string server_says;
        const char *shown;
    } cases[] = {
        {"AUTHENTICATE " + b64("r=NONCEx,s=c2FsdA==,i=100000000"), "Refusing the server's iteration count 100000000"},
        {"AUTHENTICATE " + b64("r=OTHER,s=c2FsdA==,i=4096"), "Invalid server nonce: OTHER"},
        {"AUTHENTICATE +", "Invalid server-first-message"},
        {"AUTHENTICATE ***", "not valid Base64"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.server_says);
        scram_started(LOGIN_METHOD_SCRAM_SHA_512, "pw");
        EXPECT_EQ(recv(c.server_says), (lines{"AUTHENTICATE *"}));
        EXPECT_EQ(serv->scram_exchange, nullptr);
        EXPECT_TRUE(fe_recorder::was_shown(home, c.shown));
        EXPECT_EQ(recv(":srv 906 me :SASL authentication aborted"), (lines{"CAP END"}));
    }

    // 904 drops the exchange; a mechanism list and 908 change nothing.
    scram_started(LOGIN_METHOD_SCRAM_SHA_256, "pw");
    ASSERT_NE(serv->scram_exchange, nullptr);
    EXPECT_EQ(recv(":srv AUTHENTICATE PLAIN,EXTERNAL"), lines{});
    EXPECT_EQ(recv(":srv 908 me PLAIN,EXTERNAL :are available SASL mechanisms"), lines{});
    EXPECT_EQ(recv(":srv 904 me :SASL authentication failed"), (lines{"AUTHENTICATE *", "CAP END"}));
    EXPECT_EQ(serv->scram_exchange, nullptr);
    EXPECT_FALSE(serv->sasl_active);
    EXPECT_EQ(recv(":srv 906 me :SASL authentication aborted"), lines{});
}

} // namespace
