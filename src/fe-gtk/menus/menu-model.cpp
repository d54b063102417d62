// List-file menus and menu command lines, without a display.
#include "menus/menu-model.h"

#include "base/handles.h"
#include "base/lumenwick.h"
#include "config/list.h"

#include <cstring>
#include <utility>

namespace
{

constexpr char TERMINAL_PREFIX[] = "gnome-terminal -x ";
constexpr char TOGGLE_PREFIX[] = "TOGGLE ";

// Quotes every blank-separated word on its own: %a holds several nicks,
// each of which must stay one argument.
std::string quote_words(const char *value)
{
    std::string out;
    strv_ptr words(g_strsplit(value, " ", -1));
    for (char **w = words.get(); *w; ++w) {
        if (!**w)
            continue;
        if (!out.empty())
            out += ' ';
        gchar_ptr quoted(g_shell_quote(*w));
        out += quoted.get();
    }
    return out;
}

std::string quote(const char *value)
{
    gchar_ptr quoted(g_shell_quote(value));
    return quoted.get();
}

} // namespace

std::ostream &operator<<(std::ostream &os, const menu_node &node)
{
    static const char *const kinds[] = {"item", "submenu", "separator", "toggle"};
    os << kinds[node.kind] << " \"" << node.label << "\"";
    if (!node.icon.empty())
        os << " icon=" << node.icon;
    if (!node.command.empty())
        os << " -> " << node.command;
    if (!node.children.empty()) {
        os << " {";
        for (const menu_node &child : node.children)
            os << ' ' << child << ';';
        os << " }";
    }
    return os;
}

menu_label menu_split_label(const char *name)
{
    // Positions in the unescaped text where an unescaped "~" stood.
    std::string text;
    std::vector<std::size_t> tildes;
    for (const char *p = name; *p; ++p) {
        if (p[0] == '\\' && p[1] == '~') {
            text += '~';
            ++p;
            continue;
        }
        if (*p == '~')
            tildes.push_back(text.size());
        text += *p;
    }
    menu_label out;
    // The icon is the text between the last two unescaped "~", which must end the label.
    if (tildes.size() >= 2 && tildes.back() == text.size() - 1) {
        const std::size_t open = tildes[tildes.size() - 2];
        out.icon = text.substr(open + 1, text.size() - open - 2);
        text.erase(open);
    }
    out.text = std::move(text);
    return out;
}

std::vector<menu_node> menu_build_from_list(GSList *list, const menu_build_options &options)
{
    std::vector<menu_node> top;
    // The submenus being filled, innermost last; each points into its parent.
    std::vector<std::vector<menu_node> *> open{&top};
    auto close_innermost = [&] {
        open.pop_back();
        std::vector<menu_node> &parent = *open.back();
        if (options.drop_empty_submenus && parent.back().children.empty())
            parent.pop_back();
    };
    for (GSList *l = list; l; l = l->next) {
        const auto *rec = static_cast<const popup *>(l->data);
        const char *name = rec->name ? rec->name : "";
        const char *cmd = rec->cmd ? rec->cmd : "";
        if (!g_ascii_strcasecmp(name, "ENDSUB")) {
            if (open.size() > 1)
                close_innermost();
            continue;
        }
        if (options.keep && !options.keep(name, cmd))
            continue;
        menu_node node;
        if (!g_ascii_strcasecmp(name, "SUB")) {
            node.kind = menu_node::SUBMENU;
            menu_label label = menu_split_label(cmd);
            node.label = std::move(label.text);
            node.icon = std::move(label.icon);
            open.back()->push_back(std::move(node));
            open.push_back(&open.back()->back().children);
            continue;
        }
        if (!g_ascii_strcasecmp(name, "SEP")) {
            node.kind = menu_node::SEPARATOR;
        } else if (!g_ascii_strncasecmp(name, TOGGLE_PREFIX, sizeof TOGGLE_PREFIX - 1)) {
            node.kind = menu_node::TOGGLE;
            node.label = menu_split_label(name + sizeof TOGGLE_PREFIX - 1).text;
            node.command = cmd;
        } else {
            menu_label label = menu_split_label(name);
            node.label = std::move(label.text);
            node.icon = std::move(label.icon);
            node.command = cmd;
        }
        open.back()->push_back(std::move(node));
    }
    while (open.size() > 1)
        close_innermost();
    return top;
}

bool menu_url_handler_available(const char *cmd)
{
    if (cmd[0] != '!')
        return true;
    const char *program = cmd + 1;
    if (!std::strncmp(program, TERMINAL_PREFIX, sizeof TERMINAL_PREFIX - 1))
        program += sizeof TERMINAL_PREFIX - 1;
    const char *end = std::strchr(program, ' ');
    std::string name = end ? std::string(program, end) : std::string(program);
    if (name.empty())
        return false;
    gchar_ptr found(g_find_program_in_path(name.c_str()));
    return found != nullptr;
}

bool menu_template_uses_nick(const char *tmpl)
{
    for (const char *p = tmpl; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == 's')
            return true;
        if (p[1] == '%')
            ++p;
    }
    return false;
}

std::string menu_command_line(const char *tmpl, const insert_values &values)
{
    const bool shell = tmpl[0] == '!';
    insert_values used = values;
    // Kept alive until auto_insert has copied them.
    std::string quoted[8];
    if (shell) {
        const char **slots[] = {&used.a, &used.c, &used.d, &used.e, &used.h, &used.n, &used.s, &used.u};
        for (int i = 0; i < 8; i++) {
            if (!*slots[i])
                continue;
            quoted[i] = slots[i] == &used.a ? quote_words(*slots[i]) : quote(*slots[i]);
            *slots[i] = quoted[i].c_str();
        }
    }
    // No words: a template naming one (%2) fails instead of reading past them.
    char empty[] = "";
    char *word[PDIWORDS];
    for (char *&w : word)
        w = empty;
    std::string buf(CMD_BUFFER_SIZE, '\0');
    const int result = auto_insert(buf.data(), static_cast<int>(buf.size()),
                                   reinterpret_cast<const unsigned char *>(shell ? tmpl + 1 : tmpl), word, word, used);
    buf.resize(std::strlen(buf.c_str()));
    // A shell line cut short could end inside a quote and run something else.
    if (result == 0 || (shell && result == 2))
        return {};
    return shell ? "exec " + buf : buf;
}
