// DOZECTL check on Windows: reads what the night's cycle depends on, as the
// user who runs it, and hands the readings to DecideChecks.
//
// Every reading that fails (an API missing or refusing, as some emulators
// do) stays Unknown or SETTING_UNKNOWN; nothing is guessed.
#include <cstddef>

#include "app/supervisor_state.h"
#include "tools/dozectl_check.h"
#include "tools/dozectl_win32.h"

namespace {

// Power setting identifiers as Microsoft documents them: the sleep subgroup
// and its "allow wake timers" (powercfg's SUB_SLEEP and RTCWAKE), and
// "require a password on wakeup", which belongs to no subgroup (SUB_NONE,
// CONSOLELOCK).
const GUID SLEEP_SUBGROUP = {
    0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
const GUID ALLOW_WAKE_TIMERS = {
    0xbd3b718a, 0x0680, 0x4d9d, {0x8a, 0xb2, 0xe1, 0xd2, 0xb4, 0xac, 0x80, 0x6d}};
const GUID NO_SUBGROUP = {
    0xfea3413e, 0x7e05, 0x4911, {0x9a, 0x71, 0x70, 0x03, 0x31, 0xf1, 0xc2, 0x94}};
const GUID SIGN_IN_ON_WAKE = {
    0x0e796bdb, 0x100d, 0x47d6, {0xa2, 0xd5, 0xf7, 0xd2, 0xda, 0xa5, 0x1f, 0x51}};

constexpr DWORD PATH_SIZE = MAX_PATH;
constexpr std::size_t REPORT_SIZE = 4096;

// The folder of the running supervisor's executable, or else of DOZECTL's.
void FindFolder(HWND control, char (&folder)[PATH_SIZE])
{
    folder[0] = '\0';
    DWORD processId = 0;
    if (control != NULL && GetWindowThreadProcessId(control, &processId) != 0) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (process != NULL) {
            DWORD size = PATH_SIZE;
            if (QueryFullProcessImageNameA(process, 0, folder, &size) == FALSE) {
                folder[0] = '\0';
            }
            CloseHandle(process);
        }
    }
    if (folder[0] == '\0') {
        const DWORD length = GetModuleFileNameA(NULL, folder, PATH_SIZE);
        if (length == 0 || length >= PATH_SIZE) {
            folder[0] = '\0';
        }
    }
    char* lastBackslash = nullptr;
    for (char* c = folder; *c != '\0'; ++c) {
        if (*c == '\\') {
            lastBackslash = c;
        }
    }
    if (lastBackslash == nullptr) {
        folder[0] = '\0';
    } else {
        *lastBackslash = '\0';
    }
}

// folder + "\" + name, or false when it would not fit.
bool JoinPath(const char* folder, const char* name, char (&path)[PATH_SIZE])
{
    TextBuffer text = MakeTextBuffer(path, PATH_SIZE);
    AppendText(text, folder);
    AppendText(text, "\\");
    const std::size_t before = text.length;
    AppendText(text, name);
    std::size_t nameLength = 0;
    while (name[nameLength] != '\0') {
        ++nameLength;
    }
    return text.length == before + nameLength;
}

Answer FileThere(const char* folder, const char* name)
{
    char path[PATH_SIZE];
    if (folder[0] == '\0' || !JoinPath(folder, name, path)) {
        return Answer::Unknown;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? Answer::Yes : Answer::No;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Answer::No
                                                                          : Answer::Unknown;
}

// A file of its own, removed again on close, tells whether this user may
// write in the folder; a read-only log would take no entries either.
Answer FolderWritable(const char* folder)
{
    char path[PATH_SIZE];
    if (folder[0] == '\0' || !JoinPath(folder, LOG_FILE_NAME, path)) {
        return Answer::Unknown;
    }
    const DWORD logAttributes = GetFileAttributesA(path);
    if (logAttributes != INVALID_FILE_ATTRIBUTES &&
        (logAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return Answer::No;
    }
    if (!JoinPath(folder, "DOZECTL-CHECK.TMP", path)) {
        return Answer::Unknown;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_ACCESS_DENIED ? Answer::No : Answer::Unknown;
    }
    CloseHandle(file);
    return Answer::Yes;
}

Answer FromBool(BOOLEAN value) { return value ? Answer::Yes : Answer::No; }

void ReadPowerPlan(CheckReadings& readings)
{
    GUID* scheme = NULL;
    if (PowerGetActiveScheme(NULL, &scheme) != ERROR_SUCCESS || scheme == NULL) {
        return;
    }
    DWORD value = 0;
    if (PowerReadACValueIndex(NULL, scheme, &SLEEP_SUBGROUP, &ALLOW_WAKE_TIMERS, &value) ==
        ERROR_SUCCESS) {
        readings.wakeTimersAc = static_cast<int>(value);
    }
    if (PowerReadDCValueIndex(NULL, scheme, &SLEEP_SUBGROUP, &ALLOW_WAKE_TIMERS, &value) ==
        ERROR_SUCCESS) {
        readings.wakeTimersDc = static_cast<int>(value);
    }
    if (PowerReadACValueIndex(NULL, scheme, &NO_SUBGROUP, &SIGN_IN_ON_WAKE, &value) ==
        ERROR_SUCCESS) {
        readings.signInOnWakeAc = static_cast<int>(value);
    }
    if (PowerReadDCValueIndex(NULL, scheme, &NO_SUBGROUP, &SIGN_IN_ON_WAKE, &value) ==
        ERROR_SUCCESS) {
        readings.signInOnWakeDc = static_cast<int>(value);
    }
    LocalFree(scheme);
}

// Held, enabled or not: the supervisor enables it itself before it asks
// for hibernation.
Answer ShutdownPrivilegeHeld()
{
    LUID shutdown = {};
    if (LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &shutdown) == FALSE) {
        return Answer::Unknown;
    }
    HANDLE token = NULL;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
        return Answer::Unknown;
    }
    // A token holds a few dozen privileges at most, 12 bytes each: a fixed
    // buffer does, and a larger list reads as unknown.
    alignas(TOKEN_PRIVILEGES) unsigned char buffer[1024];
    DWORD size = 0;
    Answer answer = Answer::Unknown;
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &size) != FALSE) {
        const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
        const DWORD room =
            (sizeof(buffer) - offsetof(TOKEN_PRIVILEGES, Privileges)) / sizeof(LUID_AND_ATTRIBUTES);
        const DWORD count = privileges->PrivilegeCount < room ? privileges->PrivilegeCount : room;
        answer = Answer::No;
        for (DWORD i = 0; i < count; ++i) {
            const LUID& luid = privileges->Privileges[i].Luid;
            if (luid.LowPart == shutdown.LowPart && luid.HighPart == shutdown.HighPart) {
                answer = Answer::Yes;
            }
        }
    }
    CloseHandle(token);
    return answer;
}

} // namespace

bool ProgramBeside(const char* folder, const char* name)
{
    return FileThere(folder, name) == Answer::Yes;
}

int RunCheck()
{
    CheckReadings readings;
    HWND control = FindWindowA(CONTROL_CLASS_NAME, NULL);
    readings.supervisorRuns = control != NULL ? Answer::Yes : Answer::No;
    char folder[PATH_SIZE];
    FindFolder(control, folder);
    readings.folder = folder[0] != '\0' ? folder : "(unknown)";
    readings.companionBeside = FileThere(folder, COMPANION_FILE_NAME);
    readings.folderWritable = FolderWritable(folder);

    SYSTEM_POWER_CAPABILITIES capabilities = {};
    if (GetPwrCapabilities(&capabilities)) {
        readings.hibernationOffered = FromBool(capabilities.SystemS4);
        readings.hibernationFile = FromBool(capabilities.HiberFilePresent);
        readings.battery = FromBool(capabilities.SystemBatteriesPresent);
    }
    ReadPowerPlan(readings);
    readings.shutdownPrivilege = ShutdownPrivilegeHeld();

    const CheckReport report = DecideChecks(readings);
    // Too large for the stack, whose frames are kept small.
    char* buffer = static_cast<char*>(LocalAlloc(LMEM_FIXED, REPORT_SIZE));
    if (buffer == NULL) {
        return Fail(EXIT_CHECK_FAILED, "no memory for the report");
    }
    TextBuffer text = MakeTextBuffer(buffer, REPORT_SIZE);
    FormatCheckReport(report, readings.folder, text);
    WriteOut(buffer);
    LocalFree(buffer);
    return report.failed == 0 ? EXIT_DONE : EXIT_CHECK_FAILED;
}
