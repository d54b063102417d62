// File choosers the core asks for (fe_get_file): open, save or pick a folder.
#include "config/cfgfiles.h"
#include "fe.h"
#include "mainwin/maingui.h"
#include "support/dialog-helpers.h"
#include "support/gtk-handles.h"

#include <gtk/gtk.h>

namespace
{

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

} // namespace

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
