// The main-loop half of fe.h, shared by every front end: fe_timeout_add,
// fe_timeout_add_seconds, fe_timeout_remove, fe_idle_add, fe_input_add and
// fe_input_remove are defined in mainloop.cpp on the GLib default main
// context (GTK's loop runs that same context). A callback that throws is
// logged and its source ends; nothing unwinds into GLib.
#pragma once

#include <functional>
#include <string>

// Runs `fn` once from the idle loop. Answers to questions arrive this way,
// never inside the call that asked, as a dialog's response would.
void fe_call_later(std::function<void()> fn);

// Destroys every timer, idle call and watch made here that is still
// pending; tags the core still holds become harmless to remove.
void fe_sources_cancel_all();

// For a front end that records what the core asked of it: called after each
// loop function with its name and its arguments as text ("500 -> 12").
using fe_loop_trace = void (*)(const char *function, const std::string &args);
void fe_loop_set_trace(fe_loop_trace trace);

// Called, besides the warning in the log, when a callback threw; `what` says
// which kind ("timer", "descriptor watch", "deferred call").
using fe_loop_failure = void (*)(const char *what);
void fe_loop_set_failure_hook(fe_loop_failure hook);
