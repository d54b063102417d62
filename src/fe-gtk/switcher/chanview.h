// The channel switcher widget: one model (chanview-model.h), two
// presentations — a bar of tab buttons or a tree with servers as parents —
// switchable at run time without losing tabs, colours or focus.
#pragma once

#include "switcher/chanview-model.h"

#include <gtk/gtk.h>

#include <functional>

enum chanview_impl { CHANVIEW_TABS = 0, CHANVIEW_TREE = 2 };

struct chanview {
    chanview_model model;
    int impl = CHANVIEW_TABS;
    bool vertical = false;
    bool use_icons = false;
    GtkWidget *box = nullptr;    // the outer box the main window places
    GtkWidget *scroll = nullptr; // the presentation inside it
    GtkWidget *inner = nullptr;  // tab bar box, or tree view
    GtkTreeStore *store = nullptr;
    bool updating = false;         // widgets are being set by us: no callbacks
    PangoAttrList *colors[4] = {}; // plain, new data, new message, highlight (borrowed)

    std::function<void(chan *)> on_focus;
    std::function<void(chan *)> on_close;
    // Button 3 (tab menu) or 2 (middle close) on a tab.
    std::function<void(chan *, GdkEventButton *)> on_button;
};

chanview *chanview_new(int impl, int trunc_len, bool sorted, bool use_icons);
void chanview_free(chanview *cv);
void chanview_set_impl(chanview *cv, int impl);
chan *chanview_add(chanview *cv, const char *name, void *family, void *userdata, bool allow_children, int tag,
                   int icon);
int chanview_get_size(chanview *cv);
GtkWidget *chanview_get_box(chanview *cv);
void chanview_move_focus(chanview *cv, bool relative, int number);
bool chanview_get_orientation(chanview *cv);
void chanview_set_orientation(chanview *cv, bool vertical);
void chanview_set_sorted(chanview *cv, bool sorted);
void chanview_set_trunc_len(chanview *cv, int trunc_len);
// Tree rows show the switcher images (`chan::icon` is their id) or none.
void chanview_set_use_icons(chanview *cv, bool use_icons);
// Takes the switcher images again (the image set was reloaded).
void chanview_refresh_icons(chanview *cv);
void chanview_resort(chanview *cv);

void chan_focus(chan *ch);
void chan_move(chan *ch, int delta);
void chan_move_family(chan *ch, int delta);
void chan_set_color(chan *ch, int level);
void chan_rename(chan *ch, const char *name, int trunc_len);
bool chan_remove(chan *ch, bool force);
bool chan_is_collapsed(chan *ch);
chan *chan_get_parent(chan *ch);
inline int chan_get_tag(chan *ch)
{
    return ch->tag;
}
inline void *chan_get_userdata(chan *ch)
{
    return ch->userdata;
}
