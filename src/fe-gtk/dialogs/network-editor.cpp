// The network editor: servers, favourite channels and connect commands on a
// notebook; flags, identity, login method, password storage, character set
// and the client certificate below. Lists and flags change the network as
// they are edited; the identity, character set and password are settled
// when the editor closes.
#include "dialogs/network-editor.h"

#include "base/lumenwick.h"
#include "fe-common/netlist.h"
#include "servlist/secretstore.h"
#include "servlist/servlist-cert.h"
#include "servlist/servlist-password.h"
#include "servlist/servlist.h"
#include "support/dialog-helpers.h"
#include "support/gtk-handles.h"

#include <openssl/crypto.h>

#include <cstring>
#include <string>

namespace
{

enum { PAGE_SERVERS, PAGE_CHANNELS, PAGE_COMMANDS };

// Columns of the three list pages: text (and key), then the record.
enum { LCOL_TEXT, LCOL_KEY, LCOL_ITEM, LCOL_COUNT };

struct list_page {
    GtkListStore *store = nullptr; // owned by the view
    GtkWidget *view = nullptr;
};

struct check_flag {
    GtkWidget *button;
    int flag;
    bool inverted; // ticked means the flag is clear
};

struct netedit {
    ircnet *net = nullptr;
    std::function<void()> on_closed;
    GtkWidget *window = nullptr;
    GtkWidget *notebook = nullptr;
    list_page servers, channels, commands;
    std::vector<check_flag> checks;
    GtkWidget *use_global = nullptr;
    GtkWidget *ask_password = nullptr;
    GtkWidget *use_keyring = nullptr;
    GtkWidget *keyring_note = nullptr;
    GtkWidget *nick = nullptr, *nick2 = nullptr, *real_name = nullptr, *user_name = nullptr;
    GtkWidget *login = nullptr;
    GtkWidget *password = nullptr;
    GtkWidget *show_password = nullptr;
    GtkWidget *encrypt_button = nullptr;
    GtkWidget *move_button = nullptr;
    GtkWidget *charset = nullptr;
    GtkWidget *cert_generate = nullptr, *cert_import = nullptr, *cert_info = nullptr, *cert_delete = nullptr;
    bool keyring_available = false;
    bool password_edited = false;
    bool setting_password = false; // the editor itself changes the entry
    char *revealed = nullptr;      // the stored password once shown; wiped
    bool closing = false;
};

netedit *ed = nullptr;

void wipe_revealed()
{
    servlist_password_free(ed->revealed);
    ed->revealed = nullptr;
}

GtkWindow *editor_window()
{
    return ed ? GTK_WINDOW(ed->window) : nullptr;
}

bool has_stored_password(const ircnet *net)
{
    return (net->flags & NET_KEYRING) || (net->password && *net->password);
}

// Sets the password entry's text without counting it as an edit.
void set_password_text(const char *text)
{
    ed->setting_password = true;
    gtk_entry_set_text(GTK_ENTRY(ed->password), text);
    ed->setting_password = false;
}

// ---- sensitivity ------------------------------------------------------------------------

int chosen_login_method()
{
    const int row = gtk_combo_box_get_active(GTK_COMBO_BOX(ed->login));
    return row >= 0 && row < int(G_N_ELEMENTS(servlist_login_method_order)) ? servlist_login_method_order[row] : 0;
}

bool ticked(GtkWidget *check)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check));
}

void update_sensitivity()
{
    netedit_state s;
    s.use_global = ticked(ed->use_global);
    s.ask_password = ticked(ed->ask_password);
    s.login_method = chosen_login_method();
    s.stored_password = ed->net->password && *ed->net->password;
    s.stored_encrypted = servlist_password_is_encrypted(ed->net->password);
    s.in_keyring = ed->net->flags & NET_KEYRING;
    s.password_edited = ed->password_edited;
    s.has_name = ed->net->name && *ed->net->name;
    s.keyring_available = ed->keyring_available;
    s.has_certificate = servlist_cert_exists(ed->net);
    const netedit_sensitivity out = netedit_sensitivity_for(s);

    for (GtkWidget *w : {ed->nick, ed->nick2, ed->real_name, ed->user_name})
        gtk_widget_set_sensitive(w, out.identity);
    gtk_widget_set_sensitive(ed->password, out.password);
    gtk_widget_set_sensitive(ed->show_password, out.password);
    gtk_widget_set_sensitive(ed->use_keyring, out.use_keyring);
    gtk_widget_set_sensitive(ed->encrypt_button, out.encrypt_button);
    gtk_widget_set_sensitive(ed->move_button, out.move_button);
    gtk_widget_set_visible(ed->cert_generate, out.cert_create);
    gtk_widget_set_visible(ed->cert_import, out.cert_create);
    gtk_widget_set_visible(ed->cert_info, out.cert_manage);
    gtk_widget_set_visible(ed->cert_delete, out.cert_manage);
}

// ---- the list pages -----------------------------------------------------------------------

void fill_servers()
{
    gtk_list_store_clear(ed->servers.store);
    for (GSList *l = ed->net->servers; l; l = l->next) {
        auto *entry = static_cast<ircserver *>(l->data);
        gtk_list_store_insert_with_values(ed->servers.store, nullptr, -1, LCOL_TEXT, entry->address, LCOL_ITEM, entry,
                                          -1);
    }
}

void fill_channels()
{
    gtk_list_store_clear(ed->channels.store);
    for (GSList *l = ed->net->favorite_channels; l; l = l->next) {
        auto *fav = static_cast<favchannel *>(l->data);
        gtk_list_store_insert_with_values(ed->channels.store, nullptr, -1, LCOL_TEXT, fav->name, LCOL_KEY,
                                          fav->key ? fav->key : "", LCOL_ITEM, fav, -1);
    }
}

void fill_commands()
{
    gtk_list_store_clear(ed->commands.store);
    for (GSList *l = ed->net->connect_commands; l; l = l->next) {
        auto *command = static_cast<char *>(l->data);
        gtk_list_store_insert_with_values(ed->commands.store, nullptr, -1, LCOL_TEXT, command, LCOL_ITEM, command, -1);
    }
}

gpointer item_at(const list_page &page, const char *path_text, GtkTreeIter *iter)
{
    if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(page.store), iter, path_text))
        return nullptr;
    gpointer item = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(page.store), iter, LCOL_ITEM, &item, -1);
    return item;
}

void start_editing(const list_page &page, gpointer item, int column = 0)
{
    GtkTreeIter iter;
    int pos = 0;
    for (gboolean ok = gtk_tree_model_get_iter_first(GTK_TREE_MODEL(page.store), &iter); ok;
         ok = gtk_tree_model_iter_next(GTK_TREE_MODEL(page.store), &iter), ++pos) {
        gpointer here = nullptr;
        gtk_tree_model_get(GTK_TREE_MODEL(page.store), &iter, LCOL_ITEM, &here, -1);
        if (here != item)
            continue;
        GtkTreePath *path = gtk_tree_path_new_from_indices(pos, -1);
        gtk_widget_grab_focus(page.view);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(page.view), path,
                                 gtk_tree_view_get_column(GTK_TREE_VIEW(page.view), column), TRUE);
        gtk_tree_path_free(path);
        return;
    }
}

gpointer selected_item(const list_page &page)
{
    GtkTreeIter iter;
    GtkTreeModel *model = nullptr;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(page.view)), &model, &iter))
        return nullptr;
    gpointer item = nullptr;
    gtk_tree_model_get(model, &iter, LCOL_ITEM, &item, -1);
    return item;
}

void on_server_edited(GtkCellRendererText *, gchar *path_text, gchar *new_text, gpointer) noexcept
{
    guarded("network editor", [&] {
        GtkTreeIter iter;
        auto *entry = static_cast<ircserver *>(item_at(ed->servers, path_text, &iter));
        if (!entry)
            return;
        gchar_ptr text(g_strstrip(g_strdup(new_text)));
        if (!*text) {
            // An emptied address removes the server, but never the last one.
            if (g_slist_length(ed->net->servers) > 1) {
                servlist_server_remove(ed->net, entry);
                fill_servers();
            }
            return;
        }
        g_free(entry->address);
        entry->address = g_strdup(text.get());
        gtk_list_store_set(ed->servers.store, &iter, LCOL_TEXT, entry->address, -1);
    });
}

void on_channel_edited(GtkCellRendererText *cell, gchar *path_text, gchar *new_text, gpointer) noexcept
{
    guarded("network editor", [&] {
        GtkTreeIter iter;
        auto *fav = static_cast<favchannel *>(item_at(ed->channels, path_text, &iter));
        if (!fav)
            return;
        const bool key = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(cell), "column")) == LCOL_KEY;
        gchar_ptr text(g_strstrip(g_strdup(new_text)));
        if (key) {
            if (fav->key)
                OPENSSL_cleanse(fav->key, std::strlen(fav->key));
            g_free(fav->key);
            fav->key = *text ? g_strdup(text.get()) : nullptr;
            gtk_list_store_set(ed->channels.store, &iter, LCOL_KEY, fav->key ? fav->key : "", -1);
            OPENSSL_cleanse(text.get(), std::strlen(text.get()));
        } else if (!*text) {
            servlist_favchan_remove(ed->net, fav);
            fill_channels();
        } else {
            g_free(fav->name);
            fav->name = g_strdup(text.get());
            gtk_list_store_set(ed->channels.store, &iter, LCOL_TEXT, fav->name, -1);
        }
    });
}

void on_command_edited(GtkCellRendererText *, gchar *path_text, gchar *new_text, gpointer) noexcept
{
    guarded("network editor", [&] {
        GtkTreeIter iter;
        auto *command = static_cast<char *>(item_at(ed->commands, path_text, &iter));
        if (!command)
            return;
        gchar_ptr text(g_strstrip(g_strdup(new_text)));
        if (!*text) {
            servlist_command_remove(ed->net, command);
            fill_commands();
            return;
        }
        // The list owns its strings: replace the element in place.
        GSList *link = g_slist_find(ed->net->connect_commands, command);
        if (!link)
            return;
        link->data = g_strdup(text.get());
        servlist_command_free(command);
        gtk_list_store_set(ed->commands.store, &iter, LCOL_TEXT, link->data, LCOL_ITEM, link->data, -1);
    });
}

void on_list_add(GtkButton *, gpointer page_id) noexcept
{
    guarded("network editor", [page_id] {
        switch (GPOINTER_TO_INT(page_id)) {
        case PAGE_SERVERS: {
            ircserver *entry = servlist_server_add(ed->net, "newserver/6697");
            fill_servers();
            start_editing(ed->servers, entry);
            break;
        }
        case PAGE_CHANNELS: {
            favchannel *fav = servlist_favchan_add(ed->net, "#channel");
            fill_channels();
            start_editing(ed->channels, fav);
            break;
        }
        default: {
            char *command = servlist_command_add(ed->net, "ECHO hello");
            fill_commands();
            start_editing(ed->commands, command);
            break;
        }
        }
    });
}

void on_list_remove(GtkButton *, gpointer page_id) noexcept
{
    guarded("network editor", [page_id] {
        switch (GPOINTER_TO_INT(page_id)) {
        case PAGE_SERVERS:
            // A network keeps at least one server.
            if (auto *entry = static_cast<ircserver *>(selected_item(ed->servers));
                entry && g_slist_length(ed->net->servers) > 1) {
                servlist_server_remove(ed->net, entry);
                fill_servers();
            }
            break;
        case PAGE_CHANNELS:
            if (auto *fav = static_cast<favchannel *>(selected_item(ed->channels))) {
                servlist_favchan_remove(ed->net, fav);
                fill_channels();
            }
            break;
        default:
            if (auto *command = static_cast<char *>(selected_item(ed->commands))) {
                servlist_command_remove(ed->net, command);
                fill_commands();
            }
            break;
        }
    });
}

void on_list_edit(GtkButton *, gpointer page_id) noexcept
{
    guarded("network editor", [page_id] {
        const list_page &page = GPOINTER_TO_INT(page_id) == PAGE_SERVERS    ? ed->servers
                                : GPOINTER_TO_INT(page_id) == PAGE_CHANNELS ? ed->channels
                                                                            : ed->commands;
        if (gpointer item = selected_item(page))
            start_editing(page, item);
    });
}

GtkWidget *text_column(list_page &page, const char *title, int column, GCallback edited)
{
    GtkCellRenderer *cell = gtk_cell_renderer_text_new();
    g_object_set(cell, "editable", TRUE, nullptr);
    g_object_set_data(G_OBJECT(cell), "column", GINT_TO_POINTER(column));
    g_signal_connect(cell, "edited", edited, nullptr);
    GtkTreeViewColumn *col = gtk_tree_view_column_new_with_attributes(title, cell, "text", column, nullptr);
    gtk_tree_view_column_set_expand(col, TRUE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(page.view), col);
    return page.view;
}

GtkWidget *build_page(list_page &page, int page_id, const char *name)
{
    page.store = gtk_list_store_new(LCOL_COUNT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_POINTER);
    page.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(page.store));
    g_object_unref(page.store);
    gtk_widget_set_name(page.view, name);
    switch (page_id) {
    case PAGE_SERVERS:
        text_column(page, _("Servers"), LCOL_TEXT, G_CALLBACK(on_server_edited));
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(page.view), FALSE);
        break;
    case PAGE_CHANNELS:
        text_column(page, _("Channel"), LCOL_TEXT, G_CALLBACK(on_channel_edited));
        text_column(page, _("Key (Password)"), LCOL_KEY, G_CALLBACK(on_channel_edited));
        break;
    default:
        text_column(page, _("Connect commands"), LCOL_TEXT, G_CALLBACK(on_command_edited));
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(page.view), FALSE);
        break;
    }
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_widget_set_hexpand(scroll, TRUE);
    gtk_widget_set_vexpand(scroll, TRUE);
    gtk_container_add(GTK_CONTAINER(scroll), page.view);

    GtkWidget *buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    const char *labels[] = {_("_Add"), _("_Remove"), _("_Edit")};
    const GCallback handlers[] = {G_CALLBACK(on_list_add), G_CALLBACK(on_list_remove), G_CALLBACK(on_list_edit)};
    for (int i = 0; i < 3; ++i) {
        GtkWidget *button = gtk_button_new_with_mnemonic(labels[i]);
        gchar_ptr button_name(g_strdup_printf("%s-%d", name, i));
        gtk_widget_set_name(button, button_name.get());
        g_signal_connect(button, "clicked", handlers[i], GINT_TO_POINTER(page_id));
        gtk_box_pack_start(GTK_BOX(buttons), button, FALSE, FALSE, 0);
    }

    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(row), 6);
    gtk_box_pack_start(GTK_BOX(row), scroll, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), buttons, FALSE, FALSE, 0);
    if (page_id != PAGE_COMMANDS)
        return row;
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_box_pack_start(GTK_BOX(box), row, TRUE, TRUE, 0);
    GtkWidget *help = gtk_label_new(_("%n=Nick name\n%p=Password\n%r=Real name\n%u=User name"));
    gtk_label_set_xalign(GTK_LABEL(help), 0);
    gtk_widget_set_margin_start(help, 6);
    gtk_widget_set_margin_bottom(help, 6);
    gtk_box_pack_start(GTK_BOX(box), help, FALSE, FALSE, 0);
    return box;
}

// ---- flags ------------------------------------------------------------------------------------

void on_flag_toggled(GtkToggleButton *button, gpointer) noexcept
{
    guarded("network editor", [button] {
        if (!ed)
            return;
        for (const check_flag &c : ed->checks) {
            if (c.button != GTK_WIDGET(button))
                continue;
            const bool set = gtk_toggle_button_get_active(button) != c.inverted;
            ed->net->flags = set ? ed->net->flags | c.flag : ed->net->flags & ~c.flag;
        }
        update_sensitivity();
    });
}

void on_choice_toggled(GtkToggleButton *, gpointer) noexcept
{
    // Keyring and ask-on-connect are settled on closing; only the look changes now.
    guarded("network editor", [] {
        if (ed)
            update_sensitivity();
    });
}

GtkWidget *flag_check(const char *label, int flag, bool inverted, const char *name)
{
    GtkWidget *check = gtk_check_button_new_with_mnemonic(label);
    gtk_widget_set_name(check, name);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), bool(ed->net->flags & flag) != inverted);
    ed->checks.push_back({check, flag, inverted});
    g_signal_connect(check, "toggled", G_CALLBACK(on_flag_toggled), nullptr);
    return check;
}

// ---- password ------------------------------------------------------------------------------------

void on_password_changed(GtkEditable *, gpointer) noexcept
{
    guarded("network editor", [] {
        if (!ed || ed->setting_password)
            return;
        const char *text = gtk_entry_get_text(GTK_ENTRY(ed->password));
        if (std::strcmp(text, NETEDIT_PASSWORD_MASK) == 0 && has_stored_password(ed->net) && !ed->password_edited)
            return;
        ed->password_edited = true;
        wipe_revealed();
        update_sensitivity();
    });
}

void on_show_password(GtkToggleButton *button, gpointer) noexcept
{
    guarded("network editor", [button] {
        if (!ed)
            return;
        const bool show = gtk_toggle_button_get_active(button);
        if (!show) {
            gtk_entry_set_visibility(GTK_ENTRY(ed->password), FALSE);
            if (!ed->password_edited && has_stored_password(ed->net))
                set_password_text(NETEDIT_PASSWORD_MASK);
            return;
        }
        if (!ed->password_edited && has_stored_password(ed->net)) {
            if (!ed->revealed) {
                error_ptr error;
                ed->revealed = servlist_get_password(ed->net, error.out());
                if (!ed->revealed && error)
                    netlist_message(editor_window(), GTK_MESSAGE_ERROR, _("Could not read the stored password."),
                                    error.message());
            }
            set_password_text(ed->revealed ? ed->revealed : "");
        }
        gtk_entry_set_visibility(GTK_ENTRY(ed->password), TRUE);
    });
}

void show_mask_again()
{
    ed->password_edited = false;
    wipe_revealed();
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->show_password), FALSE);
    set_password_text(has_stored_password(ed->net) ? NETEDIT_PASSWORD_MASK : "");
}

void on_encrypt(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] {
        error_ptr error;
        if (!servlist_net_encrypt_password(ed->net, error.out()))
            netlist_message(editor_window(), GTK_MESSAGE_ERROR,
                            error ? error.message() : _("Could not encrypt this password."));
        show_mask_again();
        update_sensitivity();
    });
}

void on_move_to_keyring(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] {
        error_ptr error;
        if (servlist_net_move_password_to_keyring(ed->net, error.out())) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->use_keyring), TRUE);
        } else {
            netlist_message(editor_window(), GTK_MESSAGE_ERROR,
                            error ? error.message() : _("Could not move this password into the system keyring."));
        }
        show_mask_again();
        update_sensitivity();
    });
}

void on_login_changed(GtkComboBox *, gpointer) noexcept
{
    guarded("network editor", [] {
        if (!ed)
            return;
        ed->net->login_method = chosen_login_method();
        if (ed->net->login_method == LOGIN_METHOD_CUSTOM)
            gtk_notebook_set_current_page(GTK_NOTEBOOK(ed->notebook), PAGE_COMMANDS);
        update_sensitivity();
    });
}

// ---- certificates -----------------------------------------------------------------------------------

void show_cert_result(const servlist_cert_result &r)
{
    netlist_message(editor_window(), r.ok ? GTK_MESSAGE_INFO : GTK_MESSAGE_ERROR, r.message.c_str(), r.detail.c_str());
    update_sensitivity();
}

void on_cert_generate(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] { show_cert_result(servlist_cert_generate(ed->net)); });
}

void on_cert_info(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] { show_cert_result(servlist_cert_info(ed->net)); });
}

void on_cert_delete(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] { show_cert_result(servlist_cert_delete(ed->net)); });
}

void on_import_answer(GtkDialog *dialog, gint response, gpointer) noexcept
{
    guarded("network editor", [&] {
        gchar_ptr file(response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))
                                                       : nullptr);
        gtk_widget_destroy(GTK_WIDGET(dialog));
        if (file && ed)
            show_cert_result(servlist_cert_import(ed->net, file.get()));
    });
}

void on_cert_import(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] {
        GtkWidget *chooser =
            gtk_file_chooser_dialog_new(_("Import Client Certificate"), editor_window(), GTK_FILE_CHOOSER_ACTION_OPEN,
                                        _("_Cancel"), GTK_RESPONSE_CANCEL, _("_Open"), GTK_RESPONSE_ACCEPT, nullptr);
        gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
        GtkFileFilter *certs = gtk_file_filter_new();
        gtk_file_filter_set_name(certs, _("Certificate files"));
        for (const char *pattern : {"*.pem", "*.crt", "*.cer"})
            gtk_file_filter_add_pattern(certs, pattern);
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), certs);
        GtkFileFilter *all = gtk_file_filter_new();
        gtk_file_filter_set_name(all, _("All files"));
        gtk_file_filter_add_pattern(all, "*");
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
        g_signal_connect(chooser, "response", G_CALLBACK(on_import_answer), nullptr);
        gtk_widget_show(chooser);
    });
}

// ---- closing ------------------------------------------------------------------------------------------

// The entry's text, or null for an empty one.
char *field_text(GtkWidget *entry)
{
    const char *text = gtk_entry_get_text(GTK_ENTRY(entry));
    return *text ? g_strdup(text) : nullptr;
}

void replace_field(char *&field, GtkWidget *entry)
{
    g_free(field);
    field = field_text(entry);
}

// Stores the fields and settles the password; false (the editor stays open)
// when the password could not be stored as asked.
bool store_and_settle()
{
    ircnet *net = ed->net;
    // A command removed the network meanwhile: nothing is left to store.
    if (!g_slist_find(network_list, net))
        return true;
    replace_field(net->nick, ed->nick);
    replace_field(net->second_nick, ed->nick2);
    replace_field(net->real_name, ed->real_name);
    replace_field(net->user_name, ed->user_name);
    GtkWidget *charset_entry = gtk_bin_get_child(GTK_BIN(ed->charset));
    replace_field(net->charset, charset_entry);

    // The entry's buffer wipes what it drops; the copy here is wiped below.
    char *typed = g_strdup(gtk_entry_get_text(GTK_ENTRY(ed->password)));
    servlist_password_choice choice;
    choice.ask_on_connect = ticked(ed->ask_password);
    choice.use_keyring = ticked(ed->use_keyring);
    choice.edited = ed->password_edited;
    choice.password = typed;
    error_ptr error;
    const bool ok = servlist_net_store_password(net, choice, error.out());
    servlist_password_free(typed);
    if (!ok) {
        netlist_message(editor_window(), GTK_MESSAGE_ERROR,
                        error ? error.message() : _("Could not store the password."));
        return false;
    }
    servlist_save();
    return true;
}

void close_editor()
{
    if (!ed || ed->closing || !store_and_settle())
        return;
    ed->closing = true;
    set_password_text("");
    gtk_widget_destroy(ed->window);
}

void on_close_clicked(GtkButton *, gpointer) noexcept
{
    guarded("network editor", [] { close_editor(); });
}

gboolean on_editor_delete(GtkWidget *, GdkEvent *, gpointer) noexcept
{
    guarded("network editor", [] { close_editor(); });
    return TRUE;
}

void on_editor_destroy(GtkWidget *, gpointer) noexcept
{
    guarded("network editor", [] {
        if (!ed)
            return;
        netedit *closing = ed;
        ed = nullptr;
        servlist_password_free(closing->revealed);
        auto done = std::move(closing->on_closed);
        delete closing;
        if (done)
            done();
    });
}

// ---- building ------------------------------------------------------------------------------------------

GtkWidget *labelled(GtkWidget *grid, int row, const char *label_text, GtkWidget *field)
{
    GtkWidget *label = gtk_label_new_with_mnemonic(label_text);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), field);
    gtk_widget_set_hexpand(field, TRUE);
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), field, 1, row, 2, 1);
    return field;
}

GtkWidget *text_entry(const char *value, const char *name)
{
    GtkWidget *entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), value ? value : "");
    gtk_widget_set_name(entry, name);
    return entry;
}

GtkWidget *named_button(const char *label, const char *name, GCallback handler)
{
    GtkWidget *button = gtk_button_new_with_mnemonic(label);
    gtk_widget_set_name(button, name);
    g_signal_connect(button, "clicked", handler, nullptr);
    return button;
}

GtkWidget *build_checks()
{
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    auto add = [box](GtkWidget *w) { gtk_box_pack_start(GTK_BOX(box), w, FALSE, FALSE, 0); };
    add(flag_check(_("Connect to selected server only"), NET_CYCLE, true, "lumenwick-netedit-selected-only"));
    add(flag_check(_("Connect to this network automatically"), NET_AUTO_CONNECT, false, "lumenwick-netedit-auto"));
    add(flag_check(_("Bypass proxy server"), NET_USE_PROXY, true, "lumenwick-netedit-bypass-proxy"));
    add(flag_check(_("Use SSL for all the servers on this network"), NET_USE_TLS, false, "lumenwick-netedit-tls"));
    add(flag_check(_("Accept invalid SSL certificates"), NET_ALLOW_INVALID, false, "lumenwick-netedit-invalid"));
    ed->use_global = flag_check(_("Use global user information"), NET_USE_GLOBAL, false, "lumenwick-netedit-global");
    add(ed->use_global);
    return box;
}

// The identity entries, beside the flags.
GtkWidget *build_identity()
{
    ircnet *net = ed->net;
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    int row = 0;
    ed->nick = labelled(grid, row++, _("_Nick name:"), text_entry(net->nick, "lumenwick-netedit-nick"));
    ed->nick2 = labelled(grid, row++, _("Second choice:"), text_entry(net->second_nick, "lumenwick-netedit-nick2"));
    ed->real_name = labelled(grid, row++, _("Rea_l name:"), text_entry(net->real_name, "lumenwick-netedit-realname"));
    ed->user_name = labelled(grid, row++, _("_User name:"), text_entry(net->user_name, "lumenwick-netedit-username"));
    return grid;
}

GtkWidget *build_fields()
{
    ircnet *net = ed->net;
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    int row = 0;

    ed->login = gtk_combo_box_text_new();
    gtk_widget_set_name(ed->login, "lumenwick-netedit-login");
    int active = 0;
    for (int i = 0; i < int(G_N_ELEMENTS(servlist_login_method_order)); ++i) {
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(ed->login),
                                       _(servlist_login_method_label(servlist_login_method_order[i])));
        if (servlist_login_method_order[i] == net->login_method)
            active = i;
    }
    gtk_combo_box_set_active(GTK_COMBO_BOX(ed->login), active);
    labelled(grid, row++, _("Login method:"), ed->login);

    ed->password = gtk_entry_new();
    gtk_widget_set_name(ed->password, "lumenwick-netedit-password");
    gtk_entry_set_visibility(GTK_ENTRY(ed->password), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(ed->password), GTK_INPUT_PURPOSE_PASSWORD);
    set_password_text(has_stored_password(net) ? NETEDIT_PASSWORD_MASK : "");
    GtkWidget *label = gtk_label_new_with_mnemonic(_("_Password:"));
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), ed->password);
    gtk_widget_set_hexpand(ed->password, TRUE);
    ed->show_password = gtk_check_button_new_with_mnemonic(_("Show password"));
    gtk_widget_set_name(ed->show_password, "lumenwick-netedit-show-password");
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), ed->password, 1, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), ed->show_password, 2, row++, 1, 1);

    ed->ask_password = gtk_check_button_new_with_mnemonic(_("Ask for password on connect"));
    gtk_widget_set_name(ed->ask_password, "lumenwick-netedit-ask-password");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->ask_password), net->flags & NET_ASK_PASSWORD);
    ed->use_keyring = gtk_check_button_new_with_mnemonic(_("Use system keyring"));
    gtk_widget_set_name(ed->use_keyring, "lumenwick-netedit-keyring");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(ed->use_keyring), net->flags & NET_KEYRING);
    GtkWidget *choices = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_box_pack_start(GTK_BOX(choices), ed->ask_password, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(choices), ed->use_keyring, FALSE, FALSE, 0);
    gtk_grid_attach(GTK_GRID(grid), choices, 1, row++, 2, 1);
    if (!ed->keyring_available) {
        ed->keyring_note = gtk_label_new(_("No system keyring answers: passwords are stored encrypted in the file."));
        gtk_widget_set_name(ed->keyring_note, "lumenwick-netedit-keyring-note");
        gtk_label_set_xalign(GTK_LABEL(ed->keyring_note), 0);
        gtk_label_set_line_wrap(GTK_LABEL(ed->keyring_note), TRUE);
        gtk_style_context_add_class(gtk_widget_get_style_context(ed->keyring_note), "dim-label");
        gtk_grid_attach(GTK_GRID(grid), ed->keyring_note, 1, row++, 2, 1);
    }
    ed->encrypt_button = named_button(_("Encrypt saved password"), "lumenwick-netedit-encrypt", G_CALLBACK(on_encrypt));
    ed->move_button =
        named_button(_("Move password to keyring"), "lumenwick-netedit-move", G_CALLBACK(on_move_to_keyring));
    GtkWidget *moves = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_start(GTK_BOX(moves), ed->encrypt_button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(moves), ed->move_button, FALSE, FALSE, 0);
    gtk_grid_attach(GTK_GRID(grid), moves, 1, row++, 2, 1);

    ed->charset = gtk_combo_box_text_new_with_entry();
    gtk_widget_set_name(ed->charset, "lumenwick-netedit-charset");
    for (const char *const *c = servlist_charset_choices; *c; ++c)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(ed->charset), *c);
    gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(ed->charset))),
                       net->charset ? net->charset : SERVLIST_DEFAULT_CHARSET);
    labelled(grid, row++, _("Character set:"), ed->charset);

    GtkWidget *certs = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    ed->cert_generate =
        named_button(_("Generate client SSL cert"), "lumenwick-netedit-cert-generate", G_CALLBACK(on_cert_generate));
    ed->cert_import =
        named_button(_("Import client SSL cert"), "lumenwick-netedit-cert-import", G_CALLBACK(on_cert_import));
    ed->cert_info = named_button(_("Client SSL cert info"), "lumenwick-netedit-cert-info", G_CALLBACK(on_cert_info));
    ed->cert_delete = named_button(_("Delete cert"), "lumenwick-netedit-cert-delete", G_CALLBACK(on_cert_delete));
    for (GtkWidget *b : {ed->cert_generate, ed->cert_import, ed->cert_info, ed->cert_delete}) {
        gtk_widget_set_no_show_all(b, TRUE);
        gtk_box_pack_start(GTK_BOX(certs), b, FALSE, FALSE, 0);
    }
    gtk_grid_attach(GTK_GRID(grid), certs, 1, row++, 2, 1);

    g_signal_connect(ed->login, "changed", G_CALLBACK(on_login_changed), nullptr);
    g_signal_connect(ed->password, "changed", G_CALLBACK(on_password_changed), nullptr);
    g_signal_connect(ed->show_password, "toggled", G_CALLBACK(on_show_password), nullptr);
    g_signal_connect(ed->ask_password, "toggled", G_CALLBACK(on_choice_toggled), nullptr);
    g_signal_connect(ed->use_keyring, "toggled", G_CALLBACK(on_choice_toggled), nullptr);
    return grid;
}

} // namespace

bool netedit_is_open(void)
{
    return ed != nullptr;
}

void netlist_message(GtkWindow *parent, GtkMessageType type, const char *text, const char *secondary)
{
    GtkWidget *box = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, type, GTK_BUTTONS_OK, "%s", text);
    if (secondary && *secondary)
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", secondary);
    gtk_window_set_modal(GTK_WINDOW(box), parent && gtk_window_get_modal(parent));
    g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(box);
}

void netedit_open(GtkWindow *parent, ircnet *net, std::function<void()> on_closed)
{
    if (ed || !net)
        return;
    // A locked keyring asks to be unlocked first; without it the stored
    // password could be neither shown nor kept.
    if (net->flags & NET_KEYRING) {
        error_ptr error;
        if (!secretstore_require_unlock(net->name, error.out())) {
            netlist_message(parent, GTK_MESSAGE_ERROR, _("The system keyring could not be unlocked."), error.message());
            return;
        }
    }
    ed = new netedit;
    ed->net = net;
    ed->on_closed = std::move(on_closed);
    ed->keyring_available = secretstore_is_keyring_available();

    ed->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gchar_ptr title(g_strdup_printf(_("Edit %s - %s"), net->name ? net->name : "", DISPLAY_NAME));
    gtk_window_set_title(GTK_WINDOW(ed->window), title.get());
    gtk_window_set_role(GTK_WINDOW(ed->window), "editserv");
    gtk_widget_set_name(ed->window, "lumenwick-networkeditor");
    gtk_window_set_modal(GTK_WINDOW(ed->window), TRUE);
    place_over(GTK_WINDOW(ed->window), parent);
    gtk_window_set_default_size(GTK_WINDOW(ed->window), 720, -1);

    ed->notebook = gtk_notebook_new();
    gtk_notebook_append_page(GTK_NOTEBOOK(ed->notebook),
                             build_page(ed->servers, PAGE_SERVERS, "lumenwick-netedit-servers"),
                             gtk_label_new(_("Servers")));
    gtk_notebook_append_page(GTK_NOTEBOOK(ed->notebook),
                             build_page(ed->channels, PAGE_CHANNELS, "lumenwick-netedit-channels"),
                             gtk_label_new(_("Autojoin channels")));
    gtk_notebook_append_page(GTK_NOTEBOOK(ed->notebook),
                             build_page(ed->commands, PAGE_COMMANDS, "lumenwick-netedit-commands"),
                             gtk_label_new(_("Connect commands")));
    gtk_widget_set_size_request(ed->notebook, -1, 170);

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 10);
    gtk_box_pack_start(GTK_BOX(box), ed->notebook, TRUE, TRUE, 0);
    // Flags and identity side by side keep the window within a small screen.
    GtkWidget *middle = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_box_pack_start(GTK_BOX(middle), build_checks(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(middle), build_identity(), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), middle, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), build_fields(), FALSE, FALSE, 0);
    GtkWidget *bar = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(bar), GTK_BUTTONBOX_END);
    gtk_container_add(GTK_CONTAINER(bar),
                      named_button(_("_Close"), "lumenwick-netedit-close", G_CALLBACK(on_close_clicked)));
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(ed->window), box);

    fill_servers();
    fill_channels();
    fill_commands();
    g_signal_connect(ed->window, "delete-event", G_CALLBACK(on_editor_delete), nullptr);
    g_signal_connect(ed->window, "destroy", G_CALLBACK(on_editor_destroy), nullptr);
    gtk_widget_show_all(ed->window);
    update_sensitivity();
    if (net->login_method == LOGIN_METHOD_CUSTOM)
        gtk_notebook_set_current_page(GTK_NOTEBOOK(ed->notebook), PAGE_COMMANDS);
}
