// DCC: reading offers, and whole file transfers on 127.0.0.1 with the client
// at both ends (its own offers handed back to it as the peer's), so the
// figure is the core's cost per byte with sender and receiver in one loop.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "dcc/dcc-internal.h"
#include "dcc/dcc-offer.h"
#include "dcc/dcc.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <benchmark/benchmark.h>
#include <glib.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>

namespace
{

void BM_ParseOffer(benchmark::State &state)
{
    const std::string text = "SEND \"holiday photos 2024.tar\" 3232235521 50123 6442450944 17";
    for (auto _ : state) {
        auto r = dcc_parse_request(dcc_split_words(text));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_ParseOffer);

struct loopback {
    session *home = nullptr;
    server *serv = nullptr;
    int wire[2] = {-1, -1};
    std::string dir;

    loopback()
    {
        char *d = g_dir_make_tmp("lwk-bench-dcc-XXXXXX", nullptr);
        dir = d;
        g_free(d);
        set_xdir(const_cast<char *>(dir.c_str()));
        load_default_config();
        prefs.net_throttle = 0;
        prefs.irc_logging = 0;
        prefs.text_replay = 0;
        prefs.text_max_lines = 8;
        g_strlcpy(prefs.dcc_dir, (dir + "/dl").c_str(), sizeof prefs.dcc_dir);
        g_strlcpy(prefs.dcc_ip, "127.0.0.1", sizeof prefs.dcc_ip);
        prefs.dcc_auto_recv = 2;
        prefs.dcc_auto_resume = 0;
        prefs.dcc_blocksize = 102400;
        load_text_events();
        socketpair(AF_UNIX, SOCK_STREAM, 0, wire);
        fcntl(wire[1], F_SETFL, O_NONBLOCK);
        home = new_ircwindow(nullptr, const_cast<char *>("net"), SESS_SERVER, 0);
        serv = home->server;
        serv->sock = wire[0];
        serv->connected = TRUE;
        g_strlcpy(serv->nick, "me", sizeof serv->nick);
    }

    // The client's CTCP lines handed back to it as bob's.
    void reflect()
    {
        std::string out;
        char buf[8192];
        ssize_t n;
        while ((n = read(wire[1], buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            const auto at = line.find(":\x01");
            if (line.rfind("PRIVMSG ", 0) != 0 || at == std::string::npos)
                continue;
            std::string ctcp = line.substr(at + 2);
            while (!ctcp.empty() && (ctcp.back() == '\r' || ctcp.back() == '\x01'))
                ctcp.pop_back();
            std::string in = ":bob!u@h PRIVMSG me :\x01" + ctcp + "\x01";
            serv->p_inline(serv, in.data(), static_cast<int>(in.size()));
        }
    }
};

void BM_LoopbackTransfer(benchmark::State &state)
{
    static loopback lb;
    const auto bytes = static_cast<std::size_t>(state.range(0)) * 1024 * 1024;
    const std::string src = lb.dir + "/src.bin";
    {
        std::string data(bytes, '\0');
        for (std::size_t i = 0; i < bytes; i += 4096)
            data[i] = static_cast<char>(i >> 12);
        g_file_set_contents(src.c_str(), data.data(), static_cast<gssize>(data.size()), nullptr);
    }
    for (auto _ : state) {
        dcc_send(lb.home, "bob", src.c_str(), 0, 0);
        lb.reflect();
        DCC *sender = find_dcc("bob", "src.bin", DCC_KIND_SEND);
        DCC *receiver = find_dcc("bob", "src.bin", DCC_KIND_RECV);
        while (sender && receiver && !(sender->status == STAT_DONE && receiver->status == STAT_DONE) &&
               !is_dcc_completed(receiver))
            g_main_context_iteration(nullptr, TRUE);
        if (!receiver || receiver->status != STAT_DONE) {
            state.SkipWithError("transfer did not complete");
            break;
        }
        state.PauseTiming();
        unlink(receiver->dest_path.c_str());
        while (dcc_list)
            dcc_close_record(static_cast<DCC *>(dcc_list->data), STAT_DONE, true);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_LoopbackTransfer)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
