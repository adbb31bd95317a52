#pragma once

#include "platform/com/ComTypes.h"
#include "platform/com/Guid.h"

// The root interfaces of the component model. Every interface is an abstract class whose
// virtual functions are in the published order (QueryInterface, AddRef, Release first) and
// which names its identifier as `kIid`, so that ComPtr can ask for it.

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IPersist{
    0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
public:
    static constexpr const IID& kIid = IID_IUnknown;
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    // Objects are destroyed through Release, never through an interface pointer.
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

class IClassFactory : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IClassFactory;
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

class IPersist : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IPersist;
    virtual HRESULT GetClassID(CLSID* classId) = 0;

protected:
    ~IPersist() = default;
};

// Automation is not offered: the dispatch slots exist so that the interfaces derived from it
// keep their published layout; their implementations answer E_NOTIMPL.
class ITypeInfo;
struct DISPPARAMS;
struct EXCEPINFO;
struct VARIANT;
class IDispatch : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IDispatch;
    virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
    virtual HRESULT GetTypeInfo(uint32_t index, uint32_t locale, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, uint32_t count, uint32_t locale,
                                  LONG* dispIds) = 0;
    virtual HRESULT Invoke(LONG dispId, REFIID iid, uint32_t locale, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, uint32_t* argumentError) = 0;

protected:
    ~IDispatch() = default;
};

// Implements the four dispatch slots of an interface derived from IDispatch.
#define ORV_NO_DISPATCH                                                                        \
    HRESULT GetTypeInfoCount(uint32_t* count) override {                                       \
        if (count) {                                                                           \
            *count = 0;                                                                        \
        }                                                                                      \
        return E_NOTIMPL;                                                                      \
    }                                                                                          \
    HRESULT GetTypeInfo(uint32_t, uint32_t, ITypeInfo**) override {                            \
        return E_NOTIMPL;                                                                      \
    }                                                                                          \
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, uint32_t, uint32_t, LONG*) override {             \
        return E_NOTIMPL;                                                                      \
    }                                                                                          \
    HRESULT Invoke(LONG, REFIID, uint32_t, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, uint32_t*) \
        override {                                                                             \
        return E_NOTIMPL;                                                                      \
    }

// The inner, non-delegating unknown of an object that can be aggregated: it controls the
// object's own lifetime and interfaces, while the object's public IUnknown methods forward to
// its owner (the outer object when aggregated, the inner unknown otherwise).
class INonDelegatingUnknown {
public:
    virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};
using PNDUNKNOWN = INonDelegatingUnknown*;
