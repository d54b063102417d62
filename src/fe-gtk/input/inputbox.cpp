// The key-press handler of the input line and the seventeen actions.
#include "input/inputbox.h"

#include "input/completion.h"
#include "input/keybindings.h"
#include "input/replace.h"
#include "mainwin/maingui.h"
#include "switcher/chanview.h"
#include "textview/gtkxtext.h"

#include "base/guard.h"
#include "base/handles.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "plugins/plugin.h"
#include "session/lastact.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <glib/gi18n.h>

#include <cstring>
#include <map>
#include <string>

namespace
{

enum class key_result { pass, handled, stop };

completion_state completion;
std::map<std::string, key_menu_handler> menu_handlers;

struct action_call {
    GtkWidget *entry;
    GdkEventKey *event;
    const key_binding &binding;
    session *sess;
};

const char *entry_text(GtkWidget *entry)
{
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

void set_entry(GtkWidget *entry, const std::string &text, int cursor)
{
    gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
    gtk_editable_set_position(GTK_EDITABLE(entry), cursor);
}

bool has_data(const std::optional<std::string> &d)
{
    return d && !d->empty();
}

// "+3", "-1", "7": a whole number, nothing else.
bool parse_number(const std::string &s, int *out)
{
    size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i == s.size() || s.size() > 9)
        return false;
    for (size_t j = i; j < s.size(); j++)
        if (!g_ascii_isdigit(s[j]))
            return false;
    *out = std::atoi(s.c_str());
    return true;
}

key_result change_page(const action_call &c)
{
    if (!has_data(c.binding.data1))
        return key_result::pass;
    const std::string &d1 = *c.binding.data1;
    if (g_ascii_strcasecmp(d1.c_str(), "auto") == 0) {
        session *next = lastact_getfirst(nullptr);
        if (!next || !is_session(next))
            return key_result::pass;
        mg_bring_tofront_sess(next);
        return key_result::handled;
    }
    int number = 0;
    if (parse_number(d1, &number)) {
        if (has_data(c.binding.data2))
            mg_switch_page(true, number);
        else
            mg_switch_page(false, c.binding.data2 ? number : number - 1);
        return key_result::handled;
    }
    // "network/channel" or a channel name.
    std::string net, chan = d1;
    const size_t slash = d1.find('/');
    if (slash != std::string::npos && slash + 1 < d1.size()) {
        net = d1.substr(0, slash);
        chan = d1.substr(slash + 1);
    }
    session *target = plugin_find_context(net.empty() ? nullptr : net.c_str(), chan.c_str(), nullptr);
    if (!target)
        return key_result::pass;
    mg_bring_tofront_sess(target);
    return key_result::handled;
}

void scroll_to(GtkAdjustment *adj, double value)
{
    const double last = gtk_adjustment_get_upper(adj) - gtk_adjustment_get_page_size(adj);
    gtk_adjustment_set_value(adj, std::clamp(value, 0.0, std::max(0.0, last)));
}

key_result scroll(const action_call &c)
{
    session_view *v = mg_shared_view();
    GtkAdjustment *adj = v && v->text_view ? gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(v->text_view)) : nullptr;
    if (!adj)
        return key_result::handled;
    const std::string d = c.binding.data1.value_or("");
    const double value = gtk_adjustment_get_value(adj);
    // The view scrolls in lines; a page keeps one line of context.
    const double page = std::max(1.0, gtk_adjustment_get_page_size(adj) - 1);
    if (d == "Top")
        scroll_to(adj, 0);
    else if (d == "Bottom")
        scroll_to(adj, gtk_adjustment_get_upper(adj));
    else if (d == "Up")
        scroll_to(adj, value - page);
    else if (d == "+1")
        scroll_to(adj, value + 1);
    else if (d == "-1")
        scroll_to(adj, value - 1);
    else
        scroll_to(adj, value + page);
    return key_result::handled;
}

key_result history_step(const action_call &c, bool older)
{
    history *h = &c.sess->input_history;
    const char *line = older ? history_up(h, entry_text(c.entry)) : history_down(h);
    if (line) {
        // The line may be freed by the next history call: copy it first.
        const std::string copy = line;
        set_entry(c.entry, copy, -1);
    }
    return key_result::stop;
}

key_result complete(const action_call &c)
{
    if (GTK_IS_ENTRY(c.entry))
        gtk_entry_reset_im_context(GTK_ENTRY(c.entry));
    const std::string text = entry_text(c.entry);
    if (text.empty())
        return c.binding.action == KEY_COMPLETE ? key_result::pass : key_result::stop;
    const completion_context ctx = completion_context_for(c.sess);
    const int cursor = gtk_editable_get_position(GTK_EDITABLE(c.entry));
    const completion_result r = completion_run(completion, text, cursor, c.binding.data1.has_value(), ctx);
    for (const std::string &line : r.listing)
        PrintText(c.sess, (line + "\n").c_str());
    if (r.changed)
        set_entry(c.entry, r.text, r.cursor);
    return key_result::stop;
}

key_result move_tab(const action_call &c, int delta, bool family)
{
    tab_state *t = tab_of(c.sess);
    if (t && t->tab)
        (family ? chan_move_family : chan_move)(t->tab, delta);
    return key_result::stop;
}

key_result run_action(const action_call &c)
{
    const key_binding &b = c.binding;
    switch (b.action) {
    case KEY_RUN_COMMAND:
        if (b.data1) {
            std::string cmd = key_expand_escapes(*b.data1);
            handle_multiline(c.sess, cmd.data(), FALSE, FALSE);
        }
        return key_result::handled;
    case KEY_CHANGE_PAGE:
        return change_page(c);
    case KEY_INSERT_BUFFER:
        if (!has_data(b.data1))
            return key_result::pass;
        key_action_insert(c.entry, b.data1->c_str());
        return key_result::stop;
    case KEY_SCROLL_PAGE:
        return scroll(c);
    case KEY_SET_BUFFER:
        if (!has_data(b.data1))
            return key_result::pass;
        set_entry(c.entry, *b.data1, -1);
        return key_result::stop;
    case KEY_LAST_COMMAND:
        return history_step(c, true);
    case KEY_NEXT_COMMAND:
        return history_step(c, false);
    case KEY_COMPLETE:
    case KEY_CHANGE_SELECTED_NICK:
        return complete(c);
    case KEY_CHECK_REPLACE:
        // Enter (and any key that types no visible character) finishes the
        // line's last word; a typed space or comma is caught by the change.
        key_check_replace_on_change(c.entry, !g_unichar_isprint(gdk_keyval_to_unicode(c.event->keyval)));
        return key_result::pass;
    case KEY_MOVE_TAB_LEFT:
        return move_tab(c, -1, false);
    case KEY_MOVE_TAB_RIGHT:
        return move_tab(c, 1, false);
    case KEY_MOVE_FAMILY_LEFT:
        return move_tab(c, -1, true);
    case KEY_MOVE_FAMILY_RIGHT:
        return move_tab(c, 1, true);
    case KEY_PUSH_HISTORY: {
        const std::string text = entry_text(c.entry);
        if (!text.empty())
            history_add(&c.sess->input_history, text.c_str());
        set_entry(c.entry, "", 0);
        return key_result::stop;
    }
    case KEY_MENU_SHORTCUT:
        // "Enable Ctrl+Q to quit" switched off: that one key does not quit.
        if (b.data1 == "quit" && !prefs.gui_ctrlq_quit && gdk_keyval_to_lower(c.event->keyval) == GDK_KEY_q &&
            (c.event->state & KEY_MOD_MASK) == KEY_MOD_CONTROL)
            return key_result::handled;
        return b.data1 && key_run_menu_shortcut(b.data1->c_str(), c.sess) ? key_result::stop : key_result::handled;
    case KEY_REOPEN_TAB:
        mg_reopen_closed_channel_tab();
        return key_result::stop;
    default:
        return key_result::stop;
    }
}

// Runs the bindings matching the key; `only_window` limits them to those
// that act on the window rather than the line.
bool run_bindings(GtkWidget *entry, GdkEventKey *event, session *sess, bool only_window)
{
    // The table may be replaced by an action (none does today): walk a copy.
    const std::vector<key_binding> bindings = key_bindings();
    for (const key_binding &b : bindings) {
        if (!key_matches(b, event->keyval, event->state))
            continue;
        if (only_window && b.action != KEY_CHANGE_PAGE && b.action != KEY_MENU_SHORTCUT &&
            (b.action < KEY_MOVE_TAB_LEFT || b.action > KEY_MOVE_FAMILY_RIGHT) && b.action != KEY_REOPEN_TAB)
            continue;
        if (b.action >= KEY_ACTION_COUNT)
            return true;
        const key_result r = run_action({entry, event, b, sess});
        if (r != key_result::pass)
            return true;
        if (!is_session(sess))
            return true;
    }
    return false;
}

// The session a key acts on: the one shown where it was typed (a session in
// a window of its own, or the main window's tab in front).
session *front_for_keys(GtkWidget *entry = nullptr)
{
    session *sess = entry ? mg_session_of_widget(entry) : mg_front_session();
    if (!sess || !is_session(sess))
        return nullptr;
    current_sess = sess;
    current_tab = sess;
    sess->server->recent_session = sess;
    return sess;
}

gboolean on_key_press(GtkWidget *entry, GdkEventKey *event, gpointer) noexcept
{
    return guarded("input key", FALSE, [&] { return key_handle_key_press(entry, event); });
}

gobject_ptr<GtkWidget> replace_pending; // the entry with a check waiting for the idle loop

gboolean replace_later(gpointer) noexcept
{
    guarded("input replace", [] {
        gobject_ptr<GtkWidget> entry = std::move(replace_pending);
        if (entry && gtk_widget_get_parent(entry.get()))
            key_check_replace_on_change(entry.get());
    });
    return G_SOURCE_REMOVE;
}

// The check runs once the change is complete: during "changed" the cursor
// still stands before the character just typed.
void on_changed(GtkEditable *editable, gpointer) noexcept
{
    guarded("input replace", [&] {
        if (replace_pending)
            return;
        replace_pending = make_ref(GTK_WIDGET(editable));
        g_idle_add(replace_later, nullptr);
    });
}

void register_builtin_shortcuts()
{
    const auto window = [] {
        return mg_shared_view() && mg_shared_view()->window ? mg_shared_view()->window : nullptr;
    };
    menu_handlers.emplace("network-list", [](session *s) {
        fe_serverlist_open(s);
        return true;
    });
    menu_handlers.emplace("new-server-tab", [](session *) {
        new_ircwindow(nullptr, nullptr, SESS_SERVER, 1);
        return true;
    });
    menu_handlers.emplace("new-server-window", [](session *) {
        mg_detach(new_ircwindow(nullptr, nullptr, SESS_SERVER, 1), 1);
        return true;
    });
    menu_handlers.emplace("close", [](session *s) {
        mg_close_sess(s);
        return true;
    });
    menu_handlers.emplace("quit", [](session *) {
        mg_open_quit_dialog(false);
        return true;
    });
    menu_handlers.emplace("user-list-toggle", [](session *s) {
        prefs.gui_ulist_hide = !prefs.gui_ulist_hide;
        sessionwin_apply_settings(s);
        return true;
    });
    menu_handlers.emplace("fullscreen-toggle", [window](session *) {
        GtkWidget *w = window();
        if (!w)
            return false;
        const bool full = gdk_window_get_state(gtk_widget_get_window(w)) & GDK_WINDOW_STATE_FULLSCREEN;
        if (full)
            gtk_window_unfullscreen(GTK_WINDOW(w));
        else
            gtk_window_fullscreen(GTK_WINDOW(w));
        prefs.gui_win_fullscreen = !full;
        return true;
    });
    menu_handlers.emplace("away-toggle", [](session *s) {
        char away[] = "away", back[] = "back";
        handle_command(s, s->server->away ? back : away, false);
        return true;
    });
    menu_handlers.emplace("reset-marker", [](session *) {
        session_view *v = mg_shared_view();
        if (!v || !v->text_view)
            return false;
        gtk_xtext_reset_marker_pos(GTK_XTEXT(v->text_view));
        return true;
    });
    menu_handlers.emplace("move-marker", [](session *) {
        session_view *v = mg_shared_view();
        if (!v || !v->text_view)
            return false;
        gtk_xtext_moveto_marker_pos(GTK_XTEXT(v->text_view));
        return true;
    });
    menu_handlers.emplace("copy-selection", [](session *) {
        session_view *v = mg_shared_view();
        if (!v || !v->text_view)
            return false;
        gtk_xtext_copy_selection(GTK_XTEXT(v->text_view));
        return true;
    });
}

} // namespace

void key_set_menu_shortcut(const char *name, key_menu_handler handler)
{
    if (!name)
        return;
    if (menu_handlers.empty())
        register_builtin_shortcuts();
    if (handler)
        menu_handlers[name] = std::move(handler);
    else
        menu_handlers.erase(name);
}

bool key_run_menu_shortcut(const char *name, session *sess)
{
    if (menu_handlers.empty())
        register_builtin_shortcuts();
    const auto it = menu_handlers.find(name ? name : "");
    if (it == menu_handlers.end() || !sess || !is_session(sess))
        return false;
    // Copied: the handler may replace the table (the menus rebuilding).
    const key_menu_handler handler = it->second;
    return handler(sess);
}

void key_connect_entry(GtkWidget *entry)
{
    g_signal_connect(entry, "key-press-event", G_CALLBACK(on_key_press), nullptr);
    g_signal_connect(entry, "changed", G_CALLBACK(on_changed), nullptr);
}

gboolean key_handle_key_press(GtkWidget *entry, GdkEventKey *event)
{
    session *sess = front_for_keys(entry);
    if (!sess)
        return FALSE;
    const gunichar ch = gdk_keyval_to_unicode(event->keyval);
    if (plugin_emit_keypress(sess, event->state, event->keyval, ch) || !is_session(sess))
        return TRUE;
    if (run_bindings(entry, event, sess, false))
        return TRUE;
    if (event->keyval == GDK_KEY_space)
        key_action_tab_clean();
    return FALSE;
}

gboolean key_handle_window_key(GdkEventKey *event)
{
    session_view *v = mg_shared_view();
    session *sess = front_for_keys();
    if (!v || !sess)
        return FALSE;
    return run_bindings(v->input_entry, event, sess, true) ? TRUE : FALSE;
}

void key_action_insert(GtkWidget *entry, const char *data)
{
    if (!entry || !data || !*data)
        return;
    const std::string text = key_expand_escapes(data);
    // Like typing, the code takes the place of a selection.
    gint start = 0, end = 0;
    if (gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end))
        gtk_editable_delete_text(GTK_EDITABLE(entry), start, end);
    int pos = gtk_editable_get_position(GTK_EDITABLE(entry));
    gtk_editable_insert_text(GTK_EDITABLE(entry), text.c_str(), static_cast<gint>(text.size()), &pos);
    gtk_editable_set_position(GTK_EDITABLE(entry), pos);
}

void key_action_tab_clean(void)
{
    completion.prefix.clear();
}

void key_check_replace_on_change(GtkWidget *entry, bool line_done)
{
    static bool busy = false;
    if (busy || !entry)
        return;
    const std::vector<replace_entry> entries = replace_entries();
    if (entries.empty())
        return;
    const std::string text = entry_text(entry);
    const int cursor = gtk_editable_get_position(GTK_EDITABLE(entry));
    const auto r = replace_check(text, cursor, entries, line_done);
    if (!r)
        return;
    busy = true;
    set_entry(entry, r->text, r->cursor);
    busy = false;
}
