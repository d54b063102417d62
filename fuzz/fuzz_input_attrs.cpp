// The input line's formatting spans on arbitrary bytes: spans stay inside the
// text, one kind never overlaps itself, colours index the text view's
// array, and every byte looks the way the text view will draw it once the
// line is sent (same bold, italic, underline, strike-through and colours;
// code bytes hidden exactly where the text view skips them).
#include "input/input-attrs.h"
#include "textview/xtext-model.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

struct shown {
    bool hidden = false, bold = false, italic = false, underline = false, strike = false;
    int fg = xtext::COLOR_FG, bg = xtext::COLOR_BG;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 14)
        return 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    const std::vector<input_attr> spans = input_attrs_build(text);

    std::vector<shown> bytes(text.size());
    uint32_t last_start = 0;
    uint32_t kind_end[7] = {};
    for (const input_attr &a : spans) {
        const auto k = static_cast<std::size_t>(a.kind);
        if (a.start >= a.end || a.end > text.size() || a.start < last_start)
            abort();
        // Hidden spans are merged, so two of them never even touch.
        if (a.start < kind_end[k] || (a.kind == input_attr_kind::hidden && kind_end[k] && a.start == kind_end[k]))
            abort();
        const bool colour = a.kind == input_attr_kind::foreground || a.kind == input_attr_kind::background;
        if (colour ? (a.color < 0 || a.color >= INPUT_ATTR_COLOR_COUNT || a.color == 99 || a.color == 100)
                   : a.color != -1)
            abort();
        last_start = a.start;
        kind_end[k] = a.end;
        for (uint32_t i = a.start; i < a.end; ++i) {
            shown &b = bytes[i];
            switch (a.kind) {
            case input_attr_kind::hidden:
                b.hidden = true;
                break;
            case input_attr_kind::bold:
                b.bold = true;
                break;
            case input_attr_kind::italic:
                b.italic = true;
                break;
            case input_attr_kind::underline:
                b.underline = true;
                break;
            case input_attr_kind::strikethrough:
                b.strike = true;
                break;
            case input_attr_kind::foreground:
                b.fg = a.color;
                break;
            case input_attr_kind::background:
                b.bg = a.color;
                break;
            }
        }
    }

    // The comparison with the text view leaves out what the two treat apart
    // on purpose: the line feed, the bell and the hidden-text code (shown in
    // the input line), and a comma ending the line (taken as the colour code
    // being typed).
    for (char c : text)
        if (c == '\n' || c == '\a' || c == '\b')
            return 0;
    if (!text.empty() && text.back() == ',')
        return 0;
    std::vector<bool> drawn(text.size(), false);
    xtext::for_each_run(
        text.data(), text.size(), true, [&](std::size_t off, std::size_t len, const xtext::format_state &st) {
            for (std::size_t i = off; i < off + len; ++i) {
                const shown &b = bytes[i];
                drawn[i] = true;
                if (b.hidden || b.bold != st.bold || b.italic != st.italic || b.underline != st.underline ||
                    b.strike != st.strike || b.fg != st.fg || b.bg != st.bg)
                    abort();
            }
        });
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!drawn[i] && !bytes[i].hidden)
            abort();
    return 0;
}
