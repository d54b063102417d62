#include "fe-formats.h"

#include "gtk-handles.h"
#include "base/lumenwick.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Cuts `s` to at most `max_bytes` without splitting a UTF-8 sequence, so the
// window manager never receives an invalid title.
void truncate_utf8(std::string &s, std::size_t max_bytes)
{
    if (s.size() <= max_bytes)
        return;
    std::size_t cut = max_bytes;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    s.resize(cut);
}

std::string printf_string(const char *format, ...) G_GNUC_PRINTF(1, 2);

std::string printf_string(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    gchar_ptr text(g_strdup_vprintf(format, args));
    va_end(args);
    return text.get();
}

bool is_ipv6_literal(const std::string &host)
{
    return host.find(':') != std::string::npos && g_hostname_is_ip_address(host.c_str());
}

// "[addr]" or "[addr]:port" with a valid IPv6 address between the brackets.
bool is_bracketed_ipv6(const char *word)
{
    if (word[0] != '[')
        return false;
    const char *close = std::strchr(word, ']');
    if (!close)
        return false;
    const char *rest = close + 1;
    if (*rest == ':') {
        ++rest;
        if (!*rest)
            return false;
        for (; *rest; ++rest)
            if (!g_ascii_isdigit(*rest))
                return false;
    } else if (*rest) {
        return false;
    }
    return is_ipv6_literal(std::string(word + 1, close));
}

constexpr const char URI_RESERVED[] = ":/?#[]@!$&'()*+,;=";
constexpr const char URI_UNRESERVED_PUNCT[] = "-._~%";

bool only_uri_characters(const std::string &url)
{
    return std::all_of(url.begin(), url.end(), [](char c) {
        return g_ascii_isalnum(c) || (c != '\0' && (std::strchr(URI_UNRESERVED_PUNCT, c) || std::strchr(URI_RESERVED, c)));
    });
}

}  // namespace

std::string window_title(const title_fields &f)
{
    const char *program = DISPLAY_NAME;
    if (!f.connected && f.type != 3)
        return program;

    const std::string nick = f.show_nick ? f.nick : std::string();
    const char *at = f.show_nick ? " @ " : "";
    std::string title;
    switch (f.type) {
    case 2: {
        const bool modes = f.show_modes && f.mode_string && !f.mode_string->empty();
        title = printf_string("%s%s%s / %s%s%s%s - %s", nick.c_str(), at, f.network.c_str(), f.channel.c_str(),
                              modes ? " (" : "", modes ? f.mode_string->c_str() : "", modes ? ")" : "", program);
        if (f.show_user_count)
            title += printf_string(" (%d)", f.user_count);
        break;
    }
    case 3:
        title = printf_string("%s %s @ %s - %s", _("Dialog with"), f.channel.c_str(), f.network.c_str(), program);
        break;
    case 4:
    case 5:
        title = printf_string("%s%s%s (notices) - %s", nick.c_str(), at, f.network.c_str(), program);
        break;
    default:
        title = printf_string("%s%s%s - %s", nick.c_str(), at, f.network.c_str(), program);
        break;
    }
    truncate_utf8(title, TITLE_BUFFER_SIZE - 1);
    return title;
}

std::ostream &operator<<(std::ostream &os, const meter_text &m)
{
    return os << "{fraction " << m.fraction << ", label \"" << m.label << "\", tooltip \"" << m.tooltip << "\"}";
}

std::optional<meter_text> lag_meter(long lag_ms, unsigned long probe_ms, unsigned long now_ms)
{
    const bool outstanding = probe_ms != 0;
    if (lag_ms == -1) {
        if (!outstanding)
            return std::nullopt;
        // A clock stepped backwards must not show a huge unsigned difference.
        lag_ms = now_ms > probe_ms ? static_cast<long>(std::min<unsigned long>(now_ms - probe_ms, LAG_DISPLAY_CAP_MS))
                                   : 0;
    }
    if (lag_ms < 0)
        lag_ms = 0;
    if (outstanding && lag_ms > LAG_DISPLAY_CAP_MS)
        lag_ms = LAG_DISPLAY_CAP_MS;

    const char *sign = outstanding ? "+" : "";
    const long seconds = lag_ms / 1000;
    const long tenths = (lag_ms / 100) % 10;
    meter_text m;
    m.fraction = std::min(static_cast<double>(lag_ms) / 1000.0, 1.0);
    m.label = printf_string("%s%ld.%lds", sign, seconds, tenths);
    m.tooltip = printf_string(_("Lag: %s%ld.%ld seconds"), sign, seconds, tenths);
    return m;
}

meter_text throttle_meter(int queued_bytes)
{
    meter_text m;
    m.fraction = std::clamp(static_cast<double>(queued_bytes) / 1024.0, 0.0, 1.0);
    m.label = printf_string(_("%d bytes"), queued_bytes);
    m.tooltip = printf_string(_("Network send queue: %d bytes"), queued_bytes);
    return m;
}

std::ostream &operator<<(std::ostream &os, url_kind k)
{
    switch (k) {
    case url_kind::file:
        return os << "file";
    case url_kind::ipv6_host:
        return os << "ipv6_host";
    case url_kind::bare_host:
        return os << "bare_host";
    case url_kind::as_is:
        return os << "as_is";
    }
    return os << "?";
}

url_kind classify_url_word(const char *word, bool exists)
{
    if (g_path_is_absolute(word) || exists)
        return url_kind::file;
    if (is_bracketed_ipv6(word) || is_ipv6_literal(word))
        return url_kind::ipv6_host;
    if (!std::strchr(word, ':'))
        return url_kind::bare_host;
    return url_kind::as_is;
}

std::string url_for_word(const char *word, bool exists)
{
    switch (classify_url_word(word, exists)) {
    case url_kind::file: {
        gchar_ptr absolute(g_canonicalize_filename(word, nullptr));
        gchar_ptr uri(g_filename_to_uri(absolute.get(), nullptr, nullptr));
        return uri ? uri.get() : word;
    }
    case url_kind::ipv6_host:
        return word[0] == '[' ? printf_string("http://%s", word) : printf_string("http://[%s]", word);
    case url_kind::bare_host:
        return printf_string("http://%s", word);
    case url_kind::as_is:
        break;
    }
    return word;
}

std::string escape_url_for_opener(const std::string &url)
{
    if (only_uri_characters(url)) {
        gchar_ptr decoded(g_uri_unescape_string(url.c_str(), nullptr));
        if (decoded)
            return url;
    }
    gchar_ptr escaped(g_uri_escape_string(url.c_str(), URI_RESERVED, FALSE));
    return escaped.get();
}

char **opener_environment(char **envp)
{
    static constexpr const char *leaky[] = {"LD_LIBRARY_PATH", "LD_PRELOAD", "APPDIR", "APPIMAGE", "ARGV0"};
    for (const char *name : leaky)
        envp = g_environ_unsetenv(envp, name);
    return envp;
}
