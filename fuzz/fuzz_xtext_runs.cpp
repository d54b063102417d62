// The text view's model on arbitrary bytes: control-code runs cover exactly
// the drawable bytes, wrapping never splits or loses text, and stored lines
// stay within their limits through appends, trims, searches and copies.
#include "textview/xtext-model.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

class byte_metrics : public xtext::text_metrics
{
  public:
    byte_metrics()
    {
        for (int s = 0; s < 4; ++s)
            for (int c = 0; c < 128; ++c)
                ascii[s][c] = c < 32 ? 0 : 5 + s;
        space_width = 5;
    }

  protected:
    int measure(std::string_view ch, int) override { return static_cast<int>(ch.size()) * 4; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 1 << 14)
        return 0;
    const int flags = data[0];
    const int width = 20 + data[1] * 3;
    const std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);

    // Runs lie inside the text, in order, never overlapping.
    std::size_t last = 0;
    xtext::for_each_run(text.data(), text.size(), flags & 1,
                        [&](std::size_t off, std::size_t len, const xtext::format_state &st) {
                            if (off < last || off + len > text.size() || len == 0 || st.fg < 0 ||
                                st.fg >= xtext::COLOR_COUNT || st.bg < 0 || st.bg >= xtext::COLOR_COUNT)
                                abort();
                            last = off + len;
                        });
    std::vector<uint16_t> offs;
    if (text.size() < 60000) {
        const std::string plain = xtext::strip_codes(text.data(), text.size(), &offs);
        if (offs.size() != plain.size() + 1)
            abort();
    }

    byte_metrics m;
    std::vector<uint32_t> ends;
    xtext::wrap_text(text.data(), text.size(), flags & 0x10 ? 40 : 0, 10, width, m, flags & 2, flags & 1, ends);
    if (ends.empty() || ends.back() != text.size())
        abort();
    for (std::size_t i = 1; i < ends.size(); ++i)
        if (ends[i] <= ends[i - 1]) // every display line holds at least one byte
            abort();

    xtext::view_config config;
    config.metrics = &m;
    config.max_lines = 6;
    config.wordwrap = flags & 2;
    xtext::text_buffer buf(config);
    buf.rewrap(width + 40);
    const std::size_t tab = text.find('\t');
    xtext::print_text(buf, text, tab != std::string::npos, "[st] ", 1);
    buf.append_indent(text.substr(0, size / 3), text, 2);
    for (std::size_t i = 0; i < buf.size(); ++i)
        if (buf.at(i).len > xtext::MAX_LINE_BYTES || buf.at(i).indent < 0)
            abort();
    char *err = nullptr;
    const std::string pattern = text.substr(0, 3);
    buf.search(pattern.c_str(), flags & 0x1d, &err);
    g_free(err);
    err = nullptr;
    buf.set_selection({buf.first_id(), static_cast<std::size_t>(flags)}, {buf.end_id(), 9});
    (void)buf.selected_text(flags & 4, nullptr);
    buf.clear(flags & 0x20 ? -2 : 2);
    buf.search(nullptr, xtext::SEARCH_FOLLOW, &err);
    g_free(err);
    err = nullptr;
    buf.append(text, 3);
    return 0;
}
