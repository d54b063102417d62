// Text events and the print pipeline. A format text is compiled once into a
// list of records (literal bytes, argument, tab, end) so that showing an
// event is a single pass with no parsing and no allocation; every shown line
// then goes to the log, the scrollback file and the front end, in that order.
#include "output/text.h"

#include "base/atomicfile.h"
#include "base/format-codes.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "fe.h"
#include "net/server.h"
#include "output/log.h"
#include "output/scrollback.h"
#include "plugins/plugin.h"
#include "session/chanopt.h"
#include "session/session.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

char *pntevts_text[NUM_XP];
char *pntevts[NUM_XP];
char *sound_files[NUM_XP];

namespace
{

// Record codes of a compiled format text.
enum : unsigned char { REC_LITERAL = 0, REC_ARG = 1, REC_END = 2, REC_TAB = 3 };

// fe_tray_set_icon's "new message" alert.
constexpr int TRAY_ICON_MESSAGE = 2;

// A coloured nick is the colour byte, two digits and the nick, and is kept
// within a nick buffer's worth of bytes.
constexpr std::size_t COLORED_NICK_MAX = 67;

// Palette entries nicks are coloured with: readable on both the light and
// the dark palette.
constexpr int nick_colors[] = {19, 20, 22, 24, 25, 26, 27, 28, 29};

char empty_word[] = "";

bool is_continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

const char *default_text(int index)
{
    const text_event &ev = te[index];
    // gettext maps the empty string to the catalogue header.
    if ((ev.num_args & TE_UNTRANSLATED) || !ev.def[0])
        return ev.def;
    return _(ev.def);
}

void set_text(int index, const char *text)
{
    char *copy = g_strdup(text);
    g_free(pntevts_text[index]);
    pntevts_text[index] = copy;
}

// Events emitted before load_text_events (start-up errors, programs that
// never load the events file) use their default text.
void ensure_compiled(int index)
{
    if (pntevts[index])
        return;
    if (!pntevts_text[index])
        set_text(index, default_text(index));
    if (pevt_build_string(pntevts_text[index], &pntevts[index], nullptr) != 0) {
        set_text(index, te[index].def);
        pevt_build_string(pntevts_text[index], &pntevts[index], nullptr);
    }
}

std::string config_file(const char *name)
{
    return std::string(get_xdir()) + G_DIR_SEPARATOR_S + name;
}

bool read_file(const std::string &path, std::string &content)
{
    gchar *data = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(path.c_str(), &data, &len, nullptr))
        return false;
    content.assign(data, len);
    g_free(data);
    return true;
}

// Calls `line` for every line of `text` (any of \n, \r\n), without its end.
template <typename F> void for_each_line(std::string_view text, F &&line)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view one = text.substr(start, end - start);
        if (!one.empty() && one.back() == '\r')
            one.remove_suffix(1);
        line(one);
        start = end + 1;
    }
}

void compile_error(const char *message)
{
    fe_message(message, FE_MSG_WARN);
}

// The formatting pass over a compiled text; see format_event.
void format_compiled(const char *compiled, int num_args, const char *source, char **word, char *out, std::size_t size,
                     unsigned int strip_args)
{
    if (size == 0)
        return;
    out[0] = '\0';
    if (!compiled || size < 2)
        return;
    // Two bytes stay free for the final line feed and the terminator, so a
    // cut line is still a whole line.
    const std::size_t limit = size - 2;
    std::size_t len = 0;
    bool full = false;
    const auto *p = reinterpret_cast<const unsigned char *>(compiled);

    for (;;) {
        switch (*p++) {
        case REC_LITERAL: {
            std::uint32_t n;
            memcpy(&n, p, sizeof n);
            p += sizeof n;
            if (!full) {
                const char *bytes = reinterpret_cast<const char *>(p);
                std::size_t take = utf8_prefix(bytes, n, limit - len);
                memcpy(out + len, bytes, take);
                len += take;
                full = take < n;
            }
            p += n;
            break;
        }
        case REC_ARG: {
            const int k = *p++;
            if (k > num_args) {
                fprintf(stderr, "Lumenwick DEBUG: display_event: arg > numargs (%d %d %s)\n", k, num_args,
                        source ? source : "");
                break;
            }
            const char *arg = word[k + 1];
            if (!arg) {
                printf("arg[%d] is NULL in print event\n", k + 1);
                break;
            }
            if (full)
                break;
            const std::size_t n = strlen(arg);
            const std::size_t take = utf8_prefix(arg, n, limit - len);
            if (strip_args & (1u << (k + 1))) {
                len += static_cast<std::size_t>(strip_color2(arg, static_cast<int>(take), out + len, STRIP_ALL));
            } else {
                // Hidden text is for copies of our own layout, never for
                // what somebody else sent.
                for (std::size_t i = 0; i < take; i++)
                    if (arg[i] != CODE_HIDDEN)
                        out[len++] = arg[i];
            }
            full = take < n;
            break;
        }
        case REC_TAB:
            if (!full && len < limit)
                out[len++] = prefs.text_indent ? '\t' : ' ';
            break;
        case REC_END:
            out[len++] = '\n';
            out[len] = '\0';
            if (out[0] == '\n')
                out[0] = '\0';
            return;
        default:
            // Not a record of ours: a damaged buffer prints nothing.
            out[0] = '\0';
            return;
        }
    }
}

// Activity flags of a session as one number (the front end's tab levels).
constexpr unsigned ACT_NEW_DATA = 1;
constexpr unsigned ACT_NEW_MESSAGE = 2;
constexpr unsigned ACT_HIGHLIGHT = 4;

unsigned activity_of(const session *sess)
{
    return (sess->has_new_data ? ACT_NEW_DATA : 0) | (sess->has_new_message ? ACT_NEW_MESSAGE : 0) |
           (sess->has_highlight ? ACT_HIGHLIGHT : 0);
}

void set_activity(session *sess, unsigned flags)
{
    sess->has_new_data = (flags & ACT_NEW_DATA) != 0;
    sess->has_new_message = (flags & ACT_NEW_MESSAGE) != 0;
    sess->has_highlight = (flags & ACT_HIGHLIGHT) != 0;
}

// Offers the event to plugins; true when it must go no further (swallowed,
// or the session was closed by a plugin).
bool swallowed_by_plugin(session *sess, char **word, time_t timestamp)
{
    // Print hooks see the flags the tab was last coloured with. The seam has
    // no way to ask the front end for that level, so the flags as they stand
    // serve as it.
    const unsigned before = activity_of(sess);
    if (plugin_emit_print(sess, word, timestamp))
        return true;
    // Checked before the flags are touched again: the hook may have freed it.
    if (!is_session(sess))
        return true;
    // A plugin that only marked new data has not asked for a tab colour;
    // anything stronger (a tab-colour command) stays.
    const unsigned after = activity_of(sess);
    if (after == before || after == ACT_NEW_DATA)
        set_activity(sess, before);
    return false;
}

void alert(session *sess, int beep_setting, int flash_setting, bool away_quiet)
{
    if (!away_quiet && chanopt_is_set(beep_setting, sess->alert_beep))
        sound_beep(sess);
    if (!away_quiet && chanopt_is_set(flash_setting, sess->alert_taskbar))
        fe_flash_window(sess);
    if (sess->alert_tray == SET_ON)
        fe_tray_set_icon(TRAY_ICON_MESSAGE);
}

void print_formatted(session *sess, const char *compiled, int index, char **word, unsigned strip_args, time_t timestamp)
{
    char buf[TE_BUFFER_SIZE];
    format_compiled(compiled, te[index].num_args & TE_ARGS_MASK, pntevts_text[index], word, buf, sizeof buf,
                    strip_args);
    if (buf[0])
        PrintTextTimeStamp(sess, buf, timestamp);
}

// Join and part lines without the host: the parenthesised part of the text
// that holds the host's code is cut out, so "nick (host) has joined" reads
// "nick has joined"; a text that shows the host some other way just gets it
// empty.
void print_without_host(session *sess, int index, char **word, int host_slot, unsigned strip_args, time_t timestamp)
{
    const char *text = pntevts_text[index];
    const char code[] = {'$', static_cast<char>('0' + host_slot), '\0'};
    const char *pos = text ? strstr(text, code) : nullptr;
    if (pos) {
        const char *open = pos;
        while (open > text && *open != '(' && *open != '\n')
            open--;
        const char *close = pos + 2;
        while (*close && *close != ')' && *close != '\n')
            close++;
        if (*close == ')' && *open == '(') {
            const char *cut = (open > text && open[-1] == ' ') ? open - 1 : open;
            std::string shortened(text, static_cast<std::size_t>(cut - text));
            shortened += close + 1;
            char *compiled = nullptr;
            if (pevt_build_string(shortened.c_str(), &compiled, nullptr) == 0) {
                print_formatted(sess, compiled, index, word, strip_args, timestamp);
                g_free(compiled);
            }
            return;
        }
    }
    word[host_slot] = empty_word;
    print_formatted(sess, pntevts[index], index, word, strip_args, timestamp);
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Foreground and background numbers of the colour code starting at `p`
// (just after the colour byte or "%C"); -1 for a missing one.
void parse_color(const char *p, int *fg, int *bg)
{
    *fg = *bg = -1;
    if (!is_digit(*p))
        return;
    *fg = *p++ - '0';
    if (is_digit(*p))
        *fg = *fg * 10 + (*p++ - '0');
    if (*p == ',' && is_digit(p[1])) {
        p++;
        *bg = *p++ - '0';
        if (is_digit(*p))
            *bg = *bg * 10 + (*p - '0');
    }
}

bool text_uses_color(const char *text, int color)
{
    for (const char *p = text; *p; p++) {
        const char *digits = nullptr;
        if (p[0] == '%' && p[1] == '%') {
            p++; // a literal percent sign, not a code
            continue;
        }
        if (p[0] == '%' && p[1] == 'C')
            digits = p + 2;
        else if (*p == CODE_COLOR)
            digits = p + 1;
        if (!digits)
            continue;
        int fg, bg;
        parse_color(digits, &fg, &bg);
        if (fg == color || bg == color)
            return true;
    }
    return false;
}

// pevents.conf has one line per text, so line breaks inside a text are
// written as the $a code that stands for them.
std::string escape_line_breaks(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        if (*p == '\n')
            out += "$a010";
        else if (*p == '\r')
            out += "$a013";
        else
            out += *p;
    }
    return out;
}

bool same_content(const std::string &path, const std::string &content)
{
    std::string old;
    return read_file(path, old) && old == content;
}

} // namespace

// ---- the format language --------------------------------------------------------

void check_special_chars(char *text, bool numeric)
{
    if (!text)
        return;
    char *src = text;
    char *dst = text;
    while (*src) {
        if (*src != '%') {
            *dst++ = *src++;
            continue;
        }
        char code = 0;
        switch (src[1]) {
        case 'B':
            code = CODE_BOLD;
            break;
        case 'C':
            code = CODE_COLOR;
            break;
        case 'H':
            code = CODE_HIDDEN;
            break;
        case 'I':
            code = CODE_ITALIC;
            break;
        case 'O':
            code = CODE_RESET;
            break;
        case 'R':
            code = CODE_REVERSE;
            break;
        case 'S':
            code = CODE_STRIKE;
            break;
        case 'U':
            code = CODE_UNDERLINE;
            break;
        case '%':
            code = '%';
            break;
        }
        if (code) {
            *dst++ = code;
            src += 2;
            continue;
        }
        if (numeric && is_digit(src[1]) && is_digit(src[2]) && is_digit(src[3])) {
            const unsigned char value =
                static_cast<unsigned char>(((src[1] - '0') * 100 + (src[2] - '0') * 10 + (src[3] - '0')) & 0xFF);
            // A NUL would end the text right here; leave the code as typed.
            if (value != 0) {
                const char byte = static_cast<char>(value);
                gsize written = 0;
                char *utf8 = g_locale_to_utf8(&byte, 1, nullptr, &written, nullptr);
                // Four source bytes are replaced, so the text never grows.
                if (utf8 && written >= 1 && written <= 4) {
                    memcpy(dst, utf8, written);
                    dst += written;
                } else {
                    *dst++ = byte;
                }
                g_free(utf8);
                src += 4;
                continue;
            }
        }
        *dst++ = *src++;
    }
    *dst = '\0';
}

int pevt_build_string(const char *input, char **output, int *max_arg)
{
    std::string text(input ? input : "");
    check_special_chars(text.data(), true);
    text.resize(strlen(text.c_str()));

    std::string compiled;
    std::string literal;
    int highest = -1;
    auto flush = [&] {
        if (literal.empty())
            return;
        const auto n = static_cast<std::uint32_t>(literal.size());
        compiled += static_cast<char>(REC_LITERAL);
        compiled.append(reinterpret_cast<const char *>(&n), sizeof n);
        compiled += literal;
        literal.clear();
    };

    for (std::size_t i = 0; i < text.size(); i++) {
        if (text[i] != '$') {
            const std::size_t next = std::min(text.find('$', i), text.size());
            literal.append(text, i, next - i);
            i = next - 1;
            continue;
        }
        if (i + 1 >= text.size()) {
            compile_error(_("String ends with a $"));
            return 1;
        }
        const char d = text[++i];
        if (d >= '1' && d <= '9') {
            flush();
            compiled += static_cast<char>(REC_ARG);
            compiled += static_cast<char>(d - '1');
            highest = std::max(highest, d - '0');
        } else if (d == 't') {
            flush();
            compiled += static_cast<char>(REC_TAB);
        } else if (d == '$') {
            literal += '$';
        } else if (d == 'a') {
            if (text.size() - i - 1 < 3) {
                compile_error(_("String ends in $a"));
                return 1;
            }
            const char *v = text.c_str() + i + 1;
            if (!is_digit(v[0]) || !is_digit(v[1]) || !is_digit(v[2])) {
                compile_error(_("$a must be followed by three decimal digits"));
                return 1;
            }
            const int value = (v[0] - '0') * 100 + (v[1] - '0') * 10 + (v[2] - '0');
            if (value > 255) {
                compile_error(_("$a value is greater than 255"));
                return 1;
            }
            if (value == 0) {
                // It would end every line made from this text right there.
                compile_error(_("$a000 is not a character"));
                return 1;
            }
            literal += static_cast<char>(value);
            i += 3;
        } else {
            // The whole character, so the message stays valid UTF-8.
            std::size_t n = 1;
            while (i + n < text.size() && is_continuation(static_cast<unsigned char>(text[i + n])) && n < 4)
                n++;
            char *msg = g_strdup_printf(_("Error, invalid argument $%s\n"), text.substr(i, n).c_str());
            compile_error(msg);
            g_free(msg);
            return 1;
        }
    }
    flush();
    compiled += static_cast<char>(REC_END);

    if (output) {
        *output = static_cast<char *>(g_malloc(compiled.size()));
        memcpy(*output, compiled.data(), compiled.size());
    }
    if (max_arg)
        *max_arg = highest;
    return 0;
}

void format_event(session *, int index, char **word, char *out, std::size_t size, unsigned int strip_args)
{
    if (size)
        out[0] = '\0';
    if (index < 0 || index >= NUM_XP)
        return;
    ensure_compiled(index);
    format_compiled(pntevts[index], te[index].num_args & TE_ARGS_MASK, pntevts_text[index], word, out, size,
                    strip_args);
}

// ---- emitting events ----------------------------------------------------------------

void text_emit(int index, session *sess, const char *a, const char *b, const char *c, const char *d, time_t timestamp)
{
    if (index < 0 || index >= NUM_XP || !sess)
        return;
    ensure_compiled(index);

    unsigned strip_args = chanopt_is_set(prefs.text_stripcolor_msg, sess->text_strip) ? ~0u : 0u;

    char colored_nick[COLORED_NICK_MAX + 1];
    if (prefs.text_color_nicks && a && (index == XP_TE_CHANNEL_MESSAGE || index == XP_TE_CHANNEL_ACTION)) {
        const int prefix = g_snprintf(colored_nick, sizeof colored_nick, "%c%d", CODE_COLOR, text_color_of(a));
        const std::size_t room = COLORED_NICK_MAX - static_cast<std::size_t>(prefix);
        const std::size_t n = utf8_prefix(a, strlen(a), room);
        memcpy(colored_nick + prefix, a, n);
        colored_nick[static_cast<std::size_t>(prefix) + n] = '\0';
        a = colored_nick;
        strip_args &= ~(1u << 1); // the nick keeps the colour just given
    }

    char *word[PDIWORDS];
    word[0] = const_cast<char *>(te[index].name);
    const char *args[4] = {a, b, c, d};
    for (int i = 0; i < 4; i++)
        word[i + 1] = args[i] ? const_cast<char *>(args[i]) : empty_word;
    for (int i = 5; i < PDIWORDS; i++)
        word[i] = empty_word;

    if (swallowed_by_plugin(sess, word, timestamp))
        return;

    const bool away_quiet = prefs.away_omit_alerts && sess->server && sess->server->away;
    switch (index) {
    case XP_TE_CHANGE_NICK:
        if (prefs.irc_hide_nickchange)
            return;
        break;
    case XP_TE_JOIN:
    case XP_TE_PART:
    case XP_TE_PART_WITH_REASON:
    case XP_TE_QUIT:
        if (chanopt_is_set(prefs.irc_conf_mode, sess->text_hidejoinpart))
            return;
        break;
    case XP_TE_CHANNEL_MESSAGE:
    case XP_TE_CHANNEL_ACTION:
        alert(sess, prefs.input_beep_chans, prefs.input_flash_chans, away_quiet);
        break;
    case XP_TE_CHANNEL_MSG_HILIGHT:
    case XP_TE_CHANNEL_ACTION_HILIGHT:
        alert(sess, prefs.input_beep_hilight, prefs.input_flash_hilight, away_quiet);
        break;
    case XP_TE_PRIVATE_ACTION:
    case XP_TE_PRIVATE_ACTION_TO_DIALOG:
    case XP_TE_PRIVATE_MESSAGE:
    case XP_TE_PRIVATE_MESSAGE_TO_DIALOG:
        alert(sess, prefs.input_beep_priv, prefs.input_flash_priv, away_quiet);
        break;
    default:
        break;
    }

    if (!away_quiet)
        sound_play_event(index);

    if (prefs.irc_hide_join_part_hostmask &&
        (index == XP_TE_JOIN || index == XP_TE_PART || index == XP_TE_PART_WITH_REASON)) {
        print_without_host(sess, index, word, index == XP_TE_JOIN ? 3 : 2, strip_args, timestamp);
        return;
    }
    print_formatted(sess, pntevts[index], index, word, strip_args, timestamp);
}

int text_emit_by_name(const char *name, session *sess, time_t timestamp, const char *a, const char *b, const char *c,
                      const char *d)
{
    if (!name)
        return 0;
    for (int i = 0; i < NUM_XP; i++) {
        if (strcmp(te[i].name, name) == 0) {
            text_emit(i, sess, a, b, c, d, timestamp);
            return 1;
        }
    }
    return 0;
}

const char *text_find_format_string(const char *name)
{
    if (!name)
        return nullptr;
    for (int i = 0; i < NUM_XP; i++)
        if (strcmp(te[i].name, name) == 0)
            return pntevts_text[i];
    return nullptr;
}

// ---- the events file --------------------------------------------------------------

void pevent_make_pntevts(void)
{
    for (int i = 0; i < NUM_XP; i++) {
        g_free(pntevts[i]);
        pntevts[i] = nullptr;
        if (pntevts_text[i] && pevt_build_string(pntevts_text[i], &pntevts[i], nullptr) == 0)
            continue;

        g_warning("Error parsing event %s\nLoading default.", te[i].name);
        set_text(i, default_text(i));
        // The broken text is gone from the table; the file must follow.
        prefs.save_pevents = TRUE;
        if (pevt_build_string(pntevts_text[i], &pntevts[i], nullptr) == 0)
            continue;
        if (te[i].num_args & TE_UNTRANSLATED)
            g_error("Lumenwick CRITICAL *** default event text failed to build!");

        g_warning("Error parsing translated event %s\nLoading untranslated.", te[i].name);
        set_text(i, te[i].def);
        if (pevt_build_string(pntevts_text[i], &pntevts[i], nullptr) != 0)
            g_error("Lumenwick CRITICAL *** default event text failed to build!");
    }
}

void pevent_load_text(const char *text, std::size_t len)
{
    if (!text)
        return;
    // Texts before the first event_name line belong to the first event.
    int current = 0;
    int last_found = -1;
    std::string collected;
    bool have_text = false;
    auto apply = [&] {
        if (current >= 0 && have_text)
            set_text(current, collected.c_str());
        have_text = false;
    };

    for_each_line(std::string_view(text, len), [&](std::string_view line) {
        if (line.empty() || line[0] == '#')
            return;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        if (key == "event_name") {
            apply();
            current = -1;
            // A file in table order costs one comparison per event.
            for (int n = 0; n < NUM_XP; n++) {
                const int i = (last_found + 1 + n) % NUM_XP;
                if (value == te[i].name) {
                    current = last_found = i;
                    break;
                }
            }
        } else if (key == "event_text") {
            collected.assign(value);
            have_text = true;
        }
    });
    apply();
}

int pevent_load(const char *filename)
{
    const std::string path = filename ? std::string(filename) : config_file("pevents.conf");
    std::string content;
    if (!read_file(path, content))
        return 1;
    pevent_load_text(content.data(), content.size());
    return 0;
}

void load_text_events(void)
{
    for (int i = 0; i < NUM_XP; i++) {
        g_free(pntevts_text[i]);
        pntevts_text[i] = nullptr;
        g_free(pntevts[i]);
        pntevts[i] = nullptr;
    }
    pevent_load(nullptr);
    for (int i = 0; i < NUM_XP; i++)
        if (!pntevts_text[i])
            set_text(i, default_text(i));
    pevent_make_pntevts();
}

void pevent_save(const char *filename)
{
    std::string content;
    for (int i = 0; i < NUM_XP; i++) {
        content += "event_name=";
        content += te[i].name;
        content += "\nevent_text=";
        content += escape_line_breaks(pntevts_text[i] ? pntevts_text[i] : default_text(i));
        content += "\n\n";
    }

    const std::string path = filename ? std::string(filename) : config_file("pevents.conf");
    if (!filename && same_content(path, content)) {
        prefs.save_pevents = FALSE;
        return;
    }
    AtomicFile file(path, 0600);
    if (!file.ok()) {
        fprintf(stderr, "Error opening config file: %s\n", g_strerror(file.error()));
        return;
    }
    file.write(content);
    if (!file.commit()) {
        fprintf(stderr, "Error writing config file %s: %s\n", path.c_str(), g_strerror(file.error()));
        return;
    }
    if (!filename)
        prefs.save_pevents = FALSE;
}

// ---- sounds ---------------------------------------------------------------------------

void sound_load_text(const char *text, std::size_t len)
{
    if (!text)
        return;
    constexpr std::size_t EVENT_NAME_MAX = 127;
    std::string pending;
    for_each_line(std::string_view(text, len), [&](std::string_view line) {
        if (line.starts_with("event=")) {
            std::string_view name = line.substr(6);
            pending.assign(name.substr(0, utf8_prefix(name.data(), name.size(), EVENT_NAME_MAX)));
        } else if (line.starts_with("sound=")) {
            std::string_view file = line.substr(6);
            file = file.substr(0, file.find('\0')); // a file name ends at a NUL
            if (!file.empty()) {
                for (int i = 0; i < NUM_XP; i++) {
                    if (pending == te[i].name) {
                        g_free(sound_files[i]);
                        sound_files[i] = g_strndup(file.data(), file.size());
                        break;
                    }
                }
            }
            pending.clear();
        }
    });
}

void sound_load(void)
{
    for (char *&file : sound_files) {
        g_free(file);
        file = nullptr;
    }
    std::string content;
    if (read_file(config_file("sound.conf"), content))
        sound_load_text(content.data(), content.size());
}

void sound_save(void)
{
    std::string content;
    for (int i = 0; i < NUM_XP; i++) {
        if (!sound_files[i] || !sound_files[i][0])
            continue;
        content += "event=";
        content += te[i].name;
        content += "\nsound=";
        content += sound_files[i];
        content += "\n\n";
    }
    const std::string path = config_file("sound.conf");
    if (same_content(path, content))
        return;
    atomic_file_write(path, content, 0600);
}

void sound_play(const char *file, bool quiet)
{
    if (!file || !*file)
        return;
    std::string path = g_path_is_absolute(file) ? std::string(file) : std::string(get_xdir()) + "/sounds/" + file;
    if (g_access(path.c_str(), R_OK) != 0) {
        if (!quiet) {
            char *msg = g_strdup_printf(_("Cannot read sound file:\n%s"), path.c_str());
            fe_message(msg, FE_MSG_ERROR);
            g_free(msg);
        }
        return;
    }
    if (fe_play_sound(path.c_str()))
        return;

    // The player gets the path as its own argument: no command line is
    // built, so no file name can turn into shell syntax.
    char *player = g_find_program_in_path("play");
    if (!player)
        return;
    char *argv[] = {player, path.data(), nullptr};
    GError *error = nullptr;
    if (!g_spawn_async(nullptr, argv, nullptr,
                       static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                       nullptr, nullptr, &error)) {
        g_debug("Cannot run %s: %s", player, error ? error->message : "unknown error");
        g_clear_error(&error);
    }
    g_free(player);
}

void sound_play_event(int index)
{
    if (index >= 0 && index < NUM_XP && sound_files[index] && sound_files[index][0])
        sound_play(sound_files[index], false);
}

void sound_beep(session *sess)
{
    if (prefs.gui_focus_omitalerts && fe_gui_info(sess, 0) == 1)
        return;
    if (sound_files[XP_TE_BEEP] && sound_files[XP_TE_BEEP][0])
        sound_play(sound_files[XP_TE_BEEP], false);
    else
        fe_beep();
}

// ---- colours ---------------------------------------------------------------------------

int text_color_of(const char *nick)
{
    unsigned sum = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(nick ? nick : ""); *p; p++)
        sum += *p;
    return nick_colors[sum % G_N_ELEMENTS(nick_colors)];
}

char **text_color_event_names(int color, int *count)
{
    if (count)
        *count = 0;
    if (color < 0 || color > 31)
        return nullptr;
    GPtrArray *names = g_ptr_array_new();
    for (int i = 0; i < NUM_XP; i++) {
        const char *text = pntevts_text[i] ? pntevts_text[i] : default_text(i);
        if (text_uses_color(text, color))
            g_ptr_array_add(names, g_strdup(_(te[i].name)));
    }
    if (names->len == 0) {
        g_ptr_array_free(names, TRUE);
        return nullptr;
    }
    if (count)
        *count = static_cast<int>(names->len);
    g_ptr_array_add(names, nullptr);
    return reinterpret_cast<char **>(g_ptr_array_free(names, FALSE));
}

// ---- encodings --------------------------------------------------------------------------

char *text_fixup_invalid_utf8(const char *text, gssize len, gsize *out_len)
{
    char *fixed = g_utf8_make_valid(text ? text : "", text ? len : 0);
    if (out_len)
        *out_len = strlen(fixed);
    return fixed;
}

char *text_convert_invalid(const char *text, gssize len, GIConv converter, const char *fallback, gsize *out_len)
{
    if (!text)
        text = "";
    gsize left = len < 0 ? strlen(text) : static_cast<gsize>(len);
    if (!fallback)
        fallback = "";
    GString *out = g_string_sized_new(left + 1);
    const char *p = text;
    while (left > 0) {
        gsize read = 0, written = 0;
        GError *error = nullptr;
        char *converted = g_convert_with_iconv(p, static_cast<gssize>(left), converter, &read, &written, &error);
        if (converted) {
            g_string_append_len(out, converted, static_cast<gssize>(written));
            g_free(converted);
            // Anything not read is an incomplete sequence at the very end.
            if (read >= left)
                break;
        } else {
            g_clear_error(&error);
            if (read > left)
                read = left;
            if (read > 0) {
                char *part = g_convert_with_iconv(p, static_cast<gssize>(read), converter, nullptr, &written, nullptr);
                if (part)
                    g_string_append_len(out, part, static_cast<gssize>(written));
                g_free(part);
            }
        }
        g_string_append(out, fallback);
        // Past the offending byte; always forward, so the loop ends.
        const gsize skip = std::min(left, read + 1);
        p += skip;
        left -= skip;
    }
    if (out_len)
        *out_len = out->len;
    return g_string_free(out, FALSE);
}

// ---- the print pipeline ---------------------------------------------------------------------

void PrintTextTimeStamp(session *sess, const char *text, time_t stamp)
{
    if (!sess) {
        if (!sess_list)
            return;
        sess = static_cast<session *>(sess_list->data);
    }
    if (!text || !*text)
        text = "\n";

    char *fixed = nullptr;
    std::size_t len = strlen(text);
    if (!g_utf8_validate(text, static_cast<gssize>(len), nullptr)) {
        gsize fixed_len = 0;
        fixed = text_fixup_invalid_utf8(text, static_cast<gssize>(len), &fixed_len);
        text = fixed;
        len = fixed_len;
    }

    log_write(sess, text, stamp);
    scrollback_save(sess, text, stamp);

    // The front end takes a mutable text.
    char local[TE_BUFFER_SIZE];
    char *copy = len < sizeof local ? local : static_cast<char *>(g_malloc(len + 1));
    memcpy(copy, text, len + 1);
    fe_print_text(sess, copy, stamp, FALSE);
    if (copy != local)
        g_free(copy);
    g_free(fixed);
}

void PrintText(session *sess, const char *text)
{
    PrintTextTimeStamp(sess, text, 0);
}

void PrintTextf(session *sess, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    PrintTextTimeStamp(sess, text, 0);
    g_free(text);
}

void PrintTextTimeStampf(session *sess, time_t stamp, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    PrintTextTimeStamp(sess, text, stamp);
    g_free(text);
}
