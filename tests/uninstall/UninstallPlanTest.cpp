// The uninstall plan: options, the order of units and the order of work.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "uninstall/UninstallPlan.h"

namespace {

UninstallLog Parse(const std::string& s) { return ParseUninstallLog(s.data(), s.size()); }

TEST(ParseUninstallOptions, Table) {
    struct Case {
        const char* tail;
        bool ok, silent, given;
        const char* id;
        const char* original;
        unsigned long parent, done, fail;
    } cases[] = {
        {"", true, false, false, "", "", 0, 0, 0},
        {"-silent", true, true, false, "", "", 0, 0, 0},
        {"-SILENT -ProductId=DemoGameRcv", true, true, true, "DemoGameRcv", "", 0, 0, 0},
        {"-productid=", true, false, true, "", "", 0, 0, 0},
        {"-productid=\"Demo Game\" -silent", true, true, true, "Demo Game", "", 0, 0, 0},
        {"-original=\"C:\\Program Files\\QOR\\Trovix\\TrovixUninstall.exe\" -parent=12 -done=34,56",
         true, false, false, "", "C:\\Program Files\\QOR\\Trovix\\TrovixUninstall.exe", 12, 34, 56},
        {"-parent=x", false, false, false, "", "", 0, 0, 0},
        {"-done=1", false, false, false, "", "", 0, 0, 0},
        {"-silently other words", true, false, false, "", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        UninstallOptions o;
        EXPECT_EQ(c.ok, ParseUninstallOptions(c.tail, o)) << c.tail;
        EXPECT_EQ(c.silent, o.silent) << c.tail;
        EXPECT_EQ(c.given, o.productIdGiven) << c.tail;
        EXPECT_EQ(Text(c.id), o.productId) << c.tail;
        EXPECT_EQ(Text(c.original), o.original) << c.tail;
        EXPECT_EQ(c.parent, o.parentHandle) << c.tail;
        EXPECT_EQ(c.done, o.doneHandle) << c.tail;
        EXPECT_EQ(c.fail, o.failHandle) << c.tail;
    }
}

const std::string kLog =
    "[Trovix Dirs]\r\nC:\\P\\QOR=\r\nC:\\P\\QOR\\Trovix=\r\nC:\\P\\QOR\\Scout=\r\n"
    "[Trovix Files]\r\nC:\\P\\QOR\\Trovix\\TrovixInstall.inf=\r\nC:\\P\\QOR\\Trovix\\QorDL.exe=\r\n"
    "[Uninstall Command Line]\r\n"
    "C:\\P\\QOR\\Trovix\\QorDL.exe=C:\\P\\QOR\\Trovix\\QorDL.exe -unregister\r\n"
    "C:\\G\\QOR\\R.exe=C:\\G\\QOR\\R.exe -unregister\r\n"
    "C:\\G\\QOR\\sub\\S.exe=C:\\G\\QOR\\sub\\S.exe -u\r\n"
    "C:\\Users\\Public\\Other.exe=C:\\Users\\Public\\Other.exe -from-a-hostile-log\r\n"
    "C:\\G\\QORX\\T.exe=C:\\G\\QORX\\T.exe\r\n"
    "[Trovix Registry Keys]\r\nSoftware\\QOR=\r\nSoftware\\QOR\\Trovix=\r\n"
    "[Trovix Registry Items]\r\nSoftware\\QOR\\Trovix\\V=\r\n"
    "[Rcv Dirs]\r\nC:\\G\\QOR=\r\n[Rcv Files]\r\nC:\\G\\QOR\\R.exe=\r\n"
    "[Rcv Registry Keys]\r\nSoftware\\QOR\\Trovix\\3rdPartyApps\\g.exe=\r\n"
    "[Dependents]\r\nRcv=\r\nGone=\r\n"
    "[Old Files]\r\nC:\\O\\o=\r\n[Unknown Files]\r\nC:\\u=\r\n"
    "[Trovix Start Menu Folders]\r\nQOR=\r\nQOR\\Trovix=\r\n"
    "[Trovix Start Menu URLs]\r\nStart Trovix=QOR\\Trovix\r\n"
    "[Trovix Start Menu Shortcuts]\r\nUninstall Trovix=QOR\\Trovix\r\n"
    "[Trovix Desktop URLs]\r\nStart Trovix=\r\n";

std::string Join(const std::vector<Text>& v) {
    std::string out;
    for (const Text& t : v) out += (out.empty() ? "" : ",") + t.str();
    return out;
}

TEST(ListUnitsForFullRemoval, DependentsFirstThenOthersThenTheProduct) {
    UninstallLog log = Parse(kLog);
    EXPECT_EQ("Rcv,Gone", Join(ListDependents(log)));
    EXPECT_EQ("Rcv,Gone,Old,Unknown,Trovix", Join(ListUnitsForFullRemoval(log, "Trovix")));
    EXPECT_TRUE(LogKnowsUnit(log, "rcv"));
    EXPECT_TRUE(LogKnowsUnit(log, "Gone"));
    EXPECT_FALSE(LogKnowsUnit(log, "Nothing"));
    EXPECT_FALSE(LogKnowsUnit(log, ""));
}

std::string Describe(const std::vector<WorkItem>& work) {
    static const char* const kinds[] = {"cmd",  "lnk",   "url", "durl", "dlnk",
                                        "file", "value", "key", "menu", "dir"};
    std::string out;
    for (const WorkItem& w : work)
        out += std::string(kinds[static_cast<int>(w.kind)]) + " " + w.key.str() + "\n";
    return out;
}

TEST(BuildWorkList, FullRemovalInOrderOfWork) {
    UninstallLog log = Parse(kLog);
    EXPECT_EQ(
        "cmd C:\\P\\QOR\\Trovix\\QorDL.exe\ncmd C:\\G\\QOR\\R.exe\ncmd C:\\G\\QOR\\sub\\S.exe\n"
        "lnk Uninstall Trovix\nurl Start Trovix\ndurl Start Trovix\n"
        "file C:\\G\\QOR\\R.exe\nfile C:\\O\\o\nfile C:\\u\n"
        "file C:\\P\\QOR\\Trovix\\TrovixInstall.inf\nfile C:\\P\\QOR\\Trovix\\QorDL.exe\n"
        "value Software\\QOR\\Trovix\\V\n"
        "key Software\\QOR\\Trovix\\3rdPartyApps\\g.exe\nkey Software\\QOR\\Trovix\nkey "
        "Software\\QOR\n"
        "menu QOR\\Trovix\nmenu QOR\n"
        "dir C:\\P\\QOR\\Trovix\ndir C:\\P\\QOR\\Scout\ndir C:\\G\\QOR\ndir C:\\P\\QOR\n",
        Describe(BuildWorkList(log, ListUnitsForFullRemoval(log, "Trovix"))));
}

TEST(BuildWorkList, OneReceiverTakesOnlyItsOwnCommands) {
    UninstallLog log = Parse(kLog);
    EXPECT_EQ(
        "cmd C:\\G\\QOR\\R.exe\ncmd C:\\G\\QOR\\sub\\S.exe\nfile C:\\G\\QOR\\R.exe\n"
        "key Software\\QOR\\Trovix\\3rdPartyApps\\g.exe\ndir C:\\G\\QOR\n",
        Describe(BuildWorkList(log, {"rcv"})));
}

// Planning looks sections up by name: 80,000 units are planned in well
// under the time a linear search per unit took (minutes).
TEST(BuildWorkList, EightyThousandUnitsArePlannedInSeconds) {
    const int kUnits = 80000;
    std::string text =
        "[Trovix Files]\r\nC:\\P\\QOR\\Trovix\\TrovixInstall.inf=\r\n[Dependents]\r\n";
    for (int i = 0; i < kUnits; ++i) text += "R" + std::to_string(i) + "=\r\n";
    text += "[Uninstall Command Line]\r\n";
    for (int i = 0; i < kUnits; ++i) {
        std::string exe = "C:\\G\\" + std::to_string(i) + "\\R.exe";
        text += exe + "=" + exe + " -u\r\n";
    }
    for (int i = 0; i < kUnits; ++i) {
        std::string n = std::to_string(i);
        text += "[R" + n + " Files]\r\nC:\\G\\" + n + "\\R.exe=\r\n[R" + n + " Dirs]\r\nC:\\G\\" +
                n + "=\r\n";
    }
    UninstallLog log = Parse(text);
    const auto start = std::chrono::steady_clock::now();
    std::vector<WorkItem> work = BuildWorkList(log, ListUnitsForFullRemoval(log, "Trovix"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(size_t(kUnits) * 3 + 1, work.size());
    EXPECT_LT(seconds, 30.0);  // a search per unit took minutes; loaded hosts vary
}

// An entry cut to kMaxLogField names another object than was written: it is
// planned, so the report names it, but marked to be refused.
TEST(BuildWorkList, OverlongEntriesAreMarkedForRefusal) {
    const std::string longName(kMaxLogField + 1, 'a');
    const std::string text = "[Trovix Files]\r\nC:\\P\\" + longName +
                             "=\r\nC:\\P\\ok.txt=\r\n"
                             "[Trovix Registry Items]\r\nSoftware\\QOR\\" +
                             longName +
                             "=\r\n"
                             "[Uninstall Command Line]\r\nC:\\P\\ok.exe=C:\\P\\ok.exe " +
                             longName + "\r\n[Trovix Dirs]\r\nC:\\P=\r\n[Dependents]\r\n" +
                             longName + "=\r\n";
    UninstallLog log = Parse(text);
    struct Case {
        WorkKind kind;
        size_t keySize;
        bool overlong;
    } cases[] = {
        {WorkKind::Command, 11, true}, {WorkKind::File, kMaxLogField, true},
        {WorkKind::File, 11, false},   {WorkKind::RegistryValue, kMaxLogField, true},
        {WorkKind::Folder, 4, false},
    };
    std::vector<WorkItem> work = BuildWorkList(log, ListUnitsForFullRemoval(log, "Trovix"));
    ASSERT_EQ(sizeof cases / sizeof cases[0], work.size());
    for (size_t i = 0; i < work.size(); ++i) {
        EXPECT_EQ(cases[i].kind, work[i].kind) << i;
        EXPECT_EQ(cases[i].keySize, work[i].key.size()) << i;
        EXPECT_EQ(cases[i].overlong, work[i].overlong) << i;
    }
    EXPECT_TRUE(ListDependents(log).empty());
}

}  // namespace
