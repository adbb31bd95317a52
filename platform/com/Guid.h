#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "platform/com/ComTypes.h"

// A 128-bit globally unique identifier in the published memory layout.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
// An arbitrary total order, so that identifiers can be keys of ordered containers.
bool operator<(const GUID& a, const GUID& b);

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr CLSID CLSID_NULL = GUID_NULL;
inline constexpr IID IID_NULL = GUID_NULL;

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hexadecimal digits in either case; the braces
// are required). Returns false and leaves `out` untouched on anything else.
bool GuidFromString(std::string_view text, GUID* out);
bool GuidFromString(std::u16string_view text, GUID* out);
// Formats as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case digits.
std::string GuidToString(const GUID& guid);
std::u16string GuidToU16String(const GUID& guid);

// The component library's forms: StringFromGUID2 writes 39 units including the terminator and
// returns that count, or 0 when `capacity` is too small; CLSIDFromString answers
// CO_E_CLASSSTRING for a malformed text.
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
int StringFromGUID2(REFGUID guid, LPOLESTR out, int capacity);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out);
HRESULT IIDFromString(LPCOLESTR text, IID* out);

template <>
struct std::hash<GUID> {
    size_t operator()(const GUID& guid) const noexcept {
        uint64_t words[2];
        std::memcpy(words, &guid, sizeof(words));
        return std::hash<uint64_t>()(words[0] * 0x9E3779B97F4A7C15ull ^ words[1]);
    }
};
