// QzfModule.cpp: binds the executable's imports (and relocates it) when it has
// been loaded as a library. Until that is done no import may be called and,
// while the image is not yet relocated, no global may be touched: everything
// here works on the PE headers through computed addresses, in plain loops the
// compiler must not turn into library calls.
#include "archive/QzfModule.h"

#if defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))

#include <windows.h>
#include <winternl.h>

#include <cstdint>

#include "contract/AsciiCase.h"

#pragma GCC optimize("no-tree-loop-distribute-patterns")

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The header and thunk layouts of this build's image: PE32 or PE32+.
#if defined(__x86_64__)
typedef IMAGE_NT_HEADERS64 NtHeaders;
typedef IMAGE_THUNK_DATA64 ThunkData;
typedef ULONGLONG ThunkValue;
const int kRelocType = IMAGE_REL_BASED_DIR64;
const DWORD kRelocWidth = 8;
bool ByOrdinal(ThunkValue v) { return IMAGE_SNAP_BY_ORDINAL64(v); }
ThunkValue OrdinalOf(ThunkValue v) { return IMAGE_ORDINAL64(v); }
#else
typedef IMAGE_NT_HEADERS32 NtHeaders;
typedef IMAGE_THUNK_DATA32 ThunkData;
typedef DWORD ThunkValue;
const int kRelocType = IMAGE_REL_BASED_HIGHLOW;
const DWORD kRelocWidth = 4;
bool ByOrdinal(ThunkValue v) { return IMAGE_SNAP_BY_ORDINAL32(v); }
ThunkValue OrdinalOf(ThunkValue v) { return IMAGE_ORDINAL32(v); }
#endif

// Set once the module is known to be usable. A zero-initialised POD static:
// nothing here relies on static construction.
bool g_prepared = false;

// Where the image runs minus where it was linked to run. Reads no memory: the
// immediate operand is the label's link-time address, patched by relocation.
intptr_t LoadDelta() {
    intptr_t delta;
#if defined(__x86_64__)
    intptr_t linked;
    __asm__ volatile(
        "leaq 1f(%%rip), %0\n\t"
        "movabsq $1f, %1\n"
        "1:"
        : "=r"(delta), "=r"(linked));
    delta -= linked;
#else
    __asm__ volatile(
        "call 1f\n"
        "1:\n\t"
        "popl %0\n\t"
        "subl $1b, %0"
        : "=r"(delta));
#endif
    return delta;
}

// Where the image's headers are now. The 32-bit form takes the link-time
// address (an immediate patched by relocation) and moves it by delta; x86-64
// addresses it relative to the instruction, which is right wherever it runs.
uint8_t* ImageBase(intptr_t delta) {
    uintptr_t base;
#if defined(__x86_64__)
    (void)delta;
    __asm__("leaq __ImageBase(%%rip), %0" : "=r"(base));
#else
    base = reinterpret_cast<uintptr_t>(&__ImageBase);
    __asm__("" : "+r"(base));  // the headers lie beyond the declared DOS header
    base += delta;
#endif
    return reinterpret_cast<uint8_t*>(base);
}

NtHeaders* Headers(uint8_t* base) {
    return reinterpret_cast<NtHeaders*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

bool SameName(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// The module whose file name (without folder) is name, compared case-blind;
// name is lower case. Walks the loader's list of loaded modules.
uint8_t* FindLoaded(const char* name) {
    PEB* peb;
#if defined(__x86_64__)
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#else
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    for (LIST_ENTRY* link = head->Flink; link && link != head; link = link->Flink) {
        auto* entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        const WCHAR* path = entry->FullDllName.Buffer;
        const unsigned length = entry->FullDllName.Length / sizeof(WCHAR);
        if (!path || !entry->DllBase) continue;
        unsigned start = length;
        while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') --start;
        unsigned i = 0;
        while (start + i < length && name[i] && path[start + i] < 0x80 &&
               qor_case::FoldAscii(static_cast<char>(path[start + i])) == name[i]) {
            ++i;
        }
        if (start + i == length && name[i] == 0) return static_cast<uint8_t*>(entry->DllBase);
    }
    return nullptr;
}

// The address module exports under name, following forwarders
// ("OTHER.Function") into modules already loaded.
void* FindExport(uint8_t* module, const char* name, int depth) {
    const IMAGE_DATA_DIRECTORY& dir =
        Headers(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress || depth > 4) return nullptr;
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(module + dir.VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(module + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(module + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(module + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (!SameName(reinterpret_cast<const char*>(module + names[i]), name)) continue;
        const DWORD rva = functions[ordinals[i]];
        if (rva < dir.VirtualAddress || rva >= dir.VirtualAddress + dir.Size) {
            return module + rva;
        }
        // Forwarder: "module.function" with the module's name lacking ".dll".
        const char* forward = reinterpret_cast<const char*>(module + rva);
        char target[64];
        unsigned n = 0;
        while (forward[n] && forward[n] != '.' && n < sizeof target - 5) {
            target[n] = qor_case::FoldAscii(forward[n]);
            ++n;
        }
        if (forward[n] != '.' || forward[n + 1] == '#') return nullptr;
        const char* function = forward + n + 1;
        target[n++] = '.';
        target[n++] = 'd';
        target[n++] = 'l';
        target[n++] = 'l';
        target[n] = 0;
        uint8_t* other = FindLoaded(target);
        return other ? FindExport(other, function, depth + 1) : nullptr;
    }
    return nullptr;
}

typedef BOOL(WINAPI* VirtualProtectFn)(void*, SIZE_T, DWORD, DWORD*);
typedef HMODULE(WINAPI* LoadLibraryFn)(const char*);
typedef void*(WINAPI* GetProcAddressFn)(HMODULE, const char*);

// Applies the base relocations for the image at base, linked delta bytes away
// from it. Each page is made writable only while its block is applied, and
// gets its own protection back (a value may straddle into the next page,
// which can belong to another section).
bool Relocate(uint8_t* base, intptr_t delta, VirtualProtectFn protect) {
    NtHeaders* nt = Headers(base);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (!dir.VirtualAddress || (nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED)) {
        return false;
    }
    const DWORD kPage = 0x1000;
    uint8_t* block = base + dir.VirtualAddress;
    uint8_t* end = block + dir.Size;
    while (block + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        auto* header = reinterpret_cast<IMAGE_BASE_RELOCATION*>(block);
        if (header->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION)) break;
        uint8_t* page = base + header->VirtualAddress;
        const DWORD count = (header->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        auto* items = reinterpret_cast<WORD*>(block + sizeof(IMAGE_BASE_RELOCATION));
        bool straddles = false;
        for (DWORD i = 0; i < count; ++i) {
            const int type = items[i] >> 12;
            if (type != kRelocType && type != IMAGE_REL_BASED_ABSOLUTE) return false;
            if (type == kRelocType && (items[i] & 0xFFF) > kPage - kRelocWidth) straddles = true;
        }
        DWORD old[2] = {0, 0};
        if (!protect(page, kPage, PAGE_EXECUTE_READWRITE, &old[0])) return false;
        if (straddles && !protect(page + kPage, kPage, PAGE_EXECUTE_READWRITE, &old[1])) {
            return false;
        }
        for (DWORD i = 0; i < count; ++i) {
            if ((items[i] >> 12) != kRelocType) continue;
            auto* at = reinterpret_cast<uint8_t*>(page + (items[i] & 0xFFF));
            // Byte-wise: the value need not be aligned.
            uint64_t v = 0;
            for (DWORD b = 0; b < kRelocWidth; ++b) v |= static_cast<uint64_t>(at[b]) << (8 * b);
            v += static_cast<uint64_t>(delta);
            for (DWORD b = 0; b < kRelocWidth; ++b) at[b] = static_cast<uint8_t>(v >> (8 * b));
        }
        DWORD ignored = 0;
        protect(page, kPage, old[0], &ignored);
        if (straddles) protect(page + kPage, kPage, old[1], &ignored);
        block += header->SizeOfBlock;
    }
    return true;
}

// Fills every import slot that still holds its name (not yet bound).
bool BindImports(uint8_t* base, LoadLibraryFn load, GetProcAddressFn find) {
    NtHeaders* nt = Headers(base);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return true;
    const DWORD imageSize = nt->OptionalHeader.SizeOfImage;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        auto* slot = reinterpret_cast<ThunkData*>(base + d->FirstThunk);
        auto* want = reinterpret_cast<ThunkData*>(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        HMODULE dll = nullptr;
        for (; want->u1.AddressOfData; ++want, ++slot) {
            const bool unbound = d->OriginalFirstThunk ? slot->u1.Function == want->u1.AddressOfData
                                                       : (ByOrdinal(want->u1.Ordinal) ||
                                                          want->u1.AddressOfData < imageSize);
            if (!unbound) continue;
            if (!dll) dll = load(reinterpret_cast<const char*>(base + d->Name));
            if (!dll) return false;
            const char* what =
                ByOrdinal(want->u1.Ordinal)
                    ? reinterpret_cast<const char*>(OrdinalOf(want->u1.Ordinal))
                    : reinterpret_cast<const char*>(
                          reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + want->u1.AddressOfData)
                              ->Name);
            void* f = find(dll, what);
            if (!f) return false;
            slot->u1.Function = reinterpret_cast<ThunkValue>(f);
        }
    }
    return true;
}

// The names this module looks up before its own data can be trusted live on
// the stack, built from immediates, not in (possibly unrelocated) .rdata.
struct KernelNames {
    char kernel32[13] = {'k', 'e', 'r', 'n', 'e', 'l', '3', '2', '.', 'd', 'l', 'l', 0};
    char loadLibrary[13] = {'L', 'o', 'a', 'd', 'L', 'i', 'b', 'r', 'a', 'r', 'y', 'A', 0};
    char getProc[15] = {'G', 'e', 't', 'P', 'r', 'o', 'c', 'A', 'd', 'd', 'r', 'e', 's', 's', 0};
    char protect[15] = {'V', 'i', 'r', 't', 'u', 'a', 'l', 'P', 'r', 'o', 't', 'e', 'c', 't', 0};
};

}  // namespace

bool QzfPrepareModule() {
    const intptr_t delta = LoadDelta();
    // At the link address the flag can be read; elsewhere the image is not
    // relocated yet and its globals are not where the code looks for them.
    if (delta == 0 && g_prepared) return true;

    volatile KernelNames names;  // volatile: built by stores, not copied from .rdata
    uint8_t* kernel32 = FindLoaded(const_cast<const char*>(names.kernel32));
    if (!kernel32) return false;
    auto load = reinterpret_cast<LoadLibraryFn>(
        FindExport(kernel32, const_cast<const char*>(names.loadLibrary), 0));
    auto find = reinterpret_cast<GetProcAddressFn>(
        FindExport(kernel32, const_cast<const char*>(names.getProc), 0));
    auto protect = reinterpret_cast<VirtualProtectFn>(
        FindExport(kernel32, const_cast<const char*>(names.protect), 0));
    if (!load || !find || !protect) return false;

    uint8_t* base = ImageBase(delta);
    if (delta != 0 && !Relocate(base, delta, protect)) return false;
    // From here on addresses are right: globals and imports may be touched
    // once the imports are bound.
    if (!BindImports(base, load, find)) return false;
    g_prepared = true;
    return true;
}

#else

bool QzfPrepareModule() { return true; }

#endif  // defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))
