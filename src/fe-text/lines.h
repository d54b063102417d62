// Pure text handling of the headless front end: cutting standard input into
// command lines, turning printed text into output lines, and the bounded
// per-session line store that /LASTLOG searches.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Longest command line kept whole; a longer run of bytes without a line end
// is handed on in pieces of this size so one runaway writer cannot grow the
// buffer without bound.
inline constexpr std::size_t MAX_INPUT_LINE = 64 * 1024;

// Cuts a byte stream into lines at LF (a CR before it is dropped). Invalid
// UTF-8 is replaced with U+FFFD so the core only ever sees valid text.
class line_splitter
{
  public:
    std::vector<std::string> feed(std::string_view bytes);
    // The unterminated rest at end of input, if any.
    std::optional<std::string> finish();

  private:
    std::string pending_;
};

std::string make_valid_utf8(std::string_view bytes);

// The lines of a printed text: split at LF, a final LF ends the last line
// rather than starting an empty one.
std::vector<std::string> split_text_lines(std::string_view text);

// "<where>\t<line without formatting codes>" for one line of a session;
// `where` is the session's name, "*" for a tab without one.
std::string output_line(std::string_view session_name, std::string_view line);

// The last lines printed into one session, oldest first.
class text_buffer
{
  public:
    void append(std::string line, std::size_t max_lines);
    // 0 removes everything; n > 0 the first n lines; n < 0 the last -n.
    void clear(int lines);
    const std::deque<std::string> &lines() const { return lines_; }

  private:
    std::deque<std::string> lines_;
};

// Flags of a lastlog search (the same bits the core passes).
inline constexpr int LASTLOG_FLAG_MATCHCASE = 1;
inline constexpr int LASTLOG_FLAG_REGEXP = 16;

struct lastlog_result {
    std::vector<std::string> lines; // matching lines, formatting kept
    std::string error;              // a regular expression that did not compile
};
// The lines whose text (formatting codes removed) matches `pattern`: a
// regular expression with LASTLOG_FLAG_REGEXP, else a substring; both
// case-insensitive unless LASTLOG_FLAG_MATCHCASE.
lastlog_result lastlog_search(const std::deque<std::string> &lines, const char *pattern, int flags);
