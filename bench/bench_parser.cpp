// The receive path per server line: taking off the tags and splitting the
// words alone, then the whole line handler (plugins, dispatch, handlers)
// without any tab to show in, then with the tabs open so that every event is
// formatted and handed to a front end. A mix of the lines a busy network
// sends most: tagged PRIVMSG, JOIN and numerics.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "irc/proto-irc.h"
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

const std::vector<std::string> &typical_lines()
{
    static const std::vector<std::string> lines = {
        "@time=2023-11-14T22:13:20.123Z;account=alice;msgid=AB12cd34EF :alice!alice@host.example.net PRIVMSG "
        "#lumenwick :hello there, this is what a channel message usually looks like",
        ":bob!~bob@192.0.2.44 JOIN #lumenwick",
        "@time=2023-11-14T22:13:21.456Z;msgid=ZZ98 :carol!c@cloak/carol PRIVMSG #lumenwick :short one",
        ":irc.example.net 353 me = #lumenwick :@alice +bob carol dave eve mallory trent peggy victor",
        ":irc.example.net 372 me :- Welcome to the message of the day of this test network",
        "@time=2023-11-14T22:13:22.000Z;account=dave :dave!d@h PRIVMSG #lumenwick :\x01"
        "ACTION waves\x01",
        ":irc.example.net 005 me CHANTYPES=# PREFIX=(ov)@+ NETWORK=Test CASEMAPPING=rfc1459 :are supported",
        ":eve!e@h PART #lumenwick :see you",
    };
    return lines;
}

struct bench_env {
    char *dir;
    server *bare;  // a server without tabs: events have nowhere to go
    session *home; // a server tab and a channel: events are shown
};

bench_env &env()
{
    static bench_env e = [] {
        bench_env out{};
        out.dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
        set_xdir(out.dir);
        load_default_config();
        prefs.net_throttle = 0;
        prefs.irc_logging = 0;
        prefs.text_replay = 0;
        load_text_events();
        out.home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        new_ircwindow(out.home->server, "#lumenwick", SESS_CHANNEL, 0);
        out.bare = server_new();
        for (server *s : {out.bare, out.home->server}) {
            s->sock = -1;
            s->cap_server_time = s->cap_account_tag = TRUE;
            g_strlcpy(s->nick, "me", sizeof s->nick);
        }
        return out;
    }();
    return e;
}

// Feeds the mix round and round; the handler works on its own copy.
void feed(benchmark::State &state, server *serv)
{
    const auto &lines = typical_lines();
    std::vector<std::vector<char>> bufs;
    for (const std::string &l : lines)
        bufs.emplace_back(l.c_str(), l.c_str() + l.size() + 1);
    std::size_t i = 0;
    for (auto _ : state) {
        std::vector<char> &b = bufs[i];
        serv->p_inline(serv, b.data(), static_cast<int>(b.size() - 1));
        i = i + 1 == bufs.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ParseOnly(benchmark::State &state)
{
    server *serv = env().bare;
    const auto &lines = typical_lines();
    std::vector<char> line(LINE_BUFFER_SIZE + 1), work(LINE_BUFFER_SIZE + 1);
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string &l = lines[i];
        memcpy(line.data(), l.c_str(), l.size() + 1);
        char *body = line.data();
        message_tags_data tags;
        if (body[0] == '@') {
            char *space = strchr(body, ' ');
            *space = 0;
            handle_message_tags(serv, body + 1, &tags);
            body = space + 1;
        }
        split_server_line(body, work.data(), word, word_eol);
        benchmark::DoNotOptimize(word[2]);
        message_tags_data_free(&tags);
        i = i + 1 == lines.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseOnly)->Iterations(1000000);

// Parse and dispatch; the handlers find no tab, so nothing is formatted.
void BM_DispatchWithoutTabs(benchmark::State &state)
{
    feed(state, env().bare);
}
BENCHMARK(BM_DispatchWithoutTabs)->Iterations(1000000);

// Everything up to the front end: events formatted and shown (the text
// front end's output goes to /dev/null for the run).
void BM_DispatchIntoTabs(benchmark::State &state)
{
    server *serv = env().home->server;
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    feed(state, serv);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null_fd);
}
BENCHMARK(BM_DispatchIntoTabs)->Iterations(1000000);

} // namespace
