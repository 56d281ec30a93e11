// Handles.h: tiny owners for Win32 handles, registry keys, C files and COM
// interface pointers. Each owner is non-copyable, closes what it holds in its
// destructor, and can give it up (Detach) or take another (Attach, which
// closes the old one first). An empty owner closes nothing.
//
// Empty values: FileHandle holds INVALID_HANDLE_VALUE when empty (what
// CreateFileA answers on failure); Handle, RegKey, FindHandle (which uses
// INVALID_HANDLE_VALUE, as FindFirstFileA does), GdiObject, StdFile and ComPtr
// hold their own "nothing" value. Close() answers whether the platform's close call
// succeeded, true for an empty owner.
#pragma once

#include <windows.h>

#include <cstdio>

namespace detail {

// One owner template per close function; Traits give the empty value and the
// close call. Not used directly: see the aliases below.
template <typename T, typename Traits>
class Owner {
public:
    Owner() : v_(Traits::Empty()) {}
    explicit Owner(T v) : v_(v) {}
    ~Owner() { Close(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& o) noexcept : v_(o.Detach()) {}
    Owner& operator=(Owner&& o) noexcept {
        if (this != &o) Attach(o.Detach());
        return *this;
    }

    T Get() const { return v_; }
    bool IsValid() const { return v_ != Traits::Empty(); }
    explicit operator bool() const { return IsValid(); }

    // Receives a new value from an out-parameter call: closes the old one
    // and returns where the platform is to write.
    T* Receive() {
        Close();
        return &v_;
    }
    void Attach(T v) {
        Close();
        v_ = v;
    }
    T Detach() {
        T v = v_;
        v_ = Traits::Empty();
        return v;
    }
    bool Close() {
        bool ok = true;
        if (IsValid()) ok = Traits::Close(v_);
        v_ = Traits::Empty();
        return ok;
    }

private:
    T v_;
};

struct FileHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return CloseHandle(h) != 0; }
};
struct HandleTraits {
    static HANDLE Empty() { return nullptr; }
    static bool Close(HANDLE h) { return CloseHandle(h) != 0; }
};
struct FindHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return FindClose(h) != 0; }
};
struct RegKeyTraits {
    static HKEY Empty() { return nullptr; }
    static bool Close(HKEY k) { return RegCloseKey(k) == ERROR_SUCCESS; }
};
struct GdiObjectTraits {
    static HGDIOBJ Empty() { return nullptr; }
    static bool Close(HGDIOBJ o) { return DeleteObject(o) != 0; }
};
struct StdFileTraits {
    static FILE* Empty() { return nullptr; }
    static bool Close(FILE* f) { return fclose(f) == 0; }
};

}  // namespace detail

// A file handle from CreateFileA (empty: INVALID_HANDLE_VALUE).
using FileHandle = detail::Owner<HANDLE, detail::FileHandleTraits>;
// A process, thread or other kernel handle whose failure value is NULL.
using Handle = detail::Owner<HANDLE, detail::HandleTraits>;
// A search handle from FindFirstFileA, closed with FindClose.
using FindHandle = detail::Owner<HANDLE, detail::FindHandleTraits>;
// An open registry key, closed with RegCloseKey. Never holds a predefined
// root such as HKEY_LOCAL_MACHINE.
using RegKey = detail::Owner<HKEY, detail::RegKeyTraits>;
// A pen, brush or other GDI object, deleted with DeleteObject. It must no
// longer be selected into a device context when the owner lets it go.
using GdiObject = detail::Owner<HGDIOBJ, detail::GdiObjectTraits>;
// A C runtime FILE*, closed with fclose.
using StdFile = detail::Owner<FILE*, detail::StdFileTraits>;

// A COM interface pointer, released in the destructor. Receive() hands out
// the address for CoCreateInstance/QueryInterface after releasing the old one.
template <typename I>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Release(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    I* Get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For calls that take void** (CoCreateInstance, QueryInterface).
    void** ReceiveVoid() {
        Release();
        return reinterpret_cast<void**>(&p_);
    }
    void Release() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    I* p_ = nullptr;
};
