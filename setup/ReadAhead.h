// ReadAhead: decodes the payload's entries, each lane in order, on threads of
// its own while the install run writes, logs and shows the ones before. The
// install run hands Pieces() to ExtractFileFrom; everything it does stays in
// its own order on its own thread, and what the threads hold is bounded by
// kReadAheadBudget bytes of pieces whatever the entry sizes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/QorZipFile.h"
#include "archive/QzfIndexed.h"

constexpr uint32_t kReadAheadPieceSize = 65536;  // the engine's decompression chunk
constexpr uint32_t kReadAheadBudget = 4u << 20;

// Entries are shared out over kReadAheadLanes threads (entry i to lane
// i % kReadAheadLanes), each with its own handle, queue and share of the
// budget (a lane that waits for its own pieces to come back never holds up
// the other): one thread alone decodes more slowly than the install run
// writes, and the run's own thread is idle while it waits for it.
constexpr uint32_t kReadAheadLanes = 2;

class ReadAhead {
public:
    ReadAhead();
    ~ReadAhead();  // stops the threads
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts decoding entries 0, 1, ... of archive (open, read through
    // archivePath) on threads of its own. False when that cannot be set up:
    // the install run then extracts as it always did.
    bool Start(QorZipFile& archive, const char* archivePath);
    // Null until started.
    const QzfPieces* Pieces() const { return started_ ? &pieces_ : nullptr; }
    // Stops and waits for the threads; frees every piece.
    void Stop();

private:
    struct Piece {
        Piece* next;
        uint8_t* data;  // kReadAheadPieceSize bytes, in the same block after the piece
        uint32_t index;
        uint32_t size;
        int status;
        bool first;  // the first piece of its entry
    };
    struct Lane {
        ReadAhead* owner = nullptr;
        uint32_t number = 0;
        HANDLE thread = nullptr;
        HANDLE drained = nullptr;  // auto-reset: pieces came back, or Stop
        void* file = nullptr;      // the lane's own read handle (the file layer's)
        void* work = nullptr;      // its decoding buffer
        // Guarded by the owner's lock.
        Piece* head = nullptr;  // queued, oldest first
        Piece* tail = nullptr;
        Piece* free = nullptr;  // allocated and unused
        uint32_t allocated = 0;
        uint32_t freeCount = 0;
        uint32_t queued = 0;   // pieces from head to tail
        uint32_t current = 0;  // entry the lane is decoding
        bool inEntry = false;  // the lane has queued a piece of entry current (its own)
        bool ended = false;    // the lane will queue nothing more
        bool producerWaiting = false;
    };

    static DWORD WINAPI ThreadMain(void* lane);
    static bool Put(void* lane, int status, const uint8_t* data, uint32_t n);
    static bool Begin(void* self, uint32_t index);
    static int Next(void* self, const uint8_t** data, uint32_t* n);

    Piece* TakeFreePiece(Lane& lane);    // lock held; may wait; null on stop or no memory
    void Recycle(Lane& lane, Piece* p);  // lock held
    void WaitForPiece(Lane& lane);       // lock held: until lane queued something or ended
    void FreeAll();

    const QorZipFile* archive_ = nullptr;
    unsigned long count_ = 0;
    HANDLE filled_ = nullptr;  // auto-reset: the lane the run waits for queued or ended
    CRITICAL_SECTION lock_;
    QzfPieces pieces_;
    bool started_ = false;
    Lane lanes_[kReadAheadLanes];

    // Guarded by lock_.
    Lane* reading_ = nullptr;  // the lane of the entry Begin made current
    Piece* held_ = nullptr;    // the piece Next handed out last
    uint32_t heldLane_ = 0;
    Lane* waitingFor_ = nullptr;  // the lane the run waits on, if it waits
    bool stop_ = false;
};
