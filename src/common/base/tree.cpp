#include "base/tree.h"

#include <glib.h>

#include <cstring>

namespace
{

// User lists grow by a burst of NAMES replies at a time. Small channels start
// with a few slots; doubling after that keeps a burst of n appends at O(n)
// copying overall, where fixed steps would copy O(n^2 / step).
constexpr int TREE_INITIAL_CAPACITY = 32;

} // namespace

struct tree {
    void **items;
    int size;
    int capacity;
    tree_cmp_func cmp;
    void *data;
};

namespace
{

void tree_grow_if_full(tree *t)
{
    if (t->size < t->capacity)
        return;
    t->capacity = t->capacity < TREE_INITIAL_CAPACITY ? TREE_INITIAL_CAPACITY : t->capacity * 2;
    t->items = static_cast<void **>(g_realloc_n(t->items, static_cast<gsize>(t->capacity), sizeof(void *)));
}

void tree_insert_at(tree *t, int pos, void *item)
{
    tree_grow_if_full(t);
    std::memmove(&t->items[pos + 1], &t->items[pos], static_cast<std::size_t>(t->size - pos) * sizeof(void *));
    t->items[pos] = item;
    t->size++;
}

// Binary search of `key` under cmp(key, item, data); the position of the
// equal item, or -1.
int tree_search(const tree *t, const void *key, tree_cmp_func cmp, void *data)
{
    int lo = 0, hi = t->size;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        int c = cmp(key, t->items[mid], data);
        if (c == 0)
            return mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return -1;
}

} // namespace

tree *tree_new(tree_cmp_func cmp, void *data)
{
    tree *t = g_new0(tree, 1);
    t->cmp = cmp;
    t->data = data;
    return t;
}

void tree_destroy(tree *t)
{
    if (!t)
        return;
    g_free(t->items);
    g_free(t);
}

void *tree_find(tree *t, const void *key, tree_cmp_func cmp, void *data, int *pos)
{
    int found = (t && cmp) ? tree_search(t, key, cmp, data) : -1;
    if (pos)
        *pos = found;
    return found >= 0 ? t->items[found] : nullptr;
}

// Users mostly arrive in NAMES order, which servers often send sorted or
// reverse-sorted, so the two ends are tried before a binary search.
int tree_insert(tree *t, void *data)
{
    if (!t)
        return -1;
    if (t->size == 0) {
        tree_insert_at(t, 0, data);
        return 0;
    }

    int c = t->cmp(data, t->items[0], t->data);
    if (c == 0)
        return -1;
    if (c < 0) {
        tree_insert_at(t, 0, data);
        return 0;
    }

    c = t->cmp(data, t->items[t->size - 1], t->data);
    if (c == 0)
        return -1;
    if (c > 0) {
        int pos = t->size;
        tree_insert_at(t, pos, data);
        return pos;
    }

    // First position whose item compares greater than the new one.
    int lo = 1, hi = t->size - 1;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        c = t->cmp(data, t->items[mid], t->data);
        if (c == 0)
            return -1;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    tree_insert_at(t, lo, data);
    return lo;
}

void tree_append(tree *t, void *data)
{
    if (!t)
        return;
    tree_insert_at(t, t->size, data);
}

bool tree_remove(tree *t, void *data, int *pos)
{
    int found = t ? tree_search(t, data, t->cmp, t->data) : -1;
    if (pos)
        *pos = found;
    if (found < 0)
        return false;
    tree_remove_at_pos(t, found);
    return true;
}

void *tree_remove_at_pos(tree *t, int pos)
{
    if (!t || pos < 0 || pos >= t->size)
        return nullptr;
    void *item = t->items[pos];
    t->size--;
    std::memmove(&t->items[pos], &t->items[pos + 1], static_cast<std::size_t>(t->size - pos) * sizeof(void *));
    return item;
}

void tree_foreach(tree *t, tree_traverse_func func, void *data)
{
    if (!t || !func)
        return;
    for (int i = 0; i < t->size; i++) {
        if (!func(t->items[i], data))
            return;
    }
}

int tree_size(tree *t)
{
    return t ? t->size : 0;
}

void **tree_make_list(tree *t)
{
    return t ? t->items : nullptr;
}
