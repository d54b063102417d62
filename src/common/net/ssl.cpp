// TLS on OpenSSL: the client context, client certificates, the polled
// handshake with its verification, and the read and write wrappers.

#include "net/ssl.h"

#include "base/guard.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

int ssl_handshake_limit_seconds = 90;

namespace
{

struct ctx_free {
    void operator()(SSL_CTX *p) const { SSL_CTX_free(p); }
};
struct x509_free {
    void operator()(X509 *p) const { X509_free(p); }
};
struct names_free {
    void operator()(GENERAL_NAMES *p) const { GENERAL_NAMES_free(p); }
};
struct bio_free {
    void operator()(BIO *p) const { BIO_free(p); }
};
struct openssl_free {
    void operator()(unsigned char *p) const { OPENSSL_free(p); }
};
using ctx_ptr = std::unique_ptr<SSL_CTX, ctx_free>;
using x509_ptr = std::unique_ptr<X509, x509_free>;
using names_ptr = std::unique_ptr<GENERAL_NAMES, names_free>;
using bio_ptr = std::unique_ptr<BIO, bio_free>;
using openssl_bytes = std::unique_ptr<unsigned char, openssl_free>;

constexpr int HANDSHAKE_POLL_MS = 300;
constexpr long SESSION_CACHE_SECONDS = 300;
// OpenSSL's reason code for a record that is not TLS: typically a plain-text
// IRC server answering on the port.
constexpr int REASON_WRONG_VERSION_NUMBER = 267;

constexpr const char *CIPHER_LIST = "HIGH:!aNULL:!eNULL:!EXPORT:!DES:!RC4:!MD5:!PSK:!SRP:!DSS";
constexpr const char *TLS13_SUITES = "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256";

cipher_info last_cipher;

void print_library_error(const char *what)
{
    const unsigned long err = ERR_get_error();
    char text[256];
    ERR_error_string_n(err, text, sizeof text);
    fprintf(stderr, "%s: %s (%lu)\n", what, text, err);
}

void ssl_message(server *serv, const char *text)
{
    text_emit(XP_TE_SSL_MESSAGE, serv->home_session, text, serv->hostname, nullptr, nullptr, 0);
}

void ssl_messagef(server *serv, const char *format, ...) G_GNUC_PRINTF(2, 3);
void ssl_messagef(server *serv, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    ssl_message(serv, text);
    g_free(text);
}

void connection_failed(server *serv, const char *text)
{
    text_emit(XP_TE_CONNECTION_FAILED, serv->home_session, text, nullptr, nullptr, nullptr, 0);
}

// "/C=US/O=Org/CN=host" → fields "C=US", "O=Org", "CN=host".
void split_name(const char *oneline, char *buf, std::size_t size, const char **words)
{
    g_strlcpy(buf, oneline[0] == '/' ? oneline + 1 : oneline, size);
    int n = 0;
    char *p = buf;
    while (*p && n < SSL_CERT_MAX_FIELDS) {
        words[n++] = p;
        char *slash = strchr(p, '/');
        if (!slash)
            break;
        *slash = 0;
        p = slash + 1;
    }
    words[n] = nullptr;
}

void copy_name_or_unknown(char *dst, std::size_t size, int nid)
{
    const char *name = nid == NID_undef ? nullptr : OBJ_nid2ln(nid);
    g_strlcpy(dst, name ? name : "Unknown", size);
}

void print_time(char *dst, std::size_t size, const ASN1_TIME *t)
{
    dst[0] = 0;
    bio_ptr bio(BIO_new(BIO_s_mem()));
    if (!bio || !t || !ASN1_TIME_print(bio.get(), t))
        return;
    const int n = BIO_read(bio.get(), dst, static_cast<int>(size) - 1);
    dst[n > 0 ? n : 0] = 0;
}

bool parse_ip(const char *host, unsigned char *addr, std::size_t *len)
{
    if (inet_pton(AF_INET, host, addr) == 1) {
        *len = 4;
        return true;
    }
    if (inet_pton(AF_INET6, host, addr) == 1) {
        *len = 16;
        return true;
    }
    return false;
}

server *server_of(X509_STORE_CTX *store)
{
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return ssl ? static_cast<server *>(SSL_get_app_data(ssl)) : nullptr;
}

// Called by OpenSSL for each certificate of the chain.
int verify_step(int ok, X509_STORE_CTX *store)
{
    server *serv = server_of(store);
    if (!serv)
        return ok;
    char subject[256] = "";
    char issuer[256] = "";
    if (X509 *cert = X509_STORE_CTX_get_current_cert(store)) {
        X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
        X509_NAME_oneline(X509_get_issuer_name(cert), issuer, sizeof issuer);
    }
    ssl_messagef(serv, "* Subject: %s", subject);
    ssl_messagef(serv, "* Issuer: %s", issuer);
    if (ok)
        return 1;
    const int err = X509_STORE_CTX_get_error(store);
    ssl_messagef(serv, "* Verify E: %s (%d)", X509_verify_cert_error_string(err), err);
    return serv->allow_invalid_cert ? 1 : 0;
}

// OpenSSL's verify callback; a failure inside rejects the certificate.
int verify_callback(int ok, X509_STORE_CTX *store) noexcept
{
    return guarded("certificate check", 0, [&] { return verify_step(ok, store); });
}

void print_certificate(server *serv, const cert_info &info)
{
    ssl_message(serv, "* Certification info:");
    ssl_message(serv, "  Subject:");
    for (int i = 0; info.subject_word[i]; i++)
        ssl_messagef(serv, "    %s", info.subject_word[i]);
    ssl_message(serv, "  Issuer:");
    for (int i = 0; info.issuer_word[i]; i++)
        ssl_messagef(serv, "    %s", info.issuer_word[i]);
    ssl_messagef(serv, "  Public key algorithm: %s (%d bits)", info.algorithm, info.algorithm_bits);
    ssl_messagef(serv, "  Sign algorithm %s", info.sign_algorithm);
    ssl_messagef(serv, "  Valid since %s to %s", info.notbefore, info.notafter);
}

void print_cipher(server *serv)
{
    const cipher_info *c = ssl_get_cipher_info(serv->tls);
    ssl_message(serv, "* Cipher info:");
    ssl_messagef(serv, "  Version: %s, cipher %s (%u bits)", c->version, c->cipher,
                 static_cast<unsigned>(c->cipher_bits));
}

// Ends a handshake that did not succeed. The poll timer ends with this call,
// so its tag is forgotten first: cleanup must not remove it again.
void fail_handshake(server *serv, const char *text, bool may_reconnect)
{
    serv->handshake_timer = 0;
    connection_failed(serv, text);
    serv->cleanup(serv);
    if (may_reconnect && prefs.net_auto_reconnectonfail && serv->auto_reconnect)
        serv->auto_reconnect(serv, FALSE, -1, prefs.net_reconnect_delay);
}

// The verdict on a finished handshake: null when the connection is
// accepted, else the failure text.
std::string judge_peer(server *serv)
{
    cert_info info;
    if (ssl_get_cert_info(&info, serv->tls) != 0)
        return _("No Certificate");
    print_certificate(serv, info);
    print_cipher(serv);

    const long verify = SSL_get_verify_result(serv->tls);
    if (verify != X509_V_OK) {
        if (serv->allow_invalid_cert)
            return {};
        char *text = g_strdup_printf("%s.? (%ld)", X509_verify_cert_error_string(verify), verify);
        std::string result = text;
        g_free(text);
        return result;
    }
    x509_ptr peer(SSL_get1_peer_certificate(serv->tls));
    const int host = peer ? ssl_check_hostname(peer.get(), serv->hostname) : -1;
    if (host != 0) {
        ssl_messagef(serv, "* Verify E: Failed to validate hostname (%d)", host);
        if (!serv->allow_invalid_cert)
            return _("Failed to validate hostname");
    }
    return {};
}

// A failed handshake step. Certificate rejections are final; anything else
// (a plain-text port, a protocol mismatch) may be worth a retry.
void handshake_error(server *serv, int kind)
{
    const long verify = SSL_get_verify_result(serv->tls);
    const unsigned long err = ERR_peek_error();
    if (err && ERR_GET_REASON(err) == SSL_R_CERTIFICATE_VERIFY_FAILED && verify != X509_V_OK) {
        ERR_clear_error();
        char *text = g_strdup_printf("%s.? (%ld)", X509_verify_cert_error_string(verify), verify);
        fail_handshake(serv, text, false);
        g_free(text);
        return;
    }
    if (err) {
        ERR_clear_error();
        char reason[256];
        ERR_error_string_n(err, reason, sizeof reason);
        char *text = g_strdup_printf("(%lu) %s", err, reason);
        if (ERR_GET_REASON(err) == REASON_WRONG_VERSION_NUMBER)
            PrintText(serv->home_session, _("Are you sure this is a SSL capable server and port?\n"));
        else if (kind == SSL_ERROR_SSL)
            ssl_message(serv, "* TLS handshake rejected by protocol/certificate/cipher policy");
        fail_handshake(serv, text, true);
        g_free(text);
        return;
    }
    // No library error: the peer closed or reset the connection mid-way.
    const int sys = errno;
    fail_handshake(serv, sys ? g_strerror(sys) : _("Connection closed during the TLS handshake"), true);
}

bool handshake_expired(server *serv)
{
    SSL_SESSION *session = SSL_get_session(serv->tls);
    if (!session)
        return false;
    return time(nullptr) - SSL_SESSION_get_time(session) > ssl_handshake_limit_seconds;
}

// One step of the handshake: 1 while it goes on, 0 when it ended.
int handshake_step(server *serv)
{
    if (!is_server(serv) || !serv->tls) {
        if (is_server(serv))
            serv->handshake_timer = 0;
        return 0;
    }

    // The name only matters for the first flight; after that OpenSSL has
    // already sent it (or not).
    if (SSL_in_before(serv->tls)) {
        if (ssl_host_is_valid_sni(serv->hostname))
            SSL_set_tlsext_host_name(serv->tls, serv->hostname);
        else
            ssl_messagef(serv, "* Skipping invalid SNI hostname: %s", serv->hostname);
    }

    ERR_clear_error();
    errno = 0;
    const int r = SSL_connect(serv->tls);
    if (r != 1) {
        const int kind = SSL_get_error(serv->tls, r);
        if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
            if (!handshake_expired(serv))
                return 1;
            fail_handshake(serv, _("SSL handshake timed out"), true);
            return 0;
        }
        handshake_error(serv, kind);
        return 0;
    }

    const std::string failure = judge_peer(serv);
    serv->handshake_timer = 0;
    if (!failure.empty()) {
        connection_failed(serv, failure.c_str());
        serv->cleanup(serv);
        return 0;
    }
    server_stopconnecting(serv);
    server_connected(serv);
    return 0;
}

// The handshake poll, every HANDSHAKE_POLL_MS while it returns 1. A failure
// inside ends the attempt rather than leaving it connecting for ever.
int handshake_poll(void *data) noexcept
{
    auto *serv = static_cast<server *>(data);
    const int more = guarded("TLS handshake", -1, [&] { return handshake_step(serv); });
    if (more >= 0)
        return more;
    if (is_server(serv))
        guarded("TLS handshake", [&] { fail_handshake(serv, _("SSL handshake failed"), true); });
    return 0;
}

} // namespace

SSL_CTX *ssl_context_init(void (*info_cb)(const SSL *, int, int))
{
    ctx_ptr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx)
        return nullptr;
    SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_BOTH);
    SSL_CTX_set_timeout(ctx.get(), SESSION_CACHE_SECONDS);
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
    // A write that would block is repeated later from the send module's own
    // copy of the bytes, which is elsewhere in memory than the first try.
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (!SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION))
        return nullptr;
    if (!SSL_CTX_set_cipher_list(ctx.get(), CIPHER_LIST) || !SSL_CTX_set_ciphersuites(ctx.get(), TLS13_SUITES))
        return nullptr;
    if (info_cb)
        SSL_CTX_set_info_callback(ctx.get(), info_cb);
    return ctx.release();
}

const char *ssl_set_verify(SSL_CTX *ctx, int (*verify_cb)(int, X509_STORE_CTX *))
{
    static char error_text[400];
    if (!SSL_CTX_set_default_verify_paths(ctx)) {
        const unsigned long err = ERR_get_error();
        char text[256];
        ERR_error_string_n(err, text, sizeof text);
        snprintf(error_text, sizeof error_text, "%s: %s (%lu)\n", "SSL_CTX_set_default_verify_paths", text, err);
        return error_text;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, verify_cb);
    return nullptr;
}

SSL *ssl_socket(SSL_CTX *ctx, int fd)
{
    SSL *ssl = SSL_new(ctx);
    if (!ssl) {
        print_library_error("SSL_new");
        return nullptr;
    }
    if (!SSL_set_fd(ssl, fd)) {
        print_library_error("SSL_set_fd");
        SSL_free(ssl);
        return nullptr;
    }
    if (SSL_is_server(ssl))
        SSL_set_accept_state(ssl);
    else
        SSL_set_connect_state(ssl);
    return ssl;
}

namespace
{
// Reports what a read or write through the library came to. The caller tells
// "come back later" from "gone" by errno, so would-block becomes EAGAIN (a
// record that held no data leaves errno as the last syscall set it).
int report_io_result(SSL *ssl, int num, const char *call, const char *syscall_call)
{
    switch (SSL_get_error(ssl, num)) {
    case SSL_ERROR_SSL:
        print_library_error(call);
        break;
    case SSL_ERROR_SYSCALL:
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            perror(syscall_call);
        break;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        errno = EAGAIN;
        break;
    default:
        break;
    }
    return num;
}
} // namespace

int ssl_send(SSL *ssl, const char *buf, int len)
{
    if (len <= 0)
        return 0;
    ERR_clear_error();
    return report_io_result(ssl, SSL_write(ssl, buf, len), "SSL_write", "SSL_write/write");
}

int ssl_recv(SSL *ssl, char *buf, int len)
{
    ERR_clear_error();
    return report_io_result(ssl, SSL_read(ssl, buf, len), "SSL_read", "SSL_read/read");
}

bool ssl_has_buffered(const SSL *ssl)
{
    return SSL_pending(ssl) > 0 || SSL_has_pending(ssl) == 1;
}

void ssl_close(SSL *ssl)
{
    if (!ssl)
        return;
    SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(ssl);
    ERR_clear_error();
}

int ssl_get_cert_info(cert_info *info, SSL *ssl)
{
    memset(info, 0, sizeof *info);
    x509_ptr peer(SSL_get1_peer_certificate(ssl));
    if (!peer)
        return 1;
    EVP_PKEY *key = X509_get0_pubkey(peer.get());
    if (!key)
        return 1;

    X509_NAME_oneline(X509_get_subject_name(peer.get()), info->subject, sizeof info->subject);
    X509_NAME_oneline(X509_get_issuer_name(peer.get()), info->issuer, sizeof info->issuer);
    split_name(info->subject, info->subject_fields, sizeof info->subject_fields, info->subject_word);
    split_name(info->issuer, info->issuer_fields, sizeof info->issuer_fields, info->issuer_word);

    ASN1_OBJECT *key_alg = nullptr;
    X509_PUBKEY_get0_param(&key_alg, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(peer.get()));
    copy_name_or_unknown(info->algorithm, sizeof info->algorithm, key_alg ? OBJ_obj2nid(key_alg) : NID_undef);
    info->algorithm_bits = EVP_PKEY_get_bits(key);
    copy_name_or_unknown(info->sign_algorithm, sizeof info->sign_algorithm, X509_get_signature_nid(peer.get()));
    print_time(info->notbefore, sizeof info->notbefore, X509_get0_notBefore(peer.get()));
    print_time(info->notafter, sizeof info->notafter, X509_get0_notAfter(peer.get()));
    return 0;
}

cipher_info *ssl_get_cipher_info(SSL *ssl)
{
    memset(&last_cipher, 0, sizeof last_cipher);
    g_strlcpy(last_cipher.version, SSL_get_version(ssl), sizeof last_cipher.version);
    const SSL_CIPHER *c = SSL_get_current_cipher(ssl);
    g_strlcpy(last_cipher.cipher, c ? SSL_CIPHER_get_name(c) : "Unknown", sizeof last_cipher.cipher);
    int alg_bits = 0;
    last_cipher.cipher_bits = c ? SSL_CIPHER_get_bits(c, &alg_bits) : 0;
    return &last_cipher;
}

int ssl_match_hostname_pattern(const char *pattern, std::size_t len, const char *host)
{
    if (!pattern || !host || memchr(pattern, 0, len))
        return -1;
    const std::size_t host_len = strlen(host);
    if (len == host_len && g_ascii_strncasecmp(pattern, host, len) == 0)
        return 0;

    // "*." + a domain of at least two labels; the star stands for exactly
    // one whole label, so "*.com" or "*..x" never match anything.
    if (len < 3 || pattern[0] != '*' || pattern[1] != '.' || pattern[2] == '.')
        return -1;
    const char *domain = pattern + 2;
    const std::size_t domain_len = len - 2;
    const char *dot = static_cast<const char *>(memchr(domain, '.', domain_len));
    if (!dot || static_cast<std::size_t>(dot - domain) + 1 >= domain_len || dot[1] == '.')
        return -1;

    const char *host_dot = strchr(host, '.');
    if (!host_dot || host_dot == host || host_dot[1] == 0)
        return -1;
    const std::size_t suffix_len = host_len - static_cast<std::size_t>(host_dot - host);
    if (suffix_len != len - 1 || g_ascii_strncasecmp(pattern + 1, host_dot, suffix_len) != 0)
        return -1;
    return 0;
}

int ssl_check_hostname(X509 *cert, const char *host)
{
    if (!cert || !host)
        return -1;
    unsigned char addr[16];
    std::size_t addr_len = 0;
    const bool is_ip = parse_ip(host, addr, &addr_len);

    bool has_san = false;
    names_ptr names(static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
    const int count = names ? sk_GENERAL_NAME_num(names.get()) : 0;
    for (int i = 0; i < count; i++) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_IPADD) {
            has_san = true;
            const ASN1_OCTET_STRING *ip = name->d.iPAddress;
            if (is_ip && static_cast<std::size_t>(ASN1_STRING_length(ip)) == addr_len &&
                memcmp(ASN1_STRING_get0_data(ip), addr, addr_len) == 0)
                return 0;
        } else if (name->type == GEN_DNS) {
            has_san = true;
            if (is_ip)
                continue;
            const ASN1_STRING *dns = name->d.dNSName;
            if (ASN1_STRING_type(dns) != V_ASN1_IA5STRING) {
                g_warning("unhandled subjectAltName dNSName encoding (%d)", ASN1_STRING_type(dns));
                continue;
            }
            const auto *data = reinterpret_cast<const char *>(ASN1_STRING_get0_data(dns));
            const auto len = static_cast<std::size_t>(ASN1_STRING_length(dns));
            if (memchr(data, 0, len)) {
                g_warning("NUL byte in subjectAltName, probably a malicious certificate.");
                return -2;
            }
            if (ssl_match_hostname_pattern(data, len, host) == 0)
                return 0;
        }
    }
    // The common name is the pre-SAN convention; a certificate that lists
    // its names has said which ones it is valid for (RFC 6125).
    if (has_san)
        return -1;

    X509_NAME *subject = X509_get_subject_name(cert);
    int last = -1;
    for (int i = -1; (i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) >= 0;)
        last = i;
    if (last < 0)
        return -1;
    const ASN1_STRING *cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, last));
    // In UTF-8, so that a wide string's zero bytes are not taken for NULs
    // and an encoded U+0000 is.
    unsigned char *utf8 = nullptr;
    const int len = ASN1_STRING_to_UTF8(&utf8, cn);
    openssl_bytes owned(utf8);
    if (len < 0)
        return -1;
    const auto *text = reinterpret_cast<const char *>(utf8);
    if (memchr(text, 0, static_cast<std::size_t>(len))) {
        g_warning("NUL byte in Common Name field, probably a malicious certificate.");
        return -2;
    }
    if (is_ip)
        return static_cast<std::size_t>(len) == strlen(host) && memcmp(text, host, static_cast<std::size_t>(len)) == 0
                   ? 0
                   : -1;
    return ssl_match_hostname_pattern(text, static_cast<std::size_t>(len), host);
}

bool ssl_host_is_valid_sni(const char *host)
{
    if (!host || !host[0])
        return false;
    for (const char *p = host; *p; p++) {
        if (static_cast<unsigned char>(*p) >= 0x80)
            return false;
    }
    unsigned char addr[16];
    std::size_t len;
    if (parse_ip(host, addr, &len))
        return false;
    const std::size_t n = strlen(host);
    if (n > 2 && host[0] == '[' && host[n - 1] == ']') {
        std::string inner(host + 1, n - 2);
        if (parse_ip(inner.c_str(), addr, &len))
            return false;
    }
    return true;
}

std::string ssl_client_cert_name(const char *network)
{
    std::string safe = network ? network : "";
    for (char &c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f)
            c = '_';
    }
    if (!safe.empty() && safe[0] == '.')
        safe[0] = '_';
    return safe;
}

void ssl_load_client_cert(server *serv)
{
    serv->client_cert_loaded = FALSE;
    if (!serv->tls_context)
        return;

    // The network name comes from the user's server list or a server's tab
    // name; it must not lead out of the certs folder or to a hidden file.
    const std::string safe = ssl_client_cert_name(server_get_network(serv, false));

    std::string path;
    bool have_cert = false;
    if (!safe.empty()) {
        path = std::string(get_xdir()) + "/certs/" + safe + ".pem";
        have_cert = SSL_CTX_use_certificate_file(serv->tls_context, path.c_str(), SSL_FILETYPE_PEM) == 1;
    }
    if (!have_cert) {
        path = std::string(get_xdir()) + "/certs/client.pem";
        have_cert = SSL_CTX_use_certificate_file(serv->tls_context, path.c_str(), SSL_FILETYPE_PEM) == 1;
    }
    if (have_cert && SSL_CTX_use_PrivateKey_file(serv->tls_context, path.c_str(), SSL_FILETYPE_PEM) == 1)
        serv->client_cert_loaded = TRUE;
    // A missing file is normal; its error must not be taken for the
    // handshake's later.
    ERR_clear_error();
}

void ssl_start_handshake(server *serv)
{
    if (!serv->tls_context) {
        connection_failed(serv, _("No TLS context for this connection"));
        serv->cleanup(serv);
        return;
    }
    if (const char *err = ssl_set_verify(serv->tls_context, verify_callback)) {
        connection_failed(serv, err);
        serv->cleanup(serv);
        return;
    }
    serv->tls = ssl_socket(serv->tls_context, serv->sock);
    if (!serv->tls) {
        connection_failed(serv, _("Could not create the TLS connection"));
        serv->cleanup(serv);
        return;
    }
    SSL_set_app_data(serv->tls, serv);
    const int flags = fcntl(serv->sock, F_GETFL);
    if (flags >= 0)
        fcntl(serv->sock, F_SETFL, flags | O_NONBLOCK);
    serv->handshake_timer = fe_timeout_add(HANDSHAKE_POLL_MS, handshake_poll, serv);
}
