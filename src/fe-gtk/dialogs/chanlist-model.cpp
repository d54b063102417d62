#include "dialogs/chanlist-model.h"

#include "base/atomicfile.h"
#include "base/util.h"

#include <glib/gi18n.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace
{

std::string folded(std::string_view text)
{
    char *f = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
    std::string out = f ? f : std::string(text);
    g_free(f);
    return out;
}

// Text from the network may not be UTF-8; the view and the collation need it.
std::string valid_utf8(std::string_view text)
{
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return std::string(text);
    char *fixed = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out = fixed;
    g_free(fixed);
    return out;
}

int parse_users(std::string_view text)
{
    long long n = 0;
    const char *end = text.data() + text.size();
    auto res = std::from_chars(text.data(), end, n);
    if (res.ec == std::errc::result_out_of_range)
        return text.starts_with('-') ? 0 : G_MAXINT;
    if (res.ec != std::errc() || n < 0)
        return 0;
    return n > G_MAXINT ? G_MAXINT : static_cast<int>(n);
}

// Topics compare with only ASCII letters folded, byte-wise otherwise.
int topic_cmp(const std::string &a, const std::string &b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; i++) {
        const int ca = g_ascii_tolower(a[i]) & 0xff, cb = g_ascii_tolower(b[i]) & 0xff;
        if (ca != cb)
            return ca - cb;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size();
}

} // namespace

void chanlist_filter::set(const chanlist_filter_settings &settings)
{
    settings_ = settings;
    find_folded_ = folded(settings.find);
    regex_.reset();
    // Case-insensitive, with the usual extended syntax (groups, alternation,
    // + and ?). Not PCRE's "extended" flag: that makes "#" start a comment,
    // and every channel name starts with one.
    if (settings.type == CHANLIST_REGEX && !settings.find.empty())
        regex_.reset(g_regex_new(settings.find.c_str(), GRegexCompileFlags(G_REGEX_CASELESS | G_REGEX_OPTIMIZE),
                                 GRegexMatchFlags(0), nullptr));
}

bool chanlist_filter::range_accepts(int users) const
{
    if (users < settings_.min_users)
        return false;
    return settings_.max_users <= 0 || users <= settings_.max_users;
}

bool chanlist_filter::text_matches(const std::string &field, const std::string &field_folded) const
{
    switch (settings_.type) {
    case CHANLIST_WILDCARD:
        return match(settings_.find.c_str(), field.c_str());
    case CHANLIST_REGEX:
        // An expression that does not compile matches nothing.
        return regex_ && g_regex_match(regex_.get(), field.c_str(), GRegexMatchFlags(0), nullptr);
    default:
        return field_folded.find(find_folded_) != std::string::npos;
    }
}

bool chanlist_filter::accepts(const chanlist_row &row) const
{
    if (!range_accepts(row.users))
        return false;
    if (settings_.find.empty())
        return true;
    // Both boxes or neither: the name, then the topic.
    if (settings_.in_name == settings_.in_topic)
        return text_matches(row.channel, row.channel_folded) || text_matches(row.topic, row.topic_folded);
    if (settings_.in_name)
        return text_matches(row.channel, row.channel_folded);
    return text_matches(row.topic, row.topic_folded);
}

bool chanlist_model::add(std::string_view channel, std::string_view users, std::string_view topic)
{
    auto row = std::make_unique<chanlist_row>();
    row->channel = valid_utf8(channel);
    char *stripped = strip_color(std::string(topic).c_str(), -1, STRIP_ALL);
    row->topic = valid_utf8(stripped ? stripped : "");
    g_free(stripped);
    row->channel_folded = folded(row->channel);
    // Collated folded, so that case never splits the list (the C locale
    // collates byte-wise).
    char *key = g_utf8_collate_key(row->channel_folded.c_str(), -1);
    row->key = key ? key : row->channel_folded;
    g_free(key);
    row->topic_folded = folded(row->topic);
    row->users = parse_users(users);
    chanlist_row *raw = row.get();
    rows_.push_back(std::move(row));
    order_.push_back(raw);
    const std::size_t before = view_.size();
    offer(raw, true);
    return view_.size() > before;
}

void chanlist_model::offer(chanlist_row *row, bool direct_allowed)
{
    total_channels_++;
    total_users_ += row->users;
    stale_ = true;
    row->shown = filter_.accepts(*row);
    if (!row->shown)
        return;
    shown_channels_++;
    shown_users_ += row->users;
    if (direct_allowed && view_.size() < direct_rows && queue_.empty())
        view_.push_back(row);
    else
        queue_.push_back(row);
}

std::size_t chanlist_model::flush()
{
    const std::size_t n = queue_.size();
    view_.insert(view_.end(), queue_.begin(), queue_.end());
    queue_.clear();
    return n;
}

void chanlist_model::refilter()
{
    view_.clear();
    queue_.clear();
    shown_users_ = total_users_ = shown_channels_ = total_channels_ = 0;
    for (chanlist_row *row : order_)
        offer(row, false);
    // The window shows the result at once: no batching needed here.
    view_.swap(queue_);
    stale_ = true;
}

void chanlist_model::clear()
{
    view_.clear();
    queue_.clear();
    order_.clear();
    rows_.clear();
    shown_users_ = total_users_ = shown_channels_ = total_channels_ = 0;
    stale_ = true;
}

bool chanlist_less(const chanlist_row &a, const chanlist_row &b, int column)
{
    switch (column) {
    case CHANLIST_COL_USERS:
        return a.users < b.users;
    case CHANLIST_COL_TOPIC:
        return topic_cmp(a.topic, b.topic) < 0;
    default:
        return std::strcmp(a.key.c_str(), b.key.c_str()) < 0;
    }
}

void chanlist_model::sort(int column, bool descending)
{
    flush();
    // Every row is sorted, shown or not, so that the next search finds them
    // in this order.
    std::stable_sort(order_.begin(), order_.end(), [column, descending](const chanlist_row *a, const chanlist_row *b) {
        return descending ? chanlist_less(*b, *a, column) : chanlist_less(*a, *b, column);
    });
    view_.clear();
    for (chanlist_row *row : order_)
        if (row->shown)
            view_.push_back(row);
}

std::string chanlist_model::label() const
{
    char *text = g_strdup_printf(_("Displaying %lld/%lld users on %lld/%lld channels."), shown_users_, total_users_,
                                 shown_channels_, total_channels_);
    std::string out = text;
    g_free(text);
    return out;
}

std::string chanlist_list_args(bool have_conditions, int min_users, int max_users)
{
    if (!have_conditions)
        return {};
    // No hidden cap: channels of any size are fetched unless a maximum is set.
    std::string args = ">" + std::to_string(min_users - 1);
    if (max_users > 0 && max_users < G_MAXINT)
        args += ",<" + std::to_string(max_users + 1);
    return args;
}

int chanlist_sane_count(int value, int fallback)
{
    return value >= 1 && value <= 999999 ? value : fallback;
}

std::string chanlist_save_text(const chanlist_model &model, const char *server_name, time_t when)
{
    char stamp[64] = "";
    struct tm tm_when;
    if (localtime_r(&when, &tm_when))
        strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", &tm_when);
    std::string out = "Lumenwick Channel List: ";
    out += server_name ? server_name : "";
    out += " - ";
    out += stamp;
    out += "\n";
    for (const chanlist_row *row : model.view()) {
        char *line = g_strdup_printf("%-16s %-5d%s\n", row->channel.c_str(), row->users, row->topic.c_str());
        out += line;
        g_free(line);
    }
    return out;
}

bool chanlist_save(const chanlist_model &model, const char *server_name, const std::string &path, int *error)
{
    AtomicFile file(path, 0600);
    const bool ok = file.ok() && file.write(chanlist_save_text(model, server_name, time(nullptr))) && file.commit();
    if (!ok && error)
        *error = file.error() ? file.error() : EIO;
    return ok;
}
