// CTCP requests as they arrive in PRIVMSG: the automatic VERSION answer,
// the user's replies from ctcpreply.conf, ACTION, SOUND, DCC offers and the
// generic display; and the template expansion the replies go through.
#include "irc_lines.h"

#include "base/util.h"
#include "commands/outbound.h"
#include "dcc/dcc.h"

#include <cstring>

using namespace std::string_literals;

namespace
{

class Ctcp : public IrcLines
{
  protected:
    // ctcpreply.conf replaced by `records` (NAME/CMD text).
    void use_ctcp_replies(const std::string &records)
    {
        write_file("ctcpreply.conf", records);
        list_load_all();
    }
    void request(const std::string &from, const std::string &to, const std::string &ctcp)
    {
        recv(":" + from + "!user@host PRIVMSG " + to + " :\x01" + ctcp + "\x01");
    }
};

TEST_F(Ctcp, VersionIsAnsweredOnceAndShown)
{
    request("bob", "me", "VERSION");
    EXPECT_EQ(sent(), "NOTICE bob :\x01VERSION Lumenwick 2.19.1 / "s + get_sys_str(1) + "\x01\r\n");
    EXPECT_TRUE(shown(home, "Received a CTCP VERSION from bob"));
}

TEST_F(Ctcp, RequestWithoutTrailingColonIsStillRecognised)
{
    recv(":bob!user@host PRIVMSG me \x01VERSION\x01");
    EXPECT_EQ(sent(), "NOTICE bob :\x01VERSION Lumenwick 2.19.1 / "s + get_sys_str(1) + "\x01\r\n");
}

TEST_F(Ctcp, HiddenVersionIsNotAnswered)
{
    prefs.irc_hide_version = 1;
    request("bob", "me", "VERSION");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(home, "Received a CTCP VERSION from bob"));
}

TEST_F(Ctcp, UserVersionReplyRunsBesideTheAutomaticOne)
{
    use_ctcp_replies("NAME VERSION\nCMD quote NOTICE %s :custom %v\n\n");
    request("bob", "me", "version");
    EXPECT_EQ(sent(), "NOTICE bob :\x01VERSION Lumenwick 2.19.1 / "s + get_sys_str(1) + "\x01\r\n" +
                          "NOTICE bob :custom 2.19.1\r\n");
}

TEST_F(Ctcp, PingIsAnsweredByTheBuiltInReply)
{
    request("bob", "me", "PING 1700000000123");
    // The built-in entry is "nctcp %s PING %d". Until the command set has
    // NCTCP, an unknown command goes to the server as it stands.
    const std::string expected = find_internal_command("NCTCP") ? "NOTICE bob :\x01PING 1700000000123\x01\r\n"
                                                                : "nctcp bob PING 1700000000123\r\n";
    EXPECT_EQ(sent(), expected);
    EXPECT_TRUE(shown(home, "Received a CTCP PING 1700000000123 from bob")) << "answered and still shown";
}

TEST_F(Ctcp, UserRepliesExpandTheRequest)
{
    use_ctcp_replies("NAME FINGER\nCMD quote NOTICE %s :finger %d on %e\n\n"
                     "NAME finger\nCMD quote NOTICE %s :second\n\n"
                     "NAME NEEDSARG\nCMD quote NOTICE %s :%6\n\n");
    request("bob", "me", "FINGER arg1 arg2");
    EXPECT_EQ(sent(), "NOTICE bob :finger arg1 arg2 on net\r\nNOTICE bob :second\r\n")
        << "every entry of that name, in order";
    request("bob", "me", "NEEDSARG");
    EXPECT_EQ(sent(), "") << "a reply that needs a word the request lacks does not run";
    EXPECT_TRUE(shown(home, "Received a CTCP NEEDSARG from bob"));
}

TEST_F(Ctcp, UnknownRequestIsShownWhereItWasSent)
{
    session *chan = channel("#c");
    request("bob", "#c", "FOO bar");
    EXPECT_TRUE(shown(chan, "Received a CTCP FOO bar from bob (to #c)"));
    request("bob", "me", "BAR");
    EXPECT_TRUE(shown(home, "Received a CTCP BAR from bob"));
    request("bob", "me", "");
    EXPECT_EQ(sent(), "");
}

TEST_F(Ctcp, ActionsReachChannelAndDialog)
{
    session *chan = channel("#c");
    session *bob = dialog("bob");
    request("bob", "#c", "ACTION waves");
    EXPECT_TRUE(shown(chan, "bob waves"));
    request("me", "bob", "ACTION echoes back");
    EXPECT_TRUE(shown(bob, "me echoes back")) << "the user's own action to a nick lands in that dialog";
    EXPECT_EQ(sent(), "");
}

TEST_F(Ctcp, SoundIsPlayedOnlyFromTheSoundsFolder)
{
    ASSERT_EQ(g_mkdir_with_parents(path("sounds").c_str(), 0700), 0);
    write_file("sounds/ding.wav", "RIFF");
    write_file("elsewhere.wav", "RIFF");
    request("bob", "me", "SOUND ding.wav");
    request("bob", "me", "SOUND ../elsewhere.wav");
    EXPECT_TRUE(shown(home, "Received a CTCP sound ding.wav from bob"));
    EXPECT_TRUE(shown(home, "Received a CTCP sound ../elsewhere.wav from bob"));
    request("bob", "me", "SOUND missing.wav");
    EXPECT_TRUE(fe_recorder::messages().empty()) << "someone else's request never opens an error dialog";
    // The one file inside the sounds folder is played; a path is shown, never
    // played, and a missing file is skipped.
    const auto played = fe_recorder::calls_named("fe_play_sound");
    ASSERT_EQ(played.size(), 1u) << fe_recorder::dump();
    EXPECT_EQ(played[0].args, "\"" + path("sounds/ding.wav") + "\"");
}

TEST_F(Ctcp, DccOfferKeepsAQuotedFileNameAsOneWord)
{
    prefs.dcc_auto_recv = 0;
    request("bob", "me", "DCC SEND \"my file.txt\" 2130706433 5000 100");
    EXPECT_TRUE(shown(home, "bob [127.0.0.1:5000] has offered my file.txt (100 bytes)"));
    EXPECT_EQ(sent(), "");
    DCC *offer = find_dcc("bob", "my file.txt", DCC_KIND_RECV);
    ASSERT_NE(offer, nullptr);
    dcc_abort(nullptr, offer);
    dcc_abort(nullptr, offer);
}

// ---- the template language of the replies -------------------------------------------

struct expansion {
    int result;
    std::string text;
    bool operator==(const expansion &) const = default;
};
std::ostream &operator<<(std::ostream &os, const expansion &e)
{
    return os << e.result << " " << testing::PrintToString(e.text);
}

expansion expand(const char *tmpl, int size = 512)
{
    char w0[] = "", w1[] = "cmd", w2[] = "first", w3[] = "second";
    char e0[] = "", e1[] = "cmd first second", e2[] = "first second", e3[] = "second";
    char *word[PDIWORDS];
    char *word_eol[PDIWORDS];
    for (int i = 0; i < PDIWORDS; i++)
        word[i] = word_eol[i] = w0;
    word[1] = w1, word[2] = w2, word[3] = w3;
    word_eol[0] = e0, word_eol[1] = e1, word_eol[2] = e2, word_eol[3] = e3;
    char a[] = "A", c[] = "#chan", d[] = "D", e[] = "Net", h[] = "H", n[] = "me", s[] = "bob", u[] = "U";
    std::string out(static_cast<std::size_t>(size) + 8, '#');
    const int r = auto_insert(out.data(), size, reinterpret_cast<const unsigned char *>(tmpl), word, word_eol,
                              {a, c, d, e, h, n, s, u});
    EXPECT_LT(strlen(out.c_str()), static_cast<std::size_t>(size)) << "terminated inside the buffer";
    return {r, out.c_str()};
}

TEST(AutoInsert, WordsValuesAndCodes)
{
    EXPECT_EQ(expand("say %2 / &2"), (expansion{1, "say first / first second"}));
    EXPECT_EQ(expand("%a%c%d%e%h%n%s%u"), (expansion{1, "A#chanDNetHmebobU"}));
    EXPECT_EQ(expand("100%% &x %q %"), (expansion{1, "100% &x %q %"}));
    EXPECT_EQ(expand("%065&066%000x"), (expansion{1, "ABx"})) << "character codes; NUL is dropped";
    EXPECT_EQ(expand("v%v"), (expansion{1, "v2.19.1"}));
    EXPECT_EQ(expand("%t").text.size(), 19u);
    EXPECT_EQ(expand("%y").text.size(), 8u);
    EXPECT_EQ(expand("missing %5 here").result, 0);
}

TEST(AutoInsert, ResultThatDoesNotFitIsCutAtACharacter)
{
    EXPECT_EQ(expand("abcdef", 4), (expansion{2, "abc"}));
    EXPECT_EQ(expand("ab\xc3\xa9", 4), (expansion{2, "ab"})) << "no half of a two-byte character";
    EXPECT_EQ(expand("x%2", 5), (expansion{2, "xfir"}));
    EXPECT_EQ(expand("abc", 4), (expansion{1, "abc"}));
}

} // namespace
