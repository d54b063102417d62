// The conversation view: a scrollable GTK widget that draws one text buffer
// (xtext-model.h) with IRC formatting, the nick column and its separator,
// the marker line, selection, search matches and the link under the pointer.
// One widget can show many buffers in turn; every session owns one.
#pragma once

#include "textview/xtext-model.h"

#include <gtk/gtk.h>

#include <ctime>

G_BEGIN_DECLS

#define GTK_TYPE_XTEXT (gtk_xtext_get_type())
#define GTK_XTEXT(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GTK_TYPE_XTEXT, GtkXText))
#define GTK_IS_XTEXT(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GTK_TYPE_XTEXT))

struct xtext_private;

struct GtkXText {
    GtkWidget parent;
    xtext_private *priv;
};

struct GtkXTextClass {
    GtkWidgetClass parent_class;
};

GType gtk_xtext_get_type(void);

G_END_DECLS

// A buffer belongs to one widget and lives until gtk_xtext_buffer_free.
struct xtext_buffer;

// (widget, word) -> positive when the word is a link, nick or channel.
using xtext_urlcheck_fn = int (*)(GtkWidget *, const char *);

GtkWidget *gtk_xtext_new(const GdkRGBA *palette, bool separator);
xtext_buffer *gtk_xtext_buffer_new(GtkXText *xtext);
void gtk_xtext_buffer_free(xtext_buffer *buf);
void gtk_xtext_buffer_show(GtkXText *xtext, xtext_buffer *buf, bool render);
xtext_buffer *gtk_xtext_buffer_shown(GtkXText *xtext);
// Hands a session's buffer to another widget (a tab getting a window of its
// own and back); the old widget stops showing it.
void gtk_xtext_buffer_move(xtext_buffer *buf, GtkXText *to);
xtext::text_buffer &gtk_xtext_buffer_model(xtext_buffer *buf);

void gtk_xtext_append(xtext_buffer *buf, const char *text, int len, time_t stamp);
void gtk_xtext_append_indent(xtext_buffer *buf, const char *left, int left_len, const char *right, int right_len,
                             time_t stamp);
// The print path: splits at line feeds (and tabs with `indent`), puts the
// stamp in front when not indenting; rings the bell for BEL bytes.
void gtk_xtext_print(xtext_buffer *buf, const char *text, bool indent, time_t stamp);
void gtk_xtext_clear(xtext_buffer *buf, int lines);
bool gtk_xtext_is_empty(xtext_buffer *buf);

// Returns the entry of the current match or null; *error gets a new string
// when a regular expression does not compile.
const xtext::entry *gtk_xtext_search(GtkXText *xtext, const char *text, int flags, char **error);
// Prepares `buf`'s search pattern for a lastlog into it.
bool gtk_xtext_set_search_pattern(xtext_buffer *buf, const char *text, int flags, char **error);
int gtk_xtext_lastlog(xtext_buffer *dest, xtext_buffer *src);
bool gtk_xtext_save(GtkXText *xtext, int fd);
void gtk_xtext_foreach(xtext_buffer *buf, void (*fn)(GtkXText *, const char *, void *), void *data);
void gtk_xtext_copy_selection(GtkXText *xtext);
void gtk_xtext_refresh(GtkXText *xtext);

bool gtk_xtext_set_font(GtkXText *xtext, const char *name);
void gtk_xtext_set_palette(GtkXText *xtext, const GdkRGBA *palette);
void gtk_xtext_set_background(GtkXText *xtext, cairo_surface_t *surface);
void gtk_xtext_set_indent(GtkXText *xtext, bool indent);
void gtk_xtext_set_max_indent(GtkXText *xtext, int pixels);
void gtk_xtext_set_max_lines(GtkXText *xtext, int lines);
void gtk_xtext_set_show_marker(GtkXText *xtext, bool show);
void gtk_xtext_set_show_separator(GtkXText *xtext, bool show);
void gtk_xtext_set_thin_separator(GtkXText *xtext, bool thin);
void gtk_xtext_set_wordwrap(GtkXText *xtext, bool wrap);
void gtk_xtext_set_urlcheck_function(GtkXText *xtext, xtext_urlcheck_fn fn);
void gtk_xtext_set_time_stamp(xtext_buffer *buf, bool stamps);

void gtk_xtext_set_marker_last(xtext_buffer *buf);
void gtk_xtext_reset_marker_pos(GtkXText *xtext);
int gtk_xtext_moveto_marker_pos(GtkXText *xtext);
void gtk_xtext_check_marker_visibility(GtkXText *xtext);

// `when` formatted with stamp_text_format; returns its length.
int xtext_get_stamp_str(time_t when, char **out);
