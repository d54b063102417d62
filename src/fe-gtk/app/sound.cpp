// fe_beep and fe_play_sound through libcanberra.
#include "app/sound.h"

#include "base/lumenwick.h"
#include "fe.h"

#include <canberra.h>
#include <gtk/gtk.h>

#include <memory>

namespace
{

struct ca_context_deleter {
    void operator()(ca_context *c) const noexcept { ca_context_destroy(c); }
};
std::unique_ptr<ca_context, ca_context_deleter> sound_context;
bool sound_context_tried = false;

} // namespace

void sound_close(void) noexcept
{
    sound_context.reset();
}

// The desktop sound context, created once for beeps and event sounds.
static ca_context *sound()
{
    if (!sound_context_tried) {
        sound_context_tried = true;
        ca_context *context = nullptr;
        if (ca_context_create(&context) == CA_SUCCESS) {
            ca_context_change_props(context, CA_PROP_APPLICATION_ID, APPLICATION_ID, CA_PROP_APPLICATION_NAME,
                                    DISPLAY_NAME, CA_PROP_APPLICATION_ICON_NAME, APPLICATION_ID, nullptr);
            sound_context.reset(context);
        }
    }
    return sound_context.get();
}

void fe_beep(void)
{
    ca_context *context = sound();
    if (!context || ca_context_play(context, 0, CA_PROP_EVENT_ID, "message-new-instant", nullptr) != CA_SUCCESS)
        gdk_display_beep(gdk_display_get_default());
}

int fe_play_sound(const char *file)
{
    ca_context *context = sound();
    if (!context || !file)
        return 0;
    return ca_context_play(context, 0, CA_PROP_MEDIA_FILENAME, file, nullptr) == CA_SUCCESS ? 1 : 0;
}
