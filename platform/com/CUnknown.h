#pragma once

#include <atomic>

#include "platform/com/Unknown.h"

// Counts the live objects of the module that contains this code. Every module links its own
// copy of this library, so the count is per module; DllCanUnloadNow answers from it.
class CBaseObject {
public:
    explicit CBaseObject(const char16_t* name);
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();

    // Objects of this module (components, pins, class factories, enumerators) alive now.
    static LONG ObjectsActive();
    const char16_t* GetObjectName() const { return objectName; }

private:
    const char16_t* objectName;  // a literal; kept for diagnostics
};

// The base of an object that implements IUnknown with a non-delegating inner unknown, so that
// it can be aggregated: while aggregated, its public IUnknown methods go to the outer object.
//
// Derived classes answer their interfaces in NonDelegatingQueryInterface (falling back to the
// base) and put DECLARE_IUNKNOWN in their declaration. The object is created with a reference
// count of 0; the creator takes the first reference.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const char16_t* name, IUnknown* outer);
    CUnknown(const char16_t* name, IUnknown* outer, HRESULT* hr);
    ~CUnknown() override;

    // The outer object when aggregated, this object's own inner unknown otherwise.
    IUnknown* GetOwner() const { return owner; }

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

protected:
    std::atomic<LONG> m_cRef{0};

private:
    // The object's identity: the IUnknown the outer object holds, answering IID_IUnknown.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CUnknown* self) : self(self) {}
        HRESULT QueryInterface(REFIID iid, void** object) override {
            return self->NonDelegatingQueryInterface(iid, object);
        }
        ULONG AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG Release() override { return self->NonDelegatingRelease(); }

    private:
        CUnknown* self;
    };

    InnerUnknown inner{this};
    IUnknown* owner;
};

// Stores `unknown` in `*object` with a new reference. E_POINTER without `object`.
HRESULT GetInterface(IUnknown* unknown, void** object);

// The public IUnknown methods of a class derived from CUnknown: they forward to the owner.
#define DECLARE_IUNKNOWN                                         \
    HRESULT QueryInterface(REFIID iid, void** object) override { \
        return GetOwner()->QueryInterface(iid, object);          \
    }                                                            \
    ULONG AddRef() override {                                    \
        return GetOwner()->AddRef();                             \
    }                                                            \
    ULONG Release() override {                                   \
        return GetOwner()->Release();                            \
    }
