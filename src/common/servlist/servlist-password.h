// Stored passwords of the server list in their encrypted text form:
// "enc:" + Base64(salt[16] + iv[16] + AES-256-CBC ciphertext), the key
// derived with PBKDF2-HMAC-SHA-256 from "<login name>|<configuration
// directory>". Plain-text passwords of older files pass through unchanged.
#pragma once

// Key derivation rounds of the stored format; about a tenth of a second or
// more, so it runs only when a network that needs it connects.
inline constexpr int SERVLIST_PASSWORD_ITERATIONS = 300000;

// Whether `text` has the encrypted form (longer than 3 and starts "enc:").
bool servlist_password_is_encrypted(const char *text);
// The encrypted form of `plain` (g_free), fresh salt and vector each time;
// null for an empty or absent text or when the random source, the key
// derivation or the cipher fails.
char *servlist_password_encrypt_for_storage(const char *plain);
// The plain password of a stored text (servlist_password_free): a copy when
// it is not encrypted. Null for empty input, a block of 32 bytes or less, a
// wrong key or bad padding, and for a result that a server line could not
// carry (NUL, CR, LF or invalid UTF-8).
char *servlist_password_decrypt_for_storage(const char *stored);
// Wipes and frees a password string; null is fine.
void servlist_password_free(char *password);
