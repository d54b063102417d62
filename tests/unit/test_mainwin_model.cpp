// The main window's rules without a display: switcher order, truncation and
// focus, tab colours, tab state, closed tabs, layout slots, the row index.
#include "mainwin/button-commands.h"
#include "mainwin/tabstate.h"
#include "switcher/chanview-model.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> names(const chanview_model &m)
{
    std::vector<std::string> out;
    for (chan *c : m.display_order())
        out.push_back(c->name);
    return out;
}

// Server rows first, then by name, as the main window orders tabs.
int by_name(chan *a, chan *b)
{
    if (a->allow_children != b->allow_children)
        return a->allow_children ? -1 : 1;
    return a->name.compare(b->name);
}

int fam1, fam2;

} // namespace

TEST(Switcher, FamiliesSortedInsertAndUtilityTabsKeepTheirPlace)
{
    chanview_model m;
    m.compare = by_name;
    m.sorted = true;
    m.add("net1", &fam1, nullptr, true, 0, 0);
    m.add("#zeta", &fam1, nullptr, false, 0, 0);
    m.add("net2", &fam2, nullptr, true, 0, 0);
    m.add("utility", &fam1, nullptr, false, 1, 0);
    m.add("#alpha", &fam1, nullptr, false, 0, 0);
    m.add("#beta", &fam2, nullptr, false, 0, 0);
    EXPECT_EQ(names(m), (std::vector<std::string>{"net1", "#alpha", "#zeta", "utility", "net2", "#beta"}));

    // Unsorted tabs are appended; resort orders them but leaves the tagged row.
    m.sorted = false;
    m.add("#aaa", &fam1, nullptr, false, 0, 0);
    EXPECT_EQ(names(m)[4], "#aaa");
    m.resort();
    EXPECT_EQ(names(m), (std::vector<std::string>{"net1", "#aaa", "#alpha", "utility", "#zeta", "net2", "#beta"}));
}

TEST(Switcher, FocusWrapsAndAbsoluteOutOfRangeIsNothing)
{
    chanview_model m;
    chan *a = m.add("a", &fam1, nullptr, true, 0, 0);
    m.add("b", &fam1, nullptr, false, 0, 0);
    chan *c = m.add("c", &fam2, nullptr, true, 0, 0);
    m.focused = c;
    EXPECT_EQ(m.move_focus_target(true, 1), a);
    m.focused = a;
    EXPECT_EQ(m.move_focus_target(true, -1), c);
    EXPECT_EQ(m.move_focus_target(true, 7), m.display_order()[1]);
    EXPECT_EQ(m.move_focus_target(false, 2), c);
    EXPECT_EQ(m.move_focus_target(false, 3), nullptr);
    EXPECT_EQ(m.move_focus_target(false, -1), nullptr);
}

TEST(Switcher, RemovingRefusesServersWithChildrenAndMovesFocusBack)
{
    chanview_model m;
    chan *server = m.add("net", &fam1, nullptr, false, 0, 0); // may not lose its children
    chan *one = m.add("#one", &fam1, nullptr, false, 0, 0);
    chan *two = m.add("#two", &fam1, nullptr, false, 0, 0);
    chan *next = nullptr;
    EXPECT_FALSE(m.remove(server, false, &next));
    EXPECT_EQ(m.size(), 3);

    // The focused last tab hands the focus to the one before it.
    m.focused = two;
    ASSERT_TRUE(m.remove(two, false, &next));
    EXPECT_EQ(next, one);
    EXPECT_EQ(m.focused, one);

    // The focused first tab, forced out, hands it to the one after; its
    // children become rows of their own again.
    m.focused = server;
    ASSERT_TRUE(m.remove(server, true, &next));
    EXPECT_EQ(next, one);
    ASSERT_EQ(m.roots().size(), 1u);
    EXPECT_EQ(m.roots()[0], one);
    EXPECT_EQ(one->parent, nullptr);
    // A new tab of that family joins the orphan that is now its root.
    chan *three = m.add("#three", &fam1, nullptr, false, 0, 0);
    EXPECT_EQ(three->parent, one);
}

TEST(Switcher, TruncationKeepsShortLimitsAndCountsCharacters)
{
    EXPECT_EQ(chanview_shown_name("#channel", 2), "#channel");
    EXPECT_EQ(chanview_shown_name("#channel", 0), "#channel");
    EXPECT_EQ(chanview_shown_name("#channel", 4), "#cha..");
    EXPECT_EQ(chanview_shown_name("#chan", 5), "#chan");
    // Characters, not bytes: a multibyte name is never cut inside a character.
    EXPECT_EQ(chanview_shown_name("#ääääää", 3), "#ää..");
}

TEST(TabColour, LevelsOverridesAndTheTabInFront)
{
    activity_flags none;
    // Levels 1..3 never colour the tab in front; 0 always clears.
    EXPECT_FALSE(activity_after(none, 2, true));
    activity_flags hl = *activity_after(none, 3, false);
    EXPECT_EQ(hl.level(), 3);
    EXPECT_EQ(activity_after(hl, 0, true)->level(), 0);

    // With "no override" new data does not lower a highlight or a message.
    EXPECT_EQ(activity_after(hl, 1 | NO_OVERRIDE, false)->level(), 3);
    activity_flags msg = *activity_after(none, 2, false);
    EXPECT_EQ(activity_after(msg, 1 | NO_OVERRIDE, false)->level(), 2);
    EXPECT_EQ(activity_after(msg, 1 | NO_OVERRIDE, false)->new_data, false);
    EXPECT_EQ(activity_after(hl, 2 | NO_OVERRIDE, false)->new_message, false);
    // Without it the flag is added (the shown level stays the highest flag).
    EXPECT_TRUE(activity_after(hl, 2, false)->new_message);
}

TEST(TabState, BackgroundChangesKeepOnlyTheLatestValue)
{
    tab_state t;
    EXPECT_TRUE(t.saved.empty());
    t.saved.topic = "first";
    t.saved.topic = "second";
    t.saved.lag = meter_text{0.5, "+0.5s", "Lag: +0.5 seconds"};
    EXPECT_FALSE(t.saved.empty());
    // Coming to front takes the saved values and leaves none behind.
    tab_saved applied = std::move(t.saved);
    t.saved = tab_saved{};
    EXPECT_EQ(*applied.topic, "second");
    EXPECT_EQ(applied.lag->label, "+0.5s");
    EXPECT_TRUE(t.saved.empty());
    EXPECT_EQ(mode_button_index('k'), 6);
    EXPECT_EQ(mode_button_index('b'), -1);
    EXPECT_EQ(mode_button_index(0), -1);
}

TEST(ClosedTabs, NewestFirstAtMostTwentyAndBoundedFields)
{
    closed_tabs list;
    for (int i = 0; i < 21; i++)
        list.push(1, "#c" + std::to_string(i), "");
    EXPECT_EQ(list.size(), 20u);
    EXPECT_EQ(list.pop()->channel, "#c20");
    for (int i = 0; i < 18; i++)
        list.pop();
    EXPECT_EQ(list.pop()->channel, "#c1"); // #c0 was dropped
    EXPECT_FALSE(list.pop());

    list.push(2, std::string(400, 'x'), std::string(100, 'k'));
    const closed_tab t = *list.pop();
    EXPECT_EQ(t.channel.size(), 300u);
    EXPECT_EQ(t.key.size(), 64u);
}

TEST(Layout, SlotsConflictsTreeAndDrops)
{
    // The tree cannot sit above or below the text.
    EXPECT_EQ(resolve_layout(3, 5, 2).switcher, 1);
    EXPECT_EQ(resolve_layout(3, 6, 0).switcher, 6);
    // Same slot: the switcher gives way.
    EXPECT_EQ(resolve_layout(3, 3, 0).switcher, 4);
    EXPECT_EQ(resolve_layout(1, 1, 2).switcher, 3);
    // The user list cannot go above or below.
    EXPECT_EQ(resolve_layout(5, 1, 2).userlist, 3);

    const layout_slots side{3, 4};
    EXPECT_TRUE(slots_share_side(side));
    EXPECT_TRUE(userlist_wanted(1, false, side)); // a server tab keeps the list shown
    EXPECT_FALSE(userlist_wanted(1, false, layout_slots{3, 6}));
    EXPECT_FALSE(userlist_wanted(2, true, side));

    // Dropping the user list onto the switcher's slot swaps within the column.
    const layout_slots after = drop_into(side, true, true, false);
    EXPECT_EQ(after.userlist, 4);
    EXPECT_EQ(after.switcher, 3);
    const layout_slots left = drop_into(layout_slots{3, 6}, false, false, true);
    EXPECT_EQ(left.switcher, 1);
    EXPECT_EQ(left.userlist, 3);
}

TEST(ClientTags, DenyListNamesStarTagOrPlusTag)
{
    EXPECT_FALSE(client_tag_allowed(false, nullptr, "typing"));
    EXPECT_TRUE(client_tag_allowed(true, nullptr, "typing"));
    EXPECT_TRUE(client_tag_allowed(true, "", "typing"));
    EXPECT_FALSE(client_tag_allowed(true, "*", "typing"));
    EXPECT_FALSE(client_tag_allowed(true, "reply,+typing", "typing"));
    EXPECT_FALSE(client_tag_allowed(true, "typing", "typing"));
    EXPECT_TRUE(client_tag_allowed(true, "+typingx,-typing", "typing"));
}

TEST(RowIndex, ScansOnceThenRemembersUntilForgotten)
{
    row_index<int> index;
    auto *u1 = reinterpret_cast<User *>(0x10);
    auto *u2 = reinterpret_cast<User *>(0x20);
    int scans = 0;
    const auto scan = [&](User *u, int *row) {
        scans++;
        if (u != u1)
            return false;
        *row = 7;
        return true;
    };
    int row = 0;
    EXPECT_TRUE(index.find(u1, &row, scan));
    EXPECT_TRUE(index.find(u1, &row, scan));
    EXPECT_EQ(row, 7);
    EXPECT_EQ(scans, 1);
    EXPECT_FALSE(index.find(u2, &row, scan));
    EXPECT_EQ(index.size(), 1u); // a failed scan is not remembered
    index.put(u2, 9);
    EXPECT_TRUE(index.find(u2, &row, scan));
    EXPECT_EQ(row, 9);
    index.forget(u1);
    EXPECT_TRUE(index.find(u1, &row, scan));
    EXPECT_EQ(scans, 3);
}

// "op %a" must become one MODE for all selected nicks, never one per nick
// (the server's mode limit applies per line); other buttons run per nick.
TEST(Buttons, AllNicksRunOnceOthersOncePerNick)
{
    const std::vector<button_target> two = {{"alice", "a@host.one"}, {"bob", ""}};
    const button_context ctx{"#chan", "Libera", "me"};
    EXPECT_EQ(button_commands("op %a", two, ctx), (std::vector<std::string>{"op alice bob"}));
    EXPECT_EQ(button_commands("whois %s %s (%h) in %c on %e as %n", two, ctx),
              (std::vector<std::string>{"whois alice alice (a@host.one) in #chan on Libera as me",
                                        "whois bob bob () in #chan on Libera as me"}));
    // Nothing selected still runs once, with the nick empty.
    EXPECT_EQ(button_commands("clear", {}, ctx), (std::vector<std::string>{"clear"}));
    // A word the button cannot have (no arguments are typed) runs nothing.
    EXPECT_TRUE(button_commands("kick %s %2", two, ctx).empty());
}

TEST(Replies, RouteAndBarText)
{
    EXPECT_EQ(reply_route_for("/me waves", '/', true, true), reply_route::as_typed);
    EXPECT_EQ(reply_route_for("sure", '/', true, true), reply_route::reply);
    EXPECT_EQ(reply_route_for("sure", '/', true, false), reply_route::unsupported);
    EXPECT_EQ(reply_route_for("sure", '/', false, true), reply_route::unsupported);
    EXPECT_EQ(reply_command('/', "abc123", "sure"), "/REPLY abc123 sure");

    EXPECT_EQ(
        reply_bar_markup({"id", "", ""}),
        "<span foreground='#7d8790'>\u21aa Replying to <b>message</b> \u00b7 Original message unavailable</span>");
    // Markup in the quote is escaped, and a long quote is cut before the
    // 160th byte when that byte is inside a character: the label would
    // refuse half a character.
    const std::string long_text = std::string(159, 'a') + "\u00e9" + "tail";
    const std::string bar = reply_bar_markup({"id", "<bob>", long_text});
    EXPECT_NE(bar.find("<b>&lt;bob&gt;</b>"), std::string::npos) << bar;
    EXPECT_NE(bar.find(std::string(159, 'a') + "</span>"), std::string::npos) << bar;
    EXPECT_TRUE(g_utf8_validate(bar.c_str(), -1, nullptr));
}
