#include "mainwin/button-commands.h"

#include "base/lumenwick.h"
#include "commands/outbound.h"

#include <algorithm>
#include <iterator>

namespace
{

// Room for an expanded command, as the command layer gives user commands.
constexpr int EXPANDED_MAX = 2048;

bool expand(const std::string &command, const insert_values &values, std::string &out)
{
    char buf[EXPANDED_MAX];
    // %0 to %9 index the word arrays directly: every slot must exist.
    char empty[] = "";
    char *word[PDIWORDS];
    std::fill(std::begin(word), std::end(word), static_cast<char *>(empty));
    if (auto_insert(buf, sizeof buf, reinterpret_cast<const unsigned char *>(command.c_str()), word, word, values) == 0)
        return false;
    out = buf;
    return true;
}

} // namespace

std::vector<std::string> button_commands(const std::string &command, const std::vector<button_target> &targets,
                                         const button_context &context)
{
    std::vector<std::string> lines;
    insert_values values;
    values.c = context.channel.c_str();
    values.e = context.network.c_str();
    values.n = context.own_nick.c_str();
    std::string line;
    if (command.find("%a") != std::string::npos || targets.empty()) {
        std::string all;
        for (const auto &t : targets)
            all += (all.empty() ? "" : " ") + t.nick;
        values.a = all.c_str();
        values.s = targets.empty() ? "" : targets.front().nick.c_str();
        values.h = targets.empty() ? "" : targets.front().host.c_str();
        if (expand(command, values, line))
            lines.push_back(line);
        return lines;
    }
    for (const auto &t : targets) {
        values.a = t.nick.c_str();
        values.s = t.nick.c_str();
        values.h = t.host.c_str();
        if (expand(command, values, line))
            lines.push_back(line);
    }
    return lines;
}
