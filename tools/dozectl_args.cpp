// Parsing of DOZECTL's command line. A request is either exactly one valid
// command or bad usage with a message; a half-understood line never becomes
// a command sent to the supervisor.
#include "tools/dozectl_args.h"

#include <cstdio>
#include <cstring>

const char DOZECTL_USAGE[] =
    "Usage: DOZECTL COMMAND\n"
    "Steers the DOZEWARD supervisor that runs in this session.\n"
    "\n"
    "  sleep SECONDS  close the companion, hibernate, wake after SECONDS and restart it\n"
    "  cancel         cancel the armed wake-up and hand the companion back to the watchdog\n"
    "  stop           end the supervisor (the companion keeps running)\n"
    "  status         say whether the supervisor and the companion run\n"
    "\n"
    "Exit codes: 0 done, 1 no supervisor running, 2 bad usage,\n"
    "3 the supervisor did not answer in time.\n";

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

namespace {

// The message is formatted straight into the request's buffer; snprintf
// bounds it there and cuts an overlong argument short.
DozectlRequest BadUsage(const char* format, const char* argument)
{
    DozectlRequest request;
    request.verb = DozectlVerb::BadUsage;
    (void)std::snprintf(request.error.data(), request.error.size(), format, argument);
    return request;
}

DozectlRequest Verb(DozectlVerb verb)
{
    DozectlRequest request;
    request.verb = verb;
    return request;
}

bool Is(const char* text, const char* expected) { return std::strcmp(text, expected) == 0; }

} // namespace

DozectlRequest ParseDozectlArguments(int argc, const char* const* argv)
{
    if (argc < 2) {
        return Verb(DozectlVerb::Help);
    }
    const char* verb = argv[1];
    const int extra = argc - 2;
    if (Is(verb, "-h") || Is(verb, "--help")) {
        return extra == 0 ? Verb(DozectlVerb::Help) : BadUsage("%s takes no arguments", "help");
    }
    if (Is(verb, "sleep")) {
        if (extra != 1) {
            return BadUsage("%s takes exactly one argument: the delay in seconds", verb);
        }
        DozectlRequest request = Verb(DozectlVerb::Sleep);
        if (!ParseDelaySeconds(argv[2], request.delaySeconds)) {
            return BadUsage("not a whole number of seconds that fits in 32 bits: '%s'", argv[2]);
        }
        return request;
    }
    const struct {
        const char* name;
        DozectlVerb verb;
    } plainVerbs[] = {
        {"cancel", DozectlVerb::Cancel},
        {"stop", DozectlVerb::Stop},
        {"status", DozectlVerb::Status},
    };
    for (const auto& plain : plainVerbs) {
        if (Is(verb, plain.name)) {
            return extra == 0 ? Verb(plain.verb) : BadUsage("%s takes no arguments", verb);
        }
    }
    return BadUsage("unknown command '%s'", verb);
}
