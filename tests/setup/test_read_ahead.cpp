// The install run's read-ahead: extraction through its pieces must give what
// plain extraction gives, entry by entry (files, results, last errors), for
// every kind of stored data, past its memory budget, and when the run skips
// entries or goes back to one.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "ArchiveTestUtil.h"
#include "setup/ReadAhead.h"

using namespace qzftest;

namespace {

// Size and hash of a file: a mismatch is reported without megabytes of text.
std::string Digest(const std::string& path) {
    const std::string text = ReadText(path);
    return std::to_string(text.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>{}(text));
}

struct Outcome {
    bool ok;
    int error;
    bool exists;
    std::string content;
};

class ReadAheadTest : public ScratchTest {
protected:
    std::vector<std::string> names;

    std::string Build() {
        ArchiveBuilder a;
        a.Header();
        auto add = [&](const std::string& name, const Bytes& data, uint32_t size) {
            a.Entry(name, data, size);
            names.push_back(name);
        };
        const std::string text = "some text\r\n";
        Bytes cut = Gzip(std::string(200000, 'c'));
        cut.resize(cut.size() / 2);
        Bytes badCrc = Gzip(text);
        badCrc[badCrc.size() - 6] ^= 0xFF;
        Bytes twoMembers = Gzip("first ");
        const Bytes second = Gzip("second");
        twoMembers.insert(twoMembers.end(), second.begin(), second.end());
        std::string varied;
        for (uint32_t i = 0; i < 3000000; ++i) varied += static_cast<char>('a' + i * 7919u % 23);

        add("plain.txt", Bytes(text.begin(), text.end()), 11);
        add("empty.txt", {}, 0);
        add("cut.bin", cut, 200000);
        add("crc.txt", badCrc, 11);
        add("two.txt", twoMembers, 12);
        add("varied.bin", Gzip(varied), static_cast<uint32_t>(varied.size()));
        // Fewer pieces than wake the run before the entry's end.
        const std::string five = varied.substr(0, 5 * 65536 - 100);
        add("five.bin", Gzip(five), static_cast<uint32_t>(five.size()));
        // More than the budget in one entry, and more entries than pieces.
        add("huge.bin", Gzip(std::string(40u << 20, 'z')), 40u << 20);
        for (int i = 0; i < 700; ++i) {
            const std::string s = "entry " + std::to_string(i);
            add("small" + std::to_string(i) + ".txt", Gzip(s), static_cast<uint32_t>(s.size()));
        }
        a.Trailer();
        const std::string path = P("payload.bin");
        WriteAll(path, a.b);
        return path;
    }

    // Extracts the entries at `order` into folder, through the read-ahead or not.
    std::vector<Outcome> Run(const std::string& archivePath, const std::vector<size_t>& order,
                             const std::string& folder, bool ahead) {
        fs::create_directories(dir / folder);
        QorZipFile z(archivePath.c_str(), QorZipFile::QZF_MODE_READ);
        EXPECT_TRUE(z.IsOpen());
        ReadAhead reader;
        if (ahead) {
            EXPECT_TRUE(reader.Start(z, archivePath.c_str()));
        }
        std::vector<Outcome> out;
        for (size_t k = 0; k < order.size(); ++k) {
            const size_t i = order[k];
            std::string dest = P(folder + "/" + names[i]);
            // Asked for twice in a row: the first time its destination is a
            // folder, so it fails after its first piece was taken.
            if (k + 1 < order.size() && order[k + 1] == i) {
                dest += ".folder";
                fs::create_directories(dest);
            }
            Outcome o;
            o.ok =
                qzf_readahead::ExtractFileFrom(z, names[i].c_str(), dest.c_str(), reader.Pieces());
            o.error = z.GetLastError();
            o.exists = fs::exists(dest);
            if (o.exists) o.content = Digest(dest);
            out.push_back(o);
        }
        return out;
    }

    void ExpectSame(const std::string& archivePath, const std::vector<size_t>& order) {
        static int serial = 0;
        const std::string n = std::to_string(++serial);
        const auto want = Run(archivePath, order, "plain" + n, false);
        const auto got = Run(archivePath, order, "ahead" + n, true);
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < order.size(); ++k) {
            SCOPED_TRACE(names[order[k]]);
            EXPECT_EQ(got[k].ok, want[k].ok);
            EXPECT_EQ(got[k].error, want[k].error);
            EXPECT_EQ(got[k].exists, want[k].exists);
            EXPECT_EQ(got[k].content, want[k].content);
        }
    }
};

TEST_F(ReadAheadTest, SameResultsAsPlainExtraction) {
    const std::string archive = Build();
    std::vector<size_t> all, skipping;
    for (size_t i = 0; i < names.size(); ++i) {
        all.push_back(i);
        if (i % 3 != 1) skipping.push_back(i);
    }
    // In order, as the install run goes.
    ExpectSame(archive, all);
    // Entries left out, one failing half-read and asked for again, and one
    // from before.
    const size_t varied = 5;
    ASSERT_EQ(names[varied], "varied.bin");
    skipping.insert(std::find(skipping.begin(), skipping.end(), varied), varied);
    skipping.insert(skipping.begin() + 9, 1);
    ExpectSame(archive, skipping);
}

TEST_F(ReadAheadTest, StopsWhileAheadAndFreesEverything) {
    const std::string archive = Build();
    QorZipFile z(archive.c_str(), QorZipFile::QZF_MODE_READ);
    ReadAhead reader;
    ASSERT_TRUE(reader.Start(z, archive.c_str()));
    const std::string dest = P("first.txt");
    EXPECT_TRUE(qzf_readahead::ExtractFileFrom(z, "plain.txt", dest.c_str(), reader.Pieces()));
    reader.Stop();  // the thread is blocked on its budget by now, or soon
    EXPECT_EQ(reader.Pieces(), nullptr);
    EXPECT_TRUE(qzf_readahead::ExtractFileFrom(z, "small5.txt", dest.c_str(), reader.Pieces()));
    EXPECT_EQ(ReadText(dest), "entry 5");
}

// Counts what an extraction takes from the read-ahead.
struct CountingPieces {
    const QzfPieces* inner;
    int begun = 0, taken = 0;
    QzfPieces Wrap() {
        QzfPieces p;
        p.context = this;
        p.begin = [](void* c, uint32_t index) {
            CountingPieces* self = static_cast<CountingPieces*>(c);
            const bool coming = self->inner->begin(self->inner->context, index);
            self->begun += coming;
            return coming;
        };
        p.next = [](void* c, const uint8_t** data, uint32_t* n) {
            CountingPieces* self = static_cast<CountingPieces*>(c);
            ++self->taken;
            return self->inner->next(self->inner->context, data, n);
        };
        return p;
    }
};

// The install run first tries each destination as a new file; one that
// exists, or whose folder is missing, must be left as it is and cost the
// read-ahead nothing, so the steps that follow still get the entry's pieces.
TEST_F(ReadAheadTest, NewFileFirstLeavesTheEntryForTheNextSteps) {
    const std::string archive = Build();
    QorZipFile z(archive.c_str(), QorZipFile::QZF_MODE_READ);
    ReadAhead reader;
    ASSERT_TRUE(reader.Start(z, archive.c_str()));
    CountingPieces counting{reader.Pieces()};
    const QzfPieces pieces = counting.Wrap();
    const std::string old = P("old.bin"), missing = P("missing/two.txt"), fresh = P("fresh.txt");
    WriteText(old, "old");
    struct Step {
        const char* name;
        std::string dest;
        bool placed;
    } steps[] = {// in archive order, as the install run goes
                 {"two.txt", missing, false},
                 {"varied.bin", old, false},
                 {"huge.bin", fresh, true}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        counting.begun = counting.taken = 0;
        bool placed = !s.placed;
        const bool ok = qzf_readahead::ExtractNewFile(z, s.name, s.dest.c_str(), &pieces, &placed);
        EXPECT_EQ(placed, s.placed);
        if (!placed) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(counting.taken, 0);
            EXPECT_EQ(fs::exists(s.dest) ? ReadText(s.dest) : "", s.dest == old ? "old" : "");
            if (s.dest == missing) {
                EXPECT_FALSE(fs::exists(P("missing")));
                fs::create_directories(P("missing"));
            }
            EXPECT_TRUE(qzf_readahead::ExtractFileFrom(z, s.name, s.dest.c_str(), &pieces));
        } else {
            EXPECT_TRUE(ok);
        }
        EXPECT_GT(counting.taken, 0);  // the pieces were there for the extraction
        EXPECT_EQ(counting.begun, placed ? 1 : 2);
        const std::string plain = P("plain.out");
        ASSERT_TRUE(z.ExtractFile(s.name, plain.c_str()));
        EXPECT_EQ(Digest(s.dest), Digest(plain));
    }
}

}  // namespace

// The budget bounds what the lanes hold whatever the entry sizes, and small
// files take only their own size of it: a payload of thousands of small
// files is decoded ahead with few waits of a lane for pieces to come back
// (each wait and wake is a trip through the system).
TEST_F(ReadAheadTest, SmallFilesTakeTheirSizeOfTheBudget) {
    struct Case {
        const char* what;
        bool manySmall;  // else the mixed payload of Build()
        bool fewWaits;   // else the lanes may wait as they must, within the budget
    } cases[] = {{"2,000 small files", true, true}, {"mixed, one of 40 MB", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        names.clear();
        std::string archive;
        uint64_t content = 0;
        if (c.manySmall) {
            ArchiveBuilder a;
            a.Header();
            for (int i = 0; i < 2000; ++i) {
                const std::string s(3000 + i % 2000, static_cast<char>('a' + i % 26));
                names.push_back("s" + std::to_string(i) + ".txt");
                a.Entry(names.back(), Gzip(s), static_cast<uint32_t>(s.size()));
                content += s.size();
            }
            a.Trailer();
            archive = P("small.bin");
            WriteAll(archive, a.b);
        } else {
            archive = Build();
        }
        fs::create_directories(dir / "out");
        QorZipFile z(archive.c_str(), QorZipFile::QZF_MODE_READ);
        ReadAhead reader;
        ASSERT_TRUE(reader.Start(z, archive.c_str()));
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string dest = P("out/" + std::to_string(i));
            ASSERT_TRUE(qzf_readahead::ExtractFileFrom(z, names[i].c_str(), dest.c_str(),
                                                       reader.Pieces()) ||
                        !c.manySmall);
        }
        reader.Stop();
        const ReadAhead::Counts counts = reader.GetCounts();
        // Whole pieces carry a small header each on top of the budget.
        EXPECT_LE(counts.peakBytes, kReadAheadBudget + kReadAheadBudget / 64);
        EXPECT_GT(counts.peakBytes, 0u);
        // A lane waits once per quarter of its share decoded, not once per
        // few entries (about 250 times here when pieces were counted whole).
        const uint64_t quarter = kReadAheadBudget / kReadAheadLanes / 4;
        if (c.fewWaits) {
            EXPECT_LE(counts.laneWaits, content / quarter + kReadAheadLanes);
        }
    }
}
