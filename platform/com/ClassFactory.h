#pragma once

#include <atomic>

#include "platform/com/CUnknown.h"

struct RegFilter;

// Creates one component object; `hr` receives a construction failure (the object is then
// deleted by the caller).
using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* hr);
// Called for every template when the module is loaded (true) and unloaded (false).
using LPFNInitRoutine = void (*)(BOOL loading, const CLSID* classId);

// One entry of a module's class-factory list.
struct CFactoryTemplate {
    const char16_t* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    // The filter's registration (name, merit, pins) for entries that are filters; null for the
    // others (property pages).
    const RegFilter* m_pFilter;

    bool IsClassID(REFCLSID classId) const { return m_ClsID && *m_ClsID == classId; }
    CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) const { return m_lpfnNew(outer, hr); }
};

// The class factory handed out by a module's DllGetClassObject for one template.
class CClassFactory final : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* factoryTemplate);

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT LockServer(BOOL lock) override;

    // Locks taken through LockServer on this module's factories.
    static LONG ServerLockCount();

private:
    ~CClassFactory() override = default;

    std::atomic<LONG> referenceCount{0};
    const CFactoryTemplate* factoryTemplate;
};

// What a module's entry points do with its template list.
//
// DllGetClassObject: a class factory for the template with `classId` (CLASS_E_CLASSNOTAVAILABLE
// when there is none; E_NOINTERFACE unless `iid` is IUnknown or IClassFactory).
HRESULT ComModuleGetClassObject(const CFactoryTemplate* templates, int count, REFCLSID classId,
                                REFIID iid, void** object);
// DllCanUnloadNow: S_OK when no object of the module is alive and no factory is locked.
HRESULT ComModuleCanUnloadNow();
// The library constructor and destructor: the templates' init routines.
void ComModuleAttach(const CFactoryTemplate* templates, int count);
void ComModuleDetach(const CFactoryTemplate* templates, int count);
