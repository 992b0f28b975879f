// DOZECTL: the operator's command tool for the DOZEWARD supervisor.
//
// It finds the supervisor's control window by its class name and sends it
// one command, bounded in time so that a hung supervisor cannot hang the
// tool (or the scheduled task that runs it). Exit codes: 0 done, 1 no
// supervisor running, 2 bad usage, 3 the supervisor did not answer in time.
#include <cstdio>

#include "app/supervisor_state.h"
#include "tools/dozectl_args.h"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_NO_SUPERVISOR = 1;
constexpr int EXIT_BAD_USAGE = 2;
constexpr int EXIT_NO_ANSWER = 3;

constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr DWORD STOP_WAIT_MS = 10000;
constexpr DWORD POLL_MS = 100;

int Fail(int code, const char* message)
{
    std::fprintf(stderr, "DOZECTL: %s\n", message);
    return code;
}

int Send(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND control = FindWindowA(CONTROL_CLASS_NAME, NULL);
    if (control == NULL) {
        return Fail(EXIT_NO_SUPERVISOR, "no supervisor is running in this session");
    }
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(control, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            SEND_TIMEOUT_MS, &result) == 0) {
        if (FindWindowA(CONTROL_CLASS_NAME, NULL) == NULL) {
            return Fail(EXIT_NO_SUPERVISOR, "the supervisor ended before it took the command");
        }
        return Fail(EXIT_NO_ANSWER, "the supervisor did not answer in time");
    }
    return EXIT_DONE;
}

int Stop()
{
    const int sent = Send(WM_CLOSE, 0, 0);
    if (sent != EXIT_DONE) {
        return sent;
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

int Status()
{
    const bool supervisorRuns = FindWindowA(CONTROL_CLASS_NAME, NULL) != NULL;
    const bool companionRuns = FindWindowA(COMPANION_CLASS_NAME, NULL) != NULL;
    std::printf("supervisor: %s\n", supervisorRuns ? "running" : "not running");
    std::printf("companion: %s\n", companionRuns ? "running" : "not running");
    // Not finding the supervisor is a failure like any other: the exit code
    // says so to a script, and the line on standard error to a person.
    if (!supervisorRuns) {
        return Fail(EXIT_NO_SUPERVISOR, "no supervisor is running in this session");
    }
    return EXIT_DONE;
}

} // namespace

int main(int argc, char** argv)
{
    const DozectlRequest request = ParseDozectlArguments(argc, argv);
    switch (request.verb) {
    case DozectlVerb::Help:
        std::fputs(DOZECTL_USAGE, stdout);
        return EXIT_DONE;
    case DozectlVerb::Sleep:
        return Send(WM_SUPERVISOR_COMMAND, CMD_SLEEP_AND_WAKE,
                    static_cast<LPARAM>(request.delaySeconds));
    case DozectlVerb::Cancel:
        return Send(WM_SUPERVISOR_COMMAND, CMD_CANCEL_WAKE, 0);
    case DozectlVerb::Stop:
        return Stop();
    case DozectlVerb::Status:
        return Status();
    case DozectlVerb::BadUsage:
        break;
    }
    std::fprintf(stderr, "DOZECTL: %s (DOZECTL --help shows the usage)\n", request.error.data());
    return EXIT_BAD_USAGE;
}
