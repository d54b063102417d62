// What the main window keeps per tab while another tab is in front, and the
// rules that decide tab colours, the closed-tabs list and where the switcher
// and the user list go. Toolkit-free, so the rules are tested without a display.
#pragma once

#include "fe-common/meters.h"

#include <deque>
#include <optional>
#include <string>
#include <unordered_map>

struct chan;
struct xtext_buffer;
struct User;

inline constexpr int MODE_BUTTONS = 7; // c n t i m l k
// The mode letter's button (0..6), or -1 for letters without one.
int mode_button_index(char letter);

// Values set for a tab that was not in front; each is applied (and dropped)
// when the tab comes to front. Only the latest value of each is kept.
struct tab_saved {
    std::optional<std::string> topic;
    std::optional<std::string> input;
    std::optional<std::string> key;
    std::optional<std::string> limit;
    std::optional<meter_text> lag;
    std::optional<meter_text> throttle;
    bool want_progress = false;

    bool empty() const;
};

// The message the input line answers (an IRCv3 reply): its id, author and
// text (either may be empty when unknown).
struct reply_target {
    std::string msgid;
    std::string nick;
    std::string text;
};

// The tab state of one session (sess->tab_state).
struct tab_state {
    chan *tab = nullptr;
    xtext_buffer *buffer = nullptr;
    void *user_model = nullptr; // the session's user-list model (a GtkListStore)
    std::string lag_tooltip;    // always kept, whether shown or not
    std::string throttle_tooltip;
    bool mode_states[MODE_BUTTONS] = {}; // c n t i m l k as last set
    bool progress = false;               // a connection attempt is running
    tab_saved saved;
    int shown_activity = 0;
    int typing_sent = 0;           // 0 nothing, 1 "active", 2 "paused" last sent
    unsigned int typing_timer = 0; // main-loop source of the pause notice
};

// How Enter sends a line while a reply target is set: commands go as
// typed; text goes as a REPLY when the server is connected and takes the
// "reply" client tag, and normally (with a notice) otherwise.
enum class reply_route { as_typed, reply, unsupported };
reply_route reply_route_for(const char *line, char command_char, bool connected, bool reply_allowed);
// The command line that sends `text` as a reply to `msgid`.
std::string reply_command(char command_char, const std::string &msgid, const char *text);
// The reply bar's Pango markup: the author (or "message") and the quoted
// text cut to 160 bytes on a character boundary (or "Original message
// unavailable"), both escaped.
std::string reply_bar_markup(const reply_target &r);

// Whether a client tag may be sent: message tags negotiated, and the
// server's CLIENTTAGDENY list (comma-separated) names neither "*", the tag,
// nor "+" and the tag. An empty or absent list allows every tag.
bool client_tag_allowed(bool message_tags, const char *deny_list, const char *tag);

// Activity flags of a session and the level its tab shows.
struct activity_flags {
    bool new_data = false;
    bool new_message = false;
    bool highlight = false;
    int level() const { return highlight ? 3 : new_message ? 2 : new_data ? 1 : 0; }
};

inline constexpr int NO_OVERRIDE = 8;
// The flags after a colour request of `level` (0..3, plus 8 for "keep a
// higher level"); nullopt when the request does not apply (levels 1 to 3 on
// the tab in front).
std::optional<activity_flags> activity_after(activity_flags now, int level, bool in_front);

// The closed-channel list for reopening: newest first, at most 20.
struct closed_tab {
    int server_id = 0;
    std::string channel; // at most 300 bytes
    std::string key;     // at most 64 bytes
};
class closed_tabs
{
  public:
    static constexpr std::size_t MAX = 20;
    void push(int server_id, const std::string &channel, const std::string &key);
    std::optional<closed_tab> pop();
    std::size_t size() const { return list_.size(); }

  private:
    std::deque<closed_tab> list_;
};

// Layout positions: 1 left upper, 2 left lower, 3 right upper, 4 right
// lower, 5 top, 6 bottom, 7 hidden.
struct layout_slots {
    int userlist;
    int switcher;
};
layout_slots resolve_layout(int ulist_pos, int tab_pos, int tab_layout);
// Whether switcher and user list share one side column.
bool slots_share_side(const layout_slots &s);
// Whether a session type shows the user list (type 2 channel).
bool userlist_wanted(int sess_type, bool ulist_hide, const layout_slots &s);
// The slot a dragged part lands in: `right` column, `upper` half; the other
// part takes the opposite slot of that column when it held the target.
layout_slots drop_into(layout_slots s, bool dragging_userlist, bool right, bool upper);

// The user-list row index: user record to row, filled lazily by lookups
// that had to scan; the view's model iterators stay valid while the row
// exists, so a row is a plain value.
template <typename Row> class row_index
{
  public:
    // The row of `user`: the index first, else `scan(user, &row)`, whose
    // result is remembered.
    template <typename Scan> bool find(User *user, Row *row, Scan &&scan)
    {
        if (auto it = rows_.find(user); it != rows_.end()) {
            *row = it->second;
            return true;
        }
        if (!scan(user, row))
            return false;
        rows_.emplace(user, *row);
        return true;
    }
    void put(User *user, const Row &row) { rows_[user] = row; }
    void forget(User *user) { rows_.erase(user); }
    void clear() { rows_.clear(); }
    // Room for `n` users at once (a burst's end fills the index in one go).
    void reserve(std::size_t n) { rows_.reserve(n); }
    std::size_t size() const { return rows_.size(); }

  private:
    std::unordered_map<User *, Row> rows_;
};
