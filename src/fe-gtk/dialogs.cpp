// Message boxes, the questions the core asks the user, file choosers and the
// stand-in network list. Every answer reaches the core from a response
// handler, i.e. from the main loop after the asking function has returned.
#include "dialogs.h"

#include "config/cfgfiles.h"
#include "fe.h"
#include "gtk-handles.h"
#include "base/lumenwick.h"
#include "session/session.h"
#include "sessionwin.h"

#include <gtk/gtk.h>

#include <cstring>
#include <memory>
#include <utility>

namespace {

// Largest value fe_get_int offers.
constexpr int GET_INT_MAX = 1024;

GtkWidget *network_list_window = nullptr;
// The message fe_message is blocked on, if any.
GtkWidget *waiting_message = nullptr;

// Attaches `state` to `instance`'s response signal; it is deleted with the
// handler, i.e. when the dialog goes away.
template <typename State, typename Handler>
void connect_response(gpointer instance, State *state, Handler handler)
{
    g_signal_connect_data(
        instance, "response", G_CALLBACK(handler), state,
        [](gpointer data, GClosure *) noexcept { delete static_cast<State *>(data); }, GConnectFlags(0));
}

void place_over_main_window(GtkWindow *dialog)
{
    GtkWindow *parent = main_window();
    gtk_window_set_transient_for(dialog, parent);
    gtk_window_set_position(dialog, parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
}

GtkWidget *question_dialog(const char *title, const char *no_label, const char *yes_label)
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons(title, main_window(), GTK_DIALOG_DESTROY_WITH_PARENT, no_label,
                                                    GTK_RESPONSE_CANCEL, yes_label, GTK_RESPONSE_OK, nullptr);
    place_over_main_window(GTK_WINDOW(dialog));
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    return dialog;
}

void add_content(GtkWidget *dialog, GtkWidget *child)
{
    GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(area), 8);
    gtk_box_pack_start(GTK_BOX(area), child, FALSE, FALSE, 4);
}

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
    GtkWidget *dialog = question_dialog(prompt, _("_Cancel"), _("_OK"));
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

// --- files -------------------------------------------------------------------------------

struct file_question {
    fe_file_callback callback;
    void *user_data;
    bool multiple;
};

void on_file_response(GtkNativeDialog *chooser, gint response, gpointer data) noexcept
{
    auto *q = static_cast<file_question *>(data);
    guarded("file question", [&] {
        if (response != GTK_RESPONSE_ACCEPT) {
            // A cancelled chooser answers once with no file.
            q->callback(q->user_data, nullptr);
            return;
        }
        GtkFileChooser *fc = GTK_FILE_CHOOSER(chooser);
        if (q->multiple) {
            GSList *files = gtk_file_chooser_get_filenames(fc);
            for (GSList *l = files; l; l = l->next)
                q->callback(q->user_data, static_cast<char *>(l->data));
            g_slist_free_full(files, g_free);
        } else {
            gchar_ptr file(gtk_file_chooser_get_filename(fc));
            q->callback(q->user_data, file.get());
        }
    });
    // Drops the reference fe_get_file kept; the response emission holds its own.
    g_object_unref(chooser);
}

void set_initial_path(GtkFileChooser *fc, const char *initial, int flags)
{
    if (!initial || !*initial)
        return;
    gchar_ptr path(g_canonicalize_filename(initial, nullptr));
    if (g_file_test(path.get(), G_FILE_TEST_IS_DIR)) {
        gtk_file_chooser_set_current_folder(fc, path.get());
        return;
    }
    gchar_ptr folder(g_path_get_dirname(path.get()));
    gchar_ptr name(g_path_get_basename(path.get()));
    if (flags & FRF_WRITE) {
        gtk_file_chooser_set_current_folder(fc, folder.get());
        gtk_file_chooser_set_current_name(fc, name.get());
    } else if (g_file_test(path.get(), G_FILE_TEST_EXISTS)) {
        gtk_file_chooser_set_filename(fc, path.get());
    } else {
        gtk_file_chooser_set_current_folder(fc, folder.get());
    }
}

// --- network list stand-in -------------------------------------------------------------

void on_network_list_destroy(GtkWidget *, gpointer) noexcept
{
    network_list_window = nullptr;
    // Without a session nothing else is on screen: do not linger invisibly.
    guarded("network list", [] {
        if (!sess_list && !lumenwick_is_quitting)
            lumenwick_exit();
    });
}

void on_network_list_response(GtkDialog *dialog, gint, gpointer) noexcept { gtk_widget_destroy(GTK_WIDGET(dialog)); }

}  // namespace

void dialogs_end_waiting(void) noexcept
{
    if (waiting_message)
        gtk_dialog_response(GTK_DIALOG(waiting_message), GTK_RESPONSE_CANCEL);
}

void fe_message(const char *msg, int flags)
{
    GtkMessageType type = GTK_MESSAGE_WARNING;
    if (flags & FE_MSG_INFO)
        type = GTK_MESSAGE_INFO;
    else if (flags & FE_MSG_ERROR)
        type = GTK_MESSAGE_ERROR;

    GtkWindow *parent = main_window();
    GtkWidget *dialog = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, type, GTK_BUTTONS_OK, nullptr);
    // Broken markup would show an empty box; show such text as it is instead.
    if ((flags & FE_MSG_MARKUP) && pango_parse_markup(msg, -1, 0, nullptr, nullptr, nullptr, nullptr))
        gtk_message_dialog_set_markup(GTK_MESSAGE_DIALOG(dialog), msg);
    else
        g_object_set(dialog, "text", msg, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    place_over_main_window(GTK_WINDOW(dialog));

    if (flags & FE_MSG_WAIT) {
        gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
        GtkWidget *outer = std::exchange(waiting_message, dialog);
        gtk_dialog_run(GTK_DIALOG(dialog));
        waiting_message = outer;
        gtk_widget_destroy(dialog);
        return;
    }
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(dialog);
}

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
    GtkWidget *dialog = question_dialog(prompt, _("_Cancel"), _("_OK"));
    GtkWidget *spin = gtk_spin_button_new_with_range(0, GET_INT_MAX, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), def);
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
    add_content(dialog, spin);
    connect_response(dialog, new int_question{callback, user_data, spin}, on_int_response);
    gtk_widget_show_all(dialog);
}

void fe_get_bool(char *title, char *prompt, fe_bool_callback callback, void *user_data)
{
    GtkWidget *dialog = question_dialog(title, _("_No"), _("_Yes"));
    add_content(dialog, gtk_label_new(prompt));
    connect_response(dialog, new bool_question{callback, user_data}, on_bool_response);
    gtk_widget_show_all(dialog);
}

// The accept and abort callbacks carry no path, and the core uses this for
// chat offers as well as file offers, so it asks the question as such.
void fe_confirm(const char *message, fe_confirm_callback yesproc, fe_confirm_callback noproc, void *user_data)
{
    GtkWidget *dialog = question_dialog(DISPLAY_NAME, _("_No"), _("_Yes"));
    GtkWidget *label = gtk_label_new(message);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    add_content(dialog, label);
    connect_response(dialog, new confirm_question{yesproc, noproc, user_data}, on_confirm_response);
    gtk_widget_show_all(dialog);
}

void fe_get_file(const char *title, char *initial, fe_file_callback callback, void *user_data, int flags)
{
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
    if (flags & FRF_CHOOSEFOLDER)
        action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
    else if (flags & FRF_WRITE)
        action = GTK_FILE_CHOOSER_ACTION_SAVE;

    // Our reference is dropped in the response handler.
    GtkFileChooserNative *chooser = gtk_file_chooser_native_new(title, main_window(), action, nullptr, nullptr);
    GtkFileChooser *fc = GTK_FILE_CHOOSER(chooser);
    const bool multiple = (flags & FRF_MULTIPLE) && !(flags & FRF_WRITE);
    gtk_file_chooser_set_select_multiple(fc, multiple);
    gtk_file_chooser_set_local_only(fc, TRUE);
    if (flags & FRF_WRITE)
        gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
    set_initial_path(fc, initial, flags);
    connect_response(chooser, new file_question{callback, user_data, multiple}, on_file_response);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

void fe_serverlist_open(session *)
{
    if (network_list_window) {
        gtk_window_present(GTK_WINDOW(network_list_window));
        return;
    }
    gchar_ptr title(g_strdup_printf(_("Network List - %s"), DISPLAY_NAME));
    GtkWidget *dialog = gtk_dialog_new_with_buttons(title.get(), main_window(), GtkDialogFlags(0), _("_Close"),
                                                    GTK_RESPONSE_CLOSE, nullptr);
    gtk_widget_set_name(dialog, "lumenwick-networklist");
    // Without a session there is no input line to type /server into yet.
    GtkWidget *label = gtk_label_new(
        sess_list ? _("The network list is not available in this version.\nConnect with /server <host> [<port>].")
                  : _("The network list is not available in this version.\nTo get a server tab at start-up, set "
                      "gui_slist_skip = 1 in lumenwick.conf,\nthen connect with /server <host> [<port>]."));
    add_content(dialog, label);
    place_over_main_window(GTK_WINDOW(dialog));
    g_signal_connect(dialog, "response", G_CALLBACK(on_network_list_response), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(on_network_list_destroy), nullptr);
    network_list_window = dialog;
    gtk_widget_show_all(dialog);
}
