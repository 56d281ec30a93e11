/* Loads TrovixInstall.exe as another program would (LoadLibraryA: neither its
 * entry point nor its static constructors run), resolves the 38 flat
 * functions by name and drives the archive engine through them, after a first
 * round through the member layer's decorated exports.
 *
 * Usage: flat_loadlibrary [path\to\TrovixInstall.exe]  (default: next to this
 * program). Exit code 0 when every check passes. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "archive/QzfFlat.h"

static int g_failures;
static int g_checks;

#define CHECK(cond)                                                  \
    do {                                                             \
        ++g_checks;                                                  \
        if (!(cond)) {                                               \
            ++g_failures;                                            \
            printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #cond); \
        }                                                            \
    } while (0)
#define CHECK_STR(a, b) CHECK((a) != NULL && strcmp((a), (b)) == 0)

/* The 38 flat exports; each gets a pointer typed from QzfFlat.h's prototype. */
/* clang-format off */
#define QZF_FUNCTIONS(X)                                                                  \
    X(AddFile) X(AddFiles) X(Close) X(Create) X(CreateWithFile) X(CreateWithFileAndMode)  \
    X(Delete) X(ExtractFile) X(ExtractFileToDir) X(ExtractFiles) X(ExtractFilesToDir)     \
    X(GetDefFileName) X(GetExtractReadOnlyOverWrite) X(GetFileAttributes)                 \
    X(GetFileCompressedSize) X(GetFileIndex) X(GetFileName) X(GetFileSize)                \
    X(GetFileTimeStamp) X(GetLastError) X(GetNumFiles) X(GetOverWritePrompt)              \
    X(GetRestoreAttributes) X(GetRestoreTimeStamp) X(GetUseBackupFile) X(GetZipFileName)  \
    X(IsOpen) X(Open) X(RemoveFile) X(RemoveFileByIndex) X(RemoveFiles) X(Save)           \
    X(SetExtractReadOnlyOverWrite) X(SetHeaderOffset) X(SetOverWritePrompt)               \
    X(SetRestoreAttributes) X(SetRestoreTimeStamp) X(SetUseBackupFile)
/* clang-format on */

#define DECLARE(name) static __typeof__(&QZF_##name) p##name;
QZF_FUNCTIONS(DECLARE)

static char g_work[MAX_PATH]; /* scratch folder, with a trailing backslash */
static HMODULE g_module;      /* the loaded executable */

static void Path(char* out, const char* rel) { snprintf(out, MAX_PATH, "%s%s", g_work, rel); }

static int WriteBytes(const char* rel, const void* data, DWORD size) {
    char p[MAX_PATH];
    Path(p, rel);
    HANDLE f = CreateFileA(p, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return 0;
    DWORD done = 0;
    BOOL ok = WriteFile(f, data, size, &done, NULL);
    CloseHandle(f);
    return ok && done == size;
}

/* 1 when the file at abs holds exactly size bytes equal to data. */
static int SameBytes(const char* abs, const void* data, DWORD size) {
    static char buf[200000];
    HANDLE f = CreateFileA(abs, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    BOOL ok = ReadFile(f, buf, sizeof buf, &got, NULL);
    CloseHandle(f);
    return ok && got == size && memcmp(buf, data, size) == 0;
}

static int Exists(const char* abs) { return GetFileAttributesA(abs) != INVALID_FILE_ATTRIBUTES; }

static const char kAlpha[] = "alpha: the first file of the archive\r\n";
static unsigned char g_beta[150000]; /* several 64 KiB blocks, poorly compressible */
static const char kGamma[] = "gamma";

static int LoadExports(const char* exePath) {
    HMODULE m = LoadLibraryA(exePath);
    g_module = m;
    if (!m) {
        printf("LoadLibraryA(%s) failed: %lu\n", exePath, GetLastError());
        return 0;
    }
#define RESOLVE(name)                                                      \
    p##name = (__typeof__(p##name))(void*)GetProcAddress(m, "QZF_" #name); \
    CHECK(p##name != NULL);
    QZF_FUNCTIONS(RESOLVE)
    /* This program sits at the executable's link address, so the executable
     * was mapped elsewhere and had to relocate itself. */
    CHECK((void*)m != (void*)GetModuleHandleA(NULL));
    /* Ordinals 39..76 are the flat functions in name order; 1..38 the members,
     * which only the 32-bit build has. */
    CHECK((void*)GetProcAddress(m, MAKEINTRESOURCEA(39)) == (void*)pAddFile);
    CHECK((void*)GetProcAddress(m, MAKEINTRESOURCEA(76)) == (void*)pSetUseBackupFile);
#if defined(__i386__)
    CHECK(GetProcAddress(m, MAKEINTRESOURCEA(1)) != NULL);
#else
    CHECK(GetProcAddress(m, MAKEINTRESOURCEA(1)) == NULL);
#endif
    CHECK(GetProcAddress(m, MAKEINTRESOURCEA(77)) == NULL);
    /* Nothing else is exported: not the thunks, not the runtime's functions. */
    CHECK(GetProcAddress(m, "QzfM_Construct") == NULL);
    CHECK(GetProcAddress(m, "main") == NULL && GetProcAddress(m, "WinMain") == NULL);
    return g_failures == 0;
}

static void TestHandleBasics(void) {
    pDelete(NULL); /* must do nothing */

    QZF_HANDLE h = pCreate();
    CHECK(h != NULL);
    CHECK_STR(pGetZipFileName(h), "");
    /* The archive path is the object's first field: callers may rely on it. */
    CHECK(pGetZipFileName(h) == (const char*)h);
    CHECK(pIsOpen(h) == 0);
    CHECK(pGetNumFiles(h) == 0);
    CHECK(pGetUseBackupFile(h) == 1);
    CHECK(pGetRestoreAttributes(h) == 0);
    CHECK(pGetRestoreTimeStamp(h) == 1);
    CHECK(pGetExtractReadOnlyOverWrite(h) == 2);
    CHECK(pGetOverWritePrompt(h) == NULL);

    /* Any non-zero flag is true, and comes back as exactly 1. */
    pSetUseBackupFile(h, 2);
    CHECK(pGetUseBackupFile(h) == 1);
    pSetUseBackupFile(h, 0);
    CHECK(pGetUseBackupFile(h) == 0);
    pSetRestoreAttributes(h, -1);
    CHECK(pGetRestoreAttributes(h) == 1);
    pSetRestoreTimeStamp(h, 0);
    CHECK(pGetRestoreTimeStamp(h) == 0);
    pSetRestoreTimeStamp(h, 0x100); /* only the high bits set: still true */
    CHECK(pGetRestoreTimeStamp(h) == 1);
    pSetExtractReadOnlyOverWrite(h, 0);
    CHECK(pGetExtractReadOnlyOverWrite(h) == 0);
    pSetExtractReadOnlyOverWrite(h, 1);
    CHECK(pGetExtractReadOnlyOverWrite(h) == 1);
    pSetExtractReadOnlyOverWrite(h, 7); /* acts as "always", stored as given */
    CHECK(pGetExtractReadOnlyOverWrite(h) == 7);
    pSetExtractReadOnlyOverWrite(h, -1);
    CHECK(pGetExtractReadOnlyOverWrite(h) == -1);

    char prompt[] = "Replace %s?";
    pSetOverWritePrompt(h, prompt);
    prompt[0] = 'X'; /* the object keeps its own copy */
    CHECK_STR(pGetOverWritePrompt(h), "Replace %s?");

    /* No path yet: Open without one fails with QZF_ERR_NO_FILE_NAME. */
    CHECK(pOpen(h, NULL, 'r') == 0);
    CHECK(pGetLastError(h) == 1);
    pDelete(h);
}

static void TestModeLetters(void) {
    char missing[MAX_PATH], created[MAX_PATH], created2[MAX_PATH];
    Path(missing, "missing.qzf");
    Path(created, "created-x.qzf");
    Path(created2, "created-a.qzf");

    /* 'R' and the default of CreateWithFile read only: a missing file stays missing. */
    QZF_HANDLE h = pCreateWithFileAndMode(missing, 'R');
    CHECK(h != NULL);
    CHECK(pIsOpen(h) == 0);
    CHECK(pGetLastError(h) == 4);
    CHECK(!Exists(missing));
    pDelete(h);
    h = pCreateWithFile(missing);
    CHECK(h != NULL && pIsOpen(h) == 0 && pGetLastError(h) == 4);
    CHECK(!Exists(missing));
    pDelete(h);

    /* Any other letter reads and writes and creates the archive. */
    h = pCreateWithFileAndMode(created, 'x');
    CHECK(h != NULL && pIsOpen(h) == 1 && pGetLastError(h) == 0);
    CHECK(pGetNumFiles(h) == 0);
    CHECK(Exists(created));
    CHECK_STR(pGetZipFileName(h), created);
    pDelete(h);

    h = pCreate();
    CHECK(pOpen(h, created2, 'a') == 1);
    CHECK(Exists(created2));
    pClose(h);
    CHECK(pIsOpen(h) == 0);
    CHECK(pOpen(h, NULL, 'r') == 1); /* reopens the path already set */
    CHECK(pOpen(h, missing, 'r') == 0);
    pDelete(h);
}

static void TestFlow(void) {
    char archive[MAX_PATH], a[MAX_PATH], b[MAX_PATH], c[MAX_PATH], out[MAX_PATH], dir[MAX_PATH];
    Path(archive, "flow.qzf");
    Path(a, "src\\alpha.txt");
    Path(b, "src\\beta.bin");
    Path(c, "gamma.txt");
    CHECK(WriteBytes("src\\alpha.txt", kAlpha, sizeof kAlpha - 1));
    CHECK(WriteBytes("src\\beta.bin", g_beta, sizeof g_beta));
    CHECK(WriteBytes("gamma.txt", kGamma, sizeof kGamma - 1));

    /* create, add */
    QZF_HANDLE h = pCreateWithFileAndMode(archive, 'w');
    CHECK(h != NULL && pIsOpen(h) == 1);
    CHECK(pAddFile(h, a, "docs\\Alpha.txt") == 1);
    CHECK(pAddFile(h, b, NULL) == 1); /* default name: relative to the archive */
    const char* more[] = {c};
    CHECK(pAddFiles(h, 1, more) == 1);
    CHECK(pGetLastError(h) == 0);
    CHECK(pAddFiles(h, -1, more) == 0); /* refused before the engine walks the array */
    CHECK(pGetNumFiles(h) == 3);

    /* list */
    CHECK_STR(pGetFileName(h, 0), "docs\\Alpha.txt");
    CHECK_STR(pGetFileName(h, 1), "src\\beta.bin");
    CHECK_STR(pGetFileName(h, 2), "gamma.txt");
    CHECK(pGetFileIndex(h, "DOCS\\alpha.TXT") == 0);
    CHECK(pGetFileIndex(h, "gamma.txt") == 2);
    CHECK(pGetFileIndex(h, "absent.txt") == 0xFFFFFFFFul);
    CHECK((int)pGetFileIndex(h, "absent.txt") == -1);
    CHECK(pGetFileSize(h, 0) == sizeof kAlpha - 1);
    CHECK(pGetFileSize(h, 1) == sizeof g_beta);
    CHECK(pGetFileCompressedSize(h, 1) > 0);
    CHECK(pGetFileAttributes(h, 0) == GetFileAttributesA(a));

    WIN32_FILE_ATTRIBUTE_DATA info;
    CHECK(GetFileAttributesExA(a, GetFileExInfoStandard, &info));
    FILETIME t = pGetFileTimeStamp(h, 0); /* 64 bits returned by value */
    CHECK(t.dwLowDateTime == info.ftLastWriteTime.dwLowDateTime);
    CHECK(t.dwHighDateTime == info.ftLastWriteTime.dwHighDateTime);
    CHECK(t.dwHighDateTime != 0);

    /* bad indexes: null or 0, error 3; a good query sets the error back to 0 */
    CHECK(pGetFileName(h, 3) == NULL);
    CHECK(pGetLastError(h) == 3);
    CHECK(pGetFileSize(h, 0) != 0 && pGetLastError(h) == 0);
    CHECK(pGetFileName(h, -1) == NULL && pGetLastError(h) == 3);
    CHECK(pGetFileSize(h, -1) == 0 && pGetFileCompressedSize(h, 99) == 0);
    CHECK(pGetFileAttributes(h, 3) == 0);
    t = pGetFileTimeStamp(h, 3);
    CHECK(t.dwLowDateTime == 0 && t.dwHighDateTime == 0 && pGetLastError(h) == 3);

    /* extract */
    Path(out, "out\\one\\alpha.txt");
    CHECK(pExtractFile(h, "docs\\Alpha.txt", out) == 1);
    CHECK(SameBytes(out, kAlpha, sizeof kAlpha - 1));
    Path(dir, "out\\two");
    CHECK(pExtractFileToDir(h, dir, "src\\beta.bin", "renamed.bin") == 1);
    Path(out, "out\\two\\renamed.bin");
    CHECK(SameBytes(out, g_beta, sizeof g_beta));
    Path(dir, "out\\all");
    CHECK(pExtractFilesToDir(h, dir, 0, NULL) == 1); /* null names: every entry */
    Path(out, "out\\all\\docs\\Alpha.txt");
    CHECK(SameBytes(out, kAlpha, sizeof kAlpha - 1));
    Path(out, "out\\all\\gamma.txt");
    CHECK(SameBytes(out, kGamma, sizeof kGamma - 1));
    char d1[MAX_PATH], d2[MAX_PATH];
    Path(d1, "out\\pair\\1.txt");
    Path(d2, "out\\pair\\2.bin");
    const char* names[] = {"gamma.txt", "src\\beta.bin"};
    const char* dests[] = {d1, d2};
    CHECK(pExtractFiles(h, 2, names, dests) == 1);
    CHECK(SameBytes(d1, kGamma, sizeof kGamma - 1) && SameBytes(d2, g_beta, sizeof g_beta));
    CHECK(pExtractFiles(h, -2, names, dests) == 0);
    CHECK(pExtractFile(h, "absent.txt", d1) == 0);
    CHECK(pGetLastError(h) == 18);

    /* remove */
    CHECK(pRemoveFile(h, "absent.txt") == 0);
    CHECK(pGetLastError(h) == 0);
    CHECK(pRemoveFile(h, "DOCS\\ALPHA.TXT") == 1);
    CHECK(pGetNumFiles(h) == 2);
    CHECK_STR(pGetFileName(h, 0), "src\\beta.bin");
    CHECK(pRemoveFileByIndex(h, 5) == 0 && pGetLastError(h) == 3);
    CHECK(pRemoveFileByIndex(h, 0) == 1);
    CHECK(pGetNumFiles(h) == 1);
    CHECK_STR(pGetFileName(h, 0), "gamma.txt");
    pDelete(h);

    /* reopen: what was written is what is read */
    h = pCreateWithFile(archive);
    CHECK(h != NULL && pIsOpen(h) == 1);
    CHECK_STR(pGetZipFileName(h), archive);
    CHECK(pGetNumFiles(h) == 1);
    CHECK_STR(pGetFileName(h, 0), "gamma.txt");
    CHECK(pAddFile(h, a, NULL) == 0); /* read only */
    CHECK(pGetLastError(h) == 14);
    CHECK(pSave(h) == 0); /* refused, and the archive survives */
    CHECK(Exists(archive));
    Path(out, "out\\again\\gamma.txt");
    CHECK(pExtractFile(h, "gamma.txt", out) == 1 && SameBytes(out, kGamma, sizeof kGamma - 1));

    CHECK(pOpen(h, archive, 'W') == 1);
    const char* both[] = {a, b};
    CHECK(pAddFiles(h, 2, both) == 1);
    CHECK(pGetNumFiles(h) == 3);
    const char* gone[] = {"gamma.txt", "src\\alpha.txt", "absent"};
    CHECK(pRemoveFiles(h, 3, gone) == 1);
    CHECK(pGetNumFiles(h) == 1);
    CHECK_STR(pGetFileName(h, 0), "src\\beta.bin");
    pClose(h);
    CHECK(pIsOpen(h) == 0);
    CHECK(pGetNumFiles(h) == 1); /* the directory stays after Close */
    pDelete(h);

    h = pCreateWithFileAndMode(archive, 'r');
    CHECK(pGetNumFiles(h) == 1 && pGetFileSize(h, 0) == sizeof g_beta);
    pDelete(h);

    /* The same archive behind 5000 bytes of host file: found at its offset. */
    static char host[sizeof g_beta + 10000];
    HANDLE f = CreateFileA(archive, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD got = 0;
    memset(host, 'H', 5000);
    CHECK(f != INVALID_HANDLE_VALUE && ReadFile(f, host + 5000, sizeof host - 5000, &got, NULL));
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    CHECK(got > 0 && got < sizeof host - 5000);
    CHECK(WriteBytes("host.bin", host, 5000 + got));
    Path(out, "host.bin");
    h = pCreate();
    CHECK(pOpen(h, out, 'r') == 0); /* at offset 0 the host's bytes are no archive */
    pSetHeaderOffset(h, 5000);
    CHECK(pOpen(h, out, 'r') == 1);
    CHECK(pGetNumFiles(h) == 1);
    Path(d1, "out\\host\\beta.bin");
    CHECK(pExtractFile(h, "src\\beta.bin", d1) == 1 && SameBytes(d1, g_beta, sizeof g_beta));
    pDelete(h);
}

static void TestDefFileName(void) {
    char archive[MAX_PATH], src[MAX_PATH], name[MAX_PATH], full[MAX_PATH];
    Path(archive, "names\\arch.qzf");
    Path(src, "names\\sub\\F.txt");
    char folder[MAX_PATH];
    Path(folder, "names");
    CreateDirectoryA(folder, NULL);
    QZF_HANDLE h = pCreateWithFileAndMode(archive, 'w');
    pGetDefFileName(h, src, name, full);
    CHECK_STR(name, "sub\\F.txt");
    CHECK_STR(full, src);
    pDelete(h);
}

#if defined(__i386__)
/* The member layer through LoadLibraryA, run before any flat call so that a
 * constructor is what makes the module ready. Each export is called through a
 * pointer typed as a Microsoft-ABI compiler calls the member: this in ECX, the
 * callee pops, bool in AL, a FILETIME result through a hidden pointer. */
#define MEMBER __attribute__((thiscall))
typedef void*(MEMBER* CtorFn)(void* self, const char* path, int mode);
typedef void(MEMBER* SelfFn)(void* self);
typedef unsigned char(MEMBER* BoolFn)(void* self);
typedef void(MEMBER* SetBoolFn)(void* self, unsigned char flag);
typedef unsigned long(MEMBER* CountFn)(void* self);
typedef int(MEMBER* ErrorFn)(void* self);
typedef const char*(MEMBER* NameAtFn)(void* self, unsigned long index);
typedef unsigned char(MEMBER* AddFn)(void* self, const char* source, const char* name);
typedef unsigned char(MEMBER* OpenFn)(void* self, const char* path, int mode);
typedef FILETIME*(MEMBER* StampFn)(void* self, FILETIME* result, unsigned long index);

static void TestMemberLayer(HMODULE m) {
#define MEMBER_EXPORT(type, var, name)               \
    type var = (type)(void*)GetProcAddress(m, name); \
    CHECK(var != NULL);
    MEMBER_EXPORT(CtorFn, construct, "??0QorZipFile@@QAE@PBDW4QZF_MODE@0@@Z")
    MEMBER_EXPORT(SelfFn, destroy, "??1QorZipFile@@QAE@XZ")
    MEMBER_EXPORT(SelfFn, closure, "??_FQorZipFile@@QAEXXZ")
    MEMBER_EXPORT(BoolFn, isOpen, "?IsOpen@QorZipFile@@QBE_NXZ")
    MEMBER_EXPORT(OpenFn, open, "?Open@QorZipFile@@QAE_NPBDW4QZF_MODE@1@@Z")
    MEMBER_EXPORT(ErrorFn, lastError, "?GetLastError@QorZipFile@@QAE?AW4QZF_ERROR@@XZ")
    MEMBER_EXPORT(SetBoolFn, setBackup, "?SetUseBackupFile@QorZipFile@@QAEX_N@Z")
    MEMBER_EXPORT(BoolFn, getBackup, "?GetUseBackupFile@QorZipFile@@QBE_NXZ")
    MEMBER_EXPORT(AddFn, addFile, "?AddFile@QorZipFile@@QAE_NPBD0@Z")
    MEMBER_EXPORT(CountFn, numFiles, "?GetNumFiles@QorZipFile@@QAEKXZ")
    MEMBER_EXPORT(NameAtFn, nameAt, "?GetFileName@QorZipFile@@QAEPBDK@Z")
    MEMBER_EXPORT(StampFn, stamp, "?GetFileTimeStamp@QorZipFile@@QAE?AU_FILETIME@@K@Z")
#undef MEMBER_EXPORT
    if (g_failures) return;

    static __attribute__((aligned(8))) char object[1024];
    char archive[MAX_PATH], source[MAX_PATH];
    Path(archive, "members.qzf");
    Path(source, "member-src.txt");
    CHECK(WriteBytes("member-src.txt", kGamma, sizeof kGamma - 1));

    CHECK(construct(object, archive, 1) == object);
    CHECK(isOpen(object) == 1 && lastError(object) == 0);
    CHECK(Exists(archive));
    CHECK(pGetZipFileName((QZF_HANDLE)object) == object); /* the same object, flat */
    setBackup(object, 0);
    CHECK(getBackup(object) == 0);
    setBackup(object, 1);
    CHECK(getBackup(object) == 1);
    CHECK(addFile(object, source, "m\\gamma.txt") == 1);
    CHECK(numFiles(object) == 1);
    CHECK_STR(nameAt(object, 0), "m\\gamma.txt");
    CHECK(nameAt(object, 1) == NULL && lastError(object) == 3);
    WIN32_FILE_ATTRIBUTE_DATA info;
    CHECK(GetFileAttributesExA(source, GetFileExInfoStandard, &info));
    FILETIME t = {1, 1};
    CHECK(stamp(object, &t, 0) == &t);
    CHECK(t.dwLowDateTime == info.ftLastWriteTime.dwLowDateTime &&
          t.dwHighDateTime == info.ftLastWriteTime.dwHighDateTime);
    destroy(object);

    memset(object, 'x', sizeof object); /* the closure must set every field */
    closure(object);
    CHECK(isOpen(object) == 0 && numFiles(object) == 0);
    CHECK(pGetZipFileName((QZF_HANDLE)object)[0] == 0);
    CHECK(open(object, archive, 0) == 1 && numFiles(object) == 1);
    CHECK(addFile(object, source, NULL) == 0 && lastError(object) == 14); /* read only */
    destroy(object);
}

#endif

/* A thread started after the load: the executable's thread-attach work (its
 * runtime's TLS callbacks) must not break, and the engine must work there. */
static DWORD WINAPI OtherThread(LPVOID unused) {
    (void)unused;
    TestHandleBasics();
    return 0;
}

int main(int argc, char** argv) {
    char exe[MAX_PATH];
    if (argc > 1) {
        snprintf(exe, sizeof exe, "%s", argv[1]);
    } else {
        DWORD n = GetModuleFileNameA(NULL, exe, sizeof exe);
        char* slash = strrchr(exe, '\\');
        if (n == 0 || n >= sizeof exe || !slash) return 2;
        snprintf(slash + 1, sizeof exe - (size_t)(slash + 1 - exe), "TrovixInstall.exe");
    }
    for (unsigned i = 0; i < sizeof g_beta; ++i) g_beta[i] = (unsigned char)(i * 2654435761u >> 13);

    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return 2;
    snprintf(g_work, sizeof g_work, "%sqzf-flat-%lu\\", temp, GetCurrentProcessId());
    CreateDirectoryA(g_work, NULL);
    char sub[MAX_PATH];
    Path(sub, "src");
    CreateDirectoryA(sub, NULL);

    if (!LoadExports(exe)) {
        printf("%d of %d checks failed (exports missing)\n", g_failures, g_checks);
        return 1;
    }
#if defined(__i386__)
    TestMemberLayer(g_module);
#endif
    HANDLE thread = CreateThread(NULL, 0, OtherThread, NULL, 0, NULL);
    CHECK(thread != NULL);
    if (thread) {
        CHECK(WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    TestModeLetters();
    TestFlow();
    TestDefFileName();
    printf("%d checks, %d failed\n", g_checks, g_failures);
    return g_failures ? 1 : 0;
}
