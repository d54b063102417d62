#include "servlist/servlist-password.h"

#include "base/secret.h"
#include "config/cfgfiles.h"

#include <glib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

constexpr const char ENCRYPTED_PREFIX[] = "enc:";
constexpr std::size_t PREFIX_LEN = sizeof ENCRYPTED_PREFIX - 1;
constexpr std::size_t SALT_LEN = 16;
constexpr std::size_t IV_LEN = 16;
constexpr std::size_t KEY_LEN = 32; // AES-256

struct cipher_ctx_free {
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using cipher_ctx = std::unique_ptr<EVP_CIPHER_CTX, cipher_ctx_free>;

// A heap string that is wiped and freed when it goes out of scope.
struct wiped_gstring {
    char *str = nullptr;
    gsize len = 0;
    ~wiped_gstring()
    {
        if (str) {
            OPENSSL_cleanse(str, len);
            g_free(str);
        }
    }
};

// The configuration directory as an absolute path: a relative -d would
// otherwise make the key depend on the directory the program started in.
std::string absolute_config_dir()
{
    const char *dir = get_xdir();
    if (g_path_is_absolute(dir))
        return dir;
    char *abs = g_canonicalize_filename(dir, nullptr);
    std::string out = abs;
    g_free(abs);
    return out;
}

// The key for `salt`; the passphrase exists only during this call.
bool derive_key(const unsigned char *salt, secret_bytes &key)
{
    wiped_gstring pass;
    pass.str = g_strdup_printf("%s|%s", g_get_user_name(), absolute_config_dir().c_str());
    pass.len = strlen(pass.str);
    return PKCS5_PBKDF2_HMAC(pass.str, static_cast<int>(pass.len), salt, SALT_LEN, SERVLIST_PASSWORD_ITERATIONS,
                             EVP_sha256(), KEY_LEN, key.data()) == 1;
}

// A server line carries the password as text: bytes that end or split a line
// would send something else than what the user stored.
bool usable_as_password(const unsigned char *bytes, std::size_t len)
{
    if (memchr(bytes, '\0', len) || memchr(bytes, '\r', len) || memchr(bytes, '\n', len))
        return false;
    return g_utf8_validate(reinterpret_cast<const char *>(bytes), static_cast<gssize>(len), nullptr);
}

} // namespace

bool servlist_password_is_encrypted(const char *text)
{
    return text && strlen(text) > 3 && strncmp(text, ENCRYPTED_PREFIX, PREFIX_LEN) == 0;
}

char *servlist_password_encrypt_for_storage(const char *plain)
{
    if (!plain || !plain[0])
        return nullptr;
    const std::size_t plain_len = strlen(plain);

    // salt + iv + ciphertext (at most one block of padding more than the text)
    secret_bytes block(SALT_LEN + IV_LEN + plain_len + EVP_MAX_BLOCK_LENGTH);
    unsigned char *salt = block.data();
    unsigned char *iv = block.data() + SALT_LEN;
    unsigned char *out = block.data() + SALT_LEN + IV_LEN;
    if (RAND_bytes(salt, SALT_LEN) != 1 || RAND_bytes(iv, IV_LEN) != 1)
        return nullptr;

    secret_bytes key(KEY_LEN);
    if (!derive_key(salt, key))
        return nullptr;

    cipher_ctx ctx(EVP_CIPHER_CTX_new());
    int len1 = 0, len2 = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out, &len1, reinterpret_cast<const unsigned char *>(plain),
                          static_cast<int>(plain_len)) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out + len1, &len2) != 1)
        return nullptr;
    block.resize(SALT_LEN + IV_LEN + static_cast<std::size_t>(len1 + len2));

    char *b64 = g_base64_encode(block.data(), block.size());
    char *result = g_strconcat(ENCRYPTED_PREFIX, b64, nullptr);
    g_free(b64);
    return result;
}

char *servlist_password_decrypt_for_storage(const char *stored)
{
    if (!stored || !stored[0])
        return nullptr;
    if (!servlist_password_is_encrypted(stored))
        return g_strdup(stored);

    wiped_gstring decoded;
    decoded.str = reinterpret_cast<char *>(g_base64_decode(stored + PREFIX_LEN, &decoded.len));
    if (!decoded.str || decoded.len <= SALT_LEN + IV_LEN)
        return nullptr;
    const auto *salt = reinterpret_cast<const unsigned char *>(decoded.str);
    const unsigned char *iv = salt + SALT_LEN;
    const unsigned char *cipher = iv + IV_LEN;
    const std::size_t cipher_len = decoded.len - SALT_LEN - IV_LEN;

    secret_bytes key(KEY_LEN);
    if (!derive_key(salt, key))
        return nullptr;

    secret_bytes plain(cipher_len + EVP_MAX_BLOCK_LENGTH);
    cipher_ctx ctx(EVP_CIPHER_CTX_new());
    int len1 = 0, len2 = 0;
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &len1, cipher, static_cast<int>(cipher_len)) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), plain.data() + len1, &len2) != 1)
        return nullptr;

    const std::size_t plain_len = static_cast<std::size_t>(len1 + len2);
    if (!usable_as_password(plain.data(), plain_len))
        return nullptr;
    return g_strndup(reinterpret_cast<const char *>(plain.data()), plain_len);
}

void servlist_password_free(char *password)
{
    if (!password)
        return;
    OPENSSL_cleanse(password, strlen(password));
    g_free(password);
}
