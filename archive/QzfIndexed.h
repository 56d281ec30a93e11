// QzfIndexed.h: the engine read and written by entry index, for the programs
// built with it (the setup's read-ahead, the packaging tool). Internal: none
// of it is exported, and the exported class stays as it is.
//
// The exported class finds entries by name; these functions work on indexes,
// so entries whose names differ only by case (or not at all) each keep their
// own data. Everything here reads the archive exactly as ExtractFile does:
// what the setup installs and what a tool checks are the same code.
#pragma once

#include <cstdint>

#include "archive/FileLayer.h"
#include "archive/QorZipFile.h"

// Inflated entry data handed over by someone else (the setup's read-ahead
// thread), so that an extraction need not decode the archive itself. A piece
// carries one qzf_gunzip::Status (kQzfPieceNotRead/kQzfPieceNoSeek instead of
// the first when the entry's first block could not be read or sought) and the
// bytes that status hands out.
constexpr int kQzfPieceMore = 0;        // bytes of the entry; more follow
constexpr int kQzfPieceEnd = 1;         // the last bytes of the entry (maybe none)
constexpr int kQzfPieceReadFailed = 2;  // the archive could not be read (or ended early)
constexpr int kQzfPieceBadData = 3;     // damaged or cut-off data
constexpr int kQzfPieceNotRead = 4;
constexpr int kQzfPieceNoSeek = 5;
constexpr int kQzfPieceGivenUp = 6;  // the giver stopped (no memory): nothing more comes
typedef bool (*QzfPieceSink)(void* context, int status, const uint8_t* data, uint32_t n);
struct QzfPieces {
    void* context;
    // Makes entry `index` the one `next` hands out; false when its pieces are
    // not coming (the extraction then decodes the archive itself).
    bool (*begin)(void* context, uint32_t index);
    // The entry's next piece; *data stays valid until the next call.
    int (*next)(void* context, const uint8_t** data, uint32_t* n);
};

namespace qzf_indexed {

// ---- entries by index ----
// The number of entries of the directory in memory.
uint32_t EntryCount(const QorZipFile& archive);
// Entry index (below EntryCount) with its extents: record and data positions,
// stored and inflated sizes, time, attributes and name (never null).
const QorZipFileEntry& Entry(const QorZipFile& archive, uint32_t index);
// The archive's own read handle (the file layer's); InvalidFile when closed.
qfl::File Handle(const QorZipFile& archive);
// Where the first entry record lies (the trailer's place when there is none):
// everything before it belongs to the archive's head or its host file.
uint32_t FirstEntryPosition(const QorZipFile& archive);

// ---- inflating ----
// What decoding an entry found besides the status of its last piece, for a
// checker's messages. Data longer or shorter than the entry's recorded size
// ends in kQzfPieceBadData (decoding stops one byte past the recorded size);
// bytes after the last gzip member are ignored, as the setup ignores them,
// and only counted here.
struct InflateNotes {
    bool longer = false;    // more content than the recorded size
    bool shorter = false;   // the content ended before the recorded size
    uint64_t produced = 0;  // content bytes decoded (one past the recorded size when longer)
    uint32_t trailing = 0;  // bytes after the last gzip member
};
// Decodes entry index through `file`, a read handle on the archive (the
// caller's own, or Handle(archive) on the thread that owns the object),
// handing sink every piece ExtractFile would write, the last with its final
// status (kQzfPieceEnd, or a failure). Uses nothing of the object but its
// entry table, so another thread may run it while this one extracts. False
// when sink refused a piece or the index was out of range.
// work is the caller's kQzfInflateWorkSize bytes, reused from entry to entry;
// notes, when given, receives what the decoding found.
constexpr uint32_t kQzfInflateWorkSize = 2 * 65536;
bool InflateEntry(const QorZipFile& archive, void* file, unsigned long index, void* work,
                  QzfPieceSink sink, void* context, InflateNotes* notes = nullptr);
// InflateEntry for stored bytes the caller has read already (the n bytes
// of an entry's data, e.g. from one large read over many small entries,
// recorded as `recorded` bytes of content): the same pieces, without reading
// the archive. work and notes as for InflateEntry.
bool InflateStored(const uint8_t* stored, uint32_t n, uint32_t recorded, void* work,
                   QzfPieceSink sink, void* context, InflateNotes* notes = nullptr);
// archive.ExtractFile, with the entry's data taken from pieces when they carry
// it: the same files, attributes, times, last errors and causes.
bool ExtractFileFrom(QorZipFile& archive, const char* name, const char* destination,
                     const QzfPieces* pieces);
// ExtractFileFrom for a destination that can be created new, and only then:
// *placed says whether it was (the result and last error then are those of
// ExtractFileFrom). When it was not, nothing was written, nothing of pieces
// taken, and the caller goes on with its own steps for an existing file or
// a missing folder.
bool ExtractNewFile(QorZipFile& archive, const char* name, const char* destination,
                    const QzfPieces* pieces, bool* placed);

// ---- adding ----
// archive.AddFile(source, name) with the entry it replaces chosen by the
// caller: entry `replace` (below EntryCount), or none with kQzfAddOnly.
// AddFile itself replaces the first entry whose name equals name in any
// case, which is the wrong one when names differing only by case are there
// already. The same results, last errors and causes as AddFile; an index out
// of range fails with QZF_ERR_BAD_INDEX and changes nothing.
constexpr uint32_t kQzfAddOnly = 0xFFFFFFFFu;
bool AddFileReplacing(QorZipFile& archive, const char* source, const char* name, uint32_t replace);

// ---- removal ----
// Writes to `out` (open for writing, empty) the archive with the entries
// whose drop[i] is set left out: everything before the first entry, the kept
// entries in order and a new trailer. The bytes are those RemoveFiles gives
// (records of other types between entries go too), written in one pass
// instead of moving every later entry down in place. *kept receives the
// number of entries left. False with the cause kept by the file layer
// (DescribeFailure) when the archive cannot be read or out written.
bool WriteWithout(const QorZipFile& archive, const bool* drop, qfl::File out, uint32_t* kept);

// ---- the gzip writer ----
// Compresses what `source` holds from its position on into one gzip member:
// the header kGzipHeader, one raw deflate stream (32 KiB window, memory level
// 8, default strategy) at zlib level `level` (1..9; anything else is the
// engine's own 6), the CRC-32 and size. zlib may end any block as stored
// data, so incompressible input grows by a few bytes per 64 KiB only. put
// receives the bytes in order; *size the source bytes read. work is the
// caller's kGzipWorkSize bytes.
constexpr uint32_t kGzipWorkSize = 2 * 65536;
constexpr int kEngineLevel = 6;  // what AddFile compresses with unless told otherwise
enum GzipStatus {
    kGzipOk = 0,
    kGzipReadFailed = 1,  // the source could not be read
    kGzipTooLarge = 2,    // the source holds 4 GiB or more
    kGzipFailed = 3,      // zlib refused (no memory)
    kGzipRefused = 4,     // put returned false (it keeps its reason)
};
typedef bool (*GzipPut)(void* context, const uint8_t* data, uint32_t n);
GzipStatus GzipFile(qfl::File source, void* work, int level, GzipPut put, void* context,
                    uint64_t* size);

// The zlib level the object's AddFile, AddFiles and Save compress with from
// now on (1..9; anything else: kEngineLevel), kept through Close and Open for
// the object's life. A packaging tool picks its own level here; the exported
// calls never change it. False when memory runs out (nothing changes).
bool SetAddLevel(QorZipFile& archive, int level);
// The level AddFile uses on this object.
int AddLevel(const QorZipFile& archive);

}  // namespace qzf_indexed

// The setup's read-ahead calls these by the name they had when they were its own.
namespace qzf_readahead = qzf_indexed;
