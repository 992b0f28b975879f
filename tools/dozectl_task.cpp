// Task definitions from templates. The templates are the documents as Task
// Scheduler's schema writes them, with {NAME} where a value goes:
//   {ACCOUNT}  the user the task runs as, in the logon trigger and the principal
//   {FOLDER}   the programs' folder: the quoted command and the working directory
//   {HH} {MM}  the nightly start, local time;  {SECONDS} the wake-up delay
//
// The supervisor task starts at the user's logon in the user's interactive
// session (InteractiveToken: no stored password), with the working directory
// its folder so that the log lies there, no run-time limit (PT0S), running
// and staying on battery, and a second start ignored while one runs. Its
// command is the quoted full path: the supervisor finds its folder from the
// quoted path in its command line. The nightly task runs DOZECTLW.EXE, the
// windowless build, so that no console window opens on the kiosk's screen.
#include "tools/dozectl_task.h"

namespace {

const char TASK_HEAD[] =
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
    "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n";

const char SUPERVISOR_TEMPLATE[] =
    "  <RegistrationInfo>\n"
    "    <Description>Starts the DOZEWARD supervisor at logon.</Description>\n"
    "  </RegistrationInfo>\n"
    "  <Triggers>\n"
    "    <LogonTrigger>\n"
    "      <Enabled>true</Enabled>\n"
    "      <UserId>{ACCOUNT}</UserId>\n"
    "    </LogonTrigger>\n"
    "  </Triggers>\n";

const char NIGHTLY_TEMPLATE[] =
    "  <RegistrationInfo>\n"
    "    <Description>Puts the PC through one DOZEWARD sleep-and-wake cycle.</Description>\n"
    "  </RegistrationInfo>\n"
    "  <Triggers>\n"
    "    <CalendarTrigger>\n"
    "      <StartBoundary>2025-01-01T{HH}:{MM}:00</StartBoundary>\n"
    "      <Enabled>true</Enabled>\n"
    "      <ScheduleByDay>\n"
    "        <DaysInterval>1</DaysInterval>\n"
    "      </ScheduleByDay>\n"
    "    </CalendarTrigger>\n"
    "  </Triggers>\n";

const char PRINCIPAL_AND_SETTINGS_TEMPLATE[] =
    "  <Principals>\n"
    "    <Principal id=\"Author\">\n"
    "      <UserId>{ACCOUNT}</UserId>\n"
    "      <LogonType>InteractiveToken</LogonType>\n"
    "      <RunLevel>LeastPrivilege</RunLevel>\n"
    "    </Principal>\n"
    "  </Principals>\n"
    "  <Settings>\n"
    "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
    "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
    "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
    "    <AllowHardTerminate>true</AllowHardTerminate>\n"
    "    <StartWhenAvailable>false</StartWhenAvailable>\n"
    "    <AllowStartOnDemand>true</AllowStartOnDemand>\n"
    "    <Enabled>true</Enabled>\n"
    "    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
    "  </Settings>\n";

const char SUPERVISOR_ACTION_TEMPLATE[] = "  <Actions Context=\"Author\">\n"
                                          "    <Exec>\n"
                                          "      <Command>\"{FOLDER}\\DOZEWARD.EXE\"</Command>\n"
                                          "      <WorkingDirectory>{FOLDER}</WorkingDirectory>\n"
                                          "    </Exec>\n"
                                          "  </Actions>\n"
                                          "</Task>\n";

const char NIGHTLY_ACTION_TEMPLATE[] = "  <Actions Context=\"Author\">\n"
                                       "    <Exec>\n"
                                       "      <Command>\"{FOLDER}\\DOZECTLW.EXE\"</Command>\n"
                                       "      <Arguments>sleep {SECONDS}</Arguments>\n"
                                       "      <WorkingDirectory>{FOLDER}</WorkingDirectory>\n"
                                       "    </Exec>\n"
                                       "  </Actions>\n"
                                       "</Task>\n";

bool StartsWith(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix) {
            return false;
        }
    }
    return true;
}

// Copies a template, putting each {NAME}'s value in its place.
void Fill(TextBuffer& text, const char* pattern, const TaskValues& values)
{
    while (*pattern != '\0') {
        if (StartsWith(pattern, "{ACCOUNT}")) {
            AppendXmlEscaped(text, values.account);
            pattern += 9;
        } else if (StartsWith(pattern, "{FOLDER}")) {
            AppendXmlEscaped(text, values.folder);
            pattern += 8;
        } else if (StartsWith(pattern, "{HH}")) {
            AppendDecimal(text, values.nightlyHour, 2);
            pattern += 4;
        } else if (StartsWith(pattern, "{MM}")) {
            AppendDecimal(text, values.nightlyMinute, 2);
            pattern += 4;
        } else if (StartsWith(pattern, "{SECONDS}")) {
            AppendDecimal(text, values.wakeAfterSeconds);
            pattern += 9;
        } else {
            const char one[2] = {*pattern++, '\0'};
            AppendText(text, one);
        }
    }
}

bool Fits(const TextBuffer& text) { return text.length + 1 < text.size; }

const char* TaskName(TaskKind kind)
{
    return kind == TaskKind::Supervisor ? SUPERVISOR_TASK_NAME : NIGHTLY_TASK_NAME;
}

} // namespace

void AppendXmlEscaped(TextBuffer& text, const char* value)
{
    for (; *value != '\0'; ++value) {
        switch (*value) {
        case '&':
            AppendText(text, "&amp;");
            break;
        case '<':
            AppendText(text, "&lt;");
            break;
        case '>':
            AppendText(text, "&gt;");
            break;
        case '"':
            AppendText(text, "&quot;");
            break;
        case '\'':
            AppendText(text, "&apos;");
            break;
        default: {
            const char one[2] = {*value, '\0'};
            AppendText(text, one);
        }
        }
    }
}

bool BuildTaskXml(TaskKind kind, const TaskValues& values, TextBuffer& text)
{
    const bool supervisor = kind == TaskKind::Supervisor;
    Fill(text, TASK_HEAD, values);
    Fill(text, supervisor ? SUPERVISOR_TEMPLATE : NIGHTLY_TEMPLATE, values);
    Fill(text, PRINCIPAL_AND_SETTINGS_TEMPLATE, values);
    Fill(text, supervisor ? SUPERVISOR_ACTION_TEMPLATE : NIGHTLY_ACTION_TEMPLATE, values);
    return Fits(text);
}

bool BuildCreateCommand(TaskKind kind, const char* xmlPath, TextBuffer& text)
{
    AppendText(text, "schtasks /Create /TN \"");
    AppendText(text, TaskName(kind));
    AppendText(text, "\" /XML \"");
    AppendText(text, xmlPath);
    AppendText(text, "\" /F");
    return Fits(text);
}

bool BuildDeleteCommand(TaskKind kind, TextBuffer& text)
{
    AppendText(text, "schtasks /Delete /TN \"");
    AppendText(text, TaskName(kind));
    AppendText(text, "\" /F");
    return Fits(text);
}
