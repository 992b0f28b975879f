// The Windows entry of the platform-behaviour checks, run under Wine.
//
// It runs every check against the real API in this one process and ends with
// a summary line that the test scripts read, and an exit code that is nonzero
// when any expectation failed.
#include <cstdio>

#include "contract_checks.h"

int main()
{
    ContractReport total;
    for (int i = 0; i < CONTRACT_CHECK_COUNT; ++i) {
        if (CONTRACT_CHECKS[i].simulatedOnly) {
            std::printf("%s: left out, Wine differs from Windows here\n", CONTRACT_CHECKS[i].name);
            continue;
        }
        ContractReport report;
        CONTRACT_CHECKS[i].run(report);
        std::printf("%s: %d passed, %d failed\n", CONTRACT_CHECKS[i].name, report.passed,
                    report.failed);
        total.passed += report.passed;
        total.failed += report.failed;
    }
    std::printf("%d passed, %d failed\n", total.passed, total.failed);
    std::fflush(stdout);
    return total.failed == 0 ? 0 : 1;
}
