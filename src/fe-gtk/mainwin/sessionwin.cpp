// The simple session window and the fe_ functions that change what one
// session shows. With one window per session there are no background tabs:
// every change is shown at once.
#include "mainwin/sessionwin.h"

#include "textview/gtkxtext.h"
#include "theme/theme-gtk.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe-common/meters.h"
#include "fe-common/title.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "session/session.h"

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

namespace
{

// Pulse period of the "connecting" bar.
constexpr guint PROGRESS_PULSE_MS = 50;

bool first_window_done = false;
gobject_ptr<GtkCssProvider> font_provider;

// The view of a session whose widgets still exist (not while its window is
// being torn down).
session_view *live_view(session *sess)
{
    auto *v = sess ? static_cast<session_view *>(sess->view) : nullptr;
    return v && v->window ? v : nullptr;
}

template <typename F> void for_each_view_of_server(server *serv, F &&f)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server == serv)
            if (session_view *v = live_view(sess))
                f(*v);
    }
}

// The text view settings, as the main window will apply them.
void apply_text_settings(session_view &v)
{
    auto *x = GTK_XTEXT(v.text_view);
    gtk_xtext_set_max_lines(x, prefs.text_max_lines);
    gtk_xtext_set_wordwrap(x, prefs.text_wordwrap);
    gtk_xtext_set_show_marker(x, prefs.text_show_marker);
    gtk_xtext_set_show_separator(x, prefs.text_indent && prefs.text_show_sep);
    gtk_xtext_set_indent(x, prefs.text_indent);
    gtk_xtext_set_max_indent(x, prefs.text_max_indent);
    gtk_xtext_set_thin_separator(x, prefs.text_thin_sep);
    if (v.buffer)
        gtk_xtext_set_time_stamp(v.buffer, prefs.stamp_text);
}

const char *text_font_name()
{
    const char *font = prefs.text_font_main[0] ? prefs.text_font_main : prefs.text_font;
    return font[0] ? font : "Sans 10";
}

void set_label_shortened(GtkWidget *label, const char *name)
{
    const glong limit = prefs.gui_tab_trunc;
    if (limit > 0 && g_utf8_strlen(name, -1) > limit) {
        gchar_ptr head(g_utf8_substring(name, 0, limit));
        std::string shown = std::string(head.get()) + "..";
        gtk_label_set_text(GTK_LABEL(label), shown.c_str());
    } else {
        gtk_label_set_text(GTK_LABEL(label), name);
    }
}

void apply_meter_visibility(meter_widgets &m, int setting)
{
    // The setting: 0 off, 1 graph, 2 text, 3 (and above) both.
    const bool graph = setting == 1 || setting >= 3;
    const bool text = setting >= 2;
    gtk_widget_set_visible(m.bar, graph);
    gtk_widget_set_visible(m.label, text);
    gtk_widget_set_visible(m.box, graph || text);
}

void show_meter(meter_widgets &m, const meter_text &t)
{
    if (m.bar)
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m.bar), t.fraction);
    if (m.box)
        gtk_widget_set_tooltip_text(m.box, t.tooltip.c_str());
    if (m.label)
        gtk_label_set_text(GTK_LABEL(m.label), t.label.c_str());
}

meter_widgets make_meter(const char *name)
{
    meter_widgets m;
    m.box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_widget_set_name(m.box, name);
    m.bar = gtk_progress_bar_new();
    gtk_widget_set_valign(m.bar, GTK_ALIGN_CENTER);
    m.label = gtk_label_new("");
    gtk_box_pack_start(GTK_BOX(m.box), m.bar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(m.box), m.label, FALSE, FALSE, 0);
    // Visibility is ours to decide, not show_all's.
    gtk_widget_set_no_show_all(m.bar, TRUE);
    gtk_widget_set_no_show_all(m.label, TRUE);
    gtk_widget_set_no_show_all(m.box, TRUE);
    return m;
}

void make_current(session *sess)
{
    current_sess = sess;
    current_tab = sess;
    sess->server->recent_session = sess;
}

// --- signal handlers ---------------------------------------------------

void on_window_destroy(GtkWidget *, gpointer data) noexcept
{
    guarded("window destroy", [&] {
        auto *view = static_cast<session_view *>(data);
        view->window = nullptr;
        view->progress_pulse.reset();
        session *sess = view->sess;
        // The session frees the view through fe_session_callback.
        if (is_session(sess))
            session_free(sess);
    });
}

gboolean on_window_focus_in(GtkWidget *window, GdkEvent *, gpointer data) noexcept
{
    guarded("window focus", [&] {
        auto *view = static_cast<session_view *>(data);
        gtk_window_set_urgency_hint(GTK_WINDOW(window), FALSE);
        if (is_session(view->sess))
            make_current(view->sess);
    });
    return FALSE;
}

void on_input_activate(GtkEntry *entry, gpointer data) noexcept
{
    guarded("input", [&] {
        auto *view = static_cast<session_view *>(data);
        gchar_ptr text(g_strdup(gtk_entry_get_text(entry)));
        if (!*text)
            return;
        gtk_entry_set_text(entry, "");
        // The command may close this window and free the view: touch nothing after it.
        handle_multiline(view->sess, text.get(), TRUE, FALSE);
    });
}

gboolean pulse_progress(gpointer data) noexcept
{
    guarded("progress bar", [data] {
        auto *view = static_cast<session_view *>(data);
        if (view->progress_bar)
            gtk_progress_bar_pulse(GTK_PROGRESS_BAR(view->progress_bar));
    });
    return G_SOURCE_CONTINUE;
}

// Runs once after the first window is up: the place where the tray and
// notification plugins will load, and where --minimize takes effect.
gboolean first_window_idle(gpointer) noexcept
{
    guarded("first window", [] {
        session *sess = current_sess ? current_sess : (sess_list ? static_cast<session *>(sess_list->data) : nullptr);
        GtkWindow *window = sess ? session_window(sess) : nullptr;
        if (!window)
            return;
        // Hiding to the tray needs a tray icon to come back from; until the
        // tray exists, level 2 iconifies like level 1.
        if (arg_minimize == 1 || arg_minimize == 2)
            gtk_window_iconify(window);
    });
    return G_SOURCE_REMOVE;
}

GtkWidget *build_window(session_view &v, bool to_front)
{
    session *sess = v.sess;
    v.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(v.window, "lumenwick-window");
    gtk_window_set_title(GTK_WINDOW(v.window), DISPLAY_NAME);
    if (sess->type == SESS_DIALOG)
        gtk_window_set_default_size(GTK_WINDOW(v.window), prefs.gui_dialog_width, prefs.gui_dialog_height);
    else
        gtk_window_set_default_size(GTK_WINDOW(v.window), prefs.gui_win_width, prefs.gui_win_height);
    gtk_window_set_focus_on_map(GTK_WINDOW(v.window), to_front);

    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_container_add(GTK_CONTAINER(v.window), vbox);

    GtkWidget *top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    v.channel_label = gtk_label_new(sess->channel[0] ? sess->channel : _("<none>"));
    gtk_widget_set_name(v.channel_label, "lumenwick-channel");
    v.topic_entry = gtk_entry_new();
    gtk_widget_set_name(v.topic_entry, "lumenwick-topic");
    gtk_editable_set_editable(GTK_EDITABLE(v.topic_entry), FALSE);
    gtk_widget_set_can_focus(v.topic_entry, FALSE);
    gtk_box_pack_start(GTK_BOX(top), v.channel_label, FALSE, FALSE, 4);
    gtk_box_pack_start(GTK_BOX(top), v.topic_entry, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(vbox), top, FALSE, FALSE, 0);

    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
    v.text_view = gtk_xtext_new(nullptr, prefs.text_indent && prefs.text_show_sep);
    gtk_widget_set_name(v.text_view, "lumenwick-textview");
    v.buffer = gtk_xtext_buffer_new(GTK_XTEXT(v.text_view));
    apply_text_settings(v);
    if (!gtk_xtext_set_font(GTK_XTEXT(v.text_view), text_font_name())) {
        fe_message(_("Failed to open any font. I'm out of here!"), FE_MSG_WAIT | FE_MSG_ERROR);
        exit(1);
    }
    gtk_xtext_buffer_show(GTK_XTEXT(v.text_view), v.buffer, true);
    gtk_container_add(GTK_CONTAINER(scroll), v.text_view);
    gtk_box_pack_start(GTK_BOX(vbox), scroll, TRUE, TRUE, 0);

    GtkWidget *bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    v.nick_label = gtk_label_new(sess->server->nick[0] ? sess->server->nick : prefs.irc_nick1);
    gtk_widget_set_name(v.nick_label, "lumenwick-nickname");
    v.input_entry = gtk_entry_new();
    gtk_widget_set_name(v.input_entry, "lumenwick-inputbox");
    v.lag = make_meter("lumenwick-lagometer");
    v.throttle = make_meter("lumenwick-throttlemeter");
    apply_meter_visibility(v.lag, prefs.gui_lagometer);
    apply_meter_visibility(v.throttle, prefs.gui_throttlemeter);
    gtk_box_pack_start(GTK_BOX(bottom), v.nick_label, FALSE, FALSE, 4);
    gtk_box_pack_start(GTK_BOX(bottom), v.input_entry, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(bottom), v.throttle.box, FALSE, FALSE, 2);
    gtk_box_pack_end(GTK_BOX(bottom), v.lag.box, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(vbox), bottom, FALSE, FALSE, 2);

    g_signal_connect(v.window, "destroy", G_CALLBACK(on_window_destroy), &v);
    g_signal_connect(v.window, "focus-in-event", G_CALLBACK(on_window_focus_in), &v);
    g_signal_connect(v.input_entry, "activate", G_CALLBACK(on_input_activate), &v);
    return v.window;
}

} // namespace

session_view *view_of(session *sess) noexcept
{
    return sess ? static_cast<session_view *>(sess->view) : nullptr;
}

GtkWindow *session_window(session *sess) noexcept
{
    session_view *v = live_view(sess);
    return v && v->window ? GTK_WINDOW(v->window) : nullptr;
}

GtkWindow *main_window(void) noexcept
{
    if (GtkWindow *w = session_window(current_sess))
        return w;
    for (GSList *l = sess_list; l; l = l->next)
        if (GtkWindow *w = session_window(static_cast<session *>(l->data)))
            return w;
    return nullptr;
}

void sessionwin_apply_font(void) noexcept
{
    GdkScreen *screen = gdk_screen_get_default();
    if (!screen)
        return;
    const char *font = prefs.text_font_main[0] ? prefs.text_font_main : prefs.text_font;
    if (!font_provider) {
        font_provider = take_ref(gtk_css_provider_new());
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(font_provider.get()),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    // Themes make a bar 150 px wide by default; meters sit beside the input line.
    for (GSList *l = sess_list; l; l = l->next)
        if (session_view *v = live_view(static_cast<session *>(l->data)))
            gtk_xtext_set_font(GTK_XTEXT(v->text_view), text_font_name());
    const std::string css = "#lumenwick-lagometer trough, #lumenwick-throttlemeter trough { min-width: 48px; }\n";
    GError *error = nullptr;
    if (!gtk_css_provider_load_from_data(font_provider.get(), css.c_str(), -1, &error)) {
        g_warning("Cannot use the text font '%s': %s", font, error->message);
        g_error_free(error);
    }
}

// --- sessions and windows ----------------------------------------------

void fe_new_window(session *sess, int focus)
{
    auto view = std::make_unique<session_view>();
    view->sess = sess;
    const bool first = !first_window_done;
    const bool to_front = first || prefs.gui_tab_newtofront == 1 || (prefs.gui_tab_newtofront == 2 && focus);
    GtkWidget *window = build_window(*view, to_front);
    sess->view = view.release();
    fe_set_title(sess);
    gtk_widget_show_all(window);

    if (to_front || !current_sess) {
        make_current(sess);
        gtk_widget_grab_focus(view_of(sess)->input_entry);
    }
    if (first) {
        first_window_done = true;
        g_idle_add(first_window_idle, nullptr);
    }
}

void fe_new_server(server *serv)
{
    serv->fe_record = g_new0(server_gui, 1);
}

void fe_session_callback(session *sess)
{
    std::unique_ptr<session_view> view(view_of(sess));
    sess->view = nullptr;
    if (view)
        gtk_xtext_buffer_free(std::exchange(view->buffer, nullptr));
    if (!view || !view->window)
        return;
    GtkWidget *window = std::exchange(view->window, nullptr);
    // The session is already going away: its window must not free it again.
    g_signal_handlers_disconnect_by_data(window, view.get());
    gtk_widget_destroy(window);
}

void fe_server_callback(server *serv)
{
    auto *gui = static_cast<server_gui *>(serv->fe_record);
    serv->fe_record = nullptr;
    if (!gui)
        return;
    for (GtkWidget *w : {gui->chanlist_window, gui->rawlog_window, gui->join_dialog})
        if (w)
            gtk_widget_destroy(w);
    g_free(gui);
}

void fe_close_window(session *sess)
{
    session_view *view = view_of(sess);
    if (view && view->window)
        gtk_widget_destroy(view->window); // the destroy handler frees the session
    else
        session_free(sess);
}

void fe_set_title(session *sess)
{
    GtkWindow *window = session_window(sess);
    if (!window)
        return;
    gtk_window_set_title(window, window_title(title_fields_of(*sess)).c_str());
}

void fe_set_channel(session *sess)
{
    if (session_view *v = live_view(sess))
        set_label_shortened(v->channel_label, sess->channel[0] ? sess->channel : _("<none>"));
}

void fe_set_nonchannel(session *, int) {}

void fe_clear_channel(session *sess)
{
    session_view *v = live_view(sess);
    if (!v)
        return;
    if (sess->rejoin_channel[0]) {
        gchar_ptr name(g_strdup_printf("(%s)", sess->rejoin_channel));
        set_label_shortened(v->channel_label, name.get());
    } else {
        gtk_label_set_text(GTK_LABEL(v->channel_label), _("<none>"));
    }
    gtk_entry_set_text(GTK_ENTRY(v->topic_entry), "");
    gtk_widget_set_tooltip_text(v->topic_entry, nullptr);
}

void fe_set_topic(session *sess, char *topic, char *stripped_topic)
{
    session_view *v = live_view(sess);
    if (!v)
        return;
    const char *chosen = prefs.text_stripcolor_topic ? stripped_topic : topic;
    // The entry cannot draw IRC formatting yet, so codes are removed either way.
    gchar_ptr shown(strip_color(chosen ? chosen : "", -1, STRIP_ALL));
    gtk_entry_set_text(GTK_ENTRY(v->topic_entry), shown.get());
    gtk_widget_set_tooltip_text(v->topic_entry, *shown ? shown.get() : nullptr);
}

void fe_set_nick(server *serv, char *newnick)
{
    for_each_view_of_server(serv, [&](session_view &v) { gtk_label_set_text(GTK_LABEL(v.nick_label), newnick); });
}

void fe_set_away(server *) {}

void fe_update_channel_key(session *sess)
{
    fe_set_title(sess);
}

void fe_update_channel_limit(session *sess)
{
    fe_set_title(sess);
}

void fe_update_mode_buttons(session *, char, char) {}

void fe_buttons_update(session *) {}

void fe_dlgbuttons_update(session *) {}

void fe_progressbar_start(session *sess)
{
    session_view *v = live_view(sess);
    if (!v || v->progress_bar || !v->window)
        return;
    v->progress_bar = gtk_progress_bar_new();
    gtk_widget_set_name(v->progress_bar, "lumenwick-progressbar");
    gtk_widget_set_valign(v->progress_bar, GTK_ALIGN_CENTER);
    GtkWidget *row = gtk_widget_get_parent(v->input_entry);
    gtk_box_pack_start(GTK_BOX(row), v->progress_bar, FALSE, FALSE, 2);
    gtk_widget_show(v->progress_bar);
    v->progress_pulse.reset(g_timeout_add(PROGRESS_PULSE_MS, pulse_progress, v));
}

void fe_progressbar_end(server *serv)
{
    for_each_view_of_server(serv, [](session_view &v) {
        v.progress_pulse.reset();
        if (v.progress_bar)
            gtk_widget_destroy(std::exchange(v.progress_bar, nullptr));
    });
}

void fe_set_lag(server *serv, long lag)
{
    const auto meter = lag_meter(lag, serv->lag_probe_ms, make_ping_time());
    if (!meter)
        return;
    for_each_view_of_server(serv, [&](session_view &v) {
        v.lag_tooltip = meter->tooltip;
        show_meter(v.lag, *meter);
    });
}

void fe_set_throttle(server *serv)
{
    const meter_text meter = throttle_meter(serv->queued_bytes);
    for_each_view_of_server(serv, [&](session_view &v) { show_meter(v.throttle, meter); });
}

void sessionwin_apply_settings(session *sess)
{
    session_view *v = live_view(sess);
    if (!v)
        return;
    apply_meter_visibility(v->lag, prefs.gui_lagometer);
    apply_meter_visibility(v->throttle, prefs.gui_throttlemeter);
    apply_text_settings(*v);
    gtk_xtext_set_font(GTK_XTEXT(v->text_view), text_font_name());
    fe_set_title(sess);
}

// --- text output ---------------------------------------------------------

void fe_print_text(session *sess, char *text, time_t stamp, gboolean)
{
    session_view *v = live_view(sess);
    if (!v || !text || !v->buffer)
        return;
    // Invalid UTF-8 would upset Pango; the stored line stays readable.
    gchar_ptr valid(g_utf8_validate(text, -1, nullptr) ? nullptr : g_utf8_make_valid(text, -1));
    gtk_xtext_print(v->buffer, valid ? valid.get() : text, prefs.text_indent, stamp);
}

void fe_text_clear(session *sess, int lines)
{
    session_view *v = live_view(sess);
    if (v && v->buffer)
        gtk_xtext_clear(v->buffer, lines);
}

void fe_lastlog(session *sess, session *lastlog_sess, char *sstr, int flags)
{
    session_view *from = live_view(sess);
    session_view *to = live_view(lastlog_sess);
    if (!from || !to || !sstr || !from->buffer || !to->buffer)
        return;
    if (gtk_xtext_is_empty(from->buffer)) {
        PrintText(lastlog_sess, _("Search buffer is empty.\n"));
        return;
    }
    char *error = nullptr;
    if (!gtk_xtext_set_search_pattern(to->buffer, sstr, flags, &error)) {
        if (error)
            PrintText(lastlog_sess, error);
        g_free(error);
        return;
    }
    gtk_xtext_lastlog(to->buffer, from->buffer);
}

// --- input box -------------------------------------------------------------

const char *fe_get_inputbox_contents(session *sess)
{
    session_view *v = live_view(sess);
    return v ? gtk_entry_get_text(GTK_ENTRY(v->input_entry)) : "";
}

int fe_get_inputbox_cursor(session *sess)
{
    session_view *v = live_view(sess);
    return v ? gtk_editable_get_position(GTK_EDITABLE(v->input_entry)) : 0;
}

void fe_set_inputbox_contents(session *sess, char *text)
{
    if (session_view *v = live_view(sess))
        gtk_entry_set_text(GTK_ENTRY(v->input_entry), text ? text : "");
}

void fe_set_inputbox_cursor(session *sess, int delta, int pos)
{
    session_view *v = live_view(sess);
    if (!v)
        return;
    GtkEditable *entry = GTK_EDITABLE(v->input_entry);
    if (delta)
        pos += gtk_editable_get_position(entry);
    gtk_editable_set_position(entry, pos);
}
