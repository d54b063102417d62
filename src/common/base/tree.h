// A growable array of item pointers kept in the order of a comparison
// function; binary search for lookups. Used for channel user lists.
#pragma once

typedef int (*tree_cmp_func)(const void *a, const void *b, void *data);
typedef int (*tree_traverse_func)(const void *data, void *user_data);

struct tree;

tree *tree_new(tree_cmp_func cmp, void *data);
void tree_destroy(tree *t);
// The item equal to `key` under `cmp` (called as cmp(key, item, data)), or null.
void *tree_find(tree *t, const void *key, tree_cmp_func cmp, void *data, int *pos);
// Position where `data` went, or -1 when an equal item is present.
int tree_insert(tree *t, void *data);
void tree_append(tree *t, void *data);
bool tree_remove(tree *t, void *data, int *pos);
void *tree_remove_at_pos(tree *t, int pos);
void tree_foreach(tree *t, tree_traverse_func func, void *data);
int tree_size(tree *t);
void **tree_make_list(tree *t); // borrowed view of the item array
