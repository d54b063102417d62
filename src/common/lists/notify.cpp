// The notify (friends) list and its tracking on each server.
#include "lists/notify.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/proto-irc.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <string>

GSList *notify_list;

namespace
{

constexpr std::size_t NOTIFY_NICK_MAX = 63;
// ISON lines stay well inside the 512-byte limit with the server's prefix.
constexpr std::size_t ISON_LINE_MAX = 460;
constexpr std::size_t WATCH_BATCH_MAX = 500;
// Unanswered ISON rounds remembered per server; older ones are forgotten.
constexpr std::size_t ISON_ROUNDS_KEPT = 8;

// What the tracking needs to remember about one connection.
struct server_state {
    unsigned int generation = 0;
    std::deque<std::vector<std::string>> ison_asked; // rounds waiting for a reply, oldest first
    std::size_t ison_next = 0;                       // where the next round starts
    std::vector<std::string> monitor_refused;        // refused by a full MONITOR list, polled with ISON
    std::vector<std::string> on_watch;               // refused by MONITOR, watched with WATCH
};
std::map<server *, server_state> server_states;

server_state &state_of(server *serv)
{
    server_state &st = server_states[serv];
    if (st.generation != serv->connect_generation) {
        st = server_state{};
        st.generation = serv->connect_generation;
    }
    return st;
}

std::string without_spaces(const char *text)
{
    std::string out;
    for (const char *p = text ? text : ""; *p; p++)
        if (*p != ' ')
            out += *p;
    return out;
}

std::string clipped_nick(const char *nick, std::size_t len)
{
    return std::string(nick, std::min(len, NOTIFY_NICK_MAX));
}

int compare(server *serv, const char *a, const char *b)
{
    return serv && serv->p_cmp ? serv->p_cmp(a, b) : rfc_casecmp(a, b);
}

notify *find_entry(const char *nick)
{
    for (GSList *l = notify_list; l; l = l->next) {
        auto *n = static_cast<notify *>(l->data);
        if (rfc_casecmp(n->name.c_str(), nick) == 0)
            return n;
    }
    return nullptr;
}

notify *find_applying(server *serv, const char *nick)
{
    for (GSList *l = notify_list; l; l = l->next) {
        auto *n = static_cast<notify *>(l->data);
        if (compare(serv, n->name.c_str(), nick) == 0 && notify_applies(n, serv))
            return n;
    }
    return nullptr;
}

notify_per_server &status_for(notify *n, server *serv)
{
    for (auto &st : n->statuses)
        if (st.serv == serv)
            return st;
    n->statuses.push_back(notify_per_server{serv, false, 0, 0, 0});
    return n->statuses.back();
}

bool logged_in(server *serv)
{
    return serv->connected && serv->motd_done;
}

const char *server_display_name(server *serv)
{
    return serv->announced_name[0] ? serv->announced_name : serv->hostname;
}

void send_change(server *serv, char sign, const std::string &nick)
{
    if (serv->have_monitor)
        serv->p_raw(serv, (std::string("MONITOR ") + sign + ' ' + nick).c_str());
    else if (serv->have_watch)
        serv->p_raw(serv, (std::string("WATCH ") + sign + nick).c_str());
}

bool in_list(server *serv, const std::vector<std::string> &nicks, const char *nick)
{
    return std::any_of(nicks.begin(), nicks.end(),
                       [&](const std::string &n) { return compare(serv, n.c_str(), nick) == 0; });
}

// One ISON round for `serv` over `candidates`, starting where the last
// round stopped, so that a long list is asked in turns.
void ison_round(server *serv, server_state &st, const std::vector<std::string> &candidates)
{
    if (candidates.empty())
        return;
    std::string line = "ISON ";
    std::vector<std::string> asked;
    const std::size_t start = st.ison_next % candidates.size();
    for (std::size_t i = 0; i < candidates.size(); i++) {
        const std::string &nick = candidates[(start + i) % candidates.size()];
        if (!asked.empty() && line.size() + nick.size() + 1 > ISON_LINE_MAX)
            break;
        line += nick + ' ';
        asked.push_back(nick);
    }
    st.ison_next = (start + asked.size()) % candidates.size();
    if (st.ison_asked.size() >= ISON_ROUNDS_KEPT)
        st.ison_asked.pop_front();
    st.ison_asked.push_back(std::move(asked));
    serv->p_raw(serv, line.c_str());
}

void ison_check_server(server *serv)
{
    server_state &st = state_of(serv);
    std::vector<std::string> candidates;
    const bool watched = serv->have_monitor || serv->have_watch;
    // notify_list is newest first; ask oldest first, as the file lists them.
    std::vector<notify *> ordered;
    for (GSList *l = notify_list; l; l = l->next)
        ordered.insert(ordered.begin(), static_cast<notify *>(l->data));
    for (notify *n : ordered) {
        if (!notify_applies(n, serv))
            continue;
        if (watched && !in_list(serv, st.monitor_refused, n->name.c_str()))
            continue;
        candidates.push_back(n->name);
    }
    ison_round(serv, st, candidates);
}

void for_each_item(const char *users, const std::function<void(const std::string &)> &fn);

} // namespace

bool notify_applies(const notify *entry, server *serv)
{
    if (entry->networks.empty())
        return true;
    const std::string net = without_spaces(server_get_network(serv, true));
    gchar **names = g_strsplit(entry->networks.c_str(), ",", -1);
    bool found = false;
    for (gchar **p = names; *p && !found; p++)
        found = **p && rfc_casecmp(*p, net.c_str()) == 0;
    g_strfreev(names);
    return found;
}

const notify_per_server *notify_find_status(const notify *entry, server *serv)
{
    for (const auto &st : entry->statuses)
        if (st.serv == serv)
            return &st;
    return nullptr;
}

bool notify_adduser(const char *nick, const char *networks)
{
    if (!nick || !*nick)
        return false;
    std::string nets = without_spaces(networks);
    if (g_ascii_strcasecmp(nets.c_str(), "ALL") == 0)
        nets.clear();
    notify *n = find_entry(nick);
    if (n) {
        n->networks = nets;
    } else {
        n = new notify{clipped_nick(nick, strlen(nick)), nets, {}};
        notify_list = g_slist_prepend(notify_list, n);
    }
    notify_checklist(nullptr);
    fe_notify_update(nullptr);
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (logged_in(serv) && notify_applies(n, serv))
            send_change(serv, '+', n->name);
    }
    return true;
}

int notify_deluser(const char *nick)
{
    notify *n = nick ? find_entry(nick) : nullptr;
    if (!n)
        return 0;
    // The servers are told while the nick is still at hand.
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (!logged_in(serv) || !notify_applies(n, serv))
            continue;
        server_state &st = state_of(serv);
        auto same = [&](const std::string &r) { return compare(serv, r.c_str(), n->name.c_str()) == 0; };
        if (std::erase_if(st.on_watch, same))
            serv->p_raw(serv, ("WATCH -" + n->name).c_str());
        else if (!std::erase_if(st.monitor_refused, same))
            send_change(serv, '-', n->name);
    }
    notify_list = g_slist_remove(notify_list, n);
    delete n;
    fe_notify_update(nullptr);
    return 1;
}

int notify_checklist(void *)
{
    for (GSList *l = serv_list; l; l = l->next) {
        auto *serv = static_cast<server *>(l->data);
        if (logged_in(serv))
            ison_check_server(serv);
    }
    return 1;
}

void notify_markonline(server *serv, const char *nicks, const message_tags_data *tags)
{
    server_state &st = state_of(serv);
    gchar **present = g_strsplit(nicks ? nicks : "", " ", -1);
    auto is_present = [&](const std::string &nick) {
        for (gchar **p = present; *p; p++)
            if (**p && compare(serv, *p, nick.c_str()) == 0)
                return true;
        return false;
    };
    if (!st.ison_asked.empty()) {
        const std::vector<std::string> asked = std::move(st.ison_asked.front());
        st.ison_asked.pop_front();
        for (const std::string &nick : asked) {
            notify *n = find_applying(serv, nick.c_str());
            if (!n)
                continue;
            if (is_present(nick))
                notify_set_online(serv, nick.c_str(), tags);
            else if (status_for(n, serv).online)
                notify_set_offline(serv, nick.c_str(), FALSE, tags);
        }
    } else {
        // An ISON the user sent by hand: what it shows online is news,
        // but it says nothing about anyone it did not name.
        for (gchar **p = present; *p; p++)
            if (**p && find_applying(serv, *p))
                notify_set_online(serv, *p, tags);
    }
    g_strfreev(present);
}

void notify_set_online(server *serv, const char *nick, const message_tags_data *tags)
{
    notify *n = find_applying(serv, nick);
    if (!n)
        return;
    notify_per_server &st = status_for(n, serv);
    const time_t now = time(nullptr);
    st.lastseen = now;
    if (st.online)
        return;
    st.online = true;
    st.laston = now;
    text_emit(XP_TE_NOTIFY_ONLINE, front_tab(serv), n->name.c_str(), server_display_name(serv),
              server_get_network(serv, true), nullptr, tags ? tags->timestamp : 0);
    fe_notify_update(nullptr);
    if (prefs.notify_whois_online)
        serv->p_whois(serv, (n->name + ' ' + n->name).c_str());
}

void notify_set_offline(server *serv, const char *nick, int quiet, const message_tags_data *tags)
{
    notify *n = find_applying(serv, nick);
    if (!n)
        return;
    notify_per_server &st = status_for(n, serv);
    st.online = false;
    st.lastoff = time(nullptr);
    if (!quiet)
        text_emit(XP_TE_NOTIFY_OFFLINE, front_tab(serv), n->name.c_str(), server_display_name(serv),
                  server_get_network(serv, true), nullptr, tags ? tags->timestamp : 0);
    fe_notify_update(nullptr);
}

namespace
{
void for_each_item(const char *users, const std::function<void(const std::string &)> &fn)
{
    gchar **items = g_strsplit(users ? users : "", ",", -1);
    for (gchar **p = items; *p; p++) {
        const char *bang = strchr(*p, '!');
        const std::size_t len = bang ? static_cast<std::size_t>(bang - *p) : strlen(*p);
        if (len)
            fn(clipped_nick(*p, len));
    }
    g_strfreev(items);
}
} // namespace

void notify_set_online_list(server *serv, const char *users, const message_tags_data *tags)
{
    for_each_item(users, [&](const std::string &nick) { notify_set_online(serv, nick.c_str(), tags); });
}

void notify_set_offline_list(server *serv, const char *users, int quiet, const message_tags_data *tags)
{
    for_each_item(users, [&](const std::string &nick) { notify_set_offline(serv, nick.c_str(), quiet, tags); });
}

void notify_monitor_full(server *serv, const char *targets)
{
    std::vector<std::string> refused;
    for_each_item(targets, [&](const std::string &nick) {
        if (find_applying(serv, nick.c_str()))
            refused.push_back(nick);
    });
    if (refused.empty())
        return;
    std::string names;
    for (const std::string &nick : refused)
        names += (names.empty() ? "" : ", ") + nick;
    session *tab = server_tab(serv);
    if (serv->have_watch) {
        PrintTextf(tab, _("The server's MONITOR list is full; watching %s with WATCH instead.\n"), names.c_str());
        server_state &st = state_of(serv);
        std::string line = "WATCH";
        for (const std::string &nick : refused) {
            if (!in_list(serv, st.on_watch, nick.c_str()))
                st.on_watch.push_back(nick);
            if (line.size() + nick.size() + 2 > WATCH_BATCH_MAX) {
                serv->p_raw(serv, line.c_str());
                line = "WATCH";
            }
            line += " +" + nick;
        }
        serv->p_raw(serv, line.c_str());
        return;
    }
    PrintTextf(tab, _("The server's MONITOR list is full; checking %s with ISON every %d seconds instead.\n"),
               names.c_str(), prefs.notify_timeout);
    server_state &st = state_of(serv);
    for (const std::string &nick : refused)
        if (!in_list(serv, st.monitor_refused, nick.c_str()))
            st.monitor_refused.push_back(nick);
    ison_check_server(serv);
}

void notify_send_watches(server *serv)
{
    if (!serv->have_monitor && !serv->have_watch)
        return;
    state_of(serv).monitor_refused.clear();
    state_of(serv).on_watch.clear();
    const bool monitor = serv->have_monitor;
    std::vector<notify *> ordered;
    for (GSList *l = notify_list; l; l = l->next)
        ordered.insert(ordered.begin(), static_cast<notify *>(l->data));
    std::vector<std::string> batch;
    std::size_t length = 0;
    auto flush = [&] {
        if (batch.empty())
            return;
        std::string line = monitor ? "MONITOR + " : "WATCH";
        for (std::size_t i = 0; i < batch.size(); i++)
            line += monitor ? (i ? "," : "") + batch[i] : " +" + batch[i];
        serv->p_raw(serv, line.c_str());
        batch.clear();
        length = 0;
    };
    for (notify *n : ordered) {
        if (!notify_applies(n, serv))
            continue;
        length += n->name.size() + (monitor ? 1 : 2);
        if (length > WATCH_BATCH_MAX) {
            flush();
            length = n->name.size() + (monitor ? 1 : 2);
        }
        batch.push_back(n->name);
    }
    flush();
}

void notify_showlist(session *sess, const message_tags_data *tags)
{
    const time_t stamp = tags ? tags->timestamp : 0;
    text_emit(XP_TE_NOTIFY_HEADER, sess, nullptr, nullptr, nullptr, nullptr, stamp);
    if (!notify_list) {
        text_emit(XP_TE_NOTIFY_EMPTY, sess, nullptr, nullptr, nullptr, nullptr, stamp);
        return;
    }
    int count = 0;
    for (GSList *l = notify_list; l; l = l->next, count++) {
        auto *n = static_cast<notify *>(l->data);
        const notify_per_server *st = sess && sess->server ? notify_find_status(n, sess->server) : nullptr;
        const bool online = st && st->online && notify_applies(n, sess->server);
        PrintTextf(sess, online ? _("  %-20s online\n") : _("  %-20s offline\n"), n->name.c_str());
    }
    const std::string number = std::to_string(count);
    text_emit(XP_TE_NOTIFY_NUMBER, sess, number.c_str(), nullptr, nullptr, nullptr, stamp);
}

bool notify_is_in_list(server *serv, const char *nick)
{
    for (GSList *l = notify_list; l; l = l->next)
        if (compare(serv, static_cast<notify *>(l->data)->name.c_str(), nick) == 0)
            return true;
    return false;
}

bool notify_isnotify(session *sess, const char *nick)
{
    if (!sess || !sess->server)
        return false;
    notify *n = find_applying(sess->server, nick);
    const notify_per_server *st = n ? notify_find_status(n, sess->server) : nullptr;
    return st && st->online;
}

void notify_cleanup(void)
{
    auto gone = [](server *serv) { return !g_slist_find(serv_list, serv) || !serv->connected; };
    bool changed = false;
    for (GSList *l = notify_list; l; l = l->next) {
        auto *n = static_cast<notify *>(l->data);
        changed |= std::erase_if(n->statuses, [&](const notify_per_server &st) { return gone(st.serv); }) > 0;
    }
    std::erase_if(server_states, [&](const auto &kv) { return gone(kv.first); });
    if (changed)
        fe_notify_update(nullptr);
}

void notify_load(void)
{
    std::ifstream in(std::string(get_xdir()) + "/notify.conf");
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 255)
            line.resize(255);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const auto space = line.find(' ');
        const std::string nick = line.substr(0, space);
        if (nick.empty() || find_entry(nick.c_str()))
            continue;
        std::string nets = space == std::string::npos ? "" : without_spaces(line.c_str() + space + 1);
        notify_list = g_slist_prepend(notify_list, new notify{clipped_nick(nick.c_str(), nick.size()), nets, {}});
    }
}

void notify_save(void)
{
    std::string out;
    std::vector<notify *> ordered;
    for (GSList *l = notify_list; l; l = l->next)
        ordered.insert(ordered.begin(), static_cast<notify *>(l->data));
    for (notify *n : ordered) {
        out += n->name;
        if (!n->networks.empty())
            out += ' ' + n->networks;
        out += '\n';
    }
    atomic_file_write(std::string(get_xdir()) + "/notify.conf", out);
}
