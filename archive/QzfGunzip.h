// QzfGunzip.h: reads an entry's stored bytes straight from the open archive
// and hands out the file's content (internal to the engine).
//
// The stored bytes are read the way zlib's gzip file reader reads a file:
//   - data that does not begin with the gzip magic (1F 8B) is copied as it is,
//     an empty entry giving an empty file;
//   - gzip members that follow one another are joined;
//   - after the last member, bytes that do not begin another member are
//     ignored; bytes that do begin one must be a whole member;
//   - a stream cut short, a bad check value or length, or bad deflate data is
//     damaged data;
//   - content that is longer or shorter than the entry's recorded size is
//     damaged data too: the gzip length and the recorded size only agree
//     modulo 2^32, so decoding stops one byte past the recorded size rather
//     than writing whatever a crafted entry inflates to.
// Reading never goes past the entry's compressed size, and memory stays at the
// two caller-owned buffers plus one inflate state, whatever the entry's size.
#pragma once

#include <cstdint>
#include <zlib.h>

#include "archive/FileLayer.h"

namespace qzf_gunzip {

enum Status {
    kMore = 0,        // output produced; call Fill again
    kEnd = 1,         // all of the content has been handed out
    kReadFailed = 2,  // the archive could not be read (or ended early)
    kBadData = 3,     // damaged or cut-off data, or no memory for inflating
};

class EntryReader {
public:
    // Reads compressed bytes of the archive f from its current position, with
    // input buffer in (inCapacity bytes, at least 2), for an entry recorded
    // as `recorded` bytes of content. Nothing is read yet.
    EntryReader(qfl::File f, uint32_t compressed, uint32_t recorded, uint8_t* in,
                uint32_t inCapacity);
    // Reads the n compressed bytes at stored, already in memory (they must
    // stay there while the reader is used); nothing is read from a file.
    EntryReader(const uint8_t* stored, uint32_t n, uint32_t recorded);
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // Reads the first block of input, so a failing archive shows before the
    // caller touches its destination. False on a read failure.
    bool Prime();

    // Fills out with up to capacity bytes of content; *produced receives the
    // count. kMore and kEnd hand out *produced bytes; after kReadFailed or
    // kBadData the bytes of this call are not to be used (the file reader
    // drops them too), except that a stream cut short first hands out what it
    // decoded with kMore and then answers kBadData.
    // Content that does not match the recorded size ends in kBadData: one
    // byte past it (that byte is not to be used either), or at its end.
    Status Fill(uint8_t* out, uint32_t capacity, uint32_t* produced);

    // What the size check found once Fill answered kBadData for it.
    enum Size { kSizeAgrees, kLonger, kShorter };
    Size SizeFound() const { return size_; }
    // Content bytes handed out so far (with the one past the recorded size).
    uint64_t Produced() const { return given_; }
    // Bytes after the last gzip member, ignored as the file reader ignores
    // them (known once Fill has answered kEnd).
    uint32_t Trailing() const { return trailing_; }

private:
    enum How { kLook, kCopy, kGzip };
    bool Load();  // keeps unused input, reads more; false on a read failure
    Status Decode(uint8_t* out, uint32_t capacity, uint32_t* produced);

    qfl::File f_;
    uint32_t left_;  // compressed bytes not yet read from the archive
    uint8_t* in_;
    uint32_t inCapacity_;
    z_stream strm_;
    bool inflating_ = false;  // strm_ initialised
    bool direct_ = true;      // no gzip member seen yet: plain data is copied
    bool cutShort_ = false;   // the last member ended with the input
    How how_ = kLook;
    uint32_t recorded_;   // the entry's recorded size
    uint64_t given_ = 0;  // content bytes handed out
    Size size_ = kSizeAgrees;
    uint32_t trailing_ = 0;
};

}  // namespace qzf_gunzip
