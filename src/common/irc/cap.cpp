// IRCv3 capability negotiation (CAP LS 302, REQ, ACK, NAK, NEW, DEL, LIST),
// SASL with PLAIN, EXTERNAL and SCRAM during registration, and the answer to
// a network service's challenge login.

#include "irc/cap.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "irc/scram.h"
#include "net/server.h"
#include "net/sts.h"
#include "net/tcp.h"
#include "output/text.h"
#include "servlist/servlist.h"

#include <glib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace
{

// The capabilities this client asks for, in the order it asks.
constexpr const char *REQUESTED_CAPS[] = {
    "multi-prefix",
    "away-notify",
    "account-notify",
    "extended-join",
    "server-time",
    "userhost-in-names",
    "cap-notify",
    "chghost",
    "setname",
    "invite-notify",
    "account-tag",
    "extended-monitor",
    "standard-replies",
    "message-tags",
    "echo-message",
    "znc.in/server-time-iso",
    "znc.in/server-time",
    "twitch.tv/membership",
    "solanum.chat/identify-msg",
};
constexpr int NUM_REQUESTED_CAPS = sizeof REQUESTED_CAPS / sizeof REQUESTED_CAPS[0];
// Bit of "sasl" in server::cap_requested, after the table's.
constexpr unsigned int SASL_REQUEST_BIT = 1u << NUM_REQUESTED_CAPS;
static_assert(NUM_REQUESTED_CAPS < 31, "cap_requested has one bit per capability");

constexpr const char *CAP_REQ_PREFIX = "CAP REQ :";
// A request line stays within this many bytes (its CR LF makes 501, well
// under the 512 of a line).
constexpr std::size_t CAP_REQ_MAX = 499;
// IRCv3 SASL: AUTHENTICATE carries at most 400 bytes of Base64; a piece of
// exactly 400 means more follows, and "+" ends a message that is a multiple
// of 400 long.
constexpr std::size_t AUTHENTICATE_CHUNK = 400;
// Longest server message reassembled from pieces; a SCRAM server message is
// a few hundred bytes, so this only stops a server that never ends one.
constexpr std::size_t AUTHENTICATE_MAX_INPUT = 16384;
// The challenge login hashes only the first 10 characters of the password.
constexpr std::size_t CHALLENGE_PASSWORD_CHARS = 10;

const char *const MECHANISM_NAMES[] = {"PLAIN", "EXTERNAL", "SCRAM-SHA-1", "SCRAM-SHA-256", "SCRAM-SHA-512"};

void emit(server *serv, int event, const char *a, const char *b = nullptr)
{
    if (serv->home_session)
        text_emit(event, serv->home_session, a, b, nullptr, nullptr, 0);
}

bool is_sasl_login(int method)
{
    return method == LOGIN_METHOD_SASL_PLAIN || method == LOGIN_METHOD_SASL_EXTERNAL ||
           method == LOGIN_METHOD_SCRAM_SHA_1 || method == LOGIN_METHOD_SCRAM_SHA_256 ||
           method == LOGIN_METHOD_SCRAM_SHA_512;
}

int mechanism_of(int method)
{
    switch (method) {
    case LOGIN_METHOD_SASL_EXTERNAL:
        return SASL_EXTERNAL;
    case LOGIN_METHOD_SCRAM_SHA_1:
        return SASL_SCRAM_SHA_1;
    case LOGIN_METHOD_SCRAM_SHA_256:
        return SASL_SCRAM_SHA_256;
    case LOGIN_METHOD_SCRAM_SHA_512:
        return SASL_SCRAM_SHA_512;
    default:
        return SASL_PLAIN;
    }
}

const char *scram_digest_of(int mech)
{
    switch (mech) {
    case SASL_SCRAM_SHA_1:
        return "SHA1";
    case SASL_SCRAM_SHA_256:
        return "SHA256";
    case SASL_SCRAM_SHA_512:
        return "SHA512";
    default:
        return nullptr;
    }
}

int requested_index(std::string_view name)
{
    for (int i = 0; i < NUM_REQUESTED_CAPS; i++) {
        if (name == REQUESTED_CAPS[i])
            return i;
    }
    return -1;
}

unsigned int request_bit(std::string_view name)
{
    if (name == "sasl")
        return SASL_REQUEST_BIT;
    const int i = requested_index(name);
    return i < 0 ? 0 : 1u << i;
}

// Splits "name=value"; `value` is null without "=".
struct cap_token {
    std::string name;
    std::string value;
    bool has_value = false;
};

cap_token split_token(std::string_view token)
{
    cap_token t;
    const std::size_t eq = token.find('=');
    t.name = std::string(token.substr(0, eq));
    if (eq != std::string_view::npos) {
        t.has_value = true;
        t.value = std::string(token.substr(eq + 1));
    }
    return t;
}

template <class F> void for_each_token(const char *text, F &&f)
{
    std::string_view rest(text ? text : "");
    while (!rest.empty()) {
        const std::size_t space = rest.find(' ');
        const std::string_view token = rest.substr(0, space);
        if (!token.empty() && !f(token))
            return;
        if (space == std::string_view::npos)
            break;
        rest.remove_prefix(space + 1);
    }
}

// Whether "sasl" (with its value, when the server gave one) should be
// requested under the network's login method; sets the mechanism.
bool sasl_wanted(server *serv, const cap_token &t)
{
    const int method = serv->login_method;
    if (method != LOGIN_METHOD_SASL_EXTERNAL && !(is_sasl_login(method) && serv->password[0]))
        return false;
    const int mech = mechanism_of(method);
    if (t.has_value) {
        bool offered = false;
        std::string_view list(t.value);
        while (true) {
            const std::size_t comma = list.find(',');
            if (list.substr(0, comma) == MECHANISM_NAMES[mech])
                offered = true;
            if (comma == std::string_view::npos)
                break;
            list.remove_prefix(comma + 1);
        }
        if (!offered)
            return false;
    }
    serv->sasl_mech = static_cast<unsigned int>(mech);
    return true;
}

// One or more "CAP REQ" lines, each within CAP_REQ_MAX bytes.
class cap_request
{
  public:
    explicit cap_request(server *serv) : serv_(serv) {}
    void add(const std::string &name)
    {
        if (line_.size() > strlen(CAP_REQ_PREFIX) && line_.size() + name.size() + 1 > CAP_REQ_MAX)
            send();
        if (line_.empty())
            line_ = CAP_REQ_PREFIX;
        line_ += name;
        line_ += ' ';
    }
    void send()
    {
        if (line_.size() <= strlen(CAP_REQ_PREFIX))
            return;
        emit(serv_, XP_TE_CAPABILITY_REQUEST, line_.c_str() + strlen(CAP_REQ_PREFIX));
        while (!line_.empty() && line_.back() == ' ')
            line_.pop_back();
        tcp_sendf(serv_, "%s\r\n", line_.c_str());
        line_.clear();
    }

  private:
    server *serv_;
    std::string line_;
};

// Requests what the server offers of our table (and sasl when the login
// wants it). True when an "sts" value started a reconnect: the connection
// this text came from is gone and nothing more may be done for it.
bool request_offered(server *serv, const char *text)
{
    cap_request req(serv);
    bool reconnecting = false;
    for_each_token(text, [&](std::string_view token) {
        const cap_token t = split_token(token);
        if (t.name == "sts") {
            if (!t.has_value) {
                if (serv->home_session)
                    PrintText(serv->home_session, _("Invalid STS capability token without a value; ignoring.\n"));
            } else if (sts_handle_capability(serv, t.value.c_str())) {
                reconnecting = true;
                return false;
            }
            return true;
        }
        if (t.name == "sasl") {
            // Only while registering: a login that starts afterwards would
            // surprise the user and the services alike.
            if (!serv->cap_ended && !(serv->cap_requested & SASL_REQUEST_BIT) && sasl_wanted(serv, t)) {
                req.add("sasl");
                serv->sasl_active = TRUE;
                serv->cap_requested |= SASL_REQUEST_BIT;
            }
            return true;
        }
        const int i = requested_index(t.name);
        // Asked once: a capability already requested is not asked again
        // until the server refuses or withdraws it.
        if (i >= 0 && !(serv->cap_requested & (1u << i))) {
            req.add(t.name);
            serv->cap_requested |= 1u << i;
        }
        return true;
    });
    if (reconnecting)
        return true;
    req.send();
    return false;
}

void end_negotiation(server *serv)
{
    if (serv->cap_ended)
        return;
    serv->cap_ended = TRUE;
    tcp_sendf(serv, "CAP END\r\n");
}

void set_flag(server *serv, std::string_view name, bool on)
{
    const unsigned int v = on ? 1 : 0;
    if (name == "multi-prefix")
        serv->cap_multi_prefix = v;
    else if (name == "away-notify")
        serv->cap_away_notify = v;
    else if (name == "userhost-in-names")
        serv->cap_userhost_in_names = v;
    else if (name == "solanum.chat/identify-msg")
        serv->cap_identify_msg = v;
    else if (name == "account-notify")
        serv->cap_account_notify = v;
    else if (name == "extended-join")
        serv->cap_extended_join = v;
    else if (name == "account-tag")
        serv->cap_account_tag = v;
    else if (name == "server-time" || name == "znc.in/server-time" || name == "znc.in/server-time-iso")
        serv->cap_server_time = v;
    else if (name == "message-tags")
        serv->cap_message_tags = v;
    else if (name == "echo-message")
        serv->cap_echo_message = v;
    else if (name == "sasl")
        serv->cap_sasl = v;
}

void send_authenticate_payload(server *serv, std::string_view payload)
{
    for (std::size_t at = 0; at < payload.size(); at += AUTHENTICATE_CHUNK) {
        const std::string_view piece = payload.substr(at, AUTHENTICATE_CHUNK);
        tcp_sendf(serv, "AUTHENTICATE %.*s\r\n", static_cast<int>(piece.size()), piece.data());
    }
    if (payload.size() % AUTHENTICATE_CHUNK == 0)
        tcp_sendf(serv, "AUTHENTICATE +\r\n");
}

void abort_sasl(server *serv)
{
    tcp_sendf(serv, "AUTHENTICATE *\r\n");
}

void end_scram(server *serv)
{
    scram_session_free(serv->scram_exchange);
    serv->scram_exchange = nullptr;
}

void scram_failed(server *serv, const char *why)
{
    if (why) {
        if (serv->home_session)
            PrintTextf(serv->home_session, _("SASL SCRAM authentication failed: %s\n"), why);
        g_warning("SASL SCRAM authentication failed: %s", why);
    }
    abort_sasl(serv);
    end_scram(serv);
}

const char *login_user(server *serv)
{
    const char *user = servlist_network_username(serv->network);
    return user && user[0] ? user : prefs.irc_user_name;
}

void sasl_scram_step(server *serv, const char *data)
{
    const int mech = serv->sasl_mech;
    if (!serv->scram_exchange) {
        const char *digest = scram_digest_of(mech);
        serv->scram_exchange = scram_session_create(digest, login_user(serv), serv->password);
        if (!serv->scram_exchange) {
            if (serv->home_session)
                PrintTextf(serv->home_session, _("Could not create SCRAM session with digest %s\n"),
                           digest ? digest : "?");
            g_warning("Could not create SCRAM session with digest %s", digest ? digest : "?");
            abort_sasl(serv);
            return;
        }
    }

    // Reassemble a server message that came in 400-byte pieces.
    secret_string &pending = scram_session_pending(serv->scram_exchange);
    const std::size_t len = strlen(data);
    if (len == AUTHENTICATE_CHUNK) {
        if (pending.size() + len > AUTHENTICATE_MAX_INPUT) {
            scram_failed(serv, _("The server's message is too long"));
            return;
        }
        pending += data;
        return;
    }
    secret_string message;
    message.swap(pending);
    if (strcmp(data, "+") != 0)
        message += data;

    secret_string decoded;
    const bool valid = scram_base64_decode(message, decoded);
    wipe_secret(message);
    if (!valid || decoded.find('\0') != secret_string::npos) {
        wipe_secret(decoded);
        scram_failed(serv, _("The server's message is not valid Base64 text"));
        return;
    }

    char *output = nullptr;
    std::size_t output_len = 0;
    const scram_status status = scram_process(serv->scram_exchange, decoded.c_str(), &output, &output_len);
    wipe_secret(decoded);
    switch (status) {
    case SCRAM_IN_PROGRESS: {
        secret_string encoded = scram_base64_encode(std::string_view(output, output_len));
        send_authenticate_payload(serv, encoded);
        wipe_secret(encoded);
        break;
    }
    case SCRAM_SUCCESS:
        tcp_sendf(serv, "AUTHENTICATE +\r\n");
        end_scram(serv);
        break;
    case SCRAM_ERROR:
        scram_failed(serv, scram_session_error(serv->scram_exchange));
        break;
    }
    if (output) {
        OPENSSL_cleanse(output, output_len);
        g_free(output);
    }
}

std::string to_hex(const unsigned char *bytes, std::size_t len)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (std::size_t i = 0; i < len; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool sha256_hex(std::string_view data, std::string &out)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), md, &len, EVP_sha256(), nullptr) != 1)
        return false;
    out = to_hex(md, len);
    OPENSSL_cleanse(md, sizeof md);
    return true;
}

} // namespace

const char *sasl_mechanism_name(int mech)
{
    if (mech < 0 || mech >= static_cast<int>(sizeof MECHANISM_NAMES / sizeof MECHANISM_NAMES[0]))
        return MECHANISM_NAMES[SASL_PLAIN];
    return MECHANISM_NAMES[mech];
}

void cap_reset_server(server *serv)
{
    serv->cap_ls_more = serv->sasl_active = FALSE;
    serv->sasl_mech = SASL_PLAIN;
    serv->cap_multi_prefix = serv->cap_away_notify = serv->cap_userhost_in_names = FALSE;
    serv->cap_identify_msg = serv->cap_account_notify = serv->cap_extended_join = FALSE;
    serv->cap_account_tag = serv->cap_server_time = serv->cap_message_tags = FALSE;
    serv->cap_echo_message = serv->cap_sasl = FALSE;
    serv->cap_requested = 0;
    serv->sts_upgrade_started = serv->sts_policy_active = FALSE;
    end_scram(serv);
}

void inbound_cap_ls(server *serv, char *sender, char *text)
{
    if (!text)
        text = const_cast<char *>("");
    if (text[0] == '*' && text[1] == ' ') {
        serv->cap_ls_more = TRUE;
        text += 2;
        if (text[0] == ':')
            text++;
    } else {
        serv->cap_ls_more = FALSE;
    }
    emit(serv, XP_TE_CAPABILITY_LIST, sender, text);
    if (request_offered(serv, text))
        return;
    if (!serv->cap_ls_more && !serv->sasl_active)
        end_negotiation(serv);
}

void inbound_cap_ack(server *serv, char *sender, char *text)
{
    bool reconnecting = false;
    for_each_token(text, [&](std::string_view token) {
        const cap_token t = split_token(token);
        if (t.name == "sts" && !t.value.empty() && sts_handle_capability(serv, t.value.c_str())) {
            reconnecting = true;
            return false;
        }
        return true;
    });
    if (reconnecting)
        return;
    emit(serv, XP_TE_CAPABILITY_ACKNOWLEDGEMENT, sender, text);

    for_each_token(text, [&](std::string_view token) {
        // "-name" acknowledges that a capability was switched off.
        const bool off = token[0] == '-';
        const cap_token t = split_token(off ? token.substr(1) : token);
        const unsigned int bit = request_bit(t.name);
        if (off) {
            set_flag(serv, t.name, false);
            serv->cap_requested &= ~bit;
            return true;
        }
        // Never switch on what we did not ask for: an unasked echo-message
        // would hide the user's own messages, an unasked sasl start a login.
        if (!bit || !(serv->cap_requested & bit))
            return true;
        set_flag(serv, t.name, true);
        if (bit == SASL_REQUEST_BIT) {
            // One AUTHENTICATE per request, however often the server repeats
            // its ACK.
            serv->cap_requested &= ~SASL_REQUEST_BIT;
            if (serv->sasl_active) {
                serv->sasl_mech = static_cast<unsigned int>(mechanism_of(serv->login_method));
                tcp_sendf(serv, "AUTHENTICATE %s\r\n", sasl_mechanism_name(serv->sasl_mech));
            }
        }
        return true;
    });
}

void inbound_cap_new(server *serv, char *sender, char *text)
{
    emit(serv, XP_TE_CAPABILITY_LIST, sender, text);
    // A capability offered later is asked for like one offered at first;
    // only the server's ACK switches it on.
    request_offered(serv, text);
}

void inbound_cap_del(server *serv, char *sender, char *text)
{
    // A server must never withdraw its policy; such a reply is not trusted.
    bool names_sts = false;
    for_each_token(text, [&](std::string_view token) {
        if (token == "sts" || token.substr(0, 4) == "sts=")
            names_sts = true;
        return !names_sts;
    });
    if (names_sts)
        return;
    emit(serv, XP_TE_CAPABILITY_DELETED, sender, text);
    bool sasl_gone = false;
    for_each_token(text, [&](std::string_view token) {
        const cap_token t = split_token(token);
        set_flag(serv, t.name, false);
        serv->cap_requested &= ~request_bit(t.name);
        if (t.name == "sasl")
            sasl_gone = true;
        return true;
    });
    // Registration waits for SASL to end; with the mechanism gone it never
    // would.
    if (sasl_gone && serv->sasl_active && !serv->cap_ended) {
        serv->sasl_active = FALSE;
        end_scram(serv);
        if (!serv->cap_ls_more)
            end_negotiation(serv);
    }
}

void inbound_cap_nak(server *serv, char *, char *text)
{
    for_each_token(text, [&](std::string_view token) {
        const cap_token t = split_token(token);
        if (t.name == "sasl")
            serv->sasl_active = FALSE;
        serv->cap_requested &= ~request_bit(t.name);
        return true;
    });
    if (!serv->cap_ended && !serv->cap_ls_more && !serv->sasl_active)
        end_negotiation(serv);
}

void inbound_cap_list(server *serv, char *sender, char *text)
{
    if (!text)
        text = const_cast<char *>("");
    if (text[0] == '*' && text[1] == ' ') {
        text += 2;
        if (text[0] == ':')
            text++;
    }
    emit(serv, XP_TE_CAPABILITY_ACKNOWLEDGEMENT, sender, text);
}

void inbound_sasl_authenticate(server *serv, char *data)
{
    // Only a login this client started is answered: a server cannot make it
    // hand out the password by sending AUTHENTICATE at any other time.
    if (!serv->sasl_active || !is_sasl_login(serv->login_method) || !data)
        return;
    if (data[0] == ':')
        data++;
    // A mechanism list from an old server.
    if (strchr(data, ','))
        return;

    const char *user = login_user(serv);
    const int mech = serv->sasl_mech;
    const char *mech_name = sasl_mechanism_name(mech);
    switch (mech) {
    case SASL_PLAIN: {
        // PLAIN has no challenge; anything but the empty one is refused.
        if (strcmp(data, "+") != 0) {
            abort_sasl(serv);
            return;
        }
        char *payload = encode_sasl_pass_plain(user, serv->password);
        if (!payload) {
            abort_sasl(serv);
            return;
        }
        send_authenticate_payload(serv, payload);
        OPENSSL_cleanse(payload, strlen(payload));
        g_free(payload);
        emit(serv, XP_TE_SASL_AUTHENTICATING, user, mech_name);
        return;
    }
    case SASL_EXTERNAL:
        if (strcmp(data, "+") != 0) {
            abort_sasl(serv);
            return;
        }
        // The client certificate sent in the TLS handshake is the credential.
        tcp_sendf(serv, "AUTHENTICATE +\r\n");
        emit(serv, XP_TE_SASL_AUTHENTICATING, user, mech_name);
        return;
    default:
        sasl_scram_step(serv, data);
        return;
    }
}

void inbound_sasl_error(server *serv)
{
    if (!serv->sasl_active)
        return;
    end_scram(serv);
    abort_sasl(serv);
}

char *encode_sasl_pass_plain(const char *user, const char *password)
{
    if (!user || !password)
        return nullptr;
    secret_string joined = user;
    joined += '\0';
    joined += user;
    joined += '\0';
    joined += password;
    secret_string encoded = scram_base64_encode(joined);
    wipe_secret(joined);
    char *out = g_strndup(encoded.data(), encoded.size());
    wipe_secret(encoded);
    return out;
}

char *challengeauth_response(const char *username, const char *password, const char *challenge)
{
    if (!username || !password || !challenge)
        return nullptr;
    std::string user = username;
    for (char &c : user)
        c = static_cast<char>(rfc_tolower(static_cast<unsigned char>(c)));

    const std::size_t pass_len = std::min(strlen(password), CHALLENGE_PASSWORD_CHARS);
    std::string key1, key2;
    if (!sha256_hex(std::string_view(password, pass_len), key1))
        return nullptr;
    secret_string both(user.data(), user.size());
    both += ':';
    both += key1;
    const bool ok = sha256_hex(both, key2);
    wipe_secret(both);
    OPENSSL_cleanse(key1.data(), key1.size());
    if (!ok)
        return nullptr;

    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    const unsigned char *r = HMAC(EVP_sha256(), key2.data(), static_cast<int>(key2.size()),
                                  reinterpret_cast<const unsigned char *>(challenge), strlen(challenge), mac, &mac_len);
    OPENSSL_cleanse(key2.data(), key2.size());
    if (!r)
        return nullptr;
    const std::string hex = to_hex(mac, mac_len);
    OPENSSL_cleanse(mac, sizeof mac);
    return g_strdup(hex.c_str());
}
