#include "mainwin/searchbar.h"

#include "input/inputbox.h"
#include "mainwin/input-codes.h"
#include "mainwin/maingui.h"
#include "mainwin/tabstate.h"
#include "textview/gtkxtext.h"

#include "base/atomicfile.h"
#include "base/guard.h"
#include "base/handles.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "session/session.h"

#include <cstring>
#include <string>

namespace
{

struct search_bar {
    GtkWidget *box = nullptr;
    GtkWidget *entry = nullptr;
    GtkWidget *highlight = nullptr, *match_case = nullptr, *regex = nullptr, *follow = nullptr;
    GtkWidget *channels_only = nullptr;
    bool setting = false; // toggles set by us: no search
};

// One bar per main window; the shared view is the only one today.
search_bar bar;

session_view *front_view()
{
    session *front = mg_front_session();
    return front ? view_of(front) : nullptr;
}

GtkXText *front_xtext()
{
    session_view *v = front_view();
    return v && v->text_view ? GTK_XTEXT(v->text_view) : nullptr;
}

int flags_from_settings()
{
    int flags = 0;
    if (prefs.text_search_case_match)
        flags |= xtext::SEARCH_MATCH_CASE;
    if (prefs.text_search_highlight_all)
        flags |= xtext::SEARCH_HIGHLIGHT;
    if (prefs.text_search_follow)
        flags |= xtext::SEARCH_FOLLOW;
    if (prefs.text_search_regexp)
        flags |= xtext::SEARCH_REGEX;
    return flags;
}

void show_problem(const char *text)
{
    if (!bar.entry)
        return;
    gtk_entry_set_icon_from_icon_name(GTK_ENTRY(bar.entry), GTK_ENTRY_ICON_SECONDARY, text ? "dialog-error" : nullptr);
    gtk_entry_set_icon_tooltip_text(GTK_ENTRY(bar.entry), GTK_ENTRY_ICON_SECONDARY, text);
}

// Brings to front the first channel of the front tab's server whose name
// holds the text, in any case.
void jump_to_channel(const char *text)
{
    session *front = mg_front_session();
    if (!front || !*text) {
        show_problem(nullptr);
        return;
    }
    gchar_ptr needle(g_utf8_casefold(text, -1));
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server != front->server || s->type != SESS_CHANNEL)
            continue;
        gchar_ptr name(g_utf8_casefold(s->channel, -1));
        if (std::strstr(name.get(), needle.get())) {
            show_problem(nullptr);
            mg_bring_tofront_sess(s);
            return;
        }
    }
    show_problem(_("No channels found."));
}

// `rerun` keeps the current match where it is (an option changed); otherwise
// the search moves on in `extra` direction.
void run_search(int extra, bool rerun = false)
{
    GtkXText *xtext = front_xtext();
    if (!bar.entry || !xtext)
        return;
    const char *text = gtk_entry_get_text(GTK_ENTRY(bar.entry));
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(bar.channels_only))) {
        gtk_xtext_search(xtext, "", 0, nullptr);
        jump_to_channel(text);
        return;
    }
    if (!*text) {
        gtk_xtext_search(xtext, "", 0, nullptr);
        show_problem(nullptr);
        return;
    }
    const int flags = flags_from_settings() | extra;
    gchar_ptr error;
    char *err = nullptr;
    const xtext::entry *found = gtk_xtext_search(xtext, rerun ? nullptr : text, flags, &err);
    error.reset(err);
    if (!found && !error) {
        // Start over from the other end once: the old state may be stale
        // (lines trimmed or cleared since).
        gtk_xtext_search(xtext, "", 0, nullptr);
        found = gtk_xtext_search(xtext, text, flags, &err);
        error.reset(err);
    }
    if (error)
        show_problem(error.get());
    else
        show_problem(found ? nullptr : _("No results found."));
}

void set_open(bool open);

void on_changed(GtkEditable *, gpointer) noexcept
{
    // Typing looks back from the newest line, where the reader is.
    guarded("search typed", [&] { run_search(xtext::SEARCH_BACKWARD); });
}

void on_activate(GtkEntry *, gpointer) noexcept
{
    guarded("search next", [&] { run_search(0); });
}

gboolean on_key(GtkWidget *, GdkEventKey *event, gpointer) noexcept
{
    return guarded<gboolean>("search key", FALSE, [&]() -> gboolean {
        if (event->keyval != GDK_KEY_Escape)
            return FALSE;
        set_open(false);
        return TRUE;
    });
}

void on_option(GtkToggleButton *button, gpointer data) noexcept
{
    guarded("search option", [&] {
        if (bar.setting)
            return;
        if (int *setting = static_cast<int *>(data))
            *setting = gtk_toggle_button_get_active(button);
        // Highlighting changes only the drawing; the others a new search.
        const bool only_drawing = button == GTK_TOGGLE_BUTTON(bar.highlight);
        run_search(xtext::SEARCH_BACKWARD, only_drawing);
    });
}

GtkWidget *option(const char *label, int *setting)
{
    GtkWidget *b = gtk_check_button_new_with_mnemonic(label);
    gtk_widget_set_focus_on_click(b, FALSE);
    if (setting)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(b), *setting);
    g_signal_connect(b, "toggled", G_CALLBACK(on_option), setting);
    return b;
}

GtkWidget *arrow(const char *icon, const char *tip, void (*handler)(session *))
{
    GtkWidget *b = gtk_button_new();
    gtk_button_set_image(GTK_BUTTON(b), gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_MENU));
    gtk_button_set_relief(GTK_BUTTON(b), GTK_RELIEF_NONE);
    gtk_widget_set_tooltip_text(b, tip);
    gtk_widget_set_focus_on_click(b, FALSE);
    g_signal_connect(b, "clicked", G_CALLBACK(+[](GtkButton *, gpointer fn) noexcept {
                         guarded("search arrow", [&] {
                             if (session *front = mg_front_session())
                                 reinterpret_cast<void (*)(session *)>(fn)(front);
                         });
                     }),
                     reinterpret_cast<gpointer>(handler));
    return b;
}

void set_open(bool open)
{
    if (!bar.box)
        return;
    if (open) {
        // The options may have been changed elsewhere (preferences, /SET).
        bar.setting = true;
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(bar.highlight), prefs.text_search_highlight_all);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(bar.match_case), prefs.text_search_case_match);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(bar.regex), prefs.text_search_regexp);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(bar.follow), prefs.text_search_follow);
        bar.setting = false;
        gtk_widget_show(bar.box);
        gtk_widget_grab_focus(bar.entry);
        return;
    }
    gtk_widget_hide(bar.box);
    g_signal_handlers_block_by_func(bar.entry, reinterpret_cast<gpointer>(on_changed), nullptr);
    gtk_entry_set_text(GTK_ENTRY(bar.entry), "");
    g_signal_handlers_unblock_by_func(bar.entry, reinterpret_cast<gpointer>(on_changed), nullptr);
    show_problem(nullptr);
    if (GtkXText *xtext = front_xtext())
        gtk_xtext_search(xtext, "", 0, nullptr);
    if (session_view *v = front_view(); v && v->input_entry)
        gtk_widget_grab_focus(v->input_entry);
}

void save_answer(void *data, char *file) noexcept
{
    guarded("save text", [&] {
        auto *sess = static_cast<session *>(data);
        // The tab may have been closed while the chooser was open.
        if (file && is_session(sess))
            mg_save_text_to(sess, file);
    });
}

} // namespace

void searchbar_create(session_view &view)
{
    bar = search_bar{};
    bar.box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_widget_set_name(bar.box, "lumenwick-searchbar");
    gtk_widget_set_no_show_all(bar.box, TRUE);

    GtkWidget *close = gtk_button_new_from_icon_name("window-close-symbolic", GTK_ICON_SIZE_MENU);
    gtk_button_set_relief(GTK_BUTTON(close), GTK_RELIEF_NONE);
    gtk_widget_set_tooltip_text(close, _("Close"));
    g_signal_connect(
        close, "clicked",
        G_CALLBACK(+[](GtkButton *, gpointer) noexcept { guarded("search close", [] { set_open(false); }); }), nullptr);
    GtkWidget *label = gtk_label_new_with_mnemonic(_("Find:"));
    bar.entry = gtk_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(bar.entry), 8);
    gtk_widget_set_name(bar.entry, "lumenwick-searchentry");
    gtk_style_context_add_class(gtk_widget_get_style_context(bar.entry), "lumenwick-no-undershoot");
    mg_apply_emoji_font(bar.entry);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), bar.entry);
    atk_object_set_name(gtk_widget_get_accessible(bar.entry), "search");
    g_signal_connect(bar.entry, "changed", G_CALLBACK(on_changed), nullptr);
    g_signal_connect(bar.entry, "activate", G_CALLBACK(on_activate), nullptr);
    g_signal_connect(bar.entry, "key-press-event", G_CALLBACK(on_key), nullptr);

    bar.highlight = option(_("_Highlight all"), &prefs.text_search_highlight_all);
    bar.match_case = option(_("Mat_ch case"), &prefs.text_search_case_match);
    bar.regex = option(_("_Regex"), &prefs.text_search_regexp);
    bar.follow = option(_("_Follow"), &prefs.text_search_follow);
    gtk_widget_set_tooltip_text(bar.follow, _("Search new lines as they arrive"));
    bar.channels_only = option(_("_Channels only"), nullptr);

    // The options sit in a pop-over: in a row they would make the bar wider
    // than a small window's text column.
    GtkWidget *options = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    g_object_set(options, "margin", 6, nullptr);
    for (GtkWidget *w : {bar.highlight, bar.match_case, bar.regex, bar.follow, bar.channels_only})
        gtk_box_pack_start(GTK_BOX(options), w, FALSE, FALSE, 0);
    gtk_widget_show_all(options);
    GtkWidget *menu = gtk_menu_button_new();
    gtk_button_set_image(GTK_BUTTON(menu), gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_MENU));
    gtk_button_set_relief(GTK_BUTTON(menu), GTK_RELIEF_NONE);
    gtk_widget_set_tooltip_text(menu, _("Search options"));
    gtk_widget_set_focus_on_click(menu, FALSE);
    GtkWidget *popover = gtk_popover_new(menu);
    gtk_container_add(GTK_CONTAINER(popover), options);
    gtk_menu_button_set_popover(GTK_MENU_BUTTON(menu), popover);

    GtkBox *b = GTK_BOX(bar.box);
    gtk_box_pack_start(b, close, FALSE, FALSE, 0);
    gtk_box_pack_start(b, label, FALSE, FALSE, 0);
    gtk_box_pack_start(b, bar.entry, TRUE, TRUE, 0);
    gtk_box_pack_start(b, arrow("go-up-symbolic", _("Search Previous"), mg_search_handle_previous), FALSE, FALSE, 0);
    gtk_box_pack_start(b, arrow("go-down-symbolic", _("Search Next"), mg_search_handle_next), FALSE, FALSE, 0);
    gtk_box_pack_start(b, menu, FALSE, FALSE, 0);
    // The window's show_all passes the bar by; its contents are shown now,
    // so showing the bar shows all of it.
    gtk_container_foreach(
        GTK_CONTAINER(bar.box), [](GtkWidget *w, gpointer) { gtk_widget_show_all(w); }, nullptr);
    // Under the text, inside the chat page (utility tabs have no use for it).
    gtk_box_pack_start(GTK_BOX(view.chat ? view.chat : view.center), bar.box, FALSE, FALSE, 0);
    // Control+F, G and Shift+G by default (the key bindings' menu shortcuts).
    key_set_menu_shortcut("search-text", [](session *s) {
        mg_search_toggle(s);
        return true;
    });
    key_set_menu_shortcut("search-next", [](session *s) {
        mg_search_handle_next(s);
        return true;
    });
    key_set_menu_shortcut("search-previous", [](session *s) {
        mg_search_handle_previous(s);
        return true;
    });
    g_signal_connect(bar.box, "destroy", G_CALLBACK(+[](GtkWidget *, gpointer) noexcept {
                         guarded("search bar gone", [] { bar = search_bar{}; });
                     }),
                     nullptr);
}

void mg_search_toggle(session *)
{
    if (!bar.box)
        return;
    // Pressed again while open and not focused: take the focus back first.
    if (gtk_widget_get_visible(bar.box) && !gtk_widget_has_focus(bar.entry)) {
        gtk_widget_grab_focus(bar.entry);
        return;
    }
    set_open(!gtk_widget_get_visible(bar.box));
}

void mg_search_handle_next(session *sess)
{
    if (!bar.box || !*gtk_entry_get_text(GTK_ENTRY(bar.entry))) {
        if (bar.box && !gtk_widget_get_visible(bar.box))
            mg_search_toggle(sess);
        return;
    }
    run_search(0);
}

void mg_search_handle_previous(session *sess)
{
    if (!bar.box || !*gtk_entry_get_text(GTK_ENTRY(bar.entry))) {
        if (bar.box && !gtk_widget_get_visible(bar.box))
            mg_search_toggle(sess);
        return;
    }
    run_search(xtext::SEARCH_BACKWARD);
}

void mg_save_text(session *sess)
{
    if (!sess || !tab_of(sess))
        return;
    // Offer "<channel>.txt" in the home folder; a name is no path.
    std::string name = sess->channel[0] ? sess->channel : "conversation";
    for (char &c : name)
        if (c == '/' || c == '\\')
            c = '_';
    gchar_ptr initial(g_build_filename(g_get_home_dir(), (name + ".txt").c_str(), nullptr));
    fe_get_file(_("Select an output filename"), initial.get(), save_answer, sess, FRF_WRITE);
}

bool mg_save_text_to(session *sess, const char *path)
{
    tab_state *t = tab_of(sess);
    if (!t || !t->buffer || !path || !*path)
        return false;
    AtomicFile file(path);
    if (file.ok())
        file.write(gtk_xtext_buffer_model(t->buffer).save_text());
    if (file.commit())
        return true;
    gchar_ptr msg(g_strdup_printf(_("Cannot write to %s:\n\n%s"), path, g_strerror(file.error() ? file.error() : EIO)));
    fe_message(msg.get(), FE_MSG_ERROR);
    return false;
}
