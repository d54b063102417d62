// Per-channel option overrides (chanopt.conf).
#pragma once

struct session;

void chanopt_load(session *sess);
void chanopt_save(session *sess);
void chanopt_save_all(void);
