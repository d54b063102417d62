// The texts of the lag and send-queue meters. Every front end builds them
// here; a graphical one draws them, the headless one keeps them.
#pragma once

#include <optional>
#include <ostream>
#include <string>

// One network meter: how full the bar is, its short label and its tooltip.
struct meter_text {
    double fraction = 0.0; // 0.0 to 1.0
    std::string label;     // "+1.5s", "120 bytes"
    std::string tooltip;   // "Lag: +1.5 seconds"

    bool operator==(const meter_text &) const = default;
};
std::ostream &operator<<(std::ostream &os, const meter_text &m);

// A lag probe unanswered for longer than this is shown as "+30.0s": beyond
// that the exact figure says nothing more than "the server is not answering".
inline constexpr long LAG_DISPLAY_CAP_MS = 30000;

// The lag meter. `lag_ms` is a measured lag, or -1 for how long the
// outstanding probe sent at `probe_ms` (0: none) has waited by `now_ms`.
// While a probe is outstanding the value is capped and marked with "+".
// Nothing to show (-1 without a probe) gives nullopt. Any other negative lag
// (a wall clock stepped backwards) shows as no lag.
std::optional<meter_text> lag_meter(long lag_ms, unsigned long probe_ms, unsigned long now_ms);

// The send-queue meter for `queued_bytes` waiting bytes (negative: none).
meter_text throttle_meter(int queued_bytes);
