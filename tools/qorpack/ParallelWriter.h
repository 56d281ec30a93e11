// Writing a whole archive with the entries compressed on several threads.
//
// The bytes are those the engine writes when the same files are added one by
// one in the same order: the same records, the same time stamps and
// attributes (read through the engine's file layer, after compressing, as the
// engine does), the same gzip data (the engine's own gzip writer at the
// level the engine object was given, qzf_indexed::SetAddLevel) and as the
// size the bytes that were read and compressed, whatever the file held when
// it was opened. Only the order of
// the work differs: small files are compressed in memory ahead of the writer,
// one per worker thread; files above a few MB are compressed by the writer
// itself straight into the output, so memory stays bounded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileOps.h"

namespace qorpack {

struct PackItem {
    std::string source;      // file to compress
    std::string storedName;  // name written to the archive, verbatim
};

struct PackResult {
    bool ok = false;
    std::string error;             // what failed, naming the source
    size_t failedItem = SIZE_MAX;  // index of the item that failed, if one did
    uint64_t archiveLength = 0;    // bytes written from the header record to the trailer's end
};

// Appends an archive of `items` at the end of the file `path` (its current
// size becomes the header offset; 0 for a new archive file). `jobs` is the
// number of compressing threads besides the writer (0: everything on the
// calling thread). `level` is the zlib level (1..9) every entry is compressed
// with. Refuses sources of 4 GiB or more and archives that would
// pass 32-bit positions. On failure the file holds a partial archive: callers
// write to a temporary file (TempOutput) and drop it.
PackResult WriteArchiveParallel(const std::string& path, const std::vector<PackItem>& items,
                                int jobs, int level, ProgressLine* progress);

}  // namespace qorpack
