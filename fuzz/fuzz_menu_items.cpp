// Menus from hostile list files and hostile values in shell menu commands.
// The input's first line is a value from the network, the rest NAME/CMD
// pairs of a list file. Besides not crashing, a "!" command must hand every
// value to the shell as exactly one argument, whatever it holds.
#include "fuzz_core.h"
#include "menus/menu-model.h"

#include "config/list.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

std::size_t count_nodes(const std::vector<menu_node> &nodes)
{
    std::size_t n = nodes.size();
    for (const menu_node &node : nodes)
        n += count_nodes(node.children);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        fuzz_core_set_up();
        return true;
    }();
    (void)ready;

    const std::string text(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
    const std::size_t eol = text.find('\n');
    const std::string value = text.substr(0, eol);

    // The value as a nick and as a host: two arguments, unchanged.
    insert_values values;
    values.s = value.c_str();
    values.h = value.c_str();
    const std::string line = menu_command_line("!prog %s %h", values);
    if (!line.empty() && !value.empty()) {
        if (line.rfind("exec ", 0) != 0)
            abort();
        gchar **argv = nullptr;
        if (!g_shell_parse_argv(line.c_str() + 5, nullptr, &argv, nullptr))
            abort();
        const bool intact = g_strv_length(argv) == 3 && value == argv[1] && value == argv[2];
        g_strfreev(argv);
        if (!intact)
            abort();
    }

    // The rest: records of a list file, name and command on alternate lines.
    GSList *list = nullptr;
    std::size_t records = 0;
    std::size_t at = eol == std::string::npos ? text.size() : eol + 1;
    while (at < text.size()) {
        const std::size_t name_end = std::min(text.find('\n', at), text.size());
        const std::size_t cmd_end =
            name_end < text.size() ? std::min(text.find('\n', name_end + 1), text.size()) : text.size();
        const std::string name = text.substr(at, name_end - at);
        const std::string cmd = name_end < text.size() ? text.substr(name_end + 1, cmd_end - name_end - 1) : "";
        list_addentry(&list, cmd.c_str(), name.c_str());
        records++;
        at = cmd_end + 1;
    }
    // ENDSUB records make no node; every other record makes exactly one.
    const auto nodes = menu_build_from_list(list);
    if (count_nodes(nodes) > records)
        abort();
    for (GSList *l = list; l; l = l->next)
        (void)menu_split_label(static_cast<popup *>(l->data)->name);
    list_free(&list);
    return 0;
}
