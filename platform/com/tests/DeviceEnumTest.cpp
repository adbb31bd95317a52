// The system device enumerator and the running-object table.
#include "platform/com/DeviceEnum.h"

#include <gtest/gtest.h>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/RunningObjectTable.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/tests/ComTestModule.h"
#include "platform/com/tests/TemporaryRegistry.h"

namespace {

class CCounter final : public CUnknown, public IComTestCounter {
public:
    CCounter() : CUnknown(u"Counter", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IComTestCounter) {
            return GetInterface(static_cast<IComTestCounter*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    LONG Increment() override { return ++count; }
    LONG ModuleObjects() override { return CBaseObject::ObjectsActive(); }
    static CUnknown* Create(IUnknown*, HRESULT*) { return new CCounter(); }

private:
    LONG count = 0;
};

const CFactoryTemplate kTemplates[] = {
    {u"Counter", &CLSID_ComTestCounter, CCounter::Create, nullptr, nullptr},
};

const CLSID kTunerCategory = KSCATEGORY_BDA_NETWORK_TUNER;

std::u16string ReadString(IMoniker* moniker, const char16_t* property, HRESULT* result) {
    ComPtr<IPropertyBag> bag;
    *result = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.GetVoidAddressOf());
    if (FAILED(*result)) {
        return {};
    }
    VARIANT value;
    VariantInit(&value);
    *result = bag->Read(property, &value, nullptr);
    std::u16string text = SUCCEEDED(*result) && value.vt == VT_BSTR ? value.bstrVal : u"";
    VariantClear(&value);
    return text;
}

}  // namespace

TEST(DeviceEnum, EnumeratesACategoryAsMonikersWithProperties) {
    TemporaryRegistry registry;
    ComPtr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, devices.GetVoidAddressOf()),
              S_OK);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devices->CreateClassEnumerator(kTunerCategory, monikers.GetAddressOf(), 0), S_FALSE);
    EXPECT_FALSE(monikers);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(ComModuleGetClassObject(kTemplates, 1, CLSID_ComTestCounter, IID_IClassFactory,
                                      factory.GetVoidAddressOf()),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_ComTestCounter, factory.Get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);

    CategoryEntry tuner;
    tuner.category = kTunerCategory;
    tuner.instance = u"/dev/dvb/adapter0/frontend0";
    tuner.clsid = CLSID_ComTestCounter;
    tuner.friendlyName = u"Tuner A";
    tuner.devicePath = u"/dev/dvb/adapter0/frontend0";
    tuner.merit = 0x600000;
    ASSERT_EQ(ComponentRegistry::RegisterCategoryEntry(tuner), S_OK);
    int madeByProvider = 0;
    const DWORD provider = ComponentRegistry::AddCategoryProvider(
        kTunerCategory, [&madeByProvider](std::vector<CategoryEntry>* entries) {
            CategoryEntry device;
            device.instance = u"virtual";
            device.friendlyName = u"Tuner B";
            device.merit = 0x200000;
            device.create = [&madeByProvider](REFIID iid, void** object) {
                ++madeByProvider;
                auto* counter = new CCounter();
                counter->NonDelegatingAddRef();
                const HRESULT hr = counter->NonDelegatingQueryInterface(iid, object);
                counter->NonDelegatingRelease();
                return hr;
            };
            entries->push_back(device);
        });

    ASSERT_EQ(devices->CreateClassEnumerator(kTunerCategory, monikers.GetAddressOf(), 0), S_OK);
    IMoniker* batch[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(3, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    ComPtr<IMoniker> first = ComPtr<IMoniker>::Attach(batch[0]);
    ComPtr<IMoniker> second = ComPtr<IMoniker>::Attach(batch[1]);

    HRESULT hr = S_OK;
    EXPECT_EQ(ReadString(first.Get(), u"FriendlyName", &hr), u"Tuner A");
    EXPECT_EQ(ReadString(first.Get(), u"DevicePath", &hr), u"/dev/dvb/adapter0/frontend0");
    EXPECT_EQ(ReadString(first.Get(), u"CLSID", &hr), GuidToU16String(CLSID_ComTestCounter));
    ReadString(first.Get(), u"NoSuchProperty", &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(ReadString(second.Get(), u"FriendlyName", &hr), u"Tuner B");
    ReadString(second.Get(), u"DevicePath", &hr);
    EXPECT_EQ(hr, E_INVALIDARG);

    // A string property asked for as a number is refused.
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(first->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.GetVoidAddressOf()),
              S_OK);
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    EXPECT_EQ(bag->Read(u"FriendlyName", &number, nullptr), DISP_E_TYPEMISMATCH);
    VariantInit(&number);
    ASSERT_EQ(bag->Read(u"Merit", &number, nullptr), S_OK);
    EXPECT_EQ(number.ulVal, 0x600000u);

    ComPtr<IComTestCounter> counter;
    ASSERT_EQ(
        first->BindToObject(nullptr, nullptr, IID_IComTestCounter, counter.GetVoidAddressOf()),
        S_OK);
    EXPECT_EQ(counter->Increment(), 1);
    ASSERT_EQ(
        second->BindToObject(nullptr, nullptr, IID_IComTestCounter, counter.GetVoidAddressOf()),
        S_OK);
    EXPECT_EQ(madeByProvider, 1);

    LPOLESTR name = nullptr;
    ASSERT_EQ(first->GetDisplayName(nullptr, nullptr, &name), S_OK);
    EXPECT_EQ(std::u16string(name), u"@device:pnp:/dev/dvb/adapter0/frontend0");
    CoTaskMemFree(name);

    ComPtr<IEnumMoniker> clone;
    ASSERT_EQ(monikers->Reset(), S_OK);
    ASSERT_EQ(monikers->Skip(1), S_OK);
    ASSERT_EQ(monikers->Clone(clone.GetAddressOf()), S_OK);
    IMoniker* one = nullptr;
    ASSERT_EQ(clone->Next(1, &one, nullptr), S_OK);
    ComPtr<IMoniker> last = ComPtr<IMoniker>::Attach(one);
    EXPECT_EQ(last->IsEqual(second.Get()), S_OK);
    EXPECT_EQ(last->IsEqual(first.Get()), S_FALSE);
    EXPECT_EQ(clone->Skip(1), S_FALSE);

    ComponentRegistry::RemoveCategoryProvider(provider);
    CoRevokeClassObject(cookie);
}

TEST(RunningObjectTable, ListsRegisteredObjectsUntilRevoked) {
    ComPtr<IRunningObjectTable> table;
    ASSERT_EQ(GetRunningObjectTable(0, table.GetAddressOf()), S_OK);
    const LONG before = CBaseObject::ObjectsActive();

    ComPtr<IComTestCounter> counter(new CCounter());
    ComPtr<IMoniker> name;
    ASSERT_EQ(CreateItemMoniker(u"!", u"FilterGraph 0000 pid 0001", name.GetAddressOf()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, counter.Get(), name.Get(), &cookie),
              S_OK);
    EXPECT_NE(cookie, 0u);
    std::vector<std::u16string> names = ListRunningObjectNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], u"!FilterGraph 0000 pid 0001");
    EXPECT_EQ(table->IsRunning(name.Get()), S_OK);
    EXPECT_EQ(name->IsRunning(nullptr, nullptr, nullptr), S_OK);

    // Found again through the name, and bound through the moniker.
    ComPtr<IUnknown> found;
    ASSERT_EQ(table->GetObject(name.Get(), found.GetAddressOf()), S_OK);
    EXPECT_EQ(found.Get(), static_cast<IUnknown*>(counter.Get()));
    ComPtr<IComTestCounter> bound;
    ASSERT_EQ(name->BindToObject(nullptr, nullptr, IID_IComTestCounter, bound.GetVoidAddressOf()),
              S_OK);
    EXPECT_EQ(bound.Get(), counter.Get());

    ComPtr<IEnumMoniker> running;
    ASSERT_EQ(table->EnumRunning(running.GetAddressOf()), S_OK);
    IMoniker* listed = nullptr;
    ASSERT_EQ(running->Next(1, &listed, nullptr), S_OK);
    ComPtr<IMoniker> listedHeld = ComPtr<IMoniker>::Attach(listed);
    EXPECT_EQ(listedHeld->IsEqual(name.Get()), S_OK);

    // The table keeps the object alive until the registration is revoked.
    found.Reset();
    bound.Reset();
    counter.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 4);  // object, moniker, enumerator, listed
    ASSERT_EQ(table->Revoke(cookie), S_OK);
    EXPECT_EQ(table->Revoke(cookie), E_INVALIDARG);
    EXPECT_TRUE(ListRunningObjectNames().empty());
    EXPECT_EQ(table->IsRunning(name.Get()), S_FALSE);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 3);
}
