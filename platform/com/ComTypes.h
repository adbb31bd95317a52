#pragma once

#include <cstddef>
#include <cstdint>

// The scalar types and result codes of the component model, with the widths the interfaces were
// published with: LONG and ULONG are 32 bits here too (C's long is 64 bits on this platform),
// and WCHAR is a 16-bit UTF-16 unit.

using HRESULT = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using WCHAR = char16_t;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using OLECHAR = char16_t;
using LPOLESTR = char16_t*;
using LPCOLESTR = const char16_t*;
// Text strings handed across interfaces: zero-terminated UTF-16, allocated with SysAllocString
// (the task allocator) and freed with SysFreeString. Unlike the original they carry no length
// prefix.
using BSTR = char16_t*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Interface methods use the platform's default calling convention.
#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT MakeHResult(uint32_t value) {
    return static_cast<HRESULT>(value);
}

// A Windows error number as a result code (facility 7).
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t error) {
    return error == 0 ? 0 : static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT NOERROR = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_PENDING = MakeHResult(0x8000000A);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeHResult(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = MakeHResult(0x80040152);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHResult(0x800401E3);
inline constexpr HRESULT MK_E_NOOBJECT = MakeHResult(0x800401E5);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106);
