// Helpers of the dialogs module for the rest of the GTK front end.
#pragma once

// Ends a message that fe_message is waiting on (a quit signal arrived).
void dialogs_end_waiting(void) noexcept;
