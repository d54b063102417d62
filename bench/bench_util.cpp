// Hot string helpers: every incoming line is case-folded, matched against
// ignore masks and stripped of colours, and user lists live in the sorted tree.
#include "base/tree.h"
#include "base/util.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

void BM_RfcCasecmp(benchmark::State &state)
{
    const char *a = "SomeLongNick[away]^";
    const char *b = "somelongnick{AWAY}~";
    for (auto _ : state)
        benchmark::DoNotOptimize(rfc_casecmp(a, b));
}
BENCHMARK(BM_RfcCasecmp);

void BM_MatchHostmask(benchmark::State &state)
{
    const char *mask = "*!*ident@*.users.example.net";
    const char *host = "SomeNick!~ident@host-10-20-30-40.dyn.users.example.net";
    for (auto _ : state)
        benchmark::DoNotOptimize(match(mask, host));
}
BENCHMARK(BM_MatchHostmask);

void BM_MatchPathological(benchmark::State &state)
{
    // Many stars against a text that almost matches: the backtracking worst case.
    const std::string pattern = "*a*a*a*a*a*a*a*a*b";
    const std::string text(static_cast<std::size_t>(state.range(0)), 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(match(pattern.c_str(), text.c_str()));
}
BENCHMARK(BM_MatchPathological)->Arg(64)->Arg(512);

void BM_StripColor(benchmark::State &state)
{
    const std::string line = "\x03"
                             "04,12hello\x02 world\x0f \x1funder\x1f \x03"
                             "3green text and some more words to strip";
    std::vector<char> out(line.size() + 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(strip_color2(line.c_str(), static_cast<int>(line.size()), out.data(), STRIP_ALL));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_StripColor);

int compare_nicks(const void *a, const void *b, void *)
{
    return rfc_casecmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

void BM_TreeInsertNicks(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> nicks;
    for (int i = 0; i < n; i++)
        nicks.push_back("nick" + std::to_string((i * 7919) % n));
    for (auto _ : state) {
        tree *t = tree_new(compare_nicks, nullptr);
        for (auto &nick : nicks)
            tree_insert(t, nick.data());
        benchmark::DoNotOptimize(tree_size(t));
        tree_destroy(t);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_TreeInsertNicks)->Arg(2000)->Arg(20000);

} // namespace
