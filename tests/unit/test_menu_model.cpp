// Menus built from list files, and the command lines their items run: the
// values a "!" item fills in come from the network and must never run as
// shell commands.
#include "menus/menu-model.h"

#include "config/cfgfiles.h"
#include "config/list.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct record {
    const char *name;
    const char *cmd;
};

GSList *list_of(const std::vector<record> &records)
{
    GSList *list = nullptr;
    for (const record &r : records)
        list_addentry(&list, r.cmd, r.name);
    return list;
}

menu_node item(const char *label, const char *cmd, const char *icon = "")
{
    return menu_node{menu_node::ITEM, label, icon, cmd, {}};
}

menu_node sub(const char *label, std::vector<menu_node> children)
{
    return menu_node{menu_node::SUBMENU, label, "", "", std::move(children)};
}

menu_node sep()
{
    return menu_node{menu_node::SEPARATOR, "", "", "", {}};
}

TEST(MenuFromList, NestedSubmenusSeparatorsTogglesAndIcons)
{
    GSList *list = list_of({
        {"_Open~lwk-menu-new~", "query %s"},
        {"SUB", "Ops~lwk-menu-add~"},
        {"Give Ops", "op %a"},
        {"SEP", ""},
        {"SUB", "Kick/Ban"},
        {"Kick", "kick %s"},
        {"ENDSUB", ""},
        {"ENDSUB", ""},
        {"ENDSUB", ""}, // one too many: ignored
        {"TOGGLE Hide Version", "irc_hide_version"},
        {"Smile \\~wave\\~", "say hi"},
        {"SUB", "Never closed"},
        {"Last", "echo last"},
    });
    const std::vector<menu_node> expected = {
        item("_Open", "query %s", "lwk-menu-new"),
        menu_node{menu_node::SUBMENU,
                  "Ops",
                  "lwk-menu-add",
                  "",
                  {item("Give Ops", "op %a"), sep(), sub("Kick/Ban", {item("Kick", "kick %s")})}},
        menu_node{menu_node::TOGGLE, "Hide Version", "", "irc_hide_version", {}},
        item("Smile ~wave~", "say hi"),
        sub("Never closed", {item("Last", "echo last")}),
    };
    EXPECT_EQ(menu_build_from_list(list), expected);
    list_free(&list);
}

TEST(MenuFromList, LabelsEndingInTildesNameAnIconOnlyAtTheEnd)
{
    EXPECT_EQ(menu_split_label("Copy~edit-copy~").icon, "edit-copy");
    EXPECT_EQ(menu_split_label("Copy~edit-copy~").text, "Copy");
    // Not at the end: part of the label.
    EXPECT_EQ(menu_split_label("a~b~c").text, "a~b~c");
    EXPECT_EQ(menu_split_label("~").text, "~");
    // An escaped tilde before the icon stays in the label.
    EXPECT_EQ(menu_split_label("x\\~y~z~").text, "x~y");
    EXPECT_EQ(menu_split_label("x\\~y~z~").icon, "z");
}

TEST(MenuFromList, FilteredRecordsAndEmptySubmenusInTheUrlMenu)
{
    GSList *list = list_of({
        {"SUB", "Browsers"},
        {"Missing", "!no-such-program-lumenwick %s"},
        {"ENDSUB", ""},
        {"Shell", "!sh -c true"},
        {"Terminal", "!gnome-terminal -x sh -c true"},
        {"Gone", "!gnome-terminal -x no-such-program-lumenwick"},
        {"Plain", "url %s"},
    });
    menu_build_options options;
    options.keep = [](const char *, const char *cmd) { return menu_url_handler_available(cmd); };
    options.drop_empty_submenus = true;
    const std::vector<menu_node> expected = {
        item("Shell", "!sh -c true"), item("Terminal", "!gnome-terminal -x sh -c true"), item("Plain", "url %s")};
    EXPECT_EQ(menu_build_from_list(list, options), expected);
    // Elsewhere an empty submenu stays.
    EXPECT_EQ(menu_build_from_list(list, {options.keep, false}).front(), sub("Browsers", {}));
    list_free(&list);
}

TEST(MenuFromList, BuiltInNickMenuHasTheOperatorSubmenus)
{
    gchar *dir = g_dir_make_tmp("lwk-menu-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    set_xdir(dir);
    list_load_all();
    const auto nodes = menu_build_from_list(popup_list);
    ASSERT_EQ(nodes.size(), 6u);
    EXPECT_EQ(nodes[0], item("_Open Dialog Window", "query %s", "lwk-menu-new"));
    const menu_node &ops = nodes[5];
    EXPECT_EQ(ops.label, "O_perator Actions");
    ASSERT_EQ(ops.kind, menu_node::SUBMENU);
    const menu_node &kickban = ops.children.back();
    ASSERT_EQ(kickban.kind, menu_node::SUBMENU);
    EXPECT_EQ(kickban.children.front(), item("Kick", "kick %s"));
    EXPECT_EQ(kickban.children.back().command, "kickban %s 3");
    list_free(&popup_list);
    g_rmdir(dir);
    g_free(dir);
}

// --- command lines -----------------------------------------------------------------------------

class ShellItems : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        gchar *tmp = g_dir_make_tmp("lwk-shell-XXXXXX", nullptr);
        ASSERT_NE(tmp, nullptr);
        dir = tmp;
        g_free(tmp);
    }
    void TearDown() override
    {
        GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
        while (const char *name = d ? g_dir_read_name(d) : nullptr)
            g_remove((dir + "/" + name).c_str());
        if (d)
            g_dir_close(d);
        g_rmdir(dir.c_str());
    }

    // Runs what /EXEC would hand to /bin/sh, in the test's directory.
    void run_shell(const std::string &line)
    {
        ASSERT_EQ(line.rfind("exec ", 0), 0u) << line;
        const std::string command = line.substr(5);
        const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        int status = -1;
        ASSERT_TRUE(g_spawn_sync(dir.c_str(), const_cast<char **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr,
                                 nullptr, nullptr, &status, nullptr));
        EXPECT_EQ(status, 0) << command;
    }

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
        while (const char *name = d ? g_dir_read_name(d) : nullptr)
            names.emplace_back(name);
        if (d)
            g_dir_close(d);
        return names;
    }

    std::string read(const char *name) const
    {
        std::ifstream in(dir + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string dir;
};

TEST_F(ShellItems, HostileNetworkTextReachesTheProgramAsOneArgumentAndRunsNothing)
{
    const char *const hostile[] = {
        "$(touch dollar)",
        "`touch backtick`",
        "nick`touch tick2`",
        "'; touch quote; '",
        "\"; touch dquote; \"",
        "http://example.org/it's?q=$(touch url)&x=`id`",
        "a\\'b",
    };
    for (const char *value : hostile) {
        insert_values v;
        v.s = value;
        v.h = value;
        v.u = value;
        run_shell(menu_command_line("!printf '[%%s]\\n' %s %h %u > out", v));
        const std::string shown = "[" + std::string(value) + "]\n";
        EXPECT_EQ(read("out"), shown + shown + shown) << value;
        EXPECT_EQ(files(), std::vector<std::string>{"out"}) << "something ran for " << value;
    }
}

TEST_F(ShellItems, EachSelectedNickIsQuotedOnItsOwn)
{
    insert_values v;
    // Nicks hold no blanks; ${IFS} is how a hostile one would spell one.
    v.a = "alice b`touch${IFS}x`ob $(touch${IFS}y)";
    run_shell(menu_command_line("!printf '<%%s>' %a > out", v));
    EXPECT_EQ(read("out"), "<alice><b`touch${IFS}x`ob><$(touch${IFS}y)>");
    EXPECT_EQ(files(), std::vector<std::string>{"out"});
}

TEST(MenuCommandLine, IrcCommandsKeepValuesVerbatim)
{
    insert_values v;
    v.s = "it's`x`";
    v.c = "#chan";
    EXPECT_EQ(menu_command_line("kick %s", v), "kick it's`x`");
    EXPECT_EQ(menu_command_line("doat %c gui focus", v), "doat #chan gui focus");
    // A word the menu cannot give fails instead of running half a command.
    EXPECT_EQ(menu_command_line("msg %2 hi", v), "");
    EXPECT_EQ(menu_command_line("!echo %2", v), "");
}

TEST(MenuCommandLine, ASingleNickTemplateRunsPerSelectedNick)
{
    EXPECT_TRUE(menu_template_uses_nick("kick %s"));
    EXPECT_FALSE(menu_template_uses_nick("op %a"));
    EXPECT_FALSE(menu_template_uses_nick("echo 100%%s"));
    EXPECT_TRUE(menu_template_uses_nick("echo 100%%%s"));
}

} // namespace
