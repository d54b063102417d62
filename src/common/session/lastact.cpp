#include "session/lastact.h"

#include "base/lumenwick.h"
#include "session/session.h"

namespace
{
int activity_list_for(const session *sess)
{
    const bool dialog = sess->type == SESS_DIALOG;
    if (sess->has_highlight)
        return dialog ? LACT_QUERY_HI : LACT_CHAN_HI;
    if (sess->has_new_message)
        return dialog ? LACT_QUERY : LACT_CHAN;
    if (sess->has_new_data)
        return dialog ? LACT_QUERY : LACT_CHAN_DATA;
    return -1;
}
} // namespace

void lastact_remove(session *sess)
{
    if (sess->activity_index >= 0 && sess->activity_index < LACT_COUNT)
        sess_list_by_lastact[sess->activity_index] = g_list_remove(sess_list_by_lastact[sess->activity_index], sess);
    sess->activity_index = -1;
}

void lastact_update(session *sess)
{
    const int newidx = activity_list_for(sess);
    if (newidx == -1 && sess->activity_index == -1)
        return;
    if (newidx == sess->activity_index && sess_list_by_lastact[newidx] && sess_list_by_lastact[newidx]->data == sess)
        return;
    lastact_remove(sess);
    if (newidx == -1)
        return;
    sess->activity_index = newidx;
    sess_list_by_lastact[newidx] = g_list_prepend(sess_list_by_lastact[newidx], sess);
}

session *lastact_getfirst(int (*filter)(session *sess))
{
    for (int i = 0; i < LACT_COUNT; i++) {
        for (GList *l = sess_list_by_lastact[i]; l; l = l->next) {
            auto *sess = static_cast<session *>(l->data);
            if (filter && !filter(sess))
                continue;
            sess_list_by_lastact[i] = g_list_delete_link(sess_list_by_lastact[i], l);
            sess->activity_index = -1;
            return sess;
        }
    }
    return nullptr;
}
