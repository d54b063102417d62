// The line parser: every line a server sends comes here. Tags are taken
// off, the rest is split into words, offered to plugins and dispatched to
// the handler of its numeric or command.
//
// Everything in a line is chosen by the server, so nothing here trusts it:
// any word may be missing (missing words are empty strings, never null),
// any text may be cut short, and lines of any length are accepted.

#include "irc/proto-irc.h"
#include "output/log.h"

#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "irc/cap.h"
#include "irc/ctcp.h"
#include "irc/inbound.h"
#include "irc/modes.h"
#include "lists/ignore.h"
#include "lists/notify.h"
#include "net/server.h"
#include "net/tcp.h"
#include "output/text.h"
#include "output/url.h"
#include "plugins/plugin.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <glib.h>
#include <openssl/crypto.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace
{

// Unused word slots point here. Writable, because handlers get char *, but
// nothing ever writes past its terminator.
char empty_word[1] = "";

// ---- message tags ---------------------------------------------------------------

// Unescapes an IRCv3 tag value of `len` bytes into `out` (len + 1 bytes);
// returns the unescaped length.
std::size_t unescape_tag_value(const char *in, std::size_t len, char *out)
{
    std::size_t o = 0;
    for (std::size_t i = 0; i < len; i++) {
        if (in[i] != '\\') {
            out[o++] = in[i];
            continue;
        }
        if (++i == len)
            break; // a backslash that ends the value is dropped
        switch (in[i]) {
        case ':':
            out[o++] = ';';
            break;
        case 's':
            out[o++] = ' ';
            break;
        case 'r':
            out[o++] = '\r';
            break;
        case 'n':
            out[o++] = '\n';
            break;
        default: // "\\" and any other character stand for that character
            out[o++] = in[i];
            break;
        }
    }
    out[o] = 0;
    return o;
}

// The unescaped value of one tag as a new string, or null when it is not
// UTF-8 (such a value is dropped as if the tag had not come).
char *tag_value_dup(const char *value, std::size_t len)
{
    auto *out = static_cast<char *>(g_malloc(len + 1));
    const std::size_t n = unescape_tag_value(value, len, out);
    if (!g_utf8_validate(out, static_cast<gssize>(n), nullptr)) {
        g_free(out);
        return nullptr;
    }
    return out;
}

// Walks the tags of a section: for each non-empty tag, its key and raw value
// (value_len 0 and value null when there is no "=").
template <typename Fn> void walk_tags(const char *section, Fn &&fn)
{
    const char *p = section;
    while (*p) {
        const char *end = strchr(p, ';');
        const std::size_t len = end ? static_cast<std::size_t>(end - p) : strlen(p);
        if (len) {
            const char *eq = static_cast<const char *>(memchr(p, '=', len));
            const std::size_t key_len = eq ? static_cast<std::size_t>(eq - p) : len;
            const char *value = eq ? eq + 1 : nullptr;
            const std::size_t value_len = eq ? len - key_len - 1 : 0;
            if (key_len)
                fn(p, key_len, value, value_len);
        }
        if (!end)
            break;
        p = end + 1;
    }
}

bool key_is(const char *key, std::size_t key_len, const char *name)
{
    return strlen(name) == key_len && memcmp(key, name, key_len) == 0;
}

void replace_text(char **slot, char *value)
{
    g_free(*slot);
    *slot = value;
}

// ---- time tag -------------------------------------------------------------------

// Reads up to nine digits (more could overflow); false when there are none
// or too many.
bool read_field(const char *&p, std::int64_t &out)
{
    std::int64_t v = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++digits > 9)
            return false;
        v = v * 10 + (*p++ - '0');
    }
    out = v;
    return digits > 0;
}

// Days from 1970-01-01 to a proleptic Gregorian date (month 1-12).
std::int64_t days_from_civil(std::int64_t y, std::int64_t m, std::int64_t d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// ---- word arrays ----------------------------------------------------------------

void clear_words(char *word[], char *word_eol[])
{
    for (int i = 0; i < IRC_LINE_WORDS; i++)
        word[i] = word_eol[i] = empty_word;
}

// Word arrays split again with double quotes honoured, for DCC requests
// whose file names may hold spaces. The words own their text.
struct quoted_words {
    std::string words[IRC_LINE_WORDS];
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];

    explicit quoted_words(char *line)
    {
        clear_words(word, word_eol);
        char *p = line;
        while (*p == ' ')
            p++;
        for (int n = 1; n <= IRC_LINE_SPLIT_MAX && *p; n++) {
            word_eol[n] = p;
            std::string &w = words[n];
            bool quoted = false;
            while (*p && (quoted || *p != ' ')) {
                if (*p == '"') {
                    if (p[1] == '"') {
                        w += '"';
                        p += 2;
                        continue;
                    }
                    quoted = !quoted;
                    p++;
                    continue;
                }
                w += *p++;
            }
            word[n] = w.data();
            while (*p == ' ')
                p++;
        }
    }
};

// ---- small helpers ----------------------------------------------------------------

// A trailing parameter without its ":".
char *rest(char *s)
{
    return s[0] == ':' ? s + 1 : s;
}
// A text without its first character, whatever that is.
char *skip1(char *s)
{
    return s[0] ? s + 1 : s;
}

time_t stamp_of(const message_tags_data *tags)
{
    return tags->timestamp;
}

time_t number_time(const char *s)
{
    const long long v = strtoll(s, nullptr, 10);
    return static_cast<time_t>(v);
}

// ctime text of `t` cut to `len` characters; "" when the C library cannot
// express that time (a hostile value).
// The time as ctime would show it, cut to `len`; a time the calendar cannot
// express comes back as its number.
std::string local_time_text(time_t t, std::size_t len)
{
    std::string out = log_time_text(t);
    if (out.size() > len && out.find(' ') != std::string::npos)
        out.resize(len);
    return out;
}

// Copies `len` bytes of `src` into `dst` (`size` bytes) without cutting a
// UTF-8 character; always terminated.
void copy_part(char *dst, std::size_t size, const char *src, std::size_t len)
{
    if (len >= size)
        len = utf8_prefix(src, len, size - 1);
    memcpy(dst, src, len);
    dst[len] = 0;
}

bool is_own_nick(server *serv, const char *nick)
{
    return serv->p_cmp(nick, serv->nick) == 0;
}

session *whois_tab(server *serv)
{
    session *sess = prefs.irc_whois_front ? serv->recent_session : serv->home_session;
    return sess ? sess : front_tab(serv);
}

// Everything the dispatch of one line needs.
struct line_context {
    server *serv;
    session *sess; // the target session
    char **word;
    char **word_eol;
    message_tags_data *tags;
    char *text; // numerics: word_eol[4] without its ":"
};

void emit(int event, session *sess, const char *a, const char *b, const char *c, const char *d, const line_context &ctx)
{
    text_emit(event, sess, a, b, c, d, stamp_of(ctx.tags));
}

// ---- standard replies -------------------------------------------------------------

void standard_reply(const line_context &ctx, int kind, const char *command, const char *code, const char *description)
{
    static const int plain[] = {XP_TE_FAIL, XP_TE_WARN, XP_TE_NOTE};
    static const int with_command[] = {XP_TE_FAIL_COMMAND, XP_TE_WARN_COMMAND, XP_TE_NOTE_COMMAND};
    if (!strcmp(command, "*"))
        emit(plain[kind], ctx.sess, code, description, nullptr, nullptr, ctx);
    else
        emit(with_command[kind], ctx.sess, command, code, description, nullptr, ctx);
}

// 0 FAIL, 1 WARN, 2 NOTE, -1 none of them.
int standard_reply_kind(const char *type)
{
    if (!strcmp(type, "FAIL"))
        return 0;
    if (!strcmp(type, "WARN"))
        return 1;
    if (!strcmp(type, "NOTE"))
        return 2;
    return -1;
}

void standard_reply_prefixed(const line_context &ctx, int kind)
{
    // Context parameters may sit between the code and the description, so
    // the description is the first trailing parameter.
    char *description = ctx.word_eol[IRC_LINE_WORDS - 1];
    for (int i = 3; i <= IRC_LINE_SPLIT_MAX; i++) {
        if (ctx.word[i][0] == ':') {
            description = ctx.word_eol[i] + 1;
            break;
        }
    }
    standard_reply(ctx, kind, ctx.word[3], ctx.word[4], description);
}

// ---- lines without a prefix -------------------------------------------------------

void process_server_message(const line_context &ctx, char *line)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;

    if (!strncmp(line, "PING ", 5)) {
        tcp_sendf(serv, "PONG %s\r\n", line + 5);
        return;
    }
    if (!strncmp(line, "ERROR", 5)) {
        // The reason follows "ERROR :".
        emit(XP_TE_SERVER_ERROR, server_tab(serv), strlen(line) >= 7 ? line + 7 : "", nullptr, nullptr, nullptr, ctx);
        return;
    }
    if (!strncmp(line, "NOTICE ", 7)) {
        emit(XP_TE_SERVER_NOTICE, server_tab(serv), rest(word_eol[3]), serv->announced_name, nullptr, nullptr, ctx);
        return;
    }
    if (!strncmp(line, "AUTHENTICATE", 12)) {
        inbound_sasl_authenticate(serv, word[2]);
        return;
    }
    if (line[0] && line[1] && line[2] && line[3] && line[4] == ' ') {
        char type[5];
        memcpy(type, line, 4);
        type[4] = 0;
        const int kind = standard_reply_kind(type);
        if (kind >= 0) {
            standard_reply(ctx, kind, word[2], word[3], rest(word_eol[4]));
            return;
        }
    }
    emit(XP_TE_SERVER_TEXT, server_tab(serv), line, serv->announced_name, nullptr, nullptr, ctx);
}

// ---- numerics ------------------------------------------------------------------------

// Unknown numerics and the fall-back of known ones: in the channel or dialog
// the reply names, else in the server tab.
void numeric_generic(const line_context &ctx)
{
    server *serv = ctx.serv;
    char *target = ctx.word[4];
    session *sess = nullptr;
    if (is_channel(serv, target))
        sess = find_channel(serv, target);
    if (!sess && target[0])
        sess = find_dialog(serv, target);
    if (!sess)
        sess = server_tab(serv);
    emit(XP_TE_SERVER_TEXT, sess, ctx.text, ctx.word[1], ctx.word[2], nullptr, ctx);
}

void server_text_in(session *sess, const line_context &ctx)
{
    emit(XP_TE_SERVER_TEXT, sess, ctx.text, ctx.word[1], ctx.word[2], nullptr, ctx);
}

// 001: some networks put the user's own address in the welcome text, which
// saves asking for it.
void numeric_welcome(const line_context &ctx)
{
    char **word = ctx.word;
    inbound_login_start(ctx.sess, word[3], word[1], ctx.tags);
    if (!strncmp(word[7], "PTnet", 5) && !strncmp(word[8], "IRC", 3) && !strncmp(word[9], "Network", 7)) {
        if (char *at = strrchr(word[10], '@')) {
            ctx.serv->userhost_lookup = FALSE;
            if (prefs.dcc_ip_from_server)
                inbound_foundip(ctx.sess, at + 1, ctx.tags);
        }
    }
    numeric_generic(ctx);
}

// 302, the answer to the USERHOST for the own address.
bool numeric_userhost(const line_context &ctx)
{
    server *serv = ctx.serv;
    if (!serv->userhost_pending)
        return false;
    serv->userhost_pending = FALSE;
    char *reply = ctx.word[4];
    char *eq = strchr(reply, '=');
    if (!eq)
        return true;
    *eq = 0;
    char *nick = skip1(reply);
    // An IRC operator's nick is marked with a "*" before the "=".
    const std::size_t len = strlen(nick);
    if (len && nick[len - 1] == '*')
        nick[len - 1] = 0;
    if (is_own_nick(serv, nick)) {
        if (char *at = strrchr(eq + 1, '@'))
            inbound_foundip(ctx.sess, at + 1, ctx.tags);
    }
    return true;
}

void numeric_idle(const line_context &ctx)
{
    char **word = ctx.word;
    const long idle = strtol(word[5], nullptr, 10);
    char idle_text[96];
    g_snprintf(idle_text, sizeof idle_text, "%02ld:%02ld:%02ld", idle / 3600, (idle / 60) % 60, idle % 60);
    const time_t signon = number_time(word[6]);
    if (signon)
        emit(XP_TE_WHOIS_IDLE_LINE_WITH_SIGNON, whois_tab(ctx.serv), word[4], idle_text,
             local_time_text(signon, 19).c_str(), nullptr, ctx);
    else
        emit(XP_TE_WHOIS_IDLE_LINE, whois_tab(ctx.serv), word[4], idle_text, nullptr, nullptr, ctx);
}

// 352 and 354: WHO replies, hidden while the client asked for itself.
void who_reply_display(const line_context &ctx, const char *channel)
{
    session *chan = find_channel(ctx.serv, channel);
    if (chan && chan->who_pending)
        return;
    server_text_in(server_tab(ctx.serv), ctx);
}

void sasl_finished(const line_context &ctx)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    emit(XP_TE_SASL_RESPONSE, server_tab(serv), word[1], word[2], word[3], skip1(ctx.word_eol[4]), ctx);
    serv->sasl_active = FALSE;
    if (!serv->cap_ended) {
        serv->cap_ended = TRUE;
        tcp_sendf(serv, "CAP END\r\n");
    }
}

// Registration: the welcome, the server features, the message of the day and
// the nicks refused while logging in.
bool numeric_login(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    session *sess = ctx.sess;
    char **word = ctx.word;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 1:
        numeric_welcome(ctx);
        return true;
    case 5:
        inbound_005(serv, word);
        return false;
    case 372:
    case 375:
        if (!(prefs.irc_skip_motd && !serv->motd_skipped_once))
            emit(XP_TE_MOTD, server_tab(serv), ctx.text, nullptr, nullptr, nullptr, ctx);
        return true;
    case 376:
    case 422:
        inbound_login_end(sess, ctx.text, tags);
        return true;
    case 432:
    case 433:
    case 437:
        // Once logged in a rejected nick is only reported; during login the
        // next nick is tried. 437 also means a channel is temporarily
        // unavailable, which is never about the nick.
        if (serv->motd_done || (n == 437 && is_channel(serv, word[4])))
            return false;
        inbound_next_nick(sess, word[4], n == 432, tags);
        return true;
    }
    return false;
}

// WHOIS replies.
bool numeric_whois(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    session *sess = ctx.sess;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 301:
        inbound_away(serv, word[4], rest(word_eol[5]), tags);
        return true;
    case 307:
    case 320:
        if (!serv->whois_quiet)
            emit(XP_TE_WHOIS_IDENTIFIED, whois_tab(serv), word[4], rest(word_eol[5]), nullptr, nullptr, ctx);
        return true;
    case 311:
        serv->in_whois = TRUE;
        inbound_user_info_start(sess, word[4], tags);
        if (serv->whois_quiet)
            inbound_user_info(sess, nullptr, word[5], word[6], nullptr, word[4], rest(word_eol[8]), nullptr,
                              USER_AWAY_UNKNOWN, tags);
        else
            emit(XP_TE_WHOIS_NAME_LINE, whois_tab(serv), word[4], word[5], word[6], rest(word_eol[8]), ctx);
        return true;
    case 312:
        if (serv->whois_quiet)
            inbound_user_info(sess, nullptr, nullptr, nullptr, word[5], word[4], nullptr, nullptr, USER_AWAY_UNKNOWN,
                              tags);
        else
            emit(XP_TE_WHOIS_SERVER_LINE, whois_tab(serv), word[4], word_eol[5], nullptr, nullptr, ctx);
        return true;
    case 313:
    case 319:
        if (!serv->whois_quiet)
            emit(XP_TE_WHOIS_CHANNEL_OPER_LINE, whois_tab(serv), word[4], rest(word_eol[5]), nullptr, nullptr, ctx);
        return true;
    case 314:
        inbound_user_info_start(sess, word[4], tags);
        emit(XP_TE_WHOIS_NAME_LINE, whois_tab(serv), word[4], word[5], word[6], skip1(word_eol[8]), ctx);
        return true;
    case 317:
        if (!serv->whois_quiet)
            numeric_idle(ctx);
        return true;
    case 318:
        if (!serv->whois_quiet)
            emit(XP_TE_WHOIS_END, whois_tab(serv), word[4], nullptr, nullptr, nullptr, ctx);
        serv->whois_quiet = FALSE;
        serv->in_whois = FALSE;
        return true;
    case 330:
        if (!serv->whois_quiet)
            emit(XP_TE_WHOIS_AUTHENTICATED, whois_tab(serv), word[4], skip1(word_eol[6]), word[5], nullptr, ctx);
        inbound_user_info(sess, nullptr, nullptr, nullptr, nullptr, word[4], nullptr, word[5], USER_AWAY_UNKNOWN, tags);
        return true;
    case 369:
    case 406:
        server_text_in(whois_tab(serv), ctx);
        serv->in_whois = FALSE;
        return true;
    }
    return false;
}

// WHO replies and their end.
bool numeric_who(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    session *sess = ctx.sess;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 315:
        if (session *chan = find_channel(serv, word[4])) {
            if (!chan->who_pending)
                server_text_in(server_tab(serv), ctx);
            chan->who_pending = FALSE;
        } else {
            if (!serv->who_quiet)
                server_text_in(server_tab(serv), ctx);
            serv->who_quiet = FALSE;
        }
        return true;
    case 352:
        inbound_user_info(sess, word[4], word[5], word[6], word[7], word[8], word_eol[11], nullptr, word[9][0] == 'G',
                          tags);
        who_reply_display(ctx, word[4]);
        return true;
    case 354:
        // Only replies to this client's own WHOX query carry its token.
        if (strcmp(word[4], "152") != 0)
            return false;
        inbound_user_info(sess, word[5], word[6], word[7], word[8], word[9], skip1(word_eol[12]), word[11],
                          word[10][0] == 'G', tags);
        who_reply_display(ctx, word[5]);
        return true;
    }
    return false;
}

// A channel's modes, URL, creation time, topic and names, invitations, and
// the reasons a join was refused.
bool numeric_channel(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    session *sess = ctx.sess;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 324: {
        session *chan = find_channel(serv, word[4]);
        session *target = chan ? chan : server_tab(serv);
        if (!target)
            return true;
        if (target->ignore_mode)
            target->ignore_mode = FALSE;
        else
            emit(XP_TE_CHANNEL_MODES, target, word[4], rest(word_eol[5]), nullptr, nullptr, ctx);
        for (char mode : {'c', 't', 'n', 'i', 'm', 'l', 'k'})
            fe_update_mode_buttons(target, mode, '-');
        char setter[] = "";
        handle_mode(serv, word, word_eol, setter, 1, tags);
        return true;
    }
    case 328:
        if (session *chan = find_channel(serv, word[4]))
            emit(XP_TE_CHANNEL_URL, chan, word[4], rest(word_eol[5]), nullptr, nullptr, ctx);
        return true;
    case 329:
        if (session *chan = find_channel(serv, word[4])) {
            if (chan->ignore_date)
                chan->ignore_date = FALSE;
            else
                emit(XP_TE_CHANNEL_CREATION, chan, word[4], local_time_text(number_time(word[5]), 24).c_str(), nullptr,
                     nullptr, ctx);
        }
        return true;
    case 332:
        inbound_topic(serv, word[4], rest(word_eol[5]), tags);
        return true;
    case 333:
        inbound_topictime(serv, word[4], word[5], number_time(word[6][0] == ':' ? word_eol[6] + 1 : word[6]), tags);
        return true;
    case 341:
        emit(XP_TE_YOUR_INVITATION, sess, word[4], word[5][0] == ':' ? word_eol[5] + 1 : word[5], serv->announced_name,
             nullptr, ctx);
        return true;
    case 353:
        inbound_nameslist(serv, word[5], rest(word_eol[6]), tags);
        return true;
    case 366:
        if (!inbound_nameslist_end(serv, word[4], tags))
            return false;
        return true;
    case 471:
        emit(XP_TE_USER_LIMIT, sess, word[4], nullptr, nullptr, nullptr, ctx);
        return true;
    case 473:
        emit(XP_TE_INVITE, sess, word[4], nullptr, nullptr, nullptr, ctx);
        return true;
    case 474:
        emit(XP_TE_BANNED, sess, word[4], nullptr, nullptr, nullptr, ctx);
        return true;
    case 475:
        emit(XP_TE_KEYWORD, sess, word[4], nullptr, nullptr, nullptr, ctx);
        return true;
    }
    return false;
}

// The channel list and the ban, exception, invite and quiet lists.
bool numeric_lists(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    session *sess = ctx.sess;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 263:
        if (fe_is_chanwindow(serv)) {
            fe_chan_list_end(serv);
            fe_message(ctx.text, FE_MSG_ERROR);
        }
        return false;
    case 321:
        if (!fe_is_chanwindow(serv))
            emit(XP_TE_CHANNEL_LIST, server_tab(serv), nullptr, nullptr, nullptr, nullptr, ctx);
        return true;
    case 322:
        if (fe_is_chanwindow(serv)) {
            fe_add_chan_list(serv, word[4], word[5], skip1(word_eol[6]));
        } else if (session *tab = server_tab(serv)) {
            PrintTextTimeStampf(tab, stamp_of(tags), "%-16s %-7d %s\x0f\n", word[4], atoi(word[5]), rest(word_eol[6]));
        }
        return true;
    case 323:
        if (fe_is_chanwindow(serv))
            fe_chan_list_end(serv);
        else
            server_text_in(server_tab(serv), ctx);
        return true;
    case 346:
    case 348:
    case 367:
        if (!inbound_banlist(sess, number_time(word[7]), word[4], word[5], word[6], n, tags))
            return false;
        return true;
    case 347:
        if (!sess || !fe_ban_list_end(sess, n))
            return false;
        return true;
    case 349:
    case 368: {
        session *chan = find_channel(serv, word[4]);
        if (!chan || !fe_ban_list_end(chan, n))
            return false;
        return true;
    }
    case 728:
        if (!inbound_banlist(sess, number_time(word[8]), word[4], word[6], word[7], n, tags))
            return false;
        return true;
    case 729:
        if (!sess || !fe_ban_list_end(sess, n))
            return false;
        return true;
    }
    return false;
}

// Away state and USERHOST/ISON answers.
bool numeric_away(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 302:
        if (numeric_userhost(ctx) || inbound_userhost_dns(ctx.sess, ctx.word_eol[4], ctx.tags))
            return true;
        return false;
    case 303:
        notify_markonline(serv, rest(ctx.word_eol[4]), tags);
        return true;
    case 305:
        inbound_uback(serv, tags);
        return false;
    case 306:
        inbound_uaway(serv, tags);
        return false;
    }
    return false;
}

// MONITOR and WATCH answers for the notify list.
bool numeric_notify(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    message_tags_data *tags = ctx.tags;

    switch (n) {
    case 600:
    case 604:
        notify_set_online(serv, word[4], tags);
        return true;
    case 601:
        notify_set_offline(serv, word[4], FALSE, tags);
        return true;
    case 605:
        notify_set_offline(serv, word[4], TRUE, tags);
        return true;
    case 730:
        notify_set_online_list(serv, rest(word[4]), tags);
        return true;
    case 731:
        notify_set_offline_list(serv, rest(word[4]), FALSE, tags);
        return true;
    case 734:
        notify_monitor_full(serv, word[5]);
        return true;
    }
    return false;
}

// Server texts shown as they are.
bool numeric_text(const line_context &ctx, int n)
{
    server *serv = ctx.serv;
    session *sess = ctx.sess;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;

    switch (n) {
    case 524:
    case 704:
    case 705:
    case 706:
        emit(XP_TE_SERVER_TEXT, sess, word[5][0] == ':' ? word_eol[5] + 1 : word[5], nullptr, nullptr, nullptr, ctx);
        return true;
    case 900:
        emit(XP_TE_SERVER_TEXT, server_tab(serv), skip1(word_eol[6]), word[1], nullptr, nullptr, ctx);
        return true;
    }
    return false;
}

// The end of a SASL exchange.
bool numeric_sasl(const line_context &ctx, int n)
{
    server *serv = ctx.serv;

    switch (n) {
    case 904:
        inbound_sasl_error(serv);
        sasl_finished(ctx);
        return true;
    case 903:
    case 905:
    case 906:
    case 907:
        sasl_finished(ctx);
        return true;
    case 908:
        return true;
    }
    return false;
}

// A numeric outside the table: during a WHOIS it is one more line of it.
bool numeric_whois_special(const line_context &ctx)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    if (!serv->in_whois || !word[4][0])
        return false;
    if (!serv->whois_quiet)
        emit(XP_TE_WHOIS_SPECIAL, whois_tab(serv), word[4], rest(ctx.word_eol[5]), nullptr, nullptr, ctx);
    return true;
}

// A family's handler: true when it dealt with the line, false when the line
// is shown as a plain server text.
using numeric_handler = bool (*)(const line_context &ctx, int n);

// Numerics are three digits: the table is indexed by the number itself.
constexpr int NUMERIC_COUNT = 1000;

constexpr std::array<numeric_handler, NUMERIC_COUNT> numeric_table = [] {
    std::array<numeric_handler, NUMERIC_COUNT> table{};
    for (int n : {1, 5, 372, 375, 376, 422, 432, 433, 437})
        table[n] = numeric_login;
    for (int n : {301, 307, 320, 311, 312, 313, 319, 314, 317, 318, 330, 369, 406})
        table[n] = numeric_whois;
    for (int n : {315, 352, 354})
        table[n] = numeric_who;
    for (int n : {324, 328, 329, 332, 333, 341, 353, 366, 471, 473, 474, 475})
        table[n] = numeric_channel;
    for (int n : {263, 321, 322, 323, 346, 348, 367, 347, 349, 368, 728, 729})
        table[n] = numeric_lists;
    for (int n : {302, 303, 305, 306})
        table[n] = numeric_away;
    for (int n : {600, 604, 601, 605, 730, 731, 734})
        table[n] = numeric_notify;
    for (int n : {524, 704, 705, 706, 900})
        table[n] = numeric_text;
    for (int n : {903, 904, 905, 906, 907, 908})
        table[n] = numeric_sasl;
    return table;
}();

void process_numeric(const line_context &ctx, int n)
{
    const numeric_handler handler = n >= 0 && n < NUMERIC_COUNT ? numeric_table[n] : nullptr;
    if (handler ? handler(ctx, n) : numeric_whois_special(ctx))
        return;
    numeric_generic(ctx);
}

// ---- named messages ------------------------------------------------------------

// The four-byte key a command is recognised by.
constexpr std::uint32_t key4(const char *s)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}

// The challenge login: the service's CHALLENGE notice is answered, not shown.
bool challenge_login(const line_context &ctx, const char *text)
{
    server *serv = ctx.serv;
    if (serv->login_method != LOGIN_METHOD_CHALLENGE || !serv->password[0])
        return false;
    if (serv->p_cmp(ctx.word[1], CHALLENGE_SERVICE_PREFIX) != 0 || strncmp(text, "CHALLENGE ", 10) != 0)
        return false;
    const char *user = serv->network ? servlist_network_username(serv->network) : nullptr;
    if (!user || !user[0])
        user = prefs.irc_user_name;
    char *response = challengeauth_response(user, serv->password, ctx.word[5]);
    if (response) {
        tcp_sendf(serv, "PRIVMSG %s :CHALLENGEAUTH %s %s %s\r\n", CHALLENGE_SERVICE_ADDRESS, user, response,
                  "HMAC-SHA-256");
        OPENSSL_cleanse(response, strlen(response));
        g_free(response);
    }
    return true;
}

void process_privmsg(const line_context &ctx, char *nick, char *ip)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    char *to = word[3];
    if (!to[0])
        return;
    // "@#chan": a message to the operators of a channel.
    if (!is_channel(serv, to) && serv->nickprefixes && strchr(serv->nickprefixes, to[0]))
        to++;
    char *text = rest(ctx.word_eol[4]);
    const int id = ctx.tags->identified;

    if (text[0] == '\001') {
        const std::size_t len = strlen(text);
        if (len > 1 && text[len - 1] == '\001')
            text[len - 1] = 0;
        char *ctcp = text + 1;
        if (g_ascii_strncasecmp(ctcp, "ACTION", 6) != 0 && !flood_check(nick, ip, serv, ctx.sess, FLOOD_CTCP))
            return;
        if (!g_ascii_strncasecmp(ctcp, "DCC ", 4)) {
            auto quoted = std::make_unique<quoted_words>(ctx.word_eol[1]);
            ctcp_handle(ctx.sess, to, nick, ip, ctcp, quoted->word, quoted->word_eol, id, ctx.tags);
            return;
        }
        ctcp_handle(ctx.sess, to, nick, ip, ctcp, word, ctx.word_eol, id, ctx.tags);
        return;
    }

    if (is_channel(serv, to)) {
        if (!ignore_check(word[1], IG_CHAN))
            inbound_chanmsg(serv, nullptr, to, nick, text, FALSE, id, ctx.tags);
        return;
    }
    if (ignore_check(word[1], IG_PRIV))
        return;
    if (!is_own_nick(serv, nick)) {
        inbound_privmsg(serv, nick, ip, text, id, ctx.tags);
        return;
    }
    // The echo of the user's own message to someone.
    session *sess = find_dialog(serv, to);
    if (!sess)
        sess = find_channel(serv, to);
    if (sess)
        inbound_chanmsg(serv, sess, to, nick, text, TRUE, id, ctx.tags);
    else
        emit(XP_TE_MESSAGE_SEND, serv->recent_session, to, nickserv_mask(to, text), nullptr, nullptr, ctx);
}

void process_tagmsg(const line_context &ctx, char *nick)
{
    server *serv = ctx.serv;
    const char *state = ctx.tags->typing;
    if (!state)
        return;
    session *sess = find_channel(serv, ctx.word[3]);
    if (!sess && is_own_nick(serv, ctx.word[3]))
        sess = find_dialog(serv, nick);
    if (!sess)
        sess = ctx.sess;
    if (!sess || is_own_nick(serv, nick))
        return;
    if (!strcmp(state, "done") || !strcmp(state, "paused") || !strcmp(state, "active"))
        fe_set_typing(sess, nick, state);
}

void process_cap(const line_context &ctx)
{
    server *serv = ctx.serv;
    char *sub = ctx.word[4];
    char *caps = rest(ctx.word_eol[5]);
    char *sender = ctx.word[1];
    if (!g_ascii_strncasecmp(sub, "ACK", 3))
        inbound_cap_ack(serv, sender, caps);
    else if (!g_ascii_strncasecmp(sub, "LS", 2))
        inbound_cap_ls(serv, sender, caps);
    else if (!g_ascii_strncasecmp(sub, "NEW", 3))
        inbound_cap_new(serv, sender, caps);
    else if (!g_ascii_strncasecmp(sub, "NAK", 3))
        inbound_cap_nak(serv, sender, caps);
    else if (!g_ascii_strncasecmp(sub, "LIST", 4))
        inbound_cap_list(serv, sender, caps);
    else if (!g_ascii_strncasecmp(sub, "DEL", 3))
        inbound_cap_del(serv, sender, caps);
}

// Commands of four letters, matched exactly.
bool process_short_command(const line_context &ctx, std::uint32_t key, char *nick, char *ip)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;
    message_tags_data *tags = ctx.tags;

    switch (key) {
    case key4("MODE"):
        handle_mode(serv, word, word_eol, nick, 0, tags);
        return true;
    case key4("FAIL"):
        standard_reply_prefixed(ctx, 0);
        return true;
    case key4("WARN"):
        standard_reply_prefixed(ctx, 1);
        return true;
    case key4("NOTE"):
        standard_reply_prefixed(ctx, 2);
        return true;
    case key4("PING"):
        tcp_sendf(serv, "PONG %s\r\n", word_eol[3]);
        return true;
    case key4("PONG"):
        inbound_ping_reply(server_tab(serv), rest(word[4]), word[3], tags);
        return true;
    case key4("KICK"):
        if (word[4][0]) {
            char *reason = rest(word_eol[5]);
            // The server's case mapping, as for JOIN: "Me" kicked as "me" is
            // still the user.
            if (is_own_nick(serv, word[4]))
                inbound_ukick(serv, word[3], nick, reason, tags);
            else
                inbound_kick(serv, word[3], word[4], nick, reason, tags);
        }
        return true;
    case key4("NICK"):
        inbound_newnick(serv, nick, rest(word_eol[3]), FALSE, tags);
        return true;
    case key4("KILL"):
        emit(XP_TE_KILLED, ctx.sess, nick, rest(word_eol[4]), nullptr, nullptr, ctx);
        return true;
    case key4("JOIN"): {
        char *chan = rest(word[3]);
        char *account = word[4][0] && strcmp(word[4], "*") != 0 ? word[4] : nullptr;
        char *realname = rest(word_eol[5]);
        if (is_own_nick(serv, nick))
            inbound_ujoin(serv, chan, nick, ip, tags);
        else
            inbound_join(serv, chan, nick, ip, account, realname[0] ? realname : nullptr, tags);
        return true;
    }
    case key4("QUIT"):
        inbound_quit(serv, nick, ip, rest(word_eol[3]), tags);
        return true;
    case key4("PART"): {
        char *chan = rest(word[3]);
        char *reason = rest(word_eol[4]);
        if (is_own_nick(serv, nick))
            inbound_upart(serv, chan, ip, reason, tags);
        else
            inbound_part(serv, chan, nick, ip, reason, tags);
        return true;
    }
    case key4("AWAY"): {
        // Any text after the command means away, with or without the ":"
        // some servers leave out; nothing at all means back.
        char *reason = word_eol[3][0] ? rest(word_eol[3]) : nullptr;
        inbound_away_notify(serv, nick, reason, tags);
        return true;
    }
    default:
        return false;
    }
}

// Longer commands, recognised by their first four letters.
bool process_long_command(const line_context &ctx, std::uint32_t key, char *nick, char *ip)
{
    server *serv = ctx.serv;
    char **word = ctx.word;
    char **word_eol = ctx.word_eol;
    message_tags_data *tags = ctx.tags;

    switch (key) {
    case key4("ACCO"):
        inbound_account(serv, nick, word[3][0] == ':' ? word_eol[3] + 1 : word[3]);
        return true;
    case key4("AUTH"):
        inbound_sasl_authenticate(serv, word_eol[3]);
        return true;
    case key4("CHGH"):
        inbound_user_info(ctx.sess, nullptr, word[3], word[4][0] == ':' ? word_eol[4] + 1 : word[4], nullptr, nick,
                          nullptr, nullptr, USER_AWAY_UNKNOWN, tags);
        return true;
    case key4("INVI"): {
        if (ignore_check(word[1], IG_INVI))
            return true;
        char *chan = word[4][0] == ':' ? word_eol[4] + 1 : word[4];
        if (is_own_nick(serv, word[3]))
            emit(XP_TE_INVITED, ctx.sess, chan, nick, serv->announced_name, nullptr, ctx);
        else
            emit(XP_TE_INVITED_OTHER, ctx.sess, chan, nick, word[3], serv->announced_name, ctx);
        return true;
    }
    case key4("NOTI"): {
        char *text = rest(word_eol[4]);
        if (challenge_login(ctx, text))
            return true;
        if (!ignore_check(word[1], IG_NOTI))
            inbound_notice(serv, word[3], nick, text, ip, tags->identified, tags);
        return true;
    }
    case key4("PRIV"):
        process_privmsg(ctx, nick, ip);
        return true;
    case key4("SETN"):
        inbound_user_info(ctx.sess, nullptr, nullptr, nullptr, nullptr, nick, rest(word_eol[3]), nullptr,
                          USER_AWAY_UNKNOWN, tags);
        return true;
    case key4("TAGM"):
        process_tagmsg(ctx, nick);
        return true;
    case key4("TOPI"):
        inbound_topicnew(serv, nick, word[3], rest(word_eol[4]), tags);
        return true;
    case key4("WALL"):
        emit(XP_TE_RECEIVE_WALLOPS, ctx.sess, nick, rest(word_eol[3]), nullptr, nullptr, ctx);
        return true;
    default:
        return false;
    }
}

void process_named_message(const line_context &ctx)
{
    server *serv = ctx.serv;
    char **word = ctx.word;

    char nick[NICKLEN];
    char ip[SERVNAMELEN];
    const char *prefix = word[1];
    if (const char *ex = strchr(prefix, '!')) {
        copy_part(nick, sizeof nick, prefix, static_cast<std::size_t>(ex - prefix));
        copy_part(ip, sizeof ip, ex + 1, strlen(ex + 1));
    } else {
        copy_part(nick, sizeof nick, prefix, strlen(prefix));
        copy_part(ip, sizeof ip, prefix, strlen(prefix));
    }

    if (serv->cap_account_tag)
        inbound_account(serv, nick, ctx.tags->account ? ctx.tags->account : "*");

    const char *type = word[2];
    const std::size_t len = strlen(type);
    if (len == 4 && process_short_command(ctx, key4(type), nick, ip))
        return;
    if (len > 4 && process_long_command(ctx, key4(type), nick, ip))
        return;
    if (len == 3 && !strcmp(type, "CAP")) {
        process_cap(ctx);
        return;
    }
    if (ctx.sess)
        PrintTextTimeStampf(ctx.sess, stamp_of(ctx.tags), _("GARBAGE: %s\n"), ctx.word_eol[1]);
}

bool is_numeric(const char *type)
{
    return type[0] >= '0' && type[0] <= '9';
}

// Dispatches one line (tags already taken off) in `work` buffers of the caller.
void dispatch_line(server *serv, char *line, char *work, message_tags_data *tags)
{
    char *word[IRC_LINE_WORDS];
    char *word_eol[IRC_LINE_WORDS];
    split_server_line(line, work, word, word_eol);

    line_context ctx{serv, front_tab(serv), word, word_eol, tags, nullptr};

    if (line[0] != ':') {
        word[0] = word[1];
        if (plugin_emit_server(ctx.sess, word[1], word, word_eol, tags->timestamp))
            return;
        process_server_message(ctx, line);
        return;
    }

    if (is_channel(serv, word[3])) {
        if (session *chan = find_channel(serv, word[3]))
            ctx.sess = chan;
    }
    word[0] = word[2];
    if (plugin_emit_server(ctx.sess, word[2], word, word_eol, tags->timestamp))
        return;
    word[1]++;
    word_eol[1]++;

    if (is_numeric(word[2])) {
        ctx.text = rest(word_eol[4]);
        process_numeric(ctx, atoi(word[2]));
    } else {
        process_named_message(ctx);
    }
}

} // namespace

// ---- public entry points --------------------------------------------------------------

void message_tags_data_free(message_tags_data *tags)
{
    if (!tags)
        return;
    g_free(tags->account);
    g_free(tags->msgid);
    g_free(tags->reply);
    g_free(tags->typing);
    *tags = message_tags_data();
}

void message_tags_foreach(const char *section, void (*fn)(const char *key, const char *value, void *data), void *data)
{
    if (!section || !fn)
        return;
    walk_tags(section, [&](const char *key, std::size_t key_len, const char *value, std::size_t value_len) {
        char *v = tag_value_dup(value ? value : "", value_len);
        if (!v)
            return;
        std::string k(key, key_len);
        fn(k.c_str(), v, data);
        g_free(v);
    });
}

void handle_message_tags(server *serv, const char *section, message_tags_data *tags)
{
    if (!serv || !section || !tags)
        return;
    walk_tags(section, [&](const char *key, std::size_t key_len, const char *value, std::size_t value_len) {
        char **slot = nullptr;
        if (key_is(key, key_len, "msgid"))
            slot = &tags->msgid;
        else if (key_is(key, key_len, "+reply"))
            slot = &tags->reply;
        else if (key_is(key, key_len, "+typing"))
            slot = &tags->typing;
        else if (key_is(key, key_len, "account") && serv->cap_account_tag)
            slot = &tags->account;
        else if (key_is(key, key_len, "solanum.chat/identified") && serv->cap_identify_msg) {
            tags->identified = true;
            return;
        } else if (key_is(key, key_len, "time") && serv->cap_server_time) {
            char *v = tag_value_dup(value ? value : "", value_len);
            if (v) {
                tags->timestamp = parse_time_tag(v);
                g_free(v);
            }
            return;
        } else {
            return;
        }
        if (char *v = tag_value_dup(value ? value : "", value_len))
            replace_text(slot, v);
    });
}

time_t parse_time_tag(const char *value)
{
    if (!value || !value[0])
        return 0;
    const std::size_t len = strlen(value);
    if (value[len - 1] == 'Z') {
        // year-month-dayThour:minute:second, fractions ignored.
        static const char separators[] = "--T::";
        std::int64_t f[6];
        const char *p = value;
        int read = 0;
        for (; read < 6; read++) {
            if (!read_field(p, f[read]))
                break;
            if (read < 5) {
                if (*p != separators[read])
                    break;
                p++;
            }
        }
        if (read == 6) {
            // Months beyond 1-12 carry into the year, as the C library does.
            std::int64_t year = f[0];
            std::int64_t month0 = f[1] - 1;
            year += month0 >= 0 ? month0 / 12 : (month0 - 11) / 12;
            month0 = ((month0 % 12) + 12) % 12;
            const std::int64_t days = days_from_civil(year, month0 + 1, f[2]);
            const std::int64_t secs = days * 86400 + f[3] * 3600 + f[4] * 60 + f[5];
            return secs > 0 ? static_cast<time_t>(secs) : 0;
        }
        return 0;
    }
    // Epoch seconds: digits only, few enough not to overflow.
    if (len > 18)
        return 0;
    for (const char *p = value; *p; p++) {
        if (*p < '0' || *p > '9')
            return 0;
    }
    return static_cast<time_t>(strtoll(value, nullptr, 10));
}

void split_server_line(char *line, char *work, char *word[], char *word_eol[])
{
    clear_words(word, word_eol);
    char *p = line;
    char *w = work;
    while (*p == ' ')
        p++;
    for (int n = 1; n <= IRC_LINE_SPLIT_MAX && *p; n++) {
        word_eol[n] = p;
        word[n] = w;
        while (*p && *p != ' ')
            *w++ = *p++;
        *w++ = 0;
        while (*p == ' ')
            p++;
    }
}

void irc_inline(server *serv, char *buf, int len)
{
    if (!serv || !buf)
        return;
    try {
        const std::size_t n = len < 0 ? strlen(buf) : strnlen(buf, static_cast<std::size_t>(len));
        // The line and the words copied out of it; a line of the usual size
        // needs no allocation.
        char stack_line[LINE_BUFFER_SIZE + 1];
        char stack_work[LINE_BUFFER_SIZE + 1];
        std::unique_ptr<char[]> heap_line, heap_work;
        char *line = stack_line;
        char *work = stack_work;
        if (n > LINE_BUFFER_SIZE) {
            heap_line = std::make_unique<char[]>(n + 1);
            heap_work = std::make_unique<char[]>(n + 1);
            line = heap_line.get();
            work = heap_work.get();
        }
        memcpy(line, buf, n);
        line[n] = 0;

        // Freed on every way out, a dropped line included.
        struct tags_guard {
            message_tags_data tags;
            ~tags_guard() { message_tags_data_free(&tags); }
        } guard;
        message_tags_data &tags = guard.tags;
        char *body = line;
        if (body[0] == '@') {
            char *space = strchr(body, ' ');
            if (!space)
                return; // tags and nothing else: not a message
            *space = 0;
            handle_message_tags(serv, body + 1, &tags);
            body = space + 1;
        }
        while (*body == ' ')
            body++;
        if (body[0]) {
            url_check_line(body);
            dispatch_line(serv, body, work, &tags);
        }
    } catch (...) {
        // Only allocation can throw here; the line is lost, the client lives.
        g_warning("irc_inline: out of memory, a server line was dropped");
    }
}
