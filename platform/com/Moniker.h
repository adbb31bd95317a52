#pragma once

#include <string>

#include "platform/com/CUnknown.h"

// Monikers: names that bind to objects. Two kinds exist here: the entries of a category
// enumeration (bind to the component, or to a property bag with its FriendlyName, CLSID,
// DevicePath and Description) and the item monikers that name objects in the running-object
// table. The interface keeps its published layout; the operations no moniker here supports
// (composition, streams, reduction) answer E_NOTIMPL.

inline constexpr IID IID_IPersistStream{
    0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMoniker{
    0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumMoniker{
    0x00000102, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IStream;
class IBindCtx;

struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

class IPersistStream : public IPersist {
public:
    static constexpr const IID& kIid = IID_IPersistStream;
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;

protected:
    ~IPersistStream() = default;
};

class IEnumMoniker;

class IMoniker : public IPersistStream {
public:
    static constexpr const IID& kIid = IID_IMoniker;
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
    virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
    virtual HRESULT Reduce(IBindCtx* context, DWORD howFar, IMoniker** left,
                           IMoniker** reduced) = 0;
    virtual HRESULT ComposeWith(IMoniker* right, BOOL onlyIfNotGeneric, IMoniker** composite) = 0;
    virtual HRESULT Enum(BOOL forward, IEnumMoniker** enumerator) = 0;
    virtual HRESULT IsEqual(IMoniker* other) = 0;
    virtual HRESULT Hash(DWORD* hash) = 0;
    virtual HRESULT IsRunning(IBindCtx* context, IMoniker* left, IMoniker* newlyRunning) = 0;
    virtual HRESULT GetTimeOfLastChange(IBindCtx* context, IMoniker* left, FILETIME* time) = 0;
    virtual HRESULT Inverse(IMoniker** inverse) = 0;
    virtual HRESULT CommonPrefixWith(IMoniker* other, IMoniker** prefix) = 0;
    virtual HRESULT RelativePathTo(IMoniker* other, IMoniker** relativePath) = 0;
    // The name as text, in task memory (free it with CoTaskMemFree).
    virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) = 0;
    virtual HRESULT ParseDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR name, ULONG* eaten,
                                     IMoniker** out) = 0;
    virtual HRESULT IsSystemMoniker(DWORD* kind) = 0;

protected:
    ~IMoniker() = default;
};

class IEnumMoniker : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IEnumMoniker;
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** clone) = 0;

protected:
    ~IEnumMoniker() = default;
};

// A moniker whose name is a fixed text; derived classes supply binding.
class CNamedMoniker : public CUnknown, public IMoniker {
public:
    CNamedMoniker(const char16_t* objectName, std::u16string displayName);
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    const std::u16string& DisplayName() const { return displayName; }

    HRESULT GetClassID(CLSID* classId) override;
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID, void** object) override;
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void** object) override;
    HRESULT Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override { return E_NOTIMPL; }
    HRESULT ComposeWith(IMoniker*, BOOL, IMoniker**) override { return E_NOTIMPL; }
    HRESULT Enum(BOOL, IEnumMoniker** enumerator) override;
    HRESULT IsEqual(IMoniker* other) override;
    HRESULT Hash(DWORD* hash) override;
    HRESULT IsRunning(IBindCtx*, IMoniker*, IMoniker*) override;
    HRESULT GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
    HRESULT Inverse(IMoniker**) override { return E_NOTIMPL; }
    HRESULT CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override;
    HRESULT ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override {
        return E_NOTIMPL;
    }
    HRESULT IsSystemMoniker(DWORD* kind) override;

private:
    std::u16string displayName;
};

// Makes an item moniker named `delimiter` + `item` (the running-object table's names).
HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker);
