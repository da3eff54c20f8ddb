// RAII owners for the Win32 handles, COM pointers, BSTRs and VARIANTs that
// Korvane.exe and Update.dll hold. Header-only: each file compiles its own
// copy, so the program still never links against the library.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <unknwn.h>

#include <string_view>
#include <utility>

namespace korvane {

// A handle with one way of freeing it. Traits: Handle, Null(), Close(h).
template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle h) noexcept : handle_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Null(); }
    // For out-parameters: frees the current handle first.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    // Hands the handle over to the caller.
    Handle release() noexcept { return std::exchange(handle_, Traits::Null()); }
    void reset(Handle h = Traits::Null()) noexcept {
        Handle old = std::exchange(handle_, h);
        if (old != Traits::Null()) Traits::Close(old);
    }

private:
    Handle handle_ = Traits::Null();
};

struct WindowTraits {
    using Handle = HWND;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DestroyWindow(h); }
};
struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DeleteDC(h); }
};
template <class T>
struct GdiObjectTraits {
    using Handle = T;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DeleteObject(h); }
};
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};
struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { RegCloseKey(h); }
};
struct LibraryTraits {
    using Handle = HMODULE;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { FreeLibrary(h); }
};

struct HookTraits {
    using Handle = HHOOK;
    static Handle Null() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { UnhookWindowsHookEx(h); }
};

using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueLibrary = UniqueHandle<LibraryTraits>;
using UniqueHook = UniqueHandle<HookTraits>;

// A window's DC from GetDC, released with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    HDC get() const noexcept { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint / EndPaint.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) noexcept : hwnd_(hwnd) { BeginPaint(hwnd_, &ps_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { EndPaint(hwnd_, &ps_); }
    HDC dc() const noexcept { return ps_.hdc; }
    const RECT& area() const noexcept { return ps_.rcPaint; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
};

// Selects a GDI object into a DC and puts the previous one back.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;
    ~SelectScope() {
        if (previous_) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// COM for the calling thread, as a single-threaded apartment.
class ComApartment {
public:
    ComApartment() noexcept
        : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

// Owning COM interface pointer.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already owns.
    static ComPtr attach(T* ptr) noexcept {
        ComPtr owner;
        owner.ptr_ = ptr;
        return owner;
    }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // For out-parameters: releases the current pointer first.
    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // Hands the reference over to the caller.
    T* detach() noexcept { return std::exchange(ptr_, nullptr); }
    void reset() noexcept {
        if (T* old = std::exchange(ptr_, nullptr)) old->Release();
    }

private:
    T* ptr_ = nullptr;
};

// Owning BSTR.
class Bstr {
public:
    Bstr() noexcept = default;
    // Null when out of memory.
    explicit Bstr(std::wstring_view text) noexcept
        : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) SysFreeString(std::exchange(bstr_, other.detach()));
        return *this;
    }
    ~Bstr() { SysFreeString(bstr_); }

    // Takes over a string the caller owns.
    static Bstr attach(BSTR owned) noexcept {
        Bstr owner;
        owner.bstr_ = owned;
        return owner;
    }

    BSTR get() const noexcept { return bstr_; }
    // For out-parameters: frees the current string first.
    BSTR* put() noexcept {
        SysFreeString(std::exchange(bstr_, nullptr));
        return &bstr_;
    }
    BSTR detach() noexcept { return std::exchange(bstr_, nullptr); }
    std::wstring_view view() const noexcept { return {bstr_ ? bstr_ : L"", SysStringLen(bstr_)}; }

private:
    BSTR bstr_ = nullptr;
};

// Owning VARIANT, cleared with VariantClear.
class Variant {
public:
    Variant() noexcept { VariantInit(&value_); }
    // Takes over a VARIANT whose contents the caller owns.
    explicit Variant(const VARIANT& owned) noexcept : value_(owned) {}
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    const VARIANT& get() const noexcept { return value_; }
    VARIANT& get() noexcept { return value_; }
    // For out-parameters: clears the current value first.
    VARIANT* put() noexcept {
        VariantClear(&value_);
        return &value_;
    }
    // Hands the value over to the caller, who clears it.
    VARIANT detach() noexcept {
        VARIANT out = value_;
        VariantInit(&value_);
        return out;
    }

private:
    VARIANT value_;
};

}  // namespace korvane
