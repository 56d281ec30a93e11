// Fault injection through the file layer: every platform call of an add, a
// removal and a save is made to fail in turn. With the backup on, the archive
// must be byte-identical afterwards and no temporary file left; with it off,
// the archive must be as before or reopen with a directory that matches the
// file, and a later add must still give a readable archive.
#include <functional>
#include <map>

#include "ArchiveTestUtil.h"
#include "archive/QzfIndexed.h"

using namespace qzftest;
using Z = QorZipFile;

namespace {

int g_call = 0;
int g_failAt = 0;
const char* g_failed = nullptr;

bool Hit(const char* what) {
    if (++g_call != g_failAt) return false;
    g_failed = what;
    return true;
}

const qfl::Calls& D() { return qfl::kDefaultCalls; }

qfl::File FOpen(const char* p, int i, uint32_t a) {
    return Hit("open") ? qfl::InvalidFile() : D().open(p, i, a);
}
bool FRead(qfl::File f, void* b, uint32_t n, uint32_t* got) {
    if (Hit("read")) return *got = 0, false;
    return D().read(f, b, n, got);
}
bool FWrite(qfl::File f, const void* b, uint32_t n, uint32_t* put) {
    if (Hit("write")) return *put = 0, false;
    return D().write(f, b, n, put);
}
bool FSeek(qfl::File f, uint64_t p) { return !Hit("seek") && D().seek(f, p); }
bool FTell(qfl::File f, uint64_t* p) { return !Hit("tell") && D().tell(f, p); }
bool FSize(qfl::File f, uint64_t* s) { return !Hit("size") && D().size(f, s); }
bool FTruncate(qfl::File f) { return !Hit("truncate") && D().truncate(f); }
bool FClose(qfl::File f) {
    const bool fail = Hit("close");
    return D().close(f) && !fail;  // the handle is gone either way
}
bool FGetTime(qfl::File f, FILETIME* t) { return !Hit("getTime") && D().getTime(f, t); }
bool FSetTime(qfl::File f, const FILETIME* t) { return !Hit("setTime") && D().setTime(f, t); }
bool FGetAttr(const char* p, uint32_t* a) {
    return !Hit("getAttributes") && D().getAttributes(p, a);
}
bool FSetAttr(const char* p, uint32_t a) {
    return !Hit("setAttributes") && D().setAttributes(p, a);
}
bool FRemove(const char* p) { return !Hit("remove") && D().remove(p); }
bool FCopy(const char* a, const char* b) { return !Hit("copy") && D().copy(a, b); }
bool FMkdir(const char* p) { return !Hit("makeDirectory") && D().makeDirectory(p); }
int g_tempNames = 0;  // temporary files asked for, failing or not
bool FTemp(char* b) {
    ++g_tempNames;
    if (Hit("makeTempName")) return b[0] = 0, false;
    return D().makeTempName(b);
}
bool FCwd(char* b, size_t n) { return !Hit("currentDirectory") && D().currentDirectory(b, n); }
bool FAsk(const char* t, const char* c) { return !Hit("askYesNo") && D().askYesNo(t, c); }

const qfl::Calls kFaulty = {FOpen,     FRead,  FWrite,   FSeek,    FTell,    FSize,
                            FTruncate, FClose, FGetTime, FSetTime, FGetAttr, FSetAttr,
                            FRemove,   FCopy,  FMkdir,   FTemp,    FCwd,     FAsk};

struct Injection {
    explicit Injection(int failAt) {
        g_call = 0;
        g_failAt = failAt;
        g_failed = nullptr;
        qfl::g_calls = kFaulty;
    }
    ~Injection() { qfl::g_calls = qfl::kDefaultCalls; }
};

class FaultTest : public ScratchTest {
protected:
    std::string arc;
    std::map<std::string, std::string> contents;  // stored name -> content
    std::string Source(const std::string& name, const std::string& content) {
        WriteText(dir / ("src_" + name), content);
        contents[name] = content;
        return P("src_" + name);
    }
    void SetUp() override {
        ScratchTest::SetUp();
        arc = P("archive.bin");
    }

    // The archive opens, and every entry extracts to the content of its name.
    void ExpectConsistent(const char* when) {
        Z r(arc.c_str(), Z::QZF_MODE_READ);
        ASSERT_TRUE(r.IsOpen()) << when << ": reopen error " << r.GetLastError();
        for (unsigned long i = 0; i < r.GetNumFiles(); ++i) {
            const std::string name = r.GetFileName(i);
            ASSERT_TRUE(r.ExtractFile(name.c_str(), P("verify.out").c_str()))
                << when << " " << name;
            EXPECT_EQ(ReadText(dir / "verify.out"), contents[name]) << when << " " << name;
        }
    }

    // Runs op at every injection point. prepare() resets the archive file and
    // opens z; op() performs the change.
    void Sweep(const char* label, bool backup, const std::function<void(Z&)>& prepare,
               const std::function<bool(Z&)>& op) {
        // The bytes before, from a run of its own: a read-write object holds
        // the file unshared, and closing it would lose the entries' sources.
        Bytes before, after;
        {
            Z z;
            z.SetUseBackupFile(backup);
            prepare(z);
            z.Close();
            before = ReadAll(arc);
        }
        // A clean run counts the calls and gives the bytes of success.
        int calls = 0;
        {
            Z z;
            z.SetUseBackupFile(backup);
            prepare(z);
            Injection count(0);
            g_tempNames = 0;
            ASSERT_TRUE(op(z)) << label << " clean run error " << z.GetLastError();
            calls = g_call;
            // Sources go straight into the archive: only the backup is a temporary file.
            if (!backup) {
                EXPECT_EQ(g_tempNames, 0) << label << " made a temporary file";
            }
        }
        after = ReadAll(arc);
        ASSERT_GT(calls, 5);
        int survived = 0;
        const ::testing::TestResult* result =
            ::testing::UnitTest::GetInstance()->current_test_info()->result();
        for (int k = 1; k <= calls; ++k) {
            const int failuresBefore = result->total_part_count();
            SCOPED_TRACE(std::string(label) + (backup ? " backup on" : " backup off") +
                         ", failing call " + std::to_string(k));
            Z z;
            z.SetUseBackupFile(backup);
            prepare(z);
            RemoveEngineTemps();
            bool ok;
            QZF_ERROR error;
            const char* failed;
            {
                Injection inject(k);
                ok = op(z);
                error = z.GetLastError();
                failed = g_failed;
            }
            SCOPED_TRACE(std::string("failed call: ") + (failed ? failed : "none"));
            const bool open = z.IsOpen();
            std::vector<std::string> names;
            for (unsigned long i = 0; i < z.GetNumFiles(); ++i) names.push_back(z.GetFileName(i));
#ifdef _WIN32
            z.Close();  // Windows lets nobody else read a file open read-write
#endif
            const Bytes now = ReadAll(arc);
            const bool leftOk = failed && std::string(failed) == "remove";  // a delete that failed
            if (!leftOk) {
                EXPECT_EQ(TempFilesLeft(), 0);
            }
            if (ok) {
                // A failure the operation may ignore (a close after reading).
                EXPECT_EQ(now, after);
            } else if (backup) {
                EXPECT_NE(error, QZF_ERR_NONE);
                // Only a commit whose final reopen failed has already changed the file.
                if (now != before) {
                    EXPECT_EQ(error, QZF_ERR_OPEN_FILE);
                    EXPECT_EQ(now, after);
                }
            } else {
                EXPECT_NE(error, QZF_ERR_NONE);
                ExpectConsistent("after failure");
                if (open) {
                    // The object's directory is the file's, and a later add keeps it so.
                    {
                        Z r(arc.c_str(), Z::QZF_MODE_READ);
                        ASSERT_EQ(names.size(), r.GetNumFiles());
                        for (unsigned long i = 0; i < r.GetNumFiles(); ++i)
                            EXPECT_EQ(names[i], r.GetFileName(i));
                    }
#ifdef _WIN32
                    ASSERT_TRUE(z.Open(nullptr, Z::QZF_MODE_READWRITE));
#endif
                    ASSERT_TRUE(z.AddFile(Source("later", "added later").c_str(), "later"))
                        << z.GetLastError();
                    z.Close();
                    ExpectConsistent("after a later add");
                }
            }
            // A point survives when nothing above found fault with it.
            if (result->total_part_count() == failuresBefore) ++survived;
            if (HasFatalFailure()) return;
        }
        std::printf("[ fault    ] %s, backup %s: %d of %d injection points survived\n", label,
                    backup ? "on" : "off", survived, calls);
        total_ += survived;
    }

    int total_ = 0;
};

// Bytes that deflate cannot shrink, so blocks span several copy chunks.
std::string Noise(size_t n) {
    std::string s(n, 0);
    uint32_t x = 12345;
    for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    return s;
}

TEST_F(FaultTest, EveryCallOfAddRemoveAndSave) {
    const std::string s1 = Source("one.txt", "first entry, short"),
                      s2 = Source("two.bin", Noise(40000) + "end of two"),
                      s3 = Source("three.txt", std::string(20000, '3')),
                      s4 = Source("four.txt", "the fourth");
    Bytes base;
    {
        Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
        ASSERT_TRUE(z.AddFile(s1.c_str(), "one.txt"));
        ASSERT_TRUE(z.AddFile(s2.c_str(), "two.bin"));
        ASSERT_TRUE(z.AddFile(s3.c_str(), "three.txt"));
        z.Close();
        base = ReadAll(arc);
    }
    auto openBase = [&](Z& z) {
        WriteAll(arc, base);
        ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
    };
    auto openEmpty = [&](Z& z) {
        WriteAll(arc, {});
        ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
    };
    auto openAdded = [&](Z& z) {  // entries with sources, for an explicit Save
        WriteAll(arc, {});
        ASSERT_TRUE(z.Open(arc.c_str(), Z::QZF_MODE_READWRITE));
        ASSERT_TRUE(z.AddFile(s1.c_str(), "one.txt"));
        ASSERT_TRUE(z.AddFile(s2.c_str(), "two.bin"));
    };
    // What a replacement of two.bin by four.txt leaves under the new name.
    contents["TWO.BIN"] = contents["four.txt"];
    for (bool backup : {true, false}) {
        Sweep("append", backup, openBase, [&](Z& z) { return z.AddFile(s4.c_str(), "four.txt"); });
        Sweep("replace", backup, openBase, [&](Z& z) { return z.AddFile(s4.c_str(), "TWO.BIN"); });
        Sweep("remove", backup, openBase, [&](Z& z) { return z.RemoveFile("one.txt"); });
        Sweep("remove two", backup, openBase, [&](Z& z) {
            const char* names[] = {"one.txt", "three.txt"};
            return z.RemoveFiles(2, names);
        });
        Sweep("first add", backup, openEmpty,
              [&](Z& z) { return z.AddFile(s2.c_str(), "two.bin"); });
        Sweep("save", backup, openAdded, [&](Z& z) { return z.Save(); });
        if (HasFatalFailure()) return;
    }
    std::printf("[ fault    ] %d injection points survived in all\n", total_);
}

// Extraction inflates straight from the archive: every call failing in turn
// (archive seeks and reads, the destination's creation, writes and close)
// gives either the whole file or a failure with 9 (archive) or 16 (the rest),
// leaves no temporary file, keeps an existing destination when the archive
// fails before the first block is in, and leaves the object able to extract.
TEST_F(FaultTest, EveryCallOfExtract) {
    const std::string big = Noise(200000) + std::string(100000, 'z');
    struct Case {
        const char* name;
        std::string content;
        Bytes data;
    } cases[] = {
        {"small.txt", "a short entry", Gzip("a short entry")},
        {"big.bin", big, Gzip(big)},
        {"joined.txt", "one two", Gzip("one ")},
        {"plain.txt", "stored as it is", {}},
        {"empty.txt", "", {}},
    };
    const Bytes two = Gzip("two");
    cases[2].data.insert(cases[2].data.end(), two.begin(), two.end());
    cases[3].data.assign(cases[3].content.begin(), cases[3].content.end());
    ArchiveBuilder b;
    b.Header();
    for (const Case& c : cases) b.Entry(c.name, c.data, static_cast<uint32_t>(c.content.size()));
    WriteAll(arc, b.Trailer().b);
    const Bytes before = ReadAll(arc);
    const std::string dest = P("sub/out.bin");
    // The install run's way (ExtractNewFile, then ExtractFile when the file
    // was not made new) must give what ExtractFile alone gives.
    auto extract = [&](Z& z, const char* name, bool newFirst) {
        bool placed = false;
        if (newFirst) {
            const bool ok = qzf_readahead::ExtractNewFile(z, name, dest.c_str(), nullptr, &placed);
            if (placed) return ok;
        }
        return z.ExtractFile(name, dest.c_str());
    };
    enum Start { kNoFolder, kNoFile, kOldFile };
    int points = 0;
    for (const Case& c : cases) {
        for (const bool newFirst : {false, true}) {
            for (const Start start : {kNoFolder, kNoFile, kOldFile}) {
                const bool existing = start == kOldFile;
                auto reset = [&] {
                    std::error_code ec;
                    fs::remove_all(dir / "sub", ec);
                    if (start != kNoFolder) fs::create_directories(dir / "sub");
                    if (existing) WriteText(dest, "old");
                };
                Z z(arc.c_str(), Z::QZF_MODE_READ);
                ASSERT_TRUE(z.IsOpen());
                reset();
                int calls = 0;
                {
                    Injection count(0);
                    g_tempNames = 0;
                    ASSERT_TRUE(extract(z, c.name, newFirst)) << z.GetLastError();
                    calls = g_call;
                    EXPECT_EQ(g_tempNames, 0) << "extraction made a temporary file";
                }
                ASSERT_EQ(ReadText(dest), c.content);
                for (int k = 1; k <= calls; ++k) {
                    SCOPED_TRACE(std::string(c.name) + (newFirst ? ", new file first" : "") +
                                 (existing           ? " over a file"
                                  : start == kNoFile ? " fresh"
                                                     : " fresh, no folder") +
                                 ", failing call " + std::to_string(k));
                    reset();
                    RemoveEngineTemps();
                    bool ok;
                    QZF_ERROR error;
                    std::string failed;
                    {
                        Injection inject(k);
                        ok = extract(z, c.name, newFirst);
                        error = z.GetLastError();
                        failed = g_failed ? g_failed : "none";
                    }
                    SCOPED_TRACE("failed call: " + failed);
                    EXPECT_EQ(TempFilesLeft(), 0);
                    const bool exists = fs::exists(dest);
                    const std::string now = exists ? ReadText(dest) : std::string();
                    if (ok) {
                        EXPECT_EQ(error, QZF_ERR_NONE);
                        EXPECT_EQ(now, c.content);
                    } else if (failed == "seek" || failed == "read") {
                        EXPECT_EQ(error, QZF_ERR_READ_ARCHIVE);
                        // The first block is read before the destination is touched.
                        if (c.data.size() <= 65536) {
                            EXPECT_EQ(exists, existing);
                            EXPECT_EQ(now, existing ? "old" : "");
                        }
                    } else {
                        EXPECT_EQ(error, QZF_ERR_EXTRACT);
                    }
                    if (!ok && now != "old") {
                        EXPECT_TRUE(now.size() <= c.content.size() &&
                                    c.content.compare(0, now.size(), now) == 0);
                    }
                    // Nothing is left behind that stops the next extraction.
                    reset();
                    ASSERT_TRUE(extract(z, c.name, newFirst)) << z.GetLastError();
                    EXPECT_EQ(ReadText(dest), c.content);
                    ++points;
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
    EXPECT_EQ(ReadAll(arc), before);
    std::printf("[ fault    ] extract: %d injection points survived\n", points);
}

}  // namespace

namespace {

// A copy back that breaks off half-way: the archive is damaged, so the backup,
// the one complete copy, is kept instead of deleted.
bool HalfCopy(const char* from, const char* to) {
    Bytes b = ReadAll(from);
    b.resize(b.size() / 2);
    WriteAll(to, b);
    return false;
}

TEST_F(FaultTest, BrokenCopyBackKeepsTheBackup) {
    const std::string s1 = Source("one.txt", Noise(30000)), s2 = Source("two.txt", "second");
    Z z(arc.c_str(), Z::QZF_MODE_READWRITE);
    ASSERT_TRUE(z.AddFile(s1.c_str(), "one.txt"));
    int copies = 0;
    struct Restore {
        ~Restore() { qfl::g_calls = qfl::kDefaultCalls; }
    } restore;
    // The first copy makes the backup; the second, copying it back, breaks.
    static int* counter;
    counter = &copies;
    qfl::g_calls.copy = [](const char* from, const char* to) {
        return ++*counter == 2 ? HalfCopy(from, to) : qfl::kDefaultCalls.copy(from, to);
    };
    EXPECT_FALSE(z.AddFile(s2.c_str(), "two.txt"));
    EXPECT_EQ(z.GetLastError(), QZF_ERR_RESTORE);
    EXPECT_FALSE(z.IsOpen());
    EXPECT_EQ(TempFilesLeft(), 1);
    Z kept;
    bool found = false;
    for (auto& e : fs::directory_iterator(EngineTemp())) {
        if (!IsEngineTemp(e.path())) continue;
        ASSERT_TRUE(kept.Open(e.path().string().c_str(), Z::QZF_MODE_READ)) << kept.GetLastError();
        EXPECT_EQ(kept.GetNumFiles(), 2u);
        found = true;
    }
    EXPECT_TRUE(found);
}

}  // namespace
