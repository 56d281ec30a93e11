// A caller built for the Microsoft ABI (clang --target=i686-pc-windows-msvc,
// lld-link, no C runtime and no SDK): it declares QorZipFile and the few Windows
// types it needs itself, imports the class from TrovixInstall.exe through an
// import library made from archive/QorZipFile.def, and uses every member
// export. A wrong decorated name fails the link; a wrong calling convention,
// bool or FILETIME return fails a check or crashes.
//
// Prints one line per failed check and a summary; exit code 0 when all pass.

typedef unsigned long DWORD;
typedef int BOOL;
typedef void* HANDLE;
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

#define WINAPI __stdcall
#define IMPORT extern "C" __declspec(dllimport)
IMPORT HANDLE WINAPI GetStdHandle(DWORD which);
IMPORT BOOL WINAPI WriteFile(HANDLE f, const void* data, DWORD size, DWORD* done, void* overlapped);
IMPORT HANDLE WINAPI CreateFileA(const char* path, DWORD access, DWORD share, void* security,
                                 DWORD disposition, DWORD flags, HANDLE tmpl);
IMPORT BOOL WINAPI ReadFile(HANDLE f, void* data, DWORD size, DWORD* done, void* overlapped);
IMPORT BOOL WINAPI CloseHandle(HANDLE h);
IMPORT BOOL WINAPI GetFileTime(HANDLE f, FILETIME* created, FILETIME* accessed, FILETIME* written);
IMPORT DWORD WINAPI GetFileAttributesA(const char* path);
IMPORT BOOL WINAPI SetFileAttributesA(const char* path, DWORD attributes);
IMPORT DWORD WINAPI GetTempPathA(DWORD size, char* buffer);
IMPORT BOOL WINAPI CreateDirectoryA(const char* path, void* security);
IMPORT DWORD WINAPI GetCurrentProcessId();
IMPORT HANDLE WINAPI GetModuleHandleA(const char* name);
IMPORT void* WINAPI GetProcAddress(HANDLE module, const char* name);
IMPORT void WINAPI ExitProcess(unsigned code);

const DWORD kGenericRead = 0x80000000ul, kGenericWrite = 0x40000000ul;
const DWORD kCreateAlways = 2, kOpenExisting = 3;
const DWORD kAttrReadOnly = 0x01, kAttrNormal = 0x80;
const DWORD kStdOutput = static_cast<DWORD>(-11);

// The class as a Microsoft-ABI program sees it: public members only, with the
// object's size reserved (the caller allocates it).
enum QZF_ERROR { QZF_ERR_NONE = 0, QZF_ERR_BAD_INDEX = 3, QZF_ERR_NOT_FOUND = 18 };

class __declspec(dllimport) QorZipFile {
public:
    enum QZF_MODE { QZF_MODE_READ = 0, QZF_MODE_READWRITE = 1 };
    enum QZF_EXTRACT_READONLY_OVERWRITE {
        QZF_READONLY_NEVER = 0,
        QZF_READONLY_PROMPT = 1,
        QZF_READONLY_ALWAYS = 2
    };
    QorZipFile(const char* path = 0, QZF_MODE mode = QZF_MODE_READ);
    ~QorZipFile();
    bool Open(const char* path, QZF_MODE mode);
    void Close();
    void SetUseBackupFile(bool use);
    bool GetUseBackupFile() const;
    void SetRestoreAttributes(bool restore);
    bool GetRestoreAttributes() const;
    void SetRestoreTimeStamp(bool restore);
    bool GetRestoreTimeStamp() const;
    void SetExtractReadOnlyOverWrite(QZF_EXTRACT_READONLY_OVERWRITE policy);
    QZF_EXTRACT_READONLY_OVERWRITE GetExtractReadOnlyOverWrite() const;
    void SetHeaderOffset(unsigned long offset);
    void SetOverWritePrompt(const char* text);
    const char* GetOverWritePrompt() const;
    const char* GetFileName() const;
    bool IsOpen() const;
    QZF_ERROR GetLastError();
    unsigned long GetNumFiles();
    const char* GetFileName(unsigned long index);
    unsigned long GetFileSize(unsigned long index);
    unsigned long GetFileCompressedSize(unsigned long index);
    FILETIME GetFileTimeStamp(unsigned long index);
    unsigned long GetFileAttributesA(unsigned long index);
    unsigned long GetFileIndex(const char* name);
    unsigned long GetFileIndexSansPath(const char* name);
    bool ExtractFile(const char* name, const char* destination);
    bool ExtractFileToDir(const char* directory, const char* name, const char* destinationName);
    bool ExtractFiles(unsigned long count, const char** names, const char** destinations);
    bool ExtractFilesToDir(const char* directory, unsigned long count, const char** names);
    bool Save();
    void GetDefFileName(const char* source, char* name, char* fullPath);
    bool AddFile(const char* source, const char* name);
    bool AddFiles(unsigned long count, const char** sources);
    bool RemoveFile(unsigned long index);
    bool RemoveFile(const char* name);
    bool RemoveFiles(unsigned long count, const char** names);

private:
    QorZipFile(const QorZipFile&);
    QorZipFile& operator=(const QorZipFile&);
    char opaque_[828];
};

// The flat layer, imported by name from the same module (cdecl).
extern "C" __declspec(dllimport) FILETIME __cdecl QZF_GetFileTimeStamp(void* h, int index);
extern "C" __declspec(dllimport) int __cdecl QZF_GetUseBackupFile(void* h);

// ---- what the compiler may call in place of loops (no C runtime here) ----
extern "C" void* memset(void* d, int c, unsigned n) {
    unsigned char* p = static_cast<unsigned char*>(d);
    while (n--) *p++ = static_cast<unsigned char>(c);
    return d;
}
extern "C" void* memcpy(void* d, const void* s, unsigned n) {
    unsigned char* p = static_cast<unsigned char*>(d);
    const unsigned char* q = static_cast<const unsigned char*>(s);
    while (n--) *p++ = *q++;
    return d;
}

namespace {

int g_checks, g_failures;

unsigned Length(const char* s) {
    unsigned n = 0;
    while (s[n]) ++n;
    return n;
}

void Print(const char* s) {
    DWORD done;
    WriteFile(GetStdHandle(kStdOutput), s, Length(s), &done, 0);
}

void PrintNumber(unsigned long v) {
    char buf[16];
    int i = 15;
    buf[i] = 0;
    do {
        buf[--i] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    Print(buf + i);
}

bool Same(const char* a, const char* b) {
    if (!a || !b) return false;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// dst = a + b, bounded by 260 bytes.
void Join(char* dst, const char* a, const char* b) {
    unsigned n = 0;
    for (; *a && n < 259; ++a) dst[n++] = *a;
    for (; *b && n < 259; ++b) dst[n++] = *b;
    dst[n] = 0;
}

void Check(bool ok, int line, const char* what) {
    ++g_checks;
    if (ok) return;
    ++g_failures;
    Print("FAILED line ");
    PrintNumber(static_cast<unsigned long>(line));
    Print(": ");
    Print(what);
    Print("\r\n");
}
#define CHECK(cond) Check((cond), __LINE__, #cond)

bool WriteBytes(const char* path, const char* data, DWORD size) {
    HANDLE f = CreateFileA(path, kGenericWrite, 0, 0, kCreateAlways, kAttrNormal, 0);
    if (f == reinterpret_cast<HANDLE>(-1)) return false;
    DWORD done = 0;
    bool ok = WriteFile(f, data, size, &done, 0) && done == size;
    CloseHandle(f);
    return ok;
}

bool HasText(const char* path, const char* text) {
    char buf[256];
    HANDLE f = CreateFileA(path, kGenericRead, 1, 0, kOpenExisting, 0, 0);
    if (f == reinterpret_cast<HANDLE>(-1)) return false;
    DWORD got = 0;
    bool ok = ReadFile(f, buf, sizeof buf - 1, &got, 0);
    CloseHandle(f);
    buf[ok ? got : 0] = 0;
    return ok && Same(buf, text);
}

FILETIME WriteTime(const char* path) {
    FILETIME t = {0, 0};
    HANDLE f = CreateFileA(path, kGenericRead, 1, 0, kOpenExisting, 0, 0);
    if (f != reinterpret_cast<HANDLE>(-1)) {
        GetFileTime(f, 0, 0, &t);
        CloseHandle(f);
    }
    return t;
}

const char kAlpha[] = "alpha through the member layer";
const char kBeta[] = "beta, read-only at the source";

void Run(const char* work) {
    char archive[260], alpha[260], beta[260], out[260], dir[260], name[260], full[260];
    Join(archive, work, "members.qzf");
    Join(alpha, work, "alpha.txt");
    Join(beta, work, "beta.txt");
    CHECK(WriteBytes(alpha, kAlpha, sizeof kAlpha - 1));
    CHECK(WriteBytes(beta, kBeta, sizeof kBeta - 1));
    CHECK(SetFileAttributesA(beta, kAttrReadOnly));

    {
        // Constructor with a path (it returns this in EAX; the compiler relies on it).
        QorZipFile z(archive, QorZipFile::QZF_MODE_READWRITE);
        CHECK(z.IsOpen());
        CHECK(z.GetLastError() == QZF_ERR_NONE);
        CHECK(Same(z.GetFileName(), archive));

        // Options: bool results come back in AL, enums as 32 bits.
        CHECK(z.GetUseBackupFile() && !z.GetRestoreAttributes() && z.GetRestoreTimeStamp());
        CHECK(z.GetExtractReadOnlyOverWrite() == QorZipFile::QZF_READONLY_ALWAYS);
        z.SetUseBackupFile(false);
        CHECK(!z.GetUseBackupFile());
        CHECK(QZF_GetUseBackupFile(&z) == 0);  // the same object through the flat layer
        z.SetUseBackupFile(true);
        z.SetRestoreAttributes(true);
        CHECK(z.GetRestoreAttributes());
        z.SetRestoreTimeStamp(false);
        CHECK(!z.GetRestoreTimeStamp());
        z.SetRestoreTimeStamp(true);
        z.SetExtractReadOnlyOverWrite(QorZipFile::QZF_READONLY_NEVER);
        CHECK(z.GetExtractReadOnlyOverWrite() == QorZipFile::QZF_READONLY_NEVER);
        z.SetExtractReadOnlyOverWrite(QorZipFile::QZF_READONLY_ALWAYS);
        CHECK(z.GetOverWritePrompt() == 0);
        z.SetOverWritePrompt("Overwrite %s?");
        CHECK(Same(z.GetOverWritePrompt(), "Overwrite %s?"));
        z.SetHeaderOffset(0);

        // Adding: three arguments after this, popped by the callee.
        CHECK(z.AddFile(alpha, "a\\alpha.txt"));
        const char* sources[] = {beta};
        CHECK(z.AddFiles(1, sources));
        CHECK(z.GetNumFiles() == 2);
        z.GetDefFileName(beta, name, full);
        CHECK(Same(name, "beta.txt"));
        CHECK(Same(full, beta));

        // Queries, including the struct-returning member.
        CHECK(Same(z.GetFileName(0UL), "a\\alpha.txt"));
        CHECK(Same(z.GetFileName(1UL), "beta.txt"));
        CHECK(z.GetFileIndex("A\\ALPHA.TXT") == 0);
        CHECK(z.GetFileIndexSansPath("alpha.txt") == 0);
        CHECK(z.GetFileIndex("nothing") == 0xFFFFFFFFul);
        CHECK(z.GetFileSize(0) == sizeof kAlpha - 1);
        CHECK(z.GetFileCompressedSize(1) > 0);
        CHECK((z.GetFileAttributesA(1) & kAttrReadOnly) != 0);
        CHECK(z.GetFileAttributesA(0) == GetFileAttributesA(alpha));
        FILETIME want = WriteTime(alpha);
        FILETIME got = z.GetFileTimeStamp(0);
        CHECK(want.dwHighDateTime != 0);
        CHECK(got.dwLowDateTime == want.dwLowDateTime && got.dwHighDateTime == want.dwHighDateTime);
        FILETIME flat = QZF_GetFileTimeStamp(&z, 0);
        CHECK(flat.dwLowDateTime == want.dwLowDateTime &&
              flat.dwHighDateTime == want.dwHighDateTime);
        got = z.GetFileTimeStamp(2);
        CHECK(got.dwLowDateTime == 0 && got.dwHighDateTime == 0);
        CHECK(z.GetLastError() == QZF_ERR_BAD_INDEX);
        CHECK(z.GetFileName(2UL) == 0 && z.GetFileSize(2) == 0);

        // Extraction, four ways.
        Join(out, work, "x\\one.txt");
        CHECK(z.ExtractFile("a\\alpha.txt", out));
        CHECK(HasText(out, kAlpha));
        Join(dir, work, "x\\dir");
        CHECK(z.ExtractFileToDir(dir, "beta.txt", "b2.txt"));
        Join(out, work, "x\\dir\\b2.txt");
        CHECK(HasText(out, kBeta));
        CHECK((GetFileAttributesA(out) & kAttrReadOnly) != 0);  // restored attributes
        Join(dir, work, "x\\all");
        CHECK(z.ExtractFilesToDir(dir, 0, 0));
        Join(out, work, "x\\all\\a\\alpha.txt");
        CHECK(HasText(out, kAlpha));
        const char* names[] = {"a\\alpha.txt"};
        Join(out, work, "x\\named.txt");
        const char* dests[] = {out};
        CHECK(z.ExtractFiles(1, names, dests));
        CHECK(HasText(out, kAlpha));
        CHECK(!z.ExtractFile("nothing", out));
        CHECK(z.GetLastError() == QZF_ERR_NOT_FOUND);

        // Removal, both overloads and the list.
        CHECK(z.RemoveFile("beta.txt"));
        CHECK(z.GetNumFiles() == 1);
        CHECK(z.AddFile(beta, 0));
        CHECK(z.RemoveFile(1UL));
        CHECK(z.GetNumFiles() == 1);
        const char* gone[] = {"a\\alpha.txt"};
        CHECK(z.RemoveFiles(1, gone));
        CHECK(z.GetNumFiles() == 0);
        CHECK(z.AddFile(alpha, 0));
        z.Close();
        CHECK(!z.IsOpen());
        CHECK(z.Open(archive, QorZipFile::QZF_MODE_READ));
        CHECK(z.GetNumFiles() == 1);
        CHECK(!z.Save());  // refused: entries read back have no source files
        z.Close();
    }  // destructor

    // The default-constructor closure: a Microsoft-ABI compiler calls it where
    // it needs a plain default constructor (arrays of the class, for one).
    typedef void(__thiscall * Closure)(void* self);
    typedef void(__thiscall * Destructor)(void* self);
    HANDLE module = GetModuleHandleA("TrovixInstall.exe");
    CHECK(module != 0);
    Closure closure = reinterpret_cast<Closure>(GetProcAddress(module, "??_FQorZipFile@@QAEXXZ"));
    Destructor destroy =
        reinterpret_cast<Destructor>(GetProcAddress(module, "??1QorZipFile@@QAE@XZ"));
    CHECK(closure != 0 && destroy != 0);
    if (closure && destroy) {
        alignas(8) char storage[sizeof(QorZipFile)];  // filled with junk: the closure sets it all
        for (unsigned i = 0; i < sizeof storage; ++i) storage[i] = 'x';
        closure(storage);
        QorZipFile* z = reinterpret_cast<QorZipFile*>(storage);
        CHECK(Same(z->GetFileName(), ""));
        CHECK(!z->IsOpen() && z->GetNumFiles() == 0);
        CHECK(z->GetUseBackupFile());
        CHECK(!z->Open(0, QorZipFile::QZF_MODE_READ));
        CHECK(z->GetLastError() == 1);
        destroy(storage);
    }

    // The two results the compiler above may have kept elsewhere, checked by
    // hand: the constructor returns this, and the struct-returning member
    // returns the hidden result pointer it was given (after this).
    typedef void*(__thiscall * Constructor)(void* self, const char* path, int mode);
    typedef FILETIME*(__thiscall * TimeStamp)(void* self, FILETIME* result, unsigned long index);
    Constructor construct = reinterpret_cast<Constructor>(
        GetProcAddress(module, "??0QorZipFile@@QAE@PBDW4QZF_MODE@0@@Z"));
    TimeStamp stamp = reinterpret_cast<TimeStamp>(
        GetProcAddress(module, "?GetFileTimeStamp@QorZipFile@@QAE?AU_FILETIME@@K@Z"));
    CHECK(construct != 0 && stamp != 0);
    if (construct && stamp && destroy) {
        alignas(8) char storage[sizeof(QorZipFile)];
        CHECK(construct(storage, archive, 0) == storage);
        QorZipFile* z = reinterpret_cast<QorZipFile*>(storage);
        CHECK(z->IsOpen() && z->GetNumFiles() == 1);
        FILETIME result = {1, 1};
        CHECK(stamp(storage, &result, 0) == &result);
        FILETIME want = WriteTime(alpha);
        CHECK(result.dwLowDateTime == want.dwLowDateTime);
        CHECK(result.dwHighDateTime == want.dwHighDateTime);
        destroy(storage);
    }
}

}  // namespace

extern "C" void __stdcall CallerMain() {
    char temp[260], work[260], pid[16];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) ExitProcess(2);
    unsigned long id = GetCurrentProcessId();
    int i = 15;
    pid[i] = 0;
    do {
        pid[--i] = static_cast<char>('0' + id % 10);
        id /= 10;
    } while (id);
    Join(work, temp, "qzf-msvc-");
    Join(work, work, pid + i);
    CreateDirectoryA(work, 0);
    Join(work, work, "\\");
    Run(work);
    PrintNumber(static_cast<unsigned long>(g_checks));
    Print(" checks, ");
    PrintNumber(static_cast<unsigned long>(g_failures));
    Print(" failed\r\n");
    ExitProcess(g_failures ? 1 : 0);
}
