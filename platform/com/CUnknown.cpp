#include "platform/com/CUnknown.h"

namespace {

std::atomic<LONG>& ActiveObjectCount() {
    static std::atomic<LONG> count{0};
    return count;
}

}  // namespace

CBaseObject::CBaseObject(const char16_t* name) : objectName(name) {
    ActiveObjectCount().fetch_add(1, std::memory_order_relaxed);
}

CBaseObject::~CBaseObject() {
    ActiveObjectCount().fetch_sub(1, std::memory_order_acq_rel);
}

LONG CBaseObject::ObjectsActive() {
    return ActiveObjectCount().load(std::memory_order_acquire);
}

CUnknown::CUnknown(const char16_t* name, IUnknown* outer)
    : CBaseObject(name), owner(outer ? outer : &inner) {}

CUnknown::CUnknown(const char16_t* name, IUnknown* outer, HRESULT*) : CUnknown(name, outer) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown) {
        return GetInterface(&inner, object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(m_cRef.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG CUnknown::NonDelegatingRelease() {
    const LONG count = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        // A destructor that takes and drops a temporary reference must not delete twice.
        m_cRef.store(1, std::memory_order_relaxed);
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count < 0 ? 0 : count);
}

HRESULT GetInterface(IUnknown* unknown, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = unknown;
    unknown->AddRef();
    return S_OK;
}
