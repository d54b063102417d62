// The server reader's byte path over one million IRC lines: cutting the
// stream into lines in 2048-byte reads, then bringing each line to UTF-8,
// as for a busy network's burst after joining many channels.
#include "base/linesplit.h"

#include <benchmark/benchmark.h>

#include <glib.h>

#include <string>

namespace
{

constexpr int LINE_COUNT = 1000000;
constexpr std::size_t READ_SIZE = 2048;

// Typical traffic: mostly ASCII, with some accented text.
std::string make_stream(bool latin1)
{
    const std::string accented = latin1 ? "caf\xe9 cr\xe8me br\xfbl\xe9"
                                          "e"
                                        : "caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
                                          "e";
    const std::string lines[] = {
        ":alice!~alice@host-10-20-30-40.dyn.example.net PRIVMSG #lumenwick :has anyone tried the new build yet?\r\n",
        ":bob!bob@users.example.org PRIVMSG #lumenwick :" + accented + " for dessert\r\n",
        ":irc.example.net 353 me = #lumenwick :@alice +bob carol dave eve mallory trent peggy victor\r\n",
        ":carol!c@192.0.2.9 JOIN #lumenwick * :Carol Example\r\n",
    };
    std::string stream;
    stream.reserve(LINE_COUNT * 90);
    for (int i = 0; i < LINE_COUNT; i++)
        stream += lines[i % 4];
    return stream;
}

struct reader {
    char buffer[LINESPLIT_MAX_LINE + 1];
    int length = 0;
    bool overflowed = false;
    const char *encoding;
    GIConv decoder;
    std::string scratch;
    std::size_t converted = 0;

    static bool sink(char *line, int len, void *self)
    {
        auto *r = static_cast<reader *>(self);
        int out_len;
        char *text = linesplit_to_utf8(line, len, r->encoding, r->decoder, r->scratch, &out_len);
        benchmark::DoNotOptimize(text);
        r->converted += static_cast<std::size_t>(out_len);
        return true;
    }
};

void run(benchmark::State &state, const char *encoding)
{
    const bool utf8 = std::string(encoding) == "UTF-8";
    const std::string stream = make_stream(!utf8);
    reader r;
    r.encoding = encoding;
    r.decoder = utf8 ? reinterpret_cast<GIConv>(-1) : g_iconv_open("UTF-8", encoding);
    const line_assembly line{r.buffer, &r.length, &r.overflowed};
    for (auto _ : state) {
        for (std::size_t i = 0; i < stream.size(); i += READ_SIZE) {
            const std::size_t n = stream.size() - i < READ_SIZE ? stream.size() - i : READ_SIZE;
            linesplit_feed(line, stream.data() + i, n, reader::sink, &r);
        }
    }
    benchmark::DoNotOptimize(r.converted);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * LINE_COUNT, benchmark::Counter::kIsRate);
    if (!utf8)
        g_iconv_close(r.decoder);
}

void BM_ReadLinesUtf8(benchmark::State &state)
{
    run(state, "UTF-8");
}
BENCHMARK(BM_ReadLinesUtf8)->Unit(benchmark::kMillisecond);

void BM_ReadLinesLatin1(benchmark::State &state)
{
    run(state, "ISO-8859-1");
}
BENCHMARK(BM_ReadLinesLatin1)->Unit(benchmark::kMillisecond);

} // namespace
