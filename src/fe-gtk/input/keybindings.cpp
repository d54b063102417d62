// The key-binding table: file format, defaults, the table in force.
#include "input/keybindings.h"

#include "base/atomicfile.h"
#include "config/cfgfiles.h"
#include "fe.h"

#include <gdk/gdk.h>
#include <glib/gi18n.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

struct action_row {
    const char *name;
    const char *help;
};

// The names are what the file stores: never translate or reword them.
const action_row actions[KEY_ACTION_COUNT] = {
    {"Run Command", N_("Runs Data 1 as if it were typed into the input line: text is said, a line starting with "
                       "the command character runs that command. \\n separates several lines; write \\\\ for a "
                       "backslash. Nothing is added to the history.")},
    {"Change Page", N_("Brings another tab to front. Data 1: a tab number counted from 1, a channel name, "
                       "network/channel, or \"auto\" for the tab with the newest and most important activity. "
                       "With any text in Data 2 the number moves that many tabs from the current one.")},
    {"Insert in Buffer", N_("Inserts Data 1 at the cursor, for example a formatting code (\\x02 bold, \\x03 "
                            "colour).")},
    {"Scroll Page", N_("Scrolls the conversation. Data 1: Top, Bottom, Up or Down (a page), +1 or -1 (a line).")},
    {"Set Buffer", N_("Replaces the whole input line by Data 1 and puts the cursor at its end.")},
    {"Last Command", N_("Puts the previous line of this tab's history into the input line.")},
    {"Next Command", N_("Puts the next line of this tab's history into the input line; past the newest it "
                        "empties the line.")},
    {"Complete nick/command", N_("Completes the word before the cursor: a nick of the channel, a channel name, "
                                 "or a command. Pressed again it offers the next match; with any text in Data 1 "
                                 "it goes backwards.")},
    {"Change Selected Nick", N_("Completes like \"Complete nick/command\"; with any text in Data 1 it goes "
                                "backwards through the matches.")},
    {"Check For Replace", N_("Applies the replace list to the finished word before the cursor; the key then "
                             "does what it would do anyway.")},
    {"Move front tab left", N_("Moves the tab in front one place to the left.")},
    {"Move front tab right", N_("Moves the tab in front one place to the right.")},
    {"Move tab family left", N_("Moves the front tab's server with all its tabs one place to the left.")},
    {"Move tab family right", N_("Moves the front tab's server with all its tabs one place to the right.")},
    {"Push input line into history", N_("Keeps the input line in the history and empties it, without sending "
                                        "it.")},
    {"Menu Shortcut", N_("Runs the menu item named in Data 1: network-list, new-server-tab, new-server-window, "
                         "close, quit, menu-toggle, user-list-toggle, fullscreen-toggle, away-toggle, reset-marker, "
                         "move-marker, copy-selection, search-text, search-next, search-previous or contents.")},
    {"Reopen Closed Tab", N_("Opens the channel tab closed last again and joins the channel.")},
};

// The built-in bindings, in the file's own format: written back unchanged
// when nothing was edited.
const std::string default_text = "# Lumenwick key bindings config file\n\n"
                                 "ACCEL=<Primary>Page_Up\nChange Page\nD1:-1\nD2:Relative\n\n"
                                 "ACCEL=<Primary>Page_Down\nChange Page\nD1:1\nD2:Relative\n\n"
                                 "ACCEL=<Alt>9\nChange Page\nD1:9\nD2!\n\n"
                                 "ACCEL=<Alt>8\nChange Page\nD1:8\nD2!\n\n"
                                 "ACCEL=<Alt>7\nChange Page\nD1:7\nD2!\n\n"
                                 "ACCEL=<Alt>6\nChange Page\nD1:6\nD2!\n\n"
                                 "ACCEL=<Alt>5\nChange Page\nD1:5\nD2!\n\n"
                                 "ACCEL=<Alt>4\nChange Page\nD1:4\nD2!\n\n"
                                 "ACCEL=<Alt>3\nChange Page\nD1:3\nD2!\n\n"
                                 "ACCEL=<Alt>2\nChange Page\nD1:2\nD2!\n\n"
                                 "ACCEL=<Alt>1\nChange Page\nD1:1\nD2!\n\n"
                                 "ACCEL=<Alt>grave\nChange Page\nD1:auto\nD2!\n\n"
                                 "ACCEL=<Primary>o\nInsert in Buffer\nD1:\x0f\nD2!\n\n"
                                 "ACCEL=<Primary>b\nInsert in Buffer\nD1:\x02\nD2!\n\n"
                                 "ACCEL=<Primary>k\nInsert in Buffer\nD1:\x03\nD2!\n\n"
                                 "ACCEL=<Primary>i\nInsert in Buffer\nD1:\x1d\nD2!\n\n"
                                 "ACCEL=<Primary>u\nInsert in Buffer\nD1:\x1f\nD2!\n\n"
                                 "ACCEL=<Primary><Alt>s\nInsert in Buffer\nD1:\x1e\nD2!\n\n"
                                 "ACCEL=<Primary>r\nInsert in Buffer\nD1:\x16\nD2!\n\n"
                                 "ACCEL=<Shift>Page_Down\nChange Selected Nick\nD1!\nD2!\n\n"
                                 "ACCEL=<Shift>Page_Up\nChange Selected Nick\nD1:Up\nD2!\n\n"
                                 "ACCEL=Page_Down\nScroll Page\nD1:Down\nD2!\n\n"
                                 "ACCEL=<Primary>Home\nScroll Page\nD1:Top\nD2!\n\n"
                                 "ACCEL=<Primary>End\nScroll Page\nD1:Bottom\nD2!\n\n"
                                 "ACCEL=Page_Up\nScroll Page\nD1:Up\nD2!\n\n"
                                 "ACCEL=<Shift>Down\nScroll Page\nD1:+1\nD2!\n\n"
                                 "ACCEL=<Shift>Up\nScroll Page\nD1:-1\nD2!\n\n"
                                 "ACCEL=Down\nNext Command\nD1!\nD2!\n\n"
                                 "ACCEL=Up\nLast Command\nD1!\nD2!\n\n"
                                 "ACCEL=Tab\nComplete nick/command\nD1!\nD2!\n\n"
                                 "ACCEL=<Shift>ISO_Left_Tab\nComplete nick/command\nD1:Previous\nD2!\n\n"
                                 "ACCEL=space\nCheck For Replace\nD1!\nD2!\n\n"
                                 "ACCEL=Return\nCheck For Replace\nD1!\nD2!\n\n"
                                 "ACCEL=KP_Enter\nCheck For Replace\nD1!\nD2!\n\n"
                                 "ACCEL=<Primary>Tab\nComplete nick/command\nD1:Up\nD2!\n\n"
                                 "ACCEL=<Alt>Left\nMove front tab left\nD1!\nD2!\n\n"
                                 "ACCEL=<Alt>Right\nMove front tab right\nD1!\nD2!\n\n"
                                 "ACCEL=<Primary><Shift>Page_Up\nMove tab family left\nD1!\nD2!\n\n"
                                 "ACCEL=<Primary><Shift>Page_Down\nMove tab family right\nD1!\nD2!\n\n"
                                 "ACCEL=<Primary>s\nMenu Shortcut\nD1:network-list\nD2!\n\n"
                                 "ACCEL=<Primary>t\nMenu Shortcut\nD1:new-server-tab\nD2!\n\n"
                                 "ACCEL=<Primary>n\nMenu Shortcut\nD1:new-server-window\nD2!\n\n"
                                 "ACCEL=<Primary>w\nMenu Shortcut\nD1:close\nD2!\n\n"
                                 "ACCEL=<Primary>q\nMenu Shortcut\nD1:quit\nD2!\n\n"
                                 "ACCEL=<Primary>F9\nMenu Shortcut\nD1:menu-toggle\nD2!\n\n"
                                 "ACCEL=F7\nMenu Shortcut\nD1:user-list-toggle\nD2!\n\n"
                                 "ACCEL=F11\nMenu Shortcut\nD1:fullscreen-toggle\nD2!\n\n"
                                 "ACCEL=<Alt>a\nMenu Shortcut\nD1:away-toggle\nD2!\n\n"
                                 "ACCEL=<Primary>m\nMenu Shortcut\nD1:reset-marker\nD2!\n\n"
                                 "ACCEL=<Primary><Shift>M\nMenu Shortcut\nD1:move-marker\nD2!\n\n"
                                 "ACCEL=<Primary><Shift>C\nMenu Shortcut\nD1:copy-selection\nD2!\n\n"
                                 "ACCEL=<Primary>f\nMenu Shortcut\nD1:search-text\nD2!\n\n"
                                 "ACCEL=<Primary>g\nMenu Shortcut\nD1:search-next\nD2!\n\n"
                                 "ACCEL=<Primary><Shift>G\nMenu Shortcut\nD1:search-previous\nD2!\n\n"
                                 "ACCEL=F1\nMenu Shortcut\nD1:contents\nD2!\n\n"
                                 "ACCEL=<Primary><Shift>T\nReopen Closed Tab\nD1!\nD2!\n\n";

constexpr std::string_view ACCEL_TAG = "ACCEL=";
constexpr std::string_view HEADER = "# Lumenwick key bindings config file\n\n";

std::vector<key_binding> table = key_defaults();
std::vector<std::function<void()>> listeners;

std::string_view trim_blanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

struct modifier_tag {
    const char *name;
    unsigned mod; // 0: accepted and dropped
};

// The toolkit's accelerator tags; only Shift, Control and Alt are kept.
const modifier_tag modifier_tags[] = {
    {"primary", KEY_MOD_CONTROL},
    {"control", KEY_MOD_CONTROL},
    {"ctrl", KEY_MOD_CONTROL},
    {"ctl", KEY_MOD_CONTROL},
    {"shift", KEY_MOD_SHIFT},
    {"shft", KEY_MOD_SHIFT},
    {"alt", KEY_MOD_ALT},
    {"mod1", KEY_MOD_ALT},
    {"release", 0},
    {"mod2", 0},
    {"mod3", 0},
    {"mod4", 0},
    {"mod5", 0},
    {"super", 0},
    {"hyper", 0},
    {"meta", 0},
};

unsigned keyval_of(const std::string &name)
{
    if (name.empty())
        return 0;
    // A key with no name of its own is written as "U+" and its code point,
    // which the name lookup does not read back.
    if (name.size() > 2 && name.starts_with("U+") &&
        name.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos && name.size() <= 8) {
        const auto code = static_cast<guint32>(std::strtoul(name.c_str() + 2, nullptr, 16));
        return code ? gdk_unicode_to_keyval(code) : 0;
    }
    const unsigned k = gdk_keyval_from_name(name.c_str());
    return k == GDK_KEY_VoidSymbol ? 0 : k;
}

void notify_listeners()
{
    const auto copy = listeners;
    for (const auto &l : copy)
        l();
}

std::string config_path()
{
    gchar *p = g_build_filename(get_xdir(), "keybindings.conf", nullptr);
    std::string path = p;
    g_free(p);
    return path;
}

// Reads one data line ("D1:text", "D1!"); blanks before it are skipped.
bool parse_data(std::string_view line, char number, std::optional<std::string> *out, std::string *why)
{
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    if (line.empty() || line[0] != 'D') {
        *why = "data line does not begin with \"D\"";
        return false;
    }
    if (line.size() < 3 || line[1] != number) {
        *why = std::string("expected data line D") + number;
        return false;
    }
    if (line[2] == '!') {
        out->reset();
        return true;
    }
    if (line[2] != ':') {
        *why = "malformed data line";
        return false;
    }
    *out = std::string(line.substr(3));
    return true;
}

} // namespace

const char *key_action_name(int action)
{
    return action >= 0 && action < KEY_ACTION_COUNT ? actions[action].name : nullptr;
}

const char *key_action_help(int action)
{
    return action >= 0 && action < KEY_ACTION_COUNT ? actions[action].help : nullptr;
}

int key_action_find(const char *name)
{
    if (!name)
        return -1;
    for (int i = 0; i < KEY_ACTION_COUNT; i++)
        if (std::strcmp(actions[i].name, name) == 0)
            return i;
    return -1;
}

std::ostream &operator<<(std::ostream &os, const key_binding &b)
{
    os << key_accel_name(b.keyval, b.mods) << " -> " << (key_action_name(b.action) ? key_action_name(b.action) : "?");
    os << " D1=" << (b.data1 ? '"' + *b.data1 + '"' : std::string("none"));
    os << " D2=" << (b.data2 ? '"' + *b.data2 + '"' : std::string("none"));
    return os;
}

std::string key_accel_name(unsigned keyval, unsigned mods)
{
    std::string out;
    if (mods & KEY_MOD_CONTROL)
        out += "<Primary>";
    if (mods & KEY_MOD_SHIFT)
        out += "<Shift>";
    if (mods & KEY_MOD_ALT)
        out += "<Alt>";
    if (const char *name = keyval ? gdk_keyval_name(keyval) : nullptr)
        out += name;
    return out;
}

bool key_accel_parse(const std::string &accel, unsigned *keyval, unsigned *mods)
{
    std::string_view rest = accel;
    unsigned m = 0;
    while (!rest.empty() && rest.front() == '<') {
        const size_t close = rest.find('>');
        if (close == std::string_view::npos)
            return false;
        const std::string tag(rest.substr(1, close - 1));
        const modifier_tag *found = nullptr;
        for (const modifier_tag &t : modifier_tags)
            if (g_ascii_strcasecmp(t.name, tag.c_str()) == 0)
                found = &t;
        if (!found)
            return false;
        m |= found->mod;
        rest.remove_prefix(close + 1);
    }
    const unsigned k = keyval_of(std::string(rest));
    if (!k)
        return false;
    *keyval = k;
    *mods = m;
    return true;
}

key_parse_result key_parse(const std::string &text)
{
    key_parse_result result;
    enum class want { key, legacy_key, action, data1, data2 } state = want::key;
    key_binding cur;
    int number = 0;
    int binding_line = 0;
    const auto fail = [&](int line, std::string why) {
        result.bindings.clear();
        result.error = key_parse_error{line, std::move(why)};
        return result;
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        number++;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        std::string why;
        switch (state) {
        case want::key:
            cur = key_binding{};
            binding_line = number;
            if (line.substr(0, ACCEL_TAG.size()) == ACCEL_TAG) {
                const std::string accel(line.substr(ACCEL_TAG.size()));
                if (!key_accel_parse(accel, &cur.keyval, &cur.mods))
                    return fail(number, "unknown key \"" + accel + "\"");
                state = want::action;
            } else {
                // Older files: a modifier line ("SCA" letters or "None"),
                // then the key's name on a line of its own.
                const std::string_view mods = trim_blanks(line);
                if (mods != "None") {
                    for (char c : mods) {
                        if (c == 'S')
                            cur.mods |= KEY_MOD_SHIFT;
                        else if (c == 'C')
                            cur.mods |= KEY_MOD_CONTROL;
                        else if (c == 'A')
                            cur.mods |= KEY_MOD_ALT;
                        else
                            return fail(number, "unknown modifier \"" + std::string(mods) + "\"");
                    }
                }
                state = want::legacy_key;
            }
            break;
        case want::legacy_key: {
            const std::string name(trim_blanks(line));
            cur.keyval = keyval_of(name);
            if (!cur.keyval)
                return fail(number, "unknown key name \"" + name + "\"");
            state = want::action;
            break;
        }
        case want::action: {
            const std::string name(trim_blanks(line));
            cur.action = key_action_find(name.c_str());
            if (cur.action < 0)
                return fail(number, "unknown action \"" + name + "\"");
            state = want::data1;
            break;
        }
        case want::data1:
            if (!parse_data(line, '1', &cur.data1, &why))
                return fail(number, why);
            state = want::data2;
            break;
        case want::data2:
            if (!parse_data(line, '2', &cur.data2, &why))
                return fail(number, why);
            result.bindings.push_back(std::move(cur));
            state = want::key;
            break;
        }
    }
    if (state != want::key)
        return fail(binding_line, "the binding is cut short by the end of the file");
    return result;
}

std::string key_write(const std::vector<key_binding> &bindings)
{
    std::string out(HEADER);
    for (const key_binding &b : bindings) {
        const char *action = key_action_name(b.action);
        if (!b.keyval || !action)
            continue;
        out += std::string(ACCEL_TAG) + key_accel_name(b.keyval, b.mods) + "\n" + action + "\n";
        // A line break inside the data would split the binding on reading.
        for (const auto &[tag, data] : {std::pair{"D1", &b.data1}, std::pair{"D2", &b.data2}}) {
            std::string value = data->value_or("");
            for (char &c : value)
                if (c == '\n' || c == '\r')
                    c = ' ';
            out += value.empty() ? std::string(tag) + "!\n" : std::string(tag) + ":" + value + "\n";
        }
        out += "\n";
    }
    return out;
}

const std::string &key_default_text(void)
{
    return default_text;
}

std::vector<key_binding> key_defaults(void)
{
    return key_parse(default_text).bindings;
}

bool key_matches(const key_binding &b, unsigned keyval, unsigned state)
{
    // Shift turns "m" into "M": a binding written either way matches.
    return gdk_keyval_to_lower(b.keyval) == gdk_keyval_to_lower(keyval) && b.mods == (state & KEY_MOD_MASK);
}

std::string key_expand_escapes(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        switch (next) {
        case '\\':
            out += '\\';
            i++;
            break;
        case 'n':
            out += '\n';
            i++;
            break;
        case 'r':
            out += '\r';
            i++;
            break;
        case 't':
            out += '\t';
            i++;
            break;
        case 'x':
            if (i + 3 < text.size() && g_ascii_isxdigit(text[i + 2]) && g_ascii_isxdigit(text[i + 3])) {
                out += static_cast<char>(g_ascii_xdigit_value(text[i + 2]) * 16 + g_ascii_xdigit_value(text[i + 3]));
                i += 3;
            } else {
                out += "\\x";
                i++;
            }
            break;
        default:
            out += '\\';
            out += next;
            i++;
            break;
        }
    }
    return out;
}

const std::vector<key_binding> &key_bindings(void)
{
    return table;
}

void key_set_bindings(std::vector<key_binding> bindings)
{
    table = std::move(bindings);
    notify_listeners();
}

void key_init(void)
{
    const std::string path = config_path();
    gchar *contents = nullptr;
    gsize length = 0;
    GError *err = nullptr;
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
        key_set_bindings(key_defaults());
        return;
    }
    if (!g_file_get_contents(path.c_str(), &contents, &length, &err)) {
        g_clear_error(&err);
        fe_message(_("There was an error loading key bindings configuration"), FE_MSG_ERROR);
        return;
    }
    const key_parse_result parsed = key_parse(std::string(contents, length));
    g_free(contents);
    if (parsed.error) {
        // The file stays as it is: the user may mend it by hand, or replace
        // it by saving from the Keyboard Shortcuts window.
        gchar *msg = g_strdup_printf(_("There was an error loading key bindings configuration: %s, line %d: "
                                       "%s.\nThe bindings in use stay until you save from the Keyboard "
                                       "Shortcuts window."),
                                     path.c_str(), parsed.error->line, parsed.error->message.c_str());
        fe_message(msg, FE_MSG_ERROR);
        g_free(msg);
        return;
    }
    key_set_bindings(parsed.bindings);
}

bool key_save(std::vector<key_binding> bindings)
{
    key_set_bindings(std::move(bindings));
    const std::string path = config_path();
    AtomicFile file(path);
    if (file.ok() && file.write(key_write(table)) && file.commit())
        return true;
    gchar *msg = g_strdup_printf(_("Could not save %s: %s\nThe key bindings are in use until you quit, but "
                                   "were not written."),
                                 path.c_str(), g_strerror(file.error() ? file.error() : EIO));
    fe_message(msg, FE_MSG_ERROR);
    g_free(msg);
    return false;
}

bool key_lookup(int action, const char *data1, const char *data2, unsigned *keyval, unsigned *mods)
{
    for (const key_binding &b : table) {
        if (b.action != action)
            continue;
        if (data1 && (!b.data1 || *b.data1 != data1))
            continue;
        if (data2 && (!b.data2 || *b.data2 != data2))
            continue;
        *keyval = b.keyval;
        *mods = b.mods;
        return true;
    }
    return false;
}

bool key_get_menu_accel(const char *shortcut, unsigned *keyval, unsigned *mods)
{
    return shortcut && key_lookup(KEY_MENU_SHORTCUT, shortcut, nullptr, keyval, mods);
}

void key_on_change(std::function<void()> listener)
{
    listeners.push_back(std::move(listener));
}
