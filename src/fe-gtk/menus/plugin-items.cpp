// The items plugins and /MENU add: on the menu bar they live as widgets
// kept up to date (fe_menu_add, fe_menu_del, fe_menu_update); in the
// pop-ups ("$NICK", "$URL", "$CHAN", "$TAB") they are built anew each time
// the pop-up opens. "$TRAY" items belong to the tray menu.
#include "mainwin/maingui.h"
#include "menus/mainmenu.h"
#include "menus/menu-internal.h"
#include "menus/menu.h"

#include "base/guard.h"
#include "base/handles.h"
#include "config/menu.h"
#include "fe.h"
#include "session/session.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

// The bar's widget of each entry.
std::map<const menu_entry *, GtkWidget *> bar_items;
bool updating = false;

struct plugin_action {
    session *sess; // null: the tab in front when activated
    std::string cmd;
    std::string ucmd;
    int kind;
    menu_values_ptr values; // null: the values of the tab in front
};

void run_plugin_command(const plugin_action &action, const std::string &cmd)
{
    if (cmd.empty())
        return;
    session *sess = action.sess;
    if (!sess)
        sess = mg_front_session() ? mg_front_session() : current_sess;
    if (!sess || !is_session(sess))
        return;
    if (action.values) {
        menu_run_template(sess, cmd, *action.values);
        return;
    }
    menu_run_template(sess, cmd, menu_session_values(sess));
}

void on_plugin_activate(GtkMenuItem *item, gpointer data) noexcept
{
    guarded("plugin menu item", [&] {
        if (updating)
            return;
        const auto *action = static_cast<const plugin_action *>(data);
        switch (action->kind) {
        case MENU_ITEM_TOGGLE:
            run_plugin_command(*action,
                               gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)) ? action->cmd : action->ucmd);
            break;
        case MENU_ITEM_RADIO:
            if (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
                run_plugin_command(*action, action->cmd);
            break;
        default:
            run_plugin_command(*action, action->cmd);
        }
    });
}

std::vector<std::string> path_parts(const menu_entry *me)
{
    std::vector<std::string> parts;
    const char *path = me->path ? me->path + me->root_offset : "";
    strv_ptr split(g_strsplit(path, "/", -1));
    for (char **p = split.get(); *p; ++p)
        if (**p)
            parts.emplace_back(*p);
    return parts;
}

const char *item_label(GtkWidget *item)
{
    if (!GTK_IS_MENU_ITEM(item))
        return nullptr;
    const char *text = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
    if (text && *text)
        return text;
    // An item with an image keeps its label inside a box.
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(item));
    if (GTK_IS_BOX(child)) {
        GList *kids = gtk_container_get_children(GTK_CONTAINER(child));
        const char *found = nullptr;
        for (GList *l = kids; l && !found; l = l->next)
            if (GTK_IS_LABEL(l->data))
                found = gtk_label_get_label(GTK_LABEL(l->data));
        g_list_free(kids);
        return found;
    }
    return nullptr;
}

GtkWidget *find_item(GtkWidget *menu, const char *label)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next) {
        const char *text = item_label(GTK_WIDGET(l->data));
        if (text && menu_streq(text, label))
            found = GTK_WIDGET(l->data);
    }
    g_list_free(children);
    return found;
}

// The submenu under `menu` named by `parts`, made where missing.
GtkWidget *submenu_for(GtkWidget *menu, const std::vector<std::string> &parts)
{
    for (const std::string &part : parts) {
        GtkWidget *item = find_item(menu, part.c_str());
        if (!item) {
            item = menu_item_new(part.c_str(), nullptr);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
            gtk_widget_show(item);
        }
        GtkWidget *sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item));
        if (!sub) {
            sub = gtk_menu_new();
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
        }
        menu = sub;
    }
    return menu;
}

GtkWidget *radio_neighbour(GtkWidget *menu, const char *group)
{
    GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        if (GTK_IS_RADIO_MENU_ITEM(l->data) &&
            !g_strcmp0(static_cast<const char *>(g_object_get_data(G_OBJECT(l->data), "radio-group")), group))
            found = GTK_WIDGET(l->data);
    g_list_free(children);
    return found;
}

void set_label(GtkWidget *item, const menu_entry *me)
{
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(item));
    if (!GTK_IS_LABEL(child))
        return;
    if (me->markup)
        gtk_label_set_markup_with_mnemonic(GTK_LABEL(child), me->label ? me->label : "");
    else
        gtk_label_set_text_with_mnemonic(GTK_LABEL(child), me->label ? me->label : "");
}

GtkWidget *make_item(const menu_entry *me, GtkWidget *menu, session *sess, menu_values_ptr values)
{
    const char *label = me->label ? me->label : "";
    GtkWidget *item;
    switch (me->kind) {
    case MENU_ITEM_TOGGLE:
        item = gtk_check_menu_item_new_with_mnemonic(label);
        break;
    case MENU_ITEM_RADIO: {
        GtkWidget *neighbour = radio_neighbour(menu, me->group ? me->group : "");
        item = neighbour ? gtk_radio_menu_item_new_with_mnemonic_from_widget(GTK_RADIO_MENU_ITEM(neighbour), label)
                         : gtk_radio_menu_item_new_with_mnemonic(nullptr, label);
        g_object_set_data_full(G_OBJECT(item), "radio-group", g_strdup(me->group ? me->group : ""), g_free);
        break;
    }
    default:
        item = menu_item_new(label, me->icon);
    }
    if (me->markup)
        set_label(item, me);
    if (me->kind != MENU_ITEM_NORMAL) {
        updating = true;
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), me->state != 0);
        updating = false;
    }
    gtk_widget_set_sensitive(item, me->enabled != 0);
    if (me->kind == MENU_ITEM_NORMAL && !me->cmd) {
        // No command: a submenu for the items whose path names it.
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), gtk_menu_new());
    } else {
        auto *action =
            new plugin_action{sess, me->cmd ? me->cmd : "", me->ucmd ? me->ucmd : "", me->kind, std::move(values)};
        g_signal_connect_data(
            item, "activate", G_CALLBACK(on_plugin_activate), action,
            [](gpointer d, GClosure *) { delete static_cast<plugin_action *>(d); }, GConnectFlags(0));
    }
    const int count = [&] {
        GList *children = gtk_container_get_children(GTK_CONTAINER(menu));
        const int n = static_cast<int>(g_list_length(children));
        g_list_free(children);
        return n;
    }();
    if (me->pos >= 0 && me->pos < count)
        gtk_menu_shell_insert(GTK_MENU_SHELL(menu), item, me->pos);
    else
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

constexpr char PLUGIN_ITEM[] = "lumenwick-plugin-item";

// Adds the entry's item; null when it names one of our own submenus, which
// then holds the plugin's items and is never replaced or removed by it.
GtkWidget *add_to(GtkWidget *root, const menu_entry *me, session *sess, menu_values_ptr values)
{
    GtkWidget *menu = submenu_for(root, path_parts(me));
    const char *label = me->label ? me->label : "";
    if (GtkWidget *old = find_item(menu, label)) {
        if (!g_object_get_data(G_OBJECT(old), PLUGIN_ITEM)) {
            if (me->kind == MENU_ITEM_NORMAL && !me->cmd)
                return nullptr;
        } else {
            // The same label added twice under one path is one item.
            gtk_widget_destroy(old);
        }
    }
    GtkWidget *item = make_item(me, menu, sess, std::move(values));
    g_object_set_data(G_OBJECT(item), PLUGIN_ITEM, GINT_TO_POINTER(1));
    gtk_widget_show_all(item);
    return item;
}

void on_bar_item_destroyed(GtkWidget *widget, gpointer) noexcept
{
    for (auto it = bar_items.begin(); it != bar_items.end(); ++it)
        if (it->second == widget) {
            bar_items.erase(it);
            return;
        }
}

void add_to_bar(menu_entry *me)
{
    GtkWidget *bar = menu_bar_widget();
    if (!bar || me->root != MENU_ROOT_MAIN)
        return;
    GtkWidget *item = add_to(bar, me, nullptr, nullptr);
    if (!item)
        return;
    bar_items[me] = item;
    g_signal_connect(item, "destroy", G_CALLBACK(on_bar_item_destroyed), nullptr);
}

} // namespace

void menu_append_plugin_items(GtkWidget *menu, int root, session *sess, menu_values_ptr values)
{
    bool separated = false;
    for (GSList *l = menu_list; l; l = l->next) {
        const auto *me = static_cast<const menu_entry *>(l->data);
        if (me->root != root)
            continue;
        if (!separated) {
            menu_add_separator(menu);
            separated = true;
        }
        add_to(menu, me, sess, values);
    }
}

void menu_plugin_items_add_to(GtkWidget *root)
{
    const bool is_bar = root == menu_bar_widget();
    for (GSList *l = menu_list; l; l = l->next) {
        auto *me = static_cast<menu_entry *>(l->data);
        if (me->root != MENU_ROOT_MAIN)
            continue;
        if (is_bar)
            add_to_bar(me);
        else
            add_to(root, me, nullptr, nullptr);
    }
}

void fe_menu_add(menu_entry *me)
{
    add_to_bar(me);
}

void fe_menu_del(menu_entry *me)
{
    const auto it = bar_items.find(me);
    if (it == bar_items.end())
        return;
    GtkWidget *item = it->second;
    bar_items.erase(it);
    gtk_widget_destroy(item);
}

void fe_menu_update(menu_entry *me)
{
    const auto it = bar_items.find(me);
    if (it == bar_items.end()) {
        add_to_bar(me);
        return;
    }
    GtkWidget *item = it->second;
    set_label(item, me);
    gtk_widget_set_sensitive(item, me->enabled != 0);
    if (GTK_IS_CHECK_MENU_ITEM(item)) {
        updating = true;
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), me->state != 0);
        updating = false;
    }
}
