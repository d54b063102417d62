// Standard input, output and signals of the headless client.
#pragma once

#include <string_view>

// Starts reading command lines from standard input. Each line runs in the
// current session as if typed; the end of input quits the program.
void console_start_input(void);
// SIGINT and SIGTERM quit the program in order, as /QUIT would.
void console_watch_signals(void);
// Writes text to standard output / standard error and flushes it at once,
// so a pipe reader sees every line as soon as it is printed.
void console_out(std::string_view text);
// Writes out what console_out has buffered (before exiting or blocking).
void console_flush(void);
void console_err(std::string_view text);
