// Text output of the core: printing lines into sessions, the text-event
// table and the event sounds. The event table itself comes with the events work;
// until then lines go to the front end as they are.
#pragma once

#include <glib.h>

#include <ctime>

struct session;

// Prints `text` (may hold several lines) into `sess`; null means the
// current session.
void PrintText(session *sess, const char *text);
void PrintTextf(session *sess, const char *format, ...) G_GNUC_PRINTF(2, 3);
void PrintTextTimeStamp(session *sess, const char *text, time_t stamp);

// Loading and saving of the text events and the sounds.
void load_text_events(void);
void pevent_save(const char *filename);
void sound_load(void);
void sound_save(void);

// Indexes of the text-event table used so far.
enum text_event_index {
    XP_TE_PINGTIMEOUT = 113,
};

// Emits a text event in `sess` with up to four arguments (each may be null).
void text_emit(int index, session *sess, const char *a, const char *b, const char *c, const char *d, time_t timestamp);
