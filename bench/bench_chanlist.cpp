// The channel list's model with 50,000 channels: storing the rows as 322
// replies arrive, and a filter change over all of them (simple, wildcard and
// regular-expression search, and the user-count range alone), and a sort.
// Aim: a filter change over 50k rows in at most 50 ms; arrival cheap enough
// that the window's share of a 50k burst stays well under 100 ms.
#include "dialogs/chanlist-model.h"

#include <benchmark/benchmark.h>

#include <glib.h>

#include <string>
#include <vector>

namespace
{

constexpr int ROWS = 50000;

struct sample {
    std::string channel, users, topic;
};

const std::vector<sample> &samples()
{
    static std::vector<sample> all = [] {
        std::vector<sample> v;
        GRand *r = g_rand_new_with_seed(7);
        for (int i = 0; i < ROWS; i++)
            v.push_back({"#chan" + std::to_string(i) + (i % 3 ? "-talk" : "-Help"),
                         std::to_string(g_rand_int_range(r, 1, 3000)),
                         "\x0304Welcome\x03 to channel " + std::to_string(i) +
                             " | rules: be nice, no spam | see https://example.org/wiki/page" + std::to_string(i)});
        g_rand_free(r);
        return v;
    }();
    return all;
}

void fill(chanlist_model &m)
{
    for (const sample &s : samples())
        m.add(s.channel, s.users, s.topic);
    m.flush();
}

void BM_ChanlistArrive50k(benchmark::State &state)
{
    for (auto _ : state) {
        chanlist_model m;
        fill(m);
        benchmark::DoNotOptimize(m.view().data());
    }
    state.SetItemsProcessed(state.iterations() * ROWS);
}
BENCHMARK(BM_ChanlistArrive50k)->Unit(benchmark::kMillisecond);

void BM_ChanlistFilter50k(benchmark::State &state)
{
    chanlist_model m;
    fill(m);
    chanlist_filter_settings f;
    f.type = int(state.range(0));
    f.find = f.type == CHANLIST_SIMPLE ? "help" : f.type == CHANLIST_WILDCARD ? "#chan1*-help" : "^#chan1[0-9]*-help$";
    if (state.range(1)) { // the range alone
        f.find.clear();
        f.min_users = 100;
        f.max_users = 2000;
    }
    m.set_filter(f);
    for (auto _ : state) {
        m.refilter();
        benchmark::DoNotOptimize(m.view().data());
    }
    state.counters["shown"] = double(m.view().size());
}
BENCHMARK(BM_ChanlistFilter50k)
    ->ArgsProduct({{CHANLIST_SIMPLE, CHANLIST_WILDCARD, CHANLIST_REGEX}, {0}})
    ->Args({CHANLIST_SIMPLE, 1})
    ->ArgNames({"type", "range"})
    ->Unit(benchmark::kMillisecond);

void BM_ChanlistSort50k(benchmark::State &state)
{
    chanlist_model m;
    fill(m);
    int column = 0;
    for (auto _ : state) {
        m.sort(column, column == CHANLIST_COL_USERS);
        column = (column + 1) % 3;
    }
}
BENCHMARK(BM_ChanlistSort50k)->Unit(benchmark::kMillisecond);

} // namespace
