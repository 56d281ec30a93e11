// Start-up logic: stamped slots, command line, folder look-ups against a
// registry fixture, the prerequisite check and the exit codes.
#include "setup/StartUp.h"

#include <cstring>
#include <string>

#include "RegistryFixture.h"
#include "resources/resource.h"
#include "text/ResourceText.h"

namespace {

// ---- stamped slots ----

StampedSlots Unstamped() {
    StampedSlots s;
    std::memset(&s, 0, sizeof(s));
    char* base = reinterpret_cast<char*>(&s);
    for (const StampedSlotInfo& info : kStampedSlots) std::strcpy(base + info.offset, info.marker);
    return s;
}

template <size_t N>
void Stamp(char (&slot)[N], const char* value) {
    std::memset(slot, 0, N);
    std::strncpy(slot, value, N - 1);
}

TEST(StampedSlots, TheBlockInTheProgramStartsWithEveryMarker) {
    // Same bytes as a freshly built setup: marker, then zeros to capacity.
    const StampedSlots expected = Unstamped();
    EXPECT_EQ(std::memcmp(&gStampedSlots, &expected, sizeof(expected)), 0);
}

TEST(StampedSlots, UnstampedSetupInstallsTheProductAlone) {
    SetupConfig c;
    c.appKeyList = "stale";
    LoadStampedConfigFrom(Unstamped(), "Trovix", c);
    EXPECT_EQ(c.installName, "Trovix");
    EXPECT_EQ(c.receiverName, "");
    EXPECT_EQ(c.receiverDefaultFolder, "");
    EXPECT_EQ(c.appKeyList, "");
    EXPECT_EQ(c.appLocationValue, "");
    EXPECT_EQ(c.appName, "");
    EXPECT_EQ(c.appExe, "");
}

TEST(StampedSlots, StampedValuesAreTakenAndEmptyIsAValue) {
    StampedSlots s = Unstamped();
    Stamp(s.installName, "");  // empty is not the marker
    Stamp(s.receiverName, "GameXRcv");
    Stamp(s.appKeyList, "Software\\A\\B|GameX");
    Stamp(s.appExe, "game.exe");
    SetupConfig c;
    LoadStampedConfigFrom(s, "Trovix", c);
    EXPECT_EQ(c.installName, "");
    EXPECT_EQ(c.receiverName, "GameXRcv");
    EXPECT_EQ(c.appKeyList, "Software\\A\\B|GameX");
    EXPECT_EQ(c.appExe, "game.exe");
    EXPECT_EQ(c.appName, "");  // still its marker
}

TEST(StampedSlots, MarkerComparisonIsExactAndCaseSensitive) {
    StampedSlots s = Unstamped();
    Stamp(s.installName, "tviid_inst_name");
    Stamp(s.receiverName, "TVIID_RCV_REG_KEYX");
    Stamp(s.appName, "TVIID_APP_NAM");
    // Bytes after the terminating zero do not count.
    std::memcpy(s.appExe + std::strlen("TVIID_APP_EXE") + 1, "junk", 4);
    SetupConfig c;
    LoadStampedConfigFrom(s, "Trovix", c);
    EXPECT_EQ(c.installName, "tviid_inst_name");
    EXPECT_EQ(c.receiverName, "TVIID_RCV_REG_KEYX");
    EXPECT_EQ(c.appName, "TVIID_APP_NAM");
    EXPECT_EQ(c.appExe, "");
}

TEST(StampedSlots, UnterminatedSlotsAreBoundedByTheirCapacity) {
    // Every byte of the block non-zero: each slot must yield exactly its
    // capacity, never running into the next slot or past the block.
    StampedSlots s;
    char* base = reinterpret_cast<char*>(&s);
    for (int i = 0; i < kStampedSlotCount; ++i)
        std::memset(base + kStampedSlots[i].offset, 'a' + i, kStampedSlots[i].capacity);
    SetupConfig c;
    LoadStampedConfigFrom(s, "Trovix", c);
    EXPECT_EQ(c.installName.str(), std::string(40, 'a'));
    EXPECT_EQ(c.receiverName.str(), std::string(32, 'b'));
    EXPECT_EQ(c.receiverDefaultFolder.str(), std::string(64, 'c'));
    EXPECT_EQ(c.appKeyList.str(), std::string(128, 'd'));
    EXPECT_EQ(c.appLocationValue.str(), std::string(32, 'e'));
    EXPECT_EQ(c.appName.str(), std::string(32, 'f'));
    EXPECT_EQ(c.appExe.str(), std::string(32, 'g'));
}

TEST(StampedSlots, LoadStampedConfigReadsTheProgramsOwnBlock) {
    SetupConfig c;
    LoadStampedConfig(c);
    EXPECT_EQ(c.installName, LoadResourceText(GetModuleHandleA(nullptr), IDS_PRODUCT_NAME));
    EXPECT_EQ(c.installName, "Trovix");  // string 163, not a stand-in
    EXPECT_EQ(c.receiverName, "");
    EXPECT_EQ(c.appExe, "");
}

// ---- command line ----

SetupConfig Parse(const char* tail) {
    SetupConfig c;
    c.productFolder = "stale product";
    c.receiverFolder = "stale receiver";
    ParseCommandLine(tail, c);
    return c;
}

TEST(CommandLine, NothingGiven) {
    SetupConfig c = Parse("");
    EXPECT_FALSE(c.silent);
    EXPECT_EQ(c.productFolder, "");  // emptied, not kept
    EXPECT_EQ(c.receiverFolder, "");
}

TEST(CommandLine, SilentAsAWordStartOnly) {
    EXPECT_TRUE(Parse("-silent").silent);
    EXPECT_TRUE(Parse("-SILENT").silent);
    EXPECT_TRUE(Parse("a -silent").silent);
    EXPECT_TRUE(Parse("-silentx").silent);
    EXPECT_FALSE(Parse("x-silent").silent);
    EXPECT_FALSE(Parse("-silen").silent);
    // Only the first occurrence is examined.
    EXPECT_FALSE(Parse("x-silent -silent").silent);
}

TEST(CommandLine, FoldersAreTakenInLowerCase) {
    SetupConfig c = Parse("-TROVIXDIR=D:\\Apps\\Trovix");
    EXPECT_EQ(c.productFolder, "d:\\apps\\trovix");
    EXPECT_EQ(c.receiverFolder, "");
    c = Parse("-silent -receivedir=\"C:\\Program Files\\X\" -trovixdir=e:\\t");
    EXPECT_TRUE(c.silent);
    EXPECT_EQ(c.receiverFolder, "c:\\program files\\x");
    EXPECT_EQ(c.productFolder, "e:\\t");
}

TEST(CommandLine, DeploymentOptions) {
    struct Case {
        const char* tail;
        bool suppress;
        const char* log;
    };
    const Case cases[] = {
        {"-silent -suppressmsgboxes", true, ""},
        {"-SuppressMsgBoxes -SILENT", true, ""},
        {"-suppressmsgboxes", false, ""},  // nothing to suppress with the wizard up
        {"-silent x-suppressmsgboxes", false, ""},
        {"-silent -log=C:\\Logs\\Setup.LOG", false, "C:\\Logs\\Setup.LOG"},  // case kept
        {"-LOG=\"D:\\My Logs\\a.log\" -silent", false, "D:\\My Logs\\a.log"},
        {"-log=setup.log", false, "setup.log"},  // relative: to the current folder
        {"x-log=a.log", false, ""},
        {"-silent", false, ""},
    };
    for (const Case& c : cases) {
        const SetupConfig config = Parse(c.tail);
        EXPECT_EQ(config.suppressMessageBoxes, c.suppress) << c.tail;
        EXPECT_EQ(config.logPath, c.log) << c.tail;
        EXPECT_EQ(config.commandLine, c.tail);
    }
}

TEST(Folders, OnlyAbsoluteFoldersAreUsable) {
    struct Case {
        const char* folder;
        bool absolute;
    };
    const Case cases[] = {
        {"C:\\", true},
        {"c:\\program files\\qor\\trovix", true},
        {"\\\\server\\share", true},
        {"\\\\server\\share\\apps", true},
        {"", false},
        {"foo", false},
        {"games\\star", false},
        {"\\Trovix", false},  // the current drive's root
        {"C:Trovix", false},  // the current folder of drive C
        {"C:", false},
        {"1:\\x", false},
        {"\\\\server", false},
        {"\\\\server\\", false},
        {"\\\\\\share", false},
        {"C:/Trovix", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsAbsoluteFolder(c.folder), c.absolute) << c.folder;

    SetupConfig config;
    config.productFolder = "C:\\P";
    EXPECT_FALSE(FolderRefused(config));  // no receiver folder: nothing to check
    config.receiverFolder = "D:\\R";
    EXPECT_FALSE(FolderRefused(config));
    config.receiverFolder = "r";
    EXPECT_TRUE(FolderRefused(config));
    config.receiverFolder = "";
    config.productFolder = "foo";
    EXPECT_TRUE(FolderRefused(config));
}

// ---- prerequisite and exit codes ----

TEST(Prerequisite, MissingOnlyWhenTheReceiverCannotBePlacedNorAskedFor) {
    SetupConfig c;
    EXPECT_FALSE(PrerequisiteMissing(c));  // product-only setup
    c.appKeyList = "GameX";
    EXPECT_TRUE(PrerequisiteMissing(c));
    c.appExe = "game.exe";
    EXPECT_FALSE(PrerequisiteMissing(c));  // the wizard asks for the folder
    c.silent = true;
    EXPECT_TRUE(PrerequisiteMissing(c));  // silent: nobody to ask for the folder
    c.appExe = "";
    c.receiverFolder = "D:\\Games\\X";
    EXPECT_FALSE(PrerequisiteMissing(c));
    c.silent = false;
    EXPECT_FALSE(PrerequisiteMissing(c));
}

TEST(Prerequisite, MessageReplacesEveryPlaceholder) {
    SetupConfig c;
    c.installName = "GameX Receiver";
    c.appName = "GameX";
    const Text message = PrerequisiteMessage(
        "<RCV> requires an installed copy of <PROD>.  You must install <PROD> before you install "
        "<RCV>.",
        c);
    EXPECT_EQ(message,
              "GameX Receiver requires an installed copy of GameX.  You must install GameX "
              "before you install GameX Receiver.");
}

TEST(ExitCodes, OnlyACompletedInstallGivesZero) {
    EXPECT_EQ(ExitCodeForResult(1), 0);
    EXPECT_EQ(ExitCodeForResult(2), -1);
    EXPECT_EQ(ExitCodeForResult(0), -1);
    EXPECT_EQ(ExitCodeForResult(3), 3010);  // installed, restart needed
    EXPECT_EQ(WM_APP_START_SETUP, 1034u);
}

// ---- folder look-ups ----

const std::string kSetupKey = "Software\\Corvane OnLine\\Setup";

class FolderLookup : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        regfix::DeleteTree(kSetupKey);
        regfix::DeleteTree("Software\\QorLookupTest");
    }
};

TEST(DefaultFolder, DriveOfTheSystemDirectory) {
    EXPECT_EQ(DefaultTrovixFolderFor("D:\\WINNT\\system32", "Program Files\\QOR\\Trovix"),
              "D:\\Program Files\\QOR\\Trovix");
    EXPECT_EQ(DefaultTrovixFolderFor("\\\\server\\share\\system32", "P"), "C:\\P");
    EXPECT_EQ(DefaultTrovixFolderFor("", "P"), "C:\\P");
}

TEST_F(FolderLookup, ProductFolderFromTheSetupEntryAsStored) {
    ASSERT_TRUE(regfix::SetString(kSetupKey + "\\Trovix", "Directory", "E:\\Qor\\Trovix\\"));
    SetupConfig c;
    FindDefaultTrovixFolder(c);
    EXPECT_EQ(c.productFolder, "E:\\Qor\\Trovix\\");
}

TEST_F(FolderLookup, ProductFolderDefaultsToTheSystemDrive) {
    SetupConfig c;
    FindDefaultTrovixFolder(c);
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(c.productFolder,
              DefaultTrovixFolderFor(
                  system, LoadResourceText(GetModuleHandleA(nullptr), IDS_DEFAULT_FOLDER)));
    EXPECT_EQ(c.productFolder, "C:\\Program Files\\QOR\\Trovix");  // Wine's system drive
}

SetupConfig Receiver(const char* keys, const char* location = "InstallPath") {
    SetupConfig c;
    c.receiverName = "GameXRcv";
    c.appKeyList = keys;
    c.appLocationValue = location;
    return c;
}

TEST_F(FolderLookup, AlternativesAreTriedLeftToRightSetupEntryFirst) {
    const std::string b = "Software\\QorLookupTest\\B";
    ASSERT_TRUE(regfix::SetString(b, "InstallPath", "D:\\From\\Key"));
    ASSERT_TRUE(regfix::SetString(kSetupKey + "\\GameX", "Directory", "D:\\From\\GameX"));
    SetupConfig c = Receiver("Software\\QorLookupTest\\B|GameX");
    LocateReceiverFolder(c);
    EXPECT_EQ(c.receiverFolder, "D:\\From\\Key");

    // The setup entry of an alternative wins over its key's location value.
    ASSERT_TRUE(regfix::SetString(kSetupKey + "\\" + b, "Directory", "D:\\From\\Entry"));
    c = Receiver("Software\\QorLookupTest\\B|GameX");
    LocateReceiverFolder(c);
    EXPECT_EQ(c.receiverFolder, "D:\\From\\Entry");

    // The first alternative gives nothing: the second one's setup entry.
    c = Receiver("Software\\QorLookupTest\\Missing|GameX");
    LocateReceiverFolder(c);
    EXPECT_EQ(c.receiverFolder, "D:\\From\\GameX");
}

TEST_F(FolderLookup, LaterAlternativeKeyAndDefaultValue) {
    ASSERT_TRUE(regfix::SetString("Software\\QorLookupTest\\C", "", "D:\\Default\\Value"));
    SetupConfig c = Receiver("|Software\\QorLookupTest\\Missing|Software\\QorLookupTest\\C", "");
    LocateReceiverFolder(c);
    EXPECT_EQ(c.receiverFolder, "D:\\Default\\Value");
}

TEST_F(FolderLookup, FallsBackToTheReceiverDefaultFolder) {
    SetupConfig c = Receiver("Software\\QorLookupTest\\Missing|Nothing");
    c.receiverDefaultFolder = "C:\\Rcv";
    LocateReceiverFolder(c);
    EXPECT_EQ(c.receiverFolder, "C:\\Rcv");
    c = Receiver("Software\\QorLookupTest\\Missing");
    LocateReceiverFolder(c);
    EXPECT_EQ(c.receiverFolder, "");
    EXPECT_TRUE(PrerequisiteMissing(c));
}

TEST_F(FolderLookup, EmptyKeyListBecomesTheReceiverName) {
    ASSERT_TRUE(regfix::SetString(kSetupKey + "\\GameXRcv", "Directory", "D:\\Rcv\\Found"));
    SetupConfig c = Receiver("");
    LocateReceiverFolder(c);
    EXPECT_EQ(c.appKeyList, "GameXRcv");
    EXPECT_EQ(c.receiverFolder, "D:\\Rcv\\Found");

    // A product-only setup stays without a receiver folder, and the publisher
    // key's own values are never taken for one.
    ASSERT_TRUE(regfix::SetString(kSetupKey, "Directory", "D:\\Not\\This"));
    SetupConfig p;
    LocateReceiverFolder(p);
    EXPECT_EQ(p.appKeyList, "");
    EXPECT_EQ(p.receiverFolder, "");
    EXPECT_FALSE(PrerequisiteMissing(p));
}

}  // namespace
