// Stored-name rules shared by build, add --as and add, and the decoding of a
// stored name into its place.
#include <gtest/gtest.h>

#include <string>

#include "CodePageTable.h"
#include "NameRules.h"

using namespace qorpack;

TEST(NameRules, OneTableForEveryWayANameIsMade) {
    const NameOrigin G = NameOrigin::kGiven, D = NameOrigin::kDerived;
    struct Case {
        std::string name;
        NameOrigin origin;
        const char* refusal;  // null: accepted
        const char* warning;  // null: none
    } cases[] = {
        {"[TROVIX]\\Lumen.dat", G, nullptr, nullptr},
        {"[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe", G, nullptr, nullptr},
        {"[RECEIVE]\\docs\\Read Me.txt", G, nullptr, nullptr},
        {"[TROVIX][InstCmd=/dir:C:\\x]\\a.exe", G, nullptr, nullptr},  // ':' in a tag value
        {"docs\\read me.txt", D, nullptr, nullptr},
        {"docs\\read me.txt", G, nullptr, "no placement prefix"},
        {"[TROVIX]\\a>b", G, nullptr, "cannot hold"},
        {"", G, "empty", nullptr},
        {std::string(260, 'n'), D, "260 bytes long; at most 259 bytes", nullptr},
        {"..\\r700k.bin", D, "'..'", nullptr},
        {"[TROVIX]\\a\\..\\..\\b", G, "'..'", nullptr},
        {"C:\\Windows\\evil.dll", G, "drive", nullptr},
        {"\\etc\\hostname", G, "begins with a backslash", nullptr},
        {"[TROVIX]\\bin/QorDL.exe", G, "'/'", nullptr},
        {"[TROVIX]\\bin\\\\x", G, "empty folder step", nullptr},
        {"[TROVIX]\\bin\\", G, "empty folder step", nullptr},
        {"[TROVIX]\\.\\x", G, "'.' step", nullptr},
        {"[TROVIX]\\a\nb", G, "control character", nullptr},
        {"[TROVIX]\\\x1b[31mred", D, "control character", nullptr},
        {"[TROVIX]Lumen.dat", G, "backslash after", nullptr},
        {"[TROVIX]", G, "backslash after", nullptr},
        {"x[TROVIX]\\a", G, "must begin", nullptr},
        {"[TROVIX]\\[RECEIVE]\\a", G, nullptr, "receiver's folder"},
        {"[TROVIX][RECEIVE]\\..\\a", G, "'..'", "receiver's folder"},
        {"[TROVIX]\\a:stream", G, "':'", nullptr},
        // Windows drops a trailing dot or space: another name for another file.
        {"[TROVIX]\\readme.txt.", G, "dot or a space", nullptr},
        {"[TROVIX]\\readme.txt ", G, "dot or a space", nullptr},
        {"[TROVIX]\\docs.\\a.txt", G, "'docs.'", nullptr},
        {"[TROVIX]\\docs \\a.txt", G, "'docs '", nullptr},
        {"docs..\\a.txt", D, "dot or a space", nullptr},
        {"[TROVIX]\\.profile", G, nullptr, nullptr},
        {"[TROVIX]\\a .txt", G, nullptr, nullptr},
        // Device names, with or without extension, in any case.
        {"[TROVIX]\\CON", G, nullptr, "device"},
        {"[TROVIX]\\nul.txt", G, nullptr, "device"},
        {"[TROVIX]\\Com1.log", G, nullptr, "device"},
        {"[TROVIX]\\lpt9\\a.txt", G, nullptr, "device"},
        {"aux.tar.gz", D, nullptr, "device"},
        {"[TROVIX]\\COM0", G, nullptr, nullptr},
        {"[TROVIX]\\console.txt", G, nullptr, nullptr},
        {"[TROVIX]\\LPT10", G, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        NameCheck r = CheckStoredName(c.name, c.origin);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(r.ok, c.refusal == nullptr) << r.problem;
        if (c.refusal) {
            EXPECT_NE(r.problem.find(c.refusal), std::string::npos) << r.problem;
        }
        if (c.warning) {
            EXPECT_NE(r.warning.find(c.warning), std::string::npos) << r.warning;
        } else {
            EXPECT_EQ(r.warning, "");
        }
    }
}

TEST(NameRules, DecodingAndCollisionsFollowTheSetup) {
    StoredPlacement p =
        PlaceStoredName("[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe");
    EXPECT_EQ(p.folder, StoredPlacement::kProduct);
    EXPECT_EQ(p.path, "QorDL.exe");
    EXPECT_EQ(p.installArgs, "-register");
    EXPECT_EQ(p.uninstallArgs, "-unregister");
    // A tag found in another letter case gives its value but stays in the name.
    p = PlaceStoredName("[RECEIVE][INSTCMD=-r]\\x.exe");
    EXPECT_EQ(p.folder, StoredPlacement::kReceiver);
    EXPECT_EQ(p.installArgs, "-r");
    EXPECT_EQ(p.path, "[INSTCMD=-r]\\x.exe");
    p = PlaceStoredName("plain\\name.txt");
    EXPECT_EQ(p.folder, StoredPlacement::kUnplaced);
    EXPECT_EQ(p.path, "plain\\name.txt");

    EXPECT_EQ(InstallKey("[TROVIX][InstCmd=-x]\\Bin\\A.exe"), InstallKey("[TROVIX]\\bin\\a.EXE"));
    EXPECT_NE(InstallKey("[TROVIX]\\a.exe"), InstallKey("[RECEIVE]\\a.exe"));
    // Windows folds case beyond ASCII in the setup's code page.
    struct Pair {
        const char* a;
        const char* b;
        bool same;
    } pairs[] = {
        {"[TROVIX]\\\xC4.txt", "[TROVIX]\\\xE4.txt", true},          // Ä ä
        {"[TROVIX]\\\xDE", "[TROVIX]\\\xFE", true},                  // Þ þ
        {"[TROVIX]\\\x8A\x8C\x8E", "[TROVIX]\\\x9A\x9C\x9E", true},  // Š Œ Ž
        {"[TROVIX]\\\x9F", "[TROVIX]\\\xFF", true},                  // Ÿ ÿ
        {"[TROVIX]\\\xD7", "[TROVIX]\\\xF7", false},                 // × ÷
        {"[TROVIX]\\\xDF", "[TROVIX]\\ss", false},                   // ß
        {"[TROVIX]\\\xB5", "[TROVIX]\\\xCC", false},                 // µ Ì
    };
    for (const Pair& c : pairs)
        EXPECT_EQ(InstallKey(c.a) == InstallKey(c.b), c.same) << c.a << " / " << c.b;

    std::string stored;
    EXPECT_TRUE(StoredNameFromRelative("./a/./b/../c.txt", &stored));
    EXPECT_EQ(stored, "a\\c.txt");
    EXPECT_TRUE(StoredNameFromRelative(".", &stored));
    EXPECT_EQ(stored, "");
    EXPECT_FALSE(StoredNameFromRelative("../mk.py", &stored));
    EXPECT_FALSE(StoredNameFromRelative("a/../../b", &stored));

    EXPECT_EQ(EscapeControls("a\x1b[2Jb\n"), "a\\x1B[2Jb\\x0A");
}

// Names Windows takes for one file depend on the setup's code page: the same
// two bytes are one name in one code page and two in another.
TEST(NameRules, InstallKeysFollowTheSetupsCodePage) {
    const struct {
        unsigned codePage;
        const char* a;
        const char* b;
        bool same;
    } rows[] = {
        {1252, "\xC4", "\xE4", true},   // Ä ä
        {1251, "\xC4", "\xE4", true},   // Д д
        {1252, "\xD7", "\xF7", false},  // × ÷
        {1251, "\xD7", "\xF7", true},   // Ч ч
        {1252, "\xA8", "\xB8", false},  // ¨ ¸
        {1251, "\xA8", "\xB8", true},   // Ё ё
        {1251, "\x80", "\x90", true},   // Ђ ђ
        {1252, "\x80", "\x90", false},  // € and an undefined byte
        {1250, "\xA3", "\xB3", true},   // Ł ł
        {1252, "\xA3", "\xB3", false},  // £ ³
        {1250, "\x8D", "\x9D", true},   // Ť ť
        {1253, "\xD3", "\xF3", true},   // Σ σ
        {1253, "\xD3", "\xF2", true},   // Σ ς
        {1252, "\xD3", "\xF2", false},  // Ó ò
        {1253, "\xA2", "\xDC", true},   // Ά ά
        {1253, "\xC0", "\xE0", false},  // ΐ ΰ: no simple upper case
        {1252, "\xC0", "\xE0", true},   // À à
        {1254, "\xDD", "i", false},     // İ i: not folded
        {1254, "\xFD", "I", false},     // ı I: not folded
        {1254, "\xDE", "\xFE", true},   // Ş ş
        {1252, "\x81", "\x8D", false},  // two undefined bytes stay apart
        {1252, "\x9F", "\xFF", true},   // Ÿ ÿ
    };
    for (const auto& r : rows) {
        qor_codepage::SingleByteTable table{};
        std::string error;
        ASSERT_TRUE(LoadCodePageTable(r.codePage, &table, &error)) << error;
        const std::string a = std::string("[TROVIX]\\x") + r.a + ".txt";
        const std::string b = std::string("[TROVIX]\\X") + r.b + ".TXT";
        EXPECT_EQ(InstallKey(a, table) == InstallKey(b, table), r.same)
            << r.codePage << ": " << a << " / " << b;
    }
}
