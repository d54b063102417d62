// What the GTK front end shows in title bars and meters, and what it hands
// to URL openers; none of it needs a display.
#include "fe-formats.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

title_fields connected(int type)
{
    title_fields f;
    f.type = type;
    f.connected = true;
    f.nick = "me";
    f.network = "Libera";
    f.channel = type == 3 ? "bob" : "#lumen";
    return f;
}

}  // namespace

TEST(WindowTitle, FormatPerSessionTypeAndSettings)
{
    struct row {
        int type;
        bool connected, nick, modes, ucount;
        std::optional<std::string> mode_string;
        const char *expected;
    };
    const std::optional<std::string> nt = "+nt", none, empty = "";
    const std::vector<row> rows = {
        {1, false, true, true, true, nt, "Lumenwick"},
        {2, false, true, true, true, nt, "Lumenwick"},
        {4, false, true, true, true, nt, "Lumenwick"},
        {3, false, true, true, true, nt, "Dialog with bob @ Libera - Lumenwick"},
        {1, true, true, false, false, none, "me @ Libera - Lumenwick"},
        {2, true, true, false, false, none, "me @ Libera / #lumen - Lumenwick"},
        {3, true, true, false, false, none, "Dialog with bob @ Libera - Lumenwick"},
        {4, true, true, false, false, none, "me @ Libera (notices) - Lumenwick"},
        {5, true, true, false, false, none, "me @ Libera (notices) - Lumenwick"},
        {1, true, false, false, false, none, "Libera - Lumenwick"},
        {2, true, false, false, false, none, "Libera / #lumen - Lumenwick"},
        {3, true, false, false, false, none, "Dialog with bob @ Libera - Lumenwick"},
        {4, true, false, false, false, none, "Libera (notices) - Lumenwick"},
        // Modes and the user count only with their settings; modes only when known.
        {2, true, true, false, false, nt, "me @ Libera / #lumen - Lumenwick"},
        {2, true, true, true, false, nt, "me @ Libera / #lumen (+nt) - Lumenwick"},
        {2, true, true, true, true, nt, "me @ Libera / #lumen (+nt) - Lumenwick (42)"},
        {2, true, true, true, true, none, "me @ Libera / #lumen - Lumenwick (42)"},
        {2, true, true, true, true, empty, "me @ Libera / #lumen - Lumenwick (42)"},
        {1, true, true, true, true, nt, "me @ Libera - Lumenwick"},
    };
    for (const row &r : rows) {
        title_fields f = connected(r.type);
        f.connected = r.connected;
        f.show_nick = r.nick;
        f.show_modes = r.modes;
        f.show_user_count = r.ucount;
        f.mode_string = r.mode_string;
        f.user_count = 42;
        EXPECT_EQ(window_title(f), r.expected) << "type " << r.type;
    }
}

TEST(WindowTitle, LongTitleIsCutWithinBufferOnCharacterBoundary)
{
    title_fields f = connected(2);
    f.channel = "#";
    for (int i = 0; i < 300; ++i)
        f.channel += "\xc3\xa9";  // é, two bytes each
    const std::string t = window_title(f);
    EXPECT_LE(t.size(), TITLE_BUFFER_SIZE - 1);
    EXPECT_GT(t.size(), TITLE_BUFFER_SIZE - 3);
    EXPECT_TRUE(g_utf8_validate(t.data(), static_cast<gssize>(t.size()), nullptr)) << t;
}

TEST(LagMeter, MeasuredLag)
{
    EXPECT_EQ(lag_meter(0, 0, 5000), (meter_text{0.0, "0.0s", "Lag: 0.0 seconds"}));
    EXPECT_EQ(lag_meter(450, 0, 5000), (meter_text{0.45, "0.4s", "Lag: 0.4 seconds"}));
    // The bar is full from one second on.
    EXPECT_EQ(lag_meter(1234, 0, 5000), (meter_text{1.0, "1.2s", "Lag: 1.2 seconds"}));
    // An answered probe is not capped.
    EXPECT_EQ(lag_meter(45000, 0, 5000), (meter_text{1.0, "45.0s", "Lag: 45.0 seconds"}));
}

TEST(LagMeter, OutstandingProbeGrowsWithPlusAndCapsAtThirtySeconds)
{
    EXPECT_EQ(lag_meter(-1, 0, 5000), std::nullopt);
    EXPECT_EQ(lag_meter(-1, 10000, 10500), (meter_text{0.5, "+0.5s", "Lag: +0.5 seconds"}));
    EXPECT_EQ(lag_meter(-1, 10000, 55000), (meter_text{1.0, "+30.0s", "Lag: +30.0 seconds"}));
    // A clock that went backwards shows no lag rather than a huge one.
    EXPECT_EQ(lag_meter(-1, 10000, 9000), (meter_text{0.0, "+0.0s", "Lag: +0.0 seconds"}));
}

TEST(ThrottleMeter, QueueBytesFillTheBarAtOneKilobyte)
{
    EXPECT_EQ(throttle_meter(0), (meter_text{0.0, "0 bytes", "Network send queue: 0 bytes"}));
    EXPECT_EQ(throttle_meter(512), (meter_text{0.5, "512 bytes", "Network send queue: 512 bytes"}));
    EXPECT_EQ(throttle_meter(4096), (meter_text{1.0, "4096 bytes", "Network send queue: 4096 bytes"}));
}

TEST(OpenUrl, WordsAreClassifiedBeforeOpening)
{
    struct row {
        const char *word;
        bool exists;
        url_kind kind;
        const char *url;
    };
    const std::vector<row> rows = {
        {"/tmp/some file", false, url_kind::file, "file:///tmp/some%20file"},
        {"::1", false, url_kind::ipv6_host, "http://[::1]"},
        {"2001:db8::7", false, url_kind::ipv6_host, "http://[2001:db8::7]"},
        {"[::1]", false, url_kind::ipv6_host, "http://[::1]"},
        {"[2001:db8::7]:8080", false, url_kind::ipv6_host, "http://[2001:db8::7]:8080"},
        {"example.org/path", false, url_kind::bare_host, "http://example.org/path"},
        {"https://example.org/x", false, url_kind::as_is, "https://example.org/x"},
        {"irc://irc.example.org/#lumen", false, url_kind::as_is, "irc://irc.example.org/#lumen"},
        {"localhost:8080", false, url_kind::as_is, "localhost:8080"},
        {"[nonsense]", false, url_kind::bare_host, "http://[nonsense]"},
    };
    for (const row &r : rows) {
        EXPECT_EQ(classify_url_word(r.word, r.exists), r.kind) << r.word;
        EXPECT_EQ(url_for_word(r.word, r.exists), r.url) << r.word;
    }
}

TEST(OpenUrl, ExistingRelativeFileBecomesAbsoluteFileUri)
{
    gchar *cwd = g_get_current_dir();
    gchar *expected_path = g_build_filename(cwd, "notes.txt", nullptr);
    gchar *expected = g_filename_to_uri(expected_path, nullptr, nullptr);
    EXPECT_EQ(classify_url_word("notes.txt", true), url_kind::file);
    EXPECT_EQ(url_for_word("notes.txt", true), expected);
    g_free(expected);
    g_free(expected_path);
    g_free(cwd);
}

TEST(OpenUrl, CleanUrlsPassUnchangedOthersAreEscaped)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"https://example.org/a?b=c&d=e#f", "https://example.org/a?b=c&d=e#f"},
        {"https://example.org/%41%42", "https://example.org/%41%42"},
        {"https://[::1]:80/~u/(x)*;,!$'+@", "https://[::1]:80/~u/(x)*;,!$'+@"},
        {"https://example.org/a b", "https://example.org/a%20b"},
        {"https://example.org/\xc3\xbc", "https://example.org/%C3%BC"},
        // A stray or undecodable escape means the text was not escaped yet.
        {"https://example.org/100%zz", "https://example.org/100%25zz"},
        {"https://example.org/%00", "https://example.org/%2500"},
        {"https://example.org/\"q\"", "https://example.org/%22q%22"},
    };
    for (const auto &[in, out] : rows)
        EXPECT_EQ(escape_url_for_opener(in), out) << in;
}

TEST(OpenUrl, OpenerEnvironmentDropsBundleAndPreloadVariables)
{
    char **env = nullptr;
    for (const char *name : {"PATH", "HOME", "LD_LIBRARY_PATH", "LD_PRELOAD", "APPDIR", "APPIMAGE", "ARGV0", "LANG"})
        env = g_environ_setenv(env, name, "x", TRUE);
    env = opener_environment(env);
    EXPECT_EQ(g_strv_length(env), 3u);
    for (const char *kept : {"PATH", "HOME", "LANG"})
        EXPECT_NE(g_environ_getenv(env, kept), nullptr) << kept;
    for (const char *dropped : {"LD_LIBRARY_PATH", "LD_PRELOAD", "APPDIR", "APPIMAGE", "ARGV0"})
        EXPECT_EQ(g_environ_getenv(env, dropped), nullptr) << dropped;
    g_strfreev(env);
}
