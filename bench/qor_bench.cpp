// qor_bench: measurements the shell cannot make on its own.
//
//   qor_bench remove ARCHIVE K [--backup]
//       removes the entry K places before the last one, in place, through the
//       engine, and prints the bytes the compaction had to move (every block
//       after the removed one), the archive size and the time taken.
//   qor_bench rss
//       prints this process's peak resident set size in KiB (a baseline).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && !strcmp(argv[1], "remove"))
        return Remove(argv[2], strtoul(argv[3], nullptr, 10),
                      argc > 4 && !strcmp(argv[4], "--backup"));
    if (argc == 2 && !strcmp(argv[1], "rss")) return printf("%lu\n", PeakRssKiB()), 0;
    fprintf(stderr, "usage: qor_bench remove ARCHIVE K [--backup] | qor_bench rss\n");
    return 2;
}
