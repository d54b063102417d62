// Links in the topic bar: the pointer over a URL or host shows a hand, and
// button 1 released over one with the modifiers of gui_url_mod opens it.
#include "mainwin/maingui.h"

#include "base/guard.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "output/url.h"

#include <string>

namespace
{

// The modifiers gui_url_mod chooses among (its value is their combination).
constexpr guint URL_MOD_MASK = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK;

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// The pointer in the entry's own coordinates (those of its allocation).
bool pointer_in_widget(GtkWidget *widget, GdkDevice *device, int *x, int *y)
{
    GdkWindow *window = gtk_widget_get_window(widget);
    if (!window || !device)
        return false;
    gdk_window_get_device_position(window, device, x, y, nullptr);
    if (!gtk_widget_get_has_window(widget)) {
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        *x -= a.x;
        *y -= a.y;
    }
    return true;
}

gboolean on_motion(GtkWidget *widget, GdkEventMotion *event, gpointer) noexcept
{
    guarded("topic pointer", [&] {
        int x, y;
        if (!pointer_in_widget(widget, event->device, &x, &y))
            return;
        const bool link = !mg_topic_url_at(widget, x, y).empty();
        GdkDisplay *display = gtk_widget_get_display(widget);
        GdkCursor *cursor =
            link ? gdk_cursor_new_from_name(display, "pointer") : gdk_cursor_new_from_name(display, "text");
        gdk_window_set_cursor(event->window, cursor);
        if (cursor)
            g_object_unref(cursor);
    });
    return FALSE;
}

gboolean on_release(GtkWidget *widget, GdkEventButton *event, gpointer) noexcept
{
    return guarded<gboolean>("topic click", FALSE, [&]() -> gboolean {
        if (event->button != 1 || (event->state & URL_MOD_MASK) != static_cast<guint>(prefs.gui_url_mod))
            return FALSE;
        // A drag that selected text is not a click on a link.
        if (gtk_editable_get_selection_bounds(GTK_EDITABLE(widget), nullptr, nullptr))
            return FALSE;
        int x, y;
        if (!pointer_in_widget(widget, event->device, &x, &y))
            return FALSE;
        std::string url = mg_topic_url_at(widget, x, y);
        if (url.empty())
            return FALSE;
        fe_open_url(url.data());
        return TRUE;
    });
}

} // namespace

std::string mg_topic_url_at(GtkWidget *entry, int x, int y)
{
    if (!GTK_IS_ENTRY(entry))
        return {};
    int xo = 0, yo = 0;
    gtk_entry_get_layout_offsets(GTK_ENTRY(entry), &xo, &yo);
    PangoLayout *layout = gtk_entry_get_layout(GTK_ENTRY(entry));
    int index = 0, trailing = 0;
    if (!pango_layout_xy_to_index(layout, (x - xo) * PANGO_SCALE, (y - yo) * PANGO_SCALE, &index, &trailing))
        return {};
    const std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
    const auto at = static_cast<std::size_t>(gtk_entry_layout_index_to_text_index(GTK_ENTRY(entry), index));
    if (at >= text.size() || is_blank(text[at]))
        return {};
    std::size_t start = at, end = at;
    while (start > 0 && !is_blank(text[start - 1]))
        start--;
    while (end < text.size() && !is_blank(text[end]))
        end++;
    const std::string word = text.substr(start, end - start);
    if (url_check_word(word.c_str()) != WORD_URL)
        return {};
    // The classifier trims what surrounds the address (brackets, quotes, a full stop).
    int from = 0, to = 0;
    url_last(&from, &to);
    if (from < 0 || to <= from || static_cast<std::size_t>(to) > word.size())
        return word;
    return word.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

void mg_topic_connect(GtkWidget *entry)
{
    gtk_widget_add_events(entry, GDK_POINTER_MOTION_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(entry, "motion-notify-event", G_CALLBACK(on_motion), nullptr);
    g_signal_connect(entry, "button-release-event", G_CALLBACK(on_release), nullptr);
}
