// What the input line shows for typed formatting codes: which bytes are
// hidden and which spans get bold, italic, underline, strike-through and
// colours (as indexes into the text view's colour array).
#include "input/input-attrs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using K = input_attr_kind;

input_attr hidden(uint32_t s, uint32_t e)
{
    return {K::hidden, s, e};
}
input_attr span(K k, uint32_t s, uint32_t e)
{
    return {k, s, e};
}
input_attr fg(uint32_t s, uint32_t e, int c)
{
    return {K::foreground, s, e, c};
}
input_attr bg(uint32_t s, uint32_t e, int c)
{
    return {K::background, s, e, c};
}

std::vector<input_attr> of_kind(const std::vector<input_attr> &all, K kind)
{
    std::vector<input_attr> out;
    for (const input_attr &a : all)
        if (a.kind == kind)
            out.push_back(a);
    return out;
}

// The spans but the hidden ones that cover byte `i`.
std::vector<input_attr> at(const std::vector<input_attr> &all, uint32_t i)
{
    std::vector<input_attr> out;
    for (const input_attr &a : all)
        if (a.kind != K::hidden && a.start <= i && i < a.end)
            out.push_back(a);
    return out;
}

TEST(InputAttrs, NestedTogglesEndWhereTheirOwnCodeComesAgain)
{
    // \002 a \035 b \002 c \035 d : bold over "a b", italic over "b c".
    const std::string text = "\002a\035b\002c\035d";
    EXPECT_EQ(input_attrs_build(text), (std::vector<input_attr>{hidden(0, 1), span(K::bold, 1, 5), hidden(2, 3),
                                                                span(K::italic, 3, 7), hidden(4, 5), hidden(6, 7)}));
    // Underline and strike-through run to the end of the text when left open.
    EXPECT_EQ(input_attrs_build("x\037\036yz"),
              (std::vector<input_attr>{hidden(1, 3), span(K::underline, 2, 5), span(K::strikethrough, 3, 5)}));
}

TEST(InputAttrs, ColourCodeWithBackgroundHidesCodeDigitsAndComma)
{
    EXPECT_EQ(input_attrs_build("\00304,08word"), (std::vector<input_attr>{hidden(0, 6), fg(6, 10, 4), bg(6, 10, 8)}));
    // A background alone keeps the foreground; 99 is the text's own colour.
    EXPECT_EQ(input_attrs_build("\0034a\003,2b\00399c"),
              (std::vector<input_attr>{hidden(0, 2), fg(2, 10, 4), hidden(3, 6), bg(6, 11, 2), hidden(7, 10)}));
    // The code with no digits ends both colours.
    EXPECT_EQ(input_attrs_build("\0031,2a\003b"),
              (std::vector<input_attr>{hidden(0, 4), fg(4, 6, 1), bg(4, 6, 2), hidden(5, 6)}));
}

TEST(InputAttrs, ColourCodeStopsWhereTheTextViewStopsReadingIt)
{
    // A third digit is text.
    EXPECT_EQ(input_attrs_build("\003123"), (std::vector<input_attr>{hidden(0, 3), fg(3, 4, 12)}));
    // A comma not followed by a digit is text...
    EXPECT_EQ(input_attrs_build("\0031,x"), (std::vector<input_attr>{hidden(0, 2), fg(2, 4, 1)}));
    // ...but a comma at the end of the line is the code being typed.
    EXPECT_EQ(input_attrs_build("\0031,"), (std::vector<input_attr>{hidden(0, 3)}));
    // The line ending inside the code: the colour parsed so far applies
    // from there on (nothing is left to colour yet).
    EXPECT_EQ(input_attrs_build("\0030"), (std::vector<input_attr>{hidden(0, 2)}));
}

TEST(InputAttrs, CodesAboveThirtyOneNameTheTextViewsFixedColoursNotInterfaceColours)
{
    // 34 and 35 are text colours of the interface in the palette's own
    // numbering; as colour codes they are entries of the fixed table, which
    // the text view's array holds at the same index.
    const auto spans = input_attrs_build("\00334a\00335,98b\00341c");
    EXPECT_EQ(of_kind(spans, K::foreground), (std::vector<input_attr>{fg(3, 10, 34), fg(10, 14, 35), fg(14, 15, 41)}));
    EXPECT_EQ(of_kind(spans, K::background), (std::vector<input_attr>{bg(10, 15, 98)}));
}

TEST(InputAttrs, ReverseSwapsColoursAndResetOrLineFeedEndsEverything)
{
    // Alone: the text's background colour on its foreground colour.
    EXPECT_EQ(input_attrs_build("\026x"), (std::vector<input_attr>{hidden(0, 1), fg(1, 2, INPUT_ATTR_DEFAULT_BG),
                                                                   bg(1, 2, INPUT_ATTR_DEFAULT_FG)}));
    // Over colours it swaps them; a second one swaps back.
    EXPECT_EQ(input_attrs_build("\0034,8a\026b\026c"),
              (std::vector<input_attr>{hidden(0, 4), fg(4, 6, 4), bg(4, 6, 8), hidden(5, 6), fg(6, 8, 8), bg(6, 8, 4),
                                       hidden(7, 8), fg(8, 9, 4), bg(8, 9, 8)}));
    // Everything applies to "a", nothing to "b".
    const auto reset = input_attrs_build("\002\037\035\036\0034,8\026a\017b");
    EXPECT_EQ(at(reset, 9),
              (std::vector<input_attr>{span(K::bold, 1, 11), span(K::underline, 2, 11), span(K::italic, 3, 11),
                                       span(K::strikethrough, 4, 11), fg(9, 11, 8), bg(9, 11, 4)}));
    EXPECT_EQ(at(reset, 11), (std::vector<input_attr>{}));
    EXPECT_EQ(of_kind(reset, K::hidden), (std::vector<input_attr>{hidden(0, 9), hidden(10, 11)}));
    const auto feed = input_attrs_build("\002\0035a\nb");
    EXPECT_EQ(at(feed, 3).size(), 2u);
    EXPECT_EQ(at(feed, 5), (std::vector<input_attr>{}));
}

TEST(InputAttrs, HiddenByteMarksOnlyItself)
{
    EXPECT_EQ(input_attrs_build("a\010b"), (std::vector<input_attr>{hidden(1, 2)}));
    EXPECT_TRUE(input_attrs_build("plain text, 12,3").empty());
}

} // namespace
