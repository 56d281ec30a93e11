// Per-object name hash and size total, in a fixed table of slots claimed with
// an atomic compare-exchange: no constructor runs for it, so it works in a
// program that loaded the setup as a library, and objects on different
// threads never share a slot.
#include "archive/QzfEntryIndex.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "archive/QorZipFile.h"
#include "archive/QzfInternal.h"

namespace qzf_internal {
namespace {

struct Slot {
    std::atomic<const QorZipFile*> owner;
    uint32_t* table;   // entry index + 1 per bucket, 0 when empty; open addressing
    uint32_t buckets;  // a power of two, at least twice the indexed count
    uint32_t indexed;  // entries [0, indexed) are in the table
    uint32_t summed;   // entries [0, summed) are in sum
    uint32_t sum;
    bool stale;  // the table no longer describes the entries
};
Slot g_slots[kMaxIndexedObjects];  // zero-initialised

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = Fold(*a), y = Fold(*b);
        if (x != y) return false;
        if (!x) return true;
    }
}

uint32_t HashNoCase(const char* s) {
    uint32_t h = 2166136261u;  // FNV-1a over the folded bytes
    for (; *s; ++s) h = (h ^ static_cast<uint8_t>(Fold(*s))) * 16777619u;
    return h;
}

Slot* FindSlot(const QorZipFile* owner) {
    for (Slot& s : g_slots)
        if (s.owner.load(std::memory_order_acquire) == owner) return &s;
    return nullptr;
}

Slot* ClaimSlot(const QorZipFile* owner) {
    if (Slot* s = FindSlot(owner)) return s;
    for (Slot& s : g_slots) {
        const QorZipFile* none = nullptr;
        if (s.owner.compare_exchange_strong(none, owner, std::memory_order_acq_rel)) {
            s.table = nullptr;
            s.buckets = s.indexed = s.summed = s.sum = 0;
            s.stale = false;
            return &s;
        }
    }
    return nullptr;
}

void Insert(uint32_t* table, uint32_t buckets, const QorZipFileEntry* entries, uint32_t i) {
    uint32_t b = HashNoCase(entries[i].name) & (buckets - 1);
    while (table[b]) b = (b + 1) & (buckets - 1);
    table[b] = i + 1;
}

// Brings the table up to entries [0, count); false when memory runs out.
// Entries go in in index order, so along a probe run an earlier entry comes
// first and a look-up's first match is the first such entry.
bool Update(Slot& s, const QorZipFileEntry* entries, uint32_t count) {
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
        if (entries[i].name && EqualsNoCase(entries[i].name, name)) return i;
    return kNotFound;
}

}  // namespace

uint32_t FindEntryByName(const QorZipFile* owner, const QorZipFileEntry* entries, uint32_t count,
                         const char* name) {
    if (count < kIndexFromCount) return Scan(entries, count, name);
    Slot* s = ClaimSlot(owner);
    if (!s || !Update(*s, entries, count)) {
        if (s) ReleaseEntryIndex(owner);  // out of memory: scan, and free what was held
        return Scan(entries, count, name);
    }
    for (uint32_t b = HashNoCase(name) & (s->buckets - 1); s->table[b];
         b = (b + 1) & (s->buckets - 1)) {
        const uint32_t i = s->table[b] - 1;
        if (EqualsNoCase(entries[i].name, name)) return i;
    }
    return kNotFound;
}

uint32_t SumOfSizes(const QorZipFile* owner, const QorZipFileEntry* entries, uint32_t count) {
    Slot* s = count < kIndexFromCount ? nullptr : ClaimSlot(owner);
    uint32_t sum = 0, from = 0;
    if (s && s->summed <= count) {
        sum = s->sum;
        from = s->summed;
    }
    for (uint32_t i = from; i < count; ++i) sum += entries[i].uncompressedSize;
    if (s) {
        s->sum = sum;
        s->summed = count;
    }
    return sum;
}

void ForgetEntryIndex(const QorZipFile* owner) {
    if (Slot* s = FindSlot(owner)) {
        s->stale = true;
        s->summed = s->sum = 0;
    }
}

void ReleaseEntryIndex(const QorZipFile* owner) {
    Slot* s = FindSlot(owner);
    if (!s) return;
    std::free(s->table);
    s->table = nullptr;
    s->buckets = s->indexed = s->summed = s->sum = 0;
    s->owner.store(nullptr, std::memory_order_release);
}

}  // namespace qzf_internal
