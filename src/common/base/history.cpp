// The input-line history ring.

#include "base/history.h"

#include <glib.h>

namespace
{

int older(int i)
{
    return (i + HISTORY_SIZE - 1) % HISTORY_SIZE;
}

int newer(int i)
{
    return (i + 1) % HISTORY_SIZE;
}

// Writes at the head without touching the browse position.
void store(history *hist, const char *text)
{
    g_free(hist->lines[hist->head]);
    hist->lines[hist->head] = g_strdup(text);
    hist->head = newer(hist->head);
}

bool same(const char *a, const char *b)
{
    return a && b && g_strcmp0(a, b) == 0;
}

} // namespace

void history_add(history *hist, const char *text)
{
    if (!hist || !text)
        return;
    store(hist, text);
    hist->pos = hist->head;
}

const char *history_up(history *hist, const char *current)
{
    if (!hist)
        return nullptr;
    // The slot after the head is the oldest line a full ring can still show:
    // the head slot itself is the one the next line overwrites.
    if (hist->pos == newer(hist->head))
        return nullptr;
    const int prev = older(hist->pos);
    if (!hist->lines[prev])
        return nullptr;
    // A line typed (or a recalled line edited) and not sent is kept, so Down
    // brings it back instead of losing it.
    if (current && current[0] && !same(current, hist->lines[prev]) && !same(current, hist->lines[hist->pos]))
        store(hist, current);
    hist->pos = prev;
    return hist->lines[prev];
}

const char *history_down(history *hist)
{
    if (!hist || hist->pos == hist->head)
        return nullptr;
    const int next = newer(hist->pos);
    if (next == hist->head) {
        hist->pos = next;
        return "";
    }
    if (!hist->lines[next])
        return nullptr;
    hist->pos = next;
    return hist->lines[next];
}

void history_free(history *hist)
{
    if (!hist)
        return;
    for (char *&line : hist->lines) {
        g_free(line);
        line = nullptr;
    }
    hist->head = 0;
    hist->pos = 0;
}
