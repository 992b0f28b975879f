// DOZECTL status as text, from readings of the status query: in words and
// as key=value lines, for each stage that reads differently.
#include <gtest/gtest.h>

#include <string>

#include "tools/dozectl_status.h"

namespace {

// Packed times: (year - 2000) << 26 | month << 22 | day << 17 | second of the day.
constexpr std::uint32_t AT_2026_12_11_23_00_00 = 1796686704u;
constexpr std::uint32_t AT_2026_12_11_23_00_07 = 1796686711u;
constexpr std::uint32_t AT_2026_12_12_05_00_17 = 1796752993u;

StatusReading Running(std::uint32_t stage)
{
    StatusReading reading;
    reading.supervisorRuns = true;
    reading.fields[STATUS_VERSION] = 0x010203;
    reading.fields[STATUS_CYCLE_STAGE] = stage;
    return reading;
}

std::string Format(const StatusReading& reading, bool keyValue)
{
    char buffer[2048];
    TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
    FormatStatus(reading, keyValue, text);
    return buffer;
}

// The line that starts with prefix, without its end.
std::string Line(const std::string& text, const std::string& prefix)
{
    const std::size_t start = text.find(prefix);
    if (start == std::string::npos) {
        return "<no line " + prefix + ">";
    }
    return text.substr(start, text.find('\n', start) - start);
}

TEST(FormatStatus, CycleLineInEachStage)
{
    StatusReading refused = Running(3);
    // Armed at 23:00:00 for six hours and a day: due the day after.
    refused.fields[STATUS_WAKE_ARMED_AT] = AT_2026_12_11_23_00_00;
    refused.fields[STATUS_WAKE_DELAY_SECONDS] = 6 * 3600;
    refused.fields[STATUS_HIBERNATION] = 2;
    refused.fields[STATUS_HIBERNATION_AT] = AT_2026_12_11_23_00_07;
    StatusReading earlyWake = refused;
    earlyWake.fields[STATUS_HIBERNATION] = 1;
    StatusReading armed = refused;
    armed.fields[STATUS_CYCLE_STAGE] = 2;
    armed.fields[STATUS_HIBERNATION] = 0;
    StatusReading noWake = Running(2);

    const struct {
        StatusReading reading;
        const char* cycleLine;
        const char* keyLine;
    } cases[] = {
        {Running(0), "cycle: none under way", "cycle=none"},
        {Running(1), "cycle: closing the companion before the hibernation", "cycle=closing"},
        {armed, "cycle: hibernating, the wake-up at 05:00:00 UTC on 2026-12-12", "cycle=armed"},
        {noWake, "cycle: hibernating, no wake-up armed (the PC wakes only by hand)", "cycle=armed"},
        {refused,
         "cycle: waiting for the wake-up at 05:00:00 UTC on 2026-12-12; hibernation was "
         "refused at 23:00:07 UTC on 2026-12-11",
         "cycle=waiting"},
        {earlyWake,
         "cycle: waiting for the wake-up at 05:00:00 UTC on 2026-12-12; the PC woke before it "
         "('DOZECTL cancel' restarts the companion now)",
         "cycle=waiting"},
        {Running(4), "cycle: woken, restarting the companion", "cycle=finishing"},
        {Running(9), "cycle: in a stage this DOZECTL does not know (9)", "cycle=unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cycleLine);
        EXPECT_EQ(Line(Format(c.reading, false), "cycle:"), c.cycleLine);
        EXPECT_EQ(Line(Format(c.reading, true), "cycle="), c.keyLine);
    }
}

TEST(FormatStatus, WholeReportInBothForms)
{
    StatusReading reading = Running(0);
    reading.companionWindow = true;
    reading.fields[STATUS_HIBERNATION] = 1;
    reading.fields[STATUS_HIBERNATION_AT] = AT_2026_12_11_23_00_07;
    reading.fields[STATUS_WATCHDOG_ARMED] = 1;
    reading.fields[STATUS_COMPANION_STARTS] = 3;
    reading.fields[STATUS_COMPANION_START_FAILURES] = 2;
    reading.fields[STATUS_LAST_START_AT] = AT_2026_12_12_05_00_17;
    reading.fields[STATUS_CYCLES_STARTED] = 4;
    reading.fields[STATUS_WAKE_UPS_CANCELLED] = 1;
    EXPECT_EQ(Format(reading, false),
              "supervisor: running, version 1.2.3\n"
              "companion: its window is open\n"
              "cycle: none under way\n"
              "last hibernation: accepted at 23:00:07 UTC on 2026-12-11\n"
              "watchdog: armed\n"
              "companion starts: 3, the last at 05:00:17 UTC on 2026-12-12; failed starts: 2\n"
              "cycles started: 4; wake-ups cancelled: 1\n");
    EXPECT_EQ(Format(reading, true), "supervisor=running\n"
                                     "companion_window=present\n"
                                     "version=1.2.3\n"
                                     "cycle=none\n"
                                     "wake_due_utc=none\n"
                                     "hibernation=accepted\n"
                                     "hibernation_at_utc=2026-12-11T23:00:07Z\n"
                                     "watchdog=armed\n"
                                     "companion_starts=3\n"
                                     "companion_start_failures=2\n"
                                     "last_start_utc=2026-12-12T05:00:17Z\n"
                                     "cycles_started=4\n"
                                     "wake_ups_cancelled=1\n");
}

TEST(FormatStatus, NoSupervisorOrOneWithoutTheQuery)
{
    StatusReading none;
    EXPECT_EQ(Format(none, false), "supervisor: not running in this session\n"
                                   "companion: no window open\n");
    EXPECT_EQ(Format(none, true), "supervisor=not running\ncompanion_window=missing\n");
    StatusReading older;
    older.supervisorRuns = true;
    EXPECT_EQ(Line(Format(older, false), "supervisor:"),
              "supervisor: running, an older version that cannot say what it is doing");
    EXPECT_EQ(Line(Format(older, true), "version="), "version=unknown");
}

// The formatter and the bounded buffer: numbers, padding and the cut.
TEST(TextBuffer, DecimalsAndCuts)
{
    const struct {
        std::uint32_t value;
        int minDigits;
        const char* text;
    } decimals[] = {
        {0, 1, "0"},           {5, 2, "05"},      {123, 2, "123"},
        {7, 4, "0007"},        {2026, 4, "2026"}, {4294967295u, 1, "4294967295"},
        {1, 12, "0000000001"}, // padding stops at ten digits
    };
    for (const auto& d : decimals) {
        char buffer[32];
        TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
        AppendDecimal(text, d.value, d.minDigits);
        EXPECT_STREQ(buffer, d.text);
    }
    char small[6];
    TextBuffer text = MakeTextBuffer(small, sizeof(small));
    AppendText(text, "abc");
    AppendDecimal(text, 12345);
    EXPECT_STREQ(small, "abc12");
    AppendText(text, "more");
    EXPECT_STREQ(small, "abc12");
    EXPECT_EQ(text.length, 5u);
}

} // namespace
