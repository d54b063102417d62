// The ban list's rules without a display: the types a server offers, the
// buttons an operator or a user may press, and the order of dates.
#include "dialogs/banlist-model.h"

#include <gtest/gtest.h>

TEST(BanlistTypes, AvailabilityFollowsTheServersAnnouncements)
{
    // Only bans on a plain server, to everyone.
    banlist_availability a = banlist_available("b,k,l,imnpst", false, false);
    EXPECT_EQ(a.op, 1u);
    EXPECT_EQ(a.nonop, 1u);
    // All four from the list modes; quiets also to non-operators.
    a = banlist_available("beIq,k,l,imnpst", false, false);
    EXPECT_EQ(a.op, 15u);
    EXPECT_EQ(a.nonop, 9u);
    // EXCEPTS and INVEX without the letters in the list group.
    a = banlist_available("b,k,l,imnt", true, true);
    EXPECT_EQ(a.op, 7u);
    EXPECT_EQ(a.nonop, 1u);
    // Letters in other groups do not count, and no CHANMODES at all is plain.
    a = banlist_available("b,eq,I,imnt", false, false);
    EXPECT_EQ(a.op, 1u);
    EXPECT_EQ(banlist_available(nullptr, false, false).op, 1u);

    EXPECT_EQ(banlist_type_of(348), 1);
    EXPECT_EQ(banlist_type_of(729), 3);
    EXPECT_EQ(banlist_type_of(324), -1);
}

TEST(BanlistButtons, SensitivityByStatusRowsAndSelection)
{
    const banlist_availability all{15u, 9u};
    struct expect {
        bool op;
        int rows, selected;
        unsigned pending, types;
        bool remove, crop, clear, refresh;
    };
    const expect cases[] = {
        // A user who is no operator removes nothing, whatever is selected.
        {false, 5, 2, 0, 1, false, false, false, true},
        // An operator: empty list, none selected, some, all.
        {true, 0, 0, 0, 1, false, false, false, true},
        {true, 5, 0, 0, 1, false, false, true, true},
        {true, 5, 2, 0, 1, true, true, false, true},
        {true, 5, 5, 0, 1, true, false, false, true},
        // Refresh waits for the fetch and needs a type.
        {true, 5, 0, 2, 3, false, false, true, false},
        {true, 5, 0, 0, 0, false, false, true, false},
        // A type only operators may list does not refresh for a user.
        {false, 0, 0, 0, 2, false, false, false, false},
    };
    for (const expect &c : cases) {
        const banlist_buttons b = banlist_sensitivity(all, c.op, c.rows, c.selected, c.pending, c.types);
        SCOPED_TRACE(testing::Message() << "op " << c.op << " rows " << c.rows << " selected " << c.selected
                                        << " pending " << c.pending << " types " << c.types);
        EXPECT_EQ(b.allowed, c.op ? 15u : 9u);
        EXPECT_EQ(b.remove, c.remove);
        EXPECT_EQ(b.crop, c.crop);
        EXPECT_EQ(b.clear, c.clear);
        EXPECT_EQ(b.refresh, c.refresh);
    }
}

TEST(BanlistDates, SortByTimeNotText)
{
    const char *ordered[] = {
        "",                         // no date: the earliest
        "Sat Dec 31 23:59:59 2022", // before every 2023 date
        "Sun Jan  1 00:00:00 2023",
        "Wed Feb  1 09:00:00 2023", // "Feb" < "Jan" as text
        "Wed Feb  1 10:00:00 2023",
        "Mon Oct  2 10:00:00 2023", // a day of one digit after one of two
        "Tue Oct 10 10:00:00 2023",
    };
    for (std::size_t i = 1; i < std::size(ordered); i++)
        EXPECT_LT(banlist_date_key(ordered[i - 1]), banlist_date_key(ordered[i])) << ordered[i];
    EXPECT_EQ(banlist_date_key("not a date"), 0);
    EXPECT_EQ(banlist_date_key("Mon Foo  2 10:00:00 2023"), 0);
    EXPECT_EQ(banlist_date_key(nullptr), 0);
}
