#include "platform/com/RunningObjectTable.h"

#include <mutex>
#include <new>

#include "platform/com/CEnumList.h"
#include "platform/com/TaskAllocator.h"

namespace {

struct RunningEntry {
    DWORD cookie;
    std::u16string name;
    IUnknown* object;  // one reference
    FILETIME changeTime;
};

std::u16string NameOf(IMoniker* moniker) {
    LPOLESTR text = nullptr;
    if (!moniker || FAILED(moniker->GetDisplayName(nullptr, nullptr, &text)) || !text) {
        return {};
    }
    std::u16string name(text);
    CoTaskMemFree(text);
    return name;
}

HRESULT CreateNameMoniker(const std::u16string& name, IMoniker** moniker) {
    return CreateItemMoniker(u"", name.c_str(), moniker);
}

using CEnumNames =
    CEnumList<IEnumMoniker, CSnapshotSource<std::u16string, IMoniker*, CreateNameMoniker>>;

// The table itself never goes away; AddRef and Release do not count.
class CRunningObjectTable final : public IRunningObjectTable {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IRunningObjectTable) {
            *object = static_cast<IRunningObjectTable*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT Register(DWORD, IUnknown* object, IMoniker* name, DWORD* cookie) override {
        if (!object || !name || !cookie) {
            return E_INVALIDARG;
        }
        *cookie = 0;
        try {
            std::u16string text = NameOf(name);
            std::lock_guard<std::mutex> lock(mutex);
            bool duplicate = false;
            for (const RunningEntry& entry : entries) {
                duplicate = duplicate || entry.name == text;
            }
            object->AddRef();
            entries.push_back({nextCookie, std::move(text), object, {0, 0}});
            *cookie = nextCookie++;
            return duplicate ? MK_S_MONIKERALREADYREGISTERED : S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT Revoke(DWORD cookie) override {
        IUnknown* released = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                if (it->cookie == cookie) {
                    released = it->object;
                    entries.erase(it);
                    break;
                }
            }
        }
        if (!released) {
            return E_INVALIDARG;
        }
        released->Release();  // outside the lock: it may destroy the object
        return S_OK;
    }

    HRESULT IsRunning(IMoniker* name) override {
        IUnknown* found = Find(name);
        if (!found) {
            return S_FALSE;
        }
        found->Release();
        return S_OK;
    }

    HRESULT GetObject(IMoniker* name, IUnknown** object) override {
        if (!object) {
            return E_POINTER;
        }
        *object = Find(name);
        return *object ? S_OK : MK_E_UNAVAILABLE;
    }

    HRESULT NoteChangeTime(DWORD cookie, FILETIME* time) override {
        if (!time) {
            return E_INVALIDARG;
        }
        std::lock_guard<std::mutex> lock(mutex);
        for (RunningEntry& entry : entries) {
            if (entry.cookie == cookie) {
                entry.changeTime = *time;
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }

    HRESULT GetTimeOfLastChange(IMoniker* name, FILETIME* time) override {
        if (!time) {
            return E_POINTER;
        }
        const std::u16string text = NameOf(name);
        std::lock_guard<std::mutex> lock(mutex);
        for (const RunningEntry& entry : entries) {
            if (entry.name == text) {
                *time = entry.changeTime;
                return S_OK;
            }
        }
        return MK_E_UNAVAILABLE;
    }

    HRESULT EnumRunning(IEnumMoniker** enumerator) override {
        if (!enumerator) {
            return E_POINTER;
        }
        *enumerator = nullptr;
        try {
            return CEnumNames::Create(u"Running object enumerator", CEnumNames::ItemSource(Names()),
                                      enumerator);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    std::vector<std::u16string> Names() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::u16string> names;
        for (const RunningEntry& entry : entries) {
            names.push_back(entry.name);
        }
        return names;
    }

private:
    // The object registered under the moniker's name, with a new reference.
    IUnknown* Find(IMoniker* name) {
        const std::u16string text = NameOf(name);
        std::lock_guard<std::mutex> lock(mutex);
        for (const RunningEntry& entry : entries) {
            if (entry.name == text) {
                entry.object->AddRef();
                return entry.object;
            }
        }
        return nullptr;
    }

    std::mutex mutex;
    std::vector<RunningEntry> entries;
    DWORD nextCookie = 1;
};

CRunningObjectTable& TheTable() {
    static CRunningObjectTable* table = new CRunningObjectTable();
    return *table;
}

}  // namespace

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** table) {
    if (!table) {
        return E_POINTER;
    }
    *table = &TheTable();
    (*table)->AddRef();
    return S_OK;
}

std::vector<std::u16string> ListRunningObjectNames() {
    return TheTable().Names();
}
