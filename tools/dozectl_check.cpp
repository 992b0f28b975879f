// The decisions of DOZECTL check.
//
// FAILED means the night's cycle would go wrong with the PC as it is: no
// supervisor to take the command, no companion to restart, no hibernation,
// no wake-up, a sign-in screen over the restarted companion, or no right to
// hibernate. WARNING means it would work but not as well (no log; a setting
// that matters only on battery, on a PC without one). A reading that failed
// is "unknown": said so, never counted as OK, and not counted as a failure.
#include "tools/dozectl_check.h"

namespace {

// The power settings' commands, as powercfg names them.
const char FIX_WAKE_AC[] = "powercfg /setacvalueindex SCHEME_CURRENT SUB_SLEEP RTCWAKE 1\n"
                           "powercfg /setactive SCHEME_CURRENT";
const char FIX_WAKE_DC[] = "powercfg /setdcvalueindex SCHEME_CURRENT SUB_SLEEP RTCWAKE 1\n"
                           "powercfg /setactive SCHEME_CURRENT";
const char FIX_SIGN_IN[] = "powercfg /setacvalueindex SCHEME_CURRENT SUB_NONE CONSOLELOCK 0\n"
                           "powercfg /setdcvalueindex SCHEME_CURRENT SUB_NONE CONSOLELOCK 0\n"
                           "powercfg /setactive SCHEME_CURRENT";

// "Allow wake timers": 0 disabled, 1 enabled, 2 important wake timers only
// (which leaves out a program's timer like the supervisor's).
CheckItem WakeTimers(int index, bool onBattery, Answer battery)
{
    CheckItem item = {Verdict::Ok, onBattery ? "wake timers on battery" : "wake timers on AC power",
                      "", onBattery ? FIX_WAKE_DC : FIX_WAKE_AC};
    if (index == SETTING_UNKNOWN) {
        item.verdict = Verdict::Unknown;
        item.finding = "the active power plan could not be read";
        return item;
    }
    if (index == 1) {
        item.fix = "";
        return item;
    }
    item.finding = index == 0   ? "disabled in the active power plan"
                   : index == 2 ? "only important wake timers, which leaves out the supervisor's"
                                : "set to a value this check does not know";
    // On battery it matters only where there is one.
    item.verdict = !onBattery || battery != Answer::No ? Verdict::Failed : Verdict::Warning;
    return item;
}

} // namespace

CheckReport DecideChecks(const CheckReadings& r)
{
    CheckReport report = {};
    int n = 0;
    const auto add = [&](Verdict verdict, const char* subject, const char* finding,
                         const char* fix) {
        report.items[n++] = {verdict, subject, finding, fix};
    };

    if (r.supervisorRuns == Answer::Yes) {
        add(Verdict::Ok, "the supervisor runs in this session", "", "");
    } else {
        add(Verdict::Failed, "the supervisor runs in this session",
            "no supervisor found: nothing would take tonight's sleep command",
            "schtasks /Run /TN \"DOZEWARD\"   (after DOZECTL install; or sign out and in)");
    }

    if (r.companionBeside == Answer::Yes) {
        add(Verdict::Ok, "ORB.EXE lies beside the supervisor", "", "");
    } else if (r.companionBeside == Answer::No) {
        add(Verdict::Failed, "ORB.EXE lies beside the supervisor",
            "not there: the companion could not be restarted after the wake-up",
            "copy ORB.EXE into the supervisor's folder");
    } else {
        add(Verdict::Unknown, "ORB.EXE lies beside the supervisor", "the folder could not be read",
            "");
    }

    if (r.folderWritable == Answer::Yes) {
        add(Verdict::Ok, "the log's folder is writable", "", "");
    } else if (r.folderWritable == Answer::No) {
        add(Verdict::Warning, "the log's folder is writable",
            "this user cannot write there: the cycle works, but nothing is logged",
            "give this user the right to modify the folder (Properties, Security)");
    } else {
        add(Verdict::Unknown, "the log's folder is writable", "the folder could not be tried", "");
    }

    const char* hibernation = "hibernation is available, with a full hibernation file";
    const char* fixHibernation = "powercfg /h on\npowercfg /h /type full";
    if (r.hibernationOffered == Answer::Unknown || r.hibernationFile == Answer::Unknown) {
        add(Verdict::Unknown, hibernation, "the power capabilities could not be read", "");
    } else if (r.hibernationFile == Answer::No) {
        add(Verdict::Failed, hibernation, "hibernation is off", fixHibernation);
    } else if (r.hibernationOffered == Answer::No) {
        add(Verdict::Failed, hibernation,
            "not offered: the hibernation file is reduced (fast startup only) or the firmware "
            "does not support it",
            "powercfg /h /type full\npowercfg /a   (says why, if it is still not offered)");
    } else {
        add(Verdict::Ok, hibernation, "", "");
    }

    report.items[n++] = WakeTimers(r.wakeTimersAc, false, r.battery);
    report.items[n++] = WakeTimers(r.wakeTimersDc, true, r.battery);

    const char* signIn = "no sign-in is required on wake";
    if (r.signInOnWakeAc == SETTING_UNKNOWN || r.signInOnWakeDc == SETTING_UNKNOWN) {
        add(Verdict::Unknown, signIn, "the active power plan could not be read", "");
    } else if (r.signInOnWakeAc != 0) {
        add(Verdict::Failed, signIn,
            "a sign-in is required: the restarted companion would wait behind the sign-in screen",
            FIX_SIGN_IN);
    } else if (r.signInOnWakeDc != 0) {
        add(r.battery == Answer::No ? Verdict::Warning : Verdict::Failed, signIn,
            "a sign-in is required on battery", FIX_SIGN_IN);
    } else {
        add(Verdict::Ok, signIn, "", "");
    }

    if (r.shutdownPrivilege == Answer::Yes) {
        add(Verdict::Ok, "this user holds the shutdown privilege", "", "");
    } else if (r.shutdownPrivilege == Answer::No) {
        add(Verdict::Failed, "this user holds the shutdown privilege",
            "not held: Windows would refuse the hibernation",
            "grant \"Shut down the system\" to this user (secpol.msc, Local Policies, User Rights "
            "Assignment)");
    } else {
        add(Verdict::Unknown, "this user holds the shutdown privilege",
            "the process token could not be read", "");
    }

    for (const CheckItem& item : report.items) {
        report.failed += item.verdict == Verdict::Failed ? 1 : 0;
    }
    return report;
}

void FormatCheckReport(const CheckReport& report, const char* folder, TextBuffer& text)
{
    AppendText(text, "folder: ");
    AppendText(text, folder);
    AppendText(text, "\n");
    for (const CheckItem& item : report.items) {
        const char* const labels[] = {"OK       ", "WARNING  ", "FAILED   ", "unknown  "};
        AppendText(text, labels[static_cast<int>(item.verdict)]);
        AppendText(text, item.subject);
        if (item.finding[0] != '\0') {
            AppendText(text, ": ");
            AppendText(text, item.finding);
        }
        AppendText(text, "\n");
        const char* fix = item.fix;
        const char* lead = "         fix: ";
        while (*fix != '\0') {
            AppendText(text, lead);
            lead = "              ";
            std::size_t length = 0;
            while (fix[length] != '\0' && fix[length] != '\n') {
                ++length;
            }
            AppendTextCut(text, fix, length);
            AppendText(text, "\n");
            fix += fix[length] == '\n' ? length + 1 : length;
        }
    }
    AppendText(text, "(powercfg needs a command prompt run as administrator)\n");
    if (report.failed == 0) {
        AppendText(text, "check: nothing found that would make the night's cycle fail\n");
    } else {
        AppendText(text, "check: ");
        AppendDecimal(text, report.failed);
        AppendText(text, report.failed == 1 ? " item would" : " items would");
        AppendText(text, " make the night's cycle fail\n");
    }
}
