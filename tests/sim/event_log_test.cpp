// The event log over real files in the simulated PC's folder: the entry goes
// to the head, the old contents survive every failure byte for byte, and
// nothing is left open or allocated.
#include <gtest/gtest.h>

#include <string>

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

    std::optional<std::string> Log() const { return pc.ReadFileBytes("DOZEWARD.LOG"); }

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

TEST_F(EventLogTest, EntryIsFlushedBeforeTheFileIsClosed)
{
    WriteEntry("WAKEUP");
    const std::vector<std::string> calls =
        pc.TraceTexts({"CreateFileA", "WriteFile", "FlushFileBuffers", "CloseHandle"});
    ASSERT_GE(calls.size(), 4U);
    EXPECT_EQ(calls[calls.size() - 2].rfind("FlushFileBuffers", 0), 0U) << calls[calls.size() - 2];
    EXPECT_EQ(calls.back().rfind("CloseHandle", 0), 0U) << calls.back();
}

TEST_F(EventLogTest, OverlongMessageIsCutAndTheLineStillEnds)
{
    pc.WriteFileBytes("DOZEWARD.LOG", "old\r\n");
    WriteEntry(std::string(100, 'm'));
    EXPECT_EQ(Log(), "07'05'09 ( " + std::string(64, 'm') + " )\r\nold\r\n");
}

TEST_F(EventLogTest, LogTooLargeToHoldIsLeftAsItWas)
{
    const std::string old = "old\r\n";
    for (std::uint64_t reported : {0x140000000ULL /* 5 GiB */, 0xFFFFFFF0ULL, 0xFFFFFFFFULL}) {
        SCOPED_TRACE(reported);
        pc.WriteFileBytes("DOZEWARD.LOG", old);
        pc.SetReportedFileSize("DOZEWARD.LOG", reported);
        WriteEntry("WAKEUP");
        pc.SetReportedFileSize("DOZEWARD.LOG", std::nullopt);
        EXPECT_EQ(Log(), old);
        EXPECT_EQ(pc.LiveBlockCount(), 0);
        EXPECT_EQ(handlesLeft, 0);
    }
}

// Fail the first fallible call the writer makes, then the second, and so on
// until a run completes without reaching the fault, for each kind of fault.
// After every run the file holds its old contents, alone or behind the new
// line, and nothing is left open or allocated.
TEST_F(EventLogTest, EveryFaultLeavesOldContentsOrNewLineAndOldContents)
{
    const std::string old = "06'00'00 ( NEXT WAKEUP 07:00 )\r\nsecond line without end";
    const std::string updated = LINE + old;
    for (sim::FaultKind kind :
         {sim::FaultKind::FailCall, sim::FaultKind::ShortRead, sim::FaultKind::ShortWrite,
          sim::FaultKind::DiskFull, sim::FaultKind::AllocFail}) {
        int runsThatKeptTheOld = 0;
        int n = 1;
        for (;; ++n) {
            SCOPED_TRACE("fault kind " + std::to_string(static_cast<int>(kind)) + " at call " +
                         std::to_string(n));
            ASSERT_LT(n, 100) << "the sweep does not end";
            pc.WriteFileBytes("DOZEWARD.LOG", old);
            pc.InjectFault(kind, n);
            WriteEntry("WAKEUP");
            const bool hit = pc.FaultHit();
            pc.ClearFaults();
            const std::string now = Log().value_or("<gone>");
            EXPECT_TRUE(now == old || now == updated) << "file became: " << now;
            EXPECT_EQ(handlesLeft, 0);
            EXPECT_EQ(pc.LiveBlockCount(), 0);
            if (!hit) {
                EXPECT_EQ(now, updated) << "a run without a fault must write the entry";
                break;
            }
            runsThatKeptTheOld += now == old;
        }
        // Every kind of fault can strike the writer at least once, and each
        // that strikes before the data is whole must have cost the entry.
        EXPECT_GT(n, 1) << "the fault was never reached";
        EXPECT_GT(runsThatKeptTheOld, 0);
    }
}

} // namespace
