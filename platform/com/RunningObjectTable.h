#pragma once

#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/Moniker.h"

// The running-object table: a process-wide list of named running objects (the application
// registers each filter graph in it so that it can be found and inspected). Registration holds
// a reference to the object until it is revoked.

inline constexpr IID IID_IRunningObjectTable{
    0x00000010, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
inline constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;
inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = 0x000401E7;

class IRunningObjectTable : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IRunningObjectTable;
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
    virtual HRESULT Revoke(DWORD cookie) = 0;
    virtual HRESULT IsRunning(IMoniker* name) = 0;
    virtual HRESULT GetObject(IMoniker* name, IUnknown** object) = 0;
    virtual HRESULT NoteChangeTime(DWORD cookie, FILETIME* time) = 0;
    virtual HRESULT GetTimeOfLastChange(IMoniker* name, FILETIME* time) = 0;
    virtual HRESULT EnumRunning(IEnumMoniker** enumerator) = 0;

protected:
    ~IRunningObjectTable() = default;
};

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);

// The display names of the objects registered now, in registration order.
std::vector<std::u16string> ListRunningObjectNames();
