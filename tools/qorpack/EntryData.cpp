#include "EntryData.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "FileOps.h"
#include "archive/ArchiveFormat.h"

using namespace qzf_format;

namespace qorpack {

bool ReadEntryExtents(FILE* f, uint64_t offset, std::vector<EntryExtent>* entries,
                      std::string* error) {
    entries->clear();
    uint64_t size = 0;
    if (!GetOpenFileSize(f, &size)) {
        *error = "cannot read the archive: " + LastErrorText();
        return false;
    }
    uint64_t pos = offset;
    std::vector<char> name;
    while (pos < size) {
        uint8_t head[kEntryFixedLength];
        if (!SeekTo(f, pos) || fread(head, 1, kHeadLength, f) != kHeadLength) {
            *error = "the archive ends inside a record";
            return false;
        }
        uint32_t length = Get32(head + kHeadOffLength);
        uint8_t type = head[kHeadOffType];
        if (type == kTypeInvalid || length < kHeadLength || pos + length > size) {
            *error = "the archive holds a damaged record";
            return false;
        }
        if (type != kTypeEntry) {
            pos += length;
            continue;
        }
        if (length < kEntryMinLength || length - kEntryFixedLength > kMaxNameBytes ||
            fread(head + kHeadLength, 1, kEntryFixedLength - kHeadLength, f) !=
                kEntryFixedLength - kHeadLength) {
            *error = "the archive holds a damaged entry record";
            return false;
        }
        name.resize(length - kEntryFixedLength);
        if (fread(name.data(), 1, name.size(), f) != name.size() || name.back() != 0) {
            *error = "the archive holds a damaged entry name";
            return false;
        }
        EntryExtent e;
        e.name = name.data();
        e.compressed = Get32(head + kEntryOffCompressed);
        e.uncompressed = Get32(head + kEntryOffUncompressed);
        e.fileTime = (static_cast<uint64_t>(Get32(head + kEntryOffTimeHigh)) << 32) |
                     Get32(head + kEntryOffTimeLow);
        e.attributes = Get32(head + kEntryOffAttributes);
        e.dataPosition = pos + length;
        if (e.dataPosition + e.compressed > size) {
            *error = "the data of entry '" + e.name + "' runs past the end of the file";
            return false;
        }
        pos = e.dataPosition + e.compressed;
        entries->push_back(std::move(e));
    }
    return true;
}

InflateResult InflateEntry(FILE* f, const EntryExtent& e, InflateSink sink, void* context,
                           std::string* detail) {
    constexpr size_t kChunk = 1 << 16;
    std::unique_ptr<unsigned char[]> in(new unsigned char[kChunk]);
    std::unique_ptr<unsigned char[]> out(new unsigned char[kChunk]);
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        *detail = "out of memory";
        return InflateResult::kCorrupt;
    }
    struct Ender {
        z_stream* z;
        ~Ender() { inflateEnd(z); }
    } ender{&z};
    if (!SeekTo(f, e.dataPosition)) {
        *detail = "cannot read the archive: " + LastErrorText();
        return InflateResult::kReadFailed;
    }
    uint32_t left = e.compressed;
    uint64_t total = 0;
    bool ended = false;
    while (!ended) {
        if (z.avail_in == 0) {
            if (left == 0) {
                *detail = "the data is cut short";
                return InflateResult::kCorrupt;
            }
            size_t want = left < kChunk ? left : kChunk;
            size_t got = fread(in.get(), 1, want, f);
            if (got != want) {
                *detail = "cannot read the archive";
                return InflateResult::kReadFailed;
            }
            left -= static_cast<uint32_t>(got);
            z.next_in = in.get();
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = out.get();
        z.avail_out = kChunk;
        int rc = inflate(&z, Z_NO_FLUSH);
        size_t produced = kChunk - z.avail_out;
        if (produced) {
            total += produced;
            if (!sink(context, out.get(), produced)) return InflateResult::kSinkFailed;
        }
        if (rc == Z_STREAM_END) {
            // Another gzip member may follow, as gzip itself allows.
            if (z.avail_in == 0 && left > 0) {
                size_t got = fread(in.get(), 1, 1, f);
                if (got != 1) {
                    *detail = "cannot read the archive";
                    return InflateResult::kReadFailed;
                }
                left -= 1;
                z.next_in = in.get();
                z.avail_in = 1;
            }
            if (z.avail_in > 0 && z.next_in[0] == 0x1F) {
                inflateReset(&z);
                continue;
            }
            ended = true;
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            *detail =
                std::string("the data is damaged (") + (z.msg ? z.msg : "inflate error") + ")";
            return InflateResult::kCorrupt;
        }
    }
    if (static_cast<uint32_t>(total) != e.uncompressed) {
        *detail = "the data inflates to " + std::to_string(total) + " bytes, not the " +
                  std::to_string(e.uncompressed) + " the entry records";
        return InflateResult::kWrongSize;
    }
    return InflateResult::kOk;
}

}  // namespace qorpack
