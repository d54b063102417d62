#include "inbound.h"

#include "fe.h"
#include "session.h"

#include <glib.h>

void reply_cache_free(session *sess)
{
    for (auto &slot : sess->reply_context) {
        g_free(slot);
        slot = nullptr;
    }
}

void set_topic(session *sess, const char *topic, const char *stripped_topic)
{
    // The front end may keep pointers into the old text until the call returns.
    char *old = sess->topic;
    sess->topic = g_strdup(topic);
    fe_set_topic(sess, const_cast<char *>(topic), const_cast<char *>(stripped_topic));
    g_free(old);
}
