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

GSList *ignore_list;
int ignored_total, ignored_priv, ignored_noti, ignored_chan, ignored_ctcp, ignored_invi;

namespace
{

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
    fe_ignore_update(1);
    return 1;
}

void ignore_clear(void)
{
    g_slist_free_full(ignore_list, [](void *p) { free_entry(static_cast<ignore *>(p)); });
    ignore_list = nullptr;
    fe_ignore_update(1);
}

int ignore_check(const char *host, int type)
{
    if (!host || !ignore_list)
        return 0;
    const auto bits = static_cast<unsigned int>(type);
    for (GSList *l = ignore_list; l; l = l->next) {
        auto *ig = static_cast<ignore *>(l->data);
        if ((ig->type & IG_UNIG) && (ig->type & bits) && match(ig->mask, host))
            return 0;
    }
    for (GSList *l = ignore_list; l; l = l->next) {
        auto *ig = static_cast<ignore *>(l->data);
        if (!(ig->type & IG_UNIG) && (ig->type & bits) && match(ig->mask, host)) {
            count_ignored(type);
            fe_ignore_update(2);
            return 1;
        }
    }
    return 0;
}

void ignore_showlist(session *sess)
{
    text_emit(XP_TE_IGNORE_HEADER, sess, nullptr, nullptr, nullptr, nullptr, 0);
    static constexpr unsigned int columns[] = {IG_PRIV, IG_NOTI, IG_CHAN, IG_CTCP, IG_DCC, IG_INVI, IG_UNIG};
    for (GSList *l = ignore_list; l; l = l->next) {
        auto *ig = static_cast<ignore *>(l->data);
        std::string line = " " + std::string(ig->mask);
        if (line.size() < 26)
            line.append(26 - line.size(), ' ');
        line += ' ';
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

