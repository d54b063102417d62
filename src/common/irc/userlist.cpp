// The channel user lists. Each channel session keeps its User records in a
// sorted array (tree.h) ordered by nick under the server's comparison, so
// that lookups are binary searches even in channels of many thousands. A
// NAMES burst would otherwise pay a memmove per arriving nick: during a burst
// new records are only appended, and the first operation that needs the
// order (at the latest the end of the burst) sorts them once, drops repeated
// nicks and merges them into the array.

#include "irc/userlist.h"

#include "base/tree.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/modes.h"
#include "lists/notify.h"
#include "net/server.h"
#include "session/session.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace
{

// The away value of a WHO or WHOIS reply that does not tell the away state.
constexpr unsigned int AWAY_UNKNOWN = 255;

// Sort key of a burst record: the first 16 bytes of the nick, case-folded
// the way the server compares and packed big-endian, so that most
// comparisons of a large burst touch only this array and not the records.
// A nick that ends inside the key leaves its last byte zero: equal keys then
// mean equal nicks. 24 bytes, and the record at hand, so that sorting and
// merging walk this array alone.
struct burst_entry {
    std::uint64_t key[2];
    User *user;
};

bool ends_in_key(const burst_entry &e)
{
    return (e.key[1] & 0xff) == 0;
}

// The fold of the server's comparison when it is one we know, else null
// (then every comparison goes to the server's function).
const unsigned char *known_fold(const server *serv)
{
    static const unsigned char *ascii = [] {
        static unsigned char table[256];
        for (int c = 0; c < 256; c++)
            table[c] = static_cast<unsigned char>(g_ascii_tolower(static_cast<char>(c)));
        return table;
    }();
    if (!serv->p_cmp || serv->p_cmp == rfc_casecmp)
        return rfc_tolowertab;
    if (serv->p_cmp == g_ascii_strcasecmp)
        return ascii;
    return nullptr;
}

burst_entry make_entry(const unsigned char *fold, User *user)
{
    burst_entry e{{0, 0}, user};
    if (!fold)
        return e;
    const auto *p = reinterpret_cast<const unsigned char *>(user->nick);
    for (int i = 0; i < 16 && p[i]; i++)
        e.key[i / 8] |= static_cast<std::uint64_t>(fold[p[i]]) << (8 * (7 - i % 8));
    return e;
}

// A stable radix sort of the entries by their first key word, a byte per
// pass, least significant first; a byte that every key shares (the "guest"
// of a channel full of guests) costs no pass. A comparison sort would make the
// largest bursts grow faster than their size.
void sort_by_first_word(std::vector<burst_entry> &entries)
{
    constexpr int BYTES = 8;
    const std::size_t n = entries.size();
    if (n < 2)
        return;
    std::vector<std::array<std::uint32_t, 256>> count(BYTES);
    for (const burst_entry &e : entries) {
        for (int b = 0; b < BYTES; b++)
            count[static_cast<std::size_t>(b)][(e.key[0] >> (8 * b)) & 0xff]++;
    }
    std::vector<burst_entry> scratch(n);
    for (int b = 0; b < BYTES; b++) {
        std::array<std::uint32_t, 256> &slot = count[static_cast<std::size_t>(b)];
        if (slot[(entries[0].key[0] >> (8 * b)) & 0xff] == n)
            continue;
        std::uint32_t pos = 0;
        for (std::uint32_t &c : slot) {
            const std::uint32_t here = c;
            c = pos;
            pos += here;
        }
        for (const burst_entry &e : entries)
            scratch[slot[(e.key[0] >> (8 * b)) & 0xff]++] = e;
        entries.swap(scratch);
    }
}

// A run of entries that share their first key word, sorted without moving
// equals past each other. Runs are short but for channels of nicks alike in
// their first eight bytes.
template <typename It, typename Less> void stable_sort_run(It first, It last, Less less)
{
    constexpr std::ptrdiff_t INSERTION_MAX = 32;
    if (last - first > INSERTION_MAX) {
        std::stable_sort(first, last, less);
        return;
    }
    for (It i = first + (first != last ? 1 : 0); i < last; ++i) {
        burst_entry moving = *i;
        It j = i;
        for (; j > first && less(moving, *(j - 1)); --j)
            *j = *(j - 1);
        *j = moving;
    }
}

// Records of a NAMES burst not yet merged into the sorted array, in arrival
// order, with their sort keys made while each record was fresh in the cache.
struct names_burst {
    std::vector<User *> pending;
    std::vector<burst_entry> entries;
    const unsigned char *fold = nullptr; // the fold the keys were made with
};

// Never destroyed: sessions outlive static destructors at exit, and records
// of a burst still open then must stay reachable through their session.
auto &bursts = *new std::unordered_map<const session *, names_burst>;

names_burst *burst_of(const session *sess)
{
    // Every lookup and every add of a burst asks; outside NAMES replies there
    // is no burst at all, and inside them mostly one.
    if (bursts.empty())
        return nullptr;
    if (bursts.size() == 1) {
        auto only = bursts.begin();
        return only->first == sess ? &only->second : nullptr;
    }
    auto it = bursts.find(sess);
    return it == bursts.end() ? nullptr : &it->second;
}

int nick_cmp(const server *serv, const char *a, const char *b)
{
    return serv->p_cmp ? serv->p_cmp(a, b) : rfc_casecmp(a, b);
}

// The collection's order; `data` is the session, whose server may change
// its comparison (CASEMAPPING), after which userlist_resort runs.
int user_order(const void *a, const void *b, void *data)
{
    const auto *sess = static_cast<const session *>(data);
    return nick_cmp(sess->server, static_cast<const User *>(a)->nick, static_cast<const User *>(b)->nick);
}

int key_order(const void *key, const void *item, void *data)
{
    const auto *sess = static_cast<const session *>(data);
    return nick_cmp(sess->server, static_cast<const char *>(key), static_cast<const User *>(item)->nick);
}

void free_user(User *user)
{
    g_free(user->hostname);
    g_free(user->realname);
    g_free(user->servername);
    g_free(user->account);
    g_free(user);
}

void count_down(int &counter)
{
    if (counter > 0)
        counter--;
}

// Takes a leaving record off the counters and the view.
void forget_user(session *sess, User *user)
{
    if (user->voice)
        count_down(sess->voice_count);
    if (user->op)
        count_down(sess->op_count);
    if (user->hop)
        count_down(sess->halfop_count);
    count_down(sess->user_count);
    fe_userlist_numbers(sess);
    fe_userlist_remove(sess, user);
    if (sess->own_user == user)
        sess->own_user = nullptr;
}

// A burst record that repeats a nick already listed (`kept`, which arrived
// first): it leaves again, and the own record, if it was the one, is `kept`.
void drop_repeat(session *sess, User *repeat, User *kept)
{
    const bool was_own = sess->own_user == repeat;
    forget_user(sess, repeat);
    free_user(repeat);
    if (was_own)
        sess->own_user = kept;
}

// Merges the records of a burst into the sorted array: one sort of the new
// records and one linear merge, instead of a memmove per nick. Repeated
// nicks keep the record that arrived first.
void settle(session *sess)
{
    names_burst *burst = burst_of(sess);
    if (!burst || burst->pending.empty())
        return;
    const server *serv = sess->server;
    // The entries hold every pending record.
    std::vector<burst_entry> entries = std::move(burst->entries);
    burst->pending.clear();
    burst->entries.clear();
    // The server's comparison changed during the burst: the keys are stale.
    const unsigned char *fold = known_fold(serv);
    if (fold != burst->fold) {
        for (burst_entry &e : entries)
            e = make_entry(fold, e.user);
    }

    auto compare = [serv, fold](const burst_entry &a, const burst_entry &b) {
        if (a.key[0] != b.key[0])
            return a.key[0] < b.key[0] ? -1 : 1;
        if (a.key[1] != b.key[1])
            return a.key[1] < b.key[1] ? -1 : 1;
        if (fold && ends_in_key(a))
            return 0;
        return nick_cmp(serv, a.user->nick, b.user->nick);
    };
    // Ordered by the first key word in linear time; only the runs that share
    // it (nicks alike in their first eight bytes) need comparisons. Every
    // step is stable, so of equal nicks the first to arrive comes first.
    sort_by_first_word(entries);
    const auto before = [&compare](const burst_entry &a, const burst_entry &b) { return compare(a, b) < 0; };
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t end = i + 1;
        while (end < entries.size() && entries[end].key[0] == entries[i].key[0])
            end++;
        stable_sort_run(entries.begin() + static_cast<std::ptrdiff_t>(i),
                        entries.begin() + static_cast<std::ptrdiff_t>(end), before);
        i = end;
    }

    const int listed = tree_size(sess->users);
    void **old = tree_make_list(sess->users);
    tree *merged = listed ? tree_new(user_order, sess) : sess->users;
    int i = 0;
    const burst_entry *last = nullptr;
    // Repeats leave once the array is whole again: the front end hears of
    // them and must find the list in order.
    std::vector<std::pair<User *, User *>> repeats;
    for (const burst_entry &e : entries) {
        User *user = e.user;
        if (last && compare(*last, e) == 0) {
            repeats.emplace_back(user, last->user);
            continue;
        }
        int c = -1;
        while (i < listed && (c = nick_cmp(serv, static_cast<User *>(old[i])->nick, user->nick)) < 0)
            tree_append(merged, old[i++]);
        if (i < listed && c == 0) {
            repeats.emplace_back(user, static_cast<User *>(old[i]));
            continue;
        }
        tree_append(merged, user);
        last = &e;
    }
    while (i < listed)
        tree_append(merged, old[i++]);
    if (merged != sess->users) {
        tree_destroy(sess->users);
        sess->users = merged;
    }
    for (const auto &[repeat, kept] : repeats)
        drop_repeat(sess, repeat, kept);
}

User *find_user(session *sess, const char *nick)
{
    if (!sess || !nick || !sess->users)
        return nullptr;
    settle(sess);
    return static_cast<User *>(tree_find(sess->users, nick, key_order, sess, nullptr));
}

// Puts a record into the collection; false when an equal nick is there
// (during a burst that is found out when the burst settles).
bool attach(session *sess, User *user)
{
    if (!sess->users)
        sess->users = tree_new(user_order, sess);
    if (names_burst *burst = burst_of(sess)) {
        if (burst->pending.empty())
            burst->fold = known_fold(sess->server);
        burst->entries.push_back(make_entry(burst->fold, user));
        burst->pending.push_back(user);
        return true;
    }
    return tree_insert(sess->users, user) >= 0;
}

// Takes a listed record out of the collection (it stays allocated).
void detach(session *sess, User *user)
{
    settle(sess);
    tree_remove(sess->users, user, nullptr);
}

// Every record, the sorted ones first; the order of the rest is arrival.
template <typename Fn> void for_each_user(session *sess, Fn fn)
{
    const int n = tree_size(sess->users);
    void **items = tree_make_list(sess->users);
    for (int i = 0; i < n; i++)
        fn(static_cast<User *>(items[i]));
    if (const names_burst *burst = burst_of(sess)) {
        for (User *user : burst->pending)
            fn(user);
    }
}

void free_all(session *sess)
{
    for_each_user(sess, free_user);
    if (names_burst *burst = burst_of(sess)) {
        burst->pending.clear();
        burst->entries.clear();
    }
    tree_destroy(sess->users);
    sess->users = nullptr;
    sess->own_user = nullptr;
    sess->op_count = sess->halfop_count = sess->voice_count = sess->user_count = 0;
}

// Whether a level the user holds still shows prefix character `c`.
bool holds_prefix_char(const server *serv, unsigned int access, char c)
{
    const char *prefixes = serv->nickprefixes ? serv->nickprefixes : "";
    for (int i = 0; prefixes[i] && i < MAX_NICK_LEVELS; i++) {
        if ((access & (1u << i)) && prefixes[i] == c)
            return true;
    }
    return false;
}

// Sets a status flag and moves its counter only when the flag really changes.
void set_status(unsigned int bit_now, unsigned int &flag_value, int &counter, bool &changed)
{
    if ((flag_value != 0) == (bit_now != 0))
        return;
    flag_value = bit_now ? 1 : 0;
    if (bit_now)
        counter++;
    else
        count_down(counter);
    changed = true;
}

} // namespace

void userlist_add(session *sess, const char *name, const char *hostname, const char *account, const char *realname,
                  const message_tags_data *tags)
{
    if (!sess || !name)
        return;
    server *serv = sess->server;
    int prefix_len = 0;
    const unsigned int access = nick_access(serv, name, &prefix_len);
    const char *nick = name + prefix_len;
    // An item of prefix characters alone names nobody.
    if (!nick[0])
        return;

    auto *user = g_new0(User, 1);
    safe_strcpy(user->nick, nick, sizeof user->nick);
    notify_set_online(serv, user->nick, tags);

    user->access = access;
    if (access)
        user->prefix = get_nick_prefix(serv, access);
    else if (prefix_len)
        user->prefix = name[0];
    if (hostname && hostname[0])
        user->hostname = g_strdup(hostname);
    user->me = nick_cmp(serv, user->nick, serv->nick) == 0;
    if (serv->cap_extended_join) {
        // "*" is extended-join's word for "not logged in".
        if (account && account[0] && strcmp(account, "*") != 0)
            user->account = g_strdup(account);
        if (realname && realname[0])
            user->realname = g_strdup(realname);
    }
    // "@@x" or "@+@x" still makes one operator: flags first, counters once.
    for (int i = 0; i < prefix_len; i++) {
        if (name[i] == '@')
            user->op = 1;
        else if (name[i] == '%')
            user->hop = 1;
        else if (name[i] == '+')
            user->voice = 1;
    }

    if (!attach(sess, user)) {
        free_user(user);
        return;
    }
    sess->user_count++;
    if (user->op)
        sess->op_count++;
    if (user->hop)
        sess->halfop_count++;
    if (user->voice)
        sess->voice_count++;
    if (user->me)
        sess->own_user = user;

    fe_userlist_insert(sess, user, FALSE);
    if (sess->end_of_names)
        fe_userlist_numbers(sess);
}

User *userlist_find(session *sess, const char *nick)
{
    return find_user(sess, nick);
}

User *userlist_find_global(server *serv, const char *nick)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server != serv)
            continue;
        if (User *user = find_user(sess, nick))
            return user;
    }
    return nullptr;
}

int userlist_remove(session *sess, const char *nick)
{
    User *user = find_user(sess, nick);
    if (!user)
        return 0;
    userlist_remove_user(sess, user);
    return 1;
}

void userlist_remove_user(session *sess, User *user)
{
    if (!sess || !user)
        return;
    forget_user(sess, user);
    detach(sess, user);
    free_user(user);
}

int userlist_change(session *sess, const char *oldname, const char *newname)
{
    User *user = find_user(sess, oldname);
    if (!user || !newname || !newname[0])
        return 0;
    char nick[NICKLEN];
    safe_strcpy(nick, newname, sizeof nick);

    // A nick that is listed twice would orphan one record: whoever already
    // holds the new nick here has left without us seeing it.
    User *stale = find_user(sess, nick);
    if (stale && stale != user)
        userlist_remove_user(sess, stale);

    detach(sess, user);
    fe_userlist_remove(sess, user);
    memcpy(user->nick, nick, sizeof nick);
    attach(sess, user);
    fe_userlist_insert(sess, user, FALSE);
    fe_userlist_rehash(sess, user);
    return 1;
}

void userlist_update_mode(session *sess, const char *name, char mode, char sign)
{
    if (sign != '+' && sign != '-')
        return;
    User *user = find_user(sess, name);
    if (!user)
        return;
    server *serv = sess->server;
    char prefix = 0;
    const int level = mode_access(serv, mode, &prefix);
    if (level < 0)
        return;

    const unsigned int bit = 1u << level;
    const unsigned int access = sign == '+' ? (user->access | bit) : (user->access & ~bit);
    bool changed = access != user->access;
    user->access = access;
    user->prefix = get_nick_prefix(serv, access);

    // Clearing a level keeps the status while another held level shows the
    // same character (a PREFIX may map two letters to one symbol).
    const bool now = sign == '+' || holds_prefix_char(serv, access, prefix);
    unsigned int flag;
    switch (prefix) {
    case '@':
        flag = user->op;
        set_status(now, flag, sess->op_count, changed);
        user->op = flag;
        break;
    case '%':
        flag = user->hop;
        set_status(now, flag, sess->halfop_count, changed);
        user->hop = flag;
        break;
    case '+':
        flag = user->voice;
        set_status(now, flag, sess->voice_count, changed);
        user->voice = flag;
        break;
    default:
        break;
    }
    if (!changed)
        return;
    // The nick order is unchanged; only the view's access order moves.
    fe_userlist_remove(sess, user);
    fe_userlist_insert(sess, user, FALSE);
    fe_userlist_numbers(sess);
}

void userlist_set_away(session *sess, const char *nick, unsigned int away)
{
    User *user = find_user(sess, nick);
    if (!user)
        return;
    const unsigned int now = away ? 1 : 0;
    if (user->away == now)
        return;
    user->away = now;
    fe_userlist_rehash(sess, user);
    if (now)
        fe_userlist_update(sess, user);
}

void userlist_set_account(session *sess, const char *nick, const char *account)
{
    User *user = find_user(sess, nick);
    if (!user || !account)
        return;
    if (strcmp(account, "*") == 0) {
        g_free(user->account);
        user->account = nullptr;
    } else if (!user->account || strcmp(user->account, account) != 0) {
        g_free(user->account);
        user->account = g_strdup(account);
    }
}

int userlist_add_hostname(session *sess, const char *nick, const char *hostname, const char *realname,
                          const char *servername, const char *account, unsigned int away)
{
    User *user = find_user(sess, nick);
    if (!user)
        return 0;
    bool host_changed = false;
    if (hostname && hostname[0] && (!user->hostname || strcmp(user->hostname, hostname) != 0)) {
        g_free(user->hostname);
        user->hostname = g_strdup(hostname);
        host_changed = true;
    }
    if (realname && realname[0] && (!user->realname || strcmp(user->realname, realname) != 0)) {
        g_free(user->realname);
        user->realname = g_strdup(realname);
    }
    if (!user->servername && servername && servername[0])
        user->servername = g_strdup(servername);
    // WHOX answers "0" for a nick that is not logged in.
    if (!user->account && account && account[0] && strcmp(account, "0") != 0 && strcmp(account, "*") != 0)
        user->account = g_strdup(account);
    bool away_changed = false;
    if (away != AWAY_UNKNOWN) {
        const unsigned int now = away ? 1 : 0;
        away_changed = user->away != now;
        user->away = now;
    }
    fe_userlist_update(sess, user);
    if (away_changed || (host_changed && prefs.gui_ulist_show_hosts))
        fe_userlist_rehash(sess, user);
    return 1;
}

void userlist_burst_begin(session *sess)
{
    if (sess)
        bursts.try_emplace(sess);
}

void userlist_burst_end(session *sess)
{
    if (!sess)
        return;
    settle(sess);
    bursts.erase(sess);
}

void userlist_resort(session *sess)
{
    if (!sess || !sess->users)
        return;
    settle(sess);
    const int n = tree_size(sess->users);
    void **items = tree_make_list(sess->users);
    std::vector<User *> users;
    users.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; i++)
        users.push_back(static_cast<User *>(items[i]));
    const server *serv = sess->server;
    std::stable_sort(users.begin(), users.end(),
                     [serv](const User *a, const User *b) { return nick_cmp(serv, a->nick, b->nick) < 0; });

    // Nicks that were distinct under the old comparison may be one nick now:
    // keep one record of each run of equals, the own one when it is there.
    tree *sorted = tree_new(user_order, sess);
    std::vector<User *> dropped;
    for (std::size_t i = 0; i < users.size();) {
        std::size_t end = i + 1;
        while (end < users.size() && nick_cmp(serv, users[i]->nick, users[end]->nick) == 0)
            end++;
        std::size_t keep = i;
        for (std::size_t k = i; k < end; k++) {
            if (users[k]->me)
                keep = k;
        }
        tree_append(sorted, users[keep]);
        for (std::size_t k = i; k < end; k++) {
            if (k != keep)
                dropped.push_back(users[k]);
        }
        i = end;
    }
    tree_destroy(sess->users);
    sess->users = sorted;
    for (User *user : dropped) {
        forget_user(sess, user);
        free_user(user);
    }
}

void userlist_remap_access(session *sess, const char *old_prefixes)
{
    if (!sess || !sess->users || !old_prefixes)
        return;
    server *serv = sess->server;
    const char *prefixes = serv->nickprefixes ? serv->nickprefixes : "";
    const std::size_t old_count = std::min<std::size_t>(strlen(old_prefixes), MAX_NICK_LEVELS);
    for_each_user(sess, [&](User *user) {
        if (!user->access)
            return;
        unsigned int access = 0;
        for (std::size_t i = 0; i < old_count; i++) {
            if (!(user->access & (1u << i)))
                continue;
            const char *at = strchr(prefixes, old_prefixes[i]);
            if (at && at - prefixes < MAX_NICK_LEVELS)
                access |= 1u << (at - prefixes);
        }
        const char prefix = get_nick_prefix(serv, access);
        if (access == user->access && prefix == user->prefix)
            return;
        fe_userlist_remove(sess, user);
        user->access = access;
        user->prefix = prefix;
        fe_userlist_insert(sess, user, FALSE);
    });
}

void userlist_clear(session *sess)
{
    if (!sess)
        return;
    fe_userlist_clear(sess);
    free_all(sess);
    fe_userlist_numbers(sess);
}

void userlist_free(session *sess)
{
    if (!sess)
        return;
    free_all(sess);
    bursts.erase(sess);
}

void userlist_rehash(session *sess)
{
    if (!sess)
        return;
    for_each_user(sess, [sess](User *user) { fe_userlist_rehash(sess, user); });
}

GSList *userlist_flat_list(session *sess)
{
    if (!sess || !sess->users)
        return nullptr;
    settle(sess);
    GSList *list = nullptr;
    void **items = tree_make_list(sess->users);
    for (int i = tree_size(sess->users) - 1; i >= 0; i--)
        list = g_slist_prepend(list, items[i]);
    return list;
}

GList *userlist_double_list(session *sess)
{
    if (!sess || !sess->users)
        return nullptr;
    settle(sess);
    GList *list = nullptr;
    void **items = tree_make_list(sess->users);
    const int n = tree_size(sess->users);
    for (int i = 0; i < n; i++)
        list = g_list_prepend(list, items[i]);
    return list;
}

int nick_cmp_az_ops(server *serv, User *user1, User *user2)
{
    const unsigned int a = user1->access, b = user2->access;
    if (a != b) {
        for (int i = 0; i < MAX_NICK_LEVELS; i++) {
            const unsigned int bit = 1u << i;
            if ((a & bit) != (b & bit))
                return (a & bit) ? -1 : 1;
            if (a & bit)
                break;
        }
    }
    return nick_cmp(serv, user1->nick, user2->nick);
}

int nick_cmp_alpha(User *user1, User *user2, server *serv)
{
    return nick_cmp(serv, user1->nick, user2->nick);
}

const char *userlist_find_address(server *serv, const char *nick)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server != serv || sess->type != SESS_CHANNEL)
            continue;
        const User *user = find_user(sess, nick);
        if (user && user->hostname)
            return user->hostname;
    }
    return nullptr;
}
