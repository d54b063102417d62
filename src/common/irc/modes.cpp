// Channel modes and server features. The 005 (ISUPPORT) tokens replace the
// server's defaults; MODE lines are read against them, updating the user
// lists, the channel's key, limit and current-modes string, and showing one
// event per mode (op and voice changes grouped per sign run).

#include "irc/modes.h"

#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/inbound.h"
#include "irc/proto-irc.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "net/tcp.h"
#include "output/text.h"
#include "session/session.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

// An IRC line holds 512 bytes with CR LF; "MODE <channel> <sign>" and the
// separating spaces take 9 of them besides the channel name.
constexpr int MODE_LINE_ROOM = 512 - 9;
// MODES beyond this are no real limit: the line length decides first.
constexpr long MAX_MODES_PER_LINE = 512;
// The four CHANMODES groups.
constexpr int GROUP_LIST = 0;
constexpr int GROUP_ALWAYS_ARG = 1;
constexpr int GROUP_ARG_WHEN_SET = 2;
constexpr int GROUP_NO_ARG = 3;

const char *or_empty(const char *s)
{
    return s ? s : "";
}

time_t stamp_of(const message_tags_data *tags)
{
    return tags ? tags->timestamp : 0;
}

void replace_string(char *&field, const char *value)
{
    g_free(field);
    field = value ? g_strdup(value) : nullptr;
}

// ISUPPORT values escape bytes as "\xHH". A "\x00" would cut the value short,
// so it stays as written, like any other backslash.
std::string isupport_unescape(const char *value)
{
    std::string out;
    for (const char *p = value; *p; p++) {
        if (p[0] == '\\' && p[1] == 'x' && g_ascii_isxdigit(p[2]) && g_ascii_isxdigit(p[3])) {
            const int byte = g_ascii_xdigit_value(p[2]) * 16 + g_ascii_xdigit_value(p[3]);
            if (byte != 0) {
                out += static_cast<char>(byte);
                p += 3;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

// Applies every listed channel of `serv` to `fn`.
template <typename Fn> void for_each_channel(server *serv, Fn fn)
{
    for (GSList *l = sess_list; l; l = l->next) {
        auto *sess = static_cast<session *>(l->data);
        if (sess->server == serv && sess->type == SESS_CHANNEL)
            fn(sess);
    }
}

// "(ohv)@%+": the letters inside the parentheses pair with the characters
// after them. Lists of unequal length (or longer than the access bits) pair
// only as far as both reach.
void set_prefix(server *serv, const std::string &value)
{
    const std::size_t close = value.find(')');
    const std::size_t open = value[0] == '(' ? 1 : 0;
    std::string letters = value.substr(open, close - open);
    std::string symbols = value.substr(close + 1);
    const std::size_t count = std::min({letters.size(), symbols.size(), static_cast<std::size_t>(MAX_NICK_LEVELS)});
    letters.resize(count);
    symbols.resize(count);

    const std::string old_prefixes = or_empty(serv->nickprefixes);
    replace_string(serv->nickmodes, letters.c_str());
    replace_string(serv->nickprefixes, symbols.c_str());
    if (old_prefixes != symbols)
        for_each_channel(serv, [&](session *sess) { userlist_remap_access(sess, old_prefixes.c_str()); });
}

void reset_prefix(server *serv)
{
    set_prefix(serv, std::string("(") + DEFAULT_NICKMODES + ")" + DEFAULT_NICKPREFIXES);
    replace_string(serv->bad_nick_prefixes, nullptr);
}

void set_casemapping(server *serv, const std::string &value, bool negated)
{
    int (*cmp)(const char *, const char *) = !negated && value == "ascii"
                                                 ? static_cast<int (*)(const char *, const char *)>(g_ascii_strcasecmp)
                                                 : rfc_casecmp;
    if (serv->p_cmp == cmp)
        return;
    serv->p_cmp = cmp;
    // The lists were sorted under the old comparison.
    for_each_channel(serv, userlist_resort);
}

void apply_isupport(server *serv, const std::string &name, const std::string &value, bool negated)
{
    if (name == "MODES") {
        long n = negated ? DEFAULT_MODES_PER_LINE : strtol(value.c_str(), nullptr, 10);
        serv->maxmodes = static_cast<int>(std::clamp(n, 0L, MAX_MODES_PER_LINE));
    } else if (name == "CHANTYPES") {
        replace_string(serv->chantypes, negated ? DEFAULT_CHANTYPES : value.c_str());
    } else if (name == "CHANMODES") {
        replace_string(serv->chanmodes, negated ? DEFAULT_CHANMODES : value.c_str());
    } else if (name == "PREFIX") {
        if (negated)
            reset_prefix(serv);
        else if (value.find(')') != std::string::npos)
            set_prefix(serv, value);
        else
            replace_string(serv->bad_nick_prefixes, value.c_str());
    } else if (name == "WATCH") {
        serv->have_watch = !negated;
    } else if (name == "MONITOR") {
        serv->have_monitor = !negated;
    } else if (name == "WHOX") {
        serv->have_whox = !negated;
    } else if (name == "EXCEPTS") {
        serv->have_excepts = !negated;
    } else if (name == "INVEX") {
        serv->have_invex = !negated;
    } else if (name == "NETWORK") {
        session *home = serv->home_session;
        if (!negated && !value.empty() && home && home->type == SESS_SERVER) {
            safe_strcpy(home->channel, value.c_str(), sizeof home->channel);
            fe_set_channel(home);
        }
    } else if (name == "CASEMAPPING") {
        set_casemapping(serv, value, negated);
    } else if (name == "CLIENTTAGDENY") {
        replace_string(serv->clienttagdeny, negated ? nullptr : value.c_str());
    } else if (name == "CHARSET") {
        if (!negated && g_ascii_strcasecmp(value.c_str(), "UTF-8") == 0)
            server_set_encoding(serv, "UTF-8");
    } else if (name == "UTF8ONLY") {
        if (!negated)
            server_set_encoding(serv, "UTF-8");
    } else if (name == "NAMESX") {
        if (!negated && !serv->namesx_sent) {
            static const char request[] = "PROTOCTL NAMESX\r\n";
            tcp_send_len(serv, request, static_cast<int>(sizeof request - 1));
            serv->namesx_sent = TRUE;
        }
    } else if (name == "ELIST") {
        serv->have_list_conditions = !negated && value.find_first_of("Uu") != std::string::npos;
    }
}

// ---- the current-modes string ---------------------------------------------------

// One letter of a channel's current modes, with its argument when it has one.
struct held_mode {
    char letter;
    bool has_arg;
    std::string arg;
};

bool stored_with_arg(server *serv, char letter)
{
    const int group = chanmode_group(serv, letter);
    return group == GROUP_ALWAYS_ARG || group == GROUP_ARG_WHEN_SET;
}

// "+<letters> <arg>...": the arguments belong, in order, to the letters that
// keep one while set.
std::vector<held_mode> parse_held(server *serv, const char *text)
{
    std::vector<held_mode> held;
    gchar **parts = g_strsplit(or_empty(text), " ", -1);
    int next_arg = 1;
    if (parts[0]) {
        for (const char *p = parts[0]; *p; p++) {
            if (*p != '+' && *p != '-')
                held.push_back({*p, false, std::string()});
        }
        for (held_mode &m : held) {
            if (!stored_with_arg(serv, m.letter))
                continue;
            while (parts[next_arg] && !parts[next_arg][0])
                next_arg++;
            if (!parts[next_arg])
                break;
            m.has_arg = true;
            m.arg = parts[next_arg++];
        }
    }
    g_strfreev(parts);
    return held;
}

std::string format_held(const std::vector<held_mode> &held)
{
    std::string out = "+";
    for (const held_mode &m : held)
        out += m.letter;
    for (const held_mode &m : held) {
        if (m.has_arg) {
            out += ' ';
            out += m.arg;
        }
    }
    return out;
}

void update_held(session *chan, char letter, char sign, const char *arg)
{
    server *serv = chan->server;
    std::vector<held_mode> held = parse_held(serv, chan->mode_string);
    auto it = std::find_if(held.begin(), held.end(), [letter](const held_mode &m) { return m.letter == letter; });
    const bool with_arg = stored_with_arg(serv, letter);
    if (sign == '+') {
        if (it == held.end())
            held.push_back({letter, with_arg, with_arg ? arg : ""});
        else if (with_arg) {
            it->has_arg = true;
            it->arg = arg;
        }
    } else if (it != held.end()) {
        held.erase(it);
    }
    replace_string(chan->mode_string, format_held(held).c_str());
}

// ---- MODE lines -------------------------------------------------------------------

// The op, deop, voice and devoice nicks of one sign run, shown as one event
// each rather than one line per nick.
struct grouped_changes {
    enum { OP, DEOP, VOICE, DEVOICE, COUNT };
    std::string nicks[COUNT];

    void add(int which, const char *nick)
    {
        if (!nick[0])
            return;
        if (!nicks[which].empty())
            nicks[which] += ' ';
        nicks[which] += nick;
    }

    void flush(session *sess, const char *setter, time_t stamp)
    {
        static const int events[COUNT] = {XP_TE_CHANNEL_OPERATOR, XP_TE_CHANNEL_DEOP, XP_TE_CHANNEL_VOICE,
                                          XP_TE_CHANNEL_DEVOICE};
        for (int i = 0; i < COUNT; i++) {
            if (nicks[i].empty())
                continue;
            text_emit(events[i], sess, setter, nicks[i].c_str(), nullptr, nullptr, stamp);
            nicks[i].clear();
        }
    }
};

struct mode_line {
    server *serv;
    const char *setter;
    const char *target;
    session *chan;    // the open channel the modes are for, or null
    session *display; // where events go
    bool quiet;       // raw modes or 324: side effects only
    time_t stamp;
    grouped_changes grouped;

    void generic(char sign, char letter, const char *arg)
    {
        if (quiet)
            return;
        const char sign_text[2] = {sign, 0};
        const char letter_text[2] = {letter, 0};
        std::string where = target;
        if (arg && arg[0]) {
            where += ' ';
            where += arg;
        }
        text_emit(XP_TE_CHANNEL_MODE_GENERIC, display, setter, sign_text, letter_text, where.c_str(), stamp);
    }

    void emit(int set_event, int unset_event, char sign, const char *arg)
    {
        if (!quiet)
            text_emit(sign == '+' ? set_event : unset_event, chan, setter, arg, nullptr, nullptr, stamp);
    }

    // One letter with a real sign in an open channel.
    void channel_letter(char sign, char letter, const char *arg)
    {
        const bool set = sign == '+';
        switch (letter) {
        case 'b':
            emit(XP_TE_CHANNEL_BAN, XP_TE_CHANNEL_UNBAN, sign, arg);
            return;
        case 'e':
            emit(XP_TE_CHANNEL_EXEMPT, XP_TE_CHANNEL_REMOVE_EXEMPT, sign, arg);
            return;
        case 'I':
            emit(XP_TE_CHANNEL_INVITE, XP_TE_CHANNEL_REMOVE_INVITE, sign, arg);
            return;
        case 'q':
            // Only a list-mode q is a quiet; elsewhere q can be an owner prefix.
            if (chanmode_group(serv, 'q') == GROUP_LIST) {
                emit(XP_TE_CHANNEL_QUIET, XP_TE_CHANNEL_UNQUIET, sign, arg);
                return;
            }
            break;
        case 'h':
            emit(XP_TE_CHANNEL_HALF_OPERATOR, XP_TE_CHANNEL_DEHALFOP, sign, arg);
            return;
        case 'o':
            if (!quiet)
                grouped.add(set ? grouped_changes::OP : grouped_changes::DEOP, arg);
            return;
        case 'v':
            if (!quiet)
                grouped.add(set ? grouped_changes::VOICE : grouped_changes::DEVOICE, arg);
            return;
        case 'k':
            if (set)
                safe_strcpy(chan->key, arg, sizeof chan->key);
            else
                chan->key[0] = '\0';
            fe_update_channel_key(chan);
            fe_update_mode_buttons(chan, 'k', sign);
            if (!quiet) {
                if (set)
                    text_emit(XP_TE_CHANNEL_SET_KEY, chan, setter, chan->key, nullptr, nullptr, stamp);
                else
                    text_emit(XP_TE_CHANNEL_REMOVE_KEYWORD, chan, setter, nullptr, nullptr, nullptr, stamp);
            }
            return;
        case 'l': {
            long limit = set ? strtol(arg, nullptr, 10) : 0;
            chan->user_limit = static_cast<int>(std::clamp(limit, 0L, static_cast<long>(INT_MAX)));
            fe_update_channel_limit(chan);
            fe_update_mode_buttons(chan, 'l', sign);
            if (!quiet) {
                if (set)
                    text_emit(XP_TE_CHANNEL_SET_LIMIT, chan, setter, std::to_string(chan->user_limit).c_str(), nullptr,
                              nullptr, stamp);
                else
                    text_emit(XP_TE_CHANNEL_REMOVE_LIMIT, chan, setter, nullptr, nullptr, nullptr, stamp);
            }
            return;
        }
        default:
            break;
        }
        fe_update_mode_buttons(chan, letter, sign);
        generic(sign, letter, arg);
    }
};

} // namespace

bool is_channel(server *serv, const char *name)
{
    if (!serv || !name || !name[0])
        return false;
    const char *types = serv->chantypes ? serv->chantypes : DEFAULT_CHANTYPES;
    return strchr(types, name[0]) != nullptr;
}

unsigned int nick_access(server *serv, const char *name, int *prefix_len)
{
    const char *prefixes = or_empty(serv->nickprefixes);
    const char *extra = serv->bad_nick_prefixes;
    unsigned int access = 0;
    int len = 0;
    for (; name[len]; len++) {
        if (const char *at = strchr(prefixes, name[len])) {
            const long level = at - prefixes;
            if (level < MAX_NICK_LEVELS)
                access |= 1u << level;
            continue;
        }
        if (extra && strchr(extra, name[len]))
            continue;
        break;
    }
    if (prefix_len)
        *prefix_len = len;
    return access;
}

char get_nick_prefix(server *serv, unsigned int access)
{
    const char *prefixes = or_empty(serv->nickprefixes);
    for (int i = 0; prefixes[i] && i < MAX_NICK_LEVELS; i++) {
        if (access & (1u << i))
            return prefixes[i];
    }
    return 0;
}

int mode_access(server *serv, char mode, char *prefix)
{
    if (prefix)
        *prefix = 0;
    const char *modes = or_empty(serv->nickmodes);
    const char *at = mode ? strchr(modes, mode) : nullptr;
    if (!at)
        return -1;
    const long level = at - modes;
    if (level >= MAX_NICK_LEVELS || static_cast<std::size_t>(level) >= strlen(or_empty(serv->nickprefixes)))
        return -1;
    if (prefix)
        *prefix = serv->nickprefixes[level];
    return static_cast<int>(level);
}

int chanmode_group(server *serv, char mode)
{
    if (!mode || mode == ',')
        return -1;
    const char *groups = serv->chanmodes ? serv->chanmodes : DEFAULT_CHANMODES;
    int group = GROUP_LIST;
    for (const char *p = groups; *p; p++) {
        if (*p == ',')
            group++;
        else if (*p == mode)
            return group <= GROUP_NO_ARG ? group : -1;
    }
    return -1;
}

void inbound_005(server *serv, char *word[])
{
    for (int w = 4; w <= IRC_LINE_SPLIT_MAX; w++) {
        const char *token = word[w];
        if (!token || !token[0] || token[0] == ':')
            break;
        const bool negated = token[0] == '-';
        if (negated)
            token++;
        const char *eq = strchr(token, '=');
        const std::string name = eq ? std::string(token, static_cast<std::size_t>(eq - token)) : std::string(token);
        apply_isupport(serv, name, eq ? isupport_unescape(eq + 1) : std::string(), negated);
    }
}

void handle_mode(server *serv, char *word[], char *word_eol[], char *nick, int numeric_324,
                 const message_tags_data *tags)
{
    const int target_word = numeric_324 ? 4 : 3;
    const int modes_word = target_word + 1;
    const char *modes = word[modes_word];
    if (modes[0] == ':')
        modes++;
    if (!modes[0])
        return;

    mode_line line{};
    line.serv = serv;
    line.setter = or_empty(nick);
    line.target = word[target_word];
    line.stamp = stamp_of(tags);
    line.chan = is_channel(serv, line.target) ? find_channel(serv, line.target) : nullptr;
    line.display = line.chan ? line.chan : serv->recent_session;
    line.quiet = numeric_324 || prefs.irc_raw_modes;

    // Arguments: a word starting with ":" is the rest of the line.
    std::vector<std::string> args;
    for (int w = modes_word + 1; w <= IRC_LINE_SPLIT_MAX && word[w][0]; w++) {
        if (word[w][0] == ':') {
            std::string rest = word_eol[w] + 1;
            if (!rest.empty() && rest.back() == ' ')
                rest.pop_back();
            args.push_back(rest);
            break;
        }
        args.emplace_back(word[w]);
    }

    if (!numeric_324 && prefs.irc_raw_modes && line.display) {
        std::string raw = word_eol[target_word];
        if (!raw.empty() && raw.back() == ' ')
            raw.pop_back();
        text_emit(XP_TE_RAW_MODES, line.display, line.setter, raw.c_str(), nullptr, nullptr, line.stamp);
    }
    if (numeric_324 && line.chan) {
        std::string current = modes;
        for (const std::string &arg : args)
            current += ' ' + arg;
        replace_string(line.chan->mode_string, current.c_str());
    }

    // The first character is the sign; anything but + or - there leaves the
    // letters without a meaning we know, shown generically only.
    char sign = modes[0];
    std::size_t letters = 0;
    for (const char *p = modes + 1; *p; p++) {
        if (*p != '+' && *p != '-')
            letters++;
    }
    // Some servers send arguments for letters CHANMODES does not list: when
    // every letter has one, each takes its own.
    const bool one_each = letters == args.size();
    std::size_t next_arg = 0;

    for (const char *p = modes + 1; *p; p++) {
        // A plugin's print hook may close the tab an event went to.
        if ((line.chan && !is_session(line.chan)) || (line.display && !is_session(line.display)))
            return;
        if (*p == '+' || *p == '-') {
            sign = *p;
            line.grouped.flush(line.display, line.setter, line.stamp);
            continue;
        }
        const char letter = *p;
        const int group = chanmode_group(serv, letter);
        const bool nick_mode = mode_access(serv, letter, nullptr) >= 0;
        const bool takes_arg = one_each || nick_mode || group == GROUP_LIST || group == GROUP_ALWAYS_ARG ||
                               (group == GROUP_ARG_WHEN_SET && sign == '+');
        const char *arg = "";
        if (takes_arg && next_arg < args.size())
            arg = args[next_arg++].c_str();

        const bool signed_letter = sign == '+' || sign == '-';
        if (line.chan && signed_letter) {
            if (nick_mode) {
                userlist_update_mode(line.chan, arg, letter, sign);
            } else if (!numeric_324 && !line.chan->ignore_mode &&
                       (group == GROUP_ALWAYS_ARG || group == GROUP_ARG_WHEN_SET || group == GROUP_NO_ARG)) {
                update_held(line.chan, letter, sign, arg);
            }
            line.channel_letter(sign, letter, arg);
            continue;
        }
        if (letter == 'e' && sign == '+' && !line.chan && serv->p_cmp && serv->p_cmp(line.target, serv->nick) == 0)
            inbound_identified(serv);
        if (line.display)
            line.generic(sign, letter, takes_arg ? arg : "");
    }

    if ((line.chan && !is_session(line.chan)) || (line.display && !is_session(line.display)))
        return;
    if (line.chan)
        fe_set_title(line.chan);
    if (line.display)
        line.grouped.flush(line.display, line.setter, line.stamp);
}

void send_channel_modes(session *sess, char *word[], int first, int end, char sign, char mode, int modes_per_line)
{
    if (!sess || !word)
        return;
    server *serv = sess->server;
    int per_line = modes_per_line;
    if (per_line < 1)
        per_line = serv->maxmodes < 1 ? DEFAULT_MODES_PER_LINE : serv->maxmodes;
    const long room = MODE_LINE_ROOM - static_cast<long>(strlen(sess->channel));

    int next = first;
    while (next < end && word[next][0]) {
        int taken = 0;
        long used = 0;
        while (taken < per_line && next + taken < end && word[next + taken][0]) {
            const long nick_room = static_cast<long>(strlen(word[next + taken])) + 1;
            // One letter per nick plus the nicks with their spaces.
            if (taken + 1 + used + nick_room > room)
                break;
            used += nick_room;
            taken++;
        }
        if (taken == 0)
            return;
        std::string modes(1, sign);
        modes.append(static_cast<std::size_t>(taken), mode);
        for (int i = 0; i < taken; i++) {
            modes += ' ';
            modes += word[next + i];
        }
        serv->p_mode(serv, sess->channel, modes.c_str());
        next += taken;
    }
}
