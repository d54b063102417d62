// Scrollback files. Lines are appended without reading the file; the file is
// trimmed to its newest lines only when the line counter passes the limit,
// and the trim writes a new file and renames it over the old one, so a crash
// in the middle loses nothing.
#include "scrollback.h"

#include "atomicfile.h"
#include "cfgfiles.h"
#include "chanopt.h"
#include "fe.h"
#include "log.h"
#include "lumenwick.h"
#include "server.h"
#include "session.h"
#include "util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// However text_max_lines is set, a file never keeps more lines than this.
constexpr int SCROLLBACK_LINES_MAX = 32000;
// A scrollback path: the configuration directory, then a name, a directory
// and a file name of at most the file-system limit each.
constexpr std::size_t SCROLLBACK_NAMES_MAX = 512;

struct scrollback_file {
    std::string path;
};

scrollback_file *file_of(session *sess) { return static_cast<scrollback_file *>(sess->scrollback_handle); }

bool scrollback_on(const session *sess) { return chanopt_is_set(prefs.text_replay, sess->text_scrollback) != 0; }


scrollback_file *open_handle(session *sess)
{
    if (scrollback_file *f = file_of(sess))
        return f;
    std::string path = scrollback_path(sess);
    if (path.empty())
        return nullptr;
    auto *f = new scrollback_file{std::move(path)};
    sess->scrollback_handle = f;
    return f;
}

bool append_record(const std::string &path, const std::string &record)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        // The directory was removed while the tab was open.
        char *dir = g_path_get_dirname(path.c_str());
        g_mkdir_with_parents(dir, 0700);
        g_free(dir);
        fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    }
    if (fd < 0)
        return false;
    const bool ok = write_all(fd, record.data(), record.size());
    close(fd);
    return ok;
}

// Keeps the newest lines of the file. The counter then says how many lines
// were dropped, so the next trim waits until about that many have been added
// again: the file stays between the limit and twice the limit, and the
// expensive rewrite is rare.
void trim(session *sess, const std::string &path)
{
    const int keep = prefs.text_max_lines > 0 ? std::min(prefs.text_max_lines, SCROLLBACK_LINES_MAX)
                                              : SCROLLBACK_LINES_MAX;
    gchar *data = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(path.c_str(), &data, &len, nullptr))
        return;
    const std::string_view text(data, len);
    const long lines = static_cast<long>(std::count(text.begin(), text.end(), '\n'));
    if (lines <= keep) {
        sess->scrollback_lines = static_cast<int>(lines);
        g_free(data);
        return;
    }
    const long drop = lines - keep;
    std::size_t cut = 0;
    for (long seen = 0; seen < drop; seen++)
        cut = text.find('\n', cut) + 1;
    if (atomic_file_write(path, text.substr(cut), 0600))
        sess->scrollback_lines = static_cast<int>(drop);
    g_free(data);
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

}  // namespace

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
    if (sess->type == SESS_SERVER && prefs.gui_tab_server)
        return;
    if (!scrollback_on(sess))
        return;
    scrollback_file *f = open_handle(sess);
    if (!f)
        return;

    if (!stamp)
        stamp = time(nullptr);
    std::string record = "T " + std::to_string(static_cast<long long>(stamp)) + " " + text;
    if (record.back() != '\n')
        record += '\n';
    if (!append_record(f->path, record))
        return;

    const int before = sess->scrollback_lines++;
    if (before > SCROLLBACK_LINES_MAX - 1 || (prefs.text_max_lines > 0 && before >= prefs.text_max_lines))
        trim(sess, f->path);
}

int scrollback_load(session *sess)
{
    if (!scrollback_on(sess))
        return 0;
    scrollback_file *f = open_handle(sess);
    if (!f)
        return 0;
    gchar *data = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(f->path.c_str(), &data, &len, nullptr))
        return 0;

    int shown = 0;
    time_t last_stamp = 0;
    std::string_view rest(data, len);
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
    g_free(data);

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
        note += " " + log_time_text(last_stamp) + "\n\n";
        fe_print_text(sess, note.data(), 0, TRUE);
    }
    return shown;
}

void scrollback_close(session *sess)
{
    delete file_of(sess);
    sess->scrollback_handle = nullptr;
}
