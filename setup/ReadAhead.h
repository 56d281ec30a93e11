// ReadAhead: decodes the payload's entries, in order, on a second thread
// while the install run writes, logs and shows the ones before. The install
// run hands Pieces() to ExtractFileFrom; everything it does stays in its own
// order on its own thread, and what the thread holds is bounded by
// kReadAheadBudget bytes of pieces whatever the entry sizes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/QorZipFile.h"

constexpr uint32_t kReadAheadPieceSize = 65536;  // the engine's decompression chunk
constexpr uint32_t kReadAheadBudget = 32u << 20;

class ReadAhead {
public:
    ReadAhead();
    ~ReadAhead();  // stops the thread
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts decoding entries 0, 1, ... of archive (open, read through
    // archivePath) on a thread of its own. False when that cannot be set up:
    // the install run then extracts as it always did.
    bool Start(QorZipFile& archive, const char* archivePath);
    // Null until started.
    const QzfPieces* Pieces() const { return started_ ? &pieces_ : nullptr; }
    // Stops and waits for the thread; frees every piece.
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

    static DWORD WINAPI ThreadMain(void* self);
    static bool Put(void* self, int status, const uint8_t* data, uint32_t n);
    static bool Begin(void* self, uint32_t index);
    static int Next(void* self, const uint8_t** data, uint32_t* n);

    Piece* TakeFreePiece();  // lock held; may wait; null on stop or no memory
    void Recycle(Piece* p);  // lock held
    void WaitForPiece();     // lock held: until something was queued or the thread ended
    void FreeAll();

    const QorZipFile* archive_ = nullptr;
    unsigned long count_ = 0;
    void* file_ = nullptr;  // the thread's own read handle (the file layer's)
    void* work_ = nullptr;  // the thread's decoding buffer
    HANDLE thread_ = nullptr;
    HANDLE filled_ = nullptr;   // auto-reset: a piece was queued, or the thread ended
    HANDLE drained_ = nullptr;  // auto-reset: pieces came back, or Stop
    CRITICAL_SECTION lock_;
    QzfPieces pieces_;
    bool started_ = false;

    // Guarded by lock_.
    Piece* head_ = nullptr;  // queued, oldest first
    Piece* tail_ = nullptr;
    Piece* free_ = nullptr;  // allocated and unused
    Piece* held_ = nullptr;  // the piece Next handed out last
    uint32_t allocated_ = 0;
    uint32_t freeCount_ = 0;
    uint32_t current_ = 0;  // entry the thread is decoding
    bool inEntry_ = false;  // the thread has queued a piece of entry current_ (its own)
    bool ended_ = false;    // the thread will queue nothing more
    bool stop_ = false;
    bool consumerWaiting_ = false;
    bool producerWaiting_ = false;
};
