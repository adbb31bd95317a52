#include "platform/com/Variant.h"

#include "platform/com/TaskAllocator.h"

void VariantInit(VARIANT* value) {
    if (value) {
        value->vt = VT_EMPTY;
        value->ullVal = 0;
    }
}

HRESULT VariantClear(VARIANT* value) {
    if (!value) {
        return E_INVALIDARG;
    }
    if (value->vt == VT_BSTR) {
        SysFreeString(value->bstrVal);
    }
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
    if (!destination || !source) {
        return E_INVALIDARG;
    }
    if (destination == source) {
        return S_OK;
    }
    VariantClear(destination);
    if (source->vt == VT_BSTR) {
        BSTR copy = nullptr;
        if (source->bstrVal) {
            copy = SysAllocString(source->bstrVal);
            if (!copy) {
                return E_OUTOFMEMORY;
            }
        }
        destination->vt = VT_BSTR;
        destination->bstrVal = copy;
        return S_OK;
    }
    *destination = *source;
    return S_OK;
}
