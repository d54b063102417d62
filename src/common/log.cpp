#include "log.h"

// Logging arrives with the logging work; no log is ever open until then.
void log_open_or_close(session *) {}
void log_close(session *) {}
