// The main window's search bar (find in the conversation, or jump to a
// channel by name) and saving a conversation to a file.
#pragma once

#include <gtk/gtk.h>

struct session;
struct session_view;

// Builds the (hidden) bar and packs it under the text (`view.chat`).
void searchbar_create(session_view &view);

// Opens the bar with the focus in its entry, or closes it (clearing the
// search and giving the focus back to the input line).
void mg_search_toggle(session *sess);
// Next / previous match of what the entry holds; opens the bar when empty.
void mg_search_handle_next(session *sess);
void mg_search_handle_previous(session *sess);

// "Save Text…": asks for a file and writes the session's conversation to it
// without formatting codes; failures are shown in a message box.
void mg_save_text(session *sess);
// The writing half, for the chooser's answer: true when the file was
// written; otherwise shows why.
bool mg_save_text_to(session *sess, const char *path);
