// The server-line parser: message tags and the time tag, word splitting,
// the community splitting vectors, and the dispatch of numerics, named
// messages and prefix-less lines to the right tab, with the right event and
// the right bytes back on the wire. Hostile lines must never crash it.
#include "irc_lines.h"

#include "irc/cap.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "servlist/servlist.h"

#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

using namespace std::string_literals;

namespace
{

using tag_map = std::map<std::string, std::string>;

tag_map all_tags(const std::string &section)
{
    tag_map out;
    message_tags_foreach(
        section.c_str(),
        [](const char *key, const char *value, void *data) { (*static_cast<tag_map *>(data))[key] = value; }, &out);
    return out;
}

// The tags this client keeps, as a printable value.
struct kept_tags {
    std::string account, msgid, reply, typing;
    bool identified = false;
    time_t timestamp = 0;
    bool operator==(const kept_tags &) const = default;
};
std::ostream &operator<<(std::ostream &os, const kept_tags &t)
{
    return os << "{account=" << t.account << " msgid=" << t.msgid << " reply=" << t.reply << " typing=" << t.typing
              << " identified=" << t.identified << " time=" << t.timestamp << "}";
}

kept_tags keep(server *serv, const std::string &section)
{
    message_tags_data tags;
    handle_message_tags(serv, section.c_str(), &tags);
    auto text = [](const char *s) { return s ? std::string(s) : std::string("<none>"); };
    kept_tags out{text(tags.account), text(tags.msgid), text(tags.reply),
                  text(tags.typing),  tags.identified,  tags.timestamp};
    message_tags_data_free(&tags);
    return out;
}

// A line split the way the parser does, with its parameters read back as
// a protocol parser would list them.
struct split_line {
    bool dropped = false;
    tag_map tags;
    std::optional<std::string> source;
    std::string verb;
    std::vector<std::string> params;
    bool operator==(const split_line &) const = default;
};
std::ostream &operator<<(std::ostream &os, const split_line &s)
{
    if (s.dropped)
        return os << "<dropped>";
    os << "{tags:";
    for (const auto &[k, v] : s.tags)
        os << " " << k << "=" << testing::PrintToString(v);
    os << " source=" << (s.source ? testing::PrintToString(*s.source) : "<none>") << " verb=" << s.verb << " params:";
    for (const std::string &p : s.params)
        os << " " << testing::PrintToString(p);
    return os << "}";
}

split_line split(const std::string &input)
{
    split_line out;
    std::string line = input;
    char *body = line.data();
    if (body[0] == '@') {
        char *space = strchr(body, ' ');
        if (!space) {
            out.dropped = true;
            return out;
        }
        *space = 0;
        out.tags = all_tags(body + 1);
        body = space + 1;
    }
    std::string work(strlen(body) + 1, '\0');
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];
    split_server_line(body, work.data(), word, word_eol);
    int first = 2;
    if (word[1][0] == ':') {
        out.source = word[1] + 1;
        out.verb = word[2];
        first = 3;
    } else {
        out.verb = word[1];
    }
    // The word arrays keep the ":" of the trailing parameter and let it run
    // to the end of the line (word_eol); a protocol parser's parameter list
    // is read back from them here.
    for (int i = first; i <= IRC_LINE_SPLIT_MAX; i++) {
        if (word[i][0] == ':') {
            out.params.push_back(word_eol[i] + 1);
            break;
        }
        if (!word[i][0])
            break;
        out.params.push_back(word[i]);
    }
    return out;
}

// ---- a reader for the community vector file (msg-split.yaml) -----------------------

std::string trim(const std::string &s)
{
    const std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return "";
    const std::size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

// A YAML scalar: double-quoted with its escapes, or plain.
std::string scalar(const std::string &raw)
{
    const std::string s = trim(raw);
    if (s.size() < 2 || s.front() != '"' || s.back() != '"')
        return s;
    std::string out;
    for (std::size_t i = 1; i + 1 < s.size(); i++) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case 'x':
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

struct split_vector {
    std::string input;
    split_line expected;
};

std::vector<split_vector> read_split_vectors(const std::string &file)
{
    std::ifstream in(file);
    std::vector<split_vector> out;
    enum { NONE, TAGS, PARAMS } mode = NONE;
    for (std::string raw; std::getline(in, raw);) {
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("- input:", 0) == 0) {
            out.push_back({scalar(line.substr(8)), {}});
            mode = NONE;
            continue;
        }
        if (out.empty())
            continue;
        split_line &e = out.back().expected;
        if (line == "tags:") {
            mode = TAGS;
        } else if (line == "params:") {
            mode = PARAMS;
        } else if (line.rfind("source:", 0) == 0) {
            e.source = scalar(line.substr(7));
            mode = NONE;
        } else if (line.rfind("verb:", 0) == 0) {
            e.verb = scalar(line.substr(5));
            mode = NONE;
        } else if (mode == PARAMS && line.rfind("- ", 0) == 0) {
            e.params.push_back(scalar(line.substr(2)));
        } else if (mode == TAGS) {
            // The key may be quoted; its ":" is the last one outside quotes.
            std::size_t colon = line[0] == '"' ? line.find("\":") + 1 : line.find(':');
            e.tags[scalar(line.substr(0, colon))] = scalar(line.substr(colon + 1));
        }
    }
    return out;
}

// Used when the community file is not installed: cases of the same kinds.
std::vector<split_vector> builtin_split_vectors()
{
    return {
        {"foo bar baz asdf", {false, {}, std::nullopt, "foo", {"bar", "baz", "asdf"}}},
        {":coolguy foo bar baz :  asdf quux ", {false, {}, "coolguy", "foo", {"bar", "baz", "  asdf quux "}}},
        {"foo bar baz ::asdf", {false, {}, std::nullopt, "foo", {"bar", "baz", ":asdf"}}},
        {":src AWAY ", {false, {}, "src", "AWAY", {}}},
        {":gravel.mozilla.org 432  #momo :Erroneous Nickname: Illegal characters",
         {false, {}, "gravel.mozilla.org", "432", {"#momo", "Erroneous Nickname: Illegal characters"}}},
        {"@a=b\\\\and\\nk;c=72\\s45;d=gh\\:764 foo",
         {false, {{"a", "b\\and\nk"}, {"c", "72 45"}, {"d", "gh;764"}}, std::nullopt, "foo", {}}},
        {"@c;h=;a=b :quux ab cd", {false, {{"c", ""}, {"h", ""}, {"a", "b"}}, "quux", "ab", {"cd"}}},
        {"@tag1=value1\\ COMMAND", {false, {{"tag1", "value1"}}, std::nullopt, "COMMAND", {}}},
        {"@tag1=1;tag2=3;tag1=5 COMMAND", {false, {{"tag1", "5"}, {"tag2", "3"}}, std::nullopt, "COMMAND", {}}},
        {":cool\tguy foo bar baz", {false, {}, "cool\tguy", "foo", {"bar", "baz"}}},
    };
}

// ---- tags --------------------------------------------------------------------------

class Tags : public IrcLines
{
};

TEST_F(Tags, EscapesDecodeToTheirCharacters)
{
    EXPECT_EQ(all_tags("a=x\\sy;b=p\\:q;c=back\\\\slash;d=cr\\rlf\\n"),
              (tag_map{{"a", "x y"}, {"b", "p;q"}, {"c", "back\\slash"}, {"d", "cr\rlf\n"}}));
    // Any other escaped character stands for itself; a final backslash goes.
    EXPECT_EQ(all_tags("a=v\\1;b=end\\;c=\\"), (tag_map{{"a", "v1"}, {"b", "end"}, {"c", ""}}));
    // Escapes are read one character at a time: "\\n" is a backslash and n.
    EXPECT_EQ(all_tags("a=value\\\\ntest"), (tag_map{{"a", "value\\ntest"}}));
    // Empty tags and empty keys are skipped.
    EXPECT_EQ(all_tags(";;k;=orphan;v="), (tag_map{{"k", ""}, {"v", ""}}));
}

TEST_F(Tags, ValuesThatAreNotUtf8AreDropped)
{
    EXPECT_EQ(all_tags("msgid=\xff\xfe;+reply=ok"), (tag_map{{"+reply", "ok"}}));
    EXPECT_EQ(keep(serv, "msgid=abc;msgid=\xc3"), (kept_tags{"<none>", "abc", "<none>", "<none>", false, 0}))
        << "a dropped repeat leaves the earlier value";
}

TEST_F(Tags, RepeatedKeyReplacesTheEarlierValue)
{
    EXPECT_EQ(keep(serv, "msgid=1;+typing=active;msgid=2;+typing=done"),
              (kept_tags{"<none>", "2", "<none>", "done", false, 0}));
}

TEST_F(Tags, AccountIdentifiedAndTimeNeedTheirCapabilities)
{
    const std::string section = "account=alice;solanum.chat/identified;time=2023-11-14T22:13:20Z;msgid=m1;"
                                "+reply=r1;vendor/other=x";
    EXPECT_EQ(keep(serv, section), (kept_tags{"<none>", "m1", "r1", "<none>", false, 0}));

    serv->cap_account_tag = TRUE;
    serv->cap_identify_msg = TRUE;
    serv->cap_server_time = TRUE;
    EXPECT_EQ(keep(serv, section), (kept_tags{"alice", "m1", "r1", "<none>", true, 1700000000}));
}

TEST_F(Tags, TimeTagForms)
{
    EXPECT_EQ(parse_time_tag("2023-11-14T22:13:20.123Z"), 1700000000) << "fractions are dropped";
    EXPECT_EQ(parse_time_tag("2023-11-14T22:13:20Z"), 1700000000);
    EXPECT_EQ(parse_time_tag("1700000000"), 1700000000) << "digits only: epoch seconds";
    EXPECT_EQ(parse_time_tag("2023-13-01T00:00:00Z"), 1704067200) << "month 13 carries into the next year";
    for (const char *none :
         {"", "Z", "2023-11-14T22:13Z", "2023-11-14 22:13:20", "2023-11-14T22:13:20", "1700000000.5", "-5", "12abc",
          "1969-12-31T23:59:59Z", "99999999999999999999", "9999999999-01-01T00:00:00Z"}) {
        EXPECT_EQ(parse_time_tag(none), 0) << testing::PrintToString(none);
    }
}

// ---- words -----------------------------------------------------------------------------

TEST(Words, SplitAtRunsOfSpacesWithTheRestOfTheLine)
{
    std::string line = ":nick!u@h PRIVMSG  #c :hello  world ";
    std::string work(line.size() + 1, 'X');
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];
    split_server_line(line.data(), work.data(), word, word_eol);
    EXPECT_STREQ(word[0], "");
    EXPECT_STREQ(word[1], ":nick!u@h");
    EXPECT_STREQ(word[3], "#c");
    EXPECT_STREQ(word[4], ":hello");
    EXPECT_STREQ(word[5], "world");
    EXPECT_STREQ(word_eol[3], "#c :hello  world ");
    EXPECT_STREQ(word_eol[4], ":hello  world ");
    for (int i = 6; i < IRC_LINE_WORDS; i++) {
        EXPECT_STREQ(word[i], "") << i;
        EXPECT_STREQ(word_eol[i], "") << i;
    }
}

TEST(Words, AtMostThirtyOneWordsAndTheLastSlotStaysEmpty)
{
    std::string line;
    for (int i = 1; i <= 40; i++)
        line += "w" + std::to_string(i) + " ";
    std::string work(line.size() + 1, 'X');
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];
    split_server_line(line.data(), work.data(), word, word_eol);
    EXPECT_STREQ(word[31], "w31");
    EXPECT_EQ(std::string(word_eol[31]).rfind("w31 w32 ", 0), 0u);
    EXPECT_STREQ(word[32], "");
    EXPECT_STREQ(word_eol[32], "");
}

// Community vectors: tag unescaping and the prefix/command/parameter split
// agree with this client's rules. On purpose the client differs in what it
// keeps, not in how it splits: the word arrays keep the trailing
// parameter's ":" (read back above), and only six tag keys reach handlers
// (handle_message_tags); message_tags_foreach is the splitter both share.
TEST(CommunityVectors, MessageSplitting)
{
    const char *env_dir = getenv("LUMENWICK_CONFORMANCE_DIR");
    const std::string file =
        std::string(env_dir && env_dir[0] ? env_dir : LUMENWICK_CONFORMANCE_DIR) + "/irc-parser-tests/msg-split.yaml";
    std::vector<split_vector> vectors = read_split_vectors(file);
    if (vectors.empty()) {
        std::cout << "[ INFO     ] " << file << " not present; using the built-in cases\n";
        vectors = builtin_split_vectors();
    } else {
        EXPECT_GE(vectors.size(), 30u) << "the reader lost cases";
    }
    for (const split_vector &v : vectors)
        EXPECT_EQ(split(v.input), v.expected) << "input: " << testing::PrintToString(v.input);
}

// ---- dispatch -------------------------------------------------------------------------------

class Dispatch : public IrcLines
{
};

TEST_F(Dispatch, PingIsAnsweredWithTheSameText)
{
    recv("PING :irc.test");
    EXPECT_EQ(sent(), "PONG :irc.test\r\n");
    recv(":irc.test PING me :token 1");
    EXPECT_EQ(sent(), "PONG me :token 1\r\n");
    recv("@time=1700000000 PING :tagged");
    EXPECT_EQ(sent(), "PONG :tagged\r\n");
}

TEST_F(Dispatch, LinesWithoutPrefix)
{
    recv("ERROR :Closing Link: me (Quit)");
    EXPECT_TRUE(shown(home, "Closing Link: me (Quit)"));
    recv("ERROR"); // shorter than "ERROR :": an empty text
    recv("NOTICE * :*** Looking up your hostname");
    EXPECT_TRUE(shown(home, "*** Looking up your hostname"));
    recv("WHATEVER this is");
    EXPECT_TRUE(shown(home, "WHATEVER this is"));
    recv("NOTE * OPER_MESSAGE :the server notes");
    EXPECT_TRUE(shown(home, "the server notes"));
    EXPECT_EQ(sent(), "");
}

TEST_F(Dispatch, TaggedLineWithoutMessageIsDropped)
{
    recv("@msgid=1;time=2023");
    recv("@msgid=1 ");
    recv("");
    recv("   ");
    EXPECT_EQ(fe_recorder::count("fe_print_text"), 0) << fe_recorder::dump();
}

TEST_F(Dispatch, StandardRepliesWithAndWithoutCommand)
{
    recv(":irc.test FAIL * ACCOUNT_REQUIRED :Authentication required");
    EXPECT_TRUE(shown(home, "Authentication required"));
    // Context parameters between code and description are not part of it.
    recv(":irc.test WARN REHASH CERTS_EXPIRED certs.pem :Certificate expired");
    EXPECT_TRUE(shown(home, "Warning: REHASH: Certificate expired"));
    EXPECT_FALSE(shown(home, "certs.pem"));
    session *chan = channel("#c");
    recv(":irc.test NOTE #c SOMETHING :in the channel");
    EXPECT_TRUE(shown(chan, "#c: in the channel")) << "a channel as word 3 makes the channel the target";
}

TEST_F(Dispatch, WelcomeTakesTheNickAndNamesTheServer)
{
    recv(":irc.test 001 Me_Too :Welcome to the Test Network Me_Too!u@127.0.0.1");
    EXPECT_STREQ(serv->nick, "Me_Too");
    EXPECT_STREQ(serv->announced_name, "irc.test");
    EXPECT_TRUE(shown(home, "Welcome to the Test Network Me_Too!u@127.0.0.1"));
}

TEST_F(Dispatch, NickInUseRetriesDuringLoginOnly)
{
    recv(":irc.test 433 * me :Nickname is already in use");
    EXPECT_EQ(sent(), "NICK me_\r\n");
    EXPECT_TRUE(shown(home, "me is already in use. Retrying with me_"));

    recv(":irc.test 376 me_ :End of /MOTD command.");
    EXPECT_TRUE(serv->motd_done);
    recv(":irc.test 433 me_ taken :Nickname is already in use");
    EXPECT_EQ(sent(), "") << "after the MOTD it is only shown";
    EXPECT_TRUE(shown(home, "Nickname is already in use"));
}

TEST_F(Dispatch, TemporarilyUnavailableChannelIsNotANickProblem)
{
    recv(":irc.test 437 * #busy :Channel is temporarily unavailable");
    EXPECT_EQ(sent(), "");
    EXPECT_TRUE(shown(home, "Channel is temporarily unavailable"));
}

TEST_F(Dispatch, GenericNumericGoesToTheTabItNames)
{
    session *chan = channel("#chan");
    session *bob = dialog("bob");
    recv(":irc.test 404 me #chan :Cannot send to channel");
    recv(":irc.test 401 me bob :No such nick");
    recv(":irc.test 999 me :something else");
    EXPECT_TRUE(shown(chan, "Cannot send to channel"));
    EXPECT_TRUE(shown(bob, "No such nick"));
    EXPECT_TRUE(shown(home, "something else"));
    EXPECT_FALSE(shown(home, "No such nick"));
}

TEST_F(Dispatch, NumericsOfEachFamilyReachTheirHandler)
{
    session *chan = channel("#c");
    recv(":irc.test 332 me #c :the channel topic");
    EXPECT_STREQ(chan->topic, "the channel topic");
    recv(":irc.test 474 me #closed :Cannot join channel (+b)");
    EXPECT_TRUE(shown(home, "Cannot join #closed (you are banned)."));
    recv(":irc.test 704 me index :Help topics available");
    EXPECT_TRUE(shown(home, "Help topics available"));
    // A family's handler may decline a line: it is then shown as it came.
    recv(":irc.test 354 me 999 u h s n H :other token");
    EXPECT_TRUE(shown(home, "999 u h s n H :other token")) << fe_recorder::dump();
}

TEST_F(Dispatch, WhoisSequenceAndQuietWhois)
{
    recv(":irc.test 311 me bob bobu bob.host * :Bob Real");
    EXPECT_TRUE(serv->in_whois);
    EXPECT_TRUE(shown(home, "Bob Real"));
    recv(":irc.test 671 me bob :is using a secure connection");
    EXPECT_TRUE(shown(home, "is using a secure connection")) << "unknown numerics inside WHOIS belong to it";
    recv(":irc.test 318 me bob :End of /WHOIS list.");
    EXPECT_FALSE(serv->in_whois);
    EXPECT_TRUE(shown(home, "End of WHOIS list."));

    const std::size_t before = lines_in(home);
    serv->whois_quiet = TRUE;
    recv(":irc.test 311 me carol cu c.host * :Carol");
    recv(":irc.test 312 me carol irc.test :Test server");
    recv(":irc.test 317 me carol 3725 1700000000 :seconds idle, signon time");
    recv(":irc.test 318 me carol :End of /WHOIS list.");
    EXPECT_EQ(lines_in(home), before) << "replies to the client's own WHOIS stay hidden";
    EXPECT_FALSE(serv->whois_quiet) << "only the one WHOIS";
    EXPECT_FALSE(serv->in_whois);

    recv(":irc.test 317 me carol 3725 0 :seconds idle");
    EXPECT_TRUE(shown(home, "01:02:05"));
}

TEST_F(Dispatch, InternalWhoAndUserhostStayHidden)
{
    serv->who_quiet = TRUE;
    recv(":irc.test 315 me bob :End of /WHO list.");
    EXPECT_FALSE(serv->who_quiet);
    recv(":irc.test 315 me carol :End of /WHO list.");
    EXPECT_EQ(fe_recorder::shown(home).size(), 1u) << "only the second is shown";

    session *chan = channel("#c");
    chan->who_pending = TRUE;
    recv(":irc.test 352 me #c u h irc.test bob H :0 Bob");
    recv(":irc.test 315 me #c :End of /WHO list.");
    EXPECT_FALSE(chan->who_pending);
    EXPECT_EQ(fe_recorder::shown(home).size(), 1u);

    serv->userhost_pending = TRUE;
    recv(":irc.test 302 me :me*=+u@192.0.2.7");
    EXPECT_FALSE(serv->userhost_pending);
    EXPECT_TRUE(shown(home, "192.0.2.7")) << "the own address is found (an operator's nick carries a *)";
    recv(":irc.test 302 me :other=+u@198.51.100.1");
    EXPECT_TRUE(shown(home, "other=+u@198.51.100.1")) << "without a pending lookup the reply is shown";
}

TEST_F(Dispatch, ChannelModesAndCreationRespectTheJoinFlags)
{
    session *chan = channel("#c");
    chan->ignore_mode = TRUE;
    chan->ignore_date = TRUE;
    recv(":irc.test 324 me #c +nt");
    recv(":irc.test 329 me #c 1700000000");
    EXPECT_FALSE(chan->ignore_mode);
    EXPECT_FALSE(chan->ignore_date);
    EXPECT_EQ(lines_in(chan), 0u) << "the automatic replies to a join stay hidden";
    EXPECT_GE(fe_recorder::count("fe_update_mode_buttons"), 2) << "the buttons still follow the modes";

    recv(":irc.test 324 me #c +ntk key");
    recv(":irc.test 329 me #c 1700000000");
    EXPECT_TRUE(shown(chan, "modes: +ntk key"));
    EXPECT_TRUE(shown(chan, "created on"));
}

TEST_F(Dispatch, ChannelListWithoutItsWindowIsPrinted)
{
    recv(":irc.test 322 me #linux 123 :[+nt] All about it");
    EXPECT_TRUE(shown(home, "#linux           123     [+nt] All about it"));
}

TEST_F(Dispatch, SaslEndsNegotiationOnce)
{
    serv->sasl_active = TRUE;
    serv->cap_ended = FALSE;
    recv(":irc.test 903 me :SASL authentication successful");
    EXPECT_EQ(sent(), "CAP END\r\n");
    EXPECT_FALSE(serv->sasl_active);
    EXPECT_TRUE(serv->cap_ended);
    EXPECT_TRUE(shown(home, "SASL authentication successful"));
    recv(":irc.test 907 me :You have already authenticated");
    EXPECT_EQ(sent(), "");

    serv->sasl_active = TRUE;
    serv->cap_ended = FALSE;
    recv(":irc.test 904 me :SASL authentication failed");
    EXPECT_EQ(sent(), "AUTHENTICATE *\r\nCAP END\r\n");
    recv(":irc.test 908 me PLAIN :are available SASL mechanisms");
    EXPECT_FALSE(shown(home, "available SASL mechanisms"));
}

TEST_F(Dispatch, ChallengeLoginIsAnsweredNotShown)
{
    serv->login_method = LOGIN_METHOD_CHALLENGE;
    g_strlcpy(serv->password, "secret-password", sizeof serv->password);
    g_strlcpy(prefs.irc_user_name, "Alice", sizeof prefs.irc_user_name);
    recv(":q!TheQBot@CServe.quakenet.org NOTICE me :CHALLENGE 0123abcd HMAC-SHA-256 HMAC-SHA-1");
    char *expected = challengeauth_response("Alice", "secret-password", "0123abcd");
    EXPECT_EQ(sent(), "PRIVMSG Q@CServe.quakenet.org :CHALLENGEAUTH Alice "s + expected + " HMAC-SHA-256\r\n");
    g_free(expected);
    EXPECT_EQ(lines_in(home), 0u);

    recv(":Q!fake@elsewhere NOTICE me :CHALLENGE 0123abcd HMAC-SHA-256");
    EXPECT_EQ(sent(), "") << "only the service's own prefix";
    EXPECT_TRUE(shown(home, "CHALLENGE 0123abcd"));
}

TEST_F(Dispatch, ChannelAndStatusMessagesReachTheChannel)
{
    session *chan = channel("#c");
    recv(":bob!u@h PRIVMSG #c :hello all");
    recv(":bob!u@h PRIVMSG @#c :ops only");
    EXPECT_TRUE(shown(chan, "hello all"));
    EXPECT_TRUE(shown(chan, "ops only"));
    recv(":bob!u@h PRIVMSG #elsewhere :not joined");
    EXPECT_FALSE(shown(home, "not joined")) << "messages to channels that are not open are dropped";
}

TEST_F(Dispatch, PrivateMessagesAndTheirEchoes)
{
    recv(":bob!u@h PRIVMSG me :hi there");
    session *bob = find_dialog(serv, "bob");
    ASSERT_NE(bob, nullptr) << "a private message opens its dialog";
    EXPECT_TRUE(shown(bob, "hi there"));
    recv(":ME!u@h PRIVMSG bob :my echo");
    EXPECT_TRUE(shown(bob, "my echo")) << "the own nick in any case is the user";
    recv(":me!u@h PRIVMSG carol :to nobody open");
    EXPECT_TRUE(shown(home, ">carol<"));
}

TEST_F(Dispatch, ServerTimeReachesTheEvent)
{
    session *chan = channel("#c");
    serv->cap_server_time = TRUE;
    recv("@time=2023-11-14T22:13:20.000Z :bob!u@h PRIVMSG #c :late");
    bool found = false;
    for (const auto &c : fe_recorder::calls_named("fe_print_text"))
        found = found || (c.sess == chan && c.args.find("stamp=1700000000") != std::string::npos);
    EXPECT_TRUE(found) << fe_recorder::dump();
}

TEST_F(Dispatch, OwnJoinPartAndKickUseTheServersNickComparison)
{
    recv(":ME!u@h JOIN :#new");
    session *chan = find_channel(serv, "#new");
    ASSERT_NE(chan, nullptr) << "the own join opens the tab";
    EXPECT_TRUE(shown(chan, "Now talking on #new"));

    recv(":bob!u@h JOIN #new bobacct :Bob Real");
    EXPECT_TRUE(shown(chan, "bob"));
    recv(":[me]!u@h PART #new :bye"); // another nick: [ and { differ from m
    EXPECT_FALSE(shown(chan, "You have left"));
    recv(":Me!u@h PART #new :bye");
    EXPECT_TRUE(shown(chan, "You have left channel #new"));
    recv(":me!u@h JOIN :#new");
    recv(":bob!u@h JOIN #new");
    recv(":op!u@h KICK #new bob :you first");
    EXPECT_TRUE(shown(chan, "has kicked bob"));
    recv(":op!u@h KICK #new ME :out");
    EXPECT_TRUE(shown(chan, "You have been kicked from #new by op"));
}

TEST_F(Dispatch, AwayWithoutColonStillMeansAway)
{
    session *chan = channel("#c");
    recv(":bob!u@h JOIN #c");
    User *bob = userlist_find(chan, "bob");
    ASSERT_NE(bob, nullptr);
    recv(":bob!u@h AWAY :gone fishing");
    EXPECT_TRUE(bob->away);
    recv(":bob!u@h AWAY");
    EXPECT_FALSE(bob->away);
    recv(":bob!u@h AWAY lunch");
    EXPECT_TRUE(bob->away) << "any text after the nick means away";
}

TEST_F(Dispatch, TypingNotificationsReachTheFrontEnd)
{
    session *bob = dialog("bob");
    session *chan = channel("#c");
    recv("@+typing=active :bob!u@h TAGMSG me");
    recv("@+typing=paused :bob!u@h TAGMSG #c");
    recv("@+typing=bogus :bob!u@h TAGMSG #c");
    recv("@+typing=active :me!u@h TAGMSG #c");
    recv(":bob!u@h TAGMSG #c");
    const auto calls = fe_recorder::calls_named("fe_set_typing");
    ASSERT_EQ(calls.size(), 2u) << fe_recorder::dump();
    EXPECT_EQ(calls[0].sess, bob);
    EXPECT_NE(calls[0].args.find("\"active\""), std::string::npos);
    EXPECT_EQ(calls[1].sess, chan);
    EXPECT_NE(calls[1].args.find("\"paused\""), std::string::npos);
}

TEST_F(Dispatch, NamedMessagesShowTheirEvents)
{
    session *chan = channel("#c");
    recv(":op!u@h INVITE me :#secret");
    EXPECT_TRUE(shown(home, "You have been invited to #secret by op (irc.test)"));
    recv(":oper!u@h WALLOPS :maintenance soon");
    EXPECT_TRUE(shown(home, "maintenance soon"));
    recv(":bob!u@h TOPIC #c :new topic");
    EXPECT_TRUE(shown(chan, "bob has changed the topic of #c to: new topic"));
    recv(":bob!u@h NOTICE me :psst");
    EXPECT_TRUE(shown(home, "psst"));
    recv(":bob!u@h NOTICE #c :to all");
    EXPECT_TRUE(shown(chan, "to all"));
    recv(":irc.test CAP * LS :multi-prefix");
    EXPECT_TRUE(shown(home, "multi-prefix")) << "CAP reaches the negotiation";
}

TEST_F(Dispatch, CommandsAreRecognisedByTheirFirstFourLetters)
{
    session *chan = channel("#c");
    recv(":bob!u@h PRIVMSGX #c :long form");
    EXPECT_TRUE(shown(chan, "long form"));
    recv(":bob!u@h PRIV #c :short form");
    EXPECT_TRUE(shown(chan, "GARBAGE: bob!u@h PRIV #c :short form")) << "four letters match exactly";
    recv(":bob!u@h privmsg #c :lower case");
    EXPECT_TRUE(shown(chan, "GARBAGE: bob!u@h privmsg"));
}

// Whatever a server sends, the parser must neither crash nor read outside
// its buffers (the sanitizer builds of these tests check the second part).
TEST_F(Dispatch, HostileLinesNeverCrash)
{
    channel("#c");
    dialog("bob");
    std::vector<std::string> lines = {"",
                                      ":",
                                      ": ",
                                      "::",
                                      ":x",
                                      ":x ",
                                      "@",
                                      "@ ",
                                      "@;",
                                      "@=",
                                      "@a=\\",
                                      "@a=b ",
                                      "@a :",
                                      "\x01",
                                      ":\x01 \x01 \x01",
                                      ":a!b@c PRIVMSG #c :\x01",
                                      ":a!b@c PRIVMSG #c :\x01\x01",
                                      ":a!b@c PRIVMSG me :\x01 \x01",
                                      ":a!b@c PRIVMSG",
                                      ":a!b@c PRIVMSG @",
                                      ":a!b@c NOTICE",
                                      ":a!b@c CAP",
                                      ":a!b@c CAP x",
                                      "AUTHENTICATE",
                                      "AUTHENTICATE +",
                                      "PING",
                                      "PING ",
                                      ":!@ JOIN",
                                      ":! PART",
                                      "!!!! :::: ####",
                                      ":a 001",
                                      ":a 0",
                                      ":a 00000000001",
                                      ":a 99999999999999999999",
                                      ":a -1",
                                      ":a 302 me :=@",
                                      ":a 302 me :=",
                                      ":a 302 me :x",
                                      "@time=" + std::string(300, '9') + " :a PRIVMSG #c :t"};
    const std::vector<std::string> commands = {
        "MODE",    "NOTE",   "WARN",    "FAIL",    "PING",    "PONG",         "KICK",     "NICK",   "KILL",
        "JOIN",    "QUIT",   "PART",    "AWAY",    "CHGHOST", "AUTHENTICATE", "TOPIC",    "NOTICE", "INVITE",
        "WALLOPS", "TAGMSG", "SETNAME", "ACCOUNT", "PRIVMSG", "CAP",          "GARBAGEX", "ABC"};
    for (const std::string &cmd : commands) {
        lines.push_back(":nick!user@host " + cmd);
        lines.push_back(":nick!user@host " + cmd + " :");
        lines.push_back("@+typing=active;account=a :nick!user@host " + cmd + " #c :a b c");
        lines.push_back(":me!u@h " + cmd + " me me me me");
    }
    for (int n = 0; n < 1000; n++) {
        lines.push_back(":irc.test " + std::to_string(n));
        lines.push_back(":irc.test " + std::to_string(n) + " me #c bob :" + std::string(40, 'x'));
        std::string many = ":irc.test " + std::to_string(n);
        for (int w = 0; w < 40; w++)
            many += " w" + std::to_string(w);
        lines.push_back(many);
    }
    lines.push_back(std::string(LINE_BUFFER_SIZE, 'a'));
    lines.push_back(":a!b@c PRIVMSG #c :" + std::string(LINE_BUFFER_SIZE - 1, 'x'));
    lines.push_back("@" + std::string(20000, ';') + " :a PRIVMSG #c :t");
    std::string noise;
    for (int i = 1; i < 256; i++)
        noise += static_cast<char>(i == ' ' ? '\x7f' : i);
    lines.push_back(noise);
    lines.push_back(":" + noise + " PRIVMSG #c :" + noise);

    serv->cap_account_tag = serv->cap_server_time = serv->cap_identify_msg = TRUE;
    for (const std::string &line : lines) {
        serv->whois_quiet = serv->in_whois = FALSE;
        recv(line);
        ASSERT_TRUE(is_session(home)) << line;
    }
    sent();
    // A line handed over with a length past its terminator stops at it.
    char buf[] = "PING :short";
    serv->p_inline(serv, buf, 1000);
    EXPECT_EQ(sent(), "PONG :short\r\n");
}

} // namespace
