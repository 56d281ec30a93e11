#include "EntryData.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "FileOps.h"
#include "contract/ArchiveFormat.h"

using namespace qzf_format;

namespace qorpack {

PositionedReader::PositionedReader(FILE* f) : f_(f), buffer_(kCapacity) {}

bool PositionedReader::Read(uint64_t pos, void* out, size_t n) {
    if (n > kCapacity) return SeekTo(f_, pos) && fread(out, 1, n, f_) == n;
    if (pos < start_ || pos + n > start_ + length_) {
        if (!SeekTo(f_, pos)) return false;
        start_ = pos;
        length_ = fread(buffer_.data(), 1, kCapacity, f_);
        if (n > length_) return false;
    }
    memcpy(out, buffer_.data() + (pos - start_), n);
    return true;
}

bool ReadEntryExtents(FILE* f, uint64_t offset, uint64_t end, std::vector<EntryExtent>* entries,
                      std::string* error) {
    entries->clear();
    uint64_t size = 0;
    if (!GetOpenFileSize(f, &size)) {
        *error = "cannot read the archive: " + LastErrorText();
        return false;
    }
    if (end != 0 && end < size) size = end;
    PositionedReader in(f);
    uint64_t pos = offset;
    std::vector<char> name;
    while (pos < size) {
        uint8_t head[kEntryFixedLength];
        if (!in.Read(pos, head, kHeadLength)) {
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
            !in.Read(pos + kHeadLength, head + kHeadLength, kEntryFixedLength - kHeadLength)) {
            *error = "the archive holds a damaged entry record";
            return false;
        }
        name.resize(length - kEntryFixedLength);
        if (!in.Read(pos + kEntryFixedLength, name.data(), name.size()) || name.back() != 0) {
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
        e.recordPosition = pos;
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

bool WriteWithout(FILE* in, uint64_t offset, const std::vector<EntryExtent>& entries,
                  const std::vector<bool>& drop, const std::string& out, std::string* error) {
    FilePtr o = OpenFile(out.c_str(), "wb");
    if (!o) {
        *error = "cannot create '" + out + "': " + LastErrorText();
        return false;
    }
    // Byte ranges to keep, neighbours merged: one large copy per run of kept entries.
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    uint64_t end = entries.empty() ? 0 : entries[0].recordPosition;
    ranges.push_back({0, end});
    uint32_t count = 0, total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (drop[i]) continue;
        const EntryExtent& e = entries[i];
        uint64_t to = e.dataPosition + e.compressed;
        if (ranges.back().second == e.recordPosition)
            ranges.back().second = to;
        else
            ranges.push_back({e.recordPosition, to});
        end += to - e.recordPosition;
        ++count;
        total += e.uncompressed;
    }
    std::vector<char> buffer(1 << 20);
    for (const auto& r : ranges) {
        if (!SeekTo(in, r.first)) {
            *error = "cannot read the archive: " + LastErrorText();
            return false;
        }
        for (uint64_t left = r.second - r.first; left > 0;) {
            size_t n = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
            if (fread(buffer.data(), 1, n, in) != n) {
                *error = "cannot read the archive";
                return false;
            }
            if (fwrite(buffer.data(), 1, n, o.get()) != n) {
                *error = "cannot write '" + out + "': " + LastErrorText();
                return false;
            }
            left -= n;
        }
    }
    uint8_t trailer[kTrailerLength];
    BuildTrailer(trailer, count, total, static_cast<uint32_t>(end - offset + kTrailerLength));
    if (fwrite(trailer, 1, sizeof trailer, o.get()) != sizeof trailer || fclose(o.release()) != 0) {
        *error = "cannot write '" + out + "': " + LastErrorText();
        return false;
    }
    return true;
}

InflateResult InflateEntry(PositionedReader& reader, const EntryExtent& e, InflateSink sink,
                           void* context, std::string* detail) {
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
    uint64_t pos = e.dataPosition;
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
            if (!reader.Read(pos, in.get(), want)) {
                *detail = "cannot read the archive";
                return InflateResult::kReadFailed;
            }
            pos += want;
            size_t got = want;
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
                if (!reader.Read(pos, in.get(), 1)) {
                    *detail = "cannot read the archive";
                    return InflateResult::kReadFailed;
                }
                pos += 1;
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
