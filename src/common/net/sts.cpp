// Strict transport security: the policy store with sts.conf, the upgrade of
// a plain connection to TLS, and the expiry that restarts at disconnect.

#include "net/sts.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "net/server.h"
#include "output/text.h"

#include <glib.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

time_t (*sts_clock)(void) = [] { return time(nullptr); };

namespace
{

constexpr const char *STS_FILE = "sts.conf";
// sts.conf lines are read up to this many bytes; a longer line is skipped.
constexpr int STS_LINE_MAX = 511;
constexpr int STS_MAX_FIELDS = 5;

struct profile_free {
    void operator()(sts_profile *p) const { sts_profile_free(p); }
};
using profile_ptr = std::unique_ptr<sts_profile, profile_free>;

// Sorted by host, so that sts.conf comes out the same way every time.
std::map<std::string, profile_ptr> *store;
bool loaded;

std::map<std::string, profile_ptr> &the_store()
{
    if (!store)
        store = new std::map<std::string, profile_ptr>;
    return *store;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A whole unsigned decimal number that fits an unsigned long.
bool parse_unsigned(std::string_view text, unsigned long *out)
{
    if (text.empty() || text.size() > 20)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const unsigned long digit = static_cast<unsigned long>(c - '0');
        if (value > (ULONG_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

// A whole decimal number, optionally signed, that fits a time_t.
bool parse_signed(std::string_view text, long long *out)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    unsigned long magnitude;
    if (!parse_unsigned(text, &magnitude) || magnitude > static_cast<unsigned long>(LLONG_MAX))
        return false;
    *out = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

bool is_preload_word(std::string_view word)
{
    const std::string w(word);
    return w == "1" || !g_ascii_strcasecmp(w.c_str(), "true") || !g_ascii_strcasecmp(w.c_str(), "yes");
}

std::string file_path()
{
    return std::string(get_xdir()) + "/" + STS_FILE;
}

void load_file()
{
    FILE *fh = fopen(file_path().c_str(), "r");
    if (!fh)
        return;
    const time_t now = sts_clock();
    char buf[STS_LINE_MAX + 1];
    bool skipping = false;
    while (fgets(buf, sizeof buf, fh)) {
        const std::size_t len = strlen(buf);
        const bool ended = len > 0 && buf[len - 1] == '\n';
        if (skipping) {
            skipping = !ended;
            continue;
        }
        // Longer than any line we write: not ours, skipped whole.
        if (!ended && !feof(fh)) {
            skipping = true;
            continue;
        }
        buf[strcspn(buf, "\r\n")] = 0;
        if (!buf[0] || buf[0] == '#')
            continue;
        profile_ptr p(sts_profile_deserialize(buf));
        if (!p || p->expiry <= now || p->duration == 0)
            continue;
        // A later line for the same host replaces an earlier one.
        const std::string key = p->host;
        the_store()[key] = std::move(p);
    }
    fclose(fh);
}

void put(profile_ptr p)
{
    const std::string key = p->host;
    the_store()[key] = std::move(p);
}

void remove_host(const std::string &key)
{
    if (store)
        store->erase(key);
}

// The host a policy learnt on this connection belongs to.
std::string policy_host(server *serv)
{
    return sts_normalize_host(serv->requested_host[0] ? serv->requested_host : serv->announced_name);
}

} // namespace

std::ostream &operator<<(std::ostream &os, const sts_value &v)
{
    os << "{";
    if (v.has_port)
        os << "port=" << v.port << " ";
    if (v.has_duration)
        os << "duration=" << v.duration << " ";
    if (v.preload)
        os << "preload";
    return os << "}";
}

std::string sts_normalize_host(std::string_view host)
{
    host = trim(host);
    if (host.size() >= 3 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::string out;
    out.reserve(host.size());
    for (char c : host) {
        // A blank or control character would split or end the line the
        // host is written on in sts.conf; no real host name holds one.
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return {};
        out += g_ascii_tolower(c);
    }
    // Such a line would be read back as a comment.
    if (!out.empty() && out[0] == '#')
        return {};
    // Brackets only ever enclose an address; left inside, the key read back
    // from sts.conf would lose them and differ from the one written.
    if (out.find_first_of("[]") != std::string::npos)
        return {};
    return out;
}

time_t sts_expiry_after(time_t now, unsigned long duration)
{
    if (now >= STS_EXPIRY_MAX)
        return STS_EXPIRY_MAX;
    if (duration > static_cast<unsigned long>(STS_EXPIRY_MAX - now))
        return STS_EXPIRY_MAX;
    return now + static_cast<time_t>(duration);
}

bool sts_parse_value(std::string_view value, sts_value *out)
{
    sts_value v;
    for (;;) {
        const std::size_t comma = value.find(',');
        const std::string_view item = trim(value.substr(0, comma));
        if (!item.empty()) {
            const std::size_t eq = item.find('=');
            const std::string key(trim(item.substr(0, eq)));
            const bool has_value = eq != std::string_view::npos;
            const std::string_view val = has_value ? trim(item.substr(eq + 1)) : std::string_view();
            if (!g_ascii_strcasecmp(key.c_str(), "port")) {
                unsigned long port;
                if (v.has_port || !has_value || !parse_unsigned(val, &port) || port < 1 || port > 65535)
                    return false;
                v.has_port = true;
                v.port = static_cast<unsigned short>(port);
            } else if (!g_ascii_strcasecmp(key.c_str(), "duration")) {
                unsigned long duration;
                if (v.has_duration || !has_value || !parse_unsigned(val, &duration))
                    return false;
                v.has_duration = true;
                v.duration = duration;
            } else if (!g_ascii_strcasecmp(key.c_str(), "preload")) {
                if (v.preload)
                    return false;
                v.preload = true;
            }
        }
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    if (out)
        *out = v;
    return true;
}

sts_profile *sts_profile_new(const char *host, unsigned short port, time_t expiry, unsigned long duration, bool preload)
{
    auto *p = static_cast<sts_profile *>(g_malloc0(sizeof(sts_profile)));
    p->host = g_strdup(host ? host : "");
    p->port = port;
    p->expiry = expiry;
    p->duration = duration;
    p->preload = preload;
    return p;
}

void sts_profile_free(sts_profile *profile)
{
    if (!profile)
        return;
    g_free(profile->host);
    g_free(profile);
}

char *sts_profile_serialize(const sts_profile *p)
{
    GString *line = g_string_new(nullptr);
    g_string_append_printf(line, "%s %u %li", p->host, static_cast<unsigned int>(p->port),
                           static_cast<long>(p->expiry));
    if (p->duration)
        g_string_append_printf(line, " %lu", p->duration);
    if (p->preload)
        g_string_append(line, " 1");
    else if (p->duration == 1)
        // A lone fourth field "1" reads back as the preload flag, so a
        // one-second duration gets an explicit "not preloaded" after it.
        g_string_append(line, " 0");
    return g_string_free(line, FALSE);
}

sts_profile *sts_profile_deserialize(const char *line)
{
    if (!line)
        return nullptr;
    std::vector<std::string_view> fields;
    std::string_view rest(line);
    while (!rest.empty() && static_cast<int>(fields.size()) < STS_MAX_FIELDS) {
        const std::size_t end = rest.find_first_of(" \t");
        const std::string_view field = rest.substr(0, end);
        if (!field.empty())
            fields.push_back(field);
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    if (fields.size() < 3)
        return nullptr;

    const std::string host = sts_normalize_host(fields[0]);
    if (host.empty())
        return nullptr;
    unsigned long port = 0;
    if (!parse_unsigned(fields[1], &port) || port < 1 || port > 65535)
        port = 0;
    long long expiry;
    if (!parse_signed(fields[2], &expiry) || expiry < 0 || expiry > STS_EXPIRY_MAX)
        return nullptr;

    unsigned long duration = 0;
    bool have_duration = false;
    bool preload = false;
    if (fields.size() == 4) {
        if (is_preload_word(fields[3])) {
            preload = true;
        } else {
            if (!parse_unsigned(fields[3], &duration))
                return nullptr;
            have_duration = true;
        }
    } else if (fields.size() == 5) {
        if (!parse_unsigned(fields[3], &duration))
            return nullptr;
        have_duration = true;
        preload = is_preload_word(fields[4]);
    }
    // An old line without a duration: what is left until the expiry.
    if (!have_duration && expiry != 0) {
        const time_t now = sts_clock();
        duration = expiry > now ? static_cast<unsigned long>(expiry - now) : 0;
    }
    return sts_profile_new(host.c_str(), static_cast<unsigned short>(port), static_cast<time_t>(expiry), duration,
                           preload);
}

void sts_init(void)
{
    the_store();
    if (loaded)
        return;
    loaded = true;
    load_file();
}

void sts_save(void)
{
    if (!loaded)
        return;
    const time_t now = sts_clock();
    std::string text;
    for (const auto &[key, p] : the_store()) {
        // In-memory policies (no duration) and expired ones are not kept.
        if (p->duration == 0 || p->expiry <= now)
            continue;
        char *line = sts_profile_serialize(p.get());
        text += line;
        text += '\n';
        g_free(line);
    }
    if (!atomic_file_write(file_path(), text))
        g_warning("could not write %s", file_path().c_str());
}

void sts_cleanup(void)
{
    sts_save();
    delete store;
    store = nullptr;
    loaded = false;
}

const sts_profile *sts_find(const char *host)
{
    const std::string key = sts_normalize_host(host ? host : "");
    if (key.empty() || !store)
        return nullptr;
    const auto it = store->find(key);
    if (it == store->end())
        return nullptr;
    if (it->second->expiry && sts_clock() >= it->second->expiry) {
        store->erase(it);
        return nullptr;
    }
    return it->second.get();
}

bool sts_apply_policy_for_connection(server *serv, const char *host, int *port)
{
    if (!host || !host[0])
        return true;
    sts_init();
    const sts_profile *p = sts_find(host);
    if (!p)
        return true;
    serv->tls_enabled = TRUE;
    // A policy without a port (a damaged sts.conf line) still forbids plain
    // text: the connection goes to the given port with TLS.
    if (p->port)
        *port = p->port;
    return true;
}

int sts_handle_capability(server *serv, const char *value)
{
    sts_value v;
    if (!value || !sts_parse_value(value, &v))
        return 0;
    const std::string host = policy_host(serv);
    if (host.empty())
        return 0;
    sts_init();

    if (serv->tls_enabled) {
        if (!v.has_duration)
            return 0;
        if (v.duration == 0) {
            remove_host(host);
            serv->sts_policy_active = FALSE;
        } else {
            const sts_profile *existing = sts_find(host.c_str());
            const unsigned short port =
                existing && existing->port ? existing->port : static_cast<unsigned short>(serv->port);
            put(profile_ptr(
                sts_profile_new(host.c_str(), port, sts_expiry_after(sts_clock(), v.duration), v.duration, v.preload)));
            serv->sts_policy_active = TRUE;
        }
        // Written at once, not only at exit: a policy must survive a crash.
        sts_save();
        return 0;
    }

    if (!v.has_port)
        return 0;
    if (serv->sts_upgrade_started)
        return 1;
    session *sess = serv->home_session;
    if (!sess || !serv->disconnect || !serv->connect)
        return 0;
    serv->sts_upgrade_started = TRUE;
    // Until the secure connection has told us its duration, the host is held
    // to TLS for the rest of this run: a failing TLS attempt must never be
    // followed by a plain one. Not saved (no duration).
    if (!sts_find(host.c_str()))
        put(profile_ptr(sts_profile_new(host.c_str(), v.port, 0, 0, false)));
    PrintTextf(sess, _("The server asks for a secure connection: reconnecting with TLS to port %u.\n"),
               static_cast<unsigned int>(v.port));

    std::string target = serv->hostname[0] ? serv->hostname : serv->requested_host;
    const int skip_login = serv->skip_login;
    serv->tls_enabled = TRUE;
    serv->disconnect(sess, FALSE, -1);
    if (!is_server(serv))
        return 1;
    serv->connect(serv, target.data(), v.port, skip_login);
    return 1;
}

void sts_reschedule_on_disconnect(server *serv)
{
    if (!serv->sts_policy_active || !store)
        return;
    // The host of the connection that ends; requested_host may already name
    // the next one when a new connection replaces this one.
    const auto it = store->find(sts_normalize_host(serv->hostname));
    if (it == store->end() || it->second->duration == 0)
        return;
    it->second->expiry = sts_expiry_after(sts_clock(), it->second->duration);
    sts_save();
}
