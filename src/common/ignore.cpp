#include "ignore.h"

// The ignore list arrives with the ignore/notify work.
void ignore_load(void) {}
void ignore_save(void) {}
