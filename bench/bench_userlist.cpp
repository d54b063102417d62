// A NAMES burst into one channel: 10k, 50k and 100k nicks in random order,
// a twentieth of them operators and a tenth voiced. "Model" adds them
// straight to the user list between burst begin and end; "Lines" sends them
// as a server does, 353 lines of about 400 bytes and a closing 366, through
// the whole line handler. Aim: at most 50 ms for 50k, and at most 12 times
// the 10k time for 100k (the burst is sorted once, never shifted per nick).
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace
{

// The part of a 353 line before the names, and how long a line may grow.
const char NAMES_HEAD[] = ":irc.example.net 353 me = #big :";
constexpr std::size_t NAMES_LINE_MAX = 400;

session *big_channel()
{
    static session *chan = [] {
        char *dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_throttle = 0;
        prefs.irc_logging = 0;
        prefs.text_replay = 0;
        load_text_events();
        session *home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        server *serv = home->server;
        serv->sock = -1;
        serv->connected = TRUE;
        g_strlcpy(serv->nick, "me", sizeof serv->nick);
        session *c = new_ircwindow(serv, "#big", SESS_CHANNEL, 0);
        g_strlcpy(c->channel, "#big", sizeof c->channel);
        return c;
    }();
    return chan;
}

std::vector<std::string> names_items(int count)
{
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; i++) {
        const char *prefix = i % 20 == 0 ? "@" : i % 10 == 1 ? "+" : "";
        std::string item = prefix;
        item += "User";
        item += std::to_string(i * 7919 % 1000003);
        item += "_x";
        items.push_back(std::move(item));
    }
    std::shuffle(items.begin(), items.end(), std::mt19937(42));
    return items;
}

std::vector<std::string> names_lines(const std::vector<std::string> &items)
{
    std::vector<std::string> lines;
    std::string line = NAMES_HEAD;
    for (const std::string &item : items) {
        if (line.size() + item.size() + 1 > NAMES_LINE_MAX) {
            lines.push_back(line);
            line = NAMES_HEAD;
        }
        if (line.back() != ':')
            line += ' ';
        line += item;
    }
    lines.push_back(line);
    lines.emplace_back(":irc.example.net 366 me #big :End of /NAMES list.");
    return lines;
}

void report(benchmark::State &state, int nicks)
{
    session *chan = big_channel();
    if (chan->user_count != nicks)
        state.SkipWithError(("listed " + std::to_string(chan->user_count) + " nicks").c_str());
    state.SetItemsProcessed(state.iterations() * nicks);
}

void BM_NamesBurstModel(benchmark::State &state)
{
    session *chan = big_channel();
    const int nicks = static_cast<int>(state.range(0));
    const std::vector<std::string> items = names_items(nicks);
    for (auto _ : state) {
        state.PauseTiming();
        userlist_clear(chan);
        state.ResumeTiming();
        message_tags_data tags;
        userlist_burst_begin(chan);
        for (const std::string &item : items)
            userlist_add(chan, item.c_str(), nullptr, nullptr, nullptr, &tags);
        userlist_burst_end(chan);
    }
    report(state, nicks);
}
BENCHMARK(BM_NamesBurstModel)->Arg(10000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_NamesBurstLines(benchmark::State &state)
{
    session *chan = big_channel();
    server *serv = chan->server;
    const int nicks = static_cast<int>(state.range(0));
    const std::vector<std::string> lines = names_lines(names_items(nicks));
    std::vector<std::vector<char>> bufs;
    for (const std::string &l : lines)
        bufs.emplace_back(l.c_str(), l.c_str() + l.size() + 1);
    double adds = 0, ends = 0;
    for (auto _ : state) {
        state.PauseTiming();
        userlist_clear(chan);
        // As after the own join: the automatic reply is not printed.
        chan->ignore_names = TRUE;
        chan->end_of_names = FALSE;
        std::vector<std::vector<char>> work = bufs; // the handler may write into its line
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k + 1 < work.size(); k++)
            serv->p_inline(serv, work[k].data(), static_cast<int>(work[k].size() - 1));
        auto t1 = std::chrono::steady_clock::now();
        serv->p_inline(serv, work.back().data(), static_cast<int>(work.back().size() - 1));
        auto t2 = std::chrono::steady_clock::now();
        adds += std::chrono::duration<double, std::milli>(t1 - t0).count();
        ends += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    state.counters["adds_ms"] = adds / state.iterations();
    state.counters["end_ms"] = ends / state.iterations();
    report(state, nicks);
}
BENCHMARK(BM_NamesBurstLines)->Arg(10000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
