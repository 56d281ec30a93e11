// Stored-name rules shared by build, add --as and add, and the decoding of a
// stored name into its place.
#include <gtest/gtest.h>

#include <string>

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
