// File helpers of the packaging tool that must hold under attack: the
// interrupt cleanup, the write lock, folder listing and temporary outputs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FileOps.h"
#include "archive/QorZipFile.h"
#include "WriteLock.h"

using namespace qorpack;

namespace {

class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qorpack-fileops.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string P(const std::string& rel) const { return dir_ + "/" + rel; }
    void Write(const std::string& rel, const std::string& data) const {
        FILE* f = fopen(P(rel).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
    std::string Read(const std::string& rel) const {
        FILE* f = fopen(P(rel).c_str(), "rb");
        if (!f) return "<missing>";
        std::string s;
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        fclose(f);
        return s;
    }
    std::string dir_;
};

// In a forked child: registers d/victim.txt, lets `meddle` change the tree,
// then dies of SIGTERM through the cleanup handler.
void RegisterMeddleAndTerminate(const std::string& dir, void (*meddle)(const std::string&),
                                bool identity) {
    int dfd = open((dir + "/d").c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd < 0 || RegisterPendingAt(dfd, "victim.txt", dir + "/d/victim.txt", false, identity) < 0)
        _exit(3);
    meddle(dir);
    raise(SIGTERM);
    _exit(4);
}

}  // namespace

using FileOps = Scratch;

// The handler removes a file by the folder it holds and only while the name
// still names the file registered; what was done meanwhile decides the rest.
TEST_F(FileOps, InterruptCleanupRemovesOnlyItsOwnFile) {
    struct Case {
        const char* what;
        void (*meddle)(const std::string&);
        const char* outside;  // contents of outside/victim.txt afterwards
        const char* moved;    // of d_moved/victim.txt
        const char* inPlace;  // of d/victim.txt
        bool identity = true;
    } cases[] = {
        {"nothing", [](const std::string&) {}, "user", "<missing>", "<missing>"},
        {"folder moved (no identity check)",
         [](const std::string& d) {
             rename((d + "/d").c_str(), (d + "/d_moved").c_str());
             symlink("outside", (d + "/d").c_str());
         },
         "user", "<missing>", "user", false},
        {"folder moved, link put in its place",
         [](const std::string& d) {
             rename((d + "/d").c_str(), (d + "/d_moved").c_str());
             symlink("outside", (d + "/d").c_str());
         },
         "user", "<missing>", "user"},
        {"another file moved over the name",
         [](const std::string& d) {
             rename((d + "/other.txt").c_str(), (d + "/d/victim.txt").c_str());
         },
         "user", "<missing>", "other"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(
            system(
                ("rm -rf '" + P("d") + "' '" + P("d_moved") + "' '" + P("outside") + "'").c_str()),
            0);
        mkdir(P("d").c_str(), 0755);
        mkdir(P("outside").c_str(), 0755);
        Write("d/victim.txt", "partial");
        Write("outside/victim.txt", "user");
        Write("other.txt", "other");
        EXPECT_EXIT(RegisterMeddleAndTerminate(dir_, c.meddle, c.identity),
                    ::testing::KilledBySignal(SIGTERM), "");
        EXPECT_EQ(Read("outside/victim.txt"), c.outside);
        EXPECT_EQ(Read("d_moved/victim.txt"), c.moved);
        EXPECT_EQ(Read("d/victim.txt"), c.inPlace);
    }
}

TEST_F(FileOps, WriteLockRefusesWhatIsNotARegularFile) {
    ASSERT_EQ(mkfifo(P("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mknod(P("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(mkdir(P("folder").c_str(), 0755), 0);
    Write("file", "x");
    ASSERT_EQ(symlink("file", P("link").c_str()), 0);
    struct Case {
        const char* name;
        bool ok;
        const char* says;
    } cases[] = {{"fifo", false, "a FIFO"},
                 {"null", false, "a device"},
                 {"folder", false, "a folder"},
                 {"file", true, ""},
                 {"link", true, ""}};
    for (WriteLock::Target t : {WriteLock::Target::kExisting, WriteLock::Target::kPlaceholder,
                                WriteLock::Target::kMayBeMissing}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            WriteLock lock;
            std::string error;
            EXPECT_EQ(lock.Acquire(P(c.name), t, &error), c.ok) << error;
            if (!c.ok) {
                EXPECT_NE(error.find(c.says), std::string::npos) << error;
                EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
            }
        }
    }
}

// A missing target stays missing while the run works: nothing a reader (or a
// CI gate) could take for an empty archive appears, nothing is left behind.
TEST_F(FileOps, WriteLockOnAMissingFileMakesNothing) {
    std::string error;
    {
        WriteLock lock;
        ASSERT_TRUE(lock.Acquire(P("new.qzf"), WriteLock::Target::kMayBeMissing, &error)) << error;
        EXPECT_TRUE(lock.Missing());
        EXPECT_FALSE(lock.Created());
        EXPECT_FALSE(PathExists(P("new.qzf").c_str()));
        EXPECT_TRUE(lock.StillCurrent(&error));
        Write("new.qzf", "someone else's");
        EXPECT_FALSE(lock.StillCurrent(&error));
        EXPECT_NE(error.find("made by another program"), std::string::npos) << error;
    }
    EXPECT_EQ(Read("new.qzf"), "someone else's");
    {
        WriteLock lock;
        ASSERT_TRUE(lock.Acquire(P("gone.qzf"), WriteLock::Target::kMayBeMissing, &error));
        lock.BeforeReplace();
    }
    EXPECT_FALSE(PathExists(P("gone.qzf").c_str()));
    // The placeholder of kPlaceholder goes with a run that did not replace it.
    {
        WriteLock lock;
        ASSERT_TRUE(lock.Acquire(P("p.qzf"), WriteLock::Target::kPlaceholder, &error));
        EXPECT_TRUE(lock.Created());
        EXPECT_TRUE(PathExists(P("p.qzf").c_str()));
    }
    EXPECT_FALSE(PathExists(P("p.qzf").c_str()));
}

TEST_F(FileOps, ListFolderFollowsNoLinkAndNamesWhatItSkips) {
    mkdir(P("src").c_str(), 0755);
    mkdir(P("src/sub").c_str(), 0755);
    Write("src/a.txt", "a");
    Write("secret", "s");
    ASSERT_EQ(symlink(".", P("src/loop").c_str()), 0);
    ASSERT_EQ(symlink("../secret", P("src/leak").c_str()), 0);
    ASSERT_EQ(symlink("sub", P("src/sublink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", P("src/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(P("src/fifo").c_str(), 0644), 0);
    std::vector<std::string> files, folders, skipped;
    std::string error;
    ASSERT_TRUE(ListFolder(P("src"), &files, &folders, &error, &skipped)) << error;
    EXPECT_EQ(files, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(folders, std::vector<std::string>{"sub"});
    const std::vector<std::string> want = {
        "skipping '" + P("src/dangling") + "': a symbolic link; links are not followed",
        "skipping '" + P("src/fifo") + "': a FIFO, not a regular file",
        "skipping '" + P("src/leak") + "': a symbolic link; links are not followed",
        "skipping '" + P("src/loop") + "': a symbolic link; links are not followed",
        "skipping '" + P("src/sublink") + "': a symbolic link; links are not followed",
    };
    EXPECT_EQ(skipped, want);
}

TEST_F(FileOps, TempOutputFitsLongNamesAndWritesThroughLinks) {
    std::string error;
    struct Case {
        std::string target;   // as given
        std::string written;  // the file that gets the contents
    } cases[] = {
        {std::string(255, 'n'), std::string(255, 'n')},
        {"link.exe", "real.exe"},
        {"dangling.exe", "made.exe"},
    };
    Write("real.exe", "old");
    ASSERT_EQ(symlink("real.exe", P("link.exe").c_str()), 0);
    ASSERT_EQ(symlink("made.exe", P("dangling.exe").c_str()), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.substr(0, 20));
        TempOutput out;
        ASSERT_TRUE(out.Create(P(c.target), &error)) << error;
        FILE* f = fopen(out.Path().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs("new", f);
        fclose(f);
        ASSERT_TRUE(out.Commit(&error)) << error;
        EXPECT_EQ(Read(c.written), "new");
    }
    struct stat st;
    ASSERT_EQ(lstat(P("link.exe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // A folder path past 260 bytes still gives the engine a path it can take.
    std::string deep = dir_;
    while (deep.size() < 300) {
        deep += "/" + std::string(60, 'd');
        mkdir(deep.c_str(), 0755);
    }
    TempOutput out;
    ASSERT_TRUE(out.Create(deep + "/s.exe", &error)) << error;
    EXPECT_LT(out.Path().size(), 260u);
    EXPECT_TRUE(IsRegularFile(out.Path().c_str()));
    ASSERT_TRUE(out.Commit(&error)) << error;
    EXPECT_TRUE(IsRegularFile((deep + "/s.exe").c_str()));
}

TEST_F(FileOps, TempOutputKeepsOwnerGroupAndMode) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
    Write("a.qzf", "old");
    ASSERT_EQ(chown(P("a.qzf").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(P("a.qzf").c_str(), 0604), 0);
    std::string error;
    TempOutput out;
    ASSERT_TRUE(out.Create(P("a.qzf"), &error)) << error;
    out.CopyModeFrom(P("a.qzf").c_str());
    ASSERT_TRUE(out.Commit(&error)) << error;
    struct stat st;
    ASSERT_EQ(stat(P("a.qzf").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(FileOps, AnEmptyFileIsNoArchive) {
    Write("empty.exe", "");
    Write("one.exe", "M");
    struct Case {
        const char* name;
        const char* error;  // null: accepted
    } cases[] = {{"empty.exe", "is empty (0 bytes)"}, {"one.exe", nullptr}, {"none", nullptr}};
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(RefuseEmptyArchive(P(c.name), &error), c.error == nullptr) << c.name;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

// The engine takes paths of at most 259 bytes; an archive deeper than that
// still opens through its folder.
TEST_F(FileOps, ShortPathOpensArchivesPastTheEnginesLimit) {
    std::string deep = dir_;
    while (deep.size() < 300) {
        deep += "/" + std::string(60, 'd');
        mkdir(deep.c_str(), 0755);
    }
    struct Case {
        std::string path;
        bool ok;
        bool aliased;
    } cases[] = {
        {P("a.qzf"), true, false},
        {deep + "/a.qzf", true, true},
        {deep + "/" + std::string(250, 'n'), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.size());
        FILE* f = fopen(c.path.c_str(), "wb");
        if (f) fclose(f);
        ShortPath sp;
        std::string error;
        ASSERT_EQ(sp.Open(c.path, &error), c.ok) << error;
        if (!c.ok) continue;
        EXPECT_LT(sp.Get().size(), 260u);
        EXPECT_EQ(sp.Get() != c.path, c.aliased);
        EXPECT_TRUE(SameFile(sp.Get().c_str(), c.path.c_str()));
        QorZipFile z;
        EXPECT_TRUE(z.Open(sp.Get().c_str(), QorZipFile::QZF_MODE_READ)) << sp.Get();
        EXPECT_EQ(z.GetNumFiles(), 0u);
    }
}
