// The conversation view's buffer model on a channel that scrolls all day:
// appending with the nick column and the scrollback limit, memory per line,
// wrapping a huge word, searching and walking the matches.
#include "textview/xtext-model.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

class fixed_metrics : public xtext::text_metrics
{
  public:
    fixed_metrics()
    {
        for (int s = 0; s < 4; ++s)
            for (int c = 32; c < 127; ++c)
                ascii[s][c] = 7 + (s & 1);
        space_width = 7;
    }

  protected:
    int measure(std::string_view, int) override { return 12; }
};

// About 80 bytes: a colour or two, bold, and now and then a non-ASCII word.
std::string message(int i)
{
    std::string s = "message number " + std::to_string(i) +
                    " with \x03"
                    "04some\x03 colour and \x02"
                    "bold\x02 text";
    if (i % 7 == 0)
        s += " caf\xc3\xa9";
    while (s.size() < 76)
        s += " pad";
    return s;
}

struct shown_buffer {
    fixed_metrics metrics;
    xtext::view_config config;
    std::unique_ptr<xtext::text_buffer> buf;
    explicit shown_buffer(int max_lines)
    {
        config.metrics = &metrics;
        config.max_lines = max_lines;
        config.max_indent = 120;
        buf = std::make_unique<xtext::text_buffer>(config);
        buf->time_stamps = true;
        config.stamp_width = 60;
        buf->rewrap(800); // shown, 800 px wide
    }
    void fill(int n)
    {
        for (int i = 0; i < n; ++i)
            buf->append_indent("<nick" + std::to_string(i % 13) + ">", message(i), 1700000000 + i);
    }
};

// The time of 100,000 appends to a buffer that keeps at most 100,000 lines.
void BM_Append100k(benchmark::State &state)
{
    for (auto _ : state) {
        shown_buffer b(100000);
        b.fill(100000);
        benchmark::DoNotOptimize(b.buf->line_count());
    }
    state.counters["per_line_ns"] =
        benchmark::Counter(100000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Append100k)->Unit(benchmark::kMillisecond)->Iterations(3);

// The cost of one append to a full buffer of N lines (each append also
// trims the oldest line): the same at 10k and 100k.
void BM_AppendAt(benchmark::State &state)
{
    shown_buffer b(static_cast<int>(state.range(0)));
    b.fill(static_cast<int>(state.range(0)));
    int i = 0;
    const std::string left = "<someone>";
    const std::string right = message(42);
    for (auto _ : state)
        b.buf->append_indent(left, right, 1700000000 + ++i);
}
BENCHMARK(BM_AppendAt)->Arg(10000)->Arg(100000);

long rss_bytes()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Memory growth per stored line against the text bytes it holds: the
// heap in use (exact) and the resident size (run this benchmark alone,
// --benchmark_filter=Memory, so no freed memory is reused).
void BM_MemoryPerLine(benchmark::State &state)
{
    for (auto _ : state) {
        const long before = rss_bytes();
        const std::size_t heap_before = mallinfo2().uordblks;
        shown_buffer b(0);
        b.fill(100000);
        const long after = rss_bytes();
        state.counters["heap_bytes_per_line"] = static_cast<double>(mallinfo2().uordblks - heap_before) / 100000.0;
        double text = 0;
        for (std::size_t i = 0; i < b.buf->size(); ++i)
            text += b.buf->at(i).len;
        state.counters["rss_per_100k_MB"] = (after - before) / 1e6;
        state.counters["bytes_per_line"] = static_cast<double>(after - before) / 100000.0;
        state.counters["text_bytes_per_line"] = text / 100000.0;
    }
}
BENCHMARK(BM_MemoryPerLine)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_WrapHugeWord(benchmark::State &state)
{
    fixed_metrics m;
    const std::string word(80000, 'x');
    std::vector<uint32_t> ends;
    for (auto _ : state) {
        xtext::wrap_text(word.data(), word.size(), 40, 40, 800, m, true, false, ends);
        benchmark::DoNotOptimize(ends.size());
    }
}
BENCHMARK(BM_WrapHugeWord)->Unit(benchmark::kMicrosecond);

// A new search over 100,000 lines (one pass), plain and case-folded.
void BM_Search100k(benchmark::State &state)
{
    shown_buffer b(0);
    b.fill(100000);
    int flip = 0;
    for (auto _ : state) {
        char *err = nullptr;
        // Alternating the pattern makes every call a new search.
        benchmark::DoNotOptimize(
            b.buf->search(++flip % 2 ? "NUMBER 4242" : "number 4243", static_cast<int>(state.range(0)), &err));
    }
}
BENCHMARK(BM_Search100k)->Arg(0)->Arg(xtext::SEARCH_MATCH_CASE)->Unit(benchmark::kMillisecond);

void BM_SearchNext(benchmark::State &state)
{
    shown_buffer b(0);
    b.fill(100000);
    char *err = nullptr;
    b.buf->search("number 1", 0, &err);
    for (auto _ : state)
        benchmark::DoNotOptimize(b.buf->search("number 1", 0, &err));
    state.counters["matched_lines"] = static_cast<double>(b.buf->match_entry_count());
}
BENCHMARK(BM_SearchNext);

// Display line -> entry at any scroll position (what each redraw asks).
void BM_LineLookup(benchmark::State &state)
{
    shown_buffer b(0);
    b.fill(static_cast<int>(state.range(0)));
    uint64_t line = 0;
    const uint64_t n = b.buf->line_count();
    for (auto _ : state) {
        std::size_t sub;
        benchmark::DoNotOptimize(b.buf->entry_at_line(line, &sub));
        line = (line + 7919) % n;
    }
}
BENCHMARK(BM_LineLookup)->Arg(1000)->Arg(100000);

// A width change rewraps the shown buffer: every line once.
void BM_Rewrap100k(benchmark::State &state)
{
    shown_buffer b(0);
    b.fill(100000);
    int w = 0;
    for (auto _ : state)
        b.buf->rewrap(++w % 2 ? 500 : 800);
}
BENCHMARK(BM_Rewrap100k)->Unit(benchmark::kMillisecond);

} // namespace
