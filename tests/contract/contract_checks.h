// Platform-behaviour checks that the simulated PC and real Windows must agree on.
//
// One source, two builds: on the host the checks run as programs inside a
// SimPc (contract_sim_test.cpp); on Windows they run against the real API
// under Wine (contract_main_win32.cpp). They use nothing but the services of
// platform/platform.h, and no test framework, so that both builds compile the
// very same code. Timings are generous and only lower bounds are asserted
// tightly, because the Windows run is in real time.
#pragma once

#include "platform/platform.h"

struct ContractReport {
    int passed = 0;
    int failed = 0;
};

// Counts one expectation; a failed one is printed with where it was made.
void ContractExpect(ContractReport& report, bool ok, const char* what, const char* file, int line);
#define CONTRACT_EXPECT(report, condition)                                                         \
    ContractExpect((report), (condition), #condition, __FILE__, __LINE__)

struct ContractCheck {
    const char* name;
    void (*run)(ContractReport& report);
    // Where Wine departs from Windows as documented, the simulated PC follows
    // the documentation and the check is left out of the Wine run.
    bool simulatedOnly = false;
};

// Every check, in the order the Windows run executes them.
extern const ContractCheck CONTRACT_CHECKS[];
extern const int CONTRACT_CHECK_COUNT;
