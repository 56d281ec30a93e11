// QorZipFileWrite.cpp: changing an archive file: default names, adding (a
// whole Save or an incremental append), removing by compaction, and the
// working copy that makes a failed change leave the file as it was.
//
// Without the backup a failed change is repaired in place as far as possible
// and the directory is then read again from the file, so the object never
// holds a directory that a later write would turn into a wrong trailer.
#include <cstdlib>
#include <cstring>

#include "contract/ArchiveFormat.h"
#include "archive/FileLayer.h"
#include "archive/QorZipFile.h"
#include "archive/QzfIndexed.h"
#include "archive/QzfInternal.h"
#include "archive/QzfObjectExtras.h"
#include "archive/QzfPath.h"

using namespace qzf_format;
using namespace qzf_internal;

namespace {

constexpr size_t kMaxComponents = qzf_path::kMax / 2 + 1;

struct Piece {
    const char* p;
    size_t n;
};

// Splits s at separators, skipping empty pieces; returns the count.
size_t SplitComponents(const char* s, Piece* out) {
    size_t count = 0;
    while (*s && count < kMaxComponents) {
        while (qzf_path::IsSeparator(*s)) ++s;
        if (!*s) break;
        const char* start = s;
        while (*s && !qzf_path::IsSeparator(*s)) ++s;
        out[count++] = Piece{start, static_cast<size_t>(s - start)};
    }
    return count;
}

// Both paths on the same drive (or, without drives, both from the root).
bool SameRoot(const char* a, const char* b) {
    if (a[0] && a[1] == ':' && b[0] && b[1] == ':') return a[0] == b[0];
    return !qfl::HasDriveLetters() && qzf_path::IsSeparator(a[0]) && qzf_path::IsSeparator(b[0]);
}

// The archive's end when something other than records follows it (a signed
// setup's certificate table), else 0.
uint64_t ArchiveEnd(QorZipFileEntry* entries) {
    const ObjectExtras* extras = ExtrasOf(entries);
    return extras ? extras->archiveEnd : 0;
}

// Cuts the file the handle stands on after the bytes written last. Once the
// archive file itself ends with the archive again (whatever followed it, a
// signature, is gone: a change breaks it anyway), its reader goes to the end.
bool CutFile(qfl::File f, QorZipFileEntry* entries, bool onWorkingCopy) {
    if (!qfl::Truncate(f)) return false;
    ObjectExtras* extras = ExtrasOf(entries);
    if (extras && !onWorkingCopy) extras->archiveEnd = 0;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- names

void QorZipFile::GetDefFileName(const char* source, char* name, char* fullPath) {
    name[0] = 0;
    fullPath[0] = 0;
    if (!source) return;
    char dir[qzf_path::kMax];
    const char* file;
    char full[qzf_path::kMax];
    if (!qzf_path::SplitPath(source, dir, &file) || !qzf_path::Compose(full, dir, file)) return;
    std::memcpy(fullPath, full, std::strlen(full) + 1);
    char lower[qzf_path::kMax];
    std::memcpy(lower, dir, sizeof lower);
    qzf_path::FoldCase(lower);
    const char* archiveDir = archiveDirectory_;
    const size_t la = std::strlen(archiveDir);
    char out[qzf_path::kMax];
    bool fits;
    if (std::strcmp(lower, archiveDir) == 0) {
        fits = qzf_path::Compose(out, file, "");
    } else if (std::strncmp(lower, archiveDir, la) == 0) {
        fits = qzf_path::Compose(out, full + la, "");
    } else if (SameRoot(lower, archiveDir)) {
        Piece a[kMaxComponents], d[kMaxComponents];
        const size_t na = SplitComponents(archiveDir, a), nd = SplitComponents(lower, d);
        size_t common = 0;
        while (common < na && common < nd && a[common].n == d[common].n &&
               std::memcmp(a[common].p, d[common].p, a[common].n) == 0)
            ++common;
        out[0] = 0;
        fits = true;
        for (size_t i = common; i < na && fits; ++i) fits = qzf_path::Compose(out, out, "..\\");
        for (size_t i = common; i < nd && fits; ++i) {
            char piece[qzf_path::kMax];
            std::memcpy(piece, d[i].p, d[i].n);
            piece[d[i].n] = 0;
            fits = qzf_path::Compose(out, out, piece, "\\");
        }
        if (fits) fits = qzf_path::Compose(out, out, file);
    } else {
        fits = qzf_path::Compose(out, full, "");
    }
    if (!fits) return;
    // Stored names always use backslashes, whatever the platform wrote.
    for (char* c = out; *c; ++c)
        if (*c == '/') *c = '\\';
    std::memcpy(name, out, std::strlen(out) + 1);
}

// ---------------------------------------------------------------- adding

bool QorZipFile::AddFile(const char* source, const char* name) {
    return Access::Add(*this, source, name, false, kNotFound);
}

bool Access::Add(QorZipFile& z, const char* source, const char* name, bool chosen,
                 uint32_t replace) {
    z.ClearError();
    // An entry without a source would be counted by the next trailer without
    // being in the file; there is nothing to add.
    if (!source) return z.Fail(QZF_ERR_COMPRESS);
    if (z.mode_ == QorZipFile::QZF_MODE_READ) return z.Fail(QZF_ERR_READ_ONLY);
    if (!z.IsOpen()) return z.Fail(QZF_ERR_NOT_OPEN);
    if (chosen && replace != kNotFound && replace >= z.entryCount_)
        return z.Fail(QZF_ERR_BAD_INDEX);
    char defName[qzf_path::kMax], full[qzf_path::kMax];
    z.GetDefFileName(source, defName, full);
    if (!full[0]) return z.Fail(QZF_ERR_COMPRESS);
    const char* wanted = name ? name : defName;
    if (!name && !defName[0]) return z.Fail(QZF_ERR_TOO_LARGE);
    if (std::strlen(wanted) + 1 > kMaxNameBytes) return z.Fail(QZF_ERR_TOO_LARGE);
    // Own copies first: `name` may point into the table that a removal changes.
    BufferOwner storedName(qzf_path::DupString(wanted));
    BufferOwner sourcePath(qzf_path::DupString(full));
    if (!storedName.Get() || !sourcePath.Get()) return z.Fail(QZF_ERR_OUT_OF_MEMORY);
    const unsigned long existing = chosen ? replace : z.GetFileIndex(storedName.As<char>());
    const bool replacing = existing != kNotFound;
    // A replacement removes and appends within one working copy, so a
    // failure leaves the old entry in place.
    if (replacing) {
        if (!z.WorkingCopy(QorZipFile::kBeginWorkingCopy)) return false;
        z.entries_[existing].deleted = true;
        if (!z.CompactInPlace()) return z.FinishChange(false);
    }
    if (z.entryCount_ >= z.entryCapacity_ && !z.GrowTable(z.entryCount_ + 1)) {
        z.lastError_ = QZF_ERR_OUT_OF_MEMORY;
        return replacing ? z.FinishChange(false) : false;
    }
    QorZipFileEntry& e = z.entries_[z.entryCount_];
    z.ResetEntry(e);
    e.name = static_cast<char*>(storedName.Release());
    e.sourcePath = static_cast<char*>(sourcePath.Release());
    ++z.entryCount_;
    if (replacing) return z.FinishChange(z.AppendInPlace(z.trailerPosition_));
    if (!z.trailerPosition_) return z.Save();
    if (!z.WorkingCopy(QorZipFile::kBeginWorkingCopy)) return false;
    return z.FinishChange(z.AppendInPlace(z.trailerPosition_));
}

bool QorZipFile::AddFiles(unsigned long count, const char** sources) {
    ClearError();
    if (count == 0) return true;
    if (!sources) return Fail(QZF_ERR_COMPRESS);
    const uint64_t wanted = static_cast<uint64_t>(entryCount_) + count;
    if (wanted > entryCapacity_ &&
        (wanted > 0xFFFFFFFFu || !GrowTable(static_cast<uint32_t>(wanted))))
        return Fail(QZF_ERR_OUT_OF_MEMORY);
    for (unsigned long i = 0; i < count; ++i)
        if (!AddFile(sources[i], nullptr)) return false;
    return true;
}

bool QorZipFile::Save() {
    ClearError();
    // Refuse before the first byte: a failed Save must not take an existing
    // archive (or the host file it is appended to) with it.
    if (!IsOpen() || mode_ == QZF_MODE_READ) return Fail(QZF_ERR_NOT_OPEN);
    for (uint32_t i = 0; i < entryCount_; ++i) {
        if (!entries_[i].sourcePath) return Fail(QZF_ERR_COMPRESS);
    }
    if (!WorkingCopy(kBeginWorkingCopy)) return false;
    if (WriteWhole()) return WorkingCopy(kCommitWorkingCopy);
    if (useBackupFile_) {
        WorkingCopy(kDiscardWorkingCopy);
        return false;
    }
    // No backup: leave an empty archive where the incomplete one was.
    if (IsOpen() && qfl::Seek(AsFile(handle_), headerOffset_))
        CutFile(AsFile(handle_), entries_, workingCopyPath_[0] != 0);
    Reopen(mode_);
    return false;
}

// Header, every entry from its source, trailer; the file ends after the trailer.
bool QorZipFile::WriteWhole() {
    ForgetEntryIndex(IndexOf(entries_));  // every entry's sizes are taken afresh
    if (!qfl::Seek(AsFile(handle_), headerOffset_))
        return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath());
    uint8_t header[kHeaderLength];
    BuildHeader(header);
    if (!WriteArchive(header, sizeof header)) return false;
    uint64_t position = static_cast<uint64_t>(headerOffset_) + kHeaderLength;
    for (uint32_t i = 0; i < entryCount_; ++i) {
        if (!AddOneEntry(entries_[i], position)) return false;
        position = static_cast<uint64_t>(entries_[i].dataPosition) + entries_[i].compressedSize;
    }
    if (!WriteTrailer(position)) return false;
    if (!CutFile(AsFile(handle_), entries_, workingCopyPath_[0] != 0))
        return Fail(QZF_ERR_WRITE_ARCHIVE, "cannot write", HandlePath());
    return true;
}

bool QorZipFile::WriteArchive(const void* data, uint32_t n) {
    uint32_t put = 0;
    if (!qfl::Write(AsFile(handle_), data, n, &put) || put != n)
        return Fail(QZF_ERR_WRITE_ARCHIVE, "cannot write", HandlePath());
    return true;
}

bool QorZipFile::WriteTrailer(uint64_t position) {
    trailerPosition_ = static_cast<uint32_t>(position);
    const uint32_t total = SumOfSizes(IndexOf(entries_), entries_, entryCount_);
    uint8_t trailer[kTrailerLength];
    BuildTrailer(trailer, entryCount_, total,
                 static_cast<uint32_t>(position - headerOffset_ + kTrailerLength));
    return WriteArchive(trailer, sizeof trailer);
}

// Compresses e's source straight into the archive at `position`, where the
// handle stands: the record first with the sizes still open, the gzip data
// after it, then the record again with the sizes, time and attributes; the
// handle ends after the data. A failure leaves the archive for the caller's
// rollback, as a failed write would.
bool QorZipFile::AddOneEntry(QorZipFileEntry& e, uint64_t position) {
    qfl::FileOwner source(qfl::Open(e.sourcePath, qfl::kOpenExistingReadAny));
    if (!source.Valid()) return Fail(QZF_ERR_COMPRESS, "cannot open", e.sourcePath);
    uint64_t size;
    if (!qfl::Size(source.Get(), &size))
        return Fail(QZF_ERR_OPEN_FILE, "cannot read", e.sourcePath);
    if (size > 0xFFFFFFFFu) {  // the 32-bit size field cannot describe it
        return Fail(QZF_ERR_TOO_LARGE);
    }
    const uint32_t nameLength = static_cast<uint32_t>(std::strlen(e.name));
    const uint32_t recordLength = kEntryMinLength + nameLength;
    BufferOwner buffers(std::malloc(qzf_indexed::kGzipWorkSize + recordLength));
    if (!buffers.Get()) return Fail(QZF_ERR_COMPRESS);
    uint8_t* const record = buffers.As<uint8_t>() + qzf_indexed::kGzipWorkSize;
    BuildEntry(record, 0, 0, 0, 0, 0, e.name, nameLength);
    if (position + recordLength + kTrailerLength > kMaxPosition) return Fail(QZF_ERR_TOO_LARGE);
    if (!WriteArchive(record, recordLength)) return false;

    // The gzip data goes straight after the record; each block is checked
    // against 32-bit positions before it is written.
    struct Out {
        QorZipFile* self;
        uint64_t limit;  // compressed bytes that still leave room for the trailer
        uint64_t compressed;
    } out{this, kMaxPosition - kTrailerLength - position - recordLength, 0};
    auto put = [](void* context, const uint8_t* data, uint32_t n) {
        Out* o = static_cast<Out*>(context);
        o->compressed += n;
        if (o->compressed > o->limit) return o->self->Fail(QZF_ERR_TOO_LARGE);
        return o->self->WriteArchive(data, n);
    };
    uint64_t total = 0;
    switch (qzf_indexed::GzipFile(source.Get(), buffers.Get(), AddLevelOf(entries_), put, &out,
                                  &total)) {
        case qzf_indexed::kGzipOk:
            break;
        case qzf_indexed::kGzipReadFailed:
            return Fail(QZF_ERR_COMPRESS, "cannot read", e.sourcePath);
        case qzf_indexed::kGzipTooLarge:
            return Fail(QZF_ERR_TOO_LARGE);
        case qzf_indexed::kGzipFailed:
            return Fail(QZF_ERR_COMPRESS, "cannot compress", e.sourcePath);
        case qzf_indexed::kGzipRefused:
            return false;  // put has set the error
    }
    const uint64_t compressed = out.compressed;
    FILETIME time;
    uint32_t attributes;
    if (!qfl::GetTime(source.Get(), &time) || !qfl::GetAttributes(e.sourcePath, &attributes))
        return Fail(QZF_ERR_OPEN_FILE, "cannot read the time and attributes of", e.sourcePath);
    e.timeStamp = time;
    e.uncompressedSize = static_cast<uint32_t>(total);
    e.attributes = attributes;
    e.recordPosition = static_cast<uint32_t>(position);
    e.dataPosition = static_cast<uint32_t>(position + recordLength);
    e.compressedSize = static_cast<uint32_t>(compressed);
    BuildEntry(record, e.compressedSize, e.uncompressedSize, time.dwLowDateTime,
               time.dwHighDateTime, attributes, e.name, nameLength);
    if (!qfl::Seek(AsFile(handle_), position) || !WriteArchive(record, recordLength) ||
        !qfl::Seek(AsFile(handle_), position + recordLength + compressed))
        return Fail(QZF_ERR_WRITE_ARCHIVE, "cannot write", HandlePath());
    return true;
}

// Writes the last table entry over the trailer at oldTrailer and a new trailer
// after it. Without the backup, a failure drops the entry again and puts the
// old trailer back, ending the file there.
bool QorZipFile::AppendInPlace(uint32_t oldTrailer) {
    QorZipFileEntry& e = entries_[entryCount_ - 1];
    bool ok = qfl::Seek(AsFile(handle_), oldTrailer) ||
              Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath());
    ok = ok && AddOneEntry(e, oldTrailer) &&
         WriteTrailer(static_cast<uint64_t>(e.dataPosition) + e.compressedSize);
    // Bytes that followed the archive (a signature) would now follow a
    // different trailer: the file ends with the archive instead.
    if (ok && ArchiveEnd(entries_) && !CutFile(AsFile(handle_), entries_, workingCopyPath_[0] != 0))
        ok = Fail(QZF_ERR_WRITE_ARCHIVE, "cannot write", HandlePath());
    if (ok || useBackupFile_) return ok;
    const QZF_ERROR error = lastError_;
    const qfl::Failure cause = qfl::LastFailure();
    ResetEntry(entries_[--entryCount_]);
    if (qfl::Seek(AsFile(handle_), oldTrailer) && WriteTrailer(oldTrailer))
        CutFile(AsFile(handle_), entries_, workingCopyPath_[0] != 0);
    qfl::RestoreFailure(cause);
    return Fail(error);
}

// Ends a change begun with WorkingCopy(kBeginWorkingCopy): commit on success; on failure
// roll back, or without the backup read the repaired file's directory again.
bool QorZipFile::FinishChange(bool ok) {
    if (ok) return WorkingCopy(kCommitWorkingCopy);
    if (useBackupFile_)
        WorkingCopy(kDiscardWorkingCopy);
    else
        Reopen(mode_);
    return false;
}

// ---------------------------------------------------------------- removing

bool QorZipFile::RemoveFile(unsigned long index) {
    ClearError();
    if (mode_ == QZF_MODE_READ) return Fail(QZF_ERR_READ_ONLY);
    if (index >= entryCount_) return Fail(QZF_ERR_BAD_INDEX);
    if (!IsOpen()) return Fail(QZF_ERR_NOT_OPEN);
    entries_[index].deleted = true;
    return Compact();
}

bool QorZipFile::RemoveFile(const char* name) {
    ClearError();
    const unsigned long index = GetFileIndex(name);
    if (index == kNotFound) return false;
    return RemoveFile(index);
}

bool QorZipFile::RemoveFiles(unsigned long count, const char** names) {
    ClearError();
    if (mode_ == QZF_MODE_READ) return Fail(QZF_ERR_READ_ONLY);
    if (!IsOpen()) return Fail(QZF_ERR_NOT_OPEN);
    for (unsigned long i = 0; names && i < count; ++i) {
        const unsigned long index = GetFileIndex(names[i]);
        if (index != kNotFound) entries_[index].deleted = true;
    }
    return Compact();
}

bool QorZipFile::Compact() {
    if (entryCount_ == 0) return true;
    if (!WorkingCopy(kBeginWorkingCopy)) return false;
    return FinishChange(CompactInPlace());
}

// Moves every kept entry down over the deleted ones, writes the trailer after
// the last and cuts the file there. Without the backup a failure is repaired
// in place so that the file stays readable.
bool QorZipFile::CompactInPlace() {
    uint32_t write = entries_[0].recordPosition;
    uint32_t removed = 0, k = 0, i = 0, written = 0;
    bool ok = true;
    for (; i < entryCount_; ++i) {
        QorZipFileEntry& e = entries_[i];
        const uint32_t length = e.dataPosition + e.compressedSize - e.recordPosition;
        if (e.deleted) {
            ++k;
            ResetEntry(e);
            continue;
        }
        // Everything between the write position and this entry goes: removed
        // entries, and records of other types that lay between entries.
        removed = e.recordPosition - write;
        if (removed > 0) {
            if (!MoveBlock(e.recordPosition, write, length, &written)) {
                ok = false;
                break;
            }
            e.recordPosition = write;
            e.dataPosition -= removed;
        }
        if (k > 0) {
            entries_[i - k] = e;
            std::memset(&entries_[i], 0, sizeof entries_[i]);
        }
        write += length;
    }
    const bool moved = ok;
    if (ok) {
        entryCount_ -= k;
        ok = (qfl::Seek(AsFile(handle_), write) ||
              Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath())) &&
             WriteTrailer(write) &&
             (CutFile(AsFile(handle_), entries_, workingCopyPath_[0] != 0) ||
              Fail(QZF_ERR_WRITE_ARCHIVE, "cannot write", HandlePath()));
    }
    if (ok || useBackupFile_) return ok;
    const QZF_ERROR error = lastError_;
    const qfl::Failure cause = qfl::LastFailure();
    if (moved)
        RepairAfterFinalSteps(write);
    else
        RepairAfterFailedMove(i, k, removed, write, written);
    qfl::RestoreFailure(cause);
    return Fail(error);
}

// All blocks moved, but the trailer or the cut-off failed: try them once more.
void QorZipFile::RepairAfterFinalSteps(uint32_t write) {
    if (qfl::Seek(AsFile(handle_), write) && WriteTrailer(write))
        CutFile(AsFile(handle_), entries_, workingCopyPath_[0] != 0);
}

// Entry `failed` could not be moved down to `write`. Entries before it sit
// moved in slots [0, failed - k); it and all later ones are still where they
// were, unless the partial move overwrote its start. The gap becomes a
// record readers skip and the old trailer is given the count the file holds.
void QorZipFile::RepairAfterFailedMove(uint32_t failed, uint32_t k, uint32_t removed,
                                       uint32_t write, uint32_t written) {
    const QorZipFileEntry& f = entries_[failed];
    const uint32_t fLength = f.dataPosition + f.compressedSize - f.recordPosition;
    const bool lost = written > removed;  // the copy reached the entry's own bytes
    const uint32_t gap = removed + (lost ? fLength : 0);
    uint32_t count = 0, total = 0;
    for (uint32_t j = 0; j < failed - k; ++j, ++count) total += entries_[j].uncompressedSize;
    for (uint32_t j = failed + (lost ? 1 : 0); j < entryCount_; ++j, ++count)
        total += entries_[j].uncompressedSize;
    uint8_t head[kHeadLength];
    Put32(head + kHeadOffLength, gap);
    head[kHeadOffType] = kTypeHole;
    uint8_t trailer[kTrailerLength];
    BuildTrailer(trailer, count, total, trailerPosition_ - headerOffset_ + kTrailerLength);
    if (qfl::Seek(AsFile(handle_), write) && WriteArchive(head, sizeof head) &&
        qfl::Seek(AsFile(handle_), trailerPosition_))
        WriteArchive(trailer, sizeof trailer);
}

// Copies length bytes from `from` down to `to` (to < from) in chunks, upward
// from the start, so no byte is overwritten before it was read.
bool QorZipFile::MoveBlock(uint32_t from, uint32_t to, uint32_t length, uint32_t* written) {
    *written = 0;
    uint8_t buffer[kCopyChunk];
    qfl::File f = AsFile(handle_);
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = length - done < kCopyChunk ? length - done : kCopyChunk;
        uint32_t got = 0, put = 0;
        if (!qfl::Seek(f, static_cast<uint64_t>(from) + done) || !qfl::Read(f, buffer, n, &got) ||
            !qfl::Seek(f, static_cast<uint64_t>(to) + done))
            return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath());
        if (got != n)
            return Fail(QZF_ERR_READ_ARCHIVE, "cannot read", HandlePath(), "it ends early");
        bool wrote = qfl::Write(f, buffer, n, &put);
        *written += put;
        if (!wrote || put != n) return Fail(QZF_ERR_WRITE_ARCHIVE, "cannot write", HandlePath());
        done += n;
    }
    return true;
}

// ---------------------------------------------------------------- working copy
//
// With the backup option on, a change is made to a copy of the archive in a
// temporary file, which replaces the archive only when the change succeeded.

// Reads the directory again; the error and its cause stay those of the failure
// that made it necessary, unless the file no longer opens.
void QorZipFile::Reopen(QZF_MODE mode) {
    const QZF_ERROR kept = lastError_;
    const qfl::Failure cause = qfl::LastFailure();
    if (OpenWithin(nullptr, mode, ArchiveEnd(entries_))) {
        lastError_ = kept;
        qfl::RestoreFailure(cause);
    }
}

bool QorZipFile::WorkingCopy(BackupStep step) {
    switch (step) {
        case kBeginWorkingCopy:
            return !useBackupFile_ || BeginWorkingCopy();
        case kCommitWorkingCopy:
            return !useBackupFile_ || CommitWorkingCopy();
        case kDiscardWorkingCopy:
            if (useBackupFile_) DiscardWorkingCopy();
            return true;
    }
    return Fail(QZF_ERR_BAD_BACKUP_STEP);
}

// Copies the archive to a temporary file and points the handle at the copy.
bool QorZipFile::BeginWorkingCopy() {
    Close();
    const char* made = qzf_path::MakeTempFileName();
    if (!made || !qzf_path::Compose(workingCopyPath_, made, "") ||
        !qfl::Copy(archivePath_, workingCopyPath_)) {
        Fail(QZF_ERR_BACKUP, "cannot copy the archive to", made ? made : "");
        if (made) qfl::Remove(made);
        workingCopyPath_[0] = 0;
        Reopen(QZF_MODE_READ);
        return false;
    }
    qfl::File f = qfl::Open(workingCopyPath_, qfl::kOpenOrCreateReadWrite);
    if (f == qfl::InvalidFile()) {
        Fail(QZF_ERR_CREATE_FILE, "cannot open", workingCopyPath_);
        qfl::Remove(workingCopyPath_);
        workingCopyPath_[0] = 0;
        Reopen(QZF_MODE_READ);
        return false;
    }
    handle_ = f;
    return true;
}

// Copies the changed working copy over the archive and reopens the archive.
bool QorZipFile::CommitWorkingCopy() {
    Close();
    if (!qfl::Copy(workingCopyPath_, archivePath_)) {
        Fail(QZF_ERR_RESTORE, "cannot copy the working copy back over", archivePath_);
        const qfl::Failure cause = qfl::LastFailure();
        Reopen(QZF_MODE_READ);
        // A copy that broke off half-way leaves an archive that no longer
        // opens; the working copy then holds the only complete one and stays
        // (its path in workingCopyPath_).
        if (IsOpen()) {
            qfl::Remove(workingCopyPath_);
            workingCopyPath_[0] = 0;
        }
        qfl::RestoreFailure(cause);
        return Fail(QZF_ERR_RESTORE);  // the cause, rather than the reopen's format error
    }
    qfl::File f = qfl::Open(archivePath_, qfl::kOpenOrCreateReadWrite);
    if (f == qfl::InvalidFile()) qfl::NoteFailure("cannot open", archivePath_);
    qfl::Remove(workingCopyPath_);
    workingCopyPath_[0] = 0;
    // The archive file is now the changed copy, which ends with the archive.
    if (ObjectExtras* extras = ExtrasOf(entries_)) extras->archiveEnd = 0;
    if (f == qfl::InvalidFile()) return Fail(QZF_ERR_OPEN_FILE);
    handle_ = f;
    return true;
}

// Drops the working copy; the archive, untouched, is opened again read-only.
void QorZipFile::DiscardWorkingCopy() {
    Close();
    qfl::Remove(workingCopyPath_);
    workingCopyPath_[0] = 0;
    Reopen(QZF_MODE_READ);
}
