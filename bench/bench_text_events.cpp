// Every shown line is formatted from its event's compiled text and written to
// the tab's log; both run once per line of a busy channel.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "net/server.h"
#include "output/log.h"
#include "output/text.h"
#include "session/session.h"

#include <benchmark/benchmark.h>

#include <glib.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

constexpr int EVENTS = 1000000;

// A channel tab without the window machinery: the record as the core sees
// it, on a server that has no network yet (its logs go to "NETWORK").
struct bench_channel {
    bench_channel()
    {
        dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
        set_xdir(dir);
        load_default_config();
        load_text_events();
        serv = static_cast<server *>(g_malloc0(sizeof(server)));
        sess = static_cast<session *>(g_malloc0(sizeof(session)));
        sess->server = serv;
        sess->type = SESS_CHANNEL;
        sess->log_fd = -1;
        memset(&sess->alert_balloon, SET_DEFAULT, 8);
        g_strlcpy(sess->channel, "#bench", sizeof sess->channel);
    }
    ~bench_channel()
    {
        log_close(sess);
        g_free(sess);
        g_free(serv);
        std::string cmd = std::string("rm -rf '") + dir + "'";
        if (system(cmd.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", dir);
        g_free(dir);
    }
    char *dir;
    server *serv;
    session *sess;
};

struct event_words {
    event_words()
    {
        for (char *&w : word)
            w = empty;
        word[0] = const_cast<char *>(te[XP_TE_CHANNEL_MESSAGE].name);
        word[1] = nick;
        word[2] = text.data();
        word[3] = mode;
    }
    char empty[1] = "";
    char nick[8] = "someone";
    char mode[2] = "@";
    // 80 bytes, as a typical chat line.
    std::string text = "so the build finally passes on the release branch, shipping it after lunch ok?!";
    char *word[PDIWORDS];
};

void BM_FormatChannelMessage(benchmark::State &state)
{
    bench_channel chan;
    event_words w;
    char out[TE_BUFFER_SIZE];
    for (auto _ : state) {
        format_event(chan.sess, XP_TE_CHANNEL_MESSAGE, w.word, out, sizeof out, 0);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatChannelMessage)->Iterations(EVENTS)->Unit(benchmark::kMillisecond);

void BM_FormatAndLogChannelMessage(benchmark::State &state)
{
    bench_channel chan;
    event_words w;
    char out[TE_BUFFER_SIZE];
    for (auto _ : state) {
        format_event(chan.sess, XP_TE_CHANNEL_MESSAGE, w.word, out, sizeof out, 0);
        log_write(chan.sess, out, 0);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatAndLogChannelMessage)->Iterations(EVENTS)->Unit(benchmark::kMillisecond);

} // namespace
