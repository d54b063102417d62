// A network's TLS client certificate: certs/<network>.pem in the
// configuration directory (private key, then certificate; mode 0600), made,
// imported, described and removed for the network list window. The openssl
// tool does the certificate work and runs synchronously.
#pragma once

#include <string>

struct ircnet;

// What a certificate action came to, in words for a message box.
struct servlist_cert_result {
    bool ok = false;
    std::string message; // "Client certificate generated for "Net"." ...
    std::string detail;  // the tool's output (info) or its error output
};

// The file's path; the name is made safe as the connection does it ('/' and
// '\' become '_', so does a leading '.').
std::string servlist_cert_path(const ircnet *net);
bool servlist_cert_exists(const ircnet *net);
// A new P-256 key and self-signed certificate (ten years, CN = network name).
servlist_cert_result servlist_cert_generate(const ircnet *net);
// Copies `file` byte for byte as the network's certificate.
servlist_cert_result servlist_cert_import(const ircnet *net, const char *file);
// Subject, issuer, validity and SHA-256 fingerprint.
servlist_cert_result servlist_cert_info(const ircnet *net);
servlist_cert_result servlist_cert_delete(const ircnet *net);
