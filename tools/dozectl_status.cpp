// The status report in words and as key=value lines.
//
// Times are UTC, as the supervisor's log writes them, with the date, since a
// wake-up may be due tomorrow. A field that holds no time (0) is "none".
#include "tools/dozectl_status.h"

#include "app/utc_time.h"

namespace {

// Three numbers with a separator between them: a date or a time of day.
void AppendTriple(TextBuffer& text, const int (&parts)[3], const char* separator, int firstDigits)
{
    AppendDecimal(text, parts[0], firstDigits);
    AppendText(text, separator);
    AppendDecimal(text, parts[1], 2);
    AppendText(text, separator);
    AppendDecimal(text, parts[2], 2);
}

// 2026-12-12T05:00:00Z for a script, 05:00:00 UTC on 2026-12-12 for a person.
void AppendTime(TextBuffer& text, const UtcDateTime& time, bool keyValue)
{
    const int date[3] = {time.year, time.month, time.day};
    const int clock[3] = {time.hour, time.minute, time.second};
    if (keyValue) {
        AppendTriple(text, date, "-", 4);
        AppendText(text, "T");
        AppendTriple(text, clock, ":", 2);
        AppendText(text, "Z");
    } else {
        AppendTriple(text, clock, ":", 2);
        AppendText(text, " UTC on ");
        AppendTriple(text, date, "-", 4);
    }
}

void AppendVersion(TextBuffer& text, std::uint32_t packed)
{
    AppendDecimal(text, packed >> 16);
    AppendText(text, ".");
    AppendDecimal(text, (packed >> 8) & 0xFF);
    AppendText(text, ".");
    AppendDecimal(text, packed & 0xFF);
}

const char* const STAGE_KEYS[] = {"none", "closing", "armed", "waiting", "finishing"};
const char* const HIBERNATION_KEYS[] = {"none", "accepted", "refused"};

const char* KeyOf(std::uint32_t value, const char* const* keys, std::uint32_t count)
{
    return value < count ? keys[value] : "unknown";
}

void KeyValueLine(TextBuffer& text, const char* key, const char* value)
{
    AppendText(text, key);
    AppendText(text, "=");
    AppendText(text, value);
    AppendText(text, "\n");
}

void KeyNumberLine(TextBuffer& text, const char* key, std::uint32_t value)
{
    AppendText(text, key);
    AppendText(text, "=");
    AppendDecimal(text, value);
    AppendText(text, "\n");
}

void KeyTimeLine(TextBuffer& text, const char* key, std::uint32_t packed)
{
    AppendText(text, key);
    AppendText(text, "=");
    if (packed == 0) {
        AppendText(text, "none");
    } else {
        AppendTime(text, UnpackUtcTime(packed), true);
    }
    AppendText(text, "\n");
}

// The wake-up's due time: when it was armed, and the delay after that.
UtcDateTime WakeDue(const std::uint32_t* f)
{
    return UtcDateTimeFromSeconds(UtcSecondsFromDateTime(UnpackUtcTime(f[STATUS_WAKE_ARMED_AT])) +
                                  f[STATUS_WAKE_DELAY_SECONDS]);
}

void FormatKeyValue(const StatusReading& reading, TextBuffer& text)
{
    const std::uint32_t* f = reading.fields;
    KeyValueLine(text, "supervisor", reading.supervisorRuns ? "running" : "not running");
    KeyValueLine(text, "companion_window", reading.companionWindow ? "present" : "missing");
    if (!reading.supervisorRuns) {
        return;
    }
    if (f[STATUS_VERSION] == 0) {
        KeyValueLine(text, "version", "unknown");
        return;
    }
    AppendText(text, "version=");
    AppendVersion(text, f[STATUS_VERSION]);
    AppendText(text, "\n");
    KeyValueLine(text, "cycle", KeyOf(f[STATUS_CYCLE_STAGE], STAGE_KEYS, 5));
    AppendText(text, "wake_due_utc=");
    if (f[STATUS_WAKE_ARMED_AT] == 0) {
        AppendText(text, "none");
    } else {
        AppendTime(text, WakeDue(f), true);
    }
    AppendText(text, "\n");
    KeyValueLine(text, "hibernation", KeyOf(f[STATUS_HIBERNATION], HIBERNATION_KEYS, 3));
    KeyTimeLine(text, "hibernation_at_utc", f[STATUS_HIBERNATION_AT]);
    KeyValueLine(text, "watchdog", f[STATUS_WATCHDOG_ARMED] != 0 ? "armed" : "stopped");
    KeyNumberLine(text, "companion_starts", f[STATUS_COMPANION_STARTS]);
    KeyNumberLine(text, "companion_start_failures", f[STATUS_COMPANION_START_FAILURES]);
    KeyTimeLine(text, "last_start_utc", f[STATUS_LAST_START_AT]);
    KeyNumberLine(text, "cycles_started", f[STATUS_CYCLES_STARTED]);
    KeyNumberLine(text, "wake_ups_cancelled", f[STATUS_WAKE_UPS_CANCELLED]);
}

void AppendWakeUp(TextBuffer& text, const std::uint32_t* f)
{
    if (f[STATUS_WAKE_ARMED_AT] == 0) {
        AppendText(text, "no wake-up armed (the PC wakes only by hand)");
        return;
    }
    AppendText(text, "the wake-up at ");
    AppendTime(text, WakeDue(f), false);
}

void FormatWords(const StatusReading& reading, TextBuffer& text)
{
    const std::uint32_t* f = reading.fields;
    AppendText(text, "supervisor: ");
    if (!reading.supervisorRuns) {
        AppendText(text, "not running in this session\n");
    } else if (f[STATUS_VERSION] == 0) {
        AppendText(text, "running, an older version that cannot say what it is doing\n");
    } else {
        AppendText(text, "running, version ");
        AppendVersion(text, f[STATUS_VERSION]);
        AppendText(text, "\n");
    }
    AppendText(text, "companion: ");
    AppendText(text, reading.companionWindow ? "its window is open\n" : "no window open\n");
    if (!reading.supervisorRuns || f[STATUS_VERSION] == 0) {
        return;
    }

    AppendText(text, "cycle: ");
    const std::uint32_t hibernation = f[STATUS_HIBERNATION];
    switch (f[STATUS_CYCLE_STAGE]) {
    case STAGE_NONE:
        AppendText(text, "none under way");
        break;
    case STAGE_CLOSING:
        AppendText(text, "closing the companion before the hibernation");
        break;
    case STAGE_ARMED:
        AppendText(text, "hibernating, ");
        AppendWakeUp(text, f);
        break;
    case STAGE_WAITING:
        AppendText(text, "waiting for ");
        AppendWakeUp(text, f);
        if (hibernation == HIBERNATION_REFUSED) {
            AppendText(text, "; hibernation was refused at ");
            AppendTime(text, UnpackUtcTime(f[STATUS_HIBERNATION_AT]), false);
        } else if (hibernation == HIBERNATION_ACCEPTED) {
            AppendText(text, "; the PC woke before it ('DOZECTL cancel' restarts the "
                             "companion now)");
        }
        break;
    case STAGE_FINISHING:
        AppendText(text, "woken, restarting the companion");
        break;
    default:
        AppendText(text, "in a stage this DOZECTL does not know (");
        AppendDecimal(text, f[STATUS_CYCLE_STAGE]);
        AppendText(text, ")");
        break;
    }
    AppendText(text, "\n");

    AppendText(text, "last hibernation: ");
    if (hibernation == HIBERNATION_NONE) {
        AppendText(text, "none requested");
    } else {
        AppendText(text, hibernation == HIBERNATION_ACCEPTED ? "accepted at " : "refused at ");
        AppendTime(text, UnpackUtcTime(f[STATUS_HIBERNATION_AT]), false);
    }
    AppendText(text, "\nwatchdog: ");
    AppendText(text, f[STATUS_WATCHDOG_ARMED] != 0 ? "armed" : "stopped");
    AppendText(text, "\ncompanion starts: ");
    AppendDecimal(text, f[STATUS_COMPANION_STARTS]);
    if (f[STATUS_LAST_START_AT] != 0) {
        AppendText(text, ", the last at ");
        AppendTime(text, UnpackUtcTime(f[STATUS_LAST_START_AT]), false);
    }
    AppendText(text, "; failed starts: ");
    AppendDecimal(text, f[STATUS_COMPANION_START_FAILURES]);
    AppendText(text, "\ncycles started: ");
    AppendDecimal(text, f[STATUS_CYCLES_STARTED]);
    AppendText(text, "; wake-ups cancelled: ");
    AppendDecimal(text, f[STATUS_WAKE_UPS_CANCELLED]);
    AppendText(text, "\n");
}

} // namespace

void FormatStatus(const StatusReading& reading, bool keyValue, TextBuffer& text)
{
    if (keyValue) {
        FormatKeyValue(reading, text);
    } else {
        FormatWords(reading, text);
    }
}
