#include "console.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "lines.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <glib-unix.h>
#include <glib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{

// Enough for a burst of pasted lines per wake-up; a longer burst simply
// takes another turn of the main loop.
constexpr std::size_t READ_CHUNK = 4096;

struct stdin_state {
    line_splitter splitter;
    guint watch = 0;
};

stdin_state &input()
{
    static stdin_state s;
    return s;
}

session *target_session()
{
    if (current_sess && is_session(current_sess))
        return current_sess;
    if (sess_list)
        return static_cast<session *>(sess_list->data);
    // Every tab was closed while input still arrives: give the user a tab
    // to type /server or /set into, as the start-up does.
    return new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
}

void run_line(std::string &line)
{
    if (lumenwick_is_quitting || line.empty())
        return;
    handle_multiline(target_session(), line.data(), TRUE, FALSE);
}

gboolean read_stdin(gint fd)
{
    char buf[READ_CHUNK];
    const ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return G_SOURCE_CONTINUE;
    if (got > 0) {
        for (std::string &line : input().splitter.feed(std::string_view(buf, static_cast<std::size_t>(got))))
            run_line(line);
        return G_SOURCE_CONTINUE;
    }
    // End of input (or a read error, which leaves nothing more to read).
    if (auto rest = input().splitter.finish())
        run_line(*rest);
    input().watch = 0;
    if (!lumenwick_is_quitting)
        lumenwick_exit();
    return G_SOURCE_REMOVE;
}

gboolean on_stdin(gint fd, GIOCondition, gpointer) noexcept
{
    // After an internal error standard input is dropped.
    const gboolean keep = guarded<gboolean>("standard input", G_SOURCE_REMOVE, [fd] { return read_stdin(fd); });
    if (!keep)
        input().watch = 0;
    return keep;
}

gboolean on_quit_signal(gpointer) noexcept
{
    guarded("quit signal", [] {
        if (!lumenwick_is_quitting)
            lumenwick_exit();
    });
    return G_SOURCE_CONTINUE;
}

} // namespace

void console_start_input(void)
{
    if (input().watch)
        return;
    input().watch =
        g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), on_stdin, nullptr);
}

void console_watch_signals(void)
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    g_unix_signal_add(SIGINT, on_quit_signal, nullptr);
    g_unix_signal_add(SIGTERM, on_quit_signal, nullptr);
}

namespace
{

guint stdout_flush_source;

gboolean flush_stdout(gpointer) noexcept
{
    guarded("standard output", [] {
        stdout_flush_source = 0;
        fflush(stdout);
    });
    return G_SOURCE_REMOVE;
}

} // namespace

void console_out(std::string_view text)
{
    // Lines are flushed once the main loop has nothing else to do: a reader
    // sees each line as soon as the client is idle, while a flood goes out in
    // full buffers instead of one write per line.
    fwrite(text.data(), 1, text.size(), stdout);
    if (!stdout_flush_source)
        stdout_flush_source = g_idle_add(flush_stdout, nullptr);
}

void console_flush(void)
{
    if (stdout_flush_source) {
        g_source_remove(stdout_flush_source);
        stdout_flush_source = 0;
    }
    fflush(stdout);
}

void console_err(std::string_view text)
{
    console_flush(); // in a terminal the two streams stay in order
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
}
