// /EXEC and its family: one child process per session, its output shown
// or said line by line.

#include "commands/outbound-exec.h"

#include "base/guard.h"
#include "commands/outbound-cmds.h"
#include "commands/outbound.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "output/text.h"
#include "session/session.h"

#include <glib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

struct exec_child {
    pid_t pid = 0;
    int fd = -1; // our end of the socket pair: the child's stdin, stdout and stderr
    int watch_tag = 0;
    bool to_channel = false;
    // Tells a callback that the child it was serving is still the session's
    // one after something it called may have freed it.
    unsigned serial = 0;
    std::string partial; // output after the last line feed
    exec_color_state colors;
};

namespace
{

constexpr char ESC = '\x1b';
constexpr char IRC_COLOR = '\x03';
constexpr char IRC_RESET = '\x0f';

// ANSI colours 30-37 (then the bright ones) as IRC colour numbers.
constexpr int ANSI_TO_IRC[14] = {1, 4, 3, 5, 2, 10, 6, 1, 1, 7, 9, 8, 12, 11};
// The table stops short of bright cyan and bright white. The table gives
// cyan the purple slot, so its bright form is pink; bright white is light
// grey, which stays readable on a light background where white would not.
constexpr int IRC_BRIGHT_CYAN = 13;
constexpr int IRC_BRIGHT_WHITE = 15;
// The IRC colour number meaning "the default text colour".
constexpr int IRC_DEFAULT_COLOR = 99;

constexpr int ANSI_RESET = 0;
constexpr int ANSI_BRIGHT = 1;
constexpr int ANSI_FG_FIRST = 30;
constexpr int ANSI_FG_LAST = 37;
constexpr int ANSI_BG_FIRST = 40;
constexpr int ANSI_BG_LAST = 47;
// 38 and 48 announce an extended colour whose arguments are not codes.
constexpr int ANSI_FG_EXTENDED = 38;
constexpr int ANSI_BG_EXTENDED = 48;
constexpr int ANSI_EXTENDED_INDEXED = 5; // one argument follows
constexpr int ANSI_EXTENDED_RGB = 2;     // three arguments follow

// Digits after this many in one number are ignored.
constexpr int MAX_NUMBER_DIGITS = 15;
// No code is anywhere near this; it only keeps the arithmetic bounded.
constexpr long NUMBER_CAP = 1000000;

constexpr std::size_t READ_CHUNK = 2048;

unsigned next_serial;

struct ansi_number {
    bool empty = true;
    long value = 0;
};

int irc_foreground(int ansi, bool bright)
{
    const int index = ansi + (bright ? 8 : 0);
    if (index < static_cast<int>(G_N_ELEMENTS(ANSI_TO_IRC)))
        return ANSI_TO_IRC[index];
    return index == 14 ? IRC_BRIGHT_CYAN : IRC_BRIGHT_WHITE;
}

bool in_range(const ansi_number &n, int first, int last)
{
    return !n.empty && n.value >= first && n.value <= last;
}

// The numbers of one "m" sequence that are colour codes: the arguments of
// an extended colour (38;5;n, 48;2;r;g;b) would otherwise read as codes.
std::vector<ansi_number> colour_codes(const std::vector<ansi_number> &numbers)
{
    std::vector<ansi_number> codes;
    for (std::size_t k = 0; k < numbers.size(); k++) {
        const ansi_number &n = numbers[k];
        if (!n.empty && (n.value == ANSI_FG_EXTENDED || n.value == ANSI_BG_EXTENDED)) {
            if (k + 1 < numbers.size() && !numbers[k + 1].empty) {
                if (numbers[k + 1].value == ANSI_EXTENDED_INDEXED)
                    k += 2;
                else if (numbers[k + 1].value == ANSI_EXTENDED_RGB)
                    k += 4;
            }
            continue;
        }
        codes.push_back(n);
    }
    return codes;
}

void append_colour(std::string &out, int foreground, int background)
{
    char code[16];
    if (background >= 0)
        g_snprintf(code, sizeof code, "%c%d,%02d", IRC_COLOR, foreground, background);
    else
        g_snprintf(code, sizeof code, "%c%02d", IRC_COLOR, foreground);
    out += code;
}

// One "ESC [ ... m" sequence. Only the last code and the one before it
// count; a sequence without a foreground keeps the previous one.
void convert_sgr(const std::vector<ansi_number> &numbers, exec_color_state &state, std::string &out)
{
    const std::vector<ansi_number> codes = colour_codes(numbers);
    if (codes.empty())
        return; // only an extended colour: not something IRC colours can show
    const ansi_number &last = codes.back();
    const ansi_number before = codes.size() >= 2 ? codes[codes.size() - 2] : ansi_number{};

    if (last.empty || last.value == ANSI_RESET) {
        out += IRC_RESET;
        state.bright = false;
        state.foreground = -1;
        return;
    }

    bool changed = false;
    if ((!last.empty && last.value == ANSI_BRIGHT) || (!before.empty && before.value == ANSI_BRIGHT)) {
        changed = !state.bright;
        state.bright = true;
    }
    if (in_range(last, ANSI_FG_FIRST, ANSI_FG_LAST)) {
        state.foreground = static_cast<int>(last.value - ANSI_FG_FIRST);
        changed = true;
    } else if (in_range(before, ANSI_FG_FIRST, ANSI_FG_LAST)) {
        state.foreground = static_cast<int>(before.value - ANSI_FG_FIRST);
        changed = true;
    }

    if (in_range(last, ANSI_BG_FIRST, ANSI_BG_LAST)) {
        const int background = ANSI_TO_IRC[last.value - ANSI_BG_FIRST];
        const int foreground =
            state.foreground >= 0 ? irc_foreground(state.foreground, state.bright) : IRC_DEFAULT_COLOR;
        append_colour(out, foreground, background);
    } else if (changed && state.foreground >= 0) {
        append_colour(out, irc_foreground(state.foreground, state.bright), -1);
    }
}

bool is_parameter_byte(unsigned char c)
{
    return c >= 0x20 && c <= 0x3f;
}
bool is_final_byte(unsigned char c)
{
    return c >= 0x40 && c <= 0x7e;
}

// Parses the sequence after "ESC [" starting at `i`; returns the index just
// after it. An unfinished sequence swallows the rest of the text; a byte that
// cannot be part of one ends it there and is kept.
std::size_t convert_sequence(std::string_view text, std::size_t i, exec_color_state &state, std::string &out)
{
    std::vector<ansi_number> numbers;
    ansi_number current;
    int digits = 0;
    bool plain = true; // only digits and ';': private or sub-parameter forms are not colours
    for (; i < text.size(); i++) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (g_ascii_isdigit(c)) {
            current.empty = false;
            if (digits < MAX_NUMBER_DIGITS) {
                digits++;
                current.value = current.value > NUMBER_CAP / 10 ? NUMBER_CAP : current.value * 10 + (c - '0');
                if (current.value > NUMBER_CAP)
                    current.value = NUMBER_CAP;
            }
        } else if (c == ';') {
            numbers.push_back(current);
            current = ansi_number{};
            digits = 0;
        } else if (is_parameter_byte(c)) {
            plain = false;
        } else if (is_final_byte(c)) {
            numbers.push_back(current);
            if (c == 'm' && plain)
                convert_sgr(numbers, state, out);
            return i + 1;
        } else {
            return i;
        }
    }
    return i;
}

} // namespace

std::string exec_convert_ansi(std::string_view text, exec_color_state &state)
{
    std::string out;
    out.reserve(text.size());
    std::size_t code_end = std::string::npos; // where the last code we wrote ends
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r') {
            i++;
        } else if (c == ESC && i + 1 < text.size() && text[i + 1] == '[') {
            const std::size_t before = out.size();
            i = convert_sequence(text, i + 2, state, out);
            if (out.size() != before)
                code_end = out.size();
        } else if (c == ESC) {
            i++; // not a sequence we know: the lone escape is dropped
        } else {
            // Text ",5" right after "\003" "04" would be read as a background;
            // two bold toggles in between keep the comma text.
            if (c == ',' && out.size() == code_end && out.size() >= 3 && out[out.size() - 3] == IRC_COLOR)
                out += "\x02\x02";
            out += c;
            i++;
        }
    }
    return out;
}

namespace
{

// The child leads its own process group: "/bin/sh -c" may run the command
// as a grandchild (and a pipeline has several), and a signal that reached
// only the shell would leave the command running with our socket.
int kill_group(pid_t pid, int sig)
{
    if (kill(-pid, sig) == 0)
        return 0;
    // Not a group (yet): at least the child itself.
    return kill(pid, sig);
}

bool child_is_current(session *sess, unsigned serial)
{
    return is_session(sess) && sess->exec_child && sess->exec_child->serial == serial;
}

// Shows or says one line; false when the session or its child went away
// meanwhile (a plugin may close a tab from a hook).
bool deliver_line(session *sess, std::string_view raw)
{
    exec_child *child = sess->exec_child;
    const unsigned serial = child->serial;
    std::string converted = exec_convert_ansi(raw, child->colors);
    char *valid = g_utf8_make_valid(converted.data(), static_cast<gssize>(converted.size()));
    if (child->to_channel) {
        if (valid[0]) {
            // Output is not typed text: a first word ending in the
            // completion suffix must not turn into someone's nick.
            handle_say(sess, valid, false, false);
        }
    } else {
        std::string line(valid);
        line += '\n';
        PrintText(sess, line.c_str());
    }
    g_free(valid);
    return child_is_current(sess, serial);
}

// Where a piece of an over-long line may end: not inside a UTF-8 character.
std::size_t piece_end(const std::string &text, std::size_t limit)
{
    const std::size_t end = utf8_prefix(text.data(), text.size(), limit);
    return end > 0 ? end : limit;
}

// Delivers every complete line of the buffer (and, with `flush`, the rest);
// false when the session or child went away.
bool deliver_lines(session *sess, bool flush)
{
    exec_child *child = sess->exec_child;
    for (;;) {
        std::string &buf = child->partial;
        const std::size_t nl = buf.find('\n');
        std::string line;
        if (nl != std::string::npos) {
            line = buf.substr(0, nl);
            buf.erase(0, nl + 1);
        } else if (buf.size() >= EXEC_MAX_PARTIAL_LINE) {
            const std::size_t end = piece_end(buf, EXEC_MAX_PARTIAL_LINE);
            line = buf.substr(0, end);
            buf.erase(0, end);
        } else if (flush && !buf.empty()) {
            line.swap(buf);
        } else {
            return true;
        }
        if (!deliver_line(sess, line))
            return false;
        child = sess->exec_child;
    }
}

void reap(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

gboolean exec_data_step(void *user_data)
{
    auto *sess = static_cast<session *>(user_data);
    if (!is_session(sess) || !sess->exec_child)
        return FALSE;
    exec_child *child = sess->exec_child;
    const unsigned serial = child->serial;

    char buf[READ_CHUNK];
    const ssize_t n = read(child->fd, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return TRUE;
    if (n > 0) {
        child->partial.append(buf, static_cast<std::size_t>(n));
        deliver_lines(sess, false);
        return TRUE; // the watch was removed if the child went away meanwhile
    }

    // End of output or an error: the child is done with us.
    kill_group(child->pid, SIGKILL);
    if (!deliver_lines(sess, true) || !child_is_current(sess, serial))
        return TRUE;
    exec_child_free(sess);
    return TRUE;
}

gboolean exec_data(GIOChannel *, GIOCondition, void *user_data) noexcept
{
    return guarded<gboolean>("/EXEC output", TRUE, [&] { return exec_data_step(user_data); });
}

// Delivers what a child that already exited left unread; false when the
// session or the child went away meanwhile.
bool drain_finished_child(session *sess)
{
    exec_child *child = sess->exec_child;
    const unsigned serial = child->serial;
    char buf[READ_CHUNK];
    for (;;) {
        const ssize_t n = read(child->fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // end, or a grandchild still holds the socket: nothing more now
        child->partial.append(buf, static_cast<std::size_t>(n));
        if (!deliver_lines(sess, false))
            return false;
        child = sess->exec_child;
    }
    return deliver_lines(sess, true) && child_is_current(sess, serial);
}

exec_child *running_child(session *sess)
{
    exec_child *child = sess->exec_child;
    if (!child)
        text_emit(XP_TE_NO_RUNNING_PROCESS, sess, nullptr, nullptr, nullptr, nullptr, 0);
    return child;
}

// Closes everything the child inherited except its standard descriptors, so
// that it holds no server socket, log file or other child's pipe.
void close_inherited_descriptors()
{
#if defined(__FreeBSD__) || (defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34)))
    closefrom(STDERR_FILENO + 1);
#else
    long max = sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536)
        max = 65536;
    for (int fd = STDERR_FILENO + 1; fd < max; fd++)
        close(fd);
#endif
}

// In the child after fork: only async-signal-safe calls.
[[noreturn]] void run_child(int fd, char **argv, const char *failure, std::size_t failure_len)
{
    setpgid(0, 0);
    dup2(fd, STDIN_FILENO);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    close_inherited_descriptors();
    // We ignore broken pipes; the command should not inherit that.
    signal(SIGPIPE, SIG_DFL);
    execvp(argv[0], argv);
    ssize_t ignored = write(STDERR_FILENO, failure, failure_len);
    (void)ignored;
    _exit(127);
}

} // namespace

pid_t exec_child_pid(const session *sess)
{
    return sess->exec_child ? sess->exec_child->pid : 0;
}

void exec_child_free(session *sess)
{
    exec_child *child = sess->exec_child;
    if (!child)
        return;
    sess->exec_child = nullptr;
    if (child->watch_tag)
        fe_input_remove(child->watch_tag);
    if (child->pid > 0) {
        kill_group(child->pid, SIGKILL);
        reap(child->pid);
    }
    if (child->fd >= 0)
        close(child->fd);
    delete child;
}

LUMENWICK_COMMAND_HANDLER(cmd_exec)
{
    bool to_channel = false;
    bool direct = false;
    int first = 2;
    for (;; first++) {
        if (!strcmp(word[first], "-o"))
            to_channel = true;
        else if (!strcmp(word[first], "-d"))
            direct = true;
        else
            break;
    }
    const char *command = word_eol[first];
    if (!command[0])
        return CMD_WRONG_USAGE;

    if (exec_child *old = sess->exec_child) {
        // A child whose output has not ended yet may already have exited.
        if (waitpid(old->pid, nullptr, WNOHANG) == 0) {
            text_emit(XP_TE_PROCESS_ALREADY_RUNNING, sess, nullptr, nullptr, nullptr, nullptr, 0);
            return CMD_DONE;
        }
        old->pid = 0; // reaped
        if (!drain_finished_child(sess))
            return CMD_DONE;
        exec_child_free(sess);
    }

    char **argv = nullptr;
    if (direct) {
        GError *error = nullptr;
        if (!g_shell_parse_argv(command, nullptr, &argv, &error)) {
            PrintTextf(sess, "%s\n", error->message);
            g_error_free(error);
            return CMD_DONE;
        }
    } else {
        if (access("/bin/sh", X_OK) != 0) {
            fe_message(_("I need /bin/sh to run!\n"), FE_MSG_ERROR);
            return CMD_DONE;
        }
        argv = g_new0(char *, 4);
        argv[0] = g_strdup("/bin/sh");
        argv[1] = g_strdup("-c");
        argv[2] = g_strdup(command);
    }

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        PrintText(sess, _("socketpair(2) failed\n"));
        g_strfreev(argv);
        return CMD_DONE;
    }
    // Written by the child when the command cannot be started; prepared
    // here because the child may only make async-signal-safe calls.
    char *failure = g_strdup_printf(_("Cannot run %s\n"), argv[0]);
    const std::size_t failure_len = strlen(failure);

    const pid_t pid = fork();
    if (pid == 0)
        run_child(fds[1], argv, failure, failure_len);
    g_free(failure);
    g_strfreev(argv);
    close(fds[1]);
    if (pid < 0) {
        PrintText(sess, _("Error in fork(2)\n"));
        close(fds[0]);
        return CMD_DONE;
    }
    // Also here, so that a signal sent right away already finds the group.
    setpgid(pid, pid);
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);

    auto *child = new exec_child;
    child->pid = pid;
    child->fd = fds[0];
    child->to_channel = to_channel;
    child->serial = ++next_serial;
    sess->exec_child = child;
    child->watch_tag = fe_input_add(fds[0], FIA_READ, exec_data, sess);
    return CMD_DONE;
}

namespace
{

int signal_child(session *sess, int sig)
{
    exec_child *child = running_child(sess);
    if (!child)
        return CMD_DONE;
    if (kill_group(child->pid, sig) != 0)
        PrintText(sess, _("Error in kill(2)\n"));
    return CMD_DONE;
}

} // namespace

LUMENWICK_COMMAND_HANDLER(cmd_execk)
{
    return signal_child(sess, !strcmp(word[2], "-9") ? SIGKILL : SIGTERM);
}

LUMENWICK_COMMAND_HANDLER(cmd_execs)
{
    return signal_child(sess, SIGSTOP);
}

LUMENWICK_COMMAND_HANDLER(cmd_execc)
{
    return signal_child(sess, SIGCONT);
}

LUMENWICK_COMMAND_HANDLER(cmd_execw)
{
    exec_child *child = running_child(sess);
    if (!child)
        return CMD_DONE;
    bool quiet = false;
    const char *text = word_eol[2];
    if (!strcmp(word[2], "-q")) {
        quiet = true;
        text = word_eol[3];
    } else if (!strcmp(word[2], "--")) {
        text = word_eol[3];
    }

    std::string line(text);
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = send(child->fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A child that stopped reading must not freeze the window.
            PrintTextf(sess, _("Cannot write to the process: %s\n"),
                       n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? _("it is not reading its input")
                                                                          : g_strerror(errno));
            return CMD_DONE;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!quiet)
        PrintText(sess, line.c_str());
    return CMD_DONE;
}
