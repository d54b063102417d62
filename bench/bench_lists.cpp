// URL recognition on hostile 8 KB lines, and the cost of a long ignore list
// on the receive path: 100k channel messages through the whole inbound path
// with no ignores, then with 1,000 masks of the usual shapes (none of which
// matches, so every line still reaches the text view).
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "irc/userlist.h"
#include "lists/ignore.h"
#include "net/server.h"
#include "output/text.h"
#include "output/url.h"
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

constexpr std::size_t LINE = 8192;
constexpr int LINES = 100000;
constexpr int NICKS = 500;

std::string repeat(const std::string &unit, std::size_t size)
{
    std::string out;
    while (out.size() + unit.size() <= size)
        out += unit;
    return out;
}

// Shapes that make backtracking matchers blow up, and one of real URLs.
std::string hostile(int shape)
{
    std::string body;
    switch (shape) {
    case 0:
        body = "http://x.example/" + repeat("(a", LINE - 40);
        break; // unclosed parentheses
    case 1:
        body = "http://" + repeat("a.", LINE - 40) + "_";
        break; // endless labels
    case 2:
        body = repeat("://", LINE - 40);
        break; // separators, no scheme
    case 3:
        body = repeat("http://http", LINE - 40);
        break; // schemes without hosts
    case 4:
        body = "http://[" + repeat(":", LINE - 40);
        break; // an endless IPv6 host
    case 5:
        body = repeat("http://a.example/b ", LINE - 40);
        break; // 430 real URLs
    default:
        body = repeat("http://x.example/.,?!]", LINE - 40);
        break; // punctuation to trim
    }
    return ":n!u@h PRIVMSG #c :" + body;
}

void set_up_core()
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
        return true;
    }();
    (void)ready;
}

void BM_UrlCheckLineHostile(benchmark::State &state)
{
    set_up_core();
    prefs.url_logging = 0;
    prefs.url_grabber = 1;
    prefs.url_grabber_limit = 100;
    const std::string line = hostile(static_cast<int>(state.range(0)));
    for (auto _ : state)
        url_check_line(line.c_str());
    url_clear();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_UrlCheckLineHostile)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

void BM_UrlCheckWordHostile(benchmark::State &state)
{
    set_up_core();
    const std::string line = hostile(static_cast<int>(state.range(0)));
    const std::string word = line.substr(line.find(" :") + 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(url_check_word(word.c_str()));
}
BENCHMARK(BM_UrlCheckWordHostile)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

struct channel_env {
    server *serv = nullptr;
    session *chan = nullptr;
};

channel_env &env()
{
    static channel_env e;
    static bool ready = [] {
        set_up_core();
        session *home = new_ircwindow(nullptr, "net", SESS_SERVER, 0);
        e.serv = home->server;
        e.serv->sock = -1;
        g_strlcpy(e.serv->nick, "me", sizeof e.serv->nick);
        e.chan = new_ircwindow(e.serv, "#busy", SESS_CHANNEL, 0);
        for (int i = 0; i < NICKS; i++)
            userlist_add(e.chan, ("user" + std::to_string(i)).c_str(), nullptr, nullptr, nullptr, nullptr);
        return true;
    }();
    (void)ready;
    return e;
}

// 1,000 masks of the shapes the client makes and people type: hosts (the
// flood guard, "*!*@host"), nicks (/IGNORE nick), whole domains, and 1% with
// wildcards anywhere.
void fill_ignores(int count)
{
    ignore_clear();
    for (int i = 0; i < count; i++) {
        std::string mask;
        const int shape = i % 100;
        if (shape < 50)
            mask = "*!*@spam" + std::to_string(i) + ".example.net";
        else if (shape < 90)
            mask = "spammer" + std::to_string(i) + "!*@*";
        else if (shape < 99)
            mask = "*!*@*.bad" + std::to_string(i) + ".example";
        else
            mask = "*bot" + std::to_string(i) + "*!*@*";
        ignore_add(mask.c_str(), IG_CHAN | IG_PRIV | IG_NOTI | IG_CTCP, true);
    }
}

void BM_InboundWithIgnores(benchmark::State &state)
{
    channel_env &e = env();
    fill_ignores(static_cast<int>(state.range(0)));
    prefs.url_grabber = 1;
    std::vector<std::string> lines;
    for (int i = 0; i < LINES; i++)
        lines.push_back(":user" + std::to_string(i % NICKS) + "!u" + std::to_string(i % 7) + "@host" +
                        std::to_string(i % 50) +
                        ".users.example.org PRIVMSG #busy :the build passed on release, "
                        "see https://ci.example.org/job/" +
                        std::to_string(i % 100));
    feed_lines(state, e.serv, lines);
    ignore_clear();
    url_clear();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InboundWithIgnores)
    ->Args({0, 0})
    ->Args({1000, 0})
    ->Args({0, 1})
    ->Args({1000, 1})
    ->Iterations(LINES)
    ->Unit(benchmark::kMillisecond);

// Every sender new, so the masks themselves are tried each time.
void BM_IgnoreCheck1000(benchmark::State &state)
{
    set_up_core();
    fill_ignores(1000);
    std::vector<std::string> senders;
    for (int i = 0; i < 100000; i++)
        senders.push_back("user" + std::to_string(i % NICKS) + "!u@host" + std::to_string(i) + ".example.org");
    std::size_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ignore_check(senders[n].c_str(), IG_CHAN));
        n = n + 1 == senders.size() ? 0 : n + 1;
    }
    ignore_clear();
}
BENCHMARK(BM_IgnoreCheck1000);

} // namespace
