// The network list window and the network editor in-process on a real
// display (run through with-xvfb.sh, which gives a private session bus),
// driven through their widgets, with the real core connecting to InspIRCd
// and Atheme from tests/harness. Any GLib warning or critical fails a test.
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "gui_main.h"
#include "gui_support.h"
#include "harness.h"
#include "mainwin/maingui.h"
#include "net/server.h"
#include "servlist/servlist-password.h"
#include "servlist/servlist.h"
#include "session/session.h"
#include "textview/gtkxtext.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace
{

constexpr const char *LIST_TITLE = "Network List - Lumenwick";
constexpr const char *ACCOUNT = "netlister";
constexpr const char *PASSWORD = "netlist-pw-1";

std::string tool(const char *name)
{
    char *found = g_find_program_in_path(name);
    std::string path = found ? found : name;
    g_free(found);
    return path;
}

GtkWidget *find_named(GtkWidget *root, const char *name)
{
    if (!root)
        return nullptr;
    if (g_strcmp0(gtk_widget_get_name(root), name) == 0)
        return root;
    if (!GTK_IS_CONTAINER(root))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget *found = nullptr;
    for (GList *l = children; l && !found; l = l->next)
        found = find_named(GTK_WIDGET(l->data), name);
    g_list_free(children);
    return found;
}

// A widget of the list window or the editor, by name; fails the test if missing.
GtkWidget *list_widget(const char *name)
{
    return find_named(find_shown_titled(LIST_TITLE), name);
}

GtkWidget *editor_widget(const std::string &network, const char *name)
{
    return find_named(find_shown_titled("Edit " + network + " - Lumenwick"), name);
}

void click(GtkWidget *button)
{
    ASSERT_NE(button, nullptr);
    gtk_button_clicked(GTK_BUTTON(button));
    pump_until([] { return false; }, 30);
}

void set_text(GtkWidget *entry, const char *text)
{
    ASSERT_NE(entry, nullptr);
    gtk_entry_set_text(GTK_ENTRY(entry), text);
}

void tick(GtkWidget *check, bool on)
{
    ASSERT_NE(check, nullptr);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), on);
}

// Types `text` into cell `column` of row `row` as in-place editing ends.
void edit_cell(GtkWidget *view, int row, int column, const char *text)
{
    ASSERT_NE(view, nullptr);
    GtkTreeViewColumn *col = gtk_tree_view_get_column(GTK_TREE_VIEW(view), column);
    GList *cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(col));
    ASSERT_NE(cells, nullptr);
    gchar *path = g_strdup_printf("%d", row);
    g_signal_emit_by_name(cells->data, "edited", path, text);
    g_free(path);
    g_list_free(cells);
}

// A key press with Shift held, delivered to `widget` as the toolkit would.
void shift_key(GtkWidget *widget, guint keyval)
{
    GdkEvent *event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->key.keyval = keyval;
    event->key.state = GDK_SHIFT_MASK;
    event->key.time = GDK_CURRENT_TIME;
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(widget, event);
    gdk_event_free(event);
}

int row_count(GtkWidget *view)
{
    return gtk_tree_model_iter_n_children(gtk_tree_view_get_model(GTK_TREE_VIEW(view)), nullptr);
}

std::string row_text(GtkWidget *view, int row, int *weight = nullptr)
{
    GtkTreeModel *model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(model, &iter, nullptr, row))
        return "<no row>";
    gchar *text = nullptr;
    gtk_tree_model_get(model, &iter, 0, &text, -1);
    if (weight)
        gtk_tree_model_get(model, &iter, 2, weight, -1);
    std::string s = text ? text : "";
    g_free(text);
    return s;
}

void select_row(GtkWidget *view, int row)
{
    GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), path);
    gtk_tree_path_free(path);
}

std::string icon_tooltip(GtkWidget *entry)
{
    gchar *tip = gtk_entry_get_icon_tooltip_text(GTK_ENTRY(entry), GTK_ENTRY_ICON_SECONDARY);
    std::string s = tip ? tip : "";
    g_free(tip);
    return s;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string servlist_file()
{
    return read_file(std::string(get_xdir()) + "/servlist.conf");
}

std::string all_text()
{
    std::string s;
    for (GSList *l = sess_list; l; l = l->next) {
        tab_state *t = tab_of(static_cast<session *>(l->data));
        if (!t || !t->buffer)
            continue;
        s += gtk_xtext_buffer_model(t->buffer).save_text();
    }
    return s;
}

session *channel_session(const char *name)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *s = static_cast<session *>(l->data);
        if (s->type == SESS_CHANNEL && g_ascii_strcasecmp(s->channel, name) == 0)
            return s;
    }
    return nullptr;
}

// Closes every message box; returns their texts, one a line.
std::string close_messages()
{
    std::string texts;
    GList *all = gtk_window_list_toplevels();
    for (GList *l = all; l; l = l->next) {
        if (!GTK_IS_MESSAGE_DIALOG(l->data) || !gtk_widget_get_visible(GTK_WIDGET(l->data)))
            continue;
        gchar *text = nullptr;
        g_object_get(l->data, "text", &text, nullptr);
        texts += std::string(text ? text : "") + "\n";
        g_free(text);
        gtk_widget_destroy(GTK_WIDGET(l->data));
    }
    g_list_free(all);
    return texts;
}

int logins_shown()
{
    return count_in(all_text(), "You are now logged in as netlister");
}

class NetworkList : public ::testing::Test
{
  protected:
    // A server tab that lives through the run, so closing the list never ends the program.
    static void SetUpTestSuite()
    {
        if (!anchor)
            anchor = new_ircwindow(nullptr, nullptr, SESS_SERVER, 0);
    }
    void SetUp() override
    {
        logged_problems = 0;
        g_strlcpy(prefs.irc_nick1, "lister", sizeof prefs.irc_nick1);
        g_strlcpy(prefs.irc_nick2, "lister_", sizeof prefs.irc_nick2);
        g_strlcpy(prefs.irc_user_name, "lister", sizeof prefs.irc_user_name);
        prefs.gui_slist_fav = 0;
    }
    void TearDown() override
    {
        if (GtkWidget *w = find_shown_titled(LIST_TITLE))
            gtk_widget_destroy(w);
        pump_until([] { return false; }, 20);
        EXPECT_EQ(logged_problems, 0) << "GLib logged warnings or criticals";
    }
    void open_list()
    {
        fe_serverlist_open(nullptr);
        ASSERT_TRUE(pump_until([] { return find_shown_titled(LIST_TITLE) != nullptr; }));
        view = list_widget("lumenwick-netlist-view");
        ASSERT_NE(view, nullptr);
    }
    // Adds a network through the window, named `name`; returns it.
    ircnet *add_network(const char *name)
    {
        click(list_widget("lumenwick-netlist-add"));
        edit_cell(view, 0, 0, name);
        ircnet *net = servlist_net_find(name, nullptr, strcmp);
        EXPECT_NE(net, nullptr);
        return net;
    }
    void open_editor_of(ircnet *net)
    {
        const int pos = g_slist_index(network_list, net);
        ASSERT_GE(pos, 0);
        select_row(view, pos);
        click(list_widget("lumenwick-netlist-edit"));
        ASSERT_NE(editor_widget(net->name, "lumenwick-netedit-close"), nullptr);
    }
    void close_editor(ircnet *net)
    {
        const std::string name = net->name;
        click(editor_widget(name, "lumenwick-netedit-close"));
        ASSERT_TRUE(pump_until([&] { return !editor_widget(name, "lumenwick-netedit-close"); }))
            << "the editor did not close";
    }

    static inline session *anchor = nullptr;
    GtkWidget *view = nullptr;
};

TEST_F(NetworkList, IdentityIsCheckedAsTypedAndConnectFollowsIt)
{
    open_list();
    // The built-in networks, with the remembered one selected.
    EXPECT_EQ(row_count(view), int(g_slist_length(network_list)));
    GtkWidget *connect = list_widget("lumenwick-netlist-connect");
    GtkWidget *nick1 = list_widget("lumenwick-netlist-nick1");
    GtkWidget *nick2 = list_widget("lumenwick-netlist-nick2");
    GtkWidget *user = list_widget("lumenwick-netlist-user");
    EXPECT_TRUE(gtk_widget_get_sensitive(connect));

    // Equal under IRC case folding: the entry typed in carries the error.
    set_text(nick2, "LISTER");
    EXPECT_FALSE(gtk_widget_get_sensitive(connect));
    EXPECT_EQ(icon_tooltip(nick2), "You must have two unique nick names.");
    EXPECT_EQ(icon_tooltip(nick1), "");
    set_text(nick1, "Lister");
    EXPECT_EQ(icon_tooltip(nick1), "You must have two unique nick names.");
    EXPECT_EQ(icon_tooltip(nick2), "");

    set_text(nick2, "other");
    set_text(nick1, "");
    EXPECT_EQ(icon_tooltip(nick1), "You cannot have an empty nick name.");
    EXPECT_FALSE(gtk_widget_get_sensitive(connect));
    set_text(nick1, "lister");
    set_text(user, "");
    EXPECT_EQ(icon_tooltip(user), "User name cannot be left blank.");
    EXPECT_FALSE(gtk_widget_get_sensitive(connect));
    set_text(user, "two words");
    EXPECT_TRUE(gtk_widget_get_sensitive(connect));
    EXPECT_EQ(icon_tooltip(user), "");

    // Closing stores a valid identity, the user name cut at its blank.
    click(list_widget("lumenwick-netlist-close"));
    EXPECT_EQ(find_shown_titled(LIST_TITLE), nullptr);
    EXPECT_STREQ(prefs.irc_nick2, "other");
    EXPECT_STREQ(prefs.irc_user_name, "two");
    EXPECT_NE(read_file(std::string(get_xdir()) + "/lumenwick.conf").find("irc_user_name = two\n"), std::string::npos);
}

TEST_F(NetworkList, NetworksAreAddedRenamedFavouredAndRemovedInTheFile)
{
    open_list();
    const int before = row_count(view);
    ircnet *net = add_network("Window Net");
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(row_text(view, 0), "Window Net");
    EXPECT_EQ(network_list->data, net);
    EXPECT_STREQ(net->charset, "UTF-8 (Unicode)");
    const std::string file = servlist_file();
    EXPECT_NE(file.find("N=Window Net\n"), std::string::npos) << file;
    EXPECT_NE(file.find("S=newserver/6697\n"), std::string::npos);

    select_row(view, 0);
    click(list_widget("lumenwick-netlist-favor"));
    int weight = 0;
    EXPECT_EQ(row_text(view, 0, &weight), "Window Net");
    EXPECT_EQ(weight, 800);
    EXPECT_NE(servlist_file().find("F=" + std::to_string(net->flags) + "\n"), std::string::npos);
    EXPECT_TRUE(net->flags & NET_FAVORITE);

    // Shift+Down moves the network one place, not the selection.
    shift_key(view, GDK_KEY_Down);
    EXPECT_EQ(g_slist_index(network_list, net), 1);
    EXPECT_EQ(row_text(view, 1), "Window Net");
    EXPECT_EQ(prefs.gui_slist_select, 1);
    shift_key(view, GDK_KEY_Up);
    EXPECT_EQ(network_list->data, net);

    // Favourites only: the one favourite, in normal weight.
    tick(list_widget("lumenwick-netlist-favonly"), true);
    ASSERT_EQ(row_count(view), 1);
    EXPECT_EQ(row_text(view, 0, &weight), "Window Net");
    EXPECT_EQ(weight, 400);
    tick(list_widget("lumenwick-netlist-favonly"), false);
    EXPECT_EQ(row_count(view), before + 1);

    // An emptied name removes the network, from memory and from the file.
    edit_cell(view, 0, 0, "");
    EXPECT_EQ(servlist_net_find("Window Net", nullptr, strcmp), nullptr);
    EXPECT_EQ(row_count(view), before);
    EXPECT_EQ(servlist_file().find("N=Window Net\n"), std::string::npos);

    // A save that fails is reported, and the change stays in memory.
    const std::string path = std::string(get_xdir()) + "/servlist.conf";
    const std::string saved = servlist_file();
    std::filesystem::create_directories(path + ".new/x");
    auto *first = static_cast<ircnet *>(network_list->data);
    select_row(view, 0);
    click(list_widget("lumenwick-netlist-favor"));
    EXPECT_TRUE(first->flags & NET_FAVORITE);
    EXPECT_EQ(servlist_file(), saved);
    EXPECT_NE(close_messages().find("Could not save"), std::string::npos);
    std::filesystem::remove_all(path + ".new");
    first->flags &= ~NET_FAVORITE;
}

TEST_F(NetworkList, EditorMasksRevealsAndSettlesThePasswordEncrypted)
{
    open_list();
    ircnet *net = add_network("Pw Net");
    ASSERT_NE(net, nullptr);
    net->password = g_strdup("plain-old");
    net->login_method = LOGIN_METHOD_SASL_PLAIN;
    open_editor_of(net);
    auto w = [&](const char *name) { return editor_widget("Pw Net", name); };
    GtkWidget *password = w("lumenwick-netedit-password");
    ASSERT_NE(password, nullptr);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(password)), "***");
    EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(password)));
    EXPECT_TRUE(gtk_widget_get_sensitive(w("lumenwick-netedit-encrypt")));

    tick(w("lumenwick-netedit-show-password"), true);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(password)), "plain-old");
    EXPECT_TRUE(gtk_entry_get_visibility(GTK_ENTRY(password)));
    tick(w("lumenwick-netedit-show-password"), false);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(password)), "***");

    // A certificate logs in alone: no password with SASL EXTERNAL.
    GtkWidget *login = w("lumenwick-netedit-login");
    gtk_combo_box_set_active(GTK_COMBO_BOX(login), 2);
    EXPECT_EQ(net->login_method, LOGIN_METHOD_SASL_EXTERNAL);
    EXPECT_FALSE(gtk_widget_get_sensitive(password));
    gtk_combo_box_set_active(GTK_COMBO_BOX(login), 1);
    EXPECT_TRUE(gtk_widget_get_sensitive(password));

    // The last server stays; a second one can go.
    GtkWidget *servers = w("lumenwick-netedit-servers");
    click(w("lumenwick-netedit-servers-1"));
    EXPECT_EQ(g_slist_length(net->servers), 1u);
    click(w("lumenwick-netedit-servers-0"));
    edit_cell(servers, 1, 0, "second.example/6667");
    ASSERT_EQ(g_slist_length(net->servers), 2u);
    select_row(servers, 0);
    click(w("lumenwick-netedit-servers-1"));
    ASSERT_EQ(g_slist_length(net->servers), 1u);
    EXPECT_STREQ(static_cast<ircserver *>(net->servers->data)->address, "second.example/6667");

    set_text(password, "typed-new");
    EXPECT_FALSE(gtk_widget_get_sensitive(w("lumenwick-netedit-encrypt")));
    tick(w("lumenwick-netedit-keyring"), false);
    set_text(w("lumenwick-netedit-nick"), "pwnick");
    close_editor(net);

    ASSERT_TRUE(servlist_password_is_encrypted(net->password)) << (net->password ? net->password : "(none)");
    char *plain = servlist_password_decrypt_for_storage(net->password);
    EXPECT_STREQ(plain, "typed-new");
    servlist_password_free(plain);
    EXPECT_STREQ(net->nick, "pwnick");
    const std::string file = servlist_file();
    EXPECT_NE(file.find(std::string("P=") + net->password + "\n"), std::string::npos);
    EXPECT_EQ(file.find("typed-new"), std::string::npos);

    // Asking on connect drops what was stored.
    open_editor_of(net);
    tick(editor_widget("Pw Net", "lumenwick-netedit-ask-password"), true);
    EXPECT_FALSE(gtk_widget_get_sensitive(editor_widget("Pw Net", "lumenwick-netedit-password")));
    close_editor(net);
    EXPECT_EQ(net->password, nullptr);
    EXPECT_TRUE(net->flags & NET_ASK_PASSWORD);
    EXPECT_EQ(servlist_file().find("P=enc:"), std::string::npos);
    servlist_net_remove(net);
}

// ---- with InspIRCd and Atheme ----------------------------------------------------------------

class HarnessNet : public NetworkList
{
  protected:
    static void SetUpTestSuite()
    {
        NetworkList::SetUpTestSuite();
        lab = new test_lab;
        if (!lab->ok() || !lab->script("services-up.sh")) {
            setup_log = lab->log();
            return;
        }
        run_options reg;
        reg.args = {std::string(LUMENWICK_HARNESS_DIR) + "/services-account.py",
                    "--port",
                    std::to_string(lab->port("irc")),
                    "register",
                    "--account",
                    ACCOUNT,
                    "--password",
                    PASSWORD};
        const run_result r = run_program(tool("python3"), reg, "", 30000);
        if (r.exit_code != 0) {
            setup_log = lab->log() + r.out + r.err;
            return;
        }
        setenv("SSL_CERT_FILE", lab->ca_file().c_str(), 1);
        ready = true;
    }
    static void TearDownTestSuite()
    {
        if (lab)
            lab->script("services-down.sh");
        delete lab;
        lab = nullptr;
    }
    void SetUp() override
    {
        NetworkList::SetUp();
        ASSERT_TRUE(ready) << setup_log;
    }
    // A network made in the window and editor: one server, TLS as asked,
    // SASL PLAIN with the account's password unless `login` says otherwise.
    ircnet *make_network(const char *name, const std::string &server, bool tls, int login_row, bool keyring)
    {
        ircnet *net = add_network(name);
        if (!net)
            return nullptr;
        open_editor_of(net);
        auto w = [&](const char *widget) { return editor_widget(name, widget); };
        edit_cell(w("lumenwick-netedit-servers"), 0, 0, server.c_str());
        tick(w("lumenwick-netedit-tls"), tls);
        tick(w("lumenwick-netedit-global"), false);
        set_text(w("lumenwick-netedit-nick"), ACCOUNT);
        set_text(w("lumenwick-netedit-username"), ACCOUNT);
        gtk_combo_box_set_active(GTK_COMBO_BOX(w("lumenwick-netedit-login")), login_row);
        if (login_row != 2)
            set_text(w("lumenwick-netedit-password"), PASSWORD);
        tick(w("lumenwick-netedit-keyring"), keyring);
        return net;
    }
    void connect_and_wait_login()
    {
        const int before = logins_shown();
        click(list_widget("lumenwick-netlist-connect"));
        EXPECT_EQ(find_shown_titled(LIST_TITLE), nullptr) << "Connect closes the window";
        EXPECT_TRUE(pump_until([&] { return logins_shown() > before; }, 20000)) << all_text();
    }

    static inline test_lab *lab = nullptr;
    static inline bool ready = false;
    static inline std::string setup_log;
};

TEST_F(HarnessNet, NetworkAddedInTheWindowIsSavedAndConnectJoinsItsChannel)
{
    open_list();
    ircnet *net = add_network("Harness Net");
    ASSERT_NE(net, nullptr);
    open_editor_of(net);
    auto w = [&](const char *name) { return editor_widget("Harness Net", name); };
    const std::string server = "127.0.0.1/" + std::to_string(lab->port("irc"));
    edit_cell(w("lumenwick-netedit-servers"), 0, 0, server.c_str());
    tick(w("lumenwick-netedit-tls"), false);
    click(w("lumenwick-netedit-channels-0"));
    edit_cell(w("lumenwick-netedit-channels"), 0, 0, "#netlist");
    close_editor(net);
    const std::string file = servlist_file();
    EXPECT_NE(file.find("S=" + server + "\n"), std::string::npos) << file;
    EXPECT_NE(file.find("J=#netlist\n"), std::string::npos) << file;

    click(list_widget("lumenwick-netlist-connect"));
    EXPECT_EQ(find_shown_titled(LIST_TITLE), nullptr);
    ASSERT_TRUE(pump_until([] { return channel_session("#netlist") != nullptr; }, 20000)) << all_text();
    EXPECT_EQ(channel_session("#netlist")->server->network, net);
}

TEST_F(HarnessNet, EncryptedPasswordLogsInWithSaslPlain)
{
    open_list();
    const std::string server = "127.0.0.1/" + std::to_string(lab->port("irc"));
    ircnet *net = make_network("Enc Net", server, false, 1, false);
    ASSERT_NE(net, nullptr);
    close_editor(net);
    const std::string file = servlist_file();
    EXPECT_NE(file.find("P=enc:"), std::string::npos) << file;
    EXPECT_EQ(file.find(PASSWORD), std::string::npos);
    connect_and_wait_login();
}

// gnome-keyring on the test's own session bus, unlocked.
TEST_F(HarnessNet, KeyringPasswordLogsInWithSaslPlain)
{
    const std::filesystem::path home = lab->dir() / "keyring-home";
    std::filesystem::create_directories(home / "run");
    std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
    run_options kd;
    kd.args = {"--foreground", "--unlock", "--components=secrets"};
    kd.set_env = {{"HOME", home.string()},
                  {"XDG_DATA_HOME", (home / "data").string()},
                  {"XDG_RUNTIME_DIR", (home / "run").string()}};
    child_process daemon(tool("gnome-keyring-daemon"), kd);
    ASSERT_TRUE(daemon.started());
    daemon.write("unlock-pw");
    daemon.close_input();
    run_options ask;
    ask.args = {"--session",
                "--print-reply",
                "--dest=org.freedesktop.DBus",
                "/org/freedesktop/DBus",
                "org.freedesktop.DBus.NameHasOwner",
                "string:org.freedesktop.secrets"};
    bool owned = false;
    for (int i = 0; i < 100 && !owned; i++, g_usleep(50000))
        owned = run_program(tool("dbus-send"), ask, "", 2000).out.find("boolean true") != std::string::npos;
    ASSERT_TRUE(owned) << daemon.err();

    open_list();
    const std::string server = "127.0.0.1/" + std::to_string(lab->port("irc"));
    ircnet *net = make_network("Ring Net", server, false, 1, true);
    ASSERT_NE(net, nullptr);
    close_editor(net);
    EXPECT_TRUE(net->flags & NET_KEYRING);
    EXPECT_EQ(net->password, nullptr);
    EXPECT_EQ(servlist_file().find(PASSWORD), std::string::npos);
    run_options lookup;
    lookup.args = {"lookup", "network", "lumenwick/network/Ring Net"};
    EXPECT_EQ(run_program(tool("secret-tool"), lookup, "", 20000).out, PASSWORD);
    connect_and_wait_login();
}

TEST_F(HarnessNet, GeneratedCertificateStaysInCertsAndLogsInWithExternal)
{
    open_list();
    // A name that would leave certs/ and add a subject field if taken as it is.
    const char *name = "../a/CN=b";
    const std::string server = "localhost/+" + std::to_string(lab->port("irc-tls"));
    ircnet *net = make_network(name, server, true, 2, false);
    ASSERT_NE(net, nullptr);
    auto w = [&](const char *widget) { return editor_widget(name, widget); };
    EXPECT_TRUE(gtk_widget_get_visible(w("lumenwick-netedit-cert-generate")));
    EXPECT_FALSE(gtk_widget_get_visible(w("lumenwick-netedit-cert-info")));
    click(w("lumenwick-netedit-cert-generate"));
    ASSERT_TRUE(gtk_widget_get_visible(w("lumenwick-netedit-cert-info"))) << "no certificate was made";
    EXPECT_FALSE(gtk_widget_get_visible(w("lumenwick-netedit-cert-generate")));
    EXPECT_NE(close_messages().find("Client certificate generated for \"../a/CN=b\"."), std::string::npos);
    close_editor(net);

    const std::string pem = std::string(get_xdir()) + "/certs/_._a_CN=b.pem";
    struct stat st {
    };
    ASSERT_EQ(stat(pem.c_str(), &st), 0) << "certificate not at " << pem;
    EXPECT_EQ(st.st_mode & 0777, 0600);
    // One subject field, holding the whole name.
    FILE *f = fopen(pem.c_str(), "r");
    ASSERT_NE(f, nullptr);
    X509 *cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    fclose(f);
    ASSERT_NE(cert, nullptr);
    X509_NAME *subject = X509_get_subject_name(cert);
    EXPECT_EQ(X509_NAME_entry_count(subject), 1);
    char cn[64] = {};
    X509_NAME_get_text_by_NID(subject, NID_commonName, cn, sizeof cn);
    EXPECT_STREQ(cn, name);
    X509_free(cert);

    run_options add;
    add.args = {std::string(LUMENWICK_HARNESS_DIR) + "/services-account.py",
                "--port",
                std::to_string(lab->port("irc-tls")),
                "add-cert",
                "--account",
                ACCOUNT,
                "--password",
                PASSWORD,
                "--cert",
                pem};
    const run_result r = run_program(tool("python3"), add, "", 30000);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    connect_and_wait_login();

    // Deleting it brings back the buttons that make one.
    open_list();
    open_editor_of(net);
    click(w("lumenwick-netedit-cert-delete"));
    EXPECT_NE(close_messages().find("Client certificate removed for \"../a/CN=b\"."), std::string::npos);
    EXPECT_TRUE(gtk_widget_get_visible(w("lumenwick-netedit-cert-generate")));
    EXPECT_FALSE(gtk_widget_get_visible(w("lumenwick-netedit-cert-delete")));
    EXPECT_FALSE(std::filesystem::exists(pem));
    close_editor(net);
}

} // namespace

int main(int argc, char **argv)
{
    return run_gui_tests(argc, argv, [](const char *) {
        prefs.net_auto_reconnectonfail = 0;
        servlist_init();
    });
}
