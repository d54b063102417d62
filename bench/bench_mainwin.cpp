// The main window with the real core on a display:
//  - Join50k: a channel of 50,000 users joined with its tab in front, sent as
//    a server does (353 lines, then 366), until the user list shows them
//    (the loop idle and the window drawn); the longest single main-loop
//    dispatch is reported as max_stall_ms.
//  - TabSwitch: bringing one of two tabs of 10,000 lines each to front and
//    drawing the window.
// Run: tests/gui/with-xvfb.sh build-bench/bench/bench_mainwin
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/proto-irc.h"
#include "mainwin/maingui.h"
#include "net/server.h"
#include "output/text.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace
{

using clock_type = std::chrono::steady_clock;

session *home = nullptr;

double ms_since(clock_type::time_point t0)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

// Runs the loop until nothing is pending; returns the longest iteration.
double pump()
{
    double longest = 0;
    while (g_main_context_pending(nullptr)) {
        const auto t0 = clock_type::now();
        g_main_context_iteration(nullptr, FALSE);
        longest = std::max(longest, ms_since(t0));
    }
    return longest;
}

void draw_window()
{
    GtkWidget *w = GTK_WIDGET(main_window());
    // Lay the window out now, as the frame clock would before painting.
    gtk_container_check_resize(GTK_CONTAINER(w));
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, gtk_widget_get_allocated_width(w),
                                                    gtk_widget_get_allocated_height(w));
    cairo_t *cr = cairo_create(s);
    gtk_widget_draw(w, cr);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

session *setup()
{
    if (home)
        return home;
    char *dir = g_dir_make_tmp("lwk-bench-XXXXXX", nullptr);
    set_xdir(dir);
    load_default_config();
    prefs.net_throttle = 0;
    prefs.irc_logging = 0;
    prefs.text_replay = 0;
    prefs.identd_server = 0;
    prefs.gui_tab_newtofront = 2;
    arg_skip_plugins = 1;
    fe_init();
    load_text_events();
    home = new_ircwindow(nullptr, "net", SESS_SERVER, 1);
    server *serv = home->server;
    serv->sock = -1;
    serv->connected = TRUE;
    g_strlcpy(serv->nick, "me", sizeof serv->nick);
    pump();
    return home;
}

std::vector<std::string> names_lines(const char *channel, int count)
{
    std::vector<std::string> items;
    for (int i = 0; i < count; i++) {
        const char *prefix = i % 20 == 0 ? "@" : i % 10 == 1 ? "+" : "";
        items.push_back(std::string(prefix) + "User" + std::to_string(i * 7919 % 1000003) + "_x");
    }
    std::shuffle(items.begin(), items.end(), std::mt19937(42));
    const std::string head = std::string(":irc.example.net 353 me = ") + channel + " :";
    std::vector<std::string> lines;
    std::string line = head;
    for (const std::string &item : items) {
        if (line.size() + item.size() + 1 > 400) {
            lines.push_back(line);
            line = head;
        }
        if (line.back() != ':')
            line += ' ';
        line += item;
    }
    lines.push_back(line);
    lines.push_back(std::string(":irc.example.net 366 me ") + channel + " :End of /NAMES list.");
    return lines;
}

void feed(server *serv, std::string line)
{
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back(0);
    serv->p_inline(serv, buf.data(), static_cast<int>(line.size()));
}

void BM_Join50k(benchmark::State &state)
{
    session *h = setup();
    server *serv = h->server;
    const int nicks = static_cast<int>(state.range(0));
    double stall = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string channel = "#big" + std::to_string(round++);
        const std::vector<std::string> lines = names_lines(channel.c_str(), nicks);
        feed(serv, ":me!u@h JOIN :" + channel);
        pump();
        session *chan = find_channel(serv, channel.c_str());
        mg_bring_tofront_sess(chan);
        pump();
        draw_window();
        // The lines arrive in socket reads of a few kilobytes: the loop
        // turns between them, as it does for a real server.
        state.ResumeTiming();
        const auto t0 = clock_type::now();
        double longest = 0;
        for (std::size_t k = 0; k < lines.size(); k++) {
            const auto r0 = clock_type::now();
            feed(serv, lines[k]);
            if (k % 10 == 9) {
                longest = std::max(longest, ms_since(r0));
                longest = std::max(longest, pump());
            }
        }
        longest = std::max(longest, pump());
        draw_window();
        state.SetIterationTime(ms_since(t0) / 1000.0);
        stall = std::max(stall, longest);
        if (chan->user_count < nicks) {
            state.SkipWithError(("listed " + std::to_string(chan->user_count)).c_str());
            break;
        }
        state.PauseTiming();
        session_free(chan);
        pump();
        state.ResumeTiming();
    }
    state.counters["max_stall_ms"] = stall;
}
BENCHMARK(BM_Join50k)->Arg(50000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TabSwitch(benchmark::State &state)
{
    session *h = setup();
    server *serv = h->server;
    const int lines = static_cast<int>(state.range(0));
    session *tabs[2];
    for (int t = 0; t < 2; t++) {
        const std::string channel = "#switch" + std::to_string(t);
        feed(serv, ":me!u@h JOIN :" + channel);
        tabs[t] = find_channel(serv, channel.c_str());
        for (int i = 0; i < lines; i++) {
            std::string text = "<nick" + std::to_string(i % 13) + ">\tline " + std::to_string(i) +
                               " with \00304colour\003 and \002bold\002 and enough words to wrap now and then";
            PrintTextTimeStamp(tabs[t], text.c_str(), 1700000000 + i);
        }
    }
    pump();
    int which = 0;
    for (auto _ : state) {
        const auto t0 = clock_type::now();
        mg_bring_tofront_sess(tabs[which]);
        pump();
        draw_window();
        state.SetIterationTime(ms_since(t0) / 1000.0);
        which ^= 1;
    }
}
BENCHMARK(BM_TabSwitch)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display: run through tests/gui/with-xvfb.sh\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
