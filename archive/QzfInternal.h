// QzfInternal.h: constants and helpers the reading and the writing half of
// the engine (QorZipFile.cpp, QorZipFileWrite.cpp) share. Internal.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "archive/FileLayer.h"
#include "archive/QorZipFile.h"
#include "contract/ArchiveFormat.h"

struct QzfPieces;

namespace qzf_internal {

struct ObjectExtras;  // QzfObjectExtras.h

constexpr uint32_t kNotFound = 0xFFFFFFFFu;  // "no such entry" of the index look-ups
constexpr uint64_t kMaxPosition = qzf_format::kMaxArchivePosition;
constexpr uint32_t kCopyChunk = 16384;  // archive <-> temporary file, block moves

inline qfl::File AsFile(void* h) { return static_cast<qfl::File>(h); }

// Opens archive at path reading records only up to end (0: the end of the
// file), as a located archive of a signed setup must; the same as Open
// otherwise. The end stays for the object's own rereads after a change and
// goes with the next Open.
struct LocatedOpen {
    static bool Open(QorZipFile& archive, const char* path, QorZipFile::QZF_MODE mode,
                     uint64_t end);
};

// The engine's own way to the exported class's fields, for the parts that
// are not members: extraction with pieces decoded elsewhere, reading by index.
struct Access {
    // ExtractFile, with data from pieces when they carry it; with placed, only
    // a destination created new is written (QzfIndexed.h, ExtractNewFile).
    static bool ExtractFrom(QorZipFile& z, const char* name, const char* destination,
                            const QzfPieces* pieces, bool* placed);
    static bool Decompress(QorZipFile& z, uint32_t index, const char* destination,
                           uint32_t attributes, const QzfPieces* pieces, bool* placed);
    // AddFile; with chosen, the entry replaced is `replace` (kNotFound: none)
    // instead of the first whose name equals in any case.
    static bool Add(QorZipFile& z, const char* source, const char* name, bool chosen,
                    uint32_t replace);
    static const QorZipFileEntry* Entries(const QorZipFile& z) { return z.entries_; }
    static uint32_t Count(const QorZipFile& z) { return z.entryCount_; }
    static void* Handle(const QorZipFile& z) { return z.handle_; }
    static uint32_t TrailerPosition(const QorZipFile& z) { return z.trailerPosition_; }
    static uint32_t HeaderOffset(const QorZipFile& z) { return z.headerOffset_; }
    // The object's extras, with an empty entry table made to hold them when
    // it has none; null when memory runs out.
    static ObjectExtras* MakeExtras(QorZipFile& z);
};

// Owns a malloc'ed block; frees it on scope exit unless released.
class BufferOwner {
public:
    explicit BufferOwner(void* p) : p_(p) {}
    ~BufferOwner() { std::free(p_); }
    BufferOwner(const BufferOwner&) = delete;
    BufferOwner& operator=(const BufferOwner&) = delete;
    void* Get() const { return p_; }
    template <typename T>
    T* As() const {
        return static_cast<T*>(p_);
    }
    void* Release() {
        void* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    void* p_;
};

}  // namespace qzf_internal
