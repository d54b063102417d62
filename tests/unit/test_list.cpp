// The NAME/CMD list files: parsing, built-in contents and editing.
#include "config/list.h"

#include "config/cfgfiles.h"
#include "fe_recorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

using entries = std::vector<std::pair<std::string, std::string>>; // name, command

entries of(GSList *list)
{
    entries out;
    for (GSList *item = list; item; item = item->next) {
        auto *pop = static_cast<popup *>(item->data);
        out.emplace_back(pop->name, pop->cmd);
    }
    return out;
}

class ListFiles : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char *tmp = g_dir_make_tmp("lwk-list-XXXXXX", nullptr);
        ASSERT_NE(tmp, nullptr);
        dir = tmp;
        g_free(tmp);
        set_xdir(dir.c_str());
    }
    void TearDown() override
    {
        // Reading and writing lists never needs to interrupt the user.
        EXPECT_TRUE(fe_recorder::messages().empty());
        list_free(&list);
        for (GSList **l : {&popup_list, &usermenu_list, &button_list, &dlgbutton_list, &tabmenu_list, &ctcp_list,
                           &command_list, &replace_list, &urlhandler_list})
            list_free(l);
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    void write(const std::string &file, const std::string &data)
    {
        std::ofstream(dir + "/" + file, std::ios::binary) << data;
    }
    std::string dir;
    GSList *list = nullptr;
};

TEST_F(ListFiles, RecordsArePairedAndStrayLinesIgnored)
{
    write("test.conf", "# comment\n"
                       "CMD orphan command\n"
                       "name First\n"
                       "cmd first %s\n"
                       "\n"
                       "NAME Overwritten\n"
                       "NAME Second\r\n"
                       "junk line\n"
                       "CMD second\r\n"
                       "NAMEless\n"
                       "CMD dropped too\n"
                       "NAME Last\n"
                       "CMD no newline at end");
    list_loadconf("test.conf", &list, "NAME builtin\nCMD unused\n");
    EXPECT_EQ(of(list), (entries{{"First", "first %s"}, {"Second", "second"}, {"Last", "no newline at end"}}));
}

TEST_F(ListFiles, FieldsAreCutAtCharacterBoundariesAndRepaired)
{
    std::string long_name(126, 'n');
    long_name += "é"; // would end at byte 128: does not fit in 127
    std::string long_cmd(390, 'c');
    std::string data = "NAME " + long_name + "\nCMD " + long_cmd + "\n";
    const char damaged[] = "NAME bad\xc3 name\nCMD with\0nul\n";
    data += std::string(damaged, sizeof(damaged) - 1);
    write("test.conf", data);
    list_loadconf("test.conf", &list, nullptr);
    auto got = of(list);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, std::string(126, 'n'));
    EXPECT_EQ(got[0].second, std::string(LIST_CMD_MAX, 'c'));
    EXPECT_TRUE(g_utf8_validate(got[1].first.c_str(), -1, nullptr));
    EXPECT_TRUE(g_str_has_prefix(got[1].first.c_str(), "bad"));
    EXPECT_EQ(got[1].second, "with");
}

TEST_F(ListFiles, BuiltInContentsOnlyWhenTheFileIsMissing)
{
    write("replace.conf", ""); // an emptied list stays empty
    list_load_all();
    EXPECT_EQ(of(replace_list), entries{});
    EXPECT_EQ(of(tabmenu_list), entries{});
    EXPECT_EQ(of(ctcp_list), (entries{{"TIME", "nctcp %s TIME %t"}, {"PING", "nctcp %s PING %d"}}));
    EXPECT_EQ(of(urlhandler_list), (entries{{"Open Link in a new Firefox Window", "!firefox -new-window %s"}}));
    EXPECT_EQ(of(dlgbutton_list), (entries{{"WhoIs", "whois %s %s"},
                                           {"Send", "send %s"},
                                           {"Chat", "dcc chat %s"},
                                           {"Clear", "clear"},
                                           {"Ping", "ping %s"}}));
    EXPECT_EQ(of(button_list)[3],
              (std::pair<std::string, std::string>{"Kick", "getstr \"bye\" \"kick %s\" \"Enter reason to kick %s:\""}));
    EXPECT_EQ(of(usermenu_list), (entries{{"Leave Channel", "part"},
                                          {"Join Channel...", "getstr # join \"Enter Channel to Join:\""},
                                          {"Server Links", "quote LINKS"},
                                          {"Ping Server", "ping"},
                                          {"TOGGLE Hide Version", "irc_hide_version"}}));

    auto commands = of(command_list);
    ASSERT_EQ(commands.size(), 30u);
    EXPECT_EQ(commands.front(), (std::pair<std::string, std::string>{"ACTION", "me &2"}));
    EXPECT_EQ(commands[7], (std::pair<std::string, std::string>{"DMSG", "msg =%2 &3"}));
    EXPECT_EQ(commands.back(), (std::pair<std::string, std::string>{"WII", "quote WHOIS %2 %2"}));

    auto popup = of(popup_list);
    ASSERT_EQ(popup.size(), 27u);
    EXPECT_EQ(popup[0], (std::pair<std::string, std::string>{"_Open Dialog Window~lwk-menu-new~", "query %s"}));
    EXPECT_EQ(popup[1].first, "_Send a File\u2026~lwk-menu-save~");
    EXPECT_EQ(popup[5], (std::pair<std::string, std::string>{"SUB", "O_perator Actions"}));
    EXPECT_EQ(popup[8], (std::pair<std::string, std::string>{"SEP", ""}));
    EXPECT_EQ(popup[12], (std::pair<std::string, std::string>{"SUB", "Kick/Ban"}));
    EXPECT_EQ(popup[16], (std::pair<std::string, std::string>{"Ban *!*@*.host", "ban %s 0"}));
    EXPECT_EQ(popup[24], (std::pair<std::string, std::string>{"KickBan *!*user@domain", "kickban %s 3"}));
    EXPECT_EQ(popup[25].first, "ENDSUB");
    EXPECT_EQ(popup[26].first, "ENDSUB");

    // Loading again replaces rather than doubles the lists.
    list_load_all();
    EXPECT_EQ(of(command_list).size(), 30u);
}

TEST_F(ListFiles, EditingAndSavingRoundTrip)
{
    list_addentry(&list, "one", "Alpha");
    list_addentry(&list, "two", "beta");
    list_addentry(&list, "three", "BETA");
    list_addentry(&list, "multi\nline", "Gamma");
    EXPECT_TRUE(list_delentry(&list, "Beta"));
    EXPECT_FALSE(list_delentry(&list, "delta"));
    EXPECT_EQ(of(list), (entries{{"Alpha", "one"}, {"BETA", "three"}, {"Gamma", "multi\nline"}}));

    ASSERT_TRUE(list_save("saved.conf", list));
    struct stat st;
    ASSERT_EQ(stat((dir + "/saved.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream in(dir + "/saved.conf");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "NAME Alpha\nCMD one\n\nNAME BETA\nCMD three\n\nNAME Gamma\nCMD multi line\n\n");

    GSList *loaded = nullptr;
    list_loadconf("saved.conf", &loaded, nullptr);
    EXPECT_EQ(of(loaded), (entries{{"Alpha", "one"}, {"BETA", "three"}, {"Gamma", "multi line"}}));
    list_free(&loaded);
    EXPECT_EQ(loaded, nullptr);

    set_xdir((dir + "/missing").c_str());
    EXPECT_FALSE(list_save("saved.conf", list));
}

} // namespace
