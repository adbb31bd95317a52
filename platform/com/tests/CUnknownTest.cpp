#include "platform/com/CUnknown.h"

#include <gtest/gtest.h>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/tests/ComTestModule.h"
#include "platform/com/tests/TemporaryRegistry.h"

namespace {

class CCounter final : public CUnknown, public IComTestCounter {
public:
    explicit CCounter(IUnknown* outer) : CUnknown(u"Counter", outer) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IComTestCounter) {
            return GetInterface(static_cast<IComTestCounter*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    LONG Increment() override { return ++count; }
    LONG ModuleObjects() override { return CBaseObject::ObjectsActive(); }
    LONG References() const { return m_cRef.load(); }

    static CUnknown* Create(IUnknown* outer, HRESULT*) { return new CCounter(outer); }

private:
    LONG count = 0;
};

// Exposes the counter of an aggregated inner object as its own interface.
class CAggregate final : public CUnknown, public IPersist {
public:
    CAggregate() : CUnknown(u"Aggregate", nullptr) {}
    DECLARE_IUNKNOWN

    HRESULT Init() {
        auto* created = new CCounter(GetOwner());
        inner = created;
        return inner->NonDelegatingAddRef() == 1 ? S_OK : E_UNEXPECTED;
    }
    ~CAggregate() override {
        if (inner) {
            inner->NonDelegatingRelease();
        }
    }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IPersist) {
            return GetInterface(static_cast<IPersist*>(this), object);
        }
        if (iid == IID_IComTestCounter) {
            return inner->NonDelegatingQueryInterface(iid, object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT GetClassID(CLSID* classId) override {
        *classId = CLSID_ComTestCounter;
        return S_OK;
    }
    LONG References() const { return m_cRef.load(); }

private:
    INonDelegatingUnknown* inner = nullptr;
};

const CFactoryTemplate kTemplates[] = {
    {u"Counter", &CLSID_ComTestCounter, CCounter::Create, nullptr, nullptr},
};

}  // namespace

TEST(CUnknown, ObjectLivesUntilTheLastReferenceGoes) {
    const LONG before = CBaseObject::ObjectsActive();
    auto* counter = new CCounter(nullptr);
    ComPtr<IComTestCounter> held(counter);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);
    EXPECT_EQ(counter->References(), 1);
    {
        ComPtr<IComTestCounter> copy = held;
        EXPECT_EQ(counter->References(), 2);
        ComPtr<IUnknown> identity = held.As<IUnknown>();
        ASSERT_TRUE(identity);
        EXPECT_EQ(counter->References(), 3);
        ComPtr<IPersist> missing;
        EXPECT_EQ(held.As(&missing), E_NOINTERFACE);
        EXPECT_FALSE(missing);
    }
    EXPECT_EQ(counter->References(), 1);
    IComTestCounter* detached = held.Detach();
    EXPECT_FALSE(held);
    ComPtr<IComTestCounter> adopted = ComPtr<IComTestCounter>::Attach(detached);
    EXPECT_EQ(counter->References(), 1);
    adopted.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(CUnknown, QueryInterfaceRejectsNullOutputAndUnknownInterfaces) {
    ComPtr<IComTestCounter> counter(new CCounter(nullptr));
    EXPECT_EQ(counter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(counter->QueryInterface(IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST(CUnknown, AggregatedObjectSharesTheOuterIdentityAndCount) {
    const LONG before = CBaseObject::ObjectsActive();
    auto* aggregate = new CAggregate();
    ComPtr<IPersist> outer(aggregate);
    ASSERT_EQ(aggregate->Init(), S_OK);

    ComPtr<IComTestCounter> counter;
    ASSERT_EQ(outer.As(&counter), S_OK);
    EXPECT_EQ(aggregate->References(), 2);  // the inner interface counts on the outer object
    EXPECT_EQ(counter->Increment(), 1);

    // Every interface answers the same IUnknown: the outer object's.
    ComPtr<IUnknown> fromInner = counter.As<IUnknown>();
    ComPtr<IUnknown> fromOuter = outer.As<IUnknown>();
    EXPECT_EQ(fromInner.Get(), fromOuter.Get());
    // The inner object hands out the outer's interfaces too.
    ComPtr<IPersist> persist;
    ASSERT_EQ(counter.As(&persist), S_OK);
    EXPECT_EQ(persist.Get(), outer.Get());

    counter.Reset();
    fromInner.Reset();
    fromOuter.Reset();
    persist.Reset();
    outer.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(ClassFactory, CreatesObjectsAndEnforcesTheAggregationRule) {
    const LONG before = CBaseObject::ObjectsActive();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(ComModuleGetClassObject(kTemplates, 1, CLSID_ComTestCounter, IID_IClassFactory,
                                      factory.GetVoidAddressOf()),
              S_OK);
    ComPtr<IComTestCounter> counter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IComTestCounter, counter.GetVoidAddressOf()),
              S_OK);
    EXPECT_EQ(counter->Increment(), 1);

    void* object = reinterpret_cast<void*>(1);
    auto* outer = new CCounter(nullptr);
    ComPtr<IComTestCounter> outerHeld(outer);
    EXPECT_EQ(factory->CreateInstance(outerHeld.Get(), IID_IComTestCounter, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IComTestCounter, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);

    EXPECT_EQ(ComModuleGetClassObject(kTemplates, 1, CLSID_ComTestPage, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(
        ComModuleGetClassObject(kTemplates, 1, CLSID_ComTestCounter, IID_IComTestCounter, &object),
        E_NOINTERFACE);

    // The module may go only when nothing of it lives and no factory is locked.
    EXPECT_EQ(ComModuleCanUnloadNow(), S_FALSE);
    counter.Reset();
    outerHeld.Reset();
    factory->LockServer(TRUE);
    factory.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
    if (before == 0) {
        EXPECT_EQ(ComModuleCanUnloadNow(), S_FALSE);  // still locked
    }
    ComPtr<IClassFactory> again;
    ASSERT_EQ(ComModuleGetClassObject(kTemplates, 1, CLSID_ComTestCounter, IID_IUnknown,
                                      again.GetVoidAddressOf()),
              S_OK);
    again->LockServer(FALSE);
    again.Reset();
    if (before == 0) {
        EXPECT_EQ(ComModuleCanUnloadNow(), S_OK);
    }
}

TEST(ComRuntime, CreatesBuiltInClassesUntilTheyAreRevoked) {
    TemporaryRegistry registry;
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(ComModuleGetClassObject(kTemplates, 1, CLSID_ComTestCounter, IID_IClassFactory,
                                      factory.GetVoidAddressOf()),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_ComTestCounter, factory.Get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    factory.Reset();  // the runtime keeps its own reference

    ComPtr<IComTestCounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_ComTestCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IComTestCounter, counter.GetVoidAddressOf()),
              S_OK);
    EXPECT_EQ(counter->Increment(), 1);
    ComPtr<IComTestCounter> local;
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestCounter, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IComTestCounter, local.GetVoidAddressOf()),
              REGDB_E_CLASSNOTREG);

    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    ComPtr<IComTestCounter> after;
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestCounter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IComTestCounter, after.GetVoidAddressOf()),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(after);
    EXPECT_NE(ComGetLastErrorText().find("not registered"), std::string::npos);
}

TEST(ComRuntime, InitialisationCountsPerThread) {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}
