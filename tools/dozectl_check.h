// DOZECTL check: what was read from this PC, and the decision on each item,
// as a pure function so that every combination can be tested as a table.
// Reading the PC is Windows work and lives in dozectl_check_win32.cpp.
#pragma once

#include <cstdint>

#include "tools/dozectl_text.h"

// A yes-or-no reading that may have failed (an API missing or refusing, as
// under some emulators): Unknown is never taken as good.
enum class Answer { Unknown, No, Yes };

// A power setting's index as read, or -1 when it could not be read.
constexpr int SETTING_UNKNOWN = -1;

struct CheckReadings {
    const char* folder = ""; // where the supervisor (or else DOZECTL) lies
    Answer supervisorRuns = Answer::Unknown;
    Answer companionBeside = Answer::Unknown;
    Answer folderWritable = Answer::Unknown;
    // From the power capabilities.
    Answer hibernationOffered = Answer::Unknown; // S4 is available
    Answer hibernationFile = Answer::Unknown;    // a hibernation file is present
    Answer battery = Answer::Unknown;
    // The active plan's "allow wake timers" and "require a password on wakeup".
    int wakeTimersAc = SETTING_UNKNOWN;
    int wakeTimersDc = SETTING_UNKNOWN;
    int signInOnWakeAc = SETTING_UNKNOWN;
    int signInOnWakeDc = SETTING_UNKNOWN;
    Answer shutdownPrivilege = Answer::Unknown;
};

enum class Verdict { Ok, Warning, Failed, Unknown };

struct CheckItem {
    Verdict verdict;
    const char* subject; // what is checked, e.g. "wake timers on AC power"
    const char* finding; // what was found; "" when all is well
    const char* fix;     // the command or step that fixes it, lines split by '\n'; "" for none
};

constexpr int CHECK_ITEM_COUNT = 8;

struct CheckReport {
    CheckItem items[CHECK_ITEM_COUNT];
    int failed; // items that would make a cycle fail
};

CheckReport DecideChecks(const CheckReadings& readings);

// One block per item and a closing line; folder is named where it matters.
void FormatCheckReport(const CheckReport& report, const char* folder, TextBuffer& text);
