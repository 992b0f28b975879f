// Parsing of DOZECTL's command line. A request is either exactly one valid
// command or bad usage with a message; a half-understood line never becomes
// a command sent to the supervisor.
#include "tools/dozectl_args.h"

#include "tools/dozectl_text.h"

const char DOZECTL_USAGE[] =
    "Usage: DOZECTL COMMAND [OPTIONS]\n"
    "Steers the DOZEWARD supervisor that runs in this session.\n"
    "\n"
    "  sleep SECONDS        close the companion, hibernate, wake after SECONDS and\n"
    "                       restart it\n"
    "  sleep 0 --no-wake    the same with no wake-up: the PC stays down until woken\n"
    "  cancel               cancel the armed wake-up; the watchdog restarts the\n"
    "                       companion 10 s later\n"
    "  stop                 end the supervisor (a companion closed by a cycle stays\n"
    "                       closed)\n"
    "  status [--format=keyvalue]\n"
    "                       what the supervisor is doing\n"
    "  check                check this PC's settings before the night\n"
    "  install [--nightly HH:MM --wake-after SECONDS] [--user ACCOUNT] [--print]\n"
    "                       start the supervisor at logon of this user (or ACCOUNT),\n"
    "                       and with --nightly a cycle every night at HH:MM, the\n"
    "                       PC's local time; --print shows and runs nothing\n"
    "  uninstall [--print]  remove what install registered\n"
    "  --help, -h, /?       this text\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  no supervisor is running in this session\n"
    "  2  bad usage: nothing was sent\n"
    "  3  the supervisor did not answer within 5 s (stop: or did not end within 10 s)\n"
    "  4  sleep: no cycle was started, since one is already under way\n"
    "  5  cancel: no wake-up was armed, nothing was cancelled\n"
    "  6  Windows refused the message: the supervisor runs with higher rights\n"
    "  7  check: something would make the night's cycle fail\n"
    "  8  install, uninstall: a task could not be written or registered\n";

bool ParseDelaySeconds(const char* text, std::int32_t& delaySeconds)
{
    const char* digit = text;
    bool negative = false;
    if (*digit == '+' || *digit == '-') {
        negative = *digit == '-';
        ++digit;
    }
    if (*digit == '\0') {
        return false;
    }
    // Accumulated as a magnitude, stopping as soon as it leaves 32 bits.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (*digit - '0');
        if (magnitude > limit) {
            return false;
        }
    }
    delaySeconds = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool ParseTimeOfDay(const char* text, int& hour, int& minute)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    int h = 0;
    int i = 0;
    for (; i < 2 && isDigit(text[i]); ++i) {
        h = h * 10 + (text[i] - '0');
    }
    if (i == 0 || text[i] != ':' || !isDigit(text[i + 1]) || !isDigit(text[i + 2]) ||
        text[i + 3] != '\0') {
        return false;
    }
    const int m = (text[i + 1] - '0') * 10 + (text[i + 2] - '0');
    if (h > 23 || m > 59) {
        return false;
    }
    hour = h;
    minute = m;
    return true;
}

namespace {

// The longest part of an argument quoted in a message.
constexpr std::size_t QUOTED_ARGUMENT_BYTES = 64;

// A message of three parts: text before, an argument (cut short if long) and
// text after.
DozectlRequest BadUsage(const char* before, const char* argument = "", const char* after = "")
{
    DozectlRequest request;
    request.verb = DozectlVerb::BadUsage;
    TextBuffer text = MakeTextBuffer(request.error.data(), request.error.size());
    AppendText(text, before);
    AppendTextCut(text, argument, QUOTED_ARGUMENT_BYTES);
    AppendText(text, after);
    return request;
}

DozectlRequest Verb(DozectlVerb verb)
{
    DozectlRequest request;
    request.verb = verb;
    return request;
}

bool Is(const char* text, const char* expected) { return EqualsIgnoringCase(text, expected); }

// sleep SECONDS [--no-wake], in either order.
DozectlRequest ParseSleep(int count, const char* const* arguments)
{
    const char* delay = nullptr;
    bool noWake = false;
    for (int i = 0; i < count; ++i) {
        if (Is(arguments[i], "--no-wake") && !noWake) {
            noWake = true;
        } else if (delay == nullptr) {
            delay = arguments[i];
        } else {
            return BadUsage("sleep takes one delay in seconds and --no-wake, not '", arguments[i],
                            "'");
        }
    }
    DozectlRequest request = Verb(DozectlVerb::Sleep);
    if (delay == nullptr) {
        if (noWake) {
            return request; // --no-wake alone: a delay of 0
        }
        return BadUsage("sleep needs the delay in seconds");
    }
    if (!ParseDelaySeconds(delay, request.delaySeconds)) {
        return BadUsage("not a whole number of seconds that fits in 32 bits: '", delay, "'");
    }
    if (request.delaySeconds <= 0 && !noWake) {
        return BadUsage("a delay of 0 or less arms no wake-up: the PC would stay down until "
                        "woken by hand; add --no-wake if that is meant");
    }
    if (request.delaySeconds > 0 && noWake) {
        return BadUsage("--no-wake contradicts a delay of more than 0 seconds");
    }
    return request;
}

DozectlRequest ParseStatus(int count, const char* const* arguments)
{
    DozectlRequest request = Verb(DozectlVerb::Status);
    if (count == 0) {
        return request;
    }
    if (count == 1 && Is(arguments[0], "--format=keyvalue")) {
        request.keyValue = true;
        return request;
    }
    if (count == 1 && Is(arguments[0], "--format=text")) {
        return request;
    }
    return BadUsage("status takes only --format=keyvalue or --format=text, not '", arguments[0],
                    "'");
}

// install [--nightly HH:MM --wake-after SECONDS] [--user ACCOUNT] [--print];
// uninstall [--print]
DozectlRequest ParseInstall(DozectlVerb verb, int count, const char* const* arguments)
{
    DozectlRequest request = Verb(verb);
    bool wakeAfterGiven = false;
    for (int i = 0; i < count; ++i) {
        const char* option = arguments[i];
        const bool hasValue = i + 1 < count;
        if (Is(option, "--print") && !request.printOnly) {
            request.printOnly = true;
        } else if (verb == DozectlVerb::Install && Is(option, "--user") &&
                   request.account == nullptr) {
            if (!hasValue || arguments[i + 1][0] == '\0' || arguments[i + 1][0] == '-') {
                return BadUsage("--user needs the account the tasks run as, e.g. KIOSK-PC\\kiosk");
            }
            request.account = arguments[++i];
        } else if (verb == DozectlVerb::Install && Is(option, "--nightly") && !request.nightly) {
            if (!hasValue ||
                !ParseTimeOfDay(arguments[i + 1], request.nightlyHour, request.nightlyMinute)) {
                return BadUsage("--nightly needs a time of day HH:MM from 00:00 to 23:59");
            }
            request.nightly = true;
            ++i;
        } else if (verb == DozectlVerb::Install && Is(option, "--wake-after") && !wakeAfterGiven) {
            if (!hasValue || !ParseDelaySeconds(arguments[i + 1], request.wakeAfterSeconds) ||
                request.wakeAfterSeconds <= 0) {
                return BadUsage("--wake-after needs a whole number of seconds above 0");
            }
            wakeAfterGiven = true;
            ++i;
        } else {
            return BadUsage("unknown or repeated option '", option, "'");
        }
    }
    if (request.nightly != wakeAfterGiven) {
        return BadUsage("--nightly and --wake-after go together");
    }
    return request;
}

} // namespace

DozectlRequest ParseDozectlArguments(int argc, const char* const* argv)
{
    if (argc < 2) {
        DozectlRequest request = BadUsage("no command given");
        request.showUsage = true;
        return request;
    }
    const char* verb = argv[1];
    const int extra = argc - 2;
    const char* const* arguments = argv + 2;
    if (Is(verb, "-h") || Is(verb, "--help") || Is(verb, "/?")) {
        return extra == 0 ? Verb(DozectlVerb::Help) : BadUsage("--help takes no arguments");
    }
    if (Is(verb, "sleep")) {
        return ParseSleep(extra, arguments);
    }
    if (Is(verb, "status")) {
        return ParseStatus(extra, arguments);
    }
    if (Is(verb, "install")) {
        return ParseInstall(DozectlVerb::Install, extra, arguments);
    }
    if (Is(verb, "uninstall")) {
        return ParseInstall(DozectlVerb::Uninstall, extra, arguments);
    }
    const struct {
        const char* name;
        DozectlVerb verb;
    } plainVerbs[] = {
        {"cancel", DozectlVerb::Cancel},
        {"stop", DozectlVerb::Stop},
        {"check", DozectlVerb::Check},
    };
    for (const auto& plain : plainVerbs) {
        if (Is(verb, plain.name)) {
            return extra == 0 ? Verb(plain.verb) : BadUsage(plain.name, "", " takes no arguments");
        }
    }
    return BadUsage("unknown command '", verb, "'");
}
