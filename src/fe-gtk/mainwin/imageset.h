// Keeps the image set (user list, switcher, tray) in the variant of the
// application's dark mode, reloading it and refreshing the views on a change.
#pragma once

// Called once after the image set is loaded (fe_init).
void mg_images_follow_dark_mode(void);
