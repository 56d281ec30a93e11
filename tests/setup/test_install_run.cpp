// Install-run steps that need no payload: folder completion, locating the
// appended archive, preparing the destination with its log records, and the
// install command list. Runs under Wine; files go to a fresh temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "contract/ArchiveFormat.h"
#include "setup/InstallRun.h"
#include "setup/SetupLog.h"
#include "system/FileUtil.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Le32(uint32_t v) {
    uint8_t b[4];
    qzf_format::Put32(b, v);
    return std::string(reinterpret_cast<const char*>(b), sizeof b);
}

// An archive with no entries: header record and trailer (30 bytes).
std::string EmptyArchive() {
    using namespace qzf_format;
    uint8_t a[kHeaderLength + kTrailerLength];
    BuildHeader(a);
    BuildTrailer(a + kHeaderLength, 0, 0, sizeof a);
    return std::string(reinterpret_cast<const char*>(a), sizeof a);
}

// A message box as the run showed it, read and answered by a CBT hook.
struct SeenBox {
    int count = 0;
    HWND box = nullptr;
    std::string caption, text;
    bool owned = false;
    HICON icon = nullptr;
};
SeenBox gSeen;
HHOOK gHook = nullptr;

LRESULT CALLBACK AnswerMessageBox(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = reinterpret_cast<HWND>(wParam);
    char buf[512];
    // Only dialogs with a message text; a box may be activated more than once.
    if (code == HCBT_ACTIVATE && GetDlgItem(box, 0xFFFF) && box != gSeen.box) {
        gSeen.box = box;
        ++gSeen.count;
        GetWindowTextA(box, buf, sizeof buf);
        gSeen.caption = buf;
        GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);  // the message text
        gSeen.text = buf;
        gSeen.owned = GetWindow(box, GW_OWNER) != nullptr;
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                gSeen.icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(gHook, code, wParam, lParam);
}

class InstallRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "qorrun" + std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
        wizard_.productKeyName = "Trovix";
    }
    void TearDown() override { RemoveFolderTree(root_.c_str()); }

    std::string root_;
    SilentObserver silent_{nullptr};
    InstallRun wizard_{nullptr, silent_};
};

struct FolderCase {
    const char* receiver;
    const char* thirdParty;
    const char* appExe;
    bool defaultGiven;
    const char* expectReceiver;
    bool expectNeed;
};

TEST_F(InstallRunTest, PrepareFoldersCompletesTheReceiverFolder) {
    const FolderCase cases[] = {
        {"D:\\Games\\X\\", "", "", false, "D:\\Games\\X\\QOR", false},
        {"D:\\Games\\X\\QOR", "", "", false, "D:\\Games\\X\\QOR", false},
        {"D:\\Games\\X\\QOR\\", "", "", false, "D:\\Games\\X\\QOR", false},
        {"D:\\Games\\X\\qor", "", "", false, "D:\\Games\\X\\qor\\QOR", false},  // case counts
        {"D:\\Games\\X\\", "", "", true, "D:\\Games\\X", false},      // default stamped: as it is
        {"D:\\Games\\X\\\\", "", "", true, "D:\\Games\\X\\", false},  // one backslash only
        {"", "", "", false, "\\QOR", false},
        {"", "", "game.exe", false, "\\QOR", true},              // folder still to be chosen
        {"", "E:\\Y\\", "game.exe", false, "E:\\Y\\QOR", true},  // chosen in the wizard
        {"F:\\Z", "E:\\Y", "game.exe", false, "F:\\Z\\QOR", false},
    };
    for (const FolderCase& c : cases) {
        SilentObserver silent(nullptr);
        InstallRun w(nullptr, silent);
        w.productFolder = "C:\\Program Files\\QOR\\Trovix\\";
        w.receiverFolder = c.receiver;
        w.thirdPartyFolder = c.thirdParty;
        w.appExe = c.appExe;
        w.receiverDefaultGiven = c.defaultGiven;
        w.PrepareFolders();
        EXPECT_EQ(w.receiverFolder.str(), c.expectReceiver) << c.receiver;
        EXPECT_EQ(w.needThirdPartyFolder, c.expectNeed) << c.receiver;
        EXPECT_EQ(w.productFolder.str(), "C:\\Program Files\\QOR\\Trovix");
        // Running it again (the wizard does) changes nothing, except that a
        // doubled trailing backslash loses its second one.
        if (w.receiverFolder.back() != '\\') {
            w.PrepareFolders();
            EXPECT_EQ(w.receiverFolder.str(), c.expectReceiver) << c.receiver;
        }
    }
}

TEST_F(InstallRunTest, OpenPayloadFindsTheArchiveByItsLength) {
    const std::string host = "MZ stand-in for the executable part";
    const std::string good = root_ + "\\good.exe";
    WriteAll(good, host + EmptyArchive());
    EXPECT_TRUE(wizard_.OpenPayload(good.c_str()));
    EXPECT_TRUE(wizard_.archive.IsOpen());
    EXPECT_EQ(wizard_.archive.GetNumFiles(), 0u);
    wizard_.archive.Close();

    struct Bad {
        const char* name;
        std::string bytes;
    };
    std::string badType = EmptyArchive();
    badType[qzf_format::kHeadOffType] = qzf_format::kTypeInvalid;
    const Bad bad[] = {
        {"short.exe", "MZ\x01"},                         // not even 4 bytes
        {"bare.exe", host + std::string(8, '\0')},       // no payload: length 0
        {"tiny.exe", host + Le32(20)},                   // shorter than any archive
        {"whole.exe", std::string(26, 'x') + Le32(30)},  // length == file size
        {"beyond.exe", host + Le32(0x7FFFFFFF)},
        {"malformed.exe", host + badType},
    };
    for (const Bad& b : bad) {
        const std::string path = root_ + "\\" + b.name;
        WriteAll(path, b.bytes);
        EXPECT_FALSE(wizard_.OpenPayload(path.c_str())) << b.name;
        EXPECT_FALSE(wizard_.archive.IsOpen()) << b.name;
    }
    EXPECT_FALSE(wizard_.OpenPayload((root_ + "\\missing.exe").c_str()));
}

TEST_F(InstallRunTest, PrepareDestinationRecordsMissingLevelsOnce) {
    const std::string dest = root_ + "\\A\\B\\C";
    ASSERT_TRUE(wizard_.PrepareDestination(dest.c_str()));
    const std::string log = dest + "\\TrovixInstall.inf";
    EXPECT_EQ(wizard_.uninstallLogPath.str(), log);
    const std::string expected = "[Trovix Dirs]\r\n" + root_ + "\\A=\r\n" + root_ + "\\A\\B=\r\n" +
                                 dest + "=\r\n[Trovix Files]\r\n" + log + "=\r\n";
    EXPECT_EQ(ReadAll(log), expected);

    // Again, and into an existing folder with an existing log: nothing new.
    ASSERT_TRUE(wizard_.PrepareDestination(dest.c_str()));
    EXPECT_EQ(ReadAll(log), expected);
}

TEST_F(InstallRunTest, PrepareDestinationFailsCleanly) {
    // Under a file: cannot be created, and no log is written anywhere.
    WriteAll(root_ + "\\file", "x");
    EXPECT_FALSE(wizard_.PrepareDestination((root_ + "\\file\\sub").c_str()));
    // A folder whose log path would not fit 260 characters: refused before
    // anything is created.
    const std::string longFolder = root_ + "\\" + std::string(250 - root_.size(), 'L');
    EXPECT_FALSE(wizard_.PrepareDestination(longFolder.c_str()));
    EXPECT_FALSE(FolderExists(longFolder.c_str()));
}

TEST_F(InstallRunTest, InstallCommandsBeyondTwentyAreDropped) {
    for (int i = 0; i < 25; ++i) wizard_.AddInstallCommand(("cmd" + std::to_string(i)).c_str());
    EXPECT_EQ(wizard_.installCommandCount, kMaxInstallCommands);
    EXPECT_EQ(wizard_.installCommands[0].str(), "cmd0");
    EXPECT_EQ(wizard_.installCommands[19].str(), "cmd19");
}

TEST_F(InstallRunTest, UnwritableTagFileIsReportedWithoutOwner) {
    // A folder in the tag file's place: it cannot be opened for writing.
    const std::string scout = "C:\\Program Files\\QOR\\Scout";
    const std::string tag = scout + "\\Trovix.tag";
    const bool scoutExisted = FolderExists(scout.c_str());
    ASSERT_TRUE(CreateFolderPath(tag.c_str()));
    const std::string log = root_ + "\\TrovixInstall.inf";
    wizard_.moduleInstance = GetModuleHandleA(nullptr);
    wizard_.uninstallLogPath = log.c_str();
    wizard_.productFolder = "C:\\P";

    gSeen = SeenBox();
    gHook = SetWindowsHookExA(WH_CBT, AnswerMessageBox, nullptr, GetCurrentThreadId());
    ASSERT_NE(gHook, nullptr);
    wizard_.WriteTitleScoutTag();
    UnhookWindowsHookEx(gHook);

    EXPECT_EQ(gSeen.count, 1);
    EXPECT_EQ(gSeen.caption, "Unable to write file");
    EXPECT_EQ(gSeen.text,
              "Unable to write Title Scout tag file.\nIf you use title scout, it will not be able "
              "to use Trovix to automatically update your system.");
    EXPECT_FALSE(gSeen.owned);
    EXPECT_EQ(gSeen.icon, LoadIconA(nullptr, IDI_INFORMATION));
    EXPECT_NE(gSeen.icon, LoadIconA(nullptr, IDI_ERROR));
    // The tag file is recorded all the same: it did not exist as a file.
    EXPECT_NE(ReadAll(log).find("[Trovix Files]\r\n" + tag + "=\r\n"), std::string::npos);

    RemoveFolderTree(tag.c_str());
    if (!scoutExisted) RemoveFolderTree("C:\\Program Files\\QOR");
}

TEST_F(InstallRunTest, SuppressedMessagesAreAnsweredAndLogged) {
    const std::string scout = "C:\\Program Files\\QOR\\Scout";
    const std::string tag = scout + "\\Trovix.tag";
    const bool scoutExisted = FolderExists(scout.c_str());
    ASSERT_TRUE(CreateFolderPath(tag.c_str()));
    const std::string logPath = root_ + "\\setup.log";
    WriteAll(logPath, "an earlier run\r\n");
    {
        SetupLog log;
        ASSERT_TRUE(log.Open(logPath.c_str()));
        SilentObserver suppressed(nullptr, true);
        LogObserver logged(log, suppressed, true);
        InstallRun run(GetModuleHandleA(nullptr), logged);
        run.uninstallLogPath = (root_ + "\\TrovixInstall.inf").c_str();
        run.productFolder = "C:\\P";

        gSeen = SeenBox();
        gHook = SetWindowsHookExA(WH_CBT, AnswerMessageBox, nullptr, GetCurrentThreadId());
        ASSERT_NE(gHook, nullptr);
        run.WriteTitleScoutTag();
        UnhookWindowsHookEx(gHook);
    }
    EXPECT_EQ(gSeen.count, 0);  // no window at all

    const std::string text = ReadAll(logPath);
    EXPECT_EQ(text.rfind("an earlier run\r\n", 0), 0u);  // appended to
    // Time-stamped lines, CR LF each, the message's own line break flattened.
    const std::string stamp = "YYYY-MM-DD HH:MM:SS ";
    const std::string expected[] = {
        "tag file not written: " + tag,
        "message suppressed: Unable to write file: Unable to write Title Scout tag file. If "
        "you use title scout, it will not be able to use Trovix to automatically update your "
        "system.",
    };
    size_t at = std::string("an earlier run\r\n").size();
    for (const std::string& line : expected) {
        const size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << line;
        ASSERT_GT(end - at, stamp.size()) << line;
        EXPECT_EQ(text.substr(at + stamp.size(), end - at - stamp.size()), line);
        EXPECT_EQ(text[at + 4], '-');
        EXPECT_EQ(text[at + 13], ':');
        at = end + 2;
    }
    EXPECT_EQ(at, text.size());

    RemoveFolderTree(tag.c_str());
    if (!scoutExisted) RemoveFolderTree("C:\\Program Files\\QOR");
}

TEST(InstallObservers, EntryLinesAndDefaultAnswers) {
    struct Line {
        EntryOutcome outcome;
        const char* cause;
        const char* expected;
    };
    const Line lines[] = {
        {EntryOutcome::kPlaced, "", "placed: C:\\P\\a.dll"},
        {EntryOutcome::kReplaced, "", "replaced: C:\\P\\a.dll"},
        {EntryOutcome::kKeptNewer, "", "kept, the installed version is newer: C:\\P\\a.dll"},
        {EntryOutcome::kScheduled, "", "in use, replaced at the next restart: C:\\P\\a.dll"},
        {EntryOutcome::kFailed, "cannot write 'C:\\P\\a.dll': Access denied.",
         "failed: C:\\P\\a.dll: cannot write 'C:\\P\\a.dll': Access denied."},
        {EntryOutcome::kFailed, "", "failed: C:\\P\\a.dll"},
    };
    for (const Line& l : lines)
        EXPECT_EQ(EntryLogLine("C:\\P\\a.dll", l.outcome, l.cause).str(), l.expected);

    struct Answer {
        UINT style;
        int answer;
    };
    const Answer answers[] = {
        {MB_OK | MB_ICONERROR, IDOK}, {MB_OK | MB_ICONINFORMATION, IDOK},
        {MB_OKCANCEL, IDOK},          {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNOCANCEL, IDYES},
    };
    for (const Answer& a : answers) EXPECT_EQ(DefaultAnswer(a.style), a.answer) << a.style;
    // A suppressing observer answers at once, without a box.
    SilentObserver suppressed(nullptr, true);
    InstallMessage question;
    question.style = MB_YESNO;
    EXPECT_EQ(suppressed.Message(question), IDYES);
}

}  // namespace
