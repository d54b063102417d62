// The text view's buffer model without a display: formatting runs, byte
// limits, wrapping, selection, search, marker and the scrollback limit.
#include "textview/xtext-model.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace xtext;

namespace
{

// Every printable ASCII character is 6 px (7 in bold); other characters 6,
// CJK 12.
class fixed_metrics : public text_metrics
{
  public:
    fixed_metrics()
    {
        for (int s = 0; s < 4; ++s)
            for (int c = 32; c < 127; ++c)
                ascii[s][c] = s & 1 ? 7 : 6;
        space_width = 6;
    }

  protected:
    int measure(std::string_view ch, int) override
    {
        const gunichar c = g_utf8_get_char_validated(ch.data(), static_cast<gssize>(ch.size()));
        return c >= 0x2E80 && c < 0xA000 ? 12 : 6;
    }
};

struct run {
    std::string text;
    int fg, bg;
    bool bold;
};

std::vector<run> runs(const std::string &s, bool ignore_hidden = false)
{
    std::vector<run> out;
    for_each_run(s.data(), s.size(), ignore_hidden, [&](std::size_t off, std::size_t len, const format_state &st) {
        out.push_back({s.substr(off, len), st.fg, st.bg, st.bold});
    });
    return out;
}

class Model : public ::testing::Test
{
  protected:
    fixed_metrics metrics;
    view_config config;
    void SetUp() override
    {
        config.metrics = &metrics;
        config.max_indent = 120;
    }
    std::vector<std::string> lines(const text_buffer &b)
    {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < b.size(); ++i)
            out.emplace_back(b.at(i).view());
        return out;
    }
};

TEST(ControlCodes, ColourSequencesTakeAtMostTwoDigitsAndCommaOnlyBeforeADigit)
{
    auto r = runs("\x03"
                  "12,4x");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "x");
    EXPECT_EQ(r[0].fg, 12);
    EXPECT_EQ(r[0].bg, 4);

    r = runs("\x03"
             ",4x"); // background only
    EXPECT_EQ(r[0].fg, COLOR_FG);
    EXPECT_EQ(r[0].bg, 4);

    r = runs("\x03"
             "1,x"); // the comma is text
    EXPECT_EQ(r[0].text, ",x");
    EXPECT_EQ(r[0].fg, 1);
    EXPECT_EQ(r[0].bg, COLOR_BG);

    r = runs("\x03"
             "123"); // a third digit is text
    EXPECT_EQ(r[0].text, "3");
    EXPECT_EQ(r[0].fg, 12);

    r = runs("\x03"
             "5,6a\x03"
             "99b\x03"
             "c");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1].fg, COLOR_FG); // 99: default foreground, background kept
    EXPECT_EQ(r[1].bg, 6);
    EXPECT_EQ(r[2].bg, COLOR_BG); // bare colour byte: both reset
    EXPECT_EQ(r[2].fg, COLOR_FG);

    r = runs("\x03"
             "4,12x,5y"); // a comma after the background is text
    EXPECT_EQ(r[0].text, "x,5y");
}

TEST(ControlCodes, AttributesReverseResetHiddenAndStrippedOffsets)
{
    auto r = runs("\x02"
                  "b\x16"
                  "r\x0f"
                  "n");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_TRUE(r[0].bold);
    EXPECT_EQ(r[1].fg, COLOR_BG); // reverse swaps the indices
    EXPECT_EQ(r[1].bg, COLOR_FG);
    EXPECT_FALSE(r[2].bold);
    EXPECT_EQ(r[2].fg, COLOR_FG);

    EXPECT_EQ(runs("a\x08secret\x08z").size(), 2u);
    EXPECT_EQ(runs("a\x08secret\x08z", true).size(), 3u); // ignore-hidden shows it

    std::vector<uint16_t> offs;
    const std::string s = "\x02"
                          "ab\x03"
                          "04,05cd\x07";
    EXPECT_EQ(strip_codes(s.data(), s.size(), &offs), "abcd");
    EXPECT_EQ(offs, (std::vector<uint16_t>{1, 2, 9, 10, 12}));
}

// Walks `s` the way the view draws it with the link [from, to) under the
// pointer: the underline state before each drawn character.
std::string underlined(const std::string &s, std::size_t from, std::size_t to)
{
    link_span link{from, to, false};
    format_state st;
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (std::size_t n = apply_control(s.data(), s.size(), i, st, false, link)) {
            i += n;
            continue;
        }
        link.settle(i, st);
        out += st.underline ? '_' : '.';
        ++i;
    }
    return out;
}

TEST(ControlCodes, ResetInsideTheHoveredLinkKeepsUnderlineUntilTheLinkEnds)
{
    // "a" + underlined "http://x" with a reset in its middle + " b".
    const std::string s = "a \x1fhttp\x0f://x b";
    EXPECT_EQ(underlined(s, 0, 0), "..____......");
    // Hovered: the reset at offset 7 waits for the end of the link (12), and
    // the colours it resets are reset at once.
    EXPECT_EQ(underlined(s, 3, 12), "..________..");
    const std::string coloured = "\x03"
                                 "04\x1f"
                                 "ab\x0f"
                                 "cd";
    link_span link{0, 9, false};
    format_state st;
    for (std::size_t i = 0; i < 7;)
        i += std::max<std::size_t>(1, apply_control(coloured.data(), coloured.size(), i, st, false, link));
    EXPECT_EQ(st.fg, COLOR_FG);
    EXPECT_TRUE(st.underline);
    // Hidden text is not held back: the text under the pointer must not move.
    format_state hidden;
    hidden.hidden = true;
    link_span around{0, 9, false};
    apply_control("\x0f", 1, 0, hidden, false, around);
    EXPECT_FALSE(hidden.hidden);
}

TEST_F(Model, LongLinesAndLeftPartsAreCutAtCharacterBoundaries)
{
    text_buffer b(config);
    std::string two_byte;
    while (two_byte.size() < 5000)
        two_byte += "\xc3\xa9"; // é
    b.append(two_byte, 1);
    const entry &e = b.at(0);
    EXPECT_EQ(e.len, 4094u);
    EXPECT_TRUE(g_utf8_validate(e.text, e.len, nullptr));

    // A left part that alone is longer than a line still leaves a valid,
    // bounded line (the scratch area holds 4096 bytes).
    b.append_indent(two_byte, two_byte, 1);
    const entry &f = b.at(1);
    EXPECT_LE(f.len, MAX_LINE_BYTES);
    EXPECT_LE(f.left_len, static_cast<int>(MAX_LEFT_BYTES));
    EXPECT_TRUE(g_utf8_validate(f.text, f.len, nullptr));
    EXPECT_GE(f.indent, 0);

    b.append("tab\there\n", 1);
    EXPECT_EQ(lines(b).back(), "tab here");
}

TEST_F(Model, AutoIndentGrowsInSpaceStepsUpToTheCapAndWideNicksNeverGoNegative)
{
    text_buffer b(config);
    b.append_indent("<ab>", "hi", 1); // 24 px + 2 gap -> 30 (space multiple)
    EXPECT_EQ(b.indent(), 30);
    EXPECT_EQ(b.at(0).indent, 30 - 24);
    b.append_indent("<abcdefghijklmnopqrstuvwxyz>", "hi", 1); // 168 px: capped at 120
    EXPECT_EQ(b.indent(), 120);
    EXPECT_EQ(b.at(0).indent, 120 - 24); // older lines follow the separator
    EXPECT_EQ(b.at(1).indent, 2);        // clamped to the margin, not 120 - 168

    config.auto_indent = false;
    text_buffer fixed(config);
    fixed.append_indent("<abcdefghijklmnopqrstuvwxyz>", "hi", 1);
    EXPECT_EQ(fixed.indent(), 12);
    EXPECT_EQ(fixed.at(0).indent, 2);
}

TEST_F(Model, WrapBreaksAfterSpacesButCutsLongWordsAndWideCharacters)
{
    std::vector<uint32_t> ends;
    const std::string words = "aaaa bbbb cccc"; // 6 px each, 60 px room: 10 characters
    wrap_text(words.data(), words.size(), 0, 0, 60, metrics, true, false, ends);
    EXPECT_EQ(ends, (std::vector<uint32_t>{9, 14})); // "aaaa bbbb" | "cccc" (the space dropped)
    wrap_text(words.data(), words.size(), 0, 0, 60, metrics, false, false, ends);
    EXPECT_EQ(ends, (std::vector<uint32_t>{10, 14}));

    const std::string long_word = "ab " + std::string(40, 'x');
    wrap_text(long_word.data(), long_word.size(), 0, 0, 60, metrics, true, false, ends);
    EXPECT_EQ(ends.front(), 2u); // the word moves to the next line...
    wrap_text(long_word.data(), long_word.size(), 0, 0, 240, metrics, true, false, ends);
    EXPECT_EQ(ends.front(), 40u); // ...unless it runs on 24 bytes past the space: cut mid-word

    // Control codes take no width; CJK takes two cells; no character is split.
    const std::string cjk = "\x02\xe6\xbc\xa2\xe5\xad\x97\xe6\xbc\xa2\xe5\xad\x97\xe6\xbc\xa2";
    wrap_text(cjk.data(), cjk.size(), 0, 0, 30, metrics, true, false, ends);
    EXPECT_EQ(ends, (std::vector<uint32_t>{7, 13, 16}));

    // Every display line holds at least one character, even when none fits.
    const std::string wide = "\xe6\xbc\xa2\xe6\xbc\xa2";
    wrap_text(wide.data(), wide.size(), 50, 50, 55, metrics, true, false, ends);
    EXPECT_EQ(ends, (std::vector<uint32_t>{3, 6}));
}

TEST_F(Model, WrappedEntriesMapDisplayLinesBothWays)
{
    text_buffer b(config);
    b.rewrap(64); // 62 px of room
    b.append("one", 1);
    b.append("aaaa bbbb cccc dddd", 1); // continuation lines start at the indent (12)
    b.append("three", 1);
    EXPECT_EQ(b.at(1).lines, 3);
    EXPECT_EQ(b.line_count(), 5u);
    std::size_t sub = 9;
    EXPECT_EQ(b.entry_at_line(3, &sub), &b.at(1));
    EXPECT_EQ(sub, 2u);
    EXPECT_EQ(b.entry_at_line(4, &sub), &b.at(2));
    EXPECT_EQ(b.entry_at_line(5, &sub), nullptr);
    b.rewrap(400);
    EXPECT_EQ(b.line_count(), 3u);
}

TEST_F(Model, WindowBelowOneLineKeepsTheOldWrappingUntilItOpens)
{
    config.line_height = 15;
    text_buffer b(config);
    b.rewrap(64, 300);
    b.append("aaaa bbbb cccc dddd", 1);
    EXPECT_EQ(b.line_count(), 3u);
    // A pane dragged shut: nothing is shown, so nothing is wrapped for it.
    b.rewrap(400, 10);
    EXPECT_EQ(b.line_count(), 3u);
    EXPECT_TRUE(b.needs_rewrap);
    b.rewrap(400, 15);
    EXPECT_EQ(b.line_count(), 1u);
    EXPECT_FALSE(b.needs_rewrap);
}

TEST_F(Model, SelectionCopiesStrippedOrRawTextWithStampsForWholeStarts)
{
    text_buffer b(config);
    b.append("\x02"
             "first\x02 line",
             1);
    b.append("\x03"
             "04second",
             2);
    b.append("third", 3);
    b.set_selection({b.first_id() + 1, 9}, {b.first_id(), 6}); // either order
    EXPECT_EQ(b.selected_text(false, nullptr), " line\nsecond");
    EXPECT_EQ(b.selected_text(true, nullptr), "\x02 line\n\x03"
                                              "04second");
    auto stamp = [](time_t t) { return "[" + std::to_string(t) + "] "; };
    EXPECT_EQ(b.selected_text(false, stamp), " line\n[2] second");

    std::size_t s, e;
    EXPECT_TRUE(b.selected_range(b.at(1), &s, &e));
    EXPECT_EQ(e, 9u);
    EXPECT_FALSE(b.selected_range(b.at(2), &s, &e));
}

TEST_F(Model, TrimRemovesOneEntryPerAppendAndDropsWhatPointedIntoIt)
{
    config.max_lines = 500;
    text_buffer b(config);
    for (int i = 0; i < 500; ++i)
        b.append("line " + std::to_string(i), 1);
    EXPECT_EQ(b.size(), 500u);
    char *err = nullptr;
    ASSERT_NE(b.search("line 1", SEARCH_FOLLOW, &err), nullptr); // matches line 1, 10.., 100..
    const std::size_t matched = b.match_entry_count();
    b.set_selection({b.first_id(), 0}, {b.first_id() + 3, 2});
    b.set_marker_last();

    b.append("line 500", 1);
    EXPECT_EQ(b.size(), 500u);
    EXPECT_EQ(lines(b).front(), "line 1");
    EXPECT_FALSE(b.has_selection()); // its first entry is gone

    b.append("line 501", 1); // trims "line 1", the current match; follow adds nothing
    EXPECT_EQ(b.match_entry_count(), matched - 1);
    std::size_t s, e;
    const entry *cur = b.current_match(&s, &e);
    ASSERT_NE(cur, nullptr);
    EXPECT_EQ(std::string(cur->view()), "line 10");

    config.max_lines = 2; // two or fewer: no limit
    b.append("more", 1);
    EXPECT_EQ(b.size(), 501u);
    g_free(err);
}

TEST_F(Model, MarkerFollowsUnseenLinesAndRecordsHowItWasReset)
{
    config.max_lines = 3;
    text_buffer b(config);
    b.append("a", 1);
    EXPECT_EQ(b.marker_status(), MARKER_SET);
    const uint64_t first = b.marker_id();
    b.seen_live = true; // shown in the focused window: lines are seen as they come
    b.append("b", 1);
    b.append("c", 1);
    EXPECT_EQ(b.marker_id(), first);
    b.seen_live = false;
    b.append("d", 1); // trims "a", the marked line
    EXPECT_EQ(b.marker_status(), MARKER_RESET_BY_TRIM);
    EXPECT_EQ(std::string(b.marker()->view()), "b");
    b.marker_seen = true; // drawn on screen: the next unseen line takes the marker
    b.append("e", 1);
    EXPECT_EQ(b.marker_status(), MARKER_SET);
    EXPECT_EQ(std::string(b.marker()->view()), "e");

    b.reset_marker();
    EXPECT_EQ(b.marker_status(), MARKER_RESET_MANUALLY);
    b.set_marker_last();
    b.clear(-1); // the marked last line goes
    EXPECT_EQ(b.marker_status(), MARKER_RESET_BY_CLEAR);
    EXPECT_EQ(b.marker(), nullptr);
    EXPECT_EQ(lines(b), (std::vector<std::string>{"c", "d"}));
}

TEST_F(Model, SearchFoldsCaseMapsMatchesToStoredBytesAndWalksBothWays)
{
    text_buffer b(config);
    b.append("\x02\xc3\x84RGER\x02 und \xc3\xa4rger", 1); // ÄRGER und ärger
    b.append("nothing", 1);
    b.append("mehr \x03"
             "04\xc3\xa4rger",
             1);
    char *err = nullptr;
    const entry *e = b.search("\xc3\xa4rger", 0, &err);
    ASSERT_EQ(e, &b.at(0));
    std::size_t s, t;
    b.current_match(&s, &t);
    EXPECT_EQ(std::string(e->text + s, t - s), "\xc3\x84RGER");
    EXPECT_EQ(b.match_entry_count(), 2u);

    EXPECT_EQ(b.search("\xc3\xa4rger", 0, &err), &b.at(0)); // second match, same entry
    EXPECT_EQ(b.search("\xc3\xa4rger", 0, &err), &b.at(2));
    b.current_match(&s, &t);
    EXPECT_EQ(std::string(b.at(2).text + s, t - s), "\xc3\xa4rger"); // after the colour code
    EXPECT_EQ(b.search("\xc3\xa4rger", 0, &err), &b.at(0));          // wraps
    EXPECT_EQ(b.search("\xc3\xa4rger", SEARCH_BACKWARD, &err), &b.at(2));

    EXPECT_EQ(b.search("\xc3\xa4rger", SEARCH_MATCH_CASE, &err), &b.at(0)); // new search: 2 hits
    b.current_match(&s, &t);
    EXPECT_EQ(s, 13u);

    EXPECT_EQ(b.search("^mehr", SEARCH_REGEX, &err), &b.at(2));
    for (const char *bad : {"(", "\xff("}) { // broken syntax; broken UTF-8 (crashed the engine)
        EXPECT_EQ(b.search(bad, SEARCH_REGEX, &err), nullptr);
        ASSERT_NE(err, nullptr) << bad;
        g_free(err);
        err = nullptr;
    }

    // Follow: lines arriving later are searched as they come.
    EXPECT_EQ(b.search("late", SEARCH_FOLLOW, &err), nullptr);
    b.append("a late line", 1);
    EXPECT_EQ(b.current_match(nullptr, nullptr), &b.at(3));
    // A pattern set without follow, then follow turned on, catches up.
    b.search("tail", 0, &err);
    b.append("tail end", 1);
    EXPECT_EQ(b.match_entry_count(), 0u);
    EXPECT_EQ(b.search(nullptr, SEARCH_FOLLOW, &err), &b.at(4));

    b.search("", 0, &err);
    EXPECT_EQ(b.current_match(nullptr, nullptr), nullptr);
    EXPECT_EQ(b.at(4).extra, nullptr); // match lists freed with the search
}

TEST_F(Model, ClearDropsSelectionAndSearchAndLastlogKeepsLeftPartsAndStamps)
{
    text_buffer src(config);
    src.append_indent("<bob>", "hello world", 100);
    src.append_indent("<amy>", "bye", 101);
    src.append("* HELLO action", 102);

    text_buffer dest(config);
    char *err = nullptr;
    ASSERT_TRUE(dest.set_pattern("hello", SEARCH_HIGHLIGHT, &err));
    EXPECT_EQ(dest.lastlog_from(src), 2);
    ASSERT_EQ(dest.size(), 2u);
    EXPECT_EQ(dest.at(0).left_len, 5);
    EXPECT_EQ(dest.at(0).stamp, 100);
    EXPECT_EQ(dest.at(1).left_len, -1);
    EXPECT_EQ(dest.match_entry_count(), 2u);

    dest.set_selection({dest.first_id(), 0}, {dest.first_id() + 1, 3});
    const uint64_t old = dest.first_id();
    dest.clear(0);
    EXPECT_FALSE(dest.has_selection());
    EXPECT_EQ(dest.current_match(nullptr, nullptr), nullptr);
    EXPECT_EQ(dest.find(old), nullptr); // ids are never reused
    dest.append("x", 1);
    EXPECT_EQ(dest.find(old), nullptr);
    EXPECT_EQ(dest.marker_status(), MARKER_SET);
    EXPECT_EQ(src.save_text(), "<bob> hello world\n<amy> bye\n* HELLO action\n");
}

TEST_F(Model, PrintSplitsLinesAtLineFeedsAndTabsAndReplacesBells)
{
    text_buffer b(config);
    EXPECT_TRUE(print_text(b, "<a>\tone\x07\ntwo\n", true, {}, 1));
    EXPECT_EQ(lines(b), (std::vector<std::string>{"<a> one ", "two"}));
    EXPECT_EQ(b.at(1).left_len, 0);
    EXPECT_FALSE(print_text(b, "\n", false, "[s] ", 1));
    EXPECT_EQ(lines(b).back(), "[s] ");
}

} // namespace
