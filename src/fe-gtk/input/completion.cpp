// Tab completion: finding the word, the candidates, cycling and listing.
#include "input/completion.h"

#include "base/tree.h"
#include "base/util.h"
#include "commands/outbound.h"
#include "config/cfgfiles.h"
#include "config/list.h"
#include "irc/userlist.h"
#include "net/server.h"
#include "plugins/plugin.h"
#include "session/lumenwick.h"
#include "session/session.h"

#include <glib.h>

#include <algorithm>
#include <cstring>

namespace
{

// Longer words are no nick, channel or command: they are left alone.
constexpr size_t PREFIX_MAX = 299;
// The listing is printed in lines of at most this many bytes.
constexpr size_t LISTING_LINE_MAX = 2045;

size_t byte_offset(const std::string &text, int chars)
{
    if (chars <= 0)
        return 0;
    const char *end = g_utf8_offset_to_pointer(text.c_str(), std::min<glong>(chars, g_utf8_strlen(text.c_str(), -1)));
    return static_cast<size_t>(end - text.c_str());
}

int char_count(const std::string &text, size_t bytes)
{
    return static_cast<int>(g_utf8_strlen(text.c_str(), static_cast<gssize>(bytes)));
}

bool starts_with_ci(const std::string &word, const std::string &prefix)
{
    return word.size() >= prefix.size() && rfc_ncasecmp(word.c_str(), prefix.c_str(), prefix.size()) == 0;
}

std::vector<std::string> listing_lines(const std::vector<std::string> &words)
{
    std::vector<std::string> lines;
    std::string line;
    for (const std::string &w : words) {
        if (!line.empty() && line.size() + 1 + w.size() > LISTING_LINE_MAX) {
            lines.push_back(std::move(line));
            line.clear();
        }
        if (!line.empty())
            line += ' ';
        line += w;
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

} // namespace

std::ostream &operator<<(std::ostream &os, const completion_result &r)
{
    os << (r.changed ? "changed" : "unchanged") << " \"" << r.text << "\" cursor " << r.cursor;
    for (const std::string &l : r.listing)
        os << "\n  listed: " << l;
    return os;
}

std::string completion_common_prefix(const std::vector<std::string> &words)
{
    if (words.empty())
        return {};
    size_t len = words[0].size();
    for (size_t i = 1; i < words.size() && len; i++) {
        size_t n = 0;
        const std::string &w = words[i];
        while (n < len && n < w.size() && rfc_ncasecmp(words[0].c_str() + n, w.c_str() + n, 1) == 0)
            n++;
        len = n;
    }
    // Back off to the start of a character.
    while (len > 0 && len < words[0].size() && (static_cast<unsigned char>(words[0][len]) & 0xC0) == 0x80)
        len--;
    return words[0].substr(0, len);
}

completion_result completion_run(completion_state &state, const std::string &text, int cursor, bool backwards,
                                 const completion_context &ctx)
{
    completion_result res;
    res.text = text;
    res.cursor = cursor;
    const size_t cur = byte_offset(text, cursor);
    if (text.empty() || cur == 0)
        return res;

    // A space before the cursor: the word before it was completed by the
    // last press (perhaps with the suffix after it), so only the word is
    // replaced and the separator comes back with the new one.
    size_t word_end = cur;
    const bool after_space = text[cur - 1] == ' ';
    if (after_space) {
        word_end = cur - 1;
        if (word_end > 0) {
            const char before = text[word_end - 1];
            if (before == ',' || before == ':' || (ctx.suffix && before == ctx.suffix))
                word_end--;
        }
    }
    const std::string rest = text.substr(cur);
    const size_t space = word_end == 0 ? std::string::npos : text.rfind(' ', word_end - 1);
    size_t word_start = space == std::string::npos ? 0 : space + 1;

    completion_kind kind = completion_kind::nick;
    if (word_start == 0 && ctx.command_char && text[0] == ctx.command_char) {
        kind = completion_kind::command;
        word_start = 1;
    } else if (word_start < word_end && ctx.chantypes.find(text[word_start]) != std::string::npos) {
        kind = completion_kind::channel;
    } else if (word_start < word_end && !ctx.nick_prefixes.empty() &&
               ctx.nick_prefixes.find(text[word_start]) != std::string::npos) {
        word_start++; // "@ni" completes "ni"; the "@" stays
    }
    if (word_start >= word_end || word_end - word_start > PREFIX_MAX) {
        state.prefix.clear();
        return res;
    }
    const std::string word = text.substr(word_start, word_end - word_start);
    if (!ctx.candidates) {
        state.prefix.clear();
        return res;
    }

    std::string replacement;
    bool cycled = false;
    if (after_space && !state.prefix.empty() && starts_with_ci(word, state.prefix)) {
        const std::vector<std::string> all = ctx.candidates(kind, state.prefix);
        if (!all.empty()) {
            const auto it = std::find_if(all.begin(), all.end(), [&](const std::string &c) {
                return rfc_casecmp(c.c_str(), word.c_str()) == 0;
            });
            const long n = static_cast<long>(all.size());
            long idx = it == all.end() ? (backwards ? 0 : -1) : it - all.begin();
            idx = ((idx + (backwards ? -1 : 1)) % n + n) % n;
            replacement = all[static_cast<size_t>(idx)];
            cycled = true;
        }
    }
    if (!cycled) {
        state.prefix = word;
        const std::vector<std::string> all = ctx.candidates(kind, word);
        if (all.empty()) {
            state.prefix.clear();
            return res;
        }
        if ((ctx.amount < 1 || static_cast<long>(all.size()) > ctx.amount) && all.size() > 1) {
            res.listing = listing_lines(all);
            const std::string common = completion_common_prefix(all);
            if (common.size() > word.size()) {
                res.text = text.substr(0, word_start) + common + text.substr(word_end);
                res.cursor = char_count(res.text, word_start + common.size());
                res.changed = true;
            }
            return res;
        }
        replacement = all[0];
    }

    // Commands keep the case they were typed in.
    if (kind == completion_kind::command && g_ascii_islower(word[0]))
        for (char &c : replacement)
            c = g_ascii_tolower(c);
    std::string out = text.substr(0, word_start) + replacement;
    const bool first_word =
        word_start == 0 || (word_start == 1 && ctx.nick_prefixes.find(text[0]) != std::string::npos);
    if (kind == completion_kind::nick && first_word && !ctx.dialog && ctx.suffix)
        out += ctx.suffix;
    // One space after the word; a space already following it is reused.
    out += ' ';
    res.cursor = char_count(out, out.size());
    out += rest[0] == ' ' ? rest.substr(1) : rest;
    res.text = std::move(out);
    res.changed = res.text != text || res.cursor != cursor;
    return res;
}

std::vector<std::string> completion_candidates(session *sess, completion_kind kind, const std::string &word,
                                               bool sort_by_talk)
{
    std::vector<std::string> out;
    if (!sess)
        return out;
    switch (kind) {
    case completion_kind::command: {
        const auto add = [&](const char *name) {
            if (!name || !*name || !starts_with_ci(name, word))
                return;
            for (const std::string &have : out)
                if (g_ascii_strcasecmp(have.c_str(), name) == 0)
                    return;
            out.emplace_back(name);
        };
        for (GSList *l = command_list; l; l = l->next)
            add(static_cast<popup *>(l->data)->name);
        for (int i = 0; i < xc_cmds_count; i++)
            add(xc_cmds[i].name);
        struct adder {
            decltype(add) *fn;
        } a{&add};
        plugin_command_foreach(sess, &a, [](session *, void *data, const char *name, const char *) {
            (*static_cast<adder *>(data)->fn)(name);
        });
        break;
    }
    case completion_kind::channel:
        for (GSList *l = sess_list; l; l = l->next) {
            auto *s = static_cast<session *>(l->data);
            if (s->type != SESS_CHANNEL || !s->channel[0] || !starts_with_ci(s->channel, word))
                continue;
            if (std::none_of(out.begin(), out.end(),
                             [&](const std::string &c) { return rfc_casecmp(c.c_str(), s->channel) == 0; }))
                out.emplace_back(s->channel);
        }
        break;
    case completion_kind::nick: {
        if (sess->type == SESS_DIALOG) {
            if (sess->channel[0] && starts_with_ci(sess->channel, word))
                out.emplace_back(sess->channel);
            break;
        }
        if (!sess->users)
            break;
        void **items = tree_make_list(sess->users);
        const int n = tree_size(sess->users);
        std::vector<User *> found;
        for (int i = 0; i < n; i++) {
            auto *u = static_cast<User *>(items[i]);
            if (rfc_ncasecmp(u->nick, word.c_str(), word.size()) == 0)
                found.push_back(u);
        }
        if (sort_by_talk) {
            std::stable_sort(found.begin(), found.end(), [&](const User *a, const User *b) {
                if (a->me != b->me)
                    return !a->me;
                return a->lasttalk > b->lasttalk;
            });
        }
        out.reserve(found.size());
        for (const User *u : found)
            out.emplace_back(u->nick);
        break;
    }
    }
    return out;
}

completion_context completion_context_for(session *sess)
{
    completion_context ctx;
    ctx.command_char = prefs.input_command_char[0];
    ctx.suffix = prefs.completion_suffix[0];
    ctx.amount = prefs.completion_amount;
    if (sess && sess->server) {
        ctx.chantypes = sess->server->chantypes ? sess->server->chantypes : "#&!+";
        ctx.nick_prefixes = sess->server->nickprefixes ? sess->server->nickprefixes : "@+";
    }
    ctx.dialog = sess && sess->type == SESS_DIALOG;
    const bool by_talk = prefs.completion_sort == 1;
    ctx.candidates = [sess, by_talk](completion_kind kind, const std::string &word) {
        return completion_candidates(sess, kind, word, by_talk);
    };
    return ctx;
}
