// QzfFlat.cpp: the flat C layer over QorZipFile. Each function is one
// forwarding call; other programs reach these through the executable's export
// table after LoadLibrary, so nothing here may rely on static construction.
// Objects live in malloc'ed memory: operator new would report a failure by
// throwing, and an executable loaded as a library has no exception support set
// up (its runtime's start-up code never ran).
#include "archive/QzfFlat.h"

#include <cstdlib>
#include <new>

#include "archive/QorZipFile.h"
#include "archive/QzfModule.h"
#include "contract/AsciiCase.h"

namespace {

QorZipFile* Obj(QZF_HANDLE h) { return reinterpret_cast<QorZipFile*>(h); }

QZF_HANDLE Handle(QorZipFile* z) { return reinterpret_cast<QZF_HANDLE>(z); }

int Int(bool b) { return b ? 1 : 0; }

// A constructed object in fresh memory, or null when memory runs out or the
// module cannot run (see QzfModule.h); the creation functions' only failures.
QZF_HANDLE NewObject(const char* path, QorZipFile::QZF_MODE mode) {
    if (!QzfPrepareModule()) return nullptr;
    void* memory = std::malloc(sizeof(QorZipFile));
    if (!memory) return nullptr;
    return Handle(new (memory) QorZipFile(path, mode));
}

// 'r' and 'R' read only; any other letter reads and writes.
QorZipFile::QZF_MODE ModeOf(char letter) {
    return qor_case::FoldAscii(letter) == 'r' ? QorZipFile::QZF_MODE_READ
                                              : QorZipFile::QZF_MODE_READWRITE;
}

// A negative index becomes a huge unsigned one, which the engine rejects as a
// bad index.
unsigned long Index(int i) { return static_cast<unsigned long>(static_cast<long>(i)); }

// A negative count with an array would walk far past its end: refused before
// the engine sees it.
bool BadCount(int count, const char* const* array) { return count < 0 && array != nullptr; }

}  // namespace

extern "C" {

QZF_HANDLE QZF_CALL QZF_Create(void) { return NewObject(nullptr, QorZipFile::QZF_MODE_READ); }

QZF_HANDLE QZF_CALL QZF_CreateWithFile(const char* path) {
    return NewObject(path, QorZipFile::QZF_MODE_READ);
}

QZF_HANDLE QZF_CALL QZF_CreateWithFileAndMode(const char* path, char mode) {
    return NewObject(path, ModeOf(mode));
}

void QZF_CALL QZF_Delete(QZF_HANDLE h) {
    if (!h) return;
    Obj(h)->~QorZipFile();
    std::free(Obj(h));
}

int QZF_CALL QZF_Open(QZF_HANDLE h, const char* path, char mode) {
    return Int(Obj(h)->Open(path, ModeOf(mode)));
}

void QZF_CALL QZF_Close(QZF_HANDLE h) { Obj(h)->Close(); }

int QZF_CALL QZF_IsOpen(QZF_HANDLE h) { return Int(Obj(h)->IsOpen()); }

const char* QZF_CALL QZF_GetZipFileName(QZF_HANDLE h) {
    return static_cast<const QorZipFile*>(Obj(h))->GetFileName();
}

int QZF_CALL QZF_GetLastError(QZF_HANDLE h) { return static_cast<int>(Obj(h)->GetLastError()); }

void QZF_CALL QZF_SetHeaderOffset(QZF_HANDLE h, unsigned long offset) {
    Obj(h)->SetHeaderOffset(offset);
}

unsigned long QZF_CALL QZF_GetNumFiles(QZF_HANDLE h) { return Obj(h)->GetNumFiles(); }

const char* QZF_CALL QZF_GetFileName(QZF_HANDLE h, int index) {
    return Obj(h)->GetFileName(Index(index));
}

unsigned long QZF_CALL QZF_GetFileSize(QZF_HANDLE h, int index) {
    return Obj(h)->GetFileSize(Index(index));
}

unsigned long QZF_CALL QZF_GetFileCompressedSize(QZF_HANDLE h, int index) {
    return Obj(h)->GetFileCompressedSize(Index(index));
}

unsigned long QZF_CALL QZF_GetFileAttributes(QZF_HANDLE h, int index) {
    return Obj(h)->GetFileAttributesA(Index(index));
}

FILETIME QZF_CALL QZF_GetFileTimeStamp(QZF_HANDLE h, int index) {
    return Obj(h)->GetFileTimeStamp(Index(index));
}

unsigned long QZF_CALL QZF_GetFileIndex(QZF_HANDLE h, const char* name) {
    return Obj(h)->GetFileIndex(name);
}

int QZF_CALL QZF_ExtractFile(QZF_HANDLE h, const char* name, const char* destination) {
    return Int(Obj(h)->ExtractFile(name, destination));
}

int QZF_CALL QZF_ExtractFileToDir(QZF_HANDLE h, const char* directory, const char* name,
                                  const char* destinationName) {
    return Int(Obj(h)->ExtractFileToDir(directory, name, destinationName));
}

int QZF_CALL QZF_ExtractFiles(QZF_HANDLE h, int count, const char** names,
                              const char** destinations) {
    if (BadCount(count, names)) return 0;
    return Int(Obj(h)->ExtractFiles(static_cast<unsigned long>(count), names, destinations));
}

int QZF_CALL QZF_ExtractFilesToDir(QZF_HANDLE h, const char* directory, int count,
                                   const char** names) {
    if (BadCount(count, names)) return 0;
    return Int(Obj(h)->ExtractFilesToDir(directory, static_cast<unsigned long>(count), names));
}

int QZF_CALL QZF_AddFile(QZF_HANDLE h, const char* source, const char* name) {
    return Int(Obj(h)->AddFile(source, name));
}

int QZF_CALL QZF_AddFiles(QZF_HANDLE h, int count, const char** sources) {
    if (BadCount(count, sources)) return 0;
    return Int(Obj(h)->AddFiles(static_cast<unsigned long>(count), sources));
}

int QZF_CALL QZF_RemoveFile(QZF_HANDLE h, const char* name) {
    return Int(Obj(h)->RemoveFile(name));
}

int QZF_CALL QZF_RemoveFileByIndex(QZF_HANDLE h, int index) {
    return Int(Obj(h)->RemoveFile(Index(index)));
}

int QZF_CALL QZF_RemoveFiles(QZF_HANDLE h, int count, const char** names) {
    if (BadCount(count, names)) return 0;
    return Int(Obj(h)->RemoveFiles(static_cast<unsigned long>(count), names));
}

int QZF_CALL QZF_Save(QZF_HANDLE h) { return Int(Obj(h)->Save()); }

void QZF_CALL QZF_GetDefFileName(QZF_HANDLE h, const char* source, char* name, char* fullPath) {
    Obj(h)->GetDefFileName(source, name, fullPath);
}

void QZF_CALL QZF_SetUseBackupFile(QZF_HANDLE h, int flag) { Obj(h)->SetUseBackupFile(flag != 0); }

int QZF_CALL QZF_GetUseBackupFile(QZF_HANDLE h) { return Int(Obj(h)->GetUseBackupFile()); }

void QZF_CALL QZF_SetRestoreAttributes(QZF_HANDLE h, int flag) {
    Obj(h)->SetRestoreAttributes(flag != 0);
}

int QZF_CALL QZF_GetRestoreAttributes(QZF_HANDLE h) { return Int(Obj(h)->GetRestoreAttributes()); }

void QZF_CALL QZF_SetRestoreTimeStamp(QZF_HANDLE h, int flag) {
    Obj(h)->SetRestoreTimeStamp(flag != 0);
}

int QZF_CALL QZF_GetRestoreTimeStamp(QZF_HANDLE h) { return Int(Obj(h)->GetRestoreTimeStamp()); }

void QZF_CALL QZF_SetExtractReadOnlyOverWrite(QZF_HANDLE h, int policy) {
    // Stored as given, like the member function: the getter returns it, and
    // every value but 0 and 1 acts as "always replace" when extracting.
    Obj(h)->SetExtractReadOnlyOverWrite(
        static_cast<QorZipFile::QZF_EXTRACT_READONLY_OVERWRITE>(policy));
}

int QZF_CALL QZF_GetExtractReadOnlyOverWrite(QZF_HANDLE h) {
    return static_cast<int>(Obj(h)->GetExtractReadOnlyOverWrite());
}

void QZF_CALL QZF_SetOverWritePrompt(QZF_HANDLE h, const char* text) {
    Obj(h)->SetOverWritePrompt(text);
}

const char* QZF_CALL QZF_GetOverWritePrompt(QZF_HANDLE h) { return Obj(h)->GetOverWritePrompt(); }

}  // extern "C"
