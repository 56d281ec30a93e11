// The uninstall log reader: what it takes from a log, what it drops, and the
// rewrite that takes a receiver's entries out and keeps every other byte.
#include <gtest/gtest.h>

#include <string>

#include "uninstall/LogReader.h"

namespace {

UninstallLog Parse(const std::string& s) { return ParseUninstallLog(s.data(), s.size()); }

// "Section|key=value|key=value;Section2|..." for compact expectations.
std::string Describe(const UninstallLog& log) {
    std::string out;
    for (const LogSection& s : log.sections) {
        if (!out.empty()) out += ';';
        out += s.name.str();
        for (const LogEntry& e : s.entries) out += "|" + e.key.str() + "=" + e.value.str();
    }
    return out;
}

TEST(ParseUninstallLog, Table) {
    struct Case {
        const char* name;
        std::string input;
        const char* expected;
    } cases[] = {
        {"setup's own form",
         "[Trovix Dirs]\r\nC:\\A=\r\nC:\\A\\B=\r\n[Trovix Files]\r\nC:\\A\\f=\r\n",
         "Trovix Dirs|C:\\A=|C:\\A\\B=;Trovix Files|C:\\A\\f="},
        {"LF only, no final line end", "[S]\nk=v\nk2=", "S|k=v|k2="},
        {"blanks around names", "  [ S ]  \r\n  k  =  v w  \r\n", "S|k=v w"},
        {"value keeps later equals signs", "[S]\r\nC:\\a.exe=C:\\a.exe -x=1\r\n",
         "S|C:\\a.exe=C:\\a.exe -x=1"},
        {"comments, blank lines, lines before a section", "k=v\r\n;[X]\r\n\r\n[S]\r\n;c\r\nk=v\r\n",
         "S|k=v"},
        {"line without equals sign is a key", "[S]\r\nC:\\x\r\n", "S|C:\\x="},
        {"first of two keys wins, case ignored", "[S]\r\nK=1\r\nk=2\r\n", "S|K=1"},
        {"repeated section merges into the first", "[S]\r\na=\r\n[T]\r\nb=\r\n[s]\r\nc=\r\na=\r\n",
         "S|a=|c=;T|b="},
        {"unclosed section header", "[S\r\nk=\r\n", "S|k="},
        {"line with a NUL byte dropped whole",
         std::string("[S]\r\nC:\\Windows\0\\junk=\r\nC:\\ok=\r\n", 32), "S|C:\\ok="},
        {"empty input", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Describe(Parse(c.input))) << c.name;
}

TEST(ParseUninstallLog, CountsDroppedLinesAndFlagsOverlongFields) {
    std::string longKey = "C:\\" + std::string(1024 * 1024, 'a');
    std::string input = std::string("[S]\r\nx\0y=\r\n", 11) + longKey + "=v\r\nC:\\ok=\r\n";
    UninstallLog log = Parse(input);
    EXPECT_EQ(1u, log.droppedLines);
    ASSERT_EQ(1u, log.sections.size());
    ASSERT_EQ(2u, log.sections[0].entries.size());
    EXPECT_TRUE(log.sections[0].entries[0].overlong);
    EXPECT_EQ(kMaxLogField, log.sections[0].entries[0].key.size());
    EXPECT_FALSE(log.sections[0].entries[1].overlong);
}

TEST(ParseUninstallLog, HundredThousandEntries) {
    std::string input = "[Trovix Files]\r\n";
    for (int i = 0; i < 100000; ++i)
        input += "C:\\Program Files\\QOR\\f" + std::to_string(i) + "=\r\n";
    UninstallLog log = Parse(input);
    ASSERT_EQ(1u, log.sections.size());
    EXPECT_EQ(100000u, log.sections[0].entries.size());
}

TEST(FindSection, IgnoresLetterCase) {
    UninstallLog log = Parse("[Trovix Files]\r\na=\r\n");
    ASSERT_NE(nullptr, FindSection(log, "TROVIX files"));
    EXPECT_EQ(nullptr, FindSection(log, "Trovix"));
}

TEST(RewriteLog, Table) {
    const std::string log =
        "[Trovix Files]\r\nC:\\P\\a=\r\n[Rcv Files]\r\nC:\\G\\r=\r\nC:\\G\\s=\r\n"
        "[Dependents]\r\nRcv=\r\nOther=\r\n[Rcv Dirs]\r\nC:\\G=\r\n[Empty]\r\n";
    struct Case {
        const char* name;
        std::set<std::string> drop;
        const char* expected;
    } cases[] = {
        {"nothing dropped: byte for byte", {}, nullptr},
        {"one entry of a section",
         {LogEntryId("rcv files", "c:\\g\\R")},
         "[Trovix Files]\r\nC:\\P\\a=\r\n[Rcv Files]\r\nC:\\G\\s=\r\n"
         "[Dependents]\r\nRcv=\r\nOther=\r\n[Rcv Dirs]\r\nC:\\G=\r\n[Empty]\r\n"},
        {"a receiver: its sections and its Dependents key",
         {LogEntryId("Rcv Files", "C:\\G\\r"), LogEntryId("Rcv Files", "C:\\G\\s"),
          LogEntryId("Rcv Dirs", "C:\\G"), LogEntryId("Dependents", "Rcv")},
         "[Trovix Files]\r\nC:\\P\\a=\r\n[Dependents]\r\nOther=\r\n[Empty]\r\n"},
        {"a key of another section is not touched",
         {LogEntryId("Trovix Files", "C:\\G\\r")},
         nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected ? std::string(c.expected) : log,
                  RewriteLog(log.data(), log.size(), c.drop))
            << c.name;
}

TEST(RewriteLog, KeepsLineEndsAndJunkOfOtherSections) {
    const std::string log = std::string("[A]\nx=1\r\n;note\n[B]\r\ny=\r\nj\0unk\r\n", 31);
    std::set<std::string> drop = {LogEntryId("A", "x")};
    EXPECT_EQ(std::string(";note\n[B]\r\ny=\r\nj\0unk\r\n", 22),
              RewriteLog(log.data(), log.size(), drop));
}

}  // namespace
