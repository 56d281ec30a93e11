// libFuzzer target: arbitrary bytes opened as an archive (stand-alone and as
// the appended archive the locator finds, signed PE images included, whose
// reads must all lie inside the input), every entry listed and extracted into
// a scratch folder. A directory that opened is then compacted
// without backup, and the result must open again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "contract/ArchiveFormat.h"
#include "archive/ArchiveLocator.h"
#include "archive/QorZipFile.h"

namespace {

// Deflate expands at most about 1000:1; the cap keeps one input's output small.
constexpr size_t kMaxInput = 8192;

const std::string& Scratch() {
    static std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string t = std::string(base && *base ? base : "/tmp") + "/qzf_fuzz_XXXXXX";
        if (!mkdtemp(&t[0])) std::abort();
        setenv("TMPDIR", t.c_str(), 1);           // the engine's temporary files stay in here too
        if (chdir(t.c_str()) != 0) std::abort();  // and so do relative destinations
        return t;
    }();
    return dir;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

void ListAndExtract(QorZipFile& z) {
    const std::string out = Scratch() + "/out";
    const unsigned long n = z.GetNumFiles();
    for (unsigned long i = 0; i < n && i < 64; ++i) {
        const char* name = z.GetFileName(i);
        if (!name) std::abort();
        z.GetFileSize(i);
        z.GetFileCompressedSize(i);
        z.GetFileTimeStamp(i);
        z.GetFileAttributesA(i);
        z.GetFileIndexSansPath(name);
        if (z.GetFileIndex(name) > i) std::abort();  // the first equal name is at most i
        // Fixed destinations: stored names may climb out of any folder.
        z.ExtractFile(name, out.c_str());
        z.ExtractFileToDir(Scratch().c_str(), name, "out2");
        std::remove(out.c_str());
        std::remove((Scratch() + "/out2").c_str());
        std::remove("out2");
    }
    z.GetFileName(n);
}

struct Input {
    const uint8_t* data;
    size_t size;
};

bool ReadInput(void* context, uint64_t position, void* buffer, uint32_t n) {
    const Input* in = static_cast<const Input*>(context);
    if (position > in->size || n > in->size - position) std::abort();  // never outside the file
    std::memcpy(buffer, in->data + position, n);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::string path = Scratch() + "/input.bin";
    WriteFile(path, data, size);

    QorZipFile z;
    z.SetRestoreAttributes(true);
    const bool opened = z.Open(path.c_str(), QorZipFile::QZF_MODE_READ);
    if (!opened && z.GetLastError() == QZF_ERR_NONE) std::abort();
    ListAndExtract(z);

    // As an appended archive, the way the installer finds its payload.
    Input input{data, size};
    qzf_format::ArchiveLocation at;
    if (!qzf_format::LocateArchive(size, ReadInput, &input, &at)) std::abort();
    if (at.headerOffset > size || at.end > size || (at.appended && at.headerOffset >= at.end))
        std::abort();
    if (at.appended) {
        QorZipFile a;
        if (qzf_format::OpenLocatedArchive(a, path.c_str(), at, QorZipFile::QZF_MODE_READ))
            ListAndExtract(a);
    }

    // A compaction of anything that opened must leave an archive that opens.
    if (opened && z.GetNumFiles() > 0) {
        QorZipFile w;
        w.SetUseBackupFile(false);
        if (!w.Open(path.c_str(), QorZipFile::QZF_MODE_READWRITE)) std::abort();
        const unsigned long before = w.GetNumFiles();
        if (w.RemoveFile(0ul)) {
            w.Close();
            QorZipFile r;
            if (!r.Open(path.c_str(), QorZipFile::QZF_MODE_READ)) std::abort();
            if (r.GetNumFiles() + 1 != before) std::abort();
        }
    }
    return 0;
}
