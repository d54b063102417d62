// The DCC windows: "Uploads and Downloads" for file transfers and "DCC Chat
// List" for direct chats. Rows mirror the core's DCC records; the buttons
// act on them through dcc_get, dcc_resume and dcc_abort.

#include "dialogs/utilwin.h"
#include "support/gtk-handles.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "dcc/dcc-offer.h"
#include "dcc/dcc.h"
#include "fe.h"
#include "net/network.h"
#include "session/session.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

// The session a window's action reports in: the first tab of the record's server.
static session *dcc_session_for_ui(const DCC *dcc);

namespace
{

enum transfer_column {
    COL_ICON,
    COL_STATUS,
    COL_FILE,
    COL_SIZE,
    COL_POS,
    COL_PERC,
    COL_SPEED,
    COL_ETA,
    COL_NICK,
    COL_DCC,
    COL_COLOR,
    TRANSFER_COLUMNS
};

enum chat_column { CCOL_STATUS, CCOL_NICK, CCOL_RECV, CCOL_SENT, CCOL_START, CCOL_DCC, CCOL_COLOR, CHAT_COLUMNS };

enum view_filter { SHOW_DOWNLOADS = 1, SHOW_UPLOADS = 2, SHOW_BOTH = 3 };

struct transfer_window {
    GtkWidget *window = nullptr;
    GtkListStore *store = nullptr;
    GtkTreeView *view = nullptr;
    GtkWidget *abort_button = nullptr, *accept_button = nullptr, *resume_button = nullptr, *clear_button = nullptr;
    GtkWidget *file_label = nullptr, *address_label = nullptr;
    int filter = SHOW_BOTH;
};

struct chat_window {
    GtkWidget *window = nullptr;
    GtkListStore *store = nullptr;
    GtkTreeView *view = nullptr;
    GtkWidget *abort_button = nullptr, *accept_button = nullptr;
};

transfer_window transfers;
chat_window chats;
int remembered_width = 600, remembered_height = 256;

// The palette's first sixteen colours, for the state colour of a row.
const char *state_colour(int status)
{
    static const char *const palette[] = {"#d3d7cf", "#2e3436", "#3465a4", "#4e9a06", "#cc0000", "#8f3902",
                                          "#5c3566", "#ce5c00", "#c4a000", "#73d216", "#11a879", "#58a19d",
                                          "#57799e", "#a020f0", "#555753", "#888a85"};
    const int index = dccstat[status].colour;
    return index == 1 ? nullptr : palette[index & 15];
}

std::string human_size(uint64_t bytes)
{
    char *text = g_format_size_full(bytes, prefs.gui_filesize_iec ? G_FORMAT_SIZE_IEC_UNITS : G_FORMAT_SIZE_DEFAULT);
    std::string out = text;
    g_free(text);
    return out;
}

bool is_transfer(const DCC *dcc)
{
    return dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_RECV;
}

bool shown_by_filter(const DCC *dcc)
{
    return (dcc->kind == DCC_KIND_RECV && (transfers.filter & SHOW_DOWNLOADS)) ||
           (dcc->kind == DCC_KIND_SEND && (transfers.filter & SHOW_UPLOADS));
}

bool find_row(GtkListStore *store, int column, const DCC *dcc, GtkTreeIter *iter)
{
    GtkTreeModel *model = GTK_TREE_MODEL(store);
    if (!gtk_tree_model_get_iter_first(model, iter))
        return false;
    do {
        gpointer p = nullptr;
        gtk_tree_model_get(model, iter, column, &p, -1);
        if (p == dcc)
            return true;
    } while (gtk_tree_model_iter_next(model, iter));
    return false;
}

std::vector<DCC *> selected(GtkTreeView *view, int column)
{
    std::vector<DCC *> out;
    GtkTreeModel *model = nullptr;
    GList *rows = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(view), &model);
    for (GList *l = rows; l; l = l->next) {
        GtkTreeIter iter;
        if (gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath *>(l->data))) {
            gpointer p = nullptr;
            gtk_tree_model_get(model, &iter, column, &p, -1);
            if (is_dcc(static_cast<DCC *>(p)))
                out.push_back(static_cast<DCC *>(p));
        }
    }
    g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    return out;
}

// ---- transfers ------------------------------------------------------------------------------

void fill_transfer_row(GtkTreeIter *iter, const DCC *dcc, bool everything)
{
    const uint64_t done = dcc_done_bytes(dcc);
    char perc[32], speed[32], eta[32];
    g_snprintf(perc, sizeof perc, "%.0f%%",
               dcc_percent(std::min(done, dcc->size), dcc->size, dcc->status == STAT_DONE));
    g_snprintf(speed, sizeof speed, "%.1f", static_cast<double>(dcc->speed) / 1024.0);
    const int64_t secs = dcc_eta_seconds(dcc);
    if (secs < 0)
        g_strlcpy(eta, "--:--:--", sizeof eta);
    else
        g_snprintf(eta, sizeof eta, "%.2d:%.2d:%.2d", static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                   static_cast<int>(secs % 60));
    const std::string pos = human_size(done);
    gtk_list_store_set(transfers.store, iter, COL_STATUS, _(dccstat[dcc->status].name), COL_POS, pos.c_str(), COL_PERC,
                       perc, COL_SPEED, speed, COL_ETA, eta, COL_COLOR, state_colour(dcc->status), -1);
    if (everything) {
        const std::string size = human_size(dcc->size);
        gtk_list_store_set(transfers.store, iter, COL_ICON, dcc->kind == DCC_KIND_RECV ? "go-down" : "go-up", COL_FILE,
                           file_part(dcc->file.c_str()), COL_SIZE, size.c_str(), COL_NICK, dcc->nick.c_str(), COL_DCC,
                           dcc, -1);
    }
}

void update_clear_button()
{
    if (!transfers.window)
        return;
    bool any = false;
    GtkTreeIter iter;
    GtkTreeModel *model = GTK_TREE_MODEL(transfers.store);
    if (gtk_tree_model_get_iter_first(model, &iter)) {
        do {
            gpointer p = nullptr;
            gtk_tree_model_get(model, &iter, COL_DCC, &p, -1);
            any = any || is_dcc_completed(static_cast<DCC *>(p));
        } while (!any && gtk_tree_model_iter_next(model, &iter));
    }
    gtk_widget_set_sensitive(transfers.clear_button, any);
}

void transfer_selection_changed(GtkTreeSelection *, gpointer) noexcept
{
    guarded("DCC selection", [] {
        const auto rows = selected(transfers.view, COL_DCC);
        gtk_widget_set_sensitive(transfers.abort_button, !rows.empty());
        bool can_accept = rows.size() > 1;
        if (rows.size() == 1)
            can_accept = rows[0]->kind == DCC_KIND_RECV && rows[0]->status == STAT_QUEUED;
        gtk_widget_set_sensitive(transfers.accept_button, can_accept);
        gtk_widget_set_sensitive(transfers.resume_button, can_accept);
        if (rows.empty()) {
            gtk_label_set_text(GTK_LABEL(transfers.file_label), "");
            gtk_label_set_text(GTK_LABEL(transfers.address_label), "");
            return;
        }
        const DCC *dcc = rows[0];
        const std::string &path = dcc->kind == DCC_KIND_RECV ? dcc->dest_path : dcc->file;
        gtk_label_set_text(GTK_LABEL(transfers.file_label), path.c_str());
        char *addr = g_strdup_printf("%s : %d", net_ip(dcc->peer_address), static_cast<int>(dcc->port));
        gtk_label_set_text(GTK_LABEL(transfers.address_label), addr);
        g_free(addr);
    });
}

void fill_transfers()
{
    gtk_list_store_clear(transfers.store);
    // dcc_list is newest first; prepending oldest first keeps that order.
    std::vector<DCC *> all;
    for (GSList *l = dcc_list; l; l = l->next)
        all.push_back(static_cast<DCC *>(l->data));
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (!is_transfer(*it) || !shown_by_filter(*it))
            continue;
        GtkTreeIter iter;
        gtk_list_store_prepend(transfers.store, &iter);
        fill_transfer_row(&iter, *it, true);
    }
    update_clear_button();
}

void show_resume_refusal(const DCC *dcc)
{
    std::string text;
    switch (dcc->resume_error) {
    case DCC_RESUME_NO_ACCESS: {
        char *t = g_strdup_printf(_("Cannot access file: %s\n%s.\nResuming not possible."), dcc->dest_path.c_str(),
                                  g_strerror(dcc->resume_errno));
        text = t;
        g_free(t);
        break;
    }
    case DCC_RESUME_COMPLETE:
        text = _("File in download directory is larger than file offered. Resuming not possible.");
        break;
    case DCC_RESUME_SAME_FILE:
        text = _("Cannot resume the same file from two people.");
        break;
    default:
        text = _("That file is not resumable.");
        break;
    }
    fe_message(text.c_str(), FE_MSG_ERROR);
}

void on_abort(GtkButton *, gpointer) noexcept
{
    guarded("DCC abort", [] {
        for (DCC *dcc : selected(transfers.view, COL_DCC))
            if (is_dcc(dcc))
                dcc_abort(dcc_session_for_ui(dcc), dcc);
        update_clear_button();
    });
}

void on_accept(GtkButton *, gpointer) noexcept
{
    guarded("DCC accept", [] {
        for (DCC *dcc : selected(transfers.view, COL_DCC))
            if (is_dcc(dcc) && dcc->kind != DCC_KIND_SEND)
                dcc_get(dcc);
    });
}

void on_resume(GtkButton *, gpointer) noexcept
{
    guarded("DCC resume", [] {
        const auto rows = selected(transfers.view, COL_DCC);
        if (rows.empty() || rows[0]->kind != DCC_KIND_RECV)
            return;
        if (!dcc_resume(rows[0]))
            show_resume_refusal(rows[0]);
    });
}

void on_clear(GtkButton *, gpointer) noexcept
{
    guarded("DCC clear", [] {
        std::vector<DCC *> done;
        for (GSList *l = dcc_list; l; l = l->next) {
            auto *dcc = static_cast<DCC *>(l->data);
            if (is_transfer(dcc) && is_dcc_completed(dcc))
                done.push_back(dcc);
        }
        for (DCC *dcc : done)
            if (is_dcc(dcc))
                dcc_abort(nullptr, dcc);
        update_clear_button();
    });
}

void on_open_folder(GtkButton *, gpointer) noexcept
{
    guarded("DCC folder", [] {
        const char *dir = prefs.dcc_completed_dir[0] ? prefs.dcc_completed_dir : prefs.dcc_dir;
        char *uri = g_filename_to_uri(dir, nullptr, nullptr);
        if (uri)
            fe_open_url(uri);
        g_free(uri);
    });
}

void on_transfer_activated(GtkTreeView *, GtkTreePath *path, GtkTreeViewColumn *, gpointer) noexcept
{
    guarded("DCC double-click", [&] {
        GtkTreeIter iter;
        if (!gtk_tree_model_get_iter(GTK_TREE_MODEL(transfers.store), &iter, path))
            return;
        gpointer p = nullptr;
        gtk_tree_model_get(GTK_TREE_MODEL(transfers.store), &iter, COL_DCC, &p, -1);
        auto *dcc = static_cast<DCC *>(p);
        if (!is_dcc(dcc))
            return;
        if (is_dcc_completed(dcc)) {
            dcc_abort(nullptr, dcc);
            update_clear_button();
        } else if (dcc->kind == DCC_KIND_RECV) {
            for (DCC *d : selected(transfers.view, COL_DCC))
                if (is_dcc(d) && d->kind != DCC_KIND_SEND)
                    dcc_get(d);
        }
    });
}

void on_filter(GtkToggleButton *button, gpointer data) noexcept
{
    guarded("DCC filter", [&] {
        if (!gtk_toggle_button_get_active(button))
            return;
        transfers.filter = GPOINTER_TO_INT(data);
        fill_transfers();
    });
}

gboolean on_transfer_configure(GtkWidget *, GdkEventConfigure *event, gpointer) noexcept
{
    remembered_width = event->width;
    remembered_height = event->height;
    return FALSE;
}

void on_transfer_destroy(GtkWidget *, gpointer) noexcept
{
    transfers = transfer_window{};
}

GtkTreeViewColumn *text_column(GtkTreeView *view, const char *title, int column, int colour_column, float xalign = 0.0f)
{
    GtkCellRenderer *r = gtk_cell_renderer_text_new();
    g_object_set(r, "xalign", xalign, nullptr);
    GtkTreeViewColumn *col =
        gtk_tree_view_column_new_with_attributes(title, r, "text", column, "foreground", colour_column, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_append_column(view, col);
    return col;
}

GtkWidget *button(GtkWidget *box, const char *label, GCallback cb)
{
    GtkWidget *b = gtk_button_new_with_mnemonic(label);
    g_signal_connect(b, "clicked", cb, nullptr);
    gtk_box_pack_end(GTK_BOX(box), b, FALSE, FALSE, 0);
    return b;
}

void build_transfer_window()
{
    transfers.window = utilwin_new_titled(_("Uploads and Downloads"), "Transfers", remembered_width, remembered_height);
    gtk_widget_set_name(transfers.window, "lumenwick-dcc-transfers");
    // A tab's size is the main window's, not the transfers window's.
    if (!utilwin_is_tab(transfers.window))
        g_signal_connect(transfers.window, "configure-event", G_CALLBACK(on_transfer_configure), nullptr);
    g_signal_connect(transfers.window, "destroy", G_CALLBACK(on_transfer_destroy), nullptr);

    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 6);
    gtk_container_add(GTK_CONTAINER(transfers.window), vbox);

    transfers.store =
        gtk_list_store_new(TRANSFER_COLUMNS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                           G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_POINTER, G_TYPE_STRING);
    GtkWidget *view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(transfers.store));
    g_object_unref(transfers.store);
    transfers.view = GTK_TREE_VIEW(view);
    GtkCellRenderer *icon = gtk_cell_renderer_pixbuf_new();
    gtk_tree_view_insert_column_with_attributes(transfers.view, -1, "", icon, "icon-name", COL_ICON, nullptr);
    text_column(transfers.view, _("Status"), COL_STATUS, COL_COLOR);
    GtkTreeViewColumn *file = text_column(transfers.view, _("File"), COL_FILE, COL_COLOR);
    gtk_tree_view_column_set_expand(file, TRUE);
    text_column(transfers.view, _("Size"), COL_SIZE, COL_COLOR, 1.0f);
    text_column(transfers.view, _("Position"), COL_POS, COL_COLOR, 1.0f);
    text_column(transfers.view, "%", COL_PERC, COL_COLOR, 1.0f);
    text_column(transfers.view, _("KB/s"), COL_SPEED, COL_COLOR, 1.0f);
    text_column(transfers.view, _("ETA"), COL_ETA, COL_COLOR);
    text_column(transfers.view, _("Nick"), COL_NICK, COL_COLOR);
    GtkTreeSelection *sel = gtk_tree_view_get_selection(transfers.view);
    gtk_tree_selection_set_mode(sel, GTK_SELECTION_MULTIPLE);
    g_signal_connect(sel, "changed", G_CALLBACK(transfer_selection_changed), nullptr);
    g_signal_connect(view, "row-activated", G_CALLBACK(on_transfer_activated), nullptr);
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    gtk_box_pack_start(GTK_BOX(vbox), scroll, TRUE, TRUE, 0);

    GtkWidget *filters = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget *both = gtk_radio_button_new_with_mnemonic(nullptr, _("Both"));
    GtkWidget *up = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(both), _("Uploads"));
    GtkWidget *down = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(both), _("Downloads"));
    g_signal_connect(both, "toggled", G_CALLBACK(on_filter), GINT_TO_POINTER(SHOW_BOTH));
    g_signal_connect(up, "toggled", G_CALLBACK(on_filter), GINT_TO_POINTER(SHOW_UPLOADS));
    g_signal_connect(down, "toggled", G_CALLBACK(on_filter), GINT_TO_POINTER(SHOW_DOWNLOADS));
    for (GtkWidget *w : {both, up, down})
        gtk_box_pack_start(GTK_BOX(filters), w, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(vbox), filters, FALSE, FALSE, 0);

    GtkWidget *details = gtk_expander_new(_("Details"));
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
    gtk_grid_attach(GTK_GRID(grid), gtk_label_new(_("File:")), 0, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), gtk_label_new(_("Address:")), 0, 1, 1, 1);
    transfers.file_label = gtk_label_new("");
    transfers.address_label = gtk_label_new("");
    for (GtkWidget *l : {transfers.file_label, transfers.address_label}) {
        gtk_label_set_selectable(GTK_LABEL(l), TRUE);
        gtk_widget_set_halign(l, GTK_ALIGN_START);
    }
    gtk_grid_attach(GTK_GRID(grid), transfers.file_label, 1, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), transfers.address_label, 1, 1, 1, 1);
    gtk_container_add(GTK_CONTAINER(details), grid);
    gtk_box_pack_start(GTK_BOX(vbox), details, FALSE, FALSE, 0);

    GtkWidget *buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget *folder = gtk_button_new_with_mnemonic(_("Open Folder..."));
    g_signal_connect(folder, "clicked", G_CALLBACK(on_open_folder), nullptr);
    gtk_box_pack_start(GTK_BOX(buttons), folder, FALSE, FALSE, 0);
    transfers.clear_button = button(buttons, _("Clear"), G_CALLBACK(on_clear));
    transfers.resume_button = button(buttons, _("Resume"), G_CALLBACK(on_resume));
    transfers.accept_button = button(buttons, _("Accept"), G_CALLBACK(on_accept));
    transfers.abort_button = button(buttons, _("Abort"), G_CALLBACK(on_abort));
    gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);

    transfers.filter = SHOW_BOTH;
    fill_transfers();
    transfer_selection_changed(nullptr, nullptr);
    gtk_widget_show_all(transfers.window);
}

// ---- chats -----------------------------------------------------------------------------------

void fill_chat_row(GtkTreeIter *iter, const DCC *dcc)
{
    const uint64_t sent_bytes = std::min(dcc->chat_sent, dcc->position);
    const std::string recv = human_size(dcc->position - sent_bytes), sent = human_size(sent_bytes);
    char start[64] = "";
    if (dcc->start_time) {
        GDateTime *t = g_date_time_new_from_unix_local(dcc->start_time);
        if (t) {
            char *s = g_date_time_format(t, "%c");
            g_strlcpy(start, s ? s : "", sizeof start);
            g_free(s);
            g_date_time_unref(t);
        }
    }
    gtk_list_store_set(chats.store, iter, CCOL_STATUS, _(dccstat[dcc->status].name), CCOL_NICK, dcc->nick.c_str(),
                       CCOL_RECV, recv.c_str(), CCOL_SENT, sent.c_str(), CCOL_START, start, CCOL_DCC, dcc, CCOL_COLOR,
                       state_colour(dcc->status), -1);
}

void chat_selection_changed(GtkTreeSelection *, gpointer) noexcept
{
    guarded("DCC chat selection", [] {
        const auto rows = selected(chats.view, CCOL_DCC);
        gtk_widget_set_sensitive(chats.abort_button, !rows.empty());
        bool can_accept = rows.size() > 1;
        if (rows.size() == 1)
            can_accept = rows[0]->kind == DCC_KIND_CHAT_IN && rows[0]->status == STAT_QUEUED;
        gtk_widget_set_sensitive(chats.accept_button, can_accept);
    });
}

void chat_accept_selected()
{
    for (DCC *dcc : selected(chats.view, CCOL_DCC))
        if (is_dcc(dcc))
            dcc_get(dcc);
}

void on_chat_accept(GtkButton *, gpointer) noexcept
{
    guarded("DCC chat accept", [] { chat_accept_selected(); });
}

void on_chat_abort(GtkButton *, gpointer) noexcept
{
    guarded("DCC chat abort", [] {
        for (DCC *dcc : selected(chats.view, CCOL_DCC))
            if (is_dcc(dcc))
                dcc_abort(dcc_session_for_ui(dcc), dcc);
    });
}

void on_chat_activated(GtkTreeView *, GtkTreePath *, GtkTreeViewColumn *, gpointer) noexcept
{
    guarded("DCC chat double-click", [] { chat_accept_selected(); });
}

void on_chat_destroy(GtkWidget *, gpointer) noexcept
{
    chats = chat_window{};
}

void build_chat_window()
{
    chats.window = utilwin_new_titled(_("DCC Chat List"), "DCCChats", 550, 180);
    gtk_widget_set_name(chats.window, "lumenwick-dcc-chats");
    g_signal_connect(chats.window, "destroy", G_CALLBACK(on_chat_destroy), nullptr);
    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 6);
    gtk_container_add(GTK_CONTAINER(chats.window), vbox);

    chats.store = gtk_list_store_new(CHAT_COLUMNS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                                     G_TYPE_STRING, G_TYPE_POINTER, G_TYPE_STRING);
    GtkWidget *view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(chats.store));
    g_object_unref(chats.store);
    chats.view = GTK_TREE_VIEW(view);
    text_column(chats.view, _("Status"), CCOL_STATUS, CCOL_COLOR);
    text_column(chats.view, _("Nick"), CCOL_NICK, CCOL_COLOR);
    text_column(chats.view, _("Recv"), CCOL_RECV, CCOL_COLOR, 1.0f);
    text_column(chats.view, _("Sent"), CCOL_SENT, CCOL_COLOR, 1.0f);
    text_column(chats.view, _("Start Time"), CCOL_START, CCOL_COLOR);
    GtkTreeSelection *sel = gtk_tree_view_get_selection(chats.view);
    gtk_tree_selection_set_mode(sel, GTK_SELECTION_MULTIPLE);
    g_signal_connect(sel, "changed", G_CALLBACK(chat_selection_changed), nullptr);
    g_signal_connect(view, "row-activated", G_CALLBACK(on_chat_activated), nullptr);
    GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    gtk_box_pack_start(GTK_BOX(vbox), scroll, TRUE, TRUE, 0);

    GtkWidget *buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    chats.accept_button = button(buttons, _("Accept"), G_CALLBACK(on_chat_accept));
    chats.abort_button = button(buttons, _("Abort"), G_CALLBACK(on_chat_abort));
    gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);

    int count = 0;
    for (GSList *l = dcc_list; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (is_transfer(dcc))
            continue;
        GtkTreeIter iter;
        gtk_list_store_append(chats.store, &iter);
        fill_chat_row(&iter, dcc);
        count++;
    }
    chat_selection_changed(nullptr, nullptr);
    if (count == 1) {
        GtkTreeIter iter;
        if (gtk_tree_model_get_iter_first(GTK_TREE_MODEL(chats.store), &iter))
            gtk_tree_selection_select_iter(sel, &iter);
    }
    gtk_widget_show_all(chats.window);
}

int open_transfer_window(int passive)
{
    if (transfers.window) {
        if (!passive)
            utilwin_present(transfers.window);
        return 1;
    }
    build_transfer_window();
    return 0;
}

struct file_request {
    session *sess;
    std::string nick;
    int maxcps;
    int passive;
};

// The chooser calls back once per chosen file (or once with none); the
// request lives until the next one replaces it.
std::unique_ptr<file_request> pending_request;

void on_files_chosen(void *data, char *file)
{
    auto *req = static_cast<file_request *>(data);
    if (!file || req != pending_request.get())
        return;
    if (is_session(req->sess))
        dcc_send(req->sess, req->nick.c_str(), file, req->maxcps, req->passive);
}

} // namespace

static session *dcc_session_for_ui(const DCC *dcc)
{
    if (dcc && dcc->serv) {
        for (GSList *l = sess_list; l; l = l->next) {
            auto *s = static_cast<session *>(l->data);
            if (s->server == dcc->serv)
                return s;
        }
    }
    return sess_list ? static_cast<session *>(sess_list->data) : nullptr;
}

void fe_dcc_add(DCC *dcc)
{
    guarded("fe_dcc_add", [&] {
        GtkTreeIter iter;
        if (is_transfer(dcc)) {
            if (!transfers.window || !shown_by_filter(dcc))
                return;
            gtk_list_store_prepend(transfers.store, &iter);
            fill_transfer_row(&iter, dcc, true);
            update_clear_button();
        } else if (chats.window) {
            gtk_list_store_prepend(chats.store, &iter);
            fill_chat_row(&iter, dcc);
        }
    });
}

void fe_dcc_update(DCC *dcc)
{
    guarded("fe_dcc_update", [&] {
        GtkTreeIter iter;
        if (is_transfer(dcc)) {
            if (!transfers.window)
                return;
            if (find_row(transfers.store, COL_DCC, dcc, &iter))
                fill_transfer_row(&iter, dcc, false);
            else if (shown_by_filter(dcc))
                fe_dcc_add(dcc);
            update_clear_button();
        } else if (chats.window && find_row(chats.store, CCOL_DCC, dcc, &iter)) {
            fill_chat_row(&iter, dcc);
        }
    });
}

void fe_dcc_remove(DCC *dcc)
{
    guarded("fe_dcc_remove", [&] {
        GtkTreeIter iter;
        if (transfers.window && find_row(transfers.store, COL_DCC, dcc, &iter)) {
            gtk_list_store_remove(transfers.store, &iter);
            update_clear_button();
        }
        if (chats.window && find_row(chats.store, CCOL_DCC, dcc, &iter))
            gtk_list_store_remove(chats.store, &iter);
    });
}

int fe_dcc_open_recv_win(int passive)
{
    return guarded<int>("fe_dcc_open_recv_win", 0, [&] { return open_transfer_window(passive); });
}

int fe_dcc_open_send_win(int passive)
{
    return guarded<int>("fe_dcc_open_send_win", 0, [&] { return open_transfer_window(passive); });
}

int fe_dcc_open_chat_win(int passive)
{
    return guarded<int>("fe_dcc_open_chat_win", 0, [&] {
        if (chats.window) {
            if (!passive)
                utilwin_present(chats.window);
            return 1;
        }
        build_chat_window();
        return 0;
    });
}

void fe_dcc_send_filereq(session *sess, char *nick, int maxcps, int passive)
{
    guarded("fe_dcc_send_filereq", [&] {
        char *title = g_strdup_printf(_("Send file to %s"), nick);
        pending_request = std::make_unique<file_request>(file_request{sess, nick, maxcps, passive});
        fe_get_file(title, prefs.dcc_dir, on_files_chosen, pending_request.get(), FRF_MULTIPLE);
        g_free(title);
    });
}
