// The input line without a display: the key-binding file (defaults written
// back byte for byte, the older form, refused files), Tab completion against
// a channel's user list, and the replace rule.
#include "irc_lines.h"

#include "input/completion.h"
#include "input/keybindings.h"
#include "input/replace.h"

#include "irc/proto-irc.h"
#include "irc/userlist.h"

#include <gdk/gdk.h>
#include <sys/stat.h>

namespace
{

key_binding bind(unsigned keyval, unsigned mods, int action, std::optional<std::string> d1 = std::nullopt,
                 std::optional<std::string> d2 = std::nullopt)
{
    return key_binding{keyval, mods, action, std::move(d1), std::move(d2)};
}

TEST(KeyBindings, DefaultsAreWrittenBackByteForByte)
{
    const std::vector<key_binding> defaults = key_defaults();
    ASSERT_EQ(defaults.size(), 56u);
    EXPECT_EQ(key_write(defaults), key_default_text());
    EXPECT_EQ(defaults[0], bind(GDK_KEY_Page_Up, KEY_MOD_CONTROL, KEY_CHANGE_PAGE, "-1", "Relative"));
    EXPECT_EQ(defaults[10], bind(GDK_KEY_1, KEY_MOD_ALT, KEY_CHANGE_PAGE, "1"));
    EXPECT_EQ(defaults[17], bind(GDK_KEY_s, KEY_MOD_CONTROL | KEY_MOD_ALT, KEY_INSERT_BUFFER, "\x1e"));
    EXPECT_EQ(defaults.back(), bind(GDK_KEY_T, KEY_MOD_CONTROL | KEY_MOD_SHIFT, KEY_REOPEN_TAB));
    // Read back from what was written, nothing changes either.
    const key_parse_result again = key_parse(key_write(defaults));
    ASSERT_FALSE(again.error) << again.error->message;
    EXPECT_EQ(again.bindings, defaults);
}

TEST(KeyBindings, OlderTwoLineFormIsReadAndWrittenInTheCurrentForm)
{
    const std::string old = "# old file\n"
                            "C\nPage_Down\nChange Page\nD1:1\nD2:Relative\n\n"
                            " \tSA \nF5\n  Run Command\t\n  D1:/echo a\\nb\nD2!\n\n"
                            "None\nTab\nComplete nick/command\n\tD1!\nD2:\n";
    const key_parse_result r = key_parse(old);
    ASSERT_FALSE(r.error) << r.error->line << ": " << r.error->message;
    const std::vector<key_binding> want = {
        bind(GDK_KEY_Page_Down, KEY_MOD_CONTROL, KEY_CHANGE_PAGE, "1", "Relative"),
        bind(GDK_KEY_F5, KEY_MOD_SHIFT | KEY_MOD_ALT, KEY_RUN_COMMAND, "/echo a\\nb"),
        bind(GDK_KEY_Tab, 0, KEY_COMPLETE, std::nullopt, ""),
    };
    EXPECT_EQ(r.bindings, want);
    EXPECT_EQ(key_write(r.bindings), "# Lumenwick key bindings config file\n\n"
                                     "ACCEL=<Primary>Page_Down\nChange Page\nD1:1\nD2:Relative\n\n"
                                     "ACCEL=<Shift><Alt>F5\nRun Command\nD1:/echo a\\nb\nD2!\n\n"
                                     "ACCEL=Tab\nComplete nick/command\nD1!\nD2!\n\n");
}

// A key GDK names only by its code point ("U+0DB3") is read back as the
// same key, so a saved file keeps every binding it was given.
TEST(KeyBindings, KeysNamedByCodePointSurviveASave)
{
    const key_parse_result first = key_parse("C\nSinh_ndha\nChange Page\nD1:1\nD2:Relative\n\n");
    ASSERT_FALSE(first.error);
    const std::string written = key_write(first.bindings);
    const key_parse_result again = key_parse(written);
    ASSERT_FALSE(again.error) << written;
    EXPECT_EQ(again.bindings, first.bindings);
}

TEST(KeyBindings, RefusedFileNamesTheLineAndKeepsNothing)
{
    const std::string good = "ACCEL=Tab\nComplete nick/command\nD1!\nD2!\n\n";
    struct bad {
        std::string text;
        int line;
        std::string says;
    };
    const std::vector<bad> cases = {
        {good + "ACCEL=<Primary>NoSuchKey\nChange Page\nD1!\nD2!\n", 6, "unknown key"},
        {good + "ACCEL=<Hyperdrive>a\nChange Page\nD1!\nD2!\n", 6, "unknown key"},
        {good + "ACCEL=a\nChange page\nD1!\nD2!\n", 7, "unknown action"},
        {good + "ACCEL=a\nChange Page\nX1:3\nD2!\n", 8, "does not begin with \"D\""},
        {good + "ACCEL=a\nChange Page\nD2:3\nD1!\n", 8, "D1"},
        {good + "ACCEL=a\nChange Page\nD1=3\nD2!\n", 8, "malformed"},
        {good + "CX\nTab\nChange Page\nD1!\nD2!\n", 6, "unknown modifier"},
        {good + "ACCEL=a\nChange Page\nD1!\n", 6, "cut short"},
    };
    for (const bad &c : cases) {
        const key_parse_result r = key_parse(c.text);
        ASSERT_TRUE(r.error) << c.text;
        EXPECT_EQ(r.error->line, c.line) << c.text;
        EXPECT_NE(r.error->message.find(c.says), std::string::npos) << r.error->message;
        EXPECT_TRUE(r.bindings.empty());
    }
}

TEST(KeyBindings, PressedKeyMatchesExactModifiersIgnoringLocks)
{
    const key_binding next = bind(GDK_KEY_Page_Down, KEY_MOD_CONTROL, KEY_CHANGE_PAGE, "1", "Relative");
    const unsigned num_lock = GDK_MOD2_MASK, caps = GDK_LOCK_MASK;
    EXPECT_TRUE(key_matches(next, GDK_KEY_Page_Down, GDK_CONTROL_MASK | num_lock | caps));
    EXPECT_FALSE(key_matches(next, GDK_KEY_Page_Down, GDK_CONTROL_MASK | GDK_SHIFT_MASK));
    EXPECT_FALSE(key_matches(next, GDK_KEY_Page_Down, 0));
    // Control+Shift+m arrives as "M"; a binding saved from the editor says "m".
    const key_binding marker = bind(GDK_KEY_m, KEY_MOD_CONTROL | KEY_MOD_SHIFT, KEY_MENU_SHORTCUT, "move-marker");
    EXPECT_TRUE(key_matches(marker, GDK_KEY_M, GDK_CONTROL_MASK | GDK_SHIFT_MASK));
}

TEST(KeyBindings, EscapesExpandOnlyWhatTheyName)
{
    EXPECT_EQ(key_expand_escapes("a\\nb\\tc\\\\d\\x41"), "a\nb\tc\\dA");
    // Incomplete or unknown escapes stay as typed.
    EXPECT_EQ(key_expand_escapes("\\x4"), "\\x4");
    EXPECT_EQ(key_expand_escapes("\\xg1"), "\\xg1");
    EXPECT_EQ(key_expand_escapes("\\q end\\"), "\\q end\\");
}

TEST(KeyBindings, MenusFindTheirAcceleratorByShortcutName)
{
    key_set_bindings(key_defaults());
    unsigned key = 0, mods = 0;
    ASSERT_TRUE(key_get_menu_accel("move-marker", &key, &mods));
    EXPECT_EQ(key_accel_name(key, mods), "<Primary><Shift>M");
    EXPECT_FALSE(key_get_menu_accel("no-such-item", &key, &mods));
}

// Loading and saving the file in a private configuration directory.
class KeyFile : public IrcLines
{
  protected:
    std::string conf() const { return path("keybindings.conf"); }
};

TEST_F(KeyFile, BrokenFileKeepsTheDefaultsSaysWhereAndStaysOnDisk)
{
    const std::string broken = "ACCEL=Tab\nComplete nick/command\nD1!\nD2!\n\nACCEL=F3\nFly Away\nD1!\nD2!\n";
    write_file("keybindings.conf", broken);
    key_set_bindings(key_defaults());
    key_init();
    EXPECT_EQ(key_bindings(), key_defaults());
    const auto msgs = fe_recorder::messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].find("line 7"), std::string::npos) << msgs[0];
    EXPECT_NE(msgs[0].find("Fly Away"), std::string::npos) << msgs[0];
    std::ifstream in(conf(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), broken);
}

TEST_F(KeyFile, SavedBindingsAreLoadedAtTheNextStart)
{
    std::vector<key_binding> mine = key_defaults();
    mine.push_back(bind(GDK_KEY_F5, KEY_MOD_SHIFT, KEY_RUN_COMMAND, "/echo hi"));
    ASSERT_TRUE(key_save(mine));
    struct stat st {
    };
    ASSERT_EQ(stat(conf().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    key_set_bindings({});
    key_init();
    EXPECT_EQ(key_bindings(), mine);
    EXPECT_TRUE(fe_recorder::messages().empty());
}

TEST_F(KeyFile, FailedSaveKeepsTheNewBindingsInUseAndSaysSo)
{
    write_file("keybindings.conf", key_default_text());
    // The temporary file cannot be created where a directory stands.
    ASSERT_EQ(mkdir(path("keybindings.conf.new").c_str(), 0700), 0);
    std::vector<key_binding> mine = {bind(GDK_KEY_F5, 0, KEY_RUN_COMMAND, "/echo hi")};
    EXPECT_FALSE(key_save(mine));
    EXPECT_EQ(key_bindings(), mine);
    const auto msgs = fe_recorder::messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].find("keybindings.conf"), std::string::npos) << msgs[0];
    std::ifstream in(conf(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), key_default_text());
}

// Completion against a real channel's user list.
class Completion : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        chan = channel("#c");
        for (const char *nick : {"@alice", "alicia", "+Alfred", "bob", "me"}) {
            message_tags_data tags;
            userlist_add(chan, nick, nullptr, nullptr, nullptr, &tags);
        }
        ctx = completion_context_for(chan);
        ctx.suffix = ':';
        ctx.amount = 5;
    }
    // One Tab press, the result applied like the entry would.
    completion_result tab(bool backwards = false)
    {
        const completion_result r = completion_run(state, text, cursor, backwards, ctx);
        if (r.changed) {
            text = r.text;
            cursor = r.cursor;
        }
        return r;
    }
    void type(const std::string &t)
    {
        text = t;
        cursor = static_cast<int>(g_utf8_strlen(t.c_str(), -1));
    }

    session *chan = nullptr;
    completion_context ctx;
    completion_state state;
    std::string text;
    int cursor = 0;
};

TEST_F(Completion, TabCyclesThroughNicksWithThePrefixFirstTyped)
{
    type("ali");
    tab();
    EXPECT_EQ(text, "alice: ");
    tab();
    EXPECT_EQ(text, "alicia: ");
    tab();
    EXPECT_EQ(text, "alice: "); // wraps
    tab(true);
    EXPECT_EQ(text, "alicia: ");
    // Space without a binding ends the cycle; the next word starts afresh.
    state = {};
    type("alicia: hi al");
    tab();
    EXPECT_EQ(text, "alicia: hi Alfred ");
    EXPECT_EQ(cursor, 18);
}

TEST_F(Completion, TextAfterTheCursorStaysAndOnlyTheFirstWordGetsTheSuffix)
{
    text = "bo and more";
    cursor = 2;
    tab();
    EXPECT_EQ(text, "bob: and more");
    EXPECT_EQ(cursor, 5);
    type("@ali");
    state = {};
    tab();
    EXPECT_EQ(text, "@alice: ") << "a prefix typed before the nick is kept";
}

TEST_F(Completion, MoreCandidatesThanTheAmountListThemAndInsertTheCommonPart)
{
    ctx.amount = 2;
    type("A");
    const completion_result r = tab();
    EXPECT_EQ(text, "Al") << "the common beginning, spelled as the first candidate";
    ASSERT_EQ(r.listing.size(), 1u);
    EXPECT_EQ(r.listing[0], "Alfred alice alicia");
    // The next press completes the longer word afresh (still three: listed again).
    EXPECT_EQ(tab().listing.size(), 1u);
    type("ali");
    state = {};
    tab();
    EXPECT_EQ(text, "alice: ");
}

TEST_F(Completion, RecentSpeakersFirstAndOwnNickLastWhenSortingByTalk)
{
    userlist_find(chan, "alicia")->lasttalk = 200;
    userlist_find(chan, "alice")->lasttalk = 100;
    userlist_find(chan, "me")->lasttalk = 300; // spoke last, but is the user
    const auto by_talk = completion_candidates(chan, completion_kind::nick, "", true);
    EXPECT_EQ(by_talk, (std::vector<std::string>{"alicia", "alice", "Alfred", "bob", "me"}));
    EXPECT_EQ(completion_candidates(chan, completion_kind::nick, "ALI", false),
              (std::vector<std::string>{"alice", "alicia"}));
}

TEST_F(Completion, ChannelsAndCommandsComplete)
{
    channel("#lumen");
    type("join #lu");
    tab();
    EXPECT_EQ(text, "join #lumen ");
    type("/jo");
    state = {};
    tab();
    EXPECT_EQ(text, "/join ") << "commands keep the case they were typed in";
}

TEST_F(Completion, DialogCompletesOnlyThePeerWithoutSuffix)
{
    session *dlg = new_ircwindow(serv, "Zed", SESS_DIALOG, 0);
    ctx = completion_context_for(dlg);
    ctx.suffix = ':';
    type("ze");
    tab();
    EXPECT_EQ(text, "Zed ");
    type("al");
    state = {};
    EXPECT_FALSE(tab().changed);
}

TEST(Replace, WordIsReplacedOnlyOnceComplete)
{
    const std::vector<replace_entry> list = {{"u", "you"}, {"teh", "the"}};
    // Typing "until" letter by letter never replaces its first letter.
    std::string typed;
    for (char c : std::string("until")) {
        typed += c;
        EXPECT_FALSE(replace_check(typed, static_cast<int>(typed.size()), list, false)) << typed;
    }
    EXPECT_EQ(replace_check("u ", 2, list, false), (replace_result{"you ", 4}));
    EXPECT_EQ(replace_check("see u", 5, list, true), (replace_result{"see you", 7})) << "the line is sent";
    EXPECT_FALSE(replace_check("u_", 2, list, true));
    EXPECT_FALSE(replace_check("\xc3\xa9u ", 3, list, false)) << "a letter before it makes it part of a word";
    EXPECT_FALSE(replace_check("untel", 5, list, true));
}

TEST(Replace, TheOccurrenceNearestTheCursorGoesFirst)
{
    const std::vector<replace_entry> list = {{"teh", "the"}};
    // Cursor inside the second occurrence.
    EXPECT_EQ(replace_check("teh cat teh dog", 9, list, false), (replace_result{"teh cat the dog", 11}));
    // Both before the cursor: the nearer one; the cursor keeps its place after it.
    EXPECT_EQ(replace_check("teh, teh, x", 11, list, false), (replace_result{"teh, the, x", 11}));
    EXPECT_FALSE(replace_check("teh", 3, {{"", "x"}}, true)) << "an empty entry is ignored";
}

} // namespace
