#include "base/tree.h"
#include "base/util.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace
{

int cmp_int(const void *a, const void *b, void *)
{
    int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return (x > y) - (x < y);
}

int cmp_nick(const void *a, const void *b, void *)
{
    return rfc_casecmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

std::vector<int> contents(tree *t)
{
    std::vector<int> out;
    tree_foreach(
        t,
        [](const void *item, void *ud) {
            static_cast<std::vector<int> *>(ud)->push_back(*static_cast<const int *>(item));
            return 1;
        },
        &out);
    return out;
}

TEST(Tree, EqualItemIsRejectedAndLeavesTheTreeUnchanged)
{
    tree *t = tree_new(cmp_nick, nullptr);
    char a[] = "alice", b[] = "bob[x]", c[] = "carol", dup[] = "BOB{X}";
    EXPECT_EQ(tree_insert(t, b), 0);
    EXPECT_EQ(tree_insert(t, c), 1);
    EXPECT_EQ(tree_insert(t, a), 0);
    EXPECT_EQ(tree_insert(t, dup), -1);
    EXPECT_EQ(tree_insert(t, a), -1);
    EXPECT_EQ(tree_size(t), 3);

    int pos = -2;
    EXPECT_EQ(tree_find(t, "bob{x}", cmp_nick, nullptr, &pos), b);
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(tree_find(t, "dave", cmp_nick, nullptr, &pos), nullptr);
    EXPECT_EQ(pos, -1);
    EXPECT_TRUE(tree_remove(t, dup, &pos)); // removes the item equal to it
    EXPECT_EQ(pos, 1);
    EXPECT_FALSE(tree_remove(t, dup, &pos));
    EXPECT_EQ(tree_make_list(t)[1], c);
    tree_destroy(t);
}

TEST(Tree, RandomOperationsKeepTheSameOrderAsStdSet)
{
    std::mt19937 rng(12345);
    std::vector<int> pool(400);
    for (int i = 0; i < 400; i++)
        pool[i] = i;
    tree *t = tree_new(cmp_int, nullptr);
    std::set<int> model;
    for (int step = 0; step < 5000; step++) {
        int *item = &pool[rng() % pool.size()];
        int pos = -2;
        if (rng() % 3) {
            bool fresh = model.insert(*item).second;
            int got = tree_insert(t, item);
            if (fresh)
                ASSERT_EQ(got, std::distance(model.begin(), model.find(*item)));
            else
                ASSERT_EQ(got, -1);
        } else {
            bool present = model.erase(*item) > 0;
            ASSERT_EQ(tree_remove(t, item, &pos), present);
        }
        ASSERT_EQ(tree_size(t), static_cast<int>(model.size()));
        void *found = tree_find(t, item, cmp_int, nullptr, &pos);
        ASSERT_EQ(found != nullptr, model.count(*item) == 1);
    }
    EXPECT_EQ(contents(t), std::vector<int>(model.begin(), model.end()));
    tree_destroy(t);
}

TEST(Tree, AppendRemoveAtAndForeachStop)
{
    int v[5] = {1, 2, 3, 4, 5};
    tree *t = tree_new(cmp_int, nullptr);
    for (int &x : v)
        tree_append(t, &x);
    EXPECT_EQ(tree_remove_at_pos(t, 0), &v[0]);
    EXPECT_EQ(tree_remove_at_pos(t, 3), &v[4]);
    EXPECT_EQ(tree_remove_at_pos(t, 3), nullptr);
    EXPECT_EQ(tree_remove_at_pos(t, -1), nullptr);
    EXPECT_EQ(contents(t), (std::vector<int>{2, 3, 4}));

    int visited = 0;
    tree_foreach(
        t, [](const void *, void *ud) { return ++*static_cast<int *>(ud) < 2 ? 1 : 0; }, &visited);
    EXPECT_EQ(visited, 2);
    tree_destroy(t);
    EXPECT_EQ(tree_size(nullptr), 0);
}

} // namespace
