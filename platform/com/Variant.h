#pragma once

#include "platform/com/ComTypes.h"

// A tagged value as the property bags of enumerated components hand them out. Only the kinds
// the registry stores are supported: empty, 32-bit integers, 64-bit integers and strings (a BSTR
// owned by the value).
using VARTYPE = uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        ULONG ulVal;
        LONGLONG llVal;
        ULONGLONG ullVal;
        BSTR bstrVal;
    };
};

// Makes the value empty without looking at what it held.
void VariantInit(VARIANT* value);
// Frees what the value owns (its string) and makes it empty.
HRESULT VariantClear(VARIANT* value);
// Copies `source` into `destination` (cleared first); strings are duplicated.
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
