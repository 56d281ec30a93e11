// QorZipFile.h: the archive engine. One object holds one archive file open,
// keeps its directory in memory, and adds, extracts and removes entries.
//
// Every operation reports success as bool (or a null/0/0xFFFFFFFF query
// result) and leaves a QZF_ERROR code that GetLastError returns. Nothing is
// thrown; the only thing ever shown to the user is the read-only overwrite
// prompt. Sizes and positions are 32-bit: sources of 4 GiB or more and archives
// that would pass 4 GiB are refused, leaving the archive unchanged.
//
// Changes (adding, removing, saving) use one static buffer for temporary file
// names, so they must not overlap any other call, on any object. Reading
// (opening, queries, extraction) may run on different objects at once, and
// GetFileIndex on one object from several threads at once; the cause of a
// failure (archive/FileLayer.h) is kept once per process, so with calls
// overlapping it may describe another object's failure.
//
// Paths follow Windows rules on Win32 (backslashes, drive letters, case-blind
// names, 260-byte buffers). Natively '/' and '\\' both separate directories,
// absolute paths start with '/', names keep their case, and stored names are
// still written with backslashes. A composed path that does not fit 260 bytes
// fails the operation instead of being cut.
//
// The class is exported from the setup executable (member layer and flat QZF_
// functions): keep the fields, their order and the public signatures stable.
#pragma once

#include <cstdint>

#include "archive/QzfTypes.h"

// Error codes left by the last operation.
enum QZF_ERROR {
    QZF_ERR_NONE = 0,
    QZF_ERR_NO_FILE_NAME = 1,      // Open without a path while none is set
    QZF_ERR_OUT_OF_MEMORY = 2,     // the entry table cannot be allocated or grown
    QZF_ERR_BAD_INDEX = 3,         // an index not below the entry count
    QZF_ERR_OPEN_FILE = 4,         // the archive (or a source, or the archive after a restore)
                                   // cannot be opened
    QZF_ERR_CREATE_FILE = 5,       // the backup copy cannot be made (no longer from a
                                   // temporary compressed file: sources go straight in)
    QZF_ERR_READ_FILE = 6,         // no longer set (was: reading a temporary compressed file)
    QZF_ERR_WRITE_FILE = 7,        // no longer set (was: the temporary file of an extraction)
    QZF_ERR_NOT_OPEN = 8,          // a record read/write with no archive handle; Save on an
                                   // archive not open read-write
    QZF_ERR_READ_ARCHIVE = 9,      // a seek or read in the archive fails or comes up short
    QZF_ERR_WRITE_ARCHIVE = 10,    // a write/copy/move in the archive fails, or the cut-off
    QZF_ERR_BACKUP = 11,           // the archive cannot be copied to the backup file
    QZF_ERR_RESTORE = 12,          // the backup cannot be copied back over the archive
    QZF_ERR_BAD_FORMAT = 13,       // the directory is malformed
    QZF_ERR_READ_ONLY = 14,        // adding or removing in QZF_MODE_READ
    QZF_ERR_COMPRESS = 15,         // compressing a source fails (or it cannot be opened)
    QZF_ERR_EXTRACT = 16,          // decompressing fails, or a read-only destination is kept
    QZF_ERR_BAD_BACKUP_STEP = 17,  // an unknown backup step
    QZF_ERR_NOT_FOUND = 18,        // ExtractFile finds no entry of that name
    QZF_ERR_TOO_LARGE = 19,        // a source of 4 GiB or more, or an archive passing 4 GiB
};

// A short text for code ("cannot write the archive"), for tools and logs; the
// file layer's DescribeFailure (archive/FileLayer.h) gives the cause.
const char* QzfErrorText(QZF_ERROR code);

// One directory entry.
struct QorZipFileEntry {
    char* name;                 // stored name (owned, malloc'ed); null in a reset entry
    char* sourcePath;           // full path of the file to compress (owned); null if read
    uint32_t uncompressedSize;  // low 32 bits of the source size
    uint32_t compressedSize;    // size of the gzip data
    FILETIME timeStamp;         // last-write time of the source
    uint32_t attributes;        // Windows attribute bits of the source
    uint32_t recordPosition;    // absolute position of the entry record
    uint32_t dataPosition;      // absolute position of the first data byte
    bool deleted;               // marked for removal (between marking and compaction)
};

namespace qzf_internal {
class RecordReader;  // the buffered directory reader (QorZipFile.cpp)
struct LocatedOpen;  // opens an archive that ends before its file does
struct Access;       // the engine's own internal interfaces (QzfIndexed.h)
}  // namespace qzf_internal

class QorZipFile {
public:
    enum QZF_MODE {
        QZF_MODE_READ = 0,       // read only, shared with other readers, must exist
        QZF_MODE_READWRITE = 1,  // read/write, not shared, created when missing (any non-zero)
    };
    // int-based, so that any value a caller stores is one the type can hold.
    enum QZF_EXTRACT_READONLY_OVERWRITE : int {
        QZF_READONLY_NEVER = 0,   // an existing read-only destination fails the extraction
        QZF_READONLY_PROMPT = 1,  // ask; No fails the extraction
        QZF_READONLY_ALWAYS = 2,  // replace it (default; any other value acts the same)
    };

    // Options at their defaults (backup on, attributes off, time stamps on,
    // policy ALWAYS, no prompt). With a path, Open(path, mode) follows; its
    // result shows only through IsOpen and GetLastError.
    QorZipFile(const char* path = nullptr, QZF_MODE mode = QZF_MODE_READ);
    // Closes the archive and frees the directory and the prompt text.
    ~QorZipFile();

    // ---- archive ----
    // Opens path (null: the archive path already set) and reads its directory.
    // Resets entry count, error, version and trailer position first. False with
    // 1 (no path), 4 (cannot open), 9 (read error), 13 (malformed directory) or 2;
    // the handle is then closed and entries read before the failure stay counted.
    // A path whose absolute form does not fit 260 bytes fails with 1.
    bool Open(const char* path, QZF_MODE mode);
    // Closes the handle; the directory stays in memory for the queries.
    void Close();

    // ---- options ----
    void SetUseBackupFile(bool use);
    bool GetUseBackupFile() const;
    void SetRestoreAttributes(bool restore);
    bool GetRestoreAttributes() const;
    void SetRestoreTimeStamp(bool restore);
    bool GetRestoreTimeStamp() const;
    void SetExtractReadOnlyOverWrite(QZF_EXTRACT_READONLY_OVERWRITE policy);
    QZF_EXTRACT_READONLY_OVERWRITE GetExtractReadOnlyOverWrite() const;
    // Takes effect at the next Open.
    void SetHeaderOffset(unsigned long offset);
    // Stores a copy of text (null is ignored). When set and not empty it replaces
    // the built-in read-only prompt; its first "%s" becomes the destination path
    // ("%%" a percent sign; nothing else is interpreted).
    void SetOverWritePrompt(const char* text);
    const char* GetOverWritePrompt() const;  // null until set

    // The archive path; "" when none is set.
    const char* GetFileName() const;
    bool IsOpen() const;
    QZF_ERROR GetLastError();

    // ---- directory queries: error 0, or 3 with null/0 for a bad index ----
    unsigned long GetNumFiles();
    const char* GetFileName(unsigned long index);
    unsigned long GetFileSize(unsigned long index);
    unsigned long GetFileCompressedSize(unsigned long index);
    FILETIME GetFileTimeStamp(unsigned long index);
    unsigned long GetFileAttributesA(unsigned long index);
    // Index of the first entry whose name equals name (A-Z case-blind), or
    // 0xFFFFFFFF. Leaves the last error unchanged.
    unsigned long GetFileIndex(const char* name);
    // Index of the only entry whose name ends with name (case-sensitive), or
    // 0xFFFFFFFF when none or more than one does. Leaves the last error unchanged.
    unsigned long GetFileIndexSansPath(const char* name);

    // ---- extraction (any mode) ----
    // Extracts one entry to destination (null: name itself when it has a drive,
    // else the lower-cased archive directory + name), inflating straight from
    // the archive; no temporary file is made. False with 18 (no such entry), 9
    // (archive seek or read; the first 64 KiB of the entry are read before the
    // destination is touched), 16 (a read-only destination kept by the policy
    // or the prompt, a data stream that is damaged or cut short, a failed
    // create or write of the destination, or a composed path over 260 bytes,
    // in which case nothing is written). A destination written in part stays.
    bool ExtractFile(const char* name, const char* destination);
    // Extracts name below directory (as destinationName when given; absolute
    // names and destination names are used as they are).
    bool ExtractFileToDir(const char* directory, const char* name, const char* destinationName);
    // Extracts names[0..count) (null: every entry, count ignored) to
    // destinations[i] (null array: default places). Stops at the first failure.
    bool ExtractFiles(unsigned long count, const char** names, const char** destinations);
    bool ExtractFilesToDir(const char* directory, unsigned long count, const char** names);

    // ---- modification ----
    // Writes the whole archive from every entry's source file and cuts the file
    // off after the trailer. Refuses before writing anything with 8 when the
    // archive is not open read-write, and with 15 when an entry has no source
    // path (entries read from a file have none), so an existing archive or host
    // file is never destroyed. Other failures: 9/10 archive I/O, 15 compression,
    // 4 a source, 5 the backup, 19 too large. Sources are compressed straight
    // into the archive; no temporary file is made. With the backup on, a failure leaves the file
    // as it was (and the object open read-only); with it off the file is cut back
    // to the header offset (an empty archive, a host file as it was before any
    // archive) and the directory read again from it.
    bool Save();
    // Fills name (>= 260 bytes) with the name source would be stored under and
    // fullPath (>= 260 bytes) with source's absolute path. Both become "" when
    // they would not fit. Leaves the last error unchanged.
    void GetDefFileName(const char* source, char* name, char* fullPath);
    // Adds (or, under an existing name of any case, replaces) source as name
    // (null: the default name). The first add to an archive without a trailer
    // writes it whole (Save); later ones append over the trailer. 14 in read
    // mode, 8 when not open, 15 compression or a null source (nothing is added),
    // 4/5/9/10 I/O, 19 too large (a source of 4 GiB or more, a name over
    // 32767 bytes, an archive passing 4 GiB), 2 memory, 11/12 backup. A
    // replacement removes and appends in one backup session. With the backup
    // on, a failure leaves the archive file unchanged and the object open
    // read-only; with it off the file is repaired in place (the old trailer put
    // back) and the directory read again, so it never counts an entry the file
    // does not hold.
    bool AddFile(const char* source, const char* name);
    // AddFile(sources[i], null) for each; stops at the first failure.
    bool AddFiles(unsigned long count, const char** sources);
    // Removes one entry by compacting the archive in place: 14 read mode, 3 bad
    // index, 8 not open, 9/10 archive I/O, 11/12 backup. Records of unknown types
    // between entries are dropped by the compaction. Without the backup a failed
    // move leaves a skippable gap record and a matching trailer (the entry being
    // moved is lost only if the failed copy had reached its own bytes), and the
    // directory is read again.
    bool RemoveFile(unsigned long index);
    // False with error 0 when no entry has that name.
    bool RemoveFile(const char* name);
    // Removes every listed name that exists, in one compaction (even of none).
    bool RemoveFiles(unsigned long count, const char** names);

private:
    QorZipFile(const QorZipFile&) = delete;
    QorZipFile& operator=(const QorZipFile&) = delete;

    // The steps of a change made on a working copy (the backup option).
    enum BackupStep { kBeginWorkingCopy = 0, kCommitWorkingCopy = 1, kDiscardWorkingCopy = 2 };

    // Leaves code as the last error and returns false; with an action and a
    // path the file layer keeps them as the cause.
    bool Fail(QZF_ERROR code);
    bool Fail(QZF_ERROR code, const char* action, const char* path, const char* detail = nullptr);
    void ClearError();
    const char* HandlePath() const;
    using RecordReader = qzf_internal::RecordReader;
    bool ReadArchive(RecordReader& reader, uint64_t pos, void* buffer, uint32_t n);
    bool ReadDirectory();
    bool ReadHeaderRecord(RecordReader& reader, uint8_t* head, uint64_t position, uint32_t length);
    bool ReadEntryRecord(RecordReader& reader, uint8_t* head, uint64_t position, uint32_t length,
                         uint64_t fileSize, uint64_t* next);
    bool ReadTrailerRecord(RecordReader& reader, uint8_t* head, uint64_t position, uint32_t length);
    bool GrowTable(uint32_t wanted);
    void ResetEntry(QorZipFileEntry& e);
    // Extraction and reading by index (QorZipFile.cpp, QzfIndexed.cpp)
    // reach the fields through it.
    friend struct qzf_internal::Access;
    bool WriteWhole();
    bool WriteArchive(const void* data, uint32_t n);
    bool WriteTrailer(uint64_t position);
    bool AddOneEntry(QorZipFileEntry& e, uint64_t position);
    bool AppendInPlace(uint32_t oldTrailer);
    bool FinishChange(bool ok);
    bool Compact();
    bool CompactInPlace();
    bool MoveBlock(uint32_t from, uint32_t to, uint32_t length, uint32_t* written);
    void RepairAfterFinalSteps(uint32_t write);
    void RepairAfterFailedMove(uint32_t failed, uint32_t k, uint32_t removed, uint32_t write,
                               uint32_t written);
    bool WorkingCopy(BackupStep step);
    bool BeginWorkingCopy();
    bool CommitWorkingCopy();
    void DiscardWorkingCopy();
    void Reopen(QZF_MODE mode);
    // Open, reading records up to end (0: the end of the file).
    bool OpenWithin(const char* path, QZF_MODE mode, uint64_t end);
    friend struct qzf_internal::LocatedOpen;

    char archivePath_[260];
    char archiveDirectory_[260];
    char workingCopyPath_[260];  // the temporary copy a change is made on
    uint32_t entryCount_;
    uint32_t entryCapacity_;
    QorZipFileEntry* entries_;
    void* handle_;  // HANDLE on Win32; the file layer's handle elsewhere
    QZF_MODE mode_;
    QZF_ERROR lastError_;
    uint32_t formatVersion_;
    uint32_t headerOffset_;
    uint32_t trailerPosition_;
    bool useBackupFile_;
    bool restoreAttributes_;
    bool restoreTimeStamp_;
    QZF_EXTRACT_READONLY_OVERWRITE readOnlyOverwrite_;
    char* overwritePrompt_;
};
