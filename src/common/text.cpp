// The print pipe of the core. Until the text-event table with its format
// language exists, events print their arguments in a plain line.

#include "text.h"

#include "fe.h"
#include "lumenwick.h"
#include "session.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
session *print_target(session *sess)
{
    if (sess && is_session(sess))
        return sess;
    if (current_sess)
        return current_sess;
    return sess_list ? static_cast<session *>(sess_list->data) : nullptr;
}
}  // namespace

void PrintTextTimeStamp(session *sess, const char *text, time_t stamp)
{
    sess = print_target(sess);
    if (!text || !text[0])
        return;
    if (!sess) {
        // Nothing to show it in (before the first tab): keep it visible anyway.
        fputs(text, stderr);
        return;
    }
    std::string copy(text);
    fe_print_text(sess, copy.data(), stamp, FALSE);
}

void PrintText(session *sess, const char *text) { PrintTextTimeStamp(sess, text, 0); }

void PrintTextf(session *sess, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    PrintText(sess, text);
    g_free(text);
}

void text_emit(int index, session *sess, const char *a, const char *b, const char *c, const char *d, time_t timestamp)
{
    static const struct {
        int index;
        const char *name;
    } names[] = {{XP_TE_PING_TIMEOUT, N_("No ping reply for %s seconds, disconnecting.")}};

    std::string line = "* ";
    bool known = false;
    for (const auto &n : names) {
        if (n.index == index) {
            char *formatted = g_strdup_printf(_(n.name), a ? a : "");
            line += formatted;
            g_free(formatted);
            known = true;
        }
    }
    if (!known) {
        for (const char *arg : {a, b, c, d}) {
            if (arg) {
                line += arg;
                line += ' ';
            }
        }
    }
    line += '\n';
    PrintTextTimeStamp(sess, line.c_str(), timestamp);
}

void load_text_events(void) {}
void pevent_save(const char *) {}
void sound_load(void) {}
void sound_save(void) {}
