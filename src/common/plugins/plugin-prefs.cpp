// Plugin preferences: one "addon_<key>.conf" per plugin in the configuration
// directory, lines "name = value" with the value in C escapes.
#include "plugins/plugin-internal.h"

#include "base/atomicfile.h"
#include "base/util.h"
#include "config/cfgfiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace
{

constexpr std::size_t VALUE_SIZE = LUMENWICK_PREF_VALUE_SIZE;
constexpr std::size_t LIST_SIZE = LUMENWICK_PREF_LIST_SIZE;
// An integer is read from at most this many characters ("-2147483648").
constexpr std::size_t INT_TEXT_MAX = 11;

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// The line without leading blanks and without a trailing CR.
std::string_view trimmed_line(std::string_view line)
{
    while (!line.empty() && is_blank(line.front()))
        line.remove_prefix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// Whether the line names `var`: the name, then a blank or "=".
bool line_names(std::string_view line, std::string_view var)
{
    return line.size() > var.size() && g_ascii_strncasecmp(line.data(), var.data(), var.size()) == 0 &&
           (is_blank(line[var.size()]) || line[var.size()] == '=');
}

// Calls `each` with every line of `text` (without its LF).
template <typename F> void for_each_line(std::string_view text, F each)
{
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        each(text.substr(0, eol));
        if (eol == std::string_view::npos)
            break;
        text.remove_prefix(eol + 1);
    }
}

// A name a line can hold and be found by again.
bool valid_var(const char *var)
{
    if (!var || !*var)
        return false;
    for (const char *p = var; *p; p++) {
        if (static_cast<unsigned char>(*p) < 0x20 || *p == ' ' || *p == '=' || *p == 0x7f)
            return false;
    }
    return true;
}

std::string pref_path(lumenwick_plugin *ph)
{
    const plugin_record *pl = plugin_of(ph);
    return std::string(get_xdir()) + "/addon_" + pluginpref_key(pl && pl->name ? pl->name : "") + ".conf";
}

// The file's content; false when it cannot be read.
bool read_prefs(lumenwick_plugin *ph, std::string *text)
{
    gchar *contents = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(pref_path(ph).c_str(), &contents, &len, nullptr))
        return false;
    text->assign(contents, len);
    g_free(contents);
    return true;
}

std::string escaped(const char *value)
{
    // UTF-8 stays readable in the file; control characters, quotes and
    // backslashes are escaped.
    static const char *const keep = [] {
        static char bytes[129];
        for (int i = 0; i < 128; i++)
            bytes[i] = static_cast<char>(0x80 + i);
        bytes[128] = '\0';
        return bytes;
    }();
    char *esc = g_strescape(value, keep);
    std::string out = esc;
    g_free(esc);
    // The reader skips the blanks after "="; leading spaces of the value
    // itself are written as octal escapes so they survive.
    std::size_t spaces = 0;
    while (spaces < out.size() && out[spaces] == ' ')
        spaces++;
    std::string lead;
    for (std::size_t i = 0; i < spaces; i++)
        lead += "\\040";
    return lead + out.substr(spaces);
}

// Rewrites the file with `var` set to `value` (deleted when null); whether
// the new file took the old one's place.
int write_pref(lumenwick_plugin *ph, const char *var, const char *value)
{
    if (!ph || !valid_var(var))
        return 0;
    std::string old;
    const bool had_file = read_prefs(ph, &old);
    if (!had_file && !value)
        return 1;
    const std::string_view name(var);
    std::string out;
    bool replaced = false;
    for_each_line(old, [&](std::string_view raw) {
        const std::string_view line = trimmed_line(raw);
        if (line.empty())
            return;
        if (line_names(line, name)) {
            if (value && !replaced)
                out.append(var).append(" = ").append(escaped(value)).append("\n");
            replaced = true;
            return;
        }
        // Other lines are kept byte for byte.
        out.append(raw).append("\n");
    });
    if (value && !replaced)
        out.append(var).append(" = ").append(escaped(value)).append("\n");
    return atomic_file_write(pref_path(ph), out, 0600) ? 1 : 0;
}

} // namespace

std::string pluginpref_key(const char *name)
{
    std::string key;
    for (const char *p = name; *p; p++) {
        const char c = *p;
        if (g_ascii_isalpha(c))
            key += g_ascii_tolower(c);
        else if (g_ascii_isdigit(c) || c == '_')
            key += c;
        else
            key += '_';
    }
    return key;
}

bool pluginpref_lookup(std::string_view text, const char *var, std::string *value)
{
    if (!valid_var(var))
        return false;
    const std::string_view name(var);
    bool found = false;
    for_each_line(text, [&](std::string_view raw) {
        if (found)
            return;
        std::string_view line = trimmed_line(raw);
        if (!line_names(line, name))
            return;
        line.remove_prefix(name.size());
        while (!line.empty() && is_blank(line.front()))
            line.remove_prefix(1);
        if (line.empty() || line.front() != '=')
            return;
        line.remove_prefix(1);
        while (!line.empty() && is_blank(line.front()))
            line.remove_prefix(1);
        const std::string raw_value(line);
        char *plain = g_strcompress(raw_value.c_str());
        value->assign(plain);
        g_free(plain);
        found = true;
    });
    return found;
}

extern "C" {

int lumenwick_pluginpref_set_str(lumenwick_plugin *ph, const char *var, const char *value)
{
    return plugin_guard(0, [&] { return write_pref(ph, var, value ? value : ""); });
}

int lumenwick_pluginpref_set_int(lumenwick_plugin *ph, const char *var, int value)
{
    return plugin_guard(0, [&] { return write_pref(ph, var, std::to_string(value).c_str()); });
}

int lumenwick_pluginpref_delete(lumenwick_plugin *ph, const char *var)
{
    return plugin_guard(0, [&] { return write_pref(ph, var, nullptr); });
}

int lumenwick_pluginpref_get_str(lumenwick_plugin *ph, const char *var, char *dest)
{
    return plugin_guard(0, [&] {
        std::string text, value;
        if (!dest || !ph || !read_prefs(ph, &text) || !pluginpref_lookup(text, var, &value))
            return 0;
        const std::size_t n = utf8_prefix(value.data(), value.size(), VALUE_SIZE - 1);
        memcpy(dest, value.data(), n);
        dest[n] = '\0';
        return 1;
    });
}

int lumenwick_pluginpref_get_int(lumenwick_plugin *ph, const char *var)
{
    return plugin_guard(-1, [&] {
        std::string text, value;
        if (!ph || !read_prefs(ph, &text) || !pluginpref_lookup(text, var, &value))
            return -1;
        value.resize(std::min(value.size(), INT_TEXT_MAX));
        const int number = atoi(value.c_str());
        return number != 0 || (!value.empty() && value[0] == '0') ? number : -1;
    });
}

int lumenwick_pluginpref_list(lumenwick_plugin *ph, char *dest)
{
    return plugin_guard(0, [&] {
        std::string text;
        if (!dest || !ph || !read_prefs(ph, &text))
            return 0;
        std::string out;
        bool full = false;
        for_each_line(text, [&](std::string_view raw) {
            const std::string_view line = trimmed_line(raw);
            const std::size_t eq = line.find('=');
            if (full || eq == std::string_view::npos)
                return;
            std::string_view name = line.substr(0, eq);
            while (!name.empty() && is_blank(name.back()))
                name.remove_suffix(1);
            // Only names a plugin can read back: no NUL or other control
            // byte may cut the list short.
            if (!valid_var(std::string(name).c_str()) || name.find('\0') != std::string_view::npos)
                return;
            // Only whole names, and room for the terminator.
            if (out.size() + name.size() + 1 >= LIST_SIZE) {
                full = true;
                return;
            }
            out.append(name).append(",");
        });
        memcpy(dest, out.c_str(), out.size() + 1);
        return 1;
    });
}

} // extern "C"
