// The event log over real files in the simulated PC's folder: the entry goes
// to the head, the old contents survive every failure byte for byte, and
// nothing is left open or allocated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/supervisor_state.h"
#include "eventlog/event_log.h"
#include "sim_pc.h"

namespace {

class EventLogTest : public ::testing::Test {
protected:
    EventLogTest() { pc.SetUtcTime(7, 5, 9); }

    // Writes one entry from a program of its own, as a cycle's worker would,
    // and counts what the writer left open while its process still runs: an
    // ended process has all its handles closed for it.
    void WriteEntry(const std::string& message)
    {
        handlesLeft = -1;
        const int program = pc.StartProgram([this, message] {
            WriteLogEntry(message.c_str());
            handlesLeft = pc.OpenHandleCount();
            return 0;
        });
        ASSERT_TRUE(pc.RunToExit(program, 1000));
    }

    // What one entry written under injected faults left behind.
    struct Outcome {
        bool faultHit = false;
        bool returned = false; // false: the process was ended before the entry returned
        int handlesLeft = -1;  // counted while the writing process still ran
        int blocksLeft = -1;
        std::string log;
    };

    Outcome WriteEntryUnder(const std::vector<std::pair<sim::FaultKind, int>>& faults)
    {
        Outcome outcome;
        for (const auto& [kind, n] : faults) {
            pc.InjectFault(kind, n);
        }
        const int program = pc.StartProgram([this, &outcome] {
            const int blocksBefore = pc.LiveBlockCount();
            WriteLogEntry("WAKEUP");
            outcome.returned = true;
            outcome.handlesLeft = pc.OpenHandleCount();
            outcome.blocksLeft = pc.LiveBlockCount() - blocksBefore;
            return 0;
        });
        EXPECT_TRUE(pc.RunToExit(program, 1000));
        outcome.faultHit = pc.FaultHit();
        pc.ClearFaults();
        outcome.log = Log().value_or("<gone>");
        return outcome;
    }

    std::optional<std::string> Log() const { return pc.ReadFileBytes("DOZEWARD.LOG"); }

    std::vector<std::string> FilesInFolder() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(pc.Folder())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Removes every file but the log, as a fresh start for the next run.
    void RemoveOtherFiles()
    {
        for (const auto& entry : std::filesystem::directory_iterator(pc.Folder())) {
            if (entry.path().filename() != "DOZEWARD.LOG") {
                std::filesystem::remove(entry.path());
            }
        }
    }

    sim::SimPc pc;
    int handlesLeft = -1;
};

constexpr char LINE[] = "07'05'09 ( WAKEUP )\r\n";

TEST_F(EventLogTest, NoFileYetGivesExactlyOneLine)
{
    WriteEntry("WAKEUP");
    EXPECT_EQ(Log(), std::string(LINE));
}

TEST_F(EventLogTest, NewestEntryComesFirstAndOldContentsFollowByteForByte)
{
    const std::string binary("no line end\0\x01\xFF\r\x1A tail", 22);
    const struct {
        const char* name;
        std::string old;
    } cases[] = {
        {"one line", "06'00'00 ( NEXT WAKEUP 07:00 )\r\n"},
        {"last line without CR LF", "06'00'00 ( NEXT WAKEUP 07:00 )"},
        {"bytes that are no text", binary},
        {"empty file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pc.WriteFileBytes("DOZEWARD.LOG", c.old);
        WriteEntry("WAKEUP");
        EXPECT_EQ(Log(), LINE + c.old);
    }
}

TEST_F(EventLogTest, FileThatCannotBeOpenedCostsTheEntryAndNothingElse)
{
    const std::string old = "06'00'00 ( NEXT WAKEUP 07:00 )\r\n";
    pc.WriteFileBytes("DOZEWARD.LOG", old);

    pc.SetReadOnly("DOZEWARD.LOG", true);
    WriteEntry("WAKEUP");
    EXPECT_EQ(Log(), old) << "read-only";
    pc.SetReadOnly("DOZEWARD.LOG", false);

    const struct {
        const char* name;
        DWORD access;
        DWORD share;
    } holders[] = {
        {"held for reading, sharing everything", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
        {"held for reading, sharing nothing", GENERIC_READ, 0},
        {"held for writing", GENERIC_WRITE, FILE_SHARE_READ},
    };
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.name);
        ASSERT_TRUE(pc.HoldFileOpen("DOZEWARD.LOG", holder.access, holder.share));
        WriteEntry("WAKEUP");
        EXPECT_EQ(Log(), old);
        pc.ReleaseHeldFile("DOZEWARD.LOG");
    }
    EXPECT_EQ(handlesLeft, 0);
    EXPECT_EQ(pc.LiveBlockCount(), 0);
}

TEST_F(EventLogTest, OfTwoWritersAtTheSameMomentTheSecondIsDroppedAndTheFileIsWhole)
{
    const std::string old = "old\r\n";
    pc.WriteFileBytes("DOZEWARD.LOG", old);
    pc.PauseBefore("WriteFile");
    const int first = pc.StartProgram([] {
        WriteLogEntry("FIRST");
        return 0;
    });
    pc.RunUntilIdle();
    ASSERT_TRUE(pc.Paused());

    const int second = pc.StartProgram([] {
        WriteLogEntry("SECOND");
        return 0;
    });
    pc.RunUntilIdle();
    EXPECT_FALSE(pc.ProcessRunning(second));
    pc.Resume();
    ASSERT_TRUE(pc.RunToExit(first, 1000));
    EXPECT_EQ(Log(), "07'05'09 ( FIRST )\r\n" + old);
}

// The new contents are on the disk before the log is replaced, and the
// replace is the last thing the writer does to the files.
TEST_F(EventLogTest, EntryIsFlushedBeforeTheLogIsReplaced)
{
    pc.WriteFileBytes("DOZEWARD.LOG", "old\r\n");
    WriteEntry("WAKEUP");
    const std::vector<std::string> calls = pc.TraceTexts(
        {"CreateFileA", "WriteFile", "FlushFileBuffers", "CloseHandle", "MoveFileExA"});
    ASSERT_GE(calls.size(), 4U);
    const std::size_t lastWrite = [&] {
        std::size_t index = 0;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            index = calls[i].rfind("WriteFile", 0) == 0 ? i : index;
        }
        return index;
    }();
    EXPECT_EQ(calls[lastWrite + 1].rfind("FlushFileBuffers", 0), 0U) << calls[lastWrite + 1];
    // The last call renames over the log, replacing it (1) and writing through (8).
    EXPECT_EQ(calls.back().rfind("MoveFileExA(", 0), 0U) << calls.back();
    const std::string target = ",DOZEWARD.LOG,0x9)";
    EXPECT_EQ(calls.back().substr(calls.back().size() - target.size()), target);
    EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"DOZEWARD.LOG"});
}

// A program that opens the log in the instant between the writer's close of
// it and the replace makes the replace fail: the entry is dropped, the log
// and what the program reads are the old contents, and no new file is left.
TEST_F(EventLogTest, ProgramThatOpensTheLogJustBeforeTheReplaceKeepsItAsItWas)
{
    const std::string old = "old\r\n";
    const struct {
        const char* name;
        DWORD share;
    } holders[] = {
        {"sharing reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"sharing delete too", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.name);
        pc.WriteFileBytes("DOZEWARD.LOG", old);
        pc.PauseBefore("MoveFileExA");
        const int program = pc.StartProgram([] {
            WriteLogEntry("WAKEUP");
            return 0;
        });
        pc.RunUntilIdle();
        ASSERT_TRUE(pc.Paused());
        ASSERT_TRUE(pc.HoldFileOpen("DOZEWARD.LOG", GENERIC_READ, holder.share));
        pc.Resume();
        ASSERT_TRUE(pc.RunToExit(program, 1000));
        pc.ReleaseHeldFile("DOZEWARD.LOG");
        EXPECT_EQ(Log(), old);
        EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"DOZEWARD.LOG"});
    }
}

TEST_F(EventLogTest, ReplacedLogKeepsItsAttributes)
{
    pc.WriteFileBytes("DOZEWARD.LOG", "old\r\n");
    constexpr DWORD HIDDEN_SYSTEM_ARCHIVE = 0x2 | 0x4 | 0x20;
    ASSERT_NE(SetFileAttributesA("DOZEWARD.LOG", HIDDEN_SYSTEM_ARCHIVE), FALSE);
    WriteEntry("WAKEUP");
    EXPECT_EQ(Log(), std::string(LINE) + "old\r\n");
    EXPECT_EQ(GetFileAttributesA("DOZEWARD.LOG"), HIDDEN_SYSTEM_ARCHIVE);
    WriteEntry("WAKEUP");
    EXPECT_EQ(Log(), std::string(LINE) + LINE + "old\r\n") << "a second entry over the hidden file";
    EXPECT_EQ(GetFileAttributesA("DOZEWARD.LOG"), HIDDEN_SYSTEM_ARCHIVE);
}

TEST_F(EventLogTest, OverlongMessageIsCutAndTheLineStillEnds)
{
    pc.WriteFileBytes("DOZEWARD.LOG", "old\r\n");
    WriteEntry(std::string(100, 'm'));
    EXPECT_EQ(Log(), "07'05'09 ( " + std::string(64, 'm') + " )\r\nold\r\n");
}

// Sizes the host cannot hold reach the writer's own checks through the size
// the file reports: one with a high part is refused before any block is
// asked for, and the largest whose block (line, contents and NUL) still fits
// in 32 bits is the last one for which a block is asked. Either way the log
// stays as it was (the block cannot be had on this PC).
TEST_F(EventLogTest, OversizedLogReachesTheSizeChecksAndIsLeftAsItWas)
{
    const std::string old = "old\r\n";
    // The line is 21 bytes, so 0xFFFFFFFF - 21 - 1 old bytes fill the block.
    const struct {
        std::uint64_t reported;
        const char* blockAskedFor; // nullptr: none
    } cases[] = {
        {0x100000003ULL, nullptr}, // a high part, and a low part that alone would fit
        {0x140000000ULL, nullptr}, // 5 GiB
        {0xFFFFFFE8ULL, "GlobalAlloc(4294967294)"},
        {0xFFFFFFE9ULL, "GlobalAlloc(4294967295)"},
        {0xFFFFFFEAULL, nullptr},
        {0xFFFFFFFFULL, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reported);
        pc.WriteFileBytes("DOZEWARD.LOG", old);
        pc.SetReportedFileSize("DOZEWARD.LOG", c.reported);
        pc.ClearTrace();
        const Outcome outcome = WriteEntryUnder({});
        pc.SetReportedFileSize("DOZEWARD.LOG", std::nullopt);
        const std::vector<std::string> expected = c.blockAskedFor != nullptr
                                                      ? std::vector<std::string>{c.blockAskedFor}
                                                      : std::vector<std::string>{};
        EXPECT_EQ(pc.TraceTexts({"GlobalAlloc("}), expected);
        EXPECT_EQ(outcome.log, old);
        EXPECT_EQ(outcome.handlesLeft, 0);
        EXPECT_EQ(outcome.blocksLeft, 0);
        EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"DOZEWARD.LOG"});
    }
}

// The old contents: two lines, the last without CR LF.
const std::string OLD = "06'00'00 ( NEXT WAKEUP 07:00 )\r\nsecond line without end";

const sim::FaultKind FAULT_KINDS[] = {
    sim::FaultKind::FailCall, sim::FaultKind::ShortRead, sim::FaultKind::ShortWrite,
    sim::FaultKind::DiskFull, sim::FaultKind::AllocFail, sim::FaultKind::ProcessEnds,
};

const char* KindName(sim::FaultKind kind)
{
    switch (kind) {
    case sim::FaultKind::FailCall:
        return "fail";
    case sim::FaultKind::ShortRead:
        return "short read";
    case sim::FaultKind::ShortWrite:
        return "short write";
    case sim::FaultKind::DiskFull:
        return "disk full";
    case sim::FaultKind::AllocFail:
        return "no memory";
    case sim::FaultKind::ProcessEnds:
        return "process ends";
    case sim::FaultKind::ThreadFail:
    case sim::FaultKind::EventFail:
    case sim::FaultKind::TimerFail:
    case sim::FaultKind::MutexFail:
    case sim::FaultKind::PostFail:
        break; // no call of the log's
    }
    return "?";
}

// Injects one fault, or two at once, into an entry over OLD, for every call
// each can strike, and checks after every run that the log is OLD or the new
// line followed by OLD, and that a writer that returned left nothing open or
// allocated. After a run whose process was ended half-way, the next entry
// must write over what was left and leave no other file behind.
class EventLogSweep : public EventLogTest {
protected:
    // Runs with the given faults; returns whether any of them was reached.
    bool Run(const std::vector<std::pair<sim::FaultKind, int>>& faults)
    {
        ++runs;
        pc.WriteFileBytes("DOZEWARD.LOG", OLD);
        RemoveOtherFiles();
        std::string where;
        for (const auto& [kind, n] : faults) {
            where += std::string(KindName(kind)) + " at call " + std::to_string(n) + "; ";
        }
        SCOPED_TRACE(where);
        const Outcome outcome = WriteEntryUnder(faults);
        const std::string updated = LINE + OLD;
        EXPECT_TRUE(outcome.log == OLD || outcome.log == updated)
            << "the log became: " << outcome.log;
        if (outcome.returned) {
            EXPECT_EQ(outcome.handlesLeft, 0);
            EXPECT_EQ(outcome.blocksLeft, 0);
        }
        const bool leftOver = FilesInFolder() != std::vector<std::string>{"DOZEWARD.LOG"};
        // Only a second fault (one that stops the clean-up) or the end of the
        // process may leave the new file behind; the next entry removes it.
        EXPECT_TRUE(!leftOver || !outcome.returned || faults.size() == 2)
            << "a lone fault left a file behind";
        if (leftOver || !outcome.returned) {
            const Outcome next = WriteEntryUnder({});
            EXPECT_EQ(next.log, LINE + outcome.log) << "the entry after";
            EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"DOZEWARD.LOG"});
        }
        if (!outcome.faultHit) {
            EXPECT_EQ(outcome.log, updated) << "a run without a fault must write the entry";
        }
        return outcome.faultHit;
    }

    // How many calls of its kind one fault can strike in an entry: the
    // first n at which a lone fault is no longer reached, less one.
    int CallsStruckBy(sim::FaultKind kind)
    {
        int n = 1;
        while (Run({{kind, n}})) {
            ++n;
            if (n > 200) {
                ADD_FAILURE() << "the sweep does not end";
                break;
            }
        }
        return n - 1;
    }

    int runs = 0;
};

TEST_F(EventLogSweep, EveryFaultAndEveryPairOfFaultsLeavesOldContentsOrNewLineAndThem)
{
    std::vector<std::pair<sim::FaultKind, int>> reach;
    for (sim::FaultKind kind : FAULT_KINDS) {
        const int calls = CallsStruckBy(kind);
        EXPECT_GT(calls, 0) << KindName(kind) << " never struck the writer";
        reach.emplace_back(kind, calls);
    }
    for (const auto& [first, firstCalls] : reach) {
        for (const auto& [second, secondCalls] : reach) {
            for (int n = 1; n <= firstCalls; ++n) {
                for (int m = 1; m <= secondCalls; ++m) {
                    if (first != second || n < m) {
                        Run({{first, n}, {second, m}});
                    }
                }
            }
        }
    }
    std::printf("log sweep: %d runs\n", runs);
}

// The same for a log that does not exist yet: whatever happens, there is
// afterwards no log, an empty one, or the one new line.
TEST_F(EventLogTest, ProcessEndedAtAnyPointLeavesNoLogAnEmptyOneOrTheNewLine)
{
    for (int n = 1;; ++n) {
        SCOPED_TRACE("process ends before call " + std::to_string(n));
        ASSERT_LT(n, 200) << "the sweep does not end";
        for (const auto& entry : std::filesystem::directory_iterator(pc.Folder())) {
            std::filesystem::remove(entry.path());
        }
        const Outcome outcome = WriteEntryUnder({{sim::FaultKind::ProcessEnds, n}});
        EXPECT_TRUE(outcome.log == "<gone>" || outcome.log.empty() || outcome.log == LINE)
            << outcome.log;
        if (!outcome.faultHit) {
            EXPECT_EQ(outcome.log, LINE);
            break;
        }
        WriteEntry("WAKEUP");
        EXPECT_EQ(Log(), LINE + (outcome.log == "<gone>" ? "" : outcome.log));
        EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"DOZEWARD.LOG"});
    }
}

} // namespace
