#include "base/util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace
{

TEST(IrcCase, ScandinavianBracketsFoldLikeLetters)
{
    EXPECT_EQ(rfc_casecmp("[Away]Nick\\", "{away}nick|"), 0);
    EXPECT_EQ(rfc_casecmp("a^b", "A~B"), 0);
    EXPECT_LT(rfc_casecmp("nick", "nickname"), 0);
    EXPECT_GT(rfc_casecmp("nickb", "NICKA"), 0);
    EXPECT_EQ(rfc_ncasecmp("[abc]x", "{ABC}y", 5), 0);
    EXPECT_NE(rfc_ncasecmp("[abc]x", "{ABC}y", 6), 0);
    EXPECT_LT(rfc_ncasecmp("ab", "abc", 10), 0);
}

TEST(IrcCase, TableChangesOnlyTheRfc1459UpperCase)
{
    const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^";
    const std::string lower = "abcdefghijklmnopqrstuvwxyz{|}~";
    for (int c = 0; c < 256; c++) {
        auto at = upper.find(static_cast<char>(c));
        int expected = at == std::string::npos ? c : static_cast<unsigned char>(lower[at]);
        EXPECT_EQ(rfc_tolowertab[c], expected) << "byte " << c;
    }
}

TEST(Match, WildcardsEscapesAndIrcCase)
{
    struct Case {
        const char *mask, *text;
        int want;
    } cases[] = {
        {"*", "", 1},
        {"*", "anything", 1},
        {"", "", 1},
        {"", "a", 0},
        {"?", "", 0},
        {"*!*@*.Example.COM", "Nick!~user@host.example.com", 1},
        {"[ab]!*", "{AB}!x", 1},
        {"a\\*b", "a*b", 1},
        {"a\\*b", "axb", 0},
        {"a\\*b", "a\\xb", 0},
        {"a\\?", "a?", 1},
        {"a\\?", "ab", 0},
        {"a\\b", "a\\b", 1},
        {"a\\", "a\\", 1},
        {"*.txt", "notes.txt.bak", 0},
        {"*a*b", "xaxxaxb", 1},
        {"*abc", "abab", 0},
        {"a**?*", "a", 0},
        {"a**?*", "ab", 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(match(c.mask, c.text), c.want) << '"' << c.mask << "\" vs \"" << c.text << '"';
}

TEST(Match, HostileMasksFinishQuickly)
{
    std::string text(20000, 'a');
    std::string mask;
    for (int i = 0; i < 40; i++)
        mask += "*a";
    mask += "*b";
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(match(mask.c_str(), text.c_str()));
    EXPECT_FALSE(match((std::string(5000, '*') + "b").c_str(), text.c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Minimal reader for the community vectors: "- mask: ...", "matches:",
// "fails:" and "- ..." list entries, scalars plain or double-quoted.
std::string yaml_scalar(std::string s)
{
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        std::string out;
        for (std::size_t i = 1; i + 1 < s.size(); i++) {
            if (s[i] == '\\' && i + 2 < s.size())
                i++;
            out += s[i];
        }
        return out;
    }
    return s;
}

// A few vectors in the community file's own format, used when a clone has no
// copy of that file beside it.
const char *const builtin_mask_vectors = R"(tests:
  - mask: "*@127.0.0.1"
    matches:
      - "coolguy!ab@127.0.0.1"
    fails:
      - "coolguy!ab@127.0.0.5"
  - mask: "cool*@*"
    matches:
      - "coolguy!ab@127.0.0.1"
      - "cool132!ab@example.com"
    fails:
      - "koolguy!ab@127.0.0.5"
  - mask: "a?c*!*@*"
    matches:
      - "abc!x@y"
      - "ABCdef!x@y"
    fails:
      - "ac!x@y"
  - mask: "*!*@*.example.*"
    matches:
      - "n!u@host.example.org"
      - "n!u@a.b.EXAMPLE.net"
    fails:
      - "n!u@example.org"
      - "n!u@host.example"
)";

TEST(Match, AgreesWithCommunityMaskVectors)
{
    std::ifstream file(std::string(LUMENWICK_CONFORMANCE_DIR) + "/irc-parser-tests/mask-match.yaml");
    std::stringstream in;
    if (file)
        in << file.rdbuf();
    else
        in << builtin_mask_vectors;
    std::string line, mask;
    int expect = -1, checked = 0;
    while (std::getline(in, line)) {
        auto first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::string item = line.substr(first);
        if (item.rfind("- mask:", 0) == 0) {
            mask = yaml_scalar(item.substr(item.find_first_not_of(' ', 7)));
            expect = -1;
        } else if (item == "matches:") {
            expect = 1;
        } else if (item == "fails:") {
            expect = 0;
        } else if (item.rfind("- ", 0) == 0 && expect >= 0) {
            std::string text = yaml_scalar(item.substr(2));
            EXPECT_EQ(match(mask.c_str(), text.c_str()), expect) << mask << " vs " << text;
            checked++;
        }
    }
    EXPECT_GE(checked, 10);
}

// For each text, the byte offsets where a character ends; safe_strcpy into
// `size` bytes must stop at the last boundary below `size`.
TEST(SafeStrcpy, StopsOnlyAtCharacterBoundariesForEveryBufferSize)
{
    struct Case {
        std::string text;
        std::vector<std::size_t> ends;
    } cases[] = {
        {"a\xc3\xa9", {1, 3}}, // "aé"
        {"\xe2\x82\xac"
         "b",
         {3, 4}},                                                 // euro sign
        {"x\xf0\x9f\x98\x80y", {1, 5, 6}},                        // emoji
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80!", {2, 5, 9, 10}}, // 2, 3, 4, 1 bytes
        {"a\xc3"
         "b",
         {1, 2, 3}},                     // truncated lead byte
        {"\xff\xfe", {1, 2}},            // never valid
        {"\xed\xa0\x80", {1, 2, 3}},     // a surrogate
        {"a\xf0\x9f\x98", {1, 2, 3, 4}}, // cut at the end
    };
    for (const Case &c : cases) {
        for (std::size_t size = 1; size <= c.text.size() + 2; size++) {
            std::size_t want = 0;
            for (std::size_t end : c.ends)
                if (end < size)
                    want = end;
            std::vector<char> buf(size + 1, '#');
            safe_strcpy(buf.data(), c.text.c_str(), size);
            EXPECT_EQ(std::string(buf.data()), c.text.substr(0, want)) << "size " << size;
            EXPECT_EQ(buf[size], '#') << "wrote past the buffer at size " << size;
        }
    }
}

TEST(SafeStrcpy, PathPartCopiesTheDirectorySafely)
{
    char dir[8];
    EXPECT_STREQ(path_part("/home/\xc3\xa9/f", dir, sizeof dir), "f");
    EXPECT_STREQ(dir, "/home/");
    EXPECT_STREQ(path_part("plain", dir, sizeof dir), "plain");
    EXPECT_STREQ(dir, "");
}

std::string stripped(const std::string &in, int flags)
{
    std::vector<char> out(in.size() + 1);
    int n = strip_color2(in.c_str(), static_cast<int>(in.size()), out.data(), flags);
    EXPECT_EQ(n, static_cast<int>(strlen(out.data())));
    return out.data();
}

TEST(StripColor, ColourCodesTakeAtMostTwoDigitsEach)
{
    EXPECT_EQ(stripped("\x03"
                       "4,5word",
                       STRIP_COLOR),
              "word");
    EXPECT_EQ(stripped("\x03"
                       "123",
                       STRIP_COLOR),
              "3");
    EXPECT_EQ(stripped("\x03"
                       "1,a",
                       STRIP_COLOR),
              ",a");
    EXPECT_EQ(stripped("\x03"
                       "12,345",
                       STRIP_COLOR),
              "5");
    EXPECT_EQ(stripped("\x03\x03"
                       "4x\x03",
                       STRIP_COLOR),
              "x");
    EXPECT_EQ(stripped("end\x03"
                       "1,",
                       STRIP_COLOR),
              "end,");
    EXPECT_EQ(stripped("\x03"
                       "4x",
                       STRIP_ATTRIB),
              "\x03"
              "4x");
}

TEST(StripColor, FlagsSelectAttributesAndHiddenText)
{
    const std::string all = "\x02"
                            "b\x07\x0f\x16\x1d\x1e\x1f"
                            "u\x08"
                            "h\x03"
                            "5c";
    EXPECT_EQ(stripped(all, STRIP_ATTRIB), "b"
                                           "u\x08"
                                           "h\x03"
                                           "5c");
    EXPECT_EQ(stripped(all, STRIP_HIDDEN), "\x02"
                                           "b\x07\x0f\x16\x1d\x1e\x1f"
                                           "uh\x03"
                                           "5c");
    EXPECT_EQ(stripped(all, STRIP_ALL), "buhc");
    EXPECT_EQ(stripped(all, 0), all);

    char buf[16];
    EXPECT_EQ(strip_hidden_attribute("a\x08"
                                     "b\x08",
                                     buf),
              2);
    EXPECT_STREQ(buf, "ab");
}

TEST(StripColor, MarkupEscapingYieldsValidUtf8)
{
    char *s = strip_color("\x02<b>&\x03"
                          "4\"x\"",
                          -1, STRIP_ALL | STRIP_ESCMARKUP);
    EXPECT_STREQ(s, "&lt;b&gt;&amp;&quot;x&quot;");
    g_free(s);
    s = strip_color("ok\xf0\x9f", -1, STRIP_ALL | STRIP_ESCMARKUP);
    EXPECT_TRUE(g_utf8_validate(s, -1, nullptr));
    EXPECT_TRUE(g_str_has_prefix(s, "ok"));
    g_free(s);
    s = strip_color("a\x02"
                    "bc",
                    2, STRIP_ALL);
    EXPECT_STREQ(s, "a");
    g_free(s);
}

TEST(Lines, WaitlineReadsOneLineAndReportsEndOfFile)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "hello\nabcdefgh", 14), 14);
    close(fds[1]);
    char buf[8];
    EXPECT_EQ(waitline(fds[0], buf, sizeof buf, 0), 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(waitline(fds[0], buf, sizeof buf, 0), 7); // full buffer, no line feed
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(waitline(fds[0], buf, sizeof buf, 0), -1); // "h" then end of file
    EXPECT_EQ(waitline(fds[0], buf, 0, 0), -1);
    close(fds[0]);
}

TEST(Lines, BufGetLineNeverReturnsAnUnterminatedTail)
{
    char buf[] = "one\r\n\ntwo\nthree";
    int len = static_cast<int>(strlen(buf));
    int pos = 0;
    char *line = nullptr;
    std::vector<std::string> lines;
    while (buf_get_line(buf, &line, &pos, len))
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one\r", "", "two"}));
    EXPECT_EQ(pos, 10);
}

TEST(Lines, TokenForeachRestoresTheTextAndStopsEarly)
{
    char text[] = "a,,bc,";
    struct Seen {
        std::vector<std::string> tokens;
        std::size_t stop_after;
    } seen{{}, 100};
    auto collect = [](char *tok, void *ud) {
        auto *s = static_cast<Seen *>(ud);
        s->tokens.push_back(tok);
        return s->tokens.size() < s->stop_after ? 1 : 0;
    };
    EXPECT_TRUE(token_foreach(text, ',', collect, &seen));
    EXPECT_EQ(seen.tokens, (std::vector<std::string>{"a", "", "bc", ""}));
    EXPECT_STREQ(text, "a,,bc,");

    seen = {{}, 2};
    EXPECT_FALSE(token_foreach(text, ',', collect, &seen));
    EXPECT_EQ(seen.tokens.size(), 2u);
    EXPECT_STREQ(text, "a,,bc,");
}

TEST(Helpers, HashesFoldTheIrcWay)
{
    EXPECT_EQ(str_hash(""), 0u);
    EXPECT_EQ(str_hash("ab"), 97u * 31 + 98);
    EXPECT_EQ(str_ihash(reinterpret_cast<const unsigned char *>("NICK[^]")), str_hash("nick{~}"));
}

TEST(Helpers, TextHelpers)
{
    const char *text = "Hello World";
    EXPECT_EQ(nocasestrstr(text, "WORLD"), text + 6);
    EXPECT_EQ(nocasestrstr(text, ""), text);
    EXPECT_EQ(nocasestrstr(text, "worlds"), nullptr);

    char key[] = "Net-Work_2 \xc3\xa9";
    canonalize_key(key);
    EXPECT_STREQ(key, "net_work_2___");

    char out[16];
    const char *plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char *coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; i++) {
        base64_encode(out, plain[i], static_cast<int>(strlen(plain[i])));
        EXPECT_STREQ(out, coded[i]);
    }

    EXPECT_STREQ(errorstring(-1), "");
    EXPECT_STRNE(errorstring(0), "");
}

TEST(Helpers, HomeDirectoryExpansion)
{
    std::string home = g_get_home_dir();
    auto expand = [](const char *p) {
        char *s = expand_homedir(p);
        std::string r = s;
        g_free(s);
        return r;
    };
    EXPECT_EQ(expand("~"), home);
    EXPECT_EQ(expand("~/dl/x"), home + "/dl/x");
    EXPECT_EQ(expand("~no_such_user_here/x"), "~no_such_user_here/x");
}

TEST(Helpers, TimeFormattingNeverLeavesGarbage)
{
    struct tm tm = {};
    tm.tm_year = 124;
    tm.tm_mday = 2;
    char small[4] = "xyz";
    EXPECT_EQ(strftime_validated(small, sizeof small, "%Y-%m-%d", &tm), 0u);
    EXPECT_STREQ(small, "");
    char big[32];
    EXPECT_GT(strftime_utf8(big, sizeof big, "%Y", 86400 * 400), 0u);
    EXPECT_STREQ(big, "1971");
}

TEST(Country, TopLevelDomainLookup)
{
    EXPECT_STREQ(country("host.example.de"), "Germany");
    EXPECT_STREQ(country("irc.example.COM"), "Internic Commercial");
    EXPECT_STREQ(country("a.b.ac"), "Ascension Island");
    EXPECT_STREQ(country("x.aero"), "Aviation-Related Fields");
    EXPECT_STREQ(country("ZW"), "Zimbabwe");
    EXPECT_EQ(country("192.168.1.1"), nullptr);
    EXPECT_EQ(country("2001:db8::1"), nullptr);
    EXPECT_EQ(country(""), nullptr);
    EXPECT_EQ(country("host.example.zz"), nullptr);
    EXPECT_EQ(country("host."), nullptr);
}

TEST(Country, SearchPrintsEveryMatchingRow)
{
    static std::vector<std::string> printed;
    auto print = [](void *, const char *line) { printed.push_back(line); };
    printed.clear();
    country_search("*many", nullptr, print);
    EXPECT_EQ(printed, std::vector<std::string>{"DE = Germany\n"});
    printed.clear();
    country_search("*", nullptr, print);
    EXPECT_EQ(printed.size(), 277u);
    EXPECT_EQ(printed.front(), "AC = Ascension Island\n");
    EXPECT_EQ(printed.back(), "ZW = Zimbabwe\n");
}

class MoveFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/lumenwick-util-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        src = root + "/incoming";
        dst = root + "/done";
        ASSERT_EQ(mkdir(src.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(dst.c_str(), 0700), 0);
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    static void put(const std::string &path, const std::string &data) { std::ofstream(path) << data; }
    static std::string get(const std::string &path)
    {
        std::ifstream in(path);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
    }
    std::string root, src, dst;
};

TEST_F(MoveFile, NeverReplacesAnExistingTarget)
{
    put(dst + "/a.bin", "old");
    put(dst + "/a.bin.0", "older");
    put(src + "/a.bin", "new");
    move_file(src.c_str(), dst.c_str(), "a.bin", 0600);
    EXPECT_EQ(get(src + "/a.bin"), "<missing>");
    EXPECT_EQ(get(dst + "/a.bin"), "old");
    EXPECT_EQ(get(dst + "/a.bin.0"), "older");
    EXPECT_EQ(get(dst + "/a.bin.1"), "new");

    put(src + "/b.bin", "b");
    move_file(src.c_str(), dst.c_str(), "b.bin", 0600);
    EXPECT_EQ(get(dst + "/b.bin"), "b");
}

TEST_F(MoveFile, FailureKeepsTheSource)
{
    put(src + "/a.bin", "data");
    std::string missing = root + "/no/such/dir";
    move_file(src.c_str(), missing.c_str(), "a.bin", 0600);
    EXPECT_EQ(get(src + "/a.bin"), "data");

    move_file(src.c_str(), src.c_str(), "a.bin", 0600); // same directory: nothing
    move_file(src.c_str(), "", "a.bin", 0600);
    EXPECT_EQ(get(src + "/a.bin"), "data");
}

TEST_F(MoveFile, CopiesAcrossFileSystems)
{
    struct stat a, b;
    // /dev/shm is its own memory file system on Linux: a rename cannot cross it.
    ASSERT_EQ(stat("/dev/shm", &b), 0) << "no /dev/shm to copy to";
    ASSERT_EQ(stat(root.c_str(), &a), 0);
    ASSERT_NE(a.st_dev, b.st_dev) << "the test directory is on /dev/shm's file system";
    char tmpl[] = "/dev/shm/lumenwick-util-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr) << "/dev/shm not writable";
    std::string other = tmpl;
    std::string big(3 * 4096 + 17, 'z');
    put(src + "/a.bin", big);
    put(other + "/a.bin", "keep");
    move_file(src.c_str(), other.c_str(), "a.bin", 0640);
    EXPECT_EQ(get(src + "/a.bin"), "<missing>");
    EXPECT_EQ(get(other + "/a.bin"), "keep");
    EXPECT_EQ(get(other + "/a.bin.0"), big);
    struct stat st;
    ASSERT_EQ(stat((other + "/a.bin.0").c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0640u & ~mask);
    std::filesystem::remove_all(other);
}

TEST_F(MoveFile, ForFilesVisitsMatchingEntries)
{
    put(src + "/one.so", "");
    put(src + "/two.SO", "");
    put(src + "/three.txt", "");
    static std::vector<std::string> seen;
    seen.clear();
    for_files(src.c_str(), "*.so", [](char *path) { seen.push_back(path); });
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{src + "/one.so", src + "/two.SO"}));
}

} // namespace

TEST(Utf8Prefix, CutsOnlyBetweenCharactersAndAtMostThreeBytesEarly)
{
    const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"; // a é € 😀
    const std::size_t expect[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
    for (std::size_t room = 0; room < sizeof expect / sizeof expect[0]; room++)
        EXPECT_EQ(utf8_prefix(text.data(), text.size(), room), expect[room]) << "room " << room;
    // Not UTF-8: a run of continuation bytes is cut at most three bytes early.
    const std::string junk(10, '\x80');
    EXPECT_EQ(utf8_prefix(junk.data(), junk.size(), 8), 5u);
}
