// Settings: defaults, lumenwick.conf reading and writing, the line helpers
// and /SET as the user sees it.
#include "base/util.h"
#include "commands/outbound-cmds.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "fe_recorder.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary) << data;
}

int *int_of(const prefs_row &row)
{
    return reinterpret_cast<int *>(reinterpret_cast<char *>(&prefs) + row.offset * sizeof(int));
}

char *text_of(const prefs_row &row)
{
    return reinterpret_cast<char *>(&prefs) + row.offset;
}

const prefs_row &row_named(const char *name)
{
    for (const prefs_row *row = vars; row->name; row++) {
        if (strcmp(row->name, name) == 0)
            return *row;
    }
    ADD_FAILURE() << "no row " << name;
    return vars[0];
}

class Settings : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char *tmp = g_dir_make_tmp("lwk-cfg-XXXXXX", nullptr);
        ASSERT_NE(tmp, nullptr);
        dir = tmp;
        g_free(tmp);
        set_xdir(dir.c_str());
        conf = dir + "/lumenwick.conf";
        load_default_config();
        sess_list = g_slist_prepend(sess_list, &sess);
        current_sess = &sess;
    }
    void TearDown() override
    {
        sess_list = g_slist_remove(sess_list, &sess);
        current_sess = nullptr;
        chmod(dir.c_str(), 0700);
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    void load_text(const std::string &text)
    {
        write_file(conf, text);
        ASSERT_EQ(load_config(), 0);
    }

    // Runs /SET with the given arguments, split the way the dispatcher does.
    std::vector<std::string> set(const std::string &args)
    {
        std::string line = "set" + (args.empty() ? "" : " " + args);
        std::vector<std::string> words;
        std::vector<std::string> rests;
        words.push_back("");
        rests.push_back("");
        std::size_t pos = 0;
        while (pos < line.size() && words.size() < 31) {
            std::size_t end = line.find(' ', pos);
            if (end == std::string::npos)
                end = line.size();
            words.push_back(line.substr(pos, end - pos));
            rests.push_back(line.substr(pos));
            pos = end + 1;
        }
        char *word[32];
        char *word_eol[32];
        for (int i = 0; i < 32; i++) {
            word[i] = i < static_cast<int>(words.size()) ? words[i].data() : empty;
            word_eol[i] = i < static_cast<int>(rests.size()) ? rests[i].data() : empty;
        }
        std::size_t before = fe_recorder::printed(&sess).size();
        char tbuf[512];
        EXPECT_EQ(cmd_set(&sess, tbuf, word, word_eol), 1);
        auto all = fe_recorder::printed(&sess);
        return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
    }

    std::string dir;
    std::string conf;
    session sess{};
    char empty[1] = "";
};

// Every text gets a distinct value that fits; every integer a distinct number.
void fill_distinct()
{
    int n = 0;
    for (const prefs_row *row = vars; row->name; row++, n++) {
        if (row->type == TYPE_STR) {
            std::string v = "v" + std::to_string(n) + "é=x";
            if (v.size() >= row->len)
                v = std::to_string(n).substr(0, row->len - 1);
            safe_strcpy(text_of(*row), v.c_str(), row->len);
        } else {
            *int_of(*row) = 1000 + n * 7;
        }
    }
}

TEST(SettingsTable, HasAllRowsWithHooksOnlyOnTimerSettings)
{
    int count = 0;
    for (const prefs_row *row = vars; row->name; row++, count++) {
        bool hooked = strcmp(row->name, "net_ping_timeout") == 0 || strcmp(row->name, "net_lag_check") == 0;
        EXPECT_EQ(row->after_update != nullptr, hooked) << row->name;
    }
    EXPECT_EQ(count, SETTINGS_COUNT);
    EXPECT_EQ(text_of(row_named("text_font")), prefs.text_font);
    EXPECT_EQ(row_named("text_font").len, sizeof(prefs.text_font));
    EXPECT_EQ(int_of(row_named("url_logging")), &prefs.url_logging);
}

TEST_F(Settings, DefaultsIncludeComputedValues)
{
    EXPECT_EQ(prefs.away_size_max, 300);
    EXPECT_EQ(prefs.dcc_permissions, 0600);
    EXPECT_EQ(prefs.gui_win_width, 640);
    EXPECT_EQ(prefs.gui_tab_layout, 2);
    EXPECT_EQ(prefs.url_grabber, 1);
    EXPECT_EQ(prefs.away_auto_unmark, 0);
    EXPECT_STREQ(prefs.completion_suffix, ",");
    EXPECT_STREQ(prefs.irc_no_hilight, "NickServ,ChanServ,InfoServ,N,Q");
    EXPECT_STREQ(prefs.stamp_text_format, "[%H:%M:%S] ");
    EXPECT_STREQ(prefs.irc_real_name, "realname");
    EXPECT_STREQ(prefs.dcc_completed_dir, "");

    const char *user = g_get_user_name();
    char *login = g_locale_to_utf8(user && *user ? user : "root", -1, nullptr, nullptr, nullptr);
    std::string expected = login ? login : "username";
    g_free(login);
    EXPECT_EQ(prefs.irc_nick1, expected);
    EXPECT_EQ(prefs.irc_nick2, expected + "_");
    EXPECT_EQ(prefs.irc_nick3, expected + "__");
    EXPECT_EQ(prefs.irc_user_name, expected.substr(0, expected.find(' ')));

    const char *downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    std::string dcc = downloads ? downloads : std::string(g_get_home_dir()) + "/Downloads";
    EXPECT_EQ(prefs.dcc_dir, dcc);

    const char *font = fe_get_default_font();
    EXPECT_STREQ(prefs.text_font, font ? font : "Monospace 9");
    EXPECT_STREQ(prefs.text_font_main, font ? font : "Monospace 9");
}

TEST_F(Settings, LanguageDefaultsFollowTheLocale)
{
    struct saved_env {
        const char *name;
        bool was_set;
        std::string value;
    } saved[] = {{"LC_ALL", false, ""}, {"LANG", false, ""}, {"LANGUAGE", false, ""}};
    for (auto &e : saved) {
        const char *v = g_getenv(e.name);
        e.was_set = v != nullptr;
        e.value = v ? v : "";
    }

    struct {
        const char *lc_all, *lang;
        int index;
    } cases[] = {
        {"de_DE.UTF-8", "", 20}, {"pt_BR.UTF-8", "", 40}, {"en_GB", "", 14},
        {"", "zh_TW.Big5", 10},  {"xx_YY.UTF-8", "", 15}, {"", "", 15},
    };
    for (auto &c : cases) {
        g_setenv("LC_ALL", c.lc_all, TRUE);
        g_setenv("LANG", c.lang, TRUE);
        load_default_config();
        EXPECT_EQ(prefs.gui_lang, c.index) << c.lc_all << "|" << c.lang;
    }

    struct {
        const char *language, *langs;
    } spell[] = {
        {"de_DE.UTF-8:de:en_US:en", "de_DE,en_US"},
        // Languages whose codes start with "c" are languages, not the C locale.
        {"cs_CZ.UTF-8:C", "cs_CZ"},
        {"C", "en"},
    };
    g_setenv("LC_ALL", "", TRUE);
    for (auto &s : spell) {
        g_setenv("LANGUAGE", s.language, TRUE);
        load_default_config();
        EXPECT_STREQ(prefs.text_spell_langs, s.langs) << s.language;
    }

    for (auto &e : saved) {
        if (e.was_set)
            g_setenv(e.name, e.value.c_str(), TRUE);
        else
            g_unsetenv(e.name);
    }
}

TEST_F(Settings, SaveAndLoadKeepEverySetting)
{
    fill_distinct();
    lumenwick_prefs expected = prefs;
    ASSERT_EQ(save_config(), 1);
    load_default_config();
    ASSERT_EQ(load_config(), 0);
    for (const prefs_row *row = vars; row->name; row++) {
        if (row->type == TYPE_STR)
            EXPECT_STREQ(text_of(*row), reinterpret_cast<char *>(&expected) + row->offset) << row->name;
        else
            EXPECT_EQ(*int_of(*row), reinterpret_cast<int *>(&expected)[row->offset]) << row->name;
    }
    struct stat st;
    ASSERT_EQ(stat(conf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(g_file_test((conf + ".new").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(Settings, SavedFileListsVersionThenSettingsInTableOrder)
{
    prefs.irc_join_delay = -1;
    safe_strcpy(prefs.away_reason, "gone\nirc_nick1 = intruder", sizeof(prefs.away_reason));
    ASSERT_EQ(save_config(), 1);
    std::istringstream in(read_file(conf));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "version = 2.19.1");
    for (const prefs_row *row = vars; row->name; row++) {
        ASSERT_TRUE(std::getline(in, line));
        EXPECT_EQ(line.substr(0, strlen(row->name) + 3), std::string(row->name) + " = ");
    }
    EXPECT_FALSE(std::getline(in, line));
    EXPECT_NE(read_file(conf).find("irc_join_delay = 1\n"), std::string::npos);

    // A line break in a value must not smuggle in another setting.
    std::string nick = prefs.irc_nick1;
    load_default_config();
    ASSERT_EQ(load_config(), 0);
    EXPECT_EQ(prefs.irc_nick1, nick);
    EXPECT_STREQ(prefs.away_reason, "gone irc_nick1 = intruder");
}

TEST_F(Settings, LoadingReadsNamesValuesAndClampsLikeTheWriter)
{
    load_default_config();
    const std::string default_nick2 = prefs.irc_nick2;
    load_text("version = 2.19.1\n"
              "away_reason    =    out  for = lunch  \n"
              "IRC_NICK1 = Upper\n"
              "irc_nick2= glued\n"
              "irc_nick3 value-without-equals\n"
              "gui_win_height = 100\n"
              "gui_win_width = 50\n"
              "irc_user_name = john smith\n"
              "away_timeout = 99999999999999\n"
              "away_size_max = -20\n"
              "no_such_setting = 5\n"
              "away_track = 0\r\n"
              "away_track = 1\n"
              "notify_timeout = 42");
    EXPECT_STREQ(prefs.away_reason, "out  for = lunch  ");
    EXPECT_STREQ(prefs.irc_nick1, "Upper");
    EXPECT_STREQ(prefs.irc_nick2, default_nick2.c_str()) << "a name glued to its = does not match";
    EXPECT_STREQ(prefs.irc_nick3, "value-without-equals");
    EXPECT_EQ(prefs.gui_win_height, 138);
    EXPECT_EQ(prefs.gui_win_width, 106);
    EXPECT_STREQ(prefs.irc_user_name, "john");
    EXPECT_EQ(prefs.away_timeout, INT_MAX);
    EXPECT_EQ(prefs.away_size_max, -20);
    EXPECT_EQ(prefs.away_track, 0);
    EXPECT_EQ(prefs.notify_timeout, 42);
}

TEST_F(Settings, LoadingSurvivesDamagedFiles)
{
    std::string long_nick = "a";
    for (int i = 0; i < 40; i++)
        long_nick += "é";
    std::string text = "garbage without equals\n=\n \n\n";
    text += "irc_nick1 = " + long_nick + "\n";
    text += std::string("irc_nick2 = bad\xff\xfe"
                        "bytes\n");
    text += std::string("irc_nick3 = nul\0after\n", 22);
    text += std::string("away_reason = ") + std::string(100000, 'x') + "\n";
    text += std::string("\0\0\0irc_quit_reason = hidden\n", 28);
    load_text(text);

    // 63 bytes: "a" and 31 two-byte characters, never half of one.
    EXPECT_EQ(strlen(prefs.irc_nick1), 63u);
    EXPECT_EQ(std::string(prefs.irc_nick1), long_nick.substr(0, 63));
    EXPECT_TRUE(g_utf8_validate(prefs.irc_nick2, -1, nullptr));
    EXPECT_TRUE(g_str_has_prefix(prefs.irc_nick2, "bad"));
    EXPECT_TRUE(g_str_has_suffix(prefs.irc_nick2, "bytes"));
    EXPECT_STREQ(prefs.irc_nick3, "nul");
    EXPECT_EQ(strlen(prefs.away_reason), sizeof(prefs.away_reason) - 1);
    EXPECT_STREQ(prefs.irc_quit_reason, "Leaving");

    EXPECT_EQ(load_config(), 0); // and reading the same file again is stable
    set_xdir((dir + "/missing").c_str());
    EXPECT_EQ(load_config(), -1);
}

TEST_F(Settings, LoadingALargeFileStaysFast)
{
    std::string text;
    text.reserve(8u << 20);
    while (text.size() < (8u << 20))
        text += "some noise line = with a value that matches nothing\n";
    text += "away_timeout = 77\n";
    auto start = std::chrono::steady_clock::now();
    load_text(text);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(prefs.away_timeout, 77);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(ConfigLines, ReadersMatchOnlyAtLineStarts)
{
    char text[] = "away_reason = x irc_nick1 = inside\n"
                  "color_1 = ffff 8000 0a0b\n"
                  "color_2 = ffff zz\n"
                  "event_text = one\n"
                  "event_text = two\n"
                  "count = 12abc\n";
    char out[16];
    EXPECT_EQ(cfg_get_str(text, "irc_nick1", out, sizeof(out)), nullptr);

    char *next = cfg_get_str(text, "event_text", out, sizeof(out));
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(out, "one");
    EXPECT_EQ(*next, '\n');
    ASSERT_NE(cfg_get_str(next, "event_text", out, sizeof(out)), nullptr);
    EXPECT_STREQ(out, "two");

    int found = -1;
    EXPECT_EQ(cfg_get_int_with_result(text, "count", &found), 12);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(cfg_get_int_with_result(text, "absent", &found), 0);
    EXPECT_EQ(found, 0);

    guint16 r = 1, g = 1, b = 1;
    EXPECT_EQ(cfg_get_color(text, "color_1", &r, &g, &b), 1);
    EXPECT_EQ(r, 0xffff);
    EXPECT_EQ(g, 0x8000);
    EXPECT_EQ(b, 0x0a0b);
    EXPECT_EQ(cfg_get_color(text, "color_2", &r, &g, &b), 0);
    EXPECT_EQ(r, 0xffff);
}

TEST_F(Settings, WritersProduceWholeLines)
{
    std::string path = dir + "/lines";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    std::string font(2000, 'f');
    EXPECT_EQ(cfg_put_int(fd, -1, "a"), 1);
    EXPECT_EQ(cfg_put_int(fd, -2, "b"), 1);
    EXPECT_EQ(cfg_put_color(fd, 0xffff, 0x10, 0, "c"), 1);
    EXPECT_EQ(cfg_put_str(fd, "d", font.c_str()), 1);
    close(fd);
    EXPECT_EQ(read_file(path), "a = 1\nb = -2\nc = ffff 0010 0000\nd = " + font + "\n");
    EXPECT_EQ(cfg_put_int(-1, 3, "x"), 0);
}

TEST_F(Settings, FailedSaveKeepsTheOldFile)
{
    prefs.away_timeout = 11;
    ASSERT_EQ(save_config(), 1);
    std::string before = read_file(conf);

    // The temporary name is taken by a directory: nothing can be written,
    // whoever runs the test.
    ASSERT_EQ(mkdir((conf + ".new").c_str(), 0700), 0);
    prefs.away_timeout = 22;
    EXPECT_EQ(save_config(), 0);
    EXPECT_EQ(read_file(conf), before);
    auto out = set("away_timeout 33");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1], "Error saving changes to disk.\n");
    rmdir((conf + ".new").c_str());

    if (geteuid() != 0) {
        chmod(dir.c_str(), 0500);
        EXPECT_EQ(save_config(), 0);
        chmod(dir.c_str(), 0700);
        EXPECT_EQ(read_file(conf), before);
    }
}

TEST_F(Settings, TwoPhaseSaveReplacesOnlyOnFinalize)
{
    prefs.away_timeout = 11;
    ASSERT_EQ(save_config(), 1);
    std::string before = read_file(conf);

    prefs.away_timeout = 22;
    char *temp = nullptr;
    ASSERT_EQ(save_config_prepare(&temp), 1);
    ASSERT_NE(temp, nullptr);
    EXPECT_EQ(read_file(conf), before);
    save_config_discard(temp);
    EXPECT_FALSE(g_file_test(temp, G_FILE_TEST_EXISTS));
    g_free(temp);

    ASSERT_EQ(save_config_prepare(&temp), 1);
    EXPECT_EQ(save_config_finalize(temp), 1);
    EXPECT_NE(read_file(conf).find("away_timeout = 22\n"), std::string::npos);
    EXPECT_EQ(save_config_finalize(temp), 0); // already moved
    g_free(temp);
}

// A colours file that fails at one of its two phases, writing "colors.conf.new".
int colors_fail_at = 0; // 0 never, 1 prepare, 2 finalize
std::string colors_dir;
const colors_saver test_colors = {
    [](char **temp) {
        *temp = nullptr;
        if (colors_fail_at == 1)
            return 0;
        *temp = g_strdup((colors_dir + "/colors.conf.new").c_str());
        return g_file_set_contents(*temp, "color_0 = 0000 0000 0000\n", -1, nullptr) ? 1 : 0;
    },
    [](const char *temp) {
        if (colors_fail_at == 2)
            return 0;
        return rename(temp, (colors_dir + "/colors.conf").c_str()) == 0 ? 1 : 0;
    },
    [](const char *temp) { unlink(temp); },
};

TEST_F(Settings, CombinedSaveReplacesNeitherFileWhenTheColoursCannotBePrepared)
{
    colors_dir = dir;
    prefs.away_timeout = 11;
    ASSERT_EQ(save_config(), 1);

    prefs.away_timeout = 22;
    colors_fail_at = 1;
    save_result r = save_config_with_colors(&test_colors);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.colors_failed);
    EXPECT_FALSE(r.settings_written_before_colors_failed);
    EXPECT_STREQ(r.failed_file, "colors.conf");
    EXPECT_NE(read_file(conf).find("away_timeout = 11\n"), std::string::npos);
    EXPECT_FALSE(g_file_test((conf + ".new").c_str(), G_FILE_TEST_EXISTS));

    // Failing only at the end: the settings are in place and the caller is told.
    colors_fail_at = 2;
    r = save_config_with_colors(&test_colors);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.settings_written_before_colors_failed);
    EXPECT_NE(read_file(conf).find("away_timeout = 22\n"), std::string::npos);
    EXPECT_FALSE(g_file_test((dir + "/colors.conf.new").c_str(), G_FILE_TEST_EXISTS));

    colors_fail_at = 0;
    r = save_config_with_colors(&test_colors);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(g_file_test((dir + "/colors.conf").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(Settings, DirectoriesAndFilesLiveUnderTheConfigDir)
{
    std::string sub = dir + "/nested/cfg";
    set_xdir((sub + "/").c_str());
    EXPECT_EQ(std::string(get_xdir()), sub);
    EXPECT_EQ(check_config_dir(), -1);
    ASSERT_EQ(make_config_dirs(), 0);
    EXPECT_EQ(check_config_dir(), 0);
    EXPECT_TRUE(g_file_test((sub + "/addons").c_str(), G_FILE_TEST_IS_DIR));
    EXPECT_TRUE(g_file_test((sub + "/sounds").c_str(), G_FILE_TEST_IS_DIR));

    safe_strcpy(prefs.dcc_dir, (dir + "/dl").c_str(), sizeof(prefs.dcc_dir));
    EXPECT_EQ(make_dcc_dirs(), 0);
    EXPECT_TRUE(g_file_test((dir + "/dl").c_str(), G_FILE_TEST_IS_DIR));
    safe_strcpy(prefs.dcc_completed_dir, (conf + "/x").c_str(), sizeof(prefs.dcc_completed_dir));
    write_file(conf, "");
    EXPECT_EQ(make_dcc_dirs(), -1);

    int fd = lumenwick_open_file("created", O_WRONLY | O_CREAT, 0, 0);
    ASSERT_GE(fd, 0);
    close(fd);
    struct stat st;
    ASSERT_EQ(stat((sub + "/created").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    FILE *fp = lumenwick_fopen_file("appended", "a", 0);
    ASSERT_NE(fp, nullptr);
    fclose(fp);
    ASSERT_EQ(stat((sub + "/appended").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(cfg_get_bool("URL_GRABBER"), 1);
    EXPECT_EQ(cfg_get_bool("away_reason"), -1);
    EXPECT_EQ(cfg_get_bool("nonexistent"), -1);
}

TEST_F(Settings, SetShowsAndListsSettings)
{
    safe_strcpy(prefs.irc_nick1, "bob", sizeof(prefs.irc_nick1));
    auto out = set("irc_nick1");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "irc_nick1\0032" + std::string(20, '.') + "\0033:\017 bob\n");
    EXPECT_EQ(set("url_grabber")[0], "url_grabber\0032" + std::string(18, '.') + "\0033:\017 ON\n");
    EXPECT_EQ(set("away_timeout")[0], "away_timeout\0032" + std::string(17, '.') + "\0033:\017 60\n");

    out = set("IRC_NICK?");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(g_str_has_prefix(out[2].c_str(), "irc_nick3"));
    EXPECT_EQ(set("").size(), static_cast<std::size_t>(SETTINGS_COUNT));

    EXPECT_EQ(set("irc_nick* x"), std::vector<std::string>{"No such variable.\n"});
    EXPECT_EQ(set("no_such thing"), std::vector<std::string>{"No such variable.\n"});
    EXPECT_TRUE(set("-quiet no_such thing").empty());
}

TEST_F(Settings, SetChangesValuesAndSavesThem)
{
    auto out = set("Away_Reason lunch break = long");
    EXPECT_EQ(out, std::vector<std::string>{"Away_Reason set to: lunch break = long (was: I'm busy)\n"});
    EXPECT_STREQ(prefs.away_reason, "lunch break = long");
    EXPECT_NE(read_file(conf).find("away_reason = lunch break = long\n"), std::string::npos);

    set("away_reason = spaced");
    EXPECT_STREQ(prefs.away_reason, "spaced");
    set("-e away_reason");
    EXPECT_STREQ(prefs.away_reason, "");
    EXPECT_TRUE(set("-quiet irc_nick1 quiet").empty());
    EXPECT_STREQ(prefs.irc_nick1, "quiet");

    std::string nick(100, 'n');
    set("irc_nick1 " + nick);
    EXPECT_EQ(std::string(prefs.irc_nick1), nick.substr(0, 63));

    EXPECT_EQ(set("gui_tab_layout 2"), std::vector<std::string>{"gui_tab_layout set to: 2 (was: 2)\n"});
    set("-or gui_tab_layout 4");
    EXPECT_EQ(prefs.gui_tab_layout, 6);
    set("-off gui_tab_layout 4");
    EXPECT_EQ(prefs.gui_tab_layout, 2);

    for (const char *v : {"yes", "5", "On", "YES"}) {
        prefs.url_grabber = 0;
        set(std::string("url_grabber ") + v);
        EXPECT_EQ(prefs.url_grabber, 1) << v;
    }
    for (const char *v : {"no", "0", "OFF", "junk"}) {
        prefs.url_grabber = 1;
        set(std::string("url_grabber ") + v);
        EXPECT_EQ(prefs.url_grabber, 0) << v;
    }
    EXPECT_EQ(set("url_grabber on"), std::vector<std::string>{"url_grabber set to: 1 (was: 0)\n"});
    EXPECT_NE(read_file(conf).find("url_grabber = 1\n"), std::string::npos);
}

} // namespace
