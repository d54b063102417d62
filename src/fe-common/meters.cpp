#include "fe-common/meters.h"

#include "base/lumenwick.h"
#include "fe-common/printf.h"

#include <algorithm>

namespace
{
// The lag meter is full at one second, the queue meter at one kilobyte.
constexpr double LAG_FULL_SCALE_MS = 1000.0;
constexpr double QUEUE_FULL_SCALE_BYTES = 1024.0;
} // namespace

std::ostream &operator<<(std::ostream &os, const meter_text &m)
{
    return os << "{fraction " << m.fraction << ", label \"" << m.label << "\", tooltip \"" << m.tooltip << "\"}";
}

std::optional<meter_text> lag_meter(long lag_ms, unsigned long probe_ms, unsigned long now_ms)
{
    const bool outstanding = probe_ms != 0;
    if (lag_ms == -1) {
        if (!outstanding)
            return std::nullopt;
        // A clock stepped backwards must not show a huge unsigned difference.
        lag_ms =
            now_ms > probe_ms ? static_cast<long>(std::min<unsigned long>(now_ms - probe_ms, LAG_DISPLAY_CAP_MS)) : 0;
    }
    lag_ms = std::max(lag_ms, 0L);
    if (outstanding)
        lag_ms = std::min(lag_ms, LAG_DISPLAY_CAP_MS);

    const char *sign = outstanding ? "+" : "";
    const long seconds = lag_ms / 1000;
    const long tenths = (lag_ms / 100) % 10;
    meter_text m;
    m.fraction = std::min(static_cast<double>(lag_ms) / LAG_FULL_SCALE_MS, 1.0);
    m.label = printf_string("%s%ld.%lds", sign, seconds, tenths);
    m.tooltip = printf_string(_("Lag: %s%ld.%ld seconds"), sign, seconds, tenths);
    return m;
}

meter_text throttle_meter(int queued_bytes)
{
    queued_bytes = std::max(queued_bytes, 0);
    meter_text m;
    m.fraction = std::min(static_cast<double>(queued_bytes) / QUEUE_FULL_SCALE_BYTES, 1.0);
    m.label = printf_string(_("%d bytes"), queued_bytes);
    m.tooltip = printf_string(_("Network send queue: %d bytes"), queued_bytes);
    return m;
}
