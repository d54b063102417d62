// The lists a plugin can walk: tabs ("channels"), DCC records, the ignore
// and notify lists, and the users of the context channel.
#include "plugins/plugin-internal.h"

#include "base/lumenwick.h"
#include "fe.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "session/session.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace
{

enum list_kind { LIST_CHANNELS = 0, LIST_DCC = 1, LIST_IGNORE = 2, LIST_NOTIFY = 3, LIST_USERS = 4 };

const char *const list_names[] = {"channels", "dcc", "ignore", "notify", "users", nullptr};
const char *const channels_fields[] = {
    "schannel", "schannelkey", "schanmodes",    "schantypes", "pcontext", "iflags", "iid",    "ilag", "imaxmodes",
    "snetwork", "snickmodes",  "snickprefixes", "iqueue",     "sserver",  "itype",  "iusers", nullptr};
const char *const dcc_fields[] = {"iaddress32", "icps",      "sdestfile", "sfile",   "snick",
                                  "iport",      "ipos",      "iposhigh",  "iresume", "iresumehigh",
                                  "isize",      "isizehigh", "istatus",   "itype",   nullptr};
const char *const ignore_fields[] = {"iflags", "smask", nullptr};
const char *const notify_fields[] = {"iflags", "snetworks", "snick", "toff", "ton", "tseen", nullptr};
const char *const users_fields[] = {"saccount", "iaway",     "shost",     "tlasttalk", "snick",
                                    "sprefix",  "srealname", "iselected", nullptr};

// A user as copied when the list was taken: the channel may change while a
// plugin walks it.
struct user_copy {
    std::string nick, host, account, prefix, realname;
    time_t lasttalk = 0;
    int away = 0, selected = 0;
};

} // namespace

struct lumenwick_list {
    list_kind kind = LIST_CHANNELS;
    // channels: the sessions at the time of the get (checked before use).
    std::vector<session *> sessions;
    std::vector<user_copy> users;
    // Index of the current element; -1 before the first.
    long current = -1;
    long size() const
    {
        return kind == LIST_CHANNELS ? static_cast<long>(sessions.size()) : static_cast<long>(users.size());
    }
};

namespace
{

// Per-channel option pairs of the "flags" field: first bit when set (not
// off), second when it follows the global setting.
int chanopt_bits(unsigned char value, int bit)
{
    return (value != SET_OFF ? 1 << bit : 0) | (value == SET_DEFAULT ? 1 << (bit + 1) : 0);
}

int channel_flags(const session *sess)
{
    const server *serv = sess->server;
    int flags = 0;
    flags |= serv->connected ? 1 << 0 : 0;
    flags |= serv->connecting ? 1 << 1 : 0;
    flags |= serv->away ? 1 << 2 : 0;
    flags |= serv->motd_done ? 1 << 3 : 0;
    flags |= serv->have_whox ? 1 << 4 : 0;
    flags |= serv->cap_identify_msg ? 1 << 5 : 0;
    flags |= chanopt_bits(sess->text_hidejoinpart, 6);
    flags |= chanopt_bits(sess->alert_beep, 8);
    flags |= chanopt_bits(sess->text_logging, 11);
    flags |= chanopt_bits(sess->text_scrollback, 13);
    flags |= chanopt_bits(sess->text_strip, 15);
    flags |= chanopt_bits(sess->alert_tray, 17);
    flags |= chanopt_bits(sess->alert_taskbar, 19);
    flags |= chanopt_bits(sess->alert_balloon, 21);
    return flags;
}

const char *channel_str(session *sess, const char *name)
{
    server *serv = sess->server;
    if (strcmp(name, "channel") == 0)
        return sess->channel;
    if (strcmp(name, "channelkey") == 0)
        return sess->key;
    if (strcmp(name, "chanmodes") == 0)
        return serv->chanmodes;
    if (strcmp(name, "chantypes") == 0)
        return serv->chantypes;
    if (strcmp(name, "context") == 0)
        return reinterpret_cast<const char *>(sess);
    if (strcmp(name, "network") == 0)
        return server_get_network(serv, false);
    if (strcmp(name, "nickmodes") == 0)
        return serv->nickmodes;
    if (strcmp(name, "nickprefixes") == 0)
        return serv->nickprefixes;
    if (strcmp(name, "server") == 0)
        return serv->announced_name;
    return nullptr;
}

int channel_int(session *sess, const char *name)
{
    server *serv = sess->server;
    if (strcmp(name, "id") == 0)
        return serv->id;
    if (strcmp(name, "lag") == 0)
        return serv->lag;
    if (strcmp(name, "maxmodes") == 0)
        return serv->maxmodes;
    if (strcmp(name, "queue") == 0)
        return serv->queued_bytes;
    if (strcmp(name, "type") == 0)
        return sess->type;
    if (strcmp(name, "users") == 0)
        return sess->user_count;
    if (strcmp(name, "flags") == 0)
        return channel_flags(sess);
    return -1;
}

// The session a value is read from: the list's current one, or with no
// list the plugin's context. Null when it is gone.
session *channel_of(lumenwick_plugin *ph, lumenwick_list *xlist)
{
    session *sess = nullptr;
    if (!xlist)
        sess = ph ? plugin_of(ph)->context : nullptr;
    else if (xlist->kind == LIST_CHANNELS && xlist->current >= 0 && xlist->current < xlist->size())
        sess = xlist->sessions[xlist->current];
    return is_session(sess) ? sess : nullptr;
}

const user_copy *user_of(lumenwick_list *xlist)
{
    if (!xlist || xlist->kind != LIST_USERS || xlist->current < 0 || xlist->current >= xlist->size())
        return nullptr;
    return &xlist->users[xlist->current];
}

} // namespace

extern "C" {

const char *const *lumenwick_list_fields(lumenwick_plugin *, const char *name)
{
    if (!name)
        return nullptr;
    if (strcmp(name, "lists") == 0)
        return list_names;
    if (strcmp(name, "channels") == 0)
        return channels_fields;
    if (strcmp(name, "dcc") == 0)
        return dcc_fields;
    if (strcmp(name, "ignore") == 0)
        return ignore_fields;
    if (strcmp(name, "notify") == 0)
        return notify_fields;
    if (strcmp(name, "users") == 0)
        return users_fields;
    return nullptr;
}

lumenwick_list *lumenwick_list_get(lumenwick_plugin *ph, const char *name)
{
    return plugin_guard<lumenwick_list *>(nullptr, [&]() -> lumenwick_list * {
        if (!name)
            return nullptr;
        if (strcmp(name, "channels") == 0) {
            auto *list = new lumenwick_list;
            list->kind = LIST_CHANNELS;
            for (GSList *l = sess_list; l; l = l->next)
                list->sessions.push_back(static_cast<session *>(l->data));
            return list;
        }
        if (strcmp(name, "users") == 0) {
            session *sess = ph ? plugin_of(ph)->context : nullptr;
            if (!is_session(sess))
                return nullptr;
            auto *list = new lumenwick_list;
            list->kind = LIST_USERS;
            fe_userlist_set_selected(sess);
            GSList *flat = userlist_flat_list(sess);
            for (GSList *l = flat; l; l = l->next) {
                const auto *u = static_cast<const User *>(l->data);
                user_copy c;
                c.nick = u->nick;
                c.host = u->hostname ? u->hostname : "";
                c.account = u->account ? u->account : "";
                c.prefix = u->prefix ? std::string(1, u->prefix) : "";
                c.realname = u->realname ? u->realname : "";
                c.lasttalk = u->lasttalk;
                c.away = u->away;
                c.selected = u->selected;
                list->users.push_back(std::move(c));
            }
            g_slist_free(flat);
            return list;
        }
        // The transfer, ignore and notify lists keep no entries a plugin can
        // read in this build: their walks are empty.
        for (list_kind kind : {LIST_DCC, LIST_IGNORE, LIST_NOTIFY}) {
            if (strcmp(name, list_names[kind]) == 0) {
                auto *list = new lumenwick_list;
                list->kind = kind;
                return list;
            }
        }
        return nullptr;
    });
}

int lumenwick_list_next(lumenwick_plugin *, lumenwick_list *xlist)
{
    if (!xlist)
        return 0;
    if (xlist->current + 1 >= xlist->size()) {
        xlist->current = xlist->size();
        return 0;
    }
    xlist->current++;
    // A tab closed since the walk began is passed over.
    while (xlist->kind == LIST_CHANNELS && !is_session(xlist->sessions[xlist->current])) {
        if (++xlist->current >= xlist->size())
            return 0;
    }
    return 1;
}

void lumenwick_list_free(lumenwick_plugin *, lumenwick_list *xlist)
{
    delete xlist;
}

const char *lumenwick_list_str(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name)
{
    return plugin_guard<const char *>(nullptr, [&]() -> const char * {
        if (!name)
            return nullptr;
        if (!xlist || xlist->kind == LIST_CHANNELS) {
            session *sess = channel_of(ph, xlist);
            return sess ? channel_str(sess, name) : nullptr;
        }
        if (const user_copy *u = user_of(xlist)) {
            if (strcmp(name, "nick") == 0)
                return u->nick.c_str();
            if (strcmp(name, "host") == 0)
                return u->host.c_str();
            if (strcmp(name, "account") == 0)
                return u->account.empty() ? nullptr : u->account.c_str();
            if (strcmp(name, "prefix") == 0)
                return u->prefix.c_str();
            if (strcmp(name, "realname") == 0)
                return u->realname.c_str();
        }
        return nullptr;
    });
}

int lumenwick_list_int(lumenwick_plugin *ph, lumenwick_list *xlist, const char *name)
{
    return plugin_guard(-1, [&] {
        if (!name)
            return -1;
        if (!xlist || xlist->kind == LIST_CHANNELS) {
            session *sess = channel_of(ph, xlist);
            return sess ? channel_int(sess, name) : -1;
        }
        if (const user_copy *u = user_of(xlist)) {
            if (strcmp(name, "away") == 0)
                return u->away;
            if (strcmp(name, "selected") == 0)
                return u->selected;
        }
        return -1;
    });
}

time_t lumenwick_list_time(lumenwick_plugin *, lumenwick_list *xlist, const char *name)
{
    const user_copy *u = name ? user_of(xlist) : nullptr;
    if (u && strcmp(name, "lasttalk") == 0)
        return u->lasttalk;
    return -1;
}

} // extern "C"
