// Strict transport security (IRCv3 "sts"): policies learnt from servers,
// kept per host in memory and in sts.conf, applied before every connection.
#pragma once

#include <ctime>
#include <ostream>
#include <string>
#include <string_view>

struct server;

// Creates the store and, once per process until sts_cleanup, loads sts.conf
// (unexpired policies with a duration only).
void sts_init(void);
// Writes every unexpired policy with a duration to sts.conf (atomically,
// mode 0600). Nothing is written before the file was loaded.
void sts_save(void);
// Saves, empties the store and lets a later sts_init load the file again.
void sts_cleanup(void);

// Applies a stored policy to a connection about to start: may switch `serv`
// to TLS and change *port. False when the connection must not go ahead
// (never, at present: a policy only ever makes a connection stricter).
bool sts_apply_policy_for_connection(server *serv, const char *host, int *port);
// The value of an "sts" capability offered on `serv`'s connection. Over TLS
// it stores, refreshes or (duration 0) removes the host's policy. On a plain
// connection with a port it starts a reconnect with TLS on that port and
// returns 1 (also when this connection already started one); else 0.
int sts_handle_capability(server *serv, const char *value);
// A connection that held a policy ends: the policy runs its full duration
// from now.
void sts_reschedule_on_disconnect(server *serv);

// One policy. `host` is owned and normalized.
struct sts_profile {
    char *host;
    unsigned short port;    // 0: none
    time_t expiry;          // seconds since the epoch; 0: none
    unsigned long duration; // seconds
    bool preload;
};
// A new policy (host copied as given); sts_profile_free it.
sts_profile *sts_profile_new(const char *host, unsigned short port, time_t expiry, unsigned long duration,
                             bool preload);
void sts_profile_free(sts_profile *profile);
// One sts.conf line without its line feed: "host port expiry [duration] [1]"
// (g_free).
char *sts_profile_serialize(const sts_profile *profile);
// Reads one sts.conf line; null when it is not a policy.
sts_profile *sts_profile_deserialize(const char *line);

// The parsed value of an "sts" capability ("port=6697,duration=300").
struct sts_value {
    bool has_port = false;
    unsigned short port = 0;
    bool has_duration = false;
    unsigned long duration = 0;
    bool preload = false;
    bool operator==(const sts_value &) const = default;
};
std::ostream &operator<<(std::ostream &os, const sts_value &v);
// False when the value must be ignored as a whole: a malformed port or
// duration, or a key given twice. Unknown keys are skipped.
bool sts_parse_value(std::string_view value, sts_value *out);
// The store's key for a host: trimmed, ASCII lower case, IPv6 brackets
// removed. Empty when there is no usable host (blank; or holding blanks,
// control characters or brackets inside, or starting with "#", which
// sts.conf could not hold).
std::string sts_normalize_host(std::string_view host);
// The policy for `host` (borrowed), dropping it first when it has expired;
// null when none.
const sts_profile *sts_find(const char *host);
// now + duration, clamped so that no duration can overflow the expiry.
time_t sts_expiry_after(time_t now, unsigned long duration);
// The latest expiry ever stored (the last second of the year 9999).
inline constexpr time_t STS_EXPIRY_MAX = 253402300799;

// The clock of the store (seconds); time(nullptr) by default. Tests move it.
extern time_t (*sts_clock)(void);
