#include "platform/com/Guid.h"

namespace {

int HexValue(uint32_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<int>(c - 'A' + 10);
    }
    return -1;
}

// Reads `digits` hexadecimal digits starting at `pos`.
template <typename Text>
bool ReadHex(const Text& text, size_t pos, int digits, uint64_t* value) {
    uint64_t result = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = HexValue(static_cast<uint32_t>(text[pos + static_cast<size_t>(i)]));
        if (v < 0) {
            return false;
        }
        result = (result << 4) | static_cast<uint64_t>(v);
    }
    *value = result;
    return true;
}

template <typename Text>
bool Parse(const Text& text, GUID* out) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters.
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return false;
    }
    GUID guid{};
    uint64_t value = 0;
    if (!ReadHex(text, 1, 8, &value)) {
        return false;
    }
    guid.Data1 = static_cast<uint32_t>(value);
    if (!ReadHex(text, 10, 4, &value)) {
        return false;
    }
    guid.Data2 = static_cast<uint16_t>(value);
    if (!ReadHex(text, 15, 4, &value)) {
        return false;
    }
    guid.Data3 = static_cast<uint16_t>(value);
    static constexpr size_t kBytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePositions[i], 2, &value)) {
            return false;
        }
        guid.Data4[i] = static_cast<uint8_t>(value);
    }
    *out = guid;
    return true;
}

}  // namespace

bool operator<(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}

bool GuidFromString(std::string_view text, GUID* out) {
    return out && Parse(text, out);
}

bool GuidFromString(std::u16string_view text, GUID* out) {
    return out && Parse(text, out);
}

std::string GuidToString(const GUID& guid) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(38);
    auto hex = [&](uint64_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
            text.push_back(kDigits[(value >> shift) & 0xF]);
        }
    };
    text.push_back('{');
    hex(guid.Data1, 8);
    text.push_back('-');
    hex(guid.Data2, 4);
    text.push_back('-');
    hex(guid.Data3, 4);
    text.push_back('-');
    hex(guid.Data4[0], 2);
    hex(guid.Data4[1], 2);
    text.push_back('-');
    for (int i = 2; i < 8; ++i) {
        hex(guid.Data4[i], 2);
    }
    text.push_back('}');
    return text;
}

std::u16string GuidToU16String(const GUID& guid) {
    const std::string narrow = GuidToString(guid);
    return std::u16string(narrow.begin(), narrow.end());
}

int StringFromGUID2(REFGUID guid, LPOLESTR out, int capacity) {
    if (!out || capacity < 39) {
        return 0;
    }
    const std::u16string text = GuidToU16String(guid);
    std::char_traits<char16_t>::copy(out, text.c_str(), 39);
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out) {
    if (!text || !out) {
        return E_INVALIDARG;
    }
    return GuidFromString(std::u16string_view(text), out) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* out) {
    return CLSIDFromString(text, out);
}
