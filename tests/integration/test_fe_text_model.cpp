// The pure parts of the text front end: input lines, output lines, the
// per-session line store with its lastlog search.
#include "lines.h"

#include <gtest/gtest.h>

using strings = std::vector<std::string>;

namespace
{
const std::string replacement = "\xEF\xBF\xBD"; // U+FFFD
}

TEST(TextInput, LinesAreCutAtLineEndsAcrossReads)
{
    line_splitter s;
    EXPECT_EQ(s.feed("/join #a\r\n/me wa"), strings{"/join #a"});
    EXPECT_EQ(s.feed("ves\n\n"), (strings{"/me waves", ""}));
    EXPECT_EQ(s.finish(), std::nullopt);
    EXPECT_EQ(s.feed("no end\r"), strings{});
    EXPECT_EQ(s.finish(), "no end") << "the last line needs no line end";
    EXPECT_EQ(s.finish(), std::nullopt) << "the rest is handed out once";
}

TEST(TextInput, InvalidUtf8IsReplacedAndValidTextKept)
{
    line_splitter s;
    EXPECT_EQ(s.feed("caf\xC3\xA9 ok\n"), strings{"caf\xC3\xA9 ok"});
    EXPECT_EQ(s.feed("a\xFF"
                     "b\n"),
              strings{"a" + replacement + "b"});
    // A UTF-8 sequence split across two reads is still one character.
    EXPECT_EQ(s.feed("x\xC3"), strings{});
    EXPECT_EQ(s.feed("\xA9\n"), strings{"x\xC3\xA9"});
}

TEST(TextInput, RunawayLineIsHandedOnInBoundedPieces)
{
    line_splitter s;
    const strings out = s.feed(std::string(MAX_INPUT_LINE * 2 + 10, 'a'));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].size(), MAX_INPUT_LINE);
    EXPECT_EQ(s.finish(), std::string(10, 'a'));
}

TEST(TextOutput, EachLineIsPrefixedWithItsSessionAndStrippedOfCodes)
{
    EXPECT_EQ(split_text_lines("one\ntwo\n"), (strings{"one", "two"}));
    EXPECT_EQ(split_text_lines("one\n\nthree"), (strings{"one", "", "three"}));
    EXPECT_EQ(split_text_lines(""), strings{});

    EXPECT_EQ(output_line("#chan", "\002bold\002 \00304,05red\017 plain"), "#chan\tbold red plain\n");
    EXPECT_EQ(output_line("", "server text"), "*\tserver text\n") << "an unnamed tab still gets a column";
}

TEST(TextBuffer, KeepsTheNewestLinesAndClearsFromEitherEnd)
{
    text_buffer b;
    for (const char *l : {"1", "2", "3", "4", "5"})
        b.append(l, 4);
    EXPECT_EQ(strings(b.lines().begin(), b.lines().end()), (strings{"2", "3", "4", "5"}));

    b.clear(1);
    EXPECT_EQ(strings(b.lines().begin(), b.lines().end()), (strings{"3", "4", "5"}));
    b.clear(-2);
    EXPECT_EQ(strings(b.lines().begin(), b.lines().end()), (strings{"3"}));
    b.clear(10);
    EXPECT_TRUE(b.lines().empty()) << "clearing more lines than there are is harmless";
    b.append("x", 0);
    b.clear(0);
    EXPECT_TRUE(b.lines().empty());
}

TEST(Lastlog, PlainPatternsFoldCaseUnlessAskedAndIgnoreFormatting)
{
    const std::deque<std::string> lines{"<alice> Hello World", "<bob> \002hel\002lo there", "<carol> bye"};

    EXPECT_EQ(lastlog_search(lines, "hello", 0).lines, (strings{lines[0], lines[1]}))
        << "matches the text as shown, and keeps the formatting of the copy";
    EXPECT_EQ(lastlog_search(lines, "Hello", LASTLOG_FLAG_MATCHCASE).lines, strings{lines[0]});
    EXPECT_EQ(lastlog_search(lines, "nobody", 0).lines, strings{});
}

TEST(Lastlog, RegularExpressionsAndTheirErrors)
{
    const std::deque<std::string> lines{"<alice> ping 42", "<bob> PING x"};

    EXPECT_EQ(lastlog_search(lines, "ping [0-9]+$", LASTLOG_FLAG_REGEXP).lines, strings{lines[0]});
    EXPECT_EQ(lastlog_search(lines, "^<bob> ping", LASTLOG_FLAG_REGEXP).lines, strings{lines[1]});
    EXPECT_EQ(lastlog_search(lines, "^<bob> ping", LASTLOG_FLAG_REGEXP | LASTLOG_FLAG_MATCHCASE).lines, strings{});

    const lastlog_result bad = lastlog_search(lines, "ping (", LASTLOG_FLAG_REGEXP);
    EXPECT_FALSE(bad.error.empty());
    EXPECT_TRUE(bad.lines.empty());
}
