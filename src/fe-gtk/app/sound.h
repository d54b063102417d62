// Beeps and event sounds through the desktop's sound service.
#pragma once

// Closes the connection to the sound service (after the main loop ended,
// before static destructors run).
void sound_close(void) noexcept;
