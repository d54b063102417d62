// Both presentations are rebuilt from the model on every change of
// structure (tens of tabs: cheaper than keeping two sets of incremental
// code right); colours and focus are applied in place.
#include "switcher/chanview.h"

#include "resources/icon-resolver.h"
#include "resources/pixmaps.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "session/lumenwick.h"

#include <algorithm>

namespace
{

enum { COL_NAME, COL_CHAN, COL_ATTRS, COL_UNDERLINE, COL_ICON, N_COLS };

void rebuild(chanview *cv);

std::string shown(const chan *ch)
{
    return chanview_shown_name(ch->name, ch->cv->trunc_len);
}

// --- tab bar -----------------------------------------------------------------

void on_tab_toggled(GtkToggleButton *button, gpointer data) noexcept
{
    guarded("tab toggled", [&] {
        auto *ch = static_cast<chan *>(data);
        chanview *cv = static_cast<chanview *>(ch->cv->owner);
        if (cv->updating)
            return;
        if (!gtk_toggle_button_get_active(button)) {
            // Clicking the tab in front keeps it in front.
            if (cv->model.focused == ch) {
                cv->updating = true;
                gtk_toggle_button_set_active(button, TRUE);
                cv->updating = false;
            }
            return;
        }
        chan_focus(ch);
    });
}

gboolean on_tab_press(GtkWidget *, GdkEventButton *event, gpointer data) noexcept
{
    return guarded<gboolean>("tab press", FALSE, [&]() -> gboolean {
        auto *ch = static_cast<chan *>(data);
        chanview *cv = static_cast<chanview *>(ch->cv->owner);
        if (event->type != GDK_BUTTON_PRESS || (event->button != 2 && event->button != 3))
            return FALSE;
        if (cv->on_button)
            cv->on_button(ch, event);
        return TRUE;
    });
}

void on_close_clicked(GtkButton *, gpointer data) noexcept
{
    guarded("tab close", [&] {
        auto *ch = static_cast<chan *>(data);
        chanview *cv = static_cast<chanview *>(ch->cv->owner);
        if (cv->on_close)
            cv->on_close(ch);
    });
}

GtkWidget *make_tab(chanview *cv, chan *ch)
{
    GtkWidget *button = gtk_toggle_button_new();
    gtk_widget_set_name(button, "lumenwick-tab");
    gtk_widget_set_size_request(button, -1, 14);
    gtk_widget_set_focus_on_click(button, FALSE);
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    GtkWidget *label = gtk_label_new(shown(ch).c_str());
    gtk_label_set_attributes(GTK_LABEL(label), cv->colors[std::clamp(ch->color, 0, 3)]);
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    if (prefs.gui_tab_closebuttons) {
        GtkWidget *close = gtk_button_new_from_icon_name("window-close-symbolic", GTK_ICON_SIZE_MENU);
        gtk_image_set_pixel_size(GTK_IMAGE(gtk_button_get_image(GTK_BUTTON(close))), 8);
        gtk_button_set_relief(GTK_BUTTON(close), GTK_RELIEF_NONE);
        gtk_widget_set_focus_on_click(close, FALSE);
        gtk_widget_set_name(close, "lumenwick-tab-close");
        gtk_widget_set_tooltip_text(close, _("Close"));
        g_signal_connect(close, "clicked", G_CALLBACK(on_close_clicked), ch);
        gtk_box_pack_end(GTK_BOX(row), close, FALSE, FALSE, 0);
    }
    gtk_container_add(GTK_CONTAINER(button), row);
    AtkObject *acc = gtk_widget_get_accessible(button);
    atk_object_set_name(acc, ch->name.c_str());
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), cv->model.focused == ch);
    g_signal_connect(button, "toggled", G_CALLBACK(on_tab_toggled), ch);
    g_signal_connect(button, "button-press-event", G_CALLBACK(on_tab_press), ch);
    ch->widget = button;
    return button;
}

GtkWidget *tab_label(chan *ch)
{
    GtkWidget *row = gtk_bin_get_child(GTK_BIN(ch->widget));
    GList *kids = gtk_container_get_children(GTK_CONTAINER(row));
    GtkWidget *label = kids ? GTK_WIDGET(kids->data) : nullptr;
    g_list_free(kids);
    return label;
}

void build_tabs(chanview *cv)
{
    const GtkOrientation dir = cv->vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL;
    cv->inner = gtk_box_new(dir, 0);
    gtk_widget_set_name(cv->inner, "lumenwick-tabbar");
    for (chan *root : cv->model.roots()) {
        GtkWidget *family = gtk_box_new(dir, 0);
        gtk_box_pack_start(GTK_BOX(family), make_tab(cv, root), FALSE, FALSE, 0);
        for (chan *kid : root->children)
            gtk_box_pack_start(GTK_BOX(family), make_tab(cv, kid), FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(cv->inner), family, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(cv->inner),
                           gtk_separator_new(cv->vertical ? GTK_ORIENTATION_HORIZONTAL : GTK_ORIENTATION_VERTICAL),
                           FALSE, FALSE, 2);
    }
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(cv->scroll),
                                   cv->vertical ? GTK_POLICY_NEVER : GTK_POLICY_EXTERNAL,
                                   cv->vertical ? GTK_POLICY_AUTOMATIC : GTK_POLICY_NEVER);
}

// --- tree ------------------------------------------------------------------------

void on_tree_selection(GtkTreeSelection *selection, gpointer data) noexcept
{
    guarded("tree selection", [&] {
        auto *cv = static_cast<chanview *>(data);
        if (cv->updating)
            return;
        GtkTreeModel *model;
        GtkTreeIter iter;
        if (!gtk_tree_selection_get_selected(selection, &model, &iter))
            return;
        chan *ch = nullptr;
        gtk_tree_model_get(model, &iter, COL_CHAN, &ch, -1);
        if (ch && ch != cv->model.focused)
            chan_focus(ch);
    });
}

gboolean on_tree_press(GtkWidget *widget, GdkEventButton *event, gpointer data) noexcept
{
    return guarded<gboolean>("tree press", FALSE, [&]() -> gboolean {
        auto *cv = static_cast<chanview *>(data);
        if (event->type != GDK_BUTTON_PRESS || (event->button != 2 && event->button != 3))
            return FALSE;
        GtkTreePath *path = nullptr;
        if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(widget), static_cast<int>(event->x),
                                           static_cast<int>(event->y), &path, nullptr, nullptr, nullptr))
            return FALSE;
        GtkTreeIter iter;
        chan *ch = nullptr;
        if (gtk_tree_model_get_iter(GTK_TREE_MODEL(cv->store), &iter, path))
            gtk_tree_model_get(GTK_TREE_MODEL(cv->store), &iter, COL_CHAN, &ch, -1);
        gtk_tree_path_free(path);
        if (ch && cv->on_button)
            cv->on_button(ch, event);
        return TRUE;
    });
}

void store_row(chanview *cv, chan *ch, GtkTreeIter *parent)
{
    GtkTreeIter iter;
    gtk_tree_store_insert_with_values(cv->store, &iter, parent, -1, COL_NAME, shown(ch).c_str(), COL_CHAN, ch,
                                      COL_ATTRS, cv->colors[std::clamp(ch->color, 0, 3)], COL_UNDERLINE,
                                      ch == cv->model.focused ? PANGO_UNDERLINE_SINGLE : PANGO_UNDERLINE_NONE, COL_ICON,
                                      cv->use_icons ? pixmaps_for(ICON_KIND_TREE, ch->icon) : nullptr, -1);
    for (chan *kid : ch->children)
        store_row(cv, kid, &iter);
}

bool find_row(chanview *cv, chan *ch, GtkTreeIter *out)
{
    struct search {
        chan *ch;
        GtkTreeIter *out;
        bool found;
    } s{ch, out, false};
    gtk_tree_model_foreach(
        GTK_TREE_MODEL(cv->store),
        [](GtkTreeModel *m, GtkTreePath *, GtkTreeIter *it, gpointer d) -> gboolean {
            auto *s = static_cast<search *>(d);
            chan *c = nullptr;
            gtk_tree_model_get(m, it, COL_CHAN, &c, -1);
            if (c != s->ch)
                return FALSE;
            *s->out = *it;
            s->found = true;
            return TRUE;
        },
        &s);
    return s.found;
}

void build_tree(chanview *cv)
{
    gtk_tree_store_clear(cv->store);
    for (chan *root : cv->model.roots())
        store_row(cv, root, nullptr);
    GtkWidget *tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(cv->store));
    gtk_widget_set_name(tree, "lumenwick-tree");
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tree), FALSE);
    gtk_tree_view_set_enable_tree_lines(GTK_TREE_VIEW(tree), prefs.gui_tab_dots);
    GtkCellRenderer *text = gtk_cell_renderer_text_new();
    g_object_set(text, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    if (prefs.gui_compact)
        g_object_set(text, "ypad", 0, nullptr);
    GtkTreeViewColumn *column = gtk_tree_view_column_new();
    if (cv->use_icons) {
        GtkCellRenderer *icon = gtk_cell_renderer_pixbuf_new();
        if (prefs.gui_compact)
            g_object_set(icon, "ypad", 0, nullptr);
        gtk_tree_view_column_pack_start(column, icon, FALSE);
        gtk_tree_view_column_add_attribute(column, icon, "pixbuf", COL_ICON);
    }
    gtk_tree_view_column_pack_start(column, text, TRUE);
    gtk_tree_view_column_add_attribute(column, text, "text", COL_NAME);
    gtk_tree_view_column_add_attribute(column, text, "attributes", COL_ATTRS);
    gtk_tree_view_column_add_attribute(column, text, "underline", COL_UNDERLINE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(tree), column);
    gtk_tree_view_expand_all(GTK_TREE_VIEW(tree));
    GtkTreeSelection *sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
    GtkTreeIter iter;
    if (cv->model.focused && find_row(cv, cv->model.focused, &iter))
        gtk_tree_selection_select_iter(sel, &iter);
    g_signal_connect(sel, "changed", G_CALLBACK(on_tree_selection), cv);
    g_signal_connect(tree, "button-press-event", G_CALLBACK(on_tree_press), cv);
    cv->inner = tree;
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(cv->scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
}

void rebuild(chanview *cv)
{
    cv->updating = true;
    if (cv->inner) {
        for (chan *ch : cv->model.display_order())
            ch->widget = nullptr;
        gtk_widget_destroy(cv->inner);
        cv->inner = nullptr;
    }
    if (cv->impl == CHANVIEW_TREE)
        build_tree(cv);
    else
        build_tabs(cv);
    gtk_container_add(GTK_CONTAINER(cv->scroll), cv->inner);
    gtk_widget_show_all(cv->inner);
    cv->updating = false;
}

void show_focus(chanview *cv)
{
    cv->updating = true;
    if (cv->impl == CHANVIEW_TREE) {
        GtkTreeIter iter;
        // Underline follows the focus; selection too.
        gtk_tree_model_foreach(
            GTK_TREE_MODEL(cv->store),
            [](GtkTreeModel *m, GtkTreePath *, GtkTreeIter *it, gpointer d) -> gboolean {
                auto *cv = static_cast<chanview *>(d);
                chan *c = nullptr;
                gtk_tree_model_get(m, it, COL_CHAN, &c, -1);
                gtk_tree_store_set(GTK_TREE_STORE(m), it, COL_UNDERLINE,
                                   c == cv->model.focused ? PANGO_UNDERLINE_SINGLE : PANGO_UNDERLINE_NONE, -1);
                return FALSE;
            },
            cv);
        if (cv->model.focused && find_row(cv, cv->model.focused, &iter))
            gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(cv->inner)), &iter);
    } else {
        for (chan *ch : cv->model.display_order())
            if (ch->widget)
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ch->widget), ch == cv->model.focused);
    }
    cv->updating = false;
}

gboolean on_scroll(GtkWidget *, GdkEventScroll *event, gpointer data) noexcept
{
    return guarded<gboolean>("switcher scroll", FALSE, [&]() -> gboolean {
        if (!prefs.gui_tab_scrollchans)
            return FALSE;
        auto *cv = static_cast<chanview *>(data);
        if (event->direction == GDK_SCROLL_UP)
            chanview_move_focus(cv, true, -1);
        else if (event->direction == GDK_SCROLL_DOWN)
            chanview_move_focus(cv, true, 1);
        else
            return FALSE;
        return TRUE;
    });
}

} // namespace

chanview *chanview_new(int impl, int trunc_len, bool sorted, bool use_icons)
{
    auto *cv = new chanview;
    cv->impl = impl ? CHANVIEW_TREE : CHANVIEW_TABS;
    cv->model.owner = cv;
    cv->model.trunc_len = trunc_len;
    cv->model.sorted = sorted;
    cv->use_icons = use_icons;
    cv->store =
        gtk_tree_store_new(N_COLS, G_TYPE_STRING, G_TYPE_POINTER, PANGO_TYPE_ATTR_LIST, G_TYPE_INT, GDK_TYPE_PIXBUF);
    cv->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(cv->box, "lumenwick-switcher");
    g_object_ref_sink(cv->box);
    cv->scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_box_pack_start(GTK_BOX(cv->box), cv->scroll, TRUE, TRUE, 0);
    gtk_widget_add_events(cv->scroll, GDK_SCROLL_MASK);
    g_signal_connect(cv->scroll, "scroll-event", G_CALLBACK(on_scroll), cv);
    rebuild(cv);
    return cv;
}

void chanview_free(chanview *cv)
{
    if (!cv)
        return;
    g_object_unref(cv->store);
    g_object_unref(cv->box);
    delete cv;
}

void chanview_set_impl(chanview *cv, int impl)
{
    cv->impl = impl ? CHANVIEW_TREE : CHANVIEW_TABS;
    rebuild(cv);
}

chan *chanview_add(chanview *cv, const char *name, void *family, void *userdata, bool allow_children, int tag, int icon)
{
    chan *ch = cv->model.add(name, family, userdata, allow_children, tag, icon);
    rebuild(cv);
    return ch;
}

int chanview_get_size(chanview *cv)
{
    return cv->model.size();
}

GtkWidget *chanview_get_box(chanview *cv)
{
    return cv->box;
}

void chanview_move_focus(chanview *cv, bool relative, int number)
{
    if (chan *ch = cv->model.move_focus_target(relative, number))
        chan_focus(ch);
}

bool chanview_get_orientation(chanview *cv)
{
    return cv->vertical;
}

void chanview_set_orientation(chanview *cv, bool vertical)
{
    if (cv->vertical == vertical)
        return;
    cv->vertical = vertical;
    rebuild(cv);
}

void chanview_set_sorted(chanview *cv, bool sorted)
{
    cv->model.sorted = sorted;
}

void chanview_set_trunc_len(chanview *cv, int trunc_len)
{
    cv->model.trunc_len = trunc_len;
    rebuild(cv);
}

void chanview_resort(chanview *cv)
{
    cv->model.resort();
    rebuild(cv);
}

void chan_focus(chan *ch)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    cv->model.focused = ch;
    show_focus(cv);
    if (cv->on_focus)
        cv->on_focus(ch);
}

void chan_move(chan *ch, int delta)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    cv->model.move(ch, delta);
    rebuild(cv);
}

void chan_move_family(chan *ch, int delta)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    cv->model.move_family(ch, delta);
    rebuild(cv);
}

void chan_set_color(chan *ch, int level)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    ch->color = std::clamp(level, 0, 3);
    PangoAttrList *attrs = cv->colors[ch->color];
    if (cv->impl == CHANVIEW_TREE) {
        GtkTreeIter iter;
        if (find_row(cv, ch, &iter))
            gtk_tree_store_set(cv->store, &iter, COL_ATTRS, attrs, -1);
    } else if (ch->widget) {
        if (GtkWidget *label = tab_label(ch))
            gtk_label_set_attributes(GTK_LABEL(label), attrs);
    }
}

void chan_rename(chan *ch, const char *name, int trunc_len)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    cv->model.trunc_len = trunc_len;
    cv->model.rename(ch, name);
    rebuild(cv);
}

bool chan_remove(chan *ch, bool force)
{
    if (lumenwick_is_quitting)
        return false;
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    chan *next = nullptr;
    const bool was_focused = cv->model.focused == ch;
    if (!cv->model.remove(ch, force, &next))
        return false;
    rebuild(cv);
    if (was_focused && next)
        chan_focus(next);
    return true;
}

bool chan_is_collapsed(chan *ch)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    if (cv->impl != CHANVIEW_TREE || !ch->parent)
        return false;
    GtkTreeIter iter;
    if (!find_row(cv, ch->parent, &iter))
        return false;
    GtkTreePath *path = gtk_tree_model_get_path(GTK_TREE_MODEL(cv->store), &iter);
    const bool expanded = gtk_tree_view_row_expanded(GTK_TREE_VIEW(cv->inner), path);
    gtk_tree_path_free(path);
    return !expanded;
}

chan *chan_get_parent(chan *ch)
{
    chanview *cv = static_cast<chanview *>(ch->cv->owner);
    return cv->impl == CHANVIEW_TREE ? ch->parent : nullptr;
}

void chanview_set_use_icons(chanview *cv, bool use_icons)
{
    if (cv->use_icons == use_icons)
        return;
    cv->use_icons = use_icons;
    rebuild(cv);
}

void chanview_refresh_icons(chanview *cv)
{
    if (cv->use_icons)
        rebuild(cv);
}
