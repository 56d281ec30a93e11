// QzfEntryIndex.h: what makes name look-ups and trailer totals cost O(1) per
// entry instead of a pass over the table. The exported class has no room for
// it, so the engine keeps it beside the objects, for kMaxIndexedObjects at a
// time; other objects (and small tables) scan as before, with the same
// results. Internal.
#pragma once

#include <cstdint>

class QorZipFile;
struct QorZipFileEntry;

namespace qzf_internal {

constexpr int kMaxIndexedObjects = 64;
constexpr uint32_t kIndexFromCount = 32;  // below this a scan is as quick

// The first of entries[0, count) whose name equals `name` ignoring ASCII case
// (entries without a name never match), or kNotFound. Entries appended since
// the last call are indexed on the way.
uint32_t FindEntryByName(const QorZipFile* owner, const QorZipFileEntry* entries, uint32_t count,
                         const char* name);

// The sum, modulo 2^32, of entries[0, count).uncompressedSize.
uint32_t SumOfSizes(const QorZipFile* owner, const QorZipFileEntry* entries, uint32_t count);

// Entries of owner's table were changed, moved or dropped (not just
// appended): both are worked out afresh on their next use.
void ForgetEntryIndex(const QorZipFile* owner);

// The object goes away (or a new one starts at its address).
void ReleaseEntryIndex(const QorZipFile* owner);

}  // namespace qzf_internal
