#pragma once

#include "platform/com/CUnknown.h"

// Hands out a new object as `iid`: the object's first reference goes with the interface, and
// the object goes when it is not wanted (the interface is not answered).
template <typename Object>
HRESULT BdaHandOut(Object* object, REFIID iid, void** result) {
    if (!object) {
        return E_OUTOFMEMORY;
    }
    object->NonDelegatingAddRef();
    const HRESULT hr = object->NonDelegatingQueryInterface(iid, result);
    object->NonDelegatingRelease();
    return hr;
}
