// Strict-transport-security policies (sts.conf).
#pragma once

void sts_init(void);
void sts_cleanup(void);
