// QzfMembers.cpp: the member layer of the export table. A program built with a
// Microsoft-ABI compiler declares QorZipFile itself and calls these under the
// class's decorated member names (archive/QorZipFile.def binds each name to its
// thunk here; scripts/gen-exports.py derives the names from QorZipFile.h).
//
// Each thunk uses that caller's member convention: this in ECX, arguments on
// the stack and removed by the callee, bool results in AL. It differs from
// g++'s own members in three places, which is why thunks are exported rather
// than the members themselves: the constructor returns this, the default
// constructor closure does not exist in g++, and a member returning a struct
// (FILETIME) takes a hidden result pointer after this and returns it.
// Options are read as whole ints or bytes; the mode is normalised here, the
// read-only policy is stored as given (its type is int-based).
//
// Nothing here relies on static construction: the executable may be loaded by
// LoadLibrary, which runs neither its entry point nor its constructors.

// Only the 32-bit Windows build exports anything; elsewhere this file is empty.
#if defined(_WIN32) && defined(__i386__)

#include <new>

#include "archive/QorZipFile.h"
#include "archive/QzfModule.h"

#define QZF_MEMBER extern "C" __attribute__((thiscall))

// A caller allocates the object itself (on its stack or with its own new), so
// the size is part of the exported interface.
static_assert(sizeof(QorZipFile) == 828, "QorZipFile's size is part of the exported interface");

namespace {

QorZipFile::QZF_MODE ModeOf(int mode) {
    return mode == 0 ? QorZipFile::QZF_MODE_READ : QorZipFile::QZF_MODE_READWRITE;
}

}  // namespace

// ---- construction ----

// Every use of the member layer starts with a constructor, so the module is
// prepared there (a no-op when the executable runs as itself). Should that
// fail, the object is left unconstructed: the member layer has no way to
// report it, and the module cannot run at all (see QzfModule.h).
QZF_MEMBER QorZipFile* QzfM_Construct(QorZipFile* self, const char* path, int mode) {
    if (QzfPrepareModule()) new (self) QorZipFile(path, ModeOf(mode));
    return self;
}

QZF_MEMBER void QzfM_DefaultConstruct(QorZipFile* self) {
    if (QzfPrepareModule()) new (self) QorZipFile();
}

QZF_MEMBER void QzfM_Destruct(QorZipFile* self) { self->~QorZipFile(); }

// ---- archive ----

QZF_MEMBER bool QzfM_Open(QorZipFile* self, const char* path, int mode) {
    return self->Open(path, ModeOf(mode));
}

QZF_MEMBER void QzfM_Close(QorZipFile* self) { self->Close(); }

QZF_MEMBER bool QzfM_IsOpen(const QorZipFile* self) { return self->IsOpen(); }

QZF_MEMBER const char* QzfM_GetZipFileName(const QorZipFile* self) { return self->GetFileName(); }

QZF_MEMBER QZF_ERROR QzfM_GetLastError(QorZipFile* self) { return self->GetLastError(); }

QZF_MEMBER void QzfM_SetHeaderOffset(QorZipFile* self, unsigned long offset) {
    self->SetHeaderOffset(offset);
}

// ---- options ----

QZF_MEMBER void QzfM_SetUseBackupFile(QorZipFile* self, unsigned char use) {
    self->SetUseBackupFile(use != 0);
}

QZF_MEMBER bool QzfM_GetUseBackupFile(const QorZipFile* self) { return self->GetUseBackupFile(); }

QZF_MEMBER void QzfM_SetRestoreAttributes(QorZipFile* self, unsigned char restore) {
    self->SetRestoreAttributes(restore != 0);
}

QZF_MEMBER bool QzfM_GetRestoreAttributes(const QorZipFile* self) {
    return self->GetRestoreAttributes();
}

QZF_MEMBER void QzfM_SetRestoreTimeStamp(QorZipFile* self, unsigned char restore) {
    self->SetRestoreTimeStamp(restore != 0);
}

QZF_MEMBER bool QzfM_GetRestoreTimeStamp(const QorZipFile* self) {
    return self->GetRestoreTimeStamp();
}

QZF_MEMBER void QzfM_SetExtractReadOnlyOverWrite(QorZipFile* self, int policy) {
    self->SetExtractReadOnlyOverWrite(
        static_cast<QorZipFile::QZF_EXTRACT_READONLY_OVERWRITE>(policy));
}

QZF_MEMBER int QzfM_GetExtractReadOnlyOverWrite(const QorZipFile* self) {
    return self->GetExtractReadOnlyOverWrite();
}

QZF_MEMBER void QzfM_SetOverWritePrompt(QorZipFile* self, const char* text) {
    self->SetOverWritePrompt(text);
}

QZF_MEMBER const char* QzfM_GetOverWritePrompt(const QorZipFile* self) {
    return self->GetOverWritePrompt();
}

// ---- directory ----

QZF_MEMBER unsigned long QzfM_GetNumFiles(QorZipFile* self) { return self->GetNumFiles(); }

QZF_MEMBER const char* QzfM_GetFileName(QorZipFile* self, unsigned long index) {
    return self->GetFileName(index);
}

QZF_MEMBER unsigned long QzfM_GetFileSize(QorZipFile* self, unsigned long index) {
    return self->GetFileSize(index);
}

QZF_MEMBER unsigned long QzfM_GetFileCompressedSize(QorZipFile* self, unsigned long index) {
    return self->GetFileCompressedSize(index);
}

QZF_MEMBER FILETIME* QzfM_GetFileTimeStamp(QorZipFile* self, FILETIME* result,
                                           unsigned long index) {
    *result = self->GetFileTimeStamp(index);
    return result;
}

QZF_MEMBER unsigned long QzfM_GetFileAttributesA(QorZipFile* self, unsigned long index) {
    return self->GetFileAttributesA(index);
}

QZF_MEMBER unsigned long QzfM_GetFileIndex(QorZipFile* self, const char* name) {
    return self->GetFileIndex(name);
}

QZF_MEMBER unsigned long QzfM_GetFileIndexSansPath(QorZipFile* self, const char* name) {
    return self->GetFileIndexSansPath(name);
}

// ---- extraction ----

QZF_MEMBER bool QzfM_ExtractFile(QorZipFile* self, const char* name, const char* destination) {
    return self->ExtractFile(name, destination);
}

QZF_MEMBER bool QzfM_ExtractFileToDir(QorZipFile* self, const char* directory, const char* name,
                                      const char* destinationName) {
    return self->ExtractFileToDir(directory, name, destinationName);
}

QZF_MEMBER bool QzfM_ExtractFiles(QorZipFile* self, unsigned long count, const char** names,
                                  const char** destinations) {
    return self->ExtractFiles(count, names, destinations);
}

QZF_MEMBER bool QzfM_ExtractFilesToDir(QorZipFile* self, const char* directory, unsigned long count,
                                       const char** names) {
    return self->ExtractFilesToDir(directory, count, names);
}

// ---- modification ----

QZF_MEMBER bool QzfM_Save(QorZipFile* self) { return self->Save(); }

QZF_MEMBER void QzfM_GetDefFileName(QorZipFile* self, const char* source, char* name,
                                    char* fullPath) {
    self->GetDefFileName(source, name, fullPath);
}

QZF_MEMBER bool QzfM_AddFile(QorZipFile* self, const char* source, const char* name) {
    return self->AddFile(source, name);
}

QZF_MEMBER bool QzfM_AddFiles(QorZipFile* self, unsigned long count, const char** sources) {
    return self->AddFiles(count, sources);
}

QZF_MEMBER bool QzfM_RemoveFileByIndex(QorZipFile* self, unsigned long index) {
    return self->RemoveFile(index);
}

QZF_MEMBER bool QzfM_RemoveFile(QorZipFile* self, const char* name) {
    return self->RemoveFile(name);
}

QZF_MEMBER bool QzfM_RemoveFiles(QorZipFile* self, unsigned long count, const char** names) {
    return self->RemoveFiles(count, names);
}

#endif  // defined(_WIN32) && defined(__i386__)
