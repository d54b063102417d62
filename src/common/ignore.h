// The ignore list.
#pragma once

void ignore_load(void);
void ignore_save(void);
