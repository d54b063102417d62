// The DCC one-second clock: offer time-outs, speed averaging, the
// per-transfer and global throttles, stall detection and the removal of
// finished records.

#include "base/util.h"
#include "config/cfgfiles.h"
#include "dcc/dcc-internal.h"
#include "fe.h"
#include "output/text.h"

#include <algorithm>
#include <string>

namespace
{

// Running sums of the speeds of the active sends and receives.
int64_t send_sum = 0;
int64_t recv_sum = 0;
// Bit 1: sends are over the global limit; bit 2: receives are.
unsigned global_throttle = 0;

constexpr unsigned THROTTLE_SENDS = 1;
constexpr unsigned THROTTLE_RECVS = 2;
constexpr double WINDOW_MAX_S = 10.0;

int64_t &sum_of(const DCC *dcc)
{
    return dcc->kind == DCC_KIND_SEND ? send_sum : recv_sum;
}

void update_speed(DCC *dcc, gint64 now)
{
    // A send counts half of what is still unacknowledged: those bytes may
    // sit in buffers on the way.
    uint64_t pos = dcc->position;
    if (dcc->kind == DCC_KIND_SEND && dcc->position > dcc->acknowledged)
        pos = dcc->position - (dcc->position - dcc->acknowledged) / 2;
    if (!dcc->speed_sampled) {
        dcc->speed_sampled = true;
        dcc->speed_window_start = dcc->speed_last_time = now;
        dcc->speed_last_position = pos;
        return;
    }
    double window = static_cast<double>(now - dcc->speed_window_start) / G_USEC_PER_SEC;
    window = std::clamp(window, 1.0, WINDOW_MAX_S);
    double step = static_cast<double>(now - dcc->speed_last_time) / G_USEC_PER_SEC;
    if (step <= 0)
        return;
    if (step > window)
        step = window = 1.0;
    const double moved = pos >= dcc->speed_last_position ? static_cast<double>(pos - dcc->speed_last_position) : 0.0;
    const double fresh = moved / step * (step / window) + static_cast<double>(dcc->speed) * (1.0 - step / window);
    const auto speed = static_cast<int64_t>(fresh);
    if (dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_RECV)
        sum_of(dcc) += speed - dcc->speed;
    dcc->speed = speed;
    dcc->speed_last_position = pos;
    dcc->speed_last_time = now;
}

void update_throttle(DCC *dcc)
{
    if (dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_RECV) {
        const bool sends = dcc->kind == DCC_KIND_SEND;
        const int limit = sends ? prefs.dcc_global_max_send_cps : prefs.dcc_global_max_get_cps;
        const unsigned bit = sends ? THROTTLE_SENDS : THROTTLE_RECVS;
        if (limit >= 1 && sum_of(dcc) >= limit) {
            global_throttle |= bit;
            if (dcc->speed_limit >= 0)
                dcc->flags |= DCC_THROTTLED_GLOBAL;
        } else {
            global_throttle &= ~bit;
            dcc->flags &= ~DCC_THROTTLED_GLOBAL;
        }
    }
    if (dcc->kind <= DCC_KIND_RECV && dcc_allowance(dcc) == 0)
        dcc->flags |= DCC_THROTTLED_OWN;
    else
        dcc->flags &= ~DCC_THROTTLED_OWN;
}

bool is_throttled(const DCC *dcc)
{
    return dcc->flags & (DCC_THROTTLED_OWN | DCC_THROTTLED_GLOBAL);
}

// Closes the record as Aborted with `event` (type name, file, nick).
void give_up(DCC *dcc, int event)
{
    const std::string type = dcc_type_name(dcc), file = file_part(dcc->file.c_str()), nick = dcc->nick;
    session *sess = dcc_session(dcc);
    dcc_close_record(dcc, STAT_ABORTED, false);
    text_emit(event, sess, type.c_str(), file.c_str(), nick.c_str(), nullptr, 0);
}

void tick_one(DCC *dcc, time_t now, gint64 mono)
{
    switch (dcc->status) {
    case STAT_QUEUED:
        if ((dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_CHAT_OUT) && prefs.dcc_timeout >= 1 &&
            now - dcc->offer_time > prefs.dcc_timeout)
            give_up(dcc, XP_TE_DCC_TIMEOUT);
        break;
    case STAT_ACTIVE: {
        update_speed(dcc, mono);
        const bool was = is_throttled(dcc);
        update_throttle(dcc);
        if (was && !is_throttled(dcc))
            dcc_unthrottle(dcc);
        if (!is_dcc(dcc) || dcc->status != STAT_ACTIVE)
            break;
        fe_dcc_update(dcc);
        if ((dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_RECV) && !is_throttled(dcc) &&
            prefs.dcc_stall_timeout >= 1 && now - dcc->last_activity > prefs.dcc_stall_timeout)
            give_up(dcc, XP_TE_DCC_STALL);
        break;
    }
    case STAT_FAILED:
    case STAT_DONE:
    case STAT_ABORTED:
        if (prefs.dcc_remove)
            dcc_close_record(dcc, dcc->status, true);
        break;
    default:
        break;
    }
}

void tick_all()
{
    const time_t now = time(nullptr);
    const gint64 mono = g_get_monotonic_time();
    // A record may remove itself (and so the timer) during the walk.
    GSList *copy = g_slist_copy(dcc_list);
    for (GSList *l = copy; l; l = l->next) {
        auto *dcc = static_cast<DCC *>(l->data);
        if (is_dcc(dcc))
            tick_one(dcc, now, mono);
    }
    g_slist_free(copy);
}

} // namespace

uint64_t dcc_allowance(const DCC *dcc)
{
    if (dcc->speed_limit <= 0)
        return UINT64_MAX;
    constexpr double BURST_MAX = 64 * 1024;
    const double limit = static_cast<double>(dcc->speed_limit);
    const double elapsed = static_cast<double>(g_get_monotonic_time() - dcc->flow_start) / G_USEC_PER_SEC;
    const double allowed = limit * elapsed + std::min(limit, BURST_MAX);
    const double moved = static_cast<double>(dcc->position - std::min(dcc->position, dcc->resume_offset));
    return allowed > moved ? static_cast<uint64_t>(allowed - moved) : 0;
}

void dcc_speed_forget(DCC *dcc)
{
    if (dcc->kind == DCC_KIND_SEND || dcc->kind == DCC_KIND_RECV)
        sum_of(dcc) -= dcc->speed;
}

int dcc_tick(void *) noexcept
{
    try {
        tick_all();
    } catch (...) {
    }
    // The timer is stopped by the close of the last record.
    return 1;
}
