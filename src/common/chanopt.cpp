#include "chanopt.h"

// The store arrives with the per-channel options work; sessions keep "unset".
void chanopt_load(session *) {}
void chanopt_save(session *) {}
void chanopt_save_all(void) {}
