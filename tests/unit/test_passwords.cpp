// Stored passwords: the "enc:" form checked against values made independently
// with the openssl command line, what a decryption may hand to a server line,
// and the keyring's quick refusal when there is no session bus.
#include "config/cfgfiles.h"
#include "servlist/secretstore.h"
#include "servlist/servlist-password.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>

namespace
{

struct owned_password {
    char *p;
    explicit owned_password(char *s) : p(s) {}
    ~owned_password() { servlist_password_free(p); }
    bool null() const { return p == nullptr; }
    std::string str() const { return p ? p : "(null)"; }
};

class StoredPasswords : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir = g_dir_make_tmp("lwk-pw-XXXXXX", nullptr);
        set_xdir(dir);
    }
    void TearDown() override
    {
        const std::string cmd = std::string("rm -rf '") + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        g_free(dir);
    }

    // "enc:" text for `plain`, made by the openssl command line alone: the key
    // from its PBKDF2, the block from its AES-256-CBC.
    std::string encrypt_with_openssl_tool(const std::string &plain)
    {
        const std::string in = std::string(dir) + "/plain", pass = std::string(g_get_user_name()) + "|" + dir;
        EXPECT_TRUE(g_file_set_contents(in.c_str(), plain.data(), static_cast<gssize>(plain.size()), nullptr));
        const char *script =
            "salt=00112233445566778899aabbccddeeff iv=0f0e0d0c0b0a09080706050403020100\n"
            "key=$(openssl kdf -keylen 32 -kdfopt digest:SHA256 -kdfopt \"pass:$1\" -kdfopt hexsalt:$salt "
            "-kdfopt iter:300000 PBKDF2 | tr -d :) || exit 1\n"
            "{ printf \"$(echo $salt$iv | sed 's/../\\\\x&/g')\"; openssl enc -aes-256-cbc -K $key -iv $iv -in "
            "\"$2\"; } | base64 -w0\n";
        const char *argv[] = {"bash", "-c", script, "bash", pass.c_str(), in.c_str(), nullptr};
        char *out = nullptr;
        int status = -1;
        EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                 &out, nullptr, &status, nullptr) &&
                    g_spawn_check_wait_status(status, nullptr));
        std::string text = std::string("enc:") + (out ? out : "");
        g_free(out);
        return text;
    }

    char *dir = nullptr;
};

TEST_F(StoredPasswords, TheEncryptedFormIsRecognisedByItsPrefixOnly)
{
    EXPECT_TRUE(servlist_password_is_encrypted("enc:"));
    EXPECT_FALSE(servlist_password_is_encrypted("ENC:abc"));
    // Plain values of older files pass through; "enc" is one of them.
    EXPECT_EQ(owned_password(servlist_password_decrypt_for_storage("enc")).str(), "enc");
    EXPECT_EQ(owned_password(servlist_password_decrypt_for_storage("hunter2")).str(), "hunter2");
    EXPECT_TRUE(owned_password(servlist_password_decrypt_for_storage("")).null());
    EXPECT_EQ(servlist_password_encrypt_for_storage(""), nullptr);
    // 32 bytes are salt and vector with no ciphertext at all.
    EXPECT_TRUE(
        owned_password(servlist_password_decrypt_for_storage("enc:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="))
            .null());
}

TEST_F(StoredPasswords, EachEncryptionDiffersAndBothDecrypt)
{
    char *a = servlist_password_encrypt_for_storage("s3cret pass");
    char *b = servlist_password_encrypt_for_storage("s3cret pass");
    ASSERT_TRUE(a && b);
    EXPECT_STRNE(a, b);
    EXPECT_EQ(owned_password(servlist_password_decrypt_for_storage(a)).str(), "s3cret pass");
    EXPECT_EQ(owned_password(servlist_password_decrypt_for_storage(b)).str(), "s3cret pass");
    // Another configuration directory means another key.
    set_xdir((std::string(dir) + "/elsewhere").c_str());
    EXPECT_TRUE(owned_password(servlist_password_decrypt_for_storage(a)).null());
    g_free(a);
    g_free(b);
}

TEST_F(StoredPasswords, AValueMadeByTheOpensslToolDecrypts)
{
    const std::string stored = encrypt_with_openssl_tool("pässwörd with spaces");
    EXPECT_EQ(owned_password(servlist_password_decrypt_for_storage(stored.c_str())).str(), "pässwörd with spaces");
}

// Bytes that would end the PASS or AUTHENTICATE line early, or smuggle a
// second line after it, are a failed decryption, never a password.
TEST_F(StoredPasswords, DecryptionsThatNoServerLineCanCarryFail)
{
    for (const std::string &bad : {std::string("pw\r\nQUIT"), std::string("pw\nJOIN #x"), std::string("p\0w", 3),
                                   std::string("\xff\xfe latin")}) {
        SCOPED_TRACE(bad);
        const std::string stored = encrypt_with_openssl_tool(bad);
        EXPECT_TRUE(owned_password(servlist_password_decrypt_for_storage(stored.c_str())).null());
    }
}

TEST(Keyring, WithoutASessionBusItFailsAtOnceWithAReason)
{
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenwick-test-bus", TRUE);
    const gint64 start = g_get_monotonic_time();
    GError *error = nullptr;
    EXPECT_EQ(secretstore_get_network_password("Net", &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(std::string(error->message).find("keyring"), std::string::npos) << error->message;
    g_clear_error(&error);
    EXPECT_FALSE(secretstore_set_network_password("Net", "pw", &error));
    EXPECT_NE(error, nullptr);
    g_clear_error(&error);
    EXPECT_FALSE(secretstore_is_keyring_available(nullptr));
    EXPECT_LT(g_get_monotonic_time() - start, 2 * G_USEC_PER_SEC);
}

} // namespace
