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
//     damaged data.
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
    // input buffer in (inCapacity bytes, at least 2). Nothing is read yet.
    EntryReader(qfl::File f, uint32_t compressed, uint8_t* in, uint32_t inCapacity);
    // Reads the n compressed bytes at stored, already in memory (they must
    // stay there while the reader is used); nothing is read from a file.
    EntryReader(const uint8_t* stored, uint32_t n);
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
    Status Fill(uint8_t* out, uint32_t capacity, uint32_t* produced);

private:
    enum How { kLook, kCopy, kGzip };
    bool Load();  // keeps unused input, reads more; false on a read failure

    qfl::File f_;
    uint32_t left_;  // compressed bytes not yet read from the archive
    uint8_t* in_;
    uint32_t inCapacity_;
    z_stream strm_;
    bool inflating_ = false;  // strm_ initialised
    bool direct_ = true;      // no gzip member seen yet: plain data is copied
    bool cutShort_ = false;   // the last member ended with the input
    How how_ = kLook;
};

}  // namespace qzf_gunzip
