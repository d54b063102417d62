// The reply bar above the input line: while a message is being answered it
// names the author and quotes the text; its close button stops replying.
#include "mainwin/reply.h"

#include "irc/inbound.h"

#include "mainwin/maingui.h"

#include "base/guard.h"
#include "base/lumenwick.h"
#include "session/session.h"

namespace
{

void on_close(GtkButton *button, gpointer) noexcept
{
    guarded("reply bar", [&] {
        session *sess = mg_session_of_widget(GTK_WIDGET(button));
        if (sess && is_session(sess))
            mg_reply_set(sess, nullptr);
    });
}

} // namespace

void reply_build(session_view &v)
{
    v.reply_bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_widget_set_name(v.reply_bar, "lumenwick-replybar");
    v.reply_label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(v.reply_label), 0);
    gtk_label_set_ellipsize(GTK_LABEL(v.reply_label), PANGO_ELLIPSIZE_END);
    GtkWidget *close = gtk_button_new_from_icon_name("window-close-symbolic", GTK_ICON_SIZE_MENU);
    gtk_button_set_relief(GTK_BUTTON(close), GTK_RELIEF_NONE);
    gtk_widget_set_tooltip_text(close, _("Cancel reply"));
    atk_object_set_name(gtk_widget_get_accessible(close), "cancel reply");
    g_signal_connect(close, "clicked", G_CALLBACK(on_close), nullptr);
    gtk_box_pack_start(GTK_BOX(v.reply_bar), v.reply_label, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(v.reply_bar), close, FALSE, FALSE, 0);
    gtk_widget_show_all(v.reply_bar);
    gtk_widget_set_no_show_all(v.reply_bar, TRUE);
    gtk_widget_hide(v.reply_bar);
}

// The message being answered is the core's reply state of the session (the
// nick menu's "Reply" sets it too); the bar only shows it.
void mg_reply_update(session *sess)
{
    session_view *v = is_front(sess) ? view_of(sess) : nullptr;
    if (!tab_of(sess) || !v || !v->reply_bar)
        return;
    const reply_state *r = reply_state_get(sess);
    if (!r) {
        gtk_widget_hide(v->reply_bar);
        return;
    }
    gtk_label_set_markup(GTK_LABEL(v->reply_label), reply_bar_markup({r->msgid, r->nick, r->text}).c_str());
    gtk_widget_show(v->reply_bar);
}

void mg_reply_set(session *sess, const reply_target *target)
{
    if (!tab_of(sess))
        return;
    if (target)
        reply_state_set(sess, target->msgid.c_str(), target->nick.c_str(), nullptr, target->text.c_str());
    else
        reply_state_clear(sess);
    mg_reply_update(sess);
}
