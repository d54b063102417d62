#include "app/url-words.h"

#include "fe-common/printf.h"
#include "support/gtk-handles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

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
        return g_ascii_isalnum(c) ||
               (c != '\0' && (std::strchr(URI_UNRESERVED_PUNCT, c) || std::strchr(URI_RESERVED, c)));
    });
}

} // namespace

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
