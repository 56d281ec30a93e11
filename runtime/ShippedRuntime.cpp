// The C++ run-time pieces the shipped programs link in place of the static
// libstdc++'s. Nothing in these programs throws or catches an exception, yet
// the library's operator new, its container error paths and its guards of
// local statics each throw, and with them come the unwinder, the personality
// routine and a terminate handler that demangles names: about half of the
// stub. Here a failed allocation or a container past its limits ends the
// program at once, as the uncaught exception did; nothing else changes.
//
// Linked into TrovixInstall.exe and TrovixUninstall.exe only (never into the
// tests, whose framework catches exceptions).
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

// std::string's members come from here, compiled without exception tables,
// instead of from the library's explicit instantiation (which brings them).
template class std::basic_string<char>;

namespace {

[[noreturn]] void OutOfLimits() { std::abort(); }

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    OutOfLimits();
}

void* operator new[](std::size_t size) { return operator new(size); }

// The non-throwing form answers null, as the library's does (stable_sort's
// temporary buffer falls back to sorting in place).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// Every function the library's own functexcept.o defines, so that it is never
// taken in beside these (the link would then fail on the duplicates).
namespace std {
void __throw_bad_exception() { OutOfLimits(); }
void __throw_bad_alloc() { OutOfLimits(); }
void __throw_bad_array_new_length() { OutOfLimits(); }
void __throw_bad_cast() { OutOfLimits(); }
void __throw_bad_typeid() { OutOfLimits(); }
void __throw_logic_error(const char*) { OutOfLimits(); }
void __throw_domain_error(const char*) { OutOfLimits(); }
void __throw_invalid_argument(const char*) { OutOfLimits(); }
void __throw_length_error(const char*) { OutOfLimits(); }
void __throw_out_of_range(const char*) { OutOfLimits(); }
void __throw_out_of_range_fmt(const char*, ...) { OutOfLimits(); }
void __throw_runtime_error(const char*) { OutOfLimits(); }
void __throw_range_error(const char*) { OutOfLimits(); }
void __throw_overflow_error(const char*) { OutOfLimits(); }
void __throw_underflow_error(const char*) { OutOfLimits(); }
}  // namespace std

// Guards of function-local statics (the Itanium ABI's): byte 0 of the 64-bit
// guard says "initialised"; the second 32-bit word is a lock taken while one
// thread runs the initialiser, so others wait for it as the standard asks.
extern "C" {

int __cxa_guard_acquire(int64_t* guard) {
    volatile char* done = reinterpret_cast<volatile char*>(guard);
    volatile LONG* lock = reinterpret_cast<volatile LONG*>(guard) + 1;
    if (*done) {
        MemoryBarrier();
        return 0;
    }
    while (InterlockedCompareExchange(lock, 1, 0) != 0) Sleep(0);
    if (*done) {
        InterlockedExchange(lock, 0);
        return 0;
    }
    return 1;  // the caller initialises, then releases
}

void __cxa_guard_release(int64_t* guard) {
    volatile char* done = reinterpret_cast<volatile char*>(guard);
    MemoryBarrier();
    *done = 1;
    InterlockedExchange(reinterpret_cast<volatile LONG*>(guard) + 1, 0);
}

void __cxa_guard_abort(int64_t* guard) {
    InterlockedExchange(reinterpret_cast<volatile LONG*>(guard) + 1, 0);
}

}  // extern "C"

// The C run-time's start-up applies "pseudo relocations": references to data
// that a DLL exports, imported without __declspec(dllimport). These programs
// import no data from any DLL, so the linker leaves the list empty; an empty
// list needs no relocator, and the run-time's (with the section walker it
// brings) took 2.5 KB. Should the list ever fill, the program stops at once
// rather than run with wrong addresses (setup_shipped_link checks it empty).
extern "C" {
extern const char __RUNTIME_PSEUDO_RELOC_LIST__[];
extern const char __RUNTIME_PSEUDO_RELOC_LIST_END__[];

void _pei386_runtime_relocator() {
    // Two linker symbols that may be equal: the compiler, which takes them for
    // distinct arrays, must not fold the comparison.
    uintptr_t begin = reinterpret_cast<uintptr_t>(__RUNTIME_PSEUDO_RELOC_LIST__);
    uintptr_t end = reinterpret_cast<uintptr_t>(__RUNTIME_PSEUDO_RELOC_LIST_END__);
    __asm__("" : "+r"(begin), "+r"(end));
    if (begin != end) OutOfLimits();
}
}  // extern "C"
