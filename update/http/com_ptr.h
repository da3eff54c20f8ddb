#pragma once
// Small owners for COM pointers, BSTRs and VARIANTs.

#include <windows.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

namespace korvane::com {

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) { AddRefIfSet(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* ptr) noexcept {
        ComPtr owner;
        owner.ptr_ = ptr;
        return owner;
    }

    void Reset() noexcept {
        if (T* old = std::exchange(ptr_, nullptr)) old->Release();
    }
    // For out-parameters: releases the current pointer first.
    T** Put() noexcept {
        Reset();
        return &ptr_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    // Hands the reference over to the caller.
    T* Detach() noexcept { return std::exchange(ptr_, nullptr); }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

private:
    void AddRefIfSet() noexcept {
        if (ptr_) ptr_->AddRef();
    }
    T* ptr_ = nullptr;
};

class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(std::wstring_view text) noexcept
        : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(bstr_);
            bstr_ = std::exchange(other.bstr_, nullptr);
        }
        return *this;
    }
    ~Bstr() { SysFreeString(bstr_); }

    BSTR Get() const noexcept { return bstr_; }
    BSTR* Put() noexcept {
        SysFreeString(std::exchange(bstr_, nullptr));
        return &bstr_;
    }
    BSTR Detach() noexcept { return std::exchange(bstr_, nullptr); }
    std::wstring_view View() const noexcept { return {bstr_ ? bstr_ : L"", SysStringLen(bstr_)}; }

private:
    BSTR bstr_ = nullptr;
};

class Variant {
public:
    Variant() noexcept { VariantInit(&value_); }
    // Takes over a VARIANT whose contents the caller owns.
    explicit Variant(const VARIANT& owned) noexcept : value_(owned) {}
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    VARIANT* Put() noexcept {
        VariantClear(&value_);
        return &value_;
    }
    const VARIANT& Get() const noexcept { return value_; }
    VARIANT& Get() noexcept { return value_; }
    // Hands the value over to the caller, who clears it.
    VARIANT Detach() noexcept {
        VARIANT out = value_;
        VariantInit(&value_);
        return out;
    }

private:
    VARIANT value_;
};

}  // namespace korvane::com
