// The client side of SCRAM (RFC 5802, with SHA-256 from RFC 7677 and
// SHA-512 used the same way) on OpenSSL: three steps, client-first,
// client-final with the proof, and the check of the server's signature.

#include "irc/scram.h"

#include "base/lumenwick.h"

#include <glib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

// 18 random bytes make a 24-character Base64 nonce without padding.
constexpr int CLIENT_NONCE_BYTES = 18;
// The GS2 header "n,," (no channel binding, no authorization identity) in
// Base64, as client-final-message repeats it.
constexpr const char *GS2_HEADER = "n,,";
constexpr const char *GS2_HEADER_B64 = "biws";

std::string test_nonce;
bool use_test_nonce;

struct md_ctx_free {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
using md_ctx_ptr = std::unique_ptr<EVP_MD_CTX, md_ctx_free>;

const EVP_MD *digest_by_name(const char *name)
{
    if (!name)
        return nullptr;
    if (!strcmp(name, "SHA1"))
        return EVP_sha1();
    if (!strcmp(name, "SHA256"))
        return EVP_sha256();
    if (!strcmp(name, "SHA512"))
        return EVP_sha512();
    return nullptr;
}

int b64_value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// RFC 5802 section 5.1: "=" and "," inside a user name are written "=3D"
// and "=2C", since both delimit the message's attributes.
secret_string escape_user(const char *user)
{
    secret_string out;
    for (const char *p = user; *p; p++) {
        if (*p == '=')
            out += "=3D";
        else if (*p == ',')
            out += "=2C";
        else
            out += *p;
    }
    return out;
}

// The value of the first attribute "<key>=" among `parts`, or null.
const secret_string *attribute(const std::vector<secret_string> &parts, char key)
{
    for (const secret_string &part : parts) {
        if (part.size() >= 2 && part[0] == key && part[1] == '=')
            return &part;
    }
    return nullptr;
}

// A whole decimal number; false for anything else. Numbers too large for a
// long come back as LONG_MAX so that the range check refuses them.
bool parse_count(std::string_view text, long *out)
{
    if (text.empty())
        return false;
    bool negative = false;
    std::size_t i = 0;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return false;
    long value = 0;
    for (; i < text.size(); i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        // Saturate, and keep checking that the rest are digits.
        value = value > (LONG_MAX - 9) / 10 ? LONG_MAX : value * 10 + (text[i] - '0');
    }
    *out = negative ? -value : value;
    return true;
}

} // namespace

struct scram_exchange {
    const EVP_MD *md = nullptr;
    std::string digest;
    std::size_t digest_size = 0;
    secret_string user;
    secret_string password;
    secret_string client_nonce;
    secret_string client_first_bare;
    secret_bytes salted_password;
    secret_string auth_message;
    secret_string pending;
    std::string error;
    bool has_error = false;
    int step = 0;
    bool fixed_nonce = false;

    ~scram_exchange()
    {
        wipe_secret(user);
        wipe_secret(password);
        wipe_secret(client_nonce);
        wipe_secret(client_first_bare);
        wipe_secret(auth_message);
        wipe_secret(pending);
    }

    scram_status fail(std::string text)
    {
        error = std::move(text);
        has_error = true;
        step = -1;
        return SCRAM_ERROR;
    }

    bool hmac(const secret_bytes &key, std::string_view data, secret_bytes &out) const
    {
        out.assign(digest_size, 0);
        unsigned int len = 0;
        const unsigned char *r =
            HMAC(md, key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char *>(data.data()),
                 data.size(), out.data(), &len);
        return r && len == digest_size;
    }

    // H(data), with the library's three steps reported apart.
    bool hash(const secret_bytes &data, secret_bytes &out)
    {
        md_ctx_ptr ctx(EVP_MD_CTX_new());
        if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) {
            fail(_("Message digest initialization failed"));
            return false;
        }
        if (EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1) {
            fail(_("Message digest update failed"));
            return false;
        }
        out.assign(digest_size, 0);
        unsigned int len = 0;
        if (EVP_DigestFinal_ex(ctx.get(), out.data(), &len) != 1 || len != digest_size) {
            fail(_("Message digest finalization failed"));
            return false;
        }
        return true;
    }

    scram_status client_first(char **output, std::size_t *output_len);
    scram_status client_final(const char *input, char **output, std::size_t *output_len);
    scram_status verify_server(const char *input);
};

namespace
{

void hand_out(const secret_string &text, char **output, std::size_t *output_len)
{
    char *copy = static_cast<char *>(g_malloc(text.size() + 1));
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = 0;
    *output = copy;
    *output_len = text.size();
}

} // namespace

scram_status scram_exchange::client_first(char **output, std::size_t *output_len)
{
    if (!fixed_nonce) {
        unsigned char raw[CLIENT_NONCE_BYTES];
        if (RAND_bytes(raw, sizeof raw) != 1)
            return fail(_("Could not create client nonce"));
        client_nonce = scram_base64_encode(std::string_view(reinterpret_cast<char *>(raw), sizeof raw));
        OPENSSL_cleanse(raw, sizeof raw);
    }
    secret_string escaped = escape_user(user.c_str());
    client_first_bare = "n=";
    client_first_bare += escaped;
    client_first_bare += ",r=";
    client_first_bare += client_nonce;
    wipe_secret(escaped);

    secret_string message = GS2_HEADER;
    message += client_first_bare;
    hand_out(message, output, output_len);
    wipe_secret(message);
    step = 1;
    return SCRAM_IN_PROGRESS;
}

scram_status scram_exchange::client_final(const char *input, char **output, std::size_t *output_len)
{
    const secret_string server_first = input;
    std::vector<secret_string> parts;
    {
        secret_string part;
        for (char c : server_first) {
            if (c == ',') {
                parts.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
        parts.push_back(part);
        wipe_secret(part);
    }
    // RFC 5802 section 5.1: a mandatory extension the client does not know
    // ("m=" first) must make it fail.
    const bool mandatory_extension = parts[0].size() >= 2 && parts[0][0] == 'm' && parts[0][1] == '=';
    const secret_string *r = attribute(parts, 'r');
    const secret_string *s = attribute(parts, 's');
    const secret_string *i = attribute(parts, 'i');
    long iterations = 0;
    if (parts.size() < 3 || mandatory_extension || !r || r->size() <= 2 || !s || s->size() <= 2 || !i ||
        !parse_count(std::string_view(*i).substr(2), &iterations) || iterations == 0) {
        char *text = g_strdup_printf(_("Invalid server-first-message: %s"), server_first.c_str());
        std::string copy = text;
        g_free(text);
        return fail(copy);
    }
    if (iterations < 0 || iterations > SCRAM_MAX_ITERATIONS) {
        char *text = g_strdup_printf(_("Refusing the server's iteration count %s (allowed: 1 to %ld)"), i->c_str() + 2,
                                     SCRAM_MAX_ITERATIONS);
        std::string copy = text;
        g_free(text);
        return fail(copy);
    }
    const std::string_view server_nonce = std::string_view(*r).substr(2);
    if (server_nonce.size() < client_nonce.size() || server_nonce.compare(0, client_nonce.size(), client_nonce) != 0) {
        char *text = g_strdup_printf(_("Invalid server nonce: %.*s"), static_cast<int>(server_nonce.size()),
                                     server_nonce.data());
        std::string copy = text;
        g_free(text);
        return fail(copy);
    }
    secret_string salt;
    if (!scram_base64_decode(std::string_view(*s).substr(2), salt) || salt.empty()) {
        char *text = g_strdup_printf(_("Invalid server-first-message: %s"), server_first.c_str());
        std::string copy = text;
        g_free(text);
        return fail(copy);
    }

    salted_password.assign(digest_size, 0);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.data()), static_cast<int>(salt.size()),
                          static_cast<int>(iterations), md, static_cast<int>(digest_size),
                          salted_password.data()) != 1) {
        wipe_secret(salt);
        return fail(_("Message digest initialization failed"));
    }
    wipe_secret(salt);
    // The password is not needed any more.
    wipe_secret(password);

    secret_string without_proof = "c=";
    without_proof += GS2_HEADER_B64;
    without_proof += ",r=";
    without_proof.append(server_nonce.data(), server_nonce.size());

    auth_message = client_first_bare;
    auth_message += ',';
    auth_message += server_first;
    auth_message += ',';
    auth_message += without_proof;

    secret_bytes client_key, stored_key, client_signature;
    if (!hmac(salted_password, "Client Key", client_key))
        return fail(_("Message digest initialization failed"));
    if (!hash(client_key, stored_key))
        return SCRAM_ERROR;
    if (!hmac(stored_key, auth_message, client_signature))
        return fail(_("Message digest initialization failed"));
    secret_bytes proof(digest_size);
    for (std::size_t k = 0; k < digest_size; k++)
        proof[k] = client_key[k] ^ client_signature[k];

    secret_string message = without_proof;
    message += ",p=";
    message += scram_base64_encode(std::string_view(reinterpret_cast<const char *>(proof.data()), proof.size()));
    hand_out(message, output, output_len);
    wipe_secret(message);
    wipe_secret(without_proof);
    step = 2;
    return SCRAM_IN_PROGRESS;
}

scram_status scram_exchange::verify_server(const char *input)
{
    step = -1;
    if (strncmp(input, "v=", 2) != 0 || strlen(input) <= 2) {
        // "e=" carries the server's reason (RFC 5802 section 7).
        if (!strncmp(input, "e=", 2)) {
            char *text = g_strdup_printf(_("The server refused the proof: %s"), input + 2);
            std::string copy = text;
            g_free(text);
            return fail(copy);
        }
        char *text = g_strdup_printf(_("Invalid server-final-message: %s"), input);
        std::string copy = text;
        g_free(text);
        return fail(copy);
    }
    secret_bytes server_key, server_signature;
    if (!hmac(salted_password, "Server Key", server_key) || !hmac(server_key, auth_message, server_signature))
        return fail(_("Message digest initialization failed"));
    secret_string received;
    // A signature that does not match means the server does not know the
    // password: it may be an impostor, so the user is told.
    if (!scram_base64_decode(input + 2, received) || received.size() != server_signature.size() ||
        CRYPTO_memcmp(received.data(), server_signature.data(), server_signature.size()) != 0) {
        wipe_secret(received);
        return fail(_("The server's signature is wrong"));
    }
    wipe_secret(received);
    return SCRAM_SUCCESS;
}

scram_exchange *scram_session_create(const char *digest, const char *user, const char *password)
{
    const EVP_MD *md = digest_by_name(digest);
    if (!md)
        return nullptr;
    auto *session = new scram_exchange;
    session->md = md;
    session->digest = digest;
    session->digest_size = static_cast<std::size_t>(EVP_MD_get_size(md));
    session->user = user ? user : "";
    session->password = password ? password : "";
    if (use_test_nonce) {
        session->client_nonce.assign(test_nonce.data(), test_nonce.size());
        session->fixed_nonce = true;
    }
    return session;
}

void scram_session_free(scram_exchange *session)
{
    delete session;
}

scram_status scram_process(scram_exchange *session, const char *input, char **output, std::size_t *output_len)
{
    *output = nullptr;
    *output_len = 0;
    if (!session)
        return SCRAM_ERROR;
    if (!input)
        input = "";
    switch (session->step) {
    case 0:
        return session->client_first(output, output_len);
    case 1:
        return session->client_final(input, output, output_len);
    case 2:
        return session->verify_server(input);
    default:
        return SCRAM_ERROR;
    }
}

const char *scram_session_error(const scram_exchange *session)
{
    return session && session->has_error ? session->error.c_str() : nullptr;
}

secret_string &scram_session_pending(scram_exchange *session)
{
    return session->pending;
}

bool scram_base64_decode(std::string_view text, secret_string &out)
{
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; k++) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                pad++;
                continue;
            }
            // Data after padding, or padding anywhere else.
            if (pad)
                return false;
            v[k] = b64_value(c);
            if (v[k] < 0)
                return false;
        }
        const unsigned int n = (static_cast<unsigned int>(v[0]) << 18) | (static_cast<unsigned int>(v[1]) << 12) |
                               (static_cast<unsigned int>(v[2]) << 6) | static_cast<unsigned int>(v[3]);
        out += static_cast<char>((n >> 16) & 0xff);
        if (pad < 2)
            out += static_cast<char>((n >> 8) & 0xff);
        if (pad < 1)
            out += static_cast<char>(n & 0xff);
    }
    return true;
}

secret_string scram_base64_encode(std::string_view bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    secret_string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned int n = (static_cast<unsigned char>(bytes[i]) << 16) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                               static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest) {
        unsigned int n = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += rest == 2 ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

void scram_set_test_nonce(const char *nonce)
{
    use_test_nonce = nonce != nullptr;
    test_nonce = nonce ? nonce : "";
}
