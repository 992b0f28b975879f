// DOZECTL install and uninstall on Windows: the task definitions for the
// folder DOZECTL lies in and the user who runs it (or --user), written as
// UTF-16 files, as schtasks reads them, and registered with schtasks.
//
// schtasks is run from the system folder by its full path, without a
// console window of its own, and waited for within a bound. With --print
// nothing is written or run: the documents and the command lines are shown.
#include "tools/dozectl_task.h"
#include "tools/dozectl_win32.h"

#include "platform/platform.h"

namespace {

constexpr DWORD PATH_SIZE = MAX_PATH;
constexpr DWORD SCHTASKS_TIMEOUT_MS = 60000;
constexpr std::size_t XML_SIZE = 6144;
constexpr std::size_t COMMAND_SIZE = 2 * MAX_PATH + 128;

// DOZECTL's own folder, without the final backslash.
bool OwnFolder(char (&folder)[PATH_SIZE])
{
    const DWORD length = GetModuleFileNameA(NULL, folder, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE) {
        return false;
    }
    for (DWORD i = length; i > 0; --i) {
        if (folder[i - 1] == '\\') {
            folder[i - 1] = '\0';
            return true;
        }
    }
    return false;
}

// DOMAIN\user of this process's token, so that a domain or a local account
// of the same name cannot be mistaken.
bool CurrentAccount(char* account, DWORD size)
{
    HANDLE token = NULL;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
        return false;
    }
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD needed = 0;
    const BOOL read = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &needed);
    CloseHandle(token);
    if (read == FALSE) {
        return false;
    }
    char name[128];
    char domain[128];
    DWORD nameSize = sizeof(name);
    DWORD domainSize = sizeof(domain);
    SID_NAME_USE use = SidTypeUnknown;
    if (LookupAccountSidA(NULL, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize,
                          domain, &domainSize, &use) == FALSE) {
        return false;
    }
    TextBuffer text = MakeTextBuffer(account, size);
    if (domain[0] != '\0') {
        AppendText(text, domain);
        AppendText(text, "\\");
    }
    AppendText(text, name);
    return text.length + 1 < size;
}

// The document as UTF-16 (little-endian, with its byte-order mark), the
// narrow text taken in the ANSI code page, which the manifest makes UTF-8.
bool WriteXmlFile(const char* path, const char* xml)
{
    WCHAR* wide = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, (XML_SIZE + 1) * sizeof(WCHAR)));
    if (wide == NULL) {
        return false;
    }
    wide[0] = 0xFEFF;
    const int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, xml, -1, wide + 1,
                                          static_cast<int>(XML_SIZE));
    bool written = false;
    HANDLE file = count <= 0 ? INVALID_HANDLE_VALUE
                             : CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        // count includes the final NUL, which takes the place of the mark in the length.
        const DWORD bytes = static_cast<DWORD>(count) * sizeof(WCHAR);
        DWORD done = 0;
        written = WriteFile(file, wide, bytes, &done, NULL) != FALSE && done == bytes;
        CloseHandle(file);
    }
    LocalFree(wide);
    return written;
}

// Runs "schtasks ..." from the system folder; returns its exit code, or -1
// if it could not be run or did not end in time.
int RunSchtasks(const char* arguments)
{
    char command[COMMAND_SIZE + PATH_SIZE];
    char system[PATH_SIZE];
    const UINT length = GetSystemDirectoryA(system, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE) {
        return -1;
    }
    TextBuffer text = MakeTextBuffer(command, sizeof(command));
    AppendText(text, "\"");
    AppendText(text, system);
    AppendText(text, "\\schtasks.exe\"");
    AppendText(text, arguments + 8); // past "schtasks"
    if (text.length + 1 >= sizeof(command)) {
        return -1;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                       &process) == FALSE) {
        return -1;
    }
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, SCHTASKS_TIMEOUT_MS) != WAIT_OBJECT_0 ||
        GetExitCodeProcess(process.hProcess, &exitCode) == FALSE) {
        exitCode = static_cast<DWORD>(-1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

// "DOZECTL: <what> failed (schtasks exit N)" or the reason it did not run.
int SchtasksFailed(const char* what, int exitCode)
{
    char message[200];
    TextBuffer text = MakeTextBuffer(message, sizeof(message));
    AppendText(text, what);
    if (exitCode < 0) {
        AppendText(text, ": schtasks could not be run or did not end within 60 s");
    } else {
        AppendText(text, ": schtasks ended with exit code ");
        AppendDecimal(text, exitCode);
    }
    return Fail(EXIT_INSTALL_FAILED, message);
}

int InstallTasks(const DozectlRequest& request, const TaskValues& values, const char* temporary,
                 char* xml);

int Install(const DozectlRequest& request, const char* folder)
{
    // A task that starts a program that is not there would fail every night
    // without a word; better to refuse now.
    if (!ProgramBeside(folder, "DOZEWARD.EXE")) {
        return Fail(EXIT_INSTALL_FAILED, "DOZEWARD.EXE does not lie beside DOZECTL.EXE");
    }
    if (request.nightly && !ProgramBeside(folder, "DOZECTLW.EXE")) {
        return Fail(EXIT_INSTALL_FAILED, "DOZECTLW.EXE does not lie beside DOZECTL.EXE");
    }
    char account[256];
    if (request.account != nullptr) {
        TextBuffer text = MakeTextBuffer(account, sizeof(account));
        AppendText(text, request.account);
    } else if (!CurrentAccount(account, sizeof(account))) {
        return Fail(EXIT_INSTALL_FAILED, "the account that runs DOZECTL could not be read; "
                                         "name it with --user");
    }
    TaskValues values = {folder, account, request.nightlyHour, request.nightlyMinute,
                         request.wakeAfterSeconds};

    char temporary[PATH_SIZE];
    const DWORD length = GetTempPathA(PATH_SIZE, temporary);
    if (length == 0 || length >= PATH_SIZE) {
        return Fail(EXIT_INSTALL_FAILED, "no folder for temporary files");
    }
    // The documents are too large for the stack, whose frames are kept small.
    char* xml = static_cast<char*>(LocalAlloc(LMEM_FIXED, XML_SIZE));
    if (xml == NULL) {
        return Fail(EXIT_INSTALL_FAILED, "no memory for the task definitions");
    }
    const int result = InstallTasks(request, values, temporary, xml);
    LocalFree(xml);
    return result;
}

int InstallTasks(const DozectlRequest& request, const TaskValues& values, const char* temporary,
                 char* xml)
{
    const TaskKind kinds[] = {TaskKind::Supervisor, TaskKind::Nightly};
    const char* const files[] = {"DOZEWARD-task.xml", "DOZEWARD-nightly-task.xml"};
    for (int i = 0; i < 2; ++i) {
        if (kinds[i] == TaskKind::Nightly && !request.nightly) {
            break;
        }
        TextBuffer xmlText = MakeTextBuffer(xml, XML_SIZE);
        char path[PATH_SIZE];
        TextBuffer pathText = MakeTextBuffer(path, sizeof(path));
        AppendText(pathText, temporary);
        AppendText(pathText, files[i]);
        char command[COMMAND_SIZE];
        TextBuffer commandText = MakeTextBuffer(command, sizeof(command));
        if (!BuildTaskXml(kinds[i], values, xmlText) || pathText.length + 1 >= sizeof(path) ||
            !BuildCreateCommand(kinds[i], path, commandText)) {
            return Fail(EXIT_INSTALL_FAILED, "the folder or account name is too long");
        }
        if (request.printOnly) {
            WriteOut(xml);
            WriteOut(command);
            WriteOut("\n\n");
            continue;
        }
        if (!WriteXmlFile(path, xml)) {
            return Fail(EXIT_INSTALL_FAILED, "the task definition could not be written");
        }
        const int exitCode = RunSchtasks(command);
        DeleteFileA(path);
        if (exitCode != 0) {
            return SchtasksFailed(kinds[i] == TaskKind::Supervisor ? "registering the logon task"
                                                                   : "registering the nightly task",
                                  exitCode);
        }
        WriteOut(kinds[i] == TaskKind::Supervisor ? "registered the task \"DOZEWARD\"\n"
                                                  : "registered the task \"DOZEWARD nightly "
                                                    "sleep\"\n");
    }
    return EXIT_DONE;
}

int Uninstall(const DozectlRequest& request)
{
    int result = EXIT_DONE;
    for (TaskKind kind : {TaskKind::Nightly, TaskKind::Supervisor}) {
        char command[COMMAND_SIZE];
        TextBuffer text = MakeTextBuffer(command, sizeof(command));
        BuildDeleteCommand(kind, text);
        if (request.printOnly) {
            WriteOut(command);
            WriteOut("\n");
            continue;
        }
        const int exitCode = RunSchtasks(command);
        if (exitCode != 0) {
            // A nightly task that was never installed is not there to remove.
            result = SchtasksFailed(kind == TaskKind::Supervisor
                                        ? "removing the task \"DOZEWARD\" (was it installed?)"
                                        : "removing the task \"DOZEWARD nightly sleep\" (was it "
                                          "installed?)",
                                    exitCode);
        }
    }
    return result;
}

} // namespace

int RunInstall(const DozectlRequest& request)
{
    if (request.verb == DozectlVerb::Uninstall) {
        return Uninstall(request);
    }
    char folder[PATH_SIZE];
    if (!OwnFolder(folder)) {
        return Fail(EXIT_INSTALL_FAILED, "DOZECTL's own folder could not be read");
    }
    return Install(request, folder);
}
