#include "sts.h"

// Policies are learnt and stored with the protocol work.
void sts_init(void) {}
void sts_cleanup(void) {}
