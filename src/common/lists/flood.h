// The flood guard: too many private messages or CTCPs from one sender in
// a short time.
#pragma once

#include <ctime>

struct server;
struct session;

// Kinds of flood_check.
enum flood_kind {
    FLOOD_CTCP = 0,
    FLOOD_PRIVMSG = 1,
};

// 1 to accept one more item of `kind` from the sender, 0 when it is a flood
// (a CTCP flood ignores the sender's host for CTCP; a message flood stops
// opening dialogs by itself for 30 seconds).
int flood_check(char *nick, char *ip, server *serv, session *sess, int kind);
// Whether a private message may open a dialog by itself: gui_autoopen_dialog,
// unless a message flood has suspended it for now (never saved).
bool flood_autoopen_dialog(void);
// Ends such a pause now and cancels its timer (tests, shutdown).
void flood_reset(void);
// The flood guard's time source (whole seconds); time(nullptr) by default.
// Tests move it to cross windows without waiting.
extern time_t (*flood_clock)(void);
