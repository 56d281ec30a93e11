// Manifest parsing: verbatim stored names, comments and line endings, and
// errors that name the file and the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FileOps.h"
#include "Manifest.h"

using namespace qorpack;

namespace {

std::string Parse(const std::string& text, std::vector<ManifestEntry>* entries) {
    std::string error;
    if (ParseManifestText(text, JoinPath("pkg", "setup.manifest"), entries, &error)) return "";
    return error;
}

std::string Dir() { return std::string(testing::TempDir()) + "qorpack_manifest"; }

}  // namespace

TEST(ManifestParse, StoredNamesAreKeptVerbatimAndSourcesResolved) {
    std::vector<ManifestEntry> e;
    ASSERT_EQ(
        Parse("# product files\r\n"
              "\r\n"
              "bin/QorDL.exe => [TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe\r\n"
              "   data\\Lumen.dat   =>\t[TROVIX]\\Lumen.dat  \r\n"
              "  # indented comment\n"
              "x => [RECEIVE]\\a=>b # not a comment\n",
              &e),
        "");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].storedName, "[TROVIX][InstCmd=-register][UninstCmd=-unregister]\\QorDL.exe");
    EXPECT_EQ(e[0].line, 3);
    EXPECT_EQ(e[0].source, JoinPath("pkg", "bin/QorDL.exe"));
    EXPECT_EQ(e[1].storedName, "[TROVIX]\\Lumen.dat");
    EXPECT_EQ(e[1].line, 4);
    // Backslashes in sources separate folders on every platform.
    EXPECT_EQ(e[1].source, JoinPath("pkg", ToNativeSeparators("data\\Lumen.dat")));
    EXPECT_EQ(e[2].storedName, "[RECEIVE]\\a=>b # not a comment");
#ifndef _WIN32
    e.clear();
    ASSERT_EQ(Parse("/abs/file => F", &e), "");
    EXPECT_EQ(e[0].source, "/abs/file");
#endif
}

TEST(ManifestParse, ErrorsNameFileAndLine) {
    const std::string where = JoinPath("pkg", "setup.manifest");
    struct Case {
        std::string text;
        int line;
        const char* says;
    } cases[] = {
        {"a => A\nno arrow here\n", 2, "SOURCE => STORED NAME"},
        {"\n\n => A\n", 3, "no source"},
        {"a =>   \n", 1, "no stored name"},
        {"a => Same.txt\n#\nb => SAME.TXT\n", 3, "already given on line 1"},
        {"a => A\tB\n", 1, "control character"},
        {std::string("a => A\nsrc\0.txt => B\n", 21), 2, "zero byte"},
        {std::string("a\0b => A\n", 9), 1, "zero byte"},
    };
    for (const Case& c : cases) {
        std::vector<ManifestEntry> e;
        std::string error = Parse(c.text, &e);
        EXPECT_EQ(error.rfind(where + ":" + std::to_string(c.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    std::vector<ManifestEntry> e;
    std::string longName = "a => " + std::string(260, 'n');
    EXPECT_NE(Parse(longName, &e).find(":1: stored name is 260 bytes long; at most 259 bytes"),
              std::string::npos);
    e.clear();
    EXPECT_EQ(Parse("a => " + std::string(259, 'n'), &e), "");
}

TEST(ManifestLoad, SourcesMustBeReadableFiles) {
    std::string dir = Dir();
    std::string error;
    ASSERT_TRUE(MakeDirectories(JoinPath(dir, "sub"), &error)) << error;
    std::string man = JoinPath(dir, "m.txt");
    FILE* f = fopen(JoinPath(dir, "one.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("1", f);
    fclose(f);

    auto load = [&](const char* text, std::vector<ManifestEntry>* e) {
        FILE* m = fopen(man.c_str(), "wb");
        fputs(text, m);
        fclose(m);
        std::string err;
        return LoadManifest(man, e, &err) ? std::string() : err;
    };
    std::vector<ManifestEntry> e;
    EXPECT_EQ(load("one.bin => [TROVIX]\\one.bin\n", &e), "");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(IsRegularFile(e[0].source.c_str()));
    e.clear();
    std::string err = load("one.bin => A\nmissing.bin => B\n", &e);
    EXPECT_EQ(err.rfind(man + ":2: ", 0), 0u) << err;
    EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
    e.clear();
    err = load("sub => A\n", &e);
    EXPECT_NE(err.find(":1: "), std::string::npos) << err;
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    e.clear();
    EXPECT_FALSE(LoadManifest(JoinPath(dir, "none.txt"), &e, &err));
    EXPECT_NE(err.find("none.txt"), std::string::npos);
}
