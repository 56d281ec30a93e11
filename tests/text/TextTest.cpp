// The Text behaviours the installer leans on at the edges.
#include <gtest/gtest.h>

#include "text/Text.h"

TEST(Text, IndexingAtOrPastEndGivesNul) {
    const Text t("ab");
    EXPECT_EQ('a', t[0]);
    EXPECT_EQ('b', t[1]);
    EXPECT_EQ('\0', t[2]);
    EXPECT_EQ('\0', t[1000]);
    EXPECT_EQ('\0', Text()[0]);
    EXPECT_EQ('\0', t[Text::npos]);
}

TEST(Text, NullAndEmptyStrings) {
    const Text fromNull(static_cast<const char*>(nullptr));
    EXPECT_TRUE(fromNull.empty());
    EXPECT_TRUE(fromNull.Equals(nullptr));
    EXPECT_TRUE(fromNull.Equals(""));
    EXPECT_FALSE(Text("x").Equals(nullptr));
    Text t("x");
    t = static_cast<const char*>(nullptr);
    EXPECT_TRUE(t.empty());
}

TEST(Text, CopiesAreIndependent) {
    Text a("abc");
    Text b = a;
    b.SetAt(0, 'z');
    a += "d";
    EXPECT_EQ(Text("abcd"), a);
    EXPECT_EQ(Text("zbc"), b);
    b.SetAt(99, 'q');  // out of range: ignored
    EXPECT_EQ(Text("zbc"), b);
}

TEST(Text, FindReturnsPositionOrNpos) {
    const Text t("C:\\Program Files\\QOR");
    EXPECT_EQ(2u, t.find("\\"));
    EXPECT_EQ(16u, t.rfind("\\"));
    EXPECT_EQ(Text::npos, t.find("qor"));  // case matters
    EXPECT_EQ(Text::npos, t.find('\\', 17));
    EXPECT_EQ(Text::npos, t.find('C', t.size()));  // start at the end finds nothing
    EXPECT_EQ(3u, t.find("", 3));                  // empty pattern found at start
    EXPECT_EQ(t.size(), t.find("", t.size()));
    EXPECT_EQ(Text::npos, t.find("", t.size() + 1));
    EXPECT_EQ(static_cast<size_t>(-1), Text::npos);
}

TEST(Text, EraseAndReplaceRanges) {
    Text t("[TROVIX]\\QorDL.exe");
    t.replace(0, 8, Text("C:\\Trovix"));
    EXPECT_EQ(Text("C:\\Trovix\\QorDL.exe"), t);
    t.erase(9, Text::npos);
    EXPECT_EQ(Text("C:\\Trovix"), t);
    t.erase(100);  // past the end: nothing happens
    EXPECT_EQ(Text("C:\\Trovix"), t);
    EXPECT_TRUE(t.substr(100).empty());
}

TEST(Text, CompareIsByteWise) {
    EXPECT_LT(Text("ab").compare("abc"), 0);  // proper prefix first
    EXPECT_GT(Text("abc").compare(Text("ab")), 0);
    EXPECT_LT(Text("B").compare("a"), 0);  // upper case orders before lower
    EXPECT_EQ(0, Text("x").compare("x"));
    EXPECT_GT(Text("\xe9").compare("z"), 0);  // high bytes compare as unsigned
}

TEST(Text, MakeLowerTouchesOnlyAsciiCapitals) {
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
    Text t(all);
    t.MakeLower();
    for (int c = 1; c < 256; ++c) {
        const int expected = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
        EXPECT_EQ(expected, static_cast<unsigned char>(t[c - 1])) << "byte " << c;
    }
}

TEST(Text, JoinsAndMoves) {
    const char* const null = nullptr;
    const Text a("C:\\QOR"), empty;
    const std::string longPart(100, 'x');  // past the short-string buffer
    struct Case {
        Text got;
        const char* expected;
    } cases[] = {
        {a + "\\b", "C:\\QOR\\b"}, {a + Text("\\b"), "C:\\QOR\\b"},
        {a + '\\', "C:\\QOR\\"},   {"x:" + a, "x:C:\\QOR"},
        {a + null, "C:\\QOR"},     {null + a, "C:\\QOR"},
        {empty + empty, ""},       {empty + null, ""},
        {a + a, "C:\\QORC:\\QOR"}, {"[" + a + "]" + '=' + Text("v"), "[C:\\QOR]=v"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, Text(c.expected));

    Text self("ab");
    self = self + self;
    EXPECT_EQ(self, Text("abab"));
    Text big(longPart.c_str());
    Text moved(std::move(big));
    EXPECT_EQ(moved.str(), longPart);
    Text assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.str(), longPart);
    Text copy;
    copy = assigned;
    copy += "y";
    EXPECT_EQ(assigned.str(), longPart);
    EXPECT_EQ(copy.str(), longPart + "y");
    EXPECT_EQ(Text("abc", 2), Text("ab"));
    EXPECT_EQ(Text(null, 5), Text());
    EXPECT_EQ(Text("abc").substr(1), Text("bc"));
    EXPECT_EQ(Text("abc").substr(3), Text());
}
