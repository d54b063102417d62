// The URL grabber over raw lines, url.log, and the classification of the
// word under the mouse.
#include "irc_lines.h"

#include "output/url.h"

#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{

class Url : public IrcLines
{
  protected:
    void SetUp() override
    {
        IrcLines::SetUp();
        url_clear();
        prefs.url_grabber = 1;
        prefs.url_grabber_limit = 0;
        prefs.url_logging = 0;
    }
    void TearDown() override
    {
        url_clear();
        IrcLines::TearDown();
    }
    static std::vector<std::string> grabbed() { return {url_grabbed().begin(), url_grabbed().end()}; }
    // The kind of `word` and the part of it that matched.
    static std::pair<int, std::string> word(const std::string &w)
    {
        const int kind = url_check_word(w.c_str());
        int start = -1, end = -1;
        EXPECT_EQ(url_last(&start, &end), kind);
        return {kind, kind ? w.substr(start, end - start) : ""};
    }
};

TEST_F(Url, LinesGiveUrlsWithoutSentencePunctuation)
{
    url_check_line(":a!b@c PRIVMSG #c :see http://example.com/a. (or https://www.example.org/x) now");
    url_check_line(":a!b@c NOTICE me :wiki https://en.example.org/wiki/F(b) and ftp://[::1]:21/pub, done");
    url_check_line(":irc.test 332 me #c :topic gemini://example.net/?q=1! ircs://irc.example.net:6697");
    url_check_line("PRIVMSG #c :xhttp://host.example/a?b=c&d=e#f");
    EXPECT_EQ(grabbed(), (std::vector<std::string>{"http://example.com/a", "https://www.example.org/x",
                                                   "https://en.example.org/wiki/F(b)", "ftp://[::1]:21/pub",
                                                   "gemini://example.net/?q=1", "ircs://irc.example.net:6697",
                                                   "http://host.example/a?b=c&d=e#f"}));
    EXPECT_EQ(fe_recorder::count("fe_url_add"), 7);

    url_clear();
    url_check_line(":a!b@c JOIN :http://example.com/chan");
    url_check_line(":a!b@c PRIVMSG http://example.com/target :no url here");
    url_check_line(":a!b@c PRIVMSG #c :http://nodot http://999.1 mailto:x@example.com");
    EXPECT_TRUE(grabbed().empty()) << "other commands, the target, and no host";
}

TEST_F(Url, GrabberKeepsOneOfEachWithinItsLimitAndLogs)
{
    prefs.url_grabber_limit = 3;
    prefs.url_logging = 1;
    for (const char *u :
         {"http://a.example/", "HTTP://A.EXAMPLE/", "http://b.example/", "http://c.example/", "http://d.example/"})
        url_check_line(("PRIVMSG #c :"s + u).c_str());
    EXPECT_EQ(grabbed(), (std::vector<std::string>{"http://b.example/", "http://c.example/", "http://d.example/"}));
    url_check_line("PRIVMSG #c :http://a.example/");
    EXPECT_EQ(grabbed().back(), "http://a.example/") << "the forgotten one is new again";

    gchar *log = nullptr;
    ASSERT_TRUE(g_file_get_contents(path("url.log").c_str(), &log, nullptr, nullptr));
    EXPECT_STREQ(log, "http://a.example/\nHTTP://A.EXAMPLE/\nhttp://b.example/\nhttp://c.example/\n"
                      "http://d.example/\nhttp://a.example/\n")
        << "the log has every sighting";
    g_free(log);

    ASSERT_TRUE(url_save_tree("saved.txt", "w", false));
    gchar *saved = nullptr;
    ASSERT_TRUE(g_file_get_contents(path("saved.txt").c_str(), &saved, nullptr, nullptr));
    EXPECT_STREQ(saved, "http://c.example/\nhttp://d.example/\nhttp://a.example/\n");
    g_free(saved);
    EXPECT_FALSE(url_save_tree((path("no/such/dir") + "/x").c_str(), "w", true));

    prefs.url_grabber = 0;
    prefs.url_logging = 0;
    url_check_line("PRIVMSG #c :http://e.example/");
    EXPECT_EQ(grabbed().size(), 3u);
}

TEST_F(Url, WordsAreClassified)
{
    using P = std::pair<int, std::string>;
    EXPECT_EQ(word("(https://example.com/a_(b))."), P(WORD_URL, "https://example.com/a_(b)"));
    EXPECT_EQ(word("<http://example.com>"), P(WORD_URL, "http://example.com"));
    EXPECT_EQ(word("www.example.co.uk/page"), P(WORD_URL, "www.example.co.uk/page")) << "a listed suffix";
    EXPECT_EQ(word("b\xc3\xbc\x63her.de"), P(WORD_URL, "b\xc3\xbc\x63her.de"));
    EXPECT_EQ(word("readme.txtfile").first, WORD_NONE) << "not a public suffix";
    EXPECT_EQ(word("192.0.2.1").first, WORD_NONE) << "no suffix without a scheme";
    EXPECT_EQ(word("http://192.0.2.1:8080/x"), P(WORD_URL, "http://192.0.2.1:8080/x"));
    EXPECT_EQ(word("example..com").first, WORD_NONE);
    EXPECT_EQ(word("bob@example.com,"), P(WORD_EMAIL, "bob@example.com")) << "the host after @ is no URL";
    EXPECT_EQ(word("first.last+tag@mail.example.org"), P(WORD_EMAIL, "first.last+tag@mail.example.org"));

    EXPECT_EQ(word("@#linux"), P(WORD_CHANNEL, "#linux")) << "an op prefix is not part of the channel";
    EXPECT_EQ(word("#a,#b"), P(WORD_CHANNEL, "#a,#b"));
    g_free(serv->chantypes);
    serv->chantypes = g_strdup("#");
    EXPECT_EQ(word("&local").first, WORD_NONE) << "not a channel type of this server";
}

TEST_F(Url, NicksInTheChannelAreClassified)
{
    session *chan = channel("#c");
    recv(":me!u@h JOIN #c");
    recv(":irc.test 353 me = #c :@me bob +[carl]");
    recv(":irc.test 366 me #c :End of /NAMES list.");
    current_sess = chan;
    using P = std::pair<int, std::string>;
    EXPECT_EQ(word("bob:"), P(WORD_NICK, "bob"));
    EXPECT_EQ(word("@bob,"), P(WORD_NICK, "bob"));
    EXPECT_EQ(word("[carl]"), P(WORD_NICK, "[carl]"));
    EXPECT_EQ(word("alice").first, WORD_NONE) << "not in the channel";
    EXPECT_EQ(word("~bob").first, WORD_NONE) << "~ is not a prefix of this server";
    current_sess = nullptr;
    EXPECT_EQ(word("bob").first, WORD_NONE);
}

} // namespace
