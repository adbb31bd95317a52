#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/Categories.h"
#include "platform/com/ComTypes.h"
#include "platform/com/Guid.h"

struct CFactoryTemplate;

// An address inside the program or shared library whose code calls this function: the function
// and its anchor have internal linkage, so every module has its own copy.
static inline const void* ComCallerModuleAddress() {
    static const char anchor = 0;
    return &anchor;
}

// The component registry: which module implements a class, and which filters and devices each
// category holds.
//
// It lives in a per-user text file (JSON): $ORVANTA_REGISTRY when that is set (the tests use a
// temporary file), otherwise $XDG_CONFIG_HOME/orvanta/registry.json (~/.config/orvanta/...).
// The file is read on every query, so registrations made by a module's copy of this code or by
// another process are seen at once. A change is a locked read-modify-write that replaces the
// file atomically (temporary file, then rename), so a crash never leaves half a file. A file
// that cannot be parsed reads as empty with an error text (LastError); the next change moves
// it aside to "<file>.corrupt" and starts a new one.
//
// Besides the file, the process can add entries that are not stored: built-in entries (the
// platform's own decoders and renderers) and category providers, functions that list the
// devices present at the moment of an enumeration (tuner devices).

// A media type a registered pin handles; a null GUID matches any.
struct RegPinType {
    CLSID majorType = GUID_NULL;
    CLSID subType = GUID_NULL;
};

struct RegPin {
    std::u16string name;
    bool output = false;
    bool rendered = false;
    bool zero = false;  // the filter may have no instance of the pin
    bool many = false;  // the filter may have several instances of the pin
    std::vector<RegPinType> mediaTypes;
};

// A filter as its module registers it (name, merit, pins).
struct RegFilter {
    CLSID clsid = GUID_NULL;
    std::u16string name;
    DWORD merit = MERIT_DO_NOT_USE;
    std::vector<RegPin> pins;
};

// A component class: the module that implements it.
struct ClassRegistration {
    CLSID clsid = GUID_NULL;
    std::u16string name;
    std::string modulePath;               // absolute path of the shared library
    std::string threadingModel = "Both";  // recorded; every class runs in-process
};

// One entry of a category as enumeration yields it.
struct CategoryEntry {
    CLSID category = GUID_NULL;
    // The entry's key within the category: the class identifier in braces for filters, the
    // device path for devices.
    std::u16string instance;
    CLSID clsid = GUID_NULL;
    std::u16string friendlyName;
    std::u16string devicePath;   // devices only
    std::u16string description;  // devices only
    DWORD merit = MERIT_DO_NOT_USE;
    std::vector<RegPin> pins;
    // Creates the object instead of the class identifier (built-in and provided entries may
    // set it; BindToObject uses it).
    std::function<HRESULT(REFIID iid, void** object)> create;
};

// Fills `entries` with the devices of a category present now.
using CategoryProvider = std::function<void(std::vector<CategoryEntry>* entries)>;

class ComponentRegistry {
public:
    // The registry file in use.
    static std::string Path();

    // Registers a class for a module given by its path. Registering again replaces the entry.
    static HRESULT RegisterClass(const ClassRegistration& registration);
    // Registers a class of the module that contains `moduleAddress` (by default the caller's
    // module: the shared library or program that made the call).
    static HRESULT RegisterModuleClass(REFCLSID clsid, std::u16string_view name,
                                       const void* moduleAddress = ComCallerModuleAddress());
    static HRESULT UnregisterClass(REFCLSID clsid);
    // The class's registration, or REGDB_E_CLASSNOTREG.
    static HRESULT FindClass(REFCLSID clsid, ClassRegistration* out);

    // Registers a filter in a category (the filter's own class identifier is the entry's key).
    static HRESULT RegisterFilter(REFCLSID category, const RegFilter& filter);
    static HRESULT UnregisterFilter(REFCLSID category, REFCLSID clsid);
    // Registers any entry of a category under its instance key (devices).
    static HRESULT RegisterCategoryEntry(const CategoryEntry& entry);
    static HRESULT UnregisterCategoryEntry(REFCLSID category, std::u16string_view instance);

    // Registers the category itself with its name and merit (in the category of categories).
    static HRESULT RegisterCategory(REFCLSID category, std::u16string_view name, DWORD merit);
    // Removes the category's own entry and every entry it holds.
    static HRESULT UnregisterCategory(REFCLSID category);
    // The registered categories' identifiers.
    static HRESULT EnumerateCategories(std::vector<CLSID>* out);

    // The entries of a category: stored ones, built-in ones and those the providers list now,
    // in descending merit (stored before built-in before provided at equal merit). S_FALSE
    // when the category is empty.
    static HRESULT EnumerateCategory(REFCLSID category, std::vector<CategoryEntry>* out);

    // Entries kept in this process only.
    static HRESULT RegisterBuiltinEntry(const CategoryEntry& entry);
    static HRESULT UnregisterBuiltinEntry(REFCLSID category, std::u16string_view instance);
    // Returns a cookie for RemoveCategoryProvider (never 0).
    static DWORD AddCategoryProvider(REFCLSID category, CategoryProvider provider);
    static void RemoveCategoryProvider(DWORD cookie);

    // What went wrong with the file last (empty when the last read was clean).
    static std::string LastError();
};

// What a module's DllRegisterServer / DllUnregisterServer do with its class-factory list:
// every template becomes a class of the module (found through `moduleAddress`), and the
// templates with a filter description are registered in the legacy filter category.
HRESULT ComModuleRegisterServer(const CFactoryTemplate* templates, int count, bool registering,
                                const void* moduleAddress = ComCallerModuleAddress());

// The absolute path of the shared library or program containing `address` (empty if unknown).
std::string ComModulePathFromAddress(const void* address);
