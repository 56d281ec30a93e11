#include "setup/ReadAhead.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "archive/FileLayer.h"

namespace {

constexpr uint32_t kMaxPieces = kReadAheadBudget / kReadAheadPieceSize;

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
    qfl::File f = qfl::Open(archivePath, qfl::kOpenExistingReadAny);
    if (f == qfl::InvalidFile()) return false;
    file_ = f;
    // One decoding buffer for every entry: a fresh one per entry costs a
    // commit and a release of its memory each time.
    work_ = std::malloc(qzf_readahead::kQzfInflateWorkSize);
    filled_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    drained_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    head_ = tail_ = free_ = held_ = nullptr;
    allocated_ = freeCount_ = current_ = 0;
    ended_ = stop_ = consumerWaiting_ = producerWaiting_ = false;
    if (work_ && filled_ && drained_)
        thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (!thread_) {
        FreeAll();
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
    SetEvent(drained_);
    WaitForSingleObject(thread_, INFINITE);
    FreeAll();
    started_ = false;
}

void ReadAhead::FreeAll() {
    if (thread_) CloseHandle(thread_);
    thread_ = nullptr;
    for (Piece* list : {head_, free_}) {
        while (list) {
            Piece* next = list->next;
            std::free(list);
            list = next;
        }
    }
    std::free(held_);  // taken off the queue: its `next` is stale
    head_ = tail_ = free_ = held_ = nullptr;
    if (file_) qfl::Close(static_cast<qfl::File>(file_));
    file_ = nullptr;
    std::free(work_);
    work_ = nullptr;
    for (HANDLE* h : {&filled_, &drained_}) {
        if (*h) CloseHandle(*h);
        *h = nullptr;
    }
}

DWORD WINAPI ReadAhead::ThreadMain(void* p) {
    ReadAhead* self = static_cast<ReadAhead*>(p);
    for (unsigned long i = 0; i < self->count_; ++i) {
        EnterCriticalSection(&self->lock_);
        const bool stop = self->stop_;
        self->current_ = i;
        self->inEntry_ = false;
        LeaveCriticalSection(&self->lock_);
        // A refused piece (stop, or no memory) ends the thread; entries not
        // handed over are then decoded by the install run itself.
        if (stop ||
            !qzf_readahead::InflateEntry(*self->archive_, self->file_, i, self->work_, Put, self))
            break;
    }
    EnterCriticalSection(&self->lock_);
    self->ended_ = true;
    LeaveCriticalSection(&self->lock_);
    SetEvent(self->filled_);
    return 0;
}

ReadAhead::Piece* ReadAhead::TakeFreePiece() {
    for (;;) {
        if (stop_) return nullptr;
        if (free_) {
            Piece* p = free_;
            free_ = p->next;
            --freeCount_;
            return p;
        }
        if (allocated_ < kMaxPieces) {
            Piece* p = static_cast<Piece*>(std::malloc(sizeof(Piece) + kReadAheadPieceSize));
            if (!p) return nullptr;
            p->data = reinterpret_cast<uint8_t*>(p + 1);
            ++allocated_;
            return p;
        }
        producerWaiting_ = true;
        LeaveCriticalSection(&lock_);
        WaitForSingleObject(drained_, INFINITE);
        EnterCriticalSection(&lock_);
        producerWaiting_ = false;
    }
}

void ReadAhead::Recycle(Piece* p) {
    p->next = free_;
    free_ = p;
    ++freeCount_;
    // Woken a quarter of the budget at a time, not once per piece: each wake
    // is a trip through the system.
    if (producerWaiting_ && freeCount_ >= (allocated_ / 4 > 0 ? allocated_ / 4 : 1)) {
        producerWaiting_ = false;
        SetEvent(drained_);
    }
}

void ReadAhead::WaitForPiece() {
    consumerWaiting_ = true;
    LeaveCriticalSection(&lock_);
    WaitForSingleObject(filled_, INFINITE);
    EnterCriticalSection(&lock_);
    consumerWaiting_ = false;
}

bool ReadAhead::Put(void* context, int status, const uint8_t* data, uint32_t n) {
    ReadAhead* self = static_cast<ReadAhead*>(context);
    if (n > kReadAheadPieceSize) return false;  // never: the engine's chunk is this size
    EnterCriticalSection(&self->lock_);
    Piece* p = self->TakeFreePiece();
    LeaveCriticalSection(&self->lock_);
    if (!p) return false;
    // Copied outside the lock: the install run goes on meanwhile.
    if (n > 0) std::memcpy(p->data, data, n);
    p->next = nullptr;
    p->index = self->current_;
    p->size = n;
    p->status = status;
    p->first = !self->inEntry_;  // only this thread touches inEntry_
    self->inEntry_ = true;
    EnterCriticalSection(&self->lock_);
    if (self->tail_)
        self->tail_->next = p;
    else
        self->head_ = p;
    self->tail_ = p;
    const bool wake = self->consumerWaiting_;
    LeaveCriticalSection(&self->lock_);
    if (wake) SetEvent(self->filled_);
    return true;
}

bool ReadAhead::Begin(void* context, uint32_t index) {
    ReadAhead* self = static_cast<ReadAhead*>(context);
    EnterCriticalSection(&self->lock_);
    if (self->held_) {
        self->Recycle(self->held_);
        self->held_ = nullptr;
    }
    bool coming = false;
    for (;;) {
        // Pieces of entries never asked for, or of one left half-read, go.
        while (self->head_ && (self->head_->index < index ||
                               (self->head_->index == index && !self->head_->first))) {
            Piece* p = self->head_;
            self->head_ = p->next;
            if (!self->head_) self->tail_ = nullptr;
            self->Recycle(p);
        }
        if (self->head_) {
            coming = self->head_->index == index;
            break;
        }
        // Nothing queued: it comes only if the thread has not passed it.
        if (self->ended_ || self->current_ > index) break;
        self->WaitForPiece();
    }
    LeaveCriticalSection(&self->lock_);
    return coming;
}

int ReadAhead::Next(void* context, const uint8_t** data, uint32_t* n) {
    ReadAhead* self = static_cast<ReadAhead*>(context);
    EnterCriticalSection(&self->lock_);
    if (self->held_) {
        self->Recycle(self->held_);
        self->held_ = nullptr;
    }
    while (!self->head_ && !self->ended_) self->WaitForPiece();
    Piece* p = self->head_;
    if (p) {
        self->head_ = p->next;
        if (!self->head_) self->tail_ = nullptr;
        self->held_ = p;
    }
    LeaveCriticalSection(&self->lock_);
    if (!p) {
        // The thread stopped inside the entry (no memory for a piece).
        *data = nullptr;
        *n = 0;
        return kQzfPieceGivenUp;
    }
    *data = p->data;
    *n = p->size;
    return p->status;
}
