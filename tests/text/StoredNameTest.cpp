// What a stored entry name decodes to: destination, command arguments, unit.
#include <gtest/gtest.h>

#include "contract/StoredName.h"

namespace {

struct NameCase {
    const char* stored;
    const char* destination;
    const char* installArgs;
    const char* uninstallArgs;
    StoredNameUnit unit;
};

TEST(DecodeStoredName, PrefixesTagsAndUnit) {
    using U = StoredNameUnit;
    const NameCase cases[] = {
        {"[TROVIX]\\bin\\a.exe", "C:\\P\\bin\\a.exe", "", "", U::kProduct},
        {"[RECEIVE]\\r.dll", "D:\\R\\r.dll", "", "", U::kReceiver},
        {"C:\\Windows\\f.txt", "C:\\Windows\\f.txt", "", "", U::kUnknown},
        // Both prefixes: both replaced, the receiver's unit wins.
        {"[RECEIVE]\\[TROVIX].dat", "D:\\R\\C:\\P.dat", "", "", U::kReceiver},
        {"[TROVIX]\\[TROVIX]", "C:\\P\\[TROVIX]", "", "", U::kProduct},  // first only
        {"[trovix]\\a", "[trovix]\\a", "", "", U::kUnknown},             // case counts
        {"[TROVIX]\\a.exe[InstCmd=-register]", "C:\\P\\a.exe", "-register", "", U::kProduct},
        {"[TROVIX]\\u.exe[UninstCmd=/remove all]", "C:\\P\\u.exe", "", "/remove all", U::kProduct},
        {"[RECEIVE]\\b.exe[UninstCmd=-u][InstCmd=-i]", "D:\\R\\b.exe", "-i", "-u", U::kReceiver},
        // A tag in other letter case gives its value but stays in the name.
        {"[TROVIX]\\c.exe[instcmd=-x]", "C:\\P\\c.exe[instcmd=-x]", "-x", "", U::kProduct},
        {"[TROVIX]\\d.exe[InstCmd=-x", "C:\\P\\d.exe[InstCmd=-x", "", "", U::kProduct},  // unclosed
        {"", "", "", "", U::kUnknown},
    };
    for (const NameCase& c : cases) {
        const StoredNameMeaning m = DecodeStoredName(c.stored, "C:\\P", "D:\\R");
        EXPECT_EQ(m.destination.str(), c.destination) << c.stored;
        EXPECT_EQ(m.installArgs.str(), c.installArgs) << c.stored;
        EXPECT_EQ(m.uninstallArgs.str(), c.uninstallArgs) << c.stored;
        EXPECT_EQ(m.unit, c.unit) << c.stored;
    }
}

}  // namespace
