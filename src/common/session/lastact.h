// Activity lists: sessions with unseen activity, grouped by kind, so the
// front end can jump to the most important one first.
#pragma once

struct session;

// Lists in priority order.
enum {
    LACT_QUERY_HI = 0,  // dialog with highlight
    LACT_QUERY = 1,     // dialog with new message or data
    LACT_CHAN_HI = 2,   // channel with highlight
    LACT_CHAN = 3,      // channel with new message
    LACT_CHAN_DATA = 4, // channel with other new data
    LACT_COUNT = 5,
};

// Moves `sess` to the front of the list its activity flags select.
void lastact_update(session *sess);
// Takes the most important session the filter accepts off its list; null if none.
session *lastact_getfirst(int (*filter)(session *sess));
// Takes `sess` off its list, if any.
void lastact_remove(session *sess);
