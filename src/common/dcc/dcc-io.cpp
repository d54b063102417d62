// DCC sockets and data: listening and connecting (directly or through the
// configured proxy), sending files with acknowledgements, receiving files,
// and the chat line stream. Everything is non-blocking and each wake-up
// moves a bounded amount, so a fast transfer never starves the window or
// the other connections.

#include "base/util.h"
#include "config/cfgfiles.h"
#include "dcc/dcc-internal.h"
#include "dcc/dcc-offer.h"
#include "fe.h"
#include "irc/inbound.h"
#include "net/network.h"
#include "net/server.h"
#include "net/tcp.h"
#include "output/text.h"
#include "output/url.h"
#include "plugins/plugin.h"
#include "session/session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

// What one wake-up may move before it yields to the main loop.
constexpr uint64_t WAKE_BUDGET = 1024 * 1024;
constexpr std::size_t RECV_CHUNK = 64 * 1024;
constexpr std::size_t CHAT_CHUNK = 2048;
constexpr std::size_t CHAT_LINE_MAX = 2047;
constexpr int BLOCK_MIN_FALLBACK = 1024;
constexpr int BLOCK_MAX = 102400;
constexpr int PROXY_TIMEOUT_S = 30;

gboolean on_send_ready(GIOChannel *, GIOCondition, void *data) noexcept;
gboolean on_ack(GIOChannel *, GIOCondition, void *data) noexcept;
gboolean on_recv(GIOChannel *, GIOCondition, void *data) noexcept;
gboolean on_chat(GIOChannel *, GIOCondition, void *data) noexcept;

bool throttled(const DCC *dcc)
{
    return dcc->flags & (DCC_THROTTLED_OWN | DCC_THROTTLED_GLOBAL);
}

void set_nonblocking(int fd, bool on)
{
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0)
        fcntl(fd, F_SETFL, on ? fl | O_NONBLOCK : fl & ~O_NONBLOCK);
}

std::string address_port(const DCC *dcc)
{
    return std::string(net_ip(dcc->peer_address)) + ":" + std::to_string(dcc->port);
}

void drop_watch(int *tag)
{
    if (*tag) {
        fe_input_remove(*tag);
        *tag = 0;
    }
}

// ---- failures ----------------------------------------------------------------------------

void send_failed(DCC *dcc, const char *why)
{
    const std::string file = file_part(dcc->file.c_str());
    const std::string nick = dcc->nick;
    session *sess = dcc_session(dcc);
    dcc_close_record(dcc, STAT_FAILED, false);
    text_emit(XP_TE_DCC_SEND_FAILED, sess, file.c_str(), nick.c_str(), why, nullptr, 0);
}

void recv_failed(DCC *dcc, const char *why)
{
    const std::string file = dcc->file, dest = dcc->dest_path, nick = dcc->nick;
    session *sess = dcc_session(dcc);
    dcc_close_record(dcc, STAT_FAILED, false);
    text_emit(XP_TE_DCC_RECV_FAILED, sess, file.c_str(), dest.c_str(), nick.c_str(), why, 0);
}

void chat_failed(DCC *dcc, const char *why)
{
    const std::string nick = dcc->nick, addr = net_ip(dcc->peer_address), port = std::to_string(dcc->port);
    session *sess = dcc_session(dcc);
    dcc_close_record(dcc, STAT_FAILED, false);
    text_emit(XP_TE_DCC_CHAT_FAILED, sess, nick.c_str(), addr.c_str(), port.c_str(), why, 0);
}

// ---- sending files -------------------------------------------------------------------------

int block_size()
{
    if (prefs.dcc_blocksize < 1)
        prefs.dcc_blocksize = BLOCK_MIN_FALLBACK;
    else if (prefs.dcc_blocksize > BLOCK_MAX)
        prefs.dcc_blocksize = BLOCK_MAX;
    return prefs.dcc_blocksize;
}

// Sends what the socket takes: with fast send up to the wake-up budget,
// otherwise one block once everything sent was acknowledged. Returns false
// when the record was closed.
bool send_data(DCC *dcc)
{
    const int block = block_size();
    if (throttled(dcc)) {
        drop_watch(&dcc->write_watch);
        return true;
    }
    const bool fast = dcc->flags & DCC_FAST_SEND;
    if (fast) {
        if (!dcc->write_watch && dcc->position < dcc->size)
            dcc->write_watch = fe_input_add(dcc->socket_fd, FIA_WRITE | FIA_EX, on_send_ready, dcc);
    } else if (dcc->acknowledged < dcc->position) {
        return true;
    }
    static std::vector<char> buf(BLOCK_MAX);
    uint64_t moved = 0;
    while (dcc->position < dcc->size && moved < WAKE_BUDGET) {
        const uint64_t allowed = dcc_allowance(dcc);
        if (!allowed) {
            dcc->flags |= DCC_THROTTLED_OWN;
            drop_watch(&dcc->write_watch);
            return true;
        }
        const auto want =
            static_cast<std::size_t>(std::min<uint64_t>({uint64_t(block), dcc->size - dcc->position, allowed}));
        const ssize_t got = pread(dcc->file_fd, buf.data(), want, static_cast<off_t>(dcc->position));
        if (got <= 0) {
            send_failed(dcc, got < 0 ? g_strerror(errno) : _("file ended before its offered size"));
            return false;
        }
        const ssize_t sent = send(dcc->socket_fd, buf.data(), static_cast<std::size_t>(got), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                break;
            send_failed(dcc, g_strerror(errno));
            return false;
        }
        dcc->position += static_cast<uint64_t>(sent);
        dcc->last_activity = time(nullptr);
        moved += static_cast<uint64_t>(sent);
        if (!fast || sent < got)
            break;
    }
    if (dcc->position >= dcc->size)
        drop_watch(&dcc->write_watch);
    return true;
}

gboolean on_send_ready(GIOChannel *, GIOCondition, void *data) noexcept
{
    try {
        send_data(static_cast<DCC *>(data));
    } catch (...) {
    }
    return TRUE;
}

void send_complete(DCC *dcc)
{
    dcc->acknowledged = dcc->size;
    const std::string speed = std::to_string(dcc_average_speed(dcc));
    const std::string file = file_part(dcc->file.c_str());
    const std::string nick = dcc->nick;
    session *sess = dcc_session(dcc);
    dcc_close_record(dcc, STAT_DONE, false);
    text_emit(XP_TE_DCC_SEND_COMPLETE, sess, file.c_str(), nick.c_str(), speed.c_str(), nullptr, 0);
}

// One 4-byte acknowledgement. False when the record was closed.
bool take_ack(DCC *dcc, uint32_t raw)
{
    std::optional<uint64_t> value;
    constexpr uint64_t wrap = uint64_t{1} << 32;
    if (dcc->size < wrap) {
        // Some peers count from the resume point rather than from the start.
        if (!(dcc->flags & DCC_RELATIVE_ACK) && dcc->resume_offset && raw < dcc->resume_offset)
            dcc->flags |= DCC_RELATIVE_ACK;
        uint64_t v = raw;
        if (dcc->flags & DCC_RELATIVE_ACK)
            v += dcc->resume_offset;
        if (v <= dcc->position)
            value = v;
    } else {
        value = dcc_widen_ack(raw, dcc->position);
    }
    // An acknowledgement of bytes never sent, or one going backwards, says
    // nothing new: it must neither complete the send nor undo progress.
    if (!value || *value <= dcc->acknowledged)
        return true;
    dcc->acknowledged = *value;
    if (dcc->position >= dcc->size && dcc->acknowledged == dcc->size) {
        send_complete(dcc);
        return false;
    }
    if (!(dcc->flags & DCC_FAST_SEND) && dcc->acknowledged >= dcc->position)
        return send_data(dcc);
    return true;
}

gboolean on_ack(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *dcc = static_cast<DCC *>(data);
    try {
        unsigned char buf[4096];
        for (int rounds = 0; rounds < 64; rounds++) {
            const ssize_t n = recv(dcc->socket_fd, buf, sizeof buf, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return TRUE;
            if (n <= 0) {
                send_failed(dcc, n < 0 ? g_strerror(errno) : "");
                return TRUE;
            }
            for (ssize_t i = 0; i < n; i++) {
                dcc->ack_bytes[dcc->ack_count++] = buf[i];
                if (dcc->ack_count < 4)
                    continue;
                dcc->ack_count = 0;
                const uint32_t raw = (uint32_t{dcc->ack_bytes[0]} << 24) | (uint32_t{dcc->ack_bytes[1]} << 16) |
                                     (uint32_t{dcc->ack_bytes[2]} << 8) | uint32_t{dcc->ack_bytes[3]};
                if (!take_ack(dcc, raw))
                    return TRUE;
            }
        }
    } catch (...) {
    }
    return TRUE;
}

// ---- receiving files -----------------------------------------------------------------------

void send_ack(DCC *dcc)
{
    const uint32_t low = static_cast<uint32_t>(dcc->position & 0xffffffffu);
    const unsigned char bytes[4] = {static_cast<unsigned char>(low >> 24), static_cast<unsigned char>(low >> 16),
                                    static_cast<unsigned char>(low >> 8), static_cast<unsigned char>(low)};
    // A full send buffer only delays this count; the next one carries it.
    if (send(dcc->socket_fd, bytes, sizeof bytes, MSG_NOSIGNAL) == 4)
        dcc->acknowledged = dcc->position;
}

// Opens the file a receive writes: the partial file at the resume point, or
// a new file (never an existing one, never through a link).
bool open_dest(DCC *dcc)
{
    if (prefs.dcc_dir[0])
        g_mkdir_with_parents(prefs.dcc_dir, 0700);
    const int common = O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
    if (dcc->resume_offset) {
        dcc->file_fd = open(dcc->dest_path.c_str(), common);
        struct stat st = {};
        if (dcc->file_fd >= 0 && (fstat(dcc->file_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            net_close(&dcc->file_fd);
            errno = EINVAL;
        }
        // Whatever grew behind the resume point since the check is not kept.
        if (dcc->file_fd >= 0 && static_cast<uint64_t>(st.st_size) != dcc->resume_offset &&
            ftruncate(dcc->file_fd, static_cast<off_t>(dcc->resume_offset)) != 0)
            net_close(&dcc->file_fd);
        dcc->position = dcc->acknowledged = dcc->resume_offset;
    } else {
        const std::string wanted = dcc->dest_path;
        dcc->file_fd = open(wanted.c_str(), common | O_CREAT | O_EXCL, 0600);
        for (int n = 1; dcc->file_fd < 0 && errno == EEXIST && n < 100000; n++) {
            dcc->dest_path = wanted + "." + std::to_string(n);
            dcc->file_fd = open(dcc->dest_path.c_str(), common | O_CREAT | O_EXCL, 0600);
        }
        if (dcc->file_fd >= 0 && dcc->dest_path != wanted)
            text_emit(XP_TE_DCC_RENAME, dcc_session(dcc), wanted.c_str(), dcc->dest_path.c_str(), nullptr, nullptr, 0);
    }
    if (dcc->file_fd < 0) {
        const std::string dest = dcc->dest_path;
        const std::string why = g_strerror(errno);
        session *sess = dcc_session(dcc);
        dcc_close_record(dcc, STAT_FAILED, false);
        text_emit(XP_TE_DCC_RECV_FILE_OPEN_ERROR, sess, dest.c_str(), why.c_str(), nullptr, nullptr, 0);
        return false;
    }
    dcc->file_opened = true;
    dcc_partial_remember(dcc);
    return true;
}

bool write_at(int fd, const char *buf, std::size_t len, uint64_t at)
{
    while (len) {
        const ssize_t n = pwrite(fd, buf, len, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<std::size_t>(n);
        at += static_cast<uint64_t>(n);
    }
    return true;
}

void recv_complete(DCC *dcc)
{
    send_ack(dcc);
    const std::string speed = std::to_string(dcc_average_speed(dcc));
    const std::string file = dcc->file, nick = dcc->nick;
    session *sess = dcc_session(dcc);
    dcc_close_record(dcc, STAT_DONE, false);
    // The path after the move to the completed folder.
    text_emit(XP_TE_DCC_RECV_COMPLETE, sess, file.c_str(), dcc->dest_path.c_str(), nick.c_str(), speed.c_str(), 0);
}

void read_data(DCC *dcc)
{
    if (!dcc->file_opened && !open_dest(dcc))
        return;
    if (throttled(dcc)) {
        drop_watch(&dcc->read_watch);
        return;
    }
    if (!dcc->read_watch)
        dcc->read_watch = fe_input_add(dcc->socket_fd, FIA_READ | FIA_EX, on_recv, dcc);
    static std::vector<char> buf(RECV_CHUNK + 1);
    uint64_t moved = 0;
    while (moved < WAKE_BUDGET) {
        // One byte more than is still due shows a peer sending past the size.
        const uint64_t due = dcc->size - dcc->position;
        const uint64_t allowed = dcc_allowance(dcc);
        if (!allowed) {
            dcc->flags |= DCC_THROTTLED_OWN;
            if (moved)
                send_ack(dcc);
            drop_watch(&dcc->read_watch);
            return;
        }
        const auto want = static_cast<std::size_t>(std::min<uint64_t>({RECV_CHUNK, due + 1, allowed}));
        const ssize_t n = recv(dcc->socket_fd, buf.data(), want, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        if (n < 0) {
            recv_failed(dcc, g_strerror(errno));
            return;
        }
        if (n == 0) {
            recv_failed(dcc, _("Connection closed before the end of the file"));
            return;
        }
        const auto take = static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(n), due));
        if (take && !write_at(dcc->file_fd, buf.data(), take, dcc->position)) {
            recv_failed(dcc, g_strerror(errno ? errno : EIO));
            return;
        }
        dcc->position += take;
        dcc->last_activity = time(nullptr);
        moved += take;
        if (static_cast<uint64_t>(n) > due) {
            recv_failed(dcc, _("The peer sent more than the offered size"));
            return;
        }
        if (dcc->position == dcc->size) {
            recv_complete(dcc);
            return;
        }
        if (throttled(dcc)) {
            if (moved)
                send_ack(dcc);
            drop_watch(&dcc->read_watch);
            return;
        }
    }
    if (moved)
        send_ack(dcc);
}

gboolean on_recv(GIOChannel *, GIOCondition, void *data) noexcept
{
    try {
        read_data(static_cast<DCC *>(data));
    } catch (...) {
    }
    return TRUE;
}

// ---- chats ----------------------------------------------------------------------------------

// One received chat line. False when the record went away.
bool chat_line(DCC *dcc, const std::string &raw)
{
    server *serv = dcc->serv;
    char *text;
    if (serv && serv->decoder != reinterpret_cast<GIConv>(-1))
        text = text_convert_invalid(raw.data(), static_cast<gssize>(raw.size()), serv->decoder, "?", nullptr);
    else
        text = text_fixup_invalid_utf8(raw.data(), static_cast<gssize>(raw.size()), nullptr);
    std::string line = text ? text : "";
    g_free(text);

    std::string addr = net_ip(dcc->peer_address), port = std::to_string(dcc->port), nick = dcc->nick;
    char empty[] = "";
    char *word[32];
    for (char *&w : word)
        w = empty;
    std::string name = "DCC Chat Text";
    word[0] = name.data();
    word[1] = addr.data();
    word[2] = port.data();
    word[3] = nick.data();
    word[4] = line.data();
    session *sess = dcc_session(dcc);
    const int eaten = sess ? plugin_emit_print(sess, word, 0) : 0;
    if (!is_dcc(dcc))
        return false;
    dcc->position += raw.size();
    if (eaten || !serv)
        return true;
    url_check_line(line.c_str());
    // Some clients wrap a CTCP on a chat as "CTCP_MESSAGE \001...\001".
    if (g_str_has_prefix(line.c_str(), "CTCP_MESSAGE \001"))
        line.erase(0, strlen("CTCP_MESSAGE "));
    if (g_str_has_prefix(line.c_str(), "\001ACTION")) {
        std::string act = line.substr(7);
        if (!act.empty() && act[0] == ' ')
            act.erase(0, 1);
        if (!act.empty() && act.back() == '\001')
            act.pop_back();
        session *target = find_dialog(serv, nick.c_str());
        if (!target)
            target = dcc_session(dcc);
        inbound_action(target, nick.data(), nick.data(), empty, act.data(), FALSE, FALSE, nullptr);
    } else {
        inbound_privmsg(serv, nick.data(), empty, line.data(), FALSE, nullptr);
    }
    return is_dcc(dcc);
}

gboolean on_chat(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *dcc = static_cast<DCC *>(data);
    try {
        char buf[CHAT_CHUNK];
        for (int rounds = 0; rounds < 64; rounds++) {
            if (throttled(dcc)) {
                drop_watch(&dcc->read_watch);
                return TRUE;
            }
            const ssize_t n = recv(dcc->socket_fd, buf, sizeof buf, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return TRUE;
            if (n <= 0) {
                chat_failed(dcc, n < 0 ? g_strerror(errno) : _("Remote host closed socket"));
                return TRUE;
            }
            dcc->last_activity = time(nullptr);
            for (ssize_t i = 0; i < n; i++) {
                const char c = buf[i];
                if (c == '\r')
                    continue;
                if (c == '\n') {
                    const std::string line = std::move(dcc->chat_buffer);
                    dcc->chat_buffer.clear();
                    if (!chat_line(dcc, line))
                        return TRUE;
                    continue;
                }
                if (dcc->chat_buffer.size() < CHAT_LINE_MAX)
                    dcc->chat_buffer += c;
                else
                    dcc->chat_buffer.back() = c;
            }
        }
    } catch (...) {
    }
    return TRUE;
}

// ---- connections -----------------------------------------------------------------------------

void start_chat(DCC *dcc)
{
    dcc->read_watch = fe_input_add(dcc->socket_fd, FIA_READ | FIA_EX, on_chat, dcc);
    dcc->chat_buffer.reserve(CHAT_LINE_MAX);
    const std::string where = address_port(dcc);
    text_emit(XP_TE_DCC_CHAT_CONNECT, dcc_session(dcc), dcc->nick.c_str(), where.c_str(), nullptr, nullptr, 0);
}

void start_send(DCC *dcc)
{
    if (prefs.dcc_fast_send)
        dcc->flags |= DCC_FAST_SEND;
    dcc->read_watch = fe_input_add(dcc->socket_fd, FIA_READ | FIA_EX, on_ack, dcc);
    const std::string where = address_port(dcc);
    const std::string nick = dcc->nick, file = dcc->file;
    session *sess = dcc_session(dcc);
    if (!send_data(dcc))
        return;
    text_emit(XP_TE_DCC_SEND_CONNECT, sess, nick.c_str(), where.c_str(), file.c_str(), nullptr, 0);
}

// The data connection is up (either side opened it).
void connection_ready(DCC *dcc)
{
    dcc->status = STAT_ACTIVE;
    dcc->start_time = dcc->last_activity = time(nullptr);
    dcc->flow_start = g_get_monotonic_time();
    switch (dcc->kind) {
    case DCC_KIND_SEND:
        start_send(dcc);
        break;
    case DCC_KIND_RECV: {
        const std::string where = address_port(dcc);
        text_emit(XP_TE_DCC_RECV_CONNECT, dcc_session(dcc), dcc->nick.c_str(), where.c_str(), dcc->file.c_str(),
                  nullptr, 0);
        read_data(dcc);
        break;
    }
    case DCC_KIND_CHAT_OUT:
        if (prefs.gui_autoopen_dialog && dcc->serv)
            open_query(dcc->serv, dcc->nick.c_str(), false);
        start_chat(dcc);
        break;
    default:
        start_chat(dcc);
        break;
    }
    if (is_dcc(dcc))
        fe_dcc_update(dcc);
}

gboolean on_accept(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *dcc = static_cast<DCC *>(data);
    try {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = accept4(dcc->socket_fd, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EAGAIN || errno == EINTR))
            return TRUE;
        drop_watch(&dcc->read_watch);
        net_close(&dcc->socket_fd);
        if (fd < 0) {
            dcc_close_record(dcc, STAT_FAILED, false);
            return TRUE;
        }
        dcc->socket_fd = fd;
        dcc->peer_address = ntohl(peer.sin_addr.s_addr);
        dcc->port = ntohs(peer.sin_port);
        connection_ready(dcc);
    } catch (...) {
    }
    return TRUE;
}

gboolean on_connected(GIOChannel *, GIOCondition, void *data) noexcept;

// ---- proxy -----------------------------------------------------------------------------------
// The proxy is reached and its handshake run on a worker thread that owns
// the socket meanwhile; the main loop hears of the end through a pipe.

} // namespace

struct dcc_proxy_job {
    DCC *dcc = nullptr; // main thread only; null once the record let go
    proxy_request req;
    std::string proxy_host;
    int proxy_port = 0;
    guint32 proxy_ip = 0;
    int fd = -1;
    std::vector<std::string> reports;
    bool ok = false;
    int pipe_read = -1;
    int pipe_write = -1;
    int watch = 0;
    std::thread worker;
};

namespace
{

std::string cached_proxy_host;
guint32 cached_proxy_ip = 0;

void proxy_work(dcc_proxy_job *job)
{
    guint32 ip = job->proxy_ip;
    if (!ip && !net_parse_ipv4(job->proxy_host.c_str(), &ip) && !net_lookup_ipv4(job->proxy_host.c_str(), &ip)) {
        job->reports.emplace_back(std::string(_("Cannot resolve the proxy host")) + " " + job->proxy_host + "\n");
    } else {
        job->proxy_ip = ip;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(job->proxy_port));
        sa.sin_addr.s_addr = htonl(ip);
        timeval tv{PROXY_TIMEOUT_S, 0};
        setsockopt(job->fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(job->fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (connect(job->fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
            job->reports.emplace_back(std::string(g_strerror(errno)) + "\n");
        } else {
            net_io io = net_io_for_fd(job->fd, true);
            job->ok =
                net_proxy_negotiate(io, job->req, [job](std::string_view text) { job->reports.emplace_back(text); });
        }
    }
    const char done = 1;
    (void)!write(job->pipe_write, &done, 1);
}

void proxy_job_free(dcc_proxy_job *job)
{
    if (job->worker.joinable())
        job->worker.join();
    if (job->watch)
        fe_input_remove(job->watch);
    net_close(&job->pipe_read);
    net_close(&job->pipe_write);
    net_close(&job->fd);
    delete job;
}

gboolean on_proxy_done(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *job = static_cast<dcc_proxy_job *>(data);
    try {
        job->worker.join();
        fe_input_remove(job->watch);
        job->watch = 0;
        DCC *dcc = job->dcc;
        if (dcc) {
            dcc->proxy_job = nullptr;
            cached_proxy_host = job->proxy_host;
            cached_proxy_ip = job->proxy_ip;
            session *sess = dcc_session(dcc);
            for (const std::string &text : job->reports)
                PrintText(sess, text.c_str());
            if (job->ok) {
                set_nonblocking(job->fd, true);
                timeval none{0, 0};
                setsockopt(job->fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
                setsockopt(job->fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
                dcc->socket_fd = job->fd;
                job->fd = -1;
                proxy_job_free(job);
                connection_ready(dcc);
                return TRUE;
            }
            const std::string nick = dcc->nick;
            dcc_close_record(dcc, STAT_FAILED, false);
            text_emit(XP_TE_DCC_CONECTION_FAILED, sess, dcc_type_name(dcc), nick.c_str(), _("Proxy handshake failed"),
                      nullptr, 0);
        }
        proxy_job_free(job);
    } catch (...) {
    }
    return TRUE;
}

bool use_proxy()
{
    return prefs.net_proxy_host[0] && prefs.net_proxy_type >= PROXY_WINGATE && prefs.net_proxy_type <= PROXY_HTTP &&
           prefs.net_proxy_use != 1;
}

void start_proxy(DCC *dcc, int fd)
{
    auto *job = new dcc_proxy_job;
    job->dcc = dcc;
    job->fd = fd;
    job->proxy_host = prefs.net_proxy_host;
    job->proxy_port = prefs.net_proxy_port;
    if (cached_proxy_host == job->proxy_host)
        job->proxy_ip = cached_proxy_ip;
    job->req.kind = prefs.net_proxy_type;
    job->req.host = net_ip(dcc->peer_address);
    job->req.port = static_cast<int>(dcc->port);
    job->req.ipv4 = dcc->peer_address;
    job->req.user_id = std::string(prefs.irc_user_name).substr(0, 9);
    job->req.auth = prefs.net_proxy_auth;
    job->req.user = prefs.net_proxy_user;
    job->req.password = prefs.net_proxy_pass;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        net_close(&job->fd);
        delete job;
        dcc_close_record(dcc, STAT_FAILED, false);
        return;
    }
    job->pipe_read = fds[0];
    job->pipe_write = fds[1];
    set_nonblocking(fd, false);
    dcc->proxy_job = job;
    job->watch = fe_input_add(job->pipe_read, FIA_READ, on_proxy_done, job);
    job->worker = std::thread(proxy_work, job);
}

gboolean on_connected(GIOChannel *, GIOCondition, void *data) noexcept
{
    auto *dcc = static_cast<DCC *>(data);
    try {
        drop_watch(&dcc->write_watch);
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(dcc->socket_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err) {
            const std::string nick = dcc->nick;
            session *sess = dcc_session(dcc);
            dcc_close_record(dcc, STAT_FAILED, false);
            text_emit(XP_TE_DCC_CONECTION_FAILED, sess, dcc_type_name(dcc), nick.c_str(), g_strerror(err), nullptr, 0);
            return TRUE;
        }
        connection_ready(dcc);
    } catch (...) {
    }
    return TRUE;
}

} // namespace

void dcc_proxy_detach(DCC *dcc)
{
    if (!dcc->proxy_job)
        return;
    // The worker may be blocked on the proxy: cut its socket so it ends soon;
    // the job frees itself when the worker reports.
    dcc->proxy_job->dcc = nullptr;
    if (dcc->proxy_job->fd >= 0)
        shutdown(dcc->proxy_job->fd, SHUT_RDWR);
    dcc->proxy_job = nullptr;
}

bool dcc_listen(DCC *dcc, session *sess)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        PrintText(sess, _("Failed to bind to any address or port.\n"));
        return false;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(dcc_bind_address(dcc->serv));
    bool bound = false;
    if (prefs.dcc_port_first > 0) {
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        for (int p = prefs.dcc_port_first; prefs.dcc_port_last >= 1 && p <= 65535; p++) {
            sa.sin_port = htons(static_cast<uint16_t>(p));
            if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) {
                bound = true;
                break;
            }
            if (p >= prefs.dcc_port_last)
                break;
        }
    } else {
        sa.sin_port = 0;
        bound = bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    socklen_t len = sizeof sa;
    if (!bound || getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0 || listen(fd, 1) != 0) {
        close(fd);
        PrintText(sess, _("Failed to bind to any address or port.\n"));
        return false;
    }
    dcc->socket_fd = fd;
    dcc->port = ntohs(sa.sin_port);
    dcc->peer_address = dcc_get_my_address(sess);
    if (!dcc->peer_address)
        dcc->peer_address = ntohl(sa.sin_addr.s_addr);
    dcc->read_watch = fe_input_add(fd, FIA_READ | FIA_EX, on_accept, dcc);
    return true;
}

void dcc_connect_record(DCC *dcc)
{
    if (dcc->status == STAT_CONNECTING)
        return;
    dcc->status = STAT_CONNECTING;
    if (!dcc->passive_token || dcc->port) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            dcc_close_record(dcc, STAT_FAILED, false);
            return;
        }
        if (use_proxy()) {
            start_proxy(dcc, fd);
            fe_dcc_update(dcc);
            return;
        }
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(dcc->port));
        sa.sin_addr.s_addr = htonl(dcc->peer_address);
        dcc->socket_fd = fd;
        if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
            const std::string nick = dcc->nick, why = g_strerror(errno);
            session *sess = dcc_session(dcc);
            dcc_close_record(dcc, STAT_FAILED, false);
            text_emit(XP_TE_DCC_CONECTION_FAILED, sess, dcc_type_name(dcc), nick.c_str(), why.c_str(), nullptr, 0);
            return;
        }
        dcc->write_watch = fe_input_add(fd, FIA_WRITE | FIA_EX, on_connected, dcc);
        fe_dcc_update(dcc);
        return;
    }
    // A passive offer: we listen and tell the peer where.
    if (!dcc_listen(dcc, dcc_session(dcc))) {
        dcc_close_record(dcc, STAT_FAILED, false);
        return;
    }
    const std::string addr = std::to_string(dcc->peer_address), port = std::to_string(dcc->port),
                      token = std::to_string(dcc->passive_token);
    if (dcc->kind == DCC_KIND_RECV)
        dcc_send_ctcp(dcc, "DCC SEND " + dcc_wire_name(dcc->file) + " " + addr + " " + port + " " +
                               std::to_string(dcc->size) + " " + token);
    else
        dcc_send_ctcp(dcc, "DCC CHAT chat " + addr + " " + port + " " + token);
    fe_dcc_update(dcc);
}

void dcc_unthrottle(DCC *dcc)
{
    if (dcc->status != STAT_ACTIVE)
        return;
    switch (dcc->kind) {
    case DCC_KIND_SEND:
        send_data(dcc);
        break;
    case DCC_KIND_RECV:
        read_data(dcc);
        break;
    default:
        if (!dcc->read_watch)
            dcc->read_watch = fe_input_add(dcc->socket_fd, FIA_READ | FIA_EX, on_chat, dcc);
        break;
    }
}

DCC *dcc_write_chat(const char *nick, const char *text)
{
    if (!nick || !text)
        return nullptr;
    DCC *dcc = find_dcc(nick, "", DCC_KIND_CHAT_IN);
    if (!dcc)
        dcc = find_dcc(nick, "", DCC_KIND_CHAT_OUT);
    if (!dcc || dcc->status != STAT_ACTIVE || dcc->socket_fd < 0)
        return nullptr;
    const int len = static_cast<int>(strlen(text));
    GIConv encoder = dcc->serv ? dcc->serv->encoder : reinterpret_cast<GIConv>(-1);
    tcp_send_real(nullptr, dcc->socket_fd, encoder, text, len);
    tcp_send_real(nullptr, dcc->socket_fd, encoder, "\n", 1);
    dcc->position += static_cast<uint64_t>(len);
    dcc->chat_sent += static_cast<uint64_t>(len);
    return dcc;
}
