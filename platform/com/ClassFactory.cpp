#include "platform/com/ClassFactory.h"

#include <new>

namespace {

std::atomic<LONG>& ServerLocks() {
    static std::atomic<LONG> locks{0};
    return locks;
}

}  // namespace

CClassFactory::CClassFactory(const CFactoryTemplate* factoryTemplate)
    : CBaseObject(u"Class factory"), factoryTemplate(factoryTemplate) {}

HRESULT CClassFactory::QueryInterface(REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() {
    return static_cast<ULONG>(referenceCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG CClassFactory::Release() {
    const LONG count = referenceCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count < 0 ? 0 : count);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    // An aggregated object must be asked for its inner unknown.
    if (outer && iid != IID_IUnknown) {
        return E_NOINTERFACE;
    }
    try {
        HRESULT hr = S_OK;
        CUnknown* created = factoryTemplate->CreateInstance(outer, &hr);
        if (!created) {
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        }
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        created->NonDelegatingAddRef();
        hr = created->NonDelegatingQueryInterface(iid, object);
        created->NonDelegatingRelease();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CClassFactory::LockServer(BOOL lock) {
    if (lock) {
        ServerLocks().fetch_add(1);
    } else {
        ServerLocks().fetch_sub(1);
    }
    return S_OK;
}

LONG CClassFactory::ServerLockCount() {
    return ServerLocks().load();
}

HRESULT ComModuleGetClassObject(const CFactoryTemplate* templates, int count, REFCLSID classId,
                                REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
        return E_NOINTERFACE;
    }
    for (int i = 0; i < count; ++i) {
        if (!templates[i].IsClassID(classId)) {
            continue;
        }
        auto* factory = new (std::nothrow) CClassFactory(&templates[i]);
        if (!factory) {
            return E_OUTOFMEMORY;
        }
        factory->AddRef();
        const HRESULT hr = factory->QueryInterface(iid, object);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComModuleCanUnloadNow() {
    return CBaseObject::ObjectsActive() == 0 && CClassFactory::ServerLockCount() == 0 ? S_OK
                                                                                      : S_FALSE;
}

void ComModuleAttach(const CFactoryTemplate* templates, int count) {
    for (int i = 0; i < count; ++i) {
        if (templates[i].m_lpfnInit) {
            templates[i].m_lpfnInit(TRUE, templates[i].m_ClsID);
        }
    }
}

void ComModuleDetach(const CFactoryTemplate* templates, int count) {
    for (int i = 0; i < count; ++i) {
        if (templates[i].m_lpfnInit) {
            templates[i].m_lpfnInit(FALSE, templates[i].m_ClsID);
        }
    }
}
