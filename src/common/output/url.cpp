// The URL grabber. Recognition arrives with the word-classification work;
// until then sent and received lines are offered here and ignored.

#include "output/url.h"

void url_check_line(const char *) {}
