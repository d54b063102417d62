// The TLS side of a server connection on OpenSSL: the client context, the
// client certificate, the polled non-blocking handshake with certificate and
// host-name verification, and the read and write wrappers.
#pragma once

#include <string>

#include <cstddef>

struct server;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct x509_st X509;
typedef struct x509_store_ctx_st X509_STORE_CTX;

// Subject and issuer are split into at most this many "/" fields.
inline constexpr int SSL_CERT_MAX_FIELDS = 32;

struct cert_info {
    char subject[256]; // one-line name, "/C=../CN=.."
    char issuer[256];
    // The fields of each name ("CN=host"), null-terminated arrays pointing
    // into the *_fields buffers.
    char subject_fields[256];
    char issuer_fields[256];
    const char *subject_word[SSL_CERT_MAX_FIELDS + 1];
    const char *issuer_word[SSL_CERT_MAX_FIELDS + 1];
    char algorithm[32]; // public key; "Unknown" when unnamed
    int algorithm_bits;
    char sign_algorithm[32];
    char notbefore[32]; // as the library prints validity dates
    char notafter[32];
};

struct cipher_info {
    char version[16];
    char cipher[48];
    int cipher_bits;
};

// The handshake of one connection is given up after this many seconds.
extern int ssl_handshake_limit_seconds;

// A new client context with the client's fixed settings (TLS 1.2 or later,
// session cache, no compression, tickets or renegotiation), or null. The
// caller owns it (SSL_CTX_free).
SSL_CTX *ssl_context_init(void (*info_cb)(const SSL *, int, int));
// Loads the system trust store and asks for peer verification through
// `verify_cb`. Null on success, else an error text (static, overwritten by
// the next call).
const char *ssl_set_verify(SSL_CTX *ctx, int (*verify_cb)(int, X509_STORE_CTX *));
// A TLS connection on descriptor `fd` (client side for a client context),
// or null with the library error on standard error. Freed by ssl_close.
SSL *ssl_socket(SSL_CTX *ctx, int fd);
// SSL_write/SSL_read; errors other than "try again" go to standard error.
// After a read or write that would block, errno is EAGAIN.
int ssl_send(SSL *ssl, const char *buf, int len);
int ssl_recv(SSL *ssl, char *buf, int len);
// Whether the TLS layer holds received bytes that no read has taken yet:
// the socket will not wake anyone for them.
bool ssl_has_buffered(const SSL *ssl);
// Marks both directions shut down without waiting and frees `ssl`.
void ssl_close(SSL *ssl);
// Fills `info` from the peer's certificate: 0, or 1 when there is none or
// its public key is unreadable.
int ssl_get_cert_info(cert_info *info, SSL *ssl);
// The negotiated protocol and cipher; a process-wide record overwritten by
// each call.
cipher_info *ssl_get_cipher_info(SSL *ssl);
// Whether `cert` is valid for `host` (a name or an IP literal): 0 match,
// -1 no match, -2 a NUL byte inside a name (a forged certificate).
int ssl_check_hostname(X509 *cert, const char *host);
// One certificate name pattern (`len` bytes, may hold a "*." wildcard for
// exactly one leftmost label) against `host`: 0 match, -1 no match.
int ssl_match_hostname_pattern(const char *pattern, std::size_t len, const char *host);
// Whether `host` may be sent as the server name (SNI): non-empty ASCII and
// not an IP address, bracketed or not.
bool ssl_host_is_valid_sni(const char *host);

// Loads certs/<network>.pem (else certs/client.pem) of the configuration
// directory into the server's context; sets client_cert_loaded when both the
// certificate and its key loaded.
void ssl_load_client_cert(server *serv);
// The file name (without ".pem") under certs/ of a network's client
// certificate: '/', '\\' and control characters become '_', and so does a
// leading '.', so no name leads out of the folder or to a hidden file.
std::string ssl_client_cert_name(const char *network);
// Starts the TLS handshake on the connected serv->sock, polled every 300 ms;
// on success the server goes on to its connected step, on failure it is
// reported ("Connection Failed") and cleaned up.
void ssl_start_handshake(server *serv);
