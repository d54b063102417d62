// A busy channel: 100k PRIVMSGs from many nicks through the whole receive
// path — the line parser, the channel-message handler (user lookup, the
// highlight test against the own nick and the highlight lists), the text
// event, the log file and the text front end (its output to /dev/null).
// Once plain, once with the tags a modern server sends (time, account,
// msgid: the reply cache is filled), and once without scrollback.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include "feed_lines.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

constexpr int LINES = 100000;
constexpr int NICKS = 500;

struct channel_env {
    ~channel_env()
    {
        // The log of a run holds every line: not worth keeping.
        if (dir && system(("rm -rf '" + std::string(dir) + "'").c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", dir);
        g_free(dir);
    }
    char *dir = nullptr;
    server *serv = nullptr;
    session *chan = nullptr;
};

channel_env &env()
{
    static channel_env e;
    static bool ready = [] {
        channel_env &out = e;
        out.dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
        set_xdir(out.dir);
        load_default_config();
        prefs.net_throttle = 0;
        prefs.irc_logging = 1;
        g_strlcpy(prefs.irc_extra_hilight, "lumenwick, release*", sizeof prefs.irc_extra_hilight);
        g_strlcpy(prefs.irc_no_hilight, "*bot", sizeof prefs.irc_no_hilight);
        load_text_events();
        session *home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        out.serv = home->server;
        out.serv->sock = -1;
        out.serv->cap_server_time = out.serv->cap_account_tag = TRUE;
        g_strlcpy(out.serv->nick, "me", sizeof out.serv->nick);
        out.chan = new_ircwindow(out.serv, "#busy", SESS_CHANNEL, 0);
        for (int i = 0; i < NICKS; i++)
            userlist_add(out.chan, ("user" + std::to_string(i)).c_str(), nullptr, nullptr, nullptr, nullptr);
        return true;
    }();
    (void)ready;
    return e;
}

std::vector<std::string> privmsgs(bool tagged)
{
    static const char *const texts[] = {
        "so the build finally passes on the release branch, shipping it after lunch ok?!",
        "me: can you look at the log?",
        "short",
        "\002bold\002 and \0034colour\x03 in one line about lumenwick",
    };
    std::vector<std::string> out;
    for (int i = 0; i < LINES; i++) {
        std::string line;
        if (tagged)
            line = "@time=2024-05-01T10:00:00.000Z;account=acct" + std::to_string(i % NICKS) + ";msgid=id" +
                   std::to_string(i) + " ";
        line +=
            ":user" + std::to_string(i % NICKS) + "!u@host.example PRIVMSG #busy :" + texts[i % G_N_ELEMENTS(texts)];
        out.push_back(std::move(line));
    }
    return out;
}

void run(benchmark::State &state, bool tagged, bool scrollback = true)
{
    channel_env &e = env();
    const int replay = prefs.text_replay;
    prefs.text_replay = scrollback;
    const std::vector<std::string> lines = privmsgs(tagged);
    feed_lines(state, e.serv, lines);
    prefs.text_replay = replay;
    state.SetItemsProcessed(state.iterations());
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ChannelPrivmsg(benchmark::State &state)
{
    run(state, false);
}
BENCHMARK(BM_ChannelPrivmsg)->Iterations(LINES)->Unit(benchmark::kMillisecond);

void BM_ChannelPrivmsgTagged(benchmark::State &state)
{
    run(state, true);
}
BENCHMARK(BM_ChannelPrivmsgTagged)->Iterations(LINES)->Unit(benchmark::kMillisecond);

// The same without the scrollback file (one write per line to a descriptor
// kept open): what is left is the handlers, the event and the log.
void BM_ChannelPrivmsgWithoutScrollback(benchmark::State &state)
{
    run(state, false, false);
}
BENCHMARK(BM_ChannelPrivmsgWithoutScrollback)->Iterations(LINES)->Unit(benchmark::kMillisecond);

} // namespace
