// The Task Scheduler task definitions that DOZECTL install registers, made
// from the templates in dozectl_task.cpp, and the schtasks command lines
// that register and remove them. Pure, so that the XML is checked on the
// host; writing the files and running schtasks is dozectl_install_win32.cpp.
#pragma once

#include <cstdint>

#include "tools/dozectl_text.h"

enum class TaskKind {
    Supervisor, // the supervisor at the user's logon
    Nightly,    // DOZECTLW sleep SECONDS every day at HH:MM
};

constexpr char SUPERVISOR_TASK_NAME[] = "DOZEWARD";
constexpr char NIGHTLY_TASK_NAME[] = "DOZEWARD nightly sleep";

struct TaskValues {
    const char* folder;  // where the programs lie, without a final backslash
    const char* account; // DOMAIN\user (or user) the tasks run as
    int nightlyHour = 0; // Nightly only: the PC's local time
    int nightlyMinute = 0;
    std::int32_t wakeAfterSeconds = 0;
};

// The whole document, declared as UTF-16 since that is how it is written for
// schtasks; every value is escaped for XML. Returns false if it did not fit.
bool BuildTaskXml(TaskKind kind, const TaskValues& values, TextBuffer& text);

// schtasks /Create /TN "name" /XML "xmlPath" /F, and schtasks /Delete /TN "name" /F.
bool BuildCreateCommand(TaskKind kind, const char* xmlPath, TextBuffer& text);
bool BuildDeleteCommand(TaskKind kind, TextBuffer& text);

// Escapes & < > " ' for XML text and attribute values.
void AppendXmlEscaped(TextBuffer& text, const char* value);
