// QzfObjectExtras.cpp: the extras block before an object's entry table, and
// the name hash and size total kept in it.
#include "archive/QzfObjectExtras.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/QorZipFile.h"
#include "archive/QzfInternal.h"
#include "contract/AsciiCase.h"

namespace qzf_internal {
namespace {

// The entries start this far into the block, aligned as malloc aligns.
constexpr size_t kExtrasBytes = (sizeof(ObjectExtras) + alignof(std::max_align_t) - 1) /
                                alignof(std::max_align_t) * alignof(std::max_align_t);

uint32_t HashNoCase(const char* s) {
    uint32_t h = 2166136261u;  // FNV-1a over the folded bytes
    for (; *s; ++s) h = (h ^ static_cast<uint8_t>(qor_case::FoldAscii(*s))) * 16777619u;
    return h;
}

// Holds an index's lock for a scope. Look-ups of one object on several
// threads are rare and short, so a waiting thread spins.
class IndexLock {
public:
    explicit IndexLock(EntryIndex* index) : index_(index) {
        if (!index_) return;
        while (index_->busy.exchange(true, std::memory_order_acquire))
            while (index_->busy.load(std::memory_order_relaxed)) {
            }
    }
    ~IndexLock() {
        if (index_) index_->busy.store(false, std::memory_order_release);
    }
    IndexLock(const IndexLock&) = delete;
    IndexLock& operator=(const IndexLock&) = delete;

private:
    EntryIndex* index_;
};

void Insert(uint32_t* table, uint32_t buckets, const QorZipFileEntry* entries, uint32_t i) {
    uint32_t b = HashNoCase(entries[i].name) & (buckets - 1);
    while (table[b]) b = (b + 1) & (buckets - 1);
    table[b] = i + 1;
}

void DropTable(EntryIndex& s) {
    std::free(s.table);
    s.table = nullptr;
    s.buckets = s.indexed = 0;
}

// Brings the table up to entries [0, count); false when memory runs out.
// Entries go in in index order, so along a probe run an earlier entry comes
// first and a look-up's first match is the first such entry.
bool Update(EntryIndex& s, const QorZipFileEntry* entries, uint32_t count) {
    if (s.stale || s.indexed > count) {
        if (s.table) std::memset(s.table, 0, s.buckets * sizeof *s.table);
        s.indexed = 0;
        s.stale = false;
    }
    if (!s.table || 2ull * count > s.buckets) {  // keep the load at most a half
        uint64_t want = 64;
        while (want < 2ull * count) want *= 2;
        if (want > 0x80000000u || want > SIZE_MAX / sizeof(uint32_t)) return false;
        auto* table =
            static_cast<uint32_t*>(std::calloc(static_cast<size_t>(want), sizeof(uint32_t)));
        if (!table) return false;
        std::free(s.table);
        s.table = table;
        s.buckets = static_cast<uint32_t>(want);
        s.indexed = 0;
    }
    for (; s.indexed < count; ++s.indexed)
        if (entries[s.indexed].name) Insert(s.table, s.buckets, entries, s.indexed);
    return true;
}

uint32_t Scan(const QorZipFileEntry* entries, uint32_t count, const char* name) {
    for (uint32_t i = 0; i < count; ++i)
        if (entries[i].name && qor_case::EqualAscii(entries[i].name, name)) return i;
    return kNotFound;
}

}  // namespace

QorZipFileEntry* NewEntryTable(uint32_t capacity, QorZipFileEntry* old, uint32_t oldCapacity) {
    if (capacity > (SIZE_MAX - kExtrasBytes) / sizeof(QorZipFileEntry)) return nullptr;
    char* block = static_cast<char*>(
        std::calloc(1, kExtrasBytes + static_cast<size_t>(capacity) * sizeof(QorZipFileEntry)));
    if (!block) return nullptr;
    auto* extras = new (block) ObjectExtras();
    auto* entries = reinterpret_cast<QorZipFileEntry*>(block + kExtrasBytes);
    if (old) {
        // Growing is a change of the object: no look-up runs beside it.
        ObjectExtras* from = ExtrasOf(old);
        extras->archiveEnd = from->archiveEnd;
        extras->addLevel = from->addLevel;
        EntryIndex& a = extras->index;
        const EntryIndex& b = from->index;
        a.table = b.table;
        a.buckets = b.buckets;
        a.indexed = b.indexed;
        a.summed = b.summed;
        a.sum = b.sum;
        a.stale = b.stale;
        std::memcpy(static_cast<void*>(entries), old, oldCapacity * sizeof(QorZipFileEntry));
        from->~ObjectExtras();
        std::free(reinterpret_cast<char*>(old) - kExtrasBytes);
    }
    return entries;
}

void FreeEntryTable(QorZipFileEntry* entries) {
    ObjectExtras* extras = ExtrasOf(entries);
    if (!extras) return;
    std::free(extras->index.table);
    extras->~ObjectExtras();
    std::free(extras);
}

ObjectExtras* ExtrasOf(QorZipFileEntry* entries) {
    if (!entries) return nullptr;
    return reinterpret_cast<ObjectExtras*>(reinterpret_cast<char*>(entries) - kExtrasBytes);
}

uint32_t FindEntryByName(EntryIndex* index, const QorZipFileEntry* entries, uint32_t count,
                         const char* name) {
    if (!index || count < kIndexFromCount) return Scan(entries, count, name);
    IndexLock lock(index);
    if (!Update(*index, entries, count)) {
        DropTable(*index);  // out of memory: scan, and free what was held
        return Scan(entries, count, name);
    }
    for (uint32_t b = HashNoCase(name) & (index->buckets - 1); index->table[b];
         b = (b + 1) & (index->buckets - 1)) {
        const uint32_t i = index->table[b] - 1;
        if (qor_case::EqualAscii(entries[i].name, name)) return i;
    }
    return kNotFound;
}

uint32_t SumOfSizes(EntryIndex* index, const QorZipFileEntry* entries, uint32_t count) {
    if (count < kIndexFromCount) index = nullptr;
    IndexLock lock(index);
    uint32_t sum = 0, from = 0;
    if (index && index->summed <= count) {
        sum = index->sum;
        from = index->summed;
    }
    for (uint32_t i = from; i < count; ++i) sum += entries[i].uncompressedSize;
    if (index) {
        index->sum = sum;
        index->summed = count;
    }
    return sum;
}

void ForgetEntryIndex(EntryIndex* index) {
    if (!index) return;
    IndexLock lock(index);
    index->stale = true;
    index->summed = index->sum = 0;
}

}  // namespace qzf_internal
