// Conversation logs. The descriptor stays open between lines; once a second
// (not on every line) the path is rebuilt and compared with the open file,
// which catches the date roll of the mask, a renamed tab and a log file
// deleted or moved by the user.
#include "output/log.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "session/chanopt.h"
#include "session/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{

// Longest expansion of the log mask, and the longest single file name the
// file systems we run on accept.
constexpr std::size_t LOG_MASK_EXPANSION_MAX = 383;
constexpr std::size_t FILE_NAME_MAX = 255;
// A shortened name keeps at least this much of its own text.
constexpr std::size_t SHORTENED_NAME_MIN = 32;
// An extension this short survives shortening, so "#long....log" stays a .log.
constexpr std::size_t KEPT_EXTENSION_MAX = 16;
// After a log could not be opened, printing goes on without it and the
// next attempt waits this long instead of failing on every line.
constexpr time_t LOG_RETRY_SECONDS = 60;

struct log_state {
    std::string path; // the path the open descriptor was opened as
    dev_t dev = 0;    // and the file that path named then
    ino_t ino = 0;
    time_t checked = 0;  // second of the last path check
    time_t retry_at = 0; // after a failed open, no new attempt before this
};

std::unordered_map<const session *, log_state> states;
bool open_warning_shown;

bool logging_on(const session *sess)
{
    return chanopt_is_set(prefs.irc_logging, sess->text_logging) != 0;
}

void write_marker(int fd, const char *what, time_t when)
{
    // ctime's own line end plus the format's: an empty line follows.
    std::string line = std::string("**** ") + what + " LOGGING AT " + log_time_text(when) + "\n\n";
    write_all(fd, line.data(), line.size());
}

void close_log(session *sess, bool ending_line)
{
    if (sess->log_fd < 0)
        return;
    if (ending_line)
        write_marker(sess->log_fd, "ENDING", time(nullptr));
    close(sess->log_fd);
    sess->log_fd = -1;
}

std::string short_hash(std::string_view text)
{
    char *sum =
        g_compute_checksum_for_data(G_CHECKSUM_SHA1, reinterpret_cast<const guchar *>(text.data()), text.size());
    std::string hash(sum, 8);
    g_free(sum);
    return hash;
}

// `name` cut to `limit` bytes: the start of the name, "~", a hash of the
// whole name (so two long names that start alike stay apart) and a short
// extension.
std::string shorten(const std::string &name, std::size_t limit)
{
    std::string ext;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= KEPT_EXTENSION_MAX)
        ext = name.substr(dot);
    const std::string suffix = "~" + short_hash(name) + ext;
    const std::string_view stem(name.data(), name.size() - ext.size());
    const std::size_t room = limit > suffix.size() ? limit - suffix.size() : 0;
    return std::string(stem.substr(0, utf8_prefix(stem.data(), stem.size(), room))) + suffix;
}

// The time codes of an expanded mask, for the moment `now`.
std::string expand_time(const std::string &format, time_t now)
{
    struct tm tm_now;
    if (!localtime_r(&now, &tm_now))
        return format;
    for (std::size_t size : {std::size_t{1024}, std::size_t{16384}}) {
        std::vector<char> buf(size);
        const std::size_t n = strftime(buf.data(), buf.size(), format.c_str(), &tm_now);
        if (n > 0)
            return std::string(buf.data(), n);
    }
    return format;
}

bool open_log_file(session *sess, log_state &st, time_t now)
{
    close_log(sess, true);
    const std::string path = log_path(sess);
    char *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0700);
    g_free(dir);

    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        st.retry_at = now + LOG_RETRY_SECONDS;
        if (!open_warning_shown) {
            open_warning_shown = true;
            char *msg =
                g_strdup_printf(_("* Can't open log file(s) for writing. Check the\npermissions on %s"), path.c_str());
            fe_message(msg, FE_MSG_WAIT | FE_MSG_ERROR);
            g_free(msg);
        }
        return false;
    }
    struct stat sb;
    if (fstat(fd, &sb) == 0) {
        st.dev = sb.st_dev;
        st.ino = sb.st_ino;
    }
    st.path = path;
    st.checked = now;
    st.retry_at = 0;
    sess->log_fd = fd;
    write_marker(fd, "BEGIN", now);
    return true;
}

// Whether the open log is still the file the mask names now.
bool still_current(const log_state &st, const std::string &path)
{
    struct stat sb;
    return path == st.path && stat(path.c_str(), &sb) == 0 && sb.st_dev == st.dev && sb.st_ino == st.ino;
}

// The stamp of the previous line, reused while the second and the format
// stay the same (a busy channel has many lines per second).
const std::string &cached_stamp(time_t when)
{
    static time_t cached_time = -1;
    static std::string cached_format;
    static std::string cached_text;
    if (when != cached_time || cached_format != prefs.stamp_log_format) {
        cached_time = when;
        cached_format = prefs.stamp_log_format;
        char *text = nullptr;
        if (get_stamp_str(prefs.stamp_log_format, when, &text) > 0)
            cached_text = text;
        else
            cached_text.clear();
        g_free(text);
    }
    return cached_text;
}

} // namespace

std::string log_time_text(time_t when)
{
    static const char days[][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char months[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm tm_when;
    if (!localtime_r(&when, &tm_when) || tm_when.tm_wday < 0 || tm_when.tm_wday > 6 || tm_when.tm_mon < 0 ||
        tm_when.tm_mon > 11)
        return std::to_string(static_cast<long long>(when));
    // Spelled out rather than ctime(): ctime's fixed buffer is undefined for
    // years of five digits and more, and it returns null on others.
    char buf[64];
    g_snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %lld", days[tm_when.tm_wday], months[tm_when.tm_mon],
               tm_when.tm_mday, tm_when.tm_hour, tm_when.tm_min, tm_when.tm_sec,
               static_cast<long long>(tm_when.tm_year) + 1900);
    return buf;
}

int get_stamp_str(const char *format, time_t when, char **out)
{
    *out = nullptr;
    if (!format || !*format)
        return 0;
    struct tm tm_when;
    if (!localtime_r(&when, &tm_when)) {
        *out = g_strdup_printf("%lld ", static_cast<long long>(when));
        return static_cast<int>(strlen(*out));
    }
    const bool utf8_locale = g_get_charset(nullptr);
    char *local_format = utf8_locale ? g_strdup(format) : g_locale_from_utf8(format, -1, nullptr, nullptr, nullptr);
    if (!local_format)
        return 0;
    char buf[128];
    const std::size_t n = strftime_validated(buf, sizeof buf, local_format, &tm_when);
    g_free(local_format);
    if (n == 0)
        return 0;
    *out = utf8_locale ? g_strndup(buf, n) : g_locale_to_utf8(buf, static_cast<gssize>(n), nullptr, nullptr, nullptr);
    return *out ? static_cast<int>(strlen(*out)) : 0;
}

std::string log_clean_name(std::string_view name, bool double_percent)
{
    if (name.empty())
        return "_";
    std::string out;
    out.reserve(name.size() + 4);
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/')
            out += '_';
        else if (c == '%' && double_percent)
            out += "%%";
        else if (byte < 0x80)
            out += static_cast<char>(rfc_tolower(byte));
        else
            out += c;
    }
    return out;
}

std::string log_safe_path(std::string_view path, std::size_t max_len)
{
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string part(path.substr(start, end - start));
        start = end + 1;
        if (part.empty())
            continue;
        // "." and ".." would climb out of the directory; as names they
        // are kept visible but harmless.
        if (part == "." || part == "..")
            std::replace(part.begin(), part.end(), '.', '_');
        if (part.size() > FILE_NAME_MAX)
            part = shorten(part, FILE_NAME_MAX);
        parts.push_back(std::move(part));
    }
    if (parts.empty())
        parts.emplace_back("_");

    auto total = [&] {
        std::size_t n = absolute ? 1 : 0;
        for (const std::string &p : parts)
            n += p.size() + 1;
        return n - 1;
    };
    // Over the limit: the longest names give way first, each keeping enough
    // of itself to be recognised.
    while (total() > max_len) {
        auto longest = std::max_element(parts.begin(), parts.end(),
                                        [](const std::string &a, const std::string &b) { return a.size() < b.size(); });
        const std::size_t excess = total() - max_len;
        if (longest->size() <= SHORTENED_NAME_MIN + 9 + KEPT_EXTENSION_MAX)
            break;
        const std::size_t target = std::max(longest->size() > excess ? longest->size() - excess : 0,
                                            SHORTENED_NAME_MIN + 9 + KEPT_EXTENSION_MAX);
        std::string shorter = shorten(*longest, target);
        if (shorter.size() >= longest->size())
            break;
        *longest = std::move(shorter);
    }

    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); i++) {
        if (i)
            out += '/';
        out += parts[i];
    }
    return out;
}

std::string log_path(session *sess)
{
    server *serv = sess->server;
    const char *servname = serv->announced_name[0] ? serv->announced_name : serv->hostname;
    const char *network = server_get_network(serv, false);
    if (!network)
        network = "NETWORK";
    const bool server_tab = sess->type == SESS_SERVER || (servname[0] && rfc_casecmp(sess->channel, servname) == 0);
    const char *channel = server_tab ? "server" : sess->channel;

    // Names are substituted first with their "%" doubled, so that the time
    // expansion that follows leaves them as they are.
    const char *mask = prefs.irc_logmask;
    std::string expanded;
    for (const char *p = mask; *p; p++) {
        if (*p != '%') {
            expanded += *p;
            continue;
        }
        switch (p[1]) {
        case 's':
            expanded += log_clean_name(servname, true);
            p++;
            break;
        case 'n':
            expanded += log_clean_name(network, true);
            p++;
            break;
        case 'c':
            expanded += log_clean_name(channel, true);
            p++;
            break;
        case '\0':
            expanded += "%%";
            break;
        default:
            expanded += *p;
            expanded += p[1];
            p++;
            break;
        }
    }

    // Whether the log goes under the configuration directory is the mask's
    // decision, never the names'.
    const bool absolute = mask[0] == '/';
    std::string result = log_safe_path(expand_time(expanded, time(nullptr)), LOG_MASK_EXPANSION_MAX);
    if (absolute) {
        if (result[0] != '/')
            result.insert(0, "/");
        return result;
    }
    if (result[0] == '/')
        result.erase(0, 1);
    return std::string(get_xdir()) + "/logs/" + result;
}

void log_open_or_close(session *sess)
{
    if (!logging_on(sess)) {
        log_close(sess);
        return;
    }
    open_log_file(sess, states[sess], time(nullptr));
}

void log_close(session *sess)
{
    close_log(sess, true);
    states.erase(sess);
}

void log_write(session *sess, const char *text, time_t stamp)
{
    if (!text || !logging_on(sess))
        return;
    const time_t now = time(nullptr);
    log_state &st = states[sess];
    if (sess->log_fd < 0) {
        if (now < st.retry_at || !open_log_file(sess, st, now))
            return;
    } else if (st.checked != now) {
        st.checked = now;
        const std::string path = log_path(sess);
        if (!still_current(st, path)) {
            // The old file is gone or no longer the one the mask names: no
            // ENDING line into it, a BEGIN line in the new one.
            close_log(sess, false);
            if (!open_log_file(sess, st, now))
                return;
        }
    }

    static std::string line;
    const std::size_t len = strlen(text);
    line.clear();
    if (prefs.stamp_log)
        line += cached_stamp(stamp ? stamp : now);
    const std::size_t prefix = line.size();
    line.resize(prefix + len + 2);
    const int n = strip_color2(text, static_cast<int>(len), line.data() + prefix, STRIP_ALL);
    line.resize(prefix + static_cast<std::size_t>(n));
    if (line.empty() || line.back() != '\n')
        line += '\n';
    write_all(sess->log_fd, line.data(), line.size());
}
