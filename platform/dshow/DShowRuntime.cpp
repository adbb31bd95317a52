#include "platform/dshow/DShowRuntime.h"

#include <mutex>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/CBaseAllocator.h"
#include "platform/dshow/CFilterGraph.h"
#include "platform/dshow/CSystemClock.h"

// Referenced from the link line of everything that links the library, so that this file (and
// its start-up registration) is always part of the program.
extern "C" {
int OrvDShowBuiltinAnchor = 0;
}

namespace {

// A class factory that lives as long as the program: its count does not matter.
class CBuiltinFactory final : public IClassFactory {
public:
    explicit CBuiltinFactory(CUnknown* (*create)(IUnknown*, HRESULT*)) : create(create) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer && iid != IID_IUnknown) {
            return E_NOINTERFACE;
        }
        try {
            HRESULT hr = S_OK;
            CUnknown* created = create(outer, &hr);
            if (!created) {
                return E_OUTOFMEMORY;
            }
            if (FAILED(hr)) {
                delete created;
                return hr;
            }
            created->NonDelegatingAddRef();
            hr = created->NonDelegatingQueryInterface(iid, object);
            created->NonDelegatingRelease();
            return hr;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    CUnknown* (*create)(IUnknown*, HRESULT*);
};

CBuiltinFactory graphFactory(CFilterGraph::CreateInstance);
CBuiltinFactory clockFactory(CSystemClock::CreateInstance);
CBuiltinFactory allocatorFactory(CMemAllocator::CreateInstance);

struct Registration {
    Registration() { DShowRegisterBuiltins(); }
};
const Registration registerAtStart;

}  // namespace

HRESULT DShowRegisterBuiltins() {
    static std::once_flag once;
    static HRESULT result = S_OK;
    std::call_once(once, [] {
        const struct {
            const CLSID* clsid;
            IClassFactory* factory;
        } classes[] = {
            {&CLSID_FilterGraph, &graphFactory},
            {&CLSID_FilterGraphNoThread, &graphFactory},
            {&CLSID_SystemClock, &clockFactory},
            {&CLSID_MemoryAllocator, &allocatorFactory},
        };
        for (const auto& entry : classes) {
            DWORD cookie = 0;
            const HRESULT hr = CoRegisterClassObject(
                *entry.clsid, entry.factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            if (FAILED(hr)) {
                result = hr;
            }
        }
    });
    return result;
}
