#include "mainwin/layout.h"

#include "mainwin/maingui.h"
#include "switcher/chanview.h"

#include "base/guard.h"
#include "config/cfgfiles.h"

namespace
{

layout_slots current{3, 6};
bool userlist_shown = true;

const GtkTargetEntry DRAG_TARGETS[] = {{const_cast<char *>("LUMENWICK_LAYOUT"), GTK_TARGET_SAME_APP, 0}};
// What is being dragged: the user list (true) or the switcher.
bool dragging_userlist = false;

void take_out(GtkWidget *w)
{
    if (GtkWidget *parent = gtk_widget_get_parent(w))
        gtk_container_remove(GTK_CONTAINER(parent), w);
}

void put(session_view &v, GtkWidget *w, int slot)
{
    switch (slot) {
    case 1:
        gtk_paned_pack1(GTK_PANED(v.vpane_left), w, TRUE, FALSE);
        break;
    case 2:
        gtk_paned_pack2(GTK_PANED(v.vpane_left), w, TRUE, FALSE);
        break;
    case 3:
        gtk_paned_pack1(GTK_PANED(v.vpane_right), w, TRUE, FALSE);
        break;
    case 4:
        gtk_paned_pack2(GTK_PANED(v.vpane_right), w, TRUE, FALSE);
        break;
    case 5:
        gtk_box_pack_start(GTK_BOX(v.slot_top), w, TRUE, TRUE, 0);
        break;
    case 6:
        gtk_box_pack_start(GTK_BOX(v.slot_bottom), w, TRUE, TRUE, 0);
        break;
    default:
        break; // hidden
    }
}

bool column_has_visible(GtkWidget *pane)
{
    for (GtkWidget *w : {gtk_paned_get_child1(GTK_PANED(pane)), gtk_paned_get_child2(GTK_PANED(pane))})
        if (w && gtk_widget_get_visible(w))
            return true;
    return false;
}

void update_columns(session_view &v)
{
    gtk_widget_set_visible(v.vpane_left, column_has_visible(v.vpane_left));
    gtk_widget_set_visible(v.vpane_right, column_has_visible(v.vpane_right));
}

void on_drag_begin(GtkWidget *, GdkDragContext *, gpointer data) noexcept
{
    dragging_userlist = GPOINTER_TO_INT(data) != 0;
}

gboolean on_drag_motion(GtkWidget *, GdkDragContext *context, int, int, guint time, gpointer) noexcept
{
    gdk_drag_status(context, GDK_ACTION_MOVE, time);
    return TRUE;
}

// Drops on the left column land left; on the right column or the text's
// scroll bar, right. The upper half takes the upper slot.
gboolean on_drag_drop(GtkWidget *widget, GdkDragContext *context, int, int y, guint time, gpointer data) noexcept
{
    guarded("layout drop", [&] {
        session_view *v = mg_shared_view();
        if (!v)
            return;
        const bool right = GPOINTER_TO_INT(data) != 0;
        const bool upper = y < gtk_widget_get_allocated_height(widget) / 2;
        const layout_slots next = drop_into(current, dragging_userlist, right, upper);
        prefs.gui_ulist_pos = next.userlist;
        prefs.gui_tab_pos = next.switcher;
        layout_apply(*v);
    });
    gtk_drag_finish(context, TRUE, FALSE, time);
    return TRUE;
}

void drop_target(GtkWidget *w, bool right)
{
    gtk_drag_dest_set(w, GtkDestDefaults(0), DRAG_TARGETS, 1, GDK_ACTION_MOVE);
    g_signal_connect(w, "drag-motion", G_CALLBACK(on_drag_motion), nullptr);
    g_signal_connect(w, "drag-drop", G_CALLBACK(on_drag_drop), GINT_TO_POINTER(right));
}

void drag_source(GtkWidget *w, bool userlist)
{
    gtk_drag_source_set(w, GDK_BUTTON1_MASK, DRAG_TARGETS, 1, GDK_ACTION_MOVE);
    g_signal_connect(w, "drag-begin", G_CALLBACK(on_drag_begin), GINT_TO_POINTER(userlist));
}

} // namespace

void layout_build(session_view &v)
{
    v.slot_top = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    v.slot_bottom = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(v.center), v.slot_top, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(v.center), v.slot_top, 0);
    gtk_box_pack_start(GTK_BOX(v.center), v.slot_bottom, FALSE, FALSE, 0);

    v.hpane_left = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    v.hpane_right = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    v.vpane_left = gtk_paned_new(GTK_ORIENTATION_VERTICAL);
    v.vpane_right = gtk_paned_new(GTK_ORIENTATION_VERTICAL);
    gtk_widget_set_no_show_all(v.vpane_left, TRUE);
    gtk_widget_set_no_show_all(v.vpane_right, TRUE);
    gtk_paned_pack1(GTK_PANED(v.hpane_left), v.vpane_left, FALSE, FALSE);
    gtk_paned_pack2(GTK_PANED(v.hpane_left), v.hpane_right, TRUE, TRUE);
    gtk_paned_pack1(GTK_PANED(v.hpane_right), v.center, TRUE, TRUE);
    gtk_paned_pack2(GTK_PANED(v.hpane_right), v.vpane_right, FALSE, FALSE);
    gtk_box_pack_start(GTK_BOX(v.grid), v.hpane_left, TRUE, TRUE, 0);

    drop_target(v.vpane_left, false);
    drop_target(v.vpane_right, true);
    drop_target(gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(v.text_scroll)), true);
    drag_source(v.switcher->scroll, false);
    drag_source(v.user_count, true);
    // A label has no window of its own to start a drag from.
    GtkWidget *handle = gtk_event_box_new();
    g_object_ref(v.user_count);
    gtk_container_remove(GTK_CONTAINER(v.userlist_box), v.user_count);
    gtk_container_add(GTK_CONTAINER(handle), v.user_count);
    g_object_unref(v.user_count);
    gtk_box_pack_start(GTK_BOX(v.userlist_box), handle, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(v.userlist_box), handle, 0);
    drag_source(handle, true);
    layout_apply(v);
}

void layout_apply(session_view &v)
{
    current = resolve_layout(prefs.gui_ulist_pos, prefs.gui_tab_pos, prefs.gui_tab_layout);
    GtkWidget *switcher = chanview_get_box(v.switcher);
    take_out(switcher);
    take_out(v.userlist_box);
    chanview_set_orientation(v.switcher, current.switcher <= 4);
    put(v, switcher, current.switcher);
    put(v, v.userlist_box, current.userlist);
    gtk_widget_show_all(switcher);
    gtk_widget_show_all(v.userlist_box);
    gtk_widget_set_visible(v.userlist_box, userlist_shown);
    if (slots_share_side(current) && prefs.gui_pane_divider_position > 0)
        gtk_paned_set_position(GTK_PANED(current.userlist <= 2 ? v.vpane_left : v.vpane_right),
                               prefs.gui_pane_divider_position);
    if (prefs.gui_pane_left_size > 0)
        gtk_paned_set_position(GTK_PANED(v.hpane_left), prefs.gui_pane_left_size);
    update_columns(v);
}

void layout_release(session_view &v)
{
    if (v.userlist_box) {
        take_out(v.userlist_box);
        g_object_unref(v.userlist_box);
        v.userlist_box = nullptr;
        v.userlist = nullptr;
    }
    if (v.switcher)
        take_out(chanview_get_box(v.switcher));
}

void layout_show_userlist(session_view &v, bool show)
{
    userlist_shown = show;
    gtk_widget_set_visible(v.userlist_box, show);
    update_columns(v);
}

layout_slots layout_current(void)
{
    return current;
}
