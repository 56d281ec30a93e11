// QzfIndexed.cpp: reading by index, inflating into a sink, writing an archive
// without some of its entries, and the one gzip writer. Internal.
#include "archive/QzfIndexed.h"

#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "contract/ArchiveFormat.h"
#include "archive/QzfGunzip.h"
#include "archive/QzfInternal.h"
#include "archive/QzfObjectExtras.h"

using namespace qzf_format;
using namespace qzf_internal;

static_assert(kQzfPieceMore == qzf_gunzip::kMore && kQzfPieceEnd == qzf_gunzip::kEnd &&
                  kQzfPieceReadFailed == qzf_gunzip::kReadFailed &&
                  kQzfPieceBadData == qzf_gunzip::kBadData,
              "a piece carries the gunzip status");

// An object without a table gets an empty one: the extras live in its block.
ObjectExtras* Access::MakeExtras(QorZipFile& z) {
    if (!z.entries_) z.entries_ = NewEntryTable(0, nullptr, 0);
    return ExtrasOf(z.entries_);
}

namespace qzf_indexed {

namespace {

constexpr uint32_t kChunk = 65536;         // inflated bytes handed out at once; input read at once
constexpr uint32_t kCopyBlock = 1u << 20;  // bytes moved at once by WriteWithout

}  // namespace

uint32_t EntryCount(const QorZipFile& archive) { return Access::Count(archive); }

const QorZipFileEntry& Entry(const QorZipFile& archive, uint32_t index) {
    return Access::Entries(archive)[index];
}

qfl::File Handle(const QorZipFile& archive) { return AsFile(Access::Handle(archive)); }

uint32_t FirstEntryPosition(const QorZipFile& archive) {
    return Access::Count(archive) ? Access::Entries(archive)[0].recordPosition
                                  : Access::TrailerPosition(archive);
}

namespace {

// Hands the reader's pieces to sink until the last; notes as InflateEntry says.
bool Pump(qzf_gunzip::EntryReader& reader, uint8_t* buffer, QzfPieceSink sink, void* context,
          InflateNotes* notes) {
    for (;;) {
        uint32_t n = 0;
        const qzf_gunzip::Status status = reader.Fill(buffer, kChunk, &n);
        if (notes && status != qzf_gunzip::kMore) {
            notes->longer = reader.SizeFound() == qzf_gunzip::EntryReader::kLonger;
            notes->shorter = reader.SizeFound() == qzf_gunzip::EntryReader::kShorter;
            notes->produced = reader.Produced();
            notes->trailing = reader.Trailing();
        }
        if (!sink(context, status, buffer, n)) return false;
        if (status != qzf_gunzip::kMore) return true;
    }
}

}  // namespace

bool InflateEntry(const QorZipFile& archive, void* file, unsigned long index, void* work,
                  QzfPieceSink sink, void* context, InflateNotes* notes) {
    static_assert(kQzfInflateWorkSize == 2 * kChunk, "work buffer layout");
    if (index >= Access::Count(archive)) return false;
    const QorZipFileEntry& e = Access::Entries(archive)[index];
    if (!qfl::Seek(AsFile(file), e.dataPosition)) return sink(context, kQzfPieceNoSeek, nullptr, 0);
    uint8_t* const buffer = static_cast<uint8_t*>(work);
    qzf_gunzip::EntryReader reader(AsFile(file), e.compressedSize, e.uncompressedSize,
                                   buffer + kChunk, kChunk);
    if (!reader.Prime()) return sink(context, kQzfPieceNotRead, nullptr, 0);
    return Pump(reader, buffer, sink, context, notes);
}

bool InflateStored(const uint8_t* stored, uint32_t n, uint32_t recorded, void* work,
                   QzfPieceSink sink, void* context, InflateNotes* notes) {
    qzf_gunzip::EntryReader reader(stored, n, recorded);
    return Pump(reader, static_cast<uint8_t*>(work), sink, context, notes);
}

bool ExtractFileFrom(QorZipFile& archive, const char* name, const char* destination,
                     const QzfPieces* pieces) {
    return Access::ExtractFrom(archive, name, destination, pieces, nullptr);
}

bool ExtractNewFile(QorZipFile& archive, const char* name, const char* destination,
                    const QzfPieces* pieces, bool* placed) {
    return Access::ExtractFrom(archive, name, destination, pieces, placed);
}

bool AddFileReplacing(QorZipFile& archive, const char* source, const char* name, uint32_t replace) {
    static_assert(kQzfAddOnly == kNotFound, "no entry replaced");
    return Access::Add(archive, source, name, true, replace);
}

bool WriteWithout(const QorZipFile& archive, const bool* drop, qfl::File out, uint32_t* kept) {
    *kept = 0;
    const qfl::File in = Handle(archive);
    const char* path = archive.GetFileName();
    if (in == qfl::InvalidFile()) {
        qfl::NoteFailure("not open", path);
        return false;
    }
    qzf_internal::BufferOwner owner(std::malloc(kCopyBlock));
    uint8_t* const buffer = owner.As<uint8_t>();
    if (!buffer) {
        qfl::NoteFailure("cannot copy", path, "out of memory");
        return false;
    }
    // Copies [from, to) of the archive file to out, where out stands.
    auto copy = [&](uint64_t from, uint64_t to) {
        if (from < to && !qfl::Seek(in, from)) {
            qfl::NoteFailure("cannot read", path);
            return false;
        }
        for (uint64_t left = to - from; left > 0;) {
            const uint32_t n = left < kCopyBlock ? static_cast<uint32_t>(left) : kCopyBlock;
            uint32_t got = 0, put = 0;
            if (!qfl::Read(in, buffer, n, &got) || got != n) {
                qfl::NoteFailure("cannot read", path, got != n ? "the file ends early" : nullptr);
                return false;
            }
            if (!qfl::Write(out, buffer, n, &put) || put != n) {
                qfl::NoteFailure("cannot write the copy of", path);
                return false;
            }
            left -= n;
        }
        return true;
    };
    // Runs of kept entries that lie next to each other go in one copy.
    const uint32_t count = Access::Count(archive);
    const QorZipFileEntry* entries = Access::Entries(archive);
    uint64_t runFrom = 0, runTo = FirstEntryPosition(archive), end = runTo;
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (drop[i]) continue;
        const QorZipFileEntry& e = entries[i];
        const uint64_t to = static_cast<uint64_t>(e.dataPosition) + e.compressedSize;
        if (runTo != e.recordPosition) {
            if (!copy(runFrom, runTo)) return false;
            runFrom = e.recordPosition;
        }
        runTo = to;
        end += to - e.recordPosition;
        ++*kept;
        total += e.uncompressedSize;
    }
    if (!copy(runFrom, runTo)) return false;
    uint8_t trailer[kTrailerLength];
    BuildTrailer(trailer, *kept, total,
                 static_cast<uint32_t>(end - Access::HeaderOffset(archive) + kTrailerLength));
    uint32_t put = 0;
    if (!qfl::Write(out, trailer, sizeof trailer, &put) || put != sizeof trailer) {
        qfl::NoteFailure("cannot write the copy of", path);
        return false;
    }
    return true;
}

GzipStatus GzipFile(qfl::File source, void* work, int level, GzipPut put, void* context,
                    uint64_t* size) {
    static_assert(kGzipWorkSize == 2 * kChunk, "work buffer layout");
    *size = 0;
    uint8_t* const input = static_cast<uint8_t*>(work);
    uint8_t* const output = input + kChunk;
    if (level < 1 || level > 9) level = kEngineLevel;
    // The header is written here rather than by zlib, which would mark levels
    // 1 and 9 in its extra-flags byte: every entry starts with kGzipHeader.
    struct Deflater {
        z_stream s;
        bool live = false;
        ~Deflater() {
            if (live) deflateEnd(&s);
        }
    } z;
    std::memset(&z.s, 0, sizeof z.s);
    z.live = deflateInit2(&z.s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (!z.live) return kGzipFailed;
    if (!put(context, kGzipHeader, sizeof kGzipHeader)) return kGzipRefused;
    uLong crc = crc32(0, nullptr, 0);
    for (bool end = false; !end;) {
        uint32_t got = 0;
        if (!qfl::Read(source, input, kChunk, &got)) return kGzipReadFailed;
        *size += got;
        if (*size > 0xFFFFFFFFu) return kGzipTooLarge;  // the 32-bit size field cannot hold it
        end = got == 0;
        crc = crc32(crc, input, got);
        z.s.next_in = input;
        z.s.avail_in = got;
        do {
            z.s.next_out = output;
            z.s.avail_out = kChunk;
            if (deflate(&z.s, end ? Z_FINISH : Z_NO_FLUSH) == Z_STREAM_ERROR) return kGzipFailed;
            const uint32_t have = kChunk - z.s.avail_out;
            if (have && !put(context, output, have)) return kGzipRefused;
        } while (z.s.avail_out == 0);
    }
    uint8_t trailer[8];
    Put32(trailer, static_cast<uint32_t>(crc));
    Put32(trailer + 4, static_cast<uint32_t>(*size));
    return put(context, trailer, sizeof trailer) ? kGzipOk : kGzipRefused;
}

bool SetAddLevel(QorZipFile& archive, int level) {
    ObjectExtras* extras = Access::MakeExtras(archive);
    if (!extras) return false;
    extras->addLevel = level >= 1 && level <= 9 ? level : kEngineLevel;
    return true;
}

int AddLevel(const QorZipFile& archive) {
    const int level = AddLevelOf(const_cast<QorZipFileEntry*>(Access::Entries(archive)));
    return level ? level : kEngineLevel;
}

}  // namespace qzf_indexed
