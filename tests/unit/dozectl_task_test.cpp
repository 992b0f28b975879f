// The task definitions of DOZECTL install as a table: for each kind of task
// and each awkward folder or account, the values that must appear (escaped)
// and the settings the tasks depend on, and that the document is well-formed
// XML, checked by xmllint where the host has it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/dozectl_task.h"

namespace {

std::string Build(TaskKind kind, const TaskValues& values)
{
    static char buffer[8192];
    TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
    EXPECT_TRUE(BuildTaskXml(kind, values, text));
    return buffer;
}

// xmllint's verdict on the document (declared UTF-8 for it, since the text
// here is the narrow form that DOZECTL turns into UTF-16 when it writes).
// Returns "" when well-formed, "skip" without xmllint, else its complaint.
std::string WellFormed(std::string xml)
{
    if (std::system("xmllint --version >/dev/null 2>&1") != 0) {
        return "skip";
    }
    const std::string declared = "encoding=\"UTF-16\"";
    xml.replace(xml.find(declared), declared.size(), "encoding=\"UTF-8\"");
    const std::string path = ::testing::TempDir() + "dozectl_task_test.xml";
    std::ofstream(path, std::ios::binary) << xml;
    const std::string command = "xmllint --noout '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[256];
    while (pipe != nullptr && fgets(chunk, sizeof(chunk), pipe) != nullptr) {
        output += chunk;
    }
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    std::remove(path.c_str());
    return status == 0 ? "" : "xmllint: " + output;
}

struct Case {
    const char* what;
    TaskKind kind;
    TaskValues values;
    std::vector<std::string> expected; // each must appear as it is
};

TEST(BuildTaskXml, Table)
{
    const std::vector<std::string> common = {
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Task version=\"1.2\" "
        "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">",
        "<LogonType>InteractiveToken</LogonType>",
        "<RunLevel>LeastPrivilege</RunLevel>",
        "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
        "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
        "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
        "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
    };
    const Case cases[] = {
        {"supervisor at logon",
         TaskKind::Supervisor,
         {"C:\\Station", "KIOSK-PC\\kiosk"},
         {"<LogonTrigger>\n      <Enabled>true</Enabled>\n      "
          "<UserId>KIOSK-PC\\kiosk</UserId>\n    </LogonTrigger>",
          "<UserId>KIOSK-PC\\kiosk</UserId>\n      <LogonType>",
          "<Command>\"C:\\Station\\DOZEWARD.EXE\"</Command>",
          "<WorkingDirectory>C:\\Station</WorkingDirectory>"}},
        {"folder with a space, an ampersand and an apostrophe",
         TaskKind::Supervisor,
         {"D:\\Tom's Kiosk & Co <1>", "kiosk"},
         {"<Command>\"D:\\Tom&apos;s Kiosk &amp; Co &lt;1&gt;\\DOZEWARD.EXE\"</Command>",
          "<WorkingDirectory>D:\\Tom&apos;s Kiosk &amp; Co &lt;1&gt;</WorkingDirectory>"}},
        {"account with a domain and non-ASCII (UTF-8) letters",
         TaskKind::Supervisor,
         {"C:\\Station", "CORP\\J\xc3\xb6rg"},
         {"<UserId>CORP\\J\xc3\xb6rg</UserId>"}},
        {"nightly cycle",
         TaskKind::Nightly,
         {"C:\\Station", "kiosk", 23, 0, 21600},
         {"<CalendarTrigger>\n      <StartBoundary>2025-01-01T23:00:00</StartBoundary>",
          "<DaysInterval>1</DaysInterval>", "<Command>\"C:\\Station\\DOZECTLW.EXE\"</Command>",
          "<Arguments>sleep 21600</Arguments>", "<WorkingDirectory>C:\\Station</WorkingDirectory>",
          "<UserId>kiosk</UserId>"}},
        {"nightly cycle early in the morning",
         TaskKind::Nightly,
         {"C:\\Station", "kiosk", 7, 5, 1},
         {"<StartBoundary>2025-01-01T07:05:00</StartBoundary>", "<Arguments>sleep 1</Arguments>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string xml = Build(c.kind, c.values);
        for (const std::string& part : common) {
            EXPECT_NE(xml.find(part), std::string::npos) << part << "\nin\n" << xml;
        }
        for (const std::string& part : c.expected) {
            EXPECT_NE(xml.find(part), std::string::npos) << part << "\nin\n" << xml;
        }
        // Each task has its own trigger only.
        EXPECT_EQ(xml.find("LogonTrigger") != std::string::npos, c.kind == TaskKind::Supervisor);
        EXPECT_EQ(xml.find("CalendarTrigger") != std::string::npos, c.kind == TaskKind::Nightly);
        const std::string verdict = WellFormed(xml);
        if (verdict == "skip") {
            GTEST_SKIP() << "xmllint is not installed: well-formedness not checked";
        }
        EXPECT_EQ(verdict, "") << xml;
    }
}

// A folder too long for the buffer gives no half document.
TEST(BuildTaskXml, TooLongForTheBufferIsRefused)
{
    const std::string folder(400, 'x');
    char buffer[1024];
    TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
    EXPECT_FALSE(BuildTaskXml(TaskKind::Supervisor, {folder.c_str(), "kiosk"}, text));
}

TEST(SchtasksCommands, CreateAndDelete)
{
    const struct {
        TaskKind kind;
        const char* create;
        const char* remove;
    } cases[] = {
        {TaskKind::Supervisor, "schtasks /Create /TN \"DOZEWARD\" /XML \"C:\\Temp\\t 1.xml\" /F",
         "schtasks /Delete /TN \"DOZEWARD\" /F"},
        {TaskKind::Nightly,
         "schtasks /Create /TN \"DOZEWARD nightly sleep\" /XML \"C:\\Temp\\t 1.xml\" /F",
         "schtasks /Delete /TN \"DOZEWARD nightly sleep\" /F"},
    };
    for (const auto& c : cases) {
        char buffer[256];
        TextBuffer text = MakeTextBuffer(buffer, sizeof(buffer));
        EXPECT_TRUE(BuildCreateCommand(c.kind, "C:\\Temp\\t 1.xml", text));
        EXPECT_STREQ(buffer, c.create);
        text = MakeTextBuffer(buffer, sizeof(buffer));
        EXPECT_TRUE(BuildDeleteCommand(c.kind, text));
        EXPECT_STREQ(buffer, c.remove);
    }
}

} // namespace
