// What the input line shows for the formatting codes typed into it: spans of
// bold, italic, underline, strike-through and colour, and the code bytes
// themselves, which are drawn with no width. Toolkit-free, so it is tested
// and fuzzed without a display; spell-entry.cpp turns the spans into Pango
// attributes.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>
#include <vector>

enum class input_attr_kind : uint8_t { hidden, bold, italic, underline, strikethrough, foreground, background };

// Index into the text view's colour array (0..98 the colour codes, 32..98
// the fixed table there) used for the text's own colours, which reverse
// video swaps in.
constexpr int INPUT_ATTR_DEFAULT_FG = 101;
constexpr int INPUT_ATTR_DEFAULT_BG = 102;
// Entries in the text view's colour array; every index a span names is below.
constexpr int INPUT_ATTR_COLOR_COUNT = 104;

struct input_attr {
    input_attr_kind kind;
    uint32_t start; // byte offsets into the text, end exclusive, never empty
    uint32_t end;
    int color = -1; // foreground and background spans only

    bool operator==(const input_attr &) const = default;
};

std::ostream &operator<<(std::ostream &os, const input_attr &a);

// The spans for `text`, ordered by start. Colours at their defaults produce no
// span, so plain text gives only the hidden spans of its codes. Spans of one
// kind never overlap; hidden spans are merged when adjacent.
std::vector<input_attr> input_attrs_build(std::string_view text);
