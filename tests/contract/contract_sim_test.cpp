// Runs each platform-behaviour check as a program on the simulated PC.
//
// The same checks run on real Windows under Wine (contract_main_win32.cpp);
// here each runs in a fresh SimPc, as the main thread of its own process, so
// that a check sees a clean PC and virtual time makes its waits free.
#include <gtest/gtest.h>

#include "contract_checks.h"
#include "sim_pc.h"

namespace {

class ContractOnSim : public ::testing::TestWithParam<ContractCheck> {};

TEST_P(ContractOnSim, Holds)
{
    sim::SimPc pc;
    ContractReport report;
    int handlesLeft = -1;
    const ContractCheck check = GetParam();
    const int process = pc.StartProgram([&] {
        check.run(report);
        handlesLeft = pc.OpenHandleCount();
        return report.failed;
    });
    ASSERT_TRUE(pc.RunToExit(process, 60 * 1000));
    EXPECT_EQ(report.failed, 0);
    EXPECT_GT(report.passed, 0);
    EXPECT_EQ(pc.ExitCode(process), 0);
    // A check that leaked a handle would leak it on Windows too.
    EXPECT_EQ(handlesLeft, 0);
    EXPECT_EQ(pc.LiveThreadCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Checks, ContractOnSim,
                         ::testing::ValuesIn(CONTRACT_CHECKS,
                                             CONTRACT_CHECKS + CONTRACT_CHECK_COUNT),
                         [](const ::testing::TestParamInfo<ContractCheck>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
