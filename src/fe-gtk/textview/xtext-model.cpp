#include "xtext-model.h"

#include "base/util.h"

#include <algorithm>
#include <cstring>

namespace xtext
{

namespace
{

constexpr std::size_t BLOCK_BYTES = 64 * 1024;
// A word is broken where the line ends when it is longer than this.
constexpr std::size_t LONG_WORD_BYTES = 24;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

std::size_t cut(std::string_view text, std::size_t room)
{
    return utf8_prefix(text.data(), text.size(), room);
}

int width_of(text_metrics &m, const char *text, std::size_t len, bool ignore_hidden)
{
    int w = 0;
    format_state st;
    for (std::size_t i = 0; i < len;) {
        if (std::size_t n = apply_control(text, len, i, st, ignore_hidden)) {
            i += n;
            continue;
        }
        const std::size_t clen = std::min(utf8_char_len(static_cast<unsigned char>(text[i])), len - i);
        if (!st.hidden && text[i] != '\n')
            w += m.width(text, len, i, st.style());
        i += clen;
    }
    return w;
}

// Case folding that remembers, for each folded byte, the stripped byte
// range of the character it came from.
std::string fold(std::string_view s, std::vector<uint16_t> *from, std::vector<uint16_t> *to)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t clen = std::min(utf8_char_len(static_cast<unsigned char>(s[i])), s.size() - i);
        const std::size_t before = out.size();
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            out += g_ascii_tolower(s[i]);
        } else {
            gchar *f = g_utf8_validate(s.data() + i, static_cast<gssize>(clen), nullptr)
                           ? g_utf8_casefold(s.data() + i, static_cast<gssize>(clen))
                           : nullptr;
            out += f ? std::string_view(f) : s.substr(i, clen);
            g_free(f);
        }
        if (from)
            for (std::size_t k = before; k < out.size(); ++k) {
                from->push_back(static_cast<uint16_t>(i));
                to->push_back(static_cast<uint16_t>(i + clen));
            }
        i += clen;
    }
    return out;
}

} // namespace

// --- control codes --------------------------------------------------------

bool link_span::settle(std::size_t pos, format_state &st)
{
    if (!reset_pending || pos < to)
        return false;
    reset_pending = false;
    const bool changed = st.underline || st.strike;
    st.underline = st.strike = false;
    return changed;
}

std::size_t apply_control(const char *text, std::size_t len, std::size_t pos, format_state &st, bool ignore_hidden,
                          link_span &link)
{
    link.settle(pos, st);
    if (text[pos] != '\x0F' || pos < link.from || pos >= link.to)
        return apply_control(text, len, pos, st, ignore_hidden);
    const bool underline = st.underline, strike = st.strike;
    st = format_state{};
    st.underline = underline;
    st.strike = strike;
    link.reset_pending = underline || strike;
    return 1;
}

std::size_t apply_control(const char *text, std::size_t len, std::size_t pos, format_state &st, bool ignore_hidden)
{
    switch (text[pos]) {
    case '\x02':
        st.bold = !st.bold;
        return 1;
    case '\x07':
        return 1;
    case '\x08':
        if (!ignore_hidden)
            st.hidden = !st.hidden;
        return 1;
    case '\x0F': {
        format_state fresh;
        st = fresh;
        return 1;
    }
    case '\x16':
        std::swap(st.fg, st.bg);
        return 1;
    case '\x1D':
        st.italic = !st.italic;
        return 1;
    case '\x1E':
        st.strike = !st.strike;
        return 1;
    case '\x1F':
        st.underline = !st.underline;
        return 1;
    case '\x03':
        break;
    default:
        return 0;
    }
    std::size_t i = pos + 1;
    int fg = -1, bg = -1;
    std::size_t digits = 0;
    while (i < len && digits < 2 && is_digit(text[i])) {
        fg = (fg < 0 ? 0 : fg * 10) + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (i + 1 < len && text[i] == ',' && is_digit(text[i + 1])) {
        ++i;
        digits = 0;
        while (i < len && digits < 2 && is_digit(text[i])) {
            bg = (bg < 0 ? 0 : bg * 10) + (text[i] - '0');
            ++i;
            ++digits;
        }
    }
    if (fg < 0 && bg < 0) {
        st.fg = COLOR_FG;
        st.bg = COLOR_BG;
    }
    if (fg >= 0)
        st.fg = fg == 99 ? COLOR_FG : fg;
    if (bg >= 0)
        st.bg = bg == 99 ? COLOR_BG : bg;
    return i - pos;
}

void for_each_run(const char *text, std::size_t len, bool ignore_hidden,
                  const std::function<void(std::size_t, std::size_t, const format_state &)> &f, format_state st)
{
    std::size_t run = 0;
    auto flush = [&](std::size_t end) {
        if (end > run && !st.hidden)
            f(run, end - run, st);
    };
    for (std::size_t i = 0; i < len;) {
        if (text[i] == '\n') {
            flush(i);
            run = ++i;
            continue;
        }
        format_state next = st;
        if (std::size_t n = apply_control(text, len, i, next, ignore_hidden)) {
            flush(i);
            st = next;
            i += n;
            run = i;
            continue;
        }
        ++i;
    }
    flush(len);
}

std::string strip_codes(const char *text, std::size_t len, std::vector<uint16_t> *offsets)
{
    std::string out;
    out.reserve(len);
    format_state st;
    for (std::size_t i = 0; i < len;) {
        if (std::size_t n = apply_control(text, len, i, st, true)) {
            i += n;
            continue;
        }
        out += text[i];
        if (offsets)
            offsets->push_back(static_cast<uint16_t>(i));
        ++i;
    }
    if (offsets)
        offsets->push_back(static_cast<uint16_t>(len));
    return out;
}

// --- widths and wrapping ----------------------------------------------------

int text_metrics::width(const char *text, std::size_t len, std::size_t pos, int style)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80)
        return ascii[style & 3][lead];
    const std::size_t clen = std::min(utf8_char_len(lead), len - pos);
    uint64_t key = static_cast<uint64_t>(style & 3) << 32;
    for (std::size_t k = 0; k < clen; ++k)
        key |= static_cast<uint64_t>(static_cast<unsigned char>(text[pos + k])) << (8 * k);
    auto it = cache_.find(key);
    if (it != cache_.end())
        return it->second;
    const int w = measure(std::string_view(text + pos, clen), style & 3);
    cache_.emplace(key, w);
    return w;
}

void text_metrics::reset()
{
    cache_.clear();
}

void wrap_text(const char *text, std::size_t len, int first_x, int next_x, int avail, text_metrics &metrics,
               bool wordwrap, bool ignore_hidden, std::vector<uint32_t> &ends)
{
    constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    ends.clear();
    format_state st;
    std::size_t line_start = 0;
    int x = first_x;
    // The last place the line may end, where the next line would begin, and
    // the formatting there.
    std::size_t brk_end = NONE, brk_next = 0;
    format_state brk_state;
    std::size_t ctrl_since_brk = 0;

    for (std::size_t i = 0; i < len;) {
        const char c = text[i];
        if (c == '\n') {
            ++i;
            brk_end = brk_next = i;
            brk_state = st;
            ctrl_since_brk = 0;
            continue;
        }
        if (std::size_t n = apply_control(text, len, i, st, ignore_hidden)) {
            i += n;
            ctrl_since_brk += n;
            continue;
        }
        const std::size_t clen = std::min(utf8_char_len(static_cast<unsigned char>(c)), len - i);
        const int w = st.hidden ? 0 : metrics.width(text, len, i, st.style());
        if (x + w > avail && i > line_start) {
            std::size_t end = i, next = i;
            format_state next_state = st;
            if (wordwrap && brk_end != NONE && brk_end > line_start &&
                i - brk_end <= ctrl_since_brk + LONG_WORD_BYTES) {
                end = brk_end;
                next = brk_next;
                next_state = brk_state;
            }
            ends.push_back(static_cast<uint32_t>(end));
            line_start = i = next;
            st = next_state;
            x = next_x;
            brk_end = NONE;
            ctrl_since_brk = 0;
            continue;
        }
        x += w;
        i += clen;
        if (c == ' ') {
            brk_end = i - 1; // the space itself goes on neither line
            brk_next = i;
        } else if (c == '>') {
            brk_end = brk_next = i;
        } else if (c == '<') {
            brk_end = brk_next = i - 1;
        } else {
            continue;
        }
        brk_state = st;
        ctrl_since_brk = 0;
    }
    ends.push_back(static_cast<uint32_t>(len));
}

// --- the buffer ---------------------------------------------------------------

text_buffer::text_buffer(view_config &config) : config_(&config)
{
    indent_ = 2 * (config.metrics ? config.metrics->space_width : 1);
}

text_buffer::~text_buffer()
{
    if (regex_)
        g_regex_unref(regex_);
}

char *text_buffer::store_text(std::size_t len)
{
    const std::size_t need = len + 1;
    if (blocks_.empty() || blocks_.back().used + need > BLOCK_BYTES) {
        block b;
        b.data.reset(new char[std::max(BLOCK_BYTES, need)]);
        blocks_.push_back(std::move(b));
    }
    block &b = blocks_.back();
    char *p = b.data.get() + b.used;
    b.used += need;
    ++b.live;
    return p;
}

void text_buffer::release_front_text()
{
    block &b = blocks_.front();
    if (--b.live == 0) {
        if (blocks_.size() > 1)
            blocks_.pop_front();
        else
            b.used = 0;
    }
}

void text_buffer::release_back_text(const entry &e)
{
    block &b = blocks_.back();
    if (e.text + e.len + 1 == b.data.get() + b.used)
        b.used -= e.len + 1u;
    if (--b.live == 0) {
        if (blocks_.size() > 1)
            blocks_.pop_back();
        else
            b.used = 0;
    }
}

entry &text_buffer::push(std::string_view left, std::string_view right, time_t stamp, bool has_left)
{
    // An empty left part needs no space to end it.
    const bool gap = has_left && !left.empty();
    const std::size_t total = left.size() + (gap ? 1 : 0) + right.size();
    char *p = store_text(total);
    char *w = p;
    if (gap) {
        std::memcpy(w, left.data(), left.size());
        w += left.size();
        *w++ = ' ';
    }
    std::memcpy(w, right.data(), right.size());
    p[total] = '\0';
    std::replace(p, p + total, '\t', ' ');

    const uint64_t first_line = entries_.empty() ? lines_removed_ : entries_.back().first_line + entries_.back().lines;
    entry &e = entries_.emplace_back();
    e.text = p;
    e.len = static_cast<uint16_t>(total);
    e.left_len = has_left ? static_cast<int16_t>(left.size()) : -1;
    e.stamp = stamp ? stamp : time(nullptr);
    e.first_line = first_line;
    return e;
}

void text_buffer::measure(entry &e)
{
    e.width = width_of(*config_->metrics, e.text, e.len, config_->ignore_hidden);
}

void text_buffer::wrap(entry &e)
{
    const int avail = wrap_width_ - 2;
    e.lines = 1;
    if (wrap_width_ <= 0 || e.indent + e.width <= avail) {
        if (e.extra)
            e.extra->line_ends.clear();
    } else {
        std::vector<uint32_t> ends;
        wrap_text(e.text, e.len, e.indent, indent_, avail, *config_->metrics, config_->wordwrap, config_->ignore_hidden,
                  ends);
        e.lines = static_cast<uint16_t>(std::min<std::size_t>(ends.size(), UINT16_MAX));
        if (ends.size() > 1) {
            if (!e.extra)
                e.extra = std::make_unique<entry_extra>();
            e.extra->line_ends.assign(ends.begin(), ends.end());
        } else if (e.extra) {
            e.extra->line_ends.clear();
        }
    }
    if (e.extra && e.extra->line_ends.empty() && e.extra->matches.empty())
        e.extra.reset();
}

void text_buffer::recount_lines()
{
    uint64_t line = lines_removed_;
    for (entry &e : entries_) {
        e.first_line = line;
        line += e.lines;
    }
}

void text_buffer::rewrap(int width, int height)
{
    // A window squeezed below one line (a pane dragged shut) shows nothing:
    // wrapping every line for it would only be undone when it opens again.
    if (height >= 0 && height < config_->line_height) {
        needs_rewrap = true;
        return;
    }
    needs_rewrap = false;
    // Too narrow to lay anything out: keep the old wrapping.
    if (width < 32 || width < indent_ + 32)
        return;
    wrap_width_ = width;
    for (entry &e : entries_)
        wrap(e);
    recount_lines();
}

namespace
{
int left_width(text_metrics &m, const entry &e, bool ignore_hidden)
{
    return e.left_len > 0 ? width_of(m, e.text, static_cast<std::size_t>(e.left_len), ignore_hidden) : 0;
}
} // namespace

// Where the entry starts: the left part right-aligned against the
// separator, but never left of the stamp column or the window's edge.
static int16_t entry_indent(int buffer_indent, int left_w, int margin)
{
    return static_cast<int16_t>(std::clamp(buffer_indent - left_w, margin, static_cast<int>(INT16_MAX)));
}

void text_buffer::set_indent(int pixels)
{
    const int space = std::max(1, config_->metrics->space_width);
    indent_ = std::clamp((pixels + space - 1) / space * space, 0, static_cast<int>(INT16_MAX));
    const int margin = time_stamps && config_->auto_indent ? config_->stamp_width + 2 : 2;
    for (entry &e : entries_) {
        if (e.left_len >= 0)
            e.indent = entry_indent(indent_, left_width(*config_->metrics, e, config_->ignore_hidden), margin);
        wrap(e);
    }
    recount_lines();
}

bool text_buffer::auto_indent_for(int left_w)
{
    const int space = std::max(1, config_->metrics->space_width);
    const int gap = time_stamps ? config_->stamp_width + 2 : 2;
    if (indent_ >= config_->max_indent || indent_ - left_w >= gap)
        return false;
    int wanted = left_w + gap;
    if (wanted <= indent_ + space)
        return false;
    wanted = std::min(wanted, config_->max_indent);
    wanted = (wanted + space - 1) / space * space;
    if (wanted <= indent_)
        return false;
    set_indent(wanted);
    return true;
}

change text_buffer::append(std::string_view text, time_t stamp)
{
    change c;
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    text = text.substr(0, cut(text, MAX_LINE_BYTES));
    entry &e = push({}, text, stamp, false);
    measure(e);
    wrap(e);
    added(e, c);
    return c;
}

change text_buffer::append_indent(std::string_view left, std::string_view right, time_t stamp)
{
    change c;
    if (!right.empty() && right.back() == '\n')
        right.remove_suffix(1);
    // The left part is capped too, so the stored line always fits.
    left = left.substr(0, cut(left, MAX_LEFT_BYTES));
    right = right.substr(0, cut(right, MAX_INDENT_LINE_BYTES - left.size()));
    const int left_w = width_of(*config_->metrics, left.data(), left.size(), config_->ignore_hidden);
    if (config_->auto_indent && auto_indent_for(left_w))
        c.indent_changed = true;
    entry &e = push(left, right, stamp, true);
    measure(e);
    const int margin = time_stamps && config_->auto_indent ? config_->stamp_width + 2 : 2;
    e.indent = entry_indent(indent_, left_w, margin);
    wrap(e);
    added(e, c);
    return c;
}

void text_buffer::added(entry &e, change &c)
{
    const uint64_t id = end_id() - 1;
    const bool has_marker = marker_state_ == MARKER_SET || marker_state_ == MARKER_RESET_BY_TRIM;
    if ((!has_marker || marker_seen) && !seen_live) {
        marker_id_ = id;
        marker_state_ = MARKER_SET;
        marker_seen = false;
    }
    if (!pattern_.empty() && (search_flags_ & SEARCH_FOLLOW)) {
        if (match_entry(e)) {
            matched_.push_back(id);
            if (matched_.size() == 1) {
                current_ = 0;
                current_match_ = 0;
            }
            c.follow_matched = true;
        }
        searched_to_ = end_id();
    }
    if (config_->max_lines > 2 && line_count() > static_cast<uint64_t>(config_->max_lines) && entries_.size() > 1) {
        c.trimmed_match = !matched_.empty() && matched_.front() == first_id_;
        remove_front();
        c.trimmed = true;
    }
}

void text_buffer::remove_front()
{
    entry &e = entries_.front();
    const uint64_t id = first_id_;
    lines_removed_ += e.lines;
    scroll_value = std::max(0.0, scroll_value - e.lines);
    if (marker_id_ == id && (marker_state_ == MARKER_SET || marker_state_ == MARKER_RESET_BY_TRIM)) {
        if (entries_.size() > 1) {
            marker_id_ = id + 1;
            marker_state_ = MARKER_RESET_BY_TRIM;
        } else {
            marker_state_ = MARKER_RESET_BY_CLEAR;
        }
    }
    if (has_selection_ && sel_start_.id <= id)
        has_selection_ = false;
    if (!matched_.empty() && matched_.front() == id) {
        matched_.pop_front();
        if (current_ > 0) {
            --current_;
        } else {
            current_match_ = 0;
        }
    }
    entries_.pop_front();
    release_front_text();
    ++first_id_;
}

void text_buffer::remove_back()
{
    const uint64_t id = end_id() - 1;
    const entry &e = entries_.back();
    if (marker_id_ == id && (marker_state_ == MARKER_SET || marker_state_ == MARKER_RESET_BY_TRIM))
        marker_state_ = MARKER_RESET_BY_CLEAR;
    if (has_selection_ && sel_end_.id >= id)
        has_selection_ = false;
    if (!matched_.empty() && matched_.back() == id) {
        matched_.pop_back();
        if (current_ >= matched_.size()) {
            current_ = matched_.empty() ? 0 : matched_.size() - 1;
            current_match_ = 0;
        }
    }
    release_back_text(e);
    entries_.pop_back();
}

void text_buffer::clear(int lines)
{
    if (lines == 0) {
        const bool had = !entries_.empty();
        clear_search();
        has_selection_ = false;
        first_id_ += entries_.size();
        entries_.clear();
        blocks_.clear();
        lines_removed_ = 0;
        if (had)
            marker_state_ = MARKER_RESET_BY_CLEAR;
        if (config_->auto_indent)
            indent_ = 2 * std::max(1, config_->metrics->space_width);
        scroll_value = 0;
        at_bottom = true;
        return;
    }
    if (lines > 0) {
        for (int i = 0; i < lines && !entries_.empty(); ++i) {
            const bool marked = marker_id_ == first_id_ && marker_state_ == MARKER_SET;
            remove_front();
            if (marked)
                marker_state_ = MARKER_RESET_BY_CLEAR;
        }
    } else {
        for (long i = 0; i < -static_cast<long>(lines) && !entries_.empty(); ++i)
            remove_back();
    }
}

const entry *text_buffer::find(uint64_t id) const
{
    if (id < first_id_ || id >= end_id())
        return nullptr;
    return &entries_[static_cast<std::size_t>(id - first_id_)];
}

uint64_t text_buffer::id_of(const entry &e) const
{
    // Entries are in display-line order: find it by its first line.
    auto it = std::lower_bound(entries_.begin(), entries_.end(), e.first_line,
                               [](const entry &x, uint64_t line) { return x.first_line < line; });
    while (it != entries_.end() && &*it != &e)
        ++it;
    return first_id_ + static_cast<uint64_t>(it - entries_.begin());
}

uint64_t text_buffer::line_count() const
{
    return entries_.empty() ? 0 : entries_.back().first_line + entries_.back().lines - lines_removed_;
}

std::size_t text_buffer::index_at_line(uint64_t line, std::size_t *sub) const
{
    if (entries_.empty() || line >= line_count())
        return entries_.size();
    const uint64_t abs = line + lines_removed_;
    auto it = std::upper_bound(entries_.begin(), entries_.end(), abs,
                               [](uint64_t l, const entry &x) { return l < x.first_line; });
    --it;
    if (sub)
        *sub = static_cast<std::size_t>(abs - it->first_line);
    return static_cast<std::size_t>(it - entries_.begin());
}

const entry *text_buffer::entry_at_line(uint64_t line, std::size_t *sub) const
{
    const std::size_t i = index_at_line(line, sub);
    return i < entries_.size() ? &entries_[i] : nullptr;
}

// --- marker ---------------------------------------------------------------------

void text_buffer::set_marker_last()
{
    if (entries_.empty())
        return;
    marker_id_ = end_id() - 1;
    marker_state_ = MARKER_SET;
    marker_seen = false;
}

void text_buffer::reset_marker()
{
    marker_state_ = MARKER_RESET_MANUALLY;
    marker_seen = false;
}

// --- selection ------------------------------------------------------------------

void text_buffer::set_selection(text_pos a, text_pos b)
{
    if (b < a)
        std::swap(a, b);
    a.id = std::max(a.id, first_id_);
    if (entries_.empty() || b.id >= end_id() + 1 || a.id >= end_id()) {
        has_selection_ = false;
        return;
    }
    if (b.id >= end_id())
        b = {end_id() - 1, entries_.back().len};
    has_selection_ = true;
    sel_start_ = a;
    sel_end_ = b;
}

bool text_buffer::selected_range(const entry &e, std::size_t *start, std::size_t *end) const
{
    if (!has_selection_)
        return false;
    const uint64_t id = id_of(e);
    if (id < sel_start_.id || id > sel_end_.id)
        return false;
    *start = id == sel_start_.id ? std::min<std::size_t>(sel_start_.offset, e.len) : 0;
    *end = id == sel_end_.id ? std::min<std::size_t>(sel_end_.offset, e.len) : e.len;
    return *end > *start || (id != sel_start_.id && id != sel_end_.id);
}

std::string text_buffer::selected_text(bool keep_codes, const std::function<std::string(time_t)> &stamp) const
{
    std::string out;
    if (!has_selection_)
        return out;
    bool first = true;
    for (uint64_t id = sel_start_.id; id <= sel_end_.id; ++id) {
        const entry *e = find(id);
        if (!e)
            continue;
        const std::size_t s = id == sel_start_.id ? std::min<std::size_t>(sel_start_.offset, e->len) : 0;
        const std::size_t t = id == sel_end_.id ? std::min<std::size_t>(sel_end_.offset, e->len) : e->len;
        if (!first)
            out += '\n';
        first = false;
        if (s == 0 && stamp)
            out += stamp(e->stamp);
        if (t > s)
            out += keep_codes ? std::string(e->text + s, t - s) : strip_codes(e->text + s, t - s);
    }
    return out;
}

// --- search -----------------------------------------------------------------------

namespace
{

// Non-overlapping matches of the pattern in one stored text.
void find_matches(const char *text, std::size_t len, const std::string &folded, GRegex *regex, bool match_case,
                  std::vector<std::pair<uint16_t, uint16_t>> &out)
{
    out.clear();
    std::vector<uint16_t> offs;
    const std::string hay = strip_codes(text, len, &offs);
    auto add = [&](std::size_t s, std::size_t t) { // stripped offsets, t > s
        out.emplace_back(offs[s], static_cast<uint16_t>(offs[t - 1] + 1));
    };
    if (regex) {
        if (!g_utf8_validate(hay.data(), static_cast<gssize>(hay.size()), nullptr))
            return; // only text stored by other means than the print path
        GMatchInfo *info = nullptr;
        std::size_t from = 0;
        while (from <= hay.size() && g_regex_match_full(regex, hay.c_str(), static_cast<gssize>(hay.size()),
                                                        static_cast<gint>(from), GRegexMatchFlags(0), &info, nullptr)) {
            gint s = 0, t = 0;
            g_match_info_fetch_pos(info, 0, &s, &t);
            g_match_info_free(info);
            info = nullptr;
            if (t > s) {
                add(static_cast<std::size_t>(s), static_cast<std::size_t>(t));
                from = static_cast<std::size_t>(t);
            } else {
                from = static_cast<std::size_t>(s) +
                       (static_cast<std::size_t>(s) < hay.size()
                            ? utf8_char_len(static_cast<unsigned char>(hay[static_cast<std::size_t>(s)]))
                            : 1);
            }
        }
        g_match_info_free(info);
        return;
    }
    if (folded.empty())
        return;
    if (match_case) {
        for (std::size_t p = hay.find(folded); p != std::string::npos; p = hay.find(folded, p + folded.size()))
            add(p, p + folded.size());
        return;
    }
    if (std::all_of(hay.begin(), hay.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        // Plain ASCII folds byte for byte: no offset tables needed.
        std::string f = hay;
        for (char &c : f)
            c = g_ascii_tolower(c);
        for (std::size_t p = f.find(folded); p != std::string::npos; p = f.find(folded, p + folded.size()))
            add(p, p + folded.size());
        return;
    }
    std::vector<uint16_t> from, to;
    const std::string f = fold(hay, &from, &to);
    for (std::size_t p = f.find(folded); p != std::string::npos; p = f.find(folded, p + folded.size())) {
        const std::size_t s = from[p], t = to[p + folded.size() - 1];
        if (out.empty() || offs[s] >= out.back().second)
            add(s, t);
    }
}

} // namespace

bool text_buffer::set_pattern(const char *text, int flags, char **error)
{
    clear_search();
    search_flags_ = flags;
    if (!text || !*text)
        return false;
    if (!g_utf8_validate(text, -1, nullptr)) {
        // The regular expression engine must never see broken UTF-8.
        if (error)
            *error = g_strdup("The search text is not valid UTF-8");
        return false;
    }
    if (flags & SEARCH_REGEX) {
        GError *err = nullptr;
        const auto cflags =
            static_cast<GRegexCompileFlags>(G_REGEX_OPTIMIZE | (flags & SEARCH_MATCH_CASE ? 0 : G_REGEX_CASELESS));
        regex_ = g_regex_new(text, cflags, GRegexMatchFlags(0), &err);
        if (!regex_) {
            if (error)
                *error = g_strdup(err ? err->message : "invalid regular expression");
            if (err)
                g_error_free(err);
            return false;
        }
    } else {
        folded_pattern_ = flags & SEARCH_MATCH_CASE ? std::string(text) : fold(text, nullptr, nullptr);
    }
    pattern_ = text;
    return true;
}

void text_buffer::clear_search()
{
    for (uint64_t id : matched_) {
        auto &e = const_cast<entry &>(*find(id));
        if (e.extra) {
            e.extra->matches.clear();
            if (e.extra->line_ends.empty())
                e.extra.reset();
        }
    }
    matched_.clear();
    current_ = current_match_ = 0;
    pattern_.clear();
    folded_pattern_.clear();
    if (regex_) {
        g_regex_unref(regex_);
        regex_ = nullptr;
    }
}

bool text_buffer::match_entry(entry &e) const
{
    std::vector<std::pair<uint16_t, uint16_t>> found;
    find_matches(e.text, e.len, folded_pattern_, regex_, search_flags_ & SEARCH_MATCH_CASE, found);
    if (found.empty())
        return false;
    if (!e.extra)
        e.extra = std::make_unique<entry_extra>();
    e.extra->matches = std::move(found);
    return true;
}

void text_buffer::search_all()
{
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (match_entry(entries_[i]))
            matched_.push_back(first_id_ + i);
    searched_to_ = end_id();
}

const entry *text_buffer::search(const char *text, int flags, char **error)
{
    if (text && !*text) {
        clear_search();
        search_flags_ = 0;
        return nullptr;
    }
    constexpr int KEY_FLAGS = SEARCH_MATCH_CASE | SEARCH_FOLLOW | SEARCH_REGEX;
    const bool backward = flags & SEARCH_BACKWARD;
    if (text && (pattern_ != text || ((flags ^ search_flags_) & KEY_FLAGS))) {
        if (!set_pattern(text, flags, error))
            return nullptr;
        search_all();
        if (backward && !matched_.empty()) {
            current_ = matched_.size() - 1;
            current_match_ = find(matched_[current_])->extra->matches.size() - 1;
        }
        return current_match(nullptr, nullptr);
    }
    if (pattern_.empty())
        return nullptr;
    if (!text) {
        if ((flags & SEARCH_FOLLOW) && !(search_flags_ & SEARCH_FOLLOW)) {
            for (uint64_t id = std::max(searched_to_, first_id_); id < end_id(); ++id)
                if (match_entry(entries_[static_cast<std::size_t>(id - first_id_)]))
                    matched_.push_back(id);
            searched_to_ = end_id();
        }
        search_flags_ = flags;
        return current_match(nullptr, nullptr);
    }
    search_flags_ = flags;
    if (matched_.empty())
        return nullptr;
    const std::size_t here = find(matched_[current_])->extra->matches.size();
    if (!backward) {
        if (current_match_ + 1 < here) {
            ++current_match_;
        } else {
            current_ = (current_ + 1) % matched_.size();
            current_match_ = 0;
        }
    } else if (current_match_ > 0) {
        --current_match_;
    } else {
        current_ = current_ == 0 ? matched_.size() - 1 : current_ - 1;
        current_match_ = find(matched_[current_])->extra->matches.size() - 1;
    }
    return current_match(nullptr, nullptr);
}

const entry *text_buffer::current_match(std::size_t *start, std::size_t *end) const
{
    if (matched_.empty() || current_ >= matched_.size())
        return nullptr;
    const entry *e = find(matched_[current_]);
    if (!e || !e->extra || current_match_ >= e->extra->matches.size())
        return nullptr;
    if (start)
        *start = e->extra->matches[current_match_].first;
    if (end)
        *end = e->extra->matches[current_match_].second;
    return e;
}

int text_buffer::lastlog_from(const text_buffer &source)
{
    if (pattern_.empty())
        return 0;
    const int saved = search_flags_;
    search_flags_ &= ~SEARCH_FOLLOW;
    int copied = 0;
    std::vector<std::pair<uint16_t, uint16_t>> found;
    for (const entry &src : source.entries_) {
        find_matches(src.text, src.len, folded_pattern_, regex_, saved & SEARCH_MATCH_CASE, found);
        if (found.empty())
            continue;
        if (src.left_len >= 0 && source.config_->auto_indent) {
            const auto left_len = static_cast<std::size_t>(src.left_len);
            append_indent(
                std::string_view(src.text, left_len),
                std::string_view(src.text, src.len).substr(left_len ? std::min<std::size_t>(left_len + 1, src.len) : 0),
                src.stamp);
        } else {
            append(std::string_view(src.text, src.len), src.stamp);
        }
        ++copied;
        if (entries_.empty())
            continue;
        entry &e = entries_.back();
        if (match_entry(e) && (matched_.empty() || matched_.back() != end_id() - 1))
            matched_.push_back(end_id() - 1);
    }
    search_flags_ = saved;
    searched_to_ = end_id();
    return copied;
}

std::string text_buffer::save_text() const
{
    std::string out;
    for (const entry &e : entries_) {
        out += strip_codes(e.text, e.len);
        out += '\n';
    }
    return out;
}

bool print_text(text_buffer &buffer, std::string_view text, bool indent, std::string_view stamp_prefix, time_t stamp)
{
    std::string s(text);
    bool bell = false;
    for (char &c : s)
        if (c == '\a') {
            c = ' ';
            bell = true;
        }
    std::string_view rest(s);
    // A final line feed ends the text; it does not start another line.
    if (!rest.empty() && rest.back() == '\n')
        rest.remove_suffix(1);
    for (;;) {
        const std::size_t nl = rest.find('\n');
        std::string_view piece = rest.substr(0, nl);
        if (indent) {
            const std::size_t tab = piece.find('\t');
            if (tab != std::string_view::npos)
                buffer.append_indent(piece.substr(0, tab), piece.substr(tab + 1), stamp);
            else
                buffer.append_indent({}, piece, stamp);
        } else if (!stamp_prefix.empty()) {
            std::string line(stamp_prefix);
            line += piece;
            buffer.append(line, stamp);
        } else {
            buffer.append(piece, stamp);
        }
        if (nl == std::string_view::npos)
            break;
        rest.remove_prefix(nl + 1);
    }
    return bell;
}

} // namespace xtext
