// Text into the setup's code page: slot arguments and stored names, with the
// refusals and warnings a packager sees.
#include "Manifest.h"
#include "SetupText.h"

#include <gtest/gtest.h>

using namespace qorpack;

namespace {

const qor_codepage::SingleByteTable& k1252 = qor_codepage::Windows1252();

struct SlotRow {
    const char* arg;
    bool ok;
    const char* out;      // the converted argument
    const char* message;  // a text the error or the warning holds; "" for none
};

const SlotRow kSlotRows[] = {
    {"TVIID_INST_NAME=Lumiwave", true, "TVIID_INST_NAME=Lumiwave", ""},
    {"TVIID_INST_NAME=Lumiwave Caf\xC3\xA9", true, "TVIID_INST_NAME=Lumiwave Caf\xE9", ""},
    {"TVIID_APP_NAME=\xCE\xA9mega", false, "", "TVIID_APP_NAME holds the character U+03A9"},
    {"TVIID_APP_NAME=Caf\xE9", true, "TVIID_APP_NAME=Caf\xE9", "not UTF-8"},
    {"no-equals-sign", true, "no-equals-sign", ""},  // left to the slot parser
    {"TVIID_APP_NAME=", true, "TVIID_APP_NAME=", ""},
};

TEST(SetupTextTest, SlotArguments) {
    for (const SlotRow& r : kSlotRows) {
        SCOPED_TRACE(r.arg);
        std::string out, error;
        std::vector<std::string> warnings;
        EXPECT_EQ(ConvertSlotArgument(r.arg, k1252, &out, &warnings, &error), r.ok);
        const std::string said = r.ok ? (warnings.empty() ? "" : warnings[0]) : error;
        if (r.ok) {
            EXPECT_EQ(out, r.out);
        }
        if (*r.message) {
            EXPECT_NE(said.find(r.message), std::string::npos) << said;
        } else {
            EXPECT_EQ(said, "");
        }
    }
}

TEST(SetupTextTest, StoredNamesNameTheirLine) {
    std::vector<ManifestEntry> entries = {{"a", "[TROVIX]\\Caf\xC3\xA9.txt", 3, false},
                                          {"b", "[TROVIX]\\Men\xFC.txt", 4, false}};
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(ConvertStoredNames("m.txt", &entries, k1252, &warnings, &error)) << error;
    EXPECT_EQ(entries[0].storedName, "[TROVIX]\\Caf\xE9.txt");
    EXPECT_EQ(entries[1].storedName, "[TROVIX]\\Men\xFC.txt");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("m.txt:4: ", 0), 0u) << warnings[0];

    entries = {{"c", "[TROVIX]\\\xE2\x98\x83.txt", 7, false}};  // a snowman
    EXPECT_FALSE(ConvertStoredNames("m.txt", &entries, k1252, &warnings, &error));
    EXPECT_EQ(error.rfind("m.txt:7: ", 0), 0u) << error;
    EXPECT_NE(error.find("U+2603"), std::string::npos) << error;
}

TEST(SetupTextTest, ShownBackInTheTerminalsEncoding) {
    EXPECT_EQ(ShowSetupText("Caf\xE9", k1252, true), "Caf\xC3\xA9");
    EXPECT_EQ(ShowSetupText("Caf\xE9", k1252, false), "Caf\xE9");
}

}  // namespace
