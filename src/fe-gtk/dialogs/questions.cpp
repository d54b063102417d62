// The questions the core asks the user: a text, a password, a number, yes or
// no, and confirmations. Every answer reaches the core from a response
// handler, i.e. from the main loop after the asking function has returned.
#include "base/lumenwick.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "support/dialog-helpers.h"
#include "support/gtk-handles.h"

#include <gtk/gtk.h>

#include <cstring>

namespace
{

// Largest value fe_get_int offers.
constexpr int GET_INT_MAX = 1024;

// --- text and password ---------------------------------------------------------

struct str_question {
    fe_str_callback callback;
    void *user_data;
    GtkWidget *entry;
    bool secret;
};

void on_str_response(GtkDialog *dialog, gint response, gpointer data) noexcept
{
    auto *q = static_cast<str_question *>(data);
    guarded("text question", [&] {
        gchar_ptr text(g_strdup(gtk_entry_get_text(GTK_ENTRY(q->entry))));
        if (q->secret)
            gtk_entry_set_text(GTK_ENTRY(q->entry), "");
        q->callback(response != GTK_RESPONSE_OK, text.get(), q->user_data);
        // Passwords do not linger in freed memory.
        if (q->secret)
            memset(text.get(), 0, std::strlen(text.get()));
    });
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

void ask_string(const char *prompt, const char *initial, bool secret, fe_str_callback callback, void *user_data)
{
    GtkWidget *dialog = question_dialog(main_window(), prompt, _("_Cancel"), _("_OK"));
    GtkWidget *entry = gtk_entry_new();
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    if (secret) {
        gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
        gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_PASSWORD);
    } else if (initial) {
        gtk_entry_set_text(GTK_ENTRY(entry), initial);
    }
    add_content(dialog, entry);
    connect_response(dialog, new str_question{callback, user_data, entry, secret}, on_str_response);
    gtk_widget_show_all(dialog);
}

// --- number ----------------------------------------------------------------------------

struct int_question {
    fe_int_callback callback;
    void *user_data;
    GtkWidget *spin;
};

void on_int_response(GtkDialog *dialog, gint response, gpointer data) noexcept
{
    auto *q = static_cast<int_question *>(data);
    guarded("number question", [&] {
        // Closing the window counts as Cancel, so the caller always hears back.
        const int value = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(q->spin));
        q->callback(response != GTK_RESPONSE_OK, value, q->user_data);
    });
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

// --- yes or no ---------------------------------------------------------------------------

struct bool_question {
    fe_bool_callback callback;
    void *user_data;
};

void on_bool_response(GtkDialog *dialog, gint response, gpointer data) noexcept
{
    auto *q = static_cast<bool_question *>(data);
    guarded("yes/no question", [&] { q->callback(response == GTK_RESPONSE_OK, q->user_data); });
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

struct confirm_question {
    fe_confirm_callback accept;
    fe_confirm_callback abort;
    void *user_data;
};

void on_confirm_response(GtkDialog *dialog, gint response, gpointer data) noexcept
{
    auto *q = static_cast<confirm_question *>(data);
    guarded("confirmation", [&] {
        fe_confirm_callback chosen = response == GTK_RESPONSE_OK ? q->accept : q->abort;
        if (chosen)
            chosen(q->user_data);
    });
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

} // namespace

void fe_get_str(char *prompt, char *def, fe_str_callback callback, void *user_data)
{
    ask_string(prompt, def, false, callback, user_data);
}

void fe_get_password(char *prompt, fe_str_callback callback, void *user_data)
{
    ask_string(prompt, nullptr, true, callback, user_data);
}

void fe_get_int(char *prompt, int def, fe_int_callback callback, void *user_data)
{
    GtkWidget *dialog = question_dialog(main_window(), prompt, _("_Cancel"), _("_OK"));
    GtkWidget *spin = gtk_spin_button_new_with_range(0, GET_INT_MAX, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), def);
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
    add_content(dialog, spin);
    connect_response(dialog, new int_question{callback, user_data, spin}, on_int_response);
    gtk_widget_show_all(dialog);
}

void fe_get_bool(char *title, char *prompt, fe_bool_callback callback, void *user_data)
{
    GtkWidget *dialog = question_dialog(main_window(), title, _("_No"), _("_Yes"));
    add_content(dialog, gtk_label_new(prompt));
    connect_response(dialog, new bool_question{callback, user_data}, on_bool_response);
    gtk_widget_show_all(dialog);
}

// The accept and abort callbacks carry no path, and the core uses this for
// chat offers as well as file offers, so it asks the question as such.
void fe_confirm(const char *message, fe_confirm_callback yesproc, fe_confirm_callback noproc, void *user_data)
{
    GtkWidget *dialog = question_dialog(main_window(), DISPLAY_NAME, _("_No"), _("_Yes"));
    GtkWidget *label = gtk_label_new(message);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    add_content(dialog, label);
    connect_response(dialog, new confirm_question{yesproc, noproc, user_data}, on_confirm_response);
    gtk_widget_show_all(dialog);
}
