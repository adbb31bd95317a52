#include "platform/com/TaskAllocator.h"

#include <cstdlib>
#include <cstring>
#include <string>

void* CoTaskMemAlloc(size_t bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void* CoTaskMemRealloc(void* block, size_t bytes) {
    return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void CoTaskMemFree(void* block) {
    std::free(block);
}

char16_t* CoTaskMemStrDup(std::u16string_view text) {
    auto* copy = static_cast<char16_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
    if (copy) {
        if (!text.empty()) {
            std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
        }
        copy[text.size()] = 0;
    }
    return copy;
}

HRESULT AMGetWideString(LPCWSTR text, LPWSTR* out) {
    if (!out) {
        return E_POINTER;
    }
    *out = CoTaskMemStrDup(text ? std::u16string_view(text) : std::u16string_view());
    return *out ? S_OK : E_OUTOFMEMORY;
}

BSTR SysAllocString(const char16_t* text) {
    if (!text) {
        return nullptr;
    }
    return CoTaskMemStrDup(std::u16string_view(text));
}

BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
    auto* copy = static_cast<char16_t*>(CoTaskMemAlloc((size_t{length} + 1) * sizeof(char16_t)));
    if (!copy) {
        return nullptr;
    }
    if (text) {
        std::memcpy(copy, text, size_t{length} * sizeof(char16_t));
    } else {
        std::memset(copy, 0, size_t{length} * sizeof(char16_t));
    }
    copy[length] = 0;
    return copy;
}

void SysFreeString(BSTR text) {
    CoTaskMemFree(text);
}

uint32_t SysStringLen(BSTR text) {
    return text ? static_cast<uint32_t>(std::char_traits<char16_t>::length(text)) : 0;
}
