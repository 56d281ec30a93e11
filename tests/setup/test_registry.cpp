// Registry access against the real (Wine) registry of a fresh prefix.
#include "system/Registry.h"

#include <cstdlib>
#include <string>

#include "RegistryFixture.h"

namespace {

const std::string kBase = "Software\\QorRegistryTest";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        regfix::DeleteTree(kBase);
        ASSERT_TRUE(regfix::CreateKey(kBase));
    }
    void TearDown() override { regfix::DeleteTree(kBase); }
    static std::string Key(const std::string& below) { return kBase + "\\" + below; }
};

// ---- readers ----

TEST_F(RegistryTest, ReadsStringsAndAnswersEmptyForWhatIsMissing) {
    ASSERT_TRUE(regfix::SetString(Key("App"), "Path", "D:\\Games\\X"));
    ASSERT_TRUE(regfix::SetString(Key("App"), "", "default data"));
    EXPECT_EQ(ReadRegistryString(Key("App").c_str(), "Path"), "D:\\Games\\X");
    EXPECT_EQ(ReadRegistryString(Key("App").c_str(), ""), "default data");
    EXPECT_EQ(ReadRegistryString(Key("App").c_str(), "Missing"), "");
    EXPECT_EQ(ReadRegistryString(Key("NoSuchKey").c_str(), "Path"), "");
}

TEST_F(RegistryTest, TakesAnyTypeAsTextUpToTheFirstZero) {
    const DWORD zero = 0;
    ASSERT_TRUE(regfix::SetRaw(Key("T"), "Dword", &zero, sizeof(zero), REG_DWORD));
    EXPECT_EQ(ReadRegistryString(Key("T").c_str(), "Dword"), "");
    const char bin[] = {'a', 'b', '\0', 'c'};
    ASSERT_TRUE(regfix::SetRaw(Key("T"), "Bin", bin, sizeof(bin), REG_BINARY));
    EXPECT_EQ(ReadRegistryString(Key("T").c_str(), "Bin"), "ab");
}

TEST_F(RegistryTest, StringsWithoutTerminatingZeroReadComplete) {
    ASSERT_TRUE(regfix::SetRaw(Key("T"), "Short", "C:\\Short", 8));
    EXPECT_EQ(ReadRegistryString(Key("T").c_str(), "Short"), "C:\\Short");
    // Exactly the buffer's size, no zero: nothing may be cut or run past.
    const std::string full(260, 'f');
    ASSERT_TRUE(regfix::SetRaw(Key("T"), "Full", full.data(), 260));
    EXPECT_EQ(ReadRegistryString(Key("T").c_str(), "Full").str(), full);
}

TEST_F(RegistryTest, ValuesLongerThanTheBufferReadWhole) {
    const std::string longText = "C:\\" + std::string(400, 'L');
    ASSERT_TRUE(regfix::SetString(Key("T"), "Long", longText));
    EXPECT_EQ(ReadRegistryString(Key("T").c_str(), "Long").str(), longText);
    EXPECT_EQ(ReadRegistryStringAt(HKEY_LOCAL_MACHINE, Key("T").c_str(), "Long").str(), longText);
    const std::string unterminated(1000, 'u');
    ASSERT_TRUE(regfix::SetRaw(Key("T"), "Raw", unterminated.data(), 1000));
    EXPECT_EQ(ReadRegistryString(Key("T").c_str(), "Raw").str(), unterminated);
}

TEST_F(RegistryTest, ReadsBelowOtherRoots) {
    const std::string user = "Software\\QorRegistryTestUser";
    ASSERT_TRUE(regfix::SetString(user, "Programs", "C:\\Start", HKEY_CURRENT_USER));
    EXPECT_EQ(ReadRegistryStringAt(HKEY_CURRENT_USER, user.c_str(), "Programs"), "C:\\Start");
    // Not below HKLM.
    EXPECT_EQ(ReadRegistryString(user.c_str(), "Programs"), "");
    EXPECT_EQ(ReadRegistryStringAt(HKEY_CURRENT_USER, user.c_str(), "Missing"), "");
    EXPECT_EQ(ReadRegistryStringAt(HKEY_CURRENT_USER, "Software\\NoSuchQorKey", "X"), "");
    regfix::DeleteTree(user, HKEY_CURRENT_USER);
}

TEST_F(RegistryTest, ReadsPublisherSetupEntries) {
    const std::string entry = "Software\\Corvane OnLine\\Setup\\QorRegTestApp";
    ASSERT_TRUE(regfix::SetString(entry, "Directory", "C:\\Program Files\\QOR\\App"));
    ASSERT_TRUE(regfix::SetString(entry, "Full Name", "Qor App"));
    EXPECT_EQ(ReadSetupDirectory("QorRegTestApp"), "C:\\Program Files\\QOR\\App");
    EXPECT_EQ(ReadSetupFullName("QorRegTestApp"), "Qor App");
    EXPECT_EQ(ReadSetupDirectory("QorRegTestNone"), "");
    EXPECT_EQ(ReadSetupFullName("QorRegTestNone"), "");
    regfix::DeleteTree(entry);
}

// ---- tests ----

TEST_F(RegistryTest, KeyAndValueExistence) {
    ASSERT_TRUE(regfix::SetString(Key("E"), "Empty", ""));
    ASSERT_TRUE(regfix::SetRaw(Key("E"), "NoData", "", 0));
    ASSERT_TRUE(regfix::SetString(Key("E"), "Long", std::string(5000, 'x')));
    EXPECT_TRUE(RegistryKeyExists(Key("E").c_str()));
    EXPECT_FALSE(RegistryKeyExists(Key("Nope").c_str()));
    EXPECT_TRUE(RegistryValueExists(Key("E").c_str(), "Empty"));
    EXPECT_TRUE(RegistryValueExists(Key("E").c_str(), "NoData"));
    EXPECT_TRUE(RegistryValueExists(Key("E").c_str(), "Long"));  // never "missing"
    EXPECT_FALSE(RegistryValueExists(Key("E").c_str(), "Absent"));
    EXPECT_FALSE(RegistryValueExists(Key("Nope").c_str(), "Empty"));
}

TEST_F(RegistryTest, KeyIsEmptyOnlyWithoutValuesAndSubkeys) {
    EXPECT_TRUE(RegistryKeyIsEmpty(Key("Missing").c_str()));
    ASSERT_TRUE(regfix::CreateKey(Key("Bare")));
    EXPECT_TRUE(RegistryKeyIsEmpty(Key("Bare").c_str()));
    ASSERT_TRUE(regfix::SetString(Key("WithValue"), "V", "1"));
    EXPECT_FALSE(RegistryKeyIsEmpty(Key("WithValue").c_str()));
    ASSERT_TRUE(regfix::CreateKey(Key("WithSub\\Sub")));
    EXPECT_FALSE(RegistryKeyIsEmpty(Key("WithSub").c_str()));
}

TEST_F(RegistryTest, PlatformFamily) {
    // A fresh Wine prefix reports an NT-family Windows; the win98 run sets
    // QOR_EXPECT_WIN95 and a prefix that reports Windows 98.
    EXPECT_EQ(IsWindowsNT(), std::getenv("QOR_EXPECT_WIN95") == nullptr);
}

// ---- deletions ----

TEST_F(RegistryTest, DeleteValueAlwaysAnswersTrue) {
    ASSERT_TRUE(regfix::SetString(Key("D"), "A", "1"));
    ASSERT_TRUE(regfix::SetString(Key("D"), "B", "2"));
    EXPECT_TRUE(DeleteRegistryValue(Key("D").c_str(), "A"));
    EXPECT_FALSE(regfix::ValueExists(Key("D"), "A"));
    EXPECT_TRUE(regfix::ValueExists(Key("D"), "B"));
    EXPECT_TRUE(DeleteRegistryValue(Key("D").c_str(), "A"));
    EXPECT_TRUE(DeleteRegistryValue(Key("NoKey").c_str(), "A"));
}

TEST_F(RegistryTest, DeleteSubkey) {
    EXPECT_TRUE(DeleteRegistrySubkey(Key("NoParent").c_str(), "Child"));
    ASSERT_TRUE(regfix::CreateKey(Key("P\\Child")));
    EXPECT_FALSE(DeleteRegistrySubkey(Key("P").c_str(), "Other"));
    EXPECT_TRUE(DeleteRegistrySubkey(Key("P").c_str(), "Child"));
    EXPECT_FALSE(regfix::KeyExists(Key("P\\Child")));
    EXPECT_TRUE(regfix::KeyExists(Key("P")));
    // An empty name must not take the parent itself.
    EXPECT_FALSE(DeleteRegistrySubkey(Key("P").c_str(), ""));
    EXPECT_TRUE(regfix::KeyExists(Key("P")));
}

TEST_F(RegistryTest, DeleteValuesRemovesEveryValueWhateverItsNameLength) {
    ASSERT_TRUE(regfix::SetString(Key("V"), "a", "1"));
    ASSERT_TRUE(regfix::SetString(Key("V"), "a much longer value name than the first", "2"));
    ASSERT_TRUE(regfix::SetString(Key("V"), "", "default"));
    ASSERT_TRUE(regfix::SetString(Key("V"), std::string(300, 'n'), "3"));  // > 260 characters
    ASSERT_TRUE(regfix::CreateKey(Key("V\\Sub")));
    ASSERT_TRUE(regfix::SetString(Key("V\\Sub"), "kept", "4"));
    DeleteRegistryValues(Key("V").c_str());
    EXPECT_EQ(regfix::ValueCount(Key("V")), 0u);
    EXPECT_TRUE(regfix::ValueExists(Key("V\\Sub"), "kept"));
    DeleteRegistryValues(Key("NoKey").c_str());  // returns quietly
}

TEST_F(RegistryTest, DeleteTreeRemovesAllLevelsAndLeavesTheParent) {
    const std::string top = Key("Parent\\Top");
    ASSERT_TRUE(regfix::SetString(top, "v", "0"));
    ASSERT_TRUE(regfix::SetString(top + "\\L1", "v", "1"));
    ASSERT_TRUE(regfix::SetString(top + "\\L1\\L2", "v", "2"));
    ASSERT_TRUE(regfix::SetString(top + "\\L1\\L2\\L3", "v", "3"));
    ASSERT_TRUE(regfix::CreateKey(top + "\\Sibling1"));
    ASSERT_TRUE(regfix::CreateKey(top + "\\Sibling2\\Deep"));
    ASSERT_TRUE(regfix::SetString(Key("Parent"), "keep", "p"));
    ASSERT_TRUE(regfix::CreateKey(Key("Parent\\TopNeighbour")));
    DeleteRegistryTree(top.c_str());
    EXPECT_FALSE(regfix::KeyExists(top));
    EXPECT_TRUE(regfix::KeyExists(Key("Parent")));
    EXPECT_TRUE(regfix::ValueExists(Key("Parent"), "keep"));
    EXPECT_TRUE(regfix::KeyExists(Key("Parent\\TopNeighbour")));
    DeleteRegistryTree(Key("NoSuchKey").c_str());  // returns quietly
}

TEST_F(RegistryTest, EmptyPathsNeverReachTheRoot) {
    ASSERT_TRUE(regfix::SetString(Key("Guard"), "v", "1"));
    DeleteRegistryTree("");
    DeleteRegistryValues("");
    EXPECT_TRUE(regfix::ValueExists(Key("Guard"), "v"));
    EXPECT_TRUE(regfix::KeyExists("Software"));
}

}  // namespace
