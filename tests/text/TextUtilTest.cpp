// Placeholder substitution, entry-name tags and command-line options.
#include <gtest/gtest.h>

#include "text/TextUtil.h"

namespace {

const char kString129[] =
    "<RCV> requires an installed copy of <PROD>.  You must install <PROD> before you install "
    "<RCV>.";

TEST(ReplaceOccurrences, AllReplacesEveryPlaceholder) {
    Text t(kString129);
    EXPECT_TRUE(ReplaceOccurrences(t, "<PROD>", "GameX", true));
    EXPECT_TRUE(ReplaceOccurrences(t, "<RCV>", "GameX Receiver", true));
    EXPECT_EQ(Text("GameX Receiver requires an installed copy of GameX.  You must install GameX "
                   "before you install GameX Receiver."),
              t);
}

TEST(ReplaceOccurrences, FirstOnlyLeavesTheRest) {
    Text t(kString129);
    EXPECT_TRUE(ReplaceOccurrences(t, "<PROD>", "GameX", false));
    EXPECT_EQ(Text("<RCV> requires an installed copy of GameX.  You must install <PROD> before "
                   "you install <RCV>."),
              t);
}

TEST(ReplaceOccurrences, AbsentPatternLeavesTargetUntouched) {
    const Text original(kString129);
    Text t = original;
    EXPECT_FALSE(ReplaceOccurrences(t, "<FOLDER>", "C:\\x", true));
    EXPECT_FALSE(ReplaceOccurrences(t, "<FOLDER>", "C:\\x", false));
    EXPECT_EQ(original, t);
    EXPECT_EQ(original.size(), t.size());

    Text folder("The folder <FOLDER> does not exist.  Create it?");
    EXPECT_FALSE(ReplaceOccurrences(folder, "<Folder>", "C:\\x", false));  // case-sensitive
    EXPECT_EQ(Text("The folder <FOLDER> does not exist.  Create it?"), folder);

    Text empty;
    EXPECT_FALSE(ReplaceOccurrences(empty, "<FILE>", "x", true));
    EXPECT_TRUE(empty.empty());
}

TEST(ReplaceOccurrences, EmptyPatternIsANoOp) {
    Text t("abc");
    EXPECT_FALSE(ReplaceOccurrences(t, "", "x", true));
    EXPECT_FALSE(ReplaceOccurrences(t, "", "x", false));
    EXPECT_EQ(Text("abc"), t);
}

TEST(ReplaceOccurrences, EmptyReplacementRemoves) {
    Text t("[TROVIX]\\a[TROVIX]");
    EXPECT_TRUE(ReplaceOccurrences(t, "[TROVIX]", "", false));
    EXPECT_EQ(Text("\\a[TROVIX]"), t);
    // A shrinking replacement rescans from the start, so an occurrence that the
    // removal itself forms is removed as well.
    Text nested("<<PROD>PROD>!");
    EXPECT_TRUE(ReplaceOccurrences(nested, "<PROD>", "", true));
    EXPECT_EQ(Text("!"), nested);
}

TEST(ReplaceOccurrences, ReplacementContainingPatternTerminates) {
    Text t("<FILE> and <FILE>");
    EXPECT_TRUE(ReplaceOccurrences(t, "<FILE>", "<FILE>.bak", true));
    EXPECT_EQ(Text("<FILE>.bak and <FILE>.bak"), t);

    Text same("xx");
    EXPECT_TRUE(ReplaceOccurrences(same, "x", "x", true));
    EXPECT_EQ(Text("xx"), same);

    // Not containing the pattern is not enough: "ab" -> "baaa" rebuilds "ab"
    // at the join with the following "b" for ever when rescanned from 0.
    Text grow("abbb");
    EXPECT_TRUE(ReplaceOccurrences(grow, "ab", "baaa", true));
    EXPECT_EQ(Text("baaabb"), grow);
}

TEST(ReplaceOccurrences, EntryPrefixBecomesFolder) {
    Text name("[RECEIVE]\\plugins\\[RECEIVE].dll");
    EXPECT_TRUE(ReplaceOccurrences(name, "[RECEIVE]", "D:\\Games\\X\\QOR", false));
    EXPECT_EQ(Text("D:\\Games\\X\\QOR\\plugins\\[RECEIVE].dll"), name);
}

TEST(ExtractTagValue, TakesBothCommandTagsOut) {
    Text name("[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe");
    Text value("stale");
    EXPECT_TRUE(ExtractTagValue(name, "[InstCmd=", value));
    EXPECT_EQ(Text("-register"), value);
    EXPECT_EQ(Text("[TROVIX][UninstCmd=-unregister]\\QorDL.exe"), name);
    EXPECT_TRUE(ExtractTagValue(name, "[UninstCmd=", value));
    EXPECT_EQ(Text("-unregister"), value);
    EXPECT_EQ(Text("[TROVIX]\\QorDL.exe"), name);
    // Nothing left to take.
    EXPECT_FALSE(ExtractTagValue(name, "[InstCmd=", value));
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(Text("[TROVIX]\\QorDL.exe"), name);
}

TEST(ExtractTagValue, OtherLetterCaseGivesValueButKeepsTag) {
    Text name("[TROVIX][INSTCMD=-Register /S]\\a.exe");
    Text value;
    EXPECT_TRUE(ExtractTagValue(name, "[InstCmd=", value));
    EXPECT_EQ(Text("-Register /S"), value);  // the value keeps its own case
    EXPECT_EQ(Text("[TROVIX][INSTCMD=-Register /S]\\a.exe"), name);
}

TEST(ExtractTagValue, MissingCloseOrTagFails) {
    Text name("[TROVIX][InstCmd=-register\\QorDL.exe");
    Text value("stale");
    EXPECT_FALSE(ExtractTagValue(name, "[InstCmd=", value));
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(Text("[TROVIX][InstCmd=-register\\QorDL.exe"), name);

    value = "stale";
    EXPECT_FALSE(ExtractTagValue(name, "", value));
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(Text("[TROVIX][InstCmd=-register\\QorDL.exe"), name);
}

TEST(ExtractTagValue, EmptyValueAndCloseRightAfterTag) {
    Text name("[InstCmd=]x");
    Text value("stale");
    EXPECT_TRUE(ExtractTagValue(name, "[InstCmd=", value));
    EXPECT_TRUE(value.empty());
    EXPECT_EQ(Text("x"), name);
}

TEST(GetOptionValue, QuotedAndUnquotedValues) {
    Text value;
    GetOptionValue("-silent -receivedir=\"d:\\my games\\x\" -trovixdir=c:\\t",
                   "-receivedir=", value);
    EXPECT_EQ(Text("d:\\my games\\x"), value);
    GetOptionValue("-silent -receivedir=\"d:\\my games\\x\" -trovixdir=c:\\t",
                   "-trovixdir=", value);
    EXPECT_EQ(Text("c:\\t"), value);
    GetOptionValue("-receivedir=d:\\games\\x -silent", "-receivedir=", value);
    EXPECT_EQ(Text("d:\\games\\x"), value);
    GetOptionValue("-receivedir=\"d:\\unterminated quote", "-receivedir=", value);
    EXPECT_EQ(Text("d:\\unterminated quote"), value);
}

TEST(GetOptionValue, AbsentOrGluedOptionGivesEmpty) {
    Text value("stale");
    GetOptionValue("-silent", "-receivedir=", value);
    EXPECT_TRUE(value.empty());
    value = "stale";
    // Only the first occurrence counts, and it is glued to "x".
    GetOptionValue("x-receivedir=a -receivedir=b", "-receivedir=", value);
    EXPECT_TRUE(value.empty());
    value = "stale";
    GetOptionValue("", "-receivedir=", value);
    EXPECT_TRUE(value.empty());
    value = "stale";
    GetOptionValue("-silent", "", value);
    EXPECT_TRUE(value.empty());
}

TEST(GetOptionValue, DelimiterSearchSkipsFirstCharacter) {
    Text value("stale");
    GetOptionValue("-silent -receivedir=", "-receivedir=", value);
    EXPECT_TRUE(value.empty());  // option ends the line
    GetOptionValue("-receivedir= d:\\x -silent", "-receivedir=", value);
    EXPECT_EQ(Text(" d:\\x"), value);  // the leading space is the value's first character
    GetOptionValue("-receivedir= ", "-receivedir=", value);
    EXPECT_EQ(Text(" "), value);
    GetOptionValue("-receivedir=\"", "-receivedir=", value);
    EXPECT_TRUE(value.empty());
    GetOptionValue("-receivedir=\"\"", "-receivedir=", value);
    EXPECT_EQ(Text("\""), value);  // the closing quote is the first character
    GetOptionValue("a -receivedir=x", "-receivedir=", value);
    EXPECT_EQ(Text("x"), value);
}

}  // namespace
