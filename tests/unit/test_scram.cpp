// The SCRAM client against the published exchanges of RFC 5802 (SHA-1) and
// RFC 7677 (SHA-256), a SHA-512 server written here, and hostile servers;
// the PLAIN payload and the challenge login answer.
#include "irc/cap.h"
#include "irc/scram.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <string>

namespace
{

struct step_result {
    scram_status status;
    std::string output;
    bool operator==(const step_result &) const = default;
};
std::ostream &operator<<(std::ostream &os, const step_result &r)
{
    return os << "{" << r.status << ", \"" << r.output << "\"}";
}

// One exchange (nonce null: a random one); each step feeds a server message.
struct Client {
    scram_exchange *s;
    Client(const char *digest, const char *user, const char *password, const char *nonce = "NONCE")
    {
        scram_set_test_nonce(nonce);
        s = scram_session_create(digest, user, password);
        scram_set_test_nonce(nullptr);
    }
    ~Client() { scram_session_free(s); }
    step_result step(const std::string &input)
    {
        char *out = nullptr;
        std::size_t len = 0;
        const scram_status status = scram_process(s, input.c_str(), &out, &len);
        const std::string text = out ? std::string(out, len) : "";
        g_free(out);
        return {status, text};
    }
    std::string error() const { return scram_session_error(s) ? scram_session_error(s) : ""; }
};

TEST(Scram, PublishedExchangesGiveTheirProofAndAcceptTheirSignature)
{
    // RFC 5802 section 5 and RFC 7677 section 3: user "user", password "pencil".
    const struct {
        const char *digest, *nonce, *client_first, *server_first, *client_final, *server_final;
    } published[] = {
        {"SHA1", "fyko+d2lbbFgONRv9qkxdawL", "n,,n=user,r=fyko+d2lbbFgONRv9qkxdawL",
         "r=fyko+d2lbbFgONRv9qkxdawL3rfcNHYJY1ZVvWVs7j,s=QSXCR+Q6sek8bf92,i=4096",
         "c=biws,r=fyko+d2lbbFgONRv9qkxdawL3rfcNHYJY1ZVvWVs7j,p=v0X8v3Bz2T0CJGbJQyF0X+HI4Ts=",
         "v=rmF9pqV8S7suAoZWja4dJRkFsKQ="},
        {"SHA256", "rOprNGfwEbeRWgbNEkqO", "n,,n=user,r=rOprNGfwEbeRWgbNEkqO",
         "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096",
         "c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=",
         "v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4="},
    };
    for (const auto &x : published) {
        SCOPED_TRACE(x.digest);
        Client c(x.digest, "user", "pencil", x.nonce);
        EXPECT_EQ(c.step(""), (step_result{SCRAM_IN_PROGRESS, x.client_first}));
        EXPECT_EQ(c.step(x.server_first), (step_result{SCRAM_IN_PROGRESS, x.client_final}));
        EXPECT_EQ(c.step(x.server_final), (step_result{SCRAM_SUCCESS, ""}));
        EXPECT_EQ(c.step("v=x").status, SCRAM_ERROR) << "nothing after the end";

        // The same exchange with the signature one byte off, or refused.
        std::string flipped = x.server_final;
        flipped[2] ^= 1;
        for (const std::string &bad : {flipped, std::string("e=invalid-proof")}) {
            Client d(x.digest, "user", "pencil", x.nonce);
            d.step("");
            d.step(x.server_first);
            EXPECT_EQ(d.step(bad).status, SCRAM_ERROR) << bad;
            EXPECT_NE(d.error(), "") << "the user is told why";
        }
    }
}

std::string b64(const unsigned char *p, std::size_t n)
{
    gchar *t = g_base64_encode(p, n);
    const std::string s = t;
    g_free(t);
    return s;
}

// The server side of RFC 5802 over SHA-512: the proof it expects from a
// client that knows `password`, and its own signature.
struct Sha512Server {
    std::string first_bare, server_first, proof, signature;
    void answer(const std::string &client_first, const std::string &password)
    {
        first_bare = client_first.substr(3);
        const std::string nonce = first_bare.substr(first_bare.find(",r=") + 3) + "srv";
        server_first = "r=" + nonce + ",s=" + b64(reinterpret_cast<const unsigned char *>("salt!"), 5) + ",i=64";
        unsigned char salted[64], ck[64], sk[64], stored[64], sig[64], v[64];
        unsigned int n = 64;
        PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>("salt!"), 5, 64, EVP_sha512(), 64, salted);
        const std::string auth = first_bare + "," + server_first + ",c=biws,r=" + nonce;
        const auto *a = reinterpret_cast<const unsigned char *>(auth.data());
        HMAC(EVP_sha512(), salted, 64, reinterpret_cast<const unsigned char *>("Client Key"), 10, ck, &n);
        EVP_Digest(ck, 64, stored, &n, EVP_sha512(), nullptr);
        HMAC(EVP_sha512(), stored, 64, a, auth.size(), sig, &n);
        for (int i = 0; i < 64; i++)
            sig[i] ^= ck[i];
        proof = "c=biws,r=" + nonce + ",p=" + b64(sig, 64);
        HMAC(EVP_sha512(), salted, 64, reinterpret_cast<const unsigned char *>("Server Key"), 10, sk, &n);
        HMAC(EVP_sha512(), sk, 64, a, auth.size(), v, &n);
        signature = "v=" + b64(v, 64);
    }
};

TEST(Scram, Sha512AgainstAServerThatKnowsThePassword)
{
    Client good("SHA512", "alice", "correct horse", nullptr);
    Sha512Server server;
    server.answer(good.step("").output, "correct horse");
    EXPECT_EQ(good.step(server.server_first).output, server.proof);
    EXPECT_EQ(good.step(server.signature).status, SCRAM_SUCCESS);

    Client bad("SHA512", "alice", "battery staple", nullptr);
    server.answer(bad.step("").output, "correct horse");
    EXPECT_NE(bad.step(server.server_first).output, server.proof);
    EXPECT_EQ(bad.step(server.signature).status, SCRAM_ERROR);
}

TEST(Scram, NonceUserNameAndDigest)
{
    Client a("SHA256", "u", "p", nullptr), b("SHA256", "u", "p", nullptr);
    const std::string na = a.step("").output;
    ASSERT_EQ(na.rfind("n,,n=u,r=", 0), 0u);
    EXPECT_EQ(na.size() - 9, 24u) << "18 random bytes in Base64";
    EXPECT_NE(na, b.step("").output);
    // RFC 5802: "=" and "," in the name are escaped.
    EXPECT_EQ(Client("SHA1", "a=b,c", "p", "N").step("").output, "n,,n=a=3Db=2Cc,r=N");
    EXPECT_EQ(scram_session_create("MD5", "u", "p"), nullptr);
}

// Each server-first message ends the exchange with an error text that starts
// as given, without output and without spending long on it.
TEST(Scram, HostileOrBrokenServerFirstMessagesAreRefused)
{
    const struct {
        const char *server_first, *error_start;
    } cases[] = {
        {"r=NONCEx,s=c2FsdA==,i=0", "Invalid server-first-message"},
        {"r=NONCEx,s=c2FsdA==,i=-5", "Refusing"},
        {"r=NONCEx,s=c2FsdA==,i=1000001", "Refusing"},
        {"r=NONCEx,s=c2FsdA==,i=99999999999999999999999", "Refusing"},
        {"r=NONCEx,s=c2FsdA==,i=12ab", "Invalid server-first-message"},
        {"r=NONCEx,i=4096,x=1", "Invalid server-first-message"},
        {"r=,s=c2FsdA==,i=4096", "Invalid server-first-message"},
        {"r=NONCEx,s=not*base64,i=4096", "Invalid server-first-message"},
        {"r=NONCEx,s=YQ=a,i=4096", "Invalid server-first-message"},
        {"m=ext,r=NONCEx,s=c2FsdA==,i=4096", "Invalid server-first-message"},
        {"r=OTHERx,s=c2FsdA==,i=4096", "Invalid server nonce: OTHERx"},
        {"r=NONC,s=c2FsdA==,i=4096", "Invalid server nonce"},
        {"", "Invalid server-first-message"},
    };
    for (const auto &c : cases) {
        Client client("SHA256", "u", "p");
        client.step("");
        EXPECT_EQ(client.step(c.server_first), (step_result{SCRAM_ERROR, ""})) << c.server_first;
        EXPECT_EQ(client.error().rfind(c.error_start, 0), 0u) << client.error();
    }
    Client edge("SHA1", "u", "p");
    edge.step("");
    EXPECT_EQ(edge.step("r=NONCEx,s=c2FsdA==,i=1").status, SCRAM_IN_PROGRESS);
}

TEST(SaslSecrets, PlainPayloadAndChallengeAnswer)
{
    char *p = encode_sasl_pass_plain("alice", "alicepw123");
    EXPECT_STREQ(p, "YWxpY2UAYWxpY2UAYWxpY2VwdzEyMw==");
    g_free(p);
    // Computed with Python's hashlib/hmac; the second lowers "[" to "{" as
    // the IRC case table does.
    const char *challenge = "3afabede5c2859fd821e315f889d9a6c";
    char *a = challengeauth_response("TestUser", "mysecretpassword123", challenge);
    EXPECT_STREQ(a, "2486b932974c7bef72c4011216784ddeba0029c6209e22bee24a9395e0d107c4");
    char *b = challengeauth_response("Nick[A]", "mysecretpassword123", challenge);
    EXPECT_STREQ(b, "4287af178372689190f92ed879315842595a6f4745d49cceca4ed4dcab5688db");
    g_free(a);
    g_free(b);
}

} // namespace
