// IRCv3 capability negotiation, SASL (PLAIN, EXTERNAL, SCRAM) and the
// challenge login. Called by the line parser.
#pragma once

#include <cstddef>

struct server;
struct scram_exchange;

// The SASL mechanisms, as kept in server::sasl_mech.
enum sasl_mechanism {
    SASL_PLAIN = 0,
    SASL_EXTERNAL = 1,
    SASL_SCRAM_SHA_1 = 2,
    SASL_SCRAM_SHA_256 = 3,
    SASL_SCRAM_SHA_512 = 4,
};
// The name sent in "AUTHENTICATE <name>" ("PLAIN", "SCRAM-SHA-256", ...).
const char *sasl_mechanism_name(int mech);

// Clears the capability and SASL state of `serv` and ends any SCRAM exchange,
// for a connection that starts from nothing. Called by server_set_defaults.
void cap_reset_server(server *serv);

void inbound_cap_ls(server *serv, char *sender, char *text);
void inbound_cap_ack(server *serv, char *sender, char *text);
void inbound_cap_new(server *serv, char *sender, char *text);
void inbound_cap_del(server *serv, char *sender, char *text);
void inbound_cap_nak(server *serv, char *sender, char *text);
void inbound_cap_list(server *serv, char *sender, char *text);
// An AUTHENTICATE line from the server.
void inbound_sasl_authenticate(server *serv, char *data);
// Numeric 904: the SASL login failed.
void inbound_sasl_error(server *serv);

// Base64 of "user\0user\0password" (g_free; wipe before freeing).
char *encode_sasl_pass_plain(const char *user, const char *password);

// A SCRAM client exchange over "SHA1", "SHA256" or "SHA512"; null for an
// unknown digest.
scram_exchange *scram_session_create(const char *digest, const char *user, const char *password);
void scram_session_free(scram_exchange *session);
enum scram_status { SCRAM_ERROR = 0, SCRAM_IN_PROGRESS = 1, SCRAM_SUCCESS = 2 };
// Feeds the server's message (raw, not Base64) and produces the next client
// message (g_malloc'd, raw) in *output.
scram_status scram_process(scram_exchange *session, const char *input, char **output, std::size_t *output_len);

// The answer to a challenge login: 64 lowercase hex characters (g_free).
char *challengeauth_response(const char *username, const char *password, const char *challenge);
