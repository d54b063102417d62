// The built-in /TIMER command: runs a command later, a given number of times
// or until it is deleted, in the tab it was typed in. Uses only the plugin
// interface.
#include "plugins/builtin.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

constexpr const char *USAGE = "Usage: TIMER [-refnum <num>] [-repeat <num>] <seconds> <command>\n"
                              "       TIMER [-quiet] -delete <num>";
constexpr double MIN_SECONDS = 0.1;
constexpr double MAX_SECONDS = 2147483.647;

struct timer_entry {
    lumenwick_hook *hook = nullptr;
    lumenwick_context *context = nullptr;
    std::string command;
    int ref = 0;
    int repeat = 0;
    int timeout_ms = 0;
    bool forever = false;
};

lumenwick_plugin *ph;
// A plain pointer outlives the hook index at exit, so the record stays
// reachable when the program ends without unloading plugins.
lumenwick_hook *command_hook;
std::vector<std::unique_ptr<timer_entry>> timers;

template <typename F> void guarded(F &&body) noexcept
{
    builtin_guarded("timer", body);
}

auto find_timer(const timer_entry *t)
{
    return std::find_if(timers.begin(), timers.end(), [t](const auto &p) { return p.get() == t; });
}

void timer_remove(timer_entry *t)
{
    auto it = find_timer(t);
    if (it == timers.end())
        return;
    lumenwick_unhook(ph, (*it)->hook);
    timers.erase(it);
}

int timeout_cb(void *userdata) noexcept
{
    auto *t = static_cast<timer_entry *>(userdata);
    int again = 0;
    guarded([&] {
        if (!lumenwick_set_context(ph, t->context)) {
            timer_remove(t);
            return;
        }
        // Copied: the command may delete this very timer.
        const std::string command = t->command;
        lumenwick_command(ph, command.c_str());
        if (find_timer(t) == timers.end())
            return;
        if (t->forever) {
            again = 1;
            return;
        }
        if (--t->repeat > 0) {
            again = 1;
            return;
        }
        timer_remove(t);
    });
    return again;
}

void timer_list(void)
{
    if (timers.empty()) {
        lumenwick_print(ph, "No timers installed.\n");
        lumenwick_print(ph, USAGE);
        return;
    }
    lumenwick_print(ph, "\x16 Ref#  Seconds  Repeat  Command \x16\n");
    for (const auto &t : timers)
        lumenwick_printf(ph, "%5d %8.1f %7d  %s\n", t->ref, t->timeout_ms / 1000.0, t->repeat, t->command.c_str());
}

void timer_delete(int ref, bool quiet)
{
    for (const auto &t : timers) {
        if (t->ref != ref)
            continue;
        timer_remove(t.get());
        if (!quiet)
            lumenwick_printf(ph, "Timer %d deleted.\n", ref);
        return;
    }
    if (!quiet)
        lumenwick_print(ph, "No such ref number found.\n");
}

// A whole decimal integer, nothing after it.
bool parse_int(const char *text, int *out)
{
    if (!text || !text[0])
        return false;
    errno = 0;
    char *end = nullptr;
    const long value = strtol(text, &end, 10);
    if (errno || *end || value < G_MININT || value > G_MAXINT)
        return false;
    *out = static_cast<int>(value);
    return true;
}

bool parse_seconds(const char *text, double *out)
{
    if (!text || !text[0])
        return false;
    char *end = nullptr;
    const double value = g_ascii_strtod(text, &end);
    if (*end || !(value >= MIN_SECONDS && value <= MAX_SECONDS))
        return false;
    *out = value;
    return true;
}

void timer_add(int ref, int repeat, double seconds, const char *command)
{
    auto t = std::make_unique<timer_entry>();
    if (ref <= 0) {
        ref = 1;
        for (const auto &other : timers)
            ref = std::max(ref, other->ref + 1);
    }
    t->ref = ref;
    t->repeat = repeat;
    t->forever = repeat == 0;
    // The millisecond the user wrote, not one below it through rounding.
    t->timeout_ms = static_cast<int>(seconds * 1000.0 + 1e-6);
    t->command = command;
    t->context = lumenwick_get_context(ph);
    t->hook = lumenwick_hook_timer(ph, t->timeout_ms, timeout_cb, t.get());
    if (t->hook)
        timers.push_back(std::move(t));
}

int timer_cb(char *word[], char *word_eol[], void *) noexcept
{
    guarded([&] {
        int i = 2;
        if (!word[i][0]) {
            timer_list();
            return;
        }
        bool quiet = false;
        if (g_ascii_strcasecmp(word[i], "-quiet") == 0) {
            quiet = true;
            i++;
        }
        if (g_ascii_strcasecmp(word[i], "-delete") == 0) {
            int ref = 0;
            if (parse_int(word[i + 1], &ref))
                timer_delete(ref, quiet);
            else
                lumenwick_print(ph, USAGE);
            return;
        }
        int ref = 0, repeat = 1;
        if (g_ascii_strcasecmp(word[i], "-refnum") == 0) {
            if (!parse_int(word[i + 1], &ref) || ref <= 0) {
                lumenwick_print(ph, USAGE);
                return;
            }
            i += 2;
        }
        if (g_ascii_strcasecmp(word[i], "-repeat") == 0) {
            if (!parse_int(word[i + 1], &repeat) || repeat < 0) {
                lumenwick_print(ph, USAGE);
                return;
            }
            i += 2;
        }
        double seconds = 0;
        if (!parse_seconds(word[i], &seconds) || !word_eol[i + 1][0]) {
            lumenwick_print(ph, USAGE);
            return;
        }
        timer_add(ref, repeat, seconds, word_eol[i + 1]);
    });
    return LUMENWICK_EAT_ALL;
}

} // namespace

int timer_plugin_init(void *handle, char **name, char **desc, char **version, char *)
{
    ph = static_cast<lumenwick_plugin *>(handle);
    *name = const_cast<char *>("Timer");
    *desc = const_cast<char *>("IrcII style /TIMER command");
    *version = const_cast<char *>("");
    command_hook = lumenwick_hook_command(ph, "TIMER", LUMENWICK_PRI_NORM, timer_cb, USAGE, nullptr);
    return 1;
}
