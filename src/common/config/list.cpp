// The NAME/CMD list files of the configuration directory: menus, buttons,
// user commands, CTCP replies, replacements and URL handlers.
#include "config/list.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"

#include <cstring>
#include <string>

GSList *popup_list = nullptr;
GSList *usermenu_list = nullptr;
GSList *button_list = nullptr;
GSList *dlgbutton_list = nullptr;
GSList *tabmenu_list = nullptr;
GSList *ctcp_list = nullptr;
GSList *command_list = nullptr;
GSList *replace_list = nullptr;
GSList *urlhandler_list = nullptr;

namespace
{

// A record as it appears in a list file.
void add_record(std::string &out, const std::string &name, const char *cmd)
{
    out += "NAME ";
    out += name;
    out += "\nCMD ";
    out += cmd;
    out += "\n\n";
}

// Menu labels are translated before parsing; the icon rides after the label.
std::string label(const char *text, const char *icon = nullptr)
{
    std::string l = _(text);
    if (icon) {
        l += '~';
        l += icon;
        l += '~';
    }
    return l;
}

std::string builtin_popup()
{
    std::string t;
    add_record(t, label("_Open Dialog Window", "lwk-menu-new"), "query %s");
    add_record(t, label("_Send a File\u2026", "lwk-menu-save"), "send %s");
    add_record(t, label("_User Info (WhoIs)", "lwk-menu-about"), "whois %s %s");
    add_record(t, label("_Add to Friends List\u2026", "lwk-menu-add"), "notify -n ASK %s");
    add_record(t, label("_Ignore", "lwk-menu-remove"), "ignore %s!*@* ALL");
    add_record(t, "SUB", _("O_perator Actions"));
    add_record(t, label("Give Ops"), "op %a");
    add_record(t, label("Take Ops"), "deop %a");
    add_record(t, "SEP", "");
    add_record(t, label("Give Voice"), "voice %a");
    add_record(t, label("Take Voice"), "devoice %a");
    add_record(t, "SEP", "");
    add_record(t, "SUB", _("Kick/Ban"));
    add_record(t, label("Kick"), "kick %s");
    add_record(t, label("Ban"), "ban %s");
    add_record(t, "SEP", "");
    static const char *const masks[] = {"*!*@*.host", "*!*@domain", "*!*user@*.host", "*!*user@domain"};
    for (int i = 0; i < 4; i++)
        add_record(t, label("Ban") + " " + masks[i], ("ban %s " + std::to_string(i)).c_str());
    add_record(t, "SEP", "");
    for (int i = 0; i < 4; i++)
        add_record(t, label("KickBan") + " " + masks[i], ("kickban %s " + std::to_string(i)).c_str());
    add_record(t, "ENDSUB", "");
    add_record(t, "ENDSUB", "");
    return t;
}

std::string builtin_usermenu()
{
    std::string t;
    add_record(t, label("Leave Channel"), "part");
    add_record(t, label("Join Channel..."),
               (std::string("getstr # join \"") + _("Enter Channel to Join:") + "\"").c_str());
    add_record(t, label("Server Links"), "quote LINKS");
    add_record(t, label("Ping Server"), "ping");
    add_record(t, std::string("TOGGLE ") + _("Hide Version"), "irc_hide_version");
    return t;
}

std::string builtin_buttons()
{
    std::string t;
    add_record(t, label("Op"), "op %a");
    add_record(t, label("DeOp"), "deop %a");
    add_record(t, label("Ban"), "ban %s");
    add_record(t, label("Kick"),
               (std::string("getstr \"bye\" \"kick %s\" \"") + _("Enter reason to kick %s:") + "\"").c_str());
    add_record(t, label("Send File"), "send %s");
    add_record(t, label("Dialog"), "query %s");
    return t;
}

std::string builtin_dlgbuttons()
{
    std::string t;
    add_record(t, label("WhoIs"), "whois %s %s");
    add_record(t, label("Send"), "send %s");
    add_record(t, label("Chat"), "dcc chat %s");
    add_record(t, label("Clear"), "clear");
    add_record(t, label("Ping"), "ping %s");
    return t;
}

// CTCP names and user-command names are protocol words, never translated.
const char builtin_ctcpreply[] = "NAME TIME\nCMD nctcp %s TIME %t\n\n"
                                 "NAME PING\nCMD nctcp %s PING %d\n\n";

const char builtin_commands[] = "NAME ACTION\nCMD me &2\n\n"
                                "NAME AME\nCMD allchan me &2\n\n"
                                "NAME ANICK\nCMD allserv nick &2\n\n"
                                "NAME AMSG\nCMD allchan say &2\n\n"
                                "NAME BANLIST\nCMD quote MODE %c +b\n\n"
                                "NAME CHAT\nCMD dcc chat %2\n\n"
                                "NAME DIALOG\nCMD query %2\n\n"
                                "NAME DMSG\nCMD msg =%2 &3\n\n"
                                "NAME EXIT\nCMD quit\n\n"
                                "NAME GREP\nCMD lastlog -r -- &2\n\n"
                                "NAME IGNALL\nCMD ignore %2!*@* ALL\n\n"
                                "NAME J\nCMD join &2\n\n"
                                "NAME KILL\nCMD quote KILL %2 :&3\n\n"
                                "NAME LEAVE\nCMD part &2\n\n"
                                "NAME M\nCMD msg &2\n\n"
                                "NAME OMSG\nCMD msg @%c &2\n\n"
                                "NAME ONOTICE\nCMD notice @%c &2\n\n"
                                "NAME RAW\nCMD quote &2\n\n"
                                "NAME SERVHELP\nCMD quote HELP\n\n"
                                "NAME SPING\nCMD ping\n\n"
                                "NAME SQUERY\nCMD quote SQUERY %2 :&3\n\n"
                                "NAME SSLSERVER\nCMD server -ssl &2\n\n"
                                "NAME SV\nCMD echo Lumenwick %v %m\n\n"
                                "NAME UMODE\nCMD mode %n &2\n\n"
                                "NAME UPTIME\nCMD quote STATS u\n\n"
                                "NAME VER\nCMD ctcp %2 VERSION\n\n"
                                "NAME VERSION\nCMD ctcp %2 VERSION\n\n"
                                "NAME WALLOPS\nCMD quote WALLOPS :&2\n\n"
                                "NAME WI\nCMD quote WHOIS %2\n\n"
                                "NAME WII\nCMD quote WHOIS %2 %2\n\n";

const char builtin_replace[] = "NAME teh\nCMD the\n\n";

std::string builtin_urlhandlers()
{
    std::string t;
    add_record(t, label("Open Link in a new Firefox Window"), "!firefox -new-window %s");
    return t;
}

// Copies a field of a list line into `dest` (size bytes): invalid UTF-8
// from a damaged file is repaired and a cut never splits a character.
void copy_field(char *dest, std::size_t size, const char *src, std::size_t len)
{
    if (const void *nul = memchr(src, '\0', len))
        len = static_cast<std::size_t>(static_cast<const char *>(nul) - src);
    if (len > size + 8)
        len = size + 8; // the rest cannot fit anyway
    char *copy = g_utf8_validate(src, static_cast<gssize>(len), nullptr)
                     ? g_strndup(src, len)
                     : g_utf8_make_valid(src, static_cast<gssize>(len));
    safe_strcpy(dest, copy, size);
    g_free(copy);
}

void parse_list(GSList **list, const char *data, std::size_t len)
{
    char name[LIST_NAME_MAX + 1] = "";
    char cmd[LIST_CMD_MAX + 1];
    const char *end = data + len;
    const char *line = data;
    while (line < end) {
        const char *eol = static_cast<const char *>(memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (!eol)
            eol = end;
        const char *stop = eol;
        if (stop > line && stop[-1] == '\r')
            stop--;
        std::size_t line_len = static_cast<std::size_t>(stop - line);
        if (line_len >= 5 && g_ascii_strncasecmp(line, "NAME ", 5) == 0) {
            copy_field(name, sizeof(name), line + 5, line_len - 5);
        } else if (line_len >= 4 && g_ascii_strncasecmp(line, "CMD ", 4) == 0) {
            // A command with no name before it would make a nameless menu
            // item or an alias nobody can type.
            if (name[0]) {
                copy_field(cmd, sizeof(cmd), line + 4, line_len - 4);
                list_addentry(list, cmd, name);
            }
            name[0] = '\0';
        }
        line = eol + 1;
    }
}

} // namespace

void list_addentry(GSList **list, const char *cmd, const char *name)
{
    if (!list)
        return;
    if (!cmd)
        cmd = "";
    if (!name)
        name = "";
    std::size_t cmd_len = strlen(cmd) + 1;
    std::size_t name_len = strlen(name) + 1;
    // One block for the record and both strings: g_free releases it all.
    auto *block = static_cast<char *>(g_malloc0(sizeof(popup) + cmd_len + name_len));
    auto *pop = reinterpret_cast<popup *>(block);
    pop->cmd = block + sizeof(popup);
    pop->name = pop->cmd + cmd_len;
    memcpy(pop->cmd, cmd, cmd_len);
    memcpy(pop->name, name, name_len);
    *list = g_slist_append(*list, pop);
}

bool list_delentry(GSList **list, const char *name)
{
    if (!list || !name)
        return false;
    for (GSList *item = *list; item; item = item->next) {
        auto *pop = static_cast<popup *>(item->data);
        if (g_ascii_strcasecmp(pop->name, name) == 0) {
            *list = g_slist_delete_link(*list, item);
            g_free(pop);
            return true;
        }
    }
    return false;
}

void list_free(GSList **list)
{
    if (!list)
        return;
    g_slist_free_full(*list, g_free);
    *list = nullptr;
}

void list_loadconf(const char *file, GSList **list, const char *defaultconf)
{
    if (!file || !list)
        return;
    char *path = g_build_filename(get_xdir(), file, nullptr);
    gchar *data = nullptr;
    gsize len = 0;
    if (g_file_get_contents(path, &data, &len, nullptr)) {
        parse_list(list, data, len);
        g_free(data);
    } else if (defaultconf) {
        parse_list(list, defaultconf, strlen(defaultconf));
    }
    g_free(path);
}

void list_load_all(void)
{
    struct list_file {
        const char *file;
        GSList **list;
        std::string builtin;
    };
    const list_file files[] = {
        {"popup.conf", &popup_list, builtin_popup()},
        {"usermenu.conf", &usermenu_list, builtin_usermenu()},
        {"buttons.conf", &button_list, builtin_buttons()},
        {"dlgbuttons.conf", &dlgbutton_list, builtin_dlgbuttons()},
        {"tabmenu.conf", &tabmenu_list, ""},
        {"ctcpreply.conf", &ctcp_list, builtin_ctcpreply},
        {"commands.conf", &command_list, builtin_commands},
        {"replace.conf", &replace_list, builtin_replace},
        {"urlhandlers.conf", &urlhandler_list, builtin_urlhandlers()},
    };
    for (const list_file &f : files) {
        list_free(f.list);
        list_loadconf(f.file, f.list, f.builtin.c_str());
    }
}

bool list_save(const char *file, GSList *list)
{
    if (!file)
        return false;
    std::string out;
    for (GSList *item = list; item; item = item->next) {
        auto *pop = static_cast<popup *>(item->data);
        // A line break inside a field would start a new record on reload.
        std::string name = pop->name, cmd = pop->cmd;
        for (std::string *field : {&name, &cmd}) {
            for (char &c : *field) {
                if (c == '\n' || c == '\r')
                    c = ' ';
            }
        }
        add_record(out, name, cmd.c_str());
    }
    char *path = g_build_filename(get_xdir(), file, nullptr);
    bool ok = atomic_file_write(path, out);
    g_free(path);
    return ok;
}
