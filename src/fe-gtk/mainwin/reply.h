// Answering a message (IRCv3 replies) from the input line.
#pragma once

#include <gtk/gtk.h>

struct session;
struct session_view;
struct reply_target;

// Builds the (hidden) reply bar into the view.
void reply_build(session_view &v);
// Starts replying to `target` in the session, or stops with null; the bar
// follows where the session is shown.
void mg_reply_set(session *sess, const reply_target *target);
// Shows or hides the bar for the session's reply state.
void mg_reply_update(session *sess);
