// Text events: the format language, formatting, emission with its alerts and
// rules, the events and sounds files, nick colours and the print pipeline.
#include "text_sessions.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace std::string_literals;

namespace
{

using fe_recorder::count;
using fe_recorder::printed;

// Formats event `index` with the given arguments, as text_emit would.
std::string format(int index, std::vector<const char *> args, unsigned strip = 0)
{
    char empty[] = "";
    char *word[PDIWORDS];
    word[0] = const_cast<char *>(te[index].name);
    for (int i = 1; i < PDIWORDS; i++)
        word[i] = i <= static_cast<int>(args.size()) ? const_cast<char *>(args[i - 1]) : empty;
    char out[TE_BUFFER_SIZE];
    format_event(nullptr, index, word, out, sizeof out, strip);
    return out;
}

// Replaces an event's text and recompiles the table (a broken text falls back).
void set_event_text(int index, const char *text)
{
    g_free(pntevts_text[index]);
    pntevts_text[index] = g_strdup(text);
    pevent_make_pntevts();
}

std::string compile(const char *text, int *max_arg = nullptr)
{
    char *out = nullptr;
    if (pevt_build_string(text, &out, max_arg) != 0)
        return "<error>";
    std::string bytes;
    for (const char *p = out;; p++) {
        bytes += *p;
        if (*p == 0) { // literal: length and bytes
            std::uint32_t n;
            memcpy(&n, p + 1, 4);
            bytes.append(p + 1, 4 + n);
            p += 4 + n;
        } else if (*p == 1) {
            bytes += *++p;
        } else if (*p == 2) {
            break;
        }
    }
    g_free(out);
    return bytes;
}

std::string literal_record(const std::string &text)
{
    std::uint32_t n = static_cast<std::uint32_t>(text.size());
    return std::string(1, '\0') + std::string(reinterpret_cast<const char *>(&n), 4) + text;
}

ino_t inode_of(const std::string &file)
{
    struct stat sb {
    };
    stat(file.c_str(), &sb);
    return sb.st_ino;
}

class Text : public TextSessions
{
};

} // namespace

TEST_F(Text, DefaultTextsFormatToTheirExactBytes)
{
    EXPECT_EQ(format(XP_TE_CHANNEL_MESSAGE, {"bob", "hello", "@", ""}),
              "\00312\010<\010bob\00312\010>\010\017\thello\n");
    EXPECT_EQ(format(XP_TE_KICK, {"op", "victim", "#c", "bye"}),
              "\00310*\017\t\00306op\003 has kicked \00312victim\003 from \00310#c\003 (\00312bye\017)\n");
    EXPECT_EQ(format(XP_TE_CONNECTING, {"irc.example", "10.0.0.1", "6697"}),
              "\00311*\017\tConnecting to \00302irc.example\003 (\0031110.0.0.1:6697\017)\n");
    // $a010 is a line break inside one event.
    EXPECT_EQ(format(XP_TE_DCC_MALFORMED, {"x", "pkt"}),
              "\00304*\017\tReceived a malformed DCC request from \00312x\017.\n"
              "\00311*\017\tContents of packet: \00311pkt\017\n");
    // Hidden text in an argument is dropped; in our own layout it stays.
    EXPECT_EQ(format(XP_TE_GENERIC_MESSAGE, {"a\010b", "c"}), "ab\tc\n");
    // Events without text print nothing at all.
    EXPECT_EQ(format(XP_TE_BEEP, {}), "");

    prefs.text_indent = 0;
    EXPECT_EQ(format(XP_TE_GENERIC_MESSAGE, {"left", "right"}), "left right\n");
}

TEST_F(Text, EveryDefaultCompilesWithinItsArgumentCount)
{
    for (int i = 0; i < NUM_XP; i++) {
        int max_arg = 0;
        ASSERT_EQ(pevt_build_string(te[i].def, nullptr, &max_arg), 0) << te[i].name;
        EXPECT_LE(max_arg, te[i].num_args & TE_ARGS_MASK) << te[i].name;
        EXPECT_STREQ(pntevts_text[i], te[i].def) << te[i].name;
    }
    EXPECT_TRUE(fe_recorder::messages().empty());
}

TEST_F(Text, CompilerRecordsAndCodes)
{
    int max_arg = 0;
    EXPECT_EQ(compile("a$$1", &max_arg), literal_record("a$1") + "\2");
    EXPECT_EQ(max_arg, -1);
    EXPECT_EQ(compile("%C04Hi %B$1%O", &max_arg),
              literal_record("\00304Hi \002") + "\1\0"s + literal_record("\017") + "\2");
    EXPECT_EQ(max_arg, 1);
    EXPECT_EQ(compile("$9$t$2", &max_arg), "\1\10\3\1\1\2"s);
    EXPECT_EQ(max_arg, 9);
    // $aNNN stays inside the literal run.
    EXPECT_EQ(compile("x$a065y"), literal_record("xAy") + "\2");
    // Percent codes: %% is a percent sign, %NNN a character, others stay.
    EXPECT_EQ(compile("%%B %065 %q %R%S%I%U%H"), literal_record("%B A %q \026\036\035\037\010") + "\2");
    EXPECT_EQ(compile("%000"), literal_record("%000") + "\2");
}

TEST_F(Text, CompilerErrorsWarnTheUserAndProduceNothing)
{
    const std::pair<const char *, const char *> cases[] = {
        {"$0", "Error, invalid argument $0\n"},    {"a $x", "Error, invalid argument $x\n"},
        {"ends in $", "String ends with a $"},     {"short $a25", "String ends in $a"},
        {"$a256", "$a value is greater than 255"}, {"$a1x5", "$a must be followed by three decimal digits"},
        {"$a000", "$a000 is not a character"},     {"$\xc3\xa9", "Error, invalid argument $\xc3\xa9\n"},
    };
    for (const auto &[text, message] : cases) {
        fe_recorder::reset();
        char *out = reinterpret_cast<char *>(1);
        EXPECT_EQ(pevt_build_string(text, &out, nullptr), 1) << text;
        EXPECT_EQ(out, reinterpret_cast<char *>(1)) << text;
        EXPECT_EQ(fe_recorder::messages(), std::vector<std::string>{message}) << text;
    }
}

TEST_F(Text, ArgumentsBeyondTheEventAreEmptyOrSkipped)
{
    set_event_text(XP_TE_QUIT, "[$4][$6]$1"); // Quit has three arguments
    EXPECT_EQ(format(XP_TE_QUIT, {"a", "b", "c"}), "[][]a\n");
}

TEST_F(Text, OverlongLinesAreCutAtACharacterAndStillShown)
{
    // A hostile 12000-byte message of three-byte characters.
    std::string text;
    while (text.size() < 12000)
        text += "\xe2\x82\xac";
    const std::string line = format(XP_TE_CHANNEL_MESSAGE, {"bob", text.c_str(), "", ""});
    EXPECT_GT(line.size(), 4000u);
    EXPECT_LT(line.size(), TE_BUFFER_SIZE);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_TRUE(g_utf8_validate(line.c_str(), -1, nullptr));

    // The same for a literal longer than the whole buffer.
    std::string long_text;
    while (long_text.size() < 6000)
        long_text += "\xc3\xa9";
    set_event_text(XP_TE_QUIT, (long_text + "$1").c_str());
    const std::string cut = format(XP_TE_QUIT, {"nick", "", ""});
    EXPECT_EQ(cut.size() % 2, 1u); // whole two-byte characters and the line feed
    EXPECT_EQ(cut.back(), '\n');
    EXPECT_TRUE(g_utf8_validate(cut.c_str(), -1, nullptr));
}

TEST_F(Text, StripFlagsSelectArguments)
{
    const char *nick = "\00304bob";
    const char *msg = "\002bold\017 \00312,01x";
    EXPECT_EQ(format(XP_TE_GENERIC_MESSAGE, {nick, msg}, 1u << 2), "\00304bob\tbold x\n");
    EXPECT_EQ(format(XP_TE_GENERIC_MESSAGE, {nick, msg}, ~0u), "bob\tbold x\n");
}

TEST_F(Text, EmittedMessagesAreShownAndNeverUsedAsFormats)
{
    session *chan = channel(network_tab("Net"), "#c");
    text_emit(XP_TE_CHANNEL_MESSAGE, chan, "%s%n", "%x %d %% %n", nullptr, nullptr, 1234);
    ASSERT_EQ(printed(chan).size(), 1u);
    EXPECT_EQ(printed(chan)[0], "\00312\010<\010%s%n\00312\010>\010\017\t%x %d %% %n\n");
    EXPECT_EQ(fe_recorder::calls_named("fe_print_text").back().args.find("stamp=1234") != std::string::npos, true);

    PrintText(chan, "100% %s %n\n");
    EXPECT_EQ(printed(chan).back(), "100% %s %n\n");
    PrintText(chan, "bad \xff byte");
    EXPECT_EQ(printed(chan).back(), "bad \xef\xbf\xbd byte");
    PrintText(chan, "");
    EXPECT_EQ(printed(chan).back(), "\n");
    // No session: the first of the session list (the newest tab).
    PrintTextf(nullptr, "%s-%d\n", "x", 5);
    EXPECT_EQ(printed(chan).back(), "x-5\n");

    EXPECT_EQ(text_emit_by_name("Generic Message", chan, 0, "l", "r", nullptr, nullptr), 1);
    EXPECT_EQ(printed(chan).back(), "l\tr\n");
    EXPECT_EQ(text_emit_by_name("No Such Event", chan, 0, "l", "r", nullptr, nullptr), 0);
    EXPECT_STREQ(text_find_format_string("Generic Message"), "$1$t$2");
    EXPECT_EQ(text_find_format_string("generic message"), nullptr);
}

TEST_F(Text, PrintingWithoutAnySessionDoesNothing)
{
    PrintText(nullptr, "nowhere\n");
    EXPECT_EQ(count("fe_print_text"), 0);
}

TEST_F(Text, NickColoursAndStrippedMessages)
{
    EXPECT_EQ(text_color_of("ab"), 27); // (97 + 98) % 9 = 6
    EXPECT_EQ(text_color_of(""), 19);

    session *chan = channel(network_tab("Net"), "#c");
    prefs.text_color_nicks = 1;
    prefs.text_stripcolor_msg = 1;
    set_event_text(XP_TE_CHANNEL_MESSAGE, "$1: $2");
    text_emit(XP_TE_CHANNEL_MESSAGE, chan, "ab", "\00304red", nullptr, nullptr, 0);
    EXPECT_EQ(printed(chan).back(), "\00327ab: red\n");
    // A tab's own setting wins over the global one.
    chan->text_strip = SET_OFF;
    text_emit(XP_TE_CHANNEL_ACTION, chan, "ab", "\00304red", nullptr, nullptr, 0);
    EXPECT_EQ(printed(chan).back(), "\00312*\t\002\00327ab\017 \00304red\n");
}

TEST_F(Text, AlertsFollowSettingsChannelOptionsAndAway)
{
    session *chan = channel(network_tab("Net"), "#c");
    prefs.input_beep_chans = 1;
    prefs.input_flash_chans = 1;
    text_emit(XP_TE_CHANNEL_MESSAGE, chan, "a", "hi", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_beep"), 1);
    EXPECT_EQ(count("fe_flash_window"), 1);
    EXPECT_EQ(count("fe_tray_set_icon"), 0);

    // Per-channel overrides: no beep here, but a tray alert.
    chan->alert_beep = SET_OFF;
    chan->alert_tray = SET_ON;
    text_emit(XP_TE_CHANNEL_ACTION, chan, "a", "waves", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_beep"), 1);
    EXPECT_EQ(count("fe_flash_window"), 2);
    EXPECT_EQ(fe_recorder::calls_named("fe_tray_set_icon").back().args, "2");

    // Away with away_omit_alerts: no beep or flash (the tray still counts).
    chan->alert_beep = SET_DEFAULT;
    prefs.away_omit_alerts = 1;
    chan->server->away = 1;
    text_emit(XP_TE_CHANNEL_MESSAGE, chan, "a", "hi", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_beep"), 1);
    EXPECT_EQ(count("fe_flash_window"), 2);
    EXPECT_EQ(count("fe_tray_set_icon"), 2);
    chan->server->away = 0;

    // Highlights and private messages have their own settings.
    fe_recorder::reset();
    prefs.input_beep_chans = prefs.input_flash_chans = 0;
    text_emit(XP_TE_CHANNEL_MESSAGE, chan, "a", "hi", nullptr, nullptr, 0);
    text_emit(XP_TE_CHANNEL_MSG_HILIGHT, chan, "a", "me!", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_flash_window"), 1); // input_flash_hilight is on by default
    prefs.input_beep_priv = 1;
    text_emit(XP_TE_PRIVATE_MESSAGE_TO_DIALOG, chan, "a", "psst", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_beep"), 1);

    // A focused window with gui_focus_omitalerts stays quiet.
    prefs.gui_focus_omitalerts = 1;
    fe_recorder::set_window_state(1);
    text_emit(XP_TE_PRIVATE_MESSAGE, chan, "a", "psst", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_beep"), 1);
}

TEST_F(Text, SoundsThatCannotBeReadAreReported)
{
    session *chan = channel(network_tab("Net"), "#c");
    sound_files[XP_TE_JOIN] = g_strdup("missing.wav");
    text_emit(XP_TE_JOIN, chan, "a", "#c", "u@h", nullptr, 0);
    EXPECT_EQ(fe_recorder::messages(),
              std::vector<std::string>{std::string("Cannot read sound file:\n") + dir + "/sounds/missing.wav"});

    // The Beep sound replaces the front end's beep.
    fe_recorder::reset();
    sound_files[XP_TE_BEEP] = g_strdup("/nonexistent/beep.wav");
    prefs.input_beep_chans = 1;
    text_emit(XP_TE_CHANNEL_MESSAGE, chan, "a", "hi", nullptr, nullptr, 0);
    EXPECT_EQ(count("fe_beep"), 0);
    EXPECT_EQ(fe_recorder::messages(), std::vector<std::string>{"Cannot read sound file:\n/nonexistent/beep.wav"});

    fe_recorder::reset();
    sound_play("missing.wav", true);
    sound_play("", false);
    EXPECT_TRUE(fe_recorder::messages().empty());
}

TEST_F(Text, JoinPartAndNickLinesCanBeHiddenOrShortened)
{
    session *chan = channel(network_tab("Net"), "#c");
    prefs.irc_hide_join_part_hostmask = 1;
    text_emit(XP_TE_JOIN, chan, "al", "#c", "u@host", "acct", 0);
    EXPECT_EQ(printed(chan).back(), "\00311*\tal has joined\n");
    text_emit(XP_TE_PART_WITH_REASON, chan, "al", "u@host", "#c", "bye", 0);
    EXPECT_EQ(printed(chan).back(), "\00312*\tal has left (bye)\n");
    // A text that shows the host without parentheses gets it empty.
    set_event_text(XP_TE_JOIN, "$1 [$3] joined");
    text_emit(XP_TE_JOIN, chan, "al", "#c", "u@host", "acct", 0);
    EXPECT_EQ(printed(chan).back(), "al [] joined\n");

    const std::size_t shown = printed(chan).size();
    prefs.irc_conf_mode = 1;
    text_emit(XP_TE_QUIT, chan, "al", "gone", "u@host", nullptr, 0);
    prefs.irc_hide_nickchange = 1;
    text_emit(XP_TE_CHANGE_NICK, chan, "al", "bo", nullptr, nullptr, 0);
    EXPECT_EQ(printed(chan).size(), shown);
    // The channel's own option overrides irc_conf_mode.
    chan->text_hidejoinpart = SET_OFF;
    text_emit(XP_TE_QUIT, chan, "al", "gone", "u@host", nullptr, 0);
    EXPECT_EQ(printed(chan).back(), "\00312*\tal has quit (gone)\n");
}

TEST_F(Text, EventsFileIsReadTolerantlyAndBrokenTextsFallBack)
{
    write(path("pevents.conf"), "event_text=%C03orphan $1\n"
                                "# a comment=with an equals sign\n"
                                "event_name=Quit\nevent_text=first\nevent_text=$1 left ($2)\r\n"
                                "event_name=No Such Event\nevent_text=ignored $1\n"
                                "event_name=Join\nevent_text=broken $0\n"
                                "no equals sign here\n");
    prefs.save_pevents = 0;
    load_text_events();
    EXPECT_STREQ(pntevts_text[XP_TE_ADD_NOTIFY], "%C03orphan $1");
    EXPECT_STREQ(pntevts_text[XP_TE_QUIT], "$1 left ($2)");
    EXPECT_STREQ(pntevts_text[XP_TE_JOIN], te[XP_TE_JOIN].def);
    EXPECT_STREQ(pntevts_text[XP_TE_PART], te[XP_TE_PART].def);
    EXPECT_EQ(prefs.save_pevents, 1); // the broken text must leave the file too
    EXPECT_EQ(fe_recorder::messages(), std::vector<std::string>{"Error, invalid argument $0\n"});

    // Events in reverse order are still found.
    write(path("pevents.conf"), "event_name=Your Nick Changing\nevent_text=A $2\n"
                                "event_name=Add Notify\nevent_text=B $1\n");
    load_text_events();
    EXPECT_STREQ(pntevts_text[XP_TE_YOUR_NICK_CHANGING], "A $2");
    EXPECT_STREQ(pntevts_text[XP_TE_ADD_NOTIFY], "B $1");
    EXPECT_EQ(pevent_load("/nonexistent/pevents.conf"), 1);
}

TEST_F(Text, EventsFileRoundTripsAndIsWrittenOnlyWhenChanged)
{
    set_event_text(XP_TE_QUIT, "two\nlines $1");
    pevent_save(nullptr);
    const std::string file = path("pevents.conf");
    const std::string saved = read(file);
    EXPECT_NE(saved.find("event_name=Quit\nevent_text=two$a010lines $1\n\n"), std::string::npos);
    EXPECT_EQ(saved.rfind("event_name=Add Notify\n", 0), 0u);
    struct stat sb {
    };
    ASSERT_EQ(stat(file.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u);

    const ino_t before = inode_of(file);
    pevent_save(nullptr);
    EXPECT_EQ(inode_of(file), before);

    load_text_events();
    EXPECT_EQ(format(XP_TE_QUIT, {"x", "", ""}), "two\nlines x\n");
    for (int i = 0; i < NUM_XP; i++) {
        if (i == XP_TE_QUIT)
            continue;
        EXPECT_STREQ(pntevts_text[i], te[i].def) << te[i].name;
    }
}

TEST_F(Text, SoundsFileLoadsPairsAndSavesTheAssignedOnes)
{
    write(path("sound.conf"), "event=Channel Message\nsound=ding.wav\n\n"
                              "event=Nope\nsound=x.wav\n"
                              "event=Join\nsound=\nsound=orphan.wav\n"
                              "event=Beep\r\nsound=/abs/beep.wav\r\n");
    sound_load();
    EXPECT_STREQ(sound_files[XP_TE_CHANNEL_MESSAGE], "ding.wav");
    EXPECT_STREQ(sound_files[XP_TE_BEEP], "/abs/beep.wav");
    EXPECT_EQ(sound_files[XP_TE_JOIN], nullptr);

    sound_save();
    EXPECT_EQ(read(path("sound.conf")), "event=Beep\nsound=/abs/beep.wav\n\nevent=Channel Message\nsound=ding.wav\n\n");
    sound_load();
    EXPECT_STREQ(sound_files[XP_TE_CHANNEL_MESSAGE], "ding.wav");
}

TEST_F(Text, ColourUsersAreListedByPaletteEntry)
{
    int n = 0;
    char **names = text_color_event_names(6, &n);
    ASSERT_NE(names, nullptr);
    std::vector<std::string> list(names, names + n);
    EXPECT_EQ(names[n], nullptr);
    g_strfreev(names);
    EXPECT_NE(std::find(list.begin(), list.end(), "Kick"), list.end());
    EXPECT_EQ(std::find(list.begin(), list.end(), "Channel Message"), list.end());

    EXPECT_EQ(text_color_event_names(31, &n), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(text_color_event_names(32, &n), nullptr);
    set_event_text(XP_TE_QUIT, "%%C31 %C05,31x"); // background counts, %%C does not
    names = text_color_event_names(31, &n);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(names[0], "Quit");
    g_strfreev(names);
}

TEST_F(Text, InvalidTextIsRepairedOrConvertedPieceByPiece)
{
    gsize len = 0;
    char *fixed = text_fixup_invalid_utf8("a\xffz", -1, &len);
    EXPECT_STREQ(fixed, "a\xef\xbf\xbdz");
    EXPECT_EQ(len, 5u);
    g_free(fixed);

    GIConv cd = g_iconv_open("UTF-8", "UTF-8");
    char *converted = text_convert_invalid("ab\xff\xfe"
                                           "cd\xc3",
                                           -1, cd, "?", &len);
    EXPECT_STREQ(converted, "ab??cd?");
    EXPECT_EQ(len, 7u);
    g_free(converted);
    g_iconv_close(cd);
}
