#pragma once
// Windows backend only: a counted reference to a COM object, released on
// every way out, and the interface query that goes with it.
#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to object.
    explicit ComPtr(T* object) : p_(object) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    // For out-parameters that hand over a reference: releases the old object.
    T** Put() {
        Reset();
        return &p_;
    }
    // Adopts a reference the caller already owns.
    static ComPtr Adopt(T* object) {
        ComPtr result;
        result.p_ = object;
        return result;
    }

private:
    T* p_ = nullptr;
};

// QueryInterface by the interface's IID (iid: the IID of I).
template <typename I, typename From>
ComPtr<I> QueryAs(From* object, const GUID& iid) {
    ComPtr<I> result;
    if (object != nullptr) object->QueryInterface(iid, reinterpret_cast<void**>(result.Put()));
    return result;
}
