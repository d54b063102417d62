// Hooks added and removed by a built-in plugin outside any callback: the
// unhook must hand back the user data without touching the freed record, and
// the command must stop being eaten at once.
#include "irc_lines.h"

#include "commands/outbound.h"
#include "plugins/lumenwick-plugin.h"
#include "plugins/plugin.h"

namespace
{

lumenwick_plugin *probe_handle;
int probe_calls;

int eat_probe(char *[], char *[], void *)
{
    probe_calls++;
    return LUMENWICK_EAT_ALL;
}

int probe_init(void *handle, char **name, char **desc, char **version, char *)
{
    probe_handle = static_cast<lumenwick_plugin *>(handle);
    *name = const_cast<char *>("probe");
    *desc = const_cast<char *>("");
    *version = const_cast<char *>("1");
    return 1;
}

class PluginHooks : public IrcLines
{
  protected:
    void TearDown() override
    {
        plugin_kill_all();
        probe_handle = nullptr;
        IrcLines::TearDown();
    }
};

TEST_F(PluginHooks, UnhookOutsideACallbackReturnsTheUserDataAndTheCommandIsNoLongerEaten)
{
    ASSERT_TRUE(plugin_add(home, "probe", nullptr, probe_init, nullptr, nullptr, 0));
    ASSERT_NE(probe_handle, nullptr);
    int marker = 0;
    lumenwick_hook *hook =
        lumenwick_hook_command(probe_handle, "PROBE", LUMENWICK_PRI_NORM, eat_probe, nullptr, &marker);
    ASSERT_NE(hook, nullptr);

    char line[] = "/probe one";
    handle_multiline(home, line, TRUE, FALSE);
    EXPECT_EQ(probe_calls, 1);

    // Outside every emit the record is freed at once; reading the user data
    // from it afterwards is what the sanitizer build catches.
    EXPECT_EQ(lumenwick_unhook(probe_handle, hook), &marker);
    char again[] = "/probe two";
    handle_multiline(home, again, TRUE, FALSE);
    EXPECT_EQ(probe_calls, 1);
}

} // namespace
