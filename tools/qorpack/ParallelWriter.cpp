#include "ParallelWriter.h"

#include <cstring>
#include <memory>

#include "Parallel.h"
#include "contract/ArchiveFormat.h"
#include "archive/FileLayer.h"
#include "archive/QzfIndexed.h"

namespace qorpack {

namespace {

// Files up to this size are compressed ahead in memory by the workers.
constexpr uint64_t kInMemoryLimit = 8u << 20;
constexpr uint64_t kFourGiB = 1ull << 32;
// Compressed data waiting for the writer, beyond the slots being filled.
constexpr uint64_t kInFlightBudget = 32u << 20;

// Where compressed bytes go: a memory buffer or the output file.
struct Sink {
    std::vector<uint8_t>* memory = nullptr;
    FILE* file = nullptr;
    uint64_t written = 0;
    bool Put(const uint8_t* p, size_t n) {
        written += n;
        if (memory) {
            memory->insert(memory->end(), p, p + n);
            return true;
        }
        return fwrite(p, 1, n, file) == n;
    }
};

struct Facts {
    FILETIME time = {0, 0};
    uint64_t size = 0;  // the bytes read and compressed
    uint32_t attributes = 0;
};

// Opens a source through the engine's file layer; *size is what it held
// then, which decides where it is compressed. The one handle then serves the
// compression and the facts as well.
bool OpenSource(const std::string& source, qfl::FileOwner* h, uint64_t* size, std::string* error) {
    h->Reset(qfl::Open(source.c_str(), qfl::kOpenExistingReadAny));
    if (!h->Valid()) {
        *error = "cannot open '" + source + "': " + LastErrorText();
        return false;
    }
    if (!qfl::Size(h->Get(), size)) {
        *error = "cannot read the size of '" + source + "'";
        return false;
    }
    if (*size >= kFourGiB) {
        *error = "'" + source + "' is 4 GiB or larger; archive entries hold 32-bit sizes";
        return false;
    }
    return true;
}

bool PutIntoSink(void* context, const uint8_t* data, uint32_t n) {
    return static_cast<Sink*>(context)->Put(data, n);
}

// Compresses the whole open source into the sink with the engine's gzip
// writer, then reads its time stamp and attributes: the bytes AddFile writes
// for it. The size recorded is the bytes read, not what the file held when
// opened (a log being written grows meanwhile). False with a message.
bool CompressSource(qfl::File in, const std::string& source, int level, Sink* sink, Facts* facts,
                    std::string* error) {
    TestPause("source");
    std::unique_ptr<uint8_t[]> work(new uint8_t[qzf_indexed::kGzipWorkSize]);
    switch (qzf_indexed::GzipFile(in, work.get(), level, PutIntoSink, sink, &facts->size)) {
        case qzf_indexed::kGzipOk:
            break;
        case qzf_indexed::kGzipReadFailed:
            *error = "cannot read '" + source + "': " + LastErrorText();
            return false;
        case qzf_indexed::kGzipTooLarge:
            *error = "'" + source + "' is 4 GiB or larger; archive entries hold 32-bit sizes";
            return false;
        case qzf_indexed::kGzipFailed:
            *error = "compression of '" + source + "' failed";
            return false;
        case qzf_indexed::kGzipRefused:
            *error = "cannot write the archive: " + LastErrorText();
            return false;
    }
    if (!qfl::GetTime(in, &facts->time) ||
        !qfl::GetAttributes(source.c_str(), &facts->attributes)) {
        *error = "cannot read the time stamp and attributes of '" + source + "'";
        return false;
    }
    return true;
}

enum class State { kPending, kWorking, kReady, kLarge, kFailed };

struct Slot {
    State state = State::kPending;
    std::vector<uint8_t> data;
    Facts facts;
    std::string error;
};

struct Job {
    const std::vector<PackItem>* items;
    std::vector<Slot> slots;
    Monitor monitor;
    size_t nextClaim = 0;
    size_t nextWrite = 0;
    size_t window = 1;           // entries a worker may run ahead of the writer
    int level = 0;               // zlib level of every entry
    uint64_t inFlight = 0;       // compressed bytes waiting in slots
    int idleWorkers = 0;         // waiting for the writer to catch up
    bool writerWaiting = false;  // waiting for slot nextWrite
    bool abort = false;
    // Writer side.
    std::string path;
    ProgressLine* progress = nullptr;
    PackResult result;
};

// Compresses item i into its slot (in memory). Called without the lock held.
void CompressIntoSlot(Job* job, size_t i) {
    const PackItem& item = (*job->items)[i];
    Slot& slot = job->slots[i];
    State state = State::kFailed;
    std::string error;
    std::vector<uint8_t> data;
    Facts facts;
    qfl::FileOwner h;
    uint64_t opened = 0;
    if (OpenSource(item.source, &h, &opened, &error)) {
        Sink sink;
        sink.memory = &data;
        state = opened > kInMemoryLimit ? State::kLarge
                : CompressSource(h.Get(), item.source, job->level, &sink, &facts, &error)
                    ? State::kReady
                    : State::kFailed;
    }
    MonitorLock lock(job->monitor);
    slot.data.swap(data);
    job->inFlight += slot.data.size();
    slot.facts = facts;
    slot.error = error;
    slot.state = state;
    // Waking everyone per small file costs more than compressing it.
    if (job->writerWaiting && i == job->nextWrite) job->monitor.NotifyAll();
}

void WorkerMain(void* p) {
    Job* job = static_cast<Job*>(p);
    for (;;) {
        size_t i;
        {
            MonitorLock lock(job->monitor);
            while (!job->abort && job->nextClaim < job->slots.size() &&
                   (job->nextClaim >= job->nextWrite + job->window ||
                    job->inFlight >= kInFlightBudget)) {
                ++job->idleWorkers;
                job->monitor.Wait();
                --job->idleWorkers;
            }
            if (job->abort || job->nextClaim >= job->slots.size()) return;
            i = job->nextClaim++;
            job->slots[i].state = State::kWorking;
        }
        CompressIntoSlot(job, i);
    }
}

bool WriteAll(FILE* f, const void* p, size_t n) { return fwrite(p, 1, n, f) == n; }

// The writer: takes the slots in order, writes records and data, compresses
// large files itself and any file no worker has claimed yet.
void WriterMain(void* p) {
    Job* job = static_cast<Job*>(p);
    PackResult& r = job->result;
    const std::vector<PackItem>& items = *job->items;
    auto fail = [&](size_t i, const std::string& msg) {
        r.ok = false;
        r.error = msg;
        r.failedItem = i;
        MonitorLock lock(job->monitor);
        job->abort = true;
        job->monitor.NotifyAll();
    };

    FilePtr out = OpenFile(job->path.c_str(), "r+b");
    uint64_t headerOffset = 0;
    if (!out || !GetOpenFileSize(out.get(), &headerOffset)) {
        fail(SIZE_MAX, "cannot open '" + job->path + "' for writing: " + LastErrorText());
        return;
    }
    static char buffer[1 << 20];
    setvbuf(out.get(), buffer, _IOFBF, sizeof buffer);
    uint8_t head[qzf_format::kHeaderLength];
    qzf_format::BuildHeader(head);
    if (headerOffset >= kFourGiB || !SeekTo(out.get(), headerOffset) ||
        !WriteAll(out.get(), head, sizeof head)) {
        fail(SIZE_MAX, "cannot write the archive header to '" + job->path + "'");
        return;
    }
    uint64_t pos = headerOffset + sizeof head;
    uint32_t total = 0;
    std::vector<uint8_t> record;
    for (size_t i = 0; i < items.size(); ++i) {
        Slot* slot = &job->slots[i];
        bool doItMyself = false;
        {
            MonitorLock lock(job->monitor);
            job->nextWrite = i;
            if (job->idleWorkers) job->monitor.NotifyAll();
            if (job->nextClaim <= i) {
                // No worker got this far: claim it (and skip past it).
                job->nextClaim = i + 1;
                slot->state = State::kWorking;
                doItMyself = true;
            } else {
                job->writerWaiting = true;
                while (slot->state == State::kWorking || slot->state == State::kPending)
                    job->monitor.Wait();
                job->writerWaiting = false;
            }
        }
        if (doItMyself) CompressIntoSlot(job, i);
        if (job->progress) job->progress->Update(i + 1, items.size(), items[i].storedName);
        if (slot->state == State::kFailed) return fail(i, slot->error);

        const std::string& name = items[i].storedName;
        record.resize(qzf_format::kEntryMinLength + name.size());
        if (slot->state == State::kReady) {
            uint64_t end = pos + record.size() + slot->data.size() + qzf_format::kTrailerLength;
            if (end > kFourGiB - 1)
                return fail(i, "the archive would pass 4 GiB; entry positions are 32-bit");
            qzf_format::BuildEntry(record.data(), static_cast<uint32_t>(slot->data.size()),
                                   static_cast<uint32_t>(slot->facts.size),
                                   slot->facts.time.dwLowDateTime, slot->facts.time.dwHighDateTime,
                                   slot->facts.attributes, name.data(),
                                   static_cast<uint32_t>(name.size()));
            if (!WriteAll(out.get(), record.data(), record.size()) ||
                !WriteAll(out.get(), slot->data.data(), slot->data.size()))
                return fail(i, "cannot write the archive: " + LastErrorText());
            pos += record.size() + slot->data.size();
            total += static_cast<uint32_t>(slot->facts.size);
        } else {
            // Large: stream the compressed data after a provisional record.
            std::string error;
            Facts facts;
            qfl::FileOwner h;
            uint64_t opened = 0;
            if (!OpenSource(items[i].source, &h, &opened, &error)) return fail(i, error);
            if (!WriteAll(out.get(), record.data(), record.size()))
                return fail(i, "cannot write the archive: " + LastErrorText());
            Sink sink;
            sink.file = out.get();
            if (!CompressSource(h.Get(), items[i].source, job->level, &sink, &facts, &error))
                return fail(i, error);
            uint64_t end = pos + record.size() + sink.written + qzf_format::kTrailerLength;
            if (end > kFourGiB - 1)
                return fail(i, "the archive would pass 4 GiB; entry positions are 32-bit");
            qzf_format::BuildEntry(record.data(), static_cast<uint32_t>(sink.written),
                                   static_cast<uint32_t>(facts.size), facts.time.dwLowDateTime,
                                   facts.time.dwHighDateTime, facts.attributes, name.data(),
                                   static_cast<uint32_t>(name.size()));
            if (!SeekTo(out.get(), pos) || !WriteAll(out.get(), record.data(), record.size()) ||
                !SeekTo(out.get(), pos + record.size() + sink.written))
                return fail(i, "cannot write the archive: " + LastErrorText());
            pos += record.size() + sink.written;
            total += static_cast<uint32_t>(facts.size);
        }
        MonitorLock lock(job->monitor);
        job->inFlight -= slot->data.size();
        std::vector<uint8_t>().swap(slot->data);
        if (job->idleWorkers) job->monitor.NotifyAll();
    }
    {
        MonitorLock lock(job->monitor);
        job->nextWrite = items.size();
        job->monitor.NotifyAll();
    }
    uint8_t trailer[qzf_format::kTrailerLength];
    uint64_t length = pos - headerOffset + qzf_format::kTrailerLength;
    qzf_format::BuildTrailer(trailer, static_cast<uint32_t>(items.size()), total,
                             static_cast<uint32_t>(length));
    if (!WriteAll(out.get(), trailer, sizeof trailer) || fflush(out.get()) != 0 ||
        fclose(out.release()) != 0)
        return fail(SIZE_MAX, "cannot write the archive: " + LastErrorText());
    r.ok = true;
    r.archiveLength = length;
}

}  // namespace

PackResult WriteArchiveParallel(const std::string& path, const std::vector<PackItem>& items,
                                int jobs, int level, ProgressLine* progress) {
    Job job;
    job.items = &items;
    job.slots.resize(items.size());
    // Small files: far ahead, bounded by kInFlightBudget; each slot holds at
    // most kInMemoryLimit bytes of input.
    job.window = jobs > 0 ? 4096 : 1;
    job.level = level;
    job.path = path;
    job.progress = progress;
    RunWithWorkers(jobs, WorkerMain, WriterMain, &job);
    if (progress) progress->Finish();
    return job.result;
}

}  // namespace qorpack
