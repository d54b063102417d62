#include "input/input-attrs.h"

#include "base/format-codes.h"

#include <algorithm>
#include <array>

namespace
{

// The highest colour code; it stands for the text's own colour.
constexpr int COLOR_DEFAULT_CODE = 99;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// One attribute that is either off or has a value, with where it began.
struct open_span {
    int value;
    uint32_t since = 0;
};

class builder
{
  public:
    explicit builder(std::string_view text) : text_(text)
    {
        for (auto kind : {input_attr_kind::bold, input_attr_kind::italic, input_attr_kind::underline,
                          input_attr_kind::strikethrough})
            slot(kind).value = 0;
        slot(input_attr_kind::foreground).value = INPUT_ATTR_DEFAULT_FG;
        slot(input_attr_kind::background).value = INPUT_ATTR_DEFAULT_BG;
    }

    std::vector<input_attr> run()
    {
        const uint32_t n = static_cast<uint32_t>(text_.size());
        uint32_t i = 0;
        while (i < n) {
            const char c = text_[i];
            switch (c) {
            case CODE_BOLD:
            case CODE_ITALIC:
            case CODE_STRIKE:
            case CODE_UNDERLINE:
                hide(i, i + 1);
                set(toggled_kind(c), !slot(toggled_kind(c)).value, i + 1);
                ++i;
                break;
            case CODE_HIDDEN:
                hide(i, i + 1);
                ++i;
                break;
            case CODE_REVERSE: {
                hide(i, i + 1);
                const int fg = slot(input_attr_kind::foreground).value;
                const int bg = slot(input_attr_kind::background).value;
                set(input_attr_kind::foreground, bg, i + 1);
                set(input_attr_kind::background, fg, i + 1);
                ++i;
                break;
            }
            case CODE_RESET:
                hide(i, i + 1);
                reset(i + 1);
                ++i;
                break;
            case '\n':
                reset(i + 1);
                ++i;
                break;
            case CODE_COLOR:
                i = color(i);
                break;
            default:
                ++i;
            }
        }
        for (auto &s : slots_)
            close(static_cast<input_attr_kind>(&s - slots_.data()), n);
        if (hidden_open_)
            out_.push_back({input_attr_kind::hidden, hidden_start_, hidden_end_});
        std::stable_sort(out_.begin(), out_.end(), [](const input_attr &a, const input_attr &b) {
            return a.start != b.start ? a.start < b.start : a.kind < b.kind;
        });
        return std::move(out_);
    }

  private:
    static input_attr_kind toggled_kind(char c)
    {
        switch (c) {
        case CODE_BOLD:
            return input_attr_kind::bold;
        case CODE_ITALIC:
            return input_attr_kind::italic;
        case CODE_STRIKE:
            return input_attr_kind::strikethrough;
        default:
            return input_attr_kind::underline;
        }
    }

    open_span &slot(input_attr_kind kind) { return slots_[static_cast<std::size_t>(kind)]; }

    static bool is_off(input_attr_kind kind, int value)
    {
        if (kind == input_attr_kind::foreground)
            return value == INPUT_ATTR_DEFAULT_FG;
        if (kind == input_attr_kind::background)
            return value == INPUT_ATTR_DEFAULT_BG;
        return value == 0;
    }

    // Ends the kind's span at `at` (when on and not empty).
    void close(input_attr_kind kind, uint32_t at)
    {
        open_span &s = slot(kind);
        if (kind == input_attr_kind::hidden || is_off(kind, s.value) || at <= s.since)
            return;
        const bool colour = kind == input_attr_kind::foreground || kind == input_attr_kind::background;
        out_.push_back({kind, s.since, at, colour ? s.value : -1});
    }

    void set(input_attr_kind kind, int value, uint32_t at)
    {
        open_span &s = slot(kind);
        if (s.value == value)
            return;
        close(kind, at);
        s.value = value;
        s.since = at;
    }

    void reset(uint32_t at)
    {
        for (auto kind : {input_attr_kind::bold, input_attr_kind::italic, input_attr_kind::underline,
                          input_attr_kind::strikethrough})
            set(kind, 0, at);
        set(input_attr_kind::foreground, INPUT_ATTR_DEFAULT_FG, at);
        set(input_attr_kind::background, INPUT_ATTR_DEFAULT_BG, at);
    }

    void hide(uint32_t from, uint32_t to)
    {
        if (hidden_open_ && hidden_end_ == from) {
            hidden_end_ = to;
            return;
        }
        if (hidden_open_)
            out_.push_back({input_attr_kind::hidden, hidden_start_, hidden_end_});
        hidden_open_ = true;
        hidden_start_ = from;
        hidden_end_ = to;
    }

    // Reads up to two digits at `*i`; -1 when there is none.
    int number(uint32_t *i) const
    {
        int value = -1;
        for (int k = 0; k < 2 && *i < text_.size() && is_digit(text_[*i]); ++k, ++*i)
            value = (value < 0 ? 0 : value * 10) + (text_[*i] - '0');
        return value;
    }

    static int color_index(int code, int fallback) { return code == COLOR_DEFAULT_CODE ? fallback : code; }

    // The colour code at `at`, read the way the text view reads it once the
    // line is sent: a comma belongs to the code only when a digit follows
    // (or when the line ends there, as it does while the code is typed).
    uint32_t color(uint32_t at)
    {
        uint32_t i = at + 1;
        const int fg = number(&i);
        int bg = -1;
        if (i < text_.size() && text_[i] == ',') {
            if (i + 1 == text_.size()) {
                ++i;
            } else if (is_digit(text_[i + 1])) {
                ++i;
                bg = number(&i);
            }
        }
        hide(at, i);
        if (fg < 0 && bg < 0) {
            set(input_attr_kind::foreground, INPUT_ATTR_DEFAULT_FG, i);
            set(input_attr_kind::background, INPUT_ATTR_DEFAULT_BG, i);
        }
        if (fg >= 0)
            set(input_attr_kind::foreground, color_index(fg, INPUT_ATTR_DEFAULT_FG), i);
        if (bg >= 0)
            set(input_attr_kind::background, color_index(bg, INPUT_ATTR_DEFAULT_BG), i);
        return i;
    }

    std::string_view text_;
    std::array<open_span, 7> slots_{};
    std::vector<input_attr> out_;
    bool hidden_open_ = false;
    uint32_t hidden_start_ = 0, hidden_end_ = 0;
};

} // namespace

std::ostream &operator<<(std::ostream &os, const input_attr &a)
{
    static const char *const names[] = {"hidden", "bold", "italic", "underline", "strike", "fg", "bg"};
    os << names[static_cast<int>(a.kind)] << "[" << a.start << "," << a.end << ")";
    if (a.color >= 0)
        os << "=" << a.color;
    return os;
}

std::vector<input_attr> input_attrs_build(std::string_view text)
{
    return builder(text).run();
}
