#include "platform/com/ComponentRegistry.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <nlohmann/json.hpp>

#include "core/CodePage.h"
#include "platform/com/ClassFactory.h"

using nlohmann::json;

namespace {

constexpr int kFormatVersion = 1;

// Serialises this copy's registry operations; other copies and processes are kept apart by
// the lock file.
std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::mutex& ErrorMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& LastErrorText() {
    static std::string text;
    return text;
}

void SetLastError(std::string text) {
    std::lock_guard<std::mutex> lock(ErrorMutex());
    LastErrorText() = std::move(text);
}

std::string ToUtf8(std::u16string_view text) {
    return Utf16ToUtf8(text);
}
std::u16string ToUtf16(std::string_view text) {
    return Utf8ToUtf16(text);
}

// --- reading the document defensively: a malformed part is skipped, never trusted

std::string StringField(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return {};
    }
    return found->get<std::string>();
}

bool BoolField(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

DWORD MeritField(const json& object, DWORD fallback) {
    auto found = object.find("merit");
    if (found == object.end() || !found->is_number_unsigned()) {
        return fallback;
    }
    const uint64_t value = found->get<uint64_t>();
    return value > 0xFFFFFFFFu ? fallback : static_cast<DWORD>(value);
}

GUID GuidField(const json& object, const char* key) {
    GUID guid = GUID_NULL;
    GuidFromString(StringField(object, key), &guid);
    return guid;
}

std::vector<RegPin> PinsFromJson(const json& object) {
    std::vector<RegPin> pins;
    auto found = object.find("pins");
    if (found == object.end() || !found->is_array()) {
        return pins;
    }
    for (const json& item : *found) {
        if (!item.is_object()) {
            continue;
        }
        RegPin pin;
        pin.name = ToUtf16(StringField(item, "name"));
        pin.output = BoolField(item, "output");
        pin.rendered = BoolField(item, "rendered");
        pin.zero = BoolField(item, "zero");
        pin.many = BoolField(item, "many");
        auto types = item.find("types");
        if (types != item.end() && types->is_array()) {
            for (const json& type : *types) {
                if (type.is_object()) {
                    pin.mediaTypes.push_back({GuidField(type, "major"), GuidField(type, "minor")});
                }
            }
        }
        pins.push_back(std::move(pin));
    }
    return pins;
}

json PinsToJson(const std::vector<RegPin>& pins) {
    json array = json::array();
    for (const RegPin& pin : pins) {
        json types = json::array();
        for (const RegPinType& type : pin.mediaTypes) {
            types.push_back(
                {{"major", GuidToString(type.majorType)}, {"minor", GuidToString(type.subType)}});
        }
        array.push_back({{"name", ToUtf8(pin.name)},
                         {"output", pin.output},
                         {"rendered", pin.rendered},
                         {"zero", pin.zero},
                         {"many", pin.many},
                         {"types", std::move(types)}});
    }
    return array;
}

json EntryToJson(const CategoryEntry& entry) {
    json object = {{"FriendlyName", ToUtf8(entry.friendlyName)},
                   {"CLSID", GuidToString(entry.clsid)},
                   {"merit", entry.merit},
                   {"pins", PinsToJson(entry.pins)}};
    if (!entry.devicePath.empty()) {
        object["DevicePath"] = ToUtf8(entry.devicePath);
    }
    if (!entry.description.empty()) {
        object["Description"] = ToUtf8(entry.description);
    }
    return object;
}

CategoryEntry EntryFromJson(REFCLSID category, const std::string& instance, const json& object) {
    CategoryEntry entry;
    entry.category = category;
    entry.instance = ToUtf16(instance);
    entry.clsid = GuidField(object, "CLSID");
    entry.friendlyName = ToUtf16(StringField(object, "FriendlyName"));
    entry.devicePath = ToUtf16(StringField(object, "DevicePath"));
    entry.description = ToUtf16(StringField(object, "Description"));
    entry.merit = MeritField(object, MERIT_DO_NOT_USE);
    entry.pins = PinsFromJson(object);
    return entry;
}

json EmptyDocument() {
    return json{
        {"format", kFormatVersion}, {"classes", json::object()}, {"categories", json::object()}};
}

// Makes sure the two top-level maps exist and are objects.
void Normalise(json* document) {
    if (!document->is_object()) {
        *document = EmptyDocument();
        return;
    }
    if (!document->contains("classes") || !(*document)["classes"].is_object()) {
        (*document)["classes"] = json::object();
    }
    if (!document->contains("categories") || !(*document)["categories"].is_object()) {
        (*document)["categories"] = json::object();
    }
    (*document)["format"] = kFormatVersion;
}

enum class ReadResult { kMissing, kRead, kCorrupt, kFailed };

ReadResult ReadFile(const std::string& path, std::string* text, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return ReadResult::kMissing;
        }
        *error = "cannot open the component registry " + path + ": " + std::strerror(errno);
        return ReadResult::kFailed;
    }
    text->clear();
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof(buffer));
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = "cannot read the component registry " + path + ": " + std::strerror(errno);
            ::close(fd);
            return ReadResult::kFailed;
        }
        if (count == 0) {
            break;
        }
        text->append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return ReadResult::kRead;
}

// Reads the document. A missing file is an empty registry; an unreadable or malformed one is
// empty too, with the reason in LastError.
ReadResult LoadDocument(const std::string& path, json* document) {
    std::string text;
    std::string error;
    const ReadResult result = ReadFile(path, &text, &error);
    *document = EmptyDocument();
    if (result == ReadResult::kMissing) {
        SetLastError({});
        return result;
    }
    if (result == ReadResult::kFailed) {
        SetLastError(error);
        return result;
    }
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        SetLastError("the component registry " + path +
                     " is not a valid registry file; it reads as empty");
        return ReadResult::kCorrupt;
    }
    *document = std::move(parsed);
    Normalise(document);
    SetLastError({});
    return ReadResult::kRead;
}

bool MakeDirectories(const std::string& directory) {
    if (directory.empty()) {
        return true;
    }
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = directory.find('/', pos + 1);
        partial = directory.substr(0, pos);
        if (partial.empty()) {
            continue;
        }
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<size_t>(count);
    }
    return true;
}

// Replaces the file with `document`: temporary file beside it, flushed, renamed over it.
HRESULT StoreDocument(const std::string& path, const json& document) {
    static std::atomic<unsigned> sequence{0};
    const std::string temporary =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(sequence.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError("cannot write the component registry " + temporary + ": " +
                     std::strerror(errno));
        return REGDB_E_WRITEREGDB;
    }
    const std::string text = document.dump(2) + "\n";
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = written ? errno : savedErrno;
        ::unlink(temporary.c_str());
        SetLastError("cannot write the component registry " + path + ": " + std::strerror(error));
        return REGDB_E_WRITEREGDB;
    }
    const int directory = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return S_OK;
}

// Holds the lock file beside the registry while a change is made.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd >= 0) {
            ::flock(fd, LOCK_UN);
            ::close(fd);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd >= 0; }

private:
    int fd = -1;
};

// Runs a change on the document. `change` returns false when it changed nothing.
template <typename Change>
HRESULT ModifyDocument(Change change) {
    try {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        const std::string path = ComponentRegistry::Path();
        if (!MakeDirectories(DirectoryOf(path))) {
            SetLastError("cannot create the folder of the component registry " + path + ": " +
                         std::strerror(errno));
            return REGDB_E_WRITEREGDB;
        }
        FileLock fileLock(path);
        if (!fileLock.Held()) {
            SetLastError("cannot lock the component registry " + path + ": " +
                         std::strerror(errno));
            return REGDB_E_WRITEREGDB;
        }
        json document;
        const ReadResult read = LoadDocument(path, &document);
        if (read == ReadResult::kFailed) {
            return REGDB_E_READREGDB;
        }
        if (read == ReadResult::kCorrupt) {
            // Keep the damaged file for inspection; the registry starts again.
            ::rename(path.c_str(), (path + ".corrupt").c_str());
        }
        if (!change(document) && read != ReadResult::kCorrupt) {
            return S_OK;
        }
        return StoreDocument(path, document);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return REGDB_E_WRITEREGDB;
    }
}

template <typename Reader>
HRESULT ReadDocument(Reader reader) {
    try {
        json document;
        {
            std::lock_guard<std::mutex> lock(RegistryMutex());
            if (LoadDocument(ComponentRegistry::Path(), &document) == ReadResult::kFailed) {
                return REGDB_E_READREGDB;
            }
        }
        return reader(static_cast<const json&>(document));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return REGDB_E_READREGDB;
    }
}

// --- in-process entries

struct ProviderRecord {
    DWORD cookie;
    CLSID category;
    CategoryProvider provider;
};

struct ProcessEntries {
    std::mutex mutex;
    std::vector<CategoryEntry> builtin;
    std::vector<ProviderRecord> providers;
    DWORD nextCookie = 1;
};

ProcessEntries& Process() {
    static ProcessEntries entries;
    return entries;
}

CategoryEntry EntryForFilter(REFCLSID category, const RegFilter& filter) {
    CategoryEntry entry;
    entry.category = category;
    entry.instance = GuidToU16String(filter.clsid);
    entry.clsid = filter.clsid;
    entry.friendlyName = filter.name;
    entry.merit = filter.merit;
    entry.pins = filter.pins;
    return entry;
}

}  // namespace

std::string ComponentRegistry::Path() {
    if (const char* overridden = std::getenv("ORVANTA_REGISTRY"); overridden && *overridden) {
        return overridden;
    }
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = "/tmp";
    }
    return base + "/orvanta/registry.json";
}

HRESULT ComponentRegistry::RegisterClass(const ClassRegistration& registration) {
    if (registration.clsid == GUID_NULL || registration.modulePath.empty()) {
        return E_INVALIDARG;
    }
    return ModifyDocument([&](json& document) {
        json record = {{"name", ToUtf8(registration.name)},
                       {"module", registration.modulePath},
                       {"threadingModel", registration.threadingModel}};
        json& slot = document["classes"][GuidToString(registration.clsid)];
        if (slot == record) {
            return false;
        }
        slot = std::move(record);
        return true;
    });
}

HRESULT ComponentRegistry::RegisterModuleClass(REFCLSID clsid, std::u16string_view name,
                                               const void* moduleAddress) {
    ClassRegistration registration;
    registration.clsid = clsid;
    registration.name = std::u16string(name);
    registration.modulePath = ComModulePathFromAddress(moduleAddress);
    if (registration.modulePath.empty()) {
        SetLastError("cannot tell which module registers the class " + GuidToString(clsid));
        return SELFREG_E_CLASS;
    }
    return RegisterClass(registration);
}

HRESULT ComponentRegistry::UnregisterClass(REFCLSID clsid) {
    return ModifyDocument(
        [&](json& document) { return document["classes"].erase(GuidToString(clsid)) > 0; });
}

HRESULT ComponentRegistry::FindClass(REFCLSID clsid, ClassRegistration* out) {
    return ReadDocument([&](const json& document) -> HRESULT {
        const json& classes = document["classes"];
        auto found = classes.find(GuidToString(clsid));
        if (found == classes.end() || !found->is_object()) {
            return REGDB_E_CLASSNOTREG;
        }
        const std::string module = StringField(*found, "module");
        if (module.empty()) {
            return REGDB_E_CLASSNOTREG;
        }
        if (out) {
            out->clsid = clsid;
            out->name = ToUtf16(StringField(*found, "name"));
            out->modulePath = module;
            out->threadingModel = StringField(*found, "threadingModel");
        }
        return S_OK;
    });
}

HRESULT ComponentRegistry::RegisterFilter(REFCLSID category, const RegFilter& filter) {
    if (filter.clsid == GUID_NULL) {
        return E_INVALIDARG;
    }
    return RegisterCategoryEntry(EntryForFilter(category, filter));
}

HRESULT ComponentRegistry::UnregisterFilter(REFCLSID category, REFCLSID clsid) {
    return UnregisterCategoryEntry(category, GuidToU16String(clsid));
}

HRESULT ComponentRegistry::RegisterCategoryEntry(const CategoryEntry& entry) {
    if (entry.instance.empty()) {
        return E_INVALIDARG;
    }
    return ModifyDocument([&](json& document) {
        json& record = document["categories"][GuidToString(entry.category)];
        if (!record.is_object()) {
            record = json::object();
        }
        if (!record.contains("instances") || !record["instances"].is_object()) {
            record["instances"] = json::object();
        }
        json value = EntryToJson(entry);
        json& slot = record["instances"][ToUtf8(entry.instance)];
        if (slot == value) {
            return false;
        }
        slot = std::move(value);
        return true;
    });
}

HRESULT ComponentRegistry::UnregisterCategoryEntry(REFCLSID category,
                                                   std::u16string_view instance) {
    return ModifyDocument([&](json& document) {
        json& categories = document["categories"];
        auto found = categories.find(GuidToString(category));
        if (found == categories.end() || !found->is_object()) {
            return false;
        }
        auto instances = found->find("instances");
        if (instances == found->end() || !instances->is_object()) {
            return false;
        }
        return instances->erase(ToUtf8(instance)) > 0;
    });
}

HRESULT ComponentRegistry::RegisterCategory(REFCLSID category, std::u16string_view name,
                                            DWORD merit) {
    return ModifyDocument([&](json& document) {
        json& record = document["categories"][GuidToString(category)];
        if (!record.is_object()) {
            record = json::object();
        }
        const std::string narrowName = ToUtf8(name);
        if (record.contains("name") && record["name"] == narrowName && record.contains("merit") &&
            record["merit"] == merit) {
            return false;
        }
        record["name"] = narrowName;
        record["merit"] = merit;
        return true;
    });
}

HRESULT ComponentRegistry::UnregisterCategory(REFCLSID category) {
    return ModifyDocument(
        [&](json& document) { return document["categories"].erase(GuidToString(category)) > 0; });
}

HRESULT ComponentRegistry::EnumerateCategories(std::vector<CLSID>* out) {
    if (!out) {
        return E_POINTER;
    }
    out->clear();
    return ReadDocument([&](const json& document) -> HRESULT {
        for (const auto& item : document["categories"].items()) {
            GUID guid;
            if (item.value().is_object() && item.value().contains("name") &&
                GuidFromString(item.key(), &guid)) {
                out->push_back(guid);
            }
        }
        return out->empty() ? S_FALSE : S_OK;
    });
}

HRESULT ComponentRegistry::EnumerateCategory(REFCLSID category, std::vector<CategoryEntry>* out) {
    if (!out) {
        return E_POINTER;
    }
    out->clear();
    HRESULT hr = ReadDocument([&](const json& document) -> HRESULT {
        const json& categories = document["categories"];
        auto found = categories.find(GuidToString(category));
        if (found == categories.end() || !found->is_object()) {
            return S_OK;
        }
        auto instances = found->find("instances");
        if (instances == found->end() || !instances->is_object()) {
            return S_OK;
        }
        for (const auto& item : instances->items()) {
            if (item.value().is_object()) {
                out->push_back(EntryFromJson(category, item.key(), item.value()));
            }
        }
        return S_OK;
    });
    if (FAILED(hr)) {
        return hr;
    }
    try {
        std::vector<CategoryProvider> providers;
        {
            ProcessEntries& process = Process();
            std::lock_guard<std::mutex> lock(process.mutex);
            for (const CategoryEntry& entry : process.builtin) {
                if (entry.category == category) {
                    out->push_back(entry);
                }
            }
            for (const ProviderRecord& record : process.providers) {
                if (record.category == category) {
                    providers.push_back(record.provider);
                }
            }
        }
        // Providers may take time (they look at devices); they run without the lock.
        for (const CategoryProvider& provider : providers) {
            std::vector<CategoryEntry> provided;
            provider(&provided);
            for (CategoryEntry& entry : provided) {
                entry.category = category;
                out->push_back(std::move(entry));
            }
        }
        std::stable_sort(
            out->begin(), out->end(),
            [](const CategoryEntry& a, const CategoryEntry& b) { return a.merit > b.merit; });
    } catch (const std::bad_alloc&) {
        out->clear();
        return E_OUTOFMEMORY;
    } catch (...) {
        out->clear();
        return E_FAIL;
    }
    return out->empty() ? S_FALSE : S_OK;
}

HRESULT ComponentRegistry::RegisterBuiltinEntry(const CategoryEntry& entry) {
    if (entry.instance.empty()) {
        return E_INVALIDARG;
    }
    try {
        ProcessEntries& process = Process();
        std::lock_guard<std::mutex> lock(process.mutex);
        for (CategoryEntry& existing : process.builtin) {
            if (existing.category == entry.category && existing.instance == entry.instance) {
                existing = entry;
                return S_OK;
            }
        }
        process.builtin.push_back(entry);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ComponentRegistry::UnregisterBuiltinEntry(REFCLSID category, std::u16string_view instance) {
    ProcessEntries& process = Process();
    std::lock_guard<std::mutex> lock(process.mutex);
    auto removed = std::remove_if(
        process.builtin.begin(), process.builtin.end(), [&](const CategoryEntry& entry) {
            return entry.category == category && entry.instance == instance;
        });
    const bool found = removed != process.builtin.end();
    process.builtin.erase(removed, process.builtin.end());
    return found ? S_OK : S_FALSE;
}

DWORD ComponentRegistry::AddCategoryProvider(REFCLSID category, CategoryProvider provider) {
    try {
        ProcessEntries& process = Process();
        std::lock_guard<std::mutex> lock(process.mutex);
        const DWORD cookie = process.nextCookie++;
        process.providers.push_back({cookie, category, std::move(provider)});
        return cookie;
    } catch (...) {
        return 0;
    }
}

void ComponentRegistry::RemoveCategoryProvider(DWORD cookie) {
    ProcessEntries& process = Process();
    std::lock_guard<std::mutex> lock(process.mutex);
    std::erase_if(process.providers,
                  [cookie](const ProviderRecord& record) { return record.cookie == cookie; });
}

std::string ComponentRegistry::LastError() {
    std::lock_guard<std::mutex> lock(ErrorMutex());
    return LastErrorText();
}

HRESULT ComModuleRegisterServer(const CFactoryTemplate* templates, int count, bool registering,
                                const void* moduleAddress) {
    if (!templates && count > 0) {
        return E_POINTER;
    }
    HRESULT result = S_OK;
    for (int i = 0; i < count; ++i) {
        const CFactoryTemplate& entry = templates[i];
        if (!entry.m_ClsID) {
            continue;
        }
        HRESULT hr;
        if (registering) {
            hr = ComponentRegistry::RegisterModuleClass(
                *entry.m_ClsID, entry.m_Name ? entry.m_Name : u"", moduleAddress);
            if (SUCCEEDED(hr) && entry.m_pFilter) {
                hr = ComponentRegistry::RegisterFilter(CLSID_LegacyAmFilterCategory,
                                                       *entry.m_pFilter);
            }
        } else {
            hr = ComponentRegistry::UnregisterClass(*entry.m_ClsID);
            if (entry.m_pFilter) {
                const HRESULT filterResult = ComponentRegistry::UnregisterFilter(
                    CLSID_LegacyAmFilterCategory, entry.m_pFilter->clsid);
                if (SUCCEEDED(hr)) {
                    hr = filterResult;
                }
            }
        }
        if (FAILED(hr) && SUCCEEDED(result)) {
            result = hr;
        }
    }
    return result;
}

std::string ComModulePathFromAddress(const void* address) {
    Dl_info info{};
    if (!address || ::dladdr(address, &info) == 0) {
        return {};
    }
    char resolved[PATH_MAX];
    if (!info.dli_fname || !*info.dli_fname) {
        // The main program has no name of its own in the loader's list.
        const ssize_t length = ::readlink("/proc/self/exe", resolved, sizeof(resolved) - 1);
        if (length <= 0) {
            return {};
        }
        resolved[length] = 0;
        return resolved;
    }
    if (::realpath(info.dli_fname, resolved)) {
        return resolved;
    }
    return info.dli_fname;
}
