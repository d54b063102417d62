#include "textview/gtkxtext.h"

#include "config/cfgfiles.h"
#include "output/log.h"
#include "support/gtk-handles.h"
#include "theme/theme-gtk.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

using xtext::entry;
using xtext::format_state;
using xtext::text_buffer;
using xtext::text_pos;

namespace
{

// Redraw delays after moving the separator and after trimming a matched line.
constexpr guint SEPARATOR_REDRAW_MS = 20;
constexpr guint TRIM_MATCH_REDRAW_MS = 40;
constexpr guint SELECT_SCROLL_MS = 100;

// Character widths through Pango for the characters outside the ASCII table.
class pango_metrics final : public xtext::text_metrics
{
  public:
    PangoLayout *layout = nullptr; // owned by the widget's private data
    PangoAttrList *styles[4] = {};

  protected:
    int measure(std::string_view ch, int style) override
    {
        if (!layout)
            return 0;
        pango_layout_set_attributes(layout, styles[style]);
        pango_layout_set_text(layout, ch.data(), static_cast<int>(ch.size()));
        int w = 0;
        pango_layout_get_pixel_size(layout, &w, nullptr);
        return w;
    }
};

} // namespace

struct xtext_buffer {
    GtkXText *xtext;
    std::unique_ptr<text_buffer> model;
};

struct xtext_private {
    GtkXText *self = nullptr;
    xtext_buffer *buffer = nullptr; // shown
    xtext_buffer *orig_buffer = nullptr;
    xtext_buffer *selection_buffer = nullptr;
    GdkRGBA palette[xtext::COLOR_COUNT] = {};

    PangoFontDescription *font = nullptr;
    PangoLayout *layout = nullptr; // one for all drawing and measuring
    pango_metrics metrics;
    int ascent = 0, descent = 0, fontheight = 1;
    xtext::view_config config;

    GtkAdjustment *hadj = nullptr, *vadj = nullptr;
    GtkScrollablePolicy hpolicy = GTK_SCROLL_MINIMUM, vpolicy = GTK_SCROLL_MINIMUM;
    gulong vadj_handler = 0;
    bool adjusting = false;

    bool thin_separator = true;
    bool show_marker = true;
    bool show_separator = true;
    bool copy_colors = false;
    bool copy_stamps = false;

    // The link under the pointer, by entry id (never a pointer: the entry may go).
    bool hover = false;
    uint64_t hover_id = 0;
    std::size_t hover_start = 0, hover_end = 0;
    time_t tooltip_time = 0;

    bool button_down = false, selecting = false, moving_separator = false;
    bool word_select = false, line_select = false;
    double press_x = 0, press_y = 0;
    text_pos anchor, anchor_end;
    double select_y = 0;
    source_id scroll_timer;

    xtext_urlcheck_fn urlcheck = nullptr;
    cairo_surface_t *background = nullptr;
    source_id redraw_idle, redraw_timer;
};

namespace
{

guint word_click_signal = 0;

enum { PROP_0, PROP_HADJUSTMENT, PROP_VADJUSTMENT, PROP_HSCROLL_POLICY, PROP_VSCROLL_POLICY };

xtext_private *P(GtkXText *x)
{
    return x->priv;
}

text_buffer &model(xtext_private *p)
{
    return *p->buffer->model;
}

int page_lines(xtext_private *p)
{
    const int h = gtk_widget_get_allocated_height(GTK_WIDGET(p->self));
    return std::max(1, h / std::max(1, p->fontheight));
}

bool window_active(xtext_private *p)
{
    GtkWidget *top = gtk_widget_get_toplevel(GTK_WIDGET(p->self));
    return GTK_IS_WINDOW(top) && gtk_window_is_active(GTK_WINDOW(top));
}

void update_adjustment(xtext_private *p)
{
    if (!p->vadj || !p->buffer)
        return;
    text_buffer &m = model(p);
    const double page = page_lines(p);
    const double upper = std::max<double>(static_cast<double>(m.line_count()), page);
    double value = m.at_bottom || m.scroll_value < 0 ? upper - page : std::min(m.scroll_value, upper - page);
    const double step = std::max(1.0, std::floor(page * prefs.gui_mouse_scroll_speed / 100.0));
    p->adjusting = true;
    gtk_adjustment_configure(p->vadj, value, 0, upper, 1, step, page);
    p->adjusting = false;
    m.scroll_value = value;
}

void redraw(xtext_private *p)
{
    guarded("text view redraw", [&] {
        update_adjustment(p);
        gtk_widget_queue_draw(GTK_WIDGET(p->self));
    });
}

// Each callback forgets only its own source; the other may still be pending.
gboolean redraw_on_idle(gpointer data) noexcept
{
    auto *p = static_cast<xtext_private *>(data);
    p->redraw_idle.release();
    redraw(p);
    return G_SOURCE_REMOVE;
}

gboolean redraw_on_timer(gpointer data) noexcept
{
    auto *p = static_cast<xtext_private *>(data);
    p->redraw_timer.release();
    redraw(p);
    return G_SOURCE_REMOVE;
}

// Appends never draw at once: one idle call (or a short timer) collects them.
void schedule_redraw(xtext_private *p, guint delay_ms = 0)
{
    if (delay_ms) {
        if (!p->redraw_timer)
            p->redraw_timer.reset(g_timeout_add(delay_ms, redraw_on_timer, p));
        return;
    }
    if (!p->redraw_idle)
        p->redraw_idle.reset(g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, redraw_on_idle, p, nullptr));
}

void set_source(cairo_t *cr, const GdkRGBA &c)
{
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

std::string stamp_text(time_t when)
{
    char *s = nullptr;
    const int n = xtext_get_stamp_str(when, &s);
    std::string out(s ? s : "", static_cast<std::size_t>(std::max(n, 0)));
    g_free(s);
    return out;
}

// The width of a stretch of stored text (control codes and hidden text add nothing).
int span_width(xtext_private *p, const char *text, std::size_t len, std::size_t from, std::size_t to, format_state &st,
               xtext::link_span *link = nullptr)
{
    int w = 0;
    xtext::link_span none;
    if (!link)
        link = &none;
    for (std::size_t i = from; i < to;) {
        if (std::size_t n = xtext::apply_control(text, len, i, st, p->config.ignore_hidden, *link)) {
            i += n;
            continue;
        }
        if (text[i] != '\n' && !st.hidden)
            w += p->metrics.width(text, len, i, st.style());
        i += std::min(xtext::utf8_char_len(static_cast<unsigned char>(text[i])), len - i);
    }
    return w;
}

void draw_text(xtext_private *p, cairo_t *cr, const char *s, std::size_t n, double x, double y, const format_state &st,
               bool selected, bool underline, int width)
{
    const int fg = selected ? xtext::COLOR_SELECTED_FG : st.fg;
    const int bg = selected ? xtext::COLOR_SELECTED_BG : st.bg;
    if (bg != xtext::COLOR_BG || selected) {
        set_source(cr, p->palette[std::clamp(bg, 0, xtext::COLOR_COUNT - 1)]);
        cairo_rectangle(cr, x, y, width, p->fontheight);
        cairo_fill(cr);
    }
    PangoAttrList *attrs = pango_attr_list_copy(p->metrics.styles[st.style()]);
    if (st.underline || underline)
        pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (st.strike)
        pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(p->layout, attrs);
    pango_attr_list_unref(attrs);
    pango_layout_set_text(p->layout, s, static_cast<int>(n));
    set_source(cr, p->palette[std::clamp(fg, 0, xtext::COLOR_COUNT - 1)]);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, p->layout);
}

// One display line of an entry: runs split wherever the formatting, the
// selection, a search match or the hovered link begins or ends.
void draw_subline(xtext_private *p, cairo_t *cr, const entry &e, uint64_t id, std::size_t sub, double y)
{
    text_buffer &m = model(p);
    const std::size_t start = e.line_start(sub), end = e.line_end(sub);
    format_state st;
    xtext::link_span link;
    if (p->hover && p->hover_id == id)
        link = {p->hover_start, p->hover_end, false};
    span_width(p, e.text, e.len, 0, start, st, &link); // the formatting where this line begins
    double x = sub == 0 ? e.indent : m.indent();

    std::size_t sel_s = 0, sel_e = 0;
    const bool has_sel = m.selected_range(e, &sel_s, &sel_e);
    std::size_t cur_s = 0, cur_e = 0;
    const entry *cur = m.current_match(&cur_s, &cur_e);
    const bool all = m.search_flags() & xtext::SEARCH_HIGHLIGHT;
    auto marked = [&](std::size_t i) {
        if (has_sel && i >= sel_s && i < sel_e)
            return true;
        if (cur == &e && i >= cur_s && i < cur_e)
            return true;
        if (all && e.extra)
            for (const auto &mt : e.extra->matches)
                if (i >= mt.first && i < mt.second)
                    return true;
        return false;
    };
    auto hovered = [&](std::size_t i) {
        return p->hover && p->hover_id == id && i >= p->hover_start && i < p->hover_end;
    };

    std::size_t seg = start;
    int seg_w = 0;
    bool seg_mark = false, seg_hover = false;
    format_state seg_st = st;
    auto flush = [&](std::size_t to) {
        if (to > seg && !seg_st.hidden)
            draw_text(p, cr, e.text + seg, to - seg, x, y, seg_st, seg_mark, seg_hover, seg_w);
        x += seg_w;
        seg_w = 0;
        seg = to;
    };
    for (std::size_t i = start; i < end;) {
        if (link.settle(i, st)) {
            flush(i);
            seg_st = st;
        }
        format_state next = st;
        if (std::size_t n = xtext::apply_control(e.text, e.len, i, next, p->config.ignore_hidden, link)) {
            flush(i);
            st = next;
            i += n;
            seg = i;
            seg_st = st;
            continue;
        }
        if (e.text[i] == '\n') {
            flush(i);
            seg = ++i;
            continue;
        }
        const bool mk = marked(i), hv = hovered(i);
        if (i == seg) {
            seg_mark = mk;
            seg_hover = hv;
            seg_st = st;
        } else if (mk != seg_mark || hv != seg_hover) {
            flush(i);
            seg_mark = mk;
            seg_hover = hv;
            seg_st = st;
        }
        if (!st.hidden)
            seg_w += p->metrics.width(e.text, e.len, i, st.style());
        i += std::min(xtext::utf8_char_len(static_cast<unsigned char>(e.text[i])), static_cast<std::size_t>(e.len) - i);
    }
    flush(end);
}

gboolean xtext_draw(GtkWidget *widget, cairo_t *cr) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    guarded("text view draw", [&] {
        const int w = gtk_widget_get_allocated_width(widget);
        const int h = gtk_widget_get_allocated_height(widget);
        if (p->background) {
            cairo_set_source_surface(cr, p->background, 0, 0);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
        } else {
            set_source(cr, p->palette[xtext::COLOR_BG]);
        }
        cairo_paint(cr);
        if (!p->buffer || !p->layout)
            return;
        text_buffer &m = model(p);
        const uint64_t top = p->vadj ? static_cast<uint64_t>(std::max(0.0, gtk_adjustment_get_value(p->vadj))) : 0;
        const bool stamps = m.time_stamps && p->config.auto_indent;
        const bool focus = window_active(p);
        // One lookup for the top line, then a walk: the cost follows the
        // visible lines, not the buffer's length.
        std::size_t sub = 0;
        std::size_t index = m.index_at_line(top, &sub);
        for (int row = 0; row * p->fontheight < h && index < m.size(); ++row) {
            const entry *e = &m.at(index);
            const double y = row * p->fontheight;
            const uint64_t id = m.first_id() + index;
            if (sub == 0 && stamps) {
                const std::string s = stamp_text(e->stamp);
                std::size_t ss = 0, se = 0;
                const bool sel = p->copy_stamps && m.selected_range(*e, &ss, &se) && ss == 0;
                format_state st;
                draw_text(p, cr, s.data(), s.size(), 2, y, st, sel, false, p->config.stamp_width);
            }
            draw_subline(p, cr, *e, id, sub, y);
            if (p->show_marker && sub == 0 && m.marker() == e) {
                set_source(cr, p->palette[xtext::COLOR_MARKER]);
                cairo_rectangle(cr, 0, y, w, 1);
                cairo_fill(cr);
                if (focus)
                    m.marker_seen = true;
            }
            if (++sub >= e->lines) {
                sub = 0;
                ++index;
            }
        }
        if (p->show_separator && p->config.auto_indent) {
            const int x = m.indent() - (p->metrics.space_width + 1) / 2;
            if (x > 0) {
                GdkRGBA dark = p->palette[xtext::COLOR_FG], light = p->palette[xtext::COLOR_BG];
                dark.alpha = 0.35;
                light.alpha = 0.8;
                if (p->moving_separator)
                    std::swap(dark, light);
                set_source(cr, dark);
                cairo_rectangle(cr, x, 0, 1, h);
                cairo_fill(cr);
                if (!p->thin_separator) {
                    set_source(cr, light);
                    cairo_rectangle(cr, x - 1, 0, 1, h);
                    cairo_fill(cr);
                }
            }
        }
    });
    return TRUE;
}

// --- positions and words ---------------------------------------------------------

// The entry and byte offset under (x, y); false below the last line.
bool pos_at(xtext_private *p, double x, double y, text_pos *out, const entry **ent = nullptr)
{
    if (!p->buffer)
        return false;
    text_buffer &m = model(p);
    const double top = p->vadj ? gtk_adjustment_get_value(p->vadj) : 0;
    const double line = std::floor(top) + std::floor(y / std::max(1, p->fontheight));
    if (line < 0)
        return false;
    std::size_t sub = 0;
    const entry *e = m.entry_at_line(static_cast<uint64_t>(line), &sub);
    if (!e)
        return false;
    const std::size_t start = e->line_start(sub), end = e->line_end(sub);
    format_state st;
    span_width(p, e->text, e->len, 0, start, st);
    double cx = sub == 0 ? e->indent : m.indent();
    std::size_t i = start;
    while (i < end) {
        if (std::size_t n = xtext::apply_control(e->text, e->len, i, st, p->config.ignore_hidden)) {
            i += n;
            continue;
        }
        const int w = st.hidden || e->text[i] == '\n' ? 0 : p->metrics.width(e->text, e->len, i, st.style());
        if (x < cx + w / 2.0)
            break;
        cx += w;
        i += std::min(xtext::utf8_char_len(static_cast<unsigned char>(e->text[i])), end - i);
    }
    out->id = m.id_of(*e);
    out->offset = i;
    if (ent)
        *ent = e;
    return true;
}

bool word_delim(char c)
{
    return c == ' ' || c == '\n' || c == '<' || c == '>';
}

// The general word around `offset`: bounds in stored bytes and its text.
std::string word_at(const entry &e, std::size_t offset, std::size_t *ws, std::size_t *we)
{
    std::size_t s = std::min<std::size_t>(offset, e.len), t = s;
    while (s > 0 && !word_delim(e.text[s - 1]))
        --s;
    while (t < e.len && !word_delim(e.text[t]))
        ++t;
    std::string w = xtext::strip_codes(e.text + s, t - s);
    if (!w.empty() && w.back() == '.') {
        w.pop_back();
        if (t > s)
            --t;
    }
    *ws = s;
    *we = t;
    return w;
}

bool word_char(unsigned char c)
{
    return c >= 0x80 || g_ascii_isalnum(c) || c == '_' || c == '-';
}

void emit_word_click(xtext_private *p, const char *word, GdkEventButton *event)
{
    g_signal_emit(p->self, word_click_signal, 0, word, event);
}

std::string word_under(xtext_private *p, double x, double y)
{
    text_pos pos;
    const entry *e = nullptr;
    if (!pos_at(p, x, y, &pos, &e))
        return {};
    std::size_t s, t;
    return word_at(*e, pos.offset, &s, &t);
}

// --- selection ---------------------------------------------------------------------

void take_selection_buffer(xtext_private *p)
{
    if (p->selection_buffer && p->selection_buffer != p->buffer)
        p->selection_buffer->model->clear_selection();
    p->selection_buffer = p->buffer;
}

void copy_text(xtext_private *p, bool keep_codes)
{
    if (!p->selection_buffer)
        return;
    text_buffer &m = *p->selection_buffer->model;
    std::function<std::string(time_t)> stamp;
    if (p->copy_stamps && !(prefs.stamp_text && !prefs.text_indent))
        stamp = [](time_t t) { return stamp_text(t); };
    const std::string text = m.selected_text(keep_codes, stamp);
    if (text.empty())
        return;
    GtkWidget *w = GTK_WIDGET(p->self);
    gtk_clipboard_set_text(gtk_widget_get_clipboard(w, GDK_SELECTION_CLIPBOARD), text.c_str(),
                           static_cast<gint>(text.size()));
    gtk_clipboard_set_text(gtk_widget_get_clipboard(w, GDK_SELECTION_PRIMARY), text.c_str(),
                           static_cast<gint>(text.size()));
    // Some X programs still paste from the secondary selection.
    gtk_clipboard_set_text(gtk_widget_get_clipboard(w, GDK_SELECTION_SECONDARY), text.c_str(),
                           static_cast<gint>(text.size()));
}

void extend_selection(xtext_private *p, double x, double y)
{
    text_pos pos;
    if (!pos_at(p, x, std::clamp<double>(y, 0, gtk_widget_get_allocated_height(GTK_WIDGET(p->self)) - 1), &pos)) {
        if (y < 0 || model(p).empty())
            return;
        pos = {model(p).end_id() - 1, model(p).at(model(p).size() - 1).len};
    }
    text_pos a = p->anchor, b = p->anchor_end;
    if (pos < a)
        a = b, b = pos;
    else
        b = pos;
    if (p->line_select) {
        if (pos < p->anchor)
            a = {pos.id, 0}, b = {p->anchor.id, model(p).find(p->anchor.id) ? model(p).find(p->anchor.id)->len : 0u};
        else
            a = {p->anchor.id, 0}, b = {pos.id, model(p).find(pos.id) ? model(p).find(pos.id)->len : 0u};
    }
    model(p).set_selection(a, b);
    take_selection_buffer(p);
    gtk_widget_queue_draw(GTK_WIDGET(p->self));
}

gboolean select_scroll(gpointer data) noexcept
{
    auto *p = static_cast<xtext_private *>(data);
    guarded("selection scroll", [&] {
        if (!p->selecting || !p->vadj)
            return;
        const int h = gtk_widget_get_allocated_height(GTK_WIDGET(p->self));
        const double dir = p->select_y < 0 ? -1 : (p->select_y >= h ? 1 : 0);
        if (dir == 0)
            return;
        const double v = gtk_adjustment_get_value(p->vadj) + dir;
        gtk_adjustment_set_value(
            p->vadj, std::clamp(v, 0.0, gtk_adjustment_get_upper(p->vadj) - gtk_adjustment_get_page_size(p->vadj)));
        extend_selection(p, p->press_x, p->select_y);
    });
    return G_SOURCE_CONTINUE;
}

bool near_separator(xtext_private *p, double x)
{
    if (!p->buffer || !p->show_separator || !p->config.auto_indent)
        return false;
    const int sx = model(p).indent() - (p->metrics.space_width + 1) / 2;
    return std::fabs(x - sx) <= 1.5;
}

void set_cursor(xtext_private *p, const char *name)
{
    GdkWindow *win = gtk_widget_get_window(GTK_WIDGET(p->self));
    if (!win)
        return;
    GdkCursor *c = name ? gdk_cursor_new_from_name(gdk_window_get_display(win), name) : nullptr;
    gdk_window_set_cursor(win, c);
    if (c)
        g_object_unref(c);
}

void move_separator(xtext_private *p, double x, double limit)
{
    const int w = gtk_widget_get_allocated_width(GTK_WIDGET(p->self));
    if (x > 15 && x < w * limit) {
        model(p).set_indent(static_cast<int>(x));
        schedule_redraw(p, SEPARATOR_REDRAW_MS);
    }
}

gboolean xtext_button_press(GtkWidget *widget, GdkEventButton *event) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    guarded("text view press", [&] {
        if (!p->buffer)
            return;
        if (event->button == 2 || event->button == 3) {
            if (event->type == GDK_BUTTON_PRESS) {
                const std::string w = word_under(p, event->x, event->y);
                emit_word_click(p, w.c_str(), event);
            }
            return;
        }
        if (event->button != 1)
            return;
        text_pos pos;
        const entry *e = nullptr;
        const bool on_text = pos_at(p, event->x, event->y, &pos, &e);
        p->copy_stamps = prefs.text_autocopy_stamp || (event->state & GDK_SHIFT_MASK);
        if (event->type == GDK_3BUTTON_PRESS && on_text) {
            p->line_select = true;
            p->word_select = false;
            p->anchor = {pos.id, 0};
            p->anchor_end = {pos.id, e->len};
            model(p).set_selection(p->anchor, p->anchor_end);
            take_selection_buffer(p);
            p->selecting = p->button_down = true;
            gtk_widget_queue_draw(widget);
            return;
        }
        if (event->type == GDK_2BUTTON_PRESS && on_text) {
            std::size_t s = pos.offset, t = pos.offset;
            if (pos.offset < e->len && word_char(static_cast<unsigned char>(e->text[pos.offset]))) {
                while (s > 0 && word_char(static_cast<unsigned char>(e->text[s - 1])))
                    --s;
                while (t < e->len && word_char(static_cast<unsigned char>(e->text[t])))
                    ++t;
            } else {
                word_at(*e, pos.offset, &s, &t);
            }
            p->word_select = true;
            p->line_select = false;
            p->anchor = {pos.id, s};
            p->anchor_end = {pos.id, t};
            model(p).set_selection(p->anchor, p->anchor_end);
            take_selection_buffer(p);
            p->selecting = p->button_down = true;
            gtk_widget_queue_draw(widget);
            return;
        }
        if (event->type != GDK_BUTTON_PRESS)
            return;
        p->press_x = event->x;
        p->press_y = event->y;
        p->button_down = true;
        p->word_select = p->line_select = false;
        if (near_separator(p, event->x)) {
            p->moving_separator = true;
            gtk_widget_queue_draw(widget);
            return;
        }
        if (p->selection_buffer)
            p->selection_buffer->model->clear_selection();
        p->selecting = true;
        if (!on_text && !model(p).empty())
            pos = {model(p).end_id() - 1, model(p).at(model(p).size() - 1).len};
        p->anchor = p->anchor_end = pos;
        gtk_widget_queue_draw(widget);
    });
    return TRUE;
}

gboolean xtext_button_release(GtkWidget *widget, GdkEventButton *event) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    guarded("text view release", [&] {
        if (event->button != 1 || !p->buffer)
            return;
        p->button_down = false;
        p->scroll_timer.reset();
        if (p->moving_separator) {
            p->moving_separator = false;
            move_separator(p, event->x, 4.0 / 5.0);
            gtk_widget_queue_draw(widget);
            return;
        }
        if (!p->selecting)
            return;
        p->selecting = false;
        text_buffer &m = model(p);
        const bool clicked = event->x == p->press_x && event->y == p->press_y && !p->word_select && !p->line_select;
        if (clicked && m.has_selection()) {
            m.clear_selection();
            gtk_widget_queue_draw(widget);
        }
        const bool selected = m.has_selection() && !(m.selection_start() == m.selection_end());
        if (selected) {
            p->copy_colors = (event->state & GDK_CONTROL_MASK) || prefs.text_autocopy_color;
            if (prefs.text_autocopy_text)
                copy_text(p, p->copy_colors);
        } else {
            m.clear_selection();
            const std::string w = word_under(p, event->x, event->y);
            emit_word_click(p, w.c_str(), event);
        }
    });
    return TRUE;
}

void update_hover(xtext_private *p, double x, double y)
{
    bool hover = false;
    text_pos pos;
    const entry *e = nullptr;
    std::size_t s = 0, t = 0;
    if (p->urlcheck && pos_at(p, x, y, &pos, &e)) {
        const std::string w = word_at(*e, pos.offset, &s, &t);
        hover = !w.empty() && pos.offset < t && p->urlcheck(GTK_WIDGET(p->self), w.c_str()) > 0;
    }
    if (hover != p->hover || (hover && (p->hover_id != pos.id || p->hover_start != s))) {
        p->hover = hover;
        p->hover_id = pos.id;
        p->hover_start = s;
        p->hover_end = t;
        gtk_widget_queue_draw(GTK_WIDGET(p->self));
    }
    set_cursor(p, near_separator(p, x) ? "col-resize" : (hover ? "pointer" : nullptr));
}

gboolean xtext_motion(GtkWidget *widget, GdkEventMotion *event) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    guarded("text view motion", [&] {
        if (!p->buffer)
            return;
        if (p->moving_separator) {
            move_separator(p, event->x, 3.0 / 5.0);
            return;
        }
        if (p->selecting && p->button_down) {
            p->select_y = event->y;
            extend_selection(p, event->x, event->y);
            const int h = gtk_widget_get_allocated_height(widget);
            if ((event->y < 0 || event->y >= h) && !p->scroll_timer)
                p->scroll_timer.reset(g_timeout_add(SELECT_SCROLL_MS, select_scroll, p));
            else if (event->y >= 0 && event->y < h)
                p->scroll_timer.reset();
            return;
        }
        update_hover(p, event->x, event->y);
    });
    return FALSE;
}

gboolean xtext_leave(GtkWidget *widget, GdkEventCrossing *) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    if (p->hover) {
        p->hover = false;
        gtk_widget_queue_draw(widget);
    }
    return FALSE;
}

gboolean xtext_scroll(GtkWidget *widget, GdkEventScroll *event) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    guarded("text view scroll", [&] {
        if (!p->vadj)
            return;
        double dir = 0;
        if (event->direction == GDK_SCROLL_UP)
            dir = -1;
        else if (event->direction == GDK_SCROLL_DOWN)
            dir = 1;
        else if (event->direction == GDK_SCROLL_SMOOTH)
            dir = event->delta_y < 0 ? -1 : (event->delta_y > 0 ? 1 : 0);
        const double step = std::max(1.0, std::max(prefs.gui_mouse_scroll_speed, 1) *
                                              gtk_adjustment_get_page_increment(p->vadj) / 100.0);
        const double v = gtk_adjustment_get_value(p->vadj) + dir * step;
        gtk_adjustment_set_value(
            p->vadj, std::clamp(v, 0.0, gtk_adjustment_get_upper(p->vadj) - gtk_adjustment_get_page_size(p->vadj)));
    });
    return TRUE;
}

gboolean xtext_query_tooltip(GtkWidget *widget, gint x, gint y, gboolean, GtkTooltip *tooltip) noexcept
{
    auto *p = P(GTK_XTEXT(widget));
    return guarded<gboolean>("text view tooltip", FALSE, [&]() -> gboolean {
        text_pos pos;
        const entry *e = nullptr;
        if (!pos_at(p, x, y, &pos, &e))
            return FALSE;
        char date[64];
        struct tm tm_local;
        const time_t when = e->stamp;
        if (!localtime_r(&when, &tm_local) || !strftime(date, sizeof date, "%Y-%m-%d", &tm_local))
            return FALSE;
        std::string text;
        if (model(p).time_stamps && p->config.auto_indent) {
            if (x >= p->config.stamp_width + 2)
                return FALSE;
            text = date;
        } else {
            text = std::string(date) + " " + stamp_text(when);
        }
        gtk_tooltip_set_text(tooltip, text.c_str());
        return TRUE;
    });
}

// --- GObject plumbing --------------------------------------------------------------

void on_vadj_changed(GtkAdjustment *adj, gpointer data) noexcept
{
    auto *p = static_cast<xtext_private *>(data);
    if (p->adjusting || !p->buffer)
        return;
    text_buffer &m = model(p);
    m.scroll_value = gtk_adjustment_get_value(adj);
    m.at_bottom = m.scroll_value + gtk_adjustment_get_page_size(adj) >= gtk_adjustment_get_upper(adj) - 0.5;
    gtk_widget_queue_draw(GTK_WIDGET(p->self));
}

void set_vadjustment(xtext_private *p, GtkAdjustment *adj)
{
    if (p->vadj == adj && adj)
        return;
    if (p->vadj) {
        g_signal_handler_disconnect(p->vadj, p->vadj_handler);
        g_object_unref(p->vadj);
    }
    if (!adj)
        adj = gtk_adjustment_new(0, 0, 1, 1, 1, 1);
    p->vadj = GTK_ADJUSTMENT(g_object_ref_sink(adj));
    p->vadj_handler = g_signal_connect(adj, "value-changed", G_CALLBACK(on_vadj_changed), p);
    update_adjustment(p);
}

void set_hadjustment(xtext_private *p, GtkAdjustment *adj)
{
    if (p->hadj)
        g_object_unref(p->hadj);
    if (!adj)
        adj = gtk_adjustment_new(0, 0, 1, 1, 1, 1);
    p->hadj = GTK_ADJUSTMENT(g_object_ref_sink(adj));
    gtk_adjustment_configure(p->hadj, 0, 0, 1, 1, 1, 1);
}

} // namespace

G_DEFINE_TYPE_WITH_CODE(GtkXText, gtk_xtext, GTK_TYPE_WIDGET, G_IMPLEMENT_INTERFACE(GTK_TYPE_SCROLLABLE, nullptr))

namespace
{

void xtext_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec)
{
    auto *p = P(GTK_XTEXT(object));
    switch (id) {
    case PROP_HADJUSTMENT:
        set_hadjustment(p, GTK_ADJUSTMENT(g_value_get_object(value)));
        break;
    case PROP_VADJUSTMENT:
        set_vadjustment(p, GTK_ADJUSTMENT(g_value_get_object(value)));
        break;
    case PROP_HSCROLL_POLICY:
        p->hpolicy = static_cast<GtkScrollablePolicy>(g_value_get_enum(value));
        break;
    case PROP_VSCROLL_POLICY:
        p->vpolicy = static_cast<GtkScrollablePolicy>(g_value_get_enum(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void xtext_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec)
{
    auto *p = P(GTK_XTEXT(object));
    switch (id) {
    case PROP_HADJUSTMENT:
        g_value_set_object(value, p->hadj);
        break;
    case PROP_VADJUSTMENT:
        g_value_set_object(value, p->vadj);
        break;
    case PROP_HSCROLL_POLICY:
        g_value_set_enum(value, p->hpolicy);
        break;
    case PROP_VSCROLL_POLICY:
        g_value_set_enum(value, p->vpolicy);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void xtext_finalize(GObject *object)
{
    auto *x = GTK_XTEXT(object);
    xtext_private *p = x->priv;
    if (p->vadj) {
        g_signal_handler_disconnect(p->vadj, p->vadj_handler);
        g_object_unref(p->vadj);
    }
    if (p->hadj)
        g_object_unref(p->hadj);
    // Buffers still owned by sessions keep a pointer to this widget; the
    // widget's own buffer goes with it.
    if (p->orig_buffer)
        delete p->orig_buffer;
    for (PangoAttrList *&a : p->metrics.styles)
        if (a)
            pango_attr_list_unref(a);
    if (p->layout)
        g_object_unref(p->layout);
    if (p->font)
        pango_font_description_free(p->font);
    if (p->background)
        cairo_surface_destroy(p->background);
    delete p;
    x->priv = nullptr;
    G_OBJECT_CLASS(gtk_xtext_parent_class)->finalize(object);
}

void xtext_realize(GtkWidget *widget)
{
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    gtk_widget_set_realized(widget, TRUE);
    GdkWindowAttr attr = {};
    attr.window_type = GDK_WINDOW_CHILD;
    attr.x = a.x;
    attr.y = a.y;
    attr.width = a.width;
    attr.height = a.height;
    attr.wclass = GDK_INPUT_OUTPUT;
    attr.visual = gtk_widget_get_visual(widget);
    attr.event_mask = gtk_widget_get_events(widget) | GDK_EXPOSURE_MASK | GDK_BUTTON_PRESS_MASK |
                      GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK |
                      GDK_SMOOTH_SCROLL_MASK;
    GdkWindow *win = gdk_window_new(gtk_widget_get_parent_window(widget), &attr, GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL);
    gtk_widget_register_window(widget, win);
    gtk_widget_set_window(widget, win);
}

void xtext_size_allocate(GtkWidget *widget, GtkAllocation *a)
{
    auto *p = P(GTK_XTEXT(widget));
    const int old_w = gtk_widget_get_allocated_width(widget);
    gtk_widget_set_allocation(widget, a);
    if (gtk_widget_get_realized(widget))
        gdk_window_move_resize(gtk_widget_get_window(widget), a->x, a->y, a->width, a->height);
    guarded("text view resize", [&] {
        if (p->buffer && (a->width != old_w || model(p).wrapped_width() != a->width || model(p).needs_rewrap)) {
            // Only the shown buffer is rewrapped; the others when shown.
            model(p).rewrap(a->width, a->height);
        }
        update_adjustment(p);
    });
}

void xtext_preferred_width(GtkWidget *, gint *min, gint *nat)
{
    *min = 64;
    *nat = 200;
}

void xtext_preferred_height(GtkWidget *, gint *min, gint *nat)
{
    *min = 32;
    *nat = 200;
}

void xtext_style_updated(GtkWidget *widget)
{
    GTK_WIDGET_CLASS(gtk_xtext_parent_class)->style_updated(widget);
    auto *x = GTK_XTEXT(widget);
    GdkRGBA palette[xtext::COLOR_COUNT];
    theme_get_xtext_colors_for_widget(widget, palette, xtext::COLOR_COUNT);
    gtk_xtext_set_palette(x, palette);
}

} // namespace

static void gtk_xtext_class_init(GtkXTextClass *klass)
{
    GObjectClass *oc = G_OBJECT_CLASS(klass);
    GtkWidgetClass *wc = GTK_WIDGET_CLASS(klass);
    oc->set_property = xtext_set_property;
    oc->get_property = xtext_get_property;
    oc->finalize = xtext_finalize;
    wc->realize = xtext_realize;
    wc->size_allocate = xtext_size_allocate;
    wc->draw = xtext_draw;
    wc->get_preferred_width = xtext_preferred_width;
    wc->get_preferred_height = xtext_preferred_height;
    wc->button_press_event = xtext_button_press;
    wc->button_release_event = xtext_button_release;
    wc->motion_notify_event = xtext_motion;
    wc->leave_notify_event = xtext_leave;
    wc->scroll_event = xtext_scroll;
    wc->query_tooltip = xtext_query_tooltip;
    wc->style_updated = xtext_style_updated;
    g_object_class_override_property(oc, PROP_HADJUSTMENT, "hadjustment");
    g_object_class_override_property(oc, PROP_VADJUSTMENT, "vadjustment");
    g_object_class_override_property(oc, PROP_HSCROLL_POLICY, "hscroll-policy");
    g_object_class_override_property(oc, PROP_VSCROLL_POLICY, "vscroll-policy");
    word_click_signal =
        g_signal_new("word_click", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_FIRST, 0, nullptr, nullptr, nullptr,
                     G_TYPE_NONE, 2, G_TYPE_STRING, GDK_TYPE_EVENT | G_SIGNAL_TYPE_STATIC_SCOPE);
    gtk_widget_class_set_css_name(wc, "textview");
}

static void gtk_xtext_init(GtkXText *x)
{
    x->priv = new xtext_private;
    xtext_private *p = x->priv;
    p->self = x;
    p->config.metrics = &p->metrics;
    gtk_widget_set_has_window(GTK_WIDGET(x), TRUE);
    gtk_widget_set_can_focus(GTK_WIDGET(x), FALSE);
    gtk_widget_set_has_tooltip(GTK_WIDGET(x), TRUE);
    gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(x)), "view");
}

// --- the interface -------------------------------------------------------------------

GtkWidget *gtk_xtext_new(const GdkRGBA *palette, bool separator)
{
    auto *x = GTK_XTEXT(g_object_new(GTK_TYPE_XTEXT, nullptr));
    xtext_private *p = x->priv;
    p->show_separator = separator;
    if (palette)
        std::copy(palette, palette + xtext::COLOR_COUNT, p->palette);
    // The theme's colours for this widget replace the ones given.
    GdkRGBA themed[xtext::COLOR_COUNT];
    theme_get_xtext_colors_for_widget(GTK_WIDGET(x), themed, xtext::COLOR_COUNT);
    gtk_xtext_set_palette(x, themed);
    gtk_xtext_set_font(x, "Sans 10");
    p->orig_buffer = gtk_xtext_buffer_new(x);
    p->buffer = p->orig_buffer;
    set_hadjustment(p, nullptr);
    set_vadjustment(p, nullptr);
    return GTK_WIDGET(x);
}

xtext_buffer *gtk_xtext_buffer_new(GtkXText *xtext)
{
    // A session's buffer keeps its widget alive: it may be freed after the
    // widget's window is gone.
    auto *b = new xtext_buffer{xtext, std::make_unique<text_buffer>(xtext->priv->config)};
    if (xtext->priv->orig_buffer || xtext->priv->buffer)
        g_object_ref(xtext);
    return b;
}

void gtk_xtext_buffer_free(xtext_buffer *buf)
{
    if (!buf)
        return;
    xtext_private *p = buf->xtext->priv;
    if (p->selection_buffer == buf)
        p->selection_buffer = nullptr;
    if (p->buffer == buf) {
        p->hover = false;
        p->selecting = p->button_down = false;
        p->scroll_timer.reset();
        p->buffer = buf == p->orig_buffer ? nullptr : p->orig_buffer;
        if (p->buffer)
            gtk_xtext_buffer_show(buf->xtext, p->buffer, true);
    }
    GtkXText *owner = buf->xtext;
    const bool own = p->orig_buffer == buf;
    if (own)
        p->orig_buffer = nullptr;
    delete buf;
    if (!own)
        g_object_unref(owner);
}

void gtk_xtext_buffer_move(xtext_buffer *buf, GtkXText *to)
{
    if (!buf || !to || buf->xtext == to)
        return;
    xtext_private *p = buf->xtext->priv;
    // A widget's own placeholder buffer never moves.
    if (p->orig_buffer == buf)
        return;
    if (p->selection_buffer == buf)
        p->selection_buffer = nullptr;
    if (p->buffer == buf) {
        p->hover = false;
        p->selecting = p->button_down = false;
        p->scroll_timer.reset();
        p->buffer = p->orig_buffer;
        if (p->buffer)
            gtk_xtext_buffer_show(buf->xtext, p->buffer, true);
    }
    GtkXText *old = buf->xtext;
    g_object_ref(to);
    buf->xtext = to;
    buf->model->set_config(to->priv->config);
    g_object_unref(old);
}

xtext_buffer *gtk_xtext_buffer_shown(GtkXText *xtext)
{
    return xtext->priv->buffer;
}

xtext::text_buffer &gtk_xtext_buffer_model(xtext_buffer *buf)
{
    return *buf->model;
}

void gtk_xtext_buffer_show(GtkXText *xtext, xtext_buffer *buf, bool render)
{
    xtext_private *p = xtext->priv;
    if (!buf)
        return;
    if (p->buffer != buf) {
        p->hover = false;
        p->selecting = false;
        p->scroll_timer.reset();
    }
    p->buffer = buf;
    const int w = gtk_widget_get_allocated_width(GTK_WIDGET(xtext));
    if (gtk_widget_get_realized(GTK_WIDGET(xtext)) && (buf->model->needs_rewrap || buf->model->wrapped_width() != w))
        buf->model->rewrap(w, gtk_widget_get_allocated_height(GTK_WIDGET(xtext)));
    update_adjustment(p);
    if (render)
        gtk_widget_queue_draw(GTK_WIDGET(xtext));
}

namespace
{

void after_change(xtext_buffer *buf, const xtext::change &c)
{
    xtext_private *p = buf->xtext->priv;
    if (p->buffer != buf)
        return;
    if (c.trimmed_match)
        schedule_redraw(p, TRIM_MATCH_REDRAW_MS);
    schedule_redraw(p);
    // A hovered entry that was trimmed away takes its underline with it.
    if (p->hover && !buf->model->find(p->hover_id))
        p->hover = false;
}

void before_append(xtext_buffer *buf)
{
    xtext_private *p = buf->xtext->priv;
    buf->model->seen_live = p->buffer == buf && window_active(p);
}

} // namespace

void gtk_xtext_append(xtext_buffer *buf, const char *text, int len, time_t stamp)
{
    before_append(buf);
    const std::size_t n = len < 0 ? std::strlen(text) : static_cast<std::size_t>(len);
    after_change(buf, buf->model->append(std::string_view(text, n), stamp));
}

void gtk_xtext_append_indent(xtext_buffer *buf, const char *left, int left_len, const char *right, int right_len,
                             time_t stamp)
{
    before_append(buf);
    const std::size_t ln = left ? (left_len < 0 ? std::strlen(left) : static_cast<std::size_t>(left_len)) : 0;
    const std::size_t rn = right ? (right_len < 0 ? std::strlen(right) : static_cast<std::size_t>(right_len)) : 0;
    after_change(buf, buf->model->append_indent(std::string_view(left ? left : "", ln),
                                                std::string_view(right ? right : "", rn), stamp));
}

void gtk_xtext_print(xtext_buffer *buf, const char *text, bool indent, time_t stamp)
{
    before_append(buf);
    const std::string prefix = !indent && prefs.stamp_text ? stamp_text(stamp ? stamp : time(nullptr)) : "";
    const uint64_t before = buf->model->first_id();
    const bool bell = xtext::print_text(*buf->model, text, indent, prefix, stamp);
    xtext::change c;
    c.trimmed = buf->model->first_id() != before;
    after_change(buf, c);
    if (bell && !prefs.input_filter_beep)
        gdk_display_beep(gdk_display_get_default());
}

void gtk_xtext_clear(xtext_buffer *buf, int lines)
{
    buf->model->clear(lines);
    xtext_private *p = buf->xtext->priv;
    if (p->buffer == buf) {
        if (p->hover && !buf->model->find(p->hover_id))
            p->hover = false;
        p->selecting = false;
        schedule_redraw(p);
    }
}

bool gtk_xtext_is_empty(xtext_buffer *buf)
{
    return buf->model->empty();
}

const xtext::entry *gtk_xtext_search(GtkXText *xtext, const char *text, int flags, char **error)
{
    xtext_private *p = xtext->priv;
    if (!p->buffer)
        return nullptr;
    text_buffer &m = model(p);
    const entry *e = m.search(text, flags, error);
    if (e && p->vadj) {
        const double page = gtk_adjustment_get_page_size(p->vadj);
        const double first = static_cast<double>(m.line_of(*e));
        const double value = gtk_adjustment_get_value(p->vadj);
        if (first < value || first + e->lines > value + page) {
            double v = flags & xtext::SEARCH_BACKWARD ? first + e->lines - page : first;
            v = std::clamp(v, 0.0, std::max(0.0, gtk_adjustment_get_upper(p->vadj) - page));
            gtk_adjustment_set_value(p->vadj, v);
        }
    }
    gtk_widget_queue_draw(GTK_WIDGET(xtext));
    return e;
}

bool gtk_xtext_set_search_pattern(xtext_buffer *buf, const char *text, int flags, char **error)
{
    return buf->model->set_pattern(text, flags, error);
}

int gtk_xtext_lastlog(xtext_buffer *dest, xtext_buffer *src)
{
    const int n = dest->model->lastlog_from(*src->model);
    after_change(dest, {});
    return n;
}

bool gtk_xtext_save(GtkXText *xtext, int fd)
{
    xtext_private *p = xtext->priv;
    if (!p->buffer)
        return false;
    const std::string text = model(p).save_text();
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void gtk_xtext_foreach(xtext_buffer *buf, void (*fn)(GtkXText *, const char *, void *), void *data)
{
    text_buffer &m = *buf->model;
    for (std::size_t i = 0; i < m.size(); ++i) {
        const std::string line(m.at(i).view());
        fn(buf->xtext, line.c_str(), data);
    }
}

void gtk_xtext_copy_selection(GtkXText *xtext)
{
    copy_text(xtext->priv, xtext->priv->copy_colors);
}

void gtk_xtext_refresh(GtkXText *xtext)
{
    if (gtk_widget_get_realized(GTK_WIDGET(xtext)))
        gtk_widget_queue_draw(GTK_WIDGET(xtext));
}

bool gtk_xtext_set_font(GtkXText *xtext, const char *name)
{
    xtext_private *p = xtext->priv;
    PangoFontDescription *font = pango_font_description_from_string(name && *name ? name : "sans 11");
    if (!font || !pango_font_description_get_size(font)) {
        if (font)
            pango_font_description_free(font);
        font = pango_font_description_from_string("sans 11");
    }
    if (!p->layout)
        p->layout = gtk_widget_create_pango_layout(GTK_WIDGET(xtext), nullptr);
    PangoContext *ctx = pango_layout_get_context(p->layout);
    PangoFontMetrics *fm = pango_context_get_metrics(ctx, font, pango_context_get_language(ctx));
    if (!fm) {
        pango_font_description_free(font);
        return false;
    }
    if (p->font)
        pango_font_description_free(p->font);
    p->font = font;
    pango_layout_set_font_description(p->layout, font);
    p->ascent = PANGO_PIXELS(pango_font_metrics_get_ascent(fm));
    p->descent = PANGO_PIXELS(pango_font_metrics_get_descent(fm));
#if PANGO_VERSION_CHECK(1, 44, 0)
    const int height = PANGO_PIXELS(pango_font_metrics_get_height(fm));
    p->fontheight = height > 0 ? height + 1 : p->ascent + p->descent;
#else
    p->fontheight = p->ascent + p->descent;
#endif
    pango_font_metrics_unref(fm);
    p->fontheight = std::max(1, p->fontheight);
    p->config.line_height = p->fontheight;

    for (int s = 0; s < 4; ++s) {
        if (p->metrics.styles[s])
            pango_attr_list_unref(p->metrics.styles[s]);
        PangoAttrList *a = pango_attr_list_new();
        if (s & 1)
            pango_attr_list_insert(a, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        if (s & 2)
            pango_attr_list_insert(a, pango_attr_style_new(PANGO_STYLE_OBLIQUE));
        p->metrics.styles[s] = a;
    }
    p->metrics.layout = p->layout;
    p->metrics.reset();
    for (int s = 0; s < 4; ++s) {
        pango_layout_set_attributes(p->layout, p->metrics.styles[s]);
        for (int c = 0; c < 128; ++c) {
            if (c < 32 || c == 127) {
                p->metrics.ascii[s][c] = 0;
                continue;
            }
            const char ch = static_cast<char>(c);
            pango_layout_set_text(p->layout, &ch, 1);
            int w = 0;
            pango_layout_get_pixel_size(p->layout, &w, nullptr);
            p->metrics.ascii[s][c] = w;
        }
    }
    p->metrics.ascii[0]['\t'] = p->metrics.ascii[0][' '];
    p->metrics.space_width = std::max(1, p->metrics.ascii[0][' ']);
    const std::string now = stamp_text(time(nullptr));
    xtext::format_state st;
    p->config.stamp_width = span_width(p, now.data(), now.size(), 0, now.size(), st) + 2;
    if (p->buffer) {
        text_buffer &m = model(p);
        m.set_indent(m.indent());
        const int w = gtk_widget_get_allocated_width(GTK_WIDGET(xtext));
        if (gtk_widget_get_realized(GTK_WIDGET(xtext)))
            m.rewrap(w, gtk_widget_get_allocated_height(GTK_WIDGET(xtext)));
        update_adjustment(p);
    }
    gtk_xtext_refresh(xtext);
    return true;
}

void gtk_xtext_set_palette(GtkXText *xtext, const GdkRGBA *palette)
{
    std::copy(palette, palette + xtext::COLOR_COUNT, xtext->priv->palette);
    gtk_xtext_refresh(xtext);
}

void gtk_xtext_set_background(GtkXText *xtext, cairo_surface_t *surface)
{
    xtext_private *p = xtext->priv;
    if (p->background)
        cairo_surface_destroy(p->background);
    p->background = surface ? cairo_surface_reference(surface) : nullptr;
    gtk_xtext_refresh(xtext);
}

namespace
{
void rewrap_shown(GtkXText *xtext)
{
    xtext_private *p = xtext->priv;
    if (!p->buffer)
        return;
    if (gtk_widget_get_realized(GTK_WIDGET(xtext)))
        model(p).rewrap(gtk_widget_get_allocated_width(GTK_WIDGET(xtext)),
                        gtk_widget_get_allocated_height(GTK_WIDGET(xtext)));
    schedule_redraw(p);
}
} // namespace

void gtk_xtext_set_indent(GtkXText *xtext, bool indent)
{
    xtext->priv->config.auto_indent = indent;
}

void gtk_xtext_set_max_indent(GtkXText *xtext, int pixels)
{
    xtext->priv->config.max_indent = std::max(0, pixels);
}

void gtk_xtext_set_max_lines(GtkXText *xtext, int lines)
{
    xtext->priv->config.max_lines = lines;
}

void gtk_xtext_set_show_marker(GtkXText *xtext, bool show)
{
    xtext->priv->show_marker = show;
}

void gtk_xtext_set_show_separator(GtkXText *xtext, bool show)
{
    xtext->priv->show_separator = show;
}

void gtk_xtext_set_thin_separator(GtkXText *xtext, bool thin)
{
    xtext->priv->thin_separator = thin;
}

void gtk_xtext_set_wordwrap(GtkXText *xtext, bool wrap)
{
    if (xtext->priv->config.wordwrap == wrap)
        return;
    xtext->priv->config.wordwrap = wrap;
    rewrap_shown(xtext);
}

void gtk_xtext_set_urlcheck_function(GtkXText *xtext, xtext_urlcheck_fn fn)
{
    xtext->priv->urlcheck = fn;
}

void gtk_xtext_set_time_stamp(xtext_buffer *buf, bool stamps)
{
    buf->model->time_stamps = stamps;
}

void gtk_xtext_set_marker_last(xtext_buffer *buf)
{
    buf->model->set_marker_last();
}

void gtk_xtext_reset_marker_pos(GtkXText *xtext)
{
    xtext_private *p = xtext->priv;
    if (!p->buffer)
        return;
    model(p).reset_marker();
    gtk_xtext_refresh(xtext);
}

int gtk_xtext_moveto_marker_pos(GtkXText *xtext)
{
    xtext_private *p = xtext->priv;
    if (!p->buffer)
        return xtext::MARKER_NONE;
    text_buffer &m = model(p);
    const entry *e = m.marker();
    if (!e)
        return m.marker_status();
    const int ret = m.marker_status() == xtext::MARKER_RESET_BY_TRIM ? xtext::MARKER_RESET_BY_TRIM : xtext::MARKER_SET;
    if (!p->vadj)
        return ret;
    const double line = static_cast<double>(m.line_of(*e));
    const double value = gtk_adjustment_get_value(p->vadj), page = gtk_adjustment_get_page_size(p->vadj);
    if (line >= value && line < value + page)
        return ret;
    const double v = std::clamp(line - page / 2, 0.0, std::max(0.0, gtk_adjustment_get_upper(p->vadj) - page));
    gtk_adjustment_set_value(p->vadj, std::floor(v));
    return ret;
}

void gtk_xtext_check_marker_visibility(GtkXText *xtext)
{
    xtext_private *p = xtext->priv;
    if (!p->buffer || !p->vadj)
        return;
    text_buffer &m = model(p);
    const entry *e = m.marker();
    if (!e)
        return;
    const double line = static_cast<double>(m.line_of(*e));
    const double value = gtk_adjustment_get_value(p->vadj), page = gtk_adjustment_get_page_size(p->vadj);
    if (line >= value && line < value + page)
        m.marker_seen = true;
}

int xtext_get_stamp_str(time_t when, char **out)
{
    return get_stamp_str(prefs.stamp_text_format, when, out);
}
