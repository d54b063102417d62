// The user list of a channel as lumenwick-text reports it: /USERLIST prints the
// core's own list, one line per user in the list's order, and a help line typed
// after it marks where that listing ends (commands run in the order typed, and
// both print at once). Shared by the channel tests against real and scripted peers.
#pragma once

#include "harness.h"

#include <glib.h>

#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace listing
{

// One user as /USERLIST shows it.
struct listed_user {
    std::string nick;
    std::string host; // "" when unknown
    bool op = false;
    bool voice = false;
    bool away = false;

    bool operator==(const listed_user &o) const
    {
        return nick == o.nick && host == o.host && op == o.op && voice == o.voice && away == o.away;
    }
};

inline std::ostream &operator<<(std::ostream &os, const listed_user &u)
{
    return os << u.nick << (u.op ? " @" : "") << (u.voice ? " +" : "") << (u.away ? " away" : "")
              << (u.host.empty() ? "" : " (" + u.host + ")");
}

// The line typed after /USERLIST; its answer is printed in the same tab.
inline constexpr const char *END_COMMAND = "/help quote";
inline constexpr const char *END_SHOWN = "Usage: QUOTE <text>";

// The /USERLIST lines of tab `channel` in `out`:
// "<channel>\t<nick>\t[<host, padded>] ov=<op><voice> away=<0|1> lt=<seconds>".
inline std::vector<listed_user> parse(std::string_view out, const std::string &channel)
{
    std::vector<listed_user> users;
    const std::string start = channel + "\t";
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string_view::npos)
            end = out.size();
        const std::string_view line = out.substr(pos, end - pos);
        pos = end + 1;
        if (line.substr(0, start.size()) != start)
            continue;
        const std::size_t tab = line.find('\t', start.size());
        const std::size_t flags = line.rfind("] ov=");
        if (tab == std::string_view::npos || flags == std::string_view::npos || flags < tab ||
            line.size() < flags + 8 || line[tab + 1] != '[')
            continue;
        listed_user u;
        u.nick = std::string(line.substr(start.size(), tab - start.size()));
        std::string host(line.substr(tab + 2, flags - tab - 2));
        while (!host.empty() && host.back() == ' ')
            host.pop_back();
        u.host = host;
        u.op = line[flags + 5] == '1';
        u.voice = line[flags + 6] == '1';
        const std::size_t away = line.find(" away=", flags);
        u.away = away != std::string_view::npos && line.substr(away + 6, 1) == "1";
        users.push_back(std::move(u));
    }
    return users;
}

// Types /USERLIST in the client's current tab and returns what it listed for
// `channel`; false (with `users` as far as seen) when the end marker did not come.
// Looks for the marker only in the new output: a listing of 50,000 lines is
// megabytes, and scanning all of it after every read would dominate the test.
inline bool fetch(text_client &client, const std::string &channel, std::vector<listed_user> &users, int timeout_ms)
{
    const std::size_t from = client.out().size();
    client.type(std::string("/userlist\n") + END_COMMAND);
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
    std::size_t marker = std::string::npos;
    while ((marker = client.out().find(END_SHOWN, from)) == std::string::npos && g_get_monotonic_time() < deadline)
        client.settle(50);
    const std::size_t until = marker == std::string::npos ? client.out().size() : marker;
    users = parse(std::string_view(client.out()).substr(from, until - from), channel);
    return marker != std::string::npos;
}

// The two nick comparisons a server can announce.
inline int rfc1459_cmp(const std::string &a, const std::string &b)
{
    auto fold = [](unsigned char c) -> int {
        if (c >= 'A' && c <= '^')
            return c + ('a' - 'A'); // A-Z and [ \ ] ^ fold onto a-z and { | } ~
        return c;
    };
    for (std::size_t i = 0;; ++i) {
        const int ca = i < a.size() ? fold(static_cast<unsigned char>(a[i])) : 0;
        const int cb = i < b.size() ? fold(static_cast<unsigned char>(b[i])) : 0;
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

inline int ascii_cmp(const std::string &a, const std::string &b)
{
    return g_ascii_strcasecmp(a.c_str(), b.c_str());
}

using nick_cmp = int (*)(const std::string &, const std::string &);

// "" when `users` is strictly ascending under `cmp`, else the first pair out of order.
inline std::string order_fault(const std::vector<listed_user> &users, nick_cmp cmp)
{
    for (std::size_t i = 1; i < users.size(); ++i)
        if (cmp(users[i - 1].nick, users[i].nick) >= 0)
            return "out of order at " + std::to_string(i) + ": " + users[i - 1].nick + " then " + users[i].nick;
    return {};
}

inline std::vector<std::string> nicks_of(const std::vector<listed_user> &users)
{
    std::vector<std::string> nicks;
    nicks.reserve(users.size());
    for (const listed_user &u : users)
        nicks.push_back(u.nick);
    return nicks;
}

// A short text of what differs between two nick lists, for failure messages.
inline std::string difference(const std::vector<std::string> &want, const std::vector<std::string> &got)
{
    const std::unordered_set<std::string> wanted(want.begin(), want.end()), listed(got.begin(), got.end());
    std::vector<std::string> missing, extra;
    for (const std::string &n : want)
        if (!listed.count(n))
            missing.push_back(n);
    for (const std::string &n : got)
        if (!wanted.count(n))
            extra.push_back(n);
    std::ostringstream os;
    os << want.size() << " expected, " << got.size() << " listed; missing:";
    for (std::size_t i = 0; i < missing.size() && i < 20; ++i)
        os << ' ' << missing[i];
    os << (missing.size() > 20 ? " ..." : "") << "; extra:";
    for (std::size_t i = 0; i < extra.size() && i < 20; ++i)
        os << ' ' << extra[i];
    os << (extra.size() > 20 ? " ..." : "");
    return os.str();
}

} // namespace listing
