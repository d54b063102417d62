// What the GTK front end hands to URL openers; none of it needs a display.
#include "app/url-words.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
