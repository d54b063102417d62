// DCC records and requests: the list, offers in and out, accepting,
// resuming, aborting, and the lookups the commands use.

#include "dcc/dcc.h"

#include "base/atomicfile.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "dcc/dcc-internal.h"
#include "dcc/dcc-offer.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/modes.h"
#include "irc/proto-irc.h"
#include "net/network.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

GSList *dcc_list = nullptr;

const dcc_state_info dccstat[] = {
    {N_("Waiting"), 1}, {N_("Active"), 12}, {N_("Failed"), 4}, {N_("Done"), 3}, {N_("Connect"), 1}, {N_("Aborted"), 4},
};
const char *const dcctypes[] = {"SEND", "RECV", "CHAT", "CHAT"};

namespace
{

int tick_timer = 0;
uint32_t last_token = 0;

void ensure_timer()
{
    if (!tick_timer)
        tick_timer = fe_timeout_add_seconds(1, dcc_tick, nullptr);
}

DCC *new_record(server *serv, int kind, const char *nick)
{
    auto *dcc = new DCC;
    dcc->serv = serv;
    dcc->kind = kind;
    dcc->nick = nick;
    dcc_list = g_slist_prepend(dcc_list, dcc);
    ensure_timer();
    return dcc;
}

int nick_cmp(const DCC *dcc, const char *nick)
{
    if (dcc->serv && dcc->serv->p_cmp)
        return dcc->serv->p_cmp(dcc->nick.c_str(), nick);
    return rfc_casecmp(dcc->nick.c_str(), nick);
}

std::string number(uint64_t n)
{
    return std::to_string(n);
}

// The uint32 from an offer as the dotted text shown to the user.
std::string dotted(uint32_t address)
{
    return net_ip(address);
}

std::string address_port(const DCC *dcc)
{
    return dotted(dcc->peer_address) + ":" + std::to_string(dcc->port);
}

// ---- partial files -----------------------------------------------------------------
// Which nick each unfinished download came from, so a later offer of the
// same name from someone else is never appended to it. Kept beside the
// downloads as "nick TAB name" lines; names with control characters are
// refused before they get here.

std::string partial_list_path()
{
    std::string dir = prefs.dcc_dir;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + ".lumenwick-partial";
}

std::vector<std::pair<std::string, std::string>> partial_read()
{
    std::vector<std::pair<std::string, std::string>> rows;
    std::ifstream in(partial_list_path());
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos)
            rows.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return rows;
}

void partial_write(const std::vector<std::pair<std::string, std::string>> &rows)
{
    std::string text;
    for (const auto &[nick, path] : rows)
        text += nick + "\t" + path + "\n";
    atomic_file_write(partial_list_path(), text);
}

bool partial_from(const DCC *dcc)
{
    for (const auto &[nick, path] : partial_read())
        if (path == dcc->dest_path && nick_cmp(dcc, nick.c_str()) == 0)
            return true;
    return false;
}

// Resume check: whether the local file can be continued, and from where.
void resume_check(DCC *dcc)
{
    dcc->resume_offset = 0;
    dcc->position = 0;
    dcc->resume_error = DCC_RESUME_NONE;
    dcc->resume_errno = 0;
    struct stat st = {};
    if (lstat(dcc->dest_path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            dcc->resume_error = DCC_RESUME_NO_ACCESS;
            dcc->resume_errno = errno;
        }
        return;
    }
    if (!S_ISREG(st.st_mode) || access(dcc->dest_path.c_str(), W_OK) != 0) {
        dcc->resume_error = DCC_RESUME_NO_ACCESS;
        dcc->resume_errno = S_ISREG(st.st_mode) ? errno : EINVAL;
        return;
    }
    if (static_cast<uint64_t>(st.st_size) >= dcc->size) {
        dcc->resume_error = DCC_RESUME_COMPLETE;
        return;
    }
    if (!partial_from(dcc)) {
        dcc->resume_error = DCC_RESUME_OTHER_SOURCE;
        return;
    }
    dcc->resume_offset = static_cast<uint64_t>(st.st_size);
    dcc->position = dcc->resume_offset;
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *other = static_cast<DCC *>(l->data);
        if (other == dcc || other->kind != DCC_KIND_RECV ||
            (other->status != STAT_ACTIVE && other->status != STAT_CONNECTING))
            continue;
        struct stat ost = {};
        const bool same = other->dest_path == dcc->dest_path || (stat(other->dest_path.c_str(), &ost) == 0 &&
                                                                 ost.st_dev == st.st_dev && ost.st_ino == st.st_ino);
        if (same) {
            dcc->resume_error = DCC_RESUME_SAME_FILE;
            dcc->resume_offset = 0;
            dcc->position = 0;
            return;
        }
    }
}

bool resumable(const DCC *dcc)
{
    return dcc->resume_offset > 0 && dcc->resume_error == DCC_RESUME_NONE;
}

void confirm_yes(void *ud)
{
    auto *dcc = static_cast<DCC *>(ud);
    if (is_dcc(dcc))
        dcc_get(dcc);
}

void confirm_no(void *ud)
{
    auto *dcc = static_cast<DCC *>(ud);
    if (is_dcc(dcc))
        dcc_abort(dcc_session(dcc), dcc);
}

void malformed(session *sess, const char *nick, const char *text, time_t stamp)
{
    text_emit(XP_TE_DCC_MALFORMED, sess, nick, text, nullptr, nullptr, stamp);
}

DCC *find_waiting(int kind, const char *nick, auto &&match)
{
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (dcc->kind == kind && dcc->status == STAT_QUEUED && (!nick || nick_cmp(dcc, nick) == 0) && match(dcc))
            return dcc;
    }
    return nullptr;
}

void add_to_front_end(DCC *dcc, int autoopen, int (*open)(int))
{
    if (autoopen)
        open(1);
    fe_dcc_add(dcc);
}

// ---- received requests ---------------------------------------------------------------

void request_chat(session *sess, server *serv, char *nick, const dcc_request &r, const char *text, time_t stamp)
{
    if (r.port && r.has_token) {
        // The answer to our passive chat offer.
        DCC *dcc = find_waiting(DCC_KIND_CHAT_OUT, nick, [&](DCC *d) { return d->passive_token == r.token; });
        if (!dcc || !r.address || r.port >= 65536) {
            malformed(sess, nick, text, stamp);
            return;
        }
        dcc->peer_address = r.address;
        dcc->port = static_cast<uint32_t>(r.port);
        dcc_connect_record(dcc);
        return;
    }
    if (r.port >= 65536 || !r.address || (!r.port && !r.token)) {
        malformed(sess, nick, text, stamp);
        return;
    }
    for (GSList *l = dcc_list; l;) {
        auto *old = static_cast<DCC *>(l->data);
        l = l->next;
        if ((old->kind == DCC_KIND_CHAT_IN || old->kind == DCC_KIND_CHAT_OUT) && old->serv == serv &&
            nick_cmp(old, nick) == 0)
            dcc_close_record(old, old->status, true);
    }
    DCC *dcc = new_record(serv, DCC_KIND_CHAT_IN, nick);
    dcc->peer_address = r.address;
    dcc->port = static_cast<uint32_t>(r.port);
    dcc->passive_token = r.has_token && !r.port ? static_cast<uint32_t>(r.token) : 0;
    dcc->start_time = dcc->offer_time = time(nullptr);
    text_emit(XP_TE_DCC_CHAT_OFFER, front_tab(serv), nick, nullptr, nullptr, nullptr, stamp);
    add_to_front_end(dcc, prefs.gui_autoopen_chat, fe_dcc_open_chat_win);
    if (prefs.dcc_auto_chat) {
        dcc_connect_record(dcc);
    } else {
        char *q = g_strdup_printf(_("%s is offering DCC Chat. Do you want to accept?"), nick);
        fe_confirm(q, confirm_yes, confirm_no, dcc);
        g_free(q);
    }
}

void request_resume(session *sess, char *nick, const dcc_request &r, time_t stamp)
{
    // Only a transfer we offered to this nick that has not started.
    DCC *dcc = find_waiting(DCC_KIND_SEND, nick, [&](DCC *d) {
        if (r.port)
            return d->port == r.port;
        return r.has_token && d->passive_token && d->passive_token == r.token;
    });
    if (!dcc)
        dcc = find_waiting(DCC_KIND_SEND, nick,
                           [&](DCC *d) { return g_ascii_strcasecmp(file_part(d->file.c_str()), r.name.c_str()) == 0; });
    if (!dcc)
        return;
    if (r.position < dcc->size) {
        dcc->resume_offset = r.position;
        dcc->position = r.position;
        dcc->acknowledged = r.position;
        std::string line = "DCC ACCEPT " + dcc_wire_name(file_part(dcc->file.c_str())) + " " + number(dcc->port) + " " +
                           number(r.position);
        if (dcc->passive_token)
            line += " " + number(dcc->passive_token);
        dcc_send_ctcp(dcc, line);
    }
    const std::string pos = number(r.position);
    text_emit(XP_TE_DCC_RESUME_REQUEST, sess, nick, file_part(dcc->file.c_str()), pos.c_str(), nullptr, stamp);
}

void request_accept(char *nick, const dcc_request &r)
{
    // Honoured only for our own RESUME of this offer at this position: an
    // unsolicited ACCEPT never starts a download the user did not accept.
    DCC *dcc = find_waiting(DCC_KIND_RECV, nick, [&](DCC *d) {
        if (!(d->flags & DCC_RESUME_REQUESTED) || d->resume_offset != r.position)
            return false;
        if (r.port)
            return d->port == r.port;
        return r.has_token && d->passive_token && d->passive_token == r.token;
    });
    if (dcc)
        dcc_connect_record(dcc);
}

void request_send(session *sess, server *serv, char *nick, const dcc_request &r, const char *text, time_t stamp)
{
    if (r.port && r.has_token) {
        // The answer to our passive offer: the peer listens.
        DCC *dcc = find_waiting(DCC_KIND_SEND, nick, [&](DCC *d) { return d->passive_token == r.token; });
        if (!dcc || !r.address || r.port >= 65536) {
            malformed(sess, nick, text, stamp);
            return;
        }
        dcc->peer_address = r.address;
        dcc->port = static_cast<uint32_t>(r.port);
        dcc_connect_record(dcc);
        return;
    }
    if (!r.address || !r.size || r.port >= 65536 || (!r.port && !r.token) || !dcc_name_is_safe(r.name)) {
        malformed(sess, nick, text, stamp);
        return;
    }
    DCC *dcc = new_record(serv, DCC_KIND_RECV, nick);
    dcc->peer_address = r.address;
    dcc->port = static_cast<uint32_t>(r.port);
    dcc->passive_token = r.has_token && !r.port ? static_cast<uint32_t>(r.token) : 0;
    dcc->size = r.size;
    dcc->file = r.name;
    dcc->offer_time = time(nullptr);
    std::string dest = prefs.dcc_dir;
    if (dest.empty() || dest.back() != '/')
        dest += '/';
    if (prefs.dcc_save_nick)
        dest += std::string(nick) + ".";
    dest += r.name;
    dcc->dest_path = dest;
    dcc->speed_limit = prefs.dcc_max_get_cps;
    resume_check(dcc);

    add_to_front_end(dcc, prefs.gui_autoopen_recv, fe_dcc_open_recv_win);
    const std::string size = number(r.size);
    const std::string where = address_port(dcc);
    text_emit(XP_TE_DCC_SEND_OFFER, front_tab(serv), nick, r.name.c_str(), size.c_str(), where.c_str(), stamp);
    if (prefs.dcc_auto_recv == 2) {
        dcc_get(dcc);
    } else if (prefs.dcc_auto_recv == 1) {
        char *q = g_strdup_printf(_("%s is offering \"%s\". Do you want to accept?"), nick, r.name.c_str());
        fe_confirm(q, confirm_yes, confirm_no, dcc);
        g_free(q);
    }
}

// ---- offering files ----------------------------------------------------------------------

struct pattern_offer {
    session *sess;
    std::string nick;
    int64_t maxcps;
};
pattern_offer *pattern_target = nullptr;

void send_one(session *sess, const char *nick, const std::string &path, int64_t maxcps, int passive);

void send_matching(char *file)
{
    if (pattern_target)
        send_one(pattern_target->sess, pattern_target->nick.c_str(), file, pattern_target->maxcps, 0);
}

void send_one(session *sess, const char *nick, const std::string &path, int64_t maxcps, int passive)
{
    server *serv = sess->server;
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0) {
        const int err = errno;
        PrintTextf(sess, _("Cannot access %s\n"), path.c_str());
        PrintTextf(sess, "%s %d: %s\n", _("Error"), err, g_strerror(err));
        return;
    }
    const char *last = file_part(path.c_str());
    if (S_ISDIR(st.st_mode) || st.st_size == 0 || !*last) {
        PrintText(sess, _("Cannot send directories or empty files.\n"));
        return;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PrintText(sess, _("Cannot send directories or empty files.\n"));
        return;
    }
    DCC *dcc = new_record(serv, DCC_KIND_SEND, nick);
    dcc->file = path;
    dcc->file_fd = fd;
    dcc->size = static_cast<uint64_t>(st.st_size);
    dcc->offer_time = dcc->start_time = time(nullptr);
    dcc->speed_limit = maxcps;
    if (!passive && !dcc_listen(dcc, sess)) {
        dcc_close_record(dcc, STAT_FAILED, true);
        return;
    }
    std::string name = last;
    if (prefs.dcc_send_fillspaces)
        for (char &c : name)
            if (c == ' ')
                c = '_';
    add_to_front_end(dcc, prefs.gui_autoopen_send, fe_dcc_open_send_win);
    std::string line = "DCC SEND " + dcc_wire_name(name);
    if (passive) {
        dcc->passive_token = dcc_next_token();
        line += " 199 0 " + number(dcc->size) + " " + number(dcc->passive_token);
    } else {
        line += " " + number(dcc->peer_address) + " " + number(dcc->port) + " " + number(dcc->size);
    }
    dcc_send_ctcp(dcc, line);
    text_emit(XP_TE_DCC_OFFER, sess, last, nick, path.c_str(), nullptr, 0);
}

} // namespace

// ---- shared with the other DCC modules --------------------------------------------------

session *dcc_session(const DCC *dcc)
{
    if (dcc->serv) {
        if (session *s = front_tab(dcc->serv))
            return s;
    }
    return sess_list ? static_cast<session *>(sess_list->data) : nullptr;
}

const char *dcc_type_name(const DCC *dcc)
{
    return dcctypes[dcc->kind & 3];
}

int64_t dcc_average_speed(const DCC *dcc)
{
    const uint64_t done = dcc->kind == DCC_KIND_SEND ? dcc->acknowledged : dcc->position;
    time_t secs = time(nullptr) - dcc->start_time;
    if (secs < 2)
        secs = 1;
    return static_cast<int64_t>((done - std::min(done, dcc->resume_offset)) / static_cast<uint64_t>(secs));
}

uint32_t dcc_next_token()
{
    if (!last_token)
        last_token = static_cast<uint32_t>(g_random_int_range(1, 256));
    else
        last_token++;
    if (!last_token)
        last_token = 1;
    return last_token;
}

void dcc_send_ctcp(DCC *dcc, const std::string &text)
{
    if (dcc->serv && dcc->serv->connected && dcc->serv->p_ctcp)
        dcc->serv->p_ctcp(dcc->serv, dcc->nick.c_str(), text.c_str());
}

void dcc_partial_remember(const DCC *dcc)
{
    auto rows = partial_read();
    std::erase_if(rows, [&](const auto &row) { return row.second == dcc->dest_path; });
    rows.emplace_back(dcc->nick, dcc->dest_path);
    partial_write(rows);
}

void dcc_partial_forget(const DCC *dcc)
{
    auto rows = partial_read();
    const auto before = rows.size();
    std::erase_if(rows, [&](const auto &row) { return row.second == dcc->dest_path; });
    if (rows.size() != before)
        partial_write(rows);
}

void dcc_close_record(DCC *dcc, int state, bool destroy)
{
    dcc_proxy_detach(dcc);
    if (dcc->write_watch) {
        fe_input_remove(dcc->write_watch);
        dcc->write_watch = 0;
    }
    if (dcc->read_watch) {
        fe_input_remove(dcc->read_watch);
        dcc->read_watch = 0;
    }
    net_close(&dcc->socket_fd);
    if (dcc->status == STAT_ACTIVE)
        dcc_speed_forget(dcc);
    if (dcc->file_fd >= 0) {
        if (state == STAT_DONE && dcc->kind == DCC_KIND_RECV)
            fchmod(dcc->file_fd, static_cast<mode_t>(prefs.dcc_permissions ? prefs.dcc_permissions : 0600));
        net_close(&dcc->file_fd);
        if (state == STAT_DONE && dcc->kind == DCC_KIND_RECV) {
            dcc_partial_forget(dcc);
            if (prefs.dcc_completed_dir[0] && strcmp(prefs.dcc_completed_dir, prefs.dcc_dir) != 0) {
                const std::string name = file_part(dcc->dest_path.c_str());
                move_file(prefs.dcc_dir, prefs.dcc_completed_dir, name.c_str(), prefs.dcc_permissions);
                std::string moved = prefs.dcc_completed_dir;
                if (moved.back() != '/')
                    moved += '/';
                moved += name;
                struct stat st = {};
                if (stat(moved.c_str(), &st) == 0)
                    dcc->dest_path = moved;
            }
        }
    }
    dcc->status = state;
    dcc->chat_buffer.clear();
    dcc->chat_buffer.shrink_to_fit();
    if (!destroy) {
        fe_dcc_update(dcc);
        return;
    }
    dcc_list = g_slist_remove(dcc_list, dcc);
    fe_dcc_remove(dcc);
    delete dcc;
    if (!dcc_list && tick_timer) {
        fe_timeout_remove(tick_timer);
        tick_timer = 0;
    }
}

// ---- public entry points -------------------------------------------------------------------

bool is_dcc(const DCC *dcc)
{
    return dcc && g_slist_find(dcc_list, dcc) != nullptr;
}

bool is_dcc_completed(const DCC *dcc)
{
    return dcc && (dcc->status == STAT_FAILED || dcc->status == STAT_DONE || dcc->status == STAT_ABORTED);
}

uint64_t dcc_done_bytes(const DCC *dcc)
{
    if (dcc->status == STAT_QUEUED)
        return dcc->resume_offset;
    return dcc->kind == DCC_KIND_SEND ? dcc->acknowledged : dcc->position;
}

int64_t dcc_eta_seconds(const DCC *dcc)
{
    if (dcc->speed <= 0)
        return -1;
    const uint64_t done = std::min(dcc_done_bytes(dcc), dcc->size);
    return static_cast<int64_t>((dcc->size - done) / static_cast<uint64_t>(dcc->speed));
}

void handle_dcc(session *sess, char *nick, char *word[], char *word_eol[], const message_tags_data *tags)
{
    if (!sess || !nick)
        return;
    server *serv = sess->server;
    const time_t stamp = tags ? tags->timestamp : 0;
    // Our own offers come back with echo-message, and an offer to a channel
    // is nobody's to accept.
    if (!serv || (serv->p_cmp && serv->p_cmp(nick, serv->nick) == 0) || is_channel(serv, word[3]))
        return;

    // word_eol[5] is the raw text after "DCC " with quotes intact.
    std::string raw = word_eol[5] ? word_eol[5] : "";
    if (const auto end = raw.find('\001'); end != std::string::npos)
        raw.resize(end);
    std::vector<std::string> words;
    for (int i = 5; i < 32 && word[i] && word[i][0]; i++)
        words.emplace_back(word[i]);
    if (!words.empty() && !words.back().empty() && words.back().back() == '\001')
        words.back().pop_back();
    const std::string shown = "DCC " + raw;
    const auto req = dcc_parse_request(words);
    if (!req) {
        malformed(sess, nick, shown.c_str(), stamp);
        return;
    }
    switch (req->kind) {
    case dcc_request::CHAT:
        request_chat(sess, serv, nick, *req, shown.c_str(), stamp);
        break;
    case dcc_request::RESUME:
        request_resume(sess, nick, *req, stamp);
        break;
    case dcc_request::ACCEPT:
        request_accept(nick, *req);
        break;
    case dcc_request::SEND:
        request_send(sess, serv, nick, *req, shown.c_str(), stamp);
        break;
    case dcc_request::OTHER:
        text_emit(XP_TE_DCC_GENERIC_OFFER, front_tab(serv), raw.c_str(), nick, nullptr, nullptr, stamp);
        break;
    }
}

const char *dcc_peer_address(const DCC *dcc)
{
    if (!dcc || !dcc->peer_address)
        return nullptr;
    return net_ip(dcc->peer_address);
}

namespace
{

// The IPv4 address of our end of the server connection (host order), 0 when
// the socket is not an IPv4 (or IPv4-mapped) socket.
uint32_t connection_local_address(const server *serv)
{
    if (!serv || serv->sock < 0)
        return 0;
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (getsockname(serv->sock, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return 0;
    if (local.ss_family == AF_INET)
        return ntohl(reinterpret_cast<const sockaddr_in *>(&local)->sin_addr.s_addr);
    if (local.ss_family == AF_INET6) {
        const auto *a6 = reinterpret_cast<const sockaddr_in6 *>(&local);
        if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
            uint32_t net_order;
            memcpy(&net_order, a6->sin6_addr.s6_addr + 12, sizeof net_order);
            return ntohl(net_order);
        }
    }
    return 0;
}

} // namespace

uint32_t dcc_bind_address(const server *serv)
{
    return net_local_ipv4 ? net_local_ipv4 : connection_local_address(serv);
}

uint32_t dcc_get_my_address(session *sess)
{
    if (!sess)
        return 0;
    server *serv = sess->server;
    if (prefs.dcc_ip_from_server) {
        if (const uint32_t reported = inbound_own_address(serv))
            return reported;
    }
    uint32_t address = dcc_bind_address(serv);
    if (prefs.dcc_ip[0]) {
        guint32 configured;
        if (net_parse_ipv4(prefs.dcc_ip, &configured) || net_lookup_ipv4(prefs.dcc_ip, &configured))
            address = configured;
    }
    return address;
}

void dcc_show_list(session *sess)
{
    if (!dcc_list) {
        PrintText(sess, _("No active DCCs\n"));
        return;
    }
    text_emit(XP_TE_DCC_HEADER, sess, nullptr, nullptr, nullptr, nullptr, 0);
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        PrintTextf(sess, " %s  %-10.10s %-7.7s %-7" G_GUINT64_FORMAT " %-7" G_GUINT64_FORMAT " %s\n",
                   dcc_type_name(dcc), dcc->nick.c_str(), _(dccstat[dcc->status].name), dcc->size, dcc->position,
                   file_part(dcc->file.c_str()));
    }
}

void dcc_send(session *sess, const char *nick, const char *file, int64_t maxcps, int passive)
{
    if (!sess || !sess->server || !nick || !file)
        return;
    char *expanded = expand_homedir(file);
    std::string path = expanded;
    g_free(expanded);
    if (!pattern_target && (path.find('*') != std::string::npos || path.find('?') != std::string::npos)) {
        char *dir = g_path_get_dirname(path.c_str());
        char *mask = g_path_get_basename(path.c_str());
        pattern_offer target{sess, nick, maxcps};
        pattern_target = &target;
        for_files(dir, mask, send_matching);
        pattern_target = nullptr;
        g_free(dir);
        g_free(mask);
        return;
    }
    send_one(sess, nick, path, maxcps, passive);
}

void dcc_chat(session *sess, const char *nick, int passive)
{
    if (!sess || !sess->server || !nick)
        return;
    server *serv = sess->server;
    for (GSList *l = dcc_list; l;) {
        auto *dcc = static_cast<DCC *>(l->data);
        l = l->next;
        if (dcc->serv != serv || nick_cmp(dcc, nick) != 0)
            continue;
        if (dcc->kind == DCC_KIND_CHAT_OUT) {
            if (dcc->status == STAT_QUEUED || dcc->status == STAT_ACTIVE || dcc->status == STAT_CONNECTING) {
                text_emit(XP_TE_DCC_CHAT_REOFFER, sess, nick, nullptr, nullptr, nullptr, 0);
                return;
            }
            if (dcc->status == STAT_FAILED || dcc->status == STAT_ABORTED)
                dcc_close_record(dcc, dcc->status, true);
        } else if (dcc->kind == DCC_KIND_CHAT_IN) {
            if (dcc->status == STAT_QUEUED)
                dcc_connect_record(dcc);
            else if (dcc->status == STAT_FAILED || dcc->status == STAT_ABORTED)
                dcc_close_record(dcc, dcc->status, true);
            return;
        }
    }
    DCC *dcc = new_record(serv, DCC_KIND_CHAT_OUT, nick);
    dcc->offer_time = time(nullptr);
    if (!passive && !dcc_listen(dcc, sess)) {
        dcc_close_record(dcc, STAT_FAILED, true);
        return;
    }
    add_to_front_end(dcc, prefs.gui_autoopen_chat, fe_dcc_open_chat_win);
    if (passive) {
        dcc->passive_token = dcc_next_token();
        dcc_send_ctcp(dcc, "DCC CHAT chat 199 0 " + number(dcc->passive_token));
    } else {
        dcc_send_ctcp(dcc, "DCC CHAT chat " + number(dcc->peer_address) + " " + number(dcc->port));
    }
    text_emit(XP_TE_DCC_CHAT_OFFERING, sess, nick, nullptr, nullptr, nullptr, 0);
}

void dcc_get(DCC *dcc)
{
    if (!is_dcc(dcc))
        return;
    switch (dcc->status) {
    case STAT_QUEUED:
        if (dcc->kind == DCC_KIND_CHAT_OUT || dcc->kind == DCC_KIND_SEND)
            return;
        if (dcc->kind == DCC_KIND_RECV) {
            resume_check(dcc);
            if (prefs.dcc_auto_resume && resumable(dcc) && dcc_resume(dcc))
                return;
        }
        dcc->resume_offset = 0;
        dcc->position = 0;
        dcc_connect_record(dcc);
        break;
    case STAT_FAILED:
    case STAT_DONE:
    case STAT_ABORTED:
        dcc_close_record(dcc, dcc->status, true);
        break;
    default:
        break;
    }
}

void dcc_get_with_destfile(DCC *dcc, const char *path)
{
    if (!is_dcc(dcc) || dcc->kind != DCC_KIND_RECV || dcc->status != STAT_QUEUED || !path || !*path)
        return;
    dcc->dest_path = path;
    dcc->resume_offset = 0;
    dcc->position = 0;
    dcc_connect_record(dcc);
}

void dcc_get_nick(session *sess, const char *nick)
{
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (dcc->kind == DCC_KIND_RECV && dcc->status == STAT_QUEUED && nick_cmp(dcc, nick) == 0) {
            dcc_get(dcc);
            return;
        }
    }
    text_emit(XP_TE_DCC_OFFER_NOT_VALID, sess, nullptr, nullptr, nullptr, nullptr, 0);
}

bool dcc_resume(DCC *dcc)
{
    if (!is_dcc(dcc) || dcc->kind != DCC_KIND_RECV)
        return false;
    resume_check(dcc);
    if (dcc->status != STAT_QUEUED || !resumable(dcc))
        return false;
    dcc->flags |= DCC_RESUME_REQUESTED;
    std::string line =
        "DCC RESUME " + dcc_wire_name(dcc->file) + " " + number(dcc->port) + " " + number(dcc->resume_offset);
    if (dcc->passive_token)
        line += " " + number(dcc->passive_token);
    dcc_send_ctcp(dcc, line);
    fe_dcc_update(dcc);
    return true;
}

void dcc_abort(session *sess, DCC *dcc)
{
    if (!is_dcc(dcc))
        return;
    if (dcc->status != STAT_QUEUED && dcc->status != STAT_ACTIVE && dcc->status != STAT_CONNECTING) {
        dcc_close_record(dcc, dcc->status, true);
        return;
    }
    const std::string nick = dcc->nick;
    const std::string file = dcc->kind == DCC_KIND_SEND ? file_part(dcc->file.c_str()) : dcc->file;
    const int kind = dcc->kind;
    dcc_close_record(dcc, STAT_ABORTED, false);
    if (!sess)
        return;
    if (kind == DCC_KIND_CHAT_IN || kind == DCC_KIND_CHAT_OUT)
        text_emit(XP_TE_DCC_CHAT_ABORT, sess, nick.c_str(), nullptr, nullptr, nullptr, 0);
    else if (kind == DCC_KIND_SEND)
        text_emit(XP_TE_DCC_SEND_ABORT, sess, nick.c_str(), file.c_str(), nullptr, nullptr, 0);
    else
        text_emit(XP_TE_DCC_RECV_ABORT, sess, nick.c_str(), file.c_str(), nullptr, nullptr, 0);
}

DCC *find_dcc(const char *nick, const char *file, int kind)
{
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (nick && *nick && nick_cmp(dcc, nick) != 0)
            continue;
        if (kind != -1 && dcc->kind != kind)
            continue;
        if (file && *file && g_ascii_strcasecmp(file, dcc->file.c_str()) != 0 &&
            g_ascii_strcasecmp(file, file_part(dcc->file.c_str())) != 0)
            continue;
        return dcc;
    }
    return nullptr;
}

void dcc_change_nick(server *serv, const char *oldnick, const char *newnick)
{
    if (!serv || !oldnick || !newnick)
        return;
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (dcc->serv == serv && serv->p_cmp(dcc->nick.c_str(), oldnick) == 0)
            dcc->nick = newnick;
    }
}

void dcc_notify_kill(server *serv)
{
    server *other = nullptr;
    for (GSList *l = serv_list; l; l = l->next)
        if (l->data != serv) {
            other = static_cast<server *>(l->data);
            break;
        }
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (dcc->serv == serv)
            dcc->serv = other;
    }
}
