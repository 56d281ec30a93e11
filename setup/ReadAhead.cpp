#include "setup/ReadAhead.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "archive/FileLayer.h"

namespace {

constexpr uint32_t kPiecesPerLane = kReadAheadBudget / kReadAheadPieceSize / kReadAheadLanes;
// A run waiting inside an entry is woken when this many pieces are queued
// (or the entry ends): each wake is a trip through the system, and one per
// piece of a large entry cost more than writing it.
constexpr uint32_t kWakeAfterPieces = 8;
static_assert(kWakeAfterPieces < kPiecesPerLane, "a lane out of pieces has woken the run");
static_assert(kReadAheadSmallPiece < kReadAheadPieceSize, "a small block is smaller");

}  // namespace

ReadAhead::ReadAhead() {
    InitializeCriticalSection(&lock_);
    pieces_.context = this;
    pieces_.begin = Begin;
    pieces_.next = Next;
}

ReadAhead::~ReadAhead() {
    Stop();
    DeleteCriticalSection(&lock_);
}

bool ReadAhead::Start(QorZipFile& archive, const char* archivePath) {
    if (started_) return true;
    count_ = archive.GetNumFiles();
    if (count_ == 0) return false;
    archive_ = &archive;
    reading_ = waitingFor_ = nullptr;
    held_ = nullptr;
    stop_ = false;
    heldAll_ = 0;
    counts_ = Counts();
    bool ready = (filled_ = CreateEventA(nullptr, FALSE, FALSE, nullptr)) != nullptr;
    for (uint32_t k = 0; k < kReadAheadLanes; ++k) {
        Lane& lane = lanes_[k];
        lane = Lane();
        lane.owner = this;
        lane.number = k;
        lane.current = k;
        if (!ready) continue;
        qfl::File f = qfl::Open(archivePath, qfl::kOpenExistingReadAny);
        if (f != qfl::InvalidFile()) lane.file = f;
        // One decoding buffer for every entry of the lane: a fresh one per
        // entry costs a commit and a release of its memory each time.
        lane.work = std::malloc(qzf_indexed::kQzfInflateWorkSize);
        lane.drained = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ready = lane.file && lane.work && lane.drained;
    }
    for (uint32_t k = 0; ready && k < kReadAheadLanes; ++k) {
        lanes_[k].thread = CreateThread(nullptr, 0, ThreadMain, &lanes_[k], 0, nullptr);
        ready = lanes_[k].thread != nullptr;
    }
    if (!ready) {
        started_ = true;  // so that Stop ends the threads already started
        Stop();
        return false;
    }
    started_ = true;
    return true;
}

void ReadAhead::Stop() {
    if (!started_) return;
    EnterCriticalSection(&lock_);
    stop_ = true;
    LeaveCriticalSection(&lock_);
    for (Lane& lane : lanes_) {
        if (lane.drained) SetEvent(lane.drained);
        if (lane.thread) WaitForSingleObject(lane.thread, INFINITE);
    }
    FreeAll();
    started_ = false;
}

void ReadAhead::FreeAll() {
    for (Lane& lane : lanes_) {
        if (lane.thread) CloseHandle(lane.thread);
        for (Piece* list : {lane.head, lane.free}) {
            while (list) {
                Piece* next = list->next;
                std::free(list);
                list = next;
            }
        }
        if (lane.file) qfl::Close(static_cast<qfl::File>(lane.file));
        std::free(lane.work);
        if (lane.drained) CloseHandle(lane.drained);
        lane = Lane();
    }
    std::free(held_);  // taken off its queue: its `next` is stale
    held_ = nullptr;
    reading_ = waitingFor_ = nullptr;
    if (filled_) CloseHandle(filled_);
    filled_ = nullptr;
}

DWORD WINAPI ReadAhead::ThreadMain(void* p) {
    Lane& lane = *static_cast<Lane*>(p);
    ReadAhead* self = lane.owner;
    for (unsigned long i = lane.number; i < self->count_; i += kReadAheadLanes) {
        EnterCriticalSection(&self->lock_);
        const bool stop = self->stop_;
        lane.current = i;
        lane.inEntry = false;
        LeaveCriticalSection(&self->lock_);
        // A refused piece (stop, or no memory) ends the lane; entries not
        // handed over are then decoded by the install run itself.
        if (stop ||
            !qzf_indexed::InflateEntry(*self->archive_, lane.file, i, lane.work, Put, &lane))
            break;
    }
    EnterCriticalSection(&self->lock_);
    lane.ended = true;
    const bool wake = self->waitingFor_ == &lane;
    LeaveCriticalSection(&self->lock_);
    if (wake) SetEvent(self->filled_);
    return 0;
}

ReadAhead::Piece* ReadAhead::TakeFreePiece(Lane& lane, uint32_t n, bool last) {
    const bool small = last && n <= kReadAheadSmallPiece;
    const uint32_t cost = small ? static_cast<uint32_t>(sizeof(Piece)) + n : kWholeBlock;
    for (;;) {
        if (stop_) return nullptr;
        if (lane.free) {
            Piece* p = lane.free;
            lane.free = p->next;
            --lane.freeCount;
            return p;
        }
        if (lane.held + cost <= kLaneBudget) {
            Piece* p = static_cast<Piece*>(std::malloc(cost));
            if (!p) return nullptr;
            p->data = reinterpret_cast<uint8_t*>(p + 1);
            p->cost = cost;
            lane.held += cost;
            heldAll_ += cost;
            if (heldAll_ > counts_.peakBytes) counts_.peakBytes = heldAll_;
            return p;
        }
        lane.producerWaiting = true;
        ++counts_.laneWaits;
        LeaveCriticalSection(&lock_);
        WaitForSingleObject(lane.drained, INFINITE);
        EnterCriticalSection(&lock_);
        lane.producerWaiting = false;
    }
}

void ReadAhead::Recycle(Lane& lane, Piece* p) {
    if (p->cost == kWholeBlock) {
        p->next = lane.free;
        lane.free = p;
        ++lane.freeCount;
    } else {
        // A small block goes back to the heap: its size fits only its entry.
        lane.held -= p->cost;
        heldAll_ -= p->cost;
        std::free(p);
    }
    // Woken a quarter of the budget at a time, not once per piece: each wake
    // is a trip through the system.
    const uint32_t room = kLaneBudget - lane.held + lane.freeCount * kWholeBlock;
    if (lane.producerWaiting && room >= kLaneBudget / 4) {
        lane.producerWaiting = false;
        SetEvent(lane.drained);
    }
}

ReadAhead::Counts ReadAhead::GetCounts() const {
    EnterCriticalSection(&lock_);
    const Counts c = counts_;
    LeaveCriticalSection(&lock_);
    return c;
}

void ReadAhead::WaitForPiece(Lane& lane) {
    waitingFor_ = &lane;
    LeaveCriticalSection(&lock_);
    WaitForSingleObject(filled_, INFINITE);
    EnterCriticalSection(&lock_);
    waitingFor_ = nullptr;
}

bool ReadAhead::Put(void* context, int status, const uint8_t* data, uint32_t n) {
    Lane& lane = *static_cast<Lane*>(context);
    ReadAhead* self = lane.owner;
    if (n > kReadAheadPieceSize) return false;  // never: the engine's chunk is this size
    EnterCriticalSection(&self->lock_);
    Piece* p = self->TakeFreePiece(lane, n, status != kQzfPieceMore);
    LeaveCriticalSection(&self->lock_);
    if (!p) return false;
    // Copied outside the lock: the install run goes on meanwhile.
    if (n > 0) std::memcpy(p->data, data, n);
    p->next = nullptr;
    p->index = lane.current;
    p->size = n;
    p->status = status;
    p->first = !lane.inEntry;  // only this lane's thread touches inEntry
    lane.inEntry = true;
    EnterCriticalSection(&self->lock_);
    if (lane.tail)
        lane.tail->next = p;
    else
        lane.head = p;
    lane.tail = p;
    ++lane.queued;
    const bool wake = self->waitingFor_ == &lane &&
                      (status != kQzfPieceMore || p->first || lane.queued >= kWakeAfterPieces);
    LeaveCriticalSection(&self->lock_);
    if (wake) SetEvent(self->filled_);
    return true;
}

bool ReadAhead::Begin(void* context, uint32_t index) {
    ReadAhead* self = static_cast<ReadAhead*>(context);
    Lane& lane = self->lanes_[index % kReadAheadLanes];
    EnterCriticalSection(&self->lock_);
    if (self->held_) {
        self->Recycle(self->lanes_[self->heldLane_], self->held_);
        self->held_ = nullptr;
    }
    bool coming = false;
    for (;;) {
        // Pieces of entries never asked for, or of one left half-read, go.
        while (lane.head &&
               (lane.head->index < index || (lane.head->index == index && !lane.head->first))) {
            Piece* p = lane.head;
            lane.head = p->next;
            if (!lane.head) lane.tail = nullptr;
            --lane.queued;
            self->Recycle(lane, p);
        }
        if (lane.head) {
            coming = lane.head->index == index;
            break;
        }
        // Nothing queued: it comes only if the lane has not passed it.
        if (lane.ended || lane.current > index) break;
        self->WaitForPiece(lane);
    }
    self->reading_ = coming ? &lane : nullptr;
    LeaveCriticalSection(&self->lock_);
    return coming;
}

int ReadAhead::Next(void* context, const uint8_t** data, uint32_t* n) {
    ReadAhead* self = static_cast<ReadAhead*>(context);
    EnterCriticalSection(&self->lock_);
    if (self->held_) {
        self->Recycle(self->lanes_[self->heldLane_], self->held_);
        self->held_ = nullptr;
    }
    Piece* p = nullptr;
    if (Lane* lane = self->reading_) {
        while (!lane->head && !lane->ended) self->WaitForPiece(*lane);
        p = lane->head;
        if (p) {
            lane->head = p->next;
            if (!lane->head) lane->tail = nullptr;
            --lane->queued;
            self->held_ = p;
            self->heldLane_ = lane->number;
        }
    }
    LeaveCriticalSection(&self->lock_);
    if (!p) {
        // The lane stopped inside the entry (no memory for a piece).
        *data = nullptr;
        *n = 0;
        return kQzfPieceGivenUp;
    }
    *data = p->data;
    *n = p->size;
    return p->status;
}
