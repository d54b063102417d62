// The user-list and dialog button rows of a session view.
#pragma once

struct session;
struct session_view;

// Builds both rows into the view (after its user list and topic bar exist).
void buttons_build(session_view &v);
// Shows the rows that apply to the session shown in the view.
void buttons_show_for(session_view &v, session *sess);
