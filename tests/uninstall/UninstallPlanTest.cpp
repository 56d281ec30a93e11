// The uninstall plan: options, the order of units and the order of work.
#include <gtest/gtest.h>

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
        Describe(BuildWorkList(log, ListUnitsForFullRemoval(log, "Trovix"), true)));
}

TEST(BuildWorkList, OneReceiverTakesOnlyItsOwnCommands) {
    UninstallLog log = Parse(kLog);
    EXPECT_EQ(
        "cmd C:\\G\\QOR\\R.exe\ncmd C:\\G\\QOR\\sub\\S.exe\nfile C:\\G\\QOR\\R.exe\n"
        "key Software\\QOR\\Trovix\\3rdPartyApps\\g.exe\ndir C:\\G\\QOR\n",
        Describe(BuildWorkList(log, {"rcv"}, false)));
}

}  // namespace
