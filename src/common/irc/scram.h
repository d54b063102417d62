// The parts of the SCRAM client that the SASL code and the tests reach
// beyond the scram_ functions of cap.h.
#pragma once

#include "base/secret.h"
#include "irc/cap.h"

#include <openssl/crypto.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// A hostile server must not be able to make the client spend minutes in
// PBKDF2: iteration counts above this are refused (RFC 7677 suggests 4096;
// real servers stay far below this ceiling).
inline constexpr long SCRAM_MAX_ITERATIONS = 1000000;

// The error text of a failed exchange (borrowed), or null when none.
const char *scram_session_error(const scram_exchange *session);
// Server data that arrived in 400-byte AUTHENTICATE pieces and waits for the
// rest of its message (Base64 text, as received).
secret_string &scram_session_pending(scram_exchange *session);

// Strict standard Base64 with padding (RFC 4648 section 4): false for any
// other character, a bad length or misplaced padding. "" decodes to "".
bool scram_base64_decode(std::string_view text, secret_string &out);
secret_string scram_base64_encode(std::string_view bytes);

// For tests: sessions created from now on use `nonce` as their client nonce
// instead of random bytes; null goes back to random nonces.
void scram_set_test_nonce(const char *nonce);
