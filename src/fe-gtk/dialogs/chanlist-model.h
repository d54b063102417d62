// The channel list's data, without a display: the received rows, the filter
// that decides which are shown, the shown rows in view order, the counters of
// the status label, the LIST request and the save format. The window
// (chanlist.cpp) only mirrors `view` in its tree view.
#pragma once

#include <glib.h>

#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct chanlist_row {
    std::string channel;
    std::string topic;          // colours, attributes and hidden text removed
    std::string key;            // collation key of the channel name
    std::string channel_folded; // case-folded copies for the simple search
    std::string topic_folded;
    int users = 0;
    bool shown = false; // the filter accepts it
};

enum chanlist_search_type { CHANLIST_SIMPLE = 0, CHANLIST_WILDCARD = 1, CHANLIST_REGEX = 2 };
enum chanlist_column { CHANLIST_COL_CHANNEL = 0, CHANLIST_COL_USERS = 1, CHANLIST_COL_TOPIC = 2 };

struct chanlist_filter_settings {
    std::string find;
    int type = CHANLIST_SIMPLE;
    bool in_name = true;
    bool in_topic = true;
    int min_users = 1;
    int max_users = 0; // 0: no maximum
};

class chanlist_filter
{
  public:
    chanlist_filter() = default;
    explicit chanlist_filter(const chanlist_filter_settings &settings) { set(settings); }
    void set(const chanlist_filter_settings &settings);
    bool accepts(const chanlist_row &row) const;
    bool range_accepts(int users) const;
    // False when a regular expression was asked for and does not compile.
    bool valid() const { return settings_.type != CHANLIST_REGEX || settings_.find.empty() || regex_; }

  private:
    bool text_matches(const std::string &field, const std::string &folded) const;

    chanlist_filter_settings settings_;
    std::string find_folded_;
    struct regex_unref {
        void operator()(GRegex *r) const noexcept { g_regex_unref(r); }
    };
    std::unique_ptr<GRegex, regex_unref> regex_;
};

class chanlist_model
{
  public:
    // Rows accepted while fewer than this many are shown go to the view at
    // once; later ones wait in the queue for the next flush.
    static constexpr std::size_t direct_rows = 20;

    // Stores a row and offers it to the filter; true when it went straight
    // into the view (appended at view().size() - 1).
    bool add(std::string_view channel, std::string_view users, std::string_view topic);
    // Moves the queued rows to the end of the view; returns how many.
    std::size_t flush();
    // Offers every stored row again; the view keeps the order of the last
    // sort, so a new search needs no sort of its own.
    void refilter();
    // Drops every row and zeroes the counters.
    void clear();
    void sort(int column, bool descending);

    void set_filter(const chanlist_filter_settings &settings) { filter_.set(settings); }
    const chanlist_filter &filter() const { return filter_; }

    const std::vector<chanlist_row *> &view() const { return view_; }
    std::size_t stored() const { return rows_.size(); }
    std::size_t queued() const { return queue_.size(); }
    // "Displaying %d/%d users on %d/%d channels."
    std::string label() const;
    long long shown_users() const { return shown_users_; }
    long long total_users() const { return total_users_; }
    long long shown_channels() const { return shown_channels_; }
    long long total_channels() const { return total_channels_; }
    // The label changed since the last call.
    bool take_stale() { return std::exchange(stale_, false); }

  private:
    void offer(chanlist_row *row, bool direct_allowed);

    std::vector<std::unique_ptr<chanlist_row>> rows_;
    std::vector<chanlist_row *> order_; // every row, in the order last sorted (then arrival)
    std::vector<chanlist_row *> view_;
    std::vector<chanlist_row *> queue_;
    chanlist_filter filter_;
    long long shown_users_ = 0, total_users_ = 0, shown_channels_ = 0, total_channels_ = 0;
    bool stale_ = false;
};

// Whether row `a` comes before `b` in `column` (ascending).
bool chanlist_less(const chanlist_row &a, const chanlist_row &b, int column);

// The arguments of the LIST request: with ELIST conditions the minimum and
// (when one is set) the maximum are asked of the server; without, nothing.
std::string chanlist_list_args(bool have_conditions, int min_users, int max_users);
// A stored user-count bound: kept when within 1..999999, else `fallback`.
int chanlist_sane_count(int value, int fallback);

// The text of a saved list: header, then one line per row in view order.
std::string chanlist_save_text(const chanlist_model &model, const char *server_name, time_t when);
// Writes it atomically; false (errno in *error) when it could not be saved.
bool chanlist_save(const chanlist_model &model, const char *server_name, const std::string &path, int *error);
