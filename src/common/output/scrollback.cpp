// Scrollback files. Lines are appended without reading the file, through a
// descriptor that stays open between lines: opening and closing the file for
// every line of a busy channel cost more than everything else the line
// went through. Each record reaches the file with one write(). The file is
// trimmed to its newest lines only when the line counter passes the limit,
// and the trim writes a new file and renames it over the old one, so a crash
// in the middle loses nothing.
#include "output/scrollback.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/log.h"
#include "session/chanopt.h"
#include "session/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// However text_max_lines is set, a file never keeps more lines than this.
constexpr int SCROLLBACK_LINES_MAX = 32000;
// A scrollback path: the configuration directory, then a name, a directory
// and a file name of at most the file-system limit each.
constexpr std::size_t SCROLLBACK_NAMES_MAX = 512;

// At most this many scrollback files are held open at once: with a log
// descriptor per tab as well, a user in hundreds of channels would otherwise
// run into the descriptor limit. The least recently written one gives way.
constexpr std::size_t SCROLLBACK_OPEN_MAX = 64;
// Replay and trim read at most the newest this many bytes: a trimmed file is
// far smaller, and a file grown by other means must not exhaust memory.
constexpr std::size_t SCROLLBACK_READ_MAX = 64 * 1024 * 1024;

struct scrollback_file {
    std::string path;
    // The names the path was made from: when the tab is renamed (a dialog
    // after a nick change) or the network gets another name, the path is
    // made again.
    std::string network;
    std::string channel;
    int fd = -1;
    // The file did not end in a line feed when it was opened (a write torn
    // by a crash or a full disk): the next record starts on a line of its own.
    bool torn = false;
    unsigned long last_use = 0;
    time_t checked = 0; // second of the last look at the file's links
};

// Files whose descriptor is open, for the limit above.
std::vector<scrollback_file *> open_files;
unsigned long use_clock;
// A failed append is reported once per run; the lines are still shown.
bool write_warning_shown;

scrollback_file *file_of(session *sess)
{
    return static_cast<scrollback_file *>(sess->scrollback_handle);
}

bool scrollback_on(const session *sess)
{
    return chanopt_is_set(prefs.text_replay, sess->text_scrollback) != 0;
}

void close_fd(scrollback_file *f)
{
    if (f->fd < 0)
        return;
    close(f->fd);
    f->fd = -1;
    open_files.erase(std::remove(open_files.begin(), open_files.end(), f), open_files.end());
}

void drop_handle(session *sess)
{
    scrollback_file *f = file_of(sess);
    if (!f)
        return;
    close_fd(f);
    delete f;
    sess->scrollback_handle = nullptr;
}

const char *network_of(session *sess)
{
    return sess->server ? server_get_network(sess->server, false) : nullptr;
}

scrollback_file *open_handle(session *sess)
{
    if (scrollback_file *f = file_of(sess)) {
        const char *network = network_of(sess);
        if (network && f->network == network && f->channel == sess->channel)
            return f;
        drop_handle(sess);
    }
    std::string path = scrollback_path(sess);
    if (path.empty())
        return nullptr;
    auto *f = new scrollback_file;
    f->path = std::move(path);
    f->network = network_of(sess);
    f->channel = sess->channel;
    sess->scrollback_handle = f;
    return f;
}

// Whether `fd` is a regular file. Anything else at the path (a FIFO, a
// device, reached directly or through a symlink) would block the program in
// a read or write, or never end a read.
bool regular(int fd)
{
    struct stat sb;
    return fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode);
}

// Opened for reading too, to look at the last byte; without blocking, so
// that a FIFO at the path cannot stall the open.
int open_append(const std::string &path)
{
    constexpr int flags = O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = open(path.c_str(), flags, 0600);
    if (fd < 0 && errno == ENOENT) {
        // The directory was removed while the tab was open.
        char *dir = g_path_get_dirname(path.c_str());
        g_mkdir_with_parents(dir, 0700);
        g_free(dir);
        fd = open(path.c_str(), flags, 0600);
    }
    if (fd >= 0 && !regular(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

// The regular file at `path`, or when it is larger than SCROLLBACK_READ_MAX
// its last lines that fit (`cut` says so); false when it is missing,
// unreadable or not a regular file.
bool read_file(const std::string &path, std::string &out, bool *cut = nullptr)
{
    out.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat sb;
    if (fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        close(fd);
        return false;
    }
    const auto size = static_cast<std::size_t>(std::max<off_t>(sb.st_size, 0));
    const std::size_t skip = size > SCROLLBACK_READ_MAX ? size - SCROLLBACK_READ_MAX : 0;
    if (cut)
        *cut = skip > 0;
    out.resize(size - skip);
    std::size_t got = 0;
    bool failed = false;
    while (got < out.size()) {
        const ssize_t n = pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(skip + got));
        if (n < 0 && errno == EINTR)
            continue;
        failed = n < 0;
        if (n <= 0)
            break; // shrunk meanwhile: what was read is what there is
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    out.resize(got);
    if (failed)
        return false;
    if (skip) {
        const std::size_t first = out.find('\n');
        out.erase(0, first == std::string::npos ? out.size() : first + 1);
    }
    return true;
}

bool open_fd(scrollback_file *f)
{
    const int fd = open_append(f->path);
    if (fd < 0)
        return false;
    if (open_files.size() >= SCROLLBACK_OPEN_MAX) {
        auto oldest = std::min_element(
            open_files.begin(), open_files.end(),
            [](const scrollback_file *a, const scrollback_file *b) { return a->last_use < b->last_use; });
        close_fd(*oldest);
    }
    f->fd = fd;
    open_files.push_back(f);
    char last = '\n';
    const off_t size = lseek(fd, 0, SEEK_END);
    f->torn = size > 0 && pread(fd, &last, 1, size - 1) == 1 && last != '\n';
    return true;
}

// Whether the open descriptor still names the scrollback file: deleted by
// the user (or with its directory), or replaced by a trim, it has no links
// left, and the next line goes to a new file at the path instead of into the
// void. Asked once a second, as the log does: the question costs as much as
// the write. Only the link count is asked for: a query of the file's times
// would make the kernel stamp the next write with a fine-grained time, which
// costs an inode update in the file system's journal on every line.
bool still_linked(int fd)
{
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_NLINK, &sx) != 0)
        return false;
    return !(sx.stx_mask & STATX_NLINK) || sx.stx_nlink > 0;
}

void report_write_failure(const std::string &path, int err)
{
    if (write_warning_shown)
        return;
    write_warning_shown = true;
    char *msg = g_strdup_printf(_("* Can't write to the scrollback file %s: %s"), path.c_str(), g_strerror(err));
    fe_message(msg, FE_MSG_WARN);
    g_free(msg);
}

// One record, with a single write so that a crash never leaves half of a
// record followed by the next one. A failed write closes the file; the next
// line opens it again.
bool append_record(scrollback_file *f, time_t stamp, const char *text)
{
    const time_t now = time(nullptr);
    if (f->fd >= 0 && f->checked != now) {
        f->checked = now;
        if (!still_linked(f->fd))
            close_fd(f);
    }
    if (f->fd < 0) {
        if (!open_fd(f))
            return false;
        f->checked = now;
    }
    f->last_use = ++use_clock;

    static std::string record;
    record.clear();
    if (f->torn)
        record += '\n';
    char number[24];
    const auto [end, ec] = std::to_chars(number, number + sizeof number, static_cast<long long>(stamp));
    (void)ec;
    record += "T ";
    record.append(number, end);
    record += ' ';
    record += text;
    if (record.back() != '\n')
        record += '\n';
    if (!write_all(f->fd, record.data(), record.size())) {
        const int err = errno;
        close_fd(f);
        report_write_failure(f->path, err);
        return false;
    }
    f->torn = false;
    return true;
}

// Keeps the newest lines of the file. The counter then says how many lines
// were dropped, so the next trim waits until about that many have been added
// again and the file stays below twice the limit. A trim that dropped a whole
// limit's worth leaves the counter at the limit, so the next line trims once
// more (dropping one line): two rewrites per cycle.
void trim(session *sess, const std::string &path)
{
    const int keep =
        prefs.text_max_lines > 0 ? std::min(prefs.text_max_lines, SCROLLBACK_LINES_MAX) : SCROLLBACK_LINES_MAX;
    std::string data;
    bool oversized = false;
    if (!read_file(path, data, &oversized))
        return;
    const std::string_view text(data);
    const long lines = static_cast<long>(std::count(text.begin(), text.end(), '\n'));
    if (oversized && lines <= keep) {
        // Oversized: what was read is the newest part, and all that stays.
        if (atomic_file_write(path, text, 0600))
            sess->scrollback_lines = static_cast<int>(lines);
        return;
    }
    if (lines <= keep) {
        sess->scrollback_lines = static_cast<int>(lines);
        return;
    }
    const long drop = lines - keep;
    std::size_t start = 0;
    for (long seen = 0; seen < drop; seen++)
        start = text.find('\n', start) + 1;
    if (atomic_file_write(path, text.substr(start), 0600))
        sess->scrollback_lines = static_cast<int>(drop);
}

// The text after "T <number> ", with its time stamp; false (and the stamp
// 0) for a record whose time stamp is missing or zero.
bool parse_record(std::string_view line, time_t *stamp, std::string_view *text)
{
    const std::string_view rest = line.substr(2);
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos || space == 0)
        return false;
    const std::string number(rest.substr(0, space));
    char *end = nullptr;
    errno = 0;
    const long long value = g_ascii_strtoll(number.c_str(), &end, 10);
    if (*end || errno || value == 0)
        return false;
    *stamp = static_cast<time_t>(value);
    *text = rest.substr(space + 1);
    return true;
}

void show(session *sess, std::string_view text, time_t stamp)
{
    std::string copy = text.empty() ? std::string("  ") : std::string(text);
    fe_print_text(sess, copy.data(), stamp, TRUE);
}

} // namespace

std::string scrollback_path(session *sess)
{
    if (!sess || !sess->channel[0] || !sess->server)
        return {};
    const char *network = server_get_network(sess->server, false);
    if (!network)
        return {};
    const std::string relative = log_safe_path(
        log_clean_name(network, true) + "/" + log_clean_name(sess->channel, true) + ".txt", SCROLLBACK_NAMES_MAX);
    const std::string utf8 = std::string(get_xdir()) + "/scrollback/" + relative;

    char *native = g_filename_from_utf8(utf8.c_str(), -1, nullptr, nullptr, nullptr);
    if (!native)
        return {};
    std::string path(native);
    g_free(native);

    char *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0700);
    g_free(dir);
    return path;
}

void scrollback_save(session *sess, const char *text, time_t stamp)
{
    if (!text)
        return;
    // Switched off for the tab: the file is let go at once rather than kept
    // open for lines that never come.
    if ((sess->type == SESS_SERVER && prefs.gui_tab_server) || !scrollback_on(sess)) {
        if (scrollback_file *f = file_of(sess))
            close_fd(f);
        return;
    }
    scrollback_file *f = open_handle(sess);
    if (!f)
        return;

    if (!append_record(f, stamp ? stamp : time(nullptr), text))
        return;

    const int before = sess->scrollback_lines++;
    if (before > SCROLLBACK_LINES_MAX - 1 || (prefs.text_max_lines > 0 && before >= prefs.text_max_lines)) {
        // The trim renames a new file over this one: every descriptor on it
        // goes, also another tab's that shares the file (a second connection
        // to the same network).
        for (std::size_t i = open_files.size(); i-- > 0;) {
            if (open_files[i]->path == f->path)
                close_fd(open_files[i]);
        }
        trim(sess, f->path);
    }
}

int scrollback_load(session *sess)
{
    if (!scrollback_on(sess))
        return 0;
    scrollback_file *f = open_handle(sess);
    if (!f)
        return 0;
    std::string data;
    if (!read_file(f->path, data))
        return 0;

    int shown = 0;
    time_t last_stamp = 0;
    std::string_view rest(data);
    while (!rest.empty()) {
        // Any line-ending style: \n, \r\n or a lone \r.
        const std::size_t end = rest.find_first_of("\r\n");
        std::string_view line = rest.substr(0, end);
        if (end == std::string_view::npos)
            rest = {};
        else
            rest = rest.substr(end + (rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n' ? 2 : 1));

        if (!g_utf8_validate(line.data(), static_cast<gssize>(line.size()), nullptr)) {
            g_warning("Invalid utf8 in scrollback file");
            continue;
        }
        if (line.size() >= 2 && line[0] == 'T' && line[1] == ' ') {
            time_t stamp;
            std::string_view text;
            if (!parse_record(line, &stamp, &text)) {
                g_warning("Invalid timestamp in scrollback file");
                continue;
            }
            if (prefs.text_stripcolor_replay) {
                char *plain = strip_color(std::string(text).c_str(), -1, STRIP_COLOR);
                show(sess, plain, stamp);
                g_free(plain);
            } else {
                show(sess, text, stamp);
            }
            last_stamp = stamp;
        } else {
            show(sess, line, 0);
        }
        shown++;
    }

    sess->scrollback_lines = shown;
    if (shown) {
        if (!last_stamp) {
            // Only lines without time stamps: the file's own time is the
            // best guess of when they were written.
            GStatBuf sb;
            last_stamp = g_stat(f->path.c_str(), &sb) == 0 ? sb.st_mtime : time(nullptr);
        }
        std::string note = "\n*\t";
        note += _("Loaded log from");
        note += ' ';
        note += log_time_text(last_stamp);
        note += "\n\n";
        fe_print_text(sess, note.data(), 0, TRUE);
    }
    return shown;
}

void scrollback_close(session *sess)
{
    drop_handle(sess);
}
