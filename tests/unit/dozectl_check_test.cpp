// DOZECTL check's decisions as one table: from a PC where everything is in
// order, one reading changed per row, and the verdict that item must get.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/dozectl_check.h"

namespace {

CheckReadings AllGood()
{
    CheckReadings r;
    r.folder = "C:\\Station";
    r.supervisorRuns = Answer::Yes;
    r.companionBeside = Answer::Yes;
    r.folderWritable = Answer::Yes;
    r.hibernationOffered = Answer::Yes;
    r.hibernationFile = Answer::Yes;
    r.battery = Answer::No;
    r.wakeTimersAc = 1;
    r.wakeTimersDc = 1;
    r.signInOnWakeAc = 0;
    r.signInOnWakeDc = 0;
    r.shutdownPrivilege = Answer::Yes;
    return r;
}

const char* Name(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return "OK";
    case Verdict::Warning:
        return "WARNING";
    case Verdict::Failed:
        return "FAILED";
    case Verdict::Unknown:
        return "unknown";
    }
    return "?";
}

struct Case {
    const char* what;
    std::function<void(CheckReadings&)> change;
    const char* subjectStart; // the item that must change
    Verdict verdict;
    const char* fixStart; // the start of its fix, "" for none
};

TEST(DecideChecks, Table)
{
    const Case cases[] = {
        {"no supervisor", [](CheckReadings& r) { r.supervisorRuns = Answer::No; },
         "the supervisor runs", Verdict::Failed, "schtasks /Run /TN \"DOZEWARD\""},
        {"no companion", [](CheckReadings& r) { r.companionBeside = Answer::No; }, "ORB.EXE",
         Verdict::Failed, "copy ORB.EXE"},
        {"companion unknown", [](CheckReadings& r) { r.companionBeside = Answer::Unknown; },
         "ORB.EXE", Verdict::Unknown, ""},
        {"read-only folder", [](CheckReadings& r) { r.folderWritable = Answer::No; },
         "the log's folder", Verdict::Warning, "give this user"},
        {"folder unknown", [](CheckReadings& r) { r.folderWritable = Answer::Unknown; },
         "the log's folder", Verdict::Unknown, ""},
        {"hibernation off",
         [](CheckReadings& r) {
             r.hibernationFile = Answer::No;
             r.hibernationOffered = Answer::No;
         },
         "hibernation", Verdict::Failed, "powercfg /h on\npowercfg /h /type full"},
        {"reduced file", [](CheckReadings& r) { r.hibernationOffered = Answer::No; }, "hibernation",
         Verdict::Failed, "powercfg /h /type full"},
        {"capabilities unknown", [](CheckReadings& r) { r.hibernationOffered = Answer::Unknown; },
         "hibernation", Verdict::Unknown, ""},
        {"wake timers off on AC", [](CheckReadings& r) { r.wakeTimersAc = 0; }, "wake timers on AC",
         Verdict::Failed,
         "powercfg /setacvalueindex SCHEME_CURRENT SUB_SLEEP RTCWAKE 1\n"
         "powercfg /setactive SCHEME_CURRENT"},
        {"important timers only on AC", [](CheckReadings& r) { r.wakeTimersAc = 2; },
         "wake timers on AC", Verdict::Failed, "powercfg /setacvalueindex"},
        {"odd value on AC", [](CheckReadings& r) { r.wakeTimersAc = 7; }, "wake timers on AC",
         Verdict::Failed, "powercfg /setacvalueindex"},
        {"AC unknown", [](CheckReadings& r) { r.wakeTimersAc = SETTING_UNKNOWN; },
         "wake timers on AC", Verdict::Unknown, "powercfg /setacvalueindex"},
        {"off on DC without a battery", [](CheckReadings& r) { r.wakeTimersDc = 0; },
         "wake timers on battery", Verdict::Warning,
         "powercfg /setdcvalueindex SCHEME_CURRENT SUB_SLEEP RTCWAKE 1"},
        {"off on DC with a battery",
         [](CheckReadings& r) {
             r.wakeTimersDc = 0;
             r.battery = Answer::Yes;
         },
         "wake timers on battery", Verdict::Failed, "powercfg /setdcvalueindex"},
        {"off on DC, battery unknown",
         [](CheckReadings& r) {
             r.wakeTimersDc = 0;
             r.battery = Answer::Unknown;
         },
         "wake timers on battery", Verdict::Failed, "powercfg /setdcvalueindex"},
        {"sign-in on AC", [](CheckReadings& r) { r.signInOnWakeAc = 1; }, "no sign-in",
         Verdict::Failed, "powercfg /setacvalueindex SCHEME_CURRENT SUB_NONE CONSOLELOCK 0"},
        {"sign-in on DC only", [](CheckReadings& r) { r.signInOnWakeDc = 1; }, "no sign-in",
         Verdict::Warning, "powercfg /setacvalueindex SCHEME_CURRENT SUB_NONE CONSOLELOCK 0"},
        {"sign-in on DC with a battery",
         [](CheckReadings& r) {
             r.signInOnWakeDc = 1;
             r.battery = Answer::Yes;
         },
         "no sign-in", Verdict::Failed, "powercfg"},
        {"sign-in unknown", [](CheckReadings& r) { r.signInOnWakeDc = SETTING_UNKNOWN; },
         "no sign-in", Verdict::Unknown, ""},
        {"no shutdown privilege", [](CheckReadings& r) { r.shutdownPrivilege = Answer::No; },
         "this user holds", Verdict::Failed, "grant \"Shut down the system\""},
        {"privilege unknown", [](CheckReadings& r) { r.shutdownPrivilege = Answer::Unknown; },
         "this user holds", Verdict::Unknown, ""},
    };
    const CheckReport good = DecideChecks(AllGood());
    EXPECT_EQ(good.failed, 0);
    for (const CheckItem& item : good.items) {
        EXPECT_EQ(item.verdict, Verdict::Ok) << item.subject;
        EXPECT_STREQ(item.fix, "") << item.subject;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CheckReadings readings = AllGood();
        c.change(readings);
        const CheckReport report = DecideChecks(readings);
        int changed = 0;
        for (int i = 0; i < CHECK_ITEM_COUNT; ++i) {
            const CheckItem& item = report.items[i];
            EXPECT_STREQ(item.subject, good.items[i].subject); // same items, same order
            if (item.verdict == Verdict::Ok) {
                continue;
            }
            ++changed;
            EXPECT_EQ(std::string(item.subject).rfind(c.subjectStart, 0), 0u) << item.subject;
            EXPECT_STREQ(Name(item.verdict), Name(c.verdict));
            EXPECT_EQ(std::string(item.fix).rfind(c.fixStart, 0), 0u) << item.fix;
            EXPECT_STRNE(item.finding, "");
        }
        EXPECT_EQ(changed, 1);
        EXPECT_EQ(report.failed, c.verdict == Verdict::Failed ? 1 : 0);
    }
}

TEST(FormatCheckReport, ItemsFixesAndTheVerdict)
{
    CheckReadings readings = AllGood();
    readings.wakeTimersAc = 0;
    readings.shutdownPrivilege = Answer::Unknown;
    char buffer[4096];
    TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
    FormatCheckReport(DecideChecks(readings), readings.folder, text);
    const std::string report = buffer;
    EXPECT_NE(report.find("folder: C:\\Station\n"), std::string::npos) << report;
    EXPECT_NE(report.find("OK       the supervisor runs in this session\n"), std::string::npos);
    EXPECT_NE(report.find("FAILED   wake timers on AC power: disabled in the active power plan\n"
                          "         fix: powercfg /setacvalueindex SCHEME_CURRENT SUB_SLEEP "
                          "RTCWAKE 1\n"
                          "              powercfg /setactive SCHEME_CURRENT\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("unknown  this user holds the shutdown privilege: "), std::string::npos);
    EXPECT_NE(report.find("check: 1 item would make the night's cycle fail\n"), std::string::npos);
}

} // namespace
