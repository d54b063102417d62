// Tab completion in a 50k-user channel, as one key press costs it: a new
// completion of a two-letter prefix (a handful of matches, ordered by last
// talk), the next press of that cycle, and a one-letter prefix matching a
// twenty-sixth of the channel (all of them listed). Aim: at most 5 ms per
// press.
#include "base/lumenwick.h"
#include "base/tree.h"
#include "config/cfgfiles.h"
#include "input/completion.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <benchmark/benchmark.h>

#include <glib.h>

#include <random>
#include <string>

namespace
{

constexpr int CHANNEL_USERS = 50000;

session *big_channel()
{
    static session *chan = [] {
        char *dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        prefs.net_throttle = 0;
        prefs.irc_logging = 0;
        prefs.text_replay = 0;
        prefs.completion_sort = 1;
        load_text_events();
        session *home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        server *serv = home->server;
        serv->sock = -1;
        g_strlcpy(serv->nick, "me", sizeof serv->nick);
        session *c = new_ircwindow(serv, "#big", SESS_CHANNEL, 0);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> letter('a', 'z'), len(5, 12);
        userlist_burst_begin(c);
        for (int i = 0; i < CHANNEL_USERS; i++) {
            std::string nick;
            for (int n = len(rng); n > 0; n--)
                nick += static_cast<char>(letter(rng));
            nick += std::to_string(i);
            message_tags_data tags;
            userlist_add(c, nick.c_str(), nullptr, nullptr, nullptr, &tags);
        }
        userlist_burst_end(c);
        // Some have spoken: the sort by last talk has work to do.
        void **items = tree_make_list(c->users);
        for (int i = 0; i < tree_size(c->users); i += 7)
            static_cast<User *>(items[i])->lasttalk = 1000 + i;
        return c;
    }();
    return chan;
}

void BM_TabNewCompletion(benchmark::State &state)
{
    session *chan = big_channel();
    const completion_context ctx = completion_context_for(chan);
    for (auto _ : state) {
        completion_state cs;
        benchmark::DoNotOptimize(completion_run(cs, "qz", 2, false, ctx));
    }
}
BENCHMARK(BM_TabNewCompletion)->Unit(benchmark::kMillisecond);

void BM_TabNextInCycle(benchmark::State &state)
{
    session *chan = big_channel();
    const completion_context ctx = completion_context_for(chan);
    completion_state cs;
    completion_result r = completion_run(cs, "qz", 2, false, ctx);
    for (auto _ : state) {
        r = completion_run(cs, r.text, r.cursor, false, ctx);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_TabNextInCycle)->Unit(benchmark::kMillisecond);

void BM_TabListsTwoThousand(benchmark::State &state)
{
    session *chan = big_channel();
    const completion_context ctx = completion_context_for(chan);
    size_t listed = 0;
    for (auto _ : state) {
        completion_state cs;
        const completion_result r = completion_run(cs, "q", 1, false, ctx);
        listed = r.listing.size();
        benchmark::DoNotOptimize(r);
    }
    state.counters["lines"] = static_cast<double>(listed);
}
BENCHMARK(BM_TabListsTwoThousand)->Unit(benchmark::kMillisecond);

} // namespace
