#include "meters.h"

#include "base/lumenwick.h"

#include <glib.h>

#include <algorithm>
#include <cstdarg>

namespace
{
// An unanswered probe stops counting here: beyond 30 s the exact figure
// says nothing more than "the server is not answering".
constexpr long MAX_OUTSTANDING_LAG_MS = 30000;
// The lag meter is full at one second, the queue meter at one kilobyte.
constexpr double LAG_FULL_SCALE_MS = 1000.0;
constexpr double QUEUE_FULL_SCALE_BYTES = 1024.0;

std::string printf_string(const char *format, ...) G_GNUC_PRINTF(1, 2);
std::string printf_string(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    std::string out(text);
    g_free(text);
    return out;
}
} // namespace

std::ostream &operator<<(std::ostream &os, const meter_text &m)
{
    return os << "{label \"" << m.label << "\", tooltip \"" << m.tooltip << "\", fraction " << m.fraction << "}";
}

meter_text lag_meter(long lag_ms, bool outstanding)
{
    // A wall clock stepped backwards would give a negative lag.
    lag_ms = std::max(lag_ms, 0L);
    if (outstanding)
        lag_ms = std::min(lag_ms, MAX_OUTSTANDING_LAG_MS);
    const char *sign = outstanding ? "+" : "";
    const long seconds = lag_ms / 1000;
    const long tenths = (lag_ms / 100) % 10;
    meter_text m;
    m.label = printf_string("%s%ld.%lds", sign, seconds, tenths);
    m.tooltip = printf_string(_("Lag: %s%ld.%ld seconds"), sign, seconds, tenths);
    m.fraction = std::min(static_cast<double>(lag_ms) / LAG_FULL_SCALE_MS, 1.0);
    return m;
}

std::optional<long> lag_to_show(long given, unsigned long probe_ms, unsigned long now_ms)
{
    if (given != -1)
        return given;
    if (probe_ms == 0)
        return std::nullopt;
    if (now_ms < probe_ms)
        return 0;
    return static_cast<long>(now_ms - probe_ms);
}

meter_text throttle_meter(int queued_bytes)
{
    queued_bytes = std::max(queued_bytes, 0);
    meter_text m;
    m.label = printf_string(_("%d bytes"), queued_bytes);
    m.tooltip = printf_string(_("Network send queue: %d bytes"), queued_bytes);
    m.fraction = std::min(static_cast<double>(queued_bytes) / QUEUE_FULL_SCALE_BYTES, 1.0);
    return m;
}
