// What plugin hooks cost the receive path: 100k channel PRIVMSGs through the
// parser, the handlers, the text event and the text front end (to
// /dev/null), with no plugin hooks, and with 1,000 hooks on other server
// messages, other text events and commands. Hooks are looked up by name, so
// unrelated ones should cost next to nothing. Logging and scrollback are off
// so that the hooks' share is not hidden behind file writes.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"
#include "session/session.h"

#include "feed_lines.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

constexpr int LINES = 100000;
constexpr int NICKS = 500;
constexpr int HOOKS = 1000;

struct hooks_env {
    server *serv = nullptr;
    session *chan = nullptr;
    lumenwick_plugin *plugin = nullptr;
    std::vector<lumenwick_hook *> hooks;
};
hooks_env e;

int bench_plugin_init(void *handle, char **name, char **, char **, char *)
{
    e.plugin = static_cast<lumenwick_plugin *>(handle);
    *name = const_cast<char *>("bench");
    return 1;
}

int no_server_event(char **, char **, void *)
{
    return 0;
}
int no_print_event(char **, void *)
{
    return 0;
}

void set_up()
{
    static bool ready = [] {
        char *dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
        set_xdir(dir);
        g_free(dir);
        load_default_config();
        prefs.net_throttle = 0;
        prefs.irc_logging = 0;
        prefs.text_replay = 0;
        load_text_events();
        session *home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        e.serv = home->server;
        e.serv->sock = -1;
        g_strlcpy(e.serv->nick, "me", sizeof e.serv->nick);
        e.chan = new_ircwindow(e.serv, "#busy", SESS_CHANNEL, 0);
        for (int i = 0; i < NICKS; i++)
            userlist_add(e.chan, ("user" + std::to_string(i)).c_str(), nullptr, nullptr, nullptr, nullptr);
        plugin_add(home, nullptr, nullptr, bench_plugin_init, nullptr, nullptr, 0);
        return true;
    }();
    (void)ready;
}

void add_unrelated_hooks()
{
    for (int i = 0; i < HOOKS; i++) {
        const std::string n = std::to_string(i);
        switch (i % 3) {
        case 0: // numerics and commands this traffic never has
            e.hooks.push_back(lumenwick_hook_server(e.plugin, (i % 2 ? "9" + n : "XCMD" + n).c_str(), i % 7,
                                                    no_server_event, nullptr));
            break;
        case 1:
            e.hooks.push_back(
                lumenwick_hook_print(e.plugin, ("Other Event " + n).c_str(), i % 5, no_print_event, nullptr));
            break;
        default:
            e.hooks.push_back(
                lumenwick_hook_command(e.plugin, ("CMD" + n).c_str(), 0, no_server_event, nullptr, nullptr));
            break;
        }
    }
}

void remove_hooks()
{
    for (lumenwick_hook *h : e.hooks)
        lumenwick_unhook(e.plugin, h);
    e.hooks.clear();
}

void run(benchmark::State &state, bool with_hooks)
{
    set_up();
    if (with_hooks)
        add_unrelated_hooks();
    std::vector<std::string> lines;
    for (int i = 0; i < LINES; i++)
        lines.push_back(":user" + std::to_string(i % NICKS) + "!u@host.example PRIVMSG #busy :line " +
                        std::to_string(i) + " about the release branch");
    feed_lines(state, e.serv, lines);
    if (with_hooks)
        remove_hooks();
    state.SetItemsProcessed(state.iterations());
}

// The machine is shared: the fastest of several runs is the figure that
// other load disturbs least.
double fastest(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

void BM_PrivmsgWithoutHooks(benchmark::State &state)
{
    run(state, false);
}
BENCHMARK(BM_PrivmsgWithoutHooks)
    ->Iterations(LINES)
    ->Unit(benchmark::kNanosecond)
    ->Repetitions(10)
    ->ComputeStatistics("min", fastest);

void BM_PrivmsgWithThousandUnrelatedHooks(benchmark::State &state)
{
    run(state, true);
}
BENCHMARK(BM_PrivmsgWithThousandUnrelatedHooks)
    ->Iterations(LINES)
    ->Unit(benchmark::kNanosecond)
    ->Repetitions(10)
    ->ComputeStatistics("min", fastest);

} // namespace
