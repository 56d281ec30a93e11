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
    uint64_t recordPosition = 0;
    uint64_t dataPosition = 0;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    uint64_t fileTime = 0;  // FILETIME ticks
    uint32_t attributes = 0;
};

// Reads at positions of an open file through one large buffer, so that many
// small records or entries cost a few reads, not a seek and a read each.
class PositionedReader {
public:
    explicit PositionedReader(FILE* f);
    // Copies n bytes at pos; false when the file ends before them or fails.
    bool Read(uint64_t pos, void* out, size_t n);

private:
    static constexpr size_t kCapacity = 1 << 18;
    FILE* f_;
    std::vector<unsigned char> buffer_;
    uint64_t start_ = 0;
    size_t length_ = 0;
};

// Walks the records of the archive from `offset` to `end` in `f` (0: to the
// end of the file; a signed setup's certificate table follows its archive),
// as the engine's reader does, and lists the entries in directory order.
// False with a message when the records do not hold together.
bool ReadEntryExtents(FILE* f, uint64_t offset, uint64_t end, std::vector<EntryExtent>* entries,
                      std::string* error);

// Writes to `out` (created or emptied) the file `in` holds, with the entries
// marked in `drop` left out: everything before the first entry, the kept
// entries in order, and a new trailer. The bytes are those the engine's
// compaction gives (records of other types between entries go too), written
// in one pass instead of moving every later entry down in place.
bool WriteWithout(FILE* in, uint64_t offset, const std::vector<EntryExtent>& entries,
                  const std::vector<bool>& drop, const std::string& out, std::string* error);

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
InflateResult InflateEntry(PositionedReader& reader, const EntryExtent& e, InflateSink sink,
                           void* context, std::string* detail);

}  // namespace qorpack
