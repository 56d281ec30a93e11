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
// The last piece of an entry up to this size is held in a block of its own
// size, so that a payload of small files is not held back by a budget
// counted in whole pieces (one wake of a lane per few entries).
constexpr uint32_t kReadAheadSmallPiece = 16384;

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

    // What the lanes did since Start, for tests: how often a lane waited for
    // pieces to come back, and the most bytes of pieces (blocks included)
    // held by all lanes at once.
    struct Counts {
        uint32_t laneWaits = 0;
        uint32_t peakBytes = 0;
    };
    Counts GetCounts() const;

private:
    struct Piece {
        Piece* next;
        uint8_t* data;  // in the same block after the piece
        uint32_t index;
        uint32_t size;
        uint32_t cost;  // bytes of its block: a whole piece's, or a small one's
        int status;
        bool first;  // the first piece of its entry
    };
    // A whole piece's block, and each lane's share of the budget counted in
    // blocks: as many whole pieces as ever, or many more small ones.
    static constexpr uint32_t kWholeBlock = sizeof(Piece) + kReadAheadPieceSize;
    static constexpr uint32_t kLaneBudget =
        kReadAheadBudget / kReadAheadPieceSize / kReadAheadLanes * kWholeBlock;
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
        Piece* free = nullptr;  // whole pieces allocated and unused
        uint32_t held = 0;      // bytes of the lane's blocks, free ones included
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

    // Lock held; may wait; null on stop or no memory. A piece for n bytes
    // that end an entry (last) is a small block when n is small.
    Piece* TakeFreePiece(Lane& lane, uint32_t n, bool last);
    void Recycle(Lane& lane, Piece* p);  // lock held
    void WaitForPiece(Lane& lane);       // lock held: until lane queued something or ended
    void FreeAll();

    const QorZipFile* archive_ = nullptr;
    unsigned long count_ = 0;
    HANDLE filled_ = nullptr;  // auto-reset: the lane the run waits for queued or ended
    mutable CRITICAL_SECTION lock_;
    QzfPieces pieces_;
    bool started_ = false;
    Lane lanes_[kReadAheadLanes];

    // Guarded by lock_.
    Lane* reading_ = nullptr;  // the lane of the entry Begin made current
    Piece* held_ = nullptr;    // the piece Next handed out last
    uint32_t heldLane_ = 0;
    Lane* waitingFor_ = nullptr;  // the lane the run waits on, if it waits
    bool stop_ = false;
    uint32_t heldAll_ = 0;  // bytes held by all lanes
    Counts counts_;
};
