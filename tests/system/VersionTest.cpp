// File versions read through the real version API from PE files this build
// stamps, and the comparison rules.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "system/Version.h"

namespace {

TEST(FileVersion, StampedLibraryAndOwnProgram) {
    EXPECT_EQ(GetFileVersionText(testfiles::ModuleFolder() + "\\qor_version_probe.dll"),
              Text("4.0.1381.1"));
    // The test program itself is stamped 2.5.300.65535 (the largest number).
    EXPECT_EQ(GetOwnVersionText(), Text("2.5.300.65535"));
}

TEST(FileVersion, FilesWithoutVersionGiveZeros) {
    Text text = "C:\\qor_version.txt";
    ASSERT_TRUE(testfiles::Write(text, "4.0.1381.1 is not a version resource\r\n"));
    EXPECT_EQ(GetFileVersionText(text), Text("0.0.0.0"));
    DeleteFileA(text.c_str());
    EXPECT_EQ(GetFileVersionText("C:\\qor_missing.dll"), Text("0.0.0.0"));
    EXPECT_EQ(GetFileVersionText(""), Text("0.0.0.0"));
}

TEST(FileVersion, KnownVersion) {
    EXPECT_FALSE(IsKnownVersion(""));
    EXPECT_FALSE(IsKnownVersion("0.0.0.0"));
    EXPECT_TRUE(IsKnownVersion("0.0.0.1"));
    EXPECT_TRUE(IsKnownVersion("1.1.0.7"));
}

TEST(CompareVersion, FirstDifferingPositionWithSign) {
    EXPECT_EQ(CompareVersionText("0.0.0.0", "1.0.0.0"), -1);
    EXPECT_EQ(CompareVersionText("1.2.3.4", "1.2.3.4"), 0);
    EXPECT_EQ(CompareVersionText("1.2.3.5", "1.2.3.4"), 4);
    EXPECT_EQ(CompareVersionText("1.2.4", "1.2.3.9"), 3);
    EXPECT_EQ(CompareVersionText("1.2.3.9", "1.2.4"), -3);
    EXPECT_EQ(CompareVersionText("1.3", "1.2.9.9"), 2);
}

TEST(CompareVersion, ShortFormsAndNumericOrder) {
    EXPECT_EQ(CompareVersionText("1.2", "1.2.0.0"), 0);
    EXPECT_EQ(CompareVersionText("1.10", "1.9"), 2);
    EXPECT_EQ(CompareVersionText("2", "1.99.99.99"), 1);
    EXPECT_EQ(CompareVersionText("", "0.0.0.0"), 0);
    EXPECT_EQ(CompareVersionText("", "0.0.0.1"), -4);
}

TEST(CompareVersion, LooseTextParsesLikeTheCLibrary) {
    EXPECT_EQ(CompareVersionText(" 3.1", "3.1"), 0);             // leading blank
    EXPECT_EQ(CompareVersionText("-1", "0"), -1);                // sign allowed
    EXPECT_EQ(CompareVersionText("1.2.3.4.9", "1.2.3.4"), 0);    // tail ignored
    EXPECT_EQ(CompareVersionText("1.x.3", "1.0.3"), 0);          // no digits: 0
    EXPECT_EQ(CompareVersionText("2, 0, 0, 5", "2.0.0.5"), -4);  // comma form is not dotted
    EXPECT_EQ(CompareVersionText("65535.65535.65535.65535", "65535.65535.65535.65534"), 4);
}

}  // namespace
