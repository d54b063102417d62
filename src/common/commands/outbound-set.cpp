// The /SET command: shows and changes the settings of the settings table.

#include "commands/outbound-cmds.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "output/text.h"

#include <glib.h>

#include <cstring>

LUMENWICK_COMMAND_HANDLER(cmd_set)
{
    int idx = 2;
    bool erase = false, off = false, bit_or = false, quiet = false;

    if (g_ascii_strcasecmp(word[idx], "-e") == 0) {
        erase = true;
        idx++;
    }
    if (g_ascii_strcasecmp(word[idx], "-off") == 0) {
        off = true;
        idx++;
    }
    if (g_ascii_strcasecmp(word[idx], "-or") == 0 || g_ascii_strcasecmp(word[idx], "-on") == 0) {
        bit_or = true;
        idx++;
    }
    if (g_ascii_strcasecmp(word[idx], "-quiet") == 0) {
        quiet = true;
        idx++;
    }

    const char *var = word[idx];
    const char *val = word_eol[idx + 1];
    if (*val == '=') {
        // "/SET name = value" must not store the space after the "=".
        val++;
        while (*val == ' ')
            val++;
    }

    if (!*var) {
        for (const prefs_row *row = vars; row->name; row++)
            PrintText(sess, cfg_show_setting(*row).c_str());
        return 1;
    }

    bool wildcard = (strchr(var, '*') || strchr(var, '?')) && !*val;
    bool found = false;

    for (const prefs_row *row = vars; row->name; row++) {
        bool matches = wildcard ? match(var, row->name) != 0 : g_ascii_strcasecmp(var, row->name) == 0;
        if (!matches)
            continue;
        found = true;

        if (row->type == TYPE_STR) {
            if (!*val && !erase) {
                PrintText(sess, cfg_show_setting(*row).c_str());
                continue;
            }
            char *text = cfg_row_text(*row);
            char *old = g_strndup(text, row->len);
            cfg_store_value(text, row->len, val, strlen(val));
            if (!quiet)
                PrintTextf(sess, _("%s set to: %s (was: %s)\n"), var, text, old);
            g_free(old);
            continue;
        }

        if (!*val) {
            PrintText(sess, cfg_show_setting(*row).c_str());
        } else {
            int *slot = cfg_row_int(*row);
            int old = *slot;
            int value = cfg_parse_int(val);
            if (row->type == TYPE_BOOL) {
                value = value != 0;
                if (g_ascii_strcasecmp(val, "YES") == 0 || g_ascii_strcasecmp(val, "ON") == 0)
                    value = 1;
                else if (g_ascii_strcasecmp(val, "NO") == 0 || g_ascii_strcasecmp(val, "OFF") == 0)
                    value = 0;
                *slot = value;
            } else if (bit_or) {
                *slot |= value;
            } else if (off) {
                *slot &= ~value;
            } else {
                *slot = value;
            }
            if (!quiet)
                PrintTextf(sess, _("%s set to: %d (was: %d)\n"), var, *slot, old);
        }
        if (row->after_update)
            row->after_update();
    }

    if (!found && !quiet) {
        PrintText(sess, _("No such variable.\n"));
    } else if (!save_config()) {
        PrintText(sess, _("Error saving changes to disk.\n"));
    }
    return 1;
}
