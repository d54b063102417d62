// What the rest of the GTK front end needs of the message boxes.
#pragma once

// Ends a message that fe_message is waiting on (a quit signal arrived).
void dialogs_end_waiting(void) noexcept;
