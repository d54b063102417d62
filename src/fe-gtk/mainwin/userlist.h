// The user-list view: one row model per session (kept in its tab state),
// shown in the one tree view of the main window for the tab in front.
#pragma once

#include <gtk/gtk.h>

#include <vector>

struct server;
struct session;
struct session_view;
struct User;

// The view with its count label, packed into `view.userlist_box`.
void userlist_create(session_view &view);
void userlist_create_model(session *sess);
void userlist_free_model(session *sess);
// Points the view at the session's model (deferred to the idle loop) and
// refreshes the count.
void userlist_show(session *sess);
void userlist_apply_sort(session *sess);
// The users selected in the list where the session is shown now (in list
// order); empty when it is not shown.
std::vector<User *> userlist_selected_users(session *sess);
// Re-inserts every user (display settings changed).
void userlist_refill(session *sess);
// Sets every row's status image again (the image set was reloaded); rows
// and their order stay.
void userlist_refresh_icons(session *sess);
// The status image for a user's highest prefix (borrowed from the image
// set), or null: "@" op, "%" half-op, "+" voice; a prefix one, two or three
// places before "@" in the server's prefix list is owner, founder, net-op.
GdkPixbuf *get_user_icon(const server *serv, const User *user);
