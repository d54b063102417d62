// What every front end shares: window titles, the meter texts and the
// main-loop glue the core's timers run on.
#include "fe-common/meters.h"
#include "fe-common/title.h"
#include "fe.h"
#include "fe_recorder.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

title_fields connected(int type)
{
    title_fields f;
    f.type = type;
    f.connected = true;
    f.nick = "me";
    f.network = "Libera";
    f.channel = type == 3 ? "bob" : "#lumen";
    return f;
}

} // namespace

TEST(WindowTitle, FormatPerSessionTypeAndSettings)
{
    struct row {
        int type;
        bool connected, nick, modes, ucount;
        std::optional<std::string> mode_string;
        const char *expected;
    };
    const std::optional<std::string> nt = "+nt", none, empty = "";
    const std::vector<row> rows = {
        {1, false, true, true, true, nt, "Lumenwick"},
        {2, false, true, true, true, nt, "Lumenwick"},
        {4, false, true, true, true, nt, "Lumenwick"},
        {3, false, true, true, true, nt, "Dialog with bob @ Libera - Lumenwick"},
        {1, true, true, false, false, none, "me @ Libera - Lumenwick"},
        {2, true, true, false, false, none, "me @ Libera / #lumen - Lumenwick"},
        {3, true, true, false, false, none, "Dialog with bob @ Libera - Lumenwick"},
        {4, true, true, false, false, none, "me @ Libera (notices) - Lumenwick"},
        {5, true, true, false, false, none, "me @ Libera (notices) - Lumenwick"},
        {1, true, false, false, false, none, "Libera - Lumenwick"},
        {2, true, false, false, false, none, "Libera / #lumen - Lumenwick"},
        {3, true, false, false, false, none, "Dialog with bob @ Libera - Lumenwick"},
        {4, true, false, false, false, none, "Libera (notices) - Lumenwick"},
        // Modes and the user count only with their settings; modes only when known.
        {2, true, true, false, false, nt, "me @ Libera / #lumen - Lumenwick"},
        {2, true, true, true, false, nt, "me @ Libera / #lumen (+nt) - Lumenwick"},
        {2, true, true, true, true, nt, "me @ Libera / #lumen (+nt) - Lumenwick (42)"},
        {2, true, true, true, true, none, "me @ Libera / #lumen - Lumenwick (42)"},
        {2, true, true, true, true, empty, "me @ Libera / #lumen - Lumenwick (42)"},
        {1, true, true, true, true, nt, "me @ Libera - Lumenwick"},
    };
    for (const row &r : rows) {
        title_fields f = connected(r.type);
        f.connected = r.connected;
        f.show_nick = r.nick;
        f.show_modes = r.modes;
        f.show_user_count = r.ucount;
        f.mode_string = r.mode_string;
        f.user_count = 42;
        EXPECT_EQ(window_title(f), r.expected) << "type " << r.type;
    }
}

TEST(WindowTitle, LongTitleIsCutWithinBufferOnCharacterBoundary)
{
    title_fields f = connected(2);
    f.channel = "#";
    for (int i = 0; i < 300; ++i)
        f.channel += "\xc3\xa9"; // é, two bytes each
    const std::string t = window_title(f);
    EXPECT_LE(t.size(), TITLE_BUFFER_SIZE - 1);
    EXPECT_GT(t.size(), TITLE_BUFFER_SIZE - 3);
    EXPECT_TRUE(g_utf8_validate(t.data(), static_cast<gssize>(t.size()), nullptr)) << t;
}

TEST(LagMeter, MeasuredLag)
{
    EXPECT_EQ(lag_meter(0, 0, 5000), (meter_text{0.0, "0.0s", "Lag: 0.0 seconds"}));
    EXPECT_EQ(lag_meter(450, 0, 5000), (meter_text{0.45, "0.4s", "Lag: 0.4 seconds"}));
    // The bar is full from one second on.
    EXPECT_EQ(lag_meter(1234, 0, 5000), (meter_text{1.0, "1.2s", "Lag: 1.2 seconds"}));
    // An answered probe is not capped.
    EXPECT_EQ(lag_meter(45000, 0, 5000), (meter_text{1.0, "45.0s", "Lag: 45.0 seconds"}));
    // A wall clock stepped backwards while measuring shows no lag.
    EXPECT_EQ(lag_meter(-5, 0, 5000), (meter_text{0.0, "0.0s", "Lag: 0.0 seconds"}));
}

TEST(LagMeter, OutstandingProbeGrowsWithPlusAndCapsAtThirtySeconds)
{
    EXPECT_EQ(lag_meter(-1, 0, 5000), std::nullopt) << "no probe outstanding: nothing changes";
    EXPECT_EQ(lag_meter(-1, 10000, 10500), (meter_text{0.5, "+0.5s", "Lag: +0.5 seconds"}));
    EXPECT_EQ(lag_meter(-1, 10000, 55000), (meter_text{1.0, "+30.0s", "Lag: +30.0 seconds"}));
    EXPECT_EQ(lag_meter(45000, 10000, 55000), (meter_text{1.0, "+30.0s", "Lag: +30.0 seconds"}));
    // A clock that went backwards shows no lag rather than a huge one.
    EXPECT_EQ(lag_meter(-1, 10000, 9000), (meter_text{0.0, "+0.0s", "Lag: +0.0 seconds"}));
}

TEST(ThrottleMeter, QueueBytesFillTheBarAtOneKilobyte)
{
    EXPECT_EQ(throttle_meter(0), (meter_text{0.0, "0 bytes", "Network send queue: 0 bytes"}));
    EXPECT_EQ(throttle_meter(512), (meter_text{0.5, "512 bytes", "Network send queue: 512 bytes"}));
    EXPECT_EQ(throttle_meter(4096), (meter_text{1.0, "4096 bytes", "Network send queue: 4096 bytes"}));
    EXPECT_EQ(throttle_meter(-3), (meter_text{0.0, "0 bytes", "Network send queue: 0 bytes"}));
}

// A negative interval must not wrap around to a timer that fires in weeks.
TEST(MainLoop, NegativeIntervalFiresAtOnce)
{
    static int ms_runs, s_runs;
    ms_runs = s_runs = 0;
    fe_timeout_add(
        -1,
        [](void *) {
            ++ms_runs;
            return 0;
        },
        nullptr);
    fe_timeout_add_seconds(
        -1,
        [](void *) {
            ++s_runs;
            return 0;
        },
        nullptr);
    EXPECT_TRUE(fe_recorder::run_until([] { return ms_runs == 1 && s_runs == 1; }, 1500));
    fe_recorder::run_for(20);
    EXPECT_EQ(ms_runs, 1) << "a false result stops the timer";
}
