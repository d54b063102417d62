// Feeds arbitrary bytes to a plugin's preference file, then reads it the
// ways a plugin can and rewrites one variable. The first line of the input
// names the variable and the second its new value; the whole input is the
// file. Whatever the file held, a value set must read back unchanged, and
// every other variable must read the same after the rewrite as before it
// (a long line is never cut into a second variable, nothing is lost).
#include "fuzz_core.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace
{

lumenwick_plugin *handle;

int fuzz_init(void *plugin_handle, char **name, char **, char **, char *)
{
    handle = static_cast<lumenwick_plugin *>(plugin_handle);
    *name = const_cast<char *>("Fuzz Prefs");
    return 1;
}

std::string file_path()
{
    return std::string(get_xdir()) + "/addon_fuzz_prefs.conf";
}

std::string line_of(const std::string &text, int n)
{
    std::size_t start = 0;
    for (int i = 0; i < n; i++) {
        start = text.find('\n', start);
        if (start == std::string::npos)
            return "";
        start++;
    }
    return text.substr(start, text.find('\n', start) - start);
}

// The names the list reports, each with what a lookup gives for it.
std::map<std::string, std::string> readable(const std::string &file, const std::string &skip)
{
    std::map<std::string, std::string> out;
    char names[LUMENWICK_PREF_LIST_SIZE];
    if (!lumenwick_pluginpref_list(handle, names))
        return out;
    // Whole names only, each followed by a comma, within the buffer.
    const std::size_t len = strnlen(names, sizeof names);
    if (len == sizeof names || (len > 0 && names[len - 1] != ','))
        __builtin_trap();
    gchar **parts = g_strsplit(names, ",", -1);
    for (gchar **p = parts; *p; p++) {
        std::string value;
        if (**p && g_ascii_strcasecmp(*p, skip.c_str()) != 0 && pluginpref_lookup(file, *p, &value))
            out.emplace(*p, value);
    }
    g_strfreev(parts);
    return out;
}

std::string file_text()
{
    gchar *contents = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(file_path().c_str(), &contents, &len, nullptr))
        return "";
    std::string text(contents, len);
    g_free(contents);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = [] {
        char *dir = g_dir_make_tmp("lumenwick-fuzz-prefs-XXXXXX", nullptr);
        set_xdir(dir);
        g_free(dir);
        // The preference file is all the directory ever holds.
        atexit([] {
            g_remove(file_path().c_str());
            g_rmdir(get_xdir());
        });
        plugin_add(nullptr, nullptr, nullptr, fuzz_init, nullptr, nullptr, 0);
        return handle != nullptr;
    }();
    if (!ready)
        __builtin_trap();

    const std::string input(reinterpret_cast<const char *>(data), size);
    if (!g_file_set_contents(file_path().c_str(), input.data(), static_cast<gssize>(input.size()), nullptr))
        return 0;
    const std::string var = line_of(input, 0);
    std::string value = line_of(input, 1);
    value = value.substr(0, std::min<std::size_t>(value.find('\0'), 200));

    char dest[LUMENWICK_PREF_VALUE_SIZE];
    if (lumenwick_pluginpref_get_str(handle, var.c_str(), dest) && !memchr(dest, '\0', sizeof dest))
        __builtin_trap();
    (void)lumenwick_pluginpref_get_int(handle, var.c_str());

    const std::map<std::string, std::string> before = readable(input, var);
    if (!lumenwick_pluginpref_set_str(handle, var.c_str(), value.c_str()))
        return 0; // a name no line could hold
    const std::string after_text = file_text();
    if (!lumenwick_pluginpref_get_str(handle, var.c_str(), dest) || value != dest)
        __builtin_trap();
    for (const auto &[name, old_value] : before) {
        std::string now;
        if (!pluginpref_lookup(after_text, name.c_str(), &now) || now != old_value)
            __builtin_trap();
    }
    return 0;
}
