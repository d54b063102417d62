// The text view's buffer model: stored lines with IRC formatting, their
// widths and wrapping, selection, search, the marker line and the scrollback
// limit. Plain C++ on GLib; the widget (gtkxtext.h) measures characters for
// it and draws what it holds.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xtext
{

// Longest stored line in bytes; every line fits the 4096-byte scratch area.
constexpr std::size_t MAX_LINE_BYTES = 4095;
// Room for a line with a left part: left + space + right.
constexpr std::size_t MAX_INDENT_LINE_BYTES = 4094;
// A left part never takes more than this, so the right part keeps some room.
constexpr std::size_t MAX_LEFT_BYTES = 512;

// Palette indices of the text view's 104 colours.
enum : int {
    COLOR_SELECTED_FG = 99,
    COLOR_SELECTED_BG = 100,
    COLOR_FG = 101,
    COLOR_BG = 102,
    COLOR_MARKER = 103,
    COLOR_COUNT = 104,
};

enum search_flags : int {
    SEARCH_MATCH_CASE = 1,
    SEARCH_BACKWARD = 2,
    SEARCH_HIGHLIGHT = 4,
    SEARCH_FOLLOW = 8,
    SEARCH_REGEX = 16,
};

enum marker_state : int {
    MARKER_NONE = 0,
    MARKER_SET = 1,
    MARKER_RESET_MANUALLY = 2,
    MARKER_RESET_BY_TRIM = 3,
    MARKER_RESET_BY_CLEAR = 4,
};

// The drawing state that control codes change.
struct format_state {
    int fg = COLOR_FG;
    int bg = COLOR_BG;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    // The width table to use: bit 0 bold, bit 1 italic.
    int style() const { return (bold ? 1 : 0) | (italic ? 2 : 0); }
    bool operator==(const format_state &) const = default;
};

// Length of the control sequence at text[pos] (0 when text[pos] is ordinary
// text) after applying it to `st`. Line feeds and bells are not sequences.
std::size_t apply_control(const char *text, std::size_t len, std::size_t pos, format_state &st, bool ignore_hidden);

// The link underlined under the pointer, [from, to) in the stored text. A
// reset inside it leaves underline and strikethrough on until the link ends,
// so the link reads as one piece; hidden text is not kept, since that would
// move the text under the pointer while it hovers.
struct link_span {
    std::size_t from = 0, to = 0;
    bool reset_pending = false;
    // Before drawing text[pos]: ends a reset held back inside the link.
    // True when it changed `st`.
    bool settle(std::size_t pos, format_state &st);
};
std::size_t apply_control(const char *text, std::size_t len, std::size_t pos, format_state &st, bool ignore_hidden,
                          link_span &link);

// Calls f(offset, length, state) for each stretch of drawable text between
// control codes; hidden text is skipped unless `ignore_hidden`.
void for_each_run(const char *text, std::size_t len, bool ignore_hidden,
                  const std::function<void(std::size_t, std::size_t, const format_state &)> &f,
                  format_state start = {});

// The text without control codes (hidden text kept); `offsets`, when given,
// gets the stored offset of each kept byte plus one final entry for the end.
std::string strip_codes(const char *text, std::size_t len, std::vector<uint16_t> *offsets = nullptr);

// Bytes of a UTF-8 character starting with `lead` (1 for stray bytes).
inline std::size_t utf8_char_len(unsigned char lead)
{
    if (lead < 0xC0)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

// Pixel widths of characters. ASCII comes from per-style tables filled by
// whoever owns the font; other characters are asked once and cached.
class text_metrics
{
  public:
    virtual ~text_metrics() = default;
    int width(const char *text, std::size_t len, std::size_t pos, int style);
    // Forgets every cached width (the font changed).
    void reset();
    int ascii[4][128] = {};
    int space_width = 1;

  protected:
    // Width of the UTF-8 character `ch` (its bytes) in `style`.
    virtual int measure(std::string_view ch, int style) = 0;

  private:
    std::unordered_map<uint64_t, int> cache_;
};

// Sub-line end offsets (exclusive) of `text` laid out from first_x, later
// lines from next_x, in `avail` pixels. Works on text of any length.
void wrap_text(const char *text, std::size_t len, int first_x, int next_x, int avail, text_metrics &metrics,
               bool wordwrap, bool ignore_hidden, std::vector<uint32_t> &ends);

// Settings of the widget the buffers belong to.
struct view_config {
    text_metrics *metrics = nullptr;
    int max_lines = 0; // scrollback limit in display lines; <= 2 means none
    int max_indent = 256;
    int stamp_width = 0; // pixel width of a formatted stamp
    int line_height = 1; // pixels per display line
    bool auto_indent = true;
    bool wordwrap = true;
    bool ignore_hidden = false;
};

struct entry_extra {
    std::vector<uint16_t> line_ends;                    // when the entry takes more than one line
    std::vector<std::pair<uint16_t, uint16_t>> matches; // search matches, stored offsets
};

// One stored line. The text lives in the buffer's arena.
struct entry {
    const char *text = nullptr;
    time_t stamp = 0;
    uint64_t first_line = 0; // display lines before this entry, counted from the buffer's start
    int32_t width = 0;
    uint16_t len = 0;
    int16_t left_len = -1; // bytes of the left part, -1 when none
    int16_t indent = 0;
    uint16_t lines = 1;
    std::unique_ptr<entry_extra> extra;

    std::size_t line_start(std::size_t sub) const
    {
        return sub == 0 ? 0 : (extra && sub - 1 < extra->line_ends.size() ? extra->line_ends[sub - 1] : len);
    }
    std::size_t line_end(std::size_t sub) const
    {
        return extra && sub < extra->line_ends.size() ? extra->line_ends[sub] : len;
    }
    std::string_view view() const { return {text, len}; }
};

// A place in a buffer: the entry's id and a byte offset in its text.
struct text_pos {
    uint64_t id = 0;
    std::size_t offset = 0;
    bool operator<(const text_pos &o) const { return id != o.id ? id < o.id : offset < o.offset; }
    bool operator==(const text_pos &) const = default;
};

// What an append or a trim means for the widget.
struct change {
    bool trimmed = false;        // the first entry was removed
    bool trimmed_match = false;  // ... and it held search matches
    bool indent_changed = false; // every line was rewrapped
    bool follow_matched = false; // the new line matched the follow search
};

class text_buffer
{
  public:
    explicit text_buffer(view_config &config);
    ~text_buffer();
    text_buffer(const text_buffer &) = delete;
    text_buffer &operator=(const text_buffer &) = delete;

    view_config &config() { return *config_; }
    // Another widget's settings (the buffer moved to it); wrapped again when shown.
    void set_config(view_config &config)
    {
        config_ = &config;
        needs_rewrap = true;
    }

    change append(std::string_view text, time_t stamp);
    change append_indent(std::string_view left, std::string_view right, time_t stamp);
    // 0 removes everything, n > 0 the first n entries, n < 0 the last -n.
    void clear(int lines);

    // Entries are numbered by id, rising; ids of removed entries never return.
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    uint64_t first_id() const { return first_id_; }
    uint64_t end_id() const { return first_id_ + entries_.size(); }
    const entry *find(uint64_t id) const;
    const entry &at(std::size_t index) const { return entries_[index]; }
    uint64_t id_of(const entry &e) const;
    // Display lines of all entries.
    uint64_t line_count() const;
    // The entry holding display line `line` (0 = first), and the sub-line in it.
    const entry *entry_at_line(uint64_t line, std::size_t *sub) const;
    // The same as an index (size() when past the end).
    std::size_t index_at_line(uint64_t line, std::size_t *sub) const;
    // Display line where the entry begins.
    uint64_t line_of(const entry &e) const { return e.first_line - lines_removed_; }

    // Wrapping. `width` is the window width in pixels.
    // Wraps every entry for `width`; skipped (and left pending) while the
    // window is lower than one line (`height` < 0: not known).
    void rewrap(int width, int height = -1);
    int wrapped_width() const { return wrap_width_; }
    int indent() const { return indent_; }
    // Sets the separator position (rounded up to the space width); rewraps.
    void set_indent(int pixels);
    bool time_stamps = false; // stamps drawn in their own column

    // Marker line.
    void set_marker_last();
    void reset_marker();
    uint64_t marker_id() const { return marker_id_; }
    // The marked entry: set, or moved to the first line by a trim.
    const entry *marker() const
    {
        return marker_state_ == MARKER_SET || marker_state_ == MARKER_RESET_BY_TRIM ? find(marker_id_) : nullptr;
    }
    marker_state marker_status() const { return marker_state_; }
    bool marker_seen = false;
    // Whether the buffer is the one shown in a window that has the focus:
    // lines arriving then are seen at once and do not move the marker.
    bool seen_live = false;

    // Selection, between two positions in either order.
    void set_selection(text_pos a, text_pos b);
    void clear_selection() { has_selection_ = false; }
    bool has_selection() const { return has_selection_; }
    text_pos selection_start() const { return sel_start_; }
    text_pos selection_end() const { return sel_end_; }
    // The selected byte range of one entry; false when none of it is selected.
    bool selected_range(const entry &e, std::size_t *start, std::size_t *end) const;
    // The selected text, entries joined with line feeds. `stamp` formats a
    // time for entries selected from their start (null: no stamps).
    std::string selected_text(bool keep_codes, const std::function<std::string(time_t)> &stamp) const;

    // Search. Returns the entry of the current match or null; a bad regular
    // expression is reported through `error` (a new string, g_free).
    const entry *search(const char *text, int flags, char **error);
    void clear_search();
    int search_flags() const { return search_flags_; }
    const entry *current_match(std::size_t *start, std::size_t *end) const;
    std::size_t match_entry_count() const { return matched_.size(); }
    // Searches one entry with the current pattern (no list changes).
    bool match_entry(entry &e) const;
    // Copies the matching entries of `source` here, with this buffer's pattern.
    int lastlog_from(const text_buffer &source);
    bool has_pattern() const { return !pattern_.empty(); }
    // Prepares the pattern without searching (for lastlog); false with error.
    bool set_pattern(const char *text, int flags, char **error);

    // Every entry's text without control codes, each with a line feed.
    std::string save_text() const;

    // The scroll position the widget keeps for this buffer (display lines).
    double scroll_value = -1.0;
    bool at_bottom = true;
    bool needs_rewrap = false;

  private:
    entry &push(std::string_view left, std::string_view right, time_t stamp, bool has_left);
    void measure(entry &e);
    void wrap(entry &e);
    void remove_front();
    void remove_back();
    void recount_lines();
    bool auto_indent_for(int left_width);
    char *store_text(std::size_t len);
    void release_front_text();
    void release_back_text(const entry &e);
    void drop_selection_outside();
    void search_all();
    // Marker, follow search and scrollback limit after an entry was added.
    void added(entry &e, change &c);

    struct block {
        std::unique_ptr<char[]> data;
        std::size_t used = 0;
        std::size_t live = 0;
    };

    view_config *config_;
    std::deque<entry> entries_;
    std::deque<block> blocks_;
    uint64_t first_id_ = 0;
    uint64_t lines_removed_ = 0; // display lines of removed front entries
    int indent_;
    int wrap_width_ = 0;

    uint64_t marker_id_ = 0;
    marker_state marker_state_ = MARKER_NONE;

    bool has_selection_ = false;
    text_pos sel_start_, sel_end_;

    std::string pattern_;        // as given
    std::string folded_pattern_; // case-folded unless match case
    GRegex *regex_ = nullptr;
    int search_flags_ = 0;
    std::deque<uint64_t> matched_;  // ids of entries with matches, in order
    std::size_t current_ = 0;       // index in matched_
    std::size_t current_match_ = 0; // index in that entry's matches
    uint64_t searched_to_ = 0;      // entries below this id have been searched
};

// Splits `text` at line feeds into entries as the print path does: with
// `indent`, each piece is cut at its first tab into left and right part;
// without, `stamp_prefix` goes in front of each piece. BEL bytes become
// spaces; returns whether there were any.
bool print_text(text_buffer &buffer, std::string_view text, bool indent, std::string_view stamp_prefix, time_t stamp);

} // namespace xtext
