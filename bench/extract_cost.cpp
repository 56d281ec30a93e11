// extract_cost: what one entry's extraction costs on this platform (meant for
// Wine), split so the temporary-file step can be priced on its own.
//
//   extract_cost.exe SETUP_OR_ARCHIVE OUT_FOLDER engine|direct|temponly|log|profile|folders
//
//   engine    QorZipFile::ExtractFile per entry, as the install run calls it.
//   direct    the same bytes inflated straight from the archive handle into
//             the destination, time stamp set on the open handle: the floor.
//   temponly  the temporary-file round trip extraction once made per entry:
//             a unique name, writing the compressed size, reopening it with
//             gzopen, deleting it.
//   log       one uninstall-log record per entry (its destination path) into a
//             fresh log in OUT_FOLDER, through the log writer;
//   profile   the same records through WritePrivateProfileStringA.
//   folders   the install run's parent-folder walk per entry (CreateLoggedFolder
//             of each entry's folder below OUT_FOLDER, folders made once).
//
// direct handles gzip data only (as written by the engine). Prints
// "MODE: N entries, T ms, t ms/entry". The archive is found from the
// file's last 4 bytes, as the setup finds its payload.
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/QorZipFile.h"
#include "system/Handles.h"
#include "system/UninstallLog.h"

namespace {

struct Entry {
    std::string name;
    uint32_t compressedSize;
    uint32_t dataPosition;
    FILETIME time;
};

double NowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

uint32_t Le32(const unsigned char* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// Reads the directory with plain file reads; false on anything unexpected.
bool ReadDirectory(const std::vector<unsigned char>& file, uint32_t* offset,
                   std::vector<Entry>* entries) {
    if (file.size() < 4) return false;
    const uint32_t length = Le32(&file[file.size() - 4]);
    if (length >= file.size()) return false;
    size_t pos = *offset = static_cast<uint32_t>(file.size() - length);
    while (pos + 5 <= file.size()) {
        const uint32_t recordLength = Le32(&file[pos]);
        const unsigned char type = file[pos + 4];
        if (recordLength < 5 || pos + recordLength > file.size()) return false;
        if (type == 3) return true;
        if (type == 2) {
            if (recordLength < 26) return false;
            Entry e;
            e.compressedSize = Le32(&file[pos + 5]);
            e.time.dwLowDateTime = Le32(&file[pos + 13]);
            e.time.dwHighDateTime = Le32(&file[pos + 17]);
            e.name.assign(reinterpret_cast<const char*>(&file[pos + 25]));
            e.dataPosition = static_cast<uint32_t>(pos + recordLength);
            entries->push_back(e);
            pos += recordLength + e.compressedSize;
        } else {
            pos += recordLength;
        }
    }
    return false;
}

bool InflateTo(HANDLE archive, const Entry& e, const std::string& dest) {
    FileHandle out(CreateFileA(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out) return false;
    LARGE_INTEGER at;
    at.QuadPart = e.dataPosition;
    SetFilePointerEx(archive, at, nullptr, FILE_BEGIN);
    static unsigned char in[1 << 16], buf[1 << 16];
    z_stream s = {};
    inflateInit2(&s, 16 + MAX_WBITS);
    uint32_t left = e.compressedSize;
    int r = Z_OK;
    bool ok = true;
    while (ok && left && r != Z_STREAM_END) {
        DWORD got = 0;
        ok = ReadFile(archive, in, left < sizeof in ? left : sizeof in, &got, nullptr) && got;
        left -= got;
        s.next_in = in;
        s.avail_in = got;
        do {
            s.next_out = buf;
            s.avail_out = sizeof buf;
            r = inflate(&s, Z_NO_FLUSH);
            DWORD written = 0;
            const DWORD n = static_cast<DWORD>(sizeof buf - s.avail_out);
            ok = ok && (r == Z_OK || r == Z_STREAM_END) &&
                 WriteFile(out.Get(), buf, n, &written, nullptr) && written == n;
        } while (ok && s.avail_out == 0 && r == Z_OK);
    }
    inflateEnd(&s);
    SetFileTime(out.Get(), nullptr, nullptr, &e.time);
    return ok && r == Z_STREAM_END;
}

bool TempRoundTrip(const Entry& e) {
    static char block[1 << 16];
    char folder[MAX_PATH], temp[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, folder) || !GetTempFileNameA(folder, "qzf", 0, temp)) return false;
    FileHandle h(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    bool ok = h.IsValid();
    for (uint32_t left = e.compressedSize; ok && left;) {
        const DWORD n = left < sizeof block ? left : sizeof block;
        DWORD written = 0;
        ok = WriteFile(h.Get(), block, n, &written, nullptr) && written == n;
        left -= n;
    }
    h.Close();
    if (gzFile g = gzopen(temp, "rb")) gzclose(g);
    DeleteFileA(temp);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: extract_cost SETUP OUT_FOLDER "
                     "engine|direct|temponly|log|profile|folders\n");
        return 2;
    }
    const std::string path = argv[1], out = argv[2], mode = argv[3];
    std::vector<unsigned char> file;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char chunk[1 << 16];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            file.insert(file.end(), chunk, chunk + n);
        std::fclose(f);
    }
    uint32_t offset = 0;
    std::vector<Entry> entries;
    if (!ReadDirectory(file, &offset, &entries) || entries.empty()) {
        std::fprintf(stderr, "extract_cost: no archive in %s\n", path.c_str());
        return 1;
    }
    CreateDirectoryA(out.c_str(), nullptr);

    bool ok = true;
    const double start = NowMs();
    if (mode == "engine") {
        QorZipFile archive;
        archive.SetHeaderOffset(offset);
        ok = archive.Open(path.c_str(), QorZipFile::QZF_MODE_READ);
        for (size_t i = 0; ok && i < entries.size(); ++i) {
            const std::string dest = out + "\\" + std::to_string(i) + ".dat";
            ok = archive.ExtractFile(entries[i].name.c_str(), dest.c_str());
        }
    } else if (mode == "direct") {
        FileHandle archive(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        ok = archive.IsValid();
        for (size_t i = 0; ok && i < entries.size(); ++i)
            ok = InflateTo(archive.Get(), entries[i], out + "\\" + std::to_string(i) + ".dat");
    } else if (mode == "temponly") {
        for (size_t i = 0; ok && i < entries.size(); ++i) ok = TempRoundTrip(entries[i]);
    } else if (mode == "log" || mode == "profile" || mode == "folders") {
        const Text log = Text(out.c_str()) + "\\TrovixInstall.inf";
        for (size_t i = 0; i < entries.size(); ++i) {
            std::string name = entries[i].name;
            if (name.compare(0, 8, "[TROVIX]") == 0) name.erase(0, 8);
            const std::string dest = out + (name[0] == '\\' ? "" : "\\") + name;
            if (mode == "folders") {
                const size_t slash = dest.rfind('\\');
                CreateLoggedFolder(Text(dest.substr(0, slash).c_str()), "Trovix Dirs", log);
            } else if (mode == "log") {
                WriteLogEntry(log, "Trovix Files", Text(dest.c_str()), "");
            } else {
                WritePrivateProfileStringA("Trovix Files", dest.c_str(), "", log.c_str());
            }
        }
    } else {
        return 2;
    }
    const double ms = NowMs() - start;
    if (!ok) {
        std::fprintf(stderr, "extract_cost: %s failed\n", mode.c_str());
        return 1;
    }
    std::printf("%s: %zu entries, %.1f ms, %.3f ms/entry\n", mode.c_str(), entries.size(), ms,
                ms / double(entries.size()));
    return 0;
}
