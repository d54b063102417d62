// The per-channel option store: a list of (network, channel, eight bytes)
// entries, newest first, read lazily from chanopt.conf and written back as a
// whole. Values are 0 off, 1 on, 2 unset.
#include "session/chanopt.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "base/util.h"
#include "config/cfgfiles.h"
#include "net/server.h"
#include "output/log.h"
#include "output/text.h"
#include "servlist/servlist.h"
#include "session/session.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <list>
#include <optional>
#include <string>
#include <string_view>

namespace
{

constexpr int OPTION_COUNT = 8;
// Width the option name and its dots fill in /CHANOPT's listing.
constexpr std::size_t LISTING_NAME_WIDTH = 20;

static_assert(offsetof(session, text_strip) == offsetof(session, alert_balloon) + OPTION_COUNT - 1,
              "the option bytes are consecutive and in table order");

struct option_row {
    const char *name;
    const char *alias; // the name the option had before, still accepted by /CHANOPT
};

const option_row options[OPTION_COUNT] = {
    {"alert_balloon", nullptr},        {"alert_beep", "BEEP"},    {"alert_taskbar", nullptr},   {"alert_tray", "TRAY"},
    {"text_hidejoinpart", "CONFMODE"}, {"text_logging", nullptr}, {"text_scrollback", nullptr}, {"text_strip", nullptr},
};

using option_bytes = std::array<unsigned char, OPTION_COUNT>;

struct entry {
    option_bytes values;
    std::string network;
    std::string channel;
};

std::list<entry> entries; // newest first
bool loaded;              // the file has been read since the store was last emptied
bool dirty;               // the store differs from the file

unsigned char *bytes_of(session *sess)
{
    return &sess->alert_balloon;
}

// The network a session's options are kept under; null when it has none.
const char *network_of(session *sess)
{
    if (!sess || !sess->channel[0] || !sess->server)
        return nullptr;
    return server_get_network(sess->server, false);
}

unsigned char parse_value(std::string_view text)
{
    if (text == "1" || (text.size() == 2 && g_ascii_strncasecmp(text.data(), "ON", 2) == 0))
        return SET_ON;
    if (text == "0" || (text.size() == 3 && g_ascii_strncasecmp(text.data(), "OFF", 3) == 0))
        return SET_OFF;
    return SET_DEFAULT;
}

const char *display_name(unsigned char value)
{
    switch (value) {
    case SET_OFF:
        return "OFF";
    case SET_ON:
        return "ON";
    case SET_DEFAULT:
        return "{unset}";
    }
    g_error("per-channel option holds %u, which is none of off, on and unset", value);
}

bool same_name(const std::string &a, std::string_view b)
{
    return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

entry &find_or_create(std::string_view network, std::string_view channel)
{
    for (entry &e : entries)
        if (same_name(e.channel, channel) && same_name(e.network, network))
            return e;
    option_bytes unset;
    unset.fill(SET_DEFAULT);
    entries.push_front(entry{unset, std::string(network), std::string(channel)});
    dirty = true;
    return entries.front();
}

std::string store_path()
{
    return std::string(get_xdir()) + "/chanopt.conf";
}

// Reading comes first: a save must never replace the file with only the
// channels opened so far.
void ensure_loaded()
{
    if (loaded)
        return;
    loaded = true;
    gchar *data = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(store_path().c_str(), &data, &len, nullptr))
        return;
    const bool was_dirty = dirty;
    chanopt_load_text(data, len);
    dirty = was_dirty || dirty;
    g_free(data);
}

bool writable_name(const std::string &name)
{
    return name.find_first_of("\r\n") == std::string::npos;
}

} // namespace

void chanopt_load_text(const char *text, std::size_t len)
{
    if (!text)
        return;
    std::optional<std::string> network;
    entry *current = nullptr;
    std::string_view rest(text, len);
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // Names are C strings everywhere else: a NUL ends the line's text.
        line = line.substr(0, line.find('\0'));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ')
            key.remove_suffix(1);
        std::string_view value = line.substr(eq + 1);
        if (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);

        if (key == "network") {
            network.emplace(value);
            current = nullptr;
        } else if (key == "channel") {
            // A channel before any network line has nothing to be kept under.
            current = network ? &find_or_create(*network, value) : nullptr;
            dirty = false;
        } else if (current) {
            for (int i = 0; i < OPTION_COUNT; i++) {
                if (key == options[i].name) {
                    current->values[static_cast<std::size_t>(i)] = parse_value(value);
                    break;
                }
            }
        }
    }
}

void chanopt_load(session *sess)
{
    const char *network = network_of(sess);
    if (!network)
        return;
    ensure_loaded();
    for (const entry &e : entries) {
        if (same_name(e.channel, sess->channel) && same_name(e.network, network)) {
            memcpy(bytes_of(sess), e.values.data(), OPTION_COUNT);
            return;
        }
    }
}

void chanopt_save(session *sess)
{
    const char *network = network_of(sess);
    if (!network)
        return;
    ensure_loaded();
    entry &e = find_or_create(network, sess->channel);
    if (memcmp(e.values.data(), bytes_of(sess), OPTION_COUNT) != 0) {
        memcpy(e.values.data(), bytes_of(sess), OPTION_COUNT);
        dirty = true;
    }
}

void chanopt_save_all(bool free_entries)
{
    if (!entries.empty() && dirty) {
        ensure_loaded();
        std::string content;
        for (const entry &e : entries) {
            bool any = false;
            for (unsigned char v : e.values)
                any = any || v != SET_DEFAULT;
            if (!any || !writable_name(e.network) || !writable_name(e.channel))
                continue;
            if (!content.empty())
                content += '\n';
            content += "network = " + e.network + "\n";
            content += "channel = " + e.channel + "\n";
            for (int i = 0; i < OPTION_COUNT; i++) {
                const unsigned char v = e.values[static_cast<std::size_t>(i)];
                if (v != SET_DEFAULT)
                    content += std::string(options[i].name) + " = " + std::to_string(v) + "\n";
            }
        }
        if (atomic_file_write(store_path(), content, 0600))
            dirty = false;
    }
    if (free_entries) {
        entries.clear();
        loaded = false;
        dirty = false;
    }
}

int chanopt_command(session *sess, char * /*tbuf*/, char *word[], char * /*word_eol*/[])
{
    int idx = 2;
    const bool quiet = strcmp(word[2], "-quiet") == 0;
    if (quiet)
        idx++;
    const char *pattern = word[idx];
    const char *value_text = word[idx + 1];
    const bool set = value_text[0] != '\0';
    const unsigned char value = set ? parse_value(value_text) : SET_DEFAULT;

    if (!quiet) {
        const char *network =
            sess->server && sess->server->network ? servlist_network_name(sess->server->network) : nullptr;
        PrintTextf(sess, "\002%s\002: %s \002%s\002: %s\n", _("Network"), network ? network : _("<none>"), _("Channel"),
                   sess->channel[0] ? sess->channel : _("<none>"));
    }

    unsigned char *bytes = bytes_of(sess);
    const unsigned char logging_before = sess->text_logging;
    for (int i = 0; i < OPTION_COUNT; i++) {
        const option_row &opt = options[i];
        const bool selected = !pattern[0] || match(pattern, opt.name) || (opt.alias && match(pattern, opt.alias));
        if (!selected)
            continue;
        if (set) {
            bytes[i] = value;
            dirty = true;
        }
        if (!quiet) {
            std::string line = opt.name;
            line += "\0032";
            const std::size_t name_len = strlen(opt.name);
            if (name_len < LISTING_NAME_WIDTH)
                line.append(LISTING_NAME_WIDTH - name_len, '.');
            line += "\0033:\017 ";
            line += display_name(bytes[i]);
            line += '\n';
            PrintText(sess, line.c_str());
        }
    }

    // As the channel menu does: switching logging off closes the log with
    // its ENDING line instead of leaving it open until the tab closes.
    if (sess->text_logging != logging_before)
        log_open_or_close(sess);

    // Into the store at once, so the file written next holds the change even
    // if the program never gets to close this tab.
    chanopt_save(sess);
    chanopt_save_all(false);
    return 1;
}
