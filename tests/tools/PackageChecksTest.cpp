// What qorpack says of a package before it ships: each row a payload and
// slots, and the findings (refusals first) they must and must not give.
#include "PackageChecks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qorpack;

namespace {

const char kUninst[] = "[TROVIX]\\TrovixUninstall.exe";

struct Row {
    const char* what;
    std::vector<std::string> names;
    std::vector<std::pair<int, std::string>> stamped;  // slot index, value
    std::vector<std::string> refusals;                 // a text each refusal holds
    std::vector<std::string> warnings;                 // a text each warning holds
};

std::vector<std::string> InstCmds(int n) {
    std::vector<std::string> v{kUninst};
    for (int i = 0; i < n; ++i) v.push_back("[TROVIX][InstCmd=-r]\\p" + std::to_string(i) + ".exe");
    return v;
}

const Row kRows[] = {
    {"a complete product setup", {kUninst, "[TROVIX]\\a.dat"}, {}, {}, {}},
    {"the uninstaller in any case", {"[TROVIX]\\trovixuninstall.EXE"}, {}, {}, {}},
    {"no uninstaller", {"[TROVIX]\\a.dat"}, {}, {}, {"TrovixUninstall.exe"}},
    {"the uninstaller in the receiver folder",
     {"[RECEIVE]\\TrovixUninstall.exe"},
     {{1, "Rcv"}, {3, "Software\\Game"}, {5, "Game"}},
     {},
     {"TrovixUninstall.exe"}},
    {"twenty install commands", InstCmds(20), {}, {}, {}},
    {"twenty-one install commands", InstCmds(21), {}, {"21 entries", "p20.exe"}, {}},
    {"an empty install command is none",
     [] {
         auto v = InstCmds(20);
         v.push_back("[TROVIX][InstCmd=]\\x.exe");
         return v;
     }(),
     {},
     {},
     {}},
    {"receiver entries without receiver slots",
     {kUninst, "[RECEIVE]\\r.dll"},
     {},
     {},
     {"1 entry is placed with [RECEIVE]", "TVIID_RCV_REG_KEY"}},
    {"receiver slots without receiver entries",
     {kUninst},
     {{1, "Rcv"}, {3, "Software\\Game"}, {5, "Game"}},
     {},
     {"installs no file of its own"}},
    {"a complete receiver setup",
     {kUninst, "[RECEIVE]\\r.dll"},
     {{1, "Rcv"}, {3, "Software\\Game"}, {4, "Path"}, {5, "Game"}},
     {},
     {}},
    {"application slots in a product setup",
     {kUninst},
     {{3, "Software\\Game"}},
     {},
     {"TVIID_APP_REG_KEY is stamped but TVIID_RCV_REG_KEY is not", "refuses to install"}},
    {"an application executable without a key list",
     {kUninst, "[RECEIVE]\\r.dll"},
     {{1, "Rcv"}, {6, "game.exe"}},
     {},
     {"under the receiver's own name ('Rcv')", "asks for game.exe"}},
    {"a default folder needs no key list",
     {kUninst, "[RECEIVE]\\r.dll"},
     {{1, "Rcv"}, {2, "C:\\Games\\Rcv"}},
     {},
     {}},
    {"a key list without an application name",
     {kUninst, "[RECEIVE]\\r.dll"},
     {{1, "Rcv"}, {3, "Software\\Game"}},
     {},
     {"names no application"}},
};

TEST(PackageChecksTest, Findings) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        SlotState slots[kSlotCount];
        for (SlotState& s : slots) s.holdsMarker = true;
        for (const auto& st : row.stamped) slots[st.first] = {false, st.second};
        const std::vector<PackageFinding> found = CheckPackage(row.names, slots);
        size_t refusals = 0;
        for (const PackageFinding& f : found) refusals += f.refuse;
        EXPECT_EQ(refusals, row.refusals.empty() ? 0u : 1u);
        EXPECT_EQ(found.size() - refusals, row.warnings.empty() ? 0u : 1u);
        for (const std::string& want : row.refusals) {
            bool hit = false;
            for (const PackageFinding& f : found)
                hit |= f.refuse && f.message.find(want) != std::string::npos;
            EXPECT_TRUE(hit) << want;
        }
        for (const std::string& want : row.warnings) {
            bool hit = false;
            for (const PackageFinding& f : found)
                hit |= !f.refuse && f.message.find(want) != std::string::npos;
            EXPECT_TRUE(hit) << want;
        }
    }
}

}  // namespace
