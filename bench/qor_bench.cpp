// qor_bench: measurements the shell cannot make on its own.
//
//   qor_bench remove ARCHIVE K [--backup]
//       removes the entry K places before the last one, in place, through the
//       engine, and prints the bytes the compaction had to move (every block
//       after the removed one), the archive size and the time taken.
//   qor_bench rss
//       prints this process's peak resident set size in KiB (a baseline).
//   qor_bench inflate-each ARCHIVE DIR
//       the peer of `qorpack extract`: one process that walks a stand-alone
//       archive and inflates each entry with zlib into a fresh file below DIR
//       (folders made as needed, time stamp set), as a small C program would.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "contract/ArchiveFormat.h"
#include "archive/QorZipFile.h"

namespace {

unsigned long PeakRssKiB() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<unsigned long>(ru.ru_maxrss);
}

int Remove(const char* path, unsigned long fromEnd, bool backup) {
    FILE* f = fopen(path, "rb");
    if (!f) return fprintf(stderr, "cannot open %s\n", path), 1;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    unsigned char tail[4] = {0, 0, 0, 0};
    fseek(f, -4, SEEK_END);
    if (fread(tail, 1, 4, f) != 4) size = 0;
    fclose(f);
    unsigned long length = tail[0] | tail[1] << 8 | tail[2] << 16 | (unsigned long)tail[3] << 24;
    unsigned long offset = length < static_cast<unsigned long>(size) ? size - length : 0;

    QorZipFile z;
    z.SetUseBackupFile(backup);
    z.SetHeaderOffset(offset);
    if (!z.Open(path, QorZipFile::QZF_MODE_READWRITE))
        return fprintf(stderr, "cannot open archive %s: error %d\n", path, z.GetLastError()), 1;
    unsigned long n = z.GetNumFiles();
    if (fromEnd >= n) return fprintf(stderr, "archive has only %lu entries\n", n), 1;
    unsigned long index = n - 1 - fromEnd;
    unsigned long long moved = 0;
    for (unsigned long i = index + 1; i < n; ++i)
        moved += 26 + strlen(z.GetFileName(i)) + z.GetFileCompressedSize(i);
    unsigned long long removed = 26 + strlen(z.GetFileName(index)) + z.GetFileCompressedSize(index);
    auto t0 = std::chrono::steady_clock::now();
    bool ok = z.RemoveFile(index);
    auto t1 = std::chrono::steady_clock::now();
    if (!ok) return fprintf(stderr, "remove failed: error %d\n", z.GetLastError()), 1;
    printf("archive_bytes=%ld removed_bytes=%llu moved_bytes=%llu seconds=%.4f backup=%d\n", size,
           removed, moved, std::chrono::duration<double>(t1 - t0).count(), backup ? 1 : 0);
    return 0;
}

void MakeParents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
}

int InflateEach(const char* archive, const char* dir) {
    using namespace qzf_format;
    int in = open(archive, O_RDONLY);
    if (in < 0) return fprintf(stderr, "cannot open %s\n", archive), 1;
    std::vector<uint8_t> src, out(65536);
    std::string lastParent;
    uint64_t pos = 0;
    unsigned long files = 0;
    for (;;) {
        uint8_t head[kEntryFixedLength];
        if (pread(in, head, kHeadLength, pos) != kHeadLength) break;
        const uint32_t length = Get32(head), type = head[kHeadOffType];
        if (type != kTypeEntry) {
            pos += length;
            continue;
        }
        if (pread(in, head, kEntryFixedLength, pos) != kEntryFixedLength) return 1;
        const uint32_t compressed = Get32(head + kEntryOffCompressed);
        std::string name(length - kEntryFixedLength, '\0');
        if (pread(in, &name[0], name.size(), pos + kEntryFixedLength) != (ssize_t)name.size())
            return 1;
        name.resize(strlen(name.c_str()));
        for (char& c : name)
            if (c == '\\') c = '/';
        src.resize(compressed);
        if (pread(in, src.data(), compressed, pos + length) != (ssize_t)compressed) return 1;
        const std::string path = std::string(dir) + "/" + name;
        const std::string parent = path.substr(0, path.rfind('/'));
        if (parent != lastParent) MakeParents(path), lastParent = parent;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return fprintf(stderr, "cannot create %s\n", path.c_str()), 1;
        z_stream z{};
        inflateInit2(&z, 15 + 16);
        z.next_in = src.data();
        z.avail_in = compressed;
        int r = Z_OK;
        while (r == Z_OK) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            r = inflate(&z, Z_NO_FLUSH);
            const size_t n = out.size() - z.avail_out;
            if (n && write(fd, out.data(), n) != (ssize_t)n) return 1;
        }
        inflateEnd(&z);
        const uint64_t ft =
            (uint64_t)Get32(head + kEntryOffTimeHigh) << 32 | Get32(head + kEntryOffTimeLow);
        struct timespec times[2];
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(ft / 10000000 - 11644473600ull);
        times[1].tv_nsec = static_cast<long>(ft % 10000000 * 100);
        futimens(fd, times);
        close(fd);
        if (r != Z_STREAM_END) return fprintf(stderr, "bad data in %s\n", name.c_str()), 1;
        ++files;
        pos += length + compressed;
    }
    close(in);
    printf("%lu files\n", files);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && !strcmp(argv[1], "remove"))
        return Remove(argv[2], strtoul(argv[3], nullptr, 10),
                      argc > 4 && !strcmp(argv[4], "--backup"));
    if (argc == 2 && !strcmp(argv[1], "rss")) return printf("%lu\n", PeakRssKiB()), 0;
    if (argc == 4 && !strcmp(argv[1], "inflate-each")) return InflateEach(argv[2], argv[3]);
    fprintf(stderr,
            "usage: qor_bench remove ARCHIVE K [--backup] | qor_bench rss |\n"
            "       qor_bench inflate-each ARCHIVE DIR\n");
    return 2;
}
