// The channel list without a display: which rows a filter shows, the order
// of each column, the counters, the LIST request and the saved file.
#include "dialogs/chanlist-model.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct sample {
    const char *channel, *users, *topic;
};

// Rows with names and topics that tell the search types apart.
const sample rows[] = {
    {"#linux", "900", "Linux help: \x02no\x02 pastes"},     {"#Ärger", "12", "complaints"},
    {"#python", "450", "Python talk, see #linux for OS"},   {"#tiny", "2", "almost empty"},
    {"#big", "25000", "channels larger than ten thousand"},
};

chanlist_model filled(const chanlist_filter_settings &f)
{
    chanlist_model m;
    m.set_filter(f);
    for (const sample &s : rows)
        m.add(s.channel, s.users, s.topic);
    m.flush();
    return m;
}

std::vector<std::string> shown(const chanlist_model &m)
{
    std::vector<std::string> out;
    for (const chanlist_row *r : m.view())
        out.push_back(r->channel);
    return out;
}

using names = std::vector<std::string>;

chanlist_filter_settings find(const char *text, int type, bool name = true, bool topic = true)
{
    chanlist_filter_settings f;
    f.find = text;
    f.type = type;
    f.in_name = name;
    f.in_topic = topic;
    return f;
}

} // namespace

TEST(ChanlistFilter, SearchTypesAndLookInBoxes)
{
    // Simple: case-insensitive substring, beyond ASCII too.
    EXPECT_EQ(shown(filled(find("LINUX", CHANLIST_SIMPLE))), (names{"#linux", "#python"}));
    EXPECT_EQ(shown(filled(find("ärger", CHANLIST_SIMPLE))), (names{"#Ärger"}));
    // Only the name, only the topic; neither box behaves as both.
    EXPECT_EQ(shown(filled(find("linux", CHANLIST_SIMPLE, true, false))), (names{"#linux"}));
    EXPECT_EQ(shown(filled(find("linux", CHANLIST_SIMPLE, false, true))), (names{"#linux", "#python"}));
    EXPECT_EQ(shown(filled(find("linux", CHANLIST_SIMPLE, false, false))), (names{"#linux", "#python"}));
    // Topics are searched without their formatting codes.
    EXPECT_EQ(shown(filled(find("help: no pastes", CHANLIST_SIMPLE))), (names{"#linux"}));

    // Wildcards match the whole field.
    EXPECT_EQ(shown(filled(find("#?i*", CHANLIST_WILDCARD, true, false))), (names{"#linux", "#tiny", "#big"}));
    EXPECT_EQ(shown(filled(find("linux", CHANLIST_WILDCARD))), names{});
    EXPECT_EQ(shown(filled(find("*EMPTY", CHANLIST_WILDCARD))), (names{"#tiny"}));

    // Regular expressions: case-insensitive; "#" is a plain character.
    EXPECT_EQ(shown(filled(find("^#(L|p)[a-z]+$", CHANLIST_REGEX, true, false))), (names{"#linux", "#python"}));
    EXPECT_EQ(shown(filled(find("#linux", CHANLIST_REGEX, true, false))), (names{"#linux"}));
    EXPECT_EQ(shown(filled(find("THOUSAND$", CHANLIST_REGEX))), (names{"#big"}));
    // One that does not compile hides every row.
    chanlist_model bad = filled(find("(unclosed", CHANLIST_REGEX));
    EXPECT_FALSE(bad.filter().valid());
    EXPECT_TRUE(shown(bad).empty());
}

TEST(ChanlistFilter, UserRangeAndCounters)
{
    chanlist_filter_settings f;
    f.min_users = 12;
    f.max_users = 900;
    chanlist_model m = filled(f);
    EXPECT_EQ(shown(m), (names{"#linux", "#Ärger", "#python"}));
    EXPECT_EQ(m.label(), "Displaying 1362/26364 users on 3/5 channels.");

    // No maximum: the largest channels are shown too.
    f.max_users = 0;
    m.set_filter(f);
    m.refilter();
    EXPECT_EQ(shown(m), (names{"#linux", "#Ärger", "#python", "#big"}));
    EXPECT_EQ(m.label(), "Displaying 26362/26364 users on 4/5 channels.");

    // Counts that are not numbers count as 0 and never as negative.
    chanlist_model odd;
    odd.add("#a", "lots", "");
    odd.add("#b", "-7", "");
    odd.add("#c", "99999999999999", "");
    odd.flush();
    EXPECT_EQ(shown(odd), names{"#c"}); // the default minimum is 1
    EXPECT_EQ(odd.label(), "Displaying 2147483647/2147483647 users on 1/3 channels.");
}

TEST(ChanlistModel, FirstRowsShownAtOnceTheRestQueuedUntilFlushed)
{
    chanlist_model m;
    int direct = 0;
    for (int i = 0; i < 50; i++)
        direct += m.add("#c" + std::to_string(i), "5", "") ? 1 : 0;
    EXPECT_EQ(direct, int(chanlist_model::direct_rows));
    EXPECT_EQ(m.view().size(), chanlist_model::direct_rows);
    EXPECT_EQ(m.queued(), 30u);
    EXPECT_EQ(m.flush(), 30u);
    EXPECT_EQ(m.view().size(), 50u);
    // Arrival order is kept in the view until it is sorted.
    EXPECT_EQ(m.view()[20]->channel, "#c20");
    EXPECT_EQ(m.shown_channels(), 50);
    m.clear();
    EXPECT_EQ(m.label(), "Displaying 0/0 users on 0/0 channels.");
    EXPECT_TRUE(m.view().empty());
}

TEST(ChanlistModel, SortEachColumnBothWays)
{
    chanlist_model m;
    m.add("#b", "9", "beta Topic");
    m.add("#a", "10", "Alpha");
    m.add("#C", "100", "alpha2");
    m.add("#d", "10", "_under");
    m.flush();

    m.sort(CHANLIST_COL_USERS, false); // numbers, not text; ties keep their order
    EXPECT_EQ(shown(m), (names{"#b", "#a", "#d", "#C"}));
    m.sort(CHANLIST_COL_USERS, true);
    EXPECT_EQ(shown(m), (names{"#C", "#a", "#d", "#b"}));
    m.sort(CHANLIST_COL_CHANNEL, false); // collation: case does not split the list
    EXPECT_EQ(shown(m), (names{"#a", "#b", "#C", "#d"}));
    m.sort(CHANLIST_COL_TOPIC, false); // ASCII letters folded: "_" (0x5f) before "a"
    EXPECT_EQ(shown(m), (names{"#d", "#a", "#C", "#b"}));
    m.sort(CHANLIST_COL_TOPIC, true);
    EXPECT_EQ(shown(m), (names{"#b", "#C", "#a", "#d"}));

    // A new search keeps the order: rows hidden during the sort were sorted
    // too, and a row that arrives later goes at the end.
    chanlist_filter_settings f;
    f.find = "alpha";
    m.set_filter(f);
    m.refilter();
    m.flush();
    EXPECT_EQ(shown(m), (names{"#C", "#a"}));
    m.sort(CHANLIST_COL_USERS, false);
    m.add("#e", "1", "alpha late");
    m.flush();
    m.set_filter({});
    m.refilter();
    m.flush();
    EXPECT_EQ(shown(m), (names{"#b", "#a", "#d", "#C", "#e"}));
}

TEST(ChanlistRequest, AsksNoHiddenUpperBound)
{
    EXPECT_EQ(chanlist_list_args(false, 5, 9999), "");
    EXPECT_EQ(chanlist_list_args(true, 5, 0), ">4");
    EXPECT_EQ(chanlist_list_args(true, 5, 9999), ">4,<10000");
    EXPECT_EQ(chanlist_list_args(true, 1, 50000), ">0,<50001");
    EXPECT_EQ(chanlist_sane_count(0, 5), 5);
    EXPECT_EQ(chanlist_sane_count(1000000, 9999), 9999);
    EXPECT_EQ(chanlist_sane_count(999999, 9999), 999999);
}

TEST(ChanlistSave, WritesShownRowsPrivatelyAndReportsFailure)
{
    chanlist_filter_settings f;
    f.min_users = 100;
    chanlist_model m = filled(f);
    m.sort(CHANLIST_COL_USERS, true);

    const std::string text = chanlist_save_text(m, "irc.example.net", 0);
    std::istringstream in(text);
    std::string header, line;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("Lumenwick Channel List: irc.example.net - ", 0), 0u) << header;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    EXPECT_EQ(lines, (names{"#big             25000channels larger than ten thousand",
                            "#linux           900  Linux help: no pastes",
                            "#python          450  Python talk, see #linux for OS"}));

    gchar *dir = g_dir_make_tmp("chanlist-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    const std::string path = std::string(dir) + "/list.txt";
    int err = 0;
    ASSERT_TRUE(chanlist_save(m, "irc.example.net", path, &err));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream saved(path);
    std::stringstream whole;
    whole << saved.rdbuf();
    EXPECT_NE(whole.str().find("#python          450  Python talk"), std::string::npos);

    // A place that cannot hold the file is a failure with its reason.
    EXPECT_FALSE(chanlist_save(m, "irc.example.net", std::string(dir) + "/missing/list.txt", &err));
    EXPECT_EQ(err, ENOENT);
    g_unlink(path.c_str());
    g_rmdir(dir);
    g_free(dir);
}
