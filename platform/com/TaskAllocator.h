#pragma once

#include <cstddef>
#include <string_view>

#include "platform/com/ComTypes.h"

// The task allocator: memory handed from one component to another (a media type's format block,
// a file name returned by an interface, an array of page identifiers) is allocated here and
// freed by the receiver with CoTaskMemFree. Every module and the program share the C heap, so a
// block may be freed by any of them.
void* CoTaskMemAlloc(size_t bytes);
void* CoTaskMemRealloc(void* block, size_t bytes);
void CoTaskMemFree(void* block);

// A zero-terminated copy of `text` in task memory (null when out of memory).
char16_t* CoTaskMemStrDup(std::u16string_view text);

// Copies `text` into task memory and stores the copy in `*out`: E_POINTER without `out`,
// E_OUTOFMEMORY when the copy cannot be made.
HRESULT AMGetWideString(LPCWSTR text, LPWSTR* out);

// Strings of the automation types (BSTR is a zero-terminated UTF-16 string in task memory).
BSTR SysAllocString(const char16_t* text);
BSTR SysAllocStringLen(const char16_t* text, uint32_t length);
void SysFreeString(BSTR text);
uint32_t SysStringLen(BSTR text);
