// The command dispatcher on what users type: cutting a line into messages
// (a short line that fits, a 4 KB paste), and whole command lines through
// handle_command — a raw command, a said line with its own-message event,
// a 4 KB said line, and a user command — with the socket going to /dev/null
// and the text front end printing to /dev/null.
#include "base/lumenwick.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

session *chan;

// The text front end prints every shown line to standard output, where the
// results go too: it is pointed at /dev/null only while a benchmark runs.
struct quiet_stdout {
    quiet_stdout()
    {
        fflush(stdout);
        saved = dup(STDOUT_FILENO);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) {
            dup2(null_fd, STDOUT_FILENO);
            close(null_fd);
        }
    }
    ~quiet_stdout()
    {
        fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }
    int saved = -1;
};

session *env()
{
    static bool ready = [] {
        // A private directory: /say logs the own message like a user's client.
        static struct private_dir {
            char *path = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
            ~private_dir()
            {
                if (path && system(("rm -rf '" + std::string(path) + "'").c_str()) != 0)
                    fprintf(stderr, "could not remove %s\n", path);
                g_free(path);
            }
        } dir;
        set_xdir(dir.path);
        load_default_config();
        prefs.net_throttle = 0;
        prefs.text_max_lines = 100;
        load_text_events();
        list_load_all();
        list_addentry(&command_list, "say hello %2, welcome to %c", "greet");
        session *home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        server *serv = home->server;
        serv->sock = open("/dev/null", O_WRONLY);
        serv->connected = TRUE;
        g_strlcpy(serv->nick, "me", sizeof serv->nick);
        chan = new_ircwindow(serv, "#lumenwick", SESS_CHANNEL, 0);
        return true;
    }();
    (void)ready;
    return chan;
}

std::string words(std::size_t bytes)
{
    static const char *const pool[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog,", "again"};
    std::string out;
    for (int i = 0; out.size() < bytes; i++) {
        out += pool[i % 10];
        out += ' ';
    }
    out.resize(bytes);
    return out;
}

void BM_SplitFits(benchmark::State &state)
{
    session *sess = env();
    quiet_stdout quiet;
    const std::string text = words(120);
    for (auto _ : state)
        benchmark::DoNotOptimize(split_up_text(sess, text.c_str(), 13));
}
BENCHMARK(BM_SplitFits);

void BM_SplitFirstPiece4K(benchmark::State &state)
{
    session *sess = env();
    quiet_stdout quiet;
    const std::string text = words(4096);
    for (auto _ : state)
        benchmark::DoNotOptimize(split_up_text(sess, text.c_str(), 13));
}
BENCHMARK(BM_SplitFirstPiece4K);

void BM_SplitAllPieces4K(benchmark::State &state)
{
    session *sess = env();
    quiet_stdout quiet;
    const std::string text = words(4096);
    for (auto _ : state) {
        std::size_t at = 0;
        for (;;) {
            const std::string piece = split_up_text(sess, text.c_str() + at, 13);
            if (piece.empty())
                break;
            at += piece.size();
        }
        benchmark::DoNotOptimize(at);
    }
}
BENCHMARK(BM_SplitAllPieces4K);

void run_line(benchmark::State &state, const std::string &line)
{
    session *sess = env();
    quiet_stdout quiet;
    std::vector<char> buf(line.size() + 1);
    for (auto _ : state) {
        memcpy(buf.data(), line.c_str(), line.size() + 1);
        benchmark::DoNotOptimize(handle_command(sess, buf.data(), true));
    }
}

void BM_CommandRaw(benchmark::State &state)
{
    run_line(state, "FOO bar baz");
}
BENCHMARK(BM_CommandRaw);

void BM_CommandSay(benchmark::State &state)
{
    run_line(state, "say " + words(80));
}
BENCHMARK(BM_CommandSay);

void BM_CommandSay4K(benchmark::State &state)
{
    run_line(state, "say " + words(4096));
}
BENCHMARK(BM_CommandSay4K);

void BM_CommandRaw4K(benchmark::State &state)
{
    run_line(state, "FOO " + words(4096));
}
BENCHMARK(BM_CommandRaw4K);

void BM_UserCommand(benchmark::State &state)
{
    run_line(state, "greet bob");
}
BENCHMARK(BM_UserCommand);

} // namespace
