// The texts of the lag and send-queue meters. A headless client has no
// meter to draw, but keeps the same texts a graphical one would show.
#pragma once

#include <optional>
#include <ostream>
#include <string>

struct meter_text {
    std::string label;   // "+1.5s", "120 bytes"
    std::string tooltip; // "Lag: +1.5 seconds"
    double fraction = 0; // 0.0 to 1.0

    bool operator==(const meter_text &) const = default;
};
std::ostream &operator<<(std::ostream &os, const meter_text &m);

// The lag meter for `lag_ms`; `outstanding` means the probe is still
// unanswered, so the value is a lower bound (capped, shown with "+").
meter_text lag_meter(long lag_ms, bool outstanding);
// The lag to show when the core reports `given` (-1: "time since the probe
// was sent"), `probe_ms` being the probe's send time (0: none outstanding).
// Empty when there is nothing to show.
std::optional<long> lag_to_show(long given, unsigned long probe_ms, unsigned long now_ms);
// The send-queue meter for the bytes waiting in a server's queue.
meter_text throttle_meter(int queued_bytes);
