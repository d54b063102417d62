#include "lines.h"

#include "base/handles.h"
#include "base/util.h"

#include <glib.h>

#include <memory>

namespace
{
std::string strip_all(std::string_view text)
{
    gchar_ptr plain(strip_color(std::string(text).c_str(), -1, STRIP_ALL));
    return plain ? std::string(plain.get()) : std::string();
}
} // namespace

std::string make_valid_utf8(std::string_view bytes)
{
    if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr))
        return std::string(bytes);
    gchar_ptr valid(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
    return std::string(valid.get());
}

std::vector<std::string> line_splitter::feed(std::string_view bytes)
{
    std::vector<std::string> out;
    for (char c : bytes) {
        if (c == '\n') {
            if (!pending_.empty() && pending_.back() == '\r')
                pending_.pop_back();
            out.push_back(make_valid_utf8(pending_));
            pending_.clear();
            continue;
        }
        pending_ += c;
        if (pending_.size() >= MAX_INPUT_LINE) {
            // The cut may split a UTF-8 sequence; the replacement character
            // then marks the damage instead of passing invalid bytes on.
            out.push_back(make_valid_utf8(pending_));
            pending_.clear();
        }
    }
    return out;
}

std::optional<std::string> line_splitter::finish()
{
    if (!pending_.empty() && pending_.back() == '\r')
        pending_.pop_back();
    if (pending_.empty())
        return std::nullopt;
    std::string rest = make_valid_utf8(pending_);
    pending_.clear();
    return rest;
}

std::vector<std::string> split_text_lines(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string output_line(std::string_view session_name, std::string_view line)
{
    std::string out(session_name.empty() ? std::string_view("*") : session_name);
    out += '\t';
    out += strip_all(line);
    out += '\n';
    return out;
}

void text_buffer::append(std::string line, std::size_t max_lines)
{
    lines_.push_back(std::move(line));
    while (max_lines > 0 && lines_.size() > max_lines)
        lines_.pop_front();
}

void text_buffer::clear(int lines)
{
    if (lines == 0) {
        lines_.clear();
        return;
    }
    const std::size_t n = static_cast<std::size_t>(lines > 0 ? lines : -static_cast<long>(lines));
    for (std::size_t i = 0; i < n && !lines_.empty(); ++i) {
        if (lines > 0)
            lines_.pop_front();
        else
            lines_.pop_back();
    }
}

lastlog_result lastlog_search(const std::deque<std::string> &lines, const char *pattern, int flags)
{
    lastlog_result result;
    const std::string wanted = pattern ? pattern : "";
    const bool match_case = flags & LASTLOG_FLAG_MATCHCASE;

    if (flags & LASTLOG_FLAG_REGEXP) {
        error_ptr error;
        const auto compile_flags = static_cast<GRegexCompileFlags>(match_case ? 0 : G_REGEX_CASELESS);
        std::unique_ptr<GRegex, decltype(&g_regex_unref)> regex(
            g_regex_new(wanted.c_str(), compile_flags, G_REGEX_MATCH_DEFAULT, error.out()), g_regex_unref);
        if (!regex) {
            result.error = error ? error.message() : "invalid regular expression";
            return result;
        }
        for (const std::string &line : lines)
            if (g_regex_match(regex.get(), strip_all(line).c_str(), G_REGEX_MATCH_DEFAULT, nullptr))
                result.lines.push_back(line);
        return result;
    }

    auto fold = [&](const std::string &s) {
        if (match_case)
            return s;
        gchar_ptr folded(g_utf8_casefold(s.c_str(), -1));
        return std::string(folded.get());
    };
    const std::string needle = fold(wanted);
    for (const std::string &line : lines)
        if (fold(strip_all(line)).find(needle) != std::string::npos)
            result.lines.push_back(line);
    return result;
}
