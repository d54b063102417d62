// DCC request words, names and acknowledgements.

#include "dcc/dcc-offer.h"

#include <glib.h>

namespace
{

bool kind_is(const std::string &word, const char *kind)
{
    return g_ascii_strcasecmp(word.c_str(), kind) == 0;
}

uint64_t number_or_zero(const std::string &word)
{
    uint64_t n = 0;
    return dcc_parse_number(word, &n) ? n : 0;
}

} // namespace

std::vector<std::string> dcc_split_words(std::string_view text)
{
    if (!text.empty() && text.back() == '\001')
        text.remove_suffix(1);
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            i++;
        if (i >= text.size())
            break;
        std::string word;
        bool quoted = false;
        while (i < text.size() && (quoted || text[i] != ' ')) {
            if (text[i] == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    word += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                i++;
                continue;
            }
            word += text[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

bool dcc_parse_number(std::string_view text, uint64_t *out)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (n > (UINT64_MAX - digit) / 10)
            return false;
        n = n * 10 + digit;
    }
    *out = n;
    return true;
}

namespace
{

bool all_digits(const std::string &w)
{
    uint64_t ignored;
    return dcc_parse_number(w, &ignored);
}

// Some clients send a name with blanks unquoted. With more words than the
// kind has fields, the numbers are taken from the end and the name is what
// is left: `fields` numbers, or `fields` + 1 with a passive token when that
// reading gives a plausible port (the word `port_back` from the end).
std::vector<std::string> join_unquoted_name(const std::vector<std::string> &words, std::size_t fields,
                                            std::size_t port_back)
{
    const std::size_t plain = 2 + fields; // kind, name, numbers
    if (words.size() <= plain + 1)
        return words;
    auto numeric_tail = [&](std::size_t n) {
        for (std::size_t i = words.size() - n; i < words.size(); i++)
            if (!all_digits(words[i]))
                return false;
        return true;
    };
    std::size_t n = fields;
    if (numeric_tail(fields + 1)) {
        uint64_t port = 0;
        dcc_parse_number(words[words.size() - 1 - port_back], &port);
        if (port < 65536)
            n = fields + 1;
    }
    if (!numeric_tail(n))
        return words;
    std::vector<std::string> out{words[0], words[1]};
    for (std::size_t i = 2; i < words.size() - n; i++)
        out[1] += " " + words[i];
    out.insert(out.end(), words.end() - static_cast<std::ptrdiff_t>(n), words.end());
    return out;
}

} // namespace

std::optional<dcc_request> dcc_parse_request(const std::vector<std::string> &given)
{
    if (given.empty())
        return std::nullopt;
    dcc_request r;
    const std::string &k = given[0];
    // SEND: addr port size [token]; RESUME/ACCEPT: port position [token].
    const std::vector<std::string> words = kind_is(k, "SEND") ? join_unquoted_name(given, 3, 2)
                                           : kind_is(k, "RESUME") || kind_is(k, "ACCEPT")
                                               ? join_unquoted_name(given, 2, 2)
                                               : given;
    auto token_at = [&](std::size_t i) {
        if (words.size() > i && !words[i].empty()) {
            r.has_token = true;
            r.token = number_or_zero(words[i]);
        }
    };
    if (kind_is(k, "CHAT")) {
        // "chat <addr> <port> [token]"
        if (words.size() < 4)
            return std::nullopt;
        r.kind = dcc_request::CHAT;
        const uint64_t address = number_or_zero(words[2]);
        r.address = address > UINT32_MAX ? 0 : static_cast<uint32_t>(address);
        r.port = number_or_zero(words[3]);
        token_at(4);
    } else if (kind_is(k, "SEND")) {
        if (words.size() < 5)
            return std::nullopt;
        r.kind = dcc_request::SEND;
        r.name = words[1];
        const uint64_t address = number_or_zero(words[2]);
        r.address = address > UINT32_MAX ? 0 : static_cast<uint32_t>(address);
        r.port = number_or_zero(words[3]);
        r.size = number_or_zero(words[4]);
        token_at(5);
    } else if (kind_is(k, "RESUME") || kind_is(k, "ACCEPT")) {
        if (words.size() < 4)
            return std::nullopt;
        r.kind = kind_is(k, "RESUME") ? dcc_request::RESUME : dcc_request::ACCEPT;
        r.name = words[1];
        r.port = number_or_zero(words[2]);
        r.position = number_or_zero(words[3]);
        token_at(4);
    } else {
        r.kind = dcc_request::OTHER;
    }
    return r;
}

bool dcc_name_is_safe(std::string_view name)
{
    if (name.empty() || name[0] == '.')
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\')
            return false;
    }
    return true;
}

std::string dcc_wire_name(std::string_view name)
{
    std::string out;
    out.reserve(name.size() + 2);
    bool blank = false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '"')
            out += '_';
        else
            out += static_cast<char>(c);
        blank = blank || c == ' ';
    }
    if (out.empty())
        out.push_back('_');
    if (blank) {
        out.insert(out.begin(), '"');
        out.push_back('"');
    }
    return out;
}

std::optional<uint64_t> dcc_widen_ack(uint32_t ack, uint64_t position)
{
    constexpr uint64_t wrap = uint64_t{1} << 32;
    uint64_t candidate = (position & ~(wrap - 1)) | ack;
    if (candidate <= position)
        return candidate;
    if (position < wrap)
        return std::nullopt;
    return candidate - wrap;
}

double dcc_percent(uint64_t done, uint64_t size, bool complete)
{
    if (size == 0)
        return complete ? 100.0 : 0.0;
    return static_cast<double>(done) * 100.0 / static_cast<double>(size);
}
