#include "userlist.h"

#include "session.h"
#include "tree.h"

void userlist_free(session *sess)
{
    // Users themselves arrive with the user-list work; the container is ours.
    if (sess->users) {
        tree_destroy(sess->users);
        sess->users = nullptr;
    }
    sess->own_user = nullptr;
    sess->op_count = sess->halfop_count = sess->voice_count = sess->user_count = 0;
}

const char *userlist_find_address(server *, const char *)
{
    // No users are tracked before the user-list model exists.
    return nullptr;
}
