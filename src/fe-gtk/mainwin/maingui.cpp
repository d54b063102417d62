// The main window: building the shared session view, giving sessions tabs,
// switching the view between them, tab colours, closing and reopening tabs.
#include "mainwin/maingui.h"

#include "dialogs/banlist.h"
#include "dialogs/chanlist.h"
#include "dialogs/keydialog.h"
#include "dialogs/plugingui.h"
#include "dialogs/utilwin.h"
#include "input/inputbox.h"
#include "input/spell-entry.h"
#include "irc/inbound.h"
#include "mainwin/buttons.h"
#include "mainwin/generic-tab.h"
#include "mainwin/input-codes.h"
#include "mainwin/layout.h"
#include "mainwin/reply.h"
#include "mainwin/searchbar.h"
#include "mainwin/userlist.h"
#include "menus/mainmenu.h"
#include "menus/menu.h"
#include "resources/gtkutil.h"
#include "resources/pixmaps.h"
#include "switcher/chanview.h"
#include "textview/gtkxtext.h"
#include "theme/theme-gtk.h"
#include "theme/theme-runtime.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "fe-common/meters.h"
#include "fe-common/title.h"
#include "fe.h"
#include "net/server.h"
#include "output/text.h"
#include "output/url.h"
#include "plugins/plugin.h"
#include "session/chanopt.h"
#include "session/lastact.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <cstring>
#include <memory>
#include <string>

namespace
{

constexpr guint PROGRESS_PULSE_MS = 50;
constexpr int TAB_COLOR_ENTRY[4] = {-1, 37, 39, 38}; // plain, data, message, highlight
constexpr int AWAY_COLOR_ENTRY = 40;

std::unique_ptr<session_view> shared;
session *front = nullptr;
bool first_window_done = false;
closed_tabs closed_list;
PangoAttrList *tab_attrs[4] = {};
gobject_ptr<GtkCssProvider> css_provider;

const char *text_font_name()
{
    const char *font = prefs.text_font_main[0] ? prefs.text_font_main : prefs.text_font;
    return font[0] ? font : "Sans 10";
}

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
    pixmaps_background_update();
    gtk_xtext_set_background(x, pixmaps_text_background());
}

// The switcher image of a session's tab (ids of the tree images).
int tree_icon_of(const session *sess)
{
    switch (sess->type) {
    case SESS_CHANNEL:
        return 0;
    case SESS_DIALOG:
        return 1;
    default:
        return 2;
    }
}

void rebuild_tab_colors()
{
    const double scale = prefs.gui_tab_small == 1 ? 0.8333333333333 : prefs.gui_tab_small >= 2 ? 0.6944444444444 : 0;
    for (int i = 0; i < 4; i++) {
        if (tab_attrs[i])
            pango_attr_list_unref(tab_attrs[i]);
        tab_attrs[i] = pango_attr_list_new();
        if (scale > 0)
            pango_attr_list_insert(tab_attrs[i], pango_attr_scale_new(scale));
        theme_color c;
        if (TAB_COLOR_ENTRY[i] >= 0 && theme_get_legacy_color(TAB_COLOR_ENTRY[i], &c)) {
            const GdkRGBA rgba = theme_to_gdk(c);
            pango_attr_list_insert(tab_attrs[i], pango_attr_foreground_new(static_cast<guint16>(rgba.red * 65535),
                                                                           static_cast<guint16>(rgba.green * 65535),
                                                                           static_cast<guint16>(rgba.blue * 65535)));
        }
    }
    if (shared && shared->switcher)
        for (int i = 0; i < 4; i++)
            shared->switcher->colors[i] = tab_attrs[i];
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

// Calls f(view, session) for every session of `serv` shown now (the tab in
// front, and sessions in windows of their own).
template <typename F> void for_each_shown(server *serv, F f)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && is_front(s))
            f(*view_of(s), s);
    }
}

bool channel_is_live(session *sess)
{
    return sess->type == SESS_CHANNEL && sess->channel[0] && sess->server->connected;
}

void send_mode(session *sess, const std::string &mode)
{
    gchar_ptr cmd(g_strdup_printf("MODE %s %s", sess->channel, mode.c_str()));
    handle_command(sess, cmd.get(), false);
}

// Digits only, and at least one.
bool valid_limit(const char *text)
{
    if (!*text)
        return false;
    for (const char *p = text; *p; ++p)
        if (!g_ascii_isdigit(*p))
            return false;
    return true;
}

bool limit_checked(session_view &v)
{
    const char *text = gtk_entry_get_text(GTK_ENTRY(v.limit_entry));
    if (valid_limit(text))
        return true;
    gtk_entry_set_text(GTK_ENTRY(v.limit_entry), "");
    v.ignore_mode_toggles = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(v.mode_buttons[mode_button_index('l')]), FALSE);
    v.ignore_mode_toggles = false;
    fe_message(_("User limit must be a number!\n"), FE_MSG_ERROR);
    return false;
}

// --- signal handlers ------------------------------------------------------------

void on_mode_toggled(GtkToggleButton *button, gpointer data) noexcept
{
    guarded("mode button", [&] {
        const char letter = static_cast<char>(GPOINTER_TO_INT(data));
        session *sess = mg_session_of_widget(GTK_WIDGET(button));
        session_view *vp = view_of(sess);
        if (!vp || vp->ignore_mode_toggles || !channel_is_live(sess))
            return;
        session_view &v = *vp;
        const bool on = gtk_toggle_button_get_active(button);
        if (letter == 'b') {
            v.ignore_mode_toggles = true;
            gtk_toggle_button_set_active(button, FALSE);
            v.ignore_mode_toggles = false;
            banlist_opengui(sess);
            return;
        }
        if (letter == 'k') {
            send_mode(sess, std::string(on ? "+k " : "-k ") + gtk_entry_get_text(GTK_ENTRY(v.key_entry)));
            return;
        }
        if (letter == 'l') {
            if (!on) {
                send_mode(sess, "-l");
                return;
            }
            if (limit_checked(v))
                send_mode(sess, std::string("+l ") + gtk_entry_get_text(GTK_ENTRY(v.limit_entry)));
            return;
        }
        send_mode(sess, std::string(on ? "+" : "-") + letter);
    });
}

void on_key_activate(GtkEntry *entry, gpointer) noexcept
{
    guarded("key entry", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(entry));
        if (sess && channel_is_live(sess))
            send_mode(sess, std::string("+k ") + gtk_entry_get_text(entry));
    });
}

void on_limit_activate(GtkEntry *entry, gpointer) noexcept
{
    guarded("limit entry", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(entry));
        if (sess && channel_is_live(sess) && limit_checked(*view_of(sess)))
            send_mode(sess, std::string("+l ") + gtk_entry_get_text(entry));
    });
}

void on_topic_activate(GtkEntry *entry, gpointer) noexcept
{
    guarded("topic", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(entry));
        if (sess && channel_is_live(sess)) {
            const char *text = gtk_entry_get_text(entry);
            gchar_ptr cmd(*text ? g_strdup_printf("TOPIC %s :%s", sess->channel, text)
                                : g_strdup_printf("TOPIC %s", sess->channel));
            handle_command(sess, cmd.get(), false);
        } else {
            gtk_entry_set_text(entry, "");
        }
        if (session_view *v = view_of(sess))
            gtk_widget_grab_focus(v->input_entry);
    });
}

// A line typed while answering a message goes as a REPLY where the server
// takes the tag; elsewhere it goes normally after a notice. True when sent.
bool send_as_reply(session *sess, char *text)
{
    const reply_state *answering = tab_of(sess) ? reply_state_get(sess) : nullptr;
    if (!answering)
        return false;
    const char command_char = prefs.input_command_char[0] ? prefs.input_command_char[0] : '/';
    server *serv = sess->server;
    const bool allowed = client_tag_allowed(serv->cap_message_tags, serv->clienttagdeny, "reply");
    switch (reply_route_for(text, command_char, serv->connected, allowed)) {
    case reply_route::as_typed:
        return false;
    case reply_route::unsupported:
        mg_reply_set(sess, nullptr);
        PrintText(sess, _("Replies are not supported on this server. Sending normally.\n"));
        return false;
    case reply_route::reply:
        break;
    }
    std::string line = reply_command(command_char, answering->msgid, text);
    mg_reply_set(sess, nullptr);
    handle_multiline(sess, line.data(), TRUE, FALSE);
    return true;
}

void on_input_activate(GtkEntry *entry, gpointer) noexcept
{
    static bool busy = false;
    guarded("input", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(entry));
        if (busy || !sess)
            return;
        gchar_ptr text(g_strdup(gtk_entry_get_text(entry)));
        if (!*text)
            return;
        busy = true;
        gtk_entry_set_text(entry, "");
        busy = false;
        if (send_as_reply(sess, text.get()))
            return;
        // The command may close this tab: nothing of it is touched afterwards.
        handle_multiline(sess, text.get(), TRUE, FALSE);
    });
}

void on_word_click(GtkWidget *view, const char *word, GdkEventButton *event, gpointer) noexcept
{
    guarded("word click", [&] { menu_word_clicked(mg_session_of_widget(view), word, event); });
}

// The entry's own menu gets the formatting codes; the windows are in the menu bar.
void on_input_popup(GtkEntry *entry, GtkWidget *popup, gpointer) noexcept
{
    guarded("input popup", [&] {
        if (!GTK_IS_MENU(popup))
            return;
        session *sess = mg_session_of_widget(GTK_WIDGET(entry));
        if (!sess)
            sess = current_sess;
        GtkWidget *separator = gtk_separator_menu_item_new();
        gtk_menu_shell_append(GTK_MENU_SHELL(popup), separator);
        gtk_widget_show(separator);
        // A window of its own has no tab menu to go back with.
        if (sess && mg_is_detached(sess)) {
            GtkWidget *attach = gtk_menu_item_new_with_mnemonic(_("_Attach to Main Window"));
            g_signal_connect(attach, "activate", G_CALLBACK(+[](GtkMenuItem *, gpointer data) noexcept {
                                 guarded("attach", [data] {
                                     auto *s = static_cast<session *>(data);
                                     if (is_session(s))
                                         mg_detach(s, 2);
                                 });
                             }),
                             sess);
            gtk_menu_shell_append(GTK_MENU_SHELL(popup), attach);
            gtk_widget_show(attach);
        }
        mg_add_code_menus(GTK_MENU_SHELL(popup), GTK_EDITABLE(entry));
    });
}

void nick_chosen(int cancel, char *text, void *) noexcept
{
    guarded("nick button", [&] {
        if (cancel || !text || !*text || !is_session(current_sess))
            return;
        gchar_ptr cmd(g_strdup_printf("nick %s", text));
        handle_command(current_sess, cmd.get(), false);
    });
}

void on_nick_clicked(GtkButton *button, gpointer) noexcept
{
    guarded("nick button", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(button));
        if (!sess)
            return;
        make_current(sess);
        fe_get_str(const_cast<char *>(_("Enter new nickname:")), sess->server->nick, nick_chosen, nullptr);
    });
}

gboolean pulse_progress(gpointer data) noexcept
{
    guarded("progress bar", [&] {
        auto *v = static_cast<session_view *>(data);
        if (v->progress_bar)
            gtk_progress_bar_pulse(GTK_PROGRESS_BAR(v->progress_bar));
    });
    return G_SOURCE_CONTINUE;
}

gboolean on_delete(GtkWidget *, GdkEvent *, gpointer) noexcept
{
    guarded("window close", [] { mg_open_quit_dialog(true); });
    return TRUE;
}

gboolean on_focus_in(GtkWidget *window, GdkEvent *, gpointer) noexcept
{
    guarded("window focus", [&] {
        gtk_window_set_urgency_hint(GTK_WINDOW(window), FALSE);
        if (front && is_session(front)) {
            make_current(front);
            plugin_emit_dummy_print(front, "Focus Window");
        }
    });
    return FALSE;
}

// Keys pressed while the focus is outside the input line still switch and
// move tabs and run menu shortcuts; the input line runs all its bindings.
gboolean on_window_key(GtkWidget *window, GdkEventKey *event, gpointer) noexcept
{
    return guarded<gboolean>("window key", FALSE, [&]() -> gboolean {
        GtkWidget *focus = gtk_window_get_focus(GTK_WINDOW(window));
        if (!shared || focus == shared->input_entry)
            return FALSE;
        return key_handle_window_key(event);
    });
}

gboolean first_window_idle(gpointer) noexcept
{
    guarded("first window", [] {
        if (!shared || !shared->window)
            return;
        // Hiding to the tray needs a tray icon to come back from; until the
        // tray exists, level 2 iconifies like level 1.
        if (arg_minimize == 1 || arg_minimize == 2)
            gtk_window_iconify(GTK_WINDOW(shared->window));
    });
    return G_SOURCE_REMOVE;
}

void on_window_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("window destroy", [] {
        if (!shared)
            return;
        shared->window = nullptr;
        shared->progress_pulse.reset();
    });
}

// --- the switcher's callbacks ------------------------------------------------------

void switch_to(session *sess);

void tab_focused(chan *ch)
{
    if (ch->tag != 0) {
        if (shared)
            mg_generic_tab_focus(*shared, ch);
        return;
    }
    if (!is_session(static_cast<session *>(ch->userdata)))
        return;
    if (shared)
        mg_generic_tab_show_chat(*shared);
    switch_to(static_cast<session *>(ch->userdata));
}

void tab_close_requested(chan *ch)
{
    if (ch->tag == 0)
        mg_tab_close(static_cast<session *>(ch->userdata));
    else
        mg_generic_tab_close(ch);
}

void tab_menu_close(GtkMenuItem *, gpointer data) noexcept
{
    guarded("tab menu", [&] {
        auto *sess = static_cast<session *>(data);
        if (is_session(sess))
            mg_tab_close(sess);
    });
}

void tab_menu_detach(GtkMenuItem *, gpointer data) noexcept
{
    guarded("tab menu", [&] {
        auto *sess = static_cast<session *>(data);
        if (is_session(sess))
            mg_detach(sess, 1);
    });
}

// A per-channel option byte (0 off, 1 on, 2 unset: the global setting shows).
struct option_item {
    session *sess;
    unsigned char session::*field;
};

void on_option_toggled(GtkCheckMenuItem *item, gpointer data) noexcept
{
    guarded("tab option", [&] {
        auto *opt = static_cast<option_item *>(data);
        if (!is_session(opt->sess))
            return;
        opt->sess->*opt->field = gtk_check_menu_item_get_active(item) ? SET_ON : SET_OFF;
        chanopt_save(opt->sess);
    });
}

void add_option(GtkWidget *menu, session *sess, const char *label, unsigned char session::*field, int global)
{
    GtkWidget *item = gtk_check_menu_item_new_with_mnemonic(label);
    const unsigned char value = sess->*field;
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), value == SET_DEFAULT ? global != 0 : value == SET_ON);
    auto *opt = new option_item{sess, field};
    g_signal_connect_data(
        item, "toggled", G_CALLBACK(on_option_toggled), opt,
        [](gpointer d, GClosure *) { delete static_cast<option_item *>(d); }, GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

GtkWidget *submenu(GtkWidget *menu, const char *label)
{
    GtkWidget *item = gtk_menu_item_new_with_mnemonic(label);
    GtkWidget *sub = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return sub;
}

void tab_button(chan *ch, GdkEventButton *event)
{
    if (ch->tag != 0) {
        if (event->button == 2 && prefs.gui_tab_middleclose)
            mg_generic_tab_close(ch);
        return;
    }
    auto *sess = static_cast<session *>(ch->userdata);
    if (event->button == 2) {
        if (prefs.gui_tab_middleclose)
            mg_close_sess(sess);
        return;
    }
    GtkWidget *menu = gtk_menu_new();
    gchar_ptr escaped(g_markup_escape_text(ch->name.empty() ? _("<none>") : ch->name.c_str(), -1));
    gchar_ptr title(g_strdup_printf("<span foreground=\"#3344cc\"><b>%s</b></span>", escaped.get()));
    GtkWidget *head = gtk_menu_item_new_with_label("");
    gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(head))), title.get());
    gtk_widget_set_sensitive(head, FALSE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), head);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    if (sess->type != SESS_SERVER) {
        GtkWidget *alerts = submenu(menu, _("_Extra Alerts"));
        add_option(alerts, sess, _("Show Notifications"), &session::alert_balloon, prefs.input_balloon_chans);
        add_option(alerts, sess, _("Beep on _Message"), &session::alert_beep, prefs.input_beep_chans);
        add_option(alerts, sess, _("Blink Tray _Icon"), &session::alert_tray, prefs.input_tray_chans);
        add_option(alerts, sess, _("Blink Task _Bar"), &session::alert_taskbar, prefs.input_flash_chans);
    }
    GtkWidget *settings = submenu(menu, _("_Settings"));
    add_option(settings, sess, _("_Log to Disk"), &session::text_logging, prefs.irc_logging);
    add_option(settings, sess, _("_Reload Scrollback"), &session::text_scrollback, prefs.text_replay);
    if (sess->type == SESS_CHANNEL) {
        add_option(settings, sess, _("Strip _Colors"), &session::text_strip, prefs.text_stripcolor_msg);
        add_option(settings, sess, _("_Hide Join/Part Messages"), &session::text_hidejoinpart, prefs.irc_conf_mode);
    }
    GtkWidget *detach = gtk_menu_item_new_with_mnemonic(_("_Detach"));
    g_signal_connect(detach, "activate", G_CALLBACK(tab_menu_detach), sess);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), detach);
    GtkWidget *close = gtk_menu_item_new_with_mnemonic(_("_Close"));
    g_signal_connect(close, "activate", G_CALLBACK(tab_menu_close), sess);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), close);
    menu_add_tab_items(menu, sess);
    gtk_widget_show_all(menu);
    g_signal_connect(menu, "deactivate", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(menu), reinterpret_cast<GdkEvent *>(event));
}

// --- building -------------------------------------------------------------------------

GtkWidget *mode_button(session_view &v, char letter, const char *tip)
{
    const char text[2] = {letter, 0};
    GtkWidget *b = gtk_toggle_button_new_with_label(text);
    gtk_widget_set_tooltip_text(b, tip);
    gtk_widget_set_focus_on_click(b, FALSE);
    gtk_style_context_add_class(gtk_widget_get_style_context(b), "lumenwick-mode-control");
    g_signal_connect(b, "toggled", G_CALLBACK(on_mode_toggled), GINT_TO_POINTER(letter));
    gtk_box_pack_start(GTK_BOX(v.mode_box), b, FALSE, FALSE, 0);
    return b;
}

GtkWidget *small_entry(const char *accessible, int width)
{
    GtkWidget *e = gtk_entry_new();
    gtk_widget_set_name(e, "lumenwick-inputbox");
    gtk_entry_set_width_chars(GTK_ENTRY(e), width);
    auto *ctx = gtk_widget_get_style_context(e);
    gtk_style_context_add_class(ctx, "lumenwick-mode-control");
    gtk_style_context_add_class(ctx, "lumenwick-no-undershoot");
    mg_apply_emoji_font(e);
    atk_object_set_name(gtk_widget_get_accessible(e), accessible);
    return e;
}

void build_topic_bar(session_view &v)
{
    v.topic_bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    v.topic_entry = gtk_entry_new();
    gtk_widget_set_name(v.topic_entry, "lumenwick-topicbox");
    atk_object_set_name(gtk_widget_get_accessible(v.topic_entry), "topic");
    g_signal_connect(v.topic_entry, "activate", G_CALLBACK(on_topic_activate), nullptr);
    mg_topic_connect(v.topic_entry);
    gtk_box_pack_start(GTK_BOX(v.topic_bar), v.topic_entry, TRUE, TRUE, 0);

    v.mode_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    static const struct {
        char letter;
        const char *tip;
    } buttons[] = {{'c', N_("Filter Colors")}, {'n', N_("No outside messages")}, {'t', N_("Topic Protection")},
                   {'i', N_("Invite Only")},   {'m', N_("Moderated")},           {'l', N_("User Limit")},
                   {'k', N_("Keyword")}};
    for (const auto &b : buttons)
        v.mode_buttons[mode_button_index(b.letter)] = mode_button(v, b.letter, _(b.tip));
    GtkWidget *ban = mode_button(v, 'b', _("Ban List"));
    (void)ban;
    v.key_entry = small_entry("channel key", 6);
    g_signal_connect(v.key_entry, "activate", G_CALLBACK(on_key_activate), nullptr);
    v.limit_entry = small_entry("user limit", 4);
    g_signal_connect(v.limit_entry, "activate", G_CALLBACK(on_limit_activate), nullptr);
    gtk_box_pack_start(GTK_BOX(v.mode_box), v.key_entry, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(v.mode_box), v.limit_entry, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(v.topic_bar), v.mode_box, FALSE, FALSE, 0);
    gtk_widget_set_no_show_all(v.mode_box, TRUE);
}

void build_input_row(session_view &v)
{
    v.input_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    v.nick_button = gtk_button_new_with_label(prefs.irc_nick1);
    gtk_widget_set_name(v.nick_button, "lumenwick-nickname");
    gtk_button_set_relief(GTK_BUTTON(v.nick_button), GTK_RELIEF_NONE);
    gtk_widget_set_focus_on_click(v.nick_button, FALSE);
    atk_object_set_name(gtk_widget_get_accessible(v.nick_button), "nick");
    g_signal_connect(v.nick_button, "clicked", G_CALLBACK(on_nick_clicked), nullptr);
    v.input_entry = sexy_spell_entry_new();
    sexy_spell_entry_apply_prefs(SEXY_SPELL_ENTRY(v.input_entry));
    gtk_widget_set_name(v.input_entry, "lumenwick-inputbox");
    gtk_style_context_add_class(gtk_widget_get_style_context(v.input_entry), "lumenwick-no-undershoot");
    atk_object_set_name(gtk_widget_get_accessible(v.input_entry), "input");
    g_signal_connect(v.input_entry, "activate", G_CALLBACK(on_input_activate), nullptr);
    key_connect_entry(v.input_entry);
    g_signal_connect(v.input_entry, "populate-popup", G_CALLBACK(on_input_popup), nullptr);
    typing_connect(v.input_entry);
    gtkutil_entry_set_emoji_icon(v.input_entry);
    v.lag = make_meter("lumenwick-lagometer");
    v.throttle = make_meter("lumenwick-throttlemeter");
    gtk_box_pack_start(GTK_BOX(v.input_row), v.nick_button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(v.input_row), v.input_entry, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(v.input_row), v.throttle.box, FALSE, FALSE, 2);
    gtk_box_pack_end(GTK_BOX(v.input_row), v.lag.box, FALSE, FALSE, 2);
}

void build_shared_view()
{
    shared = std::make_unique<session_view>();
    session_view &v = *shared;
    v.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(v.window, "lumenwick-window");
    gtk_window_set_title(GTK_WINDOW(v.window), DISPLAY_NAME);
    gtk_window_set_default_size(GTK_WINDOW(v.window), prefs.gui_win_width, prefs.gui_win_height);
    if (prefs.gui_win_left || prefs.gui_win_top)
        gtk_window_move(GTK_WINDOW(v.window), prefs.gui_win_left, prefs.gui_win_top);
    if (prefs.gui_win_state)
        gtk_window_maximize(GTK_WINDOW(v.window));
    if (prefs.gui_win_fullscreen)
        gtk_window_fullscreen(GTK_WINDOW(v.window));

    v.grid = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(v.window), v.grid);
    gtk_box_pack_start(GTK_BOX(v.grid), menu_bar_new(v.window), FALSE, FALSE, 0);

    v.center = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    mg_build_chat(v);
    v.notebook = mg_generic_tab_notebook(v.chat);
    gtk_box_pack_start(GTK_BOX(v.center), v.notebook, TRUE, TRUE, 0);

    // Icons only as a full set: a tree where some rows have one looks broken.
    const bool tree_icons = pix_tree_server && pix_tree_channel && pix_tree_dialog && pix_tree_util;
    v.switcher = chanview_new(prefs.gui_tab_layout == 2, prefs.gui_tab_trunc, prefs.gui_tab_sort,
                              prefs.gui_tab_icons && tree_icons);
    rebuild_tab_colors();
    v.switcher->on_focus = tab_focused;
    v.switcher->on_close = tab_close_requested;
    v.switcher->on_button = tab_button;
    v.switcher->model.compare = [](chan *a, chan *b) {
        return mg_tab_compare(static_cast<session *>(a->userdata), static_cast<session *>(b->userdata));
    };
    layout_build(v);

    g_signal_connect(v.window, "delete-event", G_CALLBACK(on_delete), nullptr);
    g_signal_connect(v.window, "destroy", G_CALLBACK(on_window_destroy), nullptr);
    g_signal_connect(v.window, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
    g_signal_connect(v.window, "key-press-event", G_CALLBACK(on_window_key), nullptr);
    geometry_connect(v.window);
    gtk_widget_show_all(v.window);
}

// --- switching ---------------------------------------------------------------------------

void set_mode_button(session_view &v, int i, bool on)
{
    v.ignore_mode_toggles = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(v.mode_buttons[i]), on);
    v.ignore_mode_toggles = false;
}

void show_parts_for(session_view &v, session *sess)
{
    const bool buttons = prefs.gui_mode_buttons && sess->type != SESS_DIALOG;
    gtk_widget_set_visible(v.mode_box, buttons);
    if (buttons)
        gtk_widget_show_all(v.mode_box);
    // Each mode button only where the server knows the mode.
    const char *modes = sess->server->chanmodes;
    static const char letters[] = "cntimlk";
    for (int i = 0; i < MODE_BUTTONS; i++)
        gtk_widget_set_visible(v.mode_buttons[i], !modes || std::strchr(modes, letters[i]));
    gtk_editable_set_editable(GTK_EDITABLE(v.topic_entry), sess->type != SESS_DIALOG);
    buttons_show_for(v, sess);
    gtk_widget_set_visible(v.topic_bar, sess->type != SESS_SERVER && prefs.gui_topicbar);
    if (v.owner) // a window of its own: the list beside the text of a channel
        gtk_widget_set_visible(v.userlist_box, sess->type == SESS_CHANNEL && !prefs.gui_ulist_hide);
    else
        layout_show_userlist(v, userlist_wanted(sess->type, prefs.gui_ulist_hide, layout_current()));
}

void switch_to(session *sess)
{
    if (!shared || !is_session(sess) || view_of(sess) != shared.get())
        return;
    session_view &v = *shared;
    if (front && front != sess && is_session(front)) {
        // The leaving tab keeps its half-typed line.
        tab_state *old = tab_of(front);
        const char *text = gtk_entry_get_text(GTK_ENTRY(v.input_entry));
        if (old && *text)
            old->saved.input = text;
    }
    front = sess;
    make_current(sess);
    mg_show_session(v, sess);
    tab_state *t = tab_of(sess);
    if (t->tab && sess->has_new_data + sess->has_new_message + sess->has_highlight)
        mg_set_tab_color(sess, 0);
    if (t->tab && v.switcher->model.focused != t->tab)
        chan_focus(t->tab);
    gtk_widget_grab_focus(v.input_entry);
    plugin_emit_dummy_print(sess, "Focus Tab");
}

} // namespace

void mg_show_session(session_view &v, session *sess)
{
    tab_state *t = tab_of(sess);
    show_parts_for(v, sess);
    gtk_xtext_buffer_show(GTK_XTEXT(v.text_view), t->buffer, true);

    tab_saved saved = std::move(t->saved);
    t->saved = tab_saved{};
    gchar_ptr topic(strip_color(sess->topic ? sess->topic : "", -1, STRIP_ALL));
    const char *topic_text = saved.topic ? saved.topic->c_str() : topic.get();
    gtk_entry_set_text(GTK_ENTRY(v.topic_entry), topic_text);
    gtk_widget_set_tooltip_text(v.topic_entry, *topic_text ? topic_text : nullptr);
    gtk_entry_set_text(GTK_ENTRY(v.input_entry), saved.input ? saved.input->c_str() : "");
    gtk_editable_set_position(GTK_EDITABLE(v.input_entry), -1);
    gtk_entry_set_text(GTK_ENTRY(v.key_entry), saved.key ? saved.key->c_str() : sess->key);
    gchar_ptr limit(sess->user_limit > 0 ? g_strdup_printf("%d", sess->user_limit) : g_strdup(""));
    gtk_entry_set_text(GTK_ENTRY(v.limit_entry), saved.limit ? saved.limit->c_str() : limit.get());
    if (saved.lag)
        show_meter(v.lag, *saved.lag);
    if (saved.throttle)
        show_meter(v.throttle, *saved.throttle);
    else
        show_meter(v.throttle, throttle_meter(sess->server->queued_bytes));
    for (int i = 0; i < MODE_BUTTONS; i++)
        set_mode_button(v, i, t->mode_states[i]);

    v.progress_pulse.reset();
    if (v.progress_bar)
        gtk_widget_destroy(std::exchange(v.progress_bar, nullptr));
    if (saved.want_progress || t->progress)
        fe_progressbar_start(sess);

    mg_set_title(sess);
    gtk_button_set_label(GTK_BUTTON(v.nick_button), sess->server->nick[0] ? sess->server->nick : prefs.irc_nick1);
    fe_set_away(sess->server);
    userlist_show(sess);
    mg_reply_update(sess);
}

void mg_build_chat(session_view &v)
{
    v.chat = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    build_topic_bar(v);
    gtk_box_pack_start(GTK_BOX(v.chat), v.topic_bar, FALSE, FALSE, 0);
    v.text_scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(v.text_scroll), GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
    v.text_view = gtk_xtext_new(nullptr, prefs.text_indent && prefs.text_show_sep);
    gtk_widget_set_name(v.text_view, "lumenwick-textview");
    atk_object_set_name(gtk_widget_get_accessible(v.text_view), "conversation");
    // Links, addresses, channels and nicks under the pointer are underlined.
    gtk_xtext_set_urlcheck_function(GTK_XTEXT(v.text_view),
                                    [](GtkWidget *, const char *word) { return url_check_word(word); });
    g_signal_connect(v.text_view, "word_click", G_CALLBACK(on_word_click), nullptr);
    apply_text_settings(v);
    if (!gtk_xtext_set_font(GTK_XTEXT(v.text_view), text_font_name())) {
        fe_message(_("Failed to open any font. I'm out of here!"), FE_MSG_WAIT | FE_MSG_ERROR);
        exit(1);
    }
    gtk_container_add(GTK_CONTAINER(v.text_scroll), v.text_view);
    gtk_box_pack_start(GTK_BOX(v.chat), v.text_scroll, TRUE, TRUE, 0);
    // The search bar acts on the main window's tab in front: only the main
    // window has one.
    if (!v.owner)
        searchbar_create(v);
    reply_build(v);
    gtk_box_pack_start(GTK_BOX(v.chat), v.reply_bar, FALSE, FALSE, 0);
    build_input_row(v);
    gtk_box_pack_start(GTK_BOX(v.chat), v.input_row, FALSE, FALSE, 2);

    userlist_create(v);
    buttons_build(v);
    apply_meter_visibility(v.lag, prefs.gui_lagometer);
    apply_meter_visibility(v.throttle, prefs.gui_throttlemeter);
}

// --- lookups ---------------------------------------------------------------------------------

session_view *view_of(session *sess) noexcept
{
    return sess ? static_cast<session_view *>(sess->view) : nullptr;
}

tab_state *tab_of(session *sess) noexcept
{
    return sess ? static_cast<tab_state *>(sess->tab_state) : nullptr;
}

bool is_front(session *sess) noexcept
{
    if (!sess)
        return false;
    if (sess == front)
        return true;
    session_view *v = view_of(sess);
    return v && v->owner == sess;
}

session *mg_session_of_widget(GtkWidget *widget) noexcept
{
    if (!widget)
        return nullptr;
    GtkWidget *top = gtk_widget_get_toplevel(widget);
    if (shared && top == shared->window)
        return front;
    auto *v = static_cast<session_view *>(g_object_get_data(G_OBJECT(top), "lumenwick-session-view"));
    return v ? v->owner : nullptr;
}

session *mg_front_session(void) noexcept
{
    return front;
}

GtkWindow *session_window(session *sess) noexcept
{
    session_view *v = view_of(sess);
    return v && v->window ? GTK_WINDOW(v->window) : nullptr;
}

GtkWindow *main_window(void) noexcept
{
    return shared && shared->window ? GTK_WINDOW(shared->window) : nullptr;
}

session_view *mg_shared_view(void) noexcept
{
    return shared.get();
}

int mg_tab_compare(session *a, session *b)
{
    const auto rank = [](session *s) { return s->type == SESS_SERVER ? 0 : s->type == SESS_CHANNEL ? 1 : 2; };
    if (rank(a) != rank(b))
        return rank(a) - rank(b);
    return g_ascii_strcasecmp(a->channel, b->channel);
}

void sessionwin_apply_font(void) noexcept
{
    GdkScreen *screen = gdk_screen_get_default();
    if (!screen)
        return;
    if (!css_provider) {
        css_provider = take_ref(gtk_css_provider_new());
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css_provider.get()),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    if (shared && shared->text_view)
        gtk_xtext_set_font(GTK_XTEXT(shared->text_view), text_font_name());
    static const char css[] = "#lumenwick-lagometer trough, #lumenwick-throttlemeter trough { min-width: 48px; }\n"
                              ".lumenwick-mode-control { min-height: 11px; padding-top: 0; padding-bottom: 0; }"
                              ".lumenwick-mode-control label { padding-top: 0; padding-bottom: 0; }\n"
                              ".lumenwick-no-undershoot undershoot.top, .lumenwick-no-undershoot undershoot.bottom,"
                              ".lumenwick-no-undershoot undershoot.left, .lumenwick-no-undershoot undershoot.right"
                              " { background: none; }\n"
                              "#lumenwick-tab { min-height: 14px; padding: 1px 4px; }\n"
                              "#lumenwick-tab-close { min-height: 0; min-width: 0; padding: 0; }\n";
    gtk_css_provider_load_from_data(css_provider.get(), css, -1, nullptr);
}

void sessionwin_apply_settings(session *sess)
{
    if (mg_is_detached(sess) && view_of(sess)->window) {
        session_view &v = *view_of(sess);
        apply_meter_visibility(v.lag, prefs.gui_lagometer);
        apply_meter_visibility(v.throttle, prefs.gui_throttlemeter);
        apply_text_settings(v);
        gtk_xtext_set_font(GTK_XTEXT(v.text_view), text_font_name());
        show_parts_for(v, sess);
        mg_set_title(sess);
        return;
    }
    if (!shared || !shared->window || sess != front)
        return;
    apply_meter_visibility(shared->lag, prefs.gui_lagometer);
    apply_meter_visibility(shared->throttle, prefs.gui_throttlemeter);
    apply_text_settings(*shared);
    sexy_spell_entry_apply_prefs(SEXY_SPELL_ENTRY(shared->input_entry));
    gtk_xtext_set_font(GTK_XTEXT(shared->text_view), text_font_name());
    rebuild_tab_colors();
    layout_apply(*shared);
    show_parts_for(*shared, sess);
    mg_set_title(sess);
}

void mg_apply_setup(void)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (tab_state *t = tab_of(s))
            gtk_xtext_set_time_stamp(t->buffer, prefs.stamp_text);
    }
    for (GSList *l = sess_list; l; l = l->next)
        sessionwin_apply_settings(static_cast<session *>(l->data));
}

// --- tabs --------------------------------------------------------------------------------------

void mg_bring_tofront_sess(session *sess)
{
    if (mg_is_detached(sess)) {
        if (GtkWidget *window = view_of(sess)->window)
            gtk_window_present(GTK_WINDOW(window));
        return;
    }
    tab_state *t = tab_of(sess);
    if (t && t->tab)
        chan_focus(t->tab);
}

void mg_switch_page(bool relative, int number)
{
    if (shared && shared->switcher)
        chanview_move_focus(shared->switcher, relative, number);
}

void mg_set_title(session *sess)
{
    session_view *v = is_front(sess) ? view_of(sess) : nullptr;
    if (!v || !v->window)
        return;
    gtk_window_set_title(GTK_WINDOW(v->window), window_title(title_fields_of(*sess)).c_str());
}

void mg_set_tab_color(session *sess, int level)
{
    tab_state *t = tab_of(sess);
    if (!t || !t->tab)
        return;
    activity_flags now{static_cast<bool>(sess->has_new_data), static_cast<bool>(sess->has_new_message),
                       static_cast<bool>(sess->has_highlight)};
    const auto next = activity_after(now, level, is_front(sess));
    if (!next)
        return;
    sess->has_new_data = next->new_data;
    sess->has_new_message = next->new_message;
    sess->has_highlight = next->highlight;
    const int shown = next->level();
    if (shown != t->shown_activity || t->tab->color != shown) {
        chan_set_color(t->tab, shown);
        t->shown_activity = shown;
    }
    // A collapsed server row shows the strongest activity of its children.
    if (shown > 0 && chan_is_collapsed(t->tab)) {
        if (chan *parent = chan_get_parent(t->tab)) {
            auto *server_sess = static_cast<session *>(parent->userdata);
            if (!is_front(server_sess) && parent->color < shown)
                mg_set_tab_color(server_sess, shown);
        }
    }
    lastact_update(sess);
}

namespace
{
struct close_all_request {
    server *serv;
    session *sess;
};

void close_all_answer(GtkDialog *dialog, int response, gpointer data) noexcept
{
    guarded("close server tabs", [&] {
        std::unique_ptr<close_all_request> req(static_cast<close_all_request *>(data));
        gtk_widget_destroy(GTK_WIDGET(dialog));
        if (response != GTK_RESPONSE_OK || !is_session(req->sess))
            return;
        server *serv = req->serv;
        for (GSList *l = sess_list; l;) {
            auto *s = static_cast<session *>(l->data);
            l = l->next;
            if (s->server == serv && s != req->sess)
                session_free(s);
        }
        if (is_session(req->sess))
            session_free(req->sess);
    });
}
} // namespace

void mg_tab_close(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t || !t->tab)
        return;
    if (!t->tab->children.empty()) {
        int count = 0;
        for (GSList *l = sess_list; l; l = l->next) {
            auto *s = static_cast<session *>(l->data);
            if (s->server == sess->server && (s->type == SESS_CHANNEL || s->type == SESS_DIALOG))
                count++;
        }
        GtkWidget *dialog = gtk_message_dialog_new(
            main_window(), GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_WARNING, GTK_BUTTONS_OK_CANCEL,
            _("This server still has %d channels or dialogs associated with it. Close them all?"), count);
        gtk_window_set_position(GTK_WINDOW(dialog),
                                prefs.gui_tab_layout == 2 ? GTK_WIN_POS_MOUSE : GTK_WIN_POS_CENTER_ON_PARENT);
        auto *req = new close_all_request{sess->server, sess};
        g_signal_connect(dialog, "response", G_CALLBACK(close_all_answer), req);
        gtk_widget_show_all(dialog);
        return;
    }
    if (sess->type == SESS_CHANNEL && sess->channel[0])
        closed_list.push(sess->server->id, sess->channel, sess->key);
    session_free(sess);
}

void mg_close_sess(session *sess)
{
    if (sess_list && !sess_list->next)
        mg_open_quit_dialog(false);
    else
        mg_tab_close(sess);
}

void mg_reopen_closed_channel_tab(void)
{
    const auto rec = closed_list.pop();
    if (!rec || rec->channel.empty())
        return;
    server *serv = nullptr;
    for (GSList *l = serv_list; l; l = l->next)
        if (static_cast<server *>(l->data)->id == rec->server_id)
            serv = static_cast<server *>(l->data);
    if (!serv || !serv->connected)
        return;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server == serv && s->type == SESS_CHANNEL && !serv->p_cmp(s->channel, rec->channel.c_str())) {
            mg_bring_tofront_sess(s);
            return;
        }
    }
    session *sess = new_ircwindow(serv, rec->channel.c_str(), SESS_CHANNEL, 1);
    serv->p_join(serv, rec->channel.c_str(), rec->key.c_str());
    (void)sess;
}

void mg_change_layout(int type)
{
    if (!shared || !shared->switcher)
        return;
    if (type == 0 && prefs.gui_tab_pos != 5 && prefs.gui_tab_pos != 6)
        prefs.gui_tab_pos = 6;
    prefs.gui_tab_layout = type;
    chanview_set_impl(shared->switcher, type);
    layout_apply(*shared);
}

// --- sessions and windows ----------------------------------------------------------------------

namespace
{
// Builds the main window when it is not there; true when it was built now.
bool ensure_shared_view()
{
    if (shared && shared->window)
        return false;
    if (shared && shared->switcher)
        chanview_free(shared->switcher);
    build_shared_view();
    return true;
}

void add_tab(session *sess, bool to_front)
{
    tab_state *t = tab_of(sess);
    t->tab = chanview_add(shared->switcher, sess->channel[0] ? sess->channel : _("<none>"), sess->server, sess,
                          sess->type == SESS_SERVER, 0, tree_icon_of(sess));
    if (to_front)
        chan_focus(t->tab);
}

// The main window goes with its last tab (sessions in windows of their own
// do not keep it).
void close_main_window_unless_tabs(session *except)
{
    if (!shared || !shared->window)
        return;
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s != except && tab_of(s) && view_of(s) == shared.get())
            return;
    }
    GtkWidget *window = std::exchange(shared->window, nullptr);
    layout_release(*shared);
    chanview_free(std::exchange(shared->switcher, nullptr));
    gtk_widget_destroy(window);
    front = nullptr;
}
} // namespace

void fe_new_window(session *sess, int focus)
{
    auto *t = new tab_state;
    sess->tab_state = t;
    if (!sess->server->recent_session)
        sess->server->recent_session = sess;
    sess->on_replay_done = [](session *s) {
        if (tab_state *ts = tab_of(s))
            gtk_xtext_set_marker_last(ts->buffer);
    };
    userlist_create_model(sess);
    const bool own_window =
        (sess->type == SESS_CHANNEL && !prefs.gui_tab_chans) || (sess->type == SESS_DIALOG && !prefs.gui_tab_dialogs);
    if (own_window) {
        mg_new_detached(sess);
        gtk_xtext_set_time_stamp(t->buffer, prefs.stamp_text);
        return;
    }
    const bool created = ensure_shared_view();
    sess->view = shared.get();
    t->buffer = gtk_xtext_buffer_new(GTK_XTEXT(shared->text_view));
    gtk_xtext_set_time_stamp(t->buffer, prefs.stamp_text);
    add_tab(sess, created || !front || prefs.gui_tab_newtofront == 1 || (prefs.gui_tab_newtofront == 2 && focus));
    if (!first_window_done) {
        first_window_done = true;
        g_idle_add(first_window_idle, nullptr);
    }
}

void mg_untab(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t || !t->tab || !shared)
        return;
    // Removing the focused tab focuses its neighbour, which shows it.
    if (shared->switcher)
        chan_remove(t->tab, true);
    t->tab = nullptr;
    if (front == sess) {
        front = nullptr;
        if (shared->userlist)
            gtk_tree_view_set_model(GTK_TREE_VIEW(shared->userlist), nullptr);
    }
    close_main_window_unless_tabs(sess);
}

void mg_retab(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t)
        return;
    ensure_shared_view();
    gtk_xtext_buffer_move(t->buffer, GTK_XTEXT(shared->text_view));
    sess->view = shared.get();
    add_tab(sess, true);
}

void fe_new_server(server *serv)
{
    serv->fe_record = g_new0(server_gui, 1);
}

void fe_session_callback(session *sess)
{
    banlist_session_gone(sess);
    if (!tab_of(sess))
        return;
    // Its own window goes first; the buffer keeps the text view alive.
    if (mg_is_detached(sess))
        mg_detached_free(sess);
    std::unique_ptr<tab_state> t(tab_of(sess));
    if (front == sess)
        front = nullptr;
    if (t->typing_timer)
        g_source_remove(std::exchange(t->typing_timer, 0u));
    userlist_free_model(sess);
    sess->tab_state = nullptr;
    sess->view = nullptr;
    if (shared && shared->switcher && t->tab) {
        // Removing the focused tab focuses its neighbour, which shows it.
        sess->tab_state = t.get();
        chan_remove(t->tab, true);
        sess->tab_state = nullptr;
    }
    if (shared && shared->text_view && gtk_xtext_buffer_shown(GTK_XTEXT(shared->text_view)) == t->buffer)
        gtk_xtext_buffer_show(GTK_XTEXT(shared->text_view), nullptr, false);
    gtk_xtext_buffer_free(std::exchange(t->buffer, nullptr));
    if (front == sess)
        front = nullptr;

    close_main_window_unless_tabs(sess);
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
    session_free(sess);
}

void fe_set_title(session *sess)
{
    mg_set_title(sess);
}

void fe_set_channel(session *sess)
{
    tab_state *t = tab_of(sess);
    if (t && t->tab)
        chan_rename(t->tab, sess->channel[0] ? sess->channel : _("<none>"), prefs.gui_tab_trunc);
}

void fe_set_nonchannel(session *, int) {}

void fe_clear_channel(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t)
        return;
    if (t->tab) {
        if (sess->rejoin_channel[0]) {
            gchar_ptr name(g_strdup_printf("(%s)", sess->rejoin_channel));
            chan_rename(t->tab, name.get(), prefs.gui_tab_trunc);
        } else {
            chan_rename(t->tab, _("<none>"), prefs.gui_tab_trunc);
        }
    }
    if (is_front(sess)) {
        gtk_entry_set_text(GTK_ENTRY(view_of(sess)->topic_entry), "");
        gtk_widget_set_tooltip_text(view_of(sess)->topic_entry, nullptr);
    } else {
        t->saved.topic = std::string();
    }
}

void fe_set_topic(session *sess, char *topic, char *stripped_topic)
{
    tab_state *t = tab_of(sess);
    if (!t)
        return;
    const char *chosen = prefs.text_stripcolor_topic ? stripped_topic : topic;
    // The entry cannot draw IRC formatting, so codes are removed either way.
    gchar_ptr shown(strip_color(chosen ? chosen : "", -1, STRIP_ALL));
    if (!is_front(sess)) {
        t->saved.topic = shown.get();
        return;
    }
    gtk_entry_set_text(GTK_ENTRY(view_of(sess)->topic_entry), shown.get());
    gtk_widget_set_tooltip_text(view_of(sess)->topic_entry, *shown ? shown.get() : nullptr);
}

namespace
{
void show_away(session_view &v, server *serv)
{
    GtkWidget *label = gtk_bin_get_child(GTK_BIN(v.nick_button));
    if (!GTK_IS_LABEL(label))
        return;
    PangoAttrList *attrs = pango_attr_list_new();
    theme_color c;
    if (serv->away && theme_get_legacy_color(AWAY_COLOR_ENTRY, &c)) {
        const GdkRGBA rgba = theme_to_gdk(c);
        pango_attr_list_insert(attrs, pango_attr_foreground_new(static_cast<guint16>(rgba.red * 65535),
                                                                static_cast<guint16>(rgba.green * 65535),
                                                                static_cast<guint16>(rgba.blue * 65535)));
    }
    gtk_label_set_attributes(GTK_LABEL(label), attrs);
    pango_attr_list_unref(attrs);
}
} // namespace

void fe_set_nick(server *serv, char *newnick)
{
    for_each_shown(serv, [&](session_view &v, session *) { gtk_button_set_label(GTK_BUTTON(v.nick_button), newnick); });
}

void fe_set_away(server *serv)
{
    for_each_shown(serv, [&](session_view &v, session *) { show_away(v, serv); });
}

void fe_update_channel_key(session *sess)
{
    if (tab_state *t = tab_of(sess)) {
        if (is_front(sess))
            gtk_entry_set_text(GTK_ENTRY(view_of(sess)->key_entry), sess->key);
        else
            t->saved.key = sess->key;
    }
    fe_set_title(sess);
}

void fe_update_channel_limit(session *sess)
{
    if (tab_state *t = tab_of(sess)) {
        gchar_ptr text(g_strdup_printf("%d", sess->user_limit));
        if (is_front(sess))
            gtk_entry_set_text(GTK_ENTRY(view_of(sess)->limit_entry), text.get());
        else
            t->saved.limit = text.get();
    }
    fe_set_title(sess);
}

void fe_update_mode_buttons(session *sess, char mode, char sign)
{
    tab_state *t = tab_of(sess);
    const int i = mode_button_index(mode);
    if (!t || i < 0)
        return;
    t->mode_states[i] = sign == '+';
    if (is_front(sess))
        set_mode_button(*view_of(sess), i, sign == '+');
}

void fe_progressbar_start(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t)
        return;
    t->progress = true;
    if (!is_front(sess)) {
        t->saved.want_progress = true;
        return;
    }
    session_view &v = *view_of(sess);
    if (v.progress_bar)
        return;
    v.progress_bar = gtk_progress_bar_new();
    gtk_widget_set_name(v.progress_bar, "lumenwick-progressbar");
    gtk_widget_set_valign(v.progress_bar, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(v.input_row), v.progress_bar, FALSE, FALSE, 2);
    gtk_widget_show(v.progress_bar);
    v.progress_pulse.reset(g_timeout_add(PROGRESS_PULSE_MS, pulse_progress, &v));
}

void fe_progressbar_end(server *serv)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->server != serv)
            continue;
        if (tab_state *t = tab_of(s)) {
            t->progress = false;
            t->saved.want_progress = false;
        }
    }
    for_each_shown(serv, [](session_view &v, session *) {
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
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        tab_state *t = s->server == serv ? tab_of(s) : nullptr;
        if (!t)
            continue;
        t->lag_tooltip = meter->tooltip;
        if (is_front(s))
            show_meter(view_of(s)->lag, *meter);
        else
            t->saved.lag = *meter;
    }
}

void fe_set_throttle(server *serv)
{
    const meter_text meter = throttle_meter(serv->queued_bytes);
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        tab_state *t = s->server == serv ? tab_of(s) : nullptr;
        if (!t)
            continue;
        t->throttle_tooltip = meter.tooltip;
        if (is_front(s))
            show_meter(view_of(s)->throttle, meter);
        else
            t->saved.throttle = meter;
    }
}

// --- text output ----------------------------------------------------------------------------

void fe_print_text(session *sess, char *text, time_t stamp, gboolean no_activity)
{
    tab_state *t = tab_of(sess);
    if (!t || !text || !t->buffer)
        return;
    // Invalid UTF-8 would upset Pango; the stored line stays readable.
    gchar_ptr valid(g_utf8_validate(text, -1, nullptr) ? nullptr : g_utf8_make_valid(text, -1));
    gtk_xtext_print(t->buffer, valid ? valid.get() : text, prefs.text_indent, stamp);
    if (no_activity || !t->tab)
        return;
    // The tab in front needs no colour; most lines land there in a flood.
    if (is_front(sess)) {
        if (t->shown_activity)
            mg_set_tab_color(sess, 0);
        return;
    }
    const int level = sess->has_highlight ? 3 : sess->has_new_message ? 2 : 1;
    if (level != t->shown_activity)
        mg_set_tab_color(sess, level);
}

void fe_text_clear(session *sess, int lines)
{
    tab_state *t = tab_of(sess);
    if (t && t->buffer)
        gtk_xtext_clear(t->buffer, lines);
}

void fe_lastlog(session *sess, session *lastlog_sess, char *sstr, int flags)
{
    tab_state *from = tab_of(sess);
    tab_state *to = tab_of(lastlog_sess);
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

// --- input box -----------------------------------------------------------------------------

const char *fe_get_inputbox_contents(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t)
        return "";
    if (t->saved.input)
        return t->saved.input->c_str();
    return is_front(sess) ? gtk_entry_get_text(GTK_ENTRY(view_of(sess)->input_entry)) : "";
}

int fe_get_inputbox_cursor(session *sess)
{
    tab_state *t = tab_of(sess);
    if (!t || t->saved.input || !is_front(sess))
        return 0;
    return gtk_editable_get_position(GTK_EDITABLE(view_of(sess)->input_entry));
}

void fe_set_inputbox_contents(session *sess, char *text)
{
    tab_state *t = tab_of(sess);
    if (!t)
        return;
    if (is_front(sess))
        gtk_entry_set_text(GTK_ENTRY(view_of(sess)->input_entry), text ? text : "");
    else
        t->saved.input = text ? text : "";
}

void fe_set_inputbox_cursor(session *sess, int delta, int pos)
{
    if (!is_front(sess))
        return;
    GtkEditable *entry = GTK_EDITABLE(view_of(sess)->input_entry);
    if (delta)
        pos += gtk_editable_get_position(entry);
    gtk_editable_set_position(entry, pos);
}
