#include "process_runner.h"

#include <glib.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>

namespace
{

// The conventional id of the unprivileged "nobody" user and group.
constexpr uid_t NOBODY_ID = 65534;

void become_nobody(gpointer) noexcept
{
    // Runs in the child between fork and exec: only async-signal-safe calls.
    if (setgroups(0, nullptr) != 0 || setgid(NOBODY_ID) != 0 || setuid(NOBODY_ID) != 0)
        _exit(126);
}

gint64 deadline_after(int timeout_ms)
{
    return g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
}

int ms_left(gint64 deadline)
{
    const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
    return left > 0 ? static_cast<int>(left) : 0;
}

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

child_process::child_process(const std::string &program, const run_options &options)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : options.args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    char **envp = g_get_environ();
    for (const std::string &name : options.unset_env)
        envp = g_environ_unsetenv(envp, name.c_str());
    for (const auto &[name, value] : options.set_env)
        envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);

    const bool drop = options.drop_root && geteuid() == 0;
    GError *error = nullptr;
    GPid pid = 0;
    const gboolean ok =
        g_spawn_async_with_pipes(nullptr, argv.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD, drop ? become_nobody : nullptr,
                                 nullptr, &pid, &in_, &out_, &err_, &error);
    g_strfreev(envp);
    if (!ok) {
        start_error_ = error ? error->message : "spawn failed";
        if (error)
            g_error_free(error);
        return;
    }
    pid_ = pid;
    for (int fd : {in_, out_, err_})
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    // A child that exits early must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
}

child_process::~child_process()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close_fd(in_);
    close_fd(out_);
    close_fd(err_);
}

bool child_process::write(std::string_view text)
{
    // Bounded: a child that stops reading its input fails the write.
    const gint64 deadline = deadline_after(10000);
    while (!text.empty() && in_ >= 0) {
        const ssize_t n = ::write(in_, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (ms_left(deadline) == 0)
            return false;
        pollfd p{in_, POLLOUT, 0};
        poll(&p, 1, std::min(ms_left(deadline), 100));
        pump(0); // keep the child's output flowing while it is blocked
    }
    return text.empty();
}

void child_process::close_input()
{
    close_fd(in_);
}

bool child_process::pump(int wait_ms)
{
    pollfd fds[2];
    int n = 0;
    if (out_ >= 0)
        fds[n++] = {out_, POLLIN, 0};
    if (err_ >= 0)
        fds[n++] = {err_, POLLIN, 0};
    if (n == 0)
        return false;
    if (poll(fds, static_cast<nfds_t>(n), wait_ms) <= 0)
        return true;
    for (int i = 0; i < n; ++i) {
        if (!fds[i].revents)
            continue;
        const bool is_out = fds[i].fd == out_;
        char buf[4096];
        const ssize_t got = read(fds[i].fd, buf, sizeof buf);
        if (got > 0)
            (is_out ? result_.out : result_.err).append(buf, static_cast<std::size_t>(got));
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            close_fd(is_out ? out_ : err_);
    }
    return out_ >= 0 || err_ >= 0;
}

bool child_process::wait_for(const std::function<bool(const std::string &)> &done, int timeout_ms)
{
    const gint64 deadline = deadline_after(timeout_ms);
    while (!done(result_.out)) {
        const int left = ms_left(deadline);
        if (left == 0 || !pump(std::min(left, 100)))
            return done(result_.out);
    }
    return true;
}

bool child_process::wait_for_output(std::string_view needle, int timeout_ms)
{
    return wait_for([&](const std::string &out) { return out.find(needle) != std::string::npos; }, timeout_ms);
}

void child_process::send_signal(int sig)
{
    if (pid_ > 0)
        kill(pid_, sig);
}

run_result child_process::finish(int timeout_ms)
{
    close_input();
    const gint64 deadline = deadline_after(timeout_ms);
    int status = 0;
    while (pid_ > 0) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            break;
        if (r < 0 && errno != EINTR) {
            pid_ = -1;
            return result_;
        }
        if (ms_left(deadline) == 0) {
            result_.timed_out = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        // Reading while waiting: a child blocked on a full pipe never exits.
        if (!pump(std::min(ms_left(deadline), 50)))
            g_usleep(10000);
    }
    pid_ = -1;
    // Output written just before the exit may still sit in the pipes; a
    // grandchild holding them open must not stall the test, hence the bound.
    const gint64 drain_deadline = deadline_after(500);
    while (ms_left(drain_deadline) > 0 && pump(std::min(ms_left(drain_deadline), 50))) {
    }
    if (result_.timed_out)
        return result_;
    if (WIFEXITED(status))
        result_.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result_.term_signal = WTERMSIG(status);
    return result_;
}

run_result run_program(const std::string &program, const run_options &options, std::string_view input, int timeout_ms)
{
    child_process child(program, options);
    if (!child.started()) {
        run_result failed;
        failed.err = child.start_error();
        return failed;
    }
    child.write(input);
    return child.finish(timeout_ms);
}
