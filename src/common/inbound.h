// Handling of events received from the server.
#pragma once

struct session;

// Releases the reply context of a session.
void reply_cache_free(session *sess);
// Sets the topic of a session and shows it.
void set_topic(session *sess, const char *topic, const char *stripped_topic);
