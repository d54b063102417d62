#include "mainwin/tabstate.h"

#include "base/util.h"

#include <glib.h>
#include <glib/gi18n.h>

#include <cstring>
#include <string>

int mode_button_index(char letter)
{
    static const char letters[] = "cntimlk";
    const char *at = letter ? std::strchr(letters, letter) : nullptr;
    return at ? static_cast<int>(at - letters) : -1;
}

bool tab_saved::empty() const
{
    return !topic && !input && !key && !limit && !lag && !throttle && !want_progress;
}

std::optional<activity_flags> activity_after(activity_flags now, int level, bool in_front)
{
    const bool keep_higher = level & NO_OVERRIDE;
    level &= ~NO_OVERRIDE;
    if (level == 0)
        return activity_flags{};
    if (in_front || level > 3)
        return std::nullopt;
    switch (level) {
    case 1:
        if (keep_higher && (now.new_message || now.highlight))
            return now;
        now.new_data = true;
        break;
    case 2:
        if (keep_higher && now.highlight)
            return now;
        now.new_message = true;
        break;
    default:
        now.highlight = true;
        break;
    }
    return now;
}

namespace
{
std::string utf8_cut(const std::string &s, std::size_t bytes)
{
    if (s.size() <= bytes)
        return s;
    return s.substr(0, utf8_prefix(s.data(), s.size(), bytes));
}
} // namespace

void closed_tabs::push(int server_id, const std::string &channel, const std::string &key)
{
    list_.push_front({server_id, utf8_cut(channel, 300), utf8_cut(key, 64)});
    while (list_.size() > MAX)
        list_.pop_back();
}

std::optional<closed_tab> closed_tabs::pop()
{
    if (list_.empty())
        return std::nullopt;
    closed_tab t = std::move(list_.front());
    list_.pop_front();
    return t;
}

layout_slots resolve_layout(int ulist_pos, int tab_pos, int tab_layout)
{
    layout_slots s{ulist_pos, tab_pos};
    if (s.userlist < 1 || s.userlist > 4)
        s.userlist = 3;
    if (s.switcher < 1 || s.switcher > 7)
        s.switcher = 6;
    if (tab_layout == 2 && (s.switcher == 5 || s.switcher == 6))
        s.switcher = 1;
    if (s.switcher == s.userlist)
        s.switcher = s.userlist == 3 ? 4 : 3;
    return s;
}

bool slots_share_side(const layout_slots &s)
{
    const auto side = [](int p) { return p == 1 || p == 2 ? 0 : p == 3 || p == 4 ? 1 : -1; };
    return side(s.switcher) >= 0 && side(s.switcher) == side(s.userlist);
}

bool userlist_wanted(int sess_type, bool ulist_hide, const layout_slots &s)
{
    if (ulist_hide)
        return false;
    return sess_type == 2 || slots_share_side(s);
}

layout_slots drop_into(layout_slots s, bool dragging_userlist, bool right, bool upper)
{
    const int target = right ? (upper ? 3 : 4) : (upper ? 1 : 2);
    const int opposite = right ? (upper ? 4 : 3) : (upper ? 2 : 1);
    int &mine = dragging_userlist ? s.userlist : s.switcher;
    int &other = dragging_userlist ? s.switcher : s.userlist;
    if (other == target)
        other = opposite;
    mine = target;
    return s;
}

bool client_tag_allowed(bool message_tags, const char *deny_list, const char *tag)
{
    if (!message_tags)
        return false;
    if (!deny_list || !*deny_list)
        return true;
    const std::string plus = std::string("+") + tag;
    std::string item;
    for (const char *p = deny_list;; ++p) {
        if (*p && *p != ',') {
            item += *p;
            continue;
        }
        if (item == "*" || item == tag || item == plus)
            return false;
        item.clear();
        if (!*p)
            return true;
    }
}

reply_route reply_route_for(const char *line, char command_char, bool connected, bool reply_allowed)
{
    if (!line || line[0] == command_char)
        return reply_route::as_typed;
    return connected && reply_allowed ? reply_route::reply : reply_route::unsupported;
}

std::string reply_command(char command_char, const std::string &msgid, const char *text)
{
    return std::string(1, command_char) + "REPLY " + msgid + " " + text;
}

namespace
{
// Bytes of the original message quoted in the reply bar.
constexpr std::size_t REPLY_QUOTE_MAX = 160;
} // namespace

std::string reply_bar_markup(const reply_target &r)
{
    std::string quote = r.text;
    if (quote.size() > REPLY_QUOTE_MAX) {
        // Cut on a character boundary: half a character is invalid UTF-8,
        // which the label would refuse as a whole.
        const char *start = quote.c_str();
        const char *end = g_utf8_find_prev_char(start, start + REPLY_QUOTE_MAX + 1);
        quote.resize(end ? static_cast<std::size_t>(end - start) : 0);
    }
    gchar *nick = g_markup_escape_text(r.nick.empty() ? _("message") : r.nick.c_str(), -1);
    gchar *text = g_markup_escape_text(r.text.empty() ? _("Original message unavailable") : quote.c_str(), -1);
    gchar *markup =
        g_strdup_printf(_("<span foreground='#7d8790'>\u21aa Replying to <b>%s</b> \u00b7 %s</span>"), nick, text);
    std::string out = markup;
    g_free(markup);
    g_free(text);
    g_free(nick);
    return out;
}
