#pragma once

#include <utility>

#include "platform/com/Unknown.h"

// Holds one reference to a component object and releases it when it goes. `T` is an interface
// class with a `kIid`.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to `object`.
    explicit ComPtr(T* object) : object(object) {
        if (object) {
            object->AddRef();
        }
    }
    ComPtr(const ComPtr& other) : ComPtr(other.object) {}
    ComPtr(ComPtr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        if (this != &other) {
            ComPtr copy(other);
            Swap(copy);
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            object = std::exchange(other.object, nullptr);
        }
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    // Adopts a reference the caller already owns.
    static ComPtr Attach(T* owned) {
        ComPtr result;
        result.object = owned;
        return result;
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(object, nullptr); }

    void Reset() {
        if (T* old = std::exchange(object, nullptr)) {
            old->Release();
        }
    }
    void Swap(ComPtr& other) noexcept { std::swap(object, other.object); }

    T* Get() const { return object; }
    T* operator->() const { return object; }
    T& operator*() const { return *object; }
    explicit operator bool() const { return object != nullptr; }

    // The slot for an output argument; any held reference is released first.
    T** GetAddressOf() {
        Reset();
        return &object;
    }
    void** GetVoidAddressOf() { return reinterpret_cast<void**>(GetAddressOf()); }

    // Asks the object for another interface.
    template <typename U>
    HRESULT As(ComPtr<U>* out) const {
        if (!out) {
            return E_POINTER;
        }
        if (!object) {
            out->Reset();
            return E_POINTER;
        }
        return object->QueryInterface(U::kIid, out->GetVoidAddressOf());
    }
    template <typename U>
    ComPtr<U> As() const {
        ComPtr<U> result;
        As(&result);
        return result;
    }

private:
    T* object = nullptr;
};

template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
    return a.Get() == b.Get();
}
template <typename T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) {
    return a.Get() == nullptr;
}

// Asks `unknown` for the interface `U`.
template <typename U>
HRESULT ComQuery(IUnknown* unknown, ComPtr<U>* out) {
    if (!out) {
        return E_POINTER;
    }
    if (!unknown) {
        out->Reset();
        return E_POINTER;
    }
    return unknown->QueryInterface(U::kIid, out->GetVoidAddressOf());
}
