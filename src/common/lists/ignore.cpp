// The ignore list (kept in ignore.conf) and the flood guard.
#include "lists/ignore.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

GSList *ignore_list;
int ignored_total, ignored_priv, ignored_noti, ignored_chan, ignored_ctcp, ignored_invi;

namespace
{

// Looks texts up without copying them into a std::string first.
struct text_hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// Every inbound line is checked, so the entries are indexed by the literal
// part a mask pins down; only masks without one are tried one by one.
// Rebuilt after any change to the list.
struct mask_index {
    std::unordered_multimap<std::string, ignore *> by_host;   // "n!u@host.example"
    std::unordered_multimap<std::string, ignore *> by_domain; // "n!u@*.example": ".example"
    std::unordered_multimap<std::string, ignore *> by_nick;   // "nick!u@h"
    std::vector<ignore *> others;
    // What the list says about senders seen since the last change: the type
    // bits of the ignores and of the exceptions whose masks match them.
    // Busy channels repeat their senders, so most lines cost one lookup.
    std::unordered_map<std::string, std::pair<unsigned int, unsigned int>, text_hash, std::equal_to<>> verdicts;
    bool dirty = true;
};
constexpr std::size_t VERDICTS_KEPT = 4096;
mask_index masks;

std::string folded(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(rfc_tolower(static_cast<unsigned char>(c)));
    return out;
}

bool literal(std::string_view s)
{
    return s.find_first_of("*?\\") == std::string_view::npos;
}

void index_entry(ignore *ig)
{
    const std::string_view mask(ig->mask);
    const std::size_t bang = mask.find('!');
    const std::size_t at = bang == std::string_view::npos ? bang : mask.find('@', bang + 1);
    if (at != std::string_view::npos) {
        const std::string_view nick = mask.substr(0, bang), host = mask.substr(at + 1);
        if (!host.empty() && literal(host)) {
            masks.by_host.emplace(folded(host), ig);
            return;
        }
        if (host.size() > 2 && host[0] == '*' && host[1] == '.' && literal(host.substr(1))) {
            masks.by_domain.emplace(folded(host.substr(1)), ig);
            return;
        }
        if (!nick.empty() && literal(nick)) {
            masks.by_nick.emplace(folded(nick), ig);
            return;
        }
    }
    masks.others.push_back(ig);
}

void rebuild_index(void)
{
    masks = mask_index{};
    masks.dirty = false;
    for (GSList *l = ignore_list; l; l = l->next)
        index_entry(static_cast<ignore *>(l->data));
}

// The entries whose masks can match `sender`: a literal host must end the
// sender after an "@", a literal domain after a ".", a literal nick start
// it before a "!".
template <typename Fn> void for_each_candidate(std::string_view sender, Fn fn)
{
    const std::string key = folded(sender);
    auto visit = [&](const std::unordered_multimap<std::string, ignore *> &map, std::string_view k) {
        auto [first, last] = map.equal_range(std::string(k));
        for (auto it = first; it != last; ++it)
            fn(it->second);
    };
    for (std::size_t i = 0; i < key.size(); i++) {
        if (key[i] == '@') {
            if (!masks.by_host.empty())
                visit(masks.by_host, std::string_view(key).substr(i + 1));
        } else if (key[i] == '.') {
            if (!masks.by_domain.empty())
                visit(masks.by_domain, std::string_view(key).substr(i));
        } else if (key[i] == '!') {
            if (!masks.by_nick.empty())
                visit(masks.by_nick, std::string_view(key).substr(0, i));
        }
    }
    for (ignore *ig : masks.others)
        fn(ig);
}

void free_entry(ignore *ig)
{
    g_free(ig->mask);
    g_free(ig);
}

std::string ignore_file(void)
{
    return std::string(get_xdir()) + "/ignore.conf";
}

// The counters of the requested types move once per ignored item.
void count_ignored(int type)
{
    ignored_total++;
    if (type & IG_PRIV)
        ignored_priv++;
    if (type & IG_NOTI)
        ignored_noti++;
    if (type & IG_CHAN)
        ignored_chan++;
    if (type & IG_CTCP)
        ignored_ctcp++;
    if (type & IG_INVI)
        ignored_invi++;
}

} // namespace

ignore *ignore_exists(const char *mask)
{
    for (GSList *l = ignore_list; l; l = l->next) {
        auto *ig = static_cast<ignore *>(l->data);
        if (rfc_casecmp(ig->mask, mask) == 0)
            return ig;
    }
    return nullptr;
}

int ignore_add(const char *mask, int type, bool overwrite)
{
    if (!mask || !*mask)
        return IGNORE_UNAVAILABLE;
    const auto bits = static_cast<unsigned int>(type);
    int result = 2;
    ignore *ig = ignore_exists(mask);
    if (ig) {
        g_free(ig->mask);
        ig->mask = g_strdup(mask);
        ig->type = overwrite ? bits : ig->type | bits;
    } else {
        ig = g_new0(ignore, 1);
        ig->mask = g_strdup(mask);
        ig->type = bits;
        ignore_list = g_slist_prepend(ignore_list, ig);
        result = 1;
    }
    masks.dirty = true;
    fe_ignore_update(1);
    return result;
}

int ignore_del(const char *mask, ignore *entry)
{
    if (!entry && mask)
        entry = ignore_exists(mask);
    if (!entry || !g_slist_find(ignore_list, entry))
        return 0;
    ignore_list = g_slist_remove(ignore_list, entry);
    free_entry(entry);
    masks.dirty = true;
    fe_ignore_update(1);
    return 1;
}

void ignore_clear(void)
{
    g_slist_free_full(ignore_list, [](void *p) { free_entry(static_cast<ignore *>(p)); });
    ignore_list = nullptr;
    masks.dirty = true;
    fe_ignore_update(1);
}

int ignore_check(const char *host, int type)
{
    if (!host || !ignore_list)
        return 0;
    if (masks.dirty)
        rebuild_index();
    auto found = masks.verdicts.find(std::string_view(host));
    if (found == masks.verdicts.end()) {
        unsigned int ignores = 0, exceptions = 0;
        for_each_candidate(host, [&](ignore *ig) {
            if (match(ig->mask, host))
                (ig->type & IG_UNIG ? exceptions : ignores) |= ig->type;
        });
        if (masks.verdicts.size() >= VERDICTS_KEPT)
            masks.verdicts.clear();
        found = masks.verdicts.emplace(host, std::make_pair(ignores, exceptions)).first;
    }
    // An exception sharing a requested type wins over every ignore.
    const auto bits = static_cast<unsigned int>(type);
    const auto [ignores, exceptions] = found->second;
    if ((exceptions & bits) || !(ignores & bits))
        return 0;
    count_ignored(type);
    fe_ignore_update(2);
    return 1;
}

void ignore_showlist(session *sess)
{
    text_emit(XP_TE_IGNORE_HEADER, sess, nullptr, nullptr, nullptr, nullptr, 0);
    static constexpr unsigned int columns[] = {IG_PRIV, IG_NOTI, IG_CHAN, IG_CTCP, IG_DCC, IG_INVI, IG_UNIG};
    for (GSList *l = ignore_list; l; l = l->next) {
        auto *ig = static_cast<ignore *>(l->data);
        char *head = g_strdup_printf(" %-25s ", ig->mask);
        std::string line = head;
        g_free(head);
        for (unsigned int bit : columns)
            line += (ig->type & bit) ? _("YES  ") : _("NO   ");
        line += '\n';
        PrintText(sess, line.c_str());
    }
    if (!ignore_list)
        text_emit(XP_TE_IGNORELIST_EMPTY, sess, nullptr, nullptr, nullptr, nullptr, 0);
    text_emit(XP_TE_IGNORE_FOOTER, sess, nullptr, nullptr, nullptr, nullptr, 0);
}

void ignore_load(void)
{
    gchar *data = nullptr;
    if (!g_file_get_contents(ignore_file().c_str(), &data, nullptr, nullptr))
        return;
    // The file holds the list newest first; appending keeps that order.
    GSList *loaded = nullptr;
    char *pos = data;
    char mask[1024];
    char type[1024];
    while (pos && *pos) {
        char *after = cfg_get_str(pos, "mask", mask, sizeof mask);
        if (!after)
            break;
        char *next = cfg_get_str(after, "type", type, sizeof type);
        if (!next)
            break;
        pos = next;
        if (!mask[0] || ignore_exists(mask))
            continue;
        auto *ig = g_new0(ignore, 1);
        ig->mask = g_strdup(mask);
        ig->type = static_cast<unsigned int>(strtoul(type, nullptr, 10)) & 0xff;
        loaded = g_slist_prepend(loaded, ig);
    }
    g_free(data);
    ignore_list = g_slist_concat(ignore_list, g_slist_reverse(loaded));
    masks.dirty = true;
}

void ignore_save(void)
{
    std::string out;
    for (GSList *l = ignore_list; l; l = l->next) {
        auto *ig = static_cast<ignore *>(l->data);
        if (ig->type & IG_NOSAVE)
            continue;
        out += "mask = ";
        out += ig->mask;
        out += "\ntype = " + std::to_string(ig->type) + "\n\n";
    }
    // A directory that cannot be written keeps its old file.
    atomic_file_write(ignore_file(), out);
}
