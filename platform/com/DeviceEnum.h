#pragma once

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/Moniker.h"
#include "platform/com/Variant.h"

// The system device enumerator: lists a category of the component registry as monikers. Each
// moniker binds to its object (BindToObject creates the class, or asks the entry's provider)
// and to a property bag (BindToStorage with IID_IPropertyBag) that answers "FriendlyName",
// "CLSID" (the class identifier in braces), "DevicePath" and "Description" as strings, and
// "Merit" as a 32-bit number.

inline constexpr CLSID CLSID_SystemDeviceEnum{
    0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr IID IID_ICreateDevEnum{
    0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr IID IID_IPropertyBag{
    0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);

// CreateClassEnumerator flags (accepted, without effect).
inline constexpr DWORD CDEF_DEVMON_FILTER = 0x4;

class IErrorLog;

class IPropertyBag : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IPropertyBag;
    // Reads a property. `value` is VT_EMPTY (any kind) or the kind wanted; E_INVALIDARG when
    // the property does not exist, DISP_E_TYPEMISMATCH when it has another kind.
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;

protected:
    ~IPropertyBag() = default;
};

class ICreateDevEnum : public IUnknown {
public:
    static constexpr const IID& kIid = IID_ICreateDevEnum;
    // S_FALSE and a null enumerator when the category is empty.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator,
                                          DWORD flags) = 0;

protected:
    ~ICreateDevEnum() = default;
};

// Makes a moniker for one category entry (what the enumerator hands out).
HRESULT CreateCategoryEntryMoniker(const CategoryEntry& entry, IMoniker** moniker);

// The class object of CLSID_SystemDeviceEnum (CoCreateInstance finds it by itself).
HRESULT GetSystemDeviceEnumClassObject(REFIID iid, void** object);

// One device of a category as the enumerator lists it: the three strings of its property bag
// and its moniker (which binds to the device's object).
struct DeviceEntry {
    std::u16string friendlyName;
    std::u16string devicePath;
    std::u16string description;
    ComPtr<IMoniker> moniker;
};

// The devices of a category, in the enumerator's order; empty when there are none or the
// enumerator cannot be made. A property a device lacks reads as empty.
std::vector<DeviceEntry> ListDevices(REFCLSID category);
