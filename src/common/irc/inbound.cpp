// Handling of events received from the server: which tab an event belongs
// to, what it changes in the sessions and user lists, and the text event
// that shows it. The end of login and auto-join live in inbound-login.cpp.
//
// Every text here was chosen by someone on IRC: nothing is trusted to be
// short, well formed or to name an open tab.

#include "irc/inbound.h"

#include "base/guard.h"
#include "base/handles.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "irc/modes.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "lists/ignore.h"
#include "lists/notify.h"
#include "net/server.h"
#include "output/log.h"
#include "output/scrollback.h"
#include "output/text.h"
#include "session/chanopt.h"
#include "session/lastact.h"
#include "session/session.h"

#include <gio/gio.h>
#include <glib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The tab that takes events without a better home.
session *front_tab(server *serv)
{
    if (serv->recent_session)
        return serv->recent_session;
    if (serv->home_session)
        return serv->home_session;
    return session_find_by_server(serv, nullptr);
}

session *server_tab(server *serv)
{
    return serv->home_session ? serv->home_session : front_tab(serv);
}

namespace
{

// Marks a notice from a server that some servers put before the text.
constexpr const char SERVER_NOTICE_MARK[] = "*** Notice -- ";
// How much of a quoted message the reply context line shows.
constexpr std::size_t REPLY_QUOTE_MAX = 180;

time_t stamp_of(const message_tags_data *tags)
{
    return tags ? tags->timestamp : 0;
}

bool nonempty(const char *s)
{
    return s && s[0];
}

// The sessions of one server, taken before anything is emitted: a plugin
// may open or close tabs from inside an event.
std::vector<session *> sessions_of(server *serv)
{
    std::vector<session *> out;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv)
            out.push_back(s);
    }
    return out;
}

// New activity in a tab the user is not looking at.
void note_activity(session *sess, bool message)
{
    if (sess == current_tab)
        return;
    if (message)
        sess->has_new_message = TRUE;
    else
        sess->has_new_data = TRUE;
    lastact_update(sess);
}

// Where a private message, notice or WHOIS reply from `nick` belongs.
session *session_for_nick(server *serv, const char *nick)
{
    if (session *dialog = find_dialog(serv, nick))
        return dialog;
    session *front = serv->recent_session;
    if (front && (!g_ascii_strcasecmp(nick, "ChanServ") || userlist_find(front, nick)))
        return front;
    if (current_sess && current_sess->server == serv && userlist_find(current_sess, nick))
        return current_sess;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && userlist_find(s, nick))
            return s;
    }
    return nullptr;
}

// The identified marker shown before a nick, empty unless the server can
// tell who is identified.
struct id_text {
    char buf[NICKLEN] = "";
};

id_text identified_text(server *serv, bool identified)
{
    id_text out;
    if (!serv->cap_identify_msg && !serv->cap_account_notify)
        return out;
    safe_strcpy(out.buf, identified ? prefs.irc_id_ytext : prefs.irc_id_ntext, sizeof out.buf);
    check_special_chars(out.buf, true);
    return out;
}

// What the sender's user record in a tab tells about a message.
struct sender_info {
    char mode[2] = "";
    bool identified = false;
    bool own = false;
};

sender_info look_up_sender(session *sess, const char *from, bool identified)
{
    sender_info info;
    info.identified = identified;
    if (User *user = userlist_find(sess, from)) {
        info.mode[0] = user->prefix;
        user->lasttalk = time(nullptr);
        if (user->account)
            info.identified = true;
        info.own = user->me;
    }
    return info;
}

// ---- highlight matching --------------------------------------------------------

bool is_ascii(const char *s, std::size_t len)
{
    for (std::size_t i = 0; i < len; i++)
        if (static_cast<unsigned char>(s[i]) >= 0x80)
            return false;
    return true;
}

// NFKC with the emoji presentation selectors and the zero-width joiner
// removed, so that a pattern typed one way matches text written another.
// ASCII is its own normal form and takes no copy.
const char *normalize_word(const char *s, std::size_t len, std::string &storage)
{
    if (is_ascii(s, len)) {
        storage.assign(s, len);
        return storage.c_str();
    }
    char *nfkc = g_utf8_normalize(s, static_cast<gssize>(len), G_NORMALIZE_ALL_COMPOSE);
    if (nfkc)
        storage = nfkc;
    else
        storage.assign(s, len);
    g_free(nfkc);
    static const char *const dropped[] = {"\xEF\xB8\x8E", "\xEF\xB8\x8F", "\xE2\x80\x8D"};
    for (const char *d : dropped) {
        std::size_t at;
        while ((at = storage.find(d)) != std::string::npos)
            storage.erase(at, 3);
    }
    return storage.c_str();
}

// A highlight list split and normalised once and reused while the setting
// stays the same: every channel message is tested against several lists.
// The least recently used list is replaced, so the lists of one highlight
// test (at most three) stay valid together.
struct pattern_list {
    std::string source;
    std::vector<std::string> items;
    unsigned long used = 0;
};

const std::vector<std::string> &patterns_of(const char *list)
{
    static pattern_list cache[8];
    static unsigned long tick;
    pattern_list *oldest = &cache[0];
    for (auto &slot : cache) {
        if (slot.used && slot.source == list) {
            slot.used = ++tick;
            return slot.items;
        }
        if (slot.used < oldest->used)
            oldest = &slot;
    }
    pattern_list &slot = *oldest;
    slot.used = ++tick;
    slot.source = list;
    slot.items.clear();
    const char *p = list;
    while (*p) {
        while (*p == ' ')
            p++;
        const std::size_t len = strcspn(p, ", ");
        if (len) {
            std::string storage;
            slot.items.emplace_back(normalize_word(p, len, storage));
        }
        p += len;
        if (*p)
            p++;
    }
    return slot.items;
}

bool matches_any(const char *normalized, const std::vector<std::string> &items)
{
    for (const auto &item : items)
        if (match(item.c_str(), normalized))
            return true;
    return false;
}

// Characters that end a word: spaces, controls and punctuation, except the
// punctuation that nicks are made of ([ \ ] _ { } -). ASCII is looked up:
// every character of every channel message passes here.
constexpr auto ascii_word_ends = [] {
    std::array<bool, 0x80> ends{};
    for (int c = 0; c <= ' '; c++)
        ends[c] = true;
    ends[0x7f] = true;
    for (const char *p = "!\"#%&'()*,./:;?@"; *p; p++)
        ends[static_cast<unsigned char>(*p)] = true;
    return ends;
}();

bool ends_word(gunichar c)
{
    if (c < 0x80)
        return ascii_word_ends[c];
    switch (g_unichar_type(c)) {
    case G_UNICODE_CONTROL:
    case G_UNICODE_SPACE_SEPARATOR:
    case G_UNICODE_LINE_SEPARATOR:
    case G_UNICODE_PARAGRAPH_SEPARATOR:
    case G_UNICODE_CONNECT_PUNCTUATION:
    case G_UNICODE_DASH_PUNCTUATION:
    case G_UNICODE_CLOSE_PUNCTUATION:
    case G_UNICODE_FINAL_PUNCTUATION:
    case G_UNICODE_INITIAL_PUNCTUATION:
    case G_UNICODE_OTHER_PUNCTUATION:
    case G_UNICODE_OPEN_PUNCTUATION:
        return true;
    default:
        return false;
    }
}

// Whether a word of `text` matches an item of `first` or (when given)
// `second`: one pass over the text for both lists.
bool any_word_matches(const char *text, const std::vector<std::string> *first, const std::vector<std::string> *second)
{
    std::string storage;
    const char *p = text;
    const char *word = nullptr;
    for (;;) {
        gunichar c = 0;
        const char *next = p + 1;
        if (*p) {
            const unsigned char byte = static_cast<unsigned char>(*p);
            if (byte < 0x80) {
                c = byte;
            } else {
                c = g_utf8_get_char_validated(p, -1);
                // A broken sequence is one odd character inside a word.
                if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2))
                    c = 'x';
                else
                    next = g_utf8_next_char(p);
            }
        }
        if (!*p || ends_word(c)) {
            if (word && p > word) {
                const char *w = normalize_word(word, static_cast<std::size_t>(p - word), storage);
                if (matches_any(w, *first) || (second && matches_any(w, *second)))
                    return true;
            }
            word = nullptr;
            if (!*p)
                return false;
        } else if (!word) {
            word = p;
        }
        p = next;
    }
}

// Whether a message is a highlight for the user; marks the tab when it is.
bool message_highlights(server *serv, session *sess, const char *from, const char *text)
{
    if (prefs.irc_no_hilight[0] && alert_match_word(from, prefs.irc_no_hilight))
        return false;

    // Most lines carry no formatting, and need no stripped copy.
    const char *plain = text;
    char *stripped = nullptr;
    for (const char *p = text; *p; p++) {
        if (static_cast<unsigned char>(*p) < ' ') {
            plain = stripped = strip_color(text, -1, STRIP_ALL);
            break;
        }
    }
    const std::vector<std::string> &own = patterns_of(serv->nick);
    const std::vector<std::string> *extra =
        prefs.irc_extra_hilight[0] ? &patterns_of(prefs.irc_extra_hilight) : nullptr;
    const bool hit = (!own.empty() && any_word_matches(plain, &own, extra)) ||
                     (own.empty() && extra && any_word_matches(plain, extra, nullptr)) ||
                     alert_match_word(from, prefs.irc_nick_hilight);
    g_free(stripped);

    if (hit && sess != current_tab) {
        sess->has_highlight = TRUE;
        lastact_update(sess);
    }
    return hit;
}

// ---- reply cache ---------------------------------------------------------------

struct reply_store {
    std::list<reply_entry> entries; // newest first
    std::unordered_map<std::string, std::list<reply_entry>::iterator> by_id;
    std::optional<reply_state> state;
};

reply_store *store_of(session *sess, bool create)
{
    auto *store = static_cast<reply_store *>(sess->reply_context[0]);
    if (!store && create) {
        store = new reply_store;
        sess->reply_context[0] = store;
    }
    return store;
}

// The line above a reply that shows what it answers.
void print_reply_context(session *sess, const char *reply_id, time_t stamp)
{
    if (const reply_entry *entry = reply_cache_find(sess, reply_id)) {
        const int quoted = static_cast<int>(utf8_prefix(entry->text.c_str(), entry->text.size(), REPLY_QUOTE_MAX));
        PrintTextTimeStampf(sess, stamp, "\00314\xe2\x94\x82 \xe2\x86\xaa %s: %.*s\x0f\n", entry->nick.c_str(), quoted,
                            entry->text.c_str());
    } else {
        PrintTextTimeStampf(sess, stamp, "\00314\xe2\x94\x82 \xe2\x86\xaa %s\x0f\n", _("Original message unavailable"));
    }
}

// ---- per-server state the server record has no place for ------------------------

struct own_state {
    guint32 address = 0;
    time_t away_since = 0;
    bool doing_dns = false;
};

// Keyed by server id: ids are never reused, so a freed server's entry can
// never be mistaken for a new server's.
std::map<int, own_state> &own_states()
{
    static std::map<int, own_state> states;
    return states;
}

own_state &own_state_of(const server *serv)
{
    return own_states()[serv->id];
}

// ---- DNS -------------------------------------------------------------------------

struct dns_request {
    session *sess;
    std::string host;
    time_t stamp;
};

// The session a lookup reports to, or null (with a warning) when the tab
// was closed while the resolver worked.
session *dns_target(const dns_request *req)
{
    if (is_session(req->sess))
        return req->sess;
    g_warning("DNS result for %s dropped: its tab was closed", req->host.c_str());
    return nullptr;
}

void dns_reverse_done(GObject *source, GAsyncResult *result, gpointer data) noexcept
{
    const std::unique_ptr<dns_request> req(static_cast<dns_request *>(data));
    error_ptr error;
    const gchar_ptr name(g_resolver_lookup_by_address_finish(G_RESOLVER(source), result, error.out()));
    guarded("reverse DNS result", [&] {
        session *sess = dns_target(req.get());
        if (!sess)
            return;
        if (name)
            PrintTextTimeStampf(sess, req->stamp, _("Resolved to %s\n"), name.get());
        else
            PrintTextTimeStamp(sess, _("Not found\n"), req->stamp);
    });
}

void dns_forward_done(GObject *source, GAsyncResult *result, gpointer data) noexcept
{
    const std::unique_ptr<dns_request> req(static_cast<dns_request *>(data));
    error_ptr error;
    GList *addresses = g_resolver_lookup_by_name_finish(G_RESOLVER(source), result, error.out());
    guarded("DNS result", [&] {
        session *sess = dns_target(req.get());
        if (!sess)
            return;
        if (!addresses) {
            PrintTextTimeStamp(sess, _("Not found\n"), req->stamp);
            return;
        }
        PrintTextTimeStamp(sess, _("Resolved to:\n"), req->stamp);
        for (GList *l = addresses; l; l = l->next) {
            const gchar_ptr text(g_inet_address_to_string(G_INET_ADDRESS(l->data)));
            PrintTextTimeStampf(sess, req->stamp, "    %s\n", text.get());
        }
    });
    g_resolver_free_addresses(addresses);
}

// ---- notices --------------------------------------------------------------------

// The "(notices)" or "(snotices)" tab of a server, opened when missing.
session *notices_tab(server *serv, bool server_notice)
{
    const int type = server_notice ? SESS_SNOTICES : SESS_NOTICES;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && s->type == type)
            return s;
    }
    session *sess = new_ircwindow(serv, server_notice ? "(snotices)" : "(notices)", type, 0);
    if (!sess)
        return nullptr;
    fe_set_channel(sess);
    fe_set_title(sess);
    log_open_or_close(sess);
    return sess;
}

// ChanServ prefixes its notices about a channel with "[#channel]"; such a
// notice belongs in that channel when it really comes from ChanServ.
session *chanserv_notice_channel(server *serv, const char *nick, const char *msg, bool identified)
{
    if (msg[0] != '[' || g_ascii_strcasecmp(nick, "ChanServ") != 0 || find_dialog(serv, nick))
        return nullptr;
    if (serv->cap_identify_msg && !identified)
        return nullptr;
    const char *end = strchr(msg, ']');
    if (!end)
        return nullptr;
    const std::string chan(msg + 1, static_cast<std::size_t>(end - msg - 1));
    return find_channel(serv, chan.c_str());
}

// A reply to a ping or a lag check. `ctcp` says it came as a CTCP reply
// from some nick rather than as the server's PONG.
void ping_reply(session *sess, char *timestring, const char *from, bool ctcp, const message_tags_data *tags)
{
    server *serv = sess->server;
    const bool lag_text = strncmp(timestring, "LAG", 3) == 0;
    // Only the server's PONG or our own CTCP echo answers a lag check, and
    // only while one is outstanding: anyone else could set the meter.
    const bool lag_answer = lag_text && serv->lag_probe_ms && (!ctcp || serv->p_cmp(from, serv->nick) == 0);
    if (!ctcp || lag_answer)
        serv->last_pong_time = time(nullptr);

    if (lag_answer) {
        const unsigned long sent = strtoul(timestring + 3, nullptr, 10);
        const long lag = static_cast<long>(make_ping_time() - sent);
        serv->lag_probe_ms = 0;
        serv->lag = static_cast<int>(lag);
        fe_set_lag(serv, lag);
        return;
    }
    // A lag answer after the check was given up: nothing left to measure.
    if (lag_text && !ctcp)
        return;

    char outbuf[64];
    const unsigned long sent = strtoul(timestring, nullptr, 10);
    if (sent) {
        const long dif = static_cast<long>(make_ping_time() - sent);
        g_snprintf(outbuf, sizeof outbuf, "%ld.%03ld", dif / 1000, labs(dif % 1000));
    } else if (!ctcp && serv->lag_probe_ms) {
        // Servers that answer PING with their own text still answer it.
        serv->lag_probe_ms = 0;
        return;
    } else {
        g_strlcpy(outbuf, "?", sizeof outbuf);
    }
    text_emit(XP_TE_PING_REPLY, sess, from, outbuf, nullptr, nullptr, stamp_of(tags));
}

// Opens a dialog for a private message or action when the flood guard
// allows it; null when it refused.
session *open_dialog_for(server *serv, char *from, char *ip, const message_tags_data *tags)
{
    if (!flood_check(from, ip, serv, front_tab(serv), FLOOD_PRIVMSG))
        return nullptr;
    session *dialog = new_ircwindow(serv, from, SESS_DIALOG, 0);
    if (dialog)
        text_emit(XP_TE_OPEN_DIALOG, dialog, nullptr, nullptr, nullptr, nullptr, stamp_of(tags));
    return dialog;
}

void set_topic_text(session *sess, const char *topic)
{
    if (!strpbrk(topic, "\x02\x03\x08\x0f\x16\x1d\x1e\x1f")) {
        set_topic(sess, topic, topic);
        return;
    }
    char *stripped = strip_color(topic, -1, STRIP_ALL);
    set_topic(sess, topic, stripped);
    g_free(stripped);
}

} // namespace

// ---- reply support ----------------------------------------------------------------

bool reply_msgid_valid(const char *msgid)
{
    return msgid && msgid[0] && msgid[0] != ':' && !strpbrk(msgid, " \r\n");
}

const reply_entry *reply_cache_find(session *sess, const char *msgid)
{
    reply_store *store = store_of(sess, false);
    if (!store || !reply_msgid_valid(msgid))
        return nullptr;
    auto it = store->by_id.find(msgid);
    return it == store->by_id.end() ? nullptr : &*it->second;
}

const reply_entry *reply_cache_latest_from(session *sess, const char *nick)
{
    reply_store *store = store_of(sess, false);
    if (!store || !nick)
        return nullptr;
    for (const auto &entry : store->entries)
        if (sess->server->p_cmp(entry.nick.c_str(), nick) == 0)
            return &entry;
    return nullptr;
}

void reply_cache_add(session *sess, const char *msgid, const char *nick, const char *text, time_t stamp)
{
    if (!reply_msgid_valid(msgid))
        return;
    reply_store *store = store_of(sess, true);
    auto found = store->by_id.find(msgid);
    if (found != store->by_id.end()) {
        found->second->nick = nick;
        found->second->text = text;
        found->second->stamp = stamp;
        return;
    }
    store->entries.push_front(reply_entry{msgid, nick, text, stamp});
    store->by_id.emplace(msgid, store->entries.begin());
    if (store->entries.size() > REPLY_CACHE_SIZE) {
        store->by_id.erase(store->entries.back().msgid);
        store->entries.pop_back();
    }
}

void reply_state_set(session *sess, const char *msgid, const char *nick, const char *label, const char *text)
{
    if (!reply_msgid_valid(msgid))
        return;
    reply_store *store = store_of(sess, true);
    store->state = reply_state{msgid, nonempty(nick) ? nick : sess->channel, nonempty(label) ? label : _("message"),
                               nonempty(text) ? text : _("Original message unavailable")};
}

const reply_state *reply_state_get(session *sess)
{
    reply_store *store = store_of(sess, false);
    return store && store->state ? &*store->state : nullptr;
}

void reply_state_clear(session *sess)
{
    if (reply_store *store = store_of(sess, false))
        store->state.reset();
}

void reply_cache_free(session *sess)
{
    delete store_of(sess, false);
    sess->reply_context[0] = nullptr;
}

// ---- highlights ----------------------------------------------------------------------

bool alert_match_word(const char *word, const char *list)
{
    if (!word || !list || !list[0])
        return false;
    const auto &items = patterns_of(list);
    if (items.empty())
        return false;
    std::string storage;
    return matches_any(normalize_word(word, strlen(word), storage), items);
}

bool alert_match_text(const char *text, const char *list)
{
    if (!text || !list || !list[0])
        return false;
    const auto &items = patterns_of(list);
    return !items.empty() && any_word_matches(text, &items, nullptr);
}

// ---- session helpers ------------------------------------------------------------------

void set_topic(session *sess, const char *topic, const char *stripped_topic)
{
    if (!topic)
        topic = "";
    if (!stripped_topic)
        stripped_topic = topic;
    // A dialog's topic is the peer's address: its log keeps the changes.
    if (sess->type == SESS_DIALOG && sess->log_fd >= 0 && g_strcmp0(sess->topic, stripped_topic) != 0) {
        char *line = g_strdup_printf("[%s has address %s]\n", sess->channel, stripped_topic);
        log_write(sess, line, 0);
        g_free(line);
    }
    // The texts may be the old topic itself: it is freed last.
    char *old = sess->topic;
    sess->topic = g_strdup(stripped_topic);
    char *raw = g_strdup(topic);
    char *plain = g_strdup(stripped_topic);
    fe_set_topic(sess, raw, plain);
    g_free(raw);
    g_free(plain);
    g_free(old);
}

void clear_channel(session *sess)
{
    if (sess->channel[0])
        safe_strcpy(sess->pending_join, sess->channel, sizeof sess->pending_join);
    sess->channel[0] = 0;
    sess->who_pending = FALSE;
    sess->away_polled = FALSE;
    log_close(sess);
    g_free(sess->mode_string);
    sess->mode_string = nullptr;
    if (sess->mode_timer) {
        fe_timeout_remove(sess->mode_timer);
        sess->mode_timer = 0;
    }
    fe_clear_channel(sess);
    userlist_clear(sess);
    fe_set_nonchannel(sess, 0);
    fe_set_title(sess);
}

session *open_query(server *serv, const char *nick, bool focus)
{
    session *sess = find_dialog(serv, nick);
    if (!sess)
        return new_ircwindow(serv, nick, SESS_DIALOG, focus);
    if (focus)
        fe_ctrl_gui(sess, FE_GUI_FOCUS, 0);
    return sess;
}

void do_dns(session *sess, const char *nick, const char *host, const message_tags_data *tags)
{
    if (!sess || !host)
        return;
    if (const char *at = strrchr(host, '@'))
        host = at + 1;
    if (!host[0])
        return;
    const time_t stamp = stamp_of(tags);
    if (nonempty(nick))
        text_emit(XP_TE_RESOLVING_USER, sess, nick, host, nullptr, nullptr, stamp);
    PrintTextTimeStampf(sess, stamp, _("Looking up %s...\n"), host);

    auto *req = new dns_request{sess, host, stamp};
    GResolver *resolver = g_resolver_get_default();
    if (GInetAddress *addr = g_inet_address_new_from_string(host)) {
        g_resolver_lookup_by_address_async(resolver, addr, nullptr, dns_reverse_done, req);
        g_object_unref(addr);
    } else {
        g_resolver_lookup_by_name_async(resolver, host, nullptr, dns_forward_done, req);
    }
    g_object_unref(resolver);
}

guint32 inbound_own_address(const server *serv)
{
    auto it = own_states().find(serv->id);
    return it == own_states().end() ? 0 : it->second.address;
}

time_t inbound_away_since(const server *serv)
{
    auto it = own_states().find(serv->id);
    return it == own_states().end() ? 0 : it->second.away_since;
}

void inbound_set_doing_dns(server *serv, bool doing)
{
    own_state_of(serv).doing_dns = doing;
}

bool inbound_userhost_dns(session *sess, char *reply, const message_tags_data *tags)
{
    if (!sess || !own_state_of(sess->server).doing_dns)
        return false;
    own_state_of(sess->server).doing_dns = false;
    // An empty reply means the nick is gone; the generic line shows that.
    char *eq = reply ? strchr(reply, '=') : nullptr;
    if (!eq)
        return false;
    std::string nick(reply[0] == ':' ? reply + 1 : reply, eq);
    if (!nick.empty() && nick.back() == '*')
        nick.pop_back();
    std::string address(eq + 1);
    if (const std::size_t end = address.find(' '); end != std::string::npos)
        address.erase(end);
    if (address.find('@') == std::string::npos)
        return false;
    do_dns(sess, nick.c_str(), address.c_str(), tags);
    return true;
}

void inbound_set_own_address(server *serv, guint32 address)
{
    own_state_of(serv).address = address;
}

// ---- messages ---------------------------------------------------------------------------

const char *nickserv_mask(const char *target, const char *text)
{
    if (!target || !text)
        return text;
    // "NickServ" or "NickServ@services.host", as some networks require.
    const std::size_t name_len = strcspn(target, "@");
    if (name_len != 8 || g_ascii_strncasecmp(target, "nickserv", 8) != 0)
        return text;
    if (!g_ascii_strncasecmp(text, "identify ", 9))
        return "identify ****";
    if (!g_ascii_strncasecmp(text, "ghost ", 6))
        return "ghost ****";
    return text;
}

void inbound_privmsg(server *serv, char *from, char *ip, char *text, int id, const message_tags_data *tags)
{
    session *dialog = find_dialog(serv, from);
    if (dialog || flood_autoopen_dialog()) {
        if (!dialog) {
            dialog = open_dialog_for(serv, from, ip, tags);
            // Refused by the flood guard: dropped, as its warning said.
            // The server tab's topic is left alone; it is not the sender's.
            if (!dialog)
                return;
        }
        if (nonempty(ip))
            set_topic(dialog, ip, ip);
        inbound_chanmsg(serv, nullptr, nullptr, from, text, FALSE, id, tags);
        return;
    }

    session *sess = session_for_nick(serv, from);
    const bool found = sess != nullptr;
    if (!sess)
        sess = front_tab(serv);
    if (!sess)
        return;
    const sender_info info = look_up_sender(sess, from, id);
    const id_text idtext = identified_text(serv, info.identified);
    const int event = found && sess->type == SESS_DIALOG ? XP_TE_PRIVATE_MESSAGE_TO_DIALOG : XP_TE_PRIVATE_MESSAGE;
    text_emit(event, sess, from, text, idtext.buf, nullptr, stamp_of(tags));
}

void inbound_chanmsg(server *serv, session *sess, char *chan, char *from, char *text, int fromme, int id,
                     const message_tags_data *tags)
{
    if (!sess) {
        if (chan) {
            sess = find_channel(serv, chan);
            // A message to a channel that is not open is not anyone's dialog.
            if (!sess && !is_channel(serv, chan))
                sess = find_dialog(serv, chan);
        } else {
            sess = find_dialog(serv, from);
        }
    }
    if (!sess)
        return;

    note_activity(sess, true);
    const sender_info info = look_up_sender(sess, from, id);
    if (info.own)
        fromme = TRUE;
    // The password the user told the nick service is shown, logged and
    // cached as a mask, whichever way the message reached this tab.
    if (fromme && sess->type == SESS_DIALOG)
        text = const_cast<char *>(nickserv_mask(sess->channel, text));
    const time_t stamp = stamp_of(tags);
    const char *reply_id = tags ? tags->reply : nullptr;

    if (fromme) {
        // Only the user's own live message proves the user is back, not
        // one replayed from history.
        if (prefs.away_auto_unmark && serv->away && (serv->cap_echo_message || !stamp))
            serv->p_set_back(serv);
        if (reply_msgid_valid(reply_id))
            print_reply_context(sess, reply_id, stamp);
        text_emit(XP_TE_YOUR_MESSAGE, sess, from, text, info.mode, nullptr, stamp);
    } else {
        fe_set_typing(sess, from, "done");
        const id_text idtext = identified_text(serv, info.identified);
        const bool hilight = message_highlights(serv, sess, from, text);
        if (reply_msgid_valid(reply_id))
            print_reply_context(sess, reply_id, stamp);
        if (sess->type == SESS_DIALOG)
            text_emit(XP_TE_PRIVATE_MESSAGE_TO_DIALOG, sess, from, text, idtext.buf, nullptr, stamp);
        else
            text_emit(hilight ? XP_TE_CHANNEL_MSG_HILIGHT : XP_TE_CHANNEL_MESSAGE, sess, from, text, info.mode,
                      idtext.buf, stamp);
    }

    if (tags && reply_msgid_valid(tags->msgid) && is_session(sess))
        reply_cache_add(sess, tags->msgid, from, text, stamp);
}

void inbound_action(session *sess, char *chan, char *from, char *ip, char *text, int fromme, int id,
                    const message_tags_data *tags)
{
    if (!sess)
        return;
    server *serv = sess->server;
    const bool to_channel = is_channel(serv, chan);

    if (!fromme) {
        session *found = nullptr;
        if (!to_channel) {
            found = find_dialog(serv, from);
            if (!found && flood_autoopen_dialog()) {
                found = open_dialog_for(serv, from, ip, tags);
                if (!found)
                    found = serv->home_session;
            }
            if (!found)
                found = session_for_nick(serv, from);
            if (!found)
                found = front_tab(serv);
        } else {
            found = find_channel(serv, chan);
        }
        if (found)
            sess = found;
    }

    note_activity(sess, !fromme);
    const sender_info info = look_up_sender(sess, from, id);
    if (info.own)
        fromme = TRUE;
    if (!fromme)
        fe_set_typing(sess, from, "done");
    const id_text idtext = identified_text(serv, info.identified);
    const time_t stamp = stamp_of(tags);

    if (fromme) {
        text_emit(XP_TE_YOUR_ACTION, sess, from, text, info.mode, idtext.buf, stamp);
    } else if (to_channel) {
        const bool hilight = message_highlights(serv, sess, from, text);
        text_emit(hilight ? XP_TE_CHANNEL_ACTION_HILIGHT : XP_TE_CHANNEL_ACTION, sess, from, text, info.mode,
                  idtext.buf, stamp);
    } else if (sess->type == SESS_DIALOG) {
        text_emit(XP_TE_PRIVATE_ACTION_TO_DIALOG, sess, from, text, idtext.buf, nullptr, stamp);
    } else {
        text_emit(XP_TE_PRIVATE_ACTION, sess, from, text, idtext.buf, nullptr, stamp);
    }
}

void inbound_notice(server *serv, char *to, char *nick, char *msg, char *ip, int id, const message_tags_data *tags)
{
    // A prefix without a user part: the server itself speaks.
    const bool server_notice = ip && strcmp(nick, ip) == 0;

    session *sess = nullptr;
    bool channel_notice = false;
    if (is_channel(serv, to))
        sess = find_channel(serv, to);
    else if (to[0] && serv->nickprefixes && strchr(serv->nickprefixes, to[0]) && is_channel(serv, to + 1))
        sess = find_channel(serv, to + 1); // "@#chan": to the channel's operators
    channel_notice = sess != nullptr;

    if (!sess) {
        switch (prefs.irc_notice_pos) {
        case 1:
            sess = notices_tab(serv, server_notice);
            if (!strncmp(msg, SERVER_NOTICE_MARK, sizeof SERVER_NOTICE_MARK - 1))
                msg += sizeof SERVER_NOTICE_MARK - 1;
            break;
        case 2:
            sess = serv->recent_session;
            break;
        default:
            sess = chanserv_notice_channel(serv, nick, msg, id);
            if (!sess)
                sess = session_for_nick(serv, nick);
            break;
        }
        if (!sess)
            sess = server_notice ? server_tab(serv) : front_tab(serv);
    }
    if (!sess)
        return;

    if (msg[0] == '\001') {
        if (!strncmp(msg, "\001PING ", 6)) {
            char *timestring = msg + 6;
            if (char *end = strchr(timestring, '\001'))
                *end = 0;
            ping_reply(sess, timestring, nick, true, tags);
            return;
        }
        msg++;
        const std::size_t len = strlen(msg);
        if (len && msg[len - 1] == '\001')
            msg[len - 1] = 0;
    }

    const time_t stamp = stamp_of(tags);
    if (server_notice)
        text_emit(XP_TE_SERVER_NOTICE, sess, msg, nick, nullptr, nullptr, stamp);
    else if (channel_notice)
        text_emit(XP_TE_CHANNEL_NOTICE, sess, nick, to, msg, nullptr, stamp);
    else
        text_emit(XP_TE_NOTICE, sess, nick, msg, nullptr, nullptr, stamp);
}

// ---- channel membership and topics ------------------------------------------------------

void inbound_join(server *serv, char *chan, char *user, char *ip, char *account, char *realname,
                  const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    text_emit(XP_TE_JOIN, sess, user, chan, ip, account, stamp_of(tags));
    if (is_session(sess))
        userlist_add(sess, user, ip, account, realname, tags);
}

void inbound_ujoin(server *serv, char *chan, char *nick, char *ip, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    bool unused_tab = false;
    if (!sess) {
        // A tab that asked for this channel, else one that never had a channel.
        for (GSList *l = sess_list; l && !sess; l = l->next) {
            auto *s = static_cast<session *>(l->data);
            if (s->server == serv && s->type == SESS_CHANNEL && !s->channel[0] && s->pending_join[0] &&
                serv->p_cmp(s->pending_join, chan) == 0)
                sess = s;
        }
        for (GSList *l = sess_list; l && !sess; l = l->next) {
            auto *s = static_cast<session *>(l->data);
            if (s->server == serv && s->type == SESS_CHANNEL && !s->channel[0] && !s->pending_join[0]) {
                sess = s;
                unused_tab = true;
            }
        }
    }
    if (!sess) {
        sess = new_ircwindow(serv, chan, SESS_CHANNEL, 1);
        if (!sess)
            return;
    }

    // The server's spelling of the name wins over the one the user typed.
    safe_strcpy(sess->channel, chan, sizeof sess->channel);
    if (unused_tab) {
        chanopt_load(sess);
        if (scrollback_load(sess) > 0 && sess->on_replay_done)
            sess->on_replay_done(sess);
    }
    fe_set_channel(sess);
    fe_set_title(sess);
    fe_set_nonchannel(sess, 1);
    userlist_clear(sess);
    log_open_or_close(sess);
    sess->pending_join[0] = 0;
    // The replies to our own join (modes, date, names) are not news.
    sess->ignore_date = TRUE;
    sess->ignore_mode = TRUE;
    sess->ignore_names = TRUE;
    sess->end_of_names = FALSE;

    serv->p_join_info(serv, chan);
    text_emit(XP_TE_YOU_JOIN, sess, nick, chan, ip, nullptr, stamp_of(tags));

    if (prefs.irc_who_join && is_session(sess)) {
        serv->p_user_list(serv, chan);
        sess->who_pending = TRUE;
    }
}

void inbound_part(server *serv, char *chan, char *user, char *ip, char *reason, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    if (nonempty(reason))
        text_emit(XP_TE_PART_WITH_REASON, sess, user, ip, chan, reason, stamp_of(tags));
    else
        text_emit(XP_TE_PART, sess, user, ip, chan, nullptr, stamp_of(tags));
    if (is_session(sess))
        userlist_remove(sess, user);
}

void inbound_upart(server *serv, char *chan, char *ip, char *reason, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    if (nonempty(reason))
        text_emit(XP_TE_YOU_PART_WITH_REASON, sess, serv->nick, ip, chan, reason, stamp_of(tags));
    else
        text_emit(XP_TE_YOU_PART, sess, serv->nick, ip, chan, nullptr, stamp_of(tags));
    if (is_session(sess))
        clear_channel(sess);
}

void inbound_kick(server *serv, char *chan, char *user, char *kicker, char *reason, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    text_emit(XP_TE_KICK, sess, kicker, user, chan, reason, stamp_of(tags));
    if (is_session(sess))
        userlist_remove(sess, user);
}

void inbound_ukick(server *serv, char *chan, char *kicker, char *reason, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    text_emit(XP_TE_YOU_KICKED, sess, serv->nick, chan, kicker, reason, stamp_of(tags));
    if (!is_session(sess))
        return;
    // The name is copied first: clearing empties the tab's own.
    const std::string name = sess->channel;
    clear_channel(sess);
    if (prefs.irc_auto_rejoin) {
        serv->p_join(serv, name.c_str(), sess->key);
        safe_strcpy(sess->pending_join, name.c_str(), sizeof sess->pending_join);
    }
}

void inbound_quit(server *serv, char *nick, char *ip, char *reason, const message_tags_data *tags)
{
    bool was_current = false;
    for (session *sess : sessions_of(serv)) {
        if (!is_session(sess))
            continue;
        if (sess == current_sess)
            was_current = true;
        if (User *user = userlist_find(sess, nick)) {
            (void)user;
            text_emit(XP_TE_QUIT, sess, nick, reason, ip, nullptr, stamp_of(tags));
            if (is_session(sess))
                userlist_remove(sess, nick);
        } else if (sess->type == SESS_DIALOG && serv->p_cmp(sess->channel, nick) == 0) {
            text_emit(XP_TE_QUIT, sess, nick, reason, ip, nullptr, stamp_of(tags));
        }
    }
    // The user saw the quit in a tab in front: the notify list need not say it again.
    notify_set_offline(serv, nick, was_current, tags);
}

void inbound_newnick(server *serv, char *nick, char *newnick, int quiet, const message_tags_data *tags)
{
    // Copied first: `nick` may be the server's own nick buffer.
    char old[NICKLEN];
    safe_strcpy(old, nick, sizeof old);
    char fresh[NICKLEN];
    safe_strcpy(fresh, newnick, sizeof fresh);
    const bool own = serv->p_cmp(old, serv->nick) == 0;
    if (own)
        safe_strcpy(serv->nick, fresh, sizeof serv->nick);
    const time_t stamp = stamp_of(tags);
    const int event = own ? XP_TE_YOUR_NICK_CHANGING : XP_TE_CHANGE_NICK;

    for (session *sess : sessions_of(serv)) {
        if (!is_session(sess))
            continue;
        const bool listed = userlist_change(sess, old, fresh);
        if (!quiet && (listed || (own && sess == serv->home_session)))
            text_emit(event, sess, old, fresh, nullptr, nullptr, stamp);
        if (!is_session(sess))
            continue;
        if (sess->type == SESS_DIALOG && serv->p_cmp(sess->channel, old) == 0) {
            safe_strcpy(sess->channel, fresh, sizeof sess->channel);
            fe_set_channel(sess);
        }
        fe_set_title(sess);
    }
    dcc_change_nick(serv, old, fresh);
    if (own)
        fe_set_nick(serv, serv->nick);
}

void inbound_topic(server *serv, char *chan, char *topic_text, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (sess)
        set_topic_text(sess, topic_text);
    else
        sess = server_tab(serv);
    if (sess)
        text_emit(XP_TE_TOPIC, sess, chan, topic_text, nullptr, nullptr, stamp_of(tags));
}

void inbound_topicnew(server *serv, char *nick, char *chan, char *topic, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        return;
    text_emit(XP_TE_TOPIC_CHANGE, sess, nick, topic, chan, nullptr, stamp_of(tags));
    if (is_session(sess))
        set_topic_text(sess, topic);
}

void inbound_topictime(server *serv, char *chan, char *nick, time_t stamp, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess)
        sess = server_tab(serv);
    if (!sess)
        return;
    // A time the calendar cannot express is shown as the number it was.
    std::string when = log_time_text(stamp);
    if (when.size() > 24)
        when.resize(24);
    text_emit(XP_TE_TOPIC_CREATION, sess, chan, nick, when.c_str(), nullptr, stamp_of(tags));
}

void inbound_nameslist(server *serv, char *chan, char *names, const message_tags_data *tags)
{
    session *sess = find_channel(serv, chan);
    if (!sess) {
        if (session *tab = server_tab(serv))
            text_emit(XP_TE_USERS_ON_CHANNEL, tab, chan, names, nullptr, nullptr, stamp_of(tags));
        return;
    }
    if (!sess->ignore_names) {
        text_emit(XP_TE_USERS_ON_CHANNEL, sess, chan, names, nullptr, nullptr, stamp_of(tags));
        if (!is_session(sess))
            return;
    }
    // A fresh /NAMES after the list was complete replaces it.
    if (sess->end_of_names) {
        sess->end_of_names = FALSE;
        userlist_clear(sess);
    }
    userlist_burst_begin(sess);

    const char *prefixes = serv->nickprefixes ? serv->nickprefixes : "";
    std::string item;
    const char *p = names;
    while (*p) {
        while (*p == ' ')
            p++;
        const char *end = strchr(p, ' ');
        const std::size_t len = end ? static_cast<std::size_t>(end - p) : strlen(p);
        if (!len)
            break;
        item.assign(p, len);
        p += len;
        if (serv->cap_userhost_in_names) {
            // "@+nick!user@host": the prefixes stay with the nick.
            std::size_t nick_start = 0;
            while (nick_start < item.size() && strchr(prefixes, item[nick_start]))
                nick_start++;
            const std::size_t bang = item.find('!', nick_start);
            if (bang != std::string::npos) {
                item[bang] = 0;
                userlist_add(sess, item.c_str(), item.c_str() + bang + 1, nullptr, nullptr, tags);
                continue;
            }
        }
        userlist_add(sess, item.c_str(), nullptr, nullptr, nullptr, tags);
    }
}

int inbound_nameslist_end(server *serv, char *chan, const message_tags_data *)
{
    auto finish = [](session *sess) {
        userlist_burst_end(sess);
        sess->end_of_names = TRUE;
        sess->ignore_names = FALSE;
        fe_userlist_numbers(sess);
    };
    if (!strcmp(chan, "*")) {
        for (session *sess : sessions_of(serv))
            finish(sess);
        return 1;
    }
    session *sess = find_channel(serv, chan);
    if (!sess)
        return 0;
    finish(sess);
    return 1;
}

int inbound_banlist(session *sess, time_t stamp, char *chan, char *mask, char *banner, int rplcode,
                    const message_tags_data *tags)
{
    if (!sess)
        return 0;
    std::string when;
    if (stamp > 0)
        when = log_time_text(stamp);
    session *chan_sess = find_channel(sess->server, chan);
    if (chan_sess && fe_add_ban_list(chan_sess, mask, banner, when.data(), rplcode))
        return 1;
    session *target = chan_sess ? chan_sess : front_tab(sess->server);
    if (!target)
        return 0;
    text_emit(XP_TE_BAN_LIST, target, chan, mask, banner, when.c_str(), stamp_of(tags));
    return 1;
}

// ---- away states and user data --------------------------------------------------------

void inbound_away(server *serv, char *nick, char *msg, const message_tags_data *tags)
{
    away_msg *known = server_away_find_message(serv, nick);
    if (known && known->message && !strcmp(known->message, msg)) {
        if (prefs.away_show_once && !serv->in_whois)
            return;
    } else {
        server_away_save_message(serv, nick, msg);
    }

    session *sess = nullptr;
    if (prefs.irc_whois_front)
        sess = front_tab(serv);
    else if (serv->in_whois)
        sess = server_tab(serv);
    else if (!(sess = session_for_nick(serv, nick)))
        sess = server_tab(serv);
    if (sess && !(serv->in_whois && serv->whois_quiet))
        text_emit(XP_TE_WHOIS_AWAY_LINE, sess, nick, msg, nullptr, nullptr, stamp_of(tags));

    for (session *s : sessions_of(serv))
        if (is_session(s))
            userlist_set_away(s, nick, TRUE);
}

void inbound_away_notify(server *serv, char *nick, char *reason, const message_tags_data *)
{
    for (session *s : sessions_of(serv))
        userlist_set_away(s, nick, reason ? TRUE : FALSE);
}

void inbound_uaway(server *serv, const message_tags_data *)
{
    serv->away = TRUE;
    own_state_of(serv).away_since = time(nullptr);
    fe_set_away(serv);
    for (session *s : sessions_of(serv))
        userlist_set_away(s, serv->nick, TRUE);
}

void inbound_uback(server *serv, const message_tags_data *)
{
    serv->away = FALSE;
    serv->restore_away = FALSE;
    own_state_of(serv).away_since = 0;
    fe_set_away(serv);
    for (session *s : sessions_of(serv))
        userlist_set_away(s, serv->nick, FALSE);
}

void inbound_account(server *serv, const char *nick, const char *account)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && s->users)
            userlist_set_account(s, nick, account);
    }
}

void inbound_user_info_start(session *sess, char *nick, const message_tags_data *)
{
    if (!sess)
        return;
    // A WHOIS reply says the nick is here; a 301 inside it says otherwise.
    for (session *s : sessions_of(sess->server))
        userlist_set_away(s, nick, FALSE);
}

void inbound_user_info(session *sess, char *chan, char *user, char *host, char *servname, char *nick, char *realname,
                       char *account, unsigned int away, const message_tags_data *tags)
{
    if (!sess || !nonempty(nick))
        return;
    server *serv = sess->server;
    std::string address;
    if (nonempty(user) && nonempty(host))
        address = std::string(user) + "@" + host;
    const char *addr = address.empty() ? nullptr : address.c_str();
    const char *server_name = nonempty(servname) ? servname : nullptr;
    const char *acct = nonempty(account) ? account : nullptr;
    const char *real = nonempty(realname) ? realname : nullptr;

    if (nonempty(chan)) {
        if (session *chan_sess = find_channel(serv, chan)) {
            userlist_add_hostname(chan_sess, nick, addr, real, server_name, acct, away);
        } else if (own_state_of(serv).doing_dns && nonempty(host)) {
            own_state_of(serv).doing_dns = false;
            do_dns(sess, nick, host, tags);
        }
        return;
    }

    for (session *s : sessions_of(serv)) {
        if (s->type == SESS_CHANNEL)
            userlist_add_hostname(s, nick, addr, real, server_name, acct, away);
        else if (s->type == SESS_DIALOG && addr && serv->p_cmp(s->channel, nick) == 0)
            set_topic(s, addr, addr);
    }
}

// ---- lag replies ------------------------------------------------------------------------------

void inbound_ping_reply(session *sess, char *timestring, char *from, const message_tags_data *tags)
{
    if (!sess || !timestring)
        return;
    ping_reply(sess, timestring, from ? from : "", false, tags);
}
