// Reading entry data by index: where each entry's gzip data lies, and its
// inflation with the checks the gzip stream carries (CRC-32 and length). The
// engine finds entries by name; the tool works on indexes, so that entries
// whose names differ only by case (or not at all) each give their own data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qorpack {

struct EntryExtent {
    std::string name;
    uint64_t dataPosition = 0;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    uint64_t fileTime = 0;  // FILETIME ticks
    uint32_t attributes = 0;
};

// Walks the records of the archive starting at `offset` in `f`, as the
// engine's reader does, and lists the entries in directory order. False with
// a message when the records do not hold together.
bool ReadEntryExtents(FILE* f, uint64_t offset, std::vector<EntryExtent>* entries,
                      std::string* error);

// Receives inflated bytes; false stops the inflation (the sink keeps its reason).
typedef bool (*InflateSink)(void* context, const unsigned char* data, size_t n);

enum class InflateResult {
    kOk,
    kReadFailed,  // the archive cannot be read
    kCorrupt,     // not a gzip stream, damaged, cut short, or a CRC mismatch
    kWrongSize,   // inflates to another size than the entry records
    kSinkFailed,  // the sink refused the data
};

// Inflates the entry's data into sink. `detail` says what was wrong.
InflateResult InflateEntry(FILE* f, const EntryExtent& e, InflateSink sink, void* context,
                           std::string* detail);

}  // namespace qorpack
