/* QzfFlat.h: the archive engine as plain C functions, exported by
 * TrovixInstall.exe for programs in any language.
 *
 * A QZF_HANDLE is an opaque pointer to one QorZipFile object. It comes from
 * QZF_Create, QZF_CreateWithFile or QZF_CreateWithFileAndMode and must be given
 * back to QZF_Delete. Every function except QZF_Delete expects a valid handle
 * and does not test it for null. Each forwards to the one QorZipFile member
 * named beside it (archive/QorZipFile.h states what the member does, returns
 * and leaves behind on failure); QZF_GetLastError then tells why it failed.
 *
 * Conventions: cdecl; results that are bool in the class are int 0 or 1; flag
 * arguments are int, any non-zero value meaning true; counts and indexes are
 * int (a negative index is never valid and fails with QZF_ERR_BAD_INDEX; a
 * negative count with an array returns 0 at once, the object untouched);
 * open modes are one letter: 'r' or 'R' reads only, every other letter reads
 * and writes and creates a missing archive.
 *
 * Strings returned point into the object: they stay valid until it changes
 * them (an open, an add or a removal, QZF_SetOverWritePrompt) or is deleted,
 * and must not be freed.
 *
 * Changes (adds, removals) share one buffer for temporary file names, so they
 * must not overlap any other call, not even on different handles; reading
 * (open, queries, extraction) may run on different handles at once.
 */
#ifndef QOR_ARCHIVE_QZFFLAT_H
#define QOR_ARCHIVE_QZFFLAT_H

#ifdef __cplusplus
#include "archive/QzfTypes.h"
extern "C" {
#elif defined(_WIN32)
#include <windows.h>
#endif

#if defined(_WIN32) && !defined(QZF_CALL)
#define QZF_CALL __cdecl
#elif !defined(QZF_CALL)
#define QZF_CALL
#endif

typedef struct QZF_OBJECT_* QZF_HANDLE;

/* ---- creation ---- */

/* A new object with no archive. Null when memory runs out, or when the
 * executable, loaded as a library, cannot make itself ready to run (its
 * imports cannot be bound); never when it runs as its own process. */
QZF_HANDLE QZF_CALL QZF_Create(void);
/* A new object that has tried to open path for reading only. Null only when
 * memory runs out: whether the archive opened shows through QZF_IsOpen and
 * QZF_GetLastError, and the handle must be deleted either way. */
QZF_HANDLE QZF_CALL QZF_CreateWithFile(const char* path);
/* As QZF_CreateWithFile, opening with the mode of the letter mode. */
QZF_HANDLE QZF_CALL QZF_CreateWithFileAndMode(const char* path, char mode);
/* Closes the archive and frees the object. A null handle does nothing. */
void QZF_CALL QZF_Delete(QZF_HANDLE h);

/* ---- archive ---- */

/* Open: opens path (null: the path already set) with the mode of the letter.
 * 0 on failure, the archive then closed. */
int QZF_CALL QZF_Open(QZF_HANDLE h, const char* path, char mode);
/* Close: closes the file; the directory stays readable. */
void QZF_CALL QZF_Close(QZF_HANDLE h);
/* IsOpen: 1 while the archive file is open. */
int QZF_CALL QZF_IsOpen(QZF_HANDLE h);
/* GetFileName (no argument): the archive path, "" when none is set. */
const char* QZF_CALL QZF_GetZipFileName(QZF_HANDLE h);
/* GetLastError: the QZF_ERROR code the last operation left. */
int QZF_CALL QZF_GetLastError(QZF_HANDLE h);
/* SetHeaderOffset: where the archive starts in its file, from the next open. */
void QZF_CALL QZF_SetHeaderOffset(QZF_HANDLE h, unsigned long offset);

/* ---- directory ---- */

/* GetNumFiles: the number of entries. */
unsigned long QZF_CALL QZF_GetNumFiles(QZF_HANDLE h);
/* GetFileName (by index): the stored name; null for a bad index. */
const char* QZF_CALL QZF_GetFileName(QZF_HANDLE h, int index);
/* GetFileSize, GetFileCompressedSize, GetFileAttributesA: 0 for a bad index. */
unsigned long QZF_CALL QZF_GetFileSize(QZF_HANDLE h, int index);
unsigned long QZF_CALL QZF_GetFileCompressedSize(QZF_HANDLE h, int index);
unsigned long QZF_CALL QZF_GetFileAttributes(QZF_HANDLE h, int index);
/* GetFileTimeStamp: the stored last-write time; both halves 0 for a bad index. */
FILETIME QZF_CALL QZF_GetFileTimeStamp(QZF_HANDLE h, int index);
/* GetFileIndex: the index of the entry of that name (A-Z case-blind), or
 * 0xFFFFFFFF (-1 as a signed int) when there is none. */
unsigned long QZF_CALL QZF_GetFileIndex(QZF_HANDLE h, const char* name);

/* ---- extraction (0 on failure; a destination written in part stays) ---- */

/* ExtractFile: destination null means the default place. */
int QZF_CALL QZF_ExtractFile(QZF_HANDLE h, const char* name, const char* destination);
/* ExtractFileToDir: destinationName null means name. */
int QZF_CALL QZF_ExtractFileToDir(QZF_HANDLE h, const char* directory, const char* name,
                                  const char* destinationName);
/* ExtractFiles: names null means every entry (count ignored); destinations may
 * be null. Stops at the first failure. */
int QZF_CALL QZF_ExtractFiles(QZF_HANDLE h, int count, const char** names,
                              const char** destinations);
/* ExtractFilesToDir: names null means every entry. */
int QZF_CALL QZF_ExtractFilesToDir(QZF_HANDLE h, const char* directory, int count,
                                   const char** names);

/* ---- modification (0 on failure; see QorZipFile.h for what is left) ---- */

/* AddFile: name null means the default stored name. */
int QZF_CALL QZF_AddFile(QZF_HANDLE h, const char* source, const char* name);
/* AddFiles: each source under its default name; stops at the first failure. */
int QZF_CALL QZF_AddFiles(QZF_HANDLE h, int count, const char** sources);
/* RemoveFile (by name): 0 with QZF_ERR_NONE when no entry has that name. */
int QZF_CALL QZF_RemoveFile(QZF_HANDLE h, const char* name);
/* RemoveFile (by index). */
int QZF_CALL QZF_RemoveFileByIndex(QZF_HANDLE h, int index);
/* RemoveFiles: every listed name that exists, in one pass. */
int QZF_CALL QZF_RemoveFiles(QZF_HANDLE h, int count, const char** names);
/* Save: writes the whole archive from the entries' source files. */
int QZF_CALL QZF_Save(QZF_HANDLE h);
/* GetDefFileName: fills name and fullPath (each at least 260 bytes) with the
 * stored name and the absolute path source would get; "" when too long. */
void QZF_CALL QZF_GetDefFileName(QZF_HANDLE h, const char* source, char* name, char* fullPath);

/* ---- options ---- */

/* UseBackupFile (default 1): modifications work on a backup copy. */
void QZF_CALL QZF_SetUseBackupFile(QZF_HANDLE h, int flag);
int QZF_CALL QZF_GetUseBackupFile(QZF_HANDLE h);
/* RestoreAttributes (default 0): extracted files get the stored attributes. */
void QZF_CALL QZF_SetRestoreAttributes(QZF_HANDLE h, int flag);
int QZF_CALL QZF_GetRestoreAttributes(QZF_HANDLE h);
/* RestoreTimeStamp (default 1): extracted files get the stored time. */
void QZF_CALL QZF_SetRestoreTimeStamp(QZF_HANDLE h, int flag);
int QZF_CALL QZF_GetRestoreTimeStamp(QZF_HANDLE h);
/* ExtractReadOnlyOverWrite: 0 never replace a read-only destination, 1 ask,
 * 2 (default) always replace. Any other value is stored as given (the getter
 * returns it) and acts as 2. */
void QZF_CALL QZF_SetExtractReadOnlyOverWrite(QZF_HANDLE h, int policy);
int QZF_CALL QZF_GetExtractReadOnlyOverWrite(QZF_HANDLE h);
/* OverWritePrompt: a stored copy of text (null is ignored); null until set. */
void QZF_CALL QZF_SetOverWritePrompt(QZF_HANDLE h, const char* text);
const char* QZF_CALL QZF_GetOverWritePrompt(QZF_HANDLE h);

#ifdef __cplusplus
}
#endif

#endif /* QOR_ARCHIVE_QZFFLAT_H */
