// DOZECTL: the operator's command tool for the DOZEWARD supervisor.
//
// It finds the supervisor's control window by its class name and sends it
// one command, bounded in time so that a hung supervisor cannot hang the
// tool (or the scheduled task that runs it). Since the command message
// itself always answers 0, DOZECTL asks the status query before and after a
// command to learn whether it took effect, and says so in its exit code
// (listed in the usage, dozectl_args.cpp).
//
// Output is written with WriteFile from bounded buffers, never with the
// printf family: see dozectl_text.h. The same source is built twice: the
// console program DOZECTL.EXE, and DOZECTLW.EXE for scheduled tasks, a GUI
// subsystem program that Windows starts without a console window, so that
// nothing flashes on the kiosk's screen.
#include "app/status.h"
#include "app/supervisor_state.h"
#include "tools/dozectl_args.h"
#include "tools/dozectl_status.h"
#include "tools/dozectl_text.h"
#include "tools/dozectl_win32.h"

namespace {

constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr DWORD STOP_WAIT_MS = 10000;
constexpr DWORD POLL_MS = 100;
// A status reading is taken again if a field changed while it was read.
constexpr int STATUS_READ_ATTEMPTS = 3;

void WriteTo(DWORD which, const char* text)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    // Line by line, so that each "\n" goes out as CR LF.
    while (*text != '\0') {
        DWORD length = 0;
        while (text[length] != '\0' && text[length] != '\n') {
            ++length;
        }
        DWORD written = 0;
        if (length > 0) {
            WriteFile(handle, text, length, &written, NULL);
        }
        if (text[length] == '\0') {
            return;
        }
        WriteFile(handle, "\r\n", 2, &written, NULL);
        text += length + 1;
    }
}

// One message to the supervisor, answered within SEND_TIMEOUT_MS.
int Ask(HWND control, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result)
{
    result = 0;
    SetLastError(ERROR_SUCCESS);
    if (SendMessageTimeoutA(control, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            SEND_TIMEOUT_MS, &result) != 0) {
        return EXIT_DONE;
    }
    // Windows keeps a program from sending to one that runs with higher rights.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
        return Fail(EXIT_ACCESS_DENIED,
                    "Windows refused the message: the supervisor runs with higher rights than "
                    "DOZECTL (start both as the same user, neither of them elevated)");
    }
    if (FindWindowA(CONTROL_CLASS_NAME, NULL) == NULL) {
        return Fail(EXIT_NO_SUPERVISOR, "the supervisor ended before it took the command");
    }
    return Fail(EXIT_NO_ANSWER, "the supervisor did not answer in time");
}

int FindSupervisor(HWND& control)
{
    control = FindWindowA(CONTROL_CLASS_NAME, NULL);
    if (control == NULL) {
        return Fail(EXIT_NO_SUPERVISOR, "no supervisor is running in this session");
    }
    return EXIT_DONE;
}

int AskStatus(HWND control, WPARAM field, std::uint32_t& value)
{
    DWORD_PTR result = 0;
    const int code = Ask(control, WM_SUPERVISOR_STATUS, field, 0, result);
    value = static_cast<std::uint32_t>(result);
    return code;
}

// Every field, read again while the change count moves under the reading.
int ReadStatus(HWND control, StatusReading& reading)
{
    reading.supervisorRuns = true;
    int code = AskStatus(control, STATUS_VERSION, reading.fields[STATUS_VERSION]);
    if (code != EXIT_DONE || reading.fields[STATUS_VERSION] == 0) {
        return code;
    }
    for (int attempt = 0; attempt < STATUS_READ_ATTEMPTS; ++attempt) {
        std::uint32_t before = 0;
        code = AskStatus(control, STATUS_CHANGE_COUNT, before);
        for (WPARAM field = STATUS_CHANGE_COUNT + 1;
             field < STATUS_FIELD_COUNT && code == EXIT_DONE; ++field) {
            code = AskStatus(control, field, reading.fields[field]);
        }
        // Read last: unchanged, no field moved while the others were read.
        if (code == EXIT_DONE) {
            code = AskStatus(control, STATUS_CHANGE_COUNT, reading.fields[STATUS_CHANGE_COUNT]);
        }
        if (code != EXIT_DONE || reading.fields[STATUS_CHANGE_COUNT] == before) {
            return code;
        }
    }
    return EXIT_DONE; // still moving: the last reading is as good as any
}

// Finds the supervisor and reads its status: what sleep and cancel look at
// before they send anything.
int FindAndReadSupervisor(HWND& control, StatusReading& reading)
{
    const int code = FindSupervisor(control);
    return code == EXIT_DONE ? ReadStatus(control, reading) : code;
}

int SleepCommand(const DozectlRequest& request)
{
    HWND control = NULL;
    StatusReading before;
    int code = FindAndReadSupervisor(control, before);
    if (code != EXIT_DONE) {
        return code;
    }
    const bool answersStatus = before.fields[STATUS_VERSION] != 0;
    if (answersStatus && before.fields[STATUS_CYCLE_STAGE] != STAGE_NONE) {
        return Fail(EXIT_NO_CYCLE_STARTED, "a cycle is already under way: nothing was sent "
                                           "(DOZECTL status says where it is)");
    }
    DWORD_PTR ignored = 0;
    code = Ask(control, WM_SUPERVISOR_COMMAND, CMD_SLEEP_AND_WAKE,
               static_cast<LPARAM>(request.delaySeconds), ignored);
    if (code != EXIT_DONE || !answersStatus) {
        return code;
    }
    std::uint32_t cyclesAfter = 0;
    code = AskStatus(control, STATUS_CYCLES_STARTED, cyclesAfter);
    if (code == EXIT_DONE && cyclesAfter == before.fields[STATUS_CYCLES_STARTED]) {
        return Fail(EXIT_NO_CYCLE_STARTED,
                    "the supervisor started no cycle: another one began first, or it could not "
                    "start its worker");
    }
    return code;
}

int Cancel()
{
    HWND control = NULL;
    StatusReading before;
    int code = FindAndReadSupervisor(control, before);
    if (code != EXIT_DONE) {
        return code;
    }
    DWORD_PTR ignored = 0;
    code = Ask(control, WM_SUPERVISOR_COMMAND, CMD_CANCEL_WAKE, 0, ignored);
    if (code != EXIT_DONE || before.fields[STATUS_VERSION] == 0) {
        return code;
    }
    std::uint32_t cancelledAfter = 0;
    code = AskStatus(control, STATUS_WAKE_UPS_CANCELLED, cancelledAfter);
    if (code != EXIT_DONE || cancelledAfter != before.fields[STATUS_WAKE_UPS_CANCELLED]) {
        return code;
    }
    if (before.fields[STATUS_CYCLE_STAGE] == STAGE_CLOSING) {
        return Fail(EXIT_NOTHING_ARMED,
                    "no wake-up was armed yet: the cycle is still closing the companion and "
                    "goes on to hibernate (cancel again once it has armed its wake-up)");
    }
    return Fail(EXIT_NOTHING_ARMED, "no wake-up was armed: nothing was cancelled");
}

int Stop()
{
    HWND control = NULL;
    DWORD_PTR ignored = 0;
    int code = FindSupervisor(control);
    if (code == EXIT_DONE) {
        code = Ask(control, WM_CLOSE, 0, 0, ignored);
    }
    if (code != EXIT_DONE) {
        return code;
    }
    // The window goes with the process: wait until it has gone.
    for (DWORD waitedMs = 0; waitedMs < STOP_WAIT_MS; waitedMs += POLL_MS) {
        if (FindWindowA(CONTROL_CLASS_NAME, NULL) == NULL) {
            return EXIT_DONE;
        }
        Sleep(POLL_MS);
    }
    return Fail(EXIT_NO_ANSWER, "the supervisor took the stop but has not ended");
}

int Status(const DozectlRequest& request)
{
    StatusReading reading;
    HWND control = FindWindowA(CONTROL_CLASS_NAME, NULL);
    reading.companionWindow = FindWindowA(COMPANION_CLASS_NAME, NULL) != NULL;
    int code = EXIT_DONE;
    if (control != NULL) {
        code = ReadStatus(control, reading);
    }
    if (code != EXIT_DONE) {
        return code;
    }
    char buffer[1024];
    TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
    FormatStatus(reading, request.keyValue, text);
    WriteOut(buffer);
    // Not finding the supervisor is a failure like any other: the exit code
    // says so to a script, and the line on standard error to a person.
    if (control == NULL) {
        return Fail(EXIT_NO_SUPERVISOR, "no supervisor is running in this session");
    }
    return EXIT_DONE;
}

} // namespace

void WriteOut(const char* text) { WriteTo(STD_OUTPUT_HANDLE, text); }
void WriteErr(const char* text) { WriteTo(STD_ERROR_HANDLE, text); }

int Fail(int code, const char* message)
{
    WriteErr("DOZECTL: ");
    WriteErr(message);
    WriteErr("\n");
    return code;
}

int main(int argc, char** argv)
{
    const DozectlRequest request = ParseDozectlArguments(argc, argv);
    switch (request.verb) {
    case DozectlVerb::Help:
        WriteOut(DOZECTL_USAGE);
        return EXIT_DONE;
    case DozectlVerb::Sleep:
        return SleepCommand(request);
    case DozectlVerb::Cancel:
        return Cancel();
    case DozectlVerb::Stop:
        return Stop();
    case DozectlVerb::Status:
        return Status(request);
    case DozectlVerb::Check:
        return RunCheck();
    case DozectlVerb::Install:
    case DozectlVerb::Uninstall:
        return RunInstall(request);
    case DozectlVerb::BadUsage:
        break;
    }
    if (request.showUsage) {
        WriteErr(DOZECTL_USAGE);
    }
    WriteErr("DOZECTL: ");
    WriteErr(request.error.data());
    WriteErr(" (DOZECTL --help shows the usage)\n");
    return EXIT_BAD_USAGE;
}
