// Conversation logs.
#pragma once

struct session;

void log_open_or_close(session *sess);
void log_close(session *sess);
