// QzfObjectExtras.h: what an object keeps beyond the exported class's fields
// (whose size and layout are part of the exported interface). The extras sit
// at the start of the entry table's own block, just before entry 0, so they
// are allocated with the table, move with it when it grows and are freed with
// it by the destructor: no table beside the objects, nothing keyed by an
// object's address. An object without a table has no extras and needs none.
// Internal.
#pragma once

#include <atomic>
#include <cstdint>

struct QorZipFileEntry;

namespace qzf_internal {

constexpr uint32_t kIndexFromCount = 32;  // below this a name scan is as quick

// Name hash and size total of the entries, worked out on use. A name look-up
// may run on several threads for one object at once (nothing else may run
// beside it), so the update is done under `busy`.
struct EntryIndex {
    uint32_t* table;   // entry index + 1 per bucket, 0 when empty; open addressing
    uint32_t buckets;  // a power of two, at least twice the indexed count
    uint32_t indexed;  // entries [0, indexed) are in the table
    uint32_t summed;   // entries [0, summed) are in sum
    uint32_t sum;
    bool stale;  // the table no longer describes the entries
    std::atomic<bool> busy;
};

struct ObjectExtras {
    // Where the archive ends when something other than records follows it (a
    // signed setup's certificate table); 0 for the end of the file.
    uint64_t archiveEnd;
    EntryIndex index;
    // The zlib level AddFile compresses with; 0 for the engine's own. Only an
    // internal caller (a packaging tool) sets it.
    int addLevel;
};

// A table block with room for capacity entries (zeroed) after the extras,
// which are taken over from old (whose entries [0, oldCapacity) are copied
// and whose block is freed) or start empty when old is null. Null when memory
// runs out; old is then left as it was.
QorZipFileEntry* NewEntryTable(uint32_t capacity, QorZipFileEntry* old, uint32_t oldCapacity);
// Frees a block from NewEntryTable (null is fine) with its extras.
void FreeEntryTable(QorZipFileEntry* entries);
// The extras of a block from NewEntryTable; null for null.
ObjectExtras* ExtrasOf(QorZipFileEntry* entries);

// The first of entries[0, count) whose name equals `name` ignoring ASCII case
// (entries without a name never match), or kNotFound. Entries appended since
// the last call are indexed on the way; index may be null (a scan).
uint32_t FindEntryByName(EntryIndex* index, const QorZipFileEntry* entries, uint32_t count,
                         const char* name);

// The sum, modulo 2^32, of entries[0, count).uncompressedSize.
uint32_t SumOfSizes(EntryIndex* index, const QorZipFileEntry* entries, uint32_t count);

// Entries were changed, moved or dropped (not just appended): both are
// worked out afresh on their next use. Null is fine.
void ForgetEntryIndex(EntryIndex* index);

inline int AddLevelOf(QorZipFileEntry* entries) {
    ObjectExtras* x = ExtrasOf(entries);
    return x ? x->addLevel : 0;
}

inline EntryIndex* IndexOf(QorZipFileEntry* entries) {
    ObjectExtras* x = ExtrasOf(entries);
    return x ? &x->index : nullptr;
}

}  // namespace qzf_internal
